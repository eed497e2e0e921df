#pragma once
// Adaptation timers: timers made by a length in milliseconds and known by a 32-bit id.
// On expiry a timer either calls its callback in the "TICK" task, or posts a 32-byte
// expiry message to its owner's queue and wakes the owner task with event 0x8000, so
// that the owner runs the callback in its own task (and acknowledges the message with
// UKO_Timer_IsStoped when the timer keeps messages in the queue).
//
// An id holds the record's index in its low 20 bits and a generation above them: every
// creation on a record adds 0x100000, so the id of a deleted timer goes stale when its
// record is reused.
//
// Failures set errno and are recorded under module 0x2125 (0x205A for the codes below).

#include <cstddef>
#include <cstdint>

#include "uko_errcode.h"

// Flags of the create operations.
constexpr uint32_t UKO_TIMER_LOOP = 0x01;
constexpr uint32_t UKO_TIMER_ONE_TIMEOUT_MSG_IN_QUEUE = 0x04;

// Delete flags.
constexpr uint32_t UKO_TIMER_DELETE_ALLOWED = 175;  // 0xAF
constexpr uint32_t UKO_TIMER_DELETE_REFUSED = 176;  // 0xB0

constexpr UKO_ERRCODE UKO_TIMER_ERR_DELETED = 0x205A0010;
constexpr UKO_ERRCODE UKO_TIMER_ERR_NO_DELETE = 0x205A0012;
constexpr UKO_ERRCODE UKO_TIMER_ERR_NULL_STAT = 0x205A0032;

// Callback of a timer: gets its argument.
typedef void (*UKO_TIMER_FUNC_PF)(uint64_t uvArg);

// The expiry message, 32 bytes in the host's byte order.
struct UKO_TimerMsg {
    uint32_t uiZero;
    uint32_t uiTimerId;
    UKO_TIMER_FUNC_PF pfnTimerFunc;
    uint64_t uvArg;
    uint64_t uvReserved;  // not set by the timer
};
static_assert(sizeof(UKO_TimerMsg) == 32, "the expiry message is one queue message");
static_assert(offsetof(UKO_TimerMsg, uiTimerId) == 4 && offsetof(UKO_TimerMsg, pfnTimerFunc) == 8 &&
                  offsetof(UKO_TimerMsg, uvArg) == 16,
              "expiry message layout");

#pragma pack(push, 1)
struct UKO_TIMER_INFO_S {
    uint32_t uiTaskId;
    uint32_t uiQueueId;
    uint32_t uiMode;
    uint32_t uiState;
    uint32_t uiLenMs;
    uint64_t uvCallback;
    uint64_t uvArg;
};
struct JQR_TIMER_INFO_S {
    uint32_t uiTaskId;
    uint32_t uiQueueId;
    uint32_t uiMsgNum;
    uint32_t uiMode;
    uint32_t uiState;
    uint32_t uiLenMs;
    uint64_t uvCallback;
    uint64_t uvArg;
};
#pragma pack(pop)
static_assert(sizeof(UKO_TIMER_INFO_S) == 36 && sizeof(JQR_TIMER_INFO_S) == 40,
              "information records are packed");

struct UKO_TIMER_STAT_S {
    uint32_t uiPoolNum;    // records in the pool
    uint32_t uiUsedNum;    // timers in use
    uint32_t uiLoopNum;    // loop timers in use
    uint32_t uiNoLoopNum;  // one-shot timers in use
    uint32_t uiCreateNum;  // timers created since start-up
};

// Hooks: extended delivery (timer id, extended name, argument, callback); before and
// after a callback runs (timer id, owner task id, callback).
typedef void (*UKO_TIMER_EXT_HOOK_PF)(uint32_t uiTimerId, uint32_t uiExtName, uint64_t uvArg,
                                      UKO_TIMER_FUNC_PF pfnTimerFunc);
typedef void (*UKO_TIMER_CBK_HOOK_PF)(uint32_t uiTimerId, uint32_t uiTaskId,
                                      UKO_TIMER_FUNC_PF pfnTimerFunc);

// Start-up step: the lock, the group table, group 0 and the kernel's expiry hook.
// 0, the lock's code or 12.
uint32_t JQR_TimerInit(uint32_t uiUnused);

// Task id 0 = the calling task; queue id 0 = callback delivery. 0, 22 or 12.
uint32_t UKO_Timer_Create(uint32_t uiTaskId, uint32_t uiQueueId, uint32_t uiLenMs,
                          UKO_TIMER_FUNC_PF pfnTimerFunc, uint64_t uvArg, uint32_t* puiTimerId,
                          uint32_t uiFlags);
// A timer delivered through the extended-delivery hook under the given name.
uint32_t UKO_Timer_Create_Ex(uint32_t uiExtName, uint32_t uiLenMs, UKO_TIMER_FUNC_PF pfnTimerFunc,
                             uint64_t uvArg, uint32_t* puiTimerId, uint32_t uiFlags);
// 0, 22, UKO_TIMER_ERR_DELETED or UKO_TIMER_ERR_NO_DELETE.
uint32_t UKO_Timer_Delete(uint32_t uiTimerId);
uint32_t UKO_Timer_DeleteEx(uint32_t uiTimerId, uint32_t uiUnused);
// Deletes every live timer of the task; silent.
void UKO_Timer_DeleteByTask(uint32_t uiTaskId);
uint32_t UKO_Timer_Pause(uint32_t uiTimerId);
uint32_t UKO_Timer_Resume(uint32_t uiTimerId);
uint32_t UKO_Timer_Resize(uint32_t uiTimerId, uint32_t uiLenMs);
uint32_t UKO_Timer_GetRemaintime(uint32_t uiTimerId, uint32_t* puiRemainMs);
// The owner's acknowledgement of an expiry message: 1 = the timer counts as stopped
// (drop the message), 0 = running (also for an invalid id, with a report).
uint32_t UKO_Timer_IsStoped(uint32_t uiTimerId);
uint32_t UKO_Timer_GetInfo(uint32_t uiTimerId, UKO_TIMER_INFO_S* pstTimerInfo);
uint32_t UKO_Timer_GetStructFromID(uint32_t uiTimerId, JQR_TIMER_INFO_S* pstJqrTimerInfo);
uint32_t UKO_Timer_GetTimerStatInfo(UKO_TIMER_STAT_S* pstTimerStatInfo);
// Flag 176 makes UKO_Timer_Delete refuse a loop timer; 175 allows it again. 0 or 22.
uint32_t UKO_Timer_DeleteFlagSet(uint32_t uiTimerId, uint32_t uiFlag);
// The current id of the record with the index: 0 or 22.
uint32_t UKO_Timer_GetRelID(uint32_t uiTmrIndex, uint32_t* puiRelTmrID);
void UKO_Timer_ExtHookSet(UKO_TIMER_EXT_HOOK_PF pfnHook);
uint32_t UKO_Timer_PreCallbackHookSet(UKO_TIMER_CBK_HOOK_PF pfnHook);
uint32_t UKO_Timer_PostCallbackHookSet(UKO_TIMER_CBK_HOOK_PF pfnHook);
