#include "os_time.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>

#include "os_time_inner.h"
#include "uko_errcode.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kTicksPerSecond = 100;
constexpr uint32_t kMaxTicksPerSecond = 1000;

// The configuration is written during start-up and read by every task afterwards.
// It starts at the fixed values rather than 0 so that a module read before the start-up
// divides by the real tick length instead of by zero.
std::atomic<uint32_t> g_ticksPerSec{kTicksPerSecond};
std::atomic<uint32_t> g_msPerTick{1000 / kTicksPerSecond};

constexpr uint8_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsLeapYear(uint32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::atomic<OS_TIME_READ_HOOK_PF> g_timeRead1Hook{nullptr};
std::atomic<OS_TIME_READ_HOOK_PF> g_timeRead2Hook{nullptr};

int SetClockBySystem(const struct timeval* pstTv) { return settimeofday(pstTv, nullptr); }
std::atomic<OS_CLOCK_SETTER_PF> g_clockSetter{SetClockBySystem};

// The last counter snapshot; written under the CPU-tick lock, read by nobody.
uint32_t g_snapshotLow = 0;
uint32_t g_snapshotHigh = 0;

// The CPU tick counter: CLOCK_MONOTONIC in nanoseconds unless a test replaces it.
uint64_t MonotonicNs() {
    struct timespec ts {};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}
std::atomic<OS_CPUTICK_COUNTER_PF> g_counter{MonotonicNs};

// The CPU-tick lock lives beside the snapshot it guards; the CPU tick's start makes it.
pthread_mutex_t g_cpuTickLock;
std::atomic<bool> g_cpuTickLockMade{false};

uint32_t ReadHookOrClear(OS_TIME_READ_HOOK_PF pfnHook, UKO_Systime* pstTime) {
    if (pfnHook != nullptr) {
        return pfnHook(pstTime);
    }
    (void)UKO_memset_s(pstTime, sizeof(UKO_Systime), 0, sizeof(UKO_Systime));
    return 0;
}

}  // namespace

// ---- Tick configuration ------------------------------------------------------------

uint32_t ukoTickConfigSet(uint32_t uiTicksPerSec) {
    // A refused rate leaves the configuration as it was: every reader divides by it.
    if (uiTicksPerSec == 0 || uiTicksPerSec > kMaxTicksPerSecond) {
        return UKO_EINVAL;
    }
    g_ticksPerSec.store(uiTicksPerSec, std::memory_order_relaxed);
    g_msPerTick.store(1000 / uiTicksPerSec, std::memory_order_relaxed);
    return 0;
}

uint32_t OS_TickConfigInit(uint32_t /*uiUnused*/) { return ukoTickConfigSet(kTicksPerSecond); }

uint32_t OS_TickPerSecGet() { return g_ticksPerSec.load(std::memory_order_relaxed); }

uint32_t OS_MsPerTickGet() { return g_msPerTick.load(std::memory_order_relaxed); }

// ---- Calendar arithmetic ---------------------------------------------------------------

void OS_SecToDate(uint32_t uiSec, UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return;
    }
    pstTime->ucSecond = static_cast<uint8_t>(uiSec % 60);
    pstTime->ucMinute = static_cast<uint8_t>((uiSec / 60) % 60);
    pstTime->ucHour = static_cast<uint8_t>((uiSec / 3600) % 24);
    const uint32_t days = uiSec / 86400;

    // Civil date of a day count, without walking the years. The count is moved to an
    // origin on 1 March of year 0, so that the leap day is the last day of its year and
    // the month lengths from March on repeat in a five-month pattern of 153 days. A
    // 400-year era holds 146097 days; inside it the year follows from the 4-, 100- and
    // 400-year corrections, the month and day from the pattern. Every division is by a
    // constant. Ranges: day of the era 0 to 146096, year of the era 0 to 399, day of
    // the year 0 to 365, month counted from March 0 to 11, day of the month 0 to 30.
    const uint32_t z = days + 719468;  // 0000-03-01 to 1970-01-01
    const uint32_t era = z / 146097;
    const uint32_t dayOfEra = z - era * 146097;
    const uint32_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint32_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const uint32_t day = dayOfYear - (153 * monthFromMarch + 2) / 5;
    const uint32_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const uint32_t year = era * 400 + yearOfEra + (month <= 2 ? 1 : 0);

    pstTime->usYear = static_cast<uint16_t>(year);
    pstTime->ucMonth = static_cast<uint8_t>(month);
    pstTime->ucDate = static_cast<uint8_t>(day + 1);
    pstTime->ucWeek = 0;
    pstTime->uiMillSec = 0;
}

