// Control-block tables. A table is one block from the system partition holding its
// header, the first page's descriptor, entries and control blocks; each added page is
// one more such block. Free entries sit on per-page lists, and only the current page's
// free entries are on the table's own list, so the first page can be preferred
// whenever it has room: low indexes are reused first.

#include "uko_rescb.h"

#include <pthread.h>

#include <cstring>

#include "osal_lock.h"
#include "uko_errreport.h"
#include "uko_mempt.h"
#include "uko_rescb_inner.h"

namespace {

#define RESCB_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_RESCB, __VA_ARGS__)

constexpr uint64_t kEntrySize = sizeof(UKO_RESCB_ENTRY);
constexpr uint64_t kBlockLimit = 0xFFFFFFFFull;  // a table's or page's block fits in 32 bits

const char kInvalTable[] = "[ZIRPA-%s]:Inval Param uiTableID(%d), table address(0x%p).";
const char kBadIndex[] = "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), totalnum(%d).";
const char kMallocFail[] = "[ZIRPA-%s]:RESCB_MALLOC(%d) fail.";

pthread_mutex_t g_lock;  // guards the slots against concurrent create and destroy
// The 12 table slots, from the system partition. Read without the lock by the
// operations on one table, so every slot is read and written atomically.
UKO_RESCB_TABLE** g_tables = nullptr;

UKO_RESCB_TABLE* SlotGet(uint32_t uiTableID) {
    return __atomic_load_n(&g_tables[uiTableID], __ATOMIC_ACQUIRE);
}
void SlotSet(uint32_t uiTableID, UKO_RESCB_TABLE* pstTable) {
    __atomic_store_n(&g_tables[uiTableID], pstTable, __ATOMIC_RELEASE);
}

// The table of an id, or NULL for an id of 12 or more or an empty slot.
UKO_RESCB_TABLE* TableOf(uint32_t uiTableID) {
    if (__atomic_load_n(&g_tables, __ATOMIC_ACQUIRE) == nullptr || uiTableID >= UKO_RESCB_TABLE_MAX) {
        return nullptr;
    }
    return SlotGet(uiTableID);
}

// Bytes of a block holding a header and uiNum entries with their control blocks; false
// when that does not fit in 32 bits. Computed so that no intermediate value can wrap.
bool BlockSize(uint64_t uvHeader, uint32_t uiCBSize, uint32_t uiNum, uint64_t* puvSize) {
    uint64_t perBlock = kEntrySize + uiCBSize;
    uint64_t body = 0;
    if (__builtin_mul_overflow(perBlock, static_cast<uint64_t>(uiNum), &body) ||
        body > kBlockLimit - uvHeader) {
        return false;
    }
    *puvSize = body + uvHeader;
    return true;
}

void* RescbMalloc(uint64_t uvSize) { return UKO_MemAlloc(0, m_ucSysPtNo, uvSize); }
void RescbFree(void* pBlock) { (void)UKO_MemFree(0, pBlock); }

// Lays out a page of uiNum entries starting at pEntries, with the control blocks right
// behind the entries, and chains the entries in index order.
void PageFormat(UKO_RESCB_PAGE* pstPage, void* pEntries, uint32_t uiNum, uint32_t uiCBSize,
                uint32_t uiFirstIndex) {
    auto* entries = static_cast<UKO_RESCB_ENTRY*>(pEntries);
    auto* storage = reinterpret_cast<uint8_t*>(entries + uiNum);
    for (uint32_t i = 0; i < uiNum; ++i) {
        entries[i].ulLink = i + 1 < uiNum ? reinterpret_cast<uintptr_t>(&entries[i + 1]) : 0;
        entries[i].pCB = uiCBSize != 0 ? storage + static_cast<uint64_t>(i) * uiCBSize : nullptr;
    }
    pstPage->pstEntries = entries;
    pstPage->pstFreeList = nullptr;
    pstPage->uiUsedNum = 0;
    pstPage->uiFirstIndex = uiFirstIndex;
}

// The page holding an index from 1 to the total, or NULL.
UKO_RESCB_PAGE* PageOfIndex(const UKO_RESCB_TABLE* pstTable, uint32_t uiIndex) {
    if (uiIndex <= pstTable->uiInitNum) {
        return pstTable->apstPages[0];
    }
    if (pstTable->uiPageNum == 0) {
        return nullptr;
    }
    uint32_t slot = (uiIndex - 1 - pstTable->uiInitNum) / pstTable->uiPageNum + 1;
    return slot < UKO_RESCB_PAGE_MAX ? pstTable->apstPages[slot] : nullptr;
}

// The entry of an index in use, or NULL.
UKO_RESCB_ENTRY* UsedEntry(const UKO_RESCB_TABLE* pstTable, uint32_t uiIndex) {
    if (uiIndex == 0 || uiIndex > pstTable->uiTotalNum) {
        return nullptr;
    }
    UKO_RESCB_PAGE* page = PageOfIndex(pstTable, uiIndex);
    if (page == nullptr) {
        return nullptr;
    }
    UKO_RESCB_ENTRY* entry = &page->pstEntries[uiIndex - page->uiFirstIndex];
    return entry->ulLink == UKO_RESCB_ENTRY_USED ? entry : nullptr;
}

}  // namespace

