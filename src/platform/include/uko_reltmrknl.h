#pragma once
// Relative timers: every timer of the platform sits on one hashed timing wheel of 1024
// slots that the system tick drives. A slot holds a near ring (timers due on the next
// visit of the slot, in insertion order) and a far list (timers due after further
// revolutions, ordered by expiry, each keeping its revolutions as a difference from its
// predecessor). Expiry runs in the "TICK" task; nothing here creates a thread.
//
// The kernel has no public create operation: a creator fills a record taken with
// ukoRelTmCbAlloc and places it with ukoRelTmInsert under the kernel lock. The
// operations on one timer address it through a handle: the address of the caller's
// variable that holds the record's address.
//
// Failures set errno and are recorded under module 0x2006 unless said otherwise.

#include <cstddef>
#include <cstdint>

#include "os_time.h"

// ---- Record ---------------------------------------------------------------------------
struct UKO_ReltmrCb;
// Expiry function of a kernel timer (kinds 1 and 2), called with its record.
typedef void (*UKO_RELTMR_EXPIRE_PF)(UKO_ReltmrCb* pstTm);
// Callback of a callback-mode kernel timer.
typedef void (*UKO_RELTMR_CBK_PF)(uint64_t uvParam);
// The caller's variable that holds a record's address.
typedef UKO_ReltmrCb** UKO_RELTMR_HANDLE;

// Record kinds.
constexpr uint32_t UKO_RELTMR_KIND_LOCKED = 1;    // expiry function runs under the kernel lock
constexpr uint32_t UKO_RELTMR_KIND_UNLOCKED = 2;  // expiry function runs with the lock released
constexpr uint32_t UKO_RELTMR_KIND_ADAPT = 3;     // expiry goes to the adaptation hook

// Mode bits.
constexpr uint8_t UKO_RELTIMER_LOOP = 0x01;
constexpr uint8_t UKO_RELTIMER_CALLBACK = 0x02;  // clear: message delivery
constexpr uint8_t UKO_RELTIMER_ONE_TIMEOUT_MSG_IN_QUEUE = 0x04;
constexpr uint8_t UKO_RELTIMER_CYCLE_RECORD = 0x08;
constexpr uint8_t UKO_RELTIMER_CYCLE_COMPENSATE = 0x10;

// States.
constexpr uint8_t UKO_RELTMR_IDLE = 0x5A;
constexpr uint8_t UKO_RELTMR_TICKING = 0xA5;
constexpr uint8_t UKO_RELTMR_OUT = 0xAA;
constexpr uint8_t UKO_RELTMR_PAUSEING = 0xAB;
constexpr uint8_t UKO_RELTMR_PAUSED = 0xAE;
constexpr uint8_t UKO_RELTMR_DELETED = 0x55;
constexpr uint8_t UKO_RELTMR_OUTSEND = 0xAC;
constexpr uint8_t UKO_RELTMR_DELETED_INQ = 0xAF;

// Where a record is linked.
constexpr uint32_t UKO_RELTMR_LIST_NEAR = 0;
constexpr uint32_t UKO_RELTMR_LIST_FAR = 1;
constexpr uint32_t UKO_RELTMR_LIST_EXPIRED = 2;

// Handle of a free pool record.
constexpr uint32_t UKO_RELTMR_HANDLE_FREE = 0xFFFF;
constexpr size_t UKO_RELTMR_PRIV_SIZE = 40;

struct UKO_ReltmrCb {
    uint32_t uiKind;
    UKO_ReltmrCb* pstNext;  // slot ring or list, free list, or one tick's expired list
    UKO_ReltmrCb* pstPrev;
    UKO_ReltmrCb* pstAllNext;  // the all-timers list
    UKO_ReltmrCb* pstAllPrev;
    uint32_t uiHandle;
    UKO_RELTMR_EXPIRE_PF pfnExpire;
    uint32_t uiLenMs;
    uint32_t uiLenTick;
    uint32_t uiMissed;   // missed periods of the cycle modes
    uint32_t uiNextDue;  // absolute tick of the next expiry, cycle modes
    // Low 10 bits: the slot. Above: remaining revolutions times the wheel size, for a
    // far timer counted from its predecessor in the far list.
    uint32_t uiDue;
    UKO_RELTMR_HANDLE phOwner;  // cleared when the timer ends, if it still holds this record
    uint8_t ucMode;
    uint8_t ucMode2;
    uint8_t ucState;
    uint8_t ucDelFlag;
    uint32_t uiList;         // 0 near ring, 1 far list, 2 waiting on a tick's expired list
    uintptr_t ulMsgInQueue;  // kind 1: non-zero keeps an ended timer DELETED
    UKO_ReltmrCb* pstHdlNext;  // the owning handle's timer list
    UKO_ReltmrCb* pstHdlPrev;
    alignas(8) uint8_t aucPriv[UKO_RELTMR_PRIV_SIZE];
};
static_assert(offsetof(UKO_ReltmrCb, aucPriv) % 8 == 0, "the kind-specific part holds 64-bit words");

// Kind-specific part of a callback-mode kernel timer.
struct UKO_RELTMR_CBK_PRIV {
    uint32_t uiName;
    uint64_t uvParam1;
    UKO_RELTMR_CBK_PF pfnCallback;
};
// A message-mode kernel timer keeps, packed behind 8 leading bytes, its name
// (32 bits), parameter 1 and parameter 2 (64 bits each).
constexpr size_t UKO_RELTMR_MSG_NAME_OFF = 8;
constexpr size_t UKO_RELTMR_MSG_PARAM1_OFF = 12;
constexpr size_t UKO_RELTMR_MSG_PARAM2_OFF = 20;

