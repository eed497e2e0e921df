// Semaphores and mutexes on POSIX threads. A semaphore is a count guarded by its own
// mutex with a condition variable for the waiters; a mutex is a recursive OS lock with
// an owner and a recursion count kept beside it, so that a take by the owner never
// reaches the OS lock again.

#include "os_sema.h"

#include <cerrno>
#include <cstring>

#include "jqr_mem.h"
#include "os_sema_inner.h"
#include "osal_lock_inner.h"
#include "osal_task_inner.h"
#include "sec_lib.h"
#include "uko_atomic.h"
#include "uko_errreport.h"
#include "uko_string.h"

#if defined(__SANITIZE_THREAD__)
#define OS_SEMA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OS_SEMA_TSAN 1
#endif
#endif
#if defined(OS_SEMA_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

constexpr uint64_t kNsPerSecond = 1000000000ull;

#define SEMA_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_OS_SEMA, __VA_ARGS__)

const char kInvalParam[] = "[ZIRPA-%s]:Inval param sem(0x%p).";
const char kLockFail[] = "[ZIRPA-%s]:sem(0x%p), pthread_mutex_lock fail.";
const char kUnlockFail[] = "[ZIRPA-%s]:sem(0x%p), pthread_mutex_unlock fail.";
const char kCondDestroyFail[] = "[ZIRPA-%s]:Sem(0x%p), pthread_cond_destroy fail, errno:[%d].";
const char kRecursionFull[] = "[ZIRPA-%s]:Mutex(0x%p), recursion(%u) reach the max.";

const char* NameText(const char* pcName) { return pcName != nullptr ? pcName : "null"; }

// The magic is read by every public call without a lock and cleared by a delete.
uint32_t MagicOf(const void* pSem) {
    return __atomic_load_n(&static_cast<const UKO_SEMA_CB*>(pSem)->uiMagic, __ATOMIC_ACQUIRE);
}
void MagicSet(uint32_t* puiMagic, uint32_t uiValue) {
    __atomic_store_n(puiMagic, uiValue, __ATOMIC_RELEASE);
}

bool HandleValid(const void* pSem) { return pSem != nullptr && MagicOf(pSem) == UKO_SEMA_MAGIC; }

bool IsMutex(const void* pSem) {
    return static_cast<const UKO_SEMA_CB*>(pSem)->uiType == UKO_SEMA_TYPE_MUTEX;
}

UKO_SEMA_COUNTERS* CountersOf(void* pSem) {
    if (IsMutex(pSem)) {
        return &static_cast<UKO_MUTEX_CB*>(pSem)->stCounters;
    }
    return &static_cast<UKO_SEMA_CB*>(pSem)->stCounters;
}

bool LockDbgOn(uint32_t uiBit) {
    uint32_t flags = g_stUkoLockDbg.uiFlags;
    return (flags & UKO_LOCKDBG_ENABLE) != 0 && (flags & uiBit) != 0;
}

// The owner and the recursion count are written by the owning thread and read by any
// thread that asks whether it is the owner.
pthread_t OwnerOf(const UKO_MUTEX_CB* pstMutex) {
    return __atomic_load_n(&pstMutex->ulOwner, __ATOMIC_RELAXED);
}
void OwnerSet(UKO_MUTEX_CB* pstMutex, pthread_t owner) {
    __atomic_store_n(&pstMutex->ulOwner, owner, __ATOMIC_RELAXED);
}
uint16_t RecursionOf(const UKO_MUTEX_CB* pstMutex) {
    return __atomic_load_n(&pstMutex->usRecursion, __ATOMIC_RELAXED);
}
void RecursionSet(UKO_MUTEX_CB* pstMutex, uint16_t usValue) {
    __atomic_store_n(&pstMutex->usRecursion, usValue, __ATOMIC_RELAXED);
}

// The OS lock taken with a deadline on the monotonic clock, so that a step of the wall
// clock neither ends the wait early nor stretches it.
int LockUntil(pthread_mutex_t* pLock, const struct timespec* pstDeadline) {
#if defined(OS_SEMA_TSAN)
    // The sanitizer's runtime does not see this call; tell it about the take so that
    // it pairs the later unlock with it.
    __tsan_mutex_pre_lock(pLock, __tsan_mutex_try_lock);
    int rc = pthread_mutex_clocklock(pLock, CLOCK_MONOTONIC, pstDeadline);
    __tsan_mutex_post_lock(pLock,
                           __tsan_mutex_try_lock | (rc == 0 ? 0 : __tsan_mutex_try_lock_failed), 0);
    return rc;
#else
    return pthread_mutex_clocklock(pLock, CLOCK_MONOTONIC, pstDeadline);
#endif
}