uint32_t OS_DateToSec(const UKO_Systime* pstTime, uint32_t* puiSecHigh, uint32_t* puiSecLow) {
    if (pstTime == nullptr || puiSecHigh == nullptr || puiSecLow == nullptr) {
        return UKO_EINVAL;
    }
    // The leap day of the record's own year counts only once February is over.
    uint32_t days = (IsLeapYear(pstTime->usYear) && pstTime->ucMonth > 2) ? 1 : 0;
    for (uint32_t year = 1970; year < pstTime->usYear; ++year) {
        days += IsLeapYear(year) ? 366 : 365;
    }
    for (uint32_t month = 1; month < pstTime->ucMonth && month <= 12; ++month) {
        days += kMonthDays[month - 1];
    }
    days += static_cast<uint32_t>(pstTime->ucDate) - 1;

    // Minutes exceed 32 bits from the year 10136 on, which a valid record may hold, so
    // the count is carried in 64 bits all the way.
    uint64_t minutes =
        (static_cast<uint64_t>(days) * 24 + pstTime->ucHour) * 60 + pstTime->ucMinute;
    uint64_t seconds = minutes * 60 + pstTime->ucSecond;
    *puiSecHigh = static_cast<uint32_t>(seconds >> 32);
    *puiSecLow = static_cast<uint32_t>(seconds);
    return 0;
}

uint32_t OS_DateToSec32(const UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return 0;
    }
    // Count the year from March so that the leap day falls at its end and the days
    // before each month follow the closed form 367 * m / 12.
    int64_t month = static_cast<int64_t>(pstTime->ucMonth) - 2;
    int64_t year = pstTime->usYear;
    if (month <= 0) {
        month += 12;
        year -= 1;
    }
    int64_t days = year / 4 - year / 100 + year / 400 + 367 * month / 12 + pstTime->ucDate +
                   year * 365 - 719499;
    int64_t seconds = ((days * 24 + pstTime->ucHour) * 60 + pstTime->ucMinute) * 60 +
                      pstTime->ucSecond;
    return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

uint8_t OS_DaysInMonthGet(uint16_t usYear, uint8_t ucMonth) {
    switch (ucMonth) {
        case 1: case 3: case 5: case 7: case 8: case 10: case 12:
            return 31;
        case 4: case 6: case 9: case 11:
            return 30;
        case 2:
            return IsLeapYear(usYear) ? 29 : 28;
        default:
            return 255;
    }
}

uint32_t OS_WeekDayCalc(UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return UKO_EINVAL;
    }
    // Zeller's congruence with Sunday as 0; January and February count as months 13
    // and 14 of the year before.
    int32_t year = pstTime->usYear;
    int32_t month = pstTime->ucMonth;
    int32_t day = pstTime->ucDate;
    if (month < 3) {
        month += 12;
        year -= 1;
    }
    int32_t century = year / 100;
    int32_t yearOfCentury = year % 100;
    int32_t week = (yearOfCentury + yearOfCentury / 4 + century / 4 - 2 * century +
                    26 * (month + 1) / 10 + day - 1) % 7;
    if (week < 0) {
        week += 7;
    }
    pstTime->ucWeek = static_cast<uint8_t>(week);
    return 0;
}

