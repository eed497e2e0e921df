// The promote service's control: the engine's rights check and its fix-up through the
// administrator runner, the process count and the kill by name, the service start, and
// the install operations nothing calls yet.
//
// The runner is always a recording stand-in unless a test (as root) lets the real one
// run a harmless command; pkexec and sudo never run. The kill reaches only processes
// below this test program, and every process a test starts dies with it.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
        if (engine) WriteFile(folder + "/serviceclient/VanTreloCS", "engine", 0755);
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

// The fix-up runs once when needed, with both paths as quoted words, and reports the
// runner's outcome; the start does not go on after a failed fix-up.
TEST_F(UiPromoteTest, FixupRunsOnceWithQuotedPaths) {
    const std::string folder = InstallFolder("my vpn's folder", true, true);
    const std::string qFolder = "'" + dir_ + "/my vpn'\\''s folder";
    const std::string qEngine = qFolder + "/serviceclient/VanTreloCS'";
    const std::string qHelper = qFolder + "/refitter'";
    const std::string expected = "(/bin/chown 0:0 " + qEngine + " " + qHelper +
                                 ") && (/bin/chmod 4755 " + qEngine + " " + qHelper + ")";
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

// As root the real runner runs the fix-up itself, and it reaches exactly the two files
// whatever the folder's name holds.
TEST_F(UiPromoteTest, FixupAsRootReachesTheRightFiles) {
    if (geteuid() != 0) GTEST_SKIP() << "changing an owner to root needs root";
    const std::string folder = InstallFolder("vpn 'x';$(id)&`id`", true, false);
    const std::string engine = folder + "/serviceclient/VanTreloCS";
    const std::string helper = folder + "/refitter";
    WriteFile(helper, "helper", 0777);
    ASSERT_EQ(chmod(engine.c_str(), 0777), 0);
    ASSERT_EQ(chown(engine.c_str(), kOtherUid, kOtherUid), 0);
    ASSERT_EQ(chown(helper.c_str(), kOtherUid, kOtherUid), 0);
    uiRootRunnerSet(nullptr);
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    for (const auto& path : {engine, helper}) {
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u) << path;
        EXPECT_EQ(st.st_gid, 0u) << path;
        EXPECT_EQ(st.st_mode & 07777, 04755u) << path;
    }
    EXPECT_EQ(NeedModifyTulmFile(engine.c_str()), 0u);
    // A missing helper fails the fix-up as a whole.
    ASSERT_EQ(chown(engine.c_str(), kOtherUid, kOtherUid), 0);
    ASSERT_EQ(unlink(helper.c_str()), 0);
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
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
