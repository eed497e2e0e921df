// Automatic growth of a partition: the piece an allocation adds when its partition is
// full and growth is on, and the release of such a piece when a free empties it.

#include "uko_mempt_inner.h"

namespace {

// Record of the second log hook when a request exceeds the growth limit.
struct MemAppendLimitRecord {
    uint32_t uiErrCode;
    uint8_t ucPtNo;
    uint32_t uiLine;
    const char* pcFile;
    uint64_t uvFreeSize;
};
static_assert(sizeof(MemAppendLimitRecord) == 32, "the record is 32 bytes");

uint64_t AlgoFreeBytes(UKO_MEMPT_CB* cb) {
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    if (cb->stOps.pfnInfoGet != nullptr) {
        (void)cb->stOps.pfnInfoGet(cb->pAlgoHandle, &total, &freeBytes, cb);
    }
    return freeBytes;
}

}  // namespace

uint32_t ukoMemAutoAppend(UKO_MEMPT_CB* cb, uint8_t ucPtNo, uint64_t uvReqSize, uint64_t* puvAppended) {
    const char* fn = "ukoMemAutoAppend";
    uint64_t piece = cb->pfnAppendSize != nullptr ? cb->pfnAppendSize(ucPtNo) : cb->uvInitSize / 2;
    if (piece < UKO_MEMPT_MIN_APPEND_SIZE) {
        piece = UKO_MEMPT_MIN_APPEND_SIZE;
    }
    if (uvReqSize > piece) {
        if (cb->pfnAppendLimit != nullptr && uvReqSize > cb->pfnAppendLimit(ucPtNo)) {
            MemAppendLimitRecord rec{UKO_MEMPT_ERR_APPEND_LIMIT, ucPtNo, __LINE__, "uko_mempt",
                                     AlgoFreeBytes(cb)};
            (UKO_LogHook2Get())(UKO_LOG_LEVEL_ERROR, static_cast<uint16_t>(UKO_MEMPT_ERR_APPEND_LIMIT & 0xFFFF),
                                static_cast<uint16_t>(UKO_MEMPT_ERR_APPEND_LIMIT >> 16), "uko_mempt",
                                __LINE__, &rec, static_cast<uint32_t>(sizeof(rec)));
            return UKO_EINVAL;
        }
        piece = uvReqSize + 7 < uvReqSize ? 0 : (uvReqSize + 7) & ~uint64_t{7};
    }
    uint64_t size = piece + UKO_MEMPT_APPEND_OVERHEAD + 7;
    if (piece == 0 || size < piece) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:uvAppendSize(%lu) is too large.", fn, uvReqSize);
    }
    size &= ~uint64_t{7};
    void* mem = nullptr;
    uint8_t source = UKO_MEMPT_SRC_HOST;
    if (ukoMemPtAlloc(size, &mem, &source) != 0) {
        return MEMPT_REPORT(UKO_ENOMEM, "[ZIRPA-%s]: malloc append size(%lu) failed! ", fn, size);
    }
    void* area = ukoMemPieceAreaOf(mem);
    uint64_t areaSize = ukoMemPieceAreaSize(mem, size);
    uint32_t rc = cb->stOps.pfnAppend(cb->pAlgoHandle, area, areaSize);
    if (rc != 0) {
        (void)MEMPT_REPORT(rc, "[ZIRPA-%s]:MemPtNo(%u), call pfnAppend fail!", fn, static_cast<unsigned>(ucPtNo));
        ukoMemPtFree(mem, size, source);
        return UKO_EFAULT;
    }
    ukoMemPieceLink(cb, mem, size, source, UKO_MEMPT_PIECE_HOST);
    ukoMemPtTotalRefresh(cb, static_cast<int64_t>(size));
    cb->uiAppendNum++;
    *puvAppended = areaSize;
    return 0;
}

void ukoMemAutoRelease(UKO_MEMPT_CB* cb, uint8_t ucPtNo, UKO_MEMPT_PIECE_HEAD* pc) {
    if (cb->pfnKeepFree != nullptr) {
        uint64_t keep = cb->pfnKeepFree(ucPtNo);
        if (keep != 0) {
            uint64_t freeBytes = AlgoFreeBytes(cb);
            uint64_t remain = freeBytes > pc->uvSize ? freeBytes - pc->uvSize : 0;
            if (remain <= keep) {
                return;
            }
        }
    }
    void* raw = reinterpret_cast<void*>(pc->uvStart);
    if (cb->stOps.pfnUnAppend(cb->pAlgoHandle, ukoMemPieceAreaOf(raw), cb) != 0) {
        return;
    }
    uint64_t rawSize = pc->uvSize;
    uint8_t source = pc->ucSource;
    ukoMemPieceUnlink(cb, pc);
    cb->uiAppendNum--;
    ukoMemPtTotalRefresh(cb, -static_cast<int64_t>(rawSize));
    ukoMemPtFree(raw, rawSize, source);
}

