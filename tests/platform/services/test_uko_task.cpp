// Platform tasks: creation and its refusals, the start protocol, the current-task
// look-ups, how a task ends (its entry returns, it deletes itself, it is joined, it is
// deleted by another task while it waits), what it gives back, the table's growth, the
// hook lists, restart, priority, registration of a foreign thread and the small
// look-ups.

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "os_sema.h"
#include "os_sema_inner.h"
#include "os_task.h"
#include "osal_task.h"
#include "task_test_util.h"
#include "uko_secfunc.h"
#include "uko_task.h"
#include "uko_task_inner.h"
#include "vt_test/platform.h"

namespace {

using task_test::Census;
using task_test::EventWordsOf;
using task_test::InFreshPlatform;
using task_test::ReaderWaiting;
using task_test::SysPtUsed;
using task_test::WaitFor;

constexpr uint32_t kNone = UKO_TASK_ID_NONE;

// ---- Error records of the task module, by their unexpanded format ---------------------
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

std::vector<Record> Records() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    return g_records;
}

void ClearRecords() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_records.clear();
}

// ---- Entries ----------------------------------------------------------------------------
// Every entry gets a pointer to its Probe as first argument.
struct Probe {
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<uint32_t> curId{0};
    std::atomic<uint32_t> value{0};
    void* sem = nullptr;
};

Probe* ProbeOf(uint64_t arg) { return reinterpret_cast<Probe*>(arg); }
uint64_t ArgOf(Probe* p) { return reinterpret_cast<uint64_t>(p); }

void ReturnAtOnce(uint64_t a, uint64_t, uint64_t, uint64_t) {
    if (a != 0) ProbeOf(a)->finished.store(1);
}

// Waits for event 0x1, then returns.
void WaitForOne(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    uint32_t got = 0;
    p->value.store(UKO_TaskEventRead(0x1, 0, 0, &got));
    p->finished.store(1);
}

uint32_t Create(const char* name, Probe* p, UKO_TASK_ENTRY_PF entry, uint32_t mode = 0,
                uint64_t stack = 0, uint32_t prio = 100) {
    const uint64_t args[4] = {ArgOf(p), 0, 0, 0};
    uint32_t id = kNone;
    EXPECT_EQ(UKO_TaskCreate(name, &id, entry, prio, stack, mode, args), 0u) << name;
    return id;
}

bool Gone(uint32_t id) {
    return WaitFor([id] { return UKO_TaskIdCheck(id) == 0; });
}

// =========================================================================================
// Cases that need a platform of their own run first, in child processes, so that the
// parent is still single-threaded when it forks.
// =========================================================================================

TEST(UkoTaskFresh, TheHundredAndFirstLiveTaskGrowsTheTable) {
    InFreshPlatform([] {
        uint32_t size0 = 0;
        UKO_TaskCb* const* first = ukoTaskTableGet(&size0);
        EXPECT_EQ(size0, 101u);
        ASSERT_EQ(UKO_TaskNumGet(), 0u);
        constexpr int kTasks = 151;
        std::vector<Probe> probes(kTasks);
        std::vector<uint32_t> ids;
        for (int i = 0; i < kTasks; ++i) {
            if (i == 100) {
                EXPECT_EQ(ukoTaskTableSizeGet(), 101u) << "no growth before the 101st task";
            }
            ids.push_back(Create(("grow" + std::to_string(i)).c_str(), &probes[i], WaitForOne));
            if (i == 100) {
                EXPECT_EQ(ids[100], 101u);
                EXPECT_EQ(ukoTaskTableSizeGet(), 151u) << "the 101st task grows the table";
            }
        }
        EXPECT_EQ(ukoTaskTableSizeGet(), 201u);
        EXPECT_EQ(UKO_TaskNumGet(), static_cast<uint32_t>(kTasks));
        // Every task, old and new, is found in the grown table; and a reader that took
        // the first table before both growths still reads the same blocks through it.
        for (int i = 0; i < kTasks; ++i) {
            ASSERT_NE(UKO_TaskCbGet(ids[i]), nullptr) << i;
            EXPECT_EQ(UKO_TaskIdGet(("grow" + std::to_string(i)).c_str()), ids[i]);
            if (ids[i] < size0) {
                EXPECT_EQ(first[ids[i]], UKO_TaskCbGet(ids[i])) << i;
            }
        }
        for (uint32_t id : ids) {
            ASSERT_TRUE(WaitFor([id] { return ReaderWaiting(id); }));
            EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
        }
        EXPECT_TRUE(WaitFor([] { return UKO_TaskNumGet() == 0; }));
    });
}

