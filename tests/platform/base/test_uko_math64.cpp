#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "uko_math64.h"

namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;

uint32_t Hi(u64 v) { return static_cast<uint32_t>(v >> 32); }
uint32_t Lo(u64 v) { return static_cast<uint32_t>(v); }
u64 Join(uint32_t hi, uint32_t lo) { return (static_cast<u64>(hi) << 32) | lo; }

TEST(Math64, InPlaceAddAndSubCarryAcrossTheWords) {
    struct Case {
        const char* name;
        bool add;
        u64 start;
        u64 b;
        u64 expected;
    } cases[] = {
        {"sub borrows from high", false, Join(1, 0), 1, Join(0, 0xFFFFFFFF)},
        {"add carries into high", true, Join(0, 0xFFFFFFFF), 1, Join(1, 0)},
        {"sub wraps below zero", false, 0, 1, ~0ull},
        {"add wraps above max", true, ~0ull, 2, 1},
        {"sub of high words only", false, Join(5, 7), Join(2, 0), Join(3, 7)},
    };
    for (const Case& c : cases) {
        uint32_t lo = Lo(c.start);
        uint32_t hi = Hi(c.start);
        if (c.add) {
            UKO_64Add(&lo, &hi, Lo(c.b), Hi(c.b));
        } else {
            UKO_64Sub(&lo, &hi, Lo(c.b), Hi(c.b));
        }
        EXPECT_EQ(Join(hi, lo), c.expected) << c.name;
    }
}

TEST(Math64, SubtractionAnswersLessWithoutTouchingTheResult) {
    uint32_t hi = 0xAAAA;
    uint32_t lo = 0xBBBB;
    EXPECT_EQ(UKO_64Sub64(0, 5, 0, 6, &hi, &lo), UKO_64_LESS);
    EXPECT_EQ(UKO_64Sub64(1, 0, 2, 0, &hi, &lo), 0xFFFFFFFFu);
    EXPECT_EQ(hi, 0xAAAAu);
    EXPECT_EQ(lo, 0xBBBBu);
    EXPECT_EQ(UKO_64Sub64(7, 9, 7, 9, &hi, &lo), 0u);
    EXPECT_EQ(Join(hi, lo), 0u);
    EXPECT_EQ(UKO_64Sub64(1, 0, 0, 1, &hi, &lo), 0u);
    EXPECT_EQ(Join(hi, lo), 0xFFFFFFFFull);
}

TEST(Math64, MultiplicationOverflowClearsTheResult) {
    struct Case {
        u64 a;
        uint32_t m;
        uint32_t rc;
        u64 expected;
    } cases[] = {
        {Join(0x80000000, 0), 2, 74, 0},
        {Join(0, 0xFFFFFFFF), 0xFFFFFFFF, 0, Join(0xFFFFFFFE, 1)},
        {~0ull, 1, 0, ~0ull},
        {~0ull, 0, 0, 0},
        {0, 0xFFFFFFFF, 0, 0},
        // The highest shift alone fits, the sum of the shifted parts wraps.
        {Join(0x7FFFFFFF, 0xFFFFFFFF), 3, 74, 0},
        {Join(1, 0), 0xFFFFFFFF, 0, Join(0xFFFFFFFF, 0)},
        {Join(1, 1), 0xFFFFFFFF, 0, ~0ull},
        {Join(1, 2), 0xFFFFFFFF, 74, 0},
    };
    for (const Case& c : cases) {
        uint32_t hi = 0x1234;
        uint32_t lo = 0x5678;
        EXPECT_EQ(UKO_64Multi32(Hi(c.a), Lo(c.a), c.m, &hi, &lo), c.rc)
            << std::hex << c.a << " x " << c.m;
        EXPECT_EQ(Join(hi, lo), c.expected) << std::hex << c.a << " x " << c.m;
    }
}

