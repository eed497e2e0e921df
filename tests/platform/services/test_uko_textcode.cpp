// Text encodings: the GBK tables, GBK to and from UTF-8, the step functions' bounds and
// the URL coding.

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_textcode.h"
#include "vt_test/platform.h"

namespace {

uint64_t SysPtUsed() { return m_pstMemPtCb[m_ucSysPtNo].uvUsedSize; }

struct TextCode : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        used0_ = SysPtUsed();
    }
    // Every conversion frees what it allocated, on success (once the caller has freed
    // the result) and on failure alike.
    void TearDown() override { EXPECT_EQ(SysPtUsed(), used0_) << "a conversion left a block behind"; }
    uint64_t used0_ = 0;
};

std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s.push_back(static_cast<char>(b));
    return s;
}

// Runs a conversion and hands back its result as a string; the block is freed.
struct Result {
    uint32_t rc = 99;
    bool allocated = false;
    std::string text;
    uint32_t len = 0xDEAD;
};
using Converter = uint32_t (*)(const char*, uint32_t, char**, uint32_t*);
Result Convert(Converter fn, const std::string& in) {
    Result r;
    char* out = nullptr;
    r.rc = fn(in.data(), static_cast<uint32_t>(in.size()), &out, &r.len);
    if (out != nullptr) {
        r.allocated = true;
        r.text.assign(out, r.len);
        EXPECT_EQ(out[r.len], '\0') << "the result carries a NUL behind it";
        EXPECT_EQ(UKO_Free(out), 0u);
    }
    return r;
}

// ---- Tables ---------------------------------------------------------------------------------------

TEST_F(TextCode, TablesHoldTheTwoByteMappingOfGb18030Edition2000) {
    // Both tables sorted strictly by their key, and each the other's inverse.
    for (uint32_t i = 1; i < UKO_GBK_TABLE_SIZE; ++i) {
        ASSERT_LT(UKO_GbkToUnicodeTable[i - 1].usKey, UKO_GbkToUnicodeTable[i].usKey) << i;
        ASSERT_LT(UKO_UnicodeToGbkTable[i - 1].usKey, UKO_UnicodeToGbkTable[i].usKey) << i;
    }
    for (const UKO_CODE_PAIR& p : UKO_GbkToUnicodeTable) {
        ASSERT_EQ(UKO_UnicodeToGbkCode(p.usValue), p.usKey) << std::hex << p.usKey;
    }
    EXPECT_EQ(UKO_GbkToUnicodeTable[0].usKey, 0x8140);
    EXPECT_EQ(UKO_GbkToUnicodeTable[UKO_GBK_TABLE_SIZE - 1].usKey, 0xFEFE);
    EXPECT_EQ(UKO_UnicodeToGbkTable[0].usKey, 0x00A4);
    EXPECT_EQ(UKO_UnicodeToGbkTable[UKO_GBK_TABLE_SIZE - 1].usKey, 0xFFE5);
    // Every second byte from 0x40 to 0xFE except 0x7F, under every first byte.
    for (const UKO_CODE_PAIR& p : UKO_GbkToUnicodeTable) {
        uint8_t second = p.usKey & 0xFF;
        ASSERT_TRUE(second >= 0x40 && second <= 0xFE && second != 0x7F) << std::hex << p.usKey;
    }

    // The codes later editions map elsewhere keep their 2000 places; the look-up takes
    // the two bytes as they lie in memory, first byte low.
    struct Spot {
        uint16_t code;
        uint16_t point;
    } spots[] = {
        {0xA8BC, 0xE7C7}, {0xC4E3, 0x4F60}, {0xAAA1, 0xE000}, {0xA140, 0xE4C6},
        {0xFEFE, 0xE4C5}, {0xA2E3, 0x20AC}, {0xFE51, 0xE816}, {0x8140, 0x4E02},
    };
    for (const Spot& s : spots) {
        uint16_t inMemory = static_cast<uint16_t>((s.code >> 8) | (s.code << 8));
        EXPECT_EQ(UKO_GbkCodeToUnicode(inMemory), s.point) << std::hex << s.code;
        EXPECT_EQ(UKO_UnicodeToGbkCode(s.point), s.code) << std::hex << s.point;
    }
    // Absent keys, below, between and above the tables' keys.
    for (uint16_t inMemory : {0x0000, 0x3F81, 0x4080, 0x7F81, 0xFF81, 0x40FF, 0xFFFF}) {
        EXPECT_EQ(UKO_GbkCodeToUnicode(inMemory), 0) << std::hex << inMemory;
    }
    for (uint16_t point : {0x0000, 0x00A0, 0x00A3, 0xD800, 0xFFE6, 0xFFFF}) {
        EXPECT_EQ(UKO_UnicodeToGbkCode(point), 0) << std::hex << point;
    }
}

