#pragma once
// OS adaptation basics every platform module leans on: the recursive OS lock, the
// platform log hooks, the lock-debug hooks of the semaphores, and the map from the
// operating system's errno values onto the platform's error numbers.

#include <pthread.h>

#include <cstdint>

// ---- OS lock: a recursive POSIX mutex --------------------------------------------
// The thread holding it may take it again; it is free after as many unlocks as takes.
// An unlock by a thread that does not hold it is refused.

// 0, or 22 when the mutex cannot be initialised.
uint32_t OSAL_LockCreate(pthread_mutex_t* pLock);
// 0, or 14 when the mutex cannot be destroyed (held or waited on).
uint32_t OSAL_LockDelete(pthread_mutex_t* pLock);
// The thread library's result: 0 or its error number.
uint32_t OSAL_LockLock(pthread_mutex_t* pLock);
uint32_t OSAL_LockTryLock(pthread_mutex_t* pLock);
uint32_t OSAL_LockUnLock(pthread_mutex_t* pLock, uint32_t uiUnused);

// ---- Platform log hooks -------------------------------------------------------------
// Levels of the platform log hook.
constexpr uint32_t UKO_LOG_LEVEL_INFO = 0;
constexpr uint32_t UKO_LOG_LEVEL_WARN = 1;
constexpr uint32_t UKO_LOG_LEVEL_ERROR = 2;
constexpr uint32_t UKO_LOG_LEVEL_EXCEPTION = 3;

// Call form: level, code, module identifier (the OS adaptation passes 0xFFFF for both
// code and module), source name, source line, format, values. Result not read.
typedef void (*UKO_LOG_HOOK_PF)(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId,
                                const char* pcSource, uint32_t uiLine, const char* format, ...);
// Second hook: level, code, module, source, line, a record of bytes and its length.
typedef void (*UKO_LOG_HOOK2_PF)(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId,
                                 const char* pcSource, uint32_t uiLine, const void* pRecord,
                                 uint32_t uiLen);

// Writes the message to the rotating log as a "[Zirpa info]" line of log module 4 at
// log level = platform level + 1. Level 4 or more, or a NULL format: nothing.
void OSAL_LogHookDefault(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId,
                         const char* pcSource, uint32_t uiLine, const char* format, ...);
// Does nothing.
void OSAL_LogHook2Default(uint32_t uiLevel, uint16_t usCode, uint16_t usModuleId,
                          const char* pcSource, uint32_t uiLine, const void* pRecord,
                          uint32_t uiLen);

// Replace the respective hook; 0. A NULL hook puts the default back.
uint32_t OSAL_LogHookSet(UKO_LOG_HOOK_PF pfnHook);
uint32_t OSAL_LogHook2Set(UKO_LOG_HOOK2_PF pfnHook);

// The hooks in force (never NULL).
UKO_LOG_HOOK_PF UKO_LogHookGet();
UKO_LOG_HOOK2_PF UKO_LogHook2Get();

// Reports through the platform log hook with the caller's source file and line.
#define UKO_LOG_HOOK_CALL(level, code, moduleId, ...) \
    (UKO_LogHookGet())((level), (code), (moduleId), __FILE__, __LINE__, __VA_ARGS__)

// ---- Preset partition memory -------------------------------------------------------
// This OS has no preset memory region for a partition: always NULL.
void* OSAL_MemPtAddrGet(const char* pcItemName);

// ---- errno map ---------------------------------------------------------------------
// The operating system's errno value (matched by name) to the platform's error number;
// 4096 for anything without a platform number, for 0 and for negatives.
uint32_t OSAL_ErrnoConvert(int64_t llOsErrno);
// Stores the platform error number in the thread's errno; 0.
uint32_t UKO_ErrnoSet(uint32_t uiErrno);
// The thread's errno.
uint32_t UKO_ErrnoGet();
