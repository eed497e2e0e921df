// The main window against the simulator: the form and its texts after Init, the
// connection list built from the service's sessions, choosing, creating-refused and
// deleting a connection, the tray menu and its state strings, Help without a shell, the
// service's ending events, and the exit path (in a child process).

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QFontMetrics>
#include <QToolButton>

#include "ddm_log.h"
#include "jqr_queue.h"
#include "languagesetting.h"
#include "mainui.h"
#include "mcomboboxitem.h"
#include "proxysetting.h"
#include "servicelink.h"
#include "ui_test/ui_sim.h"
#include "ui_connect_inner.h"
#include "ui_link_inner.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/child_process.h"

namespace {

using vt_qt_test::BoxDriver;

// Sessions in table order: an SSL VPN profile, an entry of an unknown kind, a free entry
// that still carries a kind, and an IPSec profile whose name has two dots.
const char kListScenario[] = R"(
  "config": {"LastAccessSession": "",
             "Sessions[0].ProfileName": "a.ini", "Sessions[0].ConnectionType": 1,
             "Sessions[1].ProfileName": "x.ini", "Sessions[1].ConnectionType": 3,
             "Sessions[2].ProfileName": "", "Sessions[2].ConnectionType": 2,
             "Sessions[3].ProfileName": "b.c.ini", "Sessions[3].ConnectionType": 2},
  "profiles": [{"name": "a.ini", "linkType": 1}, {"name": "b.c.ini", "linkType": 2}])";

std::string FullTableScenario() {
    std::string config = R"("config": {"LastAccessSession": "p3.ini")";
    for (int i = 0; i < 16; ++i) {
        config += ",\"Sessions[" + std::to_string(i) + "].ProfileName\": \"p" +
                  std::to_string(i) + ".ini\", \"Sessions[" + std::to_string(i) +
                  "].ConnectionType\": 1";
    }
    return config + "}, \"profiles\": []";
}

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// The service requests with this message type and code, in order.
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

QStringList RowTexts(QComboBox* combo) {
    auto* list = qobject_cast<QListWidget*>(combo->view());
    QStringList texts;
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        auto* row = qobject_cast<MComboboxItem*>(list->itemWidget(list->item(i)));
        texts << (row != nullptr ? row->MComboboxItem_Text_Get() : QStringLiteral("<none>"));
    }
    return texts;
}

MComboboxItem* Row(QComboBox* combo, int index) {
    auto* list = qobject_cast<QListWidget*>(combo->view());
    return list == nullptr ? nullptr
                           : qobject_cast<MComboboxItem*>(list->itemWidget(list->item(index)));
}

void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

class MainUITest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext::GetInstance()->SetPluginMode(0);
        UIContext::GetInstance()->SetSystemType(2);
        // The process-wide state as a fresh start has it.
        UIContext::GetInstance()->SetConnectName(QString());
        UIContext::GetInstance()->SetLogined(false);
        UIContext::GetInstance()->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        UIContext::GetInstance()->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    // A window built as start-up builds it, over the simulator's configuration.
    std::unique_ptr<MainUI> Build(ui_test::SimLink& link) {
        EXPECT_TRUE(link.Connected()) << link.sim().Diagnostics();
        EXPECT_TRUE(UISystemProfile::GetInstance()->Read());
        auto window = std::make_unique<MainUI>(nullptr);
        window->Init();
        return window;
    }
    BoxDriver driver;
};

TEST_F(MainUITest, FormTreeSizesAndTextsAfterInit) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Branch.ini"})");
    auto window = Build(link);
    window->show();
    EXPECT_EQ(window->windowTitle(), QString("VanTrelo")) << "the product name, not a key";
    EXPECT_EQ(window->minimumSize(), QSize(400, 270));
    EXPECT_EQ(window->maximumSize(), QSize(600, 270));

    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    auto* gear = window->findChild<QToolButton*>("tb_detailOption");
    auto* connectButton = window->findChild<QPushButton*>("pb_connect");
    auto* disconnect = window->findChild<QPushButton*>("pb_disConnect");
    auto* proxy = window->findChild<QPushButton*>("pb_ProxySetting");
    auto* label = window->findChild<QLabel*>("l_connectName");
    auto* group = window->findChild<QGroupBox*>("groupBox");
    ASSERT_TRUE(combo && gear && connectButton && disconnect && proxy && label && group);
    EXPECT_EQ(combo->parentWidget(), group);
    EXPECT_EQ(proxy->parentWidget(), window->findChild<QWidget*>("widget"));
    EXPECT_EQ(window->findChild<QLabel*>("sw_label")->parentWidget(), window.get());

    EXPECT_EQ(label->text(), QString("Connection:"));
    EXPECT_EQ(connectButton->text(), QString("Connect"));
    EXPECT_EQ(disconnect->text(), QString("Disconnect"));
    EXPECT_EQ(proxy->text(), QString("Proxy settings"));
    EXPECT_TRUE(connectButton->isVisible());
    EXPECT_FALSE(disconnect->isVisible()) << "Disconnect waits for a login";
    // The accessible names stay the form's own.
    EXPECT_EQ(gear->accessibleName(), QString::fromUtf8("选项"));
    EXPECT_EQ(disconnect->accessibleName(), QString::fromUtf8("断开连接"));
    EXPECT_EQ(proxy->accessibleName(), QString::fromUtf8("代理设置"));
    EXPECT_EQ(combo->maxVisibleItems(), 17);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_TRUE(combo->styleSheet().startsWith("QComboBox{background-color: rgb(255, 255, 255);}"));
    EXPECT_TRUE(combo->styleSheet().endsWith("width:16px; height:16px; }"));

    // Tab order: Connect, the drop-down, the gear button.
    EXPECT_EQ(connectButton->nextInFocusChain(), combo);
    EXPECT_EQ(combo->nextInFocusChain(), gear);

    // The happy engine's last used profile is selected.
    EXPECT_EQ(combo->currentText(), QString("Branch"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);
    EXPECT_EQ(ui_test::LogCount("[Finsh main ui init]"), 1u);
}

