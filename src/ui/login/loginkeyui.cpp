// The SSL VPN login view: its form and private data, the set-up, the input limits and
// the key, close and filter handling, the gateway drop-down and its site preference,
// the login pages with their certificate lists, the user fields, the texts, tool tips
// and skin, and the login with every outcome the gateway can answer.

#include "loginkeyui.h"
#include "pluginloginanswer.h"

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
#include "bubblingwidget.h"
#include "certificatedialog.h"
#include "changepwd.h"
#include "ddm_log.h"
#include "dynamictokentodedialog.h"
#include "languagesetting.h"
#include "loginkeyui_p.h"
#include "ui_loginkeyui.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"
#include "utiltip.h"

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
// Each password field of the login request and of the session holds 127 bytes of UTF-8.
constexpr int kPasswordMaxBytes = 127;
// The placeholder that stands for a remembered password in the password field.
const char kPasswordPlaceholder[] = "******";

// A field whose text goes into a fixed field of a record takes no text that would not
// fit there: an edit that would is undone, back to the last text that fitted. The
// length limit counts characters, which is not enough: 64 accented letters are 128
// bytes, and a password that does not fit would go out empty.
void CapUtf8Bytes(QLineEdit* field, int maxBytes) {
    QObject::connect(field, &QLineEdit::textChanged, field,
                     [field, maxBytes, last = QString()](const QString& text) mutable {
                         if (Util_CheckUtf8Length(text, maxBytes)) {
                             last = text;
                         } else {
                             field->setText(last);
                         }
                     });
}

// Delay logged for a default gateway that has none of its own.
constexpr uint32_t kDefaultDelay = 70;

void Log(uint32_t level, const QString& text) { Util_WriteLog(0, static_cast<int>(level), text); }

QString Text(const char* key) { return LanguageSetting::GetInstance()->GetValue(key); }

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
        CapUtf8Bytes(secret, kPasswordMaxBytes);
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
            ui->le_password->setText(QLatin1String(kPasswordPlaceholder));
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

// ---- The login ---------------------------------------------------------------------------

namespace {

// A warning of the login: shown as a box even in plugin mode.
void Warning(const QString& text) { Util_ShowWarning(text, QString(), -1); }

QString OverTime() { return LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR; }

// The text of the language key a request returned.
QString KeyText(const char* msgCodeName) {
    return LanguageSetting::GetInstance()->GetValue(
        Util_FieldToString(msgCodeName, kMsgCodeNameSize));
}

}  // namespace

void LoginKeyUI_SSL_Logout() {
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t ok = 0;
    if (UI_SslLogout_Process(msgCodeName, &ok) != 0) {
        Util_ShowWarning(OverTime(), QStringLiteral("LoginKeyUI"), -1);
    } else if (ok != 1) {
        Util_ShowWarning(KeyText(msgCodeName), QStringLiteral("LoginKeyUI"), -1);
    }
}

bool LoginKeyUI::BothHidden() const {
    const QWidget* owner = parentWidget();
    return (owner == nullptr || !owner->isVisible()) && !isVisible();
}

void LoginKeyUI::ShowBoth() {
    if (QWidget* owner = parentWidget()) {
        owner->show();
    }
    show();
}

// The fields of the page in view are checked before anything is sent. A login that the
// main window started without showing the view (automatic login) brings both back, so
// that the user can complete what is missing.
void LoginKeyUI::LoginKeyUI_Login_click() {
    const char* missing = nullptr;
    switch (ui->stackedWidget->currentIndex()) {
    case 0:
        if (ui->le_username->text().trimmed().isEmpty() ||
            ui->le_password->text().trimmed().isEmpty()) {
            missing = "/UI_LOGINKEY/UI_LOGINKEY_USERPWD_EMPTY";
        }
        break;
    case 1:
        if (ui->le_cerPassword->text().trimmed().isEmpty() ||
            ui->USBKeyList->currentText().trimmed().isEmpty()) {
            missing = "/UI_LOGINKEY/UI_LOGINKEY_PWD_CERT_EMPTY";
        }
        break;
    case 2:
        if (ui->cb_CertificateList_2->currentText().trimmed().isEmpty()) {
            missing = "/UI_LOGINKEY/UI_LOGINKEY_CERT_EMPTY";
        }
        break;
    default:
        break;
    }
    if (missing != nullptr) {
        Util_ShowCritical(Text(missing), QStringLiteral("LoginKeyUI"), -1);
        if (BothHidden() && UIContext::GetInstance()->GetPluginMode() == 0) {
            ShowBoth();
            emit signal_LoginkeyUIInit();
        }
        return;
    }
    hide();
    if (QWidget* owner = parentWidget()) {
        owner->hide();
    }
    emit signal_LoginkeyUIDelete();
    LoginKeyUI_SSL_Login();
}

