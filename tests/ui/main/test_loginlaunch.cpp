// Connect on an SSL VPN profile, as the main window launches it against the simulator:
// the site-preference request (language, gateway text, best-gateway block), the view it
// opens and what its Escape leaves behind, the gateway text the profile and the last
// login choose, the session's remembered fields and automatic login, every refusal on
// the way, a browser's login in plugin mode, and the window's two looks with the view
// state the tray follows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QToolButton>

#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyipsecui.h"
#include "loginkeyui.h"
#include "mainui.h"
#include "mcomboboxitem.h"
#include "servicelink.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
#include "ui_update_inner.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using ui_test::RequestCodes;

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

template <typename T>
T* Find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// The site-preference requests' decoded fields, in order; kept with their log.
struct SitePrefs {
    explicit SitePrefs(ui_test::Sim& sim) : log(sim.Log()) {
        for (const rapidjson::Document& line : log) {
            if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 1 &&
                line["head"]["code"].GetUint() == 4) {
                fields.push_back(&line["fields"]);
            }
        }
    }
    std::vector<rapidjson::Document> log;
    std::vector<const rapidjson::Value*> fields;
};

std::string Text(const rapidjson::Value& v) { return v.IsString() ? v.GetString() : "<hex>"; }

QStringList Rows(LoginKeyUI* view) {
    QStringList rows;
    auto* list = qobject_cast<QListWidget*>(Find<QComboBox>(view, "cb_ipAddress")->view());
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        rows << row->MComboboxItem_Text_Get() + "/" + row->findChildren<QLabel*>().last()->text();
    }
    return rows;
}

QAction* Action(MainUI& window, const QString& prefix) {
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}

// The tray's Connect entry: its text carries the connection's name while it can be chosen.
QAction* ConnectAction(MainUI& window) { return Action(window, KeyText("/UI_MAIN/UI_MAIN_CONNECT")); }
QAction* DisconnectAction(MainUI& window) {
    return Action(window, KeyText("/UI_MAIN/UI_MAIN_DISCONNECT"));
}

std::string Profile(const std::string& name, const std::string& fields,
                    const std::string& session = R"("RemPwd": 0)") {
    return R"({"name": ")" + name + R"(", "linkType": 1, "fields": {)" + fields +
           R"(}, "session": {)" + session + "}}";
}

// "astGateway" entries 10.0.<i>.1:(1000 + i) for i below count.
std::string Entries(int count) {
    std::string text = R"("astGateway": [)";
    for (int i = 0; i < count; ++i) {
        text += (i ? "," : "") + std::string(R"({"acAddress": "10.0.)") + std::to_string(i) +
                R"(.1", "uiPort": )" + std::to_string(1000 + i) + "}";
    }
    return text + "]";
}

class LoginLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetConnectName(QString());
        context->SetLogined(false);
        context->SetAuthType(0);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);
    }
    void TearDown() override {
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        UIContext::GetInstance()->SetPluginMode(0);
        uiSyncTimeoutDivisorSet(1);
    }
    // A window as start-up builds it, "Office" (or the scenario's last used profile)
    // chosen.
    std::unique_ptr<MainUI> Build(ui_test::SimLink& link) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        auto window = std::make_unique<MainUI>(nullptr);
        window->Init();
        return window;
    }
    void Choose(const char* name, int linkType) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(name));
        UIContext::GetInstance()->SetLinkType(linkType);
    }
    // The next view is looked at by the function, then left with Escape.
    void LookThenEscape(std::function<void(LoginKeyUI*)> look) {
        driver.AnswerWith(
            [look](QWidget* box) {
                auto* view = qobject_cast<LoginKeyUI*>(box);
                ASSERT_NE(view, nullptr) << box->metaObject()->className();
                look(view);
                BoxDriver::Respond(box, BoxDriver::kEscape);
            },
            QStringLiteral("look, then Escape"));
    }

    BoxDriver driver;
};

const char kOffice[] = R"("config": {"LastAccessSession": "Office.ini"})";

// ---- The road ------------------------------------------------------------------------

