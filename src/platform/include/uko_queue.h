#pragma once
// Message queues: bounded rings of fixed-size message slots addressed by a numeric
// queue id (the 1-based index of the queue's control block). Messages are copied in
// and out by value. Writers add at the tail, or as an urgent message before the head;
// readers take the head. Both either fail at once or block with a time-out in
// milliseconds (0 waits without limit). Only SYN queues block; any other queue allows
// the non-blocking operations alone.
//
// Failures store their code in the thread's errno and, unless said otherwise, make an
// error record under module 0x2005 before the code is returned.

#include <cstdint>

#include "uko_errcode.h"

// ---- Configuration ------------------------------------------------------------------------
constexpr uint32_t UKO_DEFAULT_QUEUE_SIZE = 768;  // capacity of a queue created for 0 messages
constexpr uint32_t UKO_QUE_PCB_INITNUM = 300;     // control blocks in the table's first page
constexpr uint32_t UKO_QUE_PCB_NEWPGNUM = 50;     // control blocks in each added page
constexpr uint8_t UKO_QUE_MEM_PTNO = 0;           // partition the message storage comes from

// ---- Mode bits (UKO_QueueMode) ------------------------------------------------------------
// FIFO and PRIO say how blocked tasks are served, not in which order messages leave.
constexpr uint32_t UKO_QUEUE_MODE_PRIO = 1;
constexpr uint32_t UKO_QUEUE_MODE_FIFO = 2;
constexpr uint32_t UKO_QUEUE_MODE_ASY = 4;
constexpr uint32_t UKO_QUEUE_MODE_SYN = 8;

// Wait modes: any value but UKO_QUEUE_NO_WAIT waits.
constexpr uint32_t UKO_QUEUE_WAIT = 16;
constexpr uint32_t UKO_QUEUE_NO_WAIT = 32;
// Write positions: any value but UKO_QUEUE_URGENT writes at the tail.
constexpr uint32_t UKO_QUEUE_URGENT = 64;
constexpr uint32_t UKO_QUEUE_NORMAL = 128;

// Show everything about all queues (UKO_QueueShow), or every queue (UKO_QueuePeakLenReset).
constexpr uint32_t UKO_QUEUE_ALL = 0xFFFFFFFF;
// Length and id answers meaning "none".
constexpr uint32_t UKO_QUEUE_NONE = 0xFFFFFFFF;

// ---- Result codes ---------------------------------------------------------------------------
constexpr UKO_ERRCODE UKO_QueueEmptyErr = UKO_ErrCodeMake(UKO_MID_QUEUE, 0x1064);
constexpr UKO_ERRCODE UKO_QueueReadTimeoutErr = UKO_ErrCodeMake(UKO_MID_QUEUE, 0x1065);
constexpr UKO_ERRCODE UKO_QueueFullErr = UKO_ErrCodeMake(UKO_MID_QUEUE, 0x1066);
constexpr UKO_ERRCODE UKO_QueueWriteTimeoutErr = UKO_ErrCodeMake(UKO_MID_QUEUE, 0x1067);
constexpr UKO_ERRCODE UKO_QueueDeletedErr = UKO_ErrCodeMake(UKO_MID_QUEUE, 0x1068);

// Called by a reader after it has released the queue's lock when a message waited
// longer than the latency threshold: (queue id, milliseconds over the threshold).
typedef void (*UKO_QUEUE_LATENCY_HOOK_PF)(uint32_t uiQueueId, uint32_t uiOverMs);

// ---- Start-up -----------------------------------------------------------------------------
// Start-up step: module counts, configuration check, module lock, control-block table,
// id map. 0, 22 (configuration), 12, or the lock's or the table's code. A second call
// keeps the module as it is and returns 0.
uint32_t ukoQueueInit(uint32_t uiArg);
// Append hook of the control-block table: grows the id map for uiAppendNum more ids.
// 0 or 12.
uint32_t ukoQueueRcbAppend(uint32_t uiAppendNum);

// ---- Create and delete --------------------------------------------------------------------
// Creates a queue of uiMaxMsgs slots (0 gives UKO_DEFAULT_QUEUE_SIZE) of uiMaxMsgSize data
// bytes each, with the mode bits given. The name is kept to 15 characters. *puiQueueId
// is written only on success. 0, 22, 12, or a lock's or semaphore's code.
uint32_t QUE_CommonCreate(const char* pscName, uint32_t uiMaxMsgs, uint32_t* puiQueueId,
                          uint32_t uiMode, uint32_t uiMaxMsgSize);
