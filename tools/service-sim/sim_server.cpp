#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "sim_files.h"
#include "sim_update.h"

namespace sim {

namespace {

// What one connection may hold of output its peer has not read yet. The front end
// has one request outstanding at a time, so even a scripted burst stays far below;
// a peer that sends requests and never reads would otherwise grow the simulator
// without bound.
constexpr size_t kMaxQueuedBytes = 1024 * 1024;
constexpr size_t kMaxQueuedSteps = 4096;

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_stop = 0;
// Set when a child (the update program) has ended: the loop reaps only then, instead of
// asking the kernel on every turn, which is every request.
volatile sig_atomic_t g_childEnded = 0;

void OnSignal(int sig) {
    if (sig == SIGTERM || sig == SIGINT) g_stop = 1;
    if (sig == SIGCHLD) g_childEnded = 1;
    int saved = errno;
    char c = char(sig);
    if (g_signalPipe[1] >= 0) (void)!::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string ToLine(const rapidjson::Value& v) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    return std::string(sb.GetString(), sb.GetSize());
}

std::vector<std::string> SplitWords(const std::string& line, size_t maxWords) {
    // The last word takes the rest of the line (a JSON text may hold blanks).
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < line.size() && words.size() + 1 < maxWords) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) break;
        size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos < line.size()) words.push_back(line.substr(pos));
    return words;
}

}  // namespace

int64_t NowMs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool RequestLog::Open(const std::string& path) {
    // "e": close-on-exec, so the update program started later does not inherit it.
    f_ = std::fopen(path.c_str(), "ae");
    return f_ != nullptr;
}

void RequestLog::Write(const rapidjson::Value& line) {
    std::lock_guard<std::mutex> lock(mu_);
    if (f_ == nullptr) return;
    // One buffer for every line, written straight to the file: a line of a large
    // packet is over a hundred kilobytes, not worth building anew and copying each time.
    line_.Clear();
    rapidjson::Writer<rapidjson::StringBuffer> w(line_);
    line.Accept(w);
    line_.Put('\n');
    std::fwrite(line_.GetString(), 1, line_.GetSize(), f_);
    // Flushed line by line: tests read the log while the simulator runs.
    std::fflush(f_);
}

RequestLog::~RequestLog() {
    if (f_ != nullptr) std::fclose(f_);
}

Server::Server(Scenario scenario) : sc_(scenario), engine_(std::move(scenario)) {}

Server::~Server() {
    https_.Stop();
    for (auto& c : conns_) {
        if (c->fd >= 0) ::close(c->fd);
    }
    for (int fd : {promoteFd_, engineFd_, controlFd_}) {
        if (fd >= 0) ::close(fd);
    }
}

const char* Server::RoleName(Role r) {
    switch (r) {
    case Role::kPromote: return "promote";
    case Role::kSync: return "sync";
    case Role::kAsync: return "async";
    case Role::kControl: return "control";
    default: return "engine";
    }
}

bool Server::Listen(uint16_t port, int* fd, uint16_t* bound, std::string* err) {
    *fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(*fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(*fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(*fd, 16) != 0 ||
        ::getsockname(*fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *err = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(*fd);
        *fd = -1;
        return false;
    }
    SetNonBlocking(*fd);
    *bound = ntohs(a.sin_port);
    return true;
}

std::string Server::PortsJson() const {
    rapidjson::Document d;
    d.SetObject();
    auto& a = d.GetAllocator();
    d.AddMember("pid", int(::getpid()), a);
    auto port = [&](const char* k, int fd, uint16_t p) {
        rapidjson::Value v;
        if (fd >= 0) v.SetUint(p);
        d.AddMember(rapidjson::StringRef(k), v, a);
    };
    port("promote", promoteFd_, promotePort_);
    port("engine", engineFd_, enginePort_);
    port("control", controlFd_, controlPort_);
    rapidjson::Value h;
    if (sc_.httpsEnabled) h.SetUint(https_.Port());
    d.AddMember("https", h, a);
    return ToLine(d);
}

Plan Server::Answer(const PacketHead& head, const Bytes& payload) {
    Plan plan = engine_.HandleRequest(head, payload);
    state_.Save(engine_);
    return plan;
}

std::string Server::OwnLogPath() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    return std::string(home) + "/.VanTrelo/log/service-sim.log";
}

// The log grows by a few lines a run; past this size a start begins it anew.
constexpr off_t kOwnLogMaxBytes = 1024 * 1024;

void Server::Detach() {
    const std::string path = OwnLogPath();
    int logFd = -1;
    if (!path.empty()) {
        const std::string home(std::getenv("HOME"));
        (void)::mkdir((home + "/.VanTrelo").c_str(), 0700);
        (void)::mkdir((home + "/.VanTrelo/log").c_str(), 0700);
        struct stat st {};
        const int trunc = ::stat(path.c_str(), &st) == 0 && st.st_size > kOwnLogMaxBytes ? O_TRUNC : 0;
        logFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | trunc, 0600);
    }
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    std::fflush(stdout);
    std::fflush(stderr);
    // Without a log file the notes are dropped rather than left on the inherited error.
    (void)::dup2(logFd >= 0 ? logFd : nullFd, STDERR_FILENO);
    (void)::dup2(nullFd, STDOUT_FILENO);
    (void)::dup2(nullFd, STDIN_FILENO);
    if (logFd >= 0) ::close(logFd);
    if (nullFd >= 0) ::close(nullFd);
}

