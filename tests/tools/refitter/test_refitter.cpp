// The install helper on staged folders: an install folder (with a blank in its path) in a
// parent folder of its own, an unpack folder holding the package. Every case checks the
// exit code, that the install folder holds the old or the new tree file for file, and
// that nothing is left beside it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pkg_test.h"
#include "refitter.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

using pkg_test::Tree;

namespace {

constexpr char kInstallName[] = "Van Trelo app";

bool IsRoot() { return geteuid() == 0; }

// A mount namespace of the calling (child) process whose mounts never reach the
// machine's: "/" is made recursively private before anything is mounted.
bool PrivateMounts() {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

class RefitterTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = env_.Root() + "/opt";
        install_ = base_ + "/" + kInstallName;
        extract_ = env_.Root() + "/unpack";
        old_ = pkg_test::ClientTree("7.0.2.33");
        old_["update/only-old.txt"] = {0600, "kept by the user"};
        old_["plugins/sysconfig.ini"] = {0640, "nested settings"};
        new_ = pkg_test::ClientTree("7.0.2.34");
        new_["plugins/new.bin"] = {0755, "new plugin"};
        Stage();
    }

    // The old install and an empty unpack folder, as a run finds them.
    void Stage() {
        vt_test::RemoveTree(base_);
        vt_test::RemoveTree(extract_);
        ASSERT_EQ(mkdir(base_.c_str(), 0755), 0);
        pkg_test::WriteTree(install_, old_);
        ASSERT_EQ(chmod(install_.c_str(), kOldRootMode), 0);
        ASSERT_EQ(mkdir(extract_.c_str(), 0700), 0);
    }
    void PutPackage(const std::string& bytes) {
        pkg_test::WriteFile(extract_ + "/" + REFITTER_PACKAGE_NAME, bytes);
    }
    std::string GoodPackage() const { return pkg_test::Ustar(pkg_test::PackageMembers(new_, "7.0.2.34")); }
    int RunIt(const RefitterHooks* hooks = nullptr) {
        return Refitter_Run(extract_.c_str(), install_.c_str(), hooks);
    }

    // The new tree with the user's settings of the old one carried over, in a folder
    // with the old one's mode.
    std::map<std::string, std::string> Installed() const {
        Tree t = new_;
        for (const auto& f : old_) {
            const bool settings = f.first == "sysconfig.ini" ||
                                  (f.first.size() > 14 &&
                                   f.first.compare(f.first.size() - 14, 14, "/sysconfig.ini") == 0);
            if (settings || f.first.compare(0, 7, "update/") == 0) t[f.first] = f.second;
        }
        return pkg_test::SnapshotOf(t, kOldRootMode);
    }
    std::map<std::string, std::string> Old() const { return pkg_test::SnapshotOf(old_, kOldRootMode); }
    void ExpectAlone() const {
        EXPECT_EQ(pkg_test::Names(base_), std::vector<std::string>{kInstallName});
    }

    static constexpr unsigned kOldRootMode = 0750;
    vt_test::TempEnv env_;
    std::string base_, install_, extract_;
    Tree old_, new_;
};

TEST_F(RefitterTest, GoodPackageReplacesTheTreeAndKeepsTheUsersSettings) {
    PutPackage(GoodPackage());
    ASSERT_EQ(RunIt(), REFITTER_INSTALLED);
    EXPECT_EQ(pkg_test::Snapshot(install_), Installed());
    ExpectAlone();
    // The unpack folder is the update program's to remove.
    EXPECT_EQ(pkg_test::Names(extract_), std::vector<std::string>{REFITTER_PACKAGE_NAME});
}

TEST_F(RefitterTest, PackageOfTheScriptInstalls) {
    const std::string tree = env_.Root() + "/new tree";
    pkg_test::WriteTree(tree, new_);
    const std::string outer = env_.Root() + "/vantrelo-macosx.tar.gz";
    ASSERT_EQ(pkg_test::Run({"/bin/sh", pkg_test::MakePackageScript(), tree, "7.0.2.34", outer}), 0);
    ASSERT_EQ(pkg_test::Run({"/bin/tar", "-xzf", outer, "-C", extract_}), 0);
    ASSERT_EQ(RunIt(), REFITTER_INSTALLED);
    EXPECT_EQ(pkg_test::Snapshot(install_), Installed());
    ExpectAlone();
}

