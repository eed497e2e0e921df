// The system tick: the 64-bit tick count, its conversions and the tick hooks.
//
// The count has one writer, the OS clock's VCLK task, and readers in every task that
// must never block (queue time-outs and timers read it on every operation). It is kept
// in two banks with a sequence word: before changing bank 0 the writer saves it into
// bank 1 and makes the sequence odd, and it makes the sequence even again once bank 0
// is complete. A reader takes the bank the sequence points at (bank 1 while it is odd)
// and reads again if the sequence has moved meanwhile: a reader that overlaps one
// update reads the bank that update is not writing, and one delayed across a whole
// update notices. Every word is an atomic read or written on its own, and the fences
// order them.

#include "uko_tick.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <new>

#include "../base/os_clock_inner.h"
#include "os_clock.h"
#include "os_time.h"
#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_secfunc.h"
#include "uko_tick_inner.h"

namespace {

#define TICK_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_TICK, __VA_ARGS__)

// ---- The tick record -----------------------------------------------------------------------

struct TickBank {
    std::atomic<uint32_t> uiTickHigh{0};
    std::atomic<uint32_t> uiTickLow{0};
    std::atomic<uint32_t> uiCpuTickLow{0};
    std::atomic<uint32_t> uiCpuTickHigh{0};
    std::atomic<uint32_t> uiRemainder{0};
};

TickBank g_banks[2];
std::atomic<uint32_t> g_sequence{0};

std::atomic<UKO_TICK_MID_UPDATE_PF> g_midUpdateHook{nullptr};

void BankLoad(const TickBank& bank, UKO_TICK_BANK_S* pstOut) {
    pstOut->uiTickHigh = bank.uiTickHigh.load(std::memory_order_relaxed);
    pstOut->uiTickLow = bank.uiTickLow.load(std::memory_order_relaxed);
    pstOut->uiCpuTickLow = bank.uiCpuTickLow.load(std::memory_order_relaxed);
    pstOut->uiCpuTickHigh = bank.uiCpuTickHigh.load(std::memory_order_relaxed);
    pstOut->uiRemainder = bank.uiRemainder.load(std::memory_order_relaxed);
}

void BankStore(TickBank& bank, const UKO_TICK_BANK_S& value) {
    bank.uiTickHigh.store(value.uiTickHigh, std::memory_order_relaxed);
    bank.uiTickLow.store(value.uiTickLow, std::memory_order_relaxed);
    bank.uiCpuTickLow.store(value.uiCpuTickLow, std::memory_order_relaxed);
    bank.uiCpuTickHigh.store(value.uiCpuTickHigh, std::memory_order_relaxed);
    bank.uiRemainder.store(value.uiRemainder, std::memory_order_relaxed);
}

// Reads the bank in force; only the tick words when bFull is false.
void RecordRead(UKO_TICK_BANK_S* pstOut, bool bFull) {
    for (;;) {
        const uint32_t seq = g_sequence.load(std::memory_order_acquire);
        const TickBank& bank = g_banks[seq & 1];
        if (bFull) {
            BankLoad(bank, pstOut);
        } else {
            pstOut->uiTickHigh = bank.uiTickHigh.load(std::memory_order_relaxed);
            pstOut->uiTickLow = bank.uiTickLow.load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (g_sequence.load(std::memory_order_relaxed) == seq) {
            return;
        }
    }
}

uint64_t Join(uint32_t uiHigh, uint32_t uiLow) { return (static_cast<uint64_t>(uiHigh) << 32) | uiLow; }

// ---- Tick hooks ------------------------------------------------------------------------------

std::atomic<uint32_t> g_tickInitDone{0};
std::atomic<uint32_t> g_cycleInitDone{0};
// The operation that adds to the OS clock's tick-hook list, remembered at start-up.
uint32_t (*g_clockHookAdd)(OS_CLOCK_COUNT_HOOK_PF) = nullptr;

// The slots, published once made; slot writes and the used count are under the
// tick-hook lock, and a slot below the count is never written again.
std::atomic<UKO_TICK_HOOK_PF*> g_hookTable{nullptr};
uint32_t g_hookCount = 0;
pthread_mutex_t g_hookLock;

// ---- Cycle hooks -----------------------------------------------------------------------------
// Walked oldest first by TICK without a lock; a node is complete, its next link already
// at the head, before its predecessor's next link publishes it. Appends are serialised
// among themselves so that two registrations cannot lose one another.
struct CycleNode {
    std::atomic<CycleNode*> pstNext;
    CycleNode* pstPrev;
    uint32_t uiPeriod;
    uint32_t uiCounter;  // ticks gathered since the hook last ran; TICK only
    UKO_TICK_HOOK_PF pfnHook;
};
CycleNode g_everyTick{{&g_everyTick}, &g_everyTick, 0, 0, nullptr};
CycleNode g_periodic{{&g_periodic}, &g_periodic, 0, 0, nullptr};
pthread_mutex_t g_cycleAppendLock = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

// ---- Counting and reading ------------------------------------------------------------------

void ukoTickUpdate(uint32_t uiMs) {
    const uint32_t n = uiMs / OS_MsPerTickGet();
    UKO_TICK_BANK_S current{};
    BankLoad(g_banks[0], &current);
    BankStore(g_banks[1], current);

    const uint32_t seq = g_sequence.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    g_sequence.store(seq + 1, std::memory_order_relaxed);  // odd: readers take bank 1
    std::atomic_thread_fence(std::memory_order_release);

    UKO_TICK_MID_UPDATE_PF mid = g_midUpdateHook.load(std::memory_order_acquire);
    if (mid != nullptr) {
        mid();
    }

    UKO_TICK_BANK_S next = current;
    next.uiTickLow = current.uiTickLow + n;
    if (next.uiTickLow < current.uiTickLow) {
        next.uiTickHigh = current.uiTickHigh + 1;
    }
    ukoCpuTickPrevGet(&next.uiCpuTickLow, &next.uiCpuTickHigh);
    next.uiRemainder = osClockRemainderGet();
    BankStore(g_banks[0], next);

    std::atomic_thread_fence(std::memory_order_release);
    g_sequence.store(seq + 2, std::memory_order_relaxed);  // even: bank 0 again
}

void ukoTickBankRead(UKO_TICK_BANK_S* pstBank) {
    if (pstBank != nullptr) {
        RecordRead(pstBank, true);
    }
}

void ukoTickMidUpdateHookSet(UKO_TICK_MID_UPDATE_PF pfnHook) {
    g_midUpdateHook.store(pfnHook, std::memory_order_release);
}

namespace {

uint32_t TickGet(uint32_t* puiHigh, uint32_t* puiLow, const char* pcFn) {
    if (puiHigh == nullptr || puiLow == nullptr) {
        return TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Inval Param puiHigh(0x%p), puiLow(0x%p).", pcFn,
                           static_cast<void*>(puiHigh), static_cast<void*>(puiLow));
    }
    UKO_TICK_BANK_S bank{};
    RecordRead(&bank, false);
    *puiHigh = bank.uiTickHigh;
    *puiLow = bank.uiTickLow;
    return 0;
}

}  // namespace

uint32_t UKO_TickGet(uint32_t* puiHigh, uint32_t* puiLow) {
    return TickGet(puiHigh, puiLow, "UKO_TickGet");
}

uint32_t ukoTickGet(uint32_t* puiHigh, uint32_t* puiLow) {
    return TickGet(puiHigh, puiLow, "ukoTickGet");
}

uint32_t UKO_TickLowGet(uint32_t* puiLow) {
    if (puiLow == nullptr) {
        return UKO_EINVAL;
    }
    const uint32_t seq = g_sequence.load(std::memory_order_acquire);
    *puiLow = g_banks[seq & 1].uiTickLow.load(std::memory_order_relaxed);
    return 0;
}

// ---- Conversions -----------------------------------------------------------------------------

uint32_t UKO_Tick2Ms(uint32_t uiTickHigh, uint32_t uiTickLow, uint32_t* puiMsHigh,
                     uint32_t* puiMsLow) {
    if (puiMsHigh == nullptr || puiMsLow == nullptr) {
        return TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Inval Param puiMsHigh(0x%p), puiMsLow(0x%p).",
                           "UKO_Tick2Ms", static_cast<void*>(puiMsHigh),
                           static_cast<void*>(puiMsLow));
    }
    // The multiplication itself tells whether the product fits: no bound to divide out
    // or to keep in step with the tick configuration.
    uint64_t ms = 0;
    if (__builtin_mul_overflow(Join(uiTickHigh, uiTickLow), static_cast<uint64_t>(OS_MsPerTickGet()),
                               &ms)) {
        return UKO_TICK_FAIL;
    }
    *puiMsHigh = static_cast<uint32_t>(ms >> 32);
    *puiMsLow = static_cast<uint32_t>(ms);
    return 0;
}

