#include "uko_cputick.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os_time.h"
#include "osal_cputick.h"
#include "osal_cputick_inner.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "uko_math64.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kBaseNotInitialised = UKO_CPUTICK_BASE_NOT_INIT;
constexpr UKO_ERRCODE kFailure = 0xFFFFFFFFu;  // -1

// The base record lives with the OS side that writes the base.
UKO_CPUTICK_BASE_RECORD& g_baseRecord = g_stCpuTickBaseRecord;

UKO_CPUTICK_S g_startReading{};

std::atomic<UKO_CPUTICK_CHECK_HOOK_PF> g_checkHook{nullptr};
std::atomic<uint32_t> g_errThreshold{0};
std::atomic<uint32_t> g_errCount{0};

constexpr size_t kMaxLines = 25;
constexpr size_t kMaxLineBytes = UKO_CPUINFO_LINE_MAX;
constexpr size_t kUnitScanChars = 198;

// Read in place rather than through the OS side's reader: the conversions run on every
// tick, and the load is the same acquire load of the same word.
uint32_t BaseGet() { return g_baseRecord.uiCpuTickBase.load(std::memory_order_acquire); }

// CPU ticks per millisecond. When base × rate would pass 32 bits the rate's share of a
// millisecond is divided out first instead.
uint32_t TicksPerMs(uint32_t base, uint32_t rate) {
    // At the configured rate both forms below come to base / 10, and a constant divisor
    // is a multiplication instead of two divisions on every conversion.
    if (rate == 100) {
        return base / 10;
    }
    if (base > 0xFFFFFFFFu / rate) {
        return base / (1000 / rate);
    }
    return base * rate / 1000;
}

// The value of a CPU-tick record, read a word at a time. Callers fill the record a word
// at a time just before they convert it, and one 8-byte read of two 4-byte writes that
// are still on their way to memory waits for both instead of taking them as they go.
uint64_t TickValue(const UKO_CPUTICK_S* pstCputick) {
    const uint32_t high = __atomic_load_n(&pstCputick->uiHigh, __ATOMIC_RELAXED);
    const uint32_t low = __atomic_load_n(&pstCputick->uiLow, __ATOMIC_RELAXED);
    return (static_cast<uint64_t>(high) << 32) | low;
}

// now - start reading, as a 64-bit value.
UKO_CPUTICK_S ElapsedSinceStart() {
    UKO_CPUTICK_S now{};
    OS_CpuTickGet(&now.uiLow, &now.uiHigh);
    UKO_64Sub(&now.uiLow, &now.uiHigh, g_startReading.uiLow, g_startReading.uiHigh);
    return now;
}


bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Megahertz from a clock such as "@ 1.90GHz" or "2400MHz" in the "model name" line;
// 0 when the line names no clock in a form read here.
uint32_t MhzFromModelName(const char* line) {
    size_t len = strnlen(line, kUnitScanChars);
    for (size_t i = 0; i < len; ++i) {
        uint32_t factor = 0;
        switch (line[i]) {
            case 'M': factor = 1; break;
            case 'G': factor = 1000; break;
            case 'T': factor = 1000000; break;
            default: continue;
        }
        if (strncmp(line + i + 1, "Hz", 2) != 0) {
            continue;
        }
        // The four characters before the unit hold the number; a unit nearer the start
        // of the line has no room for it.
        if (i < 4) {
            return 0;
        }
        const char* num = line + i - 4;
        if (num[1] == '.') {
            if (!IsDigit(num[0]) || !IsDigit(num[2]) || !IsDigit(num[3])) {
                return 0;
            }
            return static_cast<uint32_t>(num[0] - '0') * factor +
                   static_cast<uint32_t>(num[2] - '0') * (factor / 10) +
                   static_cast<uint32_t>(num[3] - '0') * (factor / 100);
        }
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) {
            if (IsDigit(num[k])) {
                value = value * 10 + static_cast<uint32_t>(num[k] - '0');
            } else if (value != 0) {
                break;
            }
        }
        return value * factor;
    }
    return 0;
}

}  // namespace

// ---- Start-up and the base -------------------------------------------------------------

