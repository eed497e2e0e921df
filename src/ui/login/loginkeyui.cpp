// The SSL VPN login view: its form and private data, the set-up, the input limits and
// the key, close and filter handling, the gateway drop-down and its site preference,
// the login pages with their certificate lists, the user fields, and the texts, tool
// tips and skin. The login itself is still to come.

#include "loginkeyui.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QListWidgetItem>
#include <QMouseEvent>
#include <QSizePolicy>
#include <QTextCodec>

#include "UIConstants"
#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyui_p.h"
#include "ui_loginkeyui.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

// The gateway drop-down's look here. Its rows' own texts are transparent: the popup shows
// them only through their row widgets, and the closed box shows the text of row 0.
const char kPlainComboStyle[] =
    "QComboBox{background-color: rgb(255, 255, 255);}QComboBox QAbstractItemView::item{color: "
    "rgba(255, 255, 255, 0);}QComboBox QAbstractItemView::item {min-height:30px;min-width:60px;"
    "background-color:white;} QComboBox QAbstractItemView::item::hover{background-color:rgb(232, "
    "94, 53);}QComboBox::drop-down {subcontrol-origin: padding; subcontrol-position: top right; "
    "width: 20px; border-left-width: 1px;border-left-color: darkgray; border-left-style: solid; "
    "border-top-right-radius: 3px; border-bottom-right-radius: 3px; }QComboBox::down-arrow "
    "{image: url(:/Global/Resources/Icon/down.png); width:16px; height:16px; }";

// The same for the certificate boxes, on the desktop system that styles them.
const char kCertComboStyle[] =
    "QComboBox QAbstractItemView::item{color: rgba(255, 255, 255, 0);}QComboBox "
    "QAbstractItemView::item {min-height:30px;min-width:60px;background-color:white;} QComboBox "
    "{border: 1px solid gray; border-radius: 3px; min-width: 9em;}QComboBox "
    "QAbstractItemView::item::hover{background-color:rgb(0, 0, 0);}QComboBox::drop-down "
    "{subcontrol-origin: padding; subcontrol-position: top right; width: 20px; "
    "border-left-width: 1px;border-left-color: darkgray; border-left-style: solid; "
    "border-top-right-radius: 3px; border-bottom-right-radius: 3px; }QComboBox::down-arrow "
    "{image: url(:/Global/Resources/Icon/down.png); width:16px; height:16px; }";

const char kWhiteComboStyle[] = "QComboBox{background-color: rgb(255, 255, 255);}";

// Field widths of the texts the view takes from the service's records.
constexpr size_t kAddressWidth = sizeof(UIGATEWAY_INFO_S::acAddress);
constexpr size_t kMsgCodeNameSize = 256;
constexpr int kUserNameMaxBytes = 255;
constexpr int kPasswordMaxLength = 127;
constexpr uint32_t kCertListMax = 32;
// Delay logged for a default gateway that has none of its own.
constexpr uint32_t kDefaultDelay = 70;

void Log(uint32_t level, const QString& text) { Util_WriteLog(0, static_cast<int>(level), text); }

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

void NotBuilt(const char* slot) {
    Log(DDM_LOG_INFO, QStringLiteral("[LoginKeyUI][%1][not built yet]").arg(QLatin1String(slot)));
}

void Warn(const QString& text) { Util_ShowWarning(text, QStringLiteral("LoginKeyUI"), -1); }

QString ProfileFileName() {
    return Util_GetIniFileName(UIContext::GetInstance()->GetConnectName());
}

// A gateway as the view shows it: its address, ":" and its port.
QString GatewayText(const UIGATEWAY_INFO_S& gateway) {
    return Util_FieldToString(gateway.acAddress, kAddressWidth) + QLatin1Char(':') +
           QString::number(gateway.uiPort);
}

// The stored default gateway as an index into the profile's 16 entries, -1 for none.
// The profile editor stores -1 or a row index; anything else a record may carry would
// point past the entries and counts as none.
int DefaultGatewayIndex(const CFM_SSL_PROFILE_S& profile) {
    return profile.uiDefaultGateway < UI_GATEWAY_ENTRY_MAX
               ? static_cast<int>(profile.uiDefaultGateway)
               : -1;
}

