// The configuration requests and their converters: wire bytes against hand-written
// vectors (the mixed byte order, entry counts bounded by their arrays), every request's
// handling of the replies it may get against scripted simulator replies, its own log
// texts, and a whole profile cycle against the happy simulator with the profile file
// following each step.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ui_cfm.h"
#include "ui_connect.h"
#include "ui_packet_inner.h"
#include "ui_test/ui_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

#define CFM_KEY(s) "/RETURN_CFM_MSGCODE/CFM_MSGCODE_" s
constexpr char kFallback[] = "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL";
constexpr uint8_t kFill = 0xAB;
constexpr uint32_t kUntouched = 0xEEEE;

class UiCfmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UI_Connect_Reset();
    }
    void TearDown() override {
        UI_Socket_CloseAll();
        UI_Connect_Reset();
        uiSyncTimeoutDivisorSet(1);
    }
};

// The host-order fields of the vectors below are written as a little-endian machine
// holds them.
bool LittleEndianHost() {
    const uint32_t one = 1;
    uint8_t first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

#define REQUIRE_LITTLE_ENDIAN()                                                   \
    do {                                                                          \
        if (!LittleEndianHost()) GTEST_SKIP() << "vectors are for little-endian"; \
    } while (0)

template <typename T>
Bytes At(const T& record, size_t offset, size_t n = 4) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record) + offset;
    return Bytes(p, p + n);
}

Bytes At(const Bytes& b, size_t offset, size_t n = 4) {
    return offset + n <= b.size() ? Bytes(b.begin() + offset, b.begin() + offset + n) : Bytes();
}

template <typename T>
void Put(T* record, size_t offset, const Bytes& bytes) {
    std::memcpy(reinterpret_cast<uint8_t*>(record) + offset, bytes.data(), bytes.size());
}

struct ByteCase {
    size_t offset;
    Bytes bytes;
};

template <typename T>
void ExpectBytes(const T& record, const std::vector<ByteCase>& cases, const char* what) {
    for (const ByteCase& c : cases) {
        EXPECT_EQ(At(record, c.offset, c.bytes.size()), c.bytes) << what << " at " << c.offset;
    }
}

// The last log line holding the fragment, or the empty text.
std::string LastLine(const std::string& fragment) {
    std::string found;
    for (const std::string& line : ui_test::LogLines()) {
        if (line.find(fragment) != std::string::npos) found = line;
    }
    return found;
}

// ---- Converters -----------------------------------------------------------------------------

TEST_F(UiCfmTest, SysConfigConvertsFourFieldsAndLeavesTheRestInHostOrder) {
    REQUIRE_LITTLE_ENDIAN();
    CFM_SYSCONFIG_S rec{};
    rec.SpareValue = 0x01020304;
    rec.CheckVersion = 1;
    rec.AutoBoot = 1;
    rec.LanguageID = 2052;
    rec.ServerCheck = 1;
    rec.ShowLogflag = 1;
    rec.ProxyType = 3;
    rec.ProxyPort = 8080;
    rec.Sessions[0].ConnectionType = 1;
    rec.Sessions[15].AutoLogin = 1;
    std::strcpy(rec.ProductName, "VanTrelo");
    ASSERT_EQ(UI_SysConfig_Hton(&rec), 0u);
    ExpectBytes(rec,
                {{64, {0x01, 0x02, 0x03, 0x04}},
                 {68, {0x01, 0x00, 0x00, 0x00}},
                 {72, {0x01, 0x00, 0x00, 0x00}},
                 {76, {0x00, 0x00, 0x08, 0x04}},
                 {80, {0x01, 0x00, 0x00, 0x00}},
                 {84, {0x01, 0x00, 0x00, 0x00}},
                 {224, {0x00, 0x00, 0x00, 0x03}},
                 {356, {0x00, 0x00, 0x1F, 0x90}},
                 {744, {0x01, 0x00, 0x00, 0x00}},
                 {744 + 15 * 676 + 8, {0x01, 0x00, 0x00, 0x00}},
                 {0, {'V', 'a', 'n', 'T'}}},
                "to network");

    // From the wire: hand-written bytes, not the converter's own output.
    CFM_SYSCONFIG_S in{};
    Put(&in, 72, {0x01, 0x00, 0x00, 0x00});
    Put(&in, 76, {0x00, 0x00, 0x04, 0x09});
    Put(&in, 224, {0x00, 0x00, 0x00, 0x04});
    Put(&in, 356, {0x00, 0x00, 0x04, 0x38});
    Put(&in, 744, {0x02, 0x00, 0x00, 0x00});
    ASSERT_EQ(UI_SysConfig_Ntoh(&in), 0u);
    EXPECT_EQ(in.AutoBoot, 1u);
    EXPECT_EQ(in.LanguageID, 1033u);
    EXPECT_EQ(in.ProxyType, 4u);
    EXPECT_EQ(in.ProxyPort, 1080u);
    EXPECT_EQ(in.Sessions[0].ConnectionType, 2u);
}

TEST_F(UiCfmTest, SessionOnItsOwnConvertsItsThreeIntegers) {
    CFM_SESSION_S s{};
    s.ConnectionType = 2;
    s.RemPwd = 1;
    s.AutoLogin = 0x0100;
    std::strcpy(s.ProfileName, "Lab.ini");
    ASSERT_EQ(UI_Session_Hton(&s), 0u);
    ExpectBytes(s,
                {{0, {0x00, 0x00, 0x00, 0x02}},
                 {4, {0x00, 0x00, 0x00, 0x01}},
                 {8, {0x00, 0x00, 0x01, 0x00}},
                 {156, {'L', 'a', 'b', '.'}}},
                "to network");

    CFM_SESSION_S in{};
    Put(&in, 0, {0x00, 0x00, 0x00, 0x01});
    Put(&in, 8, {0x00, 0x00, 0x00, 0x01});
    ASSERT_EQ(UI_Session_Ntoh(&in), 0u);
    EXPECT_EQ(in.ConnectionType, 1u);
    EXPECT_EQ(in.RemPwd, 0u);
    EXPECT_EQ(in.AutoLogin, 1u);
}

CFM_SSL_PROFILE_S SslWithGateways(uint32_t count) {
    CFM_SSL_PROFILE_S p{};
    p.uiLinkType = 1;
    p.uiHeadWord2 = 1;
    p.uiGmAlgorithm = 1;
    std::strcpy(p.acGatewayAddress, "192.0.2.10");
    p.uiPort = 443;
    p.uiDelay = 7;
    p.uiTunnelMode = 2;
    p.uiAutoBest = 1;
    p.uiGatewayNum = count;
    p.uiDefaultGateway = 0xFFFFFFFF;
    p.uiReserved3 = 0x0A0B0C0D;
    p.uiReserved5 = 0x22;
    for (uint32_t i = 0; i < UI_GATEWAY_ENTRY_MAX; ++i) {
        std::snprintf(p.astGateway[i].acAddress, sizeof(p.astGateway[i].acAddress),
                      "192.0.2.%u", 20 + i);
        p.astGateway[i].uiPort = 1000 + i;
        p.astGateway[i].uiDelay = 10 + i;
        p.astGateway[i].uiFlag = i;
    }
    return p;
}

