// Named tasks: four-character task names over the task adaptation table, and the text
// dumps of the task table.

#include "jqr_task.h"

#include <pthread.h>

#include <cstdarg>
#include <cstring>

#include "os_task.h"
#include "osal_lock.h"
#include "uko_secfunc.h"
#include "uko_task_inner.h"
#include "v_task.h"

namespace {

constexpr int32_t kFail = -1;
constexpr uint32_t kNoTask = UKO_TASK_ID_NONE;
// Room the table dump keeps free for a row before it writes one.
constexpr uint64_t kRowRoom = 80;
// The bounded formatter refuses larger destinations.
constexpr uint32_t kBufferMax = 0x7FFFFFFF;

const char kStarLine[] =
    "\r\n******************************************************************************";
static_assert(sizeof(kStarLine) == 2 + 78 + 1, "a line of 78 asterisks");

// Serialises UKO_Task_Exists and the two dumps among themselves. Made by the start-up
// step, or by the first caller that comes before it.
pthread_mutex_t g_namedLock;
pthread_once_t g_namedLockOnce = PTHREAD_ONCE_INIT;

void NamedLockCreate() { (void)OSAL_LockCreate(&g_namedLock); }

struct NamedLocked {
    NamedLocked() {
        (void)pthread_once(&g_namedLockOnce, NamedLockCreate);
        (void)OSAL_LockLock(&g_namedLock);
    }
    ~NamedLocked() { (void)OSAL_LockUnLock(&g_namedLock, 0); }
    NamedLocked(const NamedLocked&) = delete;
    NamedLocked& operator=(const NamedLocked&) = delete;
};

// The four-character name: at most four bytes are read, fewer when the text ends
// sooner, so a short name is never read past its terminator.
struct ShortName {
    char acText[UKO_TASK_NAME_LEN];
    explicit ShortName(const char* pscName) {
        const size_t n = strnlen(pscName, UKO_TASK_SHORT_NAME_LEN);
        std::memcpy(acText, pscName, n);
        acText[n] = '\0';
    }
};

// Appends formatted pieces at the end of the caller's text. A piece that does not fit
// in what is left is dropped whole (the bounded formatter leaves the text as it was),
// so nothing is ever written past the buffer.
class TextOut {
public:
    TextOut(char* pcBuffer, uint32_t uiSize)
        : buf_(pcBuffer), size_(uiSize < kBufferMax ? uiSize : kBufferMax) {
        if (size_ != 0) {
            buf_[0] = '\0';
        }
    }
    void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (used_ + 1 >= size_) {
            return;
        }
        va_list args;
        va_start(args, format);
        const int n = UKO_vsprintf_s(buf_ + used_, size_ - used_, format, args);
        va_end(args);
        if (n > 0) {
            used_ += static_cast<uint32_t>(n);
        }
    }
    // True while more than a row's room is left.
    bool RowRoom() const { return static_cast<uint64_t>(used_) + kRowRoom < size_; }

private:
    char* buf_;
    uint32_t size_;
    uint32_t used_ = 0;
};

// The task's priority as UKO_GetTaskPrio reads it, from the same picture as its name.
uint32_t PrioOf(const UKO_TASK_SNAPSHOT_S& task) {
    uint32_t priority = task.uiPriority;
    return OS_TaskPrioGet(task.ulThread, &priority) == 0 ? priority : kNoTask;
}

}  // namespace

uint32_t JQR_TaskInit(uint32_t /*uiArg*/) {
    (void)pthread_once(&g_namedLockOnce, NamedLockCreate);
    return 0;
}

