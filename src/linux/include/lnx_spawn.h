#pragma once
// Starting a child program without a shell. Everything the child needs is resolved before
// fork: between fork and exec it only moves descriptors, closes the rest and execs,
// because in a threaded process a lock that another thread held at fork time (a log's,
// the allocator's) is never released in the child.

#include <sys/types.h>

#include <string>
#include <vector>

enum class LnxSpawnResult { kStarted, kSetupFailed, kForkFailed, kExecFailed };

// What a child needs.
struct LnxSpawnPlan {
    const char* pcPath;      // the program's path (no search)
    char* const* ppcArgv;    // its argument vector, ending with a null pointer
    bool bStdoutToStderr;    // standard output on standard error, else on /dev/null
    int iStdinFd = -1;       // a descriptor of the caller as standard input; -1: /dev/null
    int iStdoutFd = -1;      // a descriptor of the caller as standard output; -1: as above
};

// Starts the plan's program with standard input on /dev/null (or the plan's descriptor)
// and no other descriptor of the caller; the caller keeps its own copies of the plan's
// descriptors and closes them itself. kStarted with the child's pid once it has exec'd; kExecFailed with exec's
// errno when it could not (the child is reaped); kForkFailed or kSetupFailed with errno
// when no child was made.
LnxSpawnResult LNX_Spawn(const LnxSpawnPlan& plan, pid_t* pPid, int* pErr);

// The words as an argument vector for exec; the strings must outlive it.
std::vector<char*> LNX_ArgvOf(std::vector<std::string>& words);

// Replaces fork for every child started here (nullptr: fork). Tests only.
typedef pid_t (*LNX_FORK_PF)();
void lnxForkSet(LNX_FORK_PF pfnFork);
