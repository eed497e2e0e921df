#include "uko_handle.h"
#include "uko_handle_inner.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "osal_lock.h"
#include "uko_secfunc.h"
#include "uko_string.h"

namespace {

constexpr uint32_t kMagic = 0x3C5E763E;  // the bytes ">v^<" while a handle is valid
constexpr uint32_t kBuckets = 1024;
constexpr uint32_t kArrayStep = 1024;
constexpr uint32_t kNameSize = UKO_HANDLE_NAME_LEN + 1;
constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

struct HandleNode {
    UKO_DLL_NODE stLink;  // in its name's bucket; first, so a link is its node
    char acName[kNameSize];
    uint32_t uiMagic;     // read without the lock: atomic access only
    uint32_t uiActive;
    uint16_t usHandle;
    uint64_t aullData[HANDLE_MAX_MODREG];  // slot i belongs to data module i + 1
};
static_assert(offsetof(HandleNode, stLink) == 0, "a bucket link is its node");

struct ModEntry {
    ModEntry* pstNext;
    uint32_t uiIndex;
    char acName[kNameSize];
    UKO_HANDLE_DATA_FREE_HOOK_PF pfnFree;
};

// Everything below is guarded by g_lock, except where a reader is named as lock-free:
// the array, its size, the node pointers in it, a node's magic, the maximum and the
// module count are atomics because validation, the data-slot lookup and the maximum
// getters read them without the lock.
pthread_mutex_t g_lock;
std::atomic<bool> g_ready{false};
UKO_DLL_NODE* g_buckets = nullptr;
std::atomic<HandleNode**> g_array{nullptr};
std::atomic<uint32_t> g_arraySize{0};
// Arrays replaced by a growth. A lock-free reader may have picked one up before any
// number of later growths, so none is ever freed; the array grows by 1024 entries up to
// the 16-bit handle space, which bounds their number.
constexpr uint32_t kRetiredMax = (0x10000 + kArrayStep - 1) / kArrayStep + 1;
HandleNode** g_retiredArrays[kRetiredMax];
uint32_t g_retiredNum = 0;
uint32_t g_cursor = 0;
std::atomic<uint32_t> g_maxInUse{UKO_HANDLE_NONE};
uint32_t g_limit = UKO_HANDLE_NONE;
ModEntry* g_mods = nullptr;  // newest first
std::atomic<uint32_t> g_modCount{0};

const char kNullParam[] = "[ZIRPA-%s]: The parameters(%s) is NULL!";

#define HANDLE_REPORT(code, ...) UKO_LOG_HOOK_REPORT((code), UKO_MID_HANDLE, __VA_ARGS__)

struct Locked {
    Locked() { (void)OSAL_LockLock(&g_lock); }
    ~Locked() { (void)OSAL_LockUnLock(&g_lock, 0); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Names count by their first 31 characters; hashing that same prefix puts two names
// that agree in it into one bucket, where the duplicate check finds them.
void NamePrefix(const char* name, char (&prefix)[kNameSize]) {
    size_t n = strnlen(name, UKO_HANDLE_NAME_LEN);
    std::memcpy(prefix, name, n);
    prefix[n] = '\0';
}

uint32_t BucketOf(const char* prefix) {
    uint32_t h = 0;
    for (const char* p = prefix; *p != '\0'; ++p) {
        h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
        uint32_t top = h & 0xF0000000u;
        if (top != 0) {
            h ^= top >> 24;
            h ^= top;
        }
    }
    return h & (kBuckets - 1);
}

bool Valid(const HandleNode* node) {
    return node != nullptr && __atomic_load_n(&node->uiMagic, __ATOMIC_ACQUIRE) == kMagic;
}

// The node in the handle's slot, or NULL; safe without the lock. The size is read
// before the array, and a growth publishes the array before the size, so the index is
// always inside the array read.
HandleNode* NodeAt(uint32_t handle) {
    uint32_t size = g_arraySize.load(std::memory_order_acquire);
    HandleNode** array = g_array.load(std::memory_order_acquire);
    if (array == nullptr || handle >= size) {
        return nullptr;
    }
    return __atomic_load_n(&array[handle], __ATOMIC_ACQUIRE);
}

HandleNode* FindByName(const char* prefix) {
    UKO_DLL_NODE* head = &g_buckets[BucketOf(prefix)];
    for (UKO_DLL_NODE* link = head->pstNext; link != head; link = link->pstNext) {
        HandleNode* node = reinterpret_cast<HandleNode*>(link);
        if (Valid(node) && std::strncmp(node->acName, prefix, UKO_HANDLE_NAME_LEN) == 0) {
            return node;
        }
    }
    return nullptr;
}

ModEntry* FindMod(uint32_t index) {
    for (ModEntry* m = g_mods; m != nullptr; m = m->pstNext) {
        if (m->uiIndex == index) {
            return m;
        }
    }
    return nullptr;
}

// Grows the handle array by one step. The array it replaces is kept: a reader that
// loaded it without the lock may still be reading it, however many growths ago.
bool GrowArray() {
    uint32_t size = g_arraySize.load(std::memory_order_relaxed);
    uint32_t newSize = size + kArrayStep;
    if (g_retiredNum >= kRetiredMax) {
        return false;
    }
    HandleNode** grown = static_cast<HandleNode**>(std::calloc(newSize, sizeof(HandleNode*)));
    if (grown == nullptr) {
        return false;
    }
    HandleNode** current = g_array.load(std::memory_order_relaxed);
    std::memcpy(grown, current, size * sizeof(HandleNode*));
    g_retiredArrays[g_retiredNum++] = current;
    g_array.store(grown, std::memory_order_release);
    g_arraySize.store(newSize, std::memory_order_release);
    return true;
}

// The first free slot from `from` up to `to`, or kNoIndex.
uint32_t FreeSlot(uint32_t from, uint32_t to) {
    HandleNode** array = g_array.load(std::memory_order_relaxed);
    for (uint32_t h = from; h < to; ++h) {
        if (!Valid(array[h])) {
            return h;
        }
    }
    return kNoIndex;
}

}  // namespace

void* const* ukoHandleArrayGet(uint32_t* puiSize) {
    if (puiSize != nullptr) {
        *puiSize = g_arraySize.load(std::memory_order_acquire);
    }
    return reinterpret_cast<void* const*>(g_array.load(std::memory_order_acquire));
}

uint32_t ukoHandleInit(uint32_t /*uiUnused*/) {
    static const char kFn[] = "ukoHandleInit";
    // A second start must not throw away the handles that modules already hold.
    if (g_ready.load()) {
        return 0;
    }
    if (UKO_HANDLE_PID_BUTT >= 0xFFFF) {
        return HANDLE_REPORT(UKO_EINVAL,
                             "[ZIRPA-%s]:The config UKO_HANDLE_PID_BUTT(%d) is larger than 0xFFFF.",
                             kFn, static_cast<int>(UKO_HANDLE_PID_BUTT));
    }
    const unsigned long bucketBytes = kBuckets * sizeof(UKO_DLL_NODE);
    g_buckets = static_cast<UKO_DLL_NODE*>(std::malloc(bucketBytes));
    if (g_buckets == nullptr) {
        return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:HANDLE_MALLOC(%lu) for HashHead fail.", kFn,
                             bucketBytes);
    }
    for (uint32_t i = 0; i < kBuckets; ++i) {
        ukoDllInit(&g_buckets[i]);
    }
    HandleNode** array = static_cast<HandleNode**>(std::calloc(kArrayStep, sizeof(HandleNode*)));
    if (array == nullptr) {
        std::free(g_buckets);
        g_buckets = nullptr;
        return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:HANDLE_MALLOC(%lu) for HandleCBArry fail.",
                             kFn, static_cast<unsigned long>(kArrayStep * sizeof(HandleNode*)));
    }
    g_array.store(array, std::memory_order_release);
    g_arraySize.store(kArrayStep, std::memory_order_release);
    g_maxInUse.store(UKO_HANDLE_NONE);
    g_cursor = 0;
    g_mods = nullptr;
    g_modCount.store(0);
    (void)OSAL_LockCreate(&g_lock);
    g_ready.store(true);