// A certificate text of the service: in the local code page on the one system that
// uses it, in GBK everywhere else. Read up to its field's end.
QString CertificateText(const char* field, size_t width) {
    const int length = static_cast<int>(Util_FieldLength(field, width));
    if (UIContext::GetInstance()->GetSystemType() == 0) {
        return QString::fromLocal8Bit(field, length);
    }
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    return gbk != nullptr ? gbk->toUnicode(field, length) : QString::fromLocal8Bit(field, length);
}

bool IsPasteOrCopy(QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    return key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Copy);
}

}  // namespace

// ---- Construction -----------------------------------------------------------------------

LoginKeyUI::LoginKeyUI(QWidget* parent)
    : basewidget(parent), ui(new Ui_LoginKeyUI), d(new LoginKeyUIPrivate) {
    ui->setupUi(this);
    setWindowModality(Util_IsMacOs() ? Qt::ApplicationModal : Qt::WindowModal);
    d->certificateAccepted = false;
    d->passwordEdited = false;
    d->sslProfile = static_cast<CFM_SSL_PROFILE_S*>(std::calloc(1, sizeof(CFM_SSL_PROFILE_S)));
}

// The main window hears of every end of the view, this one included. The gateway list
// is deleted here, once: the drop-down only borrowed it.
LoginKeyUI::~LoginKeyUI() {
    emit signal_LoginkeyUIDelete();
    delete d->gatewayList;
    d->gatewayList = nullptr;
    std::free(d->sslProfile);
    d->sslProfile = nullptr;
    delete ui;
    delete d;
}

void LoginKeyUI::InitWidget() {
    basewidget::InitWidget();
    QWidget* owner = parentWidget();
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        // A browser drives the login: the view only relays its requests.
        if (owner != nullptr) {
            connect(owner, SIGNAL(signal_DoLogin()), this, SLOT(LoginKeyUI_Plugin_Login()));
        }
        return;
    }
    if (owner != nullptr) {
        connect(owner, SIGNAL(signal_Main_DisAutoLogin(bool)), this,
                SLOT(LoginKeyUI_Change_AutoLogin_slot(bool)));
    }
    ui->cb_ipAddress->setModel(d->gatewayList->model());
    ui->cb_ipAddress->setView(d->gatewayList);
    ui->cb_ipAddress->installEventFilter(this);
    if (Util_IsMacOs()) {
        const QString cert = QLatin1String(kCertComboStyle);
        ui->USBKeyList->setStyleSheet(cert);
        ui->cb_CertificateList_2->setStyleSheet(cert);
        QString gateway = cert;
        gateway.replace(QLatin1String("rgb(0, 0, 0)"), QLatin1String("rgb(206, 244, 255)"));
        ui->cb_ipAddress->setStyleSheet(
            QStringLiteral("QComboBox{background-color: rgb(255, 255, 255);}") + gateway);
    } else {
        ui->cb_ipAddress->setStyleSheet(QLatin1String(kPlainComboStyle));
        // The form's rules for the drop-down part leave a box without a background of its
        // own, which this desktop's style fills black: the certificate boxes get white.
        ui->USBKeyList->setStyleSheet(QLatin1String(kWhiteComboStyle));
        ui->cb_CertificateList_2->setStyleSheet(QLatin1String(kWhiteComboStyle));
    }

    if (!LoginKeyUI_Profile_Read()) {
        return;
    }
    LoginKeyUI_IPList_Init();
    LoginKeyUI_UserPwd_Init();
    LoginKeyUI_LoginPage_Set(UIContext::GetInstance()->GetAuthType());
    if (d->sslProfile->uiGmAlgorithm == 1) {
        ui->l_certificateAnony->hide();
        ui->cb_CertificateList_2->hide();
        ui->tb_refreshCertificate_2->hide();
    }
    connect(ui->pb_login_SSL, SIGNAL(clicked()), this, SLOT(LoginKeyUI_Login_click()));
    connect(ui->tb_refreshCertificate, SIGNAL(clicked()), this,
            SLOT(LoginKeyUI_Certificate_Refresh()));
    emit signal_LoginkeyUIInit();
}

