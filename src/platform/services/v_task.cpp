// The task adaptation table and the TSK_ operations over the task module.
//
// A block follows its task id: the task module's create hook links the id's control
// block into it and the delete hook unlinks it; the long name and the variables stay
// until the next adapted creation of that id overwrites the name. Blocks are looked up
// without a lock; the long name and the variables are read and written under the table
// lock, which the hooks never take (they run under the task module's locks).

#include "v_task.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "os_task.h"
#include "osal_lock.h"
#include "osal_task.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_task_inner.h"
#include "v_task_inner.h"

namespace {

#define VTASK_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_V_TASK, __VA_ARGS__)

constexpr uint32_t kNoTask = UKO_TASK_ID_NONE;
constexpr uint32_t kStartPollMs = 10;

// One byte for the whole process: 0 until a start-up in which every step succeeded.
// Tasks created through the adaptation layer poll it from their own threads.
std::atomic<uint8_t> g_platformStarted{0};

// The table: blocks 0 to 100, block 0 unused. Published once complete.
std::atomic<TSK_ADAPT_CB*> g_table{nullptr};
uint32_t g_tableSize = 0;
pthread_mutex_t g_tableLock;
std::atomic<bool> g_hooksRegistered{false};

std::atomic<TSK_ADAPT_CREATE_HOOK_PF> g_adaptCreateHook{nullptr};
std::atomic<TSK_TASK_LOCK_HOOK_PF> g_lockHook{nullptr};
std::atomic<TSK_TASK_LOCK_HOOK_PF> g_unlockHook{nullptr};

// The hooks registered through the Replace operations, under their own lock.
pthread_mutex_t g_replaceLock = PTHREAD_MUTEX_INITIALIZER;
UKO_TASK_HOOK_PF g_replacedCreateHook = nullptr;
UKO_TASK_HOOK_PF g_replacedDeleteHook = nullptr;

TSK_ADAPT_CB* BlockOf(uint32_t uiTaskId) {
    TSK_ADAPT_CB* table = g_table.load(std::memory_order_acquire);
    if (table == nullptr || uiTaskId == 0 || uiTaskId > TSK_ADAPT_TABLE_SIZE) {
        return nullptr;
    }
    return &table[uiTaskId];
}

UKO_TaskCb* LinkedCb(const TSK_ADAPT_CB* pstBlock) {
    return __atomic_load_n(&pstBlock->pstTaskCb, __ATOMIC_ACQUIRE);
}

// The block of a live task id (0: the caller's), or NULL.
TSK_ADAPT_CB* LiveBlockOf(uint32_t uiTaskId) {
    const uint32_t id = uiTaskId == 0 ? ukoTaskCurIdGet() : uiTaskId;
    TSK_ADAPT_CB* block = BlockOf(id);
    return block != nullptr && LinkedCb(block) != nullptr ? block : nullptr;
}

struct TableLocked {
    TableLocked() { (void)OSAL_LockLock(&g_tableLock); }
    ~TableLocked() { (void)OSAL_LockUnLock(&g_tableLock, 0); }
    TableLocked(const TableLocked&) = delete;
    TableLocked& operator=(const TableLocked&) = delete;
};

void LongNameStore(TSK_ADAPT_CB* pstBlock, const char* pscLongName) {
    const size_t n = pscLongName != nullptr ? strnlen(pscLongName, TSK_LONG_NAME_LEN - 1) : 0;
    (void)TSK_TaskLock();
    {
        TableLocked lock;
        if (n != 0) {
            std::memcpy(pstBlock->acLongName, pscLongName, n);
        }
        pstBlock->acLongName[n] = '\0';
    }
    (void)TSK_TaskUnlock();
}

// Registers pfnHook in place of *ppfnRemembered; the hook registered before, or NULL.
UKO_TASK_HOOK_PF HookReplace(UKO_TASK_HOOK_PF pfnHook, UKO_TASK_HOOK_PF* ppfnRemembered,
                             uint32_t (*pfnReg)(UKO_TASK_HOOK_PF),
                             uint32_t (*pfnUnreg)(UKO_TASK_HOOK_PF)) {
    if (pfnHook == nullptr) {
        return nullptr;
    }
    (void)pthread_mutex_lock(&g_replaceLock);
    UKO_TASK_HOOK_PF previous = *ppfnRemembered;
    if (pfnHook != previous) {
        if (previous != nullptr) {
            (void)pfnUnreg(previous);
        }
        *ppfnRemembered = pfnReg(pfnHook) == 0 ? pfnHook : nullptr;
    }
    (void)pthread_mutex_unlock(&g_replaceLock);
    return previous;
}

void NotSupported(const char* pcName, int iLine) {
    std::fprintf(stderr, "\r\nSorry, TULM don't support. %s %d !\r\n", pcName, iLine);
}

}  // namespace

