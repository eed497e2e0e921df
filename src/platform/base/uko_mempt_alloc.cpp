// Allocation from the partitions: the 8-byte block head, free with its four outcomes,
// reallocation, aligned blocks, reference counts, address lookups, page locking and the
// headless debug-information blocks.

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "mem_asan.h"
#include "uko_handle.h"
#include "uko_mempt_inner.h"
#include "uko_secfunc.h"

namespace {

std::atomic<UKO_MEM_ALLOC_PRE_HOOK_PF> g_pfnAllocPreHook{nullptr};
std::atomic<UKO_MEM_ALLOC_FAIL_HOOK_PF> g_pfnAllocFailHook{nullptr};
std::atomic<UKO_MEM_ERR_HOOK_PF> g_pfnErrHook{nullptr};
std::atomic<UKO_MEM_PIECE_IDLE_HOOK_PF> g_pfnPieceIdleHook{nullptr};

constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr size_t kReportLen = 2048;
constexpr size_t kHandleNameLen = UKO_HANDLE_NAME_LEN + 1;

// The word in front of a caller's pointer. After a free the algorithm poisons the
// block, head included, and a foreign pointer may sit right behind a redzone: reading
// it must not count as a sanitizer fault, since telling such pointers apart is exactly
// what the word is read for. A foreign pointer need not even be 8-aligned, hence the
// unaligned read.
typedef uint64_t __attribute__((aligned(1))) UnalignedWord;
MEM_NO_ASAN uint64_t PeekWord(const void* p) {
    return *reinterpret_cast<const UnalignedWord*>(static_cast<const uint8_t*>(p) - 8);
}

bool IsBlockHead(uint64_t w) {
    return (w & UKO_MEM_BLOCK_HEAD_MASK) == UKO_MEM_BLOCK_HEAD_PATTERN;
}
bool IsAlignTag(uint64_t w) {
    return (w & UKO_MEM_ALIGN_TAG_PATTERN) == UKO_MEM_ALIGN_TAG_PATTERN &&
           (w & ~UKO_MEM_ALIGN_TAG_DIST_MASK) == UKO_MEM_ALIGN_TAG_PATTERN;
}
uint8_t HeadPtNo(uint64_t w) { return static_cast<uint8_t>((w >> 4) & 0xFF); }
uint32_t HeadHandle(uint64_t w) { return static_cast<uint32_t>((w >> 12) & 0xFFFF); }
uint64_t MakeHead(uint8_t ucPtNo, uint32_t uiHandle) {
    return UKO_MEM_BLOCK_HEAD_PATTERN | (uint64_t{ucPtNo} << 4) | (uint64_t{uiHandle & 0xFFFF} << 12);
}

// The pointer UKO_MemAlloc returned for a pointer that may have been moved to an
// alignment.
uint8_t* UndoAlignTag(void* p) {
    auto* q = static_cast<uint8_t*>(p);
    uint64_t w = PeekWord(q);
    return IsAlignTag(w) ? q - ((w >> 12) & 0xFF) : q;
}

void HandleName(uint32_t uiHandle, char (&acName)[kHandleNameLen]) {
    if (UKO_HandleNameGet(uiHandle, acName) != 0) {
        (void)UKO_strcpy_s(acName, sizeof(acName), "null");
    }
    acName[kHandleNameLen - 1] = '\0';
}

bool Installed(uint8_t ucPtNo) { return ucPtNo < m_ucMaxPtNum && ukoMemPtMagicOk(&m_pstMemPtCb[ucPtNo]); }

// What a failure report says about its partition, taken under the partition's lock.
struct PtSnapshot {
    char acName[UKO_MEMPT_NAME_LEN];
    uint64_t uvTotal;
    uint64_t uvFree;
    uint32_t uiAppendSwitch;
    uint32_t uiAppendNum;
};
PtSnapshot Snapshot(const UKO_MEMPT_CB* cb) {
    PtSnapshot s{};
    (void)std::memcpy(s.acName, cb->acName, sizeof(s.acName));
    s.acName[UKO_MEMPT_NAME_LEN - 1] = '\0';
    s.uvTotal = cb->uvTotalSize;
    s.uvFree = cb->uvTotalSize - cb->uvUsedSize;
    s.uiAppendSwitch = cb->uiFlags & UKO_MEMPT_FLAG_AUTO_APPEND;
    s.uiAppendNum = cb->uiAppendNum;
    return s;
}

// ukoMemPieceCharge, in a form that allocation and free inline.
inline UKO_MEMPT_PIECE_HEAD* Charge(UKO_MEMPT_CB* cb, uintptr_t uvBlock, uint64_t uvBytes,
                                    bool bAdd) {
    cb->uvUsedSize = bAdd ? cb->uvUsedSize + uvBytes : cb->uvUsedSize - uvBytes;
    UKO_MEMPT_PIECE_HEAD* pc = nullptr;
    if (cb->uiFlags == 0) {
        // Without growth or appended pieces the partition has its one piece.
        pc = cb->pPieceList;
    } else {
        for (UKO_MEMPT_PIECE_HEAD* it = cb->pPieceList; it != nullptr; it = it->pNext) {
            if (it->uvMagic == UKO_MEMPT_PIECE_MAGIC && ukoMemPieceHolds(it, uvBlock)) {
                pc = it;
                break;
            }
        }
    }
    if (pc != nullptr) {
        pc->uvUsed = bAdd ? pc->uvUsed + uvBytes : pc->uvUsed - uvBytes;
    }
    return pc;
}

// The refusals and failures of an allocation live apart from it, so that the path of
// every successful allocation stays short.
const char* AllocName(bool bTwin) { return bTwin ? "UKO_MemAlloc_F" : "UKO_MemAlloc"; }

[[gnu::cold, gnu::noinline]] void* AllocRefused(uint8_t ucPtNo, uint64_t uvSize, bool bTwin) {
    (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid param ucPtNo(%u) or uvSize(%lu).", AllocName(bTwin),
                       static_cast<unsigned>(ucPtNo), uvSize);
    return nullptr;
}

// Reports a partition that is not installed; releases its lock first when the test
// was made under it.
[[gnu::cold, gnu::noinline]] void* AllocNotInstalled(UKO_MEMPT_CB* cbLocked, uint8_t ucPtNo, bool bTwin) {
    if (cbLocked != nullptr) {
        (void)OSAL_LockUnLock(&cbLocked->stLock, 0);
    }
    const char* notInstalled = bTwin ? "[ZIRPA-%s]: MemPt(%u) is not installed."
                                     : "[ZIRPA-%s]: MemPt(%u) is not installed or PT may be damaged.";
    (void)MEMPT_REPORT(UKO_EINVAL, notInstalled, AllocName(bTwin), static_cast<unsigned>(ucPtNo));
    return nullptr;
}

[[gnu::cold, gnu::noinline]] void* AllocTooBig(UKO_MEMPT_CB* cb, uint64_t uvSize, bool bTwin) {
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: uvSize(%lu) is too big.", AllocName(bTwin), uvSize);
    return nullptr;
}

// The algorithm had no block for the request: one growth step when the partition grows
// and a second try, else the failure report. Called under the partition's lock; a
// block comes back with the lock still held (its charge in *puvCharged), a failure
// with the lock released.
[[gnu::cold, gnu::noinline]] void* AllocAfterRefusal(UKO_MEMPT_CB* cb, uint8_t ucPtNo, uint32_t uiHandle,
                                                    uint64_t uvSize, uint64_t* puvCharged, bool bTwin) {
    const uint64_t total = uvSize + UKO_MEM_BLOCK_HEAD_SIZE;
    uint64_t uvAppended = 0;
    // One growth step per call at most: a request that a fresh piece cannot serve
    // fails instead of growing the partition without end.
    if ((cb->uiFlags & UKO_MEMPT_FLAG_AUTO_APPEND) != 0 && cb->uiAppendPosition == 0 &&
        cb->stOps.pfnAppend != nullptr && cb->uiAppendNum < m_uiMemPtAppendMax &&
        ukoMemAutoAppend(cb, ucPtNo, uvSize, &uvAppended) == 0) {
        *puvCharged = total;
        void* block = cb->stOps.pfnAlloc(cb->pAlgoHandle, puvCharged, cb);
        if (block != nullptr) {
            return block;
        }
    }

    const char* fn = AllocName(bTwin);
    PtSnapshot snap = Snapshot(cb);
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    // The report is built in this call's own buffer and logged outside the partition's
    // lock, so that two partitions (or two threads) failing at once never share it.
    char acHandleName[kHandleNameLen];
    HandleName(uiHandle, acHandleName);
    char acReport[kReportLen];
    (void)UKO_sprintf_s(acReport, sizeof(acReport),
                        "[ZIRPA-%s]:alloc size(%lu) failed info.\r\n"
                        "PtNo=%u,PtName=%s,PtTotalSize=%lu,PtFreeSize=%lu\r\n"
                        "AppendSwitch=%u,AppendNum=%u,AppendedSize=%lu\r\n"
                        "Handle=%u,HandleName=%s,AllocFile[Line]=%s[%u]",
                        fn, uvSize, static_cast<unsigned>(ucPtNo), snap.acName, snap.uvTotal,
                        snap.uvFree, snap.uiAppendSwitch, snap.uiAppendNum, uvAppended, uiHandle,
                        acHandleName, "null", 0u);
    acReport[kReportLen - 1] = '\0';
    (void)MEMPT_REPORT(UKO_MEMPT_ERR_ALLOC_FAIL, "%s", acReport);
    UKO_MEM_ERR_HOOK_PF err = g_pfnErrHook.load(std::memory_order_acquire);
    if (err != nullptr) {
        err(ucPtNo, nullptr, uiHandle, UKO_MEMPT_ERR_ALLOC_FAIL);
    }
    UKO_MEM_ALLOC_FAIL_HOOK_PF failHook = g_pfnAllocFailHook.load(std::memory_order_acquire);
    if (failHook != nullptr) {
        (void)failHook(ucPtNo, uiHandle, uvSize, "null", 0);
    }
    return nullptr;
}

inline void* MemAllocInner(uint32_t uiHandle, uint8_t ucPtNo, uint64_t uvSize, const char* pcFile,
                           uint32_t uiLine, bool bTwin) {
    if (ucPtNo >= m_ucMaxPtNum || uvSize == 0) {
        return AllocRefused(ucPtNo, uvSize, bTwin);
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return AllocNotInstalled(nullptr, ucPtNo, bTwin);
    }
    (void)OSAL_LockLock(&cb->stLock);
    // A deletion may have come in between the quick test and the lock.
    if (!ukoMemPtMagicOk(cb)) {
        return AllocNotInstalled(cb, ucPtNo, bTwin);
    }
    const uint64_t total = uvSize + UKO_MEM_BLOCK_HEAD_SIZE;
    UKO_MEM_ALLOC_PRE_HOOK_PF pre = g_pfnAllocPreHook.load(std::memory_order_acquire);
    if (pre != nullptr) {
        (void)pre(ucPtNo, uiHandle, uvSize, pcFile, uiLine);
    }
    if (total <= uvSize) {
        return AllocTooBig(cb, uvSize, bTwin);
    }
    uint64_t charged = total;
    void* block = cb->stOps.pfnAlloc(cb->pAlgoHandle, &charged, cb);
    if (block == nullptr) {
        block = AllocAfterRefusal(cb, ucPtNo, uiHandle, uvSize, &charged, bTwin);
        if (block == nullptr) {
            return nullptr;
        }
    }
    (void)Charge(cb, reinterpret_cast<uintptr_t>(block), charged, true);
    *static_cast<uint64_t*>(block) = MakeHead(ucPtNo, uiHandle);
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return static_cast<uint8_t*>(block) + UKO_MEM_BLOCK_HEAD_SIZE;
}

// After a free left a piece without used bytes: a host piece added by growth may go
// back; an emptied caller's piece is announced to the idle piece hook.
void PieceEmptied(UKO_MEMPT_CB* cb, uint8_t ucPtNo, UKO_MEMPT_PIECE_HEAD* pc) {
    if (pc == nullptr || pc->uvUsed != 0 || cb->stOps.pfnUnAppend == nullptr) {
        return;
    }
    if (pc->uiType == UKO_MEMPT_PIECE_HOST && (cb->uiFlags & UKO_MEMPT_FLAG_AUTO_APPEND) != 0) {
        ukoMemAutoRelease(cb, ucPtNo, pc);
    } else if (pc->uiType == UKO_MEMPT_PIECE_CALLER && (cb->uiFlags & UKO_MEMPT_FLAG_APPENDED) != 0 &&
               pc->ucSource == UKO_MEMPT_SRC_CALLER) {
        UKO_MEM_PIECE_IDLE_HOOK_PF idle = g_pfnPieceIdleHook.load(std::memory_order_acquire);
        if (idle != nullptr) {
            idle(ucPtNo, reinterpret_cast<void*>(pc->uvStart));
        }
    }
}

const char* FreeName(bool bTwin) { return bTwin ? "UKO_MemFree_F" : "UKO_MemFree"; }

[[gnu::cold, gnu::noinline]] uint32_t FreeRefused(void* pAddr, bool bTwin) {
    if (pAddr == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The Param pAddr is null.", FreeName(bTwin));
    }
    return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Inval Param pAddr(0x%p).", FreeName(bTwin), pAddr);
}

// Reports a partition that is not installed; releases its lock first when the test
// was made under it.
[[gnu::cold, gnu::noinline]] uint32_t FreeNotInstalled(UKO_MEMPT_CB* cbLocked, uint8_t ucPtNo, bool bTwin) {
    if (cbLocked != nullptr) {
        (void)OSAL_LockUnLock(&cbLocked->stLock, 0);
    }
    return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: the MemPtNo(%u) is not install.", FreeName(bTwin),
                        static_cast<unsigned>(ucPtNo));
}