TEST_F(TextCode, EveryCodeSurvivesGbkToUtf8AndBack) {
    std::string gbk;
    for (const UKO_CODE_PAIR& p : UKO_GbkToUnicodeTable) {
        gbk.push_back(static_cast<char>(p.usKey >> 8));
        gbk.push_back(static_cast<char>(p.usKey & 0xFF));
        gbk.push_back('a');  // ASCII between the codes
    }
    Result utf8 = Convert(UKO_GbkToUtf8, gbk);
    ASSERT_EQ(utf8.rc, 0u);
    // Each code point in its shortest UTF-8 form, each followed by the "a".
    size_t at = 0;
    for (const UKO_CODE_PAIR& p : UKO_GbkToUnicodeTable) {
        uint32_t u = p.usValue;
        ASSERT_LT(at, utf8.text.size());
        auto b = [&](size_t k) { return static_cast<uint8_t>(utf8.text[at + k]); };
        uint32_t decoded = 0;
        if (u < 0x800) {
            decoded = ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
            ASSERT_EQ(b(0) & 0xE0, 0xC0) << std::hex << p.usKey;
            at += 2;
        } else {
            decoded = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
            ASSERT_EQ(b(0) & 0xF0, 0xE0) << std::hex << p.usKey;
            at += 3;
        }
        ASSERT_EQ(decoded, u) << std::hex << p.usKey;
        ASSERT_EQ(utf8.text[at++], 'a');
    }
    EXPECT_EQ(at, utf8.text.size());
    EXPECT_EQ(utf8.len, utf8.text.size());

    Result back = Convert(UKO_Utf8ToGbk, utf8.text);
    ASSERT_EQ(back.rc, 0u);
    EXPECT_TRUE(back.text == gbk);
}

// ---- Conversions ------------------------------------------------------------------------------------

TEST_F(TextCode, GbkToUtf8) {
    struct Case {
        const char* what;
        std::string in;
        uint32_t rc;
        std::string out;
    } cases[] = {
        {"one character", Bytes({0xC4, 0xE3}), 0, Bytes({0xE4, 0xBD, 0xA0})},
        {"ASCII unchanged", "plain text", 0, "plain text"},
        {"an embedded NUL stays", std::string("a\0b", 3), 0, std::string("a\0b", 3)},
        {"euro sign", Bytes({0xA2, 0xE3}), 0, Bytes({0xE2, 0x82, 0xAC})},
        {"private use code", Bytes({0xA8, 0xBC}), 0, Bytes({0xEE, 0x9F, 0x87})},
        {"a two-byte UTF-8 result", Bytes({0xA1, 0xE8}), 0, Bytes({0xC2, 0xA4})},
        {"last byte a lone first byte", Bytes({'a', 0xC4}), 1, ""},
        {"only a first byte", Bytes({0x81}), 1, ""},
        {"second byte 0x7F", Bytes({0x81, 0x7F}), 1, ""},
        {"first byte 0x80", Bytes({0x80, 0x40}), 1, ""},
        {"first byte 0xFF", Bytes({0xFF, 0x40}), 1, ""},
        {"second byte below 0x40", Bytes({0xC4, 0x30}), 1, ""},
        {"bad code after good text", Bytes({'o', 'k', 0xC4, 0xE3, 0x81, 0x20}), 1, ""},
    };
    for (const Case& c : cases) {
        Result r = Convert(UKO_GbkToUtf8, c.in);
        EXPECT_EQ(r.rc, c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_TRUE(r.text == c.out) << c.what;
            EXPECT_EQ(r.len, c.out.size()) << c.what;
        } else {
            EXPECT_FALSE(r.allocated) << c.what;
            EXPECT_EQ(r.len, 0xDEADu) << c.what;
        }
    }
}

