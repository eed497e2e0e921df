// Adaptation timers over the relative timer kernel. Each timer is a kind-3 kernel
// record from this module's own pool: up to 1024 groups of 1024 records, made on
// demand and kept for the life of the process, so an id resolves to its record in
// constant time (group and slot from the index) and the generation in the id tells a
// live timer from a stale one.
//
// Lock order: this module's lock, then the kernel lock. Expiry runs in "TICK" with both
// held, except around a callback and its two hooks, so a callback may call any timer
// operation, its own timer included.

#include "jqr_timer.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "jqr_queue.h"
#include "jqr_timer_inner.h"
#include "os_task.h"
#include "os_time.h"
#include "osal_lock.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_reltmrknl.h"
#include "uko_task.h"
#include "uko_tick.h"

namespace {

#define TIMER_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_JQR_TIMER, __VA_ARGS__)

constexpr uint32_t kIdStep = 0x100000;  // one generation
constexpr uint32_t kIndexMask = 0xFFFFF;
constexpr uint32_t kRetryMs = 1000;     // a one-shot message that found its queue full
constexpr uint32_t kQueueWriteFlags = 0xA0000000u;  // no wait, at the tail
constexpr uint8_t kDelAllowed = 0xAF;
constexpr uint8_t kDelRefused = 0xB0;
constexpr uint64_t kGroupBytes = static_cast<uint64_t>(JQR_TIMER_GROUP_SIZE) * sizeof(UKO_ReltmrCb);

const char kInvalidId[] = "[ZIRPA-%s]:The param ulTimerID(%u) is invalid.";

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> g_init{false};
UKO_ReltmrCb** g_groups = nullptr;  // JqrsTimerGrp
UKO_ReltmrCb* g_freeHead = nullptr;
UKO_ReltmrCb* g_freeTail = nullptr;
UKO_TIMER_STAT_S g_stat;

std::atomic<UKO_TIMER_EXT_HOOK_PF> g_extHook{nullptr};
std::atomic<UKO_TIMER_CBK_HOOK_PF> g_preHook{nullptr};
std::atomic<UKO_TIMER_CBK_HOOK_PF> g_postHook{nullptr};
JQR_TIMER_GROUP_GATE_PF g_groupGate = nullptr;

// Both locks in their order, released in reverse.
void LockBoth() {
    (void)OSAL_LockLock(&g_lock);
    ukoRelTmLock();
}
void UnlockBoth() {
    ukoRelTmUnlock();
    (void)OSAL_LockUnLock(&g_lock, 0);
}
void LockAdapt() { (void)OSAL_LockLock(&g_lock); }
void UnlockAdapt() { (void)OSAL_LockUnLock(&g_lock, 0); }

bool IsLoop(const UKO_ReltmrCb* tm) { return (tm->ucMode & UKO_TIMER_LOOP) != 0; }
bool KeepsMessages(UKO_ReltmrCb* tm) {
    return (tm->ucMode & UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE) != 0 && JqrsPriv(tm)->uiMsgNum != 0;
}

// Lays out a new group: every record IDLE with its index as its id, no extended name,
// linked to the next one of the group.
void GroupFormat(UKO_ReltmrCb* pstGroup, uint32_t uiGroup) {
    std::memset(static_cast<void*>(pstGroup), 0, static_cast<size_t>(kGroupBytes));
    for (uint32_t i = 0; i < JQR_TIMER_GROUP_SIZE; ++i) {
        UKO_ReltmrCb* tm = &pstGroup[i];
        tm->ucState = UKO_RELTMR_IDLE;
        tm->uiKind = UKO_RELTMR_KIND_ADAPT;
        JQR_TIMER_PRIV* priv = JqrsPriv(tm);
        priv->uiTimerId = uiGroup * JQR_TIMER_GROUP_SIZE + i;
        priv->uiExtName = JQR_TIMER_NO_EXT;
        tm->pstNext = i + 1 < JQR_TIMER_GROUP_SIZE ? &pstGroup[i + 1] : nullptr;
    }
}

UKO_ReltmrCb* GroupAlloc(uint32_t uiGroup) {
    if (g_groupGate != nullptr && !g_groupGate(uiGroup)) {
        return nullptr;
    }
    return static_cast<UKO_ReltmrCb*>(UKO_MemAlloc(0, m_ucSysPtNo, kGroupBytes));
}

// Puts a placed record back: the wheel keeps it counted from now.
void Place(UKO_ReltmrCb* tm) { ukoRelTmInsert(tm); }

}  // namespace

