// The thread-creation layer: refusals, the stack size a thread gets and what the caller
// learns of it, detached and joinable threads, the minimum stack size, policies and
// priorities in supervisor mode (only ever in a child process), the priority mapping,
// delays that signals do not shorten, and the calling thread's identities. None of it
// needs the platform started, so the process stays single-threaded for its children.

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "osal_task.h"
#include "osal_task_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a thread learns about itself.
struct ThreadView {
    std::atomic<int> go{1};
    std::atomic<int> done{0};
    size_t stack = 0;
    int detach = -1;
    int policy = -1;
    int priority = -1;
};

void* LookAround(void* p) {
    auto* v = static_cast<ThreadView*>(p);
    while (v->go.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &v->stack);
        pthread_attr_getdetachstate(&attr, &v->detach);
        pthread_attr_destroy(&attr);
    }
    struct sched_param param = {};
    if (pthread_getschedparam(pthread_self(), &v->policy, &param) == 0) {
        v->priority = param.sched_priority;
    }
    v->done.store(1);
    return reinterpret_cast<void*>(0x77);
}

bool WaitDone(const ThreadView& v) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (v.done.load() == 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

size_t DefaultStackSize() {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    size_t size = 0;
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    return size;
}

// Runs body in a child process; a failed expectation there fails the test with the
// child's own message.
void InChild(const std::function<void()>& body) {
    auto r = vt_test::RunInChild([&] { body(); });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// The size the attributes report after the creation is what the caller gets back.
// ThreadSanitizer enlarges every new thread's stack through those attributes.
void ExpectStackWrittenBack(uint64_t written, uint64_t expected) {
#if defined(__SANITIZE_THREAD__)
    EXPECT_GE(written, expected);
#else
    EXPECT_EQ(written, expected);
#endif
}

TEST(OsalTask, RefusedCreations) {
    vt_test::LogCapture capture;
    uint64_t stack = 0;
    pthread_t thread;
    ThreadView v;
    EXPECT_EQ(OSAL_TaskCreate("p256", LookAround, 256, 0, &stack, &v, &thread), 22u);
    EXPECT_TRUE(capture.Records().empty()) << "priority 256 is refused without a report";
    EXPECT_EQ(OSAL_TaskCreate("nostack", LookAround, 1, 0, nullptr, &v, &thread), 22u);
    std::vector<vt_test::LogRecord> r = capture.Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "[ZIRPA-OSAL_TaskCreate]:Create task error,puiStackSize is null.");
    EXPECT_EQ(r[0].source, "osal_task");
    EXPECT_EQ(r[0].level, 2u);
    EXPECT_EQ(r[0].code, 0xFFFF);
    EXPECT_EQ(r[0].moduleId, 0xFFFF);
    EXPECT_EQ(v.done.load(), 0) << "no thread was started";
}

TEST(OsalTask, TheCallerLearnsTheStackTheThreadGot) {
    struct Case {
        uint64_t requested;
        uint64_t expected;
        const char* warning;  // report expected, or nullptr
    };
    const Case cases[] = {
        {0, DefaultStackSize(), nullptr},
        {0x30000, 0x30000, nullptr},
        {0x20000, 0x20000, nullptr},
        // Below the thread library's minimum and never probed: refused, the thread
        // still starts with the default.
        {1000, DefaultStackSize(),
         "[ZIRPA-OSAL_TaskCreate]:warning,call pthread_attr_setstacksize(1000) return:22."},
    };
    for (const Case& c : cases) {
        vt_test::LogCapture capture;
        ThreadView v;
        uint64_t stack = c.requested;
        pthread_t thread;
        ASSERT_EQ(OSAL_TaskCreate("stk", LookAround, 1, 0, &stack, &v, &thread), 0u) << c.requested;
        ASSERT_TRUE(WaitDone(v));
        ExpectStackWrittenBack(stack, c.expected);
        // The thread library may hand out a larger cached stack, never a smaller one.
        EXPECT_GE(v.stack, stack) << c.requested << ": the thread has at least what was written back";
        EXPECT_EQ(v.detach, PTHREAD_CREATE_DETACHED);
        std::vector<vt_test::LogRecord> r = capture.Records();
        if (c.warning == nullptr) {
            EXPECT_TRUE(r.empty()) << c.requested;
        } else {
            ASSERT_EQ(r.size(), 1u) << c.requested;
            EXPECT_EQ(r[0].text, c.warning);
        }
    }
}

TEST(OsalTask, AJoinableThreadIsJoinedWithItsResult) {
    ThreadView v;
    uint64_t stack = 0;
    pthread_t thread;
    ASSERT_EQ(OSAL_TaskCreate("join", LookAround, 1, OSAL_TASK_MODE_JOINABLE, &stack, &v, &thread), 0u);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, reinterpret_cast<void*>(0x77));
    EXPECT_EQ(v.detach, PTHREAD_CREATE_JOINABLE);
}

