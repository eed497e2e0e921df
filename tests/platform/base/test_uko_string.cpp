#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <random>
#include <string>

#include "uko_string.h"
#include "vt_test/child_process.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(UkoString, NullPointersGetTheFixedAnswers) {
    char buf[8] = "abc";
    EXPECT_EQ(UKO_SafeStrLen(nullptr), 0u);
    EXPECT_EQ(UKO_SafeStrNLen(nullptr, 5), 0u);
    EXPECT_EQ(UKO_SafeStrNLen("abcdef", 4), 4u);
    EXPECT_EQ(UKO_SafeStrCpy(buf, nullptr), buf);
    EXPECT_EQ(UKO_SafeStrCpy(nullptr, "x"), nullptr);
    EXPECT_EQ(UKO_SafeStrNCpy(buf, nullptr, 3), buf);
    EXPECT_EQ(UKO_SafeStrCat(buf, nullptr), buf);
    EXPECT_EQ(UKO_SafeStrNCat(buf, nullptr, 2), buf);
    EXPECT_STREQ(buf, "abc") << "nothing copied or appended";
    EXPECT_EQ(UKO_SafeStrChr(nullptr, 'a'), nullptr);
    EXPECT_EQ(UKO_SafeStrRChr(nullptr, 'a'), nullptr);
    EXPECT_EQ(UKO_SafeStrStr(nullptr, "a"), nullptr);
    EXPECT_EQ(UKO_SafeStrStr("a", nullptr), nullptr);
    EXPECT_EQ(UKO_SafeStrPbrk("a", nullptr), nullptr);
    EXPECT_EQ(UKO_SafeStrSpn(nullptr, "a"), 0u);
    EXPECT_EQ(UKO_SafeMemSet(nullptr, 0, 4), nullptr);
    EXPECT_EQ(UKO_SafeMemCmp(nullptr, "a", 1), 0);
    EXPECT_EQ(UKO_SafeMemChr(nullptr, 'a', 1), nullptr);
    EXPECT_EQ(UKO_MemChr(nullptr, 'a', 1), nullptr);

    // A copy of nothing succeeds even without pointers; a move never does.
    EXPECT_EQ(UKO_SafeMemCpy(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(UKO_SafeMemCpy(buf, nullptr, 0), buf);
    EXPECT_EQ(UKO_SafeMemCpy(buf, nullptr, 1), nullptr);
    EXPECT_EQ(UKO_SafeMemMove(buf, nullptr, 0), nullptr);
    EXPECT_EQ(UKO_SafeMemMove(nullptr, buf, 0), nullptr);
    EXPECT_EQ(UKO_SafeMemMove(buf + 1, buf, 3), buf + 1);
    EXPECT_EQ(std::memcmp(buf, "aabc", 4), 0);
}

TEST(UkoString, ComparisonsAnswerOneForASingleNull) {
    EXPECT_EQ(UKO_SafeStrCmp(nullptr, "a"), 1);
    EXPECT_EQ(UKO_SafeStrCmp("a", nullptr), 1);
    EXPECT_EQ(UKO_SafeStrCmp(nullptr, nullptr), 0);
    EXPECT_EQ(UKO_SafeStrNCmp(nullptr, nullptr, 4), 0);
    EXPECT_EQ(UKO_SafeStrNCmp(nullptr, "a", 4), 1);
    EXPECT_EQ(UKO_SafeStrNCmp("a", nullptr, 4), 1);
    EXPECT_LT(UKO_SafeStrCmp("a", "b"), 0);
    EXPECT_EQ(UKO_SafeStrNCmp("abcX", "abcY", 3), 0);
    EXPECT_GT(UKO_SafeStrNCmp("abcY", "abcX", 4), 0);
}

TEST(UkoString, CaseBlindComparisons) {
    static const char kSame[] = "Same";
    struct Case {
        const char* a;
        const char* b;
        int icmp;   // sign of UKO_SafeStrICmp
        size_t n;
        int nicmp;  // sign of UKO_SafeStrNICmp with n
    } cases[] = {
        {"Hello", "hELLO", 0, 5, 0},
        {"abc", "ABD", -1, 2, 0},
        {"abc", "ABD", -1, 3, -1},
        {"abc", "ab", 1, 8, 1},
        {"ab", "abc", -1, 8, -1},
        {"b", "A", 1, 1, 1},
        {"[", "{", -1, 1, -1},  // brackets are no letters: no folding
        {"@", "`", -1, 1, -1},
        {"x", "y", -1, 0, 0},   // nothing compared
        {kSame, kSame, 0, 4, 0},
        {nullptr, "a", -1, 1, 0},
        {"a", nullptr, 1, 1, 0},
        {nullptr, nullptr, 0, 1, 0},
        // Bytes from 0x80 up are negative, so they sort below every ASCII character.
        {"\xC9", "e", -1, 1, -1},
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.a ? c.a : "(null)") + " vs " + (c.b ? c.b : "(null)");
        EXPECT_EQ(Sign(UKO_SafeStrICmp(c.a, c.b)), c.icmp) << label;
        EXPECT_EQ(Sign(UKO_SafeStrNICmp(c.a, c.b, c.n)), c.nicmp) << label << " n=" << c.n;
    }
    // The comparison stops at a NUL even when the count goes on.
    const char a[] = {'a', 'B', '\0', 'x'};
    const char b[] = {'A', 'b', '\0', 'y'};
    EXPECT_EQ(UKO_SafeStrNICmp(a, b, 4), 0);
}

