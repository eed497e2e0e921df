#pragma once
// The OS clock module: the process-wide global lock.

#include <cstdint>

// Creates the global lock as a recursive mutex: 0, or 22 when it cannot be created.
// The lock is also created on its first use, so it works before any start-up step.
uint32_t OS_GlobalLockInit();
// Takes the global lock; the holder may take it again. Always 0.
uint32_t OS_GlobalLock();
// Releases one take of the global lock. The argument is not read.
void OS_GlobalUnlock(uint32_t uiUnused);
