#include "v_dlmem.h"

#include <cstring>

#include "mem_asan.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "v_dlmalloc.h"
#include "v_dlmalloc_inner.h"
#include "v_dlmem_inner.h"

#define DLM_REPORT(code, ...) UKO_ERR_REPORT((code), UKO_MID_DLMEM, __VA_ARGS__)

uint32_t g_uiDlmPageSize = 8192;
uint32_t g_uiDlmSliceLimit = 1024;

std::atomic<uint32_t> m_uiMemDamageCount{0};

namespace {

// Classes 0-34 step by 8 from 24; classes 35-59 are, for n = 26 down to 2, the largest
// multiple of 8 that lets an 8192-byte page hold exactly n slices.
constexpr uint16_t kTypeSize[DLM_TYPE_NUM] = {
    24,  32,  40,  48,  56,  64,  72,  80,  88,  96,  104, 112,  120,  128,  136,
    144, 152, 160, 168, 176, 184, 192, 200, 208, 216, 224, 232,  240,  248,  256,
    264, 272, 280, 288, 296, 312, 320, 336, 352, 368, 384, 408,  424,  448,  480,
    512, 544, 584, 624, 680, 744, 816, 904, 1024, 1168, 1360, 1632, 2048, 2728, 4096};

constexpr bool TypeTableIsSound() {
    for (uint32_t i = 0; i < 35; ++i) {
        if (kTypeSize[i] != 24 + 8 * i) {
            return false;
        }
    }
    for (uint32_t n = 26; n >= 2; --n) {
        if (kTypeSize[35 + 26 - n] != ((8192 / n) & ~7u)) {
            return false;
        }
    }
    return true;
}
static_assert(TypeTableIsSound(), "class sizes follow their rule");

constexpr uint32_t kSizeTableNum = 513;  // prepared sizes / 8, up to the largest limit

struct SizeToTypeTable {
    uint8_t auc[kSizeTableNum];
};

// Entry i: the smallest class whose size is at least 8 * i.
constexpr SizeToTypeTable BuildSizeToType() {
    SizeToTypeTable t{};
    uint32_t c = 0;
    for (uint32_t i = 0; i < kSizeTableNum; ++i) {
        while (kTypeSize[c] < 8 * i) {
            ++c;
        }
        t.auc[i] = static_cast<uint8_t>(c);
    }
    return t;
}
constexpr SizeToTypeTable kSizeToType = BuildSizeToType();
static_assert(kSizeToType.auc[kSizeTableNum - 1] == DLM_TYPE_NUM - 1, "4096 is the last class");

constexpr uint64_t kRefOne = uint64_t{1} << DLM_REF_SHIFT;
constexpr uint64_t kChunkHeader = sizeof(MSPACE_CHUNK_HEAD);

inline uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }
inline bool IsSliceTag(uint64_t t) { return (t & DLM_SLICE_MASK) == DLM_SLICE_PATTERN; }
inline bool IsLargeTag(uint64_t t) { return (t & DLM_LARGE_MASK) == DLM_LARGE_PATTERN; }
inline uint32_t RefOf(uint64_t t) { return static_cast<uint32_t>((t & DLM_REF_MASK) >> DLM_REF_SHIFT); }
inline uint32_t DistOf(uint64_t t) { return static_cast<uint32_t>((t & DLM_DIST_MASK) >> DLM_DIST_SHIFT); }

inline bool PageSizeAccepted(uint32_t v) { return v == 8192 || v == 16384; }
inline bool SliceLimitAccepted(uint32_t v) {
    return v == 256 || v == 512 || v == 1024 || v == 2048 || v == 4096;
}

inline DLM_SLICE_HEAD* HeadOf(void* pBlock) {
    return reinterpret_cast<DLM_SLICE_HEAD*>(Addr(pBlock) - DLM_SLICE_HEAD_SIZE);
}
inline void* BlockOf(DLM_SLICE_HEAD* h) {
    return reinterpret_cast<void*>(Addr(h) + DLM_SLICE_HEAD_SIZE);
}
inline uint8_t* FirstSlice(DLM_PAGE_HEAD* pg) {
    return reinterpret_cast<uint8_t*>(pg) + DLM_PAGE_HEAD_SIZE;
}

// The page a slice tag points at, found by arithmetic alone. A distance beyond the
// largest page cannot be a slice's, so no byte is read that far back.
inline DLM_PAGE_HEAD* PageAt(const DLM_SLICE_HEAD* h, uint64_t tag, bool* pbInRange) {
    uint64_t back = uint64_t{DistOf(tag)} * 8 + DLM_PAGE_HEAD_SIZE;
    *pbInRange = DistOf(tag) <= DLM_DIST_MAX && back <= Addr(h);
    return reinterpret_cast<DLM_PAGE_HEAD*>(Addr(h) - back);
}

