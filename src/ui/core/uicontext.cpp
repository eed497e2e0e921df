// The front end's process-wide state.

#include "uicontext.h"

#include <atomic>

#include "uisystemprofile.h"
#include "uifield.h"

// The numbers and flags are atomics: the event threads read the plugin mode and the
// SSL-logout flag and store the plugin message type while the main thread works.
class UIContextPrivate {
public:
    std::atomic<int> systemType{0};
    QString installDir;
    QString resourceDir;
    QString logDir;
    std::atomic<int> spareValue{0};
    std::atomic<bool> firstLoginModifyPwd{false};
    std::atomic<int> linkType{0};
    QString connectName;
    std::atomic<bool> settingEnable{true};
    std::atomic<int> authType{0};
    std::unique_ptr<UIGATEWAY_INFO_S> bestGateWay;
    std::atomic<bool> logined{false};
    std::atomic<bool> autoLogin{false};
    std::atomic<bool> newConnect{false};
    std::atomic<int> cacheClear{0};
    std::atomic<int> spareIndex{-1};
    std::atomic<bool> latestVersion{true};
    std::atomic<int> pluginMode{0};
    std::unique_ptr<UIPLUGIN_INFO_S> pluginInfo;
    std::atomic<int> pluginMsgType{0};
    std::atomic<bool> sslLogout{false};
    std::atomic<bool> cnemStatus{false};
    std::atomic<bool> spareFlag{false};
    std::atomic<bool> nativeMessaging{false};
};

UIContext* UIContext::GetInstance() {
    static UIContext instance;
    return &instance;
}

UIContext::UIContext() : d(new UIContextPrivate) {
    d->bestGateWay.reset(new UIGATEWAY_INFO_S());
    d->pluginInfo.reset(new UIPLUGIN_INFO_S());
}

UIContext::~UIContext() {
    d->bestGateWay.reset();
    d->pluginInfo.reset();
    d.reset();
}

bool UIContext::Init() {
    (void)UISystemProfile::GetInstance()->Read();
    return true;
}

void UIContext::SetSystemType(int type) { d->systemType = type; }
int UIContext::GetSystemType() const { return d->systemType; }
void UIContext::SetInstallDir(const QString& dir) { d->installDir = dir; }
QString UIContext::GetInstallDir() const { return d->installDir; }
void UIContext::SetResourceDir(const QString& dir) { d->resourceDir = dir; }
QString UIContext::GetResourceDir() const { return d->resourceDir; }
void UIContext::SetLogDir(const QString& dir) { d->logDir = dir; }
QString UIContext::GetLogDir() const { return d->logDir; }
void UIContext::SetSpareValue(int value) { d->spareValue = value; }
int UIContext::GetSpareValue() const { return d->spareValue; }
void UIContext::SetFirstLoginModifyPwd(bool modify) { d->firstLoginModifyPwd = modify; }
bool UIContext::GetFirstLoginModifyPwd() const { return d->firstLoginModifyPwd; }
void UIContext::SetLinkType(int type) { d->linkType = type; }
int UIContext::GetLinkType() const { return d->linkType; }
void UIContext::SetConnectName(const QString& name) { d->connectName = name; }
QString UIContext::GetConnectName() const { return d->connectName; }
void UIContext::SetSettingEnable(bool enable) { d->settingEnable = enable; }
bool UIContext::GetSettingEnable() const { return d->settingEnable; }
void UIContext::SetAuthType(int type) { d->authType = type; }
int UIContext::GetAuthType() const { return d->authType; }
void UIContext::SetLogined(bool logined) { d->logined = logined; }
bool UIContext::GetLogined() const { return d->logined; }
void UIContext::SetAutoLogin(bool autoLogin) { d->autoLogin = autoLogin; }
bool UIContext::GetAutoLogin() const { return d->autoLogin; }
void UIContext::SetNewConnect(bool newConnect) { d->newConnect = newConnect; }
bool UIContext::GetNewConnect() const { return d->newConnect; }
void UIContext::SetCacheClear(int clear) { d->cacheClear = clear; }
int UIContext::GetCacheClear() const { return d->cacheClear; }
void UIContext::SetSpareIndex(int index) { d->spareIndex = index; }
int UIContext::GetSpareIndex() const { return d->spareIndex; }
void UIContext::SetLatestVersion(bool latest) { d->latestVersion = latest; }
bool UIContext::GetLatestVersion() const { return d->latestVersion; }
void UIContext::SetPluginMode(int mode) { d->pluginMode = mode; }
int UIContext::GetPluginMode() const { return d->pluginMode; }
void UIContext::SetPluginMsgType(int type) { d->pluginMsgType = type; }
int UIContext::GetPluginMsgType() const { return d->pluginMsgType; }
void UIContext::SetSslLogout(bool logout) { d->sslLogout = logout; }
bool UIContext::GetSslLogout() const { return d->sslLogout; }
void UIContext::SetCnemStatus(bool status) { d->cnemStatus = status; }
bool UIContext::GetCnemStatus() const { return d->cnemStatus; }
void UIContext::SetSpareFlag(bool flag) { d->spareFlag = flag; }
bool UIContext::GetSpareFlag() const { return d->spareFlag; }
void UIContext::SetNativeMessaging(bool native) { d->nativeMessaging = native; }
bool UIContext::GetNativeMessaging() const { return d->nativeMessaging; }

void UIContext::SetBestGateWay(const UIGATEWAY_INFO_S* gateway) {
    if (gateway == nullptr) {
        return;
    }
    UIGATEWAY_INFO_S* held = d->bestGateWay.get();
    held->uiPort = gateway->uiPort;
    held->uiDelay = gateway->uiDelay;
    held->uiFlag = gateway->uiFlag;
    (void)Util_FieldCopy(held->acAddress, sizeof(held->acAddress), gateway->acAddress,
                         sizeof(gateway->acAddress));
}

UIGATEWAY_INFO_S* UIContext::GetBestGateWay() const { return d->bestGateWay.get(); }

void UIContext::SetPluginInfo(const UIPLUGIN_INFO_S* info) {
    if (info == nullptr) {
        return;
    }
    UIPLUGIN_INFO_S* held = d->pluginInfo.get();
    (void)Util_FieldCopy(held->acBrowserDir, sizeof(held->acBrowserDir), info->acBrowserDir,
                         sizeof(info->acBrowserDir));
    (void)Util_FieldCopy(held->acLoginAddr, sizeof(held->acLoginAddr), info->acLoginAddr,
                         sizeof(info->acLoginAddr));
    (void)Util_FieldCopy(held->acUserName, sizeof(held->acUserName), info->acUserName,
                         sizeof(info->acUserName));
    (void)Util_FieldCopy(held->acPassword, sizeof(held->acPassword), info->acPassword,
                         sizeof(info->acPassword));
    (void)Util_FieldCopy(held->acUpdate, sizeof(held->acUpdate), info->acUpdate,
                         sizeof(info->acUpdate));
    (void)Util_FieldCopy(held->acProxyAddr, sizeof(held->acProxyAddr), info->acProxyAddr,
                         sizeof(info->acProxyAddr));
    held->uiUserID = info->uiUserID;
    held->uiSessionID = info->uiSessionID;
    held->LangMode = info->LangMode;
    held->iProxyPort = info->iProxyPort;
}

UIPLUGIN_INFO_S* UIContext::GetPluginInfo() const { return d->pluginInfo.get(); }
