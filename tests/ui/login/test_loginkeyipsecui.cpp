// The L2TP/IPSec login view and its login, against the simulator, on a main window as
// parent: the meta-object and form, the texts of both languages, the server address by
// the profile's settings, the certificate row, the user fields from the session, the
// input rules and the password's byte cap, a profile the service refuses; then the login
// itself: the session it remembers, the request it sends, the engine's step reports it
// waits for, the signals of each ending and every refusal the user can meet.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyipsecui.h"
#include "loginkeyipsecui_p.h"
#include "ui_loginkeyipsecui.h"
#include "mainui.h"
#include "servicelink.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uifield.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

// The view's private data, for the checks no widget shows.
class LoginKeyIPSECUITestPeer {
public:
    static LoginKeyIPSECUIPrivate* D(LoginKeyIPSECUI* view) { return view->d; }
};

namespace {

using ui_test::RequestCodes;

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

template <typename T>
T* Find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

std::vector<const rapidjson::Value*> Requests(const std::vector<rapidjson::Document>& log,
                                              uint32_t msgType, uint32_t code) {
    std::vector<const rapidjson::Value*> found;
    for (const rapidjson::Document& line : log) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == msgType &&
            line["head"]["code"].GetUint() == code) {
            found.push_back(&line);
        }
    }
    return found;
}

std::string Field(const rapidjson::Value& request, const char* name) {
    const rapidjson::Value& v = request["fields"][name];
    return v.IsString() ? v.GetString() : "<not text>";
}

// The request's bytes of one field of the payload (after the 24-byte head), as hex.
std::string PayloadHex(const rapidjson::Value& request, size_t offset, size_t size) {
    return std::string(request["hex"].GetString()).substr((24 + offset) * 2, size * 2);
}

// An L2TP/IPSec profile of the scenario with its session entry.
std::string Profile(const std::string& name, const std::string& fields,
                    const std::string& session = R"("RemPwd": 0)") {
    return R"({"name": ")" + name + R"(", "linkType": 2, "fields": {)" + fields +
           R"(}, "session": {)" + session + "}}";
}

// The simulator's own "Branch": pre-shared key, the LNS as IPSec server.
const char kBranchFields[] =
    R"("acLnsServer": "192.0.2.20", "uiIpsecEnable": 1, "uiAuthMethod": 1,
       "acPreSharedKey": "sharedkey", "uiUseLnsAddress": 1)";
const char kCertFields[] = R"("acLnsServer": "192.0.2.20", "uiIpsecEnable": 1, "uiAuthMethod": 3)";
// Steps come at once: the waits in these tests are the engine's only when a test means it.
const char kFastSteps[] = R"("engine": {"ipsec": {"stepDelayMs": 0}})";

// The view's five signals in the order they came, as "Name(arg)".
class SignalLog {
public:
    explicit SignalLog(LoginKeyIPSECUI* view) {
        QObject::connect(view, &LoginKeyIPSECUI::signal_AutoFlag,
                         [this](bool f) { events.push_back(f ? "AutoFlag(true)" : "AutoFlag(false)"); });
        QObject::connect(view, &LoginKeyIPSECUI::signal_LoginkeyIPSECUIDelete,
                         [this] { events.push_back("Delete"); });
        QObject::connect(view, &LoginKeyIPSECUI::signal_setLoginSuccessIPSEC,
                         [this](bool s) { events.push_back(s ? "Success(true)" : "Success(false)"); });
        QObject::connect(view, &LoginKeyIPSECUI::signal_setMainShow,
                         [this] { events.push_back("MainShow"); });
        QObject::connect(view, &LoginKeyIPSECUI::signal_LoginkeyIPSECUIInit,
                         [this] { events.push_back("Init"); });
    }
    std::vector<std::string> events;
};

std::vector<std::string> Repeat(const std::string& name, size_t count) {
    return std::vector<std::string>(count, name);
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The notification windows on screen and their texts.
QStringList BubbleTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("BubblingWidget") && widget->isVisible()) {
            for (QLabel* label : widget->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    texts << label->text();
                }
            }
        }
    }
    return texts;
}

// The widget Tab moves to from this one (labels stand in the chain but take no focus).
QWidget* NextTabStop(QWidget* from) {
    QWidget* next = from->nextInFocusChain();
    while (next != from && (next->focusPolicy() & Qt::TabFocus) == 0) {
        next = next->nextInFocusChain();
    }
    return next;
}

void PressAndRelease(QWidget* widget, Qt::MouseButton button) {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

class LoginKeyIPSECUITest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetConnectName(QStringLiteral("Branch"));
        context->SetLinkType(2);
        context->SetLogined(false);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        uiSyncTimeoutDivisorSet(1);
        window_.reset();
    }

    // A main window built but not set up: the parent of the view's own tests.
    MainUI* BareWindow() {
        window_ = std::make_unique<MainUI>(nullptr);
        return window_.get();
    }
    // A main window as start-up builds it, over the simulator's configuration, with the
    // scenario's last used connection chosen.
    MainUI* Window(ui_test::SimLink& link) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        window_ = std::make_unique<MainUI>(nullptr);
        window_->Init();
        return window_.get();
    }
    // A view set up on the window as the launch sets it up, its signals wired by the
    // launch's strings.
    LoginKeyIPSECUI* Open(ui_test::SimLink& link, MainUI* window) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        auto* view = new LoginKeyIPSECUI(window);
        view->Init();
        QObject::connect(view, SIGNAL(signal_setMainShow()), window, SLOT(MainUI_ShowSlot()));
        QObject::connect(view, SIGNAL(signal_setLoginSuccessIPSEC(bool)), window,
                         SLOT(MainUI_GlobalLogin_GetLoginReturn_Update(bool)));
        QObject::connect(view, SIGNAL(signal_AutoFlag(bool)), window,
                         SLOT(MainUI_SetAutoFlagSlot(bool)));
        QObject::connect(view, SIGNAL(signal_LoginkeyIPSECUIDelete()), window,
                         SLOT(MainUI_SetLoginKeyIPSECUIExist()));
        QObject::connect(view, SIGNAL(signal_LoginkeyIPSECUIInit()), window,
                         SLOT(MainUI_SetLoginKeyIPSECUIInit()));
        return view;
    }
    // The window and the view on screen, as a user finds them after Connect.
    void ShowBoth(MainUI* window, LoginKeyIPSECUI* view) {
        window->show();
        driver.AnswerLetEnd();
        view->show();
        ASSERT_TRUE(driver.WaitSeen(driver.Seen().size() + 1));
    }
    static void Type(LoginKeyIPSECUI* view, const char* user, const QString& password) {
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_username"), QString(user)));
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_password"), password));
    }
    static void Login(LoginKeyIPSECUI* view) {
        ASSERT_TRUE(BoxDriver::ClickButton(view, QStringLiteral("pb_login")));
    }

    std::unique_ptr<MainUI> window_;
    BoxDriver driver;
};

// ---- The class and its form ---------------------------------------------------------

