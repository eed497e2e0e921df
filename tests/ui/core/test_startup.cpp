// The start function run in-process, each run in a child of its own (it builds its own
// application object and may end the process) under a private HOME and TMPDIR, with the
// language files beside the test program as they lie beside the client.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QPushButton>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "frontendmain.h"
#include "languagesetting.h"
#include "mainui.h"
#include "singleapplication_inner.h"
#include "startup.h"
#include "ui_connect.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"
#include "vt_qt_test/start_loop.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

extern char** environ;

namespace {

using ui_test::ClientLogCount;
using ui_test::InLoop;
using ui_test::StartedWindow;
using ui_test::StartUp;

// The test user's instance folder in the shared temporary folder given.
std::string InstanceFolder(const std::string& shared) { return shared + "/VanTrelo-" + std::to_string(geteuid()); }

// A local server under the test program's name in the user's instance folder below the
// shared temporary folder given: what a running instance leaves listening. Kept open by
// the caller.
int ListenAsRunningInstance(const std::string& shared) {
    const std::string folder = InstanceFolder(shared);
    if (mkdir(folder.c_str(), 0700) != 0) ADD_FAILURE() << "no instance folder " << folder;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = folder + "/ui_startup";
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 8) != 0) {
        ADD_FAILURE() << "no listener at " << path;
    }
    return fd;
}

struct Refusal {
    const char* what;
    const char* program;  // argv[0], UTF-8
    const char* key;      // the box's text
    int status;
};

// Both refusals come before any connection to the service; the path's is first, so it
// comes even while another instance runs. Kana, Hangul, full-width forms and
// ideographs outside U+4E00..U+9FA5 are no Chinese path.
TEST(StartFunction, PathAndSecondInstanceRefusalsWithTheirStatuses) {
    const Refusal cases[] = {
        {"Chinese folder", "/opt/\xE4\xB8\xAD\xE6\x96\x87/VanTrelo", "/UI_MAIN/UI_MAIN_CN_DIR", -1},
        {"last ideograph of the range", "/opt/\xE9\xBE\xA5/VanTrelo", "/UI_MAIN/UI_MAIN_CN_DIR", -1},
        {"kana and Hangul", "/opt/\xE3\x81\x8B\xE3\x81\xAA/\xED\x95\x9C/VanTrelo",
         "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
        {"full-width letters, an ideograph past the range", "/opt/\xEF\xBC\xA1/\xE9\xBE\xA6/VanTrelo",
         "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
        {"plain path", "/opt/app/VanTrelo", "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        vt_test::TempEnv env;
        ASSERT_EQ(mkdir((env.Home() + "/.VanTrelo").c_str(), 0700), 0);
        const int running = ListenAsRunningInstance(env.Root());
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            singleApplicationSharedTempFolderSet(env.Root().c_str());
            vt_qt_test::BoxDriver driver;
            driver.ArmForNextApplication();
            driver.Answer(vt_qt_test::BoxDriver::kEscape);
            std::string program = c.program;
            char* argv[] = {&program[0], nullptr};
            int argc = 1;
            const int status = FrontEnd_Main(argc, argv);
            EXPECT_EQ(status, c.status);
            const QString text = LanguageSetting::GetInstance()->GetValue(QString::fromUtf8(c.key));
            EXPECT_FALSE(text.isEmpty()) << "the language files lie beside the test program";
            EXPECT_EQ(driver.Seen().size(), 1u);
            if (!driver.Seen().empty()) {
                EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString());
                EXPECT_EQ(driver.Seen()[0].icon, 2) << "a warning box";
            }
            return status & 0xFF;
        });
        EXPECT_TRUE(vt_test::ExitedWith(r, c.status & 0xFF));
        close(running);
    }
}

