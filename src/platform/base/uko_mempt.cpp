// The partition table, the registry of allocation algorithms, start-up, and the
// creation and deletion of partitions.

#include <cstdlib>

#include "mem_asan.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"
#include "uko_string.h"
#include "v_dlmem.h"

uint8_t m_ucSysPtNo = 0;
uint8_t m_ucMaxPtNum = 0;
UKO_MEMPT_CB* m_pstMemPtCb = nullptr;
UKO_MEM_ALGO_REG m_astMemAlgoReg[UKO_MEMPT_ALGO_REG_NUM];
pthread_mutex_t m_stMemPtTableLock;
uint32_t m_uiMemPtAppendMax = 0;
uint32_t m_uiMemPtAutoDefault = 0;
UKO_MEM_DBG_INFO m_stMemDbgInfo = {0, 0};

namespace {

// A zeroed mutex is a working default mutex, so an algorithm may register before
// start-up; start-up makes it the platform's recursive lock.
pthread_mutex_t m_stMemAlgoRegLock;
bool m_bMemPtInited = false;

constexpr size_t kNameCmpLen = UKO_MEMPT_NAME_LEN - 1;

void NameCopy(char* pDest, const char* pSrc) {
    (void)UKO_strncpy_s(pDest, UKO_MEMPT_NAME_LEN, pSrc, kNameCmpLen);
    pDest[UKO_MEMPT_NAME_LEN - 1] = '\0';
}

bool NameEq(const char* a, const char* b) { return UKO_SafeStrNCmp(a, b, kNameCmpLen) == 0; }

// Any piece of the installed partition whose raw range meets [a, a + size).
bool PieceOverlaps(const UKO_MEMPT_CB* cb, uintptr_t a, uint64_t size) {
    for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (a < pc->uvStart + pc->uvSize && pc->uvStart < a + size) {
            return true;
        }
    }
    return false;
}

}  // namespace

// ---- Pieces ----------------------------------------------------------------------------

void ukoMemPieceLink(UKO_MEMPT_CB* cb, void* pRaw, uint64_t uvRawSize, uint8_t ucSource,
                     uint32_t uiType) {
    UKO_MEMPT_PIECE_HEAD* pc = ukoMemPieceHeadOf(pRaw);
    MEM_UNPOISON(pc, sizeof(*pc));
    pc->uvMagic = UKO_MEMPT_PIECE_MAGIC;
    pc->uvStart = reinterpret_cast<uintptr_t>(pRaw);
    pc->uvSize = uvRawSize;
    pc->uvUsed = 0;
    pc->ucSource = ucSource;
    pc->uiType = uiType;
    pc->pPrev = nullptr;
    pc->pNext = cb->pPieceList;
    if (cb->pPieceList != nullptr) {
        cb->pPieceList->pPrev = pc;
    }
    cb->pPieceList = pc;
}

void ukoMemPieceUnlink(UKO_MEMPT_CB* cb, UKO_MEMPT_PIECE_HEAD* pc) {
    if (pc->pPrev != nullptr) {
        pc->pPrev->pNext = pc->pNext;
    } else {
        cb->pPieceList = pc->pNext;
    }
    if (pc->pNext != nullptr) {
        pc->pNext->pPrev = pc->pPrev;
    }
    pc->pNext = nullptr;
    pc->pPrev = nullptr;
}

void ukoMemPtTotalRefresh(UKO_MEMPT_CB* cb, int64_t llRawDelta) {
    if (cb->stOps.pfnInfoGet != nullptr) {
        uint64_t total = 0;
        uint64_t freeBytes = 0;
        (void)cb->stOps.pfnInfoGet(cb->pAlgoHandle, &total, &freeBytes, cb);
        cb->uvTotalSize = total;
    } else {
        cb->uvTotalSize += static_cast<uint64_t>(llRawDelta);
    }
}

// ---- Host memory -------------------------------------------------------------------------