uint32_t UKO_CpuTickInit(uint32_t /*uiUnused*/) {
    uint32_t rc = OSAL_CpuTickInit();
    if (rc != 0) {
        return UKO_ERR_REPORT(rc, UKO_MID_CPUTICK, "[ZIRPA-%s]:Create mutex lock failed", __func__);
    }

    OS_CpuTickGet(&g_startReading.uiLow, &g_startReading.uiHigh);

    uint32_t base = 0;
    OSAL_CPUTICK_BASE_HOOK_PF pfnHook = OSAL_CpuTickBaseHookGet();
    if (pfnHook != nullptr) {
        base = pfnHook();
    } else {
        rc = OSAL_CpuTickBaseFind(&base);
        if (rc != 0) {
            ukoCpuTickBaseStore(0);
            return rc;
        }
    }
    UKO_ErrorRecord(0, 0, UKO_MID_CPUTICK, __FILE__, static_cast<uint16_t>(__LINE__),
                    "[ZIRPA-%s]:Debug information. CPUTickBase is initialized as %u\n", __func__,
                    base);

    if (base == 0) {
        ukoCpuTickBaseStore(kBaseNotInitialised);
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                              "[ZIRPA-%s]:CPUTickBase is initialized to invalid value", __func__);
    }
    ukoCpuTickBaseStore(base);

    rc = ukoCpuTickBaseLockCreate();
    if (rc != 0) {
        (void)UKO_ERR_REPORT(rc, UKO_MID_CPUTICK, "[ZIRPA-%s]:Creat Lock failed!", __func__);
        return UKO_EINVAL;
    }
    return 0;
}

uint32_t UKO_CpuTickBaseSet(uint32_t uiCpuTickBase) { return OSAL_CpuTickBaseSet(uiCpuTickBase); }

uint32_t UKO_CpuTickBaseGet(uint32_t* puiCpuTickBase) {
    if (puiCpuTickBase == nullptr) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:The Param pCpuTickBase is null.",
                              __func__);
    }
    uint32_t base = BaseGet();
    if (base == kBaseNotInitialised) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized",
                              __func__);
    }
    if (base == 0) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is zero", __func__);
    }
    *puiCpuTickBase = base;
    return 0;
}

uint32_t UKO_CpuTickBaseGetByFile() {
    const char* path = ukoCpuTickInfoFileGet();
    FILE* file = fopen(path, "r");
    if (file == nullptr) {
        int err = errno;
        (void)UKO_ERR_REPORT(kFailure, UKO_MID_CPUTICK, "[ZIRPA-%s]:Open file %s fail(%s).", __func__,
                             path, strerror(err));
        return 0;
    }
    char line[kMaxLineBytes + 1] = {};
    bool found = false;
    bool ended = false;
    for (size_t i = 0; i < kMaxLines; ++i) {
        errno = 0;
        if (!ukoCpuInfoLineRead(file, line)) {
            ended = true;
            break;
        }
        if (strstr(line, "model name") != nullptr) {
            found = true;
            break;
        }
    }
    int err = errno;
    (void)fclose(file);
    if (ended) {
        (void)UKO_ERR_REPORT(
            kFailure, UKO_MID_CPUTICK,
            "[ZIRPA-%s]:Read file %s error(%s) or no cpu tick base info in the file %s.", __func__,
            path, strerror(err), path);
        return 0;
    }
    if (!found) {
        (void)UKO_ERR_REPORT(kFailure, UKO_MID_CPUTICK, "[ZIRPA-%s]:get model name failed", __func__);
        return 0;
    }

    uint32_t rate = OS_TickPerSecGet();
    uint64_t mhz = MhzFromModelName(line);
    uint64_t base = mhz < 4294 ? mhz * 1000000 / rate : mhz * (1000000 / rate);
    // A base that does not fit in a word is no base at all.
    return base < 0xFFFFFFFFu ? static_cast<uint32_t>(base) : 0;
}

// ---- Elapsed ticks and percentages -----------------------------------------------------

void UKO_CpuTickElapseGet(UKO_CPUTICK_S* pstCputick) {
    if (pstCputick == nullptr) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:The Param pstCputick is null.",
                             __func__);
        return;
    }
    *pstCputick = ElapsedSinceStart();
}

