// The install run against whatever lies at the package's place, each case in a forked
// child with a private mount namespace and a small tmpfs of its own over /tmp (the
// folders the test still needs from the machine's /tmp carried in first): only the
// user's own package that nobody else may write is unpacked and installed. A package that
// group or others may write, a link, a pipe, a folder, an archive that unpacks past the
// free room of /tmp (one big file, many small ones, more files than inodes) and an unpack
// folder planted by another user are refused within 5 s, each with its reason in the log,
// nothing stopped, no helper run and /tmp as it was; another user's file at the fixed
// package path outlives an install of a package from another path. Needs root (the
// namespaces, files of another user); skipped otherwise.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "pkg_test.h"
#include "update_test.h"
#include "updatethread.h"
#include "updatewindow.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

using update_test::Label;
using vt_qt_test::BoxDriver;

namespace {

constexpr char kExtractDir[] = "/tmp/VanTrelo";
constexpr char kFixedPackage[] = "/tmp/vantrelo-macosx.tar.gz";
constexpr uid_t kOtherUid = 65534;
const QString kUrl = "https://gw.example/app/vantrelo-macosx.tar.gz";
// How long a refusal may take at most.
constexpr qint64 kRefusedWithinMs = 5000;
// The size of the private /tmp: any archive that unpacks to more is a bomb here.
constexpr char kSmallTmp[] = "size=32m";

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

// In a fresh private mount namespace: a tmpfs (sticky, open to all, as /tmp is) over
// /tmp, with the folders of the machine's /tmp that the paths lie in bound in again, so
// that the test's program, home folder and log stay reachable wherever the clone lies.
// The names of the carried folders below /tmp.
std::set<std::string> PrivateTmp(const std::string& options, const std::vector<std::string>& needed) {
    std::set<std::string> carried;
    std::vector<std::string> real;
    for (const std::string& path : needed) real.push_back(RealPath(path));
    EXPECT_EQ(unshare(CLONE_NEWNS), 0);
    // Nothing mounted below may ever reach the machine's mounts.
    EXPECT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    const int machineTmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(machineTmp, 0);
    EXPECT_EQ(mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, ("mode=1777," + options).c_str()), 0);
    for (const std::string& path : real) {
        if (path.compare(0, 5, "/tmp/") != 0) continue;
        const std::string first = path.substr(5, path.find('/', 5) - 5);
        if (!carried.insert(first).second) continue;
        const std::string at = "/tmp/" + first;
        EXPECT_EQ(mkdir(at.c_str(), 0700), 0) << at;
        const std::string from = "/proc/self/fd/" + std::to_string(machineTmp) + "/" + first;
        EXPECT_EQ(mount(from.c_str(), at.c_str(), nullptr, MS_BIND | MS_REC, nullptr), 0) << at;
    }
    (void)close(machineTmp);
    return carried;
}

// An entry and everything below it: type and mode, owner, inode, and a regular file's
// content, so that a file changed, replaced or removed shows.
void SnapInto(const std::string& path, const std::string& rel, std::map<std::string, std::string>* out) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    std::ostringstream d;
    d << std::oct << st.st_mode << std::dec << " uid " << st.st_uid << " ino " << st.st_ino;
    if (S_ISREG(st.st_mode)) d << " sha " << pkg_test::Sha256Hex(pkg_test::ReadFile(path));
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX] = {};
        d << " -> " << std::string(target, size_t(std::max<ssize_t>(0, readlink(path.c_str(), target, sizeof(target)))));
    }
    (*out)[rel] = d.str();
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : pkg_test::Names(path)) SnapInto(path + "/" + name, rel + "/" + name, out);
    }
}

