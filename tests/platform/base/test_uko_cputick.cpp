#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "os_time.h"
#include "osal_cputick.h"
#include "osal_lock.h"
#include "uko_cputick.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"
#include "vt_test/temp_env.h"

namespace {

constexpr uint64_t kTwo32 = 1ULL << 32;

UKO_CPUTICK_S Ticks(uint64_t v) {
    return UKO_CPUTICK_S{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}
uint64_t Value(uint32_t high, uint32_t low) { return (static_cast<uint64_t>(high) << 32) | low; }

std::vector<std::string> g_formats;
void Observe(uint32_t, uint16_t, uint16_t module, const char*, uint16_t, const char* format) {
    // Only this module's records; the debug notice of the start-up is level 0 and kept.
    if (module == 0x203B || module == 0xFFFF) g_formats.push_back(format);
}

// A counter the test moves by hand.
uint64_t g_counter = 0;
uint64_t ManualCounter() { return g_counter; }

uint32_t g_hookBase = 26000000;
uint32_t FixedBaseHook() { return g_hookBase; }

// The base of the conversion examples: 26,000,000 counter units per 10 ms tick,
// started through the base hook at counter value 1000.
struct CpuTickFixture : ::testing::Test {
    void SetUp() override {
        OS_TickConfigInit(0);
        g_counter = 1000;
        ukoCpuTickCounterSet(ManualCounter);
        g_hookBase = 26000000;
        OSAL_CpuTickBaseHookSet(FixedBaseHook);
        ASSERT_EQ(UKO_CpuTickInit(0), 0u);
        g_formats.clear();
        ukoErrorRecordObserverSet(Observe);
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        OSAL_CpuTickBaseHookSet(OSAL_CpuTickMonotonicBase);
        ukoCpuTickCounterSet(nullptr);
        OS_TickConfigInit(0);
    }
};

// ---- Start-up ----------------------------------------------------------------------------

// Alarm requests of a measurement; none may come when the hook gives the base.
int g_alarmRequests = 0;
void CountAlarm(unsigned int /*seconds*/) { ++g_alarmRequests; }

TEST(CpuTickInit, TheInstalledHookGivesTheMonotonicBaseAtOnce) {
    vt_test::TempEnv env;  // the log's start-up step makes its folder under HOME
    auto r = vt_test::RunInChild([] {
        uint32_t base = 0;
        EXPECT_EQ(UKO_CpuTickBaseGet(&base), 22u) << "not initialised before the start";
        ukoCpuTickAlarmSet(CountAlarm);
        ASSERT_EQ(UKO_Start(), 0u);
        EXPECT_EQ(g_alarmRequests, 0) << "the start measured a second instead of asking the hook";
        ASSERT_EQ(UKO_CpuTickBaseGet(&base), 0u);
        EXPECT_EQ(base, 10000000u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST(CpuTickInit, ConversionsBeforeTheStartFailNotInitialised) {
    auto r = vt_test::RunInChild([] {
        UKO_CPUTICK_S t = Ticks(123456789);
        uint32_t a = 0;
        uint32_t b = 0;
        EXPECT_EQ(UKO_CpuTick2Ms(&t, &a, &b), 22u);
        EXPECT_EQ(UKO_CpuTick2Us(&t, &a, &b), 22u);
        EXPECT_EQ(UKO_CpuTick2NanoSecs(&t, &a, &b), 22u);
        EXPECT_EQ(UKO_CpuTickMs2CpuTick(&t, 0, 1), 22u);
        EXPECT_EQ(UKO_CpuTickLess1Ms2CpuTick(&t, 1), 22u);
        EXPECT_EQ(UKO_CpuTick2Tick(&t, &a, &b), 22u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST_F(CpuTickFixture, AHookBaseOfZeroLeavesTheBaseNotInitialised) {
    g_hookBase = 0;
    EXPECT_EQ(UKO_CpuTickInit(0), 22u);
    uint32_t base = 7;
    EXPECT_EQ(UKO_CpuTickBaseGet(&base), 22u);
    EXPECT_EQ(base, 7u);
    UKO_CPUTICK_S t = Ticks(5200000);
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 22u);
    ASSERT_FALSE(g_formats.empty());
    EXPECT_NE(std::find(g_formats.begin(), g_formats.end(),
                        "[ZIRPA-%s]:CPUTickBase is initialized to invalid value"),
              g_formats.end());
}

TEST_F(CpuTickFixture, WithoutAHookTheStartReadsTheFile) {
    vt_test::TempEnv env;
    std::string path = env.Tmp() + "/cpuinfo";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("processor\t: 0\ncpu family\t: 6\ncpu MHz\t\t: 2596.132\n", f);
    fclose(f);
    ukoCpuTickInfoFileSet(path.c_str());
    OSAL_CpuTickBaseHookSet(nullptr);
    EXPECT_EQ(UKO_CpuTickInit(0), 0u);
    ukoCpuTickInfoFileSet(nullptr);
    uint32_t base = 0;
    ASSERT_EQ(UKO_CpuTickBaseGet(&base), 0u);
    EXPECT_EQ(base, 25961320u);
}

// No hook, no file and SIGALRM blocked: the measurement waits for the alarm and gives
// up after about 3 s (the child's time limit catches one that never does), the start
// fails with 1 and leaves the base at 0, every conversion then fails cleanly, and the
// alarm it raised does not stay pending to end the process later.
TEST(CpuTickInit, BlockedAlarmEndsTheStartWithNoBase) {
    auto r = vt_test::RunInChild(
        [] {
            OS_TickConfigInit(0);
            OSAL_CpuTickBaseHookSet(nullptr);
            ukoCpuTickInfoFileSet("/nonexistent/cpuinfo");
            sigset_t alarmOnly;
            sigemptyset(&alarmOnly);
            sigaddset(&alarmOnly, SIGALRM);
            sigprocmask(SIG_BLOCK, &alarmOnly, nullptr);

            auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(UKO_CpuTickInit(0), 1u);
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500))
                << "gave up before the alarm could have come";

            uint32_t base = 7;
            EXPECT_EQ(UKO_CpuTickBaseGet(&base), 22u) << "a base of zero";
            EXPECT_EQ(base, 7u);
            UKO_CPUTICK_S t = Ticks(5200000);
            uint32_t a = 0;
            uint32_t b = 0;
            EXPECT_EQ(UKO_CpuTick2Ms(&t, &a, &b), 33u);
            EXPECT_EQ(UKO_CpuTick2Us(&t, &a, &b), 33u);
            EXPECT_NE(UKO_CpuTick2NanoSecs(&t, &a, &b), 0u);
            EXPECT_EQ(UKO_CpuTick2Tick(&t, &a, &b), 22u);
            // Nor may the way back claim success with a count of 0 ticks.
            UKO_CPUTICK_S back = Ticks(42);
            EXPECT_EQ(UKO_CpuTickMs2CpuTick(&back, 0, 3), 22u);
            EXPECT_EQ(UKO_CpuTickLess1Ms2CpuTick(&back, 500000), 22u);
            EXPECT_EQ(Value(back.uiHigh, back.uiLow), 42u);

            // Unblocking must not deliver a leftover alarm (default action: terminate).
            sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
        },
        10000);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST_F(CpuTickFixture, BaseGetRefusesANullOut) {
    EXPECT_EQ(UKO_CpuTickBaseGet(nullptr), 22u);
    ASSERT_EQ(g_formats.size(), 1u);
    EXPECT_EQ(g_formats[0], "[ZIRPA-%s]:The Param pCpuTickBase is null.");
    uint32_t base = 0;
    EXPECT_EQ(UKO_CpuTickBaseGet(&base), 0u);
    EXPECT_EQ(base, 26000000u);
}

// ---- Conversions ---------------------------------------------------------------------

TEST_F(CpuTickFixture, TicksToMilliseconds) {
    struct Case {
        uint64_t ticks;
        uint64_t ms;
    };
    // 2,600,000 ticks per millisecond.
    const Case cases[] = {{0, 0}, {2599999, 0}, {5200000, 2}, {2600000ULL * kTwo32 + 2600000, kTwo32 + 1},
                          {0xFFFFFFFFFFFFFFFFULL, 0xFFFFFFFFFFFFFFFFULL / 2600000}};
    for (const Case& c : cases) {
        UKO_CPUTICK_S t = Ticks(c.ticks);
        uint32_t high = 0;
        uint32_t low = 0;
        ASSERT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 0u) << c.ticks;
        EXPECT_EQ(Value(high, low), c.ms) << c.ticks;
    }
}

TEST_F(CpuTickFixture, MillisecondsToTicks) {
    UKO_CPUTICK_S t{};
    ASSERT_EQ(UKO_CpuTickMs2CpuTick(&t, 0, 3), 0u);
    EXPECT_EQ(Value(t.uiHigh, t.uiLow), 7800000u);
    ASSERT_EQ(UKO_CpuTickMs2CpuTick(&t, 1, 0), 0u);
    EXPECT_EQ(Value(t.uiHigh, t.uiLow), 2600000ULL * kTwo32);

    t = Ticks(42);
    EXPECT_EQ(UKO_CpuTickMs2CpuTick(&t, 0xFFFFFFFF, 0), 33u) << "overflow";
    EXPECT_EQ(Value(t.uiHigh, t.uiLow), 42u) << "left unchanged";
}

TEST_F(CpuTickFixture, TicksToSecondsAndNanoseconds) {
    struct Case {
        uint64_t ticks;
        uint32_t sec;
        uint32_t ns;
    };
    // 10,000,000 ns per tick of 26,000,000: 5/13 ns per counter unit.
    const Case cases[] = {
        {2600000000ULL + 13, 1, 5},  // 13 × 10^7 / 2.6 × 10^7 = 5.0
        {14, 0, 5},                  // 5.38 rounds down
        {20, 0, 8},                  // 7.69 rounds up
        // 999,999,999.6 rounds to a whole second's worth: the nanoseconds are rounded on
        // their own, the seconds are not carried.
        {2599999999ULL, 0, 1000000000},
        {2599999998ULL, 0, 999999999},
        {2600000000ULL * 7, 7, 0},
    };
    for (const Case& c : cases) {
        UKO_CPUTICK_S t = Ticks(c.ticks);
        uint32_t sec = 0xDEAD;
        uint32_t ns = 0xBEEF;
        ASSERT_EQ(UKO_CpuTick2NanoSecs(&t, &sec, &ns), 0u) << c.ticks;
        EXPECT_EQ(sec, c.sec) << c.ticks;
        EXPECT_EQ(ns, c.ns) << c.ticks;
        ns = 0;
        ASSERT_EQ(UKO_CpuTick2NanoSecs(&t, nullptr, &ns), 0u) << "seconds may be left out";
        EXPECT_EQ(ns, c.ns);
    }
}

TEST_F(CpuTickFixture, TicksToMicroseconds) {
    struct Case {
        uint64_t ticks;
        uint64_t us;
    };
    const Case cases[] = {
        {26000000, 10000},  // one tick is 10 ms
        {2600, 1},
        {2599, 0},
        // ticks × 10,000 does not fit: divided by the 2,600 ticks per microsecond.
        {1ULL << 63, (1ULL << 63) / 2600},
    };
    for (const Case& c : cases) {
        UKO_CPUTICK_S t = Ticks(c.ticks);
        uint32_t high = 0;
        uint32_t low = 0;
        ASSERT_EQ(UKO_CpuTick2Us(&t, &high, &low), 0u) << c.ticks;
        EXPECT_EQ(Value(high, low), c.us) << c.ticks;
    }
}

TEST_F(CpuTickFixture, BelowAMillisecondToTicks) {
    struct Case {
        uint32_t ns;
        uint64_t ticks;
    };
    const Case cases[] = {{0, 0}, {500000, 1300000}, {999999, 2599997}, {0xFFFFFFFF, 11166914967ULL}};
    for (const Case& c : cases) {
        UKO_CPUTICK_S t = Ticks(99);
        ASSERT_EQ(UKO_CpuTickLess1Ms2CpuTick(&t, c.ns), 0u) << c.ns;
        EXPECT_EQ(Value(t.uiHigh, t.uiLow), c.ticks) << c.ns;
    }
}

TEST_F(CpuTickFixture, TicksToOsTicks) {
    UKO_CPUTICK_S t = Ticks(26000000ULL * 3 + 5);
    uint32_t ticks = 0;
    uint32_t rest = 0;
    ASSERT_EQ(UKO_CpuTick2Tick(&t, &ticks, &rest), 0u);
    EXPECT_EQ(ticks, 3u);
    EXPECT_EQ(rest, 5u);
    t = Ticks(26000000ULL * 100000 + 25999999);  // beyond 32 bits of counter units
    ASSERT_EQ(UKO_CpuTick2Tick(&t, &ticks, nullptr), 0u);
    EXPECT_EQ(ticks, 100000u);
    EXPECT_EQ(UKO_CpuTick2Tick(nullptr, &ticks, &rest), 22u);
    EXPECT_EQ(UKO_CpuTick2Tick(&t, nullptr, &rest), 22u);
    EXPECT_TRUE(g_formats.empty()) << "refused without a report";
}

TEST_F(CpuTickFixture, NullPointersAreRefusedAndReported) {
    UKO_CPUTICK_S t = Ticks(1);
    uint32_t a = 0;
    uint32_t b = 0;
    EXPECT_EQ(UKO_CpuTick2Ms(nullptr, &a, &b), 22u);
    EXPECT_EQ(UKO_CpuTick2Ms(&t, nullptr, &b), 22u);
    EXPECT_EQ(UKO_CpuTick2Ms(&t, &a, nullptr), 22u);
    EXPECT_EQ(UKO_CpuTick2Us(nullptr, &a, &b), 22u);
    EXPECT_EQ(UKO_CpuTick2Us(&t, nullptr, &b), 22u);
    EXPECT_EQ(UKO_CpuTick2Us(&t, &a, nullptr), 22u);
    EXPECT_EQ(UKO_CpuTick2NanoSecs(nullptr, &a, &b), 22u);
    EXPECT_EQ(UKO_CpuTick2NanoSecs(&t, &a, nullptr), 22u);
    EXPECT_EQ(UKO_CpuTickMs2CpuTick(nullptr, 0, 1), 22u);
    EXPECT_EQ(UKO_CpuTickLess1Ms2CpuTick(nullptr, 1), 22u);
    EXPECT_EQ(g_formats.size(), 10u);
    EXPECT_EQ(g_formats[0],
              "[ZIRPA-%s]:Inval Param pstCputick(0x%p), puiMilliSecsHigh(0x%p), "
              "puiMilliSecsLow(0x%p).");
}

// A base above 0xFFFFFFFF / rate: ticks per millisecond come from dividing the base
// first, and the nanosecond conversion refuses rather than overflow.
TEST_F(CpuTickFixture, LargeBaseTakesTheOverflowSafeBranch) {
    ASSERT_EQ(UKO_CpuTickBaseSet(0xFFFFFFFE), 0u);
    UKO_CPUTICK_S t = Ticks(429496729ULL * 7);  // 0xFFFFFFFE / 10 per millisecond
    uint32_t high = 0;
    uint32_t low = 0;
    ASSERT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 0u);
    EXPECT_EQ(Value(high, low), 7u);
    ASSERT_EQ(UKO_CpuTickMs2CpuTick(&t, 0, 2), 0u);
    EXPECT_EQ(Value(t.uiHigh, t.uiLow), 429496729ULL * 2);
    uint32_t sec = 0;
    uint32_t ns = 0;
    EXPECT_EQ(UKO_CpuTick2NanoSecs(&t, &sec, &ns), 74u);
    ASSERT_FALSE(g_formats.empty());
    EXPECT_EQ(g_formats.back(), "[ZIRPA-%s]:puiNanoSec is overflow.");
}

// At 1000 ticks per second (1 ms per tick) the same arithmetic must follow the rate.
TEST_F(CpuTickFixture, ConversionsFollowTheTickConfiguration) {
    ASSERT_EQ(ukoTickConfigSet(1000), 0u);
    ASSERT_EQ(UKO_CpuTickBaseSet(1000000), 0u);  // a 1 GHz counter
    UKO_CPUTICK_S t = Ticks(3000000);
    uint32_t high = 0;
    uint32_t low = 0;
    ASSERT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 0u);
    EXPECT_EQ(Value(high, low), 3u);
    ASSERT_EQ(UKO_CpuTick2Us(&t, &high, &low), 0u);
    EXPECT_EQ(Value(high, low), 3000u);
    t = Ticks(1000000013);
    uint32_t sec = 0;
    uint32_t ns = 0;
    ASSERT_EQ(UKO_CpuTick2NanoSecs(&t, &sec, &ns), 0u);
    EXPECT_EQ(sec, 1u);
    EXPECT_EQ(ns, 13u);
    ASSERT_EQ(UKO_CpuTickLess1Ms2CpuTick(&t, 250000), 0u);
    EXPECT_EQ(Value(t.uiHigh, t.uiLow), 250000u);
}

// Ticks per millisecond, read back as the ticks of one millisecond, follow B x R / 1000
// or, once B x R passes 32 bits, B / (1000 / R): at every rate and on both sides of the
// switch between the two, including the configured rate that takes a shortcut.
TEST_F(CpuTickFixture, TicksPerMillisecondFollowTheFormulaAtEveryRate) {
    for (uint32_t rate : {100u, 1u, 3u, 7u, 64u, 99u, 101u, 300u, 999u, 1000u}) {
        ASSERT_EQ(ukoTickConfigSet(rate), 0u);
        const uint32_t bound = 0xFFFFFFFFu / rate;
        for (uint32_t base : {1u, 9u, 10u, 11u, 999u, 26000000u, 1000000000u, bound - 1, bound,
                              bound + 1, 0xFFFFFFFEu}) {
            if (base == 0 || base == 0xFFFFFFFFu) {
                continue;
            }
            ASSERT_EQ(UKO_CpuTickBaseSet(base), 0u);
            const uint64_t expected =
                base > bound ? base / (1000 / rate) : static_cast<uint64_t>(base) * rate / 1000;
            UKO_CPUTICK_S t{};
            ASSERT_EQ(UKO_CpuTickMs2CpuTick(&t, 0, 1), 0u) << rate << " " << base;
            EXPECT_EQ(Value(t.uiHigh, t.uiLow), expected) << rate << " " << base;
            uint32_t high = 0;
            uint32_t low = 0;
            t = Ticks(expected * 5 + expected / 2);
            if (expected != 0) {
                ASSERT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 0u) << rate << " " << base;
                EXPECT_EQ(Value(high, low), 5u) << rate << " " << base;
            } else {
                EXPECT_EQ(UKO_CpuTick2Ms(&t, &high, &low), 33u) << rate << " " << base;
            }
        }
    }
}

// ---- Elapsed ticks and percentages ---------------------------------------------------

TEST_F(CpuTickFixture, ElapsedAndPercentCountFromTheStartReading) {
    g_counter = 1000 + 10000;
    UKO_CPUTICK_S elapsed{};
    UKO_CpuTickElapseGet(&elapsed);
    EXPECT_EQ(Value(elapsed.uiHigh, elapsed.uiLow), 10000u);

    struct Case {
        uint64_t ticks;
        int32_t percent;
    };
    for (Case c : {Case{5000, 50}, Case{0, 0}, Case{10000, 100}, Case{10099, 100},
                   Case{10100, -1}, Case{kTwo32 * 5, -1}}) {
        UKO_CPUTICK_S t = Ticks(c.ticks);
        EXPECT_EQ(UKO_CpuTickPercentGet(&t), c.percent) << c.ticks;
    }
    EXPECT_EQ(UKO_CpuTickPercentGet(nullptr), -1);
    UKO_CpuTickElapseGet(nullptr);
    EXPECT_EQ(g_formats.back(), "[ZIRPA-%s]:The Param pstCputick is null.");
}

TEST_F(CpuTickFixture, ElapsedCrossesTheLowWord) {
    g_counter = 0xFFFFFF00ULL;
    ASSERT_EQ(UKO_CpuTickInit(0), 0u);
    g_counter = 0xFFFFFF00ULL + 0x200;
    UKO_CPUTICK_S elapsed{};
    UKO_CpuTickElapseGet(&elapsed);
    EXPECT_EQ(elapsed.uiHigh, 0u);
    EXPECT_EQ(elapsed.uiLow, 0x200u);
}

TEST_F(CpuTickFixture, PercentOfAGivenBase) {
    UKO_CPUTICK_S base = Ticks(kTwo32 * 100);
    UKO_CPUTICK_S half = Ticks(kTwo32 * 50);
    EXPECT_EQ(ukoCtkCalPercent(&half, &base), 50);
    UKO_CPUTICK_S zero = Ticks(0);
    UKO_CPUTICK_S small = Ticks(99);  // a hundredth of it is 0
    EXPECT_EQ(ukoCtkCalPercent(&half, &zero), -1);
    EXPECT_EQ(ukoCtkCalPercent(&zero, &small), -1);
    EXPECT_EQ(ukoCtkCalPercent(nullptr, &base), -1);
    EXPECT_EQ(ukoCtkCalPercent(&half, nullptr), -1);
}

TEST_F(CpuTickFixture, TenThousandths) {
    struct Case {
        uint64_t ticks;
        uint64_t base;
        int32_t result;
    };
    const Case cases[] = {
        {2500, 10000, 2500},
        {10000, 10000, 10000},
        {10001, 10000, -1},
        {1, 3, 3333},
        {1ULL << 62, 1ULL << 63, 5000},   // high word too large to multiply first
        {1ULL << 62, 9999, -1},           // base / 10000 is 0
        {123, 0, -1},
    };
    for (const Case& c : cases) {
        UKO_CPUTICK_S t = Ticks(c.ticks);
        UKO_CPUTICK_S b = Ticks(c.base);
        EXPECT_EQ(ukoCtkCalTenThousandth(&t, &b), c.result) << c.ticks << " / " << c.base;
    }
    UKO_CPUTICK_S t = Ticks(1);
    EXPECT_EQ(ukoCtkCalTenThousandth(nullptr, &t), -1);
    EXPECT_EQ(ukoCtkCalTenThousandth(&t, nullptr), -1);
}

// ---- Guard check -----------------------------------------------------------------------

int g_checkCalls = 0;
void CountCheck() { ++g_checkCalls; }

TEST_F(CpuTickFixture, ChangedGuardWordsReachTheCheckHook) {
    g_checkCalls = 0;
    ukoCpuTickGuardSet(0, 0);
    ukoCheckCpuTickMagic();
    EXPECT_TRUE(g_formats.empty()) << "nothing is tested without a hook";

    EXPECT_EQ(UKO_CpuTickCheckSet(5, CountCheck), 0u);
    EXPECT_EQ(ukoCpuTickErrThresholdGet(), 5u);
    ukoCheckCpuTickMagic();
    EXPECT_EQ(g_checkCalls, 1);
    ASSERT_EQ(g_formats.size(), 1u);
    EXPECT_EQ(g_formats[0].rfind("[ZIRPA-%s]:CpuTickBase %u, CpuTickBaseMagic %u", 0), 0u);

    struct Guards {
        uint32_t head;
        uint32_t tail;
        int calls;
    };
    for (Guards g : {Guards{0x56784321, 0x11223344, 0}, Guards{0x56784322, 0x11223344, 1},
                     Guards{0x56784321, 0, 1}}) {
        g_checkCalls = 0;
        ukoCpuTickGuardSet(g.head, g.tail);
        ukoCheckCpuTickMagic();
        EXPECT_EQ(g_checkCalls, g.calls) << std::hex << g.head << " " << g.tail;
    }

    ukoCpuTickErrCountSet(9);
    EXPECT_EQ(UKO_CpuTickCheckSet(0, nullptr), 0u);
    EXPECT_EQ(ukoCpuTickErrCountGet(), 0u) << "the check set clears the count";
    ukoCpuTickGuardSet(0x56784321, 0x11223344);
}

// ---- Text to number --------------------------------------------------------------------

TEST(CtkStrToI, LeadingDigitsOnly) {
    struct Case {
        const char* text;
        uint32_t value;
    };
    const Case cases[] = {{"2600", 2600},      {"073", 73},  {"12ab", 12}, {"", 0},
                          {"abc", 0},          {" 5", 0},    {"4294967295", 4294967295u},
                          {"4294967296", 0}};  // wraps at 32 bits
    for (const Case& c : cases) {
        uint32_t value = 0xDEAD;
        EXPECT_EQ(ukoCtkStrToI(c.text, &value), 0u) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    uint32_t value = 0;
    EXPECT_EQ(ukoCtkStrToI(nullptr, &value), 22u);
    EXPECT_EQ(ukoCtkStrToI("1", nullptr), 22u);
}

// ---- The "model name" reader -------------------------------------------------------------

struct ModelCase {
    const char* name;
    std::string text;
    uint32_t base;
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class ModelName : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelName, ClockInTheNameGivesTheBase) {
    const ModelCase& c = GetParam();
    OS_TickConfigInit(0);
    vt_test::TempEnv env;
    std::string path = env.Tmp() + "/cpuinfo";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(c.text.c_str(), f);
    fclose(f);
    ukoCpuTickInfoFileSet(path.c_str());
    EXPECT_EQ(UKO_CpuTickBaseGetByFile(), c.base);
    ukoCpuTickInfoFileSet(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelName,
    ::testing::Values(
        ModelCase{"gigahertz with point", "processor\t: 0\nmodel name\t: Some CPU @ 1.90GHz\n", 19000000},
        ModelCase{"megahertz digits", "model name\t: Old CPU 2400MHz\n", 24000000},
        ModelCase{"short number", "model name\t: Tiny 800MHz\n", 8000000},
        ModelCase{"no clock", "model name\t: Some 8-Core Processor\n", 0},
        ModelCase{"unit at line start", "GHz model name\n", 0},
        ModelCase{"does not fit", "model name\t: Future @ 9.99THz\n", 0},
        ModelCase{"no model line", "processor\t: 0\ncpu MHz\t\t: 2600.000\n", 0},
        ModelCase{"line 25", std::string(24, '\n') + "model name\t: X @ 2.00GHz\n", 20000000},
        ModelCase{"beyond 25 lines",
                  std::string(25, '\n') + "model name\t: X @ 2.00GHz\n", 0}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return n;
    });

TEST(ModelNameFile, MissingFileGivesZero) {
    ukoCpuTickInfoFileSet("/nonexistent/cpuinfo");
    EXPECT_EQ(UKO_CpuTickBaseGetByFile(), 0u);
    ukoCpuTickInfoFileSet(nullptr);
}

}  // namespace
