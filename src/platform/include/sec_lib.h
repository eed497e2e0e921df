#pragma once
// The platform's bounds-checking library: memory, string and formatted functions with
// the Annex K names and argument orders, but this library's own result codes. No
// function calls a constraint handler or stops the program, and no size above
// SEC_MAX_SIZE is accepted.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Result of the memory and string functions.
typedef int32_t secure_errno;

// The six result codes. A code of 128 or above also says that the destination was
// reset before the function returned; 22 and 34 say that nothing was written.
constexpr secure_errno SEC_EOK = 0;
constexpr secure_errno SEC_EINVAL = 22;               // destination pointer NULL
constexpr secure_errno SEC_ERANGE = 34;               // destMax 0 or too large
constexpr secure_errno SEC_EINVAL_AND_RESET = 150;    // 22 + 128
constexpr secure_errno SEC_ERANGE_AND_RESET = 162;    // 34 + 128
constexpr secure_errno SEC_EOVERLAP_AND_RESET = 182;  // 54 + 128

// Largest destination size or count any function accepts.
constexpr size_t SEC_MAX_SIZE = 0x7FFFFFFF;

secure_errno memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
secure_errno memmove_s(void* dest, size_t destMax, const void* src, size_t count);
secure_errno memset_s(void* dest, size_t destMax, int c, size_t count);
secure_errno strcpy_s(char* strDest, size_t destMax, const char* strSrc);
secure_errno strncpy_s(char* strDest, size_t destMax, const char* strSrc, size_t count);
secure_errno strcat_s(char* strDest, size_t destMax, const char* strSrc);
char* strtok_s(char* strToken, const char* strDelimit, char** context);
void secure_lib_version_get(char* verStr, int32_t bufSize, uint16_t* verNumber);

// Formatted output: the count of characters written (terminator excluded), or -1.
int vsnprintf_s(char* strDest, size_t destMax, size_t count, const char* format, va_list argList);
int vsprintf_s(char* strDest, size_t destMax, const char* format, va_list argList);

// Formatted input: every c, s and [ destination is followed in the value list by its
// size as an unsigned 32-bit value. Result: the count of fields stored, or -1.
int sscanf_s(const char* buffer, const char* format, ...);
int vsscanf_s(const char* buffer, const char* format, va_list argList);
