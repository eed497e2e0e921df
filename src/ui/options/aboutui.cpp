// The about box: the product name and the version. Not built yet: it opens empty.

#include "aboutui.h"

#include "ddm_log.h"
#include "util.h"

AboutUI::AboutUI(QWidget* parent) : basewidget(parent) {}

AboutUI::~AboutUI() = default;

void AboutUI::InitWidget() {
    basewidget::InitWidget();
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[AboutUI][not built yet]"));
}
