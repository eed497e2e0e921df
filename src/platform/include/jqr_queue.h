#pragma once
// Named queues: the queue interface the service link and the adaptation timers call.
// Every queue carries 32-byte messages and a four-byte name; one flags word selects
// waiting and urgency. Names are kept in a registry of 300 entries, where queues of
// the same name share one entry. Built on the message queues (uko_queue.h), whose
// result codes pass through unchanged.

#include <cstdint>

#include "uko_queue.h"

constexpr uint32_t UKO_QUEUE_MSG_LEN = 32;          // bytes of every named-queue message
constexpr uint32_t UKO_QUEUE_SHORT_NAME_LEN = 4;    // bytes of a queue name
constexpr uint32_t UKO_QUEUE_NAME_TABLE_SIZE = 300;  // entries of the name registry

// Flags of UKO_Queue_Create: bit 0 PRIO (else FIFO), bit 3 SYN (else the default mode).
constexpr uint32_t UKO_QUEUE_FLAG_PRIO = 0x1;
constexpr uint32_t UKO_QUEUE_FLAG_SYN = 0x8;
// Flags of UKO_Queue_Read and UKO_Queue_Write: wait (else fail at once); for writes,
// urgent, before the head (else at the tail).
constexpr uint32_t UKO_QUEUE_FLAG_WAIT = 0x40000000;
constexpr uint32_t UKO_QUEUE_FLAG_URGENT = 0x10000000;

// One entry of the name registry: in use (1) or free (0), then the four name bytes
// (no terminator).
struct UKO_QUEUE_NAME_ENTRY {
    uint32_t uiUsed;
    char acName[UKO_QUEUE_SHORT_NAME_LEN];
};
static_assert(sizeof(UKO_QUEUE_NAME_ENTRY) == 8, "a registry entry is eight bytes");

// The three name hooks: set up the registry; register a name (or generate one for
// NULL) into four out bytes; release the entry of a queue's name.
typedef uint32_t (*UKO_QUEUE_NAME_INIT_PF)();
typedef uint32_t (*UKO_QUEUE_NAME_REG_PF)(const char* pscName, char* pscOutName);
typedef uint32_t (*UKO_QUEUE_NAME_UNREG_PF)(uint32_t uiQueueId);
// Called after every UKO_Queue_Read, in the reader's thread and without a queue lock:
// (queue id, buffer, flags, time-out, result).
typedef void (*UKO_QUEUE_READ_HOOK_PF)(uint32_t uiQueueId, void* pBuffer, uint32_t uiFlags,
                                       uint32_t uiTimeOutMs, uint32_t uiResult);

// ---- Start-up and hooks ---------------------------------------------------------------
// Start-up step: registry size, registry lock, then the init hook; the init hook's result.
uint32_t JQR_QueueInit(uint32_t uiArg);
// Default init hook: name counter 0, registry allocated and cleared. 0 or 0xFFFFFFFF.
// A registry already in place is kept.
uint32_t ukoQueueNameTableInit();
// Default register hook. Reads at most four bytes of pscName, stopping at a NUL; NULL
// generates a name whose bytes lie between 127 and 254. A name already registered is
// shared. 0, or 0xFFFFFFFF (NULL out pointer, no registry, registry full).
uint32_t ukoQueueNameRegister(const char* pscName, char* pscOutName);
// Default unregister hook: frees the first entry holding the queue's name. 0 or -1.
uint32_t ukoQueueNameUnregister(uint32_t uiQueueId);
// All three non-NULL replace the hooks; any NULL puts the defaults back. 0.
uint32_t UKO_Queue_NameHookSet(UKO_QUEUE_NAME_INIT_PF pfnInit, UKO_QUEUE_NAME_REG_PF pfnRegister,
                               UKO_QUEUE_NAME_UNREG_PF pfnUnregister);
// The mode bits of a queue created without the SYN flag (UKO_QUEUE_MODE_ASY at first). 0.
uint32_t UKO_Queue_DefaultModeSet(uint32_t uiMode);
// 0; stores the read hook (NULL removes it).
uint32_t UKO_Queue_ReadHookSet(UKO_QUEUE_READ_HOOK_PF pfnHook);
// 0; writes the read hook when the pointer is not NULL.
uint32_t UKO_Queue_ReadHookGet(UKO_QUEUE_READ_HOOK_PF* ppfnHook);

// ---- Queues -----------------------------------------------------------------------------
// Creates a queue of uiMaxMsgs (0 gives 768) 32-byte messages named by the first four
// bytes of pscName (fewer when it ends sooner; NULL generates a name). 0 and the id;
// 0xFFFFFFFF when the name cannot be registered; else the message queues' code (the
// name's entry is then released again when this call added it).
uint32_t UKO_Queue_Create(const char* pscName, uint32_t uiMaxMsgs, uint32_t uiFlags,
                          uint32_t* puiQueueId);
// Releases the name's entry, then deletes the queue: 0 or 22.
uint32_t UKO_Queue_Delete(uint32_t uiQueueId);
// Reads one message into 32 bytes at pBuffer. Returns the status (not a length): 0, or
// the message queues' code, which is also in errno.
uint32_t UKO_Queue_Read(uint32_t uiQueueId, void* pBuffer, uint32_t uiFlags, uint32_t uiTimeOutMs);
// Writes the 32 bytes at pMsg: 0 or the message queues' code.
uint32_t UKO_Queue_Write(uint32_t uiQueueId, const void* pMsg, uint32_t uiFlags,
                         uint32_t uiTimeOutMs);
// 0, or 22 (also for NULL); on a bad id *puiMsgNum is 0xFFFFFFFF.
uint32_t UKO_Queue_MsgNumGet(uint32_t uiQueueId, uint32_t* puiMsgNum);
// As UKO_QueueMaxNumGet.
uint32_t UKO_Queue_MaxNumGet(uint32_t uiQueueId, uint32_t* puiMaxNum);
// 1 when the queue exists, else 0.
uint32_t UKO_Queue_IsValid(uint32_t uiQueueId);
// Lowest id of a queue with this four-byte name: 0 and the id, or 0xFFFFFFFF. The
// registry is not consulted.
uint32_t UKO_Queue_IdGetByName(const char* pscName, uint32_t* puiQueueId);
// Copies message uiIndex (0 is the next read) into 32 bytes without taking it: 0 or 22.
uint32_t UKO_Queue_Peek(uint32_t uiQueueId, uint32_t uiIndex, void* pBuffer);
