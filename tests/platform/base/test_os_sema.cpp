// Semaphores and mutexes: creation, P with and without a time-out, the non-waiting P,
// V, delete, the mutex recursion and ownership, the information record, the deadline
// arithmetic, the refusals that keep counts from wrapping, and the lock-debug hooks.

#include <gtest/gtest.h>

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os_sema.h"
#include "os_sema_inner.h"
#include "osal_lock.h"
#include "osal_lock_inner.h"
#include "uko_secfunc.h"
#include "vt_test/child_process.h"
#include "vt_test/platform.h"
#include "vt_test/thread_state.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// ---- Error records of the module, by their unexpanded format -------------------------
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

class OsSema : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        {
            std::lock_guard<std::mutex> lock(g_recMutex);
            g_records.clear();
        }
        ukoErrorRecordObserverSet(Observer);
    }
    void TearDown() override { ukoErrorRecordObserverSet(nullptr); }

    // Exactly one record, with this format, code and the module's identifier.
    static void ExpectOneRecord(const char* format, uint16_t code) {
        std::vector<Record> r = Records();
        ASSERT_EQ(r.size(), 1u) << (r.empty() ? "none" : r[0].format);
        EXPECT_EQ(r[0].format, format);
        EXPECT_EQ(r[0].code, code);
        EXPECT_EQ(r[0].moduleId, 0x2101);
    }
    static void ExpectNoRecord() {
        std::vector<Record> r = Records();
        EXPECT_TRUE(r.empty()) << r[0].format;
    }
    static void ClearRecords() {
        std::lock_guard<std::mutex> lock(g_recMutex);
        g_records.clear();
    }
};

UKO_SEMA_CB* Sem(void* h) { return static_cast<UKO_SEMA_CB*>(h); }
UKO_MUTEX_CB* Mtx(void* h) { return static_cast<UKO_MUTEX_CB*>(h); }

// Fields another thread changes under the block's mutex, read under it as well.
int32_t Guarded(void* h, const int32_t UKO_SEMA_CB::*field) {
    (void)pthread_mutex_lock(&Sem(h)->stMutex);
    int32_t value = Sem(h)->*field;
    (void)pthread_mutex_unlock(&Sem(h)->stMutex);
    return value;
}
int32_t CountOf(void* h) { return Guarded(h, &UKO_SEMA_CB::iCount); }
int32_t WaitersOf(void* h) { return Guarded(h, &UKO_SEMA_CB::iWaiters); }

// Polls until the condition holds (true) or five seconds pass (false).
template <typename Pred>
bool WaitFor(Pred pred) {
    Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(Ms(1));
    }
    return true;
}

bool InList(const UKO_DLL_NODE* head, const UKO_DLL_NODE* node) {
    for (const UKO_DLL_NODE* n = head->pstNext; n != head; n = n->pstNext) {
        if (n == node) return true;
    }
    return false;
}

// ---- Deadline arithmetic ---------------------------------------------------------------

struct DeadlineCase {
    time_t nowSec;
    long nowNsec;
    uint32_t timeoutMs;
    time_t sec;
    long nsec;
};

TEST(OsSemaDeadline, AddsTheTimeOutAndCarriesWholeSeconds) {
    const DeadlineCase cases[] = {
        {10, 700000000, 1500, 12, 200000000},  // 10 s 700,000 us + 1500 ms
        {10, 700000000, 0, 10, 700000000},
        {1, 600000000, 1400, 3, 0},                      // carry lands exactly on a second
        {0, 999999999, 1, 1, 999999},                    // carry from the last nanosecond
        {5, 0, 999, 5, 999000000},
        {7, 500000000, 0xFFFFFFFFu, 4294974, 795000000},  // the longest time-out
    };
    for (const DeadlineCase& c : cases) {
        struct timespec now = {c.nowSec, c.nowNsec};
        struct timespec out = {-1, -1};
        ukoSemaDeadlineCalc(&now, c.timeoutMs, &out);
        EXPECT_EQ(out.tv_sec, c.sec) << c.nowSec << "s " << c.nowNsec << "ns + " << c.timeoutMs;
        EXPECT_EQ(out.tv_nsec, c.nsec) << c.nowSec << "s " << c.nowNsec << "ns + " << c.timeoutMs;
    }
}

