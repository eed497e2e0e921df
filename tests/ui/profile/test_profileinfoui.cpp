// The connection-profile dialog.
//  - Its form on a bare dialog, against tables written from the form's description: every
//    object with its class, parent and place, bounds and policies, fonts, style sheets,
//    icons, captions and accessible names, lists, default texts, buddies, the Tab chain
//    and the by-name slots.
//  - Its private record and meta-object, the new-profile mode, the menu and the sub-menu
//    that follows the scroll, the edit mode against the simulator, the texts from a
//    language file whose every value is its own key, the byte caps of six fields, and the
//    GM certificate rows with a file chosen in Qt's own file dialog.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "UIConstants"
#include "ddm_log.h"
#include "languagesetting.h"
#include "mainui.h"
#include "profileinfoui.h"
#include "profileinfouiprivate.h"
#include "servicelink.h"
#include "ui_link_inner.h"
#include "ui_packet_inner.h"
#include "ui_profileinfoui.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "vt_qt_test/box_driver.h"
#include "vt_test/temp_env.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define VT_TEST_LEAK_CHECK 1
#endif

// The tests' way to the dialog's form and private record.
struct ProfileInfoUITestPeer {
    static Ui_ProfileInfoUI* Form(ProfileInfoUI& dialog) { return dialog.ui; }
    static ProfileInfoUIPrivate* Private(ProfileInfoUI& dialog) { return dialog.d; }
};