TEST_F(LoginLaunchTest, ConnectOnOfficeOpensTheViewInBothLanguages) {
    struct Case {
        int language;
        uint32_t requestLanguage;
    } cases[] = {{2052, 0}, {1033, 1}};
    for (const Case& c : cases) {
        // Outlives the window, whose views report their end once more as they go.
        std::vector<std::string> order;
        LanguageSetting::GetInstance()->Init(c.language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        ui_test::SimLink link(kOffice);
        auto window = Build(link);
        ASSERT_EQ(UIContext::GetInstance()->GetConnectName(), QString("Office"));
        window->show();
        const size_t before = RequestCodes(link.sim().Log()).size();
        LookThenEscape([&](LoginKeyUI* view) {
            EXPECT_EQ(view->parentWidget(), window.get());
            EXPECT_EQ(view->windowModality(), Qt::WindowModal);
            EXPECT_EQ(view->size(), QSize(461, 348));
            EXPECT_EQ(view->minimumSize(), QSize(461, 348));
            EXPECT_EQ(view->maximumSize(), QSize(461, 348));
            EXPECT_EQ(view->windowTitle(), KeyText("/UI_LOGINKEY/UI_LOGINKEY_TITLE"));
            EXPECT_FALSE(view->windowTitle().isEmpty());
            EXPECT_TRUE(Find<QCheckBox>(view, "cb_Best")->isChecked());
            auto* combo = Find<QComboBox>(view, "cb_ipAddress");
            EXPECT_FALSE(combo->isEnabled());
            EXPECT_EQ(combo->currentText(), QString("192.0.2.11:443"));
            EXPECT_EQ(Rows(view), (QStringList{"192.0.2.10:443/35ms", "192.0.2.11:443/12ms",
                                                "192.0.2.12:8443/80ms"}));
            EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), 0);
            EXPECT_FALSE(ConnectAction(*window)->isEnabled());
            QObject::connect(view, &LoginKeyUI::signal_ShowMainui, [&] { order.push_back("show"); });
            QObject::connect(view, &LoginKeyUI::signal_LoginkeyUIDelete,
                             [&] { order.push_back("gone"); });
            window->hide();  // Escape brings it back
        });
        window->findChild<QPushButton*>("pb_connect")->click();
        ASSERT_EQ(driver.Seen().size(), 1u) << c.language;
        EXPECT_EQ(order, (std::vector<std::string>{"show", "gone"}));
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(ConnectAction(*window)->isEnabled());

        const std::vector<std::string> codes = RequestCodes(link.sim().Log());
        EXPECT_EQ(std::vector<std::string>(codes.begin() + static_cast<long>(before), codes.end()),
                  (std::vector<std::string>{"9/6", "1/4", "9/6", "1/18"}));
        const SitePrefs prefs(link.sim());
        ASSERT_EQ(prefs.fields.size(), 1u);
        const rapidjson::Value& f = *prefs.fields[0];
        EXPECT_EQ(f["uiLanguage"].GetUint(), c.requestLanguage);
        // "Office" keeps its gateways in its list, its address field empty: no login
        // yet, so the list's last gateway is named, and the list alone is offered.
        EXPECT_EQ(Text(f["acGateway"]), "192.0.2.11:443");
        EXPECT_EQ(f["uiAutoBest"].GetUint(), 1u);
        EXPECT_EQ(f["uiGatewayNum"].GetUint(), 2u);
        EXPECT_EQ(f["uiDefaultGateway"].GetUint(), 0u);
        const char* const addresses[] = {"192.0.2.10", "192.0.2.11", "", ""};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Text(f["astGateway"][i]["acAddress"]), addresses[i]) << i;
            EXPECT_EQ(f["astGateway"][i]["uiPort"].GetUint(), i < 2 ? 443u : 0u) << i;
        }
        const UIGATEWAY_INFO_S* best = UIContext::GetInstance()->GetBestGateWay();
        EXPECT_STREQ(best->acAddress, "192.0.2.11");
        EXPECT_EQ(best->uiPort, 443u);
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 0);
        EXPECT_TRUE(UIContext::GetInstance()->GetLatestVersion());
        driver.Clear();
    }
}

