// The packet layer: head bytes, reply names, the reader and the synchronous exchange
// against a bare loopback peer and the simulator (split writes, closes mid-packet,
// oversized announcements, silent peers, late replies, signals), and sends to a closed
// peer.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "jqr_mem.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"
#include "uko_mempt.h"
#include "vt_test/child_process.h"

namespace {

using Bytes = std::vector<uint8_t>;

class UiPacketTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
};

// Allocations seen by the platform heap while a test watches.
std::atomic<uint32_t> g_allocs{0};
uint32_t CountAlloc(uint8_t, uint32_t, uint64_t, const char*, uint32_t) {
    ++g_allocs;
    return 0;
}
struct AllocWatch {
    AllocWatch() {
        g_allocs = 0;
        (void)UKO_MemAllocPreHookReg(CountAlloc);
    }
    ~AllocWatch() { (void)UKO_MemAllocPreHookReg(nullptr); }
};

// A front-end socket connected to a fresh peer.
struct Wire {
    ui_test::Peer peer;
    int32_t fd = -1;
    Wire() {
        EXPECT_EQ(UI_Socket_Connect(peer.Port(), &fd), 0u);
        EXPECT_TRUE(peer.Accept());
    }
    ~Wire() {
        if (fd >= 0) close(fd);
    }
};

