#pragma once
// Inside the OS clock: what the tick module reads of it, and the pieces of start-up and
// of the two task cycles that tests drive one by one with an injected counter.

#include <pthread.h>

#include <cstdint>

// The CPU ticks VCLK has measured but not yet counted as a whole tick, as published at
// the end of its last cycle (always below the base).
uint32_t osClockRemainderGet();

// The clock lock, for the modules that consume ticks under it (NULL before the clock's
// start-up has made it). Lock order: a module's own lock before this one.
pthread_mutex_t* osClockLockGet();

// Steps 2 to 5 of OS_ClockInit (task parameters, base, semaphore, locks) without the
// tasks: 0 or the failing step's code. What exists already is kept.
uint32_t osClockResourcesInit();

// One VCLK cycle after its sleep: guard check, base, measurement, the hooks, the wake
// of TICK. Only one thread may run VCLK cycles.
void osClockVclkCycle();
// One TICK cycle: the wait, the pending ticks, the hooks. Only one thread may run
// TICK cycles.
void osClockTickCycle();

// The ticks counted by VCLK and not yet taken by TICK (read under the clock lock).
uint32_t osClockPendingGet();
// The ids of the two tasks (0xFFFFFFFF until created).
uint32_t osClockVclkTaskIdGet();
uint32_t osClockTickTaskIdGet();
