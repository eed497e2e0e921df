// Queries on the partitions: sizes of one partition and of all, the largest block still
// available, piece lists, usage rates, the algorithm's size classes, and the statistics
// table of the show command. None of them changes a partition.
//
// Every query that walks a partition's pieces or asks its algorithm about its state
// does so under the partition's lock: a free in another thread may give a grown piece
// back to the host at any moment, and the algorithm's lists change with every
// allocation.

#include <cstring>

#include "mem_asan.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"

namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr uint64_t kUsageScaleLimit = 0x28F5C28F5C28F5C;  // largest value whose hundredfold fits
constexpr uint32_t kNameCopyLen = UKO_MEMPT_NAME_LEN - 1;

const char kNotCreated[] = "[ZIRPA-%s]:MemPtNo(%u) is not created!";
const char kNotInstalled[] = "[ZIRPA-%s]:MemPt(%u) is not installed.";
const char kInvalidPtNo[] = "[ZIRPA-%s]: Invalid PtNo(%u).";
const char kParamNull[] = "[ZIRPA-%s]: The parameters(%s) is NULL!";
const char kPieceDamaged[] = "[ZIRPA-%s]:MemPtNo(%u) piece(0x%p) was damaged.";
const char kIllegalRate[] = "[ZIRPA-%s]: The result of getuserate is illegal!";

unsigned U(uint8_t v) { return v; }

bool InRange(uint8_t ucPtNo) { return ucPtNo < m_ucMaxPtNum; }
bool Installed(uint8_t ucPtNo) { return InRange(ucPtNo) && ukoMemPtMagicOk(&m_pstMemPtCb[ucPtNo]); }

// The partition's lock, held while it lives, for a partition that was installed when it
// was taken; a deletion that slipped in before shows as a free slot afterwards.
class PtLock {
public:
    explicit PtLock(UKO_MEMPT_CB* cb) : cb_(cb) { (void)OSAL_LockLock(&cb_->stLock); }
    ~PtLock() { (void)OSAL_LockUnLock(&cb_->stLock, 0); }
    PtLock(const PtLock&) = delete;
    PtLock& operator=(const PtLock&) = delete;
    bool Installed() const { return ukoMemPtMagicOk(cb_); }

private:
    UKO_MEMPT_CB* cb_;
};

class TableLock {
public:
    TableLock() { (void)OSAL_LockLock(&m_stMemPtTableLock); }
    ~TableLock() { (void)OSAL_LockUnLock(&m_stMemPtTableLock, 0); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
};

// Usage in percent of total T with free F. Free bytes above the total (an algorithm
// that miscounts) make the rate impossible rather than dividing by a total below 100.
uint64_t Usage(uint64_t T, uint64_t F) {
    if (T == 0 || F == 0) {
        return 100;
    }
    uint64_t used = T - F;
    if (used <= kUsageScaleLimit) {
        return used * 100 / T;
    }
    uint64_t hundredth = T / 100;
    return hundredth == 0 ? kAllOnes : used / hundredth;
}

// The algorithm's total and free bytes, both 0 without its answer. Under the lock.
void AlgoInfo(UKO_MEMPT_CB* cb, uint64_t* puvTotal, uint64_t* puvFree) {
    *puvTotal = 0;
    *puvFree = 0;
    if (cb->stOps.pfnInfoGet != nullptr) {
        (void)cb->stOps.pfnInfoGet(cb->pAlgoHandle, puvTotal, puvFree, cb);
    }
}

// Raw size of the partition's pieces; a damaged piece is reported and ends the walk.
// Under the lock.
uint64_t RawSize(UKO_MEMPT_CB* cb, uint8_t ucPtNo, const char* fn, bool* pbDamaged) {
    uint64_t sum = 0;
    *pbDamaged = false;
    for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            (void)MEMPT_REPORT(UKO_EINVAL, kPieceDamaged, fn, U(ucPtNo), static_cast<const void*>(pc));
            *pbDamaged = true;
            break;
        }
        sum += pc->uvSize;
    }
    return sum;
}

