// The untrusted-certificate prompt: its meta-object in order (two slots bound to
// nothing), the form, the flags its constructor sets, its texts in both languages, and
// how each action ends it or reports.

#include <gtest/gtest.h>

#include <memory>

#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "certificatedialog.h"
#include "languagesetting.h"
#include "ui_test/ui_sim.h"
#include "vt_qt_test/box_driver.h"

// Failures show texts, not their code units.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using vt_qt_test::BoxDriver;

QString KeyText(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

template <typename T>
T* Find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

class CertificateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    // As the login builds it: no Init, the texts set by the creator.
    static std::unique_ptr<certificateDialog> Built() {
        auto dialog = std::make_unique<certificateDialog>(nullptr);
        dialog->SetLanguageText();
        return dialog;
    }

    BoxDriver driver;
};

TEST_F(CertificateDialogTest, SignalsSlotsAndForm) {
    auto dialog = Built();
    const QMetaObject* meta = dialog->metaObject();
    struct Method {
        const char* signature;
        QMetaMethod::MethodType type;
    } methods[] = {
        {"signal_OpenHelp()", QMetaMethod::Signal},
        {"signal_Language_Changed()", QMetaMethod::Signal},
        {"on_pb_ChangSetting_clicked()", QMetaMethod::Slot},
        {"on_pb_KeepSafe_clicked()", QMetaMethod::Slot},
        {"on_pb_ChangSetting_3_clicked()", QMetaMethod::Slot},
        {"on_pb_OpenHelp_3_clicked()", QMetaMethod::Slot},
        {"on_pb_CancleConnect_clicked()", QMetaMethod::Slot},
        {"on_pb_OpenHelp_clicked()", QMetaMethod::Slot},
    };
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 8);
    for (int i = 0; i < 8; ++i) {
        const QMetaMethod m = meta->method(meta->methodOffset() + i);
        EXPECT_EQ(m.methodSignature(), QByteArray(methods[i].signature)) << i;
        EXPECT_EQ(m.methodType(), methods[i].type) << i;
        if (m.methodType() == QMetaMethod::Slot) {
            EXPECT_EQ(m.access(), QMetaMethod::Private) << i;
        }
    }
    // The two slots no widget names stay unbound, so those signals reach nobody.
    QSignalSpy help(dialog.get(), &certificateDialog::signal_OpenHelp);
    QSignalSpy settings(dialog.get(), &certificateDialog::signal_Language_Changed);
    ASSERT_TRUE(QMetaObject::invokeMethod(dialog.get(), "on_pb_OpenHelp_3_clicked"));
    ASSERT_TRUE(QMetaObject::invokeMethod(dialog.get(), "on_pb_ChangSetting_3_clicked"));
    EXPECT_EQ(help.count(), 1);
    EXPECT_EQ(settings.count(), 1);

    EXPECT_EQ(dialog->objectName(), QString("certificateDialog"));
    EXPECT_EQ(dialog->size(), QSize(450, 240));
    EXPECT_EQ(dialog->minimumSize(), QSize(450, 240));
    EXPECT_EQ(dialog->maximumSize(), QSize(800, 240)) << "only the width may change";
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(dialog->windowType(), Qt::Dialog) << "flags set by the constructor";
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    auto* picture = Find<QLabel>(dialog.get(), "label_4");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->minimumSize(), QSize(40, 40));
    EXPECT_EQ(picture->maximumSize(), QSize(40, 40));
    EXPECT_EQ(picture->styleSheet(), QString("image: url(:/Global/Resources/Icon/alarm.png);"));
    auto* title = Find<QLabel>(dialog.get(), "l_title");
    EXPECT_EQ(title->font().pointSize(), 13);
    EXPECT_TRUE(title->font().bold());
    EXPECT_TRUE(title->wordWrap());
    EXPECT_EQ(Find<QLabel>(dialog.get(), "l_tip")->font().pointSize(), 10);
    EXPECT_TRUE(Find<QLabel>(dialog.get(), "l_tip")->wordWrap());
    for (const char* link : {"pb_ChangSetting", "pb_OpenHelp"}) {
        auto* button = Find<QPushButton>(dialog.get(), link);
        ASSERT_NE(button, nullptr) << link;
        EXPECT_EQ(button->font().family(), QString("Arial")) << link;
        EXPECT_TRUE(button->font().underline()) << link;
        EXPECT_EQ(button->styleSheet(),
                  QString("border:none;\ncolor: rgb(0, 0, 255);\ntext-align : left;\n"
                          "text-decoration: underline;\n"))
            << link;
    }
    EXPECT_EQ(Find<QWidget>(dialog.get(), "w_bottom")->styleSheet(),
              QString("background-color:rgb(186, 186, 185)"));
    for (const char* name : {"pb_KeepSafe", "pb_CancleConnect", "pb_ChangSetting", "pb_OpenHelp"}) {
        EXPECT_FALSE(Find<QPushButton>(dialog.get(), name)->isDefault()) << name;
    }
    EXPECT_EQ(Find<QPushButton>(dialog.get(), "pb_KeepSafe")->minimumHeight(), 23);
    EXPECT_EQ(Find<QPushButton>(dialog.get(), "pb_KeepSafe")->accessibleName(),
              QString("确定 Enter"));
}

