// System time: validity, comparison, day and second differences, milliseconds since
// 1970, adding and subtracting time, text output, the set sequence with its hooks, the
// set command, the copies to and from the OS clock (through fakes: the machine's clock
// is never touched), the change-reserve box, the tick-gap statistics and the UTC+8
// milliseconds.

#include <gtest/gtest.h>

#include <sys/time.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os_time.h"
#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_secfunc.h"
#include "uko_systime.h"
#include "uko_systime_inner.h"
#include "vt_test/platform.h"

namespace {

UKO_Systime T(uint16_t y, uint8_t mo, uint8_t d, uint8_t h = 0, uint8_t mi = 0, uint8_t s = 0,
              uint32_t ms = 0) {
    UKO_Systime t = {};
    t.usYear = y;
    t.ucMonth = mo;
    t.ucDate = d;
    t.ucHour = h;
    t.ucMinute = mi;
    t.ucSecond = s;
    t.uiMillSec = ms;
    return t;
}

std::string Text(const UKO_Systime& t) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%04u-%02u-%02u %02u:%02u:%02u.%03u w%u", t.usYear, t.ucMonth, t.ucDate,
             t.ucHour, t.ucMinute, t.ucSecond, t.uiMillSec, t.ucWeek);
    return buf;
}

bool Same(const UKO_Systime& a, const UKO_Systime& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

// ---- Error records, by unexpanded format -------------------------------------------------
struct Record {
    uint16_t code;
    uint16_t moduleId;
    std::string format;
};
std::vector<Record> g_records;
void Observer(uint32_t, uint16_t code, uint16_t moduleId, const char*, uint16_t, const char* format) {
    g_records.push_back({code, moduleId, format != nullptr ? format : ""});
}

// ---- What the commands and shows print ----------------------------------------------------
std::string g_printed;
uint32_t Printer(uint32_t, const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    g_printed += buf;
    return 0;
}
const std::string kStars80 = "\r\n" + std::string(80, '*');
const std::string kStars60 = "\r\n" + std::string(60, '*');

// ---- OS clock fakes -------------------------------------------------------------------------
std::vector<struct timeval> g_clockSets;
int g_clockSetResult = 0;
int FakeClockSetter(const struct timeval* tv) {
    g_clockSets.push_back(*tv);
    return g_clockSetResult;
}

UKO_Systime g_osNow;
uint32_t g_osReadResult = 0;
uint32_t FakeOsReader(UKO_Systime* t) {
    if (g_osReadResult == 0) *t = g_osNow;
    return g_osReadResult;
}

std::vector<uint64_t> g_cpuTicks;
size_t g_cpuTickNext = 0;
void FakeCpuTick(uint32_t* low, uint32_t* high) {
    uint64_t v = g_cpuTicks.at(g_cpuTickNext++);
    *low = static_cast<uint32_t>(v);
    *high = static_cast<uint32_t>(v >> 32);
}

class UkoSystime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        // Whatever a test does, the machine's clock stays where it is.
        ukoOsClockSetterSet(FakeClockSetter);
        ukoSystimeReset();
        ukoSystimePrinterSet(Printer);
        ukoSystimeOsReaderSet(FakeOsReader);
        g_records.clear();
        g_printed.clear();
        g_clockSets.clear();
        g_clockSetResult = 0;
        g_osReadResult = 0;
        g_cpuTicks.clear();
        g_cpuTickNext = 0;
        ukoErrorRecordObserverSet(Observer);
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        ukoSystimeReset();
    }

    static UKO_Systime Sys() {
        UKO_Systime t;
        EXPECT_EQ(UKO_SystimeSysGet(&t), 0u);
        return t;
    }
    // Exactly one record: this format, code 22 under the module's identifier.
    static void ExpectOneRecord(const std::string& format) {
        ASSERT_EQ(g_records.size(), 1u) << (g_records.empty() ? "none" : g_records[0].format);
        EXPECT_EQ(g_records[0].format, format);
        EXPECT_EQ(g_records[0].code, 22);
        EXPECT_EQ(g_records[0].moduleId, 0x203C);
        EXPECT_EQ(UKO_ErrnoGet(), 22u);
    }
};

const char kCheckFormat[] = "[ZIRPA-%s]:Inval Param pSysTime : %d-%d-%d %d:%d:%d.%u.";

// ---- Validity ----------------------------------------------------------------------------------

TEST_F(UkoSystime, ValidityFollowsTheCalendar) {
    struct Case {
        UKO_Systime t;
        bool valid;
    };
    const Case cases[] = {
        {T(2024, 2, 29), true},
        {T(2023, 2, 29), false},
        {T(2000, 2, 29), true},
        {T(2100, 2, 29), false},
        {T(1969, 12, 31, 23, 59, 59, 999), false},
        {T(1970, 1, 1), true},
        {T(65535, 12, 31, 23, 59, 59, 999), true},
        {T(2024, 4, 31), false},
        {T(2024, 1, 0), false},
        {T(2024, 0, 1), false},
        {T(2024, 13, 1), false},
        {T(2024, 1, 1, 24), false},
        {T(2024, 1, 1, 0, 60), false},
        {T(2024, 1, 1, 0, 0, 60), false},
        {T(2024, 1, 1, 0, 0, 0, 1000), false},
        {T(2024, 1, 1, 23, 59, 59, 999), true},
    };
    for (const Case& c : cases) {
        g_records.clear();
        EXPECT_EQ(UKO_SystimeCheck(&c.t), c.valid ? 1u : 0u) << Text(c.t);
        EXPECT_EQ(ukoSystimeIsValid(&c.t), c.valid ? 1u : 0u) << Text(c.t);
        if (c.valid) {
            EXPECT_TRUE(g_records.empty()) << Text(c.t);
        } else {
            ExpectOneRecord(kCheckFormat);
        }
    }
    g_records.clear();
    EXPECT_EQ(UKO_SystimeCheck(nullptr), 0u);
    ExpectOneRecord("[ZIRPA-%s]:The Param pSysTime is null.");
    g_records.clear();
    EXPECT_EQ(ukoSystimeIsValid(nullptr), 0u);
    EXPECT_TRUE(g_records.empty());
}

// ---- Compare and differences -------------------------------------------------------------------