// The page of a slice when it carries the page magic and a known class, else NULL.
MEM_NO_ASAN DLM_PAGE_HEAD* SoundPageOf(const DLM_SLICE_HEAD* h, uint64_t tag) {
    bool inRange = false;
    DLM_PAGE_HEAD* pg = PageAt(h, tag, &inRange);
    if (!inRange || pg->uiMagic != DLM_PAGE_MAGIC || pg->uiType >= DLM_TYPE_NUM) {
        return nullptr;
    }
    return pg;
}

// The heap chunk under a large block when it is a sound chunk in use, else NULL.
MEM_NO_ASAN MSPACE_CHUNK_HEAD* SoundLargeChunk(DLM_SLICE_HEAD* h) {
    if (Addr(h) < kChunkHeader) {
        return nullptr;
    }
    auto* c = reinterpret_cast<MSPACE_CHUNK_HEAD*>(Addr(h) - kChunkHeader);
    if (c->uvMagic != CHUNK_MAGIC || (c->uvHead & MSPACE_CINUSE_BIT) == 0) {
        return nullptr;
    }
    return c;
}

MEM_NO_ASAN inline uint64_t LargeChunkSize(DLM_SLICE_HEAD* h) {
    auto* c = reinterpret_cast<MSPACE_CHUNK_HEAD*>(Addr(h) - kChunkHeader);
    return c->uvHead & MSPACE_SIZE_MASK;
}

MEM_NO_ASAN void ListInsertFront(DLM_PAGE_HEAD* head, DLM_PAGE_HEAD* pg) {
    pg->pNext = head->pNext;
    pg->pPrev = head;
    head->pNext->pPrev = pg;
    head->pNext = pg;
}

// Unlinks a page, writing each neighbour only while it still points at the page. A
// page dropped from its list together with a damaged one keeps stale links, which must
// not be written through; and a sound page in front of a damaged neighbour must still
// leave the list, or the list would keep it after its links were cleared.
MEM_NO_ASAN void ListRemove(DLM_PAGE_HEAD* pg) {
    DLM_PAGE_HEAD* prev = pg->pPrev;
    DLM_PAGE_HEAD* next = pg->pNext;
    if (prev != nullptr && prev->pNext == pg) {
        prev->pNext = next;
    }
    if (next != nullptr && next->pPrev == pg) {
        next->pPrev = prev;
    }
    pg->pNext = nullptr;
    pg->pPrev = nullptr;
}

MEM_NO_ASAN void DamageCountAdd() { m_uiMemDamageCount.fetch_add(1, std::memory_order_relaxed); }

MEM_NO_ASAN void ReportPageDamage(const char* pcFunc, DLM_PAGE_HEAD* pg, uint32_t uiMagic) {
    DamageCountAdd();
    (void)DLM_REPORT(DLM_ERR_PAGE_DAMAGED,
                     "[ZIRPA-%s]:The page(0x%p) with magic(0x%x) is damaged. DLM_PAGE_MAGIC is 0x%x.",
                     pcFunc, static_cast<void*>(pg), static_cast<unsigned int>(uiMagic),
                     static_cast<unsigned int>(DLM_PAGE_MAGIC));
}

// The first page of a class list is damaged: keep the pages that, walking back from
// the list's end, still carry the magic, and drop the rest with the damaged one.
MEM_NO_ASAN void CutDamagedFront(DLM_PAGE_HEAD* head) {
    DLM_PAGE_HEAD* keep = head;
    for (DLM_PAGE_HEAD* n = head->pPrev; n != nullptr && n != head && n->uiMagic == DLM_PAGE_MAGIC;
         n = n->pPrev) {
        keep = n;
    }
    if (keep == head) {
        head->pNext = head;
        head->pPrev = head;
    } else {
        head->pNext = keep;
        keep->pPrev = head;
    }
}

MEM_NO_ASAN bool SliceSoundAt(DLM_PAGE_HEAD* pg, uintptr_t a) {
    uint64_t tag = reinterpret_cast<DLM_SLICE_HEAD*>(a)->uvTag;
    return IsSliceTag(tag) && uint64_t{DistOf(tag)} * 8 == a - Addr(FirstSlice(pg));
}

}  // namespace