// The main window wires the signals by name, and relies on their places too.
TEST_F(LoginKeyIPSECUITest, SignalsAndSlotsStandInTheirPlaces) {
    const char* const expected[] = {
        "signal_setMainShow()",
        "signal_setLoginSuccessIPSEC(bool)",
        "signal_AutoFlag(bool)",
        "signal_LoginkeyIPSECUIDelete()",
        "signal_LoginkeyIPSECUIInit()",
        "on_tb_refreshCertificate_clicked()",
        "on_cb_autoLogin_stateChanged(int)",
        "on_cb_savePass_stateChanged(int)",
        "on_le_password_textEdited(QString)",
        "on_le_username_textChanged(QString)",
        "LoginKeyIPSECUI_Change_AutoLogin_slot(bool)",
        "closeEvent(QCloseEvent*)",
        "keyPressEvent(QKeyEvent*)",
        "LoginKeyIPSECUI_Login()",
    };
    const QMetaObject& meta = LoginKeyIPSECUI::staticMetaObject;
    const int offset = meta.methodOffset();
    ASSERT_EQ(meta.methodCount() - offset, 14);
    for (int i = 0; i < 14; ++i) {
        const QMetaMethod method = meta.method(offset + i);
        EXPECT_EQ(method.methodSignature().toStdString(), expected[i]) << "index " << i;
        EXPECT_EQ(method.methodType(), i < 5 ? QMetaMethod::Signal : QMetaMethod::Slot)
            << expected[i];
    }
    EXPECT_EQ(meta.method(offset + 13).access(), QMetaMethod::Public);
}

TEST_F(LoginKeyIPSECUITest, FormAsBuilt) {
    auto* view = new LoginKeyIPSECUI(BareWindow());
    // The base's form names the dialog first; the generated form names only a nameless
    // one, so the view keeps the base's name, and a bare dialog takes the form's.
    EXPECT_EQ(view->objectName(), QString("basewidget"));
    QDialog bare;
    Ui_LoginKeyIPSECUI form;
    form.setupUi(&bare);
    EXPECT_EQ(bare.objectName(), QString("LoginKeyIPSECUI"));
    EXPECT_EQ(view->size(), QSize(400, 314));
    EXPECT_EQ(view->minimumSize(), QSize(400, 314));
    EXPECT_EQ(view->maximumHeight(), 314);
    EXPECT_FALSE(view->windowIcon().isNull());
    EXPECT_EQ(view->windowModality(), Qt::WindowModal) << "application-modal only on macOS";

    const struct {
        const char* name;
        const char* className;
    } widgets[] = {
        {"sw_label", "QLabel"},         {"gb_login", "QGroupBox"},
        {"l_serverAddress", "QLabel"},  {"le_serverAddress", "QLineEdit"},
        {"l_username", "QLabel"},       {"le_username", "QLineEdit"},
        {"l_password", "QLabel"},       {"le_password", "QLineEdit"},
        {"l_certificate", "QLabel"},    {"cb_CertList", "QComboBox"},
        {"tb_refreshCertificate", "QToolButton"},
        {"cb_savePass", "QCheckBox"},   {"cb_autoLogin", "QCheckBox"},
        {"pb_login", "QPushButton"},
    };
    for (const auto& w : widgets) {
        QWidget* found = Find<QWidget>(view, w.name);
        ASSERT_NE(found, nullptr) << w.name;
        EXPECT_STREQ(found->metaObject()->className(), w.className) << w.name;
    }
    EXPECT_EQ(Find<QLabel>(view, "sw_label")->styleSheet(),
              QString("border-image: url(:/Global/Resources/Bitmap/background_mainwnd.png);"));
    EXPECT_TRUE(Find<QLineEdit>(view, "le_serverAddress")->isReadOnly());
    EXPECT_EQ(Find<QLineEdit>(view, "le_password")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Find<QComboBox>(view, "cb_CertList")->maxVisibleItems(), 8);
    auto* refresh = Find<QToolButton>(view, "tb_refreshCertificate");
    EXPECT_EQ(refresh->iconSize(), QSize(18, 18));
    EXPECT_FALSE(refresh->icon().isNull());
    EXPECT_TRUE(Find<QPushButton>(view, "pb_login")->styleSheet().contains("color:rgb(0,0,0)"));

    // Tab order: user name, password, remember, Login.
    const char* const order[] = {"le_username", "le_password", "cb_savePass", "pb_login"};
    for (int i = 0; i + 1 < 4; ++i) {
        EXPECT_EQ(NextTabStop(Find<QWidget>(view, order[i])), Find<QWidget>(view, order[i + 1]))
            << order[i];
    }
}