TEST_F(UkoSystime, CompareOrdersDatesThenTimes) {
    struct Case {
        UKO_Systime a, b;
        uint32_t expected;
    };
    const Case cases[] = {
        {T(2024, 5, 1), T(2024, 4, 30, 23, 59, 59, 999), 3},
        {T(2024, 4, 30, 23, 59, 59, 999), T(2024, 5, 1), 1},
        {T(2024, 5, 1, 1, 2, 3, 4), T(2024, 5, 1, 1, 2, 3, 4), 2},
        {T(2024, 5, 1, 0, 0, 0, 1), T(2024, 5, 1, 0, 0, 0, 2), 1},
        {T(2024, 5, 1, 0, 0, 1), T(2024, 5, 1, 0, 0, 0, 999), 3},
        {T(2023, 12, 31), T(2024, 1, 1), 1},
        {T(2024, 5, 1), T(2023, 2, 29), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UKO_SystimeCompare(&c.a, &c.b), c.expected) << Text(c.a) << " / " << Text(c.b);
        g_records.clear();
        EXPECT_EQ(ukoSystimeCompareQuiet(&c.a, &c.b), c.expected);
        EXPECT_TRUE(g_records.empty()) << "the quiet compare records nothing";
    }
    UKO_Systime t = T(2024, 1, 1);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeCompare(&t, nullptr), 0u);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param pstFirstSystime(0x%p), pstSecondSystime(0x%p).");
    EXPECT_EQ(ukoSystimeCompareQuiet(nullptr, &t), 0u);
}

TEST_F(UkoSystime, DayDifferencesCountCalendarDays) {
    struct Case {
        UKO_Systime first, second;
        uint32_t days;
    };
    const Case cases[] = {
        {T(2024, 3, 1), T(2023, 12, 31), 61},
        {T(2024, 1, 1, 23, 59), T(2024, 1, 1, 0, 1), 0},
        {T(2024, 1, 1), T(2024, 1, 2), 0xFFFFFFFF},
        {T(2024, 3, 1), T(2024, 2, 28, 23, 59, 59), 2},
        {T(2023, 3, 1), T(2023, 2, 28), 1},
        {T(2024, 1, 31), T(2024, 1, 1), 30},
        {T(2025, 1, 1), T(2023, 1, 1), 731},
        {T(2000, 1, 1), T(1970, 1, 1), 10957},
        {T(2024, 5, 1), T(2024, 2, 30), 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UKO_SystimeRelDayCal(&c.first, &c.second), c.days)
            << Text(c.first) << " - " << Text(c.second);
    }
    g_records.clear();
    EXPECT_EQ(UKO_SystimeRelDayCal(nullptr, &cases[0].second), 0xFFFFFFFFu);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param pstFirstSystime(0x%p), pstSecondSystime(0x%p).");
}

TEST_F(UkoSystime, SecondDifferencesRefuseNegativeAndOversizedGaps) {
    struct Case {
        UKO_Systime first, second;
        uint32_t rc;
        uint32_t seconds;
        const char* record;  // the one error record expected, or nullptr
    };
    const Case cases[] = {
        {T(2024, 1, 2, 0, 0, 10), T(2024, 1, 1, 23, 59, 50), 0, 20, nullptr},
        {T(2024, 1, 1, 10, 0, 0, 0), T(2024, 1, 1, 9, 59, 59, 999), 0, 1, nullptr},
        {T(2024, 1, 1, 10, 0, 0, 5), T(2024, 1, 1, 10, 0, 0, 900), 0, 0, nullptr},
        {T(2024, 1, 1, 10), T(2024, 1, 1, 10, 0, 1), 22, 0,
         "[ZIRPA-%s]:The pFirstTm is less than pSecondTm(just second)."},
        {T(2024, 1, 1), T(2024, 1, 2), 22, 0, "[ZIRPA-%s]:FirstSystime is less than SecondSystime."},
        // The largest gap a 32-bit count holds, and one second more.
        {T(2106, 2, 7, 6, 28, 15), T(1970, 1, 1), 0, 0xFFFFFFFF, nullptr},
        {T(2106, 2, 7, 6, 28, 16), T(1970, 1, 1), 22, 0,
         "[ZIRPA-%s]:The relative seconds of %u days exceed 32 bits."},
        {T(65535, 12, 31), T(1970, 1, 1), 22, 0,
         "[ZIRPA-%s]:The relative seconds of %u days exceed 32 bits."},
        {T(2024, 1, 1), T(2024, 2, 30), 22, 0, kCheckFormat},
    };
    for (const Case& c : cases) {
        g_records.clear();
        uint32_t seconds = 12345;
        EXPECT_EQ(UKO_SystimeRelSecCal(&c.first, &c.second, &seconds), c.rc)
            << Text(c.first) << " - " << Text(c.second);
        EXPECT_EQ(seconds, c.seconds) << Text(c.first) << " - " << Text(c.second);
        if (c.record == nullptr) {
            EXPECT_TRUE(g_records.empty());
        } else {
            ExpectOneRecord(c.record);
        }
    }
    UKO_Systime t = T(2024, 1, 1);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeRelSecCal(&t, &t, nullptr), 22u);
    ExpectOneRecord(
        "[ZIRPA-%s]:Inval Param pstFirstSystime(0x%p), pstSecondSystime(0x%p), puiRelativeSec(0x%p).");
}

// ---- Milliseconds and seconds since 1970 --------------------------------------------------------

