#pragma once
// Control of the promote service and the rights of the service programs: the
// ownership-and-mode test of the engine program and its one-time fix-up, counting
// processes by name, stopping a promote service left running, and starting a fresh one
// as a child of the front end. Also the install, uninstall and administrator-rights
// operations that nothing calls at present.
//
// Commands that need administrator rights go through one runner: the process runs them
// itself when it is root, else through pkexec when the system has it; otherwise they
// fail. Every path inside such a command is one single-quoted shell word.

#include <cstdint>

// The service programs, below the install folder.
constexpr char UI_PROMOTE_SERVICE_NAME[] = "VanTreloPromoteService";
constexpr char UI_PROMOTE_SERVICE_DIR[] = "/promote/";
constexpr char UI_ENGINE_RELPATH[] = "serviceclient/VanTreloCS";
constexpr char UI_INSTALL_HELPER_RELPATH[] = "refitter";
constexpr char UI_PROMOTE_PLIST_RELPATH[] = "promote/VanTreloPromoteService.plist";
constexpr char UI_PROMOTE_INSTALL_SCRIPT_RELPATH[] = "promote/install_PromoteService.sh";
constexpr char UI_PROMOTE_UNINSTALL_SCRIPT_RELPATH[] = "promote/uninstall_PromoteService.sh";

// 1 when the engine program at path must have its rights fixed: its owner or group is
// not 0, it lacks the setuid bit, or its group or others may write it. 0 when they are
// in order, and also when the file is missing or cannot be examined (logged).
uint32_t NeedModifyTulmFile(const char* pcPath);

// Makes the engine program and the install helper setuid root when the engine program
// needs it: owner 0:0, mode 4755 on both, through the administrator runner. Root is asked
// only when both are regular files with one name each, no links, owned by root or this
// user and writable by nobody else, in folders (the install folder and the engine's)
// that only root and this user own and may write, below folders that only root and this
// user own and that others may write only when they are sticky; root checks again that
// both are regular files and no links before each step.
// 0 when the rights were in order or are fixed now (also when the install folder is
// unknown or the engine program missing: there is nothing to examine); 1 when the
// fix-up was refused by those rules, with nothing changed and nothing asked (logged);
// -1 when root was asked and the fix-up failed.
int32_t UI_ModifyTulmFilePrivileges();

// The number of lines of the process list ("ps -ef") that hold name, the grep commands
// themselves left out. 0 with the count; 1 for a null or empty name, a null count, a
// name too long for the command, or a command that cannot run or gives no line.
uint32_t UI_ProcNum_Get(const char* pcName, uint32_t* puiCount);
// The same count, for the installation wait.
uint32_t UI_ProcNum_Check(const char* pcName, uint32_t* puiCount);

// Kills every promote service of this user: a process whose program or first argument
// has the base name VanTreloPromoteService exactly, never this process or one of its
// ancestors. Returns once they are gone, or after about three seconds (logged).
void UI_PromoteService_Kill();

// Fixes the engine's rights when needed, stops a promote service left running and
// starts <install folder>/promote/VanTreloPromoteService as a child with standard input
// and output on /dev/null, standard error shared and no other descriptor of the front
// end. 0 once the start was attempted: the child runs the service, or the start failed
// in a way the connection attempts that follow will show (install folder unknown or
// too long, program not executable; each logged, no process left behind). A refused
// fix-up does not stop the start. 1 when the fix-up failed, the processes could not be
// counted, or no child could be created.
// Called from one thread at a time.
uint32_t UI_PromoteService_Start();

// Administrator rights for running tools. The reference only says that a way to run
// commands as root exists (this process is root, or pkexec is present); the system asks
// for a password, if at all, for each command run.
struct UI_AUTHORIZATION_S;
typedef UI_AUTHORIZATION_S* UI_AUTHORIZATION_REF;

// A reference, or null when commands cannot be run as root (logged).
UI_AUTHORIZATION_REF UI_Authorization_Create();
// Runs tool with the arguments (a null-terminated list; null: none) as root through the
// runner and waits for it. Its output goes to standard error: standard output belongs
// to native messaging. true when it ran and exited with status 0; false for a null tool
// or reference, or a failed run.
bool UI_Authorization_Exec(const char* pcTool, const char* const* ppcArgs,
                           UI_AUTHORIZATION_REF pstRef);
// Gives the reference back. Null does nothing.
void UI_Authorization_Free(UI_AUTHORIZATION_REF pstRef);

// Runs the install script with /bin/sh as root, given the program folder, when the
// service description exists. Nothing is returned or logged of the outcome.
void UI_PromoteService_AuthInstall();
// Runs the install script as root with the program folder when the service description
// exists, logging the outcome.
void UI_PromoteService_Install();
// Runs the uninstall script as root, logging the outcome.
void UI_PromoteService_Uninstall();
// When no process of that name runs: installs the service and polls (ten times, three
// seconds apart) until one does. 0 when one runs; 1 when the count fails or the wait
// runs out (logged).
uint32_t UI_PromoteService_InstallWait(const char* pcName);