// The word in front of a pointer, read as the allocation functions read it: an unknown
// pointer may sit right behind a sanitizer redzone.
typedef uint64_t __attribute__((aligned(1))) UnalignedWord;
MEM_NO_ASAN uint64_t PeekWord(const void* p) {
    return *reinterpret_cast<const UnalignedWord*>(static_cast<const uint8_t*>(p) - 8);
}

// The pointer UKO_MemAlloc returned for a pointer that may have been moved to an
// alignment.
uint8_t* UndoAlignTag(void* p) {
    auto* q = static_cast<uint8_t*>(p);
    uint64_t w = PeekWord(q);
    bool tag = (w & UKO_MEM_ALIGN_TAG_PATTERN) == UKO_MEM_ALIGN_TAG_PATTERN &&
               (w & ~UKO_MEM_ALIGN_TAG_DIST_MASK) == UKO_MEM_ALIGN_TAG_PATTERN;
    return tag ? q - ((w >> 12) & 0xFF) : q;
}

}  // namespace

// ---- Single partition sizes ----------------------------------------------------------------------

uint64_t UKO_MemPtFreeSizeGet(uint8_t ucPtNo) {
    const char* fn = "UKO_MemPtFreeSizeGet";
    if (!InRange(ucPtNo)) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param ucPtNo(%u) >= MaxPtNo(%u).", fn, U(ucPtNo),
                           U(m_ucMaxPtNum));
        return kAllOnes;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        (void)MEMPT_REPORT(UKO_EINVAL, kNotCreated, fn, U(ucPtNo));
        return kAllOnes;
    }
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    {
        PtLock lock(cb);
        if (!lock.Installed()) {
            (void)MEMPT_REPORT(UKO_EINVAL, kNotCreated, fn, U(ucPtNo));
            return kAllOnes;
        }
        AlgoInfo(cb, &total, &freeBytes);
    }
    return freeBytes;
}

uint64_t UKO_MemPtTotalSizeGet(uint8_t ucPtNo) {
    const char* fn = "UKO_MemPtTotalSizeGet";
    if (!InRange(ucPtNo)) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param ucPtNo(%u) >= MaxPtNo(%u).", fn, U(ucPtNo),
                           U(m_ucMaxPtNum));
        return kAllOnes;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPtNo(%u) is not created.", fn, U(ucPtNo));
        return kAllOnes;
    }
    PtLock lock(cb);
    if (!lock.Installed()) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:MemPtNo(%u) is not created.", fn, U(ucPtNo));
        return kAllOnes;
    }
    bool damaged = false;
    uint64_t sum = RawSize(cb, ucPtNo, fn, &damaged);
    return damaged ? kAllOnes : sum;
}

uint64_t UKO_MaxUsableSizeGet(uint8_t ucPtNo) {
    if (UKO_MemPtIsInstalled(ucPtNo) == 0) {
        return 0;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    PtLock lock(cb);
    if (UKO_MemPtIsInstalled(ucPtNo) == 0) {
        return 0;
    }
    if (cb->stOps.pfnGetMaxUsableSize == nullptr) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:pfnGetMaxUsableSize = 0!", "UKO_MaxUsableSizeGet");
        return 0;
    }
    uint64_t largest = cb->stOps.pfnGetMaxUsableSize(cb->pAlgoHandle);
    return largest > UKO_MEM_BLOCK_HEAD_SIZE ? largest - UKO_MEM_BLOCK_HEAD_SIZE : 0;
}

uint64_t ukoMemSizeUsrToTotal(uint8_t ucPtNo, uint64_t uvUsrSize) {
    const char* fn = "ukoMemSizeUsrToTotal";
    if (!Installed(ucPtNo)) {
        (void)MEMPT_REPORT(UKO_EINVAL, kNotInstalled, fn, U(ucPtNo));
        return UKO_EINVAL;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    PtLock lock(cb);
    if (!lock.Installed()) {
        (void)MEMPT_REPORT(UKO_EINVAL, kNotInstalled, fn, U(ucPtNo));
        return UKO_EINVAL;
    }
    uint64_t total = uvUsrSize + UKO_MEM_BLOCK_HEAD_SIZE;
    UKO_MEM_RESERVED_PF withHead = cb->stOps.pfReserved[1];
    return withHead != nullptr ? withHead(total) : total;
}

// ---- All partitions ------------------------------------------------------------------------------

uint64_t UKO_MemTotalSizeGet() {
    uint64_t sum = 0;
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(cb)) {
            continue;
        }
        PtLock lock(cb);
        if (lock.Installed()) {
            bool damaged = false;
            sum += RawSize(cb, i, "UKO_MemTotalSizeGet", &damaged);
        }
    }
    return sum;
}