uint32_t UKO_Task_Create(const char* pscName, uint32_t uiPriority, uint32_t uiMode,
                         uint64_t uvStackSize, const uint64_t auvArgs[UKO_TASK_ARG_NUM],
                         UKO_TASK_ENTRY_PF pfnEntry, uint32_t* puiTaskId) {
    static const uint64_t kNoArgs[UKO_TASK_ARG_NUM] = {0, 0, 0, 0};
    if (pscName == nullptr) {
        return TSK_AdaptTaskCreate(nullptr, nullptr, puiTaskId, pfnEntry, uiPriority, uvStackSize,
                                   auvArgs != nullptr ? auvArgs : kNoArgs,
                                   uiMode & UKO_TASK_NAMED_MODE_MASK);
    }
    const ShortName shortName(pscName);
    return TSK_AdaptTaskCreate(shortName.acText, pscName, puiTaskId, pfnEntry, uiPriority,
                               uvStackSize, auvArgs != nullptr ? auvArgs : kNoArgs,
                               uiMode & UKO_TASK_NAMED_MODE_MASK);
}

int32_t UKO_Task_IdGetByName(const char* pscName, uint32_t* puiTaskId) {
    if (pscName == nullptr || puiTaskId == nullptr) {
        return kFail;
    }
    const uint32_t id = UKO_TaskIdGet(ShortName(pscName).acText);
    if (id == kNoTask) {
        return kFail;
    }
    *puiTaskId = id;
    return 0;
}

int32_t UKO_Task_NameGet(uint32_t uiTaskId, char* pcName) {
    UKO_TASK_SNAPSHOT_S task{};
    if (pcName == nullptr || ukoTaskSnapshotGet(uiTaskId, &task) != 0) {
        return kFail;
    }
    std::memcpy(pcName, task.acName, UKO_TASK_SHORT_NAME_LEN);
    return 0;
}

int32_t UKO_Task_SelfIdGet(uint32_t* puiTaskId) {
    if (puiTaskId == nullptr) {
        return kFail;
    }
    const uint32_t id = ukoTaskCurIdGet();
    if (id == kNoTask) {
        return kFail;
    }
    *puiTaskId = id;
    return 0;
}

int32_t UKO_Task_Exists(const char* pscName, uint32_t* puiExists) {
    if (pscName == nullptr || puiExists == nullptr) {
        return kFail;
    }
    NamedLocked lock;
    const bool exists = UKO_TaskIdGet(ShortName(pscName).acText) != kNoTask;
    *puiExists = exists ? 1 : 0;
    return exists ? 0 : kFail;
}

int32_t UKO_Task_PrioGet(uint32_t uiTaskId, uint32_t* puiPriority) {
    if (puiPriority == nullptr) {
        return kFail;
    }
    const uint32_t priority = UKO_GetTaskPrio(uiTaskId);
    if (priority == kNoTask) {
        return kFail;
    }
    *puiPriority = priority;
    return 0;
}

int32_t UKO_Task_OsIdGet(uint32_t uiTaskId, pthread_t* pThread) {
    UKO_TASK_SNAPSHOT_S task{};
    if (pThread == nullptr || ukoTaskSnapshotGet(uiTaskId, &task) != 0 || task.ulThread == 0) {
        return kFail;
    }
    *pThread = task.ulThread;
    return 0;
}

int32_t UKO_Task_ShowAll(char* pcBuffer, uint32_t uiSize) {
    if (pcBuffer == nullptr) {
        return 0;
    }
    NamedLocked lock;
    TextOut out(pcBuffer, uiSize);
    out.Add("%s", "\r\nname \t        Tid         UKO_Tid   priority      Status      CPU Total(Millsecs)");
    out.Add("%s", kStarLine);
    for (uint32_t id = 1; id <= TSK_TaskTableSizeGet() && out.RowRoom(); ++id) {
        UKO_TASK_SNAPSHOT_S task{};
        if (ukoTaskSnapshotGet(id, &task) != 0) {
            continue;
        }
        out.Add("\r\n%-10s\t", task.acName);
        out.Add("0x%016lx %5d %9d  %14s ", static_cast<unsigned long>(task.ulThread),
                static_cast<int>(id), static_cast<int>(PrioOf(task)), "unknown");
        // Task run time is not measured on this OS.
        out.Add("    %10u", 0u);
    }
    out.Add("%s", kStarLine);
    return 0;
}

