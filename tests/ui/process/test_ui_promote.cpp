// The promote service's control: the engine's rights check and its fix-up through the
// administrator runner, the process count and the kill by name, the service start, and
// the install operations nothing calls yet.
//
// The runner is always a recording stand-in unless a test (as root) lets the real one
// run a harmless command, or the fix-up itself on files of a tmpfs that only a forked
// child in a mount namespace of its own can see; pkexec and sudo never run. The kill
// reaches only processes below this test program, and every process a test starts dies
// with it.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui_env_inner.h"
#include "ui_promote.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

#ifndef UI_TEST_PROBE_BIN
#error "UI_TEST_PROBE_BIN must name the promote-service stand-in"
#endif

namespace {

constexpr char kName[] = "VanTreloPromoteService";
constexpr uid_t kOtherUid = 65534;
// Exit code of a child that could not make its private namespace.
constexpr int kChildSkipped = 77;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void CopyProgram(const std::string& from, const std::string& to) {
    WriteFile(to, ReadFile(from), 0755);
}

void MakeDirs(const std::string& path) {
    for (size_t at = 1; at != std::string::npos;) {
        at = path.find('/', at + 1);
        (void)mkdir(path.substr(0, at).c_str(), 0755);
    }
}

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > deadline) return false;
        usleep(5000);
    }
    return true;
}

std::string Link(const std::string& path) {
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string ExeOf(pid_t pid) { return Link("/proc/" + std::to_string(pid) + "/exe"); }

// The state letter of a process, 0 when there is none.
char StateOf(pid_t pid, pid_t* parent = nullptr) {
    const std::string text = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = text.rfind(')');
    char state = 0;
    int ppid = 0;
    if (close == std::string::npos || sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) != 2) {
        return 0;
    }
    if (parent != nullptr) *parent = ppid;
    return state;
}

bool Alive(pid_t pid) {
    const char s = StateOf(pid);
    return s != 0 && s != 'Z' && s != 'X';
}

// Children of this process, zombies included; with a name, only live ones whose
// program has that base name.
std::vector<pid_t> Children(const char* name = nullptr) {
    std::vector<pid_t> found;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t pid = atoi(e->d_name);
            pid_t parent = 0;
            if (pid <= 0 || StateOf(pid, &parent) == 0 || parent != getpid()) continue;
            if (name != nullptr) {
                const std::string exe = ExeOf(pid);
                if (!Alive(pid) || exe.substr(exe.rfind('/') + 1) != name) continue;
            }
            found.push_back(pid);
        }
        closedir(d);
    }
    return found;
}

// Processes a test starts: standard descriptors on /dev/null, nothing else inherited,
// killed when this process dies, and killed and reaped at the end of the test.
class Procs {
public:
    ~Procs() {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Starts path with argv (argv[0] included); as another user when uid is given (root
    // only), through a descriptor so that no folder needs to be open to that user.
    pid_t Start(const std::string& path, const std::vector<std::string>& args,
                uid_t uid = uid_t(-1)) {
        std::vector<std::string> words = args;
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        const int exeFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
        const std::string self = Link("/proc/self/exe");
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(nullFd, 0);
            dup2(nullFd, 1);
            dup2(nullFd, 2);
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            if (uid != uid_t(-1) && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
            fexecve(exeFd, argv.data(), environ);
            _exit(127);
        }
        close(exeFd);
        close(nullFd);
        if (pid > 0) {
            pids_.push_back(pid);
            // Started once it runs its own program.
            EXPECT_TRUE(WaitFor([&] {
                const std::string exe = ExeOf(pid);
                return !exe.empty() && exe != self;
            })) << path;
        }
        return pid;
    }
    // Reaps a process of this list: its wait status.
    int Reap(pid_t pid) {
        int status = -1;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        for (auto it = pids_.begin(); it != pids_.end(); ++it) {
            if (*it == pid) {
                pids_.erase(it);
                break;
            }
        }
        return status;
    }
    // Takes over a process this test did not start itself (one the front end started).
    void Adopt(pid_t pid) { pids_.push_back(pid); }

private:
    std::vector<pid_t> pids_;
};

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

// The path as the kernel resolves it.
std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

// Whether the machine's folders show as root's: not so inside a user namespace that maps
// only this user, where the fix-up rightly trusts no folder above the test's own.
bool MachineFoldersAreRoots() {
    struct stat st;
    return lstat("/", &st) == 0 && st.st_uid == 0;
}

// Owner, group and mode of a path itself (a link is not followed).
struct Rights {
    uid_t uid;
    gid_t gid;
    mode_t mode;  // type and permission bits
    bool operator==(const Rights& o) const {
        return uid == o.uid && gid == o.gid && mode == o.mode;
    }
};
std::ostream& operator<<(std::ostream& out, const Rights& r) {
    return out << r.uid << ":" << r.gid << " " << std::oct << r.mode << std::dec;
}
// All zero when there is nothing at path.
Rights RightsOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return Rights{0, 0, 0};
    return Rights{st.st_uid, st.st_gid, st.st_mode};
}

// The rights the engine's check sees instead of the file's.
struct FakeStat {
    int err;
    uid_t uid;
    gid_t gid;
    mode_t mode;
};
FakeStat g_fakeStat;

int FakeStatFn(const char*, struct stat* st) {
    if (g_fakeStat.err != 0) {
        errno = g_fakeStat.err;
        return -1;
    }
    *st = {};
    st->st_uid = g_fakeStat.uid;
    st->st_gid = g_fakeStat.gid;
    st->st_mode = S_IFREG | g_fakeStat.mode;
    return 0;
}

pid_t FailingFork() {
    errno = EAGAIN;
    return -1;
}

class UiPromoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        env_ = std::make_unique<vt_test::TempEnv>();
        dir_ = env_->Tmp();
        // Never a process this test program did not start.
        uiPromoteKillScopeSet(getpid());
        // Never the real runner unless a test asks for it.
        uiRootRunnerSet(FakeRunner(0).c_str());
    }
    void TearDown() override {
        uiRootRunnerSet(nullptr);
        uiPkexecPathSet(nullptr);
        uiRootRunnerAsUserSet(false);
        uiTulmStatSet(nullptr);
        uiPromoteForkSet(nullptr);
        uiInstallWaitPollSet(0);
        uiInstallPathSet(nullptr);
    }

    // A stand-in runner: records its one argument as calls/<n>, runs the extra lines,
    // writes to its standard output, and exits with code.
    std::string FakeRunner(int code, const std::string& extra = "") {
        const std::string calls = dir_ + "/calls";
        MakeDirs(calls);
        const std::string path = dir_ + "/runner-" + std::to_string(fakes_++) + ".sh";
        WriteFile(path,
                  "#!/bin/sh\n"
                  "n=$(ls '" + calls + "' | wc -l)\n"
                  "printf '%s' \"$1\" > '" + calls + "'/$n\n" +
                      extra +
                      "\necho runner-output\n"
                      "exit " + std::to_string(code) + "\n",
                  0755);
        return path;
    }
    void UseRunner(int code, const std::string& extra = "") {
        uiRootRunnerSet(FakeRunner(code, extra).c_str());
    }
    // What the stand-in runners were given, in order.
    std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        for (int n = 0;; ++n) {
            const std::string path = dir_ + "/calls/" + std::to_string(n);
            if (access(path.c_str(), F_OK) != 0) return calls;
            calls.push_back(ReadFile(path));
        }
    }

    // An install folder with the engine program and the service stand-in as asked.
    std::string InstallFolder(const std::string& name, bool engine, bool service) {
        const std::string folder = dir_ + "/" + name;
        MakeDirs(folder + "/promote");
        MakeDirs(folder + "/serviceclient");
        if (engine) {
            WriteFile(folder + "/serviceclient/VanTreloCS", "engine", 0755);
            WriteFile(folder + "/refitter", "helper", 0755);
        }
        if (service) CopyProgram(UI_TEST_PROBE_BIN, folder + "/promote/" + kName);
        uiInstallPathSet(folder.c_str());
        return folder;
    }

    // A copy of sleep under the service's name, in a folder of its own.
    std::string SleepCopy(const std::string& sub, const char* name = kName) {
        MakeDirs(dir_ + "/" + sub);
        const std::string path = dir_ + "/" + sub + "/" + name;
        CopyProgram("/bin/sleep", path);
        return path;
    }

    std::unique_ptr<vt_test::TempEnv> env_;
    std::string dir_;
    int fakes_ = 0;
};

