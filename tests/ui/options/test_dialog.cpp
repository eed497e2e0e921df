// The update download dialog, run as the client update runs it (on the stack, exec(),
// then a look for the package file) and answered through the box driver: its form and
// texts, YES to a package of the simulator's HTTPS server, NO and Escape, a target that
// cannot be created, a place taken by another user's file, a link or a pipe, a stale
// package of the user's own, a download that fails, a cancel by closing the progress
// window or by Escape, a full disk, and a URL without a file name.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <string>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialog.h"
#include "ddm_log.h"
#include "report_support.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"

namespace {

using report_test::Text;
using vt_qt_test::BoxDriver;
using vt_qt_test::SeenBox;

constexpr int kPackageSize = 2 * 1024 * 1024;
constexpr int kStallAfter = 100000;

QByteArray Pattern(int n) {
    QByteArray s(n, '\0');
    uint32_t x = 88172645u;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// What stands at a path, looked at without following a link: type and mode, owner,
// inode, a link's target and a regular file's content.
std::string Place(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        return "nothing";
    }
    std::string d = std::to_string(st.st_mode) + " uid " + std::to_string(st.st_uid) + " ino " +
                    std::to_string(st.st_ino);
    if (S_ISLNK(st.st_mode)) {
        char to[4096] = {};
        d += " -> " + std::string(to, size_t(std::max<ssize_t>(0, ::readlink(name.constData(), to, sizeof(to)))));
    }
    if (S_ISREG(st.st_mode)) {
        d += " " + ReadAll(path).toStdString();
    }
    return d;
}

class UpdateDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        env_ = new report_test::ReportEnv();
        prefix_ = new QString(QString("vtdlg-%1-").arg(::getpid()));
        const std::string package = env_->Tmp().toStdString() + "/package.bin";
        package_ = new QByteArray(Pattern(kPackageSize));
        std::ofstream(package, std::ios::binary).write(package_->constData(), package_->size());
        std::string list;
        for (const char* mode : {"normal", "closeMidBody", "stall"}) {
            list += std::string(list.empty() ? "" : ",") + R"({"path":"/app/)" +
                    prefix_->toStdString() + mode + R"(.tar.gz","file":")" + package +
                    R"(","mode":")" + mode + R"(","stallAfterBytes":)" +
                    std::to_string(kStallAfter) + "}";
        }
        list += R"(,{"path":"/app/folder/","file":")" + package + R"(","mode":"normal"})";
        sim_ = new ui_test::Sim(R"("https":{"port":0,"files":[)" + list + "]}");
    }
    static void TearDownTestSuite() {
        delete sim_;
        delete package_;
        delete prefix_;
        delete env_;
    }
    void SetUp() override {
        ASSERT_TRUE(sim_->Started()) << sim_->Diagnostics();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    void TearDown() override {
        QDir tmp("/tmp");
        for (const QString& name : tmp.entryList({*prefix_ + "*"}, QDir::AllEntries | QDir::Hidden)) {
            QFileInfo info(tmp.filePath(name));
            if (info.isDir()) {
                QDir(info.filePath()).removeRecursively();
            } else {
                QFile::remove(info.filePath());
            }
        }
    }

    static QString Url(const char* mode) {
        return QString("https://127.0.0.1:%1/app/%2%3.tar.gz")
            .arg(sim_->Port("https"))
            .arg(*prefix_)
            .arg(mode);
    }
    static QString Target(const char* mode) {
        return QString("/tmp/%1%2.tar.gz").arg(*prefix_).arg(mode);
    }

    // Builds the dialog as the client update does and runs it; the answers queued before
    // decide what happens in it.
    static void Run(const QString& url, int igmEnable = 0, QString* status = nullptr) {
        Dialog dialog;
        dialog.setUrl(url);
        dialog.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", 9));
        dialog.igmEnable = igmEnable;
        dialog.exec();
        if (status != nullptr) {
            *status = dialog.findChild<QLabel*>("statusLabel")->text();
        }
    }

    // The answer to the question: YES.
    void QueueYes() {
        driver.AnswerWith([](QWidget* box) { ASSERT_TRUE(BoxDriver::ClickButton(box, "downloadButton")); },
                          "YES");
    }

    static report_test::ReportEnv* env_;
    static QString* prefix_;
    static QByteArray* package_;
    static ui_test::Sim* sim_;
    BoxDriver driver;
};

