// The SSL VPN login view. Only its wiring to the main window exists so far.

#include "loginkeyui.h"

#include "ddm_log.h"
#include "uicontext.h"
#include "util.h"

namespace {

void NotBuilt(const char* what) {
    Util_WriteLog(0, DDM_LOG_INFO,
                  QStringLiteral("[LoginKeyUI][%1][not built yet]").arg(QLatin1String(what)));
}

}  // namespace

LoginKeyUI::LoginKeyUI(QWidget* parent) : basewidget(parent) {}

LoginKeyUI::~LoginKeyUI() { emit signal_LoginkeyUIDelete(); }

void LoginKeyUI::InitWidget() {
    basewidget::InitWidget();
    QWidget* owner = parentWidget();
    if (UIContext::GetInstance()->GetPluginMode() == 1) {
        if (owner != nullptr) {
            connect(owner, SIGNAL(signal_DoLogin()), this, SLOT(LoginKeyUI_Plugin_Login()));
        }
        return;
    }
    if (owner != nullptr) {
        connect(owner, SIGNAL(signal_Main_DisAutoLogin(bool)), this,
                SLOT(LoginKeyUI_Change_AutoLogin_slot(bool)));
    }
    NotBuilt("InitWidget");
}

void LoginKeyUI::LoginKeyUI_UserPwd_Init() { NotBuilt("UserPwd_Init"); }

void LoginKeyUI::LoginKeyUI_Login_click() { NotBuilt("Login_click"); }

void LoginKeyUI::LoginKeyUI_Change_AutoLogin_slot(bool) { NotBuilt("Change_AutoLogin"); }

void LoginKeyUI::LoginKeyUI_Plugin_Login() { NotBuilt("Plugin_Login"); }