// Without the promote service program beside the client nothing answers on the
// service's port: the user is told the service did not answer, and the start ends.
TEST(StartFunction, MissingServiceProgramGivesTheNoAnswerBoxAndMinusOne) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        uiPromoteKillScopeSet(getpid());  // the kill by name reaches nothing of others
        uiConnectRetrySleepSet([](uint32_t) {});
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        driver.Answer(vt_qt_test::BoxDriver::kEscape);
        std::string program = "/opt/app/VanTrelo";
        char* argv[] = {&program[0], nullptr};
        int argc = 1;
        const int status = FrontEnd_Main(argc, argv);
        EXPECT_EQ(status, -1);
        const QString text = LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR;
        EXPECT_FALSE(text.isEmpty());
        EXPECT_EQ(driver.Seen().size(), 1u);
        if (!driver.Seen().empty()) {
            EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString());
        }
        EXPECT_EQ(ClientLogCount("[UI and RPC connection failed!]"), 1u);
        return status & 0xFF;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 255));
}

// ---- Starts against a simulator on the service's port ------------------------------------
// The test program's folder holds no promote program, so the start's own attempt to run
// one fails (logged) and it connects to whatever answers on the service's fixed port: a
// simulator the test started there.

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The start function as the program runs it, with the connect retries shortened, the
// kill by name kept to this child's own processes and the plugin listener on a free port.
int Start(const std::vector<std::string>& args) {
    uiPromoteKillScopeSet(getpid());
    uiConnectRetrySleepSet([](uint32_t) { usleep(20 * 1000); });
    uiPluginBindSet(ui_test::BindAnyPort);
    std::vector<std::string> store = {"/opt/app/VanTrelo"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(store.size());
    return FrontEnd_Main(argc, argv.data());
}

// The child's status once its step has seen the start reach its event loop.
constexpr int kReachedLoop = 42;
// The child's status when the exit path was taken but a box was shown on the way.
constexpr int kBoxOnTheWay = 9;

constexpr char kExitLine[] = "[#################UI exit!#################]";
const std::vector<std::string> kPluginArgs = {"-p", "/usr/lib/browser", "gw.lan:443", "-nu", "1",
                                              "NoProxy"};

// An instance folder that is not the user's own (someone else's, or a link) ends the start
// with -1 after a box that names it, before the service connection, whose start would
// kill the running service: the service's port never sees a connection.
TEST(StartFunction, InstanceFolderNotTheUsersOwnIsNamedInABoxBeforeAnyConnection) {
    const uid_t other = 65534;  // a user id that owns nothing of the test's
    const struct {
        const char* what;
        bool needsRoot;
        std::function<bool(const std::string& folder, const std::string& root)> make;
    } cases[] = {
        {"a link to a private folder of the user's", false,
         [](const std::string& folder, const std::string& root) {
             return mkdir((root + "/target").c_str(), 0700) == 0 &&
                    symlink((root + "/target").c_str(), folder.c_str()) == 0;
         }},
        {"another user's folder", true,
         [&](const std::string& folder, const std::string&) {
             return mkdir(folder.c_str(), 0700) == 0 && chown(folder.c_str(), other, other) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) {
            std::cerr << "[ skipped  ] " << c.what << ": giving a folder to another user needs root\n";
            continue;
        }
        vt_test::TempEnv env;
        const std::string folder = InstanceFolder(env.Root());
        ASSERT_TRUE(c.make(folder, env.Root()));
        ui_test::Sim sim("", "", RPC_SERVICE_PORT);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            singleApplicationSharedTempFolderSet(env.Root().c_str());
            vt_qt_test::BoxDriver driver;
            driver.ArmForNextApplication();
            driver.Answer(vt_qt_test::BoxDriver::kEscape);
            const int status = Start({});
            EXPECT_EQ(status, -1);
            const QString text = LanguageSetting::GetInstance()->GetValue("/UI_MAIN/UI_MAIN_INSTANCE_DIR_REFUSED");
            EXPECT_FALSE(text.isEmpty());
            EXPECT_EQ(driver.Seen().size(), 1u);
            if (!driver.Seen().empty()) {
                EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString() + "\n\n" + folder);
                EXPECT_EQ(driver.Seen()[0].icon, 2) << "a warning box";
            }
            EXPECT_EQ(ClientLogCount("[Single application][instance folder refused][path:" + folder + "]"), 1u);
            EXPECT_EQ(ClientLogCount("[UI and RPC connection failed!]"), 0u);
            return status & 0xFF;
        }, 60000);
        EXPECT_TRUE(vt_test::ExitedWith(r, 255));
        EXPECT_TRUE(sim.Log().empty()) << "the refused start reached the service";
    }
}

