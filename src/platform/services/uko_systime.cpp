// System time. Three date/time records under one lock, none of which advances by
// itself: the system time that callers set, and the LMT and local times that a
// time-zone package derives and keeps through hooks. Around them, the calendar
// arithmetic on UKO_Systime, the commands that copy the time to and from the OS clock,
// the change-reserve box and the gaps between CPU-tick readings.

#include "uko_systime_inner.h"

#include <pthread.h>

#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_errreport.h"
#include "uko_math64.h"
#include "uko_string.h"

// Switched by the integrator; read by the tick update from any task.
std::atomic<uint32_t> UKO_SYSTIME_CHANGE_BOX_SWITCH{0};
std::atomic<uint32_t> UKO_SYSTIME_SEGMENT_NUM{0};

namespace {

#define SYSTIME_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_SYSTIME, __VA_ARGS__)

constexpr uint32_t kTypeSys = 0;
constexpr uint32_t kTypeLmt = 1;
constexpr uint32_t kTypeLocal = 2;
constexpr uint32_t kTypeNum = 3;
constexpr uint32_t kSetSource = 1;  // notification source of every set in this module
constexpr uint16_t kMinYear = 1970;
constexpr uint16_t kMaxYear = 0xFFFF;
constexpr uint32_t kSecPerDay = 86400;
constexpr uint32_t kStrMax = 20;    // bytes of UKO_Systime2Str's text, terminator included
constexpr uint32_t kParseLen = 19;  // "YYYY-MM-DD/hh:mm:ss"
constexpr uint32_t kBoxMinLen = sizeof(UKO_SystimeChangeBox);

const char kStars80[] =
    "********************************************************************************";
const char kStars60[] = "************************************************************";
static_assert(sizeof(kStars80) == 81 && sizeof(kStars60) == 61, "frame widths");

const char kNullSystime[] = "[ZIRPA-%s]:The Param pstSystime is null.";
const char kInvalPair[] = "[ZIRPA-%s]:Inval Param pstFirstSystime(0x%p), pstSecondSystime(0x%p).";

// The three records and the start record. The lock is recursive, so a derive or state
// hook that reads the time from inside the set sequence does not block itself; it
// exists from process start because the module has no start-up step.
pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
UKO_Systime g_records[kTypeNum] = {};
UKO_Systime g_startRecord = {};

std::atomic<UKO_SYSTIME_LMT_DERIVE_HOOK_PF> g_lmtDeriveHook{nullptr};
std::atomic<UKO_SYSTIME_LOCAL_DERIVE_HOOK_PF> g_localDeriveHook{nullptr};
std::atomic<UKO_SYSTIME_TO_SYS_HOOK_PF> g_lmtToSysHook{nullptr};
std::atomic<UKO_SYSTIME_TO_SYS_HOOK_PF> g_localToSysHook{nullptr};
std::atomic<UKO_SYSTIME_STATE_HOOK_PF> g_stateHook{nullptr};
std::atomic<UKO_SYSTIME_CHANGE_HOOK_PF> g_changeHook{nullptr};
std::atomic<UKO_SYSTIME_NOTIFY_HOOK_PF> g_notifyHook{nullptr};
std::atomic<UKO_SYSTIME_NOTIFY_HOOK2_PF> g_notifyHook2{nullptr};

void CpuTickByOs(uint32_t* puiLow, uint32_t* puiHigh) { OS_CpuTickGet(puiLow, puiHigh); }

std::atomic<UKO_SYSTIME_OS_READ_PF> g_osReader{OSAL_SysTimeGet};
std::atomic<UKO_SYSTIME_CPUTICK_READ_PF> g_cpuTickReader{CpuTickByOs};
std::atomic<UKO_SYSTIME_PRINT_PF> g_printer{UKO_ShowPrint};

// Tick-gap statistics and the box's last CPU tick, under their own lock.
pthread_mutex_t g_statLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
bool g_havePrevious = false;
UKO_SYSTIME_TICK_GAP_STAT g_gapStat = {};
std::atomic<UKO_SystimeChangeBox*> g_box{nullptr};
std::atomic<uint32_t> g_boxTickSwitch{0};

struct Locked {
    explicit Locked(pthread_mutex_t* pLock) : lock(pLock) { (void)OSAL_LockLock(lock); }
    ~Locked() { (void)OSAL_LockUnLock(lock, 0); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    pthread_mutex_t* lock;
};

UKO_Systime RecordCopy(uint32_t uiType) {
    Locked guard(&g_lock);
    return g_records[uiType];
}

uint64_t CpuTickNow() {
    uint32_t low = 0;
    uint32_t high = 0;
    g_cpuTickReader.load(std::memory_order_acquire)(&low, &high);
    return (static_cast<uint64_t>(high) << 32) | low;
}

bool IsLeap(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days of a month as the calendar arithmetic counts them: 255 for a month outside
// 1 to 12, so a loop over such a month ends at once.
uint32_t MonthDays(uint32_t year, uint32_t month) {
    return OS_DaysInMonthGet(static_cast<uint16_t>(year), static_cast<uint8_t>(month));
}

bool DateValid(const UKO_Systime& t) {
    return t.usYear >= kMinYear && t.ucMonth >= 1 && t.ucMonth <= 12 && t.ucDate >= 1 &&
           t.ucDate <= MonthDays(t.usYear, t.ucMonth);
}

bool RangesValid(const UKO_Systime& t) {
    return t.usYear >= kMinYear && t.ucDate >= 1 && t.ucDate <= 31 && t.ucMonth >= 1 &&
           t.ucMonth <= 12 && t.ucHour < 24 && t.ucMinute < 60 && t.ucSecond < 60 &&
           t.uiMillSec <= 999;
}

bool Valid(const UKO_Systime& t) {
    return RangesValid(t) && t.ucDate <= MonthDays(t.usYear, t.ucMonth);
}

// Days from 1970-01-01 to the date; the record's date must be valid.
uint32_t DaysSince1970(const UKO_Systime& t) {
    uint32_t days = (IsLeap(t.usYear) && t.ucMonth > 2) ? 1 : 0;
    for (uint32_t year = kMinYear; year < t.usYear; ++year) {
        days += IsLeap(year) ? 366 : 365;
    }
    for (uint32_t month = 1; month < t.ucMonth; ++month) {
        days += MonthDays(1970, month);  // a common year: February as 28
    }
    return days + t.ucDate - 1;
}

uint32_t SecondsOfDay(const UKO_Systime& t) {
    return static_cast<uint32_t>(t.ucHour) * 3600 + static_cast<uint32_t>(t.ucMinute) * 60 +
           t.ucSecond;
}

// Both records valid: 1 first earlier, 2 equal, 3 first later. Dates compare by
// year, month and day, then times by hour, minute, second and milliseconds.
uint32_t CompareValid(const UKO_Systime& a, const UKO_Systime& b) {
    uint32_t dateA = (static_cast<uint32_t>(a.usYear) << 16) | (a.ucMonth << 8) | a.ucDate;
    uint32_t dateB = (static_cast<uint32_t>(b.usYear) << 16) | (b.ucMonth << 8) | b.ucDate;
    if (dateA != dateB) {
        return dateA < dateB ? 1 : 3;
    }
    uint32_t timeA = (static_cast<uint32_t>(a.ucHour) << 26) |
                     (static_cast<uint32_t>(a.ucMinute) << 20) |
                     (static_cast<uint32_t>(a.ucSecond) << 14) | a.uiMillSec;
    uint32_t timeB = (static_cast<uint32_t>(b.ucHour) << 26) |
                     (static_cast<uint32_t>(b.ucMinute) << 20) |
                     (static_cast<uint32_t>(b.ucSecond) << 14) | b.uiMillSec;
    if (timeA != timeB) {
        return timeA < timeB ? 1 : 3;
    }
    return 2;
}

// One calendar day forward or back. False when the year would leave 1970 to 65535:
// a 16-bit year must not wrap to 0, nor go below the epoch.
bool DayForward(UKO_Systime* pstTime) {
    uint32_t day = pstTime->ucDate + 1u;
    if (day <= MonthDays(pstTime->usYear, pstTime->ucMonth)) {
        pstTime->ucDate = static_cast<uint8_t>(day);
        return true;
    }
    pstTime->ucDate = 1;
    if (pstTime->ucMonth < 12) {
        ++pstTime->ucMonth;
        return true;
    }
    if (pstTime->usYear >= kMaxYear) {
        return false;
    }
    pstTime->ucMonth = 1;
    ++pstTime->usYear;
    return true;
}

bool DayBack(UKO_Systime* pstTime) {
    if (pstTime->ucDate > 1) {
        --pstTime->ucDate;
        return true;
    }
    if (pstTime->ucMonth > 1) {
        --pstTime->ucMonth;
        pstTime->ucDate = static_cast<uint8_t>(MonthDays(pstTime->usYear, pstTime->ucMonth));
        return true;
    }
    if (pstTime->usYear <= kMinYear) {
        return false;
    }
    --pstTime->usYear;
    pstTime->ucMonth = 12;
    pstTime->ucDate = 31;
    return true;
}

// Milliseconds of a date and time counted linearly from 1970-01-01, in 64 bits: the
// minutes alone pass 32 bits from the year 10136 on. No field is validated; months
// beyond December count as December so that the month table is never overrun.
uint64_t LinearMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                  uint32_t second, uint32_t millSec) {
    int64_t days = (IsLeap(year) && month > 2) ? 1 : 0;
    for (uint32_t y = kMinYear; y < year; ++y) {
        days += IsLeap(y) ? 366 : 365;
    }
    for (uint32_t m = 1; m < month && m <= 12; ++m) {
        days += MonthDays(1970, m);
    }
    days += static_cast<int64_t>(day) - 1;
    int64_t minutes = (days * 24 + hour) * 60 + minute;
    return static_cast<uint64_t>(minutes * 60000 + static_cast<int64_t>(second) * 1000 + millSec);
}

void Split64(uint64_t value, uint32_t* puiHigh, uint32_t* puiLow) {
    *puiHigh = static_cast<uint32_t>(value >> 32);
    *puiLow = static_cast<uint32_t>(value);
}

// The set sequence shared by UKO_SystimeSet, the set command and the copy from the OS
// clock: derive the LMT and local times, store, then notify. A derive hook's refusal
// cancels everything before anything is stored.
uint32_t SetSequence(const UKO_Systime* pstNew, uint32_t uiSource) {
    if (ukoSystimeCheck(pstNew) == 0) {
        return UKO_EINVAL;
    }
    UKO_Systime next = *pstNew;
    UKO_Systime lmt = {};
    UKO_Systime local = {};
    uint64_t extra = 0;
    UKO_Systime oldSys;
    UKO_Systime oldLmt;
    UKO_Systime oldLocal;
    {
        Locked guard(&g_lock);
        oldSys = g_records[kTypeSys];
        oldLmt = g_records[kTypeLmt];
        oldLocal = g_records[kTypeLocal];
        UKO_SYSTIME_LMT_DERIVE_HOOK_PF lmtDerive = g_lmtDeriveHook.load(std::memory_order_acquire);
        if (lmtDerive != nullptr) {
            uint32_t rc = lmtDerive(&next, &lmt);
            if (rc != 0) {
                return rc;
            }
        }
        UKO_SYSTIME_LOCAL_DERIVE_HOOK_PF localDerive =
            g_localDeriveHook.load(std::memory_order_acquire);
        if (localDerive != nullptr) {
            uint32_t rc = localDerive(&next, &local, &extra);
            if (rc != 0) {
                return rc;
            }
        }
    }
    uint32_t rc = ukoSystimeApply(&next);
    if (rc != 0) {
        return rc;
    }
    UKO_SYSTIME_NOTIFY_HOOK_PF notify = g_notifyHook.load(std::memory_order_acquire);
    if (notify != nullptr) {
        notify(&oldSys, &next, uiSource, kTypeSys);
        notify(&oldLmt, &lmt, uiSource, kTypeLmt);
        notify(&oldLocal, &local, uiSource, kTypeLocal);
    }
    UKO_SYSTIME_NOTIFY_HOOK2_PF notify2 = g_notifyHook2.load(std::memory_order_acquire);
    if (notify2 != nullptr) {
        notify2(&oldSys, &next, 0);
    }
    return 0;
}

// The printer of commands and shows, and a framed block of lines.
template <typename... Args>
void Print(uint32_t uiTarget, const char* format, Args... args) {
    (void)g_printer.load(std::memory_order_acquire)(uiTarget, format, args...);
}
void Frame(uint32_t uiTarget, const char* pcStars) { Print(uiTarget, "\r\n%s", pcStars); }

// Appends formatted text to a caller's buffer, tracking what was used; once a piece
// does not fit, nothing more is appended and the text so far stays terminated.
class BufWriter {
public:
    BufWriter(char* pcBuf, uint32_t uiSize) : buf_(pcBuf), size_(uiSize) {}
    void Add(const char* format, ...) {
        if (!ok_ || used_ >= size_) {
            ok_ = false;
            return;
        }
        va_list args;
        va_start(args, format);
        int n = UKO_vsprintf_s(buf_ + used_, size_ - used_, format, args);
        va_end(args);
        if (n < 0) {
            buf_[used_] = '\0';
            ok_ = false;
            return;
        }
        used_ += static_cast<uint32_t>(n);
    }
    bool Ok() const { return ok_; }
    uint32_t Used() const { return used_; }

private:
    char* buf_;
    uint32_t size_;
    uint32_t used_ = 0;
    bool ok_ = true;
};

}  // namespace

// ---- Record arithmetic -------------------------------------------------------------------

uint32_t ukoSystimeCheck(const UKO_Systime* pstSysTime) {
    if (pstSysTime == nullptr) {
        return 0;
    }
    if (!RangesValid(*pstSysTime) ||
        pstSysTime->ucDate > MonthDays(pstSysTime->usYear, pstSysTime->ucMonth)) {
        (void)SYSTIME_REPORT(
            UKO_EINVAL, "[ZIRPA-%s]:Inval Param pSysTime : %d-%d-%d %d:%d:%d.%u.", __func__,
            static_cast<int>(pstSysTime->usYear), static_cast<int>(pstSysTime->ucMonth),
            static_cast<int>(pstSysTime->ucDate), static_cast<int>(pstSysTime->ucHour),
            static_cast<int>(pstSysTime->ucMinute), static_cast<int>(pstSysTime->ucSecond),
            pstSysTime->uiMillSec);
        return 0;
    }
    return 1;
}

uint32_t UKO_SystimeCheck(const UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        (void)SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pSysTime is null.", __func__);
        return 0;
    }
    return ukoSystimeCheck(pstSystime);
}

