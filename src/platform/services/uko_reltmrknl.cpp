// Relative timer kernel: the timing wheel, its record pool, placement and removal, the
// per-tick harvest and the expiry processing, and the operations on one timer.
//
// Far timers keep their revolutions as differences from their predecessor in the slot's
// far list, so a visit of the slot only ever touches the head: the head loses one
// revolution, or expires and hands its (zero) difference on. The price is paid at
// placement, which walks the list as far as the new timer's expiry.

#include "uko_reltmrknl.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "../base/os_clock_inner.h"
#include "os_clock.h"
#include "os_time.h"
#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_errreport.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_reltmrknl_inner.h"
#include "uko_systime.h"
#include "uko_tick.h"

namespace {

#define RELTMR_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_RELTMRKNL, __VA_ARGS__)

constexpr uint32_t kMaxPoolRecords = 26843545;  // the largest count whose block fits in 32 bits

struct PoolBlock {
    PoolBlock* pstNext;
    UKO_ReltmrCb* pstFirst;
    UKO_ReltmrCb* pstLast;
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
bool g_lockMade = false;
std::atomic<bool> g_init{false};

uint32_t g_hasBit = 0;
uint32_t g_noPool = 0;
uint32_t g_balanceSwitch = 0;
uint32_t g_balanceLimit = 0;
uint32_t g_size = 0;
uint32_t g_slotMask = 0;
uint32_t g_revMask = 0;

UKO_ReltmrSlot* g_wheel = nullptr;
uint32_t g_cursor = 0;
uint32_t g_pending = 0;  // guarded by the clock lock

UKO_ReltmrCb* g_freeHead = nullptr;
UKO_ReltmrCb* g_freeTail = nullptr;
uint32_t g_freeNum = 0;
PoolBlock* g_blocks = nullptr;

UKO_ReltmrCb* g_allHead = nullptr;
UKO_ReltmrStat g_stat;
uint32_t g_hdlModIndex = 0xFFFFFFFFu;

std::atomic<UKO_RELTMR_ADAPT_HOOK_PF> g_adaptHook{nullptr};
std::atomic<UKO_RELTMR_DBG_HOOK_PF> g_dbgHook{nullptr};
UKO_RELTMR_POOL_GATE_PF g_poolGate = nullptr;

void Lock() { (void)OSAL_LockLock(&g_lock); }
void Unlock() { (void)OSAL_LockUnLock(&g_lock, 0); }

// Pending ticks are shared with the clock's VCLK task, which writes them under the
// clock lock. Before the clock exists nobody else writes them.
class ClockLocked {
public:
    ClockLocked() : m_lock(osClockLockGet()) {
        if (m_lock != nullptr) {
            (void)OSAL_LockLock(m_lock);
        }
    }
    ~ClockLocked() {
        if (m_lock != nullptr) {
            (void)OSAL_LockUnLock(m_lock, 0);
        }
    }
    ClockLocked(const ClockLocked&) = delete;
    ClockLocked& operator=(const ClockLocked&) = delete;

private:
    pthread_mutex_t* m_lock;
};

uint32_t PendingGet() {
    ClockLocked clock;
    return g_pending;
}

// ---- Circular rings through pstNext / pstPrev ------------------------------------------
void RingInsertBefore(UKO_ReltmrCb* pstAt, UKO_ReltmrCb* pstTm) {
    pstTm->pstNext = pstAt;
    pstTm->pstPrev = pstAt->pstPrev;
    pstAt->pstPrev->pstNext = pstTm;
    pstAt->pstPrev = pstTm;
}

void RingAppend(UKO_ReltmrCb** ppHead, UKO_ReltmrCb* pstTm) {
    if (*ppHead == nullptr) {
        pstTm->pstNext = pstTm;
        pstTm->pstPrev = pstTm;
        *ppHead = pstTm;
        return;
    }
    RingInsertBefore(*ppHead, pstTm);
}

void RingUnlink(UKO_ReltmrCb** ppHead, UKO_ReltmrCb* pstTm) {
    if (pstTm->pstNext == pstTm) {
        *ppHead = nullptr;
    } else {
        pstTm->pstPrev->pstNext = pstTm->pstNext;
        pstTm->pstNext->pstPrev = pstTm->pstPrev;
        if (*ppHead == pstTm) {
            *ppHead = pstTm->pstNext;
        }
    }
    pstTm->pstNext = nullptr;
    pstTm->pstPrev = nullptr;
}

// ---- The all-timers list ------------------------------------------------------------------
void AllAppend(UKO_ReltmrCb* pstTm) {
    if (g_allHead == nullptr) {
        pstTm->pstAllNext = pstTm;
        pstTm->pstAllPrev = pstTm;
        g_allHead = pstTm;
        return;
    }
    pstTm->pstAllNext = g_allHead;
    pstTm->pstAllPrev = g_allHead->pstAllPrev;
    g_allHead->pstAllPrev->pstAllNext = pstTm;
    g_allHead->pstAllPrev = pstTm;
}

bool AllUnlink(UKO_ReltmrCb* pstTm) {
    if (pstTm->pstAllNext == nullptr) {
        return false;
    }
    if (pstTm->pstAllNext == pstTm) {
        g_allHead = nullptr;
    } else {
        pstTm->pstAllPrev->pstAllNext = pstTm->pstAllNext;
        pstTm->pstAllNext->pstAllPrev = pstTm->pstAllPrev;
        if (g_allHead == pstTm) {
            g_allHead = pstTm->pstAllNext;
        }
    }
    pstTm->pstAllNext = nullptr;
    pstTm->pstAllPrev = nullptr;
    return true;
}

// ---- Pool -------------------------------------------------------------------------------------
void PoolPut(UKO_ReltmrCb* pstTm) {
    pstTm->ucState = UKO_RELTMR_IDLE;
    pstTm->uiHandle = UKO_RELTMR_HANDLE_FREE;
    pstTm->pstPrev = nullptr;
    pstTm->pstNext = nullptr;
    if (g_freeTail == nullptr) {
        g_freeHead = pstTm;
    } else {
        g_freeTail->pstNext = pstTm;
    }
    g_freeTail = pstTm;
    ++g_freeNum;
}

// A timer that ends: IDLE, its owner's variable cleared when it still names this
// record, out of the statistics, back to the pool's tail.
void TimerEnd(UKO_ReltmrCb* pstTm) {
    pstTm->ucState = UKO_RELTMR_IDLE;
    if (pstTm->phOwner != nullptr && *pstTm->phOwner == pstTm) {
        *pstTm->phOwner = nullptr;
    }
    pstTm->phOwner = nullptr;
    (void)ukoReltmrDbgHandleStatRemove(pstTm->uiHandle, pstTm);
    PoolPut(pstTm);
}

uint32_t CycleMissed(const UKO_ReltmrCb* pstTm) {
    const uint32_t late = g_cursor - pstTm->uiNextDue;
    if (pstTm->uiLenTick == 0 || late < pstTm->uiLenTick) {
        return 0;
    }
    return late / pstTm->uiLenTick;
}

// Kind 1: the expiry function runs with the kernel lock held.
void ExpireLocked(UKO_ReltmrCb* pstTm) {
    const bool loop = (pstTm->ucMode & UKO_RELTIMER_LOOP) != 0;
    const bool callback = (pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0;
    uint32_t count = 1;
    if ((pstTm->ucMode & UKO_RELTIMER_CYCLE_COMPENSATE) != 0) {
        pstTm->uiMissed = CycleMissed(pstTm);
        count = pstTm->uiMissed + 1;
    }
    if (!loop) {
        const bool out = pstTm->ucState == UKO_RELTMR_OUT;
        if (out && pstTm->pfnExpire != nullptr) {
            pstTm->pfnExpire(pstTm);
        }
        if (callback || out || pstTm->ulMsgInQueue == 0) {
            TimerEnd(pstTm);
        } else {
            pstTm->ucState = UKO_RELTMR_DELETED;
        }
        return;
    }
    for (uint32_t i = 0; i < count && pstTm->ucState == UKO_RELTMR_OUT; ++i) {
        if (pstTm->pfnExpire != nullptr) {
            pstTm->pfnExpire(pstTm);
        }
    }
    if (pstTm->ucState == UKO_RELTMR_OUT) {
        ukoRelTmInsert(pstTm);
    } else if (callback || pstTm->ulMsgInQueue == 0) {
        TimerEnd(pstTm);
    } else {
        pstTm->ucState = UKO_RELTMR_DELETED;
    }
}

// Kind 2: the expiry function runs with the kernel lock released, so it may call the
// timer operations. All message timers of one tick call go through the expiry function
// of the first message timer of that call.
void ExpireUnlocked(UKO_ReltmrCb* pstTm, UKO_RELTMR_EXPIRE_PF* ppfnMsg) {
    const bool loop = (pstTm->ucMode & UKO_RELTIMER_LOOP) != 0;
    const bool callback = (pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0;
    UKO_RELTMR_EXPIRE_PF pfn = pstTm->pfnExpire;
    if (!callback) {
        if (*ppfnMsg == nullptr) {
            *ppfnMsg = pstTm->pfnExpire;
        }
        pfn = *ppfnMsg;
    }
    auto call = [&](uint32_t count) {
        Unlock();
        for (uint32_t i = 0; i < count && pfn != nullptr; ++i) {
            pfn(pstTm);
        }
        Lock();
    };
    if (!loop) {
        // A timer stopped while it waited on this call's expired list delivers nothing:
        // its stop has already been answered with success.
        if (pstTm->ucState == UKO_RELTMR_OUT) {
            if (pstTm->phOwner != nullptr && *pstTm->phOwner == pstTm) {
                *pstTm->phOwner = nullptr;
            }
            pstTm->phOwner = nullptr;
            call(1);
        }
        TimerEnd(pstTm);
        return;
    }
    uint32_t count = 1;
    uint32_t missed = 0;
    if (!callback && (pstTm->ucMode & (UKO_RELTIMER_CYCLE_RECORD | UKO_RELTIMER_CYCLE_COMPENSATE)) != 0) {
        missed = CycleMissed(pstTm);
        if ((pstTm->ucMode & UKO_RELTIMER_CYCLE_COMPENSATE) != 0) {
            count = missed + 1;
            pstTm->uiMissed = 0;
        } else {
            pstTm->uiMissed = missed;
        }
    }
    if (callback ? pstTm->ucState == UKO_RELTMR_OUT : true) {
        call(count);
    }
    if (pstTm->ucState == UKO_RELTMR_OUT) {
        if (!callback && (pstTm->ucMode & UKO_RELTIMER_CYCLE_COMPENSATE) != 0) {
            pstTm->uiMissed = missed;
        }
        ukoRelTmInsert(pstTm);
    } else if (pstTm->ucState == UKO_RELTMR_PAUSEING) {
        pstTm->ucState = UKO_RELTMR_PAUSED;
    } else {
        TimerEnd(pstTm);
    }
}

// Runs over one tick call's expired list, taking each record off its head first.
void ExpiryProcess(UKO_ReltmrCb* pstList) {
    UKO_RELTMR_EXPIRE_PF msgFn = nullptr;
    while (pstList != nullptr) {
        UKO_ReltmrCb* tm = pstList;
        pstList = tm->pstNext;
        tm->pstNext = nullptr;
        tm->pstPrev = nullptr;
        tm->uiList = UKO_RELTMR_LIST_NEAR;
        switch (tm->uiKind) {
            case UKO_RELTMR_KIND_ADAPT: {
                UKO_RELTMR_ADAPT_HOOK_PF hook = g_adaptHook;
                if (hook != nullptr) {
                    Unlock();
                    hook(tm);
                    Lock();
                }
                break;
            }
            case UKO_RELTMR_KIND_LOCKED:
                ExpireLocked(tm);
                break;
            case UKO_RELTMR_KIND_UNLOCKED:
                ExpireUnlocked(tm, &msgFn);
                break;
            default:
                break;
        }
    }
}

uint32_t DueWord(uint32_t uiTarget, uint32_t uiLen) {
    return (uiTarget & g_slotMask) + ((uiLen - 1) & g_revMask);
}

// With balancing on, a timer moves up to 2 ticks later while its list is full.
void SlotBalance(uint32_t* puiTarget, uint32_t* puiLen) {
    for (int moves = 0; moves < 2; ++moves) {
        const UKO_ReltmrSlot& slot = g_wheel[*puiTarget & g_slotMask];
        const uint32_t num = *puiLen <= g_size ? slot.uiNearNum : slot.uiFarNum;
        if (num < g_balanceLimit) {
            return;
        }
        ++*puiTarget;
        ++*puiLen;
    }
}

void FarInsert(UKO_ReltmrSlot* pstSlot, UKO_ReltmrCb* pstTm) {
    pstTm->uiList = 1;
    ++pstSlot->uiFarNum;
    UKO_ReltmrCb* head = pstSlot->pstFar;
    if (head == nullptr) {
        RingAppend(&pstSlot->pstFar, pstTm);
        pstSlot->uiFarLastDue = pstTm->uiDue;
        return;
    }
    if (pstTm->uiDue <= head->uiDue) {
        head->uiDue -= pstTm->uiDue & g_revMask;
        RingInsertBefore(head, pstTm);
        pstSlot->pstFar = pstTm;
        return;
    }
    if (pstTm->uiDue < pstSlot->uiFarLastDue) {
        pstTm->uiDue -= head->uiDue & g_revMask;
        for (UKO_ReltmrCb* at = head->pstNext; at != head; at = at->pstNext) {
            if (at->uiDue >= pstTm->uiDue) {
                at->uiDue -= pstTm->uiDue & g_revMask;
                RingInsertBefore(at, pstTm);
                return;
            }
            pstTm->uiDue -= at->uiDue & g_revMask;
        }
        RingInsertBefore(head, pstTm);
        return;
    }
    pstTm->uiDue -= pstSlot->uiFarLastDue & g_revMask;
    pstSlot->uiFarLastDue += pstTm->uiDue & g_revMask;
    RingInsertBefore(head, pstTm);
}

}  // namespace

// ---- Start-up ---------------------------------------------------------------------------------

uint32_t ukoRelTmKnlInit(uint32_t /*uiUnused*/) {
    if (g_init) {
        return 0;
    }
    if (!g_lockMade) {
        (void)OSAL_LockCreate(&g_lock);
        g_lockMade = true;
    }
    g_hasBit = UKO_RELTMR_WHEEL_BITS;
    if (g_hasBit < 1 || g_hasBit > 31) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The config hasBit(%u) ->[1,31]!", __func__,
                             g_hasBit);
    }
    g_noPool = UKO_RELTMR_POOL_FIRST - 1;
    if (g_noPool + 1 > kMaxPoolRecords) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The config RelTmrNoPool(%u) exceed nomral num!",
                             __func__, g_noPool);
    }
    g_balanceLimit = 1000;
    g_balanceSwitch = 0;
    uint32_t rc = 0;
    if (g_wheel == nullptr && (rc = ukoRelTmWheelInit()) != 0) {
        return rc;
    }
    if (g_freeHead == nullptr && (rc = ukoRelTmPoolAdd(g_noPool + 1)) != 0) {
        return rc;
    }
    static bool hookMade = false;  // a retried start must not tick the wheel twice
    if (!hookMade) {
        if ((rc = UKO_TickCycleHookReg(ukoRelTmTick, 1)) != 0) {
            return rc;
        }
        hookMade = true;
    }
    (void)UKO_SystimeGet(&g_stat.stPeakTime);
    g_allHead = nullptr;
    if (g_hdlModIndex == 0xFFFFFFFFu) {
        rc = UKO_HandleModReg("Reltmr Handle Stat", &g_hdlModIndex);
        if (rc != 0) {
            g_hdlModIndex = 0xFFFFFFFFu;
            return RELTMR_REPORT(rc, "[ZIRPA-%s]:Module register failed.", __func__);
        }
    }
    (void)OS_ClockTickPassHookSet(ukoRelTmUpdateTickPass);
    g_init = true;
    return 0;
}

