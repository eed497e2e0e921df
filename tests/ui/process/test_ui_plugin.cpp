// The plugin side without its tasks: the four packets to a plugin byte for byte and
// their in-place byte order, the plugin table (first empty slot, the two counts,
// registration on the first packet, what a close takes with it, the close of a socket
// a sender is blocked on), the decoding of a queued request, and the user behind a
// connection.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "jqr_mem.h"
#include "ui_plugin.h"
#include "ui_plugin_inner.h"
#include "ui_test/plugin_peer.h"
#include "ui_test/ui_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

class UiPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        uiPluginConnect_CloseAll();
    }
    void TearDown() override {
        uiPluginConnect_CloseAll();
        for (int fd : peers_) close(fd);
    }

    // A connection in the plugin table, registered by a first packet of the given
    // source and type unless type is 0 (no packet yet). The test's end of it.
    int Connect(uint32_t source = MARK_PLUGIN, uint32_t type = CONNECT_TYPE_ASYNC,
                uint32_t* slot = nullptr) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
        uint32_t s = 99;
        if (uiPluginConnect_Add(sv[0], &s) != 0) {
            close(sv[0]);
            close(sv[1]);
            return -1;
        }
        if (type != 0) {
            PacketHead head{source, MARK_UI, type, MSG_TYPE_PREF, 0, 0};
            UI_PluginConnect_Save(s, &head);
        }
        if (slot != nullptr) *slot = s;
        peers_.push_back(sv[1]);
        return sv[1];
    }

    std::vector<int> peers_;
};

void Put32(Bytes& b, size_t off, uint32_t v) {
    b[off] = uint8_t(v >> 24);
    b[off + 1] = uint8_t(v >> 16);
    b[off + 2] = uint8_t(v >> 8);
    b[off + 3] = uint8_t(v);
}

void PutText(Bytes& b, size_t off, const std::string& s) {
    std::memcpy(b.data() + off, s.data(), s.size());
}

// The head of a packet to the plugin, written out field by field.
Bytes HeadToPlugin(uint32_t code, uint32_t payloadLen) {
    Bytes b(24, 0);
    Put32(b, 0, 2);   // MARK_UI
    Put32(b, 4, 3);   // MARK_PLUGIN
    Put32(b, 8, 2);   // asynchronous
    Put32(b, 12, 1);  // PREF
    Put32(b, 16, code);
    Put32(b, 20, payloadLen);
    return b;
}

// The next want bytes on fd, and a check that nothing follows them.
Bytes ReadSome(int fd, size_t want) {
    Bytes out;
    uint8_t buf[4096];
    while (out.size() < want && ui_test::WaitReadable(fd, 5000)) {
        const ssize_t n = recv(fd, buf, std::min(sizeof(buf), want - out.size()), MSG_DONTWAIT);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    if (ui_test::WaitReadable(fd, 20)) out.push_back(0xEE);  // more than one packet came
    return out;
}

bool SeesClose(int fd) {
    char buf[256];
    while (ui_test::WaitReadable(fd, 5000)) {
        const ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) return false;
    }
    return false;
}

// ---- The four packets ----------------------------------------------------------------------

TEST_F(UiPluginTest, TipTravelsInNetworkOrderAndLeavesTheRecordConverted) {
    const int peer = Connect();
    ASSERT_GE(peer, 0);
    PluginTip tip{};
    tip.cFlag = 1;
    std::strcpy(tip.cTip, "Login ok");
    ASSERT_EQ(UI_PluginTip_Send(5, &tip), 0u);

    Bytes want = HeadToPlugin(5, 1028);
    want.resize(24 + 1028, 0);
    Put32(want, 24, 1);
    PutText(want, 28, "Login ok");
    EXPECT_EQ(ReadSome(peer, want.size()), want);
    // The record holds network order afterwards: 00 00 00 01 read by this host.
    EXPECT_EQ(tip.cFlag, htonl(1));
    EXPECT_EQ(ui_test::LogCount("[Process send tip to plugin][ui send tip success!]"), 1u);

    // An ordinary text's flag of all ones reads the same either way.
    PluginTip plain{};
    plain.cFlag = 0xFFFFFFFFu;
    ASSERT_EQ(UI_PluginTip_Send(9, &plain), 0u);
    Bytes want2 = HeadToPlugin(9, 1028);
    want2.resize(24 + 1028, 0);
    Put32(want2, 24, 0xFFFFFFFFu);
    EXPECT_EQ(ReadSome(peer, want2.size()), want2);
}

