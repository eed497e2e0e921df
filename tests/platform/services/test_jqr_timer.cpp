// Adaptation timers on a wheel that only the test turns: ids and their generations,
// pool growth, creation checks, callback and extended delivery, the acknowledgement
// sequence, pause, resize, remaining time, the delete flag and delete by task.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jqr_timer.h"
#include "jqr_timer_inner.h"
#include "reltmr_test_util.h"
#include "uko_reltmrknl.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kTask = 7;  // owner of callback timers; no task is needed for them

std::vector<uint64_t> g_calls;
void Callback(uint64_t arg) { g_calls.push_back(arg); }

void Up() {
    reltmr_test::KernelUp();
    ASSERT_EQ(JQR_TimerInit(0), 0u);
}

UKO_TIMER_INFO_S InfoOf(uint32_t id) {
    UKO_TIMER_INFO_S info{};
    EXPECT_EQ(UKO_Timer_GetInfo(id, &info), 0u);
    return info;
}

UKO_TIMER_STAT_S Stats() {
    UKO_TIMER_STAT_S st{};
    EXPECT_EQ(UKO_Timer_GetTimerStatInfo(&st), 0u);
    return st;
}

class JqrTimer : public ::testing::Test {
protected:
    void SetUp() override {
        Up();
        g_calls.clear();
    }
};

bool g_refuseGroup = false;
bool GroupGate(uint32_t) { return !g_refuseGroup; }

// Must run first in its process: it looks at the ids the first creations get.
TEST_F(JqrTimer, IdsCarryTheirGenerationAndAStaleIdIsRefused) {
    uint32_t rel = 0;
    ASSERT_EQ(UKO_Timer_GetRelID(1, &rel), 0u);
    ASSERT_EQ(rel, 1u) << "this test needs a fresh process";
    EXPECT_EQ(UKO_Timer_GetRelID(0x100000, &rel), 22u);
    EXPECT_EQ(UKO_Timer_GetRelID(2048, &rel), 22u) << "group 2 does not exist yet";
    EXPECT_EQ(Stats().uiPoolNum, 1023u);

    uint32_t first = 0;
    uint32_t second = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 1000, Callback, 1, &first, 0), 0u);
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 1000, Callback, 2, &second, 0), 0u);
    EXPECT_EQ(first, 0x100001u);
    EXPECT_EQ(second, 0x100002u);
    EXPECT_EQ(UKO_Timer_Delete(first), 0u);
    EXPECT_EQ(UKO_Timer_Delete(first), UKO_TIMER_ERR_DELETED) << "the record still carries the id";

    // Record 1 went to the tail; take records until it comes round again. Handing out
    // the last free record makes a new group first, and a refused group refuses the
    // creation while keeping the record.
    std::vector<uint32_t> ids;
    jqrTimerGroupGateSet(GroupGate);
    while (true) {
        uint32_t id = 0;
        g_refuseGroup = true;
        const uint32_t rc = UKO_Timer_Create(kTask, 0, 1000, Callback, 3, &id, 0);
        if (rc != 0) {
            EXPECT_EQ(rc, 12u);
            break;
        }
        ids.push_back(id);
    }
    EXPECT_EQ(ids.size(), 1021u) << "records 3 to 1023 of group 0";
    g_refuseGroup = false;
    uint32_t reused = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 1000, Callback, 4, &reused, 0), 0u);
    jqrTimerGroupGateSet(nullptr);
    EXPECT_EQ(reused, 0x200001u) << "record 1, second generation";
    EXPECT_EQ(Stats().uiPoolNum, 2047u);
    ASSERT_EQ(UKO_Timer_GetRelID(1024, &rel), 0u);
    EXPECT_EQ(rel, 1024u);
    UKO_TIMER_INFO_S info{};
    EXPECT_EQ(UKO_Timer_GetInfo(first, &info), 22u) << "the old id is stale";
    EXPECT_EQ(UKO_Timer_Delete(first), 22u);
    EXPECT_EQ(UKO_Timer_Pause(first), 22u);

    for (uint32_t id : ids) {
        ASSERT_EQ(UKO_Timer_Delete(id), 0u);
    }
    ASSERT_EQ(UKO_Timer_Delete(second), 0u);
    ASSERT_EQ(UKO_Timer_Delete(reused), 0u);
    const UKO_TIMER_STAT_S st = Stats();
    EXPECT_EQ(st.uiUsedNum, 0u);
    EXPECT_EQ(st.uiCreateNum, 1024u);
}