TEST(UkoTaskFresh, HookListsRefuseWhatIsNotThere) {
    InFreshPlatform([] {
        ukoErrorRecordObserverSet(Observer);
        auto hookA = [](uint32_t) {};
        auto hookB = [](uint32_t) {};
        struct Case {
            const char* what;
            uint32_t rc;
            const char* format;
        };
        const Case cases[] = {
            {"create reg NULL", UKO_TaskCreateHookReg(nullptr), "[ZIRPA-%s]:The Param pfnHook is null."},
            {"delete reg NULL", UKO_TaskDeleteHookReg(nullptr), "[ZIRPA-%s]:The Param pfnHook is null."},
            {"create unreg NULL", UKO_TaskCreateHookUnreg(nullptr), "[ZIRPA-%s]:The Param pfnHook is null."},
            {"create unreg empty", UKO_TaskCreateHookUnreg(hookA), "[ZIRPA-%s]:The Hooklist is empty"},
            {"delete unreg empty", UKO_TaskDeleteHookUnreg(hookA), "[ZIRPA-%s]:The Hooklist is empty."},
        };
        std::vector<Record> r = Records();
        ASSERT_EQ(r.size(), sizeof(cases) / sizeof(cases[0]));
        for (size_t i = 0; i < r.size(); ++i) {
            EXPECT_EQ(cases[i].rc, 22u) << cases[i].what;
            EXPECT_EQ(r[i].format, cases[i].format) << cases[i].what;
            EXPECT_EQ(r[i].moduleId, 0x2001) << cases[i].what;
        }
        ClearRecords();
        ASSERT_EQ(UKO_TaskDeleteHookReg(hookA), 0u);
        EXPECT_EQ(UKO_TaskDeleteHookUnreg(hookB), 22u);
        r = Records();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].format, "[ZIRPA-%s]:The hook(0x%p) is not registered.");
        EXPECT_EQ(UKO_TaskDeleteHookUnreg(hookA), 0u);
        EXPECT_EQ(UKO_TaskDeleteHookUnreg(hookA), 22u) << "a hook goes once";
        ukoErrorRecordObserverSet(nullptr);
    });
}

// Deleting a task while it waits must leave everything it waited on usable by others.
std::atomic<uint32_t> g_deletedId{0};
void RecordDeleted(uint32_t id) { g_deletedId.store(id); }

void WaitOnSem(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    p->value.store(UKO_SemaP(p->sem, 0));
    p->finished.store(1);  // never reached: the task is deleted in the wait
}

int SemWaiters(void* sem) {
    auto* s = static_cast<UKO_SEMA_CB*>(sem);
    pthread_mutex_lock(&s->stMutex);
    int n = s->iWaiters;
    pthread_mutex_unlock(&s->stMutex);
    return n;
}

TEST(UkoTaskFresh, DeletingATaskBlockedOnASemaphoreLeavesItUsable) {
    InFreshPlatform(
        [] {
            ASSERT_EQ(UKO_TaskDeleteHookReg(RecordDeleted), 0u);
            const Census census;
            Probe p;
            ASSERT_EQ(UKO_SemaCCreate("victim", 0, 0, &p.sem), 0u);
            const Census withVictim;
            uint32_t id = Create("semw", &p, WaitOnSem);
            ASSERT_TRUE(WaitFor([&] { return SemWaiters(p.sem) == 1; }));

            EXPECT_EQ(UKO_TaskDelete(id), 0u);
            ASSERT_TRUE(Gone(id)) << "the task gives its id back once cancelled";
            EXPECT_EQ(g_deletedId.load(), id) << "the delete hooks saw it";
            EXPECT_EQ(p.finished.load(), 0);
            EXPECT_EQ(SemWaiters(p.sem), 0);

            // The heap, and the semaphore's own lock, are free for everyone else.
            void* block = UKO_Malloc(0, 200);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(UKO_Free(block), 0u);
            EXPECT_EQ(UKO_SemaV(p.sem), 0u);
            EXPECT_EQ(UKO_SemaP(p.sem, 1000), 0u);
            EXPECT_TRUE(WaitFor([&] { return withVictim.Back(); }))
                << "block, event semaphore and lock are given back";
            EXPECT_EQ(UKO_SemaDelete(p.sem), 0u) << "nobody is counted as waiting";
            EXPECT_TRUE(census.Back());
        },
        20000);
}

void WaitOnEvent(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    uint32_t got = 0;
    p->value.store(UKO_TaskEventRead(0x3, 0, 0, &got));
    p->finished.store(1);
}

void SleepLong(uint64_t a, uint64_t, uint64_t, uint64_t) {
    ProbeOf(a)->started.store(1);
    (void)UKO_TaskDelay(60000);
    ProbeOf(a)->finished.store(1);
}

