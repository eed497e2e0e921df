// Fuzz target of the plugin listener: its accept, the per-slot reassembly of packets and
// the registration of a slot, and UI_PluginEvent_Process, fed through loopback
// connections the input opens, writes and closes.
//
// The receive task's loop is run here one round at a time, exactly as the task runs it
// (the descriptor set from the table, select, every ready slot, then the listener), with
// a select that does not wait, so that what a round reads depends on the input alone.
//
// Input: a list of steps, each an operation byte and its operands:
//   0 open a connection;  1 k n bytes: n raw bytes on connection k;
//   2 k dest type code lenLo lenHi bytes: a packet built with that head (payload up to
//     the length, zeros past the input);  3 k: close connection k;  other: one round.
//
// Checks: the table never holds more than ten connections nor more plugins than
// connections; every event read is the decoding of a whole packet one connection sent to
// the front end on the asynchronous type (its code, a login's first 768 payload bytes
// and zeros after a short one, the record untouched for any other request); when no
// connection was closed or refused and no head was over the limit, every such packet
// comes out; every byte the link allocated is given back once the table is closed.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "jqr_queue.h"
#include "ui_plugin.h"
#include "ui_plugin_inner.h"
#include "uko_mempt.h"
#include "uko_start.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;
using Bytes = std::vector<uint8_t>;

int g_listenFd = -1;
uint32_t g_port = 0;

int32_t BindLoopbackAnyPort(int32_t fd, const sockaddr*, socklen_t) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    return bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
}

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

struct Conn {
    int fd = -1;
    Bytes sent;
};

// One round of the receive task.
bool Round() {
    fd_set set;
    const int32_t maxFd = UI_PluginFdSet_Build(g_listenFd, &set);
    timeval none{0, 0};
    const int ready = select(maxFd + 1, &set, nullptr, nullptr, &none);
    if (ready <= 0) return false;
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
        uiPluginTableCopy(slots, nullptr, nullptr);
        const int32_t fd = slots[i].iSocket;
        if (fd != UI_SOCKET_NONE && FD_ISSET(fd, &set)) {
            (void)UI_PluginPacket_RecvProc(i, &set);
        }
    }
    (void)UI_PluginListen_Accept(g_listenFd, &set, maxFd);
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uint32_t connections = 0, plugins = 0;
    uiPluginTableCopy(slots, &connections, &plugins);
    uint32_t open = 0;
    for (const ConnectInfo& s : slots) open += s.iSocket != UI_SOCKET_NONE ? 1 : 0;
    FUZZ_CHECK(connections <= PLUGIN_CONNECT_MAX && plugins <= connections && open == connections,
               "table counts: " + std::to_string(connections) + " connections, " + std::to_string(plugins) +
                   " plugins, " + std::to_string(open) + " open slots");
    return true;
}

void Rounds() {
    // Each round reads what is pending; a connection with more keeps being ready.
    for (int i = 0; i < 256 && Round(); ++i) {
    }
}

// The event and login payload a whole packet stands for.
struct Expected {
    int32_t event;
    Bytes payload;  // a login's record as it should read
    bool operator==(const Expected& o) const { return event == o.event && payload == o.payload; }
};

Expected Decode(const Bytes& packet) {
    const uint32_t code = Be32(&packet[16]);
    Expected e{code >= PLUGIN_EVENT_LOGIN && code <= PLUGIN_EVENT_GET_INFO ? static_cast<int32_t>(code)
                                                                             : PLUGIN_EVENT_NONE,
               {}};
    if (e.event == PLUGIN_EVENT_LOGIN) {
        e.payload.assign(sizeof(PluginLoginPayload), 0);
        const size_t n = std::min(packet.size() - UI_PACKET_HEAD_LEN, sizeof(PluginLoginPayload));
        std::memcpy(e.payload.data(), packet.data() + UI_PACKET_HEAD_LEN, n);
    }
    return e;
}

// The events a connection's stream stands for, and whether it broke the connection.
std::vector<Expected> Model(const Bytes& stream, bool* overLimit) {
    std::vector<Expected> out;
    size_t pos = 0;
    while (stream.size() - pos >= UI_PACKET_HEAD_LEN) {
        const uint32_t len = Be32(&stream[pos + 20]);
        if (len > PLUGIN_PACKET_PAYLOAD_MAX) {
            *overLimit = true;
            break;
        }
        if (stream.size() - pos - UI_PACKET_HEAD_LEN < len) break;
        const Bytes packet(stream.begin() + pos, stream.begin() + pos + UI_PACKET_HEAD_LEN + len);
        if (Be32(&packet[4]) == MARK_UI && Be32(&packet[8]) == CONNECT_TYPE_ASYNC) out.push_back(Decode(packet));
        pos += packet.size();
    }
    return out;
}