uint32_t ukoSystimeIsValid(const UKO_Systime* pstSysTime) {
    return pstSysTime != nullptr && Valid(*pstSysTime) ? 1 : 0;
}

uint32_t UKO_SystimeCompare(const UKO_Systime* pstFirstSystime,
                            const UKO_Systime* pstSecondSystime) {
    if (pstFirstSystime == nullptr || pstSecondSystime == nullptr) {
        (void)SYSTIME_REPORT(UKO_EINVAL, kInvalPair, __func__,
                             static_cast<const void*>(pstFirstSystime),
                             static_cast<const void*>(pstSecondSystime));
        return 0;
    }
    if (ukoSystimeCheck(pstFirstSystime) == 0 || ukoSystimeCheck(pstSecondSystime) == 0) {
        return 0;
    }
    return CompareValid(*pstFirstSystime, *pstSecondSystime);
}

uint32_t ukoSystimeCompareQuiet(const UKO_Systime* pstFirst, const UKO_Systime* pstSecond) {
    if (ukoSystimeIsValid(pstFirst) == 0 || ukoSystimeIsValid(pstSecond) == 0) {
        return 0;
    }
    return CompareValid(*pstFirst, *pstSecond);
}

uint32_t UKO_SystimeRelDayCal(const UKO_Systime* pstFirstSystime,
                              const UKO_Systime* pstSecondSystime) {
    if (pstFirstSystime == nullptr || pstSecondSystime == nullptr) {
        (void)SYSTIME_REPORT(UKO_EINVAL, kInvalPair, __func__,
                             static_cast<const void*>(pstFirstSystime),
                             static_cast<const void*>(pstSecondSystime));
        return 0xFFFFFFFF;
    }
    UKO_Systime first = *pstFirstSystime;
    UKO_Systime second = *pstSecondSystime;
    for (UKO_Systime* t : {&first, &second}) {
        t->ucHour = 0;
        t->ucMinute = 0;
        t->ucSecond = 0;
        t->uiMillSec = 0;
    }
    uint32_t order = UKO_SystimeCompare(&first, &second);
    if (order == 2) {
        return 0;
    }
    if (order != 3) {
        return 0xFFFFFFFF;
    }
    // The rest of the second date's month, then whole months and years, then the days
    // of the first date's own month.
    uint32_t days = MonthDays(second.usYear, second.ucMonth) - second.ucDate;
    if (first.usYear != second.usYear) {
        for (uint32_t m = second.ucMonth + 1u; m <= 12; ++m) {
            days += MonthDays(second.usYear, m);
        }
        for (uint32_t y = second.usYear + 1u; y < first.usYear; ++y) {
            days += IsLeap(y) ? 366 : 365;
        }
        for (uint32_t m = 1; m < first.ucMonth; ++m) {
            days += MonthDays(first.usYear, m);
        }
        return days + first.ucDate;
    }
    if (first.ucMonth != second.ucMonth) {
        for (uint32_t m = second.ucMonth + 1u; m < first.ucMonth; ++m) {
            days += MonthDays(first.usYear, m);
        }
        return days + first.ucDate;
    }
    return static_cast<uint32_t>(first.ucDate - second.ucDate);
}