// ---- Explicit pieces ---------------------------------------------------------------------------

namespace {

// Any piece of any installed partition whose raw range meets [a, a + size). Under the
// table lock; each partition's pieces under its own lock.
bool AnyPieceOverlaps(uintptr_t a, uint64_t size) {
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(cb)) {
            continue;
        }
        (void)OSAL_LockLock(&cb->stLock);
        bool overlap = false;
        for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr && !overlap; pc = pc->pNext) {
            overlap = a < pc->uvStart + pc->uvSize && pc->uvStart < a + size;
        }
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        if (overlap) {
            return true;
        }
    }
    return false;
}

}  // namespace

uint32_t UKO_MemPtAppend(uint8_t ucPtNo, void* pAddr, uint64_t uvSize) {
    const char* fn = "UKO_MemPtAppend";
    const unsigned no = ucPtNo;
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO || ucPtNo >= m_ucMaxPtNum) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_PARAM, "[ZIRPA-%s]:m_ucMaxPtNum(%u), Inval Param ucPtNo(%u).", fn,
                            static_cast<unsigned>(m_ucMaxPtNum), no);
    }
    // An area running past the end of the address space would wrap below its start and
    // slip through the overlap check.
    if (uvSize < UKO_MEMPT_MIN_APPEND_SIZE ||
        (pAddr != nullptr && reinterpret_cast<uintptr_t>(pAddr) + uvSize < reinterpret_cast<uintptr_t>(pAddr))) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_APPEND_SIZE, "[ZIRPA-%s]:ucPtNo(%u), Inval Param pAddr(0x%p), uvSize(%lu).",
                            fn, no, pAddr, uvSize);
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    auto notInstalled = [&]() { return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPt(%u) is not installed.", fn, no); };

    // A caller's area is checked against every piece and joins under the table lock, so
    // that no other area can be placed over it in between.
    (void)OSAL_LockLock(&m_stMemPtTableLock);
    const bool tableHeld = pAddr != nullptr;
    if (!ukoMemPtMagicOk(cb)) {
        (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
        return notInstalled();
    }
    void* mem = pAddr;
    uint8_t source = UKO_MEMPT_SRC_CALLER;
    if (tableHeld) {
        if (AnyPieceOverlaps(reinterpret_cast<uintptr_t>(pAddr), uvSize)) {
            (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
            return MEMPT_REPORT(UKO_MEMPT_ERR_OVERLAP, "[ZIRPA-%s]:MemPtNo(%u), memory pAddr(0x%p) overlap.", fn, no,
                                pAddr);
        }
    } else {
        (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
        uint32_t rc = ukoMemPtAlloc(uvSize, &mem, &source);
        if (rc != 0) {
            return MEMPT_REPORT(rc, "[ZIRPA-%s]:MemPt(%u) malloc(%lu) fail.", fn, no, uvSize);
        }
    }
    // Host memory goes back on failure. A caller's area stays the caller's, left as it
    // came unless the algorithm was given it.
    bool bAlgoTried = false;
    auto fail = [&](uint32_t code) {
        if (tableHeld) {
            (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
        }
        if (source == UKO_MEMPT_SRC_HOST || bAlgoTried) {
            ukoMemPtFree(mem, uvSize, source);
        }
        return code;
    };
    void* area = ukoMemPieceAreaOf(mem);
    const uint64_t areaSize = ukoMemPieceAreaSize(mem, uvSize);
    if (!ukoMemPtMagicOk(cb)) {
        return fail(notInstalled());
    }
    (void)OSAL_LockLock(&cb->stLock);
    if (!ukoMemPtMagicOk(cb)) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return fail(notInstalled());
    }
    if (cb->stOps.pfnAppend == nullptr) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return fail(MEMPT_REPORT(UKO_MEMPT_ERR_NO_APPEND_API, "[ZIRPA-%s]:MemPtNo(%u), pfnAppend is null.", fn, no));
    }
    if (cb->uiAppendNum >= m_uiMemPtAppendMax) {
        const unsigned used = cb->uiAppendNum;
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return fail(MEMPT_REPORT(UKO_MEMPT_ERR_APPEND_FULL,
                                 "[ZIRPA-%s]:the current used append num in MemPtNo(%u) is %u, it has exceed the max "
                                 "mem append num(%u)",
                                 fn, no, used, static_cast<unsigned>(m_uiMemPtAppendMax)));
    }
    bAlgoTried = true;
    uint32_t rc = cb->stOps.pfnAppend(cb->pAlgoHandle, area, areaSize);
    if (rc != 0) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        (void)MEMPT_REPORT(rc, "[ZIRPA-%s]:MemPtNo(%u), call pfnAppend fail.", fn, no);
        return fail(UKO_MEMPT_ERR_APPEND);
    }
    ukoMemPieceLink(cb, mem, uvSize, source,
                    source == UKO_MEMPT_SRC_CALLER ? UKO_MEMPT_PIECE_CALLER : UKO_MEMPT_PIECE_HOST);
    ukoMemPtTotalRefresh(cb, static_cast<int64_t>(uvSize));
    cb->uiAppendNum++;
    cb->uiFlags |= UKO_MEMPT_FLAG_APPENDED;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    if (tableHeld) {
        (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0);
    }
    return 0;
}

uint32_t UKO_MemPtShrink(uint8_t ucPtNo, void* pAddr) {
    const char* fn = "UKO_MemPtShrink";
    const unsigned no = ucPtNo;
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO || ucPtNo >= m_ucMaxPtNum) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param ucPtNo(%u).", fn, no);
        return 0;
    }
    if (pAddr == nullptr) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPtNo(%u), the Param pAddr is null.", fn, no);
        return 0;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPt(%u) is not installed.", fn, no);
        return 0;
    }
    (void)OSAL_LockLock(&cb->stLock);
    if (!ukoMemPtMagicOk(cb)) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPt(%u) is not installed.", fn, no);
        return 0;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(pAddr);
    UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList;
    while (pc != nullptr && pc->uvMagic == UKO_MEMPT_PIECE_MAGIC && pc->uvStart != start) {
        pc = pc->pNext;
    }
    // Only a caller's piece without blocks, and only when the algorithm lets go of it:
    // a host piece belongs to the partition, and a piece with blocks is still in use.
    if (pc == nullptr || pc->uvMagic != UKO_MEMPT_PIECE_MAGIC || pc->uiType != UKO_MEMPT_PIECE_CALLER ||
        pc->uvUsed != 0 || cb->stOps.pfnUnAppend == nullptr ||
        cb->stOps.pfnUnAppend(cb->pAlgoHandle, ukoMemPieceAreaOf(pAddr), cb) != 0) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return 0;
    }
    const uint64_t rawSize = pc->uvSize;
    ukoMemPieceUnlink(cb, pc);
    pc->uvMagic = 0;
    cb->uiAppendNum--;
    if (cb->uiAppendNum == 0) {
        cb->uiFlags &= ~UKO_MEMPT_FLAG_APPENDED;
    }
    ukoMemPtTotalRefresh(cb, -static_cast<int64_t>(rawSize));
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    // The area is the caller's again, every byte of it usable.
    ukoMemPtFree(pAddr, rawSize, UKO_MEMPT_SRC_CALLER);
    return 1;
}

