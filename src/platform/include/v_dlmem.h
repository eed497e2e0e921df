#pragma once
// DLM, the allocation algorithm of the memory partitions.
//
// Requests up to the slice limit take a slice of one of 60 size classes, cut from
// fixed-size pages that hold one class each; larger requests take a chunk straight
// from the boundary-tag heap laid over the partition's memory, which also supplies the
// pages. Every block starts with a 16-byte head whose tag tells a slice from a large
// block and carries the reference count (and, for a slice, its place in its page), so
// that free, reference counting and size queries need nothing but the address.
//
// DLM takes no lock: the partition layer holds the partition's lock around every call.

#include <cstdint>

#include "uko_errcode.h"
#include "uko_memalgo.h"

// Error codes of the algorithm.
constexpr UKO_ERRCODE DLM_ERR_SLICE_DAMAGED = UKO_ErrCodeMake(UKO_MID_DLMEM, 0x1005);
constexpr UKO_ERRCODE DLM_ERR_PAGE_DAMAGED = UKO_ErrCodeMake(UKO_MID_DLMEM, 0x1006);
constexpr UKO_ERRCODE DLM_ERR_REF_OVERLOAD = UKO_ErrCodeMake(UKO_MID_DLMEM, 0x100A);
constexpr UKO_ERRCODE DLM_ERR_REF_ZERO = UKO_ErrCodeMake(UKO_MID_DLMEM, 0x100B);
constexpr UKO_ERRCODE DLM_ERR_NO_HEAD = UKO_ErrCodeMake(UKO_MID_DLMEM, 0x100C);

// The algorithm handle: the control block at the start of the formatted memory.
struct DLM_CB;

// DLM's operations table, as the partition layer registers it under "DLM".
extern const UKO_MEM_ALGO_OPS g_stDlmMemAlgoOps;

// Sets the configuration to 8192 and 1024 and registers the table under "DLM" (an
// already registered name counts as success).
uint32_t DLM_Init(void);

// Formats [pMem, pMem + uvSize); pConfig, when given, holds the page size and slice
// limit in its second and third 32-bit words. The control block, or NULL.
DLM_CB* DLM_Format(void* pMem, uint64_t uvSize, const void* pConfig);
// 0, or 22.
uint32_t DLM_Append(DLM_CB* pCB, void* pPiece, uint64_t uvSize);
uint32_t DLM_UnAppend(DLM_CB* pCB, void* pPiece);
// *puvSize in: bytes wanted; out: bytes reserved. The block, or NULL.
void* DLM_Alloc(DLM_CB* pCB, uint64_t* puvSize);
// 0 freed, 1 one reference dropped, 2 count already 0, else the damage code.
uint32_t DLM_Free(DLM_CB* pCB, void* pBlock, uint64_t* puvFreedSize);
uint32_t DLM_IncRef(void* pBlock);
uint32_t DLM_GetRef(void* pBlock, uint32_t* puiCount);
uint32_t DLM_InfoGet(DLM_CB* pCB, uint64_t* puvTotal, uint64_t* puvFree);
uint64_t DLM_MaxFreeGet(DLM_CB* pCB);
void DLM_SizeGet(DLM_CB* pCB, uint64_t* pulSize, uint64_t* pulNum);
uint32_t DLM_TypeNumGet(void);
void DLM_SizeToType(DLM_CB* pCB, uint64_t uvSize, uint32_t* puiType);
void DLM_TypeUsageGet(DLM_CB* pCB, uint32_t uiType, uint32_t* puiNum, uint32_t* puiFreeNum);
uint32_t DLM_MemGetTypeAndSize(void* pBlock, uint32_t* puiType, uint64_t* puvSize);
UKO_MEM_ALGO_STAT* DLM_StatGet(DLM_CB* pCB, UKO_MEM_ALGO_STAT* pStat);
// Bytes usable by the caller, or all ones.
uint64_t DLM_UsableSizeGet(void* pBlock);
uint64_t DLM_TypeSizeGet(uint32_t uiType);
uint64_t DLM_HeadSizeAdd(uint64_t uvSize);
