#pragma once
// A small INI reader and writer: one whole file in memory at a time, looked up by
// section and key, with the line rules the service's files were written for. There is
// no comment syntax and quote marks stay part of a value; section and key names
// compare without regard to ASCII case; only the first header of a section name opens
// it. One process-wide text, no lock: start-up reads it from one thread.

#include <cstddef>
#include <cstdint>

enum IniLineKind : uint32_t {
    INI_LINE_OTHER = 1,
    INI_LINE_BLANK = 2,
    INI_LINE_SECTION = 3,
    INI_LINE_KEY = 4,
};

// Paths and line contents are shorter than this.
constexpr size_t INI_PATH_SIZE = 1024;
constexpr size_t INI_LINE_SIZE = 1024;

// Loads the file, replacing the text loaded before. 0, or 1 for a null path, a path of
// 1024 bytes or more, or a file that cannot be opened, sized, read into memory.
uint32_t INI_Load(const char* pcPath);
// Frees the loaded text. The path loaded last is kept.
void INI_Free();

// The value of key in section (null: the lines before the first header) copied into out
// (at most size - 1 characters and a zero): 1 when found with a non-empty value, else 0
// with out holding the default (cut the same way) or the empty text. A null out only
// answers whether the value is there.
uint32_t INI_GetString(const char* pcSection, const char* pcKey, char* pcOut, size_t size,
                       const char* pcDefault);
// The value read with strtol in base 0 (decimal, 0x hexadecimal, leading-0 octal), or
// the default when not found.
int32_t INI_GetInt(const char* pcSection, const char* pcKey, int32_t iDefault);
// The value read with atof, or the default.
double INI_GetDouble(const char* pcSection, const char* pcKey, double dDefault);
// INI_GetString, then one pair of enclosing single or double quote marks removed.
uint32_t INI_GetStringUnquoted(const char* pcSection, const char* pcKey, char* pcOut,
                               size_t size, const char* pcDefault);

// Adds or replaces key = value in section of the loaded file, or removes the key (null
// value), writes the file and loads it again. The new file is written beside the old one
// and renamed over it, so a failed write leaves the old file whole. 1 when the file was
// written; 0 when nothing was done: nothing loaded, a null section or key, nothing to
// remove, a stored path too long or not resolvable, or a write that failed.
uint32_t INI_SetString(const char* pcSection, const char* pcKey, const char* pcValue);
// INI_SetString with the value written "0%o" for base 8, "0x%x" for base 16, "%d"
// otherwise.
uint32_t INI_SetInt(const char* pcSection, const char* pcKey, int32_t iValue, int32_t iBase);
