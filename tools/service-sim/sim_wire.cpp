#include "sim_wire.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace sim {

const uint32_t kIpsecGoodSeries[8] = {0x80000, 0x80006, 0x80008, 0x8000B,
                                      0x80016, 0x80022, 0x80029, 0x8002F};

void EncodeHead(const PacketHead& h, uint8_t out[kHeadSize]) {
    PutBE32(out + 0, h.source);
    PutBE32(out + 4, h.dest);
    PutBE32(out + 8, h.connType);
    PutBE32(out + 12, h.msgType);
    PutBE32(out + 16, h.msgCode);
    PutBE32(out + 20, h.msgLen);
}

PacketHead DecodeHead(const uint8_t in[kHeadSize]) {
    PacketHead h;
    h.source = GetBE32(in + 0);
    h.dest = GetBE32(in + 4);
    h.connType = GetBE32(in + 8);
    h.msgType = GetBE32(in + 12);
    h.msgCode = GetBE32(in + 16);
    h.msgLen = GetBE32(in + 20);
    return h;
}

Bytes BuildPacket(PacketHead head, const Bytes& payload) {
    head.msgLen = uint32_t(payload.size());
    Bytes out(kHeadSize + payload.size());
    EncodeHead(head, out.data());
    std::copy(payload.begin(), payload.end(), out.begin() + kHeadSize);
    return out;
}

void AppendHex(std::string* out, const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    // Sized once and filled in place: the request log dumps every packet, tens of
    // kilobytes for a certificate list, and a push per digit was most of its cost.
    const size_t at = out->size();
    out->resize(at + n * 2);
    char* d = &(*out)[at];
    for (size_t i = 0; i < n; ++i) {
        d[2 * i] = kDigits[p[i] >> 4];
        d[2 * i + 1] = kDigits[p[i] & 15];
    }
}

std::string ToHex(const uint8_t* p, size_t n) {
    std::string s;
    AppendHex(&s, p, n);
    return s;
}

bool FromHex(const std::string& text, Bytes* out) {
    out->clear();
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return false;
        if (high < 0) {
            high = v;
        } else {
            out->push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return high < 0;
}

bool ParseU32(const std::string& text, uint32_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' ||
        std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    // Decimal, or hexadecimal with a 0x prefix; a leading zero does not mean octal.
    int base = 10;
    const char* start = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*start))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(start, &end, base);
    if (errno != 0 || end == start || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *out = uint32_t(v);
    return true;
}

}  // namespace sim