int32_t UKO_CpuTickPercentGet(const UKO_CPUTICK_S* pstCputick) {
    if (pstCputick == nullptr) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:The Param pstCputick is null.",
                             __func__);
        return -1;
    }
    UKO_CPUTICK_S elapsed = ElapsedSinceStart();
    return ukoCtkCalPercent(pstCputick, &elapsed);
}

int32_t ukoCtkCalPercent(const UKO_CPUTICK_S* pstCputick, const UKO_CPUTICK_S* pstBase) {
    if (pstCputick == nullptr || pstBase == nullptr ||
        (pstBase->uiLow == 0 && pstBase->uiHigh == 0)) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                             "[ZIRPA-%s]:Inval Param pstCputick(0x%p), pstBase(0x%p).", __func__,
                             static_cast<const void*>(pstCputick), static_cast<const void*>(pstBase));
        return -1;
    }
    uint32_t hundredthHigh = 0;
    uint32_t hundredthLow = 0;
    (void)UKO_64Div32(pstBase->uiHigh, pstBase->uiLow, 100, &hundredthHigh, &hundredthLow, nullptr);
    if (hundredthHigh == 0 && hundredthLow == 0) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                             "[ZIRPA-%s]:Fail to call UKO_64Div32, output para are zero.", __func__);
        return -1;
    }
    uint32_t percentHigh = 0;
    uint32_t percentLow = 0;
    uint32_t rc = UKO_64Div64(pstCputick->uiHigh, pstCputick->uiLow, hundredthHigh, hundredthLow,
                              &percentHigh, &percentLow, nullptr, nullptr);
    if (rc == 0 && percentHigh == 0 && percentLow <= 100) {
        return static_cast<int32_t>(percentLow);
    }
    (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                         "[ZIRPA-%s]:Fail to call UKO_64Div64(%ld,%ld,%ld,%ld,0x%p,0x%p,0,0).",
                         __func__, static_cast<long>(pstCputick->uiHigh),
                         static_cast<long>(pstCputick->uiLow), static_cast<long>(hundredthHigh),
                         static_cast<long>(hundredthLow), static_cast<void*>(&percentHigh),
                         static_cast<void*>(&percentLow));
    return -1;
}

int32_t ukoCtkCalTenThousandth(const UKO_CPUTICK_S* pCpuTick, const UKO_CPUTICK_S* pBase) {
    if (pCpuTick == nullptr) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:The Param pCpuTick is null.",
                             __func__);
        return -1;
    }
    if (pBase == nullptr || (pBase->uiLow == 0 && pBase->uiHigh == 0)) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:pBase input is invalid.", __func__);
        return -1;
    }
    uint32_t quotHigh = 0;
    uint32_t quotLow = 0;
    uint32_t rc;
    if (pCpuTick->uiHigh < 429496) {
        // ticks × 10000 still fits in 64 bits: multiply first for full precision.
        uint32_t prodHigh = 0;
        uint32_t prodLow = 0;
        rc = UKO_64Multi32(pCpuTick->uiHigh, pCpuTick->uiLow, 10000, &prodHigh, &prodLow);
        if (rc == 0) {
            rc = UKO_64Div64(prodHigh, prodLow, pBase->uiHigh, pBase->uiLow, &quotHigh, &quotLow,
                             nullptr, nullptr);
        }
    } else {
        uint32_t unitHigh = 0;
        uint32_t unitLow = 0;
        rc = UKO_64Div32(pBase->uiHigh, pBase->uiLow, 10000, &unitHigh, &unitLow, nullptr);
        if (rc == 0) {
            rc = UKO_64Div64(pCpuTick->uiHigh, pCpuTick->uiLow, unitHigh, unitLow, &quotHigh,
                             &quotLow, nullptr, nullptr);
        }
    }
    if (rc != 0 || quotHigh != 0 || quotLow > 10000) {
        (void)UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                             "[ZIRPA-%s]:UKO_64Div64 result is more than 10000.", __func__);
        return -1;
    }
    return static_cast<int32_t>(quotLow);
}

// ---- Conversions ------------------------------------------------------------------------

