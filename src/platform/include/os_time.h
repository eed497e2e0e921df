#pragma once
// The OS layer's share of time keeping: the tick configuration every time-based module
// reads, calendar arithmetic on the platform's date/time record, the OS system time,
// raw reads of the CPU tick counter, and the OS task services this platform answers
// with a constant or a "not supported" notice.

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

// ---- Tick configuration ------------------------------------------------------------
// 100 ticks per second, so 10 milliseconds per tick. The platform start-up's first step,
// since every time-based module reads it: 0, or 22 when the ticks per second fall
// outside 1 to 1000.
uint32_t OS_TickConfigInit(uint32_t uiUnused);

// The configuration in force. Both read the fixed values even before the start-up has
// set them, so an early reader never divides by zero.
uint32_t OS_TickPerSecGet();
uint32_t OS_MsPerTickGet();

// Test seam: runs the configuration step with another rate, so the readers' arithmetic
// can be checked at rates other than 100. 0, or 22 (configuration left unchanged) for a
// rate outside 1 to 1000. OS_TickConfigInit puts the fixed rate back.
uint32_t ukoTickConfigSet(uint32_t uiTicksPerSec);

// ---- Date/time record ----------------------------------------------------------------
// Leap years everywhere: divisible by 4 and not by 100, or divisible by 400.
struct UKO_Systime {
    uint16_t usYear;     // 1970 and later
    uint8_t ucMonth;     // 1-12
    uint8_t ucDate;      // day of the month, 1-31
    uint8_t ucHour;      // 0-23
    uint8_t ucMinute;    // 0-59
    uint8_t ucSecond;    // 0-59
    uint8_t ucWeek;      // 0 Sunday to 6 Saturday
    uint32_t uiMillSec;  // 0-999
};
static_assert(sizeof(UKO_Systime) == 12, "the date/time record is 12 bytes");
static_assert(offsetof(UKO_Systime, ucMonth) == 2 && offsetof(UKO_Systime, ucWeek) == 7 &&
                  offsetof(UKO_Systime, uiMillSec) == 8,
              "date/time record layout");

// ---- Calendar arithmetic ---------------------------------------------------------------
// None of these validates the record: out-of-range fields are simply counted. A NULL
// record is ignored (nothing written; 22 where there is a result code).

// Seconds since 1970-01-01 00:00:00 to year..second; week day and milliseconds 0.
void OS_SecToDate(uint32_t uiSec, UKO_Systime* pstTime);
// Seconds since 1970 as a 64-bit value in two halves; 0. Milliseconds and week day
// are not read.
uint32_t OS_DateToSec(const UKO_Systime* pstTime, uint32_t* puiSecHigh, uint32_t* puiSecLow);
// Seconds since 1970 by the closed day formula, as unsigned 32-bit (wraps after
// 2106-02-07 06:28:15).
uint32_t OS_DateToSec32(const UKO_Systime* pstTime);
// Days in the month; 255 for month 0 or above 12.
uint8_t OS_DaysInMonthGet(uint16_t usYear, uint8_t ucMonth);
// Writes the day of the week of the record's date into the record; 0.
uint32_t OS_WeekDayCalc(UKO_Systime* pstTime);
// Whole milliseconds from pstEarlier to pstLater, truncated to 32 bits; a later value
// that lies before the earlier one gives 0. Returns puiDiffMs.
uint32_t* OS_TimespecDiffMs(uint32_t* puiDiffMs, const struct timespec* pstLater,
                            const struct timespec* pstEarlier);

// ---- OS system time --------------------------------------------------------------------
// UTC through the OS clock. Get: 0, gettimeofday's result, or 22 for a NULL record;
// the week day stays 0. Set: 0, the setter's non-zero result, or 22 for a NULL record.
uint32_t OSAL_SysTimeGet(UKO_Systime* pstTime);
uint32_t OSAL_SysTimeSet(const UKO_Systime* pstTime);
// Local time (daylight saving included). Get: 0, or 22 (NULL record, a clock reading
// of 0, or the conversion failing); milliseconds 0, the week day left as it was.
// Set: 0, or 22 (NULL record, a time that cannot be converted, the setter failing).
uint32_t OSAL_LocalTimeGet(UKO_Systime* pstTime);
uint32_t OSAL_LocalTimeSet(const UKO_Systime* pstTime);

// Reader hooks: fill a date/time record and return a code. Setters return 0. The
// readers return the hook's result, or clear the record and return 0 without a hook.
typedef uint32_t (*OS_TIME_READ_HOOK_PF)(UKO_Systime* pstTime);
uint32_t OS_TimeRead1HookSet(OS_TIME_READ_HOOK_PF pfnHook);
uint32_t OS_TimeRead2HookSet(OS_TIME_READ_HOOK_PF pfnHook);
uint32_t OS_TimeRead1(UKO_Systime* pstTime);
uint32_t OS_TimeRead2(UKO_Systime* pstTime);

// Test seam: the operation that sets the OS clock (settimeofday by default). Tests put
// a recording fake here so they never move the machine's clock; NULL restores it.
typedef int (*OS_CLOCK_SETTER_PF)(const struct timeval* pstTv);
void ukoOsClockSetterSet(OS_CLOCK_SETTER_PF pfnSetter);

// ---- CPU tick counter reads ------------------------------------------------------------
// The counter is CLOCK_MONOTONIC in nanoseconds, 64 bits, handed out as low and high
// 32-bit words. A NULL word pointer reads nothing.
void OS_CpuTickGet(uint32_t* puiLow, uint32_t* puiHigh);
void OS_CpuTickRead(uint32_t* puiLow, uint32_t* puiHigh);
void OS_CpuTickGetIfValid(uint32_t* puiLow, uint32_t* puiHigh);
// Stores one reading, under the CPU-tick lock, in a process-wide pair nothing reads.
// The unlock result; 22 when the CPU-tick lock has not been made yet (OSAL_CpuTickInit
// makes it).
uint32_t OS_CpuTickSnapshot();

// Test seam: replaces the counter (NULL puts CLOCK_MONOTONIC back).
typedef uint64_t (*OS_CPUTICK_COUNTER_PF)();
void ukoCpuTickCounterSet(OS_CPUTICK_COUNTER_PF pfnCounter);

// ---- OS task services of this platform -------------------------------------------------
// The OS thread keeps no name; 0.
uint32_t OS_TaskNameSet(const char* pcName);
// Not supported here: each prints a notice to standard error; the first two return 0.
uint32_t UKO_TaskRunTimeGet();
uint32_t UKO_TaskRunTimeReset();
void UKO_CpuBindSwitchSet(uint32_t uiUnused1, uint32_t uiUnused2);
void ukoCputickBindCoreInit();
