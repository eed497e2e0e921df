// The profile dialog's checks and input control: the address syntaxes and the
// normaliser, the taken-name test against a profile folder the test makes, the name
// check in both client modes, the SSL VPN and L2TP/IPSec page checks that mark every
// failing field in one run and unmark what was fixed, the lifetimes raised on leaving
// their fields, the secret fields that refuse copy and paste, the combo boxes that ignore
// the wheel, the arrow keys between the bottom buttons, and the byte caps of the tunnel
// name and the two secrets.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QWheelEvent>

#include "profile_dialog_support.h"
#include "utilhelpers.h"
#include "vt_test/temp_env.h"

namespace {

using namespace profile_test;

#define KEY(name) "/UI_PROFILEINFO/UI_PROFILEINFO_" name

using ChecksTest = ProfileDialogTest;

// ---- Syntax and normalising ------------------------------------------------------------

TEST_F(ChecksTest, IPv4Syntax) {
    const struct {
        QString text;
        bool accepted;
    } cases[] = {
        {"192.168.1.1", true},
        {"255.255.255.255", true},
        {"0.0.0.0", true},
        {"10.00.000.1", true},
        {"256.1.1.1", false},
        {"1.2.3.256", false},
        {"1.2.3", false},
        {"1.2.3.4.5", false},
        {"1.2.3.4 ", false},
        {"a.b.c.d", false},
        {"", true},                      // no digits at all
        {"12345", true},                 // digits alone
        {QString(127, QChar('7')), true},
        {QString(128, QChar('7')), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dialog->ProfileInfoUI_IPAddress_Check(c.text), c.accepted)
            << '"' << c.text.toStdString() << '"';
    }
}

TEST_F(ChecksTest, HostNameSyntax) {
    const struct {
        QString text;
        bool accepted;
    } cases[] = {
        {"ab.cd", true},
        {"ab.cd:443", true},        // the last part "cd:443" has letters
        {"http://h.example", true},
        {"vpn-1.corp.example", true},
        {"a.b", true},              // three characters
        {"abcd", false},            // no dot
        {"ab.12", false},           // no letter in the last part
        {"-ab.cd", false},
        {"ab.cd.", false},
        {"/ab.cd", false},
        {"ab..cd", false},
        {"ab--c.cd", false},
        {"a b.cd", false},
        {"ab_c.cd", false},
        {"a.", false},
        {"ab.c" + QString(59, QChar('d')), true},   // 63 characters
        {"ab.c" + QString(60, QChar('d')), false},  // 64
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dialog->ProfileInfoUI_DomainName_Check(c.text), c.accepted)
            << '"' << c.text.toStdString() << '"';
    }
}

TEST_F(ChecksTest, NormaliserRewritesOnlyEmptyAndAllZeroParts) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"10.00.000.1", "10.0.0.1"}, {"1..2", "1.0.2"},      {"1.2.", "1.2.0"},
        {".1", "0.1"},               {"010.1.1.1", "010.1.1.1"}, {"0000.1", "0000.1"},
        {"h.example", "h.example"},
    };
    for (const auto& c : cases) {
        QString text = c.in;
        dialog->ProfileInfoUI_IPText_Normalize(text);
        EXPECT_EQ(text, QString(c.out)) << c.in;
    }
}

// ---- Names -----------------------------------------------------------------------------

