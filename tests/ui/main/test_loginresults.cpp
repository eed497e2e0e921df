// What the main window makes of a login: the road of a user who logs in by password,
// sees the connected window and tray, disconnects and exits (in a child, in both
// languages); the password change from the tray; and the slots that the login views'
// reports reach, alone: the login result, the password-change permission, the
// automatic-login flag and the tray's Connect.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyui.h"
#include "mainui.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

template <typename T>
T* Find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// The requests after the greetings, as "type/code", with their decoded fields.
struct Requests {
    explicit Requests(ui_test::Sim& sim) : log(sim.Log()) {
        for (const rapidjson::Document& line : log) {
            if (!line.HasMember("head") || std::string(line["conn"].GetString()) != "sync" ||
                line["head"]["code"].GetUint() > 0xFFFF) {
                continue;
            }
            codes.push_back(std::to_string(line["head"]["msgType"].GetUint()) + "/" +
                            std::to_string(line["head"]["code"].GetUint()));
            fields.push_back(line.HasMember("fields") ? &line["fields"] : nullptr);
        }
    }
    std::vector<rapidjson::Document> log;
    std::vector<std::string> codes;
    std::vector<const rapidjson::Value*> fields;
};

std::string Str(const rapidjson::Value& v) { return v.IsString() ? v.GetString() : "<hex>"; }

QAction* Action(MainUI& window, const char* key) {
    const QString prefix = KeyText(key);
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}
QAction* Connect(MainUI& w) { return Action(w, "/UI_MAIN/UI_MAIN_CONNECT"); }
QAction* Disconnect(MainUI& w) { return Action(w, "/UI_MAIN/UI_MAIN_DISCONNECT"); }
QAction* ChangePassword(MainUI& w) { return Action(w, "/UI_MAIN/UI_MAIN_PWD_CHANGE"); }
QAction* CancelAutoLogin(MainUI& w) { return Action(w, "/UI_MAIN/UI_MAIN_CANCELAUTOLOG"); }
QAction* Exit(MainUI& w) { return Action(w, "/UI_MAIN/UI_MAIN_EXIT"); }

const char kExitLine[] = "[#################UI exit!#################]";

class LoginResultsTest : public ::testing::Test {
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
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        for (const char* secret : {"Passw0rd", "N3wPassword"}) {
            EXPECT_EQ(ui_test::LogTextCount(secret), 0u) << secret << " reached the log";
        }
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        UIContext::GetInstance()->SetLogined(false);
        UIContext::GetInstance()->SetLinkType(0);
    }
    std::unique_ptr<MainUI> Build(ui_test::SimLink& link) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        auto window = std::make_unique<MainUI>(nullptr);
        window->Init();
        window->show();
        return window;
    }
    // Connect, then the view answered as a user: name and password typed, Login.
    void LogIn(MainUI& window, const char* user, const char* password) {
        driver.AnswerWith(
            [user, password](QWidget* view) {
                ASSERT_TRUE(BoxDriver::TypeInto(view, "le_username", user));
                ASSERT_TRUE(BoxDriver::TypeInto(view, "le_password", password));
                ASSERT_TRUE(BoxDriver::ClickButton(view, "pb_login_SSL"));
            },
            QStringLiteral("log in"));
        window.MainUI_LoginKey_Show();
    }

    BoxDriver driver;
};

// ---- The road ------------------------------------------------------------------------

