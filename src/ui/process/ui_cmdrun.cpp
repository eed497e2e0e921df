// Outside programs run as child processes with fork and exec, never through a shell.
//
// The front end is multi-threaded, so between fork and exec the child calls only
// async-signal-safe functions; everything it needs (the program's path, the argument
// vector, the descriptors) is prepared by the parent before the fork.

#include "ui_cmdrun_inner.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int RemainingMs(int64_t deadline) {
    const int64_t left = deadline - NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The file the shell would run for this name. The current folder is never searched:
// an empty PATH entry would let a file planted there stand in for a system program.
bool FindProgram(const char* pcName, std::string* pstrPath) {
    if (std::strchr(pcName, '/') != nullptr) {
        *pstrPath = pcName;
        return IsExecutableFile(*pstrPath);
    }
    std::string list;
    if (const char* env = getenv("PATH")) {
        list = env;
    } else {
        const size_t n = confstr(_CS_PATH, nullptr, 0);
        if (n > 0) {
            list.assign(n, '\0');
            (void)confstr(_CS_PATH, &list[0], n);
            list.resize(n - 1);
        }
    }
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            std::string candidate = list.substr(start, end - start) + "/" + pcName;
            if (IsExecutableFile(candidate)) {
                *pstrPath = candidate;
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

// A copy of the descriptor numbered 3 or above, close-on-exec, so that moving the
// child's standard descriptors into place never overwrites another one of them.
int HighCopy(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

void CloseIfOpen(int* pFd) {
    if (*pFd >= 0) {
        (void)close(*pFd);
        *pFd = -1;
    }
}

// Waits for the child's end, at most until the deadline; kills it then.
uint32_t Reap(pid_t pid, int64_t deadline, int* piStatus) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool expired = false;
    if (pidfd >= 0) {
        for (;;) {
            pollfd p{pidfd, POLLIN, 0};
            const int n = poll(&p, 1, RemainingMs(deadline));
            if (n > 0) {
                break;
            }
            if (n == 0) {
                expired = true;
                break;
            }
            if (errno != EINTR) {
                break;  // wait below without a bound rather than leave a zombie
            }
        }
        (void)close(pidfd);
    }
    if (expired) {
        (void)kill(pid, SIGKILL);
    }
    int status = -1;
    for (;;) {
        const pid_t r = waitpid(pid, &status, 0);
        if (r == pid) {
            break;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        status = -1;  // reaped elsewhere: the end happened, its status is unknown
        break;
    }
    if (piStatus != nullptr) {
        *piStatus = status;
    }
    return expired ? UI_CHILD_TIMEOUT : UI_CHILD_OK;
}

// Starts the program with the given standard output. 0 and the child's id, or 1 when
// it could not be found, forked or executed (the failed child is reaped here).
uint32_t Start(const char* const* ppcArgv, int iOutFd, bool bQuietStderr, pid_t* pPid) {
    if (ppcArgv == nullptr || ppcArgv[0] == nullptr || iOutFd < 0) {
        return UI_CHILD_NOSTART;
    }
    std::string path;
    if (!FindProgram(ppcArgv[0], &path)) {
        return UI_CHILD_NOSTART;
    }
    std::vector<char*> argv;
    for (const char* const* p = ppcArgv; *p != nullptr; ++p) {
        argv.push_back(const_cast<char*>(*p));
    }
    argv.push_back(nullptr);

    int out = HighCopy(iOutFd);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    int nullHigh = null >= 0 ? HighCopy(null) : -1;
    CloseIfOpen(&null);
    int report[2] = {-1, -1};  // the child's exec failure, as its errno
    if (out < 0 || nullHigh < 0 || pipe2(report, O_CLOEXEC) != 0) {
        CloseIfOpen(&out);
        CloseIfOpen(&nullHigh);
        return UI_CHILD_NOSTART;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        (void)sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof(dfl));
        dfl.sa_handler = SIG_DFL;
        (void)sigaction(SIGPIPE, &dfl, nullptr);
        if (dup2(nullHigh, 0) < 0 || dup2(out, 1) < 0 ||
            (bQuietStderr && dup2(nullHigh, 2) < 0)) {
            const int e = errno;
            (void)!write(report[1], &e, sizeof(e));
            _exit(127);
        }
        // Sockets to the service and other descriptors without close-on-exec stay here.
        (void)syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        execv(path.c_str(), argv.data());
        const int e = errno;
        (void)!write(report[1], &e, sizeof(e));
        _exit(127);
    }
    CloseIfOpen(&out);
    CloseIfOpen(&nullHigh);
    (void)close(report[1]);
    if (pid < 0) {
        (void)close(report[0]);
        return UI_CHILD_NOSTART;
    }
    int childErr = 0;
    ssize_t n;
    do {
        n = read(report[0], &childErr, sizeof(childErr));
    } while (n < 0 && errno == EINTR);
    (void)close(report[0]);
    if (n > 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return UI_CHILD_NOSTART;
    }
    *pPid = pid;
    return UI_CHILD_OK;
}

}  // namespace

uint32_t uiChildRun(const char* const* ppcArgv, int iOutFd, bool bQuietStderr, int iTimeoutMs,
                    int* piStatus) {
    const int64_t deadline = NowMs() + (iTimeoutMs > 0 ? iTimeoutMs : 0);
    pid_t pid = -1;
    if (Start(ppcArgv, iOutFd, bQuietStderr, &pid) != UI_CHILD_OK) {
        return UI_CHILD_NOSTART;
    }
    return Reap(pid, deadline, piStatus);
}

uint32_t uiChildCapture(const char* const* ppcArgv, size_t uiMaxBytes, bool bQuietStderr,
                        int iTimeoutMs, std::string* pstrOut, int* piStatus) {
    if (pstrOut == nullptr) {
        return UI_CHILD_NOSTART;
    }
    pstrOut->clear();
    const int64_t deadline = NowMs() + (iTimeoutMs > 0 ? iTimeoutMs : 0);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return UI_CHILD_NOSTART;
    }
    pid_t pid = -1;
    const uint32_t started = Start(ppcArgv, pipeFds[1], bQuietStderr, &pid);
    (void)close(pipeFds[1]);
    if (started != UI_CHILD_OK) {
        (void)close(pipeFds[0]);
        return UI_CHILD_NOSTART;
    }
    uint32_t rc = UI_CHILD_OK;
    char buf[4096];
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            rc = UI_CHILD_TIMEOUT;
            break;
        }
        const ssize_t n = read(pipeFds[0], buf, sizeof(buf));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // every writer is gone
        }
        if (pstrOut->size() + static_cast<size_t>(n) > uiMaxBytes) {
            rc = UI_CHILD_OVERFLOW;
            break;
        }
        pstrOut->append(buf, static_cast<size_t>(n));
    }
    (void)close(pipeFds[0]);
    if (rc != UI_CHILD_OK) {
        (void)kill(pid, SIGKILL);
        pstrOut->clear();
    }
    const uint32_t reaped = Reap(pid, deadline, piStatus);
    return rc != UI_CHILD_OK ? rc : reaped;
}
