#include "uko_queue.h"

#include <pthread.h>

#include <cstring>

#include "../base/osal_task_inner.h"
#include "os_sema.h"
#include "os_task.h"
#include "osal_lock.h"
#include "sec_lib.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_queue_inner.h"
#include "uko_rescb.h"
#include "uko_secfunc.h"
#include "uko_string.h"
#include "uko_systime.h"
#include "uko_tick.h"

#define QUEUE_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_QUEUE, __VA_ARGS__)

namespace {

constexpr uint8_t kStoragePtNo = UKO_QUE_MEM_PTNO;
// The directory covers the first page of control blocks and every page the table can
// add after it.
constexpr uint32_t kMapDirPages =
    (UKO_QUE_PCB_INITNUM + (UKO_RESCB_PAGE_MAX - 1) * UKO_QUE_PCB_NEWPGNUM) /
        UKO_QUEUE_MAP_PAGE_SIZE +
    1;
static_assert(kMapDirPages == 4, "the id map directory holds four pages");

const char kInvalRw[] = "[ZIRPA-%s]:Inval Param QueueId(%d), pBuffer(0x%p), uiLength(%d).";
const char kStarRow[] =
    "\r\n********************************************************************************";
const char kDashRow[] =
    "\r\n--------------------------------------------------------------------------------";

pthread_mutex_t g_moduleLock;
bool g_ready = false;
uint32_t g_tableId = UKO_RESCB_INVALID;
uint32_t g_curNum = 0;      // queues that exist now (module lock)
uint32_t g_createdNum = 0;  // queues created since start-up (module lock)
// The id map: a directory of pages of control-block pointers. Pages and entries are
// published with release stores so that an id resolves without the module lock.
UKO_QueueCb*** g_mapDir = nullptr;
uint32_t g_mapPages = 0;     // pages entered in the directory (module lock)
uint32_t g_idLimit = 0;      // valid ids are 1 to g_idLimit - 1 (atomic access)
uint32_t g_latencyMs = 0;    // 0: latency tracking off
UKO_QUEUE_LATENCY_HOOK_PF g_latencyHook = nullptr;
UKO_QUEUE_WAKE_HOOK_PF g_wakeHook = nullptr;
UKO_QUEUE_TICK_PF g_tickSource = nullptr;

void* SysAlloc(uint64_t uvSize) { return UKO_MemAlloc(0, 0, uvSize); }

void CbLock(UKO_QueueCb* pstCb) { (void)OSAL_LockLock(&pstCb->stLock); }
void CbUnlock(UKO_QueueCb* pstCb) { (void)OSAL_LockUnLock(&pstCb->stLock, 0); }

uint8_t* SlotAddr(const UKO_QueueCb* pstCb, uint32_t uiSlot) {
    return pstCb->pucMsgStart +
           static_cast<uint64_t>(uiSlot) * (static_cast<uint64_t>(pstCb->uiMaxMsgSize) + UKO_QUEUE_SLOT_HEAD);
}

// The tick count as one 64-bit value: a wait that spans the wrap of the low word must
// still see how much time went by.
uint64_t TickNow() {
    UKO_QUEUE_TICK_PF source = __atomic_load_n(&g_tickSource, __ATOMIC_ACQUIRE);
    if (source != nullptr) {
        return source();
    }
    uint32_t high = 0;
    uint32_t low = 0;
    (void)UKO_TickGet(&high, &low);
    return (static_cast<uint64_t>(high) << 32) | low;
}

uint64_t TicksToMs(uint64_t uvTicks) {
    uint32_t msHigh = 0;
    uint32_t msLow = 0;
    if (UKO_Tick2Ms(static_cast<uint32_t>(uvTicks >> 32), static_cast<uint32_t>(uvTicks), &msHigh,
                    &msLow) != 0) {
        return UINT64_MAX;
    }
    return (static_cast<uint64_t>(msHigh) << 32) | msLow;
}

uint32_t MapEntryGet(uint32_t uiQueueId, UKO_QueueCb*** pppstSlot) {
    const uint32_t index = uiQueueId - 1;
    const uint32_t page = index / UKO_QUEUE_MAP_PAGE_SIZE;
    if (g_mapDir == nullptr || page >= kMapDirPages) {
        return UKO_EINVAL;
    }
    UKO_QueueCb** entries = __atomic_load_n(&g_mapDir[page], __ATOMIC_ACQUIRE);
    if (entries == nullptr) {
        return UKO_EINVAL;
    }
    *pppstSlot = &entries[index % UKO_QUEUE_MAP_PAGE_SIZE];
    return 0;
}

// Wakes one task waiting on the semaphore. Called with the control-block lock held:
// the woken task cannot finish a deletion, and so free the semaphore, before the
// signal is complete.
void Wake(UKO_QueueCb* pstCb, uint32_t uiQueueId, bool bRead) {
    UKO_QUEUE_WAKE_HOOK_PF hook = __atomic_load_n(&g_wakeHook, __ATOMIC_ACQUIRE);
    if (hook != nullptr) {
        hook(uiQueueId, bRead ? 1 : 0);
    }
    (void)UKO_SemaV(bRead ? pstCb->pReadSema : pstCb->pWriteSema);
}

// The last step of a deletion, run by the deleting task or by the last task that was
// blocked on the queue; nobody waits on the semaphores any more.
void DeleteFinish(UKO_QueueCb* pstCb, uint32_t uiQueueId) {
    CbLock(pstCb);
    void* readSema = pstCb->pReadSema;
    void* writeSema = pstCb->pWriteSema;
    uint8_t* storage = pstCb->pucMsgStart;
    pstCb->pReadSema = nullptr;
    pstCb->pWriteSema = nullptr;
    pstCb->pucMsgStart = nullptr;
    pstCb->pTraceRecord = nullptr;
    pstCb->pHookData = nullptr;
    CbUnlock(pstCb);
    if (readSema != nullptr) {
        (void)UKO_SemaDelete(readSema);
    }
    if (writeSema != nullptr) {
        (void)UKO_SemaDelete(writeSema);
    }
    (void)OSAL_LockLock(&g_moduleLock);
    (void)UKO_RescbFree(g_tableId, uiQueueId);
    ukoQueueStateSet(pstCb, UKO_QUEUE_STATE_FREE);
    --g_curNum;
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    if (storage != nullptr) {
        (void)UKO_MemFree(0, storage);
    }
}

// A blocked task woke to find its queue being deleted: pass the wake-up on to the next
// blocked task, or, as the last one, complete the deletion. Entered with the lock held;
// returns with it released.
uint32_t HandOn(UKO_QueueCb* pstCb, uint32_t uiQueueId, bool bReader, const char* pcFn) {
    bool last = false;
    if (bReader) {
        if (pstCb->sReadersBlocked > 0) {
            Wake(pstCb, uiQueueId, true);
        } else if (pstCb->sWritersBlocked > 0) {
            Wake(pstCb, uiQueueId, false);
        } else {
            last = true;
        }
    } else {
        if (pstCb->sWritersBlocked > 0) {
            Wake(pstCb, uiQueueId, false);
        } else if (pstCb->sReadersBlocked > 0) {
            Wake(pstCb, uiQueueId, true);
        } else {
            last = true;
        }
    }
    char name[UKO_QUEUE_NAME_LEN];
    std::memcpy(name, pstCb->acName, sizeof(name));
    CbUnlock(pstCb);
    if (last) {
        DeleteFinish(pstCb, uiQueueId);
    }
    return QUEUE_REPORT(UKO_QueueDeletedErr, "[ZIRPA-%s]:QueueName(%s), QueueId(%d), has been deleted!",
                        pcFn, name, uiQueueId);
}

// A task cancelled while it sleeps in a queue wait (UKO_TaskDelete of a reader or
// writer) leaves through this instead of the code after UKO_SemaP: without it the queue
// would count the task as blocked for ever, and a later delete would wait on it and
// never give the queue back.
struct WaitCancelCtx {
    UKO_QueueCb* pstCb;
    uint32_t uiQueueId;
    bool bReader;
};

void WaitCancelled(void* pvCtx) {
    osalUnwindCleanupEnter();
    const WaitCancelCtx* ctx = static_cast<const WaitCancelCtx*>(pvCtx);
    UKO_QueueCb* pstCb = ctx->pstCb;
    int16_t* blocked = ctx->bReader ? &pstCb->sReadersBlocked : &pstCb->sWritersBlocked;
    int16_t* toWake = ctx->bReader ? &pstCb->sReadersToWake : &pstCb->sWritersToWake;
    uint32_t* blockedTask = ctx->bReader ? &pstCb->uiReadBlockedTask : &pstCb->uiWriteBlockedTask;
    CbLock(pstCb);
    if (--*blocked == 0) {
        *blockedTask = 0;
    }
    if (ukoQueueStateGet(pstCb) == UKO_QUEUE_STATE_DELETING) {
        // The delete may have signalled this very task: pass the wake-up on, or finish
        // the deletion as the last one out.
        (void)HandOn(pstCb, ctx->uiQueueId, ctx->bReader, "QueueWait");
        return;
    }
    // As after a time-out: a signal that raced the cancel stays in the semaphore's count
    // and is taken by the next waiter.
    --*toWake;
    CbUnlock(pstCb);
}

// Waits until the queue is no longer empty (reader) or full (writer). Entered with the
// lock held; returns 0 with the lock still held, anything else with it released. The
// task counts itself as waiting under the lock before it releases it, so a writer
// (reader) that changes the queue afterwards sees it and signals.
uint32_t WaitForRoom(UKO_QueueCb* pstCb, uint32_t uiQueueId, uint32_t uiTimeOutMs, uint32_t uiSelf,
                     bool bReader, const char* pcFn) {
    uint32_t remaining = uiTimeOutMs;
    uint64_t prevStamp = 0;
    bool stamped = false;
    int16_t* toWake = bReader ? &pstCb->sReadersToWake : &pstCb->sWritersToWake;
    int16_t* blocked = bReader ? &pstCb->sReadersBlocked : &pstCb->sWritersBlocked;
    uint32_t* blockedTask = bReader ? &pstCb->uiReadBlockedTask : &pstCb->uiWriteBlockedTask;
    uint32_t* timeouts = bReader ? &pstCb->uiReadTimeouts : &pstCb->uiWriteTimeouts;
    const UKO_ERRCODE timeoutErr = bReader ? UKO_QueueReadTimeoutErr : UKO_QueueWriteTimeoutErr;
    for (;;) {
        const uint32_t count = ukoQueueCountGet(pstCb);
        if (bReader ? count != 0 : count != pstCb->uiMaxMsgs) {
            return 0;
        }
        if (remaining != 0) {
            const uint64_t now = TickNow();
            if (stamped) {
                const uint64_t elapsed = TicksToMs(now - prevStamp);
                if (remaining <= elapsed) {
                    ++*timeouts;
                    CbUnlock(pstCb);
                    (void)UKO_ErrnoSet(timeoutErr);
                    return timeoutErr;
                }
                remaining -= static_cast<uint32_t>(elapsed);
            }
            prevStamp = now;
            stamped = true;
        }
        ++*toWake;
        ++*blocked;
        *blockedTask = uiSelf;
        void* sema = bReader ? pstCb->pReadSema : pstCb->pWriteSema;
        CbUnlock(pstCb);

        uint32_t rc = 0;
        WaitCancelCtx cancelCtx = {pstCb, uiQueueId, bReader};
        pthread_cleanup_push(WaitCancelled, &cancelCtx);
        rc = UKO_SemaP(sema, remaining);
        pthread_cleanup_pop(0);

        CbLock(pstCb);
        if (--*blocked == 0) {
            *blockedTask = 0;
        }
        if (ukoQueueStateGet(pstCb) == UKO_QUEUE_STATE_DELETING) {
            return HandOn(pstCb, uiQueueId, bReader, pcFn);
        }
        if (rc != 0) {
            --*toWake;
            if (rc == UKO_ETIMEDOUT) {
                ++*timeouts;
                CbUnlock(pstCb);
                (void)UKO_ErrnoSet(timeoutErr);
                return timeoutErr;
            }
            char name[UKO_QUEUE_NAME_LEN];
            std::memcpy(name, pstCb->acName, sizeof(name));
            CbUnlock(pstCb);
            return QUEUE_REPORT(rc,
                                bReader ? "[ZIRPA-%s]:QueueName(%s), QueueId(%d), SemaP readSema4(0x%p) fail."
                                        : "[ZIRPA-%s]:QueueName(%s), QueueId(%d), SemaP writeSema4(0x%p) fail.",
                                pcFn, name, uiQueueId, sema);
        }
        // Another task may have taken the message (or the room) first: look again.
    }
}

void NameForShow(const char* pcName, char* pcOut) {
    size_t i = 0;
    for (; i + 1 < UKO_QUEUE_NAME_LEN && pcName[i] != '\0'; ++i) {
        const char c = pcName[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_';
        pcOut[i] = plain ? c : ' ';
    }
    pcOut[i] = '\0';
}

int32_t NotBelowZero(int16_t sValue) { return sValue < 0 ? 0 : sValue; }

void ShowAll(uint32_t uiTarget) {
    (void)UKO_ShowPrint(uiTarget, kStarRow);
    (void)OSAL_LockLock(&g_moduleLock);
    const uint32_t cur = g_curNum;
    const uint32_t created = g_createdNum;
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "Current Queue Count", cur);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "Total Created Count", created);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "Default Queue Size", UKO_DEFAULT_QUEUE_SIZE);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "Queue Num In The First Page",
                        UKO_QUE_PCB_INITNUM);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "Queue Num In New created Page",
                        UKO_QUE_PCB_NEWPGNUM);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-44s= %u ", "The Mem PtNo of Queue Use",
                        static_cast<uint32_t>(kStoragePtNo));
    if (cur == 0) {
        (void)OSAL_LockUnLock(&g_moduleLock, 0);
        (void)UKO_ShowPrint(uiTarget, kStarRow);
        return;
    }
    (void)UKO_ShowPrint(uiTarget, kDashRow);
    (void)UKO_ShowPrint(uiTarget,
                        "\r\nQID   QueMode  TotLen   CurLen   MaxSize    Block       Block     Name");
    (void)UKO_ShowPrint(uiTarget, "\r\n%44sTaskId(W)   TaskId(R)", "");
    (void)UKO_ShowPrint(uiTarget, kDashRow);
    const uint32_t limit = __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE);
    for (uint32_t id = 1; id < limit; ++id) {
        UKO_QueueCb* cb = ukoQueueCbGet(id);
        if (cb == nullptr) {
            continue;
        }
        CbLock(cb);
        if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
            CbUnlock(cb);
            continue;
        }
        const uint32_t mode = cb->usMode;
        const uint32_t maxMsgs = cb->uiMaxMsgs;
        const uint32_t count = ukoQueueCountGet(cb);
        const uint32_t size = cb->uiMaxMsgSize;
        const int32_t writeBlocked = static_cast<int32_t>(cb->uiWriteBlockedTask);
        const int32_t readBlocked = static_cast<int32_t>(cb->uiReadBlockedTask);
        char name[UKO_QUEUE_NAME_LEN];
        NameForShow(cb->acName, name);
        CbUnlock(cb);
        (void)UKO_ShowPrint(uiTarget, "\r\n%-6u%-9s%-8u %-8u %-10u%-11d %-9d  %s", id,
                            ukoQueueModeName(mode), maxMsgs, count, size, writeBlocked, readBlocked,
                            name);
    }
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    (void)UKO_ShowPrint(uiTarget, kStarRow);
}

