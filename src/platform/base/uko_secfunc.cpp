// Reporting wrappers of the bounded library. Each calls its bounded function, passes the
// result back unchanged and, when the call failed, hands a one-line report to the
// bounded-function error hook. Without a hook nothing is formatted, so a failing call
// costs no more than the bounded function itself.

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "uko_secfunc.h"

namespace {

// Written once at start-up in practice; atomic so that a late change is still a clean
// read on every thread.
std::atomic<UKO_SEC_FUNC_ERR_HOOK_PF> UKO_SEC_FUNC_ERR_HOOK{nullptr};

constexpr size_t kReportSize = 512;

constexpr uint32_t kFormattedFailure = 0xFFFFFFFF;

const char kMemCopyReport[] = "[Zirpa-%s]: input invalid: dest: %p, destMax: %lu, src: %p, count: %lu!\n";
const char kMemSetReport[] = "[Zirpa-%s]: input invalid: dest: %p, destMax: %lu, c: %d, count: %lu!\n";
const char kStrCopyReport[] = "[Zirpa-%s]: input invalid: strDest: %p, destMax: %lu, strSrc: %p!\n";
const char kStrNCopyReport[] =
    "[Zirpa-%s]: input invalid: strDest: %p, destMax: %lu, strSrc: %p, count: %lu!\n";
const char kSnprintfReport[] = "[Zirpa-%s]: input invalid: strDest: %p, destMax: %lu, count: %lu!\n";
const char kSprintfReport[] = "[Zirpa-%s]: input invalid: strDest: %p, destMax: %lu!\n";
const char kSscanfReport[] = "[Zirpa-%s]: input invalid!\n";

// The hook receives the failing wrapper's own entry point as an opaque pointer.
template <typename Function>
void* EntryOf(Function* function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

uint32_t UKO_SecFuncErrHookSet(UKO_SEC_FUNC_ERR_HOOK_PF pfnHook) {
    UKO_SEC_FUNC_ERR_HOOK.store(pfnHook, std::memory_order_release);
    return 0;
}

void ukoSecFuncErrReport(void* pfnEntry, uint32_t uiCode, const char* format, ...) {
    char report[kReportSize];
    std::memset(report, 0, sizeof(report));
    UKO_SEC_FUNC_ERR_HOOK_PF hook = UKO_SEC_FUNC_ERR_HOOK.load(std::memory_order_acquire);
    if (hook == nullptr) {
        return;
    }
    // A report longer than 511 characters fails to format; the formatting wrapper then
    // delivers its own short report in its place.
    va_list args;
    va_start(args, format);
    const int length = UKO_vsnprintf_s(report, sizeof(report), sizeof(report), format, args);
    va_end(args);
    if (length == -1) {
        return;
    }
    hook(pfnEntry, uiCode, report, length);
}

secure_errno UKO_memcpy_s(void* dest, size_t destMax, const void* src, size_t count) {
    const secure_errno result = memcpy_s(dest, destMax, src, count);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_memcpy_s), static_cast<uint32_t>(result), kMemCopyReport,
                            "UKO_memcpy_s", dest, destMax, src, count);
    }
    return result;
}

secure_errno UKO_memmove_s(void* dest, size_t destMax, const void* src, size_t count) {
    const secure_errno result = memmove_s(dest, destMax, src, count);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_memmove_s), static_cast<uint32_t>(result), kMemCopyReport,
                            "UKO_memmove_s", dest, destMax, src, count);
    }
    return result;
}

secure_errno UKO_memset_s(void* dest, size_t destMax, int c, size_t count) {
    const secure_errno result = memset_s(dest, destMax, c, count);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_memset_s), static_cast<uint32_t>(result), kMemSetReport,
                            "UKO_memset_s", dest, destMax, c, count);
    }
    return result;
}

secure_errno UKO_strcpy_s(char* strDest, size_t destMax, const char* strSrc) {
    const secure_errno result = strcpy_s(strDest, destMax, strSrc);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_strcpy_s), static_cast<uint32_t>(result), kStrCopyReport,
                            "UKO_strcpy_s", static_cast<void*>(strDest), destMax,
                            static_cast<const void*>(strSrc));
    }
    return result;
}

secure_errno UKO_strcat_s(char* strDest, size_t destMax, const char* strSrc) {
    const secure_errno result = strcat_s(strDest, destMax, strSrc);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_strcat_s), static_cast<uint32_t>(result), kStrCopyReport,
                            "UKO_strcat_s", static_cast<void*>(strDest), destMax,
                            static_cast<const void*>(strSrc));
    }
    return result;
}

secure_errno UKO_strncpy_s(char* strDest, size_t destMax, const char* strSrc, size_t count) {
    const secure_errno result = strncpy_s(strDest, destMax, strSrc, count);
    if (result != 0) {
        ukoSecFuncErrReport(EntryOf(&UKO_strncpy_s), static_cast<uint32_t>(result), kStrNCopyReport,
                            "UKO_strncpy_s", static_cast<void*>(strDest), destMax,
                            static_cast<const void*>(strSrc), count);
    }
    return result;
}

char* UKO_strtok_s(char* strToken, const char* strDelimit, char** context) {
    // A NULL token is the normal end of a split, not a failure: nothing is reported.
    return strtok_s(strToken, strDelimit, context);
}

int UKO_vsnprintf_s(char* strDest, size_t destMax, size_t count, const char* format, va_list argList) {
    const int result = vsnprintf_s(strDest, destMax, count, format, argList);
    if (result == -1) {
        ukoSecFuncErrReport(EntryOf(&UKO_vsnprintf_s), kFormattedFailure, kSnprintfReport, "UKO_vsnprintf_s",
                            static_cast<void*>(strDest), destMax, count);
    }
    return result;
}

int UKO_snprintf_s(char* strDest, size_t destMax, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vsnprintf_s(strDest, destMax, count, format, args);
    va_end(args);
    if (result == -1) {
        ukoSecFuncErrReport(EntryOf(&UKO_snprintf_s), kFormattedFailure, kSnprintfReport, "UKO_snprintf_s",
                            static_cast<void*>(strDest), destMax, count);
    }
    return result;
}

int UKO_vsprintf_s(char* strDest, size_t destMax, const char* format, va_list argList) {
    const int result = vsprintf_s(strDest, destMax, format, argList);
    if (result == -1) {
        ukoSecFuncErrReport(EntryOf(&UKO_vsprintf_s), kFormattedFailure, kSprintfReport, "UKO_vsprintf_s",
                            static_cast<void*>(strDest), destMax);
    }
    return result;
}

int UKO_sprintf_s(char* strDest, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vsprintf_s(strDest, destMax, format, args);
    va_end(args);
    if (result == -1) {
        ukoSecFuncErrReport(EntryOf(&UKO_sprintf_s), kFormattedFailure, kSprintfReport, "UKO_sprintf_s",
                            static_cast<void*>(strDest), destMax);
    }
    return result;
}

int UKO_sscanf_s(const char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vsscanf_s(buffer, format, args);
    va_end(args);
    if (result == -1) {
        ukoSecFuncErrReport(EntryOf(&UKO_sscanf_s), kFormattedFailure, kSscanfReport, "UKO_sscanf_s");
    }
    return result;
}
