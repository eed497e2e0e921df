// The fault report's system-information files, the runner of outside programs behind
// them, the log folder look-ups and the text-encoding wrappers.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jqr_mem.h"
#include "ui_cmdrun_inner.h"
#include "ui_env.h"
#include "ui_env_inner.h"
#include "ui_proxy_inner.h"
#include "ui_sysinfo.h"
#include "ui_sysinfo_inner.h"
#include "ui_test/ui_sim.h"
#include "vt_test/temp_env.h"

namespace {

const char* const kCommandFiles[] = {"operate_system_info.txt", "route_info.txt", "netcard_info.txt"};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        closedir(d);
    }
    return names;
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr ? buf : "";
}

// What a program prints, read here through the shell with a fixed command line.
std::string Output(const char* command) {
    std::string out;
    if (FILE* p = popen(command, "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The programs the report runs, when one is missing (net-tools not installed).
std::string MissingPrograms() {
    std::string missing;
    if (Output("command -v uname").empty()) missing += " uname";
    if (Output("command -v netstat").empty()) missing += " netstat";
    if (access("/sbin/ifconfig", X_OK) != 0) missing += " /sbin/ifconfig";
    return missing;
}

// Lines that start an interface's block in the interface list.
size_t InterfaceBlocks(const std::string& text) {
    size_t count = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != ' ' && line[0] != '\t') ++count;
    }
    return count;
}

ProxyDict* NoProxySettings() { return nullptr; }

class UiSysInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();  // first: the platform keeps its own folder for the process
        env_ = std::make_unique<vt_test::TempEnv>();
        uiProxySourceSet(NoProxySettings);
        tmp_ = RealPath(env_->Tmp());
        ASSERT_FALSE(tmp_.empty());
    }
    void TearDown() override {
        uiProxySourceSet(nullptr);
        uiInstallPathSet(nullptr);
        uiBundleProgramNameSet(nullptr);
    }

    std::unique_ptr<vt_test::TempEnv> env_;
    std::string tmp_;
};

TEST_F(UiSysInfoTest, RefusedFoldersWriteNothing) {
    const std::string tooLong = "/" + std::string(1024, 'f');
    const struct {
        const char* label;
        const char* folder;
        bool logged;
    } cases[] = {
        {"null", nullptr, false},
        {"missing", nullptr, true},
        {"1025 characters", tooLong.c_str(), true},
    };
    const std::string missing = tmp_ + "/missing";
    const char* kLine = "[65535][Set system info failed][reason:get valid file path failed]";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const char* folder = std::strcmp(c.label, "missing") == 0 ? missing.c_str() : c.folder;
        const size_t before = ui_test::LogCount(kLine);
        EXPECT_EQ(UI_SystemInfo_Set(folder), 1u);
        EXPECT_EQ(ui_test::LogCount(kLine), before + (c.logged ? 1 : 0));
        EXPECT_TRUE(Names(tmp_).empty());
    }
    EXPECT_EQ(UI_SystemInfo_Append(nullptr), 1u);
    EXPECT_EQ(UI_SystemInfo_Write(nullptr), 1u);
}

// Whatever the files held before, each command file ends with exactly one copy of its
// program's output, and the proxy file is there without any proxy set.
TEST_F(UiSysInfoTest, EachFileHoldsOneCopyOfItsOutput) {
    const std::string missing = MissingPrograms();
    if (!missing.empty()) {
        GTEST_SKIP() << "the report's programs are missing here:" << missing << " (package net-tools)";
    }
    const std::string folder = tmp_ + "/log";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (const char* f : kCommandFiles) WriteFile(folder + "/" + f, "stale line\n");
    WriteFile(folder + "/proxy_info.txt", "stale line\n");

    ASSERT_EQ(UI_SystemInfo_Set((folder + "/.").c_str()), 0u);

    EXPECT_EQ(Names(folder), (std::set<std::string>{"operate_system_info.txt", "route_info.txt",
                                                    "netcard_info.txt", "proxy_info.txt"}));
    const std::string os = ReadFile(folder + "/operate_system_info.txt");
    EXPECT_FALSE(os.empty());
    EXPECT_EQ(os, Output("uname -a"));
    // The routes and the interfaces' counters may move between two runs: the routing
    // table's header and the interfaces' first lines are counted instead.
    const std::string routes = ReadFile(folder + "/route_info.txt");
    const std::string routesNow = Output("netstat -nr");
    EXPECT_EQ(routes.find("stale"), std::string::npos);
    EXPECT_EQ(std::count(routes.begin(), routes.end(), '\n'), std::count(routesNow.begin(), routesNow.end(), '\n'))
        << routes;
    const std::string cards = ReadFile(folder + "/netcard_info.txt");
    EXPECT_EQ(cards.find("stale"), std::string::npos);
    EXPECT_GT(InterfaceBlocks(cards), 0u);
    EXPECT_EQ(InterfaceBlocks(cards), InterfaceBlocks(Output("/sbin/ifconfig -a"))) << cards;
    EXPECT_EQ(ReadFile(folder + "/proxy_info.txt"), "proxy type is :none\n");
}

