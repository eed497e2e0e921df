#pragma once
// Test seam of the single-instance guard.

// Called (when set) after a failed probe, before the listen, while the instance lock is
// held: a test holds an instance in that window to show what a concurrent start sees.
void singleApplicationBeforeListenHookSet(void (*hook)());

// Replaces the shared temporary folder ("/tmp") that holds the per-user instance folder
// "VanTrelo-<uid>" (nullptr: "/tmp" again). Tests only: the program never sets it.
void singleApplicationSharedTempFolderSet(const char* folder);
