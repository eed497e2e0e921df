// The system tick: the conversions, the count's carry and its two banks seen from inside
// an update, the high-precision time over an injected CPU tick counter, the tick hooks
// and cycle hooks, and, on a started platform, the live count against CLOCK_MONOTONIC.

#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../base/os_clock_inner.h"
#include "os_clock.h"
#include "os_time.h"
#include "task_test_util.h"
#include "uko_cputick.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_tick.h"
#include "uko_tick_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

using task_test::InFreshPlatform;
using task_test::WaitFor;

uint64_t Join(uint32_t high, uint32_t low) { return (static_cast<uint64_t>(high) << 32) | low; }

uint64_t TickNow() {
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(UKO_TickGet(&high, &low), 0u);
    return Join(high, low);
}

// ---- Conversions --------------------------------------------------------------------------------

TEST(UkoTickConvert, TicksToMillisecondsUpToTheLargestProductThatFits) {
    struct Case {
        uint32_t ticksPerSec;
        uint64_t ticks;
        uint32_t rc;
        uint64_t ms;
    };
    const Case cases[] = {
        {100, 0, 0, 0},
        {100, 0x19999998ull, 0, 0xFFFFFFF0ull},
        {100, 0x1999999Aull, 0, 0x100000004ull},
        {100, 1ull << 32, 0, 10ull << 32},
        {100, 0x1999999999999999ull, 0, 0xFFFFFFFFFFFFFFFAull},
        {100, 0x199999999999999Aull, 0xFFFFFFFFu, 0},
        {100, ~0ull, 0xFFFFFFFFu, 0},
        {1000, ~0ull, 0, ~0ull},
        {3, 0xC4CE07B00C4CE0ull, 0, 0xFFFFFFFFFFFFFF60ull},  // 333 ms per tick
        {3, 0xC4CE07B00C4CE1ull, 0xFFFFFFFFu, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ukoTickConfigSet(c.ticksPerSec), 0u);
        uint32_t high = 0xA5A5A5A5u;
        uint32_t low = 0x5A5A5A5Au;
        EXPECT_EQ(UKO_Tick2Ms(static_cast<uint32_t>(c.ticks >> 32), static_cast<uint32_t>(c.ticks),
                              &high, &low),
                  c.rc)
            << std::hex << c.ticks << " at " << std::dec << c.ticksPerSec;
        const uint64_t expected = c.rc == 0 ? c.ms : Join(0xA5A5A5A5u, 0x5A5A5A5Au);
        EXPECT_EQ(Join(high, low), expected) << "a refused count leaves the outputs alone";
    }
    EXPECT_EQ(OS_TickConfigInit(0), 0u);
    uint32_t word = 0;
    EXPECT_EQ(UKO_Tick2Ms(0, 1, nullptr, &word), 22u);
    EXPECT_EQ(UKO_Tick2Ms(0, 1, &word, nullptr), 22u);
}

TEST(UkoTickConvert, SecondsMillisecondsAndTicks) {
    ASSERT_EQ(OS_TickConfigInit(0), 0u);
    EXPECT_EQ(UKO_TickPerSecGet(), 100u);
    EXPECT_EQ(UKO_TickSec2Tick(0), 0u);
    EXPECT_EQ(UKO_TickSec2Tick(42949672), 4294967200u);
    EXPECT_EQ(UKO_TickSec2Tick(42949673), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_ErrnoGet(), 22u);
    EXPECT_EQ(UKO_TickMs2Tick(0), 0u);
    EXPECT_EQ(UKO_TickMs2Tick(29), 2u);
    EXPECT_EQ(UKO_TickMs2Tick(0xFFFFFFFFu), 429496729u);
    EXPECT_EQ(UKO_TickTick2Sec(199), 1u);
    EXPECT_EQ(UKO_TickTick2Sec(0xFFFFFFFFu), 42949672u);
}

