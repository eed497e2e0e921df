#include "ui_test/ui_sim.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "ddm_log.h"
#include "ddm_log_inner.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "vt_test/platform.h"

#ifndef UI_TEST_SIM_BIN
#error "UI_TEST_SIM_BIN must name the simulator built under its tool name"
#endif

extern char** environ;

namespace ui_test {

namespace {

constexpr char kLogName[] = "uitest";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void Put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    b[off] = uint8_t(v >> 24);
    b[off + 1] = uint8_t(v >> 16);
    b[off + 2] = uint8_t(v >> 8);
    b[off + 3] = uint8_t(v);
}

int ConnectTo(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendGreeting(int32_t fd, uint32_t connType) {
    uint8_t head[UI_PACKET_HEAD_LEN];
    (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(head), MARK_UI, MARK_TULM, connType,
                            MSG_TYPE_PREF, PREF_MSGCODE_FIRSTCONN_START_TULM, sizeof(head));
    return UI_Packet_Send(fd, head, sizeof(head)) == int32_t(sizeof(head));
}

}  // namespace

void LinkSetUp() {
    static const bool once = [] {
        (void)vt_test::PlatformStartOnce();
        return DDM_LogInit(kLogName) == 0;
    }();
    ASSERT_TRUE(once) << "the log could not be named";
    uiSyncTimeoutDivisorSet(1);
}

std::vector<std::string> LogLines() {
    char dir[DDM_PATH_SIZE] = {};
    ddmLogDirCopy(dir, sizeof(dir));
    const std::string prefix = std::string("VanTrelo_") + kLogName + "_";
    std::vector<std::pair<unsigned long, std::string>> files;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) {
                files.emplace_back(std::strtoul(name.c_str() + prefix.size(), nullptr, 10),
                                   std::string(dir) + name);
            }
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const auto& f : files) {
        std::istringstream in(ReadFile(f.second));
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> RequestCodes(const std::vector<rapidjson::Document>& log, size_t from) {
    std::vector<std::string> codes;
    for (size_t i = from; i < log.size(); ++i) {
        const rapidjson::Document& line = log[i];
        if (!line.HasMember("head") || std::string(line["conn"].GetString()) != "sync" ||
            line["head"]["code"].GetUint() > 0xFFFF) {  // the greetings
            continue;
        }
        codes.push_back(std::to_string(line["head"]["msgType"].GetUint()) + "/" +
                        std::to_string(line["head"]["code"].GetUint()));
    }
    return codes;
}

size_t LogCount(const std::string& fragment) {
    size_t n = 0;
    for (const std::string& line : LogLines()) {
        if (line.find(fragment) != std::string::npos) ++n;
    }
    return n;
}

size_t LogTextCount(const std::string& fragment) {
    size_t n = 0;
    for (const std::string& line : LogLines()) {
        // "[ MODULE LEVEL  YYYY-MM-DD hh:mm:ss.uuuuuu ][user] text"
        size_t text = 0;
        const size_t prefixEnd = line.find(" ][");
        if (prefixEnd != std::string::npos) {
            const size_t userEnd = line.find("] ", prefixEnd + 3);
            text = userEnd == std::string::npos ? line.size() : userEnd + 2;
        }
        if (line.find(fragment, text) != std::string::npos) ++n;
    }
    return n;
}

int64_t LogLineTimeUs(const std::string& line) {
    // The prefix: "[ MODULE LEVEL  YYYY-MM-DD hh:mm:ss.uuuuuu ]".
    const size_t close = line.find(" ]");
    tm t{};
    long us = 0;
    for (size_t at = line.find(' '); at != std::string::npos && at < close; at = line.find(' ', at + 1)) {
        if (sscanf(line.c_str() + at, " %4d-%2d-%2d %2d:%2d:%2d.%6ld", &t.tm_year, &t.tm_mon, &t.tm_mday,
                   &t.tm_hour, &t.tm_min, &t.tm_sec, &us) == 7) {
            t.tm_year -= 1900;
            t.tm_mon -= 1;
            return int64_t(timegm(&t)) * 1000000 + us;
        }
    }
    return -1;
}

// ---- Sim -------------------------------------------------------------------------------

Sim::Sim(const std::string& extra, const std::string& promote, uint16_t promotePort) {
    const std::string dir = env_.Tmp();
    std::string scenario = "{\"requestLog\":\"" + dir + "/requests.jsonl\",\"portsFile\":\"" +
                           dir + "/ports.json\",\"state\":null,\"controlPort\":0,\"promote\":{\"port\":" +
                           std::to_string(promotePort) +
                           (promote.empty() ? "" : "," + promote) + "}" +
                           (extra.empty() ? "" : "," + extra) + "}";
    const std::string scenarioPath = dir + "/scenario.json";
    WriteFile(scenarioPath, scenario);
    const std::string portsPath = dir + "/ports.json";
    const std::string errPath = dir + "/sim.err";

    // Everything the child needs is made before the fork: the test process has threads.
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "VANTRELO_SIM_SCENARIO=", 22) != 0) envText.push_back(*e);
    }
    envText.push_back("VANTRELO_SIM_SCENARIO=" + scenarioPath);
    std::vector<char*> envp;
    for (std::string& s : envText) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    char argv0[] = "service-sim";
    char* argv[] = {argv0, nullptr};

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(nullFd, 0);
        ::dup2(nullFd, 1);
        ::dup2(errFd, 2);
        // The simulator must hold none of the test's sockets: a peer's close has to
        // reach the other end.
        ::close_range(3, ~0U, 0);
        ::execve(UI_TEST_SIM_BIN, argv, envp.data());
        ::_exit(127);
    }
    ::close(errFd);
    ::close(nullFd);
    if (pid_ < 0) return;
    const int64_t deadline = NowMs() + 15000;
    while (NowMs() < deadline) {
        std::string text = ReadFile(portsPath);
        while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        if (!text.empty() && text.back() == '}') {
            ports_.Parse(text.c_str());
            started_ = !ports_.HasParseError() && ports_.IsObject();
            if (started_) break;
        }
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        ::usleep(5000);
    }
}

