// The install run in-process, with the fixed unpack folder and package path of the real
// one, a helper script the test writes and a kill that only records: the checks and their
// boxes, the unpacking (never through a shell), the stop of the client's programs, the
// helper's start and the result box by its exit code.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "pkg_test.h"
#include "update_test.h"
#include "updatethread.h"
#include "updatewindow.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/temp_env.h"

using update_test::Label;
using vt_qt_test::BoxDriver;

namespace {

constexpr char kExtractDir[] = "/tmp/VanTrelo";
constexpr char kFixedPackage[] = "/tmp/vantrelo-macosx.tar.gz";
const QString kUrl = "https://gw.example/app/vantrelo-macosx.tar.gz";

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

class UpdateRunTest : public ::testing::Test {
protected:
    // Before the test's own folders: the log's folder must outlive them.
    static void SetUpTestSuite() { update_test::LogSetUp(); }
    void SetUp() override {
        update_test::Killed().clear();
        updateKillSet(update_test::RecordKill);
        updateStepMsSet(1);
        vt_test::RemoveTree(kExtractDir);
        (void)unlink(kFixedPackage);
        dir_ = env_.Root();
        // In a folder with a blank, as an install folder may be: the helper must start all
        // the same.
        ASSERT_EQ(mkdir((dir_ + "/install folder").c_str(), 0755), 0);
        helper_ = dir_ + "/install folder/refitter";
        updateHelperPathSet(QString::fromStdString(helper_));
        // The language of the texts the boxes must show.
        (void)mkdir((env_.Home() + "/.VanTrelo").c_str(), 0700);
        pkg_test::WriteFile(env_.Home() + "/.VanTrelo/sysconfig.ini", "[ADVANCED]\nClientLanguageID=1033\n");
        ASSERT_NE(getcwd(cwd_, sizeof(cwd_)), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        lines_ = update_test::UpdateLines().size();
    }
    void TearDown() override {
        if (window_ != nullptr) {
            // As the program does after its loop: the progress thread is waited for.
            updateThread* t = window_->getProgressThread();
            window_.reset();
            if (t != nullptr) {
                t->stop();
                t->wait();
                delete t;
            }
        }
        updateKillSet(nullptr);
        updateHelperPathSet(QString());
        updateStepMsSet(201);
        vt_test::RemoveTree(kExtractDir);
        (void)unlink(kFixedPackage);
        ASSERT_EQ(chdir(cwd_), 0);
    }

    // The helper: writes its argument count and exits with the code.
    void WriteHelper(const std::string& body) {
        pkg_test::WriteFile(helper_, "#!/bin/sh\necho $# > \"" + dir_ + "/helper-args\"\n" + body + "\n", 0755);
    }
    // A package that unpacks to an installer package.
    void WritePackage(const std::string& path) {
        pkg_test::WriteOuterPackage(path, "not read by the stand-in helper");
    }

    // Starts the run as the start timer does and lets it go until it has shown its boxes.
    void RunWith(const QString& packagePath, size_t boxes) {
        window_ = std::make_unique<updateWindow>(nullptr);
        window_->findChild<QTimer*>()->stop();
        window_->setUpdateParam(packagePath + ";" + kUrl + ";alice");
        window_->show();
        ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "on_updateButton_clicked"));
        ASSERT_TRUE(driver_.WaitSeen(boxes, 20000)) << driver_.Seen().size() << " boxes";
    }
    // The update lines this test wrote.
    std::vector<std::string> Lines() const {
        std::vector<std::string> all = update_test::UpdateLines();
        return std::vector<std::string>(all.begin() + static_cast<long>(lines_), all.end());
    }
    void ExpectPackageBox(size_t i) {
        ASSERT_GT(driver_.Seen().size(), i);
        EXPECT_EQ(driver_.Seen()[i].text, Label(1033, "/UI_UPDATE/UI_UPDATE_ERROR_TXT"));
        EXPECT_EQ(driver_.Seen()[i].buttons.size(), 2);
    }

    vt_test::TempEnv env_;
    BoxDriver driver_;
    std::unique_ptr<updateWindow> window_;
    std::string dir_, helper_;
    char cwd_[4096] = {};
    size_t lines_ = 0;
};

