#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "os_time.h"
#include "osal_cputick.h"
#include "vt_test/child_process.h"

namespace {

// glibc's own conversions serve only as oracles here.
struct tm GmTime(time_t t) {
    struct tm out {};
    gmtime_r(&t, &out);
    return out;
}

UKO_Systime Date(uint16_t y, uint8_t mo, uint8_t d, uint8_t h = 0, uint8_t mi = 0, uint8_t s = 0,
                 uint32_t ms = 0) {
    UKO_Systime t{};
    t.usYear = y;
    t.ucMonth = mo;
    t.ucDate = d;
    t.ucHour = h;
    t.ucMinute = mi;
    t.ucSecond = s;
    t.uiMillSec = ms;
    return t;
}

time_t TimeGm(const UKO_Systime& t) {
    struct tm in {};
    in.tm_year = t.usYear - 1900;
    in.tm_mon = t.ucMonth - 1;
    in.tm_mday = t.ucDate;
    in.tm_hour = t.ucHour;
    in.tm_min = t.ucMinute;
    in.tm_sec = t.ucSecond;
    return timegm(&in);
}

::testing::AssertionResult SameAsGmTime(uint32_t sec, const UKO_Systime& got) {
    struct tm want = GmTime(static_cast<time_t>(sec));
    if (got.usYear == want.tm_year + 1900 && got.ucMonth == want.tm_mon + 1 &&
        got.ucDate == want.tm_mday && got.ucHour == want.tm_hour && got.ucMinute == want.tm_min &&
        got.ucSecond == want.tm_sec && got.ucWeek == 0 && got.uiMillSec == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "seconds " << sec << ": got " << got.usYear << "-" << int(got.ucMonth) << "-"
           << int(got.ucDate) << " " << int(got.ucHour) << ":" << int(got.ucMinute) << ":"
           << int(got.ucSecond) << " week " << int(got.ucWeek) << " ms " << got.uiMillSec
           << ", want " << want.tm_year + 1900 << "-" << want.tm_mon + 1 << "-" << want.tm_mday
           << " " << want.tm_hour << ":" << want.tm_min << ":" << want.tm_sec;
}

UKO_Systime Garbage() {
    UKO_Systime t;
    memset(&t, 0xA5, sizeof(t));
    return t;
}

// ---- Tick configuration ------------------------------------------------------------

TEST(TickConfig, FixedRateAndTheRangeCheck) {
    EXPECT_EQ(OS_TickConfigInit(0), 0u);
    EXPECT_EQ(OS_TickPerSecGet(), 100u);
    EXPECT_EQ(OS_MsPerTickGet(), 10u);

    EXPECT_EQ(ukoTickConfigSet(300), 0u);
    EXPECT_EQ(OS_MsPerTickGet(), 3u) << "integer division";
    EXPECT_EQ(ukoTickConfigSet(1000), 0u);
    EXPECT_EQ(OS_MsPerTickGet(), 1u);
    for (uint32_t bad : {0u, 1001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ukoTickConfigSet(bad), 22u) << bad;
        EXPECT_EQ(OS_TickPerSecGet(), 1000u) << "a refused rate changes nothing";
        EXPECT_EQ(OS_MsPerTickGet(), 1u);
    }
    EXPECT_EQ(OS_TickConfigInit(0), 0u);
    EXPECT_EQ(OS_TickPerSecGet(), 100u);
    EXPECT_EQ(OS_MsPerTickGet(), 10u);
}

TEST(TickConfig, ReadableBeforeStartUp) {
    auto r = vt_test::RunInChild([] {
        // No OS_TickConfigInit in this process yet: readers must not get 0.
        EXPECT_EQ(OS_TickPerSecGet(), 100u);
        EXPECT_EQ(OS_MsPerTickGet(), 10u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// ---- Seconds to date ---------------------------------------------------------------

TEST(SecToDate, NamedDates) {
    struct Case {
        uint32_t sec;
        UKO_Systime want;
    };
    const Case cases[] = {
        {0, Date(1970, 1, 1)},
        {951782400, Date(2000, 2, 29)},
        {951868800, Date(2000, 3, 1)},
        {978220800, Date(2000, 12, 31)},
        {978307199, Date(2000, 12, 31, 23, 59, 59)},
        {31535999, Date(1970, 12, 31, 23, 59, 59)},
        {68169600, Date(1972, 2, 29)},
        {94608000, Date(1972, 12, 31)},  // day 365 of a leap year
        {4294967295u, Date(2106, 2, 7, 6, 28, 15)},
    };
    for (const Case& c : cases) {
        UKO_Systime got = Garbage();
        OS_SecToDate(c.sec, &got);
        EXPECT_EQ(memcmp(&got, &c.want, sizeof(got)), 0) << c.sec;
    }
}

TEST(SecToDate, AgreesWithGmTimeOnEveryDayAndOnRandomSeconds) {
    const uint32_t lastDay = 4294967295u / 86400;  // 2106-02-07
    for (uint32_t day = 0; day <= lastDay; ++day) {
        // A different time of day each day, and both ends of the day now and then.
        uint32_t offset = (day % 3 == 0) ? 0 : (day % 3 == 1) ? 86399 : (day * 7919u) % 86400;
        uint64_t sec64 = static_cast<uint64_t>(day) * 86400 + offset;
        uint32_t sec = sec64 > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sec64);
        UKO_Systime got = Garbage();
        OS_SecToDate(sec, &got);
        ASSERT_TRUE(SameAsGmTime(sec, got));
    }
    std::mt19937 rng(20240229);
    std::uniform_int_distribution<uint32_t> dist;
    for (int i = 0; i < 100000; ++i) {
        uint32_t sec = dist(rng);
        UKO_Systime got = Garbage();
        OS_SecToDate(sec, &got);
        ASSERT_TRUE(SameAsGmTime(sec, got));
    }
}

// The conversion as first written: whole years walked one by one from 1970, then
// months. The closed form must give the same record, byte for byte.
void LoopSecToDate(uint32_t sec, UKO_Systime* t) {
    auto leap = [](uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    auto monthDays = [&](uint32_t y, uint32_t m) -> uint32_t {
        static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return m == 2 && leap(y) ? 29 : kDays[m - 1];
    };
    t->ucSecond = static_cast<uint8_t>(sec % 60);
    t->ucMinute = static_cast<uint8_t>((sec / 60) % 60);
    t->ucHour = static_cast<uint8_t>((sec / 3600) % 24);
    uint32_t days = sec / 86400;
    uint32_t year = 1970;
    while (days > 365) {
        days -= leap(year) ? 366 : 365;
        ++year;
    }
    if (days == 365 && !leap(year)) {
        ++year;
        days = 0;
    }
    uint32_t month = 1;
    while (days > 30) {
        days -= monthDays(year, month);
        ++month;
    }
    if (days >= monthDays(year, month)) {
        days -= monthDays(year, month);
        ++month;
    }
    t->usYear = static_cast<uint16_t>(year);
    t->ucMonth = static_cast<uint8_t>(month);
    t->ucDate = static_cast<uint8_t>(days + 1);
    t->ucWeek = 0;
    t->uiMillSec = 0;
}

::testing::AssertionResult SameAsLoop(uint32_t sec) {
    UKO_Systime got = Garbage();
    UKO_Systime want = Garbage();
    OS_SecToDate(sec, &got);
    LoopSecToDate(sec, &want);
    if (memcmp(&got, &want, sizeof(got)) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "seconds " << sec << ": got " << got.usYear << "-" << int(got.ucMonth) << "-"
           << int(got.ucDate) << ", the loop gives " << want.usYear << "-" << int(want.ucMonth)
           << "-" << int(want.ucDate);
}

TEST(SecToDate, AgreesWithTheYearByYearLoopOnEveryDayAndOnRandomSeconds) {
    const uint32_t lastDay = 4294967295u / 86400;
    for (uint32_t day = 0; day <= lastDay; ++day) {
        // Both ends of every day: a day boundary is where a year or a month turns.
        const uint64_t first = static_cast<uint64_t>(day) * 86400;
        const uint64_t last = std::min<uint64_t>(first + 86399, 0xFFFFFFFFu);
        ASSERT_TRUE(SameAsLoop(static_cast<uint32_t>(first)));
        ASSERT_TRUE(SameAsLoop(static_cast<uint32_t>(last)));
    }
    std::mt19937 rng(19700101);
    std::uniform_int_distribution<uint32_t> dist;
    for (int i = 0; i < 1000000; ++i) {
        ASSERT_TRUE(SameAsLoop(dist(rng)));
    }
}

// ---- Date to seconds ---------------------------------------------------------------

TEST(DateToSec, BothFormsAgreeWithTimeGmForEveryDate) {
    for (uint16_t y = 1970; y <= 2105; ++y) {
        for (uint8_t m = 1; m <= 12; ++m) {
            for (uint8_t d = 1; d <= OS_DaysInMonthGet(y, m); ++d) {
                UKO_Systime t = Date(y, m, d, static_cast<uint8_t>((d * 5) % 24),
                                     static_cast<uint8_t>((d * 7) % 60),
                                     static_cast<uint8_t>((m * 11 + d) % 60));
                t.ucWeek = 6;         // not read
                t.uiMillSec = 999;    // not read
                uint64_t want = static_cast<uint64_t>(TimeGm(t));
                uint32_t high = 0xDEAD;
                uint32_t low = 0xBEEF;
                ASSERT_EQ(OS_DateToSec(&t, &high, &low), 0u);
                ASSERT_EQ((static_cast<uint64_t>(high) << 32) | low, want)
                    << y << "-" << int(m) << "-" << int(d);
                ASSERT_EQ(OS_DateToSec32(&t), static_cast<uint32_t>(want))
                    << y << "-" << int(m) << "-" << int(d);
            }
        }
    }
}

TEST(DateToSec, NamedValuesAndTheTopOfTheRange) {
    uint32_t high = 1;
    uint32_t low = 1;
    UKO_Systime t = Date(2000, 3, 1);
    ASSERT_EQ(OS_DateToSec(&t, &high, &low), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 951868800u);
    t = Date(1970, 1, 1);
    ASSERT_EQ(OS_DateToSec(&t, &high, &low), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(OS_DateToSec32(&t), 0u);

    // Past 2106 only the two-word form holds the value; far years need more than 32
    // bits of minutes.
    for (UKO_Systime big : {Date(2106, 2, 7, 6, 28, 16), Date(2200, 3, 1, 12, 0, 0),
                            Date(10136, 1, 1), Date(20000, 6, 15, 8, 9, 10),
                            Date(65535, 12, 31, 23, 59, 59)}) {
        ASSERT_EQ(OS_DateToSec(&big, &high, &low), 0u);
        EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, static_cast<uint64_t>(TimeGm(big)))
            << big.usYear;
    }
}

// ---- Month lengths and week days ---------------------------------------------------

TEST(DaysInMonth, Table) {
    struct Case {
        uint16_t year;
        uint8_t month;
        uint8_t days;
    };
    const Case cases[] = {
        {1900, 2, 28}, {2000, 2, 29}, {2024, 2, 29}, {2023, 2, 28}, {2100, 2, 28},
        {2023, 1, 31}, {2023, 4, 30}, {2023, 6, 30}, {2023, 7, 31}, {2023, 8, 31},
        {2023, 9, 30}, {2023, 11, 30}, {2023, 12, 31}, {2023, 13, 255}, {2023, 0, 255},
        {2023, 255, 255},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_DaysInMonthGet(c.year, c.month), c.days) << c.year << "-" << int(c.month);
    }
}

TEST(WeekDay, NamedDatesAndEveryDayAgainstGmTime) {
    struct Case {
        UKO_Systime date;
        uint8_t week;
    };
    const Case cases[] = {{Date(1970, 1, 1), 4}, {Date(2000, 1, 1), 6}, {Date(2000, 2, 29), 2},
                          {Date(2100, 3, 1), 1}, {Date(2106, 2, 7), 0}};
    for (const Case& c : cases) {
        UKO_Systime t = c.date;
        t.ucWeek = 0xEE;
        ASSERT_EQ(OS_WeekDayCalc(&t), 0u);
        EXPECT_EQ(t.ucWeek, c.week) << t.usYear << "-" << int(t.ucMonth) << "-" << int(t.ucDate);
    }
    for (uint32_t day = 0; day <= 4294967295u / 86400; ++day) {
        struct tm want = GmTime(static_cast<time_t>(day) * 86400);
        UKO_Systime t = Date(static_cast<uint16_t>(want.tm_year + 1900),
                             static_cast<uint8_t>(want.tm_mon + 1),
                             static_cast<uint8_t>(want.tm_mday), 23, 59, 59);
        ASSERT_EQ(OS_WeekDayCalc(&t), 0u);
        ASSERT_EQ(t.ucWeek, want.tm_wday) << "day " << day;
    }
}

// ---- Time-value differences --------------------------------------------------------

TEST(TimespecDiffMs, Table) {
    struct Case {
        const char* name;
        struct timespec later;
        struct timespec earlier;
        uint32_t ms;
    };
    const Case cases[] = {
        {"borrow from the seconds", {5, 100000000}, {3, 900000000}, 1200},
        {"no borrow", {10, 500000000}, {10, 0}, 500},
        {"equal", {7, 123}, {7, 123}, 0},
        {"one nanosecond short of a millisecond", {1, 999999}, {1, 0}, 0},
        {"one nanosecond across a second", {1, 0}, {0, 999999999}, 0},
        {"whole milliseconds truncate", {2, 1999999}, {1, 0}, 1001},
        {"earlier given as later", {3, 900000000}, {5, 100000000}, 0},
        {"earlier by one nanosecond", {5, 0}, {5, 1}, 0},
        // 50 days = 4,320,000,000 ms, kept as its low 32 bits.
        {"beyond 32 bits", {50 * 86400, 0}, {0, 0}, static_cast<uint32_t>(4320000000ULL)},
    };
    for (const Case& c : cases) {
        uint32_t result = 0xDEADBEEF;
        EXPECT_EQ(OS_TimespecDiffMs(&result, &c.later, &c.earlier), &result) << c.name;
        EXPECT_EQ(result, c.ms) << c.name;
    }
}

TEST(Calendar, NullRecordsAreIgnored) {
    uint32_t high = 5;
    uint32_t low = 6;
    UKO_Systime t = Date(2000, 1, 1);
    OS_SecToDate(0, nullptr);
    EXPECT_EQ(OS_DateToSec(nullptr, &high, &low), 22u);
    EXPECT_EQ(OS_DateToSec(&t, nullptr, &low), 22u);
    EXPECT_EQ(OS_DateToSec(&t, &high, nullptr), 22u);
    EXPECT_EQ(high, 5u);
    EXPECT_EQ(low, 6u);
    EXPECT_EQ(OS_DateToSec32(nullptr), 0u);
    EXPECT_EQ(OS_WeekDayCalc(nullptr), 22u);
    struct timespec a = {1, 0};
    EXPECT_EQ(OS_TimespecDiffMs(nullptr, &a, &a), nullptr);
    uint32_t result = 77;
    EXPECT_EQ(OS_TimespecDiffMs(&result, nullptr, &a), &result);
    EXPECT_EQ(OS_TimespecDiffMs(&result, &a, nullptr), &result);
    EXPECT_EQ(result, 77u);
}

// ---- OS system time ----------------------------------------------------------------

TEST(SysTime, GetReadsTheClockAsUtc) {
    // Bounds from the precise clock: time() reads a coarse clock that can lag the
    // precise one by a few milliseconds, which at a second boundary is a whole second.
    auto preciseSeconds = [] {
        struct timespec ts {};
        clock_gettime(CLOCK_REALTIME, &ts);
        return ts.tv_sec;
    };
    UKO_Systime t = Garbage();
    time_t before = preciseSeconds();
    ASSERT_EQ(OSAL_SysTimeGet(&t), 0u);
    time_t after = preciseSeconds();
    EXPECT_EQ(t.ucWeek, 0) << "the week day is not computed";
    EXPECT_LT(t.uiMillSec, 1000u);
    uint32_t high = 0;
    uint32_t low = 0;
    ASSERT_EQ(OS_DateToSec(&t, &high, &low), 0u);
    EXPECT_GE(low, static_cast<uint32_t>(before));
    EXPECT_LE(low, static_cast<uint32_t>(after));
    EXPECT_EQ(OSAL_SysTimeGet(nullptr), 22u);
}

// Records what the OS clock would have been set to.
std::vector<struct timeval> g_setCalls;
int g_setResult = 0;
int RecordingSetter(const struct timeval* tv) {
    g_setCalls.push_back(*tv);
    return g_setResult;
}

struct ClockSetterFixture : ::testing::Test {
    void SetUp() override {
        g_setCalls.clear();
        g_setResult = 0;
        ukoOsClockSetterSet(RecordingSetter);
    }
    void TearDown() override { ukoOsClockSetterSet(nullptr); }
};

TEST_F(ClockSetterFixture, SysTimeSetHandsTheOsTheRecordsUtcSeconds) {
    UKO_Systime t = Date(2024, 2, 29, 12, 34, 56, 789);
    ASSERT_EQ(OSAL_SysTimeSet(&t), 0u);
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls[0].tv_sec, TimeGm(t));
    EXPECT_EQ(g_setCalls[0].tv_usec, 789000);

    // An oversized millisecond field must reach the OS as invalid, not wrap into range.
    t.uiMillSec = 4294968;
    ASSERT_EQ(OSAL_SysTimeSet(&t), 0u);
    ASSERT_EQ(g_setCalls.size(), 2u);
    EXPECT_EQ(g_setCalls[1].tv_usec, 4294968000LL);

    g_setResult = -1;
    EXPECT_EQ(OSAL_SysTimeSet(&t), 0xFFFFFFFFu) << "the OS refusal comes back";
    EXPECT_EQ(OSAL_SysTimeSet(nullptr), 22u);
    EXPECT_EQ(g_setCalls.size(), 3u) << "a NULL record never reaches the OS";
}

// A zone whose daylight saving lasts the whole year: local time is always UTC + 1 h,
// while the zone's standard offset is 0. Only a conversion that applies the zone's
// rules gets the hour right.
constexpr const char* kAlwaysSummer = "AAA0BBB,J1/0,J365/25";

int WithZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    return 0;
}

TEST(LocalTime, GetAppliesTheZoneRulesIncludingDaylightSaving) {
    struct Case {
        const char* tz;
        int offsetSec;
    };
    for (Case c : {Case{"UTC0", 0}, Case{"XXX-8", 8 * 3600}, Case{kAlwaysSummer, 3600},
                   Case{"YYY5", -5 * 3600}}) {
        auto r = vt_test::RunInChild([c] {
            SCOPED_TRACE(c.tz);
            WithZone(c.tz);
            UKO_Systime t = Garbage();
            t.ucWeek = 5;
            time_t before = time(nullptr);
            ASSERT_EQ(OSAL_LocalTimeGet(&t), 0u);
            time_t after = time(nullptr);
            EXPECT_EQ(t.ucWeek, 5) << "left as it was";
            EXPECT_EQ(t.uiMillSec, 0u);
            time_t asUtc = TimeGm(t);
            EXPECT_GE(asUtc, before + c.offsetSec);
            EXPECT_LE(asUtc, after + c.offsetSec);
        });
        EXPECT_TRUE(vt_test::ExitedWith(r)) << c.tz;
    }
    EXPECT_EQ(OSAL_LocalTimeGet(nullptr), 22u);
}

TEST_F(ClockSetterFixture, LocalTimeSetConvertsWithTheZoneRules) {
    struct Case {
        const char* tz;
        UKO_Systime local;
        int offsetSec;  // local - UTC on that date
    };
    const Case cases[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", Date(2024, 7, 1, 12, 0, 0), 2 * 3600},
        {"CET-1CEST,M3.5.0,M10.5.0/3", Date(2024, 1, 15, 12, 0, 0), 3600},
        {kAlwaysSummer, Date(2024, 6, 1, 0, 30, 0), 3600},
        {"UTC0", Date(2000, 2, 29, 23, 59, 59), 0},
    };
    for (const Case& c : cases) {
        auto r = vt_test::RunInChild([&c] {
            SCOPED_TRACE(std::string(c.tz) + " " + std::to_string(c.local.usYear) + "-" +
                         std::to_string(c.local.ucMonth));
            WithZone(c.tz);
            UKO_Systime t = c.local;
            t.uiMillSec = 500;
            ASSERT_EQ(OSAL_LocalTimeSet(&t), 0u);
            ASSERT_EQ(g_setCalls.size(), 1u);
            EXPECT_EQ(g_setCalls[0].tv_sec, TimeGm(c.local) - c.offsetSec);
            EXPECT_EQ(g_setCalls[0].tv_usec, 0);
        });
        EXPECT_TRUE(vt_test::ExitedWith(r)) << c.tz;
    }

    UKO_Systime t = Date(2024, 1, 1);
    g_setResult = -1;
    EXPECT_EQ(OSAL_LocalTimeSet(&t), 22u) << "the OS refusal is a failure";
    EXPECT_EQ(OSAL_LocalTimeSet(nullptr), 22u);
    EXPECT_EQ(g_setCalls.size(), 1u);
}

// ---- Time-reader hooks -------------------------------------------------------------

UKO_Systime* g_seenByHook = nullptr;
uint32_t ReaderHook7(UKO_Systime* t) {
    g_seenByHook = t;
    t->usYear = 2001;
    return 7;
}

TEST(TimeReaders, HookResultOrACleanRecord) {
    using Reader = uint32_t (*)(UKO_Systime*);
    using Setter = uint32_t (*)(OS_TIME_READ_HOOK_PF);
    const struct {
        Reader read;
        Setter set;
        Reader other;
    } pairs[] = {{OS_TimeRead1, OS_TimeRead1HookSet, OS_TimeRead2},
                 {OS_TimeRead2, OS_TimeRead2HookSet, OS_TimeRead1}};
    const UKO_Systime zero{};
    for (const auto& p : pairs) {
        UKO_Systime t = Garbage();
        EXPECT_EQ(p.read(&t), 0u);
        EXPECT_EQ(memcmp(&t, &zero, sizeof(t)), 0) << "cleared without a hook";

        EXPECT_EQ(p.set(ReaderHook7), 0u);
        t = Garbage();
        EXPECT_EQ(p.read(&t), 7u);
        EXPECT_EQ(g_seenByHook, &t);
        EXPECT_EQ(t.usYear, 2001);
        t = Garbage();
        EXPECT_EQ(p.other(&t), 0u) << "the other reader keeps its own hook";
        EXPECT_EQ(memcmp(&t, &zero, sizeof(t)), 0);

        EXPECT_EQ(p.set(nullptr), 0u);
        t = Garbage();
        EXPECT_EQ(p.read(&t), 0u);
        EXPECT_EQ(memcmp(&t, &zero, sizeof(t)), 0);
    }
}

// ---- Counter reads -----------------------------------------------------------------

uint64_t FixedCounter() { return 0x123456789ABCDEF0ULL; }

TEST(CounterReads, SplitIntoLowAndHighAndIgnoreNullWords) {
    ukoCpuTickCounterSet(FixedCounter);
    using Read = void (*)(uint32_t*, uint32_t*);
    for (Read read : {OS_CpuTickGet, OS_CpuTickRead, OS_CpuTickGetIfValid}) {
        uint32_t low = 0;
        uint32_t high = 0;
        read(&low, &high);
        EXPECT_EQ(low, 0x9ABCDEF0u);
        EXPECT_EQ(high, 0x12345678u);
        low = 1;
        read(&low, nullptr);
        EXPECT_EQ(low, 1u);
        high = 2;
        read(nullptr, &high);
        EXPECT_EQ(high, 2u);
    }
    ukoCpuTickCounterSet(nullptr);
}

TEST(CounterReads, TheCounterIsTheMonotonicClockInNanoseconds) {
    struct timespec before {};
    struct timespec after {};
    uint32_t low = 0;
    uint32_t high = 0;
    clock_gettime(CLOCK_MONOTONIC, &before);
    OS_CpuTickGet(&low, &high);
    clock_gettime(CLOCK_MONOTONIC, &after);
    uint64_t counter = (static_cast<uint64_t>(high) << 32) | low;
    auto ns = [](const struct timespec& ts) {
        return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
    };
    EXPECT_GE(counter, ns(before));
    EXPECT_LE(counter, ns(after));
}

TEST(CounterReads, SnapshotNeedsTheCpuTickLock) {
    auto r = vt_test::RunInChild([] {
        EXPECT_EQ(OS_CpuTickSnapshot(), 22u) << "the lock is not made yet";
        ASSERT_EQ(OSAL_CpuTickInit(), 0u);
        EXPECT_EQ(OS_CpuTickSnapshot(), 0u);
        EXPECT_EQ(OS_CpuTickSnapshot(), 0u) << "the lock was released";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// ---- OS task services --------------------------------------------------------------

TEST(TaskServices, NoticesGoToStandardErrorOnly) {
    EXPECT_EQ(OS_TaskNameSet("RECV"), 0u);
    EXPECT_EQ(OS_TaskNameSet(nullptr), 0u);

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    uint32_t get = UKO_TaskRunTimeGet();
    uint32_t reset = UKO_TaskRunTimeReset();
    UKO_CpuBindSwitchSet(1, 2);
    ukoCputickBindCoreInit();
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(get, 0u);
    EXPECT_EQ(reset, 0u);
    EXPECT_EQ(out, "") << "standard output belongs to native messaging";
    EXPECT_EQ(err,
              "\r\nSorry, MAC don't support. UKO_TaskRunTimeGet 824 !\r\n"
              "\r\nSorry, MAC don't support. UKO_TaskRunTimeReset 839 !\r\n"
              "\r\nSorry, TULM don't support. UKO_CpuBindSwitchSet 56 !\r\n"
              "\r\nSorry, TULM don't support. ukoCputickBindCoreInit 75 !\r\n");
}

}  // namespace
