// The simulator program itself, on free loopback ports: every scripted misbehaviour
// as it appears on the wire, events and connection closes through the control
// channel, the promote side's choices, the update hand-over, and a clean stop.

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "sim_test_support.h"
#include "vt_test/temp_env.h"

namespace {

using namespace simtest;

int64_t Ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char kBase[] = R"("requestLog":"@DIR@/requests.jsonl","portsFile":"@DIR@/ports.json",
                        "controlPort":0)";

// The promote side listens on a free port unless the test says otherwise: the fixed
// port belongs to the front-end test alone.
std::string Scenario(const std::string& extra = "", const std::string& promote = R"({"port":0})") {
    return std::string("{") + kBase + R"(,"promote":)" + promote +
           (extra.empty() ? "" : "," + extra) + "}";
}

class SimProcessTest : public ::testing::Test {
protected:
    vt_test::TempEnv env_;
    std::string Dir() const { return env_.Tmp(); }
};

TEST_F(SimProcessTest, EveryScriptedMisbehaviourReachesTheWire) {
    SimProcess sim(Scenario(), Dir());
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    Link link;
    link.Open(sim);
    Client* sync = &link.sync;
    std::unique_ptr<Client> fresh;
    auto reconnect = [&] {
        size_t n = sim.Log().size();
        fresh.reset(new Client(link.enginePort));
        fresh->Send(Packet(2, 4, 1, 1, 0x10006));
        sync = fresh.get();
        ASSERT_TRUE(sim.WaitLog(n + 1));
    };
    auto script = [&](const std::string& json) {
        ASSERT_EQ(sim.Control("script set 9 2 " + json), "OK") << json;
    };
    auto read = [&] { sync->Send(Packet(2, 4, 1, 9, 2)); };
    Head h;
    Bytes p;

    {   // A delay holds the reply back.
        SCOPED_TRACE("delay");
        script(R"({"delayMs":300})");
        int64_t t0 = Ms();
        read();
        ASSERT_TRUE(sync->Recv(&h, &p));
        EXPECT_GE(Ms() - t0, 280);
        EXPECT_EQ(h.code, 0xD0002u);
        EXPECT_EQ(p.size(), 11560u);
    }
    {   // No reply at all.
        SCOPED_TRACE("noReply");
        script(R"({"noReply":true})");
        read();
        EXPECT_TRUE(sync->Silent(300));
    }
    {   // A payload shorter than the record, the head agreeing.
        SCOPED_TRACE("truncateTo");
        script(R"({"code":"0xD0002","payload":{"record":"CFM_SYSCONFIG_S"},"truncateTo":100})");
        read();
        ASSERT_TRUE(sync->Recv(&h, &p));
        EXPECT_EQ(h.len, 100u);
        EXPECT_EQ(p.size(), 100u);
        EXPECT_TRUE(sync->Silent(100));
    }
    {   // A head announcing more than follows.
        SCOPED_TRACE("announceLen");
        script(R"({"code":"0xD0002","payload":"00112233","announceLen":11560})");
        read();
        Bytes got;
        ASSERT_TRUE(sync->RecvBytes(28, &got));
        EXPECT_EQ(Get32(got, 20), 11560u);
        EXPECT_EQ(ToHex(Bytes(got.begin() + 24, got.end())), "00112233");
        EXPECT_TRUE(sync->Silent(200));
    }
    reconnect();
    {   // Packets before the reply.
        SCOPED_TRACE("extraBefore");
        script(R"({"extraBefore":["0xB0001",{"code":"0x80006","head":{"dest":3}}]})");
        read();
        uint32_t codes[3];
        for (uint32_t& c : codes) {
            ASSERT_TRUE(sync->Recv(&h, &p));
            c = h.code;
            if (c == 0x80006) {
                EXPECT_EQ(h.dest, 3u);
            }
        }
        EXPECT_EQ(codes[0], 0xB0001u);
        EXPECT_EQ(codes[1], 0x80006u);
        EXPECT_EQ(codes[2], 0xD0002u);
    }
    {   // A late reply arrives after the next request's reply.
        SCOPED_TRACE("lateAfterMs");
        script(R"([{"code":"0xD0003","lateAfterMs":400}])");
        read();
        EXPECT_TRUE(sync->Silent(150));
        read();
        ASSERT_TRUE(sync->Recv(&h, &p));
        EXPECT_EQ(h.code, 0xD0002u);
        ASSERT_TRUE(sync->Recv(&h, &p, 2000));
        EXPECT_EQ(h.code, 0xD0003u);
    }
    {   // One byte at a time.
        SCOPED_TRACE("trickle");
        script(R"({"code":"0xD0003","trickle":true,"trickleMs":3})");
        read();
        int pieces = 0;
        size_t total = 0;
        int64_t t0 = Ms();
        while (total < 24 && Ms() - t0 < 3000) {
            uint8_t b[64];
            ssize_t n = ::recv(sync->fd(), b, sizeof b, 0);
            ASSERT_GT(n, 0);
            total += size_t(n);
            ++pieces;
        }
        EXPECT_EQ(total, 24u);
        EXPECT_GE(pieces, 12) << "bytes arrive one by one, not in one piece";
        EXPECT_GE(Ms() - t0, 23 * 3 - 5);
    }
    {   // Several packets in place of one reply.
        SCOPED_TRACE("series");
        script(R"({"series":["0x80000",{"code":"0x8002F","delayMs":50}]})");
        read();
        ASSERT_TRUE(sync->Recv(&h, &p));
        EXPECT_EQ(h.code, 0x80000u);
        ASSERT_TRUE(sync->Recv(&h, &p));
        EXPECT_EQ(h.code, 0x8002Fu);
    }
    {   // The head alone, then a close.
        SCOPED_TRACE("closeAfterHead");
        script(R"({"closeAfterHead":true})");
        read();
        Bytes got;
        EXPECT_FALSE(sync->RecvBytes(25, &got));
        EXPECT_EQ(got.size(), 24u);
        EXPECT_EQ(Get32(got, 16), 0xD0002u);
        EXPECT_EQ(Get32(got, 20), 11560u);
    }
    reconnect();
    {   // The reply, then an orderly close.
        SCOPED_TRACE("closeAfter");
        script(R"({"code":"0xD0003","closeAfter":true})");
        read();
        ASSERT_TRUE(sync->Recv(&h, &p));
        bool reset = true;
        EXPECT_TRUE(sync->WaitClosed(2000, &reset));
        EXPECT_FALSE(reset);
    }
    reconnect();
    {   // The reply, then a reset.
        SCOPED_TRACE("resetAfter");
        script(R"({"code":"0xD0003","resetAfter":true})");
        read();
        ::usleep(100000);
        bool reset = false;
        EXPECT_TRUE(sync->WaitClosed(2000, &reset));
        EXPECT_TRUE(reset);
    }
    // The simulator itself is still fine.
    EXPECT_EQ(sim.Control("ping"), "OK pong");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, EventsAndClosesThroughTheControlChannel) {
    SimProcess sim(Scenario(R"("events":[
        {"conn":"async","code":"0xB0002","afterMs":100},
        {"conn":"promote","code":"0x80001","afterMs":50}])"),
                   Dir());
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    Link link;
    link.Open(sim);
    Head h;
    Bytes p;
    // Scheduled events, with the heads the front end requires.
    ASSERT_TRUE(link.promote.Recv(&h, &p));
    EXPECT_EQ(h.source, 1u);
    EXPECT_EQ(h.dest, 2u);
    EXPECT_EQ(h.type, 2u);
    EXPECT_EQ(h.code, 0x80001u);
    EXPECT_EQ(h.len, 0u);
    ASSERT_TRUE(link.async.Recv(&h, &p));
    EXPECT_EQ(h.source, 4u);
    EXPECT_EQ(h.dest, 2u);
    EXPECT_EQ(h.type, 2u);
    EXPECT_EQ(h.code, 0xB0002u);

    // Events on command, one with a head the front end drops and a payload.
    EXPECT_EQ(sim.Control("event async 0xB0003"), "OK");
    ASSERT_TRUE(link.async.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xB0003u);
    EXPECT_EQ(sim.Control(R"(event promote 0xD0000 {"head":{"dest":3,"type":1},"payload":"abcd"})"),
              "OK");
    ASSERT_TRUE(link.promote.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xD0000u);
    EXPECT_EQ(h.dest, 3u);
    EXPECT_EQ(h.type, 1u);
    EXPECT_EQ(ToHex(p), "abcd");
    EXPECT_TRUE(link.sync.Silent(100)) << "events never go to the synchronous connection";

    struct Bad {
        const char* command;
        const char* reply;
    } bad[] = {{"event sync 0xB0000", "ERR event goes to async or promote"},
               {"event async zz", "ERR bad code"},
               {"frobnicate", "ERR unknown command"},
               {"script set 9 2 {oops", "ERR bad JSON"},
               {"script set 9 2 {\"nope\":1}", "ERR reply: unknown member nope"}};
    for (const Bad& b : bad) EXPECT_EQ(sim.Control(b.command), b.reply) << b.command;

    // Closing each connection is seen by the client; a reset as a reset.
    EXPECT_EQ(sim.Control("close sync"), "OK");
    bool reset = true;
    EXPECT_TRUE(link.sync.WaitClosed(2000, &reset));
    EXPECT_FALSE(reset);
    EXPECT_EQ(sim.Control("reset async"), "OK");
    EXPECT_TRUE(link.async.WaitClosed(2000, &reset));
    EXPECT_TRUE(reset);
    EXPECT_EQ(sim.Control("close promote"), "OK");
    EXPECT_TRUE(link.promote.WaitClosed(2000, &reset));
    EXPECT_EQ(sim.Control("close sync"), "ERR no sync connection");
    EXPECT_EQ(sim.Control("event async 0xB0000"), "ERR no async connection");
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(SimProcessTest, PromoteSideChoices) {
    {   // No port reply: the connection stays open and silent.
        SimProcess sim(Scenario("", R"({"port":0,"portReply":"none"})"), Dir());
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        Client c(sim.Port("promote"));
        c.Send(Packet(2, 1, 2, 1, 0x10006, Bytes(1056, 0)));
        EXPECT_TRUE(c.Silent(300));
    }
    {   // Another module's code, and nothing afterwards but what is asked for.
        SimProcess sim(Scenario("", R"({"port":0,"portReply":{"code":"0x10007"}})"), Dir());
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        Client c(sim.Port("promote"));
        c.Send(Packet(2, 1, 2, 1, 0x10006, Bytes(1056, 0)));
        Head h;
        Bytes p;
        ASSERT_TRUE(c.Recv(&h, &p));
        EXPECT_EQ(h.code, 0x10007u);
        EXPECT_EQ(h.len, 0u);
        c.Send(Packet(2, 1, 2, 1, 0x10006, Bytes(1056, 0)));
        EXPECT_TRUE(c.Silent(200)) << "one port reply only";
    }
    {   // A port reply held back or trickled still comes first, whole: promote events
        // count their time from the moment the reply is out.
        for (const char* reply : {R"({"trickle":true,"trickleMs":10})", R"({"delayMs":300})"}) {
            SCOPED_TRACE(reply);
            SimProcess sim(Scenario(R"("events":[{"conn":"promote","code":"0xB0001","afterMs":20}])",
                                    std::string(R"({"port":0,"portReply":)") + reply + "}"),
                           Dir());
            ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
            Client c(sim.Port("promote"));
            c.Send(Packet(2, 1, 2, 1, 0x10006, Bytes(1056, 0)));
            Head h;
            Bytes p;
            ASSERT_TRUE(c.Recv(&h, &p));
            EXPECT_EQ(h.code, 0x10008u);
            ASSERT_EQ(p.size(), 4u);
            EXPECT_EQ(Get32(p, 0), sim.Port("engine"));
            ASSERT_TRUE(c.Recv(&h, &p));
            EXPECT_EQ(h.code, 0xB0001u);
            EXPECT_EQ(h.len, 0u);
        }
    }
    {   // Refusing to listen: the engine is up, the promote port is not.
        uint16_t port = FreePort();
        SimProcess sim(Scenario("", R"({"listen":false,"port":)" + std::to_string(port) + "}"),
                       Dir());
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        EXPECT_EQ(sim.Port("promote"), 0);
        Client c;
        EXPECT_FALSE(c.Connect(port));
        EXPECT_EQ(sim.Control("ping"), "OK pong");
    }
    {   // Dying after start.
        SimProcess sim(Scenario("", R"({"port":0,"exitAfterStartMs":200})"), Dir());
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        EXPECT_EQ(sim.WaitExit(5000), 0);
    }
}

