// Socket adaptation on loopback: an echo through the wrappers, their result styles, the
// time-out records, a closed peer without SIGPIPE, calls interrupted by signals, and the
// address and name helpers.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "uko_socket.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

const sockaddr* Sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }
sockaddr* Sa(sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); }

// A listening socket on a free loopback port.
int Listener(uint16_t* port) {
    int fd = UKO_SocketCreate(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof(a);
    if (UKO_SocketBind(fd, Sa(a), sizeof(a)) != 0 || UKO_SocketListen(fd, 4) != 0 ||
        UKO_SocketGetSockName(fd, Sa(a), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// A connected pair of loopback TCP sockets.
bool Connected(int* client, int* server) {
    uint16_t port = 0;
    int lfd = Listener(&port);
    if (lfd < 0) return false;
    *client = UKO_SocketCreate(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = Loopback(port);
    bool ok = *client >= 0 && UKO_SocketConnect(*client, Sa(to), sizeof(to)) == 0;
    *server = ok ? UKO_SocketAccept(lfd, nullptr, nullptr) : -1;
    close(lfd);
    return ok && *server >= 0;
}

TEST(UkoSocket, EchoThroughTheWrappers) {
    uint16_t port = 0;
    const int lfd = Listener(&port);
    ASSERT_GE(lfd, 0);
    const int cfd = UKO_SocketCreate(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(cfd, 0);
    const sockaddr_in to = Loopback(port);
    errno = EINVAL;
    ASSERT_EQ(UKO_SocketConnect(cfd, Sa(to), sizeof(to)), 0);
    EXPECT_EQ(UKO_SocketErrnoGet(), 0) << "connect clears errno first";

    sockaddr_in peer{};
    socklen_t peerLen = sizeof(peer);
    const int sfd = UKO_SocketAccept(lfd, Sa(peer), &peerLen);
    ASSERT_GE(sfd, 0);
    EXPECT_EQ(peerLen, sizeof(peer));
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    const char request[] = "ping through the wrappers";
    ASSERT_EQ(UKO_SocketSend(cfd, request, sizeof(request), 0), static_cast<int32_t>(sizeof(request)));
    char buf[64] = {};
    ASSERT_EQ(UKO_SocketRecv(sfd, buf, sizeof(buf), 0), static_cast<int32_t>(sizeof(request)));
    ASSERT_EQ(UKO_SocketSend(sfd, buf, sizeof(request), 0), static_cast<int32_t>(sizeof(request)));
    char echo[64] = {};
    ASSERT_EQ(UKO_SocketRecv(cfd, echo, sizeof(echo), 0), static_cast<int32_t>(sizeof(request)));
    EXPECT_STREQ(echo, request);

    sockaddr_in name{};
    socklen_t nameLen = sizeof(name);
    ASSERT_EQ(UKO_SocketGetPeerName(cfd, Sa(name), &nameLen), 0);
    EXPECT_EQ(ntohs(name.sin_port), port);

    int one = 1;
    EXPECT_EQ(UKO_SocketSetOpt(cfd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one)), 0);
    int value = 0;
    socklen_t valueLen = sizeof(value);
    EXPECT_EQ(UKO_SocketGetOpt(cfd, SOL_SOCKET, SO_KEEPALIVE, &value, &valueLen), 0);
    EXPECT_EQ(value, 1);

    // select sees the reply to come; an orderly close reads as 0.
    ASSERT_EQ(UKO_SocketShutdown(sfd, SHUT_WR), 0);
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(cfd, &rd);
    timeval tv{5, 0};
    EXPECT_EQ(UKO_SocketSelect(cfd + 1, &rd, nullptr, nullptr, &tv), 1);
    EXPECT_EQ(UKO_SocketRecv(cfd, echo, sizeof(echo), 0), 0);

    EXPECT_EQ(UKO_SocketClose(sfd), 0);
    EXPECT_EQ(UKO_SocketClose(cfd), 0);
    EXPECT_EQ(UKO_SocketClose(lfd), 0);
    EXPECT_EQ(UKO_SocketClose(cfd), -1);
    EXPECT_EQ(UKO_SocketErrnoGet(), EBADF);
}

TEST(UkoSocket, StatusCallsGiveMinusOneAndErrnoTellsWhy) {
    uint16_t port = 0;
    const int lfd = Listener(&port);
    ASSERT_GE(lfd, 0);
    const int other = UKO_SocketCreate(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(other, 0);
    const sockaddr_in taken = Loopback(port);
    EXPECT_EQ(UKO_SocketBind(other, Sa(taken), sizeof(taken)), -1);
    EXPECT_EQ(UKO_SocketErrnoGet(), EADDRINUSE);
    EXPECT_EQ(UKO_SocketListen(-1, 1), -1);
    EXPECT_EQ(UKO_SocketErrnoGet(), EBADF);
    int on = 1;
    EXPECT_EQ(UKO_SocketIoctl(other, FIONBIO, &on), 0);
    EXPECT_NE(fcntl(other, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(UKO_SocketIoctl(-1, FIONBIO, &on), -1);
    EXPECT_EQ(UKO_SocketErrnoGet(), EBADF);
    close(other);
    close(lfd);
}

TEST(UkoSocket, TimeOutsInMilliseconds) {
    const int fd = UKO_SocketCreate(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    struct Case {
        uint32_t ms;
        long sec, usec;
    };
    // The system keeps socket time-outs in clock ticks: values in whole ticks at 100,
    // 250 and 1000 Hz read back exactly.
    const Case cases[] = {{2500, 2, 500000}, {0, 0, 0}, {1520, 1, 520000}, {61000, 61, 0}};
    for (const Case& c : cases) {
        for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
            const int32_t rc = option == SO_RCVTIMEO ? UKO_SocketRecvTimeoutSet(fd, c.ms)
                                                     : UKO_SocketSendTimeoutSet(fd, c.ms);
            ASSERT_EQ(rc, 0);
            timeval tv{};
            socklen_t len = sizeof(tv);
            ASSERT_EQ(getsockopt(fd, SOL_SOCKET, option, &tv, &len), 0);
            EXPECT_EQ(tv.tv_sec, c.sec) << c.ms;
            EXPECT_EQ(tv.tv_usec, c.usec) << c.ms;
        }
    }
    close(fd);
    EXPECT_EQ(UKO_SocketRecvTimeoutSet(fd, 10), -1);
}

TEST(UkoSocket, BlockingFlagKeepsTheOtherFlags) {
    vt_test::TempEnv env;
    const int fd = open((env.Tmp() + "/flags").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(UKO_SocketNonBlockSet(fd), 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_NONBLOCK | O_APPEND), O_NONBLOCK | O_APPEND);
    ASSERT_EQ(UKO_SocketBlockSet(fd), 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & (O_NONBLOCK | O_APPEND), O_APPEND);
    close(fd);
    EXPECT_EQ(UKO_SocketBlockSet(fd), -1);
    EXPECT_EQ(UKO_SocketNonBlockSet(fd), -1);
}

TEST(UkoSocket, ClosedPeerGivesAnErrorNotSigpipe) {
    auto r = vt_test::RunInChild([] {
        signal(SIGPIPE, SIG_DFL);  // what a program gets unless it ignores the signal
        int client = -1, server = -1;
        ASSERT_TRUE(Connected(&client, &server));
        close(server);
        char block[4096] = {};
        for (int i = 0; i < 10000; ++i) {
            if (UKO_SocketSend(client, block, sizeof(block), 0) < 0) {
                const int e = UKO_SocketErrnoGet();
                EXPECT_TRUE(e == EPIPE || e == ECONNRESET) << "errno " << e;
                return;
            }
        }
        ADD_FAILURE() << "sending to a closed peer never failed";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << "SIGPIPE must not end the program";
}

TEST(UkoSocket, SendToAClosedPeerGivesAnErrorNotSigpipe) {
    auto r = vt_test::RunInChild([] {
        signal(SIGPIPE, SIG_DFL);
        int client = -1, server = -1;
        ASSERT_TRUE(Connected(&client, &server));
        close(server);
        char block[4096] = {};
        for (int i = 0; i < 10000; ++i) {
            if (UKO_SocketSendTo(client, block, sizeof(block), 0, nullptr, 0) < 0) {
                const int e = UKO_SocketErrnoGet();
                EXPECT_TRUE(e == EPIPE || e == ECONNRESET) << "errno " << e;
                return;
            }
        }
        ADD_FAILURE() << "sending to a closed peer never failed";
    });
    EXPECT_TRUE(vt_test::ExitedWith(r)) << "SIGPIPE must not end the program";
}

TEST(UkoSocket, SelectRefusesMoreDescriptorsThanASetHolds) {
    fd_set sets[2];
    FD_ZERO(&sets[0]);
    FD_ZERO(&sets[1]);
    std::memset(&sets[1], 0xA5, sizeof(sets[1]));
    timeval tv{0, 0};
    EXPECT_EQ(UKO_SocketSelect(FD_SETSIZE + 64, &sets[0], nullptr, nullptr, &tv), -1);
    EXPECT_EQ(UKO_SocketErrnoGet(), EINVAL);
    const unsigned char* guard = reinterpret_cast<const unsigned char*>(&sets[1]);
    for (size_t i = 0; i < sizeof(sets[1]); ++i) ASSERT_EQ(guard[i], 0xA5) << i;
}

// ---- Interrupted calls ----------------------------------------------------------------------

std::atomic<int> g_signals{0};
void CountSignal(int) { ++g_signals; }

// Signals delivered to one thread, every 2 ms, until it says it is done.
void InterruptUntil(pthread_t target, const std::atomic<bool>& done) {
    while (!done.load()) {
        pthread_kill(target, SIGUSR1);
        struct timespec ts = {0, 2 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

void InstallInterrupter() {
    struct sigaction sa {};
    sa.sa_handler = CountSignal;
    sa.sa_flags = 0;  // no SA_RESTART: the calls come back with EINTR
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
}

TEST(UkoSocketSignals, BlockingCallsGoOnAfterASignal) {
    auto r = vt_test::RunInChild(
        [] {
            InstallInterrupter();
            int client = -1, server = -1;
            ASSERT_TRUE(Connected(&client, &server));
            std::atomic<bool> done{false};
            std::atomic<int32_t> got{-2};
            std::atomic<int> err{0};
            std::thread reader([&] {
                char buf[16] = {};
                got.store(UKO_SocketRecv(server, buf, sizeof(buf), 0));
                err.store(errno);
                done.store(true);
            });
            // Interrupt the waiting reader a number of times, then give it its data.
            for (int i = 0; i < 25 && !done.load(); ++i) {
                pthread_kill(reader.native_handle(), SIGUSR1);
                struct timespec ts = {0, 2 * 1000 * 1000};
                nanosleep(&ts, nullptr);
            }
            EXPECT_FALSE(done.load()) << "the reader gave up on a signal, with errno "
                                      << err.load();
            EXPECT_EQ(UKO_SocketSend(client, "hello", 5, 0), 5);
            reader.join();
            EXPECT_EQ(got.load(), 5);
            EXPECT_GT(g_signals.load(), 0) << "no signal reached the reader";
        },
        20000);
    EXPECT_TRUE(vt_test::ExitedWith(r));
}

// A socket time-out or a select time-out still ends the wait when signals keep coming
// faster than the time-out: the wait after a signal is only what is left.
TEST(UkoSocketSignals, TimeOutsHoldUnderASteadyStreamOfSignals) {
    enum Which { Recv, Select };
    for (Which which : {Recv, Select}) {
        auto r = vt_test::RunInChild(
            [which] {
                SCOPED_TRACE(which == Recv ? "recv" : "select");
                InstallInterrupter();
                int client = -1, server = -1;
                ASSERT_TRUE(Connected(&client, &server));
                ASSERT_EQ(UKO_SocketRecvTimeoutSet(server, 300), 0);
                std::atomic<bool> done{false};
                std::atomic<int32_t> got{-2};
                std::atomic<int> err{0};
                std::thread waiter([&] {
                    if (which == Recv) {
                        char buf[16];
                        got.store(UKO_SocketRecv(server, buf, sizeof(buf), 0));
                    } else {
                        fd_set rd;
                        FD_ZERO(&rd);
                        FD_SET(server, &rd);
                        timeval tv{0, 300000};
                        got.store(UKO_SocketSelect(server + 1, &rd, nullptr, nullptr, &tv));
                    }
                    err.store(errno);
                    done.store(true);
                });
                InterruptUntil(waiter.native_handle(), done);
                waiter.join();
                EXPECT_GT(g_signals.load(), 0) << "no signal reached the waiter";
                if (which == Recv) {
                    EXPECT_EQ(got.load(), -1);
                    EXPECT_TRUE(err.load() == EAGAIN || err.load() == EWOULDBLOCK)
                        << "errno " << err.load();
                } else {
                    EXPECT_EQ(got.load(), 0);
                }
            },
            20000);
        EXPECT_TRUE(vt_test::ExitedWith(r)) << (which == Recv ? "recv" : "select") << " never ended";
    }
}

// ---- Addresses and names ---------------------------------------------------------------------

TEST(UkoSocketNames, AddressTexts) {
    struct Case {
        const char* text;
        uint32_t hostOrder;
    } cases[] = {{"1.2.3.4", 0x01020304}, {"192.168.1.1", 0xC0A80101}, {"255.255.255.255", 0xFFFFFFFF},
                 {"0.0.0.0", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(UKO_InetAddr(c.text), htonl(c.hostOrder)) << c.text;
        char buf[UKO_INET_ADDR_TEXT_SIZE + 4];
        std::memset(buf, 'x', sizeof(buf));
        UKO_InetNtoa(htonl(c.hostOrder), buf);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(std::string(buf + UKO_INET_ADDR_TEXT_SIZE, 4), "xxxx") << "written past 16 bytes";
    }
    EXPECT_EQ(UKO_InetAddr(nullptr), 0u);
    EXPECT_EQ(UKO_InetAddr("not an address"), INADDR_NONE);
    UKO_InetNtoa(0x01020304, nullptr);  // nothing to write into
}

TEST(UkoSocketNames, HostEntriesBelongToTheirThread) {
    EXPECT_EQ(UKO_GetHostByName(nullptr), nullptr);
    // Two threads resolving different literal addresses at once: each must keep seeing
    // its own entry.
    std::atomic<int> mismatches{0};
    std::atomic<int> missing{0};
    auto resolve = [&](const char* name, uint32_t expected) {
        for (int i = 0; i < 2000; ++i) {
            hostent* h = UKO_GetHostByName(name);
            if (h == nullptr || h->h_addr_list[0] == nullptr) {
                ++missing;
                continue;
            }
            uint32_t addr = 0;
            std::memcpy(&addr, h->h_addr_list[0], sizeof(addr));
            if (h->h_addrtype != AF_INET || addr != htonl(expected) || std::strcmp(h->h_name, name) != 0) {
                ++mismatches;
            }
        }
    };
    std::thread a(resolve, "127.0.0.2", 0x7F000002u);
    std::thread b(resolve, "10.1.2.3", 0x0A010203u);
    a.join();
    b.join();
    EXPECT_EQ(missing.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(UkoSocketNames, PlatformNameAndHostName) {
    char buf[8] = {};
    EXPECT_EQ(UKO_PlatformNameGet(buf, sizeof(buf)), 0u);
    EXPECT_STREQ(buf, "Mac64");

    char five[5];
    EXPECT_EQ(UKO_PlatformNameGet(five, sizeof(five)), 0u);
    EXPECT_EQ(std::string(five, 5), "Mac64") << "exactly the five characters, no NUL";

    char small[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(UKO_PlatformNameGet(small, 3), 0u);
    EXPECT_EQ(std::string(small, 4), std::string("\0\0\0d", 4)) << "refused copy clears, stays within 3";
    EXPECT_EQ(UKO_PlatformNameGet(nullptr, 8), 1u);
    EXPECT_EQ(UKO_PlatformNameGet(buf, 0), 1u);

    char host[256] = {};
    EXPECT_EQ(UKO_GetHostName(host, sizeof(host)), 0);
    EXPECT_GT(std::strlen(host), 0u);
}

}  // namespace
