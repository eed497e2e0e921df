// The service connection table: adding, the look-ups, the close with its holds,
// descriptors 0 and above the select() limit, the engine-port request against the
// simulator, and the clearing of a socket.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ui_connect.h"
#include "ui_connect_inner.h"
#include "ui_env.h"
#include "ui_env_inner.h"
#include "ui_packet_inner.h"
#include "ui_request.h"
#include "ui_test/ui_sim.h"
#include "vt_test/child_process.h"

namespace {

class UiConnectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UI_Connect_Reset();
    }
    void TearDown() override {
        UI_Socket_CloseAll();
        UI_Connect_Reset();
        uiInstallPathSet(nullptr);
    }
};

// True when the peer end sees the connection closed (after what was sent on it).
bool PeerSeesClose(int peerFd) {
    char buf[4096];
    while (ui_test::WaitReadable(peerFd, 5000)) {
        const ssize_t n = recv(peerFd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) return false;
    }
    return false;
}

uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

std::vector<uint8_t> HeadBytes(uint32_t source, uint32_t dest, uint32_t type) {
    return ui_test::Packet(source, dest, type, 1, 0);
}

TEST_F(UiConnectTest, LookupsFindTheFirstMatchingSlot) {
    ui_test::Peer peer;
    int32_t promote = -1, sync = -1, async = -1;
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_RPC, CONNECT_TYPE_ASYNC, &promote), 0u);
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_SYNC, &sync), 0u);
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_ASYNC, &async), 0u);

    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_ASYNC), promote);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_SYNC), sync);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_ASYNC), async);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_SYNC), -1);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_PLUGIN, CONNECT_TYPE_ASYNC), -1);

    const struct {
        uint32_t source, dest, type;
        int32_t fd;
    } heads[] = {
        {MARK_UI, MARK_TULM, CONNECT_TYPE_SYNC, sync},   {MARK_TULM, MARK_UI, CONNECT_TYPE_SYNC, sync},
        {MARK_TULM, MARK_UI, CONNECT_TYPE_ASYNC, async}, {MARK_RPC, MARK_UI, CONNECT_TYPE_ASYNC, promote},
        {MARK_RPC, MARK_UI, CONNECT_TYPE_SYNC, -1},      {MARK_TULM, MARK_RPC, CONNECT_TYPE_ASYNC, -1},
    };
    for (const auto& h : heads) {
        const auto bytes = HeadBytes(h.source, h.dest, h.type);
        EXPECT_EQ(UI_ConnectFd_GetByHead(reinterpret_cast<const PacketHead*>(bytes.data())), h.fd)
            << h.source << "->" << h.dest << " type " << h.type;
    }
    EXPECT_EQ(UI_ConnectFd_GetByHead(nullptr), -1);

    // A slot written from the other side's point of view is found by its mark too.
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    uiServiceTableCopy(slots, &count);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(slots[0].uiSourceMark, uint32_t(MARK_UI));
    EXPECT_EQ(slots[1].uiDestMark, uint32_t(MARK_TULM));
    EXPECT_EQ(slots[2].uiConnetType, uint32_t(CONNECT_TYPE_ASYNC));
    EXPECT_EQ(slots[3].iSocket, UI_SOCKET_NONE);
}

TEST_F(UiConnectTest, ReversedSlotAndPluginTableLookups) {
    {
        ConnectTable* t = &g_serviceConnectTable;
        pthread_mutex_lock(&t->stLock);
        t->astConnect[0] = {MARK_TULM, MARK_UI, CONNECT_TYPE_SYNC, 41};
        t->uiConnectCount = 1;
        pthread_mutex_unlock(&t->stLock);
    }
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_SYNC), 41);
    UI_Connect_Reset();  // 41 is no socket of ours: nothing to close

    ConnectTable* p = &g_pluginConnectTable;
    pthread_mutex_lock(&p->stLock);
    p->astConnect[0] = {MARK_RPC, MARK_UI, CONNECT_TYPE_ASYNC, 42};
    p->astConnect[1] = {MARK_PLUGIN, MARK_RPC, CONNECT_TYPE_ASYNC, 43};
    pthread_mutex_unlock(&p->stLock);
    EXPECT_EQ(UI_ConnectFd_GetBySource(MARK_PLUGIN, CONNECT_TYPE_ASYNC), 43);
    EXPECT_EQ(UI_ConnectFd_GetBySource(MARK_PLUGIN, CONNECT_TYPE_SYNC), -1);
    EXPECT_EQ(UI_ConnectFd_GetBySource(MARK_RPC, CONNECT_TYPE_ASYNC), -1);
    pthread_mutex_lock(&p->stLock);
    p->astConnect[0] = ConnectInfo{0, 0, 0, UI_SOCKET_NONE};
    p->astConnect[1] = ConnectInfo{0, 0, 0, UI_SOCKET_NONE};
    pthread_mutex_unlock(&p->stLock);
}