// ---- The count -----------------------------------------------------------------------------------

TEST(UkoTickCount, CarriesIntoTheHighWordAndConvertsToSeconds) {
    InFreshPlatform([] {
        ASSERT_EQ(ukoTickConfigSet(1000), 0u);  // 1 ms per tick: the update's ms are ticks
        ukoTickUpdate(0xFFFFFFFFu);
        EXPECT_EQ(TickNow(), 0xFFFFFFFFull);
        ukoTickUpdate(1);
        EXPECT_EQ(TickNow(), 1ull << 32);
        uint32_t low = 7;
        EXPECT_EQ(UKO_TickLowGet(&low), 0u);
        EXPECT_EQ(low, 0u);
    });
    struct Case {
        uint64_t ms;
        uint32_t seconds;
        uint32_t millis;
    };
    const Case cases[] = {{123456, 123, 456}, {999, 0, 999}, {(1ull << 40) + 5, 1099511627u, 781}};
    for (const Case& c : cases) {
        InFreshPlatform([&] {
            ASSERT_EQ(ukoTickConfigSet(1000), 0u);
            for (uint64_t left = c.ms; left != 0;) {
                const uint32_t step = left > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(left);
                ukoTickUpdate(step);
                left -= step;
            }
            uint32_t high = 0;
            uint32_t low = 0;
            ASSERT_EQ(UKO_MillSecNow(&high, &low), 0u);
            EXPECT_EQ(Join(high, low), c.ms);
            uint32_t seconds = 0;
            uint32_t millis = 0;
            ASSERT_EQ(UKO_SecondNow(&seconds, &millis), 0u);
            EXPECT_EQ(seconds, c.seconds) << c.ms;
            EXPECT_EQ(millis, c.millis) << c.ms;
        });
    }
}

TEST(UkoTickCount, NullOutputsAreRefused) {
    uint32_t word = 0;
    EXPECT_EQ(UKO_TickGet(nullptr, &word), 22u);
    EXPECT_EQ(ukoTickGet(&word, nullptr), 22u);
    EXPECT_EQ(UKO_TickLowGet(nullptr), 22u);
    EXPECT_EQ(UKO_MillSecNow(nullptr, &word), 22u);
    EXPECT_EQ(UKO_SecondNow(&word, nullptr), 22u);
    EXPECT_EQ(UKO_HiPrecisionMsNow(&word, nullptr), 22u);
}

// Readers that run while an update is half done: from the writer's own thread, in the
// middle of the update.
std::vector<uint64_t> g_midReads;
void ReadMidUpdate() {
    g_midReads.push_back(TickNow());
    uint32_t low = 0;
    (void)UKO_TickLowGet(&low);
    g_midReads.push_back(low);
}

TEST(UkoTickCount, AReaderInsideAnUpdateSeesTheValueFromBeforeIt) {
    InFreshPlatform([] {
        ASSERT_EQ(ukoTickConfigSet(1000), 0u);
        ukoTickUpdate(0xFFFFFFFFu);
        ukoTickMidUpdateHookSet(ReadMidUpdate);
        ukoTickUpdate(3);
        ukoTickMidUpdateHookSet(nullptr);
        EXPECT_EQ(g_midReads, (std::vector<uint64_t>{0xFFFFFFFFull, 0xFFFFFFFFull}));
        EXPECT_EQ(TickNow(), (1ull << 32) + 2);
    });
}

// ---- High-precision time over an injected counter ------------------------------------------------

std::atomic<uint64_t> g_counter{0};
std::atomic<int> g_counterReads{0};
uint64_t FakeCounter() {
    g_counterReads.fetch_add(1);
    return g_counter.load();
}

uint64_t HiPrecisionAt(uint64_t reading) {
    g_counter.store(reading);
    uint32_t high = 0;
    uint32_t low = 0;
    EXPECT_EQ(UKO_HiPrecisionMsNow(&high, &low), 0u);
    return Join(high, low);
}