// The algorithm refused the free: a repeated free (answer 2) or a damaged block. Called
// under the partition's lock, which it releases before the hooks and the report.
[[gnu::cold, gnu::noinline]] uint32_t FreeFailed(UKO_MEMPT_CB* cb, uint8_t ucPtNo, uint32_t uiHandle, void* pAddr,
                                                uint32_t answer, bool bTwin) {
    const char* fn = FreeName(bTwin);
    PtSnapshot snap = Snapshot(cb);
    (void)OSAL_LockUnLock(&cb->stLock, 0);

    const uint32_t code = answer == 2 ? UKO_MEMPT_ERR_REFREE_LOG : UKO_MEMPT_ERR_FREE_FAIL;
    UKO_MEM_ERR_HOOK_PF err = g_pfnErrHook.load(std::memory_order_acquire);
    if (err != nullptr) {
        err(ucPtNo, pAddr, uiHandle, code);
    }
    char acHandleName[kHandleNameLen];
    HandleName(uiHandle, acHandleName);
    if (answer == 2) {
        if (bTwin) {
            (void)MEMPT_REPORT(code,
                               "[ZIRPA-%s]:pAddress(0x%p) repeatly free memory.\r\n"
                               "                      Pt %s has totalsize %lu, freesize %lu\r\n"
                               "                      handle = %u, Handle Name = %s, Ptno = %u,\r\n"
                               "                      Last free File[line] = %s[%u], Refree File[line] = %s[%u]",
                               fn, pAddr, snap.acName, snap.uvTotal, snap.uvFree, uiHandle,
                               acHandleName, static_cast<unsigned>(ucPtNo), "null", 0u, "null", 0u);
        } else {
            (void)MEMPT_REPORT(code,
                               "[ZIRPA-%s]:pAddress(0x%p) repeatly free memory.\r\n"
                               "                      Pt %s has totalsize %lu, freesize %lu\r\n"
                               "                      handle = %u, Handle Name = %s, Ptno = %u,Refree File[line] = %s[%u]",
                               fn, pAddr, snap.acName, snap.uvTotal, snap.uvFree, uiHandle,
                               acHandleName, static_cast<unsigned>(ucPtNo), "null", 0u);
        }
        return UKO_MEMPT_ERR_REFREE;
    }
    (void)MEMPT_REPORT(code,
                       "[ZIRPA-%s]: memory free pAddress(0x%p) fail.\r\n"
                       "                      Pt %s has totalsize %lu, freesize %lu\r\n"
                       "                      handle = %u, Handle Name = %s, Ptno = %u,Free File[line] = %s[%u]",
                       fn, pAddr, snap.acName, snap.uvTotal, snap.uvFree, uiHandle, acHandleName,
                       static_cast<unsigned>(ucPtNo), "null", 0u);
    return code;
}