// ---- Quoting ------------------------------------------------------------------------

// The shell reads every quoted text back as one word, unchanged: nothing in it runs.
TEST_F(UiPromoteTest, QuotedTextIsOneShellWord) {
    const std::string marker = dir_ + "/ran";
    const std::string texts[] = {
        "plain",
        "/opt/my vpn/bin",
        "it's",
        "''",
        "'",
        "",
        "$(touch " + marker + ")",
        "`touch " + marker + "`",
        "a;touch " + marker + "&b|c",
        "$HOME ~ * ?",
        "back\\slash \"dq\"",
        "new\nline\ttab",
        "-n",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        const std::string command = "printf '%s|' " + UI_ShellQuote(text.c_str()) + " 2>&1";
        FILE* p = popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[256];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
        EXPECT_EQ(pclose(p), 0);
        EXPECT_EQ(out, text + "|");
    }
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "a quoted text ran a command";
    EXPECT_EQ(UI_ShellQuote(nullptr), "''");
}

// ---- Rights of the engine program -----------------------------------------------------

TEST_F(UiPromoteTest, EngineNeedsRootOwnerSetuidAndNoForeignWrite) {
    const struct {
        uid_t uid;
        gid_t gid;
        mode_t mode;
        uint32_t need;
    } cases[] = {
        {0, 0, 04755, 0},     {0, 0, 04711, 0},    {0, 0, 06755, 0},     {0, 0, 04750, 0},
        {0, 0, 04777, 1},     {0, 0, 04775, 1},    {0, 0, 04757, 1},     {0, 0, 0755, 1},
        {1000, 0, 04755, 1},  {0, 20, 04755, 1},   {1000, 1000, 0755, 1},
        // Ids are compared whole: 65536 is not root cut to 16 bits.
        {65536, 0, 04755, 1}, {0, 65536, 04755, 1},
    };
    uiTulmStatSet(FakeStatFn);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.uid << ":" << c.gid << " " << std::oct << c.mode);
        g_fakeStat = FakeStat{0, c.uid, c.gid, c.mode};
        const std::string need = "[65535]NeedModifyTulmFile need " + std::to_string(int(c.uid)) +
                                 " " + std::to_string(int(c.gid)) + " " + std::to_string(int(c.mode));
        const size_t before = ui_test::LogCount(need);
        EXPECT_EQ(NeedModifyTulmFile("/x/serviceclient/VanTreloCS"), c.need);
        EXPECT_EQ(ui_test::LogCount(need), before + c.need);
    }

    // A file that is missing or cannot be examined needs nothing, with a log line.
    const struct {
        int err;
        const char* logged;
    } errors[] = {
        {ENOENT, "[65535]NeedModifyTulmFile file not exist /x/serviceclient/VanTreloCS"},
        {ENOTDIR, "[65535]NeedModifyTulmFile file not exist /x/serviceclient/VanTreloCS"},
        {EACCES, "[65535]NeedModifyTulmFile attributesOfItemAtPath error"},
    };
    for (const auto& e : errors) {
        SCOPED_TRACE(e.err);
        g_fakeStat = FakeStat{e.err, 0, 0, 0};
        const size_t before = ui_test::LogCount(e.logged);
        EXPECT_EQ(NeedModifyTulmFile("/x/serviceclient/VanTreloCS"), 0u);
        EXPECT_EQ(ui_test::LogCount(e.logged), before + 1);
    }
    EXPECT_EQ(NeedModifyTulmFile(nullptr), 0u);
}

