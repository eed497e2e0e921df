#include "ui_test/plugin_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ui_test/ui_sim.h"

extern char** environ;

namespace ui_test {

namespace {

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is readable (or at its end); false when the time ran out first.
bool Readable(int fd, int64_t deadline) {
    const int64_t left = deadline - NowMs();
    return left >= 0 && WaitReadable(fd, int(left));
}

bool WriteAll(int fd, const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= size_t(n);
    }
    return true;
}

// Waits for a child's end until the deadline, killing it after that. Its exit code, or -1.
int Reap(pid_t pid, int64_t deadline) {
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        if (NowMs() > deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        ::usleep(2000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The report of a PluginPeer's process: four flags, the number of bytes read, the bytes.
struct Report {
    uint8_t userTaken;
    uint8_t connected;
    uint8_t closed;
    uint8_t timedOut;
    uint32_t len;
};

constexpr size_t kPeerBuffer = 8192;

// In the forked process: system calls only, then _exit.
[[noreturn]] void PeerRun(uid_t uid, const std::vector<uint8_t>& bytes, bool ipv6, int goFd,
                          int reportFd) {
    // The copies of the test's own descriptors go first: a listener or plugin connection
    // held open here would not close when the test closes it.
    const unsigned lo = unsigned(goFd < reportFd ? goFd : reportFd);
    const unsigned hi = unsigned(goFd < reportFd ? reportFd : goFd);
    if (lo > 3) (void)::close_range(3, lo - 1, 0);
    if (hi > lo + 1) (void)::close_range(lo + 1, hi - 1, 0);
    (void)::close_range(hi + 1, ~0u, 0);
    Report r{};
    static uint8_t in[kPeerBuffer];
    if (::getuid() == uid && ::geteuid() == uid) {
        r.userTaken = 1;
    } else {
        const gid_t gid = static_cast<gid_t>(uid);
        r.userTaken = ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, gid) == 0 &&
                      ::setresuid(uid, uid, uid) == 0;
    }
    uint16_t port = 0;
    ssize_t n = -1;
    do {
        n = ::read(goFd, &port, sizeof(port));
    } while (n < 0 && errno == EINTR);
    if (n != ssize_t(sizeof(port))) ::_exit(2);
    int fd = -1;
    if (r.userTaken && !ipv6) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        r.connected = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    } else if (r.userTaken) {
        fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr.s6_addr[10] = 0xFF;
        a.sin6_addr.s6_addr[11] = 0xFF;
        a.sin6_addr.s6_addr[12] = 127;
        a.sin6_addr.s6_addr[15] = 1;
        a.sin6_port = htons(port);
        r.connected = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    if (r.connected) {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t s = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (s < 0 && errno == EINTR) continue;
            if (s <= 0) break;  // a listener that closed at once may reset the rest
            off += size_t(s);
        }
        const int64_t deadline = NowMs() + 10000;
        size_t want = 24;
        while (r.len < want) {
            if (!Readable(fd, deadline)) {
                r.timedOut = 1;
                break;
            }
            const ssize_t got = ::recv(fd, in + r.len, kPeerBuffer - r.len, MSG_DONTWAIT);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                r.closed = got == 0 || errno == ECONNRESET;
                break;
            }
            r.len += uint32_t(got);
            if (r.len >= 24 && want == 24) {
                uint32_t announced = 0;
                std::memcpy(&announced, in + 20, sizeof(announced));
                want = 24 + size_t(ntohl(announced));
                want = want < kPeerBuffer ? want : kPeerBuffer;
            }
        }
    }
    (void)WriteAll(reportFd, &r, sizeof(r));
    (void)WriteAll(reportFd, in, r.len);
    if (fd >= 0) ::close(fd);
    ::_exit(0);
}

}  // namespace

// ---- ChildProgram ------------------------------------------------------------------------------

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return;
    }
    pid_ = pid;
    out_ = out[0];
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        (void)Reap(pid_, NowMs() + 5000);
    }
    if (out_ >= 0) ::close(out_);
}

bool ChildProgram::ReadLine(std::string* line, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            *line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        if (out_ < 0 || !Readable(out_, deadline)) return false;
        char buf[4096];
        const ssize_t n = ::read(out_, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffered_.append(buf, size_t(n));
    }
}

int ChildProgram::Wait(int timeoutMs) {
    if (pid_ <= 0) return -1;
    const int code = Reap(pid_, NowMs() + timeoutMs);
    pid_ = -1;
    return code;
}

// ---- PluginPeer --------------------------------------------------------------------------------

PluginPeer::PluginPeer(uid_t uid, const std::vector<uint8_t>& bytes, bool ipv6) {
    int go[2], report[2];
    if (::pipe2(go, O_CLOEXEC) != 0) return;
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(go[0]);
        ::close(go[1]);
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(go[1]);
        ::close(report[0]);
        PeerRun(uid, bytes, ipv6, go[0], report[1]);
    }
    ::close(go[0]);
    ::close(report[1]);
    if (pid < 0) {
        ::close(go[1]);
        ::close(report[0]);
        return;
    }
    pid_ = pid;
    go_ = go[1];
    report_ = report[0];
}

PluginPeer::~PluginPeer() {
    if (go_ >= 0) ::close(go_);
    if (report_ >= 0) ::close(report_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        (void)Reap(pid_, NowMs() + 5000);
    }
}

bool PluginPeer::Go(uint16_t port) {
    if (go_ < 0) return false;
    const bool ok = WriteAll(go_, &port, sizeof(port));
    ::close(go_);
    go_ = -1;
    return ok;
}

PluginPeer::Seen PluginPeer::Wait(int timeoutMs) {
    Seen seen;
    if (pid_ <= 0) return seen;
    const int64_t deadline = NowMs() + timeoutMs;
    std::vector<uint8_t> raw;
    while (report_ >= 0 && Readable(report_, deadline)) {
        uint8_t buf[4096];
        const ssize_t n = ::read(report_, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        raw.insert(raw.end(), buf, buf + n);
    }
    const int code = Reap(pid_, deadline);
    pid_ = -1;
    Report r{};
    if (code != 0 || raw.size() < sizeof(r)) return seen;
    std::memcpy(&r, raw.data(), sizeof(r));
    if (raw.size() != sizeof(r) + r.len) return seen;
    seen.started = true;
    seen.userTaken = r.userTaken != 0;
    seen.connected = r.connected != 0;
    seen.closed = r.closed != 0;
    seen.timedOut = r.timedOut != 0;
    seen.got.assign(raw.begin() + sizeof(r), raw.end());
    return seen;
}

}  // namespace ui_test