namespace {

using vt_qt_test::BoxDriver;

constexpr int kMax = QWIDGETSIZE_MAX;

template <class T = QWidget>
T* Find(QObject* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// ---- The form's objects ----------------------------------------------------------------

struct Placed {
    const char* name;
    const char* cls;
    const char* parent;  // "dialog", "viewport" (the scroll area's), or an object name
};

// Every widget of the form with its class and parent.
const Placed kWidgets[] = {
    {"w_top", "QWidget", "dialog"},
    {"w_profile", "QWidget", "dialog"},
    {"w_left", "QWidget", "w_profile"},
    {"pb_SSL", "QPushButton", "w_left"},
    {"pb_IPSec", "QPushButton", "w_left"},
    {"w_menuIPSec", "QWidget", "w_left"},
    {"pb_ipsecL2TP", "QPushButton", "w_menuIPSec"},
    {"pb_ipsecIPSec", "QPushButton", "w_menuIPSec"},
    {"pb_input", "QPushButton", "w_left"},
    {"pb_output", "QPushButton", "w_left"},
    {"stackedWidget", "QStackedWidget", "w_profile"},
    {"page_ssl", "QWidget", "stackedWidget"},
    {"scrollArea_ssl", "QScrollArea", "page_ssl"},
    {"scrollAreaWidgetContents_ssl", "QWidget", "viewport"},
    {"w_best", "QWidget", "scrollAreaWidgetContents_ssl"},
    {"tw_serverAddress", "QTreeWidget", "w_best"},
    {"tb_bestDel", "QToolButton", "w_best"},
    {"cb_autoBest", "QCheckBox", "w_best"},
    {"pb_SetPriorGateway", "QPushButton", "w_best"},
    {"Certificate_password", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"label_14", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"sign_certificate", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"pb_sign_certificate", "QPushButton", "scrollAreaWidgetContents_ssl"},
    {"pb_sign_clear", "QPushButton", "scrollAreaWidgetContents_ssl"},
    {"encryption_certificate", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"pb_encryption_certificate", "QPushButton", "scrollAreaWidgetContents_ssl"},
    {"pb_encrypto_clear", "QPushButton", "scrollAreaWidgetContents_ssl"},
    {"label_Certificate", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"Certificate_file", "QComboBox", "scrollAreaWidgetContents_ssl"},
    {"l_tunnelModeTip_2", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"cb_Certificate", "QCheckBox", "scrollAreaWidgetContents_ssl"},
    {"cb_tunnelMode", "QComboBox", "scrollAreaWidgetContents_ssl"},
    {"l_tunnelModeTip", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"l_tunnelMode", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"l_connectNameSSL", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"le_gatewayAddress", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"label_7", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"l_port", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"le_port", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"label_8", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"tb_add", "QToolButton", "scrollAreaWidgetContents_ssl"},
    {"le_connectNameSSL", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"label_6", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"l_descriptionMsgSSL", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"l_gatewayAddress", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"le_descriptionMsgSSL", "QLineEdit", "scrollAreaWidgetContents_ssl"},
    {"cb_routecover", "QCheckBox", "scrollAreaWidgetContents_ssl"},
    {"l_tunnelModeTip3", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"cb_gmalgorithm", "QCheckBox", "scrollAreaWidgetContents_ssl"},
    {"l_gmalgorithmTip4", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"label_3", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"label_4", "QLabel", "scrollAreaWidgetContents_ssl"},
    {"page_ipsec", "QWidget", "stackedWidget"},
    {"scrollArea_ipsec", "QScrollArea", "page_ipsec"},
    {"scrollAreaWidgetContents_ipsec", "QWidget", "viewport"},
    {"gb_l2tpSetting", "QGroupBox", "scrollAreaWidgetContents_ipsec"},
    {"l_connectNameIPSEC", "QLabel", "gb_l2tpSetting"},
    {"le_connectNameIPSEC", "QLineEdit", "gb_l2tpSetting"},
    {"label_9", "QLabel", "gb_l2tpSetting"},
    {"l_descriptionMsgIPSEC", "QLabel", "gb_l2tpSetting"},
    {"le_descriptionMsgIPSEC", "QLineEdit", "gb_l2tpSetting"},
    {"l_LNSServer", "QLabel", "gb_l2tpSetting"},
    {"le_LNSServer", "QLineEdit", "gb_l2tpSetting"},
    {"label_10", "QLabel", "gb_l2tpSetting"},
    {"gb_tunnel", "QGroupBox", "scrollAreaWidgetContents_ipsec"},
    {"l_tunnelName", "QLabel", "gb_tunnel"},
    {"le_tunnelName", "QLineEdit", "gb_tunnel"},
    {"label_12", "QLabel", "gb_tunnel"},
    {"l_authMode", "QLabel", "gb_tunnel"},
    {"cb_authMode", "QComboBox", "gb_tunnel"},
    {"cb_useTunnel", "QCheckBox", "gb_tunnel"},
    {"l_tunnelPassword", "QLabel", "gb_tunnel"},
    {"le_tunnelPassword", "QLineEdit", "gb_tunnel"},
    {"label_13", "QLabel", "gb_tunnel"},
    {"groupBox", "QGroupBox", "scrollAreaWidgetContents_ipsec"},
    {"cb_useIPSEC", "QCheckBox", "groupBox"},
    {"w_ipsecEnable", "QWidget", "groupBox"},
    {"rb_preShareKey", "QRadioButton", "w_ipsecEnable"},
    {"rb_digitalSignature", "QRadioButton", "w_ipsecEnable"},
    {"l_Mac", "QLabel", "w_ipsecEnable"},
    {"l_statusConfirm", "QLabel", "w_ipsecEnable"},
    {"le_statusConfirm", "QLineEdit", "w_ipsecEnable"},
    {"label_11", "QLabel", "w_ipsecEnable"},
    {"w_ipsec", "QWidget", "scrollAreaWidgetContents_ipsec"},
    {"gb_ipsecSetting", "QGroupBox", "w_ipsec"},
    {"l_IPSECServer", "QLabel", "gb_ipsecSetting"},
    {"le_IPSECServer", "QLineEdit", "gb_ipsecSetting"},
    {"cb_LNSServer", "QCheckBox", "gb_ipsecSetting"},
    {"l_encapMode", "QLabel", "gb_ipsecSetting"},
    {"rb_encapTransferMode", "QRadioButton", "gb_ipsecSetting"},
    {"rb_encapTunnelMode", "QRadioButton", "gb_ipsecSetting"},
    {"l_tunnelModeTip2", "QLabel", "gb_ipsecSetting"},
    {"l_ESPAuthAlgo", "QLabel", "gb_ipsecSetting"},
    {"cb_ESPAuthAlgo", "QComboBox", "gb_ipsecSetting"},
    {"l_ESPEncryAlgo", "QLabel", "gb_ipsecSetting"},
    {"cb_ESPEncryAlgo", "QComboBox", "gb_ipsecSetting"},
    {"gb_ikeSetting", "QGroupBox", "w_ipsec"},
    {"l_negoMode", "QLabel", "gb_ikeSetting"},
    {"rb_negoMainMode", "QRadioButton", "gb_ikeSetting"},
    {"rb_negoBarMode", "QRadioButton", "gb_ikeSetting"},
    {"l_IDType", "QLabel", "gb_ikeSetting"},
    {"cb_IDType", "QComboBox", "gb_ikeSetting"},
    {"l_localGatewayName", "QLabel", "gb_ikeSetting"},
    {"le_localGatewayName", "QLineEdit", "gb_ikeSetting"},
    {"l_remoteGatewayName", "QLabel", "gb_ikeSetting"},
    {"le_remoteGatewayName", "QLineEdit", "gb_ikeSetting"},
    {"l_authAlgo", "QLabel", "gb_ikeSetting"},
    {"cb_authAlgo", "QComboBox", "gb_ikeSetting"},
    {"l_encryAlgo", "QLabel", "gb_ikeSetting"},
    {"cb_encryAlgo", "QComboBox", "gb_ikeSetting"},
    {"l_DHGroup", "QLabel", "gb_ikeSetting"},
    {"cb_DHGroup", "QComboBox", "gb_ikeSetting"},
    {"gb_ikeSettingAdvanced", "QGroupBox", "w_ipsec"},
    {"cb_usePFS", "QCheckBox", "gb_ikeSettingAdvanced"},
    {"l_parameter", "QLabel", "gb_ikeSettingAdvanced"},
    {"cb_parameter", "QComboBox", "gb_ikeSettingAdvanced"},
    {"l_ikeSADuration", "QLabel", "gb_ikeSettingAdvanced"},
    {"le_ikeSADuration", "QLineEdit", "gb_ikeSettingAdvanced"},
    {"l_sec3", "QLabel", "gb_ikeSettingAdvanced"},
    {"label", "QLabel", "gb_ikeSettingAdvanced"},
    {"gb_ipsecSettingAdvanced", "QGroupBox", "w_ipsec"},
    {"l_ipsecSADuration", "QLabel", "gb_ipsecSettingAdvanced"},
    {"le_ipsecSADuration", "QLineEdit", "gb_ipsecSettingAdvanced"},
    {"l_sec4", "QLabel", "gb_ipsecSettingAdvanced"},
    {"label_2", "QLabel", "gb_ipsecSettingAdvanced"},
    {"gb_router", "QGroupBox", "scrollAreaWidgetContents_ipsec"},
    {"w_RouteMode", "QWidget", "gb_router"},
    {"rb_ModeConfig", "QRadioButton", "w_RouteMode"},
    {"rb_HandConfig", "QRadioButton", "w_RouteMode"},
    {"cb_HandConfig", "QCheckBox", "gb_router"},
    {"l_routerDNS", "QLabel", "gb_router"},
    {"le_routerDNS", "QLineEdit", "gb_router"},
    {"l_routerTip", "QLabel", "gb_router"},
    {"tw_router", "QTreeWidget", "gb_router"},
    {"tb_routerAdd", "QToolButton", "gb_router"},
    {"tb_routerDel", "QToolButton", "gb_router"},
    {"page_input", "QWidget", "stackedWidget"},
    {"l_inputProfile", "QLabel", "page_input"},
    {"le_inputProfile", "QLineEdit", "page_input"},
    {"pb_inputProfile", "QPushButton", "page_input"},
    {"w_bottom", "QWidget", "w_profile"},
    {"pb_cancel", "QPushButton", "w_bottom"},
    {"pb_ok", "QPushButton", "w_bottom"},
    {"pb_save", "QPushButton", "w_bottom"},
};

// A layout with what it holds, in order. Items are object names, "@r,c,rs,cs" after a
// grid item, or a spacer written "<WxH HPolicy/VPolicy>".
struct LayoutRow {
    const char* name;
    const char* cls;
    const char* owner;  // the widget whose layout it is, or the layout it sits in
    std::vector<std::string> items;
};

const std::vector<LayoutRow>& Layouts() {
    static const std::vector<LayoutRow> rows = {
        {"gridLayout_2", "QGridLayout", "dialog", {"w_top@0,0,1,1", "w_profile@1,0,1,1"}},
        {"horizontalLayout_21", "QHBoxLayout", "w_profile", {"w_left", "verticalLayout_18"}},
        {"verticalLayout_22", "QVBoxLayout", "w_left",
         {"pb_SSL", "pb_IPSec", "w_menuIPSec", "pb_input", "pb_output",
          "<20x440 Minimum/Expanding>"}},
        {"verticalLayout_7", "QVBoxLayout", "w_menuIPSec",
         {"horizontalLayout_27", "horizontalLayout_28"}},
        {"horizontalLayout_27", "QHBoxLayout", "verticalLayout_7",
         {"<13x20 Expanding/Minimum>", "pb_ipsecL2TP", "<18x20 Expanding/Minimum>"}},
        {"horizontalLayout_28", "QHBoxLayout", "verticalLayout_7",
         {"<13x20 Expanding/Minimum>", "pb_ipsecIPSec", "<18x20 Expanding/Minimum>"}},
        {"verticalLayout_18", "QVBoxLayout", "horizontalLayout_21", {"stackedWidget", "w_bottom"}},
        {"verticalLayout_12", "QVBoxLayout", "page_ssl", {"scrollArea_ssl"}},
        {"gridLayout", "QGridLayout", "scrollAreaWidgetContents_ssl",
         {"w_best@6,0,1,2", "horizontalLayout_24@14,0,1,1", "horizontalLayout_25@20,0,1,1",
          "horizontalLayout_26@22,0,1,1", "<20x37 Minimum/Expanding>@12,1,2,1",
          "label_Certificate@13,0,1,1", "horizontalLayout_10@12,0,1,1",
          "cb_Certificate@11,0,1,1", "horizontalLayout_101@8,0,1,1", "l_tunnelMode@7,0,1,1",
          "l_connectNameSSL@0,0,1,1", "horizontalLayout_4@5,0,1,2",
          "horizontalLayout_5@1,0,1,1", "l_descriptionMsgSSL@2,0,1,1",
          "l_gatewayAddress@4,0,1,1", "le_descriptionMsgSSL@3,0,1,1",
          "horizontalLayout_251@9,0,1,1", "horizontalLayout_252@10,0,1,1", "label_3@15,0,1,1",
          "label_4@21,0,1,1"}},
        {"verticalLayout_27", "QVBoxLayout", "w_best", {"vl_Best"}},
        {"vl_Best", "QVBoxLayout", "verticalLayout_27", {"horizontalLayout_8", "horizontalLayout_9"}},
        {"horizontalLayout_8", "QHBoxLayout", "vl_Best", {"tw_serverAddress", "verticalLayout_2"}},
        {"verticalLayout_2", "QVBoxLayout", "horizontalLayout_8",
         {"tb_bestDel", "<20x40 Minimum/Expanding>"}},
        {"horizontalLayout_9", "QHBoxLayout", "vl_Best",
         {"cb_autoBest", "<40x20 Expanding/Minimum>", "pb_SetPriorGateway"}},
        {"horizontalLayout_24", "QHBoxLayout", "gridLayout", {"Certificate_password", "label_14"}},
        {"horizontalLayout_25", "QHBoxLayout", "gridLayout",
         {"sign_certificate", "pb_sign_certificate", "pb_sign_clear"}},
        {"horizontalLayout_26", "QHBoxLayout", "gridLayout",
         {"encryption_certificate", "pb_encryption_certificate", "pb_encrypto_clear"}},
        {"horizontalLayout_10", "QHBoxLayout", "gridLayout", {"Certificate_file", "l_tunnelModeTip_2"}},
        {"horizontalLayout_101", "QHBoxLayout", "gridLayout", {"cb_tunnelMode", "l_tunnelModeTip"}},
        {"horizontalLayout_4", "QHBoxLayout", "gridLayout",
         {"le_gatewayAddress", "label_7", "l_port", "le_port", "label_8", "tb_add"}},
        {"horizontalLayout_5", "QHBoxLayout", "gridLayout", {"le_connectNameSSL", "label_6"}},
        {"horizontalLayout_251", "QHBoxLayout", "gridLayout",
         {"cb_routecover", "<10x20 Fixed/Minimum>", "l_tunnelModeTip3",
          "<40x20 Expanding/Minimum>"}},
        {"horizontalLayout_252", "QHBoxLayout", "gridLayout",
         {"cb_gmalgorithm", "<10x20 Fixed/Minimum>", "l_gmalgorithmTip4",
          "<40x20 Expanding/Minimum>"}},
        {"verticalLayout_4", "QVBoxLayout", "page_ipsec", {"scrollArea_ipsec"}},
        {"verticalLayout_17", "QVBoxLayout", "scrollAreaWidgetContents_ipsec",
         {"gb_l2tpSetting", "gb_tunnel", "groupBox", "w_ipsec", "gb_router"}},
        {"verticalLayout_9", "QVBoxLayout", "gb_l2tpSetting",
         {"l_connectNameIPSEC", "horizontalLayout_12", "l_descriptionMsgIPSEC",
          "le_descriptionMsgIPSEC", "l_LNSServer", "horizontalLayout_13"}},
        {"horizontalLayout_12", "QHBoxLayout", "verticalLayout_9", {"le_connectNameIPSEC", "label_9"}},
        {"horizontalLayout_13", "QHBoxLayout", "verticalLayout_9", {"le_LNSServer", "label_10"}},
        {"verticalLayout_5", "QVBoxLayout", "gb_tunnel",
         {"l_tunnelName", "horizontalLayout_11", "l_authMode", "cb_authMode", "cb_useTunnel",
          "l_tunnelPassword", "horizontalLayout_14"}},
        {"horizontalLayout_11", "QHBoxLayout", "verticalLayout_5", {"le_tunnelName", "label_12"}},
        {"horizontalLayout_14", "QHBoxLayout", "verticalLayout_5", {"le_tunnelPassword", "label_13"}},
        {"verticalLayout_14", "QVBoxLayout", "groupBox", {"cb_useIPSEC", "w_ipsecEnable"}},
        {"verticalLayout_13", "QVBoxLayout", "w_ipsecEnable",
         {"horizontalLayout_7", "horizontalLayout_17", "horizontalLayout_18"}},
        {"horizontalLayout_7", "QHBoxLayout", "verticalLayout_13",
         {"rb_preShareKey", "<80x20 Expanding/Minimum>", "rb_digitalSignature", "l_Mac"}},
        {"horizontalLayout_17", "QHBoxLayout", "verticalLayout_13",
         {"l_statusConfirm", "<40x20 Preferred/Minimum>"}},
        {"horizontalLayout_18", "QHBoxLayout", "verticalLayout_13", {"le_statusConfirm", "label_11"}},
        {"verticalLayout_3", "QVBoxLayout", "w_ipsec",
         {"gb_ipsecSetting", "gb_ikeSetting", "gb_ikeSettingAdvanced", "gb_ipsecSettingAdvanced"}},
        {"verticalLayout_10", "QVBoxLayout", "gb_ipsecSetting",
         {"l_IPSECServer", "le_IPSECServer", "cb_LNSServer", "l_encapMode", "horizontalLayout_16",
          "l_ESPAuthAlgo", "cb_ESPAuthAlgo", "l_ESPEncryAlgo", "cb_ESPEncryAlgo"}},
        {"horizontalLayout_16", "QHBoxLayout", "verticalLayout_10",
         {"rb_encapTransferMode", "<40x20 Expanding/Minimum>", "rb_encapTunnelMode",
          "l_tunnelModeTip2", "<40x20 Expanding/Minimum>"}},
        {"verticalLayout_15", "QVBoxLayout", "gb_ikeSetting",
         {"l_negoMode", "horizontalLayout_19", "l_IDType", "cb_IDType", "l_localGatewayName",
          "le_localGatewayName", "l_remoteGatewayName", "le_remoteGatewayName", "l_authAlgo",
          "cb_authAlgo", "l_encryAlgo", "cb_encryAlgo", "l_DHGroup", "cb_DHGroup"}},
        {"horizontalLayout_19", "QHBoxLayout", "verticalLayout_15",
         {"rb_negoMainMode", "<40x23 Expanding/Minimum>", "rb_negoBarMode",
          "<40x20 Expanding/Minimum>"}},
        {"verticalLayout_20", "QVBoxLayout", "gb_ikeSettingAdvanced",
         {"cb_usePFS", "horizontalLayout_20", "l_ikeSADuration", "horizontalLayout_3"}},
        {"horizontalLayout_20", "QHBoxLayout", "verticalLayout_20", {"l_parameter", "cb_parameter"}},
        {"horizontalLayout_3", "QHBoxLayout", "verticalLayout_20",
         {"le_ikeSADuration", "l_sec3", "label"}},
        {"verticalLayout_11", "QVBoxLayout", "gb_ipsecSettingAdvanced",
         {"l_ipsecSADuration", "horizontalLayout_6"}},
        {"horizontalLayout_6", "QHBoxLayout", "verticalLayout_11",
         {"le_ipsecSADuration", "l_sec4", "label_2"}},
        {"verticalLayout_8", "QVBoxLayout", "gb_router",
         {"horizontalLayout_22", "l_routerDNS", "le_routerDNS", "l_routerTip",
          "horizontalLayout_15"}},
        {"horizontalLayout_22", "QHBoxLayout", "verticalLayout_8", {"w_RouteMode", "cb_HandConfig"}},
        {"horizontalLayout_23", "QHBoxLayout", "w_RouteMode", {"rb_ModeConfig", "rb_HandConfig"}},
        {"horizontalLayout_15", "QHBoxLayout", "verticalLayout_8", {"tw_router", "verticalLayout_6"}},
        {"verticalLayout_6", "QVBoxLayout", "horizontalLayout_15",
         {"tb_routerAdd", "tb_routerDel", "<20x40 Minimum/Expanding>"}},
        {"verticalLayout", "QVBoxLayout", "page_input",
         {"<20x100 Minimum/Preferred>", "horizontalLayout_2", "<10x175 Minimum/Expanding>"}},
        {"horizontalLayout_2", "QHBoxLayout", "verticalLayout",
         {"l_inputProfile", "le_inputProfile", "pb_inputProfile"}},
        {"horizontalLayout", "QHBoxLayout", "w_bottom",
         {"<78x20 Expanding/Minimum>", "pb_cancel", "<79x20 Expanding/Minimum>", "pb_ok",
          "pb_save", "<78x20 Expanding/Minimum>"}},
    };
    return rows;
}

const char* PolicyName(QSizePolicy::Policy p) {
    switch (p) {
    case QSizePolicy::Fixed: return "Fixed";
    case QSizePolicy::Minimum: return "Minimum";
    case QSizePolicy::Maximum: return "Maximum";
    case QSizePolicy::Preferred: return "Preferred";
    case QSizePolicy::Expanding: return "Expanding";
    case QSizePolicy::MinimumExpanding: return "MinimumExpanding";
    case QSizePolicy::Ignored: return "Ignored";
    }
    return "?";
}

std::string ItemText(QLayoutItem* item) {
    if (QSpacerItem* spacer = item->spacerItem()) {
        const QSizePolicy p = spacer->sizePolicy();
        return "<" + std::to_string(spacer->sizeHint().width()) + "x" +
               std::to_string(spacer->sizeHint().height()) + " " +
               PolicyName(p.horizontalPolicy()) + "/" + PolicyName(p.verticalPolicy()) + ">";
    }
    if (QWidget* w = item->widget()) {
        return w->objectName().toStdString();
    }
    if (QLayout* l = item->layout()) {
        return l->objectName().toStdString();
    }
    return "?";
}

std::vector<std::string> Items(QLayout* layout) {
    std::vector<std::string> items;
    auto* grid = qobject_cast<QGridLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        std::string text = ItemText(layout->itemAt(i));
        if (grid != nullptr) {
            int r = 0, c = 0, rs = 0, cs = 0;
            grid->getItemPosition(i, &r, &c, &rs, &cs);
            text += "@" + std::to_string(r) + "," + std::to_string(c) + "," + std::to_string(rs) +
                    "," + std::to_string(cs);
        }
        items.push_back(text);
    }
    return items;
}

std::string OwnerName(QLayout* layout, QDialog* dialog) {
    QObject* owner = layout->parent();
    if (owner == dialog) {
        return "dialog";
    }
    return owner != nullptr ? owner->objectName().toStdString() : "<none>";
}

std::string ParentName(QWidget* widget, QDialog* dialog) {
    QWidget* parent = widget->parentWidget();
    if (parent == dialog) {
        return "dialog";
    }
    if (parent != nullptr && parent->objectName() == QLatin1String("qt_scrollarea_viewport")) {
        return "viewport";
    }
    return parent != nullptr ? parent->objectName().toStdString() : "<none>";
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override { form.setupUi(&dialog); }
    QDialog dialog;
    Ui_ProfileInfoUI form;
};

TEST_F(FormTest, EveryWidgetHasItsClassAndParent) {
    ASSERT_EQ(std::size(kWidgets), 144u);
    for (const Placed& p : kWidgets) {
        const QList<QWidget*> found = dialog.findChildren<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_EQ(found.size(), 1) << p.name;
        EXPECT_STREQ(found[0]->metaObject()->className(), p.cls) << p.name;
        EXPECT_EQ(ParentName(found[0], &dialog), p.parent) << p.name;
    }
    // The scroll areas carry their contents; the pages sit in the stack in their order.
    EXPECT_EQ(form.scrollArea_ssl->widget(), form.scrollAreaWidgetContents_ssl);
    EXPECT_EQ(form.scrollArea_ipsec->widget(), form.scrollAreaWidgetContents_ipsec);
    ASSERT_EQ(form.stackedWidget->count(), 3);
    EXPECT_EQ(form.stackedWidget->widget(0), form.page_ssl);
    EXPECT_EQ(form.stackedWidget->widget(1), form.page_ipsec);
    EXPECT_EQ(form.stackedWidget->widget(2), form.page_input);
}

TEST_F(FormTest, EveryLayoutHoldsItsItemsInOrder) {
    ASSERT_EQ(Layouts().size(), 54u);
    for (const LayoutRow& row : Layouts()) {
        const QList<QLayout*> found = dialog.findChildren<QLayout*>(QString::fromLatin1(row.name));
        ASSERT_EQ(found.size(), 1) << row.name;
        QLayout* layout = found[0];
        EXPECT_STREQ(layout->metaObject()->className(), row.cls) << row.name;
        EXPECT_EQ(OwnerName(layout, &dialog), row.owner) << row.name;
        EXPECT_EQ(Items(layout), row.items) << row.name;
    }
    EXPECT_EQ(dialog.layout(), form.gridLayout_2);
}

TEST_F(FormTest, LayoutSpacingAndMargins) {
    struct Case {
        const char* name;
        int spacing;  // -1: the style's
        QMargins margins;
    } cases[] = {
        // No gap between banner and body: with the style's gap the body would not fit
        // the dialog's 570 pixels and the bottom bar would be cut.
        {"gridLayout_2", 0, QMargins(0, 0, 0, 0)},
        {"horizontalLayout_21", 0, QMargins(0, 0, 0, 0)},
        {"verticalLayout_22", 0, QMargins(0, 0, 0, 0)},
        {"verticalLayout_27", -2, QMargins(0, 0, 0, 0)},
        {"verticalLayout_13", 0, QMargins(0, 0, 0, 0)},
        {"verticalLayout_3", 0, QMargins(0, 0, 0, 0)},
        {"horizontalLayout_23", 0, QMargins(0, 0, 0, 0)},
        {"horizontalLayout", 0, QMargins(0, 5, 0, 5)},
    };
    for (const Case& c : cases) {
        auto* layout = Find<QLayout>(&dialog, c.name);
        ASSERT_NE(layout, nullptr);
        if (c.spacing != -2) {
            EXPECT_EQ(layout->spacing(), c.spacing) << c.name;
        }
        EXPECT_EQ(layout->contentsMargins(), c.margins) << c.name;
    }
    // Margins given on one side only; the others stay the defaults of a widget's own
    // layout, or of a layout inside another.
    const QMargins own = form.verticalLayout_5->contentsMargins();
    const QMargins inner = form.horizontalLayout_5->contentsMargins();
    EXPECT_EQ(form.verticalLayout_9->contentsMargins(),
              QMargins(9, own.top(), own.right(), own.bottom()));
    EXPECT_EQ(form.verticalLayout_14->contentsMargins(),
              QMargins(9, 0, own.right(), own.bottom()));
    EXPECT_EQ(form.horizontalLayout_251->spacing(), 0);
    EXPECT_EQ(form.horizontalLayout_251->contentsMargins(),
              QMargins(inner.left(), inner.top(), inner.right(), 0));
    EXPECT_EQ(form.horizontalLayout_252->spacing(), 0);
    EXPECT_EQ(form.horizontalLayout_252->contentsMargins().bottom(), 0);
}

TEST_F(FormTest, SizeBoundsAndPolicies) {
    EXPECT_EQ(dialog.objectName(), QString("ProfileInfoUI"));
    EXPECT_EQ(dialog.size(), QSize(600, 570));
    EXPECT_EQ(dialog.minimumSize(), QSize(600, 570));
    EXPECT_EQ(dialog.maximumSize(), QSize(1000, 970));
    EXPECT_EQ(dialog.font().pointSize(), 12);

    struct Case {
        const char* name;
        QSize min;
        QSize max;
        const char* policy;  // "H/V", or nullptr for the class default
    };
    const QSize none(0, 0);
    const QSize unbounded(kMax, kMax);
    const QSize h23(0, 23);
    const std::vector<Case> cases = {
        {"w_top", {700, 70}, {1750, 175}, "Preferred/Preferred"},
        {"w_profile", {600, 500}, unbounded, "Expanding/Preferred"},
        {"w_left", {141, 0}, {230, kMax}, "Expanding/Expanding"},
        {"pb_SSL", {141, 49}, {242, 122}, "Expanding/Expanding"},
        {"pb_IPSec", {141, 49}, {242, 122}, "Expanding/Expanding"},
        {"pb_input", {141, 49}, {242, 122}, "Expanding/Expanding"},
        {"pb_output", {141, 49}, {242, 122}, "Expanding/Expanding"},
        {"w_menuIPSec", {141, 80}, {242, kMax}, "Expanding/Expanding"},
        {"pb_ipsecL2TP", none, unbounded, "Expanding/Expanding"},
        {"pb_ipsecIPSec", none, unbounded, "Expanding/Expanding"},
        {"stackedWidget", none, unbounded, "Expanding/Expanding"},
        {"pb_cancel", h23, {150, 40}, "Preferred/Preferred"},
        {"pb_ok", h23, {150, 40}, "Preferred/Preferred"},
        {"pb_save", h23, {150, 40}, "Preferred/Preferred"},
        {"scrollAreaWidgetContents_ssl", none, unbounded, "Expanding/Expanding"},
        {"l_connectNameSSL", none, unbounded, "Expanding/Preferred"},
        {"le_connectNameSSL", h23, unbounded, nullptr},
        {"l_descriptionMsgSSL", none, unbounded, "Expanding/Preferred"},
        {"le_descriptionMsgSSL", h23, unbounded, "Expanding/Fixed"},
        {"l_gatewayAddress", none, unbounded, nullptr},
        {"le_gatewayAddress", h23, unbounded, nullptr},
        {"l_port", {0, 17}, unbounded, nullptr},
        {"le_port", h23, unbounded, nullptr},
        {"tb_add", h23, unbounded, nullptr},
        {"tw_serverAddress", none, unbounded, nullptr},
        {"tb_bestDel", h23, unbounded, nullptr},
        {"pb_SetPriorGateway", none, unbounded, "Minimum/Fixed"},
        {"l_tunnelModeTip", none, {20, kMax}, "Preferred/Fixed"},
        {"l_tunnelModeTip3", {20, 20}, {20, 20}, nullptr},
        {"l_gmalgorithmTip4", {20, 20}, {20, 20}, nullptr},
        {"Certificate_file", h23, unbounded, nullptr},
        {"l_tunnelModeTip_2", none, {20, 20}, nullptr},
        {"Certificate_password", h23, unbounded, nullptr},
        {"sign_certificate", h23, unbounded, nullptr},
        {"encryption_certificate", h23, unbounded, nullptr},
        {"page_ipsec", none, unbounded, "Expanding/Expanding"},
        {"scrollArea_ipsec", none, {kMax, 1800}, "Expanding/Preferred"},
        {"scrollAreaWidgetContents_ipsec", none, unbounded, "Preferred/Expanding"},
        {"gb_l2tpSetting", none, unbounded, "Preferred/Fixed"},
        {"gb_tunnel", none, unbounded, "Preferred/Fixed"},
        {"groupBox", none, unbounded, "Preferred/Fixed"},
        {"gb_ipsecSetting", none, unbounded, "Preferred/Fixed"},
        {"gb_ikeSetting", none, unbounded, "Preferred/Fixed"},
        {"gb_ikeSettingAdvanced", none, unbounded, "Preferred/Fixed"},
        {"gb_ipsecSettingAdvanced", none, unbounded, "Preferred/Fixed"},
        {"gb_router", none, unbounded, "Preferred/Fixed"},
        {"l_connectNameIPSEC", h23, unbounded, nullptr},
        {"le_connectNameIPSEC", h23, unbounded, nullptr},
        {"l_descriptionMsgIPSEC", h23, unbounded, nullptr},
        {"le_descriptionMsgIPSEC", h23, unbounded, nullptr},
        {"l_LNSServer", h23, unbounded, nullptr},
        {"le_LNSServer", h23, unbounded, nullptr},
        {"l_tunnelName", h23, unbounded, "Preferred/Preferred"},
        {"le_tunnelName", h23, unbounded, nullptr},
        {"l_authMode", h23, unbounded, nullptr},
        {"cb_authMode", h23, unbounded, nullptr},
        {"cb_useTunnel", h23, unbounded, nullptr},
        {"l_tunnelPassword", h23, unbounded, nullptr},
        {"le_tunnelPassword", h23, unbounded, nullptr},
        {"cb_useIPSEC", h23, unbounded, "Preferred/Fixed"},
        {"rb_preShareKey", h23, unbounded, "Preferred/Fixed"},
        {"rb_digitalSignature", h23, unbounded, "Preferred/Fixed"},
        {"l_statusConfirm", h23, unbounded, "Preferred/Fixed"},
        {"le_statusConfirm", h23, unbounded, "Expanding/Expanding"},
        {"label_11", none, {kMax, 20}, nullptr},
        {"l_IPSECServer", h23, unbounded, nullptr},
        {"le_IPSECServer", h23, unbounded, "Expanding/Fixed"},
        {"cb_LNSServer", h23, unbounded, "Preferred/Preferred"},
        {"l_encapMode", h23, unbounded, nullptr},
        {"rb_encapTransferMode", h23, unbounded, "Preferred/Preferred"},
        {"rb_encapTunnelMode", h23, unbounded, "Preferred/Preferred"},
        {"l_tunnelModeTip2", {13, 13}, unbounded, nullptr},
        {"l_ESPAuthAlgo", h23, unbounded, nullptr},
        {"cb_ESPAuthAlgo", h23, unbounded, "Preferred/Preferred"},
        {"l_ESPEncryAlgo", h23, unbounded, nullptr},
        {"cb_ESPEncryAlgo", h23, unbounded, "Preferred/Preferred"},
        {"l_negoMode", h23, unbounded, nullptr},
        {"rb_negoMainMode", h23, unbounded, "Preferred/Preferred"},
        {"rb_negoBarMode", h23, unbounded, "Preferred/Preferred"},
        {"l_IDType", h23, unbounded, nullptr},
        {"cb_IDType", h23, unbounded, "Preferred/Preferred"},
        {"l_localGatewayName", h23, unbounded, nullptr},
        {"le_localGatewayName", h23, unbounded, "Expanding/Preferred"},
        {"l_remoteGatewayName", h23, unbounded, nullptr},
        {"le_remoteGatewayName", h23, unbounded, "Expanding/Preferred"},
        {"l_authAlgo", h23, unbounded, nullptr},
        {"cb_authAlgo", h23, unbounded, "Preferred/Preferred"},
        {"l_encryAlgo", h23, unbounded, nullptr},
        {"cb_encryAlgo", h23, unbounded, "Preferred/Preferred"},
        {"l_DHGroup", h23, unbounded, nullptr},
        {"cb_DHGroup", h23, unbounded, "Preferred/Preferred"},
        {"cb_usePFS", h23, unbounded, "Preferred/Preferred"},
        {"l_parameter", h23, unbounded, nullptr},
        {"cb_parameter", none, unbounded, "Preferred/Preferred"},
        {"l_ikeSADuration", h23, unbounded, nullptr},
        {"le_ikeSADuration", none, unbounded, "Preferred/Preferred"},
        {"l_sec3", h23, unbounded, nullptr},
        {"label", h23, unbounded, nullptr},
        {"l_ipsecSADuration", h23, unbounded, nullptr},
        {"le_ipsecSADuration", h23, unbounded, "Preferred/Preferred"},
        {"l_sec4", h23, unbounded, nullptr},
        {"label_2", h23, unbounded, nullptr},
        {"w_RouteMode", none, unbounded, "Expanding/Preferred"},
        {"rb_ModeConfig", none, unbounded, "Preferred/Preferred"},
        {"rb_HandConfig", none, unbounded, "Preferred/Preferred"},
        {"cb_HandConfig", none, unbounded, "Preferred/Preferred"},
        {"l_routerDNS", h23, unbounded, nullptr},
        {"le_routerDNS", h23, unbounded, nullptr},
        {"l_routerTip", h23, unbounded, nullptr},
        {"tw_router", none, unbounded, "Expanding/Preferred"},
        {"l_inputProfile", {60, 23}, {150, 45}, "Preferred/Preferred"},
        {"le_inputProfile", {290, 23}, {720, 40}, nullptr},
        {"pb_inputProfile", {75, 23}, {150, 45}, "Preferred/Fixed"},
    };
    for (const Case& c : cases) {
        QWidget* w = Find(&dialog, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->minimumSize(), c.min) << c.name;
        EXPECT_EQ(w->maximumSize(), c.max) << c.name;
        if (c.policy != nullptr) {
            const QSizePolicy p = w->sizePolicy();
            EXPECT_EQ(std::string(PolicyName(p.horizontalPolicy())) + "/" +
                          PolicyName(p.verticalPolicy()),
                      c.policy)
                << c.name;
            EXPECT_EQ(p.horizontalStretch(), 0) << c.name;
            EXPECT_EQ(p.verticalStretch(), 0) << c.name;
        }
    }
}

TEST_F(FormTest, InitialStatesOfTheForm) {
    EXPECT_EQ(form.stackedWidget->currentIndex(), 1);

    const std::set<std::string> disabled = {
        "pb_ipsecIPSec", "Certificate_password", "sign_certificate", "encryption_certificate",
        "Certificate_file", "l_tunnelPassword", "le_tunnelPassword", "cb_IDType",
        "le_localGatewayName", "le_remoteGatewayName", "l_parameter", "cb_parameter", "label",
        "label_2"};
    const std::set<std::string> checked = {"cb_routecover", "rb_preShareKey",
                                           "rb_encapTunnelMode", "rb_negoMainMode"};
    const std::set<std::string> password = {"Certificate_password", "le_tunnelPassword",
                                            "le_statusConfirm"};
    for (const Placed& p : kWidgets) {
        QWidget* w = Find(&dialog, p.name);
        EXPECT_EQ(w->isEnabledTo(&dialog), disabled.count(p.name) == 0) << p.name;
        // The stack shows its current page only.
        const bool otherPage = w->parentWidget() == form.stackedWidget && w != form.page_ipsec;
        EXPECT_EQ(w->isHidden(), otherPage) << p.name;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
                EXPECT_EQ(button->isChecked(), checked.count(p.name) == 1) << p.name;
            }
        }
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(edit->echoMode() == QLineEdit::Password, password.count(p.name) == 1)
                << p.name;
            EXPECT_FALSE(edit->isReadOnly()) << p.name;
            EXPECT_EQ(edit->maxLength(), 32767) << p.name;
            EXPECT_EQ(edit->validator(), nullptr) << p.name;
        }
    }
}

