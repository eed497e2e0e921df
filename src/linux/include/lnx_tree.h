#pragma once
// Removing a folder and everything under it by descriptor, in place of "rm -rf". A
// program that may run as root removes trees in places others can write (/tmp, beside an
// install folder): a symbolic link planted anywhere in the tree is removed itself, never
// followed, and the walk never enters a mount (another file system, or a bind mount of
// the same one), so nothing outside the tree can be reached through it.

// Removes the entry name of the folder dirFd (AT_FDCWD: the current folder): a file,
// link or other non-folder is unlinked; a folder is emptied depth first and then removed.
// 0 when the entry is gone, also when there was none; otherwise the errno of the first
// step that failed (EXDEV for a mount below it, or the entry itself a mount), with the rest
// of the tree left as it is.
int LNX_RemoveAt(int dirFd, const char* pcName);

// The same for a path: its last component is removed inside its parent folder, which is
// opened as given (links in the leading components are the caller's to trust).
int LNX_RemoveTree(const char* pcPath);
