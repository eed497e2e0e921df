// The OS clock: the VCLK cycle's arithmetic driven by an injected CPU tick counter (the
// table of readings, spans across 2^32, a counter that goes back, the jump threshold,
// the elapse hooks), which hooks run under the clock lock and in what order, how TICK
// gathers the ticks of several VCLK cycles, the tick-hook list, a second start-up, and
// the global lock.

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../services/task_test_util.h"
#include "os_clock.h"
#include "os_clock_inner.h"
#include "os_time.h"
#include "uko_cputick.h"
#include "uko_task.h"
#include "vt_test/thread_state.h"

namespace {

using task_test::InFreshPlatform;

// ---- Injected counter -------------------------------------------------------------------------
std::atomic<uint64_t> g_counter{0};
uint64_t FakeCounter() { return g_counter.load(); }

// Makes the clock's semaphore and locks (no tasks) over the injected counter with the
// given base, in the child of InFreshPlatform.
void ClockOverFakeCounter(uint32_t base) {
    ukoCpuTickCounterSet(FakeCounter);
    ASSERT_EQ(UKO_CpuTickBaseSet(base), 0u);
    ASSERT_EQ(osClockResourcesInit(), 0u);
}

// One VCLK cycle at the reading.
void CycleAt(uint64_t reading) {
    g_counter.store(reading);
    osClockVclkCycle();
}

uint64_t PrevReading() {
    uint32_t low = 0;
    uint32_t high = 0;
    ukoCpuTickPrevGet(&low, &high);
    return (static_cast<uint64_t>(high) << 32) | low;
}

// ---- Hook calls, in the order they came, with whether the clock lock was held ------------------
struct Call {
    std::string what;
    uint32_t value;
    bool underClockLock;
};
std::mutex g_callMutex;
std::vector<Call> g_calls;

// Whether the clock lock is held (by the calling thread, as the hooks run where it may
// be): another thread's try to take it fails exactly then.
void* TryClockLock(void* arg) {
    pthread_mutex_t* lock = osClockLockGet();
    const int rc = pthread_mutex_trylock(lock);
    if (rc == 0) {
        pthread_mutex_unlock(lock);
    }
    *static_cast<int*>(arg) = rc;
    return nullptr;
}

bool ClockLockHeld() {
    int rc = -1;
    pthread_t t;
    if (pthread_create(&t, nullptr, TryClockLock, &rc) != 0) {
        ADD_FAILURE() << "no helper thread";
        return false;
    }
    pthread_join(t, nullptr);
    return rc == EBUSY;
}

void Note(const char* what, uint32_t value = 0) {
    const bool held = ClockLockHeld();
    std::lock_guard<std::mutex> lock(g_callMutex);
    g_calls.push_back({what, value, held});
}

std::vector<Call> TakeCalls() {
    std::lock_guard<std::mutex> lock(g_callMutex);
    std::vector<Call> out;
    out.swap(g_calls);
    return out;
}

std::vector<std::string> Names(const std::vector<Call>& calls) {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.what);
    return out;
}

// The value of the only call of this name, or fails.
uint32_t ValueOf(const std::vector<Call>& calls, const std::string& what) {
    int seen = 0;
    uint32_t value = 0;
    for (const Call& c : calls) {
        if (c.what == what) {
            ++seen;
            value = c.value;
        }
    }
    EXPECT_EQ(seen, 1) << what;
    return value;
}

void TickPass(uint32_t n) { Note("pass", n); }
void MsPass(uint32_t ms) { Note("ms", ms); }
void TickCount(uint32_t ms) { Note("count", ms); }
void Post1() { Note("post1"); }
void Post2() { Note("post2"); }
void PostTick(uint32_t n) { Note("postTick", n); }
void Post3() { Note("post3"); }
void Jump() { Note("jump"); }
void Signal() { Note("signal"); }
void TickPre() { Note("pre"); }
void TickPost() { Note("post"); }
void TickEnter(uint32_t id) { Note("enter", id); }
void TickLeave(uint32_t id) { Note("leave", id); }
void TickIdle() { Note("idle"); }
void ListA(uint32_t ms) { Note("A", ms); }
void ListB(uint32_t ms) { Note("B", ms); }
void ListC(uint32_t ms) { Note("C", ms); }
uint32_t ElapseFour() { return 4; }
uint32_t ElapseSix() { return 6; }