void LoginKeyUI::LoginKeyUI_SSL_Login() {
    emit signal_setAutoFlag(ui->cb_autoLogin->isChecked());
    UIContext* context = UIContext::GetInstance();
    const QString profileName = ProfileFileName();

    CFM_SESSION_S session = {};
    session.ConnectionType = static_cast<uint32_t>(context->GetLinkType());
    (void)Util_FieldSetString(session.ProfileName, sizeof(session.ProfileName), profileName);

    // The request lives to the end of this attempt, through a new attempt that an
    // accepted certificate prompt starts from inside it.
    auto request = std::make_unique<UI_SSL_LOGIN_S>();
    std::memset(request.get(), 0, sizeof(UI_SSL_LOGIN_S));
    UI_SSL_LOGIN_S* login = request.get();

    const int page = ui->stackedWidget->currentIndex();
    if (page == 0) {
        const QString user = ui->le_username->text().trimmed();
        const QString password = ui->le_password->text().trimmed();
        (void)Util_FieldSetString(login->acGateway, sizeof(login->acGateway),
                                  ui->cb_ipAddress->currentText().trimmed());
        (void)Util_FieldSetString(login->acUserName, sizeof(login->acUserName), user);
        (void)Util_FieldSetString(login->acPassword, sizeof(login->acPassword), password);
        login->uiAuthType = 0;
        (void)Util_FieldSetString(session.UserName, sizeof(session.UserName), user);
        (void)Util_FieldSetString(session.Password, sizeof(session.Password), password);
    } else if (page == 1 || page == 2) {
        const int row = page == 1 ? ui->USBKeyList->currentIndex()
                                  : ui->cb_CertificateList_2->currentIndex();
        if (row >= 0 && row < d->certificateNames.size()) {
            (void)Util_FieldSetString(login->acGateway, sizeof(login->acGateway),
                                      d->gatewayAddress);
            if (page == 1) {
                (void)Util_FieldSetString(login->acPassword, sizeof(login->acPassword),
                                          ui->le_cerPassword->text().trimmed());
            }
            (void)Util_FieldSetString(login->acCertName, sizeof(login->acCertName),
                                      d->certificateNames.at(row));
            login->uiAuthType = page == 1 ? 2 : 1;
        }
    }
    if (page < 0) {
        return;
    }

    UISystemProfile::GetInstance()->SetLastAccessSession(profileName);
    Log(DDM_LOG_INFO, "[LoginKey ui ssl login][last access session is " + profileName + "]");
    DeviceCACheck(login);
    login->uiSavePass = ui->cb_savePass->isChecked() ? 1 : 0;
    (void)Util_FieldSetString(login->acProfileName, sizeof(login->acProfileName), profileName);

    if (page == 0) {
        // An untouched field holds the placeholder of the remembered password: the
        // request then goes with none, and the service takes the one it keeps.
        if (!d->passwordEdited) {
            std::memset(login->acPassword, 0, sizeof(login->acPassword));
            ui->le_password->clear();
        } else {
            (void)Util_FieldSetString(login->acPassword, sizeof(login->acPassword),
                                      ui->le_password->text().trimmed());
        }
        LoginKeyUI_UserPwd_Remember(&session);
    }
    std::memset(&session, 0, sizeof(session));

    // The service chooses the gateway: the one in view, or its best when automatic.
    const int colon = d->gatewayAddress.lastIndexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? d->gatewayAddress : d->gatewayAddress.left(colon);
    const QString portText = colon < 0 ? d->gatewayAddress : d->gatewayAddress.mid(colon + 1);
    LinkSelectInfo select = {};
    select.uiEnable = ui->cb_Best->isChecked() ? 1 : 0;
    (void)Util_FieldSetString(select.acIp, sizeof(select.acIp), host);
    select.uiPort = portText.toUInt();
    LinkSelectInfo chosen = {};
    char selectName[kMsgCodeNameSize] = {};
    uint32_t selected = 0;
    (void)UI_SslLink_Select(&select, selectName, &selected, &chosen);
    if (selected == 0) {
        Warning(Text("/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_FAIL"));
        return;
    }
    // A reply that names no gateway leaves the one the request was built with: an
    // address of ":0" would only fail the login.
    const QString chosenIp = Util_FieldToString(chosen.acIp, sizeof(chosen.acIp));
    if (!chosenIp.isEmpty()) {
        (void)Util_FieldSetString(login->acGateway, sizeof(login->acGateway),
                                  chosenIp + QLatin1Char(':') + QString::number(chosen.uiPort));
    } else {
        Log(DDM_LOG_WARN, QStringLiteral("[LoginKey ui ssl login][link select named no gateway]"));
    }
    LanguageType(login);
    login->uiLoginType = 1;

    uint32_t result = 0;
    char msgCodeName[kMsgCodeNameSize] = {};
    UI_SSL_LOGIN_RET_S loginRet = {};
    const uint32_t ret = UI_SslLogin_Process(login, msgCodeName, &result, &loginRet);
    std::memset(login->acPassword, 0, sizeof(login->acPassword));
    if (ret != 0) {
        Warning(OverTime());
        if (BothHidden()) {
            ShowBoth();
            emit signal_LoginkeyUIInit();
        }
        return;
    }
    Log(DDM_LOG_INFO, "[Ssl login result is " + QString::number(result) + "]");
    switch (result) {
    case SSL_LOGIN_RESULT_SUCCESS:
        LoginKeyUI_Login_Success(loginRet);
        break;
    case SSL_LOGIN_RESULT_FIRST_LOGIN:
        FirstLogin_ModifyPwd(loginRet, KeyText(msgCodeName));
        break;
    case SSL_LOGIN_RESULT_EXPIRE_STRONG:
    case SSL_LOGIN_RESULT_EXPIRE_WEAK:
        Warning(KeyText(msgCodeName));
        LoginKeyUI_SSL_Logout();
        break;
    case SSL_LOGIN_RESULT_SMS_CHECK:
        Smscheck_Warning(result, login, msgCodeName, loginRet);
        break;
    case SSL_LOGIN_RESULT_CERT_ERROR:
    case SSL_LOGIN_RESULT_DEVICE_REJECT:
        Warning(KeyText(msgCodeName));
        if (BothHidden()) {
            ShowBoth();
        }
        break;
    case SSL_LOGIN_RESULT_DEVICE_CERT_ERROR:
        CertificatePrompt();
        break;
    default:
        emit signal_setLoginSuccess(false);
        LoginKeyUI_Password_Reset();
        Warning(KeyText(msgCodeName));
        ShowBoth();
        emit signal_LoginkeyUIInit();
        break;
    }
}

