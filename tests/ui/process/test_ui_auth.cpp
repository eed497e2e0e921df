// The authentication requests against the simulator: each reply code's result, name and
// record by the request's own rules (scripted replies), the whole login flow against
// the happy engine, logouts whose engine is slow or silent, refused arguments, and the
// log kept free of passwords, token codes and cookies.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "ui_auth.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

class UiAuthTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
    void TearDown() override { (void)DDM_LogLevelSet(DDM_LOG_INFO); }
};

constexpr uint32_t kUnset = 99;  // a result or flag the request must leave alone
constexpr char kUntouched[] = "untouched";

#define AUTH(s) "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_" s
#define NORMAL(s) "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_" s
#define EPS(s) "/RETURN_EPS_MSGCODE/EPS_MSGCODE_" s
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

void PutBE32(Bytes& b, size_t off, uint32_t v) {
    b[off] = uint8_t(v >> 24);
    b[off + 1] = uint8_t(v >> 16);
    b[off + 2] = uint8_t(v >> 8);
    b[off + 3] = uint8_t(v);
}

template <typename T>
Bytes BytesOf(const T& record) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(p, p + sizeof(record));
}

template <typename T>
T Filled(uint8_t value) {
    T record;
    std::memset(&record, value, sizeof(record));
    return record;
}

// Replaces the queue of scripted replies of one request.
void Script(ui_test::Sim& sim, uint32_t msgType, uint32_t code, const std::string& reply) {
    const std::string answer = sim.Control("script set " + std::to_string(msgType) + " " +
                                           std::to_string(code) + " " + reply);
    ASSERT_EQ(answer.compare(0, 2, "OK"), 0) << answer << " for " << reply;
}

// The request log's last packet of that type and code, parsed; a null document when
// there is none.
rapidjson::Document LastRequest(ui_test::Sim& sim, uint32_t msgType, uint32_t code) {
    std::vector<rapidjson::Document> log = sim.Log();
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if ((*it)["head"]["msgType"].GetUint() == msgType &&
            (*it)["head"]["code"].GetUint() == code) {
            return std::move(*it);
        }
    }
    return rapidjson::Document();
}

// The 32-byte login reply in network order, and the host-order record it stands for.
const char kRetHex[] =
    "01020304"
    "00000000"
    "00000000"
    "0a0b0c0d"
    "00000001"
    "00000002"
    "00000001"
    "0001"
    "fffd";
void ExpectConvertedRet(const UI_SSL_LOGIN_RET_S& r) {
    EXPECT_EQ(r.auiReserved[0], 0x01020304u);
    EXPECT_EQ(r.auiReserved[3], 0x0A0B0C0Du);
    EXPECT_EQ(r.uiHostCheck, 1u);
    EXPECT_EQ(r.uiCacheClear, 2u);
    EXPECT_EQ(r.uiModifyPwd, 1u);
    EXPECT_EQ(r.usAlarmNotice, 1u);
    EXPECT_EQ(r.sAlarmTime, -3);
}

UI_SSL_LOGIN_S LoginRecord(const char* user, const char* password, uint32_t caCheck = 1) {
    UI_SSL_LOGIN_S login;
    std::memset(&login, 0, sizeof(login));
    login.uiDeviceCACheck = caCheck;
    login.uiLoginType = 1;
    login.uiLanguage = 2;
    std::strcpy(login.acGateway, "192.0.2.11:443");
    std::strcpy(login.acUserName, user);
    std::strcpy(login.acPassword, password);
    std::strcpy(login.acProfileName, "Office.ini");
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

// Runs a request that may wait on the engine in a thread of its own. When it has not
// returned within a minute the synchronous connection is closed under it, so a wait
// without a bound fails the test instead of hanging it.
uint32_t Guarded(ui_test::Sim& sim, const std::function<uint32_t()>& call, bool* returned) {
    auto done = std::async(std::launch::async, call);
    *returned = done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!*returned) (void)sim.Control("close sync");
    return done.get();
}

// ---- Each request's rules, by scripted replies -----------------------------------------

