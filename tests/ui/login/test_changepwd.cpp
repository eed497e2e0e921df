// The password change dialog: its meta-object and form, its texts in both languages, the
// input limits with the fields' byte cap, the arrow keys and the clipboard, closing
// after a first login, and the change request against the simulator with every answer
// of the gateway.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "changepwd.h"
#include "ddm_log.h"
#include "languagesetting.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
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

const char* const kFields[] = {"le_oldPwd", "le_newPwd", "le_confirmPwd"};
const char* const kRules[] = {"lb_pwd1", "lb_pwd2", "lb_pwd3", "lb_pwd4"};

QStringList Rules(QWidget* dialog) {
    QStringList rules;
    for (const char* name : kRules) {
        rules << Find<QLabel>(dialog, name)->text();
    }
    return rules;
}

// The password change requests the simulator received, decoded.
struct Changes {
    explicit Changes(ui_test::Sim& sim) : log(sim.Log()) {
        for (const rapidjson::Document& line : log) {
            if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 3 &&
                line["head"]["code"].GetUint() == 11) {
                fields.push_back(&line["fields"]);
            }
        }
    }
    std::vector<rapidjson::Document> log;
    std::vector<const rapidjson::Value*> fields;
};

class ChangePwdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
        UIContext::GetInstance()->SetFirstLoginModifyPwd(false);
        (void)DDM_LogLevelSet(DDM_LOG_DEBUG);  // secrets are looked for in every line
    }
    void TearDown() override {
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
        UIContext::GetInstance()->SetFirstLoginModifyPwd(false);
        uiSyncTimeoutDivisorSet(1);
    }
    static std::unique_ptr<ChangePwd> Built() {
        auto dialog = std::make_unique<ChangePwd>(nullptr);
        dialog->Init();
        return dialog;
    }

    BoxDriver driver;
};

// ---- The class and its form ---------------------------------------------------------

TEST_F(ChangePwdTest, SlotsFormAndSize) {
    auto dialog = Built();
    const QMetaObject* meta = dialog->metaObject();
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 2) << "no signals, two slots";
    EXPECT_EQ(meta->method(meta->methodOffset()).methodSignature(), "on_pb_cancel_clicked()");
    EXPECT_EQ(meta->method(meta->methodOffset() + 1).methodSignature(), "on_pb_ok_clicked()");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(meta->method(meta->methodOffset() + i).access(), QMetaMethod::Private);
    }

    EXPECT_EQ(dialog->objectName(), QString("ChangePwd"));
    EXPECT_EQ(dialog->size(), QSize(411, 395));
    EXPECT_EQ(dialog->minimumSize(), QSize(411, 395));
    EXPECT_EQ(dialog->maximumSize(), QSize(411, 395)) << "fixed at the size the form gives";
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(dialog->windowType(), Qt::Dialog);
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    struct Row {
        const char* label;
        const char* field;
    } rows[] = {{"l_oldPwd", "le_oldPwd"}, {"l_newPwd", "le_newPwd"},
                {"l_confirmPwd", "le_confirmPwd"}};
    for (const Row& row : rows) {
        auto* label = Find<QLabel>(dialog.get(), row.label);
        ASSERT_NE(label, nullptr) << row.label;
        EXPECT_EQ(label->buddy(), Find<QLineEdit>(dialog.get(), row.field)) << row.label;
        EXPECT_EQ(label->minimumWidth(), 110) << row.label;
    }
    for (const char* name : {"l_oldPwd", "l_newPwd", "l_confirmPwd", "le_oldPwd", "le_newPwd",
                             "l_tip", "gb_pwdDemand", "pb_cancel", "pb_ok"}) {
        auto* widget = Find<QWidget>(dialog.get(), name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->font().family(), QString::fromUtf8("微软雅黑")) << name;
    }
    auto* tip = Find<QLabel>(dialog.get(), "l_tip");
    EXPECT_TRUE(tip->wordWrap());
    EXPECT_EQ(tip->styleSheet(), QString("color:rgb(66, 66, 66)"));
    for (const char* name : kRules) {
        ASSERT_NE(Find<QLabel>(dialog.get(), name), nullptr) << name;
        EXPECT_TRUE(Find<QLabel>(dialog.get(), name)->wordWrap()) << name;
        EXPECT_TRUE(Find<QLabel>(dialog.get(), name)->text().isEmpty()) << name;
    }
    EXPECT_EQ(Find<QGroupBox>(dialog.get(), "gb_pwdDemand")->alignment(),
              Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(Find<QPushButton>(dialog.get(), "pb_ok")->isDefault());
    EXPECT_FALSE(Find<QPushButton>(dialog.get(), "pb_cancel")->isDefault());
    EXPECT_EQ(Find<QPushButton>(dialog.get(), "pb_cancel")->accessibleName(),
              QString::fromUtf8("取消"));
}