bool Server::WritePortsFile(std::string* err) {
    if (sc_.portsFile.empty()) return true;
    std::string tmp = sc_.portsFile + ".tmp";
    if (!WriteWholeFile(tmp, PortsJson() + "\n", 0644)) {
        *err = "cannot write " + tmp;
        return false;
    }
    if (::rename(tmp.c_str(), sc_.portsFile.c_str()) != 0) {
        *err = "cannot rename " + tmp;
        return false;
    }
    return true;
}

int Server::Run() {
    start_ = NowMs();
    std::string err;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGCHLD, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (!sc_.requestLog.empty() && !log_.Open(sc_.requestLog)) {
        std::fprintf(stderr, "service-sim: cannot open request log %s\n", sc_.requestLog.c_str());
        return 1;
    }
    if (sc_.promoteListen && !Listen(sc_.promotePort, &promoteFd_, &promotePort_, &err)) {
        std::fprintf(stderr, "service-sim: %s\n", err.c_str());
        return 1;
    }
    if (!Listen(sc_.enginePort, &engineFd_, &enginePort_, &err) ||
        (sc_.controlPort && !Listen(*sc_.controlPort, &controlFd_, &controlPort_, &err))) {
        std::fprintf(stderr, "service-sim: %s\n", err.c_str());
        return 1;
    }
    if (sc_.httpsEnabled &&
        !https_.Start(sc_.httpsPort, sc_.httpsFiles,
                      [this](const std::string& p, const std::string& r, const std::string& m) {
                          LogHttps(p, r, m);
                      },
                      &err)) {
        std::fprintf(stderr, "service-sim: %s\n", err.c_str());
        return 1;
    }
    if (sc_.httpsEnabled) engine_.SetHttpsPort(https_.Port());
    state_.Open(sc_.stateFile ? *sc_.stateFile : StateFile::DefaultPath(), &engine_);
    engine_.Start();
    if (!WritePortsFile(&err)) {
        std::fprintf(stderr, "service-sim: %s\n", err.c_str());
        return 1;
    }
    if (detach_) Detach();
    std::fprintf(stderr, "service-sim: %s\n", PortsJson().c_str());

    while (!g_stop) {
        int64_t now = NowMs();
        if (sc_.exitAfterStartMs && now - start_ >= int64_t(*sc_.exitAfterStartMs)) break;
        if (g_childEnded) {
            // Cleared before reaping: a child that ends meanwhile sets it again.
            g_childEnded = 0;
            Reap();
        }
        // Out-of-order sends and events whose time has come.
        for (size_t i = 0; i < late_.size();) {
            if (late_[i].at <= now) {
                if (Conn* c = Find(late_[i].connId)) Append(*c, late_[i].bytes);
                late_.erase(late_.begin() + long(i));
            } else {
                ++i;
            }
        }
        for (size_t i = 0; i < events_.size();) {
            if (events_[i].at <= now) {
                if (Conn* c = Current(events_[i].conn)) Append(*c, events_[i].bytes);
                events_.erase(events_.begin() + long(i));
            } else {
                ++i;
            }
        }
        for (auto& c : conns_) Advance(*c, now);
        SendAfterReplies();
        if (promoteArmAfterReply_ != 0) {
            Conn* pc = Find(promoteArmAfterReply_);
            if (pc == nullptr) {
                promoteArmAfterReply_ = 0;
            } else if (pc->pipeline.empty()) {
                promoteArmAfterReply_ = 0;
                ArmEvents("promote", now);
            }
        }
        conns_.erase(std::remove_if(conns_.begin(), conns_.end(),
                                    [](const std::unique_ptr<Conn>& c) { return c->dead; }),
                     conns_.end());

        // Wait for input, for output room, or for the next timed step.
        int64_t next = -1;
        auto consider = [&](int64_t t) {
            if (t >= 0 && (next < 0 || t < next)) next = t;
        };
        for (const Timed& t : late_) consider(t.at);
        for (const ScheduledEvent& e : events_) consider(e.at);
        if (sc_.exitAfterStartMs) consider(start_ + int64_t(*sc_.exitAfterStartMs));
        std::vector<pollfd> fds;
        std::vector<Conn*> owners;
        fds.push_back({g_signalPipe[0], POLLIN, 0});
        owners.push_back(nullptr);
        for (int lfd : {promoteFd_, engineFd_, controlFd_}) {
            if (lfd >= 0) {
                fds.push_back({lfd, POLLIN, 0});
                owners.push_back(nullptr);
            }
        }
        for (auto& c : conns_) {
            if (!c->pipeline.empty() && c->out.empty()) consider(c->pipeline.front().readyAt);
            short ev = POLLIN;
            if (!c->out.empty()) ev |= POLLOUT;
            fds.push_back({c->fd, ev, 0});
            owners.push_back(c.get());
        }
        int timeout = next < 0 ? -1 : int(std::max<int64_t>(0, next - now));
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "service-sim: poll failed: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (owners[i] == nullptr) {
                int lfd = fds[i].fd;
                Accept(lfd, lfd == promoteFd_   ? Role::kPromote
                            : lfd == controlFd_ ? Role::kControl
                                                : Role::kEngine);
                continue;
            }
            Conn& c = *owners[i];
            if (c.dead) continue;
            if (fds[i].revents & POLLOUT) WriteConn(c);
            if (!c.dead && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) ReadConn(c);
        }
    }
    https_.Stop();
    for (auto& c : conns_) Drop(*c, false);
    conns_.clear();
    std::fprintf(stderr, "service-sim: stopped\n");
    return 0;
}

