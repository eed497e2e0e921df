// The connection-profile dialog. Its pages are not built yet: it holds only the two
// buttons the main window drives.

#include "profileinfoui.h"

#include <QPushButton>

#include "ddm_log.h"
#include "uicontext.h"
#include "util.h"
#include "utilhelpers.h"

ProfileInfoUI::ProfileInfoUI(QWidget* parent)
    : basewidget(parent),
      profileName(Util_GetIniFileName(UIContext::GetInstance()->GetConnectName())),
      pb_ok(new QPushButton(this)),
      pb_save(new QPushButton(this)) {
    pb_ok->setObjectName(QStringLiteral("pb_ok"));
    pb_save->setObjectName(QStringLiteral("pb_save"));
}

ProfileInfoUI::~ProfileInfoUI() = default;

void ProfileInfoUI::InitWidget() {
    basewidget::InitWidget();
    UIContext* context = UIContext::GetInstance();
    const bool isNew = context->GetNewConnect();
    pb_ok->setVisible(isNew);
    pb_save->setVisible(!isNew);
    pb_save->setEnabled(!context->GetLogined());
    Util_WriteLog(0, DDM_LOG_INFO, "[ProfileInfoUI][profile pages not built yet][profile is " +
                                       (isNew ? QStringLiteral("new") : profileName) + "]");
}

void ProfileInfoUI::ProfileInfoUI_Set_OKbtn(bool enable) { pb_ok->setEnabled(enable); }

void ProfileInfoUI::ProfileInfoUI_Set_Savebtn(bool enable) { pb_save->setEnabled(enable); }