// Flags 0: FIFO|SYN; flags 1: PRIO|SYN; anything else 22.
uint32_t UKO_QueueCreate(const char* pscName, uint32_t uiMaxMsgs, uint32_t* puiQueueId,
                         uint32_t uiFlags, uint32_t uiMaxMsgSize);
// 0 at once, also while tasks are blocked on the queue: they wake with
// UKO_QueueDeletedErr and the last of them completes the deletion. 22 for an id that
// is no queue in use.
uint32_t UKO_QueueDelete(uint32_t uiQueueId);

// ---- Read and write -----------------------------------------------------------------------
// Takes the head message into pBuffer (at most uiLength bytes; the rest of a longer
// message is dropped). *puiOutLen is set to 0xFFFFFFFF first and to the bytes copied
// on success. 0, 22, UKO_QueueEmptyErr, UKO_QueueReadTimeoutErr, UKO_QueueDeletedErr,
// or the semaphore's code.
uint32_t QUE_CommonRead(uint32_t uiQueueId, uint32_t uiTimeOutMs, void* pBuffer,
                        uint32_t uiLength, uint32_t uiWaitMode, uint32_t* puiOutLen);
// These two return the bytes copied, or 0xFFFFFFFF on any failure: not a status.
uint32_t UKO_QueueReadAsy(uint32_t uiQueueId, void* pBuffer, uint32_t uiLength);
uint32_t UKO_QueueReadSyn(uint32_t uiQueueId, uint32_t uiTimeOutMs, void* pBuffer,
                          uint32_t uiLength);
// Adds a message of uiLength bytes (1 to the slot size). 0, 22, UKO_QueueFullErr,
// UKO_QueueWriteTimeoutErr, UKO_QueueDeletedErr, or the semaphore's code.
uint32_t QUE_CommonWrite(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                         uint32_t uiWaitMode, uint32_t uiTimeOutMs, uint32_t uiPosition);
uint32_t UKO_QueueWriteAsy(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength);
uint32_t UKO_QueueWriteSyn(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                           uint32_t uiTimeOutMs);
uint32_t UKO_QueueWriteUrgentAsy(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength);
uint32_t UKO_QueueWriteUrgentSyn(uint32_t uiQueueId, const void* pBuffer, uint32_t uiLength,
                                 uint32_t uiTimeOutMs);

// ---- Queries (no lock: the answer may be a moment old) ------------------------------------
// Messages held, or 0xFFFFFFFF for an id that is no queue in use.
uint32_t UKO_QueueMsgNumGet(uint32_t uiQueueId);
// 0 or 22.
uint32_t UKO_QueueMaxNumGet(uint32_t uiQueueId, uint32_t* puiMaxNum);
// Copies the name into 16 bytes: 0, or 22 without an error record.
uint32_t UKO_QueueNameGet(uint32_t uiQueueId, char* pscName);
// 1 for a queue in use, else 0.
uint32_t UKO_QueueIsValid(uint32_t uiQueueId);

// ---- Look-up, peek, statistics ------------------------------------------------------------
// The lowest id of a queue in use with exactly this name, or 0xFFFFFFFF (also for NULL).
uint32_t UKO_QueueIdGetByName(const char* pscName);
// Copies message uiIndex (0 is the next one read) without taking it: 0 or 22.
// puiOutLen may be NULL.
uint32_t UKO_QueuePeekMsg(uint32_t uiQueueId, uint32_t uiIndex, void* pBufferAddr,
                          uint32_t uiBuffersize, uint32_t* puiOutLen);
// Sets the peak length of one queue, or of all (UKO_QUEUE_ALL), back to 0: 0 or 22.
uint32_t UKO_QueuePeakLenReset(uint32_t uiQueueId);
// Stores the latency hook; 0.
uint32_t UKO_QueueLatencyHookSet(UKO_QUEUE_LATENCY_HOOK_PF pfnHook);
// Queues existing now, and queues created since start-up.
uint32_t UKO_QueueCurNumGet();
uint32_t UKO_QueueCreatedNumGet();
// Prints through UKO_ShowPrint: id 0 all queues in brief, a queue in use in detail, any
// other id the usage help (and 22).
uint32_t UKO_QueueShow(uint32_t uiQueueId, uint32_t uiTarget);
