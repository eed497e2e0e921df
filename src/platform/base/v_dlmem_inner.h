#pragma once
// Inside DLM: the marks and tags of its heads, the page, slice and piece heads, the
// control block that the algorithm handle points to, the process-wide configuration,
// and the slice and page operations behind DLM_Alloc and DLM_Free.

#include <cstdint>

#include "v_dlmem.h"

constexpr uint32_t DLM_CB_MAGIC = 0xABCDABCD;
constexpr uint32_t DLM_PAGE_MAGIC = 0x3C50483E;  // ">HP<" in memory order
constexpr uint32_t DLM_TYPE_NUM = 60;            // size classes; also "no class"
constexpr uint32_t DLM_LIST_NUM = DLM_TYPE_NUM + 1;
constexpr uint32_t DLM_DAMAGED_LIST = DLM_TYPE_NUM;

constexpr uint64_t DLM_SLICE_MASK = 0xF000000F;
constexpr uint64_t DLM_SLICE_PATTERN = 0xB000000D;
constexpr uint64_t DLM_LARGE_MASK = 0xF000FFFF;
constexpr uint64_t DLM_LARGE_PATTERN = 0x7000CAFE;
constexpr uint32_t DLM_REF_SHIFT = 20;
constexpr uint64_t DLM_REF_MASK = uint64_t{0xFF} << DLM_REF_SHIFT;
constexpr uint32_t DLM_REF_MAX = 255;
constexpr uint32_t DLM_DIST_SHIFT = 4;
constexpr uint64_t DLM_DIST_MASK = uint64_t{0xFFFF} << DLM_DIST_SHIFT;
constexpr uint32_t DLM_DIST_MAX = 2048;          // 8-byte units: the largest page size / 8

constexpr uint64_t DLM_CB_SIZE = 2520;
constexpr uint64_t DLM_PAGE_HEAD_SIZE = 40;
constexpr uint64_t DLM_SLICE_HEAD_SIZE = 16;
constexpr uint64_t DLM_PIECE_HEAD_SIZE = 24;
constexpr uint64_t DLM_MIN_FORMAT_EXTRA = 3556;  // beyond the slice limit
constexpr uint64_t DLM_MIN_PIECE_EXTRA = 156;    // beyond the slice limit

struct DLM_SLICE_HEAD;

// Head of a page, followed by its slices. A list head has the same form: class
// number, the class's total slices (uiSliceNum) and used slices (uiUsedNum), and the
// circular list of the class's pages that have a free slice.
struct DLM_PAGE_HEAD {
    uint32_t uiMagic;
    uint32_t uiType;
    uint32_t uiSliceNum;
    uint32_t uiUsedNum;
    DLM_SLICE_HEAD* pFreeSlice;  // NULL while the page is full
    DLM_PAGE_HEAD* pNext;        // both NULL while the page is full
    DLM_PAGE_HEAD* pPrev;
};
static_assert(sizeof(DLM_PAGE_HEAD) == DLM_PAGE_HEAD_SIZE, "page head is 40 bytes");

// Head in front of every block that DLM hands out (block = head + 16).
//   slice: 0xB000000D under 0xF000000F; bits 4-19 distance from the end of the page
//          head in 8-byte units; bits 20-27 reference count (0 while free);
//   large: 0x7000CAFE under 0xF000FFFF; bits 20-27 reference count.
struct DLM_SLICE_HEAD {
    uint64_t uvTag;
    DLM_SLICE_HEAD* pNext;  // free slice: the next free slice of its page, the last one itself
};
static_assert(sizeof(DLM_SLICE_HEAD) == DLM_SLICE_HEAD_SIZE, "slice head is 16 bytes");

// Head of a piece added with DLM_Append; the heap takes the memory behind it.
struct DLM_PIECE_HEAD {
    void* pSelf;
    uint64_t uvSize;
    DLM_PIECE_HEAD* pNext;
};
static_assert(sizeof(DLM_PIECE_HEAD) == DLM_PIECE_HEAD_SIZE, "piece head is 24 bytes");

// Control block at the start of the formatted memory; its address is the algorithm
// handle the partition keeps.
struct DLM_CB {
    uint32_t uiMagic;
    void* pStart;
    uint64_t uvSize;
    DLM_PIECE_HEAD* pPiece;
    uint64_t uvTotalSize;      // bytes given to the heap, less 40 per page head
    uint64_t uvFreeSize;       // total less slices and large chunks in use
    uint16_t usPageSize;
    uint16_t usSliceLimit;
    uint32_t uiLargePeak;
    uint32_t uiLargeNum;
    uint64_t uvLargeSize;      // chunk sizes of large blocks in use
    void* pMspace;
    DLM_PAGE_HEAD astList[DLM_LIST_NUM];  // classes 0-59, then the damaged pages
};
static_assert(sizeof(DLM_CB) == DLM_CB_SIZE, "control block is 2520 bytes");

// Process-wide configuration, fixed before any partition is formatted.
extern uint32_t g_uiDlmPageSize;    // 8192 or 16384
extern uint32_t g_uiDlmSliceLimit;  // 256, 512, 1024, 2048 or 4096

// The block of a slice for the prepared size (a multiple of 8, head included), or NULL.
void* DLM_AllocSlice(DLM_CB* pCB, uint64_t uvSize, uint64_t* puvReserved);
uint32_t DLM_FreeSlice(DLM_CB* pCB, void* pBlock, uint64_t* puvFreedSize);
DLM_PAGE_HEAD* DLM_AllocPage(DLM_CB* pCB, uint32_t uiType);
