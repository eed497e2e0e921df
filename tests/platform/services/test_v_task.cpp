// The task adaptation table: blocks that follow their task ids (also for tasks made
// before the table), long names and task variables, the entry wrapper that holds tasks
// until the platform has started, the hook words and the small pass-through answers.

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "os_clock.h"
#include "task_test_util.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_task.h"
#include "uko_task_inner.h"
#include "v_task.h"
#include "v_task_inner.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

using task_test::Census;
using task_test::InFreshPlatform;
using task_test::ReaderWaiting;
using task_test::WaitFor;

constexpr uint32_t kNone = UKO_TASK_ID_NONE;

// ---- Error records ------------------------------------------------------------------------------
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
std::vector<Record> TakeRecords() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    std::vector<Record> out;
    out.swap(g_records);
    return out;
}

// ---- Entries ------------------------------------------------------------------------------------
struct Probe {
    std::atomic<int> ran{0};
    std::atomic<uint64_t> ranAtNs{0};
    std::atomic<uint32_t> selfId{0};
};
Probe* ProbeOf(uint64_t a) { return reinterpret_cast<Probe*>(a); }

uint64_t MonoNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// Notes when it ran and waits for event 0x1 before it returns.
void RunThenWait(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->ranAtNs.store(MonoNs());
    p->selfId.store(TSK_CurTaskIdGet());
    p->ran.store(1);
    uint32_t got = 0;
    (void)UKO_TaskEventRead(0x1, 0, 0, &got);
}

uint32_t Adapted(const char* name, const char* longName, Probe* p, uint32_t mode) {
    const uint64_t args[4] = {reinterpret_cast<uint64_t>(p), 0, 0, 0};
    uint32_t id = kNone;
    EXPECT_EQ(TSK_AdaptTaskCreate(name, longName, &id, RunThenWait, 10, 0, args, mode), 0u) << name;
    return id;
}

void Release(uint32_t id) {
    ASSERT_TRUE(WaitFor([id] { return ReaderWaiting(id); }));
    ASSERT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(WaitFor([id] { return UKO_TaskIdCheck(id) == 0; }));
}

std::string LongName(uint32_t id) {
    char name[TSK_LONG_NAME_LEN];
    std::memset(name, 'x', sizeof(name));
    if (tskLongNameGet(id, name) != 0) {
        return "<no block>";
    }
    return std::string(name, strnlen(name, sizeof(name)));
}

// A platform started in a child of its own (with every step), for the cases that need
// the table, the clock tasks and the started flag.
void InStartedPlatform(const std::function<void()>& body) {
    vt_test::TempEnv env;
    vt_test::ChildResult r = vt_test::RunInChild(
        [&] {
            if (UKO_Start() != 0) return 2;
            body();
            return ::testing::Test::HasFailure() ? 1 : 0;
        },
        60000);
    ASSERT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exitCode, 0) << (r.exitCode == 2 ? "start-up failed" : "a check failed in the child");
}

// ---- The table ----------------------------------------------------------------------------------

TEST(TskTable, BlocksFollowTheirTasksAlsoThoseMadeBeforeTheTable) {
    InFreshPlatform([] {
        Probe early;
        const uint64_t args[4] = {reinterpret_cast<uint64_t>(&early), 0, 0, 0};
        uint32_t earlyId = kNone;
        ASSERT_EQ(UKO_TaskCreate("erly", &earlyId, RunThenWait, 10, 0, 0, args), 0u);
        ASSERT_EQ(OS_ClockInit(0), 0u);
        EXPECT_EQ(TSK_AdaptCbGet(earlyId), nullptr) << "no table yet";

        ASSERT_EQ(TSK_TaskInit(0), 0u);
        for (const char* name : {"erly", "VCLK", "TICK"}) {
            const uint32_t id = UKO_TaskIdGet(name);
            TSK_ADAPT_CB* block = TSK_AdaptCbGet(id);
            ASSERT_NE(block, nullptr) << name;
            EXPECT_EQ(block->pstTaskCb, UKO_TaskCbGet(id)) << name;
        }
        ASSERT_EQ(TSK_TaskInit(0), 0u) << "a second call keeps the table";
        EXPECT_NE(TSK_AdaptCbGet(earlyId), nullptr);

        Release(earlyId);
        EXPECT_EQ(TSK_AdaptCbGet(earlyId), nullptr) << "the delete hook unlinked the block";
        EXPECT_EQ(TSK_AdaptCbGet(0), nullptr) << "the test thread is no task";
        EXPECT_EQ(TSK_AdaptCbGet(101), nullptr);
        EXPECT_EQ(TSK_TaskTableSizeGet(), 100u);
    });
}