TEST_F(UiPluginTest, LoginResultConvertsItsThreeNumbersOnly) {
    const int peer = Connect();
    ASSERT_GE(peer, 0);
    UI_PLUGIN_LOGIN_RET_S ret{};
    ret.uiUserID = 0x01020304;
    ret.uiSessionID = 0x0A0B0C0D;
    std::memcpy(ret.aucCookie, "\x11\x22\x33\x44", 4);
    std::strcpy(ret.acUrlLocation, "https://gw.example/cred");
    ret.cFlag = 0;
    std::strcpy(ret.cTip, "welcome");
    ASSERT_EQ(UI_PluginLoginRet_Send(&ret), 0u);

    Bytes want = HeadToPlugin(1, 2124);
    want.resize(24 + 2124, 0);
    const size_t p = 24;
    Put32(want, p + 0, 0x01020304);
    Put32(want, p + 4, 0x0A0B0C0D);
    PutText(want, p + 8, "\x11\x22\x33\x44");
    PutText(want, p + 72, "https://gw.example/cred");
    Put32(want, p + 1096, 0);
    PutText(want, p + 1100, "welcome");
    EXPECT_EQ(ReadSome(peer, want.size()), want);
    EXPECT_EQ(ret.uiUserID, htonl(0x01020304u));
    EXPECT_EQ(ret.uiSessionID, htonl(0x0A0B0C0Du));
    EXPECT_EQ(std::memcmp(ret.aucCookie, "\x11\x22\x33\x44", 4), 0);
    EXPECT_EQ(ui_test::LogCount("[Process send login ret to plugin][ui send tip success!]"), 1u);
}

TEST_F(UiPluginTest, InformationConvertsOffsetsZeroFourAndThousandFour) {
    const int peer = Connect();
    ASSERT_GE(peer, 0);
    PluginInfo info{};
    info.uiUserID = 7;
    info.uiSessionID = 0x100;
    info.aucCookie[63] = 0xC5;
    std::strcpy(info.acUserName, "alice");
    std::strcpy(info.acLoginAddr, "10.1.2.3");
    info.ucTunnelStarted = 1;
    info.aucReserved[0] = 0xAB;
    info.aucReserved[31] = 0xCD;
    info.uiValue = 0x11223344;
    ASSERT_EQ(UI_PluginInfo_Send(&info), 0u);

    Bytes want = HeadToPlugin(9, 2032);
    want.resize(24 + 2032, 0);
    const size_t p = 24;
    Put32(want, p + 0, 7);
    Put32(want, p + 4, 0x100);
    want[p + 8 + 63] = 0xC5;
    PutText(want, p + 72, "alice");
    PutText(want, p + 456, "10.1.2.3");
    want[p + 968] = 1;
    want[p + 972] = 0xAB;
    want[p + 972 + 31] = 0xCD;
    Put32(want, p + 1004, 0x11223344);
    EXPECT_EQ(ReadSome(peer, want.size()), want);
    EXPECT_EQ(info.uiValue, htonl(0x11223344u));
    EXPECT_EQ(ui_test::LogCount("[Process send info to plugin][ui send tip success!]"), 1u);
}