constexpr size_t Gw(size_t i, size_t field) { return 568 + 140 * i + field; }

TEST_F(UiCfmTest, SslProfileConvertsTheGatewaysBelowItsCountOnly) {
    REQUIRE_LITTLE_ENDIAN();
    CFM_SSL_PROFILE_S p = SslWithGateways(3);
    ASSERT_EQ(UI_SslProfile_Hton(&p), 0u);
    ExpectBytes(p,
                {{0, {0x00, 0x00, 0x00, 0x01}},
                 {4, {0x00, 0x00, 0x00, 0x00}},
                 {8, {0x00, 0x00, 0x00, 0x01}},
                 {272, {0x00, 0x00, 0x00, 0x01}},
                 {409, {'1', '9', '2', '.'}},
                 {540, {0x00, 0x00, 0x01, 0xBB}},
                 {544, {0x00, 0x00, 0x00, 0x07}},
                 {552, {0x00, 0x00, 0x00, 0x02}},
                 {556, {0x00, 0x00, 0x00, 0x01}},
                 {560, {0x00, 0x00, 0x00, 0x03}},
                 {564, {0xFF, 0xFF, 0xFF, 0xFF}},
                 {Gw(0, 0), {'1', '9', '2', '.'}},
                 {Gw(0, 128), {0x00, 0x00, 0x03, 0xE8}},
                 {Gw(1, 132), {0x00, 0x00, 0x00, 0x0B}},
                 {Gw(2, 136), {0x00, 0x00, 0x00, 0x02}},
                 {Gw(3, 128), {0xEB, 0x03, 0x00, 0x00}},   // beyond the count: as it lies
                 {Gw(15, 132), {0x19, 0x00, 0x00, 0x00}},
                 {2808, {0x0A, 0x0B, 0x0C, 0x0D}},
                 {2940, {0x00, 0x00, 0x00, 0x22}}},
                "to network");

    // From the wire, count 2: entries 0 and 1 arrive big-endian, entry 2 as it lies.
    CFM_SSL_PROFILE_S in{};
    Put(&in, 540, {0x00, 0x00, 0x20, 0xFB});
    Put(&in, 560, {0x00, 0x00, 0x00, 0x02});
    Put(&in, 564, {0x00, 0x00, 0x00, 0x01});
    Put(&in, Gw(0, 128), {0x00, 0x00, 0x01, 0xBB});
    Put(&in, Gw(1, 132), {0x00, 0x00, 0x00, 0x23});
    Put(&in, Gw(2, 128), {0x50, 0x00, 0x00, 0x00});
    ASSERT_EQ(UI_SslProfile_Ntoh(&in), 0u);
    EXPECT_EQ(in.uiPort, 8443u);
    EXPECT_EQ(in.uiGatewayNum, 2u);
    EXPECT_EQ(in.uiDefaultGateway, 1u);
    EXPECT_EQ(in.astGateway[0].uiPort, 443u);
    EXPECT_EQ(in.astGateway[1].uiDelay, 35u);
    EXPECT_EQ(in.astGateway[2].uiPort, 0x50u);
}

TEST_F(UiCfmTest, IpsecProfileConvertsItsIntegersAndTheRoutesBelowItsCount) {
    REQUIRE_LITTLE_ENDIAN();
    CFM_IPSEC_PROFILE_S p{};
    p.uiLinkType = 2;
    p.uiIpsecEnable = 1;
    p.uiAuthMethod = 3;
    p.uiPppAuthMode = 1;
    p.uiTunnelAuth = 1;
    p.uiRouteMode = 1;
    p.uiRouteNum = 1;
    p.astRoute[0] = {0xC0A80100, 0xFFFFFF00};
    p.astRoute[1] = {0x0A000000, 0xFF000000};
    p.uiUseLnsAddress = 1;
    p.uiReserved2 = 0x40;
    p.uiEspAuthAlgo = 0x00020000;
    p.uiEspEncryAlgo = 0x40002000;
    p.uiIkeAuthAlgo = 2;
    p.uiNegoMode = 4;
    p.uiDhGroup = 5;
    p.auiReserved4[0] = 0x11;
    p.auiReserved4[3] = 0x44;
    p.uiPfsGroup = 2;
    p.uiIpsecSaLifetime = 3600;
    std::strcpy(p.acLnsServer, "lns.example");
    ASSERT_EQ(UI_IpsecProfile_Hton(&p), 0u);
    ExpectBytes(p,
                {{0, {0x00, 0x00, 0x00, 0x02}},
                 {264, {'l', 'n', 's', '.'}},
                 {392, {0x00, 0x00, 0x00, 0x01}},
                 {396, {0x00, 0x00, 0x00, 0x03}},
                 {784, {0x00, 0x00, 0x00, 0x01}},
                 {788, {0x00, 0x00, 0x00, 0x01}},
                 {920, {0x00, 0x00, 0x00, 0x01}},
                 {988, {0x00, 0x00, 0x00, 0x01}},
                 {992, {0xC0, 0xA8, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x00}},
                 {1000, {0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xFF}},  // as it lies
                 {1632, {0x00, 0x00, 0x00, 0x01}},
                 {1640, {0x00, 0x00, 0x00, 0x40}},
                 {1648, {0x00, 0x02, 0x00, 0x00}},
                 {1652, {0x40, 0x00, 0x20, 0x00}},
                 {2680, {0x00, 0x00, 0x00, 0x02}},
                 {2688, {0x00, 0x00, 0x00, 0x04}},
                 {2696, {0x00, 0x00, 0x00, 0x05}},
                 {2700, {0x00, 0x00, 0x00, 0x11}},
                 {2712, {0x00, 0x00, 0x00, 0x44}},
                 {2720, {0x00, 0x00, 0x00, 0x02}},
                 {2728, {0x00, 0x00, 0x0E, 0x10}}},
                "to network");

    // Count 0: no route is converted either way.
    CFM_IPSEC_PROFILE_S none{};
    none.astRoute[0] = {0xC0A80100, 0xFFFFFF00};
    ASSERT_EQ(UI_IpsecProfile_Hton(&none), 0u);
    EXPECT_EQ(At(none, 992, 8), Bytes({0x00, 0x01, 0xA8, 0xC0, 0x00, 0xFF, 0xFF, 0xFF}));

    CFM_IPSEC_PROFILE_S in{};
    Put(&in, 988, {0x00, 0x00, 0x00, 0x01});
    Put(&in, 992, {0xC0, 0xA8, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x00});
    Put(&in, 2724, {0x00, 0x01, 0x51, 0x80});
    ASSERT_EQ(UI_IpsecProfile_Ntoh(&in), 0u);
    EXPECT_EQ(in.uiRouteNum, 1u);
    EXPECT_EQ(in.astRoute[0].uiAddress, 0xC0A80100u);
    EXPECT_EQ(in.astRoute[0].uiMask, 0xFFFFFF00u);
    EXPECT_EQ(in.uiIkeSaLifetime, 86400u);
}