TEST_F(UkoSystime, MillisecondsSince1970AreExactToTheLastYear) {
    struct Case {
        UKO_Systime t;
        uint64_t ms;
    };
    const Case cases[] = {
        {T(1970, 1, 1, 0, 0, 0, 1), 1},
        {T(2024, 1, 1), 0x18CC251F400ull},
        {T(2024, 1, 2, 4), 1704168000000ull},
        {T(9999, 12, 31, 23, 59, 59, 999), 253402300799999ull},
        // Minutes pass 32 bits here: they must not wrap.
        {T(65535, 12, 31, 23, 59, 59, 999), 2005949145599999ull},
    };
    for (const Case& c : cases) {
        uint32_t high = 0xDEAD;
        uint32_t low = 0xBEEF;
        ASSERT_EQ(UKO_SystimeMsSince1970(&c.t, &high, &low), 0u) << Text(c.t);
        EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, c.ms) << Text(c.t);
    }
    UKO_Systime bad = T(2024, 2, 30);
    uint32_t high = 0;
    uint32_t low = 0;
    g_records.clear();
    EXPECT_EQ(UKO_SystimeMsSince1970(&bad, &high, &low), 22u);
    ExpectOneRecord(kCheckFormat);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeMsSince1970(&bad, nullptr, &low), 22u);
    ExpectOneRecord(
        "[ZIRPA-%s]:Inval Param pstSystime(0x%p), puiRetMillSecHigh(0x%p), puiRetMillSecLow(0x%p).");

    UKO_Systime t = T(2000, 3, 1);
    ASSERT_EQ(UKO_SystimeSecSince1970(&t, &high, &low), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 951868800u);
    EXPECT_EQ(UKO_SystimeSecSince1970(&bad, &high, &low), 22u);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeSecSince1970(nullptr, &high, &low), 22u);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param pstSystime(0x%p), puiRetSecHigh(0x%p), puiRetSecLow(0x%p).");

    EXPECT_EQ(ukoSystimeDaysSince1970(&t), 11017u);
    EXPECT_EQ(ukoSystimeDaysSince1970(&bad), 0xFFFFFFFFu);
    EXPECT_EQ(ukoSystimeDaysSince1970(nullptr), 0xFFFFFFFFu);

    UKO_Systime out = T(1999, 1, 1, 1, 1, 1, 7);
    UKO_SystimeSec2Time(951782400, &out);
    EXPECT_EQ(Text(out), "2000-02-29 00:00:00.000 w0");
    g_records.clear();
    UKO_SystimeSec2Time(0, nullptr);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param pstSystime is NULL.");
}

// ---- Week day, month length, text --------------------------------------------------------------

TEST_F(UkoSystime, WeekDayMonthLengthAndText) {
    UKO_Systime t = T(1970, 1, 1);
    EXPECT_EQ(UKO_SystimeWeekDayGet(&t), 0u);
    EXPECT_EQ(t.ucWeek, 4);
    t = T(2024, 1, 5, 25);  // only the date is looked at
    EXPECT_EQ(UKO_SystimeWeekDayGet(&t), 0u);
    EXPECT_EQ(t.ucWeek, 5);
    t = T(2023, 2, 29);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeWeekDayGet(&t), 22u);
    ExpectOneRecord("[ZIRPA-%s]: The Systime is invalid.");
    EXPECT_EQ(ukoSystimeWeekDayCalc(&t), 22u);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeWeekDayGet(nullptr), 22u);
    ExpectOneRecord("[ZIRPA-%s]:The Param pstSystime is null.");
    t = T(2000, 2, 29);
    EXPECT_EQ(ukoSystimeWeekDayCalc(&t), 0u);
    EXPECT_EQ(t.ucWeek, 2);

    EXPECT_EQ(UKO_SystimeMaxDateGet(2024, 2), 29);
    EXPECT_EQ(UKO_SystimeMaxDateGet(2023, 2), 28);
    EXPECT_EQ(UKO_SystimeMaxDateGet(2023, 11), 30);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeMaxDateGet(1969, 1), 255);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param usYear(%d), ucMonth(%d).");
    EXPECT_EQ(UKO_SystimeMaxDateGet(2024, 13), 255);
    EXPECT_EQ(UKO_SystimeMaxDateGet(2024, 0), 255);

    struct TextCase {
        UKO_Systime t;
        uint32_t rc;
        const char* text;
    };
    const TextCase texts[] = {
        {T(2024, 1, 5, 7, 8, 9), 0, "2024-1-5:7-8-9"},
        {T(9999, 12, 31, 23, 59, 59), 0, "9999-12-31:23-59-59"},
        {T(10000, 1, 1), 0, "10000-1-1:0-0-0"},
        // 20 characters do not fit 20 bytes with the terminator.
        {T(65535, 12, 31, 23, 59, 59), 22, nullptr},
    };
    for (const TextCase& c : texts) {
        char text[32];
        std::memset(text, 'x', sizeof(text));
        g_records.clear();
        EXPECT_EQ(UKO_Systime2Str(text, &c.t), c.rc) << Text(c.t);
        if (c.text != nullptr) {
            EXPECT_STREQ(text, c.text);
        } else {
            EXPECT_EQ(text[20], 'x') << "nothing written past 20 bytes";
            ASSERT_EQ(g_records.size(), 1u);
            EXPECT_EQ(g_records[0].moduleId, 0x203C);
        }
    }
    g_records.clear();
    EXPECT_EQ(UKO_Systime2Str(nullptr, &t), 22u);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param cpStrDT(0x%p), pstSystime(0x%p).");
}

// ---- Adding and subtracting -------------------------------------------------------------------

TEST_F(UkoSystime, SecondsAddAcrossDaysMonthsYearsAndLeapDays) {
    struct Case {
        UKO_Systime t;
        int32_t seconds;
        uint32_t rc;
        UKO_Systime expected;  // the record afterwards (unchanged on failure)
    };
    const Case cases[] = {
        {T(2023, 12, 31, 23, 59, 59), 1, 0, T(2024, 1, 1)},
        {T(2024, 3, 1), -1, 0, T(2024, 2, 29, 23, 59, 59)},
        {T(2023, 3, 1), -1, 0, T(2023, 2, 28, 23, 59, 59)},
        {T(2024, 2, 28, 12), 2 * 86400, 0, T(2024, 3, 1, 12)},
        {T(2024, 1, 1), 0x7FFFFFFF, 0, T(2092, 1, 19, 3, 14, 7)},
        {T(2040, 1, 1), INT32_MIN, 0, T(1971, 12, 13, 20, 45, 52)},
        {T(2024, 6, 15, 10, 20, 30, 400), 0, 0, T(2024, 6, 15, 10, 20, 30, 400)},
        {T(1970, 1, 1), -1, 22, T(1970, 1, 1)},
        {T(1970, 1, 2, 0, 0, 5), -2 * 86400, 22, T(1970, 1, 2, 0, 0, 5)},
        // A 16-bit year must not wrap to 0.
        {T(65535, 12, 31, 23, 59, 59), 1, 22, T(65535, 12, 31, 23, 59, 59)},
    };
    for (const Case& c : cases) {
        UKO_Systime t = c.t;
        EXPECT_EQ(ukoSystimeSecAdd(&t, c.seconds), c.rc) << Text(c.t) << " + " << c.seconds;
        EXPECT_EQ(Text(t), Text(c.expected)) << Text(c.t) << " + " << c.seconds;
    }
    EXPECT_EQ(ukoSystimeSecAdd(nullptr, 1), 22u);
}

