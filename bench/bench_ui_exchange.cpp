// Times the service link's synchronous exchange against the simulator, beside a raw
// blocking loopback echo of the same sizes in the same run:
//   (a) a head-only request answered head-only (the host check);
//   (b) the largest exchange of the protocol, the certificate list: a 37,020-byte
//       request answered with a 37,020-byte reply.
// Each prints p50 and p99 of the round trip in microseconds and the ratio to the echo.
// The simulator runs under its tool name from the build's runnable tree. With
// --request-log it also keeps its request log, as it does under the tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jqr_mem.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "uko_start.h"
#include "bench_home.h"

#ifndef BENCH_SIM_BIN
#error "BENCH_SIM_BIN must name the simulator built under its tool name"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3000;
constexpr int kWarmUp = 200;
constexpr uint32_t kCertPayload = 36996;

struct Figures {
    double p50 = 0, p99 = 0;
};

Figures Percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_ui_exchange: %s\n", what);
    std::exit(1);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The simulator on free ports; its engine port comes through the front end's own port
// request.
struct Simulator {
    pid_t pid = -1;
    uint16_t promote = 0;

    Simulator(const std::string& dir, const std::string& requestLog) {
        const std::string scenario = dir + "/scenario.json";
        const std::string ports = dir + "/ports.json";
        std::ofstream(scenario) << "{\"portsFile\":\"" << ports << "\",\"state\":null,\"promote\":{\"port\":0}"
                                << (requestLog.empty() ? ""
                                                       : ",\"requestLog\":\"" + requestLog + "\"")
                                << "}";
        // The environment is made before the fork: the platform's tasks already run.
        std::string var = "VANTRELO_SIM_SCENARIO=" + scenario;
        std::string home = std::string("HOME=") + dir;
        char* envp[] = {&var[0], &home[0], nullptr};
        pid = fork();
        if (pid == 0) {
            execle(BENCH_SIM_BIN, "service-sim", static_cast<char*>(nullptr), envp);
            _exit(127);
        }
        for (int i = 0; i < 3000 && promote == 0; ++i) {
            const std::string text = ReadFile(ports);
            const size_t at = text.find("\"promote\":");
            if (text.find('}') != std::string::npos && at != std::string::npos) {
                promote = uint16_t(std::atoi(text.c_str() + at + 10));
            } else {
                usleep(5000);
            }
        }
        if (promote == 0) Fail("the simulator did not start");
    }
    ~Simulator() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

std::vector<uint8_t> Request(uint32_t msgType, uint32_t code, uint32_t payload) {
    std::vector<uint8_t> packet(24 + payload, 0);
    (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(packet.data()), MARK_UI, MARK_TULM,
                            CONNECT_TYPE_SYNC, msgType, code, uint32_t(packet.size()));
    return packet;
}

std::vector<double> TimeLink(int32_t fd, const std::vector<uint8_t>& packet, uint32_t replyLen) {
    std::vector<double> us;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        uint8_t* reply = nullptr;
        uint32_t len = 0;
        const auto t0 = Clock::now();
        if (UI_Packet_SyncSend(fd, packet.data(), uint32_t(packet.size()), &reply, &len, 40000) !=
                0 ||
            len != replyLen) {
            Fail("an exchange with the simulator failed");
        }
        const auto t1 = Clock::now();
        UKO_Free(reply);
        if (i >= kWarmUp) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    return us;
}

bool IoAll(int fd, uint8_t* buf, size_t len, bool send) {
    size_t done = 0;
    while (done < len) {
        const ssize_t n = send ? ::send(fd, buf + done, len - done, MSG_NOSIGNAL)
                               : ::recv(fd, buf + done, len - done, 0);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// A loopback server that reads requests of requestLen bytes and answers each with
// replyLen bytes (a packet head announcing the rest, when asked for one). Answers the
// port it listens on.
struct EchoServer {
    int lfd = -1;
    uint16_t port = 0;
    std::thread thread;

    EchoServer(size_t requestLen, size_t replyLen, bool packetHead) {
        lfd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t alen = sizeof(a);
        if (bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(lfd, 1) != 0 ||
            getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &alen) != 0) {
            Fail("no loopback listener");
        }
        port = ntohs(a.sin_port);
        thread = std::thread([this, requestLen, replyLen, packetHead] {
            const int c = accept(lfd, nullptr, nullptr);
            std::vector<uint8_t> in(requestLen), out(replyLen, 'r');
            if (packetHead) {
                (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(out.data()), MARK_TULM,
                                        MARK_UI, CONNECT_TYPE_SYNC, MSG_TYPE_AUTH, 0x20000,
                                        uint32_t(replyLen));
            }
            while (IoAll(c, in.data(), in.size(), false) && IoAll(c, out.data(), out.size(), true)) {
            }
            close(c);
        });
    }
    ~EchoServer() {
        thread.join();
        close(lfd);
    }
};

// The peer: a blocking loopback echo that reads a request of the same size and answers
// with a reply of the same size as the service does.
std::vector<double> TimeEcho(size_t requestLen, size_t replyLen) {
    EchoServer server(requestLen, replyLen, false);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) Fail("echo connect");
    std::vector<uint8_t> req(requestLen, 'q'), rep(replyLen);
    std::vector<double> us;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        const auto t0 = Clock::now();
        if (!IoAll(fd, req.data(), req.size(), true) || !IoAll(fd, rep.data(), rep.size(), false)) {
            Fail("echo exchange");
        }
        const auto t1 = Clock::now();
        if (i >= kWarmUp) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    close(fd);
    return us;
}

// The link's exchange against the same echo peer: the front end's own cost, without the
// simulator's.
std::vector<double> TimeLinkOnEcho(const std::vector<uint8_t>& packet, size_t replyLen) {
    EchoServer server(packet.size(), replyLen, true);
    int32_t fd = -1;
    if (UI_Socket_Connect(server.port, &fd) != 0) Fail("echo connect");
    std::vector<double> us = TimeLink(fd, packet, uint32_t(replyLen));
    close(fd);
    return us;
}

void Report(const char* name, const Figures& link, const Figures& echo) {
    std::printf("%-38s link p50 %8.1f us  p99 %8.1f us | echo p50 %8.1f us  p99 %8.1f us | "
                "ratio p50 %.2f  p99 %.2f\n",
                name, link.p50, link.p99, echo.p50, echo.p99, link.p50 / echo.p50,
                link.p99 / echo.p99);
}

}  // namespace