inline uint32_t MemFreeInner(void* pAddr, bool bTwin) {
    if (pAddr == nullptr) {
        return FreeRefused(pAddr, bTwin);
    }
    uint8_t* p = UndoAlignTag(pAddr);
    uint64_t w = PeekWord(p);
    if (!IsBlockHead(w) || HeadPtNo(w) >= m_ucMaxPtNum) {
        return FreeRefused(pAddr, bTwin);
    }
    const uint8_t ucPtNo = HeadPtNo(w);
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    if (!ukoMemPtMagicOk(cb)) {
        return FreeNotInstalled(nullptr, ucPtNo, bTwin);
    }
    (void)OSAL_LockLock(&cb->stLock);
    if (!ukoMemPtMagicOk(cb)) {
        return FreeNotInstalled(cb, ucPtNo, bTwin);
    }
    uint8_t* block = p - UKO_MEM_BLOCK_HEAD_SIZE;
    uint64_t freed = 0;
    uint32_t answer = cb->stOps.pfnFree(cb->pAlgoHandle, block, &freed);
    if (answer == 0) {
        UKO_MEMPT_PIECE_HEAD* pc = Charge(cb, reinterpret_cast<uintptr_t>(block), freed, false);
        if (cb->uiFlags != 0) {
            PieceEmptied(cb, ucPtNo, pc);
        }
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return 0;
    }
    if (answer == 1) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return 0;
    }
    return FreeFailed(cb, ucPtNo, HeadHandle(w), pAddr, answer, bTwin);
}

