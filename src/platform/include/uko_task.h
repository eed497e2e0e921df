#pragma once
// Platform tasks: numbered, named POSIX threads with a priority, four start arguments, a
// control block and a 32-bit event word the task can wait on.
//
// A task id is the 1-based index of the task's control block; wherever an id is taken,
// 0 means the calling task and 0xFFFFFFFF means no task. A new task sleeps until its
// creator has recorded it and run the create hooks, then runs its entry; when the entry
// returns, the task ends and its id, name, control block and event semaphore are given
// back. A joinable task (mode 0x40) is given back by UKO_TaskJoin instead.
//
// Results are 0 for success and 22 for an invalid argument or id unless said otherwise;
// failures set errno and are recorded under the module identifier 0x2001.

#include <pthread.h>

#include <cstdint>

#include "uko_errcode.h"

struct UKO_TaskCb;

// ---- Configuration and codes ---------------------------------------------------------
constexpr uint32_t UKO_TASK_PCB_INITNUM = 100;            // ids of the first page
constexpr uint32_t UKO_TASK_PCB_NEWPGNUM = 50;            // ids each growth adds
constexpr uint64_t UKO_TASK_DEFAULT_STACK_SIZE = 0x20000; // what a stack size of 0 asks for
constexpr uint32_t UKO_TASK_MAX_PRIO = 255;
constexpr uint32_t UKO_TASK_NAME_LEN = 32;                // 31 characters and a terminator
constexpr uint32_t UKO_TASK_ARG_NUM = 4;
constexpr uint32_t UKO_TASK_ID_NONE = 0xFFFFFFFF;
constexpr uint32_t UKO_TASK_ID_SELF = 0;

// Mode bits.
constexpr uint32_t UKO_TASK_MODE_DEFAULT = 0x01;   // added by UKO_TaskCreate without a policy
constexpr uint32_t UKO_TASK_MODE_RR = 0x02;
constexpr uint32_t UKO_TASK_MODE_NOWAIT = 0x10;    // an adapted task does not wait for start-up
constexpr uint32_t UKO_TASK_MODE_FIFO = 0x20;
constexpr uint32_t UKO_TASK_MODE_JOINABLE = 0x40;

// Events the platform itself uses.
constexpr uint32_t UKO_TASK_EVENT_START = 0x100;   // releases a new or restarted task
constexpr uint32_t UKO_TASK_EVENT_TIMER = 0x8000;  // a timer message is waiting

// A live task already bears the name (first 31 characters).
constexpr UKO_ERRCODE UKO_TASK_ERR_NAME_REPEATED = UKO_ErrCodeMake(UKO_MID_TASK, 0x1019);

// The entry of a task, given its four start arguments.
typedef void (*UKO_TASK_ENTRY_PF)(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3,
                                  uint64_t uvArg4);
// The first function a new thread runs, given its control block: tskAllTaskEntry, or a
// wrapper that calls it.
typedef void (*UKO_TASK_START_PF)(UKO_TaskCb* pstTaskCb);
// Task hooks get the task id.
typedef void (*UKO_TASK_HOOK_PF)(uint32_t uiTaskId);
// Called by tskAllTaskEntry right before the entry, with the same four arguments.
typedef void (*UKO_TASK_ENTRY_HOOK_PF)(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3,
                                       uint64_t uvArg4);
// Changes a thread's priority for UKO_TaskPrioSet: 0 or a failure.
typedef uint32_t (*UKO_TASK_PRIO_HOOK_PF)(uint32_t uiTaskId, uint32_t uiPriority);
// UKO_TaskForEach's visitor: (control block, argument, task id).
typedef void (*UKO_TASK_FOREACH_PF)(UKO_TaskCb* pstTaskCb, void* pArg, uint32_t uiTaskId);

// ---- Start-up --------------------------------------------------------------------------
// Start-up step: the OS thread layer, the task table, the task and hook locks and the
// control-block table of the tasks. 0, 22, 12 or the failing part's code. A second call
// keeps the table and returns 0.
uint32_t UKO_TaskInit(uint32_t uiArg);

