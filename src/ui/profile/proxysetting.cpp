// The proxy dialog: proxy type, address, port, account and password of the system configuration. Not built yet: it opens empty.

#include "proxysetting.h"

#include "ddm_log.h"
#include "util.h"

ProxySetting::ProxySetting(QWidget* parent) : basewidget(parent) {}

ProxySetting::~ProxySetting() = default;

void ProxySetting::InitWidget() {
    basewidget::InitWidget();
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[ProxySetting][not built yet]"));
}