void Server::Accept(int listenFd, Role role) {
    while (true) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->role = role;
        c->id = nextId_++;
        conns_.push_back(std::move(c));
    }
}

Server::Conn* Server::Find(uint64_t id) {
    for (auto& c : conns_) {
        if (c->id == id && !c->dead) return c.get();
    }
    return nullptr;
}

Server::Conn* Server::Current(const std::string& which) {
    if (which == "promote") return Find(promoteId_);
    if (which == "sync") return Find(syncId_);
    if (which == "async") return Find(asyncId_);
    return nullptr;
}

void Server::Drop(Conn& c, bool reset) {
    if (c.dead) return;
    if (reset) {
        linger l{1, 0};
        ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(c.fd);
    c.fd = -1;
    c.dead = true;
    // What was still to go can never be sent: give the memory back now.
    Bytes().swap(c.in);
    Bytes().swap(c.out);
    std::deque<Pending>().swap(c.pipeline);
    c.pipelineBytes = 0;
}

void Server::ReadConn(Conn& c) {
    uint8_t buf[65536];
    bool peerGone = false;
    // Each piece is handled before the next is read, so a peer that sends faster than
    // it reads meets the output limit instead of filling the input buffer.
    while (!c.dead) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.in.insert(c.in.end(), buf, buf + n);
            HandleInput(c);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0 && errno == EINTR) continue;
        peerGone = true;   // closed or broken: what arrived before is still handled
        break;
    }
    // Nothing sent to a peer that has gone can matter any more.
    if (peerGone) Drop(c, false);
}

