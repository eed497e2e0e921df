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
