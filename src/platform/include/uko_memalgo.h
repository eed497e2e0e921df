#pragma once
// What the memory partitions and their allocation algorithm share: the 29-slot
// operations table through which a partition reaches its algorithm, the statistics
// record of the statistics slot, the partitions' damage counter that the algorithm
// raises, and the registry entry under which an algorithm's table is kept.
//
// Slot types follow the partition's call form. A handle is what pfnFormat returned; a
// block is the address the algorithm handed out (the partition's own head starts
// there); pPtCb is the calling partition's control block, passed along but not needed
// by every algorithm.

#include <atomic>
#include <cstddef>
#include <cstdint>

typedef void* (*UKO_MEM_FORMAT_PF)(void* pArea, uint64_t uvSize, const void* pFormatPara);
typedef uint32_t (*UKO_MEM_APPEND_PF)(void* pHandle, void* pArea, uint64_t uvSize);
typedef uint32_t (*UKO_MEM_UNAPPEND_PF)(void* pHandle, void* pArea, void* pPtCb);
typedef void* (*UKO_MEM_ALLOC_PF)(void* pHandle, uint64_t* puvSize, void* pPtCb);
typedef uint32_t (*UKO_MEM_FREE_PF)(void* pHandle, void* pBlock, uint64_t* puvFreedSize);
typedef uint32_t (*UKO_MEM_REFINC_PF)(void* pBlock);
typedef uint32_t (*UKO_MEM_REFGET_PF)(void* pBlock, uint32_t* puiCount);
typedef uint32_t (*UKO_MEM_INFOGET_PF)(void* pHandle, uint64_t* puvTotal, uint64_t* puvFree,
                                       void* pPtCb);
typedef uint64_t (*UKO_MEM_MAXUSABLE_PF)(void* pHandle);
typedef void (*UKO_MEM_USEDBLOCK_PF)(void* pHandle, uint64_t* pulSize, uint64_t* pulNum);
typedef uint32_t (*UKO_MEM_TYPENUM_PF)(void);
typedef void (*UKO_MEM_SIZETOTYPE_PF)(void* pHandle, uint64_t uvSize, uint32_t* puiType);
typedef void (*UKO_MEM_FREENUMBYTYPE_PF)(void* pHandle, uint32_t uiType, uint32_t* puiNum,
                                         uint32_t* puiFreeNum);
typedef uint32_t (*UKO_MEM_TYPEANDSIZE_PF)(void* pBlock, uint32_t* puiType, uint64_t* puvSize,
                                           uint8_t ucPtNo);
typedef void* (*UKO_MEM_STATGET_PF)(void* pHandle, void* pStat);
// All ones = no answer.
typedef uint64_t (*UKO_MEM_USABLESIZE_PF)(void* pBlock);
// pfReserved[0]: (class) -> size of the class; pfReserved[1]: (size) -> size plus the
// algorithm's own head.
typedef uint64_t (*UKO_MEM_RESERVED_PF)(uint64_t uvValue);
// Slots the partition never calls.
typedef void (*UKO_MEM_UNUSED_PF)(void);

struct UKO_MEM_ALGO_OPS {
    UKO_MEM_FORMAT_PF pfnFormat;                    // 0, required
    UKO_MEM_APPEND_PF pfnAppend;                    // 1
    UKO_MEM_UNAPPEND_PF pfnUnAppend;                // 2
    UKO_MEM_UNUSED_PF pfnUnused3;                   // 3
    UKO_MEM_ALLOC_PF pfnAlloc;                      // 4, required
    UKO_MEM_FREE_PF pfnFree;                        // 5, required
    UKO_MEM_UNUSED_PF pfnUnused6;                   // 6
    UKO_MEM_REFINC_PF pfnRefInc;                    // 7
    UKO_MEM_REFGET_PF pfnRefGet;                    // 8
    UKO_MEM_INFOGET_PF pfnInfoGet;                  // 9
    UKO_MEM_UNUSED_PF pfnUnused10;                  // 10
    UKO_MEM_MAXUSABLE_PF pfnGetMaxUsableSize;       // 11
    UKO_MEM_USEDBLOCK_PF pfnGetUsedBlock;           // 12
    UKO_MEM_TYPENUM_PF pfnTypeNumGet;               // 13
    UKO_MEM_SIZETOTYPE_PF pfnSizeToType;            // 14
    UKO_MEM_FREENUMBYTYPE_PF pfnFreeNumByTypeGet;   // 15
    UKO_MEM_TYPEANDSIZE_PF pfnTypeAndSizeGet;       // 16
    UKO_MEM_STATGET_PF pfnStatGet;                  // 17
    UKO_MEM_USABLESIZE_PF pfnUsableSizeGet;         // 18
    UKO_MEM_RESERVED_PF pfReserved[10];             // 19 to 28
};
static_assert(sizeof(UKO_MEM_ALGO_OPS) == 29 * sizeof(void*), "29 slots");
static_assert(offsetof(UKO_MEM_ALGO_OPS, pfnAlloc) == 4 * sizeof(void*), "slot 4");
static_assert(offsetof(UKO_MEM_ALGO_OPS, pfnInfoGet) == 9 * sizeof(void*), "slot 9");
static_assert(offsetof(UKO_MEM_ALGO_OPS, pfnUsableSizeGet) == 18 * sizeof(void*), "slot 18");
static_assert(offsetof(UKO_MEM_ALGO_OPS, pfReserved) == 19 * sizeof(void*), "slot 19");

// Statistics record of pfnStatGet: the algorithm adds its totals into the two counters
// after the first word.
struct UKO_MEM_ALGO_STAT {
    uint32_t uiReserved;
    uint32_t uiBlockNum;
    uint32_t uiUsedBlockNum;
};

// Damaged blocks and pages found by any partition's algorithm since start-up; the
// partitions' show prints it. Algorithms run under different partitions' locks, hence
// the atomic.
extern std::atomic<uint32_t> m_uiMemDamageCount;

// Registers an algorithm's table under a name (defined by the partition layer): 0, or
// the registry's code.
uint32_t UKO_MemAlgoReg(const char* pszName, const UKO_MEM_ALGO_OPS* pAlgoFunc);