TEST_F(FormTest, OtherWidgetProperties) {
    EXPECT_EQ(form.l_port->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(form.tb_add->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(form.tb_bestDel->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(form.pb_SetPriorGateway->focusPolicy(), Qt::ClickFocus);
    EXPECT_FALSE(form.Certificate_file->isEditable());
    EXPECT_EQ(form.Certificate_file->maxVisibleItems(), 17);
    EXPECT_EQ(form.Certificate_file->iconSize(), QSize(10, 10));
    EXPECT_EQ(form.Certificate_file->count(), 0);
    EXPECT_EQ(form.Certificate_password->inputMethodHints(),
              Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoAutoUppercase |
                  Qt::ImhNoPredictiveText);
    for (QScrollArea* area : {form.scrollArea_ssl, form.scrollArea_ipsec}) {
        EXPECT_EQ(area->frameShape(), QFrame::NoFrame) << area->objectName().toStdString();
        EXPECT_TRUE(area->widgetResizable()) << area->objectName().toStdString();
    }
    EXPECT_EQ(form.tw_router->selectionMode(), QAbstractItemView::ExtendedSelection);

    // The lists' header items, before the dialog's texts replace their titles.
    QTreeWidgetItem* servers = form.tw_serverAddress->headerItem();
    EXPECT_EQ(form.tw_serverAddress->columnCount(), 2);
    EXPECT_EQ(servers->textAlignment(1), int(Qt::AlignLeading | Qt::AlignVCenter));
    QTreeWidgetItem* routes = form.tw_router->headerItem();
    EXPECT_EQ(form.tw_router->columnCount(), 2);
    for (int column : {0, 1}) {
        EXPECT_EQ(routes->textAlignment(column), int(Qt::AlignJustify | Qt::AlignVCenter));
        EXPECT_EQ(routes->font(column).family(), QString("微软雅黑"));
        EXPECT_EQ(routes->font(column).pointSize(), 9);
    }
    // Radio buttons are exclusive within their parent; the route mode starts unchosen.
    EXPECT_FALSE(form.rb_ModeConfig->isChecked());
    EXPECT_FALSE(form.rb_HandConfig->isChecked());
    struct Pair {
        QRadioButton* chosen;
        QRadioButton* other;
    } pairs[] = {{form.rb_digitalSignature, form.rb_preShareKey},
                 {form.rb_encapTransferMode, form.rb_encapTunnelMode},
                 {form.rb_negoBarMode, form.rb_negoMainMode},
                 {form.rb_HandConfig, form.rb_ModeConfig},
                 {form.rb_ModeConfig, form.rb_HandConfig}};
    for (const Pair& p : pairs) {
        p.other->setChecked(true);
        p.chosen->setChecked(true);
        EXPECT_FALSE(p.other->isChecked()) << p.chosen->objectName().toStdString();
    }
    EXPECT_TRUE(form.rb_encapTransferMode->isChecked()) << "choices are independent";
}

TEST_F(FormTest, RequestedFonts) {
    struct Case {
        std::vector<const char*> names;
        const char* family;  // nullptr: inherited
        int pointSize;       // -1: inherited
        int weight;          // -1: not given
        int italic;          // -1: not given, else 0/1
    } cases[] = {
        {{"w_top"}, nullptr, 11, -1, -1},
        {{"w_left"}, "微软雅黑", 11, 75, -1},
        {{"pb_SSL", "pb_IPSec", "pb_input", "pb_output"}, "微软雅黑", 11, 50, 0},
        {{"pb_ipsecL2TP", "pb_ipsecIPSec"}, "微软雅黑", 10, 50, 0},
        {{"stackedWidget"}, nullptr, 9, -1, -1},
        {{"scrollArea_ssl"}, "微软雅黑", -1, -1, -1},
        {{"tb_bestDel", "tb_add", "tb_routerAdd", "tb_routerDel", "scrollAreaWidgetContents_ipsec"},
         "微软雅黑", 9, -1, -1},
        {{"Certificate_password", "sign_certificate", "encryption_certificate"}, "ADMUI3Lg", -1, -1,
         -1},
        {{"label_6", "label_7", "label_8", "label_14", "label_9", "label_10", "label_12", "label_13"},
         "Aharoni", 16, -1, 0},
        {{"scrollArea_ipsec", "label", "label_2"}, nullptr, 8, -1, -1},
    };
    for (const Case& c : cases) {
        for (const char* name : c.names) {
            QWidget* w = Find(&dialog, name);
            ASSERT_NE(w, nullptr);
            const QFont f = w->font();
            const QFont inherited = w->parentWidget()->font();
            EXPECT_EQ(f.family(), c.family != nullptr ? QString::fromUtf8(c.family)
                                                      : inherited.family())
                << name;
            EXPECT_EQ(f.pointSize(), c.pointSize > 0 ? c.pointSize : inherited.pointSize())
                << name;
            if (c.weight > 0) {
                EXPECT_EQ(f.weight(), c.weight) << name;
            }
            if (c.italic >= 0) {
                EXPECT_EQ(f.italic(), c.italic == 1) << name;
            }
        }
    }
}

TEST_F(FormTest, StyleSheetsByteForByte) {
    const char* menuA = "QPushButton{\npadding-left:10px;\ntext-align : left;\nfont: 11pt;\n"
                        "color:rgb(255, 255, 255);\n}";
    const char* mark = "color:rgb(255, 0, 0) ;\nfont: 75 16pt \"Aharoni\";\n";
    const char* hint = "image: url(:/Global/Resources/Icon/question.png);";
    const char* tool = "QToolButton{\n\t border:none;\n}\nQToolButton::hover{\n\t border:1px solid "
                       "gray;\n\t position:relative;\n     top:10px;\n \t left:10px;\n}";
    const char* grey = "background-color:rgb(186, 186, 185)";
    const std::map<std::string, const char*> sheets = {
        {"w_top", "background-image: url(:/Global/Resources/Bitmap/banner.png);"},
        {"w_left", "background-color:rgb(79, 78, 78);"},
        {"pb_SSL", menuA},
        {"pb_output", menuA},
        {"pb_input", "QPushButton{\npadding-left:10px;\ntext-align : left;\nfont: 11pt;\n"
                     "color:rgb(255, 255, 255);\n}\n"},
        {"pb_IPSec", "QPushButton{\npadding-left:10px;\ntext-align : left; \nfont: 11pt;\n"
                     "color:rgb(255, 255, 255);\n}\n"},
        {"w_menuIPSec", grey},
        {"w_bottom", grey},
        {"pb_ipsecL2TP", "QPushButton{\ntext-align : left;\nborder:0px;\nfont: 10pt ;\n"
                         "color: rgb(255, 255, 255);\n}\n"},
        {"pb_ipsecIPSec", "QPushButton{\ntext-align : left;\nborder:0px;\nfont: 10pt ;\n"
                          "color: rgb(132, 132, 132);\n}\n"},
        {"tb_bestDel", tool},     {"tb_add", tool},        {"tb_routerAdd", tool},
        {"tb_routerDel", tool},   {"label_6", mark},       {"label_7", mark},
        {"label_8", mark},        {"label_14", mark},      {"label_9", mark},
        {"label_10", mark},       {"label_12", mark},      {"label_13", mark},
        {"label_11", mark},       {"l_tunnelModeTip", hint}, {"l_tunnelModeTip_2", hint},
        {"l_tunnelModeTip3", hint}, {"l_gmalgorithmTip4", hint}, {"l_tunnelModeTip2", hint},
    };
    EXPECT_TRUE(dialog.styleSheet().isEmpty());
    for (const Placed& p : kWidgets) {
        const auto it = sheets.find(p.name);
        const QString expected = it != sheets.end() ? QString::fromUtf8(it->second) : QString();
        EXPECT_EQ(Find(&dialog, p.name)->styleSheet(), expected) << p.name;
    }
}

bool SameImage(const QIcon& icon, const QString& path) {
    const QImage want = QPixmap(path).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage got =
        icon.pixmap(want.size()).toImage().convertToFormat(QImage::Format_ARGB32);
    return !want.isNull() && got == want;
}

TEST_F(FormTest, IconsAndTheirSizes) {
    struct Case {
        const char* name;
        QString path;
        QSize size;  // invalid: the class default
    } cases[] = {
        {"pb_SSL", UI_ICON_PROFILE_SSL, {25, 25}},
        {"pb_IPSec", UI_ICON_PROFILE_IPSEC, {25, 25}},
        {"pb_input", UI_ICON_PROFILE_INPUT, {25, 25}},
        {"pb_output", UI_ICON_PROFILE_OUTPUT, {25, 25}},
        {"pb_ipsecL2TP", UI_ICON_PROFILE_REDDOT, {}},
        {"pb_ipsecIPSec", UI_ICON_PROFILE_GRAYDOT, {}},
        {"tb_add", UI_ICON_ADD, {18, 18}},
        {"tb_routerAdd", UI_ICON_ADD, {18, 18}},
        {"tb_bestDel", UI_ICON_DEL, {18, 18}},
        {"tb_routerDel", UI_ICON_DEL, {18, 18}},
    };
    const QSize buttonDefault = QPushButton().iconSize();
    for (const Case& c : cases) {
        auto* button = Find<QAbstractButton>(&dialog, c.name);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(SameImage(button->icon(), c.path)) << c.name;
        EXPECT_EQ(button->iconSize(), c.size.isValid() ? c.size : buttonDefault) << c.name;
    }
    // The pictures keep the sizes the layout was drawn for.
    struct Picture {
        QString path;
        QSize size;
    } pictures[] = {
        {":/Global/Resources/Bitmap/banner.png", {590, 70}}, {UI_ICON_PROFILE_SSL, {33, 33}},
        {UI_ICON_PROFILE_IPSEC, {33, 33}},  {UI_ICON_PROFILE_INPUT, {33, 33}},
        {UI_ICON_PROFILE_OUTPUT, {33, 33}}, {UI_ICON_PROFILE_REDDOT, {6, 6}},
        {UI_ICON_PROFILE_GRAYDOT, {3, 3}},  {UI_ICON_ADD, {50, 50}},
        {UI_ICON_DEL, {50, 50}},            {":/Global/Resources/Icon/question.png", {50, 50}},
    };
    for (const Picture& p : pictures) {
        EXPECT_EQ(QPixmap(p.path).size(), p.size) << p.path.toStdString();
    }
}

// ---- Captions, accessible names, lists ---------------------------------------------------

QString Caption(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    return QString();  // a list: its header titles are checked on their own
}

struct TextRow {
    const char* name;
    const char* caption;     // nullptr: not given (the widget's own empty text)
    const char* accessible;  // nullptr: not given
};

const TextRow kTexts[] = {
    {"pb_SSL", "SSL VPN", ""},
    {"pb_IPSec", "L2TP/IPSec", "L2TP/IPSec"},
    {"pb_input", "导入配置", "导入配置   "},
    {"pb_output", "导出配置", "导出配置   "},
    {"pb_ipsecL2TP", "L2TP设置 ", "L2TP设置"},
    {"pb_ipsecIPSec", "IPSec设置", "IPSec设置"},
    {"tb_bestDel", "-", "-"},
    {"cb_autoBest", "启用自动优选", "启用自动优选"},
    {"pb_SetPriorGateway", "设置默认网关", "设置默认网关"},
    {"Certificate_password", "", "密码："},
    {"label_14", "*", nullptr},
    {"sign_certificate", "", "签名证书："},
    {"pb_sign_certificate", "浏览", nullptr},
    {"pb_sign_clear", "清空", nullptr},
    {"encryption_certificate", "", "加密证书："},
    {"pb_encryption_certificate", "浏览", nullptr},
    {"pb_encrypto_clear", "清空", nullptr},
    {"label_Certificate", "密码", nullptr},
    {"Certificate_file", "", ""},
    {"l_tunnelModeTip_2", "", nullptr},
    {"cb_Certificate", "证书认证", nullptr},
    {"cb_tunnelMode", "可靠传输模式", ""},
    {"l_tunnelModeTip", "", nullptr},
    {"l_tunnelMode", "隧道模式：", nullptr},
    {"l_connectNameSSL", "连接名称：", nullptr},
    {"le_gatewayAddress", nullptr, "远程网关地址："},
    {"label_7", "*", nullptr},
    {"l_port", "端口：", nullptr},
    {"le_port", "443", "端口："},
    {"label_8", "*", nullptr},
    {"tb_add", "+", "+"},
    {"le_connectNameSSL", "", "连接名称："},
    {"label_6", "*", nullptr},
    {"l_descriptionMsgSSL", "描述信息：", nullptr},
    {"l_gatewayAddress", "远程网关地址：", nullptr},
    {"le_descriptionMsgSSL", nullptr, "描述信息："},
    {"cb_routecover", "路由覆盖", nullptr},
    {"l_tunnelModeTip3", "", nullptr},
    {"cb_gmalgorithm", "国密算法", nullptr},
    {"l_gmalgorithmTip4", "", nullptr},
    {"label_3", "国密签名证书", nullptr},
    {"label_4", "国密加密证书", nullptr},
    {"gb_l2tpSetting", "L2TP设置", nullptr},
    {"l_connectNameIPSEC", "连接名称 (&N)：", nullptr},
    {"le_connectNameIPSEC", "", "连接名称："},
    {"label_9", "*", nullptr},
    {"l_descriptionMsgIPSEC", "描述信息 (&D)：", nullptr},
    {"le_descriptionMsgIPSEC", nullptr, "描述信息："},
    {"l_LNSServer", "LNS服务器地址 (&K):", nullptr},
    {"le_LNSServer", nullptr, "LNS服务器地址:"},
    {"label_10", "*", nullptr},
    {"gb_tunnel", "隧道设置", nullptr},
    {"l_tunnelName", "隧道名称 (&M)：", nullptr},
    {"le_tunnelName", nullptr, "隧道名称："},
    {"label_12", "*", nullptr},
    {"l_authMode", "认证模式 (&Q)：", nullptr},
    {"cb_authMode", "PAP", ""},
    {"cb_useTunnel", "启用隧道验证功能 (&I)", "启用隧道验证功能"},
    {"l_tunnelPassword", "隧道验证密码 (&W):", nullptr},
    {"le_tunnelPassword", nullptr, "隧道验证密码："},
    {"label_13", "*", nullptr},
    {"groupBox", "", nullptr},
    {"cb_useIPSEC", "启用IPSEC安全协议", "启用IPSEC安全协议"},
    {"rb_preShareKey", "预设共享密钥", "预设共享密钥"},
    {"rb_digitalSignature", "USBKey 数字签名认证", "USBKey 数字签名认证"},
    {"l_Mac", "(仅支持windows)", nullptr},
    {"l_statusConfirm", "身份验证字：", nullptr},
    {"le_statusConfirm", nullptr, "身份认证字："},
    {"label_11", "*", nullptr},
    {"gb_ipsecSetting", "IPSec设置", nullptr},
    {"l_IPSECServer", "IPSEC服务器地址 (&G)：", nullptr},
    {"le_IPSECServer", nullptr, "IPSEC服务器地址："},
    {"cb_LNSServer", "使用LNS服务器地址 (&Y)", "使用LNS服务器地址"},
    {"l_encapMode", "封装模式：", nullptr},
    {"rb_encapTransferMode", "传输模式", "传输模式"},
    {"rb_encapTunnelMode", "隧道模式", "隧道模式"},
    {"l_tunnelModeTip2", "", nullptr},
    {"l_ESPAuthAlgo", "ESP协议验证算法 (&K)：", nullptr},
    {"cb_ESPAuthAlgo", "MD5", ""},
    {"l_ESPEncryAlgo", "ESP协议加密算法 (&B)：", nullptr},
    {"cb_ESPEncryAlgo", "DES", ""},
    {"gb_ikeSetting", "IKE设置", nullptr},
    {"l_negoMode", "协商模式:", nullptr},
    {"rb_negoMainMode", "主模式 (Z)", "主模式"},
    {"rb_negoBarMode", "野蛮模式 (&Z)", "野蛮模式"},
    {"l_IDType", "ID类型 (&G)：", nullptr},
    {"cb_IDType", "IP", ""},
    {"l_localGatewayName", "本端名字 (&M)：", nullptr},
    {"le_localGatewayName", nullptr, "本端名字："},
    {"l_remoteGatewayName", "安全网关名字 (&Q)：", nullptr},
    {"le_remoteGatewayName", nullptr, "安全网关名字："},
    {"l_authAlgo", "验证算法 (&W)：", nullptr},
    {"cb_authAlgo", "SHA-1", ""},
    {"l_encryAlgo", "加密算法 (&H)：", nullptr},
    {"cb_encryAlgo", "DES-CBC", ""},
    {"l_DHGroup", "DH组标志 (&N)：", nullptr},
    {"cb_DHGroup", "Group1 (768 bit)", ""},
    {"gb_ikeSettingAdvanced", "IKE高级设置", nullptr},
    {"cb_usePFS", "启用P&FS特性", "启用PFS特性"},
    {"l_parameter", "安全参数 (&B)：", nullptr},
    {"cb_parameter", "Group1 (768 bit)", ""},
    {"l_ikeSADuration", "安全联盟生存周期 (&M)：", nullptr},
    {"le_ikeSADuration", "86400", "安全联盟生存周期："},
    {"l_sec3", "秒", nullptr},
    {"label", "范围：60-604800", nullptr},
    {"gb_ipsecSettingAdvanced", "IPSEC高级设置", nullptr},
    {"l_ipsecSADuration", "安全联盟生存周期 (&Q)：", nullptr},
    {"le_ipsecSADuration", "3600", nullptr},
    {"l_sec4", "秒", nullptr},
    {"label_2", "范围：30-604800", nullptr},
    {"gb_router", "路由设置", "路由设置"},
    {"rb_ModeConfig", "Mode Config", "Mode Config"},
    {"rb_HandConfig", "手工配置", "连接成功后允许访问 Internet"},
    {"cb_HandConfig", "手工配置", nullptr},
    {"l_routerDNS", "此连接的DNS后缀 (&H)：", nullptr},
    {"le_routerDNS", nullptr, "此连接的DNS后缀："},
    {"l_routerTip", "访问下列地址时使用 VPN 连接", nullptr},
    {"tw_router", nullptr, "树"},
    {"tb_routerAdd", "+", "+"},
    {"tb_routerDel", "-", "-"},
    {"l_inputProfile", "配置文件：", "配置文件："},
    {"le_inputProfile", nullptr, "配置文件："},
    {"pb_inputProfile", "导入配置", "导入配置"},
    {"pb_cancel", "取消", "取消"},
    {"pb_ok", "确定", "确定"},
    {"pb_save", "保存", "保存"},
};

TEST_F(FormTest, CaptionsAndAccessibleNamesByteForByte) {
    EXPECT_EQ(dialog.windowTitle(), QString("Dialog"));
    for (const TextRow& row : kTexts) {
        QWidget* w = Find(&dialog, row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(Caption(w), QString::fromUtf8(row.caption != nullptr ? row.caption : ""))
            << row.name;
        EXPECT_EQ(w->accessibleName(),
                  QString::fromUtf8(row.accessible != nullptr ? row.accessible : ""))
            << row.name;
        EXPECT_TRUE(w->toolTip().isEmpty()) << row.name;
    }
    EXPECT_EQ(form.tw_serverAddress->headerItem()->text(0), QString("地址"));
    EXPECT_EQ(form.tw_serverAddress->headerItem()->text(1), QString("端口号"));
    EXPECT_EQ(form.tw_router->headerItem()->text(0), QString("     IP地址"));
    EXPECT_EQ(form.tw_router->headerItem()->text(1), QString("子网掩码"));
    EXPECT_TRUE(form.le_tunnelPassword->inputMask().isEmpty());
}

QStringList ItemsOf(QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

TEST_F(FormTest, NineListsEachWithItsFirstItemCurrent) {
    const QStringList groups = {"Group1 (768 bit)", "Group2 (1024 bit)", "Group5 (1536 bit)"};
    struct Case {
        QComboBox* combo;
        QStringList items;
    } cases[] = {
        {form.cb_tunnelMode, {"可靠传输模式", "快速传输模式", "自适应模式"}},
        {form.cb_authMode, {"PAP", "CHAP"}},
        {form.cb_ESPAuthAlgo, {"MD5", "SHA-1", "SHA2-256"}},
        {form.cb_ESPEncryAlgo, {"DES", "3DES", "AES-128", "AES-192", "AES-256"}},
        {form.cb_IDType, {"IP", "Name"}},
        {form.cb_authAlgo, {"SHA-1", "MD5", "SHA2-256"}},
        {form.cb_encryAlgo, {"DES-CBC", "3DES-CBC", "AES-128", "AES-192", "AES-256"}},
        {form.cb_DHGroup, groups},
        {form.cb_parameter, groups},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ItemsOf(c.combo), c.items) << c.combo->objectName().toStdString();
        EXPECT_EQ(c.combo->currentIndex(), 0) << c.combo->objectName().toStdString();
    }
    EXPECT_EQ(form.le_port->text(), QString("443"));
    EXPECT_EQ(form.le_ikeSADuration->text(), QString("86400"));
    EXPECT_EQ(form.le_ipsecSADuration->text(), QString("3600"));
}

TEST_F(FormTest, BuddiesAndNoOthers) {
    const std::map<std::string, std::string> buddies = {
        {"l_tunnelMode", "cb_tunnelMode"},
        {"l_connectNameSSL", "le_connectNameSSL"},
        {"l_port", "le_port"},
        {"l_descriptionMsgSSL", "le_descriptionMsgSSL"},
        {"l_gatewayAddress", "le_gatewayAddress"},
        {"l_connectNameIPSEC", "le_connectNameIPSEC"},
        {"l_descriptionMsgIPSEC", "le_descriptionMsgIPSEC"},
        {"l_LNSServer", "le_LNSServer"},
        {"l_tunnelName", "le_tunnelName"},
        {"l_authMode", "cb_authMode"},
        {"l_tunnelPassword", "le_tunnelPassword"},
        {"l_statusConfirm", "le_statusConfirm"},
        {"l_IPSECServer", "le_IPSECServer"},
        {"l_ESPAuthAlgo", "cb_ESPAuthAlgo"},
        {"l_ESPEncryAlgo", "cb_ESPEncryAlgo"},
        {"l_IDType", "cb_IDType"},
        {"l_localGatewayName", "le_localGatewayName"},
        {"l_remoteGatewayName", "le_remoteGatewayName"},
        {"l_authAlgo", "cb_authAlgo"},
        {"l_encryAlgo", "cb_encryAlgo"},
        {"l_DHGroup", "cb_DHGroup"},
        {"l_parameter", "cb_parameter"},
        {"l_ikeSADuration", "le_ikeSADuration"},
        {"l_ipsecSADuration", "le_ipsecSADuration"},
        {"l_routerDNS", "le_routerDNS"},
        {"l_inputProfile", "le_inputProfile"},
    };
    ASSERT_EQ(buddies.size(), 26u);
    const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    EXPECT_EQ(labels.size(), 51);
    for (QLabel* label : labels) {
        const auto it = buddies.find(label->objectName().toStdString());
        QWidget* buddy = label->buddy();
        if (it == buddies.end()) {
            EXPECT_EQ(buddy, nullptr) << label->objectName().toStdString();
        } else {
            ASSERT_NE(buddy, nullptr) << it->first;
            EXPECT_EQ(buddy->objectName().toStdString(), it->second);
        }
    }
}

TEST_F(FormTest, TabChainOrderAndTabAcrossPages) {
    const char* order[] = {
        "pb_IPSec", "pb_input", "pb_output", "le_connectNameSSL", "le_descriptionMsgSSL",
        "le_gatewayAddress", "le_port", "tb_add", "cb_autoBest", "tw_serverAddress", "tb_bestDel",
        "cb_tunnelMode", "le_connectNameIPSEC", "le_descriptionMsgIPSEC", "le_LNSServer",
        "le_tunnelName", "cb_authMode", "cb_useTunnel", "le_tunnelPassword", "le_routerDNS",
        "tw_router", "tb_routerAdd", "tb_routerDel", "le_IPSECServer", "cb_LNSServer",
        "cb_ESPAuthAlgo", "cb_ESPEncryAlgo", "rb_negoMainMode", "rb_negoBarMode", "cb_IDType",
        "le_localGatewayName", "le_remoteGatewayName", "cb_encryAlgo", "cb_authAlgo",
        "cb_DHGroup", "cb_usePFS", "cb_parameter", "le_ikeSADuration", "le_ipsecSADuration",
        "le_inputProfile", "scrollArea_ipsec", "pb_save", "pb_cancel"};
    ASSERT_EQ(std::size(order), 43u);  // 42 pairs
    // Each named widget follows the one before it in the focus chain.
    std::map<QWidget*, int> position;
    QWidget* start = form.pb_IPSec;
    QWidget* w = start;
    int i = 0;
    do {
        position.emplace(w, i++);
        w = w->nextInFocusChain();
    } while (w != start && i < 10000);
    for (size_t k = 1; k < std::size(order); ++k) {
        QWidget* before = Find(&dialog, order[k - 1]);
        QWidget* after = Find(&dialog, order[k]);
        ASSERT_TRUE(position.count(before) && position.count(after));
        EXPECT_LT(position[before], position[after]) << order[k - 1] << " -> " << order[k];
    }

    // Shown and active: Tab skips the widgets of hidden pages and disabled fields.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    struct Case {
        int page;
        QWidget* next;
    } cases[] = {{0, form.le_connectNameSSL}, {1, form.le_connectNameIPSEC}};
    for (const Case& c : cases) {
        form.stackedWidget->setCurrentIndex(c.page);
        form.pb_output->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), form.pb_output);
        QTest::keyClick(form.pb_output, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), c.next) << "page " << c.page;
    }
    // On the L2TP/IPSec page Tab from the tunnel switch passes the disabled password.
    form.cb_useTunnel->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form.cb_useTunnel, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.le_routerDNS);
}