// A mutex the caller has just taken from the OS lock becomes the caller's, with
// recursion 1.
void MutexTaken(UKO_MUTEX_CB* pstMutex, pthread_t self) {
    if (LockDbgOn(UKO_LOCKDBG_DBGWORD)) {
        g_stUkoLockDbg.stHooks.pfnDbgWordAcquire(&pstMutex->aulDbgWord[0]);
    }
    OwnerSet(pstMutex, self);
    uint16_t recursion = static_cast<uint16_t>(RecursionOf(pstMutex) + 1);
    RecursionSet(pstMutex, recursion);
    if ((pstMutex->usFlags & UKO_MUTEX_FLAG_OWNER_HOOK) != 0) {
        g_stUkoLockDbg.pfnMutexAcquire(self, pstMutex->usFlags, recursion, pstMutex);
    }
}

// A take by the owner only counts; a count that would wrap to 0 would free the mutex
// while its owner still believes it holds it, so the take is refused instead.
uint32_t MutexRetake(UKO_MUTEX_CB* pstMutex, const char* pcFunc) {
    uint16_t recursion = RecursionOf(pstMutex);
    if (recursion >= UKO_MUTEX_RECURSION_MAX) {
        return ukoErrReport(UKO_EINVAL, UKO_MID_OS_SEMA, __FILE__, __LINE__, kRecursionFull,
                            pcFunc, static_cast<void*>(pstMutex), static_cast<uint32_t>(recursion));
    }
    RecursionSet(pstMutex, static_cast<uint16_t>(recursion + 1));
    return 0;
}

void SemaListAdd(UKO_DLL_NODE* pstNode) {
    (void)OSAL_LockLock(&g_stUkoLockDbg.stSemaListLock);
    ukoDllAddHead(&g_stUkoLockDbg.stSemaList, pstNode);
    (void)OSAL_LockUnLock(&g_stUkoLockDbg.stSemaListLock, 0);
}

void MutexListAdd(UKO_DLL_NODE* pstNode) {
    (void)OSAL_LockLock(&g_stUkoLockDbg.stMutexListLock);
    ukoDllAddHead(&g_stUkoLockDbg.stMutexList, pstNode);
    (void)OSAL_LockUnLock(&g_stUkoLockDbg.stMutexListLock, 0);
}

// A thread cancelled inside a condition wait comes out of it holding the semaphore's
// mutex: it stops counting as a waiter and lets the mutex go, so the semaphore stays
// usable (and deletable) by everyone else.
void SemaWaitCancelled(void* pArg) {
    osalUnwindCleanupEnter();
    auto* sem = static_cast<UKO_SEMA_CB*>(pArg);
    --sem->iWaiters;
    (void)pthread_mutex_unlock(&sem->stMutex);
}

// The condition waits on the monotonic clock, matching the deadlines of
// ukoSemaAbsTimeGet.
int CondInitMonotonic(pthread_cond_t* pCond) {
    pthread_condattr_t attr;
    int rc = pthread_condattr_init(&attr);
    if (rc != 0) {
        return rc;
    }
    rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (rc == 0) {
        rc = pthread_cond_init(pCond, &attr);
    }
    (void)pthread_condattr_destroy(&attr);
    return rc;
}

}  // namespace

// ---- Semaphores ---------------------------------------------------------------------