int main(int argc, char** argv) {
    const bool withLog = argc > 1 && std::strcmp(argv[1], "--request-log") == 0;
    const std::string homeDir = BenchHomeMake("bench-ui");
    if (homeDir.empty()) Fail("no temporary folder");
    const char* home = homeDir.c_str();
    if (UKO_Start() != 0) Fail("the platform did not start");

    // The log of a run is hundreds of megabytes of hex: it goes when the run ends.
    const std::string requestLog = withLog ? homeDir + "/requests.jsonl" : std::string();
    Simulator sim(home, requestLog);
    int32_t fd = -1;
    uint32_t port = 0, code = 0;
    if (UI_Connect_Open(sim.promote, MARK_RPC, CONNECT_TYPE_ASYNC, &fd) != 0 ||
        UI_RemotePort_Get(&port, &code) != 0 ||
        UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_SYNC, &fd) != 0) {
        Fail("no link to the simulator");
    }
    const std::vector<uint8_t> greeting = Request(MSG_TYPE_PREF, 0x10006, 0);
    (void)UI_Packet_Send(fd, greeting.data(), uint32_t(greeting.size()));

    const std::vector<uint8_t> check = Request(MSG_TYPE_EPS, 12, 0);
    const std::vector<uint8_t> certs = Request(MSG_TYPE_AUTH, 15, kCertPayload);
    const Figures headLink = Percentiles(TimeLink(fd, check, 24));
    const Figures headOnEcho = Percentiles(TimeLinkOnEcho(check, 24));
    const Figures headEcho = Percentiles(TimeEcho(24, 24));
    const Figures certLink = Percentiles(TimeLink(fd, certs, 24 + kCertPayload));
    const Figures certOnEcho = Percentiles(TimeLinkOnEcho(certs, 24 + kCertPayload));
    const Figures certEcho = Percentiles(TimeEcho(24 + kCertPayload, 24 + kCertPayload));
    std::printf("%d round trips each after %d warm-up rounds%s\n", kRounds, kWarmUp,
                withLog ? ", the simulator keeping its request log" : "");
    Report("head-only, simulator", headLink, headEcho);
    Report("head-only, echo peer", headOnEcho, headEcho);
    Report("certificate list 37,020 B, simulator", certLink, certEcho);
    Report("certificate list 37,020 B, echo peer", certOnEcho, certEcho);

    UI_Socket_CloseAll();
    if (withLog) (void)unlink(requestLog.c_str());
    return 0;
}