void LoginKeyUI::SetInputControl() {
    ui->le_password->setEchoMode(QLineEdit::Password);
    if (UIContext::GetInstance()->GetPluginMode() == 0) {
        ui->le_username->setMaxLength(kUserNameMaxBytes);
    }
    for (QLineEdit* secret : {ui->le_password, ui->le_cerPassword}) {
        secret->setMaxLength(kPasswordMaxLength);
        secret->setContextMenuPolicy(Qt::NoContextMenu);
        Util_SetNoChineseValidator(secret);
    }
    Util_SetNameValidator(ui->le_username);
    ui->le_password->installEventFilter(this);
    ui->le_cerPassword->installEventFilter(this);
}

// Secrets neither leave nor enter the password fields through the clipboard or the
// selection (the middle button pastes it on this desktop). The remembered password shows
// as a placeholder, which the first press on its field clears so the user types afresh.
bool LoginKeyUI::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->le_password && watched != ui->le_cerPassword) {
        return QDialog::eventFilter(watched, event);
    }
    if (IsPasteOrCopy(event)) {
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && watched == ui->le_password &&
        !d->passwordPlaceholderCleared) {
        if (!ui->le_password->text().isEmpty()) {
            Log(DDM_LOG_INFO, QStringLiteral("[le_password->clear()1431)]"));
            ui->le_password->clear();
        }
        d->passwordPlaceholderCleared = true;
    }
    return QDialog::eventFilter(watched, event);
}

void LoginKeyUI::keyPressEvent(QKeyEvent* keyevent) {
    if (keyevent->key() == Qt::Key_Escape) {
        emit signal_ShowMainui();
        emit signal_LoginkeyUIDelete();
    }
    QDialog::keyPressEvent(keyevent);
}

void LoginKeyUI::closeEvent(QCloseEvent* closeCvent) {
    emit signal_ShowMainui();
    emit signal_LoginkeyUIDelete();
    QWidget::closeEvent(closeCvent);
}

// ---- Small slots ------------------------------------------------------------------------

// Logging in automatically needs the remembered password.
void LoginKeyUI::on_cb_autoLogin_stateChanged(int state) {
    if (state == Qt::Checked) {
        ui->cb_savePass->setChecked(true);
    }
}

void LoginKeyUI::on_cb_savePass_stateChanged(int state) {
    if (state == Qt::Unchecked) {
        ui->cb_autoLogin->setChecked(false);
    }
}

void LoginKeyUI::on_le_password_textEdited(QString) { d->passwordEdited = true; }

// The code is a secret: the log only says that one came.
void LoginKeyUI::GetCodeStrSlot(QString codestr) {
    d->dynamicCode = codestr;
    Log(DDM_LOG_DEBUG, QStringLiteral("[LoginKey ui get dynamic code is ******]"));
}

// The name goes into a 256-byte field: a text that would not fit is refused by putting
// the last one that did back.
void LoginKeyUI::on_le_username_textChanged(QString text) {
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        return;
    }
    if (Util_CheckUtf8Length(text, kUserNameMaxBytes)) {
        d->userName = text;
    } else {
        ui->le_username->setText(d->userName);
    }
}

void LoginKeyUI::LoginKeyUI_Change_AutoLogin_slot(bool flag) { ui->cb_autoLogin->setChecked(flag); }

void LoginKeyUI::LoginKeyUI_Certificate_Refresh() {}

void LoginKeyUI::LoginKeyUI_Refresh_IPList() {}

// ---- Gateway list -----------------------------------------------------------------------

bool LoginKeyUI::LoginKeyUI_Profile_Read() {
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t kind = 0;
    const QByteArray name = ProfileFileName().toUtf8();
    if (UI_CfmProfile_Read(name.constData(), 1, d->sslProfile, msgCodeName, &kind) != 0) {
        Warn(LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR);
        return false;
    }
    if (kind == 1) {
        return true;
    }
    Warn(LanguageSetting::GetInstance()->GetValue(
        Util_FieldToString(msgCodeName, sizeof(msgCodeName))));
    return false;
}

