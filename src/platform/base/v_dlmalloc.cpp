#include "v_dlmalloc.h"

#include <atomic>
#include <cstring>

#include "mem_asan.h"
#include "uko_errcode.h"
#include "uko_errreport.h"
#include "v_dlmalloc_inner.h"

// Every report of the heap carries error number 1 under the memory algorithms' module.
#define MSPACE_REPORT(...) UKO_ERR_REPORT(1u, UKO_MID_DLMALLOC, __VA_ARGS__)

namespace {

using Chunk = MSPACE_CHUNK_HEAD;

constexpr uint64_t kHeaderSize = sizeof(Chunk);
constexpr uint64_t kMaxSize = ~uint64_t{0};

// One-time parameters, shared by every heap of the process.
struct MspaceParams {
    uint64_t uvPageSize;
    uint64_t uvTrimThreshold;
};
MspaceParams g_params{0, 0};
std::atomic<bool> g_paramsSet{false};

void mspace_params_init() {
    if (g_paramsSet.load(std::memory_order_acquire)) {
        return;
    }
    // Both values are constants, so two threads racing here write the same words.
    g_params.uvPageSize = 4096;
    g_params.uvTrimThreshold = kMaxSize;
    g_paramsSet.store(true, std::memory_order_release);
}

inline uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }
inline Chunk* ChunkAt(uintptr_t a) { return reinterpret_cast<Chunk*>(a); }
MEM_NO_ASAN inline uint64_t ChunkSize(const Chunk* c) { return c->uvHead & MSPACE_SIZE_MASK; }
inline Chunk* ChunkPlus(const Chunk* c, uint64_t off) { return ChunkAt(Addr(c) + off); }
inline void* ChunkMem(const Chunk* c) { return reinterpret_cast<void*>(Addr(c) + kHeaderSize); }

// Moves an address up so that the caller's memory of a chunk placed there is 8-aligned.
inline uintptr_t AlignChunk(uintptr_t a) { return a + ((8 - ((a + kHeaderSize) & 7)) & 7); }

MEM_NO_ASAN inline bool LinkOk(const MSPACE_STATE* m, const Chunk* c) {
    return c != nullptr && Addr(c) >= Addr(m->pLeastAddr);
}

// A node may be followed only when it lies in the heap and carries the magic.
MEM_NO_ASAN inline bool Sound(const MSPACE_STATE* m, const Chunk* c) {
    return LinkOk(m, c) && c->uvMagic == CHUNK_MAGIC;
}

MEM_NO_ASAN inline void SetFoot(Chunk* c, uint64_t s) { ChunkPlus(c, s)->uvPrevFoot = s; }

inline uint32_t TreeShift(uint32_t idx) {
    // Bits of the size below the trie's own ones, taken from the highest down.
    return idx == MSPACE_TREE_NUM - 1 ? 0 : 63 - ((idx >> 1) + 8 - 2);
}

// Hands out [mem, mem + size - 64): everything else of the chunk stays poisoned.
MEM_NO_ASAN void* HandOut(Chunk* c) {
    void* mem = ChunkMem(c);
    MEM_UNPOISON(mem, ChunkSize(c) - MSPACE_CHUNK_OVERHEAD);
    return mem;
}

MEM_NO_ASAN void mspace_trim_disable(MSPACE_STATE* m) {
    // The heap never gives memory back: a top above the threshold only moves the
    // threshold out of reach.
    m->uvTrimCheck = kMaxSize;
}

MEM_NO_ASAN void mspace_state_init(MSPACE_STATE* m, uint8_t* pBase, uint64_t uvCapacity) {
    // The state's memory was unpoisoned by the caller, so a plain fill is safe here.
    std::memset(m, 0, sizeof(*m));
    m->pLeastAddr = pBase;
    m->uvTrimCheck = g_params.uvTrimThreshold;
    m->stSeg.pBase = pBase;
    m->stSeg.uvSize = uvCapacity;
    m->stSeg.uiFlags = MSPACE_SEGMENT_EXTERN;
}

