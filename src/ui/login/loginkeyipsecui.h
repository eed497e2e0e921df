#pragma once
// The L2TP/IPSec login view. The main window creates one for every launch, with itself
// as parent, runs Init, wires the five signals below to its own slots and then shows the
// view modally (or, for an automatic login, fills it and starts the login without
// showing it). The view reads the connection's profile and, for a profile that logs in
// by certificate, the certificate list from the service, and runs the login itself: it
// remembers the session, sends the request and waits for the engine's step reports.
//
// The signals and slots are declared in a fixed order: the main window relies on their
// places in the meta-object, not only on their names.

#include <QString>
#include <QStringList>

#include "basewidget.h"
#include "servicelink.h"

class LoginKeyIPSECUIPrivate;
class QCloseEvent;
class QComboBox;
class QEvent;
class QKeyEvent;
class QObject;
class Ui_LoginKeyIPSECUI;

class LoginKeyIPSECUI : public basewidget {
    Q_OBJECT

public:
    explicit LoginKeyIPSECUI(QWidget* parent = nullptr);
    ~LoginKeyIPSECUI() override;
    LoginKeyIPSECUI(const LoginKeyIPSECUI&) = delete;
    LoginKeyIPSECUI& operator=(const LoginKeyIPSECUI&) = delete;

    // Swallows Paste, Copy and the middle button's release on the password field, and
    // clears the remembered password once, at the first press on its field.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The profile, the certificate row of a certificate profile, the user fields and the
    // server address; a profile the service does not give stops the set-up with the
    // Login button unwired and no Init signal.
    void InitWidget() override;
    void SetInputControl() override;
    void SetLanguageText() override;
    void SetCustomizedSkin() override;
    void SetToolTip() override;

    // Reads the current connection's IPSec profile; false (a warning shown) when the
    // service could not be asked or refused.
    bool LoginKeyIPSECUI_Profile_Read();
    // Appends the service's certificates to the box and to the names, item for item.
    void LoginKeyIPSECUI_CertList_Init(QComboBox* box);
    // Fills the user name, the two boxes, the password placeholder and the server
    // address from the connection's session entry. The main window calls it before an
    // automatic login.
    void LoginKeyIPSECUI_UserPwd_Init();
    // Fills the remember fields of the login's session entry from the view and writes
    // the entry to the service.
    void LoginKeyIPSECUI_UserPwd_Remember(CFM_SESSION_S& session);

signals:
    void signal_setMainShow();
    void signal_setLoginSuccessIPSEC(bool success);
    void signal_AutoFlag(bool flag);
    void signal_LoginkeyIPSECUIDelete();
    void signal_LoginkeyIPSECUIInit();

private slots:
    void on_tb_refreshCertificate_clicked();
    void on_cb_autoLogin_stateChanged(int state);
    void on_cb_savePass_stateChanged(int state);
    void on_le_password_textEdited(QString text);
    void on_le_username_textChanged(QString text);
    void LoginKeyIPSECUI_Change_AutoLogin_slot(bool flag);
    void closeEvent(QCloseEvent* closeCvent) override;
    void keyPressEvent(QKeyEvent* keyevent) override;

public slots:
    // The whole login, from the field checks to the engine's last report, run to its
    // end before it returns: the engine's reports are awaited on the main thread.
    void LoginKeyIPSECUI_Login();

private:
    friend class LoginKeyIPSECUITestPeer;

    // The profile's server address by the profile's IPSec settings.
    QString ServerAddress() const;
    // The remembered password's placeholder, and the password flags as a fresh view has
    // them, so that the placeholder is never taken for a typed password.
    void ShowPasswordPlaceholder();
    // After a request that could not be sent: when both windows are hidden, shows them
    // again, the password kept only when it is to be remembered.
    void ShowBothIfHidden();
    // Empties the password field unless the password is to be remembered.
    void KeepPasswordOnlyIfSaved();

    Ui_LoginKeyIPSECUI* ui;
    LoginKeyIPSECUIPrivate* d;
};
