// The plugin listener with its tasks running, against plugins played by the test:
// the port search, requests reaching the event reader, the connection limit and the
// slots that come back, what a closing plugin leaves, misbehaving plugins (lengths,
// codes, a trickle, a half packet, ten at once) that must leave the listener serving,
// and programs of other users, which it must not serve at all.
//
// The tasks start once per process on the fixed ports from 29192: the executable holds
// their CTest lock. Every test leaves no connection open.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <grp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

#include "jqr_queue.h"
#include "ui_plugin.h"
#include "ui_plugin_inner.h"
#include "ui_test/plugin_peer.h"
#include "ui_test/ui_sim.h"
#include "vt_test/child_process.h"
#include "vt_test/temp_env.h"

namespace {

using Bytes = std::vector<uint8_t>;

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs = 5000) {
    const int64_t end = NowMs() + timeoutMs;
    while (!pred()) {
        if (NowMs() > end) return false;
        usleep(1000);
    }
    return true;
}

int ListenOn(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// What the one start in this process found.
struct StartResult {
    bool held29192 = false;  // the test itself held 29192 during the start
    uint32_t port = 0;
    size_t bindFailures = 0;
};

const StartResult& Start() {
    static const StartResult result = [] {
        StartResult r;
        ui_test::LinkSetUp();
        const int blocker = ListenOn(PLUGIN_LISTEN_PORT);
        r.held29192 = blocker >= 0;
        if (UI_PluginThread_Create() == 0) {
            (void)WaitFor([] { return uiPluginListenPortGet() != 0; });
        }
        r.port = uiPluginListenPortGet();
        r.bindFailures = ui_test::LogCount("[Proces plugin listen port create][Fail to Bind port]");
        if (blocker >= 0) close(blocker);
        return r;
    }();
    return result;
}

uint32_t ConnectCount() {
    uint32_t count = 0;
    uiPluginTableCopy(nullptr, &count, nullptr);
    return count;
}

uint32_t QueuedEvents() {
    uint32_t n = 0;
    return UKO_Queue_MsgNumGet(g_pluginEventQueueId.load(), &n) == 0 ? n : 0;
}

// The next request from the event queue, waiting for it to be there first (the read
// itself would wait for ever).
bool NextEvent(int32_t* event, PluginLoginPayload* payload) {
    if (!WaitFor([] { return QueuedEvents() > 0; })) return false;
    return UI_PluginEvent_Process(event, payload) == 0;
}

// A plugin played by the test: a loopback connection to the listener.
class Client {
public:
    // On the port of this process's one start, or on the port given.
    explicit Client(uint16_t port = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port != 0 ? port : uint16_t(Start().port));
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool Send(const Bytes& b) {
        size_t off = 0;
        while (off < b.size()) {
            const ssize_t n = send(fd_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += size_t(n);
        }
        return true;
    }
    // A request from a plugin: {3, 2, 2, 1, code, payload}.
    bool Request(uint32_t code, const Bytes& payload = {}) {
        return Send(ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, code, payload));
    }
    // True when the listener closed the connection (after anything it sent).
    bool SeesClose() {
        char buf[4096];
        while (ui_test::WaitReadable(fd_, 5000)) {
            const ssize_t n = recv(fd_, buf, sizeof(buf), MSG_DONTWAIT);
            if (n == 0) return true;
            if (n < 0) return errno == ECONNRESET;
        }
        return false;
    }
    // The next packet's head and payload, or an empty vector.
    Bytes RecvPacket() {
        Bytes b;
        uint8_t buf[4096];
        size_t want = 24;
        while (b.size() < want && ui_test::WaitReadable(fd_, 5000)) {
            const ssize_t n = recv(fd_, buf, std::min(sizeof(buf), want - b.size()), MSG_DONTWAIT);
            if (n <= 0) return {};
            b.insert(b.end(), buf, buf + n);
            if (b.size() == 24) want = 24 + ntohl(*reinterpret_cast<const uint32_t*>(&b[20]));
        }
        return b.size() == want ? b : Bytes{};
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

class UiPluginListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        ASSERT_NE(Start().port, 0u) << "the listener did not start";
        ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; })) << "a test left a connection";
    }
    void TearDown() override {
        EXPECT_TRUE(WaitFor([] { return ConnectCount() == 0; })) << "connections left open";
        EXPECT_EQ(QueuedEvents(), 0u) << "a request nobody read";
    }

    // A well-behaved plugin is still served: its request arrives and a tip reaches it.
    void ExpectServed() {
        Client c;
        ASSERT_TRUE(c.Ok());
        ASSERT_TRUE(c.Request(5));
        int32_t event = -1;
        PluginLoginPayload payload{};
        ASSERT_TRUE(NextEvent(&event, &payload));
        EXPECT_EQ(event, PLUGIN_EVENT_HOST_CHECK);
        PluginTip tip{};
        std::strcpy(tip.cTip, "still here");
        EXPECT_EQ(UI_PluginTip_Send(5, &tip), 0u);
        const Bytes got = c.RecvPacket();
        ASSERT_EQ(got.size(), 24u + 1028u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&got[28])), "still here");
        c.Close();
        EXPECT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
    }
};

