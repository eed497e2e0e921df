#include "vt_test/platform.h"

#include <time.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

#include "osal_lock.h"
#include "uko_secfunc.h"
#include "uko_start.h"
#include "uko_tick.h"
#include "vt_test/temp_env.h"

namespace vt_test {

namespace {

std::mutex g_captureMutex;
std::vector<LogRecord>* g_records = nullptr;  // guarded by g_captureMutex

void CaptureHook(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId, const char* pcSource,
                 uint32_t /*uiLine*/, const char* format, ...) {
    LogRecord r;
    r.level = uiLevel;
    r.code = usCode;
    r.moduleId = usModuleId;
    r.source = pcSource != nullptr ? pcSource : "";
    if (format != nullptr) {
        char buf[4096];
        va_list args;
        va_start(args, format);
        // Expanded by the platform's own formatter, as the default hook would.
        (void)UKO_vsnprintf_s(buf, sizeof(buf), sizeof(buf) - 1, format, args);
        va_end(args);
        r.text = buf;
    }
    std::lock_guard<std::mutex> lock(g_captureMutex);
    if (g_records != nullptr) {
        g_records->push_back(std::move(r));
    }
}

UKO_LOG_HOOK_PF g_previousHook = nullptr;

std::atomic<bool> g_clockTicked{false};
void ClockTicked(uint32_t /*uiTicks*/) { g_clockTicked.store(true); }

// The clock tasks start with the platform and go on starting while UKO_Start returns.
// Tests that change what a starting task picks up (alternate signal stacks, hooks) or
// that take a census of the partitions must not race them, so the start is complete
// only once "TICK" has handed on ticks that "VCLK" counted: both are then in their
// loops.
uint32_t StartAndSettle() {
    const uint32_t result = UKO_Start();
    if (result != 0 || UKO_TickCycleHookReg(ClockTicked, 1) != 0) {
        return result;
    }
    for (int i = 0; i < 10000 && !g_clockTicked.load(); ++i) {
        struct timespec ts = {0, 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    return result;
}

}  // namespace

uint32_t PlatformStartOnce() {
    static TempEnv env;  // lives to the end of the process
    static const uint32_t result = StartAndSettle();
    return result;
}

LogCapture::LogCapture() {
    {
        std::lock_guard<std::mutex> lock(g_captureMutex);
        g_records = new std::vector<LogRecord>();
    }
    g_previousHook = UKO_LogHookGet();
    (void)OSAL_LogHookSet(CaptureHook);
}

LogCapture::~LogCapture() {
    (void)OSAL_LogHookSet(g_previousHook);
    std::lock_guard<std::mutex> lock(g_captureMutex);
    delete g_records;
    g_records = nullptr;
}

std::vector<LogRecord> LogCapture::Records() const {
    std::lock_guard<std::mutex> lock(g_captureMutex);
    return *g_records;
}

std::vector<LogRecord> LogCapture::Matching(const std::string& fragment) const {
    std::vector<LogRecord> out;
    std::lock_guard<std::mutex> lock(g_captureMutex);
    for (const LogRecord& r : *g_records) {
        if (r.text.find(fragment) != std::string::npos) {
            out.push_back(r);
        }
    }
    return out;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_captureMutex);
    g_records->clear();
}

}  // namespace vt_test