TEST(UkoString, MemChrMatchesTheLowByteWithinTheCount) {
    const char buf[] = "xyzAq";
    EXPECT_EQ(UKO_MemChr(buf, 0x141, 5), buf + 3);
    EXPECT_EQ(UKO_MemChr(buf, 'A', 3), nullptr);
    EXPECT_EQ(UKO_SafeMemChr(buf, 'q', 5), buf + 4);
    EXPECT_EQ(UKO_SafeMemChr(buf, 'q', 4), nullptr);
}

// ---- sized operations --------------------------------------------------------------

// A size-overrun hook that records its calls and answers a set value.
struct OverrunHook {
    static int calls;
    static size_t answer;
    static void* operation;
    static void* dest;
    static size_t destSize;
    static size_t needed;
    static size_t Hook(void* op, void* d, size_t size, size_t need) {
        ++calls;
        operation = op;
        dest = d;
        destSize = size;
        needed = need;
        return answer;
    }
};
int OverrunHook::calls;
size_t OverrunHook::answer;
void* OverrunHook::operation;
void* OverrunHook::dest;
size_t OverrunHook::destSize;
size_t OverrunHook::needed;

struct SizedOps : ::testing::Test {
    // Destination of 8 bytes inside a larger buffer of canaries, to catch a write
    // past the destination size.
    char area[24];
    char* dest = area + 8;
    static constexpr char kCanary = '#';
    void SetUp() override {
        std::memset(area, kCanary, sizeof(area));
        OverrunHook::calls = 0;
        OverrunHook::answer = 0;
    }
    void TearDown() override { UKO_MemOverflowHookSet(nullptr); }
    void UseHook(size_t answer) {
        OverrunHook::answer = answer;
        UKO_MemOverflowHookSet(OverrunHook::Hook);
    }
    bool OutsideUntouched() const {
        for (int i = 0; i < 8; ++i) {
            if (area[i] != kCanary || area[16 + i] != kCanary) {
                return false;
            }
        }
        return true;
    }
    std::string Dest(size_t n) const { return std::string(dest, n); }
};

const char kSrc20[] = "ABCDEFGHIJKLMNOPQRST";

TEST_F(SizedOps, MemoryCopyCutToTheDestinationWithoutAHook) {
    EXPECT_EQ(UKO_SafeMemCpyN(dest, 8, kSrc20, 20), dest);
    EXPECT_EQ(Dest(8), "ABCDEFGH");
    EXPECT_TRUE(OutsideUntouched());
    EXPECT_EQ(UKO_MemOverflowHookSet(nullptr), 0u);
}

TEST_F(SizedOps, MemoryCopyFollowsTheHooksAnswer) {
    struct Case {
        size_t answer;
        bool refused;
        std::string expected;
    } cases[] = {
        {0, true, "########"},
        {6, false, "ABCDEF##"},
        {1000, false, "ABCDEFGH"},  // never beyond the destination
    };
    for (const Case& c : cases) {
        SetUp();
        UseHook(c.answer);
        void* r = UKO_SafeMemCpyN(dest, 8, kSrc20, 20);
        EXPECT_EQ(r, c.refused ? nullptr : dest) << c.answer;
        EXPECT_EQ(Dest(8), c.expected) << c.answer;
        EXPECT_TRUE(OutsideUntouched()) << c.answer;
        EXPECT_EQ(OverrunHook::calls, 1);
        EXPECT_EQ(OverrunHook::operation, reinterpret_cast<void*>(&UKO_SafeMemCpyN));
        EXPECT_EQ(OverrunHook::dest, dest);
        EXPECT_EQ(OverrunHook::destSize, 8u);
        EXPECT_EQ(OverrunHook::needed, 20u);
    }
    // A count that fits never asks the hook.
    SetUp();
    UseHook(0);
    EXPECT_EQ(UKO_SafeMemCpyN(dest, 8, kSrc20, 8), dest);
    EXPECT_EQ(OverrunHook::calls, 0);
}

TEST_F(SizedOps, EarlyAnswersOfTheMemoryOperations) {
    EXPECT_EQ(UKO_SafeMemCpyN(nullptr, 0, nullptr, 0), nullptr) << "count 0 returns dest";
    EXPECT_EQ(UKO_SafeMemCpyN(dest, 0, kSrc20, 0), dest);
    EXPECT_EQ(UKO_SafeMemCpyN(dest, 8, nullptr, 4), nullptr);
    EXPECT_EQ(UKO_SafeMemCpyN(dest, 0, kSrc20, 4), nullptr);
    EXPECT_EQ(UKO_SafeMemMoveN(dest, 8, nullptr, 4), nullptr);
    EXPECT_EQ(UKO_SafeMemMoveN(dest, 0, kSrc20, 4), nullptr);
    EXPECT_EQ(Dest(8), "########");

    // Overlapping move inside the destination.
    std::memcpy(dest, "12345678", 8);
    EXPECT_EQ(UKO_SafeMemMoveN(dest + 2, 6, dest, 10), dest + 2);
    EXPECT_EQ(Dest(8), "12123456");
    EXPECT_TRUE(OutsideUntouched());
}

