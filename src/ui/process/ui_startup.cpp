// Start-up helpers of the service link.

#include "ui_startup.h"

#include "ui_common.h"
#include "ui_ini.h"

uint32_t UI_Log(uint32_t uiModule, uint32_t uiLevel, const char* pcText) {
    if (pcText != nullptr) {
        (void)DDM_LogWrite(uiModule, uiLevel, "[%lu]%s", UI_LOG_TAG, pcText);
    }
    return 0;
}

uint32_t UI_LogLevel_Read(const char* pcPath, int32_t* piLevel) {
    if (pcPath == nullptr || piLevel == nullptr) {
        (void)DDM_LogWrite(UI_LOG_CPFM, DDM_LOG_ERROR, "[%lu][Input NULL Pointer][Line :%d]",
                           UI_LOG_TAG, 380);
        return 1;
    }
    if (INI_Load(pcPath) != 0) {
        return 1;
    }
    *piLevel = INI_GetInt("GLOBAL", "ClientLogLevel", 1);
    INI_Free();
    return 0;
}

uint32_t UI_BrowserMutex_Create() { return 0; }

void UI_BrowserMutex_Release() {}

uint32_t UI_ClientMutex_Create() { return 0; }

void UI_ClientMutex_Release() {}
