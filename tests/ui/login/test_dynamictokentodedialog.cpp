// The dynamic token prompt: its meta-object, form and texts, the field's filter, and the
// ways it ends: OK hands over whatever was typed, Enter commits nothing, Escape and the
// close button hand over nothing.

#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "dynamictokentodedialog.h"
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

class DynamicTokenTodeDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    static std::unique_ptr<DynamicTokenTodeDialog> Built() {
        auto dialog = std::make_unique<DynamicTokenTodeDialog>(nullptr);
        dialog->Init();
        return dialog;
    }

    BoxDriver driver;
};

TEST_F(DynamicTokenTodeDialogTest, SignalSlotFormAndTexts) {
    auto dialog = Built();
    const QMetaObject* meta = dialog->metaObject();
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 2);
    const QMetaMethod signal = meta->method(meta->methodOffset());
    EXPECT_EQ(signal.methodSignature(), "signal_SendCodeStr(QString)");
    EXPECT_EQ(signal.methodType(), QMetaMethod::Signal);
    EXPECT_EQ(signal.parameterNames(), QList<QByteArray>{"codeStr"});
    const QMetaMethod slot = meta->method(meta->methodOffset() + 1);
    EXPECT_EQ(slot.methodSignature(), "on_pb_commit_clicked()");
    EXPECT_EQ(slot.access(), QMetaMethod::Private);

    EXPECT_EQ(dialog->objectName(), QString("DynamicTokenTodeDialog"));
    EXPECT_EQ(dialog->size(), QSize(276, 61));
    EXPECT_EQ(dialog->maximumHeight(), 61);
    EXPECT_EQ(dialog->maximumWidth(), QWIDGETSIZE_MAX);
    auto* field = Find<QLineEdit>(dialog.get(), "le_number");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->minimumWidth(), 200);
    EXPECT_EQ(field->maxLength(), 127);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->validator(), nullptr);
    auto* commit = Find<QPushButton>(dialog.get(), "pb_commit");
    ASSERT_NE(commit, nullptr);
    EXPECT_EQ(commit->maximumWidth(), 50);
    EXPECT_EQ(commit->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(commit->isDefault());
    for (const char* name : {"l_tip", "le_number", "pb_commit"}) {
        EXPECT_EQ(Find<QWidget>(dialog.get(), name)->font().family(), QString::fromUtf8("微软雅黑"))
            << name;
    }
    EXPECT_EQ(field->accessibleName(), QString::fromUtf8("动态令牌码"));

    for (int language : {1033, 2052}) {
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto shown = Built();
        const QString title = KeyText("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_TITLE");
        ASSERT_FALSE(title.isEmpty());
        EXPECT_EQ(shown->windowTitle(), title) << language;
        EXPECT_EQ(Find<QLabel>(shown.get(), "l_tip")->text(),
                  KeyText("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_TIP"))
            << language;
        EXPECT_EQ(Find<QPushButton>(shown.get(), "pb_commit")->text(),
                  KeyText("/UI_DYNAMICTOKENCODE/UI_DYNAMICTOKENCODE_COMMIT"))
            << language;
    }
}

// Any 127 characters are a code; neither the clipboard nor the selection reaches it.
TEST_F(DynamicTokenTodeDialogTest, TheFieldTakesTypingOnly) {
    auto dialog = Built();
    auto* field = Find<QLineEdit>(dialog.get(), "le_number");
    ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_number", QString::fromUtf8("令牌") + "12"));
    EXPECT_EQ(field->text(), QString::fromUtf8("令牌") + "12");
    ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_number", QString(130, QLatin1Char('7'))));
    EXPECT_EQ(field->text(), QString(127, QLatin1Char('7')));

    QApplication::clipboard()->setText(QStringLiteral("999999"));
    QApplication::clipboard()->setText(QStringLiteral("888888"), QClipboard::Selection);
    field->setText(QStringLiteral("1"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QTest::mouseClick(field, Qt::MiddleButton);
    EXPECT_EQ(field->text(), QString("1"));
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(dialog->eventFilter(field, &copy));
    QMouseEvent middle(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::MiddleButton, Qt::NoButton,
                       Qt::NoModifier);
    EXPECT_TRUE(dialog->eventFilter(field, &middle));
    QMouseEvent left(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                     Qt::NoModifier);
    EXPECT_FALSE(dialog->eventFilter(field, &left));
}

// OK emits the code as typed (an empty one too) before the dialog closes with 1; Enter
// commits nothing; Escape and the close button end it with 0 and no code.
TEST_F(DynamicTokenTodeDialogTest, HowItEnds) {
    struct Case {
        const char* what;
        const char* typed;
        std::function<void(QWidget*)> act;
        int result;
        QStringList codes;
    } cases[] = {
        {"OK", "123456", [](QWidget* b) { BoxDriver::ClickButton(b, "pb_commit"); }, 1, {"123456"}},
        {"OK on an empty field", "", [](QWidget* b) { BoxDriver::ClickButton(b, "pb_commit"); }, 1,
         {""}},
        {"Enter, then Escape", "123456",
         [](QWidget* b) {
             QTest::keyClick(Find<QLineEdit>(b, "le_number"), Qt::Key_Return);
             QTest::keyClick(Find<QLineEdit>(b, "le_number"), Qt::Key_Enter);
             EXPECT_TRUE(b->isVisible()) << "Enter commits nothing";
             BoxDriver::Respond(b, BoxDriver::kEscape);
         },
         0, {}},
        {"close button", "123456", [](QWidget* b) { BoxDriver::Respond(b, BoxDriver::kClose); }, 0, {}},
    };
    for (const Case& c : cases) {
        auto dialog = Built();
        QStringList codes;
        QObject::connect(dialog.get(), &DynamicTokenTodeDialog::signal_SendCodeStr,
                         [&](const QString& code) {
                             EXPECT_TRUE(dialog->isVisible()) << "the code comes before the end";
                             codes << code;
                         });
        driver.AnswerWith(
            [&](QWidget* box) {
                box->activateWindow();
                (void)QTest::qWaitForWindowActive(box);
                ASSERT_TRUE(BoxDriver::TypeInto(box, "le_number", c.typed));
                c.act(box);
            },
            QString::fromLatin1(c.what));
        EXPECT_EQ(dialog->exec(), c.result) << c.what;
        EXPECT_EQ(codes, c.codes) << c.what;
        driver.Clear();
    }
}

}  // namespace