// The private /tmp without the carried folders.
std::map<std::string, std::string> TmpNow(const std::set<std::string>& carried) {
    std::map<std::string, std::string> all;
    struct stat st {};
    EXPECT_EQ(lstat("/tmp", &st), 0);
    all["/tmp"] = std::to_string(st.st_mode);
    for (const std::string& name : pkg_test::Names("/tmp")) {
        if (carried.count(name) == 0) SnapInto("/tmp/" + name, name, &all);
    }
    return all;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A package of this user that only this user may write.
void OwnPackage(const std::string& path) {
    pkg_test::WriteOuterPackage(path, "not read by the stand-in helper");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
}

// The gzip-compressed bytes of a file made by the shell command (run in folder dir,
// writing "out").
std::string Compressed(const std::string& dir, const std::string& command) {
    EXPECT_EQ(pkg_test::Run({"/bin/sh", "-c", "cd '" + dir + "' && " + command + " && gzip -n out"}), 0);
    const std::string bytes = pkg_test::ReadFile(dir + "/out.gz");
    (void)unlink((dir + "/out.gz").c_str());
    return bytes;
}

class UpdatePackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        update_test::LogSetUp();
        if (geteuid() != 0) return;
        files_ = new vt_test::TempEnv();
        const std::string dir = files_->Root();
        // One file of 256 MiB of zeros (a sparse file here, so nothing is written): a
        // package of about 250 KiB.
        bigBomb_ = new std::string(
            Compressed(dir, "truncate -s 256M big && tar -cf out big && rm big"));
        // 16000 files of one byte: a stream of 16 MB that takes 64 MB in a tmpfs.
        std::vector<pkg_test::Member> members;
        for (int i = 0; i < 16000; ++i) members.push_back({"f" + std::to_string(i), '0', 0644, "x", ""});
        pkg_test::WriteFile(dir + "/out", pkg_test::Ustar(members));
        smallBomb_ = new std::string(Compressed(dir, "true"));
        // 3000 empty files, for a /tmp of 2000 inodes.
        members.clear();
        for (int i = 0; i < 3000; ++i) members.push_back({"e" + std::to_string(i), '0', 0644, "", ""});
        pkg_test::WriteFile(dir + "/out", pkg_test::Ustar(members));
        inodeBomb_ = new std::string(Compressed(dir, "true"));
    }
    static void TearDownTestSuite() {
        delete bigBomb_;
        delete smallBomb_;
        delete inodeBomb_;
        delete files_;
    }
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the private mount namespaces and another user's files need root";
        ASSERT_GT(bigBomb_->size(), 0u);
        ASSERT_GT(smallBomb_->size(), 0u);
        ASSERT_GT(inodeBomb_->size(), 0u);
        dir_ = env_.Root();
        ASSERT_EQ(mkdir((dir_ + "/install folder").c_str(), 0755), 0);
        helper_ = dir_ + "/install folder/refitter";
        pkg_test::WriteFile(helper_, "#!/bin/sh\necho $# > \"" + dir_ + "/helper-args\"\nexit 0\n", 0755);
        (void)mkdir((env_.Home() + "/.VanTrelo").c_str(), 0700);
        pkg_test::WriteFile(env_.Home() + "/.VanTrelo/sysconfig.ini", "[ADVANCED]\nClientLanguageID=1033\n");
    }

    // What one case puts in the private /tmp; the package path it hands the run.
    using Stage = std::function<std::string()>;
    struct Case {
        const char* name;
        Stage stage;
        bool installs;
        std::string reason;  // a refusal's log line, or a part of it
        const char* options = kSmallTmp;
    };

    // Runs the case in its own child and private /tmp. An install: the client's
    // programs stopped, the helper run, the success box, the unpack folder and the
    // package gone. A refusal: within the time, the package box, the reason's line,
    // nothing stopped, no helper, /tmp as it was.
    void RunCase(const Case& c, const std::function<void()>& more = nullptr) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> needed = {QCoreApplication::applicationDirPath().toStdString(),
                                                 VT_TEST_RUNTIME_DIR, env_.Root(), update_test::LogDir()};
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            // Failures of this child alone: the test's earlier ones came along with the fork.
            const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
            const int inherited = result->total_part_count();
            const std::set<std::string> carried = PrivateTmp(c.options, needed);
            ASSERT_EQ(result->total_part_count(), inherited) << "no private /tmp";
            const std::string package = c.stage();
            ASSERT_EQ(result->total_part_count(), inherited) << "the case was not staged";
            const auto before = TmpNow(carried);
            const size_t lines = update_test::UpdateLines().size();

            update_test::Killed().clear();
            updateKillSet(update_test::RecordKill);
            updateStepMsSet(1);
            updateHelperPathSet(QString::fromStdString(helper_));
            BoxDriver driver;
            driver.Answer(c.installs ? Label(1033, "/GLOBAL/OK") : QString(BoxDriver::kEscape));
            auto window = std::make_unique<updateWindow>(nullptr);
            window->findChild<QTimer*>()->stop();
            window->setUpdateParam(QString::fromStdString(package) + ";" + kUrl + ";alice");
            window->show();
            QElapsedTimer took;
            took.start();
            ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "on_updateButton_clicked"));
            ASSERT_TRUE(driver.WaitSeen(1, 30000));
            const qint64 ms = took.elapsed();
            std::vector<std::string> written = update_test::UpdateLines();
            written.erase(written.begin(), written.begin() + static_cast<long>(lines));
            std::string log;
            for (const std::string& line : written) log += line + "\n";

            if (c.installs) {
                EXPECT_EQ(driver.Seen()[0].text, Label(1033, "/UI_UPDATE/UI_UPDATE_SECCESS")) << log;
                EXPECT_EQ(update_test::Killed().size(), 3u);
                EXPECT_EQ(pkg_test::ReadFile(dir_ + "/helper-args"), "0\n");
                EXPECT_FALSE(Exists(kExtractDir));
                if (package == kFixedPackage) {
                    EXPECT_FALSE(Exists(kFixedPackage));
                }
            } else {
                EXPECT_LT(ms, kRefusedWithinMs);
                EXPECT_EQ(driver.Seen()[0].text, Label(1033, "/UI_UPDATE/UI_UPDATE_ERROR_TXT"));
                EXPECT_NE(log.find(c.reason), std::string::npos) << log;
                EXPECT_NE(log.find("WARN|[update failed][VanTreloInstaller.pkg is not exist.]"), std::string::npos)
                    << log;
                EXPECT_TRUE(update_test::Killed().empty());
                EXPECT_FALSE(Exists(dir_ + "/helper-args"));
                EXPECT_EQ(TmpNow(carried), before);
            }
            if (more) more();
            updateThread* t = window->getProgressThread();
            window.reset();
            if (t != nullptr) {
                t->stop();
                t->wait();
                delete t;
            }
        }, 90000);
        EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << vt_test::Describe(r);
        (void)unlink((dir_ + "/helper-args").c_str());
    }

    vt_test::TempEnv env_;
    std::string dir_, helper_;
    static vt_test::TempEnv* files_;
    static std::string* bigBomb_;
    static std::string* smallBomb_;
    static std::string* inodeBomb_;
};

