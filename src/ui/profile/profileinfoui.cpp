// The connection-profile dialog: its frame (menu, pages, modes, the sub-menu that follows
// the scroll position), its texts, the byte caps of its text fields and the GM
// certificate rows.

#include "profileinfoui.h"

#include <algorithm>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QIntValidator>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegExp>
#include <QRegExpValidator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTreeWidget>

#include "UIConstants"
#include "ddm_log.h"
#include "languagesetting.h"
#include "newvpnnetwork.h"
#include "profileinfouiprivate.h"
#include "profilevalues.h"
#include "servicelink.h"
#include "ui_profileinfoui.h"
#include "uicontext.h"
#include "uifield.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// The byte caps of the record fields the capped edits end in (NUL included).
constexpr int kNameCap = 127;
constexpr int kDescriptionCap = 255;
constexpr int kGatewayNameCap = 512;
constexpr int kTunnelNameCap = 127;
constexpr int kTunnelPasswordCap = 127;
constexpr int kPreSharedKeyCap = 128;

// Lengths in characters and the bounds of the number fields.
constexpr int kNameLength = 127;
constexpr int kDescriptionLength = 255;
constexpr int kAddressLength = 127;
constexpr int kTunnelNameLength = 127;
constexpr int kTunnelPasswordLength = 127;
constexpr int kPreSharedKeyLength = 128;
constexpr int kDnsSuffixLength = 63;
constexpr int kGatewayNameLength = 512;
constexpr int kPortMin = 0;
constexpr int kPortMax = 65535;
constexpr int kIkeLifetimeMin = 60;
constexpr int kIpsecLifetimeMin = 30;
constexpr int kLifetimeMax = 604800;

// Host names as the gateway and server fields take them.
constexpr int kHostNameMin = 3;
constexpr int kHostNameMax = 63;
const char kHttpPrefix[] = "http://";
constexpr int kHttpPrefixLength = 7;

// Where the service keeps one file per profile, under the home folder.
const char kProfileFolder[] = "/.VanTrelo/config";

// The gateway list: the add button stops at 15 rows (a read profile may bring 16).
constexpr int kGatewayRowsMax = 15;
constexpr int kGatewayAddressColumn = 0;
constexpr int kGatewayPortColumn = 1;
constexpr int kGatewayDefaultColumn = 2;

// The route list holds as many rows as the record has route entries.
constexpr int kRouteRowsMax = 64;
constexpr int kRouteAddressColumn = 0;
constexpr int kRouteMaskColumn = 1;

// Items of the identity type and of the IKE hash.
constexpr int kIdTypeIp = 0;
constexpr int kIdTypeName = 1;
constexpr int kIkeHashesWithoutSha256 = 2;
constexpr int kIkeHashSha256 = 2;

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

    // The tunnel name and the two secrets are capped in bytes like the names, and from
    // the same moment, so that a text the dialog puts in (a read profile) is the one an
    // over-cap change goes back to.
    connect(ui->le_tunnelName, &QLineEdit::textChanged, this, [this](const QString& text) {
        CapText(ui->le_tunnelName, kTunnelNameCap, d->lastAcceptedTunnelName, nullptr, kAnyPage,
                text);
    });
    connect(ui->le_tunnelPassword, &QLineEdit::textChanged, this, [this](const QString& text) {
        CapText(ui->le_tunnelPassword, kTunnelPasswordCap, d->lastAcceptedTunnelPassword, nullptr,
                kAnyPage, text);
    });
    connect(ui->le_statusConfirm, &QLineEdit::textChanged, this, [this](const QString& text) {
        CapText(ui->le_statusConfirm, kPreSharedKeyCap, d->lastAcceptedStatusConfirm, nullptr,
                kAnyPage, text);
    });

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

// ---- Input control ---------------------------------------------------------------------

void ProfileInfoUI::SetInputControl() {
    ui->le_connectNameSSL->setMaxLength(kNameLength);
    Util_SetAccountValidator(ui->le_connectNameSSL);
    ui->le_connectNameIPSEC->setMaxLength(kNameLength);
    Util_SetAccountValidator(ui->le_connectNameIPSEC);
    ui->le_descriptionMsgSSL->setMaxLength(kDescriptionLength);
    ui->le_descriptionMsgIPSEC->setMaxLength(kDescriptionLength);
    ui->le_gatewayAddress->setMaxLength(kAddressLength);
    ui->le_port->setValidator(new QIntValidator(kPortMin, kPortMax, ui->le_port));
    ui->le_LNSServer->setMaxLength(kAddressLength);
    ui->le_IPSECServer->setMaxLength(kAddressLength);
    ui->le_tunnelName->setMaxLength(kTunnelNameLength);
    Util_SetNoChineseValidator(ui->le_tunnelName);
    ui->le_routerDNS->setMaxLength(kDnsSuffixLength);
    ui->le_localGatewayName->setMaxLength(kGatewayNameLength);
    ui->le_remoteGatewayName->setMaxLength(kGatewayNameLength);
    ui->le_ikeSADuration->setValidator(
        new QIntValidator(kIkeLifetimeMin, kLifetimeMax, ui->le_ikeSADuration));
    ui->le_ipsecSADuration->setValidator(
        new QIntValidator(kIpsecLifetimeMin, kLifetimeMax, ui->le_ipsecSADuration));

    // The secrets can be typed, never copied out or pasted in: the filter refuses the key
    // sequences and the middle button's selection paste, and there is no menu to do it.
    const struct {
        QLineEdit* field;
        int length;
    } secrets[] = {{ui->le_tunnelPassword, kTunnelPasswordLength},
                   {ui->le_statusConfirm, kPreSharedKeyLength}};
    for (const auto& secret : secrets) {
        secret.field->setMaxLength(secret.length);
        Util_SetNoChineseValidator(secret.field);
        secret.field->setContextMenuPolicy(Qt::NoContextMenu);
        secret.field->installEventFilter(this);
    }
}

// ---- Event filter ----------------------------------------------------------------------

namespace {

// The decimal value of a lifetime field; 0 for a text that is not a number.
qint64 LifetimeValue(const QLineEdit* field) {
    bool ok = false;
    const qint64 value = field->text().toLongLong(&ok, 10);
    return ok ? value : 0;
}

}  // namespace

bool ProfileInfoUI::eventFilter(QObject* watched, QEvent* event) {
    const bool bottomButton =
        watched == ui->pb_cancel || watched == ui->pb_ok || watched == ui->pb_save;
    if (bottomButton && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Left) {
            if (!ui->pb_cancel->hasFocus() && (ui->pb_save->hasFocus() || ui->pb_ok->hasFocus())) {
                ui->pb_cancel->setFocus(Qt::OtherFocusReason);
            }
            return true;
        }
        if (key == Qt::Key_Right) {
            // Only one of the two confirm buttons is shown: the focus ends on that one.
            if (ui->pb_cancel->hasFocus()) {
                ui->pb_save->setFocus(Qt::OtherFocusReason);
                ui->pb_ok->setFocus(Qt::OtherFocusReason);
            }
            return true;
        }
    }

    if (event->type() == QEvent::FocusOut) {
        if (watched == ui->le_ikeSADuration && LifetimeValue(ui->le_ikeSADuration) < kIkeLifetimeMin) {
            ui->le_ikeSADuration->setText(QString::number(kIkeLifetimeMin));
        } else if (watched == ui->le_ipsecSADuration &&
                   LifetimeValue(ui->le_ipsecSADuration) < kIpsecLifetimeMin) {
            ui->le_ipsecSADuration->setText(QString::number(kIpsecLifetimeMin));
        }
    }

    if (watched == ui->le_statusConfirm || watched == ui->le_tunnelPassword) {
        if (event->type() == QEvent::KeyPress) {
            const auto* keyEvent = static_cast<QKeyEvent*>(event);
            if (keyEvent->matches(QKeySequence::Paste) || keyEvent->matches(QKeySequence::Copy)) {
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
            return true;
        }
    }

    // Scrolling the page over a combo box must not change the choice under the pointer.
    if (event->type() == QEvent::Wheel &&
        (watched == ui->cb_authMode || watched == ui->cb_ESPAuthAlgo ||
         watched == ui->cb_ESPEncryAlgo || watched == ui->cb_authAlgo ||
         watched == ui->cb_encryAlgo || watched == ui->cb_DHGroup ||
         watched == ui->cb_tunnelMode)) {
        return true;
    }

    return basewidget::eventFilter(watched, event);
}