MEM_NO_ASAN DLM_CB* DLM_Format(void* pMem, uint64_t uvSize, const void* pConfig) {
    uint32_t pageSize = g_uiDlmPageSize;
    uint32_t sliceLimit = g_uiDlmSliceLimit;
    if (pConfig != nullptr) {
        uint32_t words[3];
        std::memcpy(words, pConfig, sizeof(words));
        if (PageSizeAccepted(words[1])) {
            pageSize = words[1];
        }
        if (SliceLimitAccepted(words[2])) {
            sliceLimit = words[2];
        }
    }
    if (pMem == nullptr) {
        (void)DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pMem(0x%p).", "DLM_Format", pMem);
        return nullptr;
    }
    uint64_t minSize = uint64_t{sliceLimit} + DLM_MIN_FORMAT_EXTRA;
    if (uvSize < minSize) {
        (void)DLM_REPORT(UKO_EINVAL,
                         "[ZIRPA-%s]:The partition size(%lu) for DLMEM is smaller than min "
                         "partition size(%lu).",
                         "DLM_Format", static_cast<unsigned long>(uvSize),
                         static_cast<unsigned long>(minSize));
        return nullptr;
    }
    void* msp = create_mspace_with_base(static_cast<uint8_t*>(pMem) + DLM_CB_SIZE,
                                        uvSize - DLM_CB_SIZE, 0);
    if (msp == nullptr) {
        return nullptr;
    }
    MEM_UNPOISON(pMem, DLM_CB_SIZE);
    DLM_CB* cb = static_cast<DLM_CB*>(pMem);
    std::memset(cb, 0, sizeof(*cb));
    cb->uiMagic = DLM_CB_MAGIC;
    cb->pStart = pMem;
    cb->uvSize = uvSize;
    cb->pPiece = nullptr;
    cb->uvTotalSize = uvSize - DLM_CB_SIZE;
    cb->uvFreeSize = uvSize - DLM_CB_SIZE;
    cb->usPageSize = static_cast<uint16_t>(pageSize);
    cb->usSliceLimit = static_cast<uint16_t>(sliceLimit);
    cb->pMspace = msp;
    for (uint32_t i = 0; i < DLM_LIST_NUM; ++i) {
        DLM_PAGE_HEAD* head = &cb->astList[i];
        head->uiMagic = DLM_PAGE_MAGIC;
        head->uiType = i;
        head->pNext = head;
        head->pPrev = head;
    }
    return cb;
}

MEM_NO_ASAN uint32_t DLM_Append(DLM_CB* pCB, void* pPiece, uint64_t uvSize) {
    if (pCB == nullptr || pPiece == nullptr) {
        return DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pCB(0x%p), pPiece(0x%p).",
                          "DLM_Append", static_cast<void*>(pCB), pPiece);
    }
    uint64_t minSize = uint64_t{pCB->usSliceLimit} + DLM_MIN_PIECE_EXTRA;
    if (uvSize < minSize) {
        return DLM_REPORT(UKO_EINVAL,
                          "[ZIRPA-%s]:The piece size(%lu) is smaller than min piece size(%lu).",
                          "DLM_Append", static_cast<unsigned long>(uvSize),
                          static_cast<unsigned long>(minSize));
    }
    auto* ph = static_cast<DLM_PIECE_HEAD*>(pPiece);
    MEM_UNPOISON(ph, DLM_PIECE_HEAD_SIZE);
    ph->pSelf = pPiece;
    ph->uvSize = uvSize;
    ph->pNext = pCB->pPiece;
    pCB->pPiece = ph;
    MEM_POISON(ph, DLM_PIECE_HEAD_SIZE);
    pCB->uvTotalSize += uvSize - DLM_PIECE_HEAD_SIZE;
    pCB->uvFreeSize += uvSize - DLM_PIECE_HEAD_SIZE;

    auto* m = static_cast<MSPACE_STATE*>(pCB->pMspace);
    uint8_t* mem = static_cast<uint8_t*>(pPiece) + DLM_PIECE_HEAD_SIZE;
    // The heap follows no link below its lowest address, so a piece lying lower than
    // everything so far must move that bound first.
    if (Addr(mem) < Addr(m->pLeastAddr)) {
        m->pLeastAddr = mem;
    }
    mspace_segment_add(m, mem, uvSize - DLM_PIECE_HEAD_SIZE, MSPACE_SEGMENT_EXTERN);
    return 0;
}

