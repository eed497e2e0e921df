#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sec_lib.h"

namespace {

constexpr size_t kMaxValid = 0x7FFFFFFF;
constexpr size_t kTooLarge = 0x80000000;

// A destination of 16 bytes with 16 guard bytes on each side. Every byte starts with a
// known value, so a test can state the destination byte by byte and prove that nothing
// at or past destMax (nor before the destination) was written.
class Guarded {
public:
    static constexpr size_t kArea = 16;
    static constexpr size_t kGuard = 16;
    static constexpr unsigned char kGuardByte = 0xA5;

    explicit Guarded(const std::string& initial = std::string(kArea, '~'))
        : bytes_(kArea + 2 * kGuard, kGuardByte) {
        std::string area = initial;
        area.resize(kArea, '~');
        memcpy(bytes_.data() + kGuard, area.data(), kArea);
        initial_ = bytes_;
    }

    char* dest() { return reinterpret_cast<char*>(bytes_.data() + kGuard); }

    // The first destMax bytes must equal `expected`; every other byte must be unchanged.
    void Expect(size_t destMax, const std::string& expected) const {
        ASSERT_EQ(expected.size(), destMax) << "bad test case";
        const std::string area(reinterpret_cast<const char*>(bytes_.data() + kGuard), destMax);
        EXPECT_EQ(area, expected);
        for (size_t i = 0; i < bytes_.size(); ++i) {
            if (i >= kGuard && i < kGuard + destMax) {
                continue;
            }
            ASSERT_EQ(bytes_[i], initial_[i]) << "byte " << static_cast<long>(i) - long(kGuard)
                                              << " outside the destination was written";
        }
    }