// A count beyond the array converts the whole array and nothing after it; the count
// stays as it came. The bytes after the record are watched as well.
TEST_F(UiCfmTest, CountsBeyondTheArrayStopAtItsEnd) {
    REQUIRE_LITTLE_ENDIAN();
    struct Guarded {
        CFM_SSL_PROFILE_S ssl;
        CFM_IPSEC_PROFILE_S ipsec;
        uint8_t guard[4096];
    };
    const uint32_t sslCounts[] = {17, 20, 0xFFFFFFFF};
    for (uint32_t count : sslCounts) {
        SCOPED_TRACE("gateway count " + std::to_string(count));
        auto* g = new Guarded();
        std::memset(g->guard, 0x5A, sizeof(g->guard));
        g->ssl = SslWithGateways(count);
        std::memset(g->ssl.aucReserved4, 0x77, sizeof(g->ssl.aucReserved4));
        ASSERT_EQ(UI_SslProfile_Hton(&g->ssl), 0u);
        EXPECT_EQ(At(g->ssl, Gw(15, 136)), Bytes({0x00, 0x00, 0x00, 0x0F}));
        EXPECT_EQ(At(g->ssl, 2808), Bytes({0x0A, 0x0B, 0x0C, 0x0D}));
        EXPECT_EQ(At(g->ssl, 2940), Bytes({0x00, 0x00, 0x00, 0x22}));
        EXPECT_EQ(At(g->ssl, 2812, 128), Bytes(128, 0x77));
        const uint32_t wireCount = count;
        ASSERT_EQ(UI_SslProfile_Ntoh(&g->ssl), 0u);
        EXPECT_EQ(g->ssl.uiGatewayNum, wireCount);
        EXPECT_EQ(g->ssl.astGateway[15].uiPort, 1015u);
        EXPECT_EQ(g->ssl.uiReserved3, 0x0A0B0C0Du);
        EXPECT_EQ(Bytes(g->guard, g->guard + sizeof(g->guard)), Bytes(sizeof(g->guard), 0x5A));
        delete g;
    }
    const uint32_t routeCounts[] = {65, 0xFFFFFFFF};
    for (uint32_t count : routeCounts) {
        SCOPED_TRACE("route count " + std::to_string(count));
        auto* g = new Guarded();
        std::memset(g->guard, 0x5A, sizeof(g->guard));
        g->ipsec.uiRouteNum = count;
        for (uint32_t i = 0; i < UI_IPSEC_ROUTE_MAX; ++i) g->ipsec.astRoute[i] = {i, ~i};
        std::strcpy(g->ipsec.acIpsecServer, "10.1.1.1");
        ASSERT_EQ(UI_IpsecProfile_Hton(&g->ipsec), 0u);
        EXPECT_EQ(At(g->ipsec, 992 + 63 * 8), Bytes({0x00, 0x00, 0x00, 0x3F}));
        EXPECT_STREQ(g->ipsec.acIpsecServer, "10.1.1.1");
        ASSERT_EQ(UI_IpsecProfile_Ntoh(&g->ipsec), 0u);
        EXPECT_EQ(g->ipsec.uiRouteNum, count);
        EXPECT_EQ(g->ipsec.astRoute[63].uiMask, ~63u);
        EXPECT_STREQ(g->ipsec.acIpsecServer, "10.1.1.1");
        EXPECT_EQ(Bytes(g->guard, g->guard + sizeof(g->guard)), Bytes(sizeof(g->guard), 0x5A));
        delete g;
    }
}

TEST_F(UiCfmTest, ConvertersRefuseANullRecord) {
    const size_t lines = ui_test::LogCount("CADM   ERROR");
    const std::function<uint32_t()> calls[] = {
        [] { return UI_SysConfig_Hton(nullptr); },    [] { return UI_SysConfig_Ntoh(nullptr); },
        [] { return UI_Session_Hton(nullptr); },      [] { return UI_Session_Ntoh(nullptr); },
        [] { return UI_SslProfile_Hton(nullptr); },   [] { return UI_SslProfile_Ntoh(nullptr); },
        [] { return UI_IpsecProfile_Hton(nullptr); }, [] { return UI_IpsecProfile_Ntoh(nullptr); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), 1u);
    EXPECT_EQ(ui_test::LogCount("CADM   ERROR") - lines, 8u);
    EXPECT_NE(LastLine("[65535]Input NULL Pointer").find("CADM   ERROR"), std::string::npos);
}

// ---- Requests against the simulator -----------------------------------------------------------

// The packet of the request log's last line.
Bytes LastPacket(ui_test::Sim& sim, size_t lines) {
    if (!sim.WaitLog(lines)) return Bytes();
    const auto log = sim.Log();
    return ui_test::Hex(log[lines - 1]["hex"].GetString());
}

