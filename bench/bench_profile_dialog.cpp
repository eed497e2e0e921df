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
// A third opening is the dialog on a stored L2TP/IPSec profile with 64 routes, as the main
// window opens it for an existing profile: the kind query and the read go to the service
// simulator (started here on free ports, under its tool name), and the fill clicks
// through the page and lists every route. Its figure is set beside the same bare form.
//
// Usage: bench_profile_dialog [ROUNDS]   (default 50, after 5 warm-up rounds of each)
// Rounds alternate which of the two opens first. Prints median and range of each and the
// ratio of the medians.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QTreeWidget>

#include "bench_home.h"
#include "ddm_log.h"
#include "languagesetting.h"
#include "profileinfoui.h"
#include "servicelink.h"
#include "ui_profileinfoui.h"
#include "uicontext.h"
#include "uko_start.h"

#ifndef BENCH_SIM_BIN
#error "BENCH_SIM_BIN must name the simulator built under its tool name"
#endif

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

// The stored profile: IPSec on with a pre-shared key, manual routes, 64 of them.
std::string RoutesProfile() {
    std::string fields =
        "\"uiLinkType\": 2, \"acDescription\": \"routes\", \"acLnsServer\": \"192.0.2.20\", "
        "\"uiIpsecEnable\": 1, \"uiAuthMethod\": 1, \"acPreSharedKey\": \"k\", "
        "\"acTunnelName\": \"t\", \"uiUseLnsAddress\": 1, \"uiNegoMode\": 2, "
        "\"uiDhGroup\": 2, \"uiIkeAuthAlgo\": 2, \"uiIkeEncryAlgo\": 5, "
        "\"uiEspAuthAlgo\": 131072, \"uiEspEncryAlgo\": 16777216, "
        "\"uiIkeSaLifetime\": 86400, \"uiIpsecSaLifetime\": 3600, \"uiRouteMode\": 1, "
        "\"uiRouteNum\": 64";
    for (int i = 0; i < 64; ++i) {
        const unsigned address = (10u << 24) | (unsigned(i) << 16);
        fields += ", \"astRoute[" + std::to_string(i) + "].uiAddress\": " + std::to_string(address) +
                  ", \"astRoute[" + std::to_string(i) + "].uiMask\": 4294901760";
    }
    return "{\"name\": \"Routes.ini\", \"linkType\": 2, \"fields\": {" + fields + "}}";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The simulator on free ports, holding the one profile, with the front end's three
// connections open to it as at start-up.
struct Simulator {
    pid_t pid = -1;
    bool linked = false;

    explicit Simulator(const std::string& dir) {
        const std::string scenario = dir + "/scenario.json";
        const std::string ports = dir + "/ports.json";
        std::ofstream(scenario) << "{\"portsFile\":\"" << ports
                                << "\",\"state\":null,\"promote\":{\"port\":0},\"profiles\":["
                                << RoutesProfile() << "]}";
        // The environment is made before the fork: the platform's tasks already run.
        std::string var = "VANTRELO_SIM_SCENARIO=" + scenario;
        std::string home = std::string("HOME=") + dir;
        char* envp[] = {&var[0], &home[0], nullptr};
        pid = fork();
        if (pid == 0) {
            execle(BENCH_SIM_BIN, "service-sim", static_cast<char*>(nullptr), envp);
            _exit(127);
        }
        uint16_t promote = 0;
        for (int i = 0; i < 3000 && promote == 0; ++i) {
            const std::string text = ReadFile(ports);
            const size_t at = text.find("\"promote\":");
            if (text.find('}') != std::string::npos && at != std::string::npos) {
                promote = uint16_t(std::atoi(text.c_str() + at + 10));
            } else {
                usleep(5000);
            }
        }
        int32_t fd = -1;
        uint32_t port = 0, code = 0;
        if (promote == 0 || UI_Connect_Open(promote, MARK_RPC, CONNECT_TYPE_ASYNC, &fd) != 0 ||
            UI_RemotePort_Get(&port, &code) != 0) {
            return;
        }
        for (uint32_t type : {uint32_t(CONNECT_TYPE_SYNC), uint32_t(CONNECT_TYPE_ASYNC)}) {
            uint8_t head[UI_PACKET_HEAD_LEN];
            if (UI_Connect_Open(port, MARK_TULM, type, &fd) != 0) {
                return;
            }
            (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(head), MARK_UI, MARK_TULM, type,
                                    MSG_TYPE_PREF, PREF_MSGCODE_FIRSTCONN_START_TULM, sizeof(head));
            if (UI_Packet_Send(fd, head, sizeof(head)) != int32_t(sizeof(head))) {
                return;
            }
        }
        // The simulator tells the engine connections apart by their greetings.
        usleep(200000);
        linked = true;
    }
    ~Simulator() {
        UI_Socket_CloseAll();
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The dialog on the stored profile: kind query, read, fill, shown.
double OpenRoutesProfile() {
    UIContext* context = UIContext::GetInstance();
    context->SetNewConnect(false);
    context->SetConnectName(QStringLiteral("Routes"));
    context->SetLinkType(LINK_TYPE_IPSEC);
    const Clock::time_point start = Clock::now();
    auto dialog = std::make_unique<ProfileInfoUI>(nullptr);
    dialog->Init();
    dialog->show();
    Settle();
    const double took = Micros(Clock::now() - start);
    // A failed read would time an empty page: the figure is only worth printing filled.
    auto* routes = dialog->findChild<QTreeWidget*>(QStringLiteral("tw_router"));
    if (routes == nullptr || routes->topLevelItemCount() != 64) {
        std::fprintf(stderr, "bench_profile_dialog: the stored profile was not filled\n");
        std::exit(1);
    }
    dialog.reset();
    Settle();
    context->SetNewConnect(true);
    context->SetConnectName(QString());
    context->SetLinkType(LINK_TYPE_NONE);
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
    Simulator sim(home);
    if (!sim.linked) {
        std::fprintf(stderr, "bench_profile_dialog: no link to the simulator\n");
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
        (void)OpenRoutesProfile();
    }
    std::vector<double> profile, bare, bareSsl, routes;
    for (int i = 0; i < rounds; ++i) {
        if (i % 2 == 0) {
            profile.push_back(OpenProfileDialog());
            bare.push_back(OpenBareDialog(false));
            bareSsl.push_back(OpenBareDialog(true));
            routes.push_back(OpenRoutesProfile());
        } else {
            routes.push_back(OpenRoutesProfile());
            bareSsl.push_back(OpenBareDialog(true));
            bare.push_back(OpenBareDialog(false));
            profile.push_back(OpenProfileDialog());
        }
    }
    const Summary p = Summarise(profile);
    const Summary b = Summarise(bare);
    const Summary s = Summarise(bareSsl);
    const Summary r = Summarise(routes);
    std::printf("platform %s, %d rounds\n", qgetenv("QT_QPA_PLATFORM").constData(), rounds);
    std::printf("new-profile dialog (construct, Init, shown): median %8.0f us  [%.0f .. %.0f]\n",
                p.median, p.low, p.high);
    std::printf("bare QDialog, same form, its own page:      median %8.0f us  [%.0f .. %.0f]\n",
                b.median, b.low, b.high);
    std::printf("bare QDialog, same form, SSL VPN page:      median %8.0f us  [%.0f .. %.0f]\n",
                s.median, s.low, s.high);
    std::printf("IPSec profile, 64 routes (read, fill, shown): median %8.0f us  [%.0f .. %.0f]\n",
                r.median, r.low, r.high);
    std::printf("ratio dialog / bare: %.2f (own page), %.2f (SSL VPN page)\n",
                p.median / b.median, p.median / s.median);
    std::printf("ratio IPSec profile with 64 routes / bare (own page): %.2f; / new-profile "
                "dialog: %.2f\n",
                r.median / b.median, r.median / p.median);
    return 0;
}
