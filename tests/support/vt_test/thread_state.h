#pragma once
// Observes another thread of the test process from the outside, so that a test can wait
// until a thread really sleeps in a blocking call before it checks that the call has not
// returned, instead of sleeping for a while and hoping.

#include <sys/types.h>

#include <cstddef>

namespace vt_test {

// The kernel's id of the calling thread.
pid_t ThisThreadId();

// Waits until the thread (a kernel thread id of this process) sleeps in a futex wait,
// where a thread blocked on a mutex or a condition variable sits; with an object given,
// the wait must be on a word inside [object, object + size). True once it does; false
// when timeoutMs pass first. Where the kernel does not show the call a thread sleeps in,
// any sleep counts.
bool WaitUntilBlocked(pid_t tid, const void* object = nullptr, size_t size = 0,
                      int timeoutMs = 5000);

// Waits until the thread sleeps in the system call numbered nr (SYS_connect, SYS_read
// ...), as a thread blocked on a socket does. Where the kernel does not show the call a
// thread sleeps in, any sleep counts.
bool WaitUntilInCall(pid_t tid, long nr, int timeoutMs = 5000);

}  // namespace vt_test
