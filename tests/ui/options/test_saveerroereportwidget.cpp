// The fault report archive dialog: the default name, Browse, Commit over a fixture log
// folder (what the archive holds, the logged command, targets a shell would have run,
// the length limit, failures that must not be reported as a saved report) and Cancel.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDate>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "report_support.h"
#include "saveerroereportwidget.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"

namespace {

using report_test::Text;
using report_test::WriteAll;
using vt_qt_test::BoxDriver;

const char kSuccess[] = "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_ZIP_SUCCESS";
const char kFailed[] = "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_FAILED";
const char kStart[] = "[To compress errorreport][start mac or linux zip]";
const char kCommandLine[] = "[Mac or linux zip command is ";
const char kTooLong[] = "[To compress errorreport error][get invalid file path length]";

// The member names of a zip archive, as unzip lists them.
QStringList Members(const QString& archive) {
    QProcess unzip;
    unzip.start("unzip", {"-Z1", archive});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0) {
        return {"<unzip failed>"};
    }
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

// base + "/" + folders + "/" + leaf, exactly length bytes long; the folders are made.
QString PathOfLength(const QString& base, int length, const QString& leaf) {
    QString folder = base;
    while (folder.size() + 1 + leaf.size() < length) {
        const int left = length - folder.size() - 1 - leaf.size();
        folder += "/" + QString(qMin(200, left - 1), 'd');
    }
    QDir().mkpath(folder);
    return folder + "/" + leaf;
}

class SaveErroeReportWidgetTest : public ::testing::Test {
protected:
    // A log folder as the fault report leaves it, with what a report must never hold:
    // a hidden file, a subfolder, and a link to a file outside.
    void SetUp() override {
        ASSERT_TRUE(env.MakeLogDir());
        const QString dir = env.LogDir();
        for (const char* name : {"operate_system_info.txt", "route_info.txt", "netcard_info.txt",
                                 "proxy_info.txt", "error_detail.txt", "VanTrelo_VanTrelo_0.log"}) {
            ASSERT_TRUE(WriteAll(dir + "/" + name, QByteArray(name) + "\n"));
        }
        ASSERT_TRUE(WriteAll(dir + "/.hidden", "hidden\n"));
        ASSERT_TRUE(QDir().mkpath(dir + "/sub"));
        ASSERT_TRUE(WriteAll(dir + "/sub/inner.log", "inner\n"));
        ASSERT_TRUE(WriteAll(env.Tmp() + "/id_rsa", "PRIVATE KEY\n"));
        ASSERT_EQ(symlink((env.Tmp() + "/id_rsa").toLocal8Bit().constData(),
                          (dir + "/key.log").toLocal8Bit().constData()),
                  0);
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(env.Tmp()));
    }
    void TearDown() override { QDir::setCurrent(oldCwd_); }

    static QStringList ReportFiles() {
        return {"VanTrelo_VanTrelo_0.log", "error_detail.txt", "netcard_info.txt",
                "operate_system_info.txt", "proxy_info.txt", "route_info.txt"};
    }

    // Runs the dialog as the fault report dialog does, with that text in the path field
    // and Commit pressed; the result box is answered. Its record, or an empty one.
    vt_qt_test::SeenBox Commit(const QString& path) {
        driver.Clear();
        driver.AnswerWith([path](QWidget* box) {
            box->findChild<QLineEdit*>("le_Path")->setText(path);
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_Commit"));
        });
        driver.Answer("OK");
        SaveErroeReportWidget dialog(nullptr);
        dialog.Init();
        dialog.exec();
        EXPECT_FALSE(dialog.isVisible()) << "Commit always ends the dialog";
        return driver.Seen().size() == 2 ? driver.Seen()[1] : vt_qt_test::SeenBox();
    }

    report_test::ReportEnv env;
    BoxDriver driver;
    QString oldCwd_;
};

