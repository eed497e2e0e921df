// The uninstaller's two windows in this process on the offscreen platform, with a
// recording runner and killer in place of the root runner and the kill by name, over
// folders made here: what they say in each language, where they stand, and which of
// them the buttons and the removal's result leave on the screen.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "AppDelegate.h"
#include "FirstWindowController.h"
#include "SecondWindowController.h"
#include "locale_env.h"
#include "uninstall_removal.h"
#include "vt_test/temp_env.h"

namespace {

using uninstall_test::LocaleEnv;
using uninstall_test::LocaleVars;

// What the finish window looked like when the removal was asked for.
struct AtRun {
    bool finishMade = false;
    bool finishVisible = false;
    bool confirmVisible = false;
    QString finishTitle;
    QString finishLabel;
};

AppDelegate* g_delegate = nullptr;
int g_runResult = 0;
int g_runs = 0;
int g_kills = 0;
int g_killsBeforeRun = 0;
AtRun g_atRun;

QString Text(QWidget* window, const char* name) {
    if (auto* label = window->findChild<QLabel*>(name)) {
        return label->text();
    }
    if (auto* button = window->findChild<QAbstractButton*>(name)) {
        return button->text();
    }
    ADD_FAILURE() << "no widget " << name;
    return QString();
}

int Runner(const char*, std::string*) {
    ++g_runs;
    g_killsBeforeRun = g_kills;
    FirstWindowController* first = g_delegate->firstWindowController.get();
    g_atRun = AtRun{};
    g_atRun.confirmVisible = first->window()->isVisible();
    if (SecondWindowController* second = first->secondWindowController.get()) {
        g_atRun.finishMade = true;
        g_atRun.finishVisible = second->window()->isVisible();
        g_atRun.finishTitle = second->window()->windowTitle();
        g_atRun.finishLabel = Text(second->window(), "label");
    }
    return g_runResult;
}

void Killer(const std::vector<std::string>&) { ++g_kills; }

// Whether the finish window was ever shown while it watched.
class ShowWatch : public QObject {
public:
    ShowWatch() { qApp->installEventFilter(this); }
    ~ShowWatch() override { qApp->removeEventFilter(this); }
    bool finishShown = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show &&
            watched->objectName() == QLatin1String("SecondWindowController")) {
            finishShown = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

bool CentredOnPrimaryScreen(QWidget* window) {
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    const QPoint centre = window->geometry().center();
    return (centre - screen).manhattanLength() <= 1;
}

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        // An install folder that the removal's checks take; the runner removes nothing.
        const std::string install = env_.Root() + "/VanTrelo";
        const std::string users = env_.Root() + "/users";
        ASSERT_EQ(mkdir(install.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((install + "/promote").c_str(), 0755), 0);
        for (const char* program :
             {"VanTrelo", "VanTreloUpdate", "promote/VanTreloPromoteService"}) {
            std::ofstream(install + "/" + program) << "x\n";
        }
        ASSERT_EQ(mkdir(users.c_str(), 0755), 0);
        uninstallProgramFolderSet(install.c_str());
        uninstallUsersDirSet(users.c_str());
        uninstallRunnerSet(Runner);
        uninstallKillerSet(Killer);
        g_runResult = 0;
        g_runs = 0;
        g_kills = 0;
        g_killsBeforeRun = 0;
        g_atRun = AtRun{};
    }

    void TearDown() override {
        g_delegate = nullptr;
        uninstallProgramFolderSet(nullptr);
        uninstallUsersDirSet(nullptr);
        uninstallRunnerSet(nullptr);
        uninstallKillerSet(nullptr);
    }

    // Starts the uninstaller as its main does, runs the action once the event loop runs,
    // and returns what exec() returned; a loop that does not end fails the test.
    int Run(AppDelegate& delegate, const std::function<void()>& action) {
        g_delegate = &delegate;
        delegate.applicationDidFinishLaunching();
        QTimer::singleShot(0, action);
        bool hung = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&hung] {
            hung = true;
            QApplication::quit();
        });
        watchdog.start(30000);
        const int rc = QApplication::exec();
        watchdog.stop();
        EXPECT_FALSE(hung) << "the uninstaller did not end";
        return rc;
    }

    static QWidget* Confirm(AppDelegate& d) { return d.firstWindowController->window(); }
    static QWidget* Finish(AppDelegate& d) {
        SecondWindowController* second = d.firstWindowController->secondWindowController.get();
        return second != nullptr ? second->window() : nullptr;
    }
    static void Click(QWidget* window, const char* name) {
        auto* button = window->findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    vt_test::TempEnv env_;
};

struct TextCase {
    const char* name;
    const char* lang;
    const char* tag;
    const char* title;
    const char* question;
    const char* quit;
    const char* uninstall;
    const char* removed;
    const char* done;
};

const char kEnQuestion[] = "This program will remove VanTrelo from your computer";
const char kEnRemoved[] = "VanTrelo has been removed from your computer successfully";

