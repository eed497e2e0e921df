// A browser plugin for tests and demos: connects to the front end's plugin listener
// (127.0.0.1, from 29192 upward), registers with its first packet, sends requests,
// and prints every packet it receives as one JSON line on standard output.
//
//   sim-plugin-client [--port P] [--scan N] STEP...
//
// Steps, run in order:
//   register                 head-only packet {3, 2, 2, 1, code 0}: registers, asks nothing
//   req CODE [hex:HEX]       request CODE (1..9 or any) with an optional payload
//   login USER PASS VCODE    request 1 with a 768-byte PluginLoginPayload ("-" = empty)
//   login-unterminated       request 1 whose three texts fill their fields, no zero byte
//   huge CODE                a head announcing 0xFFFFFFF0 payload bytes, then 16 bytes only
//   head S,D,T,M,C,L [hex:HEX] a head exactly as given (L = announced length) and raw bytes
//   recv MS                  wait up to MS ms for one packet and print it
//   drain MS                 print every packet arriving within MS ms
//   sleep MS                 do nothing (sending no packet at all is one misbehaviour)
//   close                    close the connection
// Exit status: 0 done, 1 no connection, 2 usage error.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "sim_records.h"
#include "sim_wire.h"

namespace {

using sim::Bytes;

int g_fd = -1;
Bytes g_in;

int64_t Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Print(const rapidjson::Value& v) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    std::printf("%s\n", sb.GetString());
    std::fflush(stdout);
}

void PrintFlag(const char* key) {
    rapidjson::Document d;
    d.SetObject();
    d.AddMember(rapidjson::StringRef(key), true, d.GetAllocator());
    Print(d);
}