TEST(UkoTickHiPrecision, AddsTheCounterAdvanceSinceTheLastUpdateAndNeverGoesBack) {
    InFreshPlatform([] {
        ukoCpuTickCounterSet(FakeCounter);
        ASSERT_EQ(UKO_CpuTickBaseSet(1000000), 0u);  // 100,000 counter units per ms
        ASSERT_EQ(osClockResourcesInit(), 0u);
        ASSERT_EQ(UKO_TickInit(0), 0u);

        // Before the clock's first cycle: 0, and the counter is not read.
        g_counterReads.store(0);
        EXPECT_EQ(HiPrecisionAt(123456789), 0u);
        EXPECT_EQ(g_counterReads.load(), 0);

        struct Step {
            bool cycle;  // run a VCLK cycle at the reading, else only read
            uint64_t reading;
            uint64_t ms;
        };
        const Step steps[] = {
            {true, 2500000, 0},     // the starting point
            {false, 2850000, 3},    // 3.5 ms later
            {false, 3999999, 14},
            {true, 4000000, 15},    // one tick counted, half a tick carried: still 15
            {false, 4000000, 15},
            {false, 4100000, 16},
            {true, 5600000, 31},    // two more ticks, 100,000 carried
            {false, 5650000, 31},
            {false, 5700000, 32},
        };
        uint64_t last = 0;
        for (const Step& s : steps) {
            if (s.cycle) {
                g_counter.store(s.reading);
                osClockVclkCycle();
            }
            const uint64_t ms = HiPrecisionAt(s.reading);
            EXPECT_EQ(ms, s.ms) << "at " << s.reading;
            EXPECT_GE(ms, last) << "at " << s.reading;
            last = ms;
        }
    });
}

TEST(UkoTickHiPrecision, AFailedConversionAddsNothing) {
    InFreshPlatform([] {
        ukoCpuTickCounterSet(FakeCounter);
        ASSERT_EQ(UKO_CpuTickBaseSet(1000000), 0u);
        ASSERT_EQ(osClockResourcesInit(), 0u);
        ASSERT_EQ(UKO_TickInit(0), 0u);
        g_counter.store(1000000);
        osClockVclkCycle();
        g_counter.store(3000000);
        osClockVclkCycle();
        ASSERT_EQ(TickNow(), 2u);
        // A base too small to make a millisecond of: the conversion fails.
        ASSERT_EQ(UKO_CpuTickBaseSet(5), 0u);
        EXPECT_EQ(HiPrecisionAt(3999999), 20u);
    });
}

// ---- Tick hooks and cycle hooks ------------------------------------------------------------------

std::mutex g_hookMutex;
std::vector<std::string> g_hookCalls;
void Noted(const std::string& what, uint32_t n) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hookCalls.push_back(what + ":" + std::to_string(n));
}
std::vector<std::string> TakeHookCalls() {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    std::vector<std::string> out;
    out.swap(g_hookCalls);
    return out;
}

template <int N>
void Hook(uint32_t n) {
    Noted("h" + std::to_string(N), n);
}

TEST(UkoTickHooks, TenSlotsCountingTheCycleDispatcherAndCalledInOrder) {
    InFreshPlatform([] {
        ASSERT_EQ(osClockResourcesInit(), 0u);
        ASSERT_EQ(UKO_TickInit(0), 0u);
        ASSERT_EQ(UKO_TickInit(0), 0u) << "a second init adds nothing";
        ASSERT_EQ(ukoTickCycleHookInit(0), 0u);
        EXPECT_EQ(UKO_TickHookReg(nullptr), 22u);
        const UKO_TICK_HOOK_PF hooks[] = {Hook<1>, Hook<2>, Hook<3>, Hook<4>, Hook<5>,
                                          Hook<6>, Hook<7>, Hook<8>, Hook<9>};
        for (UKO_TICK_HOOK_PF h : hooks) {
            ASSERT_EQ(UKO_TickHookReg(h), 0u);
        }
        EXPECT_EQ(UKO_TickHookReg(Hook<10>), 12u) << "the 11th hook";
        EXPECT_EQ(UKO_ErrnoGet(), 22u);

        // Through the OS clock's list, as TICK calls it: milliseconds in, ticks out.
        OS_ClockTickHookRun(30);
        std::vector<std::string> expected;
        for (int i = 1; i <= 9; ++i) expected.push_back("h" + std::to_string(i) + ":3");
        EXPECT_EQ(TakeHookCalls(), expected);
    });
}

