// Times the road of the service's events: packets written by a peer on an asynchronous
// connection, read by the link's receive task "RECV", handed to the platform queue
// "FAST" as heap copies, and taken and freed by a reader thread, as the urgent-event
// thread takes them. Beside it, in the same run and over the same kind of loopback
// connection, the obvious peer: a std::thread that waits with select() and reads with
// the same packet reader, then hands a malloc copy through a std::deque guarded by a
// std::mutex and a std::condition_variable.
// Prints packets per second of both (best of several runs) and their ratio.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_home.h"
#include "jqr_mem.h"
#include "jqr_task.h"
#include "ui_connect.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_startup.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPackets = 200000;
constexpr uint32_t kPayload = 64;  // an event with a small record
constexpr int kRuns = 5;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_ui_recv: %s\n", what);
    std::exit(1);
}

std::vector<uint8_t> EventPacket() {
    std::vector<uint8_t> p(UI_PACKET_HEAD_LEN + kPayload, 0x5A);
    (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(p.data()), MARK_TULM, MARK_UI,
                            CONNECT_TYPE_ASYNC, MSG_TYPE_PREF, 0xB0001,
                            UI_PACKET_HEAD_LEN + kPayload);
    return p;
}

// A loopback listener on a free port.
int Listen(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        Fail("no listener");
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// Writes count packets in batches, as fast as the connection takes them.
void Blast(int fd, uint32_t count) {
    const std::vector<uint8_t> one = EventPacket();
    std::vector<uint8_t> batch;
    for (int i = 0; i < 256; ++i) batch.insert(batch.end(), one.begin(), one.end());
    uint32_t left = count;
    while (left > 0) {
        const uint32_t n = std::min<uint32_t>(left, 256);
        size_t bytes = n * one.size(), sent = 0;
        while (sent < bytes) {
            const ssize_t r = send(fd, batch.data() + sent, bytes - sent, MSG_NOSIGNAL);
            if (r <= 0) Fail("send failed");
            sent += size_t(r);
        }
        left -= n;
    }
}

// ---- The link: RECV -> "FAST" -> reader ------------------------------------------------

struct LinkRoad {
    int peer = -1;  // the service's end of the asynchronous connection

    LinkRoad() {
        uint16_t port = 0;
        const int listener = Listen(&port);
        int32_t fd = -1;
        if (UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_ASYNC, &fd) != 0) Fail("no connection");
        peer = accept(listener, nullptr, nullptr);
        close(listener);
        if (peer < 0 || UKO_Event_Write(g_recvTaskId.load(), UI_RECV_START_EVENT) != 0) {
            Fail("receive task not woken");
        }
    }

    double Run(uint32_t count) {
        const auto start = Clock::now();
        std::thread writer(Blast, peer, count);
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t* packet = nullptr;
            if (UI_Queue_Read(g_fastQueueId.load(), &packet) != 0) Fail("queue read failed");
            (void)UKO_Free(packet);
        }
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        return count / s;
    }
};

// ---- The peer: std::thread + select -> std::deque under mutex/cv -> reader -------------

struct DequeRoad {
    int fd = -1;
    int peer = -1;
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<uint8_t*, uint32_t>> q;
    std::thread receiver;
    std::atomic<bool> stop{false};

    DequeRoad() {
        uint16_t port = 0;
        const int listener = Listen(&port);
        if (UI_Socket_Connect(port, &fd) != 0) Fail("no connection");
        peer = accept(listener, nullptr, nullptr);
        close(listener);
        receiver = std::thread([this] { Receive(); });
    }
    ~DequeRoad() {
        stop = true;
        shutdown(peer, SHUT_RDWR);
        receiver.join();
        close(peer);
        close(fd);
    }

    void Receive() {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        while (!stop) {
            fd_set ready = set;
            if (select(fd + 1, &ready, nullptr, nullptr, nullptr) <= 0) continue;
            uint8_t* packet = nullptr;
            const int32_t len = UI_Packet_Recv(fd, &packet);
            if (len < 0) return;
            const uint32_t total = UI_PACKET_HEAD_LEN + uint32_t(len);
            uint8_t* copy = static_cast<uint8_t*>(std::malloc(total + 1));
            std::memcpy(copy, packet, total + 1);
            (void)UKO_Free(packet);
            {
                std::lock_guard<std::mutex> lock(m);
                q.emplace_back(copy, total);
            }
            cv.notify_one();
        }
    }

    double Run(uint32_t count) {
        const auto start = Clock::now();
        std::thread writer(Blast, peer, count);
        for (uint32_t i = 0; i < count; ++i) {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [this] { return !q.empty(); });
            uint8_t* packet = q.front().first;
            q.pop_front();
            lock.unlock();
            std::free(packet);
        }
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        return count / s;
    }
};

}  // namespace

int main() {
    // The platform's log and folders go to a private home, never the real one.
    const std::string home = BenchHomeMake("bench_ui_recv");
    if (home.empty()) Fail("no temporary folder");
    if (UI_Init("bench") != 0) Fail("the link did not start");

    LinkRoad link;
    DequeRoad peer;
    double linkBest = 0, peerBest = 0;
    (void)link.Run(kPackets / 10);  // warm-up
    (void)peer.Run(kPackets / 10);
    for (int i = 0; i < kRuns; ++i) {
        linkBest = std::max(linkBest, link.Run(kPackets));
        peerBest = std::max(peerBest, peer.Run(kPackets));
    }
    std::printf("event road, %u packets of %u bytes, best of %d runs\n", kPackets,
                UI_PACKET_HEAD_LEN + kPayload, kRuns);
    std::printf("  RECV -> FAST -> reader:                 %10.0f packets/s\n", linkBest);
    std::printf("  thread -> mutex/cv deque (malloc copy): %10.0f packets/s\n", peerBest);
    std::printf("  ratio (peer / link):                    %10.2f\n", peerBest / linkBest);
    const std::string cmd = "rm -rf '" + home + "'";
    (void)std::system(cmd.c_str());
    return 0;
}
