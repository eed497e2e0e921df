// The relative timer kernel driven tick by tick from the test: placement near and far,
// the expiry tick and order of every timer (against a model of the wheel's rules kept on
// absolute ticks), pending ticks, pool growth, the expiry rules by kind and mode, the
// operations on one timer and the basic information.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "os_time.h"
#include "reltmr_test_util.h"
#include "uko_cputick.h"
#include "uko_reltmrknl.h"
#include "uko_reltmrknl_inner.h"
#include "uko_secfunc.h"

namespace {

using reltmr_test::Start;
using reltmr_test::StateOf;
using reltmr_test::TestTimer;

constexpr uint32_t kWheel = 1024;

std::vector<uint32_t> g_fired;

uint32_t NameOf(UKO_ReltmrCb* tm) { return ukoRelTmNameGet(tm); }
void Record(UKO_ReltmrCb* tm) { g_fired.push_back(NameOf(tm)); }

class RelTmKernel : public ::testing::Test {
protected:
    void SetUp() override {
        reltmr_test::KernelUp();
        g_fired.clear();
        ASSERT_EQ(UKO_ReltmrCountGet(), 0u) << "an earlier test left timers on the wheel";
    }
    // Ticks one at a time until the timer's name has fired; the ticks it took.
    static uint32_t TicksUntilFired(uint32_t name, uint32_t limit) {
        for (uint32_t t = 1; t <= limit; ++t) {
            ukoRelTmTick(1);
            if (std::find(g_fired.begin(), g_fired.end(), name) != g_fired.end()) {
                return t;
            }
        }
        return 0;
    }
};

// ---- Placement and expiry tick ---------------------------------------------------------

TEST_F(RelTmKernel, EachLengthExpiresAfterItsTicksNearOrFar) {
    struct Case {
        uint32_t len;
        uint32_t list;   // 0 near, 1 far
        uint32_t ticks;  // ticks until expiry
    };
    const Case cases[] = {
        {0, 0, 1},    {1, 0, 1},       {2, 0, 2},       {1023, 0, 1023},
        {1024, 0, 1024}, {1025, 1, 1025}, {2048, 1, 2048}, {2049, 1, 2049}, {5000, 1, 5000},
    };
    // Shift the cursor off zero first so the slot arithmetic wraps.
    ukoRelTmTick(777);
    for (const Case& c : cases) {
        g_fired.clear();
        TestTimer t;
        UKO_ReltmrCb* tm = Start(&t, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, c.len, Record, c.len);
        ASSERT_NE(tm, nullptr);
        EXPECT_EQ(tm->uiList, c.list) << "length " << c.len;
        uint32_t remain = 0;
        ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
        EXPECT_EQ(remain, c.ticks) << "length " << c.len;
        EXPECT_EQ(TicksUntilFired(c.len, c.ticks + 2), c.ticks) << "length " << c.len;
        EXPECT_EQ(g_fired.size(), 1u) << "length " << c.len << " fired once";
        EXPECT_EQ(t.var, nullptr) << "the ended timer clears its owner's variable";
        EXPECT_EQ(StateOf(tm), UKO_RELTMR_IDLE);
    }
}

TEST_F(RelTmKernel, OneSlotNearBeforeFarAndEqualFarExpiriesByInsertionRules) {
    // All six expire at the same tick in the same slot: 1 and 2 near, the rest far
    // (placed two revolutions ahead, then the wheel is turned to the right distance).
    ukoRelTmTick(kWheel - (ukoRelTmCursorGet() % kWheel));  // cursor at a slot boundary
    TestTimer a, b, c, d, e, f, g;
    // Far timers due at cursor + 3000 and + 3000 + 1024 in one slot.
    Start(&a, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 3000, Record, 10);  // first far
    Start(&b, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 3000, Record, 11);  // equal: new head
    Start(&c, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 4024, Record, 20);  // later: the tail
    Start(&d, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 4024, Record, 21);  // equals the last: after it
    Start(&e, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 3000 + 2048, Record, 30);  // tail
    Start(&f, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 4024, Record, 22);  // middle, before 20
    EXPECT_EQ(ukoRelTmSlotGet(a.var->uiDue)->uiFarNum, 6u);
    // Near timers of the same expiry come later, placed 1000 ticks before it.
    ukoRelTmTick(2000);
    Start(&g, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 1000, Record, 1);
    TestTimer h;
    Start(&h, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 1000, Record, 2);
    ukoRelTmTick(999);
    EXPECT_TRUE(g_fired.empty());
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1, 2, 11, 10}));
    g_fired.clear();
    ukoRelTmTick(kWheel - 1);
    EXPECT_TRUE(g_fired.empty());
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{22, 20, 21}));
    g_fired.clear();
    ukoRelTmTick(kWheel);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{30}));
}

