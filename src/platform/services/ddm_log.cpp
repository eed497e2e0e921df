#include "ddm_log.h"

uint32_t DDM_LogWrite(uint32_t uiModule, uint32_t uiLevel, const char* format, ...) {
    if (format == nullptr || uiModule >= DDM_LOG_MODULE_COUNT || uiLevel >= DDM_LOG_LEVEL_COUNT) {
        return 1;
    }
    // The filter stays all off until the log environment exists: nothing is written.
    return 0;
}