// The check on real files: any file is examined as it is; owner changes need root.
TEST_F(UiPromoteTest, EngineCheckReadsTheFile) {
    const std::string path = dir_ + "/VanTreloCS";
    EXPECT_EQ(NeedModifyTulmFile(path.c_str()), 0u) << "missing";
    WriteFile(path, "engine", 04755);
    if (geteuid() != 0) {
        EXPECT_EQ(NeedModifyTulmFile(path.c_str()), 1u) << "owned by the user";
        GTEST_SKIP() << "root-owned files need root";
    }
    const struct {
        uid_t owner;
        mode_t mode;
        uint32_t need;
    } cases[] = {{0, 04755, 0}, {0, 04757, 1}, {0, 0755, 1}, {kOtherUid, 04755, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.owner << " " << std::oct << c.mode);
        ASSERT_EQ(chown(path.c_str(), c.owner, 0), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        EXPECT_EQ(NeedModifyTulmFile(path.c_str()), c.need);
    }
}

// The root command of the fix-up for the two files, as the shell must read it.
std::string FixupCommand(const std::string& qEngine, const std::string& qHelper) {
    const std::string still =
        "[ -f \"$e\" ] && [ ! -L \"$e\" ] && [ -f \"$h\" ] && [ ! -L \"$h\" ]";
    return "e=" + qEngine + " h=" + qHelper + "; " + still +
           " && /bin/chown -h 0:0 -- \"$e\" \"$h\" && " + still +
           " && /bin/chmod 4755 -- \"$e\" \"$h\"";
}

// The fix-up runs once when needed, with both paths as quoted words, and reports the
// runner's outcome; the start does not go on after a failed fix-up.
TEST_F(UiPromoteTest, FixupRunsOnceWithQuotedPaths) {
    if (!MachineFoldersAreRoots()) GTEST_SKIP() << "the machine's folders are not root's here";
    const std::string folder = InstallFolder("my vpn's folder", true, true);
    const std::string qFolder = "'" + RealPath(dir_) + "/my vpn'\\''s folder";
    const std::string qEngine = qFolder + "/serviceclient/VanTreloCS'";
    const std::string qHelper = qFolder + "/refitter'";
    const std::string expected = FixupCommand(qEngine, qHelper);
    uiTulmStatSet(FakeStatFn);

    // In order: no run.
    g_fakeStat = FakeStat{0, 0, 0, 04755};
    size_t out = ui_test::LogCount("[65535]ModifyFilePrivileges success out");
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges success out"), out + 1);
    EXPECT_GE(ui_test::LogCount("[65535]UI_ModifyTulmFilePrivileges start " + qEngine), 1u);

    // Owned by a user: one run, with the command as the shell must read it.
    g_fakeStat = FakeStat{0, 1000, 1000, 0755};
    size_t success = ui_test::LogCount("[65535]ModifyFilePrivileges success");
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    ASSERT_EQ(Calls(), std::vector<std::string>{expected});
    EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges success"), success + 1);

    // The runner fails: -1, and the start stops before any process is made.
    UseRunner(1);
    const size_t error = ui_test::LogCount("[65535]ModifyFilePrivileges error");
    const size_t startFail = ui_test::LogCount("[65535]Call UI_ModifyTulmFilePrivileges Fail");
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
    EXPECT_EQ(UI_PromoteService_Start(), 1u);
    EXPECT_EQ(Calls().size(), 3u);
    EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges error"), error + 2);
    EXPECT_EQ(ui_test::LogCount("[65535]Call UI_ModifyTulmFilePrivileges Fail"), startFail + 1);
    EXPECT_TRUE(Children().empty());
    EXPECT_NE(access((folder + "/promote/probe-report.txt").c_str(), F_OK), 0);

    // No engine program in the folder: nothing to fix.
    uiTulmStatSet(nullptr);
    ASSERT_EQ(unlink((folder + "/serviceclient/VanTreloCS").c_str()), 0);
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    EXPECT_EQ(Calls().size(), 3u);
}

// Root is never asked while anything on the way to the two files could be changed by
// someone else, or is not what it must be: a link, a folder, a missing helper, another
// user's file or folder, a folder others may write (a sticky one above the install folder
// excepted), a file others may write or one with a second name. Each ends the fix-up with
// one line naming the path and why, result 1, and the files as they were. A missing
// engine program is nothing to fix, as before.
TEST_F(UiPromoteTest, FixupRefusedWhereTheWayIsNotSafe) {
    if (!MachineFoldersAreRoots()) GTEST_SKIP() << "the machine's folders are not root's here";
    const bool root = geteuid() == 0;
    const std::string real = RealPath(dir_);
    const std::string decoy = dir_ + "/decoy";
    WriteFile(decoy, "decoy", 0755);
    const auto engineOf = [](const std::string& f) { return f + "/serviceclient/VanTreloCS"; };
    const auto helperOf = [](const std::string& f) { return f + "/refitter"; };
    const auto replaceByLink = [](const std::string& path, const std::string& to) {
        ASSERT_EQ(unlink(path.c_str()), 0);
        ASSERT_EQ(symlink(to.c_str(), path.c_str()), 0);
    };
    const auto replaceByFolder = [](const std::string& path) {
        ASSERT_EQ(unlink(path.c_str()), 0);
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    };
    const auto mode = [](const std::string& path, mode_t m) {
        ASSERT_EQ(chmod(path.c_str(), m), 0);
    };
    const auto owner = [](const std::string& path) {
        ASSERT_EQ(lchown(path.c_str(), kOtherUid, kOtherUid), 0);
    };
    const struct {
        const char* name;
        const char* above;  // a folder between the case's folder and the install folder "f"
        std::function<void(const std::string& above, const std::string& folder)> setUp;
        // The path refused, below the case's folder, and why; empty: not refused.
        std::string refused;
        std::string reason;
        bool asked;  // root is asked (the stand-in runner succeeds)
        bool rootOnly;
    } cases[] = {
        {"engine a link", "", [&](auto&, auto& f) { replaceByLink(engineOf(f), decoy); },
         "/f/serviceclient/VanTreloCS", "a link", false, false},
        {"helper a link", "", [&](auto&, auto& f) { replaceByLink(helperOf(f), decoy); },
         "/f/refitter", "a link", false, false},
        {"engine a folder", "", [&](auto&, auto& f) { replaceByFolder(engineOf(f)); },
         "/f/serviceclient/VanTreloCS", "not a regular file", false, false},
        {"helper a folder", "", [&](auto&, auto& f) { replaceByFolder(helperOf(f)); },
         "/f/refitter", "not a regular file", false, false},
        {"helper missing", "", [&](auto&, auto& f) { ASSERT_EQ(unlink(helperOf(f).c_str()), 0); },
         "/f/refitter", "missing", false, false},
        {"engine with a second name", "",
         [&](auto&, auto& f) { ASSERT_EQ(link(engineOf(f).c_str(), (f + "/second").c_str()), 0); },
         "/f/serviceclient/VanTreloCS", "more than one name", false, false},
        {"engine writable by others", "", [&](auto&, auto& f) { mode(engineOf(f), 0757); },
         "/f/serviceclient/VanTreloCS", "writable by group or others", false, false},
        {"helper writable by its group", "", [&](auto&, auto& f) { mode(helperOf(f), 0775); },
         "/f/refitter", "writable by group or others", false, false},
        {"install folder open", "", [&](auto&, auto& f) { mode(f, 0777); }, "/f",
         "writable by group or others", false, false},
        {"install folder open to its group", "", [&](auto&, auto& f) { mode(f, 0775); }, "/f",
         "writable by group or others", false, false},
        {"install folder open and sticky", "", [&](auto&, auto& f) { mode(f, 01777); }, "/f",
         "writable by group or others", false, false},
        {"engine folder open", "", [&](auto&, auto& f) { mode(f + "/serviceclient", 0777); },
         "/f/serviceclient", "writable by group or others", false, false},
        {"engine folder a link", "",
         [&](auto&, auto& f) {
             ASSERT_EQ(rename((f + "/serviceclient").c_str(), (f + "/elsewhere").c_str()), 0);
             ASSERT_EQ(symlink("elsewhere", (f + "/serviceclient").c_str()), 0);
         },
         "/f/serviceclient", "a link", false, false},
        {"folder above open", "open", [&](auto& a, auto&) { mode(a, 0777); }, "/open",
         "writable by group or others", false, false},
        {"folder above open and sticky", "sticky", [&](auto& a, auto&) { mode(a, 01777); }, "", "",
         true, false},
        {"nothing wrong", "", [](auto&, auto&) {}, "", "", true, false},
        {"engine missing", "", [&](auto&, auto& f) { ASSERT_EQ(unlink(engineOf(f).c_str()), 0); },
         "", "", false, false},
        {"engine of another user", "", [&](auto&, auto& f) { owner(engineOf(f)); },
         "/f/serviceclient/VanTreloCS", "owned by user 65534", false, true},
        {"helper of another user", "", [&](auto&, auto& f) { owner(helperOf(f)); }, "/f/refitter",
         "owned by user 65534", false, true},
        {"install folder of another user", "", [&](auto&, auto& f) { owner(f); }, "/f",
         "owned by user 65534", false, true},
        {"engine folder of another user", "", [&](auto&, auto& f) { owner(f + "/serviceclient"); },
         "/f/serviceclient", "owned by user 65534", false, true},
        {"folder above of another user", "theirs", [&](auto& a, auto&) { owner(a); }, "/theirs",
         "owned by user 65534", false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && !root) continue;
        // Each case in a fresh folder: <test folder>/c<n>[/<above>]/f.
        const std::string caseDir = "c" + std::to_string(n++);
        const std::string rel = caseDir + (c.above[0] != '\0' ? "/" + std::string(c.above) : "");
        const std::string above = dir_ + "/" + rel;
        const std::string folder = InstallFolder(rel + "/f", true, false);
        c.setUp(above, folder);
        const Rights engineBefore = RightsOf(engineOf(folder));
        const Rights helperBefore = RightsOf(helperOf(folder));
        const Rights decoyBefore = RightsOf(decoy);
        const std::string refused = "[65535]ModifyFilePrivileges refused, " + real + "/" + caseDir +
                                    c.refused + ": " + c.reason;
        const size_t refusedBefore = ui_test::LogCount(refused);
        const size_t anyRefusal = ui_test::LogCount("ModifyFilePrivileges refused");
        const size_t success = ui_test::LogCount("[65535]ModifyFilePrivileges success");
        const std::string notExist = "[65535]NeedModifyTulmFile file not exist " + engineOf(folder);
        const size_t notExistBefore = ui_test::LogCount(notExist);
        const size_t calls = Calls().size();

        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), c.refused.empty() ? 0 : 1);
        EXPECT_EQ(Calls().size(), calls + (c.asked ? 1 : 0)) << "root asked";
        if (!c.refused.empty()) {
            EXPECT_EQ(ui_test::LogCount(refused), refusedBefore + 1) << refused;
            EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges success"), success)
                << "a refusal reported as success";
        } else {
            EXPECT_EQ(ui_test::LogCount("ModifyFilePrivileges refused"), anyRefusal);
        }
        // Not asked and not refused: the engine program is missing, nothing to fix.
        const size_t missing = c.refused.empty() && !c.asked ? 1 : 0;
        EXPECT_EQ(ui_test::LogCount(notExist), notExistBefore + missing);
        EXPECT_EQ(RightsOf(engineOf(folder)), engineBefore);
        EXPECT_EQ(RightsOf(helperOf(folder)), helperBefore);
        EXPECT_EQ(RightsOf(decoy), decoyBefore);
    }
}

