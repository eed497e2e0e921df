// Task events: a 32-bit word per task that any thread may set bits in and only the task
// itself reads, all or any of a set of bits, waiting or not.
//
// A waiting reader leaves the bits it still needs in the still-wanted word and sleeps on
// the task's event semaphore without holding the event lock; writers move the bits it
// needs into the received word as they come and signal the semaphore once, on the write
// that satisfies the read. Bits taken by a read are consumed; bits a timed-out read had
// collected go back into pending.

#include <pthread.h>

#include <atomic>

#include "../base/osal_task_inner.h"
#include "os_sema.h"
#include "osal_lock.h"
#include "uko_task.h"
#include "uko_task_inner.h"

namespace {

constexpr uint32_t kNoReader = 1;  // wait mode while no reader waits

std::atomic<UKO_EVENT_READ_HOOK_PF> g_readHook{nullptr};

bool Satisfied(uint32_t uiGot, uint32_t uiWanted, uint32_t uiMode) {
    if ((uiMode & UKO_EVENT_MODE_ANY) != 0) {
        return (uiGot & uiWanted) != 0;
    }
    return (uiGot & uiWanted) == uiWanted;
}

// A reader cancelled in its wait leaves the word as a timed-out read would: the bits it
// had collected go back into pending and no reader is registered any more.
void ReadCancelled(void* pArg) {
    osalUnwindCleanupEnter();
    auto* cb = static_cast<UKO_TaskCb*>(pArg);
    (void)OSAL_LockLock(&cb->stEventLock);
    --cb->uiWaiterCount;
    cb->uiEventPending |= cb->uiEventReceived;
    cb->uiEventWanted = 0;
    cb->uiEventReceived = 0;
    cb->uiEventMode = kNoReader;
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);
}

}  // namespace

void ukoTaskEventWordsReset(UKO_TaskCb* pstTaskCb) {
    pstTaskCb->uiEventPending = 0;
    pstTaskCb->uiEventWanted = 0;
    pstTaskCb->uiEventReceived = 0;
    pstTaskCb->uiEventMode = kNoReader;
}

uint32_t ukoTaskEventRead(UKO_TaskCb* pstTaskCb, uint32_t uiEvents, uint32_t uiMode,
                          uint32_t uiTimeOutMs, uint32_t* puiReceived) {
    if (puiReceived == nullptr || pstTaskCb == nullptr) {
        return UKO_EINVAL;
    }
    UKO_TaskCb* cb = pstTaskCb;
    (void)OSAL_LockLock(&cb->stEventLock);
    if (uiEvents == 0) {
        *puiReceived = cb->uiEventPending;
        ukoTaskEventWordsReset(cb);
        (void)OSAL_LockUnLock(&cb->stEventLock, 0);
        return 0;
    }
    const uint32_t ready = cb->uiEventPending & uiEvents;
    if ((uiMode & UKO_EVENT_MODE_NOWAIT) != 0) {
        *puiReceived = ready;
        cb->uiEventWanted = 0;
        cb->uiEventMode = kNoReader;
        const bool ok = Satisfied(ready, uiEvents, uiMode);
        if (ok) {
            cb->uiEventPending &= ~ready;
        }
        (void)OSAL_LockUnLock(&cb->stEventLock, 0);
        return ok ? 0 : UKO_EVENT_NOT_SATISFIED;
    }
    if (Satisfied(ready, uiEvents, uiMode)) {
        *puiReceived = ready;
        cb->uiEventPending &= ~ready;
        cb->uiEventWanted = 0;
        cb->uiEventReceived = 0;
        cb->uiEventMode = kNoReader;
        (void)OSAL_LockUnLock(&cb->stEventLock, 0);
        return 0;
    }

    // Register as the waiting reader with what is already there, then sleep without
    // the lock so that writers can get in.
    cb->uiEventReceived = ready;
    cb->uiEventPending &= ~ready;
    cb->uiEventWanted = uiEvents & ~ready;
    cb->uiEventMode = uiMode;
    ++cb->uiWaiterCount;
    void* sem = cb->pEventSem;
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);

    uint32_t rc;
    pthread_cleanup_push(ReadCancelled, cb);
    rc = UKO_SemaP(sem, uiTimeOutMs);
    pthread_cleanup_pop(0);

    (void)OSAL_LockLock(&cb->stEventLock);
    --cb->uiWaiterCount;
    const uint32_t got = cb->uiEventReceived;
    cb->uiEventWanted = 0;
    cb->uiEventReceived = 0;
    cb->uiEventMode = kNoReader;
    *puiReceived = got;
    if (Satisfied(got, uiEvents, uiMode)) {
        cb->uiEventPending &= ~got;
        // The write that completed the set came just as the wait failed: its signal is
        // still on the semaphore and would wake the next read for nothing.
        if (rc != 0) {
            (void)UKO_SemaAsynP(sem);
        }
        (void)OSAL_LockUnLock(&cb->stEventLock, 0);
        return 0;
    }
    cb->uiEventPending |= got;
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);
    return rc != 0 ? rc : UKO_EVENT_NOT_SATISFIED;
}

