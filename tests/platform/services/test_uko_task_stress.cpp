// Under load: four writer threads hand events to one reader task 100,000 times each, and
// tasks end or are deleted while other threads keep writing events to them. A lost
// wake-up shows as a time-out, a duplicate as a count that does not match; a write
// that reaches a block being given back shows under the sanitizers.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os_sema.h"
#include "task_test_util.h"
#include "uko_task.h"
#include "vt_test/platform.h"

namespace {

using task_test::Census;
using task_test::ReaderWaiting;
using task_test::WaitFor;

constexpr int kWriters = 4;
constexpr uint32_t kHandshakes = 100000;
constexpr uint32_t kAckTimeOutMs = 20000;

struct Handshakes {
    uint32_t readerId = UKO_TASK_ID_NONE;
    void* ack[kWriters] = {};
    std::atomic<uint32_t> seen[kWriters] = {};
    std::atomic<uint32_t> readFailures{0};
    std::atomic<int> readerDone{0};
};

// Takes any of the writers' bits, counts each and answers each writer on its own
// semaphore.
void HandshakeReader(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* h = reinterpret_cast<Handshakes*>(a);
    uint64_t handled = 0;
    while (handled < static_cast<uint64_t>(kWriters) * kHandshakes) {
        uint32_t got = 0;
        if (UKO_TaskEventRead((1u << kWriters) - 1, UKO_EVENT_MODE_ANY, kAckTimeOutMs, &got) != 0) {
            h->readFailures.fetch_add(1);
            break;
        }
        for (int i = 0; i < kWriters; ++i) {
            if ((got & (1u << i)) != 0) {
                h->seen[i].fetch_add(1, std::memory_order_relaxed);
                (void)UKO_SemaV(h->ack[i]);
                ++handled;
            }
        }
    }
    h->readerDone.store(1);
}

TEST(UkoTaskStress, FourWritersHandOneReaderAHundredThousandEventsEach) {
    ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
    Handshakes h;
    for (void*& s : h.ack) {
        ASSERT_EQ(UKO_SemaCCreate("ack", 0, 0, &s), 0u);
    }
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&h), 0, 0, 0};
    ASSERT_EQ(UKO_TaskCreate("hsrd", &h.readerId, HandshakeReader, 100, 0, 0, args), 0u);

    std::atomic<uint32_t> lost[kWriters] = {};
    std::atomic<uint32_t> writeFailures{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < kWriters; ++i) {
        writers.emplace_back([&h, &lost, &writeFailures, i] {
            for (uint32_t n = 0; n < kHandshakes; ++n) {
                if (UKO_TaskEventWrite(h.readerId, 1u << i) != 0) {
                    writeFailures.fetch_add(1);
                    return;
                }
                if (UKO_SemaP(h.ack[i], kAckTimeOutMs) != 0) {
                    lost[i].fetch_add(1);
                    return;
                }
            }
        });
    }
    for (std::thread& t : writers) {
        t.join();
    }
    EXPECT_EQ(writeFailures.load(), 0u);
    for (int i = 0; i < kWriters; ++i) {
        EXPECT_EQ(lost[i].load(), 0u) << "writer " << i << " waited in vain: a wake-up was lost";
        EXPECT_EQ(h.seen[i].load(), kHandshakes) << "writer " << i;
    }
    EXPECT_EQ(h.readFailures.load(), 0u);
    ASSERT_TRUE(WaitFor([&] { return h.readerDone.load() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return UKO_TaskIdCheck(h.readerId) == 0; }));
    for (void* s : h.ack) {
        EXPECT_EQ(UKO_SemaAsynP(s), UKO_EBUSY) << "no answer too many";
        EXPECT_EQ(UKO_SemaDelete(s), 0u);
    }
}

// A task that waits for event 0x1 and ends.
void EndOnOne(uint64_t, uint64_t, uint64_t, uint64_t) {
    uint32_t got = 0;
    (void)UKO_TaskEventRead(0x1, 0, 0, &got);
}

TEST(UkoTaskStress, TasksEndAndAreDeletedWhileOthersWriteToThem) {
    ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
    const Census census;
    constexpr int kRounds = 150;
    constexpr int kHammers = 3;
    std::atomic<uint32_t> target{UKO_TASK_ID_NONE};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> writes{0};
    std::atomic<uint64_t> odd{0};
    std::vector<std::thread> hammers;
    for (int i = 0; i < kHammers; ++i) {
        hammers.emplace_back([&] {
            while (!stop.load()) {
                const uint32_t id = target.load();
                if (id == UKO_TASK_ID_NONE) {
                    std::this_thread::yield();
                    continue;
                }
                // 0x2 is not what the task waits for: it only pends.
                const uint32_t rc = UKO_TaskEventWrite(id, 0x2);
                if (rc != 0 && rc != 22) {
                    odd.fetch_add(1);
                }
                writes.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        uint32_t id = UKO_TASK_ID_NONE;
        const uint64_t args[4] = {0, 0, 0, 0};
        ASSERT_EQ(UKO_TaskCreate("ltgt", &id, EndOnOne, 100, 0, 0, args), 0u);
        target.store(id);
        ASSERT_TRUE(WaitFor([id] { return ReaderWaiting(id); })) << round;
        const uint64_t before = writes.load();
        ASSERT_TRUE(WaitFor([&] { return writes.load() > before + 20; })) << round;
        if (round % 2 == 0) {
            EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);  // the task ends by itself
        } else {
            EXPECT_EQ(UKO_TaskDelete(id), 0u);  // the task is cancelled in its wait
        }
        ASSERT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; })) << round;
        target.store(UKO_TASK_ID_NONE);
    }
    stop.store(true);
    for (std::thread& t : hammers) {
        t.join();
    }
    EXPECT_EQ(odd.load(), 0u);
    EXPECT_TRUE(WaitFor([&] { return census.Back(); })) << "every task and event semaphore went";
}

}  // namespace