// A refused fix-up changed nothing and asked nothing, as with a missing engine program:
// the start goes on and starts the service.
TEST_F(UiPromoteTest, StartGoesOnAfterARefusedFixup) {
    Procs procs;
    const std::string folder = InstallFolder("refused", true, true);
    const std::string report = folder + "/promote/probe-report.txt";
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    const size_t startFail = ui_test::LogCount("[65535]Call UI_ModifyTulmFilePrivileges Fail");
    ASSERT_EQ(UI_PromoteService_Start(), 0u);
    ASSERT_TRUE(WaitFor([&] { return access(report.c_str(), F_OK) == 0; }));
    const std::vector<pid_t> running = Children(kName);
    ASSERT_EQ(running.size(), 1u);
    procs.Adopt(running[0]);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(ui_test::LogCount("[65535]Call UI_ModifyTulmFilePrivileges Fail"), startFail);
}

// The fix-up run for real, as root, on a tmpfs that only a child in a mount namespace of
// its own sees (mounted nosuid: nothing made setuid there can ever run as root). The
// decoy stands for a root-owned program elsewhere on the machine.
class FixupAsRoot : public UiPromoteTest {
protected:
    void SetUp() override {
        UiPromoteTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "changing an owner to root needs root";
    }

    // Runs body(tree) in a forked child whose private tmpfs is mounted at tree.
    void InPrivateTree(const std::function<void(const std::string&)>& body) {
        const std::string tree = dir_ + "/tree";
        MakeDirs(tree);
        const auto child = vt_test::RunInChild([&]() -> int {
            // "/" is made private first, so that nothing mounted here reaches the
            // machine's mount table.
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", tree.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                      "size=1m,mode=0755") != 0) {
                return kChildSkipped;
            }
            uiRootRunnerSet(nullptr);
            body(tree);
            return 0;
        });
        if (child.exited && child.exitCode == kChildSkipped) {
            GTEST_SKIP() << "no private mount namespace here";
        }
        EXPECT_TRUE(vt_test::ExitedWith(child, 0));
        // The tmpfs went with the child.
        DIR* d = opendir(tree.c_str());
        ASSERT_NE(d, nullptr);
        int entries = 0;
        while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
        closedir(d);
        EXPECT_EQ(entries, 0);
    }

    // An install folder with both files as a package leaves them, root's, not setuid, with
    // a group to change; and a root-owned decoy beside it.
    struct Staged {
        std::string folder, engine, helper, decoy;
    };
    Staged Stage(const std::string& tree, const std::string& name) {
        Staged s;
        s.folder = tree + "/" + name;
        s.engine = s.folder + "/serviceclient/VanTreloCS";
        s.helper = s.folder + "/refitter";
        s.decoy = tree + "/decoy of " + name;
        MakeDirs(s.folder + "/serviceclient");
        for (const std::string& path : {s.engine, s.helper, s.decoy}) {
            WriteFile(path, "#!/bin/sh\n", 0755);
            EXPECT_EQ(chown(path.c_str(), 0, kOtherUid), 0);
        }
        uiInstallPathSet(s.folder.c_str());
        return s;
    }
};