MEM_NO_ASAN void mspace_top_init(MSPACE_STATE* m, Chunk* top, uint64_t uvSize) {
    m->pTop = top;
    m->uvTopSize = uvSize;
    // What follows the top is a reserve that no chunk ever claims; its would-be head
    // marks it so. Written first: an empty top shares that word.
    ChunkPlus(top, uvSize)->uvHead = MSPACE_END_RESERVE;
    top->uvMagic = CHUNK_MAGIC;
    top->uvHead = uvSize | MSPACE_PINUSE_BIT;
}

// The forward neighbour of t for a ring insert: t's own link when sound, else the
// node whose backward link leads to t; t itself when none is left.
MEM_NO_ASAN Chunk* RingForward(const MSPACE_STATE* m, Chunk* t) {
    if (Sound(m, t->pFd)) {
        return t->pFd;
    }
    for (Chunk* n = t->pBk; Sound(m, n); n = n->pBk) {
        if (n->pBk == t) {
            return n;
        }
        if (n == t) {
            break;
        }
    }
    return t;
}

MEM_NO_ASAN void mspace_tree_insert(MSPACE_STATE* m, Chunk* x, uint64_t s) {
    for (;;) {
        uint32_t idx = mspace_tree_index(s);
        uint32_t bit = 1u << idx;
        x->uiIndex = idx;
        x->apChild[0] = nullptr;
        x->apChild[1] = nullptr;
        Chunk* t = m->apTreeBins[idx];
        if ((m->uiTreeMap & bit) == 0 || t == nullptr) {
            m->uiTreeMap |= bit;
            m->apTreeBins[idx] = x;
            x->pParent = x;
            x->pFd = x;
            x->pBk = x;
            return;
        }
        if (!Sound(m, t)) {
            // A broken root takes its whole trie with it; x starts a fresh one.
            m->uiTreeMap &= ~bit;
            m->apTreeBins[idx] = nullptr;
            continue;
        }
        uint64_t k = s << TreeShift(idx);
        for (;;) {
            if (ChunkSize(t) == s) {
                Chunk* f = RingForward(m, t);
                if (!LinkOk(m, t) || !LinkOk(m, f)) {
                    return;
                }
                x->pParent = nullptr;
                x->pFd = f;
                x->pBk = t;
                t->pFd = x;
                f->pBk = x;
                return;
            }
            Chunk** link = &t->apChild[(k >> 63) & 1];
            k <<= 1;
            Chunk* c = *link;
            if (c == nullptr || !Sound(m, c)) {
                if (Addr(link) < Addr(m->pLeastAddr)) {
                    return;
                }
                *link = x;
                x->pParent = t;
                x->pFd = x;
                x->pBk = x;
                return;
            }
            t = c;
        }
    }
}

// Follows one child link for the unlink's descent: a broken child is cleared and not
// taken.
MEM_NO_ASAN Chunk** SoundChild(const MSPACE_STATE* m, Chunk* c, int dir) {
    Chunk* child = c->apChild[dir];
    if (child == nullptr) {
        return nullptr;
    }
    if (!Sound(m, child)) {
        c->apChild[dir] = nullptr;
        return nullptr;
    }
    return &c->apChild[dir];
}

