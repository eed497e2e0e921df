// The route network dialog: its form, the editors laid over it, the proposed mask, the
// first-octet check, the checks on OK with their warnings, and the one signal that hands
// a network on, driven as its creator runs it (exec) and as a user types into it.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ipedit_support.h"
#include "myipaddredit.h"
#include "myippartlineedit.h"
#include "newvpnnetwork.h"
#include "vt_qt_test/box_driver.h"

namespace {

using ipedit_test::ShowActive;
using ipedit_test::Text;
using ipedit_test::TypeKeys;
using vt_qt_test::BoxDriver;

#define KEY(name) "/UI_NEWVPNNETWORK/UI_NEWVPNNETWORK_" name

// A part of either editor, by its accessible name ("ip1" .. "ip4", "mask1" .. "mask4").
MyIpPartLineEdit* Part(QWidget* dialog, const QString& name) {
    for (MyIpPartLineEdit* part : dialog->findChildren<MyIpPartLineEdit*>()) {
        if (part->accessibleName() == name) {
            return part;
        }
    }
    ADD_FAILURE() << "no part " << name.toStdString();
    return nullptr;
}

MyIpAddrEdit* Editor(QWidget* dialog, const QString& firstPart) {
    MyIpPartLineEdit* part = Part(dialog, firstPart);
    return part != nullptr ? qobject_cast<MyIpAddrEdit*>(part->parentWidget()) : nullptr;
}

// The four parts of an editor at once, "|" between them, as in "10||5|".
void SetParts(QWidget* dialog, const char* prefix, const QString& parts) {
    const QStringList texts = parts.split('|');
    for (int i = 0; i < 4; ++i) {
        Part(dialog, QStringLiteral("%1%2").arg(prefix).arg(i + 1))->setText(texts.value(i));
    }
}

QString Parts(QWidget* dialog, const char* prefix) {
    QStringList texts;
    for (int i = 1; i <= 4; ++i) {
        texts << Part(dialog, QStringLiteral("%1%2").arg(prefix).arg(i))->text();
    }
    return texts.join('|');
}

// The next widget that Tab reaches.
QWidget* NextTabStop(QWidget* from) {
    QWidget* w = from->nextInFocusChain();
    while (w != from && !(w->focusPolicy() & Qt::TabFocus)) {
        w = w->nextInFocusChain();
    }
    return w;
}

// The warning boxes come from the shared warning: no parent, the WARNING title.
void ExpectWarning(const vt_qt_test::SeenBox& box, const char* key) {
    ASSERT_FALSE(Text(key).isEmpty()) << key << " is missing from the language file";
    EXPECT_EQ(box.text, Text(key));
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.title, LanguageSetting::GetInstance()->GetGlobalLang().WARNING);
    EXPECT_FALSE(box.hasParent);
}

class NewVPNNetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ipedit_test::LoadEnglish();
        ok = LanguageSetting::GetInstance()->GetGlobalLang().OK;
        ASSERT_FALSE(ok.isEmpty());
    }

    // A dialog set up as its creator sets it up, shown and active.
    std::unique_ptr<NewVPNNetwork> Open() {
        auto dialog = std::make_unique<NewVPNNetwork>();
        dialog->Init();
        EXPECT_TRUE(ShowActive(dialog.get()));
        return dialog;
    }

    QString ok;
};