uint32_t ukoRescbinit(uint32_t /*uiArg*/) {
    // Tables live in the slots for the rest of the process: a second start keeps them.
    if (__atomic_load_n(&g_tables, __ATOMIC_ACQUIRE) != nullptr) {
        return 0;
    }
    uint32_t rc = OSAL_LockCreate(&g_lock);
    if (rc != 0) {
        return RESCB_REPORT(rc, "[ZIRPA-%s]:OSAL_LockCreate fail.", __func__);
    }
    auto* tables = static_cast<UKO_RESCB_TABLE**>(
        RescbMalloc(sizeof(UKO_RESCB_TABLE*) * UKO_RESCB_TABLE_MAX));
    if (tables == nullptr) {
        return RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:RESCB_MALLOC fail.", __func__);
    }
    std::memset(tables, 0, sizeof(UKO_RESCB_TABLE*) * UKO_RESCB_TABLE_MAX);
    __atomic_store_n(&g_tables, tables, __ATOMIC_RELEASE);
    return 0;
}

uint32_t UKO_RescbTableCreate(uint32_t uiAppCBDataSize, uint32_t uiInitNum, uint32_t uiPageNum,
                              UKO_RESCB_APPEND_PF pfnAppend, uint32_t* puiTableID) {
    if (puiTableID != nullptr) {
        *puiTableID = UKO_RESCB_INVALID;
    }
    if (puiTableID == nullptr || uiInitNum == 0) {
        return RESCB_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param puiTableID(0x%p), uiInitNum(%d).",
                            __func__, static_cast<void*>(puiTableID), uiInitNum);
    }
    uint64_t size = 0;
    if (!BlockSize(sizeof(UKO_RESCB_TABLE) + sizeof(UKO_RESCB_PAGE), uiAppCBDataSize, uiInitNum,
                   &size)) {
        return RESCB_REPORT(UKO_EINVAL,
                            "[ZIRPA-%s]:The Param uiAppCBDataSize(%u) or uiInitNum(%u) is too large.",
                            __func__, uiAppCBDataSize, uiInitNum);
    }
    if (__atomic_load_n(&g_tables, __ATOMIC_ACQUIRE) == nullptr) {
        return RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:the rescb table array is full.", __func__);
    }
    auto* table = static_cast<UKO_RESCB_TABLE*>(RescbMalloc(size));
    if (table == nullptr) {
        return RESCB_REPORT(UKO_ENOMEM, kMallocFail, __func__, static_cast<uint32_t>(size));
    }
    std::memset(table, 0, sizeof(UKO_RESCB_TABLE));
    auto* firstPage = reinterpret_cast<UKO_RESCB_PAGE*>(table + 1);
    PageFormat(firstPage, firstPage + 1, uiInitNum, uiAppCBDataSize, 1);
    table->pfnAppend = pfnAppend;
    table->uiCBSize = uiAppCBDataSize;
    table->uiInitNum = uiInitNum;
    table->uiPageNum = uiPageNum;
    table->uiFreeNum = uiInitNum;
    table->uiTotalNum = uiInitNum;
    table->apstPages[0] = firstPage;
    table->pstCurPage = firstPage;
    table->pstFreeList = firstPage->pstEntries;

    (void)OSAL_LockLock(&g_lock);
    for (uint32_t id = 0; id < UKO_RESCB_TABLE_MAX; ++id) {
        if (SlotGet(id) == nullptr) {
            SlotSet(id, table);
            *puiTableID = id;
            (void)OSAL_LockUnLock(&g_lock, 0);
            return 0;
        }
    }
    (void)OSAL_LockUnLock(&g_lock, 0);
    RescbFree(table);
    return RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:the rescb table array is full.", __func__);
}