TEST_F(SimProcessTest, UpdateRequestIsRecordedAndStartsTheUpdateProgram) {
    std::string dump = Dir() + "/argv.txt";
    ::setenv("SIM_ARGV_DUMP_FILE", dump.c_str(), 1);
    // With the package server up too: its pipes, like the request log and every
    // socket, must stay with the simulator.
    SimProcess sim(Scenario(std::string(R"("update":{"run":true,"program":")") +
                            SIM_ARGV_DUMP_BIN + R"(","flag":"0"},"https":{"port":0})"),
                   Dir());
    ::unsetenv("SIM_ARGV_DUMP_FILE");
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    Link link;
    link.Open(sim);
    // UIUPDATE_START_S and one more zero byte, by hand.
    Bytes rec(2338, 0);
    auto put = [&](size_t off, const std::string& s) { std::copy(s.begin(), s.end(), rec.begin() + off); };
    put(0, "/opt/vt/VanTreloUpdate");
    put(1024, "/tmp/\xE5\x8C\x85.tar.gz");   // "包" in UTF-8
    put(2048, "https://192.0.2.10/app/vantrelo-macosx.tar.gz");
    put(2304, "alice");
    link.promote.Send(Packet(2, 1, 2, 1, 0x1000E, rec));
    EXPECT_TRUE(link.promote.Silent(300)) << "the update request gets no reply";

    int64_t t0 = Ms();
    std::string text;
    while (Ms() - t0 < 5000 && (text = ReadFile(dump)).empty()) ::usleep(20000);
    std::istringstream lines(text);
    std::string arg0, arg1;
    std::getline(lines, arg0);
    std::getline(lines, arg1);
    // "包" is B0 FC in GBK.
    const std::string expected =
        "/tmp/\xB0\xFC.tar.gz;https://192.0.2.10/app/vantrelo-macosx.tar.gz;alice;0";
    EXPECT_EQ(arg0, ToHex(Bytes(expected.begin(), expected.end())));
    EXPECT_EQ(arg1, ToHex(Bytes{'a', 'm', 'b', 'e', 'r', ' ', 's', 't', 'o', 'n', 'e', ',', ' ',
                                'r', 'e', 'w', 'o', 'r', 'k', '!'}));
    // The program inherits no descriptor beyond standard input, output and error.
    std::string line;
    std::vector<std::string> inherited;
    while (std::getline(lines, line)) inherited.push_back(line);
    EXPECT_TRUE(inherited.empty()) << ::testing::PrintToString(inherited);

    // The state holds the record and, once reaped, the program's exit status.
    std::string state;
    t0 = Ms();
    do {
        state = sim.Control("state");
    } while (state.find("\"exitStatus\":7") == std::string::npos && Ms() - t0 < 3000 &&
             ::usleep(20000) == 0);
    EXPECT_NE(state.find("\"acUpdateProgram\":\"/opt/vt/VanTreloUpdate\""), std::string::npos);
    EXPECT_NE(state.find("\"exitStatus\":7"), std::string::npos) << state.substr(0, 200);
    std::vector<rapidjson::Document> log = sim.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_STREQ(log[3]["record"].GetString(), "UIUPDATE_START_S");
    EXPECT_STREQ(log[3]["fields"]["acLoginName"].GetString(), "alice");
}