MEM_NO_ASAN uint32_t DLM_UnAppend(DLM_CB* pCB, void* pPiece) {
    if (pCB == nullptr || pPiece == nullptr) {
        return DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pCB(0x%p), pPiece(0x%p).",
                          "DLM_UnAppend", static_cast<void*>(pCB), pPiece);
    }
    auto* ph = static_cast<DLM_PIECE_HEAD*>(pPiece);
    void* seg = static_cast<uint8_t*>(pPiece) + DLM_PIECE_HEAD_SIZE;
    // A piece that was never appended has no head of ours: nothing in it is trusted.
    bool ours = ph->pSelf == pPiece && ph->uvSize >= DLM_PIECE_HEAD_SIZE;
    uint64_t released = ours ? Release_unused_segments(pCB->pMspace, seg) : 0;
    if (!ours || released != ph->uvSize - DLM_PIECE_HEAD_SIZE) {
        return DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]: Release_unused_segments(0x%p) fail.",
                          "DLM_UnAppend", seg);
    }
    for (DLM_PIECE_HEAD** link = &pCB->pPiece; *link != nullptr; link = &(*link)->pNext) {
        if (*link == ph) {
            *link = ph->pNext;
            pCB->uvTotalSize -= released;
            pCB->uvFreeSize -= released;
            break;
        }
    }
    // The whole piece is the caller's again.
    MEM_UNPOISON(pPiece, released + DLM_PIECE_HEAD_SIZE);
    return 0;
}

MEM_NO_ASAN DLM_PAGE_HEAD* DLM_AllocPage(DLM_CB* pCB, uint32_t uiType) {
    if (pCB == nullptr || uiType >= DLM_TYPE_NUM) {
        return nullptr;
    }
    uint64_t pageSize = pCB->usPageSize;
    uint64_t z = kTypeSize[uiType];
    void* mem = mspace_malloc(pCB->pMspace, pageSize + DLM_PAGE_HEAD_SIZE);
    if (mem == nullptr) {
        return nullptr;
    }
    auto* pg = static_cast<DLM_PAGE_HEAD*>(mem);
    uint32_t k = static_cast<uint32_t>(pageSize / z);
    pg->uiMagic = DLM_PAGE_MAGIC;
    pg->uiType = uiType;
    pg->uiSliceNum = k;
    pg->uiUsedNum = 0;
    pg->pNext = nullptr;
    pg->pPrev = nullptr;
    uint8_t* first = FirstSlice(pg);
    pg->pFreeSlice = reinterpret_cast<DLM_SLICE_HEAD*>(first);
    for (uint32_t j = 0; j < k; ++j) {
        auto* sl = reinterpret_cast<DLM_SLICE_HEAD*>(first + uint64_t{j} * z);
        sl->uvTag = DLM_SLICE_PATTERN | ((uint64_t{j} * z / 8) << DLM_DIST_SHIFT);
        sl->pNext = j + 1 < k ? reinterpret_cast<DLM_SLICE_HEAD*>(first + uint64_t{j + 1} * z) : sl;
    }
    pCB->uvTotalSize -= DLM_PAGE_HEAD_SIZE;
    pCB->uvFreeSize -= DLM_PAGE_HEAD_SIZE;
    // A page with no slice in use belongs to nobody but the algorithm: all of its heap
    // chunk, including any bytes the heap gave beyond the page, goes under poison.
    MEM_POISON(mem, LargeChunkSize(static_cast<DLM_SLICE_HEAD*>(mem)) - MSPACE_CHUNK_OVERHEAD);
    return pg;
}

MEM_NO_ASAN void* DLM_AllocSlice(DLM_CB* pCB, uint64_t uvSize, uint64_t* puvReserved) {
    if (pCB == nullptr || puvReserved == nullptr || uvSize / 8 >= kSizeTableNum) {
        return nullptr;
    }
    uint32_t c = kSizeToType.auc[uvSize / 8];
    uint64_t z = kTypeSize[c];
    DLM_PAGE_HEAD* head = &pCB->astList[c];
    for (;;) {
        if (head->pNext == head) {
            DLM_PAGE_HEAD* fresh = DLM_AllocPage(pCB, c);
            if (fresh == nullptr) {
                return nullptr;
            }
            head->uiSliceNum += fresh->uiSliceNum;
            fresh->pNext = head;
            fresh->pPrev = head;
            head->pNext = fresh;
            head->pPrev = fresh;
        }
        DLM_PAGE_HEAD* pg = head->pNext;
        if (pg == nullptr || pg->uiMagic != DLM_PAGE_MAGIC) {
            ReportPageDamage("DLM_AllocSlice", pg, pg != nullptr ? pg->uiMagic : 0);
            CutDamagedFront(head);
            continue;
        }

        DLM_SLICE_HEAD* sl = pg->pFreeSlice;
        uintptr_t first = Addr(FirstSlice(pg));
        uintptr_t end = first + uint64_t{pg->uiSliceNum} * z;
        bool inPage = sl != nullptr && Addr(sl) >= first && Addr(sl) < end;
        if (!inPage || !SliceSoundAt(pg, Addr(sl))) {
            DamageCountAdd();
            // Step back one slice at a time to the nearest sound one, for the report.
            uint64_t lastTag = 0;
            if (inPage) {
                uintptr_t a = Addr(sl);
                lastTag = sl->uvTag;
                while (!SliceSoundAt(pg, a) && a >= first + z) {
                    a -= z;
                    lastTag = reinterpret_cast<DLM_SLICE_HEAD*>(a)->uvTag;
                }
            }
            (void)DLM_REPORT(DLM_ERR_SLICE_DAMAGED, "[ZIRPA-%s]:The slice with head(0x%lx) is damaged.",
                             "DLM_AllocSlice", static_cast<unsigned long>(lastTag));
            // Out of service: the page waits on the damaged list for its last free.
            head->pNext = pg->pNext;
            pg->pNext->pPrev = head;
            ListInsertFront(&pCB->astList[DLM_DAMAGED_LIST], pg);
            continue;
        }

        DLM_SLICE_HEAD* next = sl->pNext;
        if (next == sl) {
            pg->pFreeSlice = nullptr;
            ListRemove(pg);
        } else {
            pg->pFreeSlice = next;
        }
        pg->uiUsedNum++;
        head->uiUsedNum++;
        sl->uvTag = (sl->uvTag & ~DLM_REF_MASK) | kRefOne;
        pCB->uvFreeSize -= z;
        *puvReserved = z;
        void* block = BlockOf(sl);
        MEM_UNPOISON(block, z - DLM_SLICE_HEAD_SIZE);
        return block;
    }
}