// After Escape a new Connect, from the button or the tray, opens a new view; the old ones
// stay hidden children. While a view is open, Connect only logs.
TEST_F(LoginLaunchTest, EscapeLetsTheNextConnectOpenANewViewAndAnOpenViewRefusesASecond) {
    ui_test::SimLink link(kOffice);
    auto window = Build(link);
    window->show();
    LookThenEscape([&](LoginKeyUI*) {
        const size_t refused = ui_test::LogCount("[main ui ][Do not open repeatedly]");
        const size_t asked = SitePrefs(link.sim()).fields.size();
        EXPECT_FALSE(ConnectAction(*window)->isEnabled()) << "the tray entry is off";
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(ui_test::LogCount("[main ui ][Do not open repeatedly]"), refused + 1);
        EXPECT_EQ(SitePrefs(link.sim()).fields.size(), asked);
    });
    window->findChild<QPushButton*>("pb_connect")->click();
    LookThenEscape([](LoginKeyUI*) {});
    ASSERT_TRUE(ConnectAction(*window)->isEnabled());
    ConnectAction(*window)->trigger();
    LookThenEscape([](LoginKeyUI*) {});
    window->findChild<QPushButton*>("pb_connect")->click();
    ASSERT_EQ(driver.Seen().size(), 3u);
    const QList<LoginKeyUI*> views = window->findChildren<LoginKeyUI*>();
    EXPECT_EQ(views.size(), 3);
    for (LoginKeyUI* view : views) {
        EXPECT_FALSE(view->isVisible());
    }
    EXPECT_EQ(SitePrefs(link.sim()).fields.size(), 3u);
    EXPECT_TRUE(ConnectAction(*window)->isEnabled());
}

// The gateway's authentication type, stored from the launch's own request, picks the page.
TEST_F(LoginLaunchTest, TheGatewaysAuthenticationTypePicksThePage) {
    struct Case {
        int authType;
        int page;
        const char* list;  // the certificate box filled, or null
    } cases[] = {{0, 0, nullptr}, {2, 1, "USBKeyList"}, {1, 2, "cb_CertificateList_2"}, {7, 1, nullptr}};
    for (const Case& c : cases) {
        ui_test::SimLink link(std::string(kOffice) + R"(, "engine": {"authType": )" +
                              std::to_string(c.authType) + "}");
        auto window = Build(link);
        LookThenEscape([&](LoginKeyUI* view) {
            EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), c.page)
                << c.authType;
            if (c.list != nullptr) {
                auto* box = Find<QComboBox>(view, c.list);
                ASSERT_EQ(box->count(), 1) << c.list;
                EXPECT_EQ(box->itemText(0), QString("alice@example"));
            }
        });
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), c.authType);
        const std::vector<std::string> codes = RequestCodes(link.sim().Log());
        EXPECT_EQ(std::count(codes.begin(), codes.end(), "3/15"), c.list != nullptr ? 1 : 0)
            << c.authType;
        driver.Clear();
    }
}

// The version check before the view: a newer client on the gateway brings the update
// question (a browser can refuse the update with "-nu"); declined, the login goes on with
// the gateway's authentication type stored and the tray at rest.
TEST_F(LoginLaunchTest, VersionCheckLetsTheLoginGoOn) {
    struct Case {
        const char* versionMS;
        int pluginMode;
        const char* update;
        bool due;
    } cases[] = {{"0x00070000", 0, "", false},
                 {"0x00080000", 0, "", true},
                 {"0x00080000", 1, "-nu", false},
                 {"0x00080000", 1, "", true}};
    // Room for the package, whatever this machine's /tmp holds: the question comes only
    // then.
    uiDiskFreeMiBSet([](const char*, uint64_t* mib) {
        *mib = 1000;
        return 0u;
    });
    for (const Case& c : cases) {
        ui_test::SimLink link(std::string(kOffice) + R"(, "engine": {"authType": 2, "versionMS": ")" +
                              c.versionMS + "\"}");
        auto window = Build(link);
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        std::snprintf(UIContext::GetInstance()->GetPluginInfo()->acUpdate,
                      sizeof(UIPLUGIN_INFO_S::acUpdate), "%s", c.update);
        std::snprintf(UIContext::GetInstance()->GetPluginInfo()->acLoginAddr,
                      sizeof(UIPLUGIN_INFO_S::acLoginAddr), "%s", "192.0.2.10:443");
        if (c.due) {
            driver.Answer(KeyText("/UI_DOWNLOAD/UI_DOWNLOAD_CANCLE"));
        }
        if (c.pluginMode == 0) {
            LookThenEscape([](LoginKeyUI*) {});
        }
        window->MainUI_LoginKey_Show();
        const auto questions = std::count_if(driver.Seen().begin(), driver.Seen().end(),
                                             [](const vt_qt_test::SeenBox& seen) {
                                                 return seen.className == "Dialog";
                                             });
        EXPECT_EQ(questions, c.due ? 1 : 0) << c.versionMS << " " << c.update;
        EXPECT_EQ(UIContext::GetInstance()->GetLatestVersion(), !c.due);
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 2);
        EXPECT_EQ(window->findChildren<LoginKeyUI*>().size(), 1) << "the view opens all the same";
        UIContext::GetInstance()->SetPluginMode(0);
        std::memset(UIContext::GetInstance()->GetPluginInfo()->acUpdate, 0, sizeof(UIPLUGIN_INFO_S::acUpdate));
        driver.Clear();
    }
    uiDiskFreeMiBSet(nullptr);
}

