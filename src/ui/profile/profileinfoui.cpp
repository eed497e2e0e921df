// The connection-profile dialog: its frame (menu, pages, modes, the sub-menu that follows
// the scroll position), its texts, the byte caps of its text fields and the GM
// certificate rows.

#include "profileinfoui.h"

#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QPixmap>
#include <QScrollBar>

#include "UIConstants"
#include "ddm_log.h"
#include "languagesetting.h"
#include "profileinfouiprivate.h"
#include "servicelink.h"
#include "ui_profileinfoui.h"
#include "uicontext.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// The byte caps of the record fields the capped edits end in (NUL included).
constexpr int kNameCap = 127;
constexpr int kDescriptionCap = 255;
constexpr int kGatewayNameCap = 512;

constexpr int kPageSSL = 0;
constexpr int kPageIPSec = 1;
constexpr int kPageInput = 2;
constexpr int kAnyPage = -1;

// The part of the L2TP/IPSec page that belongs to IPSec begins this far below the box
// of the IPSec switch.
constexpr int kIPSecBoundaryGap = 5;

// On macOS the shown sub-menu is drawn 5 pixels further left.
constexpr int kSystemTypeMac = 2;
constexpr int kSubMenuMacShift = 5;

const QString kMenuStyleCurrent = QStringLiteral(
    "QPushButton{padding-left:10px;text-align : left;font: 11pt;color:rgb(255, 255, 255);"
    "background-color:rgb(194, 34, 51)}QPushButton:hover{color:0px; "
    "background-color:rgb(211, 36, 57)}QPushButton:pressed{color:0px; "
    "background-color:rgb(211, 36, 57)}");
const QString kMenuStyleOther = QStringLiteral(
    "QPushButton{padding-left:10px;text-align : left;font: 11pt;color:rgb(255, 255, 255);"
    "background-color:rgb(79, 78, 78)}QPushButton:hover{color:0px; "
    "background-color:rgb(211, 36, 57)}QPushButton:pressed{color:0px; "
    "background-color:rgb(211, 36, 57)}");

// The sub-menu's texts are larger on macOS, whose points are smaller.
QString SubMenuStyle(const char* color, bool mac) {
    return QStringLiteral("QPushButton{text-align : left; border:0px; font: %1pt; color: %2; }")
        .arg(mac ? 13 : 10)
        .arg(QLatin1String(color));
}

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

// The languages whose captions fit the narrow dialog.
bool IsNarrowLanguage(int languageId) {
    switch (languageId) {
    case 1028:
    case 1033:
    case 1041:
    case 1042:
    case 2052:
        return true;
    default:
        return false;
    }
}
constexpr int kNarrowWidth = 600;
constexpr int kWideWidth = 740;

// The gateway list's column widths: address, port, default mark.
constexpr int kGatewayAddressWidth = 150;
constexpr int kGatewayPortWidth = 130;
constexpr int kGatewayDefaultWidth = 90;
constexpr int kRouteAddressWidth = 165;

}  // namespace

ProfileInfoUI::ProfileInfoUI(QWidget* parent)
    : basewidget(parent), ui(new Ui_ProfileInfoUI), d(new ProfileInfoUIPrivate) {
    // The form connects the on_ slots last, so none of them runs while it is built.
    ui->setupUi(this);

    // Routes are always entered by hand: the mode choice and the DNS suffix never show,
    // and the route list waits for its switch.
    ui->l_routerDNS->hide();
    ui->le_routerDNS->hide();
    ui->w_RouteMode->hide();
    ui->l_routerTip->setEnabled(false);
    ui->tw_router->setEnabled(false);
    ui->tb_routerAdd->setEnabled(false);
    ui->tb_routerDel->setEnabled(false);

    d->tunnelPasswordEdited = false;
    d->preSharedKeyEdited = false;
    d->ipsecScrollMark = 0;
    d->profileFileName = Util_GetIniFileName(UIContext::GetInstance()->GetConnectName());

    d->sslIcon = new QPixmap(UI_ICON_PROFILE_SSL);
    d->ipsecIcon = new QPixmap(UI_ICON_PROFILE_IPSEC);
    d->inputIcon = new QPixmap(UI_ICON_PROFILE_INPUT);
    d->outputIcon = new QPixmap(UI_ICON_PROFILE_OUTPUT);
    d->redDotIcon = new QPixmap(UI_ICON_PROFILE_REDDOT);
    d->grayDotIcon = new QPixmap(UI_ICON_PROFILE_GRAYDOT);
}

ProfileInfoUI::~ProfileInfoUI() {
    for (QPixmap** icon : {&d->sslIcon, &d->ipsecIcon, &d->inputIcon, &d->outputIcon,
                           &d->redDotIcon, &d->grayDotIcon}) {
        delete *icon;
        *icon = nullptr;
    }
    delete ui;
    delete d;
}

