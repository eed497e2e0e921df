// The single-instance guard with real processes: every instance of the test's user is a
// forked child that builds its own application object under the test's private HOME and
// TMPDIR and reports what it found on a pipe; another user's instances run a copy of the
// probe program. The shared temporary folder that holds each user's instance folder is
// the test's own too.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
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

using Env = std::vector<std::pair<std::string, std::string>>;

// Sets the variables, or unsets those given as empty.
void Apply(const Env& env) {
    for (const auto& [name, value] : env) {
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
}

// Starts an instance of the test's user in a child, with the environment changed as
// given: it builds the application object, writes "first", "other" or "refused FOLDER",
// and then either ends or, when serve is true and it became the instance, runs its event
// loop (answering later probes) until it is killed.
Instance Start(bool serve, const Env& env = {}) {
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        Apply(env);
        static char name[] = "ui_singleapplication";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        SingleApplication app(argc, argv);
        const QString refused = app.refusedInstanceFolder();
        const std::string line = !refused.isEmpty()      ? "refused " + refused.toStdString() + "\n"
                                 : app.hasOtherInstance() ? "other\n"
                                                          : "first\n";
        (void)!write(p[1], line.data(), line.size());
        if (serve && refused.isEmpty() && !app.hasOtherInstance()) {
            (void)app.exec();
        }
        _exit(0);
    }
    close(p[1]);
    g_started.push_back(pid);
    return {pid, p[0]};
}

// Starts the program file as another user (uid and gid), its standard output the
// instance's report.
Instance StartAs(uid_t uid, const std::vector<std::string>& args, const Env& env) {
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    std::vector<std::string> text = args;
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        dup2(p[1], STDOUT_FILENO);
        Apply(env);
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) {
            (void)!write(STDOUT_FILENO, "no setuid\n", 10);
            _exit(1);
        }
        execv(argv[0], argv.data());
        const std::string line = "not started: " + std::string(strerror(errno)) + "\n";
        (void)!write(STDOUT_FILENO, line.data(), line.size());
        _exit(127);
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

// Whether the instance ends by itself within the time; it is killed if not.
bool EndsByItself(Instance& i, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (waitpid(i.pid, nullptr, WNOHANG) == i.pid) {
            close(i.out);
            i.pid = -1;
            return true;
        }
        usleep(10 * 1000);
    }
    kill(i.pid, SIGKILL);
    waitpid(i.pid, nullptr, 0);
    close(i.out);
    i.pid = -1;
    return false;
}

void End(Instance& i, int sig = SIGKILL) {
    if (i.pid > 0) {
        if (sig != 0) kill(i.pid, sig);
        waitpid(i.pid, nullptr, 0);
        close(i.out);
        i.pid = -1;
    }
}

bool IsSocket(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Binds a Unix socket at the path and closes it: the socket file stays, as one left by
// an instance that was killed.
bool LeaveSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    const bool ok = fd >= 0 && path.size() < sizeof(addr.sun_path) &&
                    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

// The names in a folder, or "-" when it cannot be read.
std::string Names(const std::string& dir) {
    std::string names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return "-";
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names += name + " ";
    }
    closedir(d);
    return names;
}

class SingleApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
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
    // The test user's instance folder, its instance name and its lock.
    std::string InstanceFolder() const { return shared_ + "/VanTrelo-" + std::to_string(geteuid()); }
    std::string SocketPath() const { return InstanceFolder() + "/ui_singleapplication"; }
    std::string LockPath() const { return InstanceFolder() + "/.instance.lock"; }
    // A folder of the test's own, with that mode.
    std::string Folder(const std::string& name, mode_t mode) const {
        const std::string path = env_.Root() + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
        return path;
    }
    vt_test::TempEnv env_;
    std::string shared_;
    bool hadRuntime_ = false;
    std::string oldRuntime_;
};