// ---- Platform-started flag -----------------------------------------------------------------------

void TSK_PlatformStartedSet() { g_platformStarted.store(1, std::memory_order_release); }

void TSK_PlatformStartedClear() { g_platformStarted.store(0, std::memory_order_release); }

uint32_t TSK_PlatformStartedGet() {
    return g_platformStarted.load(std::memory_order_acquire) != 0 ? 1 : 0;
}

// ---- Start -----------------------------------------------------------------------------------------

uint32_t TSK_TaskInit(uint32_t /*uiArg*/) {
    static const char kFn[] = "TSK_TaskInit";
    if (g_table.load(std::memory_order_acquire) != nullptr) {
        return 0;
    }
    const uint32_t size = TSK_ADAPT_TABLE_SIZE;
    // The hooks come first, so that no task created from here on is missed; until the
    // table is published they find no block and do nothing.
    if (!g_hooksRegistered.load(std::memory_order_acquire)) {
        uint32_t rc = UKO_TaskCreateHookReg(TSK_TaskCreateHandle);
        if (rc != 0) {
            return rc;
        }
        rc = UKO_TaskDeleteHookReg(TSK_TaskDeleteHandle);
        if (rc != 0) {
            (void)UKO_TaskCreateHookUnreg(TSK_TaskCreateHandle);
            return rc;
        }
        g_hooksRegistered.store(true, std::memory_order_release);
    }
    const uint32_t bytes = static_cast<uint32_t>(sizeof(TSK_ADAPT_CB)) * (size + 1);
    auto* table = static_cast<TSK_ADAPT_CB*>(
        UKO_MemAlloc_F(0, m_ucSysPtNo, bytes, __FILE__, __LINE__));
    if (table == nullptr) {
        return VTASK_REPORT(UKO_ENOMEM,
                            "[ZIRPA-%s]:Init task error, apply memory return null, apply size:%u\n",
                            kFn, bytes);
    }
    std::memset(table, 0, bytes);
    g_tableSize = size;
    (void)OSAL_LockCreate(&g_tableLock);
    g_table.store(table, std::memory_order_release);
    // "VCLK" and "TICK" and any other task made before this step.
    (void)ukoTaskForEachId(TSK_TaskCreateHandle);
    return 0;
}

void TSK_TaskCreateHandle(uint32_t uiTaskId) {
    if (g_table.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    TSK_ADAPT_CB* block = BlockOf(uiTaskId);
    if (block == nullptr) {
        (void)VTASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:Sync add task to V1 adapt package error,taskId(%u) overflow.\n",
                           "TSK_TaskCreateHandle", uiTaskId);
        return;
    }
    __atomic_store_n(&block->pstTaskCb, UKO_TaskCbGet(uiTaskId), __ATOMIC_RELEASE);
}

void TSK_TaskDeleteHandle(uint32_t uiTaskId) {
    if (g_table.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    TSK_ADAPT_CB* block = BlockOf(uiTaskId);
    if (block == nullptr) {
        (void)VTASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:Sync add task to V1 adapt package error,taskId(%u) overflow.\n",
                           "TSK_TaskDeleteHandle", uiTaskId);
        return;
    }
    __atomic_store_n(&block->pstTaskCb, static_cast<UKO_TaskCb*>(nullptr), __ATOMIC_RELEASE);
}

