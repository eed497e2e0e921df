#pragma once
// The handle registry: every software module of the process gets a small number, its
// handle, under a unique name of up to 31 characters. Beside the handles it keeps up to
// eight data modules, each owning one 64-bit slot in every handle.

#include <cstdint>

#include "uko_errcode.h"

// Handles below this number are reserved: 0 is "uko.sys", 1 to 99 are placeholders that
// may be renamed but never finalised. Handle 100 is "uko.handle.invalid".
constexpr uint32_t UKO_HANDLE_PID_BUTT = 100;
// The most data modules the registry holds.
constexpr uint32_t HANDLE_MAX_MODREG = 8;
// Longest handle or data-module name; the buffers of the name getters hold 32 bytes.
constexpr uint32_t UKO_HANDLE_NAME_LEN = 31;
// Answer of the maximum getters when no handle is in use, and the initial handle limit.
constexpr uint32_t UKO_HANDLE_NONE = 0xFFFF;

constexpr UKO_ERRCODE UKO_HANDLE_ERR_NAME_REGISTERED = UKO_ErrCodeMake(UKO_MID_HANDLE, 0x13E8);
constexpr UKO_ERRCODE UKO_HANDLE_ERR_NO_FREE_HANDLE = UKO_ErrCodeMake(UKO_MID_HANDLE, 0x13E9);
constexpr UKO_ERRCODE UKO_HANDLE_ERR_NONE_IN_USE = UKO_ErrCodeMake(UKO_MID_HANDLE, 0x13EA);

// Called with the handle when it is finalised, for a data module to free its slot's data.
typedef void (*UKO_HANDLE_DATA_FREE_HOOK_PF)(uint32_t uiHandle);

// A handle argument is always reduced to its low 16 bits.

// Start-up step: the name hash, the handle array, the lock and the reserved handles.
// 0, 12 when memory is short, or the registrations' failure codes or-ed together. Runs
// once; a later call keeps the registry.
uint32_t ukoHandleInit(uint32_t uiUnused);
// Registers a name (first 31 characters) under the next free handle from 101 on: 0,
// 22, 12, UKO_HANDLE_ERR_NAME_REGISTERED or UKO_HANDLE_ERR_NO_FREE_HANDLE.
uint32_t UKO_HandleInitialize(const char* pscName, uint32_t* puiHandle);
// Gives a reserved handle (1 to 99) a new name: 0, 22 or UKO_HANDLE_ERR_NAME_REGISTERED.
uint32_t UKO_HandleNameSet(uint32_t uiHandle, const char* pscName);
// Frees a registered handle after the data modules' free hooks have seen it: 0 or 22.
uint32_t UKO_HandleFinalize(uint32_t uiHandle);
// Copies the handle's name into a 32-byte buffer: 0 or 22.
uint32_t UKO_HandleNameGet(uint32_t uiHandle, char* pscName);
// The handle registered under the name: 0 or 22.
uint32_t UKO_HandleGetByName(const char* pscName, uint32_t* puiHandle);
// 1 for a valid handle, else 0.
uint32_t UKO_HandleIdValidate(uint32_t uiHandle);
// The first handle, 0: 0, or 22 for NULL.
uint32_t UKO_HandleBeginGet(uint32_t* puiHandle);
// The highest handle in use: 0, UKO_HANDLE_ERR_NONE_IN_USE or 22. The quiet form
// reports nothing; the Num form writes UKO_HANDLE_NONE when none is in use and checks
// nothing.
uint32_t UKO_HandleMaxGet(uint32_t* puiHandle);
uint32_t UKO_HandleMaxGetQuiet(uint32_t* puiHandle);
uint32_t UKO_HandleMaxNumGet(uint32_t* puiHandle);
// Registers a data module; *index (1 to 8) is 0xFFFFFFFF until success. 0, 12 when
// eight are registered, 22 for NULL, or 0xFFFFFFFF for a name already registered.
uint32_t UKO_HandleModReg(const char* pscName, uint32_t* puiIndex);
// Sets the data module's free hook: 0 or 22.
uint32_t ukoHandleDataFreeHookSet(uint32_t uiIndex, UKO_HANDLE_DATA_FREE_HOOK_PF pfnHook);
// Copies the data module's name into a 32-byte buffer: 0 or 22.
uint32_t UKO_HandleModNameGet(uint32_t uiIndex, char* pscName);
// The address of the handle's data slot for data module uiIndex: 0 or 22.
uint32_t UKO_HandleDataSlotGet(uint32_t uiHandle, uint32_t uiIndex, uint64_t** ppullSlot);
// New handles are searched below the limit (below 0x10000): 0 or 22.
uint32_t UKO_MaxValidHandleSet(uint32_t uiLimit);