// Set only by typing: a placeholder the program puts in does not count as a new secret.
void ProfileInfoUI::on_le_tunnelPassword_textEdited(QString /*text*/) {
    d->tunnelPasswordEdited = true;
}

void ProfileInfoUI::on_le_statusConfirm_textEdited(QString /*text*/) {
    d->preSharedKeyEdited = true;
}

// ---- Checks ----------------------------------------------------------------------------

bool ProfileInfoUI::ProfileInfoUI_IPAddress_Check(const QString& text) const {
    static const QRegularExpression quad(QRegularExpression::anchoredPattern(
        QStringLiteral("((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)")));
    static const QRegularExpression digits(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{0,127}")));
    return quad.match(text).hasMatch() || digits.match(text).hasMatch();
}

namespace {

bool IsAsciiLetter(QChar c) {
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool IsAsciiDigit(QChar c) {
    const ushort u = c.unicode();
    return u >= '0' && u <= '9';
}

}  // namespace

bool ProfileInfoUI::ProfileInfoUI_DomainName_Check(const QString& text) const {
    const int length = text.size();
    if (length < kHostNameMin || length > kHostNameMax) {
        return false;
    }
    const auto badEnd = [](QChar c) {
        return c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('/');
    };
    if (badEnd(text.front()) || badEnd(text.back())) {
        return false;
    }
    bool dot = false;
    for (int i = 1; i < length - 1; ++i) {
        const QChar c = text[i];
        const bool allowed = IsAsciiLetter(c) || IsAsciiDigit(c) || c == QLatin1Char('-') ||
                             c == QLatin1Char('.') || c == QLatin1Char('/') ||
                             c == QLatin1Char(':');
        if (!allowed) {
            return false;
        }
        const QChar next = text[i + 1];
        if ((c == QLatin1Char('-') || c == QLatin1Char('.')) && next == c) {
            return false;
        }
        dot = dot || c == QLatin1Char('.');
    }
    if (!dot) {
        return false;
    }
    const QString last = text.mid(text.lastIndexOf(QLatin1Char('.')) + 1);
    return std::any_of(last.cbegin(), last.cend(), IsAsciiLetter);
}

bool ProfileInfoUI::ProfileInfoUI_ProfileName_IsFree(const QString& name) {
    const QString wanted = name.toLower() + QLatin1String(".ini");
    const QString folder = QDir::homePath() + QLatin1String(kProfileFolder);
    Util_WriteLog(0, DDM_LOG_INFO, "[Prpfile path][systemPath :" + folder + "]");
    const QDir dir(folder);
    if (!dir.exists()) {
        return true;
    }
    // The filter ignores case, as the comparison does: "OFFICE.INI" names "office" too.
    const QStringList entries = dir.entryList({QStringLiteral("*.ini")},
                                              QDir::AllEntries | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.toLower() == wanted) {
            return false;
        }
    }
    return true;
}

QLineEdit* ProfileInfoUI::NameFieldInView() const {
    switch (ui->stackedWidget->currentIndex()) {
    case kPageSSL:
        return ui->le_connectNameSSL;
    case kPageIPSec:
        return ui->le_connectNameIPSEC;
    default:
        return nullptr;
    }
}

bool ProfileInfoUI::ProfileInfoUI_ConnectName_Check(const QString& name) {
    // A blank name is refused in every mode: the profile would take the file name of the
    // connection the dialog was opened on, or be the nameless ".ini" no list shows.
    if (name.trimmed().isEmpty()) {
        Util_SetErrorStyle(NameFieldInView());
        return false;
    }
    // A browser drives the client in plugin mode: it asks no question about taken names.
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        return true;
    }
    if (ProfileInfoUI_ProfileName_IsFree(name)) {
        return true;
    }
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(QMessageBox::Critical, global.ERROR,
                    Text("/UI_PROFILEINFO/UI_PROFILEINFO_CONNECTIONNAME_EXIST"),
                    QMessageBox::NoButton, this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.addButton(global.OK, QMessageBox::AcceptRole);
    box.exec();
    if (QLineEdit* field = NameFieldInView()) {
        field->clear();
        Util_SetErrorStyle(field);
    }
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_SSLGateway_NullCheck() {
    if (!ui->le_gatewayAddress->text().isEmpty() || ui->tw_serverAddress->topLevelItemCount() > 0) {
        return true;
    }
    Util_SetErrorStyle(ui->le_gatewayAddress);
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_Port_NullCheck() {
    if (!ui->le_port->text().isEmpty() || ui->tw_serverAddress->topLevelItemCount() > 0) {
        return true;
    }
    Util_SetErrorStyle(ui->le_port);
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_LNSServer_NullCheck() {
    if (!ui->le_LNSServer->text().isEmpty()) {
        return true;
    }
    Util_SetErrorStyle(ui->le_LNSServer);
    return false;
}

// The two GM certificates come as a pair or not at all.
bool ProfileInfoUI::ProfileInfoUI_GmCertificate_Check() {
    if (!ui->cb_gmalgorithm->isChecked()) {
        return true;
    }
    const bool sign = !ui->sign_certificate->text().isEmpty();
    const bool encryption = !ui->encryption_certificate->text().isEmpty();
    if (sign == encryption) {
        return true;
    }
    Util_SetErrorStyle(sign ? ui->encryption_certificate : ui->sign_certificate);
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_IPSECFields_Check(const QString& tunnelName) {
    bool ok = true;
    if (tunnelName.trimmed().isEmpty()) {
        Util_SetErrorStyle(ui->le_tunnelName);
        ok = false;
    }
    if (ui->cb_useTunnel->isChecked() && ui->le_tunnelPassword->text().isEmpty()) {
        Util_SetErrorStyle(ui->le_tunnelPassword);
        ok = false;
    }
    const bool ipsec = ui->cb_useIPSEC->isChecked();
    if (ipsec && ui->le_statusConfirm->text().isEmpty() && ui->rb_preShareKey->isChecked()) {
        Util_SetErrorStyle(ui->le_statusConfirm);
        ok = false;
    }
    if (ipsec && ui->rb_negoBarMode->isChecked() && ui->cb_IDType->currentIndex() == kIdTypeName) {
        for (QLineEdit* name : {ui->le_localGatewayName, ui->le_remoteGatewayName}) {
            if (name->text().isEmpty()) {
                Util_SetErrorStyle(name);
                ok = false;
            }
        }
    }
    return ok;
}

bool ProfileInfoUI::ProfileInfoUI_SSLConnect_Check(int mode) {
    ProfileInfoUI_SSLErrorStyle_Clear();
    bool ok = true;
    if (mode == 0 && !ProfileInfoUI_ConnectName_Check(ui->le_connectNameSSL->text())) {
        ok = false;
    }
    if (!ProfileInfoUI_SSLGateway_NullCheck()) {
        ok = false;
    }
    if (!ProfileInfoUI_Port_NullCheck()) {
        ok = false;
    }
    const QString address = ui->le_gatewayAddress->text();
    if (!address.isEmpty()) {
        if (ProfileInfoUI_IPAddress_Check(address) || ProfileInfoUI_DomainName_Check(address)) {
            if (!ProfileInfoUI_Gateway_IsNew(address)) {
                ok = false;
            }
        } else {
            ui->le_gatewayAddress->clear();
            Util_SetErrorStyle(ui->le_gatewayAddress);
            ok = false;
        }
    }
    if (!ProfileInfoUI_GmCertificate_Check()) {
        ok = false;
    }
    return ok;
}

bool ProfileInfoUI::ProfileInfoUI_IPSECConnect_Check(int mode) {
    ProfileInfoUI_IPSECErrorStyle_Clear();
    bool ok = true;
    if (mode == 0 && !ProfileInfoUI_ConnectName_Check(ui->le_connectNameIPSEC->text())) {
        ok = false;
    }
    if (!ProfileInfoUI_LNSServer_NullCheck()) {
        ok = false;
    }
    // The empty text passes here as a string of no digits; the step above failed it.
    const QString lns = ui->le_LNSServer->text();
    if (!ProfileInfoUI_IPAddress_Check(lns) && !ProfileInfoUI_DomainName_Check(lns)) {
        ui->le_LNSServer->clear();
        Util_SetErrorStyle(ui->le_LNSServer);
        ok = false;
    }
    if (!ProfileInfoUI_IPSECFields_Check(ui->le_tunnelName->text())) {
        ok = false;
    }
    if (!ui->cb_LNSServer->isChecked() && ui->le_IPSECServer->isEnabled()) {
        const QString server = ui->le_IPSECServer->text();
        if (server.isEmpty() ||
            (!ProfileInfoUI_IPAddress_Check(server) && !ProfileInfoUI_DomainName_Check(server))) {
            Util_SetErrorStyle(ui->le_IPSECServer);
            ok = false;
        }
    }
    return ok;
}

void ProfileInfoUI::ProfileInfoUI_SSLErrorStyle_Clear() {
    for (QWidget* field : {ui->le_connectNameSSL, ui->le_gatewayAddress, ui->le_port}) {
        Util_ClearErrorStyle(field);
    }
}

void ProfileInfoUI::ProfileInfoUI_IPSECErrorStyle_Clear() {
    for (QWidget* field :
         {ui->le_connectNameIPSEC, ui->le_LNSServer, ui->le_tunnelName, ui->le_tunnelPassword,
          ui->le_statusConfirm, ui->le_IPSECServer, ui->le_localGatewayName,
          ui->le_remoteGatewayName, ui->le_routerDNS, ui->le_ikeSADuration,
          ui->le_ipsecSADuration}) {
        Util_ClearErrorStyle(field);
    }
}

// ---- Messages --------------------------------------------------------------------------

void ProfileInfoUI::ShowOwnBox(QMessageBox::Icon icon, const char* key) {
    const GLOBALLANG global = LanguageSetting::GetInstance()->GetGlobalLang();
    QMessageBox box(icon, global.WARNING, Text(key), QMessageBox::NoButton, this,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.addButton(global.OK, QMessageBox::AcceptRole);
    box.exec();
}

// ---- SSL gateway list ------------------------------------------------------------------
// The default gateway is the row whose position the private index holds; that row shows
// the mark in its third column.

namespace {

QString WithoutHttpPrefix(const QString& address) {
    return address.startsWith(QLatin1String(kHttpPrefix)) ? address.mid(kHttpPrefixLength)
                                                          : address;
}

}  // namespace

void ProfileInfoUI::ProfileInfoUI_BestAdd_Click() {
    if (ui->tw_serverAddress->topLevelItemCount() >= kGatewayRowsMax) {
        Util_ShowWarning(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GATEWAYIP_MAX"), QString(), -1);
        return;
    }
    QString address = ui->le_gatewayAddress->text();
    const QString port = ui->le_port->text();
    if (!ProfileInfoUI_GatewayPort_Check(address, port)) {
        return;
    }
    if (!ProfileInfoUI_IPAddress_Check(address) && !ProfileInfoUI_DomainName_Check(address)) {
        ui->le_gatewayAddress->clear();
        Util_ShowWarning(Text("/UI_PROFILEINFO/UI_PROFILEINFO_GATEWAYIP_FAIL"), QString(), -1);
        return;
    }
    ProfileInfoUI_IPText_Normalize(address);
    // The row will hold the address without its "http://": that is the text a duplicate
    // must be looked for, or "http://h.example" would list h.example a second time.
    if (!ProfileInfoUI_Gateway_IsNew(WithoutHttpPrefix(address))) {
        return;
    }
    if (ui->w_best->isHidden()) {
        ui->w_best->show();
    }
    ProfileInfoUI_SSLConnect_AddServer(address, port);
    ui->le_gatewayAddress->clear();
    ui->label_7->hide();
}

bool ProfileInfoUI::ProfileInfoUI_GatewayPort_Check(const QString& address, const QString& port) {
    if (!address.isEmpty() && !port.isEmpty()) {
        return true;
    }
    ShowOwnBox(QMessageBox::Critical, address.isEmpty()
                                          ? "/UI_PROFILEINFO/UI_PROFILEINFO_GATEWAYIP_EMPTY"
                                          : "/UI_PROFILEINFO/UI_PROFILEINFO_PORT_EMPTY");
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_Gateway_IsNew(const QString& address) {
    for (int row = 0; row < ui->tw_serverAddress->topLevelItemCount(); ++row) {
        if (ui->tw_serverAddress->topLevelItem(row)->text(kGatewayAddressColumn) == address) {
            ShowOwnBox(QMessageBox::Critical, "/UI_PROFILEINFO/UI_PROFILEINFO_GATEWAYIP_EXIST");
            ui->le_gatewayAddress->clear();
            return false;
        }
    }
    return true;
}

void ProfileInfoUI::ProfileInfoUI_IPText_Normalize(QString& text) const {
    QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    for (QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String("00") || part == QLatin1String("000")) {
            part = QStringLiteral("0");
        }
    }
    text = parts.join(QLatin1Char('.'));
}

void ProfileInfoUI::ProfileInfoUI_SSLConnect_AddServer(QString address, QString port) {
    auto* row = new QTreeWidgetItem;
    row->setText(kGatewayAddressColumn, WithoutHttpPrefix(address));
    row->setText(kGatewayPortColumn, port);
    row->setText(kGatewayDefaultColumn, QString());
    ui->tw_serverAddress->addTopLevelItem(row);
    const int count = ui->tw_serverAddress->topLevelItemCount();
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[ProfileInfo ui add ssl address][count is " + QString::number(count) + "]");
    if (d->defaultGatewayIndex == -1 && count == 1) {
        row->setText(kGatewayDefaultColumn, Text("/UI_PROFILEINFO/UI_PROFILEINFO_DEFAULT_GATEWAY"));
        d->defaultGatewayIndex = 0;
    }
}

void ProfileInfoUI::ProfileInfoUI_SSLConnect_DelServer() {
    QTreeWidget* list = ui->tw_serverAddress;
    // Items, not positions: each removal moves the rows below it up.
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty()) {
        ShowOwnBox(QMessageBox::Warning, "/UI_PROFILEINFO/UI_PROFILEINFO_SELECT_EMPTY");
        return;
    }
    for (QTreeWidgetItem* item : selected) {
        list->setCurrentItem(item);
        const int row = list->indexOfTopLevelItem(item);
        const bool wasDefault = row == d->defaultGatewayIndex;
        delete list->takeTopLevelItem(row);
        if (wasDefault) {
            if (list->topLevelItemCount() > 0) {
                list->topLevelItem(0)->setText(kGatewayDefaultColumn,
                                               Text("/UI_PROFILEINFO/UI_PROFILEINFO_DEFAULT_GATEWAY"));
                d->defaultGatewayIndex = 0;
                Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[The default gateway number is 0.]"));
            }
        } else if (row < d->defaultGatewayIndex) {
            --d->defaultGatewayIndex;
        }
    }
    if (list->topLevelItemCount() == 0) {
        d->defaultGatewayIndex = -1;
        ui->w_best->hide();
        ui->label_7->show();
    }
}

void ProfileInfoUI::on_pb_SetPriorGateway_clicked() {
    QTreeWidget* list = ui->tw_serverAddress;
    QTreeWidgetItem* current = list->currentItem();
    if (current == nullptr) {
        return;
    }
    if (QTreeWidgetItem* old = list->topLevelItem(d->defaultGatewayIndex)) {
        old->setText(kGatewayDefaultColumn, QString());
    }
    current->setText(kGatewayDefaultColumn, Text("/UI_PROFILEINFO/UI_PROFILEINFO_DEFAULT_GATEWAY"));
    d->defaultGatewayIndex = list->indexOfTopLevelItem(current);
}

// With the automatic choice the client picks the gateway; the default is kept for when it
// is switched off again.
void ProfileInfoUI::ProfileInfoUI_autoBest() {
    ui->pb_SetPriorGateway->setEnabled(!ui->cb_autoBest->isChecked());
}

// ---- L2TP/IPSec page -------------------------------------------------------------------
// Only the user's clicks reach most of these slots; a field set from code keeps its
// dependants as they are, except the IPSec server switch and the identity type, which
// follow every change.

void ProfileInfoUI::ProfileInfoUI_IPSec_Use() {
    QWidget* ipsecParts[] = {ui->w_ipsecEnable, ui->gb_ipsecSetting, ui->gb_ikeSetting,
                             ui->gb_ipsecSettingAdvanced, ui->gb_ikeSettingAdvanced,
                             ui->pb_ipsecIPSec};
    if (ui->cb_useIPSEC->isChecked()) {
        ui->w_ipsec->show();
        for (QWidget* part : ipsecParts) {
            part->setEnabled(true);
        }
        ui->pb_ipsecIPSec->setStyleSheet(d->subMenuStyleOther);
        // With IPSec the route mode is the pair of choices, starting at Mode Config.
        ui->w_RouteMode->show();
        ui->rb_ModeConfig->click();
        ui->cb_HandConfig->hide();
    } else {
        Util_ClearErrorStyle(ui->le_statusConfirm);
        ui->w_ipsec->hide();
        for (QWidget* part : ipsecParts) {
            part->setEnabled(false);
        }
        ui->pb_ipsecIPSec->setStyleSheet(d->subMenuStyleDisabled);
        ui->pb_ipsecIPSec->setIcon(QIcon(*d->grayDotIcon));
        ui->w_RouteMode->hide();
        ui->cb_HandConfig->show();
        // Without IPSec the single box takes over the last choice of the pair.
        if (ui->rb_HandConfig->isChecked() != ui->cb_HandConfig->isChecked()) {
            ui->cb_HandConfig->click();
        }
    }
    // Last, so that a slot run from here finds the page complete.
    QCoreApplication::processEvents();
}

void ProfileInfoUI::ProfileInfoUI_Tunnel_Use() {
    const bool use = ui->cb_useTunnel->isChecked();
    if (!use) {
        Util_ClearErrorStyle(ui->le_tunnelPassword);
    }
    for (QWidget* w : {static_cast<QWidget*>(ui->l_tunnelPassword),
                       static_cast<QWidget*>(ui->le_tunnelPassword),
                       static_cast<QWidget*>(ui->label_13)}) {
        w->setEnabled(use);
    }
    QCoreApplication::processEvents();
}

// The key field names the pre-shared key, or the USB key's PIN, which the key itself asks
// for: the field is then only shown, with its text kept for a return to the shared key.
void ProfileInfoUI::ProfileInfoUI_PreSharedKey_Use() {
    if (ui->rb_preShareKey->isChecked()) {
        ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_STATUSCONFIRM"));
        ui->l_statusConfirm->setEnabled(true);
        ui->le_statusConfirm->setEnabled(true);
        if (ui->cb_authAlgo->count() == kIkeHashesWithoutSha256) {
            ui->cb_authAlgo->addItem(QStringLiteral("SHA2-256"));
            ui->cb_authAlgo->setCurrentIndex(kIkeHashSha256);
        }
    } else if (ui->rb_digitalSignature->isChecked()) {
        ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_USBPIN"));
        ui->l_statusConfirm->setEnabled(false);
        ui->le_statusConfirm->setEnabled(false);
    }
}

// A USB key signs with SHA-1 or MD5 only.
void ProfileInfoUI::ProfileInfoUI_USBKey_Use() {
    if (ui->rb_preShareKey->isChecked()) {
        ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_STATUSCONFIRM"));
        ui->l_statusConfirm->setEnabled(true);
        ui->le_statusConfirm->setEnabled(true);
    } else if (ui->rb_digitalSignature->isChecked()) {
        Util_ClearErrorStyle(ui->le_statusConfirm);
        ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_USBPIN"));
        ui->l_statusConfirm->setEnabled(false);
        ui->le_statusConfirm->setEnabled(false);
        if (ui->cb_authAlgo->count() == kIkeHashesWithoutSha256 + 1) {
            ui->cb_authAlgo->removeItem(kIkeHashSha256);
            ui->cb_authAlgo->setCurrentIndex(0);
        }
    }
}

// The PFS group keeps its choice while PFS is off.
void ProfileInfoUI::ProfileInfoUI_IKEPFS_Use() {
    const bool use = ui->cb_usePFS->isChecked();
    ui->l_parameter->setEnabled(use);
    ui->cb_parameter->setEnabled(use);
}

namespace {

void EmptyAndDisable(QLineEdit* field, bool unmark) {
    if (unmark) {
        Util_ClearErrorStyle(field);
    }
    field->clear();
    field->setEnabled(false);
}

}  // namespace

// Gateway names are exchanged only in aggressive mode with the identity type Name.
void ProfileInfoUI::ProfileInfoUI_IPSec_MainMode_Choice() {
    ui->cb_IDType->setCurrentIndex(kIdTypeIp);
    ui->cb_IDType->setEnabled(false);
    EmptyAndDisable(ui->le_localGatewayName, true);
    EmptyAndDisable(ui->le_remoteGatewayName, true);
}

void ProfileInfoUI::ProfileInfoUI_IPSec_AggressiveMode_Choice() {
    ui->cb_IDType->setEnabled(true);
    if (ui->cb_IDType->currentIndex() != kIdTypeIp) {
        ui->le_localGatewayName->setEnabled(true);
        ui->le_remoteGatewayName->setEnabled(true);
    } else {
        EmptyAndDisable(ui->le_localGatewayName, false);
        EmptyAndDisable(ui->le_remoteGatewayName, false);
    }
}

void ProfileInfoUI::ProfileInfoUI_IPSec_ID_Choice(int index) {
    if (!ui->rb_negoBarMode->isChecked()) {
        return;
    }
    if (index == kIdTypeName) {
        ui->le_localGatewayName->setEnabled(true);
        ui->le_remoteGatewayName->setEnabled(true);
    } else {
        EmptyAndDisable(ui->le_localGatewayName, true);
        EmptyAndDisable(ui->le_remoteGatewayName, true);
    }
}

// Checked, the LNS server's address serves as IPSec server: the field has nothing to hold.
void ProfileInfoUI::on_cb_LNSServer_stateChanged(int /*state*/) {
    if (ui->cb_LNSServer->isChecked()) {
        Util_ClearErrorStyle(ui->le_IPSECServer);
        ui->l_IPSECServer->setEnabled(false);
        ui->le_IPSECServer->setEnabled(false);
        ui->le_IPSECServer->clear();
    } else {
        ui->l_IPSECServer->setEnabled(true);
        ui->le_IPSECServer->setEnabled(true);
    }
    QCoreApplication::processEvents();
}

// ---- Routes ----------------------------------------------------------------------------

void ProfileInfoUI::ProfileInfoUI_RouteWidgets_Enable(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(ui->l_routerTip), static_cast<QWidget*>(ui->tw_router),
                       static_cast<QWidget*>(ui->tb_routerAdd),
                       static_cast<QWidget*>(ui->tb_routerDel)}) {
        w->setEnabled(enable);
    }
}

// Routes given by the gateway (Mode Config) leave the list unused: it is greyed and
// nothing in it stays selected.
void ProfileInfoUI::ProfileInfoUI_Router_Use() {
    const bool manual = ui->cb_HandConfig->isChecked();
    ProfileInfoUI_RouteWidgets_Enable(manual);
    if (!manual) {
        ui->tw_router->clearSelection();
    }
}

void ProfileInfoUI::on_rb_ModeConfig_clicked() {
    if (ui->rb_ModeConfig->isChecked()) {
        ProfileInfoUI_RouteWidgets_Enable(false);
        ui->tw_router->clearSelection();
    }
}

void ProfileInfoUI::on_rb_HandConfig_clicked() {
    if (ui->rb_HandConfig->isChecked()) {
        ProfileInfoUI_RouteWidgets_Enable(true);
    }
}

// The route dialog stays a child of this dialog after it ends.
void ProfileInfoUI::ProfileInfoUI_NewVPNNetwork_Show() {
    if (ui->tw_router->topLevelItemCount() >= kRouteRowsMax) {
        ShowOwnBox(QMessageBox::Warning, "/UI_PROFILEINFO/UI_PROFILEINFO_ROUTE_MAX");
        return;
    }
    auto* network = new NewVPNNetwork(this);
    network->Init();
    connect(network, &NewVPNNetwork::signal_newIP, this,
            &ProfileInfoUI::ProfileInfoUI_IPSECConnect_AddIP);
    network->exec();
}

bool ProfileInfoUI::ProfileInfoUI_RouteCell_IsNew(int column, const QString& text) const {
    for (int row = 0; row < ui->tw_router->topLevelItemCount(); ++row) {
        if (ui->tw_router->topLevelItem(row)->text(column) == text) {
            return false;
        }
    }
    return true;
}

// A route repeats a listed one when one row holds both its address and its mask, as the
// profile's read-back sees it: 10.0.0.0/255.0.0.0 beside 10.0.0.0/255.255.0.0 and
// 192.168.0.0/255.0.0.0 is a route of its own.
void ProfileInfoUI::ProfileInfoUI_IPSECConnect_AddIP(QString ip, QString mask) {
    ProfileInfoUI_IPText_Normalize(ip);
    ProfileInfoUI_IPText_Normalize(mask);
    QStringList addresses;
    QStringList masks;
    for (int row = 0; row < ui->tw_router->topLevelItemCount(); ++row) {
        addresses << ui->tw_router->topLevelItem(row)->text(kRouteAddressColumn);
        masks << ui->tw_router->topLevelItem(row)->text(kRouteMaskColumn);
    }
    if (Util_FindPair(addresses, masks, ip, mask)) {
        ShowOwnBox(QMessageBox::Warning, "/UI_PROFILEINFO/UI_PROFILEINFO_REPEAT_ADDRESS");
        return;
    }
    auto* row = new QTreeWidgetItem;
    row->setText(kRouteAddressColumn, ip);
    row->setText(kRouteMaskColumn, mask);
    ui->tw_router->addTopLevelItem(row);
}

void ProfileInfoUI::ProfileInfoUI_IPSECConnect_DelIP() {
    QTreeWidget* list = ui->tw_router;
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty()) {
        ShowOwnBox(QMessageBox::Warning, "/UI_PROFILEINFO/UI_PROFILEINFO_SELECT_EMPTY");
        return;
    }
    for (QTreeWidgetItem* item : selected) {
        list->setCurrentItem(item);
        delete list->takeTopLevelItem(list->indexOfTopLevelItem(item));
    }
}

// ---- Records: building, writing, reading back ------------------------------------------
// The service keeps the profiles; the dialog only moves one record to it or from it.
// Byte order is the service link's business: the records here are in host order.

namespace {

// The name rule of a profile, as the name fields enforce it while typing.
QString ProfileNamePattern() {
    return QStringLiteral("^[a-zA-Z0-9._%1]{0,127}")
        .arg(QString(QChar(0x4E00)) + QLatin1Char('-') + QChar(0x9FA5));
}

bool FollowsNameRule(const QString& text) {
    QRegExpValidator validator(QRegExp(ProfileNamePattern(), Qt::CaseSensitive, QRegExp::RegExp));
    QString copy = text;
    int pos = 0;
    return validator.validate(copy, pos) == QValidator::Acceptable;
}

// The text as a decimal number; 0 when it is not one.
uint32_t DecimalValue(const QString& text) {
    bool ok = false;
    const uint32_t value = text.toUInt(&ok, 10);
    return ok ? value : 0;
}

// A dotted IPv4 text as the route rows show it: four decimal parts of 0 to 255. Each part
// is read as a decimal number, so "010" is ten (never octal); anything else gives 0.
uint32_t DottedValue(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4) {
        return 0;
    }
    uint32_t value = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3) {
            return 0;
        }
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return 0;
            }
        }
        const uint32_t octet = part.toUInt();
        if (octet > 255) {
            return 0;
        }
        value = (value << 8) | octet;
    }
    return value;
}

