// The IPSec requests against the simulator: the login packet as sent, each status
// report's flags and name, the happy engine's steps up to the connection, reports that
// do not come, the logout passing over other packets within its bound, refused
// arguments, and the log kept free of the password.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "ui_auth.h"
#include "ui_connect.h"
#include "ui_ipsec.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

class UiIpsecTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
    void TearDown() override { (void)DDM_LogLevelSet(DDM_LOG_INFO); }
};

constexpr uint32_t kUnset = 7;
constexpr char kUntouched[] = "untouched";
#define IPSEC(s) "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_" s
#define LOGOUT(s) "/RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_" s
constexpr char kFallback[] = "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL";

struct NameBuf {
    char text[UI_MSGCODE_NAME_SIZE];
    NameBuf() {
        std::memset(text, 0, sizeof(text));
        std::memcpy(text, kUntouched, sizeof(kUntouched));
    }
    std::string str() const { return std::string(text, strnlen(text, sizeof(text))); }
};

std::string ToHex(const Bytes& b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

void Script(ui_test::Sim& sim, uint32_t msgType, uint32_t code, const std::string& reply) {
    const std::string answer = sim.Control("script set " + std::to_string(msgType) + " " +
                                           std::to_string(code) + " " + reply);
    ASSERT_EQ(answer.compare(0, 2, "OK"), 0) << answer << " for " << reply;
}

UI_IPSEC_LOGIN_S LoginRecord(const char* user, const char* password) {
    UI_IPSEC_LOGIN_S login;
    std::memset(&login, 0, sizeof(login));
    login.uiSavePass = 1;
    std::strcpy(login.acServerAddr, "192.0.2.20");
    std::strcpy(login.acUserName, user);
    std::strcpy(login.acPassword, password);
    std::strcpy(login.acProfileName, "Branch.ini");
    return login;
}

bool Pending(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

uint32_t RecvTimeoutMs(int fd) {
    timeval tv{};
    socklen_t len = sizeof(tv);
    EXPECT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
    return uint32_t(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

// Runs a call that waits on the engine in a thread of its own; when it has not returned
// within a minute the synchronous connection is closed under it, so a wait without a
// bound fails the test instead of hanging it.
uint32_t Guarded(ui_test::Sim& sim, const std::function<uint32_t()>& call, bool* returned) {
    auto done = std::async(std::launch::async, call);
    *returned = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!*returned) (void)sim.Control("close sync");
    return done.get();
}

TEST_F(UiIpsecTest, LoginPacketIsTheRecordAsItLiesAndNoReplyIsRead) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":4,"code":5,"replies":[{"series":["0x80000"]}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    const UI_IPSEC_LOGIN_S copy = login;
    const size_t requests = link.sim().Log().size();
    ASSERT_EQ(UI_IpsecLogin_Process(&login), 0u);
    EXPECT_EQ(std::memcmp(&login, &copy, sizeof(login)), 0);
    ASSERT_TRUE(link.sim().WaitLog(requests + 1));
    const std::vector<rapidjson::Document> log = link.sim().Log();
    const rapidjson::Document& sent = log.back();
    const Bytes bytes(reinterpret_cast<const uint8_t*>(&login),
                      reinterpret_cast<const uint8_t*>(&login) + sizeof(login));
    const Bytes packet = ui_test::Packet(2, 4, 1, 4, 5, bytes);
    EXPECT_EQ(packet.size(), 1956u);
    EXPECT_EQ(std::string(sent["hex"].GetString()), ToHex(packet));
    EXPECT_EQ(std::string(sent["fields"]["acUserName"].GetString()), "alice");
    EXPECT_EQ(std::string(sent["fields"]["acProfileName"].GetString()), "Branch.ini");
    EXPECT_EQ(sent["fields"]["uiSavePass"].GetUint(), 1u);
    // The engine's first report is still there for the receive: the send read nothing.
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd()));
    NameBuf name;
    uint32_t goOn = 0, connected = 0;
    ASSERT_EQ(UI_IpsecLogin_Recv(name.text, &goOn, &connected), 0u);
    EXPECT_EQ(name.str(), IPSEC("STEP1_OK"));
}

