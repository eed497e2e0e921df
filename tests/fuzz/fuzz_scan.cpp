// Fuzz target of the bounded scanner (vsscanf_s).
//
// Input: one byte of switches (bit 0: UTF-8 locale instead of "C"; bits 1 and 2 pick a
// fixed format when bit 3 is clear), then, for a drawn format, the format up to a zero
// byte; then the text to scan up to a zero byte; then the bytes that give each
// character destination its size and pick the destinations passed as NULL.
//
// The fixed formats are the ones the system scans with. A drawn format is read with the
// target's own model of the scanner's directives, so that every conversion that stores
// gets a destination of its own and every character conversion its size. Values read
// past the last one are a trip wire, a block that must stay untouched. Checks: no
// destination is written past its width or size, every stored text is terminated
// inside its destination, and the result stays within -1 and the fields the format can
// store.

#include <cctype>
#include <clocale>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sec_lib.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;
using vt_fuzz::ValueList;

// One destination the format asks for.
struct Destination {
    char conversion = 0;     // lower case; '[' for a scanset
    bool text = false;       // c, s or [: a size follows the pointer
    bool terminated = false; // s or [: a stored text ends in a terminator
    bool wide = false;       // 4-byte characters
    size_t width = 0;        // bytes an integer or floating field stores
    uint32_t size = 0;       // characters, for a text
    bool null = false;       // passed as NULL
    bool counts = true;      // a stored field counts in the result (not %n)
    std::unique_ptr<Guarded> block;
};

size_t IntegerWidth(bool is64, int sizeCode) {
    if (is64 || sizeCode >= 2) return 8;
    if (sizeCode == 1) return 4;
    return sizeCode == 0 ? 2 : 1;
}

size_t FloatWidth(int sizeCode) {
    if (sizeCode >= 3) return sizeof(long double);
    return sizeCode == 2 ? sizeof(double) : sizeof(float);
}

// Walks the directives of the format as the scanner reads them and lists the
// destinations they take, in order. Ordinary text takes none: a "%" in it always opens
// a directive.
std::vector<Destination> ListDestinations(const std::string& format, Reader& in) {
    std::vector<Destination> out;
    const size_t n = format.size();
    size_t i = 0;
    while (i < n) {
        if (format[i] != '%') {
            ++i;
            continue;
        }
        ++i;
        bool suppress = false;
        bool widthGiven = false;
        int sizeCode = 1;
        bool is64 = false;
        int charWidth = 0;
        char conv = 0;
        while (i <= n) {
            const char c = i < n ? format[i] : '\0';
            if (c >= '0' && c <= '9') {
                widthGiven = true;
                ++i;
            } else if (c == '*') {
                suppress = true;
                ++i;
            } else if (c == 'F' || c == 'N') {
                ++i;
            } else if (c == 'h') {
                --sizeCode;
                charWidth = -1;
                ++i;
            } else if (c == 'l') {
                is64 = true;
                if (i + 1 < n && format[i + 1] == 'l') {
                    sizeCode += 2;
                    i += 2;
                } else {
                    ++sizeCode;
                    charWidth = 1;
                    ++i;
                }
            } else if (c == 'L' || c == 'j' || c == 'q' || c == 't' || c == 'z') {
                sizeCode += 2;
                is64 = true;
                ++i;
            } else if (c == 'w') {
                charWidth = 1;
                ++i;
            } else if (c == 'I') {
                const char a = i + 1 < n ? format[i + 1] : '\0';
                const char b = i + 2 < n ? format[i + 2] : '\0';
                if ((a == '6' && b == '4') || (a == '3' && b == '2')) {
                    is64 = is64 || a == '6';
                    i += 3;
                } else if (a == 'd' || a == 'i' || a == 'o' || a == 'x' || a == 'X') {
                    is64 = true;
                    ++i;
                } else {
                    is64 = true;
                    conv = 'I';  // a lone I is an i conversion
                    break;
                }
            } else {
                conv = c;
                break;
            }
        }
        (void)widthGiven;
        if (conv == '\0' || conv == '{') {
            break;  // the format ends inside the directive, or the scan ends here
        }
        const char written = conv;
        char lower = (conv >= 'A' && conv <= 'Z') ? static_cast<char>(conv - 'A' + 'a') : conv;
        ++i;  // past the conversion character
        if (lower == 'p') {
            is64 = true;
        }
        const bool known = std::strchr("dioupxefgcsn[", lower) != nullptr;
        if (!known) {
            continue;  // a literal conversion: one character to match, no value
        }
        bool setComplete = true;
        if (lower == '[') {
            // The members run to the first "]" that is not the first member.
            if (i < n && format[i] == '^') ++i;
            if (i < n && format[i] == ']') ++i;
            while (i < n && format[i] != ']') ++i;
            setComplete = i < n;
            ++i;
        }
        if (!suppress) {
            Destination d;
            d.conversion = lower;
            d.text = lower == 'c' || lower == 's' || lower == '[';
            d.terminated = lower == 's' || lower == '[';
            if (charWidth == 0) {
                charWidth = (written == 'S' || written == 'C') ? 1 : -1;
            }
            d.wide = charWidth > 0;
            d.counts = lower != 'n';
            if (std::strchr("efg", lower) != nullptr) {
                d.width = FloatWidth(sizeCode);
            } else if (!d.text) {
                d.width = IntegerWidth(is64, sizeCode);
            }
            const uint8_t pick = in.Byte();
            d.null = pick == 0xFF;
            if (d.text) {
                // Sizes from 1 to 64 characters; now and then 0, which ends the scan.
                d.size = pick % 65;
            }
            out.push_back(std::move(d));
        }
        if (!setComplete) {
            break;
        }
    }
    return out;
}

