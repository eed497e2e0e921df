#pragma once
// Memory partitions: named pools of memory, each made of one or more pieces and run by
// an allocation algorithm that the partition reaches only through its operations
// table. Every platform module allocates here, most of them from the system partition
// "SYSPT" in slot 0.
//
// Every block handed out carries an 8-byte head in front of it that names its partition
// and its owner's handle, so that a free needs nothing but the pointer. A block moved
// to a stricter alignment carries an alignment tag in front instead, which leads back
// to the head.

#include <cstdint>

#include "uko_errcode.h"
#include "uko_memalgo.h"

// ---- Configuration and codes ---------------------------------------------------------
constexpr uint32_t UKO_MEMPT_MAX_PT_NUM = 8;
constexpr uint8_t UKO_MEMPT_INVALID_PTNO = 255;
constexpr uint32_t UKO_MEMPT_NAME_LEN = 16;           // 15 characters and a terminator
constexpr uint64_t UKO_MEMPT_MIN_SIZE = 32768;

// Codes of the partitions.
constexpr UKO_ERRCODE UKO_MEMPT_ERR_OVERLAP = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2711);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_NO_FREE_CB = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2712);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_FORMAT = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2713);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_APPEND = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2714);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_APPEND_SIZE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2715);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_EXIST = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2716);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_NOT_INSTALLED = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x271C);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_ALGO_EXIST = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x271D);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_ALGO_FULL = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x271E);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_HOST_ALLOC = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2720);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_NO_APPEND_API = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2721);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_BASE_API = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2722);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_PARAM = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2723);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_SIZE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2724);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_ALGO_NONE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2725);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_APPEND_FULL = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2728);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_IN_USE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2729);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_REF_OVERLOAD = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x272A);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_REF_ZERO = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x272B);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_REFREE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x272C);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_NO_API = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2730);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_ALLOC_FAIL = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2731);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_REFREE_LOG = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2732);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_FREE_FAIL = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2733);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_APPEND_LIMIT = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x2737);
constexpr UKO_ERRCODE UKO_MEMPT_ERR_MLOCK = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x273B);

// ---- Module state --------------------------------------------------------------------
// Number of the system partition, set by start-up.
extern uint8_t m_ucSysPtNo;

// ---- Start-up, algorithms, creation and deletion ---------------------------------------
// Start-up step: the partition table, its locks, and the system partition "SYSPT".
uint32_t ukoMemPtInit(uint32_t uiArg);
// (UKO_MemAlgoReg is declared in uko_memalgo.h.)

// pFormatPara goes to the algorithm's format; pAddr, when given, is the caller's memory
// (never freed by the partition). *pucPtNo is 255 on a failure after the argument checks.
uint32_t UKO_MemPtCreateEx(const char* pszPtName, const char* pszAlgoName, const void* pFormatPara,
                           void* pAddr, uint64_t uvSize, uint8_t* pucPtNo);
uint32_t UKO_MemPtDelete(uint8_t ucPtNo);
// 0; 0xFFFFFFFF (and 255) when no installed partition has the name; 22 for a NULL.
uint32_t UKO_MemPtNoGet(const char* pszPtName, uint8_t* pucPtNo);
// 1 installed, 0 not.
uint32_t UKO_MemPtIsInstalled(uint8_t ucPtNo);
uint8_t UKO_MemPtMaxNumGet();

// Host memory of *puvSize + 8 bytes whose first word is 0xB000DEAD; the address behind
// the tag, or NULL.
void* MEMPT_SysMalloc(uint32_t uiIgnored, uint64_t* puvSize);

// ---- Allocation, free, reallocation ----------------------------------------------------
// The twins ending in _F take the caller's file and line for the allocation pre-hook.
void* UKO_MemAlloc(uint32_t uiHandle, uint8_t ucPtNo, uint64_t uvSize);
void* UKO_MemAlloc_F(uint32_t uiHandle, uint8_t ucPtNo, uint64_t uvSize, const char* pcFile,
                     uint32_t uiLine);