TEST_F(UiPluginTest, LogoutIsAHeadOnlyPacketWithCodeEight) {
    const int peer = Connect();
    ASSERT_GE(peer, 0);
    ASSERT_EQ(UI_PluginLogout_Send(), 0u);
    EXPECT_EQ(ReadSome(peer, 24), HeadToPlugin(8, 0));
    EXPECT_EQ(ui_test::LogCount("[Process send loginout to plugin][ui send loginout start!]"), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process send loginout to plugin][ui send loginout success!]"),
              1u);
}

TEST_F(UiPluginTest, SendersFailWithoutARegisteredPluginAndLeaveTheRecord) {
    const size_t lookups = ui_test::LogCount("[Support get connect fd by source]");
    // Empty table; a connection that has sent nothing; a registered connection whose
    // source is not a plugin; a plugin on the synchronous type.
    const struct {
        uint32_t source, type;
    } tables[] = {{0, 0}, {MARK_PLUGIN, 0}, {MARK_RPC, CONNECT_TYPE_ASYNC},
                  {MARK_PLUGIN, CONNECT_TYPE_SYNC}};
    size_t round = 0;
    for (const auto& c : tables) {
        SCOPED_TRACE(round);
        uiPluginConnect_CloseAll();
        int peer = -1;
        if (round > 0) {
            peer = Connect(c.source, c.type);
            ASSERT_GE(peer, 0);
        }
        PluginTip tip{};
        tip.cFlag = 1;
        UI_PLUGIN_LOGIN_RET_S ret{};
        ret.uiUserID = 5;
        PluginInfo info{};
        info.uiValue = 6;
        EXPECT_EQ(UI_PluginTip_Send(1, &tip), 1u);
        EXPECT_EQ(UI_PluginLoginRet_Send(&ret), 1u);
        EXPECT_EQ(UI_PluginInfo_Send(&info), 1u);
        EXPECT_EQ(UI_PluginLogout_Send(), 1u);
        EXPECT_EQ(tip.cFlag, 1u);
        EXPECT_EQ(ret.uiUserID, 5u);
        EXPECT_EQ(info.uiValue, 6u);
        if (peer >= 0) {
            EXPECT_FALSE(ui_test::WaitReadable(peer, 50)) << "nothing reaches the connection";
        }
        ++round;
    }
    EXPECT_EQ(ui_test::LogCount("[Support get connect fd by source]"), lookups + 4 * round);

    EXPECT_EQ(UI_PluginTip_Send(1, nullptr), 1u);
    EXPECT_EQ(UI_PluginLoginRet_Send(nullptr), 1u);
    EXPECT_EQ(UI_PluginInfo_Send(nullptr), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process send tip to plugin][invalid parameter!]"), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process send login ret to plugin][invalid parameter!]"), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process send info to plugin][invalid parameter!]"), 1u);
}

TEST_F(UiPluginTest, AnswersGoToTheFirstRegisteredPluginInTableOrder) {
    const int unregistered = Connect(MARK_PLUGIN, 0);
    const int first = Connect();
    const int second = Connect();
    ASSERT_GE(unregistered, 0);
    ASSERT_GE(second, 0);
    ASSERT_EQ(UI_PluginLogout_Send(), 0u);
    EXPECT_EQ(ReadSome(first, 24), HeadToPlugin(8, 0));
    EXPECT_FALSE(ui_test::WaitReadable(second, 50));
    EXPECT_FALSE(ui_test::WaitReadable(unregistered, 50));
}

// ---- The table ------------------------------------------------------------------------------