uint32_t UKO_RescbTableDestroy(uint32_t uiTableID) {
    UKO_RESCB_TABLE* table = nullptr;
    if (__atomic_load_n(&g_tables, __ATOMIC_ACQUIRE) != nullptr && uiTableID < UKO_RESCB_TABLE_MAX) {
        (void)OSAL_LockLock(&g_lock);
        table = SlotGet(uiTableID);
        SlotSet(uiTableID, nullptr);
        (void)OSAL_LockUnLock(&g_lock, 0);
    }
    if (table == nullptr) {
        return RESCB_REPORT(UKO_EINVAL, kInvalTable, __func__, uiTableID, static_cast<void*>(table));
    }
    for (uint32_t slot = 1; slot < UKO_RESCB_PAGE_MAX; ++slot) {
        if (table->apstPages[slot] != nullptr) {
            RescbFree(table->apstPages[slot]);
        }
    }
    RescbFree(table);
    return 0;
}

UKO_RESCB_PAGE* ukoRescbNextPageAlloc(uint32_t uiTableID) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    if (table == nullptr) {
        (void)RESCB_REPORT(UKO_EINVAL, kInvalTable, __func__, uiTableID, static_cast<void*>(table));
        return nullptr;
    }
    uint32_t slot = 1;
    while (slot < UKO_RESCB_PAGE_MAX && table->apstPages[slot] != nullptr) {
        ++slot;
    }
    if (slot == UKO_RESCB_PAGE_MAX) {
        (void)RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:Too many Rescb Group, reach to max number.",
                           __func__);
        return nullptr;
    }
    uint64_t size = 0;
    void* block = nullptr;
    if (BlockSize(sizeof(UKO_RESCB_PAGE), table->uiCBSize, table->uiPageNum, &size)) {
        block = RescbMalloc(size);
    }
    if (block == nullptr) {
        (void)RESCB_REPORT(UKO_ENOMEM, kMallocFail, __func__, static_cast<uint32_t>(size));
        return nullptr;
    }
    // The owner grows whatever it keeps per index before the new indexes exist.
    if (table->pfnAppend != nullptr && table->pfnAppend(table->uiPageNum) != 0) {
        RescbFree(block);
        (void)RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:pstRcbTbl->pfnAppend(%d) fail.", __func__,
                           table->uiPageNum);
        return nullptr;
    }
    auto* page = static_cast<UKO_RESCB_PAGE*>(block);
    PageFormat(page, page + 1, table->uiPageNum, table->uiCBSize, table->uiTotalNum + 1);
    table->apstPages[slot] = page;
    table->uiTotalNum += table->uiPageNum;
    table->uiFreeNum += table->uiPageNum;
    table->pstFreeList = page->pstEntries;
    table->pstCurPage = page;
    return page;
}

void ukoRescbFreeListSwitch(UKO_RESCB_TABLE* pstTable) {
    UKO_RESCB_PAGE* next = nullptr;
    if (pstTable->apstPages[0]->uiUsedNum < pstTable->uiInitNum) {
        next = pstTable->apstPages[0];
    } else {
        for (uint32_t slot = 1; slot < UKO_RESCB_PAGE_MAX && pstTable->apstPages[slot] != nullptr;
             ++slot) {
            if (pstTable->apstPages[slot]->uiUsedNum < pstTable->uiPageNum) {
                next = pstTable->apstPages[slot];
                break;
            }
        }
    }
    if (next == nullptr) {
        return;
    }
    pstTable->pstFreeList = next->pstFreeList;
    next->pstFreeList = nullptr;
    pstTable->pstCurPage = next;
}