uint32_t* OS_TimespecDiffMs(uint32_t* puiDiffMs, const struct timespec* pstLater,
                            const struct timespec* pstEarlier) {
    if (puiDiffMs == nullptr || pstLater == nullptr || pstEarlier == nullptr) {
        return puiDiffMs;
    }
    __int128 seconds = static_cast<__int128>(pstLater->tv_sec) - pstEarlier->tv_sec;
    __int128 nanoseconds;
    if (pstLater->tv_nsec < pstEarlier->tv_nsec) {
        seconds -= 1;
        nanoseconds = static_cast<__int128>(1000000000) - pstEarlier->tv_nsec + pstLater->tv_nsec;
    } else {
        nanoseconds = static_cast<__int128>(pstLater->tv_nsec) - pstEarlier->tv_nsec;
    }
    __int128 total = seconds * 1000000000 + nanoseconds;
    // Times given the wrong way round would otherwise wrap to a huge unsigned count
    // and come out as an arbitrary number of milliseconds.
    if (total < 0) {
        *puiDiffMs = 0;
        return puiDiffMs;
    }
    *puiDiffMs = static_cast<uint32_t>(static_cast<uint64_t>(total) / 1000000);
    return puiDiffMs;
}

// ---- OS system time --------------------------------------------------------------------

uint32_t OSAL_SysTimeGet(UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return UKO_EINVAL;
    }
    struct timeval tv {};
    int rc = gettimeofday(&tv, nullptr);
    if (rc != 0) {
        return static_cast<uint32_t>(rc);
    }
    OS_SecToDate(static_cast<uint32_t>(tv.tv_sec), pstTime);
    pstTime->uiMillSec = static_cast<uint32_t>(tv.tv_usec / 1000);
    return 0;
}

uint32_t OSAL_SysTimeSet(const UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return UKO_EINVAL;
    }
    struct timeval tv {};
    tv.tv_sec = static_cast<time_t>(OS_DateToSec32(pstTime));
    // Widened so that an oversized millisecond field reaches the OS as the invalid
    // value it is instead of wrapping into a plausible one.
    tv.tv_usec = static_cast<suseconds_t>(static_cast<int64_t>(pstTime->uiMillSec) * 1000);
    int rc = g_clockSetter.load(std::memory_order_acquire)(&tv);
    return static_cast<uint32_t>(rc);
}

uint32_t OSAL_LocalTimeGet(UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return UKO_EINVAL;
    }
    tzset();
    time_t now = time(nullptr);
    if (now == 0 || now == static_cast<time_t>(-1)) {
        return UKO_EINVAL;
    }
    // The zone's rules decide the offset for this very moment, daylight saving
    // included; a fixed offset from the standard zone would be an hour off in summer.
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) {
        return UKO_EINVAL;
    }
    pstTime->usYear = static_cast<uint16_t>(local.tm_year + 1900);
    pstTime->ucMonth = static_cast<uint8_t>(local.tm_mon + 1);
    pstTime->ucDate = static_cast<uint8_t>(local.tm_mday);
    pstTime->ucHour = static_cast<uint8_t>(local.tm_hour);
    pstTime->ucMinute = static_cast<uint8_t>(local.tm_min);
    pstTime->ucSecond = static_cast<uint8_t>(local.tm_sec);
    pstTime->uiMillSec = 0;
    return 0;
}

uint32_t OSAL_LocalTimeSet(const UKO_Systime* pstTime) {
    if (pstTime == nullptr) {
        return UKO_EINVAL;
    }
    struct tm local {};
    local.tm_year = static_cast<int>(pstTime->usYear) - 1900;
    local.tm_mon = static_cast<int>(pstTime->ucMonth) - 1;
    local.tm_mday = pstTime->ucDate;
    local.tm_hour = pstTime->ucHour;
    local.tm_min = pstTime->ucMinute;
    local.tm_sec = pstTime->ucSecond;
    // Let the zone's rules decide whether daylight saving applies on that date.
    local.tm_isdst = -1;
    time_t seconds = mktime(&local);
    if (seconds == static_cast<time_t>(-1)) {
        return UKO_EINVAL;
    }
    struct timeval tv {};
    tv.tv_sec = seconds;
    tv.tv_usec = 0;
    return g_clockSetter.load(std::memory_order_acquire)(&tv) == 0 ? 0 : UKO_EINVAL;
}