class NameTest : public ChecksTest {
protected:
    // A home of the test's own, made after the platform has started with its own.
    void SetUp() override {
        ChecksTest::SetUp();
        home = std::make_unique<vt_test::TempEnv>();
    }
    void TearDown() override {
        home.reset();
        ChecksTest::TearDown();
    }
    // A profile folder under the test's home, holding these files.
    void MakeProfiles(std::initializer_list<const char*> files) {
        const std::string folder = home->Home() + "/.VanTrelo/config";
        ASSERT_EQ(mkdir((home->Home() + "/.VanTrelo").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        for (const char* file : files) {
            std::ofstream(folder + "/" + file) << "[profile]\n";
        }
    }
    void OnPage(int page) { W<QStackedWidget>("stackedWidget")->setCurrentIndex(page); }

    std::unique_ptr<vt_test::TempEnv> home;
};

TEST_F(NameTest, ATakenNameIgnoresCaseAndNoFolderMeansFree) {
    const QString folder = QString::fromStdString(home->Home()) + "/.VanTrelo/config";
    const std::string pathLine = "[Prpfile path][systemPath :" + folder.toStdString() + "]";
    const size_t lines = ui_test::LogCount(pathLine);
    EXPECT_TRUE(dialog->ProfileInfoUI_ProfileName_IsFree("office")) << "no folder yet";
    EXPECT_EQ(ui_test::LogCount(pathLine), lines + 1);

    MakeProfiles({"OFFICE.INI", "Branch.ini", "notes.txt", "lab.ini.bak"});
    const struct {
        const char* name;
        bool free;
    } cases[] = {
        {"office", false}, {"Office", false}, {"branch", false}, {"BRANCH", false},
        {"offic", true},   {"notes", true},   {"lab", true},     {"lab.ini", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dialog->ProfileInfoUI_ProfileName_IsFree(c.name), c.free) << c.name;
    }
}

// The taken name is said in an error box; then the name field of the page in view is
// emptied and marked.
TEST_F(NameTest, ATakenNameIsReportedEmptiedAndMarked) {
    MakeProfiles({"OFFICE.INI"});
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    for (const char* field : {"le_connectNameSSL", "le_connectNameIPSEC"}) {
        driver.Clear();
        const bool ssl = QString(field).endsWith("SSL");
        OnPage(ssl ? 0 : 1);
        auto* name = W<QLineEdit>(field);
        name->setText("office");
        driver.Answer(ok);
        EXPECT_FALSE(ssl ? dialog->ProfileInfoUI_SSLConnect_Check(0)
                         : dialog->ProfileInfoUI_IPSECConnect_Check(0));
        ASSERT_EQ(driver.Seen().size(), 1u) << field;
        const SeenBox& box = driver.Seen()[0];
        EXPECT_EQ(box.icon, int(QMessageBox::Critical));
        EXPECT_EQ(box.title, global.ERROR);
        EXPECT_EQ(box.text, Text(KEY("CONNECTIONNAME_EXIST")));
        ASSERT_FALSE(box.text.isEmpty());
        EXPECT_EQ(box.buttons, QStringList{ok});
        EXPECT_TRUE(box.hasParent);
        EXPECT_TRUE(name->text().isEmpty()) << field;
        EXPECT_TRUE(Marked(name)) << field;
    }

    // Saving an existing profile does not ask: its own name is taken by itself.
    driver.Clear();
    OnPage(0);
    W<QLineEdit>("le_connectNameSSL")->setText("office");
    dialog->ProfileInfoUI_SSLConnect_Check(1);
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_FALSE(Marked(W("le_connectNameSSL")));
}

// A blank name is refused in both modes; plugin mode skips only the taken-name test.
TEST_F(NameTest, BlankNamesAreRefusedInEveryMode) {
    MakeProfiles({"office.ini"});
    const struct {
        int pluginMode;
        const char* name;
        bool accepted;
    } cases[] = {
        {0, "", false},    {0, "   ", false}, {0, "home", true},
        {1, "", false},    {1, "   ", false}, {1, "home", true},
        {1, "office", true},  // a browser asks no question about taken names
    };
    for (const auto& c : cases) {
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        for (int page : {0, 1}) {
            OnPage(page);
            QLineEdit* field = W<QLineEdit>(page == 0 ? "le_connectNameSSL" : "le_connectNameIPSEC");
            Util_ClearErrorStyle(field);
            EXPECT_EQ(dialog->ProfileInfoUI_ConnectName_Check(c.name), c.accepted)
                << "mode " << c.pluginMode << " '" << c.name << "' page " << page;
            EXPECT_EQ(Marked(field), !c.accepted)
                << "mode " << c.pluginMode << " '" << c.name << "' page " << page;
        }
    }
    // On the import page there is no name field to mark.
    OnPage(2);
    EXPECT_FALSE(dialog->ProfileInfoUI_ConnectName_Check(""));
    EXPECT_TRUE(driver.Seen().empty());
}

// ---- Page checks -----------------------------------------------------------------------

TEST_F(ChecksTest, TheSSLCheckMarksEveryFailingFieldAtOnce) {
    QWidget* name = W("le_connectNameSSL");
    auto* address = W<QLineEdit>("le_gatewayAddress");
    auto* port = W<QLineEdit>("le_port");
    port->clear();
    EXPECT_FALSE(dialog->ProfileInfoUI_SSLConnect_Check(0));
    EXPECT_TRUE(Marked(name));
    EXPECT_TRUE(Marked(address));
    EXPECT_TRUE(Marked(port));
    EXPECT_TRUE(driver.Seen().empty());

    // An address of no syntax is emptied and marked; the others are fixed and unmarked.
    W<QLineEdit>("le_connectNameSSL")->setText("n1");
    address->setText("a b");
    port->setText("443");
    EXPECT_FALSE(dialog->ProfileInfoUI_SSLConnect_Check(0));
    EXPECT_FALSE(Marked(name));
    EXPECT_FALSE(Marked(port));
    EXPECT_TRUE(Marked(address));
    EXPECT_TRUE(address->text().isEmpty());

    // A listed gateway typed again is said in a box and emptied, without a mark.
    dialog->ProfileInfoUI_SSLConnect_AddServer("h.example", "443");
    address->setText("h.example");
    driver.Answer(ok);
    EXPECT_FALSE(dialog->ProfileInfoUI_SSLConnect_Check(0));
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectOwnBox(driver.Seen()[0], QMessageBox::Critical, KEY("GATEWAYIP_EXIST"));
    EXPECT_TRUE(address->text().isEmpty());

    // A listed gateway stands in for the empty address and port.
    port->clear();
    EXPECT_TRUE(dialog->ProfileInfoUI_SSLConnect_Check(0));
    for (QWidget* field : {name, static_cast<QWidget*>(address), static_cast<QWidget*>(port)}) {
        EXPECT_FALSE(Marked(field)) << field->objectName().toStdString();
    }
}

// With GM algorithms, the certificates come in pairs: the missing one is marked.
TEST_F(ChecksTest, GmCertificatesComeInPairs) {
    auto* sign = W<QLineEdit>("sign_certificate");
    auto* encryption = W<QLineEdit>("encryption_certificate");
    const struct {
        bool gm;
        const char* sign;
        const char* encryption;
        bool passes;
        QWidget* marked;
    } cases[] = {
        {false, "s.crt", "", true, nullptr},
        {true, "", "", true, nullptr},
        {true, "s.crt", "e.crt", true, nullptr},
        {true, "s.crt", "", false, encryption},
        {true, "", "e.crt", false, sign},
    };
    for (const auto& c : cases) {
        W<QCheckBox>("cb_gmalgorithm")->setChecked(c.gm);
        sign->setText(c.sign);
        encryption->setText(c.encryption);
        Util_ClearErrorStyle(sign);
        Util_ClearErrorStyle(encryption);
        EXPECT_EQ(dialog->ProfileInfoUI_GmCertificate_Check(), c.passes) << c.sign << c.encryption;
        EXPECT_EQ(Marked(sign), c.marked == sign) << c.gm << c.sign << c.encryption;
        EXPECT_EQ(Marked(encryption), c.marked == encryption) << c.gm << c.sign << c.encryption;
    }
}

// One check marks every failing field together; the next unmarks what was fixed.
TEST_F(ChecksTest, TheIPSecCheckMarksEveryFailingFieldTogether) {
    Click("pb_IPSec");
    Click("cb_useIPSEC");
    Click("cb_useTunnel");
    Click("rb_negoBarMode");
    W<QComboBox>("cb_IDType")->setCurrentIndex(1);
    Click("cb_LNSServer");
    ASSERT_TRUE(W("le_IPSECServer")->isEnabled());

    const char* failing[] = {"le_connectNameIPSEC", "le_LNSServer",        "le_tunnelName",
                             "le_tunnelPassword",   "le_statusConfirm",    "le_localGatewayName",
                             "le_remoteGatewayName", "le_IPSECServer"};
    W<QLineEdit>("le_tunnelName")->setText("   ");
    EXPECT_FALSE(dialog->ProfileInfoUI_IPSECConnect_Check(0));
    for (const char* field : failing) {
        EXPECT_TRUE(Marked(W(field))) << field;
    }
    EXPECT_TRUE(driver.Seen().empty());

    // Half of them fixed; the addresses of no syntax: the LNS server is emptied, the IPSec
    // server keeps its text.
    W<QLineEdit>("le_connectNameIPSEC")->setText("branch");
    W<QLineEdit>("le_LNSServer")->setText("a b");
    W<QLineEdit>("le_tunnelName")->setText("tunnel");
    W<QLineEdit>("le_statusConfirm")->setText("key");
    W<QLineEdit>("le_localGatewayName")->setText("local");
    W<QLineEdit>("le_IPSECServer")->setText("a b");
    EXPECT_FALSE(dialog->ProfileInfoUI_IPSECConnect_Check(0));
    const struct {
        const char* field;
        bool marked;
    } after[] = {
        {"le_connectNameIPSEC", false}, {"le_LNSServer", true},
        {"le_tunnelName", false},       {"le_tunnelPassword", true},
        {"le_statusConfirm", false},    {"le_localGatewayName", false},
        {"le_remoteGatewayName", true}, {"le_IPSECServer", true},
    };
    for (const auto& a : after) {
        EXPECT_EQ(Marked(W(a.field)), a.marked) << a.field;
    }
    EXPECT_TRUE(W<QLineEdit>("le_LNSServer")->text().isEmpty());
    EXPECT_EQ(W<QLineEdit>("le_IPSECServer")->text(), QString("a b"));

    W<QLineEdit>("le_LNSServer")->setText("lns.example");
    W<QLineEdit>("le_tunnelPassword")->setText("secret");
    W<QLineEdit>("le_remoteGatewayName")->setText("remote");
    W<QLineEdit>("le_IPSECServer")->setText("10.1.1.1");
    EXPECT_TRUE(dialog->ProfileInfoUI_IPSECConnect_Check(0));
    for (const char* field : failing) {
        EXPECT_FALSE(Marked(W(field))) << field;
    }
}

// Each rule counts only in its own setting: no tunnel password without tunnel
// authentication, no key without IPSec or with the USB key, no names in main mode or with
// identity type IP, and no IPSec server while the LNS server stands in for it.
TEST_F(ChecksTest, TheIPSecRulesHoldOnlyInTheirSettings) {
    const struct {
        const char* setting;
        std::function<void()> set;
        const char* unmarked;
    } cases[] = {
        {"no tunnel authentication", [] {}, "le_tunnelPassword"},
        {"IPSec off", [] {}, "le_statusConfirm"},
        {"USB key", [&] { Click("cb_useIPSEC"); Click("rb_digitalSignature"); }, "le_statusConfirm"},
        {"main mode", [&] { Click("cb_useIPSEC"); }, "le_localGatewayName"},
        {"aggressive, IP", [&] { Click("cb_useIPSEC"); Click("rb_negoBarMode"); },
         "le_remoteGatewayName"},
        {"LNS server as IPSec server", [&] { Click("cb_useIPSEC"); }, "le_IPSECServer"},
    };
    for (const auto& c : cases) {
        dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
        W<QLineEdit>("le_connectNameIPSEC")->setText("branch");
        W<QLineEdit>("le_LNSServer")->setText("10.1.1.1");
        W<QLineEdit>("le_tunnelName")->setText("tunnel");
        c.set();
        // The key is the one field IPSec needs beyond the rule under test; without IPSec
        // or with the USB key the field is off and stays empty.
        if (W<QLineEdit>("le_statusConfirm")->isEnabled()) {
            W<QLineEdit>("le_statusConfirm")->setText("key");
        }
        EXPECT_TRUE(dialog->ProfileInfoUI_IPSECConnect_Check(0)) << c.setting;
        EXPECT_FALSE(Marked(W(c.unmarked))) << c.setting;
    }
}

// ---- Input control ---------------------------------------------------------------------

// Leaving a lifetime field below its least value sets that value.
TEST_F(ChecksTest, LifetimesAreRaisedOnLeavingTheirFields) {
    Click("pb_IPSec");
    Click("cb_useIPSEC");
    ASSERT_TRUE(ShowDialog());
    const struct {
        const char* field;
        const char* typed;
        const char* left;
    } cases[] = {
        {"le_ikeSADuration", "10", "60"},   {"le_ikeSADuration", "", "60"},
        {"le_ikeSADuration", "59", "60"},   {"le_ikeSADuration", "60", "60"},
        {"le_ikeSADuration", "600", "600"}, {"le_ipsecSADuration", "29", "30"},
        {"le_ipsecSADuration", "", "30"},   {"le_ipsecSADuration", "30", "30"},
        {"le_ipsecSADuration", "3600", "3600"},
    };
    auto* elsewhere = W<QLineEdit>("le_tunnelName");
    for (const auto& c : cases) {
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), c.field, c.typed)) << c.field;
        ASSERT_TRUE(W(c.field)->hasFocus()) << c.field;
        elsewhere->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(W<QLineEdit>(c.field)->text(), QString(c.left)) << c.field << " '" << c.typed << "'";
    }
}

