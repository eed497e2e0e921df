#include "sim_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#ifndef SIM_PROMOTE_BIN
#error "SIM_PROMOTE_BIN must name the simulator program"
#endif

namespace simtest {

namespace {

int64_t Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

void Put32(Bytes& b, size_t off, uint32_t v) {
    b[off] = uint8_t(v >> 24);
    b[off + 1] = uint8_t(v >> 16);
    b[off + 2] = uint8_t(v >> 8);
    b[off + 3] = uint8_t(v);
}

uint32_t Get32(const Bytes& b, size_t off) {
    return uint32_t(b[off]) << 24 | uint32_t(b[off + 1]) << 16 | uint32_t(b[off + 2]) << 8 |
           b[off + 3];
}

void PutLE(Bytes& b, size_t off, uint32_t v) {
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
    b[off + 2] = uint8_t(v >> 16);
    b[off + 3] = uint8_t(v >> 24);
}

void PutText(Bytes& b, size_t off, const std::string& s) {
    std::copy(s.begin(), s.end(), b.begin() + long(off));
}

std::string TextAt(const Bytes& b, size_t off, size_t width) {
    std::string s;
    for (size_t i = off; i < off + width && i < b.size() && b[i] != 0; ++i) s.push_back(char(b[i]));
    return s;
}

uint32_t GetLE(const Bytes& b, size_t off) {
    return uint32_t(b[off + 3]) << 24 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 1]) << 8 |
           b[off];
}

Bytes Packet(uint32_t src, uint32_t dst, uint32_t type, uint32_t msgType, uint32_t code,
             const Bytes& payload) {
    Bytes b(24);
    Put32(b, 0, src);
    Put32(b, 4, dst);
    Put32(b, 8, type);
    Put32(b, 12, msgType);
    Put32(b, 16, code);
    Put32(b, 20, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes Hex(const std::string& hex) {
    Bytes b;
    std::string digits;
    for (char c : hex) {
        if (!isspace(static_cast<unsigned char>(c))) digits.push_back(c);
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        b.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return b;
}

std::string ToHex(const Bytes& b) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s.push_back(d[c >> 4]);
        s.push_back(d[c & 15]);
    }
    return s;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string Subst(const std::string& text, const std::string& dir) {
    std::string out = text;
    size_t pos;
    while ((pos = out.find("@DIR@")) != std::string::npos) out.replace(pos, 5, dir);
    return out;
}

// ---- client -----------------------------------------------------------------------

Client::Client(uint16_t port) { EXPECT_TRUE(Connect(port)) << "connect to " << port; }

Client::~Client() {
    if (fd_ >= 0) ::close(fd_);
}

bool Client::Connect(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void Client::Send(const Bytes& b) {
    size_t off = 0;
    while (off < b.size()) {
        ssize_t n = ::send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        ASSERT_GT(n, 0) << std::strerror(errno);
        off += size_t(n);
    }
}

bool Client::RecvBytes(size_t n, Bytes* out, int timeoutMs) {
    int64_t deadline = Now() + timeoutMs;
    while (buffered_.size() < n) {
        int64_t left = deadline - Now();
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0) continue;
        uint8_t buf[65536];
        ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r <= 0) break;
        buffered_.insert(buffered_.end(), buf, buf + r);
    }
    size_t take = std::min(n, buffered_.size());
    out->assign(buffered_.begin(), buffered_.begin() + long(take));
    buffered_.erase(buffered_.begin(), buffered_.begin() + long(take));
    return take == n;
}

bool Client::Recv(Head* h, Bytes* payload, int timeoutMs) {
    int64_t deadline = Now() + timeoutMs;
    Bytes head;
    if (!RecvBytes(24, &head, timeoutMs)) {
        buffered_.insert(buffered_.begin(), head.begin(), head.end());
        return false;
    }
    h->source = Get32(head, 0);
    h->dest = Get32(head, 4);
    h->type = Get32(head, 8);
    h->msgType = Get32(head, 12);
    h->code = Get32(head, 16);
    h->len = Get32(head, 20);
    return RecvBytes(h->len, payload, int(std::max<int64_t>(1, deadline - Now())));
}

bool Client::WaitClosed(int timeoutMs, bool* reset) {
    int64_t deadline = Now() + timeoutMs;
    while (Now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(deadline - Now())) <= 0) continue;
        uint8_t buf[4096];
        ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r == 0) {
            if (reset != nullptr) *reset = false;
            return true;
        }
        if (r < 0) {
            if (reset != nullptr) *reset = errno == ECONNRESET;
            return true;
        }
        buffered_.insert(buffered_.end(), buf, buf + r);
    }
    return false;
}

bool Client::Silent(int timeoutMs) {
    if (!buffered_.empty()) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 0;
}

std::string Client::Line(int timeoutMs) {
    int64_t deadline = Now() + timeoutMs;
    while (true) {
        auto nl = std::find(buffered_.begin(), buffered_.end(), uint8_t('\n'));
        if (nl != buffered_.end()) {
            std::string line(buffered_.begin(), nl);
            buffered_.erase(buffered_.begin(), nl + 1);
            return line;
        }
        int64_t left = deadline - Now();
        if (left <= 0) return "(time-out)";
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0) continue;
        uint8_t buf[65536];
        ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r <= 0) return "(closed)";
        buffered_.insert(buffered_.end(), buf, buf + r);
    }
}

