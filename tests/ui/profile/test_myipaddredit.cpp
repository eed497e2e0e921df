// The IPv4 address editor as a user types into it: the four parts and their dots, the
// text read back and set, the focus hand-over between parts, the octet caps with their
// warning box, and which changes announce themselves as edits.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include "ipedit_support.h"
#include "languagesetting.h"
#include "myipaddredit.h"
#include "myippartlineedit.h"
#include "vt_qt_test/box_driver.h"

namespace {

using ipedit_test::ShowActive;
using ipedit_test::Text;
using ipedit_test::TypeKeys;
using vt_qt_test::BoxDriver;

// An editor in a window of its own, sized as the route dialog sizes it: built at the
// default child height of 30, then set to 160 by 21.
class IpAddrEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        ipedit_test::LoadEnglish();
        window.resize(200, 60);
        edit = new MyIpAddrEdit(&window);
        edit->setGeometry(10, 10, 160, 21);
        for (int i = 0; i < 4; ++i) {
            part[i] = edit->Part(i);
        }
        ASSERT_TRUE(ShowActive(&window));
    }

    QString Parts() const {
        return QStringList{part[0]->text(), part[1]->text(), part[2]->text(), part[3]->text()}
            .join('|');
    }

    QWidget window;
    MyIpAddrEdit* edit = nullptr;
    MyIpPartLineEdit* part[4] = {};
};

TEST_F(IpAddrEditTest, PartsAndDotsStandAtFixedPlacesWithoutLayout) {
    EXPECT_EQ(edit->layout(), nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(part[i]->geometry(), QRect(40 * i, 0, 40, 30)) << "part " << i;
        EXPECT_FALSE(part[i]->hasFrame());
        EXPECT_EQ(part[i]->alignment(), Qt::AlignCenter);
        EXPECT_EQ(part[i]->maxLength(), 3);
    }
    const QList<QLabel*> dots = edit->findChildren<QLabel*>();
    ASSERT_EQ(dots.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dots[i]->text(), " .");
        EXPECT_EQ(dots[i]->geometry(), QRect(37 + 40 * i, 1, 6, 18));
    }
    EXPECT_EQ(edit->Part(4), nullptr);
    EXPECT_EQ(edit->Part(-1), nullptr);
}

TEST_F(IpAddrEditTest, SetTextTakesOnlyAWholeDottedQuad) {
    struct Case {
        const char* given;
        const char* parts;
    } cases[] = {
        {"10.0.0.1", "10|0|0|1"},
        {"255.255.255.255", "255|255|255|255"},
        {"010.001.0.1", "010|001|0|1"},  // leading zeros stay as given
        {"256.1.1.1", "|||"},
        {"10.0.0", "|||"},
        {"10.0.0.1 ", "|||"},
        {" 10.0.0.1", "|||"},
        {"10.0.0.1.5", "|||"},
        {"1a.0.0.1", "|||"},
        {"", "|||"},
    };
    for (const Case& c : cases) {
        edit->setText("1.2.3.4");  // something to empty
        edit->setText(c.given);
        EXPECT_EQ(Parts(), c.parts) << '"' << c.given << '"';
    }
    edit->setText("");
    EXPECT_EQ(edit->text(), "...");
    part[0]->setText("10");
    part[2]->setText("7");
    EXPECT_EQ(edit->text(), "10..7.") << "empty parts stay empty";
}

TEST_F(IpAddrEditTest, StyleSheetGoesToThePartsOnly) {
    const QString red = "border:1px solid red;";
    edit->setStyleSheet(red);
    for (MyIpPartLineEdit* p : part) {
        EXPECT_EQ(p->styleSheet(), red);
    }
    EXPECT_TRUE(edit->QWidget::styleSheet().isEmpty());
    for (QLabel* dot : edit->findChildren<QLabel*>()) {
        EXPECT_TRUE(dot->styleSheet().isEmpty());
    }
}