MEM_NO_ASAN void mspace_tree_unlink(MSPACE_STATE* m, Chunk* x) {
    Chunk* xp = x->pParent;
    Chunk* r = nullptr;
    Chunk* f = x->pFd;
    Chunk* b = x->pBk;
    bool fOk = f != x && Sound(m, f);
    bool bOk = b != x && Sound(m, b);
    if (fOk || bOk) {
        // Cut x out of its ring; a broken neighbour is replaced by the nearest sound
        // node found by walking the ring the other way.
        if (!fOk) {
            f = b;
            for (Chunk* n = f->pBk; n != x && Sound(m, n); n = n->pBk) {
                f = n;
            }
        }
        if (!bOk) {
            b = f;
            for (Chunk* n = b->pFd; n != x && Sound(m, n); n = n->pFd) {
                b = n;
            }
        }
        f->pBk = b;
        b->pFd = f;
        r = b;
    } else {
        // Alone in its ring: the rightmost-deepest descendant takes x's place.
        Chunk** rp = SoundChild(m, x, 1);
        if (rp == nullptr) {
            rp = SoundChild(m, x, 0);
        }
        if (rp != nullptr) {
            r = *rp;
            for (;;) {
                Chunk** next = SoundChild(m, r, 1);
                if (next == nullptr) {
                    next = SoundChild(m, r, 0);
                }
                if (next == nullptr) {
                    break;
                }
                rp = next;
                r = *next;
            }
            *rp = nullptr;
        }
    }
    if (xp == nullptr) {
        return;  // a plain ring member: the trie never pointed at it
    }
    uint32_t idx = x->uiIndex;
    bool root = xp == x;
    if (root) {
        if (idx < MSPACE_TREE_NUM && m->apTreeBins[idx] == x) {
            m->apTreeBins[idx] = r;
            if (r == nullptr) {
                m->uiTreeMap &= ~(1u << idx);
            }
        }
    } else if (Sound(m, xp)) {
        if (xp->apChild[0] == x) {
            xp->apChild[0] = r;
        } else if (xp->apChild[1] == x) {
            xp->apChild[1] = r;
        }
    }
    if (r != nullptr) {
        r->pParent = root ? r : xp;
        r->uiIndex = idx;
        for (int dir = 0; dir < 2; ++dir) {
            Chunk* c = x->apChild[dir];
            if (c != nullptr && c != r && Sound(m, c)) {
                r->apChild[dir] = c;
                c->pParent = r;
            } else {
                r->apChild[dir] = nullptr;
            }
        }
    }
}

// Best fit from the tries for a chunk of nb bytes, or NULL when the tries hold none
// or the designated victim fits at least as well.
MEM_NO_ASAN Chunk* mspace_tree_alloc(MSPACE_STATE* m, uint64_t nb) {
    for (;;) {  // one pass per search; damage cut off during a pass may restart it
        Chunk* v = nullptr;
        uint64_t rsize = kMaxSize;
        uint32_t idx = mspace_tree_index(nb);
        Chunk* t = nullptr;
        Chunk** tLink = nullptr;
        int tBin = -1;  // trie whose head tLink is, when it is one
        bool restart = false;

        Chunk* root = m->apTreeBins[idx];
        if ((m->uiTreeMap & (1u << idx)) != 0 && root != nullptr) {
            if (!Sound(m, root)) {
                m->uiTreeMap &= ~(1u << idx);
                m->apTreeBins[idx] = nullptr;
                continue;
            }
            // Walk the trie by the bits of nb, remembering the nearest untaken subtree
            // of larger sizes.
            uint64_t k = nb << TreeShift(idx);
            Chunk* rst = nullptr;
            Chunk** rstLink = nullptr;
            t = root;
            for (;;) {
                uint64_t ts = ChunkSize(t);
                if (ts >= nb && ts - nb < rsize) {
                    v = t;
                    rsize = ts - nb;
                    if (rsize == 0) {
                        t = nullptr;
                        break;
                    }
                }
                Chunk* rt = t->apChild[1];
                Chunk** nextLink = &t->apChild[(k >> 63) & 1];
                Chunk* next = *nextLink;
                if (rt != nullptr && rt != next) {
                    rst = rt;
                    rstLink = &t->apChild[1];
                }
                if (next != nullptr && !Sound(m, next)) {
                    *nextLink = nullptr;
                    next = nullptr;
                }
                if (next == nullptr) {
                    t = rst;
                    tLink = rstLink;
                    break;
                }
                t = next;
                k <<= 1;
            }
        }
        if (t == nullptr && v == nullptr) {
            uint32_t left = m->uiTreeMap & ~((2u << idx) - 1u);
            if (idx == MSPACE_TREE_NUM - 1) {
                left = 0;
            }
            if (left != 0) {
                tBin = __builtin_ctz(left);
                tLink = &m->apTreeBins[tBin];
                t = *tLink;
                if (t == nullptr) {
                    m->uiTreeMap &= ~(1u << tBin);
                    continue;
                }
            }
        }
        // Smallest fit of the remaining subtree: always the first child when there is one.
        while (t != nullptr) {
            if (!Sound(m, t)) {
                *tLink = nullptr;
                if (tBin >= 0) {
                    m->uiTreeMap &= ~(1u << tBin);
                }
                restart = v == nullptr;
                break;
            }
            uint64_t ts = ChunkSize(t);
            if (ts >= nb && ts - nb < rsize) {
                v = t;
                rsize = ts - nb;
            }
            tLink = t->apChild[0] != nullptr ? &t->apChild[0] : &t->apChild[1];
            tBin = -1;
            t = *tLink;
        }
        if (restart) {
            continue;
        }

        if (v == nullptr || !(rsize < m->uvDvSize - nb) || Addr(v) < Addr(m->pLeastAddr) ||
            Addr(v) + nb < Addr(v)) {
            return nullptr;
        }
        mspace_tree_unlink(m, v);
        if (rsize >= MSPACE_MIN_SPLIT) {
            v->uvHead = nb | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
            Chunk* rem = ChunkPlus(v, nb);
            rem->uvMagic = CHUNK_MAGIC;
            rem->uvHead = rsize | MSPACE_PINUSE_BIT;
            SetFoot(rem, rsize);
            // The remainder becomes the designated victim; the old one goes to the tries.
            Chunk* old = m->pDv;
            if (old != nullptr && m->uvDvSize != 0 && Sound(m, old)) {
                mspace_tree_insert(m, old, m->uvDvSize);
            }
            m->pDv = rem;
            m->uvDvSize = rsize;
        } else {
            v->uvHead = ChunkSize(v) | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
            ChunkPlus(v, ChunkSize(v))->uvHead |= MSPACE_PINUSE_BIT;
        }
        return v;
    }
}