uint32_t UKO_CpuTick2Ms(const UKO_CPUTICK_S* pstCputick, uint32_t* puiMilliSecsHigh,
                        uint32_t* puiMilliSecsLow) {
    if (pstCputick == nullptr || puiMilliSecsHigh == nullptr || puiMilliSecsLow == nullptr) {
        return UKO_ERR_REPORT(
            UKO_EINVAL, UKO_MID_CPUTICK,
            "[ZIRPA-%s]:Inval Param pstCputick(0x%p), puiMilliSecsHigh(0x%p), puiMilliSecsLow(0x%p).",
            __func__, static_cast<const void*>(pstCputick), static_cast<void*>(puiMilliSecsHigh),
            static_cast<void*>(puiMilliSecsLow));
    }
    uint32_t base = BaseGet();
    if (base == kBaseNotInitialised) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized.",
                              __func__);
    }
    const uint32_t perMs = TicksPerMs(base, OS_TickPerSecGet());
    if (perMs == 0) {
        // The one division UKO_64Div32 refuses, answered with its code.
        return UKO_ERR_REPORT(UKO_EDOM, UKO_MID_CPUTICK, "[ZIRPA-%s]:Fail to call UKO_64Div32, return %u.",
                              __func__, static_cast<uint32_t>(UKO_EINVAL));
    }
    // The quotient is uniquely determined, so the processor's division gives what
    // UKO_64Div32 gives; the tick and the timers convert on every tick.
    const uint64_t ms = TickValue(pstCputick) / perMs;
    *puiMilliSecsHigh = static_cast<uint32_t>(ms >> 32);
    *puiMilliSecsLow = static_cast<uint32_t>(ms);
    return 0;
}

uint32_t UKO_CpuTick2Us(const UKO_CPUTICK_S* pstCputick, uint32_t* puiMicroSecsHigh,
                        uint32_t* puiMicroSecsLow) {
    if (pstCputick == nullptr || puiMicroSecsHigh == nullptr || puiMicroSecsLow == nullptr) {
        return UKO_ERR_REPORT(
            UKO_EINVAL, UKO_MID_CPUTICK,
            "[ZIRPA-%s]:Inval Param pstCputick(0x%p), puiMicroSecsHigh(0x%p), puiMicroSecsLow(0x%p).",
            __func__, static_cast<const void*>(pstCputick), static_cast<void*>(puiMicroSecsHigh),
            static_cast<void*>(puiMicroSecsLow));
    }
    uint32_t base = BaseGet();
    if (base == kBaseNotInitialised) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CpuTickBase is not initialized.",
                              __func__);
    }
    uint32_t usPerTick = (1000 / OS_TickPerSecGet()) * 1000;
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t prodHigh = 0;
    uint32_t prodLow = 0;
    uint32_t rc;
    if (UKO_64Multi32(pstCputick->uiHigh, pstCputick->uiLow, usPerTick, &prodHigh, &prodLow) == 0) {
        rc = UKO_64Div32(prodHigh, prodLow, base, &high, &low, nullptr);
    } else {
        // Too many ticks to multiply first: divide by the ticks per microsecond instead.
        rc = UKO_64Div32(pstCputick->uiHigh, pstCputick->uiLow, base / usPerTick, &high, &low,
                         nullptr);
    }
    if (rc != 0) {
        return UKO_ERR_REPORT(UKO_EDOM, UKO_MID_CPUTICK, "[ZIRPA-%s]:Fail to call UKO_64Div32, return %u.",
                              __func__, rc);
    }
    *puiMicroSecsHigh = high;
    *puiMicroSecsLow = low;
    return 0;
}

