#pragma once
// The promote-service module's internal operations and its seams, for its tests only.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

// The text as one single-quoted shell word: the shell reads it back unchanged, whatever
// it holds (a quote becomes '\'').
std::string UI_ShellQuote(const char* pcText);

// Runs a shell command as root: directly when the process is root, else through pkexec
// when present. Waits for it. 0 when it exited with status 0; -1 otherwise, and when it
// could not be run at all (logged).
int32_t UI_RootCommand_Run(const char* pcCommand);

// Replaces the runner by a program started as `program <command>`, whose exit status
// counts as the command's (NULL: the real runner).
void uiRootRunnerSet(const char* pcProgram);
// Where the runner looks for pkexec (NULL: the system's places).
void uiPkexecPathSet(const char* pcPath);
// Makes the runner treat the process as not root.
void uiRootRunnerAsUserSet(bool bAsUser);

// Replaces stat for the engine program's rights check (NULL: stat).
typedef int (*UI_STAT_PF)(const char* pcPath, struct stat* pstStat);
void uiTulmStatSet(UI_STAT_PF pfnStat);

// Limits the kill by name to processes below the given one (0: every process of the
// user), so that a test never reaches a process it did not start.
void uiPromoteKillScopeSet(pid_t scopeRoot);

// Replaces fork for the service start (NULL: fork).
typedef pid_t (*UI_FORK_PF)();
void uiPromoteForkSet(UI_FORK_PF pfnFork);

// The pause between the installation wait's counts, in milliseconds (0: three seconds).
void uiInstallWaitPollSet(uint32_t uiMs);
