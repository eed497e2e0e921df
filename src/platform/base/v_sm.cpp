// The semaphore table: ids 1 to 400 over the semaphores and mutexes of os_sema. The
// table maps each id to a handle and keeps the per-type counts, the overload state and
// the statistics under one table lock; P, non-waiting P and V find their handle
// without that lock.
//
// An operation on an id pins the id while it uses the handle, and a delete takes the
// handle out of its slot before it deletes the semaphore: a delete that finds the id
// pinned gives the handle back and refuses, so no operation can run into a freed
// semaphore and no two deletes can free one twice.

#include "v_sm_inner.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "os_sema.h"
#include "os_sema_inner.h"
#include "osal_lock.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_string.h"
#include "uko_systime.h"

namespace {

#define SM_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_SM, __VA_ARGS__)

constexpr uint32_t kOverloadPct = 90;
constexpr uint32_t kCriticalPct = 10;
constexpr uint32_t kSlotNum = UKO_MAX_SEMA4 + 1;  // slot 0 is never used
constexpr uint32_t kTableBytes = kSlotNum * sizeof(void*);
static_assert(kTableBytes == 3208, "401 handle slots");
constexpr uint32_t kFifoPrior = UKO_SM_FIFO | UKO_SM_PRIOR;
constexpr uint32_t kTypeNum = 3;  // binary, counting, mutex: os_sema's type numbers
constexpr size_t kFlagTextLen = 64;
constexpr uint32_t kGiveLockNum = 16;

const char kInvalId[] = "[ZIRPA-%s]:Invalid ulSmID(%u).";
const char kOverloadText[] = "[ZIRPA-%s]:The Sema number is overload!";

// Guards slot allocation and clearing, the counts, the overload state and the
// statistics. A recursive OS lock that exists from process start, so a call before
// start-up finds a working lock instead of an uninitialised one.
pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

// The 401 slots, from the system partition. Each slot is read and written atomically:
// P, non-waiting P and V read it without the table lock.
std::atomic<void**> g_slots{nullptr};
// A slot whose semaphore a delete is destroying: not free, and not usable.
char g_deletingMark;
void* const kDeleting = &g_deletingMark;
// Threads inside an operation on each id.
std::atomic<uint32_t> g_users[kSlotNum];

// Counts by type, written under the table lock, also read without it.
uint32_t g_counts[kTypeNum] = {};
uint32_t g_max = 0;
UKO_SM_THRESHOLDS g_thresholds = {};
uint32_t g_state = UKO_SM_STATE_NORMAL;
std::atomic<uint32_t> g_overloadSwitch{0};
std::atomic<uint32_t> g_statSwitch{0};
UKO_SmStatInfo g_stats[UKO_SM_STAT_NUM] = {};
bool g_instantOn = false;

std::atomic<UKO_SM_OVERLOAD_HOOK_PF> g_overloadHook{nullptr};
std::atomic<UKO_SM_VNOTIFY_HOOK_PF> g_vNotifyTarget{nullptr};
std::atomic<UKO_SM_PRINT_PF> g_printer{UKO_ShowPrint};

// A V on a binary semaphore tests the count and gives only when it is 0. V's on one id
// pass through the same give lock, so no second V can slip in between the test and
// the give; P's only lower the count, so the count never passes 1.
struct GiveLock {
    pthread_mutex_t stLock = PTHREAD_MUTEX_INITIALIZER;
};
GiveLock g_giveLocks[kGiveLockNum];

struct Locked {
    explicit Locked(pthread_mutex_t* pLock) : lock(pLock) { (void)OSAL_LockLock(lock); }
    ~Locked() { (void)OSAL_LockUnLock(lock, 0); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    pthread_mutex_t* lock;
};

void* SlotLoad(uint32_t uiId) {
    void** slots = g_slots.load(std::memory_order_acquire);
    return slots != nullptr ? __atomic_load_n(&slots[uiId], __ATOMIC_SEQ_CST) : nullptr;
}
void SlotStore(uint32_t uiId, void* pValue) {
    __atomic_store_n(&g_slots.load(std::memory_order_acquire)[uiId], pValue, __ATOMIC_SEQ_CST);
}
// The semaphore of an id, or NULL (empty, being deleted, or no table).
void* SemOf(uint32_t uiId) {
    void* h = SlotLoad(uiId);
    return h == kDeleting ? nullptr : h;
}

uint32_t TypeOf(const void* pSem) { return static_cast<const UKO_SEMA_CB*>(pSem)->uiType; }
uint32_t CountGet(uint32_t uiType) { return __atomic_load_n(&g_counts[uiType], __ATOMIC_RELAXED); }
void CountAdd(uint32_t uiType, int32_t iDelta) {
    __atomic_store_n(&g_counts[uiType], g_counts[uiType] + static_cast<uint32_t>(iDelta),
                     __ATOMIC_RELAXED);
}

// Holds an id against deletion while an operation uses its handle. The pin is
// published before the slot is read and a delete publishes its mark before it looks
// at the pins (both sequentially consistent), so one of the two always sees the other.
class Pin {
public:
    explicit Pin(uint32_t uiId) : id_(uiId) {
        g_users[id_].fetch_add(1, std::memory_order_seq_cst);
        sem_ = SemOf(id_);
    }
    ~Pin() { g_users[id_].fetch_sub(1, std::memory_order_release); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    void* Sem() const { return sem_; }

private:
    uint32_t id_;
    void* sem_;
};

// One operation's success or failure in its statistics block.
void StatCount(uint32_t uiOp, bool bSuccess) {
    if (g_statSwitch.load(std::memory_order_acquire) == 0) {
        return;
    }
    Locked guard(&g_lock);
    UKO_SmStatInfo& s = g_stats[uiOp];
    if (bSuccess) {
        ++s.uiTotalSucc;
        if (g_instantOn) {
            ++s.uiInstantSucc;
        }
        s.uiContinueFail = 0;
        s.stFirstFailTime = {};
        return;
    }
    ++s.uiTotalFail;
    if (g_instantOn) {
        ++s.uiInstantFail;
    }
    if (s.uiContinueFail == 0) {
        UKO_Systime now = {};
        (void)UKO_SystimeGet(&now);
        static_assert(sizeof(s.stFirstFailTime) <= sizeof(now), "leading bytes of the time");
        std::memcpy(&s.stFirstFailTime, &now, sizeof(s.stFirstFailTime));
    }
    ++s.uiContinueFail;
}

uint32_t CreateFailed(uint32_t uiCode) {
    StatCount(UKO_SM_STAT_CREATE, false);
    return uiCode;
}

// Gives a new semaphore the lowest free id. Without one the semaphore is deleted again,
// so a full table leaves nothing behind.
uint32_t TableEnter(void* pSem, uint32_t* pulSmID, const char* pcFunc) {
    (void)OSAL_LockLock(&g_lock);
    uint32_t id = 0;
    if (g_slots.load(std::memory_order_acquire) != nullptr) {
        for (uint32_t i = 1; i <= UKO_MAX_SEMA4; ++i) {
            if (SlotLoad(i) == nullptr) {
                id = i;
                break;
            }
        }
    }
    if (id == 0) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        (void)UKO_SemaDelete(pSem);
        return CreateFailed(ukoErrReport(UKO_ENOMEM, UKO_MID_SM, __FILE__, __LINE__,
                                         "[ZIRPA-%s]:CB for sema is full.", pcFunc));
    }
    SlotStore(id, pSem);
    CountAdd(TypeOf(pSem), 1);
    StatCount(UKO_SM_STAT_CREATE, true);
    if (g_overloadSwitch.load(std::memory_order_acquire) != 0) {
        SEM_OverloadCheck();
    }
    *pulSmID = id;
    (void)OSAL_LockUnLock(&g_lock, 0);
    return 0;
}

// The V of a binary semaphore: given only when its count is 0.
uint32_t BinaryV(uint32_t uiId, void* pSem) {
    pthread_mutex_t* give = &g_giveLocks[uiId % kGiveLockNum].stLock;
    (void)pthread_mutex_lock(give);
    auto* sem = static_cast<UKO_SEMA_CB*>(pSem);
    uint32_t rc = UKO_EINVAL;
    if (pthread_mutex_lock(&sem->stMutex) == 0) {
        int32_t count = sem->iCount;
        (void)pthread_mutex_unlock(&sem->stMutex);
        rc = count >= 1 ? 0 : UKO_SemaV(pSem);
    }
    (void)pthread_mutex_unlock(give);
    return rc;
}

const char* NameText(const char* pcName) { return pcName != nullptr ? pcName : "null"; }

template <typename... Args>
void Print(uint32_t uiTarget, const char* format, Args... args) {
    (void)g_printer.load(std::memory_order_acquire)(uiTarget, format, args...);
}

}  // namespace

UKO_SM_THRESHOLDS ukoSmThresholdsCalc(uint32_t uiMax, uint32_t uiOverloadPct,
                                      uint32_t uiCriticalPct) {
    UKO_SM_THRESHOLDS t;
    uint32_t recoverPct = uiOverloadPct - uiCriticalPct;
    if (uiMax > 0xFFFFFFFFu / 100) {
        t.uiOverload = uiMax / 100 * uiOverloadPct;
        t.uiRecover = uiMax / 100 * recoverPct;
    } else {
        t.uiOverload = uiMax * uiOverloadPct / 100;
        t.uiRecover = uiMax * recoverPct / 100;
    }
    return t;
}

uint32_t Sema4Init(uint32_t /*uiUnused*/) {
    Locked guard(&g_lock);
    // The table holds every live id: a second start keeps it.
    if (g_slots.load(std::memory_order_acquire) != nullptr) {
        return 0;
    }
    g_thresholds = ukoSmThresholdsCalc(UKO_MAX_SEMA4, kOverloadPct, kCriticalPct);
    g_state = UKO_SM_STATE_NORMAL;
    g_overloadSwitch.store(0);
    g_statSwitch.store(0);
    auto* slots =
        static_cast<void**>(UKO_MemAlloc_F(0, m_ucSysPtNo, kTableBytes, __FILE__, __LINE__));
    if (slots == nullptr) {
        return SM_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:malloc(%u) for Sema CB fail.", __func__,
                         kTableBytes);
    }
    std::memset(slots, 0, kTableBytes);
    __atomic_store_n(&g_max, UKO_MAX_SEMA4, __ATOMIC_RELAXED);
    g_slots.store(slots, std::memory_order_release);
    ukoSemaVNotifyHookSet(ukoSmVNotify);
    return 0;
}