uint32_t ukoSemaCreate(const char* pcName, uint32_t uiType, uint32_t uiInitCount, uint32_t uiFlags,
                       void** pSem) {
    if (pSem == nullptr) {
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:SemName(%s), the Param pSem is null.", __func__,
                           NameText(pcName));
    }
    // The count is a signed 32-bit value: a larger start would begin negative.
    if (uiInitCount > UKO_SEMA_COUNT_MAX) {
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval param uiSemInit(%u).", __func__,
                           uiInitCount);
    }
    auto* cb = static_cast<UKO_SEMA_CB*>(UKO_Malloc(0, sizeof(UKO_SEMA_CB)));
    if (cb == nullptr) {
        return SEMA_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:SemName(%s), UKO_Malloc(%lu) fail.", __func__,
                           NameText(pcName), static_cast<unsigned long>(sizeof(UKO_SEMA_CB)));
    }
    std::memset(cb, 0, sizeof(*cb));
    int rc = pthread_mutex_init(&cb->stMutex, nullptr);
    if (rc != 0) {
        (void)UKO_Free(cb);
        return SEMA_REPORT(OSAL_ErrnoConvert(rc),
                           "[ZIRPA-%s]:SemName(%s), pthread_mutex_init fail, errno:[%d].", __func__,
                           NameText(pcName), rc);
    }
    rc = CondInitMonotonic(&cb->stCond);
    if (rc != 0) {
        (void)pthread_mutex_destroy(&cb->stMutex);
        (void)UKO_Free(cb);
        return SEMA_REPORT(OSAL_ErrnoConvert(rc),
                           "[ZIRPA-%s]:SemName(%s), pthread_cond_init fail, errno:[%d].", __func__,
                           NameText(pcName), rc);
    }
    cb->uiType = uiType;
    cb->iCount = static_cast<int32_t>(uiInitCount);
    cb->uiInitCount = uiInitCount;
    cb->iWaiters = 0;
    cb->uiFlags = uiFlags;
    cb->pstSelf = cb;
    (void)strncpy_s(cb->acName, sizeof(cb->acName),
                    pcName != nullptr ? pcName : UKO_SEMA_DEFAULT_NAME, UKO_SEMA_NAME_LEN - 1);
    cb->acName[UKO_SEMA_NAME_LEN - 1] = '\0';
    cb->ulCreator = pthread_self();
    ukoDllInit(&cb->stListNode);
    MagicSet(&cb->uiMagic, UKO_SEMA_MAGIC);
    SemaListAdd(&cb->stListNode);
    *pSem = cb;
    return 0;
}

void ukoSemaDeadlineCalc(const struct timespec* pstNow, uint32_t uiTimeOutMs,
                         struct timespec* pstDeadline) {
    uint64_t ns = static_cast<uint64_t>(pstNow->tv_nsec) +
                  static_cast<uint64_t>(uiTimeOutMs % 1000) * 1000000ull;
    pstDeadline->tv_nsec = static_cast<long>(ns % kNsPerSecond);
    pstDeadline->tv_sec = pstNow->tv_sec + static_cast<time_t>(uiTimeOutMs / 1000) +
                          static_cast<time_t>(ns / kNsPerSecond);
}

void ukoSemaAbsTimeGet(struct timespec* pstDeadline, uint32_t uiTimeOutMs) {
    struct timespec now = {};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    ukoSemaDeadlineCalc(&now, uiTimeOutMs, pstDeadline);
}

uint32_t ukoSemaP(UKO_SEMA_CB* pstSem, uint32_t uiTimeOutMs) {
    int rc = pthread_mutex_lock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kLockFail, __func__, static_cast<void*>(pstSem));
    }
    if (pstSem->iCount <= 0) {
        if (uiTimeOutMs == 0) {
            while (pstSem->iCount <= 0) {
                ++pstSem->iWaiters;
                pthread_cleanup_push(SemaWaitCancelled, pstSem);
                rc = pthread_cond_wait(&pstSem->stCond, &pstSem->stMutex);
                pthread_cleanup_pop(0);
                --pstSem->iWaiters;
                if (rc != 0) {
                    (void)pthread_mutex_unlock(&pstSem->stMutex);
                    return SEMA_REPORT(OSAL_ErrnoConvert(rc),
                                       "[ZIRPA-%s]:Sem(0x%p), pthread_cond_wait fail, errno:[%d].",
                                       __func__, static_cast<void*>(pstSem), rc);
                }
            }
        } else {
            // One deadline for the whole call: a wake-up that finds the count taken by
            // another thread goes back to wait for what is left of the time.
            struct timespec deadline;
            ukoSemaAbsTimeGet(&deadline, uiTimeOutMs);
            while (pstSem->iCount <= 0) {
                ++pstSem->iWaiters;
                pthread_cleanup_push(SemaWaitCancelled, pstSem);
                rc = pthread_cond_timedwait(&pstSem->stCond, &pstSem->stMutex, &deadline);
                pthread_cleanup_pop(0);
                --pstSem->iWaiters;
                if (rc != 0) {
                    (void)pthread_mutex_unlock(&pstSem->stMutex);
                    uint32_t err = OSAL_ErrnoConvert(rc);
                    if (err == UKO_ETIMEDOUT) {
                        return err;  // an expected outcome, not a failure to report
                    }
                    return SEMA_REPORT(err,
                                       "[ZIRPA-%s]:Sem(0x%p), pthread_cond_timedwait fail, errno:[%d].",
                                       __func__, static_cast<void*>(pstSem), rc);
                }
            }
        }
    }
    --pstSem->iCount;
    rc = pthread_mutex_unlock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kUnlockFail, __func__, static_cast<void*>(pstSem));
    }
    return 0;
}