// The service refuses the engine's port with a code: the user reads that code's text
// and the start ends.
TEST(StartFunction, RefusedEnginePortGivesTheCodesTextAndMinusOne) {
    ui_test::Sim sim("", R"("portReply":{"code":"0x10007"})", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        driver.Answer(vt_qt_test::BoxDriver::kEscape);
        const int status = Start({});
        EXPECT_EQ(status, -1);
        const QString text =
            LanguageSetting::GetInstance()->GetValue("/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_UI_EXIST");
        EXPECT_FALSE(text.isEmpty());
        EXPECT_EQ(driver.Seen().size(), 1u);
        if (!driver.Seen().empty()) {
            EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString());
            EXPECT_EQ(driver.Seen()[0].icon, 2) << "a warning box";
        }
        EXPECT_EQ(ClientLogCount("[UI and RPC connection failed!]"), 1u);
        return status & 0xFF;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 255));
}

// A browser plugin that leaves out the proxy: the judgement refuses the start by its log
// line only (no box) and the start ends with -1.
TEST(StartFunction, PluginStartWithFourValuesEndsWithMinusOne) {
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        driver.ArmForNextApplication();
        const int status = Start({"-p", "/usr/lib/browser", "gw.lan:443", "-nu", "1"});
        EXPECT_EQ(status, -1);
        EXPECT_EQ(ClientLogCount("[plugin][Proxy Addr][reason:invalid param]"), 1u);
        EXPECT_EQ(ClientLogCount("[Judge client mode failed!]"), 1u);
        EXPECT_EQ(ClientLogCount("[Finsh main ui init]"), 0u);
        EXPECT_TRUE(driver.Seen().empty());
        return status & 0xFF;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 255));
}

// Started by a browser extension, the client tells it once that it is ready: one frame
// (length in the machine's byte order, then the JSON) on standard output, written
// through at once, and nothing else there while it runs.
TEST(StartFunction, NativeMessagingStartWritesExactlyOneFrame) {
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        driver.ArmForNextApplication();
        // Ended in its running loop a moment after it came up, without the exit path,
        // whose goodbye would be a second frame. No buffer is flushed on the way out: what
        // the extension would not have received by now is missing here too.
        InLoop([] {
            static int ticks = 0;
            if (!StartUp() || ++ticks < 10) return false;
            _exit(kReachedLoop);
        });
        (void)Start({"chrome-extension://abcdefghijklmnop/"});
        return 7;  // the start ended
    }, 60000);
    close(out[1]);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof(buf))) > 0) got.append(buf, static_cast<size_t>(n));
    close(out[0]);
    EXPECT_TRUE(vt_test::ExitedWith(r, kReachedLoop));
    const std::string json =
        R"({"PluginRecv":{"msgType":0,"cFlag":0,"LangMode":0,"cTip":"init success"}})";
    const uint32_t len = static_cast<uint32_t>(json.size());
    std::string frame(reinterpret_cast<const char*>(&len), 4);
    EXPECT_EQ(got, frame + json);
}

// The service ends a running client: a packet of a module the client does not serve, or
// the closed connection, takes the exit path once, with status 0 and no box.
TEST(StartFunction, ServiceEndsTheRunningClientOnceWithStatusZero) {
    struct Ending {
        const char* what;
        const char* command;  // to the simulator's control channel
    } cases[] = {
        {"a packet of module 0", "event async 0x5"},
        {"the closed connection", "close async"},
    };
    for (const Ending& c : cases) {
        SCOPED_TRACE(c.what);
        ui_test::Sim sim("", "", RPC_SERVICE_PORT);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            driver.ArmForNextApplication();
            on_exit([](int status, void* d) {
                _exit(static_cast<vt_qt_test::BoxDriver*>(d)->Seen().empty() ? status : kBoxOnTheWay);
            }, &driver);
            InLoop([&] {
                if (!StartUp()) return false;
                const std::string answer = sim.Control(c.command);
                EXPECT_EQ(answer.compare(0, 2, "OK"), 0) << answer;
                return true;
            });
            (void)Start({});
            return 7;  // the start returned: the exit path did not end the process
        }, 60000);
        EXPECT_TRUE(vt_test::ExitedWith(r, 0));
        EXPECT_EQ(ClientLogCount("[Start main ui destructor]"), 1u);
        EXPECT_EQ(ClientLogCount(kExitLine), 1u);
    }
}