MEM_NO_ASAN void* DLM_Alloc(DLM_CB* pCB, uint64_t* puvSize) {
    if (pCB == nullptr || puvSize == nullptr) {
        (void)DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pCB(0x%p), puvSize(0x%p).", "DLM_Alloc",
                         static_cast<void*>(pCB), static_cast<void*>(puvSize));
        return nullptr;
    }
    uint64_t n = *puvSize;
    uint64_t s = ((n + 7) & ~uint64_t{7}) + DLM_SLICE_HEAD_SIZE;
    if (s < n) {
        (void)DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:The mem size(%lu) allocate overflow(%lu).",
                         "DLM_Alloc", static_cast<unsigned long>(n), static_cast<unsigned long>(s));
        return nullptr;
    }
    if (s <= pCB->usSliceLimit) {
        uint64_t reserved = 0;
        void* block = DLM_AllocSlice(pCB, s, &reserved);
        if (block != nullptr) {
            *puvSize = reserved;
        }
        return block;
    }
    void* mem = mspace_malloc(pCB->pMspace, s);
    if (mem == nullptr) {
        return nullptr;
    }
    auto* h = static_cast<DLM_SLICE_HEAD*>(mem);
    h->uvTag = DLM_LARGE_PATTERN | kRefOne;
    uint64_t chunkSize = LargeChunkSize(h);
    pCB->uvFreeSize -= chunkSize;
    pCB->uvLargeSize += chunkSize;
    pCB->uiLargeNum++;
    if (pCB->uiLargeNum > pCB->uiLargePeak) {
        pCB->uiLargePeak = pCB->uiLargeNum;
    }
    MEM_POISON(h, DLM_SLICE_HEAD_SIZE);
    *puvSize = chunkSize;
    return BlockOf(h);
}

MEM_NO_ASAN uint32_t DLM_FreeSlice(DLM_CB* pCB, void* pBlock, uint64_t* puvFreedSize) {
    DLM_SLICE_HEAD* h = HeadOf(pBlock);
    uint64_t tag = h->uvTag;
    DLM_PAGE_HEAD* pg = SoundPageOf(h, tag);
    if (pg == nullptr) {
        bool inRange = false;
        DLM_PAGE_HEAD* at = PageAt(h, tag, &inRange);
        ReportPageDamage("DLM_FreeSlice", at, inRange ? at->uiMagic : 0);
        return DLM_ERR_PAGE_DAMAGED;
    }
    uint32_t c = pg->uiType;
    uint64_t z = kTypeSize[c];
    DLM_PAGE_HEAD* head = &pCB->astList[c];
    MEM_POISON(pBlock, z - DLM_SLICE_HEAD_SIZE);
    // A full page is in no list; it goes back to the front of its class list. A page
    // already on a list (the damaged list included) stays where it is.
    if (pg->pFreeSlice == nullptr && pg->pNext == nullptr) {
        ListInsertFront(head, pg);
        h->pNext = h;
    } else {
        h->pNext = pg->pFreeSlice != nullptr ? pg->pFreeSlice : h;
    }
    pg->pFreeSlice = h;
    pg->uiUsedNum--;
    head->uiUsedNum--;
    if (pg->uiUsedNum == 0) {
        ListRemove(pg);
        head->uiSliceNum -= pg->uiSliceNum;
        (void)mspace_free(pCB->pMspace, pg);
        pCB->uvTotalSize += DLM_PAGE_HEAD_SIZE;
        pCB->uvFreeSize += DLM_PAGE_HEAD_SIZE;
    }
    pCB->uvFreeSize += z;
    *puvFreedSize = z;
    return 0;
}