TEST_F(UiPluginListenerTest, TakenFirstPortMovesTheListenerUpByOne) {
    // The test held 29192 during the start, so the listener is above it; each port
    // tried and found in use logged one bind failure (29193 unless something outside
    // the test holds that one too).
    const StartResult& r = Start();
    ASSERT_TRUE(r.held29192) << "29192 could not be taken for the test";
    EXPECT_GT(r.port, PLUGIN_LISTEN_PORT);
    EXPECT_EQ(r.bindFailures, size_t(r.port - PLUGIN_LISTEN_PORT));
    EXPECT_EQ(ui_test::LogCount("[Proces plugin listen port create][port " +
                                std::to_string(r.port) + "]"),
              1u);
    ExpectServed();
}

TEST_F(UiPluginListenerTest, RequestsReachTheEventReaderWithTheirLoginPayload) {
    Client c;
    ASSERT_TRUE(c.Ok());
    Bytes texts(768, 0);
    std::memcpy(&texts[0], "alice", 5);
    std::memcpy(&texts[384], "s3cret", 6);
    std::memcpy(&texts[512], "123456", 6);
    Bytes ramp(769);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(1 + i % 250);
    const struct {
        uint32_t code;
        Bytes payload;
        int32_t event;
        size_t copied;
    } cases[] = {
        {1, texts, 1, 768},
        {1, {}, 1, 0},
        {1, Bytes(ramp.begin(), ramp.begin() + 767), 1, 767},
        {1, ramp, 1, 768},
        {2, {}, 2, 0},
        {3, {}, 3, 0},
        {4, {}, 4, 0},
        {6, {}, 6, 0},
        {7, {}, 7, 0},
        {8, {}, 8, 0},
        {9, {}, 9, 0},
        {10, {}, 0, 0},
        {0xFFFFFFFF, texts, 0, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.code);
        SCOPED_TRACE(k.payload.size());
        ASSERT_TRUE(c.Request(k.code, k.payload));
        int32_t event = -1;
        PluginLoginPayload payload;
        std::memset(&payload, 0x5A, sizeof(payload));
        ASSERT_TRUE(NextEvent(&event, &payload));
        EXPECT_EQ(event, k.event);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&payload);
        if (k.event == PLUGIN_EVENT_LOGIN) {
            EXPECT_TRUE(std::equal(p, p + k.copied, k.payload.begin()));
            for (size_t i = k.copied; i < sizeof(payload); ++i) ASSERT_EQ(p[i], 0) << i;
        } else {
            for (size_t i = 0; i < sizeof(payload); ++i) ASSERT_EQ(p[i], 0x5A) << i;
        }
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(texts.data() + 384), "s3cret");
    EXPECT_EQ(ui_test::LogCount("message code is 0xffffffff, ret message type is 0]"), 1u);

    // Once the plugin closes, the table is empty, both counts 0, and a tip fails.
    c.Close();
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
    uint32_t count = 9, plugins = 9;
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(plugins, 0u);
    PluginTip tip{};
    tip.cFlag = 1;
    EXPECT_EQ(UI_PluginTip_Send(1, &tip), 1u);
    EXPECT_EQ(tip.cFlag, 1u);
}

