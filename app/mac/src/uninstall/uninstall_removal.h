#pragma once
// The uninstaller's real work: both bundles of the client and every per-user ".VanTrelo"
// folder the user may read, removed by one command run with root rights; after a removal
// that ended well, the client's running programs stopped. Plain C++ over the Linux
// layers, so that it can be exercised without a window.

#include <string>
#include <vector>

// Removes the bundles "<applications>/vantrelo.app" and
// "<applications>/VanTreloUninstaller.app" and the folder "<users>/<entry>/.VanTrelo" of
// every entry of the users folder that the caller can open for reading, then stops the
// client's programs of the caller's user. 0 when the removal ran and ended with status 0;
// -1 when a path was refused, the command could not be run or was refused at the
// password prompt, or it ended otherwise (then nothing is stopped). Blocks until the
// removal has ended; writes why it failed to standard error and nothing else anywhere.
int UI_ModifyTulmFilePrivileges();

// The client's programs that a removal stops.
extern const char* const kUninstallClientPrograms[4];

// Seams, for tests only. The folders (nullptr: the installed ones); a runner in place of
// the root runner, with its result and reason; a killer given the programs to stop in
// place of the kill by name (nullptr: the real ones).
typedef int (*UNINSTALL_RUNNER_PF)(const char* pcCommand, std::string* pReason);
typedef void (*UNINSTALL_KILLER_PF)(const std::vector<std::string>& names);
void uninstallApplicationsDirSet(const char* pcDir);
void uninstallUsersDirSet(const char* pcDir);
void uninstallRunnerSet(UNINSTALL_RUNNER_PF pfnRunner);
void uninstallKillerSet(UNINSTALL_KILLER_PF pfnKiller);
