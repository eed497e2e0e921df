#include "osal_cputick.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "os_time.h"
#include "os_time_inner.h"
#include "osal_cputick_inner.h"
#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "uko_math64.h"

namespace {

constexpr const char* kCpuInfoFile = "/proc/cpuinfo";
constexpr UKO_ERRCODE kFileFailure = 0xFFFFFFFFu;  // -1
constexpr uint32_t kMaxLines = 25;
constexpr size_t kMaxLineBytes = UKO_CPUINFO_LINE_MAX;
// Fraction digits beyond the sixth are below one hertz.
constexpr uint32_t kMaxFractionDigits = 6;
// The alarm asks for one second; a wait three times as long means it is not coming.
constexpr int64_t kMeasureDeadlineNs = 3LL * 1000 * 1000 * 1000;

uint64_t MonotonicNs() {
    struct timespec ts {};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}

void AlarmBySystem(unsigned int uiSeconds) { (void)alarm(uiSeconds); }

std::atomic<OSAL_CPUTICK_BASE_HOOK_PF> g_baseHook{OSAL_CpuTickMonotonicBase};
std::atomic<const char*> g_infoFile{kCpuInfoFile};
std::atomic<OSAL_CPUTICK_ALARM_PF> g_alarm{AlarmBySystem};

// Raised by the SIGALRM handler; a lock-free atomic is safe to write from a handler.
std::atomic<uint32_t> g_alarmFlag{0};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the alarm flag is set from a handler");

pthread_mutex_t g_baseLock;
std::atomic<bool> g_baseLockMade{false};


bool IsBlank(char ch) { return isspace(static_cast<unsigned char>(ch)) != 0; }

// The next run of non-blank characters from *pos on; empty at the end of the line.
// Tabs count as blanks: the kernel lines up its fields with them.
const char* NextPiece(const char** pos, size_t* len) {
    const char* p = *pos;
    while (*p != '\0' && IsBlank(*p)) {
        ++p;
    }
    const char* start = p;
    while (*p != '\0' && !IsBlank(*p)) {
        ++p;
    }
    *pos = p;
    *len = static_cast<size_t>(p - start);
    return start;
}

enum class LineFind { kFound, kEnd, kNoSecondPiece, kNotInLimit };

// Looks for the "cpu MHz" line. Several lines begin with "cpu" ("cpu family",
// "cpuid level" ...), so only the second piece decides.
LineFind FindMhzLine(FILE* file, char (&line)[kMaxLineBytes + 1], const char** rest) {
    for (uint32_t i = 0; i < kMaxLines; ++i) {
        if (!ukoCpuInfoLineRead(file, line)) {
            return LineFind::kEnd;
        }
        if (strncmp(line, "cpu", 3) != 0) {
            continue;
        }
        const char* pos = line;
        size_t len = 0;
        (void)NextPiece(&pos, &len);
        const char* second = NextPiece(&pos, &len);
        if (len == 0) {
            return LineFind::kNoSecondPiece;
        }
        if (len >= 3 && strncmp(second, "MHz", 3) == 0) {
            *rest = pos;
            return LineFind::kFound;
        }
    }
    return LineFind::kNotInLimit;
}

// The base from the value part of the "cpu MHz" line, such as ": 2596.132". False when
// the whole or the fraction piece is missing or the base does not fit.
bool BaseFromMhzText(const char* rest, uint32_t rate, uint32_t* puiBase) {
    const char* p = rest;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == ':') {
        ++p;
    }
    while (IsBlank(*p)) {
        ++p;
    }
    const char* point = strchr(p, '.');
    if (point == nullptr || point == p) {
        return false;
    }
    uint32_t mhz = 0;
    (void)ukoCtkStrToI(p, &mhz);

    // The fraction's weight follows from how many digits it has, not from its value:
    // ".073" is 73 thousandths and ".10" ten hundredths.
    char digits[kMaxFractionDigits + 1] = {};
    uint32_t count = 0;
    for (const char* f = point + 1; count < kMaxFractionDigits && isdigit(static_cast<unsigned char>(*f));
         ++f) {
        digits[count++] = *f;
    }
    uint32_t fraction = 0;
    (void)ukoCtkStrToI(digits, &fraction);
    uint32_t hertzOfFraction = fraction;  // fraction in Hz: F * 10^(6 - digits)
    for (uint32_t i = count; i < kMaxFractionDigits; ++i) {
        hertzOfFraction *= 10;
    }

