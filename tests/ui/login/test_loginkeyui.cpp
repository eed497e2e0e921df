// The SSL VPN login view: its meta-object and form, the sizes and texts per language,
// the password fields' filter, the boxes that follow each other, the user name's byte
// cap, the signals of Escape, close and destruction, and, against the simulator, the
// gateway drop-down with its site preference, the login pages with their certificate
// lists, the user fields from the session and a profile the service refuses.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyui.h"
#include "loginkeyui_p.h"
#include "mainui.h"
#include "mcomboboxitem.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

// The view's private data, for the checks no widget shows.
class LoginKeyUITestPeer {
public:
    static LoginKeyUIPrivate* D(LoginKeyUI* view) { return view->d; }
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

QListWidget* GatewayList(LoginKeyUI* view) {
    return qobject_cast<QListWidget*>(Find<QComboBox>(view, "cb_ipAddress")->view());
}

// The rows of the gateway popup as "text/delay".
QStringList Rows(LoginKeyUI* view) {
    QStringList rows;
    QListWidget* list = GatewayList(view);
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        if (row == nullptr) {
            rows << QStringLiteral("<no row widget>");
            continue;
        }
        const QList<QLabel*> labels = row->findChildren<QLabel*>();
        rows << row->MComboboxItem_Text_Get() + "/" + labels.last()->text();
    }
    return rows;
}

MComboboxItem* RowWidget(LoginKeyUI* view, int index) {
    QListWidget* list = GatewayList(view);
    return qobject_cast<MComboboxItem*>(list->itemWidget(list->item(index)));
}

void PressAndRelease(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// An SSL profile of the scenario with a session entry.
std::string Profile(const std::string& name, const std::string& fields,
                    const std::string& session = R"("RemPwd": 0)") {
    return R"({"name": ")" + name + R"(", "linkType": 1, "fields": {)" + fields +
           R"(}, "session": {)" + session + "}}";
}

class LoginKeyUITest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetConnectName(QStringLiteral("Office"));
        context->SetLinkType(1);
        context->SetAuthType(0);
        const UIGATEWAY_INFO_S none = {};
        context->SetBestGateWay(&none);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        window_ = std::make_unique<MainUI>(nullptr);
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        window_.reset();
        UIContext::GetInstance()->SetPluginMode(0);
        UIContext::GetInstance()->SetAuthType(0);
    }
    // A view built on the window, without its set-up.
    LoginKeyUI* Bare() { return new LoginKeyUI(window_.get()); }
    // A view set up as the launch sets it up, over the simulator's configuration.
    LoginKeyUI* Open(ui_test::SimLink& link) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        LoginKeyUI* view = Bare();
        view->Init();
        return view;
    }
    static void SetBest(const char* address, uint32_t port, uint32_t delay) {
        UIGATEWAY_INFO_S best = {};
        std::snprintf(best.acAddress, sizeof(best.acAddress), "%s", address);
        best.uiPort = port;
        best.uiDelay = delay;
        UIContext::GetInstance()->SetBestGateWay(&best);
    }

    std::unique_ptr<MainUI> window_;
    BoxDriver driver;
};

// ---- The class and its form ---------------------------------------------------------

// Plugins and the main window rely on the places of the signals and slots too.
TEST_F(LoginKeyUITest, SignalsAndSlotsStandInTheirPlaces) {
    const char* const expected[] = {
        "signal_setLoginSuccess(bool)", "signal_SendFirstLoginChangePSWDObject()",
        "signal_setAutoFlag(bool)", "signal_ShowMainui()", "signal_LoginkeyUIDelete()",
        "signal_LoginkeyUIInit()", "signal_LoginkeyTrayAcConnect(bool)",
        "signal_MainUI_OpenHelp()", "signal_MainUI_Language_Changed()", "signal_PwdEnable(bool)",
        "LoginKeyUI_Host_Check()", "LoginKeyUI_Cache_Clear(int)",
        "LoginKeyUI_IPName_Show(QString,LINK_TYPE)", "LoginKeyUI_Certificate_Refresh()",
        "on_tb_refreshCertificate_2_clicked()", "on_tb_refreshCertificate_clicked()",
        "on_cb_autoLogin_stateChanged(int)", "on_cb_savePass_stateChanged(int)",
        "on_le_password_textEdited(QString)", "GetCodeStrSlot(QString)",
        "on_cb_Best_stateChanged(int)", "closeEvent(QCloseEvent*)", "keyPressEvent(QKeyEvent*)",
        "on_le_username_textChanged(QString)", "LoginKeyUI_Plugin_SSLLogin()",
        "LoginKeyUI_OpenHelp_slot()", "LoginKeyUI_Language_Changed_slot()",
        "LoginKeyUI_Change_AutoLogin_slot(bool)", "LoginKeyUI_Login_click()",
        "LoginKeyUI_AutoBest_IPList(QStringList)", "LoginKeyUI_Refresh_IPList()",
        "LoginKeyUI_GetCurrentIpIndex(QString)", "LoginKeyUI_Plugin_Login()"};
    const QMetaObject& meta = LoginKeyUI::staticMetaObject;
    const int offset = meta.methodOffset();
    ASSERT_EQ(meta.methodCount() - offset, 33);
    for (int i = 0; i < 33; ++i) {
        const QMetaMethod method = meta.method(offset + i);
        EXPECT_EQ(method.methodSignature().toStdString(), expected[i]) << "index " << i;
        EXPECT_EQ(method.methodType(), i < 10 ? QMetaMethod::Signal : QMetaMethod::Slot)
            << expected[i];
    }
    EXPECT_EQ(meta.method(offset + 31).returnType(), QMetaType::Int);
}

