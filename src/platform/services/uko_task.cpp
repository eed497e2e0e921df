// The task module: the task table, the control blocks, creation with its start protocol,
// deletion, joins, restarts and the task hooks.
//
// Lock order: the task lock, then the hook lock, then a block's event lock. The task
// table is read without a lock by the look-ups by id; a growth therefore never frees the
// array it replaces.
//
// A task's thread gives back its own control block when it ends, whether its entry
// returned, it called OS_TaskExit or another task cancelled it: cancellation is deferred
// and lands only in a wait, whose cleanup leaves the waited-on object as it found it,
// and the thread's outermost cleanup then releases the block. Only a joinable task's
// block is released by its joiner, once the thread is gone.

#include "uko_task.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "../base/os_task_inner.h"
#include "../base/osal_task_inner.h"
#include "os_sema.h"
#include "os_task.h"
#include "os_time.h"
#include "osal_lock.h"
#include "osal_task.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_rescb.h"
#include "uko_task_inner.h"

namespace {

#define TASK_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_TASK, __VA_ARGS__)

static_assert(UKO_TASK_PCB_INITNUM != 0, "the first page holds at least one task");
static_assert(UKO_TASK_PCB_NEWPGNUM <= 4096, "a growth adds at most 4096 tasks");
static_assert(UKO_TASK_DEFAULT_STACK_SIZE != 0, "a default stack size is needed");
static_assert(UKO_TASK_PCB_INITNUM <= 0x1FFFFFFE, "the first table fits its size word");

constexpr uint32_t kNameChars = UKO_TASK_NAME_LEN - 1;
constexpr uint32_t kNoMark = 0xFFFFFFFF;
constexpr uint32_t kNoUser = 0xFFFFFFFF;
constexpr uint32_t kNoOsThreadId = 0xFFFFFFFF;
constexpr uint64_t kNoHandle = ~static_cast<uint64_t>(0);
const char kInvalidId[] = "[ZIRPA-%s]:Invalid taskId(%u), get TaskCb fail.";

pthread_mutex_t g_taskLock;  // the table, the count and the blocks' other fields
pthread_mutex_t g_hookLock;  // the two hook lists
std::atomic<bool> g_ready{false};
uint32_t g_rcbTableId = UKO_RESCB_INVALID;

// The table: block pointers indexed by task id. The size is published after the array,
// so a reader that sees a size also sees an array at least that large.
std::atomic<UKO_TaskCb**> g_table{nullptr};
std::atomic<uint32_t> g_tableSize{0};
// Arrays replaced by a growth. A lock-free reader may still be inside one, so they are
// kept for the life of the process; the control-block table grows at most 31 times.
UKO_TaskCb** g_retiredTables[UKO_RESCB_PAGE_MAX];
uint32_t g_retiredNum = 0;

std::atomic<uint32_t> g_taskCount{0};
std::atomic<uint32_t> g_releasesInFlight{0};

struct HookItem {
    UKO_DLL_NODE stLink;  // first, so a link is its item
    UKO_TASK_HOOK_PF pfnHook;
};
UKO_DLL_NODE g_createHooks;
UKO_DLL_NODE g_deleteHooks;

std::atomic<UKO_TASK_ENTRY_HOOK_PF> g_entryHook{nullptr};
std::atomic<UKO_TASK_PRIO_HOOK_PF> g_prioHook{nullptr};

// The block the common task entry recorded for this thread.
thread_local UKO_TaskCb* t_curTaskCb = nullptr;
// The block this thread still has to give back when it ends.
thread_local UKO_TaskCb* t_ownTaskCb = nullptr;

// Takes of the task lock by this thread, and its cancel state before the first one.
thread_local uint32_t t_taskLockDepth = 0;
thread_local int t_cancelStateBefore = PTHREAD_CANCEL_ENABLE;

// The task lock is held while hooks run, and a hook may well reach a cancellation
// point: a thread that holds the lock is therefore not cancelled until it has let the
// lock go, or the lock would stay taken for ever.
void TaskLock() {
    (void)OSAL_LockLock(&g_taskLock);
    if (t_taskLockDepth++ == 0) {
        (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &t_cancelStateBefore);
    }
}

void TaskUnlock() {
    const bool last = --t_taskLockDepth == 0;
    const int before = t_cancelStateBefore;
    (void)OSAL_LockUnLock(&g_taskLock, 0);
    if (last) {
        (void)pthread_setcancelstate(before, nullptr);
    }
}

struct TaskLocked {
    TaskLocked() { TaskLock(); }
    ~TaskLocked() { TaskUnlock(); }
    TaskLocked(const TaskLocked&) = delete;
    TaskLocked& operator=(const TaskLocked&) = delete;
};

void* SysAlloc(uint64_t uvSize) { return UKO_MemAlloc(0, m_ucSysPtNo, uvSize); }
void SysFree(void* pBlock) { (void)UKO_MemFree(0, pBlock); }

UKO_TaskCb* TableGet(uint32_t uiTaskId) {
    const uint32_t size = g_tableSize.load(std::memory_order_acquire);
    UKO_TaskCb** table = g_table.load(std::memory_order_acquire);
    if (table == nullptr || uiTaskId == 0 || uiTaskId >= size) {
        return nullptr;
    }
    return __atomic_load_n(&table[uiTaskId], __ATOMIC_ACQUIRE);
}

// Under the task lock.
void TableSet(uint32_t uiTaskId, UKO_TaskCb* pstTaskCb) {
    UKO_TaskCb** table = g_table.load(std::memory_order_relaxed);
    __atomic_store_n(&table[uiTaskId], pstTaskCb, __ATOMIC_RELEASE);
}

// A live task: recorded, with its thread known (creation has finished).
bool Live(const UKO_TaskCb* pstTaskCb) {
    return pstTaskCb != nullptr && ukoTaskThreadGet(pstTaskCb) != 0;
}

UKO_TaskCb* LiveGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = ukoTaskCbGet(uiTaskId);
    return Live(cb) ? cb : nullptr;
}

// Under the task lock: a recorded block (live or being created) with the name.
UKO_TaskCb* FindByName(const char* pscName) {
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    for (uint32_t id = 1; id < size; ++id) {
        UKO_TaskCb* cb = TableGet(id);
        if (cb != nullptr && std::strncmp(cb->acName, pscName, kNameChars) == 0) {
            return cb;
        }
    }
    return nullptr;
}