// A folder whose name a shell would run parts of: the files are written into it and
// nothing is executed, neither in the working folder nor in the report's.
TEST_F(UiSysInfoTest, FolderNameIsNeverCommandText) {
    if (Output("command -v uname").empty()) {
        GTEST_SKIP() << "uname is missing here";
    }
    const std::string work = tmp_ + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    const std::string folder = work + "/q\"$(touch pwned1)\"`touch pwned2`\\;touch pwned3;'$HOME'";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    char oldCwd[PATH_MAX];
    ASSERT_NE(getcwd(oldCwd, sizeof(oldCwd)), nullptr);
    ASSERT_EQ(chdir(work.c_str()), 0);
    const uint32_t rc = UI_SystemInfo_Set(folder.c_str());
    ASSERT_EQ(chdir(oldCwd), 0);

    EXPECT_EQ(rc, 0u);
    std::string inWork;
    for (const std::string& n : Names(work)) inWork += "[" + n + "]";
    EXPECT_EQ(Names(work).size(), 1u) << "something besides the folder appeared: " << inWork;
    EXPECT_EQ(ReadFile(folder + "/operate_system_info.txt"), Output("uname -a"));
    EXPECT_EQ(ReadFile(folder + "/proxy_info.txt"), "proxy type is :none\n");
    for (const char* f : kCommandFiles) EXPECT_TRUE(Exists(folder + "/" + f)) << f;
    for (const char* f : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(Exists(work + "/" + f)) << f;
        EXPECT_FALSE(Exists(folder + "/" + f)) << f;
    }
}

// Paths of 1025 characters or more do nothing (the second pass says so in the log); a
// joined path that does not fit its buffer is neither created nor run for.
TEST_F(UiSysInfoTest, PathLimits) {
    const std::string tooLong = tmp_ + "/" + std::string(1025 - tmp_.size() - 1, 'p');
    ASSERT_EQ(tooLong.size(), 1025u);
    const struct {
        const char* label;
        uint32_t (*pfn)(const char*, int);
        const char* log;  // NULL: none
    } steps[] = {
        {"os append", UI_OsInfo_Append, nullptr},
        {"route append", UI_RouteList_Append, nullptr},
        {"interface append", UI_InterfaceList_Append, nullptr},
        {"os", UI_OsInfo_Get, "[65535][Get OS info failed][reason:invalid file path length]"},
        {"route", UI_RouteList_Get, "[65535][Get route list failed][reason:invalid file path length]"},
        {"interface", UI_InterfaceList_Get,
         "[65535][Get interface list failed][reason:invalid file path length]"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.label);
        const size_t before = s.log != nullptr ? ui_test::LogCount(s.log) : 0;
        EXPECT_EQ(s.pfn(tooLong.c_str(), 0), 1u);
        EXPECT_EQ(s.pfn(nullptr, 0), 1u);
        if (s.log != nullptr) {
            EXPECT_EQ(ui_test::LogCount(s.log), before + 1);
        }
    }
    EXPECT_TRUE(Names(tmp_).empty());
    EXPECT_EQ(UI_File_Truncate(nullptr), 1u);

    // A folder of 1003 characters: "operate_system_info.txt" would make a path of 1027,
    // the three other names fit the 1023 characters of the buffer.
    std::string folder = tmp_;
    while (folder.size() < 1003) {
        const size_t part = std::min<size_t>(200, 1003 - folder.size() - 1);
        folder += "/" + std::string(part, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << folder.size();
    }
    ASSERT_EQ(folder.size(), 1003u);
    EXPECT_EQ(UI_SystemInfo_Set(folder.c_str()), 0u);
    EXPECT_EQ(Names(folder), (std::set<std::string>{"route_info.txt", "netcard_info.txt", "proxy_info.txt"}));
}

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The runner: no shell between the arguments and the program, nothing of the front end
// handed to the child, and a bounded wait.
TEST_F(UiSysInfoTest, ProgramsRunWithoutShell) {
    const std::string out = tmp_ + "/out.txt";
    const char* const kText = "$(touch pwned) \"q\" `x` ; 'y' \\z %s";
    {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const char* const echo[] = {"printf", "%s", kText, nullptr};
        EXPECT_EQ(UI_Command_Run(echo, fd), 0u);
        const char* const fails[] = {"false", nullptr};
        EXPECT_EQ(UI_Command_Exec(fails, fd), 0u) << "a started program counts whatever its status";
        const char* const none[] = {"no-such-program-here", nullptr};
        EXPECT_EQ(UI_Command_Run(none, fd), 1u);
        const char* const notExecutable[] = {"/etc/hostname", nullptr};
        EXPECT_EQ(UI_Command_Run(notExecutable, fd), 1u);
        EXPECT_EQ(UI_Command_Run(nullptr, fd), 1u);
        EXPECT_EQ(UI_Command_Run(echo, -1), 1u);
        close(fd);
    }
    EXPECT_EQ(ReadFile(out), kText);
    EXPECT_FALSE(Exists("pwned"));

    // Standard input is /dev/null; a descriptor of the front end without close-on-exec
    // does not reach the child.
    std::string text;
    int status = -1;
    const char* const input[] = {"readlink", "/proc/self/fd/0", nullptr};
    ASSERT_EQ(uiChildCapture(input, 4096, false, 10000, &text, &status), UI_CHILD_OK);
    EXPECT_EQ(text, "/dev/null\n");
    const int leaky = fcntl(1, F_DUPFD, 60);  // no close-on-exec
    ASSERT_GE(leaky, 60);
    const char* const fds[] = {"ls", "/proc/self/fd", nullptr};
    ASSERT_EQ(uiChildCapture(fds, 4096, false, 10000, &text, &status), UI_CHILD_OK);
    close(leaky);
    std::istringstream listed(text);
    for (std::string n; listed >> n;) EXPECT_LE(std::stoi(n), 3) << text;

    const char* const exit3[] = {"sh", "-c", "exit 3", nullptr};
    ASSERT_EQ(uiChildCapture(exit3, 16, false, 10000, &text, &status), UI_CHILD_OK);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);

    const char* const flood[] = {"head", "-c", "100000", "/dev/zero", nullptr};
    EXPECT_EQ(uiChildCapture(flood, 1000, false, 10000, &text, &status), UI_CHILD_OVERFLOW);
    EXPECT_TRUE(text.empty());

    // A program that does not end is stopped.
    const char* const sleeper[] = {"sleep", "600", nullptr};
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(uiChildRun(sleeper, fd, false, 100, &status), UI_CHILD_TIMEOUT);
    close(fd);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(uiChildCapture(sleeper, 16, false, 100, &text, &status), UI_CHILD_TIMEOUT);
}

