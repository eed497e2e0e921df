// The client's program from the runnable tree, run as a user runs it: real processes on
// a virtual X display, each starting the simulator as its promote service, looked at
// through the window system (xdotool), their logs and their exit statuses. Every process
// the test starts, and every simulator those start, is ended when the test ends, also
// when it fails. The clients' instance folder is the real one, /tmp/VanTrelo-<uid>: the
// test runs in the launcher's namespaces, whose /tmp is the test's own.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vt_test/temp_env.h"

extern char** environ;

namespace {

const std::string kProgramDir = VT_TEST_RUNTIME_DIR;  // ends in "/"
const std::string kProgram = kProgramDir + "VanTrelo";
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;
// The product name the simulator's configuration gives: the window's title comes from
// the service, not from the program.
constexpr char kProduct[] = "Trelo Sim";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > deadline) return false;
        usleep(20 * 1000);
    }
    return true;
}

// The program's path on PATH, or the empty text.
std::string OnPath(const char* program) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    }
    return std::string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The client's instance folder: the user's, in the shared temporary folder.
std::string InstanceFolder() { return "/tmp/VanTrelo-" + std::to_string(geteuid()); }

// Whether this test runs inside the launcher's namespaces, whose /tmp is the test's own:
// process 1 is then the launcher's init. Only there may a test put things of its own in
// place of the user's instance folder.
bool TmpIsTheTestsOwn() {
    std::string init = ReadFile("/proc/1/comm");
    while (!init.empty() && init.back() == '\n') init.pop_back();
    return init == "vt_isolate";
}

// The number after "\"key\":" in a JSON text, or -1.
long JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atol(json.c_str() + at + key.size() + 3);
}

// One command on the simulator's control channel; its answer line, or "".
std::string SimControl(int port, const std::string& command) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        const std::string line = command + "\n";
        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
            char c;
            pollfd p = {fd, POLLIN, 0};
            while (poll(&p, 1, 5000) == 1 && read(fd, &c, 1) == 1 && c != '\n') answer += c;
        }
    }
    if (fd >= 0) close(fd);
    return answer;
}

// The process's program file name, or "" when it is gone.
std::string ProgramOf(pid_t pid) {
    char exe[4096] = {};
    if (readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof(exe) - 1) <= 0) return "";
    const char* slash = std::strrchr(exe, '/');
    return slash != nullptr ? slash + 1 : exe;
}

