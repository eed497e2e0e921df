#pragma once
// The INI module's line splitter and helpers, for its tests.

#include <cstddef>
#include <cstdint>

#include "ui_ini.h"

// Splits the line at start (at most remaining bytes) and copies its content into out
// (INI_LINE_SIZE bytes; the empty text when nothing is copied). contentEnd is where the
// content stops (trailing white space excluded), lineEnd where the line-end characters
// begin, next where the following line starts.
IniLineKind INI_ParseLine(const char* pcStart, size_t remaining, char* pcOut,
                          const char** ppcContentEnd, const char** ppcLineEnd,
                          const char** ppcNext);

// Where a section and a key lie in the loaded text (offsets into it).
struct IniEntry {
    bool bSection;          // the section's first header was found
    size_t uiHeaderEnd;     // after the header line
    size_t uiSectionEnd;    // after the section's last header, key or blank line
    bool bSectionEndEol;    // that line ended with line-end characters
    bool bKey;              // the key is among the section's lines
    size_t uiKeyStart;      // start of the key's line
    size_t uiKeyLineEnd;    // start of that line's line-end characters
    size_t uiKeyNext;       // start of the line after it
};
// Fills the entry for a section (not null) and key: 0, or 1 when nothing is loaded or an
// argument is null.
uint32_t INI_FindEntry(const char* pcSection, const char* pcKey, IniEntry* pstEntry);

// Cuts a key line at its first '=' and trims both halves in place: 0, or 1 without '='.
uint32_t INI_SplitKeyValue(char* pcLine, char** ppcKey, char** ppcValue);
// Byte-wise comparison with A to Z folded to lower case; 0 when equal. A null argument
// compares unequal.
int32_t INI_StrCaseCmp(const char* pcA, const char* pcB);
// Removes trailing, then leading white space, moving the text to the front.
void INI_Trim(char* pcText);
