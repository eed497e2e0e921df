// The simulator's packet and record codecs against byte layouts written out by hand:
// every record size, every field offset and its byte order, the count-bounded byte
// order of profile entries, and the JSON forms used by the request log and scripts.

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "sim_https.h"
#include "sim_records.h"
#include "sim_update.h"
#include "sim_wire.h"
#include "sim_test_support.h"

namespace {

using sim::Record;
namespace rec = sim::rec;
using simtest::Hex;

TEST(SimWire, HeadIsSixBigEndianWordsWithPayloadLength) {
    // A login packet: source 2, dest 4, sync, AUTH, code 5, 2004 bytes in all.
    const sim::Bytes expected =
        Hex("00000002 00000004 00000001 00000003 00000005 000007BC");
    sim::PacketHead h{2, 4, 1, 3, 5, 2004 - 24};
    uint8_t out[24];
    sim::EncodeHead(h, out);
    EXPECT_EQ(sim::Bytes(out, out + 24), expected);

    sim::PacketHead back = sim::DecodeHead(expected.data());
    EXPECT_EQ(back.source, 2u);
    EXPECT_EQ(back.dest, 4u);
    EXPECT_EQ(back.connType, 1u);
    EXPECT_EQ(back.msgType, 3u);
    EXPECT_EQ(back.msgCode, 5u);
    EXPECT_EQ(back.msgLen, 1980u);

    sim::Bytes pkt = sim::BuildPacket(sim::PacketHead{2, 4, 1, 3, 5, 999}, sim::Bytes(1980, 7));
    ASSERT_EQ(pkt.size(), 2004u);
    EXPECT_EQ(sim::Bytes(pkt.begin(), pkt.begin() + 24), expected);
    EXPECT_EQ(pkt[24], 7);
}

TEST(SimWire, ParseU32AcceptsDecimalAndHexOnly) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {{"16", true, 16},         {"0x10", true, 16},  {"0XD0002", true, 0xD0002},
                 {"010", true, 10},        {"4294967295", true, 0xFFFFFFFFu},
                 {"4294967296", false, 0}, {"-1", false, 0},    {"", false, 0},
                 {"0x", false, 0},         {"12ab", false, 0},  {" 5", false, 0}};
    for (const Case& c : cases) {
        uint32_t v = 0;
        EXPECT_EQ(sim::ParseU32(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

// How a field lies on the wire.
enum class Order { BE32, LE32, BE16, U8, Text };

struct FieldCase {
    const sim::RecordDesc* record;
    const char* path;
    uint32_t offset;
    Order order;
    uint32_t width = 0;   // Text only
};

// Record sizes and field offsets, transcribed from the protocol's record tables.
const FieldCase kFields[] = {
    // CFM_SYSCONFIG_S: four big-endian words, the other integers in memory order.
    {&rec::kSysConfig, "ProductName", 0, Order::Text, 16},
    {&rec::kSysConfig, "Version", 16, Order::Text, 32},
    {&rec::kSysConfig, "Customized", 48, Order::Text, 16},
    {&rec::kSysConfig, "SpareValue", 64, Order::BE32},
    {&rec::kSysConfig, "CheckVersion", 68, Order::LE32},
    {&rec::kSysConfig, "AutoBoot", 72, Order::LE32},
    {&rec::kSysConfig, "LanguageID", 76, Order::BE32},
    {&rec::kSysConfig, "ServerCheck", 80, Order::LE32},
    {&rec::kSysConfig, "ShowLogflag", 84, Order::LE32},
    {&rec::kSysConfig, "LastAccessSession", 88, Order::Text, 133},
    {&rec::kSysConfig, "ProxyType", 224, Order::BE32},
    {&rec::kSysConfig, "ProxyAddr", 228, Order::Text, 128},
    {&rec::kSysConfig, "ProxyPort", 356, Order::BE32},
    {&rec::kSysConfig, "ProxyUser", 360, Order::Text, 256},
    {&rec::kSysConfig, "ProxyPwd", 616, Order::Text, 128},
    {&rec::kSysConfig, "Sessions[0].ConnectionType", 744, Order::LE32},
    {&rec::kSysConfig, "Sessions[0].RemPwd", 748, Order::LE32},
    {&rec::kSysConfig, "Sessions[0].AutoLogin", 752, Order::LE32},
    {&rec::kSysConfig, "Sessions[1].ConnectionType", 744 + 676, Order::LE32},
    {&rec::kSysConfig, "Sessions[15].LastLoginAddr", 744 + 15 * 676 + 12, Order::Text, 144},
    {&rec::kSysConfig, "Sessions[15].Password", 744 + 15 * 676 + 545, Order::Text, 128},
    // CFM_SESSION_S sent alone: its three words big-endian.
    {&rec::kSessionBE, "ConnectionType", 0, Order::BE32},
    {&rec::kSessionBE, "RemPwd", 4, Order::BE32},
    {&rec::kSessionBE, "AutoLogin", 8, Order::BE32},
    {&rec::kSessionBE, "LastLoginAddr", 12, Order::Text, 144},
    {&rec::kSessionBE, "ProfileName", 156, Order::Text, 133},
    {&rec::kSessionBE, "UserName", 289, Order::Text, 256},
    {&rec::kSessionBE, "Password", 545, Order::Text, 128},
    // CFM_SSL_PROFILE_S (gateway entries below the count, which is 0 here, are
    // checked in their own test).
    {&rec::kSslProfile, "uiLinkType", 0, Order::BE32},
    {&rec::kSslProfile, "uiHeadWord1", 4, Order::BE32},
    {&rec::kSslProfile, "uiHeadWord2", 8, Order::BE32},
    {&rec::kSslProfile, "acDescription", 12, Order::Text, 256},
    {&rec::kSslProfile, "uiGmAlgorithm", 272, Order::BE32},
    {&rec::kSslProfile, "acGatewayAddress", 409, Order::Text, 128},
    {&rec::kSslProfile, "uiPort", 540, Order::BE32},
    {&rec::kSslProfile, "uiDelay", 544, Order::BE32},
    {&rec::kSslProfile, "uiFlag", 548, Order::BE32},
    {&rec::kSslProfile, "uiTunnelMode", 552, Order::BE32},
    {&rec::kSslProfile, "uiAutoBest", 556, Order::BE32},
    {&rec::kSslProfile, "uiGatewayNum", 560, Order::BE32},
    {&rec::kSslProfile, "uiDefaultGateway", 564, Order::BE32},
    {&rec::kSslProfile, "astGateway[0].acAddress", 568, Order::Text, 128},
    {&rec::kSslProfile, "astGateway[15].acAddress", 568 + 15 * 140, Order::Text, 128},
    {&rec::kSslProfile, "uiReserved3", 2808, Order::BE32},
    // UIGATEWAY_INFO_S as a profile's entry below the count, and CFM_IPSEC_ROUTE_S.
    {&rec::kGatewayBE, "acAddress", 0, Order::Text, 128},
    {&rec::kGatewayBE, "uiPort", 128, Order::BE32},
    {&rec::kGatewayBE, "uiDelay", 132, Order::BE32},
    {&rec::kGatewayBE, "uiFlag", 136, Order::BE32},
    {&rec::kRouteBE, "uiAddress", 0, Order::BE32},
    {&rec::kRouteBE, "uiMask", 4, Order::BE32},
    {&rec::kSslProfile, "uiReserved5", 2940, Order::BE32},
    // CFM_IPSEC_PROFILE_S.
    {&rec::kIpsecProfile, "uiLinkType", 0, Order::BE32},
    {&rec::kIpsecProfile, "uiHeadWord1", 4, Order::BE32},
    {&rec::kIpsecProfile, "acDescription", 8, Order::Text, 256},
    {&rec::kIpsecProfile, "acLnsServer", 264, Order::Text, 128},
    {&rec::kIpsecProfile, "uiIpsecEnable", 392, Order::BE32},
    {&rec::kIpsecProfile, "uiAuthMethod", 396, Order::BE32},
    {&rec::kIpsecProfile, "acPreSharedKey", 400, Order::Text, 128},
    {&rec::kIpsecProfile, "acTunnelName", 656, Order::Text, 128},
    {&rec::kIpsecProfile, "uiPppAuthMode", 784, Order::BE32},
    {&rec::kIpsecProfile, "uiTunnelAuth", 788, Order::BE32},
    {&rec::kIpsecProfile, "acTunnelPassword", 792, Order::Text, 128},
    {&rec::kIpsecProfile, "uiRouteMode", 920, Order::BE32},
    {&rec::kIpsecProfile, "acDnsSuffix", 924, Order::Text, 64},
    {&rec::kIpsecProfile, "uiRouteNum", 988, Order::BE32},
    {&rec::kIpsecProfile, "acIpsecServer", 1504, Order::Text, 128},
    {&rec::kIpsecProfile, "uiUseLnsAddress", 1632, Order::BE32},
    {&rec::kIpsecProfile, "uiEncapMode", 1636, Order::BE32},
    {&rec::kIpsecProfile, "uiReserved2", 1640, Order::BE32},
    {&rec::kIpsecProfile, "uiReserved3", 1644, Order::BE32},
    {&rec::kIpsecProfile, "uiEspAuthAlgo", 1648, Order::BE32},
    {&rec::kIpsecProfile, "uiEspEncryAlgo", 1652, Order::BE32},
    {&rec::kIpsecProfile, "acLocalGatewayName", 1656, Order::Text, 512},
    {&rec::kIpsecProfile, "acRemoteGatewayName", 2168, Order::Text, 512},
    {&rec::kIpsecProfile, "uiIkeAuthAlgo", 2680, Order::BE32},
    {&rec::kIpsecProfile, "uiIkeEncryAlgo", 2684, Order::BE32},
    {&rec::kIpsecProfile, "uiNegoMode", 2688, Order::BE32},
    {&rec::kIpsecProfile, "uiIdType", 2692, Order::BE32},
    {&rec::kIpsecProfile, "uiDhGroup", 2696, Order::BE32},
    {&rec::kIpsecProfile, "auiReserved4[0]", 2700, Order::BE32},
    {&rec::kIpsecProfile, "auiReserved4[1]", 2704, Order::BE32},
    {&rec::kIpsecProfile, "auiReserved4[2]", 2708, Order::BE32},
    {&rec::kIpsecProfile, "auiReserved4[3]", 2712, Order::BE32},
    {&rec::kIpsecProfile, "uiPfsEnable", 2716, Order::BE32},
    {&rec::kIpsecProfile, "uiPfsGroup", 2720, Order::BE32},
    {&rec::kIpsecProfile, "uiIkeSaLifetime", 2724, Order::BE32},
    {&rec::kIpsecProfile, "uiIpsecSaLifetime", 2728, Order::BE32},
    // UI_SSL_LOGIN_S: sent as it lies in memory.
    {&rec::kSslLogin, "uiDeviceCACheck", 0, Order::LE32},
    {&rec::kSslLogin, "uiAuthType", 4, Order::LE32},
    {&rec::kSslLogin, "uiSavePass", 8, Order::LE32},
    {&rec::kSslLogin, "uiLoginType", 12, Order::LE32},
    {&rec::kSslLogin, "uiLanguage", 16, Order::LE32},
    {&rec::kSslLogin, "acCertName", 20, Order::Text, 1024},
    {&rec::kSslLogin, "acGateway", 1044, Order::Text, 256},
    {&rec::kSslLogin, "acUserName", 1300, Order::Text, 384},
    {&rec::kSslLogin, "acPassword", 1684, Order::Text, 128},
    {&rec::kSslLogin, "acProfileName", 1844, Order::Text, 133},
    {&rec::kDynamicCode, "uiAuthType", 0, Order::LE32},
    {&rec::kDynamicCode, "acDynamicCode", 4, Order::Text, 128},
    // UI_SSL_LOGIN_RET_S: all big-endian, two 16-bit fields at the end.
    {&rec::kSslLoginRet, "auiUnused[0]", 0, Order::BE32},
    {&rec::kSslLoginRet, "auiUnused[3]", 12, Order::BE32},
    {&rec::kSslLoginRet, "uiHostCheck", 16, Order::BE32},
    {&rec::kSslLoginRet, "uiCacheClear", 20, Order::BE32},
    {&rec::kSslLoginRet, "uiModifyPwd", 24, Order::BE32},
    {&rec::kSslLoginRet, "usAlarmNotice", 28, Order::BE16},
    {&rec::kSslLoginRet, "sAlarmTime", 30, Order::BE16},
    // UI_IPSEC_LOGIN_S (memory order).
    {&rec::kIpsecLogin, "uiSavePass", 0, Order::LE32},
    {&rec::kIpsecLogin, "acServerAddr", 4, Order::Text, 256},
    {&rec::kIpsecLogin, "acUserName", 260, Order::Text, 384},
    {&rec::kIpsecLogin, "acPassword", 644, Order::Text, 128},
    {&rec::kIpsecLogin, "acCertName", 772, Order::Text, 1024},
    {&rec::kIpsecLogin, "acProfileName", 1796, Order::Text, 133},
    // UISSL_FIRST_CONN (memory order, gateway entries too).
    {&rec::kFirstConn, "uiLanguage", 0, Order::LE32},
    {&rec::kFirstConn, "acGateway", 4, Order::Text, 256},
    {&rec::kFirstConn, "uiAutoBest", 260, Order::LE32},
    {&rec::kFirstConn, "astGateway[0].acAddress", 264, Order::Text, 128},
    {&rec::kFirstConn, "astGateway[0].uiPort", 264 + 128, Order::LE32},
    {&rec::kFirstConn, "astGateway[15].uiFlag", 264 + 15 * 140 + 136, Order::LE32},
    {&rec::kFirstConn, "uiGatewayNum", 2504, Order::LE32},
    {&rec::kFirstConn, "uiDefaultGateway", 2508, Order::LE32},
    // UIFIRST_CONNECT_CONF_S (big-endian).
    {&rec::kFirstConnectConf, "uiAuthType", 0, Order::BE32},
    {&rec::kFirstConnectConf, "uiVerification", 4, Order::BE32},
    {&rec::kFirstConnectConf, "uiVersionMS", 8, Order::BE32},
    {&rec::kFirstConnectConf, "uiVersionLS", 12, Order::BE32},
    {&rec::kFirstConnectConf, "acBestGateway", 16, Order::Text, 128},
    {&rec::kFirstConnectConf, "uiBestPort", 144, Order::BE32},
    {&rec::kFirstConnectConf, "uiBestDelay", 148, Order::BE32},
    {&rec::kFirstConnectConf, "uiBestFlag", 152, Order::BE32},
    {&rec::kFirstConnectConf, "acPackage", 156, Order::Text, 256},
    // Site list: 16 gateway entries in memory order.
    {&rec::kSiteList, "astGateway[0].acAddress", 0, Order::Text, 128},
    {&rec::kSiteList, "astGateway[0].uiPort", 128, Order::LE32},
    {&rec::kSiteList, "astGateway[0].uiDelay", 132, Order::LE32},
    {&rec::kSiteList, "astGateway[15].uiFlag", 15 * 140 + 136, Order::LE32},
    // LinkSelectInfo: request in memory order, reply big-endian.
    {&rec::kLinkSelect, "uiEnable", 0, Order::LE32},
    {&rec::kLinkSelect, "acIp", 4, Order::Text, 128},
    {&rec::kLinkSelect, "uiPort", 132, Order::LE32},
    {&rec::kLinkSelectReply, "uiResult", 0, Order::BE32},
    {&rec::kLinkSelectReply, "acIp", 4, Order::Text, 128},
    {&rec::kLinkSelectReply, "uiPort", 132, Order::BE32},
    {&rec::kPwdModify, "acOldPwd", 0, Order::Text, 128},
    {&rec::kPwdModify, "acNewPwd", 128, Order::Text, 128},
    {&rec::kPwdPolicy, "uiMinLength", 0, Order::BE32},
    {&rec::kPwdPolicy, "uiMaxLength", 4, Order::BE32},
    {&rec::kPwdPolicy, "uiMinDigits", 8, Order::BE32},
    {&rec::kPwdPolicy, "uiMinLetters", 12, Order::BE32},
    {&rec::kPwdPolicy, "uiMixedCase", 16, Order::BE32},
    {&rec::kPwdPolicy, "uiNewOldDiffer", 20, Order::BE32},
    {&rec::kPwdPolicy, "uiNamePwdDiffer", 24, Order::BE32},
    {&rec::kCertInfo, "acCertText[0]", 0, Order::Text, 1024},
    {&rec::kCertInfo, "acCertText[31]", 31 * 1024, Order::Text, 1024},
    {&rec::kCertInfo, "acCertName[0]", 32768, Order::Text, 132},
    {&rec::kCertInfo, "acCertName[31]", 32768 + 31 * 132, Order::Text, 132},
    {&rec::kCertInfo, "uiCertNum", 36992, Order::LE32},
    {&rec::kPluginLoginReply, "uiUserID", 0, Order::BE32},
    {&rec::kPluginLoginReply, "uiSessionID", 4, Order::BE32},
    {&rec::kPluginLoginReply, "aucCookie", 8, Order::Text, 64},
    {&rec::kPluginLoginReply, "acUrlLocation", 72, Order::Text, 1024},
    {&rec::kProfileOutput, "acProfileName", 0, Order::Text, 133},
    {&rec::kProfileOutput, "acOutputPath", 133, Order::Text, 1024},
    {&rec::kRemotePortRequest, "acUserName", 0, Order::Text, 32},
    {&rec::kRemotePortRequest, "acInstallPath", 32, Order::Text, 1024},
    {&rec::kUpdateStart, "acUpdateProgram", 0, Order::Text, 1024},
    {&rec::kUpdateStart, "acPackagePath", 1024, Order::Text, 1024},
    {&rec::kUpdateStart, "acDownloadUrl", 2048, Order::Text, 256},
    {&rec::kUpdateStart, "acLoginName", 2304, Order::Text, 32},
    {&rec::kTunnelMode, "uiTunnelMode", 0, Order::BE32},
    {&rec::kLinkType, "uiLinkType", 0, Order::BE32},
    {&rec::kEnginePort, "uiPort", 0, Order::BE32},
    // Plugin records.
    {&rec::kPluginLoginPayload, "acUserName", 0, Order::Text, 384},
    {&rec::kPluginLoginPayload, "acPassword", 384, Order::Text, 128},
    {&rec::kPluginLoginPayload, "acVerifyCode", 512, Order::Text, 256},
    {&rec::kPluginTip, "cFlag", 0, Order::BE32},
    {&rec::kPluginTip, "cTip", 4, Order::Text, 1024},
    {&rec::kPluginLoginRet, "uiUserID", 0, Order::BE32},
    {&rec::kPluginLoginRet, "uiSessionID", 4, Order::BE32},
    {&rec::kPluginLoginRet, "aucCookie", 8, Order::Text, 64},
    {&rec::kPluginLoginRet, "acUrlLocation", 72, Order::Text, 1024},
    {&rec::kPluginLoginRet, "cFlag", 1096, Order::BE32},
    {&rec::kPluginLoginRet, "cTip", 1100, Order::Text, 1024},
    {&rec::kPluginInfo, "uiUserID", 0, Order::BE32},
    {&rec::kPluginInfo, "uiSessionID", 4, Order::BE32},
    {&rec::kPluginInfo, "aucCookie", 8, Order::Text, 64},
    {&rec::kPluginInfo, "acUserName", 72, Order::Text, 384},
    {&rec::kPluginInfo, "acLoginAddr", 456, Order::Text, 128},
    {&rec::kPluginInfo, "ucTunnelStarted", 968, Order::U8},
    {&rec::kPluginInfo, "uiValue", 1004, Order::BE32},
};

size_t NonZero(const sim::Bytes& b) {
    size_t n = 0;
    for (uint8_t c : b) n += c != 0;
    return n;
}

TEST(SimRecords, SizesMatchTheProtocol) {
    struct Size {
        const sim::RecordDesc* r;
        uint32_t size;
    } sizes[] = {{&rec::kSysConfig, 11560},       {&rec::kSessionBE, 676},
                 {&rec::kSessionHost, 676},       {&rec::kSslProfile, 3328},
                 {&rec::kIpsecProfile, 2732},     {&rec::kGatewayBE, 140},
                 {&rec::kRouteBE, 8},             {&rec::kSslLogin, 1980},
                 {&rec::kDynamicCode, 132},       {&rec::kSslLoginRet, 32},
                 {&rec::kIpsecLogin, 1932},       {&rec::kFirstConn, 2512},
                 {&rec::kFirstConnectConf, 412},  {&rec::kSiteList, 2240},
                 {&rec::kLinkSelect, 136},        {&rec::kLinkSelectReply, 136},
                 {&rec::kPwdModify, 256},         {&rec::kPwdPolicy, 28},
                 {&rec::kCertInfo, 36996},        {&rec::kPluginLoginReply, 1096},
                 {&rec::kProfileOutput, 1157},    {&rec::kRemotePortRequest, 1056},
                 {&rec::kUpdateStart, 2337},      {&rec::kPluginLoginPayload, 768},
                 {&rec::kPluginTip, 1028},        {&rec::kPluginLoginRet, 2124},
                 {&rec::kPluginInfo, 2032}};
    for (const Size& s : sizes) {
        EXPECT_EQ(s.r->size, s.size) << s.r->name;
        // The last field ends inside the record: no table runs past its record.
        const sim::FieldDesc& last = s.r->fields[s.r->fieldCount - 1];
        EXPECT_LE(last.offset + last.width * last.count, s.size) << s.r->name;
    }
}

TEST(SimRecords, EveryFieldLiesAtItsOffsetInItsByteOrder) {
    for (const FieldCase& c : kFields) {
        SCOPED_TRACE(std::string(c.record->name) + "." + c.path);
        Record r(*c.record);
        const sim::Bytes& w = r.Wire();
        switch (c.order) {
        case Order::BE32:
            ASSERT_TRUE(r.SetU32(c.path, 0x11223344));
            EXPECT_EQ(sim::Bytes(w.begin() + c.offset, w.begin() + c.offset + 4),
                      Hex("11223344"));
            EXPECT_EQ(NonZero(w), 4u);
            EXPECT_EQ(r.U32(c.path), 0x11223344u);
            break;
        case Order::LE32:
            ASSERT_TRUE(r.SetU32(c.path, 0x11223344));
            EXPECT_EQ(sim::Bytes(w.begin() + c.offset, w.begin() + c.offset + 4),
                      Hex("44332211"));
            EXPECT_EQ(NonZero(w), 4u);
            EXPECT_EQ(r.U32(c.path), 0x11223344u);
            break;
        case Order::BE16:
            ASSERT_TRUE(r.SetU32(c.path, 0x1122));
            EXPECT_EQ(sim::Bytes(w.begin() + c.offset, w.begin() + c.offset + 2), Hex("1122"));
            EXPECT_EQ(NonZero(w), 2u);
            break;
        case Order::U8:
            ASSERT_TRUE(r.SetU32(c.path, 0x5A));
            EXPECT_EQ(w[c.offset], 0x5A);
            EXPECT_EQ(NonZero(w), 1u);
            break;
        case Order::Text: {
            // A text of the field's full width fills it exactly; one more byte is refused.
            std::string full(c.width, 'A');
            ASSERT_TRUE(r.SetText(c.path, full));
            EXPECT_EQ(std::string(w.begin() + c.offset, w.begin() + c.offset + c.width), full);
            EXPECT_EQ(NonZero(w), size_t(c.width));
            EXPECT_EQ(r.Text(c.path), full);
            EXPECT_FALSE(r.SetText(c.path, full + "A"));
            ASSERT_TRUE(r.SetText(c.path, "ab"));
            EXPECT_EQ(NonZero(w), 2u);
            break;
        }
        }
    }
}

TEST(SimRecords, SystemConfigurationLanguageAndAutoBootBytes) {
    Record r(rec::kSysConfig);
    r.SetU32("LanguageID", 2052);
    r.SetU32("AutoBoot", 1);
    EXPECT_EQ(sim::Bytes(r.Wire().begin() + 76, r.Wire().begin() + 80), Hex("00000804"));
    EXPECT_EQ(sim::Bytes(r.Wire().begin() + 72, r.Wire().begin() + 76), Hex("01000000"));

    // And read back from bytes laid out by hand.
    sim::Bytes wire(11560, 0);
    wire[79] = 0x09;   // LanguageID 1033 = 0x0409, big-endian
    wire[78] = 0x04;
    wire[72] = 0x01;   // AutoBoot 1, memory order
    wire[744 + 676 * 2 + 0] = 0x02;   // Sessions[2].ConnectionType 2, memory order
    Record in(rec::kSysConfig, wire.data(), wire.size());
    EXPECT_EQ(in.U32("LanguageID"), 1033u);
    EXPECT_EQ(in.U32("AutoBoot"), 1u);
    EXPECT_EQ(in.U32("Sessions[2].ConnectionType"), 2u);
}

TEST(SimRecords, OnlyGatewayEntriesBelowTheCountAreBigEndian) {
    // A profile with three gateways written by hand: entries 0 to 2 big-endian,
    // entry 3 left in memory order as the front end leaves it.
    sim::Bytes wire(3328, 0);
    wire[563] = 3;   // uiGatewayNum = 3
    for (uint32_t i = 0; i < 4; ++i) {
        // Port 8000 + i at +128, delay 0x100 + i at +132, flag 0x10000 + i at +136.
        size_t at = 568 + 140 * i + 128;
        if (i < 3) {
            wire[at + 2] = 0x1F;
            wire[at + 3] = uint8_t(0x40 + i);
            wire[at + 6] = 0x01;
            wire[at + 7] = uint8_t(i);
            wire[at + 9] = 0x01;
            wire[at + 11] = uint8_t(i);
        } else {
            wire[at] = uint8_t(0x40 + i);
            wire[at + 1] = 0x1F;
            wire[at + 4] = uint8_t(i);
            wire[at + 5] = 0x01;
            wire[at + 8] = uint8_t(i);
            wire[at + 10] = 0x01;
        }
    }
    Record in(rec::kSslProfile, wire.data(), wire.size());
    for (uint32_t i = 0; i < 4; ++i) {
        std::string base = "astGateway[" + std::to_string(i) + "].";
        EXPECT_EQ(in.U32(base + "uiPort"), 8000 + i) << i;
        EXPECT_EQ(in.U32(base + "uiDelay"), 0x100 + i) << i;
        EXPECT_EQ(in.U32(base + "uiFlag"), 0x10000 + i) << i;
    }

    // Built through the JSON form: the same bytes come out.
    rapidjson::Document d;
    d.Parse(R"({"uiGatewayNum":3,"astGateway":[
               {"uiPort":8000,"uiDelay":256,"uiFlag":65536},
               {"uiPort":8001,"uiDelay":257,"uiFlag":65537},
               {"uiPort":8002,"uiDelay":258,"uiFlag":65538},
               {"uiPort":8003,"uiDelay":259,"uiFlag":65539}]})");
    Record built(rec::kSslProfile);
    std::string err;
    ASSERT_TRUE(built.ApplyJson(d, &err)) << err;
    EXPECT_EQ(built.Wire(), wire);

    // A count beyond the array never walks past it.
    Record huge(rec::kSslProfile);
    huge.SetU32("uiGatewayNum", 0xFFFFFFFF);
    sim::FieldRef gateways;
    ASSERT_TRUE(huge.Resolve("astGateway", &gateways));
    EXPECT_EQ(sim::BoundedCount(huge, *gateways.field), 16u);
    rapidjson::Document out;
    rapidjson::Value j = huge.ToJson(out.GetAllocator());
    EXPECT_EQ(j["astGateway"].Size(), 16u);
}

TEST(SimRecords, RouteTravelsAsDottedOctets) {
    rapidjson::Document d;
    d.Parse(R"({"uiRouteNum":1,"astRoute":[{"uiAddress":"0xC0A80100","uiMask":"0xFFFFFF00"}]})");
    Record r(rec::kIpsecProfile);
    std::string err;
    ASSERT_TRUE(r.ApplyJson(d, &err)) << err;
    EXPECT_EQ(sim::Bytes(r.Wire().begin() + 992, r.Wire().begin() + 1000),
              Hex("C0A80100 FFFFFF00"));
    EXPECT_EQ(sim::Bytes(r.Wire().begin() + 988, r.Wire().begin() + 992), Hex("00000001"));

    // With a route count of 0 no route is big-endian: an entry set anyway stays in
    // memory order.
    Record none(rec::kIpsecProfile);
    none.SetU32("astRoute[0].uiAddress", 0xC0A80100);
    EXPECT_EQ(sim::Bytes(none.Wire().begin() + 992, none.Wire().begin() + 996), Hex("0001A8C0"));
}

TEST(SimRecords, LinkSelectRequestAndReplyDifferInByteOrder) {
    sim::Bytes wire(136, 0);
    wire[0] = 1;                                   // enable 1, memory order
    std::memcpy(&wire[4], "10.1.1.1", 8);
    wire[132] = 0xBB;                              // port 443, memory order
    wire[133] = 0x01;
    Record req(rec::kLinkSelect, wire.data(), wire.size());
    EXPECT_EQ(req.U32("uiEnable"), 1u);
    EXPECT_EQ(req.Text("acIp"), "10.1.1.1");
    EXPECT_EQ(req.U32("uiPort"), 443u);
    Record rep(rec::kLinkSelectReply, wire.data(), wire.size());
    EXPECT_EQ(rep.U32("uiEnable"), 0u);   // no such field in the reply
    EXPECT_EQ(rep.U32("uiResult"), 0x01000000u);
    EXPECT_EQ(rep.U32("uiPort"), 0xBB010000u);
}

TEST(SimRecords, JsonFormsOfTextsAndErrors) {
    // A text that is not UTF-8 is shown as hex; an unterminated one stops at the width.
    sim::Bytes wire(32 + 1024, 0);
    wire[0] = 0xC3;
    wire[1] = 0x28;
    std::memset(&wire[32], 'p', 1024);
    Record r(rec::kRemotePortRequest, wire.data(), wire.size());
    rapidjson::Document d;
    rapidjson::Value j = r.ToJson(d.GetAllocator());
    ASSERT_TRUE(j["acUserName"].IsObject());
    EXPECT_STREQ(j["acUserName"]["hex"].GetString(), "c328");
    EXPECT_EQ(j["acInstallPath"].GetStringLength(), 1024u);

    struct Bad {
        const char* json;
        const char* why;
    } bad[] = {{R"({"NoSuchField":1})", "NoSuchField"},
               {R"({"acUserName":"0123456789012345678901234567890123"})", "longer"},
               {R"({"acUserName":{"hex":"zz"}})", "hex"},
               {R"({"acUserName":5})", "text"}};
    for (const Bad& b : bad) {
        rapidjson::Document in;
        in.Parse(b.json);
        Record t(rec::kRemotePortRequest);
        std::string err;
        EXPECT_FALSE(t.ApplyJson(in, &err)) << b.json;
        EXPECT_NE(err.find(b.why), std::string::npos) << err;
    }
    // A sixteen-bit signed field takes negative numbers.
    rapidjson::Document neg;
    neg.Parse(R"({"sAlarmTime":-2})");
    Record ret(rec::kSslLoginRet);
    ASSERT_TRUE(ret.ApplyJson(neg, nullptr));
    EXPECT_EQ(sim::Bytes(ret.Wire().begin() + 30, ret.Wire().end()), Hex("FFFE"));
}

TEST(SimRecords, GzipStoredStreamFraming) {
    std::string gz = sim::GzipStored("hello");
    // Header, one final stored block of 5 bytes, CRC-32 of "hello", length.
    sim::Bytes expected = Hex("1f8b0800000000000003 01 0500 faff 68656c6c6f 86a61036 05000000");
    EXPECT_EQ(sim::Bytes(gz.begin(), gz.end()), expected);
    // Blocks hold at most 65535 bytes each.
    std::string big = sim::GzipStored(std::string(70000, 'z'));
    EXPECT_EQ(big.size(), 10u + 5 + 65535 + 5 + (70000 - 65535) + 8);
}

TEST(SimRecords, GzipStoredFromConcurrentTransfers) {
    // The package server compresses on one thread per transfer: the first streams
    // may be built at the same moment (the thread sanitizer watches this one).
    std::vector<std::string> out(4);
    std::vector<std::thread> threads;
    for (std::string& o : out) threads.emplace_back([&o] { o = sim::GzipStored("hello"); });
    for (std::thread& t : threads) t.join();
    for (const std::string& o : out) {
        EXPECT_EQ(sim::Bytes(o.begin() + long(o.size()) - 8, o.end()), Hex("86a61036 05000000"));
    }
}

TEST(SimUpdate, ArgumentsAreGbkTextAndTheLaunchToken) {
    Record u(rec::kUpdateStart);
    u.SetText("acUpdateProgram", "/opt/app/VanTreloUpdate");
    u.SetText("acPackagePath", "/tmp/\xE6\x9B\xB4\xE6\x96\xB0.tar.gz");   // "更新" in UTF-8
    u.SetText("acDownloadUrl", "https://gw/app/x.tar.gz");
    u.SetText("acLoginName", "alice");
    std::string warning;
    std::vector<std::string> args = sim::BuildUpdateArgs(u, "1", &warning);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_TRUE(warning.empty());
    EXPECT_EQ(args[0], "/tmp/\xB8\xFC\xD0\xC2.tar.gz;https://gw/app/x.tar.gz;alice;1");
    EXPECT_EQ(args[1], "amber stone, rework!");
}

}  // namespace