// Puts a free chunk of new segment memory into the tries.
MEM_NO_ASAN void mspace_free_chunk_add(MSPACE_STATE* m, Chunk* c, uint64_t uvSize) {
    c->uvMagic = CHUNK_MAGIC;
    c->uvHead = uvSize | MSPACE_PINUSE_BIT;
    SetFoot(c, uvSize);
    mspace_tree_insert(m, c, uvSize);
}

}  // namespace

MEM_NO_ASAN void* create_mspace_with_base(void* pBase, size_t capacity, int /*locked*/) {
    mspace_params_init();
    uintptr_t base = Addr(pBase);
    if (pBase == nullptr || capacity <= MSPACE_MIN_CAPACITY || base + capacity < base) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: Inval Param base(0x%p), capacity(%ld).",
                            "create_mspace_with_base", pBase, static_cast<long>(capacity));
        return nullptr;
    }
    uintptr_t state = AlignChunk(base);
    // An unaligned base costs up to 7 bytes; the capacity must still hold the state
    // chunk and the end reserve.
    if (capacity - MSPACE_MIN_CAPACITY < state - base) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: Inval Param base(0x%p), capacity(%ld).",
                            "create_mspace_with_base", pBase, static_cast<long>(capacity));
        return nullptr;
    }
    // The top's size shares its word with the flag bits, so it is kept to a multiple of
    // 8; the odd bytes join the reserve at the end.
    uint64_t topSize = (capacity - MSPACE_MIN_CAPACITY - (state - base)) & MSPACE_SIZE_MASK;

    MEM_UNPOISON(pBase, capacity);
    Chunk* sc = ChunkAt(state);
    sc->uvMagic = CHUNK_MAGIC;
    sc->uvHead = MSPACE_STATE_CHUNK_SIZE | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(ChunkMem(sc));
    mspace_state_init(m, static_cast<uint8_t*>(pBase), capacity);
    mspace_top_init(m, ChunkPlus(sc, MSPACE_STATE_CHUNK_SIZE), topSize);
    // Nothing of a fresh heap belongs to a caller.
    MEM_POISON(pBase, capacity);
    return m;
}