TEST_F(UiConnectTest, TheEleventhConnectionIsRefusedAndClosed) {
    ui_test::Peer peer;
    std::vector<int32_t> fds;
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        int32_t fd = -1;
        ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_ASYNC, &fd), 0u) << i;
        ASSERT_TRUE(peer.Accept());
        fds.push_back(fd);
    }
    int32_t extra = -1;
    EXPECT_EQ(UI_Connect_Open(peer.Port(), MARK_RPC, CONNECT_TYPE_ASYNC, &extra), 1u);
    EXPECT_EQ(extra, -1);
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(PeerSeesClose(peer.Fd()));
    EXPECT_EQ(UI_Connect_Add(0, MARK_RPC, CONNECT_TYPE_ASYNC), 1u);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_ASYNC), -1);
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    uiServiceTableCopy(slots, &count);
    EXPECT_EQ(count, UI_CONNECT_TABLE_SIZE);
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) EXPECT_EQ(slots[i].iSocket, fds[i]);
}

// Closing shuts down, empties the table and closes each socket once; a second close
// finds nothing. Reset empties without closing.
TEST_F(UiConnectTest, CloseAllClosesEverySocketOnce) {
    ui_test::Peer peer;
    std::vector<int> peerEnds;
    for (uint32_t type : {CONNECT_TYPE_ASYNC, CONNECT_TYPE_SYNC}) {
        int32_t fd = -1;
        ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, type, &fd), 0u);
        ASSERT_TRUE(peer.Accept());
        peerEnds.push_back(dup(peer.Fd()));
    }
    g_enginePort = 4321;
    const size_t closeFailures = ui_test::LogCount("close socket failed");
    UI_Socket_CloseAll();
    for (int end : peerEnds) {
        EXPECT_TRUE(PeerSeesClose(end));
        close(end);
    }
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_SYNC), -1);
    uint32_t count = 99;
    uiServiceTableCopy(nullptr, &count);
    EXPECT_EQ(count, 0u);
    UI_Socket_CloseAll();
    EXPECT_EQ(ui_test::LogCount("close socket failed"), closeFailures);

    int32_t fd = -1;
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_RPC, CONNECT_TYPE_ASYNC, &fd), 0u);
    UI_Connect_Reset();
    EXPECT_EQ(g_enginePort.load(), 0u);
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_ASYNC), -1);
    EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC) << "reset closes nothing";
    close(fd);
}

// A request blocked on a held socket wakes when the link is closed, and the descriptor
// stays its own until the request lets it go: a number the kernel hands out again can
// never receive the request's bytes.
TEST_F(UiConnectTest, CloseWaitsForHeldSockets) {
    ui_test::Peer peer;
    int32_t fd = -1;
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_SYNC, &fd), 0u);
    ASSERT_TRUE(peer.Accept());
    const uint16_t local = LocalPort(fd);

    UiRequest req;
    ASSERT_EQ(UI_Request_Begin(&req, MARK_TULM, CONNECT_TYPE_SYNC), 0u);
    ASSERT_EQ(UI_Request_Build(&req, MSG_TYPE_EPS, 12, 0), 0u);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        UI_Socket_CloseAll();
        closed = true;
    });
    // The peer never answers: only the close can end this exchange before its time-out.
    EXPECT_EQ(UI_Request_Exchange(&req, 60000), 1u);
    EXPECT_FALSE(closed.load());
    EXPECT_EQ(LocalPort(fd), local) << "the held descriptor was closed under the request";
    EXPECT_EQ(UI_ConnectFd_GetByDest(MARK_TULM, CONNECT_TYPE_SYNC), -1);
    UI_Request_End(&req);
    closer.join();
    EXPECT_TRUE(closed.load());
    EXPECT_TRUE(PeerSeesClose(peer.Fd()));
}