    // The first destMax bytes as they were: nothing written at all.
    std::string Initial(size_t destMax) const {
        return std::string(reinterpret_cast<const char*>(initial_.data() + kGuard), destMax);
    }

private:
    std::vector<unsigned char> bytes_;
    std::vector<unsigned char> initial_;
};

std::string Bytes(const char* s, size_t n) { return std::string(s, n); }

// ---------------------------------------------------------------------------------------
// memcpy_s, memmove_s, memset_s: every code, destination checked byte by byte.

enum class MemFn { Copy, Move, Set };

struct MemCase {
    const char* name;
    MemFn fn;
    size_t destMax;
    bool nullDest;
    bool nullSrc;
    size_t count;
    secure_errno code;
    const char* expected;  // destMax bytes; nullptr: untouched
};

constexpr char kSrc[] = "0123456789ABCDEF";

secure_errno CallMem(MemFn fn, void* dest, size_t destMax, const void* src, size_t count) {
    switch (fn) {
        case MemFn::Copy:
            return memcpy_s(dest, destMax, src, count);
        case MemFn::Move:
            return memmove_s(dest, destMax, src, count);
        case MemFn::Set:
            return memset_s(dest, destMax, 0x1234 /* fill byte 0x34: '4' */, count);
    }
    return -1;
}

// A case prints as its name, in test names and failure messages alike.
void PrintTo(const MemCase& c, std::ostream* os) { *os << c.name; }

class MemTable : public ::testing::TestWithParam<MemCase> {};

TEST_P(MemTable, CodeAndDestination) {
    const MemCase& c = GetParam();
    Guarded g;
    const secure_errno code = CallMem(c.fn, c.nullDest ? nullptr : g.dest(), c.destMax,
                                      c.nullSrc ? nullptr : kSrc, c.count);
    EXPECT_EQ(code, c.code);
    if (c.nullDest || c.destMax > Guarded::kArea) {
        g.Expect(0, "");  // not a byte written anywhere
    } else {
        g.Expect(c.destMax, c.expected ? Bytes(c.expected, c.destMax) : g.Initial(c.destMax));
    }
}

const char kZero10[10] = {};

INSTANTIATE_TEST_SUITE_P(
    Cases, MemTable,
    ::testing::Values(
        MemCase{"copy_ok", MemFn::Copy, 10, false, false, 4, 0, "0123~~~~~~"},
        MemCase{"copy_count_0", MemFn::Copy, 10, false, false, 0, 0, nullptr},
        MemCase{"copy_count_equals_destMax", MemFn::Copy, 10, false, false, 10, 0, "0123456789"},
        MemCase{"copy_dest_null", MemFn::Copy, 10, true, false, 4, 22, nullptr},
        MemCase{"copy_both_null", MemFn::Copy, 10, true, true, 4, 22, nullptr},
        MemCase{"copy_destMax_0", MemFn::Copy, 0, false, false, 4, 34, nullptr},
        MemCase{"copy_destMax_too_large", MemFn::Copy, kTooLarge, false, false, 4, 34, nullptr},
        MemCase{"copy_src_null_zeroes_destMax", MemFn::Copy, 10, false, true, 4, 150, kZero10},
        MemCase{"copy_count_too_large", MemFn::Copy, 10, false, false, 11, 162, kZero10},
        MemCase{"move_ok", MemFn::Move, 10, false, false, 4, 0, "0123~~~~~~"},
        MemCase{"move_count_0", MemFn::Move, 10, false, false, 0, 0, nullptr},
        MemCase{"move_dest_null", MemFn::Move, 10, true, false, 4, 22, nullptr},
        MemCase{"move_destMax_0", MemFn::Move, 0, false, false, 4, 34, nullptr},
        MemCase{"move_destMax_too_large", MemFn::Move, kTooLarge, false, false, 4, 34, nullptr},
        MemCase{"move_src_null", MemFn::Move, 10, false, true, 4, 150, kZero10},
        MemCase{"move_count_too_large", MemFn::Move, 10, false, false, 11, 162, kZero10},
        MemCase{"set_ok", MemFn::Set, 10, false, false, 4, 0, "4444~~~~~~"},
        MemCase{"set_count_0", MemFn::Set, 10, false, false, 0, 0, nullptr},
        MemCase{"set_dest_null", MemFn::Set, 10, true, false, 4, 22, nullptr},
        MemCase{"set_destMax_0", MemFn::Set, 0, false, false, 4, 34, nullptr},
        MemCase{"set_destMax_too_large", MemFn::Set, kTooLarge, false, false, 4, 34, nullptr},
        MemCase{"set_count_too_large_fills_destMax", MemFn::Set, 10, false, false, 11, 162,
                "4444444444"}),
    [](const ::testing::TestParamInfo<MemCase>& info) { return std::string(info.param.name); });

// The largest accepted destMax is a size, not a promise to touch that many bytes: with a
// small count only count bytes are written.
TEST(SecLimits, DestMaxAtTheLimitIsAccepted) {
    Guarded g;
    EXPECT_EQ(memcpy_s(g.dest(), kMaxValid, kSrc, 3), 0);
    g.Expect(4, "012~");
    Guarded m;
    EXPECT_EQ(memmove_s(m.dest(), kMaxValid, kSrc, 3), 0);
    m.Expect(4, "012~");
    Guarded s;
    EXPECT_EQ(memset_s(s.dest(), kMaxValid, 'z', 3), 0);
    s.Expect(4, "zzz~");
    Guarded a;
    EXPECT_EQ(strcpy_s(a.dest(), kMaxValid, "abc"), 0);
    a.Expect(5, Bytes("abc\0~", 5));
    Guarded b;
    EXPECT_EQ(strncpy_s(b.dest(), kMaxValid, "abcdef", 2), 0);
    b.Expect(4, Bytes("ab\0~", 4));
    Guarded c(Bytes("xy\0", 3));
    EXPECT_EQ(strcat_s(c.dest(), kMaxValid, "z"), 0);
    c.Expect(5, Bytes("xyz\0~", 5));
}

TEST(SecLimits, CountsAboveTheLimitAreRefused) {
    // A count above the limit can never fit a valid destMax.
    Guarded g;
    EXPECT_EQ(memcpy_s(g.dest(), 10, kSrc, kTooLarge), 162);
    g.Expect(10, std::string(10, '\0'));
    Guarded n;
    EXPECT_EQ(strncpy_s(n.dest(), 10, "abc", kTooLarge), 162);
    n.Expect(10, std::string(1, '\0') + std::string(9, '~'));
}

// ---------------------------------------------------------------------------------------
// Overlap: regions that share a byte are refused by memcpy_s and moved by memmove_s;
// regions that only touch are copied.

struct OverlapCase {
    const char* name;
    MemFn fn;
    size_t destOff;
    size_t srcOff;
    size_t count;
    secure_errno code;
    const char* after;  // the whole 16-byte buffer afterwards
};

void PrintTo(const OverlapCase& c, std::ostream* os) { *os << c.name; }

class OverlapTable : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(OverlapTable, CodeAndBuffer) {
    const OverlapCase& c = GetParam();
    Guarded g("abcdefghijklmnop");
    char* base = g.dest();
    const size_t destMax = Guarded::kArea - c.destOff;
    EXPECT_EQ(CallMem(c.fn, base + c.destOff, destMax, base + c.srcOff, c.count), c.code);
    g.Expect(Guarded::kArea, Bytes(c.after, Guarded::kArea));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OverlapTable,
    ::testing::Values(
        // dest inside the source region: the rest of dest (destMax bytes) is zeroed.
        OverlapCase{"copy_dest_after_src", MemFn::Copy, 2, 0, 4, 182,
                    "ab\0\0\0\0\0\0\0\0\0\0\0\0\0\0"},
        // src inside the dest region.
        OverlapCase{"copy_src_after_dest", MemFn::Copy, 0, 2, 4, 182,
                    "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"},
        OverlapCase{"copy_touching_dest_after_src", MemFn::Copy, 4, 0, 4, 0, "abcdabcdijklmnop"},
        OverlapCase{"copy_touching_src_after_dest", MemFn::Copy, 0, 4, 4, 0, "efghefghijklmnop"},
        OverlapCase{"copy_onto_itself", MemFn::Copy, 3, 3, 5, 0, "abcdefghijklmnop"},
        OverlapCase{"copy_overlap_count_0", MemFn::Copy, 2, 0, 0, 0, "abcdefghijklmnop"},
        OverlapCase{"move_dest_after_src", MemFn::Move, 2, 0, 4, 0, "ababcdghijklmnop"},
        OverlapCase{"move_src_after_dest", MemFn::Move, 0, 2, 4, 0, "cdefefghijklmnop"},
        OverlapCase{"move_onto_itself", MemFn::Move, 3, 3, 5, 0, "abcdefghijklmnop"}),
    [](const ::testing::TestParamInfo<OverlapCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// strcpy_s, strncpy_s, strcat_s: every code. A string reset clears only the first byte
// and leaves what was already copied.

enum class StrFn { Cpy, NCpy, Cat };

struct StrCase {
    const char* name;
    StrFn fn;
    const char* initial;  // the destination before the call (16 bytes, '~' padded)
    size_t initialLen;
    size_t destMax;
    bool nullDest;
    const char* src;  // nullptr: NULL source
    size_t count;     // strncpy_s only
    secure_errno code;
    const char* expected;  // destMax bytes; nullptr: untouched
};

secure_errno CallStr(StrFn fn, char* dest, size_t destMax, const char* src, size_t count) {
    switch (fn) {
        case StrFn::Cpy:
            return strcpy_s(dest, destMax, src);
        case StrFn::NCpy:
            return strncpy_s(dest, destMax, src, count);
        case StrFn::Cat:
            return strcat_s(dest, destMax, src);
    }
    return -1;
}

void PrintTo(const StrCase& c, std::ostream* os) { *os << c.name; }

class StrTable : public ::testing::TestWithParam<StrCase> {};

TEST_P(StrTable, CodeAndDestination) {
    const StrCase& c = GetParam();
    Guarded g(Bytes(c.initial, c.initialLen));
    const secure_errno code =
        CallStr(c.fn, c.nullDest ? nullptr : g.dest(), c.destMax, c.src, c.count);
    EXPECT_EQ(code, c.code);
    if (c.nullDest || c.destMax > Guarded::kArea) {
        g.Expect(0, "");
    } else {
        g.Expect(c.destMax, c.expected ? Bytes(c.expected, c.destMax) : g.Initial(c.destMax));
    }
}

#define TILDES "~~~~~~~~~~~~~~~~"

INSTANTIATE_TEST_SUITE_P(
    Cases, StrTable,
    ::testing::Values(
        // strcpy_s
        StrCase{"cpy_fits_exactly", StrFn::Cpy, TILDES, 16, 10, false, "123456789", 0, 0,
                "123456789\0"},
        StrCase{"cpy_long_block_copy", StrFn::Cpy, TILDES, 16, 16, false, "0123456789abcde", 0, 0,
                "0123456789abcde\0"},
        StrCase{"cpy_one_too_long", StrFn::Cpy, TILDES, 16, 9, false, "123456789", 0, 162,
                "\0~~~~~~~~"},
        StrCase{"cpy_src_null", StrFn::Cpy, TILDES, 16, 9, false, nullptr, 0, 150, "\0~~~~~~~~"},
        StrCase{"cpy_dest_null", StrFn::Cpy, TILDES, 16, 9, true, "a", 0, 22, nullptr},
        StrCase{"cpy_destMax_0", StrFn::Cpy, TILDES, 16, 0, false, "a", 0, 34, ""},
        StrCase{"cpy_destMax_too_large", StrFn::Cpy, TILDES, 16, kTooLarge, false, "a", 0, 34,
                nullptr},
        // strncpy_s
        StrCase{"ncpy_count_0_empty_result", StrFn::NCpy, TILDES, 16, 8, false, "abc", 0, 0,
                "\0~~~~~~~"},
        StrCase{"ncpy_cut_to_count", StrFn::NCpy, TILDES, 16, 4, false, "abcdef", 3, 0,
                "abc\0"},
        StrCase{"ncpy_cut_too_large", StrFn::NCpy, TILDES, 16, 3, false, "abcdef", 3, 162,
                "\0~~"},
        StrCase{"ncpy_short_source", StrFn::NCpy, TILDES, 16, 8, false, "ab", 5, 0,
                "ab\0~~~~~"},
        StrCase{"ncpy_src_null", StrFn::NCpy, TILDES, 16, 8, false, nullptr, 3, 150,
                "\0~~~~~~~"},
        StrCase{"ncpy_src_null_count_0", StrFn::NCpy, TILDES, 16, 8, false, nullptr, 0, 150,
                "\0~~~~~~~"},
        StrCase{"ncpy_dest_null", StrFn::NCpy, TILDES, 16, 8, true, "a", 1, 22, nullptr},
        StrCase{"ncpy_destMax_0", StrFn::NCpy, TILDES, 16, 0, false, "a", 1, 34, ""},
        StrCase{"ncpy_destMax_too_large", StrFn::NCpy, TILDES, 16, kTooLarge, false, "a", 1, 34,
                nullptr},
        // strcat_s: 3 + 6 + 1 = 10 fits; one more character does not, and the bytes
        // already appended stay behind the cleared first byte.
        StrCase{"cat_fits_exactly", StrFn::Cat, "abc\0" TILDES, 16, 10, false, "123456", 0, 0,
                "abc123456\0"},
        StrCase{"cat_one_too_long", StrFn::Cat, "abc\0" TILDES, 16, 10, false, "1234567", 0, 162,
                "\0bc1234567"},
        StrCase{"cat_unterminated_dest", StrFn::Cat, "abcdefghij" TILDES, 16, 10, false, "x", 0,
                150, "\0bcdefghij"},
        StrCase{"cat_src_null", StrFn::Cat, "abc\0" TILDES, 16, 10, false, nullptr, 0, 150,
                "\0bc\0~~~~~~"},
        StrCase{"cat_dest_null", StrFn::Cat, "abc\0" TILDES, 16, 10, true, "x", 0, 22, nullptr},
        StrCase{"cat_destMax_0", StrFn::Cat, "abc\0" TILDES, 16, 0, false, "x", 0, 34, ""},
        StrCase{"cat_destMax_too_large", StrFn::Cat, "abc\0" TILDES, 16, kTooLarge, false, "x", 0,
                34, nullptr},
        StrCase{"cat_empty_source", StrFn::Cat, "abc\0" TILDES, 16, 4, false, "", 0, 0,
                "abc\0"}),
    [](const ::testing::TestParamInfo<StrCase>& info) { return std::string(info.param.name); });

// Overlapping string regions: the first byte is cleared and the code is 182; a string
// copied onto itself is accepted when it fits.
TEST(SecStringOverlap, CopyFunctions) {
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strcpy_s(b + 2, 14, b), 182);  // dest inside the source string
        g.Expect(16, Bytes("ab\0def\0~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strcpy_s(b, 16, b + 2), 182);  // source inside the destination
        g.Expect(16, Bytes("\0bcdef\0~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abc\0", 4));
        char* b = g.dest();
        EXPECT_EQ(strcpy_s(b + 4, 12, b), 0);  // touching: 4 bytes end where dest starts
        g.Expect(16, Bytes("abc\0abc\0~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abc\0", 4));
        EXPECT_EQ(strcpy_s(g.dest(), 4, g.dest()), 0);  // onto itself, fits
        g.Expect(16, Bytes("abc\0~~~~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcd\0", 5));
        EXPECT_EQ(strcpy_s(g.dest(), 4, g.dest()), 162);  // onto itself, does not fit
        g.Expect(16, Bytes("\0bcd\0~~~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strncpy_s(b + 1, 15, b, 4), 182);
        g.Expect(16, Bytes("a\0cdef\0~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strncpy_s(b, 16, b, 3), 0);  // onto itself: cut in place
        g.Expect(16, Bytes("abc\0ef\0~~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strncpy_s(b + 4, 12, b, 3), 0);  // touching: 3 bytes and the terminator
        g.Expect(16, Bytes("abcdabc\0~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcdef\0", 7));
        char* b = g.dest();
        EXPECT_EQ(strncpy_s(b + 3, 13, b, 3), 182);  // the terminator's byte overlaps
        g.Expect(16, Bytes("abc\0ef\0~~~~~~~~~", 16));
    }
}

TEST(SecStringOverlap, Concatenation) {
    {
        // The source lies in the destination's free space: appending runs into it.
        Guarded g(Bytes("ab\0\0\0xyz\0", 9));
        char* b = g.dest();
        EXPECT_EQ(strcat_s(b, 16, b + 5), 182);
        g.Expect(16, Bytes("\0bxyzxyz\0~~~~~~~", 16));
    }
    {
        // The source is part of the destination's own text.
        Guarded g(Bytes("abcd\0", 5));
        char* b = g.dest();
        EXPECT_EQ(strcat_s(b, 16, b + 1), 182);
        g.Expect(16, Bytes("\0bcd\0~~~~~~~~~~~", 16));
    }
    {
        // Source before the destination, reached by the appended reading.
        Guarded g(Bytes("ab\0cd\0", 6));
        char* b = g.dest();
        EXPECT_EQ(strcat_s(b + 3, 13, b), 0);  // "cd" + "ab": the source ends before dest
        g.Expect(16, Bytes("ab\0cdab\0~~~~~~~~", 16));
    }
    {
        Guarded g(Bytes("abcd\0x\0", 7));
        char* b = g.dest();
        // Appending the source's own destination: the read reaches dest's first byte.
        EXPECT_EQ(strcat_s(b + 2, 14, b), 182);
        g.Expect(16, Bytes("ab\0dab\0~~~~~~~~~", 16));
    }
}

// A fixed-width field without a terminator: strncpy_s reads exactly count bytes. The
// source sits in a heap block of exactly that size, so AddressSanitizer reports any read
// past it.
TEST(SecStringBounds, UnterminatedSourceOfExactlyCountBytes) {
    constexpr size_t kWidth = 8;
    std::unique_ptr<char[]> field(new char[kWidth]);
    memcpy(field.get(), "ABCDEFGH", kWidth);
    char dest[16];
    memset(dest, '~', sizeof(dest));
    EXPECT_EQ(strncpy_s(dest, sizeof(dest), field.get(), kWidth), 0);
    EXPECT_EQ(std::string(dest), "ABCDEFGH");
    // A destination too small is found without reading further either.
    EXPECT_EQ(strncpy_s(dest, kWidth, field.get(), kWidth), 162);
    EXPECT_EQ(dest[0], '\0');
}

// ---------------------------------------------------------------------------------------
// strtok_s

TEST(SecStrtok, SkipsDelimiterRunsAndKeepsThePositionInTheContext) {
    char text[] = ",,a,,b,";
    char* ctx = nullptr;
    char* t = strtok_s(text, ",", &ctx);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "a");
    EXPECT_EQ(t, text + 2);
    t = strtok_s(nullptr, ",", &ctx);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "b");
    EXPECT_EQ(ctx, text + 7);  // past the last comma, at the terminator
    EXPECT_EQ(strtok_s(nullptr, ",", &ctx), nullptr);
    EXPECT_EQ(memcmp(text, ",,a\0,b\0", 8), 0);
}

TEST(SecStrtok, EdgeArguments) {
    char text[] = "one two";
    char* ctx = nullptr;
    // An empty delimiter set: the whole rest is one token.
    EXPECT_EQ(strtok_s(text, "", &ctx), text);
    EXPECT_STREQ(text, "one two");
    EXPECT_EQ(ctx, text + 7);

    char* none = nullptr;
    EXPECT_EQ(strtok_s(nullptr, ",", &none), nullptr);
    EXPECT_EQ(strtok_s(text, nullptr, &ctx), nullptr);
    EXPECT_EQ(ctx, text + 7);  // unchanged
    EXPECT_EQ(strtok_s(text, ",", nullptr), nullptr);

    char delims[] = ",;,";
    ctx = nullptr;
    EXPECT_EQ(strtok_s(delims, ",;", &ctx), nullptr);  // nothing but delimiters
    EXPECT_EQ(ctx, delims + 3);

    char two[] = "a;b,c";
    ctx = nullptr;
    EXPECT_STREQ(strtok_s(two, ",;", &ctx), "a");
    EXPECT_STREQ(strtok_s(nullptr, ",;", &ctx), "b");
    EXPECT_STREQ(strtok_s(nullptr, ",;", &ctx), "c");
    EXPECT_EQ(strtok_s(nullptr, ",;", &ctx), nullptr);
}

// ---------------------------------------------------------------------------------------
// Version

TEST(SecVersion, BannerAndCode) {
    char big[32];
    memset(big, '~', sizeof(big));
    uint16_t version = 0;
    secure_lib_version_get(big, sizeof(big), &version);
    EXPECT_EQ(version, 0x0201);
    EXPECT_EQ(memcmp(big, "Morvex Secure C 2.1\0~", 21), 0);

    // 16 bytes cannot hold the 20-byte banner: all 16 are zeroed, the code still comes.
    Guarded g;
    version = 0;
    secure_lib_version_get(g.dest(), 16, &version);
    EXPECT_EQ(version, 0x0201);
    g.Expect(16, std::string(16, '\0'));

    // Exactly 20 bytes is enough; a NULL buffer or version word is skipped.
    char exact[20];
    secure_lib_version_get(exact, sizeof(exact), nullptr);
    EXPECT_STREQ(exact, "Morvex Secure C 2.1");
    version = 0;
    secure_lib_version_get(nullptr, 16, &version);
    EXPECT_EQ(version, 0x0201);
    Guarded untouched;
    secure_lib_version_get(untouched.dest(), 0, nullptr);
    untouched.Expect(16, untouched.Initial(16));
}

}  // namespace
