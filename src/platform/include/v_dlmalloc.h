#pragma once
// The boundary-tag heap that the memory algorithm lays over a partition's memory.
//
// It works only on memory its caller owns: it never asks the system for more, never
// trims, and takes no lock (its one caller runs under the partition's lock). Because
// that memory must survive damage, every chunk carries a magic word, every link is
// tested before it is followed, and a broken link is cut off instead of being used:
// damaged memory is lost rather than handed out twice.
//
// Free chunks of every size live in 32 size-keyed bit tries; one free chunk, the
// designated victim, is kept out of the tries and tried first; the top chunk at the
// end of the first segment is carved when nothing else fits. Remainders below 256
// bytes are never split off.

#include <cstddef>
#include <cstdint>

// Segment flag of mspace_segment_add: memory the caller owns.
constexpr uint32_t MSPACE_SEGMENT_EXTERN = 8;

// Lays a heap over [pBase, pBase + capacity). NULL for a capacity of 1096 bytes or
// less, or one that wraps the address space. The lock flag is not read.
void* create_mspace_with_base(void* pBase, size_t capacity, int locked);
// The caller's address of a chunk holding at least uvBytes, or NULL.
void* mspace_malloc(void* msp, size_t uvBytes);
// 0, or 1 when the address is refused (reported, nothing changed).
uint32_t mspace_free(void* msp, void* pMem);
// Adds [pBase, pBase + uvSize) as a further segment; its memory becomes one free chunk.
// The heap's lowest address must already be at or below pBase.
void mspace_segment_add(void* msp, void* pBase, uint64_t uvSize, uint32_t uiFlags);
// Releases the first added segment (with that base, or any when pBase is NULL) whose
// memory is one free chunk; the bytes released, or 0.
uint64_t Release_unused_segments(void* msp, void* pBase);
// The largest byte count that one request could still get, or 0.
uint64_t mspace_largest_free(void* msp);
