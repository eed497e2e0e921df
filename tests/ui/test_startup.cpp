// The start function run in-process, each run in a child of its own (it builds its own
// application object and may end the process) under a private HOME and TMPDIR, with the
// language files beside the test program as they lie beside the client.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include <QApplication>
#include <QString>

#include "languagesetting.h"
#include "startup.h"
#include "ui_link_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

// A local server under the test program's name in TMPDIR: what a running instance
// leaves listening. Kept open by the caller.
int ListenAsRunningInstance() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = std::string(getenv("TMPDIR")) + "/ui_startup";
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 8) != 0) {
        ADD_FAILURE() << "no listener at " << path;
    }
    return fd;
}

// Lines of the client's own log files (log name "VanTreloUI", in the per-user log
// folder) that hold the fragment.
size_t ClientLogCount(const std::string& fragment) {
    size_t n = 0;
    const std::string dir = std::string(getenv("HOME")) + "/.VanTrelo/log/";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).find("VanTreloUI") == std::string::npos) continue;
            std::ifstream in(dir + e->d_name);
            std::string line;
            while (std::getline(in, line)) n += line.find(fragment) != std::string::npos;
        }
        closedir(d);
    }
    return n;
}

struct Refusal {
    const char* what;
    const char* program;  // argv[0], UTF-8
    const char* key;      // the box's text
    int status;
};

// Both refusals come before any connection to the service; the path's is first, so it
// comes even while another instance runs. Kana, Hangul, full-width forms and
// ideographs outside U+4E00..U+9FA5 are no Chinese path.
TEST(StartFunction, PathAndSecondInstanceRefusalsWithTheirStatuses) {
    const Refusal cases[] = {
        {"Chinese folder", "/opt/\xE4\xB8\xAD\xE6\x96\x87/VanTrelo", "/UI_MAIN/UI_MAIN_CN_DIR", -1},
        {"last ideograph of the range", "/opt/\xE9\xBE\xA5/VanTrelo", "/UI_MAIN/UI_MAIN_CN_DIR", -1},
        {"kana and Hangul", "/opt/\xE3\x81\x8B\xE3\x81\xAA/\xED\x95\x9C/VanTrelo",
         "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
        {"full-width letters, an ideograph past the range", "/opt/\xEF\xBC\xA1/\xE9\xBE\xA6/VanTrelo",
         "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
        {"plain path", "/opt/app/VanTrelo", "/UI_MAIN/UI_MAIN_PROCESS_EXIST", 0},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        vt_test::TempEnv env;
        ASSERT_EQ(mkdir((env.Home() + "/.VanTrelo").c_str(), 0700), 0);
        const int running = ListenAsRunningInstance();
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            vt_qt_test::BoxDriver driver;
            driver.ArmForNextApplication();
            driver.Answer(vt_qt_test::BoxDriver::kEscape);
            std::string program = c.program;
            char* argv[] = {&program[0], nullptr};
            int argc = 1;
            const int status = FrontEnd_Main(argc, argv);
            EXPECT_EQ(status, c.status);
            const QString text = LanguageSetting::GetInstance()->GetValue(QString::fromUtf8(c.key));
            EXPECT_FALSE(text.isEmpty()) << "the language files lie beside the test program";
            EXPECT_EQ(driver.Seen().size(), 1u);
            if (!driver.Seen().empty()) {
                EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString());
                EXPECT_EQ(driver.Seen()[0].icon, 2) << "a warning box";
            }
            return status & 0xFF;
        });
        EXPECT_TRUE(vt_test::ExitedWith(r, c.status & 0xFF));
        close(running);
    }
}

// Without the promote service program beside the client nothing answers on the
// service's port: the user is told the service did not answer, and the start ends.
TEST(StartFunction, MissingServiceProgramGivesTheNoAnswerBoxAndMinusOne) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        uiPromoteKillScopeSet(getpid());  // the kill by name reaches nothing of others
        uiConnectRetrySleepSet([](uint32_t) {});
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        driver.Answer(vt_qt_test::BoxDriver::kEscape);
        std::string program = "/opt/app/VanTrelo";
        char* argv[] = {&program[0], nullptr};
        int argc = 1;
        const int status = FrontEnd_Main(argc, argv);
        EXPECT_EQ(status, -1);
        const QString text = LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR;
        EXPECT_FALSE(text.isEmpty());
        EXPECT_EQ(driver.Seen().size(), 1u);
        if (!driver.Seen().empty()) {
            EXPECT_EQ(driver.Seen()[0].text.toStdString(), text.toStdString());
        }
        EXPECT_EQ(ClientLogCount("[UI and RPC connection failed!]"), 1u);
        return status & 0xFF;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 255));
}

// The per-user folders: made when missing, and an existing ".VanTrelo" left as it is.
TEST(CreateUserDir, MakesBothFoldersOnlyWhenTheMainOneIsMissing) {
    {
        vt_test::TempEnv env;
        CreateUserDir();
        struct stat st {};
        ASSERT_EQ(stat((env.Home() + "/.VanTrelo/config").c_str(), &st), 0);
        ASSERT_EQ(stat((env.Home() + "/.VanTrelo").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    {
        vt_test::TempEnv env;
        ASSERT_EQ(mkdir((env.Home() + "/.VanTrelo").c_str(), 0700), 0);
        CreateUserDir();
        struct stat st {};
        EXPECT_NE(stat((env.Home() + "/.VanTrelo/config").c_str(), &st), 0);
    }
}

// A configuration that did not come from a good read holds no language to trust and
// must never be saved over the service's: the language already loaded serves this run,
// kept in memory only, and start-up goes on. A browser's choice is applied, not saved.
TEST(InitLanguage, FailedReadKeepsTheLoadedLanguageInMemoryAndSavesNothing) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        ui_test::LinkSetUp();
        static char name[] = "ui_startup";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        QApplication app(argc, argv);
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        UISystemProfile* profile = UISystemProfile::GetInstance();
        EXPECT_FALSE(profile->Read()) << "no service is connected";
        ASSERT_FALSE(profile->GetReadSuccess());
        LanguageSetting* lang = LanguageSetting::GetInstance();
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetResourceDir(QCoreApplication::applicationDirPath() + "/");
        (void)lang->Init(1033, ctx->GetResourceDir());

        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(profile->GetLanguageID(), 1033u);
        EXPECT_EQ(lang->GetLanguageId(), 1033);

        ctx->SetPluginMode(1);
        ctx->GetPluginInfo()->LangMode = 2;
        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(lang->GetLanguageId(), 2052);
        EXPECT_EQ(profile->GetLanguageID(), 2052u);
        EXPECT_EQ(ui_test::LogCount("[plugin][init language is 2]"), 1u);
        ctx->GetPluginInfo()->LangMode = 7;  // no language given: the current one stays
        EXPECT_EQ(InitLanguage(), 0);
        EXPECT_EQ(lang->GetLanguageId(), 2052);
        EXPECT_TRUE(driver.Seen().empty());
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}

}  // namespace