TSK_ADAPT_CB* TSK_AdaptCbGet(uint32_t uiTaskId) { return LiveBlockOf(uiTaskId); }

uint32_t tskLongNameGet(uint32_t uiTaskId, char* pcOut) {
    TSK_ADAPT_CB* block = LiveBlockOf(uiTaskId);
    if (block == nullptr || pcOut == nullptr) {
        return UKO_EINVAL;
    }
    TableLocked lock;
    std::memcpy(pcOut, block->acLongName, TSK_LONG_NAME_LEN);
    return 0;
}

// ---- Creation and entry ----------------------------------------------------------------------------

uint32_t TSK_AdaptTaskCreate(const char* pscName, const char* pscLongName, uint32_t* puiTaskId,
                             UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                             const uint64_t auvArgs[UKO_TASK_ARG_NUM], uint32_t uiMode) {
    const uint32_t rc = TSK_TaskCreate(pscName, puiTaskId, tskAllAdaptTaskEntry, pfnEntry,
                                       uiPriority, uvStackSize, uiMode, auvArgs);
    if (rc != 0) {
        return rc;
    }
    TSK_ADAPT_CB* block = LiveBlockOf(*puiTaskId);
    if (block != nullptr) {
        LongNameStore(block, pscLongName);
    }
    TSK_ADAPT_CREATE_HOOK_PF hook = g_adaptCreateHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook(pscName, *puiTaskId);
    }
    return 0;
}

void tskAllAdaptTaskEntry(UKO_TaskCb* pstTaskCb) {
    static const char kFn[] = "tskAllAdaptTaskEntry";
    if (pstTaskCb == nullptr) {
        return;
    }
    if (pstTaskCb->pfnEntry == nullptr) {
        (void)VTASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pTaskCb's pfnEntry is NULL.", kFn);
        return;
    }
    if (OSAL_TaskCancelTypeSet() != 0) {
        (void)VTASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Set task cancel type failed.", kFn);
        return;
    }
    (void)OS_TaskCurSet(pstTaskCb);
    // The wait is a cancellation point: a task deleted while it waits ends here.
    if ((pstTaskCb->uiMode & UKO_TASK_MODE_NOWAIT) == 0) {
        while (TSK_PlatformStartedGet() == 0) {
            (void)OSAL_TaskDelay(kStartPollMs);
        }
        if (__atomic_load_n(&pstTaskCb->uiExitInDispatching, __ATOMIC_ACQUIRE) == 1) {
            OS_TaskExit(nullptr, 0);
            return;
        }
    }
    const bool locked = (pstTaskCb->uiMode & UKO_TASK_MODE_DEFAULT) == 0;
    if (locked) {
        (void)OSAL_TaskLock();
    }
    tskAllTaskEntry(pstTaskCb);
    if (locked) {
        (void)OSAL_TaskUnlock();
    }
}

// ---- Operations over the task module ---------------------------------------------------------------

uint32_t TSK_TaskCreateSimple(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                              uint32_t uiPriority, uint64_t uvStackSize,
                              const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    return TSK_AdaptTaskCreate(pscName, nullptr, puiTaskId, pfnEntry, uiPriority, uvStackSize,
                               auvArgs, UKO_TASK_MODE_DEFAULT);
}

uint32_t TSK_CurTaskIdGet() { return ukoTaskCurIdGet(); }

uint32_t TSK_TaskDelete(uint32_t uiTaskId) { return UKO_TaskDelete(uiTaskId); }

uint32_t TSK_TaskSuspend(uint32_t uiTaskId) { return UKO_TaskSuspend(uiTaskId); }

uint32_t TSK_TaskResume(uint32_t uiTaskId) { return UKO_TaskResume(uiTaskId); }