TEST_F(UiIpsecTest, EachReportSetsItsFlagsAndName) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    struct Row {
        const char* report;
        uint32_t result, goOn, connected;
        const char* name;
    };
    const Row rows[] = {
        {"0x80000", 0, 1, 0, IPSEC("STEP1_OK")},
        {"0x80006", 0, 1, 0, IPSEC("STEP2_OK")},
        {"0x80029", 0, 1, 0, IPSEC("STEP7_OK")},
        {"0x80007", 0, 0, 0, IPSEC("STEP2_ERR")},
        {"0x80009", 0, 0, 0, IPSEC("STEP3_IPSEC_RENEGO_OK")},
        {"0x80024", 0, 0, 0, IPSEC("STEP6_PPP_AUTH_FAILED")},
        {"0x8002E", 0, 0, 0, IPSEC("PROXY_CONNECT_ERROR")},
        {"0x8002F", 0, 1, 1, IPSEC("CONNECT_SUCCESS")},
        {"0x80030", 0, kUnset, 0, kFallback},   // beyond the table: goOn as it was
        {"0xB0000", 1, kUnset, 0, kUntouched},  // another module ends the login
        {"0x2002F", 1, kUnset, 0, kUntouched},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.report);
        Script(link.sim(), 4, 5, std::string(R"({"series":[")") + row.report + "\"]}");
        ASSERT_EQ(UI_IpsecLogin_Process(&login), 0u);
        NameBuf name;
        uint32_t goOn = kUnset, connected = kUnset;
        EXPECT_EQ(UI_IpsecLogin_Recv(name.text, &goOn, &connected), row.result);
        EXPECT_EQ(goOn, row.goOn);
        EXPECT_EQ(connected, row.connected);
        EXPECT_EQ(name.str(), row.name);
        EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
    }
    const std::string moduleLine =
        "[Process ipsec login recvive][ui receive error message type][0x";
    EXPECT_EQ(ui_test::LogCount(moduleLine + "b]"), 1u);
    EXPECT_EQ(ui_test::LogCount(moduleLine + "2]"), 1u);
}

