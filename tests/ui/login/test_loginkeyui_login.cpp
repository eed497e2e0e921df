// The SSL login as a user runs it: Connect on "Office", the view's fields typed and its
// Login button pressed, against the simulator. What each answer of the gateway leads
// to (requests, boxes, windows, the view's reports to the main window), the request
// and the session entry the login sends, the certificate, token and untrusted-
// certificate roads, the first login with its password change, the expiry notice, and
// the mended faults: a remembered password retried, a link selection without a
// gateway, a first login that may not change its password.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include "bubblingwidget.h"
#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyui.h"
#include "mainui.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
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

// The decoded requests of one type and code, in order; kept with their log.
struct Sent {
    Sent(ui_test::Sim& sim, uint32_t msgType, uint32_t code) : log(sim.Log()) {
        for (const rapidjson::Document& line : log) {
            if (line.HasMember("head") && line["head"]["msgType"].GetUint() == msgType &&
                line["head"]["code"].GetUint() == code) {
                fields.push_back(&line["fields"]);
                hex.push_back(line["hex"].GetString());
            }
        }
    }
    std::vector<rapidjson::Document> log;
    std::vector<const rapidjson::Value*> fields;
    std::vector<std::string> hex;
};

std::string Str(const rapidjson::Value& v) { return v.IsString() ? v.GetString() : "<hex>"; }

QAction* Action(MainUI& window, const QString& prefix) {
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}
QAction* ConnectAction(MainUI& w) { return Action(w, KeyText("/UI_MAIN/UI_MAIN_CONNECT")); }
QAction* DisconnectAction(MainUI& w) { return Action(w, KeyText("/UI_MAIN/UI_MAIN_DISCONNECT")); }
QAction* PwdAction(MainUI& w) { return Action(w, KeyText("/UI_MAIN/UI_MAIN_PWD_CHANGE")); }

// The texts of the notification bubbles on screen; they go with the call.
QStringList TakeBubbles() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* bubble = qobject_cast<BubblingWidget*>(widget)) {
            texts << Find<QLabel>(bubble, "label")->text();
            delete bubble;
        }
    }
    return texts;
}

std::string Cred(const std::string& user, const std::string& outcome,
                 const std::string& extra = "") {
    return R"({"user": ")" + user + R"(", "password": "Passw0rd", "outcome": ")" + outcome +
           "\"" + (extra.empty() ? "" : ", " + extra) + "}";
}

std::string Script(int msgType, int code, const std::string& replies) {
    return R"({"msgType": )" + std::to_string(msgType) + R"(, "code": )" + std::to_string(code) +
           R"(, "replies": [)" + replies + "]}";
}

// "Office" last used; the engine's credentials replaced when given.
std::string Scenario(const std::string& credentials = "", const std::string& scripts = "",
                     const std::string& extra = "") {
    std::string text = R"("config": {"LastAccessSession": "Office.ini"})";
    if (!credentials.empty()) {
        text += R"(, "engine": {"credentials": [)" + credentials + "]}";
    }
    if (!scripts.empty()) {
        text += R"(, "scripts": [)" + scripts + "]";
    }
    return text + extra;
}

const char kInitLine[] = "[Main ui plugin set login key ui][login key ui init]";
const char kFailedLine[] = "[Main ui get login return][ret  is 0]";
const char kSucceededLine[] = "[Main ui get login return][ret  is 1]";

class SslLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetConnectName(QString());
        context->SetLogined(false);
        context->SetAuthType(0);
        context->SetCacheClear(0);
        context->SetFirstLoginModifyPwd(false);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        for (const char* secret : {"Passw0rd", "Newpass1", "123456", "654321", "SIMCOOKIE"}) {
            EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
        }
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        UIContext* context = UIContext::GetInstance();
        context->SetLogined(false);
        context->SetFirstLoginModifyPwd(false);
        context->SetCacheClear(0);
        uiSyncTimeoutDivisorSet(1);
        (void)TakeBubbles();
    }
    // A window as start-up builds it, "Office" chosen; shown unless an automatic login
    // starts hidden.
    std::unique_ptr<MainUI> Build(ui_test::SimLink& link, bool shown = true) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        auto window = std::make_unique<MainUI>(nullptr);
        window->Init();
        if (shown) {
            window->show();
        }
        return window;
    }
    // The next view: before() looks at it or sets it up, then the user name and password
    // are typed (a null text is left alone) and Login is pressed. The requests the
    // launch made are counted then.
    void QueueLogin(ui_test::SimLink& link, const char* user, const char* password,
                    std::function<void(LoginKeyUI*)> before = nullptr) {
        driver.AnswerWith(
            [this, &link, user, password, before](QWidget* box) {
                auto* view = qobject_cast<LoginKeyUI*>(box);
                ASSERT_NE(view, nullptr) << box->metaObject()->className();
                launchRequests = RequestCodes(link.sim().Log()).size();
                if (before) {
                    before(view);
                }
                if (user != nullptr) {
                    ASSERT_TRUE(BoxDriver::TypeInto(view, "le_username", user));
                }
                if (password != nullptr) {
                    ASSERT_TRUE(BoxDriver::TypeInto(view, "le_password", password));
                }
                ASSERT_TRUE(BoxDriver::ClickButton(view, "pb_login_SSL"));
            },
            QStringLiteral("log in"));
    }
    // The requests since the launch's own.
    std::vector<std::string> LoginRequests(ui_test::SimLink& link) const {
        std::vector<std::string> codes = RequestCodes(link.sim().Log());
        codes.erase(codes.begin(), codes.begin() + static_cast<long>(std::min(launchRequests, codes.size())));
        return codes;
    }
    static LoginKeyUI* View(MainUI& window) {
        const QList<LoginKeyUI*> views = window.findChildren<LoginKeyUI*>();
        return views.isEmpty() ? nullptr : views.last();
    }
    // Connected look, as the user sees it.
    static void ExpectConnected(MainUI& window, const std::string& what) {
        EXPECT_TRUE(UIContext::GetInstance()->GetLogined()) << what;
        EXPECT_FALSE(window.isVisible()) << what;
        EXPECT_FALSE(Find<QPushButton>(&window, "pb_disConnect")->isHidden()) << what;
        EXPECT_TRUE(Find<QPushButton>(&window, "pb_connect")->isHidden()) << what;
        EXPECT_FALSE(Find<QComboBox>(&window, "cb_linkname")->isEnabled()) << what;
        EXPECT_TRUE(DisconnectAction(window)->isEnabled()) << what;
        ASSERT_NE(View(window), nullptr);
        EXPECT_FALSE(View(window)->isVisible()) << what;
        EXPECT_EQ(View(window)->result(), QDialog::Accepted) << what;
    }

    BoxDriver driver;
    size_t launchRequests = 0;
};

const std::vector<std::string> kUpTo35 = {"9/3", "9/2", "1/17", "3/5"};

std::vector<std::string> Then(std::vector<std::string> codes, std::vector<std::string> more) {
    codes.insert(codes.end(), more.begin(), more.end());
    return codes;
}

// ---- The request ----------------------------------------------------------------------

// What the password page sends: the session entry (nothing remembered without the
// boxes), the link selection of the automatic best gateway, the request in host order
// with the gateway the service chose, then the tunnel in the profile's mode.
TEST_F(SslLoginTest, PasswordPageSendsSessionLinkSelectionRequestAndTunnel) {
    struct Case {
        uint32_t languageId;
        uint32_t requestLanguage;
        bool save, automatic;
    } cases[] = {{2052, 2, false, false}, {1033, 1, true, false}, {1031, 0, false, true}};
    for (const Case& c : cases) {
        ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini", "LanguageID": )" +
                              std::to_string(c.languageId) + "}");
        auto window = Build(link);
        QueueLogin(link, " alice ", "Passw0rd", [&](LoginKeyUI* view) {
            Find<QCheckBox>(view, "cb_savePass")->setChecked(c.save);
            Find<QCheckBox>(view, "cb_autoLogin")->setChecked(c.automatic);
        });
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 1u) << "no box";
        EXPECT_EQ(LoginRequests(link), Then(kUpTo35, {"5/10"}));

        const bool remembered = c.save || c.automatic;
        const Sent session(link.sim(), 9, 3);
        ASSERT_EQ(session.fields.size(), 1u);
        const rapidjson::Value& s = *session.fields[0];
        EXPECT_EQ(Str(s["ProfileName"]), "Office.ini");
        EXPECT_EQ(s["ConnectionType"].GetUint(), 1u);
        EXPECT_EQ(s["RemPwd"].GetUint(), c.save || c.automatic ? 1u : 0u) << "the box's state";
        EXPECT_EQ(s["AutoLogin"].GetUint(), c.automatic ? 1u : 0u);
        EXPECT_EQ(Str(s["UserName"]), remembered ? " alice " : "") << "untrimmed when kept";
        EXPECT_EQ(Str(s["Password"]), remembered ? "Passw0rd" : "");
        EXPECT_EQ(Str(s["LastLoginAddr"]), "192.0.2.11:443");

        const Sent select(link.sim(), 1, 17);
        ASSERT_EQ(select.fields.size(), 1u);
        EXPECT_EQ((*select.fields[0])["uiEnable"].GetUint(), 1u);
        EXPECT_EQ(Str((*select.fields[0])["acIp"]), "192.0.2.11");
        EXPECT_EQ((*select.fields[0])["uiPort"].GetUint(), 443u);

        const Sent login(link.sim(), 3, 5);
        ASSERT_EQ(login.fields.size(), 1u);
        const rapidjson::Value& f = *login.fields[0];
        EXPECT_EQ(f["uiDeviceCACheck"].GetUint(), 1u) << "the configuration's server check";
        EXPECT_EQ(f["uiAuthType"].GetUint(), 0u);
        EXPECT_EQ(f["uiSavePass"].GetUint(), c.save || c.automatic ? 1u : 0u);
        EXPECT_EQ(f["uiLoginType"].GetUint(), 1u);
        EXPECT_EQ(f["uiLanguage"].GetUint(), c.requestLanguage) << c.languageId;
        EXPECT_EQ(Str(f["acGateway"]), "192.0.2.11:443");
        EXPECT_EQ(Str(f["acUserName"]), "alice") << "trimmed";
        EXPECT_EQ(Str(f["acPassword"]), "Passw0rd");
        EXPECT_EQ(Str(f["acCertName"]), "");
        EXPECT_EQ(Str(f["acProfileName"]), "Office.ini");

        const Sent tunnel(link.sim(), 5, 10);
        ASSERT_EQ(tunnel.fields.size(), 1u);
        EXPECT_EQ((*tunnel.fields[0])["uiTunnelMode"].GetUint(), 2u);
        ExpectConnected(*window, std::to_string(c.languageId));
        EXPECT_EQ(Find<QLineEdit>(View(*window), "le_password")->text().isEmpty(), !remembered)
            << "kept only for a user who remembers it (automatic login checks the box)";
        driver.Clear();
    }
}

