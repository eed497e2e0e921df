#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "os_clock.h"
#include "uko_string.h"
#include "vt_test/thread_state.h"

namespace {

// A reference generator written out from the generator's description: 55 words from a
// fixed table mixed with a linear congruential sequence, then additive draws with a lag
// of 24. Draws give the raw sums.
class Model {
public:
    explicit Model(uint32_t seed) {
        static const uint32_t kTable[55] = {
            0x44068241, 0xA1863C12, 0xFDE1FA5F, 0x72E85BA2, 0x798E2CF6, 0x8EBD32DA, 0x227AACF2,
            0x393DBDC8, 0x13C8B554, 0x51CAB3A6, 0x36654B51, 0xD66D3CC5, 0x146C649C, 0xB7C85386,
            0x2BD8445A, 0x05427279, 0x813AFF7E, 0x3E6E77DD, 0x7DB73821, 0x8DF9C8A7, 0x171EA6DB,
            0xC0C12FDC, 0xF0E95360, 0xA3D37853, 0x4159F756, 0x7404435D, 0xD935D20C, 0xC415CC9F,
            0xBF6821A2, 0xCE53E70F, 0x1B2DB178, 0x06C00687, 0x71AC0096, 0x8D378410, 0x26BF66A5,
            0x52E8965D, 0xAB02A53A, 0xF9D2964F, 0xFC8C3C86, 0xC62938A1, 0xA6932B37, 0x837BA1E0,
            0xF5D99F58, 0xF2C34C1D, 0x4331EF8B, 0xEDC8610C, 0x9A55D805, 0x43EDB016, 0x37D32EF3,
            0xA93155B7, 0x5A8739E1, 0x2A9F9174, 0x85E346BB, 0xE5312286, 0xC4D803E9,
        };
        uint32_t x = seed;
        for (int i = 0; i < 5; ++i) x = 0x2F85382Du * x + 1u;
        for (int j = 0; j < 55; ++j) {
            x = 0x2F85382Du * x + 1u;
            w_[j] = kTable[j] ^ (x >> 16);
        }
        for (int j = 0; j < 55; ++j) {
            x = 0x2F85382Du * x + 1u;
            w_[j] ^= (x >> 16) << 16;
        }
    }
    // Raw sum of a draw, and the word position it was stored at.
    uint32_t Next(int* resultPos = nullptr) {
        if (result_ == 0) {
            result_ = 55;
        } else if (lag_ == 0) {
            lag_ = 55;
        }
        --result_;
        --lag_;
        w_[result_] += w_[lag_];
        if (resultPos != nullptr) *resultPos = result_;
        return w_[result_];
    }

private:
    uint32_t w_[55];
    int result_ = 55;
    int lag_ = 31;
};

uint32_t Scaled(uint32_t v, uint32_t range) {
    return static_cast<uint32_t>((static_cast<uint64_t>(v) * range) >> 32);
}

TEST(UkoRandom, DrawsFollowTheSeededSequence) {
    UKO_RandomSeed(0x1234);
    Model m(0x1234);
    // Range 65536 exposes the high half of every raw sum; 120 draws wrap the result
    // position twice, so draws 1 to 55 store at 54 down to 0 and draw 56 at 54 again.
    for (int i = 1; i <= 120; ++i) {
        int pos = -1;
        uint32_t v = m.Next(&pos);
        if (i <= 55) {
            ASSERT_EQ(pos, 55 - i);
        } else if (i == 56) {
            ASSERT_EQ(pos, 54);
        }
        ASSERT_EQ(UKO_Random(65536), v >> 16) << "draw " << i;
    }
    // Up to 65535 the result is the integer part of v * range / 2^32.
    const uint32_t ranges[] = {1, 2, 3, 10, 100, 1000, 65535};
    for (int i = 0; i < 300; ++i) {
        uint32_t r = ranges[i % 7];
        ASSERT_EQ(UKO_Random(r), Scaled(m.Next(), r)) << "range " << r;
    }
}

TEST(UkoRandom, ReseedingRestartsAndSeedsDiffer) {
    UKO_RandomSeed(7);
    std::vector<uint32_t> first;
    for (int i = 0; i < 20; ++i) first.push_back(UKO_Random(0xFFFFFFFF));
    UKO_RandomSeed(7);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(UKO_Random(0xFFFFFFFF), first[i]);
    UKO_RandomSeed(8);
    int same = 0;
    for (int i = 0; i < 20; ++i) same += UKO_Random(0xFFFFFFFF) == first[i] ? 1 : 0;
    EXPECT_LT(same, 3);
}

TEST(UkoRandom, ResultStaysBelowEveryRange) {
    UKO_RandomSeed(99);
    const uint32_t ranges[] = {0, 1, 65536, 65537, 0x12345678, 0x80000000, 0xFFFFFFFF};
    for (uint32_t r : ranges) {
        for (int i = 0; i < 2000; ++i) {
            uint32_t v = UKO_Random(r);
            if (r == 0) {
                ASSERT_EQ(v, 0u);
            } else {
                ASSERT_LT(v, r) << "range " << r;
            }
        }
    }
}

TEST(UkoRandom, FirstUseWithoutSeedSeedsWithZero) {
    // The generator's state lives for the process, so this runs in a freshly started
    // copy of the test program, before anything has drawn or seeded.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Model m(0);
            int mismatches = 0;
            for (int i = 0; i < 60; ++i) {
                mismatches += UKO_Random(65536) != (m.Next() >> 16) ? 1 : 0;
            }
            std::exit(mismatches);
        },
        ::testing::ExitedWithCode(0), "");
}

struct DrawArg {
    int count;
    std::vector<uint32_t> out;
};

void* DrawLoop(void* p) {
    DrawArg* a = static_cast<DrawArg*>(p);
    for (int i = 0; i < a->count; ++i) a->out.push_back(UKO_Random(65536));
    return nullptr;
}

TEST(UkoRandom, ConcurrentDrawsTakeEachStepOfTheSequenceOnce) {
    constexpr int kThreads = 4;
    constexpr int kDraws = 5000;
    UKO_RandomSeed(4242);
    std::vector<DrawArg> args(kThreads, DrawArg{kDraws, {}});
    std::vector<pthread_t> threads(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(pthread_create(&threads[i], nullptr, DrawLoop, &args[i]), 0);
    }
    std::vector<uint32_t> all;
    for (int i = 0; i < kThreads; ++i) {
        pthread_join(threads[i], nullptr);
        all.insert(all.end(), args[i].out.begin(), args[i].out.end());
    }
    Model m(4242);
    std::vector<uint32_t> expected;
    for (int i = 0; i < kThreads * kDraws; ++i) expected.push_back(m.Next() >> 16);
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

struct Draw {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> drawn{false};
};

void* DrawOnce(void* p) {
    Draw* d = static_cast<Draw*>(p);
    d->tid = vt_test::ThisThreadId();
    d->drawn.store(UKO_Random(10) < 10);
    return nullptr;
}

TEST(UkoRandom, DrawWaitsForTheGlobalLock) {
    Draw d;
    OS_GlobalLock();
    pthread_t other;
    ASSERT_EQ(pthread_create(&other, nullptr, DrawOnce, &d), 0);
    while (d.tid.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(vt_test::WaitUntilBlocked(d.tid)) << "the draw never waited for the lock";
    EXPECT_FALSE(d.drawn.load()) << "the draw must wait while another task holds the lock";
    OS_GlobalUnlock(0);
    pthread_join(other, nullptr);
    EXPECT_TRUE(d.drawn.load());
}

}  // namespace