MEM_NO_ASAN void* mspace_malloc(void* msp, size_t uvBytes) {
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(msp);
    if (m == nullptr) {
        return nullptr;
    }
    uint64_t nb = (static_cast<uint64_t>(uvBytes) + 71) & MSPACE_SIZE_MASK;
    if (nb < uvBytes) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: The mem bytes(%lu) overflow(%lu).", "mspace_malloc",
                            static_cast<unsigned long>(uvBytes), static_cast<unsigned long>(nb));
        return nullptr;
    }
    // A zero-byte request would otherwise get a 64-byte chunk, too small for the free
    // chunk's own fields: its tree index would sit under its foot.
    if (nb < MSPACE_MIN_CHUNK) {
        nb = MSPACE_MIN_CHUNK;
    }
    for (;;) {
        if (m->uiTreeMap != 0) {
            Chunk* v = mspace_tree_alloc(m, nb);
            if (v != nullptr) {
                return HandOut(v);
            }
        }
        if (nb <= m->uvDvSize) {
            Chunk* dv = m->pDv;
            if (!Sound(m, dv)) {
                // A broken victim is dropped, never handed out.
                m->pDv = nullptr;
                m->uvDvSize = 0;
                continue;
            }
            uint64_t dvSize = m->uvDvSize;
            uint64_t r = dvSize - nb;
            if (r < MSPACE_MIN_SPLIT) {
                dv->uvHead = dvSize | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
                ChunkPlus(dv, dvSize)->uvHead |= MSPACE_PINUSE_BIT;
                m->pDv = nullptr;
                m->uvDvSize = 0;
            } else {
                Chunk* rem = ChunkPlus(dv, nb);
                rem->uvMagic = CHUNK_MAGIC;
                rem->uvHead = r | MSPACE_PINUSE_BIT;
                SetFoot(rem, r);
                m->pDv = rem;
                m->uvDvSize = r;
                dv->uvHead = nb | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
            }
            return HandOut(dv);
        }
        if (nb < m->uvTopSize) {
            Chunk* p = m->pTop;
            uint64_t rest = m->uvTopSize - nb;
            p->uvMagic = CHUNK_MAGIC;
            p->uvHead = nb | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT;
            Chunk* top = ChunkPlus(p, nb);
            top->uvMagic = CHUNK_MAGIC;
            top->uvHead = rest | MSPACE_PINUSE_BIT;
            m->pTop = top;
            m->uvTopSize = rest;
            return HandOut(p);
        }
        return nullptr;
    }
}

