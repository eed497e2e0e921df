// Fuzz target of the byte-order converters and of the configuration, site and
// authentication requests, on replies the input gives.
//
// Input: one byte picks the case. For a converter, the record's bytes follow. For a
// request, a profile name or path up to a zero byte, a request record's bytes (as many
// as its size; zeros past the input), then the replies: a count byte, and for each a
// 32-bit code, a length byte pair (payload bytes, little-endian; 0xFFFF: the rest) and
// the payload, whose head the target builds; a reply count with bit 7 set instead
// declares 16 more payload bytes in the last head than it sends (a reply cut short).
// The engine's end is a socket pair the target adds to the link's table; its peer reads
// the request whole, writes the replies and closes.
//
// Checks: a converter swapped twice gives the record back and never reaches past it,
// whatever its counts say; a request reads no record out of a reply that does not hold
// it whole (the caller's record keeps every byte), writes nothing past the caller's
// buffers, names the reply with a key of its tables (or the empty text), and the
// configuration read gives back the record the reply carried; every byte the link
// allocated is given back.

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "ui_auth.h"
#include "ui_cfm.h"
#include "ui_connect.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_pref.h"
#include "uko_mempt.h"
#include "uko_start.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;
using Bytes = std::vector<uint8_t>;

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

void PutBe32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// The service's end: reads one whole request, answers with the replies, closes.
struct Engine {
    int fd = -1;
    Bytes replies;
    Bytes request;
    pthread_t thread{};