constexpr Rights kPackaged{0, kOtherUid, S_IFREG | 0755};
constexpr Rights kFixed{0, 0, S_IFREG | 04755};

// Real files in folders only root may write: both become root's, setuid, 4755, whatever
// the folder's name holds; the next start finds them in order.
TEST_F(FixupAsRoot, ReachesTheRightFiles) {
    InPrivateTree([&](const std::string& tree) {
        const Staged s = Stage(tree, "vpn 'x';$(id)&`id`");
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        EXPECT_EQ(RightsOf(s.engine), kFixed);
        EXPECT_EQ(RightsOf(s.helper), kFixed);
        EXPECT_EQ(RightsOf(s.decoy), kPackaged);
        EXPECT_EQ(NeedModifyTulmFile(s.engine.c_str()), 0u);
        const size_t out = ui_test::LogCount("[65535]ModifyFilePrivileges success out");
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges success out"), out + 1);
    });
}

// A link at either place, to a root-owned program elsewhere: planted before the start,
// the fix-up refuses it before root is asked; swapped in after that check (by a runner
// that swaps it and then runs the real command as root), root's own check refuses it.
// Either way the decoy keeps its owner and mode, and the other file is not touched.
TEST_F(FixupAsRoot, LeavesLinksAndWhatTheyPointAtAlone) {
    InPrivateTree([&](const std::string& tree) {
        for (const bool engineSide : {true, false}) {
            for (const bool afterTheCheck : {false, true}) {
                SCOPED_TRACE(std::string(engineSide ? "engine" : "helper") +
                             (afterTheCheck ? ", swapped in after the check" : ", planted"));
                const Staged s = Stage(tree, std::string(engineSide ? "e" : "h") +
                                                 (afterTheCheck ? "-swapped" : "-planted"));
                const std::string place = engineSide ? s.engine : s.helper;
                const std::string other = engineSide ? s.helper : s.engine;
                if (afterTheCheck) {
                    const std::string swapper = tree + "/swap " + std::to_string(fakes_++) + ".sh";
                    WriteFile(swapper,
                              "#!/bin/sh\n/bin/ln -sfn " + UI_ShellQuote(s.decoy.c_str()) + " " +
                                  UI_ShellQuote(place.c_str()) +
                                  " || exit 9\nexec /bin/sh -c \"$1\"\n",
                              0755);
                    uiRootRunnerSet(swapper.c_str());
                } else {
                    ASSERT_EQ(unlink(place.c_str()), 0);
                    ASSERT_EQ(symlink(s.decoy.c_str(), place.c_str()), 0);
                }
                EXPECT_EQ(UI_ModifyTulmFilePrivileges(), afterTheCheck ? -1 : 1);
                uiRootRunnerSet(nullptr);
                struct stat st {};
                ASSERT_EQ(lstat(place.c_str(), &st), 0);
                EXPECT_TRUE(S_ISLNK(st.st_mode));
                EXPECT_EQ(Link(place), s.decoy);
                EXPECT_EQ(RightsOf(s.decoy), kPackaged);
                EXPECT_EQ(RightsOf(other), kPackaged);
            }
        }
    });
}

// Real files in a folder that others may write (the install folder or the engine's, mode
// 0777): nothing changes, and root is not asked.
TEST_F(FixupAsRoot, ChangesNothingInAFolderOthersMayWrite) {
    InPrivateTree([&](const std::string& tree) {
        for (const char* open : {"", "/serviceclient"}) {
            SCOPED_TRACE(open);
            const Staged s = Stage(tree, std::string("open") + (open[0] != '\0' ? "-engine" : ""));
            ASSERT_EQ(chmod((s.folder + open).c_str(), 0777), 0);
            const size_t error = ui_test::LogCount("[65535]ModifyFilePrivileges error");
            EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 1);
            EXPECT_EQ(ui_test::LogCount("[65535]ModifyFilePrivileges error"), error);
            EXPECT_EQ(RightsOf(s.engine), kPackaged);
            EXPECT_EQ(RightsOf(s.helper), kPackaged);
        }
    });
}

// ---- The runner ----------------------------------------------------------------------

// Captures what this process writes to standard output while it lives.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& path) : path_(path) {
        fflush(stdout);
        saved_ = dup(1);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, 1);
        close(fd);
    }
    ~StdoutCapture() { Stop(); }
    std::string Stop() {
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            saved_ = -1;
        }
        return ReadFile(path_);
    }

private:
    std::string path_;
    int saved_ = -1;
};