QString DottedText(uint32_t value) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg((value >> 16) & 0xFFu)
        .arg((value >> 8) & 0xFFu)
        .arg(value & 0xFFu);
}

// The fields that may hold a text of their whole width (the pre-shared key, the two
// gateway names) have no room for a terminator; a text longer than the field leaves it
// empty, as every other text field does.
void FieldSetWhole(char* field, size_t width, const QString& text) {
    (void)UI_memset_s(field, width, 0, width);
    const QByteArray bytes = text.toUtf8();
    if (static_cast<size_t>(bytes.size()) <= width) {
        (void)UI_memcpy_s(field, width, bytes.constData(), static_cast<size_t>(bytes.size()));
    }
}

template <size_t N>
QString FieldText(const char (&field)[N]) {
    return Util_FieldToString(field, N);
}

template <size_t N>
void FieldSet(char (&field)[N], const QString& text) {
    (void)Util_FieldSetString(field, N, text);
}

// Sets a combo box from a value table; a value outside it leaves the box as it is.
void SetComboIndex(QComboBox* combo, int index) {
    if (index != kProfileIndexNone) {
        combo->setCurrentIndex(index);
    }
}

QString KeyText(const char (&key)[256]) {
    return LanguageSetting::GetInstance()->GetValue(Util_FieldToString(key, sizeof(key)));
}