TEST_F(UiCfmTest, WritesSendAConvertedCopyAndLeaveTheCallersRecord) {
    REQUIRE_LITTLE_ENDIAN();
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    size_t lines = 3;

    CFM_SYSCONFIG_S sys{};
    sys.AutoBoot = 1;
    sys.LanguageID = 2052;
    const CFM_SYSCONFIG_S sysCopy = sys;
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t ok = 0;
    ASSERT_EQ(UI_CfmSysConfig_Write(&sys, name, &ok), 0);
    EXPECT_EQ(ok, 1u);
    EXPECT_STREQ(name, CFM_KEY("SYSCONFIG_WRITE_SUCCESS"));
    EXPECT_EQ(std::memcmp(&sys, &sysCopy, sizeof(sys)), 0);
    Bytes packet = LastPacket(link.sim(), ++lines);
    ASSERT_EQ(packet.size(), 24u + 11560u);
    EXPECT_EQ(At(packet, 12, 12), Bytes({0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0x2D, 0x28}));
    EXPECT_EQ(At(packet, 24 + 76), Bytes({0x00, 0x00, 0x08, 0x04}));
    EXPECT_EQ(At(packet, 24 + 72), Bytes({0x01, 0x00, 0x00, 0x00}));

    CFM_SESSION_S session{};
    session.ConnectionType = 1;
    session.RemPwd = 1;
    std::strcpy(session.ProfileName, "Office.ini");
    std::strcpy(session.UserName, "alice");
    const CFM_SESSION_S sessionCopy = session;
    ok = 0;
    ASSERT_EQ(UI_CfmSession_Write(&session, 1, name, &ok), 0);
    EXPECT_EQ(ok, 1u);
    EXPECT_STREQ(name, CFM_KEY("SYSCONFIG_WRITE_SESSION_SUCCESS"));
    EXPECT_EQ(std::memcmp(&session, &sessionCopy, sizeof(session)), 0);
    packet = LastPacket(link.sim(), ++lines);
    ASSERT_EQ(packet.size(), 24u + 676u);
    EXPECT_EQ(At(packet, 24, 12), Bytes({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}));

    // An SSL profile of three gateways: the name follows the record without a terminator.
    const CFM_SSL_PROFILE_S ssl = SslWithGateways(3);
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Write("Lab.ini", 1, &ssl, name, &ok), 0);
    EXPECT_EQ(ok, 1u);
    EXPECT_STREQ(name, CFM_KEY("PROFILE_WRITE_SSL_SUCCESS"));
    const CFM_SSL_PROFILE_S sslCopy = SslWithGateways(3);
    EXPECT_EQ(std::memcmp(&ssl, &sslCopy, sizeof(ssl)), 0);
    packet = LastPacket(link.sim(), ++lines);
    ASSERT_EQ(packet.size(), 24u + 3328u + 7u);
    EXPECT_EQ(At(packet, 16, 8), Bytes({0, 0, 0, 5, 0, 0, 0x0D, 0x07}));
    EXPECT_EQ(At(packet, 24 + 560), Bytes({0x00, 0x00, 0x00, 0x03}));
    EXPECT_EQ(At(packet, 24 + Gw(2, 128)), Bytes({0x00, 0x00, 0x03, 0xEA}));
    EXPECT_EQ(At(packet, 24 + Gw(3, 128)), Bytes({0xEB, 0x03, 0x00, 0x00}));
    EXPECT_EQ(std::string(packet.end() - 7, packet.end()), "Lab.ini");
    // The simulator's own codec reads the same record.
    const auto log = link.sim().Log();
    EXPECT_EQ(log[lines - 1]["fields"]["uiGatewayNum"].GetUint(), 3u);
    EXPECT_EQ(log[lines - 1]["fields"]["astGateway"][2]["uiPort"].GetUint(), 1002u);
    EXPECT_EQ(std::string(log[lines - 1]["text"].GetString()), "Lab.ini");

    // An IPSec profile with one route.
    CFM_IPSEC_PROFILE_S ipsec{};
    ipsec.uiLinkType = 2;
    ipsec.uiRouteNum = 1;
    ipsec.astRoute[0] = {0xC0A80100, 0xFFFFFF00};
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Write("LabIpsec.ini", 2, &ipsec, name, &ok), 0);
    EXPECT_EQ(ok, 1u);
    EXPECT_STREQ(name, CFM_KEY("PROFILE_WRITE_IPSEC_SUCCESS"));
    EXPECT_EQ(ipsec.astRoute[0].uiAddress, 0xC0A80100u);
    packet = LastPacket(link.sim(), ++lines);
    ASSERT_EQ(packet.size(), 24u + 2732u + 12u);
    EXPECT_EQ(At(packet, 16, 4), Bytes({0, 0, 0, 7}));
    EXPECT_EQ(At(packet, 24 + 992, 8), Bytes({0xC0, 0xA8, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x00}));
}

TEST_F(UiCfmTest, NamesAndPathsTravelWithoutTerminatorAndExportFieldsAreCut) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    char name[UI_MSGCODE_NAME_SIZE] = {};
    uint32_t ok = 0;
    CFM_SSL_PROFILE_S rec{};
    ASSERT_EQ(UI_CfmProfile_Read("Office.ini", 1, &rec, name, &ok), 0);
    Bytes packet = LastPacket(link.sim(), 4);
    EXPECT_EQ(packet.size(), 24u + 10u);
    EXPECT_EQ(At(packet, 12, 12), Bytes({0, 0, 0, 9, 0, 0, 0, 6, 0, 0, 0, 10}));
    EXPECT_EQ(std::string(packet.begin() + 24, packet.end()), "Office.ini");

    const std::string longName(140, 'n');
    const std::string longPath = "/tmp/" + std::string(1100, 'p');
    ASSERT_EQ(UI_CfmProfile_Output(longPath.c_str(), longName.c_str(), name, &ok), 0);
    packet = LastPacket(link.sim(), 5);
    ASSERT_EQ(packet.size(), 24u + 1157u);
    EXPECT_EQ(At(packet, 16, 8), Bytes({0, 0, 0, 10, 0, 0, 0x04, 0x85}));
    EXPECT_EQ(std::string(packet.begin() + 24, packet.begin() + 24 + 132), std::string(132, 'n'));
    EXPECT_EQ(packet[24 + 132], 0);
    EXPECT_EQ(std::string(packet.begin() + 24 + 133, packet.begin() + 24 + 133 + 1023),
              longPath.substr(0, 1023));
    EXPECT_EQ(packet[24 + 1156], 0);
}

// A link type other than 1 or 2 is refused before anything is sent: the next request's
// line follows the last one in the simulator's log directly.
TEST_F(UiCfmTest, UnknownLinkTypeSendsNothing) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    std::vector<uint8_t> record(3328, kFill);
    char name[UI_MSGCODE_NAME_SIZE] = "(unset)";
    uint32_t ok = kUntouched;
    const size_t readLines = ui_test::LogCount("[65535][Cfm profile read][profile type is invalid\r");
    const size_t writeLines = ui_test::LogCount("[65535][Cfm profile write][profile type is invalid]");
    for (uint32_t type : {0u, 3u}) {
        EXPECT_EQ(UI_CfmProfile_Read("Office.ini", type, record.data(), name, &ok), 1);
        EXPECT_EQ(UI_CfmProfile_Write("Office.ini", type, record.data(), name, &ok), 1);
    }
    EXPECT_EQ(ok, kUntouched);
    EXPECT_STREQ(name, "(unset)");
    EXPECT_EQ(record, std::vector<uint8_t>(3328, kFill));
    EXPECT_EQ(ui_test::LogCount("[65535][Cfm profile read][profile type is invalid\r"), readLines + 2);
    EXPECT_EQ(ui_test::LogCount("[65535][Cfm profile write][profile type is invalid]"),
              writeLines + 2);
    CFM_SYSCONFIG_S sys;
    ASSERT_EQ(UI_CfmSysConfig_Read(name, &ok, &sys), 0);
    ASSERT_TRUE(link.sim().WaitLog(4));
    const auto log = link.sim().Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3]["head"]["code"].GetUint(), 2u);
}

// ---- Request table --------------------------------------------------------------------------------

enum class Req {
    SysRead, SysWrite, SessWrite, SessRead, ProfWrite, ProfRead, ProfDelete, ProfInput,
    ProfOutput, ProfSpecify,
};

enum class Rec { Untouched, Ssl, Ipsec, Session, SysConfig };