// The report's zip: a stand-in "zip" first on PATH writes down the arguments it got and
// where its standard output goes, and ends with the status it is told.
TEST_F(UiSysInfoTest, ReportZipArgumentsAndStatus) {
    const std::string bin = tmp_ + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
    WriteFile(bin + "/zip",
              "#!/bin/sh\n"
              "out=$(readlink /proc/$$/fd/1)\n"
              "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo \"stdout=$out\"; } >\"$ZIP_RECORD\"\n"
              "exit \"$ZIP_EXIT\"\n");
    ASSERT_EQ(chmod((bin + "/zip").c_str(), 0700), 0);
    const std::string record = tmp_ + "/record";
    const std::string oldPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    setenv("ZIP_RECORD", record.c_str(), 1);

    const char* const files[] = {"/l/a b.txt", "-x.log", "/l/$(touch pwned)", nullptr};
    const struct {
        const char* target;
        const char* exitCode;
        const char* args;  // as recorded, one a line
    } cases[] = {
        {"/t/r.zip", "0", "-j\n/t/r.zip\n/l/a b.txt\n./-x.log\n/l/$(touch pwned)\n"},
        {"-TT=x y.zip", "12", "-j\n./-TT=x y.zip\n/l/a b.txt\n./-x.log\n/l/$(touch pwned)\n"},
    };
    for (const auto& c : cases) {
        setenv("ZIP_EXIT", c.exitCode, 1);
        int status = -1;
        ASSERT_EQ(UI_ErrorReport_Zip(c.target, files, &status), 0u) << c.target;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), std::atoi(c.exitCode)) << c.target;
        EXPECT_EQ(ReadFile(record), std::string(c.args) + "stdout=/dev/null\n") << c.target;
    }
    EXPECT_FALSE(Exists("pwned"));

    const char* const none[] = {nullptr};
    int status = -1;
    EXPECT_EQ(UI_ErrorReport_Zip(nullptr, files, &status), 1u);
    EXPECT_EQ(UI_ErrorReport_Zip("", files, &status), 1u);
    EXPECT_EQ(UI_ErrorReport_Zip("/t/r.zip", nullptr, &status), 1u);
    setenv("ZIP_EXIT", "0", 1);
    EXPECT_EQ(UI_ErrorReport_Zip("/t/r.zip", none, nullptr), 0u) << "an empty list is zip's to refuse";
    setenv("PATH", tmp_.c_str(), 1);
    EXPECT_EQ(UI_ErrorReport_Zip("/t/r.zip", files, &status), 1u) << "no zip on PATH";
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("ZIP_RECORD");
    unsetenv("ZIP_EXIT");
}

