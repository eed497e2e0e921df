#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "uko_atomic.h"

namespace {

TEST(UkoAtomic, OperationsReturnTheOldValueAndStoreTheNewOne) {
    struct Case {
        const char* name;
        uint32_t (*op)(uint32_t*, uint32_t);
        uint32_t start;
        uint32_t v;
        uint32_t after;
    } cases[] = {
        {"add wraps", UKO_AtomicAdd, 0xFFFFFFFF, 3, 2},
        {"sub wraps", UKO_AtomicSub, 1, 3, 0xFFFFFFFE},
        {"and", UKO_AtomicAnd, 0xF0F0, 0xFF00, 0xF000},
        {"or", UKO_AtomicOr, 0xF0F0, 0x0F01, 0xFFF1},
        {"nand", UKO_AtomicNand, 0xF0F0, 0xFF00, 0xFFFF0FFF},
        {"xor", UKO_AtomicXor, 0xF0F0, 0xFF00, 0x0FF0},
        {"swap", UKO_AtomicSwap, 17, 99, 99},
    };
    for (const Case& c : cases) {
        uint32_t word = c.start;
        EXPECT_EQ(c.op(&word, c.v), c.start) << c.name;
        EXPECT_EQ(word, c.after) << c.name;
    }
    uint32_t word = 0;
    EXPECT_EQ(UKO_AtomicDec(&word), 0u);
    EXPECT_EQ(word, 0xFFFFFFFFu);
    EXPECT_EQ(UKO_AtomicInc(&word), 0xFFFFFFFFu);
    EXPECT_EQ(word, 0u);
    word = 42;
    EXPECT_EQ(UKO_AtomicGet(&word), 42u);
}

TEST(UkoAtomic, CasOnEachWidthTouchesOnlyItsBytes) {
    struct Case {
        const char* name;
        uint32_t width;
        size_t offset;        // byte of the buffer the word starts at
        uint32_t expected;
        uint32_t newValue;
        uint32_t result;
        uint8_t after[8];
    } cases[] = {
        {"4 bytes, match", 4, 0, 0x44332211, 0xDDCCBBAA, 0x44332211,
         {0xAA, 0xBB, 0xCC, 0xDD, 0x55, 0x66, 0x77, 0x88}},
        {"4 bytes, mismatch", 4, 4, 0x12345678, 0, 0x88776655,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"2 bytes, match; upper bits of expected", 2, 2, 0xABCD4433, 0xFFFFEEEE, 0xABCD4433,
         {0x11, 0x22, 0xEE, 0xEE, 0x55, 0x66, 0x77, 0x88}},
        {"2 bytes, mismatch", 2, 2, 0xABCD0000, 0x1111, 0xABCD4433,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"1 byte, match", 1, 5, 0x00000066, 0xFFFFFF99, 0x66,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x99, 0x77, 0x88}},
        {"1 byte, mismatch", 1, 5, 0x12345600, 0x99, 0x12345666,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"width 3 does nothing", 3, 0, 0x00332211, 0, 0x00332211,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"width 8 does nothing", 8, 0, 0x44332211, 0, 0x44332211,
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
    };
    for (const Case& c : cases) {
        alignas(8) uint8_t buf[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        EXPECT_EQ(UKO_AtomicCas(buf + c.offset, c.expected, c.newValue, c.width), c.result)
            << c.name;
        EXPECT_EQ(std::memcmp(buf, c.after, sizeof(buf)), 0) << c.name;
    }
}

TEST(UkoAtomic, CasBoolSaysWhetherTheSwapHappened) {
    uint32_t word = 5;
    EXPECT_EQ(UKO_AtomicCasBool(&word, 4, 9), 0u);
    EXPECT_EQ(word, 5u);
    EXPECT_EQ(UKO_AtomicCasBool(&word, 5, 9), 1u);
    EXPECT_EQ(word, 9u);
}

// Threads hammer one word; a lost update would show as a short count.
struct Hammer {
    uint32_t* word;
    uint32_t* bytes;  // two 16-bit halves counted up by width-2 swaps
    int rounds;
};

void* IncrementLoop(void* p) {
    Hammer* h = static_cast<Hammer*>(p);
    for (int i = 0; i < h->rounds; ++i) {
        UKO_AtomicInc(h->word);
    }
    return nullptr;
}

TEST(UkoAtomic, ConcurrentIncrementsAreNeverLost) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 1000000;
    uint32_t word = 0;
    Hammer h{&word, nullptr, kRounds};
    std::vector<pthread_t> threads(kThreads);
    for (pthread_t& t : threads) {
        ASSERT_EQ(pthread_create(&t, nullptr, IncrementLoop, &h), 0);
    }
    for (pthread_t& t : threads) {
        pthread_join(t, nullptr);
    }
    EXPECT_EQ(word, 8000000u);
}

void* HalfwordLoop(void* p) {
    Hammer* h = static_cast<Hammer*>(p);
    uint16_t* half = reinterpret_cast<uint16_t*>(h->bytes);
    for (int i = 0; i < h->rounds; ++i) {
        uint32_t seen = UKO_AtomicCas(half, 0, 0, 2);  // read through a failing swap
        for (;;) {
            uint32_t found = UKO_AtomicCas(half, seen, seen + 1, 2);
            if (found == seen) {
                break;
            }
            seen = found;
        }
    }
    return nullptr;
}

TEST(UkoAtomic, NarrowCasLoopsDoNotDisturbTheOtherHalf) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 10000;  // stays below 2^16 in total
    alignas(4) uint32_t word = 0;
    Hammer h{nullptr, &word, kRounds};
    std::vector<pthread_t> threads(kThreads);
    for (pthread_t& t : threads) {
        ASSERT_EQ(pthread_create(&t, nullptr, HalfwordLoop, &h), 0);
    }
    for (pthread_t& t : threads) {
        pthread_join(t, nullptr);
    }
    uint16_t halves[2];
    std::memcpy(halves, &word, sizeof(halves));
    EXPECT_EQ(halves[0], kThreads * kRounds);
    EXPECT_EQ(halves[1], 0u);
}

}  // namespace