// ---- Create --------------------------------------------------------------------------

uint32_t UKO_SmCCreate(const char* pcName, uint32_t uiInitCount, uint32_t ulFlags,
                       uint32_t* pulSmID) {
    if (pulSmID == nullptr) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pulSmID is null.", __func__));
    }
    if ((ulFlags & kFifoPrior) == kFifoPrior) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid ulFlags(%u).", __func__, ulFlags));
    }
    void* sem = nullptr;
    uint32_t rc = UKO_SemaCCreate(pcName, uiInitCount, UKO_SM_FIFO, &sem);
    if (rc != 0) {
        return CreateFailed(SM_REPORT(rc, "[ZIRPA-%s]:Create Sema failed!", __func__));
    }
    return TableEnter(sem, pulSmID, __func__);
}

uint32_t UKO_SmBCreate(const char* pcName, uint32_t uiInitValue, uint32_t ulFlags,
                       uint32_t* pulSmID) {
    if (pulSmID == nullptr) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pulSmID is null.", __func__));
    }
    if ((ulFlags & kFifoPrior) == kFifoPrior) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid ulFlags(%u).", __func__, ulFlags));
    }
    void* sem = nullptr;
    uint32_t rc = UKO_SemaBCreate(pcName, uiInitValue, UKO_SM_FIFO, &sem);
    if (rc != 0) {
        return CreateFailed(SM_REPORT(rc, "[ZIRPA-%s]:Create SemaBCreate failed!", __func__));
    }
    return TableEnter(sem, pulSmID, __func__);
}

