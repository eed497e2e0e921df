// The launcher that keeps the fixed-port tests away from a client the user runs: in its
// namespaces a test has the client's port to itself, sees only its own processes, and
// leaves nothing running; where it must run a test directly, a port held outside fails
// the run at once with one line naming the holder; a test has a /tmp of its own that
// still holds the folders it runs from; and either way the test's status comes back as
// the test ended.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vt_test/temp_env.h"

namespace {

const std::string kLauncher = VT_ISOLATE_BIN;
const std::string kHelper = VT_ISOLATE_HELPER_BIN;
constexpr int kClientPort = 29191;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Ended {
    int status = -1;  // the wait status; -1 when it had to be killed
    std::string out, err;

    bool ExitedWith(int code) const { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code; }
    std::string How() const {
        std::string how = status < 0 ? "ran past its time limit"
                          : WIFEXITED(status) ? "exited with " + std::to_string(WEXITSTATUS(status))
                                              : "killed by signal " + std::to_string(WTERMSIG(status));
        return how + "\nout: " + out + "\nerr: " + err;
    }
};

// Runs the launcher with the arguments, its output into files of the temporary folder.
// keepFd, when not -1, is inherited by it (and so by what it runs); cwd, when given, is
// its working folder, and tmpdir, when given, its TMPDIR.
Ended Launch(const vt_test::TempEnv& env, std::vector<std::string> args, int keepFd = -1,
             const std::string& cwd = "", const std::string& tmpdir = "") {
    static int runs = 0;
    const std::string prefix = env.Root() + "/run" + std::to_string(++runs);
    args.insert(args.begin(), kLauncher);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int out = open((prefix + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open((prefix + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
        if (!tmpdir.empty()) setenv("TMPDIR", tmpdir.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(126);
    }
    close(out);
    close(err);
    Ended r;
    int status = 0;
    for (int waited = 0; waited < 60000; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            r.status = status;
            break;
        }
        usleep(10 * 1000);
    }
    if (r.status < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    r.out = ReadFile(prefix + ".out");
    r.err = ReadFile(prefix + ".err");
    return r;
}

// Whether this machine lets the launcher make its namespaces.
bool NamespacesPossible(const vt_test::TempEnv& env) {
    const Ended probe = Launch(env, {"--probe"});
    return probe.ExitedWith(0) && (probe.out == "root\n" || probe.out == "user\n");
}

// A listening socket on the address and port (0: a free one), closed with the object.
class Listener {
public:
    Listener(const char* address, int port) {
        const bool v6 = std::strchr(address, ':') != nullptr;
        fd_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage ss{};
        socklen_t len = 0;
        if (v6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET6, address, &a->sin6_addr);
            len = sizeof(*a);
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&ss);
            a->sin_family = AF_INET;
            a->sin_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET, address, &a->sin_addr);
            len = sizeof(*a);
        }
        if (bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(fd_, 1) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        len = sizeof(ss);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
        port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                         : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    }
    ~Listener() { close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Port() const { return port_; }  // 0 when it does not listen
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::string error_;
};

// This program's file name, as the launcher names a holder.
std::string OwnName() {
    char exe[4096] = {};
    readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    const char* slash = std::strrchr(exe, '/');
    return slash != nullptr ? slash + 1 : exe;
}

// Run directly, the launcher looks at the ports first: a listener that a connection to
// 127.0.0.1 would meet fails the run with one line, and the test never starts; one that
// it would not meet lets it start. A listing of a program's tests needs no port.
TEST(IsolateTest, APortHeldOutsideIsNamedInOneLineWhenTheTestRunsDirectly) {
    vt_test::TempEnv env;
    struct Case {
        const char* address;
        bool listing;
        bool held;
    };
    const Case cases[] = {
        {"127.0.0.1", false, true},
        {"0.0.0.0", false, true},
        {"::", false, true},
        {"127.0.0.2", false, false},
        {"127.0.0.1", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.listing ? ", listing the tests" : ""));
        Listener held(c.address, 0);
        ASSERT_NE(held.Port(), 0) << held.Error();
        const std::string port = std::to_string(held.Port());
        std::vector<std::string> args = {"--direct", "--port=" + port, "--", kHelper, "exit", "7"};
        if (c.listing) args.push_back("--gtest_list_tests");
        const Ended r = Launch(env, args);
        if (!c.held) {
            EXPECT_TRUE(r.ExitedWith(7)) << r.How();
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_TRUE(r.ExitedWith(1)) << r.How();
        EXPECT_EQ(r.out, "") << "the test must not have started";
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_NE(r.err.find("port " + port + " is held by pid " + std::to_string(getpid()) + " (" + OwnName() + ")"),
                  std::string::npos)
            << r.err;
    }
}

// This test takes the client's port for itself; the launcher gives the program it runs
// a network where that port is free, and process numbers where only it and its init
// exist. Where no namespace can be made, the same run fails at once naming this test.
TEST(IsolateTest, InsideTheNamespacesTheClientPortIsFreeWhileHeldOutside) {
    vt_test::TempEnv env;
    Listener outside("127.0.0.1", kClientPort);
    ASSERT_EQ(outside.Port(), kClientPort) << outside.Error();
    const std::string port = std::to_string(kClientPort);

    const Ended listen = Launch(env, {"--port=" + port, kHelper, "listen", port});
    if (!NamespacesPossible(env)) {
        EXPECT_TRUE(listen.ExitedWith(1)) << listen.How();
        EXPECT_NE(listen.err.find("port " + port + " is held by pid " + std::to_string(getpid())), std::string::npos)
            << listen.err;
        GTEST_SKIP() << "no namespaces can be made here: only the direct run's refusal was checked";
    }
    EXPECT_TRUE(listen.ExitedWith(0)) << listen.How();
    EXPECT_EQ(listen.out, "listened on " + port + " as pid 2\n");

    const Ended procs = Launch(env, {"--port=" + port, kHelper, "procs"});
    EXPECT_TRUE(procs.ExitedWith(0)) << procs.How();
    EXPECT_EQ(procs.out, "1 2\n") << "the launcher's init and the program, nothing else";
}

// A child the program leaves running (here one that would live a minute) is gone when
// the launcher returns: the pipe it held is closed.
TEST(IsolateTest, WhatTheProgramLeavesRunningEndsWithIt) {
    vt_test::TempEnv env;
    if (!NamespacesPossible(env)) GTEST_SKIP() << "no namespaces can be made here";
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const Ended r = Launch(env, {kHelper, "linger", "60"}, pipeFds[1]);
    close(pipeFds[1]);
    EXPECT_TRUE(r.ExitedWith(0)) << r.How();
    pollfd p = {pipeFds[0], POLLIN, 0};
    char c;
    const bool ended = poll(&p, 1, 10000) == 1 && read(pipeFds[0], &c, 1) == 0;
    close(pipeFds[0]);
    EXPECT_TRUE(ended) << "the lingering grandchild still holds the pipe";
}

// A launcher killed while its program runs (CTest's time-out kills only the launcher)
// takes the namespace with it: the program, which would wait a minute, is gone too.
TEST(IsolateTest, AKilledLauncherLeavesNothingRunning) {
    vt_test::TempEnv env;
    if (!NamespacesPossible(env)) GTEST_SKIP() << "no namespaces can be made here";
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    std::string launcher = kLauncher, helper = kHelper, hold = "hold", fd = std::to_string(pipeFds[1]),
                seconds = "60";
    char* argv[] = {&launcher[0], &helper[0], &hold[0], &fd[0], &seconds[0], nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        fcntl(pipeFds[1], F_SETFD, 0);
        execv(argv[0], argv);
        _exit(126);
    }
    close(pipeFds[1]);
    pollfd p = {pipeFds[0], POLLIN, 0};
    char c = 0;
    const bool running = poll(&p, 1, 30000) == 1 && read(pipeFds[0], &c, 1) == 1 && c == 'H';
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(running) << "the program never ran";
    const bool ended = poll(&p, 1, 10000) == 1 && read(pipeFds[0], &c, 1) == 0;
    close(pipeFds[0]);
    EXPECT_TRUE(ended) << "the program outlived its launcher";
}

// The launcher ends as the program did: its exit code, or its signal, in either way of
// running it.
TEST(IsolateTest, TheProgramsStatusComesBack) {
    vt_test::TempEnv env;
    const bool namespaces = NamespacesPossible(env);
    struct Case {
        std::vector<std::string> program;
        int code;    // expected exit code, or -1
        int signal;  // expected signal, or 0
    };
    const Case cases[] = {
        {{kHelper, "exit", "0"}, 0, 0},
        {{kHelper, "exit", "3"}, 3, 0},
        {{kHelper, "signal", std::to_string(SIGTERM)}, -1, SIGTERM},
        {{kHelper, "signal", std::to_string(SIGABRT)}, -1, SIGABRT},
        {{env.Root() + "/no-such-program"}, 127, 0},
    };
    for (bool direct : {true, false}) {
        if (!direct && !namespaces) continue;
        for (const Case& c : cases) {
            SCOPED_TRACE((direct ? "direct: " : "in namespaces: ") + c.program[0] + " " +
                         (c.program.size() > 1 ? c.program[1] : ""));
            std::vector<std::string> args;
            if (direct) args.push_back("--direct");
            args.insert(args.end(), c.program.begin(), c.program.end());
            const Ended r = Launch(env, args);
            if (c.signal != 0) {
                EXPECT_TRUE(r.status >= 0 && WIFSIGNALED(r.status) && WTERMSIG(r.status) == c.signal) << r.How();
            } else {
                EXPECT_TRUE(r.ExitedWith(c.code)) << r.How();
            }
        }
    }
    if (!namespaces) GTEST_SKIP() << "no namespaces can be made here: only direct runs were checked";
}

// A folder of this test's own in the real /tmp (not TMPDIR: what the launcher carries is
// decided by where things lie in /tmp), with that mode; removed with the object.
class TmpFolder {
public:
    TmpFolder(const char* name, mode_t mode) {
        std::string path = std::string("/tmp/vt-isolate-") + name + "-XXXXXX";
        if (mkdtemp(&path[0]) != nullptr && chmod(path.c_str(), mode) == 0) path_ = path;
    }
    ~TmpFolder() {
        if (!path_.empty()) vt_test::RemoveTree(path_);
    }
    TmpFolder(const TmpFolder&) = delete;
    TmpFolder& operator=(const TmpFolder&) = delete;

    const std::string& Path() const { return path_; }  // empty when it could not be made
    std::string Name() const { return path_.substr(5); }

private:
    std::string path_;
};

bool CopyProgram(const std::string& from, const std::string& to) {
    const std::string bytes = ReadFile(from);
    if (bytes.empty()) return false;
    const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
    const bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return fd >= 0 && close(fd) == 0 && ok;
}

// The program sees a /tmp (and a /var/lib/xkb) of its own: a folder of /tmp that it does
// not need is not there, and what it leaves in /tmp is gone with it. The folders of /tmp it runs from
// and works in, its TMPDIR, a folder its arguments name and one given with --carry are
// there at their own paths and with their own modes, also when the program lies in a
// closed folder below a name with a blank.
TEST(IsolateTest, TheProgramHasATmpOfItsOwnThatHoldsTheFoldersItNeeds) {
    vt_test::TempEnv env;
    if (!NamespacesPossible(env)) GTEST_SKIP() << "no namespaces can be made here";
    struct stat helperStat {};
    ASSERT_TRUE(stat(kHelper.c_str(), &helperStat) == 0 && S_ISREG(helperStat.st_mode) && helperStat.st_size > 0)
        << "the launcher's helper " << kHelper << " is missing or empty: build the target isolate_helper";

    TmpFolder clone("clone", 0700), tmpdir("tmpdir", 0700), named("named", 0711), carry("carry", 0750),
        other("other", 0700);
    for (const TmpFolder* f : {&clone, &tmpdir, &named, &carry, &other}) ASSERT_FALSE(f->Path().empty());
    const std::string work = clone.Path() + "/a b";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const std::string helper = work + "/helper";
    ASSERT_TRUE(CopyProgram(kHelper, helper)) << helper;
    std::ofstream(work + "/data") << "data";
    ASSERT_EQ(chmod((work + "/data").c_str(), 0640), 0);

    const Ended look =
        Launch(env,
               {"--carry=" + carry.Path() + "/", "--", "./helper", "look", work + "/data", tmpdir.Path(), named.Path(),
                carry.Path()},
               -1, work, tmpdir.Path());
    EXPECT_TRUE(look.ExitedWith(0)) << look.How();
    EXPECT_EQ(look.out, work + "/data 640\n" + tmpdir.Path() + " 700\n" + named.Path() + " 711\n" + carry.Path() +
                            " 750\n");

    // Nothing else of the real /tmp: not the folder no one named, not what others keep there.

    std::vector<std::string> inside = {clone.Name(), tmpdir.Name(), named.Name(), carry.Name()};
    std::sort(inside.begin(), inside.end());
    std::string names;
    for (const std::string& n : inside) names += (names.empty() ? "" : " ") + n;
    const Ended list = Launch(env, {"--carry=" + carry.Path(), "--", helper, "list", "/tmp", named.Path()}, -1, work,
                              tmpdir.Path());
    EXPECT_TRUE(list.ExitedWith(0)) << list.How();
    EXPECT_EQ(list.out, names + "\n");

    const Ended cwd = Launch(env, {helper, "cwd"}, -1, work);
    EXPECT_TRUE(cwd.ExitedWith(0)) << cwd.How();
    EXPECT_EQ(cwd.out, work + "\n");

    const std::string left = "/tmp/vt-isolate-left-" + std::to_string(getpid());
    const Ended write = Launch(env, {helper, "write", left}, -1, work);
    EXPECT_TRUE(write.ExitedWith(0)) << write.How();
    struct stat st {};
    EXPECT_NE(lstat(left.c_str(), &st), 0) << "what the program left in its /tmp is in the real one";
    unlink(left.c_str());

    // The X server's compiled keymaps, named by a display number that every test's server
    // takes alike, are the program's own as well.
    if (stat("/var/lib/xkb", &st) == 0 && S_ISDIR(st.st_mode)) {
        const std::string keymap = "/var/lib/xkb/vt-isolate-left-" + std::to_string(getpid());
        const Ended xkb = Launch(env, {helper, "write", keymap}, -1, work);
        EXPECT_TRUE(xkb.ExitedWith(0)) << xkb.How();
        EXPECT_NE(lstat(keymap.c_str(), &st), 0) << "what the program left in /var/lib/xkb is in the real one";
        unlink(keymap.c_str());
    }
}

}  // namespace
