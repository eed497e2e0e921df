// The update program itself, spawned as the promote service spawns it (element 0 the
// parameter text, element 1 the launch token), on the offscreen platform with a home
// folder of its own: the launch check, the start of its log and the size limit of the
// parameter text.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pkg_test.h"
#include "vt_test/temp_env.h"

extern char** environ;

namespace {

const std::string kProgram = std::string(VT_TEST_RUNTIME_DIR) + "VanTreloUpdate";
constexpr char kToken[] = "amber stone, rework!";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const int64_t end = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > end) return false;
        usleep(20 * 1000);
    }
    return true;
}

std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = &out[0];
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

class UpdateProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The offscreen platform's screens outlive the application, which the leak
        // checker would report; nothing else is hidden.
        pkg_test::WriteFile(env_.Root() + "/lsan.supp", "leak:libqoffscreen.so\n");
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Starts the program with this argument vector; locale C.UTF-8.
    void Start(const std::vector<std::string>& argv) {
        std::vector<std::string> env = {"HOME=" + env_.Home(), "TMPDIR=" + env_.Tmp(), "LC_ALL=C.UTF-8",
                                        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + env_.Tmp(),
                                        "ASAN_OPTIONS=fast_unwind_on_malloc=0",
                                        "LSAN_OPTIONS=print_suppressions=0:suppressions=" + env_.Root() + "/lsan.supp"};
        if (const char* path = getenv("PATH")) env.push_back(std::string("PATH=") + path);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid_, kProgram.c_str(), nullptr, nullptr, args.data(), envp.data()), 0);
    }
    // The exit status once it ended within the time, -1 otherwise.
    int Wait(int timeoutMs = 30000) {
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Log() const { return pkg_test::ReadFile(env_.Home() + "/.VanTrelo/log/VanTrelo_VanTreloUpdate_0.log"); }
    bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

    vt_test::TempEnv env_;
    pid_t pid_ = -1;
};

TEST_F(UpdateProgramTest, WithoutTheTokenEndsAtOnceAndCreatesNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"/tmp/vantrelo-macosx.tar.gz;https://gw/p;alice;1"},
        {"/tmp/vantrelo-macosx.tar.gz;https://gw/p;alice;1", "Amber stone, rework!"},
        {"/tmp/vantrelo-macosx.tar.gz;https://gw/p;alice;1", std::string(kToken) + "x"},
        {"/tmp/vantrelo-macosx.tar.gz;https://gw/p;alice;1", "amber stone, rework"},
    };
    for (const auto& argv : cases) {
        SCOPED_TRACE(argv.size() > 1 ? argv[1] : "no element 1");
        Start(argv);
        EXPECT_EQ(Wait(), 0);
        struct stat st {};
        EXPECT_NE(lstat((env_.Home() + "/.VanTrelo").c_str(), &st), 0);
    }
}

// One byte past the limit: the start is logged, the window never shown and no run begun.
TEST_F(UpdateProgramTest, ParameterTextPastItsLimitEndsAfterTheStartLines) {
    Start({std::string(1025, 'a'), kToken});
    EXPECT_EQ(Wait(), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("[ UPDATE INFO   "), std::string::npos) << log;
    EXPECT_NE(log.find("] [65535][Update init ok]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] [65535][Update start][flagStr is " + std::string(100, 'a')), std::string::npos);
    EXPECT_NE(log.find("] [65535][Update start][get buff is " + std::string(100, 'a')), std::string::npos);
    EXPECT_EQ(log.find("[update][mac begin update.]"), std::string::npos);
}

TEST_F(UpdateProgramTest, ParameterTextAtItsLimitStartsTheRun) {
    Start({std::string(1024, 'a'), kToken});
    EXPECT_TRUE(WaitFor([this] { return Logged("] [65535][update][mac begin update.]"); }, 30000)) << Log();
}

// The limit counts the text in the local encoding: a GBK text within 1024 bytes is longer
// in UTF-8 (three bytes where GBK has two).
TEST_F(UpdateProgramTest, LimitCountsTheLocalEncoding) {
    const auto chinese = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "升";
        return s;
    };
    // 800 bytes in GBK, 1200 in UTF-8: refused.
    Start({Gbk(chinese(400)), kToken});
    EXPECT_EQ(Wait(), 0);
    EXPECT_TRUE(Logged("[65535][Update init ok]"));
    EXPECT_FALSE(Logged("[update][mac begin update.]"));
    // 600 bytes in GBK, 900 in UTF-8: accepted.
    ASSERT_EQ(unlink((env_.Home() + "/.VanTrelo/log/VanTrelo_VanTreloUpdate_0.log").c_str()), 0);
    Start({Gbk(chinese(300)), kToken});
    EXPECT_TRUE(WaitFor([this] { return Logged("[update][mac begin update.]"); }, 30000)) << Log();
}

}  // namespace
