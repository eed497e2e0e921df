// The options dialog against the simulator: filled from the configuration, the language
// list and how a chosen name maps back to its folder, Apply (autostart entry, language,
// the main window's texts, no write), Save (one write, closed), Cancel, the customised
// banner. HOME and XDG_CONFIG_HOME are temporary: the autostart entry lands there.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTextStream>

#include "languagesetting.h"
#include "mainui.h"
#include "optionsetui.h"
#include "ui_loginitem.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/temp_env.h"

namespace {

using vt_qt_test::BoxDriver;

const QString kRuntime = QStringLiteral(VT_TEST_RUNTIME_DIR);

// A text of the Chinese label file, read apart from the program's own language texts.
QString Chinese(const char* key) {
    QSettings file(kRuntime + "language/2052/l_UILabel.ini", QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    return file.value(key).toString();
}

// The Chinese name the language list shows ("简体中文").
QString ChineseName() { return QString::fromUtf8("\xe7\xae\x80\xe4\xbd\x93\xe4\xb8\xad\xe6\x96\x87"); }

struct SysWrite {
    uint32_t autoBoot, languageId, serverCheck, checkVersion;
};

std::vector<SysWrite> SysWrites(ui_test::Sim& sim) {
    std::vector<SysWrite> writes;
    for (const rapidjson::Document& line : sim.Log()) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 9 &&
            line["head"]["code"].GetUint() == 1 && line.HasMember("fields")) {
            const rapidjson::Value& f = line["fields"];
            writes.push_back({f["AutoBoot"].GetUint(), f["LanguageID"].GetUint(),
                              f["ServerCheck"].GetUint(), f["CheckVersion"].GetUint()});
        }
    }
    return writes;
}

std::string Config(int64_t language, int autoBoot, int serverCheck, int checkVersion) {
    return R"("config": {"LanguageID": )" + std::to_string(language) +
           R"(, "AutoBoot": )" + std::to_string(autoBoot) +
           R"(, "ServerCheck": )" + std::to_string(serverCheck) +
           R"(, "CheckVersion": )" + std::to_string(checkVersion) + "}";
}

// The entry in the autostart folder of the running simulator's temporary environment
// (HOME and XDG_CONFIG_HOME under the folder it was given), never the real one.
QString AutostartEntry(ui_test::Sim& sim) {
    const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    const QString root = QString::fromStdString(sim.Dir()).section('/', 0, -2);
    EXPECT_TRUE(!root.isEmpty() && config.startsWith(root + "/")) << config.toStdString();
    return config + "/autostart/VanTrelo.desktop";
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

class OptionSetUITest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetLatestVersion(true);
        context->SetConnectName(QString());
        context->SetLogined(false);
        context->SetResourceDir(kRuntime);
        context->SetInstallDir(kRuntime);
        LanguageSetting::GetInstance()->Init(1033, kRuntime);
    }
    void TearDown() override {
        UIContext::GetInstance()->SetResourceDir(kRuntime);
        UIContext::GetInstance()->SetInstallDir(kRuntime);
        UIContext::GetInstance()->SetLatestVersion(true);
        LanguageSetting::GetInstance()->Init(1033, kRuntime);
        UISystemProfile::GetInstance()->SetCustomized(QString());
    }
    // Runs the dialog modally, as the main window does, over the configuration just read;
    // inside works on it while it is shown and must end it; later answers the boxes that
    // come meanwhile.
    void RunModal(const std::function<void(QWidget* dialog)>& inside,
                  const QStringList& later = {}) {
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        OptionSetUI dialog(nullptr);
        dialog.Init();
        driver.AnswerWith(inside);
        for (const QString& answer : later) {
            driver.Answer(answer);
        }
        dialog.exec();
    }
    BoxDriver driver;
};