// The main window is a dialog too, but no box: a test watching for boxes leaves it shown
// and still finds and answers the boxes that come over it.
TEST_F(MainUITest, ABoxWatcherLeavesTheShownWindowAlone) {
    ui_test::SimLink link;
    auto window = Build(link);
    window->show();
    QApplication::processEvents();
    EXPECT_TRUE(driver.Seen().empty()) << "the fixture's driver has no answer queued";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(BoxDriver::FindVisibleBox(), nullptr);
    driver.Answer("OK");
    Util_ShowWarning(QStringLiteral("over the window"), QString(), -1);
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text, QString("over the window"));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainUITest, ListFromSessionsSelectsAndDeletes) {
    ui_test::SimLink link(kListScenario);
    auto window = Build(link);
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "a", "b.c"}));
    EXPECT_EQ(Row(combo, 0)->MComboboxItem_Type_Get(), LINK_TYPE_NONE);
    EXPECT_EQ(Row(combo, 1)->MComboboxItem_Type_Get(), LINK_TYPE_SSL);
    EXPECT_EQ(Row(combo, 2)->MComboboxItem_Type_Get(), LINK_TYPE_IPSEC);
    // No last used profile: the first profile is selected.
    EXPECT_EQ(combo->currentText(), QString("a"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 1);

    Click(Row(combo, 2));
    EXPECT_EQ(combo->currentText(), QString("b.c"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("b.c"));
    // Only a left click selects.
    Click(Row(combo, 1), Qt::RightButton);
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("b.c"));

    // Cancel keeps everything; OK deletes "a" in the service and reads the list again.
    const size_t readsBefore = Requests(link.sim().Log(), 9, 2).size();
    driver.Answer("Cancel");
    Row(combo, 1)->findChildren<QPushButton*>().at(1)->click();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text,
              KeyText("/UI_MAIN/UI_MAIN_DELCONENCTION_WARNING") + "  a  ?   ");
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "a", "b.c"}));
    EXPECT_TRUE(Requests(link.sim().Log(), 9, 12).empty());

    driver.Answer("OK");
    Row(combo, 1)->findChildren<QPushButton*>().at(1)->click();
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "b.c"}));
    const auto log = link.sim().Log();
    const auto deletes = Requests(log, 9, 12);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(std::string((*deletes[0])["text"].GetString()), "a.ini");
    EXPECT_EQ(Requests(link.sim().Log(), 9, 2).size(), readsBefore + 1);
    EXPECT_EQ(UISystemProfile::GetInstance()->GetSessionIndex("a.ini"), -1);
    // The selection moves to the first row left.
    EXPECT_EQ(combo->currentText(), QString("b.c"));
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("b.c"));
    EXPECT_EQ(driver.Seen().size(), 2u) << "a granted delete shows no warning";
}

TEST_F(MainUITest, SixteenUsedSessionsRefuseANewConnection) {
    ui_test::SimLink link(FullTableScenario());
    auto window = Build(link);
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    ASSERT_EQ(RowTexts(combo).size(), 17);
    EXPECT_EQ(combo->currentText(), QString("p3")) << "the last used profile";
    driver.Answer("OK");
    Click(Row(combo, 0));
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, QString("QMessageBox"));
    EXPECT_EQ(driver.Seen()[0].text, KeyText("/UI_MAIN/UI_MAIN_PROFILE_MAX"));
    // An editor would have been a second box the driver saw (and failed as unexpected).
    EXPECT_EQ(window->findChild<QWidget*>("pb_ok"), nullptr) << "no profile editor opened";
}

// The window in both languages, as start-up shows it (application font included). The
// pictures are kept for a person to look at when VT_MAINUI_PICTURES names a folder.
TEST_F(MainUITest, BothLanguagesRenderTheirOwnTexts) {
    struct Case {
        int language;
        const char* file;
        const char* label;
        const char* connect;
        const char* proxy;
    } cases[] = {
        {1033, "mainui_en.png", "Connection:", "Connect", "Proxy settings"},
        {2052, "mainui_zh.png", "连接：", "连接", "代理设置"},
    };
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    const QFont oldFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("TakaoPGothic"), 12));
    for (const Case& c : cases) {
        LanguageSetting::GetInstance()->Init(c.language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto window = Build(link);
        window->show();
        EXPECT_EQ(window->findChild<QLabel*>("l_connectName")->text(), QString::fromUtf8(c.label));
        EXPECT_EQ(window->findChild<QPushButton*>("pb_connect")->text(),
                  QString::fromUtf8(c.connect));
        EXPECT_EQ(window->findChild<QPushButton*>("pb_ProxySetting")->text(),
                  QString::fromUtf8(c.proxy));
        EXPECT_EQ(window->findChild<QComboBox*>("cb_linkname")->currentText(), QString("Office"));
        const QImage picture = window->grab().toImage();
        EXPECT_EQ(picture.size(), QSize(400, 270)) << c.file;
        const QByteArray dir = qgetenv("VT_MAINUI_PICTURES");
        if (!dir.isEmpty()) {
            EXPECT_TRUE(picture.save(QString::fromLocal8Bit(dir) + "/" + c.file)) << c.file;
        }
    }
    QApplication::setFont(oldFont);
}