// Global statistics.
struct UKO_ReltmrStat {
    uint32_t uiCurNum;
    uint32_t uiStartNum;
    uint32_t uiStopNum;
    uint32_t uiPeakNum;
    UKO_Systime stPeakTime;
};

// One entry of the basic information.
struct UKO_ReltmrBaseInfo {
    UKO_RELTMR_HANDLE phOwner;
    uint32_t uiLenMs;
    uint32_t uiHandle;
    uint32_t uiName;
    uint8_t ucMode;
    uint8_t ucMode2;
    uint16_t usState;
    uint64_t uvParam1;
    uint64_t uvParam2;  // the callback function of a callback-mode timer
};

// Receives the expired adaptation timers (kind 3), with the kernel lock released.
typedef void (*UKO_RELTMR_ADAPT_HOOK_PF)(UKO_ReltmrCb* pstTm);
typedef void (*UKO_RELTMR_DBG_HOOK_PF)(UKO_ReltmrCb* pstTm);

// ---- Kernel ---------------------------------------------------------------------------
// Start-up step: lock, configuration, wheel, first pool block of 2001 records, the
// every-tick cycle hook, peak time, the "Reltmr Handle Stat" data module and the
// clock's tick-pass hook. 0, 22, 12 or a failing step's code; 0 at once when done.
uint32_t ukoRelTmKnlInit(uint32_t uiUnused);
uint32_t ukoRelTmWheelInit();
uint32_t ukoRelTmPoolAdd(uint32_t uiCount);
// Takes a pool record and gives the address of its kind-specific part: 0 or 12.
uint32_t ukoRelTmCbAlloc(void** ppPriv);
// Mode 0 gives the record of a kind-specific part back to the pool; mode 1 frees the
// address as partition memory; any other mode does nothing.
void ukoRelTmCbFree(uint32_t uiMode, void* pPriv);
// The record whose kind-specific part this is.
UKO_ReltmrCb* ukoRelTmCbOfPriv(void* pPriv);

// Places a record whose lengths are set and makes it TICKING. Kernel lock held.
void ukoRelTmInsert(UKO_ReltmrCb* pstTm);
// Takes a record off its slot; the caller sets the state. Kernel lock held.
void ukoRelTmRemove(UKO_ReltmrCb* pstTm);
// Processes the given number of elapsed ticks and expires what falls due.
void ukoRelTmTick(uint32_t uiTicks);
// The clock's tick-pass hook: counts ticks measured and not yet processed.
void ukoRelTmUpdateTickPass(uint32_t uiTicks);
// Takes an ended timer out of the statistics: 0 or 22.
uint32_t ukoReltmrDbgHandleStatRemove(uint32_t uiHandle, UKO_ReltmrCb* pstTm);
// Runs the wheel forward by uiMs / milliseconds per tick ticks (nothing for 0).
void UKO_ReltmrAdvance(uint32_t uiMs);
// *puiCount: capacity in, entries written out. 0 or 22.
uint32_t UKO_ReltmrBaseInfoGet(uint32_t* puiCount, UKO_ReltmrBaseInfo* pstInfo);
uint32_t UKO_ReltmrCountGet();
uint32_t UKO_ReltmrDbgHookSet(UKO_RELTMR_DBG_HOOK_PF pfnHook);
// "IDLE", "TICKING", ... ; "ERROR" for an unknown value.
const char* ukoRelTmStateName(uint32_t uiState);
// Sets the hook that gets the expired adaptation timers.
void ukoRelTmAdaptHookSet(UKO_RELTMR_ADAPT_HOOK_PF pfnHook);

// The kernel lock (recursive); the adaptation timer lock comes before it, the clock
// lock after it.
void ukoRelTmLock();
void ukoRelTmUnlock();

// ---- Operations on one timer ------------------------------------------------------------
// Each returns 0, or 22 on failure; the remaining-time search returns 0xFFFFFFFF when
// the timer is not where its record says.
uint32_t UKO_ReltmrStop(UKO_RELTMR_HANDLE phTm);
uint32_t UKO_ReltmrStatusGet(UKO_ReltmrCb* pstTm, uint32_t* puiStatus);
uint32_t UKO_ReltmrPause(UKO_RELTMR_HANDLE phTm);
uint32_t UKO_ReltmrRemainTimeGet(UKO_RELTMR_HANDLE phTm, uint32_t* puiTicks);
uint32_t UKO_ReltmrResume(UKO_RELTMR_HANDLE phTm);
uint32_t UKO_ReltmrRestart(UKO_RELTMR_HANDLE phTm);
uint32_t UKO_ReltmrResize(UKO_RELTMR_HANDLE phTm, uint32_t uiNewLenMs);
// The stop of UKO_ReltmrStop, kernel lock held: 0 or 22.
uint32_t ukoRelImpTimerStop(UKO_ReltmrCb* pstTm);
// Remaining ticks of a record on the wheel, kernel lock held, pending ticks not yet
// subtracted: 0, or 0xFFFFFFFF (errno 22) when it is not in its slot.
uint32_t ukoRelTmWheelRemain(const UKO_ReltmrCb* pstTm, uint32_t* puiTicks);
// Pending ticks (read under the clock lock).
uint32_t ukoRelTmPendingGet();

// ---- Show ----------------------------------------------------------------------------------
// The debug command entry: command 1 to 8 with up to three parameters, printed through
// UKO_ShowPrint to the target; anything else prints the help text.
uint32_t UKO_ReltmrShow(uint32_t uiCmd, uint64_t uvP1, uint64_t uvP2, uint64_t uvP3,
                        uint32_t uiTarget);
uint32_t ukoReltmrUsageShow(uint32_t uiTarget);