TEST_F(LoginKeyUITest, FormTreeAsBuilt) {
    LoginKeyUI* view = Bare();
    EXPECT_STREQ(view->metaObject()->className(), "LoginKeyUI");
    EXPECT_EQ(view->size(), QSize(401, 315));
    EXPECT_EQ(view->minimumSize(), QSize(0, 0));
    EXPECT_EQ(view->maximumSize(), QSize(550, 315));
    EXPECT_FALSE(view->windowIcon().isNull());
    EXPECT_TRUE(view->styleSheet().startsWith("QComboBox:editable {\n    background:transparent;"));
    EXPECT_EQ(view->windowModality(), Qt::WindowModal) << "application-modal only on macOS";

    struct Widget {
        const char* name;
        const char* className;
        const char* parent;  // the widget whose layout holds it; null: the view
    } widgets[] = {
        {"sw_label", "QLabel", nullptr},
        {"l_serverAddress", "QLabel", nullptr},
        {"cb_ipAddress", "QComboBox", nullptr},
        {"cb_Best", "QCheckBox", nullptr},
        {"groupBox", "QGroupBox", nullptr},
        {"stackedWidget", "QStackedWidget", "groupBox"},
        {"l_username", "QLabel", "stackedWidgetPage1"},
        {"le_username", "QLineEdit", "stackedWidgetPage1"},
        {"l_password", "QLabel", "stackedWidgetPage1"},
        {"le_password", "QLineEdit", "stackedWidgetPage1"},
        {"l_password_2", "QLabel", "stackedWidgetPage1"},
        {"cb_savePass", "QCheckBox", "stackedWidgetPage1"},
        {"cb_autoLogin", "QCheckBox", "stackedWidgetPage1"},
        {"l_certificate", "QLabel", "stackedWidgetPage2"},
        {"USBKeyList", "QComboBox", "stackedWidgetPage2"},
        {"tb_refreshCertificate", "QToolButton", "stackedWidgetPage2"},
        {"l_cerPassword", "QLabel", "stackedWidgetPage2"},
        {"le_cerPassword", "QLineEdit", "stackedWidgetPage2"},
        {"l_certificateAnony", "QLabel", "stackedWidgetPage3"},
        {"cb_CertificateList_2", "QComboBox", "stackedWidgetPage3"},
        {"tb_refreshCertificate_2", "QToolButton", "stackedWidgetPage3"},
        {"pb_login_SSL", "QPushButton", nullptr},
    };
    for (const Widget& w : widgets) {
        QWidget* found = Find<QWidget>(view, w.name);
        ASSERT_NE(found, nullptr) << w.name;
        EXPECT_STREQ(found->metaObject()->className(), w.className) << w.name;
        if (w.parent == nullptr) {
            EXPECT_EQ(found->parentWidget(), view) << w.name;
        } else {
            EXPECT_EQ(found->parentWidget()->objectName(), QString(w.parent)) << w.name;
        }
    }
    auto* pages = Find<QStackedWidget>(view, "stackedWidget");
    ASSERT_EQ(pages->count(), 4);
    const char* const pageNames[] = {"stackedWidgetPage1", "stackedWidgetPage2",
                                     "stackedWidgetPage3", "page"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), QString(pageNames[i]));
    }
    EXPECT_EQ(pages->currentIndex(), 1) << "the form shows the certificate page";

    auto* combo = Find<QComboBox>(view, "cb_ipAddress");
    EXPECT_EQ(combo->minimumSize(), QSize(210, 26));
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->maxVisibleItems(), 16);
    for (const char* name : {"USBKeyList", "cb_CertificateList_2"}) {
        EXPECT_EQ(Find<QComboBox>(view, name)->minimumSize(), QSize(222, 23)) << name;
        EXPECT_EQ(Find<QComboBox>(view, name)->maxVisibleItems(), 8) << name;
    }
    for (const char* name : {"tb_refreshCertificate", "tb_refreshCertificate_2"}) {
        auto* button = Find<QToolButton>(view, name);
        EXPECT_EQ(button->minimumSize(), QSize(25, 24)) << name;
        EXPECT_EQ(button->maximumSize(), QSize(25, 24)) << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
        EXPECT_EQ(button->text(), QString("...")) << name;
        EXPECT_EQ(button->accessibleName(), QString("...")) << name;
    }
    auto* banner = Find<QLabel>(view, "sw_label");
    EXPECT_EQ(banner->minimumSize(), QSize(400, 91));
    EXPECT_EQ(banner->maximumSize(), QSize(1200, 240));
    EXPECT_TRUE(banner->text().isEmpty());
    EXPECT_TRUE(banner->styleSheet().contains("background_mainwnd.png"));
    EXPECT_EQ(Find<QLabel>(view, "l_serverAddress")->alignment(), Qt::AlignCenter);
    auto* group = Find<QGroupBox>(view, "groupBox");
    EXPECT_EQ(group->minimumSize(), QSize(369, 130));
    EXPECT_EQ(group->maximumSize(), QSize(922, 260));
    auto* login = Find<QPushButton>(view, "pb_login_SSL");
    EXPECT_EQ(login->font().pointSize(), 11);
    EXPECT_EQ(login->styleSheet(), QString("QPushButton\n{\n\tcolor:rgb(0,0,0)\n}"));
    EXPECT_EQ(Find<QLineEdit>(view, "le_cerPassword")->echoMode(), QLineEdit::Password);

    struct Name {
        const char* widget;
        const char* accessible;
    } names[] = {{"cb_Best", "自动"},       {"le_username", "用户名："}, {"le_password", "密码："},
                 {"le_cerPassword", "密码："}, {"cb_savePass", "记住密码"}, {"cb_autoLogin", "自动登录"},
                 {"cb_ipAddress", ""},      {"USBKeyList", ""},         {"cb_CertificateList_2", ""},
                 {"pb_login_SSL", ""}};
    for (const Name& n : names) {
        EXPECT_EQ(Find<QWidget>(view, n.widget)->accessibleName(), QString::fromUtf8(n.accessible))
            << n.widget;
    }
    struct Buddy {
        const char* label;
        const char* field;
    } buddies[] = {{"l_username", "le_username"},       {"l_password", "le_password"},
                   {"l_password_2", "le_password"},     {"l_certificate", "USBKeyList"},
                   {"l_cerPassword", "le_cerPassword"}, {"l_certificateAnony", "cb_CertificateList_2"}};
    for (const Buddy& b : buddies) {
        EXPECT_EQ(Find<QLabel>(view, b.label)->buddy(), Find<QWidget>(view, b.field)) << b.label;
    }
    const char* const tabOrder[] = {"pb_login_SSL",   "le_username",          "le_password",
                                    "cb_savePass",    "cb_autoLogin",         "cb_ipAddress",
                                    "cb_Best",        "USBKeyList",           "tb_refreshCertificate",
                                    "le_cerPassword", "cb_CertificateList_2", "tb_refreshCertificate_2"};
    // The focus chain, from the login button round, as far as it passes these widgets.
    QStringList chain;
    QWidget* at = Find<QWidget>(view, tabOrder[0]);
    for (int steps = 0; steps < 200 && chain.size() < 12; ++steps, at = at->nextInFocusChain()) {
        for (const char* name : tabOrder) {
            if (at->objectName() == QLatin1String(name) && !chain.contains(at->objectName())) {
                chain << at->objectName();
            }
        }
    }
    QStringList expected;
    for (const char* name : tabOrder) expected << name;
    EXPECT_EQ(chain, expected);
}

