#pragma once
// Inside the CPU tick module: the base in its guarded record, and the reader of the
// processor information file that both file readers share. The record lives on the OS
// side, which writes the base; the conversions above read it, check its guard words and
// keep the OS clock's previous reading in it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t UKO_CPUTICK_HEAD_GUARD = 0x56784321u;
constexpr uint32_t UKO_CPUTICK_TAIL_GUARD = 0x11223344u;
constexpr uint32_t UKO_CPUTICK_BASE_NOT_INIT = 0xFFFFFFFFu;

// The base between two guard words, the OS clock's previous reading behind them. Every
// thread reads the base without a lock, so each word is an atomic of plain word size.
struct UKO_CPUTICK_BASE_RECORD {
    std::atomic<uint32_t> uiHeadGuard{UKO_CPUTICK_HEAD_GUARD};
    std::atomic<uint32_t> uiCpuTickBase{UKO_CPUTICK_BASE_NOT_INIT};
    std::atomic<uint32_t> uiTailGuard{UKO_CPUTICK_TAIL_GUARD};
    std::atomic<uint32_t> uiPrevLow{0};
    std::atomic<uint32_t> uiPrevHigh{0};
};
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "record words are plain words");

extern UKO_CPUTICK_BASE_RECORD g_stCpuTickBaseRecord;

// The base as it stands (0xFFFFFFFF: not initialised). Readers take no lock.
uint32_t ukoCpuTickBaseLoad();
// Writes the base, under the base lock once it has been made. No range check.
void ukoCpuTickBaseStore(uint32_t uiCpuTickBase);
// Makes the base lock once (the CPU tick's start does): 0, or OSAL_LockCreate's code.
uint32_t ukoCpuTickBaseLockCreate();

// Longest "/proc/cpuinfo" line either reader looks at.
constexpr size_t UKO_CPUINFO_LINE_MAX = 200;
// Reads one line of at most UKO_CPUINFO_LINE_MAX bytes; the rest of a longer line is
// skipped, so that its tail is never taken for a line of its own. False at the end of
// the file or on a read error.
bool ukoCpuInfoLineRead(FILE* file, char (&line)[UKO_CPUINFO_LINE_MAX + 1]);
