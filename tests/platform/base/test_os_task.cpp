// The OS task layer: its start-up with the processor count and page size it reads, the
// look-ups of the calling thread's task, the stack-size check, alternate signal stacks,
// and the operations this OS answers with a fixed value or a notice.

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "../services/task_test_util.h"
#include "os_task.h"
#include "os_task_inner.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_task.h"
#include "v_task.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"

namespace {

using task_test::Census;
using task_test::WaitFor;

struct Record {
    uint16_t code;
    uint16_t moduleId;
    std::string format;
};
std::mutex g_recMutex;
std::vector<Record> g_records;

void Observer(uint32_t, uint16_t code, uint16_t moduleId, const char*, uint16_t, const char* format) {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_records.push_back({code, moduleId, format != nullptr ? format : ""});
}

// The system query with a page size and a processor count of the test's choosing.
long g_fakePage = 4096;
long g_fakeCores = 8;
long FakeSysconf(int name) {
    if (name == _SC_PAGESIZE) return g_fakePage;
    if (name == _SC_NPROCESSORS_ONLN) return g_fakeCores;
    return sysconf(name);
}

// First, while this process is still single-threaded: a start on a machine with more
// processors than the platform counts.
TEST(OsTaskInit, StartUpSucceedsWithMoreThan256Processors) {
    auto r = vt_test::RunInChild([] {
        g_fakeCores = 300;
        osTaskSysconfSet(FakeSysconf);
        ukoErrorRecordObserverSet(Observer);
        EXPECT_EQ(UKO_Start(), 0u);
        EXPECT_EQ(TSK_PlatformStartedGet(), 1u);
        EXPECT_EQ(CpuCoreNum, 256u);
        ukoErrorRecordObserverSet(nullptr);
        std::lock_guard<std::mutex> lock(g_recMutex);
        int tooBig = 0;
        for (const Record& rec : g_records) {
            tooBig += rec.format == "[ZIRPA-%s]:The CpuCoreNum(%d) is too big." ? 1 : 0;
        }
        EXPECT_EQ(tooBig, 1) << "the excess is still recorded";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

class OsTask : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        std::lock_guard<std::mutex> lock(g_recMutex);
        g_records.clear();
    }
    void TearDown() override {
        osTaskSysconfSet(nullptr);
        ukoErrorRecordObserverSet(nullptr);
        EXPECT_EQ(OS_TaskInit(), 0u);  // the real values back
    }
};

TEST_F(OsTask, InitCountsProcessorsFromOneTo256) {
    struct Case {
        long cores;
        uint32_t counted;
        bool recorded;
    };
    osTaskSysconfSet(FakeSysconf);
    for (const Case& c : {Case{8, 8, false}, Case{1, 1, false}, Case{0, 1, false},
                          Case{256, 256, false}, Case{257, 256, true}, Case{300, 256, true}}) {
        {
            std::lock_guard<std::mutex> lock(g_recMutex);
            g_records.clear();
        }
        ukoErrorRecordObserverSet(Observer);
        g_fakePage = 4096;
        g_fakeCores = c.cores;
        (void)UKO_ErrnoSet(0);
        EXPECT_EQ(OS_TaskInit(), 0u) << c.cores;
        ukoErrorRecordObserverSet(nullptr);
        EXPECT_EQ(CpuCoreNum, c.counted) << c.cores;
        EXPECT_EQ(OS_TASK_SIG_STACK_SIZE, 131072u);
        std::lock_guard<std::mutex> lock(g_recMutex);
        if (c.recorded) {
            ASSERT_EQ(g_records.size(), 1u) << c.cores;
            EXPECT_EQ(g_records[0].format, "[ZIRPA-%s]:The CpuCoreNum(%d) is too big.");
            EXPECT_EQ(g_records[0].code, 22);
            EXPECT_EQ(g_records[0].moduleId, 0x2001);
            EXPECT_EQ(UKO_ErrnoGet(), 22u);
        } else {
            EXPECT_TRUE(g_records.empty()) << c.cores;
        }
    }
}

TEST_F(OsTask, InitFailsWithoutAPageSize) {
    osTaskSysconfSet(FakeSysconf);
    g_fakePage = -1;
    vt_test::LogCapture capture;
    errno = EINVAL;
    EXPECT_EQ(OS_TaskInit(), 0xFFFFFFFFu);
    EXPECT_EQ(OS_TASK_SIG_STACK_SIZE, 0u);
    std::vector<vt_test::LogRecord> r = capture.Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "[ZIRPA-OS_TaskInit]:call sysconf(_SC_PAGE_SIZE) fail, errno:[22].\n");
    EXPECT_EQ(r[0].source, "os_task");
    g_fakePage = 4096;
}

TEST_F(OsTask, StackSizeCheck) {
    const uint64_t ok[] = {0, 0x20000, ~0ull - 64};
    for (uint64_t size : ok) EXPECT_EQ(OS_TaskStackSizeCheck(&size), 0u) << size;
    const uint64_t tooBig[] = {~0ull - 63, ~0ull};
    for (uint64_t size : tooBig) EXPECT_EQ(OS_TaskStackSizeCheck(&size), 22u) << size;
    EXPECT_EQ(OS_TaskStackSizeCheck(nullptr), 22u);
}

TEST_F(OsTask, FixedAnswersAndNoticesOnStandardError) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(UKO_TaskSchedulePolicySet(1, 2, 3), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_TaskAffinitySet(1, 0x3), 0xFFFFFFFFu);
    EXPECT_EQ(OS_ProcCpuAffinitySet(1, 0x3), 0u);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err,
              "\r\nSorry, Mac don't support. UKO_TaskSchedulePolicySet 158 !\r\n"
              "\r\nSorry, MAC don't support. UKO_TaskAffinitySet 686 !\r\n"
              "\r\nSorry, MAC don't support. OS_ProcCpuAffinitySet 594 !\r\n");
    EXPECT_EQ(out, "") << "standard output belongs to native messaging";

    const pthread_t self = pthread_self();
    uint32_t prio = 77;
    EXPECT_EQ(OS_TaskIdBind(self, 1), 0xFFFFFFFFu);
    EXPECT_EQ(OS_TaskEntryInit(), 0u);
    EXPECT_EQ(OS_TaskCreateNotifyGet(), 0u);
    EXPECT_EQ(OS_TaskSuspend(self), 0xFFFFFFFFu);
    EXPECT_EQ(OS_TaskResume(self), 0xFFFFFFFFu);
    EXPECT_EQ(OS_TaskPrioGet(self, &prio), 0u);
    EXPECT_EQ(prio, 77u);
    EXPECT_EQ(OS_TaskRestart(self), 0u);
    EXPECT_EQ(OS_TaskThreadCheck(self), 0u);
    EXPECT_EQ(OS_TaskThreadStateGet(self), 0u);
    EXPECT_EQ(OS_TaskCbCheck(nullptr), 0u);
    EXPECT_EQ(OS_TaskPrioSet(self, 5), 0u) << "no priority hook: nothing to do";
    EXPECT_EQ(OS_TaskYield(), 0u);
    EXPECT_EQ(OS_TaskFreeCPU(1), 0u);
    EXPECT_EQ(OS_CurThreadIdGet(), static_cast<uint32_t>(self));
    EXPECT_EQ(OS_CurTaskCbGet(nullptr), 22u);
}