// A link selection without the gateway keeps the one the request was built with (it
// used to send ":0"); a reply that names one puts it in.
TEST_F(SslLoginTest, TheGatewayOfTheLinkSelection) {
    struct Case {
        const char* what;
        std::string reply;
        const char* gateway;
    } cases[] = {
        {"the happy engine", "", "192.0.2.11:443"},
        {"another gateway named", R"({"code": "0x10004", "payload": {"record": "LinkSelectInfoReply", "fields": {"uiResult": 1, "acIp": "192.0.2.12", "uiPort": 8443}}})",
         "192.0.2.12:8443"},
        {"success without a payload", R"({"code": "0x10004"})", "192.0.2.11:443"},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario("", c.reply.empty() ? "" : Script(1, 17, c.reply)));
        auto window = Build(link);
        QueueLogin(link, "alice", "Passw0rd");
        window->MainUI_LoginKey_Show();
        const Sent login(link.sim(), 3, 5);
        ASSERT_EQ(login.fields.size(), 1u) << c.what;
        EXPECT_EQ(Str((*login.fields[0])["acGateway"]), c.gateway) << c.what;
        ExpectConnected(*window, c.what);
        driver.Clear();
    }
}

// A remembered password never leaves the session: the untouched placeholder goes out
// as no password at all, and the service logs in with the one it keeps.
TEST_F(SslLoginTest, ARememberedPasswordGoesOutEmpty) {
    ui_test::SimLink link(Scenario(
        "", "",
        R"(, "profiles": [{"name": "Office.ini", "linkType": 1, "fields": {"uiAutoBest": 1, "acGatewayAddress": "192.0.2.10", "uiPort": 443, "uiTunnelMode": 2}, "session": {"RemPwd": 1, "UserName": "alice", "Password": "Passw0rd"}}])"));
    auto window = Build(link);
    QueueLogin(link, nullptr, nullptr, [](LoginKeyUI* view) {
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString("******"));
    });
    window->MainUI_LoginKey_Show();
    const Sent login(link.sim(), 3, 5);
    ASSERT_EQ(login.fields.size(), 1u);
    EXPECT_EQ(Str((*login.fields[0])["acUserName"]), "alice");
    // The whole field zero: 24 bytes of head, the password at 1684, 128 bytes.
    EXPECT_EQ(login.hex[0].substr(2 * (24 + 1684), 2 * 128), std::string(256, '0'));
    const Sent session(link.sim(), 9, 3);
    ASSERT_EQ(session.fields.size(), 1u);
    EXPECT_EQ(Str((*session.fields[0])["Password"]), "");
    EXPECT_EQ(Str((*session.fields[0])["UserName"]), "alice");
    ExpectConnected(*window, "remembered password");
    EXPECT_EQ(Find<QLineEdit>(View(*window), "le_password")->text(), QString(""));
}