TEST_F(ChangePwdTest, TextsAndToolTipsOfBothLanguages) {
    struct Text {
        const char* widget;  // null: the window title
        const char* key;
        bool toolTip;
    } texts[] = {
        {"l_oldPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_OLDPWD", false},
        {"l_newPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_NEWPWD", false},
        {"l_confirmPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_CONFIRMPWD", false},
        {"l_tip", "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIPS", false},
        {"gb_pwdDemand", "/UI_CHANGEPWD/UI_CHANGEPWD_GROUPBOX_PWDDEMAND", false},
        {"pb_cancel", "/UI_CHANGEPWD/UI_CHANGEPWD_PUSHBUTTON_CANCEL", false},
        {"pb_ok", "/UI_CHANGEPWD/UI_CHANGEPWD_PUSHBUTTON_OK", false},
        {nullptr, "/UI_CHANGEPWD/UI_CHANGEPWD_TITLE", false},
        {"le_oldPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_OLDPWD_TOOLTIP", true},
        {"le_newPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_NEWPWD_TOOLTIP", true},
        {"le_confirmPwd", "/UI_CHANGEPWD/UI_CHANGEPWD_CONFIRMPWD_TOOLTIP", true},
    };
    for (int language : {1033, 2052}) {
        LanguageSetting::GetInstance()->Init(language, QStringLiteral(VT_TEST_RUNTIME_DIR));
        auto dialog = Built();
        for (const Text& t : texts) {
            const QString expected = KeyText(t.key);
            ASSERT_FALSE(expected.isEmpty()) << t.key << " in " << language;
            QString shown;
            if (t.widget == nullptr) {
                shown = dialog->windowTitle();
            } else if (t.toolTip) {
                shown = Find<QWidget>(dialog.get(), t.widget)->toolTip();
            } else if (auto* box = Find<QGroupBox>(dialog.get(), t.widget)) {
                shown = box->title();
            } else if (auto* button = Find<QPushButton>(dialog.get(), t.widget)) {
                shown = button->text();
            } else {
                shown = Find<QLabel>(dialog.get(), t.widget)->text();
            }
            EXPECT_EQ(shown, expected) << t.key << " in " << language;
        }
    }
}

// ---- Input --------------------------------------------------------------------------

// Each password fills a 128-byte field of the request: typing stops at 127 bytes, the
// last text that fitted kept, so that no password is ever sent empty.
TEST_F(ChangePwdTest, FieldsMaskedLimitedAndCappedAtTheirBytes) {
    auto dialog = Built();
    const QString accented = QString::fromUtf8("\xc3\xa9");  // 2 bytes
    for (const char* name : kFields) {
        auto* field = Find<QLineEdit>(dialog.get(), name);
        EXPECT_EQ(field->echoMode(), QLineEdit::Password) << name;
        EXPECT_EQ(field->maxLength(), 127) << name;
        EXPECT_EQ(field->contextMenuPolicy(), Qt::NoContextMenu) << name;
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), name, "ab" + QString::fromUtf8("中") + "c"));
        EXPECT_EQ(field->text(), QString("abc")) << name << ": no ideographs";
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), name, accented.repeated(64)));
        EXPECT_EQ(field->text(), accented.repeated(63)) << name;
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), name, QString(130, QLatin1Char('x'))));
        EXPECT_EQ(field->text(), QString(127, QLatin1Char('x'))) << name;
    }
}