int32_t UKO_Task_Show(char* pcBuffer, uint32_t uiSize, uint32_t uiTaskId) {
    if (pcBuffer == nullptr) {
        return 0;
    }
    NamedLocked lock;
    TextOut out(pcBuffer, uiSize);
    UKO_TASK_SNAPSHOT_S task{};
    if (TSK_TaskIdValid(uiTaskId) == 0 || ukoTaskSnapshotGet(uiTaskId, &task) != 0) {
        out.Add("%s", "\r\nTask Index error!");
        return 0;
    }
    out.Add("%s", kStarLine);
    out.Add("\r\nTask name               : %s", task.acName);
    out.Add("\r\nTask UKO Index          : %u", uiTaskId);
    out.Add("\r\nTask OS Index           : 0x%016lx", static_cast<unsigned long>(task.ulThread));
    out.Add("\r\nTask priority           : %u", PrioOf(task));
    out.Add("\r\nTask Status             : %s", "unknown");
    out.Add("\r\nLast run time(CPU Tick) : 0x%08x(high)  0x%08x(low)", 0u, 0u);
    out.Add("\r\nMax run time(CPU Tick)  : 0x%08x(high)  0x%08x(low)", 0u, 0u);
    out.Add("\r\nTotal run time(CPU Tick): 0x%08x(high)  0x%08x(low)", 0u, 0u);
    out.Add("%s", kStarLine);
    return 0;
}

uint32_t UKO_Task_Delete(uint32_t uiTaskId) { return UKO_TaskDelete(uiTaskId); }

uint32_t UKO_Task_Restart(uint32_t uiTaskId, const uint64_t auvArgs[UKO_TASK_ARG_NUM]) {
    return UKO_TaskRestart(uiTaskId, auvArgs);
}

uint32_t UKO_Task_PrioSet(uint32_t uiTaskId, uint32_t uiPriority) {
    uint32_t previous = 0;
    return UKO_TaskPrioSet(uiTaskId, uiPriority, &previous);
}

uint32_t UKO_Task_Suspend(uint32_t uiTaskId) { return UKO_TaskSuspend(uiTaskId); }

uint32_t UKO_Task_Resume(uint32_t uiTaskId) { return UKO_TaskResume(uiTaskId); }

uint32_t UKO_Task_Delay(uint32_t uiMs) { return UKO_TaskDelay(uiMs); }

uint32_t UKO_Task_RunDelay(uint32_t uiMs) { return UKO_TaskRunDelay(uiMs); }

uint32_t UKO_Task_ThreadSuspend(pthread_t thread) { return OS_TaskSuspend(thread); }

int32_t UKO_Task_Yield() {
    UKO_TASK_SNAPSHOT_S task{};
    if (ukoTaskSnapshotGet(UKO_TASK_ID_SELF, &task) != 0) {
        return 0;
    }
    const uint32_t lacksDefault = (task.uiMode & UKO_TASK_MODE_DEFAULT) == 0 ? 1 : 0;
    return OS_TaskFreeCPU(lacksDefault) == 0 ? 0 : kFail;
}

int32_t UKO_Task_StateGet(pthread_t thread, uint32_t* puiState) {
    if (puiState == nullptr) {
        return kFail;
    }
    uint32_t state = OS_TaskThreadStateGet(thread);
    if (state == 0) {
        state = OS_TaskThreadCheck(thread);
    }
    *puiState = state;
    return 0;
}

uint32_t UKO_Task_OthersExist() {
    const uint32_t self = ukoTaskCurIdGet();
    if (self == kNoTask) {
        return 1;
    }
    for (uint32_t id = 1; id <= TSK_TaskTableSizeGet(); ++id) {
        if (id != self && UKO_TaskIdCheck(id) == 1) {
            return 1;
        }
    }
    return 0;
}