void Server::HandleInput(Conn& c) {
    if (c.role == Role::kControl) {
        auto nl = std::find(c.in.begin(), c.in.end(), uint8_t('\n'));
        while (!c.dead && nl != c.in.end()) {
            std::string line(c.in.begin(), nl);
            c.in.erase(c.in.begin(), nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            HandleControlLine(c, line);
            nl = std::find(c.in.begin(), c.in.end(), uint8_t('\n'));
        }
        if (c.in.size() > kMaxInboundPayload) Drop(c, false);
    } else {
        while (!c.dead && c.in.size() >= kHeadSize) {
            PacketHead h = DecodeHead(c.in.data());
            if (h.msgLen > kMaxInboundPayload) {
                std::fprintf(stderr, "service-sim: %s connection announced %u payload bytes; closed\n",
                             RoleName(c.role), h.msgLen);
                Drop(c, false);
                return;
            }
            if (c.in.size() < kHeadSize + h.msgLen) break;
            Bytes payload(c.in.begin() + kHeadSize, c.in.begin() + kHeadSize + h.msgLen);
            c.in.erase(c.in.begin(), c.in.begin() + kHeadSize + h.msgLen);
            HandlePacket(c, h, payload);
        }
    }
}

void Server::WriteConn(Conn& c) {
    while (!c.dead && !c.out.empty()) {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(c.out.begin(), c.out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        Drop(c, false);
        return;
    }
}

void Server::Enqueue(Conn& c, Plan plan, int64_t now) {
    // The plan is this connection's alone: its bytes move along rather than being
    // copied at every hand-over (a certificate list is tens of kilobytes).
    for (OutStep& s : plan.steps) {
        c.pipelineBytes += s.bytes.size();
        c.pipeline.push_back(Pending{std::move(s), -1, 0});
    }
    for (LateSend& l : plan.late) {
        late_.push_back({now + int64_t(l.afterMs), c.id, std::move(l.bytes)});
    }
    if (!plan.asyncAfter.empty()) afterReplies_.push_back({c.id, std::move(plan.asyncAfter)});
    if (OverLimit(c)) return;
    Advance(c, now);
}

// The front end reads a reply before it acts on the events that the request caused (a
// changed password ends the session: the change is confirmed first, then the logout is
// told). A reply whose connection is gone holds nothing back.
void Server::SendAfterReplies() {
    for (size_t i = 0; i < afterReplies_.size();) {
        const uint64_t id = afterReplies_[i].connId;
        const Conn* c = Find(id);
        const bool late = std::any_of(late_.begin(), late_.end(),
                                      [id](const Timed& t) { return t.connId == id; });
        if (c != nullptr && (!c->pipeline.empty() || !c->out.empty() || late)) {
            ++i;
            continue;
        }
        if (Conn* target = Current("async")) {
            for (uint32_t code : afterReplies_[i].codes) {
                ScriptedPacket p;
                p.code = code;
                if (!Append(*target, EventPacket("async", p))) break;
            }
        }
        afterReplies_.erase(afterReplies_.begin() + long(i));
    }
}

bool Server::Append(Conn& c, const Bytes& bytes) {
    if (c.dead) return false;
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
    if (OverLimit(c)) return false;
    WriteConn(c);
    return !c.dead;
}

bool Server::OverLimit(Conn& c) {
    size_t queued = c.out.size() + c.pipelineBytes;
    if (queued <= kMaxQueuedBytes && c.pipeline.size() <= kMaxQueuedSteps) return false;
    std::fprintf(stderr,
                 "service-sim: %s connection leaves %zu bytes in %zu replies unread; closed\n",
                 RoleName(c.role), queued, c.pipeline.size() + (c.out.empty() ? 0 : 1));
    Drop(c, false);
    return true;
}

void Server::Advance(Conn& c, int64_t now) {
    while (!c.dead && !c.pipeline.empty() && c.out.empty()) {
        Pending& p = c.pipeline.front();
        if (p.readyAt < 0) p.readyAt = now + p.step.delayMs;
        if (now < p.readyAt) return;
        switch (p.step.kind) {
        case OutStep::kSend:
            if (p.step.trickle && p.trickled + 1 < p.step.bytes.size()) {
                c.out.push_back(p.step.bytes[p.trickled++]);
                p.readyAt = now + p.step.trickleMs;
            } else {
                // The last (or only) piece of the step: the step leaves the pipeline.
                // The output is empty here, so a whole step simply becomes it.
                c.pipelineBytes -= p.step.bytes.size();
                if (p.trickled == 0) {
                    c.out.swap(p.step.bytes);
                } else {
                    c.out.assign(p.step.bytes.begin() + long(p.trickled), p.step.bytes.end());
                }
                c.pipeline.pop_front();
            }
            WriteConn(c);
            break;
        case OutStep::kClose:
            Drop(c, false);
            return;
        case OutStep::kReset:
            Drop(c, true);
            return;
        }
    }
}

void Server::LogPacket(const Conn& c, const PacketHead& h, const Bytes& payload) {
    // Describing a packet costs far more than answering it (the hex dump of a large
    // request alone is twice its size): not worth it when nobody keeps the line.
    if (!log_.IsOpen()) return;
    rapidjson::Document d;
    d.SetObject();
    auto& a = d.GetAllocator();
    d.AddMember("t", int64_t(NowMs() - start_), a);
    d.AddMember("conn", rapidjson::StringRef(RoleName(c.role)), a);
    rapidjson::Value head(rapidjson::kObjectType);
    head.AddMember("source", h.source, a);
    head.AddMember("dest", h.dest, a);
    head.AddMember("type", h.connType, a);
    head.AddMember("msgType", h.msgType, a);
    head.AddMember("code", h.msgCode, a);
    head.AddMember("len", h.msgLen, a);
    d.AddMember("head", head, a);
    DescribePayload(RoleName(c.role), h, payload, &d, a);
    uint8_t hb[kHeadSize];
    EncodeHead(h, hb);
    // The whole packet as hex, built once; the line refers to it rather than copying
    // it, and it outlives the line.
    std::string hex;
    hex.reserve(2 * (kHeadSize + payload.size()));
    AppendHex(&hex, hb, kHeadSize);
    AppendHex(&hex, payload.data(), payload.size());
    d.AddMember("hex", rapidjson::StringRef(hex.data(), rapidjson::SizeType(hex.size())), a);
    log_.Write(d);
}

void Server::LogHttps(const std::string& path, const std::string& request,
                      const std::string& mode) {
    if (!log_.IsOpen()) return;
    rapidjson::Document d;
    d.SetObject();
    auto& a = d.GetAllocator();
    d.AddMember("t", int64_t(NowMs() - start_), a);
    d.AddMember("conn", "https", a);
    d.AddMember("path", rapidjson::Value(path.c_str(), a), a);
    d.AddMember("mode", rapidjson::Value(mode.c_str(), a), a);
    d.AddMember("request", rapidjson::Value(request.c_str(), rapidjson::SizeType(request.size()), a), a);
    log_.Write(d);
}

Bytes Server::EventPacket(const std::string& which, const ScriptedPacket& p) const {
    PacketHead h{which == "promote" ? uint32_t(kMarkRpc) : uint32_t(kMarkTulm), kMarkUi,
                 kConnAsync, kTypePref, p.code, 0};
    return BuildPacket(p.head.Apply(h), p.payload);
}

void Server::ArmEvents(const std::string& which, int64_t now) {
    for (const EventSpec& e : sc_.events) {
        if (e.conn == which) events_.push_back({now + int64_t(e.packet.delayMs), which,
                                               EventPacket(which, e.packet)});
    }
}

void Server::HandlePacket(Conn& c, const PacketHead& h, const Bytes& payload) {
    int64_t now = NowMs();
    if (c.role == Role::kEngine) {
        // The greeting tells which of the engine's two connections this is.
        if (h.connType == kConnSync) {
            c.role = Role::kSync;
            syncId_ = c.id;
        } else if (h.connType == kConnAsync) {
            c.role = Role::kAsync;
            asyncId_ = c.id;
            if (!asyncArmed_) {
                asyncArmed_ = true;
                ArmEvents("async", now);
            }
        }
        LogPacket(c, h, payload);
        bool greeting = h.msgType == kTypePref && h.msgCode == code::kStartTulm;
        if (greeting || c.role != Role::kSync) return;
        Enqueue(c, Answer(h, payload), now);
        return;
    }
    LogPacket(c, h, payload);
    switch (c.role) {
    case Role::kSync:
        Enqueue(c, Answer(h, payload), now);
        break;
    case Role::kPromote:
        if (h.msgCode == code::kStartTulm && !c.portAnswered) {
            // Events go to the connection that asked for the engine's port: the
            // front end's. Another connection to the port (a probe that connects and
            // closes, say) does not take them over.
            c.portAnswered = true;
            promoteId_ = c.id;
            Enqueue(c, engine_.HandlePortRequest(h, enginePort_), now);
            if (!promoteArmed_) {
                promoteArmed_ = true;
                promoteArmAfterReply_ = c.id;
            }
        } else if (h.msgCode == code::kUpdateApplication) {
            RunUpdate(engine_.RecordUpdate(payload));
        }
        // Anything else on this connection is only recorded: a packet sent back here
        // would reach the front end as an event.
        break;
    default:
        break;
    }
}

void Server::RunUpdate(const Record& update) {
    if (!sc_.updateRun) return;
    std::string warning, error;
    std::vector<std::string> args = BuildUpdateArgs(update, sc_.updateFlag, &warning);
    if (!warning.empty()) std::fprintf(stderr, "service-sim: %s\n", warning.c_str());
    std::string program = sc_.updateProgram.empty() ? update.Text("acUpdateProgram")
                                                    : sc_.updateProgram;
    pid_t pid = 0;
    if (!SpawnProgram(program, args, &pid, &error)) {
        std::fprintf(stderr, "service-sim: %s\n", error.c_str());
        engine_.NoteUpdateSpawn(0, error);
        return;
    }
    engine_.NoteUpdateSpawn(long(pid), std::string());
}

void Server::Reap() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        engine_.NoteUpdateExit(long(pid), WIFEXITED(status) ? WEXITSTATUS(status)
                                                            : 128 + WTERMSIG(status));
    }
}