void* MemReAllocInner(uint32_t uiHandle, uint8_t ucPtNo, void* pOld, uint64_t uvNewSize,
                      const char* pcFile, uint32_t uiLine, bool bTwin) {
    const char* fn = bTwin ? "UKO_MemReAlloc_F" : "UKO_MemReAlloc";
    auto freeOld = [&]() {
        return bTwin ? UKO_MemFree_F(uiHandle, pOld, pcFile, uiLine) : UKO_MemFree(uiHandle, pOld);
    };
    if (pOld == nullptr) {
        return bTwin ? UKO_MemAlloc_F(uiHandle, ucPtNo, uvNewSize, pcFile, uiLine)
                     : UKO_MemAlloc(uiHandle, ucPtNo, uvNewSize);
    }
    uint8_t ucOldPtNo = UKO_MEMPT_INVALID_PTNO;
    if (UKO_MemPtFind(pOld, &ucOldPtNo, UKO_MEMPT_INVALID_PTNO) != 0) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:pOldMemPtr(0x%p) is not in any PtNo", fn, pOld);
        return nullptr;
    }
    if (uvNewSize == 0) {
        uint32_t rc = freeOld();
        if (rc != 0) {
            (void)MEMPT_REPORT(rc, "[ZIRPA-%s]:Call UKO_MemFree(0x%p) fail!", fn, pOld);
        }
        return nullptr;
    }
    uint64_t usable = ukoMemUsableSizeGet(ucOldPtNo, pOld);
    if (usable == kAllOnes) {
        return nullptr;
    }
    void* pNew = UKO_MemAlloc_F(uiHandle, ucPtNo, uvNewSize, bTwin ? pcFile : nullptr, bTwin ? uiLine : 0);
    if (pNew == nullptr) {
        (void)MEMPT_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:MemPtNo(%u), call UKO_MemAlloc fail! ", fn,
                           static_cast<unsigned>(ucPtNo));
        return nullptr;
    }
    (void)UKO_memcpy_s(pNew, uvNewSize, pOld, std::min(usable, uvNewSize));
    uint32_t rc = freeOld();
    if (rc != 0) {
        (void)MEMPT_REPORT(rc, "[ZIRPA-%s]:MemPtNo(%u), call UKO_MemFree fail!", fn,
                           static_cast<unsigned>(ucPtNo));
    }
    return pNew;
}

