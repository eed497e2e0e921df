#include "v_task.h"

#include <atomic>

namespace {

// One byte for the whole process: 0 until a start-up in which every step succeeded.
// Tasks created through the adaptation layer poll it from their own threads.
std::atomic<uint8_t> g_platformStarted{0};

}  // namespace

void TSK_PlatformStartedSet() { g_platformStarted.store(1, std::memory_order_release); }

void TSK_PlatformStartedClear() { g_platformStarted.store(0, std::memory_order_release); }

uint32_t TSK_PlatformStartedGet() {
    return g_platformStarted.load(std::memory_order_acquire) != 0 ? 1 : 0;
}