    // Below 4294 MHz the product with 1,000,000 fits in 32 bits and the division comes
    // last, keeping the precision; above it the rate is divided first.
    uint64_t whole = mhz < 4294 ? static_cast<uint64_t>(mhz) * 1000000 / rate
                                : static_cast<uint64_t>(mhz) * (1000000 / rate);
    uint64_t base = whole + hertzOfFraction / rate;
    if (base >= 0xFFFFFFFFu) {
        return false;
    }
    *puiBase = static_cast<uint32_t>(base);
    return true;
}

bool AlarmPending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGALRM) == 1;
}

// Takes back an alarm the measurement raised that is stuck pending behind a blocked
// SIGALRM, so it cannot reach the previous action (by default: end the process) when
// the caller unblocks the signal later.
void DiscardOwnPendingAlarm() {
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    struct timespec none = {0, 0};
    while (sigtimedwait(&alarmOnly, nullptr, &none) < 0 && errno == EINTR) {
    }
}

}  // namespace

UKO_CPUTICK_BASE_RECORD g_stCpuTickBaseRecord;

// ---- CPU-tick lock -------------------------------------------------------------------------

uint32_t OSAL_CpuTickInit() {
    int rc = ukoCpuTickLockCreate();
    return rc == 0 ? 0 : OSAL_ErrnoConvert(rc);
}

// ---- Base hook -------------------------------------------------------------------------------

void OSAL_CpuTickBaseHookSet(OSAL_CPUTICK_BASE_HOOK_PF pfnHook) {
    g_baseHook.store(pfnHook, std::memory_order_release);
}

OSAL_CPUTICK_BASE_HOOK_PF OSAL_CpuTickBaseHookGet() {
    return g_baseHook.load(std::memory_order_acquire);
}

uint32_t OSAL_CpuTickMonotonicBase() { return 1000000000u / OS_TickPerSecGet(); }

// ---- Finding the base -----------------------------------------------------------------------

uint32_t OSAL_CpuTickBaseFind(uint32_t* puiBase) {
    if (puiBase == nullptr) {
        return UKO_EINVAL;
    }
    uint32_t fileBase = 0;
    if (OSAL_GetCpuTickBaseByFile(&fileBase) == 0 && fileBase != 0) {
        *puiBase = fileBase;
        return 0;
    }
    return OS_CpuTickBaseMeasure(puiBase);
}

int32_t OSAL_GetCpuTickBaseByFile(uint32_t* puiBase) {
    const char* path = ukoCpuTickInfoFileGet();
    if (puiBase == nullptr) {
        return -1;
    }
    FILE* file = nullptr;
    do {
        file = fopen(path, "r");
    } while (file == nullptr && errno == EINTR);
    if (file == nullptr) {
        UKO_ERR_REPORT(kFileFailure, UKO_MID_OSAL_CPUTICK, "[ZIRPA-%s]:Open file %s fail.",
                       __func__, path);
        return -1;
    }

    char line[kMaxLineBytes + 1] = {};
    const char* rest = nullptr;
    int32_t result = -1;
    switch (FindMhzLine(file, line, &rest)) {
        case LineFind::kFound:
            if (BaseFromMhzText(rest, OS_TickPerSecGet(), puiBase)) {
                result = 0;
            } else {
                UKO_ERR_REPORT(kFileFailure, UKO_MID_OSAL_CPUTICK, "[ZIRPA-%s]:Get file %s error.",
                               __func__, path);
            }
            break;
        case LineFind::kEnd:
            UKO_ERR_REPORT(kFileFailure, UKO_MID_OSAL_CPUTICK,
                           "[ZIRPA-%s]:Read file %s error or no cpu tick base info in the file %s.",
                           __func__, path, path);
            break;
        case LineFind::kNoSecondPiece:
            break;
        case LineFind::kNotInLimit:
            UKO_ERR_REPORT(kFileFailure, UKO_MID_OSAL_CPUTICK,
                           "[ZIRPA-%s]:Can not get cpu tick base info from file %s.", __func__,
                           path);
            break;
    }
    // Not retried on EINTR: the descriptor is released whatever close reports, and a
    // second close could hit a descriptor another thread has just opened.
    (void)fclose(file);
    return result;
}

