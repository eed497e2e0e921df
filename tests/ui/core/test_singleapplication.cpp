// The single-instance guard with real processes: every instance is a forked child that
// builds its own application object under the test's private HOME and TMPDIR (the local
// server's name lives in TMPDIR), and reports what it found on a pipe.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "singleapplication.h"
#include "singleapplication_inner.h"
#include "vt_test/temp_env.h"

namespace {

// Every instance started by the running test; the fixture kills those still alive, so a
// failed check never leaves one behind.
std::vector<pid_t> g_started;

struct Instance {
    pid_t pid = -1;
    int out = -1;  // what the instance reports, one line each
};

// Starts an instance in a child: it builds the application object, writes "other" or
// "first", and then either ends or, when serve is true, runs its event loop (answering
// later probes) until it is killed.
Instance Start(bool serve) {
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        static char name[] = "ui_singleapplication";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        SingleApplication app(argc, argv);
        const std::string line = app.hasOtherInstance() ? "other\n" : "first\n";
        (void)!write(p[1], line.data(), line.size());
        if (serve) {
            (void)app.exec();
        }
        _exit(0);
    }
    close(p[1]);
    g_started.push_back(pid);
    return {pid, p[0]};
}

// The instance's next line, or "" when none came within the time.
std::string Report(const Instance& i, int timeoutMs = 10000) {
    std::string line;
    char c;
    while (true) {
        pollfd pfd{i.out, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0 || read(i.out, &c, 1) != 1) {
            return line;
        }
        if (c == '\n') return line;
        line.push_back(c);
    }
}

void End(Instance& i, int sig = SIGKILL) {
    if (i.pid > 0) {
        kill(i.pid, sig);
        waitpid(i.pid, nullptr, 0);
        close(i.out);
        i.pid = -1;
    }
}

class SingleApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir((env_.Home() + "/.VanTrelo").c_str(), 0700), 0);
    }
    void TearDown() override {
        for (pid_t pid : g_started) {
            if (waitpid(pid, nullptr, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        g_started.clear();
    }
    std::string SocketPath() const { return env_.Tmp() + "/ui_singleapplication"; }
    std::string LockPath() const { return env_.Home() + "/.VanTrelo/.instance.lock"; }
    vt_test::TempEnv env_;
};

TEST_F(SingleApplicationTest, SecondStartSeesTheFirstWhichServesOn) {
    Instance first = Start(true);
    EXPECT_EQ(Report(first), "first");
    struct stat st {};
    EXPECT_EQ(stat(SocketPath().c_str(), &st), 0) << "the first instance listens under the program's name";

    for (int n = 0; n < 2; ++n) {  // the first stays a server after dropping a probe
        Instance later = Start(false);
        EXPECT_EQ(Report(later), "other") << "start " << n;
        End(later, 0);
    }
    EXPECT_EQ(waitpid(first.pid, nullptr, WNOHANG), 0) << "the first instance must keep running";
    End(first);
}

// An instance killed without cleaning up leaves its server name behind: the next start
// finds nobody, removes the name and listens, and so becomes the one later starts see.
TEST_F(SingleApplicationTest, StaleNameIsRemovedAndTheNewInstanceListens) {
    Instance crashed = Start(true);
    ASSERT_EQ(Report(crashed), "first");
    End(crashed);
    struct stat st {};
    ASSERT_EQ(stat(SocketPath().c_str(), &st), 0) << "a killed instance leaves its socket";

    Instance next = Start(true);
    EXPECT_EQ(Report(next), "first");
    Instance later = Start(false);
    EXPECT_EQ(Report(later), "other");
    End(later, 0);
    End(next);
}

// Two starts at once: the probe and the listen happen under the per-user lock, so a
// start that comes while another is between its failed probe and its listen waits, and
// then finds it. Without the lock both became first.
int g_probedPipe = -1;
int g_goPipe = -1;

void HoldBetweenProbeAndListen() {
    (void)!write(g_probedPipe, "probed\n", 7);
    char c;
    (void)!read(g_goPipe, &c, 1);
}

TEST_F(SingleApplicationTest, ConcurrentStartWaitsForTheFirstsListen) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    int probed[2];
    ASSERT_EQ(pipe(probed), 0);
    g_probedPipe = probed[1];
    g_goPipe = go[0];
    singleApplicationBeforeListenHookSet(HoldBetweenProbeAndListen);
    Instance first = Start(true);  // the child inherits the hook
    singleApplicationBeforeListenHookSet(nullptr);
    close(probed[1]);
    close(go[0]);

    Instance held{first.pid, probed[0]};
    ASSERT_EQ(Report(held), "probed");

    // While the first is inside its window, the lock is taken.
    const int lock = open(LockPath().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0) << "the instance lock file exists";
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);

    Instance second = Start(false);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    EXPECT_EQ(Report(first), "first");
    EXPECT_EQ(Report(second), "other");

    // The lock is released once the first listens, though it keeps running.
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);
    close(go[1]);
    close(probed[0]);
    End(second, 0);
    End(first);
}

}  // namespace