void* AlignInner(uint32_t uiHandle, uint8_t ucPtNo, uint64_t ulSize, uint32_t ulAlignByte,
                 const char* pcFile, uint32_t uiLine, bool bTwin) {
    const char* fn = bTwin ? "UKO_MemAllocAlignN_F" : "UKO_MemAllocAlignN";
    const char* src = bTwin ? "uko_mempt_ext" : "uko_mempt";
    if (ulAlignByte != 8 && ulAlignByte != 16 && ulAlignByte != 32 && ulAlignByte != 64 &&
        ulAlignByte != 128) {
        (void)ukoMemPtReportAt(UKO_EINVAL, src, __LINE__, "[ZIRPA-%s]:The Param ulAlignByte(%u) is not correct! ",
                               fn, ulAlignByte);
        return nullptr;
    }
    if (ulSize == 0) {
        (void)ukoMemPtReportAt(UKO_EINVAL, src, __LINE__, "[ZIRPA-%s]:malloc 0 byte memory!", fn);
        return nullptr;
    }
    if (ulSize + ulAlignByte < ulSize) {
        (void)ukoMemPtReportAt(UKO_EINVAL, src, __LINE__, "[ZIRPA-%s]:The Param ulSize(%lu) is too big!", fn,
                               ulSize);
        return nullptr;
    }
    auto* p = static_cast<uint8_t*>(bTwin ? UKO_MemAlloc_F(uiHandle, ucPtNo, ulSize + ulAlignByte, pcFile, uiLine)
                                          : UKO_MemAlloc(uiHandle, ucPtNo, ulSize + ulAlignByte));
    if (p == nullptr) {
        return nullptr;
    }
    uintptr_t mis = reinterpret_cast<uintptr_t>(p) % ulAlignByte;
    if (mis != 0) {
        // Blocks are 8-aligned, so the distance is at least 8 and the tag fits in the
        // bytes skipped.
        uint64_t dist = ulAlignByte - mis;
        p += dist;
        reinterpret_cast<uint64_t*>(p)[-1] = UKO_MEM_ALIGN_TAG_PATTERN | (dist << 12);
    }
    return p;
}

// The first piece of the partition that holds the address; a damaged piece ends the
// walk. Under the partition's lock (or with the caller holding it).
UKO_MEMPT_PIECE_HEAD* PieceOf(UKO_MEMPT_CB* cb, uint8_t ucPtNo, uintptr_t a, const char* fn,
                              const char* damagedFormat) {
    for (UKO_MEMPT_PIECE_HEAD* pc = cb->pPieceList; pc != nullptr; pc = pc->pNext) {
        if (pc->uvMagic != UKO_MEMPT_PIECE_MAGIC) {
            (void)MEMPT_REPORT(UKO_EINVAL, damagedFormat, fn, static_cast<unsigned>(ucPtNo),
                               static_cast<void*>(pc));
            return nullptr;
        }
        if (ukoMemPieceHolds(pc, a)) {
            return pc;
        }
    }
    return nullptr;
}

constexpr const char* kPieceDamaged = "[ZIRPA-%s]:MemPtNo(%u) piece(0x%p) was damaged.";

// The first installed partition (in slot order) with a piece that holds the address,
// or 255. Each partition is walked under its lock, except the one the caller holds.
uint8_t PtOfAddr(uintptr_t a, uint8_t ucLockedPtNo, const char* fn) {
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(cb)) {
            continue;
        }
        const bool lock = i != ucLockedPtNo;
        if (lock) {
            (void)OSAL_LockLock(&cb->stLock);
        }
        bool found = PieceOf(cb, i, a, fn, kPieceDamaged) != nullptr;
        if (lock) {
            (void)OSAL_LockUnLock(&cb->stLock, 0);
        }
        if (found) {
            return i;
        }
    }
    return UKO_MEMPT_INVALID_PTNO;
}

}  // namespace

// ---- Accounting ------------------------------------------------------------------------

UKO_MEMPT_PIECE_HEAD* ukoMemPieceCharge(UKO_MEMPT_CB* cb, uintptr_t uvBlock, uint64_t uvBytes,
                                        bool bAdd) {
    return Charge(cb, uvBlock, uvBytes, bAdd);
}

// ---- Allocation, free, reallocation -------------------------------------------------------