// ---- The gateway text and the best-gateway block ------------------------------------

// The last login's gateway wins while the profile still has it; then the profile's own
// address, then its last listed gateway. Addresses past a 16-entry list are never read.
TEST_F(LoginLaunchTest, GatewayTextFromTheLastLoginAndTheProfile) {
    const std::string three = R"("uiGatewayNum": 3, )" + Entries(3);
    struct Case {
        const char* name;
        std::string fields;
        const char* last;
        const char* sent;
    } cases[] = {
        {"Own", R"("acGatewayAddress": "10.0.1.1", "uiPort": 1001, )" + three, "10.0.1.1:1001",
         "10.0.1.1:1001"},
        {"Third", R"("acGatewayAddress": "192.0.2.30", "uiPort": 443, )" + three, "10.0.2.1:1002",
         "10.0.2.1:1002"},
        {"Gone", R"("acGatewayAddress": "192.0.2.30", "uiPort": 443, )" + three, "10.9.9.9:1",
         "192.0.2.30:443"},
        {"GoneNoAddress", three, "10.9.9.9:1", "10.0.2.1:1002"},
        {"NoLast", three, "", "10.0.2.1:1002"},
        {"Empty", "", "10.9.9.9:1", ""},
        {"Seventeen", R"("uiGatewayNum": 17, )" + Entries(16), "10.9.9.9:1", "10.0.15.1:1015"},
        {"Huge", R"("uiGatewayNum": "0xFFFFFFFF", )" + Entries(16), "10.9.9.9:1", "10.0.15.1:1015"},
    };
    std::string profiles;
    for (const Case& c : cases) {
        profiles += (profiles.empty() ? "" : ",") +
                    Profile(std::string(c.name) + ".ini", c.fields,
                            std::string(R"("LastLoginAddr": ")") + c.last + "\"");
    }
    ui_test::SimLink link(R"("profiles": [)" + profiles + "]");
    auto window = Build(link);
    for (const Case& c : cases) {
        Choose(c.name, 1);
        UISSL_FIRST_CONN request = {};
        window->GetRuningMode_Manual(&request);
        EXPECT_STREQ(request.acGateway, c.sent) << c.name;
        UISSL_FIRST_CONN zero = {};
        EXPECT_EQ(std::memcmp(&request.stAutoBestNeed, &zero.stAutoBestNeed, sizeof(zero.stAutoBestNeed)), 0)
            << "the gateway step writes the text only";
    }
    window->GetRuningMode_Manual(nullptr);
    EXPECT_EQ(ui_test::LogCount("[GetRuningMode_Manual the input parameter sslFirstConn is empty]"), 1u);
}

