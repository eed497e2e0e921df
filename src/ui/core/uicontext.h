#pragma once
// The front end's process-wide state: the program's folders, the current connection and
// its kind, the login and plugin-mode flags, the best gateway of the current SSL VPN
// connection and the plugin launch record. It holds values and hands them out; the one
// operation with an effect beyond its own fields is Init, which reads the system
// configuration from the service.
//
// Built on the first GetInstance, on the Qt main thread before any event thread starts,
// and kept until process exit. The pointers to the two records stay valid for the whole
// process; their users write through them. The numbers and flags may also be read and
// written by the event threads.

#include <cstdint>
#include <memory>

#include <QString>

#include "plugininfo.h"
#include "servicelink.h"

class UIContextPrivate;

class UIContext {
public:
    static UIContext* GetInstance();

    virtual ~UIContext();
    UIContext(const UIContext&) = delete;
    UIContext& operator=(const UIContext&) = delete;

    // Reads the system configuration (UISystemProfile::Read). True whatever the read
    // gave: a failed read is logged there and leaves an empty configuration.
    bool Init();

    void SetSystemType(int type);        // 2 on this platform
    int GetSystemType() const;
    void SetInstallDir(const QString& dir);     // the program's folder, ending in "/"
    QString GetInstallDir() const;
    void SetResourceDir(const QString& dir);    // language files and help, ending in "/"
    QString GetResourceDir() const;
    void SetLogDir(const QString& dir);         // log files a fault report collects
    QString GetLogDir() const;
    void SetSpareValue(int value);
    int GetSpareValue() const;
    void SetFirstLoginModifyPwd(bool modify);
    bool GetFirstLoginModifyPwd() const;
    void SetLinkType(int type);          // LINK_TYPE: 0 none, 1 SSL VPN, 2 L2TP/IPSec
    int GetLinkType() const;
    void SetConnectName(const QString& name);   // the profile's file name is name + ".ini"
    QString GetConnectName() const;
    void SetSettingEnable(bool enable);
    bool GetSettingEnable() const;
    void SetAuthType(int type);
    int GetAuthType() const;
    void SetLogined(bool logined);
    bool GetLogined() const;
    void SetAutoLogin(bool autoLogin);
    bool GetAutoLogin() const;
    void SetNewConnect(bool newConnect);
    bool GetNewConnect() const;
    void SetCacheClear(int clear);
    int GetCacheClear() const;
    void SetSpareIndex(int index);
    int GetSpareIndex() const;
    void SetLatestVersion(bool latest);
    bool GetLatestVersion() const;
    void SetPluginMode(int mode);        // 1: started by a browser plugin or extension
    int GetPluginMode() const;
    void SetPluginMsgType(int type);
    int GetPluginMsgType() const;
    void SetSslLogout(bool logout);
    bool GetSslLogout() const;
    void SetCnemStatus(bool status);
    bool GetCnemStatus() const;
    void SetSpareFlag(bool flag);
    bool GetSpareFlag() const;
    void SetNativeMessaging(bool native);
    bool GetNativeMessaging() const;

    // Copies port, delay and flag, and the address when it fits in 127 bytes (else the
    // address is left empty).
    void SetBestGateWay(const UIGATEWAY_INFO_S* gateway);
    UIGATEWAY_INFO_S* GetBestGateWay() const;

    // Copies the launch fields: the texts (each left empty when it does not fit its
    // field) and the user id, session id, language and proxy port. Cookie, URL,
    // verification code and the reserved bytes of the held record are not touched.
    void SetPluginInfo(const UIPLUGIN_INFO_S* info);
    UIPLUGIN_INFO_S* GetPluginInfo() const;

private:
    UIContext();
    std::unique_ptr<UIContextPrivate> d;
};
