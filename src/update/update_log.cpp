// The update program's log.

#include "update_log.h"

#include <QByteArray>

#include "ddm_log.h"
#include "uko_start.h"

namespace {

constexpr unsigned long kLogTag = 65535;

}  // namespace

int Update_StartUp_Init() {
    if (UKO_Start() != 0) {
        (void)DDM_LogWrite(UPDATE_LOG_MODULE, DDM_LOG_ERROR, "[%lu]UKO start failed!", kLogTag);
        return 1;
    }
    if (DDM_LogInit("VanTreloUpdate") != 0) {
        (void)DDM_LogWrite(UPDATE_LOG_MODULE, DDM_LOG_ERROR, "[%lu]TULM logfile name failed!",
                           kLogTag);
        return 1;
    }
    (void)DDM_LogWrite(UPDATE_LOG_MODULE, DDM_LOG_INFO, "[%lu][Update init ok]", kLogTag);
    return 0;
}

int Update_Log(uint32_t uiModule, uint32_t uiLevel, const char* pcText) {
    (void)DDM_LogWrite(uiModule, uiLevel, "[%lu]%s", kLogTag, pcText != nullptr ? pcText : "");
    return 0;
}

int Update_WriteLog(uint32_t uiModule, uint32_t uiLevel, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return Update_Log(uiModule, uiLevel, bytes.constData());
}