TEST_F(UiPluginTest, ClosedUnregisteredSlotsAreTakenAgainAndCounted) {
    uint32_t slots[10];
    for (uint32_t i = 0; i < 10; ++i) {
        ASSERT_GE(Connect(MARK_PLUGIN, 0, &slots[i]), 0);
        EXPECT_EQ(slots[i], i);
    }
    // The table is full: an eleventh is refused.
    uint32_t slot = 99;
    EXPECT_EQ(uiPluginConnect_Add(1000, &slot), 1u);
    EXPECT_EQ(slot, 99u);

    // Closing slots 3 and 7 frees them; the next two connections take 3, then 7.
    UI_PluginConnect_Close(3, nullptr);
    UI_PluginConnect_Close(7, nullptr);
    uint32_t count = 0, plugins = 0;
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 8u);
    EXPECT_TRUE(SeesClose(peers_[3]));
    EXPECT_TRUE(SeesClose(peers_[7]));
    ASSERT_GE(Connect(MARK_PLUGIN, 0, &slot), 0);
    EXPECT_EQ(slot, 3u);
    ASSERT_GE(Connect(MARK_PLUGIN, 0, &slot), 0);
    EXPECT_EQ(slot, 7u);

    // Eleven connect-and-close cycles on a table with one free slot keep it free.
    UI_PluginConnect_Close(5, nullptr);
    for (int i = 0; i < 11; ++i) {
        ASSERT_GE(Connect(MARK_PLUGIN, 0, &slot), 0) << "cycle " << i;
        EXPECT_EQ(slot, 5u);
        UI_PluginConnect_Close(slot, nullptr);
    }
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(plugins, 0u);
}

TEST_F(UiPluginTest, TheFirstRegisteringPacketDecidesTheSlot) {
    uint32_t slot = 99;
    ASSERT_GE(Connect(MARK_PLUGIN, 0, &slot), 0);
    ConnectInfo slots[10];
    uint32_t count = 0, plugins = 0;

    // A head of type 0 registers nothing and counts no plugin, however often it comes.
    PacketHead typeless{MARK_PLUGIN, MARK_UI, 0, 1, 1, 0};
    UI_PluginConnect_Save(slot, &typeless);
    UI_PluginConnect_Save(slot, &typeless);
    uiPluginTableCopy(slots, &count, &plugins);
    EXPECT_EQ(slots[slot].uiConnetType, 0u);
    EXPECT_EQ(plugins, 0u);

    PacketHead first{MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, 1, 0};
    PacketHead later{MARK_RPC, MARK_TULM, CONNECT_TYPE_SYNC, 1, 1, 0};
    const char kSaved[] = "[Save plugin socket connect][source :3]:[DestMark :2]:[ConnetType :2]";
    const size_t savedBefore = ui_test::LogCount(kSaved);  // other tests of this process log it too
    UI_PluginConnect_Save(slot, &first);
    UI_PluginConnect_Save(slot, &later);
    uiPluginTableCopy(slots, &count, &plugins);
    EXPECT_EQ(slots[slot].uiSourceMark, uint32_t(MARK_PLUGIN));
    EXPECT_EQ(slots[slot].uiDestMark, uint32_t(MARK_UI));
    EXPECT_EQ(slots[slot].uiConnetType, uint32_t(CONNECT_TYPE_ASYNC));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(plugins, 1u);
    EXPECT_EQ(ui_test::LogCount(kSaved), savedBefore + 1);
}