// Started by its timer a second after it was built: no package, nothing done.
TEST_F(UpdateRunTest, MissingPackageOffersTheDownloadAndStopsNothing) {
    window_ = std::make_unique<updateWindow>(nullptr);
    window_->setUpdateParam(QString::fromStdString(dir_) + "/vantrelo-macosx.tar.gz;" + kUrl);
    window_->show();
    driver_.Answer(Label(1033, "/UI_UPDATE/UI_UPDATE_USE_OLD"));
    ASSERT_TRUE(driver_.WaitSeen(1, 10000));
    ExpectPackageBox(0);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->isVisible(); }, 5000));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"INFO|[update][mac begin update.]",
                                                 "WARN|[update failed][vantrelo-macosx.tar.gz is not exist.]"}));
    EXPECT_TRUE(update_test::Killed().empty());
    EXPECT_FALSE(Exists(kExtractDir));
}

TEST_F(UpdateRunTest, PackageNotEndingInTarGzIsRefused) {
    const std::string path = dir_ + "/x.TAR.GZ";
    WritePackage(path);
    driver_.Answer(BoxDriver::kEscape);
    RunWith(QString::fromStdString(path), 1);
    ExpectPackageBox(0);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(Lines(), (std::vector<std::string>{"INFO|[update][mac begin update.]",
                                                 "ERROR|[update failed][the type of down file is mistake.cmd is NULL]"}));
    EXPECT_TRUE(update_test::Killed().empty());
    EXPECT_FALSE(Exists(kExtractDir));
}

// No installer package after unpacking, also when an earlier run left one in the unpack
// folder and the new download is damaged: nothing is stopped and no helper runs.
TEST_F(UpdateRunTest, NoInstallerPackageAfterUnpackingStopsNothing) {
    WriteHelper("exit 0");
    struct Case {
        const char* name;
        std::function<void(const std::string&)> stage;
    } cases[] = {
        {"archive without it", [](const std::string& path) {
             const std::string other = path + ".d";
             ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
             pkg_test::WriteFile(other + "/readme", "no installer here");
             ASSERT_EQ(pkg_test::Run({"/bin/tar", "-czf", path, "-C", other, "readme"}), 0);
         }},
        {"damaged archive over a stale folder", [](const std::string& path) {
             pkg_test::WriteFile(path, "this is no gzip data");
             ASSERT_EQ(mkdir(kExtractDir, 0755), 0);
             pkg_test::WriteFile(std::string(kExtractDir) + "/VanTreloInstaller.pkg", "an older download");
         }},
        {"stale folder is a link to a folder with one", [this](const std::string& path) {
             pkg_test::WriteFile(path, "this is no gzip data");
             const std::string planted = dir_ + "/planted";
             ASSERT_EQ(mkdir(planted.c_str(), 0755), 0);
             pkg_test::WriteFile(planted + "/VanTreloInstaller.pkg", "planted");
             ASSERT_EQ(symlink(planted.c_str(), kExtractDir), 0);
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ + "/case" + std::to_string(n++) + "/vantrelo-macosx.tar.gz";
        ASSERT_EQ(mkdir((dir_ + "/case" + std::to_string(n - 1)).c_str(), 0700), 0);
        c.stage(path);
        lines_ = update_test::UpdateLines().size();
        driver_.Clear();
        driver_.Answer(BoxDriver::kEscape);
        RunWith(QString::fromStdString(path), 1);
        ExpectPackageBox(0);
        EXPECT_FALSE(window_->isVisible());
        const std::vector<std::string> lines = Lines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[1], "INFO|[update][cmd is tar -xzf " + path + " -C /tmp/VanTrelo]");
        EXPECT_EQ(lines.back(), "WARN|[update failed][VanTreloInstaller.pkg is not exist.]");
        EXPECT_TRUE(update_test::Killed().empty());
        EXPECT_FALSE(Exists(dir_ + "/helper-args"));
        EXPECT_FALSE(Exists(std::string(kExtractDir) + "/VanTreloInstaller.pkg"));
        EXPECT_TRUE(Exists(dir_ + "/planted/VanTreloInstaller.pkg") || n != 3);
        window_.reset();
        vt_test::RemoveTree(kExtractDir);
    }
}

// The whole road with a package whose path would run a command in a shell: unpacked as
// it is, the client's programs stopped in order, the helper run without arguments, the
// window gone before the success box, the unpack folder removed and the package left
// where it was given. A file at the fixed package path that is not the package this run
// unpacked is no package of the run's, and stays.
TEST_F(UpdateRunTest, SuccessRemovesTheFixedPathsAndShowsTheSuccessBox) {
    WriteHelper("exit 0");
    const std::string folder = dir_ + "/it's a $(touch p) folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/vantrelo-macosx.tar.gz";
    WritePackage(path);
    pkg_test::WriteFile(kFixedPackage, "the front end's download");
    bool windowGoneFirst = false;
    driver_.AnswerWith([&](QWidget* box) {
        windowGoneFirst = !window_->isVisible();
        ASSERT_TRUE(BoxDriver::Respond(box, Label(1033, "/GLOBAL/OK")));
    });
    RunWith(QString::fromStdString(path), 1);
    const auto& box = driver_.Seen()[0];
    EXPECT_EQ(box.text, Label(1033, "/UI_UPDATE/UI_UPDATE_SECCESS"));
    EXPECT_EQ(box.buttons, QStringList{Label(1033, "/GLOBAL/OK")});
    EXPECT_TRUE(windowGoneFirst);
    EXPECT_EQ(update_test::Killed(), (std::vector<std::string>{"VanTreloPromoteService", "VanTreloCS", "VanTrelo"}));
    EXPECT_EQ(pkg_test::ReadFile(dir_ + "/helper-args"), "0\n");
    EXPECT_FALSE(Exists(kExtractDir));
    EXPECT_EQ(pkg_test::ReadFile(kFixedPackage), "the front end's download");
    EXPECT_TRUE(Exists(path));
    EXPECT_FALSE(Exists(dir_ + "/p"));
    EXPECT_FALSE(Exists(folder + "/p"));
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"INFO|[update][mac begin update.]",
                                               "INFO|[update][cmd is tar -xzf " + path + " -C /tmp/VanTrelo]",
                                               "INFO|[update seccess]"}));
}