uint32_t UKO_CpuTick2NanoSecs(const UKO_CPUTICK_S* pstCputick, uint32_t* puiSeconds,
                              uint32_t* puiNanoSecs) {
    if (pstCputick == nullptr || puiNanoSecs == nullptr) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK,
                              "[ZIRPA-%s]:Inval Param pstCputick(0x%p), puiNanoSec(0x%p).", __func__,
                              static_cast<const void*>(pstCputick), static_cast<void*>(puiNanoSecs));
    }
    uint32_t base = BaseGet();
    if (base == kBaseNotInitialised) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized.",
                              __func__);
    }
    uint32_t rate = OS_TickPerSecGet();
    if (base > 0xFFFFFFFFu / rate) {
        return UKO_ERR_REPORT(UKO_EOVERFLOW, UKO_MID_CPUTICK, "[ZIRPA-%s]:puiNanoSec is overflow.", __func__);
    }
    uint32_t ticksPerSecond = base * rate;
    uint32_t secHigh = 0;
    uint32_t secLow = 0;
    uint32_t remainder = 0;
    uint32_t rc = UKO_64Div32(pstCputick->uiHigh, pstCputick->uiLow, ticksPerSecond, &secHigh,
                              &secLow, &remainder);
    if (rc != 0) {
        return UKO_ERR_REPORT(rc, UKO_MID_CPUTICK, "[ZIRPA-%s]:Fail to call UKO_64Div32.", __func__);
    }
    // The part below a second: remainder × (nanoseconds per tick) / base, to the nearest.
    uint32_t prodHigh = 0;
    uint32_t prodLow = 0;
    (void)UKO_64Multi32(0, remainder, OS_MsPerTickGet() * 1000000, &prodHigh, &prodLow);
    uint32_t nsHigh = 0;
    uint32_t nsLow = 0;
    rc = UKO_64Div32Round(prodHigh, prodLow, base, &nsHigh, &nsLow);
    if (rc != 0) {
        return UKO_ERR_REPORT(rc, UKO_MID_CPUTICK, "[ZIRPA-%s]:Fail to call UKO_64Div32.", __func__);
    }
    if (puiSeconds != nullptr) {
        *puiSeconds = secLow;
    }
    *puiNanoSecs = nsLow;
    return 0;
}

uint32_t UKO_CpuTickMs2CpuTick(UKO_CPUTICK_S* pstCputick, uint32_t uiMilliSecsHigh,
                               uint32_t uiMilliSecsLow) {
    if (pstCputick == nullptr) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:Inval Param pstCputick(0x%p).",
                              __func__, static_cast<void*>(pstCputick));
    }
    uint32_t base = BaseGet();
    // A base of 0 is left by a start that found none. Multiplying by it would not fail
    // the way dividing does, and would hand back 0 ticks as if that were the answer.
    if (base == kBaseNotInitialised || base == 0) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized.",
                              __func__);
    }
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t rc = UKO_64Multi32(uiMilliSecsHigh, uiMilliSecsLow,
                                TicksPerMs(base, OS_TickPerSecGet()), &high, &low);
    if (rc != 0) {
        return UKO_ERR_REPORT(UKO_EDOM, UKO_MID_CPUTICK,
                              "[ZIRPA-%s]:Fail to call UKO_64Multi32, return %u.", __func__, rc);
    }
    pstCputick->uiLow = low;
    pstCputick->uiHigh = high;
    return 0;
}

uint32_t UKO_CpuTickLess1Ms2CpuTick(UKO_CPUTICK_S* pstCputick, uint32_t uiNanoSecs) {
    if (pstCputick == nullptr) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:Inval Param pstCputick(0x%p).",
                              __func__, static_cast<void*>(pstCputick));
    }
    uint32_t base = BaseGet();
    // A base of 0 is left by a start that found none. Multiplying by it would not fail
    // the way dividing does, and would hand back 0 ticks as if that were the answer.
    if (base == kBaseNotInitialised || base == 0) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized.",
                              __func__);
    }
    uint32_t prodHigh = 0;
    uint32_t prodLow = 0;
    uint32_t rc = UKO_64Multi32(0, uiNanoSecs, base, &prodHigh, &prodLow);
    if (rc != 0) {
        return UKO_ERR_REPORT(UKO_EDOM, UKO_MID_CPUTICK,
                              "[ZIRPA-%s]:Fail to call UKO_64Multi32, return %u.", __func__, rc);
    }
    uint32_t high = 0;
    uint32_t low = 0;
    rc = UKO_64Div32(prodHigh, prodLow, OS_MsPerTickGet() * 1000000, &high, &low, nullptr);
    if (rc != 0) {
        return UKO_ERR_REPORT(UKO_EDOM, UKO_MID_CPUTICK, "[ZIRPA-%s]:Fail to call UKO_64Div32, return %u.",
                              __func__, rc);
    }
    pstCputick->uiLow = low;
    pstCputick->uiHigh = high;
    return 0;
}

