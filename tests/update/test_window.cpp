// The update window in-process: its form, flags and font, its slots as code invoking them
// by name sees them, the language it picks, the close guard and its three boxes.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "pkg_test.h"
#include "update_test.h"
#include "updatewindow.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/temp_env.h"

using update_test::Label;
using vt_qt_test::BoxDriver;

namespace {

// Receives what the desktop would open.
class UrlReceiver : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class UpdateWindowTest : public ::testing::Test {
protected:
    // Before the test's own folders: the log's folder must outlive them.
    static void SetUpTestSuite() { update_test::LogSetUp(); }
    // A window whose start timer is stopped, so that no run begins under the test.
    std::unique_ptr<updateWindow> Window() {
        auto w = std::make_unique<updateWindow>(nullptr);
        QTimer* timer = w->findChild<QTimer*>();
        EXPECT_NE(timer, nullptr);
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
        EXPECT_TRUE(timer->isSingleShot());
        if (timer != nullptr) timer->stop();
        return w;
    }
    void SetLanguage(const char* value) {
        const std::string dir = env_.Home() + "/.VanTrelo";
        (void)mkdir(dir.c_str(), 0700);
        if (value == nullptr) {
            (void)unlink((dir + "/sysconfig.ini").c_str());
        } else {
            pkg_test::WriteFile(dir + "/sysconfig.ini", std::string("[ADVANCED]\nClientLanguageID=") + value + "\n");
        }
    }
    vt_test::TempEnv env_;
    BoxDriver driver_;
};

TEST_F(UpdateWindowTest, FixedSmallWindowOnTopWithoutCloseButton) {
    auto w = Window();
    EXPECT_EQ(w->objectName(), "updateWindow");
    EXPECT_EQ(w->size(), QSize(320, 71));
    EXPECT_EQ(w->minimumSize(), QSize(320, 71));
    EXPECT_EQ(w->maximumSize(), QSize(320, 71));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(w->font().family(), "TakaoPGothic");
    EXPECT_EQ(w->font().pointSize(), 12);

    auto* bar = w->findChild<QProgressBar*>("progressBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(bar->font().family(), "TakaoPGothic");
    auto* button = w->findChild<QPushButton*>("updateButton");
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isHidden());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->maximumSize(), QSize(0, 0));
    EXPECT_EQ(button->text(), "update");
    auto* label = w->findChild<QLabel*>("label");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    auto* central = w->findChild<QWidget*>("centralWidget");
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(w->centralWidget(), central);
    auto* layout = qobject_cast<QVBoxLayout*>(central->layout());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->objectName(), "verticalLayout");
    EXPECT_EQ(layout->spacing(), 6);
    EXPECT_EQ(layout->contentsMargins(), QMargins(11, 11, 11, 11));
    ASSERT_EQ(layout->count(), 2);
    EXPECT_EQ(layout->itemAt(0)->layout()->objectName(), "horizontalLayout_2");
    EXPECT_EQ(layout->itemAt(1)->layout()->objectName(), "horizontalLayout");
    EXPECT_EQ(layout->itemAt(0)->layout()->itemAt(1)->widget(), label);
    EXPECT_EQ(layout->itemAt(1)->layout()->itemAt(0)->widget(), bar);
}

TEST_F(UpdateWindowTest, SlotsInTheirOrderWithTheirArgumentNames) {
    auto w = Window();
    const QMetaObject* mo = w->metaObject();
    const std::vector<std::pair<QByteArray, QByteArray>> expected = {
        {"on_updateButton_clicked()", ""},
        {"updateDir(QString,QString)", "newVersionDir,oldVersionDir"},
        {"updateFile(QString,QString)", "newFilePath,oldFilePath"},
        {"startUpdateMac()", ""},
        {"updateFinished()", ""},
        {"updateSlot(int)", "x"},
        {"aotoCloseMsgBox(QString)", "msgBoxInfo"},
        {"aotoMsgBox(QString)", "msgBoxInfo"},
        {"UpdateFileMsgBox(QString)", "msgBoxInfo"},
        {"killClient()", ""},
        {"closeEvent(QCloseEvent*)", "event"},
    };
    ASSERT_EQ(mo->methodCount() - mo->methodOffset(), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo->method(mo->methodOffset() + static_cast<int>(i));
        EXPECT_EQ(m.methodSignature(), expected[i].first) << i;
        EXPECT_EQ(m.parameterNames().join(','), expected[i].second) << i;
        EXPECT_EQ(m.methodType(), QMetaMethod::Slot) << i;
    }
}

