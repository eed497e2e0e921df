// How the front end tells its start kinds apart, the parsing of a plugin's launch values
// and the start report to a browser extension. Everything that starts the platform or
// the plugin listener runs in a child of its own, under a private HOME and TMPDIR.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QString>

#include "clientmode.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "vt_test/child_process.h"
#include "vt_test/stdout_capture.h"
#include "vt_test/temp_env.h"

namespace {

using vt_test::CaptureStdout;

void InChild(const std::function<void()>& body) {
    vt_test::TempEnv env;
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        ui_test::LinkSetUp();
        body();
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}


// ---- The launch-value parsers ------------------------------------------------------------

enum class Parser { BrowserDir, LoginAddr, Update, Proxy };

struct ParseCase {
    const char* what;
    Parser parser;
    bool null;          // the value is missing
    std::string value;
    int rc;
    std::string field;  // what the field holds afterwards
    int port;           // proxy only
    const char* log;    // the line logged, or nullptr for none
};

TEST(LaunchValues, EachParserKeepsItsRules) {
    const std::string dir1023 = "/" + std::string(1022, 'd');
    const std::string addr143(143, 'a');
    const std::string longHost(140, 'h');
    const std::vector<ParseCase> cases = {
        {"dir missing", Parser::BrowserDir, true, "", -1, "", 0, "[plugin][browser dir][reason:invalid param]"},
        {"dir empty", Parser::BrowserDir, false, "", 0, "", 0, nullptr},
        {"dir plain", Parser::BrowserDir, false, "/usr/lib/browser", 0, "/usr/lib/browser", 0, nullptr},
        {"dir of 1023 bytes", Parser::BrowserDir, false, dir1023, 0, dir1023, 0, nullptr},
        {"dir of 1024 bytes", Parser::BrowserDir, false, dir1023 + "x", -1, "", 0,
         "[plugin][browser dir][Browser dir length error]"},
        {"address missing", Parser::LoginAddr, true, "", -1, "", 0, "[plugin][Login Addr][reason:invalid param]"},
        {"address empty", Parser::LoginAddr, false, "", -1, "", 0, "[plugin][Login Addr][reason:is NULL]"},
        {"address plain", Parser::LoginAddr, false, "gw.example.lan:443", 0, "gw.example.lan:443", 0, nullptr},
        {"address of 143 bytes", Parser::LoginAddr, false, addr143, 0, addr143, 0, nullptr},
        {"address of 144 bytes is accepted, stored empty", Parser::LoginAddr, false, addr143 + "a", 0, "", 0,
         nullptr},
        {"update missing", Parser::Update, true, "", -1, "", 0, "[plugin][Update][reason:invalid param]"},
        {"update empty", Parser::Update, false, "", 0, "", 0, nullptr},
        {"update -nu", Parser::Update, false, "-nu", 0, "-nu", 0, nullptr},
        {"update of 15 bytes", Parser::Update, false, std::string(15, 'u'), 0, std::string(15, 'u'), 0, nullptr},
        {"update of 16 bytes, stored empty", Parser::Update, false, std::string(16, 'u'), 0, "", 0, nullptr},
        {"proxy missing", Parser::Proxy, true, "", -1, "", 0, "[plugin][Proxy Addr][reason:invalid param]"},
        {"no proxy", Parser::Proxy, false, "NoProxy", 0, "NoProxy", 0, nullptr},
        {"no proxy is case-sensitive", Parser::Proxy, false, "noproxy", 0, "noproxy", 0, nullptr},
        {"type, host and port", Parser::Proxy, false, "Https:proxy.lan:8080", 0, "Https:proxy.lan", 8080, nullptr},
        {"port not a number", Parser::Proxy, false, "Socks5:p:x1", 0, "Socks5:p", 0, nullptr},
        {"no colon: host and port are the whole value", Parser::Proxy, false, "3128", 0, "3128", 3128, nullptr},
        {"empty proxy", Parser::Proxy, false, "", 0, "", 0, nullptr},
        {"host too long for the field", Parser::Proxy, false, "Https:" + longHost + ":81", 0, "", 81, nullptr},
    };
    InChild([&] {
        for (const ParseCase& c : cases) {
            SCOPED_TRACE(c.what);
            std::vector<char> field(1100, 0);
            int port = 0;
            const char* value = c.null ? nullptr : c.value.c_str();
            const size_t logged = c.log ? ui_test::LogCount(c.log) : 0;
            int rc = 0;
            switch (c.parser) {
            case Parser::BrowserDir: rc = SetPluginBrowserDir(value, field.data()); break;
            case Parser::LoginAddr: rc = SetPluginLoginAddr(value, field.data()); break;
            case Parser::Update: rc = SetPluginUpdate(value, field.data()); break;
            case Parser::Proxy: rc = SetPluginProxy(value, field.data(), &port); break;
            }
            EXPECT_EQ(rc, c.rc);
            EXPECT_EQ(std::string(field.data()), c.field);
            EXPECT_EQ(port, c.port);
            if (c.log) {
                EXPECT_EQ(ui_test::LogCount(c.log), logged + 1);
            }
        }
        // The field sizes bound every write: nothing past a field's width is touched.
        std::vector<char> guard(200, 'g');
        int port = 0;
        EXPECT_EQ(SetPluginProxy(("Https:" + std::string(500, 'h') + ":1").c_str(), guard.data(), &port), 0);
        EXPECT_EQ(std::string(guard.data() + 128, 72), std::string(72, 'g'));
        EXPECT_EQ(SetPluginUpdate(std::string(100, 'u').c_str(), guard.data()), 0);
        EXPECT_EQ(std::string(guard.data() + 128, 72), std::string(72, 'g'));
    });
}

// ---- The start kinds ---------------------------------------------------------------------

struct ModeCase {
    const char* what;
    std::vector<std::string> args;  // after the program path
    int rc;
    int pluginMode;
    bool native;
    const char* log;                // a line that must have been logged, or nullptr
};

void RunJudgement(const ModeCase& c, const std::function<void(const UIPLUGIN_INFO_S&)>& check) {
    InChild([&] {
        std::vector<std::string> store = {"/opt/app/client"};
        store.insert(store.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& s : store) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetPluginMode(0);
        EXPECT_EQ(JudgeClientMode(static_cast<int>(store.size()), argv.data()), c.rc);
        EXPECT_EQ(ctx->GetPluginMode(), c.pluginMode);
        EXPECT_EQ(ctx->GetNativeMessaging(), c.native);
        if (c.log) {
            EXPECT_EQ(ui_test::LogCount(c.log), 1u) << c.log;
        }
        if (check) check(*ctx->GetPluginInfo());
    });
}

TEST(ClientMode, PlainAndNativeStartsLeaveTheLaunchRecordEmpty) {
    const ModeCase cases[] = {
        {"no argument", {}, 0, 0, false, nullptr},
        {"upper-case -P", {"-P", "/b", "gw:443", "-nu", "1", "NoProxy"}, 0, 0, false, nullptr},
        {"--p", {"--p", "/b", "gw:443", "-nu", "1", "NoProxy"}, 0, 0, false, nullptr},
        {"an empty first argument", {""}, 0, 0, false, nullptr},
        {"an extension's origin", {"chrome-extension://abcdefghijklmnop/"}, 0, 1, true, nullptr},
        {"a parent window handle", {"--parent-window=0"}, 0, 1, true, nullptr},
        {"the program's name", {"VanTrelo.json"}, 0, 1, true, nullptr},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.what);
        RunJudgement(c, [](const UIPLUGIN_INFO_S& info) {
            EXPECT_STREQ(info.acBrowserDir, "");
            EXPECT_STREQ(info.acLoginAddr, "");
            EXPECT_STREQ(info.acProxyAddr, "");
            EXPECT_EQ(info.LangMode, 0);
            EXPECT_EQ(info.iProxyPort, 0);
        });
    }
}