JQR_TIMER_PRIV* JqrsPriv(UKO_ReltmrCb* pstTimer) {
    return reinterpret_cast<JQR_TIMER_PRIV*>(pstTimer->aucPriv);
}

void jqrTimerGroupGateSet(JQR_TIMER_GROUP_GATE_PF pfnGate) { g_groupGate = pfnGate; }

// ---- Start-up ----------------------------------------------------------------------------------

uint32_t JQR_TimerInit(uint32_t /*uiUnused*/) {
    if (g_init) {
        return 0;
    }
    uint32_t rc = OSAL_LockCreate(&g_lock);
    if (rc != 0) {
        return TIMER_REPORT(rc, "[ZIRPA-%s]:OSAL_LockCreate failed.", __func__);
    }
    std::memset(&g_stat, 0, sizeof(g_stat));
    const uint64_t tableBytes = static_cast<uint64_t>(JQR_TIMER_GROUP_NUM) * sizeof(UKO_ReltmrCb*);
    auto* groups = static_cast<UKO_ReltmrCb**>(UKO_MemAlloc(0, m_ucSysPtNo, tableBytes));
    if (groups == nullptr) {
        (void)OSAL_LockDelete(&g_lock);
        return TIMER_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:Alloc memory of size(%u) for JqrsTimerGrp fail.",
                            __func__, static_cast<uint32_t>(tableBytes));
    }
    std::memset(static_cast<void*>(groups), 0, static_cast<size_t>(tableBytes));
    UKO_ReltmrCb* group0 = GroupAlloc(0);
    if (group0 == nullptr) {
        (void)OSAL_LockDelete(&g_lock);
        (void)UKO_MemFree(0, groups);
        return TIMER_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:Alloc memory of size(%u) for JqrsTimerItems fail.",
                            __func__, static_cast<uint32_t>(kGroupBytes));
    }
    GroupFormat(group0, 0);
    groups[0] = group0;
    // Record 0 never names a timer: id 0 stays invalid.
    group0[0].pstNext = nullptr;
    g_freeHead = &group0[1];
    g_freeTail = &group0[JQR_TIMER_GROUP_SIZE - 1];
    g_stat.uiPoolNum = JQR_TIMER_GROUP_SIZE - 1;
    g_groups = groups;
    ukoRelTmAdaptHookSet(Jqrs_TrigReltimer);
    g_init = true;
    return 0;
}

// ---- Pool ---------------------------------------------------------------------------------------

UKO_ReltmrCb* Jqrs_AllocTimerStruct() {
    LockAdapt();
    if (g_freeHead == nullptr) {
        UnlockAdapt();
        return nullptr;
    }
    // The free list never runs empty: its last record is handed out only once a new
    // group stands behind it.
    if (g_freeHead->pstNext == nullptr) {
        uint32_t slot = 0;
        while (slot < JQR_TIMER_GROUP_NUM && g_groups[slot] != nullptr) {
            ++slot;
        }
        UKO_ReltmrCb* group = slot < JQR_TIMER_GROUP_NUM ? GroupAlloc(slot) : nullptr;
        if (group == nullptr) {
            UnlockAdapt();
            return nullptr;
        }
        GroupFormat(group, slot);
        g_groups[slot] = group;
        g_freeHead->pstNext = &group[0];
        g_freeTail = &group[JQR_TIMER_GROUP_SIZE - 1];
        g_stat.uiPoolNum += JQR_TIMER_GROUP_SIZE;
    }
    UKO_ReltmrCb* tm = g_freeHead;
    g_freeHead = tm->pstNext;
    tm->pstNext = nullptr;
    UnlockAdapt();
    return tm;
}

