// The uninstaller's removal over folders made here: the command it builds from the
// install folder and what the users folder holds, the checks that keep every other path
// out of it, and what follows from the runner's answer. The client's programs are never
// really stopped: the kill is always a recording stand-in. Cases that run the command as
// root do so on these folders only, or in a child's private mount namespace on tmpfs
// laid over /opt, /home and the other folders they name.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
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

void MakeLink(const std::string& target, const std::string& path) {
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path << ": " << strerror(errno);
}

// An install folder as the client's tree lays it out: the programs the checks look for,
// and the uninstaller beside them.
void MakeInstall(const std::string& folder) {
    if (!Exists(folder)) {
        MakeDir(folder);
    }
    for (const char* program : {"VanTrelo", "VanTreloUpdate", "VanTreloUninstaller"}) {
        MakeFile(folder + "/" + program);
    }
    MakeDir(folder + "/promote");
    MakeFile(folder + "/promote/VanTreloPromoteService");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A process blocked in opening the FIFO for writing: it ends as soon as anyone opens
// the FIFO for reading.
class BlockedWriter {
public:
    explicit BlockedWriter(const std::string& fifo) {
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(fifo.c_str(), O_WRONLY);
            _exit(fd >= 0 ? 0 : 1);
        }
        // Time for it to reach the open and block there.
        usleep(200 * 1000);
    }
    ~BlockedWriter() {
        if (pid_ > 0) {
            (void)kill(pid_, SIGKILL);
            (void)waitpid(pid_, nullptr, 0);
        }
    }
    BlockedWriter(const BlockedWriter&) = delete;
    BlockedWriter& operator=(const BlockedWriter&) = delete;

    bool StillBlocked() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        install_ = env_.Root() + "/VanTrelo";
        users_ = env_.Root() + "/users";
        MakeInstall(install_);
        MakeDir(users_);
        uninstallProgramFolderSet(install_.c_str());
        uninstallUsersDirSet(users_.c_str());
        uninstallRunnerSet(RecordingRunner);
        uninstallKillerSet(RecordingKiller);
        g_events.clear();
        g_runResult = 0;
        g_runReason.clear();
    }

    void TearDown() override {
        uninstallProgramFolderSet(nullptr);
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

    std::string InstallCommand() const {
        return "rm -rf --one-file-system -- '" + install_ + "'";
    }

    vt_test::TempEnv env_;
    std::string install_;
    std::string users_;
};

// Every name a home can have reaches the command as one quoted word, in name order;
// links among the homes are passed over. A FIFO in the place of the folder, and a link
// named ".VanTrelo" to a FIFO elsewhere, go as they are, and neither FIFO is opened: a
// writer blocked on each stays blocked.
TEST_F(Removal, CommandQuotesEveryReadableFolderInNameOrder) {
    Home("u1", true);
    Home("it's", true);
    Home("my user", true);
    Home("u2", false);
    MakeLink(users_ + "/u1", users_ + "/link");
    Home("fifo", false);
    ASSERT_EQ(mkfifo((users_ + "/fifo/.VanTrelo").c_str(), 0644), 0);
    const std::string elsewhere = env_.Root() + "/elsewhere";
    ASSERT_EQ(mkfifo(elsewhere.c_str(), 0644), 0);
    Home("linked", false);
    MakeLink(elsewhere, users_ + "/linked/.VanTrelo");
    BlockedWriter inPlace(users_ + "/fifo/.VanTrelo");
    BlockedWriter linked(elsewhere);
    ASSERT_TRUE(inPlace.StillBlocked());
    ASSERT_TRUE(linked.StillBlocked());

    const auto child = vt_test::RunInChild(
        [&] {
            EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
            const std::string u = users_;
            const std::vector<std::string> expected = {
                "run " + InstallCommand() + " '" + u + "/fifo/.VanTrelo' '" + u +
                    "/it'\\''s/.VanTrelo' '" + u + "/linked/.VanTrelo' '" + u +
                    "/my user/.VanTrelo' '" + u + "/u1/.VanTrelo'",
                kKillLine};
            EXPECT_EQ(g_events, expected);
        },
        20000);
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
    usleep(100 * 1000);
    EXPECT_TRUE(inPlace.StillBlocked()) << "the FIFO in the folder's place was opened";
    EXPECT_TRUE(linked.StillBlocked()) << "the link's target was opened";
}