void* UKO_MemAlloc(uint32_t uiHandle, uint8_t ucPtNo, uint64_t uvSize) {
    return MemAllocInner(uiHandle, ucPtNo, uvSize, nullptr, 0, false);
}

void* UKO_MemAlloc_F(uint32_t uiHandle, uint8_t ucPtNo, uint64_t uvSize, const char* pcFile,
                     uint32_t uiLine) {
    return MemAllocInner(uiHandle, ucPtNo, uvSize, pcFile, uiLine, true);
}

uint32_t UKO_MemFree(uint32_t /*uiHandle*/, void* pAddr) { return MemFreeInner(pAddr, false); }

uint32_t UKO_MemFree_F(uint32_t /*uiHandle*/, void* pAddr, const char* /*pcFile*/, uint32_t /*uiLine*/) {
    return MemFreeInner(pAddr, true);
}

void* UKO_MemReAlloc(uint32_t uiHandle, uint8_t ucPtNo, void* pOldMemPtr, uint64_t uvNewSize) {
    return MemReAllocInner(uiHandle, ucPtNo, pOldMemPtr, uvNewSize, nullptr, 0, false);
}

void* UKO_MemReAlloc_F(uint32_t uiHandle, uint8_t ucPtNo, void* pOldMemPtr, uint64_t uvNewSize,
                       const char* pcFile, uint32_t uiLine) {
    return MemReAllocInner(uiHandle, ucPtNo, pOldMemPtr, uvNewSize, pcFile, uiLine, true);
}

void* UKO_MemAllocAlignN(uint32_t uiHandle, uint8_t ucPtNo, uint64_t ulSize, uint32_t ulAlignByte) {
    return AlignInner(uiHandle, ucPtNo, ulSize, ulAlignByte, nullptr, 0, false);
}

void* UKO_MemAllocAlignN_F(uint32_t uiHandle, uint8_t ucPtNo, uint64_t ulSize, uint32_t ulAlignByte,
                           const char* pcFile, uint32_t uiLine) {
    return AlignInner(uiHandle, ucPtNo, ulSize, ulAlignByte, pcFile, uiLine, true);
}

uint64_t ukoMemUsableSizeGet(uint8_t ucPtNo, void* pAddr) {
    if (pAddr == nullptr || !Installed(ucPtNo)) {
        return kAllOnes;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    uint8_t* p = UndoAlignTag(pAddr);
    uint64_t lost = UKO_MEM_BLOCK_HEAD_SIZE + static_cast<uint64_t>(static_cast<uint8_t*>(pAddr) - p);
    (void)OSAL_LockLock(&cb->stLock);
    UKO_MEM_USABLESIZE_PF usableGet = cb->stOps.pfnUsableSizeGet;
    uint64_t u = usableGet != nullptr ? usableGet(p - UKO_MEM_BLOCK_HEAD_SIZE) : kAllOnes;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    if (u == kAllOnes || u <= lost) {
        return kAllOnes;
    }
    return u - lost;
}

// ---- Reference counts ---------------------------------------------------------------------

uint32_t UKO_MemRefInc(void* pAddr) {
    const char* fn = "UKO_MemRefInc";
    if (m_ucMaxPtNum == 0) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Memory module not Init.", fn);
    }
    if (pAddr == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid address(0x%p).", fn, pAddr);
    }
    const uintptr_t a = reinterpret_cast<uintptr_t>(pAddr);
    UKO_MEMPT_CB* cb = nullptr;
    for (uint8_t i = 0; i < m_ucMaxPtNum && cb == nullptr; ++i) {
        UKO_MEMPT_CB* c = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(c)) {
            continue;
        }
        (void)OSAL_LockLock(&c->stLock);
        if (ukoMemPtMagicOk(c) && PieceOf(c, i, a, fn, kPieceDamaged) != nullptr) {
            cb = c;  // stays locked
        } else {
            (void)OSAL_LockUnLock(&c->stLock, 0);
        }
    }
    if (cb == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Mem(0x%p) is damaged.", fn, pAddr);
    }
    uint8_t* p = UndoAlignTag(pAddr);
    uint8_t* block = p - UKO_MEM_BLOCK_HEAD_SIZE;
    uint32_t count = 0;
    if (IsBlockHead(PeekWord(p)) && cb->stOps.pfnRefInc != nullptr && cb->stOps.pfnRefGet != nullptr &&
        cb->stOps.pfnRefGet(block, &count) == 0) {
        if (count == 255) {
            (void)OSAL_LockUnLock(&cb->stLock, 0);
            return MEMPT_REPORT(UKO_MEMPT_ERR_REF_OVERLOAD, "[ZIRPA-%s]:The slice reference overload.", fn);
        }
        if (count == 0) {
            (void)OSAL_LockUnLock(&cb->stLock, 0);
            return MEMPT_REPORT(UKO_MEMPT_ERR_REF_ZERO, "[ZIRPA-%s]:The slice reference is zero.", fn);
        }
        uint32_t rc = cb->stOps.pfnRefInc(block);
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        return rc;
    }
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid address(0x%p).", fn, pAddr);
}