TEST(ClientMode, PluginStartFillsTheLaunchRecordAndLogsIt) {
    const ModeCase c = {"five values",
                        {"-p", "/usr/lib/browser", "gw.lan:443", "-nu", "2", "Https:proxy.lan:8080"},
                        0, 1, false,
                        "[plugin][browser dir is /usr/lib/browser,login address is gw.lan:443,browser "
                        "language is 2,proxy address is Https:proxy.lan,proxy iProxyPort is 8080]"};
    RunJudgement(c, [](const UIPLUGIN_INFO_S& info) {
        EXPECT_STREQ(info.acBrowserDir, "/usr/lib/browser");
        EXPECT_STREQ(info.acLoginAddr, "gw.lan:443");
        EXPECT_STREQ(info.acUpdate, "-nu");
        EXPECT_EQ(info.LangMode, 2);
        EXPECT_STREQ(info.acProxyAddr, "Https:proxy.lan");
        EXPECT_EQ(info.iProxyPort, 8080);
    });
    // A language that is no number is no language; an empty one is no error.
    const ModeCase odd = {"odd language", {"-p", "", "gw:1", "", "zh", "NoProxy"}, 0, 1, false, nullptr};
    RunJudgement(odd, [](const UIPLUGIN_INFO_S& info) {
        EXPECT_EQ(info.LangMode, 0);
        EXPECT_STREQ(info.acProxyAddr, "NoProxy");
        EXPECT_EQ(info.iProxyPort, 0);
    });
    const ModeCase empty = {"empty language", {"-p", "/b", "gw:1", "", "", "NoProxy"}, 0, 1, false, nullptr};
    RunJudgement(empty, [](const UIPLUGIN_INFO_S& info) { EXPECT_EQ(info.LangMode, 0); });
}

