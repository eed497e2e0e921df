#pragma once
// The CPU tick base inside its guarded record, shared by the two halves of the CPU tick
// module: the OS side writes it, the platform side owns the record and its lock.

#include <cstdint>

// The base as it stands (0xFFFFFFFF: not initialised). Readers take no lock.
uint32_t ukoCpuTickBaseLoad();
// Writes the base, under the base lock once start-up has made it. No range check.
void ukoCpuTickBaseStore(uint32_t uiCpuTickBase);
