// A user's password change, from the client's start on: the start function run in a child
// against the simulator on the service's port, so that the service's events reach the
// window through the client's own threads. alice changes her password from the tray:
// a password the gateway finds too weak shows its rules, a wrong old password clears
// them and keeps the session, and the change made ends the session with the service's
// forced logout. bob's first login demands a change, after which the client logs out by
// itself: the service sends no forced logout then.

#include <gtest/gtest.h>

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QThread>

#include "frontendmain.h"
#include "languagesetting.h"
#include "mainui.h"
#include "ui_connect.h"
#include "ui_link_inner.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "vt_qt_test/box_driver.h"
#include "vt_qt_test/start_loop.h"
#include "vt_test/child_process.h"

// The tray's balloons, as the window asks for them: the offscreen platform has no tray to
// show them on. This definition stands in for the toolkit's in this test program.
namespace {
struct Balloon {
    QString title;
    QString message;
    int icon;
    int msecs;
};
std::vector<Balloon> g_balloons;
}  // namespace

void QSystemTrayIcon::showMessage(const QString& title, const QString& msg,
                                  QSystemTrayIcon::MessageIcon icon, int msecs) {
    g_balloons.push_back({title, msg, static_cast<int>(icon), msecs});
}

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using ui_test::ClientLogCount;
using ui_test::InLoop;
using ui_test::RequestCodes;
using ui_test::StartedWindow;
using ui_test::StartUp;
using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Runs the client's event loop until done holds or the time is up.
bool Await(const std::function<bool()>& done, int timeoutMs = 10000) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// How the client logs each event it reads from the service.
std::string EventLine(const char* code) { return std::string("message code is ") + code + ","; }

// The service's events arrive in order on one connection: once a harmless event sent
// now has been read, every event sent before it has been read too.
bool EventsSoFarRead(ui_test::Sim& sim) {
    const std::string marker = EventLine("0xb0001");
    const size_t before = ClientLogCount(marker);
    if (sim.Control("event async 0xB0001") != "OK") return false;
    return Await([&] { return ClientLogCount(marker) > before; });
}

bool SimLoggedIn(ui_test::Sim& sim) {
    return sim.Control("state").find("\"loggedIn\":true") != std::string::npos;
}

QAction* TrayAction(MainUI* window, const char* key) {
    for (QAction* action : window->findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(KeyText(key))) return action;
    }
    return nullptr;
}
QAction* Connect(MainUI* w) { return TrayAction(w, "/UI_MAIN/UI_MAIN_CONNECT"); }
QAction* Disconnect(MainUI* w) { return TrayAction(w, "/UI_MAIN/UI_MAIN_DISCONNECT"); }
QAction* ChangePassword(MainUI* w) { return TrayAction(w, "/UI_MAIN/UI_MAIN_PWD_CHANGE"); }

// The SSL login view as a user answers it: the name and password typed, then Login.
BoxDriver::Action LogInAs(const char* user) {
    return [user](QWidget* view) {
        ASSERT_STREQ(view->metaObject()->className(), "LoginKeyUI");
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_username"), QString(user)));
        ASSERT_TRUE(BoxDriver::TypeInto(view, QStringLiteral("le_password"), QStringLiteral("Passw0rd")));
        ASSERT_TRUE(BoxDriver::ClickButton(view, QStringLiteral("pb_login_SSL")));
    };
}

// The change dialog's three fields typed and OK pressed.
void Change(QWidget* dialog, const char* oldPwd, const char* newPwd) {
    ASSERT_STREQ(dialog->metaObject()->className(), "ChangePwd");
    ASSERT_TRUE(BoxDriver::TypeInto(dialog, QStringLiteral("le_oldPwd"), QString(oldPwd)));
    ASSERT_TRUE(BoxDriver::TypeInto(dialog, QStringLiteral("le_newPwd"), QString(newPwd)));
    ASSERT_TRUE(BoxDriver::TypeInto(dialog, QStringLiteral("le_confirmPwd"), QString(newPwd)));
    ASSERT_TRUE(BoxDriver::ClickButton(dialog, QStringLiteral("pb_ok")));
}

QStringList Rules(QWidget* dialog) {
    QStringList texts;
    for (const char* name : {"lb_pwd1", "lb_pwd2", "lb_pwd3", "lb_pwd4"}) {
        auto* label = dialog->findChild<QLabel*>(QString::fromLatin1(name));
        texts << (label != nullptr ? label->text() : QStringLiteral("<none>"));
    }
    return texts;
}

