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

// Called before a table grows, with the number of blocks about to be added; any
// answer but 0 refuses the growth.
typedef uint32_t (*UKO_RESCB_APPEND_PF)(uint32_t uiAppendNum);

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
