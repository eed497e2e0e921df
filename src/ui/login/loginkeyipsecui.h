#pragma once
// The L2TP/IPSec login view. The main window creates it anew for every launch, with
// itself as parent, and listens to the signals below; the view runs the login itself.

#include "basewidget.h"

class LoginKeyIPSECUI : public basewidget {
    Q_OBJECT

public:
    explicit LoginKeyIPSECUI(QWidget* parent = nullptr);
    ~LoginKeyIPSECUI() override;

    // The parent's signal_Main_DisAutoLogin sets the automatic-login box.
    void InitWidget() override;
    // Fills user name, boxes and password placeholder from the connection's session.
    void LoginKeyIPSECUI_UserPwd_Init();
    // The whole IPSec login, run to its end before it returns.
    void LoginKeyIPSECUI_Login();

signals:
    void signal_setMainShow();
    void signal_setLoginSuccessIPSEC(bool success);
    void signal_AutoFlag(bool flag);
    void signal_LoginkeyIPSECUIDelete();
    void signal_LoginkeyIPSECUIInit();

public slots:
    void LoginKeyIPSECUI_Change_AutoLogin_slot(bool autoLogin);
};