// The tray menu's entries in order ("-" a separator), with their enabled state.
QStringList MenuEntries(MainUI& window) {
    QStringList entries;
    for (QMenu* menu : window.findChildren<QMenu*>()) {
        if (menu->actions().size() < 10) {
            continue;  // the help menu, unused here
        }
        for (QAction* action : menu->actions()) {
            if (!action->isVisible()) {
                continue;
            }
            entries << (action->isSeparator() ? QStringLiteral("-")
                                              : action->text() + (action->isEnabled() ? "" : " (off)"));
        }
    }
    return entries;
}

QAction* Action(MainUI& window, const QString& prefix) {
    for (QAction* action : window.findChildren<QAction*>()) {
        if (!action->isSeparator() && action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}

TEST_F(MainUITest, TrayMenuOrderAndStateRules) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    auto window = Build(link);
    // Right after start-up the language texts leave the bare Connect text.
    EXPECT_EQ(MenuEntries(*window),
              (QStringList{"Show window", "-", "Connect", "Disconnect (off)", "-",
                           "Change password (off)", "Fault report",
                           "Cancel automatic login (off)", "-", "Options", "About", "Help",
                           "Exit"}));
    // Not logged in, profiles listed, no login view: "10" with the connection's name.
    window->MainUI_SysTrayIcon_Refresh();
    QAction* connectAction = Action(*window, "Connect");
    QAction* disconnectAction = Action(*window, "Disconnect");
    ASSERT_TRUE(connectAction && disconnectAction);
    EXPECT_EQ(connectAction->text(), QString("Connect Office"));
    EXPECT_TRUE(connectAction->isEnabled());
    EXPECT_FALSE(disconnectAction->isEnabled());
    // Logged in: "01" whatever the list holds.
    UIContext::GetInstance()->SetLogined(true);
    window->MainUI_SysTrayIcon_Refresh();
    EXPECT_EQ(connectAction->text(), QString("Connect"));
    EXPECT_FALSE(connectAction->isEnabled());
    EXPECT_TRUE(disconnectAction->isEnabled());
    // An unknown state string changes nothing.
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SysTrayIcon_Changed",
                                          Q_ARG(QString, QStringLiteral("11"))));
    EXPECT_FALSE(connectAction->isEnabled());
    EXPECT_TRUE(disconnectAction->isEnabled());
    UIContext::GetInstance()->SetLogined(false);
    // A long name is cut with an ellipsis within 200 pixels.
    UIContext::GetInstance()->SetLinkType(1);
    window->findChild<QComboBox*>("cb_linkname")->setItemText(1, QString(80, 'w'));
    window->findChild<QComboBox*>("cb_linkname")->setCurrentIndex(1);
    window->MainUI_SysTrayIcon_Refresh();
    EXPECT_TRUE(connectAction->text().startsWith("Connect w"));
    EXPECT_TRUE(connectAction->text().endsWith(QChar(0x2026)));
    EXPECT_LE(QFontMetrics(connectAction->font()).horizontalAdvance(connectAction->text()), 200);
}

TEST_F(MainUITest, TrayWithoutProfilesAndInPluginMode) {
    ui_test::SimLink link(R"("profiles": [])");
    {
        auto window = Build(link);
        window->MainUI_SysTrayIcon_Refresh();
        EXPECT_FALSE(Action(*window, "Connect")->isEnabled()) << "only the new-connection row";
        EXPECT_FALSE(Action(*window, "Disconnect")->isEnabled());
        EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 0);
        EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString());
    }
    // A plugin-mode window runs its plugin thread until the process ends: in a child, which
    // ends without running the process's static destructors under the thread.
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        UIContext::GetInstance()->SetPluginMode(1);
        auto window = Build(link);
        EXPECT_EQ(MenuEntries(*window), (QStringList{"Show window", "-", "-", "Fault report", "-",
                                                     "About", "Help", "Exit"}));
    });
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << vt_test::Describe(r);
}

// The ten tray actions in menu order, whatever their language.
std::vector<QAction*> TrayActions(MainUI& window) {
    std::vector<QAction*> actions;
    for (QMenu* menu : window.findChildren<QMenu*>()) {
        if (menu->actions().size() < 10) {
            continue;  // the help menu, unused here
        }
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                actions.push_back(action);
            }
        }
    }
    return actions;
}

