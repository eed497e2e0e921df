#pragma once
// Test helpers that look inside the heaps: word access to bytes the heaps keep
// poisoned, and a full consistency walk of an mspace heap.

#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "uko_secfunc.h"
#include "v_dlmalloc.h"
#include "v_dlmalloc_inner.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define HEAP_TEST_ASAN 1
#define HEAP_TEST_NO_ASAN __attribute__((no_sanitize_address, noinline))
#else
#define HEAP_TEST_NO_ASAN __attribute__((noinline))
#endif

namespace heap_test {

HEAP_TEST_NO_ASAN inline uint64_t Peek64(const void* p) {
    return *static_cast<const volatile uint64_t*>(p);
}
HEAP_TEST_NO_ASAN inline void Poke64(void* p, uint64_t v) { *static_cast<volatile uint64_t*>(p) = v; }
HEAP_TEST_NO_ASAN inline uint32_t Peek32(const void* p) {
    return *static_cast<const volatile uint32_t*>(p);
}
HEAP_TEST_NO_ASAN inline void Poke32(void* p, uint32_t v) { *static_cast<volatile uint32_t*>(p) = v; }
HEAP_TEST_NO_ASAN inline void* PeekPtr(const void* p) {
    return reinterpret_cast<void*>(Peek64(p));
}

inline uint8_t* At(const void* p, intptr_t off) {
    return reinterpret_cast<uint8_t*>(const_cast<void*>(p)) + off;
}

// Chunk of a caller's address, and the fields of a chunk by offset.
inline MSPACE_CHUNK_HEAD* ChunkOf(const void* mem) {
    return reinterpret_cast<MSPACE_CHUNK_HEAD*>(At(mem, -72));
}
inline uint64_t HeadOf(const MSPACE_CHUNK_HEAD* c) { return Peek64(At(c, 16)); }
inline uint64_t SizeOf(const MSPACE_CHUNK_HEAD* c) { return HeadOf(c) & MSPACE_SIZE_MASK; }

// A copy of the heap state, taken word by word past the poison.
HEAP_TEST_NO_ASAN inline MSPACE_STATE StateOf(const void* msp) {
    MSPACE_STATE s;
    auto* dst = reinterpret_cast<volatile uint64_t*>(&s);
    const auto* src = static_cast<const volatile uint64_t*>(msp);
    for (size_t i = 0; i < sizeof(s) / 8; ++i) {
        dst[i] = src[i];
    }
    return s;
}

// Poison checks; without the sanitizer they always hold.
inline bool Unpoisoned(const void* p, size_t n) {
#if defined(HEAP_TEST_ASAN)
    return n == 0 || __asan_region_is_poisoned(const_cast<void*>(p), n) == nullptr;
#else
    (void)p;
    (void)n;
    return true;
#endif
}
inline bool Poisoned(const void* p) {
#if defined(HEAP_TEST_ASAN)
    return __asan_address_is_poisoned(p) != 0;
#else
    (void)p;
    return true;
#endif
}
// Samples a region that must be poisoned throughout: both ends and every 4 KiB.
inline bool PoisonedSampled(const void* p, size_t n) {
    if (n == 0) {
        return true;
    }
    for (size_t off = 0; off < n; off += 4096) {
        if (!Poisoned(At(p, static_cast<intptr_t>(off)))) {
            return false;
        }
    }
    return Poisoned(At(p, static_cast<intptr_t>(n - 1)));
}

struct WalkResult {
    std::string error;       // empty when the heap is consistent
    uint64_t inUseChunks = 0;
    uint64_t inUseBytes = 0;  // chunk sizes, the state and segment records excluded
    uint64_t freeChunks = 0;  // victim and tree chunks, the top excluded
    uint64_t freeBytes = 0;
    uint64_t segments = 0;
};

// Walks every chunk of every segment and every trie, checking the boundary tags
// against each other and against the tries. With checkCallerPoison, in-use chunks must
// expose exactly their caller's bytes (true only when the mspace is used on its own).
HEAP_TEST_NO_ASAN inline WalkResult WalkHeap(const void* msp, bool checkCallerPoison) {
    WalkResult r;
    const MSPACE_STATE s = StateOf(msp);
    std::ostringstream err;
    std::set<uintptr_t> freeInChunks;
    auto fail = [&](const std::string& what, const void* where) {
        if (r.error.empty()) {
            err << what << " at " << where;
            r.error = err.str();
        }
    };
    const uintptr_t least = reinterpret_cast<uintptr_t>(s.pLeastAddr);

    // Walks [first, end) where end is the top (first segment) or the record chunk.
    auto walkRange = [&](const MSPACE_CHUNK_HEAD* c, const MSPACE_CHUNK_HEAD* stop, bool firstSeg) {
        bool prevInUse = true;
        while (c != stop) {
            if (reinterpret_cast<uintptr_t>(c) > reinterpret_cast<uintptr_t>(stop)) {
                fail("walk ran past its end", c);
                return;
            }
            if (Peek64(At(c, 8)) != CHUNK_MAGIC) {
                fail("chunk without magic", c);
                return;
            }
            uint64_t head = HeadOf(c);
            uint64_t size = head & MSPACE_SIZE_MASK;
            if (size < MSPACE_MIN_CHUNK) {
                fail("chunk below the minimum size", c);
                return;
            }
            if (((head & MSPACE_PINUSE_BIT) != 0) != prevInUse) {
                fail("previous-in-use bit disagrees with the previous chunk", c);
                return;
            }
            bool inUse = (head & MSPACE_CINUSE_BIT) != 0;
            if (inUse) {
                bool isState = firstSeg && At(c, 72) == msp;
                if (!isState) {
                    r.inUseChunks++;
                    r.inUseBytes += size;
                    if (checkCallerPoison && !Unpoisoned(At(c, 72), size - 64)) {
                        fail("caller's bytes of an in-use chunk are poisoned", c);
                        return;
                    }
                }
                if (!Poisoned(At(c, 8)) || !Poisoned(At(c, 64))) {
                    fail("header of an in-use chunk is not poisoned", c);
                    return;
                }
            } else {
                if (!prevInUse) {
                    fail("two free chunks side by side", c);
                    return;
                }
                if (Peek64(At(c, static_cast<intptr_t>(size))) != size) {
                    fail("free chunk's foot differs from its size", c);
                    return;
                }
                if (!PoisonedSampled(At(c, 8), size)) {
                    fail("free chunk is not poisoned", c);
                    return;
                }
                freeInChunks.insert(reinterpret_cast<uintptr_t>(c));
                r.freeChunks++;
                r.freeBytes += size;
            }
            prevInUse = inUse;
            c = reinterpret_cast<const MSPACE_CHUNK_HEAD*>(At(c, static_cast<intptr_t>(size)));
        }
        if (!firstSeg) {
            bool recordPinuse = (HeadOf(stop) & MSPACE_PINUSE_BIT) != 0;
            if (recordPinuse != prevInUse) {
                fail("segment record's previous-in-use bit is wrong", stop);
            }
        } else if (!prevInUse) {
            fail("free chunk right below the top", stop);
        }
    };

    // First segment: from the state chunk to the top.
    const MSPACE_CHUNK_HEAD* stateChunk = reinterpret_cast<const MSPACE_CHUNK_HEAD*>(At(msp, -72));
    if (SizeOf(stateChunk) != MSPACE_STATE_CHUNK_SIZE) {
        fail("state chunk size", stateChunk);
    }
    walkRange(stateChunk, s.pTop, true);
    r.segments = 1;
    if (r.error.empty()) {
        if (Peek64(At(s.pTop, 8)) != CHUNK_MAGIC || SizeOf(s.pTop) != s.uvTopSize ||
            (HeadOf(s.pTop) & MSPACE_CINUSE_BIT) != 0) {
            fail("top chunk disagrees with the state", s.pTop);
        }
        uintptr_t topEnd = reinterpret_cast<uintptr_t>(s.pTop) + s.uvTopSize;
        uintptr_t segEnd = reinterpret_cast<uintptr_t>(s.stSeg.pBase) + s.stSeg.uvSize;
        if (topEnd + MSPACE_END_RESERVE > segEnd) {
            fail("top runs into the end reserve", s.pTop);
        }
        if (s.uvTopSize > 0 && !PoisonedSampled(At(s.pTop, 8), s.uvTopSize)) {
            fail("top is not poisoned", s.pTop);
        }
    }
    // Added segments: from the aligned base to the record chunk.
    for (auto* seg = static_cast<MSPACE_SEGMENT*>(PeekPtr(&s.stSeg.pNext)); seg != nullptr && r.error.empty();
         seg = static_cast<MSPACE_SEGMENT*>(PeekPtr(At(seg, 16)))) {
        r.segments++;
        auto* base = static_cast<uint8_t*>(PeekPtr(seg));
        uintptr_t first = reinterpret_cast<uintptr_t>(base);
        first += (8 - ((first + 72) & 7)) & 7;
        auto* rec = reinterpret_cast<const MSPACE_CHUNK_HEAD*>(At(seg, -72));
        if (Peek64(At(rec, 8)) != CHUNK_MAGIC || SizeOf(rec) != MSPACE_SEGMENT_CHUNK_SIZE ||
            (HeadOf(rec) & MSPACE_CINUSE_BIT) == 0) {
            fail("segment record chunk", rec);
            break;
        }
        walkRange(reinterpret_cast<const MSPACE_CHUNK_HEAD*>(first), rec, false);
    }

    // Tries: every node sound, in the right trie, parent and ring links consistent.
    std::set<uintptr_t> inTrees;
    for (uint32_t i = 0; i < MSPACE_TREE_NUM && r.error.empty(); ++i) {
        const MSPACE_CHUNK_HEAD* root = s.apTreeBins[i];
        bool mapped = (s.uiTreeMap & (1u << i)) != 0;
        if ((root != nullptr) != mapped) {
            fail("tree map bit disagrees with trie " + std::to_string(i), root);
            break;
        }
        if (root == nullptr) {
            continue;
        }
        if (PeekPtr(At(root, 56)) != root) {
            fail("trie root is not its own parent", root);
            break;
        }
        // Depth-first over the trie with an explicit stack.
        const MSPACE_CHUNK_HEAD* stack[4096];
        size_t depth = 0;
        stack[depth++] = root;
        while (depth > 0 && r.error.empty()) {
            const MSPACE_CHUNK_HEAD* t = stack[--depth];
            if (reinterpret_cast<uintptr_t>(t) < least || Peek64(At(t, 8)) != CHUNK_MAGIC) {
                fail("broken trie node", t);
                break;
            }
            uint64_t size = SizeOf(t);
            if (Peek32(At(t, 64)) != i || mspace_tree_index(size) != i) {
                fail("node in the wrong trie", t);
                break;
            }
            // Its ring: same size, links both ways, members hang off no parent.
            const MSPACE_CHUNK_HEAD* n = t;
            size_t ringLen = 0;
            do {
                if (!inTrees.insert(reinterpret_cast<uintptr_t>(n)).second) {
                    fail("chunk twice in the tries", n);
                    break;
                }
                if (SizeOf(n) != size || Peek64(At(n, 8)) != CHUNK_MAGIC) {
                    fail("ring member of another size", n);
                    break;
                }
                auto* fd = static_cast<const MSPACE_CHUNK_HEAD*>(PeekPtr(At(n, 24)));
                if (PeekPtr(At(fd, 32)) != n) {
                    fail("ring links disagree", n);
                    break;
                }
                if (n != t && PeekPtr(At(n, 56)) != nullptr) {
                    fail("ring member with a parent", n);
                    break;
                }
                n = fd;
                if (++ringLen > 1000000) {
                    fail("endless ring", t);
                    break;
                }
            } while (n != t);
            for (int dir = 0; dir < 2; ++dir) {
                auto* child = static_cast<const MSPACE_CHUNK_HEAD*>(PeekPtr(At(t, 40 + 8 * dir)));
                if (child == nullptr) {
                    continue;
                }
                if (PeekPtr(At(child, 56)) != t) {
                    fail("child's parent link is wrong", child);
                    break;
                }
                if (depth >= 4096) {
                    fail("trie too deep", child);
                    break;
                }
                stack[depth++] = child;
            }
        }
    }
    if (r.error.empty()) {
        // Every free chunk but the victim is in the tries, and nothing else is.
        std::set<uintptr_t> expected = freeInChunks;
        if (s.pDv != nullptr) {
            if (expected.erase(reinterpret_cast<uintptr_t>(s.pDv)) != 1 || SizeOf(s.pDv) != s.uvDvSize) {
                fail("designated victim is not a free chunk of its size", s.pDv);
            }
        } else if (s.uvDvSize != 0) {
            fail("victim size without a victim", nullptr);
        }
        if (r.error.empty() && expected != inTrees) {
            fail("free chunks and trie contents differ", nullptr);
        }
    }
    return r;
}

// Host memory for an arena, aligned like the host allocator's blocks.
struct HostBlock {
    explicit HostBlock(size_t n) : size(n), p(static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) & ~size_t{63}))) {}
    ~HostBlock() { std::free(p); }
    HostBlock(const HostBlock&) = delete;
    HostBlock& operator=(const HostBlock&) = delete;
    size_t size;
    uint8_t* p;
};

// Captures the error records made while it lives.
struct RecordCapture {
    struct Entry {
        uint32_t level;
        uint16_t code;
        uint16_t module;
        std::string file;
        std::string format;
    };
    RecordCapture() {
        Entries().clear();
        ukoErrorRecordObserverSet(Observe);
    }
    ~RecordCapture() { ukoErrorRecordObserverSet(nullptr); }
    RecordCapture(const RecordCapture&) = delete;
    RecordCapture& operator=(const RecordCapture&) = delete;

    size_t Count() const { return Entries().size(); }
    const Entry& Last() const { return Entries().back(); }
    void Clear() { Entries().clear(); }

    static std::vector<Entry>& Entries() {
        static std::vector<Entry> entries;
        return entries;
    }
    static void Observe(uint32_t level, uint16_t code, uint16_t module, const char* file, uint16_t,
                        const char* format) {
        Entries().push_back({level, code, module, file != nullptr ? file : "",
                             format != nullptr ? format : ""});
    }
};

}  // namespace heap_test
