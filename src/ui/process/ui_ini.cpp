// The INI module: one whole file in memory, looked up by section and key.
//
// Its line rules are those of the files the service and the installer write and must
// stay as they are: no comments, quote marks passed over by the line scan but kept in
// the text, names compared without regard to ASCII case, the first header of a name
// only, and up to two line-end characters in any combination ending one line.

#include "ui_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_ini_inner.h"

namespace {

char* g_text = nullptr;             // the loaded file and a zero byte
size_t g_length = 0;                // bytes read
char g_path[INI_PATH_SIZE] = {};    // the file loaded last

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// The name of a section line's content, trimmed, in place.
char* SectionName(char* pcLine) {
    const size_t len = std::strlen(pcLine);
    pcLine[len - 1] = '\0';  // the closing ']'
    INI_Trim(pcLine + 1);
    return pcLine + 1;
}

bool SectionMatches(char* pcLine, const char* pcSection) {
    return INI_StrCaseCmp(SectionName(pcLine), pcSection) == 0;
}

// Writes the text to a new file beside path and renames it over path, keeping the old
// file's permission bits. false leaves the old file as it was.
bool ReplaceFile(const char* pcPath, const std::string& text) {
    std::string tmp = std::string(pcPath) + ".XXXXXX";
    const int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = stat(pcPath, &st) != 0 || fchmod(fd, st.st_mode & 07777) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(tmp.c_str(), pcPath) == 0;
    if (!ok) {
        (void)unlink(tmp.c_str());
    }
    return ok;
}

}  // namespace

IniLineKind INI_ParseLine(const char* pcStart, size_t remaining, char* pcOut,
                          const char** ppcContentEnd, const char** ppcLineEnd,
                          const char** ppcNext) {
    const char* p = pcStart;
    const char* const end = pcStart + remaining;
    const char* contentStart = nullptr;
    size_t trailing = 0;
    size_t ending = 0;  // line-end characters consumed
    while (p < end) {
        const char c = *p;
        if (c == '\0') {
            // A zero byte ends the line; it is no part of the content.
            ++p;
            ending = 1;
            break;
        }
        if (IsLineEnd(c)) {
            ++p;
            ending = 1;
            if (p < end && IsLineEnd(*p)) {
                ++p;
                ending = 2;
            }
            break;
        }
        ++p;
        if (c == '"' || c == '\'') {
            continue;  // neither starts the content nor ends trailing white space
        }
        if (IsSpace(c)) {
            ++trailing;
        } else {
            trailing = 0;
            if (contentStart == nullptr) {
                contentStart = p - 1;
            }
        }
    }
    const char* lineEnd = p - ending;
    *ppcNext = p;
    *ppcLineEnd = lineEnd;
    pcOut[0] = '\0';
    if (contentStart == nullptr) {
        *ppcContentEnd = lineEnd;
        return INI_LINE_BLANK;
    }
    const char* contentEnd = lineEnd - trailing;
    *ppcContentEnd = contentEnd;
    const size_t len = static_cast<size_t>(contentEnd - contentStart);
    if (len >= INI_LINE_SIZE) {
        return INI_LINE_OTHER;
    }
    std::memcpy(pcOut, contentStart, len);
    pcOut[len] = '\0';
    if (pcOut[0] == '[' && pcOut[len - 1] == ']') {
        return INI_LINE_SECTION;
    }
    return std::strchr(pcOut, '=') != nullptr ? INI_LINE_KEY : INI_LINE_OTHER;
}

void INI_Trim(char* pcText) {
    if (pcText == nullptr) {
        return;
    }
    size_t len = std::strlen(pcText);
    while (len > 0 && IsSpace(pcText[len - 1])) {
        pcText[--len] = '\0';
    }
    size_t lead = 0;
    while (lead < len && IsSpace(pcText[lead])) {
        ++lead;
    }
    std::memmove(pcText, pcText + lead, len - lead + 1);
}

uint32_t INI_SplitKeyValue(char* pcLine, char** ppcKey, char** ppcValue) {
    char* eq = pcLine != nullptr ? std::strchr(pcLine, '=') : nullptr;
    if (eq == nullptr || ppcKey == nullptr || ppcValue == nullptr) {
        return 1;
    }
    *eq = '\0';
    INI_Trim(pcLine);
    INI_Trim(eq + 1);
    *ppcKey = pcLine;
    *ppcValue = eq + 1;
    return 0;
}

