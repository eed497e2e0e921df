#pragma once
// The SSL VPN login view. The main window creates one for every launch, with itself as
// parent, runs Init, wires the signals below to its own slots and then shows the view
// modally (or, for an automatic login, fills it and starts the login without showing
// it). The view reads the connection's profile, its gateways, the site preference and
// the certificates from the service, and runs the login itself.
//
// The signals and slots are declared in a fixed order: the main window and plugins rely
// on their places in the meta-object, not only on their names.

#include <QString>
#include <QStringList>

#include "basewidget.h"
#include "mcomboboxitem.h"
#include "servicelink.h"

class LoginKeyUIPrivate;
class QCloseEvent;
class QComboBox;
class QEvent;
class QKeyEvent;
class QObject;
class Ui_LoginKeyUI;

class LoginKeyUI : public basewidget {
    Q_OBJECT

public:
    explicit LoginKeyUI(QWidget* parent = nullptr);
    ~LoginKeyUI() override;
    LoginKeyUI(const LoginKeyUI&) = delete;
    LoginKeyUI& operator=(const LoginKeyUI&) = delete;

    // Swallows Paste, Copy and the middle button's release on the two password fields,
    // and clears the remembered password once, at the first press on its field.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // In plugin mode only the parent's do-login signal is wired. Otherwise: the gateway
    // drop-down, the profile, the gateway rows, the user fields and the login page; a
    // profile the service does not give stops the set-up with the drop-down empty and
    // the login button unwired.
    void InitWidget() override;
    void SetInputControl() override;
    void SetLanguageText() override;
    void SetCustomizedSkin() override;
    void SetToolTip() override;

    // Reads the current connection's SSL profile; false (a warning shown) when the
    // service could not be asked or refused.
    bool LoginKeyUI_Profile_Read();
    // Fills the gateway rows from the service's list and shows the default gateway.
    void LoginKeyUI_IPList_Init();
    // Fills the user fields and the two boxes from the connection's session entry.
    void LoginKeyUI_UserPwd_Init();
    // Shows the page of an authentication type (0 password, 2 certificate and password,
    // 1 certificate) and loads that page's certificates; other types keep the page.
    void LoginKeyUI_LoginPage_Set(int authType);
    // Adds a gateway row that has no profile record behind it.
    void IPList_Insert(QString rowText, int delay);
    // Asks the service about one gateway; its authentication type, 0 when it did not
    // answer with success.
    uint32_t GetSitePref(QString gatewayText, const UIGATEWAY_INFO_S* gateway);
    // Loads the service's certificates into the box and certificateNames, row for row.
    void LoginKeyUI_CertList_Init(QComboBox* box);
    // The chosen row of the certificate box of that type's page, -1 for other types.
    int LoginKeyUI_CertIndex_Get(int authType);

    // The login: builds the request from the page in view, remembers the user's choices
    // in the session (password page only), lets the service choose the gateway, sends
    // the request and carries the answer through to its end, prompts included. The
    // view and the main window are hidden when it starts; each outcome says which of
    // them come back.
    void LoginKeyUI_SSL_Login();
    // One request without the device certificate check after the user accepted the
    // untrusted-certificate prompt; otherwise the configuration's setting.
    void DeviceCACheck(UI_SSL_LOGIN_S*& sslLogin);
    // The request's language: 1 English, 2 Chinese, 0 any other.
    void LanguageType(UI_SSL_LOGIN_S*& sslLogin);
    // Writes the session's remembered user, password, gateway and boxes to the service
    // and reads the configuration back.
    void LoginKeyUI_UserPwd_Remember(CFM_SESSION_S* session);
    // An accepted login: host check and cache clear as the gateway asks, then the tunnel.
    void LoginKeyUI_Login_Success(UI_SSL_LOGIN_RET_S loginRet);
    // False when the login may not go on (the session is then logged out).
    bool LoginKeyUI_HostCheck_CacheClear(uint32_t hostCheck, uint32_t cacheClear);
    // Starts the tunnel in the profile's mode; flag receives the service's answer.
    void LoginKeyUI_Cnem_Start(UI_SSL_LOGIN_RET_S* loginRet, int* flag);
    // The password field after a failed attempt: the placeholder of a remembered
    // password, or empty.
    void LoginKeyUI_Password_Reset();
    // The gateway asked for a token code: the prompt, the code sent, the answer judged.
    void Smscheck_Warning(uint32_t result, UI_SSL_LOGIN_S*& sslLogin, char* msgCodeName,
                          UI_SSL_LOGIN_RET_S loginRet);
    void LoginKeyUI_Judgment_Ret(uint32_t result, const char* msgCodeName,
                                 UI_SSL_LOGIN_RET_S loginRet);

signals:
    void signal_setLoginSuccess(bool success);
    void signal_SendFirstLoginChangePSWDObject();
    void signal_setAutoFlag(bool flag);
    void signal_ShowMainui();
    void signal_LoginkeyUIDelete();
    void signal_LoginkeyUIInit();
    void signal_LoginkeyTrayAcConnect(bool status);
    void signal_MainUI_OpenHelp();
    void signal_MainUI_Language_Changed();
    void signal_PwdEnable(bool enable);

public slots:
    // 1 when the host check passed.
    int LoginKeyUI_Host_Check();
    // 1 when the cache was cleared; the argument is not used.
    int LoginKeyUI_Cache_Clear(int flag);
    // Shows the gateway text in the closed drop-down; a gateway row (type 3) also asks
    // the service for that gateway's authentication type and shows its page.
    void LoginKeyUI_IPName_Show(QString text, LINK_TYPE type);
    void LoginKeyUI_Certificate_Refresh();
    void on_tb_refreshCertificate_2_clicked();
    void on_tb_refreshCertificate_clicked();
    void on_cb_autoLogin_stateChanged(int state);
    void on_cb_savePass_stateChanged(int state);
    void on_le_password_textEdited(QString text);
    void GetCodeStrSlot(QString codestr);
    void on_cb_Best_stateChanged(int state);
    void closeEvent(QCloseEvent* closeCvent) override;
    void keyPressEvent(QKeyEvent* keyevent) override;
    void on_le_username_textChanged(QString text);
    void LoginKeyUI_Plugin_SSLLogin();
    void LoginKeyUI_OpenHelp_slot();
    void LoginKeyUI_Language_Changed_slot();
    void LoginKeyUI_Change_AutoLogin_slot(bool flag);
    void LoginKeyUI_Login_click();
    void LoginKeyUI_AutoBest_IPList(QStringList strList);
    void LoginKeyUI_Refresh_IPList();
    int LoginKeyUI_GetCurrentIpIndex(QString ipStr);
    void LoginKeyUI_Plugin_Login();

private:
    friend class LoginKeyUITestPeer;

    // The main window (the view's parent) and the view are both out of sight.
    bool BothHidden() const;
    // The main window first, then the view.
    void ShowBoth();
    // The gateway demands a new password before the first login can go on.
    void FirstLogin_ModifyPwd(const UI_SSL_LOGIN_RET_S& loginRet, const QString& message);
    // The gateway's certificate is not trusted: the user decides whether to go on.
    void CertificatePrompt();

    Ui_LoginKeyUI* ui;
    LoginKeyUIPrivate* d;
};

// Logs the SSL session out; a refusal or no answer is shown.
void LoginKeyUI_SSL_Logout();
