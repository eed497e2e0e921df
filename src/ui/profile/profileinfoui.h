#pragma once
// The connection-profile dialog. Opened for a new profile (UIContext's new-connection
// flag), it offers an SSL VPN page, an L2TP/IPSec page and the import of a profile file,
// and confirms with OK; opened on the current connection, it offers only that profile's
// page, confirms with save and can export the profile. It reports what it wrote through
// the two signals below. The main window connects to its signals and button slots by
// name, so their names and arguments are part of its interface.

#include <QByteArray>
#include <QMessageBox>
#include <QString>

#include "basewidget.h"
#include "mcomboboxitem.h"
#include "servicelink.h"

class QLineEdit;
class Ui_ProfileInfoUI;
class ProfileInfoUIPrivate;

class ProfileInfoUI : public basewidget {
    Q_OBJECT
    // The tests read the form and the private record through this peer.
    friend struct ProfileInfoUITestPeer;

public:
    // Builds the form, hides the route rows it never shows, and takes UIContext's
    // current connection name + ".ini" as the profile it may edit.
    explicit ProfileInfoUI(QWidget* parent = nullptr);
    ~ProfileInfoUI() override;
    ProfileInfoUI(const ProfileInfoUI&) = delete;
    ProfileInfoUI& operator=(const ProfileInfoUI&) = delete;

    // The fixed initial state, every connection, the menu, and the mode: a new profile
    // opens on the SSL VPN page with OK; an existing one asks the service for its kind,
    // reads it and shows only its page, with save (disabled while logged in).
    void InitWidget() override;
    // Captions, list items and headers from the language file; the width by language,
    // the title by mode.
    void SetLanguageText() override;
    // The tool tips of the sixteen input fields.
    void SetToolTip() override;

    // The name fields at opening: a new profile may be named on the page in view; an
    // existing one shows its name, which cannot be changed.
    void ProfileInfoUI_LinkNameState_Set();
    // The menu of an existing SSL VPN or L2TP/IPSec profile: its own entry and export.
    bool ProfileInfoUI_SSLEditMode_Set();
    bool ProfileInfoUI_IPSecEditMode_Set();
    // Reads the stored profile (name as UTF-8) into its page; true when filled.
    bool ProfileInfoUI_Profile_Read(const QByteArray& name, LINK_TYPE type);
    // Sends a record of that kind under the profile file name (UTF-8); true when the
    // service confirmed it. A refusal is shown, except in plugin mode.
    bool ProfileInfoUI_Profile_Write(const QByteArray& name, LINK_TYPE type, const void* record);
    // A read-back record may be shown: its entry count fits its array.
    bool ProfileInfoUI_SSLProfile_Verify(const CFM_SSL_PROFILE_S& record);
    bool ProfileInfoUI_IPSECProfile_Verify(const CFM_IPSEC_PROFILE_S& record);
    // Fill the page from a verified record.
    void ProfileInfoUI_SSLConnect_Fill(const CFM_SSL_PROFILE_S& record);
    void ProfileInfoUI_IPSECConnect_Fill(const CFM_IPSEC_PROFILE_S& record);
    // Asks the service to delete a profile (file name as UTF-8); true on success.
    bool ProfileInfoUI_Connect_Delete(const QByteArray& name);

    // Lengths, validators and the watch over the two secret fields.
    void SetInputControl() override;
    // The bottom buttons' arrow keys, the SA lifetimes' lower bounds on leaving them,
    // no copy or paste in the secrets, no wheel on the combo boxes.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // ---- Checks. Create and save run the page checks; a failing check marks its fields
    // with the error frame and leaves the dialog open. Mode 0 is a new profile, whose
    // name is checked; mode 1 an existing one.
    // A dotted quad of parts up to 255, or up to 127 digits (the empty text too).
    bool ProfileInfoUI_IPAddress_Check(const QString& text) const;
    // A host name of 3 to 63 characters with a dot and letters in its last part; a port
    // (":443") or an "http://" prefix may stand in it.
    bool ProfileInfoUI_DomainName_Check(const QString& text) const;
    // False when the profile folder holds a profile file of that name, in any case.
    bool ProfileInfoUI_ProfileName_IsFree(const QString& name);
    // A new profile's name: not blank, and (outside plugin mode) not taken.
    bool ProfileInfoUI_ConnectName_Check(const QString& name);
    bool ProfileInfoUI_SSLGateway_NullCheck();
    bool ProfileInfoUI_Port_NullCheck();
    bool ProfileInfoUI_LNSServer_NullCheck();
    bool ProfileInfoUI_GmCertificate_Check();
    bool ProfileInfoUI_IPSECFields_Check(const QString& tunnelName);
    // Every step runs, so that one press marks every failing field.
    bool ProfileInfoUI_SSLConnect_Check(int mode);
    bool ProfileInfoUI_IPSECConnect_Check(int mode);
    void ProfileInfoUI_SSLErrorStyle_Clear();
    void ProfileInfoUI_IPSECErrorStyle_Clear();

    // ---- Gateway list.
    // Both texts non-empty; otherwise says which one is missing.
    bool ProfileInfoUI_GatewayPort_Check(const QString& address, const QString& port);
    // No row lists the address (exact text); otherwise says so and empties the field.
    bool ProfileInfoUI_Gateway_IsNew(const QString& address);
    // Every empty, "00" or "000" part of a dotted text becomes "0".
    void ProfileInfoUI_IPText_Normalize(QString& text) const;