// Only the install folder goes when no home holds the folder, or when the users folder
// cannot be listed at all.
TEST_F(Removal, WithoutUserFoldersOnlyTheInstallFolderGoes) {
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
        const std::vector<std::string> expected = {"run " + InstallCommand(), kKillLine};
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
    EXPECT_EQ(g_events[0].rfind("run rm -rf --one-file-system -- ", 0), 0u) << g_events[0];
    EXPECT_NE(err.find(g_runReason), std::string::npos) << err;
}

// A folder that is not a plain absolute path, "/" among them, would let the command
// reach paths that are not the client's: nothing runs.
TEST_F(Removal, FoldersThatAreNoPlainAbsolutePathAreRefused) {
    struct Case {
        const char* name;
        std::string program;
        std::string users;
    };
    const Case cases[] = {
        {"program_folder_empty", "", users_},
        {"program_folder_root", "/", users_},
        {"program_folder_relative", "VanTrelo", users_},
        {"program_folder_trailing_slash", install_ + "/", users_},
        {"program_folder_dot", env_.Root() + "/./VanTrelo", users_},
        {"program_folder_dot_dot", install_ + "/promote/..", users_},
        {"users_empty", install_, ""},
        {"users_root", install_, "/"},
        {"users_double_slash", install_, "/" + users_},
        {"users_dot_dot", install_, users_ + "/../users"},
    };
    Home("u1", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_events.clear();
        uninstallProgramFolderSet(c.program.c_str());
        uninstallUsersDirSet(c.users.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(g_events.empty()) << g_events[0];
    }
    EXPECT_TRUE(Exists(users_ + "/u1/.VanTrelo"));
}

// Only a folder that holds the client's programs as regular files, reached through real
// folders, and that is no home folder nor holds one, is an install folder; for any other
// nothing runs, and standard error says why.
TEST_F(Removal, FoldersThatAreNoInstallFolderAreRefused) {
    struct Case {
        const char* name;
        std::function<std::string()> make;  // returns the program's folder
        const char* why;                     // a piece of the reason
    };
    const std::string root = env_.Root();
    const std::string elsewhere = root + "/elsewhere";
    MakeDir(elsewhere);
    MakeFile(elsewhere + "/VanTrelo");
    MakeDir(elsewhere + "/promote");
    MakeFile(elsewhere + "/promote/VanTreloPromoteService");
    // Builds a folder with the whole tree, then lets the change spoil it.
    const auto spoilt = [&](const std::string& name,
                            const std::function<void(const std::string&)>& change) {
        const std::string folder = root + "/" + name;
        MakeInstall(folder);
        change(folder);
        return folder;
    };
    const auto gone = [](const std::string& path) { vt_test::RemoveTree(path); };
    const Case cases[] = {
        {"only_the_uninstaller",
         [&] {
             MakeDir(root + "/Lone");
             MakeFile(root + "/Lone/VanTreloUninstaller");
             return root + "/Lone";
         },
         "holds no regular file 'VanTrelo'"},
        {"no_update_program",
         [&] {
             return spoilt("NoUpdate", [&](const std::string& f) { gone(f + "/VanTreloUpdate"); });
         },
         "holds no regular file 'VanTreloUpdate'"},
        {"no_promote_service",
         [&] {
             return spoilt("NoPromote", [&](const std::string& f) {
                 gone(f + "/promote/VanTreloPromoteService");
             });
         },
         "holds no regular file 'promote/VanTreloPromoteService'"},
        {"client_is_a_folder",
         [&] {
             return spoilt("ClientFolder", [&](const std::string& f) {
                 gone(f + "/VanTrelo");
                 MakeDir(f + "/VanTrelo");
             });
         },
         "holds no regular file 'VanTrelo'"},
        {"client_is_a_link_to_a_file",
         [&] {
             return spoilt("ClientLink", [&](const std::string& f) {
                 gone(f + "/VanTrelo");
                 MakeLink(elsewhere + "/VanTrelo", f + "/VanTrelo");
             });
         },
         "holds no regular file 'VanTrelo'"},
        {"update_program_is_a_fifo",
         [&] {
             return spoilt("UpdateFifo", [&](const std::string& f) {
                 gone(f + "/VanTreloUpdate");
                 ASSERT_EQ(mkfifo((f + "/VanTreloUpdate").c_str(), 0644), 0);
             });
         },
         "holds no regular file 'VanTreloUpdate'"},
        {"promote_is_a_link_to_a_folder",
         [&] {
             return spoilt("PromoteLink", [&](const std::string& f) {
                 gone(f + "/promote");
                 MakeLink(elsewhere + "/promote", f + "/promote");
             });
         },
         "holds no regular file 'promote/VanTreloPromoteService'"},
        {"folder_is_a_link",
         [&] {
             MakeLink(install_, root + "/Linked");
             return root + "/Linked";
         },
         "is a link or no folder"},
        {"link_on_the_way",
         [&] {
             MakeDir(root + "/real");
             MakeInstall(root + "/real/VanTrelo");
             MakeLink(root + "/real", root + "/via");
             return root + "/via/VanTrelo";
         },
         "is a link or no folder"},
        {"a_home_folder",
         [&] {
             MakeInstall(users_ + "/u1");
             return users_ + "/u1";
         },
         "is a home folder"},
        {"the_users_folder",
         [&] {
             MakeInstall(users_);
             return users_;
         },
         "is a home folder"},
        {"holds_the_users_folder",
         [&] {
             MakeInstall(root + "/Tree");
             MakeDir(root + "/Tree/homes");
             MakeDir(root + "/Tree/homes/u9");
             uninstallUsersDirSet((root + "/Tree/homes").c_str());
             return root + "/Tree";
         },
         "is a home folder or holds one"},
    };
    Home("u1", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_events.clear();
        const std::string folder = c.make();
        uninstallProgramFolderSet(folder.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
        EXPECT_TRUE(g_events.empty()) << g_events[0];
        uninstallUsersDirSet(users_.c_str());
    }

    // The whole tree, for contrast, goes.
    g_events.clear();
    uninstallProgramFolderSet(install_.c_str());
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    ASSERT_FALSE(g_events.empty());
    EXPECT_EQ(g_events[0], "run " + InstallCommand() + " '" + users_ + "/u1/.VanTrelo'");
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
    EXPECT_FALSE(Exists(install_));
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
                  "/bin/sh -c " + InstallCommand() + " '" + users_ + "/u1/.VanTrelo'\n");
        EXPECT_TRUE(g_events.empty());
        EXPECT_TRUE(Exists(install_ + "/VanTrelo"));
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

    // Runs the body in a child with a private mount namespace, "/" made private first so
    // that nothing mounted there reaches the machine's mount table, and tmpfs over each
    // of the folders. Skips the test where no such namespace can be made.
    void InPrivateMounts(const std::vector<std::string>& covered,
                         const std::function<void()>& body) {
        const auto child = vt_test::RunInChild([&]() -> int {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                return kChildSkipped;
            }
            for (const std::string& folder : covered) {
                if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "mode=0755") != 0) {
                    ADD_FAILURE() << "cannot cover " << folder << ": " << strerror(errno);
                    return 1;
                }
            }
            body();
            return 0;
        });
        if (child.exited && child.exitCode == kChildSkipped) {
            GTEST_SKIP() << "no private mount namespace here";
        }
        EXPECT_TRUE(vt_test::ExitedWith(child, 0));
    }
};