// Root runs the command itself; anyone else through pkexec when present; otherwise the
// run fails with a reason. The command's output never reaches standard output.
TEST_F(UiPromoteTest, RunnerTakesTheRoadTheProcessHas) {
    uiRootRunnerSet(nullptr);
    const std::string pk = dir_ + "/pk";
    MakeDirs(pk);
    const std::string fakePkexec = dir_ + "/pkexec";
    WriteFile(fakePkexec,
              "#!/bin/sh\ni=0\nfor a in \"$@\"; do printf '%s' \"$a\" > '" + pk +
                  "'/$i; i=$((i+1)); done\necho pkexec-output\nexit $(cat '" + dir_ + "/pkcode')\n",
              0755);
    WriteFile(dir_ + "/pkcode", "0");
    uiPkexecPathSet(fakePkexec.c_str());
    uiRootRunnerAsUserSet(true);

    StdoutCapture capture(dir_ + "/stdout");
    const std::string command = "echo command-output";
    EXPECT_EQ(UI_RootCommand_Run(command.c_str()), 0);
    EXPECT_EQ(ReadFile(pk + "/0"), "/bin/sh");
    EXPECT_EQ(ReadFile(pk + "/1"), "-c");
    EXPECT_EQ(ReadFile(pk + "/2"), command);
    EXPECT_NE(access((pk + "/3").c_str(), F_OK), 0);
    WriteFile(dir_ + "/pkcode", "126");  // the password prompt dismissed
    EXPECT_EQ(UI_RootCommand_Run(command.c_str()), -1);

    // Neither root nor pkexec.
    uiPkexecPathSet((dir_ + "/no-pkexec").c_str());
    const char* reason = "[65535][Run as administrator][not root and no pkexec found]";
    size_t before = ui_test::LogCount(reason);
    EXPECT_EQ(UI_RootCommand_Run(command.c_str()), -1);
    EXPECT_EQ(UI_Authorization_Create(), nullptr);
    EXPECT_EQ(ui_test::LogCount(reason), before + 2);
    EXPECT_EQ(UI_RootCommand_Run(nullptr), -1);

    if (geteuid() == 0) {
        uiRootRunnerAsUserSet(false);
        const std::string out = dir_ + "/as root";
        EXPECT_EQ(UI_RootCommand_Run(("id -u > " + UI_ShellQuote(out.c_str()) + "; echo x").c_str()), 0);
        EXPECT_EQ(ReadFile(out), "0\n");
        const size_t status = ui_test::LogCount("[65535][Run as administrator][/bin/sh ended with status 0x300]");
        EXPECT_EQ(UI_RootCommand_Run("exit 3"), -1);
        EXPECT_EQ(ui_test::LogCount("[65535][Run as administrator][/bin/sh ended with status 0x300]"), status + 1);
    }
    EXPECT_EQ(capture.Stop(), "");
}

// ---- Counting and killing by name ---------------------------------------------------

TEST_F(UiPromoteTest, ProcessCountByName) {
    Procs procs;
    const std::string name = "vtcount" + std::to_string(getpid());
    const std::string copy = SleepCopy("count", name.c_str());
    uint32_t count = 99;
    ASSERT_EQ(UI_ProcNum_Get(name.c_str(), &count), 0u);
    EXPECT_EQ(count, 0u);
    procs.Start(copy, {copy, "600"});
    ASSERT_EQ(UI_ProcNum_Get(name.c_str(), &count), 0u);
    EXPECT_EQ(count, 1u);
    procs.Start(copy, {copy, "600"});
    ASSERT_EQ(UI_ProcNum_Check(name.c_str(), &count), 0u);
    EXPECT_EQ(count, 2u);

    // A name is a quoted word of the command: it runs nothing.
    const std::string injected = "x;touch $TMPDIR/zq";
    count = 99;
    ASSERT_EQ(UI_ProcNum_Get(injected.c_str(), &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(access((dir_ + "/zq").c_str(), F_OK), 0);

    // Refused: no name, no count, a command longer than its 63-byte bound.
    const std::string longest(23, 'n'), tooLong(24, 'n');
    EXPECT_EQ(UI_ProcNum_Get(longest.c_str(), &count), 0u);
    EXPECT_EQ(UI_ProcNum_Get(tooLong.c_str(), &count), 1u);
    EXPECT_EQ(UI_ProcNum_Check(tooLong.c_str(), &count), 1u);
    EXPECT_EQ(UI_ProcNum_Get("", &count), 1u);
    EXPECT_EQ(UI_ProcNum_Get(nullptr, &count), 1u);
    EXPECT_EQ(UI_ProcNum_Get(name.c_str(), nullptr), 1u);

    // A command that prints nothing fails the count.
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild([&] {
        setenv("PATH", "", 1);
        uint32_t c = 0;
        EXPECT_EQ(UI_ProcNum_Get(name.c_str(), &c), 1u);
    })));
}

// The kill takes every process of this user whose program, by its executable or its
// first argument, is the service; the name in other arguments, a longer name or another
// user's process is left alone. It returns once the killed are gone.
TEST_F(UiPromoteTest, KillTakesOnlyTheServiceAndWaits) {
    Procs procs;
    const std::string service = SleepCopy("old");
    const std::string deleted = SleepCopy("replaced");
    const std::string longer = SleepCopy("longer", "VanTreloPromoteServiceX");
    const pid_t byExe = procs.Start(service, {"sleeper", "600"});
    const pid_t byArg0 = procs.Start("/bin/sleep", {kName, "600"});
    const pid_t byRemovedExe = procs.Start(deleted, {"sleeper", "600"});
    ASSERT_EQ(unlink(deleted.c_str()), 0);
    // One that needs a moment to die: a kill that does not wait returns before it is gone.
    const std::string holder = dir_ + "/holder/" + kName;
    MakeDirs(dir_ + "/holder");
    CopyProgram(UI_TEST_PROBE_BIN, holder);
    const std::string held = dir_ + "/held";
    const pid_t slowToDie = procs.Start(holder, {holder, "hold", "128", held});
    ASSERT_TRUE(WaitFor([&] { return access(held.c_str(), F_OK) == 0; }, 60000));
    const pid_t inArgs = procs.Start(UI_TEST_PROBE_BIN, {UI_TEST_PROBE_BIN, "wait", kName});
    const pid_t longerName = procs.Start(longer, {longer, "600"});
    pid_t otherUser = -1;
    if (geteuid() == 0) otherUser = procs.Start(service, {service, "600"}, kOtherUid);

    UI_PromoteService_Kill();
    for (pid_t pid : {slowToDie, byExe, byArg0, byRemovedExe}) {
        SCOPED_TRACE(pid);
        EXPECT_FALSE(Alive(pid)) << "still running when the kill returned";
        EXPECT_TRUE(KilledBySigkill(procs.Reap(pid)));
    }
    for (pid_t pid : {inArgs, longerName, otherUser}) {
        if (pid > 0) {
            EXPECT_TRUE(Alive(pid)) << pid;
        }
    }
    // Nothing left to kill: it returns at once.
    UI_PromoteService_Kill();
    EXPECT_TRUE(Alive(inArgs));
}