// The secrets take typing only: no paste, no copy, no selection paste by the middle
// button, no context menu. The edited flag follows the typing, never a text the dialog
// puts in.
TEST_F(ChecksTest, SecretsTakeTypingOnly) {
    Click("pb_IPSec");
    Click("cb_useIPSEC");
    Click("cb_useTunnel");
    ASSERT_TRUE(ShowDialog());
    QApplication::clipboard()->setText("pasted");

    // A field without the watch pastes: the clipboard works here.
    auto* plain = W<QLineEdit>("le_tunnelName");
    plain->setFocus();
    QTest::keyClick(plain, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(plain->text(), QString("pasted"));

    const struct {
        const char* field;
        bool ProfileInfoUIPrivate::*edited;
    } secrets[] = {{"le_tunnelPassword", &ProfileInfoUIPrivate::tunnelPasswordEdited},
                   {"le_statusConfirm", &ProfileInfoUIPrivate::preSharedKeyEdited}};
    for (const auto& s : secrets) {
        auto* field = W<QLineEdit>(s.field);
        EXPECT_EQ(field->contextMenuPolicy(), Qt::NoContextMenu) << s.field;
        field->setText("******");
        EXPECT_FALSE(D()->*s.edited) << s.field << ": a text put in is no new secret";

        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), s.field, "ab"));
        EXPECT_TRUE(D()->*s.edited) << s.field;
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(field->text(), QString("ab")) << s.field;

        QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_C, Qt::NoModifier, "c");
        QMouseEvent middle(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::MiddleButton,
                           Qt::NoButton, Qt::NoModifier);
        QMouseEvent left(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                         Qt::NoModifier);
        EXPECT_TRUE(dialog->eventFilter(field, &copy)) << s.field;
        EXPECT_TRUE(dialog->eventFilter(field, &middle)) << s.field;
        EXPECT_FALSE(dialog->eventFilter(field, &letter)) << s.field;
        EXPECT_FALSE(dialog->eventFilter(field, &left)) << s.field;
    }
}

