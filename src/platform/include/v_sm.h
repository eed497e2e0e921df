#pragma once
// The semaphore table: a second semaphore interface in which a semaphore is named by a
// small id (1 to 400) instead of a handle. Every semaphore in it is a semaphore or
// mutex of os_sema; the table maps ids to their handles and keeps per-type counts, an
// optional overload watch with hysteresis and optional per-operation statistics.
//
// Ids are handed out lowest free first. Failures set the thread's errno and make an
// error record under module 0x2002 (a code with a module in its high half keeps it).

#include <cstddef>
#include <cstdint>

constexpr uint32_t UKO_MAX_SEMA4 = 400;  // ids 1 to 400; slot 0 is never used

// Flags of a semaphore in the table. For mutexes DELETE_SAFE makes the mutex report
// ownership changes to the mutex ownership hooks.
constexpr uint32_t UKO_SM_FIFO = 0x1;
constexpr uint32_t UKO_SM_PRIOR = 0x2;
constexpr uint32_t UKO_SM_DELETE_SAFE = 0x4;
constexpr uint32_t UKO_SM_INVERSION_SAFE = 0x8;
constexpr uint32_t UKO_SM_GLOBAL = 0x10;

// Codes of the overload watch, handed to the overload hook and recorded.
constexpr uint32_t UKO_SM_OVERLOAD = 5004;
constexpr uint32_t UKO_SM_OVERLOAD_RECOVER = 5005;

// Operations of the statistics blocks.
constexpr uint32_t UKO_SM_STAT_CREATE = 0;
constexpr uint32_t UKO_SM_STAT_DELETE = 1;
constexpr uint32_t UKO_SM_STAT_P = 2;
constexpr uint32_t UKO_SM_STAT_V = 3;
constexpr uint32_t UKO_SM_STAT_NUM = 4;

// The first eight bytes of a UKO_Systime: when a run of failures began.
struct UKO_SmStatTime {
    uint16_t usYear;
    uint8_t ucMonth;
    uint8_t ucDate;
    uint8_t ucHour;
    uint8_t ucMinute;
    uint8_t ucSecond;
    uint8_t ucWeek;
};
static_assert(sizeof(UKO_SmStatTime) == 8, "the leading eight bytes of a date/time record");

struct UKO_SmStatInfo {
    uint32_t uiTotalSucc;
    uint32_t uiTotalFail;
    uint32_t uiInstantSucc;  // while instant counting runs
    uint32_t uiInstantFail;
    uint32_t uiContinueFail;         // failures since the last success
    UKO_SmStatTime stFirstFailTime;  // of the current run of failures; cleared by a success
};
static_assert(sizeof(UKO_SmStatInfo) == 28 && offsetof(UKO_SmStatInfo, stFirstFailTime) == 20,
              "statistics block layout");

// Per-type counts of the semaphores in the table and the table size.
struct UKO_Sema4Stats {
    uint32_t uiBinaryNum;
    uint32_t uiCountNum;
    uint32_t uiMutexNum;
    uint32_t uiMaxNum;
};

// (code 5004 or 5005, maximum, free ids, free percent).
typedef void (*UKO_SM_OVERLOAD_HOOK_PF)(uint32_t uiCode, uint32_t uiMax, uint32_t uiFree,
                                        uint32_t uiFreePercent);
// (id, semaphore type, two values of the lock-debug release hook); its result is
// handed back to the semaphore layer.
typedef uint32_t (*UKO_SM_VNOTIFY_HOOK_PF)(uint32_t ulSmID, uint32_t uiType, uintptr_t ulValue1,
                                           uintptr_t ulValue2);

// Start-up step: the table (from the system partition), the configuration and the
// V-notify hook of the semaphore layer. 0, or 12. A second call keeps the table.
uint32_t Sema4Init(uint32_t uiUnused);

// Create a counting semaphore, a binary semaphore (initial value 0 or 1) or a mutex
// and give it the lowest free id: 0; 22 (no out-id, FIFO and PRIOR together, a bad
// initial value); 12 (no memory, no free id: nothing is left behind); or the semaphore
// layer's error. Semaphores are always created FIFO; a mutex keeps its other flags
// with PRIOR turned into FIFO and INVERSION_SAFE removed.
uint32_t UKO_SmCCreate(const char* pcName, uint32_t uiInitCount, uint32_t ulFlags,
                       uint32_t* pulSmID);
uint32_t UKO_SmBCreate(const char* pcName, uint32_t uiInitValue, uint32_t ulFlags,
                       uint32_t* pulSmID);
uint32_t UKO_SmMCreate(const char* pcName, uint32_t ulFlags, uint32_t* pulSmID);
// Time-out in milliseconds, 0 waits without limit: 0, 109 (also left in errno), 22 for
// an id above 400 or without a semaphore, or the semaphore layer's error.
uint32_t UKO_SmP(uint32_t ulSmID, uint32_t uiTimeOutMs);
// Never waits: 0, 16, 22 or the semaphore layer's error.
uint32_t UKO_Sm_AsyP(uint32_t ulSmID);
// 0, or 22 for any failure. A binary semaphore never rises above 1: a V that finds it
// at 1 changes nothing and returns 0.
uint32_t UKO_SmV(uint32_t ulSmID);
// 0; 22 for an id above 400 or without a semaphore; 16 while another thread is inside
// an operation on the id; or the semaphore layer's error (the id then stays in use).
uint32_t UKO_SmDelete(uint32_t ulSmID);
// The lowest id whose semaphore's name equals the name in its first 16 characters: 0,
// or 22 (out-id 0 when nothing matches).
uint32_t UKO_GetSmID(const char* pcSmName, uint32_t* pulSmID);
// OS-level semaphore ids do not exist on this OS: always -1.
int32_t UKO_GetOsalsmIDFromSmID(uint32_t ulSmID);
// The three counts and the table size: 0, or 22 for a NULL record. The NoLock twin reads
// without the table lock and reports nothing.
uint32_t UKO_GetSema4Stats(UKO_Sema4Stats* pstStats);
uint32_t UKO_GetSema4StatsNoLock(UKO_Sema4Stats* pstStats);
// 0: reset the instant counters of all blocks and start instant counting; 1: stop it.
// 0, or 22 for any other flag.
uint32_t UKO_SetSmStatInfo(uint32_t ulFlag);
// Copies the statistics block of an operation (0 to 3): 0, or 22 (record cleared).
uint32_t UKO_GetSmStatInfo(uint32_t ulOpNo, UKO_SmStatInfo* pInfo);
// 1 while the id holds a semaphore, else 0 (also for ids above 400).
uint32_t UKO_SmIdIsUsed(uint32_t ulSmID);
// Prints the counts and, while they run, the statistics; 0.
uint32_t ukoSmStatShow(uint32_t uiTarget);
// The flag names of a semaphore or mutex ("FIFO | DELETE_SAFE" ...) into a 64-byte text
// and its type (1 binary, 2 counting, 3 mutex, 0 otherwise): 0, or 22 for a NULL
// argument or a block that is not a live semaphore.
uint32_t ukoSmFlagNameGet(const void* pSemCb, char* pcText, uint32_t* puiType);
// Updates the overload state from the counts (only while the overload check is on).
void SEM_OverloadCheck();

// Hooks; nothing in this system sets them. Both setters return 0.
uint32_t UKO_SmOverloadHookSet(UKO_SM_OVERLOAD_HOOK_PF pfnHook);
uint32_t UKO_SmVNotifyHookSet(UKO_SM_VNOTIFY_HOOK_PF pfnHook);
