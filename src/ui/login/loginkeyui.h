#pragma once
// The SSL VPN login view. The main window creates it anew for every launch, with itself
// as parent, and listens to the signals below; the view runs the login itself.

#include "basewidget.h"

class LoginKeyUI : public basewidget {
    Q_OBJECT

public:
    explicit LoginKeyUI(QWidget* parent = nullptr);
    ~LoginKeyUI() override;

    // Plugin mode: a plugin login runs at each signal_DoLogin of the parent. Otherwise the
    // parent's signal_Main_DisAutoLogin sets the automatic-login box.
    void InitWidget() override;
    // Fills user name, boxes and password placeholder from the connection's session.
    void LoginKeyUI_UserPwd_Init();

signals:
    void signal_setLoginSuccess(bool success);
    void signal_PwdEnable(bool enable);
    void signal_setAutoFlag(bool flag);
    void signal_ShowMainui();
    void signal_LoginkeyUIDelete();
    void signal_LoginkeyUIInit();
    void signal_LoginkeyTrayAcConnect(bool status);
    void signal_MainUI_OpenHelp();
    void signal_MainUI_Language_Changed();
    void signal_SendFirstLoginChangePSWDObject();

public slots:
    void LoginKeyUI_Login_click();
    void LoginKeyUI_Change_AutoLogin_slot(bool autoLogin);
    void LoginKeyUI_Plugin_Login();
};
