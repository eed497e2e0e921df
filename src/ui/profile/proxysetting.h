#pragma once
// The proxy dialog: how the client reaches its gateways, with no proxy, the system's
// proxy, or an HTTPS or SOCKS5 proxy the user enters, with address, port, account and
// password. The values live in the system configuration: the dialog reads it again when
// it opens and writes it back to the service on commit. An L2TP/IPSec connection is
// offered only "no proxy" and SOCKS5.
//
// The type list's positions are not the stored types: each item carries its stored type
// as item data (0 none, 1 system, 3 HTTPS, 4 SOCKS5). The stored types 1 and 2 both
// mean the system's proxy, as HTTPS or SOCKS5 when last read.

#include <QString>

#include "basewidget.h"

class Ui_ProxySetting;
class ProxySettingPrivate;

class ProxySetting : public basewidget {
    Q_OBJECT

public:
    explicit ProxySetting(QWidget* parent = nullptr);
    ~ProxySetting() override;

    // Fills the type list for the link type, reads the configuration again and shows the
    // stored proxy.
    void InitWidget() override;
    // Length caps and validators of the four fields.
    void SetInputControl() override;
    void SetLanguageText() override;
    void SetToolTip() override;

    // Address syntax: a dotted quad or nothing but digits (at most 127 of them).
    static bool ProxySetting_IPAddress_Check(const QString& text);
    // Host name syntax: 3 to 63 characters, ASCII letters, digits, "-", ".", "/" and ":"
    // inside, at least one dot and a last label with a letter.
    static bool ProxySetting_DomainName_Check(const QString& text);

public slots:
    // The fields for the type at this list position.
    void ProfileInfoUI_ProxySetting_Changed(int index);
    void on_pb_Cancle_clicked();
    void on_pb_Commit_clicked();
    void on_le_proxyPassword_textEdited(QString text);
    void on_le_proxyAccount_textChanged(QString text);

private:
    void ProxySetting_Type_Init();
    void ProxySetting_Values_Load();
    void ProxySetting_SystemProxy_Get();
    bool ProxySetting_Input_Check();
    void ClearMarks();
    void EmptyFields();
    void SetAddressAndPortEnabled(bool enabled);
    void ShowPasswordPlaceholder();

    Ui_ProxySetting* ui;
    ProxySettingPrivate* d;
};