// A language switch from the tray's Options, in each tray state and towards each
// language: every entry speaks the new language, and Connect and Disconnect stay as the
// state gives them ("10": Connect with the connection's name, enabled; "01" and "00":
// the bare Connect text, disabled; Disconnect enabled in "01" only). The other entries
// keep their enabled state.
TEST_F(MainUITest, LanguageSwitchKeepsTheTrayState) {
    const char* const keys[] = {"/UI_MAIN/UI_MAIN_SHOW_MAINUI", "/UI_MAIN/UI_MAIN_CONNECT",
                                "/UI_MAIN/UI_MAIN_DISCONNECT",  "/UI_MAIN/UI_MAIN_PWD_CHANGE",
                                "/UI_MAIN/UI_MAIN_FAULTREPORT", "/UI_MAIN/UI_MAIN_CANCELAUTOLOG",
                                "/UI_MAIN/UI_MAIN_OPTION",      "/UI_MAIN/UI_MAIN_ABOUT",
                                "/UI_MAIN/UI_MAIN_HELP",        "/UI_MAIN/UI_MAIN_EXIT"};
    const QString chinese = QString::fromUtf8("\xe7\xae\x80\xe4\xbd\x93\xe4\xb8\xad\xe6\x96\x87");
    struct Case {
        const char* state;
        int from;
        int to;
        QString listed;  // the new language as the options list names it
    } cases[] = {
        {"10", 1033, 2052, chinese}, {"10", 2052, 1033, "English"},
        {"01", 1033, 2052, chinese}, {"01", 2052, 1033, "English"},
        {"00", 1033, 2052, chinese}, {"00", 2052, 1033, "English"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.state) + " from " + std::to_string(c.from));
        const std::string state = c.state;
        UIContext::GetInstance()->SetLogined(false);
        LanguageSetting::GetInstance()->Init(c.from, QStringLiteral(VT_TEST_RUNTIME_DIR));
        // "00": no profile besides the new-connection row.
        ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini", "LanguageID": )" +
                              std::to_string(c.from) + "}" +
                              (state == "00" ? R"(, "profiles": [])" : ""));
        auto window = Build(link);
        UIContext::GetInstance()->SetLogined(state == "01");
        window->MainUI_SysTrayIcon_Refresh();
        const std::vector<QAction*> actions = TrayActions(*window);
        ASSERT_EQ(actions.size(), 10u);
        ASSERT_EQ(actions[1]->isEnabled(), state == "10") << "the state before the switch";
        ASSERT_EQ(actions[2]->isEnabled(), state == "01");
        actions[3]->setEnabled(state == "01");  // a login by password allows a change
        std::vector<bool> enabled;
        for (QAction* action : actions) {
            enabled.push_back(action->isEnabled());
        }

        driver.AnswerWith(
            [&c](QWidget* dialog) {
                auto* language = dialog->findChild<QComboBox*>("cb_language");
                ASSERT_NE(language, nullptr);
                ASSERT_GE(language->findText(c.listed), 0);
                language->setCurrentIndex(language->findText(c.listed));
                ASSERT_TRUE(BoxDriver::ClickButton(dialog, "pb_advancedSave"));
            },
            QStringLiteral("switch the language"));
        actions[6]->trigger();
        ASSERT_EQ(driver.Seen().size(), 1u);
        driver.Clear();
        ASSERT_EQ(LanguageSetting::GetInstance()->GetLanguageId(), c.to);

        for (size_t i = 0; i < actions.size(); ++i) {
            QString expected = KeyText(keys[i]);
            ASSERT_FALSE(expected.isEmpty()) << keys[i];
            if (i == 1 && state == "10") {
                expected = QFontMetrics(actions[i]->font())
                               .elidedText(expected + " Office", Qt::ElideRight, 200);
            }
            EXPECT_EQ(actions[i]->text(), expected) << keys[i];
            if (i == 1) {
                EXPECT_EQ(actions[i]->isEnabled(), state == "10") << keys[i];
            } else if (i == 2) {
                EXPECT_EQ(actions[i]->isEnabled(), state == "01") << keys[i];
            } else {
                EXPECT_EQ(actions[i]->isEnabled(), enabled[i]) << keys[i];
            }
        }
    }
    UIContext::GetInstance()->SetLogined(false);
    LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
}