void LoginKeyUI::DeviceCACheck(UI_SSL_LOGIN_S*& sslLogin) {
    if (sslLogin == nullptr) {
        Log(DDM_LOG_ERROR, QStringLiteral("DeviceCACheck parameter pstSSLLogIn is empty"));
        return;
    }
    if (d->certificateAccepted) {
        sslLogin->uiDeviceCACheck = 0;
        d->certificateAccepted = false;
    } else {
        sslLogin->uiDeviceCACheck = UISystemProfile::GetInstance()->GetServerCheck();
    }
}

void LoginKeyUI::LanguageType(UI_SSL_LOGIN_S*& sslLogin) {
    if (sslLogin == nullptr) {
        Log(DDM_LOG_ERROR, QStringLiteral("LanguageType parameter pstSSLLogIn is empty"));
        return;
    }
    const uint32_t language = UISystemProfile::GetInstance()->GetLanguageID();
    if (language == 1033) {
        sslLogin->uiLanguage = 1;
    } else if (language == 2052) {
        sslLogin->uiLanguage = 2;
    }
}

// The user name and password are kept only for a user who asked to remember the
// password or to log in automatically; the gateway in view is kept in any case.
void LoginKeyUI::LoginKeyUI_UserPwd_Remember(CFM_SESSION_S* session) {
    if (session == nullptr) {
        return;
    }
    std::memset(session->UserName, 0, sizeof(session->UserName));
    std::memset(session->Password, 0, sizeof(session->Password));
    if (ui->cb_savePass->isChecked() || ui->cb_autoLogin->isChecked()) {
        (void)Util_FieldSetString(session->UserName, sizeof(session->UserName),
                                  ui->le_username->text());
        (void)Util_FieldSetString(session->Password, sizeof(session->Password),
                                  ui->le_password->text().trimmed());
    }
    const QString gateway = ui->cb_ipAddress->currentText();
    (void)Util_FieldSetString(session->LastLoginAddr, sizeof(session->LastLoginAddr), gateway);
    Log(DDM_LOG_INFO, "[LoginKey ui remember][last login address is " + gateway + "]");
    session->RemPwd = ui->cb_savePass->isChecked() ? 1 : 0;
    session->AutoLogin = ui->cb_autoLogin->isChecked() ? 1 : 0;
    UISystemProfile* profile = UISystemProfile::GetInstance();
    const QString profileName = ProfileFileName();
    profile->SetSession(session, profileName);
    (void)profile->WriteSession(session, 1);
    (void)profile->Read();
}

