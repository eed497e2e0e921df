// The profile dialog's L2TP/IPSec page: what the user's clicks on its switches do to the
// fields that depend on them (IPSec, tunnel authentication, the key or USB key, PFS, the
// negotiation mode and identity type, the LNS server as IPSec server, the route mode),
// and the route list: the route dialog opened from it and typed into as a user types,
// the limit of 64 routes, the repeat test, and removing rows.

#include <gtest/gtest.h>

#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "myippartlineedit.h"
#include "profile_dialog_support.h"
#include "utilhelpers.h"

namespace {

using namespace profile_test;

#define KEY(name) "/UI_PROFILEINFO/UI_PROFILEINFO_" name

const char* const kRouteWidgets[] = {"l_routerTip", "tw_router", "tb_routerAdd", "tb_routerDel"};

class IPSecPageTest : public ProfileDialogTest {
protected:
    void SetUp() override {
        ProfileDialogTest::SetUp();
        Click("pb_IPSec");
        routes = W<QTreeWidget>("tw_router");
    }
    // The four route widgets go together: -1 when they disagree.
    int RoutesEnabled() {
        int enabled = W(kRouteWidgets[0])->isEnabled();
        for (const char* name : kRouteWidgets) {
            if (W(name)->isEnabled() != bool(enabled)) {
                return -1;
            }
        }
        return enabled;
    }
    QStringList Items(const char* combo) {
        QStringList items;
        auto* box = W<QComboBox>(combo);
        for (int i = 0; i < box->count(); ++i) {
            items << box->itemText(i);
        }
        return items;
    }
    bool Checked(const char* name) { return W<QAbstractButton>(name)->isChecked(); }
    QString TextOf(const char* name) { return W<QLineEdit>(name)->text(); }