QString OverTimeText() { return LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR; }

bool PluginMode() { return UIContext::GetInstance()->GetPluginMode() != 0; }

constexpr int32_t kProfileNameBytes = 127;

}  // namespace

bool ProfileInfoUI::ProfileInfoUI_SSLConnect_WriteInit(QString name) {
    CFM_SSL_PROFILE_S record;
    (void)UI_memset_s(&record, sizeof(record), 0, sizeof(record));
    record.uiLinkType = LINK_TYPE_SSL;
    record.uiHeadWord1 = 0;
    record.uiHeadWord2 = 1;
    FieldSet(record.acDescription, ui->le_descriptionMsgSSL->text());
    FieldSet(record.acGatewayAddress, ui->le_gatewayAddress->text());
    record.uiPort = DecimalValue(ui->le_port->text());
    record.uiTunnelMode = ProfileValue_TunnelMode(ui->cb_tunnelMode->currentIndex());
    const bool autoBest = ui->cb_autoBest->isChecked();
    record.uiAutoBest = autoBest ? 1 : 0;
    ui->pb_SetPriorGateway->setEnabled(!autoBest);
    record.uiGmAlgorithm = ui->cb_gmalgorithm->isChecked() ? 1 : 0;

    // The record has room for 16 entries, whatever the list holds.
    const int rows = std::min(ui->tw_serverAddress->topLevelItemCount(),
                              static_cast<int>(UI_GATEWAY_ENTRY_MAX));
    for (int row = 0; row < rows; ++row) {
        const QTreeWidgetItem* item = ui->tw_serverAddress->topLevelItem(row);
        UIGATEWAY_INFO_S& entry = record.astGateway[row];
        FieldSet(entry.acAddress, item->text(kGatewayAddressColumn));
        entry.uiPort = DecimalValue(item->text(kGatewayPortColumn));
    }
    record.uiGatewayNum = static_cast<uint32_t>(rows);
    // -1, no default gateway, is 0xFFFFFFFF in the record.
    record.uiDefaultGateway = static_cast<uint32_t>(d->defaultGatewayIndex);
    return ProfileInfoUI_Profile_Write(name.toUtf8(), LINK_TYPE_SSL, &record);
}

