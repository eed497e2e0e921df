// Bounded formatted input: sscanf_s, vsscanf_s and the engine they share.
//
// The engine reads fields out of an in-memory text under the control of a format. Every
// c, s and [ destination is followed in the value list by its size (an unsigned 32-bit
// value), and no field is ever written past that size. Integers are gathered in 64 bits
// with an overflow mark and then cut to the destination's width by a fixed table, so the
// stored value never depends on undefined arithmetic.

#include <cctype>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sec_lib.h"

namespace {

constexpr int kEndOfInput = -1;
// Not a character: the width ran out, so nothing further was read and nothing is ungot.
constexpr int kWidthUsedUp = -3;

constexpr int kRefusedFormat = -2;

constexpr uint32_t kMaxNarrowDestSize = 0x7FFFFFFF;
constexpr uint32_t kMaxWideDestSize = 0x1FFFFFFF;
constexpr size_t kTextLimit = 0x80000000;

constexpr size_t kFloatStackTextSize = 350;

static_assert(sizeof(wchar_t) == 4, "wide destinations are 32-bit characters");

// The engine's character source, a text in memory. Reading past the end yields
// kEndOfInput and leaves the position where it is, so an unget can never step onto a
// byte that was not read.
struct format_input_source {
    const unsigned char* pucText;
    int32_t iUnread;    // characters not yet read
    int32_t iPos;       // index of the next character
    int32_t iConsumed;  // characters taken so far; what %n stores
    int iLast;          // the last character read, kEndOfInput included
};

int format_input_getc(format_input_source* src) {
    if (src->iUnread <= 0) {
        src->iLast = kEndOfInput;
        return kEndOfInput;
    }
    --src->iUnread;
    ++src->iConsumed;
    src->iLast = src->pucText[src->iPos++];
    return src->iLast;
}

void format_input_unget(format_input_source* src, int ch) {
    if (ch < 0 || src->iPos == 0) {
        return;
    }
    --src->iPos;
    ++src->iUnread;
    --src->iConsumed;
}

// Reads past whitespace; returns the first other character (still taken) or kEndOfInput.
int format_input_skip_space(format_input_source* src) {
    int ch;
    do {
        ch = format_input_getc(src);
    } while (ch != kEndOfInput && std::isspace(ch));
    return ch;
}

bool format_input_is_high_char(int ch) { return ch >= 0 && (ch & 0x80) != 0; }

// The value of a digit in the given base, or -1 when ch is not one.
int format_input_hex_digit(int ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

int DigitValue(int ch, int base) {
    int value = format_input_hex_digit(ch);
    return value < base ? value : -1;
}

// The state of one "%" directive; reset at each one.
struct ScanSpec {
    bool bSuppress = false;
    bool bWidthGiven = false;
    int32_t iWidth = 0;      // characters still allowed when bWidthGiven
    int64_t iSizeCode = 1;   // -1 hh, 0 h, 1 none, 2 l, 3 ll L j q t z
    bool b64Bit = false;     // l, ll, L, j, q, t, z, I, I64; always for p
    int iCharWidth = 0;      // < 0 narrow, > 0 wide, 0 not decided by a modifier
    bool bNegative = false;
    bool bOverflow = false;
    bool bNegateSet = false;
    uint32_t uiDestLeft = 0;  // characters the destination still takes
};

// Every modifier counts, however many there are: a run of "h" can be undone by later
// "l" or "L", and the sum alone says what the caller's destination holds. A cap would
// turn such a run into a wider store than the format asks for. The count is 64-bit, so
// no format that fits in memory can make it wrap.
void SizeCodeAdd(ScanSpec* dir, int delta) {
    dir->iSizeCode += delta;
}

// Takes the next character of a field, unless the width is used up. The character in
// hand has been accepted by the caller when this is called.
int NextInField(format_input_source* src, ScanSpec* dir) {
    if (dir->bWidthGiven && --dir->iWidth <= 0) {
        return kWidthUsedUp;
    }
    return format_input_getc(src);
}

void UngetInField(format_input_source* src, int ch) {
    if (ch != kWidthUsedUp) {
        format_input_unget(src, ch);
    }
}

// How a conversion ended.
enum class Outcome {
    kDone,     // the field was converted (stored unless suppressed)
    kStop,     // the scan ends quietly with the fields stored so far
    kRefused,  // the scan ends with the refused-format result
};

// ---- Integers -------------------------------------------------------------------------

size_t StoreWidth(const ScanSpec& dir) {
    if (dir.b64Bit || dir.iSizeCode >= 2) {
        return 8;
    }
    if (dir.iSizeCode == 1) {
        return 4;
    }
    return dir.iSizeCode == 0 ? 2 : 1;
}

void StoreUnsigned(void* dest, size_t width, uint64_t value) {
    switch (width) {
        case 8:
            std::memcpy(dest, &value, sizeof(value));
            break;
        case 4: {
            uint32_t v = static_cast<uint32_t>(value);
            std::memcpy(dest, &v, sizeof(v));
            break;
        }
        case 2: {
            uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(dest, &v, sizeof(v));
            break;
        }
        default: {
            uint8_t v = static_cast<uint8_t>(value);
            std::memcpy(dest, &v, sizeof(v));
            break;
        }
    }
}

// The bits to store for a field, by destination width and conversion. A negative value
// is the two's complement of its magnitude; saturation follows the fixed table below so
// that an overflowing field gives a predictable value rather than wrapped garbage.
uint64_t IntegerBits(const ScanSpec& dir, bool isSigned, uint64_t magnitude) {
    constexpr uint64_t kAllOnes = ~static_cast<uint64_t>(0);
    constexpr uint64_t kInt64Max = 0x7FFFFFFFFFFFFFFFULL;
    constexpr uint64_t kTwoTo63 = 0x8000000000000000ULL;
    constexpr uint64_t kTwoTo32 = 0x100000000ULL;
    const bool ov = dir.bOverflow;
    const bool neg = dir.bNegative;
    const uint64_t negated = 0 - magnitude;
    const size_t width = StoreWidth(dir);

    if (width == 8) {
        if (isSigned) {
            if (!neg) {
                return (ov || magnitude > kInt64Max) ? kInt64Max : magnitude;
            }
            return (ov || magnitude > kTwoTo63) ? kTwoTo63 : negated;
        }
        return ov ? kAllOnes : (neg ? negated : magnitude);
    }
    if (width == 4) {
        if (isSigned) {
            if (!neg) {
                return (ov || magnitude >= kTwoTo63) ? kAllOnes : magnitude;
            }
            return (ov || magnitude >= kTwoTo63) ? 0 : negated;
        }
        if (!neg) {
            return ov ? kAllOnes : magnitude;
        }
        return (ov || magnitude > kTwoTo32) ? kAllOnes : negated;
    }
    if (isSigned) {
        if (!neg) {
            return (ov || magnitude >= kTwoTo63) ? kAllOnes : magnitude;
        }
        return (ov || magnitude >= kTwoTo63) ? 0 : negated;
    }
    return ov ? kAllOnes : (neg ? negated : magnitude);
}

// Adds one digit to the magnitude, marking overflow once the digits exceed 2^64 - 1.
void Accumulate(ScanSpec* dir, uint64_t* magnitude, int base, int digit) {
    if (dir->bOverflow) {
        return;
    }
    const uint64_t m = *magnitude;
    switch (base) {
        case 10:
            if (m > 0x1999999999999999ULL) {
                dir->bOverflow = true;
            } else if (m * 10 == 0xFFFFFFFFFFFFFFFAULL && digit > 5) {
                dir->bOverflow = true;
            } else {
                *magnitude = m * 10 + static_cast<uint64_t>(digit);
            }
            break;
        case 8:
            if ((m >> 61) != 0) {
                dir->bOverflow = true;
            } else {
                *magnitude = m * 8 + static_cast<uint64_t>(digit);
            }
            break;
        default:
            if ((m >> 60) != 0) {
                dir->bOverflow = true;
            } else {
                *magnitude = m * 16 + static_cast<uint64_t>(digit);
            }
            break;
    }
}

Outcome ScanInteger(format_input_source* src, ScanSpec* dir, int conv, int first, void* dest) {
    int ch = first;
    if (ch == '-' || ch == '+') {
        dir->bNegative = (ch == '-');
        ch = NextInField(src, dir);
        if (ch == kWidthUsedUp) {
            return Outcome::kStop;  // the sign used the whole width: no digits can follow
        }
    }

    int base = (conv == 'o') ? 8 : ((conv == 'x' || conv == 'p') ? 16 : 10);
    bool digitSeen = false;
    uint64_t magnitude = 0;

    if ((conv == 'i' || conv == 'x') && ch == '0') {
        // A leading 0 is either the start of a 0x prefix or a digit of its own; i reads
        // the rest in octal after it. With room for one character only, it is the digit.
        int next = NextInField(src, dir);
        if (next == 'x' || next == 'X') {
            base = 16;
            ch = NextInField(src, dir);
            if (ch == kWidthUsedUp) {
                return Outcome::kStop;  // "0x" and no room for a digit
            }
        } else {
            if (conv == 'i') {
                base = 8;
            }
            digitSeen = true;
            ch = next;
        }
    }

    while (ch != kWidthUsedUp) {
        int digit = DigitValue(ch, base);
        if (digit < 0) {
            format_input_unget(src, ch);
            break;
        }
        Accumulate(dir, &magnitude, base, digit);
        digitSeen = true;
        ch = NextInField(src, dir);
    }

    if (!digitSeen) {
        return Outcome::kStop;
    }
    if (!dir->bSuppress) {
        StoreUnsigned(dest, StoreWidth(*dir), IntegerBits(*dir, conv == 'd' || conv == 'i', magnitude));
    }
    return Outcome::kDone;
}

// ---- Floating point -------------------------------------------------------------------

// The text of one floating-point field. It starts on the stack and moves to the heap
// when a number is longer; the engine wipes both when the call ends.
struct FloatText {
    char acStack[kFloatStackTextSize];
    char* pcHeap;
    size_t uSize;
    size_t uLen;
};

char* FloatTextBase(FloatText* text) { return text->pcHeap != nullptr ? text->pcHeap : text->acStack; }

bool format_input_grow_buffer(FloatText* text) {
    size_t newSize = text->uSize * 2;
    if (newSize >= kTextLimit) {
        return false;
    }
    char* grown;
    if (text->pcHeap == nullptr) {
        grown = static_cast<char*>(std::calloc(newSize, 1));
        if (grown == nullptr) {
            return false;
        }
        (void)memcpy_s(grown, newSize, text->acStack, text->uLen);
    } else {
        grown = static_cast<char*>(std::malloc(newSize));
        if (grown == nullptr) {
            return false;
        }
        (void)memcpy_s(grown, newSize, text->pcHeap, text->uLen);
        (void)memset_s(text->pcHeap, text->uSize, 0, text->uSize);
        std::free(text->pcHeap);
    }
    text->pcHeap = grown;
    text->uSize = newSize;
    return true;
}

// Appends one character, keeping room for the terminator.
bool FloatTextAppend(FloatText* text, char ch) {
    if (text->uLen + 1 >= text->uSize && !format_input_grow_buffer(text)) {
        return false;
    }
    FloatTextBase(text)[text->uLen++] = ch;
    return true;
}

bool IsDecimalDigit(int ch) { return ch >= '0' && ch <= '9'; }

void format_input_float(const ScanSpec& dir, const char* number, void* dest) {
    // Only a "." locale gives the text the library functions read here; with another
    // decimal point the field is counted but the destination stays as it was.
    const struct lconv* conv = std::localeconv();
    if (conv == nullptr || conv->decimal_point == nullptr || std::strcmp(conv->decimal_point, ".") != 0) {
        return;
    }
    if (dir.iSizeCode == 3) {
        long double value = std::strtold(number, nullptr);
        std::memcpy(dest, &value, sizeof(value));
    } else if (dir.iSizeCode >= 2) {
        double value = std::strtod(number, nullptr);
        std::memcpy(dest, &value, sizeof(value));
    } else {
        // strtof rounds once and saturates out-of-range values to infinity; narrowing a
        // double would round twice and is undefined above the float range.
        float value = std::strtof(number, nullptr);
        std::memcpy(dest, &value, sizeof(value));
    }
}

Outcome ScanFloat(format_input_source* src, ScanSpec* dir, int first, void* dest, FloatText* text) {
    const struct lconv* conv = std::localeconv();
    const int point = (conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0')
                          ? static_cast<unsigned char>(conv->decimal_point[0])
                          : '.';
    text->uLen = 0;
    bool digitSeen = false;
    int ch = first;

    if (ch == '-' || ch == '+') {
        if (ch == '-' && !FloatTextAppend(text, '-')) {
            return Outcome::kStop;
        }
        ch = NextInField(src, dir);
    }
    while (IsDecimalDigit(ch)) {
        if (!FloatTextAppend(text, static_cast<char>(ch))) {
            return Outcome::kStop;
        }
        digitSeen = true;
        ch = NextInField(src, dir);
    }
    if (ch == point) {
        if (!FloatTextAppend(text, static_cast<char>(ch))) {
            return Outcome::kStop;
        }
        ch = NextInField(src, dir);
        while (IsDecimalDigit(ch)) {
            if (!FloatTextAppend(text, static_cast<char>(ch))) {
                return Outcome::kStop;
            }
            digitSeen = true;
            ch = NextInField(src, dir);
        }
    }
    if (digitSeen && (ch == 'e' || ch == 'E')) {
        if (!FloatTextAppend(text, 'e')) {
            return Outcome::kStop;
        }
        ch = NextInField(src, dir);
        if (ch == '-' || ch == '+') {
            if (ch == '-' && !FloatTextAppend(text, '-')) {
                return Outcome::kStop;
            }
            ch = NextInField(src, dir);
        }
        while (IsDecimalDigit(ch)) {
            if (!FloatTextAppend(text, static_cast<char>(ch))) {
                return Outcome::kStop;
            }
            ch = NextInField(src, dir);
        }
    }
    UngetInField(src, ch);

    if (!digitSeen) {
        return Outcome::kStop;
    }
    if (!dir->bSuppress) {
        if (!FloatTextAppend(text, '\0')) {
            return Outcome::kStop;
        }
        format_input_float(*dir, FloatTextBase(text), dest);
    }
    return Outcome::kDone;
}

// ---- Characters, strings and scansets -------------------------------------------------

struct ScanSet {
    uint8_t aucBits[32];
};

void ScanSetAdd(ScanSet* set, unsigned ch) { set->aucBits[ch >> 3] |= static_cast<uint8_t>(1u << (ch & 7)); }

bool ScanSetHas(const ScanSet& set, unsigned ch) { return (set.aucBits[ch >> 3] & (1u << (ch & 7))) != 0; }

// Reads the members after "[" up to "]". Returns false when the format ends first; on
// success *format points past the "]".
bool ParseScanSet(const unsigned char** format, ScanSet* set, bool* negate) {
    const unsigned char* f = *format;
    std::memset(set, 0, sizeof(*set));
    *negate = false;
    if (*f == '^') {
        *negate = true;
        ++f;
    }
    int previous = -1;  // the member just added, which may open a range
    if (*f == ']') {
        ScanSetAdd(set, ']');
        previous = ']';
        ++f;
    }
    while (*f != ']') {
        if (*f == '\0') {
            return false;
        }
        if (*f == '-' && previous >= 0 && f[1] != ']' && f[1] != '\0') {
            const unsigned last = f[1];
            if (static_cast<unsigned>(previous) < last) {
                for (unsigned c = static_cast<unsigned>(previous); c <= last; ++c) {
                    ScanSetAdd(set, c);
                }
            } else {
                ScanSetAdd(set, '-');
                ScanSetAdd(set, last);
            }
            f += 2;
            previous = -1;
            continue;
        }
        ScanSetAdd(set, *f);
        previous = *f;
        ++f;
    }
    *format = f + 1;
    return true;
}

bool IsStringSpace(int ch) {
    return ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r' || ch == ' ';
}

// Turns the input bytes of one character into a wide character. A byte with the top bit
// set starts a multibyte sequence: more bytes are read while they may still complete it.
// A sequence that cannot be a character becomes "?"; the byte that proved it invalid is
// put back, so a broken sequence never swallows the characters after it.
wchar_t ReadWideChar(format_input_source* src, int ch) {
    if (!format_input_is_high_char(ch)) {
        return static_cast<wchar_t>(ch);
    }
    char bytes[MB_LEN_MAX];
    size_t count = 0;
    bytes[count++] = static_cast<char>(ch);
    const size_t longest = MB_CUR_MAX < sizeof(bytes) ? MB_CUR_MAX : sizeof(bytes);
    for (;;) {
        std::mbstate_t state{};
        wchar_t wide = 0;
        size_t used = std::mbrtowc(&wide, bytes, count, &state);
        if (used != static_cast<size_t>(-1) && used != static_cast<size_t>(-2)) {
            return wide;
        }
        if (used == static_cast<size_t>(-1)) {
            if (count > 1) {
                format_input_unget(src, static_cast<unsigned char>(bytes[count - 1]));
            }
            return L'?';
        }
        if (count >= longest) {
            return L'?';
        }
        int more = format_input_getc(src);
        if (more == kEndOfInput) {
            return L'?';
        }
        bytes[count++] = static_cast<char>(more);
    }
}

void TerminateAt(void* dest, bool wide, uint32_t index) {
    if (wide) {
        static_cast<wchar_t*>(dest)[index] = L'\0';
    } else {
        static_cast<char*>(dest)[index] = '\0';
    }
}

Outcome ScanCharacters(format_input_source* src, ScanSpec* dir, int conv, int first, void* dest,
                       const ScanSet* set) {
    format_input_unget(src, first);
    const bool wide = dir->iCharWidth > 0;
    const bool terminated = (conv != 'c');
    if (terminated && !dir->bSuppress) {
        --dir->uiDestLeft;  // room for the terminator; the size is at least 1 here
    }
    if (conv == 'c' && !dir->bWidthGiven) {
        dir->bWidthGiven = true;
        dir->iWidth = 1;
    }

    uint32_t stored = 0;
    uint64_t taken = 0;
    while (!dir->bWidthGiven || dir->iWidth > 0) {
        int ch = format_input_getc(src);
        if (ch == kEndOfInput) {
            break;
        }
        if ((conv == 's' && IsStringSpace(ch)) ||
            (conv == '[' && ScanSetHas(*set, static_cast<unsigned>(ch)) == dir->bNegateSet)) {
            format_input_unget(src, ch);
            break;
        }
        if (dir->bWidthGiven) {
            --dir->iWidth;
        }
        if (!dir->bSuppress) {
            if (dir->uiDestLeft == 0) {
                // The field does not fit: leave an empty text rather than a cut one.
                TerminateAt(dest, wide, 0);
                return Outcome::kStop;
            }
            if (wide) {
                static_cast<wchar_t*>(dest)[stored] = ReadWideChar(src, ch);
            } else {
                static_cast<char*>(dest)[stored] = static_cast<char>(ch);
            }
            ++stored;
            --dir->uiDestLeft;
        }
        ++taken;
    }

    if (taken == 0) {
        return Outcome::kStop;
    }
    if (!dir->bSuppress && terminated) {
        TerminateAt(dest, wide, stored);
    }
    return Outcome::kDone;
}

// ---- Literal text ---------------------------------------------------------------------

// A format byte that may continue a multibyte character. A "%" always starts a
// directive and the terminator always ends the format: pairing either with the byte
// before would shift every directive after it onto values the caller never passed.
bool ContinuesCharacter(unsigned char formatByte) { return formatByte != '%' && formatByte != '\0'; }

// Matches one character of ordinary format text, or all bytes of a multibyte character
// that starts with it. Returns false at the first mismatch, with that input byte put back.
bool MatchLiteral(format_input_source* src, const unsigned char** format) {
    const unsigned char* f = *format;
    int ch = format_input_getc(src);
    if (ch != *f) {
        format_input_unget(src, ch);
        return false;
    }
    ++f;
    if (format_input_is_high_char(ch) && ContinuesCharacter(*f)) {
        int second = format_input_getc(src);
        if (second != *f) {
            format_input_unget(src, second);
            return false;
        }
        ++f;
        if (MB_CUR_MAX > 2 && ch >= 0xE0 && format_input_is_high_char(second) && ContinuesCharacter(*f)) {
            int third = format_input_getc(src);
            bool whole = false;
            if (third != kEndOfInput) {
                const char bytes[3] = {static_cast<char>(ch), static_cast<char>(second), static_cast<char>(third)};
                std::mbstate_t state{};
                wchar_t wide = 0;
                whole = std::mbrtowc(&wide, bytes, sizeof(bytes), &state) == sizeof(bytes);
            }
            if (whole) {
                if (third != *f) {
                    format_input_unget(src, third);
                    return false;
                }
                ++f;
            } else {
                // Not a three-byte character: the byte is matched as ordinary text next.
                format_input_unget(src, third);
            }
        }
    }
    *format = f;
    return true;
}

// ---- The engine -----------------------------------------------------------------------

bool IsKnownConversion(int conv) {
    switch (conv) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'p':
        case 'e': case 'f': case 'g':
        case 'c': case 's': case '[': case 'n':
            return true;
        default:
            return false;
    }
}

// Reads the prefix after "%" (width, "*", length modifiers) and returns the conversion
// character as written; *format is left on it.
int ParsePrefix(const unsigned char** format, ScanSpec* dir) {
    const unsigned char* f = *format;
    for (;;) {
        const unsigned char c = *f;
        if (c >= '0' && c <= '9') {
            // A width beyond the int range cannot limit anything: it saturates.
            int64_t width = static_cast<int64_t>(dir->iWidth) * 10 + (c - '0');
            dir->iWidth = width > INT32_MAX ? INT32_MAX : static_cast<int32_t>(width);
            dir->bWidthGiven = true;
            ++f;
            continue;
        }
        switch (c) {
            case '*':
                dir->bSuppress = true;
                ++f;
                continue;
            case 'F':
            case 'N':
                ++f;
                continue;
            case 'h':
                SizeCodeAdd(dir, -1);
                dir->iCharWidth = -1;
                ++f;
                continue;
            case 'l':
                dir->b64Bit = true;
                if (f[1] == 'l') {
                    SizeCodeAdd(dir, 2);
                    f += 2;
                } else {
                    SizeCodeAdd(dir, 1);
                    dir->iCharWidth = 1;
                    ++f;
                }
                continue;
            case 'L':
            case 'j':
            case 'q':
            case 't':
            case 'z':
                SizeCodeAdd(dir, 2);
                dir->b64Bit = true;
                ++f;
                continue;
            case 'w':
                dir->iCharWidth = 1;
                ++f;
                continue;
            case 'I':
                if (f[1] == '6' && f[2] == '4') {
                    dir->b64Bit = true;
                    f += 3;
                    continue;
                }
                if (f[1] == '3' && f[2] == '2') {
                    f += 3;
                    continue;
                }
                dir->b64Bit = true;
                if (f[1] == 'd' || f[1] == 'i' || f[1] == 'o' || f[1] == 'x' || f[1] == 'X') {
                    ++f;
                    continue;
                }
                // A lone I is itself an i conversion; what follows is ordinary text.
                *format = f;
                return 'I';
            default:
                *format = f;
                return c;
        }
    }
}

struct EngineState {
    int iAssigned = 0;
    int64_t llConversions = 0;  // conversions carried out, suppressed ones and n included
};

// Carries out one "%" directive. *format points at the "%" and is left past the
// directive when the conversion is done.
Outcome ScanOne(format_input_source* src, const unsigned char** format, va_list* args, FloatText* text,
                EngineState* state) {
    const unsigned char* f = *format + 1;
    ScanSpec dir;
    const int written = ParsePrefix(&f, &dir);
    if (written == '{') {
        return Outcome::kStop;
    }
    int conv = written;
    if (conv >= 'A' && conv <= 'Z') {
        conv += 'a' - 'A';
    }
    if (conv == 'p') {
        dir.b64Bit = true;
    }
    const bool known = IsKnownConversion(conv);

    void* dest = nullptr;
    if (known && !dir.bSuppress) {
        dest = va_arg(*args, void*);
        if (dest == nullptr) {
            return Outcome::kRefused;
        }
    }
    if (dir.iCharWidth == 0) {
        dir.iCharWidth = (written == 'S' || written == 'C') ? 1 : -1;
    }

    int first = 0;
    if (conv != 'n') {
        first = (conv == 'c' || conv == '[') ? format_input_getc(src) : format_input_skip_space(src);
        if (first == kEndOfInput) {
            return Outcome::kStop;
        }
    }
    if (dir.bWidthGiven && dir.iWidth == 0) {
        return Outcome::kStop;
    }

    if (!known) {
        // Any other conversion character stands for itself and must be in the input.
        if (first != written) {
            return Outcome::kRefused;
        }
        *format = f + 1;
        return Outcome::kDone;
    }

    if (conv == 'c' || conv == 's' || conv == '[') {
        if (!dir.bSuppress) {
            dir.uiDestLeft = va_arg(*args, unsigned);
            const uint32_t limit = dir.iCharWidth > 0 ? kMaxWideDestSize : kMaxNarrowDestSize;
            if (dir.uiDestLeft == 0 || dir.uiDestLeft > limit) {
                return Outcome::kStop;
            }
        }
    }

    Outcome outcome;
    const unsigned char* after = f + 1;
    switch (conv) {
        case 'n':
            if (!dir.bSuppress) {
                StoreUnsigned(dest, StoreWidth(dir), static_cast<uint64_t>(static_cast<int64_t>(src->iConsumed)));
            }
            outcome = Outcome::kDone;
            break;
        case 'e':
        case 'f':
        case 'g':
            outcome = ScanFloat(src, &dir, first, dest, text);
            break;
        case 'c':
        case 's':
            outcome = ScanCharacters(src, &dir, conv, first, dest, nullptr);
            break;
        case '[': {
            ScanSet set;
            after = f + 1;
            if (!ParseScanSet(&after, &set, &dir.bNegateSet)) {
                if (!dir.bSuppress) {
                    TerminateAt(dest, dir.iCharWidth > 0, 0);
                }
                return Outcome::kStop;
            }
            outcome = ScanCharacters(src, &dir, conv, first, dest, &set);
            break;
        }
        default:
            outcome = ScanInteger(src, &dir, conv, first, dest);
            break;
    }
    if (outcome == Outcome::kDone) {
        ++state->llConversions;
        if (!dir.bSuppress && conv != 'n') {
            ++state->iAssigned;
        }
        *format = after;
    }
    return outcome;
}

int RunEngine(format_input_source* src, const char* format, va_list* args, FloatText* text) {
    EngineState state;
    const unsigned char* f = reinterpret_cast<const unsigned char*>(format);
    bool refused = false;

    while (*f != '\0') {
        if (std::isspace(*f)) {
            format_input_unget(src, format_input_skip_space(src));
            while (std::isspace(*f)) {
                ++f;
            }
            continue;
        }
        if (*f != '%') {
            if (!MatchLiteral(src, &f)) {
                break;
            }
            continue;
        }
        const Outcome outcome = ScanOne(src, &f, args, text, &state);
        if (outcome == Outcome::kRefused) {
            refused = true;
            break;
        }
        if (outcome == Outcome::kStop) {
            break;
        }
        // At the end of the input only a following %n is still carried out.
        if (src->iLast == kEndOfInput && !(f[0] == '%' && f[1] == 'n')) {
            break;
        }
    }

    // A refused format or NULL destination is a failure even when the input had ended.
    if (refused) {
        return kRefusedFormat;
    }
    if (src->iLast == kEndOfInput && state.iAssigned == 0 && state.llConversions == 0) {
        return -1;
    }
    return state.iAssigned;
}

// Returns the fields stored, -1 when the input ended before any conversion, or -2 for a
// refused format or a NULL destination.
int format_input_engine(format_input_source* src, const char* format, va_list* args) {
    FloatText text;
    std::memset(text.acStack, 0, sizeof(text.acStack));
    text.pcHeap = nullptr;
    text.uSize = sizeof(text.acStack);
    text.uLen = 0;

    const int result = RunEngine(src, format, args, &text);

    // Numbers read may be secrets of the caller's: leave none of their digits behind.
    (void)memset_s(text.acStack, sizeof(text.acStack), 0, sizeof(text.acStack));
    if (text.pcHeap != nullptr) {
        (void)memset_s(text.pcHeap, text.uSize, 0, text.uSize);
        std::free(text.pcHeap);
    }
    return result;
}

}  // namespace

int vsscanf_s(const char* buffer, const char* format, va_list argList) {
    if (buffer == nullptr || format == nullptr) {
        return -1;
    }
    const size_t length = strnlen(buffer, kTextLimit);
    if (length == 0 || length >= kTextLimit) {
        return -1;
    }
    format_input_source src{};
    src.pucText = reinterpret_cast<const unsigned char*>(buffer);
    src.iUnread = static_cast<int32_t>(length);

    va_list args;
    va_copy(args, argList);
    const int result = format_input_engine(&src, format, &args);
    va_end(args);
    return result >= 0 ? result : -1;
}

int sscanf_s(const char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vsscanf_s(buffer, format, args);
    va_end(args);
    return result;
}
