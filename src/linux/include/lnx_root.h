#pragma once
// A shell command run with root rights: directly when the process already runs as root,
// else through pkexec when the system has it, else not at all. A path inside such a
// command must be one single-quoted shell word (LNX_ShellQuote), so that no character of
// it can change what root runs.

#include <string>

// The text as one single-quoted shell word: the shell reads it back unchanged, whatever
// it holds (a quote becomes '\'').
std::string LNX_ShellQuote(const char* pcText);

// Runs the command through "/bin/sh -c" with root rights and waits for it; its output
// goes to standard error (standard output may belong to native messaging). 0 when it
// exited with status 0; -1 otherwise, and when it could not be run at all, with the
// reason in *pReason (when given): "not root and no pkexec found", "cannot run <program>,
// errno is <n>", "no child process, errno is <n>" or "<program> ended with status 0x<s>".
int LNX_RootCommandRun(const char* pcCommand, std::string* pReason);

// Whether LNX_RootCommandRun has a way to run a command at all.
bool LNX_RootRunnerAvailable();

// Seams, for tests only. A program started as `program <command>` in place of the runner,
// whose exit status counts as the command's (nullptr: the real runner); where to look for
// pkexec (nullptr: the system's places); whether to treat the process as not root.
void lnxRootRunnerSet(const char* pcProgram);
void lnxPkexecPathSet(const char* pcPath);
void lnxRootRunnerAsUserSet(bool bAsUser);