bool ProfileInfoUI::ProfileInfoUI_IPSECConnect_WriteInit(QString name) {
    auto record = std::make_unique<CFM_IPSEC_PROFILE_S>();
    (void)UI_memset_s(record.get(), sizeof(*record), 0, sizeof(*record));
    CFM_IPSEC_PROFILE_S& r = *record;
    r.uiLinkType = LINK_TYPE_IPSEC;
    FieldSet(r.acDescription, ui->le_descriptionMsgIPSEC->text());
    FieldSet(r.acLnsServer, ui->le_LNSServer->text());

    // Without IPSec nothing of its settings is written, whatever its controls show.
    if (ui->cb_useIPSEC->isChecked()) {
        r.uiIpsecEnable = 1;
        const bool preSharedKey = ui->rb_preShareKey->isChecked();
        r.uiAuthMethod = ProfileValue_AuthMethod(preSharedKey);
        if (preSharedKey) {
            // A stored key the user did not retype goes out empty: the service keeps its
            // own, and the placeholder never becomes the key.
            if (d->preSharedKeyEdited) {
                FieldSetWhole(r.acPreSharedKey, sizeof(r.acPreSharedKey),
                              ui->le_statusConfirm->text());
            } else {
                ui->le_statusConfirm->clear();
            }
        }
        if (ui->cb_LNSServer->isChecked()) {
            r.uiUseLnsAddress = 1;
            Util_WriteLog(0, DDM_LOG_DEBUG,
                          QStringLiteral("[Profile ui write ipsec profile][lns server enable is checked]"));
        } else {
            r.uiUseLnsAddress = 0;
            FieldSet(r.acIpsecServer, ui->le_IPSECServer->text());
            Util_WriteLog(
                0, DDM_LOG_DEBUG,
                QStringLiteral("[Profile ui write ipsec profile][lns server enable is not checked]"));
        }
        r.uiEncapMode = ProfileValue_EncapMode(ui->rb_encapTunnelMode->isChecked());
        // A value the form has no item for was read into a box without a current item:
        // until the user picks one, the value read is written back unchanged.
        const int espAuth = ui->cb_ESPAuthAlgo->currentIndex();
        r.uiEspAuthAlgo = espAuth < 0 ? d->keptEspAuthAlgo : ProfileValue_EspAuth(espAuth);
        r.uiEspEncryAlgo = ProfileValue_EspEncry(ui->cb_ESPEncryAlgo->currentIndex());
        const bool aggressive = ui->rb_negoBarMode->isChecked();
        r.uiNegoMode = ProfileValue_NegoMode(aggressive);
        if (aggressive) {
            r.uiIdType = ProfileValue_IdType(true, ui->cb_IDType->currentIndex());
            if (ProfileIdTypeStoresNames(r.uiIdType)) {
                FieldSetWhole(r.acLocalGatewayName, sizeof(r.acLocalGatewayName),
                              ui->le_localGatewayName->text());
                FieldSetWhole(r.acRemoteGatewayName, sizeof(r.acRemoteGatewayName),
                              ui->le_remoteGatewayName->text());
            }
        }
        r.uiIkeEncryAlgo = ProfileValue_IkeEncry(ui->cb_encryAlgo->currentIndex());
        const int ikeHash = ui->cb_authAlgo->currentIndex();
        r.uiIkeAuthAlgo = ikeHash < 0 ? d->keptIkeHashAlgo : ProfileValue_IkeHash(ikeHash);
        r.uiDhGroup = ProfileValue_DhGroup(ui->cb_DHGroup->currentIndex());
        if (ui->cb_usePFS->isChecked()) {
            r.uiPfsEnable = 1;
            r.uiPfsGroup = ProfileValue_DhGroup(ui->cb_parameter->currentIndex());
        }
        r.uiIkeSaLifetime = DecimalValue(ui->le_ikeSADuration->text());
        r.uiIpsecSaLifetime = DecimalValue(ui->le_ipsecSADuration->text());
    }

    FieldSet(r.acTunnelName, ui->le_tunnelName->text());
    r.uiPppAuthMode = ProfileValue_PppAuth(ui->cb_authMode->currentIndex());
    if (ui->cb_useTunnel->isChecked()) {
        r.uiTunnelAuth = 1;
        if (d->tunnelPasswordEdited) {
            FieldSet(r.acTunnelPassword, ui->le_tunnelPassword->text());
        } else {
            ui->le_tunnelPassword->clear();
        }
    }
    // The page is in view whenever a record is built, but a dialog nobody showed has no
    // visible widget: what counts is whether the switch hid the choices.
    r.uiRouteMode = ProfileValue_RouteMode(!ui->w_RouteMode->isHidden(),
                                           ui->rb_HandConfig->isChecked(),
                                           ui->cb_HandConfig->isChecked());
    const int routes =
        std::min(ui->tw_router->topLevelItemCount(), static_cast<int>(UI_IPSEC_ROUTE_MAX));
    for (int row = 0; row < routes; ++row) {
        const QTreeWidgetItem* item = ui->tw_router->topLevelItem(row);
        r.astRoute[row].uiAddress = DottedValue(item->text(kRouteAddressColumn));
        r.astRoute[row].uiMask = DottedValue(item->text(kRouteMaskColumn));
    }
    r.uiRouteNum = static_cast<uint32_t>(routes);
    FieldSet(r.acDnsSuffix, ui->le_routerDNS->text());
    return ProfileInfoUI_Profile_Write(name.toUtf8(), LINK_TYPE_IPSEC, record.get());
}