// A dialog with the form's by-name slots, each counting its calls.
class ByNameProbe : public QDialog {
    Q_OBJECT

public:
    std::map<std::string, int> calls;

public slots:
    void on_rb_ModeConfig_clicked() { ++calls["on_rb_ModeConfig_clicked"]; }
    void on_rb_HandConfig_clicked() { ++calls["on_rb_HandConfig_clicked"]; }
    void on_pb_SetPriorGateway_clicked() { ++calls["on_pb_SetPriorGateway_clicked"]; }
    void on_cb_LNSServer_stateChanged(int) { ++calls["on_cb_LNSServer_stateChanged"]; }
    void on_le_tunnelPassword_textEdited(QString) { ++calls["on_le_tunnelPassword_textEdited"]; }
    void on_le_statusConfirm_textEdited(QString) { ++calls["on_le_statusConfirm_textEdited"]; }
    void on_le_connectNameSSL_textChanged(QString) { ++calls["on_le_connectNameSSL_textChanged"]; }
    void on_le_connectNameIPSEC_textChanged(QString) {
        ++calls["on_le_connectNameIPSEC_textChanged"];
    }
    void on_le_descriptionMsgSSL_textChanged(QString) {
        ++calls["on_le_descriptionMsgSSL_textChanged"];
    }
    void on_le_descriptionMsgIPSEC_textChanged(QString) {
        ++calls["on_le_descriptionMsgIPSEC_textChanged"];
    }
    void on_le_localGatewayName_textChanged(QString) {
        ++calls["on_le_localGatewayName_textChanged"];
    }
    void on_le_remoteGatewayName_textChanged(QString) {
        ++calls["on_le_remoteGatewayName_textChanged"];
    }
};