TEST_F(UiPluginTest, ClosingsByKindOfConnection) {
    // A plugin closes: every other connection is closed with it, each logged.
    const int other = Connect(MARK_PLUGIN, 0);
    uint32_t pluginSlot = 0;
    const int plugin = Connect(MARK_PLUGIN, CONNECT_TYPE_ASYNC, &pluginSlot);
    const int unknown = Connect(MARK_RPC, CONNECT_TYPE_ASYNC);
    ASSERT_GE(unknown, 0);
    const size_t withPlugin = ui_test::LogCount("[Plugin connection is closed with the plugin]");
    UI_PluginConnect_Close(pluginSlot, nullptr);
    EXPECT_TRUE(SeesClose(plugin));
    EXPECT_TRUE(SeesClose(other));
    EXPECT_TRUE(SeesClose(unknown));
    ConnectInfo slots[10];
    uint32_t count = 9, plugins = 9;
    uiPluginTableCopy(slots, &count, &plugins);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(plugins, 0u);
    for (const ConnectInfo& s : slots) EXPECT_EQ(s.iSocket, UI_SOCKET_NONE);
    EXPECT_EQ(ui_test::LogCount("[Plugin connection is closed with the plugin]"), withPlugin + 2);
    EXPECT_EQ(ui_test::LogCount("[Plugin is no longer any connection]"), 1u);
    PluginTip tip{};
    EXPECT_EQ(UI_PluginTip_Send(1, &tip), 1u);

    // An asynchronous connection of another source closes alone, logged; a plugin that
    // registered on the synchronous type closes alone and is no longer counted.
    uint32_t unknownSlot = 0, syncSlot = 0;
    const int keep = Connect();
    const int unknown2 = Connect(MARK_RPC, CONNECT_TYPE_ASYNC, &unknownSlot);
    const int syncPlugin = Connect(MARK_PLUGIN, CONNECT_TYPE_SYNC, &syncSlot);
    ASSERT_GE(syncPlugin, 0);
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(plugins, 2u);
    UI_PluginConnect_Close(unknownSlot, nullptr);
    UI_PluginConnect_Close(syncSlot, nullptr);
    EXPECT_TRUE(SeesClose(unknown2));
    EXPECT_TRUE(SeesClose(syncPlugin));
    EXPECT_EQ(ui_test::LogCount("[Unkown connection is closed]"), 1u);
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(plugins, 1u);
    EXPECT_EQ(UI_PluginLogout_Send(), 0u);
    EXPECT_EQ(ReadSome(keep, 24), HeadToPlugin(8, 0));
}

TEST_F(UiPluginTest, CloseWakesASenderBlockedOnTheSocketAndClosesOnlyAfterIt) {
    uint32_t slot = 0;
    const int peer = Connect(MARK_PLUGIN, CONNECT_TYPE_ASYNC, &slot);
    ASSERT_GE(peer, 0);
    ConnectInfo slots[10];
    uiPluginTableCopy(slots, nullptr, nullptr);
    const int ours = slots[slot].iSocket;
    // Fill the connection so that the next send blocks: the plugin reads nothing.
    const int flags = fcntl(ours, F_GETFL);
    ASSERT_EQ(fcntl(ours, F_SETFL, flags | O_NONBLOCK), 0);
    std::vector<uint8_t> fill(65536, 0);
    while (send(ours, fill.data(), fill.size(), MSG_NOSIGNAL) > 0) {
    }
    ASSERT_EQ(fcntl(ours, F_SETFL, flags), 0);

    std::atomic<int> result{-1};
    std::thread sender([&] {
        PluginInfo info{};
        result = int(UI_PluginInfo_Send(&info));
    });
    // Once the sender holds the slot, the close must not close the descriptor under it.
    while (uiPluginSlotHolds(slot) == 0 && result == -1) {
        usleep(1000);
    }
    UI_PluginConnect_Close(slot, nullptr);
    sender.join();
    EXPECT_EQ(result, 1) << "the blocked send fails once the connection is shut down";
    EXPECT_EQ(ui_test::LogCount("[Process send info to plugin][ui send tip failed!]"), 1u);
    EXPECT_EQ(fcntl(ours, F_GETFD), -1) << "the descriptor is closed once the sender let go";
}

// ---- Decoding ---------------------------------------------------------------------------------

