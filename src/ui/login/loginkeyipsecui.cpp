// The L2TP/IPSec login view: its form and private data, the set-up from the profile and
// the remembered session, the certificate list, the input rules, the texts, tool tips and
// skin, and the login itself with its wait for the engine's step reports.

#include "loginkeyipsecui.h"

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
#include <QMouseEvent>
#include <QTextCodec>

#include "UIConstants"
#include "bubblingwidget.h"
#include "ddm_log.h"
#include "languagesetting.h"
#include "loginkeyipsecui_p.h"
#include "ui_loginkeyipsecui.h"
#include "uicontext.h"
#include "uisystemprofile.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

constexpr size_t kMsgCodeNameSize = 256;
// What the user fields may hold, in UTF-8 bytes: the session's user name and the
// request's and session's password fields, less their terminators.
constexpr int kUserNameMaxBytes = 255;
constexpr int kPasswordMaxBytes = 127;
constexpr int kPasswordMaxLength = 127;
constexpr int kServerAddressMaxLength = 127;
// A list of more certificates than the list record holds is not believed at all.
constexpr uint32_t kCertListMax = UI_CERT_NUM_MAX;
constexpr uint32_t kAuthMethodCertificate = 3;

const char kPlaceholder[] = "******";

void Log(uint32_t level, const QString& text) { Util_WriteLog(0, static_cast<int>(level), text); }

QString Text(const QString& key) { return LanguageSetting::GetInstance()->GetValue(key); }

// Every box of this view is shown, never sent to a browser as a tip: no module name.
void Warn(const QString& text) { Util_ShowWarning(text, QString(), -1); }

QString OverTimeText() { return LanguageSetting::GetInstance()->GetGlobalLang().OVERTIMEERROR; }

QString ProfileFileName() {
    return Util_GetIniFileName(UIContext::GetInstance()->GetConnectName());
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

LoginKeyIPSECUI::LoginKeyIPSECUI(QWidget* parent)
    : basewidget(parent), ui(new Ui_LoginKeyIPSECUI), d(new LoginKeyIPSECUIPrivate) {
    ui->setupUi(this);
    setWindowModality(Util_IsMacOs() ? Qt::ApplicationModal : Qt::WindowModal);
    d->profile = static_cast<CFM_IPSEC_PROFILE_S*>(std::calloc(1, sizeof(CFM_IPSEC_PROFILE_S)));
    d->certMode = false;
    d->passwordEdited = false;
    d->passwordPressed = false;
}

LoginKeyIPSECUI::~LoginKeyIPSECUI() {
    std::free(d->profile);
    d->profile = nullptr;
    delete ui;
    delete d;
}

void LoginKeyIPSECUI::InitWidget() {
    basewidget::InitWidget();
    setFixedSize(size());
    ui->l_certificate->hide();
    ui->cb_CertList->hide();
    ui->tb_refreshCertificate->hide();

    if (!LoginKeyIPSECUI_Profile_Read()) {
        Log(DDM_LOG_ERROR, QStringLiteral("[Init IPSEC buf faild!]"));
        return;
    }
    if (d->profile->uiIpsecEnable == 1 && d->profile->uiAuthMethod == kAuthMethodCertificate) {
        ui->l_certificate->show();
        ui->cb_CertList->show();
        ui->tb_refreshCertificate->show();
        d->certMode = true;
        LoginKeyIPSECUI_CertList_Init(ui->cb_CertList);
    }
    LoginKeyIPSECUI_UserPwd_Init();
    // The LNS address is logged whichever address the rule shows.
    Log(DDM_LOG_DEBUG, "[Init IPSEC of ui serverAddress][serverAddress is " +
                           Util_FieldToString(d->profile->acLnsServer,
                                              sizeof(d->profile->acLnsServer)) +
                           "]");
    ui->le_serverAddress->setText(ServerAddress());

    connect(ui->pb_login, SIGNAL(clicked()), this, SLOT(LoginKeyIPSECUI_Login()));
    if (parentWidget() != nullptr) {
        connect(parentWidget(), SIGNAL(signal_Main_DisAutoLogin(bool)), this,
                SLOT(LoginKeyIPSECUI_Change_AutoLogin_slot(bool)));
    }
    emit signal_LoginkeyIPSECUIInit();
}

void LoginKeyIPSECUI::SetInputControl() {
    ui->le_password->setEchoMode(QLineEdit::Password);
    ui->le_password->setMaxLength(kPasswordMaxLength);
    Util_SetNoChineseValidator(ui->le_password);
    ui->le_password->setContextMenuPolicy(Qt::NoContextMenu);
    ui->le_password->installEventFilter(this);
    // The limit in characters lets through passwords whose UTF-8 form overflows the
    // request's field, which would then go out empty and stand for the remembered one:
    // an edit past the field's bytes is undone, as for the user name.
    connect(ui->le_password, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (Util_CheckUtf8Length(text, kPasswordMaxBytes)) {
            d->lastPassword = text;
        } else {
            ui->le_password->setText(d->lastPassword);
        }
    });
    ui->le_serverAddress->setMaxLength(kServerAddressMaxLength);
    ui->le_username->setMaxLength(kUserNameMaxBytes);
    Util_SetNameValidator(ui->le_username);
}

