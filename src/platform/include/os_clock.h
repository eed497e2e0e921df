#pragma once
// The OS clock: the platform's source of time, and the process-wide global lock.
//
// Two platform tasks make the clock. "VCLK" wakes once per tick, measures with the CPU
// tick counter how many whole ticks have passed since its previous cycle (the part of a
// tick left over is carried to the next cycle, so the count does not drift) and hands
// that count at once to its hooks, under the clock lock; then it wakes "TICK". "TICK"
// takes the ticks that have piled up since it last ran and calls every hook of the
// tick-hook list with the elapsed time in milliseconds, without the clock lock.
//
// Hook words are stored without a lock and may be replaced at any time; a cycle sees
// either the old or the new hook. A NULL hook is switched off.

#include <cstdint>

// ---- Hook forms --------------------------------------------------------------------
// Gets a count: elapsed ticks or elapsed milliseconds, as the setter says.
typedef void (*OS_CLOCK_COUNT_HOOK_PF)(uint32_t uiCount);
// Replaces the CPU-tick measurement of a VCLK cycle: returns the elapsed ticks.
typedef uint32_t (*OS_CLOCK_ELAPSE_HOOK_PF)();
// Takes nothing.
typedef void (*OS_CLOCK_HOOK_PF)();
// Replaces TICK's wait; gets the tick signal flag as it stands.
typedef void (*OS_CLOCK_WAIT_HOOK_PF)(uint32_t uiTickSignal);
// Gets the TICK task's id.
typedef void (*OS_CLOCK_TASK_HOOK_PF)(uint32_t uiTaskId);

// ---- Start-up ----------------------------------------------------------------------
// Start-up step: the task parameters, the CPU tick base, the semaphore "SEM_TM_ISR",
// the hook-list and clock locks, and the tasks "VCLK" and "TICK". 0, or the failing
// step's code (for the tasks, the OR of the two creations' results). A second call
// after success returns 0 at once; after a failure it tries again, keeping what the
// earlier call made.
uint32_t OS_ClockInit(uint32_t uiUnused);
// Sets the parameters of the two tasks: priority 250, 32768-byte stacks.
void OS_ClockTaskParamInit();
// Takes the CPU tick base: 0, or UKO_CpuTickBaseGet's failure.
uint32_t OS_ClockCpuTickBaseInit();

// The entries of the two tasks; they read no argument and never return.
void OS_ClockVclkEntry(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3, uint64_t uvArg4);
void OS_ClockTickEntry(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3, uint64_t uvArg4);

// ---- The tick-hook list (run by TICK) ----------------------------------------------
// Appends a hook, which TICK calls with the elapsed milliseconds: 0; 22 for NULL; 12
// when its node cannot be allocated. Hooks are never removed; they run newest first.
uint32_t OS_ClockTickHookAdd(OS_CLOCK_COUNT_HOOK_PF pfnHook);
// Calls every hook of the list, newest first, with the milliseconds. Takes no lock.
void OS_ClockTickHookRun(uint32_t uiMs);

// ---- Waking TICK ---------------------------------------------------------------------
// A V on "SEM_TM_ISR": its result (22 before the semaphore exists).
uint32_t OS_ClockTickSignal();
// VCLK's wake-up of TICK: the signal hook when set, else a V on "SEM_TM_ISR".
void OS_ClockTickWake();
// TICK's wait: the wait hook when set (result 0), else a P without limit on
// "SEM_TM_ISR" (its result).
uint32_t OS_ClockTickWait();

// ---- Hook setters (each returns 0) ---------------------------------------------------
// VCLK, every cycle under the clock lock, with the elapsed ticks.
uint32_t OS_ClockTickPassHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook);
// VCLK, every cycle under the clock lock, with the elapsed milliseconds: the
// milliseconds-pass hook first, then the tick-count hook.
uint32_t OS_ClockMsPassHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook);
uint32_t OS_ClockTickCountHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook);
// VCLK: when set, replaces the measurement (the first hook before the second).
uint32_t OS_ClockElapseHookSet(OS_CLOCK_ELAPSE_HOOK_PF pfnHook);
uint32_t OS_ClockElapseHook2Set(OS_CLOCK_ELAPSE_HOOK_PF pfnHook);
// VCLK: called when a measured jump, forward or backward, exceeds the threshold
// (0xFFFFFFFF at process start: never).
uint32_t OS_ClockJumpHookSet(uint32_t uiThreshold, OS_CLOCK_HOOK_PF pfnHook);
// VCLK, every cycle after the clock lock is released, in this order.
uint32_t OS_ClockPostHook1Set(OS_CLOCK_HOOK_PF pfnHook);
uint32_t OS_ClockPostHook2Set(OS_CLOCK_HOOK_PF pfnHook);
uint32_t OS_ClockPostTickHookSet(OS_CLOCK_COUNT_HOOK_PF pfnHook);  // elapsed ticks
uint32_t OS_ClockPostHook3Set(OS_CLOCK_HOOK_PF pfnHook);
// Both replace the semaphore between VCLK and TICK when set. The setter also gives
// "SEM_TM_ISR" one V, so that a TICK blocked in it wakes and goes over to the hook.
uint32_t OS_ClockWaitHookSet(OS_CLOCK_WAIT_HOOK_PF pfnWaitHook, OS_CLOCK_HOOK_PF pfnSignalHook);
// TICK, before and after the tick-hook list, only while both are set.
uint32_t OS_ClockTickPreHookSet(OS_CLOCK_HOOK_PF pfnHook);
uint32_t OS_ClockTickPostHookSet(OS_CLOCK_HOOK_PF pfnHook);
// TICK, around the tick-hook list with its own task id, only while both are set.
uint32_t OS_ClockTickTaskHookSet(OS_CLOCK_TASK_HOOK_PF pfnEnterHook,
                                 OS_CLOCK_TASK_HOOK_PF pfnLeaveHook);
// TICK, at the end of every cycle whose wait succeeded.
uint32_t OS_ClockTickIdleHookSet(OS_CLOCK_HOOK_PF pfnHook);

// ---- Global lock ---------------------------------------------------------------------
// Creates the global lock as a recursive mutex: 0, or 22 when it cannot be created.
// The lock is also created on its first use, so it works before any start-up step.
uint32_t OS_GlobalLockInit();
// Takes the global lock; the holder may take it again. Always 0.
uint32_t OS_GlobalLock();
// Releases one take of the global lock. The argument is not read.
void OS_GlobalUnlock(uint32_t uiUnused);