TEST_F(RefitterTest, ScriptRefusesTreesRefitterWouldRefuse) {
    const std::string tree = env_.Root() + "/bad tree";
    const std::string outer = env_.Root() + "/out.tar.gz";
    struct Case {
        const char* name;
        std::function<void()> spoil;
    } cases[] = {
        {"symbolic link", [&] { ASSERT_EQ(symlink("/etc", (tree + "/etc").c_str()), 0); }},
        {"setuid file", [&] { ASSERT_EQ(chmod((tree + "/VanTrelo").c_str(), 04755), 0); }},
        {"no refitter", [&] { ASSERT_EQ(unlink((tree + "/refitter").c_str()), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vt_test::RemoveTree(tree);
        pkg_test::WriteTree(tree, new_);
        c.spoil();
        EXPECT_NE(pkg_test::Run({"/bin/sh", pkg_test::MakePackageScript(), tree, "7.0.2.34", outer}), 0);
        EXPECT_NE(access(outer.c_str(), F_OK), 0);
    }
}

// Every refusal leaves the old tree whole and nothing beside it.
TEST_F(RefitterTest, RefusalsLeaveTheOldTreeWhole) {
    using pkg_test::Member;
    const auto with = [this](const std::vector<Member>& extra, const Tree& tree, const std::string& product) {
        std::vector<Member> m = pkg_test::PackageMembers(tree, "7.0.2.34", product);
        m.insert(m.end(), extra.begin(), extra.end());
        return pkg_test::Ustar(m);
    };
    struct Case {
        const char* name;
        std::function<void()> stage;
        int code;
        bool rootOnly;
    } cases[] = {
        {"package is a link", [&] {
             pkg_test::WriteFile(extract_ + "/real.pkg", GoodPackage());
             ASSERT_EQ(symlink("real.pkg", (extract_ + "/" + REFITTER_PACKAGE_NAME).c_str()), 0);
         }, REFITTER_UNSAFE, false},
        {"no package", [] {}, REFITTER_UNSAFE, false},
        {"package is a folder", [&] {
             ASSERT_EQ(mkdir((extract_ + "/" + REFITTER_PACKAGE_NAME).c_str(), 0700), 0);
         }, REFITTER_UNSAFE, false},
        {"unpack folder writable by its group", [&] {
             PutPackage(GoodPackage());
             ASSERT_EQ(chmod(extract_.c_str(), 0770), 0);
         }, REFITTER_UNSAFE, false},
        {"unpack folder is a link", [&] {
             PutPackage(GoodPackage());
             ASSERT_EQ(rename(extract_.c_str(), (extract_ + ".real").c_str()), 0);
             ASSERT_EQ(symlink((extract_ + ".real").c_str(), extract_.c_str()), 0);
         }, REFITTER_UNSAFE, false},
        {"unpack folder of another user", [&] {
             PutPackage(GoodPackage());
             ASSERT_EQ(chown(extract_.c_str(), 65534, 65534), 0);
         }, REFITTER_UNSAFE, true},
        {"archive cut short", [&] {
             const std::string pkg = GoodPackage();
             PutPackage(pkg.substr(0, pkg.size() / 2));
         }, REFITTER_BAD_PACKAGE, false},
        {"one byte changed", [&] {
             std::string pkg = GoodPackage();
             const size_t at = pkg.find("front end 7.0.2.34");
             ASSERT_NE(at, std::string::npos);
             pkg[at] = 'F';
             PutPackage(pkg);
         }, REFITTER_BAD_PACKAGE, false},
        {"member ../x", [&] {
             PutPackage(with({{"Payload/../x", '0', 0644, "escape", ""}}, new_, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"absolute member", [&] {
             PutPackage(with({{"/Payload/x", '0', 0644, "escape", ""}}, new_, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"symbolic link member", [&] {
             PutPackage(with({{"Payload/passwd", '2', 0777, "", "/etc/passwd"}}, new_, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"setuid member", [&] {
             Tree t = new_;
             t["VanTrelo"].mode = 04755;
             PutPackage(with({}, t, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"another product", [&] { PutPackage(with({}, new_, "OtherProduct")); }, REFITTER_BAD_PACKAGE, false},
        {"no VanTrelo in the package", [&] {
             Tree t = new_;
             t.erase("VanTrelo");
             PutPackage(with({}, t, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"file missing from the manifest", [&] {
             PutPackage(with({{"Payload/extra.txt", '0', 0644, "unlisted", ""}}, new_, "VanTrelo"));
         }, REFITTER_BAD_PACKAGE, false},
        {"manifest with another hash", [&] {
             std::vector<Member> m = pkg_test::PackageMembers(new_, "7.0.2.34");
             const std::string good = pkg_test::Sha256Hex(new_["version"].content);
             m[1].data.replace(m[1].data.find(good), good.size(), pkg_test::Sha256Hex("other"));
             PutPackage(pkg_test::Ustar(m));
         }, REFITTER_BAD_PACKAGE, false},
        {"not an install folder", [&] {
             PutPackage(GoodPackage());
             ASSERT_EQ(unlink((install_ + "/VanTrelo").c_str()), 0);
             old_.erase("VanTrelo");
         }, REFITTER_NOT_INSTALL, false},
    };
    const Tree old = old_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && !IsRoot()) {
            continue;
        }
        old_ = old;
        Stage();
        c.stage();
        EXPECT_EQ(RunIt(), c.code);
        EXPECT_EQ(pkg_test::Snapshot(install_), Old());
        ExpectAlone();
        (void)unlink(extract_.c_str());
        vt_test::RemoveTree(extract_ + ".real");
    }
}

// A run ended at any step leaves a whole tree, the old one until the exchange and the new
// one from then on; the next run clears what it left and installs.
TEST_F(RefitterTest, RunKilledAtEachStepLeavesAWholeTreeAndTheNextRunInstalls) {
    const RefitterStep steps[] = {RefitterStep::kChecked,  RefitterStep::kStagingMade, RefitterStep::kExtracted,
                                  RefitterStep::kVerified, RefitterStep::kCarried,     RefitterStep::kFlushed,
                                  RefitterStep::kSwapped,  RefitterStep::kOldRemoved};
    for (RefitterStep step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        Stage();
        PutPackage(GoodPackage());
        const auto r = vt_test::RunInChild([&] {
            RefitterHooks hooks;
            hooks.step = [step](RefitterStep reached) {
                if (reached == step) _exit(42);
            };
            return RunIt(&hooks);
        });
        ASSERT_TRUE(vt_test::ExitedWith(r, 42)) << vt_test::Describe(r);
        const bool swapped = step == RefitterStep::kSwapped || step == RefitterStep::kOldRemoved;
        EXPECT_EQ(pkg_test::Snapshot(install_), swapped ? Installed() : Old());
        EXPECT_EQ(RunIt(), REFITTER_INSTALLED);
        EXPECT_EQ(pkg_test::Snapshot(install_), Installed());
        ExpectAlone();
    }
}

TEST_F(RefitterTest, TwoRenamesWhereTheExchangeIsRefused) {
    PutPackage(GoodPackage());
    RefitterHooks hooks;
    hooks.bRefuseExchange = true;
    ASSERT_EQ(RunIt(&hooks), REFITTER_INSTALLED);
    EXPECT_EQ(pkg_test::Snapshot(install_), Installed());
    ExpectAlone();

    // The second rename failing puts the old tree back.
    Stage();
    PutPackage(GoodPackage());
    hooks.bRefuseSecondRename = true;
    EXPECT_EQ(RunIt(&hooks), REFITTER_WRITE_FAILED);
    EXPECT_EQ(pkg_test::Snapshot(install_), Old());
    ExpectAlone();
}

TEST_F(RefitterTest, RunEndedBetweenTheTwoRenamesIsUndoneByTheNext) {
    PutPackage(GoodPackage());
    // What the two-rename way leaves when it ends after its first rename.
    ASSERT_EQ(rename(install_.c_str(), (base_ + "/" + Refitter_OldName(kInstallName)).c_str()), 0);
    ASSERT_EQ(mkdir((base_ + "/" + Refitter_NewName(kInstallName)).c_str(), 0700), 0);
    ASSERT_EQ(RunIt(), REFITTER_INSTALLED);
    EXPECT_EQ(pkg_test::Snapshot(install_), Installed());
    ExpectAlone();
}

// A full disk: the install folder's parent is a 1 MiB file system and the package larger.
TEST_F(RefitterTest, FullDiskIsAFailedWrite) {
    if (!IsRoot()) GTEST_SKIP() << "mounting a small file system needs root";
    new_["big.bin"] = {0644, std::string(2 << 20, 'x')};
    const auto r = vt_test::RunInChild([&] {
        ASSERT_TRUE(PrivateMounts());
        ASSERT_EQ(mount("tmpfs", base_.c_str(), "tmpfs", 0, "size=1m,mode=0755"), 0);
        pkg_test::WriteTree(install_, old_);
        ASSERT_EQ(chmod(install_.c_str(), kOldRootMode), 0);
        PutPackage(GoodPackage());
        EXPECT_EQ(RunIt(), REFITTER_WRITE_FAILED);
        EXPECT_EQ(pkg_test::Snapshot(install_), Old());
        ExpectAlone();
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
}

// A parent folder the run may not write: read-only for root, 0555 for anyone else.
TEST_F(RefitterTest, ParentThatCannotBeWrittenIsMissingRights) {
    PutPackage(GoodPackage());
    const auto r = vt_test::RunInChild([&] {
        if (IsRoot()) {
            ASSERT_TRUE(PrivateMounts());
            ASSERT_EQ(mount(base_.c_str(), base_.c_str(), nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(mount(nullptr, base_.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
        } else {
            ASSERT_EQ(chmod(base_.c_str(), 0555), 0);
        }
        EXPECT_EQ(RunIt(), REFITTER_NO_RIGHTS);
        EXPECT_EQ(pkg_test::Snapshot(install_), Old());
        ExpectAlone();
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
    (void)chmod(base_.c_str(), 0755);
}

// A setuid-root copy of the program, as the front end's fix-up leaves it, run by a user
// without rights on the root-owned install folder: it gives its raised rights up first
// and so cannot install there.
TEST_F(RefitterTest, SetuidCopyRunByAnotherUserGainsNoRights) {
    if (!IsRoot()) GTEST_SKIP() << "a setuid-root copy needs root";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv";
    const std::string pkg = GoodPackage();
    // The program is read before the fresh /tmp below can hide it (a build tree under
    // /tmp), and its copy is what the other user runs: that user may not be able to reach
    // the build tree at all (a folder closed to others on its path).
    std::string program;
    ASSERT_TRUE(pkg_test::ReadNeeded(REFITTER_TEST_PROGRAM, &program));
    const auto r = vt_test::RunInChild([&] {
        ASSERT_TRUE(PrivateMounts());
        // A fresh /tmp of its own, mounted without nosuid.
        ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777"), 0);
        struct statvfs vfs {};
        ASSERT_EQ(statvfs("/tmp", &vfs), 0);
        ASSERT_EQ(vfs.f_flag & ST_NOSUID, 0u);
        // Folders every user may pass through, whatever the umask.
        const std::string app = "/tmp/opt/app";
        ASSERT_EQ(mkdir("/tmp/opt", 0755), 0);
        ASSERT_EQ(chmod("/tmp/opt", 0755), 0);
        pkg_test::WriteTree(app, old_);
        ASSERT_EQ(chmod(app.c_str(), 0755), 0);
        pkg_test::WriteFile(app + "/refitter", program, 0755);
        ASSERT_EQ(chmod((app + "/refitter").c_str(), 04755), 0);
        ASSERT_TRUE(pkg_test::ReadFile(app + "/refitter") == program) << "the copy is not the program";
        const auto before = pkg_test::Snapshot(app);
        ASSERT_EQ(mkdir("/tmp/VanTrelo", 0700), 0);
        pkg_test::WriteFile(std::string("/tmp/VanTrelo/") + REFITTER_PACKAGE_NAME, pkg);
        ASSERT_EQ(chown("/tmp/VanTrelo", 65534, 65534), 0);
        ASSERT_EQ(chown((std::string("/tmp/VanTrelo/") + REFITTER_PACKAGE_NAME).c_str(), 65534, 65534), 0);
        // The leak checker cannot stop the threads of a process that changed its user.
        ASSERT_EQ(setenv("ASAN_OPTIONS", "detect_leaks=0", 1), 0);
        EXPECT_EQ(pkg_test::Run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 app + "/refitter"}),
                  REFITTER_NO_RIGHTS);
        EXPECT_EQ(pkg_test::Snapshot(app), before);
        EXPECT_EQ(pkg_test::Names("/tmp/opt"), std::vector<std::string>{"app"});
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
}

}  // namespace
