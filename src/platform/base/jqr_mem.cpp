// The allocation front over the memory partitions: UKO_Malloc and its family, the free
// and reference-count wrappers with their hooks, the mid-to-handle table, the bounded
// memory wrappers and the lock wrappers.

#include "jqr_mem.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>

#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_secfunc.h"
#include "uko_string.h"

namespace {

// Partitions of the three allocation classes; plain words set at start-up.
uint8_t m_ucJqrMemPtNo = 0;
uint8_t m_ucJqrMemExtPtNo = 0;
uint8_t m_ucJqrMemAltPtNo = 0;

std::atomic<UKO_FREE_HOOK_PF> g_pfnFreeHook{nullptr};
std::atomic<UKO_REFINC_HOOK_PF> g_pfnRefIncHook{nullptr};
std::atomic<UKO_REFGET_HOOK_PF> g_pfnRefGetHook{nullptr};

// The mid table: one 16-bit handle per module number, 0 = none yet. Its entries are
// filled on first use without a lock (two threads converting the same new mid both
// end with the same handle), so they are read and written as atomics.
constexpr uint32_t kMidNum = 65536;
constexpr uint64_t kMidBitMapBytes = kMidNum * sizeof(uint16_t);
std::atomic<uint16_t*> m_pusMidBitMap{nullptr};

constexpr size_t kHandleNameLen = UKO_HANDLE_NAME_LEN + 1;
constexpr const char* kMidNamePrefix = "JQRS.MID.";

template <typename... Args>
uint32_t JqrReportAt(uint32_t code, uint32_t line, const char* format, Args... args) {
    return ukoErrReport(code, UKO_MID_JQR_MEM, "jqr_mem", line, format, args...);
}
#define JQR_REPORT(code, ...) JqrReportAt((code), __LINE__, __VA_ARGS__)

uint32_t Swapped(uint32_t uiMid) { return (uiMid << 16) | (uiMid >> 16); }

uint16_t EntryGet(const uint16_t* table, uint32_t i) { return __atomic_load_n(&table[i], __ATOMIC_ACQUIRE); }
void EntrySet(uint16_t* table, uint32_t i, uint16_t v) { __atomic_store_n(&table[i], v, __ATOMIC_RELEASE); }

// UKO_memset_s refuses runs above its size limit; a zero fill of a larger block goes
// in steps so that it never leaves a block half filled.
void ZeroFill(void* p, uint64_t uvSize) {
    constexpr uint64_t kStep = 0x40000000;
    auto* q = static_cast<uint8_t*>(p);
    while (uvSize > 0) {
        uint64_t n = std::min(uvSize, kStep);
        (void)UKO_memset_s(q, n, 0, n);
        q += n;
        uvSize -= n;
    }
}

// The count an operation may use when it exceeds the destination size: the hook's
// answer, never more than the destination holds; without a hook, the destination
// size. false when the hook refuses.
bool OverrunCount(void* pfnOperation, void* pDest, uint64_t uvDestSize, uint64_t* puvCount) {
    if (*puvCount <= uvDestSize) {
        return true;
    }
    UKO_MEM_OVERFLOW_HOOK_PF hook = ukoMemOverflowHookGet();
    if (hook == nullptr) {
        *puvCount = uvDestSize;
        return true;
    }
    uint64_t h = hook(pfnOperation, pDest, uvDestSize, *puvCount);
    if (h == 0) {
        return false;
    }
    *puvCount = std::min({*puvCount, h, uvDestSize});
    return true;
}

void* FixedAlloc(uint32_t uiMid, uint64_t uvSize) {
    return UKO_MemAlloc(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemPtNo, uvSize);
}

}  // namespace

// ---- Lock wrappers -----------------------------------------------------------------------

static_assert(alignof(pthread_mutex_t) <= 8, "blocks are 8-aligned");