// What a task sees through the OS layer's look-ups, for itself and for another task.
struct LookUps {
    std::atomic<int> done{0};
    std::atomic<uint64_t> otherThread{0};
    uint32_t curId = 0;
    uint32_t byOwnThread = 0;
    uint32_t byOtherThread = 0;
    uint32_t twice = 0;
    UKO_TaskCb* cb = nullptr;
    UKO_TaskCb* own = nullptr;
};

void LookUpEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* l = reinterpret_cast<LookUps*>(a);
    l->curId = OS_CurTaskIdGet();
    l->twice = OS_CurTaskIdGet();
    l->byOwnThread = OS_TaskIdGetByThread(pthread_self());
    (void)OS_CurTaskCbGet(&l->cb);
    l->own = UKO_TaskCbGet(0);
    WaitFor([l] { return l->otherThread.load() != 0; });
    l->byOtherThread = OS_TaskIdGetByThread(static_cast<pthread_t>(l->otherThread.load()));
    l->done.store(1);
}

void Idle(uint64_t, uint64_t, uint64_t, uint64_t) {
    uint32_t got = 0;
    (void)UKO_TaskEventRead(0x1, 0, 0, &got);
}

TEST_F(OsTask, ATaskFindsItselfAndNotOthersByThread) {
    const uint64_t none[4] = {0, 0, 0, 0};
    uint32_t other = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("idle", &other, Idle, 10, 0, 0, none), 0u);
    LookUps l;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&l), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("look", &id, LookUpEntry, 10, 0, 0, args), 0u);
    l.otherThread.store(UKO_TaskOsalIdGet(other));
    ASSERT_TRUE(WaitFor([&] { return l.done.load() == 1; }));
    EXPECT_EQ(l.curId, id);
    EXPECT_EQ(l.twice, id);
    EXPECT_EQ(l.byOwnThread, id);
    EXPECT_NE(l.cb, nullptr);
    EXPECT_EQ(l.cb, l.own);
    EXPECT_EQ(l.byOtherThread, UKO_TASK_ID_NONE) << "only the caller's own thread is answered";
    EXPECT_EQ(UKO_TaskEventWrite(other, 0x1), 0u);
    EXPECT_TRUE(WaitFor([&] { return UKO_TaskIdCheck(id) == 0 && UKO_TaskIdCheck(other) == 0; }));
}