TEST_F(UiAuthTest, EachReplyCodeGivesItsResultNameAndRecord) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ui_test::Sim& sim = link.sim();
    const UI_SSL_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    UI_DYNAMIC_CODE_S token;
    std::memset(&token, 0, sizeof(token));
    token.uiAuthType = 2;
    std::strcpy(token.acDynamicCode, "654321");

    // The login and the token code share the reply handling but not the result kinds:
    // a code completes a login, so only success and the password demands follow it.
    struct LoginRow {
        const char* reply;
        uint32_t loginKind, codeKind;
        const char* name;
        bool retConverted;
    };
    const std::string ret = std::string(R"(,"payload":")") + kRetHex + "\"";
    const LoginRow loginRows[] = {
        {"0x20000", 1, 1, AUTH("SUCCESS"), true},
        {"0x30006", 3, 3, AUTH("USER_FIRST_LOGIN_ERROR"), true},
        {"0x30007", 4, 4, AUTH("USEREXPIRESTRONG_ERROR"), false},
        {"0x30008", 5, 5, AUTH("USEREXPIREWEAK_ERROR"), false},
        {"0x30009", 7, kUnset, AUTH("USER_CERT_ERROR"), false},
        {"0x3000A", 6, kUnset, AUTH("SMSCHECK_WARNING"), true},
        {"0x3000B", 11, kUnset, AUTH("DEVICECERT_ERROR"), false},
        {"0x3000C", 12, kUnset, AUTH("DEVICEREJECT_ERROR"), false},
        {"0x3000D", kUnset, kUnset, AUTH("PLUGINREGLION_RESULT"), false},
        {"0x30004", kUnset, kUnset, AUTH("USERPASSWD_ERROR"), false},
        {"0x30011", kUnset, kUnset, kFallback, true},
        // The name looks at the index alone; a result needs the whole code.
        {"0x40006", kUnset, kUnset, AUTH("USER_FIRST_LOGIN_ERROR"), false},
    };
    for (const LoginRow& row : loginRows) {
        SCOPED_TRACE(row.reply);
        const std::string reply =
            std::string(R"({"code":")") + row.reply + "\"" + (row.retConverted ? ret : "") + "}";
        Script(sim, 3, 5, reply);
        Script(sim, 3, 16, reply);
        NameBuf name;
        uint32_t kind = kUnset;
        auto out = Filled<UI_SSL_LOGIN_RET_S>(0xAB);
        ASSERT_EQ(UI_SslLogin_Process(&login, name.text, &kind, &out), 0u);
        EXPECT_EQ(kind, row.loginKind);
        EXPECT_EQ(name.str(), row.name);
        if (row.retConverted) {
            ExpectConvertedRet(out);
        } else {
            EXPECT_EQ(BytesOf(out), BytesOf(Filled<UI_SSL_LOGIN_RET_S>(0xAB)));
        }

        NameBuf codeName;
        uint32_t codeKind = kUnset;
        auto codeOut = Filled<UI_SSL_LOGIN_RET_S>(0xAB);
        ASSERT_EQ(UI_SslDynamicCode_Send(&token, codeName.text, &codeKind, &codeOut), 0u);
        EXPECT_EQ(codeKind, row.codeKind);
        EXPECT_EQ(codeName.str(), row.name);
        if (row.retConverted) {
            ExpectConvertedRet(codeOut);
        } else {
            EXPECT_EQ(BytesOf(codeOut), BytesOf(Filled<UI_SSL_LOGIN_RET_S>(0xAB)));
        }
    }

    // The login record goes out as it lies in memory; the token record as the front of
    // a login-sized payload, zeros after it.
    rapidjson::Document sent = LastRequest(sim, 3, 5);
    ASSERT_TRUE(sent.IsObject());
    EXPECT_EQ(std::string(sent["hex"].GetString()),
              ToHex(ui_test::Packet(2, 4, 1, 3, 5, BytesOf(login))));
    Bytes tokenPayload = BytesOf(token);
    tokenPayload.resize(sizeof(UI_SSL_LOGIN_S), 0);
    sent = LastRequest(sim, 3, 16);
    ASSERT_TRUE(sent.IsObject());
    EXPECT_EQ(std::string(sent["hex"].GetString()),
              ToHex(ui_test::Packet(2, 4, 1, 3, 16, tokenPayload)));
    EXPECT_EQ(std::string(sent["fields"]["acDynamicCode"].GetString()), "654321");

    // A payload too short for the record leaves the caller's record as it was.
    const size_t shortBefore = ui_test::LogCount("[Process ssl login][reply too short");
    Script(sim, 3, 5, R"({"code":"0x20000","payload":"0102030405060708090a"})");
    {
        NameBuf name;
        uint32_t kind = kUnset;
        auto out = Filled<UI_SSL_LOGIN_RET_S>(0xAB);
        ASSERT_EQ(UI_SslLogin_Process(&login, name.text, &kind, &out), 0u);
        EXPECT_EQ(kind, 1u);
        EXPECT_EQ(BytesOf(out), BytesOf(Filled<UI_SSL_LOGIN_RET_S>(0xAB)));
        EXPECT_EQ(ui_test::LogCount("[Process ssl login][reply too short"), shortBefore + 1);
    }

    // The plugin login: its own results, and the plugin's reply record.
    Bytes plugin(sizeof(PluginLoginReply), 0);
    PutBE32(plugin, 0, 0x01020304);
    PutBE32(plugin, 4, 5001);
    std::memcpy(&plugin[8], "CK-7a1e", 7);
    std::memcpy(&plugin[72], "https://192.0.2.10/portal", 25);
    struct PluginRow {
        std::string reply;
        uint32_t result;
        bool filled;
    };
    const PluginRow pluginRows[] = {
        {R"({"code":"0x20000","payload":")" + ToHex(plugin) + "\"}", 1, true},
        {R"({"code":"0x3000D"})", 0, false},
        {R"({"code":"0x30004"})", kUnset, false},
        {R"({"code":"0x3001D"})", kUnset, false},  // index 29: beyond the table
        {R"({"code":"0x20000","payload":")" + ToHex(Bytes(plugin.begin(), plugin.end() - 1)) +
             "\"}",
         1, false},
    };
    for (const PluginRow& row : pluginRows) {
        SCOPED_TRACE(row.reply.substr(0, 30));
        Script(sim, 3, 5, row.reply);
        NameBuf name;
        uint32_t result = kUnset;
        auto reply = Filled<PluginLoginReply>(0xCD);
        ASSERT_EQ(UI_PluginLogin_Process(&login, name.text, &result, &reply), 0u);
        EXPECT_EQ(result, row.result);
        if (row.filled) {
            EXPECT_EQ(reply.uiUserID, 0x01020304u);
            EXPECT_EQ(reply.uiSessionID, 5001u);
            EXPECT_EQ(Bytes(reply.aucCookie, reply.aucCookie + 64), Bytes(&plugin[8], &plugin[72]));
            EXPECT_STREQ(reply.acUrlLocation, "https://192.0.2.10/portal");
        } else {
            EXPECT_EQ(BytesOf(reply), BytesOf(Filled<PluginLoginReply>(0xCD)));
        }
    }

    // The password change: success sets ok alone; a refusal carries the policy.
    const char policyHex[] =
        "00000008"
        "00000020"
        "00000001"
        "00000002"
        "00000001"
        "00000001"
        "00000000";
    struct PwdRow {
        std::string reply;
        uint32_t ok;
        const char* name;
        bool policyFilled;
    };
    const std::string policy = std::string(R"(,"payload":")") + policyHex + "\"}";
    const PwdRow pwdRows[] = {
        {R"({"code":"0x40002")" + policy, 0, NORMAL("LEN_ERROR"), true},
        {R"({"code":"0x40007")" + policy, 0, NORMAL("NOMIXLOWERUPPER"), true},
        {R"({"code":"0x40000"})", 1, kUntouched, false},
        {R"({"code":"0x40000")" + policy, 1, kUntouched, false},
        {R"({"code":"0x4000E")" + policy, 0, kFallback, false},
        {R"({"code":"0x40002","payload":"0000000800000020"})", 0, NORMAL("LEN_ERROR"), false},
    };
    PwdModifyInfo change;
    std::memset(&change, 0, sizeof(change));
    std::strcpy(change.acOldPwd, "Passw0rd");
    std::strcpy(change.acNewPwd, "short");
    for (const PwdRow& row : pwdRows) {
        SCOPED_TRACE(row.reply.substr(0, 20));
        Script(sim, 3, 11, row.reply);
        NameBuf name;
        uint32_t ok = 0;
        auto out = Filled<UI_PWD_POLICY_S>(0xEE);
        ASSERT_EQ(UI_SslPwd_Modify(&change, name.text, &ok, &out), 0u);
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(name.str(), row.name);
        if (row.policyFilled) {
            const uint32_t want[7] = {8, 32, 1, 2, 1, 1, 0};
            EXPECT_EQ(BytesOf(out), BytesOf(want));
        } else {
            EXPECT_EQ(BytesOf(out), BytesOf(Filled<UI_PWD_POLICY_S>(0xEE)));
        }
    }
    sent = LastRequest(sim, 3, 11);
    ASSERT_TRUE(sent.IsObject());
    EXPECT_EQ(std::string(sent["hex"].GetString()),
              ToHex(ui_test::Packet(2, 4, 1, 3, 11, BytesOf(change))));

    // Host check and cache clear: one success code each; the cache clear's flag picks
    // its request code.
    struct EpsRow {
        uint32_t requestCode;  // 12 host check, else the cache clear's expected code
        uint32_t flag;
        const char* reply;
        uint32_t ok;
        const char* name;
    };
    const EpsRow epsRows[] = {
        {12, 0, "0x50000", 1, EPS("HOSTCHECK_SUCCESS")},
        {12, 0, "0x50001", 0, EPS("HOSTCHECK_FAIL")},
        {12, 0, "0x50002", 0, EPS("CACHECLEAN_SUCCESS")},
        {12, 0, "0x50004", 0, ""},  // an empty entry below the bound
        {12, 0, "0x50005", 0, kFallback},
        {13, 1, "0x50002", 1, EPS("CACHECLEAN_SUCCESS")},
        {14, 2, "0x50002", 1, EPS("CACHECLEAN_SUCCESS")},
        {14, 0, "0x50003", 0, EPS("CACHECLEAN_FAIL")},
        {14, 2, "0x50000", 0, EPS("HOSTCHECK_SUCCESS")},
    };
    for (const EpsRow& row : epsRows) {
        SCOPED_TRACE(std::to_string(row.requestCode) + " " + row.reply);
        Script(sim, 8, row.requestCode, std::string(R"({"code":")") + row.reply + "\"}");
        NameBuf name;
        uint32_t ok = 0;
        const uint32_t r = row.requestCode == 12
                               ? UI_SslHostCheck_Process(name.text, &ok)
                               : UI_SslCacheClear_Process(row.flag, name.text, &ok);
        ASSERT_EQ(r, 0u);
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(name.str(), row.name);
        const std::vector<rapidjson::Document> log = sim.Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back()["head"]["msgType"].GetUint(), 8u);
        EXPECT_EQ(log.back()["head"]["code"].GetUint(), row.requestCode);
        EXPECT_EQ(log.back()["head"]["len"].GetUint(), 0u);
    }

    // The certificate list: the count travels in host order; entries up to it are
    // copied, nothing of a list longer than 32 or shorter than the record is.
    auto certReply = [](uint32_t count, uint32_t entries) {
        std::string fields;
        for (uint32_t i = 0; i < entries; ++i) {
            fields += "\"acCertText[" + std::to_string(i) + "]\":\"CERT:u" + std::to_string(i) +
                      "\",\"acCertName[" + std::to_string(i) + "]\":\"u" + std::to_string(i) +
                      "@example\",";
        }
        return R"({"code":"0x20000","payload":{"record":"UI_CERT_INFO_S","fields":{)" + fields +
               "\"uiCertNum\":" + std::to_string(count) + "}}}";
    };
    struct CertRow {
        std::string reply;
        uint32_t result;
        uint32_t copied;  // entries expected copied; kUnset: the record untouched
    };
    const CertRow certRows[] = {
        {certReply(2, 3), 0, 2},
        {certReply(0, 1), 0, 0},
        {certReply(32, 32), 0, 32},
        {certReply(33, 3), 1, kUnset},
        {certReply(2, 3).substr(0, certReply(2, 3).size() - 1) + R"(,"truncateTo":36992})", 1,
         kUnset},
    };
    std::vector<uint8_t> certBuf(sizeof(UI_CERT_INFO_S));
    for (const CertRow& row : certRows) {
        SCOPED_TRACE(row.reply.substr(row.reply.size() - 40));
        Script(sim, 3, 15, row.reply);
        NameBuf name;
        uint32_t ok = kUnset;
        std::memset(certBuf.data(), 0x5A, certBuf.size());
        auto* certs = reinterpret_cast<UI_CERT_INFO_S*>(certBuf.data());
        EXPECT_EQ(UI_CertInfo_Get(name.text, &ok, certs), row.result);
        EXPECT_EQ(name.str(), kUntouched);
        EXPECT_EQ(ok, kUnset);
        if (row.copied == kUnset) {
            EXPECT_EQ(certBuf, std::vector<uint8_t>(sizeof(UI_CERT_INFO_S), 0x5A));
            continue;
        }
        EXPECT_EQ(certs->uiCertNum, row.copied);
        for (uint32_t i = 0; i < row.copied; ++i) {
            EXPECT_EQ(std::string(certs->acCertName[i]), "CERT:u" + std::to_string(i));
            EXPECT_EQ(std::string(certs->acDisplayName[i]), "u" + std::to_string(i) + "@example");
            EXPECT_EQ(certs->acCertName[i][1023], 0);
        }
        if (row.copied < UI_CERT_NUM_MAX) {
            EXPECT_EQ(uint8_t(certs->acCertName[row.copied][0]), 0x5A);
            EXPECT_EQ(uint8_t(certs->acDisplayName[row.copied][0]), 0x5A);
        }
    }
    sent = LastRequest(sim, 3, 15);
    ASSERT_TRUE(sent.IsObject());
    EXPECT_EQ(std::string(sent["hex"].GetString()),
              ToHex(ui_test::Packet(2, 4, 1, 3, 15, Bytes(sizeof(UI_CERT_INFO_S), 0))));

    // The logout passes over packets of other modules until its own reply.
    struct LogoutRow {
        const char* reply;
        uint32_t ok;
        const char* name;
        std::vector<const char*> received;  // codes logged as received, in order
    };
    const LogoutRow logoutRows[] = {
        {R"({"code":"0xA0000","extraBefore":["0xB0000"]})",
         1,
         LOGOUT("SUCESS"),
         {"0xb0000", "0xa0000"}},
        {R"({"code":"0xA0000","extraBefore":["0x80006","0x70000"]})",
         1,
         LOGOUT("SUCESS"),
         {"0x80006", "0x70000", "0xa0000"}},
        {R"({"code":"0xA0001"})", 0, LOGOUT("FAIL"), {}},
        {R"({"code":"0xA0002","extraBefore":["0xB0000"]})", 0, kFallback, {"0xb0000", "0xa0002"}},
        // A first reply of the logout module ends the wait: what follows is not read.
        {R"({"series":["0xA0000","0xB0005"]})", 1, LOGOUT("SUCESS"), {}},
    };
    for (const LogoutRow& row : logoutRows) {
        SCOPED_TRACE(row.reply);
        Script(sim, 3, 8, row.reply);
        const std::vector<std::string> before = ui_test::LogLines();
        NameBuf name;
        uint32_t ok = 0;
        ASSERT_EQ(UI_SslLogout_Process(name.text, &ok), 0u);
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(name.str(), row.name);
        std::vector<std::string> received;
        const std::vector<std::string> after = ui_test::LogLines();
        for (size_t i = before.size(); i < after.size(); ++i) {
            const std::string key = "[Process ssl logout][ssl logout received the message code is ";
            const size_t at = after[i].find(key);
            if (at != std::string::npos) {
                received.push_back(after[i].substr(
                    at + key.size(), after[i].find(']', at + key.size()) - at - key.size()));
            }
        }
        EXPECT_EQ(received, std::vector<std::string>(row.received.begin(), row.received.end()));
        EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
    }
}

