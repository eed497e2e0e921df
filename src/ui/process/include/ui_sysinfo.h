#pragma once
// The system-information files of a fault report, the front end's log folder and two
// text-encoding wrappers.
//
// The report's files, written into one folder: "operate_system_info.txt" ("uname -a"),
// "route_info.txt" ("netstat -nr"), "netcard_info.txt" ("/sbin/ifconfig -a") and
// "proxy_info.txt" (the proxy settings). The programs run as child processes without a
// shell, their standard output on the file, so nothing in the folder's name is ever
// read as a command.

#include <cstdint>

// Writes the four files into the folder, which must exist: 0, or 1 for a NULL folder, a
// folder of 1025 characters or more, or one whose real path cannot be resolved (then
// nothing is written). Each command file ends with exactly one copy of its program's
// output; the results of the single steps are not looked at.
uint32_t UI_SystemInfo_Set(const char* pcFolder);

// First pass: each command file emptied, then its program's output appended; then the
// proxy file. Second pass: each command file's content replaced by a fresh output. Both
// 0, or 1 for a NULL folder.
uint32_t UI_SystemInfo_Append(const char* pcFolder);
uint32_t UI_SystemInfo_Write(const char* pcFolder);

// One command file each. _Append adds the program's output to the file (emptied first
// when iKeep is 0); _Get replaces the file's content by it (the int is not used). 0
// when the program was started and ended, 1 for a NULL path, a path of 1025 characters
// or more (logged by _Get), a file that cannot be opened or a program that cannot be
// started.
uint32_t UI_OsInfo_Append(const char* pcPath, int iKeep);
uint32_t UI_RouteList_Append(const char* pcPath, int iKeep);
uint32_t UI_InterfaceList_Append(const char* pcPath, int iKeep);
uint32_t UI_OsInfo_Get(const char* pcPath, int iUnused);
uint32_t UI_RouteList_Get(const char* pcPath, int iUnused);
uint32_t UI_InterfaceList_Get(const char* pcPath, int iUnused);

// Creates the file or empties it (mode 0666 before the umask): 0 or 1.
uint32_t UI_File_Truncate(const char* pcPath);

// Runs the program named by the argument vector (argv[0] a path, or a name looked up on
// PATH; NULL-terminated) with its standard output on the open descriptor, and waits for
// its end: 0 when it could be started, whatever its exit status; 1 when it could not,
// or ran past the time limit and was stopped. The two are the same runner.
uint32_t UI_Command_Run(const char* const* ppcArgv, int iOutFd);
uint32_t UI_Command_Exec(const char* const* ppcArgv, int iOutFd);

// Packs the files into the zip archive at the target path (created, or added to when
// it exists) with the program "zip" on PATH, "-j" so that each file goes in under its
// bare name. zip runs as a child without a shell, its standard output on /dev/null, so
// the target and the file names are never read as command text; a name that begins
// with "-" is passed as "./" + name so that zip cannot take it for an option. Blocks
// until zip ends. 0 when zip ran and ended, *piStatus (when given) its wait status; 1
// for a NULL or empty target, a NULL list, and when zip could not be started.
uint32_t UI_ErrorReport_Zip(const char* pcTarget, const char* const* ppcFiles, int* piStatus);

// The front end's log folder, the install folder followed by "/log", into the buffer
// (at most size bytes with the terminator): 0; 1 with the empty text when the install
// folder is unknown or the folder does not fit; 1 for a NULL buffer or a size below 1.
uint32_t UI_LogDir_Get(char* pcBuffer, int iSize);

// The same folder found from the running processes: the folder of the first of this
// user's processes whose program is named "VanTrelo", followed by "/log". 0, or 1 with
// the empty text (size bytes cleared) when there is none or it does not fit.
uint32_t UI_BundleLogDir_Get(char* pcBuffer, uint32_t uiSize);

// UKO_Utf8ToGbk and UKO_GbkToUtf8 with their arguments and results: the output comes
// from UKO_Malloc (*ppcOut NULL on entry) and the caller frees it.
uint32_t UI_TextEncode_Convert(const char* pcUtf8, uint32_t uiLength, char** ppcGbk,
                               uint32_t* puiGbkLength);
uint32_t UI_TextDecode_Convert(const char* pcGbk, uint32_t uiLength, char** ppcUtf8,
                               uint32_t* puiUtf8Length);