void ShowOne(uint32_t uiQueueId, const UKO_QueueCb* pstCb, uint32_t uiTarget) {
    char name[UKO_QUEUE_NAME_LEN];
    NameForShow(pstCb->acName, name);
    const uint32_t used =
        pstCb->uiMaxMsgs == 0
            ? 0
            : static_cast<uint32_t>(static_cast<uint64_t>(pstCb->uiCount) * 100 / pstCb->uiMaxMsgs);
    const UKO_Systime& peak = pstCb->stPeakTime;
    (void)UKO_ShowPrint(uiTarget, kStarRow);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Queue ID", uiQueueId);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %s", "Queue Name", name);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %s", "Queue Mode", ukoQueueModeName(pstCb->usMode));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %s", "Queue Trace Switch",
                        pstCb->usTraceSwitch != 0 ? "True" : "Fasle");
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Total Length", pstCb->uiMaxMsgs);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Current Length", pstCb->uiCount);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u%%", "Used Percent", used);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Max Msg Size", pstCb->uiMaxMsgSize);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %p", "Queue Msg Start Addr",
                        static_cast<void*>(pstCb->pucMsgStart));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Queue Msg Head Index", pstCb->uiHead);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Queue Msg Tail Index", pstCb->uiTail);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Total Write Count", pstCb->uiWriteCount);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Total Read Count", pstCb->uiReadCount);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u (Asy Write)", "Write Count For Msg Full",
                        pstCb->uiFullCount);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u (Syn Write)", "Write Count For Time Out",
                        pstCb->uiWriteTimeouts);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u (Asy Read)", "Read Count For No Msg",
                        pstCb->uiEmptyCount);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u (Syn Read)", "Read Count For Time Out",
                        pstCb->uiReadTimeouts);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d", "Count Of Waiting To Write",
                        NotBelowZero(pstCb->sWritersToWake));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d", "Count Of Waiting To Read",
                        NotBelowZero(pstCb->sReadersToWake));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d (0 For None)", "Task ID Created This Queue",
                        static_cast<int32_t>(pstCb->uiCreator));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d (0 For None)", "Task ID Last-Readed-OK",
                        static_cast<int32_t>(pstCb->uiLastReader));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d (0 For None)", "Task ID Last-Writed-OK",
                        static_cast<int32_t>(pstCb->uiLastWriter));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d (0 For None)", "Task ID Writing-Blocked",
                        static_cast<int32_t>(pstCb->uiWriteBlockedTask));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %d (0 For None)", "Task ID Reading-Blocked",
                        static_cast<int32_t>(pstCb->uiReadBlockedTask));
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %u", "Peak Length", pstCb->uiPeakLen);
    (void)UKO_ShowPrint(uiTarget, "\r\n %-29s= %04d.%02d.%02d %02d:%02d:%02d[LMT]", "Peak Time",
                        peak.usYear, peak.ucMonth, peak.ucDate, peak.ucHour, peak.ucMinute,
                        peak.ucSecond);
    (void)UKO_ShowPrint(uiTarget, kStarRow);
}