TEST_F(SaveErroeReportWidgetTest, FormAndDefaultName) {
    const QDate before = QDate::currentDate();
    SaveErroeReportWidget dialog(nullptr);
    const QDate after = QDate::currentDate();
    EXPECT_EQ(dialog.windowTitle(), QString("SaveErroeReportWidget"));
    dialog.Init();
    EXPECT_EQ(dialog.objectName(), QString("basewidget"));
    EXPECT_EQ(dialog.minimumSize(), QSize(431, 99));
    EXPECT_EQ(dialog.maximumSize(), QSize(431, 99));
    struct Shown {
        QString text;
        const char* key;
    } shown[] = {
        {dialog.windowTitle(), "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_TITLE"},
        {dialog.findChild<QLabel*>("l_tip")->text(), "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_LABEL"},
        {dialog.findChild<QPushButton*>("pb_Browse")->text(), "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_BROWSE"},
        {dialog.findChild<QPushButton*>("pb_Commit")->text(), "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_COMMIT"},
        {dialog.findChild<QPushButton*>("pb_Cancle")->text(), "/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_CANCLE"},
    };
    for (const Shown& s : shown) {
        EXPECT_FALSE(s.text.isEmpty()) << s.key;
        EXPECT_EQ(s.text, Text(s.key));
    }
    auto* edit = dialog.findChild<QLineEdit*>("le_Path");
    EXPECT_EQ(edit->accessibleName(), QString::fromUtf8("压缩路径"));
    EXPECT_EQ(dialog.findChild<QPushButton*>("pb_Cancle")->accessibleName(), QString::fromUtf8("取消"));

    // The home folder with "\" for "/", the per-user folder, the name and a 16-digit stamp
    // whose last two digits are the day of the month.
    const QString path = edit->text();
    const QRegularExpression form(R"(^\\.*\\\.VanTrelo\\VanTreloFaultReport(\d{16})\.zip$)");
    const QRegularExpressionMatch m = form.match(path);
    ASSERT_TRUE(m.hasMatch()) << path.toStdString();
    EXPECT_TRUE(path.startsWith(QString(env.Home()).replace('/', '\\') + "\\.VanTrelo\\"));
    const QString stamp = m.captured(1);
    EXPECT_TRUE(stamp.startsWith(before.toString("yyyyMMdd")) || stamp.startsWith(after.toString("yyyyMMdd")));
    EXPECT_TRUE(stamp.endsWith(before.toString("dd")) || stamp.endsWith(after.toString("dd")));
}

TEST_F(SaveErroeReportWidgetTest, DefaultNameForAFolder) {
    SaveErroeReportWidget dialog(nullptr);
    const struct {
        const char* folder;
        const char* prefix;
    } cases[] = {
        {"/", "\\VanTreloFaultReport"},
        {"/tmp/a b", "\\tmp\\a b\\VanTreloFaultReport"},
        {"/tmp/a/", "\\tmp\\a\\VanTreloFaultReport"},
        {"C:\\reports\\", "C:\\reports\\VanTreloFaultReport"},
    };
    for (const auto& c : cases) {
        dialog.findChild<QLineEdit*>("le_Path")->setText("typed");
        dialog.SetDefaultFileName(c.folder);
        const QString path = dialog.findChild<QLineEdit*>("le_Path")->text();
        const QRegularExpression form("^" + QRegularExpression::escape(c.prefix) + R"(\d{16}\.zip$)");
        EXPECT_TRUE(form.match(path).hasMatch()) << c.folder << " -> " << path.toStdString();
    }
}

// Browse asks for a folder only; a chosen one gives a fresh name in it, a cancelled
// chooser keeps what the user typed.
TEST_F(SaveErroeReportWidgetTest, BrowseChoosesAFolder) {
    const QString chosen = env.Tmp() + "/chosen";
    ASSERT_TRUE(QDir().mkpath(chosen));
    SaveErroeReportWidget dialog(nullptr);
    dialog.Init();
    driver.AnswerLetEnd();
    dialog.show();
    ASSERT_TRUE(driver.WaitSeen(1));
    auto* edit = dialog.findChild<QLineEdit*>("le_Path");

    driver.AnswerWith([chosen](QWidget* box) {
        auto* chooser = qobject_cast<QFileDialog*>(box);
        ASSERT_NE(chooser, nullptr);
        EXPECT_EQ(chooser->windowTitle(), LanguageSetting::GetInstance()->GetGlobalLang().SAVEAS);
        EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_NE(chooser->fileMode(), QFileDialog::ExistingFile);
        ASSERT_TRUE(BoxDriver::ChooseFile(box, chosen));
    });
    ASSERT_TRUE(BoxDriver::ClickButton(&dialog, "pb_Browse"));
    const QRegularExpression form("^" + QRegularExpression::escape(QString(chosen).replace('/', '\\')) +
                                  R"(\\VanTreloFaultReport\d{16}\.zip$)");
    EXPECT_TRUE(form.match(edit->text()).hasMatch()) << edit->text().toStdString();

    ASSERT_TRUE(BoxDriver::TypeInto(&dialog, "le_Path", "/tmp/typed.zip"));
    driver.Answer(BoxDriver::kEscape);
    ASSERT_TRUE(BoxDriver::ClickButton(&dialog, "pb_Browse"));
    EXPECT_EQ(edit->text(), QString("/tmp/typed.zip"));
    EXPECT_EQ(driver.Seen().size(), 3u);
    dialog.hide();
}

