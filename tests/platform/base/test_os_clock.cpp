#include <gtest/gtest.h>

#include <pthread.h>
#include <time.h>

#include <atomic>

#include "os_clock.h"

namespace {

void SleepMs(long ms) {
    struct timespec ts = {0, ms * 1000 * 1000};
    nanosleep(&ts, nullptr);
}

struct Waiter {
    std::atomic<bool> taken{false};
};

void* TakeAndRelease(void* p) {
    Waiter* w = static_cast<Waiter*>(p);
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
    SleepMs(50);
    EXPECT_FALSE(w.taken.load()) << "still held once: the other task must wait";
    OS_GlobalUnlock(0);
    pthread_join(other, nullptr);
    EXPECT_TRUE(w.taken.load());
}

}  // namespace