TEST_F(UkoSystime, MillisecondsAddAndSubtractCarryAndSetTheWeekDay) {
    struct Case {
        bool add;
        UKO_Systime t;
        uint32_t ms;
        uint32_t rc;
        UKO_Systime expected;
    };
    auto W = [](UKO_Systime t, uint8_t week) {
        t.ucWeek = week;
        return t;
    };
    const Case cases[] = {
        {false, T(2024, 1, 1, 0, 0, 0, 100), 200, 0, W(T(2023, 12, 31, 23, 59, 59, 900), 0)},
        {true, T(2023, 12, 31, 23, 59, 59, 900), 200, 0, W(T(2024, 1, 1, 0, 0, 0, 100), 1)},
        {true, T(2024, 2, 28, 23, 59, 59, 999), 1, 0, W(T(2024, 2, 29), 4)},
        {true, T(2024, 1, 1, 0, 0, 0, 0), 86400000, 0, W(T(2024, 1, 2), 2)},
        {false, T(2024, 1, 1, 0, 0, 1, 500), 1000, 0, W(T(2024, 1, 1, 0, 0, 0, 500), 1)},
        {false, T(2024, 1, 1, 0, 0, 1, 500), 1500, 0, W(T(2024, 1, 1), 1)},
        {false, T(1970, 1, 1), 1, 22, T(1970, 1, 1)},
        {true, T(2024, 2, 30), 1, 22, T(2024, 2, 30)},
        {false, T(2024, 1, 1, 0, 0, 0, 1000), 1, 22, T(2024, 1, 1, 0, 0, 0, 1000)},
        {true, T(65535, 12, 31, 23, 59, 59, 999), 1, 22, T(65535, 12, 31, 23, 59, 59, 999)},
    };
    for (const Case& c : cases) {
        UKO_Systime t = c.t;
        uint32_t rc = c.add ? UKO_SystimeMsAdd(&t, c.ms) : UKO_SystimeMsSub(&t, c.ms);
        EXPECT_EQ(rc, c.rc) << Text(c.t) << (c.add ? " + " : " - ") << c.ms;
        EXPECT_EQ(Text(t), Text(c.expected)) << Text(c.t) << (c.add ? " + " : " - ") << c.ms;
    }
}

// ---- Time keeping ------------------------------------------------------------------------------

TEST_F(UkoSystime, NothingIsSetBeforeTheFirstSetAndNothingAdvances) {
    UKO_Systime t = T(1999, 9, 9, 9, 9, 9, 9);
    ASSERT_EQ(UKO_SystimeGet(&t), 0u);
    EXPECT_TRUE(Same(t, UKO_Systime{}));
    ASSERT_EQ(ukoSystimeLocalGet(&t), 0u);
    EXPECT_TRUE(Same(t, UKO_Systime{}));
    EXPECT_TRUE(Same(Sys(), UKO_Systime{}));

    uint32_t high = 7;
    uint32_t low = 7;
    g_records.clear();
    EXPECT_EQ(UKO_SystimeSecSince1970Get(&high, &low), 22u);
    ASSERT_FALSE(g_records.empty());
    EXPECT_EQ(g_records.back().format, "[ZIRPA-%s]:Fail to call ukoGetSecsSince1970.");
    EXPECT_EQ(g_records.back().code, 22);
    EXPECT_EQ(g_records.back().moduleId, 0x203C);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeSecSince1970Get(nullptr, &low), 22u);
    ExpectOneRecord("[ZIRPA-%s]:Inval Param puiTimeInSecHigh(0x%p), puiTimeInSecLow(0x%p).");

    UKO_Systime set = T(2024, 2, 29, 12, 0, 0, 250);
    ASSERT_EQ(UKO_SystimeSet(&set), 0u);
    EXPECT_EQ(Text(Sys()), "2024-02-29 12:00:00.250 w4");
    ASSERT_EQ(UKO_SystimeSecSince1970Get(&high, &low), 0u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 1709208000u);
    // The system time keeps its value: it is not a clock.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Text(Sys()), "2024-02-29 12:00:00.250 w4");
    // UKO_SystimeGet gives the LMT time, which only the time-zone package writes.
    ASSERT_EQ(UKO_SystimeGet(&t), 0u);
    EXPECT_TRUE(Same(t, UKO_Systime{}));
    UKO_Systime lmt = T(2024, 2, 29, 20, 0, 0, 250);
    UKO_Systime local = T(2024, 2, 29, 21);
    ASSERT_EQ(ukoSystimeRecordWrite(1, &lmt), 0u);
    ASSERT_EQ(ukoSystimeRecordWrite(2, &local), 0u);
    ASSERT_EQ(UKO_SystimeGet(&t), 0u);
    EXPECT_TRUE(Same(t, lmt));
    ASSERT_EQ(ukoSystimeLocalGet(&t), 0u);
    EXPECT_TRUE(Same(t, local));

    // Refused sets leave the system time alone.
    UKO_Systime bad = T(2023, 2, 29);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeSet(&bad), 22u);
    ExpectOneRecord(kCheckFormat);
    g_records.clear();
    EXPECT_EQ(UKO_SystimeSet(nullptr), 22u);
    ExpectOneRecord("[ZIRPA-%s]:The Param pstSystime is null.");
    EXPECT_EQ(Text(Sys()), "2024-02-29 12:00:00.250 w4");
    EXPECT_EQ(UKO_SystimeGet(nullptr), 22u);
    EXPECT_EQ(UKO_SystimeSysGet(nullptr), 22u);
    EXPECT_EQ(ukoSystimeLocalGet(nullptr), 22u);
}

// ---- The set sequence and its hooks --------------------------------------------------------

std::vector<std::string> g_events;
uint32_t g_lmtDeriveCode = 0;
uint32_t g_localDeriveCode = 0;
uint32_t g_stateAnswers[2] = {0, 0};
int g_stateCall = 0;
bool g_otherThreadRead = false;

void ReadFromAnotherThread() {
    // Joins only when the systime lock is free.
    std::thread reader([] {
        UKO_Systime t;
        g_otherThreadRead = UKO_SystimeSysGet(&t) == 0;
    });
    reader.join();
}