uint32_t UKO_SmMCreate(const char* pcName, uint32_t ulFlags, uint32_t* pulSmID) {
    if (pulSmID == nullptr) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pulSmID is null.", __func__));
    }
    uint32_t flags = ulFlags & ~UKO_SM_INVERSION_SAFE;
    if ((flags & kFifoPrior) == kFifoPrior) {
        return CreateFailed(
            SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid ulFlags(%u).", __func__, ulFlags));
    }
    // A mutex is always FIFO; its other bits (DELETE_SAFE, GLOBAL) stay.
    flags = (flags & ~UKO_SM_PRIOR) | UKO_SM_FIFO;
    void* sem = nullptr;
    uint32_t rc = UKO_SemaMCreate(pcName, flags, &sem);
    if (rc != 0) {
        return CreateFailed(SM_REPORT(rc, "[ZIRPA-%s]:Create sema(%s) OSAL SmMutex failed.",
                                      __func__, NameText(pcName)));
    }
    return TableEnter(sem, pulSmID, __func__);
}

// ---- P, V, delete ----------------------------------------------------------------------

uint32_t UKO_SmP(uint32_t ulSmID, uint32_t uiTimeOutMs) {
    if (ulSmID > UKO_MAX_SEMA4) {
        StatCount(UKO_SM_STAT_P, false);
        return SM_REPORT(UKO_EINVAL,
                         "[ZIRPA-%s]:The param ulSmID(%u) is greater than MaxSema4(%u).", __func__,
                         ulSmID, UKO_MAX_SEMA4);
    }
    uint32_t rc;
    {
        Pin pin(ulSmID);
        rc = UKO_SemaP(pin.Sem(), uiTimeOutMs);
    }
    if (rc == UKO_ETIMEDOUT) {
        (void)UKO_ErrnoSet(UKO_ETIMEDOUT);
    }
    StatCount(UKO_SM_STAT_P, rc == 0);
    return rc;
}