TEST_F(SingleApplicationTest, SecondStartSeesTheFirstWhichServesOn) {
    Instance first = Start(true);
    EXPECT_EQ(Report(first), "first");
    EXPECT_TRUE(IsSocket(SocketPath())) << "the first instance listens under the program's name";
    struct stat st {};
    ASSERT_EQ(lstat(InstanceFolder().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0700u) << "the instance folder is the user's alone";

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
    ASSERT_TRUE(IsSocket(SocketPath())) << "a killed instance leaves its socket";

    Instance next = Start(true);
    EXPECT_EQ(Report(next), "first");
    Instance later = Start(false);
    EXPECT_EQ(Report(later), "other");
    End(later, 0);
    End(next);
}

// Earlier builds listened, in a session without a private runtime folder, on a socket at
// the very path the instance folder now takes. Such a socket of the user's own, left
// behind, gives way to the folder; it is not taken for someone else's squatting.
TEST_F(SingleApplicationTest, AnEarlierBuildsSocketAtTheFoldersPathGivesWay) {
    ASSERT_TRUE(LeaveSocket(InstanceFolder()));
    Instance first = Start(true);
    EXPECT_EQ(Report(first), "first");
    EXPECT_TRUE(IsSocket(SocketPath()));
    Instance later = Start(false);
    EXPECT_EQ(Report(later), "other");
    End(later, 0);
    End(first);
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

    // While the first is inside its window, the lock in the instance folder is taken.
    const int lock = open(LockPath().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0) << "the instance lock file exists";
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);

    // Another HOME changes nothing: the lock is the user's, not the home folder's.
    const std::string otherHome = Folder("other-home", 0700);
    Instance second = Start(false, {{"HOME", otherHome}});
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

// The name is the user's own, whatever the environment of either start says: a second
// start of the same user meets the first when their runtime folders, temporary folders
// or home folders differ, and no start puts its name in any of those folders.
TEST_F(SingleApplicationTest, SecondStartMeetsTheFirstWhateverEitherStartsEnvironment) {
    const std::string a = Folder("runtime-a", 0700);
    const std::string b = Folder("runtime-b", 0700);
    // Where run.sh put a runtime folder of its own for sessions without one.
    const std::string runScript = env_.Home() + "/.VanTrelo/runtime";
    ASSERT_EQ(mkdir((env_.Home() + "/.VanTrelo").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(runScript.c_str(), 0700), 0);
    const std::string tmp1 = Folder("tmp-1", 0700);
    const std::string tmp2 = Folder("tmp-2", 0700);
    const std::string home2 = Folder("home-2", 0700);
    const struct {
        const char* what;
        Env first, second;
    } cases[] = {
        {"private runtime folder, then none", {{"XDG_RUNTIME_DIR", a}}, {{"XDG_RUNTIME_DIR", ""}}},
        {"two private runtime folders", {{"XDG_RUNTIME_DIR", a}}, {{"XDG_RUNTIME_DIR", b}}},
        {"none, then a private runtime folder", {{"XDG_RUNTIME_DIR", ""}}, {{"XDG_RUNTIME_DIR", a}}},
        {"run.sh's runtime folder, then the session's", {{"XDG_RUNTIME_DIR", runScript}}, {{"XDG_RUNTIME_DIR", a}}},
        {"two temporary folders", {{"TMPDIR", tmp1}}, {{"TMPDIR", tmp2}}},
        {"two home folders", {{"HOME", env_.Home()}}, {{"HOME", home2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Instance first = Start(true, c.first);
        ASSERT_EQ(Report(first), "first");
        EXPECT_TRUE(IsSocket(SocketPath()));
        Instance second = Start(false, c.second);
        EXPECT_EQ(Report(second), "other");
        End(second, 0);
        EXPECT_EQ(waitpid(first.pid, nullptr, WNOHANG), 0) << "the first instance must keep running";
        End(first);
        for (const std::string& dir : {a, b, runScript, tmp1, tmp2, env_.Tmp(), env_.Home(), home2}) {
            EXPECT_FALSE(IsSocket(dir + "/ui_singleapplication")) << dir;
        }
        ASSERT_EQ(unlink(SocketPath().c_str()), 0);
    }
}

// An instance folder that is not a real folder of the user's, closed to everyone else,
// is never used: the start reports it and neither probes nor listens, under no other
// name, and leaves it as it found it.
TEST_F(SingleApplicationTest, AnInstanceFolderThatIsNotTheUsersOwnIsRefused) {
    const uid_t other = 65534;  // a user id that owns nothing of the test's
    const std::string target = Folder("link-target", 0700);
    const struct {
        const char* what;
        bool needsRoot;
        std::function<bool(const std::string&)> make;
    } cases[] = {
        {"a link to a private folder of the user's", false,
         [&](const std::string& f) { return symlink(target.c_str(), f.c_str()) == 0; }},
        {"a file of the user's", false,
         [](const std::string& f) { return static_cast<bool>(std::ofstream(f) << "x"); }},
        {"a folder of the user's open to others", false,
         [](const std::string& f) { return mkdir(f.c_str(), 0700) == 0 && chmod(f.c_str(), 0755) == 0; }},
        {"a folder of the user's open to its group", false,
         [](const std::string& f) { return mkdir(f.c_str(), 0700) == 0 && chmod(f.c_str(), 0770) == 0; }},
        {"another user's folder", true,
         [&](const std::string& f) { return mkdir(f.c_str(), 0700) == 0 && chown(f.c_str(), other, other) == 0; }},
        {"another user's socket", true,
         [&](const std::string& f) { return LeaveSocket(f) && lchown(f.c_str(), other, other) == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) {
            std::cerr << "[ skipped  ] " << c.what << ": giving a file to another user needs root\n";
            continue;
        }
        const std::string folder = InstanceFolder();
        ASSERT_TRUE(c.make(folder));
        struct stat before {};
        ASSERT_EQ(lstat(folder.c_str(), &before), 0);

        Instance refused = Start(true);
        EXPECT_EQ(Report(refused), "refused " + folder);
        EXPECT_TRUE(EndsByItself(refused)) << "a refused start never serves";

        struct stat after {};
        ASSERT_EQ(lstat(folder.c_str(), &after), 0) << "the squatter's file is left where it is";
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(Names(target), "") << "nothing was made through the link";
        if (S_ISDIR(after.st_mode)) {
            EXPECT_EQ(Names(folder), "") << "nothing was made in the folder";
        }
        EXPECT_EQ(Names(shared_), "VanTrelo-" + std::to_string(geteuid()) + " ") << "no name was taken elsewhere";
        vt_test::RemoveTree(folder);
    }
}

// What another user must run and reach lies where that user can: a folder of the test's
// own in /tmp, open to all, whatever the modes of the folders above the test's build and
// temporary folders. Removed with the object.
class OpenFolder {
public:
    OpenFolder() {
        std::string path = "/tmp/vt-singleapplication-XXXXXX";
        if (mkdtemp(&path[0]) != nullptr && chmod(path.c_str(), 0755) == 0) path_ = path;
    }
    ~OpenFolder() {
        if (!path_.empty()) vt_test::RemoveTree(path_);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Two users on one machine: each starts a first instance of their own, and each one's
// second start meets their own first. Needs root to start the other user's instances,
// which run a copy of the probe program under the test program's own file name.
TEST_F(SingleApplicationTest, TwoUsersEachRunTheirOwnInstance) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "starting a second user's instance needs root";
    }
    const uid_t other = 65534;  // a user id that owns nothing of the test's
    const std::string probe = UI_TEST_INSTANCE_PROBE;
    struct stat st {};
    ASSERT_TRUE(stat(probe.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        << "the probe program " << probe << " is missing or empty: build the target instance_probe";

    OpenFolder open;
    ASSERT_FALSE(open.Path().empty());
    const std::string shared = open.Path() + "/shared-tmp";
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    singleApplicationSharedTempFolderSet(shared.c_str());
    const std::string bin = open.Path() + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    const std::string copy = bin + "/ui_singleapplication";
    {
        std::ifstream in(probe, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    const std::string otherHome = open.Path() + "/other-home";
    ASSERT_EQ(mkdir(otherHome.c_str(), 0700), 0);
    ASSERT_EQ(chown(otherHome.c_str(), other, other), 0);
    const Env otherEnv = {{"HOME", otherHome}, {"TMPDIR", otherHome}};

    Instance mine = Start(true);
    ASSERT_EQ(Report(mine), "first");
    Instance theirs = StartAs(other, {copy, shared, "serve"}, otherEnv);
    EXPECT_EQ(Report(theirs), "first") << "another user's instance is not this user's";
    const std::string theirSocket = shared + "/VanTrelo-" + std::to_string(other) + "/ui_singleapplication";
    ASSERT_EQ(lstat(theirSocket.c_str(), &st), 0) << theirSocket;
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_uid, other);
    EXPECT_TRUE(IsSocket(shared + "/VanTrelo-0/ui_singleapplication"));

    Instance mineAgain = Start(false);
    EXPECT_EQ(Report(mineAgain), "other");
    Instance theirsAgain = StartAs(other, {copy, shared, "once"}, otherEnv);
    EXPECT_EQ(Report(theirsAgain), "other");
    End(mineAgain, 0);
    End(theirsAgain, 0);
    End(theirs);
    End(mine);
}

}  // namespace
