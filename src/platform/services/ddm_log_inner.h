#pragma once
// Internal operations of the rotating log, and the seams its tests use.

#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Buffer sizes of the log.
constexpr size_t DDM_MSG_SIZE = 1024;
constexpr size_t DDM_PREFIX_SIZE = 128;
constexpr size_t DDM_STAMP_SIZE = 32;
constexpr size_t DDM_LINE_SIZE = 1280;
constexpr size_t DDM_PATH_SIZE = 1024;
constexpr size_t DDM_NAME_SIZE = 255;  // process and user names, with the NUL

// Appends a formatted text (cut to 1023 characters) to the init-failure file
// "<log folder><pid>_LogInfo.log": 0, or 1 for a NULL format or a file that cannot be
// written.
uint32_t DDM_LogInitFail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// 1 when the path names a folder. A folder the process may not look into is noted in
// the init-failure file and answers 0.
uint32_t DDM_DirExists(const char* pcPath);
// Makes a missing folder, and its parent when that is missing too, with mode 0700; an
// existing folder keeps its mode. 0 (also for an empty path), or 1 for NULL or a folder
// that cannot be made (noted in the init-failure file).
uint32_t DDM_DirCreate(const char* pcPath);
// The log folder of the user into a buffer (without a trailing '/'), made when
// missing: $HOME when it is absolute, else the home folder of the password entry.
// 0, or 1 with an empty buffer when there is no home folder or no folder can be made.
uint32_t DDM_LogDirGet(char* pcBuf, size_t size);
// Sets the log folder text, adding the trailing '/'. An empty text means the working
// folder (0); NULL or a text that does not fit: 1.
uint32_t DDM_LogDirSet(const char* pcDir);
// Scans the log folder for this process name's files, VanTrelo_<name>_<n>.log with n a
// plain decimal number up to DDM_LOG_NUMBER_MAX; other entries are ignored. Gives the
// lowest and highest number, read across a wrap of the numbers. 0, or 1 for NULL
// arguments or a folder that cannot be read.
uint32_t DDM_LogNumberScan(const char* pcProcessName, uint32_t* puiMin, uint32_t* puiMax);
// unlink: 0, or 1.
uint32_t DDM_FileRemove(const char* pcPath);
// Local time "YYYY-MM-DD hh:mm:ss.uuuuuu": 0, or 1.
uint32_t DDM_TimeStampGet(char* pcBuf, size_t size);
// "[ %-6s %-6s %s ]" of module name, level name and time stamp into DDM_PREFIX_SIZE
// bytes: 0, or 1.
uint32_t DDM_LogPrefixFormat(uint32_t uiModule, uint32_t uiLevel, char* pcBuf);
// The message into DDM_MSG_SIZE bytes, cut to 1023 characters: 0, or 1 when the format
// itself fails (the message is then empty).
uint32_t DDM_LogMsgFormat(const char* format, va_list args, char* pcBuf);
// A file's size in bytes / 1024 + 1; -1 when there is no entry of that name. An entry
// that is not a plain file (a link, a folder, a pipe) answers as a full file, so the
// log moves past it instead of writing through it.
int64_t DDM_FileSizeKbGet(const char* pcPath);
// Appends "<prefix>[<user>] <message>\n" to the file, the text before the newline cut
// to 1278 characters. 0, or 1 when the file cannot be opened as a plain file or
// written.
uint32_t DDM_LogLineAppend(const char* pcPath, const char* pcPrefix, const char* pcMessage);

// ---- Seams for tests ------------------------------------------------------------------
// The user look-up: fills the login name and the home folder of a user id (either may be
// left empty) and answers 0, or answers non-zero when the id has no entry. NULL puts the
// password database back.
typedef uint32_t (*DDM_USER_LOOKUP_PF)(uid_t uid, char* pcName, size_t nameSize, char* pcHome,
                                       size_t homeSize);
void ddmUserLookupSet(DDM_USER_LOOKUP_PF pfnLookup);
// The current file number.
uint32_t ddmLogNumberGet();
void ddmLogNumberSet(uint32_t uiNumber);
// Copies the kept core-file pattern (empty until DDM_CoreFileSet succeeded).
void ddmCorePatternGet(char* pcBuf, size_t size);
// Copies the log folder text (with its trailing '/', or empty).
void ddmLogDirCopy(char* pcBuf, size_t size);