// Nine texts and one tool tip for both fields, in each language; a missing key would
// leave an empty caption.
TEST_F(LoginKeyIPSECUITest, TextsAndToolTipOfBothLanguages) {
    BareWindow();
    for (int language : {1033, 2052}) {
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto* view = new LoginKeyIPSECUI(window_.get());
        view->SetLanguageText();
        view->SetToolTip();
        const struct {
            const char* key;
            std::function<QString()> shown;
        } texts[] = {
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_CERTIFICATE",
             [&] { return Find<QLabel>(view, "l_certificate")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_SERVERADDRESS",
             [&] { return Find<QLabel>(view, "l_serverAddress")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_GROUPBOX_LOGIN",
             [&] { return Find<QGroupBox>(view, "gb_login")->title(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_USERNAME",
             [&] { return Find<QLabel>(view, "l_username")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_PASSWORD",
             [&] { return Find<QLabel>(view, "l_password")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_AUTOLOGIN",
             [&] { return Find<QCheckBox>(view, "cb_autoLogin")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CHECKBOX_SAVEPASS",
             [&] { return Find<QCheckBox>(view, "cb_savePass")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_PUSHBUTTON_LOGIN",
             [&] { return Find<QPushButton>(view, "pb_login")->text(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_TITLE", [&] { return view->windowTitle(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEY_USERNAME_TOOLTIP",
             [&] { return Find<QLineEdit>(view, "le_username")->toolTip(); }},
            {"/UI_LOGINKEYIPSEC/UI_LOGINKEY_USERNAME_TOOLTIP",
             [&] { return Find<QLineEdit>(view, "le_password")->toolTip(); }},
        };
        for (const auto& t : texts) {
            EXPECT_FALSE(KeyText(t.key).isEmpty()) << language << " " << t.key;
            EXPECT_EQ(t.shown(), KeyText(t.key)) << language << " " << t.key;
        }
        // The refusals' texts, one of them named without its leading slash.
        for (const char* key : {"/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CERT_PWD_EMPTY",
                                "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY",
                                "UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CONNECT_TIMEOUT"}) {
            EXPECT_FALSE(KeyText(key).isEmpty()) << language << " " << key;
        }
        delete view;
    }
}

TEST_F(LoginKeyIPSECUITest, CustomisedBannerOnlyWhenItsFileExists) {
    QTemporaryDir install;
    ASSERT_TRUE(install.isValid());
    UIContext::GetInstance()->SetInstallDir(install.path() + "/");
    auto* view = new LoginKeyIPSECUI(BareWindow());
    auto* banner = Find<QLabel>(view, "sw_label");
    const QString plain = banner->styleSheet();
    view->SetCustomizedSkin();
    EXPECT_EQ(banner->styleSheet(), plain);
    ASSERT_TRUE(QDir().mkpath(install.path() + "/image/Customized/common"));
    const QString path = install.path() + "/image/Customized/common/mcur_background.png";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    view->SetCustomizedSkin();
    EXPECT_EQ(banner->styleSheet(), "border-image: url(" + path + ");");
}

// ---- Set-up from the profile and the session ------------------------------------------

// The address shown by the profile's IPSec settings; the log names the LNS whichever is
// shown. The view is then fixed at its size, ready, and its Login button wired.
TEST_F(LoginKeyIPSECUITest, ServerAddressByTheProfilesSettings) {
    const struct {
        const char* name;
        const char* fields;
        const char* shown;
    } cases[] = {
        {"Off", R"("uiIpsecEnable": 0, "uiUseLnsAddress": 0)", "192.0.2.20"},
        {"Lns", R"("uiIpsecEnable": 1, "uiUseLnsAddress": 1)", "192.0.2.20"},
        {"Own", R"("uiIpsecEnable": 1, "uiUseLnsAddress": 0)", "198.51.100.7"},
        {"Odd", R"("uiIpsecEnable": 1, "uiUseLnsAddress": 2)", "198.51.100.7"},
    };
    std::string profiles;
    for (const auto& c : cases) {
        profiles += (profiles.empty() ? "" : ",") +
                    Profile(std::string(c.name) + ".ini",
                            std::string(R"("acLnsServer": "192.0.2.20", "acIpsecServer": "198.51.100.7", "uiAuthMethod": 1, )") +
                                c.fields);
    }
    ui_test::SimLink link(R"("profiles": [)" + profiles + "]");
    MainUI* window = BareWindow();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    for (const auto& c : cases) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(c.name));
        const size_t logged =
            ui_test::LogCount("[Init IPSEC of ui serverAddress][serverAddress is 192.0.2.20]");
        const size_t named = ui_test::LogCount(std::string("[IPSEC init buffer ][link name is ") +
                                               c.name + ".ini]");
        auto* view = new LoginKeyIPSECUI(window);
        SignalLog heard(view);
        view->Init();
        EXPECT_EQ(Find<QLineEdit>(view, "le_serverAddress")->text(), QString(c.shown)) << c.name;
        EXPECT_EQ(ui_test::LogCount("[Init IPSEC of ui serverAddress][serverAddress is 192.0.2.20]"),
                  logged + 1)
            << c.name;
        EXPECT_EQ(ui_test::LogCount(std::string("[IPSEC init buffer ][link name is ") + c.name +
                                    ".ini]"),
                  named + 1);
        EXPECT_EQ(heard.events, std::vector<std::string>{"Init"}) << c.name;
        EXPECT_EQ(view->minimumSize(), QSize(400, 314));
        EXPECT_EQ(view->maximumSize(), QSize(400, 314));
        for (const char* name : {"l_certificate", "cb_CertList", "tb_refreshCertificate"}) {
            EXPECT_TRUE(Find<QWidget>(view, name)->isHidden()) << c.name << " " << name;
        }
        EXPECT_FALSE(LoginKeyIPSECUITestPeer::D(view)->certMode);
        // Wired: Login with empty fields refuses with its box.
        driver.Answer("OK");
        Login(view);
        ASSERT_EQ(driver.Seen().size(), 1u) << c.name;
        EXPECT_EQ(driver.Seen()[0].text, KeyText("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY"));
        driver.Clear();
        delete view;
    }
}

// Certificate mode only with IPSec on and digital signature. Items and names stay paired
// when an entry has no shown text; too long a list shows nothing; Refresh rebuilds.
TEST_F(LoginKeyIPSECUITest, CertificateRowOfACertificateProfile) {
    ui_test::SimLink link(R"("profiles": [)" + Profile("Cert.ini", kCertFields) + "," +
                          Profile("Psk.ini", kBranchFields) + "," +
                          Profile("Off.ini", R"("acLnsServer": "192.0.2.20", "uiIpsecEnable": 0, "uiAuthMethod": 3)") +
                          "]");
    MainUI* window = BareWindow();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    const struct {
        const char* name;
        bool certMode;
    } modes[] = {{"Cert", true}, {"Psk", false}, {"Off", false}};
    for (const auto& m : modes) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(m.name));
        const size_t asked = Requests(link.sim().Log(), 3, 15).size();
        auto* view = new LoginKeyIPSECUI(window);
        view->Init();
        for (const char* name : {"l_certificate", "cb_CertList", "tb_refreshCertificate"}) {
            EXPECT_EQ(Find<QWidget>(view, name)->isHidden(), !m.certMode) << m.name << " " << name;
        }
        EXPECT_EQ(LoginKeyIPSECUITestPeer::D(view)->certMode, m.certMode) << m.name;
        EXPECT_EQ(Requests(link.sim().Log(), 3, 15).size() - asked, m.certMode ? 1u : 0u) << m.name;
        auto* box = Find<QComboBox>(view, "cb_CertList");
        if (m.certMode) {
            ASSERT_EQ(box->count(), 1);
            EXPECT_EQ(box->itemText(0), QString("alice@example"));
            EXPECT_EQ(LoginKeyIPSECUITestPeer::D(view)->certificateNames,
                      QStringList{"CERT:alice@example"});
        } else {
            EXPECT_EQ(box->count(), 0) << m.name;
        }
        delete view;
    }

    UIContext::GetInstance()->SetConnectName(QStringLiteral("Cert"));
    auto* view = new LoginKeyIPSECUI(window);
    view->Init();
    LoginKeyIPSECUIPrivate* d = LoginKeyIPSECUITestPeer::D(view);
    auto* box = Find<QComboBox>(view, "cb_CertList");
    auto* refresh = Find<QToolButton>(view, "tb_refreshCertificate");
    view->show();
    driver.AnswerLetEnd();
    ASSERT_TRUE(driver.WaitSeen(1));

    // The lists the service gives on the following refreshes.
    auto push = [&](const std::string& fields) {
        ASSERT_EQ(link.sim()
                      .Control(R"(script push 3 15 {"payload": {"record": "UI_CERT_INFO_S", "fields": {)" +
                               fields + "}}}")
                      .compare(0, 2, "OK"),
                  0);
    };
    // An entry without shown text, a GBK name and text (as the service writes them).
    push(R"("uiCertNum": 3, "acCertText[0]": "CERT:A", "acCertName[0]": "A", )"
         R"("acCertText[1]": "CERT:B", "acCertText[2]": {"hex": "d6a4cae9"}, )"
         R"("acCertName[2]": {"hex": "d6a4cae943"})");
    refresh->click();
    EXPECT_TRUE(box->view()->isVisible()) << "Refresh opens the list";
    box->hidePopup();
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), QString("A"));
    EXPECT_EQ(box->itemText(1), QString::fromUtf8("证书C"));
    EXPECT_EQ(d->certificateNames, (QStringList{"CERT:A", QString::fromUtf8("证书")}));

    // 32 entries are all listed, 33 none.
    std::string many = R"("uiCertNum": 32)";
    for (int i = 0; i < 32; ++i) {
        many += ", \"acCertText[" + std::to_string(i) + "]\": \"CERT:" + std::to_string(i) +
                "\", \"acCertName[" + std::to_string(i) + "]\": \"c" + std::to_string(i) + "\"";
    }
    push(many);
    refresh->click();
    box->hidePopup();
    EXPECT_EQ(box->count(), 32) << "rebuilt, not appended";
    EXPECT_EQ(d->certificateNames.size(), 32);
    EXPECT_EQ(box->itemText(31), QString("c31"));
    EXPECT_EQ(d->certificateNames.at(31), QString("CERT:31"));
    push(R"("uiCertNum": 33, "acCertText[0]": "CERT:0", "acCertName[0]": "c0")");
    refresh->click();
    box->hidePopup();
    EXPECT_EQ(box->count(), 0);
    EXPECT_TRUE(d->certificateNames.isEmpty());
    // The happy list again: no duplicates after several refreshes.
    refresh->click();
    refresh->click();
    box->hidePopup();
    EXPECT_EQ(box->count(), 1);
    EXPECT_EQ(d->certificateNames, QStringList{"CERT:alice@example"});
    view->hide();
}

// Every text the view takes from a record stops at its field's end, also when the
// service filled the field to its last byte.
TEST_F(LoginKeyIPSECUITest, ServiceTextsAreReadToTheirFieldsWidth) {
    const std::string lns(128, 'l');
    ui_test::SimLink link(R"("profiles": [)" +
                          Profile("Cert.ini", R"("acLnsServer": ")" + lns +
                                                  R"(", "uiIpsecEnable": 1, "uiAuthMethod": 3)") +
                          "]");
    const std::string name(1024, 'n');
    const std::string shown(132, 's');
    ASSERT_EQ(link.sim()
                  .Control(R"(script push 3 15 {"payload": {"record": "UI_CERT_INFO_S", "fields": {"uiCertNum": 2, "acCertText[0]": ")" +
                           name + R"(", "acCertName[0]": ")" + shown +
                           R"(", "acCertText[1]": "next", "acCertName[1]": "following"}}})")
                  .compare(0, 2, "OK"),
              0);
    MainUI* window = BareWindow();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    UIContext::GetInstance()->SetConnectName(QStringLiteral("Cert"));
    auto* view = new LoginKeyIPSECUI(window);
    view->Init();
    EXPECT_EQ(ui_test::LogCount("[serverAddress is " + lns + "]"), 1u)
        << "the LNS address runs into the next field";
    auto* box = Find<QComboBox>(view, "cb_CertList");
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), QString::fromStdString(shown));
    EXPECT_EQ(box->itemText(1), QString("following"));
    EXPECT_EQ(LoginKeyIPSECUITestPeer::D(view)->certificateNames,
              (QStringList{QString::fromStdString(name), "next"}));
}