TEST_F(ChecksTest, TheWheelLeavesTheSevenCombosAlone) {
    Click("cb_useIPSEC");
    Click("cb_usePFS");
    ASSERT_TRUE(ShowDialog());
    const auto wheel = [](QComboBox* combo) {
        QWheelEvent event(QPointF(5, 5), combo->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &event);
    };
    // An unwatched combo box turns with the wheel.
    auto* group = W<QComboBox>("cb_parameter");
    const int before = group->currentIndex();
    wheel(group);
    ASSERT_NE(group->currentIndex(), before);

    for (const char* name : {"cb_authMode", "cb_ESPAuthAlgo", "cb_ESPEncryAlgo", "cb_authAlgo",
                             "cb_encryAlgo", "cb_DHGroup", "cb_tunnelMode"}) {
        auto* combo = W<QComboBox>(name);
        combo->setCurrentIndex(0);
        wheel(combo);
        EXPECT_EQ(combo->currentIndex(), 0) << name;
    }
}

// Left goes to Cancel; Right goes from Cancel to the confirm button that is shown.
TEST_F(ChecksTest, ArrowsMoveBetweenTheBottomButtons) {
    ASSERT_TRUE(ShowDialog());
    // A new profile confirms with OK; an existing one with save.
    for (const char* confirm : {"pb_ok", "pb_save"}) {
        const char* other = QString(confirm) == "pb_ok" ? "pb_save" : "pb_ok";
        W(confirm)->show();
        W(other)->hide();
        QWidget* cancel = W("pb_cancel");
        W(confirm)->setFocus();
        QTest::keyClick(W(confirm), Qt::Key_Left);
        EXPECT_TRUE(cancel->hasFocus()) << confirm;
        QTest::keyClick(cancel, Qt::Key_Left);
        EXPECT_TRUE(cancel->hasFocus()) << confirm;
        QTest::keyClick(cancel, Qt::Key_Right);
        EXPECT_TRUE(W(confirm)->hasFocus()) << confirm;
        EXPECT_EQ(QApplication::focusWidget(), W(confirm)) << confirm;
        QTest::keyClick(W(confirm), Qt::Key_Right);
        EXPECT_TRUE(W(confirm)->hasFocus()) << confirm;
    }
}