TEST(UiPluginDecode, EventAndLoginPayloadByCodeAndLength) {
    ui_test::LinkSetUp();
    const struct {
        uint32_t code;
        size_t payload;  // bytes after the head
        int32_t event;
        size_t copied;   // payload bytes that reach the record
    } cases[] = {
        {1, 768, 1, 768}, {1, 0, 1, 0},   {1, 767, 1, 767}, {1, 769, 1, 768},
        {2, 0, 2, 0},     {6, 0, 6, 0},   {7, 0, 7, 0},     {9, 768, 9, 0},
        {0, 0, 0, 0},     {10, 0, 0, 0},  {0xFFFFFFFF, 768, 0, 0},
        {0x10001, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        SCOPED_TRACE(c.payload);
        Bytes payload(c.payload);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t('a' + i % 26);
        const Bytes packet = ui_test::Packet(MARK_PLUGIN, MARK_UI, 2, 1, c.code, payload);
        PluginLoginPayload record;
        std::memset(&record, 0x5A, sizeof(record));
        EXPECT_EQ(uiPluginEventDecode(packet.data(), uint32_t(packet.size()), &record), c.event);
        const uint8_t* r = reinterpret_cast<const uint8_t*>(&record);
        if (c.event == PLUGIN_EVENT_LOGIN) {
            if (c.copied != 0) {
                EXPECT_EQ(std::memcmp(r, payload.data(), c.copied), 0);
            }
            for (size_t i = c.copied; i < sizeof(record); ++i) {
                ASSERT_EQ(r[i], 0) << "byte " << i << " past the payload reads as empty";
            }
        } else {
            for (size_t i = 0; i < sizeof(record); ++i) {
                ASSERT_EQ(r[i], 0x5A) << "no login: the record is left alone";
            }
        }
    }
}

TEST(UiPluginDecode, NeverReadsPastThePacketItIsGiven) {
    ui_test::LinkSetUp();
    // The head announces 768 payload bytes, the copy holds 100: no more is read. The
    // buffer is exactly as long as the packet, so a read past it shows under ASan.
    Bytes packet = ui_test::Packet(MARK_PLUGIN, MARK_UI, 2, 1, 1, Bytes(100, 'u'));
    packet[20] = 0;
    packet[21] = 0;
    packet[22] = 0x03;
    packet[23] = 0x00;
    uint8_t* copy = static_cast<uint8_t*>(malloc(packet.size()));
    std::memcpy(copy, packet.data(), packet.size());
    PluginLoginPayload record{};
    EXPECT_EQ(uiPluginEventDecode(copy, uint32_t(packet.size()), &record), 1);
    EXPECT_EQ(record.acUserName[99], 'u');
    EXPECT_EQ(record.acUserName[100], 0);
    EXPECT_EQ(uiPluginEventDecode(copy, 23, &record), 0) << "a short packet is no request";
    EXPECT_EQ(uiPluginEventDecode(nullptr, 24, &record), 0);
    free(copy);
}

// ---- The user behind a connection ----------------------------------------------------------
//
// Each way of asking, on its own, against programs at the other end of a loopback
// connection that the test accepted itself. Asking for the wrong end of the connection
// would name the test's own user every time: the programs of other users (root only) show
// it, and so does a closed program's connection, which the kernel keeps a while under
// uid 0.

using PeerUidFn = uint32_t (*)(int32_t, uint32_t*);

struct Lookup {
    const char* name;
    PeerUidFn fn;
};

const Lookup kLookups[] = {
    {"socket diagnostics", uiPluginPeerUidByDiag},
    {"connection tables", uiPluginPeerUidByProcNet},
    {"the listener's look-up", uiPluginPeerUid},
};

// A loopback listener on a free port, as the plugin listener is: IPv4, 127.0.0.1.
class LoopbackListener {
public:
    LoopbackListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            close(fd_);
            fd_ = -1;
        }
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackListener() {
        if (fd_ >= 0) close(fd_);
    }
    int Fd() const { return fd_; }
    uint16_t Port() const { return port_; }
    int Accept() {
        return ui_test::WaitReadable(fd_, 5000) ? accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(UiPluginPeerUid, NamesTheUserOfTheProgramAtTheOtherEnd) {
    ui_test::LinkSetUp();
    const bool root = geteuid() == 0;
    const struct {
        const char* name;
        uid_t uid;
        bool ipv6;
        bool needsRoot;
    } peers[] = {
        {"the same user", geteuid(), false, false},
        {"the same user from an IPv6 socket", geteuid(), true, false},
        {"uid 65534", 65534, false, true},
        {"uid 1000 from an IPv6 socket", 1000, true, true},
    };
    LoopbackListener listener;
    ASSERT_GE(listener.Fd(), 0);
    size_t skipped = 0;
    for (const auto& p : peers) {
        SCOPED_TRACE(p.name);
        if (p.needsRoot && !root) {
            ++skipped;
            continue;
        }
        ui_test::PluginPeer peer(p.uid, {}, p.ipv6);
        ASSERT_TRUE(peer.Go(listener.Port()));
        const int conn = listener.Accept();
        ASSERT_GE(conn, 0);
        for (const Lookup& l : kLookups) {
            uint32_t uid = 0xDEADBEEF;
            EXPECT_EQ(l.fn(conn, &uid), 0u) << l.name;
            EXPECT_EQ(uid, uint32_t(p.uid)) << l.name;
        }
        close(conn);
        const ui_test::PluginPeer::Seen seen = peer.Wait();
        EXPECT_TRUE(seen.userTaken && seen.connected && seen.closed);
    }
    if (skipped > 0) {
        GTEST_SKIP() << "the other users' programs need root (they take uid 65534 and 1000)";
    }
}

TEST(UiPluginPeerUid, NoOwnerForAClosedPeerOrWhatIsNoConnection) {
    ui_test::LinkSetUp();
    LoopbackListener listener;
    ASSERT_GE(listener.Fd(), 0);
    // A program that connected and closed again: its end lingers with no process, and the
    // kernel names uid 0 for it.
    const int gone = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(listener.Port());
    ASSERT_EQ(connect(gone, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    const int conn = listener.Accept();
    ASSERT_GE(conn, 0);
    close(gone);
    ASSERT_TRUE(ui_test::WaitReadable(conn, 5000));  // its end of stream is here
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const struct {
        const char* name;
        int fd;
    } cases[] = {
        {"a closed program's connection", conn},
        {"a local socket pair", pair[0]},
        {"the listening socket", listener.Fd()},
        {"no descriptor", -1},
    };
    for (const auto& c : cases) {
        for (const Lookup& l : kLookups) {
            uint32_t uid = 0xDEADBEEF;
            EXPECT_EQ(l.fn(c.fd, &uid), 1u) << c.name << ", " << l.name;
            EXPECT_EQ(uid, 0xDEADBEEFu) << c.name << ", " << l.name;
        }
    }
    close(conn);
    close(pair[0]);
    close(pair[1]);
}

// The listener's door, one accept at a time: a program that sent its request and closed
// before it was accepted has no owner any more; it could be anybody's, and its request is
// never read. A live program of the same user is let in.
TEST_F(UiPluginTest, AConnectionWhoseUserCannotBeLearntIsClosedAtTheDoor) {
    LoopbackListener listener;
    ASSERT_GE(listener.Fd(), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(listener.Port());
    auto accept = [&] {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener.Fd(), &set);
        return UI_PluginListen_Accept(listener.Fd(), &set, listener.Fd());
    };
    const std::string unknown =
        "[Process plugin listen port][connection refused, the user of the peer could not be "
        "learnt][127.0.0.1:";
    {
        const int gone = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(gone, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        const Bytes logout = ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, 2);
        ASSERT_EQ(send(gone, logout.data(), logout.size(), MSG_NOSIGNAL), ssize_t(logout.size()));
        close(gone);  // from here on no process holds its end
    }
    EXPECT_EQ(accept(), listener.Fd());
    EXPECT_EQ(ui_test::LogCount(unknown), 1u);
    uint32_t count = 9;
    uiPluginTableCopy(nullptr, &count, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ui_test::LogCount("[Plugin listen port have new connection]"), 0u);

    const int live = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(live, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_GT(accept(), listener.Fd());
    uiPluginTableCopy(nullptr, &count, nullptr);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(ui_test::LogCount("[Plugin listen port have new connection][client :1][127.0.0.1:"),
              1u);
    EXPECT_EQ(ui_test::LogCount(unknown), 1u);
    EXPECT_EQ(ui_test::LogCount("[connection of another user refused]"), 0u);
    close(live);
}

}  // namespace
