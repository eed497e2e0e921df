#pragma once
// The system tick: the platform's 64-bit tick count (10 ms per tick at the configured
// 100 ticks per second) since the OS clock began counting, its conversions, the current
// time since start, and two layers of hooks run in the "TICK" task: up to 10 tick hooks,
// and, as one of them, the every-tick and periodic cycle hooks.
//
// The count is written only by the OS clock's VCLK task and read by any task without a
// lock. 64-bit quantities cross the interface as two 32-bit words, high word first.
// Failures set errno and are recorded under module 0x211F unless said otherwise.

#include <cstdint>

// A tick hook or cycle hook: gets a number of ticks.
typedef void (*UKO_TICK_HOOK_PF)(uint32_t uiTicks);

constexpr uint32_t UKO_TICK_HOOK_MAX = 10;
constexpr uint32_t UKO_TICK_FAIL = 0xFFFFFFFFu;

// ---- Start-up ----------------------------------------------------------------------
// Start-up step: the hook table, the tick-hook lock, ukoTickUpdate as the OS clock's
// tick-count hook and ukoTickHookDispatch in its tick-hook list. 0, 22 or the OS
// clock's code. Idempotent after success.
uint32_t UKO_TickInit(uint32_t uiUnused);
// Start-up step: registers ukoTickCycleHookDispatch as a tick hook. 0 or
// UKO_TickHookReg's code. Idempotent after success.
uint32_t ukoTickCycleHookInit(uint32_t uiUnused);

// ---- Counting and reading ------------------------------------------------------------
// The writer: advances the count by uiMs / milliseconds per tick and records the OS
// clock's reading and remainder with it. Called by VCLK under the clock lock only.
void ukoTickUpdate(uint32_t uiMs);
// The count: 0, or 22 for a NULL pointer. Never blocks.
uint32_t UKO_TickGet(uint32_t* puiHigh, uint32_t* puiLow);
uint32_t ukoTickGet(uint32_t* puiHigh, uint32_t* puiLow);
// The low word from one look at the record, without the retry: 0, or 22 for NULL.
uint32_t UKO_TickLowGet(uint32_t* puiLow);

// ---- Conversions -----------------------------------------------------------------------
// Ticks to milliseconds: 0; 22 for a NULL out-pointer; UKO_TICK_FAIL (nothing written)
// when the product does not fit in 64 bits.
uint32_t UKO_Tick2Ms(uint32_t uiTickHigh, uint32_t uiTickLow, uint32_t* puiMsHigh,
                     uint32_t* puiMsLow);
// Milliseconds to whole ticks (rounded down).
uint32_t UKO_TickMs2Tick(uint32_t uiMs);
// Seconds to ticks; UKO_TICK_FAIL when the ticks would not fit in 32 bits.
uint32_t UKO_TickSec2Tick(uint32_t uiSeconds);
// Ticks to whole seconds (rounded down).
uint32_t UKO_TickTick2Sec(uint32_t uiTicks);
uint32_t UKO_TickPerSecGet();

// ---- Now ---------------------------------------------------------------------------------
// Milliseconds since the clock began counting, in whole ticks: 0; 22 for NULL;
// UKO_TICK_FAIL when the conversion fails.
uint32_t UKO_MillSecNow(uint32_t* puiMillSecHigh, uint32_t* puiMillSecLow);
// The same as seconds and the milliseconds below a second: 0; 22; UKO_TICK_FAIL.
uint32_t UKO_SecondNow(uint32_t* puiSecond, uint32_t* puiMillSec);
// Milliseconds since the clock began counting, refined between ticks by the CPU tick
// counter: 0, or 22 for NULL. 0 before the clock's first cycle.
uint32_t UKO_HiPrecisionMsNow(uint32_t* puiMillSecHigh, uint32_t* puiMillSecLow);

// ---- Hooks -----------------------------------------------------------------------------------
// Adds a tick hook, called by TICK with the elapsed ticks: 0; 22 for NULL; 12 when all
// 10 slots are used. Slots are never freed.
uint32_t UKO_TickHookReg(UKO_TICK_HOOK_PF pfnHook);
// The OS clock's tick-hook list entry: calls the tick hooks in registration order with
// uiMs / milliseconds per tick.
void ukoTickHookDispatch(uint32_t uiMs);
// Adds a cycle hook: period 1 runs it with every batch of ticks; a longer period runs it
// once at least that many ticks have gathered, with the ticks gathered. 0; 22 for a
// NULL hook or a period of 0; 12 when its node cannot be allocated. Never removed.
uint32_t UKO_TickCycleHookReg(UKO_TICK_HOOK_PF pfnHook, uint32_t uiPeriod);
// The tick hook that runs the cycle hooks, oldest first, every-tick ones before
// periodic ones.
void ukoTickCycleHookDispatch(uint32_t uiTicks);