void ProfileInfoUI::InitWidget() {
    basewidget::InitWidget();
    UIContext* context = UIContext::GetInstance();

    ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_STATUSCONFIRM"));
    // Runs while the form's page 1 is still in view.
    ProfileInfoUI_LinkNameState_Set();

    // The default-gateway column does not exist yet: it gets its width where the header
    // labels make it (SetLanguageText).
    ui->tw_serverAddress->setColumnWidth(0, kGatewayAddressWidth);
    ui->tw_serverAddress->setColumnWidth(1, kGatewayPortWidth);
    ui->tw_router->setColumnWidth(0, kRouteAddressWidth);

    // IPSec starts off: its settings are hidden and its authentication cannot be chosen.
    ui->w_best->hide();
    ui->w_ipsec->hide();
    ui->w_ipsecEnable->setEnabled(false);

    ui->rb_encapTransferMode->setChecked(true);
    ui->cb_LNSServer->setChecked(true);

    // SHA2-256, AES-256, Group5, SHA2-256, AES-256 and the adaptive tunnel mode.
    ui->cb_ESPAuthAlgo->setCurrentIndex(2);
    ui->cb_ESPEncryAlgo->setCurrentIndex(4);
    ui->cb_DHGroup->setCurrentIndex(2);
    ui->cb_authAlgo->setCurrentIndex(2);
    ui->cb_encryAlgo->setCurrentIndex(4);
    ui->cb_tunnelMode->setCurrentIndex(2);

    const bool mac = Util_IsMacOs();
    d->menuStyleCurrent = kMenuStyleCurrent;
    d->menuStyleOther = kMenuStyleOther;
    d->subMenuStyleCurrent = SubMenuStyle("rgb(255, 255, 255)", mac);
    d->subMenuStyleOther = SubMenuStyle("rgb(79, 78, 78)", mac);
    d->subMenuStyleDisabled = SubMenuStyle("rgb(132, 132, 132)", mac);

    ui->pb_SSL->setStyleSheet(d->menuStyleOther);
    ui->pb_IPSec->setStyleSheet(d->menuStyleOther);
    ui->pb_input->setStyleSheet(d->menuStyleOther);
    ui->pb_output->setStyleSheet(d->menuStyleOther);

    connect(ui->pb_SSL, &QPushButton::clicked, this, &ProfileInfoUI::ProfileInfoUI_MenuSSL_Click);
    connect(ui->pb_IPSec, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_MenuIPSec_Click);
    connect(ui->pb_input, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_MenuInput_Click);
    connect(ui->pb_output, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_MenuOutput_Click);
    connect(ui->pb_ipsecL2TP, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_IPSecL2TPSetting_Click);
    connect(ui->pb_ipsecIPSec, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_IPSecIPSecSetting_Click);
    connect(ui->scrollArea_ipsec->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ProfileInfoUI::ProfileInfoUI_ScrollIPSec_Changed);
    connect(ui->tb_add, &QToolButton::clicked, this, &ProfileInfoUI::ProfileInfoUI_BestAdd_Click);
    connect(ui->tb_bestDel, &QToolButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_SSLConnect_DelServer);
    connect(ui->tb_routerAdd, &QToolButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_NewVPNNetwork_Show);
    connect(ui->tb_routerDel, &QToolButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_IPSECConnect_DelIP);
    connect(ui->cb_useIPSEC, &QCheckBox::clicked, this, &ProfileInfoUI::ProfileInfoUI_IPSec_Use);
    connect(ui->rb_preShareKey, &QRadioButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_PreSharedKey_Use);
    connect(ui->cb_HandConfig, &QCheckBox::clicked, this, &ProfileInfoUI::ProfileInfoUI_Router_Use);
    connect(ui->rb_digitalSignature, &QRadioButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_USBKey_Use);
    connect(ui->cb_usePFS, &QCheckBox::clicked, this, &ProfileInfoUI::ProfileInfoUI_IKEPFS_Use);
    connect(ui->cb_useTunnel, &QCheckBox::clicked, this, &ProfileInfoUI::ProfileInfoUI_Tunnel_Use);
    connect(ui->cb_autoBest, &QCheckBox::clicked, this, &ProfileInfoUI::ProfileInfoUI_autoBest);
    // After the caps, which the form connected by name: a name reaches its cap first.
    connect(ui->le_connectNameSSL, &QLineEdit::textChanged, this,
            &ProfileInfoUI::ProfileInfoUI_SSLConnectName_Set);
    connect(ui->le_connectNameIPSEC, &QLineEdit::textChanged, this,
            &ProfileInfoUI::ProfileInfoUI_IpsecConnectName_Set);
    connect(ui->pb_cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->pb_ok, &QPushButton::clicked, this, &ProfileInfoUI::ProfileInfoUI_Connect_Create);
    connect(ui->pb_save, &QPushButton::clicked, this, &ProfileInfoUI::ProfileInfoUI_Connect_Save);
    connect(ui->rb_negoMainMode, &QRadioButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_IPSec_MainMode_Choice);
    connect(ui->rb_negoBarMode, &QRadioButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_IPSec_AggressiveMode_Choice);
    connect(ui->cb_IDType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ProfileInfoUI::ProfileInfoUI_IPSec_ID_Choice);
    connect(ui->pb_inputProfile, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_Profile_Input);
    connect(ui->pb_sign_certificate, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_sign_certificate_select);
    connect(ui->pb_encryption_certificate, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_encryption_certificate_select);
    connect(ui->cb_gmalgorithm, &QCheckBox::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_Gmalgorithm_Click);
    connect(ui->pb_sign_clear, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_sign_certificate_clear);
    connect(ui->pb_encrypto_clear, &QPushButton::clicked, this,
            &ProfileInfoUI::ProfileInfoUI_encrypto_certificate_clear);

    ui->stackedWidget->setCurrentIndex(kPageSSL);
    ui->pb_SSL->setIcon(QIcon(*d->sslIcon));
    ui->pb_IPSec->setIcon(QIcon(*d->ipsecIcon));
    ui->pb_input->setIcon(QIcon(*d->inputIcon));
    ui->pb_output->setIcon(QIcon(*d->outputIcon));
    // The dialog is not shown yet: the sub-menu does not count as visible, nothing moves.
    ProfileInfoUI_MenuSSL_Click();

    ui->pb_ipsecL2TP->setStyleSheet(d->subMenuStyleCurrent);
    ui->pb_ipsecIPSec->setStyleSheet(d->subMenuStyleDisabled);

    ui->tw_serverAddress->setSelectionMode(QAbstractItemView::ExtendedSelection);

    for (QWidget* row : {static_cast<QWidget*>(ui->label_3), static_cast<QWidget*>(ui->label_4),
                         static_cast<QWidget*>(ui->sign_certificate),
                         static_cast<QWidget*>(ui->pb_sign_certificate),
                         static_cast<QWidget*>(ui->pb_sign_clear),
                         static_cast<QWidget*>(ui->encryption_certificate),
                         static_cast<QWidget*>(ui->pb_encryption_certificate),
                         static_cast<QWidget*>(ui->pb_encrypto_clear)}) {
        row->hide();
    }

    if (context->GetNewConnect()) {
        ui->pb_ok->show();
        ui->pb_save->hide();
        ui->pb_output->hide();
        ui->w_menuIPSec->hide();
    } else {
        ProfileInfoUI_Connect_ReadInit(d->profileFileName);
        ui->pb_save->show();
        if (context->GetLogined()) {
            ui->pb_save->setEnabled(false);
        }
        ui->pb_ok->hide();
    }

    for (QWidget* watched :
         {static_cast<QWidget*>(ui->pb_cancel), static_cast<QWidget*>(ui->pb_ok),
          static_cast<QWidget*>(ui->pb_save), static_cast<QWidget*>(ui->le_ipsecSADuration),
          static_cast<QWidget*>(ui->le_ikeSADuration), static_cast<QWidget*>(ui->cb_authMode),
          static_cast<QWidget*>(ui->cb_ESPAuthAlgo), static_cast<QWidget*>(ui->cb_ESPEncryAlgo),
          static_cast<QWidget*>(ui->cb_authAlgo), static_cast<QWidget*>(ui->cb_encryAlgo),
          static_cast<QWidget*>(ui->cb_DHGroup), static_cast<QWidget*>(ui->cb_tunnelMode)}) {
        watched->installEventFilter(this);
    }

    // Route cover and certificate authentication are not offered on the SSL VPN page.
    for (QWidget* row :
         {static_cast<QWidget*>(ui->cb_routecover), static_cast<QWidget*>(ui->l_tunnelModeTip3),
          static_cast<QWidget*>(ui->cb_Certificate), static_cast<QWidget*>(ui->Certificate_file),
          static_cast<QWidget*>(ui->l_tunnelModeTip_2),
          static_cast<QWidget*>(ui->label_Certificate),
          static_cast<QWidget*>(ui->Certificate_password), static_cast<QWidget*>(ui->label_14)}) {
        row->hide();
    }
}

