#pragma once
// Inside the relative timer kernel: the wheel, the per-handle statistics, the
// bookkeeping a creator of kernel timers does, and the seams tests use.

#include <cstdint>

#include "uko_reltmrknl.h"

struct UKO_ReltmrSlot {
    UKO_ReltmrCb* pstNear;  // circular ring, insertion order
    UKO_ReltmrCb* pstFar;   // circular list, expiry order, revolutions as differences
    uint32_t uiFarLastDue;  // absolute due word of the far list's last timer
    uint32_t uiNearNum;
    uint32_t uiFarNum;
};

// Per-handle statistics, kept in the handle's slot of the "Reltmr Handle Stat" data
// module.
struct UKO_RELTMR_HDL_STAT {
    UKO_ReltmrCb* pstHead;  // circular list through the records' handle links
    uint32_t uiCbkNum;
    uint32_t uiNum;
    uint32_t uiPeakNum;
    UKO_Systime stPeakTime;
};

constexpr uint32_t UKO_RELTMR_WHEEL_BITS = 10;
constexpr uint32_t UKO_RELTMR_WHEEL_SIZE = 1u << UKO_RELTMR_WHEEL_BITS;
constexpr uint32_t UKO_RELTMR_POOL_FIRST = 2001;
constexpr uint32_t UKO_RELTMR_POOL_GROW = 10000;

// The wheel's state for tests and the show (kernel lock held by the caller).
uint32_t ukoRelTmCursorGet();
const UKO_ReltmrSlot* ukoRelTmSlotGet(uint32_t uiSlot);
// Records on the free list.
uint32_t ukoRelTmFreeNumGet();
// A copy of the global statistics.
void ukoRelTmStatGet(UKO_ReltmrStat* pstStat);
// The head of the all-timers list (NULL when empty).
UKO_ReltmrCb* ukoRelTmAllHeadGet();
// The handle's statistics record, or NULL when it has none.
UKO_RELTMR_HDL_STAT* ukoRelTmHdlStatGet(uint32_t uiHandle);

// The creator's side of the statistics: a started kernel timer joins the all-timers
// list, its handle's list (a statistics record is made on first use) and the start and
// peak counts. 0, 22 for an invalid handle, 12 without memory. Kernel lock held.
uint32_t ukoReltmrDbgHandleStatAdd(uint32_t uiHandle, UKO_ReltmrCb* pstTm);

// Name, parameter 1 and parameter 2 (the callback for a callback-mode timer) from the
// kind-specific part, as the mode lays it out.
uint32_t ukoRelTmNameGet(const UKO_ReltmrCb* pstTm);
uint64_t ukoRelTmParam1Get(const UKO_ReltmrCb* pstTm);
uint64_t ukoRelTmParam2Get(const UKO_ReltmrCb* pstTm);

// Test seam: when set, asked before each pool block is taken; false refuses the block as
// the partition would. NULL removes it.
typedef bool (*UKO_RELTMR_POOL_GATE_PF)(uint32_t uiCount);
void ukoRelTmPoolGateSet(UKO_RELTMR_POOL_GATE_PF pfnGate);