TEST_F(RelTmKernel, ATickBatchAboveTheWheelExpiresEachTimerOnceAtItsTick) {
    TestTimer t[4];
    const uint32_t lens[] = {5, 1030, 2100, 3500};
    for (int i = 0; i < 4; ++i) {
        Start(&t[i], UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, lens[i], Record, lens[i]);
    }
    ukoRelTmTick(4);
    EXPECT_TRUE(g_fired.empty());
    ukoRelTmTick(3495);  // three and a half revolutions in one call
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{5, 1030, 2100}));
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{5, 1030, 2100, 3500}));
    ukoRelTmTick(5000);
    EXPECT_EQ(g_fired.size(), 4u);
}

// A model of the wheel kept on absolute ticks: per slot, near timers in insertion order
// and far timers ordered as the placement rules order them (a timer not after the head
// goes first, one before the last goes before the first later-or-equal one behind the
// head, anything else last).
class WheelModel {
public:
    void Insert(uint64_t cursor, uint32_t len, uint32_t id) {
        const uint64_t L = len == 0 ? 1 : len;
        const uint64_t due = cursor + L;
        const uint32_t slot = static_cast<uint32_t>(due % kWheel);
        if (L <= kWheel) {
            near_[slot].push_back({due, id});
            return;
        }
        auto& far = far_[slot];
        if (far.empty() || due <= far.front().due) {
            far.push_front({due, id});
        } else if (due < far.back().due) {
            auto at = std::find_if(far.begin() + 1, far.end(),
                                   [due](const Entry& x) { return x.due >= due; });
            far.insert(at, {due, id});
        } else {
            far.push_back({due, id});
        }
    }
    // A stopped timer leaves wherever it is.
    void Remove(uint32_t id) {
        for (auto* lists : {&near_, &far_}) {
            for (auto& slot : *lists) {
                auto& q = slot.second;
                q.erase(std::remove_if(q.begin(), q.end(), [id](const Entry& x) { return x.id == id; }),
                        q.end());
            }
        }
    }
    // The ids due at the tick, in expiry order.
    std::vector<uint32_t> Tick(uint64_t tick) {
        std::vector<uint32_t> out;
        const uint32_t slot = static_cast<uint32_t>(tick % kWheel);
        for (const Entry& x : near_[slot]) {
            EXPECT_EQ(x.due, tick);
            out.push_back(x.id);
        }
        near_[slot].clear();
        auto& far = far_[slot];
        while (!far.empty() && far.front().due == tick) {
            out.push_back(far.front().id);
            far.pop_front();
        }
        return out;
    }

private:
    struct Entry {
        uint64_t due;
        uint32_t id;
    };
    std::map<uint32_t, std::deque<Entry>> near_;
    std::map<uint32_t, std::deque<Entry>> far_;
};

TEST_F(RelTmKernel, TenThousandRandomTimersExpireWhenAndInTheOrderTheModelSaysAmidStops) {
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<uint32_t> pick(0, 9999);
    std::uniform_int_distribution<uint32_t> lenDist(0, 5000);
    std::uniform_int_distribution<uint32_t> batchDist(1, 40);
    std::uniform_int_distribution<uint32_t> stepDist(1, 300);
    WheelModel model;
    uint64_t cursor = ukoRelTmCursorGet();  // the model counts in 64 bits from here
    std::vector<TestTimer> timers(10000);
    uint32_t next = 0;
    uint32_t calls = 0;
    while (next < timers.size() || UKO_ReltmrCountGet() != 0) {
        const uint32_t batch = std::min<uint32_t>(batchDist(rng), timers.size() - next);
        for (uint32_t i = 0; i < batch; ++i, ++next) {
            const uint32_t len = lenDist(rng);
            model.Insert(cursor, len, next);
            ASSERT_NE(Start(&timers[next], UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, len, Record,
                            next),
                      nullptr);
        }
        // Some timers are stopped from anywhere in their slot's lists.
        for (int i = 0; i < 3 && next > 0; ++i) {
            const uint32_t id = pick(rng) % next;
            if (timers[id].var != nullptr) {
                ASSERT_EQ(UKO_ReltmrStop(&timers[id].var), 0u);
                model.Remove(id);
            }
        }
        // Now and then a batch of ticks longer than the wheel.
        const uint32_t step = (calls++ % 50 == 49) ? 2500 : stepDist(rng);
        std::vector<uint32_t> expected;
        for (uint32_t t = 1; t <= step; ++t) {
            const std::vector<uint32_t> due = model.Tick(cursor + t);
            expected.insert(expected.end(), due.begin(), due.end());
        }
        cursor += step;
        g_fired.clear();
        ukoRelTmTick(step);
        ASSERT_EQ(g_fired, expected) << "tick call " << calls << " ending at " << cursor;
    }
}

