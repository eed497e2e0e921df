// Fuzz target of the bounded formatter (vsnprintf_s, vsprintf_s).
//
// Input: one byte of switches (bit 0: vsprintf_s instead of vsnprintf_s; bit 1: UTF-8
// locale instead of "C"; bits 2 and 3: count at or just above its limit; bit 4: texts
// cut at their precision without a terminator), two bytes for the destination size,
// two for the count, the format up to a zero byte, then the bytes the values are drawn
// from, in the order the format takes them.
//
// The target reads the format with its own model of the grammar to give every
// conversion a value of the type it takes: integers and floating values straight from
// the input bytes (any bit pattern), texts as separate heap blocks of exactly their
// size, counted texts as records over such blocks. Checks: nothing is written past the
// destination size; the result is -1 or the length written, terminated and within the
// bounds; a format the grammar refuses never succeeds.

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

// ---- The grammar, as a table of classes and states --------------------------------------

enum Class { kOther, kPercent, kDot, kStar, kZero, kDigit, kFlag, kSize, kType };
enum State { kNormal, kPercentSeen, kFlagSeen, kWidth, kDotSeen, kPrecision, kSizeSeen, kTypeSeen, kInvalid };

Class ClassOf(unsigned char c) {
    if (c < 0x20 || c > 'z') {
        return kOther;
    }
    if (c == '%') return kPercent;
    if (c == '.') return kDot;
    if (c == '*') return kStar;
    if (c == '0') return kZero;
    if (c >= '1' && c <= '9') return kDigit;
    if (std::strchr(" #+-", c) != nullptr) return kFlag;
    if (std::strchr("FILNhjlqtwz", c) != nullptr) return kSize;
    if (std::strchr("CEGSXZcdefgiopsux", c) != nullptr) return kType;
    return kOther;
}

// Rows: class; columns: the state the character is met in (INVALID is never one).
constexpr State kNext[9][8] = {
    /* other   */ {kNormal, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kNormal},
    /* percent */ {kPercentSeen, kNormal, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kPercentSeen},
    /* dot     */ {kNormal, kDotSeen, kDotSeen, kDotSeen, kInvalid, kInvalid, kInvalid, kNormal},
    /* star    */ {kNormal, kWidth, kWidth, kInvalid, kPrecision, kInvalid, kInvalid, kNormal},
    /* zero    */ {kNormal, kFlagSeen, kFlagSeen, kWidth, kPrecision, kPrecision, kInvalid, kNormal},
    /* digit   */ {kNormal, kWidth, kWidth, kWidth, kPrecision, kPrecision, kInvalid, kNormal},
    /* flag    */ {kNormal, kFlagSeen, kFlagSeen, kInvalid, kInvalid, kInvalid, kInvalid, kNormal},
    /* size    */ {kNormal, kSizeSeen, kSizeSeen, kSizeSeen, kSizeSeen, kSizeSeen, kSizeSeen, kNormal},
    /* type    */ {kNormal, kTypeSeen, kTypeSeen, kTypeSeen, kTypeSeen, kTypeSeen, kTypeSeen, kNormal},
};

// The length modifiers of one conversion.
struct Modifiers {
    bool h = false, hh = false, l = false, ll = false, L = false, q = false;
    bool j = false, t = false, z = false, w = false, I = false, I64 = false;
};

int IntegerBits(const Modifiers& m) {
    if (m.I || m.I64 || m.ll || m.L || m.q || m.l) return 64;
    if (m.hh) return 8;
    if (m.h) return 16;
    if (m.t || m.z || m.j) return 64;
    return 32;
}

// The counted-text record %Z reads.
struct CountedText {
    int16_t length;
    uint16_t maximumLength;
    const char* buffer;
};

// Values made for one call; they live until the call has returned.
struct Values {
    ValueList list;
    std::vector<std::unique_ptr<char[]>> texts;
    std::vector<std::unique_ptr<wchar_t[]>> wideTexts;
    std::vector<std::unique_ptr<CountedText>> counted;
};

// A narrow text, in a block of exactly its size. With a precision and the switch set,
// a text at least that long is cut to the precision and given no terminator: the
// formatter must not read past what the precision allows.
const char* MakeText(Reader& in, Values& v, int32_t precision, bool cutAtPrecision) {
    if (in.Byte() == 0) {
        return nullptr;
    }
    std::string s = in.Text();
    size_t size = s.size() + 1;
    if (cutAtPrecision && precision >= 0 && static_cast<size_t>(precision) <= s.size()) {
        size = static_cast<size_t>(precision);
    }
    std::unique_ptr<char[]> block(new char[size == 0 ? 1 : size]);
    std::memcpy(block.get(), s.c_str(), size);
    v.texts.push_back(std::move(block));
    return v.texts.back().get();
}