// The formats the system scans with: a header field, one hexadecimal or unsigned
// number, and a line of 27 unsigned counters.
std::string FixedFormat(int which) {
    switch (which) {
        case 0:
            return "Content-Length: %d";
        case 1:
            return "%x";
        case 2:
            return "%u";
        default: {
            std::string f;
            for (int k = 0; k < 27; ++k) {
                f += k == 0 ? "%lu" : " %lu";
            }
            return f;
        }
    }
}

bool g_utf8 = false;

void SetLocale(bool utf8) {
    if (utf8 != g_utf8) {
        std::setlocale(LC_ALL, utf8 ? "C.UTF-8" : "C");
        g_utf8 = utf8;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t switches = in.Byte();
    SetLocale((switches & 1) != 0);
    const bool drawn = (switches & 8) != 0;
    const std::string format = drawn ? in.Text() : FixedFormat((switches >> 1) & 3);
    const std::string text = in.Text();
    std::vector<Destination> dests = ListDestinations(format, in);

    // Every value past the ones listed points at the trip wire; read as a size, its low
    // half is large, so a scanner that took it would write past the wire and be seen.
    Guarded tripWire(0, 64);
    ValueList values(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(tripWire.data())));
    int storing = 0;
    for (Destination& d : dests) {
        // Text blocks have room for wide characters either way, so that a scanner that
        // disagrees about the width is caught by the guard check below, not by a crash.
        const size_t bytes = d.text ? (d.size == 0 ? 1 : d.size) * (d.wide ? 4 : 1) : d.width;
        const size_t room = d.text ? (d.size == 0 ? 1 : d.size) * 4 : 16;
        d.block.reset(new Guarded(bytes, room));
        values.Pointer(d.null ? nullptr : d.block->data());
        if (d.text) {
            values.Int(static_cast<int32_t>(d.size));
        }
        storing += d.counts ? 1 : 0;
    }
    va_list args;
    values.Make(&args);

    std::unique_ptr<char[]> exactFormat(new char[format.size() + 1]);
    std::memcpy(exactFormat.get(), format.c_str(), format.size() + 1);
    std::unique_ptr<char[]> exactText(new char[text.size() + 1]);
    std::memcpy(exactText.get(), text.c_str(), text.size() + 1);

    const int result = vsscanf_s(exactText.get(), exactFormat.get(), args);

    const std::string what = "format [" + Printable(format) + "] text [" + Printable(text) + "] result " +
                             std::to_string(result);
    FUZZ_CHECK(tripWire.Untouched(0), what + ": a value past the format's own was used");
    FUZZ_CHECK(result >= -1 && result <= storing, what);
    int stored = 0;
    for (const Destination& d : dests) {
        FUZZ_CHECK(d.block->GuardIntact(), what + ": a destination was written past its end (conversion " +
                                               std::string(1, d.conversion) + ")");
        // The fields stored are the first ones in order; each text among them ends in
        // a terminator inside its destination.
        if (d.counts && stored < result) {
            ++stored;
            if (d.terminated) {
                bool found = false;
                for (uint32_t k = 0; k < d.size && !found; ++k) {
                    if (d.wide) {
                        uint32_t c = 0;
                        std::memcpy(&c, d.block->data() + 4 * k, 4);
                        found = c == 0;
                    } else {
                        found = d.block->data()[k] == 0;
                    }
                }
                FUZZ_CHECK(found, what + ": a stored text has no terminator inside its destination");
            }
        }
    }
    return 0;
}
