#pragma once
// Counting and binary semaphores and recursive, owner-counted mutexes, each a control
// block around a POSIX mutex (and, for semaphores, a condition variable). Callers hold
// an opaque handle, the address of the block; every public operation checks the
// block's magic, counts the call and dispatches on the block's type.
//
// Results: 0 success; 22 bad handle or argument; 12 no memory; 16 not available (a
// non-waiting take that would block, a delete while threads wait); 109 time-out; any
// other value is a thread-library error converted to the platform's number.

#include <pthread.h>
#include <time.h>

#include <cstddef>
#include <cstdint>

#include "osal_lock.h"

constexpr uint32_t UKO_SEMA_MAGIC = 0x1A2B3C4E;  // while the block lives; 0 once deleted

// Block types.
constexpr uint32_t UKO_SEMA_TYPE_BINARY = 0;
constexpr uint32_t UKO_SEMA_TYPE_COUNT = 1;
constexpr uint32_t UKO_SEMA_TYPE_MUTEX = 2;

constexpr uint32_t UKO_SEMA_NAME_LEN = 16;  // 15 characters and a terminator
constexpr const char* UKO_SEMA_DEFAULT_NAME = "UKO_Sema";

// A counting semaphore's count must stay a positive signed 32-bit value.
constexpr uint32_t UKO_SEMA_COUNT_MAX = 0x7FFFFFFF;
// A mutex's recursion count is 16 bits wide.
constexpr uint16_t UKO_MUTEX_RECURSION_MAX = 0xFFFF;
// Mutex flag: report ownership changes to the mutex ownership hooks.
constexpr uint16_t UKO_MUTEX_FLAG_OWNER_HOOK = 0x4;
// Owner of a mutex nobody holds.
constexpr pthread_t UKO_MUTEX_NO_OWNER = static_cast<pthread_t>(~static_cast<pthread_t>(0));

// Per-block call counters, added to atomically and read without a lock.
struct UKO_SEMA_COUNTERS {
    uint32_t uiPCount;          // UKO_SemaP calls
    uint32_t uiAsynPCount;      // UKO_SemaAsynP calls
    uint32_t uiVCount;          // UKO_SemaV calls
    uint32_t uiPTimeoutCount;   // P time-outs
    uint32_t uiPFailCount;      // other P failures
    uint32_t uiAsynPFailCount;  // non-waiting P failures
    uint32_t uiVFailCount;      // V failures
};

// Both blocks begin with the same head (magic, type, reserved word, name), so that a
// handle can be checked and counted before its type is known.
struct UKO_SEMA_CB {
    uint32_t uiMagic;
    uint32_t uiType;  // binary or counting
    uint32_t uiReserved;
    char acName[UKO_SEMA_NAME_LEN];
    uint32_t uiFlags;  // kept as the creator gave them
    int32_t iWaiters;  // threads inside a condition wait; guarded by stMutex
    int32_t iCount;    // guarded by stMutex
    pthread_t ulCreator;
    UKO_SEMA_COUNTERS stCounters;
    UKO_SEMA_CB* pstSelf;
    uintptr_t aulDbgWord[3];  // handed to the lock-debug hooks
    uint32_t uiInitCount;
    uint32_t auiReserved[2];
    void* pHistoryStart;  // lock-debug history area: none in this system
    void* pHistoryEnd;
    pthread_mutex_t stMutex;
    pthread_cond_t stCond;  // waits on the monotonic clock
    UKO_DLL_NODE stListNode;  // in the global semaphore list
};

struct UKO_MUTEX_CB {
    uint32_t uiMagic;
    uint32_t uiType;  // mutex
    uint32_t uiReserved;
    char acName[UKO_SEMA_NAME_LEN];
    uint16_t usFlags;
    uint16_t usRecursion;  // written only by the owner; atomic access
    pthread_t ulCreator;
    UKO_SEMA_COUNTERS stCounters;
    UKO_MUTEX_CB* pstSelf;
    pthread_t ulOwner;  // UKO_MUTEX_NO_OWNER when free; atomic access
    uintptr_t aulDbgWord[3];
    pthread_mutex_t stLock;  // recursive OS lock
    UKO_DLL_NODE stListNode;  // in the global mutex list
};

