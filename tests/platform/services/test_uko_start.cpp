#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "ddm_log.h"
#include "task_test_util.h"
#include "uko_reltmrknl.h"
#include "uko_reltmrknl_inner.h"
#include "uko_start.h"
#include "uko_task.h"
#include "uko_tick.h"
#include "v_task.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

// The platform's module initialisations in their required order.
const std::vector<std::string> kRequiredOrder = {
    "OS_TickConfigInit", "UKO_SplIni",        "ukoHandleInit",        "ukoMemPtInit",
    "UKO_CpuTickInit",   "ukoRescbinit",      "ukoLockDbgInit",       "UKO_TaskInit",
    "JQR_MemInit",       "OS_ClockInit",      "TSK_TaskInit",         "UKO_TickInit",
    "Sema4Init",         "ukoTickCycleHookInit", "ukoQueueInit",      "ukoRelTmKnlInit",
    "JQR_QueueInit",     "JQR_TaskInit",      "JQR_TimerInit",        "JQR_ReservedInit",
    "DDM_LogEnvInit",
};

TEST(UkoStart, StepsPresentFollowTheRequiredOrder) {
    ASSERT_EQ(kRequiredOrder.size(), 21u);
    size_t count = 0;
    const UKO_START_STEP* steps = ukoStartStepsGet(&count);
    ASSERT_NE(steps, nullptr);
    ASSERT_GE(count, 1u);
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        ASSERT_NE(steps[i].pfnInit, nullptr) << steps[i].pcName;
        while (pos < kRequiredOrder.size() && kRequiredOrder[pos] != steps[i].pcName) {
            ++pos;
        }
        ASSERT_LT(pos, kRequiredOrder.size())
            << steps[i].pcName << " is unknown or out of order";
        ++pos;
    }
}

TEST(UkoStart, AFreshProcessRunsAllStepsInOrderAndComesUpWithClockAndLog) {
    vt_test::TempEnv env;
    const std::string home = env.Home();
    auto r = vt_test::RunInChild([&home] {
        size_t count = 0;
        const UKO_START_STEP* steps = ukoStartStepsGet(&count);
        std::vector<std::string> names;
        for (size_t i = 0; i < count; ++i) {
            names.emplace_back(steps[i].pcName);
        }
        EXPECT_EQ(names, kRequiredOrder);
        ASSERT_EQ(UKO_Start(), 0u);
        EXPECT_EQ(TSK_PlatformStartedGet(), 1u);
        // The clock tasks run: the tick count moves, and the timer wheel with it.
        EXPECT_NE(UKO_TaskIdGet("VCLK"), 0xFFFFFFFFu);
        EXPECT_NE(UKO_TaskIdGet("TICK"), 0xFFFFFFFFu);
        uint32_t high = 0;
        uint32_t low = 0;
        ASSERT_EQ(UKO_TickGet(&high, &low), 0u);
        const uint32_t tick0 = low;
        ukoRelTmLock();
        const uint32_t cursor0 = ukoRelTmCursorGet();
        ukoRelTmUnlock();
        EXPECT_TRUE(task_test::WaitFor([&] {
            uint32_t h = 0;
            uint32_t l = 0;
            (void)UKO_TickGet(&h, &l);
            ukoRelTmLock();
            const bool wheelMoved = ukoRelTmCursorGet() != cursor0;
            ukoRelTmUnlock();
            return l != tick0 && wheelMoved;
        }));
        const std::string dir = home + "/.VanTrelo/log";
        struct stat st;
        ASSERT_EQ(stat(dir.c_str(), &st), 0) << dir;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        ASSERT_EQ(DDM_LogInit("startup"), 0u);
        ASSERT_EQ(DDM_LogWrite(0, 1, "[start][line after the log came up]"), 0u);
        std::ifstream in(dir + "/VanTrelo_startup_0.log");
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_NE(text.str().find("[start][line after the log came up]"), std::string::npos);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

TEST(UkoStart, ReservedStepReturnsZero) { EXPECT_EQ(JQR_ReservedInit(0), 0u); }

TEST(UkoStart, SuccessfulStartRaisesTheFlag) {
    vt_test::TempEnv env;  // the log's start-up step makes its folder under HOME
    auto r = vt_test::RunInChild([] {
        EXPECT_EQ(TSK_PlatformStartedGet(), 0u);
        EXPECT_EQ(UKO_Start(), 0u);
        EXPECT_EQ(TSK_PlatformStartedGet(), 1u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// Steps for the failure cases, driven through a table the test fills.
std::vector<uint32_t> g_results;
std::vector<size_t> g_called;
template <size_t N>
uint32_t Step(uint32_t arg) {
    if (arg != 0) return 0xDEAD;  // every step must get 0
    g_called.push_back(N);
    return g_results[N];
}

struct FlagCase {
    const char* name;
    std::vector<uint32_t> results;
    uint32_t expectedSum;
    uint32_t expectedFlag;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

class UkoStartFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(UkoStartFlag, SumAndFlagFollowTheStepResults) {
    const FlagCase& c = GetParam();
    auto r = vt_test::RunInChild([&c] {
        g_results = c.results;
        g_results.resize(4, 0);
        const UKO_START_STEP steps[] = {
            {"a", Step<0>}, {"b", Step<1>}, {"c", Step<2>}, {"d", Step<3>}};
        uint32_t sum = ukoStartRun(steps, 4);
        EXPECT_EQ(g_called, (std::vector<size_t>{0, 1, 2, 3}))
            << "every step runs, in order, whatever the earlier ones returned";
        EXPECT_EQ(sum, c.expectedSum);
        EXPECT_EQ(TSK_PlatformStartedGet(), c.expectedFlag);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UkoStartFlag,
    ::testing::Values(
        FlagCase{"all succeed", {0, 0, 0, 0}, 0, 1},
        FlagCase{"one fails with 22", {0, 22, 0, 0}, 22, 0},
        FlagCase{"two failures add up", {12, 0, 22, 0}, 34, 0},
        // 0xFFFFFFFF + 1 wraps to 0: the first failure is returned and the flag stays down.
        FlagCase{"failures wrap to zero", {0, 0xFFFFFFFFu, 1, 0}, 0xFFFFFFFFu, 0},
        FlagCase{"wrap with later failure", {0x80000000u, 0x80000000u, 0, 0}, 0x80000000u, 0}),
    [](const ::testing::TestParamInfo<FlagCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return n;
    });

}  // namespace
