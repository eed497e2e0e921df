// A whole update as it happens on a machine, in private mount and PID namespaces with a
// /tmp of their own and a virtual display: the simulator, as the promote service, gets the
// front end's update request and starts the staged update program, which stops copies of
// the client's programs, has refitter install the package into its own folder and shows
// the result box, which the test answers through the window system. Needs root (for the
// namespaces), Xvfb and xdotool; skipped otherwise.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pkg_test.h"
#include "ui_test/ui_sim.h"
#include "ui_update.h"
#include "update_test.h"
#include "vt_test/child_process.h"
#include "vt_test/private_tmp.h"

extern char** environ;

namespace {

const std::string kBin = VT_TEST_RUNTIME_DIR;
constexpr char kPackage[] = "/tmp/vantrelo-macosx.tar.gz";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const int64_t end = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > end) return false;
        usleep(50 * 1000);
    }
    return true;
}

bool OnPath(const char* program) {
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        if (access((std::string(dir) + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// The end of a long text (the simulator's and the update program's standard error).
std::string Tail(const std::string& text) {
    return text.size() > 4000 ? text.substr(text.size() - 4000) : text;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof(buf), p) != nullptr) out += buf;
        pclose(p);
    }
    return out;
}

pid_t Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? pid : -1;
}

// Xvfb on a display it picks itself; its abstract socket is reachable from the private
// /tmp, where its lock files are not.
std::string StartDisplay(pid_t* pid) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::string();
    *pid = fork();
    if (*pid == 0) {
        dup2(fds[1], 3);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close_range(4, ~0U, 0);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

// .VanTrelo below the home folder, without the logs the programs write there.
std::map<std::string, std::string> UserFolder(const std::string& home) {
    std::map<std::string, std::string> all = pkg_test::Snapshot(home + "/.VanTrelo");
    for (auto it = all.begin(); it != all.end();) {
        it = it->first.compare(0, 3, "log") == 0 ? all.erase(it) : std::next(it);
    }
    return all;
}

class UpdateEndToEnd {
public:
    void Run() {
        ASSERT_EQ(mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr), 0);
        // A /tmp of its own; the build tree, when it lies under /tmp, is bound back into it
        // so that the programs, the language files and the package script stay reachable.
        const std::string tmp = vt_test::MountPrivateTmp(
            {kBin, pkg_test::MakePackageScript(), "/proc/self/exe"},
            {"/tmp/opt", "/tmp/bin", "/tmp/new", "/tmp/VanTrelo", kPackage, "/tmp/lsan.supp"});
        ASSERT_TRUE(tmp.empty()) << tmp;
        ASSERT_EQ(setenv("TMPDIR", "/tmp", 1), 0);
        display_ = StartDisplay(&xvfb_);
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        // What the update program inherits through the simulator.
        ASSERT_EQ(setenv("DISPLAY", display_.c_str(), 1), 0);
        ASSERT_EQ(unsetenv("QT_QPA_PLATFORM"), 0);
        // The GL integration is loaded and unloaded again for nothing in a widgets program:
        // what it leaves is reported by the leak checker without a name to suppress it by.
        ASSERT_EQ(setenv("QT_XCB_GL_INTEGRATION", "none", 1), 0);
        // Leaks inside the message bus and Unicode libraries that the window system's
        // platform plugin brings along are not the update program's.
        pkg_test::WriteFile("/tmp/lsan.supp", "leak:libdbus-1.so\nleak:libicuuc.so\n");
        ASSERT_EQ(setenv("LSAN_OPTIONS", "print_suppressions=0:suppressions=/tmp/lsan.supp", 1), 0);
        const char* asan = getenv("ASAN_OPTIONS");
        ASSERT_EQ(setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":strict_string_checks=0").c_str(), 1), 0);
        ui_test::LinkSetUp();

        Stage();
        ui_test::SimLink link(R"("update":{"run":true})");
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        home_ = getenv("HOME");
        ASSERT_EQ(mkdir((home_ + "/.VanTrelo").c_str(), 0700) == 0 || errno == EEXIST, true);
        pkg_test::WriteFile(home_ + "/.VanTrelo/sysconfig.ini", "[ADVANCED]\nClientLanguageID=1033\n");
        const auto userBefore = UserFolder(home_);

        // A good package: installed, the settings kept, the client's copies gone.
        std::vector<pid_t> copies;
        for (const char* name : {"VanTrelo", "VanTreloCS", "VanTreloPromoteService"}) {
            copies.push_back(Spawn({"/tmp/bin/" + std::string(name), "300"}));
            ASSERT_GT(copies.back(), 0);
        }
        const pkg_test::Tree fresh = NewTree();
        pkg_test::WriteTree("/tmp/new", fresh);
        ASSERT_EQ(pkg_test::Run({"/bin/sh", pkg_test::MakePackageScript(), "/tmp/new", "7.0.2.34", kPackage}), 0);
        const std::string title = update_test::Label(1033, "/UI_UPDATE/UI_UPDATE_TITLE").toStdString();
        Request();
        ASSERT_TRUE(AnswerResultBox(title)) << Tail(link.sim().Diagnostics());
        ASSERT_TRUE(WaitExit(link, 1)) << Tail(link.sim().Diagnostics());
        EXPECT_EQ(pkg_test::ReadFile(app_ + "/version"), "7.0.2.34");
        EXPECT_EQ(pkg_test::ReadFile(app_ + "/VanTrelo"), fresh.at("VanTrelo").content);
        EXPECT_EQ(pkg_test::ReadFile(app_ + "/sysconfig.ini"), "[GLOBAL]\nClientLogLevel=1\n");
        EXPECT_EQ(pkg_test::Names("/tmp/opt"), std::vector<std::string>{"Van Trelo"});
        EXPECT_EQ(UserFolder(home_), userBefore);
        for (pid_t pid : copies) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << pid;
        }
        EXPECT_EQ(link.sim().Control("ping"), "OK pong");
        struct stat st {};
        EXPECT_NE(lstat("/tmp/VanTrelo", &st), 0);
        EXPECT_NE(lstat(kPackage, &st), 0);
        EXPECT_NE(UpdateLog().find("[65535][update seccess]"), std::string::npos) << UpdateLog();

        // A package whose manifest does not match: the failure box, the tree as it was.
        const auto installed = pkg_test::Snapshot(app_);
        std::vector<pkg_test::Member> members = pkg_test::PackageMembers(fresh, "7.0.2.35");
        const std::string hash = pkg_test::Sha256Hex(fresh.at("version").content);
        members[1].data.replace(members[1].data.find(hash), hash.size(), pkg_test::Sha256Hex("7.0.2.35"));
        pkg_test::WriteOuterPackage(kPackage, pkg_test::Ustar(members));
        Request();
        ASSERT_TRUE(AnswerResultBox(title)) << Tail(link.sim().Diagnostics());
        ASSERT_TRUE(WaitExit(link, 2)) << Tail(link.sim().Diagnostics());
        EXPECT_EQ(pkg_test::Snapshot(app_), installed);
        const std::string log = UpdateLog();
        EXPECT_NE(log.find("[65535]3\n"), std::string::npos) << log;
        EXPECT_NE(log.find("[65535][update failed][Installation file damage.]"), std::string::npos);
        EXPECT_EQ(pkg_test::Names("/tmp/opt"), std::vector<std::string>{"Van Trelo"});
    }
    ~UpdateEndToEnd() {
        if (xvfb_ > 0) {
            kill(xvfb_, SIGTERM);
            waitpid(xvfb_, nullptr, 0);
        }
    }

