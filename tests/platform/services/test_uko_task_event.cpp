// Task events: all/any reads that wait, time out or do not wait, what a write wakes and
// what it only pends, bits collected and put back, the callers that are refused, the
// flags of the adaptation read and its hook, and the late signal of a read that timed
// out just as its last bit came.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "os_sema.h"
#include "task_test_util.h"
#include "uko_task.h"
#include "uko_task_inner.h"
#include "vt_test/platform.h"

namespace {

using task_test::EventWords;
using task_test::EventWordsOf;
using task_test::ReaderWaiting;
using task_test::WaitFor;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kNotSatisfied = 4096;

// One read by a reader task, as a table row.
struct ReadCase {
    const char* name;
    uint32_t pendingBefore;          // written before the reader starts its read
    uint32_t wanted;
    uint32_t mode;
    uint32_t timeOutMs;
    std::vector<uint32_t> whileWaiting;  // written once the reader sleeps; all but the
                                         // last must leave it asleep
    uint32_t rc;
    uint32_t received;
    uint32_t pendingAfter;
    int atLeastMs;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

struct Reader {
    const ReadCase* c = nullptr;
    std::atomic<int> go{0};
    std::atomic<int> done{0};
    std::atomic<int> leave{0};
    uint32_t rc = 0;
    uint32_t received = 0;
    int64_t elapsedMs = 0;
};

void ReaderEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* r = reinterpret_cast<Reader*>(a);
    while (r->go.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    uint32_t got = 0xDEAD;
    const auto t0 = Clock::now();
    r->rc = UKO_TaskEventRead(r->c->wanted, r->c->mode, r->c->timeOutMs, &got);
    r->elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    r->received = got;
    r->done.store(1);
    while (r->leave.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class TaskEventRead : public ::testing::TestWithParam<ReadCase> {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
};

TEST_P(TaskEventRead, ReadAsTheRowSays) {
    const ReadCase& c = GetParam();
    Reader r;
    r.c = &c;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&r), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("evrd", &id, ReaderEntry, 50, 0, 0, args), 0u);
    // Written before the reader reads: nothing of it may be lost.
    if (c.pendingBefore != 0) {
        ASSERT_EQ(UKO_TaskEventWrite(id, c.pendingBefore), 0u);
    }
    r.go.store(1);
    if (!c.whileWaiting.empty()) {
        ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
        for (size_t i = 0; i < c.whileWaiting.size(); ++i) {
            ASSERT_EQ(UKO_TaskEventWrite(id, c.whileWaiting[i]), 0u);
            if (i + 1 < c.whileWaiting.size()) {
                EventWords w = EventWordsOf(id);
                EXPECT_NE(w.mode, 1u) << "write " << i << " woke the reader";
                EXPECT_EQ(r.done.load(), 0);
            }
        }
    }
    ASSERT_TRUE(WaitFor([&] { return r.done.load() == 1; }));
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.received, c.received);
    EXPECT_GE(r.elapsedMs, c.atLeastMs);
    EventWords w = EventWordsOf(id);
    EXPECT_EQ(w.pending, c.pendingAfter);
    EXPECT_EQ(w.mode, 1u) << "no reader is left registered";
    EXPECT_EQ(w.wanted, 0u);
    EXPECT_EQ(w.received, 0u);
    EXPECT_EQ(w.waiters, 0u);
    // No signal is left on the semaphore to wake a later read for nothing.
    EXPECT_EQ(UKO_SemaAsynP(UKO_TaskCbGet(id)->pEventSem), UKO_EBUSY);
    r.leave.store(1);
    EXPECT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
}

constexpr uint32_t kAll = 0;
constexpr uint32_t kAny = UKO_EVENT_MODE_ANY;
constexpr uint32_t kNoWait = UKO_EVENT_MODE_NOWAIT;

INSTANTIATE_TEST_SUITE_P(
    Cases, TaskEventRead,
    ::testing::Values(
        ReadCase{"all_of_3_wakes_once_on_the_second_write", 0, 0x3, kAll, 0, {0x1, 0x2}, 0, 0x3, 0, 0},
        ReadCase{"any_of_3_wakes_on_the_first_write", 0, 0x3, kAny, 0, {0x1}, 0, 0x1, 0, 0},
        ReadCase{"nowait_with_nothing_there", 0x4, 0x1, kNoWait, 0, {}, kNotSatisfied, 0, 0x4, 0},
        ReadCase{"nowait_all_half_there_keeps_pending", 0x1, 0x3, kNoWait, 0, {}, kNotSatisfied, 0x1,
                 0x1, 0},
        ReadCase{"nowait_takes_only_the_wanted_bits", 0x3, 0x1, kNoWait, 0, {}, 0, 0x1, 0x2, 0},
        ReadCase{"nowait_any", 0x2, 0x3, kNoWait | kAny, 0, {}, 0, 0x2, 0, 0},
        ReadCase{"timed_all_that_gets_half_puts_it_back", 0, 0x3, kAll, 100, {0x1}, 109, 0x1, 0x1, 100},
        ReadCase{"timed_any_with_nothing", 0x8, 0x3, kAny, 30, {}, 109, 0, 0x8, 30},
        ReadCase{"other_bits_wake_nobody", 0, 0x3, kAll, 0, {0x4, 0x3}, 0, 0x3, 0x4, 0},
        ReadCase{"written_before_the_read_is_not_lost", 0x1, 0x1, kAll, 0, {}, 0, 0x1, 0, 0},
        ReadCase{"collected_early_bits_count", 0x1, 0x3, kAll, 0, {0x2}, 0, 0x3, 0, 0},
        ReadCase{"a_bit_written_twice_is_taken_once", 0, 0x3, kAll, 0, {0x1, 0x1, 0x2}, 0, 0x3, 0, 0},
        ReadCase{"read_of_zero_takes_everything", 0x5, 0, kAll, 0, {}, 0, 0x5, 0, 0}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

// ---- Callers, ids and the adaptation interface ------------------------------------------

class TaskEvent : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
};

TEST_F(TaskEvent, ReadersThatAreNoTaskAndIdsThatAreFree) {
    uint32_t got = 0x77;
    EXPECT_EQ(UKO_TaskEventRead(0x1, kNoWait, 0, &got), 22u) << "the test thread is no task";
    EXPECT_EQ(UKO_Event_Read(0x1, &got, 0, 0), 22u);
    EXPECT_EQ(got, 0x77u);
    EXPECT_EQ(UKO_TaskEventWrite(0, 0x1), 22u);
    EXPECT_EQ(UKO_TaskEventWrite(1600, 0x1), 22u) << "beyond the table";
    EXPECT_EQ(UKO_TaskEventWrite(UKO_TASK_ID_NONE, 0x1), 22u);

    Reader r;
    ReadCase c{"", 0, 0x1, kAll, 0, {}, 0, 0, 0, 0};
    r.c = &c;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&r), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("evfree", &id, ReaderEntry, 50, 0, 0, args), 0u);
    r.go.store(1);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    EXPECT_EQ(UKO_Event_Write(id, 0x1), 0u);
    ASSERT_TRUE(WaitFor([&] { return r.done.load() == 1; }));
    r.leave.store(1);
    ASSERT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
    EXPECT_EQ(UKO_Event_Write(id, 0x1), 22u) << "a free id";
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 22u);
}