uint32_t ukoMemPtAlloc(uint64_t uvSize, void** ppAddr, uint8_t* pucSource) {
    if (uvSize == 0 || ppAddr == nullptr || pucSource == nullptr) {
        return UKO_MEMPT_ERR_PARAM;
    }
    void* p = std::malloc(uvSize);
    if (p == nullptr) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_HOST_ALLOC, "[ZIRPA-%s]:malloc(%lu) fail.", "ukoMemPtAlloc",
                            uvSize);
    }
    *ppAddr = p;
    *pucSource = UKO_MEMPT_SRC_HOST;
    return 0;
}

void ukoMemPtFree(void* pAddr, uint64_t uvSize, uint8_t ucSource) {
    if (pAddr == nullptr) {
        return;
    }
    // The algorithm poisoned what it kept for itself; the memory leaves the partitions
    // whole, whoever owns it next.
    MEM_UNPOISON(pAddr, uvSize);
    if (ucSource == UKO_MEMPT_SRC_HOST) {
        std::free(pAddr);
    }
}

void* MEMPT_SysMalloc(uint32_t /*uiIgnored*/, uint64_t* puvSize) {
    if (puvSize == nullptr || *puvSize == 0) {
        return nullptr;
    }
    uint64_t total = *puvSize + UKO_MEM_BLOCK_HEAD_SIZE;
    if (total <= *puvSize) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: uvSize(%lu) is too big.", "MEMPT_SysMalloc",
                           *puvSize);
        return nullptr;
    }
    auto* p = static_cast<uint64_t*>(std::malloc(total));
    if (p == nullptr) {
        return nullptr;
    }
    p[0] = UKO_MEM_SYSMALLOC_TAG;
    return p + 1;
}

// ---- Algorithm registry ----------------------------------------------------------------

uint32_t UKO_MemAlgoReg(const char* pszName, const UKO_MEM_ALGO_OPS* pAlgoFunc) {
    if (pszName == nullptr || pAlgoFunc == nullptr) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_PARAM, "[ZIRPA-%s]:Inval Param pszName(0x%p), pAlgoFunc(0x%p).",
                            "UKO_MemAlgoReg", static_cast<const void*>(pszName),
                            static_cast<const void*>(pAlgoFunc));
    }
    (void)OSAL_LockLock(&m_stMemAlgoRegLock);
    UKO_MEM_ALGO_REG* freeEntry = nullptr;
    for (UKO_MEM_ALGO_REG& e : m_astMemAlgoReg) {
        if (e.uiUsed != 0) {
            if (NameEq(e.acName, pszName)) {
                (void)OSAL_LockUnLock(&m_stMemAlgoRegLock, 0);
                return UKO_MEMPT_ERR_ALGO_EXIST;
            }
        } else if (freeEntry == nullptr) {
            freeEntry = &e;
        }
    }
    if (freeEntry == nullptr) {
        (void)OSAL_LockUnLock(&m_stMemAlgoRegLock, 0);
        return MEMPT_REPORT(UKO_MEMPT_ERR_ALGO_FULL, "[ZIRPA-%s]: Algo(%s) pool has been full.",
                            "UKO_MemAlgoReg", pszName);
    }
    // Without these three a partition could not place or take back a single block.
    if (pAlgoFunc->pfnFormat == nullptr || pAlgoFunc->pfnAlloc == nullptr ||
        pAlgoFunc->pfnFree == nullptr) {
        (void)OSAL_LockUnLock(&m_stMemAlgoRegLock, 0);
        return MEMPT_REPORT(UKO_MEMPT_ERR_BASE_API, "[ZIRPA-%s]: Base API(Algo(%s)) is UKO_NULL_PTR.",
                            "UKO_MemAlgoReg", pszName);
    }
    NameCopy(freeEntry->acName, pszName);
    freeEntry->uiUsed = 1;
    freeEntry->stOps = *pAlgoFunc;
    (void)OSAL_LockUnLock(&m_stMemAlgoRegLock, 0);
    return 0;
}

