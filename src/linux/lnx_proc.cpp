// Processes by name over /proc.

#include "lnx_proc.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int64_t kKillPollMs = 10;

int64_t NowMs() {
    timespec ts;
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int64_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The whole of a small /proc file, or the empty text.
std::string ProcFile(pid_t pid, const char* pcLeaf) {
    char path[64];
    (void)snprintf(path, sizeof(path), "/proc/%d/%s", static_cast<int>(pid), pcLeaf);
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buf[4096];
    ssize_t n;
    while (text.size() < 65536) {
        n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    (void)close(fd);
    return text;
}

struct ProcStat {
    char cState;
    pid_t parent;
    unsigned long long ullStart;  // start time in clock ticks since boot
};

// State, parent and start time from /proc/<pid>/stat; false when the process is gone.
bool ProcStatRead(pid_t pid, ProcStat* pstStat) {
    const std::string text = ProcFile(pid, "stat");
    // The name in parentheses may hold blanks and parentheses: the fields follow the
    // last closing one.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    char state = 0;
    int parent = 0;
    unsigned long long start = 0;
    // State, parent, seventeen fields, start time.
    const int got = sscanf(text.c_str() + close + 1,
                           " %c %d %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                           "%*s %*s %llu",
                           &state, &parent, &start);
    if (got != 3) {
        return false;
    }
    *pstStat = ProcStat{state, static_cast<pid_t>(parent), start};
    return true;
}

bool IsDead(char cState) { return cState == 'Z' || cState == 'X' || cState == 'x'; }

bool ProcRealUid(pid_t pid, uid_t* pUid) {
    const std::string text = ProcFile(pid, "status");
    const size_t at = text.find("\nUid:");
    unsigned long uid = 0;
    if (at == std::string::npos || sscanf(text.c_str() + at + 5, "%lu", &uid) != 1) {
        return false;
    }
    *pUid = static_cast<uid_t>(uid);
    return true;
}

const char* BaseName(const char* pcPath) {
    const char* slash = std::strrchr(pcPath, '/');
    return slash != nullptr ? slash + 1 : pcPath;
}

// This process's ancestors, its parent first.
std::vector<pid_t> Ancestors() {
    std::vector<pid_t> chain;
    pid_t pid = getppid();
    ProcStat st;
    while (pid > 0 && chain.size() < 4096) {
        chain.push_back(pid);
        if (pid == 1 || !ProcStatRead(pid, &st)) {
            break;
        }
        pid = st.parent;
    }
    return chain;
}

bool BelowScope(pid_t pid, pid_t scope) {
    ProcStat st;
    for (size_t steps = 0; pid > 1 && steps < 4096; ++steps) {
        if (!ProcStatRead(pid, &st)) {
            return false;
        }
        if (st.parent == scope) {
            return true;
        }
        pid = st.parent;
    }
    return false;
}

struct Victim {
    pid_t pid;
    unsigned long long ullStart;
};

// Still there and not yet dead: the same process (same start time) in a state other
// than a zombie's. A zombie holds no socket any more.
bool StillAlive(const Victim& v) {
    ProcStat st;
    return ProcStatRead(v.pid, &st) && st.ullStart == v.ullStart && !IsDead(st.cState);
}

}  // namespace

// The process runs the named program: the base name of its executable (also when the
// file was replaced or removed since it started) or of its first argument.
bool LNX_ProcNameIs(pid_t pid, const char* pcName) {
    char path[64];
    (void)snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(pid));
    char exe[4096];
    const ssize_t n = readlink(path, exe, sizeof(exe) - 1);
    if (n > 0) {
        exe[n] = '\0';
        constexpr char kDeleted[] = " (deleted)";
        const size_t len = static_cast<size_t>(n);
        if (len > sizeof(kDeleted) - 1 &&
            std::strcmp(exe + len - (sizeof(kDeleted) - 1), kDeleted) == 0) {
            exe[len - (sizeof(kDeleted) - 1)] = '\0';
        }
        if (std::strcmp(BaseName(exe), pcName) == 0) {
            return true;
        }
    }
    const std::string cmdline = ProcFile(pid, "cmdline");
    return !cmdline.empty() && std::strcmp(BaseName(cmdline.c_str()), pcName) == 0;
}

LnxKillResult LNX_KillByName(const char* pcName, pid_t scope, int waitMs) {
    LnxKillResult result{false, 0, 0};
    if (pcName == nullptr || pcName[0] == '\0') {
        return result;
    }
    const pid_t self = getpid();
    const uid_t user = getuid();
    const std::vector<pid_t> ancestors = Ancestors();
    std::vector<Victim> killed;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return result;
    }
    result.bListed = true;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        const long value = strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || value <= 0) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(value);
        bool ancestor = false;
        for (pid_t a : ancestors) {
            ancestor = ancestor || a == pid;
        }
        uid_t owner = 0;
        ProcStat st;
        if (pid == self || ancestor || !ProcRealUid(pid, &owner) || owner != user ||
            !ProcStatRead(pid, &st) || IsDead(st.cState) || !LNX_ProcNameIs(pid, pcName) ||
            (scope != 0 && !BelowScope(pid, scope))) {
            continue;
        }
        if (kill(pid, SIGKILL) == 0) {
            killed.push_back(Victim{pid, st.ullStart});
        }
    }
    (void)closedir(proc);
    result.uiKilled = static_cast<unsigned>(killed.size());

    const int64_t deadline = NowMs() + waitMs;
    size_t alive = killed.size();
    while (alive != 0) {
        alive = 0;
        for (const Victim& v : killed) {
            alive += StillAlive(v) ? 1 : 0;
        }
        if (alive == 0 || NowMs() >= deadline) {
            break;
        }
        SleepMs(kKillPollMs);
    }
    result.uiStillAlive = static_cast<unsigned>(alive);
    return result;
}