uint32_t RequestCode(Req r, uint32_t linkType) {
    switch (r) {
    case Req::SysRead: return 2;
    case Req::SysWrite: return 1;
    case Req::SessWrite: return 3;
    case Req::SessRead: return 4;
    case Req::ProfWrite: return linkType == 1 ? 5 : 7;
    case Req::ProfRead: return linkType == 1 ? 6 : 8;
    case Req::ProfDelete: return 12;
    case Req::ProfInput: return 9;
    case Req::ProfOutput: return 10;
    case Req::ProfSpecify: return 11;
    }
    return 0;
}

struct Outputs {
    std::vector<uint8_t> record = std::vector<uint8_t>(11560, kFill);
    char name[UI_MSGCODE_NAME_SIZE] = "(unset)";
    uint32_t ok = 0;
    uint32_t linkType = kUntouched;
};

int32_t Call(Req r, uint32_t linkType, Outputs* o) {
    void* rec = o->record.data();
    switch (r) {
    case Req::SysRead:
        return UI_CfmSysConfig_Read(o->name, &o->ok, static_cast<CFM_SYSCONFIG_S*>(rec));
    case Req::SysWrite:
        return UI_CfmSysConfig_Write(static_cast<CFM_SYSCONFIG_S*>(rec), o->name, &o->ok);
    case Req::SessWrite:
        return UI_CfmSession_Write(static_cast<CFM_SESSION_S*>(rec), 0, o->name, &o->ok);
    case Req::SessRead:
        return UI_CfmSession_Read("Lab.ini", o->name, &o->ok, static_cast<CFM_SESSION_S*>(rec));
    case Req::ProfWrite: return UI_CfmProfile_Write("Lab.ini", linkType, rec, o->name, &o->ok);
    case Req::ProfRead: return UI_CfmProfile_Read("Lab.ini", linkType, rec, o->name, &o->ok);
    case Req::ProfDelete: return UI_CfmProfile_Delete("Lab.ini", o->name, &o->ok);
    case Req::ProfInput: return UI_CfmProfile_Input("/tmp/Lab.ini", &o->linkType, o->name, &o->ok);
    case Req::ProfOutput: return UI_CfmProfile_Output("/tmp/Lab.ini", "Lab.ini", o->name, &o->ok);
    case Req::ProfSpecify: return UI_CfmProfile_SpecifyLink("Lab.ini", &o->linkType, o->name, &o->ok);
    }
    return -1;
}

void ExpectRecord(Rec expected, const std::vector<uint8_t>& bytes) {
    switch (expected) {
    case Rec::Untouched:
        EXPECT_EQ(bytes, std::vector<uint8_t>(bytes.size(), kFill)) << "record changed";
        return;
    case Rec::Ssl: {
        const auto* p = reinterpret_cast<const CFM_SSL_PROFILE_S*>(bytes.data());
        EXPECT_EQ(p->uiPort, 443u);
        EXPECT_EQ(p->uiGatewayNum, 1u);
        EXPECT_EQ(p->astGateway[0].uiPort, 8443u);
        EXPECT_STREQ(p->astGateway[0].acAddress, "10.0.0.1");
        EXPECT_EQ(bytes[3328], kFill) << "copied past the record";
        return;
    }
    case Rec::Ipsec: {
        const auto* p = reinterpret_cast<const CFM_IPSEC_PROFILE_S*>(bytes.data());
        EXPECT_EQ(p->uiRouteNum, 1u);
        EXPECT_EQ(p->astRoute[0].uiAddress, 0xC0A80100u);
        EXPECT_EQ(p->uiIkeSaLifetime, 86400u);
        EXPECT_EQ(bytes[2732], kFill) << "copied past the record";
        return;
    }
    case Rec::Session: {
        const auto* p = reinterpret_cast<const CFM_SESSION_S*>(bytes.data());
        EXPECT_EQ(p->ConnectionType, 2u);
        EXPECT_EQ(p->RemPwd, 1u);
        EXPECT_STREQ(p->ProfileName, "Lab.ini");
        EXPECT_EQ(bytes[676], kFill) << "copied past the record";
        return;
    }
    case Rec::SysConfig: {
        const auto* p = reinterpret_cast<const CFM_SYSCONFIG_S*>(bytes.data());
        EXPECT_EQ(p->LanguageID, 1033u);
        EXPECT_EQ(p->AutoBoot, 1u);
        EXPECT_STREQ(p->Sessions[1].ProfileName, "Lab.ini");
        return;
    }
    }
}

#define SSL_REC R"({"record":"CFM_SSL_PROFILE_S","fields":{"uiPort":443,"uiGatewayNum":1,"astGateway":[{"acAddress":"10.0.0.1","uiPort":8443}]}})"
#define IPSEC_REC R"({"record":"CFM_IPSEC_PROFILE_S","fields":{"uiRouteNum":1,"astRoute":[{"uiAddress":"0xC0A80100","uiMask":"0xFFFFFF00"}],"uiIkeSaLifetime":86400}})"
#define SESSION_REC R"({"record":"CFM_SESSION_S","fields":{"ConnectionType":2,"RemPwd":1,"ProfileName":"Lab.ini"}})"
#define SYS_REC R"({"record":"CFM_SYSCONFIG_S","fields":{"LanguageID":1033,"AutoBoot":1,"Sessions[1].ProfileName":"Lab.ini"}})"
#define LINK(n) R"({"record":"LinkType","fields":{"uiLinkType":)" #n "}}"

struct Case {
    const char* label;
    Req req;
    uint32_t linkType;
    const char* reply;  // one scripted reply, JSON
    uint32_t okIn;
    uint32_t okOut;
    uint32_t linkOut;
    const char* name;
    Rec record;
};