// The gateway's first answer decides the host check and the cache clear. A first login
// whose password the gateway does not let change cannot go on; without a message, a
// report and a logout both windows would stay hidden over a half-open session, so it
// ends as a failed login does.
void LoginKeyUI::FirstLogin_ModifyPwd(const UI_SSL_LOGIN_RET_S& loginRet, const QString& message) {
    UIContext::GetInstance()->SetFirstLoginModifyPwd(true);
    Log(DDM_LOG_INFO,
        "[LoginKey ui first login][modify pwd is " + QString::number(loginRet.uiModifyPwd) + "]");
    if (loginRet.uiModifyPwd == 0) {
        Warning(message);
        LoginKeyUI_SSL_Logout();
        ShowBoth();
        emit signal_setLoginSuccess(false);
        emit signal_LoginkeyUIInit();
        return;
    }
    if (!LoginKeyUI_HostCheck_CacheClear(loginRet.uiHostCheck, loginRet.uiCacheClear)) {
        return;
    }
    BubblingWidget::popUp(message);
    auto* dialog = new ChangePwd(this);
    dialog->Init();
    (void)dialog->exec();
    if (QWidget* owner = parentWidget()) {
        owner->show();
    }
    LoginKeyUI_SSL_Logout();
    delete dialog;
    accept();
}

void LoginKeyUI::CertificatePrompt() {
    auto* prompt = new certificateDialog(this);
    prompt->SetLanguageText();
    prompt->SetInfo(d->gatewayAddress);
    connect(prompt, SIGNAL(signal_OpenHelp()), this, SLOT(LoginKeyUI_OpenHelp_slot()));
    connect(prompt, SIGNAL(signal_Language_Changed()), this,
            SLOT(LoginKeyUI_Language_Changed_slot()));
    emit signal_LoginkeyTrayAcConnect(false);
    const int answer = prompt->exec();
    delete prompt;
    if (answer == QDialog::Rejected) {
        if (BothHidden()) {
            ShowBoth();
            emit signal_LoginkeyUIInit();
        }
    } else if (answer == QDialog::Accepted) {
        d->certificateAccepted = true;
        LoginKeyUI_SSL_Login();
    }
}

void LoginKeyUI::LoginKeyUI_Login_Success(UI_SSL_LOGIN_RET_S loginRet) {
    if (!ui->cb_savePass->isChecked()) {
        ui->le_password->clear();
    }
    if (!LoginKeyUI_HostCheck_CacheClear(loginRet.uiHostCheck, loginRet.uiCacheClear)) {
        return;
    }
    UIContext::GetInstance()->SetCacheClear(static_cast<int>(loginRet.uiCacheClear));
    int flag = 0;
    LoginKeyUI_Cnem_Start(&loginRet, &flag);
}

bool LoginKeyUI::LoginKeyUI_HostCheck_CacheClear(uint32_t hostCheck, uint32_t cacheClear) {
    Log(DDM_LOG_INFO, "[LoginKey ui host check][host check is " + QString::number(hostCheck) +
                          ", cache clear is " + QString::number(cacheClear) + "]");
    const bool passed = hostCheck == 0 || (hostCheck == 1 && LoginKeyUI_Host_Check() == 1);
    if (passed) {
        if (cacheClear != 0 && LoginKeyUI_Cache_Clear(0) != 1) {
            Log(DDM_LOG_WARN, QStringLiteral("[LoginKey ui cache clear failed]"));
        }
        return true;
    }
    LoginKeyUI_SSL_Logout();
    if (BothHidden() && UIContext::GetInstance()->GetPluginMode() == 0) {
        ShowBoth();
        emit signal_LoginkeyUIInit();
        emit signal_setLoginSuccess(false);
    }
    return false;
}