uint32_t ukoMemDlmReg(const char* /*pcItem*/, const char* pszAlgoName) {
    uint32_t rc = UKO_MemAlgoReg(pszAlgoName, &g_stDlmMemAlgoOps);
    return rc == UKO_MEMPT_ERR_ALGO_EXIST ? 0 : rc;
}

// ---- Start-up ----------------------------------------------------------------------------

uint32_t ukoMemPtInit(uint32_t /*uiArg*/) {
    if (!m_bMemPtInited) {
        m_uiMemPtAutoDefault = 0;
        m_uiMemPtAppendMax = UKO_MEMPT_MAX_APPEND_NUM;
        if (m_uiMemPtAppendMax == 0) {
            m_uiMemPtAppendMax = 0xFFFFFFFF;
        }
        const uint64_t bytes = sizeof(UKO_MEMPT_CB) * UKO_MEMPT_MAX_PT_NUM;
        auto* table = static_cast<UKO_MEMPT_CB*>(std::malloc(bytes));
        if (table == nullptr) {
            return MEMPT_REPORT(UKO_MEMPT_ERR_HOST_ALLOC,
                                "[ZIRPA-%s]:malloc(%lu) for partition control block fail.",
                                "ukoMemPtInit", bytes);
        }
        (void)UKO_memset_s(table, bytes, 0, bytes);
        for (uint32_t i = 0; i < UKO_MEMPT_MAX_PT_NUM; ++i) {
            table[i].uiSlotFlag = 1;
            table[i].pPieceList = nullptr;
            (void)OSAL_LockCreate(&table[i].stLock);
        }
        (void)OSAL_LockCreate(&m_stMemPtTableLock);
        (void)OSAL_LockCreate(&m_stMemAlgoRegLock);
        // Allocation-failure reports are built in a buffer of each report's own, so no
        // shared report buffer is taken here.
        m_pstMemPtCb = table;
        // The slot count is published last: every range check reads it before it
        // touches the table.
        m_ucMaxPtNum = static_cast<uint8_t>(UKO_MEMPT_MAX_PT_NUM);
        m_bMemPtInited = true;
    }

    uint8_t ptNo = UKO_MEMPT_INVALID_PTNO;
    uint32_t rc = ukoMemPtCreatePt("uko_mempt.SYSPT", "SYSPT", &ptNo);
    if (rc != 0) {
        (void)MEMPT_REPORT(rc, "[ZIRPA-%s]:Create system partion fail.", "ukoMemPtInit");
        return rc;
    }
    m_ucSysPtNo = ptNo;
    if (UKO_MemPtNoGet("SYSPT", &ptNo) != 0) {
        (void)MEMPT_REPORT(0xFFFFFFFF, "[Zirpa-%s]: Cfgfile Create SYSPT failed!\n", "ukoMemPtInit");
        return 0xFFFFFFFF;
    }
    return 0;
}

uint32_t ukoMemPtCreatePt(const char* /*pcItem*/, const char* pszPtName, uint8_t* pucPtNo) {
    uint32_t rc = ukoMemDlmReg("uko_memdlm.DLM", "DLM");
    if (rc != 0) {
        return rc;
    }
    // This OS offers no preset memory for a partition: the memory comes from the host.
    void* pAddr = OSAL_MemPtAddrGet(pszPtName);
    rc = UKO_MemPtCreateEx(pszPtName, "DLM", nullptr, pAddr, UKO_MEMPT_SYS_SIZE, pucPtNo);
    if (rc != 0) {
        (void)MEMPT_REPORT(rc, "[Zirpa-%s]:Create Pt %s Failed\n", "ukoMemPtCreatePt", pszPtName);
        return rc;
    }
    m_pstMemPtCb[*pucPtNo].uiSlotFlag = 1;
    return 0;
}

// ---- Creation and deletion --------------------------------------------------------------