// ---- Growth settings -----------------------------------------------------------------------------

uint32_t UKO_MemPtAutoFlexSetEx(uint8_t ucPtNo, uint32_t uiOn, uint32_t enPosition,
                                UKO_MEMPT_SIZE_FUNC_PF pfnAppendSize, UKO_MEMPT_SIZE_FUNC_PF pfnKeepFree,
                                UKO_MEMPT_SIZE_FUNC_PF pfnAppendLimit) {
    const char* fn = "UKO_MemPtAutoFlexSetEx";
    const unsigned no = ucPtNo;
    if (ucPtNo >= m_ucMaxPtNum || !ukoMemPtMagicOk(&m_pstMemPtCb[ucPtNo])) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid PtNo(%u).", fn, no);
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    (void)OSAL_LockLock(&cb->stLock);
    if (!ukoMemPtMagicOk(cb)) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid PtNo(%u).", fn, no);
    }
    if (uiOn != 0) {
        if (enPosition != 0 && enPosition != 1) {
            (void)OSAL_LockUnLock(&cb->stLock, 0);
            return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param enPosition(%u).", fn, enPosition);
        }
        // Both positions grow when an allocation fails: that is the only growth there is.
        cb->uiFlags |= UKO_MEMPT_FLAG_AUTO_APPEND;
        cb->uiAppendPosition = 0;
        cb->pfnAppendSize = pfnAppendSize;
        cb->pfnKeepFree = pfnKeepFree;
        cb->pfnAppendLimit = pfnAppendLimit;
    } else {
        // The added pieces stay. While there are any, the flags keep saying so, grown
        // pieces included: with flags of 0 a block would be charged to the newest piece
        // whatever piece holds it, and a piece could later be given back with blocks in it.
        cb->uiFlags = cb->uiAppendNum != 0 ? UKO_MEMPT_FLAG_APPENDED : 0;
    }
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return 0;
}

uint32_t UKO_MemPtAutoFlexSet(uint8_t ucPtNo, uint32_t uiOn, uint32_t enPosition,
                              UKO_MEMPT_SIZE_FUNC_PF pfnAppendSize, UKO_MEMPT_SIZE_FUNC_PF pfnKeepFree) {
    return UKO_MemPtAutoFlexSetEx(ucPtNo, uiOn, enPosition, pfnAppendSize, pfnKeepFree, pfnAppendSize);
}

uint32_t UKO_MemAutoFlexPositionSetAll(uint32_t /*enPosition*/) {
    // Growth positions can only be set while the system-wide growth switch is on, and
    // nothing in this system turns it on.
    return 0;
}