void LoginKeyUI::LoginKeyUI_IPList_Init() {
    Log(DDM_LOG_INFO, QStringLiteral("[Into loginKey ui iP list init]"));
    CFM_SSL_PROFILE_S* profile = d->sslProfile;
    if (profile->uiAutoBest == 1) {
        ui->cb_Best->setChecked(true);
    }

    // The gateway shown first: the profile's default, or the service's best one.
    QString address;
    QString port;
    uint32_t delay = 0;
    if (profile->uiAutoBest == 0) {
        const int index = DefaultGatewayIndex(*profile);
        if (index == -1) {
            address = Util_FieldToString(profile->acGatewayAddress,
                                         sizeof(profile->acGatewayAddress));
            if (address.isEmpty()) {
                delay = kDefaultDelay;
                if (profile->uiGatewayNum > 0) {
                    const UIGATEWAY_INFO_S& first = profile->astGateway[0];
                    address = Util_FieldToString(first.acAddress, kAddressWidth);
                    port = QString::number(first.uiPort);
                    delay = first.uiDelay;
                }
            } else {
                port = QString::number(profile->uiPort);
                delay = profile->uiDelay;
            }
        } else {
            const UIGATEWAY_INFO_S& chosen = profile->astGateway[index];
            address = Util_FieldToString(chosen.acAddress, kAddressWidth);
            port = QString::number(chosen.uiPort);
            delay = chosen.uiDelay;
        }
        Log(DDM_LOG_DEBUG,
            "[Default gateway index][index is " + QString::number(index) + "]");
    } else {
        Log(DDM_LOG_DEBUG, QStringLiteral("[Has no best gateway enable]"));
        const UIGATEWAY_INFO_S* best = UIContext::GetInstance()->GetBestGateWay();
        if (best == nullptr) {
            Log(DDM_LOG_WARN, QStringLiteral("UIContext::GetInstance()->GetBestGateWay() is null"));
            delay = kDefaultDelay;
        } else {
            address = Util_FieldToString(best->acAddress, kAddressWidth);
            port = QString::number(best->uiPort);
            delay = best->uiDelay;
        }
    }
    Log(DDM_LOG_DEBUG, "[Ip is " + address + "]");
    Log(DDM_LOG_DEBUG, "[Port is " + port + "]");
    Log(DDM_LOG_DEBUG, "[Delay is " + QString::number(delay) + "]");

    // The service's list is used in whatever state the request leaves it: a failed
    // request leaves it empty, and so the drop-down.
    UIGATEWAY_INFO_S sites[UI_GATEWAY_ENTRY_MAX] = {};
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t code = 0;
    (void)UI_AllSiteInfo_Get(msgCodeName, &code, sites);
    for (int i = 0; i < UI_GATEWAY_ENTRY_MAX; ++i) {
        if (Util_FieldLength(sites[i].acAddress, kAddressWidth) == 0) {
            break;
        }
        const QString rowText = GatewayText(sites[i]);
        const int rowDelay = static_cast<int>(sites[i].uiDelay);
        auto* row = new MComboboxItem(rowText, 3, rowDelay, nullptr);
        d->gatewayTexts.append(rowText);
        std::memcpy(&profile->astGateway[i], &sites[i], sizeof(UIGATEWAY_INFO_S));
        connect(row, SIGNAL(signal_showItem(QString, LINK_TYPE)), this,
                SLOT(LoginKeyUI_IPName_Show(QString, LINK_TYPE)));
        auto* item = new QListWidgetItem(d->gatewayList, 0);
        d->gatewayList->setItemWidget(item, row);
        Log(DDM_LOG_DEBUG, "[ipStrTemp is " + rowText + "]");
        Log(DDM_LOG_DEBUG, "[delayTemp is " + QString::number(rowDelay) + "]");
    }

    const QString shown = address + QLatin1Char(':') + port;
    ui->cb_ipAddress->setItemText(0, shown);
    ui->cb_ipAddress->setCurrentText(shown);
    LoginKeyUI_IPName_Show(shown, LINK_TYPE_SSL);
    Log(DDM_LOG_INFO, "[Out loginKey ui iP list init,ListCount:" +
                          QString::number(ui->cb_ipAddress->count()) + "]");
}

