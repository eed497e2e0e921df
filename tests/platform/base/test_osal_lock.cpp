#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "osal_lock.h"
#include "osal_lock_inner.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "vt_test/child_process.h"
#include "vt_test/thread_state.h"

namespace {

struct LockFixture : ::testing::Test {
    pthread_mutex_t lock;
    void SetUp() override { ASSERT_EQ(OSAL_LockCreate(&lock), 0u); }
    void TearDown() override { EXPECT_EQ(OSAL_LockDelete(&lock), 0u); }
};

TEST_F(LockFixture, RecursiveTakeHoldsUntilTheLastUnlock) {
    ASSERT_EQ(OSAL_LockLock(&lock), 0u);
    ASSERT_EQ(OSAL_LockLock(&lock), 0u);
    ASSERT_EQ(OSAL_LockUnLock(&lock, 0), 0u);

    std::atomic<bool> taken{false};
    std::atomic<pid_t> tid{0};
    pthread_t other;
    struct Arg {
        pthread_mutex_t* lock;
        std::atomic<bool>* taken;
        std::atomic<pid_t>* tid;
    } arg{&lock, &taken, &tid};
    // A platform thread stands in for a second task; it must wait for the second unlock.
    ASSERT_EQ(pthread_create(
                  &other, nullptr,
                  [](void* p) -> void* {
                      Arg* a = static_cast<Arg*>(p);
                      *a->tid = vt_test::ThisThreadId();
                      if (OSAL_LockLock(a->lock) == 0) {
                          a->taken->store(true);
                          OSAL_LockUnLock(a->lock, 0);
                      }
                      return nullptr;
                  },
                  &arg),
              0);
    while (tid.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(vt_test::WaitUntilBlocked(tid, &lock, sizeof(lock)))
        << "the other thread never waited for the lock";
    EXPECT_FALSE(taken.load()) << "still held once: the other thread must wait";
    ASSERT_EQ(OSAL_LockUnLock(&lock, 0), 0u);
    pthread_join(other, nullptr);
    EXPECT_TRUE(taken.load());
}

TEST_F(LockFixture, UnlockByNonOwnerIsRefusedAndTryLockSeesBusy) {
    ASSERT_EQ(OSAL_LockLock(&lock), 0u);
    uint32_t unlockResult = 0;
    uint32_t tryResult = 0;
    std::thread([&] {
        unlockResult = OSAL_LockUnLock(&lock, 0);
        tryResult = OSAL_LockTryLock(&lock);
    }).join();
    EXPECT_NE(unlockResult, 0u);
    EXPECT_EQ(tryResult, static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(OSAL_LockTryLock(&lock), 0u) << "the owner may take it again";
    EXPECT_EQ(OSAL_LockUnLock(&lock, 0), 0u);
    EXPECT_EQ(OSAL_LockUnLock(&lock, 0), 0u);
    EXPECT_NE(OSAL_LockUnLock(&lock, 0), 0u) << "one unlock more than takes";
}

TEST(OsalLock, DeleteOfAHeldLockFailsWith14) {
    pthread_mutex_t lock;
    ASSERT_EQ(OSAL_LockCreate(&lock), 0u);
    ASSERT_EQ(OSAL_LockLock(&lock), 0u);
    EXPECT_EQ(OSAL_LockDelete(&lock), 14u);
    ASSERT_EQ(OSAL_LockUnLock(&lock, 0), 0u);
    EXPECT_EQ(OSAL_LockDelete(&lock), 0u);
    EXPECT_EQ(OSAL_LockCreate(nullptr), 22u);
}

struct ErrnoCase {
    const char* name;
    int64_t os;
    uint32_t platform;
};

TEST(OsalErrno, ConvertsByName) {
    const ErrnoCase cases[] = {
        {"EPERM", EPERM, 1},
        {"EINTR", EINTR, 4},
        {"ENOMEM", ENOMEM, 12},
        {"EBUSY", EBUSY, 16},
        {"EINVAL", EINVAL, 22},
        {"ERANGE", ERANGE, 34},
        {"EAGAIN", EAGAIN, 35},
        {"EDEADLK", EDEADLK, 35},
        {"EINPROGRESS", EINPROGRESS, 114},
        {"EALREADY", EALREADY, 113},
        {"ENOTSOCK", ENOTSOCK, 87},
        {"ESOCKTNOSUPPORT", ESOCKTNOSUPPORT, 93},
        {"EPFNOSUPPORT", EPFNOSUPPORT, 95},
        {"EADDRINUSE", EADDRINUSE, 97},
        {"ECONNABORTED", ECONNABORTED, 102},
        {"ECONNRESET", ECONNRESET, 103},
        {"ENOTCONN", ENOTCONN, 106},
        {"ETIMEDOUT", ETIMEDOUT, 109},
        {"ECONNREFUSED", ECONNREFUSED, 110},
        {"ELOOP", ELOOP, 40},
        {"ENAMETOOLONG", ENAMETOOLONG, 36},
        {"EHOSTUNREACH", EHOSTUNREACH, 112},
        {"ENOTEMPTY", ENOTEMPTY, 39},
        {"EDQUOT", EDQUOT, 121},
        {"ENOLCK", ENOLCK, 37},
        {"ENOSYS", ENOSYS, 38},
        {"EOVERFLOW", EOVERFLOW, 74},
        {"EIDRM", EIDRM, 43},
        {"EILSEQ", EILSEQ, 83},
        {"EBADMSG", EBADMSG, 73},
        {"ETIME", ETIME, 61},
        {"EOPNOTSUPP", EOPNOTSUPP, 94},
        {"ENOTSUP", ENOTSUP, 94},
        {"zero", 0, 4096},
        {"negative", -5, 4096},
        {"ECANCELED (no platform number)", ECANCELED, 4096},
        {"ECHRNG (Linux only)", ECHRNG, 4096},
        {"huge", 1LL << 40, 4096},
    };
    for (const ErrnoCase& c : cases) {
        EXPECT_EQ(OSAL_ErrnoConvert(c.os), c.platform) << c.name;
    }
}

TEST(OsalErrno, SetAndGetArePerThread) {
    ASSERT_EQ(UKO_ErrnoSet(109), 0u);
    uint32_t seenByOther = 0;
    std::thread([&] {
        UKO_ErrnoSet(22);
        seenByOther = UKO_ErrnoGet();
    }).join();
    EXPECT_EQ(seenByOther, 22u);
    EXPECT_EQ(UKO_ErrnoGet(), 109u);
}

TEST(OsalLock, MissingLockIsRefusedNotCrashed) {
    EXPECT_EQ(OSAL_LockLock(nullptr), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(OSAL_LockTryLock(nullptr), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(OSAL_LockUnLock(nullptr, 0), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(OSAL_LockDelete(nullptr), 14u);
}

// ---- lock-debug state ------------------------------------------------------------

TEST(LockDbgList, InsertAtHeadAndUnlink) {
    UKO_DLL_NODE head;
    UKO_DLL_NODE a;
    UKO_DLL_NODE b;
    UKO_DLL_NODE c;
    ukoDllInit(&head);
    EXPECT_EQ(ukoDllIsEmpty(&head), 1u);
    ukoDllAddHead(&head, &a);
    ukoDllAddHead(&head, &b);
    ukoDllAddHead(&head, &c);
    EXPECT_EQ(ukoDllIsEmpty(&head), 0u);
    // Newest first, both directions consistent.
    EXPECT_EQ(head.pstNext, &c);
    EXPECT_EQ(c.pstNext, &b);
    EXPECT_EQ(b.pstNext, &a);
    EXPECT_EQ(a.pstNext, &head);
    EXPECT_EQ(head.pstPrev, &a);
    EXPECT_EQ(a.pstPrev, &b);
    ukoDllDel(&b);
    EXPECT_EQ(c.pstNext, &a);
    EXPECT_EQ(a.pstPrev, &c);
    EXPECT_EQ(b.pstNext, &b) << "an unlinked node points to itself";
    ukoDllDel(&c);
    ukoDllDel(&a);
    EXPECT_EQ(ukoDllIsEmpty(&head), 1u);
    EXPECT_EQ(head.pstPrev, &head);
}

TEST(LockDbg, StartUpStepPreparesTheListsOnce) {
    auto r = vt_test::RunInChild([] {
        UKO_LOCKDBG_STATE& st = g_stUkoLockDbg;
        // The hooks work before the step: they are initialised data.
        st.stHooks.pfnDelete(nullptr);
        st.pfnMutexRelease(pthread_self());
        st.uiFlags = 0x80000007u;  // whatever was there is reset
        st.uiHistoryCount = 9;
        ASSERT_EQ(ukoLockDbgInit(0), 0u);
        EXPECT_EQ(st.uiFlags, 0u);
        EXPECT_EQ(st.uiHistoryCount, 0u);
        EXPECT_EQ(ukoDllIsEmpty(&st.stSemaList), 1u);
        EXPECT_EQ(ukoDllIsEmpty(&st.stMutexList), 1u);
        // The list locks are OS locks: recursive and owner-checked.
        ASSERT_EQ(OSAL_LockLock(&st.stSemaListLock), 0u);
        ASSERT_EQ(OSAL_LockLock(&st.stSemaListLock), 0u);
        OSAL_LockUnLock(&st.stSemaListLock, 0);
        OSAL_LockUnLock(&st.stSemaListLock, 0);
        ASSERT_EQ(OSAL_LockTryLock(&st.stMutexListLock), 0u);
        OSAL_LockUnLock(&st.stMutexListLock, 0);
        uintptr_t words[3] = {0, 0, 0};
        uintptr_t out = 0;
        EXPECT_EQ(st.stHooks.pfnDbgWordRelease(nullptr, &words[0], &words[1], &words[2], &out), 0u);
        st.stHooks.pfnAcquire(pthread_self(), nullptr);
        st.stHooks.pfnRelease(nullptr);
        st.stHooks.pfnDbgWordAcquire(&words[0]);
        st.stHooks.pfnWait(nullptr, pthread_self());
        EXPECT_EQ(st.pfnVNotify, nullptr);
        // A second start leaves live blocks on their lists.
        UKO_DLL_NODE live;
        ukoDllAddHead(&st.stSemaList, &live);
        ASSERT_EQ(ukoLockDbgInit(0), 0u);
        EXPECT_EQ(st.stSemaList.pstNext, &live);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

struct OwnerEvents {
    int acquires = 0;
    int releases = 0;
    uint16_t flags = 0;
    uint16_t recursion = 0;
    void* block = nullptr;
} g_owner;

void RecordAcquire(pthread_t, uint16_t flags, uint16_t recursion, void* block) {
    ++g_owner.acquires;
    g_owner.flags = flags;
    g_owner.recursion = recursion;
    g_owner.block = block;
}
void RecordRelease(pthread_t) { ++g_owner.releases; }
uint32_t NotifyStub(void*, uint32_t, uintptr_t, uintptr_t) { return 0; }

TEST(LockDbg, MutexOwnershipHooksAndVNotifyAreReplaceable) {
    int block = 0;
    ukoMutexHookSet(RecordAcquire, RecordRelease);
    g_stUkoLockDbg.pfnMutexAcquire(pthread_self(), 4, 2, &block);
    g_stUkoLockDbg.pfnMutexRelease(pthread_self());
    EXPECT_EQ(g_owner.acquires, 1);
    EXPECT_EQ(g_owner.releases, 1);
    EXPECT_EQ(g_owner.flags, 4);
    EXPECT_EQ(g_owner.recursion, 2);
    EXPECT_EQ(g_owner.block, &block);
    ukoMutexHookSet(nullptr, nullptr);
    g_stUkoLockDbg.pfnMutexAcquire(pthread_self(), 4, 1, &block);
    g_stUkoLockDbg.pfnMutexRelease(pthread_self());
    EXPECT_EQ(g_owner.acquires, 1) << "NULL puts the no-op back";
    EXPECT_EQ(g_owner.releases, 1);

    ukoSemaVNotifyHookSet(NotifyStub);
    EXPECT_EQ(g_stUkoLockDbg.pfnVNotify, NotifyStub);
    ukoSemaVNotifyHookSet(nullptr);
}

TEST(OsalMemPt, NoPresetRegion) { EXPECT_EQ(OSAL_MemPtAddrGet("uko_mempt.SYSPT"), nullptr); }

// The failure report: errno gets the full code, the record gets module and own code.
struct Recorded {
    int calls = 0;
    uint32_t level = 0;
    uint16_t code = 0;
    uint16_t module = 0;
    std::string format;
} g_recorded;

void Observe(uint32_t level, uint16_t code, uint16_t module, const char*, uint16_t,
             const char* format) {
    ++g_recorded.calls;
    g_recorded.level = level;
    g_recorded.code = code;
    g_recorded.module = module;
    g_recorded.format = format != nullptr ? format : "";
}

TEST(UkoErrReport, FourStepReport) {
    ukoErrorRecordObserverSet(Observe);
    struct Case {
        UKO_ERRCODE code;
        uint16_t reporter;
        uint16_t module;
        uint16_t own;
    } cases[] = {
        {22, UKO_MID_TASK, 0x2001, 22},
        {0x20011019u, UKO_MID_TASK, 0x2001, 0x1019},
        {0x210213E8u, UKO_MID_QUEUE, 0x2102, 0x13E8},
    };
    for (const Case& c : cases) {
        g_recorded = Recorded{};
        UKO_ERRCODE r = UKO_ERR_REPORT(c.code, c.reporter, "[ZIRPA-%s]:The TaskName(%s) is repeated.",
                                       "UKO_TaskCreate", "TEST");
        EXPECT_EQ(r, c.code);
        EXPECT_EQ(UKO_ErrnoGet(), c.code);
        EXPECT_EQ(g_recorded.calls, 1);
        EXPECT_EQ(g_recorded.level, 2u);
        EXPECT_EQ(g_recorded.module, c.module);
        EXPECT_EQ(g_recorded.code, c.own);
        EXPECT_EQ(g_recorded.format, "[ZIRPA-%s]:The TaskName(%s) is repeated.");
    }
    ukoErrorRecordObserverSet(nullptr);
}

}  // namespace
