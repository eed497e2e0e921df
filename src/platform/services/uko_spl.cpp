// Process locks. Each lock is a recursive OS lock plus an owner word; the owner word
// is what makes a nested taking cheap and countless: a thread that finds its own handle
// there already holds the lock and takes nothing.

#include "uko_spl.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>

#include "osal_lock.h"

namespace {

struct SplLock {
    pthread_mutex_t stLock;
    // The holder's thread handle, 0 when free. Read without the lock: a thread finds its
    // own handle here only while it holds the lock, and every other value sends it to
    // wait on the OS lock.
    std::atomic<pthread_t> owner{0};
};

SplLock g_spl[2];
std::atomic<bool> g_ready{false};
std::atomic<UKO_SPL_LOCK_HOOK_PF> g_lockHook{nullptr};
std::atomic<UKO_SPL_UNLOCK_HOOK_PF> g_unlockHook{nullptr};

bool HeldByCaller(const SplLock& spl) {
    return pthread_equal(spl.owner.load(std::memory_order_relaxed), pthread_self()) != 0;
}

uint32_t Take(SplLock& spl) {
    UKO_SPL_LOCK_HOOK_PF hook = g_lockHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook();
    }
    if (HeldByCaller(spl)) {
        return UKO_SPL_TOKEN_HELD;
    }
    (void)OSAL_LockLock(&spl.stLock);
    spl.owner.store(pthread_self(), std::memory_order_relaxed);
    return UKO_SPL_TOKEN_TAKEN;
}

uint32_t Give(SplLock& spl, uint32_t uiToken) {
    UKO_SPL_UNLOCK_HOOK_PF hook = g_unlockHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(uiToken);
    }
    // Only the holder may give the lock back. A stray owning token from another thread
    // would otherwise clear the holder's mark while the OS lock refuses the release,
    // and the holder's next nested taking would lock a second time and never be freed.
    if (uiToken != UKO_SPL_TOKEN_TAKEN || !HeldByCaller(spl)) {
        return 1;
    }
    // Cleared before the release, so the next holder never sees a stale owner.
    spl.owner.store(0, std::memory_order_relaxed);
    return OSAL_LockUnLock(&spl.stLock, 0);
}

}  // namespace

uint32_t UKO_SplIni(uint32_t /*uiUnused*/) {
    if (g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    // The second lock is only made when the first exists: a half-made pair is useless.
    if (OSAL_LockCreate(&g_spl[0].stLock) != 0 || OSAL_LockCreate(&g_spl[1].stLock) != 0) {
        (void)fputs("***\nUKO_SplIni ERROR!***\n", stderr);
        return 0xFFFFFFFFu;
    }
    g_ready.store(true, std::memory_order_release);
    return 0;
}

uint32_t UKO_SplLock() { return Take(g_spl[0]); }
uint32_t UKO_SplUnlock(uint32_t uiToken) { return Give(g_spl[0], uiToken); }
uint32_t UKO_SplLock2() { return Take(g_spl[1]); }
uint32_t UKO_SplUnlock2(uint32_t uiToken) { return Give(g_spl[1], uiToken); }

uint32_t UKO_SplLockHookSet(UKO_SPL_LOCK_HOOK_PF pfnHook) {
    g_lockHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SplUnlockHookSet(UKO_SPL_UNLOCK_HOOK_PF pfnHook) {
    g_unlockHook.store(pfnHook, std::memory_order_release);
    return 0;
}