TEST_F(SizedOps, TextCopyIsAlwaysTerminatedWithinTheSize) {
    struct Case {
        bool hook;
        size_t answer;
        size_t size;
        const char* src;
        bool refused;
        const char* expected;
    } cases[] = {
        {false, 0, 4, "abcdef", false, "abc"},
        {false, 0, 8, "abcdefg", false, "abcdefg"},
        {false, 0, 1, "abc", false, ""},
        {true, 2, 4, "abcdef", false, "a"},
        {true, 1, 4, "abcdef", false, ""},
        {true, 50, 4, "abcdef", false, "abc"},
        {true, 0, 4, "abcdef", true, nullptr},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.hook) {
            UseHook(c.answer);
        }
        char* r = UKO_SafeStrCpyN(dest, c.size, c.src);
        if (c.refused) {
            EXPECT_EQ(r, nullptr) << c.src << " size " << c.size;
            EXPECT_EQ(OverrunHook::needed, std::strlen(c.src) + 1);
        } else {
            ASSERT_EQ(r, dest) << c.src << " size " << c.size;
            EXPECT_STREQ(dest, c.expected);
        }
        for (size_t i = c.size; i < 8; ++i) {
            EXPECT_EQ(dest[i], kCanary) << "byte " << i << " beyond size " << c.size;
        }
        EXPECT_TRUE(OutsideUntouched());
        UKO_MemOverflowHookSet(nullptr);
    }
    EXPECT_EQ(UKO_SafeStrCpyN(dest, 8, nullptr), dest);
    EXPECT_EQ(UKO_SafeStrCpyN(nullptr, 8, "a"), nullptr);
    EXPECT_EQ(UKO_SafeStrCpyN(dest, 0, "a"), nullptr);
}

TEST_F(SizedOps, CountedTextCopyKeepsStrncpySemantics) {
    // Source shorter than the count: padded with NULs up to the count.
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 8, "abc", 5), dest);
    EXPECT_EQ(Dest(8), std::string("abc\0\0###", 8));
    // Source as long as the count: no terminator is written.
    SetUp();
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 8, "abcdef", 4), dest);
    EXPECT_EQ(Dest(8), "abcd####");
    // Count beyond the size: cut to the size, still strncpy-style.
    SetUp();
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 8, kSrc20, 20), dest);
    EXPECT_EQ(Dest(8), "ABCDEFGH");
    EXPECT_TRUE(OutsideUntouched());
    SetUp();
    UseHook(0);
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 8, kSrc20, 20), nullptr);
    EXPECT_EQ(Dest(8), "########");
    EXPECT_EQ(UKO_SafeStrNCpyN(nullptr, 0, nullptr, 0), nullptr);
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 0, "a", 0), dest) << "count 0 comes first";
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 8, nullptr, 3), dest);
    EXPECT_EQ(UKO_SafeStrNCpyN(dest, 0, "a", 3), nullptr);
}

TEST_F(SizedOps, AppendsWhatFitsAndRefusesWhenNothingCan) {
    struct Case {
        const char* start;
        size_t size;
        const char* src;
        size_t count;  // 0: the unbounded form
        bool refused;
        const char* expected;
    } cases[] = {
        {"ab", 4, "xyz", 0, false, "abx"},
        {"abc", 5, "d", 0, false, "abcd"},
        {"abc", 4, "de", 0, false, "abc"},     // no room for a character: unchanged
        {"abcd", 4, "xyz", 0, true, nullptr},  // not even the terminator fits
        {"", 8, "xyz", 0, false, "xyz"},
        {"ab", 8, "xyz", 1, false, "abx"},
        {"ab", 8, "xyz", 9, false, "abxyz"},
        {"ab", 4, "xyz", 2, false, "abx"},
        {"abcd", 4, "xyz", 2, true, nullptr},
    };
    for (const Case& c : cases) {
        SetUp();
        std::memcpy(dest, c.start, std::strlen(c.start) + 1);
        char* r = c.count == 0 ? UKO_SafeStrCatN(dest, c.size, c.src)
                               : UKO_SafeStrNCatN(dest, c.size, c.src, c.count);
        const std::string label = std::string(c.start) + "+" + c.src;
        if (c.refused) {
            EXPECT_EQ(r, nullptr) << label;
            EXPECT_EQ(std::string(dest, std::strlen(c.start)), c.start) << label;
        } else {
            ASSERT_EQ(r, dest) << label;
            EXPECT_STREQ(dest, c.expected) << label;
        }
        for (size_t i = std::max(c.size, std::strlen(c.start) + 1); i < 8; ++i) {
            EXPECT_EQ(dest[i], kCanary) << label << " byte " << i;
        }
    }
    // The hook sees the bytes the whole result would take.
    SetUp();
    std::memcpy(dest, "ab", 3);
    UseHook(4);
    EXPECT_EQ(UKO_SafeStrCatN(dest, 4, "xyz"), dest);
    EXPECT_STREQ(dest, "abx");
    EXPECT_EQ(OverrunHook::needed, 6u);
    UseHook(2);
    EXPECT_EQ(UKO_SafeStrCatN(dest, 4, "xyz"), nullptr) << "an answer within the text refuses";

    // A destination without a terminator inside its size is never read past it.
    SetUp();
    std::memcpy(dest, "ABCDEFGH", 8);
    EXPECT_EQ(UKO_SafeStrCatN(dest, 8, "x"), nullptr);
    EXPECT_TRUE(OutsideUntouched());

    EXPECT_EQ(UKO_SafeStrCatN(dest, 8, nullptr), dest);
    EXPECT_EQ(UKO_SafeStrCatN(dest, 0, "x"), nullptr);
    EXPECT_EQ(UKO_SafeStrNCatN(dest, 0, "x", 0), dest);
    EXPECT_EQ(UKO_SafeStrNCatN(dest, 0, "x", 1), nullptr);
}

