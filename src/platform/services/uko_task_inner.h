#pragma once
// Inside the task module: the task control block and the operations the OS thread layer,
// the event functions and the task adaptation share with it.

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "uko_task.h"

struct UKO_TaskCb {
    char acName[UKO_TASK_NAME_LEN];
    uint64_t auvArgs[UKO_TASK_ARG_NUM];
    UKO_TASK_ENTRY_PF pfnEntry;
    uint32_t uiCreated;  // 1: the platform made the thread; 0: a registered thread
    uint32_t uiMode;
    uint32_t uiPriority;
    uint64_t uvStackSize;  // as applied by the OS layer
    uint64_t uvStackBase;  // recorded by the task itself; atomic access
    uint32_t uiUsrId;
    uint32_t uiTaskId;
    uint32_t uiOsThreadId;  // recorded by the task itself; atomic access
    pthread_t ulThread;     // 0 while the block is free; atomic access (lock-free look-ups)
    void* pEventSem;        // "TskEvntSem"
    pthread_mutex_t stEventLock;  // guards the event words and the waiter count
    uint32_t uiEventPending;
    uint32_t uiEventWanted;    // the wanted bits the waiting reader still needs
    uint32_t uiEventReceived;  // the wanted bits collected for the waiting reader
    uint32_t uiEventMode;      // 1 while no reader waits, else the reader's mode
    uint32_t uiRestartTickLow;
    uint32_t uiRestartTickHigh;
    uint64_t uvRunTimeLast;
    uint64_t uvRunTimeMax;
    uint64_t uvRunTimeTotal;
    uint32_t uiRestartMark;    // 0xFFFFFFFF, 1 while a restart is under way
    uint32_t uiWaiterCount;    // readers asleep on the event semaphore
    uint32_t uiSemHoldCount;   // atomic access
    void* pSigStack;           // the alternate signal stack's allocation, or NULL
    uint64_t uvBlockSem;
    uint32_t uiExitInDispatching;  // atomic access
    UKO_TASK_START_PF pfnStart;    // the start function the creator gave
};
static_assert(offsetof(UKO_TaskCb, acName) == 0, "the name is the block's first field");

// Lock-free readers look at these words of blocks that may be changing hands.
inline pthread_t ukoTaskThreadGet(const UKO_TaskCb* pstTaskCb) {
    return __atomic_load_n(&pstTaskCb->ulThread, __ATOMIC_ACQUIRE);
}
inline void ukoTaskThreadSet(UKO_TaskCb* pstTaskCb, pthread_t thread) {
    __atomic_store_n(&pstTaskCb->ulThread, thread, __ATOMIC_RELEASE);
}

// ---- Look-ups -----------------------------------------------------------------------------
// The block of an id without a lock (0: the caller's block); NULL for 0xFFFFFFFF, ids
// beyond the table and free ids.
UKO_TaskCb* ukoTaskCbGet(uint32_t uiTaskId);
// The caller's task id: its current block, the OS layer's thread look-up, a table scan;
// 0xFFFFFFFF when the caller is no task.
uint32_t ukoTaskCurIdGet();
// The block the common task entry recorded for the calling thread, or NULL.
UKO_TaskCb* ukoTaskCurCbTlsGet();
// Under the task lock: the block whose thread is the given one, or NULL.
UKO_TaskCb* ukoTaskCbFindByThread(pthread_t thread);
uint32_t ukoTaskIdGetByOsalHandle(pthread_t thread);
uint32_t ukoTaskIdGetByThreadId(uint32_t uiOsThreadId);
uint64_t ukoTaskHandleGetByThreadId(uint32_t uiOsThreadId);
// The recorded thread id, 0xFFFFFFFF for an invalid id.
uint32_t ukoTaskOsalHandleGet(uint32_t uiTaskId);
// The priority hook in force, or NULL.
UKO_TASK_PRIO_HOOK_PF ukoTaskPrioHookGet();

// A live task's name, thread, priority and mode as one picture, taken under the task
// lock, for readers that must not see a block change hands halfway (id 0: the caller):
// 0, or 22 when no live task has the id.
struct UKO_TASK_SNAPSHOT_S {
    char acName[UKO_TASK_NAME_LEN];
    pthread_t ulThread;
    uint32_t uiPriority;
    uint32_t uiMode;
};
uint32_t ukoTaskSnapshotGet(uint32_t uiTaskId, UKO_TASK_SNAPSHOT_S* pstSnapshot);

// ---- Hooks ----------------------------------------------------------------------------------
void ukoTaskCreateHookCall(uint32_t uiTaskId);
void ukoTaskDeleteHookCall(uint32_t uiTaskId);
// Calls the hook with every live task's id, under the task lock.
uint32_t ukoTaskForEachId(UKO_TASK_HOOK_PF pfnHook);

// ---- Growth ---------------------------------------------------------------------------------
// The control-block table's append hook: grows the task table by uiAppendNum ids.
uint32_t ukoTaskRcbAppend(uint32_t uiAppendNum);
// The task table's size (ids below it can be looked up), and the table with its size as
// a lock-free reader sees them.
uint32_t ukoTaskTableSizeGet();
UKO_TaskCb* const* ukoTaskTableGet(uint32_t* puiSize);

// ---- Ending ---------------------------------------------------------------------------------
// Gives back everything the task held: delete hooks, event lock (destroyed in place),
// event semaphore, table entry, signal stack, control block, count. The block must be
// live; the caller must not hold its event lock.
void ukoTaskCbRelease(UKO_TaskCb* pstTaskCb);
// Releases under way. A task's id and count are given back before its event semaphore
// is: once the count is down and this is 0, everything the task held is back.
uint32_t ukoTaskReleasesInFlight();
// What OS_TaskExit does for the calling thread's block before the thread ends: the
// block is given back unless the task is joinable. The caller's recorded block is
// forgotten either way.
void ukoTaskExitRelease(UKO_TaskCb* pstTaskCb);

// ---- Blocking-semaphore record ---------------------------------------------------------
uint32_t ukoSetBlockSemToTCB(uint64_t uvSem, pthread_t thread);
// Writes, in table order, the thread handles of the tasks blocked on the semaphore, at
// most 1000; entries after the last one written are left as they were. 0, or 22 for a
// zero semaphore.
uint32_t ukoGetBlockSemToTCB(uint64_t uvSem, pthread_t aHandles[]);
constexpr uint32_t UKO_TASK_BLOCKSEM_LIST_MAX = 1000;

// ---- Events ---------------------------------------------------------------------------------
// The read and write on a block; only the block's own task reads.
uint32_t ukoTaskEventRead(UKO_TaskCb* pstTaskCb, uint32_t uiEvents, uint32_t uiMode,
                          uint32_t uiTimeOutMs, uint32_t* puiReceived);
uint32_t ukoTaskEventWrite(UKO_TaskCb* pstTaskCb, uint32_t uiEvents);
// The write on another task's block, found under the task lock: a task that ends
// meanwhile waits for the write before its block goes. 22 when no block has the id.
uint32_t ukoTaskEventWriteById(uint32_t uiTaskId, uint32_t uiEvents);
// Fresh event words: nothing pending, no reader waiting.
void ukoTaskEventWordsReset(UKO_TaskCb* pstTaskCb);