// Zeroes a block for a new task. The thread handle is written on its own: the OS
// layer's caches read it from blocks of other threads at any time.
void TaskCbClear(UKO_TaskCb* pstTaskCb) {
    auto* bytes = reinterpret_cast<uint8_t*>(pstTaskCb);
    constexpr size_t kAt = offsetof(UKO_TaskCb, ulThread);
    constexpr size_t kAfter = kAt + sizeof(pthread_t);
    std::memset(bytes, 0, kAt);
    std::memset(bytes + kAfter, 0, sizeof(UKO_TaskCb) - kAfter);
    ukoTaskThreadSet(pstTaskCb, 0);
}

// A zeroed block filled for a new (or newly registered) task.
void TaskCbFill(UKO_TaskCb* cb, uint32_t uiTaskId, const char* pscName, UKO_TASK_START_PF pfnStart,
                UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiMode, const uint64_t* puvArgs,
                void* pEventSem) {
    TaskCbClear(cb);
    cb->pfnEntry = pfnEntry;
    cb->pfnStart = pfnStart;
    cb->uiTaskId = uiTaskId;
    cb->uiMode = uiMode;
    cb->uiUsrId = kNoUser;
    cb->uiRestartMark = kNoMark;
    cb->uiOsThreadId = kNoOsThreadId;
    (void)OSAL_LockCreate(&cb->stEventLock);
    ukoTaskEventWordsReset(cb);
    cb->pEventSem = pEventSem;
    const size_t n = strnlen(pscName, kNameChars);
    std::memcpy(cb->acName, pscName, n);
    cb->acName[n] = '\0';
    if (puvArgs != nullptr) {
        std::memcpy(cb->auvArgs, puvArgs, sizeof(cb->auvArgs));
    }
}

// Under the task lock, on a block that is leaving the table. A writer finds the block
// under the task lock and takes its event lock before it lets the task lock go: once the
// event lock has been free here, nobody can be inside it, and it is destroyed where it
// lies.
void EventLockRetire(UKO_TaskCb* pstTaskCb) {
    (void)OSAL_LockLock(&pstTaskCb->stEventLock);
    (void)OSAL_LockUnLock(&pstTaskCb->stEventLock, 0);
    (void)OSAL_LockDelete(&pstTaskCb->stEventLock);
}

// Gives back the block of a creation whose thread could not be made; under the task
// lock.
void TaskCbDiscard(UKO_TaskCb* pstTaskCb) {
    EventLockRetire(pstTaskCb);
    ukoTaskEventWordsReset(pstTaskCb);
    pstTaskCb->pEventSem = nullptr;
    TableSet(pstTaskCb->uiTaskId, nullptr);
    (void)UKO_RescbFree(g_rcbTableId, pstTaskCb->uiTaskId);
}

// Cleanup of a task thread that is cancelled or ends through pthread_exit: unless the
// thread has already given its block back (OS_TaskExit does that before it exits),
// it does so now.
void TaskThreadEnded(void* pArg) {
    osalUnwindCleanupEnter();
    auto* cb = static_cast<UKO_TaskCb*>(pArg);
    if (t_ownTaskCb == cb) {
        ukoTaskExitRelease(cb);
    }
}

// What the OS layer starts every task thread with: the cleanup that gives the block
// back is in place before the task can meet its first cancellation point.
void* TaskThreadMain(void* pArg) {
    auto* cb = static_cast<UKO_TaskCb*>(pArg);
    t_ownTaskCb = cb;
    pthread_cleanup_push(TaskThreadEnded, cb);
    cb->pfnStart(cb);
    pthread_cleanup_pop(0);
    // A start function that came back without ending the task gave up on it.
    OS_TaskExit(nullptr, 0);
    return nullptr;
}

// Hook lists -------------------------------------------------------------------------

uint32_t HookReg(UKO_DLL_NODE* pstList, UKO_TASK_HOOK_PF pfnHook, const char* pcFn) {
    if (pfnHook == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pfnHook is null.", pcFn);
    }
    auto* item = static_cast<HookItem*>(SysAlloc(sizeof(HookItem)));
    if (item == nullptr) {
        return TASK_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:UKO_MemAlloc(%ld) for Hookitem fail.", pcFn,
                           static_cast<long>(sizeof(HookItem)));
    }
    item->pfnHook = pfnHook;
    (void)OSAL_LockLock(&g_hookLock);
    ukoDllAddHead(pstList->pstPrev, &item->stLink);  // at the tail: hooks run in order
    (void)OSAL_LockUnLock(&g_hookLock, 0);
    return 0;
}

uint32_t HookUnreg(UKO_DLL_NODE* pstList, UKO_TASK_HOOK_PF pfnHook, const char* pcFn,
                   const char* pcEmptyText) {
    if (pfnHook == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pfnHook is null.", pcFn);
    }
    HookItem* found = nullptr;
    (void)OSAL_LockLock(&g_hookLock);
    const bool empty = ukoDllIsEmpty(pstList) != 0;
    for (UKO_DLL_NODE* link = pstList->pstNext; !empty && link != pstList; link = link->pstNext) {
        auto* item = reinterpret_cast<HookItem*>(link);
        if (item->pfnHook == pfnHook) {
            found = item;
            ukoDllDel(link);
            break;
        }
    }
    (void)OSAL_LockUnLock(&g_hookLock, 0);
    if (empty) {
        return TASK_REPORT(UKO_EINVAL, pcEmptyText, pcFn);
    }
    if (found == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The hook(0x%p) is not registered.", pcFn,
                           reinterpret_cast<void*>(pfnHook));
    }
    SysFree(found);
    return 0;
}

void HookCall(UKO_DLL_NODE* pstList, uint32_t uiTaskId) {
    (void)OSAL_LockLock(&g_hookLock);
    for (UKO_DLL_NODE* link = pstList->pstNext; link != pstList; link = link->pstNext) {
        reinterpret_cast<HookItem*>(link)->pfnHook(uiTaskId);
    }
    (void)OSAL_LockUnLock(&g_hookLock, 0);
}

