#pragma once
// Runs an outside program as a child process, without a shell: the arguments reach the
// program as they are, so a path holding quote marks, '$', backquotes or backslashes is
// never read as shell text.
//
// The child gets standard input on /dev/null, standard output on the caller's file (or
// a pipe the parent reads), standard error inherited or on /dev/null, no other
// descriptor of the front end, the default SIGPIPE action and no blocked signals. The
// parent waits for its end at most the given time and kills it after that.

#include <cstddef>
#include <cstdint>
#include <string>

// The wait for one outside program of the system information and the proxy look-up.
constexpr int UI_CHILD_TIMEOUT_MS = 30000;

// Results.
constexpr uint32_t UI_CHILD_OK = 0;        // started and ended in time; *piStatus set
constexpr uint32_t UI_CHILD_NOSTART = 1;   // not found, not executable, no process
constexpr uint32_t UI_CHILD_TIMEOUT = 2;   // killed after the time ran out
constexpr uint32_t UI_CHILD_OVERFLOW = 3;  // captured output above the bound; killed

// argv[0] is a path when it holds '/', else a name looked up on PATH (the system's
// default search list when PATH is unset; empty entries, the current folder, are
// skipped). *piStatus, when given, receives the wait status, or -1 when another part of
// the process reaped the child first. iOutFd is the child's standard output;
// bQuietStderr puts its standard error on /dev/null.
uint32_t uiChildRun(const char* const* ppcArgv, int iOutFd, bool bQuietStderr, int iTimeoutMs,
                    int* piStatus);

// The same with standard output read into *pstrOut, at most uiMaxBytes bytes.
uint32_t uiChildCapture(const char* const* ppcArgv, size_t uiMaxBytes, bool bQuietStderr,
                        int iTimeoutMs, std::string* pstrOut, int* piStatus);