// A stand-in document viewer first on PATH that writes down the arguments it got.
class FakeViewer {
public:
    explicit FakeViewer(const QString& dir) : dir_(dir), out_(dir + "/viewer-args") {
        QDir().mkpath(dir);
        QFile script(dir + "/evince");
        script.open(QIODevice::WriteOnly);
        script.write(("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + out_ + ".tmp' && mv '" +
                      out_ + ".tmp' '" + out_ + "'\n")
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        oldPath_ = qgetenv("PATH");
        qputenv("PATH", dir.toUtf8() + ":" + oldPath_);
    }
    ~FakeViewer() { qputenv("PATH", oldPath_); }
    // The viewer's argument count and arguments, once it has run.
    QStringList Arguments() {
        for (int i = 0; i < 500 && !QFile::exists(out_); ++i) {
            QThread::msleep(10);
        }
        QFile file(out_);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        file.remove();
        return lines.mid(0, lines.size() - 1);
    }

private:
    QString dir_;
    QString out_;
    QByteArray oldPath_;
};

TEST_F(MainUITest, HelpHandsThePathToTheViewerWithoutAShell) {
    ui_test::SimLink link;
    auto window = Build(link);
    const QString base = QString::fromStdString(link.sim().Dir());
    FakeViewer viewer(base + "/bin");
    QAction* help = Action(*window, "Help");
    ASSERT_NE(help, nullptr);
    const QString odd = base + "/in st'all \"$(touch " + base + "/pwned)\";x/";
    struct Case {
        QString resourceDir;
        int language;
        const char* document;
    } cases[] = {
        {QStringLiteral(VT_TEST_RUNTIME_DIR), 1033, "help/vantrelo_en.pdf"},
        {QStringLiteral(VT_TEST_RUNTIME_DIR), 2052, "help/vantrelo_zh.pdf"},
        {odd, 1033, "help/vantrelo_en.pdf"},
    };
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetResourceDir(c.resourceDir);
        LanguageSetting::GetInstance()->Init(c.language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        help->trigger();
        EXPECT_EQ(viewer.Arguments(), (QStringList{"1", c.resourceDir + c.document}));
    }
    EXPECT_FALSE(QFile::exists(base + "/pwned")) << "no shell ran the path";
    // A path too long for the viewer is not handed on.
    UIContext::GetInstance()->SetResourceDir("/" + QString(1100, 'p') + "/");
    help->trigger();
    EXPECT_EQ(ui_test::LogCount("[Into sysTrayIcon help][get valid file path error]"), 1u);
    UIContext::GetInstance()->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
    // No viewer on the machine: the log says so.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    help->trigger();
    qputenv("PATH", path);
    EXPECT_EQ(ui_test::LogCount("[Into sysTrayIcon help][evince could not be started]"), 1u);
}

// The four ending events outside plugin mode: the SSL logout goes to the service whatever
// the link type, the event's box is shown, and the window is left not connected.
TEST_F(MainUITest, EndingEventsLogOutShowTheirBoxAndLeaveTheWindowIdle) {
    struct Case {
        const char* slot;
        const char* boxKey;
    } cases[] = {
        {"MainUI_UrgentLogout_Message", "/UI_MAIN/UI_MAIN_OFFLINE_FORCED"},
        {"MainUI_CnemReconn_Fail_Message", "/UI_MAIN/UI_MAIN_CNEM_RECONNENT_FAIL_LOGIN_AGAIN"},
        {"MainUI_VnicError_Message", "/UI_MAIN/UI_MAIN_CNEM_VNIC_ERROR"},
        {"MainUI_DhcpError_Message", "/UI_MAIN/UI_MAIN_CNEM_DHCP_ERROR"},
    };
    ui_test::SimLink link;
    auto window = Build(link);
    auto* connectButton = window->findChild<QPushButton*>("pb_connect");
    auto* disconnectButton = window->findChild<QPushButton*>("pb_disConnect");
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    size_t logouts = 0;
    for (const Case& c : cases) {
        // Connected over IPSec, window hidden in the tray.
        UIContext::GetInstance()->SetLogined(true);
        UIContext::GetInstance()->SetSettingEnable(false);
        UIContext::GetInstance()->SetLinkType(2);
        combo->setEnabled(false);
        connectButton->hide();
        disconnectButton->show();
        window->hide();
        driver.Clear();
        driver.Answer("OK");
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), c.slot)) << c.slot;
        ASSERT_EQ(driver.Seen().size(), 1u) << c.slot;
        EXPECT_EQ(driver.Seen()[0].text, KeyText(c.boxKey)) << c.slot;
        EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(QMessageBox::Warning)) << c.slot;
        const auto log = link.sim().Log();
        EXPECT_EQ(Requests(log, 3, 8).size(), ++logouts) << c.slot << ": an SSL logout";
        EXPECT_FALSE(UIContext::GetInstance()->GetLogined()) << c.slot;
        EXPECT_TRUE(UIContext::GetInstance()->GetSettingEnable()) << c.slot;
        EXPECT_TRUE(combo->isEnabled()) << c.slot;
        EXPECT_TRUE(window->isVisible()) << c.slot;
        EXPECT_TRUE(connectButton->isVisible()) << c.slot;
        EXPECT_FALSE(disconnectButton->isVisible()) << c.slot;
        EXPECT_FALSE(Action(*window, "Change password")->isEnabled()) << c.slot;
    }
}

// Tray Exit and closing the window while not connected end the process with status 0
// through the exit path, without a logout; so does an ending service event in plugin
// mode, without a box.
TEST_F(MainUITest, ExitPathEndsTheProcessOnceWithoutLogout) {
    struct Case {
        const char* how;
        int pluginMode;
        std::function<void(MainUI&)> act;
    } cases[] = {
        {"tray Exit", 0, [](MainUI& w) { Action(w, "Exit")->trigger(); }},
        {"window closed", 0, [](MainUI& w) { w.close(); }},
        {"forced logout in plugin mode", 1,
         [](MainUI& w) { QMetaObject::invokeMethod(&w, "MainUI_UrgentLogout_Message"); }},
        {"DHCP error in plugin mode", 1,
         [](MainUI& w) { QMetaObject::invokeMethod(&w, "MainUI_DhcpError_Message"); }},
    };
    for (const Case& c : cases) {
        ui_test::SimLink link;
        auto window = Build(link);
        window->show();
        const size_t exits = ui_test::LogCount("[#################UI exit!#################]");
        const size_t requests = link.sim().Log().size();
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            // The child shares this process's fixtures (private HOME, simulator folder):
            // it ends with the exit path's status before their destructors could run, or
            // with 9 when a box was shown on the way.
            on_exit(
                [](int status, void* seen) {
                    _exit(static_cast<BoxDriver*>(seen)->Seen().empty() ? status : 9);
                },
                &driver);
            UIContext::GetInstance()->SetPluginMode(c.pluginMode);
            c.act(*window);
            return 7;  // the exit path did not end the process
        });
        EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << c.how;
        EXPECT_EQ(ui_test::LogCount("[#################UI exit!#################]"), exits + 1)
            << c.how;
        EXPECT_EQ(link.sim().Log().size(), requests) << c.how << ": nothing sent, no logout";
    }
}

