#pragma once
// What the fault report tests share: a private home with its log folder, the front end's
// state as start-up leaves it, the proxy read from the environment only (never from the
// desktop of the machine running the tests), and small file helpers.

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include "languagesetting.h"
#include "servicelink.h"
#include "ui_proxy_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_test/temp_env.h"

// Failed comparisons of texts print the texts.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace report_test {

inline ProxyDict* EnvironmentProxy() {
    auto* dict = new ProxyDict();
    if (uiProxyEnvRead(dict) != 0) {
        delete dict;
        return nullptr;
    }
    return dict;
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The language text of a key in the current language.
inline QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// A private HOME (the platform's log keeps writing into its own folder elsewhere), the
// English texts of the runnable tree, system type 2, a configuration record of version
// "1.0", and no proxy in the environment.
class ReportEnv {
public:
    ReportEnv() {
        ui_test::LinkSetUp();
        env_ = std::make_unique<vt_test::TempEnv>();
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
                                 "NO_PROXY"}) {
            unsetenv(name);
        }
        uiProxySourceSet(EnvironmentProxy);
        UIContext::GetInstance()->SetSystemType(2);
        UIContext::GetInstance()->SetPluginMode(0);
        UIContext::GetInstance()->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        UIContext::GetInstance()->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        CFM_SYSCONFIG_S config{};
        UISystemProfile::GetInstance()->SetSystemConfig(&config);
        UISystemProfile::GetInstance()->SetVersion(QStringLiteral("1.0"));
    }
    ~ReportEnv() { uiProxySourceSet(nullptr); }
    ReportEnv(const ReportEnv&) = delete;
    ReportEnv& operator=(const ReportEnv&) = delete;

    QString Home() const { return QString::fromStdString(env_->Home()); }
    QString Tmp() const { return QString::fromStdString(env_->Tmp()); }
    QString LogDir() const { return Home() + QStringLiteral("/.VanTrelo/log"); }
    bool MakeLogDir() const { return QDir().mkpath(LogDir()); }

private:
    std::unique_ptr<vt_test::TempEnv> env_;
};

}  // namespace report_test
