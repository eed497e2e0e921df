#pragma once
// Inside the control-block tables: the table record, its pages and their entries, and
// the two operations that grow a table and refill its free list.

#include <cstdint>

#include "uko_rescb.h"

// Link of an entry whose block is in use.
constexpr uintptr_t UKO_RESCB_ENTRY_USED = 1;

// One per control block, in index order within its page.
struct UKO_RESCB_ENTRY {
    uintptr_t ulLink;  // the next free entry (0 ends the list) while free; 1 while used
    void* pCB;         // the block's storage, or the caller's pointer in a table of size 0
};
static_assert(sizeof(UKO_RESCB_ENTRY) == 16, "two 64-bit words per entry");

struct UKO_RESCB_PAGE {
    UKO_RESCB_ENTRY* pstEntries;
    UKO_RESCB_ENTRY* pstFreeList;  // freed entries while the page is not the current one
    uint32_t uiUsedNum;
    uint32_t uiFirstIndex;  // index of the page's first entry
};

struct UKO_RESCB_TABLE {
    UKO_RESCB_APPEND_PF pfnAppend;
    UKO_RESCB_PAGE* pstCurPage;  // the page whose free entries are on pstFreeList
    uint32_t uiCBSize;           // 0: the table records the callers' pointers
    uint32_t uiInitNum;          // blocks in the first page
    uint32_t uiPageNum;          // blocks in every added page; 0: the table never grows
    uint32_t uiFreeNum;
    uint32_t uiTotalNum;
    UKO_RESCB_ENTRY* pstFreeList;
    UKO_RESCB_PAGE* apstPages[UKO_RESCB_PAGE_MAX];  // slot 0 is the first page
};

// Adds a page of uiPageNum blocks; the new page, or NULL.
UKO_RESCB_PAGE* ukoRescbNextPageAlloc(uint32_t uiTableID);
// Refills an empty free list from the first page with room, the first page
// before any added one.
void ukoRescbFreeListSwitch(UKO_RESCB_TABLE* pstTable);
