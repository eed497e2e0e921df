#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
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


// ---- Bit-by-bit reference ----------------------------------------------------------------
// The arithmetic as first written, on the two words alone: long division in base 2 from
// the highest quotient bit down, and a product built from shifted copies of the value,
// testing before each addition whether the shift loses set bits and after it whether
// the high word wrapped. The native arithmetic must agree with it on every result and
// every code. The words are kept in locals rather than records so that the sanitizer
// build runs ten million of these in seconds.

struct Word64 {
    uint32_t hi;
    uint32_t lo;
};

bool RefBelow(const Word64& a, const Word64& b) {
    return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo);
}

void RefDivide(const Word64& a, const Word64& b, Word64& quot, Word64& rem) {
    if (b.hi == 0 && b.lo == 1) {
        quot = a;
        rem = Word64{0, 0};
        return;
    }
    if (RefBelow(a, b)) {
        quot = Word64{0, 0};
        rem = a;
        return;
    }
    if (a.hi == b.hi && a.lo == b.lo) {
        quot = Word64{0, 1};
        rem = Word64{0, 0};
        return;
    }
    const uint32_t ah = a.hi;
    const uint32_t al = a.lo;
    const uint32_t bh = b.hi;
    const uint32_t bl = b.lo;
    uint32_t qh = 0;
    uint32_t ql = 0;
    uint32_t rh = 0;
    uint32_t rl = 0;
    // Above the dividend's highest set bit the partial remainder stays 0 and no quotient
    // bit is set, so those steps are skipped.
    const int top = ah != 0 ? 63 - __builtin_clz(ah) : 31 - __builtin_clz(al);
    for (int i = top; i >= 0; --i) {
        // The partial remainder moves up one bit and takes the dividend's bit i.
        const uint32_t bit = i >= 32 ? (ah >> (i - 32)) & 1u : (al >> i) & 1u;
        rh = (rh << 1) | (rl >> 31);
        rl = (rl << 1) | bit;
        if (rh > bh || (rh == bh && rl >= bl)) {
            const uint32_t borrow = rl < bl ? 1u : 0u;
            rl -= bl;
            rh = rh - bh - borrow;
            if (i >= 32) {
                qh |= 1u << (i - 32);
            } else {
                ql |= 1u << i;
            }
        }
    }
    quot = Word64{qh, ql};
    rem = Word64{rh, rl};
}

// Results of one operation: the code and the words written, with the words a call did
// not write left at the sentinel.
struct Outcome {
    uint32_t rc;
    uint32_t w[4];
    bool operator==(const Outcome& o) const {
        return rc == o.rc && w[0] == o.w[0] && w[1] == o.w[1] && w[2] == o.w[2] && w[3] == o.w[3];
    }
};
constexpr uint32_t kSentinel = 0xC0FFEE11u;

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << std::hex << "rc " << o.rc << " words " << o.w[0] << ' ' << o.w[1] << ' ' << o.w[2]
              << ' ' << o.w[3] << std::dec;
}

Outcome RefDiv64(u64 a, u64 b) {
    Outcome o{22, {kSentinel, kSentinel, kSentinel, kSentinel}};
    if (b == 0) {
        return o;
    }
    Word64 q;
    Word64 r;
    RefDivide(Word64{Hi(a), Lo(a)}, Word64{Hi(b), Lo(b)}, q, r);
    return Outcome{0, {q.hi, q.lo, r.hi, r.lo}};
}

Outcome RefDiv32(u64 a, uint32_t d) {
    Outcome o{22, {kSentinel, kSentinel, kSentinel, kSentinel}};
    if (d == 0) {
        return o;
    }
    Word64 q;
    Word64 r;
    RefDivide(Word64{Hi(a), Lo(a)}, Word64{0, d}, q, r);
    return Outcome{0, {q.hi, q.lo, r.lo, kSentinel}};
}

