// The single-instance guard with real processes: every instance is a forked child that
// builds its own application object under the test's private HOME and TMPDIR, and reports
// what it found on a pipe. The shared temporary folder, which holds the instance name when
// there is no private runtime folder, is the test's own too.

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

// What a start changes in its child before it builds the application object: another
// user (uid 0: the test's own), and environment variables set, or unset when empty.
struct As {
    uid_t uid = 0;
    std::vector<std::pair<std::string, std::string>> env;
};

// Starts an instance in a child: it builds the application object, writes "other" or
// "first", and then either ends or, when serve is true, runs its event loop (answering
// later probes) until it is killed.
Instance Start(bool serve, const As& as = {}) {
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        for (const auto& [name, value] : as.env) {
            if (value.empty()) {
                unsetenv(name.c_str());
            } else {
                setenv(name.c_str(), value.c_str(), 1);
            }
        }
        if (as.uid != 0 && (setgid(as.uid) != 0 || setuid(as.uid) != 0)) {
            (void)!write(p[1], "no setuid\n", 10);
            _exit(1);
        }
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
        // A shared temporary folder of the test's own, open to every user as /tmp is.
        shared_ = env_.Root() + "/shared-tmp";
        ASSERT_EQ(mkdir(shared_.c_str(), 0700), 0);
        ASSERT_EQ(chmod(shared_.c_str(), 01777), 0);
        singleApplicationSharedTempFolderSet(shared_.c_str());
        // Each start chooses its runtime folder; none is inherited from the caller.
        const char* runtime = getenv("XDG_RUNTIME_DIR");
        hadRuntime_ = runtime != nullptr;
        oldRuntime_ = hadRuntime_ ? runtime : "";
        unsetenv("XDG_RUNTIME_DIR");
    }
    void TearDown() override {
        for (pid_t pid : g_started) {
            if (waitpid(pid, nullptr, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        g_started.clear();
        singleApplicationSharedTempFolderSet(nullptr);
        if (hadRuntime_) setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
    }
    // The name of the test user's instance when there is no private runtime folder.
    std::string SocketPath() const { return shared_ + "/ui_singleapplication-" + std::to_string(geteuid()); }
    std::string LockPath() const { return env_.Home() + "/.VanTrelo/.instance.lock"; }
    // A folder of the test's own, with that mode.
    std::string Folder(const std::string& name, mode_t mode) const {
        const std::string path = env_.Root() + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
        return path;
    }
    static bool IsSocket(const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    }
    vt_test::TempEnv env_;
    std::string shared_;
    bool hadRuntime_ = false;
    std::string oldRuntime_;
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

// The name is the user's own. With a private runtime folder it lies there, whatever the
// start's TMPDIR; without one, or with one that is not private (open to others, or not a
// folder at all), it is the program's name and the user's id in the shared temporary
// folder, again whatever TMPDIR says. Either way the same user's second start, with
// another TMPDIR, is refused.
TEST_F(SingleApplicationTest, NameIsPerUserAndASecondStartIsRefusedWhateverItsTmpdir) {
    const std::string otherTmp = Folder("other-tmp", 0700);
    const std::string priv = Folder("runtime", 0700);
    const std::string open = Folder("runtime-open", 0755);
    const struct {
        const char* what;
        std::string runtime;  // XDG_RUNTIME_DIR of both starts ("" unset)
        std::string name;     // where the first start listens
    } cases[] = {
        {"private runtime folder", priv, priv + "/ui_singleapplication"},
        {"no runtime folder", "", SocketPath()},
        {"runtime folder open to others", open, SocketPath()},
        {"runtime folder that is not a folder", "/dev/null", SocketPath()},
        {"relative runtime folder", "runtime", SocketPath()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Instance first = Start(true, {0, {{"XDG_RUNTIME_DIR", c.runtime}}});
        ASSERT_EQ(Report(first), "first");
        EXPECT_TRUE(IsSocket(c.name)) << c.name;
        EXPECT_FALSE(IsSocket(env_.Tmp() + "/ui_singleapplication")) << "never the bare name in TMPDIR";

        Instance second = Start(false, {0, {{"XDG_RUNTIME_DIR", c.runtime}, {"TMPDIR", otherTmp}}});
        EXPECT_EQ(Report(second), "other");
        End(second, 0);
        End(first);
        unlink(c.name.c_str());
    }
}

// Two users on one machine: each starts a first instance of their own, and each one's
// second start meets their own first. Needs root to start the other user's instances.
TEST_F(SingleApplicationTest, TwoUsersEachRunTheirOwnInstance) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "starting a second user's instance needs root";
    }
    const uid_t other = 65534;  // a user id that owns nothing of the test's
    const std::string otherHome = Folder("other-home", 0700);
    ASSERT_EQ(mkdir((otherHome + "/.VanTrelo").c_str(), 0700), 0);
    ASSERT_EQ(chown(otherHome.c_str(), other, other), 0);
    ASSERT_EQ(chown((otherHome + "/.VanTrelo").c_str(), other, other), 0);
    ASSERT_EQ(chmod(env_.Root().c_str(), 0755), 0);  // the other user reaches the shared folder
    const As otherUser{other, {{"HOME", otherHome}, {"TMPDIR", shared_}}};

    Instance mine = Start(true);
    ASSERT_EQ(Report(mine), "first");
    Instance theirs = Start(true, otherUser);
    EXPECT_EQ(Report(theirs), "first") << "another user's instance is not this user's";
    EXPECT_TRUE(IsSocket(shared_ + "/ui_singleapplication-" + std::to_string(other)));

    Instance mineAgain = Start(false);
    EXPECT_EQ(Report(mineAgain), "other");
    Instance theirsAgain = Start(false, otherUser);
    EXPECT_EQ(Report(theirsAgain), "other");
    End(mineAgain, 0);
    End(theirsAgain, 0);
    End(theirs);
    End(mine);
}

}  // namespace
