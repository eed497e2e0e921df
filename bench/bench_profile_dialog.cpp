// Times the opening of a new-profile dialog as the main window opens it (construct the
// dialog, Init, show it and let it paint), beside a bare QDialog that gets the same form
// (setupUi, show, paint) in the same run. The difference is what the dialog adds to its
// form: the six menu pictures, the set-up with its 32 connections, the language texts and
// tool tips. Both are deleted after each opening, so every round builds from nothing.
// The form leaves its L2TP/IPSec page current, the dialog opens on the smaller SSL VPN
// page: the bare dialog is timed both ways, as the form leaves it and switched to the SSL
// VPN page before it is shown.
//
// "Shown" is show() followed by the event loop run until nothing is pending, which lays
// the dialog out and paints it into its backing store. The platform is Qt's offscreen
// one unless QT_QPA_PLATFORM names another (xcb on a display measures the same on a real
// window system). HOME and TMPDIR point at a fresh folder, where the platform's log goes.
//
// Usage: bench_profile_dialog [ROUNDS]   (default 50, after 5 warm-up rounds of each)
// Rounds alternate which of the two opens first. Prints median and range of each and the
// ratio of the medians.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>

#include "bench_home.h"
#include "ddm_log.h"
#include "languagesetting.h"
#include "profileinfoui.h"
#include "ui_profileinfoui.h"
#include "uicontext.h"
#include "uko_start.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void Settle() {
    QApplication::processEvents(QEventLoop::AllEvents);
    QApplication::sendPostedEvents();
    QApplication::processEvents(QEventLoop::AllEvents);
}

double OpenProfileDialog() {
    const Clock::time_point start = Clock::now();
    auto dialog = std::make_unique<ProfileInfoUI>(nullptr);
    dialog->Init();
    dialog->show();
    Settle();
    const double took = Micros(Clock::now() - start);
    dialog.reset();
    Settle();
    return took;
}

double OpenBareDialog(bool sslPage) {
    const Clock::time_point start = Clock::now();
    auto dialog = std::make_unique<QDialog>(nullptr);
    Ui_ProfileInfoUI form;
    form.setupUi(dialog.get());
    if (sslPage) {
        form.stackedWidget->setCurrentIndex(0);
    }
    dialog->show();
    Settle();
    const double took = Micros(Clock::now() - start);
    dialog.reset();
    Settle();
    return took;
}

struct Summary {
    double median, low, high;
};

Summary Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const std::string home = BenchHomeMake("bench-profile");
    if (home.empty()) return 1;
    setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    if (UKO_Start() != 0 || DDM_LogInit("benchprofile") != 0) {
        std::fprintf(stderr, "bench_profile_dialog: the platform did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    UIContext* context = UIContext::GetInstance();
    context->SetSystemType(2);
    context->SetNewConnect(true);
    context->SetResourceDir(QStringLiteral(BENCH_APP_DIR "/"));
    context->SetInstallDir(QStringLiteral(BENCH_APP_DIR "/"));
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(BENCH_APP_DIR "/"));

    for (int i = 0; i < 5; ++i) {
        (void)OpenProfileDialog();
        (void)OpenBareDialog(false);
        (void)OpenBareDialog(true);
    }
    std::vector<double> profile, bare, bareSsl;
    for (int i = 0; i < rounds; ++i) {
        if (i % 2 == 0) {
            profile.push_back(OpenProfileDialog());
            bare.push_back(OpenBareDialog(false));
            bareSsl.push_back(OpenBareDialog(true));
        } else {
            bareSsl.push_back(OpenBareDialog(true));
            bare.push_back(OpenBareDialog(false));
            profile.push_back(OpenProfileDialog());
        }
    }
    const Summary p = Summarise(profile);
    const Summary b = Summarise(bare);
    const Summary s = Summarise(bareSsl);
    std::printf("platform %s, %d rounds\n", qgetenv("QT_QPA_PLATFORM").constData(), rounds);
    std::printf("new-profile dialog (construct, Init, shown): median %8.0f us  [%.0f .. %.0f]\n",
                p.median, p.low, p.high);
    std::printf("bare QDialog, same form, its own page:      median %8.0f us  [%.0f .. %.0f]\n",
                b.median, b.low, b.high);
    std::printf("bare QDialog, same form, SSL VPN page:      median %8.0f us  [%.0f .. %.0f]\n",
                s.median, s.low, s.high);
    std::printf("ratio dialog / bare: %.2f (own page), %.2f (SSL VPN page)\n",
                p.median / b.median, p.median / s.median);
    return 0;
}
