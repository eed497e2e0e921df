#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <thread>

#include "os_clock.h"
#include "vt_test/thread_state.h"

namespace {

struct Waiter {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> taken{false};
};

void* TakeAndRelease(void* p) {
    Waiter* w = static_cast<Waiter*>(p);
    w->tid = vt_test::ThisThreadId();
    OS_GlobalLock();
    w->taken.store(true);
    OS_GlobalUnlock(0);
    return nullptr;
}

TEST(OsGlobalLock, HolderTakesItAgainAndOthersWaitForTheLastRelease) {
    EXPECT_EQ(OS_GlobalLockInit(), 0u);
    EXPECT_EQ(OS_GlobalLock(), 0u);
    EXPECT_EQ(OS_GlobalLock(), 0u);
    OS_GlobalUnlock(0);
    // An init while the lock is held must not make a fresh, free lock of it.
    EXPECT_EQ(OS_GlobalLockInit(), 0u);

    Waiter w;
    pthread_t other;
    ASSERT_EQ(pthread_create(&other, nullptr, TakeAndRelease, &w), 0);
    while (w.tid.load() == 0) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(vt_test::WaitUntilBlocked(w.tid)) << "the other task never waited for the lock";
    EXPECT_FALSE(w.taken.load()) << "still held once: the other task must wait";
    OS_GlobalUnlock(0);
    pthread_join(other, nullptr);
    EXPECT_TRUE(w.taken.load());
}

}  // namespace