const char kScenario[] = R"("config": {"LanguageID": 1033, "LastAccessSession": "Office.ini"})";
constexpr int kStartReturned = 7;

TEST(PwdChangeRoad, AChangeFromTheTrayEndsTheSession) {
    ui_test::Sim sim(kScenario, "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        BoxDriver driver;  // fails on any box it was not told to expect
        driver.ArmForNextApplication();
        InLoop([&] {
            if (!StartUp()) return false;
            MainUI* window = StartedWindow();
            const QString ok = LanguageSetting::GetInstance()->GetGlobalLang().OK;

            // alice logs in on "Office".
            driver.AnswerWith(LogInAs("alice"), QStringLiteral("alice"));
            EXPECT_TRUE(BoxDriver::ClickButton(window, QStringLiteral("pb_connect")));
            EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
            EXPECT_FALSE(window->isVisible());
            EXPECT_TRUE(ChangePassword(window)->isEnabled());
            // The connected look is applied (and its balloon shown) once by each report of
            // the login; only what comes later counts here.
            const size_t connected = g_balloons.size();
            EXPECT_GE(connected, 1u);
            for (const Balloon& b : g_balloons) {
                EXPECT_EQ(b.message, KeyText("/UI_MAIN/UI_MAIN_CONNECT_SUCCESS"));
            }

            // 1. Too weak for the gateway: its rules. 2. A wrong old password: the rules
            // emptied. Then Cancel.
            QStringList weakRules, wrongRules;
            driver.AnswerWith(
                [&](QWidget* dialog) {
                    Change(dialog, "Passw0rd", "password1");
                    weakRules = Rules(dialog);
                    Change(dialog, "nope", "N3wPassword");
                    wrongRules = Rules(dialog);
                    ASSERT_TRUE(BoxDriver::ClickButton(dialog, QStringLiteral("pb_cancel")));
                },
                QStringLiteral("weak, then wrong"));
            driver.Answer(ok);
            driver.Answer(ok);
            ChangePassword(window)->trigger();
            EXPECT_EQ(driver.Seen().size(), 4u);
            if (driver.Seen().size() == 4u) {
                EXPECT_EQ(driver.Seen()[2].text, KeyText("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIP"));
                EXPECT_EQ(driver.Seen()[3].text,
                          KeyText("/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_OLDPW_ERROR"));
            }
            EXPECT_EQ(weakRules,
                      (QStringList{"At least 8 characters long.", "At most 32 characters long.",
                                   KeyText("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_USE_PSWD_SAME_INVALD"),
                                   "At least 2 kinds of characters: capitals, small letters, "
                                   "digits, symbols."}));
            EXPECT_EQ(wrongRules, (QStringList{"", "", "", ""}));
            // The refusals end nothing: no event, the session and the tray as they were.
            EXPECT_TRUE(EventsSoFarRead(sim));
            EXPECT_EQ(ClientLogCount(EventLine("0xb0000")), 0u);
            EXPECT_EQ(driver.Seen().size(), 4u) << "no box more";
            EXPECT_EQ(g_balloons.size(), connected) << "no balloon more";
            EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
            EXPECT_TRUE(SimLoggedIn(sim));
            EXPECT_TRUE(Disconnect(window)->isEnabled());
            EXPECT_TRUE(ChangePassword(window)->isEnabled());

            // 3. The change made: the dialog closes, and the service ends the session.
            bool accepted = false;
            driver.AnswerWith(
                [&](QWidget* dialog) {
                    QObject::connect(qobject_cast<QDialog*>(dialog), &QDialog::accepted,
                                     [&] { accepted = true; });
                    Change(dialog, "Passw0rd", "N3wPassword");
                },
                QStringLiteral("change"));
            size_t balloonsAtTheBox = 0;
            driver.AnswerWith(
                [&](QWidget* box) {
                    balloonsAtTheBox = g_balloons.size();
                    BoxDriver::Respond(box, ok);
                },
                QStringLiteral("OK"));
            ChangePassword(window)->trigger();
            EXPECT_TRUE(accepted);
            EXPECT_TRUE(driver.WaitSeen(6, 15000)) << "the forced logout's box";
            if (driver.Seen().size() == 6u) {
                const vt_qt_test::SeenBox& box = driver.Seen()[5];
                EXPECT_EQ(box.text, KeyText("/UI_MAIN/UI_MAIN_OFFLINE_FORCED"));
                EXPECT_EQ(box.icon, static_cast<int>(QMessageBox::Warning));
            }
            EXPECT_EQ(balloonsAtTheBox, connected + 1) << "the balloon first, then the box";
            EXPECT_EQ(g_balloons.size(), connected + 1);
            if (g_balloons.size() == connected + 1) {
                const Balloon& forced = g_balloons.back();
                EXPECT_EQ(forced.title, QString("VanTrelo"));
                EXPECT_EQ(forced.message, KeyText("/UI_MAIN/UI_MAIN_OFFLINE_FORCED"));
                EXPECT_EQ(forced.icon, static_cast<int>(QSystemTrayIcon::Information));
                EXPECT_EQ(forced.msecs, 10000);
            }
            EXPECT_EQ(ClientLogCount(EventLine("0xb0000")), 1u);
            // Not connected: the window back, the tray in state "10", no change offered.
            EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
            EXPECT_TRUE(window->isVisible());
            EXPECT_FALSE(window->findChild<QPushButton*>("pb_connect")->isHidden());
            EXPECT_TRUE(window->findChild<QPushButton*>("pb_disConnect")->isHidden());
            EXPECT_TRUE(Connect(window)->isEnabled());
            EXPECT_EQ(Connect(window)->text(), KeyText("/UI_MAIN/UI_MAIN_CONNECT") + " Office");
            EXPECT_FALSE(Disconnect(window)->isEnabled());
            EXPECT_FALSE(ChangePassword(window)->isEnabled());
            EXPECT_FALSE(SimLoggedIn(sim));

            QMetaObject::invokeMethod(window, "MainUI_SysTrayIcon_ExitMain_Pre");
            return true;
        });
        (void)ui_test::StartAsTheProgram();
        return kStartReturned;  // the start returned: the exit path did not end the process
    }, 100000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));

    // After the login and its tunnel: three changes, then only the logout that the
    // forced logout's handling sends.
    const std::vector<std::string> codes = RequestCodes(sim.Log());
    std::vector<std::string> after;
    bool tunnel = false;
    for (const std::string& code : codes) {
        if (tunnel) after.push_back(code);
        tunnel = tunnel || code == "5/10";
    }
    EXPECT_EQ(after, (std::vector<std::string>{"3/11", "3/11", "3/11", "3/8"}));
    const std::string state = sim.Control("state");
    EXPECT_NE(state.find("\"alice\":\"N3wPassword\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"loggedIn\":false"), std::string::npos) << state;
}

