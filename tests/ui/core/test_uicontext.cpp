// The front end's process-wide state: its defaults, accessor pairs that touch nothing but
// their own field, the two owned records with their bounded copies, and Init over a
// configuration read that fails.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QVariant>

#include "ui_connect.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"

namespace {

UIContext* Ctx() { return UIContext::GetInstance(); }

// One accessor pair: its default and another value to set.
struct Pair {
    const char* name;
    std::function<QVariant()> get;
    std::function<void(const QVariant&)> set;
    QVariant byDefault;
    QVariant other;
};

#define INT_PAIR(Name, def, other)                                                 \
    Pair {                                                                         \
        #Name, [] { return QVariant(Ctx()->Get##Name()); },                        \
            [](const QVariant& v) { Ctx()->Set##Name(v.toInt()); }, QVariant(def), \
            QVariant(other)                                                        \
    }
#define BOOL_PAIR(Name, def)                                                        \
    Pair {                                                                          \
        #Name, [] { return QVariant(Ctx()->Get##Name()); },                         \
            [](const QVariant& v) { Ctx()->Set##Name(v.toBool()); }, QVariant(def), \
            QVariant(!(def))                                                        \
    }
#define TEXT_PAIR(Name, other)                                                         \
    Pair {                                                                             \
        #Name, [] { return QVariant(Ctx()->Get##Name()); },                            \
            [](const QVariant& v) { Ctx()->Set##Name(v.toString()); }, QVariant(QString()), \
            QVariant(QString(other))                                                   \
    }

const std::vector<Pair>& Pairs() {
    static const std::vector<Pair> pairs = {
        INT_PAIR(SystemType, 0, 2),
        TEXT_PAIR(InstallDir, "/opt/vantrelo/"),
        TEXT_PAIR(ResourceDir, "/opt/vantrelo/res/"),
        TEXT_PAIR(LogDir, "/home/u/.VanTrelo/log/"),
        INT_PAIR(SpareValue, 0, 5),
        BOOL_PAIR(FirstLoginModifyPwd, false),
        INT_PAIR(LinkType, 0, 2),
        TEXT_PAIR(ConnectName, "Office"),
        BOOL_PAIR(SettingEnable, true),
        INT_PAIR(AuthType, 0, 1),
        BOOL_PAIR(Logined, false),
        BOOL_PAIR(AutoLogin, false),
        BOOL_PAIR(NewConnect, false),
        INT_PAIR(CacheClear, 0, 1),
        INT_PAIR(SpareIndex, -1, 3),
        BOOL_PAIR(LatestVersion, true),
        INT_PAIR(PluginMode, 0, 1),
        INT_PAIR(PluginMsgType, 0, 7),
        BOOL_PAIR(SslLogout, false),
        BOOL_PAIR(CnemStatus, false),
        BOOL_PAIR(SpareFlag, false),
        BOOL_PAIR(NativeMessaging, false),
    };
    return pairs;
}

bool AllZero(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != 0) return false;
    }
    return true;
}

// The first test of the program: the object as it is built.
TEST(UIContextTest, FreshObjectShowsEveryDefault) {
    ASSERT_EQ(Ctx(), UIContext::GetInstance());
    for (const Pair& p : Pairs()) {
        EXPECT_EQ(p.get(), p.byDefault) << p.name;
    }
    ASSERT_NE(Ctx()->GetBestGateWay(), nullptr);
    ASSERT_NE(Ctx()->GetPluginInfo(), nullptr);
    EXPECT_TRUE(AllZero(Ctx()->GetBestGateWay(), sizeof(UIGATEWAY_INFO_S)));
    EXPECT_TRUE(AllZero(Ctx()->GetPluginInfo(), sizeof(UIPLUGIN_INFO_S)));
}

// Each setter reaches its own getter and no other.
TEST(UIContextTest, EachPairHoldsItsOwnField) {
    for (const Pair& p : Pairs()) {
        SCOPED_TRACE(p.name);
        p.set(p.other);
        for (const Pair& q : Pairs()) {
            EXPECT_EQ(q.get(), &q == &p ? p.other : q.byDefault) << q.name;
        }
        p.set(p.byDefault);
    }
}

TEST(UIContextTest, BestGatewayAddressIsStoredOnlyWhenItFits) {
    struct Case {
        const char* label;
        size_t addressLength;  // bytes of 'g'; 128 fills the field without a terminator
        bool stored;
    };
    const Case cases[] = {{"127 bytes", 127, true}, {"128 bytes", 128, false}, {"empty", 0, true}};
    UIGATEWAY_INFO_S* held = Ctx()->GetBestGateWay();
    uint32_t port = 440;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        // Whatever the held record had before must not show through.
        std::memset(held->acAddress, 'x', sizeof(held->acAddress) - 1);
        UIGATEWAY_INFO_S given;
        std::memset(&given, 0, sizeof(given));
        std::memset(given.acAddress, 'g', c.addressLength);
        given.uiPort = ++port;
        given.uiDelay = 35;
        given.uiFlag = 0xA5A5A5A5;

        Ctx()->SetBestGateWay(&given);
        EXPECT_EQ(Ctx()->GetBestGateWay(), held);
        EXPECT_EQ(held->uiPort, port);
        EXPECT_EQ(held->uiDelay, 35u);
        EXPECT_EQ(held->uiFlag, 0xA5A5A5A5u);
        const std::string expected = c.stored ? std::string(c.addressLength, 'g') : std::string();
        EXPECT_EQ(std::string(held->acAddress, strnlen(held->acAddress, sizeof(held->acAddress))),
                  expected);
        const size_t used = expected.size();
        EXPECT_TRUE(AllZero(held->acAddress + used, sizeof(held->acAddress) - used));
    }
}

TEST(UIContextTest, PluginInfoCopiesTheLaunchFieldsOnly) {
    UIPLUGIN_INFO_S* held = Ctx()->GetPluginInfo();
    // What the login reply and the login request wrote through the pointer earlier.
    std::memset(held->aucCookie, 0xC1, sizeof(held->aucCookie));
    std::memset(held->acUrlLocation, 'u', sizeof(held->acUrlLocation) - 1);
    std::memset(held->acVerifyCode, 'v', sizeof(held->acVerifyCode) - 1);
    std::memset(held->acUserName, 'z', sizeof(held->acUserName) - 1);
    std::memset(held->acLoginAddr, 'z', sizeof(held->acLoginAddr) - 1);
    UIPLUGIN_INFO_S before;
    std::memcpy(&before, held, sizeof(before));

    UIPLUGIN_INFO_S given;
    std::memset(&given, 0x5A, sizeof(given));  // every byte set, no text terminated
    std::memset(given.acBrowserDir, 'd', sizeof(given.acBrowserDir));
    given.acBrowserDir[1023] = '\0';                      // 1023 bytes: fits
    std::memset(given.acLoginAddr, 'a', sizeof(given.acLoginAddr));  // no terminator
    std::memset(given.acUserName, 0, sizeof(given.acUserName));
    std::strcpy(given.acUserName, "\xe7\x94\xa8\xe6\x88\xb7");  // two Chinese characters
    std::memset(given.acPassword, 0, sizeof(given.acPassword));
    std::strcpy(given.acPassword, "Passw0rd");
    std::memset(given.acUpdate, 0, sizeof(given.acUpdate));
    std::strcpy(given.acUpdate, "-nu");
    std::memset(given.acProxyAddr, 0, sizeof(given.acProxyAddr));
    std::strcpy(given.acProxyAddr, "Https:proxy.example");
    given.LangMode = 2;
    given.uiUserID = 1001;
    given.uiSessionID = 5001;
    given.iProxyPort = 8080;

    Ctx()->SetPluginInfo(&given);
    ASSERT_EQ(Ctx()->GetPluginInfo(), held);

    EXPECT_EQ(std::string(held->acBrowserDir), std::string(1023, 'd'));
    EXPECT_TRUE(AllZero(held->acLoginAddr, sizeof(held->acLoginAddr)));
    EXPECT_STREQ(held->acUserName, "\xe7\x94\xa8\xe6\x88\xb7");
    EXPECT_TRUE(AllZero(held->acUserName + 6, sizeof(held->acUserName) - 6));
    EXPECT_STREQ(held->acPassword, "Passw0rd");
    EXPECT_STREQ(held->acUpdate, "-nu");
    EXPECT_STREQ(held->acProxyAddr, "Https:proxy.example");
    EXPECT_EQ(held->LangMode, 2);
    EXPECT_EQ(held->uiUserID, 1001u);
    EXPECT_EQ(held->uiSessionID, 5001u);
    EXPECT_EQ(held->iProxyPort, 8080);

    EXPECT_EQ(std::memcmp(held->aucCookie, before.aucCookie, sizeof(before.aucCookie)), 0);
    EXPECT_EQ(std::memcmp(held->acUrlLocation, before.acUrlLocation, sizeof(before.acUrlLocation)),
              0);
    EXPECT_EQ(std::memcmp(held->acVerifyCode, before.acVerifyCode, sizeof(before.acVerifyCode)),
              0);
    EXPECT_TRUE(AllZero(held->aucReserved, sizeof(held->aucReserved)));
}

// Init carries on whether the service cannot be asked or refuses: the configuration is
// empty, and marked as not read.
TEST(UIContextTest, InitIsTrueWhenTheConfigurationReadFails) {
    ui_test::LinkSetUp();
    struct Case {
        const char* label;
        const char* scenario;  // null: no service at all
        const char* line;
    };
    const Case cases[] = {
        {"no service", nullptr, "[Init ui SystemProfile][read systemProfile failed!]"},
        {"refused", R"("scripts":[{"msgType":9,"code":2,"replies":[{"code":"0xD0003"}]}])",
         "[Init ui SystemProfile][read systemProfile not success!]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::unique_ptr<ui_test::SimLink> link;
        if (c.scenario != nullptr) {
            link.reset(new ui_test::SimLink(c.scenario));
            ASSERT_TRUE(link->Connected()) << link->sim().Diagnostics();
        } else {
            UI_Connect_Reset();
        }
        const size_t before = ui_test::LogCount(c.line);
        EXPECT_TRUE(Ctx()->Init());
        EXPECT_EQ(ui_test::LogCount(c.line), before + 1);
        UISystemProfile* profile = UISystemProfile::GetInstance();
        EXPECT_FALSE(profile->GetReadSuccess());
        EXPECT_EQ(profile->GetProductName(), QString());
        EXPECT_EQ(profile->GetVersion(), QString());
        EXPECT_EQ(profile->GetLanguageID(), 0u);
        ASSERT_NE(profile->GetSystemConfig(), nullptr);
        EXPECT_TRUE(AllZero(profile->GetSystemConfig(), sizeof(CFM_SYSCONFIG_S)));
    }
}

}  // namespace