// A program started by the test with the environment given (NAME=value entries that
// replace the inherited ones; "NAME" alone removes one), its output into files. Killed
// when the object goes, if it still runs.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& outPath, const std::string& errPath) {
        std::map<std::string, std::string> vars;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            vars[entry.substr(0, entry.find('='))] = entry;
        }
        for (const std::string& entry : env) {
            const size_t eq = entry.find('=');
            if (eq == std::string::npos) {
                vars.erase(entry);
            } else {
                vars[entry.substr(0, eq)] = entry;
            }
        }
        std::vector<std::string> envText;
        for (const auto& v : vars) envText.push_back(v.second);
        std::vector<std::string> argText = argv;
        std::vector<char*> envp, args;
        for (std::string& e : envText) envp.push_back(&e[0]);
        envp.push_back(nullptr);
        for (std::string& a : argText) args.push_back(&a[0]);
        args.push_back(nullptr);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            close_range(3, ~0U, 0);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(out);
        close(err);
        close(in);
    }
    ~Process() { Kill(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running() {
        if (pid_ <= 0 || ended_) return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
        return !ended_;
    }
    // Waits for the end; true with the status when it ended in time.
    bool WaitEnd(int timeoutMs) { return WaitFor([this] { return !Running(); }, timeoutMs); }
    bool ExitedWith(int code) const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code; }
    std::string HowItEnded() const {
        if (!ended_) return "still running";
        if (WIFEXITED(status_)) return "exited with " + std::to_string(WEXITSTATUS(status_));
        return "killed by signal " + std::to_string(WTERMSIG(status_));
    }
    void Kill() {
        if (Running()) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
            ended_ = true;
        }
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

// A virtual X server on a display no one else uses (the server picks it), ended with the
// object.
class Display {
public:
    Display(const std::string& dir) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        const std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
        const std::string err = dir + "/xvfb.err";
        pid_ = fork();
        if (pid_ == 0) {
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(errFd, STDERR_FILENO);
            dup2(fds[1], 3);
            close_range(4, ~0U, 0);
            // -noreset: a server that resets when its last client goes refuses a client
            // that connects meanwhile.
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p = {fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~Display() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            if (!WaitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000)) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    const std::string& Name() const { return name_; }  // empty when the server did not come up

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Ends every process whose environment carries the marker (the simulators the clients
// started, which outlive a killed client), once the test is done with them. The test is
// their subreaper, so they are reaped here too.
class Sweeper {
public:
    explicit Sweeper(const std::string& marker) : marker_(marker) {
        (void)prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    ~Sweeper() {
        WaitFor([this] {
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            bool left = false;
            for (pid_t pid : Marked()) {
                kill(pid, SIGKILL);
                left = true;
            }
            return !left;
        }, 5000);
        (void)prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
    Sweeper(const Sweeper&) = delete;
    Sweeper& operator=(const Sweeper&) = delete;

    // Live (not yet dead) processes of this user carrying the marker.
    std::vector<pid_t> Marked() const {
        std::vector<pid_t> found;
        DIR* d = opendir("/proc");
        if (d == nullptr) return found;
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = strtol(e->d_name, &end, 10);
            if (end == e->d_name || *end != '\0' || pid == getpid()) continue;
            const std::string env = ReadFile(std::string("/proc/") + e->d_name + "/environ");
            const std::string stat = ReadFile(std::string("/proc/") + e->d_name + "/stat");
            const size_t close = stat.rfind(')');
            const bool dead = close == std::string::npos || close + 2 >= stat.size() ||
                              stat[close + 2] == 'Z' || stat[close + 2] == 'X';
            if (!dead && env.find(std::string(1, '\0') + marker_ + std::string(1, '\0')) != std::string::npos) {
                found.push_back(static_cast<pid_t>(pid));
            }
        }
        closedir(d);
        return found;
    }

private:
    std::string marker_;
};

// What a shell command prints on standard output.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof(buf), p) != nullptr) out += buf;
        pclose(p);
    }
    return out;
}

struct Window {
    std::string id;
    std::string name;
    int x = -1, y = -1, width = -1, height = -1;
};

// Everything the fixture starts lives under one temporary folder: the home and temporary
// folders of the clients (shared, as two starts of one user share them), the
// simulator's scenario, the clients' output.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        trayer_ = OnPath("trayer");
        if (OnPath("Xvfb").empty() || OnPath("xdotool").empty() || trayer_.empty()) {
            GTEST_SKIP() << "needs Xvfb, xdotool and trayer on PATH (scripts/install-deps.sh installs them)";
        }
        ASSERT_EQ(access(kProgram.c_str(), X_OK), 0) << kProgram;
        dir_ = env_.Root();
        runtime_ = dir_ + "/runtime";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
        scenario_ = dir_ + "/scenario.json";
        // The simulator ends by itself after a while, should everything else fail.
        std::ofstream(scenario_) << R"({"state":null,"promote":{"exitAfterStartMs":120000},"config":{"ProductName":")"
                                 << kProduct << R"("}})";
        // Leaks of libraries the window system's platform plugin loads are not the
        // client's: the message bus library's, the font configuration library's (Qt keeps
        // its font look-ups for the process), and the software GL driver's. The GL
        // integration loads that driver when the first window is made and unloads it
        // again; a buffer it made once is then no longer referenced. Its frames belong to
        // no module any more when the leak is reported, and the driver has no frame
        // pointers, so only a full unwind at each allocation reaches the GL library that
        // loaded it, which stays: the suppression names that one.
        std::ofstream(dir_ + "/lsan.supp") << "leak:libdbus-1.so\n"
                                           << "leak:libfontconfig.so\n"
                                           << "leak:libGLX_mesa.so\n";
        display_ = std::make_unique<Display>(dir_);
        ASSERT_FALSE(display_->Name().empty()) << ReadFile(dir_ + "/xvfb.err");
        sweeper_ = std::make_unique<Sweeper>("VANTRELO_SIM_SCENARIO=" + scenario_);
        // A tray host along the top edge, where the client's tray icon can appear.
        tray_ = std::make_unique<Process>(
            std::vector<std::string>{trayer_, "--edge", "top", "--align", "right", "--widthtype", "request",
                                     "--height", "24"},
            std::vector<std::string>{"DISPLAY=" + display_->Name()}, dir_ + "/trayer.out", dir_ + "/trayer.err");
    }
    void TearDown() override {
        clients_.clear();   // the clients first,
        sweeper_.reset();   // then the simulators they started,
        tray_.reset();      // then the tray host
        display_.reset();   // and the display.
    }

    // Starts the client from the runnable tree as a user does: in its folder, no arguments,
    // with the environment changed as given (NAME=value, or NAME alone to remove it).
    Process& StartClient(const std::vector<std::string>& changes = {}) {
        const int n = static_cast<int>(clients_.size());
        const std::string prefix = dir_ + "/client" + std::to_string(n);
        // The X platform's keyboard library copies names with strndup and their length,
        // from buffers without a terminator: legal, but the strict string check of the
        // sanitizer options counts it as an overflow. The library's, not the client's.
        const char* asan = getenv("ASAN_OPTIONS");
        const std::string asanOptions =
            "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":strict_string_checks=0";
        std::vector<std::string> env = {"DISPLAY=" + display_->Name(), "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR=" + runtime_,
                                        "VANTRELO_SIM_SCENARIO=" + scenario_, asanOptions,
                                        "LSAN_OPTIONS=suppressions=" + dir_ + "/lsan.supp:print_suppressions=0"
                                        ":fast_unwind_on_malloc=0"};
        env.insert(env.end(), changes.begin(), changes.end());
        clients_.push_back(std::make_unique<Process>(std::vector<std::string>{kProgram}, env, prefix + ".out",
                                                     prefix + ".err"));
        return *clients_.back();
    }
    std::string ClientErr(int n) const { return ReadFile(dir_ + "/client" + std::to_string(n) + ".err"); }

    // Every call is bounded: a "--sync" that waits for something the display never does
    // (a focus the window does not take yet) must fail the test, not hang it.
    std::string X(const std::string& args) const {
        return Output("DISPLAY=" + display_->Name() + " timeout -k 2 15 xdotool " + args + " 2>/dev/null");
    }
    // Gives the window the keyboard focus and waits until the display reports it there. A
    // box found the moment it was mapped may not take the focus yet, so the request is
    // repeated until it holds.
    bool Focus(const std::string& id) const {
        return WaitFor([&] {
            X("windowfocus " + id);
            std::string focused = X("getwindowfocus");
            if (!focused.empty() && focused.back() == '\n') focused.pop_back();
            return focused == id;
        }, 15000);
    }
    // The visible windows of a process.
    std::vector<Window> Windows(pid_t pid) const {
        std::vector<Window> found;
        std::stringstream ids(X("search --onlyvisible --pid " + std::to_string(pid)));
        for (std::string id; std::getline(ids, id);) {
            Window w;
            w.id = id;
            w.name = X("getwindowname " + id);
            if (!w.name.empty() && w.name.back() == '\n') w.name.pop_back();
            std::stringstream shell(X("getwindowgeometry --shell " + id));
            for (std::string line; std::getline(shell, line);) {
                const size_t eq = line.find('=');
                if (eq == std::string::npos) continue;
                const int value = atoi(line.c_str() + eq + 1);
                const std::string key = line.substr(0, eq);
                if (key == "X") w.x = value;
                if (key == "Y") w.y = value;
                if (key == "WIDTH") w.width = value;
                if (key == "HEIGHT") w.height = value;
            }
            found.push_back(w);
        }
        return found;
    }
    // The one visible window of the process with that title (waits for it to show).
    bool WaitWindow(pid_t pid, const std::string& title, Window* out, int timeoutMs = 30000) const {
        return WaitFor([&] {
            for (const Window& w : Windows(pid)) {
                if (title.empty() || w.name == title) {
                    *out = w;
                    return true;
                }
            }
            return false;
        }, timeoutMs);
    }

    // Lines of the clients' log (in the home folder given, else the test's) holding the
    // fragment.
    size_t LogCount(const std::string& fragment, const std::string& home = "") const {
        size_t n = 0;
        const std::string dir = (home.empty() ? env_.Home() : home) + "/.VanTrelo/log/";
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                std::stringstream in(ReadFile(dir + e->d_name));
                for (std::string line; std::getline(in, line);) n += line.find(fragment) != std::string::npos;
            }
            closedir(d);
        }
        return n;
    }

    // Whether something accepts connections under the client's instance name.
    bool InstanceAnswers() const {
        const std::string path = InstanceFolder() + "/VanTrelo";
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        close(fd);
        return ok;
    }
    bool InstanceNameExists() const {
        struct stat st {};
        return lstat((InstanceFolder() + "/VanTrelo").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    vt_test::TempEnv env_;
    std::string dir_, runtime_, scenario_;
    std::string trayer_;
    std::unique_ptr<Display> display_;
    std::unique_ptr<Sweeper> sweeper_;
    std::unique_ptr<Process> tray_;
    std::vector<std::unique_ptr<Process>> clients_;
};

// The first start: the service's product names the window, which is 400 x 270 and centred
// on the screen; its icon shows in the tray; the log shows the service's version and the
// finished window; the per-user configuration folder exists.
TEST_F(ProgramTest, FirstStartShowsTheCentredWindowNamedByTheService) {
    Process& first = StartClient();
    Window w;
    ASSERT_TRUE(WaitWindow(first.Pid(), kProduct, &w)) << ClientErr(0);
    // The icon is a small window of the client's, embedded in the tray host's bar.
    EXPECT_TRUE(WaitFor([&] {
        for (const Window& icon : Windows(first.Pid())) {
            if (icon.id != w.id && icon.width > 0 && icon.width <= 24 && icon.height > 0 && icon.height <= 24) {
                return true;
            }
        }
        return false;
    }, 10000)) << "no tray icon";
    EXPECT_EQ(w.width, 400);
    EXPECT_EQ(w.height, 270);
    EXPECT_EQ(w.x, (kScreenWidth - 400) / 2);
    EXPECT_EQ(w.y, (kScreenHeight - 270) / 2);
    EXPECT_EQ(LogCount("[Get VanTrelo Version][Version info:7.0.2.33]"), 1u);
    EXPECT_EQ(LogCount("[Finsh main ui init]"), 1u);
    struct stat st {};
    EXPECT_EQ(stat((env_.Home() + "/.VanTrelo/config").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(first.Running()) << first.HowItEnded() << "\n" << ClientErr(0);
    EXPECT_EQ(ClientErr(0).find("QObject::connect:"), std::string::npos) << ClientErr(0);
    EXPECT_EQ(ReadFile(dir_ + "/client0.out"), "") << "standard output belongs to a browser extension";
}

// A second start while the first runs: its box is dismissed with a key press and it ends
// with 0, before it ever connects to the service; the first runs on as it was, still
// answering under its name. After the first is killed, its name is left behind; the next
// start removes it and answers under it again.
TEST_F(ProgramTest, SecondStartIsRefusedAndAStaleNameIsTakenOver) {
    Process& first = StartClient();
    Window before;
    ASSERT_TRUE(WaitWindow(first.Pid(), kProduct, &before)) << ClientErr(0);
    ASSERT_TRUE(InstanceAnswers());
    const size_t connects = LogCount("Start Connect RPC Service");

    Process& second = StartClient();
    Window box;
    ASSERT_TRUE(WaitWindow(second.Pid(), "", &box)) << ClientErr(1);
    EXPECT_TRUE(second.Running()) << "the box waits for the user";
    ASSERT_TRUE(Focus(box.id)) << "the box never took the focus";
    X("key --clearmodifiers Return");
    ASSERT_TRUE(second.WaitEnd(20000)) << "the box was not dismissed";
    EXPECT_TRUE(second.ExitedWith(0)) << second.HowItEnded() << "\n" << ClientErr(1);
    EXPECT_EQ(LogCount("Start Connect RPC Service"), connects) << "the refused start never connects";
    EXPECT_EQ(LogCount("[ddm log init][VanTreloUI succeed") , 2u) << "the refused start logged its own start";

    EXPECT_TRUE(first.Running()) << first.HowItEnded() << "\n" << ClientErr(0);
    EXPECT_TRUE(InstanceAnswers()) << "the first still answers under its name";
    Window after;
    ASSERT_TRUE(WaitWindow(first.Pid(), kProduct, &after, 2000));
    EXPECT_EQ(after.id, before.id);
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);

    first.Kill();
    ASSERT_TRUE(InstanceNameExists()) << "a killed client leaves its name behind";
    EXPECT_FALSE(InstanceAnswers());
    Process& third = StartClient();
    Window w;
    ASSERT_TRUE(WaitWindow(third.Pid(), kProduct, &w)) << ClientErr(2);
    EXPECT_TRUE(InstanceAnswers()) << "the new start listens under the name again";
    EXPECT_TRUE(third.Running()) << third.HowItEnded();
}

// Connect on the last used SSL VPN profile: a click on the window's Connect button opens
// the login view at its fixed size, Escape removes it and brings the window back, and
// the tray menu's Exit ends the client with 0.
TEST_F(ProgramTest, ConnectOpensTheLoginViewAndTheTraysExitEndsTheClient) {
    std::ofstream(scenario_) << R"({"promote":{"exitAfterStartMs":120000},"config":{"ProductName":")"
                             << kProduct << R"(","LanguageID":1033,"LastAccessSession":"Office.ini"}})";
    Process& client = StartClient();
    Window main;
    ASSERT_TRUE(WaitWindow(client.Pid(), kProduct, &main)) << ClientErr(0);
    // The Connect button sits below the drop-down, in the middle of the window.
    X("mousemove --sync --window " + main.id + " 200 195");
    X("click 1");
    Window view;
    ASSERT_TRUE(WaitFor([&] {
        for (const Window& w : Windows(client.Pid())) {
            if (w.width == 461 && w.height == 348) {
                view = w;
                return true;
            }
        }
        return false;
    }, 20000)) << "no login view\n" << ClientErr(0);
    EXPECT_EQ(view.name, "VPN Login");
    EXPECT_EQ(LogCount("[Main ui plugin set login key ui][login key ui closed]"), 0u);

    ASSERT_TRUE(Focus(view.id)) << "the view never took the focus";
    X("key --clearmodifiers Escape");
    EXPECT_TRUE(WaitFor([&] {
        for (const Window& w : Windows(client.Pid())) {
            if (w.id == view.id) return false;
        }
        return true;
    }, 10000)) << "Escape left the view on screen";
    EXPECT_TRUE(WaitWindow(client.Pid(), kProduct, &main, 5000)) << "the window is back";
    EXPECT_EQ(LogCount("[Main ui plugin set login key ui][login key ui closed]"), 1u);

    // The tray icon's menu: its last entry is Exit.
    Window icon;
    ASSERT_TRUE(WaitFor([&] {
        for (const Window& w : Windows(client.Pid())) {
            if (w.width > 0 && w.width <= 24 && w.height > 0 && w.height <= 24) {
                icon = w;
                return true;
            }
        }
        return false;
    }, 10000)) << "no tray icon";
    X("mousemove --sync " + std::to_string(icon.x + icon.width / 2) + " " +
      std::to_string(icon.y + icon.height / 2));
    X("click 3");
    ASSERT_TRUE(WaitFor([&] {
        for (const Window& w : Windows(client.Pid())) {
            if (w.width > 64 && w.id != main.id) return true;
        }
        return false;
    }, 10000)) << "the tray menu did not open";
    X("key --clearmodifiers Up");
    X("key --clearmodifiers Return");
    ASSERT_TRUE(client.WaitEnd(20000)) << "Exit did not end the client";
    EXPECT_TRUE(client.ExitedWith(0)) << client.HowItEnded() << "\n" << ClientErr(0);
    EXPECT_EQ(LogCount("[#################UI exit!#################]"), 1u);
    EXPECT_EQ(ClientErr(0).find("QObject::connect:"), std::string::npos) << ClientErr(0);
}

