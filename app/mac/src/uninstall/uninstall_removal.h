#pragma once
// The uninstaller's real work: the install folder it runs from and every per-user
// ".VanTrelo" folder the user may read, removed by one command run with root rights;
// after a removal that ended well, the client's running programs stopped. Plain C++ over
// the Linux layers, so that it can be exercised without a window.

#include <string>
#include <vector>

// Removes the install folder, which is the folder that holds the uninstaller's own
// program, and the folder "<users>/<entry>/.VanTrelo" of every entry of the users folder
// that the caller may read, then stops the client's programs of the caller's user.
//
// The install folder is taken only when it is a plain absolute path with no link on the
// way, is no home folder nor a folder of the system, holds the regular files "VanTrelo",
// "VanTreloUpdate" and "promote/VanTreloPromoteService", still holds the running program,
// and has no mount at or below it; anything else refuses the whole removal before
// anything is removed. A ".VanTrelo" that is a link goes as a link (its target is never
// opened); one that is a mount point or holds a mount stays, with a line on standard
// error; and the command itself never crosses into another file system.
//
// 0 when the removal ran and ended with status 0; -1 when it was refused, the command
// could not be run or was refused at the password prompt, or it ended otherwise (then
// nothing is stopped). Blocks until the removal has ended; writes why it failed to
// standard error and nothing else anywhere.
int UI_ModifyTulmFilePrivileges();

// The client's programs that a removal stops.
extern const char* const kUninstallClientPrograms[4];

// Seams, for tests only. The install folder in place of the folder of the running
// program, and the users folder (nullptr: the real ones); a runner in place of the root
// runner, with its result and reason; a killer given the programs to stop in place of
// the kill by name (nullptr: the real ones).
typedef int (*UNINSTALL_RUNNER_PF)(const char* pcCommand, std::string* pReason);
typedef void (*UNINSTALL_KILLER_PF)(const std::vector<std::string>& names);
void uninstallProgramFolderSet(const char* pcDir);
void uninstallUsersDirSet(const char* pcDir);
void uninstallRunnerSet(UNINSTALL_RUNNER_PF pfnRunner);
void uninstallKillerSet(UNINSTALL_KILLER_PF pfnKiller);