TEST_F(UiIpsecTest, HappyEngineStepsUpToTheConnection) {
    (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // every line is written, and scanned below
    ui_test::SimLink link(R"("engine":{"ipsec":{"stepDelayMs":20}})");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();

    struct Row {
        const char* user;
        const char* password;
        std::vector<std::string> names;  // every report up to the end of the login
        uint32_t connected;
    };
    const Row rows[] = {
        {"alice",
         "Passw0rd",
         {IPSEC("STEP1_OK"), IPSEC("STEP2_OK"), IPSEC("STEP3_OK"), IPSEC("STEP4_OK"),
          IPSEC("STEP5_OK"), IPSEC("STEP6_OK"), IPSEC("STEP7_OK"), IPSEC("CONNECT_SUCCESS")},
         1},
        {"alice",
         "Wr0ng-Ipsec-Pw",
         {IPSEC("STEP1_OK"), IPSEC("STEP2_OK"), IPSEC("STEP3_OK"), IPSEC("STEP4_OK"),
          IPSEC("STEP5_OK"), IPSEC("STEP6_PPP_AUTH_FAILED")},
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.password);
        const UI_IPSEC_LOGIN_S login = LoginRecord(row.user, row.password);
        ASSERT_EQ(UI_IpsecLogin_Process(&login), 0u);
        std::vector<std::string> names;
        uint32_t goOn = 0, connected = 0;
        do {
            NameBuf name;
            goOn = 0;
            ASSERT_EQ(UI_IpsecLogin_Recv(name.text, &goOn, &connected), 0u);
            names.push_back(name.str());
        } while (goOn == 1 && connected == 0 && names.size() < 20);
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(connected, row.connected);
    }
    NameBuf name;
    uint32_t ok = 0;
    ASSERT_EQ(UI_IpsecLogout_Process(name.text, &ok), 0u);
    EXPECT_EQ(ok, 1u);
    EXPECT_EQ(name.str(), LOGOUT("SUCESS"));
    for (const char* secret : {"Passw0rd", "Wr0ng-Ipsec-Pw"}) {
        EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
    }
}

// A report that does not come, or comes too slowly to be whole within the time-out,
// ends the wait with 1.
TEST_F(UiIpsecTest, ReportThatDoesNotComeInTimeEndsTheWait) {
    const char* const replies[] = {
        R"({"noReply":true})",
        R"({"series":["0x80000"],"trickle":true,"trickleMs":40})",  // 24 bytes in 960 ms
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        ui_test::SimLink link(std::string(R"("scripts":[{"msgType":4,"code":5,"replies":[)") +
                              reply + "]}]");
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        uiSyncTimeoutDivisorSet(160);  // 40 s become 250 ms
        const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
        ASSERT_EQ(UI_IpsecLogin_Process(&login), 0u);
        NameBuf name;
        uint32_t goOn = kUnset, connected = kUnset;
        bool returned = false;
        const std::string failedLine = "[Process ipsec login recvive][ui recv packet failed!]";
        const size_t before = ui_test::LogCount(failedLine);
        const uint32_t r = Guarded(
            link.sim(), [&] { return UI_IpsecLogin_Recv(name.text, &goOn, &connected); },
            &returned);
        EXPECT_TRUE(returned);
        EXPECT_EQ(r, 1u);
        EXPECT_EQ(connected, 0u);
        EXPECT_EQ(goOn, kUnset);
        EXPECT_EQ(name.str(), kUntouched);
        EXPECT_EQ(ui_test::LogCount(failedLine), before + 1);
        EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
    }
}

// A reply that came too late for an earlier request is not taken for the login's first
// report.
TEST_F(UiIpsecTest, LateReplyBeforeTheLoginIsNotAReport) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":8,"code":12,"replies":[{"code":"0x50000","lateAfterMs":1000}]},
                      {"msgType":4,"code":5,"replies":[{"series":["0x80000"]}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uiSyncTimeoutDivisorSet(400);  // 40 s become 100 ms
    NameBuf name;
    uint32_t ok = 0;
    ASSERT_EQ(UI_SslHostCheck_Process(name.text, &ok), 1u);
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd()));  // the late reply is there now
    uiSyncTimeoutDivisorSet(1);
    const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    ASSERT_EQ(UI_IpsecLogin_Process(&login), 0u);
    uint32_t goOn = 0, connected = 0;
    ASSERT_EQ(UI_IpsecLogin_Recv(name.text, &goOn, &connected), 0u);
    EXPECT_EQ(name.str(), IPSEC("STEP1_OK"));
    EXPECT_EQ(goOn, 1u);
}

TEST_F(UiIpsecTest, LogoutPassesOverOtherPacketsUntilItsOwnReply) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    struct Row {
        const char* reply;
        uint32_t ok;
        const char* name;
        std::vector<std::string> received;
    };
    const Row rows[] = {
        {R"({"series":["0x80006","0xA0000"]})", 1, LOGOUT("SUCESS"), {"0x80006", "0xa0000"}},
        {R"({"code":"0xA0000"})", 1, LOGOUT("SUCESS"), {}},
        {R"({"code":"0xA0001","extraBefore":["0xB0000","0x8002F"]})",
         0,
         LOGOUT("FAIL"),
         {"0xb0000", "0x8002f", "0xa0001"}},
        {R"({"code":"0xA0005"})", 0, kFallback, {}},
    };
    const std::string key = "[Process ipsec logout][ipsec logout receive message code is ";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply);
        Script(link.sim(), 4, 8, row.reply);
        const size_t before = ui_test::LogLines().size();
        NameBuf name;
        uint32_t ok = 0;
        ASSERT_EQ(UI_IpsecLogout_Process(name.text, &ok), 0u);
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(name.str(), row.name);
        const std::vector<std::string> lines = ui_test::LogLines();
        std::vector<std::string> received;
        for (size_t i = before; i < lines.size(); ++i) {
            const size_t at = lines[i].find(key);
            if (at != std::string::npos) {
                const size_t from = at + key.size();
                received.push_back(lines[i].substr(from, lines[i].find(']', from) - from));
            }
        }
        EXPECT_EQ(received, row.received);
        EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
    }
}

