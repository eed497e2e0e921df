// A user's road through an L2TP/IPSec login, from the client's start to its Exit: the
// start function run in a child against the simulator on the service's port, "Branch"
// picked in the connection list, Connect, the login view filled and sent, the connected
// window and tray, Disconnect, and a login the engine refuses.

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "frontendmain.h"
#include "languagesetting.h"
#include "loginkeyipsecui.h"
#include "mainui.h"
#include "mcomboboxitem.h"
#include "ui_connect.h"
#include "ui_link_inner.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "vt_qt_test/box_driver.h"
#include "vt_qt_test/start_loop.h"
#include "vt_test/child_process.h"

namespace {

using ui_test::RequestCodes;

using ui_test::InLoop;
using ui_test::StartedWindow;
using ui_test::StartUp;

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// A click on the connection list's row of that name, as the user picks it.
bool Pick(MainUI* window, const QString& name) {
    auto* list = qobject_cast<QListWidget*>(window->findChild<QComboBox*>("cb_linkname")->view());
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        if (row != nullptr && row->MComboboxItem_Text_Get() == name) {
            const QPointF at(5, 5);
            QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(row, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(row, &release);
            return true;
        }
    }
    return false;
}

QAction* TrayAction(MainUI* window, const char* key) {
    for (QAction* action : window->findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(KeyText(key))) return action;
    }
    return nullptr;
}

QStringList BubbleTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("BubblingWidget") && widget->isVisible()) {
            for (QLabel* label : widget->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) texts << label->text();
            }
        }
    }
    return texts;
}

LoginKeyIPSECUI* VisibleView() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* view = qobject_cast<LoginKeyIPSECUI*>(w);
        if (view != nullptr && view->isVisible()) return view;
    }
    return nullptr;
}

// The view as a user answers it: the name and password typed, then Login.
BoxDriver::Action LogInAs(const char* user, QString* shownAddress) {
    return [user, shownAddress](QWidget* box) {
        auto* view = qobject_cast<LoginKeyIPSECUI*>(box);
        ASSERT_NE(view, nullptr) << box->metaObject()->className();
        *shownAddress = view->findChild<QLineEdit*>("le_serverAddress")->text();
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_username"), QString(user)));
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_password"), QStringLiteral("Passw0rd")));
        ASSERT_TRUE(BoxDriver::ClickButton(view, QStringLiteral("pb_login")));
    };
}

// The child's status once its road ran to the tray's Exit.
constexpr int kRoadDone = 0;

TEST(IpsecLoginRoad, ConnectLogInDisconnectAndARefusedLogin) {
    ui_test::Sim sim(R"("engine": {"ipsec": {"stepDelayMs": 0}},
                        "config": {"LanguageID": 1033, "LastAccessSession": "Office.ini"})",
                     "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        BoxDriver driver;  // fails on any box it was not told to expect
        driver.ArmForNextApplication();
        InLoop([&] {
            if (!StartUp()) return false;
            MainUI* window = StartedWindow();
            EXPECT_TRUE(Pick(window, QStringLiteral("Branch")));
            EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);

            // 1 and 2: Connect opens the view on the LNS address; alice logs in.
            QString shown;
            driver.AnswerWith(LogInAs("alice", &shown), QStringLiteral("alice"));
            EXPECT_TRUE(BoxDriver::ClickButton(window, QStringLiteral("pb_connect")));
            EXPECT_EQ(shown, QString("192.0.2.20"));
            EXPECT_EQ(driver.Seen().size(), 1u) << "the view, and no box";
            EXPECT_EQ(BubbleTexts(), QStringList{"Connected."});
            EXPECT_FALSE(window->isVisible());
            EXPECT_FALSE(window->findChild<QPushButton*>("pb_disConnect")->isHidden());
            EXPECT_TRUE(window->findChild<QPushButton*>("pb_connect")->isHidden());
            // The tray in state "01": Disconnect offered, Connect not.
            EXPECT_TRUE(TrayAction(window, "/UI_MAIN/UI_MAIN_DISCONNECT")->isEnabled());
            EXPECT_FALSE(TrayAction(window, "/UI_MAIN/UI_MAIN_CONNECT")->isEnabled());
            EXPECT_FALSE(TrayAction(window, "/UI_MAIN/UI_MAIN_PWD_CHANGE")->isEnabled())
                << "an IPSec account's password is not changed here";
            EXPECT_TRUE(UIContext::GetInstance()->GetLogined());

            // 3: Disconnect logs out at the engine and brings the window back.
            EXPECT_TRUE(BoxDriver::ClickButton(window, QStringLiteral("pb_disConnect")));
            EXPECT_TRUE(window->isVisible());
            EXPECT_FALSE(window->findChild<QPushButton*>("pb_connect")->isHidden());
            EXPECT_FALSE(UIContext::GetInstance()->GetLogined());

            // 4: erin's password is refused after five steps: the box, then the view back.
            driver.AnswerWith(LogInAs("erin", &shown), QStringLiteral("erin"));
            driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
            EXPECT_TRUE(BoxDriver::ClickButton(window, QStringLiteral("pb_connect")));
            EXPECT_TRUE(driver.WaitSeen(3));
            if (driver.Seen().size() == 3) {
                EXPECT_EQ(driver.Seen()[2].text,
                          KeyText("/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP6_PPP_AUTH_FAILED"));
            }
            EXPECT_NE(VisibleView(), nullptr) << "the view is back";
            EXPECT_TRUE(window->isVisible());
            EXPECT_FALSE(UIContext::GetInstance()->GetLogined());

            if (LoginKeyIPSECUI* view = VisibleView()) view->hide();
            QMetaObject::invokeMethod(window, "MainUI_SysTrayIcon_ExitMain_Pre");
            return true;
        });
        (void)ui_test::StartAsTheProgram();
        return 7;  // the start returned: the exit path did not end the process
    }, 120000);
    EXPECT_TRUE(vt_test::ExitedWith(r, kRoadDone));

    // Two logins, each followed by a logout: Disconnect's and the refusal's.
    std::vector<std::string> road;
    for (const std::string& code : RequestCodes(sim.Log())) {
        if (code == "4/5" || code == "4/8") road.push_back(code);
    }
    EXPECT_EQ(road, (std::vector<std::string>{"4/5", "4/8", "4/5", "4/8"}));
}

}  // namespace