// Typed from the first part: each key goes where the focus is then.
TEST_F(IpAddrEditTest, TypingAnAddressWalksThroughTheParts) {
    struct Case {
        const char* keys;
        const char* parts;
        int focus;  // the part that has the focus afterwards
    } cases[] = {
        {"192.168.1.20", "192|168|1|20", 3},  // a full octet moves on; the "." after it is
                                              // swallowed by the empty next part
        {"10.0.0.1", "10|0|0|1", 3},
        {"12", "12|||", 0},                    // two digits stay
        {"12.", "12|||", 1},                   // "." moves on
        {".", "|||", 0},                       // "." in an empty part does nothing
        {"1..2", "1|2||", 1},                  // the second "." meets an empty part
        {"1a2", "12|||", 0},                   // no letters
        {"1.2.3.4.5", "1|2|3|45", 3},          // the fourth part has no next
    };
    for (const Case& c : cases) {
        edit->setText("");
        part[0]->setFocus(Qt::OtherFocusReason);
        TypeKeys(c.keys);
        EXPECT_EQ(Parts(), c.parts) << c.keys;
        EXPECT_TRUE(part[c.focus]->hasFocus()) << c.keys;
    }
}

// Typed over parts that hold text: the "." after a full octet ends that octet, as in an
// empty part, instead of moving on once more.
TEST_F(IpAddrEditTest, TypingOverAnAddressKeepsThePartsInStep) {
    struct Case {
        const char* before;
        const char* keys;
        const char* parts;
    } cases[] = {
        {"10.20.30.40", "192.168.1.0", "192|168|1|0"},
        {"255.255.255.0", "255.255.255.0", "255|255|255|0"},  // a proposed mask retyped
        {"255.0.0.0", "255.255.0.0", "255|255|0|0"},
        {"1.2.3.4", "12.7", "12|7|3|4"},          // after two digits "." moves on
        {"1.2.3.4", "1235.6", "123|5|6|4"},       // a digit ends the full octet's turn
    };
    for (const Case& c : cases) {
        edit->setText(c.before);
        part[0]->setFocus(Qt::OtherFocusReason);
        part[0]->selectAll();  // as on entering it, had it not kept the focus
        TypeKeys(c.keys);
        EXPECT_EQ(Parts(), c.parts) << c.before << " <- " << c.keys;
    }
}

TEST_F(IpAddrEditTest, ArrowsAndKeypadEnterMoveTheFocusReturnDoesNot) {
    edit->setText("10.20.30.40");
    struct Case {
        int from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int to;
    } cases[] = {
        {1, Qt::Key_Right, Qt::NoModifier, 2},
        {1, Qt::Key_Left, Qt::NoModifier, 0},
        {1, Qt::Key_Enter, Qt::KeypadModifier, 2},
        {1, Qt::Key_Return, Qt::NoModifier, 1},
        {3, Qt::Key_Right, Qt::NoModifier, 3},  // no next part
        {0, Qt::Key_Left, Qt::NoModifier, 0},   // no previous part
        {2, Qt::Key_Period, Qt::NoModifier, 3},
    };
    for (const Case& c : cases) {
        part[c.from]->setFocus(Qt::OtherFocusReason);
        part[c.from]->setCursorPosition(1);
        QTest::keyClick(part[c.from], c.key, c.modifiers);
        EXPECT_TRUE(part[c.to]->hasFocus()) << "from " << c.from << " key " << c.key;
        if (c.to != c.from) {
            EXPECT_EQ(part[c.to]->selectedText(), part[c.to]->text()) << "all selected";
        }
    }
    // Within the part, the arrows only move the cursor.
    part[3]->setFocus(Qt::OtherFocusReason);
    part[3]->setCursorPosition(0);
    QTest::keyClick(part[3], Qt::Key_Right);
    EXPECT_EQ(part[3]->cursorPosition(), 1);
    EXPECT_EQ(Parts(), "10|20|30|40");
}

TEST_F(IpAddrEditTest, FocusSelectsThePartAndSaysSo) {
    edit->setText("10.20.30.40");
    QSignalSpy got(part[2], &MyIpPartLineEdit::getfocus);
    part[2]->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(got.count(), 1);
    EXPECT_EQ(part[2]->selectedText(), "30");
}