// Both windows speak the language of the first preferred language, byte for byte, and
// show each text whole at their fixed size, beside the picture.
TEST_F(Windows, TextsOfBothWindowsInEachLanguage) {
    const TextCase cases[] = {
        {"english", "en_US.UTF-8", "en-US", "VanTrelo Uninstaller", kEnQuestion, "Quit",
         "Uninstall", kEnRemoved, "Done"},
        {"chinese", "zh_CN.UTF-8", "zh-Hans-CN", "VanTrelo卸载",
         "该程序会将VanTrelo从你的电脑移除", "退出", "卸载", "VanTrelo已经从你的电脑移除",
         "完成"},
        {"traditional_chinese", "zh_TW.UTF-8", "zh-Hant-TW", "VanTrelo Uninstaller", kEnQuestion,
         "Quit", "Uninstall", kEnRemoved, "Done"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        LocaleEnv locale(LocaleVars{nullptr, nullptr, nullptr, c.lang});
        FirstWindowController first(QStringLiteral("FirstWindowController"));
        SecondWindowController second(QStringLiteral("SecondWindowController"));
        QWidget* confirm = first.window();
        QWidget* finish = second.window();
        EXPECT_EQ(first.currentLanguages, QString(c.tag));
        EXPECT_EQ(second.currentLanguages, QString(c.tag));
        EXPECT_EQ(confirm->windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(Text(confirm, "label"), QString::fromUtf8(c.question));
        EXPECT_EQ(Text(confirm, "quitButton"), QString::fromUtf8(c.quit));
        EXPECT_EQ(Text(confirm, "uinstallButton"), QString::fromUtf8(c.uninstall));
        EXPECT_EQ(finish->windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(Text(finish, "label"), QString::fromUtf8(c.removed));
        EXPECT_EQ(Text(finish, "finshButton"), QString::fromUtf8(c.done));

        for (QWidget* window : {confirm, finish}) {
            SCOPED_TRACE(window->objectName().toStdString());
            EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "a fixed size";
            auto* picture = window->findChild<QLabel*>("uinstallImageView");
            ASSERT_NE(picture, nullptr);
            EXPECT_FALSE(picture->pixmap(Qt::ReturnByValue).isNull());
            auto* label = window->findChild<QLabel*>("label");
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << "whole text";
            for (auto* button : window->findChildren<QPushButton*>()) {
                EXPECT_LE(button->sizeHint().width(), button->width())
                    << button->objectName().toStdString();
            }
        }
    }
}

struct EndCase {
    const char* name;
    bool throughRemoval;  // Uninstall first, then the finish window's control
    std::function<void(QWidget* window)> end;
};

// Quit, Done and the close button of either window end the application; the confirmation
// window's controls never run the removal.
TEST_F(Windows, EveryWayOutEndsTheApplication) {
    const EndCase cases[] = {
        {"quit", false, [](QWidget* w) { Click(w, "quitButton"); }},
        {"confirmation_close_button", false, [](QWidget* w) { w->close(); }},
        {"done", true, [](QWidget* w) { Click(w, "finshButton"); }},
        {"finish_close_button", true, [](QWidget* w) { w->close(); }},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_runs = 0;
        AppDelegate delegate;
        const int rc = Run(delegate, [&] {
            if (!c.throughRemoval) {
                c.end(Confirm(delegate));
                return;
            }
            Click(Confirm(delegate), "uinstallButton");
            QTimer::singleShot(0, [&] { c.end(Finish(delegate)); });
        });
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(g_runs, c.throughRemoval ? 1 : 0);
    }
}

// The finish window is made, filled and hidden before the removal runs; only after it
// ended well does it take the confirmation window's place, centred as that one was.
TEST_F(Windows, FinishWindowFollowsASuccessfulRemoval) {
    LocaleEnv locale(LocaleVars{nullptr, nullptr, nullptr, "zh_CN.UTF-8"});
    AppDelegate delegate;
    bool confirmCentred = false;
    bool confirmHidden = false;
    bool finishShown = false;
    bool finishCentred = false;
    const int rc = Run(delegate, [&] {
        confirmCentred = Confirm(delegate)->isVisible() && CentredOnPrimaryScreen(Confirm(delegate));
        Click(Confirm(delegate), "uinstallButton");
        confirmHidden = !Confirm(delegate)->isVisible();
        finishShown = Finish(delegate) != nullptr && Finish(delegate)->isVisible();
        finishCentred = finishShown && CentredOnPrimaryScreen(Finish(delegate));
        Click(Finish(delegate), "finshButton");
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(confirmCentred);
    EXPECT_EQ(g_runs, 1);
    EXPECT_TRUE(g_atRun.finishMade);
    EXPECT_FALSE(g_atRun.finishVisible);
    EXPECT_TRUE(g_atRun.confirmVisible);
    EXPECT_EQ(g_atRun.finishTitle, QString::fromUtf8("VanTrelo卸载"));
    EXPECT_EQ(g_atRun.finishLabel, QString::fromUtf8("VanTrelo已经从你的电脑移除"));
    EXPECT_EQ(g_killsBeforeRun, 0);
    EXPECT_EQ(g_kills, 1);
    EXPECT_TRUE(confirmHidden);
    EXPECT_TRUE(finishShown);
    EXPECT_TRUE(finishCentred);
}

// A removal that failed or was refused ends the application by itself, silently: the
// finish window is never shown.
TEST_F(Windows, FailedRemovalEndsWithoutTheFinishWindow) {
    g_runResult = -1;
    ShowWatch watch;
    AppDelegate delegate;
    testing::internal::CaptureStderr();
    const int rc = Run(delegate, [&] { Click(Confirm(delegate), "uinstallButton"); });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(g_runs, 1);
    EXPECT_EQ(g_kills, 0);
    EXPECT_FALSE(watch.finishShown);
    ASSERT_NE(Finish(delegate), nullptr);
    EXPECT_FALSE(Finish(delegate)->isVisible());
}

}  // namespace
