#pragma once
// Inside the memory partitions: the marks and block heads, the control blocks, the
// piece heads, the algorithm registry, and the helpers that creation, allocation and
// growth share.

#include <pthread.h>

#include <cstdint>

#include "osal_lock.h"
#include "uko_errcode.h"
#include "uko_mempt.h"

// ---- Configuration, marks and block heads ----------------------------------------
constexpr uint32_t UKO_MEMPT_ALGO_REG_NUM = 10;
constexpr uint64_t UKO_MEMPT_SYS_SIZE = 0x2000000;  // 32 MiB
constexpr uint32_t UKO_MEMPT_MAX_APPEND_NUM = 128;

constexpr uint64_t UKO_MEMPT_CB_MAGIC = 0xBEADFACE;
constexpr uint64_t UKO_MEMPT_PIECE_MAGIC = 0xFACEBEAD;

// Block head: 0xB000000D | (partition << 4) | ((handle & 0xFFFF) << 12).
constexpr uint64_t UKO_MEM_BLOCK_HEAD_SIZE = 8;
constexpr uint64_t UKO_MEM_BLOCK_HEAD_MASK = 0xF000000F;
constexpr uint64_t UKO_MEM_BLOCK_HEAD_PATTERN = 0xB000000D;
// Alignment tag: 0xADD00BEE | (distance << 12), the distance in bits 12-19.
constexpr uint64_t UKO_MEM_ALIGN_TAG_PATTERN = 0xADD00BEE;
constexpr uint64_t UKO_MEM_ALIGN_TAG_DIST_MASK = uint64_t{0xFF} << 12;
// First word of a block from MEMPT_SysMalloc.
constexpr uint64_t UKO_MEM_SYSMALLOC_TAG = 0xB000DEAD;

// Partition flags.
constexpr uint32_t UKO_MEMPT_FLAG_AUTO_APPEND = 0x1;
constexpr uint32_t UKO_MEMPT_FLAG_APPENDED = 0x10;

// Piece types and sources.
constexpr uint32_t UKO_MEMPT_PIECE_FIRST = 0;
constexpr uint32_t UKO_MEMPT_PIECE_HOST = 1;
constexpr uint32_t UKO_MEMPT_PIECE_CALLER = 16;
constexpr uint8_t UKO_MEMPT_SRC_HOST = 0;
constexpr uint8_t UKO_MEMPT_SRC_CALLER = 2;

// Number of partition slots (0 until start-up).
extern uint8_t m_ucMaxPtNum;

// ---- Start-up and pieces ---------------------------------------------------------
// Creates a 32 MiB partition run by "DLM" under the given name.
uint32_t ukoMemPtCreatePt(const char* pcItem, const char* pszPtName, uint8_t* pucPtNo);
// Registers the DLM table under the name; an already registered name counts as success.
uint32_t ukoMemDlmReg(const char* pcItem, const char* pszAlgoName);
// UKO_MemPtIsInstalled's test, without a report for 255.
uint32_t ukoMemPtIsInstalled(uint8_t ucPtNo);
// Host memory for a piece: 0; UKO_MEMPT_ERR_PARAM for size 0; UKO_MEMPT_ERR_HOST_ALLOC
// when the host refuses.
uint32_t ukoMemPtAlloc(uint64_t uvSize, void** ppAddr, uint8_t* pucSource);
// Gives host memory back; a caller's memory is left alone.
void ukoMemPtFree(void* pAddr, uint64_t uvSize, uint8_t ucSource);
// The algorithm's reference count of a block of the partition.
uint32_t ukoMemRefGet(void* pAddr, uint32_t* puiCount, uint8_t ucPtNo);

// ---- Control blocks ----------------------------------------------------------------
struct UKO_MEMPT_PIECE_HEAD {
    uint64_t uvMagic;  // UKO_MEMPT_PIECE_MAGIC; a piece without it counts as damaged
    UKO_MEMPT_PIECE_HEAD* pNext;
    UKO_MEMPT_PIECE_HEAD* pPrev;
    uint64_t uvStart;  // raw start as obtained
    uint64_t uvSize;   // raw size as obtained
    uint64_t uvUsed;   // bytes charged for live blocks in this piece
    uint8_t ucSource;  // UKO_MEMPT_SRC_HOST or UKO_MEMPT_SRC_CALLER
    uint32_t uiType;   // UKO_MEMPT_PIECE_FIRST, _HOST or _CALLER
};
static_assert(sizeof(UKO_MEMPT_PIECE_HEAD) % 8 == 0, "the usable area stays 8-aligned");

struct UKO_MEMPT_CB {
    uint64_t uvMagic;  // UKO_MEMPT_CB_MAGIC while installed; read without the lock
    uint32_t uiFlags;
    pthread_mutex_t stLock;
    void* pAlgoHandle;
    uint64_t uvUsedSize;
    uint64_t uvTotalSize;
    uint64_t uvInitSize;
    UKO_MEM_ALGO_OPS stOps;
    uint32_t uiAppendNum;
    uint32_t uiAppendPosition;
    UKO_MEMPT_SIZE_FUNC_PF pfnAppendSize;
    UKO_MEMPT_SIZE_FUNC_PF pfnKeepFree;
    uint32_t uiSlotFlag;
    char acName[UKO_MEMPT_NAME_LEN];
    char acAlgoName[UKO_MEMPT_NAME_LEN];
    UKO_MEMPT_SIZE_FUNC_PF pfnAppendLimit;
    UKO_MEMPT_PIECE_HEAD* pPieceList;  // newest first; the first piece is always last
};