// The dialog shows the stored values: a box is ticked for any non-zero value, the stored
// language is current, and the tip of a newer version shows only to someone who does
// not check for one.
TEST_F(OptionSetUITest, FilledFromTheConfiguration) {
    const struct {
        int64_t language;
        int autoBoot, serverCheck, checkVersion;
        bool latest;
        QStringList items;
        int current;
        bool tip;
    } cases[] = {
        {1033, 2, 0, 0, false, {"English", ChineseName()}, 0, true},
        {2052, 0, 2, 1, false, {"English", ChineseName()}, 1, false},
        {1033, 0, 0, 0, true, {"English", ChineseName()}, 0, false},
        {9999, 0, 0, 0, true, {"English", ChineseName()}, 0, false},  // not listed: the first
        {0xFFFFFFFFLL, 0, 0, 0, true, {}, -1, false},                  // no language at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        ui_test::SimLink link(Config(c.language, c.autoBoot, c.serverCheck, c.checkVersion));
        ASSERT_TRUE(link.Connected());
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        UIContext::GetInstance()->SetLatestVersion(c.latest);
        OptionSetUI dialog(nullptr);
        dialog.Init();
        auto* language = dialog.findChild<QComboBox*>("cb_language");
        ASSERT_NE(language, nullptr);
        EXPECT_EQ(Items(language), c.items);
        EXPECT_EQ(language->currentIndex(), c.current);
        EXPECT_EQ(dialog.findChild<QCheckBox*>("cb_startUp")->isChecked(), c.autoBoot != 0);
        EXPECT_EQ(dialog.findChild<QCheckBox*>("cb_blockConnection")->isChecked(),
                  c.serverCheck != 0);
        EXPECT_EQ(dialog.findChild<QCheckBox*>("cb_LatestVersion")->isChecked(),
                  c.checkVersion != 0);
        auto* tip = dialog.findChild<QLabel*>("l_VersionTip");
        EXPECT_EQ(!tip->isHidden(), c.tip);
        EXPECT_EQ(tip->text(), QString("(a newer version is available)"));
    }
    EXPECT_GE(ui_test::LogCount("[Start option ui init]"), 5u);
    EXPECT_GE(ui_test::LogCount("[Finish option ui init]"), 5u);
}

// The tray's Options: Apply adds the autostart entry, switches the dialog, the main
// window and the tray menu to the chosen language and tells the window once, but writes
// nothing; Save writes the values once and closes.
TEST_F(OptionSetUITest, ApplyThenSaveFromTheTray) {
    ui_test::SimLink link(Config(1033, 0, 0, 1));
    ASSERT_TRUE(link.Connected());
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    MainUI window(nullptr);
    window.Init();
    QAction* options = nullptr;
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == QLatin1String("Options")) options = action;
    }
    ASSERT_NE(options, nullptr);
    const size_t startLines = ui_test::LogCount("[Start option ui to apply]");
    const size_t finishLines = ui_test::LogCount("[Finish option ui to apply]");

    driver.AnswerWith([&](QWidget* dialog) {
        QSignalSpy changed(dialog, SIGNAL(signal_languageChange()));
        auto* language = dialog->findChild<QComboBox*>("cb_language");
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "cb_startUp"));
        language->setCurrentIndex(language->findText(ChineseName()));
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedApply"));

        QFile entry(AutostartEntry(link.sim()));
        ASSERT_TRUE(entry.open(QIODevice::ReadOnly)) << entry.fileName().toStdString();
        EXPECT_TRUE(QString::fromUtf8(entry.readAll())
                        .contains("\nExec=\"" + QCoreApplication::applicationFilePath() + "\"\n"));
        EXPECT_EQ(dialog->findChild<QCheckBox*>("cb_startUp")->text(),
                  Chinese("UI_OPTIONSET/UI_OPTIONSET_CHECKBOX_STARTUP"));
        EXPECT_EQ(dialog->windowTitle(), Chinese("UI_OPTIONSET/UI_OPTIONSET_TITLE"));
        EXPECT_EQ(window.findChild<QPushButton*>("pb_connect")->text(),
                  Chinese("UI_MAIN/UI_MAIN_PUSHBUTTON_CONNECT"));
        QStringList actions;
        for (QAction* action : window.findChildren<QAction*>()) actions << action->text();
        EXPECT_TRUE(actions.contains(Chinese("UI_MAIN/UI_MAIN_OPTION"))) << actions.join("|").toStdString();
        EXPECT_TRUE(actions.contains(Chinese("UI_MAIN/UI_MAIN_ABOUT")));
        EXPECT_EQ(changed.count(), 1);
        EXPECT_TRUE(SysWrites(link.sim()).empty()) << "Apply writes nothing to the service";
        EXPECT_EQ(ui_test::LogCount("[Start option ui to apply]"), startLines + 1);
        EXPECT_EQ(ui_test::LogCount("[Finish option ui to apply]"), finishLines + 1);

        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedSave"));
    });
    options->trigger();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, QString("OptionSetUI"));
    EXPECT_TRUE(driver.Seen()[0].modal);
    const std::vector<SysWrite> writes = SysWrites(link.sim());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].autoBoot, 1u);
    EXPECT_EQ(writes[0].languageId, 2052u);
    EXPECT_EQ(writes[0].serverCheck, 0u);
    EXPECT_EQ(writes[0].checkVersion, 1u);
    EXPECT_TRUE(window.findChildren<OptionSetUI*>().isEmpty()) << "gone once closed";
}