TEST(UkoTickHooks, PeriodicHooksGetTheTicksGatheredOnceTheirPeriodIsReached) {
    InFreshPlatform([] {
        EXPECT_EQ(UKO_TickCycleHookReg(nullptr, 1), 22u);
        EXPECT_EQ(UKO_TickCycleHookReg(Hook<1>, 0), 22u);
        ASSERT_EQ(UKO_TickCycleHookReg(Hook<5>, 5), 0u);
        ASSERT_EQ(UKO_TickCycleHookReg(Hook<1>, 1), 0u);
        ASSERT_EQ(UKO_TickCycleHookReg(Hook<2>, 2), 0u);
        ASSERT_EQ(UKO_TickCycleHookReg(Hook<11>, 1), 0u);

        struct Step {
            uint32_t ticks;
            std::vector<std::string> calls;
        };
        const Step steps[] = {
            {3, {"h1:3", "h11:3", "h2:3"}},
            {4, {"h1:4", "h11:4", "h5:7", "h2:4"}},  // 7 gathered for the period of 5
            {1, {"h1:1", "h11:1"}},
            {3, {"h1:3", "h11:3", "h2:4"}},  // 4 for the period of 5: it restarted after 7
            {1, {"h1:1", "h11:1", "h5:5"}},
        };
        for (const Step& s : steps) {
            ukoTickCycleHookDispatch(s.ticks);
            EXPECT_EQ(TakeHookCalls(), s.calls) << "after " << s.ticks;
        }
    });
}

// ---- Live, on a started platform ------------------------------------------------------------------
// The clock is driven by the real tasks here. Each check compares with CLOCK_MONOTONIC
// read at the same moments as the platform's values; a stall of the machine between a
// reading and the moment it stands for can still spoil one attempt, so a check is
// allowed three attempts. A wrong rate or a drifting count fails all of them.

uint64_t MonoNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// A hook's running sum and the monotonic time of its last call, as one picture.
struct Sum {
    std::mutex m;
    uint64_t total = 0;
    uint64_t atNs = 0;
    uint64_t calls = 0;
};
Sum g_tickSum;
Sum g_msSum;

void AddTo(Sum& s, uint32_t n) {
    const uint64_t now = MonoNs();
    std::lock_guard<std::mutex> lock(s.m);
    s.total += n;
    s.atNs = now;
    ++s.calls;
}
void TickSumHook(uint32_t ticks) { AddTo(g_tickSum, ticks); }
void MsSumHook(uint32_t ms) { AddTo(g_msSum, ms); }

struct Picture {
    uint64_t total;
    uint64_t atNs;
    uint64_t calls;
};
Picture Look(Sum& s) {
    std::lock_guard<std::mutex> lock(s.m);
    return {s.total, s.atNs, s.calls};
}

// The span between two hook calls at least spanMs apart: (sum added, monotonic ns).
std::pair<int64_t, int64_t> HookSpan(Sum& s, int spanMs) {
    const Picture first = Look(s);
    Picture last = first;
    EXPECT_TRUE(WaitFor(
        [&] {
            last = Look(s);
            return last.atNs - first.atNs >= static_cast<uint64_t>(spanMs) * 1000000ull;
        },
        20000));
    return {static_cast<int64_t>(last.total - first.total),
            static_cast<int64_t>(last.atNs - first.atNs)};
}