TEST(ProfileForm, TwelveByNameSlotsEachGetTheirSignalOnce) {
    ByNameProbe probe;
    Ui_ProfileInfoUI form;
    form.setupUi(&probe);
    EXPECT_TRUE(probe.calls.empty()) << "no slot runs while the form is built";
    form.rb_ModeConfig->click();
    form.rb_HandConfig->click();
    form.pb_SetPriorGateway->click();
    form.cb_LNSServer->setChecked(true);
    emit form.le_tunnelPassword->textEdited(QStringLiteral("x"));
    emit form.le_statusConfirm->textEdited(QStringLiteral("x"));
    form.le_connectNameSSL->setText(QStringLiteral("x"));
    form.le_connectNameIPSEC->setText(QStringLiteral("x"));
    form.le_descriptionMsgSSL->setText(QStringLiteral("x"));
    form.le_descriptionMsgIPSEC->setText(QStringLiteral("x"));
    form.le_localGatewayName->setText(QStringLiteral("x"));
    form.le_remoteGatewayName->setText(QStringLiteral("x"));
    ASSERT_EQ(probe.calls.size(), 12u);
    for (const auto& call : probe.calls) {
        EXPECT_EQ(call.second, 1) << call.first;
    }
}

TEST(ProfileForm, ObjectNameOnlyWhenNoneIsSet) {
    QDialog named;
    named.setObjectName(QStringLiteral("mine"));
    Ui_ProfileInfoUI form;
    form.setupUi(&named);
    EXPECT_EQ(named.objectName(), QString("mine"));
    ProfileInfoUI dialog(nullptr);
    EXPECT_EQ(dialog.objectName(), QString("basewidget"));
}


// ---- The dialog ------------------------------------------------------------------------

const QString kMenuCurrent = QStringLiteral(
    "QPushButton{padding-left:10px;text-align : left;font: 11pt;color:rgb(255, 255, 255);"
    "background-color:rgb(194, 34, 51)}QPushButton:hover{color:0px; background-color:rgb(211, "
    "36, 57)}QPushButton:pressed{color:0px; background-color:rgb(211, 36, 57)}");
const QString kMenuOther = QStringLiteral(
    "QPushButton{padding-left:10px;text-align : left;font: 11pt;color:rgb(255, 255, 255);"
    "background-color:rgb(79, 78, 78)}QPushButton:hover{color:0px; background-color:rgb(211, "
    "36, 57)}QPushButton:pressed{color:0px; background-color:rgb(211, 36, 57)}");
const QString kSubCurrent = QStringLiteral(
    "QPushButton{text-align : left; border:0px; font: 10pt; color: rgb(255, 255, 255); }");
const QString kSubOther = QStringLiteral(
    "QPushButton{text-align : left; border:0px; font: 10pt; color: rgb(79, 78, 78); }");
const QString kSubOff = QStringLiteral(
    "QPushButton{text-align : left; border:0px; font: 10pt; color: rgb(132, 132, 132); }");

Ui_ProfileInfoUI* F(ProfileInfoUI& dialog) { return ProfileInfoUITestPeer::Form(dialog); }
ProfileInfoUIPrivate* D(ProfileInfoUI& dialog) { return ProfileInfoUITestPeer::Private(dialog); }

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UIContext* context = UIContext::GetInstance();
        context->SetPluginMode(0);
        context->SetSystemType(2);
        context->SetConnectName(QString());
        context->SetLinkType(LINK_TYPE_NONE);
        context->SetLogined(false);
        context->SetNewConnect(true);
        context->SetResourceDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        context->SetInstallDir(QStringLiteral(VT_TEST_RUNTIME_DIR));
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    }
    void TearDown() override {
        UIContext::GetInstance()->SetPluginMode(0);
        UIContext::GetInstance()->SetLogined(false);
        uiSyncTimeoutDivisorSet(1);
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
    }
    // A dialog built and initialised as the main window does it.
    static std::unique_ptr<ProfileInfoUI> Open() {
        auto dialog = std::make_unique<ProfileInfoUI>(nullptr);
        dialog->Init();
        return dialog;
    }
    // Shows the dialog as the user would see it; the box driver records it and leaves it
    // open.
    void ShowLaidOut(QWidget& dialog) {
        driver.AnswerLetEnd();
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QApplication::processEvents();
    }
    BoxDriver driver;
};

TEST(ProfilePrivate, StartsEmpty) {
    ProfileInfoUIPrivate d;
    EXPECT_EQ(d.ipsecScrollMark, -1);
    EXPECT_TRUE(d.profileFileName.isEmpty());
    for (const QString* style : {&d.menuStyleCurrent, &d.menuStyleOther, &d.subMenuStyleCurrent,
                                 &d.subMenuStyleOther, &d.subMenuStyleDisabled}) {
        EXPECT_TRUE(style->isEmpty());
    }
    for (QPixmap* icon : {d.sslIcon, d.ipsecIcon, d.inputIcon, d.outputIcon, d.redDotIcon,
                          d.grayDotIcon}) {
        EXPECT_EQ(icon, nullptr);
    }
    EXPECT_FALSE(d.tunnelPasswordEdited);
    EXPECT_FALSE(d.preSharedKeyEdited);
    EXPECT_EQ(d.defaultGatewayIndex, -1);
    for (const QString* last :
         {&d.lastAcceptedConnectNameSSL, &d.lastAcceptedConnectNameIPSEC,
          &d.lastAcceptedDescriptionMsgSSL, &d.lastAcceptedDescriptionMsgIPSEC,
          &d.lastAcceptedLocalGatewayName, &d.lastAcceptedRemoteGatewayName,
          &d.lastAcceptedTunnelName, &d.lastAcceptedTunnelPassword,
          &d.lastAcceptedStatusConfirm}) {
        EXPECT_TRUE(last->isEmpty());
    }
}

TEST_F(DialogTest, ConstructionSetsTheRecordAndLeavesNoLeak) {
    UIContext::GetInstance()->SetConnectName(QStringLiteral("Office"));
    for (int round = 0; round < 2; ++round) {
        ProfileInfoUI dialog(nullptr);
        ProfileInfoUIPrivate* d = D(dialog);
        EXPECT_EQ(d->ipsecScrollMark, 0);
        EXPECT_EQ(d->profileFileName, QString("Office.ini"));
        EXPECT_FALSE(d->tunnelPasswordEdited);
        EXPECT_FALSE(d->preSharedKeyEdited);
        EXPECT_EQ(d->defaultGatewayIndex, -1);
        struct Icon {
            QPixmap* pixmap;
            QString path;
        } icons[] = {{d->sslIcon, UI_ICON_PROFILE_SSL},       {d->ipsecIcon, UI_ICON_PROFILE_IPSEC},
                     {d->inputIcon, UI_ICON_PROFILE_INPUT},   {d->outputIcon, UI_ICON_PROFILE_OUTPUT},
                     {d->redDotIcon, UI_ICON_PROFILE_REDDOT}, {d->grayDotIcon, UI_ICON_PROFILE_GRAYDOT}};
        for (const Icon& icon : icons) {
            ASSERT_NE(icon.pixmap, nullptr) << icon.path.toStdString();
            EXPECT_EQ(icon.pixmap->toImage(), QPixmap(icon.path).toImage()) << icon.path.toStdString();
        }
        // Routes are entered by hand only: mode and DNS suffix never show; the list waits.
        Ui_ProfileInfoUI* f = F(dialog);
        EXPECT_TRUE(f->l_routerDNS->isHidden() && f->le_routerDNS->isHidden() &&
                    f->w_RouteMode->isHidden());
        for (QWidget* w : {static_cast<QWidget*>(f->l_routerTip), static_cast<QWidget*>(f->tw_router),
                           static_cast<QWidget*>(f->tb_routerAdd),
                           static_cast<QWidget*>(f->tb_routerDel)}) {
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        }
    }
#ifdef VT_TEST_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "a dialog left memory behind";
#endif
}