void Jqrs_FreeTimerStruct(UKO_ReltmrCb* pstTimer) {
    if (pstTimer == nullptr) {
        return;
    }
    LockBoth();
    if (g_stat.uiUsedNum != 0) {
        --g_stat.uiUsedNum;
    }
    uint32_t& byMode = IsLoop(pstTimer) ? g_stat.uiLoopNum : g_stat.uiNoLoopNum;
    if (byMode != 0) {
        --byMode;
    }
    if (pstTimer->ucState == UKO_RELTMR_TICKING) {
        ukoRelTmRemove(pstTimer);
    }
    pstTimer->ucState = UKO_RELTMR_IDLE;
    pstTimer->pstNext = nullptr;
    pstTimer->pstPrev = nullptr;
    JqrsPriv(pstTimer)->uiExtName = JQR_TIMER_NO_EXT;
    if (g_freeTail == nullptr) {
        g_freeHead = pstTimer;
    } else {
        g_freeTail->pstNext = pstTimer;
    }
    g_freeTail = pstTimer;
    UnlockBoth();
}

UKO_ReltmrCb* Jqrs_TimerLookup(uint32_t uiTimerId) {
    if (g_groups == nullptr) {
        return nullptr;
    }
    const uint32_t group = (uiTimerId & kIndexMask) >> 10;
    const uint32_t slot = uiTimerId & (JQR_TIMER_GROUP_SIZE - 1);
    UKO_ReltmrCb* groupBase = g_groups[group];
    if (groupBase == nullptr) {
        return nullptr;
    }
    UKO_ReltmrCb* tm = &groupBase[slot];
    return JqrsPriv(tm)->uiTimerId == uiTimerId ? tm : nullptr;
}

uint32_t Jqrs_TimerIdCheck(uint32_t uiTimerId) {
    LockAdapt();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    const bool ok = tm != nullptr && tm->ucState != UKO_RELTMR_IDLE;
    UnlockAdapt();
    return ok ? 0 : 0xFFFFFFFFu;
}

// ---- Creation -----------------------------------------------------------------------------------

uint32_t UKO_Timer_Create(uint32_t uiTaskId, uint32_t uiQueueId, uint32_t uiLenMs,
                          UKO_TIMER_FUNC_PF pfnTimerFunc, uint64_t uvArg, uint32_t* puiTimerId,
                          uint32_t uiFlags) {
    if (pfnTimerFunc == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pfnTimerFunc is null.", __func__);
    }
    if (uiTaskId == 0) {
        uiTaskId = OS_CurTaskIdGet();
        if (uiTaskId == 0xFFFFFFFFu) {
            return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Failed to get current task id.", __func__);
        }
    }
    if (uiQueueId != 0) {
        if (UKO_TaskIdCheck(uiTaskId) != 1) {
            return TIMER_REPORT(UKO_EINVAL, "UKO_Timer_Create:Invalid Task ID %u.\n", uiTaskId);
        }
        if (UKO_Queue_IsValid(uiQueueId) != 1) {
            return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid queue ID(%u).", __func__, uiQueueId);
        }
    }
    if ((uiFlags & ~(UKO_TIMER_LOOP | UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE)) != 0) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param ulFlag(%u).", __func__, uiFlags);
    }
    if (!g_init) {
        return TIMER_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:No free memory, Jqrs_AllocTimerStruct fail.",
                            __func__);
    }
    LockAdapt();
    UKO_ReltmrCb* tm = Jqrs_AllocTimerStruct();
    if (tm == nullptr) {
        UnlockAdapt();
        return TIMER_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:No free memory, Jqrs_AllocTimerStruct fail.",
                            __func__);
    }
    JQR_TIMER_PRIV* priv = JqrsPriv(tm);
    tm->ucMode = static_cast<uint8_t>(uiFlags);
    tm->ucMode2 = 0;
    tm->ucDelFlag = kDelAllowed;
    tm->uiLenMs = uiLenMs;
    tm->uiLenTick = uiLenMs / OS_MsPerTickGet();
    tm->uiKind = UKO_RELTMR_KIND_ADAPT;
    tm->uiHandle = 0;
    tm->pfnExpire = nullptr;
    tm->phOwner = nullptr;
    tm->uiMissed = 0;
    tm->ulMsgInQueue = 0;
    priv->pfnTimerFunc = pfnTimerFunc;
    priv->uvArg = uvArg;
    priv->uiMsgNum = 0;
    priv->uiQueueId = uiQueueId;
    priv->uiTaskId = uiTaskId;
    priv->uiTimerId += kIdStep;
    const uint32_t id = priv->uiTimerId;
    ukoRelTmLock();
    Place(tm);
    ukoRelTmUnlock();
    ++g_stat.uiUsedNum;
    ++g_stat.uiCreateNum;
    ++(IsLoop(tm) ? g_stat.uiLoopNum : g_stat.uiNoLoopNum);
    UnlockAdapt();
    if (puiTimerId != nullptr) {
        *puiTimerId = id;
    }
    return 0;
}