// The block holds the profile's list, then its own address; it has room for 16 entries,
// and what does not fit is left out, with a warning in the log.
TEST_F(LoginLaunchTest, BestGatewayBlockHoldsAtMostSixteenEntries) {
    const std::string address = R"("acGatewayAddress": "192.0.2.30", "uiPort": 443, "uiDelay": 9, )";
    struct Case {
        const char* name;
        std::string fields;
        uint32_t count;
        const char* lastAddress;  // the last entry sent
        bool warned;
    } cases[] = {
        {"Four", address + R"("uiGatewayNum": 3, "uiDefaultGateway": 2, )" + Entries(3), 4,
         "192.0.2.30", false},
        {"Full", address + R"("uiGatewayNum": 16, )" + Entries(16), 16, "10.0.15.1", true},
        {"Seventeen", R"("uiGatewayNum": 17, )" + Entries(16), 16, "10.0.15.1", true},
        {"Huge", R"("uiGatewayNum": "0xFFFFFFFF", )" + Entries(16), 16, "10.0.15.1", true},
    };
    std::string profiles;
    for (const Case& c : cases) {
        profiles += (profiles.empty() ? "" : ",") + Profile(std::string(c.name) + ".ini", c.fields);
    }
    ui_test::SimLink link(R"("profiles": [)" + profiles + "]");
    auto window = Build(link);
    for (const Case& c : cases) {
        Choose(c.name, 1);
        const size_t warnings = ui_test::LogCount("[main ui ][gateway entries dropped]");
        LookThenEscape([](LoginKeyUI*) {});
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(ui_test::LogCount("[main ui ][gateway entries dropped]") - warnings,
                  c.warned ? 1u : 0u)
            << c.name;
        const SitePrefs prefs(link.sim());
        ASSERT_FALSE(prefs.fields.empty());
        const rapidjson::Value& f = *prefs.fields.back();
        EXPECT_EQ(f["uiGatewayNum"].GetUint(), c.count) << c.name;
        EXPECT_EQ(Text(f["astGateway"][c.count - 1]["acAddress"]), c.lastAddress) << c.name;
        EXPECT_EQ(Text(f["astGateway"][0]["acAddress"]), "10.0.0.1") << c.name;
        if (std::string(c.name) == "Four") {
            EXPECT_EQ(f["astGateway"][3]["uiPort"].GetUint(), 443u);
            EXPECT_EQ(f["astGateway"][3]["uiDelay"].GetUint(), 9u) << "the profile's delay";
            EXPECT_EQ(f["astGateway"][3]["uiFlag"].GetUint(), 0u);
            EXPECT_EQ(f["uiDefaultGateway"].GetUint(), 2u);
            EXPECT_EQ(f["uiAutoBest"].GetUint(), 0u);
        }
    }
    EXPECT_EQ(ui_test::LogCount("[AutoBest enable is  0"), 4u);
    EXPECT_GE(ui_test::LogCount("[BestNum is  16"), 3u);
}

// ---- The session ---------------------------------------------------------------------

TEST_F(LoginLaunchTest, SessionFillsTheViewOrLogsInWithoutIt) {
    struct Case {
        const char* session;
        bool shown;
        const char* user;
        const char* password;
        bool save, automatic;
    } cases[] = {
        {R"("RemPwd": 1, "UserName": "alice", "Password": "Passw0rd")", true, "alice", "******", true, false},
        {R"("RemPwd": 0, "AutoLogin": 1, "UserName": "alice", "Password": "Passw0rd")", true, "", "", true,
         true},
        {R"("RemPwd": 1, "AutoLogin": 1, "UserName": "alice", "Password": "Passw0rd")", false, "", "", false,
         false},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(std::string(kOffice) + R"(, "profiles": [)" +
                              Profile("Office.ini", R"("uiAutoBest": 1, "acGatewayAddress": "192.0.2.10", "uiPort": 443)",
                                      c.session) +
                              "]");
        auto window = Build(link);
        if (c.shown) {
            LookThenEscape([&](LoginKeyUI* view) {
                EXPECT_EQ(Find<QLineEdit>(view, "le_username")->text(), QString(c.user));
                EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString(c.password));
                EXPECT_EQ(Find<QCheckBox>(view, "cb_savePass")->isChecked(), c.save);
                EXPECT_EQ(Find<QCheckBox>(view, "cb_autoLogin")->isChecked(), c.automatic);
            });
        }
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(driver.Seen().size(), c.shown ? 1u : 0u) << c.session;
        const std::vector<std::string> codes = RequestCodes(link.sim().Log());
        EXPECT_EQ(std::count(codes.begin(), codes.end(), "3/5"), c.shown ? 0 : 1) << c.session;
        ASSERT_EQ(window->findChildren<LoginKeyUI*>().size(), 1);
        EXPECT_FALSE(window->findChildren<LoginKeyUI*>().at(0)->isVisible());
        driver.Clear();
    }
}