TEST_F(NewVPNNetworkTest, FormAndEditorsAsLaidOut) {
    NewVPNNetwork dialog;
    // The base's form names the dialog first; the generated form names only a nameless one.
    EXPECT_EQ(dialog.objectName(), "basewidget");
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("添加新地址")) << "before the texts";
    EXPECT_EQ(dialog.minimumSize(), QSize(305, 98));
    EXPECT_EQ(dialog.maximumSize(), QSize(305, 98));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_TRUE(dialog.findChildren<MyIpAddrEdit*>().isEmpty()) << "no editors before Init";

    dialog.Init();
    auto* address = Editor(&dialog, "ip1");
    auto* mask = Editor(&dialog, "mask1");
    ASSERT_TRUE(address && mask);
    ASSERT_NE(address, mask);
    // Placed before the first show, from the line edits' initial place and height.
    EXPECT_EQ(address->geometry(), QRect(128, 11, 160, 21));
    EXPECT_EQ(mask->geometry(), QRect(128, 39, 160, 21));
    EXPECT_EQ(address->Part(0)->objectName(), "ip_part1_");
    EXPECT_EQ(dialog.findChildren<MyIpPartLineEdit*>("ip_part1_").size(), 1)
        << "the mask's parts keep the cap of 255";
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(address->Part(i)->accessibleName(), QStringLiteral("ip%1").arg(i + 1));
        EXPECT_EQ(mask->Part(i)->accessibleName(), QStringLiteral("mask%1").arg(i + 1));
    }

    auto* l_ip = dialog.findChild<QLabel*>("l_IPAddress");
    auto* l_mask = dialog.findChild<QLabel*>("l_mask");
    auto* le_ip = dialog.findChild<QLineEdit*>("le_IPAddress");
    auto* le_mask = dialog.findChild<QLineEdit*>("le_mask");
    auto* pb_ok = dialog.findChild<QPushButton*>("pb_ok");
    auto* pb_cancel = dialog.findChild<QPushButton*>("pb_cancel");
    ASSERT_TRUE(l_ip && l_mask && le_ip && le_mask && pb_ok && pb_cancel);
    EXPECT_EQ(l_ip->buddy(), le_ip);
    EXPECT_EQ(l_mask->buddy(), le_mask);
    EXPECT_EQ(NextTabStop(le_ip), le_mask);
    EXPECT_EQ(NextTabStop(le_mask), pb_ok);
    EXPECT_EQ(NextTabStop(pb_ok), pb_cancel);
    for (QPushButton* b : {pb_ok, pb_cancel}) {
        EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    }

    // The texts of the language file.
    EXPECT_EQ(dialog.windowTitle(), Text(KEY("TITLE")));
    EXPECT_EQ(l_ip->text(), Text(KEY("LABEL_IPADDRESS")));
    EXPECT_EQ(l_mask->text(), Text(KEY("LABEL_MASK")));
    EXPECT_EQ(pb_ok->text(), Text(KEY("PUSHBUTTON_OK")));
    EXPECT_EQ(pb_cancel->text(), Text(KEY("PUSHBUTTON_CANCEL")));
    EXPECT_FALSE(Text(KEY("TITLE")).isEmpty());

    ASSERT_TRUE(ShowActive(&dialog));
    EXPECT_TRUE(address->Part(0)->hasFocus()) << "the address's first part starts";
    EXPECT_EQ(address->geometry(), QRect(128, 11, 160, 21)) << "the grid does not move them";
}