// The archive holds the visible regular files directly in the log folder, nothing a
// link points to, nothing hidden, no subfolder; the command is logged as a shell would
// have been given it, whether the target is typed with "/" or "\".
TEST_F(SaveErroeReportWidgetTest, CommitPacksTheLogFolder) {
    const QString folder = env.Tmp() + "/x y";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString source = env.Home() + "/.VanTrelo/log/*";
    for (const QString& typed : {folder + "/a.zip", QString(folder + "/b.zip").replace('/', '\\')}) {
        const QString archive = QString(typed).replace('\\', '/');
        const vt_qt_test::SeenBox box = Commit(typed);
        EXPECT_EQ(box.text, Text(kSuccess)) << typed.toStdString();
        EXPECT_EQ(box.icon, int(QMessageBox::Information));
        EXPECT_EQ(box.title, QString());
        EXPECT_EQ(box.buttons, QStringList{"OK"});
        EXPECT_TRUE(box.hasParent);
        const QString logged = kCommandLine + QString("zip -j ") + QString(archive).replace(" ", "\\ ") +
                               " " + source + "]";
        EXPECT_EQ(ui_test::LogCount(logged.toStdString()), 1u) << logged.toStdString();
        EXPECT_EQ(Members(archive), ReportFiles()) << typed.toStdString();
    }
}

// Targets a shell would have read as commands are only file names for zip. (The
// commands hold no blank: the logged form escapes blanks, and a shell would have run
// them all the same.)
TEST_F(SaveErroeReportWidgetTest, ShellCharactersInTheTargetRunNothing) {
    const QString pwned = env.Tmp() + "/pwned";
    // In a folder that does not exist: no archive, and nothing run.
    vt_qt_test::SeenBox box = Commit(env.Tmp() + "/r$(touch " + pwned + ")`touch " + pwned + "`.zip");
    EXPECT_EQ(box.text, Text(kFailed));
    // Names of their own in the current folder, made as typed.
    const char* names[] = {
        "a$(touch${IFS}pwned1).zip",
        "b`touch${IFS}pwned2`.zip",
        "c.zip;touch${IFS}pwned3",
        "d&touch${IFS}pwned4&.zip",
        "e'f\"g|h>i.zip",
        "-TT.zip",
    };
    for (const char* name : names) {
        box = Commit(name);
        EXPECT_EQ(box.text, Text(kSuccess)) << name;
        EXPECT_EQ(Members(env.Tmp() + "/" + name), ReportFiles()) << name;
    }
    const QStringList made = QDir(env.Tmp()).entryList({"pwned*", "i.zip"});
    EXPECT_TRUE(made.isEmpty()) << made.join(", ").toStdString();
    EXPECT_FALSE(QFile::exists(pwned));
}