const wchar_t* MakeWideText(Reader& in, Values& v, int32_t precision, bool cutAtPrecision) {
    const uint8_t head = in.Byte();
    if (head == 0) {
        return nullptr;
    }
    size_t n = head % 12;
    std::vector<wchar_t> chars;
    for (size_t i = 0; i < n; ++i) {
        // Mostly plain characters; now and then any 32-bit value, valid or not.
        const uint8_t kind = in.Byte();
        wchar_t c = (kind & 0x80) != 0 ? static_cast<wchar_t>(in.U32()) : static_cast<wchar_t>(kind % 0x7F + 1);
        if (c == 0) {
            c = L'?';
        }
        chars.push_back(c);
    }
    size_t size = n + 1;
    if (cutAtPrecision && precision >= 0 && static_cast<size_t>(precision) <= n) {
        size = static_cast<size_t>(precision);
    }
    chars.push_back(0);
    std::unique_ptr<wchar_t[]> block(new wchar_t[size == 0 ? 1 : size]);
    std::memcpy(block.get(), chars.data(), size * sizeof(wchar_t));
    v.wideTexts.push_back(std::move(block));
    return v.wideTexts.back().get();
}

const CountedText* MakeCounted(Reader& in, Values& v) {
    const uint8_t head = in.Byte();
    if (head == 0) {
        return nullptr;
    }
    std::unique_ptr<CountedText> record(new CountedText{});
    record->length = static_cast<int16_t>(in.U16());
    record->maximumLength = in.U16();
    if (head != 1) {
        // Exactly as many bytes as the length says, and no terminator.
        const size_t size = record->length > 0 ? static_cast<size_t>(record->length) : 0;
        std::unique_ptr<char[]> block(new char[size == 0 ? 1 : size]);
        for (size_t i = 0; i < size; ++i) {
            block[i] = static_cast<char>(in.Byte());
        }
        record->buffer = block.get();
        v.texts.push_back(std::move(block));
    }
    v.counted.push_back(std::move(record));
    return v.counted.back().get();
}

