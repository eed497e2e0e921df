#pragma once
// Process locks: two process-wide locks that a thread may take again while it holds
// them. The first taking hands back a token that owns the lock; a nested taking hands
// back a token that does not, so only the release with the owning token frees the
// lock and nested pairs need no count. Both locks can be replaced as a whole by hooks.

#include <cstdint>

// Tokens of UKO_SplLock and UKO_SplLock2.
constexpr uint32_t UKO_SPL_TOKEN_TAKEN = 1;  // this call took the lock
constexpr uint32_t UKO_SPL_TOKEN_HELD = 0;   // the caller already held it

// Replace the taking and the releasing of both locks. They receive the caller's
// arguments unchanged, and their result is the caller's result.
typedef uint32_t (*UKO_SPL_LOCK_HOOK_PF)();
typedef uint32_t (*UKO_SPL_UNLOCK_HOOK_PF)(uint32_t uiToken);

// Start-up step: creates both locks. 0, or 0xFFFFFFFF (with a notice on standard
// error) when a lock cannot be created. A later call keeps the locks.
uint32_t UKO_SplIni(uint32_t uiUnused);

// Takes lock 1 (waiting while another thread holds it): UKO_SPL_TOKEN_TAKEN, or
// UKO_SPL_TOKEN_HELD without touching the lock when the caller holds it already.
uint32_t UKO_SplLock();
// With UKO_SPL_TOKEN_TAKEN from the holding thread: frees lock 1 and returns the OS
// lock's answer (0). Any other token, or a thread that does not hold the lock: 1, and
// nothing changes.
uint32_t UKO_SplUnlock(uint32_t uiToken);
// The same on lock 2.
uint32_t UKO_SplLock2();
uint32_t UKO_SplUnlock2(uint32_t uiToken);

// Install a hook (NULL puts the built-in lock back); 0.
uint32_t UKO_SplLockHookSet(UKO_SPL_LOCK_HOOK_PF pfnHook);
uint32_t UKO_SplUnlockHookSet(UKO_SPL_UNLOCK_HOOK_PF pfnHook);
