#include "clientmode.h"

#include <cstring>

#include <QByteArray>
#include <QSettings>
#include <QString>

#include "languagesetting.h"
#include "startup.h"
#include "uicontext.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

constexpr int kLevelInfo = 1;
constexpr int kLevelError = 3;

void LogError(const char* text) { Util_WriteLog(0, kLevelError, QString::fromUtf8(text)); }

// A launch value as the parsers see it: null stays null, anything else is tested for
// emptiness through the local 8-bit codec, the way the browser's launcher encoded it.
bool IsEmptyValue(const char* value) { return QString::fromLocal8Bit(value).isEmpty(); }

// The value's own bytes into a fixed field; a value that does not fit leaves the field
// empty, which the launch rules accept.
void StoreBytes(char* field, size_t width, const char* value) {
    (void)Util_FieldSetBytes(field, width, value, std::strlen(value));
}

// The refusal when the plugin listener cannot be started: the browser has nobody to talk
// to, so the user is told with a box (plugin mode is not yet 1 here, so it is a box).
void ShowListenerFailed() {
    Util_ShowWarning(
        LanguageSetting::GetInstance()->GetValue(QStringLiteral("UI_MAIN/UI_MAIN_CREATE_UI_SERVICE_FAILED")),
        QStringLiteral("main"), -1);
}

// The value at a position of the argument vector, or null beyond its end.
const char* Arg(int argc, char** argv, int pos) {
    return (argv != nullptr && pos < argc) ? argv[pos] : nullptr;
}

}  // namespace

int JudgeNativeMessaging(const char* firstArg) {
    const QString arg = QString::fromUtf8(firstArg);
    if (arg.isEmpty()) {
        return 0;
    }
    // A browser starts its native-messaging host with the extension's origin or its
    // parent window as the first argument; our own extension passes the program's name.
    if (!arg.contains(QLatin1String("chrome-extension")) &&
        !arg.contains(QLatin1String("parent-window")) && !arg.contains(QLatin1String("VanTrelo"))) {
        return 0;
    }
    UIContext::GetInstance()->SetNativeMessaging(true);
    if (Util_StartPluginService()) {
        UIContext::GetInstance()->SetPluginMode(1);
        return 0;
    }
    ShowListenerFailed();
    return -1;
}

int JudgeClientMode(int argc, char** argv) {
    if (JudgeNativeMessaging(Arg(argc, argv, 1)) == -1) {
        return -1;
    }
    const QString first = QString::fromLocal8Bit(Arg(argc, argv, 1));
    if (first.isEmpty() || first != QLatin1String("-p")) {
        return 0;
    }
    if (!Util_StartPluginService()) {
        ShowListenerFailed();
        return -1;
    }
    UIContext::GetInstance()->SetPluginMode(1);

    // The record is large (over 3 KiB) and lives only for this call.
    UIPLUGIN_INFO_S info;
    std::memset(&info, 0, sizeof(info));
    if (SetPluginBrowserDir(Arg(argc, argv, 2), info.acBrowserDir) == -1 ||
        SetPluginLoginAddr(Arg(argc, argv, 3), info.acLoginAddr) == -1 ||
        SetPluginUpdate(Arg(argc, argv, 4), info.acUpdate) == -1) {
        return -1;
    }
    const QString lang = QString::fromLocal8Bit(Arg(argc, argv, 5));
    if (!lang.isEmpty()) {
        info.LangMode = lang.toInt(nullptr, 10);  // not a number: 0, no language given
    }
    if (SetPluginProxy(Arg(argc, argv, 6), info.acProxyAddr, &info.iProxyPort) == -1) {
        return -1;
    }
    UIContext::GetInstance()->SetPluginInfo(&info);

    Util_WriteLog(0, kLevelInfo,
                  QStringLiteral("[plugin][browser dir is ") +
                      Util_FieldToString(info.acBrowserDir, sizeof(info.acBrowserDir)) +
                      QStringLiteral(",login address is ") +
                      Util_FieldToString(info.acLoginAddr, sizeof(info.acLoginAddr)) +
                      QStringLiteral(",browser language is ") + QString::number(info.LangMode) +
                      QStringLiteral(",proxy address is ") +
                      Util_FieldToString(info.acProxyAddr, sizeof(info.acProxyAddr)) +
                      QStringLiteral(",proxy iProxyPort is ") + QString::number(info.iProxyPort) +
                      QStringLiteral("]"));
    return 0;
}