TEST_F(UiPluginListenerTest, EleventhConnectionIsClosedAndTheTenthSlotComesBack) {
    const size_t refused = ui_test::LogCount("[Plugin max connections arrive, exit]");
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(std::make_unique<Client>());
        ASSERT_TRUE(clients.back()->Ok());
    }
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 10; }));
    Client eleventh;
    ASSERT_TRUE(eleventh.Ok()) << "the kernel accepts it for the listener";
    EXPECT_TRUE(eleventh.SeesClose());
    EXPECT_EQ(ui_test::LogCount("[Plugin max connections arrive, exit]"), refused + 1);
    EXPECT_EQ(ConnectCount(), 10u);

    // One unregistered connection goes: its slot serves the next one.
    clients[4]->Close();
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 9; }));
    Client again;
    ASSERT_TRUE(again.Ok());
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 10; }));
    ASSERT_TRUE(again.Request(9));
    int32_t event = -1;
    PluginLoginPayload payload{};
    ASSERT_TRUE(NextEvent(&event, &payload));
    EXPECT_EQ(event, PLUGIN_EVENT_GET_INFO);
    PluginInfo info{};
    EXPECT_EQ(UI_PluginInfo_Send(&info), 0u);
    EXPECT_EQ(again.RecvPacket().size(), 24u + 2032u);

    // The registered plugin closes: the others are closed with it.
    again.Close();
    for (auto& c : clients) {
        if (c->Ok()) {
            EXPECT_TRUE(c->SeesClose());
        }
    }
}

TEST_F(UiPluginListenerTest, ConnectionsThatCloseBeforeAnyPacketDoNotUseTheTableUp) {
    for (int i = 0; i < 11; ++i) {
        Client c;
        ASSERT_TRUE(c.Ok());
        ASSERT_TRUE(WaitFor([] { return ConnectCount() == 1; })) << "cycle " << i;
        c.Close();
        ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; })) << "cycle " << i;
    }
    ExpectServed();
}

TEST_F(UiPluginListenerTest, BrokenLengthsCloseTheirConnectionOnly) {
    const struct {
        const char* name;
        Bytes bytes;
        bool closed;    // the listener closes the connection
        int32_t event;  // -1: nothing reaches the event queue
    } cases[] = {
        {"length 0x7FFFFFFF", ui_test::Head(1, 0x7FFFFFFF), true, -1},
        {"length 0xFFFFFFFF", ui_test::Head(2, 0xFFFFFFFF), true, -1},
        {"one byte over 64 KiB", ui_test::Head(2, 64 * 1024 + 1), true, -1},
        {"exactly 64 KiB",
         ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, 2, Bytes(64 * 1024, 7)),
         false, PLUGIN_EVENT_LOGOUT},
        {"another destination",
         ui_test::Packet(MARK_PLUGIN, MARK_TULM, CONNECT_TYPE_ASYNC, 1, 2), false, -1},
        {"synchronous type", ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_SYNC, 1, 2), false,
         -1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        {
            Client bad;
            ASSERT_TRUE(bad.Ok());
            ASSERT_TRUE(bad.Send(k.bytes));
            if (k.closed) {
                EXPECT_TRUE(bad.SeesClose());
            } else {
                // The packet was taken in when the slot registered from it.
                ASSERT_TRUE(WaitFor([] {
                    ConnectInfo slots[10];
                    uiPluginTableCopy(slots, nullptr, nullptr);
                    for (const ConnectInfo& s : slots) {
                        if (s.iSocket != UI_SOCKET_NONE && s.uiConnetType != 0) return true;
                    }
                    return false;
                }));
            }
            if (k.event >= 0) {
                int32_t event = -1;
                PluginLoginPayload payload{};
                ASSERT_TRUE(NextEvent(&event, &payload));
                EXPECT_EQ(event, k.event);
            }
            EXPECT_EQ(QueuedEvents(), 0u);
        }
        ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
        ExpectServed();
    }
    EXPECT_EQ(ui_test::LogCount("[packet length 2147483647 is over the limit"), 1u);
    EXPECT_EQ(ui_test::LogCount("[Process receive plugin packet proc][the packet dest is not ui]"),
              1u);
}