uint32_t RecvTimeoutMs(int fd) {
    timeval tv{};
    socklen_t len = sizeof(tv);
    EXPECT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
    return uint32_t(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

TEST_F(UiPacketTest, HeadIsSixBigEndianWordsWithThePayloadLength) {
    uint8_t buf[24];
    ASSERT_EQ(UI_PacketHead_Set(reinterpret_cast<PacketHead*>(buf), 2, 4, 1, 3, 5, 2004), 0u);
    const Bytes expected = {0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3,
                            0, 0, 0, 5, 0, 0, 0x07, 0xBC};
    EXPECT_EQ(Bytes(buf, buf + 24), expected);
    EXPECT_EQ(UI_PacketHead_Set(nullptr, 2, 4, 1, 3, 5, 24), 1u);
}

// Index 0, bound - 1, bound, 0xFFFF and an empty entry of every table a request looks up
// with a bound; the module half of the code plays no part.
TEST_F(UiPacketTest, ReplyNamesFollowTheTableAndItsBound) {
    const std::string fail = "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL";
    struct Table {
        const char* const* table;
        uint32_t bound;
        const char* first;
        const char* last;  // bound - 1; "" for an empty entry
    };
    const Table tables[] = {
        {g_prefMsgCodeTable, UI_PREF_MSGCODE_BOUND,
         "/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_SUCCESS", ""},
        {g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND,
         "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_SUCCESS",
         "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_MAC_ERROR"},
        {g_authNormalMsgCodeTable, UI_AUTH_NORMAL_MSGCODE_BOUND,
         "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_SUCCESS",
         "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_ISLOW_ERROR"},
        {g_epsMsgCodeTable, UI_EPS_MSGCODE_BOUND, "/RETURN_EPS_MSGCODE/EPS_MSGCODE_HOSTCHECK_SUCCESS",
         ""},
        {g_cnemMsgCodeTable, UI_CNEM_MSGCODE_BOUND,
         "/RETURN_CNEM_MSGCODE/CNEM_INDEX_START_SUCCESS", ""},
        {g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_BOUND,
         "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP1_OK",
         "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_CONNECT_SUCCESS"},
        {g_logoutMsgCodeTable, UI_LOGOUT_MSGCODE_BOUND,
         "/RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_SUCESS", "/RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_FAIL"},
        {g_cfmMsgCodeTable, UI_CFM_MSGCODE_BOUND,
         "/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_WRITE_SUCCESS",
         "/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_OUTPUT_PATH_INVALID"},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(t.first);
        const struct {
            uint32_t code;
            std::string name;
        } cases[] = {
            {0x00000, t.first},
            {0x70000, t.first},
            {t.bound - 1, t.last},
            {t.bound, fail},
            {0x3FFFF, fail},
        };
        for (const auto& c : cases) {
            char name[UI_MSGCODE_NAME_SIZE];
            std::memset(name, 'x', sizeof(name));
            UI_MsgCodeName_Get(t.table, t.bound, c.code, name);
            EXPECT_EQ(std::string(name), c.name) << std::hex << c.code;
            if (c.name.empty()) {
                // An empty entry clears the whole buffer; it is not the fallback.
                EXPECT_EQ(std::string(name, sizeof(name)), std::string(sizeof(name), '\0'));
            }
        }
    }
    char name[UI_MSGCODE_NAME_SIZE];
    UI_MsgCodeName_Get(g_epsMsgCodeTable, UI_EPS_MSGCODE_BOUND, 0x50004, name);
    EXPECT_STREQ(name, "");
    UI_MsgCodeName_Get(g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND, 0x20000, name);
    EXPECT_STREQ(name, "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_SUCCESS");
    UI_MsgCodeName_Get(g_cfmMsgCodeTable, UI_CFM_MSGCODE_BOUND, 0x10002, name);
    EXPECT_STREQ(name, "/RETURN_CFM_MSGCODE/CFM_MSGCODE_SYSCONFIG_READ_SUCCESS");
    UI_MsgCodeName_Get(g_cfmMsgCodeTable, UI_CFM_MSGCODE_BOUND, 0x2001E, name);
    EXPECT_EQ(name, fail);
}

TEST_F(UiPacketTest, ErrorAndProxyTablesHoldTheirEntries) {
    EXPECT_STREQ(g_errorMsgCodeTable[0], "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL");
    EXPECT_STREQ(g_errorMsgCodeTable[1], "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_OVERTIME");
    EXPECT_STREQ(g_proxyMsgCodeTable[0], "/RETURN_PROXY_MSGCODE/PROXY_MSGCODE_GET_SUCCESS");
    EXPECT_STREQ(g_proxyMsgCodeTable[1], "/RETURN_PROXY_MSGCODE/PROXY_MSGCODE_NO_PROXY");
    EXPECT_STREQ(g_proxyMsgCodeTable[2], "/RETURN_PROXY_MSGCODE/PROXY_MSGCODE_GET_FAIL");
    EXPECT_EQ(g_proxyMsgCodeTable[3], nullptr);
    EXPECT_STREQ(g_prefMsgCodeTable[7], "/RETURN_PREF_MSGCODE/PREF_MSGCODE_FIRSTCONN_UI_EXIST");
    EXPECT_STREQ(g_ipsecMsgCodeTable[10],
                 "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_STEP3_IPSEC_TOUT");
}

TEST_F(UiPacketTest, HeadOnlyPacketComesWithOneZeroByte) {
    Wire w;
    w.peer.Send(ui_test::Packet(4, 2, 2, 11, 0xB0000));
    uint8_t* packet = nullptr;
    ASSERT_EQ(UI_Packet_Recv(w.fd, &packet), 0);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(Bytes(packet, packet + 24), ui_test::Packet(4, 2, 2, 11, 0xB0000));
    EXPECT_EQ(packet[24], 0);
    UKO_Free(packet);
}

// The peer writes one byte at a time, pausing between them so that every receive call
// sees only part of the packet, head included.
TEST_F(UiPacketTest, PacketWrittenByteByByteArrivesWhole) {
    Wire w;
    const Bytes payload = {'h', 'e', 'l', 'l', 'o', 0, 1, 2, 3};
    const Bytes wire = ui_test::Packet(4, 2, 2, 8, 0x8000A, payload);
    std::thread writer([&] {
        for (uint8_t b : wire) {
            w.peer.Send({b});
            usleep(2000);
        }
    });
    uint8_t* packet = nullptr;
    const int32_t len = UI_Packet_Recv(w.fd, &packet);
    writer.join();
    ASSERT_EQ(len, int32_t(payload.size()));
    EXPECT_EQ(Bytes(packet, packet + wire.size()), wire);
    EXPECT_EQ(packet[wire.size()], 0);
    UKO_Free(packet);
}

TEST_F(UiPacketTest, CloseMidPayloadFailsAndFreesTheBuffer) {
    Wire w;
    Bytes partial = ui_test::Head(0xB0000, 100);
    partial.resize(24 + 50, 'p');
    w.peer.Send(partial);
    w.peer.CloseConn();
    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    uint8_t* packet = nullptr;
    {
        AllocWatch watch;
        EXPECT_EQ(UI_Packet_Recv(w.fd, &packet), -1);
        EXPECT_EQ(g_allocs.load(), 1u);  // the packet buffer, given back below
    }
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(UKO_MemFreeSizeGet(), freeBefore);
}

// Announced lengths over the bound are refused before any allocation, in the reader and
// in the exchange.
TEST_F(UiPacketTest, OversizedAnnouncementIsRefusedWithoutAllocation) {
    for (uint32_t len : {0x80000000u, 0x200000u, UI_PACKET_PAYLOAD_MAX + 1}) {
        SCOPED_TRACE(len);
        {
            Wire w;
            w.peer.Send(ui_test::Head(0xB0000, len));
            uint8_t* packet = nullptr;
            AllocWatch watch;
            EXPECT_EQ(UI_Packet_Recv(w.fd, &packet), -1);
            EXPECT_EQ(g_allocs.load(), 0u);
        }
        {
            Wire w;
            // The reply goes out once the request is in: pending bytes before the send
            // would be discarded as a late reply.
            std::thread service([&] {
                Bytes req(24);
                if (recv(w.peer.Fd(), req.data(), req.size(), MSG_WAITALL) == 24) {
                    Bytes reply = ui_test::Head(0xD0002, len);
                    reply.resize(24 + 100, 'r');  // in the same write as the head
                    w.peer.Send(reply);
                }
            });
            const Bytes req = ui_test::Packet(2, 4, 1, 9, 2);
            uint8_t* reply = nullptr;
            uint32_t replyLen = 0;
            {
                AllocWatch watch;
                EXPECT_EQ(UI_Packet_SyncSend(w.fd, req.data(), uint32_t(req.size()), &reply,
                                             &replyLen, 30000),
                          1u);
                EXPECT_EQ(g_allocs.load(), 0u);
            }
            service.join();
            EXPECT_EQ(reply, nullptr);
            // The broken reply's bytes were discarded with it.
            uint8_t byte;
            EXPECT_EQ(recv(w.fd, &byte, 1, MSG_DONTWAIT), -1);
        }
    }
}

TEST_F(UiPacketTest, PayloadAtTheBoundIsRead) {
    Wire w;
    Bytes wire = ui_test::Head(0xD0002, UI_PACKET_PAYLOAD_MAX);
    wire.resize(24 + UI_PACKET_PAYLOAD_MAX, 0x5A);
    std::thread writer([&] { w.peer.Send(wire); });
    uint8_t* packet = nullptr;
    EXPECT_EQ(UI_Packet_Recv(w.fd, &packet), int32_t(UI_PACKET_PAYLOAD_MAX));
    writer.join();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet[24 + UI_PACKET_PAYLOAD_MAX - 1], 0x5A);
    EXPECT_EQ(packet[24 + UI_PACKET_PAYLOAD_MAX], 0);
    UKO_Free(packet);
}

TEST_F(UiPacketTest, SilentPeerTimesOutAndTheTimeOutIsClearedAgain) {
    Wire w;
    const Bytes req = ui_test::Packet(2, 4, 1, 9, 2);
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    EXPECT_EQ(UI_Packet_SyncSend(w.fd, req.data(), uint32_t(req.size()), &reply, &replyLen, 150),
              1u);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(RecvTimeoutMs(w.fd), 0u);
    // The request did reach the peer.
    Bytes got(24);
    ASSERT_EQ(recv(w.peer.Fd(), got.data(), got.size(), MSG_WAITALL), 24);
    EXPECT_EQ(got, req);
}

// A reply trickled byte by byte for longer than the time-out is cut off: the time-out
// bounds the whole reply, not each receive call.
TEST_F(UiPacketTest, TrickledReplyCannotOutlastTheTimeOut) {
    Wire w;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const Bytes wire = ui_test::Head(0xD0002, 1000);
        size_t i = 0;
        while (!stop) {
            w.peer.Send({i < wire.size() ? wire[i] : uint8_t(0)});
            ++i;
            usleep(20000);
        }
    });
    const Bytes req = ui_test::Packet(2, 4, 1, 9, 2);
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    EXPECT_EQ(UI_Packet_SyncSend(w.fd, req.data(), uint32_t(req.size()), &reply, &replyLen, 300),
              1u);
    stop = true;
    writer.join();
    EXPECT_EQ(RecvTimeoutMs(w.fd), 0u);
}