TEST_F(LoginKeyIPSECUITest, UserFieldsFromTheSession) {
    const struct {
        const char* name;
        const char* session;
        const char* user;
        const char* password;
        bool save, automatic;
    } cases[] = {
        {"Remembered", R"("RemPwd": 1, "UserName": "alice", "Password": "Passw0rd")", "alice",
         "******", true, false},
        {"EmptyPassword", R"("RemPwd": 1, "UserName": "alice")", "alice", "", true, false},
        {"NotRemembered", R"("RemPwd": 0, "UserName": "alice", "Password": "Passw0rd")", "", "",
         false, false},
        {"Automatic", R"("RemPwd": 1, "AutoLogin": 1, "UserName": "alice", "Password": "Passw0rd")",
         "alice", "******", true, true},
    };
    std::string profiles;
    for (const auto& c : cases) {
        profiles += Profile(std::string(c.name) + ".ini", kBranchFields, c.session) + ",";
    }
    // A profile whose session entry the configuration lost: the simulator's own "Branch",
    // read before the configuration names it.
    ui_test::SimLink link(R"("profiles": [)" + profiles +
                          Profile("Branch.ini", kBranchFields) + "]");
    MainUI* window = BareWindow();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    for (const auto& c : cases) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(c.name));
        auto* view = new LoginKeyIPSECUI(window);
        view->Init();
        EXPECT_EQ(Find<QLineEdit>(view, "le_username")->text(), QString(c.user)) << c.name;
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString(c.password)) << c.name;
        EXPECT_EQ(Find<QCheckBox>(view, "cb_savePass")->isChecked(), c.save) << c.name;
        EXPECT_EQ(Find<QCheckBox>(view, "cb_autoLogin")->isChecked(), c.automatic) << c.name;
        EXPECT_EQ(Find<QLineEdit>(view, "le_serverAddress")->text(), QString("192.0.2.20"));
        EXPECT_FALSE(LoginKeyIPSECUITestPeer::D(view)->passwordEdited) << c.name;
        delete view;
    }
    EXPECT_EQ(ui_test::LogCount("Passw0rd"), 0u) << "the remembered password is never logged";

    // No session entry: the box, and the address all the same.
    CFM_SESSION_S* branch = UISystemProfile::GetInstance()->GetSession(QStringLiteral("Branch.ini"));
    ASSERT_NE(branch, nullptr);
    std::memset(branch->ProfileName, 0, sizeof(branch->ProfileName));
    UIContext::GetInstance()->SetConnectName(QStringLiteral("Branch"));
    driver.Answer("OK");
    auto* view = new LoginKeyIPSECUI(window);
    SignalLog heard(view);
    view->Init();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text,
              KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"));
    EXPECT_EQ(driver.Seen()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(Find<QLineEdit>(view, "le_serverAddress")->text(), QString("192.0.2.20"));
    EXPECT_FALSE(Find<QCheckBox>(view, "cb_savePass")->isChecked());
    EXPECT_EQ(heard.events, std::vector<std::string>{"Init"});
}

// ---- Input rules ----------------------------------------------------------------------

TEST_F(LoginKeyIPSECUITest, RememberAndAutomaticBoxesFollowEachOther) {
    const struct {
        bool saveBefore, autoBefore;
        const char* click;  // the box the user clicks
        bool saveAfter, autoAfter;
    } cases[] = {
        {false, false, "cb_autoLogin", true, true},  // automatic login needs the password
        {true, true, "cb_savePass", false, false},   // no password, no automatic login
        {true, true, "cb_autoLogin", true, false},
        {false, false, "cb_savePass", true, false},
    };
    BareWindow();
    for (const auto& c : cases) {
        auto* view = new LoginKeyIPSECUI(window_.get());
        auto* save = Find<QCheckBox>(view, "cb_savePass");
        auto* automatic = Find<QCheckBox>(view, "cb_autoLogin");
        save->setChecked(c.saveBefore);
        automatic->setChecked(c.autoBefore);
        Find<QCheckBox>(view, c.click)->click();
        EXPECT_EQ(save->isChecked(), c.saveAfter) << c.click;
        EXPECT_EQ(automatic->isChecked(), c.autoAfter) << c.click;
        delete view;
    }
}

// The window's switch sets the automatic box, with the box rules behind it.
TEST_F(LoginKeyIPSECUITest, FollowsTheWindowsAutomaticLoginSwitch) {
    ui_test::SimLink link;
    MainUI* window = BareWindow();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    auto* view = new LoginKeyIPSECUI(window);
    view->Init();
    auto* save = Find<QCheckBox>(view, "cb_savePass");
    auto* automatic = Find<QCheckBox>(view, "cb_autoLogin");
    emit window->signal_Main_DisAutoLogin(true);
    EXPECT_TRUE(automatic->isChecked());
    EXPECT_TRUE(save->isChecked());
    emit window->signal_Main_DisAutoLogin(false);
    EXPECT_FALSE(automatic->isChecked());
    EXPECT_TRUE(save->isChecked());
}