uint64_t UKO_MemFreeSizeGet() {
    uint64_t sum = 0;
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(cb)) {
            continue;
        }
        PtLock lock(cb);
        if (lock.Installed()) {
            uint64_t total = 0;
            uint64_t freeBytes = 0;
            AlgoInfo(cb, &total, &freeBytes);
            sum += freeBytes;
        }
    }
    return sum;
}

// ---- Records ----------------------------------------------------------------------------------

uint32_t UKO_MemPtNameGetByPtNo(uint8_t ucPtNo, char* pszPtName) {
    if (pszPtName == nullptr || !InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pszPtName(0x%p) or ucPtNo(%u).",
                            "UKO_MemPtNameGetByPtNo", static_cast<void*>(pszPtName), U(ucPtNo));
    }
    TableLock table;
    const UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return UKO_EINVAL;
    }
    std::memset(pszPtName, 0, UKO_MEMPT_NAME_LEN);
    (void)UKO_strncpy_s(pszPtName, UKO_MEMPT_NAME_LEN, cb->acName, kNameCopyLen);
    return 0;
}

uint32_t UKO_MemInfoGetByPtNo(uint8_t ucPtNo, UKO_MEMPT_INFO* pMemptInfo) {
    const char* fn = "UKO_MemInfoGetByPtNo";
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: PtNo(%u) error!", fn, U(ucPtNo));
    }
    // The table lock keeps the partition from being deleted while the record is filled;
    // the size queries below take its own lock in turn.
    TableLock table;
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return UKO_MEMPT_ERR_NOT_INSTALLED;
    }
    if (pMemptInfo == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pMemptInfo is null.", fn);
    }
    std::memset(pMemptInfo, 0, sizeof(*pMemptInfo));
    {
        PtLock lock(cb);
        pMemptInfo->uiPieceNum = cb->uiAppendNum + 1;
        (void)UKO_strncpy_s(pMemptInfo->acPtName, UKO_MEMPT_NAME_LEN, cb->acName, kNameCopyLen);
        (void)UKO_strncpy_s(pMemptInfo->acAlgoName, UKO_MEMPT_NAME_LEN, cb->acAlgoName, kNameCopyLen);
    }
    pMemptInfo->uvTotalSize = UKO_MemPtTotalSizeGet(ucPtNo);
    pMemptInfo->uvFreeSize = UKO_MemPtFreeSizeGet(ucPtNo);
    pMemptInfo->uiUsage = static_cast<uint32_t>(Usage(pMemptInfo->uvTotalSize, pMemptInfo->uvFreeSize));
    pMemptInfo->uvMaxUsableSize = UKO_MaxUsableSizeGet(ucPtNo);
    pMemptInfo->uiPtNo = ucPtNo;
    return 0;
}