uint32_t UKO_Sm_AsyP(uint32_t ulSmID) {
    if (ulSmID > UKO_MAX_SEMA4) {
        StatCount(UKO_SM_STAT_P, false);
        return SM_REPORT(UKO_EINVAL, kInvalId, __func__, ulSmID);
    }
    uint32_t rc;
    {
        Pin pin(ulSmID);
        rc = UKO_SemaAsynP(pin.Sem());
    }
    StatCount(UKO_SM_STAT_P, rc == 0);
    return rc;
}

uint32_t UKO_SmV(uint32_t ulSmID) {
    if (ulSmID > UKO_MAX_SEMA4) {
        StatCount(UKO_SM_STAT_V, false);
        return SM_REPORT(UKO_EINVAL, kInvalId, __func__, ulSmID);
    }
    uint32_t rc;
    {
        Pin pin(ulSmID);
        void* sem = pin.Sem();
        if (sem != nullptr && TypeOf(sem) == UKO_SEMA_TYPE_BINARY) {
            rc = BinaryV(ulSmID, sem);
        } else {
            rc = UKO_SemaV(sem);  // NULL is refused there with 22
        }
    }
    StatCount(UKO_SM_STAT_V, rc == 0);
    return rc == 0 ? 0 : UKO_EINVAL;
}