uint32_t UKO_Timer_Create_Ex(uint32_t uiExtName, uint32_t uiLenMs, UKO_TIMER_FUNC_PF pfnTimerFunc,
                             uint64_t uvArg, uint32_t* puiTimerId, uint32_t uiFlags) {
    if (puiTimerId == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pfnTimerFunc is null.", __func__);
    }
    // Held across both steps so the new timer cannot expire before its name is set.
    LockAdapt();
    uint32_t rc = UKO_Timer_Create(0xFFFFFFFFu, 0, uiLenMs, pfnTimerFunc, uvArg, puiTimerId, uiFlags);
    if (rc != 0) {
        UnlockAdapt();
        return rc;
    }
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(*puiTimerId);
    if (tm == nullptr) {
        UnlockAdapt();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Get the Timer Struct Fail! TaskID[%d],TimerID[%d].",
                            __func__, uiExtName, *puiTimerId);
    }
    JqrsPriv(tm)->uiExtName = uiExtName;
    UnlockAdapt();
    return 0;
}

// ---- Expiry ----------------------------------------------------------------------------------------

void Jqrs_TrigReltimer(UKO_ReltmrCb* pstTimer) {
    if (pstTimer == nullptr) {
        (void)TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pTimer is null.", __func__);
        return;
    }
    LockBoth();
    JQR_TIMER_PRIV* priv = JqrsPriv(pstTimer);
    UKO_TimerMsg msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.uiTimerId = priv->uiTimerId;
    msg.pfnTimerFunc = priv->pfnTimerFunc;
    msg.uvArg = priv->uvArg;
    const bool loop = IsLoop(pstTimer);
    const bool ext = priv->uiExtName != JQR_TIMER_NO_EXT;
    const bool queued = priv->uiQueueId != 0;
    const bool oneTimeout = (pstTimer->ucMode & UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE) != 0;

    // Settle the state first: a timer deleted while it waited for this call ends here.
    const uint8_t state = pstTimer->ucState;
    if (!loop && state != UKO_RELTMR_OUT) {
        if (state != UKO_RELTMR_IDLE) {
            Jqrs_FreeTimerStruct(pstTimer);
        }
        UnlockBoth();
        return;
    }
    if (loop) {
        if (state == UKO_RELTMR_OUT) {
            if (queued || ext) {
                Place(pstTimer);
            }
        } else if (state == UKO_RELTMR_PAUSEING) {
            if (queued || ext) {
                pstTimer->ucState = UKO_RELTMR_PAUSED;
            }
        } else {
            if (!KeepsMessages(pstTimer) && state != UKO_RELTMR_IDLE) {
                Jqrs_FreeTimerStruct(pstTimer);
            }
            UnlockBoth();
            return;
        }
    }

    if (ext) {
        ++priv->uiMsgNum;
        UKO_TIMER_EXT_HOOK_PF hook = g_extHook;
        if (hook != nullptr) {
            hook(priv->uiTimerId, priv->uiExtName, priv->uvArg, priv->pfnTimerFunc);
        }
        if (!loop && !oneTimeout) {
            Jqrs_FreeTimerStruct(pstTimer);
        }
    } else if (queued) {
        ++priv->uiMsgNum;
        if (UKO_Queue_Write(priv->uiQueueId, &msg, kQueueWriteFlags, 0) == 0) {
            (void)UKO_TaskEventWrite(priv->uiTaskId, UKO_TASK_EVENT_TIMER);
            if (!loop && !oneTimeout) {
                Jqrs_FreeTimerStruct(pstTimer);
            }
        } else {
            --priv->uiMsgNum;
            if (!loop) {
                // Nothing is lost: the one-shot message is tried again a second later.
                pstTimer->uiLenMs = kRetryMs;
                pstTimer->uiLenTick = kRetryMs / OS_MsPerTickGet();
                Place(pstTimer);
            }
        }
    } else if (priv->pfnTimerFunc != nullptr) {
        const uint32_t id = priv->uiTimerId;
        const uint32_t taskId = priv->uiTaskId;
        UKO_TIMER_FUNC_PF fn = priv->pfnTimerFunc;
        const uint64_t arg = priv->uvArg;
        UKO_TIMER_CBK_HOOK_PF pre = g_preHook;
        UKO_TIMER_CBK_HOOK_PF post = g_postHook;
        UnlockBoth();
        if (pre != nullptr) {
            pre(id, taskId, fn);
        }
        fn(arg);
        if (post != nullptr) {
            post(id, taskId, fn);
        }
        LockBoth();
        const uint8_t after = pstTimer->ucState;
        if (!loop) {
            if (after != UKO_RELTMR_IDLE) {
                Jqrs_FreeTimerStruct(pstTimer);
            }
        } else if (after == UKO_RELTMR_OUT) {
            Place(pstTimer);
        } else if (after == UKO_RELTMR_PAUSEING) {
            pstTimer->ucState = UKO_RELTMR_PAUSED;
        } else if (!KeepsMessages(pstTimer) && after != UKO_RELTMR_IDLE) {
            Jqrs_FreeTimerStruct(pstTimer);
        }
    }
    UnlockBoth();
}