Sim::~Sim() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const int64_t deadline = NowMs() + 5000;
    while (NowMs() < deadline) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        ::usleep(2000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

std::string Sim::Diagnostics() const { return ReadFile(env_.Tmp() + "/sim.err"); }

uint16_t Sim::Port(const char* which) const {
    if (!started_ || !ports_.HasMember(which) || !ports_[which].IsUint()) return 0;
    return uint16_t(ports_[which].GetUint());
}

std::string Sim::Control(const std::string& command) {
    const int fd = ConnectTo(Port("control"));
    if (fd < 0) return "(no control channel)";
    const std::string line = command + "\n";
    (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string answer;
    char c;
    while (WaitReadable(fd, 5000) && ::recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
    ::close(fd);
    return answer;
}

std::vector<rapidjson::Document> Sim::Log() const {
    std::vector<rapidjson::Document> out;
    std::istringstream in(ReadFile(env_.Tmp() + "/requests.jsonl"));
    std::string line;
    while (std::getline(in, line)) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        if (!d.HasParseError()) out.push_back(std::move(d));
    }
    return out;
}

bool Sim::WaitLog(size_t lines, int timeoutMs) const {
    const int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        if (Log().size() >= lines) return true;
        ::usleep(2000);
    }
    return Log().size() >= lines;
}

// ---- SimLink ----------------------------------------------------------------------------

SimLink::SimLink(const std::string& extra, const std::string& promote) : sim_(extra, promote) {
    if (!sim_.Started()) return;
    uint32_t port = 0, code = 0;
    if (UI_Connect_Open(sim_.Port("promote"), MARK_RPC, CONNECT_TYPE_ASYNC, &promoteFd_) != 0 ||
        UI_RemotePort_Get(&port, &code) != 0 || code != PREF_MSGCODE_FIRSTCONN_TULM_LISTENPORT) {
        return;
    }
    if (UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_SYNC, &syncFd_) != 0 ||
        !SendGreeting(syncFd_, CONNECT_TYPE_SYNC)) {
        return;
    }
    if (UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_ASYNC, &asyncFd_) != 0 ||
        !SendGreeting(asyncFd_, CONNECT_TYPE_ASYNC)) {
        return;
    }
    // The simulator tells the engine connections apart by their greetings.
    connected_ = sim_.WaitLog(3);
}

SimLink::~SimLink() {
    UI_Socket_CloseAll();
    UI_Connect_Reset();
}

// ---- Peer -------------------------------------------------------------------------------

Peer::Peer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ADD_FAILURE() << "no loopback listener: " << std::strerror(errno);
        return;
    }
    port_ = ntohs(a.sin_port);
}

Peer::~Peer() {
    CloseConn();
    if (listen_ >= 0) ::close(listen_);
}

bool Peer::Accept(int timeoutMs) {
    if (!WaitReadable(listen_, timeoutMs)) return false;
    CloseConn();
    conn_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
}

void Peer::Send(const std::vector<uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(conn_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) {
            ADD_FAILURE() << "peer send: " << std::strerror(errno);
            return;
        }
        off += size_t(n);
    }
}

void Peer::CloseConn() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
}

std::vector<uint8_t> Packet(uint32_t source, uint32_t dest, uint32_t type, uint32_t msgType,
                            uint32_t code, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> b(24);
    Put32(b, 0, source);
    Put32(b, 4, dest);
    Put32(b, 8, type);
    Put32(b, 12, msgType);
    Put32(b, 16, code);
    Put32(b, 20, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        b.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return b;
}

std::vector<uint8_t> Head(uint32_t code, uint32_t len) {
    std::vector<uint8_t> b = Packet(4, 2, 1, 9, code);
    Put32(b, 20, len);
    return b;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left < 0) return false;
        const int rc = ::poll(&p, 1, int(left));
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

int32_t BindAnyPort(int32_t fd, const struct sockaddr* addr, socklen_t len) {
    sockaddr_in any{};
    if (addr == nullptr || len != sizeof(any)) return ::bind(fd, addr, len);
    std::memcpy(&any, addr, sizeof(any));
    any.sin_port = 0;
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
}

}  // namespace ui_test