// The time stamps of the client's log lines that hold the fragment, in order, in
// microseconds.
std::vector<int64_t> ClientLogTimesUs(const std::string& fragment) {
    const std::string dir = std::string(getenv("HOME")) + "/.VanTrelo/log/";
    std::vector<int64_t> times;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).find("VanTreloUI") == std::string::npos) continue;
            std::ifstream in(dir + e->d_name);
            for (std::string line; std::getline(in, line);) {
                if (line.find(fragment) != std::string::npos) times.push_back(ui_test::LogLineTimeUs(line));
            }
        }
        closedir(d);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Two forced logouts the service pushes together: each logs out at the service, shows
// its box and leaves the window idle, one at least a second after the other; the tray's
// Exit then ends the idle client with status 0 and sends no further logout.
TEST(StartFunction, ForcedLogoutsPushedTogetherAreHandledASecondApart) {
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    vt_qt_test::BoxDriver driver;
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        driver.ArmForNextApplication();
        on_exit([](int status, void* d) {
            _exit(static_cast<vt_qt_test::BoxDriver*>(d)->Seen().size() == 2 ? status : kBoxOnTheWay);
        }, &driver);
        InLoop([&] {
            static bool pushed = false;
            if (!pushed) {
                if (!StartUp()) return false;
                // The service's configuration chose the language of the boxes.
                driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
                driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
                UIContext::GetInstance()->SetLogined(true);
                EXPECT_EQ(sim.Control("event async 0xB0000").compare(0, 2, "OK"), 0);
                EXPECT_EQ(sim.Control("event async 0xB0000").compare(0, 2, "OK"), 0);
                pushed = true;
                return false;
            }
            if (driver.Seen().size() < 2 || !StartUp()) return false;
            const QString text = LanguageSetting::GetInstance()->GetValue("/UI_MAIN/UI_MAIN_OFFLINE_FORCED");
            for (const vt_qt_test::SeenBox& box : driver.Seen()) {
                EXPECT_EQ(box.text.toStdString(), text.toStdString());
            }
            MainUI* window = StartedWindow();
            EXPECT_TRUE(window->isVisible());
            EXPECT_TRUE(window->findChild<QPushButton*>("pb_connect")->isVisible());
            EXPECT_FALSE(window->findChild<QPushButton*>("pb_disConnect")->isVisible());
            EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
            // The tray's Exit.
            QMetaObject::invokeMethod(window, "MainUI_SysTrayIcon_ExitMain_Pre");
            return true;
        });
        (void)Start({});
        return 7;  // the start returned: the exit path did not end the process
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
    EXPECT_EQ(ClientLogCount("[Main ui received urgent logout message]"), 2u);
    // Measured where the event thread takes each event, before it hands it to the window:
    // the window's own pace (a logout's round trip, a box) cannot shorten the gap there.
    const std::vector<int64_t> taken = ClientLogTimesUs("[Urgent thread run][message type is 1]");
    ASSERT_EQ(taken.size(), 2u);
    ASSERT_GE(taken[0], 0);
    EXPECT_GE(taken[1] - taken[0], 900 * 1000) << "the event thread rests a second after each event";
    size_t logouts = 0;
    for (const rapidjson::Document& line : sim.Log()) {
        logouts += line["head"]["msgType"].GetUint() == 3 && line["head"]["code"].GetUint() == 8;
    }
    EXPECT_EQ(logouts, 2u) << "one SSL logout per event, none on the way out";
    EXPECT_EQ(ClientLogCount(kExitLine), 1u);
}