bool SelfId(uint32_t uiTaskId) {
    return uiTaskId == UKO_TASK_ID_SELF || uiTaskId == ukoTaskCurIdGet();
}

}  // namespace

// ---- Start-up ----------------------------------------------------------------------------

uint32_t UKO_TaskInit(uint32_t /*uiArg*/) {
    static const char kFn[] = "UKO_TaskInit";
    // Tasks already running keep their table on a second start.
    if (g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    uint32_t rc = OS_TaskInit();
    if (rc != 0) {
        return TASK_REPORT(rc, "[ZIRPA-%s]:OS_TaskInit fail.", kFn);
    }
    const uint32_t size = UKO_TASK_PCB_INITNUM + 1;
    const uint64_t bytes = static_cast<uint64_t>(size) * sizeof(UKO_TaskCb*);
    auto* table = static_cast<UKO_TaskCb**>(SysAlloc(bytes));
    if (table == nullptr) {
        return TASK_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%lu) for Task CB fail.", kFn,
                           static_cast<unsigned long>(bytes));
    }
    std::memset(table, 0, bytes);
    g_table.store(table, std::memory_order_release);
    g_tableSize.store(size, std::memory_order_release);
    g_retiredNum = 0;
    (void)OSAL_LockCreate(&g_taskLock);
    (void)OSAL_LockCreate(&g_hookLock);
    ukoDllInit(&g_createHooks);
    ukoDllInit(&g_deleteHooks);

    rc = UKO_RescbTableCreate(sizeof(UKO_TaskCb), UKO_TASK_PCB_INITNUM, UKO_TASK_PCB_NEWPGNUM,
                              ukoTaskRcbAppend, &g_rcbTableId);
    if (rc != 0) {
        g_tableSize.store(0, std::memory_order_release);
        g_table.store(nullptr, std::memory_order_release);
        SysFree(table);
        (void)OSAL_LockDelete(&g_taskLock);
        (void)OSAL_LockDelete(&g_hookLock);
        return TASK_REPORT(rc, "[ZIRPA-%s]:Rcb Table Create(%lu,%u,%u, 0,0x%p) fail.", kFn,
                           static_cast<unsigned long>(sizeof(UKO_TaskCb)), UKO_TASK_PCB_INITNUM,
                           UKO_TASK_PCB_NEWPGNUM, reinterpret_cast<void*>(ukoTaskRcbAppend));
    }
    g_ready.store(true, std::memory_order_release);
    return 0;
}

uint32_t ukoTaskRcbAppend(uint32_t uiAppendNum) {
    static const char kFn[] = "ukoTaskRcbAppend";
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    const uint64_t bytes = (static_cast<uint64_t>(size) + uiAppendNum) * sizeof(UKO_TaskCb*);
    UKO_TaskCb** grown = nullptr;
    if (g_retiredNum < UKO_RESCB_PAGE_MAX) {
        grown = static_cast<UKO_TaskCb**>(SysAlloc(bytes));
    }
    if (grown == nullptr) {
        return TASK_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemAlloc(%lu) for Append (%u) Task CB fail.", kFn,
                           static_cast<unsigned long>(bytes), uiAppendNum);
    }
    std::memset(grown, 0, bytes);
    UKO_TaskCb** current = g_table.load(std::memory_order_relaxed);
    for (uint32_t id = 0; id < size; ++id) {
        grown[id] = __atomic_load_n(&current[id], __ATOMIC_RELAXED);
    }
    g_retiredTables[g_retiredNum++] = current;
    g_table.store(grown, std::memory_order_release);
    g_tableSize.store(size + uiAppendNum, std::memory_order_release);
    return 0;
}

uint32_t ukoTaskTableSizeGet() { return g_tableSize.load(std::memory_order_acquire); }

UKO_TaskCb* const* ukoTaskTableGet(uint32_t* puiSize) {
    if (puiSize != nullptr) {
        *puiSize = g_tableSize.load(std::memory_order_acquire);
    }
    return g_table.load(std::memory_order_acquire);
}

// ---- Look-ups --------------------------------------------------------------------------------

UKO_TaskCb* ukoTaskCurCbTlsGet() { return t_curTaskCb; }

UKO_TaskCb* ukoTaskCbGet(uint32_t uiTaskId) {
    if (uiTaskId == UKO_TASK_ID_SELF) {
        UKO_TaskCb* cb = t_curTaskCb;
        return cb != nullptr ? cb : ukoTaskCbFindByThread(pthread_self());
    }
    return TableGet(uiTaskId);
}

UKO_TaskCb* UKO_TaskCbGet(uint32_t uiTaskId) { return ukoTaskCbGet(uiTaskId); }

UKO_TaskCb* ukoTaskCbFindByThread(pthread_t thread) {
    if (!g_ready.load(std::memory_order_acquire)) {
        return nullptr;
    }
    TaskLocked lock;
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    for (uint32_t id = 1; id < size; ++id) {
        UKO_TaskCb* cb = TableGet(id);
        if (Live(cb) && pthread_equal(ukoTaskThreadGet(cb), thread)) {
            return cb;
        }
    }
    return nullptr;
}

uint32_t ukoTaskCurIdGet() {
    UKO_TaskCb* cb = t_curTaskCb;
    if (cb != nullptr || OS_CurTaskCbGet(&cb) == 0) {
        return cb->uiTaskId;
    }
    const pthread_t self = pthread_self();
    uint32_t id = OS_TaskIdGetByThread(self);
    if (id != UKO_TASK_ID_NONE) {
        return id;
    }
    cb = ukoTaskCbFindByThread(self);
    return cb != nullptr ? cb->uiTaskId : UKO_TASK_ID_NONE;
}

