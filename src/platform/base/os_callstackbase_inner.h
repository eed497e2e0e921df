#pragma once
// Inside the call-stack module: the task statistics record read from the OS, its reader,
// and the seams tests use.

#include <cstdint>

// Fields 26 to 30 of a task's "stat" line, in that order.
struct UKO_TASK_PROC_STAT {
    uint64_t uvStartCode;
    uint64_t uvEndCode;
    uint64_t uvStartStack;
    uint64_t uvCurStackPtr;
    uint64_t uvCurInstrPtr;
};
static_assert(sizeof(UKO_TASK_PROC_STAT) == 40, "five 64-bit values");

// Reads "/proc/<pid>/task/<tid>/stat" into the record: 0, or -1 when the file, its line,
// the process name's closing ')' or any of the 27 numbers behind the state is missing
// (the record is then untouched).
int32_t ukoProcTaskStatRead(int32_t iPid, int32_t iTid, UKO_TASK_PROC_STAT* pstStat);
// The same for one stat line already read.
int32_t ukoProcTaskStatParse(const char* pcLine, UKO_TASK_PROC_STAT* pstStat);

// Cuts one symbol text (at most 1029 characters) down to the function name: the
// identifier characters (letters, digits, '_', '$') right after its last '('. Without
// them, to the address: the characters between its last '[' and the first ']' after
// it (or the end of the text). A text with neither, or with an empty address, stays
// whole. The work buffer holds 1030 bytes.
void ukoCallStackSymbolTidy(char* pcText, char* pcWork);

// Test seams; each keeps the caller's text, which must stay valid while it is set.
// The folder in place of "/proc" for the statistics files (NULL puts "/proc" back; 22
// for a folder of more than 200 characters).
uint32_t ukoCallStackProcRootSet(const char* pcRoot);
// The path in place of the call-stack device (NULL puts the device back). Only the
// opening reads it; a descriptor already kept stays.
void ukoCallStackDevPathSet(const char* pcPath);