uint32_t TSK_TaskPrioSet(uint32_t uiTaskId, uint32_t uiPriority, uint32_t* puiPrevPriority) {
    return UKO_TaskPrioSet(uiTaskId, uiPriority, puiPrevPriority);
}

uint32_t TSK_TaskRestart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    return UKO_TaskRestart(uiTaskId, auvArgs);
}

uint32_t UKO_GetTaskPrio(uint32_t uiTaskId) {
    static const char kFn[] = "UKO_GetTaskPrio";
    UKO_TASK_SNAPSHOT_S task{};
    if (ukoTaskSnapshotGet(uiTaskId, &task) != 0) {
        (void)VTASK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Get task prio error, task Id(%u) is Invalid!", kFn,
                           uiTaskId);
        return kNoTask;
    }
    uint32_t priority = task.uiPriority;
    if (OS_TaskPrioGet(task.ulThread, &priority) != 0) {
        (void)VTASK_REPORT(UKO_EINVAL, "[ZIRPA:%s]:Failed to get task(%u) prio..", kFn, uiTaskId);
        return kNoTask;
    }
    return priority;
}

uint32_t TSK_TaskTableSizeGet() { return TSK_ADAPT_TABLE_SIZE; }

uint32_t TSK_TaskIdGet(const char* pscName) { return UKO_TaskIdGet(pscName); }

const char* TSK_TaskNameGet(uint32_t uiTaskId) {
    return reinterpret_cast<const char*>(UKO_TaskCbGet(uiTaskId));
}

uint64_t TSK_TaskSysIdGet(uint32_t uiTaskId) { return UKO_TaskSysIdGet(uiTaskId); }

uint32_t TSK_TaskIdGetByThread(pthread_t thread) { return UKO_TaskIdGetByHandle(thread); }

UKO_TaskCb* TSK_TaskCbGet(uint32_t uiTaskId) { return UKO_TaskCbGet(uiTaskId); }

uint32_t TSK_TaskIdValid(uint32_t uiTaskId) {
    return uiTaskId == 0 ? 0 : UKO_TaskIdCheck(uiTaskId);
}

uint32_t TSK_TaskIdCheck(uint32_t uiTaskId) { return TSK_TaskIdValid(uiTaskId); }

uint32_t TSK_TaskLock() {
    TSK_TASK_LOCK_HOOK_PF hook = g_lockHook.load(std::memory_order_acquire);
    return hook != nullptr ? hook() : OSAL_TaskLock();
}

uint32_t TSK_TaskUnlock() {
    TSK_TASK_LOCK_HOOK_PF hook = g_unlockHook.load(std::memory_order_acquire);
    return hook != nullptr ? hook() : OSAL_TaskUnlock();
}

uint32_t TSK_TaskModeGet(uint32_t uiTaskId, uint32_t* puiMode) {
    UKO_TASK_SNAPSHOT_S task{};
    if (puiMode == nullptr || ukoTaskSnapshotGet(uiTaskId, &task) != 0) {
        return UKO_EINVAL;
    }
    *puiMode = task.uiMode & ~UKO_TASK_MODE_JOINABLE;
    return 0;
}

uint64_t TSK_TaskStackBaseGet(uint32_t uiTaskId) { return UKO_TaskStackBaseGet(uiTaskId); }

uint32_t TSK_TaskCreatedGet(uint32_t uiTaskId) { return UKO_TaskCreatedGet(uiTaskId); }

uint32_t TSK_TaskUsrIdGet(uint32_t uiTaskId) { return UKO_TaskUsrIdGet(uiTaskId); }

uint32_t TSK_TaskYield() { return UKO_TaskYield(); }

void TSK_TaskNop() { UKO_TaskNop(); }

// ---- Hooks ------------------------------------------------------------------------------------------

uint32_t TSK_TaskDeleteHookReg(UKO_TASK_HOOK_PF pfnHook) { return UKO_TaskDeleteHookReg(pfnHook); }