// A browser-driven client is started and ended a hundred times, three at a time, through
// the tray's Exit, a forced logout and the lost service connection in turn (the last two
// posted where the link's receive task posts them): each time the process has ended
// within two seconds of the exit's trigger, with status 0 and its plugin thread, which
// was waiting for the browser, cancelled. Each start is a program of its own (the start
// function with the test's shortened retries), so that a cycle costs what a real start
// costs.
TEST(StartFunction, HundredPluginStartsEachEndWithinTwoSecondsOfTheirExit) {
    constexpr int kCycles = 100;
    // Starts run side by side, as many as there are processors, up to three.
    const int kLanes = static_cast<int>(std::max(1u, std::min(3u, std::thread::hardware_concurrency())));
    struct stat probe {};
    ASSERT_TRUE(stat(UI_TEST_START_PROBE, &probe) == 0 && S_ISREG(probe.st_mode) && probe.st_size > 0)
        << "the start probe " << UI_TEST_START_PROBE << " is missing or empty: build the target start_probe";
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const char* roads[] = {"exit", "logout", "lost"};

    // Each cycle's folder: its home with the log, its temporary folder, which also stands
    // for the shared one that holds the instance folder, and the trigger's time.
    const std::string root = sim.Dir() + "/cycles";
    ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
    auto home = [&](int cycle) { return root + "/" + std::to_string(cycle); };

    struct Running {
        pid_t pid;
        int cycle;
        int64_t deadline;
    };
    std::vector<Running> running;
    // A failed assertion leaves no child of this test behind.
    struct Reaper {
        std::vector<Running>& left;
        ~Reaper() {
            for (const Running& r : left) {
                kill(r.pid, SIGKILL);
                waitpid(r.pid, nullptr, 0);
            }
        }
    } reaper{running};

    int next = 0;
    int64_t slowest = 0;
    const int64_t began = NowMs();
    while (next < kCycles || !running.empty()) {
        while (next < kCycles && static_cast<int>(running.size()) < kLanes) {
            const int cycle = next++;
            const std::string dir = home(cycle);
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
            ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0700), 0);
            // Everything the child needs is made before the fork.
            std::vector<std::string> envText = {"HOME=" + dir, "XDG_CONFIG_HOME=" + dir,
                                                "TMPDIR=" + dir + "/tmp", "XDG_RUNTIME_DIR=" + dir + "/tmp"};
            for (char** e = environ; *e != nullptr; ++e) {
                const std::string var = *e;
                if (var.rfind("HOME=", 0) != 0 && var.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                    var.rfind("TMPDIR=", 0) != 0 && var.rfind("XDG_RUNTIME_DIR=", 0) != 0) {
                    envText.push_back(var);
                }
            }
            std::vector<std::string> argText = {UI_TEST_START_PROBE, roads[cycle % 3], dir + "/triggered",
                                                dir + "/tmp"};
            argText.insert(argText.end(), kPluginArgs.begin(), kPluginArgs.end());
            std::vector<char*> envp, argv;
            for (std::string& e : envText) envp.push_back(&e[0]);
            envp.push_back(nullptr);
            for (std::string& a : argText) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            // Its notes go to a file of its own, read when the cycle is judged.
            const int errFd = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ASSERT_GE(errFd, 0);
            const pid_t pid = fork();
            if (pid == 0) {
                dup2(errFd, STDERR_FILENO);
                close_range(3, ~0U, 0);
                execve(argv[0], argv.data(), envp.data());
                _exit(127);
            }
            close(errFd);
            ASSERT_GE(pid, 0);
            running.push_back({pid, cycle, NowMs() + 30000});
        }
        usleep(5 * 1000);
        for (auto it = running.begin(); it != running.end();) {
            int status = 0;
            const pid_t done = waitpid(it->pid, &status, WNOHANG);
            const int64_t now = NowMs();
            if (done == 0 && now < it->deadline) {
                ++it;
                continue;
            }
            const int cycle = it->cycle;
            SCOPED_TRACE("cycle " + std::to_string(cycle) + ", road " + roads[cycle % 3]);
            if (done == 0) {
                kill(it->pid, SIGKILL);
                waitpid(it->pid, &status, 0);
                ADD_FAILURE() << "ran past its time limit";
            } else {
                // 7: the start returned; 20: not in plugin mode; 21: the plugin thread ran on.
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    << (WIFEXITED(status) ? "exited with " + std::to_string(WEXITSTATUS(status))
                                          : "killed by signal " + std::to_string(WTERMSIG(status)))
                    << ", its standard error:\n"
                    << std::string(std::istreambuf_iterator<char>(std::ifstream(home(cycle) + "/stderr").rdbuf()), {});
            }
            long long at = 0;
            std::ifstream(home(cycle) + "/triggered") >> at;
            EXPECT_NE(at, 0) << "the exit was never triggered";
            if (at != 0) {
                EXPECT_LE(now - at, 2000);
                slowest = std::max<int64_t>(slowest, now - at);
            }
            EXPECT_EQ(ClientLogCount(kExitLine, home(cycle)), 1u);
            // No connection the client makes by name fails; the offscreen platform's lack of
            // the tray signal is Qt's own.
            std::ifstream err(home(cycle) + "/stderr");
            for (std::string line; std::getline(err, line);) {
                EXPECT_TRUE(line.rfind("QObject::connect:", 0) != 0 ||
                            line.find("systemTrayWindowChanged") != std::string::npos)
                    << line;
            }
            it = running.erase(it);
        }
    }
    std::cerr << "[ cycles   ] " << kCycles << " starts and exits in " << NowMs() - began
              << " ms, slowest exit " << slowest << " ms\n";
}