vt_test::TempEnv* UpdatePackageTest::files_ = nullptr;
std::string* UpdatePackageTest::bigBomb_ = nullptr;
std::string* UpdatePackageTest::smallBomb_ = nullptr;
std::string* UpdatePackageTest::inodeBomb_ = nullptr;

TEST_F(UpdatePackageTest, OnlyTheUsersOwnPackageIsInstalled) {
    const std::string refused = "ERROR|[update failed][the package is refused: ";
    const Case cases[] = {
        {"the user's own 0600 file",
         [] {
             OwnPackage(kFixedPackage);
             return std::string(kFixedPackage);
         },
         true, ""},
        {"a file that others may write",
         [] {
             OwnPackage(kFixedPackage);
             EXPECT_EQ(chmod(kFixedPackage, 0666), 0);
             return std::string(kFixedPackage);
         },
         false, refused + "group or others may write it (mode 0666)]"},
        {"a file that the group may write",
         [] {
             OwnPackage(kFixedPackage);
             EXPECT_EQ(chmod(kFixedPackage, 0620), 0);
             return std::string(kFixedPackage);
         },
         false, refused + "group or others may write it (mode 0620)]"},
        {"a link to the user's own package",
         [] {
             OwnPackage("/tmp/own.tar.gz");
             EXPECT_EQ(symlink("/tmp/own.tar.gz", kFixedPackage), 0);
             return std::string(kFixedPackage);
         },
         false, refused + "it is a symbolic link]"},
        {"a pipe",
         [] {
             EXPECT_EQ(mkfifo(kFixedPackage, 0600), 0);
             return std::string(kFixedPackage);
         },
         false, refused + "it is not a regular file (type 010000)]"},
        {"a folder",
         [] {
             EXPECT_EQ(mkdir(kFixedPackage, 0700), 0);
             return std::string(kFixedPackage);
         },
         false, refused + "it is not a regular file (type 040000)]"},
        {"one file of 256 MiB",
         [] {
             pkg_test::WriteFile(kFixedPackage, *bigBomb_, 0600);
             return std::string(kFixedPackage);
         },
         false, "ERROR|[update failed][the package unpacks to more than "},
        {"16000 small files",
         [] {
             pkg_test::WriteFile(kFixedPackage, *smallBomb_, 0600);
             return std::string(kFixedPackage);
         },
         false, "ERROR|[update failed][the unpack leaves less than 16777216 bytes or 1024 inodes free in /tmp]"},
        {"more files than inodes",
         [] {
             pkg_test::WriteFile(kFixedPackage, *inodeBomb_, 0600);
             return std::string(kFixedPackage);
         },
         false, "ERROR|[update failed][the unpack leaves less than 16777216 bytes or 1024 inodes free in /tmp]",
         "size=64m,nr_inodes=2000"},
        {"an unpack folder of another user",
         [] {
             OwnPackage(kFixedPackage);
             EXPECT_EQ(mkdir(kExtractDir, 0755), 0);
             pkg_test::WriteFile(std::string(kExtractDir) + "/VanTreloInstaller.pkg", "planted");
             EXPECT_EQ(chown((std::string(kExtractDir) + "/VanTreloInstaller.pkg").c_str(), kOtherUid, kOtherUid), 0);
             EXPECT_EQ(chown(kExtractDir, kOtherUid, kOtherUid), 0);
             return std::string(kFixedPackage);
         },
         false, "ERROR|[update failed][/tmp/VanTrelo belongs to uid 65534, left as it is]"},
    };
    for (const Case& c : cases) RunCase(c);
}

// A package from another path is installed; another user's file at the fixed package
// path is not the run's to remove, and the installed package stays where it was given.
TEST_F(UpdatePackageTest, AnotherUsersFileAtTheFixedPathOutlivesAnInstall) {
    const Case c = {"another user's file at the fixed path",
                    [] {
                        pkg_test::WriteFile(kFixedPackage, "another user's", 0644);
                        EXPECT_EQ(chown(kFixedPackage, kOtherUid, kOtherUid), 0);
                        OwnPackage("/tmp/client.tar.gz");
                        return std::string("/tmp/client.tar.gz");
                    },
                    true, ""};
    RunCase(c, [] {
        struct stat st {};
        ASSERT_EQ(lstat(kFixedPackage, &st), 0);
        EXPECT_EQ(st.st_uid, kOtherUid);
        EXPECT_EQ(pkg_test::ReadFile(kFixedPackage), "another user's");
        EXPECT_TRUE(Exists("/tmp/client.tar.gz"));
    });
}

}  // namespace