struct UKO_MEM_ALGO_REG {
    uint32_t uiUsed;
    char acName[UKO_MEMPT_NAME_LEN];
    UKO_MEM_ALGO_OPS stOps;
};

// Module state (set up by ukoMemPtInit).
extern UKO_MEMPT_CB* m_pstMemPtCb;
extern UKO_MEM_ALGO_REG m_astMemAlgoReg[UKO_MEMPT_ALGO_REG_NUM];
extern pthread_mutex_t m_stMemPtTableLock;
extern uint32_t m_uiMemPtAppendMax;
extern uint32_t m_uiMemPtAutoDefault;
extern UKO_MEM_DBG_INFO m_stMemDbgInfo;

constexpr uint64_t UKO_MEMPT_APPEND_OVERHEAD = 300;
constexpr uint64_t UKO_MEMPT_MIN_APPEND_SIZE = 4096;

// The installed mark, read without the partition lock by the quick checks in front of
// it; written only under the table and partition locks.
inline bool ukoMemPtMagicOk(const UKO_MEMPT_CB* cb) {
    return __atomic_load_n(&cb->uvMagic, __ATOMIC_ACQUIRE) == UKO_MEMPT_CB_MAGIC;
}
inline void ukoMemPtMagicSet(UKO_MEMPT_CB* cb, uint64_t v) {
    __atomic_store_n(&cb->uvMagic, v, __ATOMIC_RELEASE);
}

// Where a piece's usable area starts and how large it is.
inline UKO_MEMPT_PIECE_HEAD* ukoMemPieceHeadOf(void* pRaw) {
    uintptr_t a = (reinterpret_cast<uintptr_t>(pRaw) + 7) & ~uintptr_t{7};
    return reinterpret_cast<UKO_MEMPT_PIECE_HEAD*>(a);
}
inline void* ukoMemPieceAreaOf(void* pRaw) { return ukoMemPieceHeadOf(pRaw) + 1; }
inline uint64_t ukoMemPieceAreaSize(void* pRaw, uint64_t uvRawSize) {
    uint64_t lost = reinterpret_cast<uintptr_t>(ukoMemPieceAreaOf(pRaw)) -
                    reinterpret_cast<uintptr_t>(pRaw);
    return uvRawSize > lost ? (uvRawSize - lost) & ~uint64_t{7} : 0;
}
inline bool ukoMemPieceHolds(const UKO_MEMPT_PIECE_HEAD* pc, uintptr_t a) {
    return a >= pc->uvStart && a - pc->uvStart < pc->uvSize;
}

// Fills in a piece head and puts it at the front of the partition's list.
void ukoMemPieceLink(UKO_MEMPT_CB* cb, void* pRaw, uint64_t uvRawSize, uint8_t ucSource,
                     uint32_t uiType);
void ukoMemPieceUnlink(UKO_MEMPT_CB* cb, UKO_MEMPT_PIECE_HEAD* pc);
// The total after a change of pieces: the algorithm's own count when it keeps one,
// else the raw size added or removed.
void ukoMemPtTotalRefresh(UKO_MEMPT_CB* cb, int64_t llRawDelta);

// Adds a host piece large enough for a request of uvReqSize bytes; under the
// partition's lock. 0, 22, 12 or 14; *puvAppended is the new piece's usable size.
uint32_t ukoMemAutoAppend(UKO_MEMPT_CB* cb, uint8_t ucPtNo, uint64_t uvReqSize,
                          uint64_t* puvAppended);
// A free left a host piece of a growing partition without used bytes: give it back
// unless the partition must keep the free bytes. Under the partition's lock.
void ukoMemAutoRelease(UKO_MEMPT_CB* cb, uint8_t ucPtNo, UKO_MEMPT_PIECE_HEAD* pc);
// Charges (or, negative, discharges) a block's bytes to the partition and to the piece
// that holds it, as allocation and free do. Returns the piece charged, or NULL.
UKO_MEMPT_PIECE_HEAD* ukoMemPieceCharge(UKO_MEMPT_CB* cb, uintptr_t uvBlock, uint64_t uvBytes,
                                        bool bAdd);

// Failure reports of the partitions: the thread's errno gets the code, then the log
// hook gets level 2, the code's low half, its module (the partitions' own for a plain
// number), the source name and the line.
template <typename... Args>
uint32_t ukoMemPtReportAt(uint32_t code, const char* pcSource, uint32_t line, const char* format,
                          Args... args) {
    (void)UKO_ErrnoSet(code);
    uint16_t mid = static_cast<uint16_t>(code >> 16);
    (UKO_LogHookGet())(UKO_LOG_LEVEL_ERROR, static_cast<uint16_t>(code & 0xFFFF),
                       mid != 0 ? mid : static_cast<uint16_t>(UKO_MID_MEMPT), pcSource, line, format,
                       args...);
    return code;
}
#define MEMPT_REPORT(code, ...) ukoMemPtReportAt((code), "uko_mempt", __LINE__, __VA_ARGS__)
#define MEMPT_EXT_REPORT(code, ...) ukoMemPtReportAt((code), "uko_mempt_ext", __LINE__, __VA_ARGS__)