TEST_F(UiSysInfoTest, LogFolderFromTheInstallFolder) {
    char buf[1100];
    std::memset(buf, 'x', sizeof(buf));
    ASSERT_EQ(UI_LogDir_Get(buf, sizeof(buf)), 0u);
    const std::string self = RealPath("/proc/self/exe");
    EXPECT_EQ(std::string(buf), self.substr(0, self.rfind('/')) + "/log");

    const struct {
        const char* install;  // "" : unknown
        int size;
        uint32_t rc;
        const char* text;
    } cases[] = {
        {"/opt/vt/bin", 1024, 0, "/opt/vt/bin/log"},
        {"/opt/vt/bin", 16, 0, "/opt/vt/bin/log"},
        {"/opt/vt/bin", 15, 1, ""},
        {"", 1024, 1, ""},
        {"/opt/vt/bin", 0, 1, "xxxx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.install) + "/" + std::to_string(c.size));
        uiInstallPathSet(c.install);
        std::memset(buf, 'x', sizeof(buf));
        buf[sizeof(buf) - 1] = '\0';
        EXPECT_EQ(UI_LogDir_Get(buf, c.size), c.rc);
        if (c.size > 0) {
            EXPECT_STREQ(buf, c.text);
            EXPECT_EQ(buf[c.size], 'x') << "written beyond the given size";
        } else {
            EXPECT_EQ(std::string(buf, 4), c.text) << "a buffer of no size was written";
        }
    }
    EXPECT_EQ(UI_LogDir_Get(nullptr, 1024), 1u);
}

// The look-up through the running processes finds the named program's folder.
TEST_F(UiSysInfoTest, LogFolderFromTheProcessList) {
    const std::string found = Output("command -v sleep");
    const std::string sleepPath = RealPath(found.substr(0, found.find('\n')));
    ASSERT_FALSE(sleepPath.empty());
    const std::string bin = tmp_ + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
    const std::string name = "vtprobe" + std::to_string(getpid());
    const std::string program = bin + "/" + name;
    WriteFile(program, ReadFile(sleepPath));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);

    char buf[512];
    uiBundleProgramNameSet(name.c_str());
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(UI_BundleLogDir_Get(buf, sizeof(buf)), 1u) << "no such process yet";
    EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), '\0'));

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(program.c_str(), name.c_str(), "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the child runs the program (it is still this test program at first).
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    for (int64_t until = NowMs() + 20000; NowMs() < until;) {
        char target[PATH_MAX] = {};
        if (readlink(link.c_str(), target, sizeof(target) - 1) > 0 && program == target) break;
        usleep(1000);
    }
    EXPECT_EQ(UI_BundleLogDir_Get(buf, sizeof(buf)), 0u);
    EXPECT_EQ(std::string(buf), bin + "/log");
    const size_t exact = bin.size() + 4;  // the text without its terminator
    EXPECT_EQ(UI_BundleLogDir_Get(buf, static_cast<uint32_t>(exact)), 1u) << "no room for the terminator";
    EXPECT_EQ(std::string(buf, exact), std::string(exact, '\0'));
    EXPECT_EQ(UI_BundleLogDir_Get(buf, static_cast<uint32_t>(exact + 1)), 0u);
    EXPECT_EQ(UI_BundleLogDir_Get(nullptr, 16), 1u);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST_F(UiSysInfoTest, TextEncodingWrappers) {
    const std::string utf8 = "VPN \xE4\xB8\xAD\xE6\x96\x87";  // "VPN 中文"
    const std::string gbk = "VPN \xD6\xD0\xCE\xC4";
    char* out = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(UI_TextEncode_Convert(utf8.data(), uint32_t(utf8.size()), &out, &len), 0u);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out, len), gbk);
    UKO_Free(out);
    out = nullptr;
    ASSERT_EQ(UI_TextDecode_Convert(gbk.data(), uint32_t(gbk.size()), &out, &len), 0u);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out, len), utf8);
    UKO_Free(out);
    out = nullptr;
    EXPECT_EQ(UI_TextEncode_Convert("\xFF", 1, &out, &len), 1u);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