uint32_t ukoTaskEventWriteById(uint32_t uiTaskId, uint32_t uiEvents) {
    if (!g_ready.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    TaskLock();
    UKO_TaskCb* cb = TableGet(uiTaskId);
    if (cb == nullptr) {
        TaskUnlock();
        return UKO_EINVAL;
    }
    (void)OSAL_LockLock(&cb->stEventLock);
    TaskUnlock();
    const uint32_t rc = ukoTaskEventWrite(cb, uiEvents);
    (void)OSAL_LockUnLock(&cb->stEventLock, 0);
    return rc;
}

uint32_t UKO_TaskIdGet(const char* pscName) {
    if (pscName == nullptr) {
        (void)TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pscName is null.", "UKO_TaskIdGet");
        return UKO_TASK_ID_NONE;
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return UKO_TASK_ID_NONE;
    }
    TaskLocked lock;
    UKO_TaskCb* cb = FindByName(pscName);
    return Live(cb) ? cb->uiTaskId : UKO_TASK_ID_NONE;
}

uint32_t ukoTaskSnapshotGet(uint32_t uiTaskId, UKO_TASK_SNAPSHOT_S* pstSnapshot) {
    if (pstSnapshot == nullptr || !g_ready.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    // The caller's own block cannot change hands while it runs; any other is looked up
    // under the lock that guards its reuse.
    const uint32_t id = uiTaskId == UKO_TASK_ID_SELF ? ukoTaskCurIdGet() : uiTaskId;
    TaskLocked lock;
    UKO_TaskCb* cb = LiveGet(id);
    if (cb == nullptr || id == UKO_TASK_ID_NONE) {
        return UKO_EINVAL;
    }
    std::memcpy(pstSnapshot->acName, cb->acName, sizeof(pstSnapshot->acName));
    pstSnapshot->ulThread = ukoTaskThreadGet(cb);
    pstSnapshot->uiPriority = cb->uiPriority;
    pstSnapshot->uiMode = cb->uiMode;
    return 0;
}

uint32_t UKO_TaskIdCheck(uint32_t uiTaskId) {
    if (uiTaskId == UKO_TASK_ID_SELF) {
        return 1;
    }
    return Live(TableGet(uiTaskId)) ? 1u : 0u;
}

uint32_t UKO_TaskNumGet() { return g_taskCount.load(std::memory_order_acquire); }

uint32_t UKO_TaskIdListGet(uint32_t* puiTaskCount, uint32_t auiTaskIdList[]) {
    static const char kFn[] = "UKO_TaskIdListGet";
    if (puiTaskCount == nullptr || auiTaskIdList == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param puiTaskCount(0x%p), aTaskIdList(0x%p).",
                           kFn, static_cast<void*>(puiTaskCount), static_cast<void*>(auiTaskIdList));
    }
    if (*puiTaskCount == 0) {
        return TASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:Inval Param puiTaskCount(0x%p), aTaskIdList(0x%p), *puiTaskCount(%u).",
                           kFn, static_cast<void*>(puiTaskCount), static_cast<void*>(auiTaskIdList),
                           *puiTaskCount);
    }
    uint32_t n = 0;
    if (g_ready.load(std::memory_order_acquire)) {
        TaskLocked lock;
        const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
        for (uint32_t id = 1; id < size && n < *puiTaskCount; ++id) {
            if (Live(TableGet(id))) {
                auiTaskIdList[n++] = id;
            }
        }
    }
    *puiTaskCount = n;
    return 0;
}

uint32_t UKO_TaskHandleListGet(pthread_t aHandles[], uint32_t uiNum) {
    if (aHandles == nullptr) {
        return UKO_EINVAL;
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    TaskLocked lock;
    const uint32_t limit = uiNum < UKO_TaskNumGet() ? uiNum : UKO_TaskNumGet();
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    uint32_t n = 0;
    for (uint32_t id = 1; id < size && n < limit; ++id) {
        UKO_TaskCb* cb = TableGet(id);
        if (Live(cb)) {
            aHandles[n++] = ukoTaskThreadGet(cb);
        }
    }
    return 0;
}

// ---- Creation ---------------------------------------------------------------------------------

uint32_t TSK_TaskCreate(const char* pscName, uint32_t* puiTaskId, UKO_TASK_START_PF pfnStart,
                        UKO_TASK_ENTRY_PF pfnEntry, uint32_t uiPriority, uint64_t uvStackSize,
                        uint32_t uiMode, const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    static const char kFn[] = "TSK_TaskCreate";
    if (pfnEntry == nullptr || puiTaskId == nullptr || pscName == nullptr || auvArgs == nullptr ||
        pfnStart == nullptr) {
        return TASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pTaskID(0x%p), pscName(0x%p), auvArgs(0x%p).",
                           kFn, reinterpret_cast<void*>(pfnEntry), static_cast<void*>(puiTaskId),
                           static_cast<const void*>(pscName), static_cast<const void*>(auvArgs));
    }
    if (uiPriority > UKO_TASK_MAX_PRIO) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param uiPriority(%u).", kFn, uiPriority);
    }
    uint64_t stackSize = uvStackSize != 0 ? uvStackSize : UKO_TASK_DEFAULT_STACK_SIZE;
    if (OS_TaskStackSizeCheck(&stackSize) != 0) {
        return TASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:The TaskName(%s) ctreate failed, uvStackSize(%lu) is too big.",
                           kFn, pscName, static_cast<unsigned long>(stackSize));
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskName(%s), UKO_RescbAlloc fail.", kFn, pscName);
    }
    void* sem = nullptr;
    uint32_t rc = UKO_SemaCCreate("TskEvntSem", 0, 1, &sem);
    if (rc != 0) {
        return rc;
    }

    TaskLock();
    if (FindByName(pscName) != nullptr) {
        TaskUnlock();
        (void)UKO_SemaDelete(sem);
        return TASK_REPORT(UKO_TASK_ERR_NAME_REPEATED, "[ZIRPA-%s]:The TaskName(%s) is repeated.", kFn,
                           pscName);
    }
    void* block = nullptr;
    const uint32_t id = UKO_RescbAlloc(g_rcbTableId, &block);
    if (id == UKO_RESCB_INVALID) {
        TaskUnlock();
        (void)UKO_SemaDelete(sem);
        *puiTaskId = UKO_TASK_ID_NONE;
        return TASK_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:TaskName(%s), UKO_RescbAlloc fail.", kFn, pscName);
    }
    auto* cb = static_cast<UKO_TaskCb*>(block);
    TaskCbFill(cb, id, pscName, pfnStart, pfnEntry, uiMode, auvArgs, sem);
    TableSet(id, cb);
    TaskUnlock();

    // The thread starts and sleeps until the start event below: by then its handle is
    // recorded, it is counted and the create hooks have seen it.
    uint64_t applied = stackSize;
    pthread_t thread = 0;
    rc = OSAL_TaskCreate(pscName, TaskThreadMain, uiPriority, uiMode, &applied, cb, &thread);

    TaskLock();
    if (rc != 0) {
        TaskCbDiscard(cb);
        TaskUnlock();
        (void)UKO_SemaDelete(sem);
        return TASK_REPORT(rc, "[ZIRPA-%s]:TaskName(%s), uiStackSize(%lu), TaskCreate fail.", kFn,
                           pscName, static_cast<unsigned long>(stackSize));
    }
    ukoTaskThreadSet(cb, thread);
    cb->uiPriority = uiPriority;
    cb->uvStackSize = applied;
    cb->uiCreated = 1;
    OS_TaskCbRegister(cb);
    g_taskCount.fetch_add(1, std::memory_order_acq_rel);
    (void)OS_TaskIdBind(thread, id);
    ukoTaskCreateHookCall(id);
    *puiTaskId = id;
    // Written before the lock goes, so that no deletion or reuse of the id can come
    // between the task's recording and its release.
    (void)ukoTaskEventWrite(cb, UKO_TASK_EVENT_START);
    TaskUnlock();
    return 0;
}

