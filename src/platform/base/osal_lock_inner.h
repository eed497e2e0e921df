#pragma once
// Inside the lock-debug support: the flags, the hook table and the process-wide state
// that the semaphores and mutexes consult on every operation and that the lock-debug
// start-up step prepares.

#include <pthread.h>

#include <cstdint>

#include "osal_lock.h"

// Bits of the lock-debug flags word.
constexpr uint32_t UKO_LOCKDBG_ENABLE = 0x80000000u;   // lock debugging at all
constexpr uint32_t UKO_LOCKDBG_ACQ_REL = 0x00000001u;  // acquire and release hooks
constexpr uint32_t UKO_LOCKDBG_WAIT = 0x00000002u;     // wait hook
constexpr uint32_t UKO_LOCKDBG_DBGWORD = 0x00000004u;  // the two debug-word hooks

// The semaphore layer passes its control blocks as untyped pointers and each block's
// three pointer-sized debug words by address.
struct UKO_LOCKDBG_HOOKS {
    // After a semaphore was taken (flags 31 and 0).
    void (*pfnAcquire)(pthread_t thread, void* pSem);
    // After a successful V (flags 31 and 0).
    void (*pfnRelease)(void* pSem);
    // On every semaphore delete, under the semaphore-list lock.
    void (*pfnDelete)(void* pSem);
    // Before a V or a mutex unlock (flags 31 and 2); non-zero asks for the V-notify.
    uint32_t (*pfnDbgWordRelease)(void* pBlock, uintptr_t* pulWord1, uintptr_t* pulWord2,
                                  uintptr_t* pulWord3, uintptr_t* pulOut);
    // After taking (flags 31 and 2), with the address of the block's first debug word.
    void (*pfnDbgWordAcquire)(uintptr_t* pulFirstWord);
    // Before (with the semaphore) and after (with NULL) a wait (flags 31 and 1).
    void (*pfnWait)(void* pSem, pthread_t thread);
};

struct UKO_LOCKDBG_STATE {
    uint32_t uiFlags;
    uint32_t uiHistoryCount;
    UKO_DLL_NODE stSemaList;  // every live semaphore, newest first
    UKO_DLL_NODE stMutexList;  // every live mutex, newest first
    pthread_mutex_t stSemaListLock;
    pthread_mutex_t stMutexListLock;
    UKO_LOCKDBG_HOOKS stHooks;
    UKO_SEMA_VNOTIFY_HOOK_PF pfnVNotify;  // NULL until the semaphore table installs one
    UKO_MUTEX_ACQUIRE_HOOK_PF pfnMutexAcquire;
    UKO_MUTEX_RELEASE_HOOK_PF pfnMutexRelease;
};

// The process's lock-debug state. Its hooks are valid (no-ops) from process start; the
// lists and their locks from ukoLockDbgInit on.
extern UKO_LOCKDBG_STATE g_stUkoLockDbg;