// ---- characters -----------------------------------------------------------------------

TEST(UkoString, CharacterClassesAndCase) {
    struct Case {
        char c;
        uint32_t xdigit, upper, lower;
        char toUpper, toLower;
    } cases[] = {
        {'/', 0, 0, 0, '/', '/'}, {'0', 1, 0, 0, '0', '0'}, {'9', 1, 0, 0, '9', '9'},
        {':', 0, 0, 0, ':', ':'}, {'@', 0, 0, 0, '@', '@'}, {'A', 1, 1, 0, 'A', 'a'},
        {'F', 1, 1, 0, 'F', 'f'}, {'G', 0, 1, 0, 'G', 'g'}, {'Z', 0, 1, 0, 'Z', 'z'},
        {'[', 0, 0, 0, '[', '['}, {'`', 0, 0, 0, '`', '`'}, {'a', 1, 0, 1, 'A', 'a'},
        {'f', 1, 0, 1, 'F', 'f'}, {'g', 0, 0, 1, 'G', 'g'}, {'z', 0, 0, 1, 'Z', 'z'},
        {'{', 0, 0, 0, '{', '{'}, {'\xC1', 0, 0, 0, '\xC1', '\xC1'},
        {'\xE1', 0, 0, 0, '\xE1', '\xE1'}, {'\0', 0, 0, 0, '\0', '\0'},
    };
    for (const Case& c : cases) {
        const int code = static_cast<unsigned char>(c.c);
        EXPECT_EQ(UKO_IsXDigit(c.c), c.xdigit) << code;
        EXPECT_EQ(UKO_IsUpper(c.c), c.upper) << code;
        EXPECT_EQ(UKO_IsLower(c.c), c.lower) << code;
        EXPECT_EQ(UKO_ToUpper(c.c), c.toUpper) << code;
        EXPECT_EQ(UKO_ToLower(c.c), c.toLower) << code;
    }
    char text[] = "Mixed Case 42\xE9!";
    EXPECT_EQ(UKO_StrToUpper(text), text + std::strlen(text)) << "the address of the NUL";
    EXPECT_STREQ(text, "MIXED CASE 42\xE9!");
    EXPECT_EQ(UKO_StrToLower(text), text + std::strlen(text));
    EXPECT_STREQ(text, "mixed case 42\xE9!");
    EXPECT_EQ(UKO_StrToUpper(nullptr), nullptr);
    EXPECT_EQ(UKO_StrToLower(nullptr), nullptr);
}

// ---- numbers --------------------------------------------------------------------------

TEST(UkoString, UnsignedToTextInARadix) {
    struct Case {
        uint32_t value;
        uint32_t radix;
        const char* expected;  // nullptr: nothing written
    } cases[] = {
        {255, 16, "FF"},
        {0, 2, "0"},
        {0xFFFFFFFF, 2, "11111111111111111111111111111111"},
        {0xFFFFFFFF, 16, "FFFFFFFF"},
        {4294967295u, 10, "4294967295"},
        {8, 8, "10"},
        {35, 3, "1022"},
        {255, 17, nullptr},
        {255, 1, nullptr},
        {255, 0, nullptr},
    };
    for (const Case& c : cases) {
        char buf[40];
        std::memset(buf, '#', sizeof(buf));
        UKO_UintToStrRadix(c.value, buf, c.radix);
        if (c.expected == nullptr) {
            EXPECT_EQ(buf[0], '#') << c.value << " radix " << c.radix;
        } else {
            EXPECT_STREQ(buf, c.expected) << c.value << " radix " << c.radix;
        }
    }
    UKO_UintToStrRadix(1, nullptr, 10);  // writes nothing, does not crash
}