TEST_F(UiPluginListenerTest, ATrickleOrAHalfPacketHoldsOnlyItsOwnConnection) {
    // A plugin that sends half a head and goes quiet.
    Client stalled;
    ASSERT_TRUE(stalled.Ok());
    const Bytes login = ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, 1,
                                        Bytes(768, 'z'));
    ASSERT_TRUE(stalled.Send(Bytes(login.begin(), login.begin() + 12)));

    // A plugin that trickles a whole login one byte at a time, while a third plugin is
    // served in the middle of it.
    Client trickle;
    ASSERT_TRUE(trickle.Ok());
    std::atomic<bool> sent{false};
    std::thread t([&] {
        for (size_t i = 0; i < login.size(); ++i) {
            if (!trickle.Send(Bytes{login[i]})) return;
            if (i % 8 == 0) usleep(500);
        }
        sent = true;
    });
    {
        Client quick;
        ASSERT_TRUE(quick.Ok());
        ASSERT_TRUE(quick.Request(3));
        int32_t event = -1;
        PluginLoginPayload payload{};
        ASSERT_TRUE(NextEvent(&event, &payload));
        EXPECT_EQ(event, PLUGIN_EVENT_START_CNEM);
        EXPECT_FALSE(sent) << "served while the trickle was still coming";
        PluginTip tip{};
        EXPECT_EQ(UI_PluginTip_Send(3, &tip), 0u);
        EXPECT_EQ(quick.RecvPacket().size(), 24u + 1028u);
        // Closing this registered plugin closes the other two as well; keep it open
        // until the trickle is in.
        t.join();
        ASSERT_TRUE(sent);
        ASSERT_TRUE(NextEvent(&event, &payload));
        EXPECT_EQ(event, PLUGIN_EVENT_LOGIN);
        EXPECT_EQ(payload.acUserName[0], 'z');
        EXPECT_EQ(payload.acVerifyCode[255], 'z');
    }
    EXPECT_TRUE(stalled.SeesClose());
    EXPECT_TRUE(trickle.SeesClose());
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
    ExpectServed();
}

TEST_F(UiPluginListenerTest, TenPluginsAtOnceAreAllHeard) {
    std::vector<std::unique_ptr<Client>> clients(10);
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&, i] {
            clients[i] = std::make_unique<Client>();
            if (clients[i]->Ok() && clients[i]->Request(uint32_t(2 + i % 8))) ++ok;
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(ok, 10);
    int seen[10] = {};
    for (int i = 0; i < 10; ++i) {
        int32_t event = -1;
        PluginLoginPayload payload{};
        ASSERT_TRUE(NextEvent(&event, &payload)) << i;
        ASSERT_GE(event, 2);
        ASSERT_LE(event, 9);
        ++seen[event];
    }
    EXPECT_EQ(seen[2], 2);
    EXPECT_EQ(seen[3], 2);
    for (int e = 4; e <= 9; ++e) EXPECT_EQ(seen[e], 1) << e;
    uint32_t count = 0, plugins = 0;
    uiPluginTableCopy(nullptr, &count, &plugins);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(plugins, 10u);
    clients[0]->Close();
    for (int i = 1; i < 10; ++i) EXPECT_TRUE(clients[i]->SeesClose()) << i;
    ASSERT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
    ExpectServed();
}

// Nothing in the front end writes the send task's queue, but what is queued there goes to
// the connection its head names, cut to the task's 8192-byte buffer.
TEST_F(UiPluginListenerTest, SendTaskDeliversItsQueueToTheConnectionTheHeadNames) {
    Client c;
    ASSERT_TRUE(c.Ok());
    ASSERT_TRUE(c.Request(5));
    int32_t event = -1;
    PluginLoginPayload payload{};
    ASSERT_TRUE(NextEvent(&event, &payload));
    uint32_t queue = 0;
    ASSERT_EQ(UKO_Queue_IdGetByName("PLUS", &queue), 0u);

    const Bytes info = ui_test::Packet(MARK_UI, MARK_PLUGIN, CONNECT_TYPE_ASYNC, 1, 9,
                                       Bytes(100, 'i'));
    ASSERT_EQ(UI_Queue_Write(queue, info.data(), uint32_t(info.size())), 0u);
    EXPECT_EQ(c.RecvPacket(), info);

    const Bytes big = ui_test::Packet(MARK_UI, MARK_PLUGIN, CONNECT_TYPE_ASYNC, 1, 9,
                                      Bytes(10000, 'b'));
    ASSERT_EQ(UI_Queue_Write(queue, big.data(), uint32_t(big.size())), 0u);
    Bytes got;
    uint8_t buf[4096];
    while (ui_test::WaitReadable(c.Fd(), 300)) {
        const ssize_t n = recv(c.Fd(), buf, sizeof(buf), MSG_DONTWAIT);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, Bytes(big.begin(), big.begin() + 8192));

    const size_t closed = ui_test::LogCount("[Plugin Send Connect is closed!]");
    const Bytes nobody = ui_test::Packet(MARK_UI, MARK_TULM, CONNECT_TYPE_ASYNC, 1, 9);
    ASSERT_EQ(UI_Queue_Write(queue, nobody.data(), uint32_t(nobody.size())), 0u);
    EXPECT_TRUE(WaitFor([&] { return ui_test::LogCount("[Plugin Send Connect is closed!]") > closed; }));
    EXPECT_EQ(ui_test::LogCount("Get plugin socket connect [source :2]:[uiDestMark :4]:[uiConnetType :2]"),
              1u);
    EXPECT_FALSE(ui_test::WaitReadable(c.Fd(), 50));
}

