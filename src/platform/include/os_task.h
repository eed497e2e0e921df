#pragma once
// The OS task layer under platform tasks: the calling thread's control block (through a
// thread-specific key and three one-entry caches), ending and joining threads, yields,
// stack checks, alternate signal stacks, and the answers this OS gives for real-time
// kernel operations it does not offer.

#include <pthread.h>

#include <cstdint>

struct UKO_TaskCb;

// Size of a task's alternate signal stack (131072 from OS_TaskInit on; a multiple of the
// page size), and the number of online processors (1 to 256). Written by OS_TaskInit,
// read without a lock.
extern uint32_t OS_TASK_SIG_STACK_SIZE;
extern uint32_t CpuCoreNum;
constexpr uint32_t OS_TASK_CPU_CORE_MAX = 256;

// Start-up (through UKO_TaskInit): the current-task key (made once; a later call keeps
// it), the signal-stack size and the processor count. More than 256 processors are
// recorded as an error and counted as 256. 0, the converted key error, or 0xFFFFFFFF
// when the page size cannot be read.
uint32_t OS_TaskInit();

// Stores the block under the current-task key: 0 or the thread library's error.
uint32_t OS_TaskCurSet(UKO_TaskCb* pstTaskCb);
// The calling thread's task id, or 0xFFFFFFFF when it is no platform task.
uint32_t OS_CurTaskIdGet();
// 0 with the caller's control block, 11 when the caller has none, 22 for NULL.
uint32_t OS_CurTaskCbGet(UKO_TaskCb** ppstTaskCb);
// The task id of the calling thread when thread is the caller's own handle, else
// 0xFFFFFFFF.
uint32_t OS_TaskIdGetByThread(pthread_t thread);

// Ends the calling task's thread with the result; a detached task first gives back its
// id, control block and event semaphore (a joinable one leaves that to its joiner).
// Returns only when the caller is no platform task.
void OS_TaskExit(void* pResult, uint32_t uiUnused);
// pthread_join's result.
uint32_t OS_TaskJoin(pthread_t thread, void** ppResult);
// 0, or 11 when the yield fails.
uint32_t OS_TaskYield();
// 0, or 0xFFFFFFFF when the yield fails. The flag is not read.
uint32_t OS_TaskFreeCPU(uint32_t uiFlag);
// The priority hook's answer for the thread's task, or 0 without a hook.
uint32_t OS_TaskPrioSet(pthread_t thread, uint32_t uiPriority);
// The top of the calling thread's own stack (OS_TaskStackBaseQuery), or 0 when the
// thread library cannot tell it.
uint64_t OS_TaskStackBaseGet();
// 0 when the size is at most 2^64 - 65, else 22 (also for NULL).
uint32_t OS_TaskStackSizeCheck(const uint64_t* puvStackSize);
// Installs the task's alternate signal stack when alternate stacks are switched on
// (they are off in this system: 0 and nothing done). 0, 12, or the failing call's
// result.
uint32_t OS_SigAltStack(UKO_TaskCb* pstTaskCb);
// OSAL_CurThreadIdGet's answer.
uint32_t OS_CurThreadIdGet();

// ---- What this OS does not offer ---------------------------------------------------------
// Each prints "Sorry, ... don't support" to standard error. The policy set returns
// 0xFFFFFFFF (nothing is changed), the affinity set 0xFFFFFFFF, the process affinity 0.
uint32_t UKO_TaskSchedulePolicySet(uint32_t uiTaskId, uint32_t uiPolicy, uint32_t uiPriority);
uint32_t UKO_TaskAffinitySet(uint32_t uiTaskId, uint64_t uvAffinityMask);
uint32_t OS_ProcCpuAffinitySet(uint32_t uiProcess, uint64_t uvMask);
// Fixed answers.
void OS_TaskCbRegister(UKO_TaskCb* pstTaskCb);             // nothing
uint32_t OS_TaskIdBind(pthread_t thread, uint32_t uiTaskId);  // 0xFFFFFFFF
uint32_t OS_TaskEntryInit();                               // 0
uint32_t OS_TaskCreateNotifyGet();                         // 0: no create notification
uint32_t OS_TaskSuspend(pthread_t thread);                 // 0xFFFFFFFF
uint32_t OS_TaskResume(pthread_t thread);                  // 0xFFFFFFFF
uint32_t OS_TaskPrioGet(pthread_t thread, uint32_t* puiPriority);  // 0, *puiPriority untouched
uint32_t OS_TaskRestart(pthread_t thread);                 // 0
uint32_t OS_TaskThreadCheck(pthread_t thread);             // 0
uint32_t OS_TaskThreadStateGet(pthread_t thread);          // 0
uint32_t OS_TaskCbCheck(UKO_TaskCb* pstTaskCb);            // 0
void OS_TaskNop();                                         // nothing