MEM_NO_ASAN uint32_t DLM_Free(DLM_CB* pCB, void* pBlock, uint64_t* puvFreedSize) {
    if (pCB == nullptr || pBlock == nullptr || puvFreedSize == nullptr) {
        return DLM_REPORT(UKO_EINVAL, "[ZIRPA-%s]:Inval Param pCB(0x%p), pAddr(0x%p).", "DLM_Free",
                          static_cast<void*>(pCB), pBlock);
    }
    *puvFreedSize = 0;
    DLM_SLICE_HEAD* h = HeadOf(pBlock);
    uint64_t tag = h->uvTag;
    if (IsSliceTag(tag) || IsLargeTag(tag)) {
        uint32_t ref = RefOf(tag);
        if (ref > 1) {
            h->uvTag = tag - kRefOne;
            return 1;
        }
        if (ref == 0) {
            return 2;  // a repeated free; the partition reports it
        }
        // The count is cleared before the block goes: once freed, its head may lie in
        // memory the heap has taken back. A refused free puts the count back.
        h->uvTag = tag & ~DLM_REF_MASK;
        if (IsSliceTag(tag)) {
            uint32_t rc = DLM_FreeSlice(pCB, pBlock, puvFreedSize);
            if (rc != 0) {
                h->uvTag = tag;
            }
            return rc;
        }
        uint64_t chunkSize = LargeChunkSize(h);
        if (mspace_free(pCB->pMspace, h) != 0) {
            h->uvTag = tag;
            return DLM_ERR_SLICE_DAMAGED;
        }
        pCB->uiLargeNum--;
        pCB->uvFreeSize += chunkSize;
        pCB->uvLargeSize -= chunkSize;
        *puvFreedSize = chunkSize;
        return 0;
    }
    DamageCountAdd();
    return DLM_REPORT(DLM_ERR_SLICE_DAMAGED, "[ZIRPA-%s]:The slice(0x%p) is damaged.", "DLM_Free",
                      pBlock);
}

MEM_NO_ASAN uint32_t DLM_IncRef(void* pBlock) {
    uint64_t tag = pBlock != nullptr ? HeadOf(pBlock)->uvTag : 0;
    if (!IsSliceTag(tag) && !IsLargeTag(tag)) {
        return DLM_REPORT(UKO_EINVAL, "[Zirpa-DLM_IncRef]Invalid address(0x%p).", pBlock);
    }
    uint32_t ref = RefOf(tag);
    if (ref >= DLM_REF_MAX) {
        return DLM_REPORT(DLM_ERR_REF_OVERLOAD, "[Zirpa-DLM_IncRef]the slice reference overload.");
    }
    if (ref == 0) {
        return DLM_REPORT(DLM_ERR_REF_ZERO, "[Zirpa-DLM_IncRef]the slice reference is zero.");
    }
    HeadOf(pBlock)->uvTag = tag + kRefOne;
    return 0;
}

MEM_NO_ASAN uint32_t DLM_GetRef(void* pBlock, uint32_t* puiCount) {
    uint64_t tag = pBlock != nullptr ? HeadOf(pBlock)->uvTag : 0;
    if (puiCount == nullptr || (!IsSliceTag(tag) && !IsLargeTag(tag))) {
        return DLM_REPORT(UKO_EINVAL, "[Zirpa-DLM_GetRef]Invalid address(0x%p).", pBlock);
    }
    *puiCount = RefOf(tag);
    return 0;
}

uint32_t DLM_InfoGet(DLM_CB* pCB, uint64_t* puvTotal, uint64_t* puvFree) {
    if (puvTotal != nullptr) {
        *puvTotal = pCB != nullptr ? pCB->uvTotalSize : 0;
    }
    if (puvFree != nullptr) {
        *puvFree = pCB != nullptr ? pCB->uvFreeSize : 0;
    }
    return 0;
}

MEM_NO_ASAN uint64_t DLM_MaxFreeGet(DLM_CB* pCB) {
    if (pCB == nullptr) {
        return 0;
    }
    uint64_t largest = mspace_largest_free(pCB->pMspace);
    if (largest >= pCB->usSliceLimit) {
        return largest - DLM_SLICE_HEAD_SIZE;
    }
    for (uint32_t c = DLM_TYPE_NUM; c-- > 0;) {
        if (pCB->astList[c].uiUsedNum < pCB->astList[c].uiSliceNum) {
            return kTypeSize[c] - DLM_SLICE_HEAD_SIZE;
        }
    }
    return 0;
}