// ---- One client per user, whatever the shell ------------------------------------------

// A simulator that logs alice in by itself at the client's start (her Office session
// remembers the password and logs in automatically), and can be asked and watched: its
// ports file names its pid and its control port, its request log every packet it got.
class ProgramServiceTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ports_ = dir_ + "/ports.json";
        requests_ = dir_ + "/requests.jsonl";
        std::ofstream(scenario_)
            << R"({"state":null,"controlPort":0,"portsFile":")" << ports_ << R"(","requestLog":")" << requests_
            << R"(","promote":{"exitAfterStartMs":120000},"config":{"ProductName":")" << kProduct
            << R"(","LanguageID":1033,"LastAccessSession":"Office.ini"},"profiles":[{"name":"Office.ini","linkType":1,)"
            << R"("fields":{"acDescription":"Office gateway","uiPort":443,"uiTunnelMode":2,"uiAutoBest":1,)"
            << R"("uiGatewayNum":2,"astGateway[0].acAddress":"192.0.2.10","astGateway[0].uiPort":443,)"
            << R"("astGateway[1].acAddress":"192.0.2.11","astGateway[1].uiPort":443},)"
            << R"("session":{"UserName":"alice","Password":"Passw0rd","RemPwd":1,"AutoLogin":1}}]})";
    }
    // The simulator's pid and control port once its ports file is written (-1 before).
    long SimPid() const { return JsonNumber(ReadFile(ports_), "pid"); }
    int ControlPort() const { return static_cast<int>(JsonNumber(ReadFile(ports_), "control")); }
    bool LoggedIn(const std::string& user) const {
        const std::string state = SimControl(ControlPort(), "state");
        return state.find("\"loggedIn\":true") != std::string::npos &&
               state.find("\"user\":\"" + user + "\"") != std::string::npos;
    }
    // Presses Return in the one box the process shows, and waits for its end.
    void DismissBox(Process& p, int n) {
        Window box;
        ASSERT_TRUE(WaitWindow(p.Pid(), "", &box)) << ClientErr(n);
        EXPECT_TRUE(p.Running()) << "the box waits for the user";
        ASSERT_TRUE(Focus(box.id)) << "the box never took the focus";
        X("key --clearmodifiers Return");
        ASSERT_TRUE(p.WaitEnd(20000)) << "the box was not dismissed";
    }

    std::string ports_, requests_;
};