// Secrets neither leave nor enter the password field through the clipboard or the
// selection (the middle button pastes it on this desktop). The remembered password shows
// as a placeholder, which the first press on its field clears so the user types afresh.
bool LoginKeyIPSECUI::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->le_password) {
        return QDialog::eventFilter(watched, event);
    }
    if (IsPasteOrCopy(event)) {
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && !d->passwordPressed) {
        if (!ui->le_password->text().isEmpty()) {
            ui->le_password->clear();
        }
        d->passwordPressed = true;
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void LoginKeyIPSECUI::keyPressEvent(QKeyEvent* keyevent) {
    if (keyevent->key() == Qt::Key_Escape) {
        emit signal_LoginkeyIPSECUIDelete();
    }
    QDialog::keyPressEvent(keyevent);
}

void LoginKeyIPSECUI::closeEvent(QCloseEvent* closeCvent) {
    emit signal_LoginkeyIPSECUIDelete();
    QWidget::closeEvent(closeCvent);
}

// ---- Small slots ------------------------------------------------------------------------

// Logging in automatically needs the remembered password.
void LoginKeyIPSECUI::on_cb_autoLogin_stateChanged(int state) {
    if (state == Qt::Checked) {
        ui->cb_savePass->setChecked(true);
    }
}

void LoginKeyIPSECUI::on_cb_savePass_stateChanged(int state) {
    if (state == Qt::Unchecked) {
        ui->cb_autoLogin->setChecked(false);
    }
}

void LoginKeyIPSECUI::on_le_password_textEdited(QString) { d->passwordEdited = true; }

// The name goes into the session's 256-byte field: a text that would not fit is refused
// by putting the last one that did back.
void LoginKeyIPSECUI::on_le_username_textChanged(QString text) {
    if (Util_CheckUtf8Length(text, kUserNameMaxBytes)) {
        d->lastUserName = text;
    } else {
        ui->le_username->setText(d->lastUserName);
    }
}

void LoginKeyIPSECUI::LoginKeyIPSECUI_Change_AutoLogin_slot(bool flag) {
    ui->cb_autoLogin->setChecked(flag);
}

void LoginKeyIPSECUI::on_tb_refreshCertificate_clicked() {
    ui->cb_CertList->clear();
    d->certificateNames.clear();
    LoginKeyIPSECUI_CertList_Init(ui->cb_CertList);
    ui->cb_CertList->showPopup();
}

// ---- Profile, certificates and user fields ----------------------------------------------

bool LoginKeyIPSECUI::LoginKeyIPSECUI_Profile_Read() {
    const QString name = ProfileFileName();
    Log(DDM_LOG_INFO, "[IPSEC init buffer ][link name is " + name + "]");
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t kind = 0;
    const QByteArray bytes = name.toUtf8();
    if (UI_CfmProfile_Read(bytes.constData(), 2, d->profile, msgCodeName, &kind) != 0) {
        Warn(OverTimeText());
        return false;
    }
    if (kind != 1) {
        Warn(Text(Util_FieldToString(msgCodeName, sizeof(msgCodeName))));
        return false;
    }
    return true;
}

// Items and names are appended together, and an entry without a shown text is skipped
// in both, so item i always belongs to certificateNames[i].
void LoginKeyIPSECUI::LoginKeyIPSECUI_CertList_Init(QComboBox* box) {
    auto certs = std::make_unique<UI_CERT_INFO_S>();
    std::memset(certs.get(), 0, sizeof(UI_CERT_INFO_S));
    char msgCodeName[kMsgCodeNameSize] = {};
    uint32_t kind = 0;
    // A failed request leaves the record empty: nothing is listed.
    (void)UI_CertInfo_Get(msgCodeName, &kind, certs.get());
    if (certs->uiCertNum > kCertListMax) {
        return;
    }
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

// The remembered password itself never reaches the form: a placeholder stands for it.
void LoginKeyIPSECUI::LoginKeyIPSECUI_UserPwd_Init() {
    const CFM_SESSION_S* session = UISystemProfile::GetInstance()->GetSession(ProfileFileName());
    if (session == nullptr) {
        Warn(Text(QStringLiteral("/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SESSION_FAIL")));
        return;
    }
    if (session->RemPwd == 1) {
        ui->cb_savePass->setChecked(true);
        if (Util_FieldLength(session->Password, sizeof(session->Password)) == 0) {
            ui->le_password->clear();
        } else {
            ShowPasswordPlaceholder();
        }
        ui->le_username->setText(Util_FieldToString(session->UserName, sizeof(session->UserName)));
    }
    if (session->AutoLogin == 1) {
        ui->cb_autoLogin->setChecked(true);
    }
    ui->le_serverAddress->setText(ServerAddress());
}

// IPSec off: the LNS is the only peer. IPSec on: the IPSec server, unless the profile
// says the LNS is that server too.
QString LoginKeyIPSECUI::ServerAddress() const {
    const CFM_IPSEC_PROFILE_S& profile = *d->profile;
    if (profile.uiIpsecEnable == 0 || profile.uiUseLnsAddress == 1) {
        return Util_FieldToString(profile.acLnsServer, sizeof(profile.acLnsServer));
    }
    return Util_FieldToString(profile.acIpsecServer, sizeof(profile.acIpsecServer));
}

// An untouched placeholder is sent empty, which asks the service for the remembered
// password; a placeholder that counted as typed would go out, and be remembered, as the
// password itself.
void LoginKeyIPSECUI::ShowPasswordPlaceholder() {
    ui->le_password->setText(QLatin1String(kPlaceholder));
    d->passwordEdited = false;
    d->passwordPressed = false;
}

// ---- Texts, tool tips and skin ----------------------------------------------------------

void LoginKeyIPSECUI::SetLanguageText() {
    ui->l_certificate->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_CERTIFICATE"));
    ui->l_serverAddress->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_SERVERADDRESS"));
    ui->gb_login->setTitle(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_GROUPBOX_LOGIN"));
    ui->l_username->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_USERNAME"));
    ui->l_password->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_PASSWORD"));
    ui->cb_autoLogin->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_LABEL_AUTOLOGIN"));
    ui->cb_savePass->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CHECKBOX_SAVEPASS"));
    ui->pb_login->setText(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_PUSHBUTTON_LOGIN"));
    setWindowTitle(Text("/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_TITLE"));
}

void LoginKeyIPSECUI::SetToolTip() {
    const QString tip = Text("/UI_LOGINKEYIPSEC/UI_LOGINKEY_USERNAME_TOOLTIP");
    ui->le_username->setToolTip(tip);
    ui->le_password->setToolTip(tip);
}

void LoginKeyIPSECUI::SetCustomizedSkin() {
    const QString path = UIContext::GetInstance()->GetInstallDir() + UI_CUSTOMIZED_BACKGROUND;
    if (QFile::exists(path)) {
        ui->sw_label->setStyleSheet("border-image: url(" + path + ");");
    }
}

// ---- Login ------------------------------------------------------------------------------

void LoginKeyIPSECUI::ShowBothIfHidden() {
    QWidget* mainWindow = parentWidget();
    const bool mainHidden = mainWindow == nullptr || !mainWindow->isVisible();
    if (!mainHidden || isVisible()) {
        return;
    }
    if (mainWindow != nullptr) {
        mainWindow->show();
    }
    KeepPasswordOnlyIfSaved();
    show();
    emit signal_LoginkeyIPSECUIInit();
}

void LoginKeyIPSECUI::KeepPasswordOnlyIfSaved() {
    if (!ui->cb_savePass->isChecked()) {
        ui->le_password->clear();
    }
}

void LoginKeyIPSECUI::LoginKeyIPSECUI_UserPwd_Remember(CFM_SESSION_S& session) {
    const bool remember = ui->cb_savePass->isChecked() || ui->cb_autoLogin->isChecked();
    if (remember) {
        Log(DDM_LOG_INFO, QStringLiteral("[IPSEC to remember user and pswd]"));
        // As typed, blanks included: the request carries them trimmed.
        (void)Util_FieldSetString(session.UserName, sizeof(session.UserName),
                                  ui->le_username->text());
        (void)Util_FieldSetString(session.Password, sizeof(session.Password),
                                  ui->le_password->text());
    } else {
        Log(DDM_LOG_INFO, QStringLiteral("[IPSEC to clear user and pswd]"));
        std::memset(session.UserName, 0, sizeof(session.UserName));
        std::memset(session.Password, 0, sizeof(session.Password));
    }
    ui->le_serverAddress->setText(ServerAddress());
    const QString address = ui->le_serverAddress->text();
    (void)Util_FieldSetString(session.LastLoginAddr, sizeof(session.LastLoginAddr), address);
    Log(DDM_LOG_INFO, "[IPSEC to remember server address][" + address + "]");
    session.AutoLogin = ui->cb_autoLogin->isChecked() ? 1 : 0;
    session.RemPwd = ui->cb_savePass->isChecked() ? 1 : 0;

    const QString name = ProfileFileName();
    UISystemProfile* profile = UISystemProfile::GetInstance();
    profile->SetSession(&session, name);
    // A refused write shows its own warning; the login goes on.
    (void)profile->WriteSession(&session, 1);
    (void)profile->Read();
}

// The engine reports each step of building the connection; each report is awaited here,
// blocking the main thread, with the service link's receive time-out. Both windows stay
// hidden meanwhile.
void LoginKeyIPSECUI::LoginKeyIPSECUI_Login() {
    QWidget* mainWindow = parentWidget();
    auto hideBoth = [this, mainWindow]() {
        if (mainWindow != nullptr) {
            mainWindow->hide();
        }
        hide();
    };

    emit signal_AutoFlag(ui->cb_autoLogin->isChecked());
    if (mainWindow != nullptr && mainWindow->isVisible() && isVisible()) {
        hide();
        mainWindow->hide();
        emit signal_LoginkeyIPSECUIDelete();
    }

    const QString user = ui->le_username->text().trimmed();
    const QString password = ui->le_password->text().trimmed();
    bool missing = user.isEmpty() || password.isEmpty();
    const char* missingKey = "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_USERPWD_EMPTY";
    if (d->certMode) {
        missing = missing || ui->cb_CertList->currentText().trimmed().isEmpty();
        missingKey = "/UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CERT_PWD_EMPTY";
    }
    if (missing) {
        Util_ShowCritical(Text(QLatin1String(missingKey)), QString(), -1);
        // An automatic login of a hidden window brings both back for the user.
        if ((mainWindow == nullptr || !mainWindow->isVisible()) && !isVisible()) {
            if (mainWindow != nullptr) {
                mainWindow->show();
            }
            show();
            emit signal_LoginkeyIPSECUIInit();
        }
        return;
    }

    hide();
    const QString name = ProfileFileName();
    UISystemProfile::GetInstance()->SetLastAccessSession(name);
    Log(DDM_LOG_DEBUG, "[IPSEC to remeber last connect name][connect name is " + name + "]");

    const QString server = ui->le_serverAddress->text().trimmed();
    CFM_SESSION_S session;
    std::memset(&session, 0, sizeof(session));
    session.ConnectionType = static_cast<uint32_t>(UIContext::GetInstance()->GetLinkType());
    (void)Util_FieldSetString(session.ProfileName, sizeof(session.ProfileName), name);

    auto request = std::make_unique<UI_IPSEC_LOGIN_S>();
    std::memset(request.get(), 0, sizeof(UI_IPSEC_LOGIN_S));
    (void)Util_FieldSetString(request->acServerAddr, sizeof(request->acServerAddr), server);
    (void)Util_FieldSetString(request->acUserName, sizeof(request->acUserName), user);
    (void)Util_FieldSetString(request->acPassword, sizeof(request->acPassword), password);
    request->uiSavePass = ui->cb_savePass->isChecked() ? 1 : 0;
    (void)Util_FieldSetString(request->acProfileName, sizeof(request->acProfileName), name);

    const int certIndex = ui->cb_CertList->currentIndex();
    if (!d->certificateNames.isEmpty() && certIndex >= 0 &&
        certIndex < d->certificateNames.size()) {
        const QString certName = d->certificateNames.at(certIndex);
        (void)Util_FieldSetString(request->acCertName, sizeof(request->acCertName), certName);
        Log(DDM_LOG_DEBUG, "[IPSEC send the login cert name][cert name is " + certName + "]");
    }

    if (!d->passwordEdited) {
        Log(DDM_LOG_DEBUG, QStringLiteral("[IPSEC pswd is not changed]"));
        std::memset(request->acPassword, 0, sizeof(request->acPassword));
        ui->le_password->clear();
    }

    LoginKeyIPSECUI_UserPwd_Remember(session);

    if (UI_IpsecLogin_Process(request.get()) != 0) {
        Log(DDM_LOG_ERROR, QStringLiteral("[IPSEC get login ret is failed!]"));
        Warn(OverTimeText());
        ShowBothIfHidden();
        return;
    }
    hideBoth();
    emit signal_LoginkeyIPSECUIDelete();
    request.reset();
    emit signal_setLoginSuccessIPSEC(true);

    for (;;) {
        uint32_t kind = 0;
        uint32_t done = 0;
        char msgCodeName[kMsgCodeNameSize] = {};
        if (UI_IpsecLogin_Recv(msgCodeName, &kind, &done) != 0) {
            Warn(Text(QStringLiteral("UI_LOGINKEYIPSEC/UI_LOGINKEYIPSEC_CONNECT_TIMEOUT")));
            emit signal_setMainShow();
            KeepPasswordOnlyIfSaved();
            show();
            emit signal_LoginkeyIPSECUIInit();
            return;
        }
        hideBoth();
        emit signal_LoginkeyIPSECUIDelete();
        const QString key = Util_FieldToString(msgCodeName, sizeof(msgCodeName));
        Log(DDM_LOG_DEBUG,
            "[IPSEC LogInRecv receive the MsgCode][MsgCode is " +
                Util_FieldToLocal8Bit(msgCodeName, sizeof(msgCodeName)) + "]");
        if (kind == 1 && done == 1) {
            BubblingWidget::popUp(Text(key));
            hideBoth();
            emit signal_LoginkeyIPSECUIDelete();
            emit signal_LoginkeyIPSECUIDelete();
            return;
        }
        if (kind == 1) {
            // A step went well; its text is not shown.
            hideBoth();
            emit signal_LoginkeyIPSECUIDelete();
            continue;
        }
        Warn(Text(key));
        emit signal_setMainShow();
        if (ui->cb_savePass->isChecked()) {
            ShowPasswordPlaceholder();
        } else {
            ui->le_password->clear();
        }
        show();
        emit signal_LoginkeyIPSECUIInit();
        return;
    }
}
