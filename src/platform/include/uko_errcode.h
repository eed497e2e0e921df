#pragma once
// The platform's error-code form and the identifiers of its modules.
//
// A UKO_ERRCODE carries the identifier of the module that defined it in the high
// 16 bits and that module's own code in the low 16 bits; 0 is success. Values below
// 0x10000 carry no identifier: they are plain platform error numbers (22, 12, 109 ...)
// used as they are.

#include <cstdint>

typedef uint32_t UKO_ERRCODE;

// One row per platform module: constant name, identifier, source name. The constants
// and the lookup table below are generated from this list so the two cannot drift.
#define UKO_MODULE_ID_TABLE(X)                     \
    X(UKO_MID_TASK, 0x2001, "uko_task")            \
    X(UKO_MID_SM, 0x2002, "v_sm")                  \
    X(UKO_MID_QUEUE, 0x2005, "uko_queue")          \
    X(UKO_MID_RELTMRKNL, 0x2006, "uko_reltmrknl")  \
    X(UKO_MID_CALLSTACK, 0x2020, "os_callstackbase") \
    X(UKO_MID_CPUTICK, 0x203B, "uko_cputick")      \
    X(UKO_MID_SYSTIME, 0x203C, "uko_systime")      \
    X(UKO_MID_JQR_MEM, 0x209D, "jqr_mem")          \
    X(UKO_MID_OS_SEMA, 0x2101, "os_sema")          \
    X(UKO_MID_HANDLE, 0x2102, "uko_handle")        \
    X(UKO_MID_DLMEM, 0x210C, "v_dlmem")            \
    X(UKO_MID_MEMPT, 0x2118, "uko_mempt")          \
    X(UKO_MID_RESCB, 0x211C, "uko_rescb")          \
    X(UKO_MID_TICK, 0x211F, "uko_tick")            \
    X(UKO_MID_JQR_TIMER, 0x2125, "jqr_timer")      \
    X(UKO_MID_OSAL_CPUTICK, 0x212F, "osal_cputick") \
    X(UKO_MID_V_TASK, 0x2198, "v_task")

enum UKO_MODULE_ID : uint16_t {
#define UKO_MID_ENUM_ROW(name, id, source) name = id,
    UKO_MODULE_ID_TABLE(UKO_MID_ENUM_ROW)
#undef UKO_MID_ENUM_ROW
};

// The OS thread layer shares the task module's identifier.
constexpr uint16_t UKO_MID_OS_TASK = UKO_MID_TASK;
// The mspace heap shares the identifier of the memory algorithms.
constexpr uint16_t UKO_MID_DLMALLOC = UKO_MID_DLMEM;

// Platform error numbers (the errno map's targets).
constexpr uint32_t UKO_EINVAL = 22;
constexpr uint32_t UKO_ENOMEM = 12;
constexpr uint32_t UKO_EFAULT = 14;
constexpr uint32_t UKO_EBUSY = 16;
constexpr uint32_t UKO_EDOM = 33;
constexpr uint32_t UKO_EOVERFLOW = 74;
constexpr uint32_t UKO_ETIMEDOUT = 109;
constexpr uint32_t UKO_EOSERR = 4096;  // an OS error without a platform number

constexpr UKO_ERRCODE UKO_ErrCodeMake(uint16_t moduleId, uint16_t ownCode) {
    return (static_cast<uint32_t>(moduleId) << 16) | ownCode;
}
constexpr uint16_t UKO_ErrCodeModule(UKO_ERRCODE code) { return static_cast<uint16_t>(code >> 16); }
constexpr uint16_t UKO_ErrCodeOwn(UKO_ERRCODE code) { return static_cast<uint16_t>(code & 0xFFFF); }

// Source name of a module identifier, or nullptr for an unknown one.
const char* UKO_ModuleSourceName(uint16_t moduleId);

// The module and own code under which a failure is recorded: a plain number (no
// identifier in the high half) is recorded under the reporting module's identifier.
struct UKO_ERR_SPLIT {
    uint16_t usModuleId;
    uint16_t usOwnCode;
};
UKO_ERR_SPLIT UKO_ErrCodeSplit(UKO_ERRCODE code, uint16_t reportingModuleId);
