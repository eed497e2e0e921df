// Fuzz target of the service link's packet layer: the packet reader, the synchronous
// exchange, the urgent-event decoder and the reply-name tables, over a socket pair whose
// other end the input plays.
//
// Input: one byte of mode, then
//   mode 0 (reader): the stream the peer sends, cut into chunks; each chunk is a length
//     byte and that many bytes (0xFF: the rest). The peer writes them from a thread of
//     its own, one write each, and closes. Every packet read is also put on "FAST" as the
//     receive task does and decoded as an urgent event.
//   mode 1 (exchange): a length byte and the late bytes pending before the exchange, a
//     request payload length byte, a request code, then the reply chunks as in mode 0;
//     one last byte: bit 0 set keeps the peer's end open after a whole reply.
//   mode 2 (names): pairs of a table byte and a 32-bit code.
//
// Checks against a model of the stream written here: every packet read is the next one
// of the stream, byte for byte, followed by its zero byte; a head announcing more than
// the limit, or a stream that ends early, gives -1 and holds nothing; the exchange's
// answer is the first packet after the request, whatever was pending before; the
// socket's receive time-out is cleared afterwards; the request left whole; an urgent
// event is the one its code names; a reply name is the table's entry, the error name past
// the bound, cleared for an empty entry, and never past the caller's 256 bytes; and
// every byte the link allocated is given back.

#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_urgent.h"
#include "uko_mempt.h"
#include "uko_start.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;

using Bytes = std::vector<uint8_t>;

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

std::vector<Bytes> Chunks(Reader& in) {
    std::vector<Bytes> out;
    while (in.Left() > 0 && out.size() < 64) {
        const uint8_t n = in.Byte();
        std::string s;
        if (n == 0xFF) {
            s = in.Rest();
        } else {
            for (uint8_t i = 0; i < n && in.Left() > 0; ++i) s.push_back(static_cast<char>(in.Byte()));
        }
        out.emplace_back(s.begin(), s.end());
    }
    return out;
}

Bytes Join(const std::vector<Bytes>& chunks) {
    Bytes all;
    for (const Bytes& c : chunks) all.insert(all.end(), c.begin(), c.end());
    return all;
}

// The peer: reads `expect` bytes of request first (when any), then writes its chunks,
// one write each with a yield between, and shuts its sending side unless told not to.
struct Peer {
    int fd = -1;
    size_t expect = 0;
    Bytes received;
    std::vector<Bytes> chunks;
    bool close = true;
    pthread_t thread{};

