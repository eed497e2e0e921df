// The folder copy slots, reached by name as nothing in the program calls them: a new
// version's tree copied over the installed one with the user's settings and the files
// of folders "update" left alone, the stop of the client's programs, and a copy whose
// write fails.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include "pkg_test.h"
#include "update_test.h"
#include "updatewindow.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

using pkg_test::Tree;
using vt_qt_test::BoxDriver;

namespace {

class UpdateCopyTest : public ::testing::Test {
protected:
    // Before the test's own folders: the log's folder must outlive them.
    static void SetUpTestSuite() { update_test::LogSetUp(); }
    void SetUp() override {
        window_ = std::make_unique<updateWindow>(nullptr);
        window_->findChild<QTimer*>()->stop();
        window_->show();
        newDir_ = env_.Root() + "/new";
        oldDir_ = env_.Root() + "/old";
    }
    bool UpdateDir(const std::string& from, const std::string& to) {
        return QMetaObject::invokeMethod(window_.get(), "updateDir", Q_ARG(QString, QString::fromStdString(from)),
                                         Q_ARG(QString, QString::fromStdString(to)));
    }
    vt_test::TempEnv env_;
    BoxDriver driver_;
    std::unique_ptr<updateWindow> window_;
    std::string newDir_, oldDir_;
};

TEST_F(UpdateCopyTest, CopiesTheTreeButKeepsSettingsAndUpdateFolders) {
    const Tree fresh = {{"VanTrelo", {0755, "new front end"}},
                        {"VanTreloUpdate", {0755, "new update program"}},
                        {"sysconfig.ini", {0644, "new settings"}},
                        {"update/notes.txt", {0644, "new notes"}},
                        {"plugins/sysconfig.ini", {0644, "new plugin settings"}},
                        {"plugins/deep/lib.so", {0644, "new lib"}},
                        {".hidden", {0644, "not listed"}}};
    const Tree installed = {{"VanTrelo", {0755, "old front end"}},
                            {"sysconfig.ini", {0600, "old settings"}},
                            {"update/notes.txt", {0644, "old notes"}},
                            {"keep.txt", {0644, "untouched"}}};
    pkg_test::WriteTree(newDir_, fresh);
    pkg_test::WriteTree(oldDir_, installed);
    const size_t lines = update_test::UpdateLines().size();
    ASSERT_TRUE(UpdateDir(newDir_, oldDir_));

    Tree expected = installed;
    expected["VanTrelo"] = fresh.at("VanTrelo");
    // A file the old tree lacks is written with the default mode, as by any copy.
    expected["VanTreloUpdate"] = {0644, fresh.at("VanTreloUpdate").content};
    expected["plugins/deep/lib.so"] = fresh.at("plugins/deep/lib.so");
    auto snapshot = pkg_test::SnapshotOf(expected);
    // The folders of kept files are made all the same.
    snapshot["plugins"] = "d 0755";
    EXPECT_EQ(pkg_test::Snapshot(oldDir_), snapshot);
    const std::vector<std::string> all = update_test::UpdateLines();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(lines), all.end()),
              std::vector<std::string>{"INFO|[update ][VanTreloUpdate is not ingnore]"});
    // Each folder's listing holds "." and ".." too: 4 folders and 10 entries below them.
    auto* bar = window_->findChild<QProgressBar*>("progressBar");
    EXPECT_EQ(bar->maximum(), 4 * 2 + 10 - 1);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(UpdateCopyTest, MissingFolderIsShownAndNothingCopied) {
    pkg_test::WriteTree(newDir_, {{"VanTrelo", {0755, "new"}}});
    pkg_test::WriteTree(oldDir_, {{"VanTrelo", {0755, "old"}}});
    const std::string missing = env_.Root() + "/missing";
    struct Case {
        std::string from, to;
    } cases[] = {{missing, oldDir_}, {newDir_, missing}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + " -> " + c.to);
        driver_.Clear();
        driver_.Answer(BoxDriver::kEscape);
        ASSERT_TRUE(UpdateDir(c.from, c.to));
        ASSERT_EQ(driver_.Seen().size(), 1u);
        EXPECT_EQ(driver_.Seen()[0].title, "update");
        EXPECT_EQ(driver_.Seen()[0].text, QString::fromStdString(missing + " not exist"));
        EXPECT_EQ(driver_.Seen()[0].icon, int(QMessageBox::Information));
        EXPECT_TRUE(driver_.Seen()[0].hasParent);
        EXPECT_TRUE(window_->isVisible());
        EXPECT_EQ(pkg_test::ReadFile(oldDir_ + "/VanTrelo"), "old");
    }
}

// A write that fails half way (here past the file size limit) leaves the old file whole
// and nothing beside it.
TEST_F(UpdateCopyTest, FailedWriteKeepsTheOldFile) {
    ASSERT_EQ(mkdir(newDir_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(oldDir_.c_str(), 0755), 0);
    pkg_test::WriteFile(newDir_ + "/VanTrelo", std::string(256 * 1024, 'n'), 0755);
    pkg_test::WriteFile(oldDir_ + "/VanTrelo", std::string(100 * 1024, 'o'), 0750);
    const auto r = vt_test::RunInChild([&] {
        (void)signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {64 * 1024, 64 * 1024};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "updateFile",
                                              Q_ARG(QString, QString::fromStdString(newDir_ + "/VanTrelo")),
                                              Q_ARG(QString, QString::fromStdString(oldDir_ + "/VanTrelo"))));
    });
    ASSERT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
    EXPECT_EQ(pkg_test::Snapshot(oldDir_), (std::map<std::string, std::string>{
                                                {".", "d 0755"},
                                                {"VanTrelo", "f 0750 " + std::string(100 * 1024, 'o')}}));
    // Without a limit the same copy goes through, with the old file's mode.
    ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "updateFile",
                                          Q_ARG(QString, QString::fromStdString(newDir_ + "/VanTrelo")),
                                          Q_ARG(QString, QString::fromStdString(oldDir_ + "/VanTrelo"))));
    EXPECT_EQ(pkg_test::Snapshot(oldDir_), (std::map<std::string, std::string>{
                                                {".", "d 0755"},
                                                {"VanTrelo", "f 0750 " + std::string(256 * 1024, 'n')}}));
}

TEST_F(UpdateCopyTest, KillClientStopsTheServiceFirst) {
    update_test::Killed().clear();
    updateKillSet(update_test::RecordKill);
    ASSERT_TRUE(QMetaObject::invokeMethod(window_.get(), "killClient"));
    updateKillSet(nullptr);
    EXPECT_EQ(update_test::Killed(), (std::vector<std::string>{"VanTreloPromoteService", "VanTreloCS", "VanTrelo"}));
}

}  // namespace
