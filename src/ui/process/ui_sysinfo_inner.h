#pragma once
// Seam of the process-list look-up of the log folder, for tests only.

// Replaces the program name the look-up searches for ("VanTrelo"); NULL puts it back.
// The text must live as long as it is in use.
void uiBundleProgramNameSet(const char* pcName);