TEST_F(JqrTimer, CreationChecksArgumentsInOrder) {
    struct Case {
        const char* what;
        uint32_t task;
        uint32_t queue;
        UKO_TIMER_FUNC_PF fn;
        uint32_t flags;
        uint32_t rc;
    };
    const Case cases[] = {
        {"no callback", kTask, 0, nullptr, 0, 22},
        {"calling thread is no task", 0, 0, Callback, 0, 22},
        {"callback delivery bit", kTask, 0, Callback, 0x02, 22},
        {"cycle bits", kTask, 0, Callback, 0x08, 22},
        {"loop, one message in queue", kTask, 0, Callback, 0x05, 0},
    };
    for (const Case& c : cases) {
        uint32_t id = 0;
        EXPECT_EQ(UKO_Timer_Create(c.task, c.queue, 100, c.fn, 0, &id, c.flags), c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(InfoOf(id).uiMode, 5u);
            EXPECT_EQ(UKO_Timer_Delete(id), 0u);
        }
    }
    uint32_t id = 0;
    EXPECT_EQ(UKO_Timer_Create_Ex(1, 100, Callback, 0, nullptr, 0), 22u);
    EXPECT_EQ(UKO_Timer_Create(kTask, 0, 100, Callback, 0, nullptr, 0), 0u) << "the id may be dropped";
    ukoRelTmTick(10);
    EXPECT_EQ(g_calls.size(), 1u);
    (void)id;
}

TEST_F(JqrTimer, FiveMillisecondsExpiresAtTheNextTickAndLoopsKeepTheirPeriod) {
    uint32_t once = 0;
    uint32_t loop = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 5, Callback, 5, &once, 0), 0u);
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 30, Callback, 30, &loop, UKO_TIMER_LOOP), 0u);
    ukoRelTmTick(1);
    EXPECT_EQ(g_calls, (std::vector<uint64_t>{5}));
    EXPECT_EQ(InfoOf(once).uiState, UKO_RELTMR_IDLE) << "a delivered one-shot is released";
    ukoRelTmTick(2);
    ukoRelTmTick(3);
    ukoRelTmTick(3);
    EXPECT_EQ(g_calls, (std::vector<uint64_t>{5, 30, 30, 30}));
    EXPECT_EQ(UKO_Timer_Delete(loop), 0u);
    ukoRelTmTick(10);
    EXPECT_EQ(g_calls.size(), 4u);
}

TEST_F(JqrTimer, ACallbackMayDeleteItsOwnTimerAndHooksFrameIt) {
    static uint32_t self = 0;
    static std::vector<std::string> trace;
    trace.clear();
    struct Fns {
        static void DeleteSelf(uint64_t) {
            trace.push_back("callback");
            EXPECT_EQ(UKO_Timer_Delete(self), 0u) << "no lock is held during the callback";
            EXPECT_EQ(UKO_Timer_Delete(self), UKO_TIMER_ERR_DELETED);
        }
        static void Pre(uint32_t id, uint32_t task, UKO_TIMER_FUNC_PF) {
            EXPECT_EQ(id, self);
            EXPECT_EQ(task, kTask);
            trace.push_back("pre");
        }
        static void Post(uint32_t, uint32_t, UKO_TIMER_FUNC_PF fn) {
            EXPECT_EQ(fn, DeleteSelf);
            trace.push_back("post");
        }
    };
    ASSERT_EQ(UKO_Timer_PreCallbackHookSet(Fns::Pre), 0u);
    ASSERT_EQ(UKO_Timer_PostCallbackHookSet(Fns::Post), 0u);
    const uint32_t usedBefore = Stats().uiUsedNum;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 20, Fns::DeleteSelf, 0, &self, UKO_TIMER_LOOP), 0u);
    ukoRelTmTick(2);
    ukoRelTmTick(10);
    (void)UKO_Timer_PreCallbackHookSet(nullptr);
    (void)UKO_Timer_PostCallbackHookSet(nullptr);
    EXPECT_EQ(trace, (std::vector<std::string>{"pre", "callback", "post"}));
    EXPECT_EQ(InfoOf(self).uiState, UKO_RELTMR_IDLE);
    EXPECT_EQ(Stats().uiUsedNum, usedBefore);
}