// The arrows move the focus between the two buttons and nowhere else; in a field they
// do nothing, not even move the cursor. The clipboard and the selection paste reach no
// field.
TEST_F(ChangePwdTest, ArrowsBelongToTheButtonsAndTheClipboardToNoField) {
    auto dialog = Built();
    auto* cancel = Find<QPushButton>(dialog.get(), "pb_cancel");
    auto* ok = Find<QPushButton>(dialog.get(), "pb_ok");
    driver.AnswerWith(
        [&](QWidget* box) {
            box->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(box));
            struct Step {
                QWidget* from;
                int key;
                QWidget* to;
            } steps[] = {
                {cancel, Qt::Key_Right, ok},    {ok, Qt::Key_Left, cancel},
                {ok, Qt::Key_Right, ok},        {cancel, Qt::Key_Left, cancel},
            };
            for (const Step& s : steps) {
                s.from->setFocus(Qt::OtherFocusReason);
                QTest::keyClick(s.from, static_cast<Qt::Key>(s.key));
                EXPECT_TRUE(s.to->hasFocus()) << s.from->objectName().toStdString() << " key "
                                              << s.key;
            }
            auto* field = Find<QLineEdit>(box, "le_newPwd");
            ASSERT_TRUE(BoxDriver::TypeInto(box, "le_newPwd", "abcd"));
            field->setCursorPosition(2);
            for (int key : {Qt::Key_Right, Qt::Key_Left}) {
                QTest::keyClick(field, static_cast<Qt::Key>(key));
                EXPECT_EQ(field->cursorPosition(), 2) << "key " << key;
                EXPECT_TRUE(field->hasFocus()) << "key " << key;
            }
            BoxDriver::Respond(box, BoxDriver::kEscape);
        },
        QStringLiteral("arrows, then Escape"));
    EXPECT_EQ(dialog->exec(), QDialog::Rejected);

    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    QApplication::clipboard()->setText(QStringLiteral("selected"), QClipboard::Selection);
    for (const char* name : kFields) {
        auto* field = Find<QLineEdit>(dialog.get(), name);
        field->setText(QStringLiteral("kept"));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
        QTest::mouseClick(field, Qt::MiddleButton);
        EXPECT_EQ(field->text(), QString("kept")) << name;
        QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
        EXPECT_TRUE(dialog->eventFilter(field, &copy)) << name << ": copy swallowed";
        QMouseEvent middle(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::MiddleButton,
                           Qt::NoButton, Qt::NoModifier);
        EXPECT_TRUE(dialog->eventFilter(field, &middle)) << name;
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        EXPECT_FALSE(dialog->eventFilter(field, &typed)) << name << ": typing goes through";
    }
    QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    EXPECT_FALSE(dialog->eventFilter(ok, &paste)) << "the buttons keep their other keys";
}

// After a first login that demanded a new password, closing the window is a refusal
// the login hears of; otherwise the dialog just closes. Cancel is always a refusal.
TEST_F(ChangePwdTest, ClosingRefusesOnlyAfterAFirstLogin) {
    struct Case {
        bool firstLogin;
        const char* answer;
        int rejected;
    } cases[] = {{true, BoxDriver::kClose, 1},  {false, BoxDriver::kClose, 0},
                 {false, BoxDriver::kEscape, 1}, {false, "Cancel", 1}};
    for (const Case& c : cases) {
        UIContext::GetInstance()->SetFirstLoginModifyPwd(c.firstLogin);
        auto dialog = Built();
        QSignalSpy rejected(dialog.get(), &QDialog::rejected);
        driver.Answer(QString::fromLatin1(c.answer));
        EXPECT_EQ(dialog->exec(), QDialog::Rejected) << c.answer;
        EXPECT_EQ(rejected.count(), c.rejected) << c.answer << " first login " << c.firstLogin;
        EXPECT_FALSE(dialog->isVisible());
        ASSERT_EQ(driver.Seen().size(), 1u);
        EXPECT_FALSE(driver.Seen()[0].ignored) << c.answer;
        driver.Clear();
    }
}

// ---- The change ---------------------------------------------------------------------

