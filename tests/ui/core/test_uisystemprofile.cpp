// The front end's copy of the service-held configuration, against the simulator: what a
// read brings and logs, what a refused read leaves (and that nothing is then written
// back), that a save changes only what was set, the byte limits of the text setters,
// texts that fill their field to the last byte, and the session operations.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QByteArray>
#include <QMessageBox>
#include <QString>

#include "ddm_log.h"
#include "languagesetting.h"
#include "servicelink.h"
#include "ui_connect.h"
#include "ui_test/ui_sim.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;

UISystemProfile* Profile() { return UISystemProfile::GetInstance(); }

// Three profiles with their session entries, and values in the fields the front end
// neither sets nor reads, padding included, so that a save that rebuilt the record
// would show.
const char kScenario[] = R"(
  "config": {"ProductName": "VanTrelo", "Version": "7.0.2.33", "Customized": "true",
             "LastAccessSession": "work.ini", "LanguageID": 2052, "SpareValue": "0xA1B2C3D4",
             "ShowLogflag": 5, "Pad": "a1b2c3", "ProxyType": 3,
             "ProxyAddr": "proxy.example", "ProxyPort": 3128, "ProxyUser": "pu",
             "ProxyPwd": "pp"},
  "profiles": [
    {"name": "work.ini", "linkType": 1, "fields": {"acGatewayAddress": "10.0.0.1"},
     "session": {"UserName": "alice", "RemPwd": 1, "AutoLogin": 1,
                 "LastLoginAddr": "10.0.0.1:443"}},
    {"name": "home.ini", "linkType": 2, "fields": {}},
    {"name": "lab.ini", "linkType": 1, "fields": {"acGatewayAddress": "10.0.0.2"}}
  ])";

const char kRefusedRead[] = R"("scripts":[{"msgType":9,"code":2,"replies":[{"code":"0xD0003"}]}])";
const char kRefusedWrite[] = R"("scripts":[{"msgType":9,"code":1,"replies":[{"code":"0xD0001"}]}])";
const char kRefusedSession[] =
    R"("scripts":[{"msgType":9,"code":3,"replies":[{"code":"0xD0005"}]}])";

// The simulator's stored configuration, field by field (padding as hex).
rapidjson::Document StoredConfig(ui_test::Sim& sim) {
    const std::string answer = sim.Control("state");
    rapidjson::Document state;
    EXPECT_EQ(answer.compare(0, 3, "OK "), 0) << answer;
    state.Parse(answer.c_str() + 3);
    rapidjson::Document config;
    if (!state.HasParseError() && state.HasMember("config")) {
        config.CopyFrom(state["config"], config.GetAllocator());
    }
    return config;
}

// Configuration writes the simulator received.
size_t ConfigWrites(const ui_test::Sim& sim, uint32_t code) {
    size_t n = 0;
    for (const rapidjson::Document& line : sim.Log()) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 9 &&
            line["head"]["code"].GetUint() == code) {
            ++n;
        }
    }
    return n;
}

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

class UISystemProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    void TearDown() override { (void)DDM_LogLevelSet(DDM_LOG_INFO); }
    BoxDriver driver;
};

// Before the first read there is no record (this test runs first in its process).
TEST_F(UISystemProfileTest, SaveBeforeAnyReadSendsNothing) {
    ui_test::SimLink link(kScenario);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->Save());
    EXPECT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(ConfigWrites(link.sim(), 1), 0u);
    EXPECT_EQ(Profile()->GetSessionIndex("work.ini"), -1);
    EXPECT_EQ(Profile()->GetProductName(), QString());
}

