#pragma once
// The allocation front of the platform: what everything above the partitions calls to
// get and give back memory. UKO_Malloc and UKO_Free are the service link's malloc and
// free. Every block comes from the memory partitions, never from the host allocator.
//
// A module identifier (mid) names the caller: its high half a module number, its low
// half a sub-number. Blocks are owned by the handle the mid converts to.

#include <pthread.h>

#include <cstdint>

// ---- Lock wrappers ---------------------------------------------------------------------
// A lock lives in a 64-byte block from UKO_Malloc that the caller owns.
constexpr uint64_t UKO_LOCK_BLOCK_SIZE = 64;
static_assert(sizeof(pthread_mutex_t) <= UKO_LOCK_BLOCK_SIZE, "the OS mutex fits its block");

// A new lock, or NULL.
pthread_mutex_t* UKO_LockCreate();
uint32_t UKO_Lock(pthread_mutex_t* pLock);
uint32_t UKO_Unlock(pthread_mutex_t* pLock);
uint32_t UKO_TryLock(pthread_mutex_t* pLock);
// 0, or 14; the block stays allocated.
uint32_t UKO_LockDestroy(pthread_mutex_t* pLock);

// ---- Set-up and mid conversion ------------------------------------------------------------
// Start-up step: every allocation class uses partition 0.
uint32_t JQR_MemInit(uint32_t uiArg);
// The table that maps a mid's module number to a handle: 0 (made or already there), 12.
uint32_t ukoMemMidBitMapCreate();
uint32_t UKO_ConverMIDTOHandle(uint32_t uiMid);
uint32_t ukoMidToHandle(uint32_t uiMid, uint32_t* puiHandle);
uint32_t UKO_GetHandleByMid(uint32_t uiMid, uint32_t* puiHandle);
uint32_t UKO_GetMidByHandle(uint32_t uiHandle, uint16_t* pusMid);

// ---- Allocation ----------------------------------------------------------------------------
void* UKO_Malloc(uint32_t uiMid, uint64_t uvSize);
void* UKO_Malloc32(uint32_t uiMid);
void* UKO_Malloc64(uint32_t uiMid);
void* UKO_Malloc128(uint32_t uiMid);
void* UKO_Malloc256(uint32_t uiMid);
void* UKO_Malloc512(uint32_t uiMid);
void* UKO_Malloc1024(uint32_t uiMid);
void* UKO_Malloc2048(uint32_t uiMid);
void* UKO_Malloc4096(uint32_t uiMid);
void* UKO_Malloc_F(uint32_t uiMid, uint64_t uvSize, const char* pcFile, uint32_t uiLine);
void* UKO_MallocExt(uint32_t uiMid, uint32_t uiUnused, uint64_t uvSize);
void* UKO_MallocAlt(uint32_t uiMid, uint64_t uvSize, ...);
// Zero-filled.
void* UKO_Calloc(uint32_t uiMid, uint32_t uiUnused, uint64_t uvSize);
void* UKO_Realloc(void* pBlock, uint64_t uvNewSize);
void* UKO_Malloc_X(uint32_t uiMid, uint64_t uvSize, const char* pcFile, uint32_t uiLine);
void* UKO_Alloc_X(uint32_t uiMid, uint32_t uiUnused, uint64_t uvSize, const char* pcFile, uint32_t uiLine);
void* UKO_Calloc_X(uint32_t uiMid, uint32_t uiUnused, uint64_t uvSize, const char* pcFile, uint32_t uiLine);
void* UKO_MallocAlign_X(uint32_t uiMid, uint64_t uvSize, uint32_t uiAlign, const char* pcFile, uint32_t uiLine);

// ---- Free and reference counts ---------------------------------------------------------------
// The free hook gets the address of a copy of the block pointer; 0 means it took the block.
typedef uint32_t (*UKO_FREE_HOOK_PF)(void** ppBlock);
typedef uint32_t (*UKO_REFINC_HOOK_PF)(void* pBlock);
typedef uint32_t (*UKO_REFGET_HOOK_PF)(void* pBlock, uint32_t* puiCount);

uint32_t UKO_Free(void* pBlock);
uint32_t UKO_Free_F(void* pBlock, const char* pcFile, uint32_t uiLine);
// Sets *ppBlock to NULL when the free succeeds.
uint32_t UKO_Free_X(void** ppBlock, const char* pcFile, uint32_t uiLine);
uint32_t UKO_FreeHookSet(UKO_FREE_HOOK_PF pfnHook);
uint32_t UKO_RefInc(void* pBlock);
uint32_t UKO_RefGet(void* pBlock, uint32_t* puiCount);
uint32_t UKO_RefInc_X(void* pBlock, const char* pcFile, uint32_t uiLine);
uint32_t UKO_RefGet_X(void* pBlock, uint32_t* puiCount, const char* pcFile, uint32_t uiLine);
uint32_t UKO_RefIncHookSet(UKO_REFINC_HOOK_PF pfnHook);
uint32_t UKO_RefGetHookSet(UKO_REFGET_HOOK_PF pfnHook);

// ---- Memory wrappers: 0, or -1 -------------------------------------------------------------
// A count above the destination size asks the size-overrun hook for the count to use (0
// refuses); without a hook the count is cut to the destination size.
int32_t UKO_MemCmp(const void* pA, const void* pB, uint64_t uvCount, uint32_t* puiResult);
int32_t UKO_MemCpyUnsized(void* pDest, const void* pSrc, uint64_t uvCount);
int32_t UKO_MemCpy(void* pDest, uint64_t uvDestSize, const void* pSrc, uint64_t uvCount);
int32_t UKO_MemMove(void* pDest, uint64_t uvDestSize, const void* pSrc, uint64_t uvCount);
int32_t UKO_MemSetUnsized(void* pDest, uint8_t ucValue, uint64_t uvCount);
int32_t UKO_MemSet(void* pDest, uint64_t uvDestSize, uint8_t ucValue, uint32_t uiCount);
int32_t UKO_MemZero(void* pDest, uint64_t uvCount);