void ShowHelp(uint32_t uiTarget) {
    (void)UKO_ShowPrint(uiTarget, kStarRow);
    (void)UKO_ShowPrint(uiTarget,
                        "\r\nInvalid QueueID,show queue info usage help of parameter QueueID:");
    (void)UKO_ShowPrint(uiTarget, "\r\n 0         : show brief info of all queues");
    (void)UKO_ShowPrint(uiTarget, "\r\n QueueID   : show detail info of special queue");
    (void)UKO_ShowPrint(uiTarget, "\r\n 0xffffffff: show the help info");
    (void)UKO_ShowPrint(uiTarget, kStarRow);
}

}  // namespace

// ---- Inner operations ------------------------------------------------------------------

UKO_QueueCb* ukoQueueCbGet(uint32_t uiQueueId) {
    if (uiQueueId == 0 || uiQueueId >= __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE)) {
        return nullptr;
    }
    UKO_QueueCb** slot = nullptr;
    if (MapEntryGet(uiQueueId, &slot) != 0) {
        return nullptr;
    }
    return __atomic_load_n(slot, __ATOMIC_ACQUIRE);
}

uint32_t ukoQueueIdLimitGet() { return __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE); }
uint32_t ukoQueueTableIdGet() { return g_tableId; }
uint32_t ukoQueueMapPageNumGet() {
    (void)OSAL_LockLock(&g_moduleLock);
    const uint32_t pages = g_mapPages;
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    return pages;
}