TEST(OsalTaskChild, TheProbedMinimumRaisesSmallStacks) {
    InChild([] {
        EXPECT_EQ(osalMinStackSizeGet(), 0u) << "nothing probes by itself";
        ASSERT_EQ(OSAL_MinStackSizeProbe(), 0u);
        const uint64_t minimum = osalMinStackSizeGet();
        ASSERT_NE(minimum, 0u);
        EXPECT_EQ(minimum % 1024, 0u);
        // The smallest size in 1024-byte steps the library takes.
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        EXPECT_NE(pthread_attr_setstacksize(&attr, minimum - 1024), 0);
        EXPECT_EQ(pthread_attr_setstacksize(&attr, minimum), 0);
        pthread_attr_destroy(&attr);
        vt_test::LogCapture capture;
        ThreadView v;
        uint64_t stack = 1000;
        pthread_t thread;
        ASSERT_EQ(OSAL_TaskCreate("min", LookAround, 1, OSAL_TASK_MODE_JOINABLE, &stack, &v, &thread), 0u);
        pthread_join(thread, nullptr);
        ExpectStackWrittenBack(stack, minimum);
        EXPECT_GE(v.stack, minimum);
        EXPECT_TRUE(capture.Records().empty()) << "a raised size is no failure";
    });
}

// Supervisor mode changes the process for good: each case runs in a child.
struct PolicyCase {
    const char* name;
    uint32_t mode;
    uint32_t priority;
    int policy;
    int osPriority;
    const char* report;  // nullptr: none
};

void PrintTo(const PolicyCase& c, std::ostream* os) { *os << c.name; }

void PolicyChild(const PolicyCase& c, bool supervisor) {
    SCOPED_TRACE(supervisor ? "supervisor mode" : "default mode");
    vt_test::LogCapture capture;
    if (supervisor) {
        OSAL_TaskRunInSupervisorModeSet();
        ASSERT_EQ(osalTaskSupervisorModeGet(), 1u);
    }
    ThreadView v;
    v.go.store(0);  // the policy is set after the thread exists: look only then
    uint64_t stack = 0;
    pthread_t thread;
    ASSERT_EQ(OSAL_TaskCreate(c.name, LookAround, c.priority, c.mode | OSAL_TASK_MODE_JOINABLE, &stack,
                              &v, &thread),
              0u);
    v.go.store(1);
    pthread_join(thread, nullptr);
    std::vector<vt_test::LogRecord> r = capture.Records();
    // A machine that refuses real-time policies even to user 0 only gets the report.
    if (supervisor && c.policy != SCHED_OTHER && r.size() == 1 &&
        r[0].text == "[ZIRPA-OSAL_TaskCreate]:Create task error,set schedparam error,code:1.") {
        EXPECT_EQ(v.policy, SCHED_OTHER);
        return;
    }
    const char* expected = supervisor ? c.report : nullptr;
    if (expected == nullptr) {
        EXPECT_TRUE(r.empty()) << r[0].text;
    } else {
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].text, expected);
    }
    const int policy = supervisor ? c.policy : SCHED_OTHER;
    EXPECT_EQ(v.policy, policy);
    if (policy != SCHED_OTHER) {
        EXPECT_EQ(v.priority, c.osPriority);
    }
}

