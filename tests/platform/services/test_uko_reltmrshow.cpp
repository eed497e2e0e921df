// The relative timer show, read through a capturing print sink: the help text, the
// empty-kernel lines, and the summary, lists, find, callback and detail views of a
// handful of test-side timers.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reltmr_test_util.h"
#include "uko_reltmrknl.h"
#include "uko_reltmrknl_inner.h"
#include "uko_secfunc.h"

namespace {

using reltmr_test::Start;
using reltmr_test::TestTimer;

std::string g_out;
std::vector<uint32_t> g_targets;
void Sink(uint32_t target, const char* line) {
    g_out += line;
    g_targets.push_back(target);
}

// Runs a show command and returns everything it printed.
std::string Show(uint32_t cmd, uint64_t p1 = 0, uint64_t p2 = 0, uint64_t p3 = 0) {
    g_out.clear();
    g_targets.clear();
    ukoShowPrintObserverSet(Sink);
    EXPECT_EQ(UKO_ReltmrShow(cmd, p1, p2, p3, 77), 0u);
    ukoShowPrintObserverSet(nullptr);
    for (uint32_t t : g_targets) {
        EXPECT_EQ(t, 77u) << "every line goes to the command's print target";
    }
    return g_out;
}

const std::string kStars(80, '*');
const std::string kDashes(80, '-');
const std::string kHelp =
    "\r\n" + kDashes + "\r\n" +
    " relative timer info show using help information:\r\n"
    " (0,  *,  *,  *) display help information.\r\n"
    " (1,  *,  *,  *) display the summary information of relative timers.\r\n"
    " (2,  *,  *,  *) display the summary information by each handle.\r\n";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string PeakTimeText(const UKO_Systime& t) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d  %02d:%02d:%02d.%03d", t.usYear, t.ucMonth, t.ucDate,
                  t.ucHour, t.ucMinute, t.ucSecond, static_cast<int>(t.uiMillSec));
    return buf;
}

void Nothing(UKO_ReltmrCb*) {}

class RelTmShow : public ::testing::Test {
protected:
    void SetUp() override { reltmr_test::KernelUp(); }
};

TEST_F(RelTmShow, HelpIsFramedByStarsForCommandsOutsideOneToEight) {
    for (uint32_t cmd : {0u, 9u}) {
        const std::string out = Show(cmd);
        ASSERT_EQ(out.rfind("\r\n" + kStars, 0), 0u) << cmd;
        EXPECT_TRUE(Contains(out, kHelp)) << cmd;
        EXPECT_TRUE(Contains(out, " (8, p1, p2,  *) display the monitor records of timer from index [p2] with\r\n"
                                  "                 the count of [p1].if[p1]=0, show all.\r\n" +
                                      kDashes + "\r\n" + kStars + "\r\n"))
            << cmd;
    }
    EXPECT_EQ(Show(0), Show(9));
}

TEST_F(RelTmShow, EmptyKernelPrintsZeroCountersAndItsNoTimerLines) {
    UKO_ReltmrStat stat;
    ukoRelTmStatGet(&stat);
    ASSERT_EQ(stat.uiCurNum, 0u);
    const std::string summary = Show(1);
    const std::string expected =
        "\r\n----------------------Relative timer summary information------------------------"
        "\r\nTotal number                    :0"
        "\r\nTotal Start times               :" + std::to_string(stat.uiStartNum) +
        "\r\nTotal Stop times                :" + std::to_string(stat.uiStopNum) +
        "\r\n" + kDashes +
        "\r\nPeak  time                      :" + PeakTimeText(stat.stPeakTime) +
        "\r\nPeak  number                    :" + std::to_string(stat.uiPeakNum) +
        "\r\n" + kDashes +
        "\r\nTicking Number                  :0\r\nIdle number                     :0"
        "\r\nPaused number                   :0\r\nPausing number                  :0"
        "\r\nDeleted number                  :0\r\nTimed out number                :0"
        "\r\n" + kDashes +
        "\r\nMessage No Loop number          :0\r\nMessage Loop number             :0"
        "\r\nCallback No loop number         :0\r\nCallback Loop number            :0";
    EXPECT_EQ(summary, "\r\n" + kStars + expected + "\r\n" + kStars + "\r\n");

    const std::string noTimer =
        "\r\n There is not any relative timer.\r\n Or ReltmrBasicInfoSwitch is not opened.";
    EXPECT_TRUE(Contains(Show(3, 0xFFFFFFFFu), noTimer));
    EXPECT_TRUE(Contains(Show(4, 0xFFFFFFFFu, 1, 2), noTimer));
    EXPECT_TRUE(Contains(Show(6, 0xFFFFFFFFu), noTimer));
    EXPECT_TRUE(Contains(Show(4, 0, 1, 2), "\r\nThere is not any relative timer."));
    for (uint32_t cmd : {1u, 3u, 4u, 6u}) {
        EXPECT_FALSE(Contains(Show(cmd, 0xFFFFFFFFu), kHelp)) << cmd << " succeeded: no help";
    }
}