uint32_t TSK_TaskDeleteHookUnreg(UKO_TASK_HOOK_PF pfnHook) {
    return pfnHook == nullptr ? UKO_EINVAL : UKO_TaskDeleteHookUnreg(pfnHook);
}

UKO_TASK_HOOK_PF TSK_TaskCreateHookReplace(UKO_TASK_HOOK_PF pfnHook) {
    return HookReplace(pfnHook, &g_replacedCreateHook, UKO_TaskCreateHookReg,
                       UKO_TaskCreateHookUnreg);
}

uint32_t TSK_TaskDeleteHookReplace(UKO_TASK_HOOK_PF pfnHook) {
    (void)HookReplace(pfnHook, &g_replacedDeleteHook, UKO_TaskDeleteHookReg,
                      UKO_TaskDeleteHookUnreg);
    return 0;
}

uint32_t TSK_AdaptCreateHookSet(TSK_ADAPT_CREATE_HOOK_PF pfnHook) {
    g_adaptCreateHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t TSK_TaskLockHookSet(TSK_TASK_LOCK_HOOK_PF pfnHook) {
    g_lockHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t TSK_TaskUnlockHookSet(TSK_TASK_LOCK_HOOK_PF pfnHook) {
    g_unlockHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t TSK_TaskEntryHookSet(UKO_TASK_ENTRY_HOOK_PF pfnHook) {
    (void)UKO_TaskEntryHookSet(pfnHook);
    return 0;
}

// ---- Task variables ----------------------------------------------------------------------------------

uint32_t TSK_TaskVarSet(uint32_t uiTaskId, uint32_t uiIndex, uint32_t uiValue) {
    const uint32_t index = uiIndex & 0xFFu;
    TSK_ADAPT_CB* block = LiveBlockOf(uiTaskId);
    if (index >= TSK_TASK_VAR_NUM || block == nullptr) {
        return UKO_EINVAL;
    }
    (void)TSK_TaskLock();
    {
        TableLocked lock;
        block->auiTaskVar[index] = uiValue;
    }
    (void)TSK_TaskUnlock();
    return 0;
}

uint32_t TSK_TaskVarGet(uint32_t uiTaskId, uint32_t uiIndex, uint32_t* puiValue) {
    const uint32_t index = uiIndex & 0xFFu;
    TSK_ADAPT_CB* block = LiveBlockOf(uiTaskId);
    if (index >= TSK_TASK_VAR_NUM || block == nullptr || puiValue == nullptr) {
        return UKO_EINVAL;
    }
    (void)TSK_TaskLock();
    {
        TableLocked lock;
        *puiValue = block->auiTaskVar[index];
    }
    (void)TSK_TaskUnlock();
    return 0;
}

// ---- Threads the platform did not start ----------------------------------------------------------------

uint32_t TSK_ThreadAttach(const char* pscName, const char* pscLongName, uint32_t* puiTaskId,
                          UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                          uint32_t uiMode, pthread_t thread) {
    if (puiTaskId == nullptr || OS_TaskThreadCheck(thread) == 0) {
        return UKO_EINVAL;
    }
    const uint32_t rc =
        UKO_TaskRegister(pscName, puiTaskId, pfnEntry, uiPriority, uvStackSize, uiMode, thread);
    if (rc != 0) {
        return rc;
    }
    TSK_ADAPT_CB* block = LiveBlockOf(*puiTaskId);
    if (block != nullptr) {
        LongNameStore(block, pscLongName);
    }
    return 0;
}

// ---- What this OS does not offer ------------------------------------------------------------------------

uint32_t UKO_TaskRunDelay(uint32_t /*uiMs*/) {
    NotSupported("UKO_TaskRunDelay", 508);
    return 0;
}

uint32_t UKO_SetTaskMode(uint32_t /*uiTaskId*/, uint32_t /*uiMode*/) {
    NotSupported("UKO_SetTaskMode", 1075);
    return 0;
}