TEST(UkoTaskFresh, DeletingAWaitingOrSleepingTaskGivesEverythingBack) {
    InFreshPlatform(
        [] {
            const Census census;

            Probe reader;
            uint32_t r = Create("evtw", &reader, WaitOnEvent);
            ASSERT_EQ(UKO_TaskEventWrite(r, 0x1), 0u);  // collected by the waiting read
            ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(r); }));
            Probe sleeper;
            uint32_t s = Create("slp", &sleeper, SleepLong);
            ASSERT_TRUE(WaitFor([&] { return sleeper.started.load() == 1; }));

            EXPECT_EQ(UKO_TaskDelete(r), 0u);
            EXPECT_EQ(UKO_TaskDelete(s), 0u);
            ASSERT_TRUE(Gone(r));
            ASSERT_TRUE(Gone(s));
            EXPECT_EQ(reader.finished.load() + sleeper.finished.load(), 0);
            EXPECT_TRUE(WaitFor([&] { return census.Back(); }));
            // The freed ids serve new tasks with fresh event words.
            Probe again;
            uint32_t a = Create("again", &again, WaitForOne);
            ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(a); }));
            EXPECT_EQ(EventWordsOf(a).pending, 0u);
            EXPECT_EQ(UKO_TaskEventWrite(a, 0x1), 0u);
            ASSERT_TRUE(Gone(a));
            EXPECT_EQ(again.value.load(), 0u);
        },
        20000);
}

// =========================================================================================
// Cases on the platform started once in this process.
// =========================================================================================

class UkoTask : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        ClearRecords();
        ukoErrorRecordObserverSet(Observer);
        tasks0_ = UKO_TaskNumGet();
    }
    void TearDown() override {
        ukoErrorRecordObserverSet(nullptr);
        EXPECT_TRUE(WaitFor([this] { return UKO_TaskNumGet() == tasks0_; })) << "a task was left";
    }
    uint32_t tasks0_ = 0;
};

TEST_F(UkoTask, CreationsThatAreRefused) {
    const uint64_t args[4] = {0, 0, 0, 0};
    uint32_t id = 7;
    struct Case {
        const char* what;
        uint32_t rc;
        const char* format;
    };
    const Case cases[] = {
        {"no name", UKO_TaskCreate(nullptr, &id, ReturnAtOnce, 1, 0, 0, args),
         "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pTaskID(0x%p), pscName(0x%p), auvArgs(0x%p)."},
        {"no entry", UKO_TaskCreate("r1", &id, nullptr, 1, 0, 0, args),
         "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pTaskID(0x%p), pscName(0x%p), auvArgs(0x%p)."},
        {"no id", UKO_TaskCreate("r2", nullptr, ReturnAtOnce, 1, 0, 0, args),
         "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pTaskID(0x%p), pscName(0x%p), auvArgs(0x%p)."},
        {"no args", UKO_TaskCreate("r3", &id, ReturnAtOnce, 1, 0, 0, nullptr),
         "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pTaskID(0x%p), pscName(0x%p), auvArgs(0x%p)."},
        {"priority 256", UKO_TaskCreate("r4", &id, ReturnAtOnce, 256, 0, 0, args),
         "[ZIRPA-%s]:Inval Param uiPriority(%u)."},
        {"stack beyond 2^64-65", UKO_TaskCreate("r5", &id, ReturnAtOnce, 1, ~0ull - 63, 0, args),
         "[ZIRPA-%s]:The TaskName(%s) ctreate failed, uvStackSize(%lu) is too big."},
    };
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), sizeof(cases) / sizeof(cases[0]));
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(cases[i].rc, 22u) << cases[i].what;
        EXPECT_EQ(r[i].format, cases[i].format) << cases[i].what;
        EXPECT_EQ(r[i].code, 22) << cases[i].what;
        EXPECT_EQ(r[i].moduleId, 0x2001) << cases[i].what;
    }
    EXPECT_EQ(id, 7u) << "a refused creation gives no id";
    EXPECT_EQ(UKO_TaskNumGet(), tasks0_);
}

TEST_F(UkoTask, ACreationWhoseThreadCannotBeMadeLeavesNoTrace) {
    const Census census;
    Probe p;
    const uint64_t args[4] = {ArgOf(&p), 0, 0, 0};
    uint32_t id = 9;
    // No machine maps a stack of 2^60 bytes: the thread library refuses the thread.
    const uint32_t rc = UKO_TaskCreate("huge", &id, ReturnAtOnce, 1, 1ull << 60, 0, args);
    EXPECT_NE(rc, 0u);
    std::vector<Record> r = Records();
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back().format, "[ZIRPA-%s]:TaskName(%s), uiStackSize(%lu), TaskCreate fail.");
    EXPECT_EQ(r.back().moduleId, 0x2001);
    EXPECT_EQ(id, 9u);
    EXPECT_TRUE(census.Back()) << "block, lock and semaphore were given back at once";
    EXPECT_EQ(UKO_TaskIdGet("huge"), kNone);
    uint32_t again = Create("huge", &p, ReturnAtOnce);
    EXPECT_NE(again, kNone) << "the name is free";
    ASSERT_TRUE(Gone(again));
}