// Without a request log the simulator skips describing what it receives: it must
// still answer byte for byte what it answers with one, scripted shapes included.
TEST_F(SimProcessTest, AnswersTheSameWithoutARequestLog) {
    const std::string certs =
        R"("engine":{"certificates":[{"name":"alice@example","text":"CERT:alice"},)"
        R"({"name":"bob@example","text":"CERT:bob"}]})";
    auto exchange = [&](bool logged, std::vector<Bytes>* wire) {
        const std::string dir = Dir() + (logged ? "/logged" : "/quiet");
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
        std::string scenario = "{" + certs +
                               R"(,"portsFile":"@DIR@/ports.json","controlPort":0,)"
                               R"("promote":{"port":0})" +
                               (logged ? R"(,"requestLog":"@DIR@/requests.jsonl")" : "") + "}";
        SimProcess sim(scenario, dir);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        ASSERT_EQ(sim.Control("script set 3 15 [{\"delayMs\":20},{\"trickle\":true,\"trickleMs\":1,"
                              "\"truncateTo\":8}]"),
                  "OK");
        ASSERT_EQ(sim.Control("script set 8 12 {\"lateAfterMs\":20}"), "OK");
        Client sync(sim.Port("engine"));
        sync.Send(Packet(2, 4, 1, 1, 0x10006));
        // The certificate-list request as the front end sends it, three times (the
        // plain reply after the two scripted ones), then the host check answered late.
        const Bytes certRequest(36996, 0x5A);
        for (int i = 0; i < 3; ++i) sync.Send(Packet(2, 4, 1, 3, 15, certRequest));
        for (int i = 0; i < 4; ++i) {
            // A late reply overtakes whatever is on its way: it is asked for alone.
            if (i == 3) sync.Send(Packet(2, 4, 1, 8, 12));
            Bytes head, payload;
            ASSERT_TRUE(sync.RecvBytes(24, &head)) << "reply " << i;
            ASSERT_TRUE(sync.RecvBytes(Get32(head, 20), &payload)) << "reply " << i;
            head.insert(head.end(), payload.begin(), payload.end());
            wire->push_back(head);
        }
        EXPECT_TRUE(sync.Silent(50));
        EXPECT_NE(sim.Control("state").find("\"requests\":4,"), std::string::npos);
        if (logged) {
            // The greeting and the four requests, each whole in its line.
            ASSERT_TRUE(sim.WaitLog(5));
            std::vector<rapidjson::Document> log = sim.Log();
            ASSERT_EQ(log.size(), 5u);
            EXPECT_EQ(log[3]["hex"].GetString(), ToHex(Packet(2, 4, 1, 3, 15, certRequest)));
            EXPECT_EQ(log[4]["hex"].GetString(), ToHex(Packet(2, 4, 1, 8, 12)));
        }
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_EQ(::access((dir + "/requests.jsonl").c_str(), F_OK) == 0, logged);
    };
    std::vector<Bytes> logged, quiet;
    exchange(true, &logged);
    exchange(false, &quiet);
    ASSERT_EQ(logged.size(), 4u);
    ASSERT_EQ(quiet.size(), 4u);
    EXPECT_EQ(logged[0].size(), 24u + 36996u);   // delayed, whole
    EXPECT_EQ(logged[1].size(), 24u + 8u);       // trickled and cut short
    EXPECT_EQ(logged[2], logged[0]);
    const std::string bob = "CERT:bob";
    EXPECT_NE(std::search(logged[0].begin(), logged[0].end(), bob.begin(), bob.end()),
              logged[0].end());
    for (size_t i = 0; i < logged.size(); ++i) EXPECT_EQ(quiet[i], logged[i]) << "reply " << i;
}