// Connect, log in by password, the connected window and tray; Disconnect, the idle
// window and tray; Exit ends the client with 0 and sends nothing more.
TEST_F(LoginResultsTest, TheRoadInBothLanguages) {
    struct Case {
        int language;
        uint32_t requestLanguage;
    } cases[] = {{2052, 2}, {1033, 1}};
    for (const Case& c : cases) {
        LanguageSetting::GetInstance()->Init(c.language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini", "LanguageID": )" +
                              std::to_string(c.language) + "}");
        auto window = Build(link);
        const size_t exits = ui_test::LogCount(kExitLine);
        const size_t launch = Requests(link.sim()).codes.size();
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            // The child shares this process's fixtures: it ends with the exit path's
            // status before their destructors could run.
            on_exit([](int status, void*) { _exit(status); }, nullptr);
            const size_t succeeded = ui_test::LogCount("[Main ui get login return][ret  is 1]");
            LogIn(*window, "alice", "Passw0rd");
            EXPECT_EQ(driver.Seen().size(), 1u) << "the view, and no box";
            EXPECT_FALSE(window->isVisible());
            EXPECT_FALSE(Find<QPushButton>(window.get(), "pb_disConnect")->isHidden());
            EXPECT_TRUE(Find<QPushButton>(window.get(), "pb_connect")->isHidden());
            EXPECT_FALSE(Find<QComboBox>(window.get(), "cb_linkname")->isEnabled());
            EXPECT_TRUE(Disconnect(*window)->isEnabled());
            EXPECT_FALSE(Connect(*window)->isEnabled());
            EXPECT_TRUE(ChangePassword(*window)->isEnabled());
            EXPECT_FALSE(CancelAutoLogin(*window)->isEnabled());
            EXPECT_GE(ui_test::LogCount("[Main ui get login return][ret  is 1]") - succeeded, 1u);

            Disconnect(*window)->trigger();
            EXPECT_TRUE(window->isVisible());
            EXPECT_TRUE(Find<QPushButton>(window.get(), "pb_disConnect")->isHidden());
            EXPECT_FALSE(Find<QPushButton>(window.get(), "pb_connect")->isHidden());
            EXPECT_TRUE(Find<QComboBox>(window.get(), "cb_linkname")->isEnabled());
            EXPECT_TRUE(Connect(*window)->isEnabled()) << "tray state 10";
            EXPECT_FALSE(Disconnect(*window)->isEnabled());
            EXPECT_FALSE(ChangePassword(*window)->isEnabled());

            Exit(*window)->trigger();
            return 7;  // the exit path did not end the process
        });
        EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << c.language;
        EXPECT_EQ(ui_test::LogCount(kExitLine) - exits, 1u) << c.language;

        const Requests sent(link.sim());
        const std::vector<std::string> road(sent.codes.begin() + static_cast<long>(launch),
                                            sent.codes.end());
        // The launch's profile, site preference, the view's profile and gateway list,
        // then the login's; nothing after the logout of Disconnect.
        ASSERT_EQ(road, (std::vector<std::string>{"9/6", "1/4", "9/6", "1/18", "9/3", "9/2",
                                                  "1/17", "3/5", "5/10", "3/8"}))
            << c.language;
        const size_t at = launch + 4;
        const rapidjson::Value& session = *sent.fields[at];
        EXPECT_EQ(Str(session["ProfileName"]), "Office.ini");
        EXPECT_EQ(session["RemPwd"].GetUint(), 0u);
        EXPECT_EQ(Str(session["UserName"]), "");
        EXPECT_EQ(Str(session["Password"]), "");
        EXPECT_EQ(Str(session["LastLoginAddr"]), "192.0.2.11:443");
        const rapidjson::Value& select = *sent.fields[at + 2];
        EXPECT_EQ(select["uiEnable"].GetUint(), 1u);
        EXPECT_EQ(Str(select["acIp"]), "192.0.2.11");
        EXPECT_EQ(select["uiPort"].GetUint(), 443u);
        const rapidjson::Value& login = *sent.fields[at + 3];
        EXPECT_EQ(login["uiDeviceCACheck"].GetUint(), 1u);
        EXPECT_EQ(login["uiAuthType"].GetUint(), 0u);
        EXPECT_EQ(login["uiSavePass"].GetUint(), 0u);
        EXPECT_EQ(login["uiLoginType"].GetUint(), 1u);
        EXPECT_EQ(login["uiLanguage"].GetUint(), c.requestLanguage);
        EXPECT_EQ(Str(login["acGateway"]), "192.0.2.11:443");
        EXPECT_EQ(Str(login["acUserName"]), "alice");
        EXPECT_EQ(Str(login["acPassword"]), "Passw0rd");
        EXPECT_EQ(Str(login["acProfileName"]), "Office.ini");
        EXPECT_EQ((*sent.fields[at + 4])["uiTunnelMode"].GetUint(), 2u);
    }
}

// Logged in as alice, the tray's Change password runs the dialog; the gateway's
// confirmation closes it, and the service holds the new password.
TEST_F(LoginResultsTest, ChangePasswordFromTheTray) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    LogIn(*window, "alice", "Passw0rd");
    ASSERT_TRUE(ChangePassword(*window)->isEnabled());
    bool accepted = false;
    driver.AnswerWith(
        [&](QWidget* box) {
            EXPECT_STREQ(box->metaObject()->className(), "ChangePwd");
            EXPECT_EQ(box->parentWidget(), window.get());
            auto* dialog = qobject_cast<QDialog*>(box);
            QObject::connect(dialog, &QDialog::accepted, [&] { accepted = true; });
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_oldPwd", "Passw0rd"));
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_newPwd", "N3wPassword"));
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_confirmPwd", "N3wPassword"));
            ASSERT_TRUE(BoxDriver::ClickButton(box, "pb_ok"));
        },
        QStringLiteral("change"));
    ChangePassword(*window)->trigger();
    ASSERT_EQ(driver.Seen().size(), 2u) << "no notice";
    EXPECT_TRUE(accepted);
    rapidjson::Document state;
    const std::string answer = link.sim().Control("state");
    ASSERT_EQ(answer.rfind("OK ", 0), 0u) << answer;
    state.Parse(answer.substr(3).c_str());
    ASSERT_TRUE(state.IsObject());
    EXPECT_EQ(Str(state["passwords"]["alice"]), "N3wPassword");
}