    QTreeWidget* routes = nullptr;
};

// Each case: the user's clicks from the page as it opens, then the states they leave.
TEST_F(IPSecPageTest, ClickSequencesAndTheStatesTheyLeave) {
    const QString off = QStringLiteral(
        "QPushButton{text-align : left; border:0px; font: 10pt; color: rgb(132, 132, 132); }");
    const QString other = QStringLiteral(
        "QPushButton{text-align : left; border:0px; font: 10pt; color: rgb(79, 78, 78); }");
    const struct {
        const char* clicks;
        std::function<void()> act;
        std::function<void()> expect;
    } cases[] = {
        {"IPSec on, with a route selected under manual routes",
         [&] {
             Click("cb_HandConfig");
             dialog->ProfileInfoUI_IPSECConnect_AddIP("10.0.0.0", "255.0.0.0");
             routes->topLevelItem(0)->setSelected(true);
             Click("cb_useIPSEC");
         },
         [&] {
             EXPECT_FALSE(W("w_ipsec")->isHidden());
             EXPECT_TRUE(W("w_ipsecEnable")->isEnabled());
             for (const char* box : {"gb_ipsecSetting", "gb_ikeSetting", "gb_ipsecSettingAdvanced",
                                     "gb_ikeSettingAdvanced"}) {
                 EXPECT_TRUE(W(box)->isEnabled()) << box;
             }
             EXPECT_TRUE(W("pb_ipsecIPSec")->isEnabled());
             EXPECT_EQ(W("pb_ipsecIPSec")->styleSheet(), other);
             EXPECT_FALSE(W("w_RouteMode")->isHidden());
             EXPECT_TRUE(Checked("rb_ModeConfig"));
             EXPECT_EQ(RoutesEnabled(), 0);
             EXPECT_TRUE(routes->selectedItems().isEmpty());
             EXPECT_TRUE(W("cb_HandConfig")->isHidden());
         }},
        {"IPSec on, manual routes, IPSec off",
         [&] {
             Click("cb_useIPSEC");
             Click("rb_HandConfig");
             Click("cb_useIPSEC");
         },
         [&] {
             EXPECT_TRUE(W("w_ipsec")->isHidden());
             EXPECT_FALSE(W("w_ipsecEnable")->isEnabled());
             EXPECT_FALSE(W("pb_ipsecIPSec")->isEnabled());
             EXPECT_EQ(W("pb_ipsecIPSec")->styleSheet(), off);
             EXPECT_TRUE(W("w_RouteMode")->isHidden());
             EXPECT_FALSE(W("cb_HandConfig")->isHidden());
             EXPECT_TRUE(Checked("cb_HandConfig"));
             EXPECT_EQ(RoutesEnabled(), 1);
         }},
        {"IPSec on, IPSec off",
         [&] {
             Click("cb_useIPSEC");
             Click("cb_useIPSEC");
         },
         [&] {
             EXPECT_FALSE(Checked("cb_HandConfig"));
             EXPECT_EQ(RoutesEnabled(), 0);
         }},
        {"manual routes, IPSec on, IPSec off",
         [&] {
             Click("cb_HandConfig");
             Click("cb_useIPSEC");
             Click("cb_useIPSEC");
         },
         [&] {
             EXPECT_FALSE(Checked("cb_HandConfig")) << "Mode Config was the last choice";
             EXPECT_EQ(RoutesEnabled(), 0);
         }},
        {"manual routes, IPSec on, manual routes again",
         [&] {
             Click("cb_HandConfig");
             Click("cb_useIPSEC");
             Click("rb_HandConfig");
         },
         [&] { EXPECT_EQ(RoutesEnabled(), 1); }},
        {"IPSec on, key typed, USB key",
         [&] {
             Click("cb_useIPSEC");
             W<QLineEdit>("le_statusConfirm")->setText("secret");
             Util_SetErrorStyle(W("le_statusConfirm"));
             Click("rb_digitalSignature");
         },
         [&] {
             EXPECT_FALSE(W("le_statusConfirm")->isEnabled());
             EXPECT_FALSE(W("l_statusConfirm")->isEnabled());
             EXPECT_EQ(TextOf("le_statusConfirm"), QString("secret"));
             EXPECT_FALSE(Marked(W("le_statusConfirm")));
             EXPECT_EQ(W<QLabel>("l_statusConfirm")->text(), Text(KEY("LABEL_USBPIN")));
             EXPECT_EQ(Items("cb_authAlgo"), (QStringList{"SHA-1", "MD5"}));
             EXPECT_EQ(W<QComboBox>("cb_authAlgo")->currentIndex(), 0);
         }},
        {"IPSec on, USB key, pre-shared key",
         [&] {
             Click("cb_useIPSEC");
             Click("rb_digitalSignature");
             Click("rb_preShareKey");
         },
         [&] {
             EXPECT_TRUE(W("le_statusConfirm")->isEnabled());
             EXPECT_EQ(W<QLabel>("l_statusConfirm")->text(), Text(KEY("LABEL_STATUSCONFIRM")));
             EXPECT_EQ(Items("cb_authAlgo"), (QStringList{"SHA-1", "MD5", "SHA2-256"}));
             EXPECT_EQ(W<QComboBox>("cb_authAlgo")->currentText(), QString("SHA2-256"));
         }},
        {"IPSec on, aggressive mode, Name",
         [&] {
             Click("cb_useIPSEC");
             Click("rb_negoBarMode");
             W<QComboBox>("cb_IDType")->setCurrentIndex(1);
         },
         [&] {
             EXPECT_TRUE(W("cb_IDType")->isEnabled());
             EXPECT_TRUE(W("le_localGatewayName")->isEnabled());
             EXPECT_TRUE(W("le_remoteGatewayName")->isEnabled());
         }},
        {"aggressive mode, Name, names typed, IP",
         [&] {
             Click("cb_useIPSEC");
             Click("rb_negoBarMode");
             W<QComboBox>("cb_IDType")->setCurrentIndex(1);
             W<QLineEdit>("le_localGatewayName")->setText("local");
             W<QLineEdit>("le_remoteGatewayName")->setText("remote");
             W<QComboBox>("cb_IDType")->setCurrentIndex(0);
         },
         [&] {
             EXPECT_TRUE(TextOf("le_localGatewayName").isEmpty());
             EXPECT_TRUE(TextOf("le_remoteGatewayName").isEmpty());
             EXPECT_FALSE(W("le_localGatewayName")->isEnabled());
             EXPECT_FALSE(W("le_remoteGatewayName")->isEnabled());
         }},
        {"aggressive mode, Name, names typed, main mode",
         [&] {
             Click("cb_useIPSEC");
             Click("rb_negoBarMode");
             W<QComboBox>("cb_IDType")->setCurrentIndex(1);
             W<QLineEdit>("le_localGatewayName")->setText("local");
             W<QLineEdit>("le_remoteGatewayName")->setText("remote");
             Util_SetErrorStyle(W("le_remoteGatewayName"));
             Click("rb_negoMainMode");
         },
         [&] {
             EXPECT_EQ(W<QComboBox>("cb_IDType")->currentIndex(), 0);
             EXPECT_FALSE(W("cb_IDType")->isEnabled());
             EXPECT_TRUE(TextOf("le_localGatewayName").isEmpty());
             EXPECT_TRUE(TextOf("le_remoteGatewayName").isEmpty());
             EXPECT_FALSE(Marked(W("le_remoteGatewayName")));
             EXPECT_FALSE(W("le_remoteGatewayName")->isEnabled());
         }},
        {"main mode: Name chosen in code does not open the names",
         [&] {
             Click("cb_useIPSEC");
             W<QComboBox>("cb_IDType")->setCurrentIndex(1);
         },
         [&] { EXPECT_FALSE(W("le_localGatewayName")->isEnabled()); }},
        {"IPSec on, LNS server unchecked",
         [&] {
             Click("cb_useIPSEC");
             Click("cb_LNSServer");
         },
         [&] {
             EXPECT_TRUE(W("le_IPSECServer")->isEnabled());
             EXPECT_TRUE(W("l_IPSECServer")->isEnabled());
             EXPECT_TRUE(TextOf("le_IPSECServer").isEmpty());
         }},
        {"LNS server unchecked, server typed and marked, checked again",
         [&] {
             Click("cb_useIPSEC");
             Click("cb_LNSServer");
             W<QLineEdit>("le_IPSECServer")->setText("10.1.1.1");
             Util_SetErrorStyle(W("le_IPSECServer"));
             Click("cb_LNSServer");
         },
         [&] {
             EXPECT_FALSE(W("le_IPSECServer")->isEnabled());
             EXPECT_FALSE(W("l_IPSECServer")->isEnabled());
             EXPECT_TRUE(TextOf("le_IPSECServer").isEmpty());
             EXPECT_FALSE(Marked(W("le_IPSECServer")));
         }},
        {"IPSec on, PFS on, group chosen, PFS off",
         [&] {
             Click("cb_useIPSEC");
             Click("cb_usePFS");
             W<QComboBox>("cb_parameter")->setCurrentIndex(1);
             Click("cb_usePFS");
         },
         [&] {
             EXPECT_FALSE(W("cb_parameter")->isEnabled());
             EXPECT_FALSE(W("l_parameter")->isEnabled());
             EXPECT_EQ(W<QComboBox>("cb_parameter")->currentIndex(), 1);
         }},
        {"tunnel authentication on",
         [&] { Click("cb_useTunnel"); },
         [&] {
             for (const char* w : {"l_tunnelPassword", "le_tunnelPassword", "label_13"}) {
                 EXPECT_TRUE(W(w)->isEnabled()) << w;
             }
         }},
        {"tunnel authentication on, password marked, off",
         [&] {
             Click("cb_useTunnel");
             Util_SetErrorStyle(W("le_tunnelPassword"));
             Click("cb_useTunnel");
         },
         [&] {
             for (const char* w : {"l_tunnelPassword", "le_tunnelPassword", "label_13"}) {
                 EXPECT_FALSE(W(w)->isEnabled()) << w;
             }
             EXPECT_FALSE(Marked(W("le_tunnelPassword")));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clicks);
        dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
        Click("pb_IPSec");
        routes = W<QTreeWidget>("tw_router");
        c.act();
        c.expect();
    }
}

// The page as it opens: the IPSec server waits behind the LNS server switch, the route
// list behind its own.
TEST_F(IPSecPageTest, ThePageOpensWithIPSecOff) {
    EXPECT_TRUE(Checked("cb_LNSServer"));
    EXPECT_FALSE(W("le_IPSECServer")->isEnabled());
    EXPECT_FALSE(W("pb_ipsecIPSec")->isEnabled());
    EXPECT_FALSE(W("w_ipsecEnable")->isEnabled());
    EXPECT_FALSE(W("cb_HandConfig")->isHidden());
    EXPECT_EQ(RoutesEnabled(), 0);
    EXPECT_FALSE(W("le_tunnelPassword")->isEnabled());
    EXPECT_FALSE(W("cb_parameter")->isEnabled());
    EXPECT_FALSE(W("cb_IDType")->isEnabled());
}

// ---- Routes ----------------------------------------------------------------------------

MyIpPartLineEdit* Part(QWidget* box, const char* name) {
    for (MyIpPartLineEdit* part : box->findChildren<MyIpPartLineEdit*>()) {
        if (part->accessibleName() == QLatin1String(name)) {
            return part;
        }
    }
    ADD_FAILURE() << "no part " << name;
    return nullptr;
}

// Types each part's text as a user does (the dots move on by themselves), and presses
// OK. A refused network leaves the dialog open: it is cancelled.
void TypeNetwork(QWidget* box, const QString& address, const QString& mask) {
    ASSERT_TRUE(ShowActive(box));
    const struct {
        const char* prefix;
        QStringList parts;
    } editors[] = {{"ip", address.split('.')}, {"mask", mask.split('.')}};
    for (const auto& editor : editors) {
        for (int i = 0; i < editor.parts.size(); ++i) {
            const QByteArray name = QByteArray(editor.prefix) + QByteArray::number(i + 1);
            MyIpPartLineEdit* part = Part(box, name.constData());
            ASSERT_NE(part, nullptr);
            part->setFocus(Qt::MouseFocusReason);
            part->selectAll();
            QTest::keyClicks(part, editor.parts[i]);
        }
    }
    BoxDriver::ClickButton(box, "pb_ok");
    if (box->isVisible()) {
        static_cast<QDialog*>(box)->reject();
    }
}

class RouteTest : public IPSecPageTest {
protected:
    void SetUp() override {
        IPSecPageTest::SetUp();
        ASSERT_TRUE(ShowDialog());
        driver.Clear();
        Click("cb_HandConfig");
        ASSERT_EQ(RoutesEnabled(), 1);
    }
    // The route dialog answered by typing this network; a refusal it causes is answered
    // with OK.
    void AddThroughTheDialog(const QString& address, const QString& mask, bool refused = false) {
        driver.AnswerWith([address, mask](QWidget* box) { TypeNetwork(box, address, mask); },
                          address + "/" + mask);
        if (refused) {
            driver.Answer(ok);
        }
        Click("tb_routerAdd");
    }
    QStringList Rows() {
        QStringList rows;
        for (int row = 0; row < routes->topLevelItemCount(); ++row) {
            rows << routes->topLevelItem(row)->text(0) + "/" + routes->topLevelItem(row)->text(1);
        }
        return rows;
    }
};

TEST_F(RouteTest, TheDialogOpensBelowSixtyFourRoutes) {
    for (int i = 0; i < 63; ++i) {
        dialog->ProfileInfoUI_IPSECConnect_AddIP(QStringLiteral("10.%1.0.0").arg(i), "255.255.0.0");
    }
    ASSERT_EQ(routes->topLevelItemCount(), 63);
    driver.Clear();
    AddThroughTheDialog("192.168.1.0", "255.255.255.0");
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, QString("NewVPNNetwork"));
    EXPECT_TRUE(driver.Seen()[0].modal);
    ASSERT_EQ(routes->topLevelItemCount(), 64);
    EXPECT_EQ(Rows().last(), QString("192.168.1.0/255.255.255.0"));

    driver.Clear();
    driver.Answer(ok);
    Click("tb_routerAdd");
    ASSERT_EQ(driver.Seen().size(), 1u) << "the box, and no dialog";
    ExpectOwnBox(driver.Seen()[0], QMessageBox::Warning, KEY("ROUTE_MAX"));
    EXPECT_EQ(routes->topLevelItemCount(), 64);
}

// A route repeats a listed one only when one row holds both its address and its mask.
TEST_F(RouteTest, ARepeatNeedsAddressAndMaskInOneRow) {
    AddThroughTheDialog("192.168.1.0", "255.255.255.0");
    ASSERT_EQ(Rows(), QStringList{"192.168.1.0/255.255.255.0"});

    driver.Clear();
    AddThroughTheDialog("192.168.1.0", "255.255.255.0", true);
    ASSERT_EQ(driver.Seen().size(), 2u);
    EXPECT_EQ(driver.Seen()[0].className, QString("NewVPNNetwork"));
    ExpectOwnBox(driver.Seen()[1], QMessageBox::Warning, KEY("REPEAT_ADDRESS"));
    EXPECT_EQ(Rows(), QStringList{"192.168.1.0/255.255.255.0"});

    AddThroughTheDialog("10.0.0.0", "255.255.0.0");
    AddThroughTheDialog("192.168.0.0", "255.0.0.0");
    driver.Clear();
    AddThroughTheDialog("10.0.0.0", "255.0.0.0");
    EXPECT_EQ(driver.Seen().size(), 1u) << "no warning";
    EXPECT_EQ(Rows(), (QStringList{"192.168.1.0/255.255.255.0", "10.0.0.0/255.255.0.0",
                                   "192.168.0.0/255.0.0.0", "10.0.0.0/255.0.0.0"}));

    // The texts are normalised before they are compared and listed.
    driver.Answer(ok);
    dialog->ProfileInfoUI_IPSECConnect_AddIP("10.00.000.0", "255.000.0.0");
    EXPECT_EQ(routes->topLevelItemCount(), 4);
    dialog->ProfileInfoUI_IPSECConnect_AddIP("172.16..0", "255.255.00.0");
    EXPECT_EQ(Rows().last(), QString("172.16.0.0/255.255.0.0"));
    EXPECT_FALSE(dialog->ProfileInfoUI_RouteCell_IsNew(1, "255.255.0.0"));
    EXPECT_TRUE(dialog->ProfileInfoUI_RouteCell_IsNew(0, "255.255.0.0"));
}

TEST_F(RouteTest, CancelledOrClosedDialogsAddNothing) {
    for (const char* how : {"cancel", BoxDriver::kClose}) {
        driver.AnswerWith([how](QWidget* box) {
            Part(box, "ip1")->setText("10");
            if (QString(how) == "cancel") {
                BoxDriver::ClickButton(box, "pb_cancel");
            } else {
                BoxDriver::Respond(box, BoxDriver::kClose);
            }
        });
        Click("tb_routerAdd");
        EXPECT_EQ(routes->topLevelItemCount(), 0) << how;
    }
}

TEST_F(RouteTest, RemovingRoutes) {
    driver.Answer(ok);
    Click("tb_routerDel");
    ASSERT_EQ(driver.Seen().size(), 1u);
    ExpectOwnBox(driver.Seen()[0], QMessageBox::Warning, KEY("SELECT_EMPTY"));

    for (const char* a : {"10.0.0.0", "10.1.0.0", "10.2.0.0", "10.3.0.0", "10.4.0.0"}) {
        dialog->ProfileInfoUI_IPSECConnect_AddIP(a, "255.255.0.0");
    }
    // Selected bottom-up, so that positions from before the removal would hit other rows.
    routes->clearSelection();
    for (int row : {3, 0, 1}) {
        routes->setCurrentItem(routes->topLevelItem(row), 0, QItemSelectionModel::Select);
    }
    Click("tb_routerDel");
    EXPECT_EQ(Rows(), (QStringList{"10.2.0.0/255.255.0.0", "10.4.0.0/255.255.0.0"}));
    EXPECT_EQ(driver.Seen().size(), 1u) << "no further box";
}

// The route widgets switch together, also through the helper the dialog itself leaves
// unused.
TEST_F(RouteTest, RouteWidgetsSwitchTogether) {
    dialog->ProfileInfoUI_RouteWidgets_Enable(false);
    EXPECT_EQ(RoutesEnabled(), 0);
    dialog->ProfileInfoUI_RouteWidgets_Enable(true);
    EXPECT_EQ(RoutesEnabled(), 1);
    dialog->ProfileInfoUI_IPSECConnect_AddIP("10.0.0.0", "255.0.0.0");
    routes->topLevelItem(0)->setSelected(true);
    Click("cb_HandConfig");
    EXPECT_EQ(RoutesEnabled(), 0);
    EXPECT_TRUE(routes->selectedItems().isEmpty());
}

}  // namespace