uint32_t UKO_MemPieceInfoGetByPtNo(uint8_t ucPtNo, uint32_t* puiPieceNum, UKO_MEMPT_PIECE_INFO* pMemptPieceInfo) {
    const char* fn = "UKO_MemPieceInfoGetByPtNo";
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: PtNo(%u) error!", fn, U(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return UKO_MEMPT_ERR_NOT_INSTALLED;
    }
    if (puiPieceNum == nullptr || *puiPieceNum == 0) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param puiPieceNum is null or the value is 0.", fn);
    }
    if (pMemptPieceInfo == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The param pMemptPieceInfo is null.", fn);
    }
    PtLock lock(cb);
    if (!lock.Installed()) {
        return UKO_MEMPT_ERR_NOT_INSTALLED;
    }
    // The first piece is the last on the list: find it, checking every head on the way,
    // then walk back towards the newest.
    const UKO_MEMPT_PIECE_HEAD* first = nullptr;
    for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            (void)MEMPT_REPORT(UKO_EINVAL, kPieceDamaged, fn, U(ucPtNo), static_cast<const void*>(pc));
            first = nullptr;
            break;
        }
        first = pc;
    }
    const uint32_t capacity = *puiPieceNum;
    uint32_t n = 0;
    uint64_t othersUsed = 0;
    for (const UKO_MEMPT_PIECE_HEAD* pc = first; pc != nullptr && n < capacity; pc = pc->pPrev) {
        UKO_MEMPT_PIECE_INFO& e = pMemptPieceInfo[n];
        e.uiIndex = n;
        e.uvSize = pc->uvSize;
        e.uvUsed = pc->uvUsed;
        e.uvStart = pc->uvStart;
        e.uvEnd = pc->uvStart + pc->uvSize;
        e.ucSource = pc->ucSource;
        if (n != 0) {
            othersUsed += pc->uvUsed;
        }
        ++n;
    }
    if (n != 0) {
        pMemptPieceInfo[0].uvUsed = cb->uvUsedSize - othersUsed;
    }
    *puiPieceNum = n;
    return 0;
}

uint32_t UKO_MemPtPieceStartAddrGet(uint8_t ucPtNo, const void* pAddr, void** ppStartAddr,
                                    uint64_t* puiPtBlockSize) {
    const char* fn = "UKO_MemPtPieceStartAddrGet";
    if (pAddr == nullptr || ppStartAddr == nullptr || puiPtBlockSize == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, kParamNull, fn,
                            pAddr == nullptr ? "pAddr" : (ppStartAddr == nullptr ? "ppStartAddr" : "puiPtBlockSize"));
    }
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid MemPtNo(%u).", fn, U(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    PtLock lock(cb);
    if (!lock.Installed()) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: MemPtNo(%u) is not created!", fn, U(ucPtNo));
    }
    const uintptr_t a = reinterpret_cast<uintptr_t>(pAddr);
    for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            return MEMPT_REPORT(UKO_EINVAL, kPieceDamaged, fn, U(ucPtNo), static_cast<const void*>(pc));
        }
        if (ukoMemPieceHolds(pc, a)) {
            *ppStartAddr = reinterpret_cast<void*>(pc->uvStart);
            *puiPtBlockSize = pc->uvSize;
            return 0;
        }
    }
    return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid pAddr(0x%p), is not in the MemPtNo(%u) range.", fn, pAddr,
                        U(ucPtNo));
}

uint32_t UKO_MemPtUsedBlockGet(uint8_t ucPtNo, uint64_t* pulSize, uint64_t* pulNum) {
    const char* fn = "UKO_MemPtUsedBlockGet";
    if (pulSize == nullptr || pulNum == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, kParamNull, fn, pulSize == nullptr ? "pulSize" : "pulNum");
    }
    if (!Installed(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid PtNo(%u).", fn, U(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    PtLock lock(cb);
    if (!lock.Installed()) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid PtNo(%u).", fn, U(ucPtNo));
    }
    if (cb->stOps.pfnGetUsedBlock == nullptr) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:pfnGetUsedBlock = 0!", fn);
        return UKO_MEMPT_ERR_NO_API;
    }
    cb->stOps.pfnGetUsedBlock(cb->pAlgoHandle, pulSize, pulNum);
    return 0;
}

// ---- Rates ------------------------------------------------------------------------------------

uint32_t ukoMemPtGetUseRate(uint8_t ucPtNo) {
    const char* fn = "ukoMemPtGetUseRate";
    if (ucPtNo == UKO_MEMPT_INVALID_PTNO || !InRange(ucPtNo)) {
        (void)MEMPT_REPORT(UKO_EINVAL, kInvalidPtNo, fn, U(ucPtNo));
        return 0xFFFFFFFF;
    }
    uint64_t total = UKO_MemPtTotalSizeGet(ucPtNo);
    uint64_t freeBytes = UKO_MemPtFreeSizeGet(ucPtNo);
    // Both queries have reported their own failure; all ones is no size to rate.
    if (total == kAllOnes || freeBytes == kAllOnes) {
        return 0xFFFFFFFF;
    }
    uint64_t usage = Usage(total, freeBytes);
    if (usage > 100) {
        (void)MEMPT_REPORT(UKO_MEMPT_ERR_USE_RATE, kIllegalRate, fn);
        return 0xFFFFFFFF;
    }
    return static_cast<uint32_t>(usage);
}