uint32_t UKO_CpuTick2Tick(const UKO_CPUTICK_S* pstCputick, uint32_t* puiTick,
                          uint32_t* puiRemainder) {
    uint32_t base = BaseGet();
    // The OS clock calls this in every cycle it sees the counter go back: no report.
    if (pstCputick == nullptr || puiTick == nullptr || base == 0) {
        return UKO_EINVAL;
    }
    if (base == kBaseNotInitialised) {
        return UKO_ERR_REPORT(UKO_EINVAL, UKO_MID_CPUTICK, "[ZIRPA-%s]:CPUTickBase is not initialized.",
                              __func__);
    }
    uint32_t high = 0;
    uint32_t low = 0;
    uint32_t remainder = 0;
    uint32_t rc = UKO_64Div32(pstCputick->uiHigh, pstCputick->uiLow, base, &high, &low, &remainder);
    if (rc != 0) {
        return rc;
    }
    *puiTick = low;
    if (puiRemainder != nullptr) {
        *puiRemainder = remainder;
    }
    return 0;
}

// ---- Guard check -------------------------------------------------------------------------

uint32_t UKO_CpuTickCheckSet(uint32_t uiErrThreshold, UKO_CPUTICK_CHECK_HOOK_PF pfnHook) {
    g_checkHook.store(pfnHook, std::memory_order_release);
    g_errThreshold.store(uiErrThreshold, std::memory_order_relaxed);
    g_errCount.store(0, std::memory_order_relaxed);
    return 0;
}

void ukoCheckCpuTickMagic() {
    UKO_CPUTICK_CHECK_HOOK_PF pfnHook = g_checkHook.load(std::memory_order_acquire);
    if (pfnHook == nullptr) {
        return;
    }
    uint32_t head = g_baseRecord.uiHeadGuard.load(std::memory_order_relaxed);
    uint32_t tail = g_baseRecord.uiTailGuard.load(std::memory_order_relaxed);
    if (head == UKO_CPUTICK_HEAD_GUARD && tail == UKO_CPUTICK_TAIL_GUARD) {
        return;
    }
    (void)UKO_ERR_REPORT(
        kFailure, UKO_MID_CPUTICK,
        "[ZIRPA-%s]:CpuTickBase %u, CpuTickBaseMagic %u, CpuTickPrev (%u:%u), CpuTickPrevMagic (%u)",
        __func__, BaseGet(), head, g_baseRecord.uiPrevLow.load(std::memory_order_relaxed),
        g_baseRecord.uiPrevHigh.load(std::memory_order_relaxed), tail);
    pfnHook();
}

// ---- Values kept here for other modules ------------------------------------------------

void ukoCpuTickPrevGet(uint32_t* puiLow, uint32_t* puiHigh) {
    if (puiLow != nullptr) {
        *puiLow = g_baseRecord.uiPrevLow.load(std::memory_order_relaxed);
    }
    if (puiHigh != nullptr) {
        *puiHigh = g_baseRecord.uiPrevHigh.load(std::memory_order_relaxed);
    }
}

void ukoCpuTickPrevSet(uint32_t uiLow, uint32_t uiHigh) {
    g_baseRecord.uiPrevLow.store(uiLow, std::memory_order_relaxed);
    g_baseRecord.uiPrevHigh.store(uiHigh, std::memory_order_relaxed);
}

uint32_t ukoCpuTickErrThresholdGet() { return g_errThreshold.load(std::memory_order_relaxed); }

uint32_t ukoCpuTickErrCountGet() { return g_errCount.load(std::memory_order_relaxed); }

void ukoCpuTickErrCountSet(uint32_t uiCount) {
    g_errCount.store(uiCount, std::memory_order_relaxed);
}

// ---- Test seam ---------------------------------------------------------------------------

void ukoCpuTickGuardSet(uint32_t uiHeadGuard, uint32_t uiTailGuard) {
    g_baseRecord.uiHeadGuard.store(uiHeadGuard, std::memory_order_relaxed);
    g_baseRecord.uiTailGuard.store(uiTailGuard, std::memory_order_relaxed);
}
