#pragma once
// The front end's main window and the hub of the Qt side: the connection drop-down, the
// Connect and Disconnect buttons, the tray icon and its menu, the event threads that
// bring service and plugin events to the main thread, and the dialogs the user opens
// from it. One window per process, built at start-up without a parent, then Init.

#include <QCloseEvent>
#include <QList>
#include <QString>
#include <QSystemTrayIcon>

#include "basewidget.h"
#include "mcomboboxitem.h"
#include "servicelink.h"

class MainUIPrivate;
class QEvent;
class Ui_MainUI;

class MainUI : public basewidget {
    Q_OBJECT

public:
    explicit MainUI(QWidget* parent = nullptr);
    ~MainUI() override;
    MainUI(const MainUI&) = delete;
    MainUI& operator=(const MainUI&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

    void InitWidget() override;
    void SetLanguageText() override;
    void SetCustomizedSkin() override;

    // The connection list.
    void MainUI_ConnectList_Init();
    void MainUI_ConnectList_Insert(QString name, int rowKind);
    void MainUI_Profile_Delete(QString name);

    // The tray.
    void MainUI_SysTrayIcon_Init();
    void MainUI_SysTrayIcon_Refresh();

    // Ending a connection and the process.
    void MainUI_SSLCache_Clear();

    // The login launch. Reads the current SSL profile into the window's copy; false (a
    // warning shown) when the service could not be asked or refused.
    bool MainUI_SSLProfile_Read();
    // Writes the gateway text of the site-preference request: the last login's gateway
    // when the profile still has it, else the profile's address, else its last gateway.
    void GetRuningMode_Manual(UISSL_FIRST_CONN* sslFirstConn);
    // Brings the drop-down, the buttons, the tray and the window in line with the login
    // state: the connected look while logged in, the idle look otherwise.
    void Connection_GetLoginReturn_Update();
    // For tests only: the plugin's queued login requests (1 a login), which a launch in
    // plugin mode hands to its view.
    void MainUI_PluginEventQueue_Set(const QList<int>& queue);
    // In plugin mode, once at the start: the proxy the browser handed over becomes the
    // stored one ("NoProxy" clears it), saved to the service. An empty text keeps it.
    void MainUI_Plugin_Init();

signals:
    void signal_DoLogin();
    void signal_Main_DisAutoLogin(bool autoLogin);
    void signal_Set_Savebtn(bool enable);
    void signal_Set_OKbtn(bool enable);

public slots:
    void MainUI_LoginKey_Show();

private slots:
    int isClassicTheme();
    void destructor();
    void MainUI_VnicError_Message();
    void MainUI_DhcpError_Message();
    void MainUI_Language_Changed();
    void on_cb_linkname_currentTextChanged(QString text);
    void MainUI_NewConnect_Show();
    void MainUI_ProfileDetail_Show();
    void MainUI_Option_Show();
    void MainUI_Connection_Create(QString name, LINK_TYPE type);
    void MainUI_Connection_Delete(QString name);
    void MainUI_Connection_ListItem_Delete(QString name);
    void MainUI_Connection_Stop();
    void MainUI_ConnectList_GetSaveReturn_Update(QString newName, QString oldName, LINK_TYPE type);
    void MainUI_ConnectList_Popup();
    void MainUI_ConnectName_Show(QString name, LINK_TYPE type);
    void MainUI_SysTrayIcon_ShowMain();
    void MainUI_SysTrayIcon_ShowAbout();
    void MainUI_SysTrayIcon_ShowChangePwd();
    void MainUI_SysTrayIcon_ExitMain_Pre();
    void MainUI_SysTrayIcon_ExitMain();
    void MainUI_SysTrayIcon_Changed(QString state);
    void MainUI_SysTrayIcon_Active(QSystemTrayIcon::ActivationReason reason);
    void MainUI_SysTrayIcon_ErrorReport();
    void MainUI_SysTrayIcon_Help();
    void MainUI_SysTrayIcon_DisAutoLogin();
    void MainUI_SysTrayIcon_CancelAutoLogin();
    void MainUI_PWD_Enable_Update(bool enable);
    void MainUI_GlobalLogin_GetLoginReturn_Update(bool success);
    void MainUI_UrgentLogout_Message();
    void MainUI_CnemReconn_Fail_Message();
    void MainUI_ShowSlot();
    void MainUI_SetAutoFlagSlot(bool flag);
    void MainUI_SetDisAutoStatus();
    void MainUI_UI_Show_Style(int showType, QString str);
    void MainUI_FirstLogin_ModifyPSWD();
    void on_pb_ProxySetting_clicked();
    void on_pb_Help_clicked();
    QString MainUI_UI_GetNewVersion(QString newClientPath);
    int MainUI_UI_Update(UISSL_FIRST_CONN* sslFirstConn,
                         UIFIRST_CONNECT_CONF_S* firstConnectReturn);
    void MainUI_Plugin_Login();
    void MainUI_Plugin_Stop_CNEM();
    void MainUI_Plugin_Start_CNEM();
    void MainUI_Plugin_ReadEventQueue();
    void MainUI_SetLoginkeyUIExist();
    void MainUI_SetLoginkeyUIInit();
    void MainUI_SetLoginKeyIPSECUIInit();
    void MainUI_SetLoginKeyIPSECUIExist();
    void MainUI_Plugin_HostCheck();
    void MainUI_Plugin_CacheClear(int flag);
    void MainUI_Plugin_GetInfo();
    void MainUI_Logout();
    void MainUI_Plugin_Logout();
    void MainUI_Plugin_Urgent_Logout();
    void MainUI_Plugin_Show_Main();
    void MainUI_SetTrayacConnect(bool status);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Puts the name first in the drop-down and in UIContext, and the tray in step.
    void SelectConnection(const QString& name, LINK_TYPE type);
    // Session entries with a profile name.
    int UsedSessionCount() const;
    // Opens the profile editor for a new profile.
    void OpenNewProfileEditor();
    // Not logged in, settings editable, drop-down enabled, Connect shown.
    void ShowNotConnected();
    // The two launches of MainUI_LoginKey_Show.
    void LaunchIpsecLogin();
    void LaunchSslLogin();
    // The best-gateway block of the site-preference request.
    void FillAutoBestNeed(AUTO_BEST_NEED* block);
    // The box that offers the gateway's package of an unknown kind for a download by hand.
    void MainUI_UpdateFailed_Message(const QString& url);

    Ui_MainUI* ui;
    MainUIPrivate* d;

};