bool Within(int64_t value, int64_t expected, int64_t tolerance) {
    return value >= expected - tolerance && value <= expected + tolerance;
}

int StartedPlatformChild(const std::function<void()>& body) {
    vt_test::TempEnv env;
    auto r = vt_test::RunInChild([&] {
        if (UKO_Start() != 0) return 2;
        body();
        return ::testing::Test::HasFailure() ? 1 : 0;
    }, 60000);
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    return r.exitCode;
}

TEST(UkoTickLive, HooksReceiveTheSpanInTicksAndInMilliseconds) {
    EXPECT_EQ(StartedPlatformChild([] {
        ASSERT_EQ(UKO_TickHookReg(TickSumHook), 0u);
        ASSERT_EQ(OS_ClockTickHookAdd(MsSumHook), 0u);
        ASSERT_TRUE(WaitFor([] { return Look(g_tickSum).calls > 0 && Look(g_msSum).calls > 0; }));
        bool ticksOk = false;
        bool msOk = false;
        for (int attempt = 0; attempt < 3 && !(ticksOk && msOk); ++attempt) {
            const auto ticks = HookSpan(g_tickSum, 500);
            const int64_t expectedTicks = ticks.second / 10000000;
            ticksOk = ticksOk || Within(ticks.first, expectedTicks, 3);
            const auto ms = HookSpan(g_msSum, 500);
            msOk = msOk || Within(ms.first, ms.second / 1000000, 30);
            if (!(ticksOk && msOk)) {
                std::fprintf(stderr, "attempt %d: %lld ticks in %lld ns, %lld ms in %lld ns\n",
                             attempt, static_cast<long long>(ticks.first),
                             static_cast<long long>(ticks.second), static_cast<long long>(ms.first),
                             static_cast<long long>(ms.second));
            }
        }
        EXPECT_TRUE(ticksOk) << "a tick hook sums the span's ticks within 3";
        EXPECT_TRUE(msOk) << "a clock list hook sums the span's milliseconds within 30";
    }), 0);
}

TEST(UkoTickLive, MillisecondsAdvanceWithTheMonotonicClockAndHiPrecisionNeverGoesBack) {
    EXPECT_EQ(StartedPlatformChild([] {
        ASSERT_TRUE(WaitFor([] { return TickNow() > 0; }));
        bool ok = false;
        for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
            uint32_t h0 = 0, l0 = 0, h1 = 0, l1 = 0;
            const uint64_t t0 = MonoNs();
            ASSERT_EQ(UKO_MillSecNow(&h0, &l0), 0u);
            // Spin on the high-precision time meanwhile: it must never go back.
            uint64_t last = 0;
            uint64_t reads = 0;
            while (MonoNs() - t0 < 500000000ull) {
                uint32_t hh = 0, hl = 0;
                ASSERT_EQ(UKO_HiPrecisionMsNow(&hh, &hl), 0u);
                const uint64_t v = Join(hh, hl);
                ASSERT_GE(v, last) << "after " << reads << " reads";
                last = v;
                ++reads;
            }
            ASSERT_EQ(UKO_MillSecNow(&h1, &l1), 0u);
            const uint64_t t1 = MonoNs();
            const int64_t advanced = static_cast<int64_t>(Join(h1, l1) - Join(h0, l0));
            ok = Within(advanced, static_cast<int64_t>((t1 - t0) / 1000000), 30);
            if (!ok) {
                std::fprintf(stderr, "attempt %d: %lld ms in %llu ns\n", attempt,
                             static_cast<long long>(advanced), static_cast<unsigned long long>(t1 - t0));
            }
        }
        EXPECT_TRUE(ok) << "UKO_MillSecNow advances by the span within 30 ms";
    }), 0);
}

}  // namespace