uint32_t UKO_SmDelete(uint32_t ulSmID) {
    if (ulSmID > UKO_MAX_SEMA4) {
        StatCount(UKO_SM_STAT_DELETE, false);
        return SM_REPORT(UKO_EINVAL, kInvalId, __func__, ulSmID);
    }
    // Out of the slot first, under the lock: a second delete, or a P or V that comes
    // later, finds no semaphore instead of one about to be freed.
    void* sem;
    {
        Locked guard(&g_lock);
        sem = SemOf(ulSmID);
        if (sem != nullptr) {
            SlotStore(ulSmID, kDeleting);
        }
    }
    if (sem == nullptr) {
        uint32_t rc = UKO_SemaDelete(nullptr);  // refused there with 22
        StatCount(UKO_SM_STAT_DELETE, false);
        return rc;
    }
    uint32_t type = TypeOf(sem);
    uint32_t rc = 0;
    if (g_users[ulSmID].load(std::memory_order_seq_cst) != 0) {
        rc = SM_REPORT(UKO_EBUSY, "[ZIRPA-%s]:The sema ID(%u) is in use.", __func__, ulSmID);
    } else {
        rc = UKO_SemaDelete(sem);
    }
    Locked guard(&g_lock);
    if (rc != 0) {
        // Still alive: the id keeps it.
        SlotStore(ulSmID, sem);
        StatCount(UKO_SM_STAT_DELETE, false);
        return rc;
    }
    CountAdd(type, -1);
    if (g_overloadSwitch.load(std::memory_order_acquire) != 0) {
        SEM_OverloadCheck();
    }
    SlotStore(ulSmID, nullptr);
    StatCount(UKO_SM_STAT_DELETE, true);
    return 0;
}

// ---- Look-ups --------------------------------------------------------------------------

uint32_t UKO_GetSmID(const char* pcSmName, uint32_t* pulSmID) {
    if (pcSmName == nullptr) {
        return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pcSmName is null.", __func__);
    }
    if (pulSmID == nullptr) {
        return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pulSmID is null.", __func__);
    }
    {
        Locked guard(&g_lock);
        for (uint32_t id = 1; id <= UKO_MAX_SEMA4; ++id) {
            void* sem = SemOf(id);
            if (sem != nullptr && UKO_SafeStrNCmp(static_cast<const UKO_SEMA_CB*>(sem)->acName,
                                                  pcSmName, UKO_SEMA_NAME_LEN) == 0) {
                *pulSmID = id;
                return 0;
            }
        }
    }
    *pulSmID = 0;
    return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Get sema ID failed!", __func__);
}

int32_t UKO_GetOsalsmIDFromSmID(uint32_t ulSmID) {
    if (ulSmID > UKO_MAX_SEMA4) {
        (void)SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:ulSmID(%u) is greater than ulMaxSem(%u)!", __func__,
                        ulSmID, UKO_MAX_SEMA4);
    }
    return -1;
}

int32_t ukoSmIdGetByOsalId(int32_t /*iOsalId*/) {
    Locked guard(&g_lock);
    for (uint32_t id = 1; id <= UKO_MAX_SEMA4; ++id) {
        if (SemOf(id) != nullptr) {
            return static_cast<int32_t>(id);
        }
    }
    return -1;
}

int32_t ukoSmIdGetByCb(const void* pSem) {
    if (pSem == nullptr) {
        return -1;
    }
    Locked guard(&g_lock);
    for (uint32_t id = 1; id <= UKO_MAX_SEMA4; ++id) {
        if (SemOf(id) == pSem) {
            return static_cast<int32_t>(id);
        }
    }
    return -1;
}

uint32_t UKO_SmIdIsUsed(uint32_t ulSmID) {
    if (ulSmID == 0 || ulSmID > UKO_MAX_SEMA4) {
        return 0;
    }
    return SlotLoad(ulSmID) != nullptr ? 1 : 0;
}