// The creator's road: exec, a user who types the network and presses OK, the signal.
TEST_F(NewVPNNetworkTest, TypedNetworkIsHandedOnOnceAndTheDialogEnds) {
    NewVPNNetwork dialog;
    dialog.Init();
    QSignalSpy newIP(&dialog, &NewVPNNetwork::signal_newIP);
    BoxDriver driver;
    driver.AnswerWith([](QWidget* box) {
        ASSERT_TRUE(ShowActive(box));
        TypeKeys("192.168.1.0");
        Part(box, "mask1")->setFocus(Qt::TabFocusReason);  // proposes 255.255.255.0
        TypeKeys("255.255.255.0");
        BoxDriver::ClickButton(box, "pb_ok");
        if (box->isVisible()) {  // refused: end it, so that the test fails, not hangs
            static_cast<QDialog*>(box)->reject();
        }
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    ASSERT_EQ(newIP.count(), 1);
    EXPECT_EQ(newIP[0][0].toString(), "192.168.1.0");
    EXPECT_EQ(newIP[0][1].toString(), "255.255.255.0");
    EXPECT_EQ(driver.Seen().size(), 1u) << "no warning on the way";
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(NewVPNNetworkTest, CancelCloseAndEscapeHandOnNothing) {
    enum How { kCancel, kClose, kEscape };
    for (How how : {kCancel, kClose, kEscape}) {
        NewVPNNetwork dialog;
        dialog.Init();
        QSignalSpy newIP(&dialog, &NewVPNNetwork::signal_newIP);
        BoxDriver driver;
        driver.AnswerWith([how](QWidget* box) {
            Part(box, "ip1")->setText("10");
            SetParts(box, "mask", "255|0|0|0");
            if (how == kCancel) {
                BoxDriver::ClickButton(box, "pb_cancel");
            } else {
                BoxDriver::Respond(box, how == kClose ? BoxDriver::kClose : BoxDriver::kEscape);
            }
        });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected) << how;
        EXPECT_EQ(newIP.count(), 0) << how;
    }
}

// OK on the parts as given: which warning comes first, what is handed on, and what the
// emptiness test fills in.
TEST_F(NewVPNNetworkTest, ConfirmChecksInOrder) {
    struct Case {
        const char* address;    // parts, "|" between them
        const char* mask;
        const char* warning;    // the key of the one warning, or null: handed on
        const char* addressAfter;
        const char* maskAfter;
    } cases[] = {
        {"|||", "|||", KEY("IP_EMPTY"), "|||", "|||"},
        {"|||", "255|255|255|0", KEY("IP_EMPTY"), "|||", "255|255|255|0"},
        {"10|||", "|||", KEY("MASK_EMPTY"), "10|0|0|0", "|||"},
        // The address as typed, missing parts as 0.
        {"10|||", "255|||", nullptr, "10|0|0|0", "255|0|0|0"},
        {"10|1|1|0", "255|255|255|0", nullptr, "10|1|1|0", "255|255|255|0"},
        {"010|1|1|0", "255|255|255|000", nullptr, "010|1|1|0", "255|255|255|000"},
        // Mask shape: leading ones, then zeros; all zeros passes.
        {"10|1|1|5", "255|255|255|255", nullptr, "10|1|1|5", "255|255|255|255"},
        {"10|1|1|0", "128|||", nullptr, "10|1|1|0", "128|0|0|0"},
        {"10|1|1|0", "0|0|0|0", nullptr, "10|1|1|0", "0|0|0|0"},
        {"10|1|1|0", "255|0|255|0", KEY("MASK_ERROR"), "10|1|1|0", "255|0|255|0"},
        {"10|1|1|0", "255|255|255|1", KEY("MASK_ERROR"), "10|1|1|0", "255|255|255|1"},
        {"10|1|1|0", "127|||", KEY("MASK_ERROR"), "10|1|1|0", "127|0|0|0"},
        // Unreadable as an address: not taken for 0.0.0.0.
        {"10|1|1|0", "255|255|255|080", KEY("MASK_ERROR"), "10|1|1|0", "255|255|255|080"},
        {"10|1|1|0", "255|255|255|09", KEY("MASK_ERROR"), "10|1|1|0", "255|255|255|09"},
        // A host route names a host.
        {"10|1|1|0", "255|255|255|255", KEY("IPMASK_COMBINE_ERROR"), "10|1|1|0",
         "255|255|255|255"},
        {"10|1|1|255", "255|255|255|255", KEY("IPMASK_COMBINE_ERROR"), "10|1|1|255",
         "255|255|255|255"},
        // No first octet: the address is refused and offered 1; the mask is refused.
        {"||5|0", "255|255|255|0", KEY("NOVALID_FIRST"), "1|0|5|0", "255|255|255|0"},
        {"|7||", "|||", KEY("MASK_EMPTY"), "|7|0|0", "|||"},
        {"10|||", "|255||", KEY("MASK_ERROR"), "10|0|0|0", "|255|0|0"},
        {"10|||", "|0||", KEY("MASK_ERROR"), "10|0|0|0", "|0|0|0"},
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.address) + " / " + c.mask;
        auto dialog = Open();
        SetParts(dialog.get(), "ip", c.address);
        SetParts(dialog.get(), "mask", c.mask);
        QSignalSpy newIP(dialog.get(), &NewVPNNetwork::signal_newIP);
        BoxDriver driver;
        if (c.warning != nullptr) {
            driver.Answer(ok);
        }
        dialog->on_pb_ok_clicked();
        EXPECT_EQ(Parts(dialog.get(), "ip"), c.addressAfter) << label;
        EXPECT_EQ(Parts(dialog.get(), "mask"), c.maskAfter) << label;
        if (c.warning == nullptr) {
            EXPECT_TRUE(driver.Seen().empty()) << label;
            ASSERT_EQ(newIP.count(), 1) << label;
            EXPECT_EQ(newIP[0][0].toString(), QString(c.addressAfter).replace('|', '.'));
            EXPECT_EQ(newIP[0][1].toString(), QString(c.maskAfter).replace('|', '.'));
            EXPECT_EQ(dialog->result(), QDialog::Accepted) << label;
            EXPECT_FALSE(dialog->isVisible()) << label;
            continue;
        }
        ASSERT_EQ(driver.Seen().size(), 1u) << label;
        ExpectWarning(driver.Seen()[0], c.warning);
        EXPECT_EQ(newIP.count(), 0) << label;
        EXPECT_TRUE(dialog->isVisible()) << label << ": the dialog stays open";
    }
}

TEST_F(NewVPNNetworkTest, MissingFirstOctetGetsOneAndTheFocus) {
    auto dialog = Open();
    SetParts(dialog.get(), "ip", "||5|0");
    SetParts(dialog.get(), "mask", "255|255|255|0");
    Part(dialog.get(), "mask4")->setFocus(Qt::OtherFocusReason);
    BoxDriver driver;
    driver.Answer(ok);
    dialog->on_pb_ok_clicked();
    EXPECT_EQ(dialog->focusWidget(), Part(dialog.get(), "ip1"));
    // Confirmed again, the network goes through.
    ASSERT_TRUE(ShowActive(dialog.get()));
    QSignalSpy newIP(dialog.get(), &NewVPNNetwork::signal_newIP);
    dialog->on_pb_ok_clicked();
    ASSERT_EQ(newIP.count(), 1);
    EXPECT_EQ(newIP[0][0].toString(), "1.0.5.0");
}

// Entering a mask part proposes the mask of the address's class, once.
TEST_F(NewVPNNetworkTest, EnteringAnEmptyMaskProposesTheClassMask) {
    struct Case {
        const char* address;
        const char* maskBefore;
        const char* entered;
        const char* maskAfter;
    } cases[] = {
        {"10|0|0|0", "|||", "mask1", "255|0|0|0"},
        {"127|||", "|||", "mask2", "255|0|0|0"},
        {"128|||", "|||", "mask3", "255|255|0|0"},
        {"172|16|0|0", "|||", "mask3", "255|255|0|0"},
        {"191|||", "|||", "mask4", "255|255|0|0"},
        {"192|168|1|0", "|||", "mask1", "255|255|255|0"},
        {"223|||", "|||", "mask1", "255|255|255|0"},
        {"||5|", "|||", "mask1", "255|255|255|0"},   // no first octet
        {"|||", "|||", "mask1", "|||"},              // no address: nothing
        {"10|0|0|0", "|255||", "mask1", "|255||"},   // a mask begun: left alone
        {"10|0|0|0", "|||0", "mask4", "|||0"},
    };
    for (const Case& c : cases) {
        auto dialog = Open();
        SetParts(dialog.get(), "ip", c.address);
        SetParts(dialog.get(), "mask", c.maskBefore);
        Part(dialog.get(), c.entered)->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(Parts(dialog.get(), "mask"), c.maskAfter) << c.address << " " << c.entered;
        auto* entered = Part(dialog.get(), c.entered);
        EXPECT_EQ(entered->selectedText(), entered->text()) << "the part is selected";
    }
}

// A first octet of 0 is refused when the first or the second part finishes editing.
TEST_F(NewVPNNetworkTest, FirstOctetZeroIsRefusedAndSetToOne) {
    struct Case {
        const char* address;
        const char* from;  // the part that finishes editing
        Qt::Key key;
        const char* addressAfter;
        bool warned;
    } cases[] = {
        {"0|||", "ip1", Qt::Key_Tab, "1|||", true},
        {"000|||", "ip1", Qt::Key_Tab, "1|||", true},
        {"0|||", "ip1", Qt::Key_Return, "1|||", true},
        {"|5||", "ip2", Qt::Key_Tab, "1|5||", true},
        {"0|5||", "ip2", Qt::Key_Return, "1|5||", true},
        {"10|||", "ip1", Qt::Key_Tab, "10|||", false},
        {"10|5||", "ip2", Qt::Key_Tab, "10|5||", false},
        {"|||", "ip1", Qt::Key_Tab, "|||", false},    // an empty part finishes nothing
        {"0|||5", "ip3", Qt::Key_Tab, "0|||5", false}, // nor do the third and fourth
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.address) + " " + c.from;
        auto dialog = Open();
        // The focus is placed first: leaving a first part of 0 would be checked already.
        Part(dialog.get(), c.from)->setFocus(Qt::OtherFocusReason);
        SetParts(dialog.get(), "ip", c.address);
        BoxDriver driver;
        if (c.warned) {
            driver.Answer(ok);
        }
        QTest::keyClick(QApplication::focusWidget(), c.key);
        EXPECT_EQ(Parts(dialog.get(), "ip"), c.addressAfter) << label;
        if (!c.warned) {
            EXPECT_TRUE(driver.Seen().empty()) << label;
            continue;
        }
        // One box, although the box itself takes the focus from the part once more.
        ASSERT_EQ(driver.Seen().size(), 1u) << label;
        ExpectWarning(driver.Seen()[0], KEY("NOVALID_1233"));
        EXPECT_EQ(dialog->focusWidget(), Part(dialog.get(), "ip1")) << label;
    }
}