TEST_F(LoginKeyIPSECUITest, PasswordFieldKeepsSecretsIn) {
    auto* view = new LoginKeyIPSECUI(BareWindow());
    view->SetInputControl();
    auto* user = Find<QLineEdit>(view, "le_username");
    auto* password = Find<QLineEdit>(view, "le_password");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->maxLength(), 127);
    EXPECT_EQ(password->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_NE(password->validator(), nullptr);
    EXPECT_EQ(user->maxLength(), 255);
    EXPECT_NE(user->validator(), nullptr);
    EXPECT_EQ(Find<QLineEdit>(view, "le_serverAddress")->maxLength(), 127);

    const struct {
        QLineEdit* field;
        const char* what;
        std::function<QEvent*()> event;
        bool swallowed;
    } cases[] = {
        {password, "paste", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier); }, true},
        {password, "copy", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier); }, true},
        {password, "a letter", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"); }, false},
        {password, "middle release",
         [] { return new QMouseEvent(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::MiddleButton, Qt::NoButton, Qt::NoModifier); },
         true},
        {password, "left release",
         [] { return new QMouseEvent(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton, Qt::NoModifier); },
         false},
        {user, "paste", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier); }, false},
        {user, "middle release",
         [] { return new QMouseEvent(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::MiddleButton, Qt::NoButton, Qt::NoModifier); },
         false},
    };
    for (const auto& c : cases) {
        std::unique_ptr<QEvent> event(c.event());
        EXPECT_EQ(view->eventFilter(c.field, event.get()), c.swallowed)
            << c.field->objectName().toStdString() << " " << c.what;
    }
    // As a user sees it: the clipboard reaches the user name, not the password.
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClick(user, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(password, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(user->text(), QString("pasted"));
    EXPECT_TRUE(password->text().isEmpty());
}

// The first press empties the placeholder (a press on an empty field uses it up too);
// later presses keep what was typed. Typing marks the password as edited, text set by
// code does not.
TEST_F(LoginKeyIPSECUITest, FirstPressEmptiesThePasswordOnce) {
    BareWindow();
    for (const char* before : {"******", ""}) {
        auto* view = new LoginKeyIPSECUI(window_.get());
        view->SetInputControl();
        LoginKeyIPSECUIPrivate* d = LoginKeyIPSECUITestPeer::D(view);
        auto* password = Find<QLineEdit>(view, "le_password");
        password->setText(QString::fromLatin1(before));
        QTest::mouseClick(password, Qt::LeftButton);
        EXPECT_TRUE(password->text().isEmpty()) << before;
        EXPECT_TRUE(d->passwordPressed);
        EXPECT_FALSE(d->passwordEdited) << "emptying is no edit";
        QTest::keyClicks(password, QStringLiteral("abc"));
        EXPECT_TRUE(d->passwordEdited);
        PressAndRelease(password, Qt::LeftButton);
        EXPECT_EQ(password->text(), QString("abc")) << "only the first press empties";
        delete view;
    }
}

// The user name fills the session's 256-byte field and the password the request's
// 128-byte one: an edit past their bytes is undone (the character caps alone let 127
// two-byte letters or 85 ideographs through).
TEST_F(LoginKeyIPSECUITest, FieldsRefuseTheByteThatWouldNotFit) {
    auto* view = new LoginKeyIPSECUI(BareWindow());
    view->SetInputControl();
    LoginKeyIPSECUIPrivate* d = LoginKeyIPSECUITestPeer::D(view);
    const QString han = QString::fromUtf8("中");  // 3 bytes
    const QString e = QString::fromUtf8("é");     // 2 bytes
    const struct {
        const char* field;
        QString start;     // set by code, fitting
        QString typed;     // typed after it
        QString accepted;  // what the field then holds
    } cases[] = {
        {"le_username", han.repeated(84) + "ab", QStringLiteral("c"), han.repeated(84) + "abc"},  // 255 bytes
        {"le_username", han.repeated(85), han, han.repeated(85)},                                  // the 256th
        {"le_password", e.repeated(63), QStringLiteral("a"), e.repeated(63) + "a"},               // 127 bytes
        {"le_password", e.repeated(63), e, e.repeated(63)},                                         // the 128th
        {"le_password", e.repeated(63) + "a", QStringLiteral("b"), e.repeated(63) + "a"},
    };
    for (const auto& c : cases) {
        auto* field = view->findChild<QLineEdit*>(QString::fromLatin1(c.field));
        field->setText(c.start);
        ASSERT_EQ(field->text(), c.start) << c.field;
        ASSERT_TRUE(BoxDriver::TypeInto(view, QString::fromLatin1(c.field), c.typed, false));
        EXPECT_EQ(field->text(), c.accepted) << c.field << " + " << c.typed.toStdString();
        EXPECT_EQ(QString(c.field) == "le_username" ? d->lastUserName : d->lastPassword, c.accepted)
            << c.field;
    }
}

TEST_F(LoginKeyIPSECUITest, EscapeAndCloseReportTheViewGone) {
    auto* view = new LoginKeyIPSECUI(BareWindow());
    SignalLog heard(view);
    view->show();
    driver.AnswerLetEnd();
    ASSERT_TRUE(driver.WaitSeen(1));
    QTest::keyClick(view, Qt::Key_A);
    EXPECT_TRUE(heard.events.empty()) << "other keys report nothing";
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(heard.events, std::vector<std::string>{"Delete"});
    EXPECT_EQ(view->result(), QDialog::Rejected);
    EXPECT_FALSE(view->isVisible());
    heard.events.clear();
    view->close();
    EXPECT_EQ(heard.events, std::vector<std::string>{"Delete"});
    heard.events.clear();
    delete view;
    EXPECT_TRUE(heard.events.empty()) << "deleting the view reports nothing";
}

// A profile the service refuses or cannot give: its box, the log line, no Init signal
// and a Login button that does nothing.
TEST_F(LoginKeyIPSECUITest, AProfileTheServiceDoesNotGiveLeavesAnInertView) {
    const struct {
        const char* what;
        bool linkDown;
        const char* key;  // null: the text of a service that does not answer
    } cases[] = {
        {"refused", false, "/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_READ_IPSEC_FAIL"},
        {"no answer", true, nullptr},
    };
    for (const auto& c : cases) {
        ui_test::SimLink link(R"("scripts": [{"msgType": 9, "code": 8, "replies": [{"code": "0xD0010"}]}])");
        MainUI* window = BareWindow();
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        if (c.linkDown) {
            UI_Socket_CloseAll();
        }
        const size_t failed = ui_test::LogCount("[Init IPSEC buf faild!]");
        driver.Answer("OK");
        auto* view = new LoginKeyIPSECUI(window);
        SignalLog heard(view);
        view->Init();
        ASSERT_EQ(driver.Seen().size(), 1u) << c.what;
        EXPECT_EQ(driver.Seen()[0].text,
                  c.key != nullptr ? KeyText(c.key)
                                   : LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR)
            << c.what;
        EXPECT_EQ(driver.Seen()[0].icon, QMessageBox::Warning);
        EXPECT_EQ(ui_test::LogCount("[Init IPSEC buf faild!]"), failed + 1) << c.what;
        EXPECT_TRUE(heard.events.empty()) << c.what;
        EXPECT_TRUE(Find<QLineEdit>(view, "le_serverAddress")->text().isEmpty());
        Login(view);  // nothing, not even the automatic-login flag
        EXPECT_TRUE(heard.events.empty()) << c.what;
        // The window's switch does not reach it either, and its end is still reported.
        emit window->signal_Main_DisAutoLogin(true);
        EXPECT_FALSE(Find<QCheckBox>(view, "cb_autoLogin")->isChecked());
        view->close();
        EXPECT_EQ(heard.events, std::vector<std::string>{"Delete"});
        driver.Clear();
        window_.reset();
    }
}

// ---- The login ------------------------------------------------------------------------

class IpsecLoginTest : public LoginKeyIPSECUITest {
protected:
    // The simulator with the steps sent at once, "Branch" the last used connection.
    static std::string Scenario(const std::string& profiles = "") {
        return std::string(kFastSteps) + R"(, "config": {"LastAccessSession": "Branch.ini"})" +
               (profiles.empty() ? "" : R"(, "profiles": [)" + profiles + "]");
    }
    MainUI* Start(ui_test::SimLink& link) {
        MainUI* window = Window(link);
        EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);
        EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("Branch"));
        return window;
    }
};