    uint32_t handle = 0;
    uint32_t rc = UKO_HandleInitialize("uko.sys", &handle);
    for (uint32_t i = 1; i < UKO_HANDLE_PID_BUTT; ++i) {
        char name[kNameSize];
        (void)UKO_snprintf_s(name, sizeof(name), sizeof(name) - 1, "uko.pid.reserve%d$",
                             static_cast<int>(i));
        rc |= UKO_HandleInitialize(name, &handle);
    }
    rc |= UKO_HandleInitialize("uko.handle.invalid", &handle);
    if (rc != 0) {
        return HANDLE_REPORT(rc, "[ZIRPA-%s]:HandleInitialize Failed.", kFn);
    }
    return 0;
}

uint32_t UKO_HandleInitialize(const char* pscName, uint32_t* puiHandle) {
    static const char kFn[] = "UKO_HandleInitialize";
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "pName");
    }
    if (puiHandle == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "pHandle");
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    char prefix[kNameSize];
    NamePrefix(pscName, prefix);

    (void)OSAL_LockLock(&g_lock);
    if (FindByName(prefix) != nullptr) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_HANDLE_ERR_NAME_REGISTERED,
                             "[ZIRPA-%s]:Handle name(%s) has been registered.", kFn, prefix);
    }
    uint32_t size = g_arraySize.load(std::memory_order_relaxed);
    if (g_cursor >= size - 1) {
        if (!GrowArray()) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:HANDLE_MALLOC(%lu) for HandleCBArr fail.",
                                 kFn,
                                 static_cast<unsigned long>((size + kArrayStep) * sizeof(HandleNode*)));
        }
        size = g_arraySize.load(std::memory_order_relaxed);
    }
    const uint32_t end = g_limit < size ? g_limit : size;
    uint32_t slot = FreeSlot(g_cursor, end);
    if (slot == kNoIndex) {
        slot = FreeSlot(0, g_cursor < end ? g_cursor : end);
    }
    if (slot == kNoIndex) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_HANDLE_ERR_NO_FREE_HANDLE,
                             "[ZIRPA-%s]:ukoHandleUpdateNextHandleNum fail.", kFn);
    }
    HandleNode** array = g_array.load(std::memory_order_relaxed);
    // A finalised node left in the slot is taken again, so that registering and
    // finalising in a loop does not keep allocating nodes.
    HandleNode* node = array[slot];
    if (node == nullptr) {
        node = static_cast<HandleNode*>(std::calloc(1, sizeof(HandleNode)));
        if (node == nullptr) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:ukoHandleNodeCreate fail.", kFn);
        }
    } else {
        std::memset(node->acName, 0, sizeof(node->acName));
        std::memset(node->aullData, 0, sizeof(node->aullData));
    }
    std::memcpy(node->acName, prefix, sizeof(prefix));
    node->uiActive = 1;
    node->usHandle = static_cast<uint16_t>(slot);
    ukoDllAddHead(&g_buckets[BucketOf(prefix)], &node->stLink);
    __atomic_store_n(&node->uiMagic, kMagic, __ATOMIC_RELEASE);
    __atomic_store_n(&array[slot], node, __ATOMIC_RELEASE);

    g_cursor = slot + 1 >= g_limit ? 0 : slot + 1;
    uint32_t max = g_maxInUse.load(std::memory_order_relaxed);
    if (max == UKO_HANDLE_NONE || slot > max) {
        g_maxInUse.store(slot, std::memory_order_release);
    }
    *puiHandle = slot;
    (void)OSAL_LockUnLock(&g_lock, 0);
    return 0;
}