TEST(Math64, DivisionShortcutsAndRemainderPointers) {
    uint32_t qh = 0;
    uint32_t ql = 0;
    uint32_t r = 0xFFFF;
    EXPECT_EQ(UKO_64Div32(1, 0, 2, &qh, &ql, &r), 0u);
    EXPECT_EQ(Join(qh, ql), 0x80000000ull);
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(UKO_64Div32(1, 0, 2, &qh, &ql, nullptr), 0u) << "the remainder may be NULL";

    uint32_t rh = 0x11;
    uint32_t rl = 0x22;
    EXPECT_EQ(UKO_64Div64(0, 100, 0, 7, &qh, &ql, &rh, nullptr), 0u);
    EXPECT_EQ(Join(qh, ql), 14u);
    EXPECT_EQ(rh, 0x11u) << "one remainder pointer alone writes nothing";
    EXPECT_EQ(UKO_64Div64(0, 100, 0, 7, &qh, &ql, &rh, &rl), 0u);
    EXPECT_EQ(Join(rh, rl), 2u);

    struct Case {
        u64 a;
        u64 b;
        u64 q;
        u64 r;
    } cases[] = {
        {~0ull, 1, ~0ull, 0},                        // divisor 1
        {5, Join(1, 0), 0, 5},                       // dividend below divisor
        {Join(3, 3), Join(3, 3), 1, 0},              // equal
        {~0ull, Join(0x80000000, 0), 1, 0x7FFFFFFFFFFFFFFFull},  // divisor of 2^63
        {~0ull, ~0ull - 1, 1, 1},
        {0, 9, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UKO_64Div64(Hi(c.a), Lo(c.a), Hi(c.b), Lo(c.b), &qh, &ql, &rh, &rl), 0u);
        EXPECT_EQ(Join(qh, ql), c.q) << std::hex << c.a << " / " << c.b;
        EXPECT_EQ(Join(rh, rl), c.r) << std::hex << c.a << " / " << c.b;
    }
}

TEST(Math64, RoundedDivisionThresholdIsHalfTheDivisorRoundedDown) {
    struct Case {
        u64 a;
        uint32_t d;
        u64 q;
    } cases[] = {
        {149, 100, 1}, {150, 100, 2}, {3, 3, 1}, {4, 3, 2}, {7, 1, 7},
        {0, 5, 0},     {1, 2, 1},     {~0ull, 2, 0x8000000000000000ull},
        // The increment carries into the high word.
        {Join(0x1, 0xFFFFFFFE) + 1, 2, Join(1, 0)},
    };
    for (const Case& c : cases) {
        uint32_t qh = 0;
        uint32_t ql = 0;
        EXPECT_EQ(UKO_64Div32Round(Hi(c.a), Lo(c.a), c.d, &qh, &ql), 0u);
        EXPECT_EQ(Join(qh, ql), c.q) << c.a << " / " << c.d;
    }
}

TEST(Math64, InvalidArgumentsGive22AndWriteNothing) {
    uint32_t hi = 0xAB;
    uint32_t lo = 0xCD;
    uint32_t r = 0xEF;
    EXPECT_EQ(UKO_64AddTo(0, 1, nullptr, &lo), 22u);
    EXPECT_EQ(UKO_64AddTo(0, 1, &hi, nullptr), 22u);
    EXPECT_EQ(UKO_64SubFrom(0, 1, nullptr, &lo), 22u);
    EXPECT_EQ(UKO_64Add64(0, 1, 0, 1, &hi, nullptr), 22u);
    EXPECT_EQ(UKO_64Sub64(0, 1, 0, 1, nullptr, &lo), 22u);
    EXPECT_EQ(UKO_64Multi32(0, 1, 2, &hi, nullptr), 22u);
    EXPECT_EQ(UKO_64Div64(0, 1, 0, 0, &hi, &lo, &hi, &lo), 22u);
    EXPECT_EQ(UKO_64Div64(0, 1, 0, 1, nullptr, &lo, &hi, &lo), 22u);
    EXPECT_EQ(UKO_64Div32(0, 1, 0, &hi, &lo, &r), 22u);
    EXPECT_EQ(UKO_64Div32(0, 1, 1, &hi, nullptr, &r), 22u);
    EXPECT_EQ(UKO_64Div32Round(0, 1, 0, &hi, &lo), 22u);
    EXPECT_EQ(UKO_64Div32Round(0, 1, 1, nullptr, &lo), 22u);
    EXPECT_EQ(hi, 0xABu);
    EXPECT_EQ(lo, 0xCDu);
    EXPECT_EQ(r, 0xEFu);
}

