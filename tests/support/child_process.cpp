#include "vt_test/child_process.h"

#include <gtest/gtest-spi.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace vt_test {

namespace {

// One failed check as it crosses the pipe: a 4-byte length, then "file\nline\nmessage".
struct CheckRecord {
    std::string file;
    int line = -1;
    std::string message;
};

std::string Encode(const ::testing::TestPartResult& r) {
    std::string payload = std::string(r.file_name() != nullptr ? r.file_name() : "") + "\n" +
                          std::to_string(r.line_number()) + "\n" + r.message();
    uint32_t len = static_cast<uint32_t>(payload.size());
    return std::string(reinterpret_cast<const char*>(&len), sizeof(len)) + payload;
}

// Takes the complete records off the front of buf.
std::vector<CheckRecord> Decode(std::string* buf) {
    std::vector<CheckRecord> out;
    for (;;) {
        uint32_t len = 0;
        if (buf->size() < sizeof(len)) {
            break;
        }
        std::memcpy(&len, buf->data(), sizeof(len));
        if (buf->size() < sizeof(len) + len) {
            break;
        }
        std::string payload = buf->substr(sizeof(len), len);
        buf->erase(0, sizeof(len) + len);
        CheckRecord rec;
        size_t a = payload.find('\n');
        size_t b = a == std::string::npos ? a : payload.find('\n', a + 1);
        if (b == std::string::npos) {
            rec.message = payload;
        } else {
            rec.file = payload.substr(0, a);
            rec.line = std::atoi(payload.substr(a + 1, b - a - 1).c_str());
            rec.message = payload.substr(b + 1);
        }
        out.push_back(std::move(rec));
    }
    return out;
}

void WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// In the child: where the failures go. Only the child's one thread exists when it is
// set, and the reporters below are its only writers.
int g_pipeFd = -1;
std::atomic<int> g_failed{0};
std::mutex g_pipeMutex;

// In the child: takes check results away from the test's own record and writes each
// failure to the pipe at once, so that nothing is lost when the child dies afterwards.
class PipeReporter : public ::testing::ScopedFakeTestPartResultReporter {
public:
    explicit PipeReporter(InterceptMode mode) : ScopedFakeTestPartResultReporter(mode, &unused_) {}

    void ReportTestPartResult(const ::testing::TestPartResult& r) override {
        if (!r.failed()) {
            return;
        }
        g_failed.fetch_add(1);
        std::string record = Encode(r);
        std::lock_guard<std::mutex> lock(g_pipeMutex);
        WriteAll(g_pipeFd, record);
    }

private:
    static ::testing::TestPartResultArray unused_;  // the base wants one; never filled
};

::testing::TestPartResultArray PipeReporter::unused_;

[[noreturn]] void RunChild(const std::function<int()>& body, int fd) {
    g_pipeFd = fd;
    int code = 0;
    {
        // The child's other threads report to the global reporter; its own thread may
        // carry a reporter of its own (a test that expects failures installs one), so
        // both are taken over.
        PipeReporter allThreads(::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS);
        PipeReporter thisThread(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD);
        code = body();
    }
    int failed = g_failed.load();
    if (code == 0 && failed != 0) {
        code = kChildCheckFailed;
    }
    fflush(nullptr);
    _exit(code & 0xFF);
}

void Drain(int fd, std::string* buf) {
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n > 0) {
            buf->append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return;  // nothing more for now (EAGAIN) or the child's end is closed
    }
}

}  // namespace

ChildResult RunInChildBody(const std::function<int()>& body, int timeoutMs) {
    ChildResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.startError = std::string("pipe2: ") + strerror(errno);
        return result;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        result.startError = std::string("fork: ") + strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        close(fds[0]);
        RunChild(body, fds[1]);
    }
    close(fds[1]);
    // Read while the child runs: a child with much to report must not block on a full
    // pipe. Once it has ended, only what is already there is read, since a process the
    // child left behind may still hold the pipe open.
    (void)fcntl(fds[0], F_SETFL, O_NONBLOCK);

    std::string buf;
    int status = 0;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Drain(fds[0], &buf);
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            ended = true;
            break;
        }
        if (r < 0 && errno != EINTR) {
            result.startError = std::string("waitpid: ") + strerror(errno);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            result.timedOut = true;
            break;
        }
        struct pollfd p = {fds[0], POLLIN, 0};
        (void)poll(&p, 1, 5);
    }
    Drain(fds[0], &buf);
    close(fds[0]);

    for (const CheckRecord& rec : Decode(&buf)) {
        ++result.failedChecks;
        result.report += rec.file + ":" + std::to_string(rec.line) + ": " + rec.message + "\n";
        ADD_FAILURE_AT(rec.file.c_str(), rec.line) << "in the child process:\n" << rec.message;
    }
    if (ended && WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (ended && WIFSIGNALED(status)) {
        result.signaled = true;
        result.signal = WTERMSIG(status);
    }
    return result;
}

namespace {

std::string HowItEnded(const ChildResult& r, bool withReport) {
    std::string how;
    if (r.timedOut) {
        how = "ran past its time limit and was killed";
    } else if (r.signaled) {
        how = "was killed by signal " + std::to_string(r.signal) + " (" + strsignal(r.signal) + ")";
    } else if (r.exited) {
        how = "exited with " + std::to_string(r.exitCode);
    } else {
        how = "could not be run or waited for (" + r.startError + ")";
    }
    if (r.failedChecks != 0) {
        how += " after " + std::to_string(r.failedChecks) + " failed check(s)";
        how += withReport ? ":\n" + r.report : " (each reported on its own)";
    }
    return how;
}

}  // namespace

std::string Describe(const ChildResult& r) { return HowItEnded(r, true); }

::testing::AssertionResult ExitedWith(const ChildResult& r, int code) {
    if (r.exited && r.exitCode == code) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the child was to exit with " << code << " but " << HowItEnded(r, false);
}

}  // namespace vt_test
