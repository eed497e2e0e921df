#pragma once
// Inside the semaphores and mutexes: the two control blocks a handle points to, their
// constants, and the operations that work on a block once its handle has been checked.

#include <pthread.h>
#include <time.h>

#include <cstddef>
#include <cstdint>

#include "os_sema.h"
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