void CountingHooks() {
    OS_ClockTickPassHookSet(TickPass);
    OS_ClockTickCountHookSet(TickCount);
}

// ---- The VCLK cycle's arithmetic -----------------------------------------------------------------

struct Reading {
    uint64_t counter;
    uint32_t elapsed;    // ticks the cycle counts
    uint32_t remainder;  // counter units carried on
};

void RunReadings(const std::vector<Reading>& readings) {
    for (const Reading& r : readings) {
        CycleAt(r.counter);
        const std::vector<Call> calls = TakeCalls();
        EXPECT_EQ(ValueOf(calls, "pass"), r.elapsed) << "reading " << r.counter;
        EXPECT_EQ(ValueOf(calls, "count"), r.elapsed * 10) << "reading " << r.counter;
        EXPECT_EQ(osClockRemainderGet(), r.remainder) << "reading " << r.counter;
        EXPECT_EQ(PrevReading(), r.counter);
    }
}

TEST(OsClockCycle, CountsWholeTicksAndCarriesTheRestExactly) {
    struct Case {
        const char* name;
        std::vector<Reading> readings;
    };
    const Case cases[] = {
        // The first cycle only sets the starting point; 1,500,000 counts one tick and
        // carries half of one; 1,600,000 more and the half make two and 100,000 over.
        {"base table",
         {{2500000, 0, 0}, {4000000, 1, 500000}, {5600000, 2, 100000}}},
        // 3,000,007 across the first 2^32 boundary of the low word; then five whole
        // 2^32 spans, so that the low words of the two readings are equal; then just
        // what makes the carried rest a whole tick.
        {"across 2^32",
         {{0xFFF00000ull, 0, 0},
          {0xFFF00000ull + 3000007, 3, 7},
          {0xFFF00000ull + 3000007 + 5 * (1ull << 32), 21474, 836487},
          {0xFFF00000ull + 3000007 + 5 * (1ull << 32) + 163513, 1, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InFreshPlatform([&] {
            ClockOverFakeCounter(1000000);
            CountingHooks();
            RunReadings(c.readings);
        });
    }
}

TEST(OsClockCycle, ACounterThatGoesBackCountsNothingUntilItHasPassedTheOldReading) {
    InFreshPlatform([] {
        ClockOverFakeCounter(1000000);
        CountingHooks();
        OS_ClockPostHook1Set(Post1);
        OS_ClockWaitHookSet(nullptr, Signal);
        OS_ClockJumpHookSet(2, Jump);
        CycleAt(10000000);
        CycleAt(12000000);
        (void)TakeCalls();

        // Back by five ticks: only the jump hook, no wake of TICK, the reading stays.
        CycleAt(7000000);
        EXPECT_EQ(Names(TakeCalls()), std::vector<std::string>{"jump"});
        EXPECT_EQ(PrevReading(), 12000000u);
        // Still behind, by less than the threshold: nothing at all.
        CycleAt(11500000);
        EXPECT_TRUE(TakeCalls().empty());
        EXPECT_EQ(osClockPendingGet(), 2u) << "nothing was added";
        // Past the old reading: counting goes on from it.
        CycleAt(13500000);
        const std::vector<Call> calls = TakeCalls();
        EXPECT_EQ(ValueOf(calls, "pass"), 1u);
        EXPECT_EQ(ValueOf(calls, "signal"), 0u);
        EXPECT_EQ(osClockRemainderGet(), 500000u);
    });
}

TEST(OsClockCycle, TheJumpHookRunsOnlyAboveItsThresholdAndTheTicksStillCount) {
    struct Case {
        uint32_t threshold;
        uint32_t gapTicks;
        bool called;
    };
    for (const Case& c : {Case{0xFFFFFFFFu, 1000, false}, Case{5, 7, true}, Case{5, 5, false}}) {
        SCOPED_TRACE(::testing::Message() << "threshold " << c.threshold << " gap " << c.gapTicks);
        InFreshPlatform([&] {
            ClockOverFakeCounter(1000000);
            CountingHooks();
            OS_ClockJumpHookSet(c.threshold, Jump);
            CycleAt(1000000);
            (void)TakeCalls();
            CycleAt(1000000 + static_cast<uint64_t>(c.gapTicks) * 1000000);
            const std::vector<Call> calls = TakeCalls();
            int jumps = 0;
            for (const Call& call : calls) jumps += call.what == "jump" ? 1 : 0;
            EXPECT_EQ(jumps, c.called ? 1 : 0);
            EXPECT_EQ(ValueOf(calls, "pass"), c.gapTicks);
        });
    }
}

TEST(OsClockCycle, ElapseHooksReplaceTheMeasurementFirstHookFirst) {
    InFreshPlatform([] {
        ClockOverFakeCounter(1000000);
        CountingHooks();
        CycleAt(1000000);
        (void)TakeCalls();
        OS_ClockElapseHook2Set(ElapseFour);
        CycleAt(50000000);
        EXPECT_EQ(ValueOf(TakeCalls(), "pass"), 4u);
        EXPECT_EQ(PrevReading(), 50000000u) << "the reading is still kept";
        OS_ClockElapseHookSet(ElapseSix);
        CycleAt(60000000);
        EXPECT_EQ(ValueOf(TakeCalls(), "pass"), 6u);
        // Without them the measurement goes on from the last reading kept.
        OS_ClockElapseHookSet(nullptr);
        OS_ClockElapseHook2Set(nullptr);
        CycleAt(62000000);
        EXPECT_EQ(ValueOf(TakeCalls(), "pass"), 2u);
    });
}

// ---- Hooks, their order and the clock lock --------------------------------------------------------

TEST(OsClockCycle, CountingHooksRunUnderTheClockLockAndPostHooksAfterIt) {
    InFreshPlatform([] {
        ClockOverFakeCounter(1000000);
        OS_ClockTickPassHookSet(TickPass);
        OS_ClockMsPassHookSet(MsPass);
        OS_ClockTickCountHookSet(TickCount);
        OS_ClockPostHook1Set(Post1);
        OS_ClockPostHook2Set(Post2);
        OS_ClockPostTickHookSet(PostTick);
        OS_ClockPostHook3Set(Post3);
        OS_ClockWaitHookSet(nullptr, Signal);
        CycleAt(1000000);
        // The first cycle hands 0 to every hook.
        std::vector<Call> calls = TakeCalls();
        EXPECT_EQ(ValueOf(calls, "pass"), 0u);
        EXPECT_EQ(ValueOf(calls, "count"), 0u);

        CycleAt(4000000);
        calls = TakeCalls();
        const std::vector<std::string> order = {"pass",  "ms",       "count", "post1",
                                                "post2", "postTick", "post3", "signal"};
        EXPECT_EQ(Names(calls), order);
        const uint32_t values[] = {3, 30, 30, 0, 0, 3, 0, 0};
        const bool locked[] = {true, true, true, false, false, false, false, false};
        for (size_t i = 0; i < calls.size() && i < order.size(); ++i) {
            EXPECT_EQ(calls[i].value, values[i]) << calls[i].what;
            EXPECT_EQ(calls[i].underClockLock, locked[i]) << calls[i].what;
        }
    });
}

TEST(OsClockTick, TicksOfSeveralVclkCyclesReachTheListAsOneCallWithoutTheClockLock) {
    InFreshPlatform([] {
        ClockOverFakeCounter(1000000);
        OS_ClockTickIdleHookSet(TickIdle);
        ASSERT_EQ(OS_ClockTickHookAdd(ListA), 0u);
        CycleAt(1000000);
        CycleAt(2000000);
        CycleAt(3000000);
        CycleAt(4000000);
        EXPECT_EQ(osClockPendingGet(), 3u);

        // The semaphore was given four times; the first wait takes every pending tick.
        osClockTickCycle();
        std::vector<Call> calls = TakeCalls();
        ASSERT_EQ(Names(calls), (std::vector<std::string>{"A", "idle"}));
        EXPECT_EQ(calls[0].value, 30u);
        EXPECT_FALSE(calls[0].underClockLock);
        EXPECT_EQ(osClockPendingGet(), 0u);
        // Later wake-ups find nothing pending: only the idle hook.
        osClockTickCycle();
        EXPECT_EQ(Names(TakeCalls()), std::vector<std::string>{"idle"});
    });
}

TEST(OsClockTick, ListHooksRunNewestFirstBetweenTheirPairedHooks) {
    InFreshPlatform([] {
        ClockOverFakeCounter(1000000);
        EXPECT_EQ(OS_ClockTickHookAdd(nullptr), 22u);
        ASSERT_EQ(OS_ClockTickHookAdd(ListA), 0u);
        ASSERT_EQ(OS_ClockTickHookAdd(ListB), 0u);
        ASSERT_EQ(OS_ClockTickHookAdd(ListC), 0u);
        // Only one of each pair set: neither runs.
        OS_ClockTickPreHookSet(TickPre);
        OS_ClockTickTaskHookSet(TickEnter, nullptr);
        CycleAt(1000000);
        CycleAt(2000000);
        osClockTickCycle();
        EXPECT_EQ(Names(TakeCalls()), (std::vector<std::string>{"C", "B", "A"}));

        OS_ClockTickPostHookSet(TickPost);
        OS_ClockTickTaskHookSet(TickEnter, TickLeave);
        CycleAt(3000000);
        osClockTickCycle();
        std::vector<Call> calls = TakeCalls();
        EXPECT_EQ(Names(calls),
                  (std::vector<std::string>{"pre", "enter", "C", "B", "A", "leave", "post"}));
        for (const Call& c : calls) {
            EXPECT_FALSE(c.underClockLock) << c.what;
            if (c.what == "enter" || c.what == "leave") {
                EXPECT_EQ(c.value, osClockTickTaskIdGet()) << "the TICK task's id";
            }
        }
    });
}

// ---- Start-up ---------------------------------------------------------------------------------------

TEST(OsClockInit, CreatesTheTwoTasksOnceAndASecondCallNothing) {
    InFreshPlatform([] {
        const uint32_t before = UKO_TaskNumGet();
        ASSERT_EQ(OS_ClockInit(0), 0u);
        EXPECT_EQ(UKO_TaskNumGet(), before + 2);
        const uint32_t vclk = UKO_TaskIdGet("VCLK");
        const uint32_t tick = UKO_TaskIdGet("TICK");
        EXPECT_EQ(vclk, osClockVclkTaskIdGet());
        EXPECT_EQ(tick, osClockTickTaskIdGet());
        for (uint32_t id : {vclk, tick}) {
            UKO_TaskCb* cb = UKO_TaskCbGet(id);
            ASSERT_NE(cb, nullptr);
            EXPECT_EQ(cb->uiPriority, 250u);
            EXPECT_GE(cb->uvStackSize, 32768u);
        }
        ASSERT_EQ(OS_ClockInit(0), 0u);
        EXPECT_EQ(UKO_TaskNumGet(), before + 2);
        EXPECT_EQ(UKO_TaskIdGet("VCLK"), vclk);
    });
}

// ---- Global lock ------------------------------------------------------------------------------------

struct Waiter {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> taken{false};
};

void* TakeAndRelease(void* p) {
    Waiter* w = static_cast<Waiter*>(p);
    w->tid = vt_test::ThisThreadId();
    OS_GlobalLock();
    w->taken.store(true);
    OS_GlobalUnlock(0);
    return nullptr;
}

TEST(OsGlobalLock, HolderTakesItAgainAndOthersWaitForTheLastRelease) {
    EXPECT_EQ(OS_GlobalLockInit(), 0u);
    EXPECT_EQ(OS_GlobalLock(), 0u);
    EXPECT_EQ(OS_GlobalLock(), 0u);
    OS_GlobalUnlock(0);
    // An init while the lock is held must not make a fresh, free lock of it.
    EXPECT_EQ(OS_GlobalLockInit(), 0u);

    Waiter w;
    pthread_t other;
    ASSERT_EQ(pthread_create(&other, nullptr, TakeAndRelease, &w), 0);
    while (w.tid.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(vt_test::WaitUntilBlocked(w.tid)) << "the other task never waited for the lock";
    EXPECT_FALSE(w.taken.load()) << "still held once: the other task must wait";
    OS_GlobalUnlock(0);
    pthread_join(other, nullptr);
    EXPECT_TRUE(w.taken.load());
}

}  // namespace