// The real command, run as root: the install folder and the per-user folders go, other
// files stay.
TEST_F(RemovalAsRoot, RemovesTheInstallFolderAndTheUserFolders) {
    Home("u1", true);
    Home("my user", true);
    Home("u2", false);
    MakeFile(users_ + "/u2/notes");
    EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
    EXPECT_EQ(g_events, std::vector<std::string>{kKillLine});
    for (const std::string& gone :
         {install_, users_ + "/u1/.VanTrelo", users_ + "/my user/.VanTrelo"}) {
        EXPECT_FALSE(Exists(gone)) << gone;
    }
    EXPECT_TRUE(Exists(users_ + "/u2/notes"));
    EXPECT_TRUE(Exists(users_ + "/u1"));
}

// A path that rm cannot remove (a per-user folder on a file system made read-only) makes
// the removal fail although other paths are gone: -1 and nothing stopped.
TEST_F(RemovalAsRoot, PathThatCannotGoFailsAndStopsNothing) {
    InPrivateMounts({users_}, [&] {
        Home("u1", true);
        ASSERT_EQ(mount("tmpfs", users_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "mode=0755"), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(g_events.empty());
        EXPECT_TRUE(Exists(users_ + "/u1/.VanTrelo/sysconfig.ini"));
    });
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
            "run " + InstallCommand() + " '" + users_ + "/u2/.VanTrelo'", kKillLine};
        EXPECT_EQ(g_events, expected);
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped) {
        GTEST_SKIP() << "cannot become nobody over the temporary folder";
    }
    EXPECT_TRUE(vt_test::ExitedWith(child, 0));
}

