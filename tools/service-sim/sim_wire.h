#pragma once
// Byte-level helpers and the packet head of the loopback protocol, written from the
// service side. Every multi-byte field is read and written byte by byte at a fixed
// offset: big-endian ("network order") or little-endian (the front end's own memory
// order on x86-64), never through a cast of a host integer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

inline uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint32_t GetLE32(const uint8_t* p) {
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
    p[3] = uint8_t(v >> 24); p[2] = uint8_t(v >> 16); p[1] = uint8_t(v >> 8); p[0] = uint8_t(v);
}
inline void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }

// Link ends, connection types and message types as they appear in heads.
enum Mark : uint32_t { kMarkRpc = 1, kMarkUi = 2, kMarkPlugin = 3, kMarkTulm = 4 };
enum ConnType : uint32_t { kConnSync = 1, kConnAsync = 2 };
enum MsgType : uint32_t {
    kTypePref = 1, kTypeAuth = 3, kTypeIpsec = 4, kTypeCnem = 5, kTypeEps = 8, kTypeCfm = 9
};

constexpr uint32_t kHeadSize = 24;
// The largest request the front end sends is the certificate-list request (37020
// bytes); anything far above it is a broken or hostile peer.
constexpr uint32_t kMaxInboundPayload = 1u << 20;

constexpr uint32_t MakeCode(uint32_t module, uint32_t index) { return (module << 16) | index; }
constexpr uint32_t CodeModule(uint32_t code) { return code >> 16; }
constexpr uint32_t CodeIndex(uint32_t code) { return code & 0xFFFFu; }

// Reply and request codes the simulator produces or recognises.
namespace code {
constexpr uint32_t kFirstConnSuccess = 0x10000, kFirstConnFail = 0x10001;
constexpr uint32_t kSiteSuccess = 0x10002, kSiteFail = 0x10003;
constexpr uint32_t kLinkSelSuccess = 0x10004, kLinkSelFail = 0x10005;
constexpr uint32_t kStartTulm = 0x10006;       // port request and greetings
constexpr uint32_t kUiExist = 0x10007;
constexpr uint32_t kListenPort = 0x10008;      // port reply
constexpr uint32_t kUpdateApplication = 0x1000E;
constexpr uint32_t kLoginSuccess = 0x20000;
constexpr uint32_t kAuthFail = 0x30001, kAuthUserPasswdError = 0x30004;
constexpr uint32_t kAuthFirstLogin = 0x30006, kAuthSmsCheck = 0x3000A;
constexpr uint32_t kAuthUserCertError = 0x30009, kAuthDeviceCertError = 0x3000B;
constexpr uint32_t kAuthPluginRegion = 0x3000D, kAuthUserLocked = 0x3000F;
constexpr uint32_t kModifyPwdSuccess = 0x40000, kModifyPwdFail = 0x40001;
constexpr uint32_t kModifyPwdLen = 0x40002;
constexpr uint32_t kModifyPwdNewOldSame = 0x40005, kModifyPwdNamePwSame = 0x40006;
constexpr uint32_t kModifyPwdOldError = 0x40008;
constexpr uint32_t kModifyPwdIsMiddle = 0x4000C, kModifyPwdIsLow = 0x4000D;
constexpr uint32_t kHostCheckSuccess = 0x50000, kHostCheckFail = 0x50001;
constexpr uint32_t kCacheCleanSuccess = 0x50002, kCacheCleanFail = 0x50003;
constexpr uint32_t kCnemStartSuccess = 0x70000, kCnemStartFail = 0x70001;
constexpr uint32_t kCnemStopSuccess = 0x70003, kCnemStopFail = 0x70004;
constexpr uint32_t kIpsecStep6PppAuthFailed = 0x80024, kIpsecConnectSuccess = 0x8002F;
constexpr uint32_t kLogoutSuccess = 0xA0000, kLogoutFail = 0xA0001;
constexpr uint32_t kUrgentLogout = 0xB0000;
constexpr uint32_t kCfmBase = 0xD0000;
}  // namespace code

// The good steps of an L2TP/IPSec set-up, in the order the engine reports them,
// followed by the connection-up status.
extern const uint32_t kIpsecGoodSeries[8];

struct PacketHead {
    uint32_t source = 0;
    uint32_t dest = 0;
    uint32_t connType = 0;
    uint32_t msgType = 0;
    uint32_t msgCode = 0;
    uint32_t msgLen = 0;  // payload bytes only
};

void EncodeHead(const PacketHead& h, uint8_t out[kHeadSize]);
PacketHead DecodeHead(const uint8_t in[kHeadSize]);

// Builds a packet: head with msgLen = payload size, then the payload.
Bytes BuildPacket(PacketHead head, const Bytes& payload);

std::string ToHex(const uint8_t* p, size_t n);
// Adds the lower-case hex digits of n bytes to the end of *out.
void AppendHex(std::string* out, const uint8_t* p, size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }
// Accepts upper or lower case and ignores blanks; false on odd length or bad digits.
bool FromHex(const std::string& text, Bytes* out);

// Parses "123", "0x1F" or "0X1f" into an unsigned 32-bit value.
bool ParseU32(const std::string& text, uint32_t* out);

}  // namespace sim