uint32_t ukoRelTmWheelInit() {
    g_size = 1u << g_hasBit;
    g_slotMask = g_size - 1;
    g_revMask = ~g_slotMask;
    g_cursor = 0;
    auto* wheel = static_cast<UKO_ReltmrSlot*>(
        UKO_MemAlloc(0, m_ucSysPtNo, static_cast<uint64_t>(g_size) * sizeof(UKO_ReltmrSlot)));
    if (wheel == nullptr) {
        return UKO_ENOMEM;
    }
    std::memset(wheel, 0, static_cast<size_t>(g_size) * sizeof(UKO_ReltmrSlot));
    g_wheel = wheel;
    return 0;
}

uint32_t ukoRelTmPoolAdd(uint32_t uiCount) {
    if (uiCount == 0 || uiCount > kMaxPoolRecords) {
        return UKO_ENOMEM;
    }
    if (g_poolGate != nullptr && !g_poolGate(uiCount)) {
        return UKO_ENOMEM;
    }
    const uint64_t bytes = static_cast<uint64_t>(uiCount) * sizeof(UKO_ReltmrCb);
    auto* records = static_cast<UKO_ReltmrCb*>(UKO_MemAlloc(0, m_ucSysPtNo, bytes));
    auto* block = static_cast<PoolBlock*>(UKO_MemAlloc(0, m_ucSysPtNo, sizeof(PoolBlock)));
    if (records == nullptr || block == nullptr) {
        if (records != nullptr) {
            (void)UKO_MemFree(0, records);
        }
        if (block != nullptr) {
            (void)UKO_MemFree(0, block);
        }
        return UKO_ENOMEM;
    }
    std::memset(static_cast<void*>(records), 0, static_cast<size_t>(bytes));
    for (uint32_t i = 0; i < uiCount; ++i) {
        records[i].ucState = UKO_RELTMR_IDLE;
        records[i].uiHandle = UKO_RELTMR_HANDLE_FREE;
        records[i].pstNext = i + 1 < uiCount ? &records[i + 1] : nullptr;
    }
    Lock();
    if (g_freeTail == nullptr) {
        g_freeHead = records;
    } else {
        g_freeTail->pstNext = records;
    }
    g_freeTail = &records[uiCount - 1];
    g_freeNum += uiCount;
    block->pstNext = nullptr;
    block->pstFirst = records;
    block->pstLast = &records[uiCount - 1];
    PoolBlock** link = &g_blocks;
    while (*link != nullptr) {
        link = &(*link)->pstNext;
    }
    *link = block;
    Unlock();
    return 0;
}