// A launch that finds no session entry for its view opens none; the next Connect must
// still be able to start one.
TEST_F(LoginLaunchTest, NoSessionEntryLeavesConnectUsable) {
    ui_test::SimLink link(kOffice);
    auto window = Build(link);
    CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession("Office.ini");
    ASSERT_NE(session, nullptr);
    std::memset(session->ProfileName, 0, sizeof(session->ProfileName));
    const QString missing = KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL");
    for (int launch = 0; launch < 2; ++launch) {
        driver.Clear();
        driver.Answer("OK");  // the gateway step's warning
        driver.Answer("OK");  // the view's own
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 2u) << "launch " << launch;
        EXPECT_EQ(driver.Seen()[0].text, missing);
        EXPECT_EQ(driver.Seen()[1].text, missing);
        EXPECT_TRUE(ConnectAction(*window)->isEnabled()) << "launch " << launch;
    }
    EXPECT_EQ(SitePrefs(link.sim()).fields.size(), 2u);
    EXPECT_EQ(ui_test::LogCount("[main ui ][Do not open repeatedly]"), 0u);
    EXPECT_EQ(Text((*SitePrefs(link.sim()).fields[0])["acGateway"]), "");
}

// ---- Refusals ------------------------------------------------------------------------

TEST_F(LoginLaunchTest, RefusalsOnTheWay) {
    // The profile is refused at every read: the window's warning, the view's, and a view
    // with an empty drop-down whose login button does nothing.
    {
        ui_test::SimLink link(std::string(kOffice) +
                              R"(, "scripts": [{"msgType": 9, "code": 6, "replies": [{"code": "0xD000C", "repeat": true}]}])");
        auto window = Build(link);
        driver.Answer("OK");
        driver.Answer("OK");
        LookThenEscape([&](LoginKeyUI* view) {
            EXPECT_EQ(Find<QComboBox>(view, "cb_ipAddress")->count(), 0);
            // A wired button would at least refuse the empty fields with a box.
            const size_t requests = link.sim().Log().size();
            const size_t boxes = driver.Seen().size();
            Find<QPushButton>(view, "pb_login_SSL")->click();
            EXPECT_EQ(link.sim().Log().size(), requests);
            EXPECT_EQ(driver.Seen().size(), boxes);
            EXPECT_TRUE(view->isVisible());
        });
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 3u);
        const QString refused = KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_READ_SSL_FAIL");
        EXPECT_FALSE(refused.isEmpty());
        EXPECT_EQ(driver.Seen()[0].text, refused);
        EXPECT_EQ(driver.Seen()[1].text, refused);
        EXPECT_EQ(Text((*SitePrefs(link.sim()).fields[0])["acGateway"]), "");
        driver.Clear();
    }
    // The site preference refused or unanswered: its text, no view, no best gateway.
    struct Case {
        const char* reply;
        const char* key;  // null: the common no-answer text
    } cases[] = {
        {R"({"code": "0x1000C"})", "/RETURN_PREF_MSGCODE/PREF_MSGCODE_PROXY_NEED_AUTH_ERROR"},
        {R"({"code": "0x10001"})", "/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_FAIL"},
        {R"({"noReply": true})", nullptr},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(std::string(kOffice) + R"(, "scripts": [{"msgType": 1, "code": 4, "replies": [)" +
                              c.reply + "]}]");
        auto window = Build(link);
        UIGATEWAY_INFO_S stale = {};
        std::strcpy(stale.acAddress, "192.0.2.99");
        stale.uiPort = 1;
        UIContext::GetInstance()->SetBestGateWay(&stale);
        uiSyncTimeoutDivisorSet(c.key == nullptr ? 200 : 1);
        driver.Answer("OK");
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 1u) << c.reply;
        EXPECT_EQ(driver.Seen()[0].text,
                  c.key != nullptr ? KeyText(c.key)
                                   : LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
        EXPECT_TRUE(window->findChildren<LoginKeyUI*>().isEmpty()) << c.reply;
        const UIGATEWAY_INFO_S zero = {};
        EXPECT_EQ(std::memcmp(UIContext::GetInstance()->GetBestGateWay(), &zero, sizeof(zero)), 0);
        EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 0);
        EXPECT_TRUE(ConnectAction(*window)->isEnabled());
        uiSyncTimeoutDivisorSet(1);
        driver.Clear();
    }
}