class OsalTaskPolicy : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(OsalTaskPolicy, OnlySupervisorModeAppliesThePolicy) {
    const PolicyCase& c = GetParam();
    if (geteuid() != 0) {
        GTEST_SKIP() << "supervisor mode needs user 0";
    }
    for (bool supervisor : {false, true}) {
        InChild([&] { PolicyChild(c, supervisor); });
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OsalTaskPolicy,
    ::testing::Values(
        PolicyCase{"fifo_255", 0x20, 255, SCHED_FIFO, 86, nullptr},
        PolicyCase{"rr_30", 0x02, 30, SCHED_RR, 11, nullptr},
        PolicyCase{"both_keep_the_default", 0x22, 90, SCHED_OTHER, 0,
                   "[ZIRPA-OSAL_TaskCreate]:Create task error,task Mode is invalid,uiTaskMode:98."},
        PolicyCase{"none", 0x01, 200, SCHED_OTHER, 0, nullptr}),
    [](const ::testing::TestParamInfo<PolicyCase>& info) { return std::string(info.param.name); });

TEST(OsalTaskChild, SupervisorModeIsRefusedToOtherUsers) {
    InChild([] {
        vt_test::LogCapture capture;
        if (geteuid() == 0) {
            ASSERT_EQ(setuid(65534), 0);
        }
        OSAL_TaskRunInSupervisorModeSet();
        EXPECT_EQ(osalTaskSupervisorModeGet(), 0u);
        std::vector<vt_test::LogRecord> r = capture.Records();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].text, "[ZIRPA-OSAL_TaskRunInSupervisorModeSet]:Set task mode to supervisor error!");
    });
}

TEST(OsalTaskPrio, PlatformAndOsPriorities) {
    const uint32_t toOs[][2] = {{0, 1}, {2, 1}, {3, 2}, {100, 34}, {254, 85}, {255, 86}};
    for (const auto& row : toOs) {
        EXPECT_EQ(OSAL_PrioToOsPrio(row[0]), row[1]) << row[0];
    }
    const uint32_t back[][2] = {{1, 0}, {2, 3}, {86, 255}};
    for (const auto& row : back) {
        EXPECT_EQ(OSAL_OsPrioToPrio(row[0]), row[1]) << row[0];
    }
}

TEST(OsalTaskDelay, MillisecondsBecomeSecondsAndMicroseconds) {
    const uint32_t rows[][3] = {
        {0, 0, 0}, {1, 0, 1000}, {999, 0, 999000}, {1000, 1, 0}, {1500, 1, 500000},
        {0xFFFFFFFF, 4294967, 295000}};
    for (const auto& row : rows) {
        struct timeval tv = osalTaskDelayTimeval(row[0]);
        EXPECT_EQ(static_cast<uint64_t>(tv.tv_sec), row[1]) << row[0];
        EXPECT_EQ(static_cast<uint64_t>(tv.tv_usec), row[2]) << row[0];
    }
    EXPECT_EQ(OSAL_TaskDelay(0), 0u);
}

std::atomic<int> g_signals{0};
void CountSignal(int) { g_signals.fetch_add(1); }

TEST(OsalTaskDelay, SignalsDoNotCutTheSleepShort) {
    struct sigaction sa = {};
    struct sigaction old = {};
    sa.sa_handler = CountSignal;  // no SA_RESTART: select comes back with EINTR
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &sa, &old), 0);
    std::atomic<int> done{0};
    std::atomic<int64_t> sleptMs{0};
    pthread_t sleeper;
    struct Arg {
        std::atomic<int>* done;
        std::atomic<int64_t>* slept;
    } arg{&done, &sleptMs};
    ASSERT_EQ(pthread_create(&sleeper, nullptr,
                             [](void* p) -> void* {
                                 auto* a = static_cast<Arg*>(p);
                                 const auto t0 = Clock::now();
                                 (void)OSAL_TaskDelay(150);
                                 a->slept->store(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     Clock::now() - t0)
                                                     .count());
                                 a->done->store(1);
                                 return nullptr;
                             },
                             &arg),
              0);
    while (done.load() == 0) {
        pthread_kill(sleeper, SIGUSR2);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pthread_join(sleeper, nullptr);
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_GE(g_signals.load(), 1) << "the sleep was interrupted";
    EXPECT_GE(sleptMs.load(), 150);
}

TEST(OsalTaskThread, IdentitiesAndCancelType) {
    EXPECT_EQ(OSAL_CurThreadGet(), static_cast<uint64_t>(pthread_self()));
    EXPECT_EQ(OSAL_CurThreadIdGet(), static_cast<uint32_t>(pthread_self()));
    EXPECT_EQ(OSAL_TaskLock(), 0u);
    EXPECT_EQ(OSAL_TaskUnlock(), 0u);
    std::thread t([] {
        int old = -1;
        ASSERT_EQ(pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, &old), 0);
        EXPECT_EQ(OSAL_TaskCancelTypeSet(), 0u);
        ASSERT_EQ(pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &old), 0);
        EXPECT_EQ(old, PTHREAD_CANCEL_DEFERRED) << "a cancel lands only at a cancellation point";
    });
    t.join();
}

}  // namespace
