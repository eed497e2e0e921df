// Bounded formatted output: vsnprintf_s and vsprintf_s over one table-driven engine.
//
// The engine reads the format once, one character at a time, and looks up the next
// state from the character's class and the current state in one table. Every byte goes
// through a stream that knows how much room is left, so nothing is ever written past
// the size the caller gave. The engine is our own rather than the C library's: %n and
// %a are refused, "(nil)" and "(null)" are spelled out, precisions are capped, several
// wide-character and counted-text forms exist, and floating-point digits come from the
// library's own generator.

#include <array>
#include <cmath>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "sec_float.h"
#include "sec_lib.h"

namespace {

// ---------------------------------------------------------------------------------------
// Grammar

enum FormatState : uint8_t {
    STAT_NORMAL,
    STAT_PERCENT,
    STAT_FLAG,
    STAT_WIDTH,
    STAT_DOT,
    STAT_PRECISION,
    STAT_SIZE,
    STAT_TYPE,
    STAT_INVALID,
};
constexpr int kStateCount = 9;

enum FormatClass : uint8_t {
    CLASS_OTHER,
    CLASS_PERCENT,
    CLASS_DOT,
    CLASS_STAR,
    CLASS_ZERO,
    CLASS_DIGIT,
    CLASS_FLAG,
    CLASS_SIZE,
    CLASS_TYPE,
};
constexpr int kClassCount = 9;

// Next state by [class][current state]; INVALID is never a current state.
constexpr uint8_t kNextState[kClassCount][kStateCount - 1] = {
    //            NORMAL        PERCENT          FLAG           WIDTH           DOT              PRECISION        SIZE          TYPE
    /* other   */ {STAT_NORMAL, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_NORMAL},
    /* percent */ {STAT_PERCENT, STAT_NORMAL, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_PERCENT},
    /* dot     */ {STAT_NORMAL, STAT_DOT, STAT_DOT, STAT_DOT, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_NORMAL},
    /* star    */ {STAT_NORMAL, STAT_WIDTH, STAT_WIDTH, STAT_INVALID, STAT_PRECISION, STAT_INVALID, STAT_INVALID, STAT_NORMAL},
    /* zero    */ {STAT_NORMAL, STAT_FLAG, STAT_FLAG, STAT_WIDTH, STAT_PRECISION, STAT_PRECISION, STAT_INVALID, STAT_NORMAL},
    /* digit   */ {STAT_NORMAL, STAT_WIDTH, STAT_WIDTH, STAT_WIDTH, STAT_PRECISION, STAT_PRECISION, STAT_INVALID, STAT_NORMAL},
    /* flag    */ {STAT_NORMAL, STAT_FLAG, STAT_FLAG, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_INVALID, STAT_NORMAL},
    /* size    */ {STAT_NORMAL, STAT_SIZE, STAT_SIZE, STAT_SIZE, STAT_SIZE, STAT_SIZE, STAT_SIZE, STAT_NORMAL},
    /* type    */ {STAT_NORMAL, STAT_TYPE, STAT_TYPE, STAT_TYPE, STAT_TYPE, STAT_TYPE, STAT_TYPE, STAT_NORMAL},
};

constexpr char kFirstClassified = ' ';
constexpr char kLastClassified = 'z';
constexpr size_t kFormatTableSize = kLastClassified - kFirstClassified + 1;
static_assert(kFormatTableSize == 91, "one entry per character from space to 'z'");
static_assert((kClassCount - 1) * kStateCount + (kStateCount - 2) < kFormatTableSize,
              "the state half of the table fits");

constexpr bool In(char c, const char* set) {
    for (; *set != '\0'; ++set) {
        if (*set == c) {
            return true;
        }
    }
    return false;
}

constexpr uint8_t ClassOf(char c) {
    if (c == '%') return CLASS_PERCENT;
    if (c == '.') return CLASS_DOT;
    if (c == '*') return CLASS_STAR;
    if (c == '0') return CLASS_ZERO;
    if (c >= '1' && c <= '9') return CLASS_DIGIT;
    if (In(c, " #+-")) return CLASS_FLAG;
    if (In(c, "FILNhjlqtwz")) return CLASS_SIZE;
    if (In(c, "CEGSXZcdefgiopsux")) return CLASS_TYPE;
    return CLASS_OTHER;
}

// One table for both lookups: the low 4 bits of entry c - ' ' are the class of c, the
// high 4 bits of entry class * 9 + state are the next state.
constexpr std::array<uint8_t, kFormatTableSize> MakeFormatTable() {
    std::array<uint8_t, kFormatTableSize> table{};
    for (size_t i = 0; i < kFormatTableSize; ++i) {
        table[i] = ClassOf(static_cast<char>(kFirstClassified + i));
    }
    for (int cls = 0; cls < kClassCount; ++cls) {
        for (int state = 0; state < kStateCount - 1; ++state) {
            table[cls * kStateCount + state] |=
                static_cast<uint8_t>(kNextState[cls][state] << 4);
        }
    }
    return table;
}

constexpr std::array<uint8_t, kFormatTableSize> kFormatTable = MakeFormatTable();

inline FormatState NextState(unsigned char c, FormatState state) {
    const uint8_t cls = (c >= static_cast<unsigned char>(kFirstClassified) &&
                         c <= static_cast<unsigned char>(kLastClassified))
                            ? (kFormatTable[c - kFirstClassified] & 0x0F)
                            : CLASS_OTHER;
    return static_cast<FormatState>(kFormatTable[cls * kStateCount + state] >> 4);
}

// ---------------------------------------------------------------------------------------
// State of one conversion ("%...") while it is read

enum : uint32_t {
    FLAG_LEFT = 1u << 0,
    FLAG_PLUS = 1u << 1,
    FLAG_SPACE = 1u << 2,
    FLAG_ALT = 1u << 3,
    FLAG_ZERO = 1u << 4,
    FLAG_SHORT = 1u << 5,     // h
    FLAG_CHAR = 1u << 6,      // hh
    FLAG_LONG = 1u << 7,      // l
    FLAG_LONGLONG = 1u << 8,  // ll
    FLAG_LONGDBL = 1u << 9,   // L
    FLAG_QUAD = 1u << 10,     // q
    FLAG_INTMAX = 1u << 11,   // j
    FLAG_PTRDIFF = 1u << 12,  // t
    FLAG_SIZE = 1u << 13,     // z
    FLAG_WIDE = 1u << 14,     // w
    FLAG_I = 1u << 15,        // I
    FLAG_I64 = 1u << 16,      // I64
    FLAG_I32 = 1u << 17,      // I32
};

// Modifiers that keep the full 64-bit magnitude of an integer.
constexpr uint32_t kKeep64 = FLAG_INTMAX | FLAG_I | FLAG_I64 | FLAG_LONGLONG | FLAG_LONGDBL |
                             FLAG_QUAD | FLAG_LONG | FLAG_PTRDIFF | FLAG_SIZE;

struct FormatSpec {
    uint32_t flags;
    int32_t width;
    int32_t precision;  // -1: none
};

constexpr int32_t kTextBufSize = 512;
constexpr int32_t kIntPrecisionMax = 512;
constexpr int32_t kFloatPrecisionMaxDouble = 512;
constexpr int32_t kFloatPrecisionMaxLongDouble = 5120;
constexpr int32_t kFloatStackPrecisionMax = 163;

// Width and precision digits: a count too large for 32 bits stays at the largest one
// rather than wrapping into a negative or small number. A precision made negative by
// "*" (no precision) may still be followed by digits; it stays negative, at worst the
// smallest value, rather than wrapping into a positive precision.
int32_t AddDigit(int32_t value, char digit) {
    const int64_t next = static_cast<int64_t>(value) * 10 + (digit - '0');
    if (next > INT32_MAX) {
        return INT32_MAX;
    }
    if (next < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(next);
}

// ---------------------------------------------------------------------------------------
// Output stream

struct format_output_stream {
    int32_t count;  // bytes still free; below 0 once a byte did not fit
    char* cur;      // write position
};

struct FormatOutput {
    format_output_stream* stream;
    int32_t written;  // bytes written in this call, -1 once one did not fit
};

inline void format_put_char(char c, FormatOutput* out) {
    if (--out->stream->count >= 0) {
        *out->stream->cur++ = c;
        if (out->written >= 0) {
            ++out->written;
        }
    } else {
        out->written = -1;
    }
}

// n bytes of buf; the same as n calls of format_put_char that stop at the first failure.
void format_put_chars(const char* buf, int32_t n, FormatOutput* out) {
    if (n <= 0 || out->written < 0) {
        return;
    }
    format_output_stream* s = out->stream;
    if (s->count >= n) {
        memcpy(s->cur, buf, static_cast<size_t>(n));
        s->cur += n;
        s->count -= n;
        out->written += n;
        return;
    }
    if (s->count > 0) {
        memcpy(s->cur, buf, static_cast<size_t>(s->count));
        s->cur += s->count;
        out->written += s->count;
        s->count = 0;
    }
    --s->count;
    out->written = -1;
}

// The byte c n times (the fill), stopping at the first byte that does not fit.
void format_put_repeat(char c, int32_t n, FormatOutput* out) {
    if (n <= 0 || out->written < 0) {
        return;
    }
    format_output_stream* s = out->stream;
    if (s->count >= n) {
        memset(s->cur, c, static_cast<size_t>(n));
        s->cur += n;
        s->count -= n;
        out->written += n;
        return;
    }
    if (s->count > 0) {
        memset(s->cur, c, static_cast<size_t>(s->count));
        s->cur += s->count;
        out->written += s->count;
        s->count = 0;
    }
    --s->count;
    out->written = -1;
}

// Wide characters one by one through the locale's multibyte conversion. A character
// with no multibyte form fails the whole call.
void PutWideText(const wchar_t* text, int32_t n, FormatOutput* out) {
    char bytes[MB_LEN_MAX];
    mbstate_t state{};
    for (int32_t i = 0; i < n && out->written >= 0; ++i) {
        const size_t len = wcrtomb(bytes, text[i], &state);
        if (len == static_cast<size_t>(-1)) {
            out->written = -1;
            return;
        }
        format_put_chars(bytes, static_cast<int32_t>(len), out);
    }
}

int32_t ClampLength(size_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

// ---------------------------------------------------------------------------------------
// Conversions

// A counted text, as callers pass it to %Z: its length in bytes, its capacity (not
// read) and the text.
struct CountedText {
    int16_t length;
    uint16_t maximumLength;
    const char* buffer;
};

// The text of one conversion, ready to write.
struct Converted {
    const char* text = nullptr;
    const wchar_t* wideText = nullptr;  // set instead of text for a wide text
    int32_t len = 0;                    // bytes, or wide characters for a wide text
    char prefix[2] = {0, 0};
    int32_t prefixLen = 0;
    bool writeNothing = false;
    char* heap = nullptr;  // a floating-point text buffer, freed after writing
};

// The integer width the modifiers ask for, in the order the first match wins.
int IntegerBits(uint32_t flags) {
    if (flags & (FLAG_I | FLAG_I64 | FLAG_LONGLONG | FLAG_LONGDBL | FLAG_QUAD | FLAG_LONG)) {
        return 64;
    }
    if (flags & FLAG_CHAR) {
        return 8;
    }
    if (flags & FLAG_SHORT) {
        return 16;
    }
    if (flags & (FLAG_PTRDIFF | FLAG_SIZE | FLAG_INTMAX)) {
        return 64;
    }
    return 32;
}

void SignPrefix(bool negative, uint32_t flags, Converted* cv) {
    if (negative) {
        cv->prefix[cv->prefixLen++] = '-';
    } else if (flags & FLAG_PLUS) {
        cv->prefix[cv->prefixLen++] = '+';
    } else if (flags & FLAG_SPACE) {
        cv->prefix[cv->prefixLen++] = ' ';
    }
}

// c and C: one byte, or the multibyte form of one wide character.
void ConvertChar(char type, FormatSpec* dir, va_list& ap, char* textBuf, Converted* cv) {
    uint32_t& flags = dir->flags;
    bool wide = (flags & (FLAG_LONG | FLAG_WIDE)) != 0 && (flags & FLAG_SHORT) == 0;
    if (type == 'C' && (flags & (FLAG_SHORT | FLAG_LONG | FLAG_WIDE)) == 0) {
        wide = true;
    }
    flags &= ~FLAG_ZERO;
    if (wide) {
        const wchar_t wc = static_cast<wchar_t>(va_arg(ap, wint_t));
        mbstate_t state{};
        const size_t len = wcrtomb(textBuf, wc, &state);
        if (len == static_cast<size_t>(-1)) {
            // No multibyte form: this conversion writes nothing, fill included.
            cv->writeNothing = true;
            return;
        }
        cv->text = textBuf;
        cv->len = static_cast<int32_t>(len);
    } else {
        textBuf[0] = static_cast<char>(va_arg(ap, int));
        cv->text = textBuf;
        cv->len = 1;
    }
}

// s and S: a narrow or wide text, read no further than the precision.
void ConvertString(char type, FormatSpec* dir, va_list& ap, Converted* cv) {
    uint32_t& flags = dir->flags;
    bool wide = (flags & (FLAG_LONG | FLAG_WIDE)) != 0 && (flags & FLAG_SHORT) == 0;
    if (type == 'S' && (flags & (FLAG_SHORT | FLAG_LONG | FLAG_WIDE)) == 0) {
        wide = true;
    }
    flags &= ~FLAG_ZERO;
    const int32_t precision = dir->precision;
    if (wide) {
        const wchar_t* text = va_arg(ap, const wchar_t*);
        if (text == nullptr) {
            text = L"(null)";
        }
        cv->wideText = text;
        cv->len = ClampLength(precision >= 0 ? wcsnlen(text, static_cast<size_t>(precision))
                                             : wcslen(text));
    } else {
        const char* text = va_arg(ap, const char*);
        if (text == nullptr) {
            text = "(null)";
        }
        cv->text = text;
        cv->len = ClampLength(precision >= 0 ? strnlen(text, static_cast<size_t>(precision))
                                             : strlen(text));
    }
}

// Z: a counted text; its length decides, not a terminator, and no precision applies.
void ConvertCounted(const FormatSpec* dir, va_list& ap, Converted* cv) {
    const CountedText* counted = va_arg(ap, const CountedText*);
    if (counted == nullptr || counted->buffer == nullptr) {
        cv->text = "(null)";
        cv->len = 6;
        return;
    }
    // A negative length describes no text at all.
    const int32_t length = counted->length > 0 ? counted->length : 0;
    if (dir->flags & FLAG_WIDE) {
        static_assert(sizeof(wchar_t) == 4, "a counted wide text holds 4-byte characters");
        cv->wideText = reinterpret_cast<const wchar_t*>(counted->buffer);
        cv->len = length / 4;
    } else {
        cv->text = counted->buffer;
        cv->len = length;
    }
}

// Digits last to first, ending at `end`: one per step while the precision counted down
// is above 0 or the magnitude is not 0. Returns the first digit. The base is a constant
// so that the division compiles to a multiplication.
template <unsigned kBase>
char* WriteDigits(char* end, uint64_t magnitude, int32_t precision, const char* digitSet) {
    char* p = end;
    while (precision > 0 || magnitude != 0) {
        *--p = digitSet[magnitude % kBase];
        magnitude /= kBase;
        --precision;
    }
    return p;
}

// d i u o x X p: digits written backwards from the end of the text buffer.
void ConvertInteger(char type, FormatSpec* dir, va_list& ap, char* textBuf, Converted* cv) {
    uint32_t& flags = dir->flags;
    uint64_t magnitude = 0;
    bool negative = false;
    if (type == 'p') {
        magnitude = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(va_arg(ap, void*)));
    } else if (type == 'd' || type == 'i') {
        int64_t value;
        switch (IntegerBits(flags)) {
            case 64:
                value = va_arg(ap, long long);
                break;
            case 8:
                value = static_cast<signed char>(va_arg(ap, int));
                break;
            case 16:
                value = static_cast<short>(va_arg(ap, int));
                break;
            default:
                value = va_arg(ap, int);
                break;
        }
        if (value < 0) {
            negative = true;
            magnitude = 0 - static_cast<uint64_t>(value);
        } else {
            magnitude = static_cast<uint64_t>(value);
        }
    } else {
        switch (IntegerBits(flags)) {
            case 64:
                magnitude = va_arg(ap, unsigned long long);
                break;
            case 8:
                magnitude = static_cast<unsigned char>(va_arg(ap, unsigned int));
                break;
            case 16:
                magnitude = static_cast<unsigned short>(va_arg(ap, unsigned int));
                break;
            default:
                magnitude = va_arg(ap, unsigned int);
                break;
        }
    }
    if (type != 'p' && (flags & kKeep64) == 0) {
        magnitude &= 0xFFFFFFFFu;
    }

    int32_t precision = dir->precision;
    if (precision < 0) {
        // A pointer has no leading zeros; NULL gives no digits and is written "(nil)".
        precision = (type == 'p') ? 0 : 1;
    } else {
        if (type != 'p') {
            flags &= ~FLAG_ZERO;
        }
        if (precision > kIntPrecisionMax) {
            precision = kIntPrecisionMax;
        }
    }

    char* const end = textBuf + kTextBufSize;
    char* p;
    if (type == 'o') {
        p = WriteDigits<8>(end, magnitude, precision, "01234567");
    } else if (type == 'x' || type == 'p') {
        p = WriteDigits<16>(end, magnitude, precision, "0123456789abcdef");
    } else if (type == 'X') {
        p = WriteDigits<16>(end, magnitude, precision, "0123456789ABCDEF");
    } else {
        p = WriteDigits<10>(end, magnitude, precision, "0123456789");
    }

    if (type == 'o' && (flags & FLAG_ALT) && (p == end || *p != '0') && p > textBuf) {
        *--p = '0';
    }
    if (type == 'd' || type == 'i') {
        SignPrefix(negative, flags, cv);
    } else if (magnitude != 0 && (type == 'p' || ((type == 'x' || type == 'X') && (flags & FLAG_ALT)))) {
        cv->prefix[0] = '0';
        cv->prefix[1] = (type == 'X') ? 'X' : 'x';
        cv->prefixLen = 2;
    }
    if (type == 'p' && p == end) {
        cv->text = "(nil)";
        cv->len = 5;
        flags &= ~FLAG_ZERO;
        return;
    }
    cv->text = p;
    cv->len = static_cast<int32_t>(end - p);
}

// e f g E G: the text comes from the library's own digit generator.
void ConvertFloat(char type, FormatSpec* dir, va_list& ap, char* textBuf, Converted* cv) {
    uint32_t& flags = dir->flags;
    const bool isLong = (flags & (FLAG_LONGDBL | FLAG_QUAD)) != 0;
    double dValue = 0;
    long double ldValue = 0;
    if (isLong) {
        ldValue = va_arg(ap, long double);
    } else {
        dValue = va_arg(ap, double);
    }
    const char conv = static_cast<char>(type | 0x20);
    const bool capital = (type == 'E' || type == 'G');

    int32_t precision = dir->precision;
    if (precision < 0) {
        precision = 6;
    } else if (precision == 0 && conv == 'g') {
        precision = 1;
    }
    const int32_t cap = isLong ? kFloatPrecisionMaxLongDouble : kFloatPrecisionMaxDouble;
    if (precision > cap) {
        precision = cap;
    }

    char* buf = textBuf;
    size_t size = kTextBufSize;
    if (isLong) {
        size = static_cast<size_t>(precision) + kFloatDigitBufLongDouble;
        cv->heap = static_cast<char*>(malloc(size));
        if (cv->heap == nullptr) {
            // The value has been taken; without a buffer there is no text.
            textBuf[0] = '\0';
            size = 0;
        } else {
            buf = cv->heap;
        }
    } else if (precision > kFloatStackPrecisionMax) {
        size = static_cast<size_t>(precision) + kFloatDigitBufDouble;
        cv->heap = static_cast<char*>(malloc(size));
        if (cv->heap == nullptr) {
            // Cost precision, not the call.
            precision = kFloatStackPrecisionMax;
            size = kTextBufSize;
        } else {
            buf = cv->heap;
        }
    }
    if (size != 0) {
        format_float_convert(buf, size, conv, precision, capital, isLong, dValue, ldValue);
    }

    const bool finite = isLong ? std::isfinite(ldValue) : std::isfinite(dValue);
    if (!finite) {
        // Zeros in front of "inf" or "nan" would read as a number.
        flags &= ~FLAG_ZERO;
    }
    bool negative = false;
    if (buf[0] == '-') {
        negative = true;
        ++buf;
    }
    SignPrefix(negative, flags, cv);
    cv->text = buf;
    cv->len = ClampLength(strlen(buf));
}

void WriteConverted(const FormatSpec& dir, const Converted& cv, FormatOutput* out) {
    if (cv.writeNothing) {
        return;
    }
    const uint32_t flags = dir.flags;
    const int64_t rawFill = static_cast<int64_t>(dir.width) - cv.len - cv.prefixLen;
    const int32_t fill = rawFill > 0 ? static_cast<int32_t>(rawFill) : 0;
    if ((flags & (FLAG_LEFT | FLAG_ZERO)) == 0) {
        format_put_repeat(' ', fill, out);
    }
    format_put_chars(cv.prefix, cv.prefixLen, out);
    if ((flags & FLAG_ZERO) != 0 && (flags & FLAG_LEFT) == 0) {
        format_put_repeat('0', fill, out);
    }
    if (cv.wideText != nullptr) {
        PutWideText(cv.wideText, cv.len, out);
    } else {
        format_put_chars(cv.text, cv.len, out);
    }
    if ((flags & FLAG_LEFT) != 0 && out->written != -1) {
        format_put_repeat(' ', fill, out);
    }
}

void ConvertAndWrite(char type, FormatSpec* dir, va_list& ap, char* textBuf, FormatOutput* out) {
    Converted cv;
    switch (type) {
        case 'c':
        case 'C':
            ConvertChar(type, dir, ap, textBuf, &cv);
            break;
        case 's':
        case 'S':
            ConvertString(type, dir, ap, &cv);
            break;
        case 'Z':
            ConvertCounted(dir, ap, &cv);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
            ConvertFloat(type, dir, ap, textBuf, &cv);
            break;
        default:  // d i u o x X p
            ConvertInteger(type, dir, ap, textBuf, &cv);
            break;
    }
    WriteConverted(*dir, cv, out);
    free(cv.heap);
}

// Records one length modifier; *format points at the character after it, and a
// modifier that takes following characters with it advances it. Returns false for an I
// that starts no known form: that I is plain text.
bool RecordSize(char c, const char** format, FormatSpec* dir) {
    const char* next = *format;
    switch (c) {
        case 'h':
            if (*next == 'h') {
                dir->flags |= FLAG_CHAR;
                ++*format;
            } else {
                dir->flags |= FLAG_SHORT;
            }
            return true;
        case 'l':
            if (*next == 'l') {
                dir->flags |= FLAG_LONGLONG;
                ++*format;
            } else {
                dir->flags |= FLAG_LONG;
            }
            return true;
        case 'L':
            dir->flags |= FLAG_LONGDBL;
            return true;
        case 'q':
            dir->flags |= FLAG_QUAD;
            return true;
        case 'j':
            dir->flags |= FLAG_INTMAX;
            return true;
        case 't':
            dir->flags |= FLAG_PTRDIFF;
            return true;
        case 'z':
            dir->flags |= FLAG_SIZE;
            return true;
        case 'w':
            dir->flags |= FLAG_WIDE;
            return true;
        case 'I':
            if (next[0] == '6' && next[1] == '4') {
                dir->flags |= FLAG_I64;
                *format += 2;
                return true;
            }
            if (next[0] == '3' && next[1] == '2') {
                dir->flags |= FLAG_I32;
                *format += 2;
                return true;
            }
            if (*next != '\0' && In(*next, "diouxX")) {
                dir->flags |= FLAG_I;
                return true;
            }
            return false;
        default:  // F, N: accepted, no effect
            return true;
    }
}

// Runs the grammar over the format and writes through the stream. Returns the count of
// bytes written, or -1 for an invalid format, a format that ends inside a
// directive, a full stream or a wide text with no multibyte form.
int32_t format_output_engine(format_output_stream* stream, const char* format, va_list argList) {
    FormatOutput out{stream, 0};
    FormatSpec dir{0, 0, -1};
    FormatState state = STAT_NORMAL;
    char textBuf[kTextBufSize];
    va_list ap;
    va_copy(ap, argList);

    const char* p = format;
    while (p != nullptr && *p != '\0' && out.written >= 0) {
        const char c = *p++;
        state = NextState(static_cast<unsigned char>(c), state);
        switch (state) {
            case STAT_NORMAL: {
                // Every byte up to the next '%' or the end leaves the grammar in this
                // state and is written as it stands, so the whole run goes in one
                // bounded write: the same bytes, and the same stop at the first byte
                // that does not fit, as one write per byte. A run longer than a count
                // can hold is written in parts.
                const char* run = p - 1;
                const size_t len = static_cast<size_t>(strchrnul(p, '%') - run);
                const int32_t n = ClampLength(len);
                format_put_chars(run, n, &out);
                p = run + n;
                break;
            }
            case STAT_PERCENT:
                dir = FormatSpec{0, 0, -1};
                break;
            case STAT_FLAG:
                switch (c) {
                    case '-':
                        dir.flags |= FLAG_LEFT;
                        break;
                    case '+':
                        dir.flags |= FLAG_PLUS;
                        break;
                    case ' ':
                        dir.flags |= FLAG_SPACE;
                        break;
                    case '#':
                        dir.flags |= FLAG_ALT;
                        break;
                    default:  // '0'
                        dir.flags |= FLAG_ZERO;
                        break;
                }
                break;
            case STAT_WIDTH:
                if (c == '*') {
                    int32_t w = va_arg(ap, int);
                    if (w < 0) {
                        dir.flags |= FLAG_LEFT;
                        w = (w == INT32_MIN) ? INT32_MAX : -w;
                    }
                    dir.width = w;
                } else {
                    dir.width = AddDigit(dir.width, c);
                }
                break;
            case STAT_DOT:
                dir.precision = 0;
                break;
            case STAT_PRECISION:
                if (c == '*') {
                    const int32_t v = va_arg(ap, int);
                    dir.precision = v < 0 ? -1 : v;
                } else {
                    dir.precision = AddDigit(dir.precision, c);
                }
                break;
            case STAT_SIZE:
                if (!RecordSize(c, &p, &dir)) {
                    // "%I" not followed by a known form: the I is text, and so is what
                    // follows it.
                    format_put_char('I', &out);
                    state = STAT_NORMAL;
                }
                break;
            case STAT_TYPE:
                ConvertAndWrite(c, &dir, ap, textBuf, &out);
                break;
            default:  // STAT_INVALID
                va_end(ap);
                return -1;
        }
    }
    va_end(ap);
    if (state == STAT_NORMAL || state == STAT_TYPE) {
        return out.written;
    }
    return -1;
}

constexpr int kCoreTruncated = -2;

// Formats into buffer (size bytes) and terminates the result. The terminator counts as
// one more byte of output: an output that exactly fills the buffer has no room for it
// and is a truncation like any longer one. Returns the length, -1 for a failure of the
// format or of a conversion, kCoreTruncated when the output with its terminator did not
// fit.
int vsnprintf_core(char* buffer, size_t size, const char* format, va_list argList) {
    format_output_stream stream{static_cast<int32_t>(size), buffer};
    const int32_t result = format_output_engine(&stream, format, argList);
    if (result >= 0 && --stream.count >= 0) {
        *stream.cur = '\0';
        return result;
    }
    buffer[size - 1] = '\0';
    return stream.count < 0 ? kCoreTruncated : -1;
}

bool DestValid(char* strDest, size_t destMax) {
    return strDest != nullptr && destMax != 0 && destMax <= SEC_MAX_SIZE;
}

}  // namespace

// Formats into strDest. Output that does not fit is never kept: the destination is
// left empty and the result is -1.
int vsprintf_s(char* strDest, size_t destMax, const char* format, va_list argList) {
    if (format == nullptr || !DestValid(strDest, destMax)) {
        if (strDest != nullptr && destMax != 0) {
            strDest[0] = '\0';
        }
        return -1;
    }
    const int result = vsnprintf_core(strDest, destMax, format, argList);
    if (result >= 0) {
        return result;
    }
    strDest[0] = '\0';
    return -1;
}

// Formats at most count bytes into strDest. Text is cut short and kept only when the
// caller's count is what cuts it (the result is then -1); when the destination's size
// is what cuts it, the call fails with an empty destination.
int vsnprintf_s(char* strDest, size_t destMax, size_t count, const char* format,
                va_list argList) {
    if (format == nullptr || !DestValid(strDest, destMax) || count > SEC_MAX_SIZE - 1) {
        if (strDest != nullptr && destMax != 0) {
            strDest[0] = '\0';
        }
        return -1;
    }
    int result;
    if (destMax > count) {
        result = vsnprintf_core(strDest, count + 1, format, argList);
        if (result == kCoreTruncated) {
            // The first count bytes and a terminator stay.
            return -1;
        }
    } else {
        result = vsnprintf_core(strDest, destMax, format, argList);
        strDest[destMax - 1] = '\0';
    }
    if (result < 0) {
        strDest[0] = '\0';
        return -1;
    }
    return result;
}
