// Children started without a shell.

#include "lnx_spawn.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

extern char** environ;

namespace {

std::atomic<LNX_FORK_PF> g_fork{nullptr};

// A descriptor moved above standard input, output and error, close-on-exec, so that
// the child's own moves onto 0 and 1 can never overwrite it.
int AboveStdio(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    (void)close(fd);
    return moved;
}

// The child between fork and exec: standard input on inFd, standard output on outFd
// (or, when that is -1, on standard error or /dev/null), the exec-failure pipe on
// descriptor 3 and every other descriptor from 3 up closed; then exec. Every descriptor
// it is given lies above standard error, so no move onto 0 or 1 overwrites another
// before it is moved. Only calls that are safe after fork in a threaded process.
[[noreturn]] void ChildExec(const LnxSpawnPlan& plan, int nullFd, int inFd, int outFd, int errFd,
                            int maxFd) {
    (void)dup2(inFd, STDIN_FILENO);
    if (outFd >= 0) {
        (void)dup2(outFd, STDOUT_FILENO);
    } else if (!plan.bStdoutToStderr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        (void)dup2(nullFd, STDOUT_FILENO);
    }
    constexpr int kErrFd = STDERR_FILENO + 1;
    if (errFd != kErrFd) {
        errFd = dup3(errFd, kErrFd, O_CLOEXEC) == kErrFd ? kErrFd : -1;
    }
    if (close_range(kErrFd + 1, ~0U, 0) != 0) {
        for (int fd = kErrFd + 1; fd <= maxFd; ++fd) {
            (void)close(fd);
        }
    }
    (void)execve(plan.pcPath, plan.ppcArgv, environ);
    const int err = errno;
    if (errFd >= 0) {
        (void)!write(errFd, &err, sizeof(err));
    }
    _exit(127);
}

}  // namespace

void lnxForkSet(LNX_FORK_PF pfnFork) { g_fork.store(pfnFork); }

// Starts the plan's program. kStarted with the child's pid once it has exec'd;
// kExecFailed with exec's errno when it could not (the child is reaped); kForkFailed or
// kSetupFailed with errno when no child was made.
LnxSpawnResult LNX_Spawn(const LnxSpawnPlan& plan, pid_t* pPid, int* pErr) {
    int nullFd = AboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    // The plan's own descriptors, copied above standard error: the caller's may lie
    // anywhere, 0 and 1 included.
    const int inFd = plan.iStdinFd >= 0 ? fcntl(plan.iStdinFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1) : -1;
    const int inErr = errno;
    const int outFd = plan.iStdoutFd >= 0 ? fcntl(plan.iStdoutFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1) : -1;
    const int outErr = errno;
    auto closeCopies = [&] {
        for (int fd : {nullFd, inFd, outFd}) {
            if (fd >= 0) {
                (void)close(fd);
            }
        }
    };
    if ((plan.iStdinFd >= 0 && inFd < 0) || (plan.iStdoutFd >= 0 && outFd < 0)) {
        *pErr = plan.iStdinFd >= 0 && inFd < 0 ? inErr : outErr;
        closeCopies();
        return LnxSpawnResult::kSetupFailed;
    }
    int pipeFds[2] = {-1, -1};
    if (nullFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        *pErr = errno;
        closeCopies();
        return LnxSpawnResult::kSetupFailed;
    }
    const int readFd = AboveStdio(pipeFds[0]);
    const int writeFd = AboveStdio(pipeFds[1]);
    rlimit lim{};
    int maxFd = 65535;
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY &&
        lim.rlim_cur < static_cast<rlim_t>(maxFd)) {
        maxFd = static_cast<int>(lim.rlim_cur);
    }
    if (readFd < 0 || writeFd < 0) {
        *pErr = errno;
        closeCopies();
        (void)close(readFd);
        (void)close(writeFd);
        return LnxSpawnResult::kSetupFailed;
    }
    const LNX_FORK_PF forkFn = g_fork.load();
    const pid_t pid = forkFn != nullptr ? forkFn() : fork();
    if (pid == 0) {
        ChildExec(plan, nullFd, inFd >= 0 ? inFd : nullFd, outFd, writeFd, maxFd);
    }
    const int forkErr = errno;
    (void)close(writeFd);
    closeCopies();
    if (pid < 0) {
        (void)close(readFd);
        *pErr = forkErr;
        return LnxSpawnResult::kForkFailed;
    }
    // The pipe closes on exec; a failed exec writes its errno first.
    int execErr = 0;
    ssize_t n;
    do {
        n = read(readFd, &execErr, sizeof(execErr));
    } while (n < 0 && errno == EINTR);
    (void)close(readFd);
    *pPid = pid;
    if (n == static_cast<ssize_t>(sizeof(execErr))) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        *pErr = execErr;
        return LnxSpawnResult::kExecFailed;
    }
    return LnxSpawnResult::kStarted;
}

// The pieces as an argument vector for exec; the strings must outlive it.
std::vector<char*> LNX_ArgvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    return argv;
}
