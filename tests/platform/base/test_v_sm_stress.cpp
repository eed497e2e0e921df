// The semaphore table under contention: concurrent V's on one binary id must never
// raise it above 1, two deletes of one id must free it once, and a delete racing with
// P's and V's on the same id must never let them touch a freed semaphore (the address
// sanitizer reports any such use).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "v_sm.h"
#include "vt_test/platform.h"

namespace {

class VSmStress : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
    void TearDown() override {
        UKO_Sema4Stats s = {};
        ASSERT_EQ(UKO_GetSema4Stats(&s), 0u);
        EXPECT_EQ(s.uiBinaryNum + s.uiCountNum + s.uiMutexNum, 0u) << "ids left in use";
    }
};

TEST_F(VSmStress, ConcurrentVsNeverRaiseABinarySemaphoreAboveOne) {
    constexpr uint32_t kThreads = 8;
    constexpr int kRounds = 1000;
    uint32_t id = 0;
    ASSERT_EQ(UKO_SmBCreate("cap", 0, 0, &id), 0u);
    // Each round starts from 0 with the eight V's released together: the threads spin
    // on the round number, so they set off within a moment of each other.
    std::atomic<int> round{0};
    std::atomic<uint32_t> done{0};
    std::atomic<uint32_t> failures{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int r = 1; r <= kRounds; ++r) {
                while (round.load(std::memory_order_acquire) < r) std::this_thread::yield();
                if (UKO_SmV(id) != 0) ++failures;
                done.fetch_add(1, std::memory_order_acq_rel);
            }
        });
    }
    // Afterwards exactly one non-waiting P may succeed.
    int overshoot = 0;
    for (int r = 1; r <= kRounds; ++r) {
        done.store(0, std::memory_order_release);
        round.store(r, std::memory_order_release);
        while (done.load(std::memory_order_acquire) < kThreads) std::this_thread::yield();
        if (UKO_Sm_AsyP(id) != 0) ++overshoot;  // nothing was given at all
        if (UKO_Sm_AsyP(id) == 0) {
            ++overshoot;
            while (UKO_Sm_AsyP(id) == 0) {
            }
        }
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0u);
    EXPECT_EQ(overshoot, 0) << "rounds in which the count did not end at exactly 1";
    EXPECT_EQ(UKO_SmDelete(id), 0u);
}

TEST_F(VSmStress, TwoDeletesOfOneIdFreeItOnce) {
    constexpr int kRounds = 2000;
    std::atomic<int> round{0};
    std::atomic<uint32_t> done{0};
    std::atomic<uint32_t> id{0};
    uint32_t results[2] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 1; r <= kRounds; ++r) {
                while (round.load(std::memory_order_acquire) < r) std::this_thread::yield();
                results[t] = UKO_SmDelete(id.load());
                done.fetch_add(1, std::memory_order_acq_rel);
            }
        });
    }
    int bad = 0;
    for (int r = 1; r <= kRounds; ++r) {
        uint32_t created = 0;
        // Alternate the types: a mutex is deleted along another road below.
        uint32_t rc = r % 2 == 0 ? UKO_SmCCreate("del", 1, 0, &created) : UKO_SmMCreate("del", 0, &created);
        ASSERT_EQ(rc, 0u);
        id = created;
        done.store(0, std::memory_order_release);
        round.store(r, std::memory_order_release);
        while (done.load(std::memory_order_acquire) < 2) std::this_thread::yield();
        uint32_t lo = std::min(results[0], results[1]);
        uint32_t hi = std::max(results[0], results[1]);
        if (lo != 0 || hi != 22) ++bad;
        if (UKO_SmIdIsUsed(created) != 0) ++bad;
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bad, 0) << "rounds without exactly one 0 and one 22";
}

TEST_F(VSmStress, ADeleteAmongPsAndVsNeverFreesASemaphoreInUse) {
    constexpr int kRounds = 40;
    constexpr int kWorkers = 4;
    constexpr int kOpsPerWorker = 300;
    for (int r = 0; r < kRounds; ++r) {
        uint32_t id = 0;
        ASSERT_EQ(UKO_SmCCreate("race", 0, 0, &id), 0u);
        std::atomic<uint32_t> unexpected{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&, w] {
                for (int n = 0; n < kOpsPerWorker; ++n) {
                    uint32_t rc;
                    // Mostly V's and non-waiting P's; now and then a P that waits briefly.
                    switch ((w + n) % 8) {
                        case 0:
                            rc = UKO_SmP(id, 1);
                            if (rc != 0 && rc != 109 && rc != 22) ++unexpected;
                            break;
                        case 1:
                        case 2:
                        case 3:
                            rc = UKO_SmV(id);
                            if (rc != 0 && rc != 22) ++unexpected;
                            break;
                        default:
                            rc = UKO_Sm_AsyP(id);
                            if (rc != 0 && rc != 16 && rc != 22) ++unexpected;
                            break;
                    }
                }
            });
        }
        // Delete while they run; refused (16) as long as one of them is inside.
        uint32_t rc;
        while ((rc = UKO_SmDelete(id)) == 16) {
            std::this_thread::yield();
        }
        for (std::thread& t : workers) t.join();
        ASSERT_EQ(rc, 0u) << "round " << r;
        EXPECT_EQ(unexpected.load(), 0u) << "round " << r;
        EXPECT_EQ(UKO_SmIdIsUsed(id), 0u);
    }
}

}  // namespace