uint32_t ukoMemPtGetPTUsedInfo(uint8_t ucPtNo, uint64_t* puvTotal, uint64_t* puvFree, uint32_t* puiUsage) {
    const char* fn = "ukoMemPtGetPTUsedInfo";
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, kInvalidPtNo, fn, U(ucPtNo));
    }
    if (puvTotal == nullptr || puvFree == nullptr || puiUsage == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, kParamNull, fn,
                            puvTotal == nullptr ? "puvTotal" : (puvFree == nullptr ? "puvFree" : "puiUsage"));
    }
    uint64_t total = 0;
    uint64_t freeBytes = 0;
    {
        // A slot that is not installed has no operations: both sizes stay 0.
        PtLock lock(&m_pstMemPtCb[ucPtNo]);
        AlgoInfo(&m_pstMemPtCb[ucPtNo], &total, &freeBytes);
    }
    uint64_t usage = Usage(total, freeBytes);
    if (usage > 100) {
        (void)MEMPT_REPORT(UKO_MEMPT_ERR_USE_RATE, kIllegalRate, fn);
        usage = 0;
    }
    *puvTotal = total;
    *puvFree = freeBytes;
    *puiUsage = static_cast<uint32_t>(usage);
    return 0;
}

// ---- Size classes ------------------------------------------------------------------------------

uint32_t UKO_MemPtTypeNumGet(uint8_t ucPtNo, uint32_t* puiTypeNum) {
    const char* fn = "UKO_MemPtTypeNumGet";
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, kInvalidPtNo, fn, U(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return MEMPT_REPORT(UKO_EINVAL, kNotInstalled, fn, U(ucPtNo));
    }
    if (puiTypeNum == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param puiTypeNum is null.", fn);
    }
    *puiTypeNum = 0;
    UKO_MEM_TYPENUM_PF typeNum = cb->stOps.pfnTypeNumGet;
    if (typeNum == nullptr) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_NO_API, "[ZIRPA-%s]:pfnTypeNumGet = 0!", fn);
    }
    *puiTypeNum = typeNum();
    return 0;
}

uint32_t UKO_MemPtFreeNumByTypeGet(uint8_t ucPtNo, uint32_t uiType, uint32_t* puiNum, uint32_t* puiFreeNum) {
    if (!InRange(ucPtNo)) {
        return UKO_EINVAL;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return MEMPT_REPORT(UKO_EINVAL, kNotInstalled, "UKO_MemPtFreeNumByTypeGet", U(ucPtNo));
    }
    if (puiNum == nullptr || puiFreeNum == nullptr) {
        return UKO_EINVAL;
    }
    *puiNum = 0xFFFFFFFF;
    *puiFreeNum = 0xFFFFFFFF;
    PtLock lock(cb);
    if (!lock.Installed()) {
        return MEMPT_REPORT(UKO_EINVAL, kNotInstalled, "UKO_MemPtFreeNumByTypeGet", U(ucPtNo));
    }
    if (cb->stOps.pfnFreeNumByTypeGet == nullptr) {
        return UKO_MEMPT_ERR_NO_API;
    }
    cb->stOps.pfnFreeNumByTypeGet(cb->pAlgoHandle, uiType, puiNum, puiFreeNum);
    return 0;
}

