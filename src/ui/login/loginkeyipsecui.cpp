// The L2TP/IPSec login view. Only its wiring to the main window exists so far.

#include "loginkeyipsecui.h"

#include "ddm_log.h"
#include "util.h"

namespace {

void NotBuilt(const char* what) {
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[LoginKeyIPSECUI][%1][not built yet]")
                                       .arg(QLatin1String(what)));
}

}  // namespace

LoginKeyIPSECUI::LoginKeyIPSECUI(QWidget* parent) : basewidget(parent) {}

LoginKeyIPSECUI::~LoginKeyIPSECUI() = default;

void LoginKeyIPSECUI::InitWidget() {
    basewidget::InitWidget();
    if (parentWidget() != nullptr) {
        connect(parentWidget(), SIGNAL(signal_Main_DisAutoLogin(bool)), this,
                SLOT(LoginKeyIPSECUI_Change_AutoLogin_slot(bool)));
    }
    NotBuilt("InitWidget");
}

void LoginKeyIPSECUI::LoginKeyIPSECUI_UserPwd_Init() { NotBuilt("UserPwd_Init"); }

void LoginKeyIPSECUI::LoginKeyIPSECUI_Login() { NotBuilt("Login"); }

void LoginKeyIPSECUI::LoginKeyIPSECUI_Change_AutoLogin_slot(bool) {
    NotBuilt("Change_AutoLogin");
}
