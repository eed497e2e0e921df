// Message timers on a started platform: a task that owns a timer on its own queue is
// woken with the timer event, reads the expiry message and runs the callback itself;
// a queue that is missing refuses the timer; a full queue delays a one-shot message by
// a retry instead of losing it; a loop timer that keeps its messages in the queue
// stays until the owner has acknowledged them.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../base/os_clock_inner.h"
#include "jqr_queue.h"
#include "jqr_task.h"
#include "jqr_timer.h"
#include "os_task.h"
#include "task_test_util.h"
#include "uko_reltmrknl.h"
#include "uko_secfunc.h"
#include "uko_task.h"
#include "vt_test/platform.h"

namespace {

using task_test::WaitFor;

class JqrTimerMsg : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vt_test::PlatformStartOnce(), 0u); }
};

UKO_TIMER_INFO_S InfoOf(uint32_t id) {
    UKO_TIMER_INFO_S info{};
    EXPECT_EQ(UKO_Timer_GetInfo(id, &info), 0u);
    return info;
}

// ---- The owner task's side ---------------------------------------------------------------

struct Owner {
    std::atomic<int> step{0};  // 1 timer made, 2 message run, -1 failure
    std::atomic<uint32_t> timerId{0};
    std::atomic<uint64_t> ranWith{0};
    uint8_t raw[32] = {};
    uint32_t isStoped = 0xFF;
};

std::atomic<uint32_t> g_ranInTask{0};
void RunInOwner(uint64_t arg) {
    g_ranInTask = OS_CurTaskIdGet();
    reinterpret_cast<Owner*>(arg)->ranWith = arg;
}

void OwnerEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* o = reinterpret_cast<Owner*>(a);
    uint32_t queue = 0;
    uint32_t id = 0;
    if (UKO_Queue_Create("TMQ1", 4, 0, &queue) != 0 ||
        UKO_Timer_Create(0, queue, 50, RunInOwner, a, &id, 0) != 0) {
        o->step = -1;
        return;
    }
    o->timerId = id;
    o->step = 1;
    uint32_t got = 0;
    if (UKO_TaskEventRead(UKO_TASK_EVENT_TIMER, 0, 0, &got) != 0 || UKO_Queue_Read(queue, o->raw, 0, 0) != 0) {
        o->step = -1;
        return;
    }
    // The owner's loop: acknowledge, then run the callback the message names.
    UKO_TimerMsg msg;
    std::memcpy(&msg, o->raw, sizeof(msg));
    o->isStoped = UKO_Timer_IsStoped(msg.uiTimerId);
    if (o->isStoped == 0) {
        msg.pfnTimerFunc(msg.uvArg);
    }
    (void)UKO_Queue_Delete(queue);
    o->step = 2;
}

TEST_F(JqrTimerMsg, OwnerTaskIsWokenReadsTheMessageAndRunsTheCallbackItself) {
    static Owner owner;
    const uint64_t args[4] = {reinterpret_cast<uintptr_t>(&owner), 0, 0, 0};
    uint32_t task = 0;
    ASSERT_EQ(UKO_Task_Create("TMO1", 100, 0, 0, args, OwnerEntry, &task), 0u);
    ASSERT_TRUE(WaitFor([] { return owner.step.load() == 2 || owner.step.load() < 0; }));
    ASSERT_EQ(owner.step.load(), 2);
    uint32_t word = 1;
    uint32_t id = 0;
    uint64_t fn = 0;
    uint64_t arg = 0;
    std::memcpy(&word, owner.raw, 4);
    std::memcpy(&id, owner.raw + 4, 4);
    std::memcpy(&fn, owner.raw + 8, 8);
    std::memcpy(&arg, owner.raw + 16, 8);
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(id, owner.timerId.load());
    EXPECT_EQ(fn, reinterpret_cast<uintptr_t>(&RunInOwner));
    EXPECT_EQ(arg, reinterpret_cast<uintptr_t>(&owner));
    EXPECT_EQ(owner.isStoped, 0u);
    EXPECT_EQ(owner.ranWith.load(), arg);
    EXPECT_EQ(g_ranInTask.load(), task) << "the callback ran in the owner, not in TICK";
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE) << "a delivered one-shot is released";
}

// ---- Creation against the queue -----------------------------------------------------------

std::vector<std::string> g_formats;
void KeepFormat(uint32_t, uint16_t, uint16_t, const char*, uint16_t, const char* format) {
    g_formats.emplace_back(format);
}

void Nothing(uint64_t) {}

