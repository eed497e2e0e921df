#include "startup.h"

#include <sys/stat.h>

#include <cstring>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QString>

#include "languagesetting.h"
#include "servicelink.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

constexpr int kLevelDebug = 0;
constexpr int kLevelInfo = 1;

void Log(int level, const QString& text) { Util_WriteLog(0, level, text); }


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