TEST_F(UISystemProfileTest, ReadBringsTheServiceRecordAndLogsItsSessions) {
    ui_test::SimLink link(kScenario);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(DDM_LogLevelSet(DDM_LOG_DEBUG), 0u);
    const size_t blocks = ui_test::LogCount("[ProfileName :][");

    ASSERT_TRUE(Profile()->Read());
    EXPECT_TRUE(Profile()->GetReadSuccess());
    EXPECT_EQ(Profile()->GetProductName(), "VanTrelo");
    EXPECT_EQ(Profile()->GetVersion(), "7.0.2.33");
    EXPECT_EQ(Profile()->GetCustomized(), "true");
    EXPECT_EQ(Profile()->GetLastAccessSession(), "work.ini");
    EXPECT_EQ(Profile()->GetLanguageID(), 2052u);
    EXPECT_EQ(Profile()->GetSpareValue(), 0xA1B2C3D4u);
    EXPECT_EQ(Profile()->GetShowLogflag(), 5u);
    EXPECT_EQ(Profile()->GetProxyType(), 3u);
    EXPECT_EQ(Profile()->GetProxyAddr(), "proxy.example");
    EXPECT_EQ(Profile()->GetProxyPort(), 3128u);
    EXPECT_EQ(Profile()->GetProxyUser(), "pu");
    EXPECT_EQ(Profile()->GetProxyPwd(), "pp");

    EXPECT_EQ(Profile()->GetSessionIndex("work.ini"), 0);
    EXPECT_EQ(Profile()->GetSessionIndex("lab.ini"), 2);
    const CFM_SESSION_S* work = Profile()->GetSession("work.ini");
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work, &Profile()->GetSystemConfig()->Sessions[0]);
    EXPECT_EQ(work->ConnectionType, 1u);
    EXPECT_EQ(work->RemPwd, 1u);
    EXPECT_EQ(work->AutoLogin, 1u);
    EXPECT_STREQ(work->UserName, "alice");
    EXPECT_STREQ(work->LastLoginAddr, "10.0.0.1:443");
    EXPECT_EQ(Profile()->GetSession("home.ini")->ConnectionType, 2u);
    // Exact and case-sensitive; an empty name finds the first free entry.
    EXPECT_EQ(Profile()->GetSessionIndex("Work.ini"), -1);
    EXPECT_EQ(Profile()->GetSession("work"), nullptr);
    EXPECT_EQ(Profile()->GetSessionIndex(""), 3);

    EXPECT_EQ(ui_test::LogCount("[ProfileName :]["), blocks + 3);
    EXPECT_GE(ui_test::LogCount("[ProfileName :][lab.ini]"), 1u);
    EXPECT_GE(ui_test::LogCount("[LastAccessSession :][work.ini]"), 1u);
    EXPECT_GE(ui_test::LogCount("[LanguageID :][2052]"), 1u);
}

// A later read refills the same record: pointers taken before it stay usable.
TEST_F(UISystemProfileTest, PointersStayValidAcrossReads) {
    ui_test::SimLink link(kScenario);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(Profile()->Read());
    CFM_SYSCONFIG_S* config = Profile()->GetSystemConfig();
    CFM_SESSION_S* lab = Profile()->GetSession("lab.ini");
    Profile()->SetProductName("edited");
    ASSERT_TRUE(Profile()->Read());
    EXPECT_EQ(Profile()->GetSystemConfig(), config);
    EXPECT_EQ(Profile()->GetSession("lab.ini"), lab);
    EXPECT_STREQ(config->ProductName, "VanTrelo") << "unsaved changes are dropped by a read";
}

