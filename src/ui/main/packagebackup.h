#pragma once

// The earlier client package kept aside while a new one downloads, and put back when the
// download fails. The package and its backup lie in the shared /tmp, where another user
// may have put anything under either name: only a regular file of this user's own is
// moved or removed, and only by rename(2) and unlink(2), which act on the name itself.
// (Qt's rename falls back to a copy through whatever the new name points at.) Plain
// system calls only, so that a forked child may call them.

// Moves the package to the backup name when the package is a regular file of this user's
// and the backup name is free or holds a regular file of this user's (which it replaces).
// True when moved.
bool PackageBackup_Keep(const char* pcPackage, const char* pcBackup);

// Puts the backup back under the package's name when the backup is a regular file of
// this user's and the package's name is free or holds a regular file of this user's.
// True when put back.
bool PackageBackup_Restore(const char* pcBackup, const char* pcPackage);

// Removes the backup when it is a regular file of this user's.
void PackageBackup_Drop(const char* pcBackup);
