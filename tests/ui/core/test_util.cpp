// The plain message boxes and the log line of the Qt side: what each box shows (icon,
// title, text, buttons, parent, flags), what the question answers for each way out, the
// language of the next box, and the log line as the log receives it.

#include <gtest/gtest.h>

#include <string>

#include <QMessageBox>
#include <QString>

#include "ddm_log.h"
#include "languagesetting.h"
#include "uicontext.h"
#include "ui_test/ui_sim.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"

namespace {

using vt_qt_test::BoxDriver;
using vt_qt_test::SeenBox;

const QString kRuntime = QStringLiteral(VT_TEST_RUNTIME_DIR);

class UtilBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, kRuntime);
    }
    BoxDriver driver;
};

// Each box as its caller sees it; the module name and the flag change nothing outside
// plugin mode.
TEST_F(UtilBoxTest, EachBoxShowsItsIconTitleTextAndButtons) {
    struct Case {
        const char* label;
        void (*show)(const QString&);
        QMessageBox::Icon icon;
        const char* title;
        QStringList buttons;
    };
    const Case cases[] = {
        {"warning", [](const QString& t) { Util_ShowWarning(t, "MainUI", 1); },
         QMessageBox::Warning, "Warning", {"OK"}},
        {"warning, no module", [](const QString& t) { Util_ShowWarning(t, "", -1); },
         QMessageBox::Warning, "Warning", {"OK"}},
        {"critical", [](const QString& t) { Util_ShowCritical(t, "LoginKeyUI", 0); },
         QMessageBox::Critical, "Error", {"OK"}},
        {"question", [](const QString& t) { (void)Util_ShowQuestion(t); },
         QMessageBox::Question, "Warning", {"OK", "Cancel"}},
    };
    ASSERT_EQ(UIContext::GetInstance()->GetPluginMode(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        driver.Clear();
        driver.Answer("OK");
        const QString text = QString::fromUtf8("Gateway 10.0.0.1, port 443: 连接失败");
        c.show(text);
        ASSERT_EQ(driver.Seen().size(), 1u);
        const SeenBox& seen = driver.Seen()[0];
        EXPECT_EQ(seen.className, "QMessageBox");
        EXPECT_EQ(seen.icon, static_cast<int>(c.icon));
        EXPECT_EQ(seen.title, c.title);
        EXPECT_EQ(seen.text, text);
        EXPECT_EQ(seen.buttons, c.buttons);
        EXPECT_FALSE(seen.hasParent);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.flags & (Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
                  static_cast<int>(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint));
        EXPECT_FALSE(seen.ignored);
        EXPECT_EQ(BoxDriver::FindVisibleBox(), nullptr) << "the box outlived its call";
    }
}

TEST_F(UtilBoxTest, QuestionIsTrueOnlyForOk) {
    struct Case {
        const char* answer;
        bool result;
    };
    const Case cases[] = {{"OK", true},
                          {"Cancel", false},
                          {BoxDriver::kEscape, false},
                          {BoxDriver::kClose, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        driver.Answer(c.answer);
        EXPECT_EQ(Util_ShowQuestion("Delete the connection?"), c.result);
        EXPECT_FALSE(driver.Seen().back().ignored);
    }
    EXPECT_EQ(driver.Seen().size(), 4u);
}

TEST_F(UtilBoxTest, TheNextBoxSpeaksTheNewLanguage) {
    driver.Answer("OK");
    Util_ShowCritical("a", "", -1);
    LanguageSetting::GetInstance()->Init(2052, kRuntime);
    const GLOBALLANG chinese = LanguageSetting::GetInstance()->GetGlobalLang();
    ASSERT_NE(chinese.ERROR, "Error");
    driver.Answer(chinese.CANCEL);
    EXPECT_FALSE(Util_ShowQuestion("b"));
    driver.Answer(chinese.OK);
    Util_ShowCritical("c", "", -1);

    ASSERT_EQ(driver.Seen().size(), 3u);
    EXPECT_EQ(driver.Seen()[0].title, "Error");
    EXPECT_EQ(driver.Seen()[1].title, chinese.WARNING);
    EXPECT_EQ(driver.Seen()[1].buttons, QStringList({chinese.OK, chinese.CANCEL}));
    EXPECT_EQ(driver.Seen()[2].title, chinese.ERROR);
    EXPECT_EQ(driver.Seen()[2].buttons, QStringList({chinese.OK}));
}

// ---- Log ----------------------------------------------------------------------------------

TEST(UtilLogTest, LineReachesTheLogAsUtf8AtItsLevel) {
    ui_test::LinkSetUp();
    const std::string chinese = "[Util log test][\xe8\xbf\x9e\xe6\x8e\xa5 ok]";
    Util_WriteLog(0, DDM_LOG_INFO, QString::fromStdString(chinese));
    Util_WriteLog(0, DDM_LOG_DEBUG, "[Util log test][debug line]");
    Util_WriteLog(0, DDM_LOG_ERROR, "[Util log test][error line]");

    EXPECT_EQ(ui_test::LogCount(chinese), 1u);
    EXPECT_EQ(ui_test::LogCount("[Util log test][debug line]"), 0u) << "debug is off by default";
    EXPECT_EQ(ui_test::LogCount("[Util log test][error line]"), 1u);
    // Module 0 is "UI" in the line.
    for (const std::string& line : ui_test::LogLines()) {
        if (line.find("[Util log test][error line]") != std::string::npos) {
            EXPECT_NE(line.find("UI"), std::string::npos) << line;
        }
    }

    const size_t before = ui_test::LogLines().size();
    Util_WriteLog(0, DDM_LOG_WARN, QString());
    EXPECT_EQ(ui_test::LogLines().size(), before + 1) << "an empty text is still a line";
}

}  // namespace