// ---- Pending ticks ---------------------------------------------------------------------

TEST_F(RelTmKernel, PendingTicksLengthenPlacementShortenRemainingTimeAndDrainWithTheTick) {
    ukoRelTmUpdateTickPass(3);
    EXPECT_EQ(ukoRelTmPendingGet(), 3u);
    TestTimer t;
    Start(&t, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 5, Record, 1);
    uint32_t remain = 0;
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
    EXPECT_EQ(remain, 5u) << "8 ticks by the wheel, 3 of them already measured";
    ukoRelTmTick(2);
    EXPECT_EQ(ukoRelTmPendingGet(), 1u);
    ukoRelTmTick(4);
    EXPECT_EQ(ukoRelTmPendingGet(), 0u) << "a larger batch floors the pending count at 0";
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
    EXPECT_EQ(remain, 2u);
    // 3 pending against 2 left by the wheel: nothing is left.
    ukoRelTmUpdateTickPass(3);
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
    EXPECT_EQ(remain, 0u);
    ukoRelTmTick(3);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1}));
}

std::vector<std::string> g_records;
void KeepRecord(uint32_t, uint16_t, uint16_t, const char*, uint16_t, const char* format) {
    g_records.emplace_back(format);
}

TEST_F(RelTmKernel, IrregularTickPassesAreReportedOnceTheThresholdIsReached) {
    ukoErrorRecordObserverSet(KeepRecord);
    ASSERT_EQ(UKO_CpuTickCheckSet(3, nullptr), 0u);
    const uint32_t passes[] = {2, 2, 2, 1, 2, 2, 5};
    std::vector<size_t> reportsAfter;
    for (uint32_t n : passes) {
        ukoRelTmUpdateTickPass(n);
        reportsAfter.push_back(g_records.size());
    }
    ukoErrorRecordObserverSet(nullptr);
    ASSERT_EQ(UKO_CpuTickCheckSet(0, nullptr), 0u);
    EXPECT_EQ(reportsAfter, (std::vector<size_t>{0, 0, 1, 1, 1, 1, 2}));
    ASSERT_FALSE(g_records.empty());
    EXPECT_EQ(g_records[0], "[ZIRPA-%s]:cputickbase %u, errorNum %u, lasttickpass %u");
    g_records.clear();
    ukoRelTmTick(ukoRelTmPendingGet());
}

// ---- Pool ----------------------------------------------------------------------------------

bool g_refuse = false;
bool Gate(uint32_t) { return !g_refuse; }

TEST_F(RelTmKernel, TakingTheLastRecordGrowsThePoolFirstAndARefusalKeepsIt) {
    ukoRelTmPoolGateSet(Gate);
    std::vector<void*> taken;
    // Take records until only the last one is left.
    while (ukoRelTmFreeNumGet() > 1) {
        void* priv = nullptr;
        ASSERT_EQ(ukoRelTmCbAlloc(&priv), 0u);
        taken.push_back(priv);
    }
    g_refuse = true;
    void* priv = nullptr;
    EXPECT_EQ(ukoRelTmCbAlloc(&priv), 12u);
    EXPECT_EQ(priv, nullptr);
    EXPECT_EQ(ukoRelTmFreeNumGet(), 1u) << "the last record stays free";
    g_refuse = false;
    ASSERT_EQ(ukoRelTmCbAlloc(&priv), 0u);
    taken.push_back(priv);
    EXPECT_EQ(ukoRelTmFreeNumGet(), UKO_RELTMR_POOL_GROW);
    uint32_t state = 0;
    EXPECT_EQ(UKO_ReltmrStatusGet(ukoRelTmCbOfPriv(priv), &state), 0u);
    EXPECT_EQ(state, UKO_RELTMR_IDLE) << "a pool record is IDLE";
    for (void* p : taken) {
        ukoRelTmCbFree(0, p);
    }
    EXPECT_EQ(ukoRelTmFreeNumGet(), UKO_RELTMR_POOL_GROW + taken.size());
    ukoRelTmPoolGateSet(nullptr);
}

