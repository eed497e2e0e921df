// The OS task layer: finds the calling thread's task control block, ends and joins task
// threads, and installs alternate signal stacks. The task table and the control blocks
// belong to the task module; this layer reads them through its internal operations.

#include "os_task.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "../services/uko_task_inner.h"
#include "os_callstackbase.h"
#include "os_task_inner.h"
#include "osal_lock.h"
#include "osal_task.h"
#include "uko_errreport.h"
#include "uko_mempt.h"

uint32_t OS_TASK_SIG_STACK_SIZE = 0;
uint32_t CpuCoreNum = 1;

namespace {

#define OS_TASK_REPORT(...)                                                                     \
    (UKO_LogHookGet())(UKO_LOG_LEVEL_ERROR, 0xFFFF, 0xFFFF, "os_task",                          \
                       static_cast<uint32_t>(__LINE__), __VA_ARGS__)

constexpr uint32_t kSigStackSize = 0x20000;
constexpr uint32_t kNoTask = UKO_TASK_ID_NONE;
constexpr uint32_t kNoControlBlock = 11;

pthread_key_t g_curTaskKey;
std::atomic<bool> g_keyMade{false};
std::atomic<OS_TASK_SYSCONF_PF> g_sysconf{sysconf};
// 0: tasks get no alternate signal stack. Cleared by OS_TaskInit, set by nothing else.
std::atomic<uint32_t> g_sigAltStackOn{0};

// The control block each look-up found last. Any thread reads and writes them; a block
// is only trusted when its thread handle is the caller's own, and a task clears that
// handle before its block can be reused.
std::atomic<UKO_TaskCb*> g_cacheByThread{nullptr};
std::atomic<UKO_TaskCb*> g_cacheCurId{nullptr};
std::atomic<UKO_TaskCb*> g_cacheCurCb{nullptr};

long Sysconf(int name) { return g_sysconf.load(std::memory_order_acquire)(name); }

// Steps shared by the look-ups: the look-up's own cache, then the current-task key.
UKO_TaskCb* CachedOrKeyed(std::atomic<UKO_TaskCb*>* pCache, pthread_t self) {
    UKO_TaskCb* cb = pCache->load(std::memory_order_acquire);
    if (cb != nullptr && pthread_equal(ukoTaskThreadGet(cb), self)) {
        return cb;
    }
    if (!g_keyMade.load(std::memory_order_acquire)) {
        return nullptr;
    }
    cb = static_cast<UKO_TaskCb*>(pthread_getspecific(g_curTaskKey));
    if (cb != nullptr) {
        pCache->store(cb, std::memory_order_release);
    }
    return cb;
}

uint32_t NotSupported(const char* pcPlatform, const char* pcName, int iLine) {
    // Standard output belongs to native messaging.
    (void)std::fprintf(stderr, "\r\nSorry, %s don't support. %s %d !\r\n", pcPlatform, pcName,
                       iLine);
    return 0;
}

}  // namespace

void osTaskSysconfSet(OS_TASK_SYSCONF_PF pfnSysconf) {
    g_sysconf.store(pfnSysconf != nullptr ? pfnSysconf : sysconf, std::memory_order_release);
}

void osTaskSigAltStackSwitchSet(uint32_t uiOn) {
    g_sigAltStackOn.store(uiOn, std::memory_order_release);
}

uint32_t OS_TaskInit() {
    // The key is made once: tasks already running keep their entries under it.
    if (!g_keyMade.load(std::memory_order_acquire)) {
        int rc = pthread_key_create(&g_curTaskKey, nullptr);
        if (rc != 0) {
            OS_TASK_REPORT("[Zirpa-os_task-OS_TaskInit]:call pthread_key_create fail, errno:[%d].\n",
                           rc);
            return OSAL_ErrnoConvert(rc);
        }
        g_keyMade.store(true, std::memory_order_release);
    }
    OS_TASK_SIG_STACK_SIZE = 0;
    g_sigAltStackOn.store(0, std::memory_order_release);
    if (Sysconf(_SC_PAGESIZE) == -1) {
        OS_TASK_REPORT("[ZIRPA-%s]:call sysconf(_SC_PAGE_SIZE) fail, errno:[%d].\n", "OS_TaskInit",
                       errno);
        return 0xFFFFFFFF;
    }
    OS_TASK_SIG_STACK_SIZE = kSigStackSize;

    // Nothing reads the count but statistics, so a machine with more processors than
    // the platform counts still starts: the excess is recorded and cut off.
    long online = Sysconf(_SC_NPROCESSORS_ONLN);
    uint32_t cores = online < 1 ? 1 : static_cast<uint32_t>(online);
    if (online > static_cast<long>(OS_TASK_CPU_CORE_MAX)) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_OS_TASK, "[ZIRPA-%s]:The CpuCoreNum(%d) is too big.",
                             "OS_TaskInit", static_cast<int>(online));
        cores = OS_TASK_CPU_CORE_MAX;
    }
    CpuCoreNum = cores;
    return 0;
}