MEM_NO_ASAN uint32_t mspace_free(void* msp, void* pMem) {
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(msp);
    if (m == nullptr || pMem == nullptr || Addr(pMem) < kHeaderSize) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: Inval Param mem(0x%p).", "mspace_free", pMem);
        return 1;
    }
    Chunk* p = ChunkAt(Addr(pMem) - kHeaderSize);
    // Nothing below the heap is read: such an address is damage, whatever lies there.
    if (Addr(p) < Addr(m->pLeastAddr)) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: The slice is damaged.", "mspace_free");
        return 1;
    }
    if (p->uvMagic != CHUNK_MAGIC) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: Mem magic(0x%lx) is not the CHUNK_MAGIC(0x%x).",
                            "mspace_free", static_cast<unsigned long>(p->uvMagic),
                            static_cast<unsigned int>(CHUNK_MAGIC));
        return 1;
    }
    uint64_t psize = ChunkSize(p);
    if ((p->uvHead & MSPACE_CINUSE_BIT) == 0 || psize < MSPACE_MIN_CHUNK ||
        Addr(p) + psize < Addr(p)) {
        (void)MSPACE_REPORT("[ZIRPA-%s]: The slice is damaged.", "mspace_free");
        return 1;
    }
    Chunk* prev = nullptr;
    if ((p->uvHead & MSPACE_PINUSE_BIT) == 0) {
        uint64_t prevSize = p->uvPrevFoot;
        uintptr_t pa = Addr(p) - prevSize;
        if (pa > Addr(p) || pa < Addr(m->pLeastAddr)) {
            (void)MSPACE_REPORT("[ZIRPA-%s]: The slice is damaged.", "mspace_free");
            return 1;
        }
        // Only a sound free neighbour is merged; anything else stays where it is.
        Chunk* c = ChunkAt(pa);
        if (c->uvMagic == CHUNK_MAGIC && (c->uvHead & MSPACE_CINUSE_BIT) == 0) {
            prev = c;
        }
    }

    // From here on the chunk is free: the caller's bytes go back under poison.
    MEM_POISON(pMem, psize - MSPACE_CHUNK_OVERHEAD);
    p->uvHead &= ~MSPACE_CINUSE_BIT;

    if (prev != nullptr) {
        psize += p->uvPrevFoot;
        p = prev;
        Chunk* next = ChunkPlus(p, psize);
        if (p == m->pDv) {
            bool nextInUse = (next->uvHead & (MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT)) ==
                             (MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT);
            bool nextForeign = next->uvMagic != CHUNK_MAGIC && next != m->pTop;
            if (nextInUse || nextForeign) {
                m->uvDvSize = psize;
                if (!nextForeign) {
                    next->uvHead &= ~MSPACE_PINUSE_BIT;
                }
                p->uvHead = psize | MSPACE_PINUSE_BIT;
                SetFoot(p, psize);
                return 0;
            }
        } else {
            mspace_tree_unlink(m, p);
        }
    }

    Chunk* next = ChunkPlus(p, psize);
    uint64_t pinuse = p->uvHead & MSPACE_PINUSE_BIT;
    if (next->uvMagic != CHUNK_MAGIC && next != m->pTop) {
        // Whatever follows is not a chunk: keep this one apart.
        p->uvHead = psize | pinuse;
        SetFoot(p, psize);
        if (p == m->pDv) {
            m->uvDvSize = psize;
        } else {
            mspace_tree_insert(m, p, psize);
        }
        return 0;
    }
    if (Addr(next) > Addr(p) && (next->uvHead & MSPACE_PINUSE_BIT) != 0) {
        if ((next->uvHead & MSPACE_CINUSE_BIT) == 0) {
            if (next == m->pTop) {
                uint64_t tsize = m->uvTopSize + psize;
                m->uvTopSize = tsize;
                m->pTop = p;
                p->uvMagic = CHUNK_MAGIC;
                p->uvHead = tsize | MSPACE_PINUSE_BIT;
                if (p == m->pDv) {
                    m->pDv = nullptr;
                    m->uvDvSize = 0;
                }
                if (tsize > m->uvTrimCheck) {
                    mspace_trim_disable(m);
                }
                return 0;
            }
            if (next == m->pDv) {
                uint64_t dsize = m->uvDvSize + psize;
                m->uvDvSize = dsize;
                m->pDv = p;
                p->uvHead = dsize | MSPACE_PINUSE_BIT;
                SetFoot(p, dsize);
                return 0;
            }
            uint64_t nsize = ChunkSize(next);
            mspace_tree_unlink(m, next);
            psize += nsize;
            p->uvHead = psize | MSPACE_PINUSE_BIT;
            SetFoot(p, psize);
            if (p == m->pDv) {
                m->uvDvSize = psize;
                return 0;
            }
        } else {
            next->uvHead &= ~MSPACE_PINUSE_BIT;
            p->uvHead = psize | MSPACE_PINUSE_BIT;
            SetFoot(p, psize);
        }
    } else {
        p->uvHead = psize | pinuse;
        SetFoot(p, psize);
    }
    if (p == m->pDv) {
        m->uvDvSize = psize;  // the victim never enters the tries
        return 0;
    }
    mspace_tree_insert(m, p, psize);
    return 0;
}