uint32_t ukoSmVNotify(void* pSem, uint32_t uiType, uintptr_t ulValue1, uintptr_t ulValue2) {
    UKO_SM_VNOTIFY_HOOK_PF target = g_vNotifyTarget.load(std::memory_order_acquire);
    if (target == nullptr) {
        return UKO_EINVAL;
    }
    int32_t id = ukoSmIdGetByCb(pSem);
    if (id < 0) {
        return UKO_EINVAL;
    }
    return target(static_cast<uint32_t>(id), uiType, ulValue1, ulValue2);
}

// ---- Counts, overload watch, statistics ---------------------------------------------------

uint32_t UKO_GetSema4Stats(UKO_Sema4Stats* pstStats) {
    if (pstStats == nullptr) {
        return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid SemaType!", __func__);
    }
    Locked guard(&g_lock);
    pstStats->uiBinaryNum = g_counts[UKO_SEMA_TYPE_BINARY];
    pstStats->uiCountNum = g_counts[UKO_SEMA_TYPE_COUNT];
    pstStats->uiMutexNum = g_counts[UKO_SEMA_TYPE_MUTEX];
    pstStats->uiMaxNum = g_max;
    return 0;
}

uint32_t UKO_GetSema4StatsNoLock(UKO_Sema4Stats* pstStats) {
    if (pstStats == nullptr) {
        return UKO_EINVAL;
    }
    pstStats->uiBinaryNum = CountGet(UKO_SEMA_TYPE_BINARY);
    pstStats->uiCountNum = CountGet(UKO_SEMA_TYPE_COUNT);
    pstStats->uiMutexNum = CountGet(UKO_SEMA_TYPE_MUTEX);
    pstStats->uiMaxNum = __atomic_load_n(&g_max, __ATOMIC_RELAXED);
    return 0;
}

void SEM_OverloadCheck() {
    if (g_overloadSwitch.load(std::memory_order_acquire) == 0) {
        return;
    }
    Locked guard(&g_lock);
    if (g_max == 0) {
        return;  // no table yet
    }
    uint32_t used = g_counts[0] + g_counts[1] + g_counts[2];
    uint32_t freeNum = used < g_max ? g_max - used : 0;
    uint32_t freePct = static_cast<uint32_t>(static_cast<uint64_t>(freeNum) * 100 / g_max);
    UKO_SM_OVERLOAD_HOOK_PF hook = g_overloadHook.load(std::memory_order_acquire);
    if (used > g_thresholds.uiOverload) {
        if (g_state == UKO_SM_STATE_NORMAL) {
            if (hook != nullptr) {
                hook(UKO_SM_OVERLOAD, g_max, freeNum, freePct);
            }
            (void)SM_REPORT(UKO_SM_OVERLOAD, kOverloadText, __func__);
        }
        g_state = UKO_SM_STATE_OVERLOAD;
    } else if (used > g_thresholds.uiRecover) {
        if (g_state == UKO_SM_STATE_OVERLOAD) {
            g_state = UKO_SM_STATE_FALLING;
        }
    } else if (g_state != UKO_SM_STATE_NORMAL) {
        g_state = UKO_SM_STATE_NORMAL;
        if (hook != nullptr) {
            hook(UKO_SM_OVERLOAD_RECOVER, g_max, freeNum, freePct);
        }
        (void)SM_REPORT(UKO_SM_OVERLOAD_RECOVER, kOverloadText, __func__);
    }
}

uint32_t UKO_SetSmStatInfo(uint32_t ulFlag) {
    if (ulFlag == 1) {
        Locked guard(&g_lock);
        g_instantOn = false;
        return 0;
    }
    if (ulFlag == 0) {
        Locked guard(&g_lock);
        for (UKO_SmStatInfo& s : g_stats) {
            s.uiInstantSucc = 0;
            s.uiInstantFail = 0;
        }
        g_instantOn = true;
        return 0;
    }
    return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid ulFlag!", __func__);
}