TEST_F(UkoTask, PriorityLimitAndNamesThatShare31Characters) {
    const std::string stem(31, 'N');
    Probe a, b;
    uint32_t ida = Create((stem + "1").c_str(), &a, WaitForOne, 0, 0, 255);
    ASSERT_NE(ida, kNone) << "priority 255 is accepted";
    EXPECT_EQ(std::string(UKO_TaskCbGet(ida)->acName), stem) << "31 characters are kept";
    ClearRecords();
    const uint64_t args[4] = {ArgOf(&b), 0, 0, 0};
    uint32_t idb = 5;
    EXPECT_EQ(UKO_TaskCreate((stem + "2").c_str(), &idb, WaitForOne, 1, 0, 0, args), 0x20011019u);
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:The TaskName(%s) is repeated.");
    EXPECT_EQ(r[0].code, 0x1019);
    EXPECT_EQ(r[0].moduleId, 0x2001);
    EXPECT_EQ(UKO_TaskNumGet(), tasks0_ + 1) << "the refused creation left nothing";

    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(ida); }));
    EXPECT_EQ(UKO_TaskEventWrite(ida, 0x1), 0u);
    ASSERT_TRUE(Gone(ida));
    EXPECT_EQ(UKO_TaskIdGet(stem.c_str()), kNone) << "the name went with the task";
    idb = Create((stem + "2").c_str(), &b, ReturnAtOnce);
    EXPECT_NE(idb, kNone) << "the name is free again";
    ASSERT_TRUE(Gone(idb));
}

// What a task sees of itself from its first statement on.
struct SelfView {
    std::atomic<int> done{0};
    std::atomic<uint32_t> hookSawId{0};  // written by the create hook
    uint32_t hookAtEntry = 0;
    uint32_t osCurId = 0;
    uint32_t ukoCurId = 0;
    uint32_t byThread = 0;
    UKO_TaskCb* osCurCb = nullptr;
    UKO_TaskCb* cbSelf = nullptr;
    uint64_t stackRecorded = 0;
    size_t stackActual = 0;
    int detach = -1;
};
SelfView* g_view = nullptr;

void SlowCreateHook(uint32_t id) {
    // Slow on purpose: an entry released before the hooks have run would overtake it.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    if (g_view != nullptr) g_view->hookSawId.store(id);
}

void LookAtSelf(uint64_t a, uint64_t, uint64_t, uint64_t) {
    auto* v = reinterpret_cast<SelfView*>(a);
    v->hookAtEntry = v->hookSawId.load();
    v->osCurId = OS_CurTaskIdGet();
    v->ukoCurId = ukoTaskCurIdGet();
    v->byThread = OS_TaskIdGetByThread(pthread_self());
    (void)OS_CurTaskCbGet(&v->osCurCb);
    v->cbSelf = UKO_TaskCbGet(0);
    v->stackRecorded = v->cbSelf->uvStackSize;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &v->stackActual);
        pthread_attr_getdetachstate(&attr, &v->detach);
        pthread_attr_destroy(&attr);
    }
    v->done.store(1);
}

TEST_F(UkoTask, AnEntryStartsAfterTheCreateHooksAndKnowsItself) {
    ASSERT_EQ(UKO_TaskCreateHookReg(SlowCreateHook), 0u);
    struct Case {
        uint64_t stack;
        uint64_t atLeast;
    };
    for (const Case& c : {Case{0, 0x20000}, Case{0x40000, 0x40000}, Case{0, 0x20000}}) {
        SelfView v;
        g_view = &v;
        const uint64_t args[4] = {reinterpret_cast<uint64_t>(&v), 0, 0, 0};
        uint32_t id = kNone;
        ASSERT_EQ(UKO_TaskCreate("self", &id, LookAtSelf, 10, c.stack, 0, args), 0u);
        ASSERT_TRUE(WaitFor([&] { return v.done.load() == 1; }));
        ASSERT_TRUE(Gone(id));
        g_view = nullptr;
        EXPECT_EQ(v.hookAtEntry, id) << "the create hook ran before the entry";
        EXPECT_EQ(v.osCurId, id);
        EXPECT_EQ(v.ukoCurId, id);
        EXPECT_EQ(v.byThread, id);
        EXPECT_NE(v.cbSelf, nullptr);
        EXPECT_EQ(v.osCurCb, v.cbSelf);
        EXPECT_GE(v.stackRecorded, c.atLeast);
        EXPECT_GE(v.stackActual, v.stackRecorded) << "the thread has at least the recorded stack";
        EXPECT_EQ(v.detach, PTHREAD_CREATE_DETACHED);
    }
    EXPECT_EQ(UKO_TaskCreateHookUnreg(SlowCreateHook), 0u);
}

void DeleteSelf(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    p->value.store(UKO_TaskDelete(0));
    p->finished.store(1);
}

void DeleteOwnId(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    p->started.store(1);
    p->value.store(UKO_TaskDelete(OS_CurTaskIdGet()));
    p->finished.store(1);
}