uint32_t UKO_RescbAlloc(uint32_t uiTableID, void** ppCB) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    if (table == nullptr || ppCB == nullptr) {
        (void)RESCB_REPORT(UKO_EINVAL, kInvalTable, __func__, uiTableID, static_cast<void*>(table));
        return UKO_RESCB_INVALID;
    }
    if (table->pstFreeList == nullptr &&
        (table->uiPageNum == 0 || ukoRescbNextPageAlloc(uiTableID) == nullptr)) {
        (void)RESCB_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:The Param pstNextFreeAppCB is null.", __func__);
        return UKO_RESCB_INVALID;
    }
    UKO_RESCB_PAGE* page = table->pstCurPage;
    UKO_RESCB_ENTRY* entry = table->pstFreeList;
    table->pstFreeList = reinterpret_cast<UKO_RESCB_ENTRY*>(entry->ulLink);
    --table->uiFreeNum;
    ++page->uiUsedNum;
    entry->ulLink = UKO_RESCB_ENTRY_USED;
    uint32_t index = page->uiFirstIndex + static_cast<uint32_t>(entry - page->pstEntries);
    if (table->uiCBSize != 0) {
        *ppCB = entry->pCB;
    } else {
        entry->pCB = *ppCB;
    }
    if (table->pstFreeList == nullptr) {
        ukoRescbFreeListSwitch(table);
    }
    return index;
}

uint32_t UKO_RescbFree(uint32_t uiTableID, uint32_t uiCBIndex) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    if (table == nullptr) {
        return RESCB_REPORT(UKO_EINVAL, kInvalTable, __func__, uiTableID, static_cast<void*>(table));
    }
    // Index 0 is never given; it would address the entry in front of the first page.
    if (uiCBIndex == 0 || uiCBIndex > table->uiTotalNum) {
        return RESCB_REPORT(UKO_EINVAL, kBadIndex, __func__, uiTableID, uiCBIndex, table->uiTotalNum);
    }
    UKO_RESCB_PAGE* page = PageOfIndex(table, uiCBIndex);
    if (page == nullptr) {
        return RESCB_REPORT(UKO_EINVAL, "[ZIRPA-%s]:find_page_of_index fail, please check the RcbID.",
                            __func__);
    }
    UKO_RESCB_ENTRY* entry = &page->pstEntries[uiCBIndex - page->uiFirstIndex];
    if (entry->ulLink != UKO_RESCB_ENTRY_USED) {
        return RESCB_REPORT(UKO_EINVAL, "[ZIRPA-%s]:uiTableID(%d), uiCBIndex(%d), the rescb is not used.",
                            __func__, uiTableID, uiCBIndex);
    }
    entry->ulLink = reinterpret_cast<uintptr_t>(page->pstFreeList);
    page->pstFreeList = entry;
    --page->uiUsedNum;
    ++table->uiFreeNum;
    if (table->pstFreeList == nullptr) {
        ukoRescbFreeListSwitch(table);
    }
    return 0;
}

void* UKO_RescbCbGet(uint32_t uiTableID, uint32_t uiCBIndex) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    if (table == nullptr) {
        return nullptr;
    }
    UKO_RESCB_ENTRY* entry = UsedEntry(table, uiCBIndex);
    return entry != nullptr ? entry->pCB : nullptr;
}

uint32_t UKO_RescbUsedNumGet(uint32_t uiTableID) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    return table != nullptr ? table->uiTotalNum - table->uiFreeNum : 0;
}

uint32_t UKO_RescbTotalNumGet(uint32_t uiTableID) {
    UKO_RESCB_TABLE* table = TableOf(uiTableID);
    return table != nullptr ? table->uiTotalNum : 0;
}
