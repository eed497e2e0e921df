#pragma once
// Reporting wrappers of the bounded library, their failure hook, and the small entry
// points that live beside them: the error record, the show printer and the tick
// direction predicate.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "sec_lib.h"

// The bounded-function error hook: (the reporting wrapper's entry point, the failure
// code, the report text, the text's length). Its result is not read.
typedef void (*UKO_SEC_FUNC_ERR_HOOK_PF)(void* pfnEntry, uint32_t uiCode, const char* pcReport,
                                         int32_t iLen);

// Stores the hook (NULL removes it); returns 0. Register it once, before other threads
// use the wrappers.
uint32_t UKO_SecFuncErrHookSet(UKO_SEC_FUNC_ERR_HOOK_PF pfnHook);

// Formats one report and hands it to the hook; formats nothing when no hook is set.
void ukoSecFuncErrReport(void* pfnEntry, uint32_t uiCode, const char* format, ...);

secure_errno UKO_memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
secure_errno UKO_memmove_s(void* dest, size_t destMax, const void* src, size_t count);
secure_errno UKO_memset_s(void* dest, size_t destMax, int c, size_t count);
secure_errno UKO_strcpy_s(char* strDest, size_t destMax, const char* strSrc);
secure_errno UKO_strcat_s(char* strDest, size_t destMax, const char* strSrc);
secure_errno UKO_strncpy_s(char* strDest, size_t destMax, const char* strSrc, size_t count);
char* UKO_strtok_s(char* strToken, const char* strDelimit, char** context);
int UKO_snprintf_s(char* strDest, size_t destMax, size_t count, const char* format, ...);
int UKO_vsnprintf_s(char* strDest, size_t destMax, size_t count, const char* format,
                    va_list argList);
int UKO_sprintf_s(char* strDest, size_t destMax, const char* format, ...);
int UKO_vsprintf_s(char* strDest, size_t destMax, const char* format, va_list argList);
int UKO_sscanf_s(const char* buffer, const char* format, ...);

// Error record: level (2 error, 0 debug notice), the module's own code, the module
// identifier, source file, source line, a format whose first value is the recording
// function's name, and the format's values. Accepts the call and keeps nothing.
void UKO_ErrorRecord(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId, const char* pcFile,
                     uint16_t usLine, const char* format, ...);

// Print entry of the show and statistics functions: accepts the line, prints nothing,
// returns 0.
uint32_t UKO_ShowPrint(uint32_t uiTarget, const char* format, ...);

// 1: the CPU tick counter counts upward.
uint32_t UKO_CpuTickCountUp();

// Test seam: an observer that sees every error record's call form (the format is not
// expanded). Only tests set it; NULL removes it.
typedef void (*UKO_ERROR_RECORD_OBSERVER_PF)(uint32_t uiLevel, uint16_t usCode,
                                             uint16_t usModuleId, const char* pcFile,
                                             uint16_t usLine, const char* format);
void ukoErrorRecordObserverSet(UKO_ERROR_RECORD_OBSERVER_PF pfnObserver);

// Test seam: an observer that gets every line UKO_ShowPrint accepts, with its print
// target, expanded by the bounded formatter (a longer line is cut to the buffer). Only
// tests set it; NULL removes it.
constexpr size_t UKO_SHOW_PRINT_LINE_MAX = 1024;
typedef void (*UKO_SHOW_PRINT_OBSERVER_PF)(uint32_t uiTarget, const char* pcLine);
void ukoShowPrintObserverSet(UKO_SHOW_PRINT_OBSERVER_PF pfnObserver);