uint32_t LmtDerive(const UKO_Systime* n, UKO_Systime* lmt) {
    // Runs under the lock, which the same thread may take again.
    UKO_Systime current;
    (void)UKO_SystimeSysGet(&current);
    g_events.push_back("lmt(" + Text(*n) + ",old " + Text(current) + ")");
    *lmt = *n;
    lmt->ucHour = static_cast<uint8_t>(lmt->ucHour + 8);
    return g_lmtDeriveCode;
}
uint32_t LocalDerive(const UKO_Systime* n, UKO_Systime* local, uint64_t* extra) {
    g_events.push_back("local(" + Text(*n) + ")");
    *local = *n;
    local->ucHour = static_cast<uint8_t>(local->ucHour + 9);
    *extra = 0x1122334455667788ull;
    return g_localDeriveCode;
}
uint32_t State(const UKO_Systime* t) {
    g_events.push_back("state(" + Text(*t) + ")");
    return g_stateAnswers[g_stateCall++ % 2];
}
void Change(const UKO_Systime* oldLmt, const UKO_Systime* newLmt, const UKO_Systime* oldSys,
            const UKO_Systime* newSys, const UKO_Systime* oldLocal, const UKO_Systime* newLocal,
            uint32_t flags) {
    ReadFromAnotherThread();
    g_events.push_back("change(" + Text(*oldLmt) + "," + Text(*newLmt) + "," + Text(*oldSys) + "," +
                       Text(*newSys) + "," + Text(*oldLocal) + "," + Text(*newLocal) + "," +
                       std::to_string(flags) + ")");
}
void Notify(const UKO_Systime* oldT, const UKO_Systime* newT, uint32_t source, uint32_t type) {
    ReadFromAnotherThread();
    g_events.push_back("notify(" + Text(*oldT) + "," + Text(*newT) + "," + std::to_string(source) +
                       "," + std::to_string(type) + ")");
}
void Notify2(const UKO_Systime* oldT, const UKO_Systime* newT, uint32_t zero) {
    g_events.push_back("notify2(" + Text(*oldT) + "," + Text(*newT) + "," + std::to_string(zero) + ")");
}
void OtherNotify(const UKO_Systime*, const UKO_Systime*, uint32_t, uint32_t) {
    g_events.push_back("other");
}

class UkoSystimeSet : public UkoSystime {
protected:
    void SetUp() override {
        UkoSystime::SetUp();
        g_events.clear();
        g_lmtDeriveCode = 0;
        g_localDeriveCode = 0;
        g_stateAnswers[0] = g_stateAnswers[1] = 0;
        g_stateCall = 0;
        g_otherThreadRead = false;
        UKO_SystimeLmtDeriveHookSet(LmtDerive);
        UKO_SystimeLocalDeriveHookSet(LocalDerive);
        UKO_SystimeStateHookSet(State);
        UKO_SystimeChangeHookSet(Change);
        UKO_SystimeNotifyHookSet(Notify);
        UKO_SystimeNotifyHook2Set(Notify2);
        UKO_Systime old = T(2020, 1, 1);
        old.ucWeek = 3;
        UKO_Systime lmt = T(2020, 1, 1, 8);
        UKO_Systime local = T(2020, 1, 1, 9);
        ukoSystimeRecordWrite(0, &old);
        ukoSystimeRecordWrite(1, &lmt);
        ukoSystimeRecordWrite(2, &local);
    }
};

TEST_F(UkoSystimeSet, HooksRunInTheirOrderAroundTheStore) {
    struct Case {
        uint32_t s1, s2;
        uint32_t flags;
    };
    // Flags: 2 when the LMT state changed, 4 besides when the new state is 1.
    const Case cases[] = {{0, 0, 0}, {0, 1, 6}, {1, 2, 2}, {3, 3, 0}};
    for (const Case& c : cases) {
        g_events.clear();
        g_stateCall = 0;
        g_stateAnswers[0] = c.s1;
        g_stateAnswers[1] = c.s2;
        UKO_Systime old = Sys();
        UKO_Systime n = T(2024, 2, 29, 10, 0, 0, 5);
        ASSERT_EQ(UKO_SystimeSet(&n), 0u);
        UKO_Systime stored = n;
        stored.ucWeek = 4;
        const std::string lmtOld = "2020-01-01 08:00:00.000 w0";
        const std::string localOld = "2020-01-01 09:00:00.000 w0";
        const std::vector<std::string> expected = {
            "lmt(" + Text(n) + ",old " + Text(old) + ")",
            "local(" + Text(n) + ")",
            "state(" + lmtOld + ")",
            "state(" + lmtOld + ")",
            "change(" + lmtOld + "," + lmtOld + "," + Text(old) + "," + Text(stored) + "," +
                localOld + "," + localOld + "," + std::to_string(c.flags) + ")",
            "notify(" + Text(old) + "," + Text(stored) + ",1,0)",
            "notify(" + lmtOld + ",2024-02-29 18:00:00.005 w0,1,1)",
            "notify(" + localOld + ",2024-02-29 19:00:00.005 w0,1,2)",
            "notify2(" + Text(old) + "," + Text(stored) + ",0)",
        };
        EXPECT_EQ(g_events, expected) << "states " << c.s1 << "," << c.s2;
        EXPECT_TRUE(g_otherThreadRead) << "change and notify hooks run without the lock";
        EXPECT_EQ(Text(Sys()), Text(stored));
    }
}

TEST_F(UkoSystimeSet, ADeriveCodeCancelsBeforeAnythingIsStored) {
    const uint32_t codes[][2] = {{0x203C0001u, 0}, {0, 7}};
    for (const auto& code : codes) {
        g_events.clear();
        g_lmtDeriveCode = code[0];
        g_localDeriveCode = code[1];
        UKO_Systime before = Sys();
        UKO_Systime n = T(2024, 2, 29, 10);
        EXPECT_EQ(UKO_SystimeSet(&n), code[0] != 0 ? code[0] : code[1]);
        EXPECT_TRUE(Same(Sys(), before));
        // Only the derive hooks ran: no state, change or notification.
        ASSERT_EQ(g_events.size(), code[0] != 0 ? 1u : 2u);
        EXPECT_EQ(g_events[0].rfind("lmt(", 0), 0u);
    }
}

TEST_F(UkoSystimeSet, TheNotifySetterKeepsItsHookOnNull) {
    UKO_SystimeNotifyHookSet(OtherNotify);
    UKO_SystimeNotifyHookSet(nullptr);
    UKO_SystimeLmtDeriveHookSet(nullptr);
    UKO_SystimeLocalDeriveHookSet(nullptr);
    UKO_SystimeStateHookSet(nullptr);
    UKO_SystimeChangeHookSet(nullptr);
    UKO_SystimeNotifyHook2Set(nullptr);
    UKO_Systime n = T(2024, 2, 29);
    ASSERT_EQ(UKO_SystimeSet(&n), 0u);
    EXPECT_EQ(g_events, (std::vector<std::string>{"other", "other", "other"}));
}

