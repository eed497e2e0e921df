// The uninstaller's removal over folders made here: the command it builds from what the
// users folder holds, the checks that keep every other path out of it, and what follows
// from the runner's answer. The client's programs are never really stopped: the kill is
// always a recording stand-in. Cases that run the command as root do so on these folders
// only, and a mount they need is made in a child's private mount namespace.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lnx_root.h"
#include "uninstall_removal.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

// Exit code of a child that found the machine unable to run its case.
constexpr int kChildSkipped = 77;

// What the removal asked for, in order: "run <command>" and "kill <names>".
std::vector<std::string> g_events;
int g_runResult = 0;
std::string g_runReason;

int RecordingRunner(const char* pcCommand, std::string* pReason) {
    g_events.push_back(std::string("run ") + pcCommand);
    if (g_runResult != 0 && pReason != nullptr) {
        *pReason = g_runReason;
    }
    return g_runResult;
}

// Runs the command as the test's own user through the shell, as the root runner would
// hand it over, in the current folder.
int ShellRunner(const char* pcCommand, std::string*) {
    g_events.push_back(std::string("run ") + pcCommand);
    const int status = std::system(pcCommand);
    return status == 0 ? 0 : -1;
}

void RecordingKiller(const std::vector<std::string>& names) {
    std::string line = "kill";
    for (const std::string& name : names) {
        line += " " + name;
    }
    g_events.push_back(line);
}

const char kKillLine[] = "kill VanTrelo VanTreloUpdate VanTreloPromoteService VanTreloCS";

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path << ": " << strerror(errno);
}

void MakeFile(const std::string& path, const std::string& text = "x\n") {
    std::ofstream out(path);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        apps_ = env_.Root() + "/Applications";
        users_ = env_.Root() + "/users";
        MakeDir(apps_);
        MakeDir(apps_ + "/vantrelo.app");
        MakeFile(apps_ + "/vantrelo.app/VanTrelo");
        MakeDir(apps_ + "/VanTreloUninstaller.app");
        MakeFile(apps_ + "/VanTreloUninstaller.app/VanTreloUninstaller");
        MakeDir(users_);
        uninstallApplicationsDirSet(apps_.c_str());
        uninstallUsersDirSet(users_.c_str());
        uninstallRunnerSet(RecordingRunner);
        uninstallKillerSet(RecordingKiller);
        g_events.clear();
        g_runResult = 0;
        g_runReason.clear();
    }

    void TearDown() override {
        uninstallApplicationsDirSet(nullptr);
        uninstallUsersDirSet(nullptr);
        uninstallRunnerSet(nullptr);
        uninstallKillerSet(nullptr);
        lnxPkexecPathSet(nullptr);
        lnxRootRunnerAsUserSet(false);
    }

    // A home in the users folder, with a ".VanTrelo" folder holding a file when asked.
    void Home(const std::string& name, bool withFolder, mode_t folderMode = 0755) {
        MakeDir(users_ + "/" + name);
        if (withFolder) {
            MakeDir(users_ + "/" + name + "/.VanTrelo", folderMode);
            MakeFile(users_ + "/" + name + "/.VanTrelo/sysconfig.ini");
        }
    }

    std::string BundlesCommand() const {
        return "rm -rf -- '" + apps_ + "/vantrelo.app' '" + apps_ + "/VanTreloUninstaller.app'";
    }

    vt_test::TempEnv env_;
    std::string apps_;
    std::string users_;
};

// Every name a home can have reaches the command as one quoted word, in name order;
// links among the homes are passed over and a FIFO in the place of the folder is tested
// without waiting for a writer (the child is ended when it hangs).
TEST_F(Removal, CommandQuotesEveryReadableFolderInNameOrder) {
    Home("u1", true);
    Home("it's", true);
    Home("my user", true);
    Home("u2", false);
    ASSERT_EQ(symlink((users_ + "/u1").c_str(), (users_ + "/link").c_str()), 0);
    Home("fifo", false);
    ASSERT_EQ(mkfifo((users_ + "/fifo/.VanTrelo").c_str(), 0644), 0);

    const auto child = vt_test::RunInChild(
        [&] {
            EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
            const std::string u = users_;
            const std::vector<std::string> expected = {
                "run " + BundlesCommand() + " '" + u + "/fifo/.VanTrelo' '" + u +
                    "/it'\\''s/.VanTrelo' '" + u + "/my user/.VanTrelo' '" + u +
                    "/u1/.VanTrelo'",
                kKillLine};
            EXPECT_EQ(g_events, expected);
        },
        20000);
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
}