TEST_F(UkoTask, AnEndingTaskGivesBackItsIdAndName) {
    struct Case {
        const char* name;
        UKO_TASK_ENTRY_PF entry;
    };
    for (const Case& c : {Case{"ret", ReturnAtOnce}, Case{"del0", DeleteSelf},
                          Case{"delown", DeleteOwnId}}) {
        Probe p;
        uint32_t id = Create(c.name, &p, c.entry);
        ASSERT_NE(id, kNone);
        ASSERT_TRUE(Gone(id)) << c.name;
        EXPECT_EQ(UKO_TaskCbGet(id), nullptr) << c.name;
        EXPECT_EQ(UKO_TaskIdGet(c.name), kNone) << c.name;
        if (c.entry != ReturnAtOnce) {
            EXPECT_EQ(p.started.load(), 1) << c.name;
            EXPECT_EQ(p.finished.load(), 0) << c.name << ": the delete returned";
        }
        Probe q;
        uint32_t again = Create(c.name, &q, ReturnAtOnce);
        EXPECT_NE(again, kNone) << c.name;
        ASSERT_TRUE(Gone(again));
    }
}

void ExitWithValue(uint64_t a, uint64_t value, uint64_t, uint64_t) {
    ProbeOf(a)->started.store(1);
    OS_TaskExit(reinterpret_cast<void*>(value), 0);
    ProbeOf(a)->finished.store(1);
}

TEST_F(UkoTask, AJoinableTaskIsGivenBackByItsJoiner) {
    struct Case {
        const char* name;
        UKO_TASK_ENTRY_PF entry;
        uint64_t value;
        void* expected;
    };
    const Census census;
    for (const Case& c : {Case{"jret", ReturnAtOnce, 0, nullptr},
                          Case{"jexit", ExitWithValue, 0x5A5A, reinterpret_cast<void*>(0x5A5A)}}) {
        Probe p;
        const uint64_t args[4] = {ArgOf(&p), c.value, 0, 0};
        uint32_t id = kNone;
        ASSERT_EQ(UKO_TaskCreate(c.name, &id, c.entry, 1, 0, UKO_TASK_MODE_JOINABLE, args), 0u);
        void* result = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(UKO_TaskJoin(id, &result), 0u) << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(UKO_TaskIdCheck(id), 0u) << c.name << ": the join gave the id back";
        if (c.entry == ExitWithValue) {
            EXPECT_EQ(p.finished.load(), 0) << c.name << ": OS_TaskExit returned";
        }
    }
    EXPECT_TRUE(census.Back()) << "the join gives everything back before it returns";

    ClearRecords();
    Probe d;
    uint32_t detached = Create("jdet", &d, WaitForOne);
    EXPECT_EQ(UKO_TaskJoin(0, nullptr), 22u);
    EXPECT_EQ(UKO_TaskJoin(detached, nullptr), 22u) << "a detached task cannot be joined";
    EXPECT_EQ(UKO_TaskJoin(kNone, nullptr), 22u);
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:TaskId(%u) is not current task id.");
    EXPECT_EQ(r[1].format, "[ZIRPA-%s]:Call phtead_join() fail.");
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(detached); }));
    EXPECT_EQ(UKO_TaskEventWrite(detached, 0x1), 0u);
    ASSERT_TRUE(Gone(detached));
}

TEST_F(UkoTask, AThousandTasksLeaveTheSystemPartitionAsTheyFoundIt) {
    const Census census;
    for (int i = 0; i < 1000; ++i) {
        Probe p;
        uint32_t id = Create("cyc", &p, ReturnAtOnce);
        ASSERT_NE(id, kNone) << i;
        ASSERT_TRUE(WaitFor([&] { return census.Settled(); })) << i;
    }
    EXPECT_EQ(SysPtUsed(), census.used);
}

void HoldSemaphore(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    (void)UKO_TaskSemHoldInc();
    p->started.store(1);
    uint32_t got = 0;
    (void)UKO_TaskEventRead(0x1, 0, 0, &got);
    (void)UKO_TaskSemHoldDec();
    (void)UKO_TaskEventRead(0x2, 0, 0, &got);
    p->finished.store(1);
}

TEST_F(UkoTask, DeletionIsRefusedForInvalidIdsAndSemaphoreHolders) {
    Probe p;
    uint32_t id = Create("hold", &p, HoldSemaphore);
    ASSERT_TRUE(WaitFor([&] { return p.started.load() == 1 && ReaderWaiting(id); }));
    ClearRecords();
    EXPECT_EQ(UKO_TaskDelete(id), 22u);
    EXPECT_EQ(UKO_TaskDelete(1500), 22u);
    EXPECT_EQ(UKO_TaskDelete(0), 22u) << "the test thread is no task";
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:TaskId(%u), TaskName(%s).sema is not null .");
    EXPECT_EQ(r[1].format, "[ZIRPA-%s]:Invalid taskId(%u), get TaskCb fail.");
    EXPECT_EQ(r[2].format, "[ZIRPA-%s]:Invalid taskId(%u), get TaskCb fail.");
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    EXPECT_EQ(UKO_TaskDelete(id), 0u) << "with nothing held the task may go";
    ASSERT_TRUE(Gone(id));
    EXPECT_EQ(p.finished.load(), 0);
}