MEM_NO_ASAN void mspace_segment_add(void* msp, void* pBase, uint64_t uvSize, uint32_t uiFlags) {
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(msp);
    uintptr_t b = Addr(pBase);
    uintptr_t end = b + uvSize;
    if (m == nullptr || pBase == nullptr || end < b || uvSize < 135 + 8) {
        return;
    }
    uintptr_t first = AlignChunk(b);
    uintptr_t rec = AlignChunk(end - 135);
    if (rec < first || rec - first < MSPACE_MIN_CHUNK) {
        return;  // too small to hold one chunk besides the record
    }
    uint64_t freeSize = rec - first;

    MEM_UNPOISON(pBase, uvSize);
    // The record chunk at the end: in use, so that no merge ever runs past it.
    Chunk* rc = ChunkAt(rec);
    rc->uvMagic = CHUNK_MAGIC;
    rc->uvHead = MSPACE_SEGMENT_CHUNK_SIZE | MSPACE_CINUSE_BIT;
    MSPACE_SEGMENT* seg = static_cast<MSPACE_SEGMENT*>(ChunkMem(rc));
    seg->pBase = static_cast<uint8_t*>(pBase);
    seg->uvSize = uvSize;
    seg->uiFlags = uiFlags;
    seg->pNext = m->stSeg.pNext;
    m->stSeg.pNext = seg;
    // Fence words behind the record: nothing there passes for a chunk. They start
    // behind the record's own words so that its flags stay as given.
    for (uintptr_t w = rec + kHeaderSize + sizeof(MSPACE_SEGMENT); w + 16 <= end; w += 8) {
        *reinterpret_cast<uint64_t*>(w) = MSPACE_FENCE_HEAD;
    }
    mspace_free_chunk_add(m, ChunkAt(first), freeSize);
    MEM_POISON(pBase, uvSize);
}

MEM_NO_ASAN uint64_t Release_unused_segments(void* msp, void* pBase) {
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(msp);
    if (m == nullptr) {
        return 0;
    }
    MSPACE_SEGMENT** link = &m->stSeg.pNext;
    for (MSPACE_SEGMENT* seg = *link; seg != nullptr; link = &seg->pNext, seg = *link) {
        // A record is trusted only inside its sound chunk: an overrun from the segment's
        // last block reaches the chunk's magic before the record. A broken link is cut,
        // and the segments behind it stay where they are, never to be released.
        if (Addr(seg) < kHeaderSize || !Sound(m, ChunkAt(Addr(seg) - kHeaderSize))) {
            *link = nullptr;
            return 0;
        }
        if (pBase != nullptr && seg->pBase != pBase) {
            continue;
        }
        Chunk* c = ChunkAt(AlignChunk(Addr(seg->pBase)));
        if (c->uvMagic != CHUNK_MAGIC || (c->uvHead & MSPACE_CINUSE_BIT) != 0) {
            continue;
        }
        if (c == m->pTop) {
            return 0;
        }
        // The segment goes only when that free chunk reaches its record: a block
        // still in use further up would otherwise be given away with it.
        Chunk* rc = ChunkAt(Addr(seg) - kHeaderSize);
        if (ChunkPlus(c, ChunkSize(c)) != rc) {
            continue;
        }
        if (c == m->pDv) {
            m->pDv = nullptr;
            m->uvDvSize = 0;
        } else {
            mspace_tree_unlink(m, c);
        }
        *link = seg->pNext;
        uint8_t* base = seg->pBase;
        uint64_t size = seg->uvSize;
        // The memory is the caller's again, to use as it likes.
        MEM_UNPOISON(base, size);
        return size;
    }
    return 0;
}

MEM_NO_ASAN uint64_t mspace_largest_free(void* msp) {
    MSPACE_STATE* m = static_cast<MSPACE_STATE*>(msp);
    if (m == nullptr) {
        return 0;
    }
    uint64_t best = m->uvTopSize != 0 ? m->uvTopSize - 1 : 0;
    if (m->uvDvSize > best) {
        best = m->uvDvSize;
    }
    uint32_t idx = mspace_tree_index(best);
    uint32_t above = m->uiTreeMap & ~((1u << idx) - 1u);
    if (above != 0) {
        uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(above));
        // Larger sizes lie under the second child; walk there whenever there is one.
        for (Chunk* t = m->apTreeBins[top]; Sound(m, t);) {
            if (ChunkSize(t) > best) {
                best = ChunkSize(t);
            }
            t = t->apChild[1] != nullptr ? t->apChild[1] : t->apChild[0];
        }
    }
    best &= MSPACE_SIZE_MASK;
    return best < MSPACE_CHUNK_OVERHEAD ? 0 : best - MSPACE_CHUNK_OVERHEAD;
}
