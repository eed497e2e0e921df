// Native-messaging frames on standard output and the tips a browser extension reads.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <QMessageBox>

#include <rapidjson/document.h>
#include <QString>

#include "languagesetting.h"
#include "ui_plugin_inner.h"
#include "ui_test/plugin_peer.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "util.h"
#include "utiltip.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"
#include "vt_test/stdout_capture.h"

namespace {

using vt_test::CaptureStdout;
using vt_test::NativeFrame;



TEST(NativeMessage, LittleEndianLengthThenUtf8) {
    ui_test::LinkSetUp();
    const std::string body(300, 'm');
    int rc = -1;
    std::string out = CaptureStdout([&] { rc = Util_WriteNativeMessage(QString::fromStdString(body)); });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(out.size(), 304u);
    EXPECT_EQ(out.substr(0, 4), std::string("\x2C\x01\x00\x00", 4));
    EXPECT_EQ(out.substr(4), body);

    // The length counts UTF-8 bytes, and frames follow one another with nothing between.
    const std::string zhong = "\xE4\xB8\xAD";
    out = CaptureStdout([&] {
        rc = Util_WriteNativeMessage(QString::fromUtf8(zhong.c_str()));
        rc |= Util_WriteNativeMessage("ab");
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, NativeFrame(zhong) + NativeFrame("ab"));
}

TEST(NativeMessage, LargerThanThePipeArrivesWhole) {
    const std::string body(200000, 'x');
    int rc = -1;
    const std::string out =
        CaptureStdout([&] { rc = Util_WriteNativeMessage(QString::fromStdString(body)); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, NativeFrame(body));
    EXPECT_EQ(out.substr(0, 4), std::string("\x40\x0D\x03\x00", 4));
}

TEST(NativeMessage, EmptyMessageWritesNothing) {
    ui_test::LinkSetUp();
    const size_t before = ui_test::LogCount("[the input parameter is invalid]");
    int rc = -1;
    const std::string out = CaptureStdout([&] { rc = Util_WriteNativeMessage(QString()); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ui_test::LogCount("[the input parameter is invalid]"), before + 1);
}

// The browser closed its end: the write fails, is reported and logged, and the process
// lives on, even where SIGPIPE still has its default action of ending it.
TEST(NativeMessage, ClosedReaderGivesOneAndTheProcessLives) {
    ui_test::LinkSetUp();
    const vt_test::ChildResult r = vt_test::RunInChild([] {
        signal(SIGPIPE, SIG_DFL);
        int p[2];
        ASSERT_EQ(pipe(p), 0);
        close(p[0]);
        const int saved = dup(STDOUT_FILENO);
        dup2(p[1], STDOUT_FILENO);
        close(p[1]);
        const int rc = Util_WriteNativeMessage("hello");
        dup2(saved, STDOUT_FILENO);
        EXPECT_EQ(rc, 1);
        sigset_t pending;
        sigemptyset(&pending);
        ASSERT_EQ(sigpending(&pending), 0);
        EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a SIGPIPE was left behind";
        EXPECT_EQ(ui_test::LogCount("[Util write native message][write to standard output failed"), 1u);
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}

class TipToExtension : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetNativeMessaging(true);
        ctx->SetPluginMode(1);
        ctx->SetPluginMsgType(5);
        ctx->GetPluginInfo()->LangMode = 2;
    }
    void TearDown() override {
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetNativeMessaging(false);
        ctx->SetPluginMode(0);
        ctx->SetPluginMsgType(0);
        ctx->GetPluginInfo()->LangMode = 0;
    }
};

TEST_F(TipToExtension, JsonMembersInOrderAndEscaped) {
    const QString zhong = QString(QChar(0x4E2D));
    struct Case {
        QString text;
        int flag;
        std::string json;
    } cases[] = {
        {"login failed", 1,
         R"({"PluginRecv":{"msgType":5,"cFlag":1,"LangMode":2,"cTip":"login failed"}})"},
        {"say \"hi\"\\\nnext\t" + zhong, -1,
         "{\"PluginRecv\":{\"msgType\":5,\"cFlag\":-1,\"LangMode\":2,\"cTip\":"
         "\"say \\\"hi\\\"\\\\\\nnext\\t\xE4\xB8\xAD\"}}"},
        {"", 0, R"({"PluginRecv":{"msgType":5,"cFlag":0,"LangMode":2,"cTip":""}})"},
    };
    for (const Case& c : cases) {
        const std::string out = CaptureStdout([&] { Util_SendTipToPlugin(c.text, c.flag); });
        EXPECT_EQ(out, NativeFrame(c.json)) << c.json;
    }
    EXPECT_GE(ui_test::LogCount("[util show waring][UI send tip to chrome]"), 3u);
}

TEST_F(TipToExtension, LongTextArrivesWhole) {
    const QString text(3000, QLatin1Char('t'));
    const std::string out = CaptureStdout([&] { Util_SendTipToPlugin(text, 1); });
    const std::string json = R"({"PluginRecv":{"msgType":5,"cFlag":1,"LangMode":2,"cTip":")" +
                             text.toStdString() + "\"}}";
    EXPECT_EQ(out, NativeFrame(json));
}

// ---- Tips to a browser plugin ------------------------------------------------------------

// What a plugin receives of one packet.
struct Received {
    bool whole = false;
    uint32_t code = 0;
    uint32_t payloadLen = 0;
    uint32_t flag = 0;
    std::string tip;  // the text field up to its first zero byte
    bool terminated = false;
};

uint32_t Get32(const std::string& b, size_t off) {
    uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return ntohl(v);
}

// Reads one tip packet (24-byte head and 1028-byte record) from the plugin's end.
Received ReadTip(int fd) {
    std::string bytes;
    char buf[2048];
    while (bytes.size() < 24 + 1028 && ui_test::WaitReadable(fd, 5000)) {
        const ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    Received r;
    if (bytes.size() != 24 + 1028) return r;
    r.whole = true;
    r.code = Get32(bytes, 16);
    r.payloadLen = Get32(bytes, 20);
    r.flag = Get32(bytes, 24);
    const std::string field = bytes.substr(28, 1024);
    r.tip = field.substr(0, field.find('\0'));
    r.terminated = field.find('\0') != std::string::npos;
    return r;
}

// Plugin mode with a plugin registered on the table's first slot; the test holds the
// plugin's end of the connection.
class TipToPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        uiPluginConnect_CloseAll();
        UIContext* ctx = UIContext::GetInstance();
        ctx->SetNativeMessaging(false);
        ctx->SetPluginMode(1);
        ctx->SetPluginMsgType(1);
    }
    void TearDown() override {
        uiPluginConnect_CloseAll();
        if (peer_ >= 0) close(peer_);
        UIContext::GetInstance()->SetPluginMode(0);
        UIContext::GetInstance()->SetPluginMsgType(0);
    }
    int ConnectPlugin() {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
        uint32_t slot = 0;
        if (uiPluginConnect_Add(sv[0], &slot) != 0) {
            close(sv[0]);
            close(sv[1]);
            return -1;
        }
        const PacketHead head{MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, MSG_TYPE_PREF, 0, 0};
        UI_PluginConnect_Save(slot, &head);
        peer_ = sv[1];
        return peer_;
    }
    int peer_ = -1;
};

TEST_F(TipToPlugin, RecordCarriesTheFlagAndAtMost1023Bytes) {
    const int peer = ConnectPlugin();
    ASSERT_GE(peer, 0);
    const QString zhong = QString(QChar(0x4E2D));
    struct Case {
        const char* name;
        QString text;
        int flag;
        std::string arrives;
    } cases[] = {
        {"plain", "Login ok", 0, "Login ok"},
        {"1023 bytes", QString(1023, QLatin1Char('a')), 1, std::string(1023, 'a')},
        {"1024 bytes", QString(1024, QLatin1Char('a')), 1, ""},
        {"341 Chinese characters", zhong.repeated(341), -1, zhong.repeated(341).toStdString()},
        {"342 Chinese characters", zhong.repeated(342), -1, ""},
        {"empty", "", 1, ""},
    };
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetPluginMsgType(4);
        Util_SendTipToPlugin(c.text, c.flag);
        const Received r = ReadTip(peer);
        ASSERT_TRUE(r.whole) << c.name;
        EXPECT_EQ(r.code, 4u) << c.name;
        EXPECT_EQ(r.payloadLen, 1028u) << c.name;
        EXPECT_EQ(r.flag, static_cast<uint32_t>(c.flag)) << c.name;
        EXPECT_EQ(r.tip, c.arrives) << c.name;
        EXPECT_TRUE(r.terminated) << c.name;
    }
}

TEST_F(TipToPlugin, LogsTheFlagUnsignedAndBothTexts) {
    ASSERT_GE(ConnectPlugin(), 0);
    const size_t ok = ui_test::LogCount("[util show waring][UI send tip to plugin succed]");
    Util_SendTipToPlugin("Gateway unreachable", -1);
    ASSERT_TRUE(ReadTip(peer_).whole);
    EXPECT_EQ(ui_test::LogCount("[util show waring][UI send tip to plugin succed]"), ok + 1);
    EXPECT_EQ(ui_test::LogCount("[util show waring][flag is 4294967295]"), 1u);
    EXPECT_GE(ui_test::LogCount("[util show waring][tip is Gateway unreachable]"), 1u);
    EXPECT_GE(ui_test::LogCount("[util show waring][str tip is Gateway unreachable]"), 1u);

    // Too long for the record: the plugin gets an empty text, and the log says so.
    const QString longText(1100, QLatin1Char('z'));
    Util_SendTipToPlugin(longText, 1);
    EXPECT_EQ(ReadTip(peer_).tip, "");
    EXPECT_EQ(ui_test::LogCount("[util show waring][tip is ]"), 1u);
}

// A plugin on the listener, played by the simulator's plugin client, reads the tip back.
// The listener's tasks stay for the rest of this test's process.
TEST(TipToListeningPlugin, SimulatorPluginReadsTheTip) {
    ui_test::LinkSetUp();
    uiPluginConnect_CloseAll();
    ASSERT_EQ(UI_PluginThread_Create(), 0u);
    auto until = [](const std::function<bool()>& pred) {
        for (int i = 0; i < 1000 && !pred(); ++i) usleep(10000);
        return pred();
    };
    ASSERT_TRUE(until([] { return uiPluginListenPortGet() != 0; })) << "no listener";
    ui_test::ChildProgram client(UI_TEST_PLUGIN_CLIENT_BIN,
                                 {"--port", std::to_string(uiPluginListenPortGet()), "--scan", "1",
                                  "register", "recv", "10000", "close"});
    ASSERT_TRUE(client.Started());
    const bool registered = until([] {
        uint32_t plugins = 0;
        uiPluginTableCopy(nullptr, nullptr, &plugins);
        return plugins == 1;
    });
    UIContext* ctx = UIContext::GetInstance();
    ctx->SetNativeMessaging(false);
    ctx->SetPluginMsgType(3);
    if (registered) {
        Util_SendTipToPlugin("Tunnel \"office\" started", -1);
    }
    std::string line;
    const bool read = client.ReadLine(&line);
    EXPECT_EQ(client.Wait(), 0);
    ctx->SetPluginMsgType(0);
    ASSERT_TRUE(registered) << "the plugin client never registered";
    ASSERT_TRUE(read);
    rapidjson::Document d;
    d.Parse(line.c_str());
    ASSERT_TRUE(d.IsObject() && d.HasMember("fields") && d.HasMember("head")) << line;
    EXPECT_STREQ(d["record"].GetString(), "PluginTip") << line;
    EXPECT_EQ(d["head"]["code"].GetUint(), 3u);
    EXPECT_EQ(d["fields"]["cFlag"].GetUint(), 0xFFFFFFFFu);
    EXPECT_STREQ(d["fields"]["cTip"].GetString(), "Tunnel \"office\" started");
    EXPECT_EQ(ui_test::LogCount("[util show waring][flag is 4294967295]"), 1u);
}

// With no plugin to send to, the failure is only logged and no box stands in.
TEST_F(TipToPlugin, FailedSendOnlyLogs) {
    vt_qt_test::BoxDriver driver;  // fails the test on any box
    const size_t failed = ui_test::LogCount("[util show waring][UI send tip to plugin faild]");
    Util_ShowWarning("Gateway unreachable", "MainUI", 1);
    EXPECT_EQ(ui_test::LogCount("[util show waring][UI send tip to plugin faild]"), failed + 1);
    EXPECT_TRUE(driver.Seen().empty());
}

// Which of the warning and error calls become tips: plugin mode 1 with a module name.
TEST_F(TipToPlugin, BoxesBecomeTipsOnlyInPluginModeWithAModule) {
    const int peer = ConnectPlugin();
    ASSERT_GE(peer, 0);
    struct Case {
        const char* name;
        int mode;
        const char* module;
        bool critical;
        bool tip;
    } cases[] = {
        {"warning, mode 1, module", 1, "LoginKeyUI", false, true},
        {"error, mode 1, module", 1, "MainUI", true, true},
        {"warning, mode 1, no module", 1, "", false, false},
        {"error, mode 1, no module", 1, "", true, false},
        {"warning, mode 0, module", 0, "MainUI", false, false},
        {"error, mode 2, module", 2, "MainUI", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vt_qt_test::BoxDriver driver;
        if (!c.tip) driver.Answer("OK");
        UIContext::GetInstance()->SetPluginMode(c.mode);
        if (c.critical) {
            Util_ShowCritical("Login failed", c.module, 1);
        } else {
            Util_ShowWarning("Login failed", c.module, 1);
        }
        if (c.tip) {
            const Received r = ReadTip(peer);
            EXPECT_TRUE(r.whole);
            EXPECT_EQ(r.flag, 1u);
            EXPECT_EQ(r.tip, "Login failed");
            EXPECT_TRUE(driver.Seen().empty());
        } else {
            ASSERT_EQ(driver.Seen().size(), 1u);
            EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(c.critical ? QMessageBox::Critical
                                                                         : QMessageBox::Warning));
            EXPECT_EQ(driver.Seen()[0].text, QString("Login failed"));
            EXPECT_FALSE(ui_test::WaitReadable(peer, 50)) << "a shown box also went to the plugin";
        }
    }
}

}  // namespace