int LoginKeyUI::LoginKeyUI_Host_Check() {
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t ok = 0;
    if (UI_SslHostCheck_Process(msgCodeName, &ok) != 0) {
        Warning(OverTime());
        return 0;
    }
    if (ok == 1) {
        return 1;
    }
    Warning(KeyText(msgCodeName));
    return 0;
}

int LoginKeyUI::LoginKeyUI_Cache_Clear(int) {
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t ok = 0;
    return UI_SslCacheClear_Process(1, msgCodeName, &ok) == 0 && ok == 1 ? 1 : 0;
}

void LoginKeyUI::LoginKeyUI_Cnem_Start(UI_SSL_LOGIN_RET_S* loginRet, int* flag) {
    if (loginRet == nullptr || flag == nullptr) {
        return;
    }
    const uint32_t mode = d->sslProfile->uiTunnelMode;
    Log(DDM_LOG_INFO, "[LoginKey ui cnem start][tunnel mode is " + QString::number(mode) + "]");
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t ok = 0;
    if (UI_SslCnem_Start(mode, msgCodeName, &ok) != 0) {
        // No answer: the tunnel may still come up, so the session is left as it is.
        Util_ShowCritical(OverTime(), QStringLiteral("LoginKeyUI"), static_cast<int>(ok));
        return;
    }
    *flag = static_cast<int>(ok);
    emit signal_setLoginSuccess(ok == 1);
    if (ok == 1) {
        emit signal_PwdEnable(loginRet->uiModifyPwd != 0);
        if (loginRet->uiModifyPwd != 0 && loginRet->usAlarmNotice != 0 &&
            loginRet->sAlarmTime > 0) {
            QString notice = Text("/UI_LOGINKEY/UI_LOGINKEY_MATURITY");
            notice.replace(QLatin1String("0"), QString::number(loginRet->sAlarmTime));
            BubblingWidget::popUp(notice);
        }
        emit signal_LoginkeyUIDelete();
        accept();
        return;
    }
    if (BothHidden() && UIContext::GetInstance()->GetPluginMode() == 0) {
        ShowBoth();
        emit signal_LoginkeyUIInit();
    }
    Util_ShowWarning(KeyText(msgCodeName), QStringLiteral("LoginKeyUI"), static_cast<int>(ok));
    LoginKeyUI_SSL_Logout();
}

// Putting the placeholder back is a fresh start for the field: the next attempt sends no
// password (the service takes the remembered one) unless the user types one, and the
// first press clears the placeholder again.
void LoginKeyUI::LoginKeyUI_Password_Reset() {
    if (ui->cb_savePass->isChecked()) {
        ui->le_password->setText(QLatin1String(kPasswordPlaceholder));
        d->passwordEdited = false;
        d->passwordPlaceholderCleared = false;
    } else {
        ui->le_password->clear();
    }
}

void LoginKeyUI::Smscheck_Warning(uint32_t, UI_SSL_LOGIN_S*& sslLogin, char* msgCodeName,
                                  UI_SSL_LOGIN_RET_S loginRet) {
    if (sslLogin == nullptr || msgCodeName == nullptr) {
        Log(DDM_LOG_ERROR, QStringLiteral("[Smscheck_Warning parameter is empty]"));
        return;
    }
    auto* prompt = new DynamicTokenTodeDialog(this);
    prompt->Init();
    connect(prompt, SIGNAL(signal_SendCodeStr(QString)), this, SLOT(GetCodeStrSlot(QString)));
    if (prompt->exec() != QDialog::Accepted) {
        emit signal_setLoginSuccess(false);
        if (!ui->cb_savePass->isChecked()) {
            ui->le_password->clear();
        }
        Warning(Text("/UI_LOGINKEY/UI_LOGINKEY_DYNAMIC_CODE_EMPTY"));
        ShowBoth();
        emit signal_LoginkeyUIInit();
        delete prompt;
        return;
    }
    UI_DYNAMIC_CODE_S code = {};
    code.uiAuthType = sslLogin->uiAuthType;
    (void)Util_FieldSetString(code.acDynamicCode, sizeof(code.acDynamicCode), d->dynamicCode);
    uint32_t result = 0;
    std::memset(msgCodeName, 0, kMsgCodeNameSize);
    const uint32_t ret = UI_SslDynamicCode_Send(&code, msgCodeName, &result, &loginRet);
    std::memset(&code, 0, sizeof(code));
    if (ret != 0) {
        Warning(OverTime());
        if (BothHidden()) {
            ShowBoth();
            emit signal_LoginkeyUIInit();
        }
        delete prompt;
        return;
    }
    Log(DDM_LOG_INFO, "[Ssl login result is " + QString::number(result) + "]");
    LoginKeyUI_Judgment_Ret(result, msgCodeName, loginRet);
    delete prompt;
}