// Only the bundles go when no home holds the folder, or when the users folder cannot be
// listed at all.
TEST_F(Removal, WithoutUserFoldersOnlyTheBundlesGo) {
    struct Case {
        const char* name;
        bool listable;
    };
    for (const Case& c : {Case{"no_folder_anywhere", true}, Case{"users_not_listable", false}}) {
        SCOPED_TRACE(c.name);
        g_events.clear();
        vt_test::RemoveTree(users_);
        if (c.listable) {
            MakeDir(users_);
            Home("u2", false);
            MakeFile(users_ + "/notes");
        }
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        const std::vector<std::string> expected = {"run " + BundlesCommand(), kKillLine};
        EXPECT_EQ(g_events, expected);
    }
}

// A refused prompt or a failed command: -1, nothing stopped, and the reason on standard
// error.
TEST_F(Removal, RunnerFailureStopsNothingAndSaysWhy) {
    Home("u1", true);
    g_runResult = -1;
    g_runReason = "/usr/bin/pkexec ended with status 0x7e00";
    testing::internal::CaptureStderr();
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].rfind("run rm -rf -- ", 0), 0u) << g_events[0];
    EXPECT_NE(err.find(g_runReason), std::string::npos) << err;
}

// A folder that is not a plain absolute path, "/" among them, would let the command
// reach paths that are not the client's: nothing runs.
TEST_F(Removal, FoldersThatAreNoPlainAbsolutePathAreRefused) {
    struct Case {
        const char* name;
        std::string applications;
        std::string users;
    };
    const Case cases[] = {
        {"applications_empty", "", users_},
        {"applications_root", "/", users_},
        {"applications_relative", "Applications", users_},
        {"applications_trailing_slash", apps_ + "/", users_},
        {"applications_dot", env_.Root() + "/./Applications", users_},
        {"users_empty", apps_, ""},
        {"users_root", apps_, "/"},
        {"users_double_slash", apps_, "/" + users_},
        {"users_dot_dot", apps_, users_ + "/../users"},
    };
    Home("u1", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_events.clear();
        uninstallApplicationsDirSet(c.applications.c_str());
        uninstallUsersDirSet(c.users.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(g_events.empty()) << g_events[0];
    }
    EXPECT_TRUE(Exists(users_ + "/u1/.VanTrelo"));
}

// Through a real shell, names that hold blanks, quotes, separators, expansions or a
// leading dash remove their own folder and nothing else, and run nothing.
TEST_F(Removal, HomeNamesReachTheShellAsOneWordEach) {
    const std::vector<std::string> names = {
        "a b", "x;touch pwned1", "$(touch pwned2)", "`touch pwned3`", "q'uote", "d\"q",
        "new\nline", "-rf", "*", "back\\slash", "tab\there"};
    for (const std::string& name : names) {
        Home(name, true);
    }
    // What an unquoted "a b" or "*" would reach.
    Home("a", false);
    MakeFile(users_ + "/a/keep");
    Home("b", false);
    MakeFile(users_ + "/b/keep");
    uninstallRunnerSet(ShellRunner);

    const auto child = vt_test::RunInChild([&] {
        EXPECT_EQ(chdir(env_.Root().c_str()), 0);
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    });
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Exists(users_ + "/" + name + "/.VanTrelo"));
        EXPECT_TRUE(Exists(users_ + "/" + name));
    }
    EXPECT_TRUE(Exists(users_ + "/a/keep"));
    EXPECT_TRUE(Exists(users_ + "/b/keep"));
    for (const char* pwned : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(Exists(env_.Root() + "/" + pwned)) << pwned;
    }
    EXPECT_FALSE(Exists(apps_ + "/vantrelo.app"));
    EXPECT_FALSE(Exists(apps_ + "/VanTreloUninstaller.app"));
}