uint32_t ukoTaskEventWrite(UKO_TaskCb* pstTaskCb, uint32_t uiEvents) {
    if (pstTaskCb == nullptr) {
        return UKO_EINVAL;
    }
    UKO_TaskCb* cb = pstTaskCb;
    (void)OSAL_LockLock(&cb->stEventLock);
    cb->uiEventPending |= uiEvents;
    if ((cb->uiEventMode & kNoReader) != 0) {
        (void)OSAL_LockUnLock(&cb->stEventLock, 0);
        return 0;
    }
    bool wake = false;
    const uint32_t stillWanted = cb->uiEventWanted;
    if (stillWanted != 0) {
        wake = (cb->uiEventMode & UKO_EVENT_MODE_ANY) != 0 ? (uiEvents & stillWanted) != 0
                                                           : (uiEvents & stillWanted) == stillWanted;
    }
    // Bits the reader already holds are not pended twice; the bits it still needs move
    // over to it.
    cb->uiEventPending &= ~(uiEvents & cb->uiEventReceived);
    const uint32_t taken = uiEvents & stillWanted;
    cb->uiEventPending &= ~taken;
    cb->uiEventWanted &= ~taken;
    cb->uiEventReceived |= taken;
    uint32_t rc = 0;
    if (wake) {
        const uint32_t oldWanted = cb->uiEventWanted;
        const uint32_t oldReceived = cb->uiEventReceived;
        const uint32_t oldMode = cb->uiEventMode;
        cb->uiEventMode = kNoReader;
        rc = UKO_SemaV(cb->pEventSem);
        if (rc != 0) {
            cb->uiEventWanted = oldWanted;
            cb->uiEventReceived = oldReceived;
            cb->uiEventMode = oldMode;
        }
    }
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);
    return rc;
}

uint32_t UKO_TaskEventRead(uint32_t uiEvents, uint32_t uiMode, uint32_t uiTimeOutMs,
                           uint32_t* puiReceived) {
    if (puiReceived == nullptr) {
        return UKO_EINVAL;
    }
    // Only a task reads its own events.
    UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
    if (cb == nullptr) {
        return UKO_EINVAL;
    }
    return ukoTaskEventRead(cb, uiEvents, uiMode, uiTimeOutMs, puiReceived);
}

uint32_t UKO_TaskEventWrite(uint32_t uiTaskId, uint32_t uiEvents) {
    if (uiTaskId == UKO_TASK_ID_SELF) {
        UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
        return cb != nullptr ? ukoTaskEventWrite(cb, uiEvents) : UKO_EINVAL;
    }
    return ukoTaskEventWriteById(uiTaskId, uiEvents);
}

uint32_t UKO_Event_Read(uint32_t uiEvents, uint32_t* puiReceived, uint32_t uiFlags,
                        uint32_t uiTimeOutMs) {
    uint32_t mode = 0;
    if ((uiFlags & UKO_EVENT_FLAG_WAIT) == 0) {
        mode |= UKO_EVENT_MODE_NOWAIT;
    }
    if ((uiFlags & UKO_EVENT_FLAG_ANY) != 0) {
        mode |= UKO_EVENT_MODE_ANY;
    }
    const uint32_t rc = UKO_TaskEventRead(uiEvents, mode, uiTimeOutMs, puiReceived);
    UKO_EVENT_READ_HOOK_PF hook = g_readHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook(uiEvents, puiReceived, uiFlags, uiTimeOutMs, rc);
    }
    return rc;
}

uint32_t UKO_Event_Write(uint32_t uiTaskId, uint32_t uiEvents) {
    return UKO_TaskEventWrite(uiTaskId, uiEvents);
}

uint32_t UKO_Event_ReadHookSet(UKO_EVENT_READ_HOOK_PF pfnHook) {
    g_readHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_Event_ReadHookGet(UKO_EVENT_READ_HOOK_PF* ppfnHook) {
    if (ppfnHook != nullptr) {
        *ppfnHook = g_readHook.load(std::memory_order_acquire);
    }
    return 0;
}