TEST(TskTable, LongNamesAndVariables) {
    InStartedPlatform([] {
        Probe a;
        Probe b;
        const std::string longName(60, 'L');
        const uint32_t idA = Adapted("lnga", longName.c_str(), &a, UKO_TASK_MODE_DEFAULT);
        const uint32_t idB = Adapted("lngb", nullptr, &b, UKO_TASK_MODE_DEFAULT);
        EXPECT_EQ(LongName(idA), std::string(51, 'L')) << "51 characters are kept";
        EXPECT_EQ(LongName(idB), "");

        struct Case {
            uint32_t id;
            uint32_t index;
            uint32_t rc;
        };
        const Case cases[] = {
            {idA, 0, 0}, {idA, 7, 0}, {idA, 0x107, 0},  // only the low 8 bits count
            {idA, 8, 22}, {idA, 0xFF, 22}, {kNone, 0, 22}, {101, 0, 22}, {0, 0, 22},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(TSK_TaskVarSet(c.id, c.index, 0xC0DE0000u + c.index), c.rc)
                << c.id << "/" << c.index;
        }
        uint32_t value = 0;
        EXPECT_EQ(TSK_TaskVarGet(idA, 7, &value), 0u);
        EXPECT_EQ(value, 0xC0DE0107u) << "index 0x107 wrote variable 7";
        EXPECT_EQ(TSK_TaskVarGet(idA, 0, &value), 0u);
        EXPECT_EQ(value, 0xC0DE0000u);
        EXPECT_EQ(TSK_TaskVarGet(idB, 3, &value), 0u);
        EXPECT_EQ(value, 0u) << "variables start at 0";
        EXPECT_EQ(TSK_TaskVarGet(idA, 8, &value), 22u);
        EXPECT_EQ(TSK_TaskVarGet(idA, 0, nullptr), 22u);
        Release(idA);
        Release(idB);
        EXPECT_EQ(TSK_TaskVarGet(idA, 0, &value), 22u) << "a freed id has no block";
    });
}

// ---- The entry wrapper and the started flag -----------------------------------------------------

TEST(TskEntry, ATaskWaitsForTheStartedFlagAndRunsSoonAfterIt) {
    InStartedPlatform([] {
        // Best of three: the latency is the poll step plus scheduling, which a busy
        // machine may stretch once.
        uint64_t bestNs = ~0ull;
        for (int attempt = 0; attempt < 3; ++attempt) {
            TSK_PlatformStartedClear();
            Probe p;
            const uint32_t id = Adapted("wait", "waiting task", &p, UKO_TASK_MODE_DEFAULT);
            ASSERT_FALSE(WaitFor([&] { return p.ran.load() != 0; }, 200))
                << "the entry ran before the platform had started";
            const uint64_t setAt = MonoNs();
            TSK_PlatformStartedSet();
            ASSERT_TRUE(WaitFor([&] { return p.ran.load() != 0; }));
            bestNs = std::min(bestNs, p.ranAtNs.load() - setAt);
            EXPECT_EQ(p.selfId.load(), id) << "the wrapper made the block the thread's own";
            Release(id);
        }
        EXPECT_LE(bestNs, 25000000u) << "runs within about 20 ms of the flag";
    });
}

