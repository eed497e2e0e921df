#pragma once
// Inside the adaptation timers: the record's own part and the internal operations.

#include <cstddef>
#include <cstdint>

#include "jqr_timer.h"
#include "uko_reltmrknl.h"

// The kind-specific part of an adaptation timer's kernel record.
struct JQR_TIMER_PRIV {
    uint32_t uiTimerId;
    uint32_t uiMsgNum;  // expiry messages delivered and not yet acknowledged
    uint32_t uiTaskId;
    uint32_t uiQueueId;  // 0: callback delivery
    UKO_TIMER_FUNC_PF pfnTimerFunc;
    uint64_t uvArg;
    uint32_t uiExtName;  // 0xFFFFFFFF: none
};
static_assert(sizeof(JQR_TIMER_PRIV) <= UKO_RELTMR_PRIV_SIZE, "fits the kind-specific part");
static_assert(sizeof(UKO_ReltmrCb) == 160, "a group of 1024 records is 163,840 bytes");

constexpr uint32_t JQR_TIMER_GROUP_NUM = 1024;
constexpr uint32_t JQR_TIMER_GROUP_SIZE = 1024;
constexpr uint32_t JQR_TIMER_NO_EXT = 0xFFFFFFFFu;

JQR_TIMER_PRIV* JqrsPriv(UKO_ReltmrCb* pstTimer);

UKO_ReltmrCb* Jqrs_AllocTimerStruct();
void Jqrs_FreeTimerStruct(UKO_ReltmrCb* pstTimer);
UKO_ReltmrCb* Jqrs_TimerLookup(uint32_t uiTimerId);
uint32_t Jqrs_TimerIdCheck(uint32_t uiTimerId);
uint32_t Jqrs_DeleteTimer(uint32_t uiTimerId);
uint32_t Jqrs_GetRemainTime(UKO_ReltmrCb* pstTimer, uint32_t* puiTicks);
void Jqrs_TrigReltimer(UKO_ReltmrCb* pstTimer);

// Test seam: when set, asked before a group is taken; false refuses it as the partition
// would. NULL removes it.
typedef bool (*JQR_TIMER_GROUP_GATE_PF)(uint32_t uiGroup);
void jqrTimerGroupGateSet(JQR_TIMER_GROUP_GATE_PF pfnGate);