// The dialog's fixed size and the banner's per language; languages 1031 and 1040 keep
// the form's banner.
TEST_F(LoginKeyUITest, SizeTablePerLanguage) {
    struct Case {
        int language;
        QSize dialog;
        QSize banner;
    } cases[] = {
        {1033, {461, 348}, {461, 125}}, {2052, {461, 348}, {461, 125}},
        {1031, {430, 320}, {0, 0}},     {1034, {480, 332}, {480, 108}},
        {1049, {480, 332}, {480, 108}}, {1036, {500, 336}, {500, 113}},
        {1040, {410, 314}, {0, 0}},     {2070, {550, 348}, {550, 125}},
        {1041, {461, 348}, {461, 125}},
    };
    for (const Case& c : cases) {
        LanguageSetting::GetInstance()->SetLanguageId(c.language);
        LoginKeyUI* view = Bare();
        auto* banner = Find<QLabel>(view, "sw_label");
        const QSize formBanner = banner->size();
        view->SetLanguageText();
        EXPECT_EQ(view->size(), c.dialog) << c.language;
        EXPECT_EQ(view->minimumSize(), c.dialog) << c.language;
        EXPECT_EQ(view->maximumSize(), c.dialog) << c.language;
        EXPECT_EQ(view->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        EXPECT_EQ(view->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        EXPECT_EQ(banner->size(), c.banner.isEmpty() ? formBanner : c.banner) << c.language;
        delete view;
    }
    LanguageSetting::GetInstance()->SetLanguageId(1033);
}

TEST_F(LoginKeyUITest, TextsAndToolTipsOfBothLanguages) {
    ui_test::SimLink link;
    for (int language : {1033, 2052}) {
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        LoginKeyUI* view = Open(link);
        EXPECT_EQ(view->windowTitle(), KeyText("/UI_LOGINKEY/UI_LOGINKEY_TITLE"));
        struct Text {
            const char* widget;
            const char* key;
        } texts[] = {
            {"l_serverAddress", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_SERVERADDRESS"},
            {"l_username", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_USERNAME"},
            {"l_password", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_PASSWORD"},
            {"l_certificate", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERTIFICATE"},
            {"l_cerPassword", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERPASSWORD"},
            {"l_certificateAnony", "/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERTIFICATEANONY"},
        };
        for (const Text& t : texts) {
            EXPECT_FALSE(KeyText(t.key).isEmpty()) << t.key;
            EXPECT_EQ(Find<QLabel>(view, t.widget)->text(), KeyText(t.key)) << t.widget;
        }
        EXPECT_EQ(Find<QGroupBox>(view, "groupBox")->title(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_GROUPBOX_LOGIN"));
        EXPECT_EQ(Find<QCheckBox>(view, "cb_Best")->text(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_BEST"));
        EXPECT_EQ(Find<QCheckBox>(view, "cb_savePass")->text(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_SAVEPASS"));
        EXPECT_EQ(Find<QCheckBox>(view, "cb_autoLogin")->text(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_AUTOLOGIN"));
        EXPECT_EQ(Find<QPushButton>(view, "pb_login_SSL")->text(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_PUSHBUTTON_LOGIN"));
        EXPECT_EQ(Find<QLineEdit>(view, "le_username")->toolTip(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_USERNAME_TOOLTIP"));
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->toolTip(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_PASSWORD_TOOLTIP"));
        EXPECT_EQ(Find<QLineEdit>(view, "le_cerPassword")->toolTip(),
                  KeyText("/UI_LOGINKEY/UI_LOGINKEY_CERTPASSWORDTOOLTIP"));
        EXPECT_TRUE(Find<QLabel>(view, "l_password_2")->text().isEmpty());
        delete view;
    }
}

TEST_F(LoginKeyUITest, CustomisedBannerOnlyWhenItsFileExists) {
    const QString dir = QDir::tempPath() + "/vt-skin/";
    ASSERT_TRUE(QDir().mkpath(dir + "image/Customized/common"));
    UIContext::GetInstance()->SetInstallDir(dir);
    LoginKeyUI* view = Bare();
    const QString formStyle = Find<QLabel>(view, "sw_label")->styleSheet();
    view->SetCustomizedSkin();
    EXPECT_EQ(Find<QLabel>(view, "sw_label")->styleSheet(), formStyle);
    const QString banner = dir + "image/Customized/common/mcur_background.png";
    QFile(banner).open(QIODevice::WriteOnly);
    view->SetCustomizedSkin();
    EXPECT_EQ(Find<QLabel>(view, "sw_label")->styleSheet(), "border-image: url(" + banner + ");");
    QDir(dir).removeRecursively();
}

// What a user sees of the certificate boxes: white boxes that show their rows, never
// black ones.
TEST_F(LoginKeyUITest, CertificateBoxesShowOnWhite) {
    ui_test::SimLink link;
    UIContext::GetInstance()->SetAuthType(2);
    LoginKeyUI* view = Open(link);
    for (const char* name : {"USBKeyList", "cb_CertificateList_2", "cb_ipAddress"}) {
        auto* box = Find<QComboBox>(view, name);
        box->resize(222, 26);
        const QImage picture = box->grab().toImage();
        const QColor inside = picture.pixelColor(picture.width() * 3 / 4 - 10, picture.height() / 2);
        EXPECT_GT(inside.lightness(), 200) << name << " " << inside.name().toStdString();
    }
}

// ---- Fields and boxes ---------------------------------------------------------------

TEST_F(LoginKeyUITest, InputLimitsAndThePasswordFilter) {
    LoginKeyUI* view = Bare();
    view->SetInputControl();
    auto* user = Find<QLineEdit>(view, "le_username");
    auto* password = Find<QLineEdit>(view, "le_password");
    auto* certPassword = Find<QLineEdit>(view, "le_cerPassword");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(user->maxLength(), 255);
    for (QLineEdit* secret : {password, certPassword}) {
        EXPECT_EQ(secret->maxLength(), 127);
        EXPECT_EQ(secret->contextMenuPolicy(), Qt::NoContextMenu);
        ASSERT_NE(secret->validator(), nullptr);
    }
    ASSERT_NE(user->validator(), nullptr);

    // What the filter swallows, field by field.
    struct Case {
        QLineEdit* field;
        const char* what;
        std::function<QEvent*()> event;
        bool swallowed;
    };
    auto key = [](int k, Qt::KeyboardModifiers m) {
        return [k, m]() -> QEvent* { return new QKeyEvent(QEvent::KeyPress, k, m); };
    };
    auto release = [](Qt::MouseButton b) {
        return [b]() -> QEvent* {
            return new QMouseEvent(QEvent::MouseButtonRelease, QPointF(2, 2), b, Qt::NoButton,
                                   Qt::NoModifier);
        };
    };
    const Case cases[] = {
        {password, "paste", key(Qt::Key_V, Qt::ControlModifier), true},
        {password, "copy", key(Qt::Key_C, Qt::ControlModifier), true},
        {password, "cut", key(Qt::Key_X, Qt::ControlModifier), false},
        {password, "middle release", release(Qt::MiddleButton), true},
        {password, "left release", release(Qt::LeftButton), false},
        {certPassword, "paste", key(Qt::Key_V, Qt::ControlModifier), true},
        {certPassword, "copy", key(Qt::Key_C, Qt::ControlModifier), true},
        {certPassword, "middle release", release(Qt::MiddleButton), true},
        {user, "paste", key(Qt::Key_V, Qt::ControlModifier), false},
        {user, "copy", key(Qt::Key_C, Qt::ControlModifier), false},
        {user, "middle release", release(Qt::MiddleButton), false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<QEvent> event(c.event());
        EXPECT_EQ(view->eventFilter(c.field, event.get()), c.swallowed)
            << c.field->objectName().toStdString() << " " << c.what;
    }

    // As a user sees it: the clipboard reaches the user name, not the passwords.
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    for (QLineEdit* field : {user, password, certPassword}) {
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(user->text(), QString("pasted"));
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_TRUE(certPassword->text().isEmpty());
}

// The first press clears the placeholder (or whatever the field holds) once; text typed
// afterwards stays. Typing marks the password as edited, a text set by code does not.
TEST_F(LoginKeyUITest, FirstPressClearsThePasswordFieldOnce) {
    struct Case {
        const char* before;
        bool logged;
    } cases[] = {{"******", true}, {"", false}};
    for (const Case& c : cases) {
        LoginKeyUI* view = Bare();
        view->SetInputControl();
        LoginKeyUIPrivate* d = LoginKeyUITestPeer::D(view);
        auto* password = Find<QLineEdit>(view, "le_password");
        password->setText(QString::fromLatin1(c.before));
        EXPECT_FALSE(d->passwordEdited) << "set by code";
        const size_t logged = ui_test::LogCount("[le_password->clear()1431)]");
        QTest::mouseClick(password, Qt::LeftButton);
        EXPECT_TRUE(password->text().isEmpty()) << c.before;
        EXPECT_EQ(ui_test::LogCount("[le_password->clear()1431)]") - logged, c.logged ? 1u : 0u);
        EXPECT_TRUE(d->passwordPlaceholderCleared);
        EXPECT_FALSE(d->passwordEdited) << "clearing is no edit";
        QTest::keyClicks(password, QStringLiteral("abc"));
        EXPECT_TRUE(d->passwordEdited);
        QTest::mouseClick(password, Qt::LeftButton);
        EXPECT_EQ(password->text(), QString("abc")) << "only the first press clears";
        delete view;
    }
}

TEST_F(LoginKeyUITest, RememberAndAutomaticBoxesFollowEachOther) {
    struct Case {
        bool saveBefore, autoBefore;
        const char* click;  // the box the user clicks
        bool saveAfter, autoAfter;
    } cases[] = {
        {false, false, "cb_autoLogin", true, true},  // automatic login needs the password
        {true, true, "cb_savePass", false, false},   // no password, no automatic login
        {true, true, "cb_autoLogin", true, false},
        {false, false, "cb_savePass", true, false},
    };
    for (const Case& c : cases) {
        LoginKeyUI* view = Bare();
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

// The user name fills a 256-byte field: a text of more than 255 UTF-8 bytes is refused
// and the last one that fitted comes back (the validator alone allows 127 characters,
// up to 381 bytes of these). A browser's login takes names as they come.
TEST_F(LoginKeyUITest, UserNameOverItsBytesIsRefused) {
    const QString han = QString::fromUtf8("中");  // 3 bytes
    const QString fits = han.repeated(84) + "ab";  // 254 bytes
    for (int mode : {0, 1}) {
        UIContext::GetInstance()->SetPluginMode(mode);
        LoginKeyUI* view = Bare();
        view->SetInputControl();
        auto* user = Find<QLineEdit>(view, "le_username");
        user->setText(han.repeated(84) + "a");
        QTest::keyClick(user, Qt::Key_B);  // 254 bytes
        EXPECT_EQ(user->text(), fits);
        QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, han);  // 257 bytes
        QApplication::sendEvent(user, &typed);
        EXPECT_EQ(user->text(), mode == 0 ? fits : fits + han) << "mode " << mode;
        user->setText(han.repeated(86));  // 258 bytes
        EXPECT_EQ(user->text(), mode == 0 ? fits : han.repeated(86)) << "mode " << mode;
        EXPECT_EQ(LoginKeyUITestPeer::D(view)->userName, mode == 0 ? fits : QString());
        delete view;
    }
}

// Each password goes into a 128-byte field: 127 characters may be 254 bytes, and a
// password that does not fit would go out empty (the service then logs in with the
// remembered one). Typing stops at 127 bytes, the last text that fitted kept.
TEST_F(LoginKeyUITest, PasswordFieldsHoldAtMostTheirBytes) {
    const QString accented = QString::fromUtf8("\xc3\xa9");  // 2 bytes
    LoginKeyUI* view = Bare();
    view->SetInputControl();
    for (const char* name : {"le_password", "le_cerPassword"}) {
        ASSERT_TRUE(BoxDriver::TypeInto(view, name, accented.repeated(64)));
        EXPECT_EQ(Find<QLineEdit>(view, name)->text(), accented.repeated(63)) << name;
        ASSERT_TRUE(BoxDriver::TypeInto(view, name, accented.repeated(60) + "abcdefgh"));
        EXPECT_EQ(Find<QLineEdit>(view, name)->text(), accented.repeated(60) + "abcdefg")
            << name << ": one byte fits where two do not";
    }
    delete view;
}

// ---- Signals ------------------------------------------------------------------------

TEST_F(LoginKeyUITest, EscapeCloseAndDestructionReportTheViewGone) {
    LoginKeyUI* view = Bare();
    std::vector<std::string> order;
    QObject::connect(view, &LoginKeyUI::signal_ShowMainui, [&] { order.push_back("show"); });
    QObject::connect(view, &LoginKeyUI::signal_LoginkeyUIDelete, [&] { order.push_back("gone"); });
    QTest::keyClick(view, Qt::Key_A);
    EXPECT_TRUE(order.empty()) << "other keys report nothing";
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(order, (std::vector<std::string>{"show", "gone"}));
    EXPECT_EQ(view->result(), QDialog::Rejected);
    order.clear();
    view->close();
    EXPECT_EQ(order, (std::vector<std::string>{"show", "gone"}));
    order.clear();
    delete view;
    EXPECT_EQ(order, (std::vector<std::string>{"gone"}));
}

TEST_F(LoginKeyUITest, DynamicCodeIsKeptAndNeverLogged) {
    LoginKeyUI* view = Bare();
    view->GetCodeStrSlot(QStringLiteral("918273"));
    EXPECT_EQ(LoginKeyUITestPeer::D(view)->dynamicCode, QString("918273"));
    EXPECT_EQ(ui_test::LogCount("918273"), 0u);
    EXPECT_GE(ui_test::LogCount("[LoginKey ui get dynamic code is ******]"), 1u);
}

// In plugin mode the view only relays the browser's login; otherwise it follows the
// window's automatic-login switch and builds its lists.
TEST_F(LoginKeyUITest, PluginModeOnlyRelaysTheBrowsersLogin) {
    ui_test::SimLink link;
    for (int mode : {0, 1}) {
        UIContext::GetInstance()->SetPluginMode(mode);
        const size_t before = link.sim().Log().size();
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        LoginKeyUI* view = Bare();
        QSignalSpy ready(view, &LoginKeyUI::signal_LoginkeyUIInit);
        view->Init();
        const size_t plugin = ui_test::LogCount("[Loginkey ui plugin login][into loginkey ui plugin login]");
        emit window_->signal_DoLogin();
        emit window_->signal_Main_DisAutoLogin(true);
        EXPECT_EQ(ui_test::LogCount("[Loginkey ui plugin login][into loginkey ui plugin login]") - plugin,
                  mode == 1 ? 1u : 0u);
        EXPECT_EQ(Find<QCheckBox>(view, "cb_autoLogin")->isChecked(), mode == 0);
        EXPECT_EQ(ready.count(), mode == 0 ? 1 : 0);
        EXPECT_EQ(Find<QComboBox>(view, "cb_ipAddress")->count(), mode == 0 ? 3 : 0);
        EXPECT_EQ(Find<QComboBox>(view, "cb_ipAddress")->styleSheet().isEmpty(), mode == 1);
        EXPECT_EQ(Find<QLineEdit>(view, "le_username")->maxLength(), mode == 0 ? 255 : 32767);
        // Reading the configuration is the test's; a plugin's view asks nothing more than
        // the browser's login it relayed.
        EXPECT_EQ(link.sim().Log().size() - before, mode == 0 ? 3u : 2u) << "mode " << mode;
        delete view;
    }
}

// ---- Gateways ------------------------------------------------------------------------

// The happy engine's "Office" lets the service choose: the box is checked, the drop-down
// disabled on the best gateway; one row per gateway of the service, with its delay.
TEST_F(LoginKeyUITest, AutomaticChoiceShowsTheBestGatewayAndEveryRow) {
    ui_test::SimLink link;
    SetBest("192.0.2.11", 443, 12);
    LoginKeyUI* view = Open(link);
    auto* combo = Find<QComboBox>(view, "cb_ipAddress");
    EXPECT_TRUE(Find<QCheckBox>(view, "cb_Best")->isChecked());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->currentText(), QString("192.0.2.11:443"));
    EXPECT_EQ(Rows(view), (QStringList{"192.0.2.10:443/35ms", "192.0.2.11:443/12ms",
                                        "192.0.2.12:8443/80ms"}));
    EXPECT_EQ(view->LoginKeyUI_GetCurrentIpIndex("192.0.2.12:8443"), 2);
    EXPECT_EQ(view->LoginKeyUI_GetCurrentIpIndex("192.0.2.99:443"), -1);
    EXPECT_EQ(LoginKeyUITestPeer::D(view)->gatewayAddress, QString("192.0.2.11:443"));
    EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), 0);
    // The profile and the list; no site preference for the default gateway.
    EXPECT_EQ(RequestCodes(link.sim().Log()), (std::vector<std::string>{"9/2", "9/6", "1/18"}));
    const auto log1 = link.sim().Log();
    const auto read = Requests(log1, 9, 6);
    EXPECT_EQ(std::string((*read[0])["text"].GetString()), "Office.ini");
    // The profile's entries are the service's now.
    const CFM_SSL_PROFILE_S* profile = LoginKeyUITestPeer::D(view)->sslProfile;
    EXPECT_STREQ(profile->astGateway[2].acAddress, "192.0.2.12");
    EXPECT_EQ(profile->astGateway[2].uiDelay, 80u);
    EXPECT_EQ(profile->uiGatewayNum, 2u) << "the count stays the profile's";

    // Unchecking only enables the drop-down; checking shows the best gateway again.
    Find<QCheckBox>(view, "cb_Best")->setChecked(false);
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_EQ(combo->currentText(), QString("192.0.2.11:443"));
    const UIGATEWAY_INFO_S none = {};
    UIContext::GetInstance()->SetBestGateWay(&none);
    Find<QCheckBox>(view, "cb_Best")->setChecked(true);
    EXPECT_EQ(combo->currentText(), QString(":0")) << "a best gateway never filled";
}

// Without automatic choice the profile's default decides what the closed drop-down shows
// first. Only 0 to 15 is an index into the profile's 16 entries: any other stored value
// counts as no default, and nothing past the record is read.
TEST_F(LoginKeyUITest, DefaultGatewayOfTheProfile) {
    const std::string list =
        R"("astGateway": [{"acAddress": "10.9.9.8", "uiPort": 444, "uiDelay": 5},
                          {"acAddress": "10.9.9.9", "uiPort": 445, "uiDelay": 6}])";
    struct Case {
        const char* name;
        std::string fields;
        const char* shown;
    } cases[] = {
        {"Address", R"("uiDefaultGateway": "0xFFFFFFFF", "acGatewayAddress": "10.1.1.1", "uiPort": 4443)",
         "10.1.1.1:4443"},
        {"Nothing", R"("uiDefaultGateway": "0xFFFFFFFF")", ":"},
        {"FirstEntry", R"("uiDefaultGateway": "0xFFFFFFFF", "uiGatewayNum": 2, )" + list, "10.9.9.8:444"},
        // The set-up shows the profile's entry 1, then the user fields put the service's
        // entry 1 in its place.
        {"Second", R"("uiDefaultGateway": 1, "uiGatewayNum": 2, )" + list, "192.0.2.11:443"},
        {"Twenty", R"("uiDefaultGateway": 20, "acGatewayAddress": "10.1.1.1", "uiPort": 4443)",
         "10.1.1.1:4443"},
        {"Huge", R"("uiDefaultGateway": "0x7FFFFFFF", "acGatewayAddress": "10.1.1.1", "uiPort": 4443)",
         "10.1.1.1:4443"},
    };
    std::string profiles;
    for (const Case& c : cases) {
        profiles += (profiles.empty() ? "" : ",") + Profile(std::string(c.name) + ".ini", c.fields);
    }
    ui_test::SimLink link(R"("profiles": [)" + profiles + "]");
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(c.name));
        LoginKeyUI* view = Open(link);
        auto* combo = Find<QComboBox>(view, "cb_ipAddress");
        EXPECT_FALSE(Find<QCheckBox>(view, "cb_Best")->isChecked()) << c.name;
        EXPECT_TRUE(combo->isEnabled()) << c.name;
        EXPECT_EQ(combo->itemText(0), QString(c.shown)) << c.name;
        EXPECT_EQ(combo->count(), 3) << c.name;
        delete view;
    }
}

// Picking a row: its text goes to row 0, the popup closes, the service is asked about
// that gateway's record alone, and the page follows the type it answers.
TEST_F(LoginKeyUITest, PickingARowAsksTheServiceAndShowsItsPage) {
    ui_test::SimLink link(R"("profiles": [)" + Profile("Manual.ini", R"("uiDefaultGateway": 0)") + "]");
    UIContext::GetInstance()->SetConnectName(QStringLiteral("Manual"));
    LoginKeyUI* view = Open(link);
    auto* combo = Find<QComboBox>(view, "cb_ipAddress");
    auto* pages = Find<QStackedWidget>(view, "stackedWidget");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QString("192.0.2.10:443"));

    view->show();  // the popup needs a shown drop-down
    driver.AnswerLetEnd();
    ASSERT_TRUE(driver.WaitSeen(1));
    combo->showPopup();
    ASSERT_TRUE(combo->view()->isVisible());
    PressAndRelease(RowWidget(view, 2));
    EXPECT_EQ(combo->itemText(0), QString("192.0.2.12:8443"));
    EXPECT_EQ(combo->currentText(), QString("192.0.2.12:8443"));
    EXPECT_FALSE(combo->view()->isVisible());
    EXPECT_EQ(LoginKeyUITestPeer::D(view)->gatewayAddress, QString("192.0.2.12:8443"));
    const auto log2 = link.sim().Log();
    const auto asks = Requests(log2, 1, 4);
    ASSERT_EQ(asks.size(), 1u);
    const rapidjson::Value& f = (*asks[0])["fields"];
    EXPECT_EQ(f["uiLanguage"].GetUint(), 1u);
    EXPECT_EQ(std::string(f["acGateway"].GetString()), "192.0.2.12:8443");
    EXPECT_EQ(f["uiAutoBest"].GetUint(), 1u);
    EXPECT_EQ(f["uiGatewayNum"].GetUint(), 1u);
    EXPECT_EQ(f["uiDefaultGateway"].GetUint(), 0u);
    EXPECT_EQ(std::string(f["astGateway"][0]["acAddress"].GetString()), "192.0.2.12");
    EXPECT_EQ(f["astGateway"][0]["uiPort"].GetUint(), 8443u);
    EXPECT_EQ(f["astGateway"][0]["uiDelay"].GetUint(), 80u);
    EXPECT_EQ(std::string(f["astGateway"][1]["acAddress"].GetString()), "");
    EXPECT_EQ(pages->currentIndex(), 0);

    struct Case {
        const char* reply;  // the scripted answer to the next site preference
        int page;
        const char* certificates;  // the box whose list was loaded, or null
    } cases[] = {
        {R"({"code": "0x10000", "payload": {"record": "UIFIRST_CONNECT_CONF_S", "fields": {"uiAuthType": 2}}})",
         1, "USBKeyList"},
        {R"({"code": "0x10000", "payload": {"record": "UIFIRST_CONNECT_CONF_S", "fields": {"uiAuthType": 7}}})",
         1, nullptr},
        {R"({"code": "0x10000", "payload": {"record": "UIFIRST_CONNECT_CONF_S", "fields": {"uiAuthType": 1}}})",
         2, "cb_CertificateList_2"},
        {R"({"code": "0x10001"})", 0, nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(link.sim().Control(std::string("script push 1 4 ") + c.reply).compare(0, 2, "OK"), 0);
        const size_t certs = Requests(link.sim().Log(), 3, 15).size();
        PressAndRelease(RowWidget(view, 1));
        EXPECT_EQ(pages->currentIndex(), c.page) << c.reply;
        EXPECT_EQ(Requests(link.sim().Log(), 3, 15).size() - certs, c.certificates ? 1u : 0u);
        if (c.certificates != nullptr) {
            EXPECT_EQ(Find<QComboBox>(view, c.certificates)->itemText(0), QString("alice@example"));
        }
    }
    EXPECT_EQ(UIContext::GetInstance()->GetAuthType(), 0) << "the view keeps its answers";
    view->hide();
}

// A row the profile's list did not make has no record: the service is asked about the
// gateway its text names, never about an entry before the list.
TEST_F(LoginKeyUITest, ARowWithoutRecordAsksAboutItsOwnText) {
    ui_test::SimLink link(R"("profiles": [)" + Profile("Manual.ini", R"("uiDefaultGateway": 0)") + "]");
    UIContext::GetInstance()->SetConnectName(QStringLiteral("Manual"));
    LoginKeyUI* view = Open(link);
    const QStringList extra{"vpn.example.com:8443:25", "42"};
    ASSERT_TRUE(QMetaObject::invokeMethod(view, "LoginKeyUI_AutoBest_IPList",
                                          Q_ARG(QStringList, extra)));
    EXPECT_EQ(Rows(view).mid(3), (QStringList{"vpn.example.com:8443/25ms", "42/42ms"}));
    EXPECT_EQ(view->LoginKeyUI_GetCurrentIpIndex("vpn.example.com:8443"), -1);
    PressAndRelease(RowWidget(view, 3));
    const auto log3 = link.sim().Log();
    const auto asks = Requests(log3, 1, 4);
    ASSERT_EQ(asks.size(), 1u);
    const rapidjson::Value& f = (*asks[0])["fields"];
    EXPECT_EQ(std::string(f["acGateway"].GetString()), "vpn.example.com:8443");
    EXPECT_EQ(std::string(f["astGateway"][0]["acAddress"].GetString()), "vpn.example.com");
    EXPECT_EQ(f["astGateway"][0]["uiPort"].GetUint(), 8443u);
    EXPECT_EQ(f["astGateway"][0]["uiDelay"].GetUint(), 0u);
    EXPECT_EQ(f["astGateway"][0]["uiFlag"].GetUint(), 0u);

    // A tab ends the kept address; the service gets the whole text.
    view->LoginKeyUI_IPName_Show(QStringLiteral("192.0.2.10:443\tmain"), LINK_TYPE_GATEWAY);
    EXPECT_EQ(LoginKeyUITestPeer::D(view)->gatewayAddress, QString("192.0.2.10:443"));
    const auto log4 = link.sim().Log();
    const auto again = Requests(log4, 1, 4);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(std::string((*again[1])["fields"]["acGateway"].GetString()), "192.0.2.10:443\tmain");
}

// ---- Certificates --------------------------------------------------------------------

TEST_F(LoginKeyUITest, CertificateRowsAndNamesStayAligned) {
    ui_test::SimLink link(R"("engine": {"certificates": [{"name": "A", "text": "CERT:A"},
                                                         {"name": "", "text": "CERT:B"},
                                                         {"name": "C", "text": "CERT:C"}]})");
    UIContext::GetInstance()->SetAuthType(2);
    LoginKeyUI* view = Open(link);
    LoginKeyUIPrivate* d = LoginKeyUITestPeer::D(view);
    auto* page1 = Find<QComboBox>(view, "USBKeyList");
    auto* page2 = Find<QComboBox>(view, "cb_CertificateList_2");
    EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), 1);
    ASSERT_EQ(page1->count(), 2);
    EXPECT_EQ(page1->itemText(0), QString("A"));
    EXPECT_EQ(page1->itemText(1), QString("C"));
    EXPECT_EQ(d->certificateNames, (QStringList{"CERT:A", "CERT:C"}));
    page1->setCurrentIndex(1);
    EXPECT_EQ(view->LoginKeyUI_CertIndex_Get(2), 1);
    EXPECT_EQ(view->LoginKeyUI_CertIndex_Get(0), -1);

    // Names in GBK, as the service sends them.
    const std::string gbk =
        R"({"payload": {"record": "UI_CERT_INFO_S", "fields": {"uiCertNum": 1, )"
        R"("acCertText[0]": {"hex": "d6a4cae9"}, "acCertName[0]": {"hex": "d6a4cae9"}}}})";
    ASSERT_EQ(link.sim().Control("script push 3 15 " + gbk).compare(0, 2, "OK"), 0);
    view->LoginKeyUI_LoginPage_Set(1);
    EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), 2);
    ASSERT_EQ(page2->count(), 1);
    EXPECT_EQ(page2->itemText(0), QString::fromUtf8("证书"));
    EXPECT_EQ(d->certificateNames, (QStringList{QString::fromUtf8("证书")}));

    // More than 32: the service link takes nothing of such a list and reports a failure,
    // so a reload shows no rows, as with a service that cannot be asked.
    const std::string tooMany =
        R"({"payload": {"record": "UI_CERT_INFO_S", "fields": {"uiCertNum": 33}}})";
    ASSERT_EQ(link.sim().Control("script push 3 15 " + tooMany).compare(0, 2, "OK"), 0);
    ASSERT_EQ(link.sim().Control("script push 3 15 " + tooMany).compare(0, 2, "OK"), 0);
    view->show();
    driver.AnswerLetEnd();
    ASSERT_TRUE(driver.WaitSeen(1));
    Find<QToolButton>(view, "tb_refreshCertificate_2")->click();
    EXPECT_EQ(page2->count(), 0);
    Find<QToolButton>(view, "tb_refreshCertificate")->click();
    EXPECT_EQ(page1->count(), 0);
    EXPECT_TRUE(d->certificateNames.isEmpty());
    // A reload that works fills the box again.
    page2->hidePopup();
    page1->hidePopup();
    Find<QToolButton>(view, "tb_refreshCertificate")->click();
    EXPECT_EQ(page1->count(), 2);
    page1->hidePopup();
    view->hide();
}

// The stored authentication type picks the page at set-up; a GM profile hides page 2's
// widgets, though that page is still the one shown for type 1.
TEST_F(LoginKeyUITest, StoredTypeChoosesThePage) {
    struct Case {
        int authType;
        bool gm;
        int page;
        bool certRequest;
    } cases[] = {{0, false, 0, false}, {2, false, 1, true}, {1, false, 2, true},
                 {7, false, 1, false}, {1, true, 2, true}};
    ui_test::SimLink link(R"("profiles": [)" + Profile("Office.ini", R"("uiAutoBest": 1)") + "," +
                          Profile("Gm.ini", R"("uiAutoBest": 1, "uiGmAlgorithm": 1)") + "]");
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetAuthType(c.authType);
        UIContext::GetInstance()->SetConnectName(c.gm ? QStringLiteral("Gm") : QStringLiteral("Office"));
        const size_t certs = Requests(link.sim().Log(), 3, 15).size();
        LoginKeyUI* view = Open(link);
        EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), c.page) << c.authType;
        EXPECT_EQ(Requests(link.sim().Log(), 3, 15).size() - certs, c.certRequest ? 1u : 0u);
        for (const char* name : {"l_certificateAnony", "cb_CertificateList_2", "tb_refreshCertificate_2"}) {
            EXPECT_EQ(Find<QWidget>(view, name)->isHidden(), c.gm) << name;
        }
        delete view;
    }
}

// ---- User fields ---------------------------------------------------------------------

TEST_F(LoginKeyUITest, UserFieldsFromTheSession) {
    struct Case {
        const char* name;
        const char* session;
        const char* user;
        const char* password;
        bool save, automatic;
    } cases[] = {
        {"Remembered", R"("RemPwd": 1, "UserName": "alice", "Password": "Passw0rd")", "alice", "******",
         true, false},
        {"EmptyPassword", R"("RemPwd": 1, "UserName": "alice")", "alice", "", true, false},
        {"AutoOnly", R"("RemPwd": 0, "AutoLogin": 1, "UserName": "alice", "Password": "Passw0rd")", "",
         "", true, true},
        {"Neither", R"("RemPwd": 2, "UserName": "alice", "Password": "Passw0rd")", "", "", false, false},
    };
    std::string profiles;
    for (const Case& c : cases) {
        profiles += (profiles.empty() ? "" : ",") +
                    Profile(std::string(c.name) + ".ini", R"("uiAutoBest": 1)", c.session);
    }
    ui_test::SimLink link(R"("profiles": [)" + profiles + "]");
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetConnectName(QString::fromLatin1(c.name));
        LoginKeyUI* view = Open(link);
        EXPECT_EQ(Find<QLineEdit>(view, "le_username")->text(), QString(c.user)) << c.name;
        EXPECT_EQ(Find<QLineEdit>(view, "le_password")->text(), QString(c.password)) << c.name;
        EXPECT_EQ(Find<QCheckBox>(view, "cb_savePass")->isChecked(), c.save) << c.name;
        EXPECT_EQ(Find<QCheckBox>(view, "cb_autoLogin")->isChecked(), c.automatic) << c.name;
        EXPECT_EQ(LoginKeyUITestPeer::D(view)->userName, QString(c.user)) << c.name;
        EXPECT_FALSE(LoginKeyUITestPeer::D(view)->passwordEdited) << c.name;
        delete view;
    }
    EXPECT_EQ(ui_test::LogCount("Passw0rd"), 0u) << "the remembered password is never logged";
}

// ---- Refusals ------------------------------------------------------------------------

TEST_F(LoginKeyUITest, AProfileTheServiceRefusesLeavesAnInertView) {
    ui_test::SimLink link(R"("scripts": [{"msgType": 9, "code": 6, "replies": [{"code": "0xD000C"}]}])");
    driver.Answer("OK");
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    LoginKeyUI* view = Bare();
    QSignalSpy ready(view, &LoginKeyUI::signal_LoginkeyUIInit);
    view->Init();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text, KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_READ_SSL_FAIL"));
    EXPECT_EQ(ready.count(), 0);
    EXPECT_EQ(Find<QComboBox>(view, "cb_ipAddress")->count(), 0);
    EXPECT_EQ(Find<QStackedWidget>(view, "stackedWidget")->currentIndex(), 1);
    // A wired button would at least refuse the empty fields with a box.
    const size_t requests = link.sim().Log().size();
    Find<QPushButton>(view, "pb_login_SSL")->click();
    EXPECT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(link.sim().Log().size(), requests);
    EXPECT_TRUE(Requests(link.sim().Log(), 1, 18).empty());
}

}  // namespace
