// The earlier client package kept aside during a download, in the shared /tmp where
// another user may have put anything under the package's or the backup's name. The
// client runs as the user: each case runs in a child that has become uid 65534 in a
// sticky folder, with the other user's entries made as root (uid 65533) before.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "packagebackup.h"
#include "vt_test/child_process.h"

namespace {

constexpr uid_t kUser = 65534;
constexpr uid_t kOther = 65533;

enum class Entry { kNone, kOwnFile, kOtherFile, kOtherLinkToNowhere, kOwnLinkToOwnFile };

enum class Step { kKeep, kRestore, kDrop };

struct Case {
    const char* name;
    Step step;
    Entry from;      // the name the step takes: the package, or the backup for kRestore and kDrop
    Entry to;        // the name it gives: the backup, or the package for kRestore
    bool moved;      // the file went from the one name to the other
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void Write(const std::string& path, const std::string& text, uid_t owner) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
}

// Makes what the case puts under a name; a link's target is "<name>.target" beside it,
// which the link's owner could create and which nobody has created yet.
void Make(Entry entry, const std::string& path, const std::string& text) {
    switch (entry) {
        case Entry::kNone:
            break;
        case Entry::kOwnFile:
            Write(path, text, kUser);
            break;
        case Entry::kOtherFile:
            Write(path, text, kOther);
            break;
        case Entry::kOtherLinkToNowhere:
            ASSERT_EQ(symlink((path + ".target").c_str(), path.c_str()), 0);
            ASSERT_EQ(lchown(path.c_str(), kOther, kOther), 0);
            break;
        case Entry::kOwnLinkToOwnFile:
            Write(path + ".elsewhere", text, kUser);
            ASSERT_EQ(symlink((path + ".elsewhere").c_str(), path.c_str()), 0);
            ASSERT_EQ(lchown(path.c_str(), kUser, kUser), 0);
            break;
    }
}

// The entry's kind and owner, as lstat sees them, with a regular file's text.
std::string Look(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return "none";
    }
    const std::string owner = " uid " + std::to_string(st.st_uid);
    if (S_ISLNK(st.st_mode)) {
        return "link" + owner;
    }
    if (S_ISREG(st.st_mode)) {
        return "file" + owner + " \"" + ReadAll(path) + "\"";
    }
    return "other" + owner;
}

class PackageBackupTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "another user's entries and a second user need root to be made";
        }
        // In the machine's /tmp, which is open to every user as the real package's folder
        // is: a folder of the test's own, sticky and open to all, as /tmp is.
        char tmpl[] = "/tmp/vt-pkgbackup-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chmod(dir_.c_str(), 01777), 0);
    }
    void TearDown() override {
        if (!dir_.empty()) {
            const std::string command = "rm -rf -- '" + dir_ + "'";
            (void)std::system(command.c_str());
        }
    }
    std::string dir_;
};

TEST_P(PackageBackupTest, OnlyTheUsersOwnFileIsMovedAndNoLinkIsWrittenThrough) {
    const Case& c = GetParam();
    const std::string from = dir_ + "/from";
    const std::string to = dir_ + "/to";
    Make(c.from, from, "earlier package");
    Make(c.to, to, "what stood there");
    const std::string fromBefore = Look(from);
    const std::string toBefore = Look(to);

    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        if (setgroups(0, nullptr) != 0 || setresgid(kUser, kUser, kUser) != 0 ||
            setresuid(kUser, kUser, kUser) != 0) {
            return 2;
        }
        switch (c.step) {
            case Step::kKeep:
                return PackageBackup_Keep(from.c_str(), to.c_str()) ? 1 : 0;
            case Step::kRestore:
                return PackageBackup_Restore(from.c_str(), to.c_str()) ? 1 : 0;
            case Step::kDrop:
                PackageBackup_Drop(from.c_str());
                return 0;
        }
        return 3;
    });
    ASSERT_TRUE(r.exited) << vt_test::Describe(r);
    ASSERT_NE(r.exitCode, 2) << "the child could not become uid " << kUser;

    // Nothing reached what a link points at, under either name.
    EXPECT_EQ(Look(from + ".target"), "none");
    EXPECT_EQ(Look(to + ".target"), "none");
    if (c.step == Step::kDrop) {
        EXPECT_EQ(Look(from), c.moved ? "none" : fromBefore);
        EXPECT_EQ(Look(to), toBefore);
        return;
    }
    EXPECT_EQ(r.exitCode, c.moved ? 1 : 0);
    if (c.moved) {
        EXPECT_EQ(Look(from), "none");
        EXPECT_EQ(Look(to), fromBefore);
    } else {
        EXPECT_EQ(Look(from), fromBefore);
        EXPECT_EQ(Look(to), toBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, PackageBackupTest,
    ::testing::Values(
        Case{"KeepOwnPackageToAFreeName", Step::kKeep, Entry::kOwnFile, Entry::kNone, true},
        Case{"KeepReplacesAnOwnEarlierBackup", Step::kKeep, Entry::kOwnFile, Entry::kOwnFile, true},
        Case{"KeepNotThroughAnotherUsersLink", Step::kKeep, Entry::kOwnFile,
             Entry::kOtherLinkToNowhere, false},
        Case{"KeepNotOverAnotherUsersFile", Step::kKeep, Entry::kOwnFile, Entry::kOtherFile,
             false},
        Case{"KeepNotAnotherUsersPackage", Step::kKeep, Entry::kOtherFile, Entry::kNone, false},
        Case{"KeepNotALinkAtThePackagesName", Step::kKeep, Entry::kOwnLinkToOwnFile, Entry::kNone,
             false},
        Case{"RestoreOwnBackupToAFreeName", Step::kRestore, Entry::kOwnFile, Entry::kNone, true},
        Case{"RestoreNotThroughAnotherUsersLink", Step::kRestore, Entry::kOwnFile,
             Entry::kOtherLinkToNowhere, false},
        Case{"RestoreNotAnotherUsersBackup", Step::kRestore, Entry::kOtherFile, Entry::kNone,
             false},
        Case{"DropOwnBackup", Step::kDrop, Entry::kOwnFile, Entry::kNone, true},
        Case{"DropNotAnotherUsersFile", Step::kDrop, Entry::kOtherFile, Entry::kNone, false},
        Case{"DropNotALink", Step::kDrop, Entry::kOwnLinkToOwnFile, Entry::kNone, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