Outcome RefMulti32(u64 v, uint32_t m) {
    const uint32_t ah = Hi(v);
    const uint32_t al = Lo(v);
    uint32_t ph = 0;
    uint32_t pl = 0;
    if (m != 0 && (ah != 0 || al != 0)) {
        for (int i = 31; i >= 0; --i) {
            if ((m & (1u << i)) == 0) {
                continue;
            }
            // The shift would push set bits out of the high word.
            if (i != 0 && (ah >> (32 - i)) != 0) {
                return Outcome{74, {0, 0, kSentinel, kSentinel}};
            }
            const uint32_t sh = i == 0 ? ah : (ah << i) | (al >> (32 - i));
            const uint32_t sl = al << i;
            const uint32_t lo = pl + sl;
            const uint32_t carry = lo < pl ? 1u : 0u;
            const uint32_t hi = ph + sh;
            const uint32_t hiWithCarry = hi + carry;
            // The sum wrapped past 2^64 - 1.
            if (hi < ph || hiWithCarry < hi) {
                return Outcome{74, {0, 0, kSentinel, kSentinel}};
            }
            ph = hiWithCarry;
            pl = lo;
        }
    }
    return Outcome{0, {ph, pl, kSentinel, kSentinel}};
}

Outcome OurDiv64(u64 a, u64 b) {
    Outcome o{0, {kSentinel, kSentinel, kSentinel, kSentinel}};
    o.rc = UKO_64Div64(Hi(a), Lo(a), Hi(b), Lo(b), &o.w[0], &o.w[1], &o.w[2], &o.w[3]);
    return o;
}

Outcome OurDiv32(u64 a, uint32_t d) {
    Outcome o{0, {kSentinel, kSentinel, kSentinel, kSentinel}};
    o.rc = UKO_64Div32(Hi(a), Lo(a), d, &o.w[0], &o.w[1], &o.w[2]);
    return o;
}

Outcome OurMulti32(u64 v, uint32_t m) {
    Outcome o{0, {kSentinel, kSentinel, kSentinel, kSentinel}};
    o.rc = UKO_64Multi32(Hi(v), Lo(v), m, &o.w[0], &o.w[1]);
    return o;
}

// Every pair of values that sit on a boundary: 0, 1, word edges, the top bit, all ones,
// and their neighbours.
TEST(Math64Reference, EdgeValuesAgreeWithTheBitByBitArithmetic) {
    const u64 edges[] = {
        0, 1, 2, 3, 7, 10, 100, 1000, 10000,
        0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x100000000, 0x100000001,
        0x1FFFFFFFF, 0xFFFFFFFF00000000, 0xFFFFFFFF00000001, 0x7FFFFFFFFFFFFFFF,
        0x8000000000000000, 0x8000000000000001, ~0ull - 1, ~0ull,
    };
    for (u64 a : edges) {
        for (u64 b : edges) {
            ASSERT_EQ(OurDiv64(a, b), RefDiv64(a, b)) << std::hex << a << " / " << b;
            const uint32_t d = Lo(b);
            ASSERT_EQ(OurDiv32(a, d), RefDiv32(a, d)) << std::hex << a << " / " << d;
            ASSERT_EQ(OurMulti32(a, d), RefMulti32(a, d)) << std::hex << a << " x " << d;
            // The overflow boundary of this multiplier: the largest value whose product
            // fits, and the next one.
            if (d != 0) {
                const u64 fits = ~0ull / d;
                ASSERT_EQ(OurMulti32(fits, d), RefMulti32(fits, d)) << std::hex << fits << " x " << d;
                if (fits != ~0ull) {
                    ASSERT_EQ(OurMulti32(fits + 1, d), RefMulti32(fits + 1, d))
                        << std::hex << fits + 1 << " x " << d;
                }
            }
        }
    }
}

// Ten million random pairs from the operand mix above (magnitudes, word boundaries and
// extremes all come up): quotient, remainder, product and code identical.
TEST(Math64Reference, RandomPairsAgreeWithTheBitByBitArithmetic) {
    OperandSource src;
    for (int i = 0; i < 10000000; ++i) {
        const u64 a = src.Next64();
        const u64 b = src.Next64();
        const uint32_t m = src.Next32();
        ASSERT_EQ(OurDiv64(a, b), RefDiv64(a, b)) << std::hex << a << " / " << b;
        ASSERT_EQ(OurDiv32(a, m), RefDiv32(a, m)) << std::hex << a << " / " << m;
        ASSERT_EQ(OurMulti32(a, m), RefMulti32(a, m)) << std::hex << a << " x " << m;
    }
}

}  // namespace
