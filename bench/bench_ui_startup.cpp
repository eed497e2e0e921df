// Times the front end's start-up in two parts, and the second beside a bare Qt program
// in the same run:
//   (i)  process start -> service connected: dominated by the connect attempts to the
//        promote service, which retry once a second while the service starts;
//   (ii) service connected -> main window shown: the configuration read, the language,
//        the main window with its connection list and tray icon;
//   peer: process start -> dialog shown, for bench_bare_dialog, a QApplication that
//        shows one 400x270 QDialog and nothing else.
//
// How each moment is observed:
//   - process start: this program reads CLOCK_REALTIME just before fork().
//   - service connected: the time stamp of the front end's log line "[Process get remote
//     port]...0x10008", the promote service's answer with the engine's port. The log
//     stamps a line with gettimeofday() when it is written and writes it with write(2),
//     so the stamp is the moment itself. What is left of the connect after that line,
//     two loopback connections to the engine and their greetings, counts in (ii).
//   - shown: this program watches the X server's root window for MapNotify and takes the
//     first map of a 400x270 top-level window whose _NET_WM_PID is the child it started,
//     reading the clock when the event arrives. One observer and one rule for both
//     programs; the clocks are the same (CLOCK_REALTIME, the log's stamps read in UTC).
//
// Platform: a private Xvfb display started here (Qt's xcb platform on both sides, no
// window manager), with trayer as tray host so the front end finds a tray as on a
// desktop. Every run gets its own fresh HOME, TMPDIR and XDG_RUNTIME_DIR below one
// temporary folder; the front end starts its service (the simulator, promote name) on
// 127.0.0.1:29191, so each run first waits until nothing listens there.
//
// Usage: bench_ui_startup [ROUNDS]   (default 10, after one warm-up round of each)
// Rounds alternate which program starts first. Prints median and range of each part
// and the ratio of (ii) to the bare dialog.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "bench_home.h"

#ifndef BENCH_APP_DIR
#error "BENCH_APP_DIR must name the runnable tree that holds VanTrelo"
#endif
#ifndef BENCH_BARE_DIALOG
#error "BENCH_BARE_DIALOG must name the bare dialog program"
#endif

namespace {

constexpr int kPromotePort = 29191;
constexpr int kWidth = 400;
constexpr int kHeight = 270;
constexpr double kShowTimeoutMs = 30000;

std::atomic<pid_t> g_child{0};
std::atomic<pid_t> g_xvfb{0};
std::atomic<pid_t> g_trayer{0};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_ui_startup: %s\n", what.c_str());
    const pid_t child = g_child.load();
    if (child > 0) (void)kill(-child, SIGKILL);
    if (g_trayer.load() > 0) (void)kill(g_trayer.load(), SIGTERM);
    if (g_xvfb.load() > 0) (void)kill(g_xvfb.load(), SIGTERM);
    std::exit(1);
}

// Ctrl-C must not leave a front end, its service or the display behind: the front end
// runs in a process group of its own, which the terminal's signal does not reach.
void OnSignal(int sig) {
    const pid_t child = g_child.load();
    if (child > 0) (void)kill(-child, SIGKILL);
    if (g_trayer.load() > 0) (void)kill(g_trayer.load(), SIGTERM);
    if (g_xvfb.load() > 0) (void)kill(g_xvfb.load(), SIGTERM);
    (void)signal(sig, SIG_DFL);
    (void)raise(sig);
}