// Disconnect: the SSL cache clear only for an SSL VPN login that asked for it, then the
// logout of the link type (none for type 0), and the window not connected either way.
TEST_F(MainUITest, DisconnectSendsTheLogoutOfTheLinkType) {
    struct Case {
        int linkType;
        int cacheClear;
        std::vector<uint32_t> msgTypes;  // the requests Disconnect sends, in order
    } cases[] = {
        {1, 0, {3}}, {1, 1, {8, 3}}, {2, 1, {4}}, {0, 1, {}},
    };
    ui_test::SimLink link;
    auto window = Build(link);
    auto* disconnectButton = window->findChild<QPushButton*>("pb_disConnect");
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetLogined(true);
        UIContext::GetInstance()->SetSettingEnable(false);
        UIContext::GetInstance()->SetLinkType(c.linkType);
        UIContext::GetInstance()->SetCacheClear(c.cacheClear);
        window->findChild<QPushButton*>("pb_connect")->hide();
        disconnectButton->show();
        const size_t before = link.sim().Log().size();
        disconnectButton->click();
        const auto log = link.sim().Log();
        std::vector<uint32_t> sent;
        for (size_t i = before; i < log.size(); ++i) {
            sent.push_back(log[i]["head"]["msgType"].GetUint());
        }
        EXPECT_EQ(sent, c.msgTypes) << "link type " << c.linkType << ", cache " << c.cacheClear;
        EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
        EXPECT_TRUE(UIContext::GetInstance()->GetSettingEnable());
        EXPECT_FALSE(UIContext::GetInstance()->GetSslLogout()) << "lowered after the logout";
        EXPECT_TRUE(window->findChild<QPushButton*>("pb_connect")->isVisible());
        EXPECT_FALSE(disconnectButton->isVisible());
    }
    UIContext::GetInstance()->SetCacheClear(0);
}

// Cancelling automatic login: the service keeps the session without automatic login and
// without the password, this run keeps the password; without a session entry only a
// warning.
TEST_F(MainUITest, CancelAutomaticLoginWritesTheSessionWithoutPassword) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"},
        "profiles": [{"name": "Office.ini", "linkType": 1, "session":
            {"UserName": "alice", "Password": "Passw0rd", "RemPwd": 1, "AutoLogin": 1}}])");
    auto window = Build(link);
    QAction* cancel = Action(*window, "Cancel automatic login");
    ASSERT_NE(cancel, nullptr);
    std::vector<bool> told;
    QObject::connect(window.get(), &MainUI::signal_Main_DisAutoLogin,
                     [&](bool autoLogin) { told.push_back(autoLogin); });

    cancel->setEnabled(true);
    UIContext::GetInstance()->SetConnectName("gone");
    driver.Answer("OK");
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SysTrayIcon_DisAutoLogin"));
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text,
              KeyText("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"));
    EXPECT_TRUE(cancel->isEnabled());
    EXPECT_TRUE(told.empty());

    UIContext::GetInstance()->SetConnectName("Office");
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_SysTrayIcon_DisAutoLogin"));
    EXPECT_EQ(driver.Seen().size(), 1u) << "no further box";
    const auto log = link.sim().Log();
    const auto writes = Requests(log, 9, 3);
    ASSERT_EQ(writes.size(), 1u);
    const rapidjson::Value& fields = (*writes[0])["fields"];
    EXPECT_EQ(std::string(fields["ProfileName"].GetString()), "Office.ini");
    EXPECT_EQ(fields["AutoLogin"].GetUint(), 0u);
    EXPECT_EQ(fields["RemPwd"].GetUint(), 1u);
    EXPECT_EQ(std::string(fields["UserName"].GetString()), "alice");
    EXPECT_EQ(std::string(fields["Password"].GetString()), "") << "no password to the service";
    const CFM_SESSION_S* kept = UISystemProfile::GetInstance()->GetSession("Office.ini");
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->Password, "Passw0rd") << "the run keeps it";
    EXPECT_EQ(kept->AutoLogin, 0u);
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(told, std::vector<bool>{false});
}

// A press on the drop-down while not logged in rebuilds the list from the configuration
// now held and keeps the current connection; while logged in the list stays.
TEST_F(MainUITest, PressOnTheDropDownRebuildsOnlyWhileNotLoggedIn) {
    ui_test::SimLink link(kListScenario);
    auto window = Build(link);
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    Click(Row(combo, 2));
    ASSERT_EQ(UIContext::GetInstance()->GetConnectName(), QString("b.c"));
    // The profile "a" leaves the held configuration (as after a read elsewhere).
    CFM_SESSION_S& first = UISystemProfile::GetInstance()->GetSystemConfig()->Sessions[0];
    const CFM_SESSION_S saved = first;
    first.ProfileName[0] = '\0';

    UIContext::GetInstance()->SetLogined(true);
    Click(combo);
    combo->hidePopup();
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "a", "b.c"})) << "logged in";

    UIContext::GetInstance()->SetLogined(false);
    Click(combo);
    combo->hidePopup();
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "b.c"}));
    EXPECT_EQ(combo->currentText(), QString("b.c"));
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("b.c"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);
    first = saved;
}