uint32_t ukoRelTmCbAlloc(void** ppPriv) {
    if (ppPriv == nullptr || !g_init) {
        return UKO_EINVAL;
    }
    Lock();
    // The free list never runs empty: the last record is handed out only after the
    // pool has grown behind it.
    if (g_freeHead->pstNext == nullptr && ukoRelTmPoolAdd(UKO_RELTMR_POOL_GROW) != 0) {
        Unlock();
        return UKO_ENOMEM;
    }
    UKO_ReltmrCb* tm = g_freeHead;
    g_freeHead = tm->pstNext;
    --g_freeNum;
    tm->pstNext = nullptr;
    tm->pstPrev = nullptr;
    Unlock();
    *ppPriv = tm->aucPriv;
    return 0;
}

UKO_ReltmrCb* ukoRelTmCbOfPriv(void* pPriv) {
    if (pPriv == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<UKO_ReltmrCb*>(static_cast<uint8_t*>(pPriv) -
                                           offsetof(UKO_ReltmrCb, aucPriv));
}

void ukoRelTmCbFree(uint32_t uiMode, void* pPriv) {
    if (pPriv == nullptr) {
        return;
    }
    if (uiMode == 0) {
        Lock();
        PoolPut(ukoRelTmCbOfPriv(pPriv));
        Unlock();
    } else if (uiMode == 1) {
        (void)UKO_MemFree(0, pPriv);
    }
}

// ---- Placement and removal ----------------------------------------------------------------

void ukoRelTmInsert(UKO_ReltmrCb* pstTm) {
    uint32_t len = 0;
    uint32_t target = 0;
    if ((pstTm->ucMode & (UKO_RELTIMER_CYCLE_RECORD | UKO_RELTIMER_CYCLE_COMPENSATE)) != 0) {
        pstTm->uiNextDue += pstTm->uiLenTick * (pstTm->uiMissed + 1);
        target = pstTm->uiNextDue;
        len = target - g_cursor;
        // A due tick that the wheel has already passed is due at the next tick; counted
        // as a distance it would wrap round to some 2^32 ticks.
        if (len == 0 || len > 0x7FFFFFFFu) {
            len = 1;
            target = g_cursor + 1;
        }
    } else {
        len = pstTm->uiLenTick + PendingGet();
        if (len == 0) {
            len = 1;
        }
        target = g_cursor + len;
        if (g_balanceSwitch != 0) {
            SlotBalance(&target, &len);
        }
    }
    pstTm->uiDue = DueWord(target, len);
    UKO_ReltmrSlot* slot = &g_wheel[target & g_slotMask];
    if (len <= g_size) {
        pstTm->uiList = 0;
        RingAppend(&slot->pstNear, pstTm);
        ++slot->uiNearNum;
    } else {
        FarInsert(slot, pstTm);
    }
    pstTm->ucState = UKO_RELTMR_TICKING;
}

void ukoRelTmRemove(UKO_ReltmrCb* pstTm) {
    if (pstTm == nullptr || pstTm->pstNext == nullptr) {
        return;
    }
    UKO_ReltmrSlot* slot = &g_wheel[pstTm->uiDue & g_slotMask];
    if (pstTm->uiList == 0) {
        RingUnlink(&slot->pstNear, pstTm);
        --slot->uiNearNum;
        return;
    }
    const uint32_t revs = pstTm->uiDue & g_revMask;
    UKO_ReltmrCb* head = slot->pstFar;
    if (pstTm->pstNext != pstTm) {
        if (pstTm->pstNext != head) {
            pstTm->pstNext->uiDue += revs;  // the successor takes the difference over
        } else {
            slot->uiFarLastDue -= revs;  // the last one leaves
        }
    }
    RingUnlink(&slot->pstFar, pstTm);
    --slot->uiFarNum;
}

// ---- The tick ---------------------------------------------------------------------------------

void ukoRelTmTick(uint32_t uiTicks) {
    if (!g_init) {
        return;
    }
    Lock();
    uint32_t cursor = g_cursor;
    g_cursor += uiTicks;
    {
        ClockLocked clock;
        g_pending = uiTicks < g_pending ? g_pending - uiTicks : 0;
    }
    UKO_ReltmrCb* expired = nullptr;
    UKO_ReltmrCb* expiredTail = nullptr;
    auto expire = [&](UKO_ReltmrCb* tm) {
        tm->ucState = UKO_RELTMR_OUT;
        tm->uiList = UKO_RELTMR_LIST_EXPIRED;
        tm->pstNext = nullptr;
        tm->pstPrev = expiredTail;
        if (expiredTail == nullptr) {
            expired = tm;
        } else {
            expiredTail->pstNext = tm;
        }
        expiredTail = tm;
    };
    for (uint32_t i = 0; i < uiTicks; ++i) {
        ++cursor;
        UKO_ReltmrSlot* slot = &g_wheel[cursor & g_slotMask];
        while (slot->pstNear != nullptr) {
            UKO_ReltmrCb* tm = slot->pstNear;
            RingUnlink(&slot->pstNear, tm);
            expire(tm);
        }
        slot->uiNearNum = 0;
        if (slot->pstFar == nullptr) {
            continue;
        }
        while (slot->pstFar != nullptr) {
            UKO_ReltmrCb* head = slot->pstFar;
            if (head->uiDue >= g_size) {
                head->uiDue -= g_size;
                break;
            }
            // The head's difference is zero, so its successor's stands as it is.
            RingUnlink(&slot->pstFar, head);
            --slot->uiFarNum;
            expire(head);
        }
        slot->uiFarLastDue -= g_size;
    }
    if (expired != nullptr) {
        ExpiryProcess(expired);
    }
    Unlock();
}

void ukoRelTmUpdateTickPass(uint32_t uiTicks) {
    g_pending += uiTicks;
    const uint32_t threshold = ukoCpuTickErrThresholdGet();
    if (threshold == 0) {
        return;
    }
    if (uiTicks == 1) {
        ukoCpuTickErrCountSet(0);
        return;
    }
    uint32_t errors = ukoCpuTickErrCountGet();
    if (errors < threshold) {
        ukoCpuTickErrCountSet(++errors);
    }
    if (errors >= threshold) {
        uint32_t base = 0;
        (void)UKO_CpuTickBaseGet(&base);
        (void)UKO_ErrnoSet(0xFFFFFFFFu);
        UKO_ErrorRecord(2, 0xFFFF, 0xFFFF, __FILE__, static_cast<uint16_t>(__LINE__),
                        "[ZIRPA-%s]:cputickbase %u, errorNum %u, lasttickpass %u", __func__, base,
                        threshold, uiTicks);
    }
}

void UKO_ReltmrAdvance(uint32_t uiMs) {
    if (uiMs != 0) {
        ukoRelTmTick(UKO_TickMs2Tick(uiMs));
    }
}

// ---- Statistics -------------------------------------------------------------------------------

uint32_t ukoReltmrDbgHandleStatAdd(uint32_t uiHandle, UKO_ReltmrCb* pstTm) {
    if (pstTm == nullptr || g_hdlModIndex == 0xFFFFFFFFu) {
        return UKO_EINVAL;
    }
    uint64_t* slot = nullptr;
    if (UKO_HandleDataSlotGet(uiHandle, g_hdlModIndex, &slot) != 0) {
        return UKO_EINVAL;
    }
    auto* st = reinterpret_cast<UKO_RELTMR_HDL_STAT*>(static_cast<uintptr_t>(*slot));
    if (st == nullptr) {
        st = static_cast<UKO_RELTMR_HDL_STAT*>(
            UKO_MemAlloc(0, m_ucSysPtNo, sizeof(UKO_RELTMR_HDL_STAT)));
        if (st == nullptr) {
            return UKO_ENOMEM;
        }
        std::memset(st, 0, sizeof(*st));
        *slot = reinterpret_cast<uintptr_t>(st);
    }
    pstTm->uiHandle = uiHandle;
    if (st->pstHead == nullptr) {
        pstTm->pstHdlNext = pstTm;
        pstTm->pstHdlPrev = pstTm;
        st->pstHead = pstTm;
    } else {
        pstTm->pstHdlNext = st->pstHead;
        pstTm->pstHdlPrev = st->pstHead->pstHdlPrev;
        st->pstHead->pstHdlPrev->pstHdlNext = pstTm;
        st->pstHead->pstHdlPrev = pstTm;
    }
    ++st->uiNum;
    if ((pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0) {
        ++st->uiCbkNum;
    }
    if (st->uiNum > st->uiPeakNum) {
        st->uiPeakNum = st->uiNum;
        (void)UKO_SystimeGet(&st->stPeakTime);
    }
    AllAppend(pstTm);
    ++g_stat.uiStartNum;
    ++g_stat.uiCurNum;
    if (g_stat.uiCurNum > g_stat.uiPeakNum) {
        g_stat.uiPeakNum = g_stat.uiCurNum;
        (void)UKO_SystimeGet(&g_stat.stPeakTime);
    }
    return 0;
}

uint32_t ukoReltmrDbgHandleStatRemove(uint32_t uiHandle, UKO_ReltmrCb* pstTm) {
    if (pstTm == nullptr) {
        return UKO_EINVAL;
    }
    // A record that was never counted (an adaptation timer, say) is not uncounted.
    if (AllUnlink(pstTm)) {
        ++g_stat.uiStopNum;
        if (g_stat.uiCurNum != 0) {
            --g_stat.uiCurNum;
        }
    }
    uint64_t* slot = nullptr;
    if (g_hdlModIndex == 0xFFFFFFFFu || UKO_HandleDataSlotGet(uiHandle, g_hdlModIndex, &slot) != 0) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:ppHead is NULL(%u).", __func__, uiHandle);
    }
    auto* st = reinterpret_cast<UKO_RELTMR_HDL_STAT*>(static_cast<uintptr_t>(*slot));
    if (st == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid handle ID(%u).", __func__, uiHandle);
    }
    if (pstTm->pstHdlNext == nullptr) {
        return 0;
    }
    if (pstTm->pstHdlNext == pstTm) {
        st->pstHead = nullptr;
    } else {
        pstTm->pstHdlPrev->pstHdlNext = pstTm->pstHdlNext;
        pstTm->pstHdlNext->pstHdlPrev = pstTm->pstHdlPrev;
        if (st->pstHead == pstTm) {
            st->pstHead = pstTm->pstHdlNext;
        }
    }
    pstTm->pstHdlNext = nullptr;
    pstTm->pstHdlPrev = nullptr;
    if ((pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0 && st->uiCbkNum != 0) {
        --st->uiCbkNum;
    }
    if (st->uiNum != 0) {
        --st->uiNum;
    }
    return 0;
}

UKO_RELTMR_HDL_STAT* ukoRelTmHdlStatGet(uint32_t uiHandle) {
    uint64_t* slot = nullptr;
    if (g_hdlModIndex == 0xFFFFFFFFu || UKO_HandleDataSlotGet(uiHandle, g_hdlModIndex, &slot) != 0) {
        return nullptr;
    }
    return reinterpret_cast<UKO_RELTMR_HDL_STAT*>(static_cast<uintptr_t>(*slot));
}

uint32_t ukoRelTmNameGet(const UKO_ReltmrCb* pstTm) {
    uint32_t name = 0;
    if ((pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0) {
        std::memcpy(&name, pstTm->aucPriv + offsetof(UKO_RELTMR_CBK_PRIV, uiName), sizeof(name));
    } else {
        std::memcpy(&name, pstTm->aucPriv + UKO_RELTMR_MSG_NAME_OFF, sizeof(name));
    }
    return name;
}

uint64_t ukoRelTmParam1Get(const UKO_ReltmrCb* pstTm) {
    uint64_t value = 0;
    if ((pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0) {
        std::memcpy(&value, pstTm->aucPriv + offsetof(UKO_RELTMR_CBK_PRIV, uvParam1), sizeof(value));
    } else {
        std::memcpy(&value, pstTm->aucPriv + UKO_RELTMR_MSG_PARAM1_OFF, sizeof(value));
    }
    return value;
}

uint64_t ukoRelTmParam2Get(const UKO_ReltmrCb* pstTm) {
    uint64_t value = 0;
    if ((pstTm->ucMode & UKO_RELTIMER_CALLBACK) != 0) {
        UKO_RELTMR_CBK_PF fn = nullptr;
        std::memcpy(&fn, pstTm->aucPriv + offsetof(UKO_RELTMR_CBK_PRIV, pfnCallback), sizeof(fn));
        value = reinterpret_cast<uintptr_t>(fn);
    } else {
        std::memcpy(&value, pstTm->aucPriv + UKO_RELTMR_MSG_PARAM2_OFF, sizeof(value));
    }
    return value;
}

uint32_t UKO_ReltmrBaseInfoGet(uint32_t* puiCount, UKO_ReltmrBaseInfo* pstInfo) {
    if (puiCount == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param puiCount(0x%p), pReltmrInfo(0x%p).",
                             __func__, static_cast<void*>(puiCount), static_cast<void*>(pstInfo));
    }
    if (pstInfo == nullptr || *puiCount == 0) {
        return RELTMR_REPORT(UKO_EINVAL,
                             "[ZIRPA-%s]:Inval Param puiCount(0x%p), pReltmrInfo(0x%p), *puiCount(%u).",
                             __func__, static_cast<void*>(puiCount), static_cast<void*>(pstInfo),
                             *puiCount);
    }
    Lock();
    uint32_t written = 0;
    if (g_stat.uiCurNum != 0 && g_allHead != nullptr) {
        const UKO_ReltmrCb* tm = g_allHead;
        do {
            UKO_ReltmrBaseInfo& e = pstInfo[written++];
            e.phOwner = tm->phOwner;
            e.uiLenMs = tm->uiLenMs;
            e.uiHandle = tm->uiHandle;
            e.uiName = ukoRelTmNameGet(tm);
            e.ucMode = tm->ucMode;
            e.ucMode2 = tm->ucMode2;
            e.usState = tm->ucState;
            e.uvParam1 = ukoRelTmParam1Get(tm);
            e.uvParam2 = ukoRelTmParam2Get(tm);
            tm = tm->pstAllNext;
        } while (tm != g_allHead && written < *puiCount);
    }
    *puiCount = written;
    Unlock();
    return 0;
}

uint32_t UKO_ReltmrCountGet() {
    Lock();
    const uint32_t n = g_stat.uiCurNum;
    Unlock();
    return n;
}

uint32_t UKO_ReltmrDbgHookSet(UKO_RELTMR_DBG_HOOK_PF pfnHook) {
    g_dbgHook = pfnHook;
    return 0;
}

const char* ukoRelTmStateName(uint32_t uiState) {
    switch (uiState) {
        case UKO_RELTMR_IDLE:
            return "IDLE";
        case UKO_RELTMR_TICKING:
            return "TICKING";
        case UKO_RELTMR_OUT:
            return "OUT";
        case UKO_RELTMR_PAUSEING:
            return "PAUSEING";
        case UKO_RELTMR_PAUSED:
            return "PAUSED";
        case UKO_RELTMR_DELETED:
            return "DELETED";
        case UKO_RELTMR_OUTSEND:
            return "OUTSEND";
        case UKO_RELTMR_DELETED_INQ:
            return "DELETED_INQ";
        default:
            return "ERROR";
    }
}

void ukoRelTmAdaptHookSet(UKO_RELTMR_ADAPT_HOOK_PF pfnHook) { g_adaptHook = pfnHook; }

void ukoRelTmLock() { Lock(); }
void ukoRelTmUnlock() { Unlock(); }

uint32_t ukoRelTmPendingGet() { return PendingGet(); }
uint32_t ukoRelTmCursorGet() { return g_cursor; }
const UKO_ReltmrSlot* ukoRelTmSlotGet(uint32_t uiSlot) {
    return g_wheel == nullptr ? nullptr : &g_wheel[uiSlot & g_slotMask];
}
uint32_t ukoRelTmFreeNumGet() { return g_freeNum; }
void ukoRelTmStatGet(UKO_ReltmrStat* pstStat) {
    Lock();
    *pstStat = g_stat;
    Unlock();
}
UKO_ReltmrCb* ukoRelTmAllHeadGet() { return g_allHead; }
void ukoRelTmPoolGateSet(UKO_RELTMR_POOL_GATE_PF pfnGate) { g_poolGate = pfnGate; }

// ---- Operations on one timer ---------------------------------------------------------------

uint32_t ukoRelTmWheelRemain(const UKO_ReltmrCb* pstTm, uint32_t* puiTicks) {
    const uint32_t slotNo = pstTm->uiDue & g_slotMask;
    const uint32_t cur = g_cursor & g_slotMask;
    const uint32_t d = slotNo > cur ? slotNo - cur : g_size - cur + slotNo;
    const UKO_ReltmrSlot& slot = g_wheel[slotNo];
    const UKO_ReltmrCb* head = pstTm->uiList == 0 ? slot.pstNear : slot.pstFar;
    uint32_t revs = 0;
    if (head != nullptr) {
        const UKO_ReltmrCb* at = head;
        do {
            revs += at->uiDue >> g_hasBit;
            if (at == pstTm) {
                *puiTicks = pstTm->uiList == 0 ? d : d + revs * g_size;
                return 0;
            }
            at = at->pstNext;
        } while (at != head);
    }
    (void)UKO_ErrnoSet(UKO_EINVAL);
    return 0xFFFFFFFFu;
}

uint32_t ukoRelImpTimerStop(UKO_ReltmrCb* pstTm) {
    if (pstTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param hTm is null.", __func__);
    }
    switch (pstTm->ucState) {
        case UKO_RELTMR_TICKING:
            ukoRelTmRemove(pstTm);
            TimerEnd(pstTm);
            return 0;
        case UKO_RELTMR_OUT:
        case UKO_RELTMR_PAUSEING:
            // The expiry processing holds the record and ends it when it gets there.
            pstTm->ucState = UKO_RELTMR_DELETED;
            pstTm->phOwner = nullptr;
            return 0;
        case UKO_RELTMR_PAUSED:
            TimerEnd(pstTm);
            return 0;
        default:
            return UKO_EINVAL;
    }
}

uint32_t UKO_ReltmrStop(UKO_RELTMR_HANDLE phTm) {
    if (phTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm is null.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm(0x%p) of *phTm is null.",
                             __func__, static_cast<void*>(phTm));
    }
    const uint32_t rc = ukoRelImpTimerStop(tm);
    // A stopped timer whose expiry is still running is ended there later and its
    // record reused: the caller's variable must not keep naming it.
    if (rc == 0 && *phTm == tm) {
        *phTm = nullptr;
    }
    Unlock();
    return rc;
}

uint32_t UKO_ReltmrStatusGet(UKO_ReltmrCb* pstTm, uint32_t* puiStatus) {
    if (pstTm == nullptr || puiStatus == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param hTm or puiStatus is null.", __func__);
    }
    Lock();
    *puiStatus = pstTm->ucState;
    Unlock();
    return 0;
}

uint32_t UKO_ReltmrRemainTimeGet(UKO_RELTMR_HANDLE phTm, uint32_t* puiTicks) {
    if (puiTicks == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param puiTicks is null.", __func__);
    }
    if (phTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm is null.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm(0x%p) of *phTm is null.",
                             __func__, static_cast<void*>(phTm));
    }
    uint32_t ticks = 0;
    switch (tm->ucState) {
        case UKO_RELTMR_OUT:
            ticks = 0;
            break;
        case UKO_RELTMR_PAUSED:
        case UKO_RELTMR_PAUSEING:
            ticks = tm->uiLenTick;
            break;
        case UKO_RELTMR_IDLE:
        case UKO_RELTMR_DELETED:
            Unlock();
            return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer's status is not supported!", __func__);
        default:
            if (ukoRelTmWheelRemain(tm, &ticks) != 0) {
                Unlock();
                (void)RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer do not exist.", __func__);
                return 0xFFFFFFFFu;
            }
            break;
    }
    const uint32_t pending = PendingGet();
    Unlock();
    if (pending != 0) {
        ticks = ticks > pending ? ticks - pending : 0;
    }
    *puiTicks = ticks;
    return 0;
}

uint32_t UKO_ReltmrPause(UKO_RELTMR_HANDLE phTm) {
    uint32_t remain = 0;
    if (UKO_ReltmrRemainTimeGet(phTm, &remain) != 0) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Failed to get remained time.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm(0x%p) of *phTm is null.",
                             __func__, static_cast<void*>(phTm));
    }
    const bool loop = (tm->ucMode & UKO_RELTIMER_LOOP) != 0;
    const uint8_t state = tm->ucState;
    if (state == UKO_RELTMR_TICKING) {
        ukoRelTmRemove(tm);
        if (!loop) {
            uint32_t msHigh = 0;
            uint32_t msLow = 0;
            (void)UKO_Tick2Ms(0, remain, &msHigh, &msLow);
            tm->uiLenTick = remain;
            tm->uiLenMs = msLow;
        }
        tm->ucState = UKO_RELTMR_PAUSED;
        Unlock();
        return 0;
    }
    if (state == UKO_RELTMR_OUT && loop) {
        tm->ucState = UKO_RELTMR_PAUSEING;
        Unlock();
        return 0;
    }
    Unlock();
    return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Reltimer(0x%p) can't pause when status is %s.",
                         __func__, static_cast<void*>(phTm), ukoRelTmStateName(state));
}