TEST(UkoString, SignedDecimalIsClamped) {
    struct Case {
        const char* text;
        uint32_t rc;
        int32_t out;
    } cases[] = {
        {"99999999999", 0, 2147483647},
        {"-99999999999", 0, -2147483647 - 1},
        {"2147483647", 0, 2147483647},
        {"-2147483648", 0, -2147483647 - 1},
        {" 12a", 0, 12},
        {"+7", 0, 7},
        {"abc", 22, 0},
        {"", 22, 0},
        {"-", 22, 0},
    };
    for (const Case& c : cases) {
        int32_t out = 12345;
        EXPECT_EQ(UKO_SafeStrToInt32(c.text, &out), c.rc) << c.text;
        EXPECT_EQ(out, c.out) << c.text;
    }
    int32_t out = 5;
    EXPECT_EQ(UKO_SafeStrToInt32(nullptr, &out), 22u);
    EXPECT_EQ(out, 5);
    EXPECT_EQ(UKO_SafeStrToInt32("1", nullptr), 22u);

    char* end = nullptr;
    EXPECT_EQ(UKO_SafeStrToL("123", nullptr, 10), 0);
    EXPECT_EQ(UKO_SafeStrToL(nullptr, &end, 10), 0);
    EXPECT_EQ(UKO_SafeStrToL("-0x1f", &end, 16), -31);
    EXPECT_EQ(*end, '\0');
}

TEST(UkoString, UnsignedParseWithRadixDetection) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    struct Case {
        const char* text;
        int32_t radix;
        uint64_t value;
        size_t endOffset;
    } cases[] = {
        {"0x1F", 0, 31, 4},
        {"0X1fg", 16, 31, 4},
        {"-1", 10, kMax, 2},
        {"-0x10", 0, 0 - 16ull, 5},
        {"  +077", 0, 63, 6},
        {"0", 0, 0, 1},
        {"089", 0, 0, 1},          // octal: 8 is no digit
        {"\t\r\n 12 ", 10, 12, 6},
        {"zz", 10, 0, 0},          // no digit: end at the start of the text
        {"  ", 10, 0, 0},
        {"0x", 16, 0, 0},          // prefix without digits
        {"1Z", 36, 71, 2},
        {"777", 7, 0, 0},
        {"18446744073709551615", 10, kMax, 20},
        {"18446744073709551616", 10, kMax, 20},   // overflow: all digits consumed
        {"-99999999999999999999", 10, kMax, 21},  // overflow ignores the sign
        {"1\xB1", 10, 1, 1},       // bytes from 0x80 up end the number
        {"ffffffffffffffff", 16, kMax, 16},
    };
    for (const Case& c : cases) {
        char* end = nullptr;
        EXPECT_EQ(UKO_StrToUL(c.text, &end, c.radix), c.value) << c.text;
        EXPECT_EQ(end, c.text + c.endOffset) << c.text;
        EXPECT_EQ(UKO_StrToULL(c.text, nullptr, c.radix), c.value) << c.text;
    }
    char* end = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(UKO_StrToUL(nullptr, &end, 10), 0u);
    EXPECT_EQ(end, reinterpret_cast<char*>(0x1)) << "end is left alone for a NULL text";
}

TEST(UkoString, DoubleParseNeedsASignedExponent) {
    const double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* text;
        int32_t rc;
        double value;
    } cases[] = {
        {"1.5e+2", 0, 150.0},
        {"1.5E+2", 0, 150.0},
        {"3D+1", 0, 30.0},
        {"25d-1", 0, 2.5},
        {"1.5e2", -1, 0},
        {"1e", -1, 0},
        {"7e+", -1, 0},
        {"7e+x", -1, 0},
        {"5.", -1, 0},
        {".5", 0, 0.5},
        {".", -1, 0},
        {"", -1, 0},
        {"+", -1, 0},
        {"abc", -1, 0},
        {"  -2.25", 0, -2.25},
        {"\n+12abc", 0, 12.0},
        {"0.125e+0", 0, 0.125},
        {"1e+400", 0, kInf},
        {"-1e+400", 0, -kInf},
        {"1e-400", 0, 0.0},
    };
    for (const Case& c : cases) {
        double out = 99.0;
        EXPECT_EQ(UKO_StrToDbl(c.text, &out), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_DOUBLE_EQ(out, c.value) << c.text;
        } else {
            EXPECT_EQ(out, 99.0) << c.text << ": out untouched on refusal";
        }
    }
    double out = 0;
    EXPECT_EQ(UKO_StrToDbl(nullptr, &out), -1);
    EXPECT_EQ(UKO_StrToDbl("1", nullptr), -1);
}