int32_t AddDigit(int32_t value, char digit) {
    const int64_t next = static_cast<int64_t>(value) * 10 + (digit - '0');
    if (next > INT32_MAX) return INT32_MAX;
    if (next < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(next);
}

// Walks the format as the grammar reads it and gives every value it takes. Returns
// false when the grammar refuses the format (an invalid character in a conversion, or
// a format that ends inside one).
bool BuildValues(const std::string& format, Reader& in, Values& v, bool cutAtPrecision) {
    State state = kNormal;
    Modifiers m;
    int32_t precision = -1;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const State next = kNext[ClassOf(static_cast<unsigned char>(c))][state];
        state = next;
        switch (next) {
            case kPercentSeen:
                m = Modifiers{};
                precision = -1;
                break;
            case kWidth:
                if (c == '*') {
                    v.list.Int(static_cast<int32_t>(in.U32()));
                }
                break;
            case kDotSeen:
                precision = 0;
                break;
            case kPrecision:
                if (c == '*') {
                    const int32_t p = static_cast<int32_t>(in.U32());
                    v.list.Int(p);
                    precision = p < 0 ? -1 : p;
                } else {
                    precision = AddDigit(precision, c);
                }
                break;
            case kSizeSeen: {
                const char after = i + 1 < format.size() ? format[i + 1] : '\0';
                const char after2 = i + 2 < format.size() ? format[i + 2] : '\0';
                switch (c) {
                    case 'h':
                        if (after == 'h') {
                            m.hh = true;
                            ++i;
                        } else {
                            m.h = true;
                        }
                        break;
                    case 'l':
                        if (after == 'l') {
                            m.ll = true;
                            ++i;
                        } else {
                            m.l = true;
                        }
                        break;
                    case 'L': m.L = true; break;
                    case 'q': m.q = true; break;
                    case 'j': m.j = true; break;
                    case 't': m.t = true; break;
                    case 'z': m.z = true; break;
                    case 'w': m.w = true; break;
                    case 'I':
                        if (after == '6' && after2 == '4') {
                            m.I64 = true;
                            i += 2;
                        } else if (after == '3' && after2 == '2') {
                            i += 2;
                        } else if (after != '\0' && std::strchr("diouxX", after) != nullptr) {
                            m.I = true;
                        } else {
                            state = kNormal;  // the I is plain text
                        }
                        break;
                    default:  // F, N
                        break;
                }
                break;
            }
            case kTypeSeen:
                switch (c) {
                    case 'c':
                    case 'C':
                        v.list.Int(static_cast<int32_t>(in.U32()));
                        break;
                    case 's':
                    case 'S': {
                        bool wide = (m.l || m.w) && !m.h;
                        if (c == 'S' && !m.h && !m.l && !m.w) {
                            wide = true;
                        }
                        if (wide) {
                            v.list.Pointer(MakeWideText(in, v, precision, cutAtPrecision));
                        } else {
                            v.list.Pointer(MakeText(in, v, precision, cutAtPrecision));
                        }
                        break;
                    }
                    case 'Z':
                        v.list.Pointer(MakeCounted(in, v));
                        break;
                    case 'e':
                    case 'E':
                    case 'f':
                    case 'g':
                    case 'G':
                        if (m.L || m.q) {
                            long double x = 0;
                            uint64_t w[2] = {in.U64(), in.U16()};
                            std::memcpy(&x, w, 10);
                            v.list.LongDouble(x);
                        } else {
                            const uint64_t bits = in.U64();
                            double d = 0;
                            std::memcpy(&d, &bits, sizeof(d));
                            v.list.Double(d);
                        }
                        break;
                    case 'p':
                        v.list.Long(static_cast<int64_t>(in.U64()));
                        break;
                    default:  // d i u o x X
                        if (IntegerBits(m) == 64) {
                            v.list.Long(static_cast<int64_t>(in.U64()));
                        } else {
                            v.list.Int(static_cast<int32_t>(in.U32()));
                        }
                        break;
                }
                break;
            case kInvalid:
                return false;
            default:
                break;
        }
    }
    return state == kNormal || state == kTypeSeen;
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
    const bool useSprintf = (switches & 1) != 0;
    SetLocale((switches & 2) != 0);
    const size_t destMax = 1 + in.U16() % 600;
    size_t count = in.U16() % (destMax + 16);
    if ((switches & 4) != 0) {
        count = 0x7FFFFFFE;
    } else if ((switches & 8) != 0) {
        count = 0x7FFFFFFF;  // above the limit: refused
    }
    const bool cutAtPrecision = (switches & 16) != 0;
    const std::string format = in.Text();

    Values values;
    const bool grammarAccepts = BuildValues(format, in, values, cutAtPrecision);
    va_list args;
    values.list.Make(&args);

    // The format in a block of exactly its size: the formatter must stop at its end.
    std::unique_ptr<char[]> exactFormat(new char[format.size() + 1]);
    std::memcpy(exactFormat.get(), format.c_str(), format.size() + 1);

    Guarded dest(destMax);
    char* out = reinterpret_cast<char*>(dest.data());
    const int result = useSprintf ? vsprintf_s(out, destMax, exactFormat.get(), args)
                                  : vsnprintf_s(out, destMax, count, exactFormat.get(), args);

    const std::string what = std::string(useSprintf ? "vsprintf_s" : "vsnprintf_s") + " destMax " +
                             std::to_string(destMax) + " count " + std::to_string(count) + " format [" +
                             Printable(format) + "] result " + std::to_string(result);
    FUZZ_CHECK(dest.GuardIntact(), what);
    FUZZ_CHECK(result >= -1 && result < static_cast<int>(destMax), what);
    if (result >= 0) {
        FUZZ_CHECK(grammarAccepts, what + ": a format the grammar refuses succeeded");
        FUZZ_CHECK(out[result] == '\0', what + ": the text is not terminated at its length");
        FUZZ_CHECK(useSprintf || static_cast<size_t>(result) <= count, what + ": more than count written");
        FUZZ_CHECK(useSprintf || count <= 0x7FFFFFFE, what + ": a count above the limit was accepted");
    } else {
        // Failure leaves an empty text, except that text the caller's count cut short is
        // kept: count bytes and a terminator.
        const bool keptCut = !useSprintf && destMax > count && out[count] == '\0';
        FUZZ_CHECK(out[0] == '\0' || keptCut, what + ": a failure left text behind");
    }
    return 0;
}