report_test::ReportEnv* UpdateDialogTest::env_ = nullptr;
QString* UpdateDialogTest::prefix_ = nullptr;
QByteArray* UpdateDialogTest::package_ = nullptr;
ui_test::Sim* UpdateDialogTest::sim_ = nullptr;

TEST_F(UpdateDialogTest, FormTextsAndSlots) {
    for (int language : {1033, 2052}) {
        SCOPED_TRACE(language);
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        Dialog dialog;
        EXPECT_EQ(dialog.objectName(), "Dialog");
        EXPECT_EQ(dialog.size(), QSize(426, 80));
        EXPECT_EQ(dialog.minimumSize(), QSize(0, 80));
        EXPECT_EQ(dialog.maximumSize(), QSize(666, 80));
        EXPECT_EQ(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
        EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_EQ(dialog.parent(), nullptr);
        EXPECT_EQ(dialog.igmEnable, 0);
        auto* label = dialog.findChild<QLabel*>("statusLabel");
        auto* yes = dialog.findChild<QPushButton*>("downloadButton");
        auto* no = dialog.findChild<QPushButton*>("quitButton");
        ASSERT_TRUE(label && yes && no);
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(label->minimumSize(), QSize(225, 22));
        EXPECT_EQ(label->font().family(), QString::fromUtf8("微软雅黑"));
        EXPECT_TRUE(yes->isDefault());
        EXPECT_FALSE(no->autoDefault());
        auto* rows = qobject_cast<QVBoxLayout*>(dialog.layout());
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(rows->spacing(), 6);
        EXPECT_EQ(rows->contentsMargins(), QMargins(11, 11, 11, 11));
        EXPECT_EQ(dialog.findChild<QProgressDialog*>(), nullptr);
        const struct {
            QString shown;
            const char* key;
        } texts[] = {
            {dialog.windowTitle(), "/UI_DOWNLOAD/UI_DOWNLOAD_TITLE"},
            {label->text(), "/UI_DOWNLOAD/UI_DOWNLOAD_LABEL"},
            {yes->text(), "/UI_DOWNLOAD/UI_DOWNLOAD_OK"},
            {no->text(), "/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE"},
        };
        for (const auto& t : texts) {
            EXPECT_FALSE(t.shown.isEmpty()) << t.key;
            EXPECT_EQ(t.shown, Text(t.key)) << t.key;
        }
    }

    const QMetaObject& mo = Dialog::staticMetaObject;
    QStringList declared;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        EXPECT_EQ(m.methodType(), QMetaMethod::Slot) << m.methodSignature().constData();
        declared << QString::fromLatin1(m.methodSignature()) + (m.access() == QMetaMethod::Public ? "+" : "-");
    }
    EXPECT_EQ(declared, QStringList({"on_downloadButton_clicked()+", "on_quitButton_clicked()-",
                                  "httpReadyRead()-", "httpDownloadFinished()-",
                                  "updateDownloadProgesss(qlonglong,qlonglong)-",
                                  "cancelDownload()-", "autoCloseMsgBox(QString)-",
                                  "Set_Progress_Data(int)-", "Set_Progress_Total(int)-",
                                  "GM_SSL_Download_End()-"}));
    EXPECT_EQ(mo.method(mo.indexOfSlot("autoCloseMsgBox(QString)")).parameterNames(),
              QList<QByteArray>({"msgBoxInfo"}));
}

TEST_F(UpdateDialogTest, PackageNameIsTheDecodedLastSegment) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"https://127.0.0.1:443/app/vantrelo-macosx.tar.gz", "vantrelo-macosx.tar.gz"},
        {"https://127.0.0.1:443/app/new%20client.tar.gz", "new client.tar.gz"},
        {"https://127.0.0.1:443/app/pkg.tar.gz?v=2#top", "pkg.tar.gz"},
        {"https://127.0.0.1:443/app/", "VanTrelo.zip"},
        {"https://127.0.0.1:443", "VanTrelo.zip"},
        {"", "VanTrelo.zip"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Dialog::packageFileName(c.url), QString::fromUtf8(c.name)) << c.url;
    }
}