void ukoQueueModuleLock() { (void)OSAL_LockLock(&g_moduleLock); }
void ukoQueueModuleUnlock() { (void)OSAL_LockUnLock(&g_moduleLock, 0); }

uint32_t ukoQueueConfigCheck(uint32_t uiDefaultSize, uint32_t uiInitNum, uint32_t uiNewPageNum) {
    if (uiDefaultSize == 0) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:the config UKO_DEFAULT_QUEUE_SIZE is zero.",
                            __func__);
    }
    if (uiInitNum == 0) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:the config UKO_QUE_PCB_INITNUM is 0.", __func__);
    }
    if (uiNewPageNum > 4096) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:the config UKO_QUE_PCB_NEWPGNUM(%u) is too big.",
                            __func__, uiNewPageNum);
    }
    return 0;
}

void ukoQueueLatencyThresholdSet(uint32_t uiMs) { __atomic_store_n(&g_latencyMs, uiMs, __ATOMIC_RELEASE); }

void ukoQueueTickSourceSet(UKO_QUEUE_TICK_PF pfnTick) {
    __atomic_store_n(&g_tickSource, pfnTick, __ATOMIC_RELEASE);
}

void ukoQueueWakeHookSet(UKO_QUEUE_WAKE_HOOK_PF pfnHook) {
    __atomic_store_n(&g_wakeHook, pfnHook, __ATOMIC_RELEASE);
}

const char* ukoQueueModeName(uint32_t uiMode) {
    if ((uiMode & (UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN)) ==
        (UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN)) {
        return "FIFO|SYN";
    }
    if ((uiMode & (UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_SYN)) ==
        (UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_SYN)) {
        return "PRIO|SYN";
    }
    if ((uiMode & (UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_ASY)) ==
        (UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_ASY)) {
        return "FIFO|ASY";
    }
    if ((uiMode & (UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_ASY)) ==
        (UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_ASY)) {
        return "PRIO|ASY";
    }
    return "ERROR";
}

// ---- Start-up ----------------------------------------------------------------------------

uint32_t ukoQueueInit(uint32_t /*uiArg*/) {
    if (g_ready) {
        return 0;
    }
    g_curNum = 0;
    g_createdNum = 0;
    uint32_t rc = ukoQueueConfigCheck(UKO_DEFAULT_QUEUE_SIZE, UKO_QUE_PCB_INITNUM, UKO_QUE_PCB_NEWPGNUM);
    if (rc != 0) {
        return rc;
    }
    rc = OSAL_LockCreate(&g_moduleLock);
    if (rc != 0) {
        return QUEUE_REPORT(rc, "[ZIRPA-%s]:OSAL_LockCreate fail.", __func__);
    }
    rc = UKO_RescbTableCreate(sizeof(UKO_QueueCb), UKO_QUE_PCB_INITNUM, UKO_QUE_PCB_NEWPGNUM,
                              ukoQueueRcbAppend, &g_tableId);
    if (rc != 0) {
        (void)OSAL_LockDelete(&g_moduleLock);
        return QUEUE_REPORT(rc, "[ZIRPA-%s]:UKO_RescbTableCreate fail.", __func__);
    }
    const uint64_t dirSize = sizeof(UKO_QueueCb**) * kMapDirPages;
    auto* dir = static_cast<UKO_QueueCb***>(SysAlloc(dirSize));
    if (dir == nullptr) {
        (void)UKO_RescbTableDestroy(g_tableId);
        (void)OSAL_LockDelete(&g_moduleLock);
        return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%u) for Queue CB array fail.", __func__,
                            static_cast<uint32_t>(dirSize));
    }
    std::memset(dir, 0, dirSize);
    const uint64_t pageSize = sizeof(UKO_QueueCb*) * UKO_QUEUE_MAP_PAGE_SIZE;
    auto* page = static_cast<UKO_QueueCb**>(SysAlloc(pageSize));
    if (page == nullptr) {
        (void)UKO_MemFree(0, dir);
        (void)UKO_RescbTableDestroy(g_tableId);
        (void)OSAL_LockDelete(&g_moduleLock);
        return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%ld) for Queue CB fail.", __func__,
                            static_cast<long>(pageSize));
    }
    std::memset(page, 0, pageSize);
    dir[0] = page;
    g_mapPages = 1;
    g_mapDir = dir;
    __atomic_store_n(&g_idLimit, UKO_QUE_PCB_INITNUM + 1, __ATOMIC_RELEASE);
    g_ready = true;
    return 0;
}