// Whenever no archive came about, the box says so, and the log says why.
TEST_F(SaveErroeReportWidgetTest, FailuresAreReportedAsFailures) {
    const QString source = env.Home() + "/.VanTrelo/log/*";
    const int fixed = QString("zip -j  ").size() + source.toLocal8Bit().size();
    const QString atLimit = PathOfLength(env.Tmp() + "/long", 1024 - fixed, "r.zip");
    const QString overLimit = PathOfLength(env.Tmp() + "/long", 1025 - fixed, "r.zip");
    const QString emptyPath = env.Tmp() + "/emptypath";
    ASSERT_TRUE(QDir().mkpath(emptyPath));
    const struct {
        const char* what;
        QString target;
        QByteArray path;  // PATH while Commit runs; empty: unchanged
        const char* message;
        const char* logged;  // a line that must be added; null: none
        bool runs;           // the command was run and logged
    } cases[] = {
        {"empty path", "", "", kFailed, nullptr, false},
        {"missing folder", env.Tmp() + "/missing/a.zip", "", kFailed,
         "[To compress errorreport error][zip exit status is ", true},
        {"command at the limit", atLimit, "", kSuccess, nullptr, true},
        {"command over the limit", overLimit, "", kFailed, kTooLong, false},
        {"zip not installed", env.Tmp() + "/a.zip", emptyPath.toLocal8Bit(), kFailed,
         "[To compress errorreport error][zip could not be started]", true},
    };
    const QByteArray oldPath = qgetenv("PATH");
    for (const auto& c : cases) {
        const size_t starts = ui_test::LogCount(kStart);
        const size_t commands = ui_test::LogCount(kCommandLine);
        const size_t lines = c.logged != nullptr ? ui_test::LogCount(c.logged) : 0;
        if (!c.path.isEmpty()) {
            qputenv("PATH", c.path);
        }
        const vt_qt_test::SeenBox box = Commit(c.target);
        qputenv("PATH", oldPath);
        EXPECT_EQ(box.text, Text(c.message)) << c.what;
        EXPECT_EQ(box.buttons, QStringList{"OK"}) << c.what;
        EXPECT_EQ(ui_test::LogCount(kStart), starts + (QString(c.target).isEmpty() ? 0 : 1)) << c.what;
        EXPECT_EQ(ui_test::LogCount(kCommandLine), commands + (c.runs ? 1 : 0)) << c.what;
        if (c.logged != nullptr) {
            EXPECT_EQ(ui_test::LogCount(c.logged), lines + 1) << c.what;
        }
    }
    EXPECT_TRUE(QFile::exists(atLimit));
    EXPECT_FALSE(QFile::exists(overLimit));
}

// Cancel asks first: its CANCEL keeps the dialog with its path, OK ends it; neither
// packs or logs anything. Escape ends the dialog without a question.
TEST_F(SaveErroeReportWidgetTest, CancelAsksFirst) {
    SaveErroeReportWidget dialog(nullptr);
    dialog.Init();
    driver.AnswerLetEnd();
    dialog.show();
    ASSERT_TRUE(driver.WaitSeen(1));
    const QString path = dialog.findChild<QLineEdit*>("le_Path")->text();
    const size_t logLines = ui_test::LogLines().size();
    for (const char* answer : {"Cancel", "OK"}) {
        driver.Clear();
        driver.Answer(answer);
        ASSERT_TRUE(BoxDriver::ClickButton(&dialog, "pb_Cancle"));
        ASSERT_EQ(driver.Seen().size(), 1u);
        const vt_qt_test::SeenBox& box = driver.Seen()[0];
        EXPECT_EQ(box.icon, int(QMessageBox::Question));
        EXPECT_EQ(box.title, LanguageSetting::GetInstance()->GetGlobalLang().WARNING);
        EXPECT_EQ(box.text, Text("/UI_SAVEERRORREPORT/UI_SAVEERRORREPORT_MEAAAGE_TEXT"));
        EXPECT_EQ(box.buttons, (QStringList{"OK", "Cancel"}));
        EXPECT_EQ(dialog.isVisible(), QString(answer) == "Cancel") << answer;
        EXPECT_EQ(dialog.findChild<QLineEdit*>("le_Path")->text(), path);
    }
    driver.Clear();
    driver.Answer(BoxDriver::kEscape);
    SaveErroeReportWidget escaped(nullptr);
    escaped.Init();
    escaped.exec();
    EXPECT_EQ(driver.Seen().size(), 1u) << "no question";
    EXPECT_EQ(ui_test::LogLines().size(), logLines);
    EXPECT_TRUE(QDir(env.Home() + "/.VanTrelo").entryList({"*.zip"}).isEmpty());
}

}  // namespace