uint32_t UKO_TickMs2Tick(uint32_t uiMs) { return uiMs / OS_MsPerTickGet(); }

uint32_t UKO_TickSec2Tick(uint32_t uiSeconds) {
    const uint32_t perSec = OS_TickPerSecGet();
    const uint32_t limit = 0xFFFFFFFFu / perSec;
    if (uiSeconds > limit) {
        (void)TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Input second(%u) is out of the range [0, %u].",
                          "UKO_TickSec2Tick", uiSeconds, limit);
        return UKO_TICK_FAIL;
    }
    return uiSeconds * perSec;
}

uint32_t UKO_TickTick2Sec(uint32_t uiTicks) { return uiTicks / OS_TickPerSecGet(); }

uint32_t UKO_TickPerSecGet() { return OS_TickPerSecGet(); }

// ---- Now ------------------------------------------------------------------------------------------

namespace {

uint32_t MillSecNow(uint32_t* puiMillSecHigh, uint32_t* puiMillSecLow, const char* pcFn) {
    if (puiMillSecHigh == nullptr || puiMillSecLow == nullptr) {
        return TICK_REPORT(UKO_EINVAL,
                           "[ZIRPA:%s]:Inval Param puiMillSecHigh(0x%p), puiMillSecLow(0x%p).", pcFn,
                           static_cast<void*>(puiMillSecHigh), static_cast<void*>(puiMillSecLow));
    }
    uint32_t high = 0;
    uint32_t low = 0;
    (void)UKO_TickGet(&high, &low);
    return UKO_Tick2Ms(high, low, puiMillSecHigh, puiMillSecLow) == 0 ? 0 : UKO_TICK_FAIL;
}

}  // namespace

