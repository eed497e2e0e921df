// The dialog base: the order in which Init runs a dialog's set-up steps, the exact
// spelling of the flag that turns the customised skin on, and the bare dialog.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "basewidget.h"
#include "servicelink.h"
#include "uisystemprofile.h"

namespace {

// The flags InitWidget sets, 0x08000003, as the widget reports them: Qt adds the title
// bar and its system menu to any window that asks for a title-bar button.
const Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::WindowCloseButtonHint |
                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint;

// Records the steps Init runs, keeping the base's window flags.
class RecordingDialog : public basewidget {
public:
    QStringList calls;

    void InitWidget() override {
        basewidget::InitWidget();
        calls << "InitWidget";
    }
    void SetInputControl() override { calls << "SetInputControl"; }
    void SetLanguageText() override { calls << "SetLanguageText"; }
    void SetCustomizedSkin() override { calls << "SetCustomizedSkin"; }
    void SetToolTip() override { calls << "SetToolTip"; }
};

TEST(BaseWidget, InitOrderAndTheSkinOnlyForExactlyTrue) {
    const QStringList four = {"InitWidget", "SetInputControl", "SetLanguageText", "SetToolTip"};
    struct Case {
        const char* flag;
        bool skin;
    } cases[] = {
        {"true", true}, {"True", false}, {"TRUE", false}, {"false", false}, {"", false},
        {"true ", false}, {"1", false},
    };
    // The flag lives in the configuration record; start from an empty one.
    const CFM_SYSCONFIG_S empty{};
    UISystemProfile::GetInstance()->SetSystemConfig(&empty);
    for (const Case& c : cases) {
        UISystemProfile::GetInstance()->SetCustomized(c.flag);
        ASSERT_EQ(UISystemProfile::GetInstance()->GetCustomized(), QString(c.flag));
        RecordingDialog dialog;
        EXPECT_TRUE(dialog.calls.isEmpty()) << "the constructor runs no step";
        dialog.Init();
        QStringList expected = four;
        if (c.skin) {
            expected << "SetCustomizedSkin";
        }
        EXPECT_EQ(dialog.calls, expected) << "flag \"" << c.flag << "\"";
        EXPECT_EQ(dialog.windowFlags(), kDialogFlags) << c.flag;
    }
    UISystemProfile::GetInstance()->SetCustomized("");
}

TEST(BaseWidget, BareDialogIsEmptyWithOnlyACloseButton) {
    basewidget dialog;
    EXPECT_EQ(dialog.objectName(), QString("basewidget"));
    EXPECT_EQ(dialog.windowTitle(), QString("basewidget"));
    EXPECT_EQ(dialog.size(), QSize(400, 300));
    EXPECT_TRUE(dialog.findChildren<QWidget*>().isEmpty()) << "an empty dialog";
    dialog.Init();
    EXPECT_EQ(static_cast<int>(Qt::Dialog | Qt::WindowCloseButtonHint), 0x08000003);
    EXPECT_EQ(dialog.windowFlags(), kDialogFlags) << "no minimise, maximise or help button";
}

}  // namespace