uint32_t ukoQueueRcbAppend(uint32_t uiAppendNum) {
    // Runs inside a create, under the module lock.
    const uint32_t limit = __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE);
    const uint64_t newLimit = static_cast<uint64_t>(limit) + uiAppendNum;
    const uint64_t mapped = static_cast<uint64_t>(g_mapPages) * UKO_QUEUE_MAP_PAGE_SIZE;
    if (newLimit - 1 > mapped) {
        const uint32_t pages = (uiAppendNum + UKO_QUEUE_MAP_PAGE_SIZE - 1) / UKO_QUEUE_MAP_PAGE_SIZE;
        const uint64_t size = static_cast<uint64_t>(pages) * UKO_QUEUE_MAP_PAGE_SIZE * sizeof(UKO_QueueCb*);
        if (g_mapPages + pages > kMapDirPages) {
            return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%lu) for Append (%u) Queue CB fail.",
                                __func__, static_cast<unsigned long>(size), uiAppendNum);
        }
        auto* block = static_cast<UKO_QueueCb**>(SysAlloc(size));
        if (block == nullptr) {
            return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%lu) for Append (%u) Queue CB fail.",
                                __func__, static_cast<unsigned long>(size), uiAppendNum);
        }
        std::memset(block, 0, size);
        for (uint32_t i = 0; i < pages; ++i) {
            __atomic_store_n(&g_mapDir[g_mapPages + i], block + i * UKO_QUEUE_MAP_PAGE_SIZE,
                             __ATOMIC_RELEASE);
        }
        g_mapPages += pages;
    }
    __atomic_store_n(&g_idLimit, static_cast<uint32_t>(newLimit), __ATOMIC_RELEASE);
    return 0;
}

// ---- Create and delete ----------------------------------------------------------------------

uint32_t QUE_CommonCreate(const char* pscName, uint32_t uiMaxMsgs, uint32_t* puiQueueId,
                          uint32_t uiMode, uint32_t uiMaxMsgSize) {
    if (puiQueueId == nullptr || uiMaxMsgSize == 0) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pQueueId(0x%p), uiMaxMsgSize(%d).",
                            __func__, static_cast<void*>(puiQueueId), uiMaxMsgSize);
    }
    if (pscName == nullptr) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pscName is null.", __func__);
    }
    if (!g_ready) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%d).", __func__, 0);
    }
    if (uiMaxMsgs == 0) {
        uiMaxMsgs = UKO_DEFAULT_QUEUE_SIZE;
    }
    if (uiMaxMsgSize >= UKO_QUEUE_MSG_SIZE_LIMIT) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:pscName(%s), the Param uiMaxMsgSize(%d) is too big!",
                            __func__, pscName, uiMaxMsgSize);
    }
    // In 64 bits: a product beyond 32 bits must be refused, not wrapped into a small block.
    const uint64_t storageSize =
        static_cast<uint64_t>(uiMaxMsgs) * (static_cast<uint64_t>(uiMaxMsgSize) + UKO_QUEUE_SLOT_HEAD);
    if (storageSize > UKO_QUEUE_STORAGE_MAX) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:pscName(%s), the Param uiLength(%d) is too big!",
                            __func__, pscName, static_cast<uint32_t>(storageSize));
    }
    auto* storage = static_cast<uint8_t*>(
        UKO_MemAlloc_F(0, kStoragePtNo, storageSize, "uko_queue", static_cast<uint32_t>(__LINE__)));
    if (storage == nullptr) {
        return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:pscName(%s), UKO_MemAlloc_F(%d) fail.", __func__,
                            pscName, static_cast<uint32_t>(storageSize));
    }

    (void)OSAL_LockLock(&g_moduleLock);
    void* block = nullptr;
    const uint32_t id = UKO_RescbAlloc(g_tableId, &block);
    if (id == UKO_RESCB_INVALID) {
        (void)OSAL_LockUnLock(&g_moduleLock, 0);
        (void)UKO_MemFree(0, storage);
        return QUEUE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:pscName(%s), UKO_RescbAlloc(%d, 0x%p) fail.",
                            __func__, pscName, g_tableId, static_cast<void*>(&block));
    }
    ++g_curNum;
    ++g_createdNum;
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    auto* cb = static_cast<UKO_QueueCb*>(block);

    UKO_QueueCb** slot = nullptr;
    uint32_t rc = MapEntryGet(id, &slot);
    if (rc == 0 && __atomic_load_n(slot, __ATOMIC_ACQUIRE) == nullptr) {
        // First use of this block: its lock is made once and kept for every later queue
        // in the block, because a task holding a stale id may still take it.
        std::memset(static_cast<void*>(cb), 0, sizeof(*cb));
        rc = OSAL_LockCreate(&cb->stLock);
        if (rc == 0) {
            __atomic_store_n(slot, cb, __ATOMIC_RELEASE);
        }
    }
    const uint32_t self = OS_CurTaskIdGet();
    if (rc == 0) {
        CbLock(cb);
        (void)strncpy_s(cb->acName, sizeof(cb->acName), pscName, UKO_QUEUE_NAME_LEN - 1);
        cb->acName[UKO_QUEUE_NAME_LEN - 1] = '\0';
        cb->usMode = static_cast<uint16_t>(uiMode);
        cb->uiMaxMsgs = uiMaxMsgs;
        cb->uiMaxMsgSize = uiMaxMsgSize;
        cb->usTraceSwitch = 0;
        cb->pucMsgStart = storage;
        cb->uiHead = 0;
        cb->uiTail = 0;
        ukoQueueCountSet(cb, 0);
        cb->uiLastReader = 0;
        cb->uiLastWriter = 0;
        cb->uiWriteCount = 0;
        cb->uiReadCount = 0;
        cb->uiFullCount = 0;
        cb->uiEmptyCount = 0;
        cb->uiWriteTimeouts = 0;
        cb->uiReadTimeouts = 0;
        cb->sReadersToWake = 0;
        cb->sReadersBlocked = 0;
        cb->sWritersToWake = 0;
        cb->sWritersBlocked = 0;
        cb->uiPeakLen = 0;
        std::memset(&cb->stPeakTime, 0, sizeof(cb->stPeakTime));
        cb->uiCreator = self;
        cb->uiReadBlockedTask = 0;
        cb->uiWriteBlockedTask = 0;
        cb->pTraceRecord = nullptr;
        cb->pHookData = nullptr;
        cb->uiLatencyStamp = 0;
        cb->pReadSema = nullptr;
        cb->pWriteSema = nullptr;
        const bool fifo = (uiMode & UKO_QUEUE_MODE_FIFO) != 0;
        cb->usWaiterOrder = fifo ? 0 : 1;
        if ((uiMode & UKO_QUEUE_MODE_SYN) != 0) {
            const uint32_t semaFlag = fifo ? 1 : 2;
            rc = UKO_SemaCCreate(cb->acName, 0, semaFlag, &cb->pReadSema);
            if (rc == 0) {
                rc = UKO_SemaCCreate(cb->acName, 0, semaFlag, &cb->pWriteSema);
                if (rc != 0) {
                    (void)UKO_SemaDelete(cb->pReadSema);
                    cb->pReadSema = nullptr;
                }
            }
        }
        if (rc == 0) {
            ukoQueueStateSet(cb, UKO_QUEUE_STATE_USED);
        } else {
            cb->pucMsgStart = nullptr;
        }
        CbUnlock(cb);
    }
    if (rc != 0) {
        // The block goes back with its lock and map entry kept for reuse; the count of
        // created queues keeps its increment.
        (void)OSAL_LockLock(&g_moduleLock);
        (void)UKO_RescbFree(g_tableId, id);
        --g_curNum;
        (void)OSAL_LockUnLock(&g_moduleLock, 0);
        (void)UKO_MemFree(0, storage);
        (void)UKO_ErrnoSet(rc);
        return rc;
    }
    *puiQueueId = id;
    return 0;
}