// ---- Deletion ---------------------------------------------------------------------------------------

uint32_t Jqrs_DeleteTimer(uint32_t uiTimerId) {
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
    }
    if (tm->ucDelFlag == kDelRefused) {
        UnlockBoth();
        return TIMER_REPORT(UKO_TIMER_ERR_NO_DELETE, "[ZIRPA-%s]:The Timer ulTimerID(%u) can't be deleted.",
                            __func__, uiTimerId);
    }
    uint32_t rc = 0;
    switch (tm->ucState) {
        case UKO_RELTMR_TICKING:
            ukoRelTmRemove(tm);
            tm->ucState = UKO_RELTMR_DELETED;  // off the wheel
            if (!KeepsMessages(tm)) {
                Jqrs_FreeTimerStruct(tm);
            }
            break;
        case UKO_RELTMR_OUT:
        case UKO_RELTMR_PAUSEING:
            tm->ucState = UKO_RELTMR_DELETED;  // the expiry settles it
            break;
        case UKO_RELTMR_PAUSED:
            if (KeepsMessages(tm)) {
                tm->ucState = UKO_RELTMR_DELETED;
            } else {
                Jqrs_FreeTimerStruct(tm);
            }
            break;
        case UKO_RELTMR_IDLE:
        case UKO_RELTMR_DELETED:
            UnlockBoth();
            return TIMER_REPORT(UKO_TIMER_ERR_DELETED, "[ZIRPA-%s]:Timer has been deleted.", __func__);
        default:
            rc = UKO_EINVAL;
            break;
    }
    UnlockBoth();
    if (rc != 0) {
        return TIMER_REPORT(rc, "[ZIRPA-%s]:Timer's mode is invalid.", __func__);
    }
    return 0;
}

uint32_t UKO_Timer_Delete(uint32_t uiTimerId) { return Jqrs_DeleteTimer(uiTimerId); }

uint32_t UKO_Timer_DeleteEx(uint32_t uiTimerId, uint32_t /*uiUnused*/) {
    return Jqrs_DeleteTimer(uiTimerId);
}