void LoginKeyUI::IPList_Insert(QString rowText, int delay) {
    auto* row = new MComboboxItem(rowText, 3, delay, nullptr);
    connect(row, SIGNAL(signal_showItem(QString, LINK_TYPE)), this,
            SLOT(LoginKeyUI_IPName_Show(QString, LINK_TYPE)));
    auto* item = new QListWidgetItem(d->gatewayList, 0);
    d->gatewayList->setItemWidget(item, row);
    Log(DDM_LOG_DEBUG, "[IPList_Insert][count:" + QString::number(ui->cb_ipAddress->count()));
}

// Each text is a row text, ":" and a delay; a text without ":" is the row text and, when
// it is a number, the delay as well.
void LoginKeyUI::LoginKeyUI_AutoBest_IPList(QStringList strList) {
    for (const QString& entry : strList) {
        const int colon = entry.lastIndexOf(QLatin1Char(':'));
        const QString rowText = colon < 0 ? entry : entry.left(colon);
        IPList_Insert(rowText, entry.mid(colon + 1).toInt());
    }
}

void LoginKeyUI::LoginKeyUI_IPName_Show(QString text, LINK_TYPE type) {
    ui->cb_ipAddress->setItemText(0, text);
    ui->cb_ipAddress->hidePopup();
    d->gatewayAddress = text.section(QLatin1Char('\t'), 0, 0);
    if (type != LINK_TYPE_GATEWAY) {
        return;
    }
    const int index = d->gatewayTexts.indexOf(text);
    Log(DDM_LOG_DEBUG, "[CurrentIP:" + text + " Index is " + QString::number(index) + "]");
    // A row the profile's list did not make has no record: the service is asked about
    // the gateway its text names.
    UIGATEWAY_INFO_S fromText = {};
    const UIGATEWAY_INFO_S* gateway = &fromText;
    if (index >= 0 && index < UI_GATEWAY_ENTRY_MAX) {
        gateway = &d->sslProfile->astGateway[index];
    } else {
        (void)Util_FieldSetString(fromText.acAddress, kAddressWidth, Util_GetHost(text));
        fromText.uiPort = Util_GetPort(text).toUInt();
    }
    const uint32_t authType = GetSitePref(text, gateway);
    Log(DDM_LOG_DEBUG, "[GetCauthType: " + QString::number(authType) + "]");
    LoginKeyUI_LoginPage_Set(static_cast<int>(authType));
}

int LoginKeyUI::LoginKeyUI_GetCurrentIpIndex(QString ipStr) { return d->gatewayTexts.indexOf(ipStr); }

uint32_t LoginKeyUI::GetSitePref(QString gatewayText, const UIGATEWAY_INFO_S* gateway) {
    UISSL_FIRST_CONN request = {};
    request.uiLanguage = LanguageSetting::GetInstance()->GetLanguageId() == 1033 ? 1 : 0;
    (void)Util_FieldSetString(request.acGateway, sizeof(request.acGateway), gatewayText);
    request.stAutoBestNeed.uiAutoBest = 1;
    if (gateway != nullptr) {
        request.stAutoBestNeed.astGateway[0] = *gateway;
    }
    request.stAutoBestNeed.uiGatewayNum = 1;
    request.stAutoBestNeed.uiDefaultGateway = 0;

    UIFIRST_CONNECT_CONF_S reply = {};
    uint32_t kind = 0;
    char msgCodeName[kMsgCodeNameSize] = {};
    if (UI_SitePref_Process(&request, &reply, msgCodeName, &kind) != 0) {
        Log(DDM_LOG_ERROR,
            "[MainUI::GetSitePref][Get site pref failed,err: " + QString::number(kind) + "]");
    }
    // Filled only by an answer of success: otherwise the password page.
    return reply.uiAuthType;
}

void LoginKeyUI::on_cb_Best_stateChanged(int state) {
    ui->cb_ipAddress->setEnabled(state == Qt::Unchecked);
    if (state == Qt::Unchecked) {
        return;
    }
    const UIGATEWAY_INFO_S* best = UIContext::GetInstance()->GetBestGateWay();
    if (best != nullptr) {
        LoginKeyUI_IPName_Show(GatewayText(*best), LINK_TYPE_SSL);
    }
}