// Unticked and applied, the entry goes; ticked and cancelled, nothing changes at all.
TEST_F(OptionSetUITest, ApplyRemovesTheEntryAndCancelChangesNothing) {
    {
        ui_test::SimLink link(Config(1033, 1, 0, 0));
        ASSERT_TRUE(link.Connected());
        UI_LoginItem_Set(1);
        ASSERT_TRUE(QFile::exists(AutostartEntry(link.sim())));
        RunModal([&](QWidget* dialog) {
            ASSERT_TRUE(BoxDriver::ClickButton(dialog, "cb_startUp"));
            ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedApply"));
            EXPECT_FALSE(QFile::exists(AutostartEntry(link.sim())));
            EXPECT_EQ(UISystemProfile::GetInstance()->GetAutoBoot(), 0u);
            ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedCancel"));
        });
    }

    ui_test::SimLink fresh(Config(1033, 0, 0, 0));
    ASSERT_TRUE(fresh.Connected());
    RunModal([&](QWidget* dialog) {
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "cb_startUp"));
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedCancel"));
    });
    EXPECT_FALSE(QFile::exists(AutostartEntry(fresh.sim())));
    EXPECT_EQ(UISystemProfile::GetInstance()->GetAutoBoot(), 0u);
    EXPECT_TRUE(SysWrites(fresh.sim()).empty());
    EXPECT_EQ(driver.Seen().size(), 2u);
}

// Apply with nothing changed still loads the language again, shows the dialog's texts in
// it and tells the window; a refused save still closes the dialog.
TEST_F(OptionSetUITest, UnchangedApplyReloadsAndRefusedSaveCloses) {
    ui_test::SimLink link(Config(1033, 0, 1, 1) +
                          R"(, "scripts": [{"msgType": 9, "code": 1, "replies": [{"code": "0xD0001"}]}])");
    ASSERT_TRUE(link.Connected());
    LanguageSetting::GetInstance()->Init(2052, kRuntime);  // what another window left
    RunModal([&](QWidget* dialog) {
        QSignalSpy changed(dialog, SIGNAL(signal_languageChange()));
        EXPECT_EQ(dialog->findChild<QPushButton*>("pb_advancedApply")->text(),
                  Chinese("UI_OPTIONSET/UI_OPTIONSET_PUSHBUTTON_APPLY"));
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedApply"));
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(LanguageSetting::GetInstance()->GetLanguageId(), 1033);
        EXPECT_EQ(dialog->findChild<QPushButton*>("pb_advancedApply")->text(), QString("Apply"));
        ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedSave"));
        EXPECT_FALSE(dialog->isVisible()) << "closed whatever the save gave";
    }, {"OK"});
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[1].className, QString("QMessageBox"));
    EXPECT_EQ(SysWrites(link.sim()).size(), 1u);
}