// One dialog through every answer, in order: the local refusals send nothing, each
// complexity refusal shows the gateway's rules, another refusal clears them, no answer
// keeps them, and only the gateway's confirmation closes the dialog.
TEST_F(ChangePwdTest, EveryAnswerOfTheGateway) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const QString low = KeyText("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_COMPLEXITY_LOW");
    const QString notName = KeyText("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_USE_PSWD_SAME_INVALD");
    const QString mayName = KeyText("/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_USE_PSWD_SAME");
    const QStringList none = {"", "", "", ""};
    const QStringList lowRules = {"At least 8 characters long.", "At most 16 characters long.",
                                  low, " "};
    const QStringList middleRules = {
        "At least 8 characters long.", "At most 16 characters long.", notName,
        "At least 2 kinds of characters: capitals, small letters, digits, symbols."};
    const QStringList highRules = {
        "At least 10 characters long.", "At most 20 characters long.", mayName,
        "At least 1 kinds of characters: capitals, small letters, digits, symbols."};
    auto policy = [](const char* code, int min, int max, int mixed, int user) {
        return std::string(R"({"code": ")") + code +
               R"(", "payload": {"record": "UI_PWD_POLICY_S", "fields": {"uiMinLength": )" +
               std::to_string(min) + R"(, "uiMaxLength": )" + std::to_string(max) +
               R"(, "uiMixedCase": )" + std::to_string(mixed) + R"(, "uiNamePwdDiffer": )" +
               std::to_string(user) + "}}}";
    };
    struct Row {
        const char* what;
        const char* oldPwd;
        const char* newPwd;
        const char* confirm;
        std::string reply;   // scripted answer to the request; empty: none is sent
        const char* key;     // the notice's key; null: no notice
        QStringList rules;   // the rule labels afterwards
        bool accepted;
    } rows[] = {
        {"all empty", "", "", "", "", "/UI_CHANGEPWD/UI_CHANGEPWD_PWD_EMPTY", none, false},
        {"one empty", "Passw0rd", "", "Newpass1", "", "/UI_CHANGEPWD/UI_CHANGEPWD_PWD_EMPTY",
         none, false},
        {"confirmation differs in case", "Passw0rd", "Newpass1", "NEWPASS1", "",
         "/UI_CHANGEPWD/UI_CHANGEPWD_PWD_UNEQUAL", none, false},
        {"new equals old", "Passw0rd", "Passw0rd", "Passw0rd", "",
         "/UI_CHANGEPWD/UI_CHANGEPWD_PWD_NEWOLDPW_SAME", none, false},
        {"basic rules", "Passw0rd", "Newpass1", "Newpass1", policy("0x4000D", 8, 16, 1, 1),
         "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIP", lowRules, false},
        {"medium rules", "Passw0rd", "Newpass1", "Newpass1", policy("0x4000C", 8, 16, 1, 1),
         "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIP", middleRules, false},
        {"strong rules", "Passw0rd", "Newpass1", "Newpass1", policy("0x4000B", 10, 20, 0, 0),
         "/UI_CHANGEPWD/UI_CHANGEPWD_LABEL_TIP", highRules, false},
        {"no answer", "Passw0rd", "Newpass1", "Newpass1", R"({"noReply": true})", "/GLOBAL/OVERTIMEERROR",
         highRules, false},
        {"old password wrong", "Passw0rd", "Newpass1", "Newpass1", policy("0x40008", 8, 16, 1, 1),
         "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_OLDPW_ERROR", none, false},
        {"a login's success code", "Passw0rd", "Newpass1", "Newpass1", R"({"code": "0x20000"})",
         "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_SUCCESS", none, false},
        {"code beyond the table", "Passw0rd", "Newpass1", "Newpass1", R"({"code": "0x4000E"})",
         "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL", none, false},
        {"blanks are a password", " ", "  ", "  ", R"({"code": "0x40000"})", nullptr, none, true},
    };
    auto dialog = Built();
    QSignalSpy accepted(dialog.get(), &QDialog::accepted);
    size_t sent = 0;
    for (const Row& row : rows) {
        driver.Clear();
        if (!row.reply.empty()) {
            ASSERT_EQ(link.sim().Control("script set 3 11 " + row.reply).rfind("OK", 0), 0u);
        }
        uiSyncTimeoutDivisorSet(row.reply.find("noReply") != std::string::npos ? 200 : 1);
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_oldPwd", row.oldPwd));
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_newPwd", row.newPwd));
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_confirmPwd", row.confirm));
        if (row.key != nullptr) {
            driver.Answer("OK");
        }
        ASSERT_TRUE(BoxDriver::ClickButton(dialog.get(), "pb_ok"));
        ASSERT_EQ(driver.Seen().size(), row.key != nullptr ? 1u : 0u) << row.what;
        if (row.key != nullptr) {
            const vt_qt_test::SeenBox& notice = driver.Seen()[0];
            EXPECT_EQ(notice.text, KeyText(row.key)) << row.what;
            EXPECT_FALSE(notice.text.isEmpty()) << row.key;
            EXPECT_EQ(notice.className, QString("QMessageBox"));
            EXPECT_EQ(notice.icon, QMessageBox::Information) << row.what;
            EXPECT_EQ(notice.title, KeyText("/GLOBAL/WARNING")) << row.what;
            EXPECT_EQ(notice.buttons, QStringList{KeyText("/GLOBAL/OK")}) << row.what;
            EXPECT_TRUE(notice.hasParent) << row.what;
        }
        EXPECT_EQ(Rules(dialog.get()), row.rules) << row.what;
        EXPECT_EQ(accepted.count(), row.accepted ? 1 : 0) << row.what;
        sent += row.reply.empty() ? 0 : 1;
        Changes changes(link.sim());
        ASSERT_EQ(changes.fields.size(), sent) << row.what;
        if (!row.reply.empty()) {
            const rapidjson::Value& f = *changes.fields.back();
            EXPECT_EQ(std::string(f["acOldPwd"].GetString()), row.oldPwd) << row.what;
            EXPECT_EQ(std::string(f["acNewPwd"].GetString()), row.newPwd) << row.what;
        }
        const QStringList typed = {row.oldPwd, row.newPwd, row.confirm};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Find<QLineEdit>(dialog.get(), kFields[i])->text(), typed[i])
                << row.what << ": the fields keep what was typed";
        }
    }
    EXPECT_EQ(ui_test::LogCount("Passw0rd"), 0u);
    EXPECT_EQ(ui_test::LogCount("Newpass1"), 0u);
}

}  // namespace