void UKO_Timer_DeleteByTask(uint32_t uiTaskId) {
    LockAdapt();
    if (g_groups == nullptr) {
        UnlockAdapt();
        return;
    }
    for (uint32_t index = 1; index <= kIndexMask; ++index) {
        UKO_ReltmrCb* group = g_groups[index >> 10];
        if (group == nullptr) {
            break;
        }
        UKO_ReltmrCb* tm = &group[index & (JQR_TIMER_GROUP_SIZE - 1)];
        const uint8_t state = tm->ucState;
        if (JqrsPriv(tm)->uiTaskId == uiTaskId &&
            (state == UKO_RELTMR_TICKING || state == UKO_RELTMR_OUT || state == UKO_RELTMR_PAUSED ||
             state == UKO_RELTMR_PAUSEING)) {
            (void)Jqrs_DeleteTimer(JqrsPriv(tm)->uiTimerId);
        }
    }
    UnlockAdapt();
}

uint32_t UKO_Timer_IsStoped(uint32_t uiTimerId) {
    LockAdapt();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockAdapt();
        (void)TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
        return 0;
    }
    if ((tm->ucMode & UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE) == 0) {
        UnlockAdapt();
        return 0;
    }
    JQR_TIMER_PRIV* priv = JqrsPriv(tm);
    uint32_t result = 1;
    const char* report = nullptr;
    switch (tm->ucState) {
        case UKO_RELTMR_DELETED:
            if (priv->uiMsgNum != 0) {
                if (--priv->uiMsgNum == 0) {
                    Jqrs_FreeTimerStruct(tm);
                }
            } else {
                report = "[ZIRPA-%s]:Timer has been stopped.";
            }
            break;
        case UKO_RELTMR_IDLE:
            break;
        case UKO_RELTMR_TICKING:
            if (priv->uiMsgNum != 0) {
                --priv->uiMsgNum;
            }
            result = 0;
            break;
        case UKO_RELTMR_OUT:
            // A record still waiting on the tick's expired list belongs to the expiry:
            // releasing it there would cut the list and strand the timers behind it.
            if (!IsLoop(tm) && tm->uiList != UKO_RELTMR_LIST_EXPIRED) {
                Jqrs_FreeTimerStruct(tm);
            } else if (priv->uiMsgNum != 0) {
                --priv->uiMsgNum;
            }
            result = 0;
            break;
        case UKO_RELTMR_PAUSEING:
        case UKO_RELTMR_PAUSED:
            if (priv->uiMsgNum != 0) {
                --priv->uiMsgNum;
            }
            break;
        default:
            report = "[ZIRPA-%s]:Invalid timer's status.";
            break;
    }
    UnlockAdapt();
    if (report != nullptr) {
        (void)TIMER_REPORT(UKO_EINVAL, report, __func__);
    }
    return result;
}

// ---- Pause, resume, resize, remaining time --------------------------------------------------------

uint32_t Jqrs_GetRemainTime(UKO_ReltmrCb* pstTimer, uint32_t* puiTicks) {
    if (pstTimer == nullptr || puiTicks == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param puiTicks(0x%p), pTmInfo(0x%p).", __func__,
                            static_cast<void*>(puiTicks), static_cast<void*>(pstTimer));
    }
    ukoRelTmLock();
    uint32_t ticks = 0;
    switch (pstTimer->ucState) {
        case UKO_RELTMR_OUT:
            break;
        case UKO_RELTMR_PAUSED:
            ticks = UKO_TickMs2Tick(pstTimer->uiLenMs);
            break;
        case UKO_RELTMR_IDLE:
        case UKO_RELTMR_DELETED:
            ukoRelTmUnlock();
            return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer's status is not support!", __func__);
        default: {
            if (ukoRelTmWheelRemain(pstTimer, &ticks) != 0) {
                ukoRelTmUnlock();
                (void)TIMER_REPORT(61, "[ZIRPA-%s]:Timer is not exist.", __func__);
                return 0xFFFFFFFFu;
            }
            const uint32_t pending = ukoRelTmPendingGet();
            ticks = ticks > pending ? ticks - pending : 0;
            break;
        }
    }
    ukoRelTmUnlock();
    *puiTicks = ticks;
    return 0;
}

