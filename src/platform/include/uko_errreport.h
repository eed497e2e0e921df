#pragma once
// How a platform module reports a failure with a UKO_ERRCODE: the thread's errno gets
// the full code, the error record gets the code split into module and own code (a
// plain number is recorded under the reporting module's identifier), and the caller
// gets the full code back.

#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_secfunc.h"

template <typename... Args>
UKO_ERRCODE ukoErrReport(UKO_ERRCODE code, uint16_t reportingModuleId, const char* file,
                         uint32_t line, const char* format, Args... args) {
    (void)UKO_ErrnoSet(code);
    UKO_ERR_SPLIT split = UKO_ErrCodeSplit(code, reportingModuleId);
    UKO_ErrorRecord(2, split.usOwnCode, split.usModuleId, file, static_cast<uint16_t>(line),
                    format, args...);
    return code;
}

#define UKO_ERR_REPORT(code, moduleId, ...) \
    ukoErrReport((code), (moduleId), __FILE__, __LINE__, __VA_ARGS__)