uint32_t UKO_ReltmrResume(UKO_RELTMR_HANDLE phTm) {
    if (phTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param phTm is null.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pTemphTm is null.", __func__);
    }
    const uint8_t state = tm->ucState;
    if (state == UKO_RELTMR_PAUSEING) {
        tm->ucState = UKO_RELTMR_OUT;
        Unlock();
        return 0;
    }
    if (state == UKO_RELTMR_PAUSED) {
        ukoRelTmInsert(tm);
        Unlock();
        return 0;
    }
    Unlock();
    return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Reltimer(0x%p) can't resume when status is %s.",
                         __func__, static_cast<void*>(phTm), ukoRelTmStateName(state));
}

uint32_t UKO_ReltmrRestart(UKO_RELTMR_HANDLE phTm) {
    if (phTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm is null.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pTmInfo is null.", __func__);
    }
    const uint8_t state = tm->ucState;
    if (state == UKO_RELTMR_TICKING) {
        ukoRelTmRemove(tm);
        ukoRelTmInsert(tm);
        Unlock();
        return 0;
    }
    Unlock();
    if (state == UKO_RELTMR_OUT) {
        return 0;
    }
    return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s] Reltimer(0x%p) can't restart when status is %s.",
                         __func__, static_cast<void*>(tm), ukoRelTmStateName(state));
}

uint32_t UKO_ReltmrResize(UKO_RELTMR_HANDLE phTm, uint32_t uiNewLenMs) {
    if (phTm == nullptr) {
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param phTm is null.", __func__);
    }
    Lock();
    UKO_ReltmrCb* tm = *phTm;
    if (tm == nullptr) {
        Unlock();
        return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pTmInfo is null.", __func__);
    }
    switch (tm->ucState) {
        case UKO_RELTMR_TICKING:
            ukoRelTmRemove(tm);
            tm->uiLenMs = uiNewLenMs;
            tm->uiLenTick = UKO_TickMs2Tick(uiNewLenMs);
            ukoRelTmInsert(tm);
            break;
        case UKO_RELTMR_OUT:
        case UKO_RELTMR_PAUSEING:
        case UKO_RELTMR_PAUSED:
            tm->uiLenMs = uiNewLenMs;
            tm->uiLenTick = UKO_TickMs2Tick(uiNewLenMs);
            break;
        default:
            Unlock();
            return RELTMR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Timer's state is not supported!", __func__);
    }
    Unlock();
    return 0;
}