// The environment of the first and the second start. Names in angle brackets stand for
// folders of the test's own: <A> and <B> private runtime folders, <RUN> the runtime
// folder run.sh used to make for a session without one, <T1> and <T2> temporary
// folders, <H2> a second home folder. "NAME" alone removes the variable.
struct ShellPair {
    const char* name;
    std::vector<std::string> first, second;
};

class ProgramShellTest : public ProgramServiceTest, public ::testing::WithParamInterface<ShellPair> {
protected:
    std::vector<std::string> Resolve(const std::vector<std::string>& env) {
        const std::map<std::string, std::string> folders = {
            {"<A>", dir_ + "/run-a"}, {"<B>", dir_ + "/run-b"}, {"<RUN>", env_.Home() + "/.VanTrelo/runtime"},
            {"<T1>", dir_ + "/tmp-1"}, {"<T2>", dir_ + "/tmp-2"}, {"<H2>", home2_}};
        std::vector<std::string> out;
        for (std::string entry : env) {
            for (const auto& [token, path] : folders) {
                const size_t at = entry.find(token);
                if (at != std::string::npos) entry.replace(at, token.size(), path);
            }
            out.push_back(entry);
        }
        return out;
    }
    void SetUp() override {
        ProgramServiceTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        home2_ = dir_ + "/home-2";
        for (const std::string& d : {dir_ + "/run-a", dir_ + "/run-b", env_.Home() + "/.VanTrelo",
                                     env_.Home() + "/.VanTrelo/runtime", dir_ + "/tmp-1", dir_ + "/tmp-2", home2_}) {
            ASSERT_EQ(mkdir(d.c_str(), 0700), 0) << d;
        }
    }
    std::string home2_;
};

