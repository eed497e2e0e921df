// Lock-debug state of the semaphores and mutexes: the flags, the global lists of live
// semaphores and mutexes with their locks, and the debug hooks with their no-op
// defaults.

#include <atomic>

#include "osal_lock.h"
#include "osal_lock_inner.h"

namespace {

void NoAcquire(pthread_t, void*) {}
void NoRelease(void*) {}
void NoDelete(void*) {}
uint32_t NoDbgWordRelease(void*, uintptr_t*, uintptr_t*, uintptr_t*, uintptr_t*) { return 0; }
void NoDbgWordAcquire(uintptr_t*) {}
void NoWait(void*, pthread_t) {}
void NoMutexAcquire(pthread_t, uint16_t, uint16_t, void*) {}
void NoMutexRelease(pthread_t) {}

constexpr UKO_LOCKDBG_HOOKS kNoHooks = {NoAcquire,        NoRelease,        NoDelete,
                                        NoDbgWordRelease, NoDbgWordAcquire, NoWait};

std::atomic<bool> g_lockDbgReady{false};

}  // namespace

// The hooks are initialised data, so a call that comes before start-up finds the no-ops.
UKO_LOCKDBG_STATE g_stUkoLockDbg = {
    0,       0,       {nullptr, nullptr}, {nullptr, nullptr}, {}, {}, kNoHooks, nullptr,
    NoMutexAcquire, NoMutexRelease,
};

void ukoDllInit(UKO_DLL_NODE* pstHead) {
    pstHead->pstNext = pstHead;
    pstHead->pstPrev = pstHead;
}

void ukoDllAddHead(UKO_DLL_NODE* pstHead, UKO_DLL_NODE* pstNode) {
    pstNode->pstNext = pstHead->pstNext;
    pstNode->pstPrev = pstHead;
    pstHead->pstNext->pstPrev = pstNode;
    pstHead->pstNext = pstNode;
}

void ukoDllDel(UKO_DLL_NODE* pstNode) {
    pstNode->pstPrev->pstNext = pstNode->pstNext;
    pstNode->pstNext->pstPrev = pstNode->pstPrev;
    ukoDllInit(pstNode);
}

uint32_t ukoDllIsEmpty(const UKO_DLL_NODE* pstHead) {
    return pstHead->pstNext == pstHead ? 1u : 0u;
}

uint32_t ukoLockDbgInit(uint32_t /*uiUnused*/) {
    // The lists hold every live semaphore and mutex: emptying them, or creating their
    // locks anew, after the first start would cut live blocks loose.
    if (g_lockDbgReady.exchange(true)) {
        return 0;
    }
    g_stUkoLockDbg.uiFlags = 0;
    g_stUkoLockDbg.uiHistoryCount = 0;
    (void)OSAL_LockCreate(&g_stUkoLockDbg.stSemaListLock);
    (void)OSAL_LockCreate(&g_stUkoLockDbg.stMutexListLock);
    ukoDllInit(&g_stUkoLockDbg.stSemaList);
    ukoDllInit(&g_stUkoLockDbg.stMutexList);
    g_stUkoLockDbg.stHooks = kNoHooks;
    // Each semaphore sets up the clock of its own condition (the monotonic clock) when
    // it is created; there is nothing to switch here.
    return 0;
}

void ukoMutexHookSet(UKO_MUTEX_ACQUIRE_HOOK_PF pfnAcquire, UKO_MUTEX_RELEASE_HOOK_PF pfnRelease) {
    g_stUkoLockDbg.pfnMutexAcquire = pfnAcquire != nullptr ? pfnAcquire : NoMutexAcquire;
    g_stUkoLockDbg.pfnMutexRelease = pfnRelease != nullptr ? pfnRelease : NoMutexRelease;
}

void ukoSemaVNotifyHookSet(UKO_SEMA_VNOTIFY_HOOK_PF pfnHook) { g_stUkoLockDbg.pfnVNotify = pfnHook; }
