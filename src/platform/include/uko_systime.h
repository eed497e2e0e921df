#pragma once
// System time: the platform's wall-clock date and time and the date arithmetic the
// rest of the platform uses on the date/time record UKO_Systime.
//
// Three records are kept: the system time (type 0), which callers set, and the LMT
// time (type 1) and local time (type 2), which belong to a time-zone package that
// plugs in through the hooks below. None of them advances by itself: each keeps the
// value last written, and all three are zero until someone writes them.
//
// A record is valid when its year is 1970 or later, its month 1 to 12, its day within
// that month, its hour below 24, minute and second below 60 and milliseconds below
// 1000. The day of the week is not tested.
//
// Failures set the thread's errno to the code and make an error record under module
// 0x203C, then return the code (22 unless stated).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "os_time.h"

// ---- Record arithmetic (no lock) -----------------------------------------------------
// 1 valid, 0 invalid or NULL (with an error record).
uint32_t UKO_SystimeCheck(const UKO_Systime* pstSystime);
// 1 first earlier, 2 equal, 3 first later; 0 when either is NULL or invalid.
uint32_t UKO_SystimeCompare(const UKO_Systime* pstFirstSystime,
                            const UKO_Systime* pstSecondSystime);
// Whole calendar days from the second date to the first (times of day ignored); 0 for
// the same day; 0xFFFFFFFF when the first date is earlier or either record is NULL or
// invalid.
uint32_t UKO_SystimeRelDayCal(const UKO_Systime* pstFirstSystime,
                              const UKO_Systime* pstSecondSystime);
// Seconds from the second record to the first, milliseconds ignored: 0; 22 for a NULL
// pointer, an invalid record, a first record that is earlier, or a gap that does not
// fit 32 bits (the seconds are then 0).
uint32_t UKO_SystimeRelSecCal(const UKO_Systime* pstFirstSystime,
                              const UKO_Systime* pstSecondSystime, uint32_t* puiRelativeSec);
// Milliseconds since 1970-01-01 00:00:00.000 as a 64-bit value: 0, or 22.
uint32_t UKO_SystimeMsSince1970(const UKO_Systime* pstSystime, uint32_t* puiRetMillSecHigh,
                                uint32_t* puiRetMillSecLow);
// Seconds since 1970 as a 64-bit value: 0, or 22.
uint32_t UKO_SystimeSecSince1970(const UKO_Systime* pstSystime, uint32_t* puiRetSecHigh,
                                 uint32_t* puiRetSecLow);
// The date and time of seconds since 1970; week day and milliseconds 0. A NULL record
// is reported and left alone.
void UKO_SystimeSec2Time(uint32_t uiSeconds, UKO_Systime* pstSystime);
// Writes the day of the week (0 Sunday) into the record: 0, or 22 when the record is
// NULL or its date is invalid.
uint32_t UKO_SystimeWeekDayGet(UKO_Systime* pstSystime);
// Days of the month; 255 when the year is below 1970 or the month is not 1 to 12.
uint8_t UKO_SystimeMaxDateGet(uint16_t usYear, uint8_t ucMonth);
// Writes "year-month-day:hour-minute-second" without leading zeros into at most 20
// bytes of text: 0; 22 when either pointer is NULL or the text does not fit.
uint32_t UKO_Systime2Str(char* cpStrDT, const UKO_Systime* pstSystime);
// Add or subtract milliseconds, carrying into the date, then write the week day: 0; 22
// when the record is invalid or the result would leave the years 1970 to 65535 (the
// record is then unchanged).
uint32_t UKO_SystimeMsAdd(UKO_Systime* pstSystime, uint32_t uiMillSec);
uint32_t UKO_SystimeMsSub(UKO_Systime* pstSystime, uint32_t uiMillSec);

// ---- Time keeping (under the systime lock) ---------------------------------------------
// Sets the system time through the set sequence (derive hooks, store, change and
// notify hooks; notification source 1): 0, 22 for a NULL or invalid record, or the
// code of a derive hook that refused (nothing is stored then).
uint32_t UKO_SystimeSet(const UKO_Systime* pstSystime);
// Copies the LMT time (type 1): 0, or 22 for a NULL record.
uint32_t UKO_SystimeGet(UKO_Systime* pstSystime);
// Copies the system time (type 0): 0, or 22 for a NULL record.
uint32_t UKO_SystimeSysGet(UKO_Systime* pstSystime);
// Seconds since 1970 of the system time: 0; 22 for a NULL pointer or while the system
// time is not a valid record (before the first set).
uint32_t UKO_SystimeSecSince1970Get(uint32_t* puiTimeInSecHigh, uint32_t* puiTimeInSecLow);

// ---- Hooks (stored without a lock; each setter returns 0) -------------------------------
// Derive the LMT or local time from a new system time; a non-zero code cancels the set.
typedef uint32_t (*UKO_SYSTIME_LMT_DERIVE_HOOK_PF)(const UKO_Systime* pstNewSys,
                                                   UKO_Systime* pstLmt);