TEST(UkoString, DoubleParseOfLongFractionsStaysANumber) {
    // Hundreds of fraction digits must not carry value and divisor to infinity and
    // their quotient to NaN.
    const std::string zeros(310, '0');
    const std::string fives(400, '5');
    const std::string digitsBeforePoint(200, '1');
    struct Case {
        std::string text;
        double value;
    } cases[] = {
        {"1." + zeros, 1.0},
        {"-2." + zeros + "1", -2.0},
        {"0." + fives, 0.5555555555555556},
        {digitsBeforePoint + "." + zeros, 1.1111111111111111e199},
        {"1." + zeros + "e+2", 100.0},
    };
    for (const Case& c : cases) {
        double out = 0;
        ASSERT_EQ(UKO_StrToDbl(c.text.c_str(), &out), 0) << c.text.substr(0, 20);
        EXPECT_FALSE(std::isnan(out)) << c.text.substr(0, 20);
        EXPECT_NEAR(out, c.value, std::fabs(c.value) * 1e-12) << c.text.substr(0, 20);
    }
}

// Distance of two doubles in units in the last place; the two zeros are one value.
int64_t UlpDistance(double a, double b) {
    int64_t x = 0;
    int64_t y = 0;
    std::memcpy(&x, &a, sizeof(x));
    std::memcpy(&y, &b, sizeof(y));
    // Map the sign-magnitude bit patterns onto one ordered integer line.
    x = x < 0 ? std::numeric_limits<int64_t>::min() - x : x;
    y = y < 0 ? std::numeric_limits<int64_t>::min() - y : y;
    return x > y ? x - y : y - x;
}

TEST(UkoString, DoubleParseCountsLeadingZerosAndLongIntegersAsScale) {
    // Zeros that lead a fraction, and integer digits beyond a double's range, only say
    // where the point is: neither may use up the range the value needs.
    const std::string z290(290, '0');
    const std::string z400(400, '0');
    const std::string z310(310, '0');
    const std::string nines(400, '9');
    struct Case {
        std::string text;
        double value;
    } cases[] = {
        {"0." + z290 + "5e+300", 5e9},
        {"1" + z400 + "e-400", 1.0},
        {"-1" + z400 + "e-399", -10.0},
        {"1." + std::string(310, '0'), 1.0},
        {"0." + z400 + "123e+403", 123.0},
        {"0." + z310 + "1", 1e-311},  // below the normal range: a subnormal, not 0
        {"0." + z290 + "123456789e+295", 12345.6789},
        {nines + "e-399", 10.0},
        {"1" + z400, std::numeric_limits<double>::infinity()},
        {"0." + z400 + "1", 0.0},
    };
    for (const Case& c : cases) {
        double out = 99.0;
        ASSERT_EQ(UKO_StrToDbl(c.text.c_str(), &out), 0) << c.text.substr(0, 24);
        EXPECT_EQ(out, c.value) << c.text.substr(0, 24);
    }
}

// A generated decimal number in a text, with what shapes its reading: its significant
// digits (from the first non-zero one, fraction digits included), its fraction digits
// (leading zeros included) and the size of its exponent.
struct NumberText {
    std::string text;
    int significant = 0;
    int fractionDigits = 0;
    int64_t exponent = 0;
};

// Texts the double parse must accept: now and then blanks, a sign, runs of zeros (a
// fraction often starts with some), one of the four exponent letters, an exponent with
// leading zeros, and characters after the number.
class NumberTexts {
public:
    explicit NumberTexts(uint64_t seed) : random_(seed) {}

    uint64_t Next() { return random_(); }

    NumberText Make(size_t integerDigits, size_t fractionDigits, uint64_t maxExponent) {
        if (integerDigits + fractionDigits == 0) {
            integerDigits = 1;
        }
        NumberText n;
        static const char* const kBlanks[] = {" ", "\t", "\n ", "  "};
        if (random_() % 5 == 0) {
            n.text += kBlanks[random_() % 4];
        }
        if (random_() % 3 == 0) {
            n.text.push_back(random_() % 2 == 0 ? '-' : '+');
        }
        DigitRun(&n.text, integerDigits);
        if (fractionDigits > 0) {
            n.text.push_back('.');
            const size_t leading = random_() % 2 == 0 ? random_() % (fractionDigits + 1) : 0;
            n.text.append(leading, '0');
            DigitRun(&n.text, fractionDigits - leading);
        }
        bool seen = false;
        for (char ch : n.text) {
            if (ch >= '0' && ch <= '9') {
                seen = seen || ch != '0';
                n.significant += seen ? 1 : 0;
            }
        }
        n.fractionDigits = static_cast<int>(fractionDigits);
        if (random_() % 4 != 0) {
            n.exponent = static_cast<int64_t>(random_() % (maxExponent + 1));
            n.text.push_back("eEdD"[random_() % 4]);
            n.text.push_back(random_() % 2 == 0 ? '-' : '+');
            n.text += random_() % 8 == 0 ? "00" : "";
            n.text += std::to_string(n.exponent);
        }
        static const char* const kAfter[] = {" ", ";", " 12", "/7", "ms"};
        if (random_() % 6 == 0) {
            n.text += kAfter[random_() % 5];
        }
        return n;
    }

private:
    void DigitRun(std::string* text, size_t length) {
        const bool zeros = random_() % 4 == 0;
        for (size_t i = 0; i < length; ++i) {
            text->push_back(zeros ? '0' : static_cast<char>('0' + random_() % 10));
        }
    }

    std::mt19937_64 random_;
};