TEST(OsSemaDeadline, CountsFromTheMonotonicClock) {
    struct timespec before;
    struct timespec deadline;
    struct timespec after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    ukoSemaAbsTimeGet(&deadline, 2500);
    clock_gettime(CLOCK_MONOTONIC, &after);
    auto ns = [](const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
    EXPECT_GE(ns(deadline), ns(before) + int64_t{2500} * 1000000);
    EXPECT_LE(ns(deadline), ns(after) + int64_t{2500} * 1000000);
}

// ---- Creation -----------------------------------------------------------------------------

TEST_F(OsSema, CreationRefusesBadArguments) {
    struct Case {
        const char* what;
        uint32_t (*create)(void**);
        const char* format;
    };
    const Case cases[] = {
        {"binary 2", [](void** h) { return UKO_SemaBCreate("b", 2, 0, h); },
         "[ZIRPA-%s]:scSemName(%s), Inval param uiSemInit(%u)."},
        {"binary max", [](void** h) { return UKO_SemaBCreate("b", 0xFFFFFFFF, 0, h); },
         "[ZIRPA-%s]:scSemName(%s), Inval param uiSemInit(%u)."},
        {"counting 2^31", [](void** h) { return UKO_SemaCCreate("c", 0x80000000u, 0, h); },
         "[ZIRPA-%s]:Inval param uiSemInit(%u)."},
        {"counting no out", [](void**) { return UKO_SemaCCreate("c", 0, 0, nullptr); },
         "[ZIRPA-%s]:SemName(%s), the Param pSem is null."},
        {"binary no out", [](void**) { return UKO_SemaBCreate("b", 1, 0, nullptr); },
         "[ZIRPA-%s]:SemName(%s), the Param pSem is null."},
        {"mutex no out", [](void**) { return UKO_SemaMCreate("m", 0, nullptr); },
         "[ZIRPA-%s]:SemName(%s),the param pSem is null."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearRecords();
        void* h = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(c.create(&h), 22u);
        EXPECT_EQ(h, reinterpret_cast<void*>(0x1234));
        ExpectOneRecord(c.format, 22);
        EXPECT_EQ(errno, 22);
    }
}

TEST_F(OsSema, CreatedBlocksCarryTheirStateAndJoinTheGlobalLists) {
    void* c = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("count", 0x7FFFFFFF, 0x55, &c), 0u);
    void* b = nullptr;
    ASSERT_EQ(UKO_SemaBCreate("bin", 1, 3, &b), 0u);
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("mtx", 4, &m), 0u);

    EXPECT_EQ(Sem(c)->uiMagic, UKO_SEMA_MAGIC);
    EXPECT_EQ(Sem(c)->uiType, UKO_SEMA_TYPE_COUNT);
    EXPECT_EQ(Sem(c)->iCount, 0x7FFFFFFF);
    EXPECT_EQ(Sem(c)->uiInitCount, 0x7FFFFFFFu);
    EXPECT_EQ(Sem(c)->uiFlags, 0x55u);
    EXPECT_EQ(Sem(c)->iWaiters, 0);
    EXPECT_EQ(Sem(c)->pstSelf, Sem(c));
    EXPECT_TRUE(pthread_equal(Sem(c)->ulCreator, pthread_self()));
    EXPECT_EQ(Sem(b)->uiType, UKO_SEMA_TYPE_BINARY);
    EXPECT_EQ(Sem(b)->iCount, 1);
    EXPECT_EQ(Mtx(m)->uiMagic, UKO_SEMA_MAGIC);
    EXPECT_EQ(Mtx(m)->uiType, UKO_SEMA_TYPE_MUTEX);
    EXPECT_EQ(Mtx(m)->usFlags, 4);
    EXPECT_EQ(Mtx(m)->usRecursion, 0);
    EXPECT_TRUE(pthread_equal(Mtx(m)->ulOwner, UKO_MUTEX_NO_OWNER));
    EXPECT_EQ(Mtx(m)->pstSelf, Mtx(m));

    // Newest first.
    EXPECT_EQ(g_stUkoLockDbg.stSemaList.pstNext, &Sem(b)->stListNode);
    EXPECT_TRUE(InList(&g_stUkoLockDbg.stSemaList, &Sem(c)->stListNode));
    EXPECT_EQ(g_stUkoLockDbg.stMutexList.pstNext, &Mtx(m)->stListNode);

    EXPECT_EQ(UKO_SemaDelete(c), 0u);
    EXPECT_EQ(UKO_SemaDelete(b), 0u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
    EXPECT_FALSE(InList(&g_stUkoLockDbg.stSemaList, &Sem(c)->stListNode));
    EXPECT_FALSE(InList(&g_stUkoLockDbg.stSemaList, &Sem(b)->stListNode));
    EXPECT_FALSE(InList(&g_stUkoLockDbg.stMutexList, &Mtx(m)->stListNode));
    ExpectNoRecord();
}

TEST_F(OsSema, NamesAreCutToFifteenCharacters) {
    struct Case {
        const char* given;
        const char* stored;
    };
    const Case cases[] = {
        {nullptr, "UKO_Sema"},
        {"", ""},
        {"abcdefghijklmno", "abcdefghijklmno"},
        {"abcdefghijklmnopqrst", "abcdefghijklmno"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given != nullptr ? c.given : "(null)");
        void* s = nullptr;
        void* m = nullptr;
        ASSERT_EQ(UKO_SemaCCreate(c.given, 0, 0, &s), 0u);
        ASSERT_EQ(UKO_SemaMCreate(c.given, 0, &m), 0u);
        EXPECT_STREQ(Sem(s)->acName, c.stored);
        EXPECT_STREQ(Mtx(m)->acName, c.stored);
        EXPECT_EQ(UKO_SemaDelete(s), 0u);
        EXPECT_EQ(UKO_SemaDelete(m), 0u);
    }
}

// ---- Handles that are not live blocks --------------------------------------------------

TEST_F(OsSema, EveryOperationRefusesAHandleWithoutTheMagic) {
    UKO_SEMA_CB fake;
    std::memset(&fake, 0, sizeof(fake));
    fake.uiMagic = UKO_SEMA_MAGIC ^ 1;
    fake.iCount = 1;
    void* handles[] = {nullptr, &fake};
    for (void* h : handles) {
        struct Op {
            const char* name;
            uint32_t (*call)(void*);
        };
        const Op ops[] = {
            {"P", [](void* p) { return UKO_SemaP(p, 0); }},
            {"AsynP", UKO_SemaAsynP},
            {"V", UKO_SemaV},
            {"Delete", UKO_SemaDelete},
            {"InfoGet",
             [](void* p) {
                 UKO_MUTEX_INFO info;
                 return UKO_SemaMutexInfoGet(p, &info);
             }},
        };
        for (const Op& op : ops) {
            SCOPED_TRACE(std::string(op.name) + (h == nullptr ? " on NULL" : " on a bad magic"));
            ClearRecords();
            EXPECT_EQ(op.call(h), 22u);
            ExpectOneRecord("[ZIRPA-%s]:Inval param sem(0x%p).", 22);
        }
    }
    // Nothing was counted or taken on the fake block.
    EXPECT_EQ(fake.iCount, 1);
    EXPECT_EQ(fake.stCounters.uiPCount, 0u);
    EXPECT_EQ(fake.stCounters.uiVCount, 0u);
}

// ---- Semaphores ---------------------------------------------------------------------------

TEST_F(OsSema, BinaryVPastOneCountsOn) {
    void* b = nullptr;
    ASSERT_EQ(UKO_SemaBCreate(nullptr, 1, 0, &b), 0u);
    EXPECT_EQ(UKO_SemaV(b), 0u);
    EXPECT_EQ(Sem(b)->iCount, 2);
    EXPECT_EQ(UKO_SemaAsynP(b), 0u);
    EXPECT_EQ(UKO_SemaP(b, 0), 0u);
    EXPECT_EQ(Sem(b)->iCount, 0);
    EXPECT_EQ(Sem(b)->stCounters.uiVCount, 1u);
    EXPECT_EQ(Sem(b)->stCounters.uiAsynPCount, 1u);
    EXPECT_EQ(Sem(b)->stCounters.uiPCount, 1u);
    EXPECT_EQ(UKO_SemaDelete(b), 0u);
}

TEST_F(OsSema, AsynPOnZeroIsBusyAndCounted) {
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0, 0, &s), 0u);
    EXPECT_EQ(UKO_SemaAsynP(s), 16u);
    EXPECT_EQ(UKO_SemaAsynP(s), 16u);
    EXPECT_EQ(Sem(s)->stCounters.uiAsynPCount, 2u);
    EXPECT_EQ(Sem(s)->stCounters.uiAsynPFailCount, 2u);
    EXPECT_EQ(Sem(s)->iCount, 0);
    ExpectNoRecord();
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, PWithoutTimeOutWaitsForAV) {
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0, 0, &s), 0u);
    std::atomic<int> done{0};
    std::atomic<uint32_t> result{0xDEAD};
    std::atomic<pid_t> tid{0};
    std::thread waiter([&] {
        tid = vt_test::ThisThreadId();
        result = UKO_SemaP(s, 0);
        done = 1;
    });
    ASSERT_TRUE(WaitFor([&] { return WaitersOf(s) == 1; }));
    // Counted as a waiter and asleep on the semaphore's condition: from here on only a
    // V can end the wait.
    EXPECT_TRUE(vt_test::WaitUntilBlocked(tid, &Sem(s)->stCond, sizeof(Sem(s)->stCond)));
    EXPECT_EQ(done.load(), 0) << "P returned without a V";
    EXPECT_EQ(UKO_SemaV(s), 0u);
    waiter.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_EQ(Sem(s)->iCount, 0);
    EXPECT_EQ(Sem(s)->iWaiters, 0);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, PTimesOutAfterItsTimeAndCountsIt) {
    // The lower bound holds on every attempt; the upper bound (t + 50 ms) must hold on
    // at least one of three, since a loaded machine may deschedule the waiter after the
    // deadline.
    constexpr int kTimeoutMs = 30;
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0, 0, &s), 0u);
    Clock::duration best = Clock::duration::max();
    uint32_t attempts = 0;
    for (; attempts < 3 && best > Ms(kTimeoutMs + 50); ++attempts) {
        Clock::time_point start = Clock::now();
        EXPECT_EQ(UKO_SemaP(s, kTimeoutMs), 109u);
        Clock::duration took = Clock::now() - start;
        EXPECT_GE(took, Ms(kTimeoutMs));
        best = std::min(best, took);
    }
    EXPECT_LE(best, Ms(kTimeoutMs + 50));
    EXPECT_EQ(Sem(s)->stCounters.uiPCount, attempts);
    EXPECT_EQ(Sem(s)->stCounters.uiPTimeoutCount, attempts);
    EXPECT_EQ(Sem(s)->stCounters.uiPFailCount, 0u);
    EXPECT_EQ(Sem(s)->iWaiters, 0);
    ExpectNoRecord();
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, TimedPReturnsAsSoonAsAVComes) {
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0, 0, &s), 0u);
    std::thread giver([&] {
        (void)WaitFor([&] { return WaitersOf(s) == 1; });
        (void)UKO_SemaV(s);
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(UKO_SemaP(s, 10000), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    giver.join();
    EXPECT_EQ(Sem(s)->stCounters.uiPTimeoutCount, 0u);
    EXPECT_EQ(Sem(s)->iCount, 0);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, WakeUpsWithoutACountKeepTheFirstDeadline) {
    // A thread keeps waking the waiter without giving it a count. Were the deadline
    // computed again on each wake-up, the wait would last as long as the wake-ups do.
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0, 0, &s), 0u);
    std::atomic<bool> stop{false};
    std::thread waker([&] {
        Clock::time_point end = Clock::now() + Ms(1500);
        while (!stop && Clock::now() < end) {
            (void)pthread_mutex_lock(&Sem(s)->stMutex);
            (void)pthread_cond_broadcast(&Sem(s)->stCond);
            (void)pthread_mutex_unlock(&Sem(s)->stMutex);
            std::this_thread::sleep_for(Ms(2));
        }
    });
    Clock::time_point start = Clock::now();
    EXPECT_EQ(UKO_SemaP(s, 40), 109u);
    Clock::duration took = Clock::now() - start;
    stop = true;
    waker.join();
    EXPECT_GE(took, Ms(40));
    EXPECT_LT(took, Ms(1000));
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, VAtTheLargestCountIsRefusedInsteadOfWrapping) {
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 0x7FFFFFFE, 0, &s), 0u);
    EXPECT_EQ(UKO_SemaV(s), 0u);
    EXPECT_EQ(Sem(s)->iCount, 0x7FFFFFFF);
    ExpectNoRecord();
    EXPECT_EQ(UKO_SemaV(s), 22u);
    ExpectOneRecord("[ZIRPA-%s]:Sem(0x%p), count(%d) reach the max.", 22);
    EXPECT_EQ(Sem(s)->iCount, 0x7FFFFFFF);
    EXPECT_EQ(Sem(s)->stCounters.uiVCount, 2u);
    EXPECT_EQ(Sem(s)->stCounters.uiVFailCount, 1u);
    // Still a working semaphore.
    EXPECT_EQ(UKO_SemaAsynP(s), 0u);
    EXPECT_EQ(UKO_SemaV(s), 0u);
    EXPECT_EQ(Sem(s)->iCount, 0x7FFFFFFF);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