bool SendAll(const Bytes& b) {
    size_t off = 0;
    while (off < b.size()) {
        ssize_t n = ::send(g_fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

bool SendRequest(uint32_t code, const Bytes& payload) {
    sim::PacketHead h{sim::kMarkPlugin, sim::kMarkUi, sim::kConnAsync, sim::kTypePref, code, 0};
    return SendAll(sim::BuildPacket(h, payload));
}

void PrintPacket(const sim::PacketHead& h, const Bytes& p) {
    rapidjson::Document d;
    d.SetObject();
    auto& a = d.GetAllocator();
    rapidjson::Value head(rapidjson::kObjectType);
    head.AddMember("source", h.source, a);
    head.AddMember("dest", h.dest, a);
    head.AddMember("type", h.connType, a);
    head.AddMember("msgType", h.msgType, a);
    head.AddMember("code", h.msgCode, a);
    head.AddMember("len", h.msgLen, a);
    d.AddMember("head", head, a);
    const sim::RecordDesc* desc = nullptr;
    if (h.msgCode == 1 && p.size() == sim::rec::kPluginLoginRet.size) desc = &sim::rec::kPluginLoginRet;
    else if (h.msgCode == 9 && p.size() == sim::rec::kPluginInfo.size) desc = &sim::rec::kPluginInfo;
    else if (p.size() == sim::rec::kPluginTip.size) desc = &sim::rec::kPluginTip;
    if (desc != nullptr) {
        sim::Record r(*desc, p.data(), p.size());
        d.AddMember("record", rapidjson::StringRef(desc->name), a);
        d.AddMember("fields", r.ToJson(a), a);
    } else if (!p.empty()) {
        d.AddMember("hex", rapidjson::Value(sim::ToHex(p).c_str(), a), a);
    }
    Print(d);
}

// Reads until one whole packet is in or the time is up; prints it. False when the
// connection is gone or the time ran out.
bool ReceiveOne(int64_t deadline) {
    while (true) {
        if (g_in.size() >= sim::kHeadSize) {
            sim::PacketHead h = sim::DecodeHead(g_in.data());
            if (h.msgLen > sim::kMaxInboundPayload) {
                PrintFlag("oversized");
                return false;
            }
            if (g_in.size() >= sim::kHeadSize + h.msgLen) {
                Bytes p(g_in.begin() + sim::kHeadSize, g_in.begin() + sim::kHeadSize + h.msgLen);
                g_in.erase(g_in.begin(), g_in.begin() + sim::kHeadSize + h.msgLen);
                PrintPacket(h, p);
                return true;
            }
        }
        int64_t left = deadline - Now();
        if (left <= 0) {
            PrintFlag("timeout");
            return false;
        }
        pollfd pfd{g_fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(left)) <= 0) continue;
        uint8_t buf[8192];
        ssize_t n = ::recv(g_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            PrintFlag("closed");
            return false;
        }
        g_in.insert(g_in.end(), buf, buf + n);
    }
}

bool ParseMs(const std::string& s, uint32_t* ms) { return sim::ParseU32(s, ms); }

int Usage(const char* why) {
    std::fprintf(stderr, "sim-plugin-client: %s (see the head of plugin_client.cpp)\n", why);
    return 2;
}

bool Connect(uint32_t port, uint32_t scan) {
    for (uint32_t p = port; p < port + scan && p <= 65535; ++p) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(p));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            g_fd = fd;
            std::fprintf(stderr, "sim-plugin-client: connected to port %u\n", p);
            return true;
        }
        ::close(fd);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    uint32_t port = 29192, scan = 10;
    size_t i = 0;
    while (i + 1 < args.size() && (args[i] == "--port" || args[i] == "--scan")) {
        uint32_t v;
        if (!sim::ParseU32(args[i + 1], &v)) return Usage("bad number");
        (args[i] == "--port" ? port : scan) = v;
        i += 2;
    }
    if (!Connect(port, scan)) {
        std::fprintf(stderr, "sim-plugin-client: no listener from port %u\n", port);
        return 1;
    }
    for (; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        auto optional = [&](std::string* out) {
            if (i + 1 >= args.size() || args[i + 1].compare(0, 4, "hex:") != 0) return false;
            *out = args[++i].substr(4);
            return true;
        };
        std::string a1, a2, a3;
        uint32_t n = 0;
        bool sent = true;
        if (s == "register") {
            sent = SendRequest(0, {});
        } else if (s == "req") {
            if (!next(&a1) || !sim::ParseU32(a1, &n)) return Usage("req CODE [hex:HEX]");
            Bytes payload;
            if (optional(&a2) && !sim::FromHex(a2, &payload)) return Usage("bad hex");
            sent = SendRequest(n, payload);
        } else if (s == "login") {
            if (!next(&a1) || !next(&a2) || !next(&a3)) return Usage("login USER PASS VCODE");
            if (a3 == "-") a3.clear();
            sim::Record r(sim::rec::kPluginLoginPayload);
            if (!r.SetText("acUserName", a1) || !r.SetText("acPassword", a2) ||
                !r.SetText("acVerifyCode", a3))
                return Usage("login text longer than its field");
            sent = SendRequest(1, r.Wire());
        } else if (s == "login-unterminated") {
            Bytes payload(sim::rec::kPluginLoginPayload.size, 'x');
            sent = SendRequest(1, payload);
        } else if (s == "huge") {
            if (!next(&a1) || !sim::ParseU32(a1, &n)) return Usage("huge CODE");
            sim::PacketHead h{sim::kMarkPlugin, sim::kMarkUi, sim::kConnAsync, sim::kTypePref, n,
                              0xFFFFFFF0u};
            Bytes b(sim::kHeadSize + 16, 0);
            sim::EncodeHead(h, b.data());
            sent = SendAll(b);
        } else if (s == "head") {
            if (!next(&a1)) return Usage("head S,D,T,M,C,L [hex:HEX]");
            uint32_t f[6];
            size_t pos = 0;
            for (int k = 0; k < 6; ++k) {
                size_t end = a1.find(',', pos);
                if ((end == std::string::npos) != (k == 5) ||
                    !sim::ParseU32(a1.substr(pos, end == std::string::npos ? end : end - pos), &f[k]))
                    return Usage("head S,D,T,M,C,L [hex:HEX]");
                pos = end + 1;
            }
            Bytes b(sim::kHeadSize);
            sim::EncodeHead(sim::PacketHead{f[0], f[1], f[2], f[3], f[4], f[5]}, b.data());
            Bytes extra;
            if (optional(&a2) && !sim::FromHex(a2, &extra)) return Usage("bad hex");
            b.insert(b.end(), extra.begin(), extra.end());
            sent = SendAll(b);
        } else if (s == "recv") {
            if (!next(&a1) || !ParseMs(a1, &n)) return Usage("recv MS");
            ReceiveOne(Now() + n);
        } else if (s == "drain") {
            if (!next(&a1) || !ParseMs(a1, &n)) return Usage("drain MS");
            int64_t deadline = Now() + n;
            while (Now() < deadline && ReceiveOne(deadline)) {
            }
        } else if (s == "sleep") {
            if (!next(&a1) || !ParseMs(a1, &n)) return Usage("sleep MS");
            ::usleep(useconds_t(n) * 1000);
        } else if (s == "close") {
            ::close(g_fd);
            g_fd = -1;
            return 0;
        } else {
            return Usage(("unknown step " + s).c_str());
        }
        if (!sent) PrintFlag("sendFailed");
    }
    if (g_fd >= 0) ::close(g_fd);
    return 0;
}
