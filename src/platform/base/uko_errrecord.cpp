#include <atomic>

#include "uko_secfunc.h"

namespace {

std::atomic<UKO_ERROR_RECORD_OBSERVER_PF> g_errorRecordObserver{nullptr};

}  // namespace

void UKO_ErrorRecord(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId, const char* pcFile,
                     uint16_t usLine, const char* format, ...) {
    // The record keeps nothing in this system; only a test observer may look at it.
    UKO_ERROR_RECORD_OBSERVER_PF observer = g_errorRecordObserver.load(std::memory_order_acquire);
    if (observer != nullptr) {
        observer(uiLevel, usCode, usModuleId, pcFile, usLine, format);
    }
}

uint32_t UKO_ShowPrint(uint32_t /*uiTarget*/, const char* /*format*/, ...) { return 0; }

uint32_t UKO_CpuTickCountUp() { return 1; }

void ukoErrorRecordObserverSet(UKO_ERROR_RECORD_OBSERVER_PF pfnObserver) {
    g_errorRecordObserver.store(pfnObserver, std::memory_order_release);
}
