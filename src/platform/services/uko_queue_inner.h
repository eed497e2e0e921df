#pragma once
// Inside the message queues: the control block, the slot layout, the module's walks
// and the seams through which tests reach a queue's lock, waiters and timing.

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "os_time.h"
#include "uko_queue.h"

constexpr uint32_t UKO_QUEUE_NAME_LEN = 16;  // 15 characters and a terminator

// States of a control block.
constexpr uint16_t UKO_QUEUE_STATE_FREE = 0;
constexpr uint16_t UKO_QUEUE_STATE_USED = 1;
constexpr uint16_t UKO_QUEUE_STATE_DELETING = 2;

// A slot: the stored length, then the slot size's data bytes.
constexpr uint32_t UKO_QUEUE_SLOT_HEAD = 4;

// The largest slot size, and the largest storage of one queue
// (capacity x (slot size + 4)).
constexpr uint64_t UKO_QUEUE_MSG_SIZE_LIMIT = 4294967291ull;  // slot sizes are below this
constexpr uint64_t UKO_QUEUE_STORAGE_MAX = 4294967071ull;

// The two-level id map: pages of 512 control-block pointers.
constexpr uint32_t UKO_QUEUE_MAP_PAGE_SIZE = 512;

// The queue control block. Fields are guarded by stLock, with these exceptions: the
// name, mode, capacity and slot size are written only while the block is free and are
// published by the state; the state and the count are also read without the lock by
// the queries, so every access to them is atomic.
struct UKO_QueueCb {
    char acName[UKO_QUEUE_NAME_LEN];
    uint16_t usState;
    uint16_t usMode;
    uint32_t uiMaxMsgs;
    uint32_t uiMaxMsgSize;
    uint16_t usWaiterOrder;  // 0 FIFO queue, 1 otherwise
    uint16_t usTraceSwitch;
    uint8_t* pucMsgStart;  // the slots
    void* pReadSema;   // readers wait here (SYN queues only)
    void* pWriteSema;  // writers wait here (SYN queues only)
    pthread_mutex_t stLock;
    uint32_t uiHead;   // next slot read
    uint32_t uiTail;   // next slot written
    uint32_t uiCount;  // messages held
    uint32_t uiLastReader;  // task ids; 0xFFFFFFFF for a thread that is no task
    uint32_t uiLastWriter;
    uint32_t uiWriteCount;  // attempts on the live queue
    uint32_t uiReadCount;
    uint32_t uiFullCount;   // non-blocking writes refused
    uint32_t uiEmptyCount;  // non-blocking reads refused
    uint32_t uiWriteTimeouts;
    uint32_t uiReadTimeouts;
    // Waiting tasks. "To wake" counts the waits a writer (reader) still has to signal;
    // "blocked" counts the tasks between registering and leaving their wait.
    int16_t sReadersToWake;
    int16_t sReadersBlocked;
    int16_t sWritersToWake;
    int16_t sWritersBlocked;
    uint32_t uiPeakLen;
    UKO_Systime stPeakTime;
    uint32_t uiCreator;
    uint32_t uiReadBlockedTask;   // latest task blocked reading; 0 when none
    uint32_t uiWriteBlockedTask;  // latest task blocked writing; 0 when none
    void* pTraceRecord;
    void* pHookData;
    uint32_t uiLatencyStamp;  // tick count's low word when the queue last became non-empty
};

// Atomic access to the fields read without the lock.
inline uint16_t ukoQueueStateGet(const UKO_QueueCb* pstCb) {
    return __atomic_load_n(&pstCb->usState, __ATOMIC_ACQUIRE);
}
inline void ukoQueueStateSet(UKO_QueueCb* pstCb, uint16_t usState) {
    __atomic_store_n(&pstCb->usState, usState, __ATOMIC_RELEASE);
}
inline uint32_t ukoQueueCountGet(const UKO_QueueCb* pstCb) {
    return __atomic_load_n(&pstCb->uiCount, __ATOMIC_RELAXED);
}
inline void ukoQueueCountSet(UKO_QueueCb* pstCb, uint32_t uiCount) {
    __atomic_store_n(&pstCb->uiCount, uiCount, __ATOMIC_RELAXED);
}

// The control block an id resolves to through the id map (in any state), or NULL.
UKO_QueueCb* ukoQueueCbGet(uint32_t uiQueueId);
// Valid ids are 1 to the limit - 1.
uint32_t ukoQueueIdLimitGet();
// The control-block table of the queues.
uint32_t ukoQueueTableIdGet();
// Map pages allocated so far.
uint32_t ukoQueueMapPageNumGet();

// The module lock, for the walks over all queues (module lock before a queue's lock).
void ukoQueueModuleLock();
void ukoQueueModuleUnlock();

// The configuration check of the start-up: 0, or 22 with its error record.
uint32_t ukoQueueConfigCheck(uint32_t uiDefaultSize, uint32_t uiInitNum, uint32_t uiNewPageNum);

// Test seam: the latency threshold in milliseconds (0, the start value, switches the
// latency tracking off).
void ukoQueueLatencyThresholdSet(uint32_t uiMs);

// Test seam: the 64-bit tick count the blocking waits measure their time with (NULL
// puts the platform's tick back).
typedef uint64_t (*UKO_QUEUE_TICK_PF)();
void ukoQueueTickSourceSet(UKO_QUEUE_TICK_PF pfnTick);

// Test seam: called by a reader, writer or deleting task right before it signals a
// waiting task's semaphore, with the queue id and 1 for the read semaphore, 0 for the
// write semaphore. NULL removes it.
typedef void (*UKO_QUEUE_WAKE_HOOK_PF)(uint32_t uiQueueId, uint32_t uiReadSema);
void ukoQueueWakeHookSet(UKO_QUEUE_WAKE_HOOK_PF pfnHook);

// The mode's name as the show prints it: "FIFO|SYN", "PRIO|SYN", "FIFO|ASY", "PRIO|ASY"
// or "ERROR".
const char* ukoQueueModeName(uint32_t uiMode);
