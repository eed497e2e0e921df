// Fuzz target of the INI reader and writer (INI_Load and its lookups, set, replace and
// delete).
//
// Input: a header of five texts, each up to a zero byte: the section and key to set,
// the value, then a probe list of "section\x01key" pairs separated by \x02 (an empty
// section stands for the lines before the first header); then one byte of switches
// (bit 0: delete instead of set; bits 1..6: the size of the lookup buffer); the rest is
// the file.
//
// Checks: every lookup stays inside its buffer and ends its text there; a name or value
// the module accepts (no line ends, no '=' or brackets in names, no white space at either
// end, no quote that white space would hide) set and read back gives what was set, and
// a delete makes the first match go; every probe that names another key reads the same
// after the write as before; the loaded text is given back.

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "uko_mempt.h"
#include "uko_start.h"
#include "ui_ini.h"
#include "ui_ini_inner.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;

std::string g_path;

void WriteFile(const std::string& text) {
    const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, "cannot write " + g_path);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        FUZZ_CHECK(n > 0, "short write of the file");
        done += static_cast<size_t>(n);
    }
    close(fd);
}

// A section or key name the writer's lines read back as written.
bool NameAccepted(const std::string& s) {
    if (s.empty() || s.size() > 200) return false;
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x21 || u > 0x7E) {
            if (c != ' ') return false;
        }
        if (c == '=' || c == '[' || c == ']' || c == '"' || c == '\'') return false;
    }
    return s.front() != ' ' && s.back() != ' ';
}

// A value that reads back as written: printable, no white space at either end, and not
// ending in a quote mark (quotes never end the trailing white space of a line).
bool ValueAccepted(const std::string& s) {
    if (s.empty() || s.size() > 600) return false;
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u > 0x7E)) return false;
    }
    return s.front() != ' ' && s.back() != ' ' && s.back() != '"' && s.back() != '\'';
}

bool SameName(const std::string& a, const std::string& b) {
    return INI_StrCaseCmp(a.c_str(), b.c_str()) == 0;
}

struct Probe {
    std::string section;  // empty: before the first header
    std::string key;
};

std::vector<Probe> Probes(const std::string& list) {
    std::vector<Probe> out;
    size_t start = 0;
    while (start <= list.size() && out.size() < 16) {
        size_t end = list.find('\x02', start);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(start, end - start);
        const size_t sep = item.find('\x01');
        if (sep != std::string::npos) {
            out.push_back({item.substr(0, sep), item.substr(sep + 1)});
        }
        start = end + 1;
    }
    return out;
}

// One lookup through a buffer of `size` bytes with guard bytes behind it.
std::pair<uint32_t, std::string> Lookup(const Probe& p, size_t size) {
    Guarded out(size);
    const uint32_t found = INI_GetString(p.section.empty() ? nullptr : p.section.c_str(),
                                         p.key.c_str(), reinterpret_cast<char*>(out.data()),
                                         size, "dflt");
    const std::string what = "[" + Printable(p.section) + "] " + Printable(p.key);
    FUZZ_CHECK(out.GuardIntact(), what + ": written past the buffer of " + std::to_string(size));
    std::string text;
    if (size != 0) {
        const char* s = reinterpret_cast<const char*>(out.data());
        const size_t len = strnlen(s, size);
        FUZZ_CHECK(len < size, what + ": no terminator inside the buffer");
        text.assign(s, len);
    }
    FUZZ_CHECK(found == 0 || found == 1, what);
    return {found, text};
}

std::string Value(const Probe& p) {
    char buf[2048];
    const uint32_t found =
        INI_GetString(p.section.empty() ? nullptr : p.section.c_str(), p.key.c_str(), buf, sizeof(buf), nullptr);
    return found == 1 ? std::string("1:") + buf : std::string("0:") + buf;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    g_path = std::string(std::getenv("TMPDIR")) + "/fuzz.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const std::string section = in.Text();
    const std::string key = in.Text();
    const std::string value = in.Text();
    const std::vector<Probe> probes = Probes(in.Text());
    const uint8_t switches = in.Byte();
    const bool remove = (switches & 1) != 0;
    const size_t lookupSize = (switches >> 1) & 0x3F;
    const std::string file = in.Rest();
    WriteFile(file);

    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    FUZZ_CHECK(INI_Load(g_path.c_str()) == 0, "the file could not be loaded");

    // Lookups of every probe, of the names to set, through a buffer of any size.
    for (const Probe& p : probes) {
        (void)Lookup(p, lookupSize);
        (void)INI_GetInt(p.section.empty() ? nullptr : p.section.c_str(), p.key.c_str(), 7);
        (void)INI_GetDouble(p.section.empty() ? nullptr : p.section.c_str(), p.key.c_str(), 0.5);
        char unq[64];
        (void)INI_GetStringUnquoted(p.section.empty() ? nullptr : p.section.c_str(), p.key.c_str(),
                                    unq, sizeof(unq), nullptr);
    }
    const Probe target{section, key};
    (void)Lookup(target, lookupSize);

    if (NameAccepted(section) && NameAccepted(key) && (remove || ValueAccepted(value))) {
        std::vector<std::string> before;
        for (const Probe& p : probes) before.push_back(Value(p));
        const std::string had = Value(target);
        const uint32_t rc = INI_SetString(section.c_str(), key.c_str(), remove ? nullptr : value.c_str());
        const std::string what = "[" + Printable(section) + "] " + Printable(key) + " = " +
                                 Printable(value) + (remove ? " (delete)" : "") + " in [" +
                                 Printable(file, 400) + "]";
        if (!remove) {
            FUZZ_CHECK(rc == 1, what + ": the set was refused");
            FUZZ_CHECK(Value(target) == "1:" + value, what + ": read back " + Printable(Value(target)));
        } else {
            FUZZ_CHECK(rc == 0 || rc == 1, what);
            if (rc == 0) {
                FUZZ_CHECK(Value(target) == had, what + ": a refused delete changed the value");
            }
        }
        for (size_t i = 0; i < probes.size(); ++i) {
            const Probe& p = probes[i];
            const bool sameSection =
                p.section.empty() ? false : SameName(p.section, section);
            if (sameSection && SameName(p.key, key)) continue;
            FUZZ_CHECK(Value(p) == before[i], what + ": [" + Printable(p.section) + "] " + Printable(p.key) +
                                                  " was " + Printable(before[i]) + ", now " +
                                                  Printable(Value(p)));
        }
    }
    INI_Free();
    FUZZ_CHECK(UKO_MemFreeSizeGet() == freeBefore, "the loaded text was not given back");
    return 0;
}