uint32_t UKO_MemSliceByTypeGet(uint8_t ucPtNo, uint32_t ulType, uint32_t* puiSliceSize) {
    const char* fn = "UKO_MemSliceByTypeGet";
    if (!InRange(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, kInvalidPtNo, fn, U(ucPtNo));
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return MEMPT_REPORT(UKO_EINVAL, kNotInstalled, fn, U(ucPtNo));
    }
    if (puiSliceSize == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, kParamNull, fn, "puiSliceSize");
    }
    uint32_t typeNum = 0;
    if (UKO_MemPtTypeNumGet(ucPtNo, &typeNum) != 0) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_NO_API, "[ZIRPA-%s]:pfnTypeNumGet = 0!", fn);
    }
    // The class count itself names the algorithm's largest class.
    if (ulType > typeNum) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:the param ulType(%u) is larger than MaxType(%u).", fn, ulType,
                            typeNum);
    }
    UKO_MEM_RESERVED_PF classSize = cb->stOps.pfReserved[0];
    if (classSize == nullptr) {
        return MEMPT_REPORT(UKO_MEMPT_ERR_NO_API, "[ZIRPA-%s]:pfReserved[0] = 0!", fn);
    }
    *puiSliceSize = static_cast<uint32_t>(classSize(ulType));
    return 0;
}

uint32_t ukoMemTypeAndSizeByAddrGet(void* pTempAddr, uint32_t* puiType, uint64_t* puvSize, uint8_t ucPtNo) {
    const char* fn = "ukoMemTypeAndSizeByAddrGet";
    if (pTempAddr == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, kParamNull, fn, "pTempAddr");
    }
    uint32_t rc = ukoMemAddrInPtCheck(pTempAddr, ucPtNo);
    if (rc != 0) {
        return MEMPT_REPORT(rc, "[ZIRPA-%s]:UKO_MemPtFind(0x%p) fail!", fn, pTempAddr);
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    PtLock lock(cb);
    if (cb->stOps.pfnTypeAndSizeGet == nullptr) {
        return UKO_MEMPT_ERR_NO_API;
    }
    return cb->stOps.pfnTypeAndSizeGet(static_cast<uint8_t*>(pTempAddr) - UKO_MEM_BLOCK_HEAD_SIZE, puiType,
                                       puvSize, ucPtNo);
}

uint64_t ukoMemBlockSizeGet(uint8_t ucPtNo, void* pAddr) {
    if (pAddr == nullptr || !InRange(ucPtNo)) {
        return kAllOnes;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    uint8_t* p = UndoAlignTag(pAddr);
    PtLock lock(cb);
    UKO_MEM_USABLESIZE_PF usable = cb->stOps.pfnUsableSizeGet;
    return usable != nullptr ? usable(p - UKO_MEM_BLOCK_HEAD_SIZE) : kAllOnes;
}

uint32_t ukoMemAddrInPtCheck(const void* pAddr, uint8_t ucPtNo) {
    if (pAddr == nullptr || !InRange(ucPtNo)) {
        return UKO_EINVAL;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    const uintptr_t a = reinterpret_cast<uintptr_t>(pAddr);
    PtLock lock(cb);
    for (const UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            break;
        }
        if (ukoMemPieceHolds(pc, a)) {
            return 0;
        }
    }
    return UKO_EINVAL;
}

// ---- Small queries ------------------------------------------------------------------------------

uint32_t UKO_MemPtInstalledNumGet() {
    uint32_t n = 0;
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        if (ukoMemPtIsInstalled(i) != 0) {
            ++n;
        }
    }
    return n;
}

uint32_t UKO_MemPtSlotFlagsGet(uint8_t* pucFlags) {
    if (pucFlags == nullptr) {
        return UKO_EINVAL;
    }
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        pucFlags[i] = static_cast<uint8_t>(__atomic_load_n(&m_pstMemPtCb[i].uiSlotFlag, __ATOMIC_RELAXED));
    }
    return 0;
}

// ---- Show ------------------------------------------------------------------------------------------

