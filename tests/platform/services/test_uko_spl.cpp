// Process locks: nested takings by one thread, a second thread held off until the
// outermost release, releases that must change nothing, and the replacement hooks.

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "uko_spl.h"
#include "vt_test/child_process.h"

namespace {

struct LockPair {
    const char* name;
    uint32_t (*lock)();
    uint32_t (*unlock)(uint32_t);
    uint32_t (*otherLock)();
    uint32_t (*otherUnlock)(uint32_t);
};

void PrintTo(const LockPair& p, std::ostream* os) { *os << p.name; }

const LockPair kLock1{"lock1", UKO_SplLock, UKO_SplUnlock, UKO_SplLock2, UKO_SplUnlock2};
const LockPair kLock2{"lock2", UKO_SplLock2, UKO_SplUnlock2, UKO_SplLock, UKO_SplUnlock};

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Waits until a thread of this process sleeps in the kernel (it has reached a lock it
// cannot take).
void WaitUntilAsleep(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    for (;;) {
        std::ifstream in(path);
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S') {
            return;
        }
        std::this_thread::yield();
    }
}

class UkoSpl : public ::testing::TestWithParam<LockPair> {
protected:
    void SetUp() override {
        ASSERT_EQ(UKO_SplIni(0), 0u);
        ASSERT_EQ(UKO_SplIni(0), 0u) << "a second call keeps the locks";
    }
};

TEST_P(UkoSpl, NestedTakingsReleaseOnlyAtTheOutermost) {
    const LockPair& p = GetParam();
    ASSERT_EQ(p.lock(), UKO_SPL_TOKEN_TAKEN);
    ASSERT_EQ(p.lock(), UKO_SPL_TOKEN_HELD);

    std::atomic<pid_t> waiterTid{0};
    std::atomic<bool> acquired{false};
    std::atomic<uint32_t> waiterToken{99};
    std::thread waiter([&] {
        waiterTid.store(ThreadId());
        waiterToken.store(p.lock());
        acquired.store(true);
        EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 0u);
    });
    while (waiterTid.load() == 0) std::this_thread::yield();
    WaitUntilAsleep(waiterTid.load());

    // The inner release changes nothing: this thread still holds the lock, so a further
    // taking is nested and the waiter cannot have it.
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_HELD), 1u);
    EXPECT_EQ(p.lock(), UKO_SPL_TOKEN_HELD);
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_HELD), 1u);
    EXPECT_FALSE(acquired.load());
    // The other lock is independent: another thread takes it while this one is held.
    std::thread other([&p] {
        EXPECT_EQ(p.otherLock(), UKO_SPL_TOKEN_TAKEN);
        EXPECT_EQ(p.otherUnlock(UKO_SPL_TOKEN_TAKEN), 0u);
    });
    other.join();

    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 0u);
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_EQ(waiterToken.load(), UKO_SPL_TOKEN_TAKEN);
    // Free again for this thread.
    EXPECT_EQ(p.lock(), UKO_SPL_TOKEN_TAKEN);
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 0u);
}

TEST_P(UkoSpl, ReleaseByANonHolderChangesNothing) {
    const LockPair& p = GetParam();
    // Nobody holds the lock.
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_HELD), 1u);
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 1u);

    // Another thread holds it: neither token from here frees it or clears its holder.
    std::atomic<int> stage{0};
    std::atomic<uint32_t> nested{99};
    std::thread holder([&] {
        EXPECT_EQ(p.lock(), UKO_SPL_TOKEN_TAKEN);
        stage.store(1);
        while (stage.load() != 2) std::this_thread::yield();
        nested.store(p.lock());  // still its own lock: nested
        EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 0u);
    });
    while (stage.load() != 1) std::this_thread::yield();
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_HELD), 1u);
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 1u);
    stage.store(2);
    holder.join();
    EXPECT_EQ(nested.load(), UKO_SPL_TOKEN_HELD);
    EXPECT_EQ(p.lock(), UKO_SPL_TOKEN_TAKEN);
    EXPECT_EQ(p.unlock(UKO_SPL_TOKEN_TAKEN), 0u);
}

INSTANTIATE_TEST_SUITE_P(Locks, UkoSpl, ::testing::Values(kLock1, kLock2),
                         [](const ::testing::TestParamInfo<LockPair>& info) {
                             return std::string(info.param.name);
                         });

std::atomic<int> g_lockHookCalls{0};
std::atomic<uint32_t> g_unlockHookToken{0};
uint32_t LockHook() {
    ++g_lockHookCalls;
    return 7;
}
uint32_t UnlockHook(uint32_t token) {
    g_unlockHookToken.store(token);
    return 40 + token;
}

TEST(UkoSplHook, HooksReplaceBothLocks) {
    // In a child: a lock the hooks failed to bypass stays taken and hangs it.
    auto r = vt_test::RunInChild(
        [] {
            ASSERT_EQ(UKO_SplIni(0), 0u);
            UKO_SplLockHookSet(LockHook);
            UKO_SplUnlockHookSet(UnlockHook);
            EXPECT_EQ(UKO_SplLock(), 7u);
            EXPECT_EQ(UKO_SplLock2(), 7u);
            EXPECT_EQ(g_lockHookCalls.load(), 2);
            EXPECT_EQ(UKO_SplUnlock(5), 45u);
            EXPECT_EQ(g_unlockHookToken.load(), 5u);
            EXPECT_EQ(UKO_SplUnlock2(1), 41u);
            EXPECT_EQ(g_unlockHookToken.load(), 1u);
            UKO_SplLockHookSet(nullptr);
            UKO_SplUnlockHookSet(nullptr);
            // Neither lock was taken while the hooks stood in: another thread takes both
            // at once.
            std::thread other([] {
                EXPECT_EQ(UKO_SplLock(), UKO_SPL_TOKEN_TAKEN);
                EXPECT_EQ(UKO_SplLock2(), UKO_SPL_TOKEN_TAKEN);
                (void)UKO_SplUnlock2(UKO_SPL_TOKEN_TAKEN);
                (void)UKO_SplUnlock(UKO_SPL_TOKEN_TAKEN);
            });
            other.join();
        },
        10000);
    EXPECT_TRUE(vt_test::ExitedWith(r)) << "a lock stayed taken";
}

}  // namespace