void Send(Conn& c, const Bytes& b) {
    if (c.fd < 0 || b.empty()) return;
    const ssize_t n = send(c.fd, b.data(), b.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) c.sent.insert(c.sent.end(), b.begin(), b.begin() + n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    FUZZ_CHECK(UI_PluginQueue_Init() == 0, "the plugin queues");
    // Never the fixed port: a plugin of another program may look for a listener there.
    uiPluginBindSet(BindLoopbackAnyPort);
    int32_t fd = -1;
    FUZZ_CHECK(uiPluginListenOpen(PLUGIN_LISTEN_PORT, &fd, &g_port) == 0, "the listener");
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    FUZZ_CHECK(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0, "the listener's port");
    g_port = ntohs(addr.sin_port);
    g_listenFd = fd;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    Reader in(data, size);
    std::vector<Conn> conns;
    bool closedAny = false;
    while (in.Left() > 0) {
        const uint8_t op = in.Byte();
        switch (op % 8) {
            case 0: {
                if (conns.size() >= 12) break;
                Conn c;
                c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                FUZZ_CHECK(c.fd >= 0, "socket");
                sockaddr_in addr{};
                addr.sin_family = AF_INET;
                addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                addr.sin_port = htons(static_cast<uint16_t>(g_port));
                // A full backlog is the machine's answer, not the listener's: such a
                // connection counts as refused.
                if (connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
                    close(c.fd);
                    c.fd = -1;
                    closedAny = true;
                }
                conns.push_back(std::move(c));
                break;
            }
            case 1: {
                const uint8_t k = in.Byte();
                const uint8_t n = in.Byte();
                Bytes b;
                for (uint8_t i = 0; i < n && in.Left() > 0; ++i) b.push_back(in.Byte());
                if (!conns.empty()) Send(conns[k % conns.size()], b);
                break;
            }
            case 2: {
                const uint8_t k = in.Byte();
                const uint32_t dest = in.Byte();
                const uint32_t type = in.Byte();
                const uint32_t code = in.Byte();
                const uint32_t len = in.U16() % 2048;
                Bytes b;
                for (uint32_t w : {uint32_t(MARK_PLUGIN), dest, type, 0u, code, len}) {
                    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
                }
                for (uint32_t i = 0; i < len; ++i) b.push_back(in.Byte());
                if (!conns.empty()) Send(conns[k % conns.size()], b);
                break;
            }
            case 3: {
                const uint8_t k = in.Byte();
                if (!conns.empty() && conns[k % conns.size()].fd >= 0) {
                    close(conns[k % conns.size()].fd);
                    conns[k % conns.size()].fd = -1;
                    closedAny = true;
                }
                break;
            }
            default:
                Rounds();
                break;
        }
    }
    Rounds();

    std::vector<Expected> expected;
    bool overLimit = false;
    for (const Conn& c : conns) {
        const std::vector<Expected> e = Model(c.sent, &overLimit);
        expected.insert(expected.end(), e.begin(), e.end());
    }
    uint32_t queued = 0;
    FUZZ_CHECK(UKO_Queue_MsgNumGet(g_pluginEventQueueId.load(), &queued) == 0, "queue count");
    const size_t expectedCount = expected.size();
    for (uint32_t i = 0; i < queued; ++i) {
        int32_t event = -7;
        Guarded payload(sizeof(PluginLoginPayload));
        FUZZ_CHECK(UI_PluginEvent_Process(&event, reinterpret_cast<PluginLoginPayload*>(payload.data())) == 0,
                   "an event could not be read");
        FUZZ_CHECK(payload.GuardIntact(), "the login payload went past its record");
        Expected got{event, {}};
        if (event == PLUGIN_EVENT_LOGIN) {
            got.payload.assign(payload.data(), payload.data() + sizeof(PluginLoginPayload));
        } else {
            FUZZ_CHECK(payload.Untouched(0), "the payload of event " + std::to_string(event) + " was written");
        }
        const auto it = std::find(expected.begin(), expected.end(), got);
        FUZZ_CHECK(it != expected.end(), "event " + std::to_string(event) + " matches no packet sent to the front end");
        expected.erase(it);
    }
    if (!closedAny && !overLimit && conns.size() <= PLUGIN_CONNECT_MAX) {
        FUZZ_CHECK(queued == expectedCount, std::to_string(queued) + " events out of " +
                                                std::to_string(expectedCount) + " whole requests");
    }

    for (Conn& c : conns) {
        if (c.fd >= 0) close(c.fd);
    }
    // Let the listener take what is left of refused or closed connections before the
    // table goes: then nothing of this input stays behind for the next.
    Rounds();
    uiPluginConnect_CloseAll();
    Rounds();
    FUZZ_CHECK(UKO_MemFreeSizeGet() == freeBefore, "the plugin side kept memory it had allocated");
    return 0;
}