// A GM flag the editor never stores: one information box, and the request still goes,
// with no gateway text.
TEST_F(LoginLaunchTest, AnInvalidGmFlagIsShownOnceAndTheLaunchGoesOn) {
    ui_test::SimLink link(std::string(kOffice) + R"(, "profiles": [)" +
                          Profile("Office.ini", R"("uiGmAlgorithm": 2, "uiAutoBest": 1, "acGatewayAddress": "192.0.2.10", "uiPort": 443)") +
                          "]");
    auto window = Build(link);
    driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
    LookThenEscape([](LoginKeyUI*) {});
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[0].className, QString("QMessageBox"));
    EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(QMessageBox::Information));
    EXPECT_TRUE(driver.Seen()[0].title.isEmpty());
    EXPECT_EQ(driver.Seen()[0].text, KeyText("/UI_PROFILEINFO/UI_PROFILEINFO_GMALGORITHM_CONFIGFILE"));
    EXPECT_EQ(driver.Seen()[0].buttons, QStringList{LanguageSetting::GetInstance()->GetGlobalLang().OK});
    EXPECT_TRUE(driver.Seen()[0].hasParent);
    const SitePrefs prefs(link.sim());
    ASSERT_EQ(prefs.fields.size(), 1u);
    EXPECT_EQ(Text((*prefs.fields[0])["acGateway"]), "");
}

// An L2TP/IPSec profile that asks for certificates: the box, no view, Connect usable.
// Without a connection chosen: the box naming that, and the idle look.
TEST_F(LoginLaunchTest, ConnectionsTheLaunchCannotServe) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Branch.ini"}, "profiles": [
        {"name": "Branch.ini", "linkType": 2, "fields": {"uiIpsecEnable": 1, "uiAuthMethod": 3}}])");
    auto window = Build(link);
    ASSERT_EQ(UIContext::GetInstance()->GetLinkType(), 2);
    driver.Answer("OK");
    ConnectAction(*window)->trigger();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text, KeyText("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_NO_CERT"));
    EXPECT_TRUE(ConnectAction(*window)->isEnabled());
    for (LoginKeyIPSECUI* view : window->findChildren<LoginKeyIPSECUI*>()) {
        EXPECT_FALSE(view->isVisible());
    }
    EXPECT_TRUE(SitePrefs(link.sim()).fields.empty());

    Choose("", 0);
    driver.Answer("OK");
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].text, KeyText("/UI_MAIN/UI_MAIN_NO_AVAILABLE_CONNECTION"));
    EXPECT_TRUE(window->findChild<QPushButton*>("pb_connect")->isVisibleTo(window.get()));
}

// ---- A browser's login ---------------------------------------------------------------

// The browser names the gateway; the view stays hidden and runs every queued login.
TEST_F(LoginLaunchTest, PluginModeHandsTheQueuedLoginsToAHiddenView) {
    struct Case {
        std::string host;
        std::string sentAddress;  // a host that leaves no room for the field's end is not sent
    } cases[] = {{"vpn.example.com", "vpn.example.com"},
                 {std::string(127, 'h'), std::string(127, 'h')},
                 {std::string(128, 'h'), ""}};
    ui_test::SimLink link;
    auto window = Build(link);
    UIContext::GetInstance()->SetPluginMode(1);
    Choose("Office", 1);
    UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
    for (const Case& c : cases) {
        const std::string login = c.host + ":8443";
        std::snprintf(info->acLoginAddr, sizeof(info->acLoginAddr), "%s", login.c_str());
        window->MainUI_PluginEventQueue_Set({1, 3, 1});
        QSignalSpy logins(window.get(), &MainUI::signal_DoLogin);
        const size_t relayed = ui_test::LogCount("[Loginkey ui plugin login][into loginkey ui plugin login]");
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(logins.count(), 2) << c.host.size();
        if (&c == &cases[0]) {
            // (The views stay, and every plugin view listens to the window's signal.)
            EXPECT_EQ(ui_test::LogCount("[Loginkey ui plugin login][into loginkey ui plugin login]") - relayed,
                      2u);
        }
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_Plugin_ReadEventQueue"));
        EXPECT_EQ(logins.count(), 2) << "the queue is empty";
        EXPECT_TRUE(driver.Seen().empty());
        for (LoginKeyUI* view : window->findChildren<LoginKeyUI*>()) {
            EXPECT_FALSE(view->isVisible());
        }
        const SitePrefs prefs(link.sim());
        ASSERT_FALSE(prefs.fields.empty());
        const rapidjson::Value& f = *prefs.fields.back();
        EXPECT_EQ(Text(f["acGateway"]), login);
        EXPECT_EQ(f["uiAutoBest"].GetUint(), 1u);
        EXPECT_EQ(f["uiGatewayNum"].GetUint(), 1u);
        EXPECT_EQ(f["uiDefaultGateway"].GetUint(), 0u);
        EXPECT_EQ(Text(f["astGateway"][0]["acAddress"]), c.sentAddress) << c.host.size();
        EXPECT_EQ(f["astGateway"][0]["uiPort"].GetUint(), 8443u);
        EXPECT_EQ(f["astGateway"][0]["uiDelay"].GetUint(), 0u);
        EXPECT_EQ(Text(f["astGateway"][1]["acAddress"]), "");
        // The plugin's view reports itself gone with the launch's end, as a closed one.
        QMetaObject::invokeMethod(window.get(), "MainUI_SetLoginkeyUIExist");
    }
}

