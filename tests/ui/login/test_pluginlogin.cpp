// A browser's login through the SSL view in plugin mode, answered to an extension: the
// JSON answer byte for byte, and the view's login against the simulator with the texts
// and values that only fit their fields just, or do not fit.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QDir>
#include <QString>

#include <rapidjson/document.h>

#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyui.h"
#include "pluginloginanswer.h"
#include "servicelink.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_test/stdout_capture.h"
#include "vt_test/temp_env.h"

namespace {

using vt_test::CaptureStdout;
using vt_test::NativeFrame;



void SetBytes(void* field, const std::string& bytes) {
    std::memcpy(field, bytes.data(), bytes.size());
}

// ---- The JSON answer ------------------------------------------------------------------

TEST(LoginAnswerJson, MembersInOrderIdsSignedTextsEscaped) {
    ui_test::LinkSetUp();
    UIContext::GetInstance()->SetPluginMsgType(1);
    UI_PLUGIN_LOGIN_RET_S ret;
    std::memset(&ret, 0, sizeof(ret));
    ret.uiUserID = 0x80000000u;
    ret.uiSessionID = 7;
    SetBytes(ret.aucCookie, "a\"b\\c");
    SetBytes(ret.acUrlLocation, "u");
    ret.cFlag = 0;
    SetBytes(ret.cTip, "success");
    int rc = -1;
    const std::string out = CaptureStdout([&] { rc = SendLoginRetToPlugin(&ret); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, NativeFrame(R"({"PluginRecv":{"msgType":1,"uiUserID":-2147483648,"uiSessionID":7,)"
                         R"("aucCookie":"a\"b\\c","acUrlLocation":"u","cFlag":0,"cTip":"success"}})"));
}

// Texts that fill their whole field travel whole; bytes that are not UTF-8 arrive as
// replacement characters; control characters are escaped; a flag is unsigned.
TEST(LoginAnswerJson, FullFieldsInvalidBytesAndControlCharacters) {
    ui_test::LinkSetUp();
    UIContext::GetInstance()->SetPluginMsgType(1);
    UI_PLUGIN_LOGIN_RET_S ret;
    std::memset(&ret, 0, sizeof(ret));
    const std::string cookie(64, 'k');
    const std::string url = "https://" + std::string(1024 - 8, 'w');
    std::memcpy(ret.aucCookie, cookie.data(), 64);          // no terminator
    std::memcpy(ret.acUrlLocation, url.data(), url.size());  // no terminator
    ret.cFlag = 0xFFFFFFFFu;
    SetBytes(ret.cTip, "x\xFF\xFEy\n\x01");
    const std::string out = CaptureStdout([&] { (void)SendLoginRetToPlugin(&ret); });
    ASSERT_GT(out.size(), 4u);
    rapidjson::Document doc;
    doc.Parse(out.data() + 4, out.size() - 4);
    ASSERT_FALSE(doc.HasParseError()) << out.substr(4);
    const rapidjson::Value& body = doc["PluginRecv"];
    EXPECT_EQ(std::string(body["aucCookie"].GetString()), cookie);
    EXPECT_EQ(std::string(body["acUrlLocation"].GetString()), url);
    EXPECT_EQ(body["cFlag"].GetUint(), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(body["cTip"].GetString()), "x\xEF\xBF\xBD\xEF\xBF\xBDy\n\x01");
    EXPECT_NE(out.find(R"("cTip":"x)"), std::string::npos);
    EXPECT_NE(out.find(R"(y\n\u0001")"), std::string::npos) << out.substr(4);
}

TEST(LoginAnswerJson, NullRecordWritesNothingAndGivesOne) {
    ui_test::LinkSetUp();
    const size_t before = ui_test::LogCount("[Process send login ret to plugin][invalid parameter!]");
    int rc = -1;
    const std::string out = CaptureStdout([&] { rc = SendLoginRetToPlugin(nullptr); });
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ui_test::LogCount("[Process send login ret to plugin][invalid parameter!]"), before + 1);
}

// ---- The view's login, answered to an extension ------------------------------------------

// The words of the language a test writes: the real ones, with the refusal of a wrong
// password replaced by a text of the given size in UTF-8 bytes (three-byte characters).
class LanguageFolder {
public:
    explicit LanguageFolder(size_t refusalBytes) {
        const std::string dir = env_.Tmp() + "/language/1033";
        QDir().mkpath(QString::fromStdString(dir));
        std::ifstream in(std::string(VT_TEST_RUNTIME_DIR) + "language/1033/l_UILabel.ini");
        std::ofstream out(dir + "/l_UILabel.ini");
        std::string line;
        refusal_.clear();
        for (size_t i = 0; i < refusalBytes / 3; ++i) refusal_ += "\xE4\xB8\xAD";
        while (std::getline(in, line)) {
            if (line.rfind("AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR=", 0) == 0) {
                line = "AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR=" + refusal_;
            }
            out << line << "\n";
        }
    }
    QString Dir() const { return QString::fromStdString(env_.Tmp() + "/"); }
    const std::string& Refusal() const { return refusal_; }

private:
    vt_test::TempEnv env_;
    std::string refusal_;
};

class PluginLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(1);
        context->SetNativeMessaging(true);
        context->SetPluginMsgType(1);
        UIPLUGIN_INFO_S info;
        std::memset(&info, 0, sizeof(info));
        SetBytes(info.acLoginAddr, "192.0.2.10:443");
        context->SetPluginInfo(&info);
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        for (const char* secret : {"Passw0rd", "SIMCOOKIE"}) {
            EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
        }
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        UIContext::GetInstance()->SetNativeMessaging(false);
        UIContext::GetInstance()->SetPluginMode(0);
        uiSyncTimeoutDivisorSet(1);
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    static void LoginAs(const char* user) {
        UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
        std::memset(info->acUserName, 0, sizeof(info->acUserName));
        std::memset(info->acPassword, 0, sizeof(info->acPassword));
        SetBytes(info->acUserName, user);
        SetBytes(info->acPassword, "Passw0rd");
    }
    // The one frame of a login, its JSON parsed; the view is made the way a launch
    // makes it in plugin mode.
    static std::string Login(const char* user) {
        LoginAs(user);
        LoginKeyUI view;
        return CaptureStdout([&] { view.LoginKeyUI_Plugin_SSLLogin(); });
    }
};

std::string Json(const std::string& frame) {
    return frame.size() >= 4 ? frame.substr(4) : std::string();
}

TEST_F(PluginLoginTest, SuccessIsOneFrameAndLeavesTheLaunchRecord) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    UISystemProfile::GetInstance()->SetLanguageID(1033);
    const UIPLUGIN_INFO_S before = *UIContext::GetInstance()->GetPluginInfo();
    const std::string out = Login("alice");
    EXPECT_EQ(out, NativeFrame(R"({"PluginRecv":{"msgType":1,"uiUserID":1001,"uiSessionID":5001,)"
                         R"("aucCookie":"SIMCOOKIE","acUrlLocation":"https://192.0.2.10/portal",)"
                         R"("cFlag":0,"cTip":"success"}})"));
    // The ids of a native login are the extension's: the launch record is not written.
    const UIPLUGIN_INFO_S* after = UIContext::GetInstance()->GetPluginInfo();
    EXPECT_EQ(after->uiUserID, 0u);
    EXPECT_EQ(after->uiSessionID, 0u);
    EXPECT_EQ(std::memcmp(after->aucCookie, before.aucCookie, sizeof(before.aucCookie)), 0);
    EXPECT_EQ(std::memcmp(after->acUrlLocation, before.acUrlLocation, sizeof(before.acUrlLocation)), 0);