struct HookCall {
    uint32_t events;
    uint32_t received;
    uint32_t flags;
    uint32_t timeOut;
    uint32_t result;
};
std::vector<HookCall> g_hookCalls;  // written by the reader task only
void ReadHook(uint32_t events, uint32_t* received, uint32_t flags, uint32_t timeOut, uint32_t result) {
    g_hookCalls.push_back({events, received != nullptr ? *received : 0xFFFF, flags, timeOut, result});
}

// Reads of the adaptation interface, one after another, each told when to go.
struct FlagRead {
    uint32_t events;
    uint32_t flags;
    uint32_t timeOut;
    uint32_t rc;
    uint32_t received;
};
struct FlagReader {
    const std::vector<FlagRead>* reads = nullptr;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::vector<uint32_t> rcs;
    std::vector<uint32_t> received;
};

void FlagReaderEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* fr = reinterpret_cast<FlagReader*>(a);
    for (size_t i = 0; i < fr->reads->size(); ++i) {
        while (fr->next.load() <= static_cast<int>(i)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const FlagRead& rd = (*fr->reads)[i];
        uint32_t got = 0;
        fr->rcs.push_back(UKO_Event_Read(rd.events, &got, rd.flags, rd.timeOut));
        fr->received.push_back(got);
        fr->done.store(static_cast<int>(i) + 1);
    }
}

