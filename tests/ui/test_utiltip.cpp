// Native-messaging frames on standard output and the tips a browser extension reads.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <QString>

#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "utiltip.h"
#include "vt_test/child_process.h"

namespace {

// Runs fn with standard output on a pipe that a second thread drains, and returns what
// arrived. Checks stay outside fn: a failure printed inside would land in the pipe.
std::string CaptureStdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return std::string();
    }
    const int saved = dup(STDOUT_FILENO);
    dup2(p[1], STDOUT_FILENO);
    close(p[1]);
    std::string out;
    std::thread reader([&out, fd = p[0]] {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof(buf))) > 0) {
            out.append(buf, static_cast<size_t>(n));
        }
    });
    fn();
    dup2(saved, STDOUT_FILENO);  // the pipe's last writer goes: the reader sees its end
    close(saved);
    reader.join();
    close(p[0]);
    return out;
}

std::string Frame(const std::string& message) {
    std::string frame;
    const uint32_t n = static_cast<uint32_t>(message.size());
    for (int shift = 0; shift < 32; shift += 8) {
        frame.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
    return frame + message;
}

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
    EXPECT_EQ(out, Frame(zhong) + Frame("ab"));
}

TEST(NativeMessage, LargerThanThePipeArrivesWhole) {
    const std::string body(200000, 'x');
    int rc = -1;
    const std::string out =
        CaptureStdout([&] { rc = Util_WriteNativeMessage(QString::fromStdString(body)); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, Frame(body));
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
        EXPECT_EQ(out, Frame(c.json)) << c.json;
    }
    EXPECT_GE(ui_test::LogCount("[util show waring][UI send tip to chrome]"), 3u);
}

TEST_F(TipToExtension, LongTextArrivesWhole) {
    const QString text(3000, QLatin1Char('t'));
    const std::string out = CaptureStdout([&] { Util_SendTipToPlugin(text, 1); });
    const std::string json = R"({"PluginRecv":{"msgType":5,"cFlag":1,"LangMode":2,"cTip":")" +
                             text.toStdString() + "\"}}";
    EXPECT_EQ(out, Frame(json));
}

}  // namespace