// YES with the progress window left alone: the package lies byte for byte at
// "/tmp/" + its name when exec() returns, and nothing but the question and the progress
// window was shown.
TEST_F(UpdateDialogTest, YesDownloadsThePackageIntoTmp) {
    QueueYes();
    driver.AnswerLetEnd();
    Run(Url("normal"));
    ASSERT_EQ(driver.Seen().size(), 2u);
    const SeenBox& question = driver.Seen()[0];
    EXPECT_EQ(question.className, "Dialog");
    EXPECT_FALSE(question.hasParent);
    EXPECT_TRUE(question.modal);
    const SeenBox& progress = driver.Seen()[1];
    EXPECT_EQ(progress.className, "QProgressDialog");
    EXPECT_TRUE(progress.hasParent);
    EXPECT_TRUE(progress.modal);
    EXPECT_EQ(progress.title, Text("/UI_DOWNLOAD/UI_DOWNLOAD_DOWNLOADING_TITLE"));
    EXPECT_EQ(progress.text, Text("/UI_DOWNLOAD/UI_DOWNLOAD_DOWNLOADING"));
    EXPECT_TRUE(progress.buttons.isEmpty()) << "a progress window without a cancel button";
    EXPECT_EQ(progress.flags & Qt::WindowType_Mask, int(Qt::Dialog));
    EXPECT_TRUE(progress.flags & Qt::WindowTitleHint);
    EXPECT_FALSE(progress.flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(ReadAll(Target("normal")) == *package_) << "the package differs";
}

// NO, Escape and the window's close button on the question leave no file and remove none
// that was there before.
TEST_F(UpdateDialogTest, NoEscapeOrCloseOnTheQuestionLeaveNoFile) {
    const size_t fetched = sim_->Log().size();
    for (const QString& answer :
         {QString("NO"), QString(BoxDriver::kEscape), QString(BoxDriver::kClose)}) {
        SCOPED_TRACE(answer.toStdString());
        driver.Answer(answer == "NO" ? Text("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE") : answer);
        Run(Url("normal"));
        EXPECT_EQ(driver.Seen().size(), 1u);
        EXPECT_FALSE(QFileInfo::exists(Target("normal")));
        driver.Clear();
    }
    QFile earlier(Target("normal"));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    driver.Answer(Text("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE"));
    Run(Url("normal"));
    EXPECT_EQ(ReadAll(Target("normal")), "earlier");
    EXPECT_EQ(sim_->Log().size(), fetched) << "nothing was fetched";
}

// A target that cannot be created (a folder of that name): the warning with the path and
// the reason, the dialog still open with YES enabled; once the folder is gone a second
// YES downloads.
TEST_F(UpdateDialogTest, TargetThatCannotBeOpenedWarnsAndYesWorksAgain) {
    ASSERT_TRUE(QDir().mkpath(Target("normal")));
    const QString reason = "something that is not a regular file is in its place";
    driver.AnswerWith([](QWidget* box) {
        auto* yes = box->findChild<QPushButton*>("downloadButton");
        yes->click();  // the warning comes and goes in here
        EXPECT_TRUE(box->isVisible());
        EXPECT_TRUE(yes->isEnabled());
        ASSERT_TRUE(QDir(Target("normal")).removeRecursively());
        yes->click();
    });
    driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
    driver.AnswerLetEnd();
    Run(Url("normal"));
    ASSERT_EQ(driver.Seen().size(), 3u);
    const SeenBox& warning = driver.Seen()[1];
    EXPECT_EQ(warning.icon, int(QMessageBox::Warning));
    EXPECT_EQ(warning.text,
              Text("/UI_DOWNLOAD/UI_DOWNLOAD_UNABLE_SAVE") + Target("normal") + ":" + reason);
    EXPECT_EQ(driver.Seen()[2].className, "QProgressDialog");
    EXPECT_TRUE(ReadAll(Target("normal")) == *package_);
}

// What stands at the package's place and is no stale package of the user's own: a file
// of another user in the sticky /tmp (root may remove it, the download must not), a
// link to a file of the user's, a link to nowhere, a pipe with a reader. YES shows the
// warning with the place and its reason and fetches nothing; nothing is written through
// the place, nothing is created where a link points, and the place stays as it was, also
// after NO.
TEST_F(UpdateDialogTest, TakenPlaceFailsWithItsReasonAndIsLeftAsItWas) {
    struct stat tmpSt {};
    ASSERT_EQ(::stat("/tmp", &tmpSt), 0);
    ASSERT_TRUE(tmpSt.st_mode & S_ISVTX) << "/tmp is sticky";
    const QString target = Target("normal");
    const QByteArray path = QFile::encodeName(target);
    const QString mine = env_->Tmp() + "/mine";
    const QString nowhere = env_->Tmp() + "/nowhere";
    int reader = -1;
    const struct {
        const char* name;
        std::function<void()> stage;
        QString reason;
        bool needsRoot;
    } cases[] = {
        {"another user's file",
         [&] {
             ASSERT_TRUE(WriteAll(target, "another user's"));
             ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
         },
         "a file of another user (uid 65534) is in its place", true},
        {"a link to a file of the user's",
         [&] {
             ASSERT_TRUE(WriteAll(mine, "the user's own"));
             ASSERT_EQ(::symlink(QFile::encodeName(mine).constData(), path.constData()), 0);
         },
         "a symbolic link is in its place", false},
        {"a link to nowhere",
         [&] { ASSERT_EQ(::symlink(QFile::encodeName(nowhere).constData(), path.constData()), 0); },
         "a symbolic link is in its place", false},
        {"a pipe with a reader",
         [&] {
             ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
             reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             ASSERT_GE(reader, 0);
         },
         "something that is not a regular file is in its place", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) {
            continue;  // files of another user need root to be made
        }
        c.stage();
        const std::string before = Place(target);
        const std::string mineBefore = Place(mine);
        const size_t fetched = sim_->Log().size();
        driver.AnswerWith([](QWidget* box) {
            auto* yes = box->findChild<QPushButton*>("downloadButton");
            yes->click();  // the warning comes and goes in here
            EXPECT_TRUE(box->isVisible());
            EXPECT_TRUE(yes->isEnabled());
            ASSERT_TRUE(BoxDriver::ClickButton(box, "quitButton"));
        });
        driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
        Run(Url("normal"));
        ASSERT_EQ(driver.Seen().size(), 2u);
        const SeenBox& warning = driver.Seen()[1];
        EXPECT_EQ(warning.icon, int(QMessageBox::Warning));
        EXPECT_EQ(warning.text, Text("/UI_DOWNLOAD/UI_DOWNLOAD_UNABLE_SAVE") + target + ":" + c.reason);
        EXPECT_EQ(sim_->Log().size(), fetched) << "nothing was fetched";
        EXPECT_EQ(Place(target), before);
        EXPECT_EQ(Place(mine), mineBefore);
        EXPECT_FALSE(QFileInfo::exists(nowhere));
        if (reader >= 0) {
            char byte;
            EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing was written into the pipe";
            ::close(reader);
            reader = -1;
        }
        ASSERT_EQ(::unlink(path.constData()), 0);
        driver.Clear();
    }
}

// A package of the user's own left by an earlier download is removed and the package
// created anew for the user alone: a second name of the old file keeps what it held.
TEST_F(UpdateDialogTest, StalePackageOfTheUsersOwnIsReplacedNotWrittenThrough) {
    const QString target = Target("normal");
    const QString second = Target("second-name");
    ASSERT_TRUE(WriteAll(target, "stale"));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0644), 0);
    ASSERT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(second).constData()), 0);
    QueueYes();
    driver.AnswerLetEnd();
    Run(Url("normal"));
    EXPECT_TRUE(ReadAll(target) == *package_) << "the package differs";
    EXPECT_EQ(ReadAll(second), "stale");
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_nlink, 1u);
}