void DLM_SizeGet(DLM_CB* pCB, uint64_t* pulSize, uint64_t* pulNum) {
    uint64_t bytes = 0;
    uint64_t blocks = 0;
    if (pCB != nullptr) {
        for (uint32_t c = 0; c < DLM_TYPE_NUM; ++c) {
            bytes += uint64_t{pCB->astList[c].uiUsedNum} * kTypeSize[c];
            blocks += pCB->astList[c].uiUsedNum;
        }
        bytes += pCB->uvLargeSize;
        blocks += pCB->uiLargeNum;
    }
    if (pulSize != nullptr) {
        *pulSize = bytes;
    }
    if (pulNum != nullptr) {
        *pulNum = blocks;
    }
}

uint32_t DLM_TypeNumGet(void) { return DLM_TYPE_NUM; }

void DLM_SizeToType(DLM_CB* pCB, uint64_t uvSize, uint32_t* puiType) {
    if (puiType == nullptr) {
        return;
    }
    uint64_t limit = pCB != nullptr ? pCB->usSliceLimit : g_uiDlmSliceLimit;
    *puiType = uvSize <= limit && uvSize / 8 < kSizeTableNum ? kSizeToType.auc[uvSize / 8] : DLM_TYPE_NUM;
}

void DLM_TypeUsageGet(DLM_CB* pCB, uint32_t uiType, uint32_t* puiNum, uint32_t* puiFreeNum) {
    uint32_t num = 0xFFFFFFFF;
    uint32_t freeNum = 0xFFFFFFFF;
    if (pCB != nullptr && uiType < DLM_TYPE_NUM) {
        num = pCB->astList[uiType].uiSliceNum;
        freeNum = num - pCB->astList[uiType].uiUsedNum;
    }
    if (puiNum != nullptr) {
        *puiNum = num;
    }
    if (puiFreeNum != nullptr) {
        *puiFreeNum = freeNum;
    }
}

MEM_NO_ASAN uint32_t DLM_MemGetTypeAndSize(void* pBlock, uint32_t* puiType, uint64_t* puvSize) {
    DLM_SLICE_HEAD* h = pBlock != nullptr ? HeadOf(pBlock) : nullptr;
    if (h != nullptr && puiType != nullptr && puvSize != nullptr) {
        uint64_t tag = h->uvTag;
        // Both kinds are answered only from a sound owner: a slice's page must carry
        // the page magic, a large block's chunk the chunk magic. A damaged distance
        // would otherwise read far before the block.
        if (IsSliceTag(tag)) {
            DLM_PAGE_HEAD* pg = SoundPageOf(h, tag);
            if (pg != nullptr) {
                *puiType = pg->uiType;
                *puvSize = kTypeSize[pg->uiType];
                return 0;
            }
        } else if (IsLargeTag(tag)) {
            MSPACE_CHUNK_HEAD* c = SoundLargeChunk(h);
            if (c != nullptr) {
                *puiType = DLM_TYPE_NUM;
                *puvSize = c->uvHead & MSPACE_SIZE_MASK;
                return 0;
            }
        }
    }
    if (puiType != nullptr) {
        *puiType = 0xFFFFFFFF;
    }
    if (puvSize != nullptr) {
        *puvSize = ~uint64_t{0};
    }
    return DLM_REPORT(DLM_ERR_NO_HEAD, "[ZIRPA-%s]:Get the memory head pulBH(0x%p) by pAddr(0x%p) fail.",
                      "DLM_MemGetTypeAndSize", static_cast<void*>(h), pBlock);
}

UKO_MEM_ALGO_STAT* DLM_StatGet(DLM_CB* pCB, UKO_MEM_ALGO_STAT* pStat) {
    if (pCB == nullptr || pStat == nullptr) {
        return nullptr;
    }
    uint32_t blocks = pCB->uiLargeNum;
    uint32_t used = pCB->uiLargeNum;
    for (uint32_t c = 0; c < DLM_TYPE_NUM; ++c) {
        blocks += pCB->astList[c].uiSliceNum;
        used += pCB->astList[c].uiUsedNum;
    }
    pStat->uiBlockNum += blocks;
    pStat->uiUsedBlockNum += used;
    return pStat;
}