TEST_F(DialogTest, MetaObjectHasTheFiftyThreeMethodsInOrder) {
    const char* methods[] = {
        "signal_newconnect(QString,LINK_TYPE)",
        "signal_sendNewConnect(QString,QString,LINK_TYPE)",
        "ProfileInfoUI_MenuSSL_Click()",
        "ProfileInfoUI_MenuIPSec_Click()",
        "ProfileInfoUI_MenuInput_Click()",
        "ProfileInfoUI_MenuOutput_Click()",
        "ProfileInfoUI_IPSecL2TPSetting_Click()",
        "ProfileInfoUI_IPSecIPSecSetting_Click()",
        "ProfileInfoUI_ScrollIPSec_Changed(int)",
        "ProfileInfoUI_sign_certificate_select()",
        "ProfileInfoUI_encryption_certificate_select()",
        "ProfileInfoUI_Gmalgorithm_Click()",
        "ProfileInfoUI_sign_certificate_clear()",
        "ProfileInfoUI_encrypto_certificate_clear()",
        "ProfileInfoUI_GmSSL_Status_Set(bool)",
        "ProfileInfoUI_BestAdd_Click()",
        "ProfileInfoUI_SSLConnect_DelServer()",
        "ProfileInfoUI_SSLConnect_AddServer(QString,QString)",
        "ProfileInfoUI_NewVPNNetwork_Show()",
        "ProfileInfoUI_IPSECConnect_DelIP()",
        "ProfileInfoUI_IPSECConnect_AddIP(QString,QString)",
        "ProfileInfoUI_IPSec_Use()",
        "ProfileInfoUI_Tunnel_Use()",
        "ProfileInfoUI_autoBest()",
        "ProfileInfoUI_Router_Use()",
        "on_rb_ModeConfig_clicked()",
        "on_rb_HandConfig_clicked()",
        "ProfileInfoUI_PreSharedKey_Use()",
        "ProfileInfoUI_USBKey_Use()",
        "ProfileInfoUI_IKEPFS_Use()",
        "ProfileInfoUI_SSLConnectName_Set(QString)",
        "ProfileInfoUI_IpsecConnectName_Set(QString)",
        "ProfileInfoUI_SSLConnect_WriteInit(QString)",
        "ProfileInfoUI_IPSECConnect_WriteInit(QString)",
        "ProfileInfoUI_Connect_ReadInit(QString)",
        "ProfileInfoUI_Connect_Create()",
        "ProfileInfoUI_Connect_Save()",
        "ProfileInfoUI_IPSec_MainMode_Choice()",
        "ProfileInfoUI_IPSec_AggressiveMode_Choice()",
        "ProfileInfoUI_IPSec_ID_Choice(int)",
        "ProfileInfoUI_Profile_Input()",
        "on_le_tunnelPassword_textEdited(QString)",
        "on_le_statusConfirm_textEdited(QString)",
        "on_pb_SetPriorGateway_clicked()",
        "on_cb_LNSServer_stateChanged(int)",
        "on_le_connectNameSSL_textChanged(QString)",
        "on_le_connectNameIPSEC_textChanged(QString)",
        "on_le_descriptionMsgSSL_textChanged(QString)",
        "on_le_descriptionMsgIPSEC_textChanged(QString)",
        "on_le_localGatewayName_textChanged(QString)",
        "on_le_remoteGatewayName_textChanged(QString)",
        "ProfileInfoUI_Set_Savebtn(bool)",
        "ProfileInfoUI_Set_OKbtn(bool)",
    };
    const QMetaObject& meta = ProfileInfoUI::staticMetaObject;
    EXPECT_STREQ(meta.superClass()->className(), "basewidget");
    ASSERT_EQ(meta.methodCount() - meta.methodOffset(), int(std::size(methods)));
    for (int i = 0; i < int(std::size(methods)); ++i) {
        const QMetaMethod m = meta.method(meta.methodOffset() + i);
        EXPECT_EQ(m.methodSignature().toStdString(), methods[i]) << "index " << i;
        EXPECT_EQ(m.methodType(), i < 2 ? QMetaMethod::Signal : QMetaMethod::Slot) << methods[i];
        EXPECT_EQ(m.access(), QMetaMethod::Public) << methods[i];
    }
}

TEST_F(DialogTest, NewProfileOpensOnTheSSLPage) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    ProfileInfoUIPrivate* d = D(*dialog);
    ShowLaidOut(*dialog);
    EXPECT_EQ(f->stackedWidget->currentIndex(), 0);
    EXPECT_TRUE(f->pb_ok->isVisible());
    EXPECT_FALSE(f->pb_save->isVisible());
    EXPECT_FALSE(f->pb_output->isVisible());
    EXPECT_FALSE(f->w_menuIPSec->isVisible());
    EXPECT_TRUE(f->le_connectNameSSL->isEnabled());
    EXPECT_TRUE(f->le_connectNameIPSEC->isEnabled());

    // The choices a new profile starts with.
    EXPECT_EQ(f->cb_ESPAuthAlgo->currentText(), QString("SHA2-256"));
    EXPECT_EQ(f->cb_ESPEncryAlgo->currentText(), QString("AES-256"));
    EXPECT_EQ(f->cb_DHGroup->currentText(), QString("Group5 (1536 bit)"));
    EXPECT_EQ(f->cb_authAlgo->currentText(), QString("SHA2-256"));
    EXPECT_EQ(f->cb_encryAlgo->currentText(), QString("AES-256"));
    EXPECT_EQ(f->cb_tunnelMode->currentIndex(), 2);
    EXPECT_TRUE(f->rb_encapTransferMode->isChecked());
    EXPECT_FALSE(f->rb_encapTunnelMode->isChecked());
    EXPECT_TRUE(f->cb_LNSServer->isChecked());
    EXPECT_EQ(f->tw_serverAddress->selectionMode(), QAbstractItemView::ExtendedSelection);
    // Banner and body fill the dialog; the bottom bar and its buttons are not cut.
    EXPECT_EQ(f->w_profile->y(), f->w_top->geometry().bottom() + 1);
    EXPECT_EQ(f->w_profile->geometry().bottom(), dialog->height() - 1);
    const QRect ok(f->pb_ok->mapTo(dialog.get(), QPoint(0, 0)), f->pb_ok->size());
    EXPECT_TRUE(dialog->rect().contains(ok)) << ok.y() << "+" << ok.height();
    EXPECT_EQ(f->pb_ok->height(), f->pb_ok->sizeHint().height());
    EXPECT_EQ(f->l_statusConfirm->text(),
              LanguageSetting::GetInstance()->GetValue(
                  "/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_STATUSCONFIRM"));

    // IPSec starts off; the GM, route-cover and certificate rows are not shown.
    EXPECT_TRUE(f->w_best->isHidden());
    EXPECT_TRUE(f->w_ipsec->isHidden());
    EXPECT_FALSE(f->w_ipsecEnable->isEnabled());
    for (const char* name :
         {"label_3", "label_4", "sign_certificate", "pb_sign_certificate", "pb_sign_clear",
          "encryption_certificate", "pb_encryption_certificate", "pb_encrypto_clear",
          "cb_routecover", "l_tunnelModeTip3", "cb_Certificate", "Certificate_file",
          "l_tunnelModeTip_2", "label_Certificate", "Certificate_password", "label_14"}) {
        EXPECT_TRUE(Find(dialog.get(), name)->isHidden()) << name;
    }
    EXPECT_FALSE(f->cb_gmalgorithm->isHidden());

    // Menu looks: the SSL entry is current; the sub-menu starts on L2TP with IPSec off.
    EXPECT_EQ(d->menuStyleCurrent, kMenuCurrent);
    EXPECT_EQ(d->menuStyleOther, kMenuOther);
    EXPECT_EQ(d->subMenuStyleCurrent, kSubCurrent);
    EXPECT_EQ(d->subMenuStyleOther, kSubOther);
    EXPECT_EQ(d->subMenuStyleDisabled, kSubOff);
    EXPECT_EQ(f->pb_SSL->styleSheet(), kMenuCurrent);
    for (QPushButton* other : {f->pb_IPSec, f->pb_input, f->pb_output}) {
        EXPECT_EQ(other->styleSheet(), kMenuOther) << other->objectName().toStdString();
    }
    EXPECT_EQ(f->pb_ipsecL2TP->styleSheet(), kSubCurrent);
    EXPECT_EQ(f->pb_ipsecIPSec->styleSheet(), kSubOff);
    EXPECT_TRUE(SameImage(f->pb_SSL->icon(), UI_ICON_PROFILE_SSL));
    EXPECT_TRUE(SameImage(f->pb_IPSec->icon(), UI_ICON_PROFILE_IPSEC));
    EXPECT_TRUE(SameImage(f->pb_input->icon(), UI_ICON_PROFILE_INPUT));
    EXPECT_TRUE(SameImage(f->pb_output->icon(), UI_ICON_PROFILE_OUTPUT));

    // The name names the file, and the other page's name follows.
    ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_connectNameSSL", "abc"));
    EXPECT_EQ(f->le_connectNameIPSEC->text(), QString("abc"));
    EXPECT_EQ(d->profileFileName, QString("abc.ini"));

    dialog->ProfileInfoUI_Set_OKbtn(false);
    EXPECT_FALSE(f->pb_ok->isEnabled());
    dialog->ProfileInfoUI_Set_OKbtn(true);
    EXPECT_TRUE(f->pb_ok->isEnabled());
    f->pb_cancel->click();
    EXPECT_FALSE(dialog->isVisible());
}

// The entries below the sub-menu move with it at once, and the layout places them the
// same way once it has run.
TEST_F(DialogTest, SubMenuShowsOnceAndTheImportEntryMovesBack) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    ShowLaidOut(*dialog);
    const int underIPSec = f->pb_IPSec->geometry().bottom() + 1;
    ASSERT_EQ(f->pb_input->y(), underIPSec);

    f->pb_IPSec->click();
    EXPECT_EQ(f->stackedWidget->currentIndex(), 1);
    EXPECT_EQ(f->pb_IPSec->styleSheet(), kMenuCurrent);
    EXPECT_EQ(f->pb_SSL->styleSheet(), kMenuOther);
    QApplication::processEvents();
    ASSERT_TRUE(f->w_menuIPSec->isVisible());
    const int underMenu = f->w_menuIPSec->geometry().bottom() + 1;
    EXPECT_EQ(f->w_menuIPSec->y(), underIPSec);
    EXPECT_EQ(f->pb_input->y(), underMenu);

    f->pb_IPSec->click();  // finds the sub-menu visible: nothing moves
    EXPECT_EQ(f->pb_input->y(), underMenu);
    QApplication::processEvents();
    EXPECT_EQ(f->pb_input->y(), underMenu);

    f->pb_input->click();
    EXPECT_EQ(f->stackedWidget->currentIndex(), 2);
    EXPECT_FALSE(f->w_menuIPSec->isVisible());
    EXPECT_EQ(f->pb_input->y(), underIPSec);
    QApplication::processEvents();
    EXPECT_EQ(f->pb_input->y(), underIPSec);
    EXPECT_EQ(f->pb_input->styleSheet(), kMenuCurrent);
    EXPECT_EQ(f->pb_IPSec->styleSheet(), kMenuOther);

    // Back and forth through the SSL entry, which hides the sub-menu too.
    f->pb_IPSec->click();
    QApplication::processEvents();
    f->pb_SSL->click();
    QApplication::processEvents();
    EXPECT_EQ(f->stackedWidget->currentIndex(), 0);
    EXPECT_FALSE(f->w_menuIPSec->isVisible());
    EXPECT_EQ(f->pb_input->y(), underIPSec);
}

void ExpectSubMenu(Ui_ProfileInfoUI* f, bool ipsecCurrent) {
    EXPECT_EQ(f->pb_ipsecIPSec->styleSheet(), ipsecCurrent ? kSubCurrent : kSubOther);
    EXPECT_EQ(f->pb_ipsecL2TP->styleSheet(), ipsecCurrent ? kSubOther : kSubCurrent);
    EXPECT_TRUE(SameImage(f->pb_ipsecIPSec->icon(),
                          ipsecCurrent ? UI_ICON_PROFILE_REDDOT : UI_ICON_PROFILE_GRAYDOT));
    EXPECT_TRUE(SameImage(f->pb_ipsecL2TP->icon(),
                          ipsecCurrent ? UI_ICON_PROFILE_GRAYDOT : UI_ICON_PROFILE_REDDOT));
}

TEST_F(DialogTest, SubMenuFollowsTheScrollAcrossTheIPSecBoundary) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    ShowLaidOut(*dialog);
    f->pb_IPSec->click();
    // What switching IPSec on will do (built with the IPSec choices).
    f->cb_useIPSEC->setChecked(true);
    f->w_ipsec->show();
    f->pb_ipsecIPSec->setEnabled(true);
    QApplication::processEvents();
    QScrollBar* bar = f->scrollArea_ipsec->verticalScrollBar();
    const int boundary = f->groupBox->y() + f->groupBox->height() + 5;
    ASSERT_GT(boundary, 5);
    ASSERT_GE(bar->maximum(), boundary);

    bar->setValue(boundary - 1);
    EXPECT_EQ(f->pb_ipsecL2TP->styleSheet(), kSubCurrent) << "below the boundary";
    bar->setValue(boundary);
    ExpectSubMenu(f, true);
    bar->setValue(bar->maximum());
    ExpectSubMenu(f, true);
    bar->setValue(boundary - 1);
    ExpectSubMenu(f, false);
    bar->setValue(0);
    ExpectSubMenu(f, false);

    f->pb_ipsecIPSec->click();
    EXPECT_EQ(bar->value(), boundary);
    ExpectSubMenu(f, true);
    f->pb_ipsecL2TP->click();
    EXPECT_EQ(bar->value(), 0);
    ExpectSubMenu(f, false);

    // With IPSec off, scrolling leaves the highlight alone, and the IPSec entry looks off.
    f->cb_useIPSEC->setChecked(false);
    const int mark = D(*dialog)->ipsecScrollMark;
    bar->setValue(boundary);
    EXPECT_EQ(f->pb_ipsecL2TP->styleSheet(), kSubCurrent);
    EXPECT_EQ(D(*dialog)->ipsecScrollMark, mark);
    f->pb_ipsecL2TP->click();
    EXPECT_EQ(f->pb_ipsecIPSec->styleSheet(), kSubOff);
    EXPECT_TRUE(SameImage(f->pb_ipsecIPSec->icon(), UI_ICON_PROFILE_GRAYDOT));
}

// ---- Edit mode against the simulator -----------------------------------------------------

// Profile requests (message type 9) with this code that name the profile.
size_t ProfileRequests(ui_test::SimLink& link, uint32_t code, const char* name) {
    size_t count = 0;
    for (const rapidjson::Document& line : link.sim().Log()) {
        if (line.HasMember("head") && line["head"]["msgType"].GetUint() == 9 &&
            line["head"]["code"].GetUint() == code && line.HasMember("text") &&
            line["text"].IsString() && std::string(line["text"].GetString()) == name) {
            ++count;
        }
    }
    return count;
}

size_t SpecifyRequests(ui_test::SimLink& link, const char* name) {
    return ProfileRequests(link, 11, name);
}

// Reads of an SSL VPN profile.
size_t ReadRequests(ui_test::SimLink& link, const char* name) {
    return ProfileRequests(link, 6, name);
}

void OpenOn(const char* name, LINK_TYPE type) {
    UIContext* context = UIContext::GetInstance();
    context->SetNewConnect(false);
    context->SetConnectName(QString::fromUtf8(name));
    context->SetLinkType(type);
}