TEST_F(UiPacketTest, ExchangeAgainstTheSimulator) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":8,"code":12,"replies":[{"trickle":true,"trickleMs":2}]},
                      {"msgType":8,"code":13,"replies":[{"closeAfterHead":true,"code":"0x50002","payload":"00112233"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;

    // The whole system configuration.
    const Bytes read = ui_test::Packet(2, 4, 1, 9, 2);
    ASSERT_EQ(UI_Packet_SyncSend(link.SyncFd(), read.data(), uint32_t(read.size()), &reply,
                                 &replyLen, 40000),
              0u);
    EXPECT_EQ(replyLen, 24u + 11560u);
    PacketHead h;
    uiPacketHeadRead(reply, &h);
    EXPECT_EQ(h.uiMsgCode, 0xD0002u);
    EXPECT_EQ(h.uiMsgLen, 11560u);
    EXPECT_EQ(reply[replyLen], 0);
    UKO_Free(reply);

    // A head-only reply trickled one byte at a time.
    const Bytes check = ui_test::Packet(2, 4, 1, 8, 12);
    ASSERT_EQ(UI_Packet_SyncSend(link.SyncFd(), check.data(), uint32_t(check.size()), &reply,
                                 &replyLen, 40000),
              0u);
    EXPECT_EQ(replyLen, 24u);
    uiPacketHeadRead(reply, &h);
    EXPECT_EQ(h.uiMsgCode, 0x50001u);
    UKO_Free(reply);

    // The service closes after the head: the exchange fails, nothing is handed out.
    const Bytes clean = ui_test::Packet(2, 4, 1, 8, 13);
    reply = nullptr;
    EXPECT_EQ(UI_Packet_SyncSend(link.SyncFd(), clean.data(), uint32_t(clean.size()), &reply,
                                 &replyLen, 40000),
              1u);
    EXPECT_EQ(reply, nullptr);

    // The simulator saw each request once, as sent.
    ASSERT_TRUE(link.sim().WaitLog(6));
    const auto log = link.sim().Log();
    EXPECT_EQ(std::string(log[3]["conn"].GetString()), "sync");
    EXPECT_EQ(log[3]["head"]["code"].GetUint(), 2u);
    EXPECT_EQ(log[4]["head"]["msgType"].GetUint(), 8u);
    EXPECT_EQ(log[5]["head"]["code"].GetUint(), 13u);
}

// A reply that comes after its request gave up is discarded before the next request,
// which gets its own reply.
TEST_F(UiPacketTest, LateReplyIsNotTakenForTheNextOne) {
    ui_test::SimLink link(R"("scripts":[{"msgType":9,"code":2,"replies":[{"lateAfterMs":400}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const size_t discardsBefore = ui_test::LogCount("late bytes");
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    const Bytes read = ui_test::Packet(2, 4, 1, 9, 2);
    EXPECT_EQ(UI_Packet_SyncSend(link.SyncFd(), read.data(), uint32_t(read.size()), &reply,
                                 &replyLen, 100),
              1u);
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd())) << "the late reply never came";

    const Bytes check = ui_test::Packet(2, 4, 1, 8, 12);
    ASSERT_EQ(UI_Packet_SyncSend(link.SyncFd(), check.data(), uint32_t(check.size()), &reply,
                                 &replyLen, 40000),
              0u);
    PacketHead h;
    uiPacketHeadRead(reply, &h);
    EXPECT_EQ(h.uiMsgCode, 0x50001u);
    EXPECT_EQ(replyLen, 24u);
    UKO_Free(reply);
    EXPECT_EQ(ui_test::LogCount("late bytes"), discardsBefore + 1);
    EXPECT_EQ(ui_test::LogCount("[discard 11584 late bytes, fd is " +
                                std::to_string(link.SyncFd()) + "]"),
              1u);
}

// What follows an oversized announcement is discarded with it: the next request reads
// its own reply.
TEST_F(UiPacketTest, OversizedReplyIsDiscardedAndTheNextRequestWorks) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":9,"code":2,"replies":[{"announceLen":2097152}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    const Bytes read = ui_test::Packet(2, 4, 1, 9, 2);
    EXPECT_EQ(UI_Packet_SyncSend(link.SyncFd(), read.data(), uint32_t(read.size()), &reply,
                                 &replyLen, 40000),
              1u);
    const Bytes check = ui_test::Packet(2, 4, 1, 8, 12);
    ASSERT_EQ(UI_Packet_SyncSend(link.SyncFd(), check.data(), uint32_t(check.size()), &reply,
                                 &replyLen, 40000),
              0u);
    PacketHead h;
    uiPacketHeadRead(reply, &h);
    EXPECT_EQ(h.uiMsgCode, 0x50001u);
    UKO_Free(reply);
}