TEST_F(UiIpsecTest, LogoutOfASilentEngineEndsWithinItsBound) {
    // Packets well within the bound of each other, then silence: the bound is for the
    // whole wait, and what came is all taken off the connection.
    std::string series;
    for (int i = 0; i < 60; ++i) {
        series += std::string(i ? "," : "") + R"({"code":"0x80006","delayMs":25})";
    }
    ui_test::SimLink link(R"("scripts":[{"msgType":4,"code":8,"replies":[{"series":[)" + series +
                          R"(]},{"noReply":true,"extraBefore":["0xB0000","0xB0001"]}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uiSyncTimeoutDivisorSet(80);  // 40 s become 500 ms
    NameBuf name;
    uint32_t ok = 0;
    bool returned = false;
    uint32_t r = Guarded(
        link.sim(), [&] { return UI_IpsecLogout_Process(name.text, &ok); }, &returned);
    EXPECT_TRUE(returned);
    EXPECT_EQ(r, 1u);
    EXPECT_LT(ui_test::LogCount("ipsec logout receive message code is 0x80006"), 60u);

    // The series is still coming; wait for its end before the silent case.
    while (ui_test::WaitReadable(link.SyncFd(), 500)) {
        char buf[4096];
        (void)recv(link.SyncFd(), buf, sizeof(buf), MSG_DONTWAIT);
    }
    const size_t failed = ui_test::LogCount("[Process ipsec logout][ui ipsec recv failed!]");
    r = Guarded(
        link.sim(), [&] { return UI_IpsecLogout_Process(name.text, &ok); }, &returned);
    EXPECT_TRUE(returned);
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(ok, 0u);
    EXPECT_EQ(name.str(), kUntouched);
    EXPECT_EQ(ui_test::LogCount("[Process ipsec logout][ui ipsec recv failed!]"), failed + 1);
    EXPECT_EQ(ui_test::LogCount("ipsec logout receive message code is 0xb0001"), 1u);
    EXPECT_FALSE(Pending(link.SyncFd()));
    EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
}

TEST_F(UiIpsecTest, RefusedArgumentsAndNoConnection) {
    const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t v = 0, w = 0;
    struct Row {
        const char* logged;
        std::function<uint32_t()> call;
    };
    const Row rows[] = {
        {"[Process ipsec login][invalid parameter!]",
         [&] { return UI_IpsecLogin_Process(nullptr); }},
        {"[Process ipsec login recvive][invalid parameter!]",
         [&] { return UI_IpsecLogin_Recv(nullptr, &v, &w); }},
        {"[Process ipsec login recvive][invalid parameter!]",
         [&] { return UI_IpsecLogin_Recv(name, nullptr, &w); }},
        {"[Process ipsec login recvive][invalid parameter!]",
         [&] { return UI_IpsecLogin_Recv(name, &v, nullptr); }},
        {"[Process ipsec logout][invalid parameter!]",
         [&] { return UI_IpsecLogout_Process(nullptr, &v); }},
        {"[Process ipsec logout][invalid parameter!]",
         [&] { return UI_IpsecLogout_Process(name, nullptr); }},
        // No engine connection at all.
        {"[Process ipsec login][login connect fd get failed!]",
         [&] { return UI_IpsecLogin_Process(&login); }},
        {"[Process ipsec login recvive][login connect fd get failed!]",
         [&] { return UI_IpsecLogin_Recv(name, &v, &w); }},
        {"[Process ipsec logout][ui get connect fd failed!]",
         [&] { return UI_IpsecLogout_Process(name, &v); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logged);
        const size_t before = ui_test::LogCount(row.logged);
        EXPECT_EQ(row.call(), 1u);
        EXPECT_EQ(ui_test::LogCount(row.logged), before + 1);
    }
    EXPECT_EQ(v, 0u);
}

TEST_F(UiIpsecTest, SendToAClosedEngineFails) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    (void)link.sim().Control("close sync");
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd()));  // the close has arrived
    const UI_IPSEC_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    // The first send may still be taken by the kernel; the reset it brings fails the next.
    uint32_t r = UI_IpsecLogin_Process(&login);
    for (int i = 0; i < 50 && r == 0; ++i) {
        usleep(10000);
        r = UI_IpsecLogin_Process(&login);
    }
    EXPECT_EQ(r, 1u);
    NameBuf name;
    uint32_t goOn = kUnset, connected = kUnset;
    EXPECT_EQ(UI_IpsecLogin_Recv(name.text, &goOn, &connected), 1u);
    EXPECT_EQ(connected, 0u);
}

}  // namespace