    bool ReadExact(uint8_t* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = recv(fd, buf + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    static void* Run(void* arg) {
        Engine* e = static_cast<Engine*>(arg);
        uint8_t head[24];
        if (e->ReadExact(head, sizeof(head))) {
            e->request.assign(head, head + 24);
            Bytes payload(Be32(head + 20) <= UI_PACKET_PAYLOAD_MAX ? Be32(head + 20) : 0);
            if (e->ReadExact(payload.data(), payload.size())) {
                e->request.insert(e->request.end(), payload.begin(), payload.end());
            }
            size_t done = 0;
            while (done < e->replies.size()) {
                const ssize_t n = send(e->fd, e->replies.data() + done, e->replies.size() - done, MSG_NOSIGNAL);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
        }
        shutdown(e->fd, SHUT_WR);
        return nullptr;
    }
};

struct Reply {
    uint32_t code = 0;
    Bytes payload;
};

std::set<std::string> AllNames() {
    std::set<std::string> names{""};
    const auto add = [&names](const char* const* table, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            if (table[i] != nullptr) names.insert(table[i]);
        }
    };
    add(g_errorMsgCodeTable, UI_ERROR_MSGCODE_COUNT);
    add(g_prefMsgCodeTable, UI_PREF_MSGCODE_COUNT);
    add(g_authMsgCodeTable, UI_AUTH_MSGCODE_COUNT);
    add(g_authNormalMsgCodeTable, UI_AUTH_NORMAL_MSGCODE_COUNT);
    add(g_epsMsgCodeTable, UI_EPS_MSGCODE_COUNT);
    add(g_cnemMsgCodeTable, UI_CNEM_MSGCODE_COUNT);
    add(g_logoutMsgCodeTable, UI_LOGOUT_MSGCODE_COUNT);
    add(g_cfmMsgCodeTable, UI_CFM_MSGCODE_COUNT);
    return names;
}

// A caller's out-value: a block of fill with guard bytes behind it.
struct Out {
    explicit Out(size_t n) : block(n) {}
    Guarded block;
    template <typename T>
    T* As() { return reinterpret_cast<T*>(block.data()); }
    bool Untouched() const { return block.Untouched(0); }
};

template <typename T, uint32_t (*Hton)(T*), uint32_t (*Ntoh)(T*)>
void RoundTrip(Reader& in, const char* what) {
    Guarded rec(sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) rec.data()[i] = in.Byte();
    const Bytes before(rec.data(), rec.data() + sizeof(T));
    FUZZ_CHECK(Hton(reinterpret_cast<T*>(rec.data())) == 0, what);
    FUZZ_CHECK(rec.GuardIntact(), std::string(what) + ": the swap to network order went past the record");
    FUZZ_CHECK(Ntoh(reinterpret_cast<T*>(rec.data())) == 0, what);
    FUZZ_CHECK(rec.GuardIntact(), std::string(what) + ": the swap to host order went past the record");
    FUZZ_CHECK(std::memcmp(rec.data(), before.data(), sizeof(T)) == 0,
               std::string(what) + ": two swaps did not give the record back");
}

// The outcome of one request, for the checks every case shares.
struct Outcome {
    int64_t rc = -1;
    std::string name;
};

const std::set<std::string>& Names() {
    static const std::set<std::string> names = AllNames();
    return names;
}

// A record the request may fill from the reply's payload at offset 0: untouched unless
// the first reply holds it whole.
void RecordRule(const Out& rec, size_t size, const std::vector<Reply>& replies, bool cut, const std::string& what) {
    FUZZ_CHECK(rec.block.GuardIntact(), what + ": written past the record");
    const bool whole = !replies.empty() && replies.front().payload.size() >= size && !(cut && replies.size() == 1);
    if (!whole) {
        FUZZ_CHECK(rec.Untouched(), what + ": a record taken from a reply that does not hold it");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t which = in.Byte() % 16;
    switch (which) {
        case 0:
            RoundTrip<CFM_SYSCONFIG_S, UI_SysConfig_Hton, UI_SysConfig_Ntoh>(in, "system configuration");
            return 0;
        case 1:
            RoundTrip<CFM_SESSION_S, UI_Session_Hton, UI_Session_Ntoh>(in, "session");
            return 0;
        case 2:
            RoundTrip<CFM_SSL_PROFILE_S, UI_SslProfile_Hton, UI_SslProfile_Ntoh>(in, "SSL profile");
            return 0;
        case 3:
            RoundTrip<CFM_IPSEC_PROFILE_S, UI_IpsecProfile_Hton, UI_IpsecProfile_Ntoh>(in, "IPSec profile");
            return 0;
        default:
            break;
    }

    const std::string text = in.Text();
    Bytes requestRecord(4096);
    for (uint8_t& b : requestRecord) b = in.Byte();
    const uint8_t countByte = in.Byte();
    const bool cut = (countByte & 0x80) != 0;
    const size_t count = (countByte & 0x7F) % 5;
    std::vector<Reply> replies;
    Bytes stream;
    for (size_t i = 0; i < count; ++i) {
        Reply r;
        r.code = in.U32();
        const uint16_t len = in.U16();
        if (len == 0xFFFF) {
            const std::string rest = in.Rest();
            r.payload.assign(rest.begin(), rest.end());
        } else {
            for (uint16_t k = 0; k < len && in.Left() > 0; ++k) r.payload.push_back(in.Byte());
        }
        const bool last = i + 1 == count;
        const uint32_t announced = static_cast<uint32_t>(r.payload.size()) + (cut && last ? 16 : 0);
        for (uint32_t w : {uint32_t(MARK_TULM), uint32_t(MARK_UI), uint32_t(CONNECT_TYPE_SYNC), 0u, r.code, announced}) {
            PutBe32(stream, w);
        }
        stream.insert(stream.end(), r.payload.begin(), r.payload.end());
        replies.push_back(std::move(r));
    }

    const uint64_t freeBefore = UKO_MemFreeSizeGet();
    int sv[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair");
    FUZZ_CHECK(UI_Connect_Add(sv[0], MARK_TULM, CONNECT_TYPE_SYNC) == 0, "the table took no connection");
    Engine engine;
    engine.fd = sv[1];
    engine.replies = stream;
    FUZZ_CHECK(pthread_create(&engine.thread, nullptr, Engine::Run, &engine) == 0, "engine thread");

    Out name(UI_MSGCODE_NAME_SIZE);
    Out ok(sizeof(uint32_t));
    char* pcName = name.As<char>();
    uint32_t* puiOk = ok.As<uint32_t>();
    const std::string what = "case " + std::to_string(which) + " replies [" + Printable(std::string(stream.begin(), stream.end()), 200) + "]";
    const uint32_t code0 = replies.empty() ? 0 : replies.front().code;
    int64_t rc = -1;
    switch (which) {
        case 4: {
            Out rec(sizeof(CFM_SYSCONFIG_S));
            rc = UI_CfmSysConfig_Read(pcName, puiOk, rec.As<CFM_SYSCONFIG_S>());
            RecordRule(rec, sizeof(CFM_SYSCONFIG_S), replies, cut, what);
            const bool whole = rc == 0 && replies.front().payload.size() >= sizeof(CFM_SYSCONFIG_S);
            if (rc == 0) {
                FUZZ_CHECK(*puiOk == (code0 == 0xD0002 && whole ? 1u : 0u), what + ": ok flag");
            }
            if (rc == 0 && *puiOk == 1) {
                // The record read back is the one the reply carried, in host order.
                CFM_SYSCONFIG_S expect;
                std::memcpy(&expect, replies.front().payload.data(), sizeof(expect));
                (void)UI_SysConfig_Ntoh(&expect);
                FUZZ_CHECK(std::memcmp(&expect, rec.block.data(), sizeof(expect)) == 0,
                           what + ": not the record the reply carried");
            }
            break;
        }
        case 5: {
            Out rec(sizeof(CFM_SESSION_S));
            rc = UI_CfmSession_Read(text.c_str(), pcName, puiOk, rec.As<CFM_SESSION_S>());
            RecordRule(rec, sizeof(CFM_SESSION_S), replies, cut, what);
            break;
        }
        case 6:
        case 7: {
            const uint32_t type = which == 6 ? 1 : 2;
            const size_t n = type == 1 ? sizeof(CFM_SSL_PROFILE_S) : sizeof(CFM_IPSEC_PROFILE_S);
            Out rec(n);
            rc = UI_CfmProfile_Read(text.c_str(), type, rec.block.data(), pcName, puiOk);
            RecordRule(rec, n, replies, cut, what);
            break;
        }
        case 8: {
            Out rec(sizeof(UIFIRST_CONNECT_CONF_S));
            Out result(sizeof(uint32_t));
            UISSL_FIRST_CONN req;
            std::memcpy(&req, requestRecord.data(), sizeof(req));
            rc = UI_SitePref_Process(&req, rec.As<UIFIRST_CONNECT_CONF_S>(), pcName, result.As<uint32_t>());
            RecordRule(rec, sizeof(UIFIRST_CONNECT_CONF_S), replies, cut, what);
            FUZZ_CHECK(result.block.GuardIntact(), what);
            break;
        }
        case 9: {
            Out rec(sizeof(UIGATEWAY_INFO_S) * UI_GATEWAY_ENTRY_MAX);
            Out codeOut(sizeof(uint32_t));
            rc = UI_AllSiteInfo_Get(pcName, codeOut.As<uint32_t>(), rec.As<UIGATEWAY_INFO_S>());
            RecordRule(rec, sizeof(UIGATEWAY_INFO_S) * UI_GATEWAY_ENTRY_MAX, replies, cut, what);
            FUZZ_CHECK(codeOut.block.GuardIntact(), what);
            break;
        }
        case 10: {
            Out rec(sizeof(LinkSelectInfo));
            LinkSelectInfo req;
            std::memcpy(&req, requestRecord.data(), sizeof(req));
            rc = UI_SslLink_Select(&req, pcName, puiOk, rec.As<LinkSelectInfo>());
            RecordRule(rec, sizeof(LinkSelectInfo), replies, cut, what);
            break;
        }
        case 11: {
            Out rec(sizeof(UI_CERT_INFO_S));
            rc = UI_CertInfo_Get(pcName, puiOk, rec.As<UI_CERT_INFO_S>());
            FUZZ_CHECK(rec.block.GuardIntact(), what + ": written past the certificate list");
            if (rc == 0) {
                FUZZ_CHECK(rec.As<UI_CERT_INFO_S>()->uiCertNum <= UI_CERT_NUM_MAX, what + ": a count past the tables");
            } else {
                FUZZ_CHECK(rec.Untouched(), what + ": a refused list was written");
            }
            break;
        }
        case 12: {
            Out ret(sizeof(UI_SSL_LOGIN_RET_S));
            Out result(sizeof(uint32_t));
            UI_SSL_LOGIN_S login;
            std::memcpy(&login, requestRecord.data(), sizeof(login));
            rc = UI_SslLogin_Process(&login, pcName, result.As<uint32_t>(), ret.As<UI_SSL_LOGIN_RET_S>());
            RecordRule(ret, sizeof(UI_SSL_LOGIN_RET_S), replies, cut, what);
            FUZZ_CHECK(result.block.GuardIntact(), what);
            break;
        }
        case 13: {
            Out reply(sizeof(PluginLoginReply));
            Out result(sizeof(uint32_t));
            UI_SSL_LOGIN_S login;
            std::memcpy(&login, requestRecord.data(), sizeof(login));
            rc = UI_PluginLogin_Process(&login, pcName, result.As<uint32_t>(), reply.As<PluginLoginReply>());
            RecordRule(reply, sizeof(PluginLoginReply), replies, cut, what);
            FUZZ_CHECK(result.block.GuardIntact(), what);
            break;
        }
        case 14: {
            Out policy(sizeof(UI_PWD_POLICY_S));
            PwdModifyInfo req;
            std::memcpy(&req, requestRecord.data(), sizeof(req));
            rc = UI_SslPwd_Modify(&req, pcName, puiOk, policy.As<UI_PWD_POLICY_S>());
            RecordRule(policy, sizeof(UI_PWD_POLICY_S), replies, cut, what);
            break;
        }
        default: {
            Out type(sizeof(uint32_t));
            if (requestRecord[0] & 1) {
                rc = UI_CfmProfile_SpecifyLink(text.c_str(), type.As<uint32_t>(), pcName, puiOk);
            } else {
                rc = UI_CfmProfile_Input(text.c_str(), type.As<uint32_t>(), pcName, puiOk);
            }
            FUZZ_CHECK(type.block.GuardIntact(), what);
            if (replies.empty() || replies.front().payload.size() < 4 || (cut && replies.size() == 1)) {
                FUZZ_CHECK(type.Untouched(), what + ": a link type taken from a reply without one");
            }
            break;
        }
    }
    FUZZ_CHECK(rc == 0 || rc == 1, what + ": result " + std::to_string(rc));
    FUZZ_CHECK(name.block.GuardIntact() && ok.block.GuardIntact(), what + ": written past the name or ok flag");
    if (!name.Untouched()) {
        const size_t len = strnlen(pcName, UI_MSGCODE_NAME_SIZE);
        FUZZ_CHECK(len < UI_MSGCODE_NAME_SIZE, what + ": a name without its terminator");
        FUZZ_CHECK(Names().count(std::string(pcName, len)) == 1, what + ": named " + Printable(pcName));
    }
    pthread_join(engine.thread, nullptr);
    // The request the engine read is the one the head announces, from the front end.
    if (engine.request.size() >= 24) {
        FUZZ_CHECK(Be32(&engine.request[0]) == MARK_UI && Be32(&engine.request[4]) == MARK_TULM,
                   what + ": a request's marks");
        FUZZ_CHECK(engine.request.size() == 24 + Be32(&engine.request[20]), what + ": a request's length");
    }
    UI_Socket_CloseAll();
    close(sv[1]);
    FUZZ_CHECK(UKO_MemFreeSizeGet() == freeBefore, what + ": the link kept memory it had allocated");
    return 0;
}
