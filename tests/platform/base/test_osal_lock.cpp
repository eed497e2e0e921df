#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "osal_lock.h"
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

TEST(OsalMemPt, NoPresetRegion) { EXPECT_EQ(OSAL_MemPtAddrGet("uko_mempt.SYSPT"), nullptr); }

}  // namespace