// ---- Expiry by kind and mode -------------------------------------------------------------

std::vector<uint32_t> g_loopTicks;
void RecordCursor(UKO_ReltmrCb* tm) {
    g_fired.push_back(NameOf(tm));
    g_loopTicks.push_back(ukoRelTmCursorGet());
}

TEST_F(RelTmKernel, LoopTimerCountsItsNextPeriodFromTheCallsLastTick) {
    g_loopTicks.clear();
    TestTimer t;
    Start(&t, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP, 10, RecordCursor, 7);
    const uint32_t base = ukoRelTmCursorGet();
    ukoRelTmTick(15);  // expires at +10; placed again from +15
    ukoRelTmTick(9);
    EXPECT_EQ(g_fired.size(), 1u);
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired.size(), 2u);
    EXPECT_EQ(g_loopTicks, (std::vector<uint32_t>{base + 15, base + 25}));
    EXPECT_EQ(UKO_ReltmrStop(&t.var), 0u);
    EXPECT_EQ(t.var, nullptr);
}

TEST_F(RelTmKernel, CompensatingLoopCatchesUpMissedPeriodsAndARecordingOneIsNotPushedAYearAhead) {
    g_loopTicks.clear();
    TestTimer comp;
    Start(&comp, UKO_RELTMR_KIND_LOCKED,
          UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP | UKO_RELTIMER_CYCLE_COMPENSATE, 4, RecordCursor, 1);
    ukoRelTmTick(13);  // due at +4; by +13 two further periods have passed
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1, 1, 1}));
    uint32_t remain = 0;
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&comp.var, &remain), 0u);
    EXPECT_EQ(remain, 3u) << "the grid of +4, +8, +12 goes on at +16";
    EXPECT_EQ(UKO_ReltmrStop(&comp.var), 0u);

    g_fired.clear();
    TestTimer rec;
    Start(&rec, UKO_RELTMR_KIND_LOCKED,
          UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP | UKO_RELTIMER_CYCLE_RECORD, 1, RecordCursor, 2);
    ukoRelTmTick(5);  // its next due tick now lies behind the cursor
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&rec.var, &remain), 0u);
    EXPECT_EQ(remain, 1u) << "a due tick already passed is due at the next tick";
    EXPECT_EQ(UKO_ReltmrStop(&rec.var), 0u);
}

TEST_F(RelTmKernel, UnlockedKindMayStopItsOwnTimerAndMessageTimersShareTheFirstFunction) {
    static TestTimer self;
    static std::vector<std::string> calls;
    calls.clear();
    struct Fns {
        static void StopSelf(UKO_ReltmrCb* tm) {
            calls.push_back("stop " + std::to_string(NameOf(tm)));
            EXPECT_EQ(UKO_ReltmrStop(&self.var), 0u) << "the lock is released around the call";
        }
        static void MsgA(UKO_ReltmrCb* tm) { calls.push_back("A " + std::to_string(NameOf(tm))); }
        static void MsgB(UKO_ReltmrCb* tm) { calls.push_back("B " + std::to_string(NameOf(tm))); }
    };
    Start(&self, UKO_RELTMR_KIND_UNLOCKED, UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP, 3, Fns::StopSelf, 9);
    TestTimer m1, m2;
    Start(&m1, UKO_RELTMR_KIND_UNLOCKED, 0, 3, Fns::MsgA, 1);
    Start(&m2, UKO_RELTMR_KIND_UNLOCKED, 0, 3, Fns::MsgB, 2);
    UKO_ReltmrCb* selfRec = self.var;
    ukoRelTmTick(3);
    EXPECT_EQ(calls, (std::vector<std::string>{"stop 9", "A 1", "A 2"}));
    EXPECT_EQ(StateOf(selfRec), UKO_RELTMR_IDLE) << "stopped while OUT, ended by the expiry";
    EXPECT_EQ(self.var, nullptr);
    EXPECT_EQ(UKO_ReltmrCountGet(), 0u);
}