// ---- Login page and certificates --------------------------------------------------------

void LoginKeyUI::LoginKeyUI_LoginPage_Set(int authType) {
    switch (authType) {
    case 0:
        ui->stackedWidget->setCurrentIndex(0);
        break;
    case 2:
        ui->stackedWidget->setCurrentIndex(1);
        LoginKeyUI_CertList_Init(ui->USBKeyList);
        break;
    case 1:
        ui->stackedWidget->setCurrentIndex(2);
        LoginKeyUI_CertList_Init(ui->cb_CertificateList_2);
        break;
    default:
        break;
    }
}

// Rows and names are appended together, and an entry without a shown name is skipped
// in both, so row i always belongs to certificateNames[i].
void LoginKeyUI::LoginKeyUI_CertList_Init(QComboBox* box) {
    auto certs = std::make_unique<UI_CERT_INFO_S>();
    std::memset(certs.get(), 0, sizeof(UI_CERT_INFO_S));
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t code = 0;
    (void)UI_CertInfo_Get(msgCodeName, &code, certs.get());
    Log(DDM_LOG_DEBUG,
        "[LoginKey ui get cert info the cert num is " + QString::number(certs->uiCertNum) + "]");
    if (certs->uiCertNum > kCertListMax) {
        return;
    }
    box->clear();
    d->certificateNames.clear();
    for (uint32_t i = 0; i < certs->uiCertNum; ++i) {
        const QString name = CertificateText(certs->acCertName[i], sizeof(certs->acCertName[i]));
        const QString shown =
            CertificateText(certs->acDisplayName[i], sizeof(certs->acDisplayName[i]));
        if (!shown.isEmpty()) {
            d->certificateNames.append(name);
            box->addItem(shown);
        }
    }
}

int LoginKeyUI::LoginKeyUI_CertIndex_Get(int authType) {
    if (authType == 2) {
        return ui->USBKeyList->currentIndex();
    }
    if (authType == 1) {
        return ui->cb_CertificateList_2->currentIndex();
    }
    return -1;
}

void LoginKeyUI::on_tb_refreshCertificate_clicked() {
    Log(DDM_LOG_DEBUG, QStringLiteral("[Into refresh certificate 2]"));
    ui->USBKeyList->clear();
    d->certificateNames.clear();
    LoginKeyUI_CertList_Init(ui->USBKeyList);
    ui->USBKeyList->showPopup();
}

void LoginKeyUI::on_tb_refreshCertificate_2_clicked() {
    Log(DDM_LOG_DEBUG, QStringLiteral("[Into refresh certificate]"));
    LoginKeyUI_CertList_Init(ui->cb_CertificateList_2);
    ui->cb_CertificateList_2->showPopup();
}

// ---- User fields ------------------------------------------------------------------------

// The remembered password itself never reaches the form: a placeholder stands for it.
void LoginKeyUI::LoginKeyUI_UserPwd_Init() {
    const CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession(ProfileFileName());
    if (session == nullptr) {
        Warn(Text("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL"));
        return;
    }
    if (session->RemPwd == 1) {
        Log(DDM_LOG_INFO, QStringLiteral("[Loginkey ui init user and pwd]"));
        ui->cb_savePass->setChecked(true);
        if (Util_FieldLength(session->Password, sizeof(session->Password)) == 0) {
            Log(DDM_LOG_INFO, QStringLiteral("[Loginkey ui init pwd []"));
            ui->le_password->clear();
        } else {
            Log(DDM_LOG_INFO, QStringLiteral("[Loginkey ui init pwd *****]"));
            ui->le_password->setText(QStringLiteral("******"));
        }
        ui->le_username->setText(Util_FieldToString(session->UserName, sizeof(session->UserName)));
    }
    if (session->AutoLogin == 1) {
        ui->cb_autoLogin->setChecked(true);
    }
    const CFM_SSL_PROFILE_S* profile = d->sslProfile;
    const int index = DefaultGatewayIndex(*profile);
    if (profile->uiAutoBest == 0 && index >= 0) {
        ui->cb_ipAddress->setItemText(0, GatewayText(profile->astGateway[index]));
    }
    const QString last =
        Util_FieldToString(session->LastLoginAddr, sizeof(session->LastLoginAddr));
    if (!last.isEmpty() && d->rememberedGateways.contains(last)) {
        ui->cb_ipAddress->setCurrentText(last);
    }
}