// The list shows the name after the last "-" of each folder entry the list file names;
// Apply maps the current name back to a folder, the last entry of that name winning, and
// with an empty list the last entry without a name (a "." or a file) gives 0.
TEST_F(OptionSetUITest, LanguageNamesMapBackToTheirFolders) {
    vt_test::TempEnv env;
    const QString resources = QString::fromStdString(env.Tmp()) + "/res/";
    for (const char* folder : {"1033", "2052", "7777"}) {
        ASSERT_TRUE(QDir().mkpath(resources + "language/" + folder));
    }
    QFile list(resources + "language/language.ini");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("1033=English-English\n2052=Chinese-\\x7b80\\x4f53\\x4e2d\\x6587\n"
               "7777=Other-English\n5555=Missing-Nowhere\nnoname=\n");
    list.close();
    UIContext::GetInstance()->SetResourceDir(resources);
    const struct {
        int64_t stored;
        int current;
        uint32_t applied;
    } cases[] = {
        {1033, 0, 7777},  // "English" twice: the later folder wins
        {7777, 2, 7777},
        {2052, 1, 2052},
        {0xFFFFFFFFLL, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ui_test::SimLink link(Config(c.stored, 0, 0, 0));
        ASSERT_TRUE(link.Connected());
        RunModal([&](QWidget* dialog) {
            auto* language = dialog->findChild<QComboBox*>("cb_language");
            EXPECT_EQ(Items(language), c.current < 0 ? QStringList()
                                                     : QStringList({"English", ChineseName(), "English"}));
            EXPECT_EQ(language->currentIndex(), c.current);
            ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedApply"));
            EXPECT_EQ(UISystemProfile::GetInstance()->GetLanguageID(), c.applied);
            ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedCancel"));
        });
    }
}

// The form as the user meets it, and the customised banner only for the exact flag with
// its picture installed.
TEST_F(OptionSetUITest, FormAndCustomisedBanner) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected());
    const QString install = QString::fromStdString(link.sim().Dir()) + "/install/";
    const QString banner = install + "image/Customized/common/mcur_background.png";
    const QString builtIn =
        QStringLiteral("border-image: url(:/Global/Resources/Bitmap/background_mainwnd.png);");
    ASSERT_TRUE(QDir().mkpath(install + "image/Customized/common"));
    UIContext::GetInstance()->SetInstallDir(install);
    const struct {
        const char* flag;
        bool picture;
        bool custom;
    } cases[] = {{"true", false, false}, {"True", true, false}, {"true", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flag) + (c.picture ? " with picture" : ""));
        if (c.picture && !QFile::exists(banner)) {
            ASSERT_TRUE(QFile::copy(":/Global/Resources/Bitmap/back.png", banner));
        }
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        UISystemProfile::GetInstance()->SetCustomized(c.flag);
        OptionSetUI dialog(nullptr);
        dialog.Init();
        EXPECT_EQ(dialog.findChild<QLabel*>("sw_label")->styleSheet(),
                  c.custom ? "border-image: url(" + banner + ");" : builtIn);
        EXPECT_EQ(dialog.objectName(), QString("basewidget"));
        EXPECT_EQ(dialog.size(), QSize(405, 365));
        EXPECT_EQ(dialog.maximumSize(), QSize(500, 365));
        EXPECT_EQ(dialog.windowTitle(), QString("Options"));
        // Tab order: Apply, start at login, block, language, OK, Cancel.
        QStringList chain;
        QWidget* w = dialog.findChild<QWidget*>("pb_advancedApply");
        for (int i = 0; i < 50 && w != nullptr && chain.size() < 6; ++i, w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) != 0) chain << w->objectName();
        }
        EXPECT_EQ(chain, (QStringList{"pb_advancedApply", "cb_startUp", "cb_blockConnection",
                                      "cb_language", "pb_advancedSave", "pb_advancedCancel"}));
    }
}

}  // namespace
