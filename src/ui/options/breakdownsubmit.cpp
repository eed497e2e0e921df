// The fault-report dialog: system information files, the user's description and a zipped report. Not built yet: it opens empty.

#include "breakdownsubmit.h"

#include "ddm_log.h"
#include "util.h"

BreakDownSubmit::BreakDownSubmit(QWidget* parent) : basewidget(parent) {}

BreakDownSubmit::~BreakDownSubmit() = default;

void BreakDownSubmit::InitWidget() {
    basewidget::InitWidget();
    Util_WriteLog(0, DDM_LOG_INFO, QStringLiteral("[BreakDownSubmit][not built yet]"));
}