uint32_t UKO_MemRefGet(void* pAddr, uint32_t* puiCount) {
    uint8_t ucPtNo = UKO_MEMPT_INVALID_PTNO;
    if (UKO_MemPtFind(pAddr, &ucPtNo, UKO_MEMPT_INVALID_PTNO) != 0) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Mem(0x%p) is damaged.", "UKO_MemRefGet", pAddr);
    }
    return ukoMemRefGet(pAddr, puiCount, ucPtNo);
}

uint32_t ukoMemRefGet(void* pAddr, uint32_t* puiCount, uint8_t ucPtNo) {
    if (pAddr == nullptr || puiCount == nullptr || !Installed(ucPtNo)) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid address(0x%p).", "ukoMemRefGet", pAddr);
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[ucPtNo];
    uint8_t* p = UndoAlignTag(pAddr);
    if (IsBlockHead(PeekWord(p)) && cb->stOps.pfnRefGet != nullptr) {
        return cb->stOps.pfnRefGet(p - UKO_MEM_BLOCK_HEAD_SIZE, puiCount);
    }
    return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid address(0x%p).", "ukoMemRefGet", pAddr);
}

// ---- Address lookups ----------------------------------------------------------------------

uint32_t UKO_MemPtFind(const void* pAddr, uint8_t* pucPtNo, uint8_t ucLockedPtNo) {
    if (m_ucMaxPtNum == 0 || pAddr == nullptr || pucPtNo == nullptr) {
        return UKO_EINVAL;
    }
    uint8_t no = PtOfAddr(reinterpret_cast<uintptr_t>(pAddr), ucLockedPtNo, "UKO_MemPtFind");
    if (no == UKO_MEMPT_INVALID_PTNO) {
        return UKO_EINVAL;
    }
    *pucPtNo = no;
    return 0;
}

uint32_t UKO_MemInZIRPARange(const void* pBegin, const void* pEnd, uint64_t* puvRemain) {
    const char* fn = "UKO_MemInZIRPARange";
    if (pBegin == nullptr) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Invalid begin address(0x%p).", fn, pBegin);
        return 0;
    }
    if (pEnd == nullptr) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Invalid end address(0x%p).", fn, pEnd);
        return 0;
    }
    if (pBegin > pEnd) {
        (void)MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: begin address(0x%p) > end address(0x%p)!", fn, pBegin,
                           pEnd);
        return 0;
    }
    if (puvRemain != nullptr) {
        *puvRemain = kAllOnes;
    }
    const uintptr_t b = reinterpret_cast<uintptr_t>(pBegin);
    const uintptr_t e = reinterpret_cast<uintptr_t>(pEnd);
    for (uint8_t i = 0; i < m_ucMaxPtNum; ++i) {
        UKO_MEMPT_CB* cb = &m_pstMemPtCb[i];
        if (!ukoMemPtMagicOk(cb)) {
            continue;
        }
        (void)OSAL_LockLock(&cb->stLock);
        const UKO_MEMPT_PIECE_HEAD* pc =
            PieceOf(cb, i, b, fn, "[ZIRPA-%s]: MemPtNo(%u) Piece(0x%p) head was damaged!");
        if (pc != nullptr) {
            const uintptr_t pieceEnd = pc->uvStart + pc->uvSize;
            if (e < pieceEnd) {
                (void)OSAL_LockUnLock(&cb->stLock, 0);
                return 1;
            }
            if (puvRemain != nullptr) {
                *puvRemain = pieceEnd - b;
                (void)OSAL_LockUnLock(&cb->stLock, 0);
                return 0;
            }
        }
        (void)OSAL_LockUnLock(&cb->stLock, 0);
    }
    return 0;
}

uint32_t UKO_MemAddrInZirpaRangeIs(const void* pAddr) {
    if (m_ucMaxPtNum == 0 || pAddr == nullptr) {
        return 0;
    }
    uint8_t no = PtOfAddr(reinterpret_cast<uintptr_t>(pAddr), UKO_MEMPT_INVALID_PTNO, "UKO_MemAddrInZirpaRangeIs");
    return no != UKO_MEMPT_INVALID_PTNO ? 1 : 0;
}

uint32_t ukoMemHeadCheck(const void* pAddr) {
    return pAddr != nullptr && IsBlockHead(PeekWord(pAddr)) ? 0 : UKO_EINVAL;
}

// ---- Locking pages ------------------------------------------------------------------------

uint32_t UKO_MemMapAllLock(uint32_t uiMode) {
    int flags = 0;
    if (uiMode == 1) {
        flags = MCL_CURRENT;
    } else if (uiMode == 2) {
        flags = MCL_CURRENT | MCL_FUTURE;
    } else {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]:param error.[%u].", "UKO_MemMapAllLock", uiMode);
    }
    if (mlockall(flags) != 0) {
        char acErr[128] = {0};
        const char* text = strerror_r(errno, acErr, sizeof(acErr));
        return MEMPT_REPORT(UKO_MEMPT_ERR_MLOCK, "[ZIRPA-%s]:call mlockall(%d) failed[%s].", "UKO_MemMapAllLock",
                            flags, text);
    }
    return 0;
}

