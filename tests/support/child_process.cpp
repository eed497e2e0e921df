#include "vt_test/child_process.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace vt_test {

ChildResult RunInChild(const std::function<int()>& body, int timeoutMs) {
    ChildResult result;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        return result;
    }
    if (pid == 0) {
        int code = body();
        fflush(nullptr);
        _exit(code & 0xFF);
    }

    int status = 0;
    int waitedMs = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            break;
        }
        if (r < 0 && errno != EINTR) {
            return result;
        }
        if (waitedMs >= timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            return result;
        }
        struct timespec ts = {0, 5 * 1000 * 1000};
        nanosleep(&ts, nullptr);
        waitedMs += 5;
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace vt_test