// The open list holds every row whole, in both languages and with the program's font:
// the popup is at least as wide as the widest row's parts, however narrow the drop-down
// itself is laid out. The list is opened as a user opens it, by a press on the drop-down,
// which rebuilds it first.
TEST_F(MainUITest, OpenListHoldsEveryRowWhole) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    const QFont oldFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("TakaoPGothic"), 12));
    for (int language : {1033, 2052}) {
        SCOPED_TRACE(language);
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto window = Build(link);
        window->show();
        auto* combo = window->findChild<QComboBox*>("cb_linkname");
        Click(combo);
        ASSERT_TRUE(combo->view()->isVisible()) << "the press opens the list";
        ASSERT_EQ(RowTexts(combo).size(), 3);
        QWidget* viewport = combo->view()->viewport();
        int widest = 0;
        for (int i = 0; i < 3; ++i) {
            MComboboxItem* row = Row(combo, i);
            ASSERT_NE(row, nullptr);
            for (QWidget* part : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                const QRect inList(part->mapTo(viewport, QPoint(0, 0)), part->size());
                widest = std::max(widest, inList.right() + 1);
                EXPECT_TRUE(viewport->rect().contains(inList))
                    << row->MComboboxItem_Text_Get().toStdString() << ": part at " << inList.x() << ".."
                    << inList.right() << " of a list " << viewport->width() << " wide";
            }
        }
        EXPECT_GE(combo->view()->window()->width(), widest) << "the popup is as wide as the rows";
        combo->hidePopup();
    }
    QApplication::setFont(oldFont);
}

// Rows the profile editor reports: a new profile is appended and selected (an unknown
// kind is ignored); a saved one replaces the row of its old name at the end.
TEST_F(MainUITest, CreatedAndSavedProfilesMoveToTheEnd) {
    ui_test::SimLink link(kListScenario);
    auto window = Build(link);
    auto* combo = window->findChild<QComboBox*>("cb_linkname");
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_Connection_Create",
                                          Q_ARG(QString, "odd"), Q_ARG(LINK_TYPE, LINK_TYPE_GATEWAY)));
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "a", "b.c"}));
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_Connection_Create",
                                          Q_ARG(QString, "n"), Q_ARG(LINK_TYPE, LINK_TYPE_IPSEC)));
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "a", "b.c", "n"}));
    EXPECT_EQ(Row(combo, 3)->MComboboxItem_Type_Get(), LINK_TYPE_IPSEC);
    EXPECT_EQ(combo->currentText(), QString("n"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 2);

    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_ConnectList_GetSaveReturn_Update",
                                          Q_ARG(QString, "renamed"), Q_ARG(QString, "a"),
                                          Q_ARG(LINK_TYPE, LINK_TYPE_SSL)));
    EXPECT_EQ(RowTexts(combo), (QStringList{"New connection", "b.c", "n", "renamed"}));
    EXPECT_EQ(combo->currentText(), QString("renamed"));
    EXPECT_EQ(UIContext::GetInstance()->GetConnectName(), QString("renamed"));
    EXPECT_EQ(UIContext::GetInstance()->GetLinkType(), 1);
}

// A service text: type 1 a critical box and then a disconnect, type 0 only the log.
TEST_F(MainUITest, ShowStyleOfTypeOneDisconnects) {
    ui_test::SimLink link;
    auto window = Build(link);
    UIContext::GetInstance()->SetLogined(true);
    UIContext::GetInstance()->SetLinkType(2);
    const size_t before = link.sim().Log().size();
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_UI_Show_Style", Q_ARG(int, 0),
                                          Q_ARG(QString, "/UI_MAIN/UI_MAIN_CNEM_VNIC_ERROR")));
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
    driver.Answer("OK");
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "MainUI_UI_Show_Style", Q_ARG(int, 1),
                                          Q_ARG(QString, "/UI_MAIN/UI_MAIN_CNEM_VNIC_ERROR")));
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].icon, static_cast<int>(QMessageBox::Critical));
    EXPECT_EQ(driver.Seen()[0].text, KeyText("/UI_MAIN/UI_MAIN_CNEM_VNIC_ERROR"));
    EXPECT_FALSE(UIContext::GetInstance()->GetLogined());
    const auto log = link.sim().Log();
    ASSERT_EQ(log.size(), before + 1);
    EXPECT_EQ(log.back()["head"]["msgType"].GetUint(), 4u) << "the IPSec logout";
}

// Closing the window while connected only hides it; the connection stays.
TEST_F(MainUITest, CloseWhileConnectedHidesTheWindow) {
    ui_test::SimLink link;
    auto window = Build(link);
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    UIContext::GetInstance()->SetLogined(true);
    const size_t before = link.sim().Log().size();
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(UIContext::GetInstance()->GetLogined());
    EXPECT_EQ(link.sim().Log().size(), before);
}

// In plugin mode the proxy dialog is built but never shown; either way it is gone once
// done with, so clicks leave no hidden dialogs behind.
TEST_F(MainUITest, ProxySettingsRunModallyExceptInPluginMode) {
    ui_test::SimLink link;
    auto window = Build(link);
    UIContext::GetInstance()->SetPluginMode(1);
    window->findChild<QPushButton*>("pb_ProxySetting")->click();
    UIContext::GetInstance()->SetPluginMode(0);
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_TRUE(window->findChildren<ProxySetting*>().isEmpty());
    driver.Answer(BoxDriver::kClose);
    window->findChild<QPushButton*>("pb_ProxySetting")->click();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, QString("ProxySetting"));
    EXPECT_TRUE(driver.Seen()[0].modal);
    EXPECT_TRUE(driver.Seen()[0].hasParent);
    EXPECT_TRUE(window->findChildren<ProxySetting*>().isEmpty());
}