std::mutex g_orderMutex;
std::vector<std::string> g_order;
void HookA(uint32_t) { std::lock_guard<std::mutex> l(g_orderMutex); g_order.push_back("A"); }
void HookB(uint32_t) { std::lock_guard<std::mutex> l(g_orderMutex); g_order.push_back("B"); }
void HookC(uint32_t) { std::lock_guard<std::mutex> l(g_orderMutex); g_order.push_back("C"); }
std::vector<std::string> TakeOrder() {
    std::lock_guard<std::mutex> l(g_orderMutex);
    std::vector<std::string> o;
    o.swap(g_order);
    return o;
}

TEST_F(UkoTask, HooksRunInRegistrationOrder) {
    using V = std::vector<std::string>;
    for (UKO_TASK_HOOK_PF h : {HookA, HookB, HookC}) ASSERT_EQ(UKO_TaskCreateHookReg(h), 0u);
    for (UKO_TASK_HOOK_PF h : {HookC, HookA}) ASSERT_EQ(UKO_TaskDeleteHookReg(h), 0u);
    Probe p;
    uint32_t id = Create("hooks", &p, ReturnAtOnce);
    ASSERT_TRUE(Gone(id));
    EXPECT_EQ(TakeOrder(), (V{"A", "B", "C", "C", "A"}));

    ASSERT_EQ(UKO_TaskCreateHookUnreg(HookB), 0u);
    id = Create("hooks", &p, ReturnAtOnce);
    ASSERT_TRUE(Gone(id));
    EXPECT_EQ(TakeOrder(), (V{"A", "C", "C", "A"}));
    for (UKO_TASK_HOOK_PF h : {HookA, HookC}) EXPECT_EQ(UKO_TaskCreateHookUnreg(h), 0u);
    for (UKO_TASK_HOOK_PF h : {HookC, HookA}) EXPECT_EQ(UKO_TaskDeleteHookUnreg(h), 0u);
}

// A task that reports its arguments each time the start event comes.
void RestartLoop(uint64_t a, uint64_t, uint64_t, uint64_t) {
    Probe* p = ProbeOf(a);
    UKO_TaskCb* cb = UKO_TaskCbGet(0);
    for (;;) {
        uint32_t got = 0;
        (void)UKO_TaskEventRead(UKO_TASK_EVENT_START | 0x1, UKO_EVENT_MODE_ANY, 0, &got);
        if ((got & 0x1) != 0) break;
        p->value.store(static_cast<uint32_t>(cb->auvArgs[1]));
        p->started.fetch_add(1);
    }
    p->finished.store(1);
}

TEST_F(UkoTask, RestartRenewsTheArgumentsAndSendsTheStartEventAgain) {
    Probe p;
    const uint64_t args[4] = {ArgOf(&p), 11, 0, 0};
    uint32_t id = kNone;
    ASSERT_EQ(UKO_TaskCreate("rst", &id, RestartLoop, 1, 0, 0, args), 0u);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    const uint64_t renewed[4] = {ArgOf(&p), 22, 0, 0};
    EXPECT_EQ(UKO_TaskRestart(id, renewed), 0u);
    ASSERT_TRUE(WaitFor([&] { return p.started.load() == 1; }));
    EXPECT_EQ(p.value.load(), 22u);
    EXPECT_EQ(UKO_TaskCbGet(id)->uiRestartMark, 0xFFFFFFFFu);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    EXPECT_EQ(UKO_TaskRestart(id, nullptr), 0u);
    ASSERT_TRUE(WaitFor([&] { return p.started.load() == 2; }));
    EXPECT_EQ(p.value.load(), 22u) << "no new arguments keeps the old ones";
    ClearRecords();
    EXPECT_EQ(UKO_TaskRestart(0, nullptr), 22u);
    EXPECT_EQ(UKO_TaskRestart(1500, nullptr), 22u);
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:TaskId(%u) is current task id.");
    EXPECT_EQ(r[1].format, "[ZIRPA-%s]:TaskId(%u), MK_TASKID_TO_PCB fail.");
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(Gone(id));
}

std::atomic<uint32_t> g_prioHookAnswer{0};
std::atomic<uint32_t> g_prioHookId{0};
std::atomic<uint32_t> g_prioHookPrio{0};
uint32_t PrioHook(uint32_t id, uint32_t prio) {
    g_prioHookId.store(id);
    g_prioHookPrio.store(prio);
    return g_prioHookAnswer.load();
}

