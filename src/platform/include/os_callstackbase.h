#pragma once
// A thread's stack base and call stack: the base of the calling thread's stack, found
// once and kept under a thread-specific key; call-stack captures with their limits; the
// symbol texts of captured frames, optionally cut down to bare function names; and the
// call-stack device.
//
// Results: 0; 22 invalid argument; 12 no memory; 0x2020100A depth or skip out of range;
// 0x2020100C no stack base.

#include <pthread.h>

#include <cstdint>

#include "uko_errcode.h"

constexpr UKO_ERRCODE UKO_CALLSTACK_ERR_RANGE = UKO_ErrCodeMake(UKO_MID_CALLSTACK, 0x100A);
constexpr UKO_ERRCODE UKO_CALLSTACK_ERR_NO_BASE = UKO_ErrCodeMake(UKO_MID_CALLSTACK, 0x100C);

// At most 31 frames are captured and at most 31 skipped.
constexpr uint32_t UKO_CALLSTACK_DEPTH_MAX = 31;
constexpr uint32_t UKO_CALLSTACK_SKIP_MAX = 31;
// What a capture of depth 0 leaves in the first frame entry.
constexpr uintptr_t UKO_CALLSTACK_EMPTY_MARK = 0xDEADDEAD;

// A symbol text of a bare-name array holds at most 1029 characters and its terminator.
constexpr uint32_t UKO_CALLSTACK_SYMBOL_LEN = 1030;
// Mode of OS_CallStackSymbolsGet that cuts each text down to the function name (or the
// address when the name is unknown).
constexpr uint32_t UKO_CALLSTACK_SYMBOL_BARE = 1;

// The call-stack device; its descriptor is kept for the process once it opened.
constexpr const char* UKO_CALLSTACK_DEV_PATH = "/dev/ZIRPACALLSTACK";

// Finds a thread's stack base: writes it to the out-value (0 = the hook cannot tell) and
// gets the two arguments the caller of ukoCallStackBaseGet gave.
typedef void (*UKO_CALLSTACK_BASE_HOOK_PF)(uint64_t* puvBase, uintptr_t ulArg1, uintptr_t ulArg2);

// Creates the call-stack base key (only the first call does; the others return the
// first call's result). The argument is not read. 0, or the converted error of
// pthread_key_create. ukoCallStackBaseGet makes the key itself on its first use, so
// nothing has to call this beforehand.
uint32_t ukoCallStackBaseInit(uint32_t uiUnused);

// Installs the stack-base hook; NULL removes it. Always 0. Plain word without a lock:
// set it before other threads ask for a base.
uint32_t ukoCallStackBaseHookSet(UKO_CALLSTACK_BASE_HOOK_PF pfnHook);

// The calling thread's stack base: the hook's answer when it has one; else the base this
// thread found before; else, found now and kept for the thread, the start-of-stack field
// of the process's own task statistics for the main thread, and the top of the thread's
// own stack for any other thread (the statistics give the main thread's stack for every
// thread). 0 with the base, or 0x2020100C (also for a NULL out-base).
uint32_t ukoCallStackBaseGet(uint64_t* puvBase, uintptr_t ulArg1, uintptr_t ulArg2);

// The top of the calling thread's own stack, where it begins growing down. 0 with the
// base, 22 for NULL (nothing written), or the converted error of the thread library
// (nothing written).
uint32_t OS_TaskStackBaseQuery(uint64_t* puvBase);

// Captures of return addresses. This platform captures no frames: a capture that passes
// its checks yields a count of 0.
//
// OS_CallStackGet and OS_CurCallStackGet: 22 for a NULL frame buffer or out-count
// (nothing written); else the count becomes 0, and the result is 0x2020100A for a depth
// or a skip above 31 and 0 otherwise.
uint32_t OS_CallStackGet(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames, uint32_t* puiCount);
uint32_t OS_CurCallStackGet(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                            uint32_t* puiCount);
// thread 0 or the caller's own handle: the calling thread. 22 for a NULL frame buffer or
// out-count; depth 0: the count 0, the first frame entry 0xDEADDEAD, result 0 (the skip
// is not looked at); a depth or a skip above 31: 0x2020100A. Otherwise the calling
// thread gets the count 0 and result 0; another thread cannot be captured: 0xFFFFFFFF
// and nothing written.
uint32_t OS_TaskCallStackGet(pthread_t thread, uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                             uint32_t* puiCount);

// The symbol texts of iCount frames. Mode 1: one allocation of iCount text pointers
// followed by iCount texts of 1030 bytes, each text cut down to the function name (the
// identifier characters after its last '('), else to the address (the characters
// between its last '[' and the next ']'), else left whole. Any other mode: the OS's own
// texts. The caller frees *pppcSymbols with one free. 0; 12 when memory or the OS's
// texts cannot be had (*pppcSymbols NULL); 22 for a NULL out-array, a NULL frame list
// with frames, or a negative count.
uint32_t OS_CallStackSymbolsGet(void* const* ppFrames, int iCount, char*** pppcSymbols,
                                uint32_t uiMode);

// Opens the call-stack device read-write the first time it succeeds and returns that
// descriptor from then on; -1 while it cannot be opened (the next call tries again). The
// argument is not read.
int32_t OS_CallStackDevOpen(uint32_t uiUnused);

// Argument checks of the captures: 22 for a NULL buffer (a NULL thread first, for the
// task form); 0x2020100A for a depth or a skip of 32 or more; else 0. The last argument
// is not read.
uint32_t ukoTaskCallStackParamCheck(pthread_t thread, uint32_t uiDepth, uint32_t uiSkip,
                                    void** ppFrames, uintptr_t ulUnused);
uint32_t ukoCallStackParamCheck(uint32_t uiDepth, uint32_t uiSkip, void** ppFrames,
                                uintptr_t ulUnused);
