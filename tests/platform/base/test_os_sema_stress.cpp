// Semaphores under contention: producers and consumers on one counting semaphore, and a
// bounded ring of items handed over through two semaphores and a platform mutex. A lost
// wake-up hangs a consumer (the test times out); a lost or doubled V shows in the
// final count and the counters.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "os_sema.h"
#include "os_sema_inner.h"
#include "vt_test/platform.h"

namespace {

constexpr int kProducers = 4;
constexpr int kConsumers = 4;

UKO_SEMA_CB* Sem(void* h) { return static_cast<UKO_SEMA_CB*>(h); }

class OsSemaStress : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
};

TEST_F(OsSemaStress, ProducersAndConsumersLoseNoWakeUp) {
    constexpr uint32_t kTotal = 1000000;
    constexpr uint32_t kPerThread = kTotal / kProducers;
    static_assert(kTotal % kProducers == 0 && kTotal % kConsumers == 0, "even shares");
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("stress", 0, 0, &s), 0u);

    std::atomic<uint32_t> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kConsumers; ++i) {
        // Half the consumers wait without limit, half with a time-out they never reach.
        uint32_t timeout = (i % 2 == 0) ? 0 : 60000;
        threads.emplace_back([&, timeout] {
            for (uint32_t n = 0; n < kTotal / kConsumers; ++n) {
                if (UKO_SemaP(s, timeout) != 0) ++failures;
            }
        });
    }
    for (int i = 0; i < kProducers; ++i) {
        threads.emplace_back([&] {
            for (uint32_t n = 0; n < kPerThread; ++n) {
                if (UKO_SemaV(s) != 0) ++failures;
            }
        });
    }
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(failures.load(), 0u);
    EXPECT_EQ(Sem(s)->iCount, 0);
    EXPECT_EQ(Sem(s)->iWaiters, 0);
    EXPECT_EQ(Sem(s)->stCounters.uiPCount, kTotal);
    EXPECT_EQ(Sem(s)->stCounters.uiVCount, kTotal);
    EXPECT_EQ(Sem(s)->stCounters.uiPTimeoutCount, 0u);
    EXPECT_EQ(Sem(s)->stCounters.uiPFailCount, 0u);
    EXPECT_EQ(UKO_SemaAsynP(s), 16u);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSemaStress, BoundedRingHandsOverEveryItemOnce) {
    constexpr uint32_t kItemsPerProducer = 50000;
    constexpr uint32_t kRing = 16;
    void* slots = nullptr;
    void* items = nullptr;
    void* lock = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("slots", kRing, 0, &slots), 0u);
    ASSERT_EQ(UKO_SemaCCreate("items", 0, 0, &items), 0u);
    ASSERT_EQ(UKO_SemaMCreate("ring", 0, &lock), 0u);

    uint64_t ring[kRing] = {};
    uint32_t head = 0;
    uint32_t tail = 0;
    constexpr uint32_t kTotal = kItemsPerProducer * kProducers;
    std::atomic<uint32_t> taken{0};
    std::atomic<uint32_t> failures{0};
    std::vector<uint8_t> seen(kTotal, 0);  // each item written by the one consumer that took it
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&, c] {
            // Consumers take the ring's mutex with and without a time-out.
            uint32_t lockTimeout = (c % 2 == 0) ? 0 : 60000;
            while (taken.fetch_add(1) < kTotal) {
                if (UKO_SemaP(items, 0) != 0) ++failures;
                if (UKO_SemaP(lock, lockTimeout) != 0) ++failures;
                uint64_t item = ring[tail];
                tail = (tail + 1) % kRing;
                if (UKO_SemaV(lock) != 0) ++failures;
                if (UKO_SemaV(slots) != 0) ++failures;
                if (item < kTotal) ++seen[item];
            }
        });
    }
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (uint32_t n = 0; n < kItemsPerProducer; ++n) {
                if (UKO_SemaP(slots, 0) != 0) ++failures;
                if (UKO_SemaP(lock, 0) != 0) ++failures;
                ring[head] = static_cast<uint64_t>(p) * kItemsPerProducer + n;
                head = (head + 1) % kRing;
                if (UKO_SemaV(lock) != 0) ++failures;
                if (UKO_SemaV(items) != 0) ++failures;
            }
        });
    }
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(failures.load(), 0u);
    uint32_t once = 0;
    for (uint8_t n : seen) once += (n == 1) ? 1 : 0;
    EXPECT_EQ(once, kTotal);
    EXPECT_EQ(Sem(slots)->iCount, static_cast<int32_t>(kRing));
    EXPECT_EQ(Sem(items)->iCount, 0);
    UKO_MUTEX_INFO info;
    ASSERT_EQ(UKO_SemaMutexInfoGet(lock, &info), 0u);
    EXPECT_EQ(info.uiFree, 1u);
    EXPECT_EQ(UKO_SemaDelete(slots), 0u);
    EXPECT_EQ(UKO_SemaDelete(items), 0u);
    EXPECT_EQ(UKO_SemaDelete(lock), 0u);
}

}  // namespace