TEST_F(RelTmKernel, UnlockedMessageTimerStoppedBeforeItsTurnDeliversNothing) {
    static TestTimer first, second;
    static std::vector<uint32_t> delivered;
    delivered.clear();
    struct Fns {
        // The first message timer's function delivers for both; the first delivery
        // stops the second timer, which is already on this call's expired list.
        static void Deliver(UKO_ReltmrCb* tm) {
            delivered.push_back(NameOf(tm));
            if (second.var != nullptr) {
                EXPECT_EQ(UKO_ReltmrStop(&second.var), 0u);
            }
        }
    };
    Start(&first, UKO_RELTMR_KIND_UNLOCKED, 0, 2, Fns::Deliver, 1);
    Start(&second, UKO_RELTMR_KIND_UNLOCKED, 0, 2, Fns::Deliver, 2);
    UKO_ReltmrCb* rec = second.var;
    ukoRelTmTick(2);
    EXPECT_EQ(delivered, (std::vector<uint32_t>{1})) << "a stop answered with 0 means no delivery";
    EXPECT_EQ(StateOf(rec), UKO_RELTMR_IDLE);
    EXPECT_EQ(UKO_ReltmrCountGet(), 0u);
}

TEST_F(RelTmKernel, LockedMessageTimerStoppedDuringExpiryWithAQueuedMessageStaysDeleted) {
    static TestTimer first, second;
    struct Fns {
        static void StopOther(UKO_ReltmrCb*) { EXPECT_EQ(UKO_ReltmrStop(&second.var), 0u); }
    };
    Start(&first, UKO_RELTMR_KIND_LOCKED, 0, 2, Fns::StopOther, 1);
    Start(&second, UKO_RELTMR_KIND_LOCKED, 0, 2, Record, 2);
    UKO_ReltmrCb* rec = second.var;
    rec->ulMsgInQueue = 1;
    ukoRelTmTick(2);
    EXPECT_TRUE(g_fired.empty()) << "a timer stopped before its turn does not deliver";
    EXPECT_EQ(StateOf(rec), UKO_RELTMR_DELETED) << "kept for the message still queued";
    // Its owner settles it as the message is taken.
    ukoRelTmLock();
    rec->ulMsgInQueue = 0;
    rec->ucState = UKO_RELTMR_IDLE;
    (void)ukoReltmrDbgHandleStatRemove(rec->uiHandle, rec);
    ukoRelTmUnlock();
    ukoRelTmCbFree(0, rec->aucPriv);
}

UKO_ReltmrCb* g_adapted = nullptr;
void Adapt(UKO_ReltmrCb* tm) {
    g_adapted = tm;
    // The hook owns the record; it may place it again with the kernel lock it takes.
    ukoRelTmLock();
    tm->ucState = UKO_RELTMR_IDLE;
    ukoRelTmUnlock();
}

TEST_F(RelTmKernel, AdaptationRecordsGoToTheHookUntouched) {
    ukoRelTmAdaptHookSet(Adapt);
    void* priv = nullptr;
    ASSERT_EQ(ukoRelTmCbAlloc(&priv), 0u);
    UKO_ReltmrCb* tm = ukoRelTmCbOfPriv(priv);
    ukoRelTmLock();
    tm->uiKind = UKO_RELTMR_KIND_ADAPT;
    tm->ucMode = 0;
    tm->uiLenTick = 2;
    ukoRelTmInsert(tm);
    ukoRelTmUnlock();
    ukoRelTmTick(1);
    EXPECT_EQ(g_adapted, nullptr);
    ukoRelTmTick(1);
    EXPECT_EQ(g_adapted, tm);
    ukoRelTmAdaptHookSet(nullptr);
    ukoRelTmCbFree(0, priv);
}

// ---- Operations on one timer ---------------------------------------------------------------