// Any other end of the helper is a failed install, one that cannot start included: the
// window must not hold at 99 for good.
TEST_F(UpdateRunTest, HelperFailureShowsTheFailureBoxWithItsCode) {
    struct Case {
        const char* name;
        const char* body;  // null: no helper at all
        const char* code;
    } cases[] = {{"exit 3", "exit 3", "3"}, {"no helper", nullptr, "-1"}, {"killed", "kill -9 $$", "9"}};
    const std::string path = std::string(kFixedPackage);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        (void)unlink(helper_.c_str());
        if (c.body != nullptr) WriteHelper(c.body);
        WritePackage(path);
        update_test::Killed().clear();
        lines_ = update_test::UpdateLines().size();
        driver_.Clear();
        driver_.Answer(Label(1033, "/GLOBAL/OK"));
        RunWith(QString::fromStdString(path), 1);
        EXPECT_EQ(driver_.Seen()[0].text, Label(1033, "/UI_UPDATE/UI_UPDATE_ERROR_BREAK"));
        EXPECT_FALSE(window_->isVisible());
        EXPECT_EQ(update_test::Killed().size(), 3u);
        EXPECT_FALSE(Exists(kExtractDir));
        EXPECT_FALSE(Exists(kFixedPackage));
        const std::vector<std::string> lines = Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], std::string("WARN|") + c.code);
        EXPECT_EQ(lines.back(), "WARN|[update failed][Installation file damage.]");
        updateThread* t = window_->getProgressThread();
        window_.reset();
        if (t != nullptr) {
            t->stop();
            t->wait();
            delete t;
        }
    }
}

// The bar moves while the helper runs.
TEST_F(UpdateRunTest, ProgressMovesWhileTheHelperRuns) {
    // The thread reports every step, 99 included while it waits: at 1 ms steps a loaded
    // machine queues reports faster than the window takes them, and the success box
    // waits behind thousands of them.
    updateStepMsSet(10);
    WriteHelper("while [ ! -e \"" + dir_ + "/go\" ]; do sleep 0.05; done\nexit 0");
    WritePackage(kFixedPackage);
    driver_.Answer(Label(1033, "/GLOBAL/OK"));
    window_ = std::make_unique<updateWindow>(nullptr);
    window_->findChild<QTimer*>()->stop();
    window_->setUpdateParam(QString(kFixedPackage) + ";" + kUrl);
    window_->show();
    ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "on_updateButton_clicked"));
    auto* bar = window_->findChild<QProgressBar*>("progressBar");
    EXPECT_TRUE(QTest::qWaitFor([bar] { return bar->value() == 99; }, 10000));
    EXPECT_EQ(bar->maximum(), 100);
    // Held at 99 and open while the helper runs.
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->isVisible());
    pkg_test::WriteFile(dir_ + "/go", "");
    ASSERT_TRUE(driver_.WaitSeen(1, 10000));
    EXPECT_EQ(driver_.Seen()[0].text, Label(1033, "/UI_UPDATE/UI_UPDATE_SECCESS"));
}

}  // namespace
