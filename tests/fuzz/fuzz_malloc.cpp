// Fuzz target of the allocation front on a started platform.
//
// Input: a sequence of six-byte steps: an operation, a slot (one of 32), and four
// bytes from which the size is drawn (the operation's top bits pick its scale: a few
// bytes, a few kilobytes, up to 4 MiB, zero, or a size no partition can hold).
// Operations: UKO_Malloc, UKO_Calloc, UKO_Realloc, UKO_Free, UKO_MallocAlign_X, the
// fixed-size family, UKO_Malloc_X with UKO_Free_X, and UKO_RefInc.
//
// Every block gets a pattern of its own over all its bytes, checked when it is
// reallocated or freed, so that one block written by the allocator's handling of
// another is seen. Checks: a block is aligned and overlaps no live block; a zero or
// impossible size gives NULL and a small one, while little is live, a block; calloc
// gives zeros; reallocation keeps the bytes both sizes share; a block whose count was
// raised survives a free; and once every block is freed the system partition's used
// bytes are what they were before the input.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "uko_mempt_inner.h"
#include "uko_start.h"

namespace {

using vt_fuzz::Reader;

constexpr int kSlots = 32;
constexpr uint64_t kSmallRequest = 64 * 1024;
constexpr uint64_t kLittleLive = 16 * 1024 * 1024;

struct Block {
    uint8_t* p = nullptr;
    uint64_t size = 0;
    uint8_t seed = 0;
    int references = 0;  // frees still needed
};

Block g_slots[kSlots];
std::map<uintptr_t, uint64_t> g_live;  // start -> size, for the overlap check
uint64_t g_liveBytes = 0;
uint8_t g_nextSeed = 1;

uint8_t PatternByte(uint8_t seed, uint64_t i) { return static_cast<uint8_t>(seed + i * 31 + (i >> 8)); }

// The bytes of a block that carry its pattern: all of a block up to 64 KiB; of a larger
// one its first and last 4 KiB, where a neighbour's bookkeeping would land, and one byte
// in every 4 KiB between them.
constexpr uint64_t kWholePattern = 64 * 1024;
constexpr uint64_t kEdge = 4096;

uint64_t NextPatterned(uint64_t size, uint64_t i) {
    if (size <= kWholePattern || i + 1 < kEdge || i + 1 >= size - kEdge) {
        return i + 1;
    }
    const uint64_t next = (i / kEdge + 1) * kEdge;
    return next < size - kEdge ? next : size - kEdge;
}

void Fill(Block& b) {
    b.seed = g_nextSeed++;
    for (uint64_t i = 0; i < b.size; i = NextPatterned(b.size, i)) {
        b.p[i] = PatternByte(b.seed, i);
    }
}

// Checks the pattern over the first upTo bytes of the block.
void CheckPattern(const Block& b, uint64_t upTo, const char* when) {
    const uint64_t end = upTo < b.size ? upTo : b.size;
    for (uint64_t i = 0; i < end; i = NextPatterned(b.size, i)) {
        FUZZ_CHECK(b.p[i] == PatternByte(b.seed, i), std::string(when) + ": byte " + std::to_string(i) + " of a " +
                                                         std::to_string(b.size) + "-byte block changed");
    }
}

void Track(Block& b, uint8_t* p, uint64_t size, uint64_t align, const std::string& what) {
    FUZZ_CHECK(reinterpret_cast<uintptr_t>(p) % align == 0, what + ": misaligned");
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    auto next = g_live.lower_bound(start);
    FUZZ_CHECK(next == g_live.end() || next->first >= start + size, what + ": overlaps a live block");
    if (next != g_live.begin()) {
        auto prev = std::prev(next);
        FUZZ_CHECK(prev->first + prev->second <= start, what + ": overlaps a live block");
    }
    g_live[start] = size;
    g_liveBytes += size;
    b.p = p;
    b.size = size;
    b.references = 1;
}

void Untrack(Block& b) {
    g_live.erase(reinterpret_cast<uintptr_t>(b.p));
    g_liveBytes -= b.size;
    b = Block{};
}

void Release(Block& b) {
    if (b.p == nullptr) {
        return;
    }
    CheckPattern(b, b.size, "free");
    while (b.references > 0) {
        FUZZ_CHECK(UKO_Free(b.p) == 0, "UKO_Free of a live block");
        if (--b.references > 0) {
            CheckPattern(b, b.size, "free of a block still referenced");
        }
    }
    Untrack(b);
}

uint64_t DrawSize(uint8_t scale, uint32_t raw) {
    switch (scale) {
        case 0:
            return raw % 64;
        case 1:
            return raw % 8192;
        case 2:
            return raw % (4u << 20);
        case 3:
            return 0;
        case 4:
            return UINT64_MAX - (raw % 16);
        default:
            return raw % 512;
    }
}

// A request that must be served: small, while little is live.
bool MustServe(uint64_t size) { return size > 0 && size <= kSmallRequest && g_liveBytes <= kLittleLive; }

void Step(uint8_t op, uint8_t slotPick, uint32_t raw) {
    Block& b = g_slots[slotPick % kSlots];
    const uint64_t size = DrawSize(static_cast<uint8_t>(op >> 4) % 6, raw);
    const std::string what = "op " + std::to_string(op & 15) + " size " + std::to_string(size);
    switch (op & 15) {
        case 0:
        case 1: {  // UKO_Malloc, UKO_Calloc
            Release(b);
            const bool zeroed = (op & 15) == 1;
            auto* p = static_cast<uint8_t*>(zeroed ? UKO_Calloc(0, 0, size) : UKO_Malloc(0, size));
            if (p == nullptr) {
                FUZZ_CHECK(!MustServe(size), what + ": a small block was refused");
                return;
            }
            FUZZ_CHECK(size != 0 && size < (1ull << 40), what + ": an impossible size was served");
            if (zeroed) {
                for (uint64_t i = 0; i < size; i = NextPatterned(size, i)) {
                    FUZZ_CHECK(p[i] == 0, what + ": calloc byte " + std::to_string(i) + " is not zero");
                }
            }
            Track(b, p, size, 8, what);
            Fill(b);
            return;
        }
        case 2: {  // UKO_Realloc
            if (b.references > 1) {
                return;  // a block others still hold is not moved
            }
            const Block old = b;
            auto* p = static_cast<uint8_t*>(UKO_Realloc(b.p, size));
            if (p == nullptr) {
                if (size == 0 && old.p != nullptr) {
                    Untrack(b);  // reallocation to 0 frees
                    return;
                }
                FUZZ_CHECK(!MustServe(size), what + ": a small reallocation was refused");
                if (old.p != nullptr) {
                    CheckPattern(old, old.size, "failed reallocation");
                }
                return;
            }
            FUZZ_CHECK(size != 0 && size < (1ull << 40), what + ": an impossible size was served");
            if (old.p != nullptr) {
                Block moved = old;
                moved.p = p;
                CheckPattern(moved, size < old.size ? size : old.size, "reallocation");
                Untrack(b);
            }
            Track(b, p, size, 8, what);
            Fill(b);
            return;
        }
        case 3:  // UKO_Free
            Release(b);
            return;
        case 4: {  // UKO_MallocAlign_X
            Release(b);
            static const uint32_t kAligns[] = {8, 16, 32, 64, 128, 4, 256, 0};
            const uint32_t align = kAligns[raw >> 29];
            auto* p = static_cast<uint8_t*>(UKO_MallocAlign_X(0, size, align, "fuzz", 1));
            const bool validAlign = align >= 8 && align <= 128;
            if (p == nullptr) {
                FUZZ_CHECK(!validAlign || !MustServe(size), what + ": a small aligned block was refused");
                return;
            }
            FUZZ_CHECK(validAlign, what + ": alignment " + std::to_string(align) + " was accepted");
            Track(b, p, size, align, what + " align " + std::to_string(align));
            Fill(b);
            return;
        }
        case 5: {  // the fixed-size family
            Release(b);
            static void* (*const kFixed[])(uint32_t) = {UKO_Malloc32,  UKO_Malloc64,   UKO_Malloc128,
                                                        UKO_Malloc256, UKO_Malloc512,  UKO_Malloc1024,
                                                        UKO_Malloc2048, UKO_Malloc4096};
            const int k = static_cast<int>(raw % 8);
            auto* p = static_cast<uint8_t*>(kFixed[k](0));
            FUZZ_CHECK(p != nullptr || g_liveBytes > kLittleLive, what + ": a fixed-size block was refused");
            if (p != nullptr) {
                Track(b, p, 32ull << k, 8, what);
                Fill(b);
            }
            return;
        }
        case 6: {  // UKO_Malloc_X, given back with UKO_Free_X
            Release(b);
            auto* p = static_cast<uint8_t*>(UKO_Malloc_X(0, size, "fuzz", 2));
            if (p == nullptr) {
                FUZZ_CHECK(!MustServe(size), what + ": a small block was refused");
                return;
            }
            Track(b, p, size, 8, what);
            Fill(b);
            CheckPattern(b, b.size, "before UKO_Free_X");
            void* handle = b.p;
            FUZZ_CHECK(UKO_Free_X(&handle, "fuzz", 3) == 0 && handle == nullptr, what + ": UKO_Free_X");
            Untrack(b);
            return;
        }
        case 7:  // UKO_RefInc: one more free needed
            if (b.p != nullptr && b.references < 4) {
                FUZZ_CHECK(UKO_RefInc(b.p) == 0, what + ": UKO_RefInc of a live block");
                ++b.references;
            }
            return;
        default:
            return;
    }
}

uint64_t SystemPartitionUsed() {
    UKO_MEMPT_CB* cb = &m_pstMemPtCb[0];
    FUZZ_CHECK(pthread_mutex_lock(&cb->stLock) == 0, "partition lock");
    const uint64_t used = cb->uvUsedSize;
    (void)pthread_mutex_unlock(&cb->stLock);
    return used;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    const uint32_t rc = UKO_Start();
    FUZZ_CHECK(rc == 0, "UKO_Start gave " + std::to_string(rc));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t usedBefore = SystemPartitionUsed();
    Reader in(data, size);
    while (in.Left() >= 6) {
        const uint8_t op = in.Byte();
        const uint8_t slot = in.Byte();
        Step(op, slot, in.U32());
    }
    for (Block& b : g_slots) {
        Release(b);
    }
    FUZZ_CHECK(g_live.empty() && g_liveBytes == 0, "the target lost track of a block");
    const uint64_t usedAfter = SystemPartitionUsed();
    FUZZ_CHECK(usedAfter == usedBefore, "used bytes " + std::to_string(usedBefore) + " before, " +
                                            std::to_string(usedAfter) + " after every block was freed");
    return 0;
}
