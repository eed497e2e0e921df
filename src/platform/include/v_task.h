#pragma once
// Task adaptation table: the platform-started flag that releases tasks created
// through the adaptation layer.

#include <cstdint>

void TSK_PlatformStartedSet();
void TSK_PlatformStartedClear();
// 1 when the platform has started, else 0.
uint32_t TSK_PlatformStartedGet();