TEST_F(DialogTest, EditOfAnSSLProfileShowsOnlyItsPage) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(DDM_LogLevelSet(DDM_LOG_DEBUG), 0u);
    OpenOn("Office", LINK_TYPE_SSL);
    const std::string nameLine = "[ProfileInfo ui set link name state][linkName :Office]";
    const size_t names = ui_test::LogCount(nameLine);
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    EXPECT_EQ(SpecifyRequests(link, "Office.ini"), 1u);
    EXPECT_EQ(ui_test::LogCount(nameLine), names + 1);
    EXPECT_EQ(ReadRequests(link, "Office.ini"), 1u);
    EXPECT_EQ(f->le_connectNameSSL->text(), QString("Office"));
    EXPECT_FALSE(f->le_connectNameSSL->isEnabled());
    // Put in while the form's L2TP/IPSec page is in view: the twin does not follow.
    EXPECT_TRUE(f->le_connectNameIPSEC->text().isEmpty());
    EXPECT_EQ(dialog->windowTitle(),
              LanguageSetting::GetInstance()->GetValue("/UI_PROFILEINFO/UI_PROFILEINFO_TITLE_NOCREATE"));
    EXPECT_TRUE(driver.Seen().empty());

    ShowLaidOut(*dialog);
    EXPECT_EQ(f->stackedWidget->currentIndex(), 0);
    EXPECT_TRUE(f->pb_IPSec->isHidden());
    EXPECT_TRUE(f->w_menuIPSec->isHidden());
    EXPECT_TRUE(f->pb_input->isHidden());
    EXPECT_TRUE(f->pb_output->isVisible());
    EXPECT_EQ(f->pb_output->y(), f->pb_SSL->geometry().bottom() + 1);
    EXPECT_EQ(f->pb_output->styleSheet(), kMenuOther);
    EXPECT_EQ(f->pb_SSL->styleSheet(), kMenuCurrent);
    EXPECT_TRUE(f->pb_save->isVisible());
    EXPECT_TRUE(f->pb_save->isEnabled());
    EXPECT_FALSE(f->pb_ok->isVisible());
}

TEST_F(DialogTest, EditOfAnIPSecProfileShowsItsPageWithTheSubMenu) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    OpenOn("Branch", LINK_TYPE_IPSEC);
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    EXPECT_EQ(SpecifyRequests(link, "Branch.ini"), 1u);
    EXPECT_EQ(f->le_connectNameIPSEC->text(), QString("Branch"));
    EXPECT_FALSE(f->le_connectNameIPSEC->isEnabled());
    // The form's L2TP/IPSec page is in view while the name is put in: its twin follows.
    EXPECT_EQ(f->le_connectNameSSL->text(), QString("Branch"));
    EXPECT_TRUE(driver.Seen().empty());

    ShowLaidOut(*dialog);
    EXPECT_EQ(f->stackedWidget->currentIndex(), 1);
    EXPECT_TRUE(f->pb_SSL->isHidden());
    EXPECT_TRUE(f->pb_input->isHidden());
    EXPECT_EQ(f->pb_IPSec->y(), 0);
    EXPECT_TRUE(f->w_menuIPSec->isVisible());
    EXPECT_EQ(f->w_menuIPSec->y(), f->pb_IPSec->geometry().bottom() + 1);
    EXPECT_EQ(f->pb_output->y(), f->w_menuIPSec->geometry().bottom() + 1);
    EXPECT_EQ(f->pb_IPSec->styleSheet(), kMenuCurrent);
}

// Logged in, save waits for the main window's word that the connection is down.
TEST_F(DialogTest, SaveFollowsTheMainWindowWhileLoggedIn) {
    ui_test::SimLink link(R"("config": {"LastAccessSession": "Office.ini"})");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_TRUE(UISystemProfile::GetInstance()->Read());
    MainUI window(nullptr);
    window.Init();
    UIContext::GetInstance()->SetLogined(true);
    bool checked = false;
    driver.AnswerWith([&](QWidget* box) {
        auto* dialog = qobject_cast<ProfileInfoUI*>(box);
        ASSERT_NE(dialog, nullptr);
        QPushButton* save = F(*dialog)->pb_save;
        EXPECT_TRUE(save->isVisible());
        EXPECT_FALSE(save->isEnabled());
        emit window.signal_Set_Savebtn(true);
        EXPECT_TRUE(save->isEnabled());
        emit window.signal_Set_Savebtn(false);
        EXPECT_FALSE(save->isEnabled());
        checked = true;
        EXPECT_TRUE(BoxDriver::ClickButton(dialog, "pb_cancel"));
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(&window, "MainUI_ProfileDetail_Show"));
    EXPECT_TRUE(checked);
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].className, QString("ProfileInfoUI"));
}

TEST_F(DialogTest, UnansweredKindQueryOpensOnTheSSLPageWithSave) {
    struct Case {
        int pluginMode;
        size_t boxes;
    } cases[] = {{0, 1}, {1, 0}};
    for (const Case& c : cases) {
        ui_test::SimLink link(R"("scripts": [{"msgType": 9, "code": 11,
                                              "replies": [{"noReply": true}]}])");
        ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
        uiSyncTimeoutDivisorSet(200);  // 40 s become 200 ms
        UIContext::GetInstance()->SetPluginMode(c.pluginMode);
        OpenOn("Office", LINK_TYPE_SSL);
        driver.Clear();
        if (c.boxes != 0) {
            driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
        }
        auto dialog = Open();
        Ui_ProfileInfoUI* f = F(*dialog);
        ASSERT_EQ(driver.Seen().size(), c.boxes) << "plugin mode " << c.pluginMode;
        if (c.boxes != 0) {
            EXPECT_EQ(driver.Seen()[0].text, LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
            EXPECT_EQ(driver.Seen()[0].icon, int(QMessageBox::Warning));
        }
        EXPECT_EQ(ReadRequests(link, "Office.ini"), 0u);
        ShowLaidOut(*dialog);
        EXPECT_EQ(f->stackedWidget->currentIndex(), 0);
        EXPECT_TRUE(f->pb_save->isVisible());
        EXPECT_FALSE(f->pb_ok->isVisible());
        for (QWidget* entry : {static_cast<QWidget*>(f->pb_SSL), static_cast<QWidget*>(f->pb_IPSec),
                               static_cast<QWidget*>(f->pb_input),
                               static_cast<QWidget*>(f->pb_output)}) {
            EXPECT_TRUE(entry->isVisible()) << entry->objectName().toStdString();
        }
        UIContext::GetInstance()->SetPluginMode(0);
    }
}

TEST_F(DialogTest, UnknownProfileShowsTheServiceRefusal) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    OpenOn("Nobody", LINK_TYPE_SSL);
    driver.Answer(LanguageSetting::GetInstance()->GetGlobalLang().OK);
    auto dialog = Open();
    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].text,
              LanguageSetting::GetInstance()->GetValue(
                  "/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_SPECIFY_FAIL"));
    EXPECT_FALSE(driver.Seen()[0].text.isEmpty());
    EXPECT_EQ(F(*dialog)->stackedWidget->currentIndex(), 0);
    EXPECT_EQ(ReadRequests(link, "Nobody.ini"), 0u);
}

// ---- Texts ---------------------------------------------------------------------------------

// Where each language text goes. what: "caption" (label, button, group box title),
// "item" (list item at index), "header" (list column at index), "tip" (tool tip).
struct KeyUse {
    const char* widget;
    const char* what;
    int index;
    const char* key;  // in the section UI_PROFILEINFO
};