// Folders of the system and home folders are refused even when they hold the client's
// whole tree; the same tree one level down, or inside a home, is an install folder.
TEST_F(RemovalAsRoot, SystemAndHomeFoldersAreRefusedWhateverTheyHold) {
    struct Case {
        const char* folder;
        bool mayGo;
    };
    const Case cases[] = {
        {"/opt", false},           {"/home", false},
        {"/home/u1", false},       {"/root", false},
        {"/usr/local", false},     {"/usr/local/bin", false},
        {"/usr/local/share", false}, {"/opt/VanTrelo", true},
        {"/opt/Van Trelo", true},  {"/usr/local/VanTrelo", true},
        {"/home/u1/apps/VanTrelo", true},
    };
    uninstallUsersDirSet(nullptr);
    uninstallRunnerSet(RecordingRunner);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        // Each case on fresh folders: the tree at "/opt" has a program file where the
        // tree at "/opt/VanTrelo" has its folder.
        InPrivateMounts({"/opt", "/home", "/root", "/usr/local"}, [&] {
            MakeDir("/home/u1");
            MakeDir("/home/u1/apps");
            MakeDir("/usr/local/bin");
            MakeDir("/usr/local/share");
            MakeInstall(c.folder);
            g_events.clear();
            uninstallProgramFolderSet(c.folder);
            testing::internal::CaptureStderr();
            EXPECT_EQ(UI_ModifyTulmFilePrivileges(), c.mayGo ? 0 : -1);
            const std::string err = testing::internal::GetCapturedStderr();
            if (c.mayGo) {
                const std::vector<std::string> expected = {
                    "run rm -rf --one-file-system -- " + LNX_ShellQuote(c.folder), kKillLine};
                EXPECT_EQ(g_events, expected) << err;
            } else {
                EXPECT_TRUE(g_events.empty()) << g_events[0];
                EXPECT_NE(err, "");
            }
        });
    }
}

// The removal as the Uninstall button runs it, as root, with the real users folder: a
// mount below a ".VanTrelo" from another file system or bound in from the same one, or
// a ".VanTrelo" that is a mount itself (also under names the mount table writes with
// escapes), keeps that whole folder and every mounted file, with a line on standard
// error; a link named ".VanTrelo" to a FIFO goes as a link, its FIFO never opened; the
// rest goes.
TEST_F(RemovalAsRoot, MountsInUserFoldersAreNeverCrossed) {
    uninstallUsersDirSet(nullptr);
    uninstallProgramFolderSet("/opt/VanTrelo");
    InPrivateMounts({"/opt", "/home"}, [&] {
        MakeInstall("/opt/VanTrelo");
        const auto userFolder = [](const std::string& user) {
            MakeDir("/home/" + user);
            MakeDir("/home/" + user + "/.VanTrelo");
            MakeFile("/home/" + user + "/.VanTrelo/sysconfig.ini");
            return "/home/" + user + "/.VanTrelo";
        };
        struct Mounted {
            std::string folder;  // the mounted folder, whose file must stay
            std::string userFolder;
        };
        std::vector<Mounted> mounted;
        // Another file system below the folder, under plain and escaped names.
        for (const std::string& user : {std::string("other"), std::string("my user"),
                                        std::string("tab\there"), std::string("back\\slash")}) {
            const std::string folder = userFolder(user);
            MakeDir(folder + "/logs");
            ASSERT_EQ(mount("tmpfs", (folder + "/logs").c_str(), "tmpfs", 0, "mode=0755"), 0);
            mounted.push_back({folder + "/logs", folder});
        }
        // A folder of the same file system as /home bound in, deep below.
        {
            MakeDir("/home/data");
            const std::string folder = userFolder("same");
            MakeDir(folder + "/a");
            MakeDir(folder + "/a/b");
            ASSERT_EQ(mount("/home/data", (folder + "/a/b").c_str(), nullptr, MS_BIND, nullptr), 0);
            mounted.push_back({folder + "/a/b", folder});
        }
        // The folder itself a mount.
        {
            MakeDir("/home/itself");
            MakeDir("/home/itself/.VanTrelo");
            ASSERT_EQ(mount("tmpfs", "/home/itself/.VanTrelo", "tmpfs", 0, "mode=0755"), 0);
            mounted.push_back({"/home/itself/.VanTrelo", "/home/itself/.VanTrelo"});
        }
        for (const Mounted& m : mounted) {
            MakeFile(m.folder + "/kept");
        }
        // A link to a FIFO with a writer blocked on it.
        ASSERT_EQ(mkfifo("/opt/fifo", 0666), 0);
        MakeDir("/home/linked");
        MakeLink("/opt/fifo", "/home/linked/.VanTrelo");
        BlockedWriter writer("/opt/fifo");
        ASSERT_TRUE(writer.StillBlocked());
        const std::string plain = userFolder("plain");

        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(g_events, std::vector<std::string>{kKillLine}) << err;
        for (const Mounted& m : mounted) {
            SCOPED_TRACE(m.folder);
            EXPECT_TRUE(Exists(m.folder + "/kept"));
            EXPECT_TRUE(Exists(m.userFolder));
            EXPECT_NE(err.find(LNX_ShellQuote(m.userFolder.c_str()) + " stays"), std::string::npos)
                << err;
        }
        EXPECT_TRUE(Exists("/home/other/.VanTrelo/sysconfig.ini"));
        EXPECT_TRUE(Exists("/home/same/.VanTrelo/sysconfig.ini"));
        usleep(100 * 1000);
        EXPECT_TRUE(writer.StillBlocked()) << "the FIFO behind the link was opened";
        EXPECT_FALSE(Exists("/home/linked/.VanTrelo"));
        EXPECT_TRUE(Exists("/opt/fifo"));
        EXPECT_FALSE(Exists(plain));
        EXPECT_FALSE(Exists("/opt/VanTrelo"));
    });
}