uint32_t UKO_QueueCreate(const char* pscName, uint32_t uiMaxMsgs, uint32_t* puiQueueId,
                         uint32_t uiFlags, uint32_t uiMaxMsgSize) {
    if (uiFlags == 0) {
        return QUE_CommonCreate(pscName, uiMaxMsgs, puiQueueId,
                                UKO_QUEUE_MODE_FIFO | UKO_QUEUE_MODE_SYN, uiMaxMsgSize);
    }
    if (uiFlags == 1) {
        return QUE_CommonCreate(pscName, uiMaxMsgs, puiQueueId,
                                UKO_QUEUE_MODE_PRIO | UKO_QUEUE_MODE_SYN, uiMaxMsgSize);
    }
    return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param uiFlags(%d).", __func__, uiFlags);
}

uint32_t UKO_QueueDelete(uint32_t uiQueueId) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%d).", __func__, uiQueueId);
    }
    CbLock(cb);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%d).", __func__, uiQueueId);
    }
    ukoQueueStateSet(cb, UKO_QUEUE_STATE_DELETING);
    if ((cb->usMode & UKO_QUEUE_MODE_SYN) != 0) {
        // Blocked tasks finish the deletion: each woken one wakes the next, the last
        // one frees what the queue holds.
        if (cb->sReadersBlocked > 0) {
            Wake(cb, uiQueueId, true);
            CbUnlock(cb);
            return 0;
        }
        if (cb->sWritersBlocked > 0) {
            Wake(cb, uiQueueId, false);
            CbUnlock(cb);
            return 0;
        }
    }
    CbUnlock(cb);
    DeleteFinish(cb, uiQueueId);
    return 0;
}

// ---- Read and write ---------------------------------------------------------------------------

uint32_t QUE_CommonWrite(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                         uint32_t uiWaitMode, uint32_t uiTimeOutMs, uint32_t uiPosition) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr || pBuffer == nullptr || uiLength == 0) {
        return QUEUE_REPORT(UKO_EINVAL, kInvalRw, __func__, uiQueueId, pBuffer, uiLength);
    }
    const uint32_t self = OS_CurTaskIdGet();
    CbLock(cb);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, kInvalRw, __func__, uiQueueId, pBuffer, uiLength);
    }
    ++cb->uiWriteCount;
    if (uiLength > cb->uiMaxMsgSize) {
        char name[UKO_QUEUE_NAME_LEN];
        std::memcpy(name, cb->acName, sizeof(name));
        const uint32_t size = cb->uiMaxMsgSize;
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL,
                            "[ZIRPA-%s]:QueueName(%s), QueueId(%d), uiMaxMsgSize(%d), the Param "
                            "uiLength(%d) is too long! ",
                            __func__, name, uiQueueId, size, uiLength);
    }
    if (uiWaitMode == UKO_QUEUE_NO_WAIT) {
        if (ukoQueueCountGet(cb) == cb->uiMaxMsgs) {
            ++cb->uiFullCount;
            CbUnlock(cb);
            (void)UKO_ErrnoSet(UKO_QueueFullErr);
            return UKO_QueueFullErr;
        }
    } else {
        if ((cb->usMode & UKO_QUEUE_MODE_SYN) == 0) {
            char name[UKO_QUEUE_NAME_LEN];
            std::memcpy(name, cb->acName, sizeof(name));
            CbUnlock(cb);
            return QUEUE_REPORT(UKO_EINVAL,
                                "[ZIRPA-%s]:strName(%s), QueueId(%d), QueueMode is asy, syn write is "
                                "inhibitive.",
                                __func__, name, uiQueueId);
        }
        const uint32_t rc = WaitForRoom(cb, uiQueueId, uiTimeOutMs, self, false, __func__);
        if (rc != 0) {
            return rc;
        }
    }
    uint32_t slot;
    if (uiPosition == UKO_QUEUE_URGENT) {
        cb->uiHead = cb->uiHead == 0 ? cb->uiMaxMsgs - 1 : cb->uiHead - 1;
        slot = cb->uiHead;
    } else {
        slot = cb->uiTail;
        cb->uiTail = cb->uiTail + 1 == cb->uiMaxMsgs ? 0 : cb->uiTail + 1;
    }
    uint8_t* dst = SlotAddr(cb, slot);
    std::memcpy(dst + UKO_QUEUE_SLOT_HEAD, pBuffer, uiLength);
    std::memcpy(dst, &uiLength, sizeof(uiLength));
    const uint32_t count = ukoQueueCountGet(cb);
    if (count == 0 && __atomic_load_n(&g_latencyMs, __ATOMIC_ACQUIRE) != 0) {
        (void)UKO_TickLowGet(&cb->uiLatencyStamp);
    }
    ukoQueueCountSet(cb, count + 1);
    cb->uiLastWriter = self;
    if (count + 1 > cb->uiPeakLen) {
        cb->uiPeakLen = count + 1;
        (void)UKO_SystimeGet(&cb->stPeakTime);
    }
    if (cb->sReadersToWake > 0) {
        --cb->sReadersToWake;
        Wake(cb, uiQueueId, true);
    }
    CbUnlock(cb);
    return 0;
}

