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

// Test seam: the writer the default log hook hands its line to (DDM_LogWrite unless a
// test replaces it; NULL puts it back).
typedef uint32_t (*UKO_LOG_WRITER_PF)(uint32_t uiModule, uint32_t uiLevel, const char* format,
                                      ...);
void ukoLogHookWriterSet(UKO_LOG_WRITER_PF pfnWriter);

// ---- Lock-debug hooks of the semaphores and mutexes ---------------------------------
// Nothing in this system enables lock debugging: the flags stay 0 and only the delete
// hook and the mutex ownership hooks are ever called, all doing nothing by default.

// Link of a circular doubly linked list; a list head is a link that points to itself
// when the list is empty.
struct UKO_DLL_NODE {
    UKO_DLL_NODE* pstNext;
    UKO_DLL_NODE* pstPrev;
};
// Makes the head an empty list.
void ukoDllInit(UKO_DLL_NODE* pstHead);
// Inserts the node right after the head.
void ukoDllAddHead(UKO_DLL_NODE* pstHead, UKO_DLL_NODE* pstNode);
// Unlinks the node from its list and leaves it pointing to itself.
void ukoDllDel(UKO_DLL_NODE* pstNode);
// 1 when the list holds no node.
uint32_t ukoDllIsEmpty(const UKO_DLL_NODE* pstHead);

// Called after a V when the debug-word release hook answered non-zero: (semaphore,
// type, two values); the semaphore table installs its notifier here.
typedef uint32_t (*UKO_SEMA_VNOTIFY_HOOK_PF)(void* pSem, uint32_t uiType, uintptr_t ulValue1,
                                             uintptr_t ulValue2);
// Ownership changes of mutexes whose flags have bit 2.
typedef void (*UKO_MUTEX_ACQUIRE_HOOK_PF)(pthread_t thread, uint16_t usFlags,
                                          uint16_t usRecursion, void* pMutex);
typedef void (*UKO_MUTEX_RELEASE_HOOK_PF)(pthread_t thread);

// Start-up step: flags and history count 0, the two list locks, both lists empty, the
// no-op hooks. Runs once; a later call leaves the live lists alone. Always 0.
uint32_t ukoLockDbgInit(uint32_t uiUnused);
// Replaces both mutex ownership hooks (NULL puts the no-op back).
void ukoMutexHookSet(UKO_MUTEX_ACQUIRE_HOOK_PF pfnAcquire, UKO_MUTEX_RELEASE_HOOK_PF pfnRelease);
// Installs the V-notify hook.
void ukoSemaVNotifyHookSet(UKO_SEMA_VNOTIFY_HOOK_PF pfnHook);

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

// ---- Failure reports through the log hook ---------------------------------------------
// How the modules that report through the log hook instead of the error record
// report a failure: the thread's errno gets the full code; the hook gets level 2, the
// code split into own code and module (a plain number goes under the reporting
// module's identifier), the source position and the message, whose first value is
// the reporting function's name. The full code comes back.
template <typename... Args>
uint32_t ukoLogHookReport(uint32_t uiCode, uint16_t usReportingModuleId, const char* pcFile,
                          uint32_t uiLine, const char* format, Args... args) {
    (void)UKO_ErrnoSet(uiCode);
    uint16_t usModuleId = static_cast<uint16_t>(uiCode >> 16);
    if (usModuleId == 0) {
        usModuleId = usReportingModuleId;
    }
    (UKO_LogHookGet())(UKO_LOG_LEVEL_ERROR, static_cast<uint16_t>(uiCode & 0xFFFF), usModuleId,
                       pcFile, uiLine, format, args...);
    return uiCode;
}

#define UKO_LOG_HOOK_REPORT(code, moduleId, ...) \
    ukoLogHookReport((code), (moduleId), __FILE__, __LINE__, __VA_ARGS__)