TEST_F(RelTmKernel, PauseKeepsWhatIsLeftForAOneShotAndAWholePeriodForALoop) {
    TestTimer once, loop;
    Start(&once, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 100, Record, 1);
    Start(&loop, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP, 100, Record, 2);
    ukoRelTmTick(63);
    ASSERT_EQ(UKO_ReltmrPause(&once.var), 0u);
    ASSERT_EQ(UKO_ReltmrPause(&loop.var), 0u);
    EXPECT_EQ(StateOf(once.var), UKO_RELTMR_PAUSED);
    EXPECT_EQ(once.var->uiLenTick, 37u);
    EXPECT_EQ(once.var->uiLenMs, 370u);
    EXPECT_EQ(loop.var->uiLenTick, 100u);
    uint32_t remain = 0;
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&once.var, &remain), 0u);
    EXPECT_EQ(remain, 37u);
    EXPECT_EQ(UKO_ReltmrPause(&once.var), 22u) << "a paused timer cannot be paused again";
    ukoRelTmTick(500);  // paused timers stay off the wheel
    EXPECT_TRUE(g_fired.empty());
    ASSERT_EQ(UKO_ReltmrResume(&once.var), 0u);
    ASSERT_EQ(UKO_ReltmrResume(&loop.var), 0u);
    EXPECT_EQ(UKO_ReltmrResume(&loop.var), 22u) << "a ticking timer cannot be resumed";
    ukoRelTmTick(36);
    EXPECT_TRUE(g_fired.empty());
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1}));
    ukoRelTmTick(62);
    EXPECT_EQ(g_fired.size(), 1u);
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1, 2})) << "the loop's next expiry a whole period on";
    EXPECT_EQ(UKO_ReltmrStop(&loop.var), 0u);
}

TEST_F(RelTmKernel, PauseResumeAndRestartFromInsideTheExpiryOfALoopTimer) {
    static TestTimer t;
    static std::vector<uint32_t> results;
    static int step = 0;
    results.clear();
    step = 0;
    struct Fns {
        static void Expire(UKO_ReltmrCb*) {
            ++step;
            if (step == 1) {  // paused and resumed again: goes on as if never paused
                results.push_back(UKO_ReltmrPause(&t.var));
                results.push_back(StateOf(t.var));
                results.push_back(UKO_ReltmrResume(&t.var));
                results.push_back(UKO_ReltmrRestart(&t.var));  // OUT: 0, nothing changes
                results.push_back(StateOf(t.var));
            } else if (step == 2) {  // paused: parked once the expiry is over
                results.push_back(UKO_ReltmrPause(&t.var));
            }
        }
    };
    Start(&t, UKO_RELTMR_KIND_UNLOCKED, UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP, 5, Fns::Expire, 1);
    ukoRelTmTick(5);
    EXPECT_EQ(results, (std::vector<uint32_t>{0, UKO_RELTMR_PAUSEING, 0, 0, UKO_RELTMR_OUT}));
    EXPECT_EQ(StateOf(t.var), UKO_RELTMR_TICKING);
    ukoRelTmTick(5);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(StateOf(t.var), UKO_RELTMR_PAUSED);
    EXPECT_EQ(UKO_ReltmrRestart(&t.var), 22u) << "a paused timer cannot be restarted";
    EXPECT_EQ(UKO_ReltmrStop(&t.var), 0u);
    EXPECT_EQ(t.var, nullptr);
}

TEST_F(RelTmKernel, ResizeAndRestartPlaceFromNowOrOnlySetLengths) {
    TestTimer t;
    Start(&t, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, 50, Record, 1);
    ukoRelTmTick(20);
    ASSERT_EQ(UKO_ReltmrRestart(&t.var), 0u);
    uint32_t remain = 0;
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
    EXPECT_EQ(remain, 50u);
    ASSERT_EQ(UKO_ReltmrPause(&t.var), 0u);
    ASSERT_EQ(UKO_ReltmrResize(&t.var, 250), 0u);
    EXPECT_EQ(t.var->uiLenTick, 25u);
    EXPECT_EQ(t.var->uiLenMs, 250u);
    EXPECT_EQ(StateOf(t.var), UKO_RELTMR_PAUSED);
    ASSERT_EQ(UKO_ReltmrResume(&t.var), 0u);
    ASSERT_EQ(UKO_ReltmrResize(&t.var, 5), 0u);
    EXPECT_EQ(t.var->uiLenTick, 0u) << "5 ms is less than a tick";
    ukoRelTmTick(1);
    EXPECT_EQ(g_fired, (std::vector<uint32_t>{1}));
    EXPECT_EQ(t.var, nullptr);
}