const char kStepKey[] = "[IPSEC LogInRecv receive the MsgCode][MsgCode is /RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_";

// The user's login from the shown view: remembered first, then sent, then seven steps
// and the connection, announced by one notification and no box.
TEST_F(IpsecLoginTest, AliceLogsInThroughTheSevenSteps) {
    ui_test::SimLink link(Scenario());
    MainUI* window = Start(link);
    LoginKeyIPSECUI* view = Open(link, window);
    ShowBoth(window, view);
    Type(view, "alice", QStringLiteral("Passw0rd"));
    Find<QCheckBox>(view, "cb_savePass")->click();
    SignalLog heard(view);
    const size_t from = link.sim().Log().size();
    const char* const steps[] = {"STEP1_OK", "STEP2_OK", "STEP3_OK", "STEP4_OK",
                                 "STEP5_OK", "STEP6_OK", "STEP7_OK", "CONNECT_SUCCESS"};
    std::vector<size_t> stepLines;
    for (const char* step : steps) {
        stepLines.push_back(ui_test::LogCount(std::string(kStepKey) + step + "]"));
    }
    const char* const lines[] = {
        "[IPSEC to remeber last connect name][connect name is Branch.ini]",
        "[IPSEC to remember user and pswd]",
        "[IPSEC to remember server address][192.0.2.20]",
    };
    std::vector<size_t> lineCounts;
    for (const char* line : lines) {
        lineCounts.push_back(ui_test::LogCount(line));
    }

    Login(view);

    const auto log = link.sim().Log();
    EXPECT_EQ(RequestCodes(log, from), (std::vector<std::string>{"9/3", "9/2", "4/5"}));
    const auto sessions = Requests(log, 9, 3);
    ASSERT_EQ(sessions.size(), 1u);
    const rapidjson::Value& session = *sessions[0];
    EXPECT_EQ(Field(session, "ProfileName"), "Branch.ini");
    EXPECT_EQ(Field(session, "UserName"), "alice");
    EXPECT_EQ(Field(session, "Password"), "Passw0rd");
    EXPECT_EQ(Field(session, "LastLoginAddr"), "192.0.2.20");
    EXPECT_EQ(session["fields"]["ConnectionType"].GetUint(), 2u);
    EXPECT_EQ(session["fields"]["RemPwd"].GetUint(), 1u);
    EXPECT_EQ(session["fields"]["AutoLogin"].GetUint(), 0u);
    const auto logins = Requests(log, 4, 5);
    ASSERT_EQ(logins.size(), 1u);
    const rapidjson::Value& login = *logins[0];
    EXPECT_EQ(login["head"]["len"].GetUint(), 1932u);
    EXPECT_EQ(PayloadHex(login, 0, 4), "01000000") << "uiSavePass in the host's order";
    EXPECT_EQ(Field(login, "acServerAddr"), "192.0.2.20");
    EXPECT_EQ(Field(login, "acUserName"), "alice");
    EXPECT_EQ(Field(login, "acPassword"), "Passw0rd");
    EXPECT_EQ(Field(login, "acCertName"), "");
    EXPECT_EQ(Field(login, "acProfileName"), "Branch.ini");

    EXPECT_EQ(BubbleTexts(), QStringList{"Connected."});
    EXPECT_EQ(KeyText("/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_CONNECT_SUCCESS"),
              QString("Connected."));
    EXPECT_EQ(driver.Seen().size(), 1u) << "no box, only the view itself";
    EXPECT_EQ(heard.events, Join({{"AutoFlag(false)", "Delete", "Delete", "Success(true)"},
                                    Repeat("Delete", 14), Repeat("Delete", 3)}));
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(window->isVisible());
    // The window took the request's sending as the login's success.
    EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
    EXPECT_FALSE(Find<QPushButton>(window, "pb_disConnect")->isHidden());
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(ui_test::LogCount(std::string(kStepKey) + steps[i] + "]"), stepLines[i] + 1)
            << steps[i];
    }
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ui_test::LogCount(lines[i]), lineCounts[i] + 1) << lines[i];
    }
    EXPECT_EQ(ui_test::LogCount("Passw0rd"), 0u) << "the password never reaches the log";
    EXPECT_EQ(UISystemProfile::GetInstance()->GetLastAccessSession(), QString("Branch.ini"));
}

// An untouched placeholder goes out empty, the service's remembered password logs in.
// A password with blanks goes out trimmed and is remembered as typed.
TEST_F(IpsecLoginTest, WhatThePasswordFieldSends) {
    const struct {
        const char* what;
        bool type;            // the user types the password
        const char* typed;
        const char* sent;     // acPassword
        const char* kept;     // the session's password
        bool unchangedLine;   // "[IPSEC pswd is not changed]"
    } cases[] = {
        {"untouched placeholder", false, "", "", "", true},
        {"blanks at both ends", true, "  Passw0rd  ", "Passw0rd", "  Passw0rd  ", false},
    };
    for (const auto& c : cases) {
        ui_test::SimLink link(
            Scenario(Profile("Branch.ini", kBranchFields,
                             R"("RemPwd": 1, "UserName": "alice", "Password": "Passw0rd")")));
        MainUI* window = Start(link);
        LoginKeyIPSECUI* view = Open(link, window);
        ShowBoth(window, view);
        ASSERT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString("******"));
        if (c.type) {
            ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_password"), QString(c.typed)));
        }
        const size_t unchanged = ui_test::LogCount("[IPSEC pswd is not changed]");
        const size_t connected = ui_test::LogCount(std::string(kStepKey) + "CONNECT_SUCCESS]");
        Login(view);
        const auto log = link.sim().Log();
        const auto logins = Requests(log, 4, 5);
        const auto sessions = Requests(log, 9, 3);
        ASSERT_EQ(logins.size(), 1u) << c.what;
        ASSERT_EQ(sessions.size(), 1u) << c.what;
        EXPECT_EQ(Field(*logins[0], "acPassword"), c.sent) << c.what;
        if (std::string(c.sent).empty()) {
            EXPECT_EQ(PayloadHex(*logins[0], 644, 128), std::string(256, '0')) << c.what;
        }
        EXPECT_EQ(Field(*sessions[0], "Password"), c.kept) << c.what;
        EXPECT_EQ(ui_test::LogCount("[IPSEC pswd is not changed]") - unchanged,
                  c.unchangedLine ? 1u : 0u)
            << c.what;
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(),
                  c.type ? QString(c.typed) : QString())
            << c.what;
        EXPECT_EQ(ui_test::LogCount(std::string(kStepKey) + "CONNECT_SUCCESS]"), connected + 1)
            << c.what;
        EXPECT_EQ(driver.Seen().size(), 1u) << c.what;
        driver.Clear();
        window_.reset();
    }
}