// The tunnel name and the two secrets end in byte fields: a change that makes their UTF-8
// form longer than the field is undone, typed or put in, to the field's own last text.
TEST_F(ChecksTest, TunnelNameAndSecretsAreCappedInBytes) {
    Click("pb_IPSec");
    Click("cb_useIPSEC");
    Click("cb_useTunnel");
    const struct {
        const char* field;
        int cap;
    } cases[] = {{"le_tunnelName", 127}, {"le_tunnelPassword", 127}, {"le_statusConfirm", 128}};
    const QString e = QString::fromUtf8("é");  // two bytes
    for (const auto& c : cases) {
        auto* field = W<QLineEdit>(c.field);
        const QString full = e.repeated(c.cap / 2);
        field->setText(full);
        EXPECT_EQ(field->text(), full) << c.field << " takes " << c.cap / 2 * 2 << " bytes";
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), c.field, e, false));
        EXPECT_EQ(field->text(), full) << c.field << " refuses a typed one more";
        if (c.cap % 2 == 1) {
            ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), c.field, "x", false));
            EXPECT_EQ(field->text(), full + "x") << c.field << " takes its last byte";
        }
        field->setText(e.repeated(c.cap));  // put in as a paste would
        EXPECT_TRUE(field->text().startsWith(full)) << c.field;
        EXPECT_LE(field->text().toUtf8().size(), c.cap) << c.field;
    }
    // Each goes back to its own text.
    EXPECT_NE(W<QLineEdit>("le_tunnelName")->text(), W<QLineEdit>("le_statusConfirm")->text());

    // A text the dialog puts in while it is set up (as a read profile fills the page) is
    // what an over-cap change goes back to.
    ProfileInfoUI opened(nullptr);
    auto* tunnel = profile_test::W<QLineEdit>(&opened, "le_tunnelName");
    tunnel->setText(e.repeated(63));
    opened.Init();
    ASSERT_TRUE(BoxDriver::TypeInto(&opened, "le_tunnelName", e, false));
    EXPECT_EQ(tunnel->text(), e.repeated(63));
}

}  // namespace
