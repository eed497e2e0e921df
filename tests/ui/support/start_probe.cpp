// The client's start function in a program of its own, for tests that start and end the
// client many times over: a fresh process each time, as a browser starts it, without
// the cost of copying a test process.
//
//   start_probe ROAD TIME_FILE SHARED_TMP [client arguments...]
//
// The start runs as the client's program runs it, with the connect retries shortened, the
// kill by name kept to this process's own children, the plugin listener on a free port
// and SHARED_TMP in place of the shared temporary folder that holds the user's instance
// folder (so that starts running side by side are not one user's second instances).
// Once the client has built its window and runs its event loop, the probe writes the
// monotonic clock in milliseconds to TIME_FILE and takes the exit road ROAD: "exit" (the
// tray's Exit), "logout" (a forced logout where the link's receive task posts it) or
// "lost" (the notice of a lost service connection).
//
// Status: the client's own (0 through its exit path); 7 when the start returned; 20 when
// the client did not run in plugin mode; 21 when its plugin thread still ran at the
// process's end.

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "mainui.h"
#include "frontendmain.h"
#include "singleapplication_inner.h"
#include "uicontext.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"

namespace {

enum : int { kStartReturned = 7, kNotPluginMode = 20, kPluginThreadAlive = 21 };

const char* g_road = "";
const char* g_timeFile = "";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Whether a thread of this process still carries the name Qt gives a running QThread of
// that class; waits up to half a second for one on its way out.
bool ThreadRunning(const char* className) {
    for (int i = 0; i < 50; ++i) {
        bool found = false;
        if (DIR* d = opendir("/proc/self/task")) {
            while (dirent* e = readdir(d)) {
                std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/comm");
                std::string name;
                found = found || (std::getline(in, name) && name == className);
            }
            closedir(d);
        }
        if (!found) return false;
        usleep(10 * 1000);
    }
    return true;
}

MainUI* Window() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainUI*>(w)) return window;
    }
    return nullptr;
}

// Runs in the client's event loop until the client is up, then takes the road.
void Step(QTimer* timer) {
    if (Window() == nullptr || QThread::currentThread()->loopLevel() != 1) return;
    timer->stop();
    if (UIContext::GetInstance()->GetPluginMode() != 1) _exit(kNotPluginMode);
    if (FILE* f = std::fopen(g_timeFile, "w")) {
        std::fprintf(f, "%lld\n", static_cast<long long>(NowMs()));
        std::fclose(f);
    }
    if (std::strcmp(g_road, "exit") == 0) {
        QMetaObject::invokeMethod(Window(), "MainUI_SysTrayIcon_ExitMain_Pre");
    } else if (std::strcmp(g_road, "logout") == 0) {
        const std::vector<uint8_t> p = ui_test::Packet(4, 2, 2, 1, 0xB0000);
        (void)UI_Queue_Write(g_fastQueueId, p.data(), uint32_t(p.size()));
    } else {
        UI_ConnectLost_Post();
    }
}

void OnApplication() {
    QCoreApplication* app = QCoreApplication::instance();
    QMetaObject::invokeMethod(
        app,
        [app] {
            auto* timer = new QTimer(app);
            QObject::connect(timer, &QTimer::timeout, timer, [timer] { Step(timer); });
            timer->start(20);
        },
        Qt::QueuedConnection);
}

}  // namespace

int main(int argc, char** argv) {
    // Registered before anything of the client: it runs after everything the client's
    // exit runs, and ends the process before the leak check, which would only list what
    // a process ended from inside its event loop still holds.
    on_exit([](int status, void*) {
        _exit(status == 0 && ThreadRunning("PluginThread") ? kPluginThreadAlive : status);
    }, nullptr);
    (void)signal(SIGPIPE, SIG_IGN);
    if (argc < 4) {
        std::fprintf(stderr, "usage: start_probe exit|logout|lost TIME_FILE SHARED_TMP [arguments...]\n");
        return 2;
    }
    g_road = argv[1];
    g_timeFile = argv[2];
    singleApplicationSharedTempFolderSet(argv[3]);
    uiPromoteKillScopeSet(getpid());
    uiConnectRetrySleepSet([](uint32_t) { usleep(20 * 1000); });
    uiPluginBindSet(ui_test::BindAnyPort);
    qAddPreRoutine(OnApplication);
    // The client sees its own program path first, then its arguments.
    std::vector<char*> args = {argv[0]};
    for (int i = 4; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;
    (void)FrontEnd_Main(count, args.data());
    return kStartReturned;
}
