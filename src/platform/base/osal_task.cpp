// The thread-creation layer: POSIX threads with the attributes a platform task asks
// for, and the small thread services around them.

#include "osal_task.h"

#include <sched.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "osal_lock.h"
#include "osal_task_inner.h"
#include "uko_errcode.h"

namespace {

// Reports of this layer go to the platform log hook with code and module 0xFFFF and the
// layer's own source name; they leave the platform errno alone.
#define OSAL_TASK_REPORT(...)                                                                  \
    (UKO_LogHookGet())(UKO_LOG_LEVEL_ERROR, 0xFFFF, 0xFFFF, "osal_task",                       \
                       static_cast<uint32_t>(__LINE__), __VA_ARGS__)

// Set once, read by every creation on any thread.
std::atomic<uint32_t> g_supervisorMode{0};
std::atomic<uint64_t> g_minStackSize{0};

constexpr uint64_t kStackProbeStep = 1024;
// The probe gives up here; no thread library asks for a minimum anywhere near it.
constexpr uint64_t kStackProbeLimit = 64ull * 1024 * 1024;

}  // namespace

uint32_t osalTaskSupervisorModeGet() { return g_supervisorMode.load(std::memory_order_acquire); }

uint64_t osalMinStackSizeGet() { return g_minStackSize.load(std::memory_order_acquire); }

struct timeval osalTaskDelayTimeval(uint32_t uiMs) {
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(uiMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((uiMs % 1000) * 1000);
    return tv;
}

uint32_t OSAL_TaskCreate(const char* /*pcName*/, OSAL_TASK_START_PF pfnStart, uint32_t uiPriority,
                         uint32_t uiMode, uint64_t* puvStackSize, void* pArg, pthread_t* pThread) {
    static const char kFn[] = "OSAL_TaskCreate";
    if (uiPriority >= OSAL_TASK_PRIO_LIMIT) {
        return UKO_EINVAL;
    }
    if (puvStackSize == nullptr) {
        OSAL_TASK_REPORT("[ZIRPA-%s]:Create task error,puiStackSize is null.", kFn);
        return UKO_EINVAL;
    }
    if (pfnStart == nullptr || pThread == nullptr) {
        return UKO_EINVAL;
    }

    // The mode's policy bits count only in supervisor mode; asking for both policies at
    // once is reported and the thread keeps the default policy.
    const bool supervisor = osalTaskSupervisorModeGet() != 0;
    int policy = SCHED_OTHER;
    if (supervisor) {
        const bool fifo = (uiMode & OSAL_TASK_MODE_FIFO) != 0;
        const bool rr = (uiMode & OSAL_TASK_MODE_RR) != 0;
        if (fifo && rr) {
            OSAL_TASK_REPORT("[ZIRPA-%s]:Create task error,task Mode is invalid,uiTaskMode:%u.", kFn,
                             uiMode);
        } else if (fifo) {
            policy = SCHED_FIFO;
        } else if (rr) {
            policy = SCHED_RR;
        }
    }

    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    const int detach = (uiMode & OSAL_TASK_MODE_JOINABLE) != 0 ? PTHREAD_CREATE_JOINABLE
                                                                : PTHREAD_CREATE_DETACHED;
    rc = pthread_attr_setdetachstate(&attr, detach);
    if (rc != 0) {
        OSAL_TASK_REPORT("[ZIRPA-%s]:Create task error, set detachstate error,code:%ld.", kFn,
                         static_cast<long>(rc));
        (void)pthread_attr_destroy(&attr);
        return OSAL_ErrnoConvert(rc);
    }
    if (*puvStackSize != 0) {
        const uint64_t minimum = osalMinStackSizeGet();
        if (*puvStackSize < minimum) {
            *puvStackSize = minimum;
        }
        rc = pthread_attr_setstacksize(&attr, static_cast<size_t>(*puvStackSize));
        if (rc != 0) {
            // Not fatal: the thread gets the library's default stack, and the caller
            // learns its size below.
            OSAL_TASK_REPORT("[ZIRPA-%s]:warning,call pthread_attr_setstacksize(%lu) return:%ld.", kFn,
                             static_cast<unsigned long>(*puvStackSize), static_cast<long>(rc));
        }
    }

    pthread_t thread;
    rc = pthread_create(&thread, &attr, pfnStart, pArg);
    if (rc != 0) {
        OSAL_TASK_REPORT("[ZIRPA-%s]:Create task error,call pthread_create return:%ld.", kFn,
                         static_cast<long>(rc));
        (void)pthread_attr_destroy(&attr);
        return OSAL_ErrnoConvert(rc);
    }
    // The handle is still good here even for a detached thread: a platform task waits
    // for its start event, which its creator writes only after this call returns.
    if (supervisor && policy != SCHED_OTHER) {
        struct sched_param param = {};
        param.sched_priority = static_cast<int>(OSAL_PrioToOsPrio(uiPriority));
        rc = pthread_setschedparam(thread, policy, &param);
        if (rc != 0) {
            OSAL_TASK_REPORT("[ZIRPA-%s]:Create task error,set schedparam error,code:%ld.", kFn,
                             static_cast<long>(rc));
        }
    }
    size_t applied = 0;
    if (pthread_attr_getstacksize(&attr, &applied) == 0) {
        *puvStackSize = applied;
    }
    *pThread = thread;
    (void)pthread_attr_destroy(&attr);
    return 0;
}

void OSAL_TaskRunInSupervisorModeSet() {
    if (geteuid() == 0) {
        g_supervisorMode.store(1, std::memory_order_release);
        return;
    }
    OSAL_TASK_REPORT("[ZIRPA-%s]:Set task mode to supervisor error!",
                     "OSAL_TaskRunInSupervisorModeSet");
}

uint32_t OSAL_MinStackSizeProbe() {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    for (uint64_t size = kStackProbeStep; size <= kStackProbeLimit; size += kStackProbeStep) {
        if (pthread_attr_setstacksize(&attr, static_cast<size_t>(size)) == 0) {
            g_minStackSize.store(size, std::memory_order_release);
            break;
        }
    }
    (void)pthread_attr_destroy(&attr);
    return 0;
}

uint32_t OSAL_TaskDelay(uint32_t uiMs) {
    struct timeval tv = osalTaskDelayTimeval(uiMs);
    // This OS leaves the time not yet slept in tv, so a signal only interrupts the
    // sleep and the retry finishes the same budget.
    while (select(1, nullptr, nullptr, nullptr, &tv) == -1 && errno == EINTR) {
    }
    return 0;
}

uint32_t OSAL_TaskCancel(pthread_t thread) { return static_cast<uint32_t>(pthread_cancel(thread)); }

uint32_t OSAL_TaskCancelTypeSet() {
    int old = 0;
    return pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &old) == 0 ? 0 : UKO_EINVAL;
}

uint64_t OSAL_CurThreadGet() { return static_cast<uint64_t>(pthread_self()); }

uint32_t OSAL_CurThreadIdGet() { return static_cast<uint32_t>(OSAL_CurThreadGet()); }

uint32_t OSAL_PrioToOsPrio(uint32_t uiPrio) { return uiPrio / 3 + 1; }

uint32_t OSAL_OsPrioToPrio(uint32_t uiOsPrio) { return (uiOsPrio - 1) * 3; }

uint32_t OSAL_TaskLock() { return 0; }

uint32_t OSAL_TaskUnlock() { return 0; }