const Case kCases[] = {
    // The two plain reads clear ok first; only their success reply with its whole
    // record sets it.
    {"SysReadFailure", Req::SysRead, 0, R"({"code":"0xD0003"})", 1, 0, kUntouched,
     CFM_KEY("SYSCONFIG_READ_FAIL"), Rec::Untouched},
    {"SysReadModuleNotExamined", Req::SysRead, 0, R"({"code":"0x10002","payload":)" SYS_REC "}",
     1, 0, kUntouched, CFM_KEY("SYSCONFIG_READ_SUCCESS"), Rec::Untouched},
    {"SysReadIndexBeyondTable", Req::SysRead, 0, R"({"code":"0x2001E","payload":)" SYS_REC "}", 1,
     0, kUntouched, kFallback, Rec::Untouched},
    {"SysReadSuccess", Req::SysRead, 0, R"({"code":"0xD0002","payload":)" SYS_REC "}", 0, 1,
     kUntouched, CFM_KEY("SYSCONFIG_READ_SUCCESS"), Rec::SysConfig},
    {"SysReadSuccessWithoutRecord", Req::SysRead, 0, R"({"code":"0xD0002"})", 1, 0, kUntouched,
     kFallback, Rec::Untouched},
    {"SysReadSuccessShortRecord", Req::SysRead, 0,
     R"({"code":"0xD0002","payload":)" SYS_REC R"(,"truncateTo":11559})", 1, 0, kUntouched,
     kFallback, Rec::Untouched},
    {"SessReadSuccess", Req::SessRead, 0, R"({"code":"0xD0006","payload":)" SESSION_REC "}", 0, 1,
     kUntouched, CFM_KEY("SYSCONFIG_READ_SESSION_SUCCESS"), Rec::Session},
    {"SessReadFailure", Req::SessRead, 0, R"({"code":"0xD0007","payload":)" SESSION_REC "}", 1, 0,
     kUntouched, CFM_KEY("SYSCONFIG_READ_SESSION_FAIL"), Rec::Untouched},
    // The other requests never clear ok: a caller's 7 survives every other reply.
    {"SysWriteFailure", Req::SysWrite, 0, R"({"code":"0xD0001"})", 7, 7, kUntouched,
     CFM_KEY("SYSCONFIG_WRITE_FAIL"), Rec::Untouched},
    {"SysWriteSuccess", Req::SysWrite, 0, R"({"code":"0xD0000"})", 0, 1, kUntouched,
     CFM_KEY("SYSCONFIG_WRITE_SUCCESS"), Rec::Untouched},
    {"SessWriteFailure", Req::SessWrite, 0, R"({"code":"0xD0005"})", 7, 7, kUntouched,
     CFM_KEY("SYSCONFIG_WRITE_SESSION_FAIL"), Rec::Untouched},
    {"SslWriteFailure", Req::ProfWrite, 1, R"({"code":"0xD000A"})", 7, 7, kUntouched,
     CFM_KEY("PROFILE_WRITE_SSL_FAIL"), Rec::Untouched},
    {"IpsecWriteSuccess", Req::ProfWrite, 2, R"({"code":"0xD000D"})", 0, 1, kUntouched,
     CFM_KEY("PROFILE_WRITE_IPSEC_SUCCESS"), Rec::Untouched},
    {"ProfileExists", Req::ProfWrite, 2, R"({"code":"0xD001A"})", 7, 7, kUntouched,
     CFM_KEY("PROFILE_IS_EXIST"), Rec::Untouched},
    // A profile read hands on a record a failure reply carries; a success reply
    // without its record is no success.
    {"SslReadFailureWithRecord", Req::ProfRead, 1, R"({"code":"0xD000C","payload":)" SSL_REC "}",
     0, 0, kUntouched, CFM_KEY("PROFILE_READ_SSL_FAIL"), Rec::Ssl},
    {"SslReadFailureHeadOnly", Req::ProfRead, 1, R"({"code":"0xD000C"})", 0, 0, kUntouched,
     CFM_KEY("PROFILE_READ_SSL_FAIL"), Rec::Untouched},
    {"SslReadFailureShortRecord", Req::ProfRead, 1,
     R"({"code":"0xD000C","payload":)" SSL_REC R"(,"truncateTo":3000})", 0, 0, kUntouched,
     CFM_KEY("PROFILE_READ_SSL_FAIL"), Rec::Untouched},
    {"SslReadSuccess", Req::ProfRead, 1, R"({"code":"0xD000B","payload":)" SSL_REC "}", 0, 1,
     kUntouched, CFM_KEY("PROFILE_READ_SSL_SUCCESS"), Rec::Ssl},
    {"SslReadSuccessHeadOnly", Req::ProfRead, 1, R"({"code":"0xD000B"})", 0, 0, kUntouched,
     kFallback, Rec::Untouched},
    {"IpsecReadSuccess", Req::ProfRead, 2, R"({"code":"0xD000F","payload":)" IPSEC_REC "}", 0, 1,
     kUntouched, CFM_KEY("PROFILE_READ_IPSEC_SUCCESS"), Rec::Ipsec},
    {"ReadIndexBeyondTable", Req::ProfRead, 1, R"({"code":"0x2001E","payload":)" SSL_REC "}", 0,
     0, kUntouched, kFallback, Rec::Untouched},
    {"DeleteSuccess", Req::ProfDelete, 0, R"({"code":"0xD0018"})", 0, 1, kUntouched,
     CFM_KEY("PROFILE_DELETE_SUCCESS"), Rec::Untouched},
    {"DeleteModuleNotExamined", Req::ProfDelete, 0, R"({"code":"0x10002"})", 7, 7, kUntouched,
     CFM_KEY("SYSCONFIG_READ_SUCCESS"), Rec::Untouched},
    // Import: the link type is stored on the success reply; ok only for 1 or 2.
    {"InputLinkTypeFive", Req::ProfInput, 0, R"({"code":"0xD0011","payload":)" LINK(5) "}", 0, 0,
     5, CFM_KEY("PROFILE_INPUT_SUCCESS"), Rec::Untouched},
    {"InputLinkTypeTwo", Req::ProfInput, 0, R"({"code":"0xD0011","payload":)" LINK(2) "}", 0, 1,
     2, CFM_KEY("PROFILE_INPUT_SUCCESS"), Rec::Untouched},
    {"InputFailure", Req::ProfInput, 0, R"({"code":"0xD0013","payload":)" LINK(1) "}", 0, 0,
     kUntouched, CFM_KEY("PROFILE_INPUT_TOO_BIG"), Rec::Untouched},
    {"InputSuccessWithoutType", Req::ProfInput, 0, R"({"code":"0xD0011"})", 0, 0, kUntouched,
     kFallback, Rec::Untouched},
    {"OutputFailure", Req::ProfOutput, 0, R"({"code":"0xD001D"})", 7, 7, kUntouched,
     CFM_KEY("PROFILE_OUTPUT_PATH_INVALID"), Rec::Untouched},
    {"OutputSuccess", Req::ProfOutput, 0, R"({"code":"0xD0014"})", 0, 1, kUntouched,
     CFM_KEY("PROFILE_OUTPUT_SUCCESS"), Rec::Untouched},
    // Link type of a profile: stored for every code of the table.
    {"SpecifyTypeZero", Req::ProfSpecify, 0, R"({"code":"0xD0016","payload":)" LINK(0) "}", 0,
     0, 0, CFM_KEY("PROFILE_SPECIFY_FAIL"), Rec::Untouched},
    {"SpecifySuccess", Req::ProfSpecify, 0, R"({"code":"0xD0016","payload":)" LINK(2) "}", 0, 1,
     2, CFM_KEY("PROFILE_SPECIFY_SUCCESS"), Rec::Untouched},
    {"SpecifyOtherCodeKnownType", Req::ProfSpecify, 0,
     R"({"code":"0xD001B","payload":)" LINK(1) "}", 0, 0, 1, CFM_KEY("PROFILE_IS_NOT_EXIST"),
     Rec::Untouched},
    {"SpecifyHeadOnlyFailure", Req::ProfSpecify, 0, R"({"code":"0xD001B"})", 0, 0, kUntouched,
     CFM_KEY("PROFILE_SPECIFY_FAIL"), Rec::Untouched},
    {"SpecifyIndexBeyondTable", Req::ProfSpecify, 0, R"({"code":"0x2001E","payload":)" LINK(1) "}",
     7, 7, kUntouched, kFallback, Rec::Untouched},
};