TEST(TskEntry, WhatTheWrapperDoesWhileThePlatformIsDown) {
    InStartedPlatform([] {
        TSK_PlatformStartedClear();
        const Census census;
        // Mode 0x10 does not wait.
        Probe nowait;
        const uint32_t idNoWait = Adapted("nowt", nullptr, &nowait, UKO_TASK_MODE_NOWAIT);
        EXPECT_TRUE(WaitFor([&] { return nowait.ran.load() != 0; }));
        Release(idNoWait);

        // A waiting task can be deleted; everything it held comes back.
        Probe deleted;
        const uint32_t idDeleted = Adapted("dele", nullptr, &deleted, UKO_TASK_MODE_DEFAULT);
        ASSERT_EQ(UKO_TaskDelete(idDeleted), 0u);
        EXPECT_TRUE(WaitFor([&] { return census.Back(); })) << "the waiting task was given back";

        // A task marked to end when dispatched ends without running its entry.
        Probe marked;
        const uint32_t idMarked = Adapted("mark", nullptr, &marked, UKO_TASK_MODE_DEFAULT);
        ASSERT_EQ(UKO_TaskExitInDispatching(idMarked), 0u);
        TSK_PlatformStartedSet();
        EXPECT_TRUE(WaitFor([&] { return census.Back(); }));
        EXPECT_EQ(marked.ran.load(), 0);
        EXPECT_EQ(deleted.ran.load(), 0);
    });
}