TEST_F(CertificateDialogTest, TextsOfBothLanguages) {
    struct Text {
        const char* widget;  // null: the window title
        const char* key;
    } texts[] = {
        {nullptr, "/UI_CERTIFICATE/UI_CERTIFICATE_TITLE"},
        {"pb_KeepSafe", "/UI_CERTIFICATE/UI_CERTIFICATE_PB_KEEP_SAFE"},
        {"pb_CancleConnect", "/UI_CERTIFICATE/UI_CERTIFICATE_PB_CANCLE_CONNECT"},
        {"l_title", "/UI_CERTIFICATE/UI_CERTIFICATE_LABEL1"},
        {"l_tip", "/UI_CERTIFICATE/UI_CERTIFICATE_LABEL2"},
        {"pb_OpenHelp", "/UI_CERTIFICATE/UI_CERTIFICATE_PB_OPENHELP"},
        {"pb_ChangSetting", "/UI_CERTIFICATE/UI_CERTIFICATE_PB_CHANGE_SETTING"},
    };
    for (int language : {1033, 2052}) {
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto dialog = Built();
        dialog->SetInfo(QStringLiteral("192.0.2.11:443"));
        for (const Text& t : texts) {
            ASSERT_FALSE(KeyText(t.key).isEmpty()) << t.key << " in " << language;
            QString shown = dialog->windowTitle();
            if (auto* button = t.widget ? Find<QPushButton>(dialog.get(), t.widget) : nullptr) {
                shown = button->text();
            } else if (t.widget != nullptr) {
                shown = Find<QLabel>(dialog.get(), t.widget)->text();
            }
            EXPECT_EQ(shown, KeyText(t.key)) << t.key << " in " << language;
        }
    }
}

// Continue is the one way to Accepted, and says nothing else; the links report and
// leave the prompt open however often they are pressed.
TEST_F(CertificateDialogTest, EachActionEndsOrReports) {
    struct Case {
        const char* what;
        std::function<void(QWidget*)> act;
        int result;
        int help, settings;
    } cases[] = {
        {"Continue", [](QWidget* b) { BoxDriver::ClickButton(b, "pb_KeepSafe"); }, 1, 0, 0},
        {"Cancel", [](QWidget* b) { BoxDriver::ClickButton(b, "pb_CancleConnect"); }, 0, 0, 0},
        {"Escape", [](QWidget* b) { BoxDriver::Respond(b, BoxDriver::kEscape); }, 0, 0, 0},
        {"close button", [](QWidget* b) { BoxDriver::Respond(b, BoxDriver::kClose); }, 0, 0, 0},
        {"help twice, then Cancel",
         [](QWidget* b) {
             BoxDriver::ClickButton(b, "pb_OpenHelp");
             BoxDriver::ClickButton(b, "pb_OpenHelp");
             EXPECT_TRUE(b->isVisible());
             BoxDriver::ClickButton(b, "pb_CancleConnect");
         },
         0, 2, 0},
        {"settings twice, then Continue",
         [](QWidget* b) {
             BoxDriver::ClickButton(b, "pb_ChangSetting");
             BoxDriver::ClickButton(b, "pb_ChangSetting");
             EXPECT_TRUE(b->isVisible());
             BoxDriver::ClickButton(b, "pb_KeepSafe");
         },
         1, 0, 2},
    };
    for (const Case& c : cases) {
        auto dialog = Built();
        QSignalSpy help(dialog.get(), &certificateDialog::signal_OpenHelp);
        QSignalSpy settings(dialog.get(), &certificateDialog::signal_Language_Changed);
        driver.AnswerWith(c.act, QString::fromLatin1(c.what));
        EXPECT_EQ(dialog->exec(), c.result) << c.what;
        EXPECT_EQ(help.count(), c.help) << c.what;
        EXPECT_EQ(settings.count(), c.settings) << c.what;
        ASSERT_EQ(driver.Seen().size(), 1u);
        EXPECT_FALSE(driver.Seen()[0].ignored) << c.what;
        driver.Clear();
    }
}

// Widening is allowed up to 800 pixels; the height stays.
TEST_F(CertificateDialogTest, OnlyTheWidthChanges) {
    auto dialog = Built();
    dialog->resize(1000, 400);
    EXPECT_EQ(dialog->size(), QSize(800, 240));
    dialog->resize(600, 100);
    EXPECT_EQ(dialog->size(), QSize(600, 240));
}

}  // namespace