// A forced logout from the service reaches the window through its urgent thread: the SSL
// logout goes to the service, the box is shown and the window is left idle; two events
// queued together are handled one after the other, at least a second apart.
TEST_F(MainUITest, ServiceEventsReachTheWindowThroughItsThread) {
    ui_test::SimLink link;
    const size_t before = link.sim().Log().size();
    const size_t linesBefore = ui_test::LogLines().size();
    const vt_test::ChildResult r = vt_test::RunInChild(
        [&]() -> int {
            uint32_t fast = 0;
            if (UKO_Queue_Create("FAST", UI_QUEUE_DEPTH, UI_QUEUE_FLAGS, &fast) != 0) return 10;
            g_fastQueueId = fast;
            g_linkShutdown = false;
            auto window = Build(link);
            UIContext::GetInstance()->SetLogined(true);
            window->findChild<QPushButton*>("pb_connect")->hide();
            window->hide();
            driver.Answer("OK");
            for (int i = 0; i < 2; ++i) {
                const std::vector<uint8_t> p = ui_test::Packet(4, 2, 2, 1, 0xB0000);
                if (UI_Queue_Write(g_fastQueueId, p.data(), uint32_t(p.size())) != 0) return 11;
            }
            if (!driver.WaitSeen(1, 20000)) return 12;
            if (UIContext::GetInstance()->GetLogined()) return 13;
            if (!window->isVisible()) return 14;
            if (!window->findChild<QPushButton*>("pb_connect")->isVisible()) return 15;
            if (driver.Seen()[0].text != KeyText("/UI_MAIN/UI_MAIN_OFFLINE_FORCED")) return 16;
            driver.Answer("OK");
            if (!driver.WaitSeen(2, 20000)) return 17;
            return 0;
        },
        60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << vt_test::Describe(r);
    // The thread rests a second after each event. Measured where it takes each event, not
    // at the boxes: the first box may come late (a slow logout round trip), which would
    // shorten the gap between the boxes without any fault of the thread.
    std::vector<int64_t> taken;
    const std::vector<std::string> lines = ui_test::LogLines();
    for (size_t i = linesBefore; i < lines.size(); ++i) {
        if (lines[i].find("[Urgent thread run][message type is 1]") != std::string::npos) {
            taken.push_back(ui_test::LogLineTimeUs(lines[i]));
        }
    }
    ASSERT_EQ(taken.size(), 2u);
    ASSERT_GE(taken[0], 0);
    EXPECT_GE(taken[1] - taken[0], 900 * 1000);
    const auto log = link.sim().Log();
    size_t logouts = 0;
    for (size_t i = before; i < log.size(); ++i) {
        logouts += log[i]["head"]["msgType"].GetUint() == 3 && log[i]["head"]["code"].GetUint() == 8;
    }
    EXPECT_EQ(logouts, 2u) << "one SSL logout per event";
}

// The dialogs of the tray run modally with the window as parent and are gone once closed;
// a second choice while one is open opens no second one.
TEST_F(MainUITest, TrayDialogsRunModallyOneAtATime) {
    ui_test::SimLink link;
    auto window = Build(link);
    Action(*window, "Change password")->setEnabled(true);
    struct Case {
        const char* action;
        const char* dialogClass;
    } cases[] = {
        {"About", "AboutUI"}, {"Change password", "ChangePwd"}, {"Fault report", "BreakDownSubmit"},
        {"Options", "OptionSetUI"},
    };
    for (const Case& c : cases) {
        QAction* action = Action(*window, c.action);
        ASSERT_NE(action, nullptr) << c.action;
        driver.Clear();
        driver.Answer(BoxDriver::kClose);
        // Chosen again from inside the running dialog's own event loop.
        QTimer::singleShot(0, action, [action] { action->trigger(); });
        action->trigger();
        ASSERT_EQ(driver.Seen().size(), 1u) << c.action;
        EXPECT_EQ(driver.Seen()[0].className, QString(c.dialogClass));
        EXPECT_TRUE(driver.Seen()[0].modal) << c.action;
        EXPECT_TRUE(driver.Seen()[0].hasParent) << c.action;
        QApplication::processEvents();
        EXPECT_EQ(driver.Seen().size(), 1u) << c.action << ": no second dialog";
        bool left = false;
        for (QObject* child : window->children()) {
            left = left || QString(child->metaObject()->className()) == c.dialogClass;
        }
        EXPECT_FALSE(left) << c.action << ": deleted once closed";
    }
}

// A customised client shows its own banner when the install folder holds it, and keeps
// the built-in one otherwise.
TEST_F(MainUITest, CustomisedBannerOnlyWhenItsFileExists) {
    ui_test::SimLink link;
    const QString install = QString::fromStdString(link.sim().Dir()) + "/install/";
    const QString banner = install + "image/Customized/common/mcur_background.png";
    const QString builtIn =
        QStringLiteral("border-image: url(:/Global/Resources/Bitmap/background_mainwnd.png);");
    UIContext::GetInstance()->SetInstallDir(install);
    for (const bool present : {false, true}) {
        if (present) {
            ASSERT_TRUE(QDir().mkpath(install + "image/Customized/common"));
            ASSERT_TRUE(QFile::copy(":/Global/Resources/Bitmap/back.png", banner));
        }
        ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
        UISystemProfile::GetInstance()->SetCustomized("true");
        auto window = std::make_unique<MainUI>(nullptr);
        window->Init();
        EXPECT_EQ(window->findChild<QLabel*>("sw_label")->styleSheet(),
                  present ? "border-image: url(" + banner + ");" : builtIn);
    }
    UISystemProfile::GetInstance()->SetCustomized("");
    UIContext::GetInstance()->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
}

}  // namespace