TEST(TskEntry, AfterAFailedStartTasksNeverRun) {
    vt_test::ChildResult r = vt_test::RunInChild([] {
        // Every step but the log's, whose failure to find a folder is simulated by a
        // step of our own that fails.
        size_t count = 0;
        const UKO_START_STEP* steps = ukoStartStepsGet(&count);
        std::vector<UKO_START_STEP> mine(steps, steps + count - 1);
        mine.push_back({"failing", [](uint32_t) -> uint32_t { return 22; }});
        if (ukoStartRun(mine.data(), mine.size()) == 0) return 2;
        Probe p;
        (void)Adapted("late", nullptr, &p, UKO_TASK_MODE_DEFAULT);
        EXPECT_FALSE(WaitFor([&] { return p.ran.load() != 0; }, 300));
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

// ---- Hook words ------------------------------------------------------------------------------------

std::mutex g_hookMutex;
std::vector<std::string> g_hookCalls;
void NoteHook(const std::string& s) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hookCalls.push_back(s);
}
std::vector<std::string> TakeHookCalls() {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    std::vector<std::string> out;
    out.swap(g_hookCalls);
    return out;
}
void CreateA(uint32_t) { NoteHook("A"); }
void CreateB(uint32_t) { NoteHook("B"); }
void AdaptCreated(const char* name, uint32_t) { NoteHook(std::string("adapt ") + name); }
uint32_t LockHook() {
    NoteHook("lock");
    return 5;
}
uint32_t UnlockHook() {
    NoteHook("unlock");
    return 6;
}

TEST(TskHooks, ReplaceKeepsOneHookRegistered) {
    InStartedPlatform([] {
        EXPECT_EQ(TSK_TaskCreateHookReplace(nullptr), nullptr);
        EXPECT_EQ(TSK_TaskCreateHookReplace(CreateA), nullptr);
        Probe p1;
        Release(Adapted("hk01", nullptr, &p1, UKO_TASK_MODE_NOWAIT));
        EXPECT_EQ(TakeHookCalls(), std::vector<std::string>{"A"});

        EXPECT_EQ(TSK_TaskCreateHookReplace(CreateB), CreateA);
        EXPECT_EQ(TSK_TaskCreateHookReplace(CreateB), CreateB) << "the same hook again";
        EXPECT_EQ(TSK_TaskCreateHookReplace(nullptr), nullptr) << "NULL changes nothing";
        TSK_AdaptCreateHookSet(AdaptCreated);
        Probe p2;
        Release(Adapted("hk02", nullptr, &p2, UKO_TASK_MODE_NOWAIT));
        EXPECT_EQ(TakeHookCalls(), (std::vector<std::string>{"B", "adapt hk02"}));
        TSK_AdaptCreateHookSet(nullptr);

        EXPECT_EQ(TSK_TaskDeleteHookReplace(CreateA), 0u);
        Probe p3;
        Release(Adapted("hk03", nullptr, &p3, UKO_TASK_MODE_NOWAIT));
        EXPECT_EQ(TakeHookCalls(), (std::vector<std::string>{"B", "A"}));
    });
}

TEST(TskHooks, LockHooksStandInForTheOsTaskLock) {
    InStartedPlatform([] {
        EXPECT_EQ(TSK_TaskLock(), 0u);
        EXPECT_EQ(TSK_TaskUnlock(), 0u);
        TSK_TaskLockHookSet(LockHook);
        TSK_TaskUnlockHookSet(UnlockHook);
        EXPECT_EQ(TSK_TaskLock(), 5u);
        EXPECT_EQ(TSK_TaskUnlock(), 6u);
        (void)TakeHookCalls();
        Probe p;
        const uint32_t id = Adapted("lkhk", "with a long name", &p, UKO_TASK_MODE_DEFAULT);
        EXPECT_EQ(TSK_TaskVarSet(id, 1, 2), 0u);
        EXPECT_EQ(TakeHookCalls(), (std::vector<std::string>{"lock", "unlock", "lock", "unlock"}))
            << "around the long name and around the variable";
        TSK_TaskLockHookSet(nullptr);
        TSK_TaskUnlockHookSet(nullptr);
        Release(id);
    });
}

// ---- Pass-through answers -------------------------------------------------------------------------

TEST(TskOps, SmallAnswers) {
    InStartedPlatform([] {
        Probe p;
        const uint32_t id = Adapted("smal", nullptr, &p, UKO_TASK_MODE_DEFAULT | UKO_TASK_MODE_JOINABLE);
        ASSERT_TRUE(WaitFor([&] { return p.ran.load() != 0; }));
        EXPECT_EQ(TSK_TaskIdValid(0), 0u);
        EXPECT_EQ(TSK_TaskIdValid(id), 1u);
        EXPECT_EQ(TSK_TaskIdCheck(kNone), 0u);
        EXPECT_STREQ(TSK_TaskNameGet(id), "smal");
        EXPECT_EQ(TSK_TaskIdGet("smal"), id);
        EXPECT_EQ(UKO_GetTaskPrio(id), 10u);
        uint32_t mode = 0;
        EXPECT_EQ(TSK_TaskModeGet(id, &mode), 0u);
        EXPECT_EQ(mode, UKO_TASK_MODE_DEFAULT) << "without the joinable bit";
        EXPECT_EQ(TSK_TaskModeGet(id, nullptr), 22u);
        EXPECT_EQ(TSK_CurTaskIdGet(), kNone);

        ukoErrorRecordObserverSet(Observer);
        EXPECT_EQ(UKO_GetTaskPrio(150), kNone);
        EXPECT_EQ(TSK_TaskModeGet(150, &mode), 22u);
        ukoErrorRecordObserverSet(nullptr);
        const std::vector<Record> r = TakeRecords();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].format, "[ZIRPA:%s]:Get task prio error, task Id(%u) is Invalid!");
        EXPECT_EQ(r[0].moduleId, 0x2198);

        uint32_t attached = 0;
        EXPECT_EQ(TSK_ThreadAttach("atch", "attached", &attached, RunThenWait, 1, 0, 0,
                                   pthread_self()),
                  22u) << "this OS never accepts a foreign thread";
        EXPECT_EQ(UKO_TaskRunDelay(5), 0u);
        EXPECT_EQ(UKO_SetTaskMode(id, 1), 0u);

        ASSERT_TRUE(WaitFor([id] { return ReaderWaiting(id); }));
        ASSERT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
        EXPECT_EQ(UKO_TaskJoin(id, nullptr), 0u);
    });
}

}  // namespace