void ProfileInfoUI::ProfileInfoUI_LinkNameState_Set() {
    UIContext* context = UIContext::GetInstance();
    if (context->GetNewConnect()) {
        switch (ui->stackedWidget->currentIndex()) {
        case kPageSSL:
            ui->le_connectNameSSL->setEnabled(true);
            break;
        case kPageIPSec:
            ui->le_connectNameIPSEC->setEnabled(true);
            break;
        default:
            break;
        }
        return;
    }
    // The name of an existing profile names its file and its session: it stays as it is.
    const QString name = context->GetConnectName();
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[ProfileInfo ui set link name state][linkName :" + name + "]");
    if (context->GetLinkType() == LINK_TYPE_SSL) {
        ui->le_connectNameSSL->setText(name);
        ui->le_connectNameSSL->setEnabled(false);
    } else if (context->GetLinkType() == LINK_TYPE_IPSEC) {
        ui->le_connectNameIPSEC->setText(name);
        ui->le_connectNameIPSEC->setEnabled(false);
    }
}

// ---- Left menu -------------------------------------------------------------------------
// The buttons below the sub-menu move by its height at once, so that they are in place
// before the layout runs again.

void ProfileInfoUI::ProfileInfoUI_MenuSSL_Click() {
    ui->stackedWidget->setCurrentIndex(kPageSSL);
    if (ui->w_menuIPSec->isVisible()) {
        ui->w_menuIPSec->hide();
        const int h = ui->w_menuIPSec->height();
        ui->pb_input->move(ui->pb_input->x(), ui->pb_input->y() - h);
    }
    ui->pb_SSL->setStyleSheet(d->menuStyleCurrent);
    ui->pb_IPSec->setStyleSheet(d->menuStyleOther);
    ui->pb_input->setStyleSheet(d->menuStyleOther);
    ui->pb_output->setStyleSheet(d->menuStyleOther);
}