// A failed attempt puts the placeholder back for a user who remembers the password: a
// retry that leaves it untouched sends no password, not the placeholder, and the
// session keeps the password it has.
TEST_F(SslLoginTest, RetryOnThePlaceholderSendsNoPassword) {
    ui_test::SimLink link(Scenario("", Script(3, 5, R"({"code": "0x30001"})")));
    auto window = Build(link);
    QueueLogin(link, "alice", "Passw0rd", [](LoginKeyUI* view) {
        Find<QCheckBox>(view, "cb_savePass")->setChecked(true);
    });
    driver.Answer("OK");
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].text, KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_FAIL"));
    LoginKeyUI* view = View(*window);
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString("******"));

    ASSERT_TRUE(BoxDriver::ClickButton(view, "pb_login_SSL"));
    const Sent login(link.sim(), 3, 5);
    ASSERT_EQ(login.fields.size(), 2u);
    EXPECT_EQ(Str((*login.fields[0])["acPassword"]), "Passw0rd");
    EXPECT_EQ(Str((*login.fields[1])["acPassword"]), "") << "not the placeholder";
    const Sent session(link.sim(), 9, 3);
    ASSERT_EQ(session.fields.size(), 2u);
    EXPECT_EQ(Str((*session.fields[1])["Password"]), "");
    ExpectConnected(*window, "retry");
}

// Nothing goes out while a field of the page is empty. A login the window started
// without the view (automatic login) brings the window and the view back to complete
// it; in a view on screen the box is all.
TEST_F(SslLoginTest, EmptyFieldsAreRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* what;
        const char* session;
        bool automatic;
    } cases[] = {
        {"in the view", R"("RemPwd": 0, "UserName": "alice")", false},
        {"automatic login", R"("RemPwd": 1, "AutoLogin": 1, "UserName": "alice")", true},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario(
            "", "",
            std::string(R"(, "profiles": [{"name": "Office.ini", "linkType": 1, "fields": {"uiAutoBest": 1, "acGatewayAddress": "192.0.2.10", "uiPort": 443}, "session": {)") +
                c.session + "}}]"));
        auto window = Build(link, !c.automatic);
        const size_t inits = ui_test::LogCount(kInitLine);
        if (!c.automatic) {
            driver.AnswerWith(
                [&](QWidget* view) {
                    ASSERT_TRUE(BoxDriver::TypeInto(view, "le_username", "  "));
                    ASSERT_TRUE(BoxDriver::TypeInto(view, "le_password", "Passw0rd"));
                    ASSERT_TRUE(BoxDriver::ClickButton(view, "pb_login_SSL"));
                    EXPECT_TRUE(view->isVisible()) << "the view stays as it is";
                    BoxDriver::Respond(view, BoxDriver::kEscape);
                },
                QStringLiteral("blank name, then Escape"));
        }
        driver.Answer("OK");
        window->MainUI_LoginKey_Show();
        const std::vector<vt_qt_test::SeenBox>& seen = driver.Seen();
        ASSERT_EQ(seen.size(), c.automatic ? 1u : 2u) << c.what;
        EXPECT_EQ(seen.back().text, KeyText("/UI_LOGINKEY/UI_LOGINKEY_USERPWD_EMPTY"));
        EXPECT_EQ(seen.back().icon, QMessageBox::Critical);
        for (const std::string& code : RequestCodes(link.sim().Log())) {
            EXPECT_TRUE(code != "9/3" && code != "1/17" && code != "3/5") << c.what << ": " << code;
        }
        EXPECT_TRUE(window->isVisible()) << c.what;
        EXPECT_EQ(View(*window)->isVisible(), c.automatic) << c.what << ": left with Escape, or back";
        EXPECT_EQ(ui_test::LogCount(kInitLine) - inits, c.automatic ? 1u : 0u) << c.what;
        driver.Clear();
    }
}

// ---- Every answer --------------------------------------------------------------------