uint32_t UKO_QueueWriteAsy(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength) {
    return QUE_CommonWrite(uiQueueId, pBuffer, uiLength, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_NORMAL);
}

uint32_t UKO_QueueWriteSyn(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                           uint32_t uiTimeOutMs) {
    return QUE_CommonWrite(uiQueueId, pBuffer, uiLength, UKO_QUEUE_WAIT, uiTimeOutMs,
                           UKO_QUEUE_NORMAL);
}

uint32_t UKO_QueueWriteUrgentAsy(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength) {
    return QUE_CommonWrite(uiQueueId, pBuffer, uiLength, UKO_QUEUE_NO_WAIT, 0, UKO_QUEUE_URGENT);
}

uint32_t UKO_QueueWriteUrgentSyn(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                                 uint32_t uiTimeOutMs) {
    return QUE_CommonWrite(uiQueueId, pBuffer, uiLength, UKO_QUEUE_WAIT, uiTimeOutMs,
                           UKO_QUEUE_URGENT);
}

uint32_t QUE_CommonRead(uint32_t uiQueueId, uint32_t uiTimeOutMs, void* pBuffer,
                        uint32_t uiLength, uint32_t uiWaitMode, uint32_t* puiOutLen) {
    uint32_t outLen = UKO_QUEUE_NONE;
    if (puiOutLen != nullptr) {
        *puiOutLen = UKO_QUEUE_NONE;
    }
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr || pBuffer == nullptr || uiLength == 0) {
        return QUEUE_REPORT(UKO_EINVAL, kInvalRw, __func__, uiQueueId, pBuffer, uiLength);
    }
    const uint32_t self = OS_CurTaskIdGet();
    CbLock(cb);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, kInvalRw, __func__, uiQueueId, pBuffer, uiLength);
    }
    ++cb->uiReadCount;
    if (uiWaitMode == UKO_QUEUE_NO_WAIT) {
        if (ukoQueueCountGet(cb) == 0) {
            ++cb->uiEmptyCount;
            CbUnlock(cb);
            (void)UKO_ErrnoSet(UKO_QueueEmptyErr);
            return UKO_QueueEmptyErr;
        }
    } else {
        if ((cb->usMode & UKO_QUEUE_MODE_SYN) == 0) {
            char name[UKO_QUEUE_NAME_LEN];
            std::memcpy(name, cb->acName, sizeof(name));
            CbUnlock(cb);
            return QUEUE_REPORT(UKO_EINVAL,
                                "[ZIRPA-%s]:QueueName(%s), QueueId(%d), QueueMode is asy, syn read is "
                                "inhibitive",
                                __func__, name, uiQueueId);
        }
        const uint32_t rc = WaitForRoom(cb, uiQueueId, uiTimeOutMs, self, true, __func__);
        if (rc != 0) {
            return rc;
        }
    }
    const uint8_t* src = SlotAddr(cb, cb->uiHead);
    uint32_t stored = 0;
    std::memcpy(&stored, src, sizeof(stored));
    outLen = stored < uiLength ? stored : uiLength;
    std::memcpy(pBuffer, src + UKO_QUEUE_SLOT_HEAD, outLen);
    cb->uiHead = cb->uiHead + 1 == cb->uiMaxMsgs ? 0 : cb->uiHead + 1;
    ukoQueueCountSet(cb, ukoQueueCountGet(cb) - 1);

    uint32_t overMs = 0;
    UKO_QUEUE_LATENCY_HOOK_PF latencyHook = nullptr;
    const uint32_t threshold = __atomic_load_n(&g_latencyMs, __ATOMIC_ACQUIRE);
    if (threshold != 0) {
        uint32_t now = 0;
        (void)UKO_TickLowGet(&now);
        // Unsigned subtraction counts across the wrap of the low word.
        const uint64_t waitedMs = TicksToMs(static_cast<uint32_t>(now - cb->uiLatencyStamp));
        if (waitedMs > threshold) {
            overMs = static_cast<uint32_t>(waitedMs - threshold);
            latencyHook = __atomic_load_n(&g_latencyHook, __ATOMIC_ACQUIRE);
        }
        cb->uiLatencyStamp = now;
    }
    cb->uiLastReader = self;
    if (cb->sWritersToWake > 0) {
        --cb->sWritersToWake;
        Wake(cb, uiQueueId, false);
    }
    CbUnlock(cb);
    if (latencyHook != nullptr) {
        latencyHook(uiQueueId, overMs);
    }
    if (puiOutLen != nullptr) {
        *puiOutLen = outLen;
    }
    return 0;
}

uint32_t UKO_QueueReadAsy(uint32_t uiQueueId, void* pBuffer, uint32_t uiLength) {
    uint32_t outLen = UKO_QUEUE_NONE;
    (void)QUE_CommonRead(uiQueueId, 0, pBuffer, uiLength, UKO_QUEUE_NO_WAIT, &outLen);
    return outLen;
}

uint32_t UKO_QueueReadSyn(uint32_t uiQueueId, uint32_t uiTimeOutMs, void* pBuffer,
                          uint32_t uiLength) {
    uint32_t outLen = UKO_QUEUE_NONE;
    (void)QUE_CommonRead(uiQueueId, uiTimeOutMs, pBuffer, uiLength, UKO_QUEUE_WAIT, &outLen);
    return outLen;
}

// ---- Queries ------------------------------------------------------------------------------------

uint32_t UKO_QueueMsgNumGet(uint32_t uiQueueId) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr || ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        (void)QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:UKO_RescbValidate fail, Inval param QueueId(%d).",
                           __func__, uiQueueId);
        return UKO_QUEUE_NONE;
    }
    return ukoQueueCountGet(cb);
}