    static void* Run(void* arg) {
        Peer* p = static_cast<Peer*>(arg);
        uint8_t buf[4096];
        while (p->received.size() < p->expect) {
            const ssize_t n = recv(p->fd, buf, sizeof(buf), 0);
            if (n <= 0) break;
            p->received.insert(p->received.end(), buf, buf + n);
        }
        for (const Bytes& c : p->chunks) {
            size_t done = 0;
            while (done < c.size()) {
                const ssize_t n = send(p->fd, c.data() + done, c.size() - done, MSG_NOSIGNAL);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            sched_yield();
        }
        if (p->close) shutdown(p->fd, SHUT_WR);
        return nullptr;
    }
    void Start() { FUZZ_CHECK(pthread_create(&thread, nullptr, Run, this) == 0, "peer thread"); }
    void Join() { pthread_join(thread, nullptr); }
};

// The packets a stream holds whole, in order, and whether the stream ends with one that
// is over the limit (after which nothing more is read).
struct Model {
    std::vector<Bytes> packets;
    bool endsOverLimit = false;
};

Model Split(const Bytes& stream) {
    Model m;
    size_t pos = 0;
    while (stream.size() - pos >= UI_PACKET_HEAD_LEN) {
        const uint32_t len = Be32(&stream[pos + 20]);
        if (len > UI_PACKET_PAYLOAD_MAX) {
            m.endsOverLimit = true;
            break;
        }
        if (stream.size() - pos - UI_PACKET_HEAD_LEN < len) break;
        m.packets.emplace_back(stream.begin() + pos, stream.begin() + pos + UI_PACKET_HEAD_LEN + len);
        pos += UI_PACKET_HEAD_LEN + len;
    }
    return m;
}

std::string Hex(const Bytes& b, size_t limit = 64) {
    return Printable(std::string(b.begin(), b.end()), limit);
}

void Pair(int sv[2]) { FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair"); }

int32_t ExpectedEvent(uint32_t code) {
    switch (code >> 16) {
        case MSGCODE_MODULE_URGENT: {
            static const int32_t events[] = {URGENT_EVENT_LOGOUT, URGENT_EVENT_IGNORED,
                                             URGENT_EVENT_CNEM_RECONNECT_FAIL, URGENT_EVENT_VNIC_ERROR,
                                             URGENT_EVENT_DHCP_ERROR};
            return code - URGENT_MSGCODE_LOGOUT < 5 ? events[code - URGENT_MSGCODE_LOGOUT] : URGENT_EVENT_NONE;
        }
        case MSGCODE_MODULE_IPSEC:
            return URGENT_EVENT_IPSEC_STATUS;
        default:
            return URGENT_EVENT_EXIT;
    }
}

std::string ExpectedName(const char* const* table, uint32_t bound, uint32_t code) {
    const uint32_t index = code & 0xFFFF;
    const char* entry = index < bound ? table[index] : g_errorMsgCodeTable[0];
    return entry != nullptr ? entry : "";
}

// Decodes a packet the way the receive task hands it on, through "FAST".
void Urgent(const Bytes& packet) {
    FUZZ_CHECK(UI_Queue_Write(g_fastQueueId.load(), packet.data(), static_cast<uint32_t>(packet.size())) == 0,
               "the packet did not go on FAST");
    Guarded name(UI_MSGCODE_NAME_SIZE);
    int32_t event = -1;
    int32_t show = -5;
    FUZZ_CHECK(UI_UrgentEvent_Process(&event, reinterpret_cast<char*>(name.data()), &show) == 0, "decode");
    FUZZ_CHECK(name.GuardIntact(), "the event's name went past its buffer");
    const uint32_t code = Be32(&packet[16]);
    const std::string what = "code " + std::to_string(code) + " gave event " + std::to_string(event);
    FUZZ_CHECK(event == ExpectedEvent(code), what);
    if (event == URGENT_EVENT_IPSEC_STATUS) {
        FUZZ_CHECK(show == URGENT_SHOW_CRITICAL, what + ": show type");
        const std::string expect = ExpectedName(g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_BOUND, code);
        FUZZ_CHECK(std::string(reinterpret_cast<const char*>(name.data())) == expect, what + ": name");
    } else {
        FUZZ_CHECK(show == -5 && name.Untouched(0), what + ": the name or show type was written");
    }
}

void ReaderMode(Reader& in) {
    int sv[2];
    Pair(sv);
    Peer peer;
    peer.fd = sv[1];
    peer.chunks = Chunks(in);
    const Bytes stream = Join(peer.chunks);
    const Model model = Split(stream);
    peer.Start();
    size_t i = 0;
    for (;;) {
        uint8_t* packet = nullptr;
        const int32_t len = UI_Packet_Recv(sv[0], &packet);
        if (len < 0) {
            FUZZ_CHECK(packet == nullptr, "a failed read handed a buffer over");
            break;
        }
        FUZZ_CHECK(i < model.packets.size(), "a packet read that the stream does not hold whole: " + Hex(stream));
        const Bytes& expect = model.packets[i];
        FUZZ_CHECK(static_cast<size_t>(len) + UI_PACKET_HEAD_LEN == expect.size(), "payload length");
        FUZZ_CHECK(std::memcmp(packet, expect.data(), expect.size()) == 0 && packet[expect.size()] == 0,
                   "packet " + std::to_string(i) + " differs from the stream " + Hex(expect));
        Bytes got(packet, packet + expect.size());
        (void)UKO_Free(packet);
        Urgent(got);
        ++i;
    }
    FUZZ_CHECK(i == model.packets.size(), "only " + std::to_string(i) + " of " +
                                              std::to_string(model.packets.size()) + " whole packets read");
    peer.Join();
    close(sv[0]);
    close(sv[1]);
}

void ExchangeMode(Reader& in) {
    const uint8_t lateLen = in.Byte();
    Bytes late;
    for (uint8_t k = 0; k < lateLen && in.Left() > 0; ++k) late.push_back(in.Byte());
    const uint32_t payloadLen = in.Byte();
    const uint32_t code = in.U32();
    // The reply chunks run to the last byte, which keeps the end open or not.
    std::string rest = in.Rest();
    const bool keepOpen = !rest.empty() && (static_cast<uint8_t>(rest.back()) & 1) != 0;
    if (!rest.empty()) rest.pop_back();
    Reader replyIn(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());

    Bytes request(UI_PACKET_HEAD_LEN + payloadLen);
    FUZZ_CHECK(UI_PacketHead_Set(reinterpret_cast<PacketHead*>(request.data()), MARK_UI, MARK_TULM,
                                 CONNECT_TYPE_SYNC, MSG_TYPE_CFM, code,
                                 static_cast<uint32_t>(request.size())) == 0,
               "head");
    for (uint32_t k = 0; k < payloadLen; ++k) request[UI_PACKET_HEAD_LEN + k] = static_cast<uint8_t>(k * 7);
    const Bytes sent = request;

    int sv[2];
    Pair(sv);
    // What came too late for an earlier request is waiting before the exchange starts.
    if (!late.empty()) {
        FUZZ_CHECK(send(sv[1], late.data(), late.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(late.size()),
                   "late bytes");
    }
    Peer peer;
    peer.fd = sv[1];
    peer.expect = request.size();
    peer.chunks = Chunks(replyIn);
    const Bytes stream = Join(peer.chunks);
    const Model model = Split(stream);
    const bool whole = !model.packets.empty();
    // An open end after a reply that is not whole would only be waited out.
    peer.close = !(keepOpen && whole);
    peer.Start();

    uint8_t* reply = nullptr;
    uint32_t replyLen = 0;
    // Long enough never to run out on a loaded machine: a reply that is whole returns at
    // once, and the peer closes after any other.
    const uint32_t rc = UI_Packet_SyncSend(sv[0], request.data(), static_cast<uint32_t>(request.size()), &reply,
                                           &replyLen, 30000);
    peer.Join();
    FUZZ_CHECK(peer.received == sent, "the peer did not get the request as built");
    FUZZ_CHECK(request == sent, "the request was changed");
    timeval tv{1, 1};
    socklen_t tl = sizeof(tv);
    FUZZ_CHECK(getsockopt(sv[0], SOL_SOCKET, SO_RCVTIMEO, &tv, &tl) == 0 && tv.tv_sec == 0 && tv.tv_usec == 0,
               "the receive time-out was left set");
    const std::string what = "late [" + Hex(late) + "] reply [" + Hex(stream) + "] gave " + std::to_string(rc);
    if (whole) {
        const Bytes& expect = model.packets.front();
        FUZZ_CHECK(rc == 0, what);
        FUZZ_CHECK(replyLen == expect.size() && std::memcmp(reply, expect.data(), expect.size()) == 0 &&
                       reply[expect.size()] == 0,
                   what + ": not the first packet of the reply");
        (void)UKO_Free(reply);
    } else {
        FUZZ_CHECK(rc == 1 && reply == nullptr, what + ": an exchange without a whole reply succeeded");
    }
    close(sv[0]);
    close(sv[1]);
}

void NamesMode(Reader& in) {
    struct Table {
        const char* const* table;
        uint32_t bound;
    };
    static const Table tables[] = {
        {g_prefMsgCodeTable, UI_PREF_MSGCODE_BOUND},     {g_authMsgCodeTable, UI_AUTH_MSGCODE_BOUND},
        {g_authNormalMsgCodeTable, UI_AUTH_NORMAL_MSGCODE_BOUND}, {g_epsMsgCodeTable, UI_EPS_MSGCODE_BOUND},
        {g_cnemMsgCodeTable, UI_CNEM_MSGCODE_BOUND},     {g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_BOUND},
        {g_logoutMsgCodeTable, UI_LOGOUT_MSGCODE_BOUND}, {g_proxyMsgCodeTable, UI_PROXY_MSGCODE_COUNT},
        {g_cfmMsgCodeTable, UI_CFM_MSGCODE_BOUND},       {g_errorMsgCodeTable, UI_ERROR_MSGCODE_COUNT},
    };
    while (in.Left() > 0) {
        const Table& t = tables[in.Byte() % (sizeof(tables) / sizeof(tables[0]))];
        const uint32_t code = in.U32();
        Guarded name(UI_MSGCODE_NAME_SIZE);
        UI_MsgCodeName_Get(t.table, t.bound, code, reinterpret_cast<char*>(name.data()));
        FUZZ_CHECK(name.GuardIntact(), "a name went past the caller's buffer");
        const std::string expect = ExpectedName(t.table, t.bound, code);
        const char* got = reinterpret_cast<const char*>(name.data());
        FUZZ_CHECK(strnlen(got, UI_MSGCODE_NAME_SIZE) < UI_MSGCODE_NAME_SIZE && expect == got,
                   "code " + std::to_string(code) + " named " + Printable(got) + ", not " + expect);
        if (expect.empty()) {
            for (size_t k = 0; k < UI_MSGCODE_NAME_SIZE; ++k) {
                FUZZ_CHECK(name.data()[k] == 0, "an empty entry left the buffer uncleared");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    FUZZ_CHECK(UI_Queue_Init() == 0, "the link's queues");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    switch (in.Byte() % 3) {
        case 0:
            ReaderMode(in);
            break;
        case 1:
            ExchangeMode(in);
            break;
        default:
            NamesMode(in);
            break;
    }
    FUZZ_CHECK(UKO_MemFreeSizeGet() == freeBefore, "the link kept memory it had allocated");
    return 0;
}