uint32_t UKO_HandleNameSet(uint32_t uiHandle, const char* pscName) {
    static const char kFn[] = "UKO_HandleNameSet";
    const uint32_t handle = uiHandle & 0xFFFF;
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "pscName");
    }
    if (handle == 0 || handle >= UKO_HANDLE_PID_BUTT) {
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:FID(%d) set name fail, MaxPid is(%d).", kFn,
                             static_cast<int>(handle), static_cast<int>(UKO_HANDLE_PID_BUTT));
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    char prefix[kNameSize];
    NamePrefix(pscName, prefix);

    (void)OSAL_LockLock(&g_lock);
    HandleNode* node = NodeAt(handle);
    if (!Valid(node)) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:handle(%d) is not init.", kFn,
                             static_cast<int>(handle));
    }
    if (FindByName(prefix) != nullptr) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_HANDLE_ERR_NAME_REGISTERED,
                             "[ZIRPA-%s]:module name(%s) has been registered.", kFn, prefix);
    }
    std::memcpy(node->acName, prefix, sizeof(prefix));
    ukoDllDel(&node->stLink);
    ukoDllAddHead(&g_buckets[BucketOf(prefix)], &node->stLink);
    (void)OSAL_LockUnLock(&g_lock, 0);
    return 0;
}

uint32_t UKO_HandleFinalize(uint32_t uiHandle) {
    static const char kFn[] = "UKO_HandleFinalize";
    const uint32_t handle = uiHandle & 0xFFFF;
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    UKO_HANDLE_DATA_FREE_HOOK_PF hooks[HANDLE_MAX_MODREG];
    uint32_t hookCount = 0;
    HandleNode* node = nullptr;
    {
        (void)OSAL_LockLock(&g_lock);
        const uint32_t max = g_maxInUse.load(std::memory_order_relaxed);
        if (handle == 0 || handle > max) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxHandle(%d), invalid handle(%d).", kFn,
                                 static_cast<int>(max), static_cast<int>(handle));
        }
        if (handle < UKO_HANDLE_PID_BUTT) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:HandleMaxPid(%d), invalid handle(%d).",
                                 kFn, static_cast<int>(UKO_HANDLE_PID_BUTT),
                                 static_cast<int>(handle));
        }
        node = NodeAt(handle);
        if (!Valid(node) || node->uiActive == 0) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:invalid handle(%d).", kFn,
                                 static_cast<int>(handle));
        }
        // From here on a second finalisation of the handle is refused, while the handle
        // stays valid for the data modules' hooks.
        node->uiActive = 0;
        for (ModEntry* m = g_mods; m != nullptr; m = m->pstNext) {
            if (m->pfnFree != nullptr) {
                hooks[hookCount++] = m->pfnFree;
            }
        }
        (void)OSAL_LockUnLock(&g_lock, 0);
    }
    for (uint32_t i = 0; i < hookCount; ++i) {
        hooks[i](handle);
    }

    Locked lock;
    __atomic_store_n(&node->uiMagic, 0u, __ATOMIC_RELEASE);
    ukoDllDel(&node->stLink);
    if (handle == g_maxInUse.load(std::memory_order_relaxed)) {
        uint32_t newMax = UKO_HANDLE_NONE;
        for (uint32_t h = handle; h-- > 0;) {
            if (Valid(NodeAt(h))) {
                newMax = h;
                break;
            }
        }
        g_maxInUse.store(newMax, std::memory_order_release);
    }
    return 0;
}