pthread_mutex_t* UKO_LockCreate() {
    void* p = UKO_Malloc(0, UKO_LOCK_BLOCK_SIZE);
    if (p == nullptr) {
        return nullptr;
    }
    (void)UKO_memset_s(p, UKO_LOCK_BLOCK_SIZE, 0, UKO_LOCK_BLOCK_SIZE);
    auto* lock = static_cast<pthread_mutex_t*>(p);
    if (OSAL_LockCreate(lock) != 0) {
        (void)UKO_Free(p);
        return nullptr;
    }
    return lock;
}

uint32_t UKO_Lock(pthread_mutex_t* pLock) { return OSAL_LockLock(pLock); }
uint32_t UKO_Unlock(pthread_mutex_t* pLock) { return OSAL_LockUnLock(pLock, 0); }
uint32_t UKO_TryLock(pthread_mutex_t* pLock) { return OSAL_LockTryLock(pLock); }
uint32_t UKO_LockDestroy(pthread_mutex_t* pLock) { return OSAL_LockDelete(pLock); }

// ---- Set-up and mid conversion ---------------------------------------------------------------

uint32_t JQR_MemInit(uint32_t /*uiArg*/) {
    m_ucJqrMemPtNo = 0;
    m_ucJqrMemExtPtNo = 0;
    m_ucJqrMemAltPtNo = 0;
    return 0;
}

uint32_t ukoMemMidBitMapCreate() {
    if (m_pusMidBitMap.load(std::memory_order_acquire) != nullptr) {
        return 0;
    }
    auto* table = static_cast<uint16_t*>(UKO_MemAlloc(0, m_ucSysPtNo, kMidBitMapBytes));
    if (table == nullptr) {
        (void)JQR_REPORT(UKO_ENOMEM, "[ZIRPA-%s]: Alloc Mem(%u) for Mid BitMap failed.", "ukoMemMidBitMapCreate",
                         static_cast<unsigned>(kMidBitMapBytes));
        return UKO_ENOMEM;
    }
    ZeroFill(table, kMidBitMapBytes);
    uint16_t* expected = nullptr;
    if (!m_pusMidBitMap.compare_exchange_strong(expected, table, std::memory_order_acq_rel)) {
        (void)UKO_MemFree(0, table);  // another thread made it first
    }
    return 0;
}

namespace {

// The first conversion of a module number: registers its handle name and fills the
// table entry. Apart from the conversion itself, which runs on every allocation.
[[gnu::noinline]] uint32_t MidRegister(uint16_t* table, uint32_t module, uint32_t swapped) {
    char acName[kHandleNameLen] = {0};
    (void)UKO_snprintf_s(acName, sizeof(acName), sizeof(acName) - 1, "JQRS.MID.%x", module);
    uint32_t handle = 0;
    uint32_t rc = UKO_HandleInitialize(acName, &handle);
    if (rc == 0) {
        uint16_t entry = static_cast<uint16_t>(handle & 0xFFFF);
        EntrySet(table, module, entry);
        return entry;
    }
    if (rc == UKO_HANDLE_ERR_NAME_REGISTERED) {
        // Another thread registered the name first; its handle is the one to use.
        if (UKO_HandleGetByName(acName, &handle) == 0) {
            return handle;
        }
        (void)JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Get handle by name[%s] failed.", "UKO_ConverMIDTOHandle", acName);
        return swapped;
    }
    (void)JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:create handle for store jqr_mem bitmap mid is error.",
                     "UKO_ConverMIDTOHandle");
    return swapped;
}

}  // namespace

uint32_t UKO_ConverMIDTOHandle(uint32_t uiMid) {
    const uint32_t swapped = Swapped(uiMid);
    uint16_t* table = m_pusMidBitMap.load(std::memory_order_acquire);
    if (table == nullptr) {
        return swapped;
    }
    const uint32_t module = uiMid >> 16;
    if (module == 0) {
        return uiMid;
    }
    uint16_t entry = EntryGet(table, module);
    if (entry != 0) {
        return entry;
    }
    return MidRegister(table, module, swapped);
}