// The cap: 255 for every part but the one named "ip_part1_", which stops at 223.
TEST_F(IpAddrEditTest, AnOctetAboveItsCapIsWarnedAndCapped) {
    struct Case {
        bool firstOctet;
        int index;
        const char* keys;
        const char* key;   // language key of the box, or null for no box
        const char* after;
        int focus;
    } cases[] = {
        {false, 0, "300", "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0255", "255", 0},
        {false, 2, "256", "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0255", "255", 2},
        {false, 3, "999", "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0255", "255", 3},
        {false, 1, "255", nullptr, "255", 2},
        {false, 0, "224", nullptr, "224", 1},  // only the named part has the lower cap
        {true, 0, "224", "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0233", "223", 0},
        {true, 0, "255", "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_NOVALID_0233", "223", 0},
        {true, 0, "223", nullptr, "223", 1},
        {true, 0, "001", nullptr, "001", 1},
    };
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    ASSERT_FALSE(global.ERROR.isEmpty());
    for (const Case& c : cases) {
        // A closed box leaves no window active here, where no window manager gives the
        // activation back.
        ASSERT_TRUE(ShowActive(&window));
        edit->setText("1.2.3.4");
        part[0]->setObjectName(c.firstOctet ? "ip_part1_" : "");
        part[c.index]->setFocus(Qt::OtherFocusReason);
        part[c.index]->selectAll();
        BoxDriver driver;
        QWidget* boxParent = nullptr;
        if (c.key != nullptr) {
            driver.AnswerWith([&](QWidget* box) {
                boxParent = box->parentWidget();
                BoxDriver::Respond(box, global.OK);
            });
        }
        QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
        TypeKeys(c.keys);
        const std::string label = std::string(c.keys) + (c.firstOctet ? " first" : "");
        EXPECT_EQ(part[c.index]->text(), c.after) << label;
        EXPECT_EQ(window.focusWidget(), part[c.focus]) << label;
        if (c.key == nullptr) {
            EXPECT_TRUE(driver.Seen().empty()) << label;
            EXPECT_EQ(part[c.focus]->selectedText(), part[c.focus]->text()) << label;
            EXPECT_FALSE(part[c.focus]->text().isEmpty());
            continue;
        }
        ASSERT_EQ(driver.Seen().size(), 1u) << label;
        const vt_qt_test::SeenBox& box = driver.Seen()[0];
        ASSERT_FALSE(Text(c.key).isEmpty()) << c.key;
        EXPECT_EQ(box.text, QString(c.keys) + " " + Text(c.key)) << label;
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_EQ(box.title, global.ERROR);
        EXPECT_EQ(box.buttons, QStringList{global.OK});
        EXPECT_TRUE(box.modal);
        EXPECT_EQ(boxParent, part[c.index]) << label;
        // The cap is written by the program: three edits, one a digit.
        EXPECT_EQ(edited.count(), 3) << label;
    }
}

TEST_F(IpAddrEditTest, ProgramChangesAreChangesNotEdits) {
    QSignalSpy changed(edit, &MyIpAddrEdit::textchanged);
    QSignalSpy edited(edit, &MyIpAddrEdit::textedited);
    edit->setText("10.1.2.3");
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(changed.last().at(0).toString(), "10.1.2.3");
    part[1]->setText("7");
    EXPECT_EQ(changed.last().at(0).toString(), "10.7.2.3");
    EXPECT_EQ(edited.count(), 0);

    part[3]->setFocus(Qt::OtherFocusReason);
    TypeKeys("9");  // replaces the selected "3"
    EXPECT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.last().at(0).toString(), "10.7.2.9");
    EXPECT_EQ(changed.last().at(0).toString(), "10.7.2.9");
}

TEST(IpPartLineEdit, AloneItHandsOverNothing) {
    QWidget window;
    auto* part = new MyIpPartLineEdit(&window);
    ASSERT_TRUE(ShowActive(&window));
    part->setFocus(Qt::OtherFocusReason);
    TypeKeys("12.3");
    EXPECT_EQ(part->text(), "123");
    EXPECT_TRUE(part->hasFocus());
    QTest::keyClick(part, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(part, Qt::Key_Left);
    EXPECT_TRUE(part->hasFocus());
}

}  // namespace
