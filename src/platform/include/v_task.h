#pragma once
// Task adaptation table: one block per task id (1 to 100) with the task's long name and
// eight task variables, kept in step with the task module through its create and delete
// hooks; the entry wrapper that holds every task created here until the platform has
// started; the platform-started flag; and the TSK_ operations over the task module.
//
// Results are 0 for success and 22 for an invalid argument unless said otherwise;
// failures of the table itself are recorded under the module identifier 0x2198.

#include <pthread.h>

#include <cstdint>

#include "uko_task.h"

struct TSK_ADAPT_CB;  // a block of the table; layout in v_task_inner.h

constexpr uint32_t TSK_ADAPT_TABLE_SIZE = UKO_TASK_PCB_INITNUM;  // the highest id with a block
constexpr uint32_t TSK_LONG_NAME_LEN = 52;  // 51 characters and a terminator
constexpr uint32_t TSK_TASK_VAR_NUM = 8;

// ---- Platform-started flag --------------------------------------------------------------
void TSK_PlatformStartedSet();
void TSK_PlatformStartedClear();
// 1 when the platform has started, else 0.
uint32_t TSK_PlatformStartedGet();

// ---- Start and entry ---------------------------------------------------------------------
// Start-up step: registers the create and delete hooks, takes the 101 blocks from the
// system partition and gives every task that already exists its block. 0, or 12 when
// the blocks cannot be allocated (the hooks then stay registered and do nothing). A
// later call after success returns 0.
uint32_t TSK_TaskInit(uint32_t uiArg);
// The task module's create and delete hooks: link or unlink the block of the id.
void TSK_TaskCreateHandle(uint32_t uiTaskId);
void TSK_TaskDeleteHandle(uint32_t uiTaskId);
// Creates a task that starts through tskAllAdaptTaskEntry, keeps its long name (51
// characters; NULL gives an empty one) in its block and calls the adaptation create
// hook. 0 or the task module's error (22 for a NULL name).
uint32_t TSK_AdaptTaskCreate(const char* pscName, const char* pscLongName, uint32_t* puiTaskId,
                             UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                             const uint64_t auvArgs[UKO_TASK_ARG_NUM], uint32_t uiMode);
// The start function of every task created here: unless the mode has 0x10, sleeps in
// 10 ms steps until the platform has started, then runs the common task entry.
void tskAllAdaptTaskEntry(UKO_TaskCb* pstTaskCb);
// The block of a task id (0: the caller's), or NULL above 100 or without a task.
TSK_ADAPT_CB* TSK_AdaptCbGet(uint32_t uiTaskId);

// ---- Operations over the task module ------------------------------------------------------
// TSK_AdaptTaskCreate without a long name, with mode 0x01.
uint32_t TSK_TaskCreateSimple(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                              uint32_t uiPriority, uint64_t uvStackSize,
                              const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
// The caller's task id, 0xFFFFFFFF when the caller is no task.
uint32_t TSK_CurTaskIdGet();
uint32_t TSK_TaskDelete(uint32_t uiTaskId);
uint32_t TSK_TaskSuspend(uint32_t uiTaskId);
uint32_t TSK_TaskResume(uint32_t uiTaskId);
uint32_t TSK_TaskPrioSet(uint32_t uiTaskId, uint32_t uiPriority, uint32_t* puiPrevPriority);
uint32_t TSK_TaskRestart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
// The task's priority, or 0xFFFFFFFF (recorded) for an invalid id.
uint32_t UKO_GetTaskPrio(uint32_t uiTaskId);
// 100: the highest id the table covers.
uint32_t TSK_TaskTableSizeGet();
uint32_t TSK_TaskIdGet(const char* pscName);
// The task's name (the control block's first field), or NULL.
const char* TSK_TaskNameGet(uint32_t uiTaskId);
uint64_t TSK_TaskSysIdGet(uint32_t uiTaskId);
uint32_t TSK_TaskIdGetByThread(pthread_t thread);
UKO_TaskCb* TSK_TaskCbGet(uint32_t uiTaskId);
// 0 for id 0, else UKO_TaskIdCheck (1 for a live task).
uint32_t TSK_TaskIdValid(uint32_t uiTaskId);
uint32_t TSK_TaskIdCheck(uint32_t uiTaskId);
// The lock and unlock hooks when set, else the OS layer's task lock and unlock, which
// do nothing on this OS and return 0.
uint32_t TSK_TaskLock();
uint32_t TSK_TaskUnlock();
// The task's mode without bit 0x40: 0, or 22 for NULL or an invalid id.
uint32_t TSK_TaskModeGet(uint32_t uiTaskId, uint32_t* puiMode);
uint64_t TSK_TaskStackBaseGet(uint32_t uiTaskId);
uint32_t TSK_TaskCreatedGet(uint32_t uiTaskId);
uint32_t TSK_TaskUsrIdGet(uint32_t uiTaskId);
uint32_t TSK_TaskYield();
void TSK_TaskNop();

// ---- Hooks ---------------------------------------------------------------------------------
uint32_t TSK_TaskDeleteHookReg(UKO_TASK_HOOK_PF pfnHook);
uint32_t TSK_TaskDeleteHookUnreg(UKO_TASK_HOOK_PF pfnHook);
// Keeps one create (or delete) hook of the caller's registered with the task module: a
// different hook replaces the one registered through here before; NULL changes
// nothing. The create form returns the hook registered before (or NULL), the delete
// form 0.
UKO_TASK_HOOK_PF TSK_TaskCreateHookReplace(UKO_TASK_HOOK_PF pfnHook);
uint32_t TSK_TaskDeleteHookReplace(UKO_TASK_HOOK_PF pfnHook);
// Called after every TSK_AdaptTaskCreate with the name and the new id.
typedef void (*TSK_ADAPT_CREATE_HOOK_PF)(const char* pscName, uint32_t uiTaskId);
typedef uint32_t (*TSK_TASK_LOCK_HOOK_PF)();
uint32_t TSK_AdaptCreateHookSet(TSK_ADAPT_CREATE_HOOK_PF pfnHook);
uint32_t TSK_TaskLockHookSet(TSK_TASK_LOCK_HOOK_PF pfnHook);
uint32_t TSK_TaskUnlockHookSet(TSK_TASK_LOCK_HOOK_PF pfnHook);
// The task module's entry hook, as UKO_TaskEntryHookSet sets it.
uint32_t TSK_TaskEntryHookSet(UKO_TASK_ENTRY_HOOK_PF pfnHook);

// ---- Task variables -------------------------------------------------------------------------
// The low 8 bits of the index must be below 8 and the task must have a block: else 22.
uint32_t TSK_TaskVarSet(uint32_t uiTaskId, uint32_t uiIndex, uint32_t uiValue);
uint32_t TSK_TaskVarGet(uint32_t uiTaskId, uint32_t uiIndex, uint32_t* puiValue);

// ---- Threads the platform did not start ---------------------------------------------------------
// Registers an existing thread as a task when the OS layer accepts the thread, which it
// never does on this OS: 22.
uint32_t TSK_ThreadAttach(const char* pscName, const char* pscLongName, uint32_t* puiTaskId,
                          UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                          uint32_t uiMode, pthread_t thread);

// ---- What this OS does not offer ----------------------------------------------------------------
// Each prints a "Sorry, TULM don't support" notice to standard error and returns 0.
uint32_t UKO_TaskRunDelay(uint32_t uiMs);
uint32_t UKO_SetTaskMode(uint32_t uiTaskId, uint32_t uiMode);
