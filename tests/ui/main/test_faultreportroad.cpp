// The fault report as a user goes through it, in-process: the tray's Fault report over
// a main window talking to the simulator, a description, the viewer with a log file
// shown, OK, Commit. The archive at the default place must open with unzip, hold exactly
// the visible regular files of the log folder (this process's own log among them), and
// no secret: not the proxy password of the environment, not the stored proxy and session
// passwords, not what a link planted in the log folder points to.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include "ddm_log_inner.h"
#include "languagesetting.h"
#include "mainui.h"
#include "ui_proxy_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

const char kEnvProxyPassword[] = "Pr0xySecret";
const char kStoredProxyPassword[] = "St0redProxyPwd";
const char kSessionPassword[] = "Passw0rd";
const char kPlantedText[] = "PlantedKeyMaterial";

ProxyDict* EnvironmentProxy() {
    auto* dict = new ProxyDict();
    if (uiProxyEnvRead(dict) != 0) {
        delete dict;
        return nullptr;
    }
    return dict;
}

struct UnzipRun {
    int exitCode = -1;
    QByteArray out;
};

UnzipRun Unzip(const QStringList& args) {
    QProcess unzip;
    unzip.start("unzip", args);
    UnzipRun r;
    if (unzip.waitForFinished(60000) && unzip.exitStatus() == QProcess::NormalExit) {
        r.exitCode = unzip.exitCode();
        r.out = unzip.readAllStandardOutput();
    }
    return r;
}

// The names a report of the folder must hold, found without Qt: regular files directly
// in it whose names do not begin with ".".
QStringList VisibleRegularFiles(const std::string& dir) {
    QStringList names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            struct stat st;
            if (e->d_name[0] != '.' && lstat((dir + "/" + e->d_name).c_str(), &st) == 0 &&
                S_ISREG(st.st_mode)) {
                names << QString::fromLocal8Bit(e->d_name);
            }
        }
        closedir(d);
    }
    names.sort();
    return names;
}