uint32_t UKO_MillSecNow(uint32_t* puiMillSecHigh, uint32_t* puiMillSecLow) {
    return MillSecNow(puiMillSecHigh, puiMillSecLow, "UKO_MillSecNow");
}

uint32_t UKO_SecondNow(uint32_t* puiSecond, uint32_t* puiMillSec) {
    if (puiSecond == nullptr || puiMillSec == nullptr) {
        return TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Inval Param puiSecond(0x%p), puiMillSec(0x%p).",
                           "UKO_SecondNow", static_cast<void*>(puiSecond),
                           static_cast<void*>(puiMillSec));
    }
    uint32_t high = 0;
    uint32_t low = 0;
    if (UKO_MillSecNow(&high, &low) != 0) {
        return UKO_TICK_FAIL;
    }
    // Milliseconds below 2^48 (the top 16 bits of the high word are not used).
    const uint64_t ms = Join(high & 0xFFFFu, low);
    *puiSecond = static_cast<uint32_t>(ms / 1000);
    *puiMillSec = static_cast<uint32_t>(ms % 1000);
    return 0;
}

uint32_t UKO_HiPrecisionMsNow(uint32_t* puiMillSecHigh, uint32_t* puiMillSecLow) {
    if (puiMillSecHigh == nullptr || puiMillSecLow == nullptr) {
        return TICK_REPORT(UKO_EINVAL,
                           "[ZIRPA:%s]:Inval Param puiMillSecHigh(0x%p), puiMillSecLow(0x%p).",
                           "UKO_HiPrecisionMsNow", static_cast<void*>(puiMillSecHigh),
                           static_cast<void*>(puiMillSecLow));
    }
    UKO_TICK_BANK_S bank{};
    RecordRead(&bank, true);
    // The part of a tick that has passed since the last update: the counter's advance
    // since the reading the update was measured at, plus what that measurement left
    // over. A conversion that fails adds nothing rather than an unknown value.
    uint64_t extraMs = 0;
    const uint64_t reading = Join(bank.uiCpuTickHigh, bank.uiCpuTickLow);
    if (reading != 0) {
        uint32_t nowLow = 0;
        uint32_t nowHigh = 0;
        OS_CpuTickGet(&nowLow, &nowHigh);
        const uint64_t now = Join(nowHigh, nowLow);
        // A counter that has not moved since the update still owes the remainder.
        if (UKO_CpuTickCountUp() == 1 && reading <= now) {
            const uint64_t extra = (now - reading) + bank.uiRemainder;
            UKO_CPUTICK_S cpuTicks{static_cast<uint32_t>(extra), static_cast<uint32_t>(extra >> 32)};
            uint32_t msHigh = 0;
            uint32_t msLow = 0;
            if (UKO_CpuTick2Ms(&cpuTicks, &msHigh, &msLow) == 0) {
                extraMs = Join(msHigh, msLow);
            }
        }
    }
    const uint64_t ms = Join(bank.uiTickHigh, bank.uiTickLow) * OS_MsPerTickGet() + extraMs;
    *puiMillSecHigh = static_cast<uint32_t>(ms >> 32);
    *puiMillSecLow = static_cast<uint32_t>(ms);
    return 0;
}

// ---- Tick hooks --------------------------------------------------------------------------------