int32_t INI_StrCaseCmp(const char* pcA, const char* pcB) {
    if (pcA == nullptr || pcB == nullptr) {
        return 1;
    }
    for (;; ++pcA, ++pcB) {
        const int a = (*pcA >= 'A' && *pcA <= 'Z') ? *pcA - 'A' + 'a' : static_cast<unsigned char>(*pcA);
        const int b = (*pcB >= 'A' && *pcB <= 'Z') ? *pcB - 'A' + 'a' : static_cast<unsigned char>(*pcB);
        if (a != b || a == 0) {
            return a - b;
        }
    }
}

uint32_t INI_Load(const char* pcPath) {
    INI_Free();
    if (pcPath == nullptr || std::strlen(pcPath) >= INI_PATH_SIZE) {
        return 1;
    }
    // Whole texts compare: "x.ini" after "x.ini.bak" is another file.
    if (std::strcmp(g_path, pcPath) != 0) {
        std::memset(g_path, 0, sizeof(g_path));
        std::memcpy(g_path, pcPath, std::strlen(pcPath));
    }
    FILE* file = std::fopen(g_path, "rb");
    if (file == nullptr) {
        return 1;
    }
    uint32_t rc = 1;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    if (size >= 0) {
        g_text = static_cast<char*>(UKO_Malloc(UI_MEM_ID, static_cast<uint64_t>(size) + 1));
    }
    if (g_text != nullptr) {
        std::memset(g_text, 0, static_cast<size_t>(size) + 1);
        if (std::fseek(file, 0, SEEK_SET) == 0) {
            g_length = std::fread(g_text, 1, static_cast<size_t>(size), file);
            rc = 0;
        }
    }
    (void)std::fclose(file);
    return rc;
}

void INI_Free() {
    if (g_text != nullptr) {
        (void)UKO_Free(g_text);
        g_text = nullptr;
    }
    g_length = 0;
}

uint32_t INI_GetString(const char* pcSection, const char* pcKey, char* pcOut, size_t size,
                       const char* pcDefault) {
    const bool canWrite = pcOut != nullptr && size != 0;
    if (canWrite) {
        pcOut[0] = '\0';
    }
    if (g_text == nullptr || pcKey == nullptr) {
        return 0;
    }
    char line[INI_LINE_SIZE];
    bool inSection = false;
    size_t pos = 0;
    while (pos < g_length) {
        const char *contentEnd, *lineEnd, *next;
        const IniLineKind kind =
            INI_ParseLine(g_text + pos, g_length - pos, line, &contentEnd, &lineEnd, &next);
        pos = static_cast<size_t>(next - g_text);
        if (kind == INI_LINE_SECTION) {
            if (inSection || pcSection == nullptr) {
                break;
            }
            inSection = SectionMatches(line, pcSection);
            continue;
        }
        if (kind != INI_LINE_KEY) {
            continue;
        }
        if (pcSection == nullptr) {
            inSection = true;  // a key before any header
        }
        if (!inSection) {
            continue;
        }
        char *key, *value;
        (void)INI_SplitKeyValue(line, &key, &value);
        if (INI_StrCaseCmp(key, pcKey) != 0) {
            continue;
        }
        if (value[0] == '\0') {
            break;
        }
        if (pcOut == nullptr) {
            return 1;
        }
        if (canWrite) {
            const size_t len = strnlen(value, size - 1);
            std::memcpy(pcOut, value, len);
            pcOut[len] = '\0';
        }
        return 1;
    }
    if (canWrite && pcDefault != nullptr) {
        const size_t len = strnlen(pcDefault, size - 1);
        std::memcpy(pcOut, pcDefault, len);
        pcOut[len] = '\0';
    }
    return 0;
}

int32_t INI_GetInt(const char* pcSection, const char* pcKey, int32_t iDefault) {
    char buf[64];
    if (INI_GetString(pcSection, pcKey, buf, sizeof(buf), nullptr) == 0) {
        return iDefault;
    }
    return static_cast<int32_t>(std::strtol(buf, nullptr, 0));
}

double INI_GetDouble(const char* pcSection, const char* pcKey, double dDefault) {
    char buf[64];
    if (INI_GetString(pcSection, pcKey, buf, sizeof(buf), nullptr) == 0) {
        return dDefault;
    }
    return std::atof(buf);
}

uint32_t INI_GetStringUnquoted(const char* pcSection, const char* pcKey, char* pcOut,
                               size_t size, const char* pcDefault) {
    const uint32_t found = INI_GetString(pcSection, pcKey, pcOut, size, pcDefault);
    if (found == 1 && pcOut != nullptr && size != 0) {
        const size_t len = std::strlen(pcOut);
        if (len >= 2 && (pcOut[0] == '"' || pcOut[0] == '\'') && pcOut[len - 1] == pcOut[0]) {
            std::memmove(pcOut, pcOut + 1, len - 2);
            pcOut[len - 2] = '\0';
        }
    }
    return found;
}

