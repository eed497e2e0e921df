// Fuzz target of the calendar conversions of the OS layer.
//
// Input: four bytes of seconds since 1970, then twelve bytes of a date/time record
// (year, month, day, hour, minute, second, week day, milliseconds, as the record lays
// them out), then two time values, each eight bytes of seconds and eight of
// nanoseconds.
//
// Seconds to date and back: the date is the C library's UTC date of those seconds,
// OS_DateToSec and OS_DateToSec32 give the seconds back and OS_WeekDayCalc the day of
// the week. A record drawn from the input is converted whatever its fields hold; when
// is a valid date, both conversions give its seconds (the closed formula modulo 2^32),
// and a date within the 32-bit range comes back from its seconds unchanged.

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "fuzz_support.h"
#include "os_time.h"

namespace {

using vt_fuzz::Reader;

bool Leap(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::string Show(const UKO_Systime& t) {
    char buf[80];
    std::snprintf(buf, sizeof(buf), "%u-%u-%u %u:%u:%u week %u ms %u", t.usYear, t.ucMonth, t.ucDate, t.ucHour,
                  t.ucMinute, t.ucSecond, t.ucWeek, t.uiMillSec);
    return buf;
}

void SecondsToDateAndBack(uint32_t seconds) {
    UKO_Systime date;
    std::memset(&date, 0x5A, sizeof(date));
    OS_SecToDate(seconds, &date);
    const std::string what = "seconds " + std::to_string(seconds) + " -> " + Show(date);

    const time_t t = static_cast<time_t>(seconds);
    struct tm utc {};
    FUZZ_CHECK(gmtime_r(&t, &utc) != nullptr, what);
    FUZZ_CHECK(date.usYear == utc.tm_year + 1900 && date.ucMonth == utc.tm_mon + 1 && date.ucDate == utc.tm_mday &&
                   date.ucHour == utc.tm_hour && date.ucMinute == utc.tm_min && date.ucSecond == utc.tm_sec,
               what + ": not the UTC date");
    FUZZ_CHECK(date.ucWeek == 0 && date.uiMillSec == 0, what);

    uint32_t high = 1;
    uint32_t low = 1;
    FUZZ_CHECK(OS_DateToSec(&date, &high, &low) == 0, what);
    FUZZ_CHECK(high == 0 && low == seconds, what + ": OS_DateToSec gives " + std::to_string(low));
    FUZZ_CHECK(OS_DateToSec32(&date) == seconds, what + ": OS_DateToSec32");
    FUZZ_CHECK(OS_WeekDayCalc(&date) == 0, what);
    FUZZ_CHECK(date.ucWeek == utc.tm_wday, what + ": week day");
    FUZZ_CHECK(OS_DaysInMonthGet(date.usYear, date.ucMonth) >= date.ucDate, what);
}

void AnyRecord(const UKO_Systime& drawn) {
    UKO_Systime record = drawn;
    uint32_t high = 0;
    uint32_t low = 0;
    (void)OS_DateToSec(&record, &high, &low);
    const uint32_t closed = OS_DateToSec32(&record);
    (void)OS_WeekDayCalc(&record);
    const std::string what = Show(drawn);
    FUZZ_CHECK(record.ucWeek <= 6, what + ": week day");
    const uint8_t days = OS_DaysInMonthGet(record.usYear, record.ucMonth);
    FUZZ_CHECK(record.ucMonth >= 1 && record.ucMonth <= 12 ? days >= 28 && days <= 31 : days == 255, what);

    // Beyond the year 9999 the minutes no longer fit the 32 bits the conversion counts
    // them in.
    const bool valid = record.usYear >= 1970 && record.usYear <= 9999 && record.ucMonth >= 1 && record.ucMonth <= 12 && record.ucDate >= 1 &&
                       record.ucDate <= days && record.ucHour <= 23 && record.ucMinute <= 59 &&
                       record.ucSecond <= 59;
    if (!valid) {
        return;
    }
    // Days of the whole years before, the months before and the day: a valid date's
    // seconds, which the two conversions must both give (the closed one modulo 2^32).
    uint64_t dayCount = 0;
    for (uint32_t y = 1970; y < record.usYear; ++y) {
        dayCount += Leap(y) ? 366 : 365;
    }
    for (uint8_t m = 1; m < record.ucMonth; ++m) {
        dayCount += OS_DaysInMonthGet(record.usYear, m);
    }
    dayCount += record.ucDate - 1u;
    const uint64_t expected =
        ((dayCount * 24 + record.ucHour) * 60 + record.ucMinute) * 60 + record.ucSecond;
    FUZZ_CHECK(((static_cast<uint64_t>(high) << 32) | low) == expected, what + ": OS_DateToSec");
    FUZZ_CHECK(closed == static_cast<uint32_t>(expected), what + ": OS_DateToSec32");
    if (expected <= UINT32_MAX) {
        UKO_Systime back;
        OS_SecToDate(static_cast<uint32_t>(expected), &back);
        FUZZ_CHECK(back.usYear == record.usYear && back.ucMonth == record.ucMonth && back.ucDate == record.ucDate &&
                       back.ucHour == record.ucHour && back.ucMinute == record.ucMinute &&
                       back.ucSecond == record.ucSecond,
                   what + ": back from its seconds as " + Show(back));
    }
}

void Difference(int64_t laterSec, int64_t laterNsec, int64_t earlierSec, int64_t earlierNsec) {
    struct timespec later {};
    struct timespec earlier {};
    later.tv_sec = laterSec;
    later.tv_nsec = laterNsec;
    earlier.tv_sec = earlierSec;
    earlier.tv_nsec = earlierNsec;
    uint32_t ms = 0;
    FUZZ_CHECK(OS_TimespecDiffMs(&ms, &later, &earlier) == &ms, "OS_TimespecDiffMs");
    // Valid times of up to a day apart, the later one first: the whole milliseconds.
    const bool valid = laterNsec >= 0 && laterNsec < 1000000000 && earlierNsec >= 0 && earlierNsec < 1000000000 &&
                       laterSec >= 0 && earlierSec >= 0 && laterSec >= earlierSec && laterSec - earlierSec <= 86400;
    if (valid) {
        const int64_t ns = (laterSec - earlierSec) * 1000000000 + (laterNsec - earlierNsec);
        if (ns >= 0) {
            FUZZ_CHECK(ms == static_cast<uint32_t>(ns / 1000000), "OS_TimespecDiffMs of valid times");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    SecondsToDateAndBack(in.U32());

    UKO_Systime drawn;
    drawn.usYear = in.U16();
    drawn.ucMonth = in.Byte();
    drawn.ucDate = in.Byte();
    drawn.ucHour = in.Byte();
    drawn.ucMinute = in.Byte();
    drawn.ucSecond = in.Byte();
    drawn.ucWeek = in.Byte();
    drawn.uiMillSec = in.U32();
    AnyRecord(drawn);

    const int64_t laterSec = static_cast<int64_t>(in.U64());
    const int64_t laterNsec = static_cast<int64_t>(in.U64());
    const int64_t earlierSec = static_cast<int64_t>(in.U64());
    const int64_t earlierNsec = static_cast<int64_t>(in.U64());
    Difference(laterSec, laterNsec, earlierSec, earlierNsec);
    return 0;
}