void ProfileInfoUI::ProfileInfoUI_MenuIPSec_Click() {
    ui->stackedWidget->setCurrentIndex(kPageIPSec);
    if (!ui->w_menuIPSec->isVisible()) {
        ui->w_menuIPSec->show();
        const int h = ui->w_menuIPSec->height();
        ui->pb_input->move(ui->pb_input->x(), ui->pb_input->y() + h);
        ui->pb_output->move(ui->pb_output->x(), ui->pb_output->y() + h);
        if (UIContext::GetInstance()->GetSystemType() == kSystemTypeMac) {
            ui->w_menuIPSec->move(ui->w_menuIPSec->x() - kSubMenuMacShift,
                                  ui->w_menuIPSec->y());
        }
    }
    ui->pb_IPSec->setStyleSheet(d->menuStyleCurrent);
    ui->pb_SSL->setStyleSheet(d->menuStyleOther);
    ui->pb_input->setStyleSheet(d->menuStyleOther);
}

void ProfileInfoUI::ProfileInfoUI_MenuInput_Click() {
    ui->stackedWidget->setCurrentIndex(kPageInput);
    if (ui->w_menuIPSec->isVisible()) {
        ui->w_menuIPSec->hide();
        const int h = ui->w_menuIPSec->height();
        ui->pb_input->move(ui->pb_input->x(), ui->pb_input->y() - h);
    }
    ui->pb_input->setStyleSheet(d->menuStyleCurrent);
    ui->pb_SSL->setStyleSheet(d->menuStyleOther);
    ui->pb_IPSec->setStyleSheet(d->menuStyleOther);
}

bool ProfileInfoUI::ProfileInfoUI_SSLEditMode_Set() {
    ui->pb_SSL->click();
    ui->pb_output->setStyleSheet(d->menuStyleOther);
    ui->pb_IPSec->hide();
    ui->w_menuIPSec->hide();
    ui->pb_input->hide();
    const QRect input = ui->pb_input->geometry();
    ui->pb_output->setGeometry(input.x(), ui->pb_SSL->geometry().bottom() + 1, input.width(),
                               input.height());
    return true;
}

bool ProfileInfoUI::ProfileInfoUI_IPSecEditMode_Set() {
    ui->pb_IPSec->click();
    ui->pb_output->setStyleSheet(d->menuStyleOther);
    ui->pb_SSL->hide();
    ui->pb_input->hide();
    ui->pb_IPSec->move(ui->pb_IPSec->x(), 0);
    const QRect output = ui->pb_output->geometry();
    ui->pb_output->setGeometry(output.x(), ui->w_menuIPSec->geometry().bottom() + 1,
                               output.width(), output.height());
    return true;
}

// ---- L2TP/IPSec sub-menu ---------------------------------------------------------------

int ProfileInfoUI::IPSecBoundary() const {
    return ui->groupBox->y() + ui->groupBox->height() + kIPSecBoundaryGap;
}

void ProfileInfoUI::SubMenuL2TPCurrent() {
    ui->pb_ipsecL2TP->setStyleSheet(d->subMenuStyleCurrent);
    ui->pb_ipsecL2TP->setIcon(QIcon(*d->redDotIcon));
    ui->pb_ipsecIPSec->setStyleSheet(d->subMenuStyleOther);
    ui->pb_ipsecIPSec->setIcon(QIcon(*d->grayDotIcon));
}

void ProfileInfoUI::SubMenuIPSecCurrent() {
    ui->pb_ipsecL2TP->setStyleSheet(d->subMenuStyleOther);
    ui->pb_ipsecL2TP->setIcon(QIcon(*d->grayDotIcon));
    ui->pb_ipsecIPSec->setStyleSheet(d->subMenuStyleCurrent);
    ui->pb_ipsecIPSec->setIcon(QIcon(*d->redDotIcon));
}

void ProfileInfoUI::ProfileInfoUI_IPSecL2TPSetting_Click() {
    ui->scrollArea_ipsec->verticalScrollBar()->setValue(0);
    ui->pb_ipsecL2TP->setStyleSheet(d->subMenuStyleCurrent);
    ui->pb_ipsecL2TP->setIcon(QIcon(*d->redDotIcon));
    ui->pb_ipsecIPSec->setIcon(QIcon(*d->grayDotIcon));
    ui->pb_ipsecIPSec->setStyleSheet(ui->cb_useIPSEC->isChecked() ? d->subMenuStyleOther
                                                                   : d->subMenuStyleDisabled);
}

void ProfileInfoUI::ProfileInfoUI_IPSecIPSecSetting_Click() {
    ui->scrollArea_ipsec->verticalScrollBar()->setValue(IPSecBoundary());
    SubMenuIPSecCurrent();
}

// The highlight moves only when the scroll position crosses the boundary since it last
// moved, so that a scroll within one part does not restyle the entries.
void ProfileInfoUI::ProfileInfoUI_ScrollIPSec_Changed(int value) {
    if (!ui->cb_useIPSEC->isChecked()) {
        return;
    }
    const int boundary = IPSecBoundary();
    int& mark = d->ipsecScrollMark;
    if (value < boundary && mark >= boundary) {
        SubMenuL2TPCurrent();
        mark = value;
    } else if (value >= boundary && mark <= boundary) {
        SubMenuIPSecCurrent();
        mark = value;
    }
}

