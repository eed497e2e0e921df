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

#include <cstdint>

// Mutex flag: report ownership changes to the mutex ownership hooks.
constexpr uint16_t UKO_MUTEX_FLAG_OWNER_HOOK = 0x4;

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