uint32_t ukoSemaAsynP(UKO_SEMA_CB* pstSem) {
    int rc = pthread_mutex_lock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kLockFail, __func__, static_cast<void*>(pstSem));
    }
    if (pstSem->iCount <= 0) {
        (void)pthread_mutex_unlock(&pstSem->stMutex);
        return UKO_EBUSY;
    }
    --pstSem->iCount;
    rc = pthread_mutex_unlock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kUnlockFail, __func__, static_cast<void*>(pstSem));
    }
    return 0;
}

uint32_t ukoSemaV(UKO_SEMA_CB* pstSem) {
    int rc = pthread_mutex_lock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kLockFail, __func__, static_cast<void*>(pstSem));
    }
    // One more V would wrap the count negative and every later P would wait for ever.
    if (pstSem->iCount >= static_cast<int32_t>(UKO_SEMA_COUNT_MAX)) {
        int32_t count = pstSem->iCount;
        (void)pthread_mutex_unlock(&pstSem->stMutex);
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Sem(0x%p), count(%d) reach the max.", __func__,
                           static_cast<void*>(pstSem), count);
    }
    ++pstSem->iCount;
    // Signalled with the mutex held: a waiter between its count test and its wait
    // cannot miss the wake-up.
    rc = pthread_cond_signal(&pstSem->stCond);
    if (rc != 0) {
        --pstSem->iCount;
        (void)pthread_mutex_unlock(&pstSem->stMutex);
        return SEMA_REPORT(OSAL_ErrnoConvert(rc),
                           "[ZIRPA-%s]:Sem(0x%p), pthread_cond_signal fail, errno:[%d].", __func__,
                           static_cast<void*>(pstSem), rc);
    }
    rc = pthread_mutex_unlock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kUnlockFail, __func__, static_cast<void*>(pstSem));
    }
    return 0;
}

uint32_t ukoSemaDelete(UKO_SEMA_CB* pstSem) {
    // Threads waiting on the condition would wake up inside freed memory: the delete is
    // refused while any is counted, before anything is destroyed.
    int rc = pthread_mutex_lock(&pstSem->stMutex);
    if (rc != 0) {
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kLockFail, __func__, static_cast<void*>(pstSem));
    }
    if (pstSem->iWaiters > 0) {
        (void)pthread_mutex_unlock(&pstSem->stMutex);
        return SEMA_REPORT(UKO_EBUSY, kCondDestroyFail, __func__, static_cast<void*>(pstSem), EBUSY);
    }
    // Cleared under the mutex, so a call that comes after this point is refused by the
    // magic check instead of starting to wait.
    MagicSet(&pstSem->uiMagic, 0);
    (void)pthread_mutex_unlock(&pstSem->stMutex);

    rc = pthread_mutex_destroy(&pstSem->stMutex);
    if (rc != 0) {
        // A caller that passed the magic check before it was cleared holds the mutex:
        // the semaphore stays alive for it.
        MagicSet(&pstSem->uiMagic, UKO_SEMA_MAGIC);
        return SEMA_REPORT(OSAL_ErrnoConvert(rc),
                           "[ZIRPA-%s]:Sem(0x%p), pthread_mutex_destroy fail, errno:[%d].", __func__,
                           static_cast<void*>(pstSem), rc);
    }
    rc = pthread_cond_destroy(&pstSem->stCond);
    if (rc != 0) {
        // The mutex is gone: the block can be neither used nor freed safely any more.
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), kCondDestroyFail, __func__,
                           static_cast<void*>(pstSem), rc);
    }
    (void)OSAL_LockLock(&g_stUkoLockDbg.stSemaListLock);
    ukoDllDel(&pstSem->stListNode);
    g_stUkoLockDbg.stHooks.pfnDelete(pstSem);
    (void)OSAL_LockUnLock(&g_stUkoLockDbg.stSemaListLock, 0);
    (void)UKO_Free(pstSem);
    return 0;
}