// The handle argument is not read: the block's head names its owner.
uint32_t UKO_MemFree(uint32_t uiHandle, void* pAddr);
uint32_t UKO_MemFree_F(uint32_t uiHandle, void* pAddr, const char* pcFile, uint32_t uiLine);
void* UKO_MemReAlloc(uint32_t uiHandle, uint8_t ucPtNo, void* pOldMemPtr, uint64_t uvNewSize);
void* UKO_MemReAlloc_F(uint32_t uiHandle, uint8_t ucPtNo, void* pOldMemPtr, uint64_t uvNewSize,
                       const char* pcFile, uint32_t uiLine);
// Alignment 8, 16, 32, 64 or 128.
void* UKO_MemAllocAlignN(uint32_t uiHandle, uint8_t ucPtNo, uint64_t ulSize, uint32_t ulAlignByte);
void* UKO_MemAllocAlignN_F(uint32_t uiHandle, uint8_t ucPtNo, uint64_t ulSize,
                           uint32_t ulAlignByte, const char* pcFile, uint32_t uiLine);

// ---- Reference counts ----------------------------------------------------------------
uint32_t UKO_MemRefInc(void* pAddr);
uint32_t UKO_MemRefGet(void* pAddr, uint32_t* puiCount);

// ---- Address lookups -----------------------------------------------------------------
// ucLockedPtNo: a partition whose lock the caller holds (not taken again), 255 = none.
// 0 found, 22 not found.
uint32_t UKO_MemPtFind(const void* pAddr, uint8_t* pucPtNo, uint8_t ucLockedPtNo);
// 1 when [pBegin, pEnd) lies in one piece; see the remaining-bytes rule in the source.
uint32_t UKO_MemInZIRPARange(const void* pBegin, const void* pEnd, uint64_t* puvRemain);
uint32_t UKO_MemAddrInZirpaRangeIs(const void* pAddr);
// 0 when the word in front of pAddr is a block head, else 22.
uint32_t ukoMemHeadCheck(const void* pAddr);
// Bytes the caller may use in the block, all ones when there is no answer.
uint64_t ukoMemUsableSizeGet(uint8_t ucPtNo, void* pAddr);

// ---- Locking pages -------------------------------------------------------------------
// Mode 1: the current pages; mode 2: current and future pages.
uint32_t UKO_MemMapAllLock(uint32_t uiMode);

// ---- Debug-information blocks ----------------------------------------------------------
struct UKO_MEM_DBG_INFO {
    uint32_t uiDbgBlockNum;
    uint64_t uvDbgBlockSize;
};
// Headless blocks of the system partition.
void* ukoMemAllocNoDbgInfo(uint32_t uiSize);
uint32_t ukoMemFreeNoDbgInfo(void* pBlock);
uint32_t UKO_MemDbgCBInfoGet(UKO_MEM_DBG_INFO* pstMemDbgInfo);

// ---- Hooks ---------------------------------------------------------------------------
// (partition, handle, size, file, line); result not read.
typedef uint32_t (*UKO_MEM_ALLOC_PRE_HOOK_PF)(uint8_t ucPtNo, uint32_t uiHandle, uint64_t uvSize,
                                              const char* pcFile, uint32_t uiLine);
typedef uint32_t (*UKO_MEM_ALLOC_FAIL_HOOK_PF)(uint8_t ucPtNo, uint32_t uiHandle, uint64_t uvSize,
                                               const char* pcFile, uint32_t uiLine);
// (partition, address, handle, code): a failed allocation (address NULL), a repeated
// free or a failed free.
typedef void (*UKO_MEM_ERR_HOOK_PF)(uint8_t ucPtNo, void* pAddr, uint32_t uiHandle,
                                    uint32_t uiErrCode);
// (partition, raw start of a caller's piece that a free left without used bytes).
typedef void (*UKO_MEM_PIECE_IDLE_HOOK_PF)(uint8_t ucPtNo, void* pPieceStart);