TEST_F(TaskEvent, AdaptationReadTakesItsModeFromTheFlags) {
    // Bit 30 waits, bit 26 takes any; the service link's 0x48000000 waits for all.
    const std::vector<FlagRead> reads = {
        {0x1, 0x00000000, 0, kNotSatisfied, 0},  // all, no wait, nothing pending
        {0x3, 0x04000000, 0, 0, 0x2},            // any, no wait: 0x2 pending
        {0x5, 0x48000000, 0, 0, 0x5},            // all, wait: 0x1 then 0x4 come
        {0x3, 0x44000000, 0, 0, 0x1},            // any, wait: 0x1 comes
        {0x1, 0x40000000, 20, 109, 0},           // all, wait, time-out
    };
    FlagReader fr;
    fr.reads = &reads;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&fr), 0, 0, 0};
    g_hookCalls.clear();
    ASSERT_EQ(UKO_Event_ReadHookSet(ReadHook), 0u);
    UKO_EVENT_READ_HOOK_PF got = nullptr;
    EXPECT_EQ(UKO_Event_ReadHookGet(&got), 0u);
    EXPECT_EQ(got, ReadHook);
    EXPECT_EQ(UKO_Event_ReadHookGet(nullptr), 0u);

    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("evflag", &id, FlagReaderEntry, 50, 0, 0, args), 0u);
    fr.next.store(1);
    ASSERT_TRUE(WaitFor([&] { return fr.done.load() == 1; }));
    ASSERT_EQ(UKO_Event_Write(id, 0x2), 0u);
    fr.next.store(2);
    ASSERT_TRUE(WaitFor([&] { return fr.done.load() == 2; }));
    fr.next.store(3);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    ASSERT_EQ(UKO_Event_Write(id, 0x1), 0u);
    EXPECT_NE(EventWordsOf(id).mode, 1u) << "half of an all-read wakes nobody";
    ASSERT_EQ(UKO_Event_Write(id, 0x4), 0u);
    ASSERT_TRUE(WaitFor([&] { return fr.done.load() == 3; }));
    fr.next.store(4);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    ASSERT_EQ(UKO_Event_Write(id, 0x1), 0u);
    ASSERT_TRUE(WaitFor([&] { return fr.done.load() == 4; }));
    fr.next.store(5);
    ASSERT_TRUE(WaitFor([&] { return fr.done.load() == 5; }));
    ASSERT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
    ASSERT_EQ(UKO_Event_ReadHookSet(nullptr), 0u);

    ASSERT_EQ(fr.rcs.size(), reads.size());
    ASSERT_EQ(g_hookCalls.size(), reads.size()) << "the hook sees every read";
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(fr.rcs[i], reads[i].rc) << i;
        EXPECT_EQ(fr.received[i], reads[i].received) << i;
        EXPECT_EQ(g_hookCalls[i].events, reads[i].events) << i;
        EXPECT_EQ(g_hookCalls[i].received, reads[i].received) << i;
        EXPECT_EQ(g_hookCalls[i].flags, reads[i].flags) << i;
        EXPECT_EQ(g_hookCalls[i].timeOut, reads[i].timeOut) << i;
        EXPECT_EQ(g_hookCalls[i].result, reads[i].rc) << i;
    }
}

// Timed reads racing writes: now and then the time-out expires just as the bit arrives.
// The signal of that write must be consumed by the read it was meant for; a signal left
// behind would wake the next read without its event.
struct Racer {
    std::atomic<int> round{0};
    std::atomic<int> finished{0};
    std::atomic<int> spurious{0};
    std::atomic<int> satisfied{0};
    int rounds = 0;
};

void RacerEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* r = reinterpret_cast<Racer*>(a);
    for (int i = 0; i < r->rounds; ++i) {
        uint32_t got = 0;
        uint32_t rc = UKO_TaskEventRead(0x1, kAll, 1, &got);
        if (rc == kNotSatisfied) {
            r->spurious.fetch_add(1);
        } else if (rc == 0) {
            r->satisfied.fetch_add(1);
        }
        r->round.store(i + 1);
    }
    r->finished.store(1);
}

TEST_F(TaskEvent, ATimeOutRacingTheLastBitLeavesNoSignalBehind) {
    Racer r;
    r.rounds = 2000;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&r), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("evrace", &id, RacerEntry, 50, 0, 0, args), 0u);
    int written = 0;
    while (r.finished.load() == 0) {
        if (UKO_TaskEventWrite(id, 0x1) == 0) {
            ++written;
        }
        // Spread the writes over the reads' 1-ms windows.
        std::this_thread::sleep_for(std::chrono::microseconds(200 + (written * 37) % 900));
    }
    EXPECT_EQ(r.spurious.load(), 0) << "a read woke without its event";
    EXPECT_GT(r.satisfied.load(), 0);
    EXPECT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
}

}  // namespace
