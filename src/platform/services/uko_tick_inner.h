#pragma once
// Inside the tick module: seams through which tests watch the record and the writer.

#include <cstdint>

// One bank of the tick record as a reader sees it.
struct UKO_TICK_BANK_S {
    uint32_t uiTickHigh;
    uint32_t uiTickLow;
    uint32_t uiCpuTickLow;
    uint32_t uiCpuTickHigh;
    uint32_t uiRemainder;
};

// A consistent copy of the bank in force, read with the sequence protocol.
void ukoTickBankRead(UKO_TICK_BANK_S* pstBank);

// Test seam: called by ukoTickUpdate in the middle of an update, after bank 0's old
// value has been saved and the sequence has turned odd and before bank 0 changes, so a
// test can run readers while an update is under way. NULL removes it.
typedef void (*UKO_TICK_MID_UPDATE_PF)();
void ukoTickMidUpdateHookSet(UKO_TICK_MID_UPDATE_PF pfnHook);