const KeyUse kKeyUses[] = {
    {"l_statusConfirm", "caption", 0, "UI_PROFILEINFO_LABEL_STATUSCONFIRM"},
    {"l_Mac", "caption", 0, "UI_PROFILEINFO_IPSECSADURATION_MAC"},
    {"pb_ipsecL2TP", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_IPSECL2TP"},
    {"pb_ipsecIPSec", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_IPSECIPSEC"},
    {"pb_input", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_INPUT"},
    {"pb_output", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_OUTPUT"},
    {"l_connectNameSSL", "caption", 0, "UI_PROFILEINFO_LABEL_CONNECTNAMESSL"},
    {"l_descriptionMsgSSL", "caption", 0, "UI_PROFILEINFO_LABEL_DESCRIPTIONMSGSSL"},
    {"l_gatewayAddress", "caption", 0, "UI_PROFILEINFO_LABEL_GATEWAYADDRESS"},
    {"l_port", "caption", 0, "UI_PROFILEINFO_LABEL_PORTSSL"},
    {"l_tunnelMode", "caption", 0, "UI_PROFILEINFO_LABEL_TUNNELMODE"},
    {"cb_tunnelMode", "item", 0, "UI_PROFILEINFO_COMBOBOX_DEPENDTUNNELMODE"},
    {"cb_tunnelMode", "item", 1, "UI_PROFILEINFO_COMBOBOX_QUICKTUNNELMODE"},
    {"cb_tunnelMode", "item", 2, "UI_PROFILEINFO_COMBOBOX_ADAPTIONTUNNELMODE"},
    {"cb_autoBest", "caption", 0, "UI_PROFILEINFO_CHECKBOX_AUTOBEST"},
    {"tw_serverAddress", "header", 0, "UI_PROFILEINFO_TREEWIDGET_IP"},
    {"tw_serverAddress", "header", 1, "UI_PROFILEINFO_TREEWIDGET_PORT"},
    {"tw_serverAddress", "header", 2, "UI_PROFILEINFO_TREEWIDGET_DEFAULT"},
    {"gb_l2tpSetting", "caption", 0, "UI_PROFILEINFO_LABEL_L2TPSETTING"},
    {"l_connectNameIPSEC", "caption", 0, "UI_PROFILEINFO_LABEL_CONNECTNAMEIPSEC"},
    {"l_descriptionMsgIPSEC", "caption", 0, "UI_PROFILEINFO_LABEL_DESCRIPTIONMSGIPSEC"},
    {"l_LNSServer", "caption", 0, "UI_PROFILEINFO_LABEL_LNSSERVERADDRESS"},
    {"cb_useIPSEC", "caption", 0, "UI_PROFILEINFO_CHECKBOX_USEIPSEC"},
    {"rb_preShareKey", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_PRESHAREDKEY"},
    {"rb_digitalSignature", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_DIGITALSIGNATURE"},
    {"gb_tunnel", "caption", 0, "UI_PROFILEINFO_GROUPBOX_TUNNELSETTING"},
    {"l_tunnelName", "caption", 0, "UI_PROFILEINFO_LABEL_TUNNELNAME"},
    {"l_authMode", "caption", 0, "UI_PROFILEINFO_LABEL_AUTHMODE"},
    {"cb_useTunnel", "caption", 0, "UI_PROFILEINFO_CHECKBOX_USETUNNEL"},
    {"l_tunnelPassword", "caption", 0, "UI_PROFILEINFO_LABEL_TUNNELPASSWORD"},
    {"gb_router", "caption", 0, "UI_PROFILEINFO_GROUPBOX_ROUTERSETTING"},
    {"rb_ModeConfig", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_MODE_CONFIG"},
    {"rb_HandConfig", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_HAND_CONFIG"},
    {"cb_HandConfig", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_HAND_CONFIG"},
    {"l_routerDNS", "caption", 0, "UI_PROFILEINFO_LABEL_ROUTERDNS"},
    {"l_routerTip", "caption", 0, "UI_PROFILEINFO_LABEL_ROUTERTIP"},
    {"tw_router", "header", 0, "UI_PROFILEINFO_TREEWIDGET_ROUTERIP"},
    {"tw_router", "header", 1, "UI_PROFILEINFO_TREEWIDGET_ROUTERMASK"},
    {"l_IPSECServer", "caption", 0, "UI_PROFILEINFO_LABEL_IPSECADDRESS"},
    {"cb_LNSServer", "caption", 0, "UI_PROFILEINFO_CHECKBOX_LNSADDRESS"},
    {"l_encapMode", "caption", 0, "UI_PROFILEINFO_LABEL_ENCAPMODE"},
    {"rb_encapTunnelMode", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_TUNNELENCAPMODE"},
    {"rb_encapTransferMode", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_TRANSFERENCAPMODE"},
    {"l_ESPAuthAlgo", "caption", 0, "UI_PROFILEINFO_LABEL_ESAUTHALGO"},
    {"l_ESPEncryAlgo", "caption", 0, "UI_PROFILEINFO_LABEL_ESPENCRYALGO"},
    {"gb_ipsecSetting", "caption", 0, "UI_PROFILEINFO_LABEL_IPSECSETTING"},
    {"gb_ikeSetting", "caption", 0, "UI_PROFILEINFO_GROUPBOX_IKESETTING"},
    {"l_localGatewayName", "caption", 0, "UI_PROFILEINFO_LABEL_LOCALGATEWAYNAME"},
    {"l_remoteGatewayName", "caption", 0, "UI_PROFILEINFO_LABEL_ROMOTEGATEWAYNAME"},
    {"l_negoMode", "caption", 0, "UI_PROFILEINFO_LABEL_NEGOMODE"},
    {"rb_negoMainMode", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_MAINNEGOMODE"},
    {"rb_negoBarMode", "caption", 0, "UI_PROFILEINFO_RADIOBUTTON_BARNEGOMODE"},
    {"l_authAlgo", "caption", 0, "UI_PROFILEINFO_LABEL_AUTHALGO"},
    {"l_encryAlgo", "caption", 0, "UI_PROFILEINFO_LABEL_ENCRYALGO"},
    {"l_IDType", "caption", 0, "UI_PROFILEINFO_LABEL_IDTYPE"},
    {"cb_IDType", "item", 0, "UI_PROFILEINFO_COMBOBOX_IPIDTYPE"},
    {"cb_IDType", "item", 1, "UI_PROFILEINFO_COMBOBOX_NAME"},
    {"l_DHGroup", "caption", 0, "UI_PROFILEINFO_LABEL_DHGROUP"},
    {"gb_ikeSettingAdvanced", "caption", 0, "UI_PROFILEINFO_GROUPBOX_IKESETTINGADVANCED"},
    {"label", "caption", 0, "UI_PROFILEINFO_LABEL_RANGE"},
    {"label_2", "caption", 0, "UI_PROFILEINFO_LABEL_RANGE2"},
    {"l_sec3", "caption", 0, "UI_PROFILEINFO_LABEL_SEC"},
    {"l_sec4", "caption", 0, "UI_PROFILEINFO_LABEL_SEC"},
    {"cb_usePFS", "caption", 0, "UI_PROFILEINFO_CHECKBOX_USEPFS"},
    {"l_parameter", "caption", 0, "UI_PROFILEINFO_LABEL_PARAMETER"},
    {"l_ikeSADuration", "caption", 0, "UI_PROFILEINFO_LABEL_IKESADURATION"},
    {"gb_ipsecSettingAdvanced", "caption", 0, "UI_PROFILEINFO_GROUPBOX_IPSECSETTINGADVANCED"},
    {"l_ipsecSADuration", "caption", 0, "UI_PROFILEINFO_LABEL_IPSECSADURATION"},
    {"pb_cancel", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_CANCEL"},
    {"pb_save", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_SAVE"},
    {"pb_ok", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_OK"},
    {"pb_SetPriorGateway", "caption", 0, "UI_PROFILEINFO_SETDEFAULT_GATEWAY"},
    {"cb_Certificate", "caption", 0, "UI_PROFILEINFO_CERTIFICATE_ENABLE"},
    {"label_Certificate", "caption", 0, "UI_PROFILEINFO_CERTIFICATE_PASSWORD"},
    {"l_tunnelModeTip", "tip", 0, "UI_PROFILEINFO_TUNNELMODE_TIP"},
    {"l_gmalgorithmTip4", "tip", 0, "UI_PROFILEINFO_GMALGORITHM_TIP"},
    {"cb_gmalgorithm", "caption", 0, "UI_PROFILEINFO_CB_GMSSL_ALGO"},
    {"l_tunnelModeTip2", "tip", 0, "UI_PROFILEINFO_TUNNELMODE_TIP2"},
    {"l_inputProfile", "caption", 0, "UI_PROFILEINFO_LABEL_PROFILEFILE"},
    {"pb_inputProfile", "caption", 0, "UI_PROFILEINFO_PUSHBUTTON_INPUTPROFILE"},
    {"le_connectNameSSL", "tip", 0, "UI_PROFILEINFO_SSLNAME_TOOLTIP"},
    {"le_descriptionMsgSSL", "tip", 0, "UI_PROFILEINFO_SSLDESTRIPTION_TOOLTIP"},
    {"le_gatewayAddress", "tip", 0, "UI_PROFILEINFO_SSLGATEWAY_TOOLTIP"},
    {"le_port", "tip", 0, "UI_PROFILEINFO_SSLPORT_TOOLTIP"},
    {"le_connectNameIPSEC", "tip", 0, "UI_PROFILEINFO_IPSECNAME_TOOLTIP"},
    {"le_descriptionMsgIPSEC", "tip", 0, "UI_PROFILEINFO_IPSECDESTRIPTION_TOOLTIP"},
    {"le_LNSServer", "tip", 0, "UI_PROFILEINFO_IPSECLNSADDRESS_TOOLTIP"},
    {"le_tunnelName", "tip", 0, "UI_PROFILEINFO_IPSECTUNNELNAME_TOOLTIP"},
    {"le_tunnelPassword", "tip", 0, "UI_PROFILEINFO_IPSECTUNNELPSWD_TOOLTIP"},
    {"le_routerDNS", "tip", 0, "UI_PROFILEINFO_ROUTERDNS_TOOLTIP"},
    {"le_statusConfirm", "tip", 0, "UI_PROFILEINFO_STATUSCONFIRM_TOOLTIP"},
    {"le_IPSECServer", "tip", 0, "UI_PROFILEINFO_IPSECSERVER_TOOLTIP"},
    {"le_localGatewayName", "tip", 0, "UI_PROFILEINFO_LOCALGATEWAYNAME_TOOLTIP"},
    {"le_remoteGatewayName", "tip", 0, "UI_PROFILEINFO_REMOTEGATEWAYNAME_TOOLTIP"},
    {"le_ikeSADuration", "tip", 0, "UI_PROFILEINFO_IKESADURATION_TOOLTIP"},
    {"le_ipsecSADuration", "tip", 0, "UI_PROFILEINFO_IPSECSADURATION_TOOLTIP"},
};

QString TextOf(QWidget* w, const KeyUse& use) {
    const std::string what = use.what;
    if (what == "item") return qobject_cast<QComboBox*>(w)->itemText(use.index);
    if (what == "header") return qobject_cast<QTreeWidget*>(w)->headerItem()->text(use.index);
    if (what == "tip") return w->toolTip();
    return Caption(w);
}

// Language files whose every value is its own key, for the languages given.
class KeyLanguage {
public:
    explicit KeyLanguage(std::initializer_list<int> languages) {
        std::set<std::string> keys = {"UI_PROFILEINFO_TITLE_CREATE", "UI_PROFILEINFO_TITLE_NOCREATE"};
        for (const KeyUse& use : kKeyUses) keys.insert(use.key);
        for (int id : languages) {
            const std::string dir = env_.Tmp() + "/language/" + std::to_string(id);
            EXPECT_TRUE(QDir().mkpath(QString::fromStdString(dir)));
            std::ofstream file(dir + "/l_UILabel.ini");
            file << "[UI_PROFILEINFO]\n";
            for (const std::string& key : keys) file << key << "=" << key << "\n";
        }
    }
    QString Base() const { return QString::fromStdString(env_.Tmp() + "/"); }

private:
    vt_test::TempEnv env_;
};

TEST_F(DialogTest, EveryTextComesFromItsKey) {
    KeyLanguage language({1033});
    LanguageSetting::GetInstance()->Init(1033, language.Base());
    auto dialog = Open();
    std::set<std::string> tipped;
    for (const KeyUse& use : kKeyUses) {
        QWidget* w = Find(dialog.get(), use.widget);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(TextOf(w, use), QString(use.key)) << use.widget << " " << use.what << " "
                                                   << use.index;
        if (std::string(use.what) == "tip") tipped.insert(use.widget);
    }
    EXPECT_EQ(tipped.size(), 19u);  // 16 fields and 3 hints
    EXPECT_EQ(dialog->windowTitle(), QString("UI_PROFILEINFO_TITLE_CREATE"));
    // No other widget gets a tool tip.
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (tipped.count(w->objectName().toStdString()) == 0) {
            EXPECT_TRUE(w->toolTip().isEmpty()) << w->objectName().toStdString();
        }
    }
    // Widgets no key replaces keep the form's texts; the other lists keep their items.
    Ui_ProfileInfoUI* f = F(*dialog);
    EXPECT_EQ(f->pb_SSL->text(), QString("SSL VPN"));
    EXPECT_EQ(f->pb_IPSec->text(), QString("L2TP/IPSec"));
    EXPECT_EQ(f->tb_add->text(), QString("+"));
    EXPECT_EQ(f->tb_routerDel->text(), QString("-"));
    EXPECT_EQ(f->label_6->text(), QString("*"));
    EXPECT_EQ(f->label_3->text(), QString("国密签名证书"));
    EXPECT_EQ(f->pb_sign_clear->text(), QString("清空"));
    EXPECT_EQ(f->cb_routecover->text(), QString("路由覆盖"));
    EXPECT_TRUE(f->groupBox->title().isEmpty());
    EXPECT_EQ(f->le_port->text(), QString("443"));
    EXPECT_EQ(ItemsOf(f->cb_authMode), (QStringList{"PAP", "CHAP"}));
    EXPECT_EQ(f->cb_tunnelMode->currentIndex(), 2) << "texts change, choices stay";

    // Column widths after Init, before a shown header stretches its last column.
    ASSERT_EQ(f->tw_serverAddress->columnCount(), 3);
    EXPECT_EQ(f->tw_serverAddress->columnWidth(0), 150);
    EXPECT_EQ(f->tw_serverAddress->columnWidth(1), 130);
    EXPECT_EQ(f->tw_serverAddress->columnWidth(2), 90);
    EXPECT_EQ(f->tw_router->columnCount(), 2);
    EXPECT_EQ(f->tw_router->columnWidth(0), 165);

    // The USB key note is for macOS only; its text is set all the same.
    EXPECT_TRUE(f->l_Mac->isHidden());
}

TEST_F(DialogTest, WidthByLanguageAndTitleByMode) {
    KeyLanguage language({2052, 1033, 1031});
    struct Case {
        int language;
        bool isNew;
        int width;
        const char* title;
    } cases[] = {
        {2052, true, 600, "UI_PROFILEINFO_TITLE_CREATE"},
        {1033, true, 600, "UI_PROFILEINFO_TITLE_CREATE"},
        {1031, true, 740, "UI_PROFILEINFO_TITLE_CREATE"},
        {1033, false, 600, "UI_PROFILEINFO_TITLE_NOCREATE"},
    };
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    for (const Case& c : cases) {
        LanguageSetting::GetInstance()->Init(c.language, language.Base());
        if (c.isNew) {
            UIContext::GetInstance()->SetNewConnect(true);
        } else {
            OpenOn("Office", LINK_TYPE_SSL);
        }
        auto dialog = Open();
        EXPECT_EQ(dialog->width(), c.width) << c.language;
        EXPECT_EQ(dialog->height(), 570) << c.language;
        EXPECT_EQ(dialog->windowTitle(), QString(c.title)) << c.language;
    }
}

// ---- Byte caps -------------------------------------------------------------------------

TEST_F(DialogTest, CapsCountBytesOfUtf8) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    struct Case {
        const char* field;
        int page;         // the page put in view first
        QString unit;     // one character
        int accepted;     // characters that fit
        bool typed;       // the last character is typed; else put in as an input method does
    } cases[] = {
        {"le_connectNameSSL", 0, "a", 127, true},
        {"le_connectNameSSL", 0, "名", 42, false},
        {"le_connectNameIPSEC", 1, "a", 127, true},
        {"le_connectNameIPSEC", 1, "名", 42, false},
        {"le_descriptionMsgSSL", 0, "d", 255, true},
        {"le_descriptionMsgIPSEC", 1, "d", 255, true},
        {"le_localGatewayName", 1, "g", 512, false},
        {"le_remoteGatewayName", 0, "g", 512, false},
    };
    for (const Case& c : cases) {
        (c.page == 0 ? f->pb_SSL : f->pb_IPSec)->click();
        auto* field = Find<QLineEdit>(dialog.get(), c.field);
        const QString full = c.unit.repeated(c.accepted);
        field->setText(full);
        EXPECT_EQ(field->text(), full) << c.field << " takes " << c.accepted;
        if (c.typed) {
            ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), c.field, c.unit, false));
        } else {
            field->end(false);
            field->insert(c.unit);
        }
        EXPECT_EQ(field->text(), full) << c.field << " refuses one more";
        field->clear();
    }
}

TEST_F(DialogTest, TwinsMirrorOnlyWhileTheirPageIsInView) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    struct Pair {
        QLineEdit* ssl;
        QLineEdit* ipsec;
    } pairs[] = {{f->le_connectNameSSL, f->le_connectNameIPSEC},
                 {f->le_descriptionMsgSSL, f->le_descriptionMsgIPSEC}};
    for (const Pair& p : pairs) {
        const std::string name = p.ssl->objectName().toStdString();
        f->pb_SSL->click();
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), p.ssl->objectName(), "abc"));
        EXPECT_EQ(p.ipsec->text(), QString("abc")) << name;
        p.ipsec->setText(QStringLiteral("zzz"));  // its page is not in view
        EXPECT_EQ(p.ssl->text(), QString("abc")) << name;
        f->pb_IPSec->click();
        ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), p.ipsec->objectName(), "xyz"));
        EXPECT_EQ(p.ssl->text(), QString("xyz")) << name;
        p.ssl->setText(QStringLiteral("qq"));
        EXPECT_EQ(p.ipsec->text(), QString("xyz")) << name;
    }
    EXPECT_EQ(D(*dialog)->profileFileName, QString("qq.ini")) << "the last name set";
}

// Each field undoes an over-cap change to its own last text, never to another field's.
TEST_F(DialogTest, AnOverCapChangeGoesBackToTheFieldsOwnText) {
    struct Case {
        const char* typed;      // typed first, within its cap
        const char* text;
        const char* overCap;    // then given too long a text
        int cap;
        const char* expected;   // what the over-cap field shows after
    } cases[] = {
        {"le_connectNameSSL", "abc", "le_descriptionMsgSSL", 255, ""},
        {"le_descriptionMsgSSL", "xyz", "le_connectNameSSL", 127, ""},
        {"le_localGatewayName", "local", "le_remoteGatewayName", 512, ""},
        {"le_connectNameIPSEC", "ipsec", "le_descriptionMsgIPSEC", 255, ""},
    };
    for (const Case& c : cases) {
        auto dialog = Open();
        Ui_ProfileInfoUI* f = F(*dialog);
        const bool ipsecPage = QString(c.typed).endsWith("IPSEC");
        (ipsecPage ? f->pb_IPSec : f->pb_SSL)->click();
        auto* typed = Find<QLineEdit>(dialog.get(), c.typed);
        auto* over = Find<QLineEdit>(dialog.get(), c.overCap);
        typed->setText(QString::fromUtf8(c.text));
        // A paste within the field's length in characters, over its cap in bytes.
        over->setText(QString(c.cap / 2 + 1, QChar(0xE9)));
        EXPECT_EQ(over->text(), QString::fromUtf8(c.expected)) << c.overCap << " after " << c.typed;
        EXPECT_EQ(typed->text(), QString::fromUtf8(c.text)) << c.typed;
    }
    // The field keeps its own last text through the other fields' changes.
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_connectNameSSL", "abc"));
    ASSERT_TRUE(BoxDriver::TypeInto(dialog.get(), "le_descriptionMsgSSL", "xyz"));
    f->le_connectNameSSL->setText(QString(64, QChar(0xE9)));
    EXPECT_EQ(f->le_connectNameSSL->text(), QString("abc"));
    EXPECT_EQ(f->le_connectNameIPSEC->text(), QString("abc"));
    EXPECT_EQ(f->le_descriptionMsgSSL->text(), QString("xyz"));
    EXPECT_EQ(f->le_descriptionMsgIPSEC->text(), QString("xyz"));
}

// ---- GM certificate rows ---------------------------------------------------------------

TEST_F(DialogTest, CertificateRowsBrowseCancelAndClear) {
    auto dialog = Open();
    Ui_ProfileInfoUI* f = F(*dialog);
    QWidget* rows[] = {f->label_3, f->sign_certificate, f->pb_sign_certificate, f->pb_sign_clear,
                       f->label_4, f->encryption_certificate, f->pb_encryption_certificate,
                       f->pb_encrypto_clear};
    dialog->ProfileInfoUI_GmSSL_Status_Set(true);
    for (QWidget* row : rows) EXPECT_FALSE(row->isHidden()) << row->objectName().toStdString();

    vt_test::TempEnv env;
    const QString file = QString::fromStdString(env.Tmp() + "/gm.crt");
    std::ofstream(file.toStdString()) << "certificate";
    struct Case {
        const char* browse;
        const char* clear;
        QLineEdit* field;
    } cases[] = {{"pb_sign_certificate", "pb_sign_clear", f->sign_certificate},
                 {"pb_encryption_certificate", "pb_encrypto_clear", f->encryption_certificate}};
    for (const Case& c : cases) {
        driver.Clear();
        driver.AnswerWith([&](QWidget* box) { EXPECT_TRUE(BoxDriver::ChooseFile(box, file)); });
        ASSERT_TRUE(BoxDriver::ClickButton(dialog.get(), c.browse));
        ASSERT_EQ(driver.Seen().size(), 1u) << c.browse;
        EXPECT_EQ(driver.Seen()[0].className, QString("QFileDialog"));
        EXPECT_EQ(driver.Seen()[0].title, QString("Open Document"));
        EXPECT_EQ(c.field->text(), file) << c.browse;

        driver.Answer(BoxDriver::kEscape);
        ASSERT_TRUE(BoxDriver::ClickButton(dialog.get(), c.browse));
        ASSERT_EQ(driver.Seen().size(), 2u) << c.browse;
        EXPECT_EQ(c.field->text(), file) << c.browse << ": cancel keeps the path";

        ASSERT_TRUE(BoxDriver::ClickButton(dialog.get(), c.clear));
        EXPECT_TRUE(c.field->text().isEmpty()) << c.clear;
    }
    // The GM switch is only read; the rows follow only the status slot.
    f->cb_gmalgorithm->click();
    EXPECT_TRUE(f->cb_gmalgorithm->isChecked());
    for (QWidget* row : rows) EXPECT_FALSE(row->isHidden()) << row->objectName().toStdString();
    dialog->ProfileInfoUI_GmSSL_Status_Set(false);
    for (QWidget* row : rows) EXPECT_TRUE(row->isHidden()) << row->objectName().toStdString();
    f->cb_gmalgorithm->click();
    for (QWidget* row : rows) EXPECT_TRUE(row->isHidden()) << row->objectName().toStdString();
}

}  // namespace

#include "test_profileinfoui.moc"