static_assert(offsetof(UKO_SEMA_CB, uiMagic) == offsetof(UKO_MUTEX_CB, uiMagic) &&
                  offsetof(UKO_SEMA_CB, uiType) == offsetof(UKO_MUTEX_CB, uiType) &&
                  offsetof(UKO_SEMA_CB, acName) == offsetof(UKO_MUTEX_CB, acName),
              "both blocks share their head");

// What UKO_SemaMutexInfoGet reports about a mutex.
struct UKO_MUTEX_INFO {
    uint32_t uiFree;       // 1 when the recursion count is 0
    uint32_t uiRecursion;
    pthread_t ulOwner;
};

// ---- Public operations -----------------------------------------------------------
// A NULL name gives "UKO_Sema"; a longer name is cut to 15 characters.
// Counting semaphore; an initial count of 0x80000000 or more gives 22.
uint32_t UKO_SemaCCreate(const char* pcName, uint32_t uiInitCount, uint32_t uiFlags, void** pSem);
// Binary semaphore; an initial value of 2 or more gives 22. A V may still raise its
// count above 1: only the semaphore table caps it.
uint32_t UKO_SemaBCreate(const char* pcName, uint32_t uiSemInit, uint32_t uiFlags, void** pSem);
// Recursive mutex, free at creation.
uint32_t UKO_SemaMCreate(const char* pcName, uint32_t uiFlags, void** pSem);
// Time-out in milliseconds, 0 waits without limit: 0, 109 or an error.
uint32_t UKO_SemaP(void* pSem, uint32_t uiTimeOutMs);
// Never waits: 0, 16 or an error.
uint32_t UKO_SemaAsynP(void* pSem);
uint32_t UKO_SemaV(void* pSem);
// 16 while threads wait on the semaphore; the block then stays intact.
uint32_t UKO_SemaDelete(void* pSem);
// 0, or 22 with the record cleared (bad handle, no record, not a mutex).
uint32_t UKO_SemaMutexInfoGet(void* pSem, UKO_MUTEX_INFO* pstInfo);

// ---- Internal operations ---------------------------------------------------------
uint32_t ukoSemaCreate(const char* pcName, uint32_t uiType, uint32_t uiInitCount, uint32_t uiFlags,
                       void** pSem);
uint32_t ukoSemaP(UKO_SEMA_CB* pstSem, uint32_t uiTimeOutMs);
uint32_t ukoSemaAsynP(UKO_SEMA_CB* pstSem);
uint32_t ukoSemaV(UKO_SEMA_CB* pstSem);
uint32_t ukoSemaDelete(UKO_SEMA_CB* pstSem);
// The deadline uiTimeOutMs from now on the monotonic clock.
void ukoSemaAbsTimeGet(struct timespec* pstDeadline, uint32_t uiTimeOutMs);
// The deadline arithmetic alone: pstNow plus uiTimeOutMs, nanoseconds normalised.
void ukoSemaDeadlineCalc(const struct timespec* pstNow, uint32_t uiTimeOutMs,
                         struct timespec* pstDeadline);
uint32_t ukoMutexCreate(const char* pcName, uint32_t uiFlags, void** pSem);
uint32_t ukoMutexP(UKO_MUTEX_CB* pstMutex, uint32_t uiTimeOutMs);
uint32_t ukoMutexTryP(UKO_MUTEX_CB* pstMutex);
uint32_t ukoMutexV(UKO_MUTEX_CB* pstMutex);
uint32_t ukoMutexDelete(UKO_MUTEX_CB* pstMutex);