// Listening sockets of this machine bound to the given port, from /proc/net/tcp.
std::set<std::string> ListenAddresses(uint16_t port) {
    std::set<std::string> out;
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::string slot, local, remote, st;
        ss >> slot >> local >> remote >> st;
        size_t colon = local.find(':');
        if (st == "0A" && std::stoul(local.substr(colon + 1), nullptr, 16) == port)
            out.insert(local.substr(0, colon));
    }
    return out;
}

TEST_F(SimProcessTest, ListensOnLoopbackOnlyAndStopsCleanly) {
    SimProcess sim(Scenario(R"("https":{"port":0})"), Dir());
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    for (const char* which : {"promote", "engine", "control", "https"}) {
        std::set<std::string> addrs = ListenAddresses(sim.Port(which));
        EXPECT_EQ(addrs, std::set<std::string>{"0100007F"}) << which;
    }
    Link link;
    link.Open(sim);
    // A head announcing an absurd length closes that connection, nothing else.
    Client rogue(sim.Port("engine"));
    Bytes bad = Packet(2, 4, 1, 9, 2);
    Put32(bad, 20, 0x7FFFFFFF);
    rogue.Send(bad);
    EXPECT_TRUE(rogue.WaitClosed(2000));
    link.sync.Send(Packet(2, 4, 1, 9, 2));
    Head h;
    Bytes p;
    ASSERT_TRUE(link.sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xD0002u);

    int64_t t0 = Ms();
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_LT(Ms() - t0, 3000);
    // Its files are where the scenario and HOME put them, nowhere else in the folder.
    EXPECT_FALSE(ReadFile(env_.Home() + "/.VanTrelo/config/Office.ini").empty());
}