MEM_NO_ASAN uint64_t DLM_UsableSizeGet(void* pBlock) {
    if (pBlock == nullptr) {
        return ~uint64_t{0};
    }
    DLM_SLICE_HEAD* h = HeadOf(pBlock);
    uint64_t tag = h->uvTag;
    if (IsSliceTag(tag)) {
        DLM_PAGE_HEAD* pg = SoundPageOf(h, tag);
        return pg != nullptr ? kTypeSize[pg->uiType] - DLM_SLICE_HEAD_SIZE : ~uint64_t{0};
    }
    if (IsLargeTag(tag)) {
        MSPACE_CHUNK_HEAD* c = SoundLargeChunk(h);
        // The chunk's own 64 bytes of overhead and the 16-byte head are not the caller's.
        return c != nullptr ? (c->uvHead & MSPACE_SIZE_MASK) - MSPACE_CHUNK_OVERHEAD - DLM_SLICE_HEAD_SIZE
                            : ~uint64_t{0};
    }
    return ~uint64_t{0};
}

uint64_t DLM_TypeSizeGet(uint32_t uiType) { return uiType < DLM_TYPE_NUM ? kTypeSize[uiType] : 4096; }

uint64_t DLM_HeadSizeAdd(uint64_t uvSize) { return uvSize + DLM_SLICE_HEAD_SIZE; }

namespace {

// The partition's call forms, passed on to the algorithm's own functions.
void* OpsFormat(void* pArea, uint64_t uvSize, const void* pFormatPara) {
    return DLM_Format(pArea, uvSize, pFormatPara);
}
uint32_t OpsAppend(void* pHandle, void* pArea, uint64_t uvSize) {
    return DLM_Append(static_cast<DLM_CB*>(pHandle), pArea, uvSize);
}
uint32_t OpsUnAppend(void* pHandle, void* pArea, void* /*pPtCb*/) {
    return DLM_UnAppend(static_cast<DLM_CB*>(pHandle), pArea);
}
void* OpsAlloc(void* pHandle, uint64_t* puvSize, void* /*pPtCb*/) {
    return DLM_Alloc(static_cast<DLM_CB*>(pHandle), puvSize);
}
uint32_t OpsFree(void* pHandle, void* pBlock, uint64_t* puvFreedSize) {
    return DLM_Free(static_cast<DLM_CB*>(pHandle), pBlock, puvFreedSize);
}
uint32_t OpsInfoGet(void* pHandle, uint64_t* puvTotal, uint64_t* puvFree, void* /*pPtCb*/) {
    return DLM_InfoGet(static_cast<DLM_CB*>(pHandle), puvTotal, puvFree);
}
uint64_t OpsMaxUsable(void* pHandle) { return DLM_MaxFreeGet(static_cast<DLM_CB*>(pHandle)); }
void OpsUsedBlock(void* pHandle, uint64_t* pulSize, uint64_t* pulNum) {
    DLM_SizeGet(static_cast<DLM_CB*>(pHandle), pulSize, pulNum);
}
void OpsSizeToType(void* pHandle, uint64_t uvSize, uint32_t* puiType) {
    DLM_SizeToType(static_cast<DLM_CB*>(pHandle), uvSize, puiType);
}
void OpsFreeNumByType(void* pHandle, uint32_t uiType, uint32_t* puiNum, uint32_t* puiFreeNum) {
    DLM_TypeUsageGet(static_cast<DLM_CB*>(pHandle), uiType, puiNum, puiFreeNum);
}
uint32_t OpsTypeAndSize(void* pBlock, uint32_t* puiType, uint64_t* puvSize, uint8_t /*ucPtNo*/) {
    return DLM_MemGetTypeAndSize(pBlock, puiType, puvSize);
}
void* OpsStatGet(void* pHandle, void* pStat) {
    return DLM_StatGet(static_cast<DLM_CB*>(pHandle), static_cast<UKO_MEM_ALGO_STAT*>(pStat));
}
uint64_t OpsTypeSize(uint64_t uvType) {
    return DLM_TypeSizeGet(uvType < DLM_TYPE_NUM ? static_cast<uint32_t>(uvType) : DLM_TYPE_NUM);
}

}  // namespace

const UKO_MEM_ALGO_OPS g_stDlmMemAlgoOps = {
    OpsFormat,         // 0
    OpsAppend,         // 1
    OpsUnAppend,       // 2
    nullptr,           // 3
    OpsAlloc,          // 4
    OpsFree,           // 5
    nullptr,           // 6
    DLM_IncRef,        // 7
    DLM_GetRef,        // 8
    OpsInfoGet,        // 9
    nullptr,           // 10
    OpsMaxUsable,      // 11
    OpsUsedBlock,      // 12
    DLM_TypeNumGet,    // 13
    OpsSizeToType,     // 14
    OpsFreeNumByType,  // 15
    OpsTypeAndSize,    // 16
    OpsStatGet,        // 17
    DLM_UsableSizeGet, // 18
    {OpsTypeSize, DLM_HeadSizeAdd, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr},         // 19 to 28
};