char* ukoMemSizeToStr(uint64_t uvValue, char* pcBuf) {
    if (pcBuf == nullptr) {
        return pcBuf;
    }
    // The value's thousands groups, highest first.
    uint64_t g[7] = {};
    uint32_t groups = 0;
    for (uint64_t v = uvValue;; v /= 1000) {
        g[groups++] = v % 1000;
        if (v < 1000) {
            break;
        }
    }
    auto at = [&](uint32_t k) { return static_cast<unsigned long>(g[groups - 1 - k]); };
    int len = -1;
    switch (groups) {
        case 1:
            len = UKO_sprintf_s(pcBuf, 4, "%lu", at(0));
            break;
        case 2:
            len = UKO_sprintf_s(pcBuf, 8, "%lu,%03lu", at(0), at(1));
            break;
        case 3:
            len = UKO_sprintf_s(pcBuf, 12, "%lu,%03lu,%03lu", at(0), at(1), at(2));
            break;
        case 4:
            len = UKO_sprintf_s(pcBuf, 16, "%lu,%03lu,%03lu,%03lu", at(0), at(1), at(2), at(3));
            break;
        case 5:
            len = UKO_sprintf_s(pcBuf, UKO_MEM_SIZE_STR_LEN, "%lu,%03lu,%03lu,%03lu,%03lu", at(0), at(1), at(2), at(3),
                                at(4));
            break;
        case 6:
            len = UKO_sprintf_s(pcBuf, UKO_MEM_SIZE_STR_LEN, "%lu,%03lu,%03lu,%03lu,%03lu,%03lu", at(0), at(1), at(2),
                                at(3), at(4), at(5));
            break;
        default:
            len = UKO_sprintf_s(pcBuf, UKO_MEM_SIZE_STR_LEN, "%lu,%03lu,%03lu,%03lu,%03lu,%03lu,%03lu", at(0), at(1),
                                at(2), at(3), at(4), at(5), at(6));
            break;
    }
    if (len < 0) {
        pcBuf[0] = '\0';
    } else {
        pcBuf[len < static_cast<int>(UKO_MEM_SIZE_STR_LEN) ? len : UKO_MEM_SIZE_STR_LEN - 1] = '\0';
    }
    return pcBuf;
}

uint32_t ukoMemPtStatShow(uint32_t uiTarget) {
    char stars[81];
    char dashes[81];
    std::memset(stars, '*', 80);
    std::memset(dashes, '-', 80);
    stars[80] = '\0';
    dashes[80] = '\0';
    char total[UKO_MEM_SIZE_STR_LEN];
    char freeStr[UKO_MEM_SIZE_STR_LEN];
    char usable[UKO_MEM_SIZE_STR_LEN];

    (void)UKO_ShowPrint(uiTarget, "\r\n%s", stars);
    (void)UKO_ShowPrint(uiTarget,
                        "\r\nPtNo       PtName     PieceNum  TotalSize(B)               FreeSize(B)                "
                        "MaxUsableSize(B)           Usage");
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", dashes);
    uint64_t sumTotal = 0;
    uint64_t sumFree = 0;
    uint32_t sumPieces = 0;
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_INFO info;
        if (UKO_MemInfoGetByPtNo(i, &info) != 0) {
            continue;
        }
        (void)UKO_ShowPrint(uiTarget, "\r\n%-10u %-10s %-9u %#-26s %#-26s %#-26s %-3d%%", info.uiPtNo, info.acPtName,
                            info.uiPieceNum, ukoMemSizeToStr(info.uvTotalSize, total),
                            ukoMemSizeToStr(info.uvFreeSize, freeStr), ukoMemSizeToStr(info.uvMaxUsableSize, usable),
                            static_cast<int>(info.uiUsage));
        sumTotal += info.uvTotalSize;
        sumFree += info.uvFreeSize;
        sumPieces += info.uiPieceNum;
    }
    (void)UKO_ShowPrint(uiTarget, "\r\n%s", dashes);
    (void)UKO_ShowPrint(uiTarget, "\r\nTotal                 %-9u %#-26s %#-26s      ---                  %3d%%",
                        sumPieces, ukoMemSizeToStr(sumTotal, total), ukoMemSizeToStr(sumFree, freeStr),
                        static_cast<int>(Usage(sumTotal, sumFree)));
    uint32_t damage = m_uiMemDamageCount.load(std::memory_order_relaxed);
    if (damage != 0) {
        (void)UKO_ShowPrint(uiTarget, "\r\nMemory is damaged! Detect times: %u", damage);
    }
    return UKO_ShowPrint(uiTarget, "\r\n%s", stars);
}