// ---- The slots alone -----------------------------------------------------------------

// Change password after a login: a login by certificate alone has none to change, an
// IPSec login never has one; the gateway's report after the tunnel has the last word.
TEST_F(LoginResultsTest, ChangePasswordFollowsTheLastReport) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    struct Case {
        int linkType;
        int authType;
        std::vector<std::pair<const char*, bool>> reports;
        bool enabled;
    } cases[] = {
        {1, 0, {{"MainUI_GlobalLogin_GetLoginReturn_Update", true}}, true},
        {1, 1, {{"MainUI_GlobalLogin_GetLoginReturn_Update", true}}, false},
        {1, 1, {{"MainUI_GlobalLogin_GetLoginReturn_Update", true}, {"MainUI_PWD_Enable_Update", true}}, true},
        {1, 0, {{"MainUI_GlobalLogin_GetLoginReturn_Update", true}, {"MainUI_PWD_Enable_Update", false}}, false},
        {2, 0, {{"MainUI_GlobalLogin_GetLoginReturn_Update", true}}, false},
        {1, 0, {{"MainUI_PWD_Enable_Update", true}, {"MainUI_GlobalLogin_GetLoginReturn_Update", false}}, false},
    };
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetLinkType(c.linkType);
        UIContext::GetInstance()->SetAuthType(c.authType);
        UIContext::GetInstance()->SetLogined(false);
        ChangePassword(*window)->setEnabled(c.linkType == 2);  // an IPSec login disables it
        bool logged = false;  // the permission's report always comes with a connection
        for (const auto& report : c.reports) {
            ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), report.first,
                                                  Q_ARG(bool, report.second)));
            logged = report.second || std::string(report.first) == "MainUI_PWD_Enable_Update";
        }
        EXPECT_EQ(ChangePassword(*window)->isEnabled(), c.enabled)
            << "link " << c.linkType << " auth " << c.authType << " last " << c.reports.back().first;
        EXPECT_EQ(UIContext::GetInstance()->GetLogined(), logged);
        EXPECT_EQ(UIContext::GetInstance()->GetSettingEnable(), !logged);
    }
    EXPECT_GE(ui_test::LogCount("[MainUI_PWD_Enable_Update][ret  is 1]"), 1u);
    EXPECT_GE(ui_test::LogCount("[MainUI_PWD_Enable_Update][ret  is 0]"), 1u);
    EXPECT_GE(ui_test::LogCount("[Main ui get login return][ret  is 0]"), 1u);
}

// A failed login leaves the window as it is, only the view shows it again; a success
// disables the Save button of a profile dialog, a failure does not report.
TEST_F(LoginResultsTest, TheLoginResultAndTheSaveButton) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    UIContext::GetInstance()->SetLinkType(1);
    std::vector<bool> saves;
    QObject::connect(window.get(), &MainUI::signal_Set_Savebtn, [&](bool on) { saves.push_back(on); });
    window->hide();
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_GlobalLogin_GetLoginReturn_Update",
                                          Q_ARG(bool, false)));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(saves.empty());
    EXPECT_TRUE(Connect(*window)->isEnabled());
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_GlobalLogin_GetLoginReturn_Update",
                                          Q_ARG(bool, true)));
    EXPECT_EQ(saves, std::vector<bool>{false});
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(Disconnect(*window)->isEnabled());
    EXPECT_FALSE(Connect(*window)->isEnabled());
}

// The automatic-login flag sets Cancel automatic login; the tray's Connect follows the
// view until the next refresh sets it from the tray state again.
TEST_F(LoginResultsTest, AutomaticLoginFlagAndTheTraysConnect) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    for (bool flag : {true, false, true}) {
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SetAutoFlagSlot", Q_ARG(bool, flag)));
        EXPECT_EQ(CancelAutoLogin(*window)->isEnabled(), flag);
    }
    ASSERT_TRUE(Connect(*window)->isEnabled()) << "tray state 10";
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SetTrayacConnect", Q_ARG(bool, false)));
    EXPECT_FALSE(Connect(*window)->isEnabled());
    window->MainUI_SysTrayIcon_Refresh();
    EXPECT_TRUE(Connect(*window)->isEnabled()) << "the refresh in state 10";
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SetTrayacConnect", Q_ARG(bool, true)));
    EXPECT_TRUE(Connect(*window)->isEnabled());
}

// The first-login signal, which no view emits, disconnects.
TEST_F(LoginResultsTest, FirstLoginSignalDisconnects) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    UIContext::GetInstance()->SetLinkType(1);
    UIContext::GetInstance()->SetLogined(true);
    window->hide();
    const size_t before = Requests(link.sim()).codes.size();
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_FirstLogin_ModifyPSWD"));
    const Requests sent(link.sim());
    EXPECT_EQ(std::vector<std::string>(sent.codes.begin() + static_cast<long>(before), sent.codes.end()),
              std::vector<std::string>{"3/8"});
    EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
