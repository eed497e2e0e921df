#pragma once
// The disk check in its two halves, the measurement and the rule, for the update module
// and its tests.

#include <cstdint>

// Free space of the file system that holds path, in whole MiB, as an ordinary user may
// use it (blocks available × fragment size, in 64 bits). 0 with the size, or 1 when the
// file system cannot be asked (the size is left as it was).
uint32_t uiDiskFreeMiBGet(const char* pcPath, uint64_t* puvMiB);

// The rule on a measured free space: 1 when it reaches UI_UPDATE_DISK_NEED_MIB (logged
// "disk enough"), else 0 (logged "disk not enough").
uint32_t uiDiskRuleCheck(uint64_t uvFreeMiB);

// The measurement UI_Disk_Check takes (uiDiskFreeMiBGet's shape), for tests that need a
// disk with too little room; null puts uiDiskFreeMiBGet back.
typedef uint32_t (*UI_DISK_FREE_PF)(const char* pcPath, uint64_t* puvMiB);
void uiDiskFreeMiBSet(UI_DISK_FREE_PF pfnMeasure);