TEST_F(OsSema, DeleteIsRefusedWhileAThreadWaits) {
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaBCreate("waited", 0, 0, &s), 0u);
    std::atomic<uint32_t> result{0xDEAD};
    std::thread waiter([&] { result = UKO_SemaP(s, 0); });
    ASSERT_TRUE(WaitFor([&] { return WaitersOf(s) == 1; }));

    EXPECT_EQ(UKO_SemaDelete(s), 16u);
    ExpectOneRecord("[ZIRPA-%s]:Sem(0x%p), pthread_cond_destroy fail, errno:[%d].", 16);
    // The block is untouched and still in use.
    EXPECT_EQ(Sem(s)->uiMagic, UKO_SEMA_MAGIC);
    EXPECT_STREQ(Sem(s)->acName, "waited");
    EXPECT_EQ(CountOf(s), 0);
    EXPECT_EQ(WaitersOf(s), 1);
    EXPECT_TRUE(InList(&g_stUkoLockDbg.stSemaList, &Sem(s)->stListNode));

    EXPECT_EQ(UKO_SemaV(s), 0u);
    waiter.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
}

// ---- Mutexes ------------------------------------------------------------------------------

UKO_MUTEX_INFO InfoOf(void* m) {
    UKO_MUTEX_INFO info;
    std::memset(&info, 0xA5, sizeof(info));
    EXPECT_EQ(UKO_SemaMutexInfoGet(m, &info), 0u);
    return info;
}