int SetPluginBrowserDir(const char* value, char* field) {
    if (value == nullptr || field == nullptr) {
        LogError("[plugin][browser dir][reason:invalid param]");
        return -1;
    }
    if (IsEmptyValue(value)) {
        return 0;
    }
    // The browser's folder is used later to start the browser: a cut path would name
    // another program, so a long one is refused rather than stored empty.
    if (std::strlen(value) > sizeof(UIPLUGIN_INFO_S::acBrowserDir) - 1) {
        LogError("[plugin][browser dir][Browser dir length error]");
        return -1;
    }
    StoreBytes(field, sizeof(UIPLUGIN_INFO_S::acBrowserDir), value);
    return 0;
}

int SetPluginLoginAddr(const char* value, char* field) {
    if (value == nullptr || field == nullptr) {
        LogError("[plugin][Login Addr][reason:invalid param]");
        return -1;
    }
    if (IsEmptyValue(value)) {
        LogError("[plugin][Login Addr][reason:is NULL]");
        return -1;
    }
    StoreBytes(field, sizeof(UIPLUGIN_INFO_S::acLoginAddr), value);
    return 0;
}

int SetPluginUpdate(const char* value, char* field) {
    if (value == nullptr || field == nullptr) {
        LogError("[plugin][Update][reason:invalid param]");
        return -1;
    }
    if (IsEmptyValue(value)) {
        return 0;
    }
    StoreBytes(field, sizeof(UIPLUGIN_INFO_S::acUpdate), value);
    return 0;
}

int SetPluginProxy(const char* value, char* addr, int* port) {
    if (value == nullptr || addr == nullptr || port == nullptr) {
        LogError("[plugin][Proxy Addr][reason:invalid param]");
        return -1;
    }
    constexpr size_t kWidth = sizeof(UIPLUGIN_INFO_S::acProxyAddr);
    const QString text = QString::fromLocal8Bit(value);
    if (text == QLatin1String("NoProxy")) {
        StoreBytes(addr, kWidth, value);
        return 0;
    }
    *port = Util_GetPort(text).toInt(nullptr, 10);
    (void)Util_FieldSetString(addr, kWidth, Util_GetHost(text));
    return 0;
}

int PluginInitReport() {
    if (!UIContext::GetInstance()->GetNativeMessaging()) {
        return 0;
    }
    if (UI_BrowserMutex_Create() != 0) {
        LogError("[Main ui plugin show main][ui broswer enable mutex is error]");
        Util_ShowWarning(
            LanguageSetting::GetInstance()->GetValue(QStringLiteral("UI_MAIN/UI_MAIN_BROWSER_EXIST")),
            QString(), -1);
        return -1;
    }
    // A plain text, not a key: the extension matches it as it is.
    Util_ShowWarning(QStringLiteral("init success"), QStringLiteral("main"), 0);
    return 0;
}

QString GetBrowserPath(const QString& exeName) {
    if (exeName.isEmpty()) {
        LogError("[the input parameter is invalid]");
        return QString();
    }
    QString path;
#ifdef Q_OS_WIN
    QSettings settings(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") +
            exeName,
        QSettings::NativeFormat);
    if (settings.contains(QStringLiteral("Path"))) {
        path = settings.value(QStringLiteral("Path")).toString();
        Util_WriteLog(0, kLevelInfo, QStringLiteral("[browserPath is") + path + QStringLiteral("]"));
    }
#endif
    return path;
}