// ---- Mutexes ------------------------------------------------------------------------

uint32_t ukoMutexCreate(const char* pcName, uint32_t uiFlags, void** pSem) {
    auto* cb = static_cast<UKO_MUTEX_CB*>(UKO_Malloc(0, sizeof(UKO_MUTEX_CB)));
    if (cb == nullptr) {
        return SEMA_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:SemName(%s), call UKO_Malloc(%u) return null.",
                           __func__, NameText(pcName), static_cast<uint32_t>(sizeof(UKO_MUTEX_CB)));
    }
    std::memset(cb, 0, sizeof(*cb));
    uint32_t rc = OSAL_LockCreate(&cb->stLock);
    if (rc != 0) {
        (void)UKO_Free(cb);
        return SEMA_REPORT(rc, "ZIRPA-%s]:SemName(%s), call OSAL_LockCreate fail.", __func__,
                           NameText(pcName));
    }
    cb->uiType = UKO_SEMA_TYPE_MUTEX;
    cb->usFlags = static_cast<uint16_t>(uiFlags);
    cb->usRecursion = 0;
    cb->ulOwner = UKO_MUTEX_NO_OWNER;
    cb->pstSelf = cb;
    (void)UKO_SafeStrNCpyN(cb->acName, sizeof(cb->acName),
                           pcName != nullptr ? pcName : UKO_SEMA_DEFAULT_NAME, UKO_SEMA_NAME_LEN - 1);
    cb->acName[UKO_SEMA_NAME_LEN - 1] = '\0';
    cb->ulCreator = pthread_self();
    ukoDllInit(&cb->stListNode);
    MagicSet(&cb->uiMagic, UKO_SEMA_MAGIC);
    MutexListAdd(&cb->stListNode);
    *pSem = cb;
    return 0;
}

uint32_t ukoMutexP(UKO_MUTEX_CB* pstMutex, uint32_t uiTimeOutMs) {
    pthread_t self = pthread_self();
    if (pthread_equal(OwnerOf(pstMutex), self)) {
        return MutexRetake(pstMutex, __func__);
    }
    int rc;
    if (uiTimeOutMs == 0) {
        rc = static_cast<int>(OSAL_LockLock(&pstMutex->stLock));
    } else {
        struct timespec deadline;
        ukoSemaAbsTimeGet(&deadline, uiTimeOutMs);
        rc = LockUntil(&pstMutex->stLock, &deadline);
    }
    if (rc != 0) {
        uint32_t err = OSAL_ErrnoConvert(rc);
        if (err == UKO_ETIMEDOUT) {
            return err;
        }
        return SEMA_REPORT(err, kLockFail, __func__, static_cast<void*>(pstMutex));
    }
    MutexTaken(pstMutex, self);
    return 0;
}

uint32_t ukoMutexTryP(UKO_MUTEX_CB* pstMutex) {
    pthread_t self = pthread_self();
    if (pthread_equal(OwnerOf(pstMutex), self)) {
        return MutexRetake(pstMutex, __func__);
    }
    uint32_t rc = OSAL_LockTryLock(&pstMutex->stLock);
    if (rc == EBUSY) {
        return UKO_EBUSY;
    }
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    MutexTaken(pstMutex, self);
    return 0;
}

uint32_t ukoMutexV(UKO_MUTEX_CB* pstMutex) {
    pthread_t self = pthread_self();
    bool releaseHookCalled = false;
    if (pthread_equal(OwnerOf(pstMutex), self)) {
        uint16_t recursion = static_cast<uint16_t>(RecursionOf(pstMutex) - 1);
        RecursionSet(pstMutex, recursion);
        if (recursion != 0) {
            return 0;
        }
        OwnerSet(pstMutex, UKO_MUTEX_NO_OWNER);
        if ((pstMutex->usFlags & UKO_MUTEX_FLAG_OWNER_HOOK) != 0) {
            g_stUkoLockDbg.pfnMutexRelease(self);
            releaseHookCalled = true;
        }
    }
    if (LockDbgOn(UKO_LOCKDBG_DBGWORD)) {
        uintptr_t out = 0;
        (void)g_stUkoLockDbg.stHooks.pfnDbgWordRelease(pstMutex, &pstMutex->aulDbgWord[0],
                                                       &pstMutex->aulDbgWord[1],
                                                       &pstMutex->aulDbgWord[2], &out);
    }
    // The OS lock refuses an unlock by a thread that does not hold it, which is how a
    // V by a non-owner, or one V too many, fails.
    uint32_t rc = OSAL_LockUnLock(&pstMutex->stLock, 0);
    if (rc != 0) {
        if (releaseHookCalled) {
            g_stUkoLockDbg.pfnMutexAcquire(self, pstMutex->usFlags, RecursionOf(pstMutex), pstMutex);
        }
        return SEMA_REPORT(OSAL_ErrnoConvert(rc), "[ZIRPA-%s]:OSAL_LockUnLock (0x%p)failed.",
                           __func__, static_cast<void*>(pstMutex));
    }
    return 0;
}