uint32_t UKO_HandleNameGet(uint32_t uiHandle, char* pscName) {
    static const char kFn[] = "UKO_HandleNameGet";
    const uint32_t handle = uiHandle & 0xFFFF;
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "scName");
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    const uint32_t max = g_maxInUse.load(std::memory_order_acquire);
    if (handle > max) {
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxHandleNum(%d), invalid handle(%d).", kFn,
                             static_cast<int>(max), static_cast<int>(handle));
    }
    {
        Locked lock;
        HandleNode* node = NodeAt(handle);
        if (Valid(node)) {
            std::memcpy(pscName, node->acName, kNameSize);
            return 0;
        }
    }
    return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid Handle(%d).", kFn, static_cast<int>(handle));
}

uint32_t UKO_HandleGetByName(const char* pscName, uint32_t* puiHandle) {
    static const char kFn[] = "UKO_HandleGetByName";
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "pscName");
    }
    if (puiHandle == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "puiHandle");
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    char prefix[kNameSize];
    NamePrefix(pscName, prefix);
    {
        Locked lock;
        HandleNode* node = FindByName(prefix);
        if (node != nullptr) {
            *puiHandle = node->usHandle;
            return 0;
        }
    }
    return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Handle name(%s) has not been registered.", kFn,
                         prefix);
}

uint32_t UKO_HandleIdValidate(uint32_t uiHandle) {
    const uint32_t handle = uiHandle & 0xFFFF;
    if (!g_ready.load()) {
        return 0;
    }
    const uint32_t max = g_maxInUse.load(std::memory_order_acquire);
    if (handle > max) {
        (void)HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxHandleNum(%d), invalid handle(%d).",
                            "UKO_HandleIdValidate", static_cast<int>(max), static_cast<int>(handle));
        return 0;
    }
    return Valid(NodeAt(handle)) ? 1u : 0u;
}

uint32_t UKO_HandleBeginGet(uint32_t* puiHandle) {
    if (puiHandle == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, "UKO_HandleBeginGet", "puiHandle");
    }
    *puiHandle = 0;
    return 0;
}

uint32_t UKO_HandleMaxGet(uint32_t* puiHandle) {
    static const char kFn[] = "UKO_HandleMaxGet";
    if (puiHandle == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "puiHandle");
    }
    uint32_t rc = UKO_HandleMaxGetQuiet(puiHandle);
    if (rc != 0) {
        return HANDLE_REPORT(rc, "[ZIRPA-%s]:No handle is in use.", kFn);
    }
    return 0;
}

uint32_t UKO_HandleMaxGetQuiet(uint32_t* puiHandle) {
    if (puiHandle == nullptr) {
        return UKO_EINVAL;
    }
    const uint32_t max = g_maxInUse.load(std::memory_order_acquire);
    if (max == UKO_HANDLE_NONE) {
        return UKO_HANDLE_ERR_NONE_IN_USE;
    }
    *puiHandle = max;
    return 0;
}

uint32_t UKO_HandleMaxNumGet(uint32_t* puiHandle) {
    if (puiHandle == nullptr) {
        return UKO_EINVAL;
    }
    *puiHandle = g_maxInUse.load(std::memory_order_acquire);
    return 0;
}