// Texts of at most 19 significant and 22 fraction digits are read the plain way; longer
// ones by their counted scale.
bool ReadThePlainWay(const NumberText& n) { return n.significant <= 19 && n.fractionDigits <= 22; }

// The plain reading, one step after the other and nothing else: each digit extends a
// double, each fraction digit multiplies a double divisor by 10, the signed value is
// divided once, and the exponent multiplies or divides by 10 once per unit. For the
// generated texts only, whose exponents stay small.
double PlainReading(const std::string& text) {
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p)) != 0) {
        ++p;
    }
    double sign = 1.0;
    if (*p == '+' || *p == '-') {
        sign = *p++ == '-' ? -1.0 : 1.0;
    }
    double value = 0.0;
    double divisor = 1.0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10.0 + (*p - '0');
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10.0 + (*p - '0');
            divisor *= 10.0;
        }
    }
    value = sign * value / divisor;
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const bool up = *++p == '+';
        const long steps = std::strtol(p + 1, nullptr, 10);
        for (long i = 0; i < steps; ++i) {
            value = up ? value * 10.0 : value / 10.0;
        }
    }
    return value;
}

TEST(UkoString, DoubleParseOfOrdinaryTextsIsThePlainReadingBitForBit) {
    // Stored settings and callers rely on the values numbers have always read as, last
    // place included: mending long texts must not move a single ordinary one. First the
    // numbers people write (up to 8 digits each side of the point, exponents up to 30),
    // then texts anywhere in the plain way's reach: up to 19 significant digits, up to 22
    // fraction digits, and exponents that carry them to infinity and to zero.
    NumberTexts texts(20240613);
    int64_t edgeTexts = 0;
    for (int round = 0; round < 1200000; ++round) {
        const bool ordinary = round < 1000000;
        NumberText n = ordinary ? texts.Make(texts.Next() % 9, texts.Next() % 9, 30)
                                : texts.Make(texts.Next() % 20, texts.Next() % 23, 400);
        if (!ReadThePlainWay(n)) {
            continue;
        }
        edgeTexts += ordinary ? 0 : 1;
        double ours = 0.0;
        ASSERT_EQ(UKO_StrToDbl(n.text.c_str(), &ours), 0) << n.text;
        const double plain = PlainReading(n.text);
        ASSERT_EQ(std::memcmp(&ours, &plain, sizeof(ours)), 0)
            << "[" << n.text << "] gives " << std::setprecision(17) << ours << ", read plainly "
            << plain;
    }
    EXPECT_GT(edgeTexts, 100000) << "most long generated texts stay within the plain way's reach";
}

TEST(UkoString, DoubleParseAgreesWithTheCLibrary) {
    // Decimal texts of up to 400 digits, with runs of zeros and exponents, against the C
    // library's correctly rounded strtod, infinities included.
    //
    // Long texts keep 19 significant digits and apply their scale once in extended
    // precision: within one unit in the last place.
    //
    // Texts read the plain way carry the rounding of each double step: of the quotient,
    // of every exponent step, and of the multiplication and the addition of every digit
    // past the 15th (before it the value is an exact integer). Each rounding errs by at
    // most half a unit of its own result, a relative error of at most 2^-53; relative to
    // the final value that is between half a unit and one unit, depending on where the
    // final value lies between its powers of two. K roundings thus stay under K units of
    // the exact value and, with strtod's own half unit, at most K units of strtod's
    // answer; half a unit per step is not enough ("0.000000972069898707905e+6" is 5 units
    // off after 7 roundings). One rounding of exact operands is strtod's answer itself.
    NumberTexts texts(20240612);
    int64_t plainTexts = 0;
    int64_t longTexts = 0;
    for (int round = 0; round < 1000000; ++round) {
        NumberText n;
        if (round % 2 == 0) {
            n = texts.Make(texts.Next() % 9, texts.Next() % 9, 15);
        } else {
            const size_t total = 1 + texts.Next() % 400;
            const size_t integerDigits = texts.Next() % (total + 1);
            n = texts.Make(integerDigits, total - integerDigits, 400);
        }
        double ours = 0;
        ASSERT_EQ(UKO_StrToDbl(n.text.c_str(), &ours), 0) << n.text;
        std::string forLibrary = n.text;
        const size_t letter = forLibrary.find_first_of("dD");
        if (letter != std::string::npos) {
            forLibrary[letter] = 'e';
        }
        const double theirs = std::strtod(forLibrary.c_str(), nullptr);

        int64_t bound = 1;
        if (ReadThePlainWay(n)) {
            ++plainTexts;
            const int64_t roundings = 1 + n.exponent + 2 * std::max(0, n.significant - 15);
            bound = roundings == 1 ? 0 : roundings;
        } else {
            ++longTexts;
        }
        ASSERT_LE(UlpDistance(ours, theirs), bound)
            << n.text.substr(0, 60) << (n.text.size() > 60 ? "...: " : ": ") << std::setprecision(17)
            << ours << " / " << theirs;
    }
    EXPECT_GT(plainTexts, 500000);
    EXPECT_GT(longTexts, 400000);
}