uint32_t UKO_GetSmStatInfo(uint32_t ulOpNo, UKO_SmStatInfo* pInfo) {
    if (pInfo == nullptr) {
        return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pInfo is null!", __func__);
    }
    std::memset(pInfo, 0, sizeof(*pInfo));
    // Checked before anything is copied: there are only four blocks.
    if (ulOpNo >= UKO_SM_STAT_NUM) {
        return SM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid Flag!", __func__);
    }
    Locked guard(&g_lock);
    *pInfo = g_stats[ulOpNo];
    return 0;
}

uint32_t ukoSmStatShow(uint32_t uiTarget) {
    struct OpLines {
        const char* succ;
        const char* fail;
        const char* cont;
        const char* time;
        const char* instSucc;
        const char* instFail;
    };
    static const OpLines kLines[UKO_SM_STAT_NUM] = {
        {"\r\n total success number of create seam4 : %d",
         "\r\n total fail    number of create seam4 : %d",
         "\r\n continue fail number of create seam4 : %d",
         "\r\n time of begin fail to create seam4   : %04d-%02d-%02d %02d:%02d:%02d",
         "\r\n instant success number of create seam4 : %d ",
         "\r\n instant fail    number of create seam4 : %d "},
        {"\r\n total success number of delete seam4 : %d",
         "\r\n total fail    number of delete seam4 : %d",
         "\r\n continue fail number of delete seam4 : %d",
         "\r\n time of begin fail to delete seam4   : %04d-%02d-%02d %02d:%02d:%02d",
         "\r\n instant success number of delete seam4 : %d ",
         "\r\n instant fail    number of delete seam4 : %d "},
        {"\r\n total success number of P seam4      : %d",
         "\r\n total fail    number of P seam4      : %d",
         "\r\n continue fail number of P seam4      : %d",
         "\r\n time of begin fail to P seam4        : %04d-%02d-%02d %02d:%02d%02d",
         "\r\n instant success number of P seam4      : %d ",
         "\r\n instant fail    number of P seam4      : %d "},
        {"\r\n total success number of V seam4      : %d",
         "\r\n total fail    number of V seam4      : %d",
         "\r\n continue fail number of V seam4      : %d",
         "\r\n time of begin fail to V seam4        : %04d-%02d-%02d %02d:%02d:%02d",
         "\r\n instant success number of V seam4      : %d ",
         "\r\n instant fail    number of V seam4      : %d "},
    };
    // One consistent picture, printed after the lock is let go.
    uint32_t counts[kTypeNum];
    uint32_t max;
    UKO_SmStatInfo stats[UKO_SM_STAT_NUM];
    bool instantOn;
    {
        Locked guard(&g_lock);
        std::memcpy(counts, g_counts, sizeof(counts));
        max = g_max;
        std::memcpy(stats, g_stats, sizeof(stats));
        instantOn = g_instantOn;
    }
    Print(uiTarget, "\r\n max semaphore          : %d", static_cast<int>(max));
    Print(uiTarget, "\r\n total binary semaphore : %d",
          static_cast<int>(counts[UKO_SEMA_TYPE_BINARY]));
    Print(uiTarget, "\r\n total count  semaphore : %d",
          static_cast<int>(counts[UKO_SEMA_TYPE_COUNT]));
    Print(uiTarget, "\r\n total mutex  semaphore : %d",
          static_cast<int>(counts[UKO_SEMA_TYPE_MUTEX]));
    if (g_statSwitch.load(std::memory_order_acquire) != 0) {
        for (uint32_t op = 0; op < UKO_SM_STAT_NUM; ++op) {
            const UKO_SmStatInfo& s = stats[op];
            const UKO_SmStatTime& t = s.stFirstFailTime;
            Print(uiTarget, kLines[op].succ, static_cast<int>(s.uiTotalSucc));
            Print(uiTarget, kLines[op].fail, static_cast<int>(s.uiTotalFail));
            Print(uiTarget, kLines[op].cont, static_cast<int>(s.uiContinueFail));
            Print(uiTarget, kLines[op].time, static_cast<int>(t.usYear),
                  static_cast<int>(t.ucMonth), static_cast<int>(t.ucDate),
                  static_cast<int>(t.ucHour), static_cast<int>(t.ucMinute),
                  static_cast<int>(t.ucSecond));
        }
    }
    if (instantOn) {
        for (uint32_t op = 0; op < UKO_SM_STAT_NUM; ++op) {
            Print(uiTarget, kLines[op].instSucc, static_cast<int>(stats[op].uiInstantSucc));
            Print(uiTarget, kLines[op].instFail, static_cast<int>(stats[op].uiInstantFail));
        }
    }
    return 0;
}