TEST_F(UiConnectTest, AThreadClosingWhileItHoldsDoesNotWaitForItself) {
    ui_test::Peer peer;
    int32_t fd = -1;
    ASSERT_EQ(UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_SYNC, &fd), 0u);
    ASSERT_EQ(UI_ConnectFd_Hold(MARK_TULM, CONNECT_TYPE_SYNC), fd);
    UI_Socket_CloseAll();  // would never return if it waited for this thread's hold
    UI_ConnectFd_Release();
    EXPECT_EQ(UI_ConnectFd_Hold(MARK_TULM, CONNECT_TYPE_SYNC), -1);
    UI_ConnectFd_Release();  // without a hold: changes nothing
    EXPECT_EQ(g_serviceConnectTable.uiHolds, 0u);
}

// Started with standard input closed, the first socket is descriptor 0; it is a
// connection like any other.
TEST_F(UiConnectTest, DescriptorZeroIsAConnection) {
    const auto r = vt_test::RunInChild([] {
        ui_test::Peer peer;
        close(0);
        int32_t fd = -1;
        if (UI_Connect_Open(peer.Port(), MARK_RPC, CONNECT_TYPE_ASYNC, &fd) != 0) return 10;
        if (fd != 0) return 11;
        if (UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_ASYNC) != 0) return 12;
        if (!peer.Accept()) return 13;
        UI_Socket_CloseAll();
        if (!PeerSeesClose(peer.Fd())) return 14;
        return UI_ConnectFd_GetByDest(MARK_RPC, CONNECT_TYPE_ASYNC) == -1 ? 0 : 15;
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
}

// A socket at or above the select() limit could not be watched without writing past
// the descriptor set: it is refused and closed.
TEST_F(UiConnectTest, DescriptorAboveTheSelectLimitIsRefused) {
    const auto r = vt_test::RunInChild([] {
        rlimit lim{};
        getrlimit(RLIMIT_NOFILE, &lim);
        if (lim.rlim_max < 1600) return 77;  // cannot reach such descriptors here
        lim.rlim_cur = 1600;
        if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return 78;
        ui_test::Peer peer;
        // Fill every descriptor below 1024 so that the next socket gets 1024.
        for (;;) {
            const int fd = open("/dev/null", O_RDONLY);
            if (fd < 0) return 20;
            if (fd >= 1023) break;
        }
        int32_t fd = -1;
        if (UI_Connect_Open(peer.Port(), MARK_TULM, CONNECT_TYPE_ASYNC, &fd) != 1) return 21;
        if (!peer.Accept() || !PeerSeesClose(peer.Fd())) return 22;
        uint32_t count = 99;
        uiServiceTableCopy(nullptr, &count);
        if (count != 0) return 23;
        const int high = dup2(peer.Fd(), 1500);
        if (high != 1500) return 24;
        if (UI_Connect_Add(high, MARK_TULM, CONNECT_TYPE_ASYNC) != 1) return 25;
        if (UI_Connect_Add(-1, MARK_TULM, CONNECT_TYPE_ASYNC) != 1) return 26;
        return 0;
    });
    ASSERT_TRUE(r.exited);
    if (r.exitCode == 77) GTEST_SKIP() << "the descriptor limit is below 1600";
    EXPECT_EQ(r.exitCode, 0);
}

// ---- The engine-port request -------------------------------------------------------------

struct PortRun {
    uint32_t rc = 99;
    uint32_t port = 7;  // untouched unless the request succeeds with a port
    uint32_t code = 7;
};

PortRun AskPort(ui_test::Sim& sim) {
    PortRun run;
    int32_t fd = -1;
    EXPECT_EQ(UI_Connect_Open(sim.Port("promote"), MARK_RPC, CONNECT_TYPE_ASYNC, &fd), 0u);
    run.rc = UI_RemotePort_Get(&run.port, &run.code);
    UI_Socket_CloseAll();
    return run;
}

TEST_F(UiConnectTest, PortRequestCarriesUserAndInstallFolder) {
    ui_test::Sim sim;
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const std::string install = "/opt/vt test/bin";
    uiInstallPathSet(install.c_str());
    const PortRun run = AskPort(sim);
    ASSERT_EQ(run.rc, 0u);
    EXPECT_EQ(run.code, PREF_MSGCODE_FIRSTCONN_TULM_LISTENPORT);
    EXPECT_EQ(run.port, sim.Port("engine"));

    ASSERT_TRUE(sim.WaitLog(1));
    const auto log = sim.Log();
    const auto& head = log[0]["head"];
    EXPECT_EQ(std::string(log[0]["conn"].GetString()), "promote");
    EXPECT_EQ(head["source"].GetUint(), 2u);
    EXPECT_EQ(head["dest"].GetUint(), 1u);
    EXPECT_EQ(head["type"].GetUint(), 2u);
    EXPECT_EQ(head["msgType"].GetUint(), 1u);
    EXPECT_EQ(head["code"].GetUint(), 0x10006u);
    EXPECT_EQ(head["len"].GetUint(), 1056u);
    const std::vector<uint8_t> packet = ui_test::Hex(log[0]["hex"].GetString());
    ASSERT_EQ(packet.size(), 1080u);
    char user[UI_LOGIN_USER_SIZE];
    ASSERT_EQ(UI_LoginUser_Get(user), 0u);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 24, packet.begin() + 56),
              std::vector<uint8_t>(user, user + UI_LOGIN_USER_SIZE));
    std::vector<uint8_t> folder(1024, 0);
    std::copy(install.begin(), install.end(), folder.begin());
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 56, packet.end()), folder);
}