uint32_t UKO_MemPtCreateEx(const char* pszPtName, const char* pszAlgoName, const void* pFormatPara,
                           void* pAddr, uint64_t uvSize, uint8_t* pucPtNo) {
    if (pszPtName == nullptr || pszAlgoName == nullptr || pucPtNo == nullptr) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_PARAM,
                            "[ZIRPA-%s]:Inval Param pszPtName(%s), pszAlgoName(%s), pucPtNo(0x%p).",
                            "UKO_MemPtCreateEx", pszPtName != nullptr ? pszPtName : "null",
                            pszAlgoName != nullptr ? pszAlgoName : "null",
                            static_cast<void*>(pucPtNo));
    }
    if (uvSize < UKO_MEMPT_MIN_SIZE) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_SIZE, "[ZIRPA-%s]:pszPtName(%s), Inval Param uvSize(%lu) < 32k.",
                            "UKO_MemPtCreateEx", pszPtName, uvSize);
    }
    // No area can run past the end of the address space; the end of such an area
    // would wrap below its start and slip through the overlap check.
    if (pAddr != nullptr && reinterpret_cast<uintptr_t>(pAddr) + uvSize < reinterpret_cast<uintptr_t>(pAddr)) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_SIZE, "[ZIRPA-%s]:pszPtName(%s), Inval Param pAddr(0x%p), uvSize(%lu).",
                            "UKO_MemPtCreateEx", pszPtName, pAddr, uvSize);
    }
    *pucPtNo = UKO_MEMPT_INVALID_PTNO;

    uint8_t source = UKO_MEMPT_SRC_CALLER;
    void* mem = pAddr;
    if (mem == nullptr) {
        if (ukoMemPtAlloc(uvSize, &mem, &source) != 0) {
            return MEMPT_REPORT(UKO_MEMPT_ERR_HOST_ALLOC, "[ZIRPA-%s]:pszPtName(%s), alloc memory(%lu) fail.",
                                "UKO_MemPtCreateEx", pszPtName, uvSize);
        }
    }
    // Every failure from here gives host memory back; a caller's memory stays the
    // caller's. A caller's area that no algorithm has seen is left exactly as it came:
    // it may lie over a live partition, whose sanitizer marks must survive the refusal.
    bool bFormatTried = false;
    auto fail = [&](uint32_t code) {
        (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
        if (source == UKO_MEMPT_SRC_HOST || bFormatTried) {
            ukoMemPtFree(mem, uvSize, source);
        }
        return code;
    };

    const uintptr_t start = reinterpret_cast<uintptr_t>(mem);
    (void)OSAL_LockLock(&m_stMemPtTableLock);
    UKO_MEMPT_CB* slot = nullptr;
    uint8_t slotNo = UKO_MEMPT_INVALID_PTNO;
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (ukoMemPtMagicOk(cb)) {
            if (NameEq(cb->acName, pszPtName)) {
                (void)MEMPT_REPORT(UKO_MEMPT_ERR_EXIST, "[ZIRPA-%s]: Partition(%s) already exists.",
                                   "UKO_MemPtCreateEx", pszPtName);
                return fail(UKO_MEMPT_ERR_EXIST);
            }
            (void)OSAL_LockLock(&cb->stLock);
            bool overlap = PieceOverlaps(cb, start, uvSize);
            (void)OSAL_LockUnLock(&cb->stLock, 0);
            if (overlap) {
                (void)MEMPT_REPORT(UKO_MEMPT_ERR_OVERLAP, "[ZIRPA-%s]: Partition(%s) address(0x%p) memory overlap.",
                                   "UKO_MemPtCreateEx", pszPtName, mem);
                return fail(UKO_MEMPT_ERR_OVERLAP);
            }
        } else if (slot == nullptr) {
            slot = cb;
            slotNo = i;
        }
    }
    if (slot == nullptr) {
        (void)MEMPT_REPORT(UKO_MEMPT_ERR_NO_FREE_CB, "[ZIRPA-%s]: No free PtCB m_ucMaxPtNum(%u).",
                           "UKO_MemPtCreateEx", static_cast<unsigned>(m_ucMaxPtNum));
        return fail(UKO_MEMPT_ERR_NO_FREE_CB);
    }
    // Algorithms register at start-up, before any creation: the registry is read
    // without its lock.
    const UKO_MEM_ALGO_REG* algo = nullptr;
    for (const UKO_MEM_ALGO_REG& e : m_astMemAlgoReg) {
        if (e.uiUsed != 0 && NameEq(e.acName, pszAlgoName)) {
            algo = &e;
            break;
        }
    }
    if (algo == nullptr) {
        (void)MEMPT_REPORT(UKO_MEMPT_ERR_ALGO_NONE, "[ZIRPA-%s]: Algo(%s) is not registered.",
                           "UKO_MemPtCreateEx", pszAlgoName);
        return fail(UKO_MEMPT_ERR_ALGO_NONE);
    }
    void* area = ukoMemPieceAreaOf(mem);
    uint64_t areaSize = ukoMemPieceAreaSize(mem, uvSize);
    bFormatTried = true;
    void* handle = algo->stOps.pfnFormat(area, areaSize, pFormatPara);
    if (handle == nullptr) {
        (void)MEMPT_REPORT(UKO_MEMPT_ERR_FORMAT, "[ZIRPA-%s]: Format fail (pfnFormat=0x%p).",
                           "UKO_MemPtCreateEx", reinterpret_cast<void*>(algo->stOps.pfnFormat));
        return fail(UKO_MEMPT_ERR_FORMAT);
    }

    NameCopy(slot->acName, pszPtName);
    NameCopy(slot->acAlgoName, algo->acName);
    slot->stOps = algo->stOps;
    slot->pAlgoHandle = handle;
    slot->pPieceList = nullptr;
    ukoMemPieceLink(slot, mem, uvSize, source, UKO_MEMPT_PIECE_FIRST);
    slot->uvTotalSize = 0;
    ukoMemPtTotalRefresh(slot, static_cast<int64_t>(uvSize));
    slot->uiFlags = m_uiMemPtAutoDefault != 0 ? UKO_MEMPT_FLAG_AUTO_APPEND : 0;
    slot->uvInitSize = uvSize;
    slot->uvUsedSize = 0;
    slot->uiAppendNum = 0;
    slot->pfnAppendSize = nullptr;
    slot->pfnKeepFree = nullptr;
    slot->pfnAppendLimit = nullptr;
    slot->uiAppendPosition = 0;
    ukoMemPtMagicSet(slot, UKO_MEMPT_CB_MAGIC);

    *pucPtNo = slotNo;
    (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
    return 0;
}