TEST_F(UkoTask, PriorityChangesGoThroughTheHook) {
    Probe p;
    uint32_t id = Create("prio", &p, WaitForOne, 0, 0, 40);
    uint32_t prev = 0;
    EXPECT_EQ(UKO_TaskPrioSet(id, 90, &prev), 0u) << "without a hook the change is recorded";
    EXPECT_EQ(prev, 40u);
    ASSERT_EQ(UKO_TaskPrioHookSet(PrioHook), 0u);
    EXPECT_EQ(UKO_TaskPrioSet(id, 200, &prev), 0u);
    EXPECT_EQ(prev, 90u);
    EXPECT_EQ(g_prioHookId.load(), id);
    EXPECT_EQ(g_prioHookPrio.load(), 200u);
    g_prioHookAnswer.store(5);
    EXPECT_EQ(UKO_TaskPrioSet(id, 10, &prev), 22u);
    EXPECT_EQ(prev, 0xFFFFFFFFu);
    EXPECT_EQ(UKO_TaskCbGet(id)->uiPriority, 200u) << "a refused change keeps the priority";
    EXPECT_EQ(UKO_TaskPrioSet(id, 256, &prev), 22u);
    EXPECT_EQ(UKO_TaskPrioSet(id, 1, nullptr), 22u);
    ASSERT_EQ(UKO_TaskPrioHookSet(nullptr), 0u);
    g_prioHookAnswer.store(0);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(id); }));
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(Gone(id));
}

TEST_F(UkoTask, AForeignThreadIsNoTaskUntilRegistered) {
    EXPECT_EQ(OS_CurTaskIdGet(), kNone);
    UKO_TaskCb* cb = reinterpret_cast<UKO_TaskCb*>(0x1);
    EXPECT_EQ(OS_CurTaskCbGet(&cb), 11u);
    EXPECT_EQ(OS_TaskIdGetByThread(pthread_self()), kNone);
    EXPECT_EQ(ukoTaskCurIdGet(), kNone);
    EXPECT_EQ(UKO_ThreadIsForeign(pthread_self()), 1u);
    OS_TaskExit(reinterpret_cast<void*>(0x7), 0);  // returns to a thread the platform does not know
    SUCCEED();

    uint32_t id = kNone;
    ASSERT_EQ(UKO_TaskRegister("foreign", &id, ReturnAtOnce, 3, 0, 0, pthread_self()), 0u);
    EXPECT_EQ(UKO_TaskNumGet(), tasks0_ + 1);
    EXPECT_EQ(ukoTaskCurIdGet(), id) << "found by its thread";
    EXPECT_EQ(UKO_TaskIdGetByHandle(pthread_self()), id);
    EXPECT_EQ(UKO_TaskCreatedGet(id), 0u);
    EXPECT_EQ(UKO_ThreadIsForeign(pthread_self()), 1u) << "a registered thread stays foreign";
    EXPECT_EQ(UKO_TaskOsalIdGet(id), static_cast<uint64_t>(pthread_self()));
    EXPECT_EQ(UKO_TaskOsThreadIdGet(id), static_cast<uint32_t>(pthread_self()));
    // Registered, it reads its own events.
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x6), 0u);
    uint32_t got = 0;
    EXPECT_EQ(UKO_TaskEventRead(0x2, UKO_EVENT_MODE_NOWAIT, 0, &got), 0u);
    EXPECT_EQ(got, 0x2u);
    // Nothing else gives a registered thread back: the join's clean-up does it here.
    UKO_TaskCb* own = UKO_TaskCbGet(id);
    ukoTaskCbRelease(own);
    EXPECT_EQ(UKO_TaskIdCheck(id), 0u);
    EXPECT_EQ(UKO_TaskRegister(nullptr, &id, ReturnAtOnce, 3, 0, 0, pthread_self()), 22u);
    EXPECT_EQ(UKO_TaskRegister("x", &id, ReturnAtOnce, 256, 0, 0, pthread_self()), 22u);
}

struct Seen {
    std::vector<uint32_t> ids;
};
void Visit(UKO_TaskCb* cb, void* arg, uint32_t id) {
    if (cb->uiTaskId == id) static_cast<Seen*>(arg)->ids.push_back(id);
}