uint32_t UKO_HandleModReg(const char* pscName, uint32_t* puiIndex) {
    static const char kFn[] = "UKO_HandleModReg";
    if (puiIndex != nullptr) {
        *puiIndex = kNoIndex;
    }
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "pscName");
    }
    if (puiIndex == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "puiIndex");
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    (void)OSAL_LockLock(&g_lock);
    for (ModEntry* m = g_mods; m != nullptr; m = m->pstNext) {
        if (std::strncmp(m->acName, pscName, UKO_HANDLE_NAME_LEN) == 0) {
            (void)OSAL_LockUnLock(&g_lock, 0);
            return HANDLE_REPORT(kNoIndex, "[ZIRPA-%s]:Handle name(%s) has been registered.", kFn,
                                 pscName);
        }
    }
    const uint32_t count = g_modCount.load(std::memory_order_relaxed);
    if (count >= HANDLE_MAX_MODREG) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:HANDLE_MAX_MODREG = 8, cur Reg mod num is full.",
                             kFn);
    }
    ModEntry* entry = static_cast<ModEntry*>(std::calloc(1, sizeof(ModEntry)));
    if (entry == nullptr) {
        (void)OSAL_LockUnLock(&g_lock, 0);
        return HANDLE_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:HANDLE_MALLOC(%ld) for FuncMod fail.", kFn,
                             static_cast<long>(sizeof(ModEntry)));
    }
    entry->uiIndex = count + 1;
    (void)UKO_strncpy_s(entry->acName, sizeof(entry->acName), pscName, UKO_HANDLE_NAME_LEN);
    entry->pfnFree = nullptr;
    entry->pstNext = g_mods;
    g_mods = entry;
    g_modCount.store(count + 1, std::memory_order_release);
    *puiIndex = entry->uiIndex;
    (void)OSAL_LockUnLock(&g_lock, 0);
    return 0;
}

uint32_t ukoHandleDataFreeHookSet(uint32_t uiIndex, UKO_HANDLE_DATA_FREE_HOOK_PF pfnHook) {
    const uint32_t count = g_modCount.load(std::memory_order_acquire);
    if (uiIndex == 0 || uiIndex > count) {
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxModNum(%d), inval Param uiIndex(%d).",
                             "ukoHandleDataFreeHookSet", static_cast<int>(count),
                             static_cast<int>(uiIndex));
    }
    Locked lock;
    ModEntry* entry = FindMod(uiIndex);
    if (entry == nullptr) {
        return UKO_EINVAL;
    }
    entry->pfnFree = pfnHook;
    return 0;
}

uint32_t UKO_HandleModNameGet(uint32_t uiIndex, char* pscName) {
    static const char kFn[] = "UKO_HandleModNameGet";
    if (pscName == nullptr) {
        return HANDLE_REPORT(UKO_EINVAL, kNullParam, kFn, "scName");
    }
    const uint32_t count = g_modCount.load(std::memory_order_acquire);
    if (uiIndex == 0 || uiIndex > count) {
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxModNum(%d), inval Param uiIndex(%d).", kFn,
                             static_cast<int>(count), static_cast<int>(uiIndex));
    }
    Locked lock;
    ModEntry* entry = FindMod(uiIndex);
    if (entry == nullptr) {
        return UKO_EINVAL;
    }
    std::memcpy(pscName, entry->acName, kNameSize);
    return 0;
}

uint32_t UKO_HandleDataSlotGet(uint32_t uiHandle, uint32_t uiIndex, uint64_t** ppullSlot) {
    const uint32_t handle = uiHandle & 0xFFFF;
    if (ppullSlot == nullptr || !g_ready.load()) {
        return UKO_EINVAL;
    }
    if (handle > g_maxInUse.load(std::memory_order_acquire) || uiIndex == 0 ||
        uiIndex > g_modCount.load(std::memory_order_acquire)) {
        return UKO_EINVAL;
    }
    HandleNode* node = NodeAt(handle);
    if (!Valid(node)) {
        return UKO_EINVAL;
    }
    *ppullSlot = &node->aullData[uiIndex - 1];
    return 0;
}

uint32_t UKO_MaxValidHandleSet(uint32_t uiLimit) {
    if (uiLimit >= 0x10000) {
        return HANDLE_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval param uiMaxHandle(%u).",
                             "UKO_MaxValidHandleSet", uiLimit);
    }
    if (!g_ready.load()) {
        return UKO_EINVAL;
    }
    Locked lock;
    g_limit = uiLimit;
    return 0;
}
