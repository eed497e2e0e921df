// The simulator as the front end meets it: started with no arguments, listening on
// the fixed promote-service port, answering the front end's opening exchange and a
// first session of requests, and recording each packet decoded in the request log.

#include <string>

#include <gtest/gtest.h>

#include "sim_test_support.h"
#include "vt_test/temp_env.h"

namespace {

using namespace simtest;

TEST(SimFrontEnd, OpeningExchangeAndFirstRequests) {
    vt_test::TempEnv env;
    SimProcess sim(R"({"requestLog":"@DIR@/requests.jsonl","portsFile":"@DIR@/ports.json"})",
                   env.Tmp());
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    ASSERT_EQ(sim.Port("promote"), 29191);
    std::vector<Bytes> sent;
    auto send = [&](Client& c, const Bytes& b) {
        c.Send(b);
        sent.push_back(b);
    };
    Head h;
    Bytes p;

    // Port request: user name and install folder.
    Client promote(29191);
    Bytes portReq(1056, 0);
    PutText(portReq, 0, "alice");
    PutText(portReq, 32, "/opt/vantrelo/bin");
    send(promote, Packet(2, 1, 2, 1, 0x10006, portReq));
    ASSERT_TRUE(promote.Recv(&h, &p));
    EXPECT_EQ(h.source, 1u);
    EXPECT_EQ(h.dest, 2u);
    EXPECT_EQ(h.type, 2u);
    EXPECT_EQ(h.code, 0x10008u);
    ASSERT_EQ(p.size(), 4u);
    uint16_t enginePort = uint16_t(Get32(p, 0));
    EXPECT_EQ(enginePort, sim.Port("engine"));

    // Two greetings, never answered.
    Client sync(enginePort), async(enginePort);
    send(sync, Packet(2, 4, 1, 1, 0x10006));
    send(async, Packet(2, 4, 2, 1, 0x10006));
    EXPECT_TRUE(sync.Silent(200));
    EXPECT_TRUE(async.Silent(0));
    EXPECT_TRUE(promote.Silent(0));

    // Configuration read.
    send(sync, Packet(2, 4, 1, 9, 2));
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.source, 4u);
    EXPECT_EQ(h.dest, 2u);
    EXPECT_EQ(h.type, 1u);
    EXPECT_EQ(h.msgType, 9u);
    EXPECT_EQ(h.code, 0xD0002u);
    ASSERT_EQ(p.size(), 11560u);
    EXPECT_EQ(ToHex(Bytes(p.begin() + 76, p.begin() + 80)), "00000804");

    // Profile write (gateway count 1, its port big-endian) and read back.
    Bytes profile(3328, 0);
    Put32(profile, 0, 1);
    Put32(profile, 8, 1);
    PutText(profile, 409, "198.51.100.9");
    Put32(profile, 540, 443);
    Put32(profile, 560, 1);
    PutText(profile, 568, "198.51.100.9");
    Put32(profile, 568 + 128, 443);
    Bytes write = profile;
    write.insert(write.end(), {'L', 'a', 'b', '.', 'i', 'n', 'i'});
    send(sync, Packet(2, 4, 1, 9, 5, write));
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xD0009u);
    EXPECT_EQ(h.len, 0u);
    send(sync, Packet(2, 4, 1, 9, 6, Bytes{'L', 'a', 'b', '.', 'i', 'n', 'i'}));
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xD000Bu);
    EXPECT_EQ(p, profile);
    EXPECT_FALSE(ReadFile(env.Home() + "/.VanTrelo/config/Lab.ini").empty());

    // Login (record in memory order) and logout.
    Bytes login(1980, 0);
    login[0] = 1;    // uiDeviceCACheck
    login[12] = 1;   // uiLoginType
    login[16] = 2;   // uiLanguage
    PutText(login, 1044, "192.0.2.11:443");
    PutText(login, 1300, "alice");
    PutText(login, 1684, "Passw0rd");
    PutText(login, 1844, "Lab.ini");
    send(sync, Packet(2, 4, 1, 3, 5, login));
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.msgType, 3u);
    EXPECT_EQ(h.code, 0x20000u);
    EXPECT_EQ(p.size(), 32u);
    send(sync, Packet(2, 4, 1, 3, 8));
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xA0000u);

    // The request log: one line per packet, in order, head and payload decoded, and
    // the raw bytes exactly as sent.
    ASSERT_TRUE(sim.WaitLog(sent.size()));
    std::vector<rapidjson::Document> log = sim.Log();
    ASSERT_EQ(log.size(), sent.size());
    const char* conns[] = {"promote", "sync", "async", "sync", "sync", "sync", "sync", "sync"};
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(log[i]["conn"].GetString(), conns[i]);
        EXPECT_EQ(log[i]["hex"].GetString(), ToHex(sent[i]));
        EXPECT_EQ(log[i]["head"]["code"].GetUint(), Get32(sent[i], 16));
        EXPECT_EQ(log[i]["head"]["len"].GetUint(), sent[i].size() - 24);
    }
    EXPECT_STREQ(log[0]["record"].GetString(), "RemotePortRequest");
    EXPECT_STREQ(log[0]["fields"]["acInstallPath"].GetString(), "/opt/vantrelo/bin");
    EXPECT_FALSE(log[1].HasMember("record"));
    EXPECT_STREQ(log[4]["record"].GetString(), "CFM_SSL_PROFILE_S");
    EXPECT_STREQ(log[4]["text"].GetString(), "Lab.ini");
    EXPECT_EQ(log[4]["fields"]["astGateway"][0]["uiPort"].GetUint(), 443u);
    EXPECT_STREQ(log[5]["text"].GetString(), "Lab.ini");
    EXPECT_STREQ(log[6]["record"].GetString(), "UI_SSL_LOGIN_S");
    EXPECT_EQ(log[6]["fields"]["uiLanguage"].GetUint(), 2u);
    EXPECT_STREQ(log[6]["fields"]["acUserName"].GetString(), "alice");
    EXPECT_STREQ(log[6]["fields"]["acGateway"].GetString(), "192.0.2.11:443");

    EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