// ---- Name fields -----------------------------------------------------------------------

void ProfileInfoUI::ProfileInfoUI_SSLConnectName_Set(QString /*text*/) {
    if (UIContext::GetInstance()->GetNewConnect()) {
        d->profileFileName = Util_GetIniFileName(ui->le_connectNameSSL->text());
    }
}

void ProfileInfoUI::ProfileInfoUI_IpsecConnectName_Set(QString /*text*/) {
    if (UIContext::GetInstance()->GetNewConnect()) {
        d->profileFileName = Util_GetIniFileName(ui->le_connectNameIPSEC->text());
    }
}

// ---- Reading the profile at opening ----------------------------------------------------

void ProfileInfoUI::ProfileInfoUI_Connect_ReadInit(QString name) {
    const QByteArray file = name.toUtf8();
    uint32_t linkType = LINK_TYPE_NONE;
    char msgCodeName[256] = {};
    uint32_t ok = 0;
    const bool pluginMode = UIContext::GetInstance()->GetPluginMode() != 0;
    if (UI_CfmProfile_SpecifyLink(file.constData(), &linkType, msgCodeName, &ok) != 0) {
        if (!pluginMode) {
            Util_ShowWarning(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR,
                             QString(), -1);
        }
        return;
    }
    if (ok == 1) {
        (void)ProfileInfoUI_Profile_Read(file, static_cast<LINK_TYPE>(linkType));
        if (linkType == LINK_TYPE_IPSEC) {
            (void)ProfileInfoUI_IPSecEditMode_Set();
        } else if (linkType == LINK_TYPE_SSL) {
            (void)ProfileInfoUI_SSLEditMode_Set();
        }
        return;
    }
    if (!pluginMode) {
        Util_ShowWarning(LanguageSetting::GetInstance()->GetValue(
                             Util_FieldToString(msgCodeName, sizeof(msgCodeName))),
                         QString(), -1);
    }
}

// ---- Confirm buttons -------------------------------------------------------------------

void ProfileInfoUI::ProfileInfoUI_Set_Savebtn(bool enable) { ui->pb_save->setEnabled(enable); }

void ProfileInfoUI::ProfileInfoUI_Set_OKbtn(bool enable) { ui->pb_ok->setEnabled(enable); }

// ---- Texts -----------------------------------------------------------------------------