// ---- the front end's connections ----------------------------------------------------

void Link::Open(SimProcess& sim) {
    ASSERT_NE(sim.Port("promote"), 29191) << "the fixed port belongs to the front-end test";
    ASSERT_TRUE(promote.Connect(sim.Port("promote")));
    Bytes req(1056, 0);
    promote.Send(Packet(2, 1, 2, 1, 0x10006, req));
    Head h;
    Bytes p;
    ASSERT_TRUE(promote.Recv(&h, &p));
    ASSERT_EQ(h.code, 0x10008u);
    ASSERT_EQ(p.size(), 4u);
    enginePort = uint16_t(Get32(p, 0));
    EXPECT_EQ(enginePort, sim.Port("engine"));
    ASSERT_TRUE(sync.Connect(enginePort));
    sync.Send(Packet(2, 4, 1, 1, 0x10006));
    ASSERT_TRUE(async.Connect(enginePort));
    async.Send(Packet(2, 4, 2, 1, 0x10006));
    // The connections are known to the simulator once their greetings are read.
    ASSERT_TRUE(sim.WaitLog(3));
}

bool Link::Ask(uint32_t msgType, uint32_t code, const Bytes& payload, Head* h, Bytes* reply) {
    sync.Send(Packet(2, 4, 1, msgType, code, payload));
    bool got = sync.Recv(h, reply);
    EXPECT_TRUE(got) << "no reply to " << msgType << "/" << code;
    return got;
}

// ---- simulator process --------------------------------------------------------------

namespace {

// The scenario with "state": null added when it is a JSON object naming no state file.
std::string WithFreshState(const std::string& scenario) {
    rapidjson::Document d;
    d.Parse(scenario.c_str(), scenario.size());
    if (d.HasParseError() || !d.IsObject() || d.HasMember("state")) return scenario;
    d.AddMember("state", rapidjson::Value(), d.GetAllocator());
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    d.Accept(w);
    return std::string(out.GetString(), out.GetSize());
}

}  // namespace

SimProcess::SimProcess(const std::string& scenarioJson, const std::string& dir, State state)
    : dir_(dir) {
    std::string scenarioPath = dir + "/scenario.json";
    const std::string scenario = Subst(scenarioJson, dir);
    WriteFile(scenarioPath, state == State::kFresh ? WithFreshState(scenario) : scenario);
    std::string portsPath = dir + "/ports.json";
    ::unlink(portsPath.c_str());
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setenv("VANTRELO_SIM_SCENARIO", scenarioPath.c_str(), 1);
        std::string errPath = dir + "/sim.err";
        FILE* err = std::fopen(errPath.c_str(), "a");
        if (err != nullptr) ::dup2(fileno(err), 2);
        // The simulator starts with standard input, output and error only, so that
        // every other descriptor it (or a program it starts) holds is its own.
        ::close_range(3, ~0u, 0);
        // Under its tool name: the front end's start kills every process that runs
        // under the promote service's name.
        ::execl(SIM_PROMOTE_BIN, "service-sim", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int64_t deadline = Now() + 15000;
    while (Now() < deadline) {
        std::string text = ReadFile(portsPath);
        if (!text.empty()) {
            ports_.Parse(text.c_str());
            started_ = !ports_.HasParseError() && ports_.IsObject();
            break;
        }
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            earlyStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        ::usleep(10000);
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) Stop();
}

std::string SimProcess::Diagnostics() const { return ReadFile(dir_ + "/sim.err"); }

uint16_t SimProcess::Port(const char* which) const {
    if (!started_ || !ports_.HasMember(which) || !ports_[which].IsUint()) return 0;
    return uint16_t(ports_[which].GetUint());
}

int SimProcess::WaitExit(int timeoutMs) {
    if (pid_ <= 0) return -1;
    int64_t deadline = Now() + timeoutMs;
    while (Now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ::usleep(5000);
    }
    return -1;
}

int SimProcess::Stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int rc = WaitExit(timeoutMs);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return rc;
}

std::vector<rapidjson::Document> SimProcess::Log() const {
    std::vector<rapidjson::Document> out;
    std::istringstream in(ReadFile(dir_ + "/requests.jsonl"));
    std::string line;
    while (std::getline(in, line)) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        if (!d.HasParseError()) out.push_back(std::move(d));
    }
    return out;
}

bool SimProcess::WaitLog(size_t n, int timeoutMs) const {
    int64_t deadline = Now() + timeoutMs;
    while (Now() < deadline) {
        if (Log().size() >= n) return true;
        ::usleep(5000);
    }
    return Log().size() >= n;
}

std::string SimProcess::Control(const std::string& command) {
    Client c(Port("control"));
    c.Send(Bytes(command.begin(), command.end()));
    c.Send(Bytes{'\n'});
    return c.Line();
}

}  // namespace simtest