// Neither the caller nor its ancestors are killed, though they run the service.
TEST_F(UiPromoteTest, KillSparesTheCallerAndItsAncestors) {
    Procs procs;
    const std::string probe = dir_ + "/caller/" + kName;
    MakeDirs(dir_ + "/caller");
    CopyProgram(UI_TEST_PROBE_BIN, probe);
    const pid_t victim = procs.Start(SleepCopy("victim"), {kName, "600"});
    const pid_t caller = procs.Start(probe, {kName, "kill", std::to_string(getpid())});
    const int status = procs.Reap(caller);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::hex << status;
    EXPECT_TRUE(KilledBySigkill(procs.Reap(victim)));
}

// ---- The service start ----------------------------------------------------------------

// One probe report: its descriptors and the live siblings of its name it saw at start.
struct Report {
    std::vector<std::string> fds;  // "fd <n> <target>"
    size_t siblings = 0;
};

Report ReadReport(const std::string& path) {
    Report r;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fd ", 0) == 0) r.fds.push_back(line);
        if (line.rfind("sibling ", 0) == 0) ++r.siblings;
    }
    return r;
}

// A service left running is killed and gone before the new one starts; afterwards
// exactly one runs, and it holds none of the front end's descriptors: standard input
// and output on /dev/null, standard error shared, nothing else.
TEST_F(UiPromoteTest, StartReplacesARunningServiceCleanly) {
    Procs procs;
    const std::string folder = InstallFolder("inst", false, true);
    const std::string report = folder + "/promote/probe-report.txt";
    const pid_t old = procs.Start(SleepCopy("old"), {kName, "600"});

    // Descriptors the front end holds without close-on-exec: a listening socket such as
    // the single-instance guard's, and a pipe.
    const int guard = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(guard, 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);

    const size_t killLine = ui_test::LogCount("[65535]UI kill Rpc proc!");
    const size_t startLine = ui_test::LogCount("[65535]Call UI_Start_PromoteService 1");
    ASSERT_EQ(UI_PromoteService_Start(), 0u);
    EXPECT_EQ(ui_test::LogCount("[65535]UI kill Rpc proc!"), killLine + 1);
    EXPECT_EQ(ui_test::LogCount("[65535]Call UI_Start_PromoteService 1"), startLine + 1);
    EXPECT_TRUE(KilledBySigkill(procs.Reap(old)));
    ASSERT_TRUE(WaitFor([&] { return access(report.c_str(), F_OK) == 0; }));
    std::vector<pid_t> running = Children(kName);
    ASSERT_EQ(running.size(), 1u);
    procs.Adopt(running[0]);

    const Report r = ReadReport(report);
    EXPECT_EQ(r.siblings, 0u) << "the old service was still alive at the new one's start";
    ASSERT_EQ(r.fds.size(), 3u) << ReadFile(report);
    EXPECT_EQ(r.fds[0], "fd 0 /dev/null");
    EXPECT_EQ(r.fds[1], "fd 1 /dev/null");
    EXPECT_EQ(r.fds[2], "fd 2 " + Link("/proc/self/fd/2"));
    EXPECT_TRUE(Calls().empty()) << "no engine program, no fix-up";

    // A second start replaces the first service in turn.
    ASSERT_EQ(unlink(report.c_str()), 0);
    ASSERT_EQ(UI_PromoteService_Start(), 0u);
    EXPECT_TRUE(KilledBySigkill(procs.Reap(running[0])));
    ASSERT_TRUE(WaitFor([&] { return access(report.c_str(), F_OK) == 0; }));
    running = Children(kName);
    ASSERT_EQ(running.size(), 1u);
    procs.Adopt(running[0]);
    EXPECT_EQ(ReadReport(report).siblings, 0u);

    close(guard);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// A start that cannot run the service leaves no process behind and answers as the
// connection step expects: 0 when the start was attempted (the connection attempts that
// follow fail), 1 when it could not be attempted.
TEST_F(UiPromoteTest, StartFailuresLeaveNoProcess) {
    const std::string longFolder = dir_ + std::string(993 - dir_.size(), 'd');
    const std::string fitFolder = "/" + std::string(991, 'f');
    const struct {
        const char* name;
        std::function<void()> setUp;
        uint32_t rc;
        std::string logged;
    } cases[] = {
        {"no service program", [&] { InstallFolder("empty", false, false); }, 0,
         "[65535]UI_PromoteService_Start Call execl " + dir_ + "/empty/promote/" + kName + " error"},
        {"service program not executable",
         [&] {
             InstallFolder("noexec", false, true);
             chmod((dir_ + "/noexec/promote/" + kName).c_str(), 0644);
         },
         0, "[65535]UI_PromoteService_Start Call execl " + dir_ + "/noexec/promote/" + kName + " error"},
        {"install folder unknown", [&] { uiInstallPathSet(""); }, 0,
         "[65535]Call UI_Get_InstallPath Fail"},
        {"install folder too long", [&] { uiInstallPathSet(longFolder.c_str()); }, 0,
         "[65535]UI_PromoteService_Start error, InstallPath too long"},
        {"longest install folder", [&] { uiInstallPathSet(fitFolder.c_str()); }, 0,
         // The log line cuts the path.
         "[65535]UI_PromoteService_Start Call execl " + fitFolder.substr(0, 500)},
        {"no child process",
         [&] {
             InstallFolder("nofork", false, true);
             uiPromoteForkSet(FailingFork);
         },
         1, "[65535]UI_PromoteService_Start fork failed, errno is " + std::to_string(EAGAIN)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        const size_t before = ui_test::LogCount(c.logged);
        EXPECT_EQ(UI_PromoteService_Start(), c.rc);
        EXPECT_EQ(ui_test::LogCount(c.logged), before + 1);
        EXPECT_TRUE(Children().empty());
        uiPromoteForkSet(nullptr);
    }

    // Processes that cannot be counted stop the start.
    InstallFolder("nocount", false, true);
    EXPECT_TRUE(vt_test::ExitedWith(vt_test::RunInChild([&] {
        setenv("PATH", "", 1);
        const size_t before = ui_test::LogCount("[65535]Call UI_ProcNum_Get Fail");
        EXPECT_EQ(UI_PromoteService_Start(), 1u);
        EXPECT_EQ(ui_test::LogCount("[65535]Call UI_ProcNum_Get Fail"), before + 1);
        EXPECT_TRUE(Children().empty());
    })));
}

// ---- Installation and administrator rights (not called by the front end) -------------

TEST_F(UiPromoteTest, InstallOperationsRunTheirScriptsAsRoot) {
    const std::string folder = InstallFolder("the vpn's bin", false, false);
    const std::string q = "'" + dir_ + "/the vpn'\\''s bin";
    const std::string installCmd = q + "/promote/install_PromoteService.sh' " + q + "'";
    const std::string uninstallCmd = q + "/promote/uninstall_PromoteService.sh'";
    const std::string authCmd = "'/bin/sh' " + q + "/promote/install_PromoteService.sh' " + q + "'";
    const std::string plist = folder + "/promote/VanTreloPromoteService.plist";
    const struct {
        const char* name;
        bool plist;
        int runner;
        std::function<void()> op;
        std::string command;  // empty: the runner is not called
        std::string logged;
    } cases[] = {
        {"install without description", false, 0, UI_PromoteService_Install, "",
         "[65535]RPC Service plist doesn't exist"},
        {"install", true, 0, UI_PromoteService_Install, installCmd,
         "[65535]Install RPC Service sucessfully"},
        {"install fails", true, 1, UI_PromoteService_Install, installCmd,
         "[65535]Fail to install RPC Service "},
        {"uninstall", false, 0, UI_PromoteService_Uninstall, uninstallCmd,
         "[65535]Uninstall RPC Service sucessfully"},
        {"uninstall fails", false, 1, UI_PromoteService_Uninstall, uninstallCmd,
         "[65535]Fail to Uninstall RPC Service "},
        {"authorized install", true, 0, UI_PromoteService_AuthInstall, authCmd, ""},
        {"authorized install without description", false, 0, UI_PromoteService_AuthInstall, "",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.plist) {
            WriteFile(plist, "<plist/>");
        } else {
            unlink(plist.c_str());
        }
        UseRunner(c.runner);
        const size_t calls = Calls().size();
        const size_t before = c.logged.empty() ? 0 : ui_test::LogCount(c.logged);
        c.op();
        const std::vector<std::string> all = Calls();
        ASSERT_EQ(all.size(), calls + (c.command.empty() ? 0 : 1));
        if (!c.command.empty()) {
            EXPECT_EQ(all.back(), c.command);
        }
        if (!c.logged.empty()) {
            EXPECT_EQ(ui_test::LogCount(c.logged), before + 1);
        }
    }
}

TEST_F(UiPromoteTest, AuthorizationRunsToolsWithQuotedArguments) {
    UI_AUTHORIZATION_REF ref = UI_Authorization_Create();
    ASSERT_NE(ref, nullptr);
    const char* args[] = {"a b", "c'd", nullptr};
    EXPECT_TRUE(UI_Authorization_Exec("/opt/tool", args, ref));
    EXPECT_TRUE(UI_Authorization_Exec("/opt/tool", nullptr, ref));
    UseRunner(1);
    EXPECT_FALSE(UI_Authorization_Exec("/opt/tool", args, ref));
    EXPECT_FALSE(UI_Authorization_Exec("/opt/tool", args, nullptr));
    EXPECT_FALSE(UI_Authorization_Exec(nullptr, args, ref));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"'/opt/tool' 'a b' 'c'\\''d'", "'/opt/tool'",
                                                 "'/opt/tool' 'a b' 'c'\\''d'"}));
    UI_Authorization_Free(ref);
    UI_Authorization_Free(nullptr);
}