uint32_t UKO_MemAllocPreHookReg(UKO_MEM_ALLOC_PRE_HOOK_PF pfnHook);
uint32_t UKO_MemAllocFailHookReg(UKO_MEM_ALLOC_FAIL_HOOK_PF pfnHook);
void UKO_MemErrHookReg(UKO_MEM_ERR_HOOK_PF pfnHook);
uint32_t UKO_MemPieceIdleHookReg(UKO_MEM_PIECE_IDLE_HOOK_PF pfnHook);

// ---- Growth (called by allocation; the growth settings belong to the partitions) ------
// (partition number) -> bytes.
typedef uint64_t (*UKO_MEMPT_SIZE_FUNC_PF)(uint8_t ucPtNo);

// Explicit pieces: an area of at least 4096 bytes joins the partition, the caller's own
// when pAddr is given (never freed by the partition), else host memory. At most 128
// pieces join a partition, explicit and automatic ones together. 0 or code.
uint32_t UKO_MemPtAppend(uint8_t ucPtNo, void* pAddr, uint64_t uvSize);
// Takes back a caller's piece by its raw start, when it holds no block and the
// algorithm lets go of it: 1, and the area is the caller's again; else 0.
uint32_t UKO_MemPtShrink(uint8_t ucPtNo, void* pAddr);

// Growth settings. uiOn 1: a full partition grows by a piece of pfnAppendSize bytes
// (none: half the initial size; at least 4096), a larger request by what it needs
// unless pfnAppendLimit forbids it, and a grown piece that a free empties goes back
// unless pfnKeepFree demands the free bytes it holds. Positions 0 and 1 both grow when
// an allocation fails. uiOn 0: no further growth; the added pieces stay. 0 or 22.
uint32_t UKO_MemPtAutoFlexSetEx(uint8_t ucPtNo, uint32_t uiOn, uint32_t enPosition,
                                UKO_MEMPT_SIZE_FUNC_PF pfnAppendSize, UKO_MEMPT_SIZE_FUNC_PF pfnKeepFree,
                                UKO_MEMPT_SIZE_FUNC_PF pfnAppendLimit);
// The same, with pfnAppendSize also as the growth limit.
uint32_t UKO_MemPtAutoFlexSet(uint8_t ucPtNo, uint32_t uiOn, uint32_t enPosition,
                              UKO_MEMPT_SIZE_FUNC_PF pfnAppendSize, UKO_MEMPT_SIZE_FUNC_PF pfnKeepFree);
// The system-wide growth switch is off in this system: 0 at once.
uint32_t UKO_MemAutoFlexPositionSetAll(uint32_t enPosition);

// ---- Information and statistics ----------------------------------------------------------
// Three sizes describe a partition: its raw size (the raw sizes of its pieces), the
// algorithm's total and free bytes, and the used bytes of its live blocks.
//
// Usage in percent of total T with free F: 100 when T or F is 0, else (T - F) x 100 / T.

// An impossible usage rate (above 100 %).
constexpr UKO_ERRCODE UKO_MEMPT_ERR_USE_RATE = UKO_ErrCodeMake(UKO_MID_MEMPT, 0x272F);

struct UKO_MEMPT_INFO {
    uint32_t uiPtNo;
    char acPtName[UKO_MEMPT_NAME_LEN];
    char acAlgoName[UKO_MEMPT_NAME_LEN];
    uint32_t uiPieceNum;        // added pieces + 1
    uint64_t uvTotalSize;       // raw size
    uint64_t uvFreeSize;        // the algorithm's free bytes
    uint64_t uvMaxUsableSize;   // largest block still available
    uint32_t uiUsage;           // of the raw size against the free bytes
};

struct UKO_MEMPT_PIECE_INFO {
    uint32_t uiIndex;  // 0 = the first piece
    uint64_t uvSize;   // raw size
    uint64_t uvUsed;
    uint64_t uvStart;  // raw start
    uint64_t uvEnd;    // raw start + raw size
    uint8_t ucSource;  // UKO_MEMPT_SRC_HOST or UKO_MEMPT_SRC_CALLER
};