uint32_t UKO_Timer_Pause(uint32_t uiTimerId) {
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param ulTimerID(%d) is invalid.", __func__,
                            uiTimerId);
    }
    const uint8_t state = tm->ucState;
    if (state == UKO_RELTMR_TICKING) {
        if (!IsLoop(tm)) {
            uint32_t ticks = 0;
            if (Jqrs_GetRemainTime(tm, &ticks) != 0) {
                UnlockBoth();
                return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Jqrs_GetRemainTime failed!", __func__);
            }
            uint32_t msHigh = 0;
            uint32_t msLow = 0;
            if (UKO_Tick2Ms(0, ticks, &msHigh, &msLow) != 0) {
                UnlockBoth();
                return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:UKO_Tick2Ms failed!", __func__);
            }
            tm->uiLenMs = msLow;
            tm->uiLenTick = msLow / OS_MsPerTickGet();
        }
        ukoRelTmRemove(tm);
        tm->ucState = UKO_RELTMR_PAUSED;
        UnlockBoth();
        return 0;
    }
    if (state == UKO_RELTMR_OUT && IsLoop(tm)) {
        tm->ucState = UKO_RELTMR_PAUSEING;
        UnlockBoth();
        return 0;
    }
    UnlockBoth();
    return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer status is invalid.", __func__);
}

uint32_t UKO_Timer_Resume(uint32_t uiTimerId) {
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
    }
    if (tm->ucState == UKO_RELTMR_PAUSEING) {
        tm->ucState = UKO_RELTMR_OUT;
    } else if (tm->ucState == UKO_RELTMR_PAUSED) {
        Place(tm);
    } else {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer's status is invalid.", __func__);
    }
    UnlockBoth();
    return 0;
}

uint32_t UKO_Timer_Resize(uint32_t uiTimerId, uint32_t uiLenMs) {
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
    }
    const uint8_t state = tm->ucState;
    if (state == UKO_RELTMR_IDLE || state == UKO_RELTMR_DELETED) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer(%u) has been deleted.", __func__, uiTimerId);
    }
    if (state == UKO_RELTMR_TICKING) {
        ukoRelTmRemove(tm);
    }
    tm->uiLenMs = uiLenMs;
    tm->uiLenTick = uiLenMs / OS_MsPerTickGet();
    if (state == UKO_RELTMR_TICKING) {
        Place(tm);
    }
    UnlockBoth();
    return 0;
}

uint32_t UKO_Timer_GetRemaintime(uint32_t uiTimerId, uint32_t* puiRemainMs) {
    if (puiRemainMs == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pulRemainTime is null.", __func__);
    }
    if (Jqrs_TimerIdCheck(uiTimerId) != 0) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TimerID(%u) is invalid.", __func__, uiTimerId);
    }
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr || tm->ucState != UKO_RELTMR_TICKING) {
        UnlockBoth();
        *puiRemainMs = 0;
        return 0;
    }
    uint32_t ticks = 0;
    if (Jqrs_GetRemainTime(tm, &ticks) != 0) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Failed to get remain time.", __func__);
    }
    UnlockBoth();
    uint32_t msHigh = 0;
    uint32_t msLow = 0;
    if (UKO_Tick2Ms(0, ticks, &msHigh, &msLow) != 0) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Call UKO_Tick2Ms to convert remain time failed.",
                            __func__);
    }
    *puiRemainMs = msLow;
    return 0;
}

// ---- Queries and settings ---------------------------------------------------------------------------

uint32_t UKO_Timer_GetInfo(uint32_t uiTimerId, UKO_TIMER_INFO_S* pstTimerInfo) {
    if (pstTimerInfo == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pTimerInfo is null.", __func__);
    }
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
    }
    const JQR_TIMER_PRIV* priv = JqrsPriv(tm);
    UKO_TIMER_INFO_S info;
    info.uiTaskId = priv->uiTaskId;
    info.uiQueueId = priv->uiQueueId;
    info.uiMode = tm->ucMode;
    info.uiState = tm->ucState;
    info.uiLenMs = tm->uiLenMs;
    info.uvCallback = reinterpret_cast<uintptr_t>(priv->pfnTimerFunc);
    info.uvArg = priv->uvArg;
    UnlockBoth();
    std::memcpy(pstTimerInfo, &info, sizeof(info));
    return 0;
}

