#pragma once
// The thread-creation half of the OS thread adaptation: a platform task becomes a POSIX
// thread here, with its detach state, its stack size and, in supervisor mode, its
// scheduling policy and priority. Beside it: delays, yields, cancellation and the
// calling thread's identities.
//
// Platform priorities run from 0 to 255 (higher is more urgent); the OS priority of a
// platform priority p is p / 3 + 1, so they map onto 1..86.

#include <pthread.h>

#include <cstdint>

// Mode bits this layer reads.
constexpr uint32_t OSAL_TASK_MODE_RR = 0x02;        // round-robin policy (supervisor mode)
constexpr uint32_t OSAL_TASK_MODE_FIFO = 0x20;      // first-in-first-out policy (supervisor mode)
constexpr uint32_t OSAL_TASK_MODE_JOINABLE = 0x40;  // the thread is joined, not detached

// Platform priorities are below this.
constexpr uint32_t OSAL_TASK_PRIO_LIMIT = 256;

// What a new thread runs, with the argument the creator gave.
typedef void* (*OSAL_TASK_START_PF)(void* pArg);

// Starts a thread running pfnStart(pArg). The name is not read. The thread is detached
// unless the mode has OSAL_TASK_MODE_JOINABLE. A non-zero *puvStackSize below the probed
// minimum is raised to it; a size the thread library refuses is reported and the
// default is used. On success *puvStackSize holds the size the thread got and *pThread
// its handle. 0, 22 (priority 256 or more, a NULL stack-size, start or handle pointer)
// or the converted thread-library error.
uint32_t OSAL_TaskCreate(const char* pcName, OSAL_TASK_START_PF pfnStart, uint32_t uiPriority,
                         uint32_t uiMode, uint64_t* puvStackSize, void* pArg, pthread_t* pThread);

// From now on new threads get the policy and priority their mode asks for; only a
// process running as user 0 may ask this. Otherwise it is reported and nothing changes.
void OSAL_TaskRunInSupervisorModeSet();

// Finds the smallest stack size the thread library accepts (in 1024-byte steps) and
// keeps it as the minimum for OSAL_TaskCreate: 0, or the converted error of the
// attribute set-up.
uint32_t OSAL_MinStackSizeProbe();

// Sleeps uiMs milliseconds; a signal does not cut the sleep short. Always 0.
uint32_t OSAL_TaskDelay(uint32_t uiMs);

// Asks the thread to end at its next cancellation point: pthread_cancel's result.
uint32_t OSAL_TaskCancel(pthread_t thread);

// Makes the calling thread's cancellation deferred, so that a cancel lands only where
// the thread waits and never inside a lock or a half-done update: 0, or 22.
uint32_t OSAL_TaskCancelTypeSet();

// The calling thread's handle, and its low 32 bits as the thread id the log and the
// task control block record.
uint64_t OSAL_CurThreadGet();
uint32_t OSAL_CurThreadIdGet();

// Platform priority p to OS priority p / 3 + 1, and back as (q - 1) * 3.
uint32_t OSAL_PrioToOsPrio(uint32_t uiPrio);
uint32_t OSAL_OsPrioToPrio(uint32_t uiOsPrio);

// This OS has no scheduler lock: both do nothing and return 0.
uint32_t OSAL_TaskLock();
uint32_t OSAL_TaskUnlock();