// Every way a login can fail after the field checks: the box the user reads, the main
// window told, the engine logged out, the view back.
TEST_F(IpsecLoginTest, RefusalsTheUserSees) {
    const char kStep6[] = "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP6_PPP_AUTH_FAILED";
    const char kTimeout[] = "UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CONNECT_TIMEOUT";
    const struct {
        const char* what;
        const char* reply;  // the scripted reply to the login
        const char* key;
        size_t steps;       // step reports before the end
        bool stepFailed;    // the last report named the failure (else: none came)
        bool save;
        const char* passwordAfter;
    } cases[] = {
        {"two steps, then PPP refused, remembered", R"({"series": ["0x80000", "0x80006", "0x80024"]})",
         kStep6, 2, true, true, "******"},
        {"two steps, then PPP refused", R"({"series": ["0x80000", "0x80006", "0x80024"]})", kStep6,
         2, true, false, ""},
        {"a renegotiation status", R"({"series": ["0x80009"]})",
         "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP3_IPSEC_RENEGO_OK", 0, true, false, ""},
        {"a status beyond the table", R"({"series": ["0x80030"]})",
         "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL", 0, true, true, "******"},
        {"a packet of another module", R"({"code": "0xB0000"})", kTimeout, 0, false, false, ""},
        {"no status at all", R"({"noReply": true})", kTimeout, 0, false, true, "Passw0rd"},
        {"one step, then silence", R"({"series": ["0x80000"]})", kTimeout, 1, false, false, ""},
    };
    ui_test::SimLink link(Scenario());
    MainUI* window = Start(link);
    for (const auto& c : cases) {
        LoginKeyIPSECUI* view = Open(link, window);
        ShowBoth(window, view);
        Type(view, "alice", QStringLiteral("Passw0rd"));
        Find<QCheckBox>(view, "cb_savePass")->setChecked(c.save);
        ASSERT_EQ(link.sim().Control(std::string("script push 4 5 ") + c.reply).compare(0, 2, "OK"), 0);
        SignalLog heard(view);
        const size_t from = link.sim().Log().size();
        driver.Answer("OK");
        // The engine's silence is waited out, shortened.
        uiSyncTimeoutDivisorSet(20);
        Login(view);
        uiSyncTimeoutDivisorSet(1);

        ASSERT_EQ(driver.Seen().size(), 2u) << c.what;
        EXPECT_EQ(driver.Seen()[1].text, KeyText(c.key)) << c.what;
        EXPECT_EQ(driver.Seen()[1].icon, QMessageBox::Warning) << c.what;
        EXPECT_EQ(heard.events,
                  Join({{"AutoFlag(false)", "Delete", "Delete", "Success(true)"},
                        Repeat("Delete", 2 * c.steps + (c.stepFailed ? 1 : 0)),
                        {"MainShow", "Init"}}))
            << c.what;
        ASSERT_TRUE(link.sim().WaitLog(from + 4)) << c.what;
        EXPECT_EQ(RequestCodes(link.sim().Log(), from),
                  (std::vector<std::string>{"9/3", "9/2", "4/5", "4/8"}))
            << c.what;
        EXPECT_TRUE(window->isVisible()) << c.what;
        EXPECT_TRUE(view->isVisible()) << c.what;
        EXPECT_FALSE(UIContext::GetInstance()->GetLogined()) << c.what;
        EXPECT_FALSE(Find<QPushButton>(window, "pb_connect")->isHidden()) << c.what;
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString(c.passwordAfter)) << c.what;
        EXPECT_TRUE(BubbleTexts().isEmpty()) << c.what;
        view->hide();
        driver.Clear();
    }
}

// Empty fields are refused before anything is remembered or sent; in certificate mode
// the certificate counts too, with its own text. A login that hid both windows, or an
// automatic one that started with both hidden, brings both back.
TEST_F(IpsecLoginTest, EmptyFieldsAreRefusedBeforeAnythingIsSent) {
    const struct {
        const char* what;
        const char* connection;
        const char* user;
        const char* password;
        bool shown;  // the window and the view on screen at Login
        const char* key;
    } cases[] = {
        {"no user name", "Branch", "", "Passw0rd", true, "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY"},
        {"no password", "Branch", "alice", "", true, "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY"},
        {"blanks only", "Branch", "alice", "   ", true, "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY"},
        {"no certificate", "Cert", "alice", "Passw0rd", true, "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CERT_PWD_EMPTY"},
        {"automatic, both hidden", "Branch", "alice", "", false, "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY"},
    };
    ui_test::SimLink link(
        R"("engine": {"ipsec": {"stepDelayMs": 0}, "certificates": []}, )"
        R"("config": {"LastAccessSession": "Branch.ini"}, "profiles": [)" +
        Profile("Branch.ini", kBranchFields) + "," + Profile("Cert.ini", kCertFields) + "]");
    MainUI* window = Start(link);
    for (const auto& c : cases) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(c.connection));
        LoginKeyIPSECUI* view = Open(link, window);
        if (c.shown) {
            ShowBoth(window, view);
        } else {
            window->hide();
        }
        Type(view, c.user, QString::fromLatin1(c.password));
        Find<QCheckBox>(view, "cb_savePass")->setChecked(true);
        SignalLog heard(view);
        const size_t from = link.sim().Log().size();
        const size_t seen = driver.Seen().size();
        driver.Answer("OK");
        if (!c.shown) {
            driver.AnswerLetEnd();  // the view, shown for the first time
        }
        Login(view);
        ASSERT_TRUE(driver.WaitSeen(seen + (c.shown ? 1 : 2))) << c.what;
        EXPECT_EQ(driver.Seen()[seen].text, KeyText(c.key)) << c.what;
        EXPECT_EQ(driver.Seen()[seen].icon, QMessageBox::Critical) << c.what;
        EXPECT_TRUE(RequestCodes(link.sim().Log(), from).empty()) << c.what;
        EXPECT_EQ(heard.events, c.shown ? (std::vector<std::string>{"AutoFlag(false)", "Delete", "Init"})
                                          : (std::vector<std::string>{"AutoFlag(false)", "Init"}))
            << c.what;
        EXPECT_TRUE(window->isVisible()) << c.what;
        EXPECT_TRUE(view->isVisible()) << c.what;
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString::fromLatin1(c.password))
            << c.what;
        view->hide();
        driver.Clear();
    }
}