TEST_F(TextCode, Utf8ToGbk) {
    struct Case {
        const char* what;
        std::string in;
        uint32_t rc;
        std::string out;
    } cases[] = {
        {"one character", Bytes({0xE4, 0xBD, 0xA0}), 0, Bytes({0xC4, 0xE3})},
        {"ASCII unchanged", "plain text", 0, "plain text"},
        {"NUL bytes are dropped", std::string("a\0b\0", 4), 0, "ab"},
        {"euro sign", Bytes({0xE2, 0x82, 0xAC}), 0, Bytes({0xA2, 0xE3})},
        {"a cut three-byte sequence ends the text", Bytes({'a', 0xE4, 0xBD}), 0, "a"},
        {"a cut two-byte sequence ends the text", Bytes({'a', 'b', 0xC2}), 0, "ab"},
        {"only NUL bytes", std::string("\0\0", 2), 0, ""},
        {"U+00A0 is not in GBK", Bytes({0xC2, 0xA0}), 1, ""},
        {"a four-byte form", Bytes({0xF0, 0x9F, 0x98, 0x80}), 1, ""},
        {"a cut four-byte form", Bytes({'a', 0xF0, 0x9F, 0x98}), 1, ""},
        {"a continuation byte in lead position", Bytes({'a', 0x80, 'b'}), 1, ""},
        {"a missing continuation byte", Bytes({0xE4, 'a', 0xA0}), 1, ""},
        {"overlong two-byte form of '/'", Bytes({0xC0, 0xAF}), 1, ""},
        {"overlong NUL", Bytes({0xC0, 0x80}), 1, ""},
        {"overlong three-byte form", Bytes({0xE0, 0x80, 0xAF}), 1, ""},
        {"a surrogate half", Bytes({0xED, 0xA0, 0x80}), 1, ""},
        {"bad text after good text", Bytes({0xE4, 0xBD, 0xA0, 0xFF}), 1, ""},
    };
    for (const Case& c : cases) {
        Result r = Convert(UKO_Utf8ToGbk, c.in);
        EXPECT_EQ(r.rc, c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_TRUE(r.text == c.out) << c.what;
            EXPECT_EQ(r.len, c.out.size()) << c.what;
        } else {
            EXPECT_FALSE(r.allocated) << c.what;
            EXPECT_EQ(r.len, 0xDEADu) << c.what;
        }
    }
}