uint32_t UKO_MemPtDelete(uint8_t ucPtNo) {
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO || ucPtNo >= m_ucMaxPtNum) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MaxPtNum(%u), inval param ucPtNo(%u).",
                            "UKO_MemPtDelete", static_cast<unsigned>(m_ucMaxPtNum),
                            static_cast<unsigned>(ucPtNo));
    }
    if (ucPtNo == m_ucSysPtNo) {
        return MEMPT_REPORT(UKO_EINVAL,
                            "[ZIRPA-%s]:Can't delete the system memory partition(%u), inval param ucPtNo(%u).",
                            "UKO_MemPtDelete", static_cast<unsigned>(m_ucSysPtNo),
                            static_cast<unsigned>(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    auto notInstalled = [&]() {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:ucPtNo(%u) is not installed.", "UKO_MemPtDelete",
                            static_cast<unsigned>(ucPtNo));
    };
    if (!ukoMemPtMagicOk(cb)) {
        return notInstalled();
    }
    (void)OSAL_LockLock(&m_stMemPtTableLock);
    (void)OSAL_LockLock(&cb->stLock);
    auto unlockBoth = [&]() {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
    };
    if (!ukoMemPtMagicOk(cb)) {
        unlockBoth();
        return notInstalled();
    }
    if (cb->uvUsedSize != 0) {
        unlockBoth();
        return MEMPT_REPORT(UKO_MEMPT_ERR_IN_USE, "[ZIRPA-%s]:ucPtNo(%u) have %lu Bytes used memory.",
                            "UKO_MemPtDelete", static_cast<unsigned>(ucPtNo), cb->uvUsedSize);
    }
    for (UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            unlockBoth();
            return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPtNo(%u) piece(0x%p) was damaged.",
                                "UKO_MemPtDelete", static_cast<unsigned>(ucPtNo), static_cast<void*>(pc));
        }
    }
    ukoMemPtMagicSet(cb, 0);
    UKO_MEMPT_PIECE_HEAD* pieces = cb->pPieceList;
    void* handle = cb->pAlgoHandle;
    UKO_MEM_UNAPPEND_PF unAppend = cb->stOps.pfnUnAppend;
    cb->pPieceList = nullptr;
    (void)OSAL_LockUnLock(&cb->stLock, 0);

    cb->pAlgoHandle = nullptr;
    cb->pfnAppendLimit = nullptr;
    cb->stOps = UKO_MEM_ALGO_OPS{};
    cb->uiAppendNum = 0;
    cb->uiAppendPosition = 0;
    cb->pfnAppendSize = nullptr;
    cb->pfnKeepFree = nullptr;
    cb->acName[0] = '\0';
    cb->acAlgoName[0] = '\0';
    cb->uiSlotFlag = 0;
    cb->uiFlags = 0;
    cb->uvInitSize = 0;
    cb->uvTotalSize = 0;
    cb->uvUsedSize = 0;
    (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);

    // The first piece, which holds the algorithm's own state, is last on the list and so
    // goes last.
    while (pieces != nullptr) {
        UKO_MEMPT_PIECE_HEAD* next = pieces->pNext;
        void* raw = reinterpret_cast<void*>(pieces->uvStart);
        uint64_t rawSize = pieces->uvSize;
        uint8_t source = pieces->ucSource;
        if (pieces->uiType == UKO_MEMPT_PIECE_HOST && pieces->uvUsed == 0 && unAppend != nullptr) {
            (void)unAppend(handle, ukoMemPieceAreaOf(raw), cb);
        }
        ukoMemPtFree(raw, rawSize, source);
        pieces = next;
    }
    return 0;
}