double NowMs() {
    timespec ts{};
    (void)clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void SleepMs(int ms) {
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Starts a helper program (Xvfb, trayer) with its output discarded; it ends with us.
pid_t StartHelper(const std::vector<std::string>& args, int keepFd) {
    const pid_t pid = fork();
    if (pid < 0) Fail("fork failed");
    if (pid == 0) {
        (void)prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        (void)dup2(null, STDIN_FILENO);
        (void)dup2(null, STDOUT_FILENO);
        (void)dup2(null, STDERR_FILENO);
        if (keepFd >= 0) (void)fcntl(keepFd, F_SETFD, 0);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        (void)execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Xvfb picks a free display number itself and writes it to the pipe.
std::string StartXvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) Fail("pipe failed");
    g_xvfb = StartHelper({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                          "1280x800x24", "-nolisten", "tcp"},
                         fds[1]);
    (void)close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    (void)close(fds[0]);
    if (number.empty()) Fail("Xvfb did not start (is it installed?)");
    return ":" + number;
}

bool PortListening(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    (void)close(fd);
    return up;
}

void WaitPortFree() {
    for (int i = 0; PortListening(kPromotePort); ++i) {
        if (i == 600) {
            Fail("127.0.0.1:29191 stays taken (ss -ltnp | grep 29191 shows by whom)");
        }
        SleepMs(100);
    }
}

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

class Observer {
public:
    explicit Observer(const std::string& display) {
        dpy_ = XOpenDisplay(display.c_str());
        if (dpy_ == nullptr) Fail("cannot open the display " + display);
        (void)XSetErrorHandler(IgnoreXErrors);
        (void)XSelectInput(dpy_, DefaultRootWindow(dpy_), SubstructureNotifyMask);
        pidAtom_ = XInternAtom(dpy_, "_NET_WM_PID", False);
        (void)XSync(dpy_, False);
    }
    ~Observer() { (void)XCloseDisplay(dpy_); }

    // Forgets the maps seen so far.
    void Drain() {
        (void)XSync(dpy_, False);
        while (XPending(dpy_) > 0) {
            XEvent ev;
            (void)XNextEvent(dpy_, &ev);
        }
    }

    // Waits for any top-level map (the tray host's panel). False on time-out.
    bool WaitAnyMap(double timeoutMs) {
        return WaitMap([](Window) { return true; }, timeoutMs, 0) > 0;
    }

    // The time of the first map of a 400x270 window of process pid, or -1 when the
    // process ends or the time-out passes first.
    double WaitWindowOf(pid_t pid) {
        return WaitMap([&](Window w) { return Matches(w, pid); }, kShowTimeoutMs, pid);
    }

private:
    bool Matches(Window w, pid_t pid) {
        XWindowAttributes at{};
        if (XGetWindowAttributes(dpy_, w, &at) == 0) return false;
        if (at.width != kWidth || at.height != kHeight || at.override_redirect) return false;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool same = false;
        if (XGetWindowProperty(dpy_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr && format == 32 && count == 1) {
            same = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
        }
        if (data != nullptr) (void)XFree(data);
        return same;
    }

    template <typename Accept>
    double WaitMap(Accept accept, double timeoutMs, pid_t pid) {
        const double end = NowMs() + timeoutMs;
        for (;;) {
            while (XPending(dpy_) > 0) {
                XEvent ev;
                (void)XNextEvent(dpy_, &ev);
                if (ev.type == MapNotify && !ev.xmap.override_redirect) {
                    const double at = NowMs();
                    if (accept(ev.xmap.window)) return at;
                }
            }
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) return -1;
            const double left = end - NowMs();
            if (left <= 0) return -1;
            pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
            (void)poll(&p, 1, static_cast<int>(std::min(left, 100.0)) + 1);
        }
    }

    Display* dpy_ = nullptr;
    Atom pidAtom_ = None;
};

// Ends a started program and everything in its process group (the front end's service),
// and reaps them: this process is their subreaper, so the service, orphaned when the
// front end goes first, is reaped here too.
void StopGroup(pid_t pid) {
    (void)kill(-pid, SIGTERM);
    const double end = NowMs() + 5000;
    for (;;) {
        const pid_t r = waitpid(-pid, nullptr, WNOHANG);
        if (r < 0 && errno == ECHILD) break;
        if (r == 0) {
            if (NowMs() > end) (void)kill(-pid, SIGKILL);
            SleepMs(10);
        }
    }
    g_child = 0;
}

struct RunEnv {
    std::string home;
};

// A fresh home, temporary and runtime folder for one run.
RunEnv PrepareEnv(const std::string& top, int serial) {
    RunEnv env;
    env.home = top + "/run-" + std::to_string(serial);
    const std::string tmp = env.home + "/tmp";
    const std::string runtime = env.home + "/runtime";
    for (const std::string& d : {env.home, tmp, runtime}) {
        if (mkdir(d.c_str(), 0700) != 0) Fail("cannot make " + d);
    }
    setenv("HOME", env.home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (env.home + "/.config").c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    return env;
}

pid_t Launch(const char* dir, const char* program) {
    const pid_t pid = fork();
    if (pid < 0) Fail("fork failed");
    if (pid == 0) {
        (void)setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        (void)dup2(null, STDIN_FILENO);
        (void)dup2(null, STDOUT_FILENO);
        (void)dup2(null, STDERR_FILENO);
        if (chdir(dir) != 0) _exit(126);
        (void)execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    (void)setpgid(pid, pid);
    g_child = pid;
    return pid;
}

// The stamp of the first log line holding every one of the marks, in ms since the epoch
// (the front end runs with TZ=UTC0), or -1.
double LogStamp(const std::string& home, std::initializer_list<const char*> marks) {
    static const std::regex kStamp(R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{6}))");
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(home + "/.VanTrelo/log", ec)) {
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            bool all = true;
            for (const char* m : marks) all = all && line.find(m) != std::string::npos;
            std::smatch m;
            if (!all || !std::regex_search(line, m, kStamp)) continue;
            tm t{};
            t.tm_year = std::stoi(m[1]) - 1900;
            t.tm_mon = std::stoi(m[2]) - 1;
            t.tm_mday = std::stoi(m[3]);
            t.tm_hour = std::stoi(m[4]);
            t.tm_min = std::stoi(m[5]);
            t.tm_sec = std::stoi(m[6]);
            return static_cast<double>(timegm(&t)) * 1e3 + std::stod(m[7]) / 1e3;
        }
    }
    return -1;
}

struct FrontEndRun {
    double connected;  // (i)
    double shown;      // (ii)
    double initDone;   // service connected -> "[Finsh main ui init]", part of (ii)
};

FrontEndRun RunFrontEnd(Observer& obs, const std::string& top, int serial) {
    const RunEnv env = PrepareEnv(top, serial);
    WaitPortFree();
    obs.Drain();
    const double start = NowMs();
    const pid_t pid = Launch(BENCH_APP_DIR, "./VanTrelo");
    const double shown = obs.WaitWindowOf(pid);
    StopGroup(pid);
    if (shown < 0) Fail("the front end's main window did not show; its log is in " + env.home);
    const double connected =
        LogStamp(env.home, {"[Process get remote port]", "message code is 0x10008"});
    const double initDone = LogStamp(env.home, {"[Finsh main ui init]"});
    if (connected < 0 || initDone < 0) Fail("the front end's log lacks its marks: " + env.home);
    return {connected - start, shown - connected, initDone - connected};
}

double RunBare(Observer& obs, const std::string& top, int serial) {
    (void)PrepareEnv(top, serial);
    obs.Drain();
    const double start = NowMs();
    const pid_t pid = Launch(".", BENCH_BARE_DIALOG);
    const double shown = obs.WaitWindowOf(pid);
    StopGroup(pid);
    if (shown < 0) Fail("the bare dialog did not show");
    return shown - start;
}

struct Summary {
    double median, min, max;
};

Summary Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

void Print(const char* what, const Summary& s) {
    std::printf("%-50s median %7.1f ms   range %7.1f .. %7.1f ms\n", what, s.median, s.min,
                s.max);
}

struct Figures {
    std::vector<double> connected, shown, initDone, bare;
};

// The tray host, then the rounds. The observer's connection to the display ends here,
// before its server does.
Figures Measure(const std::string& display, const std::string& top, int rounds) {
    Observer obs(display);
    g_trayer = StartHelper({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                            "request", "--height", "24", "--transparent", "false"},
                           -1);
    if (!obs.WaitAnyMap(10000)) Fail("trayer did not show its panel (is it installed?)");

    Figures f;
    int serial = 0;
    for (int round = -1; round < rounds; ++round) {
        FrontEndRun fe{};
        double bare = 0;
        if (round % 2 == 0) {
            fe = RunFrontEnd(obs, top, serial++);
            bare = RunBare(obs, top, serial++);
        } else {
            bare = RunBare(obs, top, serial++);
            fe = RunFrontEnd(obs, top, serial++);
        }
        if (round < 0) continue;  // warm-up: caches, fonts, the loader
        f.connected.push_back(fe.connected);
        f.shown.push_back(fe.shown);
        f.initDone.push_back(fe.initDone);
        f.bare.push_back(bare);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: bench_ui_startup [ROUNDS]\n");
        return 2;
    }
    const std::string top = BenchHomeMake("bench-ui-startup");
    if (top.empty()) return 1;
    (void)signal(SIGINT, OnSignal);
    (void)signal(SIGTERM, OnSignal);
    (void)prctl(PR_SET_CHILD_SUBREAPER, 1);

    // The log's stamps are local time: UTC makes them plain to read back.
    setenv("TZ", "UTC0", 1);
    tzset();
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("VANTRELO_SIM_SCENARIO");  // the simulator's default service

    const std::string display = StartXvfb();
    setenv("DISPLAY", display.c_str(), 1);
    const Figures f = Measure(display, top, rounds);

    (void)kill(g_trayer.load(), SIGTERM);
    (void)kill(g_xvfb.load(), SIGTERM);
    while (wait(nullptr) > 0 || errno == EINTR) {
    }
    std::error_code ec;
    std::filesystem::remove_all(top, ec);

    std::printf("front end start-up on Xvfb %s (xcb), %d rounds after a warm-up round\n",
                display.c_str(), rounds);
    Print("(i)  process start -> service connected", Summarise(f.connected));
    Print("(ii) service connected -> main window shown", Summarise(f.shown));
    Print("     of which: connected -> main window built", Summarise(f.initDone));
    const Summary bare = Summarise(f.bare);
    Print("bare Qt: process start -> 400x270 dialog shown", bare);
    std::printf("ratio (ii) / bare dialog, medians: %.2f\n", Summarise(f.shown).median / bare.median);
    return 0;
}