uint32_t UKO_QueueMaxNumGet(uint32_t uiQueueId, uint32_t* puiMaxNum) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr || puiMaxNum == nullptr || ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        return QUEUE_REPORT(UKO_EINVAL,
                            "[ZIRPA-%s]:UKO_RescbValidate fail, Inval Param QueueId(%d), puiMaxNum(0x%p).",
                            __func__, uiQueueId, static_cast<void*>(puiMaxNum));
    }
    *puiMaxNum = cb->uiMaxMsgs;
    return 0;
}

uint32_t UKO_QueueNameGet(uint32_t uiQueueId, char* pscName) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr || pscName == nullptr || ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        return UKO_EINVAL;
    }
    (void)UKO_strncpy_s(pscName, UKO_QUEUE_NAME_LEN, cb->acName, UKO_QUEUE_NAME_LEN - 1);
    pscName[UKO_QUEUE_NAME_LEN - 1] = '\0';
    return 0;
}

uint32_t UKO_QueueIsValid(uint32_t uiQueueId) {
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    return cb != nullptr && ukoQueueStateGet(cb) == UKO_QUEUE_STATE_USED ? 1 : 0;
}

// ---- Look-up, peek, statistics ----------------------------------------------------------------

uint32_t UKO_QueueIdGetByName(const char* pscName) {
    if (pscName == nullptr || !g_ready) {
        return UKO_QUEUE_NONE;
    }
    uint32_t found = UKO_QUEUE_NONE;
    (void)OSAL_LockLock(&g_moduleLock);
    const uint32_t limit = __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE);
    for (uint32_t id = 1; id < limit && found == UKO_QUEUE_NONE; ++id) {
        UKO_QueueCb* cb = ukoQueueCbGet(id);
        if (cb == nullptr) {
            continue;
        }
        CbLock(cb);
        if (ukoQueueStateGet(cb) == UKO_QUEUE_STATE_USED && UKO_SafeStrCmp(cb->acName, pscName) == 0) {
            found = id;
        }
        CbUnlock(cb);
    }
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    return found;
}

uint32_t UKO_QueuePeekMsg(uint32_t uiQueueId, uint32_t uiIndex, void* pBufferAddr,
                          uint32_t uiBuffersize, uint32_t* puiOutLen) {
    if (pBufferAddr == nullptr) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pBufferAddr is Null.", __func__);
    }
    if (uiBuffersize == 0) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param uiBuffersize is Zero.", __func__);
    }
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr) {
        (void)UKO_ErrnoSet(UKO_EINVAL);
        return UKO_EINVAL;
    }
    CbLock(cb);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%d).", __func__, uiQueueId);
    }
    const uint32_t count = ukoQueueCountGet(cb);
    if (uiIndex >= count) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param uiCurLen(%d), uiIndex(%d).", __func__,
                            count, uiIndex);
    }
    const uint32_t slot =
        static_cast<uint32_t>((static_cast<uint64_t>(cb->uiHead) + uiIndex) % cb->uiMaxMsgs);
    const uint8_t* src = SlotAddr(cb, slot);
    uint32_t stored = 0;
    std::memcpy(&stored, src, sizeof(stored));
    const uint32_t len = stored < uiBuffersize ? stored : uiBuffersize;
    (void)UKO_memcpy_s(pBufferAddr, uiBuffersize, src + UKO_QUEUE_SLOT_HEAD, len);
    CbUnlock(cb);
    if (puiOutLen != nullptr) {
        *puiOutLen = len;
    }
    return 0;
}

uint32_t UKO_QueuePeakLenReset(uint32_t uiQueueId) {
    if (uiQueueId == UKO_QUEUE_ALL) {
        if (!g_ready) {
            return 0;
        }
        (void)OSAL_LockLock(&g_moduleLock);
        const uint32_t limit = __atomic_load_n(&g_idLimit, __ATOMIC_ACQUIRE);
        for (uint32_t id = 1; id < limit; ++id) {
            UKO_QueueCb* cb = ukoQueueCbGet(id);
            if (cb == nullptr) {
                continue;
            }
            CbLock(cb);
            if (ukoQueueStateGet(cb) == UKO_QUEUE_STATE_USED) {
                cb->uiPeakLen = 0;
            }
            CbUnlock(cb);
        }
        (void)OSAL_LockUnLock(&g_moduleLock, 0);
        return 0;
    }
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb == nullptr) {
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%u).", __func__, uiQueueId);
    }
    CbLock(cb);
    if (ukoQueueStateGet(cb) != UKO_QUEUE_STATE_USED) {
        CbUnlock(cb);
        return QUEUE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param QueueId(%u). Queue maybe deleted.",
                            __func__, uiQueueId);
    }
    cb->uiPeakLen = 0;
    CbUnlock(cb);
    return 0;
}

uint32_t UKO_QueueLatencyHookSet(UKO_QUEUE_LATENCY_HOOK_PF pfnHook) {
    __atomic_store_n(&g_latencyHook, pfnHook, __ATOMIC_RELEASE);
    return 0;
}

uint32_t UKO_QueueCurNumGet() {
    if (!g_ready) {
        return 0;
    }
    (void)OSAL_LockLock(&g_moduleLock);
    const uint32_t num = g_curNum;
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    return num;
}

uint32_t UKO_QueueCreatedNumGet() {
    if (!g_ready) {
        return 0;
    }
    (void)OSAL_LockLock(&g_moduleLock);
    const uint32_t num = g_createdNum;
    (void)OSAL_LockUnLock(&g_moduleLock, 0);
    return num;
}

uint32_t UKO_QueueShow(uint32_t uiQueueId, uint32_t uiTarget) {
    if (uiQueueId == 0 && g_ready) {
        ShowAll(uiTarget);
        return 0;
    }
    UKO_QueueCb* cb = ukoQueueCbGet(uiQueueId);
    if (cb != nullptr) {
        CbLock(cb);
        if (ukoQueueStateGet(cb) == UKO_QUEUE_STATE_USED) {
            UKO_QueueCb copy;
            std::memcpy(static_cast<void*>(&copy), cb, sizeof(copy));
            CbUnlock(cb);
            ShowOne(uiQueueId, &copy, uiTarget);
            return 0;
        }
        CbUnlock(cb);
    }
    ShowHelp(uiTarget);
    return UKO_EINVAL;
}