uint32_t OS_TaskCurSet(UKO_TaskCb* pstTaskCb) {
    if (!g_keyMade.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    int rc = pthread_setspecific(g_curTaskKey, pstTaskCb);
    if (rc != 0) {
        OS_TASK_REPORT("[Zirpa-osal_task]:call pthread_setspecific return fail:%u\n",
                       static_cast<uint32_t>(rc));
    }
    return static_cast<uint32_t>(rc);
}

void osTaskCurClear() {
    if (g_keyMade.load(std::memory_order_acquire)) {
        (void)pthread_setspecific(g_curTaskKey, nullptr);
    }
}

uint32_t OS_CurTaskIdGet() {
    UKO_TaskCb* cb = ukoTaskCurCbTlsGet();
    if (cb != nullptr) {
        return cb->uiTaskId;
    }
    const pthread_t self = pthread_self();
    cb = CachedOrKeyed(&g_cacheCurId, self);
    if (cb == nullptr) {
        cb = ukoTaskCbFindByThread(self);
        if (cb == nullptr) {
            return kNoTask;
        }
        g_cacheCurId.store(cb, std::memory_order_release);
    }
    return cb->uiTaskId;
}

uint32_t OS_CurTaskCbGet(UKO_TaskCb** ppstTaskCb) {
    if (ppstTaskCb == nullptr) {
        return UKO_EINVAL;
    }
    UKO_TaskCb* cb = CachedOrKeyed(&g_cacheCurCb, pthread_self());
    if (cb == nullptr) {
        return kNoControlBlock;
    }
    *ppstTaskCb = cb;
    return 0;
}

uint32_t OS_TaskIdGetByThread(pthread_t thread) {
    const pthread_t self = pthread_self();
    if (!pthread_equal(thread, self)) {
        return kNoTask;
    }
    UKO_TaskCb* cb = CachedOrKeyed(&g_cacheByThread, self);
    return cb != nullptr ? cb->uiTaskId : kNoTask;
}

void OS_TaskExit(void* pResult, uint32_t /*uiUnused*/) {
    UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
    if (cb == nullptr) {
        return;  // a thread the platform does not know goes on
    }
    ukoTaskExitRelease(cb);
    pthread_exit(pResult);
}

uint32_t OS_TaskJoin(pthread_t thread, void** ppResult) {
    return static_cast<uint32_t>(pthread_join(thread, ppResult));
}

uint32_t OS_TaskYield() {
    if (sched_yield() != 0) {
        OS_TASK_REPORT("[ZIRPA-osal_task]:OS_TaskYield call sched_yield fail, errno:[%d].\n", errno);
        return 11;
    }
    return 0;
}

uint32_t OS_TaskFreeCPU(uint32_t /*uiFlag*/) {
    if (sched_yield() != 0) {
        OS_TASK_REPORT("[ZIRPA-os_task]:OS_TaskFreeCPU call sched_yield fail, errno:[%d].\n", errno);
        return 0xFFFFFFFF;
    }
    return 0;
}

uint32_t OS_TaskPrioSet(pthread_t thread, uint32_t uiPriority) {
    UKO_TASK_PRIO_HOOK_PF hook = ukoTaskPrioHookGet();
    if (hook == nullptr) {
        return 0;
    }
    return hook(ukoTaskIdGetByOsalHandle(thread), uiPriority);
}

uint64_t OS_TaskStackBaseGet() {
    uint64_t base = 0;
    return OS_TaskStackBaseQuery(&base) == 0 ? base : 0;
}

uint32_t OS_TaskStackSizeCheck(const uint64_t* puvStackSize) {
    constexpr uint64_t kLargest = ~static_cast<uint64_t>(0) - 64;  // 2^64 - 65
    if (puvStackSize == nullptr || *puvStackSize > kLargest) {
        return UKO_EINVAL;
    }
    return 0;
}

uint32_t OS_SigAltStack(UKO_TaskCb* pstTaskCb) {
    static const char kFn[] = "OS_SigAltStack";
    if (g_sigAltStackOn.load(std::memory_order_acquire) == 0 || pstTaskCb == nullptr) {
        return 0;
    }
    const long page = Sysconf(_SC_PAGESIZE);
    if (page <= 0) {
        OS_TASK_REPORT("[ZIRPA-%s]:page size get failed, errno:[%d].\n", kFn, errno);
        return 0xFFFFFFFF;
    }
    const uint32_t size = OS_TASK_SIG_STACK_SIZE;
    void* mem = UKO_MemAlloc(0, m_ucSysPtNo, static_cast<uint64_t>(size) + static_cast<uint64_t>(page));
    if (mem == nullptr) {
        OS_TASK_REPORT("[ZIRPA-%s]:task entry alloc sigstack(size is %u) failed\n", kFn, size);
        return UKO_ENOMEM;
    }
    const uintptr_t mask = static_cast<uintptr_t>(page) - 1;
    void* base = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(mem) + mask) & ~mask);
    if (mprotect(base, size, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) {
        OS_TASK_REPORT("[ZIRPA-%s]:page protect failed, errno:[%d].\n", kFn, errno);
        (void)UKO_MemFree(0, mem);
        return 0xFFFFFFFF;
    }
    stack_t ss = {};
    ss.ss_sp = base;
    ss.ss_size = size;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, nullptr) != 0) {
        OS_TASK_REPORT("[ZIRPA-os_task]:Task entry call sigaltstack fail, errno:[%d].\n", errno);
        (void)mprotect(base, size, PROT_READ | PROT_WRITE);
        (void)UKO_MemFree(0, mem);
        return 0xFFFFFFFF;
    }
    pstTaskCb->pSigStack = mem;
    return 0;
}

