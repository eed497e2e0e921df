#include "startup.h"

#include <sys/stat.h>

#include <cstring>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QString>

#include "clientmode.h"
#include "languagesetting.h"
#include "mainui.h"
#include "servicelink.h"
#include "singleapplication.h"
#include "systemlanguage.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

constexpr int kLevelDebug = 0;
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

bool MakeDir(const QString& path) {
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0;
}

// The language of the start-up boxes, when nothing better is known.
bool ApplySystemLanguageInMemory() {
    const int id = LanguageSetting::GetInstance()->GetLanguageId();
    if (id < 0) {
        return false;
    }
    UISystemProfile::GetInstance()->SetLanguageID(static_cast<uint32_t>(id));
    return true;
}

}  // namespace

void CreateUserDir() {
    const QString dir = QDir::homePath() + QStringLiteral("/.VanTrelo");
    if (QFileInfo::exists(dir)) {
        return;
    }
    if (MakeDir(dir)) {
        (void)MakeDir(dir + QStringLiteral("/config"));
    }
}

void InitSystemType() {
    QApplication::setFont(QFont(QStringLiteral("TakaoPGothic"), 12));
    UIContext* ctx = UIContext::GetInstance();
    ctx->SetSystemType(2);
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/");
    ctx->SetInstallDir(dir);
    ctx->SetResourceDir(dir);
    Log(kLevelDebug, QStringLiteral("[System Type][mac]"));
}

int InitLanguage() {
    UIContext* ctx = UIContext::GetInstance();
    LanguageSetting* lang = LanguageSetting::GetInstance();
    UISystemProfile* profile = UISystemProfile::GetInstance();

    if (ctx->GetPluginMode() == 1) {
        const int mode = ctx->GetPluginInfo()->LangMode;
        const int id = (mode == 2) ? 2052 : (mode == 1) ? 1033 : 0;
        if (id != 0) {
            (void)lang->Init(id, ctx->GetResourceDir());
            profile->SetLanguageID(static_cast<uint32_t>(id));
        }
        Log(kLevelInfo, QStringLiteral("[plugin][init language is ") + QString::number(mode) +
                            QStringLiteral("]"));
        return 0;
    }

    // Without a good read there is no stored language to trust, and nothing may be
    // saved: writing this record back would wipe the service's configuration. The
    // system language, already loaded, serves this run.
    if (!profile->GetReadSuccess()) {
        return ApplySystemLanguageInMemory() ? 0 : -1;
    }

    const uint32_t stored = profile->GetLanguageID();
    if (stored != 0 && Util_IsLanguageInstalled(static_cast<int>(stored))) {
        (void)lang->Init(static_cast<int>(stored), ctx->GetResourceDir());
        return 0;
    }
    if (!ApplySystemLanguageInMemory()) {
        return -1;
    }
    return profile->Save() ? 0 : -1;
}

bool Util_ConnectService() {
    char name[UI_MSGCODE_NAME_SIZE];
    std::memset(name, 0, sizeof(name));
    uint32_t state = SERVICE_NOT_CONNECTED;
    const uint32_t rc = UI_Main_Connect(name, &state);
    if (rc != 0) {
        if (state == SERVICE_NOT_STARTED) {
            return false;  // the link has logged why; the user refused or nothing ran
        }
        Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR, QString(), -1);
        return false;
    }
    if (state == SERVICE_CONNECTED) {
        return true;
    }
    Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(Util_FieldToString(name, sizeof(name))),
                     QStringLiteral("main"), -1);
    return false;
}

bool Util_StartPluginService() { return UI_PluginThread_Create() == 0; }

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