// With alternate signal stacks switched on, each task gets one of its own.
struct AltStack {
    std::atomic<int> done{0};
    stack_t ss = {};
    uint64_t recorded = 0;
    uint32_t size = 0;
    int ran = 0;
};

void AltStackEntry(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* s = reinterpret_cast<AltStack*>(a);
    s->ran = 1;
    (void)sigaltstack(nullptr, &s->ss);
    s->recorded = UKO_TaskSigStackGet(OS_CurThreadIdGet(), &s->size);
    s->done.store(1);
}

TEST_F(OsTask, TasksGetTheirOwnAlternateSignalStackWhenSwitchedOn) {
    const Census census;
    osTaskSigAltStackSwitchSet(1);
    AltStack s;
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(&s), 0, 0, 0};
    uint32_t id = UKO_TASK_ID_NONE;
    ASSERT_EQ(UKO_TaskCreate("alts", &id, AltStackEntry, 10, 0, 0, args), 0u);
    ASSERT_TRUE(WaitFor([&] { return s.done.load() == 1; }));
    osTaskSigAltStackSwitchSet(0);
    EXPECT_EQ(s.ss.ss_flags & SS_DISABLE, 0) << "an alternate stack is installed";
    EXPECT_EQ(s.ss.ss_size, 131072u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s.ss.ss_sp) % static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)), 0u);
    EXPECT_NE(s.recorded, 0u);
    EXPECT_LE(s.recorded, reinterpret_cast<uint64_t>(s.ss.ss_sp)) << "the allocation holds the stack";
    EXPECT_EQ(s.size, 131072u);
    EXPECT_TRUE(WaitFor([&] { return census.Back(); })) << "the stack went with the task";

    // Without a page size there is no stack: the entry is skipped, the task still ends.
    osTaskSysconfSet(FakeSysconf);
    g_fakePage = -1;
    osTaskSigAltStackSwitchSet(1);
    ukoErrorRecordObserverSet(Observer);
    AltStack t;
    const uint64_t args2[4] = {reinterpret_cast<uint64_t>(&t), 0, 0, 0};
    ASSERT_EQ(UKO_TaskCreate("altf", &id, AltStackEntry, 10, 0, 0, args2), 0u);
    ASSERT_TRUE(WaitFor([&] { return census.Back(); }));
    osTaskSigAltStackSwitchSet(0);
    g_fakePage = 4096;
    ukoErrorRecordObserverSet(nullptr);
    EXPECT_EQ(t.ran, 0);
    std::lock_guard<std::mutex> lock(g_recMutex);
    ASSERT_EQ(g_records.size(), 1u);
    EXPECT_EQ(g_records[0].format, "[ZIRPA-%s]:Task entry call OS_SigAltStack fail");
}

}  // namespace