// The simulator's plugin client decodes what the front end sends with a codec of its own.
TEST_F(UiPluginListenerTest, SimulatorPluginLogsInAndReadsTheResult) {
    ui_test::ChildProgram client(UI_TEST_PLUGIN_CLIENT_BIN,
                                 {"--port", std::to_string(Start().port), "--scan", "1", "login",
                                  "alice", "s3cret", "123456", "recv", "5000", "close"});
    ASSERT_TRUE(client.Started());
    int32_t event = -1;
    PluginLoginPayload payload{};
    ASSERT_TRUE(NextEvent(&event, &payload));
    EXPECT_EQ(event, PLUGIN_EVENT_LOGIN);
    EXPECT_STREQ(payload.acUserName, "alice");
    EXPECT_STREQ(payload.acPassword, "s3cret");
    EXPECT_STREQ(payload.acVerifyCode, "123456");

    UI_PLUGIN_LOGIN_RET_S ret{};
    ret.uiUserID = 4242;
    ret.uiSessionID = 0x01020304;
    std::strcpy(ret.acUrlLocation, "https://gw/cred");
    ret.cFlag = 1;
    std::strcpy(ret.cTip, "done");
    ASSERT_EQ(UI_PluginLoginRet_Send(&ret), 0u);
    std::string line;
    ASSERT_TRUE(client.ReadLine(&line));
    EXPECT_EQ(client.Wait(), 0);
    rapidjson::Document d;
    d.Parse(line.c_str());
    ASSERT_TRUE(d.IsObject()) << line;
    ASSERT_TRUE(d.HasMember("fields")) << line;
    EXPECT_STREQ(d["record"].GetString(), "UI_PLUGIN_LOGIN_RET_S");
    EXPECT_EQ(d["head"]["code"].GetUint(), 1u);
    EXPECT_EQ(d["head"]["source"].GetUint(), 2u);
    EXPECT_EQ(d["head"]["dest"].GetUint(), 3u);
    const auto& f = d["fields"];
    EXPECT_EQ(f["uiUserID"].GetUint(), 4242u);
    EXPECT_EQ(f["uiSessionID"].GetUint(), 0x01020304u);
    EXPECT_EQ(f["cFlag"].GetUint(), 1u);
    EXPECT_STREQ(f["acUrlLocation"].GetString(), "https://gw/cred");
    EXPECT_STREQ(f["cTip"].GetString(), "done");
    EXPECT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
}

// ---- Programs of other users ------------------------------------------------------------------
//
// Any local user can connect to a loopback port. The listener serves only programs of the
// client's own user: another user's connection is closed as it is accepted, before a byte
// is read from it or sent to it, so it never registers and never receives the session
// cookie meant for the plugin. Other users are played by forked processes that take their
// uid, which needs root; the test skips only when it runs without.

// What a program may open with, and the event each becomes when it is served.
struct Opening {
    const char* name;
    Bytes bytes;
    int32_t event;
};

std::vector<Opening> Openings() {
    Bytes login(768, 0);
    std::memcpy(&login[0], "mallory", 7);
    std::memcpy(&login[384], "guess", 5);
    auto request = [](uint32_t code, const Bytes& payload = {}) {
        return ui_test::Packet(MARK_PLUGIN, MARK_UI, CONNECT_TYPE_ASYNC, 1, code, payload);
    };
    return {
        {"register", request(0), PLUGIN_EVENT_NONE},
        {"login", request(1, login), PLUGIN_EVENT_LOGIN},
        {"logout (2)", request(2), PLUGIN_EVENT_LOGOUT},
        {"host check (5)", request(5), PLUGIN_EVENT_HOST_CHECK},
        {"get information (9)", request(9), PLUGIN_EVENT_GET_INFO},
    };
}