// The language setting picks the label file; one that has none (nothing writes the
// setting, so 0 is what users have) gets the Chinese texts, as the front end does.
TEST_F(UpdateWindowTest, LanguageFromTheUsersSettingWithChineseForOneWithoutTexts) {
    struct Case {
        const char* value;
        int language;
    } cases[] = {{"2052", 2052}, {"1033", 1033}, {"2052x", 2052}, {"", 2052}, {nullptr, 2052}};
    ASSERT_NE(Label(2052, "/UI_UPDATE/UI_UPDATE_TITLE"), Label(1033, "/UI_UPDATE/UI_UPDATE_TITLE"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "no file");
        SetLanguage(c.value);
        auto w = Window();
        EXPECT_EQ(w->windowTitle(), Label(c.language, "/UI_UPDATE/UI_UPDATE_TITLE"));
        EXPECT_FALSE(w->windowTitle().isEmpty());
        EXPECT_EQ(w->findChild<QLabel*>("label")->text(), Label(c.language, "/UI_UPDATE/UI_UPDATE_UPDATING"));
        EXPECT_EQ(w->getLabelText("/GLOBAL/OK"), Label(c.language, "/GLOBAL/OK"));
        EXPECT_EQ(w->getLabelText("/UI_UPDATE/NO_SUCH_KEY"), QString());
    }
}

TEST_F(UpdateWindowTest, RefusesToCloseUntilTheRunAllowsIt) {
    auto w = Window();
    w->setUpdateParam(QString::fromStdString(env_.Root()) + "/missing.tar.gz;https://gw.example/p.tar.gz");
    w->show();
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    // A run that gives up allows closing and closes the window.
    driver_.Answer(BoxDriver::kEscape);
    ASSERT_TRUE(QMetaObject::invokeMethod(w.get(), "startUpdateMac"));
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(driver_.Seen().size(), 1u);
}

TEST_F(UpdateWindowTest, ResultBoxHasOneOkButtonAndNoParent) {
    SetLanguage("1033");
    auto w = Window();
    driver_.Answer(Label(1033, "/GLOBAL/OK"));
    ASSERT_TRUE(QMetaObject::invokeMethod(w.get(), "aotoMsgBox", Q_ARG(QString, "the result")));
    ASSERT_EQ(driver_.Seen().size(), 1u);
    const auto& box = driver_.Seen()[0];
    EXPECT_EQ(box.className, "QMessageBox");
    EXPECT_EQ(box.icon, int(QMessageBox::Information));
    EXPECT_EQ(box.title, Label(1033, "/UI_UPDATE/UI_UPDATE_TITLE"));
    EXPECT_EQ(box.text, "the result");
    EXPECT_EQ(box.buttons, QStringList{Label(1033, "/GLOBAL/OK")});
    EXPECT_EQ(box.flags & (Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
              int(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint));
    EXPECT_FALSE(box.hasParent);
    EXPECT_TRUE(box.modal);
}

// Only the first button hands the download address to the desktop.
TEST_F(UpdateWindowTest, PackageBoxOpensTheDownloadAddressOnlyOnItsFirstButton) {
    SetLanguage("1033");
    UrlReceiver receiver;
    QDesktopServices::setUrlHandler("https", &receiver, "open");
    const QString url = "https://gw.example:8443/app/vantrelo-macosx.tar.gz?x=1";
    struct Case {
        QString answer;
        bool opens;
    } cases[] = {{Label(1033, "/UI_UPDATE/UI_UPDATE_DOWN_NEW"), true},
                 {Label(1033, "/UI_UPDATE/UI_UPDATE_USE_OLD"), false},
                 {BoxDriver::kEscape, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        receiver.urls.clear();
        driver_.Clear();
        auto w = Window();
        w->setUpdateParam("/tmp/p.tar.gz;" + url + ";alice");
        driver_.Answer(c.answer);
        ASSERT_TRUE(QMetaObject::invokeMethod(w.get(), "UpdateFileMsgBox", Q_ARG(QString, "ignored")));
        ASSERT_EQ(driver_.Seen().size(), 1u);
        const auto& box = driver_.Seen()[0];
        EXPECT_EQ(box.icon, int(QMessageBox::Information));
        EXPECT_EQ(box.title, Label(1033, "/UI_UPDATE/UI_UPDATE_TITLE"));
        EXPECT_EQ(box.text, Label(1033, "/UI_UPDATE/UI_UPDATE_ERROR_TXT"));
        EXPECT_EQ(box.buttons, (QStringList{Label(1033, "/UI_UPDATE/UI_UPDATE_DOWN_NEW"),
                                            Label(1033, "/UI_UPDATE/UI_UPDATE_USE_OLD")}));
        EXPECT_FALSE(box.hasParent);
        QCoreApplication::processEvents();
        EXPECT_EQ(receiver.urls, c.opens ? QList<QUrl>{QUrl(url)} : QList<QUrl>{});
    }
    QDesktopServices::unsetUrlHandler("https");
}

TEST_F(UpdateWindowTest, SelfClosingBoxEndsByItself) {
    auto w = Window();
    driver_.AnswerLetEnd();
    ASSERT_TRUE(QMetaObject::invokeMethod(w.get(), "aotoCloseMsgBox", Q_ARG(QString, "closing soon")));
    ASSERT_EQ(driver_.Seen().size(), 1u);
    const auto& box = driver_.Seen()[0];
    EXPECT_EQ(box.title, "update");
    EXPECT_EQ(box.text, "closing soon");
    EXPECT_EQ(box.buttons.size(), 1);
    EXPECT_FALSE(box.hasParent);
    for (QWidget* top : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(top->isVisible()) << top->metaObject()->className();
    }
}

}  // namespace

#include "test_window.moc"