// The answer to a token code knows fewer outcomes than the login: anything but success,
// a first login and an expiry is a failed login, and never a new prompt.
void LoginKeyUI::LoginKeyUI_Judgment_Ret(uint32_t result, const char* msgCodeName,
                                         UI_SSL_LOGIN_RET_S loginRet) {
    QString message;
    if (msgCodeName == nullptr) {
        Log(DDM_LOG_ERROR, QStringLiteral("[Judgmentiret failed][cMsgCodeStr item is null]"));
    } else {
        message = KeyText(msgCodeName);
    }
    switch (result) {
    case SSL_LOGIN_RESULT_FIRST_LOGIN:
        FirstLogin_ModifyPwd(loginRet, message);
        break;
    case SSL_LOGIN_RESULT_SUCCESS:
        LoginKeyUI_Login_Success(loginRet);
        break;
    case SSL_LOGIN_RESULT_EXPIRE_STRONG:
    case SSL_LOGIN_RESULT_EXPIRE_WEAK:
        Warning(message);
        LoginKeyUI_SSL_Logout();
        break;
    default:
        emit signal_setLoginSuccess(false);
        if (!ui->cb_savePass->isChecked()) {
            ui->le_password->clear();
        }
        Warning(message);
        ShowBoth();
        emit signal_LoginkeyUIInit();
        break;
    }
}

// ---- Relays and the plugin's login ------------------------------------------------------

void LoginKeyUI::LoginKeyUI_OpenHelp_slot() { emit signal_MainUI_OpenHelp(); }

void LoginKeyUI::LoginKeyUI_Language_Changed_slot() { emit signal_MainUI_Language_Changed(); }

// ---- A browser plugin's login --------------------------------------------------------------

namespace {

// The bytes of a text field up to its first zero, at most the field's width: a value
// that fills its field has no terminator and is still whole.
template <typename Byte, size_t Width>
size_t WholeLength(const Byte (&field)[Width]) {
    static_assert(sizeof(Byte) == 1, "byte fields only");
    return Util_FieldLength(reinterpret_cast<const char*>(field), Width);
}

// Copies a whole value between fields of the same width, terminator or not.
template <typename DstByte, typename SrcByte, size_t Width>
void CopyWhole(DstByte (&dst)[Width], const SrcByte (&src)[Width]) {
    static_assert(sizeof(DstByte) == 1 && sizeof(SrcByte) == 1, "byte fields only");
    (void)UI_memset_s(dst, Width, 0, Width);
    (void)UI_memcpy_s(dst, Width, src, WholeLength(src));
}

// The answer goes to a browser extension as a native message, else as a packet on the
// plugin's connection (which turns the record's numbers to network order).
void DeliverLoginRet(UI_PLUGIN_LOGIN_RET_S* answer) {
    if (UIContext::GetInstance()->GetNativeMessaging()) {
        (void)SendLoginRetToPlugin(answer);
        return;
    }
    if (UI_PluginLoginRet_Send(answer) != 0) {
        Log(DDM_LOG_ERROR,
            QStringLiteral("[Loginkey ui plugin login][send login ret to plugin failed]"));
    }
}

}  // namespace

