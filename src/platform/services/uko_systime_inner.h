#pragma once
// Internal operations of the system-time module: the quiet record tests, the commands
// that set the time from a text or copy it to and from the OS clock, the start record,
// the change-reserve box and the tick-gap statistics, and the seams tests use.

#include <cstdint>

#include "uko_systime.h"

// ---- Record arithmetic -------------------------------------------------------------------
// 1 valid, 0 invalid (with an error record). The record must not be NULL.
uint32_t ukoSystimeCheck(const UKO_Systime* pstSysTime);
// 1 valid, 0 invalid or NULL; no error record.
uint32_t ukoSystimeIsValid(const UKO_Systime* pstSysTime);
// As UKO_SystimeCompare with the quiet validity test and no error record.
uint32_t ukoSystimeCompareQuiet(const UKO_Systime* pstFirst, const UKO_Systime* pstSecond);
// As UKO_SystimeWeekDayGet without error records.
uint32_t ukoSystimeWeekDayCalc(UKO_Systime* pstSystime);
// Days from 1970-01-01 to the record's date; 0xFFFFFFFF for NULL or an invalid date.
uint32_t ukoSystimeDaysSince1970(const UKO_Systime* pstSystime);
// Adds seconds (negative: goes back), carrying into the date: 0; 22 for a NULL record
// or a result before 1970-01-01 or after 65535-12-31 (the record is then unchanged).
uint32_t ukoSystimeSecAdd(UKO_Systime* pstSystime, int32_t iSeconds);

// ---- Time keeping -----------------------------------------------------------------------
// Copies the local time (type 2): 0, or 22 for a NULL record.
uint32_t ukoSystimeLocalGet(UKO_Systime* pstSystime);
// Seconds since 1970 of the system time: 0, or UKO_SystimeSecSince1970's code.
uint32_t ukoGetSecsSince1970(uint32_t* puiSecHigh, uint32_t* puiSecLow);
// Writes the week day into the record, stores it as the system time and runs the
// change hook: 0, or the week-day failure (nothing stored then).
uint32_t ukoSystimeApply(UKO_Systime* pstSystime);

// ---- Commands and shows (print through UKO_ShowPrint to the given target) -----------------
// Reads "YYYY-MM-DD/hh:mm:ss" (the first 19 characters; the rest is not read) into a
// valid record with its week day and milliseconds 0: 0, or 22.
uint32_t ukoSystimeStrParse(const char* pcText, UKO_Systime* pstSystime);
// Sets the time from such a text: type 0 as system time, 1 as LMT time, 2 as local
// time (both through the time-zone package's conversion hooks). 0, 22, or the
// conversion's or the set's code.
uint32_t ukoSystimeSetCmd(uint32_t uiType, const char* pcText, uint32_t uiTarget);
// System time := the OS clock: 0, or the failing code.
uint32_t ukoSystimeFromOs(uint32_t uiTarget);
// The OS clock := the system time: 0, or the failing code; 22 while the system time is
// not a valid record or lies beyond what the OS clock setter can carry
// (2106-02-07 06:28:15).
uint32_t ukoSystimeToOs(uint32_t uiTarget);
// Fills the system start record from UKO_SystimeGet; 0.
uint32_t ukoSystimeStartRecord();
// Prints the system start record; 0.
uint32_t ukoSystimeStartShow(uint32_t uiTarget);

// ---- Change-reserve box and tick gaps ----------------------------------------------------
// The box location (NULL: no box; the start value). Supplied by the integrator.
void ukoSystimeChangeBoxLocationSet(UKO_SystimeChangeBox* pstBox);
// Clears the box at its location and fills magic, CPU ticks per millisecond, the start
// CPU tick (also as last CPU tick) and the start time; 0. Without a location: nothing, 0.
uint32_t ukoSystimeChangeBoxInit();
// The box's CPU-tick tracking switch: 1 for a non-zero argument, else 0.
void ukoSystimeChangeBoxTickSwitch(uint32_t uiOn);
// Reads the CPU tick and keeps the gap statistics; returns the reading's low word.
uint32_t ukoSystimeTickUpdate();
// Writes the box's report into pcBuf (at most uiBufSize bytes with the terminator) and
// stores the bytes used in *puiWritten. 0 and nothing written for a NULL box, buffer or
// *puiWritten; 1 after a wrong magic or length (with the message) or when everything
// was written; 0 when the buffer could not hold the report (what fitted stays).
uint32_t ukoSystimeChangeBoxShow(uint32_t uiUnused, const void* pBox, uint32_t uiBoxLen,
                                 char* pcBuf, uint32_t uiBufSize, uint32_t* puiWritten);
// Prints why the box is not shown (switch off, or no reserved segment); 0.
uint32_t ukoSystimeChangeBoxSwitchShow(uint32_t uiTarget);

// What ukoSystimeTickUpdate has gathered.
constexpr uint32_t UKO_SYSTIME_GAP_RING = 10;
struct UKO_SYSTIME_TICK_GAP_STAT {
    uint32_t uiReadings;                     // tick updates so far
    uint64_t uvPrevious;                     // the previous CPU-tick reading
    uint64_t uvMaxGap;                       // the largest gap between two readings
    UKO_Systime stMaxGapTime;                // UKO_SystimeGet when it was seen
    uint64_t auvRing[UKO_SYSTIME_GAP_RING];  // the last gaps while the box switch is on
    uint32_t uiRingNext;                     // next ring index, 0 to 9
};
void ukoSystimeTickGapStatGet(UKO_SYSTIME_TICK_GAP_STAT* pstStat);

// ---- Test seams ------------------------------------------------------------------------
// The OS clock reader used by ukoSystimeFromOs and Jqrs_MsNowUtc8Get (OSAL_SysTimeGet
// unless replaced; NULL restores it).
typedef uint32_t (*UKO_SYSTIME_OS_READ_PF)(UKO_Systime* pstTime);
void ukoSystimeOsReaderSet(UKO_SYSTIME_OS_READ_PF pfnReader);
// The CPU tick reader of the box and the tick update (OS_CpuTickGet unless replaced;
// NULL restores it).
typedef void (*UKO_SYSTIME_CPUTICK_READ_PF)(uint32_t* puiLow, uint32_t* puiHigh);
void ukoSystimeCpuTickReaderSet(UKO_SYSTIME_CPUTICK_READ_PF pfnReader);
// The printer of the commands and shows (UKO_ShowPrint unless replaced; NULL restores it).
typedef uint32_t (*UKO_SYSTIME_PRINT_PF)(uint32_t uiTarget, const char* format, ...);
void ukoSystimePrinterSet(UKO_SYSTIME_PRINT_PF pfnPrinter);
// Writes one of the three records directly (0 system, 1 LMT, 2 local), as the
// time-zone package keeps the latter two: 0, or 22.
uint32_t ukoSystimeRecordWrite(uint32_t uiType, const UKO_Systime* pstTime);
// Back to the process-start state: records, start record, hooks, switches, box
// location, tick-gap statistics and the readers.
void ukoSystimeReset();