TEST_F(RelTmShow, DetailOfNoTimerPrintsInvalidThenHelpAndTraceCommandsExplainThemselves) {
    const std::string out = Show(5, 0);
    EXPECT_TRUE(Contains(out, "\r\n Invalid Timer ID:0x(nil)." + kHelp));
    const std::string stale = Show(5, 0x1000);
    EXPECT_TRUE(Contains(stale, "1000 is either stopped or invalid.\r\n Or ReltmrBasicInfoSwitch is not opened."));
    EXPECT_FALSE(Contains(stale, kHelp));
    EXPECT_TRUE(Contains(Show(7), "\r\n The debug package is not install or the ReltmrTraceSwitch switch "
                                  "is off, try : set reltimer trace switch 1."));
    EXPECT_TRUE(Contains(Show(8), "\r\n The debug package is not install or the "
                                  "uko_reltmrdbg.ReltmrMonSwitch switch is off."));
}

TEST_F(RelTmShow, FiveTimersInSummaryListsFindCallbackAndDetail) {
    // Modes 0, 1, 2, 3 and 19: one of each summary group, two callback loop ones.
    const uint8_t modes[] = {0, 1, 2, 3, 19};
    TestTimer t[5];
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_NE(Start(&t[i], UKO_RELTMR_KIND_LOCKED, modes[i], 100 + i, Nothing, 40 + i), nullptr);
    }
    // Parameter 1 of the callback-mode timer 2, for the find.
    const uint64_t param = 0x1234;
    std::memcpy(t[2].var->aucPriv + offsetof(UKO_RELTMR_CBK_PRIV, uvParam1), &param, sizeof(param));
    ASSERT_EQ(UKO_ReltmrPause(&t[1].var), 0u);

    const std::string summary = Show(1);
    EXPECT_TRUE(Contains(summary, "\r\nTotal number                    :5"));
    EXPECT_TRUE(Contains(summary, "\r\nTicking Number                  :4"));
    EXPECT_TRUE(Contains(summary, "\r\nPaused number                   :1"));
    EXPECT_TRUE(Contains(summary, "\r\nMessage No Loop number          :1\r\nMessage Loop number             :1"
                                  "\r\nCallback No loop number         :1\r\nCallback Loop number            :2"));

    EXPECT_TRUE(Contains(Show(2), "\r\nHandle   Handle Name   Msg Num   Cbk Num  Total"
                                  "\r\n  0         uko.sys        2        3        5"));

    // The third timer alone: two passed over, one shown.
    char row[160];
    std::snprintf(row, sizeof(row), "\r\n%-10u 0x%-16p %-10u  %-10s %-5s", 0u, static_cast<void*>(t[2].var),
                  1020u, "CBK NOLOOP", "ACTIVE");
    const std::string third = Show(3, 0xFFFFFFFFu, 2, 1);
    EXPECT_TRUE(Contains(third, "\r\n" + kDashes + "\r\nHandle     Timer ID           TimeLen(ms) Mode       Status" +
                                    row + "\r\n" + kStars));
    EXPECT_TRUE(Contains(Show(3, 0xFFFFFFFFu, 5, 0), "\r\n There is not any relative timer accord with the input condition."));

    const std::string byHandle = Show(3, 0, 0, 0);
    EXPECT_TRUE(Contains(byHandle, "\r\nCurrent timer number of Handle 0      :5         "));
    EXPECT_TRUE(Contains(byHandle, "PAUSED"));
    EXPECT_TRUE(Contains(Show(3, 50), "\r\n Invalid handle ID:50.\r\n Or ReltmrExtraInfoSwitch is not opened."));

    const std::string found = Show(4, 0xFFFFFFFFu, 42, param);
    EXPECT_TRUE(Contains(found, row));
    EXPECT_FALSE(Contains(found, "CBK LOOP"));
    EXPECT_TRUE(Contains(Show(4, 0xFFFFFFFFu, 42, 1),
                         "\r\nNot find such of these timers.Handle:4294967295, Name:42, Param:1."));

    const std::string cbk = Show(6, 0xFFFFFFFFu);
    EXPECT_TRUE(Contains(cbk, "  CBK FUNC"));
    EXPECT_TRUE(Contains(cbk, "CBK LOOP") && Contains(cbk, "CYCLE_COMPENSATE | CBK LOOP"));
    EXPECT_FALSE(Contains(cbk, "MSG"));

    const std::string detail = Show(5, reinterpret_cast<uintptr_t>(t[1].var));
    EXPECT_TRUE(Contains(detail, "\r\n Name                = 41 "));
    EXPECT_TRUE(Contains(detail, "\r\n Handle              = 0, uko.sys "));
    EXPECT_TRUE(Contains(detail, "\r\n Param2              = 0 "));
    EXPECT_TRUE(Contains(detail, "\r\n Mode                = MSG LOOP(1) "));
    EXPECT_TRUE(Contains(detail, "\r\n Status              = PAUSED(0xAE) "));
    EXPECT_TRUE(Contains(detail, "\r\n Length              = 1010(ms) "));

    g_out.clear();
    ukoShowPrintObserverSet(Sink);
    EXPECT_EQ(ukoReltmrUsageShow(5), 0u);
    ukoShowPrintObserverSet(nullptr);
    EXPECT_TRUE(Contains(g_out, "     PID:           Total Used Timer: \r\n" + std::string(60, '-') +
                                    "\r\n       0                           5\r\n"));

    for (TestTimer& x : t) {
        ASSERT_EQ(UKO_ReltmrStop(&x.var), 0u);
    }
    EXPECT_TRUE(Contains(Show(3, 0, 0, 0), "\r\n There is not any relative timer belongs to Handle 0."));
    EXPECT_TRUE(Contains(Show(5, reinterpret_cast<uintptr_t>(t[0].var)), "Invalid Timer ID"));
}

}  // namespace