    // The request: the plugin's texts, a plugin login, English, no check of the device.
    const std::vector<rapidjson::Document> log = link.sim().Log();
    const rapidjson::Value* sent = nullptr;
    for (const rapidjson::Document& line : log) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 3 &&
            line["head"]["code"].GetUint() == 5) {
            sent = &line["fields"];
        }
    }
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(std::string((*sent)["acGateway"].GetString()), "192.0.2.10:443");
    EXPECT_EQ(std::string((*sent)["acUserName"].GetString()), "alice");
    EXPECT_EQ(std::string((*sent)["acPassword"].GetString()), "Passw0rd");
    EXPECT_EQ((*sent)["uiLoginType"].GetUint(), 0u);
    EXPECT_EQ((*sent)["uiLanguage"].GetUint(), 1u);
    EXPECT_EQ((*sent)["uiDeviceCACheck"].GetUint(), 0u);
    EXPECT_EQ((*sent)["uiAuthType"].GetUint(), 0u);
}

// Answers whose cookie or URL are empty, or fill their fields to the last byte, and a
// refusal whose text is at, or past, what the answer's tip field holds.
TEST_F(PluginLoginTest, FieldEdgesOfTheReplyAndOfTheTip) {
    const std::string cookie64(64, 'c');
    const std::string url1024 = "https://" + std::string(1016, 'u');
    const std::string credentials =
        R"("engine": {"credentials": [)"
        R"({"user": "nocookie", "password": "Passw0rd", "outcome": "success", "cookie": "", "url": "https://192.0.2.10/p"},)"
        R"({"user": "nourl", "password": "Passw0rd", "outcome": "success", "cookie": "C", "url": ""},)"
        R"({"user": "wide", "password": "Passw0rd", "outcome": "success", "userId": 3000000000, "sessionId": 9, "cookie": ")" +
        cookie64 + R"(", "url": ")" + url1024 + R"("},)"
        R"({"user": "erin", "password": "Passw0rd", "outcome": "wrongPassword"}]})";
    ui_test::SimLink link(credentials);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const QString loginFail =
        LanguageSetting::GetInstance()->GetValue("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_FAIL");
    ASSERT_FALSE(loginFail.isEmpty());

    for (const char* user : {"nocookie", "nourl"}) {
        SCOPED_TRACE(user);
        const std::string out = Login(user);
        EXPECT_EQ(out, NativeFrame(R"({"PluginRecv":{"msgType":1,"uiUserID":0,"uiSessionID":0,)"
                             R"("aucCookie":"","acUrlLocation":"","cFlag":1,"cTip":")" +
                             loginFail.toStdString() + R"("}})"));
    }

    const std::string wide = Login("wide");
    EXPECT_EQ(wide, NativeFrame(R"({"PluginRecv":{"msgType":1,"uiUserID":-1294967296,"uiSessionID":9,)"
                          R"("aucCookie":")" + cookie64 + R"(","acUrlLocation":")" + url1024 +
                          R"(","cFlag":0,"cTip":"success"}})"));

    struct TipCase {
        size_t bytes;
        bool kept;
    } tips[] = {{1023, true}, {1026, false}};
    for (const TipCase& c : tips) {
        SCOPED_TRACE(c.bytes);
        LanguageFolder words(c.bytes);
        LanguageSetting::GetInstance()->Init(1033, words.Dir());
        const std::string out = Login("erin");
        rapidjson::Document doc;
        doc.Parse(Json(out).c_str());
        ASSERT_FALSE(doc.HasParseError()) << Json(out);
        EXPECT_EQ(doc["PluginRecv"]["cFlag"].GetUint(), 1u);
        EXPECT_EQ(std::string(doc["PluginRecv"]["cTip"].GetString()),
                  c.kept ? words.Refusal() : std::string());
        EXPECT_FALSE(doc["PluginRecv"].HasMember("LangMode"));
    }
}

// The service does not answer: the time-out's text, a failure, once.
TEST_F(PluginLoginTest, UnansweredLoginGivesTheTimeOutText) {
    ui_test::SimLink link(R"("scripts": [{"msgType": 3, "code": 5, "replies": [{"noReply": true}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uiSyncTimeoutDivisorSet(100);
    const std::string out = Login("alice");
    EXPECT_EQ(out, NativeFrame(R"({"PluginRecv":{"msgType":1,"uiUserID":0,"uiSessionID":0,)"
                         R"("aucCookie":"","acUrlLocation":"","cFlag":1,"cTip":")" +
                         LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR.toStdString() +
                         R"("}})"));
}

}  // namespace