// The declared check that nothing connects: an empty first octet becomes 1 and the
// second part takes the focus.
TEST_F(NewVPNNetworkTest, SecondPartCheckFillsAnEmptyFirstOctet) {
    auto dialog = Open();
    SetParts(dialog.get(), "ip", "7|5||");
    BoxDriver driver;
    dialog->NewVPNNetworkUI_IP_Check_Second();
    EXPECT_TRUE(driver.Seen().empty());
    SetParts(dialog.get(), "ip", "|5||");
    driver.Answer(ok);
    dialog->NewVPNNetworkUI_IP_Check_Second();
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectWarning(driver.Seen()[0], KEY("NOVALID_FIRST"));
    EXPECT_EQ(Parts(dialog.get(), "ip"), "1|5||");
    EXPECT_EQ(dialog->focusWidget(), Part(dialog.get(), "ip2"));
}

TEST_F(NewVPNNetworkTest, EmptinessTestAndADialogWithoutEditors) {
    NewVPNNetwork bare;  // not initialised: no editors
    EXPECT_FALSE(bare.NewVPNNetwork_IPEdit_IsEmpty(nullptr));
    {
        QSignalSpy newIP(&bare, &NewVPNNetwork::signal_newIP);
        BoxDriver driver;
        bare.on_pb_ok_clicked();  // silently nothing
        bare.NewVPNNetworkUI_Mask_Init();
        bare.NewVPNNetworkUI_IP_Check_First();
        bare.NewVPNNetworkUI_IP_Check_Second();
        EXPECT_EQ(newIP.count(), 0);
        EXPECT_TRUE(driver.Seen().empty());
    }

    auto dialog = Open();
    MyIpAddrEdit* address = Editor(dialog.get(), "ip1");
    EXPECT_TRUE(dialog->NewVPNNetwork_IPEdit_IsEmpty(address));
    EXPECT_EQ(address->text(), "...") << "an empty editor stays empty";
    SetParts(dialog.get(), "ip", "||3|");
    EXPECT_FALSE(dialog->NewVPNNetwork_IPEdit_IsEmpty(address));
    EXPECT_EQ(address->text(), ".0.3.0") << "the first part is never filled";
}

}  // namespace