// What each answer leads to: the requests after the launch's, the boxes, whether the
// window and the view come back, and what the view reports to the main window.
TEST_F(SslLoginTest, EveryAnswerOfTheLogin) {
    struct Box {
        const char* key;
        int icon;
    };
    const int kWarn = QMessageBox::Warning;
    const int kCrit = QMessageBox::Critical;
    struct Case {
        const char* what;
        std::string scenario;
        const char* user;
        bool save;
        std::vector<Box> boxes;
        std::vector<std::string> sent;
        bool back;      // the window and the view are shown again
        int inits;      // reports that the view is back
        int failed;     // reports of a failed login
        int succeeded;  // reports of a successful login
        const char* password;  // the password field afterwards
        uint32_t divisor;
    } cases[] = {
        {"wrong password", "", "erin", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR", kWarn}}, kUpTo35, true, 1, 1, 0,
         "", 1},
        {"wrong password, remembered", "", "erin", true,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR", kWarn}}, kUpTo35, true, 1, 1, 0,
         "******", 1},
        {"locked", "", "dave", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERLOCKED_ERROR", kWarn}}, kUpTo35, true, 1, 1, 0,
         "", 1},
        {"certificate error", Scenario(Cred("gina", "certError")), "gina", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USER_CERT_ERROR", kWarn}}, kUpTo35, true, 0, 0, 0,
         "Passw0rd", 1},
        {"device rejected", Scenario(Cred("gina", "deviceReject")), "gina", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_DEVICEREJECT_ERROR", kWarn}}, kUpTo35, true, 0, 0,
         0, "Passw0rd", 1},
        {"expired, strong", Scenario(Cred("gina", "expireStrong")), "gina", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USEREXPIRESTRONG_ERROR", kWarn}},
         Then(kUpTo35, {"3/8"}), false, 0, 0, 0, nullptr, 1},
        {"expired, weak", Scenario(Cred("gina", "expireWeak")), "gina", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USEREXPIREWEAK_ERROR", kWarn}},
         Then(kUpTo35, {"3/8"}), false, 0, 0, 0, nullptr, 1},
        {"first login that may not change the password",
         Scenario(Cred("bob", "firstLogin", R"("modifyPwd": 0)")), "bob", false,
         {{"/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USER_FIRST_LOGIN_ERROR", kWarn}},
         Then(kUpTo35, {"3/8"}), true, 1, 1, 0, nullptr, 1},
        {"link selection refused", Scenario("", Script(1, 17, R"({"code": "0x10005"})")), "alice",
         false, {{"/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_FAIL", kWarn}}, {"9/3", "9/2", "1/17"},
         false, 0, 0, 0, nullptr, 1},
        {"link selection unanswered", Scenario("", Script(1, 17, R"({"noReply": true})")), "alice",
         false, {{"/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_FAIL", kWarn}}, {"9/3", "9/2", "1/17"},
         false, 0, 0, 0, nullptr, 200},
        {"login unanswered", Scenario("", Script(3, 5, R"({"noReply": true})")), "alice", false,
         {{"/GLOBAL/OVERTIMEERROR", kWarn}}, kUpTo35, true, 1, 0, 0, nullptr, 200},
        {"host check value 2", Scenario(Cred("alice", "success", R"("hostCheck": 2)")), "alice",
         false, {}, Then(kUpTo35, {"3/8"}), true, 1, 1, 0, nullptr, 1},
        {"host check refused",
         Scenario(Cred("alice", "success", R"("hostCheck": 1)"), Script(8, 12, R"({"code": "0x50001"})")),
         "alice", false, {{"/RETURN_EPS_MSGCODE/EPS_MSGCODE_HOSTCHECK_FAIL", kWarn}},
         Then(kUpTo35, {"8/12", "3/8"}), true, 1, 1, 0, nullptr, 1},
        {"host check passed", Scenario(Cred("alice", "success", R"("hostCheck": 1)")), "alice", false,
         {}, Then(kUpTo35, {"8/12", "5/10"}), false, 0, 0, 1, "", 1},
        {"cache cleared", Scenario(Cred("alice", "success", R"("cacheClear": 1)")), "alice", false,
         {}, Then(kUpTo35, {"8/13", "5/10"}), false, 0, 0, 1, "", 1},
        {"cache clear refused",
         Scenario(Cred("alice", "success", R"("cacheClear": 1)"), Script(8, 13, R"({"code": "0x50003"})")),
         "alice", false, {}, Then(kUpTo35, {"8/13", "5/10"}), false, 0, 0, 1, "", 1},
        {"tunnel refused", Scenario("", Script(5, 10, R"({"code": "0x70001"})")), "alice", false,
         {{"/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_START_FAIL", kWarn}}, Then(kUpTo35, {"5/10", "3/8"}),
         true, 1, 1, 0, nullptr, 1},
        {"tunnel unanswered", Scenario("", Script(5, 10, R"({"noReply": true})")), "alice", false,
         {{"/GLOBAL/OVERTIMEERROR", kCrit}}, Then(kUpTo35, {"5/10"}), false, 0, 0, 0, nullptr, 200},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(c.scenario.empty() ? Scenario() : c.scenario);
        auto window = Build(link);
        const size_t inits = ui_test::LogCount(kInitLine);
        const size_t failed = ui_test::LogCount(kFailedLine);
        const size_t succeeded = ui_test::LogCount(kSucceededLine);
        QueueLogin(link, c.user, "Passw0rd", [&](LoginKeyUI* view) {
            Find<QCheckBox>(view, "cb_savePass")->setChecked(c.save);
            uiSyncTimeoutDivisorSet(c.divisor);
        });
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            driver.Answer("OK");
        }
        window->MainUI_LoginKey_Show();
        uiSyncTimeoutDivisorSet(1);

        ASSERT_EQ(driver.Seen().size(), 1 + c.boxes.size()) << c.what;
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            const vt_qt_test::SeenBox& box = driver.Seen()[1 + i];
            EXPECT_FALSE(KeyText(c.boxes[i].key).isEmpty()) << c.boxes[i].key;
            EXPECT_EQ(box.text, KeyText(c.boxes[i].key)) << c.what;
            EXPECT_EQ(box.icon, c.boxes[i].icon) << c.what;
        }
        EXPECT_EQ(LoginRequests(link), c.sent) << c.what;
        LoginKeyUI* view = View(*window);
        EXPECT_EQ(window->isVisible(), c.back) << c.what;
        EXPECT_EQ(view->isVisible(), c.back) << c.what;
        EXPECT_EQ(ui_test::LogCount(kInitLine) - inits, static_cast<size_t>(c.inits)) << c.what;
        EXPECT_EQ(ui_test::LogCount(kFailedLine) - failed, static_cast<size_t>(c.failed)) << c.what;
        EXPECT_EQ(ui_test::LogCount(kSucceededLine) - succeeded, static_cast<size_t>(c.succeeded))
            << c.what;
        EXPECT_EQ(UIContext::GetInstance()->GetLogined(), c.succeeded > 0) << c.what;
        if (c.password != nullptr) {
            EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString(c.password)) << c.what;
        }
        UIContext::GetInstance()->SetLogined(false);
        driver.Clear();
    }
}