uint32_t ukoMutexDelete(UKO_MUTEX_CB* pstMutex) {
    uint32_t magic = MagicOf(pstMutex);
    if (magic != UKO_SEMA_MAGIC) {
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Mutex MagicNum(%u) is invalid.", __func__, magic);
    }
    // The OS refuses to destroy a lock that is held, so a mutex in use survives.
    uint32_t rc = OSAL_LockDelete(&pstMutex->stLock);
    if (rc != 0) {
        return OSAL_ErrnoConvert(rc);
    }
    pthread_t owner = OwnerOf(pstMutex);
    if (!pthread_equal(owner, UKO_MUTEX_NO_OWNER) &&
        (pstMutex->usFlags & UKO_MUTEX_FLAG_OWNER_HOOK) != 0) {
        g_stUkoLockDbg.pfnMutexRelease(owner);
    }
    MagicSet(&pstMutex->uiMagic, 0);
    (void)OSAL_LockLock(&g_stUkoLockDbg.stMutexListLock);
    ukoDllDel(&pstMutex->stListNode);
    (void)OSAL_LockUnLock(&g_stUkoLockDbg.stMutexListLock, 0);
    (void)UKO_Free(pstMutex);
    return 0;
}

// ---- Public operations ------------------------------------------------------------

uint32_t UKO_SemaCCreate(const char* pcName, uint32_t uiInitCount, uint32_t uiFlags, void** pSem) {
    return ukoSemaCreate(pcName, UKO_SEMA_TYPE_COUNT, uiInitCount, uiFlags, pSem);
}

uint32_t UKO_SemaBCreate(const char* pcName, uint32_t uiSemInit, uint32_t uiFlags, void** pSem) {
    if (uiSemInit >= 2) {
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:scSemName(%s), Inval param uiSemInit(%u).",
                           __func__, NameText(pcName), uiSemInit);
    }
    return ukoSemaCreate(pcName, UKO_SEMA_TYPE_BINARY, uiSemInit, uiFlags, pSem);
}

uint32_t UKO_SemaMCreate(const char* pcName, uint32_t uiFlags, void** pSem) {
    if (pSem == nullptr) {
        return SEMA_REPORT(UKO_EINVAL, "[ZIRPA-%s]:SemName(%s),the param pSem is null.", __func__,
                           NameText(pcName));
    }
    return ukoMutexCreate(pcName, uiFlags, pSem);
}

uint32_t UKO_SemaP(void* pSem, uint32_t uiTimeOutMs) {
    if (!HandleValid(pSem)) {
        return SEMA_REPORT(UKO_EINVAL, kInvalParam, __func__, pSem);
    }
    UKO_SEMA_COUNTERS* counters = CountersOf(pSem);
    (void)UKO_AtomicInc(&counters->uiPCount);
    pthread_t self = pthread_self();
    bool waitHook = LockDbgOn(UKO_LOCKDBG_WAIT);
    if (waitHook) {
        g_stUkoLockDbg.stHooks.pfnWait(pSem, self);
    }
    uint32_t rc;
    if (IsMutex(pSem)) {
        rc = ukoMutexP(static_cast<UKO_MUTEX_CB*>(pSem), uiTimeOutMs);
    } else {
        auto* sem = static_cast<UKO_SEMA_CB*>(pSem);
        rc = ukoSemaP(sem, uiTimeOutMs);
        if (rc == UKO_ETIMEDOUT) {
            (void)UKO_AtomicInc(&counters->uiPTimeoutCount);
        } else if (rc != 0) {
            (void)UKO_AtomicInc(&counters->uiPFailCount);
        } else {
            if (LockDbgOn(UKO_LOCKDBG_ACQ_REL)) {
                g_stUkoLockDbg.stHooks.pfnAcquire(self, pSem);
            }
            if (LockDbgOn(UKO_LOCKDBG_DBGWORD)) {
                g_stUkoLockDbg.stHooks.pfnDbgWordAcquire(&sem->aulDbgWord[0]);
            }
        }
    }
    if (waitHook) {
        g_stUkoLockDbg.stHooks.pfnWait(nullptr, self);
    }
    return rc;
}