// ---- Debug-information blocks -------------------------------------------------------------

void* ukoMemAllocNoDbgInfo(uint32_t uiSize) {
    const char* fn = "ukoMemAllocNoDbgInfo";
    if (!Installed(m_ucSysPtNo)) {
        (void)MEMPT_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:pfnAlloc(%u) for DbgInfo fail.", fn, uiSize);
        return nullptr;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[m_ucSysPtNo];
    (void)OSAL_LockLock(&cb->stLock);
    uint64_t size = uiSize;
    void* block = cb->stOps.pfnAlloc(cb->pAlgoHandle, &size, cb);
    if (block == nullptr && (cb->uiFlags & UKO_MEMPT_FLAG_AUTO_APPEND) != 0 && cb->stOps.pfnAppend != nullptr &&
        cb->uiAppendNum < m_uiMemPtAppendMax) {
        uint64_t appended = 0;
        if (ukoMemAutoAppend(cb, m_ucSysPtNo, uiSize, &appended) != 0) {
            (void)OSAL_LockUnLock(&cb->stLock, 0);
            (void)MEMPT_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:ukoMemAutoAppend fail,Alloc DbgInfo fail", fn);
            return nullptr;
        }
        size = uiSize;
        block = cb->stOps.pfnAlloc(cb->pAlgoHandle, &size, cb);
    }
    if (block == nullptr) {
        (void)OSAL_LockUnLock(&cb->stLock, 0);
        (void)MEMPT_REPORT(UKO_ENOMEM, "[ZIRPA-%s]:pfnAlloc(%u) for DbgInfo fail.", fn, uiSize);
        return nullptr;
    }
    (void)ukoMemPieceCharge(cb, reinterpret_cast<uintptr_t>(block), size, true);
    m_stMemDbgInfo.uiDbgBlockNum++;
    m_stMemDbgInfo.uvDbgBlockSize += size;
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return block;
}

uint32_t ukoMemFreeNoDbgInfo(void* pBlock) {
    if (pBlock == nullptr || !Installed(m_ucSysPtNo)) {
        return 0;
    }
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[m_ucSysPtNo];
    (void)OSAL_LockLock(&cb->stLock);
    uint64_t freed = 0;
    if (cb->stOps.pfnFree(cb->pAlgoHandle, pBlock, &freed) == 0) {
        UKO_MEMPT_PIECE_HEAD* pc = ukoMemPieceCharge(cb, reinterpret_cast<uintptr_t>(pBlock), freed, false);
        m_stMemDbgInfo.uiDbgBlockNum--;
        m_stMemDbgInfo.uvDbgBlockSize -= freed;
        if (cb->uiFlags != 0 && pc != nullptr && pc->uvUsed == 0 && pc->uiType == UKO_MEMPT_PIECE_HOST &&
            (cb->uiFlags & UKO_MEMPT_FLAG_AUTO_APPEND) != 0 && cb->stOps.pfnUnAppend != nullptr) {
            ukoMemAutoRelease(cb, m_ucSysPtNo, pc);
        }
    }
    (void)OSAL_LockUnLock(&cb->stLock, 0);
    return 0;
}

uint32_t UKO_MemDbgCBInfoGet(UKO_MEM_DBG_INFO* pstMemDbgInfo) {
    if (pstMemDbgInfo == nullptr) {
        return MEMPT_REPORT(UKO_EINVAL, "[ZIRPA-%s]: The parameters(%s) is NULL!", "UKO_MemDbgCBInfoGet",
                            "pstMemDbgInfo");
    }
    // The counters change under the system partition's lock.
    pthread_mutex_t* lock = Installed(m_ucSysPtNo) ? &m_pstMemPtCb[m_ucSysPtNo].stLock : nullptr;
    if (lock != nullptr) {
        (void)OSAL_LockLock(lock);
    }
    *pstMemDbgInfo = m_stMemDbgInfo;
    if (lock != nullptr) {
        (void)OSAL_LockUnLock(lock, 0);
    }
    return 0;
}

// ---- Hooks ----------------------------------------------------------------------------------

uint32_t UKO_MemAllocPreHookReg(UKO_MEM_ALLOC_PRE_HOOK_PF pfnHook) {
    g_pfnAllocPreHook.store(pfnHook, std::memory_order_release);
    return 0;
}

uint32_t UKO_MemAllocFailHookReg(UKO_MEM_ALLOC_FAIL_HOOK_PF pfnHook) {
    g_pfnAllocFailHook.store(pfnHook, std::memory_order_release);
    return 0;
}

void UKO_MemErrHookReg(UKO_MEM_ERR_HOOK_PF pfnHook) { g_pfnErrHook.store(pfnHook, std::memory_order_release); }

uint32_t UKO_MemPieceIdleHookReg(UKO_MEM_PIECE_IDLE_HOOK_PF pfnHook) {
    g_pfnPieceIdleHook.store(pfnHook, std::memory_order_release);
    return 0;
}