// The wait installs the service only when none runs, and polls until one does or the
// polls run out.
TEST_F(UiPromoteTest, InstallWaitPollsUntilTheServiceRuns) {
    Procs procs;
    uiInstallWaitPollSet(10);
    const std::string folder = InstallFolder("wait", false, false);
    WriteFile(folder + "/promote/VanTreloPromoteService.plist", "<plist/>");
    const std::string name = "vtwait" + std::to_string(getpid());
    const std::string copy = SleepCopy("wait-copy", name.c_str());
    const std::string pidFile = dir_ + "/installed.pid";

    // Too long a name to count.
    const std::string tooLong(30, 'w');
    size_t before = ui_test::LogCount("[65535]fail to check [" + tooLong + "]");
    EXPECT_EQ(UI_PromoteService_InstallWait(tooLong.c_str()), 1u);
    EXPECT_EQ(ui_test::LogCount("[65535]fail to check [" + tooLong + "]"), before + 1);
    EXPECT_TRUE(Calls().empty());

    // Installed, but it never comes up.
    before = ui_test::LogCount("[65535]Install RPC Service timeout");
    EXPECT_EQ(UI_PromoteService_InstallWait(name.c_str()), 1u);
    EXPECT_EQ(ui_test::LogCount("[65535]Install RPC Service timeout"), before + 1);
    EXPECT_EQ(Calls().size(), 1u);

    // The install starts it.
    UseRunner(0, "'" + copy + "' 600 </dev/null >/dev/null 2>&1 &\necho $! > '" + pidFile + "'");
    EXPECT_EQ(UI_PromoteService_InstallWait(name.c_str()), 0u);
    EXPECT_EQ(Calls().size(), 2u);
    const pid_t installed = atoi(ReadFile(pidFile).c_str());
    ASSERT_GT(installed, 0);

    // Already running: nothing installed.
    EXPECT_EQ(UI_PromoteService_InstallWait(name.c_str()), 0u);
    EXPECT_EQ(Calls().size(), 2u);
    kill(installed, SIGKILL);
}

}  // namespace