// The browser's login runs with what the plugin sent, without the view's form, and every
// login is answered exactly once. The session, the host check, the cache and the tunnel
// are not touched: the browser asks for those itself.
void LoginKeyUI::LoginKeyUI_Plugin_SSLLogin() {
    UIContext* context = UIContext::GetInstance();
    UIPLUGIN_INFO_S* info = context->GetPluginInfo();
    if (info == nullptr) {
        return;
    }
    auto request = std::make_unique<UI_SSL_LOGIN_S>();
    (void)UI_memset_s(request.get(), sizeof(UI_SSL_LOGIN_S), 0, sizeof(UI_SSL_LOGIN_S));
    (void)Util_FieldCopy(request->acGateway, sizeof(request->acGateway), info->acLoginAddr,
                         sizeof(info->acLoginAddr));
    (void)Util_FieldCopy(request->acUserName, sizeof(request->acUserName), info->acUserName,
                         sizeof(info->acUserName));
    (void)Util_FieldCopy(request->acPassword, sizeof(request->acPassword), info->acPassword,
                         sizeof(info->acPassword));
    const uint32_t language = UISystemProfile::GetInstance()->GetLanguageID();
    request->uiLanguage = language == 1033 ? 1 : language == 2052 ? 2 : 0;

    uint32_t result = 0;
    char msgCodeName[kMsgCodeNameSize] = {};
    PluginLoginReply reply;
    (void)UI_memset_s(&reply, sizeof(reply), 0, sizeof(reply));
    UI_PLUGIN_LOGIN_RET_S answer;
    (void)UI_memset_s(&answer, sizeof(answer), 0, sizeof(answer));
    const uint32_t ret = UI_PluginLogin_Process(request.get(), msgCodeName, &result, &reply);
    // The password leaves no copy behind.
    (void)UI_memset_s(request.get(), sizeof(UI_SSL_LOGIN_S), 0, sizeof(UI_SSL_LOGIN_S));
    request.reset();

    auto takeReply = [&answer, &reply] {
        answer.uiUserID = reply.uiUserID;
        answer.uiSessionID = reply.uiSessionID;
        CopyWhole(answer.aucCookie, reply.aucCookie);
        CopyWhole(answer.acUrlLocation, reply.acUrlLocation);
    };

    if (ret != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[Loginkey ui plugin login][login request failed]"));
        takeReply();
        answer.cFlag = 1;
        (void)Util_FieldSetString(answer.cTip, sizeof(answer.cTip), OverTime());
        DeliverLoginRet(&answer);
        return;
    }
    if (result != 1) {
        const QString key = Util_FieldToString(msgCodeName, kMsgCodeNameSize);
        const QString text = LanguageSetting::GetInstance()->GetValue(key);
        Log(DDM_LOG_INFO, "[Loginkey ui plugin login][login failed][key is " + key + ",text is " +
                              text + "]");
        takeReply();
        answer.cFlag = 1;
        (void)Util_FieldSetString(answer.cTip, sizeof(answer.cTip), text);
        DeliverLoginRet(&answer);
        return;
    }
    // A success without the cookie or the URL gives the browser nothing to go on with:
    // it is answered as a failed login, not left waiting.
    if (WholeLength(reply.aucCookie) == 0 || WholeLength(reply.acUrlLocation) == 0) {
        Log(DDM_LOG_ERROR,
            QStringLiteral("[Loginkey ui plugin login][login reply without cookie or url]"));
        answer.cFlag = 1;
        (void)Util_FieldSetString(answer.cTip, sizeof(answer.cTip),
                                  Text("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_FAIL"));
        DeliverLoginRet(&answer);
        return;
    }
    takeReply();
    answer.cFlag = 0;
    (void)Util_FieldSetString(answer.cTip, sizeof(answer.cTip), QStringLiteral("success"));
    Log(DDM_LOG_INFO, "[Loginkey ui plugin login][login success][user id is " +
                          QString::number(reply.uiUserID) + ",session id is " +
                          QString::number(reply.uiSessionID) + "]");
    const bool native = context->GetNativeMessaging();
    DeliverLoginRet(&answer);
    if (!native) {
        // From the reply: the answer record is in network order once it was sent.
        info->uiUserID = reply.uiUserID;
        info->uiSessionID = reply.uiSessionID;
        CopyWhole(info->aucCookie, reply.aucCookie);
        CopyWhole(info->acUrlLocation, reply.acUrlLocation);
    }
}

void LoginKeyUI::LoginKeyUI_Plugin_Login() {
    Log(DDM_LOG_INFO, QStringLiteral("[Loginkey ui plugin login][into loginkey ui plugin login]"));
    if (UIContext::GetInstance()->GetPluginInfo() != nullptr) {
        LoginKeyUI_Plugin_SSLLogin();
    }
}