uint32_t INI_FindEntry(const char* pcSection, const char* pcKey, IniEntry* pstEntry) {
    if (g_text == nullptr || pcSection == nullptr || pcKey == nullptr || pstEntry == nullptr) {
        return 1;
    }
    *pstEntry = IniEntry{};
    char line[INI_LINE_SIZE];
    bool inSection = false;
    size_t pos = 0;
    while (pos < g_length) {
        const size_t start = pos;
        const char *contentEnd, *lineEnd, *next;
        const IniLineKind kind =
            INI_ParseLine(g_text + pos, g_length - pos, line, &contentEnd, &lineEnd, &next);
        pos = static_cast<size_t>(next - g_text);
        const bool eol = lineEnd != next;
        if (kind == INI_LINE_SECTION) {
            if (inSection) {
                break;
            }
            if (SectionMatches(line, pcSection)) {
                inSection = true;
                pstEntry->bSection = true;
                pstEntry->uiHeaderEnd = pos;
                pstEntry->uiSectionEnd = pos;
                pstEntry->bSectionEndEol = eol;
            }
            continue;
        }
        if (!inSection || (kind != INI_LINE_KEY && kind != INI_LINE_BLANK)) {
            continue;
        }
        pstEntry->uiSectionEnd = pos;
        pstEntry->bSectionEndEol = eol;
        char *key, *value;
        if (kind == INI_LINE_KEY && !pstEntry->bKey &&
            INI_SplitKeyValue(line, &key, &value) == 0 && INI_StrCaseCmp(key, pcKey) == 0) {
            pstEntry->bKey = true;
            pstEntry->uiKeyStart = start;
            pstEntry->uiKeyLineEnd = static_cast<size_t>(lineEnd - g_text);
            pstEntry->uiKeyNext = pos;
        }
    }
    return 0;
}

uint32_t INI_SetString(const char* pcSection, const char* pcKey, const char* pcValue) {
    IniEntry entry;
    if (INI_FindEntry(pcSection, pcKey, &entry) != 0) {
        return 0;
    }
    char resolved[PATH_MAX];
    if (realpath(g_path, resolved) == nullptr) {
        return 0;
    }
    const std::string text(g_text, g_length);
    const bool endsOpen = !text.empty() && !IsLineEnd(text.back());
    std::string out;
    if (!entry.bSection) {
        if (pcValue == nullptr) {
            return 0;
        }
        const size_t nameLen = std::strlen(pcSection);
        const bool global = std::strncmp(pcSection, "GLOBAL", nameLen) == 0;
        out = text;
        // A text without a final line end would otherwise run into the new header.
        if (!global || endsOpen) {
            out += "\n";
        }
        out = out + "[" + pcSection + "]\n" + pcKey + " = " + pcValue + "\n";
    } else if (entry.bKey) {
        out = text.substr(0, entry.uiKeyStart);
        if (pcValue != nullptr) {
            // The old line's end stays; anything after its value goes with the value.
            out = out + pcKey + " = " + pcValue + text.substr(entry.uiKeyLineEnd);
        } else {
            out += text.substr(entry.uiKeyNext);
        }
    } else {
        if (pcValue == nullptr) {
            return 0;
        }
        out = text.substr(0, entry.uiSectionEnd);
        if (!entry.bSectionEndEol) {
            out += "\n";  // the section's last line ends the file without a line end
        }
        out = out + pcKey + " = " + pcValue + "\n" + text.substr(entry.uiSectionEnd);
    }
    if (!ReplaceFile(resolved, out)) {
        (void)DDM_LogWrite(UI_LOG_CPFM, DDM_LOG_ERROR, "[%lu][Ini set string][write %s failed]",
                           UI_LOG_TAG, resolved);
        return 0;
    }
    char path[INI_PATH_SIZE];
    std::memcpy(path, g_path, sizeof(path));
    (void)INI_Load(path);
    return 1;
}

uint32_t INI_SetInt(const char* pcSection, const char* pcKey, int32_t iValue, int32_t iBase) {
    char buf[64];
    const unsigned bits = static_cast<unsigned>(iValue);
    if (iBase == 8) {
        (void)std::snprintf(buf, sizeof(buf), "0%o", bits);
    } else if (iBase == 16) {
        (void)std::snprintf(buf, sizeof(buf), "0x%x", bits);
    } else {
        (void)std::snprintf(buf, sizeof(buf), "%d", iValue);
    }
    return INI_SetString(pcSection, pcKey, buf);
}