std::vector<uint32_t> g_ext;
void ExtHook(uint32_t id, uint32_t name, uint64_t arg, UKO_TIMER_FUNC_PF fn) {
    EXPECT_EQ(fn, Callback);
    g_ext.push_back(id);
    g_ext.push_back(name);
    g_ext.push_back(static_cast<uint32_t>(arg));
}

TEST_F(JqrTimer, DeletedWithTwoUnacknowledgedMessagesItStaysUntilTheLastAcknowledgement) {
    g_ext.clear();
    UKO_Timer_ExtHookSet(ExtHook);
    uint32_t id = 0;
    ASSERT_EQ(UKO_Timer_Create_Ex(0x5EED, 20, Callback, 9, &id,
                                  UKO_TIMER_LOOP | UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE),
              0u);
    ukoRelTmTick(2);
    ukoRelTmTick(2);
    EXPECT_EQ(g_ext, (std::vector<uint32_t>{id, 0x5EED, 9, id, 0x5EED, 9}));
    EXPECT_TRUE(g_calls.empty()) << "an extended timer leaves the callback to its hook";
    JQR_TIMER_INFO_S info{};
    ASSERT_EQ(UKO_Timer_GetStructFromID(id, &info), 0u);
    EXPECT_EQ(info.uiMsgNum, 2u);

    EXPECT_EQ(UKO_Timer_Delete(id), 0u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_DELETED);
    ukoRelTmTick(5);
    EXPECT_EQ(g_ext.size(), 6u) << "off the wheel";
    EXPECT_EQ(UKO_Timer_IsStoped(id), 1u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_DELETED);
    EXPECT_EQ(UKO_Timer_IsStoped(id), 1u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE) << "the last acknowledgement releases it";
    UKO_Timer_ExtHookSet(nullptr);

    // Without the flag a timer never counts as stopped, deleted or not.
    uint32_t plain = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 50, Callback, 0, &plain, UKO_TIMER_LOOP), 0u);
    EXPECT_EQ(UKO_Timer_IsStoped(plain), 0u);
    ASSERT_EQ(UKO_Timer_Delete(plain), 0u);
    EXPECT_EQ(UKO_Timer_IsStoped(plain), 0u);
    EXPECT_EQ(UKO_Timer_IsStoped(0), 0u) << "an invalid id, reported";
}

TEST_F(JqrTimer, AnEarlyAcknowledgementDoesNotReleaseATimerWaitingForItsExpiry) {
    // Three one-shot timers that keep their message expire in one tick. The first one's
    // delivery acknowledges the second while that still waits on the tick's expired
    // list: the second must still be delivered, and the third with it.
    static uint32_t ids[3];
    static std::vector<uint32_t> seen;
    seen.clear();
    struct Fns {
        static void Hook(uint32_t id, uint32_t, uint64_t, UKO_TIMER_FUNC_PF) {
            seen.push_back(id);
            if (id == ids[0]) {
                EXPECT_EQ(UKO_Timer_IsStoped(ids[1]), 0u);
            }
        }
    };
    UKO_Timer_ExtHookSet(Fns::Hook);
    for (uint32_t& id : ids) {
        ASSERT_EQ(UKO_Timer_Create_Ex(1, 30, Callback, 0, &id, UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE), 0u);
    }
    ukoRelTmTick(3);
    UKO_Timer_ExtHookSet(nullptr);
    EXPECT_EQ(seen, (std::vector<uint32_t>{ids[0], ids[1], ids[2]}));
    for (uint32_t id : ids) {
        EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_OUT) << "delivered, waiting for its acknowledgement";
        EXPECT_EQ(UKO_Timer_IsStoped(id), 0u);
        EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE);
    }
}