// ---- Creation and identity ---------------------------------------------------------------
// Adds mode 0x01 unless the mode has 0x02 or 0x20, then creates the task with
// tskAllTaskEntry as its start function. A stack size of 0 asks for
// UKO_TASK_DEFAULT_STACK_SIZE. 0, 22, 12, UKO_TASK_ERR_NAME_REPEATED or the semaphore's
// or thread library's code.
uint32_t UKO_TaskCreate(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                        uint32_t uiPriority, uint64_t uvStackSize, uint32_t uiMode,
                        const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
// The common creation, with the caller's start function.
uint32_t TSK_TaskCreate(const char* pscName, uint32_t* puiTaskId, UKO_TASK_START_PF pfnStart,
                        UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                        uint32_t uiMode, const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
// The start function of every task: records the thread in its block, waits for the
// start event, runs the entry hook and the entry, and ends the task.
void tskAllTaskEntry(UKO_TaskCb* pstTaskCb);

// The control block of an id (0: the caller's), or NULL. Reads the table without a lock.
UKO_TaskCb* UKO_TaskCbGet(uint32_t uiTaskId);
// The id of a live task by name (first 31 characters), or 0xFFFFFFFF.
uint32_t UKO_TaskIdGet(const char* pscName);
// 1 for a live task and for id 0; 0 for 0xFFFFFFFF and free ids.
uint32_t UKO_TaskIdCheck(uint32_t uiTaskId);
// The number of live tasks.
uint32_t UKO_TaskNumGet();
// Ids of the live tasks in table order, at most *puiTaskCount; the count is updated.
uint32_t UKO_TaskIdListGet(uint32_t* puiTaskCount, uint32_t auiTaskIdList[]);
// Thread handles of the live tasks in table order, at most uiNum; 0.
uint32_t UKO_TaskHandleListGet(pthread_t aHandles[], uint32_t uiNum);

// ---- Control -------------------------------------------------------------------------------
// The calling task (id 0 or its own id) ends here and does not return. Another task is
// cancelled: it ends at its next wait, and its own thread gives back its control block,
// event semaphore and id, as if it had ended by itself. 22 for an invalid id or a task
// that holds semaphores.
uint32_t UKO_TaskDelete(uint32_t uiTaskId);
// Waits for a joinable task to end and gives back what it held; *ppResult (when given)
// receives the thread's result. 22 for id 0, the caller's own id, an invalid id or a
// failed join.
uint32_t UKO_TaskJoin(uint32_t uiTaskId, void** ppResult);
// Renews the arguments (NULL keeps them) and sends the start event again.
uint32_t UKO_TaskRestart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
// Not available on this OS: 0xFFFFFFFF for a live task; 22 for an invalid id. Resuming
// the caller itself (id 0 or its own id) returns 0 at once.
uint32_t UKO_TaskSuspend(uint32_t uiTaskId);
uint32_t UKO_TaskResume(uint32_t uiTaskId);
// Sets the priority through the priority hook (none: recorded only); *puiPrevTaskPrio
// gets the old one.
uint32_t UKO_TaskPrioSet(uint32_t uiTaskId, uint32_t uiTaskPrio, uint32_t* puiPrevTaskPrio);
// Renames the calling task (31 characters kept).
uint32_t UKO_TaskNameSet(const char* pscName);
uint32_t UKO_TaskDelay(uint32_t uiMs);
uint32_t UKO_TaskYield();

// ---- Hooks ------------------------------------------------------------------------------
// Create hooks run under the task lock after a task is recorded and before it starts;
// delete hooks run under the task lock when a task is given back. Hooks run in
// registration order and must not take the task lock themselves. Reg: 0, 22 or 12;
// Unreg: 0 or 22.
uint32_t UKO_TaskCreateHookReg(UKO_TASK_HOOK_PF pfnHook);
uint32_t UKO_TaskCreateHookUnreg(UKO_TASK_HOOK_PF pfnHook);
uint32_t UKO_TaskDeleteHookReg(UKO_TASK_HOOK_PF pfnHook);
uint32_t UKO_TaskDeleteHookUnreg(UKO_TASK_HOOK_PF pfnHook);
// NULL removes the hook; 0.
uint32_t UKO_TaskEntryHookSet(UKO_TASK_ENTRY_HOOK_PF pfnHook);
uint32_t UKO_TaskPrioHookSet(UKO_TASK_PRIO_HOOK_PF pfnHook);
// Visits a snapshot of the live control blocks; 0 (also for a NULL visitor), or 12.
uint32_t UKO_TaskForEach(UKO_TASK_FOREACH_PF pfnFunc, void* pArg);

// ---- Registration of a thread the platform did not start -----------------------------------
// Records an existing thread as a task (created 0, no start event). *puiTaskId may be
// NULL. 0, 22, 12 or the semaphore's code.
uint32_t UKO_TaskRegister(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                          uint32_t uiPriority, uint64_t uvStackSize, uint32_t uiMode,
                          pthread_t thread);
// 1 when no task has this thread or the task was registered, else 0.
uint32_t UKO_ThreadIsForeign(pthread_t thread);

// ---- Small look-ups ---------------------------------------------------------------------
// The thread handle (id 0: the caller's); all ones for an invalid id. The Sys form looks
// under the task lock.
uint64_t UKO_TaskOsalIdGet(uint32_t uiTaskId);
uint64_t UKO_TaskSysIdGet(uint32_t uiTaskId);
// The low 32 bits of the thread handle as the task recorded them when it started;
// 0xFFFFFFFF for an invalid id.
uint32_t UKO_TaskOsThreadIdGet(uint32_t uiTaskId);
// The id of the task running on a thread, or 0xFFFFFFFF.
uint32_t UKO_TaskIdGetByHandle(pthread_t thread);
// The user id field (0xFFFFFFFF); 0 for an invalid id.
uint32_t UKO_TaskUsrIdGet(uint32_t uiTaskId);
// The stack base the task recorded; 0xFFFFFFFF for an invalid id.
uint64_t UKO_TaskStackBaseGet(uint32_t uiTaskId);
// 1 when the platform created the thread; 0 for a registered thread or an invalid id.
uint32_t UKO_TaskCreatedGet(uint32_t uiTaskId);
// The alternate signal stack of the task with this thread id and, through puiSize, its
// size; 0 when no task has the thread id, all ones when its control block is gone.
uint64_t UKO_TaskSigStackGet(uint32_t uiOsThreadId, uint32_t* puiSize);
// Marks a task to end as soon as it is dispatched.
uint32_t UKO_TaskExitInDispatching(uint32_t uiTaskId);
// Raise or lower the calling task's count of held semaphores; a task holding any cannot
// be deleted by another. The caller's control block, or NULL.
UKO_TaskCb* UKO_TaskSemHoldInc();
UKO_TaskCb* UKO_TaskSemHoldDec();
// The OS layer's check of a task's control block (0 here); 22 for an invalid id.
uint32_t UKO_TaskCbCheck(uint32_t uiTaskId);
// Pass straight to the OS layer.
void UKO_TaskSupervisorModeSet();
void UKO_TaskNop();
uint32_t UKO_TaskFreeCpu(uint32_t uiFlag);

// ---- Task events ----------------------------------------------------------------------------
// Read modes: 0x01 do not wait; 0x02 any of the wanted bits suffices (else all).
constexpr uint32_t UKO_EVENT_MODE_NOWAIT = 0x01;
constexpr uint32_t UKO_EVENT_MODE_ANY = 0x02;
// Flags of UKO_Event_Read.
constexpr uint32_t UKO_EVENT_FLAG_WAIT = 0x40000000;
constexpr uint32_t UKO_EVENT_FLAG_ANY = 0x04000000;
// A read that was not satisfied.
constexpr uint32_t UKO_EVENT_NOT_SATISFIED = 4096;

// Reads the calling task's events: 0 with *puiReceived set, 4096 when not satisfied,
// 109 when the time-out (milliseconds, 0 = without limit) expired with the collected
// bits put back, or 22 (NULL pointer, caller no task). Wanted 0 takes every pending
// event.
uint32_t UKO_TaskEventRead(uint32_t uiEvents, uint32_t uiMode, uint32_t uiTimeOutMs,
                           uint32_t* puiReceived);
// Sets events of a task (0: the caller): 0, 22 for an invalid id, or the semaphore's code.
uint32_t UKO_TaskEventWrite(uint32_t uiTaskId, uint32_t uiEvents);

// The adaptation interface of the events: the mode comes from the flags (wait 0x40000000,
// any 0x04000000; other bits ignored); the read hook, when set, sees every read.
typedef void (*UKO_EVENT_READ_HOOK_PF)(uint32_t uiEvents, uint32_t* puiReceived, uint32_t uiFlags,
                                       uint32_t uiTimeOutMs, uint32_t uiResult);
uint32_t UKO_Event_Read(uint32_t uiEvents, uint32_t* puiReceived, uint32_t uiFlags,
                        uint32_t uiTimeOutMs);
uint32_t UKO_Event_Write(uint32_t uiTaskId, uint32_t uiEvents);
uint32_t UKO_Event_ReadHookSet(UKO_EVENT_READ_HOOK_PF pfnHook);
uint32_t UKO_Event_ReadHookGet(UKO_EVENT_READ_HOOK_PF* ppfnHook);
