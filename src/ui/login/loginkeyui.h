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
    void LoginKeyUI_Host_Check();
    void LoginKeyUI_Cache_Clear(int flag);
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

    Ui_LoginKeyUI* ui;
    LoginKeyUIPrivate* d;
};
