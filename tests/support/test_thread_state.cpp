// The thread observer: a thread asleep on a lock or a condition is seen as blocked on
// that object, and a thread that is running, or asleep for another reason, is not.

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "vt_test/thread_state.h"

namespace {

// Whether the kernel shows which call a thread sleeps in; without that any sleep counts
// as blocked, and the finer cases cannot be told apart.
bool KernelShowsCalls() {
    std::string path = "/proc/self/task/" + std::to_string(vt_test::ThisThreadId()) + "/syscall";
    return access(path.c_str(), R_OK) == 0;
}

struct Subject {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> stop{false};
    std::thread thread;

    template <typename Body>
    explicit Subject(Body body)
        : thread([this, body] {
              tid = vt_test::ThisThreadId();
              body(*this);
          }) {
        while (tid.load() == 0) {
            std::this_thread::yield();
        }
    }
    ~Subject() {
        stop = true;
        thread.join();
    }
};

TEST(ThreadState, AThreadWaitingForAHeldMutexIsBlockedOnThatMutex) {
    pthread_mutex_t held = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_t other = PTHREAD_MUTEX_INITIALIZER;
    ASSERT_EQ(pthread_mutex_lock(&held), 0);
    {
        Subject s([&held](Subject&) {
            pthread_mutex_lock(&held);
            pthread_mutex_unlock(&held);
        });
        EXPECT_TRUE(vt_test::WaitUntilBlocked(s.tid, &held, sizeof(held)));
        EXPECT_TRUE(vt_test::WaitUntilBlocked(s.tid));
        if (KernelShowsCalls()) {
            EXPECT_FALSE(vt_test::WaitUntilBlocked(s.tid, &other, sizeof(other), 100));
        }
        pthread_mutex_unlock(&held);
    }
}

TEST(ThreadState, AThreadInAConditionWaitIsBlockedOnTheCondition) {
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t c = PTHREAD_COND_INITIALIZER;
    bool go = false;
    {
        Subject s([&](Subject&) {
            pthread_mutex_lock(&m);
            while (!go) {
                pthread_cond_wait(&c, &m);
            }
            pthread_mutex_unlock(&m);
        });
        EXPECT_TRUE(vt_test::WaitUntilBlocked(s.tid, &c, sizeof(c)));
        pthread_mutex_lock(&m);
        go = true;
        pthread_cond_signal(&c);
        pthread_mutex_unlock(&m);
    }
}

TEST(ThreadState, ARunningOrSleepingThreadIsNotBlockedOnALock) {
    {
        Subject spinning([](Subject& self) {
            while (!self.stop.load()) {
            }
        });
        EXPECT_FALSE(vt_test::WaitUntilBlocked(spinning.tid, nullptr, 0, 100));
    }
    if (!KernelShowsCalls()) {
        GTEST_SKIP() << "the kernel does not show the call a thread sleeps in";
    }
    {
        Subject sleeping([](Subject& self) {
            while (!self.stop.load()) {
                struct timespec ts = {0, 20 * 1000 * 1000};
                nanosleep(&ts, nullptr);
            }
        });
        EXPECT_FALSE(vt_test::WaitUntilBlocked(sleeping.tid, nullptr, 0, 100));
    }
}

TEST(ThreadState, AThreadReadingAnEmptyPipeIsInThatCallOnly) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        Subject reading([fds](Subject&) {
            char c;
            (void)read(fds[0], &c, 1);
        });
        EXPECT_TRUE(vt_test::WaitUntilInCall(reading.tid, SYS_read));
        if (KernelShowsCalls()) {
            EXPECT_FALSE(vt_test::WaitUntilInCall(reading.tid, SYS_connect, 100));
        }
        ASSERT_EQ(write(fds[1], "x", 1), 1);
    }
    {
        Subject spinning([](Subject& self) {
            while (!self.stop.load()) {
            }
        });
        EXPECT_FALSE(vt_test::WaitUntilInCall(spinning.tid, SYS_read, 100));
    }
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