// The mending: a refused read leaves an empty record that must never reach the service.
TEST_F(UISystemProfileTest, RefusedReadIsEmptyAndIsNeverSaved) {
    ui_test::SimLink link(std::string(kScenario) + "," + kRefusedRead);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const size_t refused = ui_test::LogCount("[Init ui SystemProfile][read systemProfile not success!]");

    EXPECT_FALSE(Profile()->Read());
    EXPECT_FALSE(Profile()->GetReadSuccess());
    EXPECT_EQ(ui_test::LogCount("[Init ui SystemProfile][read systemProfile not success!]"),
              refused + 1);
    EXPECT_EQ(Profile()->GetProductName(), QString());
    EXPECT_EQ(Profile()->GetVersion(), QString());
    EXPECT_EQ(Profile()->GetLastAccessSession(), QString());
    EXPECT_EQ(Profile()->GetLanguageID(), 0u);
    EXPECT_EQ(Profile()->GetSession("work.ini"), nullptr);

    // What start-up's language set-up would do next.
    Profile()->SetLanguageID(1033);
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->Save());
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(QMessageBox::Warning));
    EXPECT_EQ(driver.Seen()[0].text, LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
    EXPECT_GE(ui_test::LogCount("[To save the UI system profile][the configuration was not read"),
              1u);
    // A session write that follows still gets through: it names its own entry.
    link.sim().Control("ping");
    EXPECT_EQ(ConfigWrites(link.sim(), 1), 0u) << "an empty configuration was sent";
    EXPECT_EQ(StoredConfig(link.sim())["ProductName"], "VanTrelo");
    EXPECT_EQ(StoredConfig(link.sim())["LanguageID"], 2052);

    // A good read makes saving possible again.
    ASSERT_EQ(link.sim().Control("script clear 9 2").compare(0, 2, "OK"), 0);
    ASSERT_TRUE(Profile()->Read());
    EXPECT_TRUE(Profile()->Save());
    EXPECT_EQ(ConfigWrites(link.sim(), 1), 1u);
}

// Only the language changes in the service's record: every other field, the ones the
// front end never reads and the padding included, comes back as it was.
TEST_F(UISystemProfileTest, SaveChangesOnlyWhatWasSet) {
    ui_test::SimLink link(kScenario);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const rapidjson::Document before = StoredConfig(link.sim());
    ASSERT_TRUE(before.IsObject());
    ASSERT_EQ(before["Pad"], "a1b2c3");

    ASSERT_TRUE(Profile()->Read());
    Profile()->SetLanguageID(1033);
    EXPECT_TRUE(Profile()->Save());
    EXPECT_TRUE(driver.Seen().empty());

    const rapidjson::Document after = StoredConfig(link.sim());
    ASSERT_TRUE(after.IsObject());
    EXPECT_EQ(after["LanguageID"], 1033);
    for (auto it = before.MemberBegin(); it != before.MemberEnd(); ++it) {
        const std::string name = it->name.GetString();
        if (name != "LanguageID") {
            EXPECT_TRUE(after[it->name] == it->value) << name;
        }
    }
    // On the wire: the written record against the one read back from the service now.
    std::vector<uint8_t> written;
    for (const rapidjson::Document& line : link.sim().Log()) {
        if (line["head"]["msgType"].GetUint() == 9 && line["head"]["code"].GetUint() == 1) {
            written = ui_test::Hex(line["hex"].GetString());
        }
    }
    ASSERT_EQ(written.size(), 24u + sizeof(CFM_SYSCONFIG_S));
    EXPECT_EQ(written[24 + 76], 0x00);  // 1033 = 0x00000409, big-endian on the wire
    EXPECT_EQ(written[24 + 77], 0x00);
    EXPECT_EQ(written[24 + 78], 0x04);
    EXPECT_EQ(written[24 + 79], 0x09);
    EXPECT_EQ(written[24 + 221], 0xa1);
    EXPECT_EQ(written[24 + 223], 0xc3);
}

TEST_F(UISystemProfileTest, RefusedSaveShowsTheReplyText) {
    ui_test::SimLink link(std::string(kScenario) + "," + kRefusedWrite);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(Profile()->Read());
    Profile()->SetLanguageID(1033);
    CFM_SYSCONFIG_S copy;
    std::memcpy(&copy, Profile()->GetSystemConfig(), sizeof(copy));
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->Save());
    ASSERT_EQ(driver.Seen().size(), 1u);
    const QString expected = KeyText(g_cfmMsgCodeTable[1]);
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(driver.Seen()[0].text, expected);
    EXPECT_NE(driver.Seen()[0].text, LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
    EXPECT_EQ(driver.Seen()[0].title, "Warning");
    EXPECT_EQ(std::memcmp(&copy, Profile()->GetSystemConfig(), sizeof(copy)), 0);
    EXPECT_EQ(StoredConfig(link.sim())["LanguageID"], 2052);
}