// ---- The happy engine ------------------------------------------------------------------

TEST_F(UiAuthTest, LoginTableAgainstTheHappyEngine) {
    (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // every line is written, and scanned below
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();

    struct Row {
        const char* user;
        uint32_t caCheck;
        uint32_t kind;
        const char* name;
    };
    const Row rows[] = {
        {"alice", 1, 1, AUTH("SUCCESS")},          {"bob", 1, 3, AUTH("USER_FIRST_LOGIN_ERROR")},
        {"carol", 1, 6, AUTH("SMSCHECK_WARNING")}, {"dave", 1, 0, AUTH("USERLOCKED_ERROR")},
        {"erin", 1, 0, AUTH("USERPASSWD_ERROR")},  {"frank", 1, 11, AUTH("DEVICECERT_ERROR")},
        {"frank", 0, 1, AUTH("SUCCESS")},  // the user accepted the untrusted certificate
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.user) + " check " + std::to_string(row.caCheck));
        const UI_SSL_LOGIN_S login = LoginRecord(row.user, "Passw0rd", row.caCheck);
        NameBuf name;
        uint32_t kind = 0;
        UI_SSL_LOGIN_RET_S ret;
        std::memset(&ret, 0, sizeof(ret));
        ASSERT_EQ(UI_SslLogin_Process(&login, name.text, &kind, &ret), 0u);
        EXPECT_EQ(kind, row.kind);
        EXPECT_EQ(name.str(), row.name);
        // The engine read the record by its own layout.
        rapidjson::Document sent = LastRequest(link.sim(), 3, 5);
        ASSERT_TRUE(sent.IsObject());
        EXPECT_EQ(std::string(sent["fields"]["acUserName"].GetString()), row.user);
        EXPECT_EQ(sent["fields"]["uiLoginType"].GetUint(), 1u);
        EXPECT_EQ(sent["fields"]["uiDeviceCACheck"].GetUint(), row.caCheck);
        EXPECT_EQ(std::string(sent["fields"]["acProfileName"].GetString()), "Office.ini");

        if (std::string(row.user) == "alice") {
            EXPECT_EQ(ret.uiModifyPwd, 1u);  // the engine's record, converted
            NameBuf n;
            uint32_t ok = 0;
            ASSERT_EQ(UI_SslHostCheck_Process(n.text, &ok), 0u);
            EXPECT_EQ(ok, 1u);
            ok = 0;
            ASSERT_EQ(UI_SslCacheClear_Process(1, n.text, &ok), 0u);
            EXPECT_EQ(ok, 1u);
            ok = 0;
            ASSERT_EQ(UI_SslLogout_Process(n.text, &ok), 0u);
            EXPECT_EQ(ok, 1u);
            EXPECT_EQ(n.str(), LOGOUT("SUCESS"));
        } else if (std::string(row.user) == "bob") {
            EXPECT_EQ(ret.uiModifyPwd, 1u);
            // A new password too weak for the policy comes back with the policy, refused
            // at the policy's level (medium: it asks for mixed case).
            PwdModifyInfo change;
            std::memset(&change, 0, sizeof(change));
            std::strcpy(change.acOldPwd, "Passw0rd");
            std::strcpy(change.acNewPwd, "nodigits");
            NameBuf n;
            uint32_t ok = 0;
            UI_PWD_POLICY_S policy;
            std::memset(&policy, 0, sizeof(policy));
            ASSERT_EQ(UI_SslPwd_Modify(&change, n.text, &ok, &policy), 0u);
            EXPECT_EQ(ok, 0u);
            EXPECT_EQ(n.str(), NORMAL("ISMIDDLE_ERROR"));
            const uint32_t want[7] = {8, 32, 1, 1, 1, 1, 1};
            EXPECT_EQ(BytesOf(policy), BytesOf(want));
            std::strcpy(change.acNewPwd, "N3wPassword");
            ASSERT_EQ(UI_SslPwd_Modify(&change, n.text, &ok, &policy), 0u);
            EXPECT_EQ(ok, 1u);
            // With the new password the login goes through.
            const UI_SSL_LOGIN_S again = LoginRecord("bob", "N3wPassword");
            kind = 0;
            ASSERT_EQ(UI_SslLogin_Process(&again, n.text, &kind, &ret), 0u);
            EXPECT_EQ(kind, 1u);
        } else if (std::string(row.user) == "carol") {
            UI_DYNAMIC_CODE_S code;
            std::memset(&code, 0, sizeof(code));
            std::strcpy(code.acDynamicCode, "123456");
            NameBuf n;
            uint32_t codeKind = 0;
            ASSERT_EQ(UI_SslDynamicCode_Send(&code, n.text, &codeKind, &ret), 0u);
            EXPECT_EQ(codeKind, 1u);
            EXPECT_EQ(n.str(), AUTH("SUCCESS"));
        }
    }

    // A login for a browser plugin brings the plugin's reply.
    UI_SSL_LOGIN_S pluginLogin = LoginRecord("alice", "Passw0rd");
    pluginLogin.uiLoginType = 0;
    NameBuf name;
    uint32_t result = kUnset;
    PluginLoginReply reply;
    std::memset(&reply, 0, sizeof(reply));
    ASSERT_EQ(UI_PluginLogin_Process(&pluginLogin, name.text, &result, &reply), 0u);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(reply.uiUserID, 1001u);
    EXPECT_EQ(reply.uiSessionID, 5001u);
    EXPECT_STREQ(reinterpret_cast<const char*>(reply.aucCookie), "SIMCOOKIE");
    EXPECT_STREQ(reply.acUrlLocation, "https://192.0.2.10/portal");

    // Alice's certificate, as listed, logs her in.
    std::vector<uint8_t> certBuf(sizeof(UI_CERT_INFO_S), 0);
    auto* certs = reinterpret_cast<UI_CERT_INFO_S*>(certBuf.data());
    ASSERT_EQ(UI_CertInfo_Get(name.text, nullptr, certs), 0u);
    ASSERT_EQ(certs->uiCertNum, 1u);
    EXPECT_STREQ(certs->acDisplayName[0], "alice@example");
    UI_SSL_LOGIN_S byCert = LoginRecord("", "");
    byCert.uiAuthType = 1;
    std::memcpy(byCert.acCertName, certs->acCertName[0], sizeof(byCert.acCertName));
    uint32_t kind = 0;
    UI_SSL_LOGIN_RET_S ret;
    ASSERT_EQ(UI_SslLogin_Process(&byCert, name.text, &kind, &ret), 0u);
    EXPECT_EQ(kind, 1u);

    for (const char* secret : {"Passw0rd", "nodigits", "N3wPassword", "SIMCOOKIE"}) {
        EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
    }
}