// The same user starts the client a second time from another kind of shell: the second
// start shows its box and ends with 0 without ever connecting, and the first client's
// service runs on with the same pid and alice still logged in.
TEST_P(ProgramShellTest, SecondStartIsRefusedAndTheFirstKeepsItsServiceAndLogin) {
    Process& first = StartClient(Resolve(GetParam().first));
    ASSERT_TRUE(WaitFor([&] { return SimPid() > 0; }, 30000)) << "no service came up\n" << ClientErr(0);
    ASSERT_TRUE(WaitFor([&] { return LoggedIn("alice"); }, 60000)) << "alice was never logged in\n" << ClientErr(0);
    const long sim = SimPid();
    ASSERT_EQ(ProgramOf(static_cast<pid_t>(sim)), "VanTreloPromoteService");
    ASSERT_TRUE(InstanceAnswers());
    const size_t connects = LogCount("Start Connect RPC Service");
    const size_t requests = ReadFile(requests_).size();

    Process& second = StartClient(Resolve(GetParam().second));
    DismissBox(second, 1);
    EXPECT_TRUE(second.ExitedWith(0)) << second.HowItEnded() << "\n" << ClientErr(1);
    EXPECT_EQ(LogCount("Start Connect RPC Service") + LogCount("Start Connect RPC Service", home2_), connects)
        << "the refused start never connects";

    EXPECT_EQ(ProgramOf(static_cast<pid_t>(sim)), "VanTreloPromoteService") << "the first client's service was killed";
    EXPECT_EQ(SimPid(), sim) << "another service was started";
    EXPECT_TRUE(LoggedIn("alice")) << "the first client's login is gone";
    EXPECT_TRUE(first.Running()) << first.HowItEnded() << "\n" << ClientErr(0);
    EXPECT_TRUE(InstanceAnswers());
    // What the first client itself asked meanwhile (its event threads' requests) may add
    // to the log; a second client's connection would begin with the promote port request.
    const std::string later = ReadFile(requests_).substr(requests);
    EXPECT_EQ(later.find("\"conn\":\"promote\""), std::string::npos) << later;
}