TEST(UkoString, HugeExponentsEndOnceTheValueStopsChanging) {
    // Scaling one power of ten per exponent unit would take billions of steps here;
    // the child is killed if it does not finish well within the limit.
    auto r = vt_test::RunInChild(
        [] {
            struct Case {
                const char* text;
                double value;
            } cases[] = {
                {"1e+2147483647", std::numeric_limits<double>::infinity()},
                {"-3e+99999999999", -std::numeric_limits<double>::infinity()},
                {"1e-2147483647", 0.0},
                {"0e+2147483647", 0.0},
            };
            for (const Case& c : cases) {
                double out = 1.0;
                EXPECT_EQ(UKO_StrToDbl(c.text, &out), 0) << c.text;
                EXPECT_EQ(out, c.value) << c.text;
            }
        },
        2000);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST(UkoString, DottedIpv4Text) {
    struct Case {
        const char* text;
        int32_t rc;
        uint32_t addr;
    } cases[] = {
        {"192.168.1.10", 0, 0xC0A8010A},
        {"0.0.0.0", 0, 0},
        {"255.255.255.255", 0, 0xFFFFFFFF},
        {"010.1.1.1", 0, 0x0A010101},
        {"1.2.3", -1, 0},
        {"1..2.3", -1, 0},
        {"1.2.3.256", -1, 0},
        {".1.2.3", -1, 0},
        {"1.2.3.4.", -1, 0},
        {"1.2.3.4.5", -1, 0},
        {"1.2.3.a4", -1, 0},
        {"1.2. 3.4", -1, 0},
        {"", -1, 0},
    };
    for (const Case& c : cases) {
        uint32_t addr = 0xDEADBEEF;
        EXPECT_EQ(UKO_StrToIp(c.text, &addr), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(addr, c.addr) << c.text;
        }
    }
    uint32_t addr = 0;
    EXPECT_EQ(UKO_StrToIp(nullptr, &addr), -1);
    EXPECT_EQ(UKO_StrToIp("1.2.3.4", nullptr), -1);
}

// ---- trimming and tokens -----------------------------------------------------------------

TEST(UkoString, TrimsCutTrailingAndSkipLeadingBlanks) {
    struct Case {
        bool tabsAreBlank;  // UKO_StrTrim; otherwise UKO_StrTrimSpace
        const char* text;
        const char* result;
    } cases[] = {
        {true, " \tab c \t ", "ab c"},
        {true, "abc", "abc"},
        {true, "   ", ""},
        {true, "", ""},
        {false, "  a\tb  ", "a\tb"},
        {false, "\ta \t", "\ta \t"},
        {false, "\ta  ", "\ta"},
        {false, "   ", ""},
    };
    for (const Case& c : cases) {
        char buf[32];
        std::strcpy(buf, c.text);
        char* r = c.tabsAreBlank ? UKO_StrTrim(buf) : UKO_StrTrimSpace(buf);
        ASSERT_NE(r, nullptr) << c.text;
        EXPECT_GE(r, buf);
        EXPECT_STREQ(r, c.result) << "[" << c.text << "]";
    }
    char empty[] = "";
    EXPECT_EQ(UKO_StrTrim(empty), empty);
    EXPECT_EQ(UKO_StrTrim(nullptr), nullptr);
    EXPECT_EQ(UKO_StrTrimSpace(nullptr), nullptr);
    EXPECT_EQ(UKO_StrTrimSpace(reinterpret_cast<char*>(static_cast<uintptr_t>(0xCCCCCCCCu))),
              nullptr);
}

TEST(UkoString, TokensWithACallerKeptPosition) {
    char text[] = ",, a,b;;c ;";
    char* pos = nullptr;
    const char* expected[] = {"a", "b", "c"};
    char* tok = UKO_SafeStrTok(text, ",; ", &pos);
    for (const char* e : expected) {
        ASSERT_NE(tok, nullptr) << e;
        EXPECT_STREQ(tok, e);
        tok = UKO_SafeStrTok(nullptr, ",; ", &pos);
    }
    EXPECT_EQ(tok, nullptr);
    EXPECT_EQ(UKO_SafeStrTok(nullptr, ",; ", &pos), nullptr) << "stays at the end";

    char last[] = "x,yz";
    pos = nullptr;
    EXPECT_STREQ(UKO_SafeStrTok(last, ",", &pos), "x");
    EXPECT_STREQ(UKO_SafeStrTok(nullptr, ",", &pos), "yz");
    EXPECT_EQ(*pos, '\0') << "the position rests on the end of the text";

    char only[] = ";;;";
    pos = nullptr;
    EXPECT_EQ(UKO_SafeStrTok(only, ";", &pos), nullptr);
    pos = nullptr;
    EXPECT_EQ(UKO_SafeStrTok(nullptr, ";", &pos), nullptr);
    EXPECT_EQ(UKO_SafeStrTok(text, nullptr, &pos), nullptr);
    EXPECT_EQ(UKO_SafeStrTok(text, ";", nullptr), nullptr);
}

}  // namespace