TEST_F(UISystemProfileTest, SaveWithoutTheServiceShowsTheTimeOutText) {
    {
        ui_test::SimLink link(kScenario);
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        ASSERT_TRUE(Profile()->Read());
    }
    UI_Connect_Reset();
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->Save());
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->WriteSession(Profile()->GetSession("work.ini"), 1));
    ASSERT_EQ(driver.Seen().size(), 2u);
    for (const vt_qt_test::SeenBox& seen : driver.Seen()) {
        EXPECT_EQ(seen.text, LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
    }
}

// Texts that fill their field to the last byte: every read stops at the field's end.
TEST_F(UISystemProfileTest, UnterminatedTextsStayWithinTheirFields) {
    const std::string b133(133, 'B');
    ui_test::SimLink link(std::string(R"("config": {"ProductName": ")") + std::string(16, 'A') +
                          R"(", "Version": "7.0.2.33", "LastAccessSession": ")" +
                          std::string(133, 'C') + R"(", "Sessions[15].ProfileName": ")" + b133 +
                          R"(", "Sessions[15].Password": ")" + std::string(128, 'P') + R"("})");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(DDM_LogLevelSet(DDM_LOG_DEBUG), 0u);
    ASSERT_TRUE(Profile()->Read());

    EXPECT_EQ(Profile()->GetProductName(), QString(16, 'A'));
    EXPECT_EQ(Profile()->GetVersion(), "7.0.2.33");
    EXPECT_EQ(Profile()->GetLastAccessSession(), QString(133, 'C'));
    EXPECT_GE(ui_test::LogCount("[LastAccessSession :][" + std::string(133, 'C') + "]"), 1u);
    const QString name = QString::fromStdString(b133);
    EXPECT_EQ(Profile()->GetSessionIndex(name), 15);

    // Copying such an entry treats its name as too long: the copy's name is empty.
    CFM_SESSION_S* last = Profile()->GetSession(name);
    ASSERT_NE(last, nullptr);
    CFM_SESSION_S given;
    std::memcpy(&given, last, sizeof(given));
    std::strcpy(given.UserName, "bob");
    Profile()->SetSession(&given, name);
    EXPECT_STREQ(last->UserName, "bob");
    EXPECT_EQ(last->ProfileName[0], '\0');
    EXPECT_EQ(last->Password[0], '\0');
}

// One table: each text field keeps a text of its width less one byte, and a text one
// byte longer leaves it empty; a Chinese character counts three bytes. Nothing outside
// the field changes.
TEST_F(UISystemProfileTest, TextSettersKeepTheirByteLimits) {
    UI_Connect_Reset();
    (void)Profile()->Read();  // fails: an empty record to set fields in
    CFM_SYSCONFIG_S* config = Profile()->GetSystemConfig();
    ASSERT_NE(config, nullptr);

    struct Field {
        const char* name;
        void (UISystemProfile::*set)(const QString&);
        QString (UISystemProfile::*get)() const;
        size_t offset;
        size_t width;
    };
    const Field fields[] = {
        {"ProductName", &UISystemProfile::SetProductName, &UISystemProfile::GetProductName,
         offsetof(CFM_SYSCONFIG_S, ProductName), 16},
        {"Version", &UISystemProfile::SetVersion, &UISystemProfile::GetVersion,
         offsetof(CFM_SYSCONFIG_S, Version), 32},
        {"Customized", &UISystemProfile::SetCustomized, &UISystemProfile::GetCustomized,
         offsetof(CFM_SYSCONFIG_S, Customized), 16},
        {"LastAccessSession", &UISystemProfile::SetLastAccessSession,
         &UISystemProfile::GetLastAccessSession, offsetof(CFM_SYSCONFIG_S, LastAccessSession), 133},
        {"ProxyAddr", &UISystemProfile::SetProxyAddr, &UISystemProfile::GetProxyAddr,
         offsetof(CFM_SYSCONFIG_S, ProxyAddr), 128},
        {"ProxyUser", &UISystemProfile::SetProxyUser, &UISystemProfile::GetProxyUser,
         offsetof(CFM_SYSCONFIG_S, ProxyUser), 256},
        {"ProxyPwd", &UISystemProfile::SetProxyPwd, &UISystemProfile::GetProxyPwd,
         offsetof(CFM_SYSCONFIG_S, ProxyPwd), 128},
    };
    const QString chinese = QString::fromUtf8("中");  // three bytes in UTF-8
    auto* bytes = reinterpret_cast<unsigned char*>(config);
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        const size_t limit = f.width - 1;
        const QString fits(static_cast<int>(limit), 'x');
        const QString cjkFits = chinese.repeated(static_cast<int>(limit / 3));
        struct Case {
            QString text;
            QString stored;
        };
        const Case cases[] = {
            {fits, fits},
            {fits + "y", QString()},
            {cjkFits, cjkFits},
            {cjkFits + chinese, QString()},  // one character past the limit
            {QStringLiteral("short"), QStringLiteral("short")},
        };
        for (const Case& c : cases) {
            std::memset(config, 0xEE, sizeof(*config));
            (Profile()->*f.set)(c.text);
            EXPECT_EQ((Profile()->*f.get)(), c.stored) << c.text.toUtf8().size() << " bytes";
            std::vector<unsigned char> expected(sizeof(*config), 0xEE);
            const QByteArray stored = c.stored.toUtf8();
            std::fill(expected.begin() + f.offset, expected.begin() + f.offset + f.width, 0);
            std::copy(stored.begin(), stored.end(), expected.begin() + f.offset);
            EXPECT_EQ(std::memcmp(expected.data(), bytes, expected.size()), 0)
                << "bytes outside the text changed";
        }
    }
}