TEST_F(TextCode, ArgumentsAndEmptyInput) {
    char* out = nullptr;
    uint32_t len = 77;
    // A length of 0: GBK to UTF-8 succeeds with nothing allocated, the other way fails.
    EXPECT_EQ(UKO_GbkToUtf8("x", 0, &out, &len), 0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(len, 77u);
    EXPECT_EQ(UKO_Utf8ToGbk("x", 0, &out, &len), 1u);
    EXPECT_EQ(out, nullptr);

    // A result pointer that already holds a block is refused, and nothing is allocated
    // (the fixture checks the partition's used bytes).
    char held[4] = "old";
    char* busy = held;
    EXPECT_EQ(UKO_GbkToUtf8("abc", 3, &busy, &len), 1u);
    EXPECT_EQ(UKO_Utf8ToGbk("abc", 3, &busy, &len), 1u);
    EXPECT_EQ(busy, held);
    EXPECT_EQ(len, 77u);

    EXPECT_EQ(UKO_GbkToUtf8(nullptr, 3, &out, &len), 1u);
    EXPECT_EQ(UKO_GbkToUtf8("abc", 3, nullptr, &len), 1u);
    EXPECT_EQ(UKO_GbkToUtf8("abc", 3, &out, nullptr), 1u);
    EXPECT_EQ(UKO_Utf8ToGbk(nullptr, 3, &out, &len), 1u);
    EXPECT_EQ(UKO_Utf8ToGbk("abc", 3, nullptr, &len), 1u);
    EXPECT_EQ(UKO_Utf8ToGbk("abc", 3, &out, nullptr), 1u);
    EXPECT_EQ(out, nullptr);
}

// Allocations made by the test's own thread while the hook is in place.
std::atomic<pthread_t> g_watched{};
std::atomic<int> g_allocs{0};
uint32_t CountAlloc(uint8_t, uint32_t, uint64_t, const char*, uint32_t) {
    if (pthread_equal(pthread_self(), g_watched.load()) != 0) {
        ++g_allocs;
    }
    return 0;
}

TEST_F(TextCode, InputsWhoseBuffersWouldPassTheLimitAreRefusedBeforeAnyAllocation) {
    // The input is never read: the lengths are refused first. A 32-bit product of these
    // lengths would wrap to a small buffer.
    static const char kSmall[8] = "abcdefg";
    g_watched.store(pthread_self());
    g_allocs = 0;
    ASSERT_EQ(UKO_MemAllocPreHookReg(CountAlloc), 0u);
    for (uint32_t len : {0x80000000u, 0x80000001u, 0xFFFFFFFFu, 0x40000000u}) {
        char* out = nullptr;
        uint32_t outLen = 0;
        EXPECT_EQ(UKO_GbkToUtf8(kSmall, len, &out, &outLen), 1u) << len;
        EXPECT_EQ(UKO_Utf8ToGbk(kSmall, len, &out, &outLen), 1u) << len;
        EXPECT_EQ(out, nullptr);
    }
    (void)UKO_MemAllocPreHookReg(nullptr);
    EXPECT_EQ(g_allocs.load(), 0);
    // The hook does count this thread's allocations.
    char* out = nullptr;
    uint32_t outLen = 0;
    ASSERT_EQ(UKO_MemAllocPreHookReg(CountAlloc), 0u);
    EXPECT_EQ(UKO_GbkToUtf8(kSmall, 3, &out, &outLen), 0u);
    (void)UKO_MemAllocPreHookReg(nullptr);
    EXPECT_EQ(g_allocs.load(), 2);
    EXPECT_EQ(UKO_Free(out), 0u);
}

// ---- Steps --------------------------------------------------------------------------------------------

TEST_F(TextCode, StepFunctionsWriteNoByteBeyondTheirBuffer) {
    // Exactly sized heap buffers: one byte less must fail, not write past the end.
    uint32_t n = 0;
    {
        std::vector<uint8_t> ucs2(4);
        EXPECT_EQ(UKO_GbkToUcs2("\xC4\xE3" "a", 3, ucs2.data(), 4, &n), 0u);
        EXPECT_EQ(n, 4u);
        EXPECT_EQ(ucs2, (std::vector<uint8_t>{0x60, 0x4F, 'a', 0}));
        std::vector<uint8_t> small(3);
        n = 99;
        EXPECT_EQ(UKO_GbkToUcs2("\xC4\xE3" "a", 3, small.data(), 3, &n), 1u);
        EXPECT_EQ(n, 99u);
        std::vector<uint8_t> one(1);
        EXPECT_EQ(UKO_GbkToUcs2("a", 1, one.data(), 1, &n), 1u);
    }
    {
        const uint8_t units[] = {0x60, 0x4F, 'a', 0};
        std::vector<uint8_t> gbk(3);
        EXPECT_EQ(UKO_Ucs2ToGbk(units, 4, reinterpret_cast<char*>(gbk.data()), 3, &n), 0u);
        EXPECT_EQ(gbk, (std::vector<uint8_t>{0xC4, 0xE3, 'a'}));
        std::vector<uint8_t> small(2);
        EXPECT_EQ(UKO_Ucs2ToGbk(units, 4, reinterpret_cast<char*>(small.data()), 2, &n), 1u);
        std::vector<uint8_t> one(1);
        EXPECT_EQ(UKO_Ucs2ToGbk(units, 2, reinterpret_cast<char*>(one.data()), 1, &n), 1u);
        EXPECT_EQ(UKO_Ucs2ToGbk(units, 3, reinterpret_cast<char*>(gbk.data()), 3, &n), 1u);  // half a unit
    }
    {
        const uint8_t units[] = {0x60, 0x4F, 0xA4, 0x00, 'a', 0};
        std::vector<uint8_t> utf8(9);
        EXPECT_EQ(UKO_Ucs2ToUtf8(units, 3, reinterpret_cast<char*>(utf8.data()), 9, &n), 0u);
        EXPECT_EQ(n, 6u);
        EXPECT_EQ(std::vector<uint8_t>(utf8.begin(), utf8.begin() + 6),
                  (std::vector<uint8_t>{0xE4, 0xBD, 0xA0, 0xC2, 0xA4, 'a'}));
        EXPECT_EQ(UKO_Ucs2ToUtf8(units, 3, reinterpret_cast<char*>(utf8.data()), 8, &n), 1u);
    }
    {
        // A capacity below half the input length fails at once; capacity runs out
        // before the input does otherwise.
        std::vector<uint8_t> ucs2(2);
        EXPECT_EQ(UKO_Utf8ToUcs2("abc", 3, ucs2.data(), 1, &n), 1u);
        EXPECT_EQ(UKO_Utf8ToUcs2("ab", 2, ucs2.data(), 1, &n), 0u);
        EXPECT_EQ(n, 1u);
    }
}

TEST_F(TextCode, Utf8ToUcs2AcceptsTheShortestFormsOfTheBasicPlaneOnly) {
    struct Case {
        std::string in;
        uint32_t rc;
        std::vector<uint16_t> units;
    } cases[] = {
        {Bytes({0xC2, 0x80}), 0, {0x0080}},
        {Bytes({0xDF, 0xBF}), 0, {0x07FF}},
        {Bytes({0xE0, 0xA0, 0x80}), 0, {0x0800}},
        {Bytes({0xED, 0x9F, 0xBF}), 0, {0xD7FF}},
        {Bytes({0xEE, 0x80, 0x80}), 0, {0xE000}},
        {Bytes({0xEF, 0xBF, 0xBF}), 0, {0xFFFF}},
        {Bytes({'x', 0xE0}), 0, {'x'}},
        {Bytes({'x', 0xE0, 0xA0}), 0, {'x'}},
        {Bytes({0xC1, 0xBF}), 1, {}},
        {Bytes({0xE0, 0x9F, 0xBF}), 1, {}},
        {Bytes({'x', 0xE0, 0x9F}), 1, {}},
        {Bytes({0xED, 0xA0, 0x80}), 1, {}},
        {Bytes({0xED, 0xBF, 0xBF}), 1, {}},
        {Bytes({'x', 0xED, 0xB0}), 1, {}},
        {Bytes({0xF0, 0x90, 0x80, 0x80}), 1, {}},
        {Bytes({0xF4, 0x8F, 0xBF}), 1, {}},
        {Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), 1, {}},
        {Bytes({0xFF}), 1, {}},
        {Bytes({0xBF}), 1, {}},
        {Bytes({0xC3, 0xC3}), 1, {}},
        {Bytes({0xE4, 0xBD, 0x41}), 1, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> ucs2(2 * c.in.size());
        uint32_t units = 99;
        uint32_t rc = UKO_Utf8ToUcs2(c.in.data(), static_cast<uint32_t>(c.in.size()), ucs2.data(),
                                     static_cast<uint32_t>(c.in.size()), &units);
        std::string hex;
        for (char ch : c.in) hex += " " + std::to_string(static_cast<uint8_t>(ch));
        EXPECT_EQ(rc, c.rc) << hex;
        if (c.rc == 0) {
            ASSERT_EQ(units, c.units.size()) << hex;
            for (size_t i = 0; i < c.units.size(); ++i) {
                EXPECT_EQ(ucs2[2 * i] | (ucs2[2 * i + 1] << 8), c.units[i]) << hex;
            }
        } else {
            EXPECT_EQ(units, 99u) << hex;
        }
    }
}

// ---- URLs ------------------------------------------------------------------------------------------------

TEST_F(TextCode, UrlDecode) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"a%2Fb+c%zz", "a/b c%zz"},
        {"%4a%4A%41", "JJA"},
        {"%", "%"},
        {"x%4", "x%4"},
        {"%%41", "%A"},
        {"%00z", std::string("\0z", 2)},
        {"", ""},
        {"%e4%bd%a0", Bytes({0xE4, 0xBD, 0xA0})},
    };
    for (const Case& c : cases) {
        std::vector<char> dest(std::strlen(c.in) + 1, '#');
        uint32_t n = UKO_UrlDecode(c.in, dest.data());
        EXPECT_EQ(n, c.out.size()) << c.in;
        EXPECT_TRUE(std::string(dest.data(), n) == c.out) << c.in;
        EXPECT_EQ(dest[n], '\0') << c.in;
    }
    char dest[4];
    EXPECT_EQ(UKO_UrlDecode(nullptr, dest), 0u);
    EXPECT_EQ(UKO_UrlDecode("a", nullptr), 0u);
}

