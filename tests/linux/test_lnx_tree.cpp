// Removing a tree by descriptor: what is removed, what is never reached through it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "lnx_tree.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

class LnxTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = env_.Root();
        outside_ = root_ + "/outside";
        ASSERT_EQ(mkdir(outside_.c_str(), 0755), 0);
        Touch(outside_ + "/keep");
    }
    vt_test::TempEnv env_;
    std::string root_, outside_;
};

// A deep tree with links to the outside in it: everything below goes, links included,
// and nothing they point at.
TEST_F(LnxTreeTest, RemovesTheTreeAndItsLinksButNothingTheyPointAt) {
    const std::string tree = root_ + "/tree";
    std::string dir = tree;
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    for (int depth = 0; depth < 40; ++depth) {
        dir += "/d";
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        Touch(dir + "/f");
    }
    ASSERT_EQ(symlink(outside_.c_str(), (tree + "/to-folder").c_str()), 0);
    ASSERT_EQ(symlink((outside_ + "/keep").c_str(), (dir + "/to-file").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (dir + "/dangling").c_str()), 0);
    // A folder its owner may not write: root removes it, as does its owner.
    ASSERT_EQ(mkdir((tree + "/locked").c_str(), 0700), 0);
    Touch(tree + "/locked/f");
    ASSERT_EQ(chmod((tree + "/locked").c_str(), 0500), 0);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod((tree + "/locked").c_str(), 0700), 0);
    }

    EXPECT_EQ(LNX_RemoveTree(tree.c_str()), 0);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(outside_ + "/keep"));
}

TEST_F(LnxTreeTest, RemovesTheEntryItselfWhateverItIs) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path, const std::string& outside);
    } cases[] = {
        {"link to a folder",
         [](const std::string& p, const std::string& o) { ASSERT_EQ(symlink(o.c_str(), p.c_str()), 0); }},
        {"file", [](const std::string& p, const std::string&) { Touch(p); }},
        {"empty folder", [](const std::string& p, const std::string&) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }},
        {"nothing", [](const std::string&, const std::string&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = root_ + "/entry";
        c.make(path, outside_);
        EXPECT_EQ(LNX_RemoveTree((path + "/").c_str()), 0);
        EXPECT_FALSE(Exists(path));
        EXPECT_TRUE(Exists(outside_ + "/keep"));
    }
}

TEST_F(LnxTreeTest, RefusesNamesThatAreNoEntry) {
    const int dirFd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
    for (const char* name : {"", ".", "..", "outside/keep"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LNX_RemoveAt(dirFd, name), EINVAL);
    }
    EXPECT_EQ(LNX_RemoveAt(dirFd, nullptr), EINVAL);
    close(dirFd);
    EXPECT_TRUE(Exists(outside_ + "/keep"));
}

// A mount inside the tree is not walked into, whether it is another file system or a bind
// mount of the tree's own: its files are not the tree's.
TEST_F(LnxTreeTest, StopsAtAnotherFileSystem) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    const std::string tree = root_ + "/tree";
    const auto r = vt_test::RunInChild([&] {
        ASSERT_EQ(unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        struct Case {
            const char* name;
            const char* source;
            const char* type;
            unsigned long flags;
        } cases[] = {{"bind mount", outside_.c_str(), nullptr, MS_BIND},
                     {"tmpfs", "tmpfs", "tmpfs", 0}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
            ASSERT_EQ(mkdir((tree + "/mnt").c_str(), 0755), 0);
            ASSERT_EQ(mount(c.source, (tree + "/mnt").c_str(), c.type, c.flags, nullptr), 0);
            Touch(tree + "/mnt/mounted");
            EXPECT_EQ(LNX_RemoveTree(tree.c_str()), EXDEV);
            EXPECT_TRUE(Exists(tree + "/mnt/mounted"));
            EXPECT_TRUE(Exists(outside_ + "/keep"));
            // The mount itself named: its contents are not walked either.
            EXPECT_EQ(LNX_RemoveTree((tree + "/mnt").c_str()), EXDEV);
            EXPECT_TRUE(Exists(tree + "/mnt/mounted"));
            ASSERT_EQ(umount((tree + "/mnt").c_str()), 0);
            EXPECT_EQ(LNX_RemoveTree(tree.c_str()), 0);
        }
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << vt_test::Describe(r);
}

}  // namespace