// "{https}" in the package URL becomes the port the package server was given at start;
// without a package server the URL stays as written.
TEST_F(SimProcessTest, PackageUrlNamesTheHttpsPort) {
    const std::string url = "https://127.0.0.1:{https}/app/{https}.tar.gz";
    for (bool https : {true, false}) {
        SCOPED_TRACE(https ? "with a package server" : "without");
        const std::string dir = Dir() + (https ? "/https" : "/plain");
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
        SimProcess sim(Scenario(R"("engine":{"packageUrl":")" + url + "\"}" +
                                (https ? R"(,"https":{"port":0})" : "")),
                       dir);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        Link link;
        link.Open(sim);
        Bytes request(2508, 0);
        PutText(request, 4, "127.0.0.1:443");
        Head h;
        Bytes reply;
        ASSERT_TRUE(link.Ask(1, 4, request, &h, &reply));
        ASSERT_GE(reply.size(), 156u + 256u);
        const std::string port = https ? std::to_string(sim.Port("https")) : "{https}";
        EXPECT_EQ(TextAt(reply, 156, 256),
                  "https://127.0.0.1:" + port + "/app/" + port + ".tar.gz");
    }
}

TEST_F(SimProcessTest, BadScenarioEndsWithStatus2) {
    SimProcess sim(R"({"engine":{"gatways":[]}})", Dir());
    EXPECT_FALSE(sim.Started());
    EXPECT_EQ(sim.EarlyStatus(), 2);
    EXPECT_NE(ReadFile(Dir() + "/sim.err").find("unknown member gatways"), std::string::npos);
}

}  // namespace
