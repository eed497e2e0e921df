// The child-process runner: a check that fails in the child fails the test in the
// parent, with the child's expression, values and place, however the child ends.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "vt_test/child_process.h"

namespace {

int g_afterAssert = 0;

TEST(RunInChild, AFailedCheckIsReportedWithItsValuesAndPlace) {
    vt_test::ChildResult r;
    const int line = __LINE__ + 3;
    EXPECT_NONFATAL_FAILURE(r = vt_test::RunInChild([] {
                                const int answer = 41;
                                EXPECT_EQ(answer, 42) << "a deliberate miss";
                            }),
                            "a deliberate miss");
    EXPECT_EQ(r.failedChecks, 1);
    EXPECT_TRUE(vt_test::ExitedWith(r, vt_test::kChildCheckFailed));
    // The report names the place, the expression and both values.
    EXPECT_NE(r.report.find("test_child_process.cpp:" + std::to_string(line) + ":"),
              std::string::npos)
        << r.report;
    EXPECT_NE(r.report.find("answer"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("41"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("42"), std::string::npos) << r.report;
}

TEST(RunInChild, AFailedAssertionEndsTheBody) {
    vt_test::ChildResult r;
    EXPECT_NONFATAL_FAILURE(r = vt_test::RunInChild([] {
                                ASSERT_TRUE(false) << "stop here";
                                g_afterAssert = 1;
                                EXPECT_TRUE(false) << "never reached";
                            }),
                            "stop here");
    EXPECT_EQ(r.failedChecks, 1);
    EXPECT_TRUE(vt_test::ExitedWith(r, vt_test::kChildCheckFailed));
}

TEST(RunInChild, ChecksOfTheChildsThreadsAreReportedToo) {
    vt_test::ChildResult r;
    EXPECT_NONFATAL_FAILURE(r = vt_test::RunInChild([] {
                                pthread_t t;
                                ASSERT_EQ(pthread_create(
                                              &t, nullptr,
                                              [](void*) -> void* {
                                                  EXPECT_EQ(1, 2) << "from a second thread";
                                                  return nullptr;
                                              },
                                              nullptr),
                                          0);
                                pthread_join(t, nullptr);
                            }),
                            "from a second thread");
    EXPECT_EQ(r.failedChecks, 1);
}

TEST(RunInChild, ACheckBeforeADeathStillArrives) {
    vt_test::ChildResult r;
    EXPECT_NONFATAL_FAILURE(r = vt_test::RunInChild([] {
                                EXPECT_TRUE(false) << "last words";
                                raise(SIGKILL);
                            }),
                            "last words");
    EXPECT_TRUE(r.signaled);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_NE(vt_test::Describe(r).find("signal 9"), std::string::npos) << vt_test::Describe(r);
    EXPECT_FALSE(vt_test::ExitedWith(r));
}

TEST(RunInChild, ManyReportsDoNotBlockTheChild) {
    // Far more than a pipe holds at once: the parent must read while the child writes.
    const std::string bulk(2000, 'x');
    vt_test::ChildResult r;
    ::testing::TestPartResultArray seen;
    {
        ::testing::ScopedFakeTestPartResultReporter catcher(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &seen);
        r = vt_test::RunInChild(
            [&bulk] {
                for (int i = 0; i < 200; ++i) {
                    ADD_FAILURE() << bulk;
                }
            },
            20000);
    }
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.failedChecks, 200);
    ASSERT_EQ(seen.size(), 200);
    EXPECT_NE(std::string(seen.GetTestPartResult(199).message()).find(bulk), std::string::npos);
}

TEST(RunInChild, ACleanBodyPassesItsResultThrough) {
    auto ok = vt_test::RunInChild([] { EXPECT_EQ(1, 1); });
    EXPECT_TRUE(vt_test::ExitedWith(ok));
    EXPECT_EQ(ok.failedChecks, 0);
    EXPECT_EQ(ok.report, "");

    auto coded = vt_test::RunInChild([] { return 7; });
    EXPECT_TRUE(vt_test::ExitedWith(coded, 7));
    EXPECT_FALSE(vt_test::ExitedWith(coded, 0));
}

TEST(RunInChild, AHangingChildIsKilledAtItsLimit) {
    auto r = vt_test::RunInChild([] { pause(); }, 200);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.exited);
    EXPECT_NE(vt_test::Describe(r).find("time limit"), std::string::npos);
}

}  // namespace
