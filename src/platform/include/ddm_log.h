#pragma once
// Rotating log: every diagnostic line of a process goes into numbered text files of
// at most about 1 MB in the user's log folder, at most 20 files per process name. Each
// line is appended by opening, writing and closing its file, so it is on disk when the
// call returns and survives a crash. The log also prepares the process for core files.
//
// Until DDM_LogEnvInit (the last start-up step) the filter is all off, so lines are
// checked and dropped. The log never reports its own failures: a line it cannot write
// is lost quietly, and a folder it cannot make is noted in an init-failure file.

#include <cstddef>

#include <cstdint>

// Module count and level count of the log filter.
constexpr uint32_t DDM_LOG_MODULE_COUNT = 27;
constexpr uint32_t DDM_LOG_LEVEL_COUNT = 4;

// Levels.
constexpr uint32_t DDM_LOG_DEBUG = 0;
constexpr uint32_t DDM_LOG_INFO = 1;
constexpr uint32_t DDM_LOG_WARN = 2;
constexpr uint32_t DDM_LOG_ERROR = 3;

// A log file is full from this size on; the next line goes into the next number.
constexpr uint64_t DDM_LOG_FILE_FULL = 1023 * 1024;
// Files kept per process name (the current number and the 19 before it).
constexpr uint32_t DDM_LOG_FILES_KEPT = 20;
// Highest file number; the number after it is 0.
constexpr uint32_t DDM_LOG_NUMBER_MAX = 0x0FFFFFFF;

// Names of the modules and levels as the lines print them.
extern const char* const DDM_LogModuleNames[DDM_LOG_MODULE_COUNT];
extern const char* const DDM_LogLevelNames[DDM_LOG_LEVEL_COUNT];

// Start-up step: the log lock, the log folder ($HOME/.VanTrelo/log, made with its
// parent when missing), the core-file settings, the user name and the filter (every
// module: level 0 off, levels 1 to 3 on). 1 only when the lock cannot be created; a
// missing folder or user look-up does not fail it.
uint32_t DDM_LogEnvInit(uint32_t uiUnused);
// Names the process: its files become VanTrelo_<name>_<n>.log, numbered on from the
// highest number already in the folder. 0, or 1 for a NULL or empty name, a name with
// '/' or one longer than 232 characters (its file names would pass the file system's
// limit of 255 bytes).
uint32_t DDM_LogInit(const char* pcProcessName);
// Writes one line when the filter lets (module, level) through. 0, also when the line
// is dropped or cannot be written; 1 for a NULL format, module 27 or more, or level 4
// or more. A message longer than 1023 characters is cut to 1023, and a line longer than
// 1278 characters (prefix, user and message) is cut to 1278 before its newline.
uint32_t DDM_LogWrite(uint32_t uiModule, uint32_t uiLevel, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Every module: levels below the given one off, the others on. 0, or 1 for a level
// above 3 (nothing changes).
uint32_t DDM_LogLevelSet(uint32_t uiLevel);
// Copies a caller's filter: ppucRows[m][l] for m < modules and l < levels. 0; 1 for NULL
// rows or a NULL row (nothing changes), and 1 with a "filter is too large" line for more
// modules or levels than the log has.
uint32_t DDM_LogFilterSet(const uint8_t* const* ppucRows, uint32_t uiModules, uint32_t uiLevels);
// The filter byte of (module, level); 0 outside the filter.
uint8_t DDM_LogFilterGet(uint32_t uiModule, uint32_t uiLevel);
// Bounded formatted print into a caller's buffer: the number of characters written, or
// -1 with an empty buffer when the output does not fit.
int DDM_Sprintf(char* pcBuf, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Core files. The limit is raised as far as the process may (the hard limit only when
// the process is allowed to). 0, or 1 when the limit cannot be read or set.
uint32_t DDM_CoreLimitSet(uint64_t uvLimit);
uint32_t DDM_CoreDumpEnable();
uint32_t DDM_CoreDumpDisable();
// Builds the core-file pattern for an existing folder and keeps it; the machine-wide
// kernel setting is never written. 0, or 1 for NULL, an empty text or a missing folder.
uint32_t DDM_CoreFileSet(const char* pcDir);

uint32_t DDM_ProcessIdGet();
// The low 32 bits of the calling thread's handle.
uint32_t DDM_ThreadIdGet();

// A lookup table of 20-byte records, ended by the first record whose key is negative.
struct DDM_TABLE_RECORD {
    uint32_t uiWord0;
    int32_t iKey;
    uint32_t auiValue[3];
};
static_assert(sizeof(DDM_TABLE_RECORD) == 20, "20-byte records");
// The address of the third word of the first record whose key equals iKey; NULL for a
// NULL table or no match.
uint32_t* DDM_TableLookup(int32_t iKey, DDM_TABLE_RECORD* pstTable);