void Server::HandleControlLine(Conn& c, const std::string& line) {
    std::vector<std::string> w = SplitWords(line, 5);
    std::string reply;
    auto ok = [&](const std::string& more) { reply = more.empty() ? "OK" : "OK " + more; };
    auto fail = [&](const std::string& why) { reply = "ERR " + why; };
    std::string error;

    if (w.empty()) {
        fail("empty command");
    } else if (w[0] == "ping") {
        ok("pong");
    } else if (w[0] == "ports") {
        ok(PortsJson());
    } else if (w[0] == "state") {
        rapidjson::Document d;
        rapidjson::Value v = engine_.StateJson(d.GetAllocator());
        ok(ToLine(v));
    } else if (w[0] == "event" && w.size() >= 3) {
        // event <async|promote> <code> [{"payload":..., "head":{...}}]
        std::vector<std::string> e = SplitWords(line, 4);
        ScriptedPacket p;
        Conn* target = Current(e[1]);
        if (e[1] != "async" && e[1] != "promote") {
            fail("event goes to async or promote");
        } else if (!ParseU32(e[2], &p.code)) {
            fail("bad code");
        } else if (target == nullptr) {
            fail("no " + e[1] + " connection");
        } else {
            bool good = true;
            if (e.size() == 4) {
                rapidjson::Document d;
                d.Parse(e[3].c_str());
                uint32_t code = p.code;
                good = !d.HasParseError() && ParseScriptedPacket(d, &p, &error);
                p.code = code;
                if (!good) fail(error.empty() ? "bad JSON" : error);
            }
            if (good && Append(*target, EventPacket(e[1], p))) {
                ok("");
            } else if (good) {
                fail(e[1] + " connection closed");
            }
        }
    } else if ((w[0] == "close" || w[0] == "reset") && w.size() == 2) {
        Conn* target = Current(w[1]);
        if (target == nullptr) {
            fail("no " + w[1] + " connection");
        } else {
            Drop(*target, w[0] == "reset");
            ok("");
        }
    } else if (w[0] == "script" && w.size() >= 4) {
        // script set|push <type> <code> <json> ; script clear <type> <code>
        uint32_t type = 0, code = 0;
        if (!ParseU32(w[2], &type) || !ParseU32(w[3], &code)) {
            fail("bad message type or code");
        } else if (w[1] == "clear" && w.size() == 4) {
            engine_.ClearScript(type, code);
            ok("");
        } else if ((w[1] == "set" || w[1] == "push") && w.size() == 5) {
            rapidjson::Document d;
            d.Parse(w[4].c_str());
            std::vector<ScriptedReply> replies;
            bool good = !d.HasParseError();
            if (good && d.IsArray()) {
                for (const rapidjson::Value& r : d.GetArray()) {
                    ScriptedReply sr;
                    good = good && ParseScriptedReply(r, &sr, &error);
                    replies.push_back(sr);
                }
            } else if (good) {
                ScriptedReply sr;
                good = ParseScriptedReply(d, &sr, &error);
                replies.push_back(sr);
            }
            if (!good) {
                fail(error.empty() ? "bad JSON" : error);
            } else if (w[1] == "set") {
                engine_.SetScript(type, code, replies);
                ok("");
            } else {
                for (ScriptedReply& r : replies) engine_.PushScript(type, code, r);
                ok("");
            }
        } else {
            fail("usage: script set|push <type> <code> <json> | script clear <type> <code>");
        }
    } else {
        fail("unknown command");
    }
    reply.push_back('\n');
    Append(c, Bytes(reply.begin(), reply.end()));
}

}  // namespace sim