// ---- The set command ---------------------------------------------------------------------

uint32_t g_toSysCode = 0;
uint32_t MinusEight(const UKO_Systime* in, UKO_Systime* out) {
    *out = *in;
    (void)ukoSystimeSecAdd(out, -8 * 3600);
    return g_toSysCode;
}

TEST_F(UkoSystime, SetCommandParsesItsTextAndHonoursTheType) {
    const std::string ok = kStars80 + "\r\nset time to zirpa successful." + kStars80;
    const std::string failed = "\r\nset time to zirpa failed." + kStars80;
    const std::string invalid = kStars80 + "\r\nset time to zirpa failed, for the time is invalid." + kStars80;
    struct Case {
        uint32_t type;
        const char* text;
        bool hooks;
        uint32_t rc;
        const char* sysAfter;  // the system time afterwards, or nullptr: unchanged
        std::string printed;
    };
    const Case cases[] = {
        {0, "2024-02-29/23:59:59", false, 0, "2024-02-29 23:59:59.000 w4", ok},
        {0, "2024-02-29/23:59:59 and more", false, 0, "2024-02-29 23:59:59.000 w4", ok},
        {0, "2024-2-29/23:59:59", false, 22, nullptr, invalid},
        {0, "2024-02-30/00:00:00", false, 22, nullptr, invalid},
        {0, "2024-02-29/23:59:5", false, 22, nullptr, invalid},
        {0, "", false, 22, nullptr, invalid},
        {0, nullptr, false, 22, nullptr, invalid},
        {0, "2024-02-29 23:59:59", false, 22, nullptr, invalid},
        {0, "2024-02-29/23-59-59", false, 22, nullptr, invalid},
        {0, "+024-02-29/23:59:59", false, 22, nullptr, invalid},
        {0, "2024-02-29/24:00:00", false, 22, nullptr, invalid},
        {0, "1969-12-31/23:59:59", false, 22, nullptr, invalid},
        {1, "2024-03-01/05:00:00", false, 22, nullptr,
         kStars80 + "\r\nset time to zirpa failed." +
             "\r\nno support LMT time settings, please load the \"uko_timezone\" package." + kStars80},
        {2, "2024-03-01/05:00:00", false, 22, nullptr,
         kStars80 + "\r\nset time to zirpa failed." +
             "\r\nno support Local time settings, please load the \"uko_timezone\" package." + kStars80},
        {1, "2024-03-01/05:00:00", true, 0, "2024-02-29 21:00:00.000 w4", ok},
        {2, "2024-03-01/05:00:00", true, 0, "2024-02-29 21:00:00.000 w4", ok},
        {3, "2024-03-01/05:00:00", true, 22, nullptr,
         kStars80 + "\r\nset time to zirpa failed, for the systime type is invalid." + kStars80},
    };
    for (const Case& c : cases) {
        ukoSystimeReset();
        ukoSystimePrinterSet(Printer);
        g_printed.clear();
        if (c.hooks) {
            UKO_SystimeLmtToSysHookSet(MinusEight);
            UKO_SystimeLocalToSysHookSet(MinusEight);
        }
        const char* text = c.text != nullptr ? c.text : "(null)";
        EXPECT_EQ(ukoSystimeSetCmd(c.type, c.text, 0), c.rc) << c.type << " " << text;
        EXPECT_EQ(Text(Sys()), c.sysAfter != nullptr ? c.sysAfter : Text(UKO_Systime{}))
            << c.type << " " << text;
        EXPECT_EQ(g_printed, c.printed) << c.type << " " << text;
    }

    // A conversion that fails gives its own code.
    ukoSystimeReset();
    ukoSystimePrinterSet(Printer);
    g_printed.clear();
    g_toSysCode = 5;
    UKO_SystimeLmtToSysHookSet(MinusEight);
    EXPECT_EQ(ukoSystimeSetCmd(1, "2024-03-01/05:00:00", 0), 5u);
    EXPECT_EQ(g_printed, kStars80 + failed);
    EXPECT_TRUE(Same(Sys(), UKO_Systime{}));
    g_toSysCode = 0;
}

TEST_F(UkoSystime, ParsedRecordsCarryTheirWeekDay) {
    UKO_Systime t = {};
    ASSERT_EQ(ukoSystimeStrParse("1970-01-01/00:00:00", &t), 0u);
    EXPECT_EQ(Text(t), "1970-01-01 00:00:00.000 w4");
    UKO_Systime before = t;
    EXPECT_EQ(ukoSystimeStrParse("1970-01-01/00:00:0x", &t), 22u);
    EXPECT_TRUE(Same(t, before)) << "a refused text writes nothing";
}

// ---- The OS clock -------------------------------------------------------------------------

TEST_F(UkoSystime, FromOsSetsTheSystemTimeThroughTheSetSequence) {
    UKO_SystimeNotifyHookSet(OtherNotify);
    g_events.clear();
    g_osNow = T(2024, 1, 1, 20, 0, 0, 123);
    EXPECT_EQ(ukoSystimeFromOs(0), 0u);
    EXPECT_EQ(Text(Sys()), "2024-01-01 20:00:00.123 w1");
    EXPECT_EQ(g_printed, kStars80 + "\r\nset systime os-to-zirpa successful." + kStars80);
    EXPECT_EQ(g_events.size(), 3u);

    g_printed.clear();
    g_osReadResult = 5;
    g_osNow = T(2030, 1, 1);
    EXPECT_EQ(ukoSystimeFromOs(0), 5u);
    EXPECT_EQ(Text(Sys()), "2024-01-01 20:00:00.123 w1");
    EXPECT_EQ(g_printed, kStars80 + "\r\nset systime os-to-zirpa failed." + kStars80);
}