void ukoOsClockSetterSet(OS_CLOCK_SETTER_PF pfnSetter) {
    g_clockSetter.store(pfnSetter != nullptr ? pfnSetter : SetClockBySystem,
                        std::memory_order_release);
}

uint32_t OS_TimeRead1HookSet(OS_TIME_READ_HOOK_PF pfnHook) {
    g_timeRead1Hook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t OS_TimeRead2HookSet(OS_TIME_READ_HOOK_PF pfnHook) {
    g_timeRead2Hook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t OS_TimeRead1(UKO_Systime* pstTime) {
    return ReadHookOrClear(g_timeRead1Hook.load(std::memory_order_acquire), pstTime);
}

uint32_t OS_TimeRead2(UKO_Systime* pstTime) {
    return ReadHookOrClear(g_timeRead2Hook.load(std::memory_order_acquire), pstTime);
}

// ---- CPU tick counter reads ------------------------------------------------------------

void OS_CpuTickGet(uint32_t* puiLow, uint32_t* puiHigh) {
    if (puiLow == nullptr || puiHigh == nullptr) {
        return;
    }
    uint64_t counter = g_counter.load(std::memory_order_acquire)();
    *puiLow = static_cast<uint32_t>(counter);
    *puiHigh = static_cast<uint32_t>(counter >> 32);
}

void OS_CpuTickRead(uint32_t* puiLow, uint32_t* puiHigh) {
    if (puiLow == nullptr || puiHigh == nullptr) {
        return;
    }
    OS_CpuTickGet(puiLow, puiHigh);
}

void OS_CpuTickGetIfValid(uint32_t* puiLow, uint32_t* puiHigh) { OS_CpuTickRead(puiLow, puiHigh); }

uint32_t OS_CpuTickSnapshot() {
    if (!g_cpuTickLockMade.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    (void)pthread_mutex_lock(&g_cpuTickLock);
    OS_CpuTickGet(&g_snapshotLow, &g_snapshotHigh);
    return static_cast<uint32_t>(pthread_mutex_unlock(&g_cpuTickLock));
}

int ukoCpuTickLockCreate() {
    // Made once: making a mutex again while another thread may hold it is undefined.
    if (g_cpuTickLockMade.load(std::memory_order_acquire)) {
        return 0;
    }
    int rc = pthread_mutex_init(&g_cpuTickLock, nullptr);
    if (rc == 0) {
        g_cpuTickLockMade.store(true, std::memory_order_release);
    }
    return rc;
}

void ukoCpuTickCounterSet(OS_CPUTICK_COUNTER_PF pfnCounter) {
    g_counter.store(pfnCounter != nullptr ? pfnCounter : MonotonicNs, std::memory_order_release);
}

// ---- OS task services of this platform -------------------------------------------------
// Standard output belongs to native messaging; these notices go to standard error.

uint32_t OS_TaskNameSet(const char* /*pcName*/) { return 0; }

uint32_t UKO_TaskRunTimeGet() {
    fprintf(stderr, "\r\nSorry, MAC don't support. %s %d !\r\n", "UKO_TaskRunTimeGet", 824);
    return 0;
}

uint32_t UKO_TaskRunTimeReset() {
    fprintf(stderr, "\r\nSorry, MAC don't support. %s %d !\r\n", "UKO_TaskRunTimeReset", 839);
    return 0;
}

void UKO_CpuBindSwitchSet(uint32_t /*uiUnused1*/, uint32_t /*uiUnused2*/) {
    fprintf(stderr, "\r\nSorry, TULM don't support. %s %d !\r\n", "UKO_CpuBindSwitchSet", 56);
}

void ukoCputickBindCoreInit() {
    fprintf(stderr, "\r\nSorry, TULM don't support. %s %d !\r\n", "ukoCputickBindCoreInit", 75);
}