private:
    // An install folder with a blank in its path: copies of the update program, refitter
    // and the language files, an old front end, its version and settings.
    void Stage() {
        ASSERT_EQ(mkdir("/tmp/opt", 0755), 0);
        ASSERT_EQ(mkdir("/tmp/bin", 0755), 0);
        app_ = "/tmp/opt/Van Trelo";
        pkg_test::WriteTree(app_, {{"VanTrelo", {0755, "old front end"}},
                                   {"version", {0644, "7.0.2.33"}},
                                   {"sysconfig.ini", {0644, "[GLOBAL]\nClientLogLevel=1\n"}}});
        for (const char* program : {"VanTreloUpdate", "refitter"}) {
            std::string bytes;
            ASSERT_TRUE(pkg_test::ReadNeeded(kBin + program, &bytes));
            pkg_test::WriteFile(app_ + "/" + program, bytes, 0755);
        }
        ASSERT_EQ(pkg_test::Run({"/bin/cp", "-R", kBin + "language", app_ + "/language"}), 0);
        std::string sleep;
        ASSERT_TRUE(pkg_test::ReadNeeded("/bin/sleep", &sleep));
        for (const char* name : {"VanTrelo", "VanTreloCS", "VanTreloPromoteService"}) {
            pkg_test::WriteFile("/tmp/bin/" + std::string(name), sleep, 0755);
        }
    }
    pkg_test::Tree NewTree() const {
        pkg_test::Tree t = {{"VanTrelo", {0755, "new front end 7.0.2.34"}},
                            {"version", {0644, "7.0.2.34"}},
                            {"sysconfig.ini", {0644, "[GLOBAL]\nClientLogLevel=3\n"}}};
        t["VanTreloUpdate"] = {0755, pkg_test::ReadFile(kBin + "VanTreloUpdate")};
        t["refitter"] = {0755, pkg_test::ReadFile(kBin + "refitter")};
        t["language/1033/l_UILabel.ini"] = {0644, pkg_test::ReadFile(kBin + "language/1033/l_UILabel.ini")};
        t["language/2052/l_UILabel.ini"] = {0644, pkg_test::ReadFile(kBin + "language/2052/l_UILabel.ini")};
        return t;
    }
    void Request() {
        UIUPDATE_START_S rec;
        std::memset(&rec, 0, sizeof(rec));
        std::snprintf(rec.acUpdateProgram, sizeof(rec.acUpdateProgram), "%s/VanTreloUpdate", app_.c_str());
        std::snprintf(rec.acPackagePath, sizeof(rec.acPackagePath), "%s", kPackage);
        std::snprintf(rec.acDownloadUrl, sizeof(rec.acDownloadUrl), "https://gw.example/app/vantrelo-macosx.tar.gz");
        std::snprintf(rec.acLoginName, sizeof(rec.acLoginName), "root");
        ASSERT_EQ(UI_Update_Start(&rec, sizeof(rec)), 0u);
    }
    std::string X(const std::string& args) const {
        // Bounded, so that a "--sync" the display never satisfies fails instead of hanging.
        return Output("DISPLAY=" + display_ + " timeout -k 2 15 xdotool " + args + " 2>/dev/null");
    }
    // Waits for the result box (the window of that title that is not the 320 x 71
    // progress window) and presses Return on it. The progress steps are real: the whole
    // run takes about ten seconds at most.
    bool AnswerResultBox(const std::string& title) {
        std::string box;
        const bool found = WaitFor([&] {
            std::stringstream ids(X("search --onlyvisible --name '^" + title + "$'"));
            for (std::string id; std::getline(ids, id);) {
                const std::string geometry = X("getwindowgeometry " + id);
                if (!id.empty() && geometry.find("320x71") == std::string::npos) {
                    box = id;
                    return true;
                }
            }
            return false;
        }, 60000);
        if (!found) return false;
        // A box found the moment it was mapped may not take the focus yet: ask again
        // until the display reports it there.
        const bool focused = WaitFor([&] {
            X("windowfocus " + box);
            std::string now = X("getwindowfocus");
            if (!now.empty() && now.back() == '\n') now.pop_back();
            return now == box;
        }, 15000);
        if (!focused) return false;
        X("key --clearmodifiers Return");
        return true;
    }
    // Waits for the count-th update program to end, which must be with status 0.
    bool WaitExit(ui_test::SimLink& link, int count) {
        return WaitFor([&] {
            const std::string state = link.sim().Control("state");
            size_t n = 0;
            for (size_t at = state.find("\"exitStatus\":0"); at != std::string::npos;
                 at = state.find("\"exitStatus\":0", at + 1)) {
                ++n;
            }
            return n == static_cast<size_t>(count);
        }, 60000);
    }
    std::string UpdateLog() const {
        std::string all;
        for (const std::string& name : pkg_test::Names(home_ + "/.VanTrelo/log")) {
            if (name.compare(0, 24, "VanTrelo_VanTreloUpdate_") == 0) {
                all += pkg_test::ReadFile(home_ + "/.VanTrelo/log/" + name);
            }
        }
        return all;
    }

    std::string display_, app_, home_;
    pid_t xvfb_ = -1;
};

TEST(UpdateEndToEndTest, StagedInstallIsUpdatedAndABadPackageLeavesItWhole) {
    if (geteuid() != 0) GTEST_SKIP() << "the private namespaces need root";
    if (!OnPath("Xvfb") || !OnPath("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
    const auto outer = vt_test::RunInChild([] {
        // The mounts below must never reach the machine's.
        ASSERT_EQ(unshare(CLONE_NEWNS | CLONE_NEWPID), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        // The first child is the namespace's first process: when it ends, everything it
        // started ends with it.
        const auto inner = vt_test::RunInChild([] { UpdateEndToEnd().Run(); }, 240000);
        EXPECT_TRUE(vt_test::ExitedWith(inner)) << vt_test::Describe(inner);
    }, 260000);
    EXPECT_TRUE(vt_test::ExitedWith(outer)) << vt_test::Describe(outer);
}

}  // namespace