TEST_F(JqrTimer, DeleteFlagRefusesDeletionOfLoopTimersOnly) {
    uint32_t loop = 0;
    uint32_t once = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 100, Callback, 0, &loop, UKO_TIMER_LOOP), 0u);
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 100, Callback, 0, &once, 0), 0u);
    EXPECT_EQ(UKO_Timer_DeleteFlagSet(loop, 177), 22u);
    EXPECT_EQ(UKO_Timer_DeleteFlagSet(once, UKO_TIMER_DELETE_REFUSED), 22u);
    ASSERT_EQ(UKO_Timer_DeleteFlagSet(loop, UKO_TIMER_DELETE_REFUSED), 0u);
    EXPECT_EQ(UKO_Timer_Delete(loop), UKO_TIMER_ERR_NO_DELETE);
    EXPECT_EQ(InfoOf(loop).uiState, UKO_RELTMR_TICKING);
    ASSERT_EQ(UKO_Timer_DeleteFlagSet(loop, UKO_TIMER_DELETE_ALLOWED), 0u);
    EXPECT_EQ(UKO_Timer_Delete(loop), 0u);
    EXPECT_EQ(UKO_Timer_DeleteFlagSet(loop, UKO_TIMER_DELETE_ALLOWED), 22u) << "deleted";
    EXPECT_EQ(UKO_Timer_Delete(once), 0u);
}

TEST_F(JqrTimer, PauseResumeResizeAndRemainingTime) {
    uint32_t id = 0;
    ASSERT_EQ(UKO_Timer_Create(kTask, 0, 1000, Callback, 1, &id, 0), 0u);
    ukoRelTmTick(63);
    uint32_t ms = 0;
    ASSERT_EQ(UKO_Timer_GetRemaintime(id, &ms), 0u);
    EXPECT_EQ(ms, 370u);
    ASSERT_EQ(UKO_Timer_Pause(id), 0u);
    EXPECT_EQ(InfoOf(id).uiLenMs, 370u);
    ASSERT_EQ(UKO_Timer_GetRemaintime(id, &ms), 0u);
    EXPECT_EQ(ms, 0u) << "a paused timer reports 0 ms";
    EXPECT_EQ(UKO_Timer_Pause(id), 22u);
    ASSERT_EQ(UKO_Timer_Resize(id, 250), 0u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_PAUSED);
    ukoRelTmTick(100);
    EXPECT_TRUE(g_calls.empty());
    ASSERT_EQ(UKO_Timer_Resume(id), 0u);
    EXPECT_EQ(UKO_Timer_Resume(id), 22u);
    ukoRelTmTick(24);
    EXPECT_TRUE(g_calls.empty());
    ukoRelTmTick(1);
    EXPECT_EQ(g_calls, (std::vector<uint64_t>{1}));
    EXPECT_EQ(UKO_Timer_Resize(id, 10), 22u) << "released";
    EXPECT_EQ(UKO_Timer_GetRemaintime(id, &ms), 22u);
    EXPECT_EQ(UKO_Timer_GetRemaintime(id, nullptr), 22u);
}

TEST_F(JqrTimer, DeleteByTaskTakesEveryLiveTimerOfThatTaskOnly) {
    uint32_t mine[3] = {};
    uint32_t other = 0;
    for (uint32_t& id : mine) {
        ASSERT_EQ(UKO_Timer_Create(kTask + 1, 0, 100, Callback, 0, &id, UKO_TIMER_LOOP), 0u);
    }
    ASSERT_EQ(UKO_Timer_Create(kTask + 2, 0, 100, Callback, 0, &other, 0), 0u);
    ASSERT_EQ(UKO_Timer_Pause(mine[1]), 0u);
    UKO_Timer_DeleteByTask(kTask + 1);
    for (uint32_t id : mine) {
        EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE);
    }
    EXPECT_EQ(InfoOf(other).uiState, UKO_RELTMR_TICKING);
    EXPECT_EQ(UKO_Timer_Delete(other), 0u);
    UKO_TIMER_STAT_S* none = nullptr;
    EXPECT_EQ(UKO_Timer_GetTimerStatInfo(none), UKO_TIMER_ERR_NULL_STAT);
}

}  // namespace
