#include <atomic>
#include <cstdarg>

#include "ddm_log.h"
#include "osal_lock.h"
#include "uko_secfunc.h"

namespace {

// Plain words in spirit: replaced, if at all, before other threads run. Atomic so that
// a late replacement is still a clean read on every thread.
std::atomic<UKO_LOG_HOOK_PF> g_logHook{OSAL_LogHookDefault};
std::atomic<UKO_LOG_HOOK2_PF> g_logHook2{OSAL_LogHook2Default};
// Where the default hook writes: the rotating log, or a test's capture.
std::atomic<UKO_LOG_WRITER_PF> g_logWriter{DDM_LogWrite};

// The platform's own entry in the log's module table.
constexpr uint32_t kLogModulePlatform = 4;

}  // namespace

void OSAL_LogHookDefault(uint32_t uiLevel, uint16_t /*usCode*/, uint16_t /*usModuleId*/,
                         const char* /*pcSource*/, uint32_t /*uiLine*/, const char* format, ...) {
    if (uiLevel >= 4 || format == nullptr) {
        return;
    }
    // The buffer belongs to this call, so the hook may run on any thread at once. A count
    // of 1023 cuts a long message instead of dropping it.
    char message[1024] = {0};
    va_list args;
    va_start(args, format);
    (void)UKO_vsnprintf_s(message, sizeof(message), sizeof(message) - 1, format, args);
    va_end(args);
    message[sizeof(message) - 1] = '\0';
    // Levels 0 to 2 become the log's information, warning and error; level 3 becomes 4,
    // which the log does not write.
    (void)(g_logWriter.load(std::memory_order_acquire))(kLogModulePlatform, uiLevel + 1,
                                                        "[Zirpa info]%s", message);
}

void OSAL_LogHook2Default(uint32_t /*uiLevel*/, uint16_t /*usCode*/, uint16_t /*usModuleId*/,
                          const char* /*pcSource*/, uint32_t /*uiLine*/, const void* /*pRecord*/,
                          uint32_t /*uiLen*/) {}

uint32_t OSAL_LogHookSet(UKO_LOG_HOOK_PF pfnHook) {
    g_logHook.store(pfnHook != nullptr ? pfnHook : OSAL_LogHookDefault, std::memory_order_release);
    return 0;
}

uint32_t OSAL_LogHook2Set(UKO_LOG_HOOK2_PF pfnHook) {
    g_logHook2.store(pfnHook != nullptr ? pfnHook : OSAL_LogHook2Default,
                     std::memory_order_release);
    return 0;
}

UKO_LOG_HOOK_PF UKO_LogHookGet() { return g_logHook.load(std::memory_order_acquire); }

UKO_LOG_HOOK2_PF UKO_LogHook2Get() { return g_logHook2.load(std::memory_order_acquire); }

void ukoLogHookWriterSet(UKO_LOG_WRITER_PF pfnWriter) {
    g_logWriter.store(pfnWriter != nullptr ? pfnWriter : DDM_LogWrite, std::memory_order_release);
}