// A refused value ends the start; plugin mode stays 1 (the listener runs on) and the
// launch record is not taken.
TEST(ClientMode, PluginStartFailsAtTheFirstRefusedValue) {
    const ModeCase cases[] = {
        {"nothing after -p", {"-p"}, -1, 1, false, "[plugin][browser dir][reason:invalid param]"},
        {"two values", {"-p", "/b"}, -1, 1, false, "[plugin][Login Addr][reason:invalid param]"},
        {"three values", {"-p", "/b", "gw:1"}, -1, 1, false, "[plugin][Update][reason:invalid param]"},
        {"four values", {"-p", "/b", "gw:1", "-nu", "1"}, -1, 1, false,
         "[plugin][Proxy Addr][reason:invalid param]"},
        {"empty login address", {"-p", "/b", "", "-nu", "1", "NoProxy"}, -1, 1, false,
         "[plugin][Login Addr][reason:is NULL]"},
        {"browser folder too long", {"-p", std::string(1024, 'b'), "gw:1", "-nu", "1", "NoProxy"}, -1, 1,
         false, "[plugin][browser dir][Browser dir length error]"},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.what);
        RunJudgement(c, [](const UIPLUGIN_INFO_S& info) {
            EXPECT_STREQ(info.acBrowserDir, "");
            EXPECT_STREQ(info.acUpdate, "");
            EXPECT_EQ(info.LangMode, 0);
        });
    }
}

// ---- The start report --------------------------------------------------------------------

TEST(PluginInitReport, OnlyAnExtensionHearsInitSuccess) {
    InChild([] {
        UIContext* ctx = UIContext::GetInstance();
        int rc = -5;
        // A plain start and a plugin start say nothing on standard output.
        for (int mode : {0, 1}) {
            ctx->SetPluginMode(mode);
            ctx->SetNativeMessaging(false);
            EXPECT_EQ(CaptureStdout([&] { rc = PluginInitReport(); }), "");
            EXPECT_EQ(rc, 0);
        }
        ctx->SetNativeMessaging(true);
        const std::string out = CaptureStdout([&] { rc = PluginInitReport(); });
        EXPECT_EQ(rc, 0);
        const std::string json = R"({"PluginRecv":{"msgType":0,"cFlag":0,"LangMode":0,"cTip":"init success"}})";
        ASSERT_GE(out.size(), 4u);
        const uint32_t len = uint8_t(out[0]) | uint8_t(out[1]) << 8 | uint8_t(out[2]) << 16 |
                             uint32_t(uint8_t(out[3])) << 24;
        EXPECT_EQ(len, json.size());
        EXPECT_EQ(out.substr(4), json);
    });
}

TEST(GetBrowserPath, EmptyNameIsLoggedAndNoRegistryGivesNothing) {
    InChild([] {
        EXPECT_TRUE(GetBrowserPath(QString()).isEmpty());
        EXPECT_EQ(ui_test::LogCount("[the input parameter is invalid]"), 1u);
        EXPECT_TRUE(GetBrowserPath(QStringLiteral("browser.exe")).isEmpty());
    });
}

}  // namespace
