#include "frontendmain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QString>

#include "clientmode.h"
#include "languagesetting.h"
#include "mainui.h"
#include "servicelink.h"
#include "singleapplication.h"
#include "startup.h"
#include "systemlanguage.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"

namespace {

constexpr int kLevelInfo = 1;
constexpr int kLevelError = 3;

void Log(int level, const QString& text) { Util_WriteLog(0, level, text); }

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(QString::fromUtf8(key)); }

// The program path holds a CJK ideograph of the basic block. Such paths are refused:
// parts of the service below cannot handle them.
bool HasChineseIdeograph(const QString& path) {
    for (const QChar c : path) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FA5) {
            return true;
        }
    }
    return false;
}

}  // namespace

int FrontEnd_Main(int& argc, char** argv) {
    CreateUserDir();
    // A failed start of the link is logged there; the connection below reports it.
    (void)UI_Init("VanTreloUI");

    SingleApplication app(argc, argv);
    // The client lives on in the tray when its last window closes.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    GetSystemLanguage();

    const QString programPath = QString::fromUtf8(argc > 0 ? argv[0] : nullptr);
    if (HasChineseIdeograph(programPath)) {
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_CN_DIR"), QString(), -1);
        return -1;
    }
    // The guard's folder is someone else's (or a link): no box of another instance can be
    // trusted and no service may be touched, so the start ends before its connection,
    // whose start kills the running service.
    const QString refusedFolder = app.refusedInstanceFolder();
    if (!refusedFolder.isEmpty()) {
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_INSTANCE_DIR_REFUSED") + QStringLiteral("\n\n") + refusedFolder,
                         QString(), -1);
        return -1;
    }
    if (app.hasOtherInstance()) {
        Util_ShowWarning(Text("/UI_MAIN/UI_MAIN_PROCESS_EXIST"), QStringLiteral("main"), -1);
        return 0;
    }
    if (!Util_ConnectService()) {
        Log(kLevelError, QStringLiteral("[UI and RPC connection failed!]"));
        return -1;
    }
    UIContext* ctx = UIContext::GetInstance();
    ctx->SetPluginMode(0);
    if (JudgeClientMode(argc, argv) == -1) {
        Log(kLevelError, QStringLiteral("[Judge client mode failed!]"));
        return -1;
    }
    if (UI_ClientMutex_Create() != 0) {
        Util_ShowWarning(Text("UI_MAIN/UI_MAIN_OLD_CLIENT_OPEN"), QStringLiteral("main"), -1);
        return -1;
    }
    if (!ctx->Init()) {
        Log(kLevelError, QStringLiteral("[VanTerlo start failed][reason:UIContext init failed]"));
        return 0;
    }
    InitSystemType();
    if (InitLanguage() == -1) {
        Log(kLevelError, QStringLiteral("[Set plugin language type failed!]"));
        return -1;
    }
    Log(kLevelInfo, QStringLiteral("[Get VanTrelo Version][Version info:") +
                        UISystemProfile::GetInstance()->GetVersion() + QStringLiteral("]"));

    // The window goes before the application object on every way out.
    MainUI window(nullptr);
    window.Init();
    if (ctx->GetPluginMode() == 1) {
        // A browser drives this client: no window, straight to its SSL VPN login.
        window.hide();
        window.MainUI_Plugin_Init();
        ctx->SetLinkType(1);
        window.MainUI_LoginKey_Show();
    } else {
        UISystemProfile* profile = UISystemProfile::GetInstance();
        const QString last = profile->GetLastAccessSession();
        if (last.isEmpty()) {
            window.show();
        } else {
            const CFM_SESSION_S* session = profile->GetSession(last);
            if (session == nullptr) {
                Util_ShowWarning(Text("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"),
                                 QStringLiteral("main"), -1);
                return -1;
            }
            if (session->RemPwd != 0 && session->AutoLogin != 0) {
                // An automatic login: the window stays hidden behind its login view.
                Log(kLevelInfo, QStringLiteral("[MainUI start][MainUI hide]"));
                window.hide();
                window.MainUI_LoginKey_Show();
            } else {
                Log(kLevelInfo, QStringLiteral("[MainUI start][MainUI show]"));
                window.show();
            }
        }
    }

    if (PluginInitReport() == -1) {
        Log(kLevelError, QStringLiteral("[Client Mutex  exception]"));
        return -1;
    }
    return QApplication::exec();
}