// A download that fails (the server drops the body halfway, GM/T TLS that this build
// lacks): the failure box, which ends by itself, and no file.
TEST_F(UpdateDialogTest, FailedDownloadShowsTheSelfClosingBoxAndLeavesNoFile) {
    const struct {
        const char* name;
        const char* mode;
        int igmEnable;
    } cases[] = {
        {"body cut", "closeMidBody", 0},
        {"GM/T TLS", "normal", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QueueYes();
        driver.AnswerLetEnd();
        driver.AnswerLetEnd();
        QElapsedTimer shown;
        shown.start();
        Run(Url(c.mode), c.igmEnable);
        ASSERT_EQ(driver.Seen().size(), 3u);
        const SeenBox& box = driver.Seen()[2];
        EXPECT_EQ(box.className, "QMessageBox");
        EXPECT_EQ(box.icon, int(QMessageBox::Information));
        EXPECT_EQ(box.title, Text("/UI_DOWNLOAD/UI_DOWNLOAD_TITLE"));
        EXPECT_EQ(box.text, Text("/UI_DOWNLOAD/UI_DOWNLOAD_FAILED"));
        EXPECT_EQ(box.buttons.size(), 1);
        EXPECT_FALSE(box.hasParent);
        EXPECT_EQ(box.flags & int(Qt::MSWindowsFixedSizeDialogHint), int(Qt::MSWindowsFixedSizeDialogHint));
        EXPECT_FALSE(QFileInfo::exists(Target(c.mode)));
        driver.Clear();
    }
}

// A stalled download cancelled by closing the progress window, and by Escape, which
// ends the window's exec() without its cancel signal: the status says so, the partial
// file is gone, and no failure box follows.
TEST_F(UpdateDialogTest, CancelByCloseOrEscapeRemovesThePartialFile) {
    for (const char* how : {BoxDriver::kClose, BoxDriver::kEscape}) {
        SCOPED_TRACE(how);
        const QString answer = QString::fromLatin1(how);
        QueueYes();
        qint64 partial = -1;
        driver.AnswerWith([answer, &partial](QWidget* box) {
            auto* progress = qobject_cast<QProgressDialog*>(box);
            ASSERT_NE(progress, nullptr);
            QElapsedTimer waited;
            waited.start();
            while (progress->value() < kStallAfter && waited.elapsed() < 20000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
            partial = QFileInfo(Target("stall")).size();
            BoxDriver::Respond(box, answer);
        });
        QString status;
        Run(Url("stall"), 0, &status);
        EXPECT_GT(partial, 0) << "the stall was reached with a partial file";
        EXPECT_EQ(driver.Seen().size(), 2u) << "no failure box";
        EXPECT_EQ(status, Text("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE_LABEL"));
        EXPECT_FALSE(QFileInfo::exists(Target("stall")));
        driver.Clear();
    }
}

// A full disk (a file size limit below the package's, in a child): the failure box and
// no file, never a short package taken for a whole one.
TEST_F(UpdateDialogTest, FullDiskFailsTheDownload) {
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        limit.rlim_cur = kPackageSize / 2;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        QueueYes();
        driver.AnswerLetEnd();
        driver.AnswerLetEnd();
        Run(Url("normal"));
        ASSERT_EQ(driver.Seen().size(), 3u);
        EXPECT_EQ(driver.Seen()[2].text, Text("/UI_DOWNLOAD/UI_DOWNLOAD_FAILED"));
        EXPECT_FALSE(QFileInfo::exists(Target("normal")));
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << vt_test::Describe(r);
}

// A URL whose path ends in "/" is saved as "/tmp/VanTrelo.zip".
TEST_F(UpdateDialogTest, UrlWithoutAFileNameWritesVanTreloZip) {
    const QString target = "/tmp/VanTrelo.zip";
    QueueYes();
    driver.AnswerLetEnd();
    Run(QString("https://127.0.0.1:%1/app/folder/").arg(sim_->Port("https")));
    EXPECT_TRUE(ReadAll(target) == *package_);
    QFile::remove(target);
}

}  // namespace