uint32_t UKO_Timer_GetStructFromID(uint32_t uiTimerId, JQR_TIMER_INFO_S* pstJqrTimerInfo) {
    if (pstJqrTimerInfo == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pJqrTimerInfo is null.", __func__);
    }
    LockAdapt();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    if (tm == nullptr) {
        UnlockAdapt();
        return TIMER_REPORT(UKO_EINVAL, kInvalidId, __func__, uiTimerId);
    }
    const JQR_TIMER_PRIV* priv = JqrsPriv(tm);
    JQR_TIMER_INFO_S info;
    info.uiTaskId = priv->uiTaskId;
    info.uiQueueId = priv->uiQueueId;
    info.uiMsgNum = priv->uiMsgNum;
    info.uiMode = tm->ucMode;
    info.uiState = tm->ucState;
    info.uiLenMs = tm->uiLenMs;
    info.uvCallback = reinterpret_cast<uintptr_t>(priv->pfnTimerFunc);
    info.uvArg = priv->uvArg;
    UnlockAdapt();
    std::memcpy(pstJqrTimerInfo, &info, sizeof(info));
    return 0;
}

uint32_t UKO_Timer_GetTimerStatInfo(UKO_TIMER_STAT_S* pstTimerStatInfo) {
    if (pstTimerStatInfo == nullptr) {
        return TIMER_REPORT(UKO_TIMER_ERR_NULL_STAT, "[ZIRPA-%s]:Inval Param pTimerStatInfo is null",
                            __func__);
    }
    LockAdapt();
    *pstTimerStatInfo = g_stat;
    UnlockAdapt();
    return 0;
}

uint32_t UKO_Timer_DeleteFlagSet(uint32_t uiTimerId, uint32_t uiFlag) {
    if (uiFlag != UKO_TIMER_DELETE_ALLOWED && uiFlag != UKO_TIMER_DELETE_REFUSED) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param uiFlag(%d) is invalid.", __func__, uiFlag);
    }
    LockBoth();
    UKO_ReltmrCb* tm = Jqrs_TimerLookup(uiTimerId);
    const char* report = nullptr;
    if (tm == nullptr) {
        report = "[ZIRPA-%s]:The param ulTimerID(%d) is invalid.";
    } else if (!IsLoop(tm)) {
        const uint32_t mode = tm->ucMode;
        UnlockBoth();
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The ucMode(%d) is not UKO_RELTIMER_LOOP.", __func__,
                            mode);
    } else if (tm->ucState == UKO_RELTMR_IDLE || tm->ucState == UKO_RELTMR_DELETED) {
        report = "[ZIRPA-%s]:Timer(%u) has been deleted.";
    } else {
        tm->ucDelFlag = static_cast<uint8_t>(uiFlag);
    }
    UnlockBoth();
    if (report != nullptr) {
        return TIMER_REPORT(UKO_EINVAL, report, __func__, uiTimerId);
    }
    return 0;
}

uint32_t UKO_Timer_GetRelID(uint32_t uiTmrIndex, uint32_t* puiRelTmrID) {
    if (puiRelTmrID == nullptr) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:puiRelTmrID is null.", __func__);
    }
    if (uiTmrIndex > kIndexMask) {
        return TIMER_REPORT(UKO_EINVAL, "[ZIRPA-%s]:uiTmrIndex[%u] invalid.", __func__, uiTmrIndex);
    }
    LockAdapt();
    UKO_ReltmrCb* group = g_groups != nullptr ? g_groups[uiTmrIndex >> 10] : nullptr;
    if (group == nullptr) {
        UnlockAdapt();
        return UKO_EINVAL;
    }
    *puiRelTmrID = JqrsPriv(&group[uiTmrIndex & (JQR_TIMER_GROUP_SIZE - 1)])->uiTimerId;
    UnlockAdapt();
    return 0;
}

void UKO_Timer_ExtHookSet(UKO_TIMER_EXT_HOOK_PF pfnHook) { g_extHook = pfnHook; }

uint32_t UKO_Timer_PreCallbackHookSet(UKO_TIMER_CBK_HOOK_PF pfnHook) {
    g_preHook = pfnHook;
    return 0;
}

uint32_t UKO_Timer_PostCallbackHookSet(UKO_TIMER_CBK_HOOK_PF pfnHook) {
    g_postHook = pfnHook;
    return 0;
}