void osSigAltStackDisable() {
    stack_t ss = {};
    ss.ss_flags = SS_DISABLE;
    (void)sigaltstack(&ss, nullptr);
}

void osSigAltStackFree(void* pSigStack) {
    if (pSigStack == nullptr) {
        return;
    }
    // The heap gets its memory back as it gave it: readable and writable, not executable.
    const long page = Sysconf(_SC_PAGESIZE);
    if (page > 0) {
        const uintptr_t mask = static_cast<uintptr_t>(page) - 1;
        void* base = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(pSigStack) + mask) & ~mask);
        (void)mprotect(base, OS_TASK_SIG_STACK_SIZE, PROT_READ | PROT_WRITE);
    }
    (void)UKO_MemFree(0, pSigStack);
}

uint32_t OS_CurThreadIdGet() { return OSAL_CurThreadIdGet(); }

// ---- What this OS does not offer ------------------------------------------------------------

uint32_t UKO_TaskSchedulePolicySet(uint32_t /*uiTaskId*/, uint32_t /*uiPolicy*/,
                                   uint32_t /*uiPriority*/) {
    (void)NotSupported("Mac", "UKO_TaskSchedulePolicySet", 158);
    return 0xFFFFFFFF;
}

uint32_t UKO_TaskAffinitySet(uint32_t /*uiTaskId*/, uint64_t /*uvAffinityMask*/) {
    (void)NotSupported("MAC", "UKO_TaskAffinitySet", 686);
    return 0xFFFFFFFF;
}

uint32_t OS_ProcCpuAffinitySet(uint32_t /*uiProcess*/, uint64_t /*uvMask*/) {
    return NotSupported("MAC", "OS_ProcCpuAffinitySet", 594);
}

void OS_TaskCbRegister(UKO_TaskCb* /*pstTaskCb*/) {}

uint32_t OS_TaskIdBind(pthread_t /*thread*/, uint32_t /*uiTaskId*/) { return 0xFFFFFFFF; }

uint32_t OS_TaskEntryInit() { return 0; }

uint32_t OS_TaskCreateNotifyGet() { return 0; }

uint32_t OS_TaskSuspend(pthread_t /*thread*/) { return 0xFFFFFFFF; }

uint32_t OS_TaskResume(pthread_t /*thread*/) { return 0xFFFFFFFF; }

uint32_t OS_TaskPrioGet(pthread_t /*thread*/, uint32_t* /*puiPriority*/) { return 0; }

uint32_t OS_TaskRestart(pthread_t /*thread*/) { return 0; }

uint32_t OS_TaskThreadCheck(pthread_t /*thread*/) { return 0; }

uint32_t OS_TaskThreadStateGet(pthread_t /*thread*/) { return 0; }

uint32_t OS_TaskCbCheck(UKO_TaskCb* /*pstTaskCb*/) { return 0; }

void OS_TaskNop() {}