// ---- Texts, tool tips and skin ----------------------------------------------------------

void LoginKeyUI::SetLanguageText() {
    struct Size {
        int languageId;
        QSize dialog;
        QSize banner;  // empty: the banner keeps the form's size
    };
    static const Size kSizes[] = {
        {1031, QSize(430, 320), QSize()},          {1034, QSize(480, 332), QSize(480, 108)},
        {1049, QSize(480, 332), QSize(480, 108)},  {1036, QSize(500, 336), QSize(500, 113)},
        {1040, QSize(410, 314), QSize()},          {2070, QSize(550, 348), QSize(550, 125)},
    };
    QSize dialog(461, 348);
    QSize banner(461, 125);
    const int languageId = LanguageSetting::GetInstance()->GetLanguageId();
    for (const Size& size : kSizes) {
        if (size.languageId == languageId) {
            dialog = size.dialog;
            banner = size.banner;
        }
    }
    setMinimumSize(dialog);
    setMaximumSize(dialog);
    resize(dialog);
    if (banner.isValid()) {
        ui->sw_label->resize(banner);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    ui->groupBox->setTitle(Text("/UI_LOGINKEY/UI_LOGINKEY_GROUPBOX_LOGIN"));
    ui->l_serverAddress->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_SERVERADDRESS"));
    ui->cb_Best->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_BEST"));
    ui->l_username->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_USERNAME"));
    ui->l_password->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_PASSWORD"));
    ui->cb_savePass->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_SAVEPASS"));
    ui->cb_autoLogin->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_CHECKBOX_AUTOLOGIN"));
    ui->l_certificate->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERTIFICATE"));
    ui->l_cerPassword->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERPASSWORD"));
    ui->l_certificateAnony->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_LABEL_CERTIFICATEANONY"));
    ui->pb_login_SSL->setText(Text("/UI_LOGINKEY/UI_LOGINKEY_PUSHBUTTON_LOGIN"));
    setWindowTitle(Text("/UI_LOGINKEY/UI_LOGINKEY_TITLE"));
}

void LoginKeyUI::SetToolTip() {
    ui->le_username->setToolTip(Text("/UI_LOGINKEY/UI_LOGINKEY_USERNAME_TOOLTIP"));
    ui->le_password->setToolTip(Text("/UI_LOGINKEY/UI_LOGINKEY_PASSWORD_TOOLTIP"));
    ui->le_cerPassword->setToolTip(Text("/UI_LOGINKEY/UI_LOGINKEY_CERTPASSWORDTOOLTIP"));
}

void LoginKeyUI::SetCustomizedSkin() {
    const QString path = UIContext::GetInstance()->GetInstallDir() + UI_CUSTOMIZED_BACKGROUND;
    if (QFile::exists(path)) {
        ui->sw_label->setStyleSheet("border-image: url(" + path + ");");
    }
}

// ---- Parts of the login still to come ---------------------------------------------------

void LoginKeyUI::LoginKeyUI_Host_Check() { NotBuilt("LoginKeyUI_Host_Check"); }

void LoginKeyUI::LoginKeyUI_Cache_Clear(int) { NotBuilt("LoginKeyUI_Cache_Clear"); }

void LoginKeyUI::LoginKeyUI_Plugin_SSLLogin() { NotBuilt("LoginKeyUI_Plugin_SSLLogin"); }

void LoginKeyUI::LoginKeyUI_OpenHelp_slot() { NotBuilt("LoginKeyUI_OpenHelp_slot"); }

void LoginKeyUI::LoginKeyUI_Language_Changed_slot() {
    NotBuilt("LoginKeyUI_Language_Changed_slot");
}

void LoginKeyUI::LoginKeyUI_Login_click() { NotBuilt("LoginKeyUI_Login_click"); }

void LoginKeyUI::LoginKeyUI_Plugin_Login() { NotBuilt("LoginKeyUI_Plugin_Login"); }