uint32_t UKO_SystimeRelSecCal(const UKO_Systime* pstFirstSystime,
                              const UKO_Systime* pstSecondSystime, uint32_t* puiRelativeSec) {
    if (pstFirstSystime == nullptr || pstSecondSystime == nullptr || puiRelativeSec == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL,
                              "[ZIRPA-%s]:Inval Param pstFirstSystime(0x%p), "
                              "pstSecondSystime(0x%p), puiRelativeSec(0x%p).",
                              __func__, static_cast<const void*>(pstFirstSystime),
                              static_cast<const void*>(pstSecondSystime),
                              static_cast<const void*>(puiRelativeSec));
    }
    // A failure never leaves a stale or partial count behind for a caller that does not
    // look at the result.
    *puiRelativeSec = 0;
    if (ukoSystimeCheck(pstFirstSystime) == 0 || ukoSystimeCheck(pstSecondSystime) == 0) {
        return UKO_EINVAL;
    }
    UKO_Systime first = *pstFirstSystime;
    UKO_Systime second = *pstSecondSystime;
    first.uiMillSec = 0;
    second.uiMillSec = 0;
    uint32_t days = UKO_SystimeRelDayCal(&first, &second);
    if (days == 0xFFFFFFFF) {
        return SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:FirstSystime is less than SecondSystime.",
                              __func__);
    }
    uint32_t firstSec = SecondsOfDay(first);
    uint32_t secondSec = SecondsOfDay(second);
    if (days == 0 && secondSec > firstSec) {
        return SYSTIME_REPORT(
            UKO_EINVAL, "[ZIRPA-%s]:The pFirstTm is less than pSecondTm(just second).", __func__);
    }
    // Gaps of 136 years or more do not fit the 32-bit result: refused rather than
    // handed out wrapped.
    uint64_t gap = static_cast<uint64_t>(days) * kSecPerDay + firstSec - secondSec;
    if (gap > 0xFFFFFFFFull) {
        return SYSTIME_REPORT(UKO_EINVAL,
                              "[ZIRPA-%s]:The relative seconds of %u days exceed 32 bits.",
                              __func__, days);
    }
    *puiRelativeSec = static_cast<uint32_t>(gap);
    return 0;
}