TEST_F(UkoSystime, ToOsHandsTheSystemTimeToTheClockSetter) {
    const std::string ok = kStars80 + "\r\nset systime zirpa-to-os successful." + kStars80;
    const std::string failed = kStars80 + "\r\nset systime zirpa-to-os failed." + kStars80;
    // Never set: the clock is not touched.
    EXPECT_EQ(ukoSystimeToOs(0), 22u);
    EXPECT_TRUE(g_clockSets.empty());
    EXPECT_EQ(g_printed, failed);

    struct Case {
        UKO_Systime sys;
        int setterResult;
        uint32_t rc;
        bool setterCalled;
        int64_t sec;
        int64_t usec;
    };
    const Case cases[] = {
        {T(2024, 1, 1, 0, 0, 0, 250), 0, 0, true, 1704067200, 250000},
        {T(2106, 2, 7, 6, 28, 15, 999), 0, 0, true, 4294967295LL, 999000},
        // Past what 32-bit seconds carry: would wrap into the 1970s.
        {T(2106, 2, 7, 6, 28, 16), 0, 22, false, 0, 0},
        {T(2024, 1, 1), -1, 0xFFFFFFFF, true, 1704067200, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(UKO_SystimeSet(&c.sys), 0u);
        g_clockSets.clear();
        g_printed.clear();
        g_clockSetResult = c.setterResult;
        EXPECT_EQ(ukoSystimeToOs(0), c.rc) << Text(c.sys);
        EXPECT_EQ(g_printed, c.rc == 0 ? ok : failed);
        ASSERT_EQ(g_clockSets.size(), c.setterCalled ? 1u : 0u) << Text(c.sys);
        if (c.setterCalled) {
            EXPECT_EQ(g_clockSets[0].tv_sec, c.sec);
            EXPECT_EQ(g_clockSets[0].tv_usec, c.usec);
        }
    }
}

// ---- UTC+8 ---------------------------------------------------------------------------------

uint64_t DateTimeMs(uint32_t y, uint32_t mo, uint32_t d, uint32_t h, uint32_t mi, uint32_t s,
                    uint32_t ms) {
    uint32_t high = 0;
    uint32_t low = 0;
    Jqrs_DateTimeToMs((y << 16) | (mo << 8) | d, (h << 16) | (mi << 8) | s, ms, &high, &low);
    return (static_cast<uint64_t>(high) << 32) | low;
}

TEST_F(UkoSystime, UtcPlusEightMilliseconds) {
    EXPECT_EQ(DateTimeMs(1970, 1, 1, 0, 0, 0, 1), 1u);
    EXPECT_EQ(DateTimeMs(2024, 1, 2, 4, 0, 0, 0), 1704168000000ull);
    EXPECT_EQ(DateTimeMs(2024, 1, 1, 28, 0, 0, 0), 1704168000000ull) << "hours past 23 run on";
    EXPECT_EQ(DateTimeMs(2024, 3, 1, 0, 0, 0, 0), 1709251200000ull);
    EXPECT_EQ(DateTimeMs(1969, 1, 1, 0, 0, 0, 0), 0u) << "no whole years before 1970";
    EXPECT_EQ(DateTimeMs(2024, 0, 1, 0, 0, 0, 0), 1704067200000ull) << "no months for month 0";
    // Months past December stop at December instead of running off the month table.
    EXPECT_EQ(DateTimeMs(2023, 13, 1, 0, 0, 0, 0), 1704067200000ull);
    EXPECT_EQ(DateTimeMs(2023, 255, 1, 0, 0, 0, 0), 1704067200000ull);
    EXPECT_EQ(DateTimeMs(65535, 12, 31, 23, 59, 59, 999), 2005949145599999ull);

    g_osNow = T(2024, 1, 1, 20);
    uint32_t high = 0;
    uint32_t low = 0;
    ASSERT_EQ(Jqrs_MsNowUtc8Get(&high, &low), 0u);
    EXPECT_EQ(high, 0x18Cu);
    EXPECT_EQ(low, 0xC8540A00u);
    g_osNow = T(2024, 12, 31, 23, 59, 59, 999);
    ASSERT_EQ(Jqrs_MsNowUtc8Get(&high, &low), 0u);
    EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, 1735689599999ull + 8 * 3600000ull);

    EXPECT_EQ(Jqrs_MsNowUtc8Get(nullptr, &low), 1u);
    EXPECT_EQ(Jqrs_MsNowUtc8Get(&high, nullptr), 1u);
    high = low = 77;
    g_osReadResult = 5;
    EXPECT_EQ(Jqrs_MsNowUtc8Get(&high, &low), 1u) << "an unreadable clock is a failure";
    EXPECT_EQ(high, 77u);
    EXPECT_EQ(low, 77u);

    // The real OS clock, read through the platform: somewhere after 2024.
    ukoSystimeOsReaderSet(nullptr);
    ASSERT_EQ(Jqrs_MsNowUtc8Get(&high, &low), 0u);
    EXPECT_GT((static_cast<uint64_t>(high) << 32) | low, 1704067200000ull);
}

// ---- Start record, change-reserve box and tick gaps ---------------------------------------

TEST_F(UkoSystime, StartRecordAndSwitchShows) {
    UKO_Systime lmt = T(2024, 1, 5, 7, 8, 9, 10);
    ukoSystimeRecordWrite(1, &lmt);
    ASSERT_EQ(ukoSystimeStartRecord(), 0u);
    lmt = T(2030, 1, 1);
    ukoSystimeRecordWrite(1, &lmt);
    ASSERT_EQ(ukoSystimeStartShow(0), 0u);
    EXPECT_EQ(g_printed, kStars60 + "\r\n system start at 2024-01-05 07:08:09.010" + kStars60);

    struct Case {
        uint32_t boxSwitch, segments;
        std::string printed;
    };
    const Case cases[] = {
        {0, 0, kStars60 + "\r\n UKO_SYSTIME_CHANGE_BOX_SWITCH is False." + kStars60},
        {0, 3, kStars60 + "\r\n UKO_SYSTIME_CHANGE_BOX_SWITCH is False." + kStars60},
        {1, 0, kStars60 + "\r\n UKO_SYSTIME_SEGMENT_NUM is zero." + kStars60},
        {1, 3, ""},
    };
    for (const Case& c : cases) {
        g_printed.clear();
        UKO_SYSTIME_CHANGE_BOX_SWITCH = c.boxSwitch;
        UKO_SYSTIME_SEGMENT_NUM = c.segments;
        EXPECT_EQ(ukoSystimeChangeBoxSwitchShow(0), 0u);
        EXPECT_EQ(g_printed, c.printed) << c.boxSwitch << "," << c.segments;
    }
}