TEST_F(RelTmKernel, RemainingTimeInTheCursorsOwnSlotIsAWholeRevolution) {
    TestTimer t;
    Start(&t, UKO_RELTMR_KIND_LOCKED, UKO_RELTIMER_CALLBACK, kWheel, Record, 1);
    EXPECT_EQ(t.var->uiDue & (kWheel - 1), ukoRelTmCursorGet() & (kWheel - 1));
    ukoRelTmUpdateTickPass(4);
    uint32_t remain = 0;
    ASSERT_EQ(UKO_ReltmrRemainTimeGet(&t.var, &remain), 0u);
    EXPECT_EQ(remain, kWheel - 4);
    ukoRelTmTick(4);
    EXPECT_EQ(UKO_ReltmrStop(&t.var), 0u);
}

TEST_F(RelTmKernel, OperationsRefuseMissingHandlesAndEndedTimers) {
    UKO_ReltmrCb* empty = nullptr;
    uint32_t word = 0;
    struct Case {
        const char* what;
        uint32_t rc;
        uint32_t expected;
    };
    const Case cases[] = {
        {"stop NULL", UKO_ReltmrStop(nullptr), 22},
        {"stop empty", UKO_ReltmrStop(&empty), 22},
        {"status NULL", UKO_ReltmrStatusGet(nullptr, &word), 22},
        {"remain NULL out", UKO_ReltmrRemainTimeGet(&empty, nullptr), 22},
        {"remain empty", UKO_ReltmrRemainTimeGet(&empty, &word), 22},
        {"pause empty", UKO_ReltmrPause(&empty), 22},
        {"resume NULL", UKO_ReltmrResume(nullptr), 22},
        {"restart empty", UKO_ReltmrRestart(&empty), 22},
        {"resize empty", UKO_ReltmrResize(&empty, 10), 22},
        {"base info NULL", UKO_ReltmrBaseInfoGet(nullptr, nullptr), 22},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.rc, c.expected) << c.what;
    }
    // A record that has ended: stop refuses it silently, the others with a report.
    void* priv = nullptr;
    ASSERT_EQ(ukoRelTmCbAlloc(&priv), 0u);
    UKO_ReltmrCb* idle = ukoRelTmCbOfPriv(priv);
    g_records.clear();
    ukoErrorRecordObserverSet(KeepRecord);
    EXPECT_EQ(UKO_ReltmrStop(&idle), 22u);
    EXPECT_TRUE(g_records.empty());
    EXPECT_EQ(UKO_ReltmrResize(&idle, 10), 22u);
    EXPECT_EQ(UKO_ReltmrRemainTimeGet(&idle, &word), 22u);
    EXPECT_EQ(UKO_ReltmrResume(&idle), 22u);
    ukoErrorRecordObserverSet(nullptr);
    EXPECT_EQ(g_records, (std::vector<std::string>{
                             "[ZIRPA-%s]:Timer's state is not supported!",
                             "[ZIRPA-%s]:Timer's status is not supported!",
                             "[ZIRPA-%s]: Reltimer(0x%p) can't resume when status is %s."}));
    g_records.clear();
    ukoRelTmCbFree(0, priv);
    EXPECT_STREQ(ukoRelTmStateName(0x12), "ERROR");
    EXPECT_STREQ(ukoRelTmStateName(UKO_RELTMR_PAUSEING), "PAUSEING");
}

// ---- Basic information -----------------------------------------------------------------------

TEST_F(RelTmKernel, BaseInfoCopiesUpToTheCapacityInListOrder) {
    UKO_ReltmrBaseInfo info[5] = {};
    uint32_t count = 5;
    ASSERT_EQ(UKO_ReltmrBaseInfoGet(&count, info), 0u);
    EXPECT_EQ(count, 0u);
    count = 0;
    EXPECT_EQ(UKO_ReltmrBaseInfoGet(&count, info), 22u);

    TestTimer t[5];
    for (uint32_t i = 0; i < 5; ++i) {
        Start(&t[i], UKO_RELTMR_KIND_LOCKED, i % 2 == 0 ? UKO_RELTIMER_CALLBACK : 0, 10 + i, Record,
              100 + i);
    }
    count = 3;
    ASSERT_EQ(UKO_ReltmrBaseInfoGet(&count, info), 0u);
    ASSERT_EQ(count, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(info[i].uiName, 100 + i);
        EXPECT_EQ(info[i].uiLenMs, (10 + i) * 10);
        EXPECT_EQ(info[i].usState, UKO_RELTMR_TICKING);
        EXPECT_EQ(info[i].phOwner, &t[i].var);
    }
    ukoRelTmTick(20);
    EXPECT_EQ(g_fired.size(), 5u);
}

}  // namespace