// The expiry notice follows a started tunnel, only when the gateway lets the password
// be changed and days are left; every "0" of its text is the number of days.
TEST_F(SslLoginTest, ExpiryNotice) {
    struct Case {
        const char* credential;
        QStringList bubbles;
    } cases[] = {
        {R"("alarmNotice": 1, "alarmDays": 7)", {"Your password expires in 7 days. Please change it soon."}},
        {R"("alarmNotice": 1, "alarmDays": 10)", {"Your password expires in 10 days. Please change it soon."}},
        {R"("alarmNotice": 1, "alarmDays": 0)", {}},
        {R"("alarmNotice": 1, "alarmDays": -3)", {}},
        {R"("alarmNotice": 0, "alarmDays": 7)", {}},
        {R"("alarmNotice": 1, "alarmDays": 7, "modifyPwd": 0)", {}},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario(Cred("alice", "success", c.credential)));
        auto window = Build(link);
        (void)TakeBubbles();
        QueueLogin(link, "alice", "Passw0rd");
        window->MainUI_LoginKey_Show();
        EXPECT_EQ(TakeBubbles(), c.bubbles) << c.credential;
        ExpectConnected(*window, c.credential);
        UIContext::GetInstance()->SetLogined(false);
        driver.Clear();
    }
}

// ---- Certificates, token codes, untrusted gateways ------------------------------------

// A certificate login sends the certificate's value, not its shown name, and no user;
// Change password ends as the gateway's report after the tunnel says, also after a
// login by certificate alone.
TEST_F(SslLoginTest, CertificatePages) {
    struct Case {
        int authType;
        const char* page;
        const char* typed;  // certificate password
        uint32_t sentType;
    } cases[] = {{1, "page 2", nullptr, 1}, {2, "page 1", "Passw0rd", 2}};
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario("", "", R"(, "engine": {"authType": )" +
                                                   std::to_string(c.authType) + "}"));
        auto window = Build(link);
        driver.AnswerWith(
            [&](QWidget* box) {
                auto* view = qobject_cast<LoginKeyUI*>(box);
                ASSERT_NE(view, nullptr);
                EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(),
                          c.authType == 1 ? 2 : 1);
                launchRequests = RequestCodes(link.sim().Log()).size();
                if (c.typed != nullptr) {
                    ASSERT_TRUE(BoxDriver::TypeInto(view, "le_cerPassword", c.typed));
                }
                ASSERT_TRUE(BoxDriver::ClickButton(view, "pb_login_SSL"));
            },
            QString::fromLatin1(c.page));
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 1u) << c.page;
        EXPECT_EQ(LoginRequests(link), (std::vector<std::string>{"1/17", "3/5", "5/10"}))
            << c.page << ": no session entry for a certificate";
        const Sent login(link.sim(), 3, 5);
        ASSERT_EQ(login.fields.size(), 1u);
        const rapidjson::Value& f = *login.fields[0];
        EXPECT_EQ(f["uiAuthType"].GetUint(), c.sentType) << c.page;
        EXPECT_EQ(Str(f["acCertName"]), "CERT:alice@example") << c.page;
        EXPECT_EQ(Str(f["acUserName"]), "") << c.page;
        EXPECT_EQ(Str(f["acPassword"]), c.typed ? c.typed : "") << c.page;
        EXPECT_EQ(Str(f["acGateway"]), "192.0.2.11:443") << c.page;
        ExpectConnected(*window, c.page);
        EXPECT_TRUE(PwdAction(*window)->isEnabled()) << c.page;
        UIContext::GetInstance()->SetLogined(false);
        driver.Clear();
    }
}