TEST_F(UISystemProfileTest, SessionOperations) {
    ui_test::SimLink link(std::string(kScenario) + "," + kRefusedSession);
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(Profile()->Read());

    // A name no entry carries changes nothing.
    CFM_SYSCONFIG_S before;
    std::memcpy(&before, Profile()->GetSystemConfig(), sizeof(before));
    CFM_SESSION_S given{};
    std::strcpy(given.ProfileName, "other.ini");
    std::strcpy(given.UserName, "eve");
    Profile()->SetSession(&given, "other.ini");
    EXPECT_EQ(std::memcmp(&before, Profile()->GetSystemConfig(), sizeof(before)), 0);

    // The entry that carries the name takes the given one, name included.
    given.ConnectionType = 1;
    given.RemPwd = 0;
    given.AutoLogin = 1;
    std::strcpy(given.ProfileName, "lab.ini");
    std::strcpy(given.LastLoginAddr, "10.0.0.2:443");
    std::memset(given.UserName, 'u', sizeof(given.UserName));  // no terminator: too long
    Profile()->SetSession(&given, "lab.ini");
    const CFM_SESSION_S* lab = Profile()->GetSession("lab.ini");
    ASSERT_NE(lab, nullptr);
    EXPECT_EQ(lab->AutoLogin, 1u);
    EXPECT_STREQ(lab->LastLoginAddr, "10.0.0.2:443");
    EXPECT_EQ(lab->UserName[0], '\0');

    // The service refuses the first session write (scripted) and takes the second.
    driver.Answer("OK");
    EXPECT_FALSE(Profile()->WriteSession(lab, 1));
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text, KeyText(g_cfmMsgCodeTable[5]));
    CFM_SESSION_S local;
    std::memcpy(&local, lab, sizeof(local));
    std::strcpy(local.UserName, "carol");
    EXPECT_TRUE(Profile()->WriteSession(&local, 0));
    EXPECT_EQ(driver.Seen().size(), 1u);
    ASSERT_TRUE(Profile()->Read());
    EXPECT_STREQ(Profile()->GetSession("lab.ini")->UserName, "carol");
    EXPECT_EQ(Profile()->GetSession("lab.ini")->AutoLogin, 1u);
    EXPECT_GE(ui_test::LogCount("[Write profile session succed]"), 1u);

    EXPECT_FALSE(Profile()->WriteSession(nullptr, 1));
}

}  // namespace
