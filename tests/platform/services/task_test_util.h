#pragma once
// Helpers shared by the task tests: waiting for an observed state, a task's event words
// read under its event lock, the system partition's used bytes, and a platform started
// only as far as the task module in a child process of its own.

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>

#include "osal_lock.h"
#include "uko_mempt.h"
#include "uko_mempt_inner.h"
#include "uko_start.h"
#include "uko_task.h"
#include "uko_task_inner.h"
#include "vt_test/child_process.h"

namespace task_test {

using Clock = std::chrono::steady_clock;

// Polls pred until it holds or timeoutMs have passed; the pauses between polls grow
// from 20 microseconds to a millisecond, so a state that comes quickly is seen quickly.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(20);
    while (!pred()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(1000));
    }
    return true;
}

inline uint64_t SysPtUsed() {
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[m_ucSysPtNo];
    (void)OSAL_LockLock(&cb->stLock);
    const uint64_t used = cb->uvUsedSize;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return used;
}

// The task count and the system partition's used bytes at a moment when no ending task
// is still giving things back, to compare with later. A task's id and count are free
// a moment before its event semaphore is; Settled waits for the whole release.
struct Census {
    uint32_t tasks = 0;
    uint64_t used = 0;
    Census() {
        EXPECT_TRUE(WaitFor([] { return ukoTaskReleasesInFlight() == 0; }));
        tasks = UKO_TaskNumGet();
        used = SysPtUsed();
    }
    // The count first: a release is under way before the count goes down.
    bool Settled() const { return UKO_TaskNumGet() == tasks && ukoTaskReleasesInFlight() == 0; }
    bool Back() const { return Settled() && SysPtUsed() == used; }
};

// The event words of a task, as one consistent picture.
struct EventWords {
    uint32_t pending = 0;
    uint32_t wanted = 0;
    uint32_t received = 0;
    uint32_t mode = 0;
    uint32_t waiters = 0;
};

inline EventWords EventWordsOf(uint32_t taskId) {
    EventWords w;
    UKO_TaskCb* cb = UKO_TaskCbGet(taskId);
    if (cb == nullptr) {
        ADD_FAILURE() << "task " << taskId << " has no control block";
        return w;
    }
    (void)OSAL_LockLock(&cb->stEventLock);
    w.pending = cb->uiEventPending;
    w.wanted = cb->uiEventWanted;
    w.received = cb->uiEventReceived;
    w.mode = cb->uiEventMode;
    w.waiters = cb->uiWaiterCount;
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);
    return w;
}

// True while a reader of the task is registered and asleep (or about to sleep).
inline bool ReaderWaiting(uint32_t taskId) {
    EventWords w = EventWordsOf(taskId);
    return w.mode != 1 && w.waiters == 1;
}

// The start-up steps up to the allocation adaptation, which is all the task module
// needs; later steps (which may start tasks and register task hooks of their own) stay
// out of the way.
inline uint32_t StartUpToTasks() {
    size_t count = 0;
    const UKO_START_STEP* steps = ukoStartStepsGet(&count);
    size_t n = 0;
    while (n < count && std::strcmp(steps[n].pcName, "JQR_MemInit") != 0) {
        ++n;
    }
    return ukoStartRun(steps, n < count ? n + 1 : count);
}

// Runs body in a child process of its own against a platform started only as far as
// the task module; a failed expectation in the child fails the test with the child's
// own message.
inline void InFreshPlatform(const std::function<void()>& body, int timeoutMs = 60000) {
    vt_test::ChildResult r = vt_test::RunInChild(
        [&] {
            ASSERT_EQ(StartUpToTasks(), 0u) << "start-up failed";
            body();
        },
        timeoutMs);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

}  // namespace task_test