TEST_F(SslLoginTest, TokenCode) {
    auto typeCode = [](const char* code) {
        return [code](QWidget* box) {
            EXPECT_STREQ(box->metaObject()->className(), "DynamicTokenTodeDialog");
            EXPECT_EQ(box->windowTitle(), KeyText("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_TITLE"));
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_number", code));
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_commit"));
        };
    };
    struct Case {
        const char* what;
        std::function<void(QWidget*)> prompt;
        const char* code;  // sent; null: nothing sent
        const char* box;   // the warning's key; null: none
        bool connected;
    } cases[] = {
        {"right code", typeCode("123456"), "123456", nullptr, true},
        {"wrong code", typeCode("654321"), "654321", "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_FAIL",
         false},
        {"Escape", [](QWidget* box) { BoxDriver::Respond(box, BoxDriver::kEscape); }, nullptr,
         "/UI_LOGINKEY/UI_LOGINKEY_DYNAMIC_CODE_EMPTY", false},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario());
        auto window = Build(link);
        const size_t inits = ui_test::LogCount(kInitLine);
        const size_t failed = ui_test::LogCount(kFailedLine);
        QueueLogin(link, "carol", "Passw0rd");
        driver.AnswerWith(c.prompt, QString::fromLatin1(c.what));
        if (c.box != nullptr) {
            driver.Answer("OK");
        }
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), c.box ? 3u : 2u) << c.what;
        if (c.box != nullptr) {
            EXPECT_EQ(driver.Seen()[2].text, KeyText(c.box)) << c.what;
        }
        const Sent codes(link.sim(), 3, 16);
        ASSERT_EQ(codes.fields.size(), c.code ? 1u : 0u) << c.what;
        if (c.code != nullptr) {
            EXPECT_EQ((*codes.fields[0])["uiAuthType"].GetUint(), 0u);
            EXPECT_EQ(Str((*codes.fields[0])["acDynamicCode"]), c.code);
        }
        if (c.connected) {
            EXPECT_EQ(LoginRequests(link), Then(kUpTo35, {"3/16", "5/10"}));
            ExpectConnected(*window, c.what);
        } else {
            EXPECT_TRUE(window->isVisible()) << c.what;
            EXPECT_TRUE(View(*window)->isVisible()) << c.what << ": the view is back";
            EXPECT_EQ(ui_test::LogCount(kInitLine) - inits, 1u) << c.what;
            EXPECT_EQ(ui_test::LogCount(kFailedLine) - failed, 1u) << c.what;
        }
        UIContext::GetInstance()->SetLogined(false);
        driver.Clear();
    }
}

// The help's own first line; its later lines begin the same way.
size_t HelpsOpened() {
    const std::string line = "[Into sysTrayIcon help]";
    size_t count = 0;
    for (const std::string& l : ui_test::LogLines()) {
        count += l.size() >= line.size() && l.compare(l.size() - line.size(), line.size(), line) == 0;
    }
    return count;
}

// A fake document viewer first on the path: the help the prompt asks for starts it.
class FakeViewer {
public:
    FakeViewer() : oldPath_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        char pattern[] = "/tmp/vt-viewer-XXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "";
        const std::string viewer = dir_ + "/evince";
        std::ofstream(viewer) << "#!/bin/sh\nexit 0\n";
        chmod(viewer.c_str(), 0700);
        setenv("PATH", (dir_ + ":" + oldPath_).c_str(), 1);
    }
    ~FakeViewer() {
        setenv("PATH", oldPath_.c_str(), 1);
        std::remove((dir_ + "/evince").c_str());
        rmdir(dir_.c_str());
    }

private:
    std::string oldPath_;
    std::string dir_;
};