// ---- Logouts that do not end by themselves ---------------------------------------------

TEST_F(UiAuthTest, LogoutOfASilentEngineEndsWithinItsBound) {
    ui_test::SimLink link(R"("scripts":[{"msgType":3,"code":8,"replies":[)"
                          R"({"noReply":true,"extraBefore":["0xB0000","0xB0001"]}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uiSyncTimeoutDivisorSet(90);  // 90 s become 1 s
    const size_t failedBefore = ui_test::LogCount("[Process ssl logout][ui ssl receive failed!]");
    NameBuf name;
    uint32_t ok = 0;
    bool returned = false;
    const uint32_t r = Guarded(
        link.sim(), [&] { return UI_SslLogout_Process(name.text, &ok); }, &returned);
    EXPECT_TRUE(returned) << "the logout waited without a bound";
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(ok, 0u);
    EXPECT_EQ(name.str(), kUntouched);
    EXPECT_EQ(ui_test::LogCount("[Process ssl logout][ui ssl receive failed!]"), failedBefore + 1);
    EXPECT_EQ(ui_test::LogCount("ssl logout received the message code is 0xb0001"), 1u);
    // Both packets were taken off the connection and its time-out is cleared, so the
    // next request is answered by its own reply.
    EXPECT_FALSE(Pending(link.SyncFd()));
    EXPECT_EQ(RecvTimeoutMs(link.SyncFd()), 0u);
    ok = 0;
    ASSERT_EQ(UI_SslHostCheck_Process(name.text, &ok), 0u);
    EXPECT_EQ(name.str(), EPS("HOSTCHECK_FAIL"));  // no one is logged in
}

TEST_F(UiAuthTest, LogoutBoundCoversEveryReadNotEachOne) {
    // The engine keeps talking, each packet well within the bound of the one before,
    // but never with the logout's reply: the bound is for the whole wait.
    constexpr int kPackets = 100;
    std::string series;
    for (int i = 0; i < kPackets; ++i) {
        series += std::string(i ? "," : "") + R"({"code":"0xB0003","delayMs":40})";
    }
    ui_test::SimLink link(R"("scripts":[{"msgType":3,"code":8,"replies":[{"series":[)" + series +
                          "]}]}]");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uiSyncTimeoutDivisorSet(90);  // 90 s become 1 s
    NameBuf name;
    uint32_t ok = 0;
    bool returned = false;
    const uint32_t r = Guarded(
        link.sim(), [&] { return UI_SslLogout_Process(name.text, &ok); }, &returned);
    EXPECT_TRUE(returned);
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(ok, 0u);
    EXPECT_LT(ui_test::LogCount("ssl logout received the message code is 0xb0003"),
              size_t(kPackets));
}

// ---- Refused arguments and a missing connection ----------------------------------------

TEST_F(UiAuthTest, NullArgumentsAreRefusedBeforeAnythingIsSent) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const size_t requestsBefore = link.sim().Log().size();
    UI_SSL_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    UI_DYNAMIC_CODE_S code{};
    PwdModifyInfo change{};
    UI_SSL_LOGIN_RET_S ret{};
    PluginLoginReply plugin{};
    UI_PWD_POLICY_S policy{};
    std::vector<uint8_t> certBuf(sizeof(UI_CERT_INFO_S), 0);
    auto* certs = reinterpret_cast<UI_CERT_INFO_S*>(certBuf.data());
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t v = 0;

    struct Row {
        const char* logged;  // nullptr: refused without a line
        std::function<uint32_t()> call;
    };
    const Row rows[] = {
        {"[Process ssl login][invalid parameter!]",
         [&] { return UI_SslLogin_Process(nullptr, name, &v, &ret); }},
        {"[Process ssl login][invalid parameter!]",
         [&] { return UI_SslLogin_Process(&login, nullptr, &v, &ret); }},
        {"[Process ssl login][invalid parameter!]",
         [&] { return UI_SslLogin_Process(&login, name, nullptr, &ret); }},
        {"[Process ssl login][invalid parameter!]",
         [&] { return UI_SslLogin_Process(&login, name, &v, nullptr); }},
        {"[Process plugin login][invalid parameter!]",
         [&] { return UI_PluginLogin_Process(&login, name, nullptr, &plugin); }},
        {"[Process plugin login][invalid parameter!]",
         [&] { return UI_PluginLogin_Process(&login, name, &v, nullptr); }},
        {"[Process ssl send dynamic code][invalid parameter!]",
         [&] { return UI_SslDynamicCode_Send(nullptr, name, &v, &ret); }},
        {"[Process ssl send dynamic code][invalid parameter!]",
         [&] { return UI_SslDynamicCode_Send(&code, name, nullptr, &ret); }},
        {"[Process ssl send dynamic code][invalid parameter!]",
         [&] { return UI_SslDynamicCode_Send(&code, name, &v, nullptr); }},
        {"[Process ssl pwd modify][invalid parameter!]",
         [&] { return UI_SslPwd_Modify(&change, name, nullptr, &policy); }},
        {"[Process ssl pwd modify][invalid parameter!]",
         [&] { return UI_SslPwd_Modify(&change, name, &v, nullptr); }},
        {"[Process ssl pwd modify][invalid parameter!]",
         [&] { return UI_SslPwd_Modify(nullptr, name, &v, &policy); }},
        {"[Process get cert info][invalid parameter!]",
         [&] { return UI_CertInfo_Get(nullptr, &v, certs); }},
        {"[Process get cert info][invalid parameter!]",
         [&] { return UI_CertInfo_Get(name, &v, nullptr); }},
        {"[Process ssl logout][invalid parameter!]",
         [&] { return UI_SslLogout_Process(name, nullptr); }},
        {"[Support ssl login ntohl][input null pointer]",
         [&] { return UI_SslLogin_Ntohl(&ret, nullptr); }},
        {nullptr, [&] { return UI_SslHostCheck_Process(name, nullptr); }},
        {nullptr, [&] { return UI_SslCacheClear_Process(1, nullptr, &v); }},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(i);
        const size_t lines = ui_test::LogLines().size();
        const size_t before = rows[i].logged ? ui_test::LogCount(rows[i].logged) : 0;
        EXPECT_EQ(rows[i].call(), 1u);
        if (rows[i].logged != nullptr) {
            EXPECT_EQ(ui_test::LogCount(rows[i].logged), before + 1);
        } else {
            EXPECT_EQ(ui_test::LogLines().size(), lines);
        }
    }
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(link.sim().Log().size(), requestsBefore);
}