    // ---- Route list.
    // No row holds exactly the text in that column.
    bool ProfileInfoUI_RouteCell_IsNew(int column, const QString& text) const;
    // The route list, its caption and its buttons together.
    void ProfileInfoUI_RouteWidgets_Enable(bool enable);

signals:
    // A new profile was written or imported (name without extension, type 1 or 2).
    void signal_newconnect(QString name, LINK_TYPE type);
    // An existing profile was saved: the name it had, the name it has, its type.
    void signal_sendNewConnect(QString oldName, QString newName, LINK_TYPE type);

public slots:
    // Left menu: the three pages and the export.
    void ProfileInfoUI_MenuSSL_Click();
    void ProfileInfoUI_MenuIPSec_Click();
    void ProfileInfoUI_MenuInput_Click();
    void ProfileInfoUI_MenuOutput_Click();
    // The L2TP/IPSec sub-menu: scroll to a part of the page, or follow the scrolling.
    void ProfileInfoUI_IPSecL2TPSetting_Click();
    void ProfileInfoUI_IPSecIPSecSetting_Click();
    void ProfileInfoUI_ScrollIPSec_Changed(int value);
    // GM certificate rows of the SSL VPN page.
    void ProfileInfoUI_sign_certificate_select();
    void ProfileInfoUI_encryption_certificate_select();
    void ProfileInfoUI_Gmalgorithm_Click();
    void ProfileInfoUI_sign_certificate_clear();
    void ProfileInfoUI_encrypto_certificate_clear();
    void ProfileInfoUI_GmSSL_Status_Set(bool bType);
    // SSL VPN gateway list.
    void ProfileInfoUI_BestAdd_Click();
    void ProfileInfoUI_SSLConnect_DelServer();
    void ProfileInfoUI_SSLConnect_AddServer(QString address, QString port);
    // L2TP/IPSec routes and choices.
    void ProfileInfoUI_NewVPNNetwork_Show();
    void ProfileInfoUI_IPSECConnect_DelIP();
    void ProfileInfoUI_IPSECConnect_AddIP(QString ip, QString mask);
    void ProfileInfoUI_IPSec_Use();
    void ProfileInfoUI_Tunnel_Use();
    void ProfileInfoUI_autoBest();
    void ProfileInfoUI_Router_Use();
    void on_rb_ModeConfig_clicked();
    void on_rb_HandConfig_clicked();
    void ProfileInfoUI_PreSharedKey_Use();
    void ProfileInfoUI_USBKey_Use();
    void ProfileInfoUI_IKEPFS_Use();
    // The profile file name follows the name field of a new profile.
    void ProfileInfoUI_SSLConnectName_Set(QString text);
    void ProfileInfoUI_IpsecConnectName_Set(QString text);
    // Writing, reading, creating and saving profiles.
    bool ProfileInfoUI_SSLConnect_WriteInit(QString name);
    bool ProfileInfoUI_IPSECConnect_WriteInit(QString name);
    void ProfileInfoUI_Connect_ReadInit(QString name);
    void ProfileInfoUI_Connect_Create();
    void ProfileInfoUI_Connect_Save();
    void ProfileInfoUI_IPSec_MainMode_Choice();
    void ProfileInfoUI_IPSec_AggressiveMode_Choice();
    void ProfileInfoUI_IPSec_ID_Choice(int index);
    void ProfileInfoUI_Profile_Input();
    // Connected by name by the form.
    void on_le_tunnelPassword_textEdited(QString text);
    void on_le_statusConfirm_textEdited(QString text);
    void on_pb_SetPriorGateway_clicked();
    void on_cb_LNSServer_stateChanged(int state);
    // Byte caps of the six fields whose text ends in a fixed-size record field.
    void on_le_connectNameSSL_textChanged(QString text);
    void on_le_connectNameIPSEC_textChanged(QString text);
    void on_le_descriptionMsgSSL_textChanged(QString text);
    void on_le_descriptionMsgIPSEC_textChanged(QString text);
    void on_le_localGatewayName_textChanged(QString text);
    void on_le_remoteGatewayName_textChanged(QString text);
    // The main window's switches of the confirm buttons (save is off while logged in).
    void ProfileInfoUI_Set_Savebtn(bool enable);
    void ProfileInfoUI_Set_OKbtn(bool enable);

private:
    // Accepts or undoes a change of a capped field; a twin mirrors it, and the undo
    // applies, only while the field's page (-1: any) is in view.
    void CapText(QLineEdit* field, int cap, QString& lastAccepted, QLineEdit* twin, int page,
                 const QString& text);
    // Where the IPSec part of the L2TP/IPSec page begins in its scrolled contents.
    int IPSecBoundary() const;
    // The sub-menu highlight on one of its two entries.
    void SubMenuL2TPCurrent();
    void SubMenuIPSecCurrent();
    void ChooseCertificate(QLineEdit* field);
    // The dialog's own one-button box: title WARNING, parent this dialog.
    void ShowOwnBox(QMessageBox::Icon icon, const char* key);
    // Marks the name field of the page in view (none on the import page).
    QLineEdit* NameFieldInView() const;
    // The import page's confirm: checks the file's name and asks the service to import it.
    void ImportProfile();

    Ui_ProfileInfoUI* ui;
    ProfileInfoUIPrivate* d;
};
