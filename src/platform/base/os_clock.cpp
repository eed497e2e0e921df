// The OS clock: the tasks "VCLK" and "TICK", their hooks, and the global lock.
//
// VCLK counts ticks from the CPU tick counter rather than from its own wake-ups: a
// sleep of one tick always lasts a little longer than a tick, and a busy machine may
// hold the task up for many, so counting wake-ups would drift. Each cycle measures the
// exact 64-bit counter difference since the previous cycle, adds the part of a tick
// left over last time and counts the whole ticks in it; the rest is carried on.
//
// Lock use: the clock lock is held by VCLK only around the measurement and the three
// hooks that must see the count at once (the relative-timer kernel and the tick module
// register there and take no further lock of this module); TICK holds it only to take
// the pending ticks. The post hooks, the wake-up and every TICK hook run without it, so
// that a hook may take a lock under which others take the clock lock.

#include "os_clock.h"

#include <pthread.h>
#include <sys/select.h>

#include <atomic>
#include <new>

#include "os_clock_inner.h"
#include "os_sema.h"
#include "os_time.h"
#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_cputick.h"
#include "uko_mempt.h"
#include "uko_task.h"

namespace {

// ---- Global lock ----------------------------------------------------------------------

pthread_mutex_t g_globalLock;
pthread_once_t g_globalLockOnce = PTHREAD_ONCE_INIT;
uint32_t g_globalLockCreateResult = UKO_EINVAL;

void GlobalLockCreate() { g_globalLockCreateResult = OSAL_LockCreate(&g_globalLock); }

// ---- Task parameters --------------------------------------------------------------------

struct ClockTaskParam {
    const char* pcName;
    uint32_t uiPriority;
    uint64_t uvStackSize;
    UKO_TASK_ENTRY_PF pfnEntry;
};
constexpr uint32_t kClockTaskPrio = 250;
constexpr uint64_t kClockTaskStack = 32768;
constexpr uint32_t kNoTask = UKO_TASK_ID_NONE;

ClockTaskParam g_vclkParam;
ClockTaskParam g_tickParam;

// ---- Clock state --------------------------------------------------------------------------

std::atomic<uint32_t> g_initialised{0};
std::atomic<uint32_t> g_vclkTaskId{kNoTask};
std::atomic<uint32_t> g_tickTaskId{kNoTask};
std::atomic<void*> g_tickSem{nullptr};  // "SEM_TM_ISR"

pthread_mutex_t g_hookListLock;  // insertion into the tick-hook list
pthread_mutex_t g_clockLock;     // the pending ticks; VCLK's measurement and first hooks
std::atomic<bool> g_locksMade{false};

std::atomic<uint32_t> g_baseCopy{0};  // CPU ticks per OS tick

// VCLK's own words: only the thread that runs VCLK cycles touches them.
uint32_t g_vclkRemainder = 0;
uint32_t g_vclkFirstCycle = 1;

std::atomic<uint32_t> g_publishedRemainder{0};
uint32_t g_pendingTicks = 0;  // under the clock lock
std::atomic<uint32_t> g_tickSignal{0};

std::atomic<uint32_t> g_jumpThreshold{0xFFFFFFFFu};
std::atomic<OS_CLOCK_HOOK_PF> g_jumpHook{nullptr};

std::atomic<OS_CLOCK_COUNT_HOOK_PF> g_tickPassHook{nullptr};
std::atomic<OS_CLOCK_COUNT_HOOK_PF> g_msPassHook{nullptr};
std::atomic<OS_CLOCK_COUNT_HOOK_PF> g_tickCountHook{nullptr};
std::atomic<OS_CLOCK_ELAPSE_HOOK_PF> g_elapseHook{nullptr};
std::atomic<OS_CLOCK_ELAPSE_HOOK_PF> g_elapseHook2{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_postHook1{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_postHook2{nullptr};
std::atomic<OS_CLOCK_COUNT_HOOK_PF> g_postTickHook{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_postHook3{nullptr};
std::atomic<OS_CLOCK_WAIT_HOOK_PF> g_waitHook{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_signalHook{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_tickPreHook{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_tickPostHook{nullptr};
std::atomic<OS_CLOCK_TASK_HOOK_PF> g_tickEnterHook{nullptr};
std::atomic<OS_CLOCK_TASK_HOOK_PF> g_tickLeaveHook{nullptr};
std::atomic<OS_CLOCK_HOOK_PF> g_tickIdleHook{nullptr};

// ---- Tick-hook list -----------------------------------------------------------------------
// Circular and doubly linked; TICK walks it backwards (newest first) without a lock
// while a task may be appending, so the links are atomic and a node is complete before
// the head's back link publishes it.
struct TickHookNode {
    std::atomic<TickHookNode*> pstNext;
    std::atomic<TickHookNode*> pstPrev;
    OS_CLOCK_COUNT_HOOK_PF pfnHook;
};
TickHookNode g_tickHookHead{{&g_tickHookHead}, {&g_tickHookHead}, nullptr};

template <typename T>
T HookGet(const std::atomic<T>& hook) {
    return hook.load(std::memory_order_acquire);
}

template <typename T>
uint32_t HookPut(std::atomic<T>& hook, T value) {
    hook.store(value, std::memory_order_release);
    return 0;
}

uint64_t CpuTickNow() {
    uint32_t low = 0;
    uint32_t high = 0;
    OS_CpuTickRead(&low, &high);
    return (static_cast<uint64_t>(high) << 32) | low;
}

uint64_t CpuTickPrev() {
    uint32_t low = 0;
    uint32_t high = 0;
    ukoCpuTickPrevGet(&low, &high);
    return (static_cast<uint64_t>(high) << 32) | low;
}

void CpuTickPrevStore(uint64_t uvReading) {
    ukoCpuTickPrevSet(static_cast<uint32_t>(uvReading), static_cast<uint32_t>(uvReading >> 32));
}

// The measuring part of a VCLK cycle, under the clock lock: the elapsed ticks, or false when the
// counter has gone back and the cycle counts nothing.
bool VclkMeasure(uint32_t* puiElapsed) {
    OS_CLOCK_ELAPSE_HOOK_PF elapse = HookGet(g_elapseHook);
    if (elapse == nullptr) {
        elapse = HookGet(g_elapseHook2);
    }
    if (elapse != nullptr) {
        *puiElapsed = elapse();
        CpuTickPrevStore(CpuTickNow());
        return true;
    }

    const uint64_t now = CpuTickNow();
    const uint64_t prev = CpuTickPrev();
    OS_CLOCK_HOOK_PF jump = HookGet(g_jumpHook);
    if (now < prev) {
        // The previous reading stays: counting resumes once the counter has passed it.
        if (jump != nullptr) {
            const uint64_t back = prev - now;
            UKO_CPUTICK_S gap{static_cast<uint32_t>(back), static_cast<uint32_t>(back >> 32)};
            uint32_t ticks = 0;
            if (UKO_CpuTick2Tick(&gap, &ticks, nullptr) == 0 &&
                ticks > g_jumpThreshold.load(std::memory_order_relaxed)) {
                jump();
            }
        }
        return false;
    }
    CpuTickPrevStore(now);
    if (g_vclkFirstCycle != 0) {
        g_vclkFirstCycle = 0;  // the first reading only sets the starting point
        *puiElapsed = 0;
        return true;
    }
    // The difference is exact in 64 bits whatever the low words do; the carried
    // remainder is added after the division so that nothing can overflow.
    const uint64_t base = g_baseCopy.load(std::memory_order_relaxed);
    if (base == 0) {
        *puiElapsed = 0;  // no base to measure with: nothing is counted
        return true;
    }
    const uint64_t diff = now - prev;
    const uint64_t rest = diff % base + g_vclkRemainder;
    const uint64_t elapsed = diff / base + rest / base;
    g_vclkRemainder = static_cast<uint32_t>(rest % base);
    *puiElapsed = static_cast<uint32_t>(elapsed);
    if (jump != nullptr && *puiElapsed > g_jumpThreshold.load(std::memory_order_relaxed)) {
        jump();
    }
    return true;
}

void CallIfSet(const std::atomic<OS_CLOCK_HOOK_PF>& hook) {
    OS_CLOCK_HOOK_PF fn = HookGet(hook);
    if (fn != nullptr) {
        fn();
    }
}

void CallIfSet(const std::atomic<OS_CLOCK_COUNT_HOOK_PF>& hook, uint32_t uiCount) {
    OS_CLOCK_COUNT_HOOK_PF fn = HookGet(hook);
    if (fn != nullptr) {
        fn(uiCount);
    }
}

}  // namespace

// ---- Start-up -----------------------------------------------------------------------------

void OS_ClockTaskParamInit() {
    g_vclkParam = {"VCLK", kClockTaskPrio, kClockTaskStack, OS_ClockVclkEntry};
    g_tickParam = {"TICK", kClockTaskPrio, kClockTaskStack, OS_ClockTickEntry};
}

uint32_t OS_ClockCpuTickBaseInit() {
    uint32_t base = 0;
    const uint32_t rc = UKO_CpuTickBaseGet(&base);
    if (rc != 0) {
        return rc;
    }
    g_baseCopy.store(base, std::memory_order_relaxed);
    return 0;
}

uint32_t osClockResourcesInit() {
    OS_ClockTaskParamInit();
    uint32_t rc = OS_ClockCpuTickBaseInit();
    if (rc != 0) {
        return rc;
    }
    if (g_tickSem.load(std::memory_order_acquire) == nullptr) {
        void* sem = nullptr;
        rc = UKO_SemaBCreate("SEM_TM_ISR", 0, 1, &sem);
        if (rc != 0) {
            return rc;
        }
        g_tickSem.store(sem, std::memory_order_release);
    }
    if (!g_locksMade.load(std::memory_order_acquire)) {
        rc = OSAL_LockCreate(&g_hookListLock);
        if (rc != 0) {
            return rc;
        }
        rc = OSAL_LockCreate(&g_clockLock);
        if (rc != 0) {
            (void)OSAL_LockDelete(&g_hookListLock);
            return rc;
        }
        g_locksMade.store(true, std::memory_order_release);
    }
    return 0;
}

uint32_t OS_ClockInit(uint32_t /*uiUnused*/) {
    if (g_initialised.load(std::memory_order_acquire) != 0) {
        return 0;
    }
    uint32_t rc = osClockResourcesInit();
    if (rc != 0) {
        return rc;
    }
    // A task made by an earlier, failed call is kept: creating it again would only
    // collide with its name.
    const uint64_t noArgs[UKO_TASK_ARG_NUM] = {0, 0, 0, 0};
    struct {
        const ClockTaskParam* pstParam;
        std::atomic<uint32_t>* puiTaskId;
    } tasks[] = {{&g_vclkParam, &g_vclkTaskId}, {&g_tickParam, &g_tickTaskId}};
    for (auto& t : tasks) {
        if (t.puiTaskId->load(std::memory_order_acquire) != kNoTask) {
            continue;
        }
        uint32_t id = kNoTask;
        const uint32_t created = UKO_TaskCreate(t.pstParam->pcName, &id, t.pstParam->pfnEntry,
                                                t.pstParam->uiPriority, t.pstParam->uvStackSize, 0,
                                                noArgs);
        if (created == 0) {
            t.puiTaskId->store(id, std::memory_order_release);
        }
        rc |= created;
    }
    if (rc != 0) {
        return rc;
    }
    g_initialised.store(1, std::memory_order_release);
    return 0;
}

// ---- The two cycles -----------------------------------------------------------------------

void osClockVclkCycle() {
    ukoCheckCpuTickMagic();
    uint32_t base = 0;
    if (UKO_CpuTickBaseGet(&base) == 0) {
        g_baseCopy.store(base, std::memory_order_relaxed);
    }

    (void)OSAL_LockLock(&g_clockLock);
    uint32_t elapsed = 0;
    if (!VclkMeasure(&elapsed)) {
        (void)OSAL_LockUnLock(&g_clockLock, 0);
        return;
    }
    g_pendingTicks += elapsed;
    CallIfSet(g_tickPassHook, elapsed);
    g_publishedRemainder.store(g_vclkRemainder, std::memory_order_release);
    const uint32_t ms = elapsed * OS_MsPerTickGet();
    CallIfSet(g_msPassHook, ms);
    CallIfSet(g_tickCountHook, ms);
    (void)OSAL_LockUnLock(&g_clockLock, 0);

    CallIfSet(g_postHook1);
    CallIfSet(g_postHook2);
    CallIfSet(g_postTickHook, elapsed);
    CallIfSet(g_postHook3);

    g_tickSignal.store(1, std::memory_order_release);
    OS_ClockTickWake();
}

void osClockTickCycle() {
    if (OS_ClockTickWait() != 0) {
        return;
    }
    if (g_tickSignal.exchange(0, std::memory_order_acq_rel) == 1) {
        (void)OSAL_LockLock(&g_clockLock);
        const uint32_t n = g_pendingTicks;
        g_pendingTicks = 0;
        (void)OSAL_LockUnLock(&g_clockLock, 0);
        if (n != 0) {
            OS_CLOCK_HOOK_PF pre = HookGet(g_tickPreHook);
            OS_CLOCK_HOOK_PF post = HookGet(g_tickPostHook);
            const bool prePost = pre != nullptr && post != nullptr;
            OS_CLOCK_TASK_HOOK_PF enter = HookGet(g_tickEnterHook);
            OS_CLOCK_TASK_HOOK_PF leave = HookGet(g_tickLeaveHook);
            const bool enterLeave = enter != nullptr && leave != nullptr;
            const uint32_t taskId = g_tickTaskId.load(std::memory_order_acquire);
            if (prePost) {
                pre();
            }
            if (enterLeave) {
                enter(taskId);
            }
            OS_ClockTickHookRun(n * OS_MsPerTickGet());
            if (enterLeave) {
                leave(taskId);
            }
            if (prePost) {
                post();
            }
        }
    }
    CallIfSet(g_tickIdleHook);
}

void OS_ClockVclkEntry(uint64_t, uint64_t, uint64_t, uint64_t) {
    for (;;) {
        // An interrupted sleep simply ends early: the cycle measures what has passed.
        const uint32_t us = OS_MsPerTickGet() * 1000;
        struct timeval tv;
        tv.tv_sec = static_cast<time_t>(us / 1000000);
        tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
        (void)select(0, nullptr, nullptr, nullptr, &tv);
        osClockVclkCycle();
    }
}

void OS_ClockTickEntry(uint64_t, uint64_t, uint64_t, uint64_t) {
    for (;;) {
        osClockTickCycle();
    }
}

uint32_t osClockRemainderGet() { return g_publishedRemainder.load(std::memory_order_acquire); }

uint32_t osClockPendingGet() {
    if (!g_locksMade.load(std::memory_order_acquire)) {
        return 0;
    }
    (void)OSAL_LockLock(&g_clockLock);
    const uint32_t n = g_pendingTicks;
    (void)OSAL_LockUnLock(&g_clockLock, 0);
    return n;
}

pthread_mutex_t* osClockLockGet() {
    return g_locksMade.load(std::memory_order_acquire) ? &g_clockLock : nullptr;
}

uint32_t osClockVclkTaskIdGet() { return g_vclkTaskId.load(std::memory_order_acquire); }

uint32_t osClockTickTaskIdGet() { return g_tickTaskId.load(std::memory_order_acquire); }

// ---- Tick-hook list ------------------------------------------------------------------------

uint32_t OS_ClockTickHookAdd(OS_CLOCK_COUNT_HOOK_PF pfnHook) {
    if (pfnHook == nullptr) {
        return UKO_EINVAL;
    }
    if (!g_locksMade.load(std::memory_order_acquire)) {
        return UKO_EINVAL;  // the list's lock does not exist before the clock's start-up
    }
    void* mem = UKO_MemAlloc(0, m_ucSysPtNo, sizeof(TickHookNode));
    if (mem == nullptr) {
        return UKO_ENOMEM;
    }
    auto* node = new (mem) TickHookNode{{&g_tickHookHead}, {nullptr}, pfnHook};
    (void)OSAL_LockLock(&g_hookListLock);
    TickHookNode* tail = g_tickHookHead.pstPrev.load(std::memory_order_relaxed);
    node->pstPrev.store(tail, std::memory_order_relaxed);
    tail->pstNext.store(node, std::memory_order_release);
    g_tickHookHead.pstPrev.store(node, std::memory_order_release);
    (void)OSAL_LockUnLock(&g_hookListLock, 0);
    return 0;
}

void OS_ClockTickHookRun(uint32_t uiMs) {
    for (TickHookNode* node = g_tickHookHead.pstPrev.load(std::memory_order_acquire);
         node != &g_tickHookHead; node = node->pstPrev.load(std::memory_order_acquire)) {
        node->pfnHook(uiMs);
    }
}

// ---- Waking TICK ---------------------------------------------------------------------------

uint32_t OS_ClockTickSignal() {
    void* sem = g_tickSem.load(std::memory_order_acquire);
    return sem != nullptr ? UKO_SemaV(sem) : UKO_EINVAL;
}

void OS_ClockTickWake() {
    OS_CLOCK_HOOK_PF signal = HookGet(g_signalHook);
    if (signal != nullptr) {
        signal();
        return;
    }
    (void)OS_ClockTickSignal();
}

uint32_t OS_ClockTickWait() {
    OS_CLOCK_WAIT_HOOK_PF wait = HookGet(g_waitHook);
    if (wait != nullptr) {
        wait(g_tickSignal.load(std::memory_order_acquire));
        return 0;
    }
    void* sem = g_tickSem.load(std::memory_order_acquire);
    return sem != nullptr ? UKO_SemaP(sem, 0) : UKO_EINVAL;
}

// ---- Hook setters ---------------------------------------------------------------------------

uint32_t OS_ClockTickPassHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook) { return HookPut(g_tickPassHook, pfnHook); }
uint32_t OS_ClockMsPassHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook) { return HookPut(g_msPassHook, pfnHook); }
uint32_t OS_ClockTickCountHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook) {
    return HookPut(g_tickCountHook, pfnHook);
}
uint32_t OS_ClockElapseHookSet(OS_CLOCK_ELAPSE_HOOK_PF pfnHook) { return HookPut(g_elapseHook, pfnHook); }
uint32_t OS_ClockElapseHook2Set(OS_CLOCK_ELAPSE_HOOK_PF pfnHook) {
    return HookPut(g_elapseHook2, pfnHook);
}

uint32_t OS_ClockJumpHookSet(uint32_t uiThreshold, OS_CLOCK_HOOK_PF pfnHook) {
    g_jumpThreshold.store(uiThreshold, std::memory_order_relaxed);
    return HookPut(g_jumpHook, pfnHook);
}

uint32_t OS_ClockPostHook1Set(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_postHook1, pfnHook); }
uint32_t OS_ClockPostHook2Set(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_postHook2, pfnHook); }
uint32_t OS_ClockPostTickHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook) {
    return HookPut(g_postTickHook, pfnHook);
}
uint32_t OS_ClockPostHook3Set(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_postHook3, pfnHook); }