TEST_F(UiConnectTest, PortRepliesAreCheckedBeforeUse) {
    const struct {
        const char* name;
        const char* portReply;
        uint32_t rc;
        uint32_t code;  // with rc 0
        const char* logged;
    } cases[] = {
        {"already running", R"({"code":"0x10007"})", 0, 0x10007, nullptr},
        {"another pref index", R"({"code":"0x10001","payload":"0000ffff"})", 0, 0x10001, nullptr},
        {"another module", R"({"code":"0x20000"})", 1, 0, "[message code is not pref!]"},
        {"no port at all", R"({"code":"0x10008"})", 1, 0, "[reply too short"},
        {"half a port", R"({"code":"0x10008","payload":"0000"})", 1, 0, "[reply too short"},
        {"port 0", R"({"code":"0x10008","payload":{"record":"EnginePort","fields":{"uiPort":0}}})",
         1, 0, "[engine port 0 is invalid]"},
        {"port above 65535", R"({"code":"0x10008","payload":"00011170"})", 1, 0,
         "[engine port 70000 is invalid]"},
        {"no reply", R"("none")", 1, 0, "[vanTrelo ui get remote port packet send failed!]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Only the reply that never comes is waited out, in 100 ms instead of 40 s; an
        // answered request keeps its whole time-out, however slow a loaded machine is.
        uiSyncTimeoutDivisorSet(std::strcmp(c.portReply, R"("none")") == 0 ? 400 : 1);
        ui_test::Sim sim("", std::string("\"portReply\":") + c.portReply);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        const size_t before = c.logged ? ui_test::LogCount(c.logged) : 0;
        const PortRun run = AskPort(sim);
        EXPECT_EQ(run.rc, c.rc);
        EXPECT_EQ(run.port, 7u) << "no port is given out";
        EXPECT_EQ(run.code, c.rc == 0 ? c.code : 7u);
        if (c.logged) {
            EXPECT_EQ(ui_test::LogCount(c.logged), before + 1);
        }
    }
}

TEST_F(UiConnectTest, PortRequestNeedsThePromoteConnection) {
    uint32_t port = 7, code = 7;
    EXPECT_EQ(UI_RemotePort_Get(&port, &code), 1u);
    EXPECT_EQ(UI_RemotePort_Get(nullptr, &code), 1u);
    EXPECT_EQ(port, 7u);
    EXPECT_EQ(code, 7u);
}

TEST_F(UiConnectTest, SocketClearDiscardsWhatIsPending) {
    ui_test::Peer peer;
    int32_t fd = -1;
    ASSERT_EQ(UI_Socket_Connect(peer.Port(), &fd), 0u);
    ASSERT_TRUE(peer.Accept());
    peer.Send(std::vector<uint8_t>(5000, 'x'));
    int avail = 0;
    for (int i = 0; i < 5000 && avail < 5000; ++i) {
        ASSERT_EQ(ioctl(fd, FIONREAD, &avail), 0);
        if (avail < 5000) usleep(1000);
    }
    ASSERT_EQ(avail, 5000);
    UI_SocketClear(fd);
    EXPECT_EQ(ui_test::LogCount("[discard 5000 pending bytes, fd is " + std::to_string(fd) + "]"),
              1u);
    char c;
    EXPECT_EQ(recv(fd, &c, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(errno, EAGAIN);
    const size_t failures = ui_test::LogCount("[UI_SocketClear Fail!]");
    UI_SocketClear(-1);
    EXPECT_EQ(ui_test::LogCount("[UI_SocketClear Fail!]"), failures + 1);
    close(fd);
}

}  // namespace
