// The login views as the main window wires them: which of the window's signals each view
// listens to in each mode (a wrong name would fail the connect and the test).

#include <gtest/gtest.h>

#include <QMetaObject>

#include "loginkeyipsecui.h"
#include "loginkeyui.h"
#include "mainui.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"

namespace {

class LoginViewTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
    void TearDown() override { UIContext::GetInstance()->SetPluginMode(0); }
};

TEST_F(LoginViewTest, EachModeListensToItsSignalOfTheWindow) {
    struct Case {
        int pluginMode;
        size_t autoLoginCalls;  // SSL view's reaction to the automatic-login signal
        size_t pluginLogins;    // and to the plugin login signal
    } cases[] = {{0, 1, 0}, {1, 0, 1}};
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        MainUI window(nullptr);
        auto* view = new LoginKeyUI(&window);
        view->Init();
        const size_t autoBefore = ui_test::LogCount("[LoginKeyUI][Change_AutoLogin]");
        const size_t pluginBefore = ui_test::LogCount("[LoginKeyUI][Plugin_Login]");
        ASSERT_TRUE(QMetaObject::invokeMethod(&window, "signal_Main_DisAutoLogin",
                                              Q_ARG(bool, false)));
        ASSERT_TRUE(QMetaObject::invokeMethod(&window, "signal_DoLogin"));
        EXPECT_EQ(ui_test::LogCount("[LoginKeyUI][Change_AutoLogin]") - autoBefore,
                  c.autoLoginCalls)
            << "mode " << c.pluginMode;
        EXPECT_EQ(ui_test::LogCount("[LoginKeyUI][Plugin_Login]") - pluginBefore, c.pluginLogins)
            << "mode " << c.pluginMode;
    }
}

TEST_F(LoginViewTest, IpsecViewFollowsTheAutomaticLoginSignal) {
    MainUI window(nullptr);
    auto* view = new LoginKeyIPSECUI(&window);
    view->Init();
    const size_t before = ui_test::LogCount("[LoginKeyIPSECUI][Change_AutoLogin]");
    ASSERT_TRUE(QMetaObject::invokeMethod(&window, "signal_Main_DisAutoLogin", Q_ARG(bool, false)));
    EXPECT_EQ(ui_test::LogCount("[LoginKeyIPSECUI][Change_AutoLogin]"), before + 1);
}

}  // namespace