std::string RefusedLine(uid_t uid) {
    return "[Process plugin listen port][connection of another user refused][uid " +
           std::to_string(uid) + "]";
}

uint32_t CodeOf(const Bytes& packet) {
    return packet.size() >= 24 ? ntohl(*reinterpret_cast<const uint32_t*>(&packet[16])) : 0;
}

// The client's own plugin logs in and is answered with the login result (and its cookie),
// a tip and the information: the three arrive whole, in that order, and nothing else.
void ExpectThePluginsAnswers(uint16_t port) {
    Client plugin(port);
    ASSERT_TRUE(plugin.Ok());
    Bytes login(768, 0);
    std::memcpy(&login[0], "alice", 5);
    ASSERT_TRUE(plugin.Request(1, login));
    int32_t event = -1;
    PluginLoginPayload payload{};
    ASSERT_TRUE(NextEvent(&event, &payload));
    EXPECT_EQ(event, PLUGIN_EVENT_LOGIN);
    EXPECT_STREQ(payload.acUserName, "alice");

    UI_PLUGIN_LOGIN_RET_S ret{};
    ret.uiUserID = 1001;
    ret.uiSessionID = 5001;
    std::memcpy(ret.aucCookie, "SIMCOOKIE", 9);
    std::strcpy(ret.acUrlLocation, "https://192.0.2.10/portal");
    std::strcpy(ret.cTip, "success");
    EXPECT_EQ(UI_PluginLoginRet_Send(&ret), 0u);
    PluginTip tip{};
    std::strcpy(tip.cTip, "host check success");
    EXPECT_EQ(UI_PluginTip_Send(5, &tip), 0u);
    PluginInfo info{};
    info.uiUserID = 1001;
    std::memcpy(info.aucCookie, "SIMCOOKIE", 9);
    EXPECT_EQ(UI_PluginInfo_Send(&info), 0u);

    const Bytes first = plugin.RecvPacket();
    const Bytes second = plugin.RecvPacket();
    const Bytes third = plugin.RecvPacket();
    ASSERT_EQ(first.size(), 24u + 2124u);
    EXPECT_EQ(CodeOf(first), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&first[24 + 8])), "SIMCOOKIE");
    ASSERT_EQ(second.size(), 24u + 1028u);
    EXPECT_EQ(CodeOf(second), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&second[28])), "host check success");
    ASSERT_EQ(third.size(), 24u + 2032u);
    EXPECT_EQ(CodeOf(third), 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&third[24 + 8])), "SIMCOOKIE");
    EXPECT_FALSE(ui_test::WaitReadable(plugin.Fd(), 50)) << "more than the three answers";
    plugin.Close();
    EXPECT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
}

// A program of another user opens with a request, and the client's own plugin logs in
// after it while it waits for answers: its connection is closed without a byte of answer
// (the login result with the cookie included), one line names its uid, no slot and no
// event came of it, and the plugin is served as ever.
void ExpectRefusedThenThePluginServed(uint16_t port, uid_t other, const Opening& o) {
    SCOPED_TRACE(std::string("uid ") + std::to_string(other) + ", " + o.name);
    const size_t refused = ui_test::LogCount(RefusedLine(other));
    ui_test::PluginPeer peer(other, o.bytes);
    ASSERT_TRUE(peer.Go(port));
    EXPECT_TRUE(WaitFor([&] { return ui_test::LogCount(RefusedLine(other)) == refused + 1; }));
    EXPECT_EQ(ConnectCount(), 0u);
    EXPECT_EQ(QueuedEvents(), 0u);
    ExpectThePluginsAnswers(port);
    const ui_test::PluginPeer::Seen seen = peer.Wait();
    ASSERT_TRUE(seen.started && seen.userTaken && seen.connected)
        << "the other user's program did not run as uid " << other;
    EXPECT_TRUE(seen.closed);
    EXPECT_FALSE(seen.timedOut);
    EXPECT_EQ(seen.got.size(), 0u) << "bytes reached the other user";
}