// The gateway's certificate is not trusted: Continue logs in once more without the
// check, as often as the gateway asks; Cancel brings the view back. Connect waits in
// the tray meanwhile, and the prompt's help opens the manual and stays.
TEST_F(SslLoginTest, UntrustedCertificate) {
    FakeViewer viewer;
    auto prompt = [](const char* button, int helps = 0) {
        return [button, helps](QWidget* box) {
            EXPECT_STREQ(box->metaObject()->className(), "certificateDialog");
            auto* window = qobject_cast<MainUI*>(box->parentWidget()->parentWidget());
            ASSERT_NE(window, nullptr);
            EXPECT_FALSE(ConnectAction(*window)->isEnabled()) << "Connect waits";
            for (int i = 0; i < helps; ++i) {
                ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_OpenHelp"));
            }
            EXPECT_TRUE(box->isVisible());
            ASSERT_TRUE(BoxDriver::ClickButton(box, button));
        };
    };
    struct Case {
        const char* what;
        std::string scripts;
        std::vector<std::function<void(QWidget*)>> prompts;
        std::vector<uint32_t> checks;  // uiDeviceCACheck of each login request
        bool connected;
        size_t helps;
    } cases[] = {
        {"Continue", "", {prompt("pb_KeepSafe")}, {1, 0}, true, 0},
        {"Continue twice", Script(3, 5, R"({"delayMs": 0}, {"code": "0x3000B"})"),
         {prompt("pb_KeepSafe"), prompt("pb_KeepSafe")}, {1, 0, 0}, true, 0},
        {"Cancel", "", {prompt("pb_CancleConnect")}, {1}, false, 0},
        {"help twice, then Cancel", "", {prompt("pb_CancleConnect", 2)}, {1}, false, 2},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link(Scenario("", c.scripts));
        auto window = Build(link);
        const size_t inits = ui_test::LogCount(kInitLine);
        const size_t helps = HelpsOpened();
        QueueLogin(link, "frank", "Passw0rd");
        for (const auto& answer : c.prompts) {
            driver.AnswerWith(answer, QString::fromLatin1(c.what));
        }
        window->MainUI_LoginKey_Show();
        ASSERT_EQ(driver.Seen().size(), 1 + c.prompts.size()) << c.what;
        const Sent login(link.sim(), 3, 5);
        std::vector<uint32_t> checks;
        for (const rapidjson::Value* f : login.fields) {
            checks.push_back((*f)["uiDeviceCACheck"].GetUint());
        }
        EXPECT_EQ(checks, c.checks) << c.what;
        EXPECT_EQ(HelpsOpened() - helps, c.helps) << c.what;
        if (c.connected) {
            std::vector<std::string> expected;
            for (size_t i = 0; i < c.checks.size(); ++i) {
                expected = Then(expected, kUpTo35);
            }
            EXPECT_EQ(LoginRequests(link), Then(expected, {"5/10"})) << c.what;
            ExpectConnected(*window, c.what);
        } else {
            EXPECT_EQ(LoginRequests(link), kUpTo35) << c.what;
            EXPECT_TRUE(View(*window)->isVisible()) << c.what;
            EXPECT_TRUE(window->isVisible()) << c.what;
            EXPECT_EQ(ui_test::LogCount(kInitLine) - inits, 1u) << c.what;
        }
        UIContext::GetInstance()->SetLogined(false);
        driver.Clear();
    }
}

// ---- First login ---------------------------------------------------------------------

// The gateway demands a new password: a notice, the change dialog, a logout, and the
// window back for the login with the new password; the old one is refused from then on.
TEST_F(SslLoginTest, FirstLoginChangesThePassword) {
    ui_test::SimLink link(Scenario());
    auto window = Build(link);
    QueueLogin(link, "bob", "Passw0rd");
    QStringList bubbles;
    driver.AnswerWith(
        [&](QWidget* box) {
            EXPECT_STREQ(box->metaObject()->className(), "ChangePwd");
            bubbles = TakeBubbles();
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_oldPwd", "Passw0rd"));
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_newPwd", "Newpass1"));
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_confirmPwd", "Newpass1"));
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
        },
        QStringLiteral("change the password"));
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(bubbles,
              QStringList{KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USER_FIRST_LOGIN_ERROR")});
    EXPECT_EQ(LoginRequests(link), Then(kUpTo35, {"3/11", "3/8"}));
    const Sent change(link.sim(), 3, 11);
    ASSERT_EQ(change.fields.size(), 1u);
    EXPECT_EQ(Str((*change.fields[0])["acOldPwd"]), "Passw0rd");
    EXPECT_EQ(Str((*change.fields[0])["acNewPwd"]), "Newpass1");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(View(*window)->isVisible());
    EXPECT_EQ(View(*window)->result(), QDialog::Accepted);
    EXPECT_TRUE(UIContext::GetInstance()->GetFirstLoginModifyPwd());
    EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
    EXPECT_TRUE(ConnectAction(*window)->isEnabled()) << "the next login may start";

    driver.Clear();
    QueueLogin(link, "bob", "Newpass1");
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectConnected(*window, "new password");

    DisconnectAction(*window)->trigger();
    driver.Clear();
    QueueLogin(link, "bob", "Passw0rd");
    driver.Answer("OK");
    window->MainUI_LoginKey_Show();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].text,
              KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR"));
}

}  // namespace