uint32_t ukoMidToHandle(uint32_t uiMid, uint32_t* puiHandle) {
    if (puiHandle == nullptr) {
        return UKO_EINVAL;
    }
    if (uiMid == 0xFFFFFFFF || (uiMid >> 16) == 0) {
        *puiHandle = uiMid;
        return 0;
    }
    const uint16_t* table = m_pusMidBitMap.load(std::memory_order_acquire);
    uint16_t entry = table != nullptr ? EntryGet(table, uiMid >> 16) : 0;
    if (entry == 0) {
        return UKO_EINVAL;
    }
    *puiHandle = entry;
    return 0;
}

uint32_t UKO_GetHandleByMid(uint32_t uiMid, uint32_t* puiHandle) {
    const char* fn = "UKO_GetHandleByMid";
    if (puiHandle == nullptr) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:input pHandle is not NULL.", fn);
    }
    const uint16_t* table = m_pusMidBitMap.load(std::memory_order_acquire);
    if (table == nullptr) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:JQR_MEMPT_STATMID is not open.", fn);
    }
    if ((uiMid >> 16) == 0) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:invalid Mid %u", fn, uiMid);
    }
    uint16_t entry = EntryGet(table, uiMid >> 16);
    if (entry == 0) {
        return JQR_REPORT(UKO_EINVAL,
                          "[ZIRPA-%s]:This mid[%u] is not alloc memory, so get handle from jqrmem mid bitmap is NULL.",
                          fn, uiMid);
    }
    *puiHandle = entry;
    return 0;
}

uint32_t UKO_GetMidByHandle(uint32_t uiHandle, uint16_t* pusMid) {
    const char* fn = "UKO_GetMidByHandle";
    if (pusMid == nullptr) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:input pusMid is not NULL.", fn);
    }
    if (m_pusMidBitMap.load(std::memory_order_acquire) == nullptr) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:JQR_MEMPT_STATMID is not open.", fn);
    }
    char acName[kHandleNameLen] = {0};
    if (UKO_HandleNameGet(uiHandle, acName) != 0) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Get handle [%u] name fail.", fn, uiHandle);
    }
    acName[kHandleNameLen - 1] = '\0';
    const char* at = std::strstr(acName, kMidNamePrefix);
    unsigned int module = 0;
    if (at == nullptr || UKO_sscanf_s(at + std::strlen(kMidNamePrefix), "%x", &module) != 1) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]:This handle[%u] cann't convert to a valid mid.", fn, uiHandle);
    }
    *pusMid = static_cast<uint16_t>(module & 0xFFFF);
    return 0;
}

// ---- Allocation ---------------------------------------------------------------------------------

void* UKO_Malloc(uint32_t uiMid, uint64_t uvSize) { return FixedAlloc(uiMid, uvSize); }
void* UKO_Malloc32(uint32_t uiMid) { return FixedAlloc(uiMid, 32); }
void* UKO_Malloc64(uint32_t uiMid) { return FixedAlloc(uiMid, 64); }
void* UKO_Malloc128(uint32_t uiMid) { return FixedAlloc(uiMid, 128); }
void* UKO_Malloc256(uint32_t uiMid) { return FixedAlloc(uiMid, 256); }
void* UKO_Malloc512(uint32_t uiMid) { return FixedAlloc(uiMid, 512); }
void* UKO_Malloc1024(uint32_t uiMid) { return FixedAlloc(uiMid, 1024); }
void* UKO_Malloc2048(uint32_t uiMid) { return FixedAlloc(uiMid, 2048); }
void* UKO_Malloc4096(uint32_t uiMid) { return FixedAlloc(uiMid, 4096); }

void* UKO_Malloc_F(uint32_t uiMid, uint64_t uvSize, const char* pcFile, uint32_t uiLine) {
    return UKO_MemAlloc_F(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemPtNo, uvSize, pcFile, uiLine);
}