// Operands drawn so that carries, borrows, word boundaries and the extremes come up
// often, not only uniform noise.
struct OperandSource {
    std::mt19937_64 rng{20240611};
    u64 Next64() {
        switch (rng() % 6) {
            case 0: return rng();
            case 1: return rng() & 0xFFFFFFFFull;
            case 2: return ~0ull - (rng() % 4);
            case 3: return (1ull << (rng() % 64)) + (rng() % 3) - 1;
            case 4: return rng() >> (rng() % 64);
            default: return rng() % 16;
        }
    }
    uint32_t Next32() {
        switch (rng() % 4) {
            case 0: return static_cast<uint32_t>(rng());
            case 1: return static_cast<uint32_t>(rng() % 16);
            case 2: return 0xFFFFFFFFu - static_cast<uint32_t>(rng() % 4);
            default: return static_cast<uint32_t>(rng() >> (32 + rng() % 32));
        }
    }
};

TEST(Math64, AgreesWithNativeArithmetic) {
    OperandSource src;
    for (int i = 0; i < 200000; ++i) {
        const u64 a = src.Next64();
        const u64 b = src.Next64();
        const uint32_t m = src.Next32();
        uint32_t hi = 0;
        uint32_t lo = 0;

        lo = Lo(a);
        hi = Hi(a);
        UKO_64Add(&lo, &hi, Lo(b), Hi(b));
        ASSERT_EQ(Join(hi, lo), a + b) << a << " + " << b;
        lo = Lo(a);
        hi = Hi(a);
        UKO_64Sub(&lo, &hi, Lo(b), Hi(b));
        ASSERT_EQ(Join(hi, lo), a - b) << a << " - " << b;

        hi = Hi(b);
        lo = Lo(b);
        ASSERT_EQ(UKO_64AddTo(Hi(a), Lo(a), &hi, &lo), 0u);
        ASSERT_EQ(Join(hi, lo), b + a);
        hi = Hi(b);
        lo = Lo(b);
        ASSERT_EQ(UKO_64SubFrom(Hi(a), Lo(a), &hi, &lo), 0u);
        ASSERT_EQ(Join(hi, lo), b - a);

        ASSERT_EQ(UKO_64Add64(Hi(a), Lo(a), Hi(b), Lo(b), &hi, &lo), 0u);
        ASSERT_EQ(Join(hi, lo), a + b);

        hi = 0x5A5A5A5A;
        lo = 0xA5A5A5A5;
        uint32_t rc = UKO_64Sub64(Hi(a), Lo(a), Hi(b), Lo(b), &hi, &lo);
        if (a >= b) {
            ASSERT_EQ(rc, 0u);
            ASSERT_EQ(Join(hi, lo), a - b);
        } else {
            ASSERT_EQ(rc, UKO_64_LESS);
            ASSERT_EQ(Join(hi, lo), Join(0x5A5A5A5A, 0xA5A5A5A5));
        }

        const u128 wide = static_cast<u128>(a) * m;
        rc = UKO_64Multi32(Hi(a), Lo(a), m, &hi, &lo);
        if ((wide >> 64) == 0) {
            ASSERT_EQ(rc, 0u) << a << " x " << m;
            ASSERT_EQ(Join(hi, lo), static_cast<u64>(wide));
        } else {
            ASSERT_EQ(rc, 74u) << a << " x " << m;
            ASSERT_EQ(Join(hi, lo), 0u);
        }

        uint32_t qh = 0;
        uint32_t ql = 0;
        uint32_t rh = 0;
        uint32_t rl = 0;
        if (b != 0) {
            ASSERT_EQ(UKO_64Div64(Hi(a), Lo(a), Hi(b), Lo(b), &qh, &ql, &rh, &rl), 0u);
            ASSERT_EQ(Join(qh, ql), a / b) << a << " / " << b;
            ASSERT_EQ(Join(rh, rl), a % b) << a << " % " << b;
        }
        if (m != 0) {
            uint32_t r32 = 0;
            ASSERT_EQ(UKO_64Div32(Hi(a), Lo(a), m, &qh, &ql, &r32), 0u);
            ASSERT_EQ(Join(qh, ql), a / m) << a << " / " << m;
            ASSERT_EQ(r32, a % m) << a << " % " << m;
            ASSERT_EQ(UKO_64Div32Round(Hi(a), Lo(a), m, &qh, &ql), 0u);
            u64 rounded = a / m + ((m > 1 && a % m >= m / 2) ? 1 : 0);
            ASSERT_EQ(Join(qh, ql), rounded) << a << " / " << m << " rounded";
        }
    }
}

}  // namespace