TEST_F(OsSema, MutexInformationRecord) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    UKO_MUTEX_INFO info = InfoOf(m);
    EXPECT_EQ(info.uiFree, 1u);
    EXPECT_EQ(info.uiRecursion, 0u);
    EXPECT_TRUE(pthread_equal(info.ulOwner, UKO_MUTEX_NO_OWNER));

    ASSERT_EQ(UKO_SemaAsynP(m), 0u);
    info = InfoOf(m);
    EXPECT_EQ(info.uiFree, 0u);
    EXPECT_EQ(info.uiRecursion, 1u);
    EXPECT_TRUE(pthread_equal(info.ulOwner, pthread_self()));
    ASSERT_EQ(UKO_SemaV(m), 0u);

    // A semaphore handle, or no record, is refused and the record cleared.
    void* s = nullptr;
    ASSERT_EQ(UKO_SemaCCreate("s", 3, 0, &s), 0u);
    std::memset(&info, 0xA5, sizeof(info));
    ClearRecords();
    EXPECT_EQ(UKO_SemaMutexInfoGet(s, &info), 22u);
    EXPECT_EQ(info.uiFree, 0u);
    EXPECT_EQ(info.uiRecursion, 0u);
    EXPECT_EQ(info.ulOwner, pthread_t{0});
    ExpectOneRecord("[ZIRPA-%s]:Inval param sem(0x%p).", 22);
    EXPECT_EQ(UKO_SemaMutexInfoGet(m, nullptr), 22u);
    EXPECT_EQ(UKO_SemaDelete(s), 0u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

TEST_F(OsSema, MutexRecursionThroughAsynPAndV) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    EXPECT_EQ(UKO_SemaAsynP(m), 0u);
    EXPECT_EQ(UKO_SemaAsynP(m), 0u);
    EXPECT_EQ(InfoOf(m).uiRecursion, 2u);
    EXPECT_EQ(UKO_SemaV(m), 0u);
    UKO_MUTEX_INFO info = InfoOf(m);
    EXPECT_EQ(info.uiRecursion, 1u);
    EXPECT_TRUE(pthread_equal(info.ulOwner, pthread_self()));
    EXPECT_EQ(UKO_SemaV(m), 0u);
    info = InfoOf(m);
    EXPECT_EQ(info.uiFree, 1u);
    EXPECT_TRUE(pthread_equal(info.ulOwner, UKO_MUTEX_NO_OWNER));
    ExpectNoRecord();

    // One V too many: the OS lock refuses it.
    EXPECT_EQ(UKO_SemaV(m), 1u);
    ExpectOneRecord("[ZIRPA-%s]:OSAL_LockUnLock (0x%p)failed.", 1);
    EXPECT_EQ(errno, 1);
    EXPECT_EQ(InfoOf(m).uiFree, 1u);
    EXPECT_EQ(Mtx(m)->stCounters.uiAsynPCount, 2u);
    EXPECT_EQ(Mtx(m)->stCounters.uiVCount, 3u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

TEST_F(OsSema, MutexOwnedElsewhereIsBusyTimesOutAndRefusesForeignV) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    std::atomic<int> phase{0};
    std::thread owner([&] {
        EXPECT_EQ(UKO_SemaP(m, 0), 0u);
        phase = 1;
        (void)WaitFor([&] { return phase.load() == 2; });
        EXPECT_EQ(UKO_SemaV(m), 0u);
    });
    ASSERT_TRUE(WaitFor([&] { return phase.load() == 1; }));

    EXPECT_EQ(UKO_SemaAsynP(m), 16u);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(UKO_SemaP(m, 30), 109u);
    EXPECT_GE(Clock::now() - start, Ms(30));
    ExpectNoRecord();
    EXPECT_EQ(UKO_SemaV(m), 1u);
    ExpectOneRecord("[ZIRPA-%s]:OSAL_LockUnLock (0x%p)failed.", 1);
    UKO_MUTEX_INFO info = InfoOf(m);
    EXPECT_EQ(info.uiRecursion, 1u);
    EXPECT_FALSE(pthread_equal(info.ulOwner, pthread_self()));

    phase = 2;
    owner.join();
    EXPECT_EQ(InfoOf(m).uiFree, 1u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

TEST_F(OsSema, MutexPTakesTheLockAndWaitsForTheOwner) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    EXPECT_EQ(UKO_SemaP(m, 0), 0u);
    EXPECT_EQ(UKO_SemaP(m, 50), 0u);  // the owner's own take never waits
    EXPECT_EQ(InfoOf(m).uiRecursion, 2u);

    std::atomic<int> got{0};
    std::atomic<pid_t> tid{0};
    std::thread other([&] {
        tid = vt_test::ThisThreadId();
        EXPECT_EQ(UKO_SemaP(m, 0), 0u);
        got = 1;
        EXPECT_EQ(UKO_SemaV(m), 0u);
    });
    WaitFor([&] { return tid.load() != 0; });
    pthread_mutex_t* osLock = &Mtx(m)->stLock;
    EXPECT_TRUE(vt_test::WaitUntilBlocked(tid, osLock, sizeof(*osLock)));
    EXPECT_EQ(got.load(), 0);
    EXPECT_EQ(UKO_SemaV(m), 0u);
    // One level given back: the owner still holds the mutex, and the other thread still
    // sleeps on its lock (a V that let the lock go would have woken it).
    EXPECT_EQ(InfoOf(m).uiRecursion, 1u);
    EXPECT_TRUE(pthread_equal(InfoOf(m).ulOwner, pthread_self()));
    EXPECT_TRUE(vt_test::WaitUntilBlocked(tid, osLock, sizeof(*osLock), 200));
    EXPECT_EQ(got.load(), 0) << "taken while the owner still held one level";
    EXPECT_EQ(UKO_SemaV(m), 0u);
    other.join();
    EXPECT_EQ(got.load(), 1);
    EXPECT_EQ(InfoOf(m).uiFree, 1u);
    EXPECT_EQ(Mtx(m)->stCounters.uiPCount, 3u);
    ExpectNoRecord();
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

TEST_F(OsSema, MutexRecursionStopsBeforeItWraps) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    for (uint32_t i = 0; i < 0xFFFF; ++i) {
        ASSERT_EQ(UKO_SemaAsynP(m), 0u) << i;
    }
    EXPECT_EQ(InfoOf(m).uiRecursion, 0xFFFFu);
    EXPECT_EQ(UKO_SemaAsynP(m), 22u);
    EXPECT_EQ(UKO_SemaP(m, 0), 22u);
    std::vector<Record> r = Records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].format, "[ZIRPA-%s]:Mutex(0x%p), recursion(%u) reach the max.");
    EXPECT_EQ(r[0].code, 22);
    UKO_MUTEX_INFO info = InfoOf(m);
    EXPECT_EQ(info.uiRecursion, 0xFFFFu);
    EXPECT_TRUE(pthread_equal(info.ulOwner, pthread_self()));

    // Still owned: another thread cannot take it.
    std::thread other([&] { EXPECT_EQ(UKO_SemaAsynP(m), 16u); });
    other.join();
    for (uint32_t i = 0; i < 0xFFFF; ++i) {
        ASSERT_EQ(UKO_SemaV(m), 0u) << i;
    }
    EXPECT_EQ(InfoOf(m).uiFree, 1u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

TEST_F(OsSema, MutexDeleteIsRefusedWhileHeld) {
    void* m = nullptr;
    ASSERT_EQ(UKO_SemaMCreate("m", 0, &m), 0u);
    ASSERT_EQ(UKO_SemaAsynP(m), 0u);
    EXPECT_EQ(UKO_SemaDelete(m), 14u);
    EXPECT_EQ(Mtx(m)->uiMagic, UKO_SEMA_MAGIC);
    EXPECT_TRUE(InList(&g_stUkoLockDbg.stMutexList, &Mtx(m)->stListNode));
    EXPECT_EQ(UKO_SemaV(m), 0u);
    EXPECT_EQ(UKO_SemaDelete(m), 0u);
}

// ---- Lock-debug hooks ---------------------------------------------------------------

std::string g_hookLog;
void* g_hookSem = nullptr;
std::string Who(void* p) { return p == nullptr ? "null" : (p == g_hookSem ? "sem" : "other"); }
void HAcquire(pthread_t, void* p) { g_hookLog += "acquire(" + Who(p) + ") "; }
void HRelease(void* p) { g_hookLog += "release(" + Who(p) + ") "; }
void HDelete(void* p) { g_hookLog += "delete(" + Who(p) + ") "; }
uint32_t HDbgRelease(void* p, uintptr_t*, uintptr_t*, uintptr_t*, uintptr_t* out) {
    g_hookLog += "dbgrelease(" + Who(p) + ") ";
    *out = 7;
    return 1;
}
void HDbgAcquire(uintptr_t*) { g_hookLog += "dbgacquire "; }
void HWait(void* p, pthread_t) { g_hookLog += "wait(" + Who(p) + ") "; }
uint32_t HVNotify(void* p, uint32_t type, uintptr_t v1, uintptr_t) {
    g_hookLog += "vnotify(" + Who(p) + "," + std::to_string(type) + "," + std::to_string(v1) + ") ";
    return 0;
}
void HMutexAcquire(pthread_t, uint16_t flags, uint16_t recursion, void* p) {
    g_hookLog += "mutexacquire(" + Who(p) + "," + std::to_string(flags) + "," +
                 std::to_string(recursion) + ") ";
}
void HMutexRelease(pthread_t) { g_hookLog += "mutexrelease "; }

TEST_F(OsSema, LockDebugHooksRunWhereTheFlagsAskForThem) {
    auto r = vt_test::RunInChild([] {
        g_stUkoLockDbg.stHooks = {HAcquire, HRelease, HDelete, HDbgRelease, HDbgAcquire, HWait};
        ukoSemaVNotifyHookSet(HVNotify);
        ukoMutexHookSet(HMutexAcquire, HMutexRelease);

        // Flags off: only the delete hook and the ownership hooks of a flagged mutex.
        void* s = nullptr;
        ASSERT_EQ(UKO_SemaCCreate("s", 1, 0, &s), 0u);
        g_hookSem = s;
        (void)UKO_SemaP(s, 0);
        (void)UKO_SemaV(s);
        (void)UKO_SemaDelete(s);
        EXPECT_EQ(g_hookLog, "delete(sem) ");

        g_hookLog.clear();
        void* m = nullptr;
        ASSERT_EQ(UKO_SemaMCreate("m", UKO_MUTEX_FLAG_OWNER_HOOK, &m), 0u);
        g_hookSem = m;
        (void)UKO_SemaAsynP(m);
        (void)UKO_SemaAsynP(m);
        (void)UKO_SemaV(m);
        (void)UKO_SemaV(m);
        (void)UKO_SemaDelete(m);
        EXPECT_EQ(g_hookLog, "mutexacquire(sem,4,1) mutexrelease ");

        // Every flag on.
        g_stUkoLockDbg.uiFlags = UKO_LOCKDBG_ENABLE | UKO_LOCKDBG_ACQ_REL | UKO_LOCKDBG_WAIT |
                                 UKO_LOCKDBG_DBGWORD;
        g_hookLog.clear();
        ASSERT_EQ(UKO_SemaBCreate("s", 1, 0, &s), 0u);
        g_hookSem = s;
        (void)UKO_SemaP(s, 0);
        (void)UKO_SemaV(s);
        (void)UKO_SemaAsynP(s);
        (void)UKO_SemaAsynP(s);  // busy: no hook
        (void)UKO_SemaP(s, 1);   // time-out: no acquire hooks
        (void)UKO_SemaV(s);
        (void)UKO_SemaDelete(s);
        EXPECT_EQ(g_hookLog,
                  "wait(sem) acquire(sem) dbgacquire wait(null) "
                  "dbgrelease(sem) release(sem) vnotify(sem,0,7) "
                  "acquire(sem) dbgacquire "
                  "wait(sem) wait(null) "
                  "dbgrelease(sem) release(sem) vnotify(sem,0,7) "
                  "delete(sem) ");

        // A flagged mutex under every flag: the debug words are handed over only when the
        // OS lock itself is taken or given back, a take or V by the owner that merely
        // counts calls none of them, a mutex V asks for no V-notify, and a mutex delete
        // calls no delete hook.
        g_hookLog.clear();
        ASSERT_EQ(UKO_SemaMCreate("m", UKO_MUTEX_FLAG_OWNER_HOOK, &m), 0u);
        g_hookSem = m;
        (void)UKO_SemaAsynP(m);
        (void)UKO_SemaP(m, 0);
        (void)UKO_SemaV(m);
        (void)UKO_SemaV(m);
        (void)UKO_SemaP(m, 5);
        (void)UKO_SemaV(m);
        (void)UKO_SemaDelete(m);
        EXPECT_EQ(g_hookLog,
                  "dbgacquire mutexacquire(sem,4,1) "
                  "wait(sem) wait(null) "
                  "mutexrelease dbgrelease(sem) "
                  "wait(sem) dbgacquire mutexacquire(sem,4,1) wait(null) "
                  "mutexrelease dbgrelease(sem) ");

        // Without the enabling bit nothing but delete runs.
        g_stUkoLockDbg.uiFlags = UKO_LOCKDBG_ACQ_REL | UKO_LOCKDBG_WAIT | UKO_LOCKDBG_DBGWORD;
        g_hookLog.clear();
        ASSERT_EQ(UKO_SemaCCreate("s", 1, 0, &s), 0u);
        g_hookSem = s;
        (void)UKO_SemaP(s, 0);
        (void)UKO_SemaV(s);
        (void)UKO_SemaDelete(s);
        EXPECT_EQ(g_hookLog, "delete(sem) ");
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

}  // namespace