uint32_t OS_ClockWaitHookSet(OS_CLOCK_WAIT_HOOK_PF pfnWaitHook, OS_CLOCK_HOOK_PF pfnSignalHook) {
    g_waitHook.store(pfnWaitHook, std::memory_order_release);
    g_signalHook.store(pfnSignalHook, std::memory_order_release);
    (void)OS_ClockTickSignal();
    return 0;
}

uint32_t OS_ClockTickPreHookSet(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_tickPreHook, pfnHook); }
uint32_t OS_ClockTickPostHookSet(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_tickPostHook, pfnHook); }

uint32_t OS_ClockTickTaskHookSet(OS_CLOCK_TASK_HOOK_PF pfnEnterHook,
                                 OS_CLOCK_TASK_HOOK_PF pfnLeaveHook) {
    g_tickEnterHook.store(pfnEnterHook, std::memory_order_release);
    g_tickLeaveHook.store(pfnLeaveHook, std::memory_order_release);
    return 0;
}

uint32_t OS_ClockTickIdleHookSet(OS_CLOCK_HOOK_PF pfnHook) { return HookPut(g_tickIdleHook, pfnHook); }

// ---- Global lock ----------------------------------------------------------------------------

uint32_t OS_GlobalLockInit() {
    // Created exactly once, whichever comes first: this call or the first take. A
    // second creation could not be told apart from re-initialising a held lock.
    (void)pthread_once(&g_globalLockOnce, GlobalLockCreate);
    return g_globalLockCreateResult;
}

uint32_t OS_GlobalLock() {
    (void)OS_GlobalLockInit();
    (void)OSAL_LockLock(&g_globalLock);
    return 0;
}

void OS_GlobalUnlock(uint32_t /*uiUnused*/) { (void)OSAL_LockUnLock(&g_globalLock, 0); }