// Free bytes the algorithm reports; all ones on error.
uint64_t UKO_MemPtFreeSizeGet(uint8_t ucPtNo);
// Raw size; all ones on error.
uint64_t UKO_MemPtTotalSizeGet(uint8_t ucPtNo);
// Raw size and free bytes of all installed partitions.
uint64_t UKO_MemTotalSizeGet();
uint64_t UKO_MemFreeSizeGet();
// Largest block a caller can still get; 0 when none or on error.
uint64_t UKO_MaxUsableSizeGet(uint8_t ucPtNo);
// What a block of the user size costs with its heads; 22 for a partition not installed.
uint64_t ukoMemSizeUsrToTotal(uint8_t ucPtNo, uint64_t uvUsrSize);
// pszPtName holds 16 bytes. 0 or 22.
uint32_t UKO_MemPtNameGetByPtNo(uint8_t ucPtNo, char* pszPtName);
// 0, 22, or 0x2118271C for a slot not installed.
uint32_t UKO_MemInfoGetByPtNo(uint8_t ucPtNo, UKO_MEMPT_INFO* pMemptInfo);
// *puiPieceNum: the array's capacity in, the entries written out, from the first piece
// on. Entry 0's used bytes are the partition's minus those of the other entries, so the
// entries add up to the partition. 0, 22 or 0x2118271C.
uint32_t UKO_MemPieceInfoGetByPtNo(uint8_t ucPtNo, uint32_t* puiPieceNum, UKO_MEMPT_PIECE_INFO* pMemptPieceInfo);
// Raw start and size of the piece holding pAddr: 0 or 22.
uint32_t UKO_MemPtPieceStartAddrGet(uint8_t ucPtNo, const void* pAddr, void** ppStartAddr,
                                    uint64_t* puiPtBlockSize);
// The algorithm's used bytes and blocks: 0, 22, or 0x21182730 without the algorithm's answer.
uint32_t UKO_MemPtUsedBlockGet(uint8_t ucPtNo, uint64_t* pulSize, uint64_t* pulNum);
// Usage of the raw size; 0xFFFFFFFF on error.
uint32_t ukoMemPtGetUseRate(uint8_t ucPtNo);
// The algorithm's total and free bytes and their usage: 0 or 22.
uint32_t ukoMemPtGetPTUsedInfo(uint8_t ucPtNo, uint64_t* puvTotal, uint64_t* puvFree, uint32_t* puiUsage);

// Size classes of the algorithm: 0, 22, or 0x21182730 without the algorithm's answer.
uint32_t UKO_MemPtTypeNumGet(uint8_t ucPtNo, uint32_t* puiTypeNum);
uint32_t UKO_MemPtFreeNumByTypeGet(uint8_t ucPtNo, uint32_t uiType, uint32_t* puiNum, uint32_t* puiFreeNum);
// A class equal to the class count is accepted (the algorithm answers its largest).
uint32_t UKO_MemSliceByTypeGet(uint8_t ucPtNo, uint32_t ulType, uint32_t* puiSliceSize);
uint32_t ukoMemTypeAndSizeByAddrGet(void* pTempAddr, uint32_t* puiType, uint64_t* puvSize, uint8_t ucPtNo);
// The algorithm's usable bytes of the block, its head included; all ones without an answer.
uint64_t ukoMemBlockSizeGet(uint8_t ucPtNo, void* pAddr);
// 0 when a piece of the partition holds the address, else 22.
uint32_t ukoMemAddrInPtCheck(const void* pAddr, uint8_t ucPtNo);
uint32_t UKO_MemPtInstalledNumGet();
// pucFlags holds UKO_MemPtMaxNumGet() bytes. 0, or 22.
uint32_t UKO_MemPtSlotFlagsGet(uint8_t* pucFlags);

// Prints the statistics table through UKO_ShowPrint to the target; the last print's result.
uint32_t ukoMemPtStatShow(uint32_t uiTarget);
// The value as decimal text grouped by thousands ("1,000"); the buffer holds 28 bytes.
constexpr uint32_t UKO_MEM_SIZE_STR_LEN = 28;
char* ukoMemSizeToStr(uint64_t uvValue, char* pcBuf);