TEST_F(UiCfmTest, RepliesTable) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        const std::string set = "script set 9 " + std::to_string(RequestCode(c.req, c.linkType)) +
                                " " + c.reply;
        ASSERT_EQ(link.sim().Control(set), "OK");
        Outputs out;
        out.ok = c.okIn;
        const size_t finish = ui_test::LogCount("finish, me");
        EXPECT_EQ(Call(c.req, c.linkType, &out), 0);
        EXPECT_EQ(out.ok, c.okOut);
        EXPECT_EQ(out.linkType, c.linkOut);
        EXPECT_STREQ(out.name, c.name);
        ExpectRecord(c.record, out.record);
        EXPECT_EQ(ui_test::LogCount("finish, me"), finish + 1);
    }
}

// ---- Log texts and failures before a reply -------------------------------------------------

struct TextCase {
    const char* label;
    std::function<int32_t(Outputs*, bool nullArg)> call;
    const char* args;     // text after "[65535][op][" of a null argument
    const char* noFd;
    const char* sendFailed;
    bool clearsOk;
};

const char* Arg(bool nullArg, const char* text) { return nullArg ? nullptr : text; }

const TextCase kTexts[] = {
    {"SysRead",
     [](Outputs* o, bool n) {
         return UI_CfmSysConfig_Read(o->name, &o->ok,
                                     n ? nullptr : reinterpret_cast<CFM_SYSCONFIG_S*>(o->record.data()));
     },
     "[Cfm system config read][invalid parameter!]", "[Cfm system config read][login connect fd get failed!]",
     "[Cfm system config read][ui sync send failed!]", true},
    {"SysWrite",
     [](Outputs* o, bool n) {
         return UI_CfmSysConfig_Write(n ? nullptr : reinterpret_cast<CFM_SYSCONFIG_S*>(o->record.data()),
                                      o->name, &o->ok);
     },
     "[Cfm system config write][invalid parameter!]", "[Cfm system config write][ui get fd failed!]",
     "[Cfm system config write][ui sync send failed!]", false},
    {"SessWrite",
     [](Outputs* o, bool n) {
         return UI_CfmSession_Write(n ? nullptr : reinterpret_cast<CFM_SESSION_S*>(o->record.data()), 1,
                                    o->name, &o->ok);
     },
     "[Cfm system config write session][invalid parameter!]",
     "[Cfm system config write session][ui get fd failed!]",
     "[Cfm system config write session][ui sync send failed!]", false},
    {"SessRead",
     [](Outputs* o, bool n) {
         return UI_CfmSession_Read(Arg(n, "Lab.ini"), o->name, &o->ok,
                                   reinterpret_cast<CFM_SESSION_S*>(o->record.data()));
     },
     "[Cfm system config read session][invalid parameter!]",
     "[Cfm system config read session][login connect fd get failed!]",
     "[Cfm system config read session][ui sync send failed!]", true},
    {"ProfWrite",
     [](Outputs* o, bool n) {
         return UI_CfmProfile_Write("Lab.ini", 1, n ? nullptr : o->record.data(), o->name, &o->ok);
     },
     "[Cfm profile write][input null pointer]", "[Cfm profile write][ui get connect fd failed!]",
     "[Cfm profile write][profile wirte failed]", false},
    {"ProfRead",
     [](Outputs* o, bool n) {
         return UI_CfmProfile_Read(Arg(n, "Lab.ini"), 2, o->record.data(), o->name, &o->ok);
     },
     "[Cfm profile read][input null Pointer\r", "[Cfm profile read][ui get connect fd failed!]",
     "[Cfm profile read][profile read failed]", false},
    {"ProfDelete",
     [](Outputs* o, bool n) { return UI_CfmProfile_Delete(Arg(n, "Lab.ini"), o->name, &o->ok); },
     "[Cfm profile delete][input null pointer\r", "[Cfm profile delete][ui get connect fd failed!]",
     "[Cfm profile delete][profile delete failed]", false},
    {"ProfInput",
     [](Outputs* o, bool n) {
         return UI_CfmProfile_Input("/tmp/Lab.ini", n ? nullptr : &o->linkType, o->name, &o->ok);
     },
     "[Cfm profile input][input null pointer]", "[Cfm profile input][ui get connect fd failed!]",
     "[Cfm profile input][profile input failed]", false},
    {"ProfOutput",
     [](Outputs* o, bool n) {
         return UI_CfmProfile_Output(Arg(n, "/tmp/Lab.ini"), "Lab.ini", o->name, &o->ok);
     },
     "[Cfm profile output][input null pointer\r", "[Cfm profile output][ui get connect fd failed!]",
     "[Cfm profile output][profile output failed]", false},
    {"ProfSpecify",
     [](Outputs* o, bool n) {
         return UI_CfmProfile_SpecifyLink("Lab.ini", n ? nullptr : &o->linkType, o->name, &o->ok);
     },
     "[Cfm profile specify link][input null pointer]",
     "[Cfm profile specify link][ui get connect fd failed!]",
     "[Cfm profile specify link][profile linktype get failed]", false},
};

// Before a reply nothing but the two reads' ok flag changes, and each request names the
// failure in its own words.
TEST_F(UiCfmTest, FailuresBeforeAReplyAreLoggedInEachRequestsWords) {
    auto expectNothingWritten = [](const TextCase& c, const Outputs& o, bool okCleared) {
        EXPECT_EQ(o.ok, okCleared ? 0u : 7u);
        EXPECT_STREQ(o.name, "(unset)");
        EXPECT_EQ(o.linkType, kUntouched);
        EXPECT_EQ(o.record, std::vector<uint8_t>(11560, kFill)) << c.label;
    };
    const std::string tag = "[65535]";
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.label);
        Outputs o;
        o.ok = 7;
        const size_t args = ui_test::LogCount(tag + c.args);
        EXPECT_EQ(c.call(&o, true), 1);
        EXPECT_EQ(ui_test::LogCount(tag + c.args), args + 1);
        expectNothingWritten(c, o, false);

        const size_t noFd = ui_test::LogCount(tag + c.noFd);
        EXPECT_EQ(c.call(&o, false), 1);  // no connection at all
        EXPECT_EQ(ui_test::LogCount(tag + c.noFd), noFd + 1);
        expectNothingWritten(c, o, c.clearsOk);
    }

    // The engine closes the synchronous connection: every exchange fails.
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(link.sim().Control("close sync"), "OK");
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd()));
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.label);
        Outputs o;
        o.ok = 7;
        const size_t sendFailed = ui_test::LogCount(tag + c.sendFailed);
        EXPECT_EQ(c.call(&o, false), 1);
        EXPECT_EQ(ui_test::LogCount(tag + c.sendFailed), sendFailed + 1);
        expectNothingWritten(c, o, c.clearsOk);
    }
}

