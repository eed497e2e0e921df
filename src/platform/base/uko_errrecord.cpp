#include <atomic>
#include <cstdarg>

#include "sec_lib.h"
#include "uko_secfunc.h"

namespace {

std::atomic<UKO_ERROR_RECORD_OBSERVER_PF> g_errorRecordObserver{nullptr};
std::atomic<UKO_SHOW_PRINT_OBSERVER_PF> g_showPrintObserver{nullptr};

}  // namespace

void UKO_ErrorRecord(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId, const char* pcFile,
                     uint16_t usLine, const char* format, ...) {
    // The record keeps nothing in this system; only a test observer may look at it.
    UKO_ERROR_RECORD_OBSERVER_PF observer = g_errorRecordObserver.load(std::memory_order_acquire);
    if (observer != nullptr) {
        observer(uiLevel, usCode, usModuleId, pcFile, usLine, format);
    }
}

uint32_t UKO_ShowPrint(uint32_t uiTarget, const char* format, ...) {
    // Nothing is printed in this system; only a test observer gets the expanded line.
    // Without one the values are never looked at.
    UKO_SHOW_PRINT_OBSERVER_PF observer = g_showPrintObserver.load(std::memory_order_acquire);
    if (observer != nullptr && format != nullptr) {
        char acLine[UKO_SHOW_PRINT_LINE_MAX];
        acLine[0] = '\0';
        va_list args;
        va_start(args, format);
        (void)vsnprintf_s(acLine, sizeof(acLine), sizeof(acLine) - 1, format, args);
        va_end(args);
        observer(uiTarget, acLine);
    }
    return 0;
}

uint32_t UKO_CpuTickCountUp() { return 1; }

void ukoErrorRecordObserverSet(UKO_ERROR_RECORD_OBSERVER_PF pfnObserver) {
    g_errorRecordObserver.store(pfnObserver, std::memory_order_release);
}

void ukoShowPrintObserverSet(UKO_SHOW_PRINT_OBSERVER_PF pfnObserver) {
    g_showPrintObserver.store(pfnObserver, std::memory_order_release);
}
