#pragma once
// Processes by name over /proc, in place of "ps | grep" and "pkill". A process matches a
// name when the base name of its executable is exactly that name (also when the file
// was replaced or removed since it started, which /proc shows as "... (deleted)"), or,
// when its executable cannot be read, the base name of its first argument. Linux cuts
// the short process name to 15 characters, so that name is never used.

#include <sys/types.h>

struct LnxKillResult {
    bool bListed;           // /proc could be read
    unsigned uiKilled;      // processes sent SIGKILL
    unsigned uiStillAlive;  // of those, not yet gone when the wait ended
};

// Sends SIGKILL to every live process of the caller's real user that runs the named
// program, never the caller itself or one of its ancestors (so a client started by a
// shell never takes that shell down), and, when scope is not 0, only to processes below
// the process scope. Then waits up to waitMs for them to be gone (a zombie counts as
// gone: it holds no socket any more).
LnxKillResult LNX_KillByName(const char* pcName, pid_t scope, int waitMs);

// Whether the process runs the named program, as above.
bool LNX_ProcNameIs(pid_t pid, const char* pcName);