// ---- Looks and view state ------------------------------------------------------------

TEST_F(LoginLaunchTest, WindowLooksAndTheViewStateTheTrayFollows) {
    ui_test::SimLink link(kOffice);
    auto window = Build(link);
    window->show();
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    auto* connectButton = window->findChild<QPushButton*>("pb_connect");
    auto* disconnectButton = window->findChild<QPushButton*>("pb_disConnect");

    UIContext::GetInstance()->SetLogined(true);
    UIContext::GetInstance()->SetConnectName(QStringLiteral("elsewhere"));
    window->Connection_GetLoginReturn_Update();
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_TRUE(connectButton->isHidden());
    EXPECT_FALSE(disconnectButton->isHidden());
    EXPECT_FALSE(window->isVisible()) << "the tray is the way back";
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("Office"));
    EXPECT_FALSE(ConnectAction(*window)->isEnabled());
    EXPECT_TRUE(DisconnectAction(*window)->isEnabled());
    EXPECT_EQ(ui_test::LogCount("[Main ui Connection_GetLoginReturn_Update][GetLogined]"), 1u);

    UIContext::GetInstance()->SetLogined(false);
    window->Connection_GetLoginReturn_Update();
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_FALSE(connectButton->isHidden());
    EXPECT_TRUE(disconnectButton->isHidden());
    EXPECT_FALSE(window->isVisible()) << "the idle look leaves the window as it is";
    EXPECT_TRUE(ConnectAction(*window)->isEnabled());
    EXPECT_FALSE(DisconnectAction(*window)->isEnabled());
    EXPECT_EQ(ui_test::LogCount("[Main ui Connection_GetLoginReturn_Update][failed Login]"), 1u);

    // A view that opens does not refresh the tray; the next refresh sees it; its going
    // refreshes at once.
    struct Case {
        const char* open;
        const char* gone;
        const char* openLine;
        const char* goneLine;
    } cases[] = {
        {"MainUI_SetLoginkeyUIInit", "MainUI_SetLoginkeyUIExist",
         "[Main ui plugin set login key ui][login key ui init]",
         "[Main ui plugin set login key ui][login key ui closed]"},
        {"MainUI_SetLoginKeyIPSECUIInit", "MainUI_SetLoginKeyIPSECUIExist",
         "[Main ui plugin set LoginKey IPSEC UI][LoginKeyIPSEC UI init]",
         "[Main ui plugin set LoginKey IPSEC UI][LoginKeyIPSEC UI closed]"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), c.open));
        EXPECT_EQ(ui_test::LogCount(c.openLine), 1u);
        EXPECT_TRUE(ConnectAction(*window)->isEnabled()) << c.open;
        window->Connection_GetLoginReturn_Update();
        EXPECT_FALSE(ConnectAction(*window)->isEnabled()) << c.open;
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), c.gone));
        EXPECT_EQ(ui_test::LogCount(c.goneLine), 1u);
        EXPECT_TRUE(ConnectAction(*window)->isEnabled()) << c.gone;
    }
}

}  // namespace