typedef uint32_t (*UKO_SYSTIME_LOCAL_DERIVE_HOOK_PF)(const UKO_Systime* pstNewSys,
                                                     UKO_Systime* pstLocal, uint64_t* puvExtra);
// Convert an LMT or local time into a system time (set command types 1 and 2).
typedef uint32_t (*UKO_SYSTIME_TO_SYS_HOOK_PF)(const UKO_Systime* pstTime, UKO_Systime* pstSys);
// A state of a time record, compared before and after a change.
typedef uint32_t (*UKO_SYSTIME_STATE_HOOK_PF)(const UKO_Systime* pstTime);
// Full change notification: old and new LMT, old and new system, old and new local
// time, and flags (2: the LMT state changed; 4 in addition: the new state is 1).
typedef void (*UKO_SYSTIME_CHANGE_HOOK_PF)(const UKO_Systime* pstOldLmt,
                                           const UKO_Systime* pstNewLmt,
                                           const UKO_Systime* pstOldSys,
                                           const UKO_Systime* pstNewSys,
                                           const UKO_Systime* pstOldLocal,
                                           const UKO_Systime* pstNewLocal, uint32_t uiFlags);
// Called once per record type after a set: (old, new, notification source, type).
typedef void (*UKO_SYSTIME_NOTIFY_HOOK_PF)(const UKO_Systime* pstOld, const UKO_Systime* pstNew,
                                           uint32_t uiSource, uint32_t uiType);
// One more notification of the system time: (old, new, 0).
typedef void (*UKO_SYSTIME_NOTIFY_HOOK2_PF)(const UKO_Systime* pstOld, const UKO_Systime* pstNew,
                                            uint32_t uiReserved);

uint32_t UKO_SystimeLmtDeriveHookSet(UKO_SYSTIME_LMT_DERIVE_HOOK_PF pfnHook);
uint32_t UKO_SystimeLocalDeriveHookSet(UKO_SYSTIME_LOCAL_DERIVE_HOOK_PF pfnHook);
uint32_t UKO_SystimeLmtToSysHookSet(UKO_SYSTIME_TO_SYS_HOOK_PF pfnHook);
uint32_t UKO_SystimeLocalToSysHookSet(UKO_SYSTIME_TO_SYS_HOOK_PF pfnHook);
uint32_t UKO_SystimeStateHookSet(UKO_SYSTIME_STATE_HOOK_PF pfnHook);
uint32_t UKO_SystimeChangeHookSet(UKO_SYSTIME_CHANGE_HOOK_PF pfnHook);
// A NULL hook is ignored: the one in place stays.
uint32_t UKO_SystimeNotifyHookSet(UKO_SYSTIME_NOTIFY_HOOK_PF pfnHook);
uint32_t UKO_SystimeNotifyHook2Set(UKO_SYSTIME_NOTIFY_HOOK2_PF pfnHook);

// ---- Change-reserve box ----------------------------------------------------------------
// The system start time and the CPU tick at start and at the last tick update, kept in
// a box whose location the integrator supplies; its show computes how long the system
// has run.
constexpr uint32_t UKO_SYSTIME_CHANGE_BOX_MAGIC = 0x53544352;
struct UKO_SystimeChangeBox {
    uint32_t uiMagic;
    uint32_t uiCpuTickPerMs;
    UKO_Systime stStartTime;
    uint32_t uiStartCpuTickLow;
    uint32_t uiStartCpuTickHigh;
    uint32_t uiLastCpuTickLow;
    uint32_t uiLastCpuTickHigh;
};
static_assert(sizeof(UKO_SystimeChangeBox) == 36, "the box show requires 36 bytes");
static_assert(offsetof(UKO_SystimeChangeBox, stStartTime) == 8 &&
                  offsetof(UKO_SystimeChangeBox, uiStartCpuTickLow) == 20 &&
                  offsetof(UKO_SystimeChangeBox, uiLastCpuTickHigh) == 32,
              "box layout without gaps");

// 0 = off (the start value); while on, the tick update keeps a ring of its last gaps.
extern std::atomic<uint32_t> UKO_SYSTIME_CHANGE_BOX_SWITCH;
// The number of reserved segments the box switch show checks; 0 at start.
extern std::atomic<uint32_t> UKO_SYSTIME_SEGMENT_NUM;

// ---- Current time at UTC+8 ---------------------------------------------------------------
// Milliseconds since 1970 of a date word (year << 16 | month << 8 | day), a time word
// (hour << 16 | minute << 8 | second) and milliseconds. Nothing is validated: fields
// are counted as they are (hours 24 to 31 simply count into the next day).
void Jqrs_DateTimeToMs(uint32_t uiDate, uint32_t uiTime, uint32_t uiMillSec, uint32_t* puiMsHigh,
                       uint32_t* puiMsLow);
// The OS clock at UTC+8 as milliseconds since 1970: 0; 1 for a NULL pointer or when the
// OS clock cannot be read.
uint32_t Jqrs_MsNowUtc8Get(uint32_t* puiMsHigh, uint32_t* puiMsLow);
