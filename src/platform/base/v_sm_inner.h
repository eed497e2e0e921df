#pragma once
// Internal operations of the semaphore table and the seams tests use.

#include <cstdint>

#include "v_sm.h"

// Overload thresholds of a table: above the overload threshold of semaphores in use
// the table is overloaded; it has recovered once the use has fallen to the recovery
// threshold.
struct UKO_SM_THRESHOLDS {
    uint32_t uiOverload;
    uint32_t uiRecover;
};
// From the table size and the overload and critical percentages; for a table of more
// than 42,949,672 ids the division by 100 comes first so nothing wraps.
UKO_SM_THRESHOLDS ukoSmThresholdsCalc(uint32_t uiMax, uint32_t uiOverloadPct,
                                      uint32_t uiCriticalPct);

// Overload states.
constexpr uint32_t UKO_SM_STATE_NORMAL = 0;
constexpr uint32_t UKO_SM_STATE_FALLING = 1;  // below the overload threshold, not yet recovered
constexpr uint32_t UKO_SM_STATE_OVERLOAD = 2;

// The id of a handle, or -1; searched under the table lock.
int32_t ukoSmIdGetByCb(const void* pSem);
// The lowest id in use, or -1: every semaphore matches an OS-level id on this OS.
int32_t ukoSmIdGetByOsalId(int32_t iOsalId);
// Installed as the semaphore layer's V-notify hook: hands the handle's id and the three
// values to the V-notify target; 22 without a target or an id.
uint32_t ukoSmVNotify(void* pSem, uint32_t uiType, uintptr_t ulValue1, uintptr_t ulValue2);

// ---- Test seams ------------------------------------------------------------------------
// The overload-check and statistics switches (nothing in this system turns them on).
void ukoSmOverloadCheckSwitchSet(uint32_t uiOn);
void ukoSmStatSwitchSet(uint32_t uiOn);
uint32_t ukoSmOverloadStateGet();
// The printer of ukoSmStatShow (UKO_ShowPrint unless replaced; NULL restores it).
typedef uint32_t (*UKO_SM_PRINT_PF)(uint32_t uiTarget, const char* format, ...);
void ukoSmPrinterSet(UKO_SM_PRINT_PF pfnPrinter);
