#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sec_lib.h"

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;

// A destination of `size` bytes followed by guard bytes; any write past the size shows.
struct Dest {
    explicit Dest(size_t size) : size(size), bytes(size + kGuardBytes, kGuard) {}
    void* p() { return bytes.data(); }
    char* str() { return reinterpret_cast<char*>(bytes.data()); }
    bool GuardIntact() const {
        for (size_t i = size; i < bytes.size(); ++i) {
            if (bytes[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    bool Untouched() const {
        for (unsigned char b : bytes) {
            if (b != kGuard) {
                return false;
            }
        }
        return true;
    }
    size_t size;
    std::vector<unsigned char> bytes;
};

// The same for wide destinations, counted in 32-bit characters.
struct WideDest {
    static constexpr wchar_t kWideGuard = static_cast<wchar_t>(0x5A5A5A5A);
    explicit WideDest(size_t size) : size(size), chars(size + 4, kWideGuard) {}
    wchar_t* p() { return chars.data(); }
    bool GuardIntact() const {
        for (size_t i = size; i < chars.size(); ++i) {
            if (chars[i] != kWideGuard) {
                return false;
            }
        }
        return true;
    }
    size_t size;
    std::vector<wchar_t> chars;
};

// A format or text held in a heap block of exactly its length, so that reading past its
// terminator is caught by the address sanitizer.
struct ExactText {
    explicit ExactText(const std::string& text) : block(new char[text.size() + 1]) {
        std::memcpy(block.get(), text.c_str(), text.size() + 1);
    }
    const char* get() const { return block.get(); }
    std::unique_ptr<char[]> block;
};

// Switches the process to a UTF-8 locale for one test and back afterwards.
struct Utf8Locale {
    Utf8Locale() : previous(std::setlocale(LC_ALL, nullptr)) {
        active = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    }
    ~Utf8Locale() { std::setlocale(LC_ALL, previous.c_str()); }
    std::string previous;
    bool active = false;
};

// ---- Integers -------------------------------------------------------------------------

struct IntCase {
    const char* text;
    const char* format;  // one integer conversion, then %n
    int result;
    size_t width;  // bytes stored; 0 when the field is not stored
    uint64_t bits;
    int consumed;  // what the %n stores; -1 when the scan ends before it
};

constexpr uint64_t kAllOnes = ~0ULL;
constexpr uint64_t kInt64Min = 0x8000000000000000ULL;
constexpr uint64_t kInt64Max = 0x7FFFFFFFFFFFFFFFULL;

const IntCase kIntCases[] = {
    // The header line the download client reads, and one of another name.
    {"Content-Length: 1234\r\n", "Content-Length: %d%n", 1, 4, 1234, 20},
    {"Content-Type: 1234\r\n", "Content-Length: %d%n", 0, 0, 0, -1},
    // End of input before any conversion; a lone sign is such an end too.
    {"   ", "%d%n", -1, 0, 0, -1},
    {"-", "%d%n", -1, 0, 0, -1},
    {"abc", "%d%n", 0, 0, 0, -1},
    {"+5", "%d%n", 1, 4, 5, 2},
    {"  -0", "%d%n", 1, 4, 0, 4},
    // Prefixes and bases.
    {"0x1F", "%x%n", 1, 4, 31, 4},
    {"0x1F", "%i%n", 1, 4, 31, 4},
    {"017", "%i%n", 1, 4, 15, 3},
    {"08", "%i%n", 1, 4, 0, 1},
    {"-0x10", "%i%n", 1, 4, 0xFFFFFFF0, 5},
    {"0x1F", "%p%n", 1, 8, 0, 1},
    {"1F", "%hp%n", 1, 8, 0x1F, 2},
    {"0xg", "%x%n", 0, 0, 0, -1},
    {"78", "%o%n", 1, 4, 7, 1},
    {"ff", "%X%n", 1, 4, 255, 2},
    {"12", "%D%n", 1, 4, 12, 2},
    // Widths count the sign and the 0x prefix.
    {"12345", "%3d%n", 1, 4, 123, 3},
    {"-5", "%1d%n", 0, 0, 0, -1},
    {"0x1F", "%2x%n", 0, 0, 0, -1},
    {"0x1F", "%3x%n", 1, 4, 1, 3},
    {"0x1", "%1i%n", 1, 4, 0, 1},
    {"5", "%0d%n", 0, 0, 0, -1},
    {"123", "%99999999999d%n", 1, 4, 123, 3},
    // An int destination keeps the low 32 bits; past 2^63 a signed field saturates.
    {"4294967296", "%u%n", 1, 4, 0, 10},
    {"-1", "%u%n", 1, 4, 0xFFFFFFFF, 2},
    {"-4294967296", "%u%n", 1, 4, 0, 11},
    {"-4294967297", "%u%n", 1, 4, 0xFFFFFFFF, 11},
    {"3000000000", "%d%n", 1, 4, 3000000000u, 10},
    {"9223372036854775807", "%d%n", 1, 4, 0xFFFFFFFF, 19},
    {"9223372036854775808", "%d%n", 1, 4, 0xFFFFFFFF, 19},
    {"-9223372036854775807", "%d%n", 1, 4, 1, 20},
    {"-9223372036854775808", "%d%n", 1, 4, 0, 20},
    {"123456789", "%x%n", 1, 4, 0x23456789, 9},
    // 64-bit destinations.
    {"18446744073709551616", "%lu%n", 1, 8, kAllOnes, 20},
    {"-9223372036854775809", "%ld%n", 1, 8, kInt64Min, 20},
    {"-9223372036854775808", "%ld%n", 1, 8, kInt64Min, 20},
    {"9223372036854775808", "%ld%n", 1, 8, kInt64Max, 19},
    {"99999999999999999999", "%lld%n", 1, 8, kInt64Max, 20},
    // The overflow mark sits exactly past 2^64 - 1 in every base.
    {"-18446744073709551615", "%lu%n", 1, 8, 1, 21},
    {"-18446744073709551616", "%lu%n", 1, 8, kAllOnes, 21},
    {"-1777777777777777777777", "%lo%n", 1, 8, 1, 23},
    {"-2000000000000000000000", "%lo%n", 1, 8, kAllOnes, 23},
    {"-ffffffffffffffff", "%lx%n", 1, 8, 1, 17},
    {"-10000000000000000", "%lx%n", 1, 8, kAllOnes, 18},
    // Short and char destinations.
    {"70000", "%hd%n", 1, 2, 4464, 5},
    {"300", "%hhd%n", 1, 1, 44, 3},
    {"-128", "%hhd%n", 1, 1, 0x80, 4},
    {"-1", "%hhu%n", 1, 1, 0xFF, 2},
    {"18446744073709551614", "%hu%n", 1, 2, 0xFFFE, 20},
    {"18446744073709551616", "%hu%n", 1, 2, 0xFFFF, 20},
    {"99999999999999999999", "%hd%n", 1, 2, 0xFFFF, 20},
    {"-99999999999999999999", "%hd%n", 1, 2, 0, 21},
    // Every 64-bit modifier, and the ones that change nothing.
    {"-5", "%lld%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%Ld%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%jd%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%qd%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%td%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%zd%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%I64d%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%Id%n", 1, 8, static_cast<uint64_t>(-5), 2},
    {"-5", "%I32d%n", 1, 4, 0xFFFFFFFB, 2},
    {"-5", "%FNd%n", 1, 4, 0xFFFFFFFB, 2},
    // A lone I is an i conversion and the letter after it is ordinary text.
    {"7u", "%Iu%n", 1, 8, 7, 2},
    {"017x", "%Iu%n", 1, 8, 15, -1},
};

TEST(SscanfInteger, StoresTheTabledValueAtTheModifiersWidth) {
    for (const IntCase& c : kIntCases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\" format \"" + c.format + "\"");
        Dest dest(8);
        int consumed = -1;
        EXPECT_EQ(sscanf_s(c.text, c.format, dest.p(), &consumed), c.result);
        uint64_t bits = 0;
        std::memcpy(&bits, dest.bytes.data(), c.width);
        if (c.width > 0) {
            EXPECT_EQ(bits, c.bits & (c.width == 8 ? kAllOnes : ((1ULL << (8 * c.width)) - 1)));
        }
        for (size_t i = c.width; i < dest.bytes.size(); ++i) {
            ASSERT_EQ(dest.bytes[i], kGuard) << "byte " << i << " written past the field";
        }
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(SscanfInteger, TwentySevenUnsignedCountersOnOneLine) {
    // The shape of the statistics line the platform reads: 27 %lu fields.
    std::string line;
    std::string format;
    for (int i = 0; i < 27; ++i) {
        line += std::to_string(1000000000000ULL * static_cast<uint64_t>(i) + 7) + " ";
        format += "%lu ";
    }
    uint64_t v[27];
    std::fill(std::begin(v), std::end(v), 0xDEADULL);
    int result = sscanf_s(line.c_str(), format.c_str(), &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                          &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16],
                          &v[17], &v[18], &v[19], &v[20], &v[21], &v[22], &v[23], &v[24], &v[25], &v[26]);
    EXPECT_EQ(result, 27);
    for (int i = 0; i < 27; ++i) {
        EXPECT_EQ(v[i], 1000000000000ULL * static_cast<uint64_t>(i) + 7) << "field " << i;
    }
}

TEST(SscanfInteger, SuppressedFieldsTakeNoDestinationButCountAsConversions) {
    int value = 0;
    EXPECT_EQ(sscanf_s("1 2", "%*d%d", &value), 1);
    EXPECT_EQ(value, 2);
    // Suppressed conversions alone, then the end of input: 0 fields, not the -1 of an
    // input that ended before anything was converted.
    EXPECT_EQ(sscanf_s("1 2", "%*d %*d"), 0);

    // More than 127 conversions must still count as conversions carried out.
    std::string text;
    std::string format;
    for (int i = 0; i < 256; ++i) {
        text += i == 0 ? "1" : " 1";
        format += "%*d";
    }
    EXPECT_EQ(sscanf_s(text.c_str(), format.c_str()), 0);
}

// ---- Floating point -------------------------------------------------------------------

enum class FloatKind { kNone, kFloat, kDouble, kLongDouble };

struct FloatCase {
    const char* text;
    const char* format;  // one floating conversion, then %n
    int result;
    FloatKind kind;
    long double value;
    int consumed;
};

const long double kInf = std::numeric_limits<long double>::infinity();

const FloatCase kFloatCases[] = {
    {"3.25", "%f%n", 1, FloatKind::kFloat, 3.25L, 4},
    {"-1.5e3x", "%lf%n", 1, FloatKind::kDouble, -1500.0L, 6},
    {"+2.5", "%Lf%n", 1, FloatKind::kLongDouble, 2.5L, 4},
    {"0.1", "%Lf%n", 1, FloatKind::kLongDouble, 0.1L, 3},
    {"0.1", "%llf%n", 1, FloatKind::kLongDouble, 0.1L, 3},
    {"0.1", "%lf%n", 1, FloatKind::kDouble, static_cast<long double>(0.1), 3},
    {"0.1", "%f%n", 1, FloatKind::kFloat, static_cast<long double>(0.1f), 3},
    {"1e+5", "%le%n", 1, FloatKind::kDouble, 1e5L, 4},
    {"2.5e-1", "%lg%n", 1, FloatKind::kDouble, 0.25L, 6},
    {"2.5", "%E%n", 1, FloatKind::kFloat, 2.5L, 3},
    {"1ex", "%lf%n", 1, FloatKind::kDouble, 1.0L, 2},
    {".5", "%lf%n", 1, FloatKind::kDouble, 0.5L, 2},
    {"1.5.5", "%lf%n", 1, FloatKind::kDouble, 1.5L, 3},
    {"0x1p3", "%lf%n", 1, FloatKind::kDouble, 0.0L, 1},
    {"1.2345", "%3lf%n", 1, FloatKind::kDouble, static_cast<long double>(1.2), 3},
    {"-1.5", "%1lf%n", 0, FloatKind::kNone, 0, -1},
    {"1e400", "%lf%n", 1, FloatKind::kDouble, kInf, 5},
    {"1e300", "%f%n", 1, FloatKind::kFloat, kInf, 5},
    {".x", "%f%n", 0, FloatKind::kNone, 0, -1},
    {".", "%f%n", -1, FloatKind::kNone, 0, -1},
    {"-", "%f%n", -1, FloatKind::kNone, 0, -1},
    {"e5", "%f%n", 0, FloatKind::kNone, 0, -1},
    // Modifiers add up however long the run: twelve "h" and six "L" are no modifier at all.
    {"5", "%hhhhhhhhhhhhLLLLLLf%n", 1, FloatKind::kFloat, 5.0L, 1},
    {"5", "%hhhhhhhhhhhhLLLLLLLf%n", 1, FloatKind::kLongDouble, 5.0L, 1},
};

long double StoredFloat(FloatKind kind, const Dest& dest) {
    switch (kind) {
        case FloatKind::kFloat: {
            float v;
            std::memcpy(&v, dest.bytes.data(), sizeof(v));
            return v;
        }
        case FloatKind::kDouble: {
            double v;
            std::memcpy(&v, dest.bytes.data(), sizeof(v));
            return v;
        }
        case FloatKind::kLongDouble: {
            long double v;
            std::memcpy(&v, dest.bytes.data(), sizeof(v));
            return v;
        }
        default:
            return 0;
    }
}

size_t FloatWidth(FloatKind kind) {
    switch (kind) {
        case FloatKind::kFloat:
            return sizeof(float);
        case FloatKind::kDouble:
            return sizeof(double);
        case FloatKind::kLongDouble:
            return 10;  // the x87 value bytes; the rest of the 16 is padding
        default:
            return 0;
    }
}

TEST(SscanfFloat, StoresAtThePrecisionOfTheModifier) {
    for (const FloatCase& c : kFloatCases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\" format \"" + c.format + "\"");
        Dest dest(sizeof(long double));
        int consumed = -1;
        EXPECT_EQ(sscanf_s(c.text, c.format, dest.p(), &consumed), c.result);
        if (c.kind != FloatKind::kNone) {
            EXPECT_EQ(StoredFloat(c.kind, dest), c.value);
        }
        for (size_t i = FloatWidth(c.kind); i < dest.bytes.size(); ++i) {
            if (c.kind == FloatKind::kLongDouble && i < sizeof(long double)) {
                continue;
            }
            ASSERT_EQ(dest.bytes[i], kGuard) << "byte " << i;
        }
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(SscanfFloat, NumbersLongerThanTheStackTextAreReadWhole) {
    // 350 characters fit on the stack; longer numbers move to the heap, several times
    // over for the longest one.
    const std::string threeHundredZeros(300, '0');
    struct {
        std::string text;
        double value;
    } cases[] = {
        {"3.14159" + std::string(400, '0'), 3.14159},
        {"1" + std::string(3000, '0') + "e-3000", 1.0},
        {"-0." + threeHundredZeros + "25e300", -0.25},
        {std::string(5000, '9'), HUGE_VAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        double value = 0;
        int consumed = -1;
        EXPECT_EQ(sscanf_s(c.text.c_str(), "%lf%n", &value, &consumed), 1);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(consumed, static_cast<int>(c.text.size()));
    }
    // The following field is still read after a long number.
    const std::string two = "2." + std::string(1000, '5') + " 7";
    double first = 0;
    int second = 0;
    EXPECT_EQ(sscanf_s(two.c_str(), "%lf %d", &first, &second), 2);
    EXPECT_EQ(second, 7);
}

TEST(SscanfFloat, SuppressedFieldIsReadOver) {
    int value = 0;
    EXPECT_EQ(sscanf_s("1.5e3 7", "%*f %d", &value), 1);
    EXPECT_EQ(value, 7);
}

// ---- Characters, strings and scansets -------------------------------------------------

TEST(SscanfString, StopsAtWhitespaceAndNeverWritesPastTheSize) {
    struct {
        const char* text;
        const char* format;
        unsigned size;
        int result;
        const char* stored;  // nullptr: destination untouched
    } cases[] = {
        {"abc def", "%s", 4, 1, "abc"},
        {"  abc\tdef", "%s", 4, 1, "abc"},
        {"abcdefgh", "%5s", 10, 1, "abcde"},
        {"abcd", "%s", 5, 1, "abcd"},
        // A word one longer than the room: the destination is emptied, not cut.
        {"abcd", "%s", 4, 0, ""},
        {"abcd 5", "%s", 4, 0, ""},
        {"a", "%s", 1, 0, ""},
        // A size of 0 or beyond the limit ends the scan before anything is written.
        {"abc", "%s", 0, 0, nullptr},
        {"abc", "%s", 0x80000000u, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.format + " / " + std::to_string(c.size));
        Dest dest(c.size > 64 ? 64 : c.size);
        EXPECT_EQ(sscanf_s(c.text, c.format, dest.p(), c.size), c.result);
        if (c.stored == nullptr) {
            EXPECT_TRUE(dest.Untouched());
        } else {
            EXPECT_STREQ(dest.str(), c.stored);
            EXPECT_TRUE(dest.GuardIntact());
        }
    }
}

TEST(SscanfString, OverflowEndsTheScanWithTheEarlierFieldsKept) {
    int number = 0;
    Dest word(4);
    int after = -1;
    EXPECT_EQ(sscanf_s("12 abcd 34", "%d %s %d", &number, word.p(), 4u, &after), 1);
    EXPECT_EQ(number, 12);
    EXPECT_STREQ(word.str(), "");
    EXPECT_EQ(after, -1);
    EXPECT_TRUE(word.GuardIntact());
}

TEST(SscanfChar, TakesWhitespaceAndAddsNoTerminator) {
    Dest one(1);
    EXPECT_EQ(sscanf_s(" x", "%c", one.p(), 1u), 1);
    EXPECT_EQ(one.bytes[0], ' ');
    EXPECT_TRUE(one.GuardIntact());

    Dest three(3);
    EXPECT_EQ(sscanf_s("a\tcd", "%3c", three.p(), 3u), 1);
    EXPECT_EQ(std::string(three.str(), 3), "a\tc");
    EXPECT_TRUE(three.GuardIntact());

    // The input ends first: fewer characters, still one field.
    Dest short3(3);
    EXPECT_EQ(sscanf_s("ab", "%3c", short3.p(), 3u), 1);
    EXPECT_EQ(std::string(short3.str(), 2), "ab");
    EXPECT_EQ(short3.bytes[2], kGuard);

    // More characters than room: the first byte becomes the terminator.
    Dest two(2);
    EXPECT_EQ(sscanf_s("abc", "%3c", two.p(), 2u), 0);
    EXPECT_EQ(two.bytes[0], 0);
    EXPECT_TRUE(two.GuardIntact());

    // Suppressed: no pointer and no size are taken.
    Dest after(1);
    EXPECT_EQ(sscanf_s("xy", "%*c%c", after.p(), 1u), 1);
    EXPECT_EQ(after.bytes[0], 'y');
}

TEST(SscanfScanset, MembersRangesAndNegation) {
    struct {
        const char* text;
        const char* format;
        int result;
        const char* stored;  // nullptr: destination untouched
        int consumed;        // -1: the %n after the set was not reached
    } cases[] = {
        {"abcd", "%[a-c]%n", 1, "abc", 3},
        {"x,y", "%[^,]%n", 1, "x", 1},
        {"]a]b", "%[]a]%n", 1, "]a]", 3},
        {"]^x", "%[^]]%n", 0, nullptr, -1},
        // The leading "]" is a member like any other and may open a range.
        {"]^_`a-", "%[]-a]%n", 1, "]^_`a", 5},
        {"-x^", "%[^]-a]%n", 1, "-x", 2},
        {"x]y", "%[^]]%n", 1, "x", 1},
        {"z-ab", "%[z-a]%n", 1, "z-a", 3},
        {"zyx", "%[z-a]%n", 1, "z", 1},
        {"-a-b", "%[-a]%n", 1, "-a-", 3},
        {"a-b", "%[a-]%n", 1, "a-", 2},
        {"  a", "%[a ]%n", 1, "  a", 3},
        {"xyz", "%[a-c]%n", 0, nullptr, -1},
        {"abcabc", "%4[abc]%n", 1, "abca", 4},
        // A set the format never closes leaves an empty text.
        {"abc", "%[abc", 0, "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.format);
        Dest dest(8);
        int consumed = -1;
        ExactText format(c.format);
        EXPECT_EQ(sscanf_s(c.text, format.get(), dest.p(), 8u, &consumed), c.result);
        if (c.stored == nullptr) {
            EXPECT_TRUE(dest.Untouched());
        } else {
            EXPECT_STREQ(dest.str(), c.stored);
            EXPECT_TRUE(dest.GuardIntact());
        }
        EXPECT_EQ(consumed, c.consumed);
    }

    // A high byte range works on the byte values.
    Dest high(8);
    EXPECT_EQ(sscanf_s("\xC3\xA9z", "%[\x80-\xFF]", high.p(), 8u), 1);
    EXPECT_STREQ(high.str(), "\xC3\xA9");

    // A set that fills its destination exactly overflows like a string.
    Dest full(3);
    EXPECT_EQ(sscanf_s("aaa", "%[a]", full.p(), 3u), 0);
    EXPECT_EQ(full.bytes[0], 0);
    EXPECT_TRUE(full.GuardIntact());
}

TEST(SscanfWide, MultibyteInputBecomesWideCharacters) {
    Utf8Locale locale;
    ASSERT_TRUE(locale.active);

    WideDest word(8);
    EXPECT_EQ(sscanf_s("h\xC3\xA9llo w", "%ls", word.p(), 8u), 1);
    EXPECT_EQ(std::wstring(word.p()), L"h\u00e9llo");
    EXPECT_TRUE(word.GuardIntact());

    // S is wide unless a modifier says narrow.
    WideDest upper(4);
    EXPECT_EQ(sscanf_s("\xE5\x90\x8D!", "%S", upper.p(), 4u), 1);
    EXPECT_EQ(std::wstring(upper.p()), L"\u540d!");
    Dest narrowS(4);
    EXPECT_EQ(sscanf_s("ab", "%hS", narrowS.p(), 4u), 1);
    EXPECT_STREQ(narrowS.str(), "ab");

    // One character, 32 bits, no terminator.
    WideDest one(1);
    EXPECT_EQ(sscanf_s("\xE2\x82\xAC", "%lc", one.p(), 1u), 1);
    EXPECT_EQ(one.chars[0], L'\u20ac');
    EXPECT_TRUE(one.GuardIntact());
    WideDest c(1);
    EXPECT_EQ(sscanf_s("x", "%C", c.p(), 1u), 1);
    EXPECT_EQ(c.chars[0], L'x');

    // A broken sequence becomes "?" and does not swallow the characters after it.
    WideDest broken(8);
    EXPECT_EQ(sscanf_s("\xFF" "ab \xE4" "c d", "%ls %ls", broken.p(), 8u, word.p(), 8u), 2);
    EXPECT_EQ(std::wstring(broken.p()), L"?ab");
    EXPECT_EQ(std::wstring(word.p()), L"?c");
    WideDest cut(8);
    EXPECT_EQ(sscanf_s("a\xE5\x90", "%ls", cut.p(), 8u), 1);
    EXPECT_EQ(std::wstring(cut.p()), L"a?");

    // Wide overflow empties the destination; a wide size beyond its limit ends the scan.
    WideDest small(3);
    EXPECT_EQ(sscanf_s("h\xC3\xA9llo", "%ls", small.p(), 3u), 0);
    EXPECT_EQ(small.chars[0], L'\0');
    EXPECT_TRUE(small.GuardIntact());
    WideDest limit(2);
    EXPECT_EQ(sscanf_s("ab", "%ls", limit.p(), 0x20000000u), 0);
    EXPECT_EQ(limit.chars[0], WideDest::kWideGuard);

    WideDest set(8);
    EXPECT_EQ(sscanf_s("ab\xC3\xA9,", "%l[^,]", set.p(), 8u), 1);
    EXPECT_EQ(std::wstring(set.p()), L"ab\u00e9");
    WideDest open(8);
    EXPECT_EQ(sscanf_s("ab", "%l[ab", open.p(), 8u), 0);
    EXPECT_EQ(open.chars[0], L'\0');
}

// ---- %n, literals, results ------------------------------------------------------------

TEST(SscanfCount, StoresCharactersConsumedWithoutCountingAField) {
    Dest word(8);
    int n = -1;
    EXPECT_EQ(sscanf_s("abc", "%s%n", word.p(), 8u, &n), 1);
    EXPECT_EQ(n, 3);

    // After the end of the input only a %n that follows at once is carried out.
    int value = 0;
    n = -1;
    EXPECT_EQ(sscanf_s("12", "%d %n", &value, &n), 1);
    EXPECT_EQ(n, -1);

    // The width modifiers apply; suppression takes no pointer.
    Dest wide(8);
    EXPECT_EQ(sscanf_s("  ab", " %hhn%*n%s", wide.p(), word.p(), 8u), 1);
    EXPECT_EQ(wide.bytes[0], 2);
    EXPECT_EQ(wide.bytes[1], kGuard);
    Dest n64(8);
    EXPECT_EQ(sscanf_s("abc ", "%*s%lln", n64.p()), 0);
    uint64_t stored = 0;
    std::memcpy(&stored, n64.bytes.data(), 8);
    EXPECT_EQ(stored, 3u);
}

TEST(SscanfLiteral, FormatTextAndLiteralConversions) {
    struct {
        const char* text;
        const char* format;
        int result;
    } cases[] = {
        {"%", "%%", 0},
        {"x", "%%", -1},
        {"5%", "%d%%", 1},
        {"5 %", "%d%%", 1},
        {"5x", "%d%%", -1},
        {"y", "%y", 0},
        {"z", "%y", -1},
        {"Y", "%y", -1},
        {"Y", "%Y", 0},
        {"y", "%Y", -1},
        {"a5", "a%d", 1},
        {"b5", "a%d", 0},
        {"a", "a%d", -1},
        {"  5", " \t %d", 1},
        {"5 x", "%d%{", 1},
        // A format that ends inside a "%" directive is refused and never read past.
        {"abcd", "abc%", -1},
        {"5 6", "%d %l", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.format);
        ExactText format(c.format);
        int value = 0;
        EXPECT_EQ(sscanf_s(c.text, format.get(), &value), c.result);
    }

    // A lone I at the end: an i conversion, then the 6 is ordinary text.
    ExactText loneI("%d %I6");
    int first = 0;
    Dest second(8);
    EXPECT_EQ(sscanf_s("5 7", loneI.get(), &first, second.p()), 2);
    uint64_t stored = 0;
    std::memcpy(&stored, second.bytes.data(), 8);
    EXPECT_EQ(stored, 7u);
}

TEST(SscanfLiteral, MultibyteFormatTextMatchesWholeCharacters) {
    Utf8Locale locale;
    ASSERT_TRUE(locale.active);
    int value = 0;
    // Two characters that share their first two bytes.
    EXPECT_EQ(sscanf_s("\xE5\x90\x8D:5", "\xE5\x90\x8D:%d", &value), 1);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(sscanf_s("\xE5\x90\x8E:5", "\xE5\x90\x8D:%d", &value), 0);
    EXPECT_EQ(sscanf_s("\xC3\xA9=7", "\xC3\xA9=%d", &value), 1);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(sscanf_s("\xC3\xA8=7", "\xC3\xA9=%d", &value), 0);
    // A format that ends inside a character is a mismatch and is not read past.
    ExactText truncated("\xE5");
    EXPECT_EQ(sscanf_s("\xE5\x90\x8D", truncated.get()), 0);
    ExactText truncated2("\xE5\x90");
    EXPECT_EQ(sscanf_s("\xE5\x90\x8D", truncated2.get()), 0);
    // Input that ends inside the character.
    EXPECT_EQ(sscanf_s("\xE5\x90", "\xE5\x90\x8D%d", &value), -1);
}

TEST(SscanfLiteral, TopBitByteNeverTakesAPercentSignOrTheEnd) {
    // A byte with its top bit set pairs with the next format byte only when that byte
    // can continue a character: a "%" after it still opens a directive, so the format
    // never turns into conversions whose destinations were not passed.
    struct {
        const char* text;
        const char* format;
        int result;
        int value;  // what the one destination holds afterwards
    } cases[] = {
        {"\xFF%7", "\xFF%%d", 0, -1},      // "%%" is a literal percent sign, "d" plain text
        {"\xFF%d", "\xFF%%d", 0, -1},
        {"\xFF%5", "\xFF%%%d", 1, 5},
        {"\xC3%5", "\xC3%%%d", 1, 5},
        {"\xE5\x90%5", "\xE5\x90%%%d", 1, 5},
        {"\xFF" "5", "\xFF%d", 1, 5},
        {"\xC3\xA9=7", "\xC3\xA9=%d", 1, 7},  // a real two-byte character still pairs
    };
    for (const char* localeName : {"C", "C.UTF-8"}) {
        const std::string previous = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(std::setlocale(LC_ALL, localeName), nullptr) << localeName;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(localeName) + ": " + c.format);
            ExactText format(c.format);
            int value = -1;
            EXPECT_EQ(sscanf_s(c.text, format.get(), &value), c.result);
            EXPECT_EQ(value, c.value);
        }
        // No destination at all: the directive the pairing used to invent would have
        // read one from past the end of the value list.
        ExactText bare("\xFF%%d");
        EXPECT_EQ(sscanf_s("\xFF%7", bare.get()), 0);
        std::setlocale(LC_ALL, previous.c_str());
    }
}

TEST(SscanfArguments, NullAndEmptyInputsGiveMinusOne) {
    int value = 7;
    EXPECT_EQ(sscanf_s(nullptr, "%d", &value), -1);
    EXPECT_EQ(sscanf_s("5", nullptr), -1);
    // An empty text is refused before the format is looked at: the %n stays unwritten.
    EXPECT_EQ(sscanf_s("", "%n", &value), -1);
    EXPECT_EQ(value, 7);
    // A NULL destination refuses the call, also after earlier fields were stored.
    EXPECT_EQ(sscanf_s("5", "%d", static_cast<int*>(nullptr)), -1);
    EXPECT_EQ(sscanf_s("5 6", "%d%d", &value, static_cast<int*>(nullptr)), -1);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(sscanf_s("5", "%d%n", &value, static_cast<int*>(nullptr)), -1);
    EXPECT_EQ(sscanf_s("5", "%s", static_cast<char*>(nullptr), 4u), -1);
}

TEST(SscanfArguments, ValueListFormPassesTheListThrough) {
    auto scan = [](const char* text, const char* format, ...) {
        va_list args;
        va_start(args, format);
        int result = vsscanf_s(text, format, args);
        va_end(args);
        return result;
    };
    int a = 0;
    Dest word(6);
    unsigned hex = 0;
    EXPECT_EQ(scan("12 name ff", "%d %s %x", &a, word.p(), 6u, &hex), 3);
    EXPECT_EQ(a, 12);
    EXPECT_STREQ(word.str(), "name");
    EXPECT_EQ(hex, 0xFFu);
    EXPECT_EQ(scan("", "%d", &a), -1);
}

// ---- Random texts ---------------------------------------------------------------------

// A fixed set of formats read over random texts: whatever the text, no destination is
// written past its size, every stored text is terminated inside its destination and the
// result stays within its range.
struct Slots {
    Slots() : ints(6, Dest(16)), texts{Dest(1), Dest(4), Dest(8), Dest(3)}, wide(5) {}
    std::vector<Dest> ints;
    std::vector<Dest> texts;
    WideDest wide;
};

struct FuzzFormat {
    int fields;
    std::vector<int> textFieldSlots;  // per field: the text slot it fills, or -1
    std::function<int(const char*, Slots&)> scan;
};

TEST(SscanfRandom, RandomTextsStayInsideEveryDestination) {
    Utf8Locale locale;
    ASSERT_TRUE(locale.active);
    const std::vector<FuzzFormat> formats = {
        {3, {-1, 2, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%d %s %c", s.ints[0].p(), s.texts[2].p(), 8u, s.texts[0].p(), 1u);
         }},
        {2, {1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%5[a-z0-9]%n%lu", s.texts[1].p(), 4u, s.ints[0].p(), s.ints[1].p());
         }},
        {2, {-1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%3c%x", s.texts[3].p(), 3u, s.ints[1].p());
         }},
        {2, {-1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%lf%ls", s.ints[0].p(), s.wide.p(), 5u);
         }},
        {3, {-1, -1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%hhd%hd%lld", s.ints[0].p(), s.ints[1].p(), s.ints[2].p());
         }},
        {3, {-1, -1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%i%o%p", s.ints[0].p(), s.ints[1].p(), s.ints[2].p());
         }},
        {2, {0, 1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%[^,],%*s%3s", s.texts[0].p(), 1u, s.texts[1].p(), 4u);
         }},
        {1, {-1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "Content-Length: %d", s.ints[0].p());
         }},
        {3, {-1, -1, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%e%8g%Lf", s.ints[0].p(), s.ints[1].p(), s.ints[2].p());
         }},
        {2, {2, -1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "%%%[]x-]%%%2d", s.texts[2].p(), 8u, s.ints[0].p());
         }},
        {1, {-1}, [](const char* t, Slots& s) {
             return sscanf_s(t, "\xC3\xA9 %l[^\xC3]", s.wide.p(), 5u);
         }},
    };
    const std::vector<std::string> pieces = {
        "0", "1", "7", "9", "-", "+", "0x", "x", "X", "f", ".", "e", "E", " ", "\t", "\n",
        ",", "%", "[", "]", "a", "z", "\xC3\xA9", "\xE5\x90\x8D", "\xFF", "\xE5",
        "Content-Length: ", "18446744073709551616", "-9223372036854775809", "1e400",
        "abcdefghij"};

    std::mt19937 random(20240611);
    for (int round = 0; round < 10000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            text += pieces[random() % pieces.size()];
        }
        ExactText exact(text);
        for (const FuzzFormat& f : formats) {
            Slots slots;
            const int result = f.scan(exact.get(), slots);
            ASSERT_GE(result, -1) << text;
            ASSERT_LE(result, f.fields) << text;
            for (Dest& d : slots.ints) {
                ASSERT_TRUE(d.GuardIntact()) << text;
            }
            for (Dest& d : slots.texts) {
                ASSERT_TRUE(d.GuardIntact()) << text;
            }
            ASSERT_TRUE(slots.wide.GuardIntact()) << text;
            for (int field = 0; field < result; ++field) {
                const int slot = f.textFieldSlots[field];
                if (slot >= 0) {
                    const Dest& d = slots.texts[slot];
                    ASSERT_LT(strnlen(reinterpret_cast<const char*>(d.bytes.data()), d.size), d.size) << text;
                }
            }
        }
    }
}

}  // namespace