TEST_F(UiPluginListenerTest, ProgramsOfTheClientsOwnUserAreServedWhateverTheyOpenWith) {
    for (const Opening& o : Openings()) {
        SCOPED_TRACE(o.name);
        ui_test::PluginPeer peer(geteuid(), o.bytes);
        ASSERT_TRUE(peer.Go(uint16_t(Start().port)));
        int32_t event = -1;
        PluginLoginPayload payload{};
        ASSERT_TRUE(NextEvent(&event, &payload));
        EXPECT_EQ(event, o.event);
        if (event == PLUGIN_EVENT_LOGIN) {
            EXPECT_STREQ(payload.acUserName, "mallory");
        }
        PluginTip tip{};
        std::strcpy(tip.cTip, "served");
        EXPECT_EQ(UI_PluginTip_Send(uint32_t(o.event), &tip), 0u);
        const ui_test::PluginPeer::Seen seen = peer.Wait();
        ASSERT_TRUE(seen.started && seen.userTaken && seen.connected);
        EXPECT_FALSE(seen.closed);
        ASSERT_EQ(seen.got.size(), 24u + 1028u);
        EXPECT_EQ(CodeOf(seen.got), uint32_t(o.event));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&seen.got[28])), "served");
        EXPECT_TRUE(WaitFor([] { return ConnectCount() == 0; }));
    }
    EXPECT_EQ(ui_test::LogCount("[connection of another user refused]"), 0u);
    EXPECT_EQ(ui_test::LogCount("could not be learnt"), 0u);
}

TEST_F(UiPluginListenerTest, AnotherUsersProgramIsClosedUnansweredAndThePluginKeepsItsAnswers) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the other users are played by processes that take uid "
                        "65534 and 1000";
    }
    const size_t registered = ui_test::LogCount("[Save plugin socket connect][source :3]");
    for (uid_t other : {uid_t(65534), uid_t(1000)}) {
        for (const Opening& o : Openings()) {
            ExpectRefusedThenThePluginServed(uint16_t(Start().port), other, o);
        }
    }
    // Only the plugin's connections ever registered, one for each case.
    EXPECT_EQ(ui_test::LogCount("[Save plugin socket connect][source :3]"), registered + 10);
}

// The same when the client is not root and the other program is root's: the listener
// runs in a child that has become uid 65534; root's programs were started before that.
TEST(UiPluginListenerUser, RootsProgramIsRefusedWhenTheClientIsNotRoot) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the client is played by a child that becomes uid 65534";
    }
    constexpr uid_t kClient = 65534;
    // A folder the client's user can reach wherever the clone lies: its platform folders
    // and log go there.
    char dir[] = "/tmp/vt-plugin-user-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chown(dir, kClient, kClient), 0);
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        std::vector<std::unique_ptr<ui_test::PluginPeer>> roots;
        const std::vector<Opening> openings = Openings();
        for (const Opening& o : openings) {
            roots.push_back(std::make_unique<ui_test::PluginPeer>(0, o.bytes));
        }
        ASSERT_EQ(setgroups(0, nullptr), 0);
        ASSERT_EQ(setresgid(kClient, kClient, kClient), 0);
        ASSERT_EQ(setresuid(kClient, kClient, kClient), 0);
        setenv("TMPDIR", dir, 1);
        ui_test::LinkSetUp();
        // On the fixed port, as this program's other listener: it holds that port's lock.
        ASSERT_EQ(UI_PluginThread_Create(), 0u);
        ASSERT_TRUE(WaitFor([] { return uiPluginListenPortGet() != 0; }));
        const uint16_t port = uint16_t(uiPluginListenPortGet());
        for (size_t i = 0; i < openings.size(); ++i) {
            SCOPED_TRACE(openings[i].name);
            const size_t refused = ui_test::LogCount(RefusedLine(0));
            ASSERT_TRUE(roots[i]->Go(port));
            EXPECT_TRUE(WaitFor([&] { return ui_test::LogCount(RefusedLine(0)) == refused + 1; }));
            EXPECT_EQ(ConnectCount(), 0u);
            EXPECT_EQ(QueuedEvents(), 0u);
            ExpectThePluginsAnswers(port);
            const ui_test::PluginPeer::Seen seen = roots[i]->Wait();
            ASSERT_TRUE(seen.started && seen.connected);
            EXPECT_TRUE(seen.closed);
            EXPECT_EQ(seen.got.size(), 0u) << "bytes reached root's program";
        }
    }, 120000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
    vt_test::RemoveTree(dir);
}

