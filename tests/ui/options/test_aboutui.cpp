// The about box: the version line from the configuration, its texts, its fixed size and
// the customised picture in place of the logo.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>

#include "aboutui.h"
#include "languagesetting.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"

namespace {

const QString kRuntime = QStringLiteral(VT_TEST_RUNTIME_DIR);
const char kLogo[] = "border-image: url(:/Global/Resources/Bitmap/morvex_logo.png);";

class AboutUITest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext::GetInstance()->SetInstallDir(kRuntime);
        LanguageSetting::GetInstance()->Init(1033, kRuntime);
    }
    void TearDown() override {
        UIContext::GetInstance()->SetInstallDir(kRuntime);
        if (UISystemProfile::GetInstance()->GetSystemConfig() != nullptr) {
            UISystemProfile::GetInstance()->SetCustomized(QString());
        }
    }
};

// The product name, a blank and the version without its last dotted part.
TEST_F(AboutUITest, VersionLine) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected());
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    const struct {
        const char* product;
        const char* version;
        const char* shown;
    } cases[] = {
        {"VanTrelo", "5.3.30.1", "VanTrelo 5.3.30"},
        {"VanTrelo", "7", "VanTrelo 7"},
        {"", "5.3.30.1", " 5.3.30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        UISystemProfile::GetInstance()->SetProductName(c.product);
        UISystemProfile::GetInstance()->SetVersion(c.version);
        AboutUI dialog(nullptr);
        dialog.Init();
        EXPECT_EQ(dialog.findChild<QLabel*>("l_Versions")->text(), QString(c.shown));
    }
}

// Texts from the language file, the base's object name, and a size that cannot change.
TEST_F(AboutUITest, TextsAndFixedSize) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected());
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    AboutUI dialog(nullptr);
    dialog.Init();
    EXPECT_EQ(dialog.objectName(), QString("basewidget"));
    EXPECT_EQ(dialog.windowTitle(), QString("About"));
    const QString description =
        LanguageSetting::GetInstance()->GetValue("/UI_ABOUT/UI_ABOUT_LABEL_Description");
    EXPECT_FALSE(description.isEmpty());
    EXPECT_EQ(dialog.findChild<QLabel*>("l_Description")->text(), description);
    EXPECT_EQ(dialog.size(), QSize(411, 295));
    EXPECT_EQ(dialog.minimumSize(), QSize(411, 295));
    EXPECT_EQ(dialog.maximumSize(), QSize(411, 295));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

// The customised picture replaces the logo only for the exact flag "true" with the
// picture installed.
TEST_F(AboutUITest, CustomisedPictureReplacesTheLogo) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected());
    const QString install = QString::fromStdString(link.sim().Dir()) + "/install/";
    const QString picture = install + "image/Customized/common/mcur_background.png";
    ASSERT_TRUE(QDir().mkpath(install + "image/Customized/common"));
    UIContext::GetInstance()->SetInstallDir(install);
    const struct {
        const char* flag;
        bool picture;
        bool custom;
    } cases[] = {{"true", false, false}, {"True", true, false}, {"true", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flag) + (c.picture ? " with picture" : ""));
        if (c.picture && !QFile::exists(picture)) {
            ASSERT_TRUE(QFile::copy(":/Global/Resources/Bitmap/back.png", picture));
        }
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        UISystemProfile::GetInstance()->SetCustomized(c.flag);
        AboutUI dialog(nullptr);
        dialog.Init();
        EXPECT_EQ(dialog.findChild<QLabel*>("sw_label")->styleSheet(),
                  c.custom ? "border-image: url(" + picture + ");" : QString(kLogo));
    }
}

}  // namespace