uint32_t OS_CpuTickBaseMeasure(uint32_t* puiBase) {
    if (puiBase == nullptr) {
        return UKO_EINVAL;
    }
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = OS_CpuTickAlarmHandler;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGALRM, &action, &previous) != 0) {
        return 1;
    }
    bool pendingBefore = AlarmPending();
    // A flag left raised by an earlier measurement would end this one at once.
    g_alarmFlag.store(0, std::memory_order_relaxed);

    OSAL_CPUTICK_ALARM_PF requestAlarm = g_alarm.load(std::memory_order_acquire);
    uint32_t startLow = 0;
    uint32_t startHigh = 0;
    uint32_t endLow = 0;
    uint32_t endHigh = 0;
    OS_CpuTickRead(&startLow, &startHigh);
    requestAlarm(1);
    // Spin on the flag, but not for ever: with SIGALRM blocked the handler never runs.
    uint64_t deadline = MonotonicNs() + kMeasureDeadlineNs;
    bool alarmCame = true;
    while (g_alarmFlag.load(std::memory_order_acquire) == 0) {
        if (MonotonicNs() > deadline) {
            alarmCame = false;
            break;
        }
    }
    OS_CpuTickRead(&endLow, &endHigh);
    if (!alarmCame) {
        requestAlarm(0);
        if (!pendingBefore && AlarmPending()) {
            DiscardOwnPendingAlarm();
        }
    }
    (void)sigaction(SIGALRM, &previous, nullptr);
    if (!alarmCame) {
        return 1;
    }

    UKO_64Sub(&endLow, &endHigh, startLow, startHigh);
    uint32_t quotHigh = 0;
    uint32_t quotLow = 0;
    uint32_t rc = UKO_64Div32Round(endHigh, endLow, OS_TickPerSecGet(), &quotHigh, &quotLow);
    if (rc != 0) {
        return rc;
    }
    *puiBase = quotLow;
    return 0;
}

void OS_CpuTickAlarmHandler(int /*iSigNo*/) {
    g_alarmFlag.store(0xFFFFFFFFu, std::memory_order_release);
}

// ---- Writing the base ------------------------------------------------------------------------

uint32_t OSAL_CpuTickBaseSet(uint32_t uiCpuTickBase) {
    // 0 would make every conversion divide by zero; 0xFFFFFFFF means "not initialised".
    if (uiCpuTickBase == 0 || uiCpuTickBase == 0xFFFFFFFFu) {
        return UKO_ERR_REPORT(
            UKO_EINVAL, UKO_MID_OSAL_CPUTICK,
            "[ZIRPA-%s]:The Param uiCpuTickBase(%u) is out of range (0, 0xFFFFFFFF).", __func__,
            uiCpuTickBase);
    }
    ukoCpuTickBaseStore(uiCpuTickBase);
    return 0;
}

// ---- The base record ---------------------------------------------------------------------

uint32_t ukoCpuTickBaseLoad() {
    return g_stCpuTickBaseRecord.uiCpuTickBase.load(std::memory_order_acquire);
}

void ukoCpuTickBaseStore(uint32_t uiCpuTickBase) {
    bool locked = g_baseLockMade.load(std::memory_order_acquire);
    if (locked) {
        (void)OSAL_LockLock(&g_baseLock);
    }
    g_stCpuTickBaseRecord.uiCpuTickBase.store(uiCpuTickBase, std::memory_order_release);
    if (locked) {
        (void)OSAL_LockUnLock(&g_baseLock, 0);
    }
}

uint32_t ukoCpuTickBaseLockCreate() {
    // Made once: start-up runs once, and making a lock again could pull it from under a
    // thread that holds it.
    if (g_baseLockMade.load(std::memory_order_acquire)) {
        return 0;
    }
    uint32_t rc = OSAL_LockCreate(&g_baseLock);
    if (rc == 0) {
        g_baseLockMade.store(true, std::memory_order_release);
    }
    return rc;
}

// ---- Reading the file's numbers -----------------------------------------------------------

uint32_t ukoCtkStrToI(const char* pStr, uint32_t* puiNum) {
    if (pStr == nullptr || puiNum == nullptr) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                              "[ZIRPA-%s]:Inval Param pStr(0x%p), puiNum(0x%p).", __func__,
                              static_cast<const void*>(pStr), static_cast<void*>(puiNum));
    }
    uint32_t value = 0;
    for (const char* p = pStr; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    *puiNum = value;
    return 0;
}

// ---- Test seams ------------------------------------------------------------------------------

void ukoCpuTickInfoFileSet(const char* pcPath) {
    g_infoFile.store(pcPath != nullptr ? pcPath : kCpuInfoFile, std::memory_order_release);
}

const char* ukoCpuTickInfoFileGet() { return g_infoFile.load(std::memory_order_acquire); }

void ukoCpuTickAlarmSet(OSAL_CPUTICK_ALARM_PF pfnAlarm) {
    g_alarm.store(pfnAlarm != nullptr ? pfnAlarm : AlarmBySystem, std::memory_order_release);
}

bool ukoCpuInfoLineRead(FILE* file, char (&line)[UKO_CPUINFO_LINE_MAX + 1]) {
    if (fgets(line, sizeof(line), file) == nullptr) {
        return false;
    }
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] != '\n') {
        int ch;
        while ((ch = fgetc(file)) != EOF && ch != '\n') {
        }
    }
    return true;
}