INSTANTIATE_TEST_SUITE_P(
    Shells, ProgramShellTest,
    ::testing::Values(ShellPair{"RuntimeFolderThenNone", {"XDG_RUNTIME_DIR=<A>"}, {"XDG_RUNTIME_DIR"}},
                      ShellPair{"TwoRuntimeFolders", {"XDG_RUNTIME_DIR=<A>"}, {"XDG_RUNTIME_DIR=<B>"}},
                      ShellPair{"NoneThenRuntimeFolder", {"XDG_RUNTIME_DIR"}, {"XDG_RUNTIME_DIR=<A>"}},
                      ShellPair{"RunScriptsRuntimeThenTheSessions", {"XDG_RUNTIME_DIR=<RUN>"}, {"XDG_RUNTIME_DIR=<A>"}},
                      ShellPair{"TwoTemporaryFolders", {"TMPDIR=<T1>"}, {"TMPDIR=<T2>"}},
                      ShellPair{"TwoHomeFolders", {}, {"HOME=<H2>", "XDG_CONFIG_HOME=<H2>/.config"}}),
    [](const ::testing::TestParamInfo<ShellPair>& info) { return std::string(info.param.name); });

// Someone has put something of their own where the user's instance folder goes: the
// start shows a box, ends with -1, and never touches the running service (started here
// under the promote service's name, as a client would have started it): it keeps its
// pid and got no connection.
struct Squat {
    const char* name;
    bool needsRoot;
};