uint32_t ukoSmFlagNameGet(const void* pSemCb, char* pcText, uint32_t* puiType) {
    if (pSemCb == nullptr || pcText == nullptr || puiType == nullptr) {
        return UKO_EINVAL;
    }
    const auto* head = static_cast<const UKO_SEMA_CB*>(pSemCb);
    if (__atomic_load_n(&head->uiMagic, __ATOMIC_ACQUIRE) != UKO_SEMA_MAGIC) {
        return UKO_EINVAL;
    }
    uint32_t flags;
    switch (head->uiType) {
        case UKO_SEMA_TYPE_BINARY:
            *puiType = 1;
            flags = head->uiFlags;
            break;
        case UKO_SEMA_TYPE_COUNT:
            *puiType = 2;
            flags = head->uiFlags;
            break;
        case UKO_SEMA_TYPE_MUTEX:
            *puiType = 3;
            flags = static_cast<const UKO_MUTEX_CB*>(pSemCb)->usFlags;
            break;
        default:
            *puiType = 0;
            flags = head->uiFlags;
            break;
    }
    if ((flags & kFifoPrior) == 0) {
        (void)UKO_strcpy_s(pcText, kFlagTextLen, "ERROR");
        return 0;
    }
    (void)UKO_strcpy_s(pcText, kFlagTextLen, (flags & UKO_SM_FIFO) != 0 ? "FIFO" : "PRIOR");
    if ((flags & UKO_SM_DELETE_SAFE) != 0) {
        (void)UKO_strcat_s(pcText, kFlagTextLen, " | DELETE_SAFE");
    }
    if ((flags & UKO_SM_INVERSION_SAFE) != 0) {
        (void)UKO_strcat_s(pcText, kFlagTextLen, " | INVERSION_SAFE");
    }
    if ((flags & UKO_SM_GLOBAL) != 0) {
        (void)UKO_strcat_s(pcText, kFlagTextLen, " | GLOBAL");
    }
    return 0;
}

// ---- Hooks and seams ------------------------------------------------------------------------

uint32_t UKO_SmOverloadHookSet(UKO_SM_OVERLOAD_HOOK_PF pfnHook) {
    g_overloadHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_SmVNotifyHookSet(UKO_SM_VNOTIFY_HOOK_PF pfnHook) {
    g_vNotifyTarget.store(pfnHook, std::memory_order_release);
    return 0;
}

void ukoSmOverloadCheckSwitchSet(uint32_t uiOn) {
    g_overloadSwitch.store(uiOn != 0 ? 1 : 0, std::memory_order_release);
}

void ukoSmStatSwitchSet(uint32_t uiOn) {
    g_statSwitch.store(uiOn != 0 ? 1 : 0, std::memory_order_release);
}

uint32_t ukoSmOverloadStateGet() {
    Locked guard(&g_lock);
    return g_state;
}

void ukoSmPrinterSet(UKO_SM_PRINT_PF pfnPrinter) {
    g_printer.store(pfnPrinter != nullptr ? pfnPrinter : UKO_ShowPrint, std::memory_order_release);
}