uint32_t UKO_SystimeMsSince1970(const UKO_Systime* pstSystime, uint32_t* puiRetMillSecHigh,
                                uint32_t* puiRetMillSecLow) {
    if (pstSystime == nullptr || puiRetMillSecHigh == nullptr || puiRetMillSecLow == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL,
                              "[ZIRPA-%s]:Inval Param pstSystime(0x%p), puiRetMillSecHigh(0x%p), "
                              "puiRetMillSecLow(0x%p).",
                              __func__, static_cast<const void*>(pstSystime),
                              static_cast<void*>(puiRetMillSecHigh),
                              static_cast<void*>(puiRetMillSecLow));
    }
    if (ukoSystimeCheck(pstSystime) == 0) {
        return UKO_EINVAL;
    }
    uint64_t minutes =
        (static_cast<uint64_t>(DaysSince1970(*pstSystime)) * 24 + pstSystime->ucHour) * 60 +
        pstSystime->ucMinute;
    uint64_t ms = minutes * 60000 + static_cast<uint64_t>(pstSystime->ucSecond) * 1000 +
                  pstSystime->uiMillSec;
    Split64(ms, puiRetMillSecHigh, puiRetMillSecLow);
    return 0;
}

uint32_t UKO_SystimeSecSince1970(const UKO_Systime* pstSystime, uint32_t* puiRetSecHigh,
                                 uint32_t* puiRetSecLow) {
    if (pstSystime == nullptr || puiRetSecHigh == nullptr || puiRetSecLow == nullptr) {
        return SYSTIME_REPORT(
            UKO_EINVAL,
            "[ZIRPA-%s]:Inval Param pstSystime(0x%p), puiRetSecHigh(0x%p), puiRetSecLow(0x%p).",
            __func__, static_cast<const void*>(pstSystime), static_cast<void*>(puiRetSecHigh),
            static_cast<void*>(puiRetSecLow));
    }
    if (ukoSystimeCheck(pstSystime) == 0) {
        return UKO_EINVAL;
    }
    return OS_DateToSec(pstSystime, puiRetSecHigh, puiRetSecLow);
}

void UKO_SystimeSec2Time(uint32_t uiSeconds, UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        (void)SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pstSystime is NULL.", __func__);
        return;
    }
    OS_SecToDate(uiSeconds, pstSystime);
}

uint32_t UKO_SystimeWeekDayGet(UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, kNullSystime, __func__);
    }
    if (!DateValid(*pstSystime)) {
        return SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]: The Systime is invalid.", __func__);
    }
    return OS_WeekDayCalc(pstSystime);
}

uint32_t ukoSystimeWeekDayCalc(UKO_Systime* pstSystime) {
    if (pstSystime == nullptr || !DateValid(*pstSystime)) {
        return UKO_EINVAL;
    }
    return OS_WeekDayCalc(pstSystime);
}

uint8_t UKO_SystimeMaxDateGet(uint16_t usYear, uint8_t ucMonth) {
    if (usYear < kMinYear || ucMonth < 1 || ucMonth > 12) {
        (void)SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param usYear(%d), ucMonth(%d).",
                             __func__, static_cast<int>(usYear), static_cast<int>(ucMonth));
        return 255;
    }
    return OS_DaysInMonthGet(usYear, ucMonth);
}

uint32_t ukoSystimeDaysSince1970(const UKO_Systime* pstSystime) {
    if (pstSystime == nullptr || !DateValid(*pstSystime)) {
        return 0xFFFFFFFF;
    }
    return DaysSince1970(*pstSystime);
}

uint32_t UKO_Systime2Str(char* cpStrDT, const UKO_Systime* pstSystime) {
    if (cpStrDT == nullptr || pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param cpStrDT(0x%p), pstSystime(0x%p).",
                              __func__, static_cast<void*>(cpStrDT),
                              static_cast<const void*>(pstSystime));
    }
    // A five-digit year with two-digit fields needs 21 bytes: the text is refused
    // instead of reported as written.
    int n =
        UKO_sprintf_s(cpStrDT, kStrMax, "%d-%d-%d:%d-%d-%d", static_cast<int>(pstSystime->usYear),
                      static_cast<int>(pstSystime->ucMonth), static_cast<int>(pstSystime->ucDate),
                      static_cast<int>(pstSystime->ucHour), static_cast<int>(pstSystime->ucMinute),
                      static_cast<int>(pstSystime->ucSecond));
    if (n < 0) {
        return SYSTIME_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Print systime to text fail(%d).", __func__,
                              n);
    }
    return 0;
}