class ProgramSquatTest : public ProgramServiceTest, public ::testing::WithParamInterface<Squat> {};

TEST_P(ProgramSquatTest, StartIsRefusedWithTheFolderNamedAndNothingKilled) {
    if (!TmpIsTheTestsOwn()) GTEST_SKIP() << "needs the launcher's private /tmp: the user's own folder lies there";
    if (GetParam().needsRoot && geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    const std::string folder = InstanceFolder();
    vt_test::RemoveTree(folder);
    if (GetParam().needsRoot) {
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    } else {
        ASSERT_EQ(mkdir((dir_ + "/elsewhere").c_str(), 0700), 0);
        ASSERT_EQ(symlink((dir_ + "/elsewhere").c_str(), folder.c_str()), 0);
    }
    const std::string service = kProgramDir + "promote/VanTreloPromoteService";
    ASSERT_EQ(access(service.c_str(), X_OK), 0) << service << " is missing: build the runnable tree";
    Process sim({service}, {"VANTRELO_SIM_SCENARIO=" + scenario_}, dir_ + "/sim.out", dir_ + "/sim.err");
    ASSERT_TRUE(WaitFor([&] { return SimPid() > 0; }, 30000)) << ReadFile(dir_ + "/sim.err");

    Process& client = StartClient();
    DismissBox(client, 0);
    EXPECT_TRUE(client.ExitedWith(255)) << client.HowItEnded() << "\n" << ClientErr(0);
    EXPECT_EQ(LogCount("[Single application][instance folder refused][path:" + folder + "]"), 1u);
    EXPECT_EQ(LogCount("Start Connect RPC Service"), 0u);
    EXPECT_TRUE(sim.Running()) << "the running service was killed";
    EXPECT_EQ(SimPid(), static_cast<long>(sim.Pid()));
    EXPECT_EQ(ReadFile(requests_), "") << "the refused start reached the service";
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(S_ISLNK(st.st_mode), !GetParam().needsRoot) << "the squatter's folder is left as it was";
    vt_test::RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(Squats, ProgramSquatTest,
                         ::testing::Values(Squat{"AnotherUsersFolder", true}, Squat{"ALink", false}),
                         [](const ::testing::TestParamInfo<Squat>& info) { return std::string(info.param.name); });

// ---- run.sh -------------------------------------------------------------------------

// The live processes (in this test's process namespace) whose program file has that name.
std::vector<pid_t> ProcessesOf(const std::string& program) {
    std::vector<pid_t> found;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = strtol(e->d_name, &end, 10);
            if (end == e->d_name || *end != '\0') continue;
            const std::string stat = ReadFile(std::string("/proc/") + e->d_name + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') continue;
            if (ProgramOf(static_cast<pid_t>(pid)) == program) found.push_back(static_cast<pid_t>(pid));
        }
        closedir(d);
    }
    return found;
}

bool CopyFile(const std::string& from, const std::string& to, mode_t mode) {
    const std::string bytes = ReadFile(from);
    std::ofstream(to, std::ios::binary) << bytes;
    return !bytes.empty() && ReadFile(to) == bytes && chmod(to.c_str(), mode) == 0;
}

// run.sh without a display, as a newcomer on a headless machine runs it: the client it
// starts works in the user's home folder (where its file dialogs then open), not in the
// program's folder, and the script leaves no runtime folder of its own in the home
// folder. The script runs from a tree of the test's own that holds it and the display
// script it sources, stands-in for the dependency installer and the build (which the
// runnable tree under test has already done) and the runnable tree itself.
TEST(RunScriptTest, HeadlessRunStartsTheClientInTheHomeFolder) {
    for (const char* tool : {"Xvfb", "xdotool", "trayer", "import"}) {
        if (OnPath(tool).empty()) GTEST_SKIP() << "needs " << tool << " on PATH (scripts/install-deps.sh installs it)";
    }
    if (!TmpIsTheTestsOwn()) GTEST_SKIP() << "needs the launcher's namespaces: the client would meet the user's own";
    ASSERT_EQ(access(kProgram.c_str(), X_OK), 0) << kProgram << " is missing: build the runnable tree";
    vt_test::TempEnv env;
    const std::string dir = env.Root();
    const std::string tree = dir + "/tree with blank";
    const std::string source = std::string(VT_TEST_SOURCE_DIR) + "scripts/";
    for (const std::string& d : {tree, tree + "/scripts", tree + "/build", dir + "/stubs"}) {
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
    }
    ASSERT_TRUE(CopyFile(source + "run.sh", tree + "/scripts/run.sh", 0755)) << source << "run.sh";
    ASSERT_TRUE(CopyFile(source + "virtual-display.sh", tree + "/scripts/virtual-display.sh", 0644));
    std::ofstream(tree + "/scripts/install-deps.sh") << "#!/bin/sh\nexit 0\n";
    ASSERT_EQ(chmod((tree + "/scripts/install-deps.sh").c_str(), 0755), 0);
    std::ofstream(dir + "/stubs/cmake") << "#!/bin/sh\nexit 0\n";
    ASSERT_EQ(chmod((dir + "/stubs/cmake").c_str(), 0755), 0);
    ASSERT_EQ(symlink(kProgramDir.substr(0, kProgramDir.size() - 1).c_str(), (tree + "/build/bin").c_str()), 0);
    std::ofstream(dir + "/scenario.json") << R"({"state":null,"promote":{"exitAfterStartMs":120000}})";
    std::ofstream(dir + "/lsan.supp") << "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libGLX_mesa.so\n";
    const char* asan = getenv("ASAN_OPTIONS");
    const char* path = getenv("PATH");
    Sweeper sweeper("VT_RUN_SCRIPT_TEST=" + dir);

    Process run({"/bin/sh", tree + "/scripts/run.sh"},
                {"PATH=" + dir + "/stubs:" + (path != nullptr ? path : "/usr/bin:/bin"), "DISPLAY", "WAYLAND_DISPLAY",
                 "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM", "VT_SCREENSHOT=" + dir + "/shot.png",
                 "VANTRELO_SIM_SCENARIO=" + dir + "/scenario.json", "VT_RUN_SCRIPT_TEST=" + dir,
                 "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":strict_string_checks=0",
                 "LSAN_OPTIONS=suppressions=" + dir + "/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0"},
                dir + "/run.out", dir + "/run.err");
    ASSERT_TRUE(WaitFor([&] { return ReadFile(dir + "/run.out").find("VanTrelo runs on the virtual display") !=
                                     std::string::npos; },
                        90000))
        << run.HowItEnded() << "\n" << ReadFile(dir + "/run.out") << ReadFile(dir + "/run.err");
    const std::vector<pid_t> clients = ProcessesOf("VanTrelo");
    ASSERT_EQ(clients.size(), 1u) << ReadFile(dir + "/run.err");
    char cwd[4096] = {};
    ASSERT_GT(readlink(("/proc/" + std::to_string(clients[0]) + "/cwd").c_str(), cwd, sizeof(cwd) - 1), 0);
    char home[4096] = {};
    ASSERT_NE(realpath(env.Home().c_str(), home), nullptr);
    EXPECT_EQ(std::string(cwd), std::string(home)) << "the client works in the home folder";
    struct stat st {};
    EXPECT_EQ(stat((dir + "/shot.png").c_str(), &st), 0) << "no screenshot";
    EXPECT_NE(lstat((env.Home() + "/.VanTrelo/runtime").c_str(), &st), 0) << "run.sh made a runtime folder of its own";

    // Ctrl-C ends the client and the script.
    kill(run.Pid(), SIGINT);
    EXPECT_TRUE(run.WaitEnd(30000)) << "run.sh did not end";
    EXPECT_TRUE(run.ExitedWith(130)) << run.HowItEnded() << "\n" << ReadFile(dir + "/run.err");
    EXPECT_TRUE(WaitFor([] { return ProcessesOf("VanTrelo").empty(); }, 10000)) << "the client outlived run.sh";
}

}  // namespace