void* UKO_MallocExt(uint32_t uiMid, uint32_t /*uiUnused*/, uint64_t uvSize) {
    return UKO_MemAlloc(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemExtPtNo, uvSize);
}

void* UKO_MallocAlt(uint32_t uiMid, uint64_t uvSize, ...) {
    return UKO_MemAlloc(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemAltPtNo, uvSize);
}

void* UKO_Calloc(uint32_t uiMid, uint32_t /*uiUnused*/, uint64_t uvSize) {
    void* p = UKO_MemAlloc(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemPtNo, uvSize);
    if (p != nullptr) {
        ZeroFill(p, uvSize);
    }
    return p;
}

void* UKO_Realloc(void* pBlock, uint64_t uvNewSize) {
    return UKO_MemReAlloc(UKO_ConverMIDTOHandle(0), m_ucJqrMemPtNo, pBlock, uvNewSize);
}

void* UKO_Malloc_X(uint32_t uiMid, uint64_t uvSize, const char* pcFile, uint32_t uiLine) {
    // Without the mid table the mid itself is the owner recorded in the block.
    uint32_t handle = m_pusMidBitMap.load(std::memory_order_acquire) != nullptr ? UKO_ConverMIDTOHandle(uiMid) : uiMid;
    return UKO_MemAlloc_F(handle, m_ucJqrMemPtNo, uvSize, pcFile, uiLine);
}

void* UKO_Alloc_X(uint32_t uiMid, uint32_t /*uiUnused*/, uint64_t uvSize, const char* pcFile, uint32_t uiLine) {
    return UKO_Malloc_X(uiMid, uvSize, pcFile, uiLine);
}

void* UKO_Calloc_X(uint32_t uiMid, uint32_t uiUnused, uint64_t uvSize, const char* pcFile, uint32_t uiLine) {
    void* p = UKO_Alloc_X(uiMid, uiUnused, uvSize, pcFile, uiLine);
    if (p != nullptr) {
        ZeroFill(p, uvSize);
    }
    return p;
}

void* UKO_MallocAlign_X(uint32_t uiMid, uint64_t uvSize, uint32_t uiAlign, const char* pcFile, uint32_t uiLine) {
    return UKO_MemAllocAlignN_F(UKO_ConverMIDTOHandle(uiMid), m_ucJqrMemPtNo, uvSize, uiAlign, pcFile, uiLine);
}

// ---- Free and reference counts ---------------------------------------------------------------

uint32_t UKO_Free(void* pBlock) {
    UKO_FREE_HOOK_PF hook = g_pfnFreeHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        void* copy = pBlock;
        if (hook(&copy) == 0) {
            return 0;
        }
    }
    return UKO_MemFree(0, pBlock);
}

uint32_t UKO_Free_F(void* pBlock, const char* pcFile, uint32_t uiLine) {
    return UKO_MemFree_F(0, pBlock, pcFile, uiLine);
}

uint32_t UKO_Free_X(void** ppBlock, const char* /*pcFile*/, uint32_t /*uiLine*/) {
    if (ppBlock == nullptr) {
        return JQR_REPORT(UKO_EINVAL, "[ZIRPA-%s]: The parameters(%s) is NULL!", "UKO_Free_X", "ppBlock");
    }
    uint32_t rc = UKO_MemFree(0, *ppBlock);
    if (rc == 0) {
        *ppBlock = nullptr;
    }
    return rc;
}