uint32_t UKO_SemaAsynP(void* pSem) {
    if (!HandleValid(pSem)) {
        return SEMA_REPORT(UKO_EINVAL, kInvalParam, __func__, pSem);
    }
    UKO_SEMA_COUNTERS* counters = CountersOf(pSem);
    (void)UKO_AtomicInc(&counters->uiAsynPCount);
    if (IsMutex(pSem)) {
        return ukoMutexTryP(static_cast<UKO_MUTEX_CB*>(pSem));
    }
    auto* sem = static_cast<UKO_SEMA_CB*>(pSem);
    uint32_t rc = ukoSemaAsynP(sem);
    if (rc != 0) {
        (void)UKO_AtomicInc(&counters->uiAsynPFailCount);
        return rc;
    }
    if (LockDbgOn(UKO_LOCKDBG_ACQ_REL)) {
        g_stUkoLockDbg.stHooks.pfnAcquire(pthread_self(), pSem);
    }
    if (LockDbgOn(UKO_LOCKDBG_DBGWORD)) {
        g_stUkoLockDbg.stHooks.pfnDbgWordAcquire(&sem->aulDbgWord[0]);
    }
    return 0;
}

uint32_t UKO_SemaV(void* pSem) {
    if (!HandleValid(pSem)) {
        return SEMA_REPORT(UKO_EINVAL, kInvalParam, __func__, pSem);
    }
    UKO_SEMA_COUNTERS* counters = CountersOf(pSem);
    (void)UKO_AtomicInc(&counters->uiVCount);
    if (IsMutex(pSem)) {
        return ukoMutexV(static_cast<UKO_MUTEX_CB*>(pSem));
    }
    auto* sem = static_cast<UKO_SEMA_CB*>(pSem);
    uint32_t notify = 0;
    uintptr_t out = 0;
    if (LockDbgOn(UKO_LOCKDBG_DBGWORD)) {
        notify = g_stUkoLockDbg.stHooks.pfnDbgWordRelease(sem, &sem->aulDbgWord[0],
                                                          &sem->aulDbgWord[1],
                                                          &sem->aulDbgWord[2], &out);
    }
    uint32_t rc = ukoSemaV(sem);
    if (rc != 0) {
        (void)UKO_AtomicInc(&counters->uiVFailCount);
        return rc;
    }
    if (LockDbgOn(UKO_LOCKDBG_ACQ_REL)) {
        g_stUkoLockDbg.stHooks.pfnRelease(pSem);
    }
    if (notify != 0 && g_stUkoLockDbg.pfnVNotify != nullptr) {
        (void)g_stUkoLockDbg.pfnVNotify(pSem, sem->uiType, out, 0);
    }
    return 0;
}

uint32_t UKO_SemaDelete(void* pSem) {
    if (!HandleValid(pSem)) {
        return SEMA_REPORT(UKO_EINVAL, kInvalParam, __func__, pSem);
    }
    if (IsMutex(pSem)) {
        return ukoMutexDelete(static_cast<UKO_MUTEX_CB*>(pSem));
    }
    return ukoSemaDelete(static_cast<UKO_SEMA_CB*>(pSem));
}

uint32_t UKO_SemaMutexInfoGet(void* pSem, UKO_MUTEX_INFO* pstInfo) {
    if (pstInfo != nullptr) {
        std::memset(pstInfo, 0, sizeof(*pstInfo));
    }
    if (pstInfo == nullptr || !HandleValid(pSem) || !IsMutex(pSem)) {
        return SEMA_REPORT(UKO_EINVAL, kInvalParam, __func__, pSem);
    }
    auto* mutex = static_cast<UKO_MUTEX_CB*>(pSem);
    uint16_t recursion = RecursionOf(mutex);
    pstInfo->uiFree = recursion == 0 ? 1u : 0u;
    pstInfo->uiRecursion = recursion;
    pstInfo->ulOwner = OwnerOf(mutex);
    return 0;
}