// A mount at or below the install folder, of another file system or of the same one,
// refuses the whole removal before anything goes.
TEST_F(RemovalAsRoot, MountsAtOrBelowTheInstallFolderRefuseTheRemoval) {
    struct Case {
        const char* name;
        const char* mountPoint;
        bool bind;
    };
    const Case cases[] = {
        {"another_file_system_below", "/opt/VanTrelo/language", false},
        {"same_file_system_bound_below", "/opt/VanTrelo/promote/data", true},
        {"the_folder_itself", "/opt/VanTrelo", false},
    };
    uninstallUsersDirSet(nullptr);
    uninstallProgramFolderSet("/opt/VanTrelo");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InPrivateMounts({"/opt", "/home"}, [&] {
            MakeDir("/opt/VanTrelo");
            MakeDir("/home/u1");
            MakeDir("/home/u1/.VanTrelo");
            if (c.bind) {
                MakeInstall("/opt/VanTrelo");
                MakeDir("/opt/data");
                MakeDir(c.mountPoint);
                ASSERT_EQ(mount("/opt/data", c.mountPoint, nullptr, MS_BIND, nullptr), 0);
            } else {
                if (std::string(c.mountPoint) != "/opt/VanTrelo") {
                    MakeDir(c.mountPoint);
                }
                ASSERT_EQ(mount("tmpfs", c.mountPoint, "tmpfs", 0, "mode=0755"), 0);
                MakeInstall("/opt/VanTrelo");
            }
            MakeFile(std::string(c.mountPoint) + "/kept");
            testing::internal::CaptureStderr();
            EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(err.find("is a mount point or holds one"), std::string::npos) << err;
            EXPECT_TRUE(g_events.empty());
            EXPECT_TRUE(Exists(std::string(c.mountPoint) + "/kept"));
            EXPECT_TRUE(Exists("/opt/VanTrelo/VanTrelo"));
            EXPECT_TRUE(Exists("/home/u1/.VanTrelo"));
        });
    }
}

// A mount of another file system that appears below a per-user folder after the checks
// (the user mounted one in between) is not crossed by the command either: its files
// stay, and the removal, which could not take the folder whole, fails.
std::string g_lateMount;
int MountingRunner(const char* pcCommand, std::string* pReason) {
    if (mount("tmpfs", g_lateMount.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        return -1;
    }
    std::ofstream(g_lateMount + "/kept") << "x\n";
    return LNX_RootCommandRun(pcCommand, pReason);
}

TEST_F(RemovalAsRoot, MountMadeAfterTheChecksIsNotCrossed) {
    uninstallUsersDirSet(nullptr);
    uninstallProgramFolderSet("/opt/VanTrelo");
    uninstallRunnerSet(MountingRunner);
    InPrivateMounts({"/opt", "/home"}, [&] {
        MakeInstall("/opt/VanTrelo");
        MakeDir("/home/u1");
        MakeDir("/home/u1/.VanTrelo");
        MakeDir("/home/u1/.VanTrelo/late");
        g_lateMount = "/home/u1/.VanTrelo/late";
        testing::internal::CaptureStderr();
        EXPECT_EQ(UI_ModifyTulmFilePrivileges(), -1);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(Exists("/home/u1/.VanTrelo/late/kept"));
        EXPECT_TRUE(g_events.empty());
    });
}

}  // namespace
