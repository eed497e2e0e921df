#pragma once
// For tests that run the client's start function in a child: once the start runs its own
// event loop, the test has no other way in than a step that loop runs for it.

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "frontendmain.h"
#include "mainui.h"
#include "ui_link_inner.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"

namespace ui_test {

// What the start function's own event loop runs every 20 ms until it returns true.
inline std::function<bool()> g_loopStep;

// Arranges for step to run inside the event loop of the application the start function
// builds. Call in the child, before the start.
inline void InLoop(std::function<bool()> step) {
    g_loopStep = std::move(step);
    qAddPreRoutine([] {
        QCoreApplication* app = QCoreApplication::instance();
        QMetaObject::invokeMethod(
            app,
            [app] {
                auto* timer = new QTimer(app);
                QObject::connect(timer, &QTimer::timeout, timer, [timer] {
                    static bool busy = false;  // a step that opens a box is not entered again
                    if (busy) return;
                    busy = true;
                    if (g_loopStep()) timer->stop();
                    busy = false;
                });
                timer->start(20);
            },
            Qt::QueuedConnection);
    });
}

// The main window the start built, or null.
inline MainUI* StartedWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainUI*>(w)) return window;
    }
    return nullptr;
}

// The start has built its window and runs its own event loop, no box open.
inline bool StartUp() {
    return StartedWindow() != nullptr && QThread::currentThread()->loopLevel() == 1;
}

// Lines of the client's own log files (log name "VanTreloUI", in the per-user log folder
// under home) that hold the fragment.
inline size_t ClientLogCount(const std::string& fragment, const std::string& home = getenv("HOME")) {
    size_t n = 0;
    const std::string dir = home + "/.VanTrelo/log/";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).find("VanTreloUI") == std::string::npos) continue;
            std::ifstream in(dir + e->d_name);
            std::string line;
            while (std::getline(in, line)) n += line.find(fragment) != std::string::npos;
        }
        closedir(d);
    }
    return n;
}

// The start function as the program runs it, with the connect retries shortened, the
// kill by name kept to this child's own processes and the plugin listener on a free port.
inline int StartAsTheProgram() {
    uiPromoteKillScopeSet(getpid());
    uiConnectRetrySleepSet([](uint32_t) { usleep(20 * 1000); });
    uiPluginBindSet(BindAnyPort);
    std::string program = "/opt/app/VanTrelo";
    char* argv[] = {&program[0], nullptr};
    int argc = 1;
    return FrontEnd_Main(argc, argv);
}

}  // namespace ui_test