QAction* Action(MainUI& window, const QString& text) {
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

TEST(FaultReportRoad, TrayToArchive) {
    ui_test::LinkSetUp();
    const std::string config =
        std::string(R"("config": {"LastAccessSession": "Office.ini", "ProxyType": 1,
                      "ProxyAddr": "127.0.0.1", "ProxyPort": 3128, "ProxyUser": "puser",
                      "ProxyPwd": ")") + kStoredProxyPassword + R"(",
                      "Sessions[0].ProfileName": "Office.ini", "Sessions[0].ConnectionType": 1,
                      "Sessions[0].UserName": "alice", "Sessions[0].Password": ")" +
        kSessionPassword + R"(", "Sessions[0].RemPwd": 1})";
    ui_test::SimLink link(config);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();

    // The home the platform's log was started with, so that this process's log file lies
    // in the report's folder. (The simulator fixture moved HOME; it puts it back to this
    // same folder when it ends.)
    char dir[4096] = {};
    ddmLogDirCopy(dir, sizeof(dir));
    std::string logDir = dir;
    while (!logDir.empty() && logDir.back() == '/') logDir.pop_back();
    const std::string suffix = "/.VanTrelo/log";
    ASSERT_GT(logDir.size(), suffix.size());
    ASSERT_EQ(logDir.compare(logDir.size() - suffix.size(), suffix.size(), suffix), 0) << logDir;
    const std::string home = logDir.substr(0, logDir.size() - suffix.size());
    setenv("HOME", home.c_str(), 1);
    setenv("http_proxy", (std::string("http://user:") + kEnvProxyPassword + "@127.0.0.1:3128").c_str(), 1);
    uiProxySourceSet(EnvironmentProxy);

    // What a report must not take along: a link to a key, a hidden file, a subfolder.
    const std::string secret = link.sim().Dir() + "/id_rsa";
    {
        QFile f(QString::fromStdString(secret));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kPlantedText);
    }
    ASSERT_EQ(symlink(secret.c_str(), (logDir + "/planted.log").c_str()), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(logDir + "/sub")));
    {
        QFile hidden(QString::fromStdString(logDir + "/.hidden"));
        ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
        hidden.write("hidden\n");
        QFile inner(QString::fromStdString(logDir + "/sub/inner.log"));
        ASSERT_TRUE(inner.open(QIODevice::WriteOnly));
        inner.write("inner\n");
    }

    UIContext::GetInstance()->SetPluginMode(0);
    UIContext::GetInstance()->SetSystemType(2);
    UIContext::GetInstance()->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
    UIContext::GetInstance()->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    ASSERT_EQ(UISystemProfile::GetInstance()->GetProxyPwd(), QString(kStoredProxyPassword));
    auto window = std::make_unique<MainUI>(nullptr);
    window->Init();

    BoxDriver driver;
    QString shownLog;
    QString archivePath;
    driver.AnswerWith([](QWidget* box) {
        ASSERT_TRUE(BoxDriver::TypeInto(box, "te_write", "The tunnel dropped after login."));
        ASSERT_TRUE(BoxDriver::ClickButton(box, "tb_errorMsg"));
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
    });
    driver.AnswerWith([&shownLog](QWidget* box) {
        auto* table = box->findChild<QTableWidget*>("tw_error");
        ASSERT_NE(table, nullptr);
        for (int row = 0; row < table->rowCount(); ++row) {
            QTableWidgetItem* item = table->item(row, 0);
            if (item->text().startsWith("VanTrelo_uitest_")) {
                QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                                  table->visualItemRect(item).center());
                break;
            }
        }
        shownLog = box->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText();
        box->close();
    });
    driver.AnswerWith([&archivePath](QWidget* box) {
        archivePath = box->findChild<QLineEdit*>("le_Path")->text();
        ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_Commit"));
    });
    driver.Answer("OK");
    QAction* faultReport = Action(*window, "Fault report");
    ASSERT_NE(faultReport, nullptr);
    faultReport->trigger();
    uiProxySourceSet(nullptr);

    ASSERT_EQ(driver.Seen().size(), 4u);
    EXPECT_EQ(driver.Seen()[0].className, QString("BreakDownSubmit"));
    EXPECT_EQ(driver.Seen()[1].className, QString("ErrorReport"));
    EXPECT_EQ(driver.Seen()[2].className, QString("SaveErroeReportWidget"));
    EXPECT_EQ(driver.Seen()[3].text,
              LanguageSetting::GetInstance()->GetValue("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_ZIP_SUCCESS"));
    EXPECT_TRUE(shownLog.contains("[Finsh main ui init]")) << "the viewer showed this process's log";

    const QString archive = QString(archivePath).replace('\\', '/');
    EXPECT_TRUE(archive.startsWith(QString::fromStdString(home) + "/.VanTrelo/VanTreloFaultReport"));
    ASSERT_TRUE(QFile::exists(archive)) << archive.toStdString();
    EXPECT_EQ(Unzip({"-t", archive}).exitCode, 0);

    const UnzipRun listed = Unzip({"-Z1", archive});
    ASSERT_EQ(listed.exitCode, 0);
    QStringList members = QString::fromUtf8(listed.out).split('\n', Qt::SkipEmptyParts);
    members.sort();
    const QStringList expected = VisibleRegularFiles(logDir);
    EXPECT_EQ(members, expected);
    for (const char* name : {"operate_system_info.txt", "route_info.txt", "netcard_info.txt",
                             "proxy_info.txt", "error_detail.txt"}) {
        EXPECT_TRUE(members.contains(name)) << name;
    }
    EXPECT_EQ(members.filter(QRegularExpression("^VanTrelo_uitest_\\d+\\.log$")).size(), 1);
    EXPECT_EQ(members.size(), 6);

    const UnzipRun content = Unzip({"-p", archive});
    ASSERT_EQ(content.exitCode, 0);
    EXPECT_TRUE(content.out.contains("The tunnel dropped after login."));
    EXPECT_TRUE(content.out.contains("proxy type is :manual"));
    for (const char* secretText : {kEnvProxyPassword, kStoredProxyPassword, kSessionPassword, kPlantedText}) {
        EXPECT_FALSE(content.out.contains(secretText)) << secretText;
    }
    unsetenv("http_proxy");
}

}  // namespace