TEST_F(UiCfmTest, StartAndFinishLinesCarryTheReplyCode) {
    ui_test::SimLink link(R"("scripts":[{"msgType":9,"code":6,"replies":[{"code":"0xD000C"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    Outputs o;
    ASSERT_EQ(UI_CfmProfile_Read("Lab.ini", 1, o.record.data(), o.name, &o.ok), 0);
    EXPECT_NE(LastLine("[65535][Cfm profile read][ui read profile finish, meaasge code is 0xd000c]")
                  .find("UI     INFO"),
              std::string::npos);
    ASSERT_EQ(UI_CfmSysConfig_Read(o.name, &o.ok, reinterpret_cast<CFM_SYSCONFIG_S*>(o.record.data())), 0);
    EXPECT_NE(LastLine("[65535][Cfm system config read][ui read system config start!]")
                  .find("UI     INFO"),
              std::string::npos);
    EXPECT_NE(
        LastLine("[65535][Cfm system config read][ui read system config finish, message code is 0xd0002]")
            .find("UI     INFO"),
        std::string::npos);
}

// ---- The happy simulator: a whole profile cycle ------------------------------------------------

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The session entry the configuration keeps for a profile, or -1.
int SessionOf(const CFM_SYSCONFIG_S& sys, const char* profile) {
    for (int i = 0; i < UI_SESSION_ENTRY_MAX; ++i) {
        if (strncmp(sys.Sessions[i].ProfileName, profile, sizeof(sys.Sessions[i].ProfileName)) == 0) {
            return i;
        }
    }
    return -1;
}

TEST_F(UiCfmTest, ProfileCycleAgainstTheHappySimulator) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const std::string home = std::getenv("HOME");  // the simulator's, while it runs
    const std::string profileFile = home + "/.VanTrelo/config/Lab.ini";
    ASSERT_FALSE(Exists(profileFile));
    char name[UI_MSGCODE_NAME_SIZE];
    uint32_t ok;

    // Write a new SSL profile.
    CFM_SSL_PROFILE_S written = SslWithGateways(2);
    std::strcpy(written.acDescription, "lab gateways");
    for (uint32_t i = 2; i < UI_GATEWAY_ENTRY_MAX; ++i) written.astGateway[i] = UIGATEWAY_INFO_S{};
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Write("Lab.ini", 1, &written, name, &ok), 0);
    ASSERT_EQ(ok, 1u) << name;
    EXPECT_NE(ReadFile(profileFile).find("Gateway=192.0.2.10:443"), std::string::npos);

    // Read it back, field for field.
    CFM_SSL_PROFILE_S read;
    std::memset(&read, kFill, sizeof(read));
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Read("Lab.ini", 1, &read, name, &ok), 0);
    ASSERT_EQ(ok, 1u) << name;
    EXPECT_STREQ(name, CFM_KEY("PROFILE_READ_SSL_SUCCESS"));
    EXPECT_EQ(read.uiLinkType, 1u);
    EXPECT_EQ(read.uiHeadWord2, 1u);
    EXPECT_EQ(read.uiGmAlgorithm, 1u);
    EXPECT_STREQ(read.acDescription, "lab gateways");
    EXPECT_STREQ(read.acGatewayAddress, "192.0.2.10");
    EXPECT_EQ(read.uiPort, 443u);
    EXPECT_EQ(read.uiDelay, 7u);
    EXPECT_EQ(read.uiTunnelMode, 2u);
    EXPECT_EQ(read.uiAutoBest, 1u);
    EXPECT_EQ(read.uiGatewayNum, 2u);
    EXPECT_EQ(read.uiDefaultGateway, 0xFFFFFFFFu);
    EXPECT_STREQ(read.astGateway[1].acAddress, "192.0.2.21");
    EXPECT_EQ(read.astGateway[1].uiPort, 1001u);
    EXPECT_EQ(read.astGateway[1].uiDelay, 11u);
    EXPECT_EQ(read.astGateway[1].uiFlag, 1u);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof(read)), 0) << "some field differs";

    uint32_t linkType = 0;
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_SpecifyLink("Lab.ini", &linkType, name, &ok), 0);
    EXPECT_EQ(ok, 1u);
    EXPECT_EQ(linkType, 1u);

    CFM_SYSCONFIG_S sys;
    ASSERT_EQ(UI_CfmSysConfig_Read(name, &ok, &sys), 0);
    ASSERT_EQ(ok, 1u);
    const int entry = SessionOf(sys, "Lab.ini");
    ASSERT_GE(entry, 0);
    EXPECT_EQ(sys.Sessions[entry].ConnectionType, 1u);
    EXPECT_EQ(sys.LanguageID, 2052u);
    EXPECT_STREQ(sys.ProductName, "VanTrelo");

    // Export to a file named after the profile.
    const std::string folder = link.sim().Dir() + "/export";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string exported = folder + "/Lab.ini";
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Output(exported.c_str(), "Lab.ini", name, &ok), 0);
    ASSERT_EQ(ok, 1u) << name;
    EXPECT_EQ(ReadFile(exported), ReadFile(profileFile));

    // Delete it: the file and the session entry go.
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Delete("Lab.ini", name, &ok), 0);
    ASSERT_EQ(ok, 1u) << name;
    EXPECT_FALSE(Exists(profileFile));
    ASSERT_EQ(UI_CfmSysConfig_Read(name, &ok, &sys), 0);
    EXPECT_EQ(SessionOf(sys, "Lab.ini"), -1);
    ok = 0;
    std::memset(&read, kFill, sizeof(read));
    ASSERT_EQ(UI_CfmProfile_Read("Lab.ini", 1, &read, name, &ok), 0);
    EXPECT_EQ(ok, 0u);
    EXPECT_STREQ(name, CFM_KEY("PROFILE_READ_SSL_FAIL"));

    // Import it again: the profile takes its name from the file.
    linkType = 0;
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Input(exported.c_str(), &linkType, name, &ok), 0);
    ASSERT_EQ(ok, 1u) << name;
    EXPECT_EQ(linkType, 1u);
    EXPECT_STREQ(name, CFM_KEY("PROFILE_INPUT_SUCCESS"));
    EXPECT_TRUE(Exists(profileFile));
    EXPECT_EQ(ReadFile(profileFile), ReadFile(exported));
    ok = 0;
    ASSERT_EQ(UI_CfmProfile_Read("Lab.ini", 1, &read, name, &ok), 0);
    ASSERT_EQ(ok, 1u);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof(read)), 0);
    ASSERT_EQ(UI_CfmSysConfig_Read(name, &ok, &sys), 0);
    EXPECT_GE(SessionOf(sys, "Lab.ini"), 0);
}

}  // namespace