TEST_F(UiAuthTest, WithoutTheEngineEveryRequestFailsWithItsOwnLine) {
    UI_SSL_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    UI_DYNAMIC_CODE_S code{};
    PwdModifyInfo change{};
    UI_SSL_LOGIN_RET_S ret{};
    PluginLoginReply plugin{};
    UI_PWD_POLICY_S policy{};
    std::vector<uint8_t> certBuf(sizeof(UI_CERT_INFO_S), 0);
    auto* certs = reinterpret_cast<UI_CERT_INFO_S*>(certBuf.data());
    NameBuf name;
    uint32_t v = kUnset;
    struct Row {
        const char* logged;
        std::function<uint32_t()> call;
    };
    const Row rows[] = {
        {"[Process ssl login][login connect fd get failed!]",
         [&] { return UI_SslLogin_Process(&login, name.text, &v, &ret); }},
        {"[Process plugin login][login connect fd get failed!]",
         [&] { return UI_PluginLogin_Process(&login, name.text, &v, &plugin); }},
        {"[Process ssl send dynamic code][login connect fd get failed!]",
         [&] { return UI_SslDynamicCode_Send(&code, name.text, &v, &ret); }},
        {"[Process ssl pwd modify][ui get connect fd failed!]",
         [&] { return UI_SslPwd_Modify(&change, name.text, &v, &policy); }},
        {"[Process get cert info][ui get cert info get fd failed!]",
         [&] { return UI_CertInfo_Get(name.text, &v, certs); }},
        {"[Process ssl host check][ui get connect fd failed!]",
         [&] { return UI_SslHostCheck_Process(name.text, &v); }},
        {"[Process ssl cache clear][ui get connect fd failed!]",
         [&] { return UI_SslCacheClear_Process(2, name.text, &v); }},
        {"[Process ssl logout][ui get connect fd failed!]",
         [&] { return UI_SslLogout_Process(name.text, &v); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.logged);
        const size_t before = ui_test::LogCount(row.logged);
        EXPECT_EQ(row.call(), 1u);
        EXPECT_EQ(ui_test::LogCount(row.logged), before + 1);
    }
    EXPECT_EQ(v, kUnset);
    EXPECT_EQ(name.str(), kUntouched);
}

TEST_F(UiAuthTest, AFailedExchangeWritesNothing) {
    ui_test::SimLink link(R"("scripts":[{"msgType":3,"code":5,"replies":[)"
                          R"({"closeAfterHead":true,"code":"0x20000","payload":")" +
                          std::string(kRetHex) + R"("}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const UI_SSL_LOGIN_S login = LoginRecord("alice", "Passw0rd");
    NameBuf name;
    uint32_t kind = kUnset;
    auto ret = Filled<UI_SSL_LOGIN_RET_S>(0xAB);
    const size_t before =
        ui_test::LogCount("[Process ssl login][vanTrelo ssl login packet send failed!]");
    EXPECT_EQ(UI_SslLogin_Process(&login, name.text, &kind, &ret), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process ssl login][vanTrelo ssl login packet send failed!]"),
              before + 1);
    EXPECT_EQ(kind, kUnset);
    EXPECT_EQ(name.str(), kUntouched);
    EXPECT_EQ(BytesOf(ret), BytesOf(Filled<UI_SSL_LOGIN_RET_S>(0xAB)));
}