TEST_F(TextCode, UrlEncode) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"a b/~", "a%20b%2F~"},
        {"AZaz09'()*-._~", "AZaz09'()*-._~"},
        {"!\"#$%&+,:;=?@[]", "%21%22%23%24%25%26%2B%2C%3A%3B%3D%3F%40%5B%5D"},
        {Bytes({0xE4, 0xBD, 0xA0, 0x7F, 0x01}), "%E4%BD%A0%7F%01"},
        {std::string("ab\0cd", 5), "ab"},  // a NUL ends the walk
        {"", ""},
    };
    for (const Case& c : cases) {
        std::vector<char> dest(3 * c.in.size() + 1, '#');
        uint32_t n = 77;
        EXPECT_EQ(UKO_UrlEncode(c.in.data(), static_cast<uint32_t>(c.in.size()), dest.data(),
                                static_cast<uint32_t>(3 * c.in.size()), &n),
                  0u)
            << c.out;
        EXPECT_EQ(n, c.out.size()) << c.out;
        EXPECT_TRUE(std::string(dest.data(), n) == c.out) << c.out;
        EXPECT_EQ(dest[n], '#') << "no terminator is written";
    }
    char dest[16];
    uint32_t n = 77;
    EXPECT_EQ(UKO_UrlEncode("a b/~", 5, dest, 14, &n), 1u);
    EXPECT_EQ(UKO_UrlEncode(nullptr, 5, dest, 16, &n), 1u);
    EXPECT_EQ(UKO_UrlEncode("a", 1, nullptr, 16, &n), 1u);
    EXPECT_EQ(UKO_UrlEncode("a", 1, dest, 16, nullptr), 1u);
    // Three times a length above 2^32 / 3 must not wrap into a small "enough".
    EXPECT_EQ(UKO_UrlEncode("a", 0x60000000, dest, 16, &n), 1u);
    EXPECT_EQ(n, 77u);
}

}  // namespace