// The root runner, asked through a password prompt that the user dismisses (pkexec ends
// with 126) or that refuses the user (127): nothing removed, nothing stopped.
TEST_F(Removal, RefusedPasswordPromptRemovesNothing) {
    Home("u1", true);
    const std::string pkexec = env_.Root() + "/pkexec";
    const std::string asked = env_.Root() + "/pkexec-asked";
    lnxPkexecPathSet(pkexec.c_str());
    lnxRootRunnerAsUserSet(true);
    uninstallRunnerSet(nullptr);
    for (int status : {126, 127}) {
        SCOPED_TRACE(status);
        MakeFile(pkexec, "#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + asked + "'\nexit " +
                             std::to_string(status) + "\n");
        ASSERT_EQ(chmod(pkexec.c_str(), 0755), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        const std::string err = testing::internal::GetCapturedStderr();
        char reason[64];
        snprintf(reason, sizeof(reason), "ended with status 0x%x", status << 8);
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        EXPECT_EQ(ReadFile(asked),
                  "/bin/sh -c " + BundlesCommand() + " '" + users_ + "/u1/.VanTrelo'\n");
        EXPECT_TRUE(g_events.empty());
        EXPECT_TRUE(Exists(apps_ + "/vantrelo.app/VanTrelo"));
        EXPECT_TRUE(Exists(users_ + "/u1/.VanTrelo/sysconfig.ini"));
    }
}

class RemovalAsRoot : public Removal {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "runs the command as root";
        }
        Removal::SetUp();
        uninstallRunnerSet(nullptr);
    }
};

// The real command, run as root: the bundles and the folders go, other files stay, and a
// bundle that is already gone is no failure.
TEST_F(RemovalAsRoot, RemovesTheBundlesAndTheFolders) {
    Home("u1", true);
    Home("my user", true);
    Home("u2", false);
    MakeFile(users_ + "/u2/notes");
    for (bool uninstallerMissing : {false, true}) {
        SCOPED_TRACE(uninstallerMissing ? "uninstaller bundle missing" : "both bundles");
        g_events.clear();
        if (uninstallerMissing) {
            MakeDir(apps_ + "/vantrelo.app");
            Home("u3", true);
        }
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        EXPECT_EQ(g_events, std::vector<std::string>{kKillLine});
        for (const std::string& gone :
             {apps_ + "/vantrelo.app", apps_ + "/VanTreloUninstaller.app",
              users_ + "/u1/.VanTrelo", users_ + "/my user/.VanTrelo",
              users_ + "/u3/.VanTrelo"}) {
            EXPECT_FALSE(Exists(gone)) << gone;
        }
        EXPECT_TRUE(Exists(users_ + "/u2/notes"));
        EXPECT_TRUE(Exists(users_ + "/u1"));
    }
}

// A path that rm cannot remove (a read-only mount inside a per-user folder) makes the
// removal fail although other paths are gone: -1 and nothing stopped.
TEST_F(RemovalAsRoot, PathThatCannotGoFailsAndStopsNothing) {
    Home("u1", true);
    const std::string ro = users_ + "/u1/.VanTrelo/ro";
    MakeDir(ro);
    const auto child = vt_test::RunInChild([&]() -> int {
        // The mounts stay in this child: "/" is made private first, so that nothing made
        // here reaches the machine's mount table.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return kChildSkipped;
        }
        MakeFile(ro + "/kept");
        EXPECT_EQ(mount("tmpfs", ro.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(g_events.empty());
        EXPECT_TRUE(Exists(ro + "/kept"));
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
}

// A per-user folder that the uninstaller's user may not read is not found and stays.
TEST_F(RemovalAsRoot, FolderTheUserCannotReadIsLeftOut) {
    Home("u1", true, 0700);
    Home("u2", true, 0755);
    for (const std::string& path : {env_.Root(), users_}) {
        ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        GTEST_SKIP() << "no user nobody";
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    uninstallRunnerSet(RecordingRunner);

    const auto child = vt_test::RunInChild([&]() -> int {
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
            setresuid(uid, uid, uid) != 0) {
            return kChildSkipped;
        }
        if (access(users_.c_str(), R_OK | X_OK) != 0) {
            return kChildSkipped;  // the temporary folder lies where nobody cannot go
        }
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        const std::vector<std::string> expected = {
            "run " + BundlesCommand() + " '" + users_ + "/u2/.VanTrelo'", kKillLine};
        EXPECT_EQ(g_events, expected);
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped) {
        GTEST_SKIP() << "cannot become nobody over the temporary folder";
    }
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
}

}  // namespace
