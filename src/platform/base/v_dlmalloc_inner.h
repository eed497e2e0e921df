#pragma once
// Inside the boundary-tag heap: the chunk header every chunk carries, the heap state
// kept in the first chunk, the segment records and the size tries. The memory
// algorithm above the heap reads chunk headers to learn the size of its large blocks.

#include <cstddef>
#include <cstdint>

#include "v_dlmalloc.h"

constexpr uint64_t CHUNK_MAGIC = 0xFBADBEEF;

// Chunk header. The caller's memory begins right behind it (chunk + 72); a chunk of
// size s gives its caller s - 64 bytes, the last 8 being the next chunk's previous
// foot, which belongs to the caller while this chunk is in use.
struct MSPACE_CHUNK_HEAD {
    uint64_t uvPrevFoot;                 // size of the previous chunk while it is free
    uint64_t uvMagic;                    // CHUNK_MAGIC
    uint64_t uvHead;                     // size | MSPACE_PINUSE_BIT | MSPACE_CINUSE_BIT
    MSPACE_CHUNK_HEAD* pFd;              // ring of free chunks of the same size
    MSPACE_CHUNK_HEAD* pBk;
    MSPACE_CHUNK_HEAD* apChild[2];       // size trie
    MSPACE_CHUNK_HEAD* pParent;          // itself for a trie root, NULL for a ring member
    uint32_t uiIndex;                    // trie the chunk is kept in
};
static_assert(sizeof(MSPACE_CHUNK_HEAD) == 72, "chunk header is 72 bytes");

constexpr uint64_t MSPACE_PINUSE_BIT = 1;     // previous chunk in use
constexpr uint64_t MSPACE_CINUSE_BIT = 2;     // this chunk in use
constexpr uint64_t MSPACE_SIZE_MASK = ~uint64_t{7};
constexpr uint64_t MSPACE_CHUNK_OVERHEAD = 64;  // chunk size - bytes the caller gets
constexpr uint64_t MSPACE_MIN_CHUNK = 72;
constexpr uint64_t MSPACE_MIN_SPLIT = 256;      // smaller remainders stay with the chunk
constexpr uint64_t MSPACE_STATE_CHUNK_SIZE = 968;
constexpr uint64_t MSPACE_END_RESERVE = 128;    // kept free behind the top
constexpr uint64_t MSPACE_MIN_CAPACITY = MSPACE_STATE_CHUNK_SIZE + MSPACE_END_RESERVE;
constexpr uint64_t MSPACE_SEGMENT_CHUNK_SIZE = 96;
constexpr uint64_t MSPACE_FENCE_HEAD = 11;
constexpr uint32_t MSPACE_TREE_NUM = 32;

// One segment of memory: the first one lives in the heap state, each added one in a
// small in-use chunk at its own end.
struct MSPACE_SEGMENT {
    uint8_t* pBase;
    uint64_t uvSize;
    MSPACE_SEGMENT* pNext;
    uint32_t uiFlags;
};
static_assert(sizeof(MSPACE_SEGMENT) <= MSPACE_SEGMENT_CHUNK_SIZE - MSPACE_CHUNK_OVERHEAD,
              "a segment record fits in its chunk");

// Heap state, kept in the caller's memory of the first chunk; the heap handle is its
// address.
struct MSPACE_STATE {
    uint32_t uiTreeMap;                  // bit i set while trie i is not empty
    uint64_t uvDvSize;                   // designated victim
    MSPACE_CHUNK_HEAD* pDv;
    uint64_t uvTopSize;
    MSPACE_CHUNK_HEAD* pTop;
    uint8_t* pLeastAddr;                 // no link below it is followed or written
    uint64_t uvTrimCheck;
    MSPACE_CHUNK_HEAD* apTreeBins[MSPACE_TREE_NUM];
    MSPACE_SEGMENT stSeg;                // first segment; its pNext heads the added ones
    uint8_t aucReserved[552];
};
static_assert(sizeof(MSPACE_CHUNK_HEAD) + sizeof(MSPACE_STATE) == MSPACE_STATE_CHUNK_SIZE,
              "the state chunk is 968 bytes");

// Trie of a chunk size: 0 below 256, 31 from 256 * 65536; otherwise, with k the highest
// set bit of s / 256, 2k + bit k + 7 of s.
constexpr uint32_t mspace_tree_index(uint64_t uvSize) {
    uint64_t x = uvSize >> 8;
    if (x == 0) {
        return 0;
    }
    if (x > 0xFFFF) {
        return MSPACE_TREE_NUM - 1;
    }
    uint32_t k = 63 - static_cast<uint32_t>(__builtin_clzll(x));
    return (k << 1) + static_cast<uint32_t>((uvSize >> (k + 7)) & 1);
}