// A connection whose descriptor select() cannot watch is refused, and the listener goes
// on. Run in a child: every descriptor below 1024 is taken there, and the listener must
// be the child's own.
TEST(UiPluginListenerFd, ConnectionAboveTheSelectLimitIsClosedAndLogged) {
    constexpr int kNoRoom = 77;
    const vt_test::ChildResult r = vt_test::RunInChild([]() -> int {
        rlimit lim{};
        if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_max < 1100) return kNoRoom;
        lim.rlim_cur = 1100;
        if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return kNoRoom;
        ui_test::LinkSetUp();
        if (Start().port == 0) {
            ADD_FAILURE() << "the listener did not start";
            return 1;
        }
        // Take every free descriptor up to 1023; keep one low one to give back later.
        std::vector<int> fillers;
        for (;;) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            if (fd >= 1024) {
                close(fd);
                break;
            }
            fillers.push_back(fd);
        }
        {
            Client high;
            EXPECT_TRUE(high.Ok());
            EXPECT_TRUE(high.SeesClose());
        }
        EXPECT_EQ(ui_test::LogCount("[Process plugin listen port][fd 1024 cannot be watched, "
                                    "connection refused]") +
                      ui_test::LogCount("[Process plugin listen port][fd 1025 cannot be watched, "
                                        "connection refused]"),
                  1u);
        EXPECT_EQ(ConnectCount(), 0u);
        // With a low descriptor free again, the next plugin is served.
        close(fillers.front());
        close(fillers.back());
        Client low;
        EXPECT_TRUE(low.Ok());
        EXPECT_TRUE(low.Request(4));
        EXPECT_TRUE(WaitFor([] { return QueuedEvents() == 1; }));
        int32_t event = -1;
        PluginLoginPayload payload{};
        EXPECT_EQ(UI_PluginEvent_Process(&event, &payload), 0u);
        EXPECT_EQ(event, PLUGIN_EVENT_STOP_CNEM);
        return 0;
    });
    if (r.exited && r.exitCode == kNoRoom) {
        GTEST_SKIP() << "no room for 1100 descriptors";
    }
    EXPECT_TRUE(vt_test::ExitedWith(r, 0));
}

// ---- The port search alone ----------------------------------------------------------------------

std::atomic<int> g_inUseBelow{0};
std::atomic<int> g_bindErrno{0};

// Ports below g_inUseBelow report "in use"; with g_bindErrno set, every bind fails so.
int32_t FakeBind(int32_t fd, const sockaddr* addr, socklen_t len) {
    const int port = ntohs(reinterpret_cast<const sockaddr_in*>(addr)->sin_port);
    if (g_bindErrno != 0) {
        errno = g_bindErrno;
        return -1;
    }
    if (port < g_inUseBelow) {
        errno = EADDRINUSE;
        return -1;
    }
    return bind(fd, addr, len) == 0 ? 0 : -1;
}

TEST(UiPluginListenOpen, GoesOnOnlyWhileThePortIsInUseAndNeverPast65535) {
    ui_test::LinkSetUp();
    (void)Start();  // the running listener must not be disturbed by these
    const std::string failure = "[Proces plugin listen port create][Fail to Bind port]";
    uiPluginBindSet(FakeBind);
    const struct {
        const char* name;
        uint32_t from;
        int inUseBelow, err;
        uint32_t result, port;
        size_t failures;
    } cases[] = {
        {"three ports in use", 29300, 29303, 0, 0, 29303, 3},
        {"permission refused", 29300, 0, EACCES, 1, 0, 1},
        {"address not available", 29300, 0, EADDRNOTAVAIL, 1, 0, 1},
        {"last port in use", 65535, 65536, 0, 1, 0, 1},
        {"in use up to the end", 65530, 65536, 0, 1, 0, 6},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        g_inUseBelow = k.inUseBelow;
        g_bindErrno = k.err;
        const size_t before = ui_test::LogCount(failure);
        int32_t fd = -1;
        uint32_t port = 0;
        EXPECT_EQ(uiPluginListenOpen(k.from, &fd, &port), k.result);
        EXPECT_EQ(ui_test::LogCount(failure) - before, k.failures);
        if (k.result == 0) {
            EXPECT_EQ(port, k.port);
            sockaddr_in a{};
            socklen_t len = sizeof(a);
            ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
            EXPECT_EQ(ntohs(a.sin_port), k.port);
            EXPECT_EQ(ntohl(a.sin_addr.s_addr), uint32_t(INADDR_LOOPBACK));
            close(fd);
        } else {
            EXPECT_EQ(fd, -1);
        }
    }
    uiPluginBindSet(nullptr);
}

}  // namespace
