// The password change dialog: the old and the new password, sent to the service. Not built yet: it opens empty.

#include "changepwd.h"

#include "ddm_log.h"
#include "util.h"

ChangePwd::ChangePwd(QWidget* parent) : basewidget(parent) {}

ChangePwd::~ChangePwd() = default;

void ChangePwd::InitWidget() {
    basewidget::InitWidget();
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[ChangePwd][not built yet]"));
}
