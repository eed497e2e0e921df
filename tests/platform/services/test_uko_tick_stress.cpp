// The tick count under one writer and several readers that take no lock: no reader may
// ever see a pair of words that the writer never wrote together. And cycle hooks
// registered from several tasks at once while the list is walked: none is lost.

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <vector>

#include "os_time.h"
#include "task_test_util.h"
#include "uko_tick.h"
#include "uko_tick_inner.h"

namespace {

// Every update adds 2^32 - 6 ticks, so the high word changes in every update and the
// low word too: a value made of one update's high word and another's low word is not a
// multiple of the step.
constexpr uint32_t kStepMs = 0xFFFFFFFAu;  // with 1 ms per tick
constexpr uint64_t kStep = kStepMs;
constexpr int kUpdates = 1000000;
constexpr int kReaders = 3;

std::atomic<bool> g_writing{true};
std::atomic<int> g_readersIn{0};

struct ReaderResult {
    uint64_t reads = 0;
    uint64_t torn = 0;
    uint64_t backwards = 0;
    uint64_t bankTorn = 0;
};

void* Reader(void* arg) {
    auto* result = static_cast<ReaderResult*>(arg);
    uint64_t last = 0;
    g_readersIn.fetch_add(1);
    while (g_writing.load(std::memory_order_relaxed)) {
        uint32_t high = 0;
        uint32_t low = 0;
        (void)UKO_TickGet(&high, &low);
        const uint64_t value = (static_cast<uint64_t>(high) << 32) | low;
        result->torn += value % kStep != 0 ? 1 : 0;
        result->backwards += value < last ? 1 : 0;
        last = value;
        // The whole bank: its tick words must belong together as well.
        UKO_TICK_BANK_S bank{};
        ukoTickBankRead(&bank);
        const uint64_t banked = (static_cast<uint64_t>(bank.uiTickHigh) << 32) | bank.uiTickLow;
        result->bankTorn += banked % kStep != 0 ? 1 : 0;
        ++result->reads;
    }
    return nullptr;
}

TEST(UkoTickStress, ReadersNeverSeeATornCount) {
    task_test::InFreshPlatform([] {
        ASSERT_EQ(ukoTickConfigSet(1000), 0u);
        ReaderResult results[kReaders];
        pthread_t readers[kReaders];
        for (int i = 0; i < kReaders; ++i) {
            ASSERT_EQ(pthread_create(&readers[i], nullptr, Reader, &results[i]), 0);
        }
        ASSERT_TRUE(task_test::WaitFor([] { return g_readersIn.load() == kReaders; }));
        for (int i = 0; i < kUpdates; ++i) {
            ukoTickUpdate(kStepMs);
        }
        g_writing.store(false);
        uint64_t reads = 0;
        for (int i = 0; i < kReaders; ++i) {
            pthread_join(readers[i], nullptr);
            EXPECT_EQ(results[i].torn, 0u) << "reader " << i;
            EXPECT_EQ(results[i].backwards, 0u) << "reader " << i;
            EXPECT_EQ(results[i].bankTorn, 0u) << "reader " << i;
            reads += results[i].reads;
        }
        EXPECT_GT(reads, 0u);
        uint32_t high = 0;
        uint32_t low = 0;
        ASSERT_EQ(UKO_TickGet(&high, &low), 0u);
        EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, kStep * kUpdates);
    });
}

// ---- Cycle hooks registered at the same time -------------------------------------------------

constexpr int kRegistrars = 4;
constexpr int kHooksEach = 200;
std::atomic<uint64_t> g_hookCalls{0};
std::atomic<bool> g_walking{true};
void CountCall(uint32_t) { g_hookCalls.fetch_add(1, std::memory_order_relaxed); }

void* Register(void*) {
    for (int i = 0; i < kHooksEach; ++i) {
        // Every-tick and periodic lists alike.
        if (UKO_TickCycleHookReg(CountCall, i % 2 == 0 ? 1 : 2) != 0) {
            return reinterpret_cast<void*>(1);
        }
    }
    return nullptr;
}

void* Walk(void*) {
    while (g_walking.load()) {
        ukoTickCycleHookDispatch(1);
    }
    return nullptr;
}

TEST(UkoTickStress, CycleHooksRegisteredTogetherAreAllKept) {
    task_test::InFreshPlatform([] {
        pthread_t walker;
        ASSERT_EQ(pthread_create(&walker, nullptr, Walk, nullptr), 0);
        pthread_t registrars[kRegistrars];
        for (pthread_t& t : registrars) {
            ASSERT_EQ(pthread_create(&t, nullptr, Register, nullptr), 0);
        }
        for (pthread_t t : registrars) {
            void* result = nullptr;
            pthread_join(t, &result);
            EXPECT_EQ(result, nullptr) << "a registration failed";
        }
        g_walking.store(false);
        pthread_join(walker, nullptr);
        // Two batches of one tick: every hook runs once in them, each periodic hook
        // reaching its period of 2 in one of the two (whatever it had gathered before).
        g_hookCalls.store(0);
        ukoTickCycleHookDispatch(1);
        ukoTickCycleHookDispatch(1);
        EXPECT_EQ(g_hookCalls.load(), static_cast<uint64_t>(kRegistrars * kHooksEach / 2 * 2 +
                                                             kRegistrars * kHooksEach / 2));
    });
}

}  // namespace
