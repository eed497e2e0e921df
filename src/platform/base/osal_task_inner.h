#pragma once
// Inside the thread-creation layer: its process-wide words, for the task module and for
// tests.

#include <sys/time.h>

#include <cstdint>

// 1 once OSAL_TaskRunInSupervisorModeSet has succeeded.
uint32_t osalTaskSupervisorModeGet();
// The minimum stack size found by OSAL_MinStackSizeProbe; 0 until probed.
uint64_t osalMinStackSizeGet();
// The time-out OSAL_TaskDelay hands to select for uiMs milliseconds.
struct timeval osalTaskDelayTimeval(uint32_t uiMs);

// A thread that is cancelled, or ends through pthread_exit, reaches its cleanup routines
// through a forced unwind, which skips the frames below without clearing the
// AddressSanitizer shadow of their locals. The sanitizer's own stack reset at the end of
// each cleanup then runs on that stale shadow and reports its own bookkeeping as an
// overflow. Every cleanup routine that an unwind runs therefore clears the shadow below
// its frame first (the routine itself keeps no locals in memory). Other builds: nothing.
#if defined(__SANITIZE_ADDRESS__)
#define OSAL_TASK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSAL_TASK_ASAN 1
#endif
#endif
#if defined(OSAL_TASK_ASAN)
#include <sanitizer/asan_interface.h>
__attribute__((always_inline)) inline void osalUnwindCleanupEnter() {
    constexpr unsigned long kWindow = 16 * 1024;
    char* frame = static_cast<char*>(__builtin_frame_address(0));
    ASAN_UNPOISON_MEMORY_REGION(frame - kWindow, kWindow);
}
#else
inline void osalUnwindCleanupEnter() {}
#endif
