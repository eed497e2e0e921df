#pragma once
// Control-block tables: fixed-size blocks handed out by a small 1-based index that
// never moves once given, so the index can serve as the object's public id. A table
// starts with a first page of blocks and grows by whole pages, up to 32 pages in all.
// Freed indexes of the first page are reused before those of any added page.
//
// Creation and destruction are serialised by the module; allocation, release and
// lookup are not: each table's owner serialises its own calls.

#include <cstdint>

constexpr uint32_t UKO_RESCB_TABLE_MAX = 12;  // table ids 0 to 11
constexpr uint32_t UKO_RESCB_PAGE_MAX = 32;   // the first page and up to 31 added ones
constexpr uint32_t UKO_RESCB_INVALID = 0xFFFFFFFF;
// Link of an entry whose block is in use.
constexpr uintptr_t UKO_RESCB_ENTRY_USED = 1;

// Called before a table grows, with the number of blocks about to be added; any
// answer but 0 refuses the growth.
typedef uint32_t (*UKO_RESCB_APPEND_PF)(uint32_t uiAppendNum);

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

// Start-up step: the module lock and the empty table array. 0, the lock's error, or 12.
uint32_t ukoRescbinit(uint32_t uiArg);

// 0, 22 (no out-id, no initial blocks, a first block beyond 32 bits) or 12 (no memory,
// every table id in use). *puiTableID is 0xFFFFFFFF until success.
uint32_t UKO_RescbTableCreate(uint32_t uiAppCBDataSize, uint32_t uiInitNum, uint32_t uiPageNum,
                              UKO_RESCB_APPEND_PF pfnAppend, uint32_t* puiTableID);
// 0 or 22. Blocks still in use are not looked at.
uint32_t UKO_RescbTableDestroy(uint32_t uiTableID);
// The new index, or 0xFFFFFFFF. With a block size, *ppCB receives the block; in a table
// of size 0, *ppCB is read and recorded for the index.
uint32_t UKO_RescbAlloc(uint32_t uiTableID, void** ppCB);
// 0, or 22 for an unknown table, index 0, an index never given or one not in use.
uint32_t UKO_RescbFree(uint32_t uiTableID, uint32_t uiCBIndex);
// The block (or recorded pointer) of an index in use, else NULL.
void* UKO_RescbCbGet(uint32_t uiTableID, uint32_t uiCBIndex);
// Blocks in use and blocks in all; 0 for an unknown table.
uint32_t UKO_RescbUsedNumGet(uint32_t uiTableID);
uint32_t UKO_RescbTotalNumGet(uint32_t uiTableID);

// Internal: adds a page of uiPageNum blocks; the new page, or NULL.
UKO_RESCB_PAGE* ukoRescbNextPageAlloc(uint32_t uiTableID);
// Internal: refills an empty free list from the first page with room, the first page
// before any added one.
void ukoRescbFreeListSwitch(UKO_RESCB_TABLE* pstTable);
