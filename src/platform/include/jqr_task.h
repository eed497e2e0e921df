#pragma once
// Named tasks: the task interface the service link calls. A task is named by four
// characters ("RECV", "SEND", "PLUG" ...); the name it was given in full is kept as its
// long name. Every task created here waits until the platform has started before it
// runs its entry. The events that go with these tasks are UKO_Event_Read and
// UKO_Event_Write (uko_task.h).
//
// Results are 0 for success and -1 for failure unless said otherwise.

#include <pthread.h>

#include <cstdint>

#include "uko_task.h"

constexpr uint32_t UKO_TASK_SHORT_NAME_LEN = 4;
// Mode bits UKO_Task_Create passes on (0x01, 0x02, 0x20): never 0x10, so its tasks
// always wait for the platform, and never 0x40, so its threads are never joinable.
constexpr uint32_t UKO_TASK_NAMED_MODE_MASK =
    UKO_TASK_MODE_DEFAULT | UKO_TASK_MODE_RR | UKO_TASK_MODE_FIFO;

// Start-up step: the lock of the named tasks. Always 0.
uint32_t JQR_TaskInit(uint32_t uiArg);

// Creates a task named by the first four characters of pscName (at most four bytes are
// read, fewer when it ends sooner), with pscName as its long name. NULL args are four
// zeros; a stack size of 0 is the default. 0 or the task module's error (22 for a NULL
// name, entry or taskId; 0x20011019 when a live task has the same four characters).
uint32_t UKO_Task_Create(const char* pscName, uint32_t uiPriority, uint32_t uiMode,
                         uint64_t uvStackSize, const uint64_t auvArgs[UKO_TASK_ARG_NUM],
                         UKO_TASK_ENTRY_PF pfnEntry, uint32_t* puiTaskId);

// Look-ups.
int32_t UKO_Task_IdGetByName(const char* pscName, uint32_t* puiTaskId);
// Copies the first four bytes of the task's name into pcName (no terminator added).
int32_t UKO_Task_NameGet(uint32_t uiTaskId, char* pcName);
int32_t UKO_Task_SelfIdGet(uint32_t* puiTaskId);
// *puiExists = 1 and 0 when a live task has the four-character name; otherwise 0 and
// -1 (NULL arguments leave *puiExists alone).
int32_t UKO_Task_Exists(const char* pscName, uint32_t* puiExists);
int32_t UKO_Task_PrioGet(uint32_t uiTaskId, uint32_t* puiPriority);
int32_t UKO_Task_OsIdGet(uint32_t uiTaskId, pthread_t* pThread);

// Text dumps of the task table (ids 1 to 100) and of one task into the caller's
// buffer; nothing is written beyond uiSize bytes, and a piece that does not fit is
// left out. 0.
int32_t UKO_Task_ShowAll(char* pcBuffer, uint32_t uiSize);
int32_t UKO_Task_Show(char* pcBuffer, uint32_t uiSize, uint32_t uiTaskId);

// Pass-through operations: each returns what it calls.
uint32_t UKO_Task_Delete(uint32_t uiTaskId);
uint32_t UKO_Task_Restart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]);
uint32_t UKO_Task_PrioSet(uint32_t uiTaskId, uint32_t uiPriority);
uint32_t UKO_Task_Suspend(uint32_t uiTaskId);
uint32_t UKO_Task_Resume(uint32_t uiTaskId);
uint32_t UKO_Task_Delay(uint32_t uiMs);
uint32_t UKO_Task_RunDelay(uint32_t uiMs);
uint32_t UKO_Task_ThreadSuspend(pthread_t thread);
// 0 when the caller is no task; else the OS layer's yield: 0, or -1 when it failed.
int32_t UKO_Task_Yield();
// The OS layer's thread state (or its thread check when that is 0): 0; -1 for NULL.
int32_t UKO_Task_StateGet(pthread_t thread, uint32_t* puiState);
// 1 when the caller is no task or another task id from 1 to 100 is in use, else 0.
uint32_t UKO_Task_OthersExist();