// ---- Lookups -------------------------------------------------------------------------------

uint32_t UKO_MemPtNoGet(const char* pszPtName, uint8_t* pucPtNo) {
    if (pszPtName == nullptr || pucPtNo == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: The parameters(%s) is NULL!", "UKO_MemPtNoGet",
                            pszPtName == nullptr ? "pszPtName" : "pucPtNo");
    }
    (void)OSAL_LockLock(&m_stMemPtTableLock);
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        const UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (ukoMemPtMagicOk(cb) && NameEq(cb->acName, pszPtName)) {
            *pucPtNo = i;
            (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
            return 0;
        }
    }
    (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
    *pucPtNo = UKO_MEMPT_INVALID_PTNO;
    return 0xFFFFFFFF;
}

uint32_t UKO_MemPtIsInstalled(uint8_t ucPtNo) {
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:m_ucMaxPtNum(%u), Inval Param ucPtNo(%u).",
                           "UKO_MemPtIsInstalled", static_cast<unsigned>(m_ucMaxPtNum),
                           static_cast<unsigned>(ucPtNo));
        return 0;
    }
    return ucPtNo < m_ucMaxPtNum && ukoMemPtMagicOk(&m_pstMemPtCb[ucPtNo]) ? 1 : 0;
}

uint32_t ukoMemPtIsInstalled(uint8_t ucPtNo) {
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO) {
        return 0;
    }
    if (ucPtNo >= m_ucMaxPtNum) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:m_ucMaxPtNum(%u), Inval Param ucPtNo(%u).",
                           "ukoMemPtIsInstalled", static_cast<unsigned>(m_ucMaxPtNum),
                           static_cast<unsigned>(ucPtNo));
        return 0;
    }
    return ukoMemPtMagicOk(&m_pstMemPtCb[ucPtNo]) ? 1 : 0;
}

uint8_t UKO_MemPtMaxNumGet() { return m_ucMaxPtNum; }