// Without the engine's connection the session write warns, the request cannot go, and
// both windows come back with the password kept only when it is to be remembered.
TEST_F(IpsecLoginTest, NoEngineConnectionGivesTheNoAnswerText) {
    for (bool save : {false, true}) {
        ui_test::SimLink link(Scenario());
        MainUI* window = Start(link);
        LoginKeyIPSECUI* view = Open(link, window);
        ShowBoth(window, view);
        Type(view, "alice", QStringLiteral("Passw0rd"));
        Find<QCheckBox>(view, "cb_savePass")->setChecked(save);
        UI_Socket_CloseAll();
        SignalLog heard(view);
        const size_t failed = ui_test::LogCount("[IPSEC get login ret is failed!]");
        driver.Answer("OK");  // the session write's warning
        driver.Answer("OK");
        Login(view);
        const QString overtime = LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR;
        ASSERT_EQ(driver.Seen().size(), 3u);
        EXPECT_EQ(driver.Seen()[1].text, overtime);
        EXPECT_EQ(driver.Seen()[2].text, overtime);
        EXPECT_EQ(driver.Seen()[2].icon, QMessageBox::Warning);
        EXPECT_EQ(ui_test::LogCount("[IPSEC get login ret is failed!]"), failed + 1);
        EXPECT_EQ(heard.events, (std::vector<std::string>{"AutoFlag(false)", "Delete", "Init"}));
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), save ? QString("Passw0rd") : QString());
        const auto log = link.sim().Log();
        EXPECT_TRUE(Requests(log, 4, 5).empty());
        EXPECT_TRUE(Requests(log, 9, 3).empty());
        driver.Clear();
        window_.reset();
    }
}

// After a failed step the placeholder is back, and an untouched retry asks for the
// remembered password: it neither sends nor stores the placeholder.
TEST_F(IpsecLoginTest, PlaceholderAfterAFailedStepIsNoPassword) {
    ui_test::SimLink link(Scenario());
    MainUI* window = Start(link);
    LoginKeyIPSECUI* view = Open(link, window);
    ShowBoth(window, view);
    Type(view, "alice", QStringLiteral("Passw0rd"));
    Find<QCheckBox>(view, "cb_savePass")->click();
    ASSERT_EQ(link.sim()
                  .Control(R"(script push 4 5 {"series": ["0x80000", "0x80006", "0x8000A"]})")
                  .compare(0, 2, "OK"),
              0);
    driver.Answer("OK");
    Login(view);
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].text,
              KeyText("/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP3_IPSEC_TOUT"));
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString("******"));
    EXPECT_FALSE(LoginKeyIPSECUITestPeer::D(view)->passwordEdited);
    EXPECT_FALSE(LoginKeyIPSECUITestPeer::D(view)->passwordPressed);

    // Login again, untouched.
    window->show();
    const size_t connected = ui_test::LogCount(std::string(kStepKey) + "CONNECT_SUCCESS]");
    Login(view);
    const auto log = link.sim().Log();
    const auto logins = Requests(log, 4, 5);
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(Field(*logins[0], "acPassword"), "Passw0rd");
    EXPECT_EQ(PayloadHex(*logins[1], 644, 128), std::string(256, '0'));
    const auto sessions = Requests(log, 9, 3);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(Field(*sessions[1], "Password"), "") << "the stored password stays";
    EXPECT_EQ(ui_test::LogCount(std::string(kStepKey) + "CONNECT_SUCCESS]"), connected + 1);
    EXPECT_EQ(BubbleTexts(), QStringList{"Connected."});
    EXPECT_EQ(driver.Seen().size(), 2u);
    // The simulator still holds the password of the first login.
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    const CFM_SESSION_S* stored = UISystemProfile::GetInstance()->GetSession(QStringLiteral("Branch.ini"));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(Util_FieldToString(stored->Password, sizeof(stored->Password)), QString("Passw0rd"));
}

// A password of 127 UTF-8 bytes goes out whole; the key that would make it 128 is
// undone rather than emptying the request's field.
TEST_F(IpsecLoginTest, APasswordAtItsByteLimitGoesOutWhole) {
    const QString e = QString::fromUtf8("é");
    ui_test::SimLink link(Scenario());
    MainUI* window = Start(link);
    LoginKeyIPSECUI* view = Open(link, window);
    ShowBoth(window, view);
    Type(view, "alice", e.repeated(64) + "ab");
    ASSERT_EQ(Find<QLineEdit>(view, "le_password")->text(), e.repeated(63) + "a");
    driver.Answer("OK");  // the engine refuses alice with it
    Login(view);
    const auto log = link.sim().Log();
    const auto logins = Requests(log, 4, 5);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(Field(*logins[0], "acPassword"), (e.repeated(63) + "a").toStdString());
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].text,
              KeyText("/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP6_PPP_AUTH_FAILED"));
}

// In certificate mode the chosen item's certificate name goes with the login.
TEST_F(IpsecLoginTest, ACertificateLoginNamesTheChosenCertificate) {
    ui_test::SimLink link(Scenario(Profile("Branch.ini", kCertFields)));
    MainUI* window = Start(link);
    LoginKeyIPSECUI* view = Open(link, window);
    ShowBoth(window, view);
    ASSERT_EQ(Find<QComboBox>(view, "cb_CertList")->currentText(), QString("alice@example"));
    Type(view, "alice", QStringLiteral("Passw0rd"));
    const size_t named =
        ui_test::LogCount("[IPSEC send the login cert name][cert name is CERT:alice@example]");
    Login(view);
    const auto log = link.sim().Log();
    const auto logins = Requests(log, 4, 5);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(Field(*logins[0], "acCertName"), "CERT:alice@example");
    EXPECT_EQ(ui_test::LogCount("[IPSEC send the login cert name][cert name is CERT:alice@example]"),
              named + 1);
    EXPECT_EQ(BubbleTexts(), QStringList{"Connected."});
}

// A session that asks for an automatic login: Connect logs in without showing the view,
// with the remembered password, and the tray offers to cancel automatic login.
TEST_F(IpsecLoginTest, AutomaticLoginFromConnectShowsNoView) {
    ui_test::SimLink link(Scenario(Profile(
        "Branch.ini", kBranchFields,
        R"("RemPwd": 1, "AutoLogin": 1, "UserName": "alice", "Password": "Passw0rd")")));
    MainUI* window = Start(link);
    window->show();
    window->MainUI_LoginKey_Show();
    const auto log = link.sim().Log();
    const auto logins = Requests(log, 4, 5);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(Field(*logins[0], "acUserName"), "alice");
    EXPECT_EQ(PayloadHex(*logins[0], 644, 128), std::string(256, '0'));
    EXPECT_TRUE(driver.Seen().empty()) << "neither the view nor a box";
    EXPECT_EQ(BubbleTexts(), QStringList{"Connected."});
    EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
    EXPECT_FALSE(window->isVisible());
    QAction* cancel = nullptr;
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action->text() == KeyText("/UI_MAIN/UI_MAIN_CANCELAUTOLOG")) cancel = action;
    }
    ASSERT_NE(cancel, nullptr);
    EXPECT_TRUE(cancel->isEnabled()) << "the view's automatic-login flag reached the tray";
}

}  // namespace