TEST_F(UiAuthTest, NtohlConvertsInPlaceToo) {
    UI_SSL_LOGIN_RET_S r;
    const Bytes wire = ui_test::Hex(kRetHex);
    ASSERT_EQ(wire.size(), sizeof(r));
    std::memcpy(&r, wire.data(), sizeof(r));
    ASSERT_EQ(UI_SslLogin_Ntohl(&r, &r), 0u);
    ExpectConvertedRet(r);
}

// ---- Secrets ----------------------------------------------------------------------------

TEST_F(UiAuthTest, NoPasswordTokenOrCookieReachesTheLog) {
    (void)DDM_LogLevelSet(DDM_LOG_DEBUG);
    const char kPassword[] = "Gr4ce-Pw-61c0";
    const char kNewPassword[] = "Gr4ce-New-9b27";
    const char kToken[] = "TK-83e5a90f";
    const char kCookie[] = "CK-f0d17c4e";
    ui_test::SimLink link(std::string(R"("engine":{"credentials":[)") +
                          R"({"user":"grace","password":")" + kPassword +
                          R"(","outcome":"token","token":")" + kToken + R"(","cookie":")" +
                          kCookie + R"("},)" + R"({"user":"heidi","password":")" + kPassword +
                          R"(","outcome":"success","cookie":")" + kCookie + R"("}]})");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    NameBuf name;
    UI_SSL_LOGIN_RET_S ret{};

    UI_SSL_LOGIN_S login = LoginRecord("grace", kPassword);
    uint32_t kind = 0;
    ASSERT_EQ(UI_SslLogin_Process(&login, name.text, &kind, &ret), 0u);
    ASSERT_EQ(kind, 6u);
    UI_DYNAMIC_CODE_S code{};
    std::strcpy(code.acDynamicCode, kToken);
    kind = 0;
    ASSERT_EQ(UI_SslDynamicCode_Send(&code, name.text, &kind, &ret), 0u);
    ASSERT_EQ(kind, 1u);

    PwdModifyInfo change{};
    std::strcpy(change.acOldPwd, kPassword);
    std::strcpy(change.acNewPwd, kNewPassword);
    uint32_t ok = 0;
    UI_PWD_POLICY_S policy{};
    ASSERT_EQ(UI_SslPwd_Modify(&change, name.text, &ok, &policy), 0u);
    ASSERT_EQ(ok, 1u);
    ok = 0;
    ASSERT_EQ(UI_SslLogout_Process(name.text, &ok), 0u);

    UI_SSL_LOGIN_S pluginLogin = LoginRecord("heidi", kPassword);
    pluginLogin.uiLoginType = 0;
    PluginLoginReply reply{};
    uint32_t result = 0;
    ASSERT_EQ(UI_PluginLogin_Process(&pluginLogin, name.text, &result, &reply), 0u);
    ASSERT_EQ(result, 1u);
    ASSERT_STREQ(reinterpret_cast<const char*>(reply.aucCookie), kCookie);

    // The engine did receive them: the scan below looks for texts that were there.
    ASSERT_TRUE(link.sim().WaitLog(1));
    for (const char* secret : {kPassword, kNewPassword, kToken, kCookie}) {
        EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
    }
    EXPECT_GT(
        ui_test::LogCount("[Process ssl send dynamic code][vanTrelo send dynamic code start!]"),
        0u);
}

}  // namespace