// The per-user folders: made when missing, and an existing ".VanTrelo" left as it is.
TEST(CreateUserDir, MakesBothFoldersOnlyWhenTheMainOneIsMissing) {
    {
        vt_test::TempEnv env;
        CreateUserDir();
        struct stat st {};
        ASSERT_EQ(stat((env.Home() + "/.VanTrelo/config").c_str(), &st), 0);
        ASSERT_EQ(stat((env.Home() + "/.VanTrelo").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    {
        vt_test::TempEnv env;
        ASSERT_EQ(mkdir((env.Home() + "/.VanTrelo").c_str(), 0700), 0);
        CreateUserDir();
        struct stat st {};
        EXPECT_NE(stat((env.Home() + "/.VanTrelo/config").c_str(), &st), 0);
    }
}

// A configuration that did not come from a good read holds no language to trust and
// must never be saved over the service's: the language already loaded serves this run,
// kept in memory only, and start-up goes on. A browser's choice is applied, not saved.
TEST(InitLanguage, FailedReadKeepsTheLoadedLanguageInMemoryAndSavesNothing) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        ui_test::LinkSetUp();
        static char name[] = "ui_startup";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        QApplication app(argc, argv);
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        UISystemProfile* profile = UISystemProfile::GetInstance();
        EXPECT_FALSE(profile->Read()) << "no service is connected";
        ASSERT_FALSE(profile->GetReadSuccess());
        LanguageSetting* lang = LanguageSetting::GetInstance();
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetResourceDir(QCoreApplication::applicationDirPath() + "/");
        (void)lang->Init(1033, ctx->GetResourceDir());

        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(profile->GetLanguageID(), 1033u);
        EXPECT_EQ(lang->GetLanguageId(), 1033);

        ctx->SetPluginMode(1);
        ctx->GetPluginInfo()->LangMode = 2;
        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(lang->GetLanguageId(), 2052);
        EXPECT_EQ(profile->GetLanguageID(), 2052u);
        EXPECT_EQ(ui_test::LogCount("[plugin][init language is 2]"), 1u);
        ctx->GetPluginInfo()->LangMode = 7;  // no language given: the current one stays
        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(lang->GetLanguageId(), 2052);
        EXPECT_TRUE(driver.Seen().empty());
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}

}  // namespace
