#pragma once
// The CPU tick base inside its guarded record, shared by the two halves of the CPU tick
// module: the OS side writes it, the platform side owns the record and its lock.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The base as it stands (0xFFFFFFFF: not initialised). Readers take no lock.
uint32_t ukoCpuTickBaseLoad();
// Writes the base, under the base lock once start-up has made it. No range check.
void ukoCpuTickBaseStore(uint32_t uiCpuTickBase);

// Longest "/proc/cpuinfo" line either reader looks at.
constexpr size_t UKO_CPUINFO_LINE_MAX = 200;
// Reads one line of at most UKO_CPUINFO_LINE_MAX bytes; the rest of a longer line is
// skipped, so that its tail is never taken for a line of its own. False at the end of
// the file or on a read error.
bool ukoCpuInfoLineRead(FILE* file, char (&line)[UKO_CPUINFO_LINE_MAX + 1]);