std::atomic<int> g_signalsSeen{0};
void NoteSignal(int) { ++g_signalsSeen; }

// Signals with a handler (installed without SA_RESTART, as a toolkit's SIGCHLD handler
// may be) keep arriving while the request waits for its delayed reply: the request still
// gets it.
TEST_F(UiPacketTest, SignalsWhileWaitingDoNotFailTheExchange) {
    ui_test::SimLink link(R"("scripts":[{"msgType":8,"code":12,"replies":[{"delayMs":1000}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    struct sigaction sa {}, old{};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    const pthread_t self = pthread_self();
    std::atomic<bool> done{false};
    std::thread pest([&] {
        while (!done) {
            pthread_kill(self, SIGUSR1);
            usleep(10000);
        }
    });
    // The signals are already coming when the request starts, so they land in its wait
    // however late the machine schedules the sender.
    while (g_signalsSeen.load() == 0) usleep(1000);
    const int before = g_signalsSeen.load();
    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    const Bytes check = ui_test::Packet(2, 4, 1, 8, 12);
    const uint32_t rc = UI_Packet_SyncSend(link.SyncFd(), check.data(), uint32_t(check.size()),
                                           &reply, &replyLen, 40000);
    const int during = g_signalsSeen.load() - before;
    done = true;
    pest.join();
    sigaction(SIGUSR1, &old, nullptr);
    ASSERT_EQ(rc, 0u);
    EXPECT_GT(during, 0);
    PacketHead h;
    uiPacketHeadRead(reply, &h);
    EXPECT_EQ(h.uiMsgCode, 0x50001u);
    UKO_Free(reply);
}

TEST_F(UiPacketTest, SendsToAClosedPeerFailWithoutSigpipe) {
    const auto r = vt_test::RunInChild([] {
        signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the child
        ui_test::Peer peer;
        int32_t fd = -1;
        if (UI_Socket_Connect(peer.Port(), &fd) != 0 || !peer.Accept()) return 10;
        peer.CloseConn();
        const Bytes packet = ui_test::Packet(2, 1, 2, 1, 0x1000E, Bytes(2338, 'u'));
        bool failed = false;
        for (int i = 0; i < 50 && !failed; ++i) {
            failed = UI_Packet_Send(fd, packet.data(), uint32_t(packet.size())) == -1;
        }
        if (!failed) return 11;
        uint8_t* reply = nullptr;
        uint32_t replyLen = 0;
        if (UI_Packet_SyncSend(fd, packet.data(), uint32_t(packet.size()), &reply, &replyLen,
                               1000) != 1) {
            return 12;
        }
        return 0;
    });
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(UiPacketTest, PlainSendHandsOverEveryByte) {
    Wire w;
    const Bytes packet = ui_test::Packet(2, 4, 2, 1, 0x10006, Bytes(300000, 'z'));
    std::thread sender([&] {
        EXPECT_EQ(UI_Packet_Send(w.fd, packet.data(), uint32_t(packet.size())),
                  int32_t(packet.size()));
    });
    Bytes got(packet.size());
    EXPECT_EQ(recv(w.peer.Fd(), got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));
    sender.join();
    EXPECT_EQ(got, packet);
    EXPECT_EQ(UI_Packet_Send(w.fd, nullptr, 24), -1);
}

TEST_F(UiPacketTest, ConnectReachesOnlyALoopbackListener) {
    uint16_t closedPort;
    {
        ui_test::Peer gone;
        closedPort = gone.Port();
    }
    int32_t fd = 12345;
    EXPECT_EQ(UI_Socket_Connect(closedPort, &fd), 1u);
    EXPECT_EQ(fd, 12345);
    EXPECT_EQ(UI_Socket_Connect(0, &fd), 1u);
    EXPECT_EQ(UI_Socket_Connect(65536, &fd), 1u);
    ui_test::Peer peer;
    ASSERT_EQ(UI_Socket_Connect(peer.Port(), &fd), 0u);
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    ASSERT_EQ(getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_EQ(ntohl(a.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohs(a.sin_port), peer.Port());
    close(fd);
}

TEST_F(UiPacketTest, TimeOutSettersTakeMilliseconds) {
    Wire w;
    EXPECT_EQ(UI_Socket_SetRecvTimeout(w.fd, 2500), 0);
    EXPECT_EQ(RecvTimeoutMs(w.fd), 2500u);
    EXPECT_EQ(UI_Socket_SetRecvTimeout(w.fd, 0), 0);
    EXPECT_EQ(RecvTimeoutMs(w.fd), 0u);
    EXPECT_EQ(UI_Socket_SetSendTimeout(w.fd, 1500), 0);
    timeval tv{};
    socklen_t len = sizeof(tv);
    ASSERT_EQ(getsockopt(w.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &len), 0);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);
    EXPECT_EQ(UI_Socket_SetRecvTimeout(-1, 10), -1);
}

TEST_F(UiPacketTest, BoundedWrappersPassThePlatformResults) {
    uint8_t buf[8];
    EXPECT_EQ(UI_memset_s(buf, sizeof(buf), 0x41, 4), 0);
    EXPECT_EQ(buf[3], 0x41);
    EXPECT_EQ(UI_memset_s(buf, sizeof(buf), 0, 9), 162);
    const uint8_t src[4] = {1, 2, 3, 4};
    EXPECT_EQ(UI_memcpy_s(buf, sizeof(buf), src, 4), 0);
    EXPECT_EQ(buf[3], 4);
    EXPECT_EQ(UI_memcpy_s(buf, sizeof(buf), nullptr, 4), 150);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(UI_memcpy_s(buf, 4, src, 5), 162);
}

}  // namespace
