// The profile dialog's two buttons as the main window drives them: OK for a new profile,
// save for an existing one (disabled while a connection is logged in).

#include <gtest/gtest.h>

#include <QPushButton>

#include "profileinfoui.h"
#include "uicontext.h"

namespace {

TEST(ProfileInfoUI, NewOrExistingProfileChoosesTheButton) {
    struct Case {
        bool isNew;
        bool logined;
        bool okShown;
        bool saveShown;
        bool saveEnabled;
    } cases[] = {
        {true, false, true, false, true},
        {false, false, false, true, true},
        {false, true, false, true, false},
    };
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetNewConnect(c.isNew);
        UIContext::GetInstance()->SetLogined(c.logined);
        ProfileInfoUI dialog(nullptr);
        dialog.Init();
        dialog.show();
        auto* ok = dialog.findChild<QPushButton*>("pb_ok");
        auto* save = dialog.findChild<QPushButton*>("pb_save");
        ASSERT_TRUE(ok && save);
        EXPECT_EQ(ok->isVisible(), c.okShown);
        EXPECT_EQ(save->isVisible(), c.saveShown);
        EXPECT_EQ(save->isEnabled(), c.saveEnabled);
        dialog.ProfileInfoUI_Set_Savebtn(!c.saveEnabled);
        EXPECT_EQ(save->isEnabled(), !c.saveEnabled);
        dialog.ProfileInfoUI_Set_OKbtn(false);
        EXPECT_FALSE(ok->isEnabled());
    }
    UIContext::GetInstance()->SetLogined(false);
}

}  // namespace