uint32_t UKO_TickInit(uint32_t /*uiUnused*/) {
    if (g_tickInitDone.load(std::memory_order_acquire) != 0) {
        return 0;
    }
    g_clockHookAdd = OS_ClockTickHookAdd;
    // A table made by an earlier, failed call is kept with the hooks it already holds.
    if (g_hookTable.load(std::memory_order_acquire) == nullptr) {
        const uint64_t bytes = sizeof(UKO_TICK_HOOK_PF) * UKO_TICK_HOOK_MAX;
        auto* table = static_cast<UKO_TICK_HOOK_PF*>(UKO_MemAlloc(0, m_ucSysPtNo, bytes));
        if (table == nullptr) {
            return TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Init tick hook error with no mem.",
                               "UKO_TickInit");
        }
        std::memset(table, 0, bytes);
        g_hookCount = 0;
        (void)OSAL_LockCreate(&g_hookLock);
        g_hookTable.store(table, std::memory_order_release);
    }
    uint32_t rc = OS_ClockTickCountHookSet(ukoTickUpdate);
    if (rc != 0) {
        return rc;
    }
    rc = g_clockHookAdd(ukoTickHookDispatch);
    if (rc == 0) {
        g_tickInitDone.store(1, std::memory_order_release);
    }
    return rc;
}

uint32_t UKO_TickHookReg(UKO_TICK_HOOK_PF pfnHook) {
    static const char kFn[] = "UKO_TickHookReg";
    if (pfnHook == nullptr) {
        return TICK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Input Param pfnHook is null.", kFn);
    }
    UKO_TICK_HOOK_PF* table = g_hookTable.load(std::memory_order_acquire);
    if (table != nullptr) {
        (void)OSAL_LockLock(&g_hookLock);
        if (g_hookCount < UKO_TICK_HOOK_MAX) {
            table[g_hookCount] = pfnHook;
            ++g_hookCount;
            (void)OSAL_LockUnLock(&g_hookLock, 0);
            return 0;
        }
        (void)OSAL_LockUnLock(&g_hookLock, 0);
    }
    (void)UKO_ErrnoSet(UKO_EINVAL);
    UKO_ErrorRecord(2, UKO_EINVAL, UKO_MID_TICK, __FILE__, static_cast<uint16_t>(__LINE__),
                    "[ZIRPA:%s]:Not Free Tickhook.", kFn);
    return UKO_ENOMEM;
}

void ukoTickHookDispatch(uint32_t uiMs) {
    UKO_TICK_HOOK_PF* table = g_hookTable.load(std::memory_order_acquire);
    if (table == nullptr) {
        return;
    }
    const uint32_t n = uiMs / OS_MsPerTickGet();
    (void)OSAL_LockLock(&g_hookLock);
    const uint32_t count = g_hookCount;
    (void)OSAL_LockUnLock(&g_hookLock, 0);
    for (uint32_t i = 0; i < count; ++i) {
        table[i](n);
    }
}

uint32_t ukoTickCycleHookInit(uint32_t /*uiUnused*/) {
    if (g_cycleInitDone.load(std::memory_order_acquire) != 0) {
        return 0;
    }
    const uint32_t rc = UKO_TickHookReg(ukoTickCycleHookDispatch);
    if (rc == 0) {
        g_cycleInitDone.store(1, std::memory_order_release);
    }
    return rc;
}

uint32_t UKO_TickCycleHookReg(UKO_TICK_HOOK_PF pfnHook, uint32_t uiPeriod) {
    if (pfnHook == nullptr || uiPeriod == 0) {
        return UKO_EINVAL;
    }
    void* mem = UKO_MemAlloc(0, m_ucSysPtNo, sizeof(CycleNode));
    if (mem == nullptr) {
        return UKO_ENOMEM;
    }
    CycleNode* head = uiPeriod == 1 ? &g_everyTick : &g_periodic;
    auto* node = new (mem) CycleNode{{head}, nullptr, uiPeriod, 0, pfnHook};
    (void)pthread_mutex_lock(&g_cycleAppendLock);
    CycleNode* tail = head->pstPrev;
    node->pstPrev = tail;
    tail->pstNext.store(node, std::memory_order_release);
    head->pstPrev = node;
    (void)pthread_mutex_unlock(&g_cycleAppendLock);
    return 0;
}

void ukoTickCycleHookDispatch(uint32_t uiTicks) {
    for (CycleNode* node = g_everyTick.pstNext.load(std::memory_order_acquire); node != &g_everyTick;
         node = node->pstNext.load(std::memory_order_acquire)) {
        node->pfnHook(uiTicks);
    }
    for (CycleNode* node = g_periodic.pstNext.load(std::memory_order_acquire); node != &g_periodic;
         node = node->pstNext.load(std::memory_order_acquire)) {
        node->uiCounter += uiTicks;
        if (node->uiCounter >= node->uiPeriod) {
            const uint32_t gathered = node->uiCounter;
            node->uiCounter = 0;
            node->pfnHook(gathered);
        }
    }
}