uint32_t UKO_TaskCreate(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                        uint32_t uiPriority, uint64_t uvStackSize, uint32_t uiMode,
                        const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    if ((uiMode & (UKO_TASK_MODE_RR | UKO_TASK_MODE_FIFO)) == 0) {
        uiMode |= UKO_TASK_MODE_DEFAULT;
    }
    return TSK_TaskCreate(pscName, puiTaskId, tskAllTaskEntry, pfnEntry, uiPriority, uvStackSize,
                          uiMode, auvArgs);
}

void tskAllTaskEntry(UKO_TaskCb* pstTaskCb) {
    static const char kFn[] = "tskAllTaskEntry";
    if (pstTaskCb == nullptr) {
        return;
    }
    if (pstTaskCb->pfnEntry == nullptr) {
        (void)TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pTaskCb's pfnEntry is NULL.", kFn);
        return;
    }
    if (OSAL_TaskCancelTypeSet() != 0) {
        (void)TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Set task cancel type failed.", kFn);
        return;
    }
    t_curTaskCb = pstTaskCb;
    (void)OS_TaskNameSet(pstTaskCb->acName);
    (void)OS_TaskEntryInit();
    (void)OS_TaskCurSet(pstTaskCb);
    __atomic_store_n(&pstTaskCb->uiOsThreadId, OS_CurThreadIdGet(), __ATOMIC_RELAXED);
    __atomic_store_n(&pstTaskCb->uvStackBase, OS_TaskStackBaseGet(), __ATOMIC_RELAXED);

    uint32_t received = 0;
    (void)ukoTaskEventRead(pstTaskCb, UKO_TASK_EVENT_START, UKO_EVENT_MODE_ANY, 0, &received);

    const uint32_t rc = OS_SigAltStack(pstTaskCb);
    if (rc != 0) {
        (void)TASK_REPORT(rc, "[ZIRPA-%s]:Task entry call OS_SigAltStack fail", kFn);
    } else {
        const uint64_t* args = pstTaskCb->auvArgs;
        UKO_TASK_ENTRY_HOOK_PF hook = g_entryHook.load(std::memory_order_acquire);
        if (hook != nullptr) {
            hook(args[0], args[1], args[2], args[3]);
        }
        pstTaskCb->pfnEntry(args[0], args[1], args[2], args[3]);
    }
    OS_TaskExit(nullptr, 0);
}

uint32_t UKO_TaskRegister(const char* pscName, uint32_t* puiTaskId, UKO_TASK_ENTRY_PF pfnEntry,
                          uint32_t uiPriority, uint64_t uvStackSize, uint32_t uiMode,
                          pthread_t thread) {
    static const char kFn[] = "UKO_TaskRegister";
    if (pscName == nullptr || pfnEntry == nullptr || uiPriority > UKO_TASK_MAX_PRIO || thread == 0) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pfnEntryFunc(0x%p), pscName(0x%p), uiPriority(%u).",
                           kFn, reinterpret_cast<void*>(pfnEntry), static_cast<const void*>(pscName),
                           uiPriority);
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    void* sem = nullptr;
    uint32_t rc = UKO_SemaCCreate("TskEvntSem", 0, 1, &sem);
    if (rc != 0) {
        return rc;
    }
    TaskLocked lock;
    void* block = nullptr;
    const uint32_t id = UKO_RescbAlloc(g_rcbTableId, &block);
    if (id == UKO_RESCB_INVALID) {
        (void)UKO_SemaDelete(sem);
        return TASK_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:TaskName(%s), UKO_RescbAlloc fail.", kFn, pscName);
    }
    if (puiTaskId != nullptr) {
        *puiTaskId = id;
    }
    auto* cb = static_cast<UKO_TaskCb*>(block);
    const uint64_t noArgs[UKO_TASK_ARG_NUM] = {0, 0, 0, 0};
    TaskCbFill(cb, id, pscName, nullptr, pfnEntry, uiMode, noArgs, sem);
    cb->uiOsThreadId = static_cast<uint32_t>(static_cast<uint64_t>(thread));
    TableSet(id, cb);
    ukoTaskThreadSet(cb, thread);
    cb->uiPriority = uiPriority;
    cb->uvStackSize = uvStackSize;
    cb->uiCreated = 0;
    OS_TaskCbRegister(cb);
    g_taskCount.fetch_add(1, std::memory_order_acq_rel);
    (void)OS_TaskIdBind(thread, id);
    ukoTaskCreateHookCall(id);
    return 0;
}

uint32_t UKO_ThreadIsForeign(pthread_t thread) {
    UKO_TaskCb* cb = ukoTaskCbFindByThread(thread);
    return cb == nullptr || cb->uiCreated == 0 ? 1u : 0u;
}

// ---- Ending ------------------------------------------------------------------------------------