uint32_t ukoSystimeSecAdd(UKO_Systime* pstSystime, int32_t iSeconds) {
    if (pstSystime == nullptr) {
        return UKO_EINVAL;
    }
    if (iSeconds == 0) {
        return 0;
    }
    // Worked on a copy: a step that would leave the calendar leaves the caller's record
    // as it was.
    UKO_Systime t = *pstSystime;
    int64_t secOfDay = static_cast<int64_t>(SecondsOfDay(t)) + iSeconds;
    if (iSeconds > 0) {
        int64_t days = secOfDay / kSecPerDay;
        secOfDay %= kSecPerDay;
        for (int64_t i = 0; i < days; ++i) {
            if (!DayForward(&t)) {
                return UKO_EINVAL;
            }
        }
    } else {
        while (secOfDay < 0) {
            if (!DayBack(&t)) {
                return UKO_EINVAL;
            }
            secOfDay += kSecPerDay;
        }
    }
    t.ucHour = static_cast<uint8_t>(secOfDay / 3600);
    t.ucMinute = static_cast<uint8_t>((secOfDay / 60) % 60);
    t.ucSecond = static_cast<uint8_t>(secOfDay % 60);
    *pstSystime = t;
    return 0;
}

uint32_t UKO_SystimeMsAdd(UKO_Systime* pstSystime, uint32_t uiMillSec) {
    if (UKO_SystimeCheck(pstSystime) == 0) {
        return UKO_EINVAL;
    }
    UKO_Systime t = *pstSystime;
    uint32_t millSec = t.uiMillSec + uiMillSec % 1000;
    int32_t seconds = static_cast<int32_t>(uiMillSec / 1000);
    if (millSec >= 1000) {
        millSec -= 1000;
        seconds += 1;
    }
    t.uiMillSec = millSec;
    if (ukoSystimeSecAdd(&t, seconds) != 0) {
        return UKO_EINVAL;
    }
    uint32_t rc = UKO_SystimeWeekDayGet(&t);
    *pstSystime = t;
    return rc;
}

uint32_t UKO_SystimeMsSub(UKO_Systime* pstSystime, uint32_t uiMillSec) {
    if (UKO_SystimeCheck(pstSystime) == 0) {
        return UKO_EINVAL;
    }
    // Borrow a whole second first, so the milliseconds never go below 0.
    UKO_Systime t = *pstSystime;
    uint32_t millSec = t.uiMillSec + 1000 - uiMillSec % 1000;
    int32_t back = static_cast<int32_t>(uiMillSec / 1000);
    if (millSec >= 1000) {
        millSec -= 1000;
    } else {
        back += 1;
    }
    t.uiMillSec = millSec;
    if (ukoSystimeSecAdd(&t, -back) != 0) {
        return UKO_EINVAL;
    }
    uint32_t rc = UKO_SystimeWeekDayGet(&t);
    *pstSystime = t;
    return rc;
}

// ---- Time keeping -----------------------------------------------------------------------

uint32_t ukoSystimeApply(UKO_Systime* pstSystime) {
    uint32_t rc = UKO_SystimeWeekDayGet(pstSystime);
    if (rc != 0) {
        return rc;
    }
    (void)OSAL_LockLock(&g_lock);
    UKO_SYSTIME_CHANGE_HOOK_PF change = g_changeHook.load(std::memory_order_acquire);
    UKO_SYSTIME_STATE_HOOK_PF state = g_stateHook.load(std::memory_order_acquire);
    UKO_Systime before[kTypeNum];
    uint32_t stateBefore = 0;
    if (change != nullptr) {
        std::memcpy(before, g_records, sizeof(before));
        if (state != nullptr) {
            stateBefore = state(&before[kTypeLmt]);
        }
    }
    g_records[kTypeSys] = *pstSystime;
    if (change == nullptr) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return 0;
    }
    UKO_Systime after[kTypeNum];
    std::memcpy(after, g_records, sizeof(after));
    uint32_t flags = 0;
    if (state != nullptr) {
        uint32_t stateAfter = state(&after[kTypeLmt]);
        if (stateBefore != stateAfter) {
            flags = 2;
            if (stateAfter == 1) {
                flags |= 4;
            }
        }
    }
    // The hook may read the time itself; it runs with the lock released.
    (void)OSAL_LockUnLock(&g_lock, 0);
    change(&before[kTypeLmt], &after[kTypeLmt], &before[kTypeSys], &after[kTypeSys],
           &before[kTypeLocal], &after[kTypeLocal], flags);
    return 0;
}

uint32_t UKO_SystimeSet(const UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, kNullSystime, __func__);
    }
    return SetSequence(pstSystime, kSetSource);
}

uint32_t UKO_SystimeGet(UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, kNullSystime, __func__);
    }
    *pstSystime = RecordCopy(kTypeLmt);
    return 0;
}

uint32_t UKO_SystimeSysGet(UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, kNullSystime, __func__);
    }
    *pstSystime = RecordCopy(kTypeSys);
    return 0;
}

uint32_t ukoSystimeLocalGet(UKO_Systime* pstSystime) {
    if (pstSystime == nullptr) {
        return SYSTIME_REPORT(UKO_EINVAL, kNullSystime, __func__);
    }
    *pstSystime = RecordCopy(kTypeLocal);
    return 0;
}

uint32_t ukoGetSecsSince1970(uint32_t* puiSecHigh, uint32_t* puiSecLow) {
    UKO_Systime sys = RecordCopy(kTypeSys);
    return UKO_SystimeSecSince1970(&sys, puiSecHigh, puiSecLow);
}

uint32_t UKO_SystimeSecSince1970Get(uint32_t* puiTimeInSecHigh, uint32_t* puiTimeInSecLow) {
    if (puiTimeInSecHigh == nullptr || puiTimeInSecLow == nullptr) {
        return SYSTIME_REPORT(
            UKO_EINVAL, "[ZIRPA-%s]:Inval Param puiTimeInSecHigh(0x%p), puiTimeInSecLow(0x%p).",
            __func__, static_cast<void*>(puiTimeInSecHigh), static_cast<void*>(puiTimeInSecLow));
    }
    uint32_t rc = ukoGetSecsSince1970(puiTimeInSecHigh, puiTimeInSecLow);
    if (rc != 0) {
        return SYSTIME_REPORT(rc, "[ZIRPA-%s]:Fail to call ukoGetSecsSince1970.", __func__);
    }
    return 0;
}

// ---- Hooks ------------------------------------------------------------------------------