void ProfileInfoUI::SetLanguageText() {
    LanguageSetting* language = LanguageSetting::GetInstance();
    resize(IsNarrowLanguage(language->GetLanguageId()) ? kNarrowWidth : kWideWidth, height());

    // The note tells that the USB key works on one system only; only macOS shows it.
    ui->l_Mac->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_IPSECSADURATION_MAC"));
    ui->l_Mac->setVisible(Util_IsMacOs());

    ui->pb_ipsecL2TP->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_IPSECL2TP"));
    ui->pb_ipsecIPSec->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_IPSECIPSEC"));
    ui->pb_input->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_INPUT"));
    ui->pb_output->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_OUTPUT"));

    ui->l_connectNameSSL->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_CONNECTNAMESSL"));
    ui->l_descriptionMsgSSL->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_DESCRIPTIONMSGSSL"));
    ui->l_gatewayAddress->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_GATEWAYADDRESS"));
    ui->l_port->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PORTSSL"));
    ui->l_tunnelMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_TUNNELMODE"));
    ui->cb_tunnelMode->setItemText(
        0, Text("/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_DEPENDTUNNELMODE"));
    ui->cb_tunnelMode->setItemText(1,
                                   Text("/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_QUICKTUNNELMODE"));
    ui->cb_tunnelMode->setItemText(
        2, Text("/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_ADAPTIONTUNNELMODE"));
    ui->cb_autoBest->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CHECKBOX_AUTOBEST"));
    ui->tw_serverAddress->setHeaderLabels({Text("/UI_PROFILEINFO/UI_PROFILEINFO_TREEWIDGET_IP"),
                                           Text("/UI_PROFILEINFO/UI_PROFILEINFO_TREEWIDGET_PORT"),
                                           Text("/UI_PROFILEINFO/UI_PROFILEINFO_TREEWIDGET_DEFAULT")});
    // The labels made the default-gateway column: only now can it take its width.
    ui->tw_serverAddress->setColumnWidth(2, kGatewayDefaultWidth);

    ui->gb_l2tpSetting->setTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_L2TPSETTING"));
    ui->l_connectNameIPSEC->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_CONNECTNAMEIPSEC"));
    ui->l_descriptionMsgIPSEC->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_DESCRIPTIONMSGIPSEC"));
    ui->l_LNSServer->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_LNSSERVERADDRESS"));
    ui->cb_useIPSEC->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CHECKBOX_USEIPSEC"));
    ui->rb_preShareKey->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_PRESHAREDKEY"));
    ui->rb_digitalSignature->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_DIGITALSIGNATURE"));
    ui->gb_tunnel->setTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GROUPBOX_TUNNELSETTING"));
    ui->l_tunnelName->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_TUNNELNAME"));
    ui->l_authMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_AUTHMODE"));
    ui->cb_useTunnel->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CHECKBOX_USETUNNEL"));
    ui->l_tunnelPassword->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_TUNNELPASSWORD"));
    ui->gb_router->setTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GROUPBOX_ROUTERSETTING"));
    ui->rb_ModeConfig->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_MODE_CONFIG"));
    ui->rb_HandConfig->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_HAND_CONFIG"));
    ui->cb_HandConfig->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_HAND_CONFIG"));
    ui->l_routerDNS->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ROUTERDNS"));
    ui->l_routerTip->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ROUTERTIP"));
    ui->tw_router->setHeaderLabels({Text("/UI_PROFILEINFO/UI_PROFILEINFO_TREEWIDGET_ROUTERIP"),
                                    Text("/UI_PROFILEINFO/UI_PROFILEINFO_TREEWIDGET_ROUTERMASK")});
    ui->l_IPSECServer->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_IPSECADDRESS"));
    ui->cb_LNSServer->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CHECKBOX_LNSADDRESS"));
    ui->l_encapMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ENCAPMODE"));
    ui->rb_encapTunnelMode->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_TUNNELENCAPMODE"));
    ui->rb_encapTransferMode->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_TRANSFERENCAPMODE"));
    ui->l_ESPAuthAlgo->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ESAUTHALGO"));
    ui->l_ESPEncryAlgo->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ESPENCRYALGO"));
    ui->gb_ipsecSetting->setTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_IPSECSETTING"));
    ui->gb_ikeSetting->setTitle(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GROUPBOX_IKESETTING"));
    ui->l_localGatewayName->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_LOCALGATEWAYNAME"));
    ui->l_remoteGatewayName->setText(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ROMOTEGATEWAYNAME"));
    ui->l_negoMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_NEGOMODE"));
    ui->rb_negoMainMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_MAINNEGOMODE"));
    ui->rb_negoBarMode->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_RADIOBUTTON_BARNEGOMODE"));
    ui->l_authAlgo->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_AUTHALGO"));
    ui->l_encryAlgo->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_ENCRYALGO"));
    ui->l_IDType->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_IDTYPE"));
    ui->cb_IDType->setItemText(0, Text("/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_IPIDTYPE"));
    ui->cb_IDType->setItemText(1, Text("/UI_PROFILEINFO/UI_PROFILEINFO_COMBOBOX_NAME"));
    ui->l_DHGroup->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_DHGROUP"));
    ui->gb_ikeSettingAdvanced->setTitle(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_GROUPBOX_IKESETTINGADVANCED"));
    ui->label->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_RANGE"));
    ui->label_2->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_RANGE2"));
    ui->l_sec3->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_SEC"));
    ui->l_sec4->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_SEC"));
    ui->cb_usePFS->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CHECKBOX_USEPFS"));
    ui->l_parameter->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PARAMETER"));
    ui->l_ikeSADuration->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_IKESADURATION"));
    ui->gb_ipsecSettingAdvanced->setTitle(
        Text("/UI_PROFILEINFO/UI_PROFILEINFO_GROUPBOX_IPSECSETTINGADVANCED"));
    ui->l_ipsecSADuration->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_IPSECSADURATION"));

    ui->pb_cancel->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_CANCEL"));
    ui->pb_save->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_SAVE"));
    ui->pb_ok->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_OK"));
    ui->pb_SetPriorGateway->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_SETDEFAULT_GATEWAY"));
    ui->cb_Certificate->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CERTIFICATE_ENABLE"));
    ui->label_Certificate->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CERTIFICATE_PASSWORD"));
    ui->l_tunnelModeTip->setToolTip(Text("/UI_PROFILEINFO/UI_PROFILEINFO_TUNNELMODE_TIP"));
    ui->l_gmalgorithmTip4->setToolTip(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GMALGORITHM_TIP"));
    ui->cb_gmalgorithm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_CB_GMSSL_ALGO"));
    ui->l_tunnelModeTip2->setToolTip(Text("/UI_PROFILEINFO/UI_PROFILEINFO_TUNNELMODE_TIP2"));

    ui->l_inputProfile->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_PROFILEFILE"));
    ui->pb_inputProfile->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_PUSHBUTTON_INPUTPROFILE"));

    setWindowTitle(UIContext::GetInstance()->GetNewConnect()
                       ? Text("/UI_PROFILEINFO/UI_PROFILEINFO_TITLE_CREATE")
                       : Text("/UI_PROFILEINFO/UI_PROFILEINFO_TITLE_NOCREATE"));
}

void ProfileInfoUI::SetToolTip() {
    const struct {
        QLineEdit* field;
        const char* key;
    } tips[] = {
        {ui->le_connectNameSSL, "/UI_PROFILEINFO/UI_PROFILEINFO_SSLNAME_TOOLTIP"},
        {ui->le_descriptionMsgSSL, "/UI_PROFILEINFO/UI_PROFILEINFO_SSLDESTRIPTION_TOOLTIP"},
        {ui->le_gatewayAddress, "/UI_PROFILEINFO/UI_PROFILEINFO_SSLGATEWAY_TOOLTIP"},
        {ui->le_port, "/UI_PROFILEINFO/UI_PROFILEINFO_SSLPORT_TOOLTIP"},
        {ui->le_connectNameIPSEC, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECNAME_TOOLTIP"},
        {ui->le_descriptionMsgIPSEC, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECDESTRIPTION_TOOLTIP"},
        {ui->le_LNSServer, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECLNSADDRESS_TOOLTIP"},
        {ui->le_tunnelName, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECTUNNELNAME_TOOLTIP"},
        {ui->le_tunnelPassword, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECTUNNELPSWD_TOOLTIP"},
        {ui->le_routerDNS, "/UI_PROFILEINFO/UI_PROFILEINFO_ROUTERDNS_TOOLTIP"},
        {ui->le_statusConfirm, "/UI_PROFILEINFO/UI_PROFILEINFO_STATUSCONFIRM_TOOLTIP"},
        {ui->le_IPSECServer, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECSERVER_TOOLTIP"},
        {ui->le_localGatewayName, "/UI_PROFILEINFO/UI_PROFILEINFO_LOCALGATEWAYNAME_TOOLTIP"},
        {ui->le_remoteGatewayName, "/UI_PROFILEINFO/UI_PROFILEINFO_REMOTEGATEWAYNAME_TOOLTIP"},
        {ui->le_ikeSADuration, "/UI_PROFILEINFO/UI_PROFILEINFO_IKESADURATION_TOOLTIP"},
        {ui->le_ipsecSADuration, "/UI_PROFILEINFO/UI_PROFILEINFO_IPSECSADURATION_TOOLTIP"},
    };
    for (const auto& tip : tips) {
        tip.field->setToolTip(Text(tip.key));
    }
}

// ---- Byte caps -------------------------------------------------------------------------
// A name or description exists twice, once per page, and the two stay equal while the
// user types on one page; the field of the page not in view only records what it gets.

void ProfileInfoUI::CapText(QLineEdit* field, int cap, QString& lastAccepted, QLineEdit* twin,
                            int page, const QString& text) {
    const bool inView = page == kAnyPage || ui->stackedWidget->currentIndex() == page;
    if (Util_CheckUtf8Length(text, cap)) {
        lastAccepted = text;
        if (twin != nullptr && inView) {
            twin->setText(text);
        }
        return;
    }
    if (!inView) {
        return;
    }
    // Setting the field back runs this slot again with a text within the cap.
    field->setText(lastAccepted);
    if (twin != nullptr) {
        twin->setText(lastAccepted);
    }
}

void ProfileInfoUI::on_le_connectNameSSL_textChanged(QString text) {
    CapText(ui->le_connectNameSSL, kNameCap, d->lastAcceptedConnectNameSSL,
            ui->le_connectNameIPSEC, kPageSSL, text);
}

void ProfileInfoUI::on_le_connectNameIPSEC_textChanged(QString text) {
    CapText(ui->le_connectNameIPSEC, kNameCap, d->lastAcceptedConnectNameIPSEC,
            ui->le_connectNameSSL, kPageIPSec, text);
}

void ProfileInfoUI::on_le_descriptionMsgSSL_textChanged(QString text) {
    CapText(ui->le_descriptionMsgSSL, kDescriptionCap, d->lastAcceptedDescriptionMsgSSL,
            ui->le_descriptionMsgIPSEC, kPageSSL, text);
}

void ProfileInfoUI::on_le_descriptionMsgIPSEC_textChanged(QString text) {
    CapText(ui->le_descriptionMsgIPSEC, kDescriptionCap, d->lastAcceptedDescriptionMsgIPSEC,
            ui->le_descriptionMsgSSL, kPageIPSec, text);
}

void ProfileInfoUI::on_le_localGatewayName_textChanged(QString text) {
    CapText(ui->le_localGatewayName, kGatewayNameCap, d->lastAcceptedLocalGatewayName, nullptr,
            kAnyPage, text);
}

void ProfileInfoUI::on_le_remoteGatewayName_textChanged(QString text) {
    CapText(ui->le_remoteGatewayName, kGatewayNameCap, d->lastAcceptedRemoteGatewayName, nullptr,
            kAnyPage, text);
}

// ---- GM certificate rows ---------------------------------------------------------------
// The rows stay hidden: nothing stores their paths yet. The check box's state is taken
// when the record is built.

void ProfileInfoUI::ChooseCertificate(QLineEdit* field) {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open Document"), QDir::currentPath(),
        QStringLiteral("Document All files(*.*)"));
    if (!path.isNull()) {
        field->setText(path);
    }
}

void ProfileInfoUI::ProfileInfoUI_sign_certificate_select() {
    ChooseCertificate(ui->sign_certificate);
}

void ProfileInfoUI::ProfileInfoUI_encryption_certificate_select() {
    ChooseCertificate(ui->encryption_certificate);
}

void ProfileInfoUI::ProfileInfoUI_Gmalgorithm_Click() { (void)ui->cb_gmalgorithm->isChecked(); }

void ProfileInfoUI::ProfileInfoUI_sign_certificate_clear() { ui->sign_certificate->clear(); }

void ProfileInfoUI::ProfileInfoUI_encrypto_certificate_clear() {
    ui->encryption_certificate->clear();
}

void ProfileInfoUI::ProfileInfoUI_GmSSL_Status_Set(bool bType) {
    for (QWidget* row :
         {static_cast<QWidget*>(ui->label_3), static_cast<QWidget*>(ui->sign_certificate),
          static_cast<QWidget*>(ui->pb_sign_certificate), static_cast<QWidget*>(ui->pb_sign_clear),
          static_cast<QWidget*>(ui->label_4), static_cast<QWidget*>(ui->encryption_certificate),
          static_cast<QWidget*>(ui->pb_encryption_certificate),
          static_cast<QWidget*>(ui->pb_encrypto_clear)}) {
        row->setVisible(bType);
    }
}

// ---- Not built yet ---------------------------------------------------------------------
// The gateway list, the IPSec choices and routes, the checks, and writing, reading,
// importing and exporting profiles. Each is declared and connected already; until it is
// built it only says so in the log.

namespace {
void NotBuilt(const char* slot) {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[%1][not built yet]").arg(QLatin1String(slot)));
}
}  // namespace

void ProfileInfoUI::ProfileInfoUI_MenuOutput_Click() { NotBuilt("ProfileInfoUI_MenuOutput_Click"); }

void ProfileInfoUI::ProfileInfoUI_BestAdd_Click() { NotBuilt("ProfileInfoUI_BestAdd_Click"); }

void ProfileInfoUI::ProfileInfoUI_SSLConnect_DelServer() {
    NotBuilt("ProfileInfoUI_SSLConnect_DelServer");
}

void ProfileInfoUI::ProfileInfoUI_SSLConnect_AddServer(QString /*address*/, QString /*port*/) {
    NotBuilt("ProfileInfoUI_SSLConnect_AddServer");
}

void ProfileInfoUI::ProfileInfoUI_NewVPNNetwork_Show() {
    NotBuilt("ProfileInfoUI_NewVPNNetwork_Show");
}

void ProfileInfoUI::ProfileInfoUI_IPSECConnect_DelIP() {
    NotBuilt("ProfileInfoUI_IPSECConnect_DelIP");
}

void ProfileInfoUI::ProfileInfoUI_IPSECConnect_AddIP(QString /*ip*/, QString /*mask*/) {
    NotBuilt("ProfileInfoUI_IPSECConnect_AddIP");
}

void ProfileInfoUI::ProfileInfoUI_IPSec_Use() { NotBuilt("ProfileInfoUI_IPSec_Use"); }

void ProfileInfoUI::ProfileInfoUI_Tunnel_Use() { NotBuilt("ProfileInfoUI_Tunnel_Use"); }

void ProfileInfoUI::ProfileInfoUI_autoBest() { NotBuilt("ProfileInfoUI_autoBest"); }

void ProfileInfoUI::ProfileInfoUI_Router_Use() { NotBuilt("ProfileInfoUI_Router_Use"); }

void ProfileInfoUI::on_rb_ModeConfig_clicked() { NotBuilt("on_rb_ModeConfig_clicked"); }

void ProfileInfoUI::on_rb_HandConfig_clicked() { NotBuilt("on_rb_HandConfig_clicked"); }

void ProfileInfoUI::ProfileInfoUI_PreSharedKey_Use() { NotBuilt("ProfileInfoUI_PreSharedKey_Use"); }

void ProfileInfoUI::ProfileInfoUI_USBKey_Use() { NotBuilt("ProfileInfoUI_USBKey_Use"); }

void ProfileInfoUI::ProfileInfoUI_IKEPFS_Use() { NotBuilt("ProfileInfoUI_IKEPFS_Use"); }

bool ProfileInfoUI::ProfileInfoUI_SSLConnect_WriteInit(QString /*name*/) {
    NotBuilt("ProfileInfoUI_SSLConnect_WriteInit");
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_IPSECConnect_WriteInit(QString /*name*/) {
    NotBuilt("ProfileInfoUI_IPSECConnect_WriteInit");
    return false;
}

void ProfileInfoUI::ProfileInfoUI_Connect_Create() { NotBuilt("ProfileInfoUI_Connect_Create"); }

void ProfileInfoUI::ProfileInfoUI_Connect_Save() { NotBuilt("ProfileInfoUI_Connect_Save"); }

void ProfileInfoUI::ProfileInfoUI_IPSec_MainMode_Choice() {
    NotBuilt("ProfileInfoUI_IPSec_MainMode_Choice");
}

void ProfileInfoUI::ProfileInfoUI_IPSec_AggressiveMode_Choice() {
    NotBuilt("ProfileInfoUI_IPSec_AggressiveMode_Choice");
}

void ProfileInfoUI::ProfileInfoUI_IPSec_ID_Choice(int /*index*/) {
    NotBuilt("ProfileInfoUI_IPSec_ID_Choice");
}

void ProfileInfoUI::ProfileInfoUI_Profile_Input() { NotBuilt("ProfileInfoUI_Profile_Input"); }

void ProfileInfoUI::on_le_tunnelPassword_textEdited(QString /*text*/) {
    NotBuilt("on_le_tunnelPassword_textEdited");
}

void ProfileInfoUI::on_le_statusConfirm_textEdited(QString /*text*/) {
    NotBuilt("on_le_statusConfirm_textEdited");
}

void ProfileInfoUI::on_pb_SetPriorGateway_clicked() { NotBuilt("on_pb_SetPriorGateway_clicked"); }

void ProfileInfoUI::on_cb_LNSServer_stateChanged(int /*state*/) {
    NotBuilt("on_cb_LNSServer_stateChanged");
}

bool ProfileInfoUI::ProfileInfoUI_Profile_Read(const QByteArray& /*name*/, LINK_TYPE /*type*/) {
    NotBuilt("ProfileInfoUI_Profile_Read");
    return false;
}