void ukoTaskCbRelease(UKO_TaskCb* pstTaskCb) {
    g_releasesInFlight.fetch_add(1);
    void* sem = nullptr;
    {
        TaskLocked lock;
        const uint32_t id = pstTaskCb->uiTaskId;
        ukoTaskDeleteHookCall(id);
        sem = pstTaskCb->pEventSem;
        if (sem != nullptr) {
            EventLockRetire(pstTaskCb);
            pstTaskCb->pEventSem = nullptr;
            ukoTaskEventWordsReset(pstTaskCb);
        }
        TableSet(id, nullptr);
        if (pstTaskCb->pSigStack != nullptr) {
            osSigAltStackFree(pstTaskCb->pSigStack);
            pstTaskCb->pSigStack = nullptr;
        }
        ukoTaskThreadSet(pstTaskCb, 0);
        (void)UKO_RescbFree(g_rcbTableId, id);
        g_taskCount.fetch_sub(1);
    }
    if (sem != nullptr) {
        (void)UKO_SemaDelete(sem);
    }
    g_releasesInFlight.fetch_sub(1);
}

uint32_t ukoTaskReleasesInFlight() { return g_releasesInFlight.load(); }

void ukoTaskExitRelease(UKO_TaskCb* pstTaskCb) {
    // The thread is ending: a cancel that arrives now must not cut the release short.
    int state = 0;
    (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    t_ownTaskCb = nullptr;
    t_curTaskCb = nullptr;
    osTaskCurClear();
    if ((pstTaskCb->uiMode & UKO_TASK_MODE_JOINABLE) != 0) {
        return;  // the joiner gives the block back once the thread is gone
    }
    if (pstTaskCb->pSigStack != nullptr && pthread_equal(ukoTaskThreadGet(pstTaskCb), pthread_self())) {
        osSigAltStackDisable();
    }
    ukoTaskCbRelease(pstTaskCb);
}

// ---- Control -------------------------------------------------------------------------------------

uint32_t UKO_TaskDelete(uint32_t uiTaskId) {
    static const char kFn[] = "UKO_TaskDelete";
    if (SelfId(uiTaskId)) {
        if (ukoTaskCbGet(UKO_TASK_ID_SELF) == nullptr) {
            return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
        }
        OS_TaskExit(nullptr, 0);
        return UKO_EINVAL;  // not reached: the caller is a task
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    TaskLocked lock;
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    if (__atomic_load_n(&cb->uiSemHoldCount, __ATOMIC_ACQUIRE) != 0) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u), TaskName(%s).sema is not null .", kFn,
                           uiTaskId, cb->acName);
    }
    // The task cannot have gone while the lock is held: it needs the lock to give its
    // block back. It ends at its next wait and releases what it holds itself.
    const uint32_t rc = OSAL_TaskCancel(ukoTaskThreadGet(cb));
    if (rc != 0) {
        return TASK_REPORT(OSAL_ErrnoConvert(rc), "[ZIRPA-%s]:Delete osal task failed.", kFn);
    }
    return 0;
}

uint32_t UKO_TaskJoin(uint32_t uiTaskId, void** ppResult) {
    static const char kFn[] = "UKO_TaskJoin";
    if (SelfId(uiTaskId)) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u) is not current task id.", kFn, uiTaskId);
    }
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    // A detached thread cannot be joined, and its handle may already be gone.
    void* result = nullptr;
    if ((cb->uiMode & UKO_TASK_MODE_JOINABLE) == 0 ||
        OS_TaskJoin(ukoTaskThreadGet(cb), &result) != 0) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Call phtead_join() fail.", kFn);
    }
    ukoTaskCbRelease(cb);
    if (ppResult != nullptr) {
        *ppResult = result;
    }
    return 0;
}

uint32_t UKO_TaskRestart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    static const char kFn[] = "UKO_TaskRestart";
    if (SelfId(uiTaskId)) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u) is current task id.", kFn, uiTaskId);
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u), MK_TASKID_TO_PCB fail.", kFn, uiTaskId);
    }
    TaskLocked lock;
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u), MK_TASKID_TO_PCB fail.", kFn, uiTaskId);
    }
    uint64_t oldArgs[UKO_TASK_ARG_NUM];
    std::memcpy(oldArgs, cb->auvArgs, sizeof(oldArgs));
    if (auvArgs != nullptr) {
        std::memcpy(cb->auvArgs, auvArgs, sizeof(cb->auvArgs));
    }
    cb->uiRestartMark = 1;
    const pthread_t thread = ukoTaskThreadGet(cb);
    if (OS_TaskRestart(thread) != 0) {
        std::memcpy(cb->auvArgs, oldArgs, sizeof(oldArgs));
        cb->uiRestartMark = kNoMark;
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u), TaskRestart fail.", kFn, uiTaskId);
    }
    OS_CpuTickRead(&cb->uiRestartTickLow, &cb->uiRestartTickHigh);
    cb->uvRunTimeLast = 0;
    cb->uvRunTimeMax = 0;
    cb->uvRunTimeTotal = 0;
    cb->uiRestartMark = kNoMark;
    (void)OS_TaskIdBind(thread, uiTaskId);
    (void)ukoTaskEventWrite(cb, UKO_TASK_EVENT_START);
    return 0;
}

uint32_t UKO_TaskSuspend(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, "UKO_TaskSuspend", uiTaskId);
    }
    return OS_TaskSuspend(ukoTaskThreadGet(cb));
}

uint32_t UKO_TaskResume(uint32_t uiTaskId) {
    if (SelfId(uiTaskId)) {
        return 0;
    }
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, "UKO_TaskResume", uiTaskId);
    }
    return OS_TaskResume(ukoTaskThreadGet(cb));
}