TEST_F(JqrTimerMsg, AQueueThatDoesNotExistOrATaskThatDoesNotLiveRefusesTheTimer) {
    const uint32_t liveTask = osClockVclkTaskIdGet();
    uint32_t queue = 0;
    ASSERT_EQ(UKO_Queue_Create("TMQ2", 4, 0, &queue), 0u);
    ASSERT_EQ(UKO_Queue_Delete(queue), 0u);
    g_formats.clear();
    ukoErrorRecordObserverSet(KeepFormat);
    uint32_t id = 0;
    EXPECT_EQ(UKO_Timer_Create(liveTask, queue, 100, Nothing, 0, &id, 0), 22u);
    EXPECT_EQ(UKO_Timer_Create(0xFFFFFFF0u, queue, 100, Nothing, 0, &id, 0), 22u);
    ukoErrorRecordObserverSet(nullptr);
    EXPECT_EQ(g_formats, (std::vector<std::string>{"[ZIRPA-%s]:Invalid queue ID(%u).",
                                                   "UKO_Timer_Create:Invalid Task ID %u.\n"}));
}

// ---- A full queue ------------------------------------------------------------------------------

void Idle(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* stop = reinterpret_cast<std::atomic<int>*>(a);
    while (stop->load() == 0) {
        uint32_t got = 0;
        (void)UKO_TaskEventRead(0x1, 0, 50, &got);
    }
    stop->store(2);
}

TEST_F(JqrTimerMsg, AOneShotMessageThatFindsItsQueueFullIsWrittenAgainASecondLater) {
    static std::atomic<int> stop{0};
    const uint64_t args[4] = {reinterpret_cast<uintptr_t>(&stop), 0, 0, 0};
    uint32_t task = 0;
    ASSERT_EQ(UKO_Task_Create("TMO3", 100, 0, 0, args, Idle, &task), 0u);
    uint32_t queue = 0;
    ASSERT_EQ(UKO_Queue_Create("TMQ3", 1, 0, &queue), 0u);
    const uint8_t filler[32] = {0xEE};
    ASSERT_EQ(UKO_Queue_Write(queue, filler, 0, 0), 0u);
    uint32_t id = 0;
    ASSERT_EQ(UKO_Timer_Create(task, queue, 10, Nothing, 7, &id, 0), 0u);
    // Refused by the full queue: placed again with a length of 1000 ms, nothing lost.
    ASSERT_TRUE(WaitFor([&] { return InfoOf(id).uiLenMs == 1000; }));
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_TICKING);
    uint32_t remain = 0;
    ASSERT_EQ(UKO_Timer_GetRemaintime(id, &remain), 0u);
    EXPECT_GT(remain, 500u) << "the retry waits about a second";
    uint8_t buf[32] = {};
    ASSERT_EQ(UKO_Queue_Read(queue, buf, 0, 0), 0u);
    EXPECT_EQ(buf[0], 0xEE);
    uint32_t num = 0;
    ASSERT_TRUE(WaitFor([&] { return UKO_Queue_MsgNumGet(queue, &num) == 0 && num == 1; }, 5000));
    ASSERT_EQ(UKO_Queue_Read(queue, buf, 0, 0), 0u);
    uint32_t gotId = 0;
    std::memcpy(&gotId, buf + 4, 4);
    EXPECT_EQ(gotId, id);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE);
    stop = 1;
    ASSERT_TRUE(WaitFor([] { return stop.load() == 2; }));
    EXPECT_EQ(UKO_Queue_Delete(queue), 0u);
}

TEST_F(JqrTimerMsg, ALoopTimerDeletedWithTwoQueuedMessagesWaitsForBothAcknowledgements) {
    static std::atomic<int> stop{0};
    const uint64_t args[4] = {reinterpret_cast<uintptr_t>(&stop), 0, 0, 0};
    uint32_t task = 0;
    ASSERT_EQ(UKO_Task_Create("TMO4", 100, 0, 0, args, Idle, &task), 0u);
    uint32_t queue = 0;
    ASSERT_EQ(UKO_Queue_Create("TMQ4", 2, 0, &queue), 0u);
    uint32_t id = 0;
    ASSERT_EQ(UKO_Timer_Create(task, queue, 20, Nothing, 0, &id,
                               UKO_TIMER_LOOP | UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE),
              0u);
    uint32_t num = 0;
    ASSERT_TRUE(WaitFor([&] { return UKO_Queue_MsgNumGet(queue, &num) == 0 && num == 2; }));
    ASSERT_EQ(UKO_Timer_Delete(id), 0u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_DELETED);
    uint8_t buf[32];
    ASSERT_EQ(UKO_Queue_Read(queue, buf, 0, 0), 0u);
    EXPECT_EQ(UKO_Timer_IsStoped(id), 1u) << "drop the message: the timer was deleted";
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_DELETED);
    ASSERT_EQ(UKO_Queue_Read(queue, buf, 0, 0), 0u);
    EXPECT_EQ(UKO_Timer_IsStoped(id), 1u);
    EXPECT_EQ(InfoOf(id).uiState, UKO_RELTMR_IDLE) << "released with the last acknowledgement";
    stop = 1;
    ASSERT_TRUE(WaitFor([] { return stop.load() == 2; }));
    EXPECT_EQ(UKO_Queue_Delete(queue), 0u);
}

}  // namespace
