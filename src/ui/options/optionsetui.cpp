// The options dialog. Not built yet: it opens empty.

#include "optionsetui.h"

#include "ddm_log.h"
#include "util.h"

OptionSetUI::OptionSetUI(QWidget* parent) : basewidget(parent) {}

OptionSetUI::~OptionSetUI() = default;

void OptionSetUI::InitWidget() {
    basewidget::InitWidget();
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[OptionSetUI][not built yet]"));
}