uint32_t UKO_FreeHookSet(UKO_FREE_HOOK_PF pfnHook) {
    g_pfnFreeHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_RefInc(void* pBlock) {
    UKO_REFINC_HOOK_PF hook = g_pfnRefIncHook.load(std::memory_order_acquire);
    if (hook != nullptr && hook(pBlock) == 0) {
        return 0;
    }
    return UKO_MemRefInc(pBlock);
}

uint32_t UKO_RefGet(void* pBlock, uint32_t* puiCount) {
    UKO_REFGET_HOOK_PF hook = g_pfnRefGetHook.load(std::memory_order_acquire);
    if (hook != nullptr && hook(pBlock, puiCount) == 0) {
        return 0;
    }
    return UKO_MemRefGet(pBlock, puiCount);
}

uint32_t UKO_RefInc_X(void* pBlock, const char* /*pcFile*/, uint32_t /*uiLine*/) { return UKO_MemRefInc(pBlock); }

uint32_t UKO_RefGet_X(void* pBlock, uint32_t* puiCount, const char* /*pcFile*/, uint32_t /*uiLine*/) {
    return UKO_MemRefGet(pBlock, puiCount);
}

uint32_t UKO_RefIncHookSet(UKO_REFINC_HOOK_PF pfnHook) {
    g_pfnRefIncHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_RefGetHookSet(UKO_REFGET_HOOK_PF pfnHook) {
    g_pfnRefGetHook.store(pfnHook, std::memory_order_release);
    return 0;
}

// ---- Memory wrappers -------------------------------------------------------------------------

int32_t UKO_MemCmp(const void* pA, const void* pB, uint64_t uvCount, uint32_t* puiResult) {
    if (pA == nullptr || pB == nullptr || puiResult == nullptr) {
        return -1;
    }
    *puiResult = static_cast<uint32_t>(UKO_SafeMemCmp(pA, pB, uvCount));
    return 0;
}

int32_t UKO_MemCpyUnsized(void* pDest, const void* pSrc, uint64_t uvCount) {
    if (uvCount == 0) {
        return 0;
    }
    return UKO_SafeMemCpy(pDest, pSrc, uvCount) != nullptr ? 0 : -1;
}

int32_t UKO_MemCpy(void* pDest, uint64_t uvDestSize, const void* pSrc, uint64_t uvCount) {
    if (uvCount == 0) {
        return 0;
    }
    if (pDest == nullptr || pSrc == nullptr || uvDestSize == 0) {
        return -1;
    }
    if (!OverrunCount(reinterpret_cast<void*>(&UKO_MemCpy), pDest, uvDestSize, &uvCount)) {
        return -1;
    }
    return UKO_SafeMemCpy(pDest, pSrc, uvCount) != nullptr ? 0 : -1;
}

int32_t UKO_MemMove(void* pDest, uint64_t uvDestSize, const void* pSrc, uint64_t uvCount) {
    if (pDest == nullptr || pSrc == nullptr || uvDestSize == 0) {
        return -1;
    }
    if (!OverrunCount(reinterpret_cast<void*>(&UKO_MemMove), pDest, uvDestSize, &uvCount)) {
        return -1;
    }
    return UKO_SafeMemMove(pDest, pSrc, uvCount) != nullptr ? 0 : -1;
}

int32_t UKO_MemSetUnsized(void* pDest, uint8_t ucValue, uint64_t uvCount) {
    return UKO_memset_s(pDest, uvCount, ucValue, uvCount) == 0 ? 0 : -1;
}

int32_t UKO_MemSet(void* pDest, uint64_t uvDestSize, uint8_t ucValue, uint32_t uiCount) {
    if (pDest == nullptr || uvDestSize == 0) {
        return -1;
    }
    uint64_t count = uiCount;
    if (!OverrunCount(reinterpret_cast<void*>(&UKO_MemSet), pDest, uvDestSize, &count)) {
        return -1;
    }
    return UKO_memset_s(pDest, uvDestSize, ucValue, count) == 0 ? 0 : -1;
}

int32_t UKO_MemZero(void* pDest, uint64_t uvCount) {
    if (pDest == nullptr) {
        return -1;
    }
    (void)UKO_MemSetUnsized(pDest, 0, uvCount);
    return 0;
}
