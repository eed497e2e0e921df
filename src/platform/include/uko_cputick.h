#pragma once
// The CPU tick: the base that turns counter differences into time (counter units per
// OS tick), its start-up, and the conversions of CPU ticks to milliseconds,
// microseconds, nanoseconds and OS ticks and back.
//
// Before UKO_CpuTickInit has set a base every conversion fails with 22 ("not
// initialised"); after a start that found no base (base 0) they fail with 22 or 33
// instead of dividing by zero.

#include <cstdint>

// A CPU tick value: the 64-bit count as low word, then high word.
struct UKO_CPUTICK_S {
    uint32_t uiLow;
    uint32_t uiHigh;
};
static_assert(sizeof(UKO_CPUTICK_S) == 8, "a CPU tick record is two words");

// ---- Start-up and the base -------------------------------------------------------------
// Start-up step (after the tick configuration, whose rate the base depends on): takes
// the start reading and sets the base from the base hook, else from the processor
// information file, else by measuring. 0, or an error code (the base is then 0 or
// 0xFFFFFFFF, "not initialised").
uint32_t UKO_CpuTickInit(uint32_t uiUnused);
// OSAL_CpuTickBaseSet's result.
uint32_t UKO_CpuTickBaseSet(uint32_t uiCpuTickBase);
// 0 with the base; 22 for a NULL out or a base that is 0 or not initialised.
uint32_t UKO_CpuTickBaseGet(uint32_t* puiCpuTickBase);
// A base from the clock in the "model name" line of the processor information file,
// or 0 when there is none.
uint32_t UKO_CpuTickBaseGetByFile();

// ---- Elapsed ticks and percentages -----------------------------------------------------
// Counter now minus the start reading. A NULL record is reported.
void UKO_CpuTickElapseGet(UKO_CPUTICK_S* pstCputick);
// The ticks as a percentage (0 to 100) of the ticks elapsed since start, or -1.
int32_t UKO_CpuTickPercentGet(const UKO_CPUTICK_S* pstCputick);
// The ticks as a percentage (0 to 100) of pstBase, or -1.
int32_t ukoCtkCalPercent(const UKO_CPUTICK_S* pstCputick, const UKO_CPUTICK_S* pstBase);
// The ticks in ten-thousandths (0 to 10000) of pBase, or -1.
int32_t ukoCtkCalTenThousandth(const UKO_CPUTICK_S* pCpuTick, const UKO_CPUTICK_S* pBase);

// ---- Conversions ------------------------------------------------------------------------
// Results: 0; 22 for a NULL pointer or a base not initialised (for the two conversions
// into CPU ticks also a base of 0); 33 when the arithmetic fails (a base of 0, an
// overflow). Out values are written only on success.
uint32_t UKO_CpuTick2Ms(const UKO_CPUTICK_S* pstCputick, uint32_t* puiMilliSecsHigh,
                        uint32_t* puiMilliSecsLow);
uint32_t UKO_CpuTick2Us(const UKO_CPUTICK_S* pstCputick, uint32_t* puiMicroSecsHigh,
                        uint32_t* puiMicroSecsLow);
// Whole seconds (may be NULL; low word) and the nanoseconds of the part below a second,
// rounded. 0, 22, 74 for a base too large, or the division's failure.
uint32_t UKO_CpuTick2NanoSecs(const UKO_CPUTICK_S* pstCputick, uint32_t* puiSeconds,
                              uint32_t* puiNanoSecs);
uint32_t UKO_CpuTickMs2CpuTick(UKO_CPUTICK_S* pstCputick, uint32_t uiMilliSecsHigh,
                               uint32_t uiMilliSecsLow);
uint32_t UKO_CpuTickLess1Ms2CpuTick(UKO_CPUTICK_S* pstCputick, uint32_t uiNanoSecs);
// OS ticks (low word of ticks / base) and the CPU ticks left over (may be NULL).
// 0, 22 for a NULL pointer or a base of 0 or not initialised, or the division's failure.
uint32_t UKO_CpuTick2Tick(const UKO_CPUTICK_S* pstCputick, uint32_t* puiTick,
                          uint32_t* puiRemainder);

// ---- Guard check -------------------------------------------------------------------------
// The base sits between two guard words so that a stray write over it can be noticed.
// The OS clock calls ukoCheckCpuTickMagic once per cycle; with a check hook set, a
// changed guard word is reported and the hook called. Without a hook nothing is tested.
typedef void (*UKO_CPUTICK_CHECK_HOOK_PF)();
// Stores the hook and the error threshold and clears the error count; 0.
uint32_t UKO_CpuTickCheckSet(uint32_t uiErrThreshold, UKO_CPUTICK_CHECK_HOOK_PF pfnHook);
void ukoCheckCpuTickMagic();

// ---- Values kept here for other modules ------------------------------------------------
// The OS clock's previous counter reading, kept behind the second guard word; only the
// clock writes it.
void ukoCpuTickPrevGet(uint32_t* puiLow, uint32_t* puiHigh);
void ukoCpuTickPrevSet(uint32_t uiLow, uint32_t uiHigh);
// The error threshold and count of the relative-timer kernel's tick-pass check
// (a threshold of 0 switches the check off).
uint32_t ukoCpuTickErrThresholdGet();
uint32_t ukoCpuTickErrCountGet();
void ukoCpuTickErrCountSet(uint32_t uiCount);

// ---- Test seam ---------------------------------------------------------------------------
// Overwrites the two guard words, as a stray write would.
void ukoCpuTickGuardSet(uint32_t uiHeadGuard, uint32_t uiTailGuard);
