#include "vt_test/thread_state.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vt_test {

namespace {

enum class Seen { kBlocked, kNotBlocked, kUnknown };

std::string TaskFile(pid_t tid, const char* name) {
    return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}

bool ReadLine(const std::string& path, char* buf, size_t size) {
    FILE* f = fopen(path.c_str(), "r");
    if (f == nullptr) {
        return false;
    }
    bool ok = fgets(buf, static_cast<int>(size), f) != nullptr;
    fclose(f);
    return ok;
}

// The futex operations that put the caller to sleep.
bool IsWaitOp(uint64_t op) {
    switch (op & 0x7F) {  // without the private and clock flags
        case 0:   // FUTEX_WAIT
        case 6:   // FUTEX_LOCK_PI
        case 9:   // FUTEX_WAIT_BITSET
        case 11:  // FUTEX_WAIT_REQUEUE_PI
        case 13:  // FUTEX_LOCK_PI2
            return true;
        default:
            return false;
    }
}

// What the kernel shows of the call the thread sleeps in: "nr arg1 arg2 ...", or
// "running".
Seen FromSyscall(pid_t tid, const void* object, size_t size) {
    char line[512];
    if (!ReadLine(TaskFile(tid, "syscall"), line, sizeof(line))) {
        return Seen::kUnknown;
    }
    char* end = nullptr;
    long nr = strtol(line, &end, 10);
    if (end == line || nr != SYS_futex) {
        return Seen::kNotBlocked;
    }
    uint64_t addr = strtoull(end, &end, 16);
    uint64_t op = strtoull(end, &end, 16);
    if (!IsWaitOp(op)) {
        return Seen::kNotBlocked;
    }
    if (object != nullptr) {
        uint64_t begin = reinterpret_cast<uintptr_t>(object);
        if (addr < begin || addr >= begin + size) {
            return Seen::kNotBlocked;
        }
    }
    return Seen::kBlocked;
}

// Without the call: the kernel function the thread sleeps in, else its state.
Seen FromWaitChannel(pid_t tid) {
    char line[512];
    if (ReadLine(TaskFile(tid, "wchan"), line, sizeof(line)) && strcmp(line, "0") != 0) {
        return strstr(line, "futex") != nullptr ? Seen::kBlocked : Seen::kNotBlocked;
    }
    if (!ReadLine(TaskFile(tid, "stat"), line, sizeof(line))) {
        return Seen::kNotBlocked;
    }
    const char* close = strrchr(line, ')');  // the name may hold spaces and brackets
    return close != nullptr && close[1] == ' ' && close[2] == 'S' ? Seen::kBlocked
                                                                   : Seen::kNotBlocked;
}

// A sleeping thread's state letter is S (interruptible) or D.
bool Sleeping(pid_t tid) {
    char line[512];
    if (!ReadLine(TaskFile(tid, "stat"), line, sizeof(line))) {
        return false;
    }
    const char* close = strrchr(line, ')');
    return close != nullptr && close[1] == ' ' && (close[2] == 'S' || close[2] == 'D');
}

}  // namespace

pid_t ThisThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool WaitUntilBlocked(pid_t tid, const void* object, size_t size, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Seen seen = FromSyscall(tid, object, size);
        if (seen == Seen::kUnknown) {
            seen = FromWaitChannel(tid);
        }
        if (seen == Seen::kBlocked) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        struct timespec ts = {0, 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

bool WaitUntilInCall(pid_t tid, long nr, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char line[512];
        bool in = false;
        if (ReadLine(TaskFile(tid, "syscall"), line, sizeof(line))) {
            char* end = nullptr;
            const long seen = strtol(line, &end, 10);
            // The call shows while the thread is inside it, also for a moment before it
            // sleeps: the state must say that it sleeps as well.
            in = end != line && seen == nr && Sleeping(tid);
        } else {
            in = Sleeping(tid);
        }
        if (in) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        struct timespec ts = {0, 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

}  // namespace vt_test