uint32_t UKO_TaskPrioSet(uint32_t uiTaskId, uint32_t uiTaskPrio, uint32_t* puiPrevTaskPrio) {
    static const char kFn[] = "UKO_TaskPrioSet";
    if (puiPrevTaskPrio == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param puiPrevTaskPrio is null.", kFn);
    }
    if (uiTaskPrio > UKO_TASK_MAX_PRIO) {
        return TASK_REPORT(UKO_EINVAL,
                           "[ZIRPA-%s]:TaskId(%u), the Param uiTaskPrio(%u) is larger than UKO_TASK_MAX_PRIO.",
                           kFn, uiTaskId, uiTaskPrio);
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    TaskLocked lock;
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    if (OS_TaskPrioSet(ukoTaskThreadGet(cb), uiTaskPrio) != 0) {
        *puiPrevTaskPrio = 0xFFFFFFFF;
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:TaskId(%u), set task priority fail.", kFn, uiTaskId);
    }
    *puiPrevTaskPrio = cb->uiPriority;
    cb->uiPriority = uiTaskPrio;
    return 0;
}

uint32_t UKO_TaskNameSet(const char* pscName) {
    static const char kFn[] = "UKO_TaskNameSet";
    UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:get TaskCb fail.", kFn);
    }
    if (pscName == nullptr) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pscName is null.", kFn);
    }
    {
        TaskLocked lock;
        const size_t n = strnlen(pscName, kNameChars);
        std::memcpy(cb->acName, pscName, n);
        cb->acName[n] = '\0';
    }
    (void)OS_TaskNameSet(pscName);
    return 0;
}

uint32_t UKO_TaskDelay(uint32_t uiMs) { return OSAL_TaskDelay(uiMs); }

uint32_t UKO_TaskYield() { return OS_TaskYield(); }

// ---- Hooks ----------------------------------------------------------------------------------------

uint32_t UKO_TaskCreateHookReg(UKO_TASK_HOOK_PF pfnHook) {
    return HookReg(&g_createHooks, pfnHook, "UKO_TaskCreateHookReg");
}

uint32_t UKO_TaskCreateHookUnreg(UKO_TASK_HOOK_PF pfnHook) {
    return HookUnreg(&g_createHooks, pfnHook, "UKO_TaskCreateHookUnreg",
                     "[ZIRPA-%s]:The Hooklist is empty");
}

uint32_t UKO_TaskDeleteHookReg(UKO_TASK_HOOK_PF pfnHook) {
    return HookReg(&g_deleteHooks, pfnHook, "UKO_TaskDeleteHookReg");
}

uint32_t UKO_TaskDeleteHookUnreg(UKO_TASK_HOOK_PF pfnHook) {
    return HookUnreg(&g_deleteHooks, pfnHook, "UKO_TaskDeleteHookUnreg",
                     "[ZIRPA-%s]:The Hooklist is empty.");
}

void ukoTaskCreateHookCall(uint32_t uiTaskId) { HookCall(&g_createHooks, uiTaskId); }

void ukoTaskDeleteHookCall(uint32_t uiTaskId) { HookCall(&g_deleteHooks, uiTaskId); }

uint32_t UKO_TaskEntryHookSet(UKO_TASK_ENTRY_HOOK_PF pfnHook) {
    g_entryHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_TaskPrioHookSet(UKO_TASK_PRIO_HOOK_PF pfnHook) {
    g_prioHook.store(pfnHook, std::memory_order_release);
    return 0;
}

UKO_TASK_PRIO_HOOK_PF ukoTaskPrioHookGet() { return g_prioHook.load(std::memory_order_acquire); }

uint32_t UKO_TaskForEach(UKO_TASK_FOREACH_PF pfnFunc, void* pArg) {
    if (pfnFunc == nullptr || !g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    struct Entry {
        UKO_TaskCb* pstTaskCb;
        uint32_t uiTaskId;
    };
    Entry* snapshot = nullptr;
    uint32_t n = 0;
    {
        TaskLocked lock;
        const uint32_t used = UKO_RescbUsedNumGet(g_rcbTableId);
        if (used == 0) {
            return 0;
        }
        snapshot = static_cast<Entry*>(SysAlloc(static_cast<uint64_t>(used) * sizeof(Entry)));
        if (snapshot == nullptr) {
            return UKO_ENOMEM;
        }
        const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
        for (uint32_t id = 1; id < size && n < used; ++id) {
            UKO_TaskCb* cb = TableGet(id);
            if (Live(cb)) {
                snapshot[n++] = {cb, id};
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        pfnFunc(snapshot[i].pstTaskCb, pArg, snapshot[i].uiTaskId);
    }
    SysFree(snapshot);
    return 0;
}

uint32_t ukoTaskForEachId(UKO_TASK_HOOK_PF pfnHook) {
    if (pfnHook == nullptr || !g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    TaskLocked lock;
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    for (uint32_t id = 1; id < size; ++id) {
        if (Live(TableGet(id))) {
            pfnHook(id);
        }
    }
    return 0;
}

// ---- Small look-ups -----------------------------------------------------------------------------

uint64_t UKO_TaskOsalIdGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        (void)TASK_REPORT(UKO_EINVAL, kInvalidId, "UKO_TaskOsalIdGet", uiTaskId);
        return kNoHandle;
    }
    return static_cast<uint64_t>(ukoTaskThreadGet(cb));
}

uint64_t UKO_TaskSysIdGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = nullptr;
    if (g_ready.load(std::memory_order_acquire)) {
        TaskLocked lock;
        cb = LiveGet(uiTaskId);
        if (cb != nullptr) {
            return static_cast<uint64_t>(ukoTaskThreadGet(cb));
        }
    }
    (void)TASK_REPORT(UKO_EINVAL, kInvalidId, "UKO_TaskSysIdGet", uiTaskId);
    return kNoHandle;
}

uint32_t ukoTaskOsalHandleGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        (void)TASK_REPORT(UKO_EINVAL, kInvalidId, "ukoTaskOsalHandleGet", uiTaskId);
        return kNoOsThreadId;
    }
    return __atomic_load_n(&cb->uiOsThreadId, __ATOMIC_RELAXED);
}

uint32_t UKO_TaskOsThreadIdGet(uint32_t uiTaskId) {
    if (!g_ready.load(std::memory_order_acquire)) {
        return kNoOsThreadId;
    }
    TaskLocked lock;
    return ukoTaskOsalHandleGet(uiTaskId);
}

uint32_t ukoTaskIdGetByOsalHandle(pthread_t thread) {
    UKO_TaskCb* cb = ukoTaskCbFindByThread(thread);
    return cb != nullptr ? cb->uiTaskId : UKO_TASK_ID_NONE;
}

uint32_t UKO_TaskIdGetByHandle(pthread_t thread) { return ukoTaskIdGetByOsalHandle(thread); }