uint32_t UKO_SystimeLmtDeriveHookSet(UKO_SYSTIME_LMT_DERIVE_HOOK_PF pfnHook) {
    g_lmtDeriveHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeLocalDeriveHookSet(UKO_SYSTIME_LOCAL_DERIVE_HOOK_PF pfnHook) {
    g_localDeriveHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeLmtToSysHookSet(UKO_SYSTIME_TO_SYS_HOOK_PF pfnHook) {
    g_lmtToSysHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeLocalToSysHookSet(UKO_SYSTIME_TO_SYS_HOOK_PF pfnHook) {
    g_localToSysHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeStateHookSet(UKO_SYSTIME_STATE_HOOK_PF pfnHook) {
    g_stateHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeChangeHookSet(UKO_SYSTIME_CHANGE_HOOK_PF pfnHook) {
    g_changeHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SystimeNotifyHookSet(UKO_SYSTIME_NOTIFY_HOOK_PF pfnHook) {
    if (pfnHook != nullptr) {
        g_notifyHook.store(pfnHook, std::memory_order_release);
    }
    return 0;
}

uint32_t UKO_SystimeNotifyHook2Set(UKO_SYSTIME_NOTIFY_HOOK2_PF pfnHook) {
    g_notifyHook2.store(pfnHook, std::memory_order_release);
    return 0;
}

// ---- Commands and shows -----------------------------------------------------------------

uint32_t ukoSystimeStrParse(const char* pcText, UKO_Systime* pstSystime) {
    if (pcText == nullptr || pstSystime == nullptr ||
        UKO_SafeStrNLen(pcText, kParseLen) < kParseLen) {
        return UKO_EINVAL;
    }
    // Field start, width, and the separator that follows it.
    struct Field {
        uint32_t start;
        uint32_t width;
        char separator;
    };
    constexpr Field kFields[6] = {{0, 4, '-'},  {5, 2, '-'},  {8, 2, '/'},
                                  {11, 2, ':'}, {14, 2, ':'}, {17, 2, '\0'}};
    int32_t values[6] = {};
    for (uint32_t i = 0; i < 6; ++i) {
        const Field& f = kFields[i];
        char digits[5] = {};
        for (uint32_t k = 0; k < f.width; ++k) {
            char c = pcText[f.start + k];
            if (c < '0' || c > '9') {
                return UKO_EINVAL;
            }
            digits[k] = c;
        }
        if (f.separator != '\0' && pcText[f.start + f.width] != f.separator) {
            return UKO_EINVAL;
        }
        if (UKO_SafeStrToInt32(digits, &values[i]) != 0) {
            return UKO_EINVAL;
        }
    }
    UKO_Systime t = {};
    t.usYear = static_cast<uint16_t>(values[0]);
    t.ucMonth = static_cast<uint8_t>(values[1]);
    t.ucDate = static_cast<uint8_t>(values[2]);
    t.ucHour = static_cast<uint8_t>(values[3]);
    t.ucMinute = static_cast<uint8_t>(values[4]);
    t.ucSecond = static_cast<uint8_t>(values[5]);
    t.uiMillSec = 0;
    if (ukoSystimeCheck(&t) == 0) {
        return UKO_EINVAL;
    }
    (void)ukoSystimeWeekDayCalc(&t);
    *pstSystime = t;
    return 0;
}

uint32_t ukoSystimeSetCmd(uint32_t uiType, const char* pcText, uint32_t uiTarget) {
    Frame(uiTarget, kStars80);
    UKO_Systime parsed = {};
    uint32_t rc;
    if (ukoSystimeStrParse(pcText, &parsed) != 0) {
        Print(uiTarget, "\r\nset time to zirpa failed, for the time is invalid.");
        Frame(uiTarget, kStars80);
        return UKO_EINVAL;
    }
    if (uiType == kTypeSys) {
        rc = SetSequence(&parsed, kSetSource);
    } else if (uiType == kTypeLmt || uiType == kTypeLocal) {
        UKO_SYSTIME_TO_SYS_HOOK_PF toSys = (uiType == kTypeLmt ? g_lmtToSysHook : g_localToSysHook)
                                               .load(std::memory_order_acquire);
        if (toSys == nullptr) {
            Print(uiTarget, "\r\nset time to zirpa failed.");
            Print(
                uiTarget,
                uiType == kTypeLmt
                    ? "\r\nno support LMT time settings, please load the \"uko_timezone\" package."
                    : "\r\nno support Local time settings, please load the \"uko_timezone\" "
                      "package.");
            Frame(uiTarget, kStars80);
            return UKO_EINVAL;
        }
        UKO_Systime sys = {};
        rc = toSys(&parsed, &sys);
        if (rc == 0) {
            rc = SetSequence(&sys, kSetSource);
        }
    } else {
        Print(uiTarget, "\r\nset time to zirpa failed, for the systime type is invalid.");
        Frame(uiTarget, kStars80);
        return UKO_EINVAL;
    }
    if (rc == 0) {
        Print(uiTarget, "\r\nset time to zirpa successful.");
    } else {
        Print(uiTarget, "\r\nset time to zirpa failed.");
    }
    Frame(uiTarget, kStars80);
    return rc;
}

uint32_t ukoSystimeFromOs(uint32_t uiTarget) {
    UKO_Systime now = {};
    uint32_t rc = g_osReader.load(std::memory_order_acquire)(&now);
    if (rc == 0) {
        rc = SetSequence(&now, kSetSource);
    }
    Frame(uiTarget, kStars80);
    Print(uiTarget, rc == 0 ? "\r\nset systime os-to-zirpa successful."
                            : "\r\nset systime os-to-zirpa failed.");
    Frame(uiTarget, kStars80);
    return rc;
}

uint32_t ukoSystimeToOs(uint32_t uiTarget) {
    UKO_Systime sys = RecordCopy(kTypeSys);
    uint32_t rc = UKO_EINVAL;
    // A system time never set (all zero) would put the machine's clock at a wild
    // value, and the OS setter carries 32-bit seconds, so a later date would wrap to
    // one in the 1970s: both are refused before the clock is touched.
    uint32_t high = 0;
    uint32_t low = 0;
    if (ukoSystimeIsValid(&sys) != 0 && OS_DateToSec(&sys, &high, &low) == 0 && high == 0) {
        rc = OSAL_SysTimeSet(&sys);
    }
    Frame(uiTarget, kStars80);
    Print(uiTarget, rc == 0 ? "\r\nset systime zirpa-to-os successful."
                            : "\r\nset systime zirpa-to-os failed.");
    Frame(uiTarget, kStars80);
    return rc;
}

uint32_t ukoSystimeStartRecord() {
    UKO_Systime now = {};
    (void)UKO_SystimeGet(&now);
    Locked guard(&g_lock);
    g_startRecord = now;
    return 0;
}

uint32_t ukoSystimeStartShow(uint32_t uiTarget) {
    UKO_Systime start;
    {
        Locked guard(&g_lock);
        start = g_startRecord;
    }
    Frame(uiTarget, kStars60);
    Print(uiTarget, "\r\n system start at %04d-%02d-%02d %02d:%02d:%02d.%03d",
          static_cast<int>(start.usYear), static_cast<int>(start.ucMonth),
          static_cast<int>(start.ucDate), static_cast<int>(start.ucHour),
          static_cast<int>(start.ucMinute), static_cast<int>(start.ucSecond),
          static_cast<int>(start.uiMillSec));
    Frame(uiTarget, kStars60);
    return 0;
}

// ---- Change-reserve box and tick gaps ----------------------------------------------------

void ukoSystimeChangeBoxLocationSet(UKO_SystimeChangeBox* pstBox) {
    Locked guard(&g_statLock);
    g_box.store(pstBox, std::memory_order_release);
}

uint32_t ukoSystimeChangeBoxInit() {
    Locked guard(&g_statLock);
    UKO_SystimeChangeBox* box = g_box.load(std::memory_order_acquire);
    if (box == nullptr) {
        return 0;
    }
    (void)UKO_memset_s(box, sizeof(*box), 0, sizeof(*box));
    box->uiMagic = UKO_SYSTIME_CHANGE_BOX_MAGIC;
    uint32_t base = 0;  // CPU ticks per OS tick
    if (UKO_CpuTickBaseGet(&base) != 0) {
        base = 0;
    }
    uint32_t perSec = OS_TickPerSecGet();
    // base * ticks-per-second would pass 32 bits: divide first instead.
    box->uiCpuTickPerMs =
        base > 0xFFFFFFFFu / perSec ? base / (1000 / perSec) : base * perSec / 1000;
    uint64_t now = CpuTickNow();
    box->uiStartCpuTickLow = static_cast<uint32_t>(now);
    box->uiStartCpuTickHigh = static_cast<uint32_t>(now >> 32);
    box->uiLastCpuTickLow = box->uiStartCpuTickLow;
    box->uiLastCpuTickHigh = box->uiStartCpuTickHigh;
    (void)UKO_SystimeGet(&box->stStartTime);
    return 0;
}

void ukoSystimeChangeBoxTickSwitch(uint32_t uiOn) {
    g_boxTickSwitch.store(uiOn != 0 ? 1 : 0, std::memory_order_release);
}

uint32_t ukoSystimeTickUpdate() {
    uint64_t now = CpuTickNow();
    Locked guard(&g_statLock);
    ++g_gapStat.uiReadings;
    if (!g_havePrevious) {
        g_havePrevious = true;
        g_gapStat.uvPrevious = now;
        return static_cast<uint32_t>(now);
    }
    uint64_t gap = now - g_gapStat.uvPrevious;
    if (gap > g_gapStat.uvMaxGap) {
        g_gapStat.uvMaxGap = gap;
        (void)UKO_SystimeGet(&g_gapStat.stMaxGapTime);
    }
    if (UKO_SYSTIME_CHANGE_BOX_SWITCH.load(std::memory_order_acquire) != 0) {
        g_gapStat.auvRing[g_gapStat.uiRingNext] = gap;
        g_gapStat.uiRingNext = (g_gapStat.uiRingNext + 1) % UKO_SYSTIME_GAP_RING;
    }
    UKO_SystimeChangeBox* box = g_box.load(std::memory_order_acquire);
    if (g_boxTickSwitch.load(std::memory_order_acquire) != 0 && box != nullptr &&
        box->uiMagic == UKO_SYSTIME_CHANGE_BOX_MAGIC) {
        box->uiLastCpuTickLow = static_cast<uint32_t>(now);
        box->uiLastCpuTickHigh = static_cast<uint32_t>(now >> 32);
    }
    g_gapStat.uvPrevious = now;
    return static_cast<uint32_t>(now);
}

void ukoSystimeTickGapStatGet(UKO_SYSTIME_TICK_GAP_STAT* pstStat) {
    if (pstStat == nullptr) {
        return;
    }
    Locked guard(&g_statLock);
    *pstStat = g_gapStat;
}

uint32_t ukoSystimeChangeBoxShow(uint32_t /*uiUnused*/, const void* pBox, uint32_t uiBoxLen,
                                 char* pcBuf, uint32_t uiBufSize, uint32_t* puiWritten) {
    if (pBox == nullptr || pcBuf == nullptr || puiWritten == nullptr) {
        return 0;
    }
    BufWriter out(pcBuf, uiBufSize);
    // A box too short to hold even its magic is not read at all.
    uint32_t magic = 0;
    if (uiBoxLen >= sizeof(magic)) {
        std::memcpy(&magic, pBox, sizeof(magic));
    }
    if (uiBoxLen >= sizeof(magic) && magic != UKO_SYSTIME_CHANGE_BOX_MAGIC) {
        out.Add("The Systime Change Reserve box info magic num(0x%x) is invalid!\r\n", magic);
        *puiWritten = out.Used();
        return 1;
    }
    if (uiBoxLen < kBoxMinLen) {
        out.Add("The Systime Change Reserve box info length(%d) is invalid!\r\n",
                static_cast<int>(uiBoxLen));
        *puiWritten = out.Used();
        return 1;
    }
    UKO_SystimeChangeBox box;
    std::memcpy(&box, pBox, sizeof(box));
    static const char* const kWeekNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    uint64_t start = (static_cast<uint64_t>(box.uiStartCpuTickHigh) << 32) | box.uiStartCpuTickLow;
    uint64_t last = (static_cast<uint64_t>(box.uiLastCpuTickHigh) << 32) | box.uiLastCpuTickLow;
    uint64_t running = last - start;
    uint32_t msHigh = 0;
    uint32_t msLow = 0;
    // Without a CPU-tick rate the running time cannot be known: it shows as 0.
    if (UKO_64Div32(static_cast<uint32_t>(running >> 32), static_cast<uint32_t>(running),
                    box.uiCpuTickPerMs, &msHigh, &msLow, nullptr) != 0) {
        msHigh = 0;
        msLow = 0;
    }
    uint64_t ms = (static_cast<uint64_t>(msHigh) << 32) | msLow;
    const UKO_Systime& t = box.stStartTime;

    out.Add("\r\n%s", kStars80);
    out.Add("\r\n System Start Time            : %04d-%02d-%02d %02d:%02d:%02d.%03d , Week: %s",
            static_cast<int>(t.usYear), static_cast<int>(t.ucMonth), static_cast<int>(t.ucDate),
            static_cast<int>(t.ucHour), static_cast<int>(t.ucMinute), static_cast<int>(t.ucSecond),
            static_cast<int>(t.uiMillSec), kWeekNames[t.ucWeek % 7]);
    out.Add("\r\n System Start CpuTick         : 0x%08x %08x", box.uiStartCpuTickHigh,
            box.uiStartCpuTickLow);
    out.Add("\r\n System Last CpuTick          : 0x%08x %08x", box.uiLastCpuTickHigh,
            box.uiLastCpuTickLow);
    out.Add("\r\n System Total Running CpuTick : 0x%08x %08x", static_cast<uint32_t>(running >> 32),
            static_cast<uint32_t>(running));
    out.Add("\r\n CpuTick Per MilliSecs        : 0x%08x", box.uiCpuTickPerMs);
    out.Add("\r\n System Total Running Time    : %u.%03u (s.ms)", static_cast<uint32_t>(ms / 1000),
            static_cast<uint32_t>(ms % 1000));
    out.Add("\r\n%s", kStars80);
    *puiWritten = out.Used();
    return out.Ok() ? 1 : 0;
}

uint32_t ukoSystimeChangeBoxSwitchShow(uint32_t uiTarget) {
    const char* line = nullptr;
    if (UKO_SYSTIME_CHANGE_BOX_SWITCH.load(std::memory_order_acquire) == 0) {
        line = "\r\n UKO_SYSTIME_CHANGE_BOX_SWITCH is False.";
    } else if (UKO_SYSTIME_SEGMENT_NUM.load(std::memory_order_acquire) == 0) {
        line = "\r\n UKO_SYSTIME_SEGMENT_NUM is zero.";
    }
    if (line != nullptr) {
        Frame(uiTarget, kStars60);
        Print(uiTarget, line);
        Frame(uiTarget, kStars60);
    }
    return 0;
}

// ---- Current time at UTC+8 ---------------------------------------------------------------

void Jqrs_DateTimeToMs(uint32_t uiDate, uint32_t uiTime, uint32_t uiMillSec, uint32_t* puiMsHigh,
                       uint32_t* puiMsLow) {
    if (puiMsHigh == nullptr || puiMsLow == nullptr) {
        return;
    }
    uint64_t ms = LinearMs(uiDate >> 16, (uiDate >> 8) & 0xFF, uiDate & 0xFF, uiTime >> 16,
                           (uiTime >> 8) & 0xFF, uiTime & 0xFF, uiMillSec);
    Split64(ms, puiMsHigh, puiMsLow);
}

uint32_t Jqrs_MsNowUtc8Get(uint32_t* puiMsHigh, uint32_t* puiMsLow) {
    if (puiMsHigh == nullptr || puiMsLow == nullptr) {
        return 1;
    }
    // A clock that cannot be read must not come back as a time near 1970.
    UKO_Systime now = {};
    if (g_osReader.load(std::memory_order_acquire)(&now) != 0) {
        return 1;
    }
    // Eight hours ahead without normalising: the count is linear, so hours 24 to 31
    // simply fall into the next day.
    uint32_t hour = now.ucHour + 8u;
    uint32_t date = (static_cast<uint32_t>(now.usYear) << 16) |
                    (static_cast<uint32_t>(now.ucMonth) << 8) | now.ucDate;
    uint32_t time = (hour << 16) | (static_cast<uint32_t>(now.ucMinute) << 8) | now.ucSecond;
    Jqrs_DateTimeToMs(date, time, now.uiMillSec, puiMsHigh, puiMsLow);
    return 0;
}

// ---- Test seams ------------------------------------------------------------------------

void ukoSystimeOsReaderSet(UKO_SYSTIME_OS_READ_PF pfnReader) {
    g_osReader.store(pfnReader != nullptr ? pfnReader : OSAL_SysTimeGet, std::memory_order_release);
}

void ukoSystimeCpuTickReaderSet(UKO_SYSTIME_CPUTICK_READ_PF pfnReader) {
    g_cpuTickReader.store(pfnReader != nullptr ? pfnReader : CpuTickByOs,
                          std::memory_order_release);
}

void ukoSystimePrinterSet(UKO_SYSTIME_PRINT_PF pfnPrinter) {
    g_printer.store(pfnPrinter != nullptr ? pfnPrinter : UKO_ShowPrint, std::memory_order_release);
}

uint32_t ukoSystimeRecordWrite(uint32_t uiType, const UKO_Systime* pstTime) {
    if (uiType >= kTypeNum || pstTime == nullptr) {
        return UKO_EINVAL;
    }
    Locked guard(&g_lock);
    g_records[uiType] = *pstTime;
    return 0;
}

void ukoSystimeReset() {
    {
        Locked guard(&g_lock);
        std::memset(g_records, 0, sizeof(g_records));
        g_startRecord = {};
    }
    g_lmtDeriveHook.store(nullptr);
    g_localDeriveHook.store(nullptr);
    g_lmtToSysHook.store(nullptr);
    g_localToSysHook.store(nullptr);
    g_stateHook.store(nullptr);
    g_changeHook.store(nullptr);
    g_notifyHook.store(nullptr);
    g_notifyHook2.store(nullptr);
    UKO_SYSTIME_CHANGE_BOX_SWITCH.store(0);
    UKO_SYSTIME_SEGMENT_NUM.store(0);
    g_boxTickSwitch.store(0);
    {
        Locked guard(&g_statLock);
        g_box.store(nullptr);
        g_havePrevious = false;
        g_gapStat = {};
    }
    ukoSystimeOsReaderSet(nullptr);
    ukoSystimeCpuTickReaderSet(nullptr);
    ukoSystimePrinterSet(nullptr);
}