TEST_F(UkoTask, LookUpsOfLiveAndFreeIds) {
    Probe p, q;
    uint32_t a = Create("lka", &p, WaitForOne, 0, 0, 7);
    uint32_t b = Create("lkb", &q, WaitForOne, 0, 0, 8);
    ASSERT_TRUE(WaitFor([&] { return ReaderWaiting(a) && ReaderWaiting(b); }));
    const uint64_t threadA = UKO_TaskOsalIdGet(a);
    EXPECT_EQ(UKO_TaskSysIdGet(a), threadA);
    EXPECT_EQ(UKO_TaskIdGetByHandle(static_cast<pthread_t>(threadA)), a);
    EXPECT_EQ(UKO_TaskOsThreadIdGet(a), static_cast<uint32_t>(threadA));
    EXPECT_EQ(ukoTaskIdGetByThreadId(static_cast<uint32_t>(threadA)), a);
    EXPECT_EQ(ukoTaskHandleGetByThreadId(static_cast<uint32_t>(threadA)), threadA);
    EXPECT_EQ(UKO_TaskIdGet("lkb"), b);
    EXPECT_EQ(UKO_TaskUsrIdGet(a), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_TaskCreatedGet(a), 1u);
    for (uint32_t id : {a, b}) {  // each task recorded the top of its own stack
        pthread_attr_t attr;
        void* lowest = nullptr;
        size_t size = 0;
        ASSERT_EQ(pthread_getattr_np(static_cast<pthread_t>(UKO_TaskOsalIdGet(id)), &attr), 0);
        (void)pthread_attr_getstack(&attr, &lowest, &size);
        (void)pthread_attr_destroy(&attr);
        EXPECT_EQ(UKO_TaskStackBaseGet(id), reinterpret_cast<uintptr_t>(lowest) + size);
    }
    EXPECT_EQ(UKO_ThreadIsForeign(static_cast<pthread_t>(threadA)), 0u);
    EXPECT_EQ(UKO_TaskIdCheck(a), 1u);
    EXPECT_EQ(UKO_TaskIdCheck(0), 1u);
    EXPECT_EQ(UKO_TaskIdCheck(kNone), 0u);
    EXPECT_EQ(UKO_TaskCbCheck(a), 0u);
    EXPECT_EQ(UKO_TaskSuspend(a), 0xFFFFFFFFu) << "not available on this OS";
    EXPECT_EQ(UKO_TaskResume(a), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_TaskResume(0), 0u);
    EXPECT_EQ(UKO_TaskExitInDispatching(a), 0u);
    EXPECT_EQ(UKO_TaskCbGet(a)->uiExitInDispatching, 1u);

    uint32_t ids[8] = {};
    uint32_t count = 8;
    EXPECT_EQ(UKO_TaskIdListGet(&count, ids), 0u);
    std::vector<uint32_t> listed(ids, ids + count);
    EXPECT_NE(std::find(listed.begin(), listed.end(), a), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), b), listed.end());
    count = 1;
    EXPECT_EQ(UKO_TaskIdListGet(&count, ids), 0u);
    EXPECT_EQ(count, 1u) << "at most the given count";
    count = 0;
    EXPECT_EQ(UKO_TaskIdListGet(&count, ids), 22u);
    Seen seen;
    EXPECT_EQ(UKO_TaskForEach(Visit, &seen), 0u);
    EXPECT_NE(std::find(seen.ids.begin(), seen.ids.end(), b), seen.ids.end());

    // The blocking-semaphore record.
    pthread_t blocked[UKO_TASK_BLOCKSEM_LIST_MAX] = {};
    EXPECT_EQ(ukoSetBlockSemToTCB(0xABC, static_cast<pthread_t>(threadA)), 0u);
    EXPECT_EQ(ukoGetBlockSemToTCB(0xABC, blocked), 0u);
    EXPECT_EQ(static_cast<uint64_t>(blocked[0]), threadA);
    EXPECT_EQ(ukoGetBlockSemToTCB(0, blocked), 22u);

    for (uint32_t id : {a, b}) EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(Gone(a));
    ASSERT_TRUE(Gone(b));
    ClearRecords();
    EXPECT_EQ(UKO_TaskOsalIdGet(a), ~0ull);
    EXPECT_EQ(UKO_TaskUsrIdGet(a), 0u);
    EXPECT_EQ(UKO_TaskCreatedGet(a), 0u);
    EXPECT_EQ(UKO_TaskStackBaseGet(a), 0xFFFFFFFFu);
    EXPECT_EQ(UKO_TaskIdCheck(a), 0u);
    EXPECT_EQ(UKO_TaskIdGet(nullptr), kNone);
    EXPECT_EQ(UKO_TaskSigStackGet(static_cast<uint32_t>(threadA), nullptr), 0u);
    std::vector<Record> r = Records();
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:Invalid taskId(%u), get TaskCb fail.");
}

TEST_F(UkoTask, NameSetAndTheCallerChecks) {
    EXPECT_EQ(UKO_TaskNameSet("x"), 22u) << "the test thread is no task";
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:get TaskCb fail.");
    Probe p;
    auto rename = [](uint64_t a, uint64_t, uint64_t, uint64_t) {
        ProbeOf(a)->value.store(UKO_TaskNameSet("renamed-with-a-name-longer-than-31"));
        ProbeOf(a)->started.store(1);
        uint32_t got = 0;
        (void)UKO_TaskEventRead(0x1, 0, 0, &got);
    };
    uint32_t id = Create("orig", &p, rename);
    ASSERT_TRUE(WaitFor([&] { return p.started.load() == 1 && ReaderWaiting(id); }));
    EXPECT_EQ(p.value.load(), 0u);
    EXPECT_EQ(UKO_TaskIdGet("renamed-with-a-name-longer-than-31"), id);
    EXPECT_EQ(std::string(UKO_TaskCbGet(id)->acName), "renamed-with-a-name-longer-than");
    EXPECT_EQ(UKO_TaskIdGet("orig"), kNone);
    EXPECT_EQ(UKO_TaskEventWrite(id, 0x1), 0u);
    ASSERT_TRUE(Gone(id));
}

}  // namespace