namespace {

// Under the task lock: the live block that recorded the thread id, or NULL.
UKO_TaskCb* FindByThreadId(uint32_t uiOsThreadId) {
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    for (uint32_t id = 1; id < size; ++id) {
        UKO_TaskCb* cb = TableGet(id);
        if (Live(cb) && __atomic_load_n(&cb->uiOsThreadId, __ATOMIC_RELAXED) == uiOsThreadId) {
            return cb;
        }
    }
    return nullptr;
}

}  // namespace

uint32_t ukoTaskIdGetByThreadId(uint32_t uiOsThreadId) {
    if (!g_ready.load(std::memory_order_acquire)) {
        return UKO_TASK_ID_NONE;
    }
    TaskLocked lock;
    UKO_TaskCb* cb = FindByThreadId(uiOsThreadId);
    return cb != nullptr ? cb->uiTaskId : UKO_TASK_ID_NONE;
}

uint64_t ukoTaskHandleGetByThreadId(uint32_t uiOsThreadId) {
    if (!g_ready.load(std::memory_order_acquire)) {
        return kNoHandle;
    }
    TaskLocked lock;
    UKO_TaskCb* cb = FindByThreadId(uiOsThreadId);
    return cb != nullptr ? static_cast<uint64_t>(ukoTaskThreadGet(cb)) : kNoHandle;
}

uint32_t UKO_TaskUsrIdGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        (void)TASK_REPORT(UKO_EINVAL, kInvalidId, "UKO_TaskUsrIdGet", uiTaskId);
        return 0;
    }
    return cb->uiUsrId;
}

uint64_t UKO_TaskStackBaseGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    return cb != nullptr ? __atomic_load_n(&cb->uvStackBase, __ATOMIC_RELAXED) : 0xFFFFFFFFull;
}

uint32_t UKO_TaskCreatedGet(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    return cb != nullptr ? cb->uiCreated : 0;
}

uint64_t UKO_TaskSigStackGet(uint32_t uiOsThreadId, uint32_t* puiSize) {
    const uint32_t id = ukoTaskIdGetByThreadId(uiOsThreadId);
    if (id == UKO_TASK_ID_NONE) {
        return 0;
    }
    UKO_TaskCb* cb = LiveGet(id);
    if (cb == nullptr) {
        return kNoHandle;
    }
    if (puiSize != nullptr) {
        *puiSize = OS_TASK_SIG_STACK_SIZE;
    }
    return reinterpret_cast<uint64_t>(cb->pSigStack);
}

uint32_t UKO_TaskExitInDispatching(uint32_t uiTaskId) {
    static const char kFn[] = "UKO_TaskExitInDispatching";
    if (!g_ready.load(std::memory_order_acquire)) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    TaskLocked lock;
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return TASK_REPORT(UKO_EINVAL, kInvalidId, kFn, uiTaskId);
    }
    __atomic_store_n(&cb->uiExitInDispatching, 1u, __ATOMIC_RELEASE);
    return 0;
}

UKO_TaskCb* UKO_TaskSemHoldInc() {
    UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
    if (cb != nullptr) {
        (void)__atomic_add_fetch(&cb->uiSemHoldCount, 1u, __ATOMIC_ACQ_REL);
    }
    return cb;
}

UKO_TaskCb* UKO_TaskSemHoldDec() {
    UKO_TaskCb* cb = ukoTaskCbGet(UKO_TASK_ID_SELF);
    if (cb != nullptr) {
        (void)__atomic_sub_fetch(&cb->uiSemHoldCount, 1u, __ATOMIC_ACQ_REL);
    }
    return cb;
}

uint32_t ukoSetBlockSemToTCB(uint64_t uvSem, pthread_t thread) {
    UKO_TaskCb* cb = t_curTaskCb;
    if (cb == nullptr && OS_CurTaskCbGet(&cb) != 0) {
        cb = nullptr;
    }
    if (cb != nullptr) {
        __atomic_store_n(&cb->uvBlockSem, uvSem, __ATOMIC_RELAXED);
        return 0;
    }
    const uint32_t id = OS_TaskIdGetByThread(thread);
    if (id != UKO_TASK_ID_NONE) {
        cb = LiveGet(id);
        if (cb == nullptr) {
            return UKO_EINVAL;
        }
        __atomic_store_n(&cb->uvBlockSem, uvSem, __ATOMIC_RELAXED);
        return 0;
    }
    if (!g_ready.load(std::memory_order_acquire)) {
        return 0;
    }
    TaskLocked lock;
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    for (uint32_t i = 1; i < size; ++i) {
        UKO_TaskCb* each = TableGet(i);
        if (Live(each) && pthread_equal(ukoTaskThreadGet(each), thread)) {
            __atomic_store_n(&each->uvBlockSem, uvSem, __ATOMIC_RELAXED);
        }
    }
    return 0;
}

uint32_t ukoGetBlockSemToTCB(uint64_t uvSem, pthread_t aHandles[]) {
    if (uvSem == 0) {
        return TASK_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Para BlockTCBSem is NULL(%lu) .",
                           "ukoGetBlockSemToTCB", static_cast<unsigned long>(uvSem));
    }
    if (aHandles == nullptr || !g_ready.load(std::memory_order_acquire)) {
        return aHandles == nullptr ? UKO_EINVAL : 0;
    }
    TaskLocked lock;
    const uint32_t size = g_tableSize.load(std::memory_order_relaxed);
    uint32_t n = 0;
    for (uint32_t id = 1; id < size && n < UKO_TASK_BLOCKSEM_LIST_MAX; ++id) {
        UKO_TaskCb* cb = TableGet(id);
        if (Live(cb) && __atomic_load_n(&cb->uvBlockSem, __ATOMIC_RELAXED) == uvSem) {
            aHandles[n++] = ukoTaskThreadGet(cb);
        }
    }
    return 0;
}

uint32_t UKO_TaskCbCheck(uint32_t uiTaskId) {
    UKO_TaskCb* cb = LiveGet(uiTaskId);
    if (cb == nullptr) {
        return UKO_EINVAL;
    }
    return OS_TaskCbCheck(cb);
}

void UKO_TaskSupervisorModeSet() { OSAL_TaskRunInSupervisorModeSet(); }

void UKO_TaskNop() { OS_TaskNop(); }

uint32_t UKO_TaskFreeCpu(uint32_t uiFlag) { return OS_TaskFreeCPU(uiFlag); }