TEST_F(UkoSystime, TickUpdateKeepsTheLargestGapAndTheRing) {
    g_cpuTicks = {100, 150, 400, 420, 0x100000010ull, 0x100000011ull};
    ukoSystimeCpuTickReaderSet(FakeCpuTick);
    UKO_SystimeChangeBox box;
    std::memset(&box, 0xAB, sizeof(box));
    ukoSystimeChangeBoxLocationSet(&box);

    EXPECT_EQ(ukoSystimeTickUpdate(), 100u);  // remembers only
    UKO_SYSTIME_TICK_GAP_STAT stat;
    ukoSystimeTickGapStatGet(&stat);
    EXPECT_EQ(stat.uvMaxGap, 0u);
    EXPECT_EQ(ukoSystimeTickUpdate(), 150u);
    UKO_Systime lmt = T(2024, 6, 1, 12);
    ukoSystimeRecordWrite(1, &lmt);
    UKO_SYSTIME_CHANGE_BOX_SWITCH = 1;
    EXPECT_EQ(ukoSystimeTickUpdate(), 400u);
    UKO_Systime later = T(2024, 6, 1, 13);
    ukoSystimeRecordWrite(1, &later);
    EXPECT_EQ(ukoSystimeTickUpdate(), 420u);
    ukoSystimeTickGapStatGet(&stat);
    EXPECT_EQ(stat.uvMaxGap, 250u);
    EXPECT_TRUE(Same(stat.stMaxGapTime, lmt)) << "the time the largest gap was seen";
    EXPECT_EQ(stat.auvRing[0], 250u);
    EXPECT_EQ(stat.auvRing[1], 20u);
    EXPECT_EQ(stat.uiRingNext, 2u);
    EXPECT_EQ(stat.uvPrevious, 420u);
    // A box that was never set up is not written to, whatever the tracking switch says.
    ukoSystimeChangeBoxTickSwitch(1);
    EXPECT_EQ(ukoSystimeTickUpdate(), 0x10u);
    EXPECT_EQ(box.uiLastCpuTickLow, 0xABABABABu);

    // Set up: the start tick is also the last tick until an update with tracking on.
    g_cpuTicks.push_back(0x200000020ull);
    g_cpuTicks.push_back(0x300000030ull);
    ASSERT_EQ(ukoSystimeChangeBoxInit(), 0u);
    EXPECT_EQ(box.uiMagic, 0x53544352u);
    EXPECT_EQ(box.uiStartCpuTickHigh, 1u);
    EXPECT_EQ(box.uiStartCpuTickLow, 0x11u);
    EXPECT_EQ(box.uiLastCpuTickHigh, 1u);
    EXPECT_EQ(box.uiLastCpuTickLow, 0x11u);
    EXPECT_TRUE(Same(box.stStartTime, later));
    uint32_t base = 0;
    ASSERT_EQ(UKO_CpuTickBaseGet(&base), 0u);
    EXPECT_EQ(box.uiCpuTickPerMs, base / 10) << "CPU ticks per tick over 10 ms per tick";
    ukoSystimeChangeBoxTickSwitch(0);
    ukoSystimeTickUpdate();
    EXPECT_EQ(box.uiLastCpuTickHigh, 1u);
    ukoSystimeChangeBoxTickSwitch(1);
    ukoSystimeTickUpdate();
    EXPECT_EQ(box.uiLastCpuTickHigh, 3u);
    EXPECT_EQ(box.uiLastCpuTickLow, 0x30u);

    ukoSystimeChangeBoxLocationSet(nullptr);
    EXPECT_EQ(ukoSystimeChangeBoxInit(), 0u) << "no box: nothing to do";
}

TEST_F(UkoSystime, ChangeBoxShowWritesItsReportIntoTheBuffer) {
    UKO_SystimeChangeBox box = {};
    box.uiMagic = 0x53544352;
    box.uiCpuTickPerMs = 1000000;
    box.stStartTime = T(2024, 1, 5, 7, 8, 9, 10);
    box.stStartTime.ucWeek = 12;  // shown modulo 7
    box.uiStartCpuTickHigh = 1;
    box.uiStartCpuTickLow = 0xFFFFFF00;
    uint64_t last = 0x1FFFFFF00ull + 1500ull * 1000000 + 999999;
    box.uiLastCpuTickHigh = static_cast<uint32_t>(last >> 32);
    box.uiLastCpuTickLow = static_cast<uint32_t>(last);
    const std::string stars(80, '*');
    const std::string full =
        "\r\n" + stars +
        "\r\n System Start Time            : 2024-01-05 07:08:09.010 , Week: Fri"
        "\r\n System Start CpuTick         : 0x00000001 ffffff00"
        "\r\n System Last CpuTick          : 0x00000002 5977703f"
        "\r\n System Total Running CpuTick : 0x00000000 5977713f"
        "\r\n CpuTick Per MilliSecs        : 0x000f4240"
        "\r\n System Total Running Time    : 1.500 (s.ms)"
        "\r\n" + stars;

    char buf[1024];
    uint32_t written = 0;
    EXPECT_EQ(ukoSystimeChangeBoxShow(0, &box, sizeof(box), buf, sizeof(buf), &written), 1u);
    EXPECT_EQ(std::string(buf), full);
    EXPECT_EQ(written, full.size());

    // Too small a buffer: what fitted stays, terminated, and the result says so.
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(ukoSystimeChangeBoxShow(0, &box, sizeof(box), buf, 120, &written), 0u);
    EXPECT_LT(written, 120u);
    EXPECT_EQ(std::string(buf), full.substr(0, written));
    EXPECT_EQ(buf[120], 'x');

    struct Case {
        uint32_t magic;
        uint32_t len;
        const char* text;
    };
    const Case cases[] = {
        {0x12345678, 36, "The Systime Change Reserve box info magic num(0x12345678) is invalid!\r\n"},
        {0x53544352, 35, "The Systime Change Reserve box info length(35) is invalid!\r\n"},
        {0x12345678, 3, "The Systime Change Reserve box info length(3) is invalid!\r\n"},
    };
    for (const Case& c : cases) {
        box.uiMagic = c.magic;
        written = 0;
        EXPECT_EQ(ukoSystimeChangeBoxShow(0, &box, c.len, buf, sizeof(buf), &written), 1u);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(written, std::strlen(c.text));
    }
    written = 99;
    EXPECT_EQ(ukoSystimeChangeBoxShow(0, nullptr, 36, buf, sizeof(buf), &written), 0u);
    EXPECT_EQ(ukoSystimeChangeBoxShow(0, &box, 36, nullptr, sizeof(buf), &written), 0u);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(ukoSystimeChangeBoxShow(0, &box, 36, buf, sizeof(buf), nullptr), 0u);
}

}  // namespace