TEST(PwdChangeRoad, AFirstLoginsChangeIsNoForcedLogout) {
    ui_test::Sim sim(kScenario, "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        BoxDriver driver;
        driver.ArmForNextApplication();
        InLoop([&] {
            if (!StartUp()) return false;
            MainUI* window = StartedWindow();
            // bob's first login: the change dialog, then the client's own logout.
            driver.AnswerWith(LogInAs("bob"), QStringLiteral("bob"));
            driver.AnswerWith([](QWidget* dialog) { Change(dialog, "Passw0rd", "N3wPassword"); },
                              QStringLiteral("change"));
            EXPECT_TRUE(BoxDriver::ClickButton(window, QStringLiteral("pb_connect")));
            EXPECT_EQ(driver.Seen().size(), 2u) << "the view and the change dialog";
            EXPECT_TRUE(EventsSoFarRead(sim));
            EXPECT_EQ(ClientLogCount(EventLine("0xb0000")), 0u);
            EXPECT_EQ(driver.Seen().size(), 2u) << "no forced logout's box";
            EXPECT_TRUE(g_balloons.empty());
            EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
            EXPECT_TRUE(window->isVisible());
            EXPECT_TRUE(Connect(window)->isEnabled());
            QMetaObject::invokeMethod(window, "MainUI_SysTrayIcon_ExitMain_Pre");
            return true;
        });
        (void)ui_test::StartAsTheProgram();
        return kStartReturned;
    }, 100000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
    std::vector<std::string> road;
    for (const std::string& code : RequestCodes(sim.Log())) {
        if (code == "3/5" || code == "3/11" || code == "3/8") road.push_back(code);
    }
    EXPECT_EQ(road, (std::vector<std::string>{"3/5", "3/11", "3/8"}))
        << "one logout: the client's own";
    EXPECT_NE(sim.Control("state").find("\"bob\":\"N3wPassword\""), std::string::npos);
}

}  // namespace