bool ProfileInfoUI::ProfileInfoUI_Profile_Write(const QByteArray& name, LINK_TYPE type,
                                                const void* record) {
    char msgCodeName[256];
    (void)UI_memset_s(msgCodeName, sizeof(msgCodeName), 0, sizeof(msgCodeName));
    uint32_t ok = 0;
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[Profile ui write profile][profile name is  " + QString::fromUtf8(name) + "]");
    if (UI_CfmProfile_Write(name.constData(), type, record, msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTimeText(), QString(), -1);
        return false;
    }
    if (ok == 1) {
        Util_WriteLog(0, DDM_LOG_DEBUG, QStringLiteral("[Profile ui write profile successed]"));
        return true;
    }
    // A browser drives the client in plugin mode: the service's refusals are its to show.
    if (!PluginMode()) {
        Util_ShowWarning(KeyText(msgCodeName), QString(), -1);
    }
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_Profile_Read(const QByteArray& name, LINK_TYPE type) {
    // Large enough for either record.
    union {
        CFM_SSL_PROFILE_S ssl;
        CFM_IPSEC_PROFILE_S ipsec;
    } record;
    static_assert(sizeof(record) == 3328, "the read buffer holds either record");
    (void)UI_memset_s(&record, sizeof(record), 0, sizeof(record));
    char msgCodeName[256];
    (void)UI_memset_s(msgCodeName, sizeof(msgCodeName), 0, sizeof(msgCodeName));
    uint32_t ok = 0;
    if (UI_CfmProfile_Read(name.constData(), type, &record, msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTimeText(), QString(), -1);
        return false;
    }
    if (ok != 1) {
        if (!PluginMode()) {
            Util_ShowWarning(KeyText(msgCodeName), QString(), -1);
        }
        return false;
    }
    if (type == LINK_TYPE_IPSEC) {
        if (!ProfileInfoUI_IPSECProfile_Verify(record.ipsec)) {
            return false;
        }
        ProfileInfoUI_IPSECConnect_Fill(record.ipsec);
        return true;
    }
    if (type == LINK_TYPE_SSL) {
        if (!ProfileInfoUI_SSLProfile_Verify(record.ssl)) {
            return false;
        }
        ProfileInfoUI_SSLConnect_Fill(record.ssl);
        return true;
    }
    return true;
}

// Counts are taken as signed: a count with its top bit set passes and shows no entry;
// one past its array is refused, in plugin mode too.
bool ProfileInfoUI::ProfileInfoUI_SSLProfile_Verify(const CFM_SSL_PROFILE_S& record) {
    if (static_cast<int32_t>(record.uiGatewayNum) <= static_cast<int32_t>(UI_GATEWAY_ENTRY_MAX)) {
        return true;
    }
    Util_ShowWarning(Text("/UI_PROFILEINFO/UI_PROFILEINFO_FILE_CHECK_FAILD"), QString(), -1);
    return false;
}

bool ProfileInfoUI::ProfileInfoUI_IPSECProfile_Verify(const CFM_IPSEC_PROFILE_S& record) {
    if (static_cast<int32_t>(record.uiRouteNum) <= static_cast<int32_t>(UI_IPSEC_ROUTE_MAX)) {
        return true;
    }
    Util_ShowWarning(Text("/UI_PROFILEINFO/UI_PROFILEINFO_FILE_CHECK_FAILD"), QString(), -1);
    return false;
}

void ProfileInfoUI::ProfileInfoUI_SSLConnect_Fill(const CFM_SSL_PROFILE_S& record) {
    ui->stackedWidget->setCurrentIndex(kPageSSL);
    ui->le_descriptionMsgSSL->setText(FieldText(record.acDescription));
    ui->le_gatewayAddress->setText(FieldText(record.acGatewayAddress));
    ui->le_port->setText(QString::number(Util_CheckPort(record.uiPort)));
    ui->cb_tunnelMode->setCurrentIndex(ProfileIndex_TunnelMode(record.uiTunnelMode));
    ui->cb_autoBest->setChecked(record.uiAutoBest == 1);
    ui->pb_SetPriorGateway->setEnabled(!ui->cb_autoBest->isChecked());
    ui->cb_gmalgorithm->setChecked(record.uiGmAlgorithm == 1);

    // Empty, malformed and repeated entries are not shown; the default gateway's index
    // then counts the rows that are.
    const int32_t count = std::min(static_cast<int32_t>(record.uiGatewayNum),
                                   static_cast<int32_t>(UI_GATEWAY_ENTRY_MAX));
    QStringList shown;
    for (int32_t i = 0; i < count; ++i) {
        const UIGATEWAY_INFO_S& entry = record.astGateway[i];
        const QString address = FieldText(entry.acAddress);
        if (address.isEmpty() ||
            (!ProfileInfoUI_IPAddress_Check(address) && !ProfileInfoUI_DomainName_Check(address)) ||
            Util_ListContains(shown, address)) {
            continue;
        }
        auto* row = new QTreeWidgetItem;
        row->setText(kGatewayAddressColumn, address);
        row->setText(kGatewayPortColumn, QString::number(Util_CheckPort(entry.uiPort)));
        ui->tw_serverAddress->addTopLevelItem(row);
        ui->w_best->show();
        shown << address;
    }
    const int32_t defaultRow = static_cast<int32_t>(record.uiDefaultGateway);
    if (defaultRow >= 0 && defaultRow < ui->tw_serverAddress->topLevelItemCount()) {
        d->defaultGatewayIndex = defaultRow;
        ui->tw_serverAddress->topLevelItem(defaultRow)->setText(
            kGatewayDefaultColumn, Text("/UI_PROFILEINFO/UI_PROFILEINFO_DEFAULT_GATEWAY"));
    }
}

// The page's choices are made by clicking, as the user would, so that every control that
// depends on one follows it. The form starts with those boxes unchecked.
void ProfileInfoUI::ProfileInfoUI_IPSECConnect_Fill(const CFM_IPSEC_PROFILE_S& record) {
    ui->stackedWidget->setCurrentIndex(kPageIPSec);
    ui->le_descriptionMsgIPSEC->setText(FieldText(record.acDescription));
    ui->le_LNSServer->setText(FieldText(record.acLnsServer));

    if (record.uiIpsecEnable != 0) {
        // First: the IPSec controls below are disabled until it is on.
        ui->cb_useIPSEC->click();
        if (record.uiAuthMethod == kAuthMethodSignature) {
            ui->rb_digitalSignature->setChecked(true);
            ui->l_statusConfirm->setEnabled(false);
            ui->le_statusConfirm->setEnabled(false);
            ui->le_statusConfirm->clear();
            ui->l_statusConfirm->setText(Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_USBPIN"));
            if (ui->cb_authAlgo->count() == kIkeHashesWithoutSha256 + 1) {
                ui->cb_authAlgo->removeItem(kIkeHashSha256);
            }
        } else if (record.uiAuthMethod == kAuthMethodPreSharedKey) {
            ui->rb_preShareKey->setChecked(true);
            ui->l_statusConfirm->setEnabled(true);
            ui->le_statusConfirm->setEnabled(true);
            // A placeholder: the stored key is never shown.
            const bool stored =
                Util_FieldLength(record.acPreSharedKey, sizeof(record.acPreSharedKey)) > 0;
            ui->le_statusConfirm->setText(stored ? QStringLiteral("******") : QString());
            ui->l_statusConfirm->setText(
                Text("/UI_PROFILEINFO/UI_PROFILEINFO_LABEL_STATUSCONFIRM"));
            if (ui->cb_authAlgo->count() == kIkeHashesWithoutSha256) {
                ui->cb_authAlgo->addItem(QStringLiteral("SHA2-256"));
            }
        }
        // The set-up left the box checked: unchecking it enables the server field, which
        // must happen before the field gets the server, or the next save drops it.
        ui->cb_LNSServer->setChecked(record.uiUseLnsAddress == 1);
        if (record.uiUseLnsAddress != 1) {
            ui->le_IPSECServer->setText(FieldText(record.acIpsecServer));
        }
        switch (ProfileChoice_EncapMode(record.uiEncapMode)) {
        case kEncapTransport:
            ui->rb_encapTransferMode->click();
            break;
        case kEncapTunnel:
            ui->rb_encapTunnelMode->click();
            break;
        default:
            break;
        }
        SetComboIndex(ui->cb_ESPAuthAlgo, ProfileIndex_EspAuth(record.uiEspAuthAlgo));
        if (ui->cb_ESPAuthAlgo->currentIndex() < 0) {
            d->keptEspAuthAlgo = record.uiEspAuthAlgo;
        }
        SetComboIndex(ui->cb_ESPEncryAlgo, ProfileIndex_EspEncry(record.uiEspEncryAlgo));
        if (ProfileIsMainMode(record.uiNegoMode)) {
            ui->rb_negoMainMode->click();
            ui->cb_IDType->setEnabled(false);
            ui->le_localGatewayName->setEnabled(false);
            ui->le_remoteGatewayName->setEnabled(false);
        } else {
            ui->rb_negoBarMode->click();
            const int idIndex = ProfileIndex_IdType(record.uiIdType);
            ui->cb_IDType->setCurrentIndex(idIndex);
            const bool names = idIndex == kIdTypeName;
            for (QWidget* w : {static_cast<QWidget*>(ui->l_localGatewayName),
                               static_cast<QWidget*>(ui->l_remoteGatewayName),
                               static_cast<QWidget*>(ui->le_localGatewayName),
                               static_cast<QWidget*>(ui->le_remoteGatewayName)}) {
                w->setEnabled(names);
            }
            if (names) {
                ui->le_localGatewayName->setText(FieldText(record.acLocalGatewayName));
                ui->le_remoteGatewayName->setText(FieldText(record.acRemoteGatewayName));
            }
        }
        SetComboIndex(ui->cb_authAlgo, ProfileIndex_IkeHash(record.uiIkeAuthAlgo));
        if (ui->cb_authAlgo->currentIndex() < 0) {
            d->keptIkeHashAlgo = record.uiIkeAuthAlgo;
        }
        SetComboIndex(ui->cb_encryAlgo, ProfileIndex_IkeEncry(record.uiIkeEncryAlgo));
        SetComboIndex(ui->cb_DHGroup, ProfileIndex_DhGroup(record.uiDhGroup));
        if (record.uiPfsEnable != 0) {
            ui->cb_usePFS->click();
            SetComboIndex(ui->cb_parameter, ProfileIndex_DhGroup(record.uiPfsGroup));
        }
        const uint32_t ike = record.uiIkeSaLifetime;
        ui->le_ikeSADuration->setText(ike >= static_cast<uint32_t>(kIkeLifetimeMin) &&
                                              ike <= static_cast<uint32_t>(kLifetimeMax)
                                          ? QString::number(ike)
                                          : QStringLiteral("86400"));
        const uint32_t sa = record.uiIpsecSaLifetime;
        ui->le_ipsecSADuration->setText(sa >= static_cast<uint32_t>(kIpsecLifetimeMin) &&
                                                sa <= static_cast<uint32_t>(kLifetimeMax)
                                            ? QString::number(sa)
                                            : QStringLiteral("3600"));
    }

    ui->le_tunnelName->setText(FieldText(record.acTunnelName));
    ui->cb_authMode->setCurrentIndex(ProfileIndex_PppAuth(record.uiPppAuthMode));
    if (record.uiTunnelAuth != 0) {
        ui->cb_useTunnel->click();
        const bool stored =
            Util_FieldLength(record.acTunnelPassword, sizeof(record.acTunnelPassword)) > 0;
        ui->le_tunnelPassword->setText(stored ? QStringLiteral("******") : QString());
    }

    // A click on a choice already made would not change it, but would run its slot again.
    if (ui->cb_useIPSEC->isChecked()) {
        if (record.uiRouteMode != 0) {
            if (!ui->rb_HandConfig->isChecked()) {
                ui->rb_HandConfig->click();
            }
        } else if (!ui->rb_ModeConfig->isChecked()) {
            ui->rb_ModeConfig->click();
        }
    } else if (record.uiRouteMode == 1) {
        ui->cb_HandConfig->click();
    }

    // The first number is kept a usable one; a route repeated in the record is shown once.
    const int32_t count = std::min(static_cast<int32_t>(record.uiRouteNum),
                                   static_cast<int32_t>(UI_IPSEC_ROUTE_MAX));
    QStringList addresses;
    QStringList masks;
    for (int32_t i = 0; i < count; ++i) {
        const QString address = Util_CheckFirstOctet(DottedText(record.astRoute[i].uiAddress));
        const QString mask = DottedText(record.astRoute[i].uiMask);
        if (Util_FindPair(addresses, masks, address, mask)) {
            continue;
        }
        auto* row = new QTreeWidgetItem;
        row->setText(kRouteAddressColumn, address);
        row->setText(kRouteMaskColumn, mask);
        ui->tw_router->addTopLevelItem(row);
        addresses << address;
        masks << mask;
    }
    ui->le_routerDNS->setText(FieldText(record.acDnsSuffix));
}

// ---- Create, save, import, export, delete ----------------------------------------------

void ProfileInfoUI::ProfileInfoUI_Connect_Create() {
    const int page = ui->stackedWidget->currentIndex();
    if (page == kPageInput) {
        ImportProfile();
        return;
    }
    if (page != kPageSSL && page != kPageIPSec) {
        return;
    }
    const bool ssl = page == kPageSSL;
    if (!(ssl ? ProfileInfoUI_SSLConnect_Check(0) : ProfileInfoUI_IPSECConnect_Check(0))) {
        return;
    }
    const bool written = ssl ? ProfileInfoUI_SSLConnect_WriteInit(d->profileFileName)
                             : ProfileInfoUI_IPSECConnect_WriteInit(d->profileFileName);
    if (written) {
        emit signal_newconnect(Util_GetFileBaseName(d->profileFileName),
                               ssl ? LINK_TYPE_SSL : LINK_TYPE_IPSEC);
        // The main window lists what the service now holds; without it the dialog stays.
        if (!UISystemProfile::GetInstance()->Read()) {
            return;
        }
        close();
        accept();
        return;
    }
    close();
    ShowOwnBox(QMessageBox::Critical, "/UI_PROFILEINFO/UI_PROFILEINFO_CREATECONNECTION_FAIL");
    accept();
}

void ProfileInfoUI::ImportProfile() {
    const QString path = ui->le_inputProfile->text();
    if (path.isEmpty()) {
        Util_SetErrorStyle(ui->le_inputProfile);
        return;
    }
    // The profile is named after the file up to its last "."; that name must follow the
    // rule every other road keeps, or the profile could not be edited or saved.
    const QString fileName = QFileInfo(path).fileName();
    const QString baseName = fileName.section(QLatin1Char('.'), 0, 0);
    const QString profileName = Util_GetFileBaseName(fileName);
    if (!FollowsNameRule(baseName) || profileName.isEmpty() || !FollowsNameRule(profileName) ||
        !Util_CheckUtf8Length(profileName, kProfileNameBytes)) {
        Util_ShowWarning(Text("/UI_PROFILEINFO/UI_PROFILEINFO_IMPORT_FILE_FAIL"), QString(), -1);
        ui->le_inputProfile->clear();
        return;
    }
    const QByteArray file = path.toUtf8();
    char msgCodeName[256];
    (void)UI_memset_s(msgCodeName, sizeof(msgCodeName), 0, sizeof(msgCodeName));
    uint32_t linkType = LINK_TYPE_NONE;
    uint32_t ok = 0;
    if (UI_CfmProfile_Input(file.constData(), &linkType, msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTimeText(), QString(), -1);
        return;
    }
    if (ok != 1) {
        Util_ShowWarning(KeyText(msgCodeName), QString(), -1);
        return;
    }
    emit signal_newconnect(profileName, static_cast<LINK_TYPE>(linkType));
    if (UISystemProfile::GetInstance()->Read()) {
        close();
    }
}

void ProfileInfoUI::ProfileInfoUI_Connect_Save() {
    const int page = ui->stackedWidget->currentIndex();
    QString oldName;
    if (page == kPageSSL) {
        oldName = ui->le_connectNameSSL->text();
    } else if (page == kPageIPSec) {
        oldName = ui->le_connectNameIPSEC->text();
    }
    Util_WriteLog(0, DDM_LOG_DEBUG,
                  "[Profile ui save connect][connect name is  " + oldName + "]");
    if (oldName.isEmpty()) {
        Util_SetErrorStyle(NameFieldInView());
        return;
    }
    if (page != kPageSSL && page != kPageIPSec) {
        close();
        return;
    }
    const bool ssl = page == kPageSSL;
    if (!(ssl ? ProfileInfoUI_SSLConnect_Check(1) : ProfileInfoUI_IPSECConnect_Check(1))) {
        return;
    }
    // A refused or failed write has shown its warning: the edits stay in the dialog, and
    // the main window is not told of a save that did not happen.
    const bool written = ssl ? ProfileInfoUI_SSLConnect_WriteInit(d->profileFileName)
                             : ProfileInfoUI_IPSECConnect_WriteInit(d->profileFileName);
    if (!written) {
        return;
    }
    emit signal_sendNewConnect(oldName, Util_GetFileBaseName(d->profileFileName),
                               ssl ? LINK_TYPE_SSL : LINK_TYPE_IPSEC);
    close();
}

void ProfileInfoUI::ProfileInfoUI_Profile_Input() {
    auto* picker = new QFileDialog(this, tr("Open Profile"), QStringLiteral("."), tr("(*.ini)"));
    if (picker->exec() == QDialog::Accepted) {
        const QString path = picker->selectedFiles().value(0);
        if (!path.isEmpty()) {
            ui->le_inputProfile->setText(path);
        } else {
            Util_SetErrorStyle(ui->le_inputProfile);
        }
    }
    delete picker;
}

void ProfileInfoUI::ProfileInfoUI_MenuOutput_Click() {
    ui->pb_output->setStyleSheet(d->menuStyleCurrent);
    ui->pb_SSL->setStyleSheet(d->menuStyleOther);
    ui->pb_IPSec->setStyleSheet(d->menuStyleOther);
    const QString path = QFileDialog::getSaveFileName(
        this, LanguageSetting::GetInstance()->GetGlobalLang().SAVEAS, d->profileFileName,
        QStringLiteral("(*.ini)"));
    const auto restoreMenu = [this] {
        ui->pb_SSL->setStyleSheet(d->menuStyleCurrent);
        ui->pb_IPSec->setStyleSheet(d->menuStyleCurrent);
        ui->pb_output->setStyleSheet(d->menuStyleOther);
    };
    if (path.isEmpty()) {
        restoreMenu();
        return;
    }
    const QByteArray target = path.toUtf8();
    const QByteArray profile = d->profileFileName.toUtf8();
    char msgCodeName[256];
    (void)UI_memset_s(msgCodeName, sizeof(msgCodeName), 0, sizeof(msgCodeName));
    uint32_t ok = 0;
    if (UI_CfmProfile_Output(target.constData(), profile.constData(), msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTimeText(), QString(), -1);
        return;
    }
    if (ok == 1) {
        restoreMenu();
        return;
    }
    Util_ShowWarning(KeyText(msgCodeName), QString(), -1);
}

bool ProfileInfoUI::ProfileInfoUI_Connect_Delete(const QByteArray& name) {
    char msgCodeName[256];
    (void)UI_memset_s(msgCodeName, sizeof(msgCodeName), 0, sizeof(msgCodeName));
    uint32_t ok = 0;
    if (UI_CfmProfile_Delete(name.constData(), msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTimeText(), QString(), -1);
        return false;
    }
    if (ok == 1) {
        return true;
    }
    Util_ShowWarning(KeyText(msgCodeName), QString(), -1);
    return false;
}
