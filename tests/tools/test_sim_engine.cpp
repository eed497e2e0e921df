// The happy engine's behaviour, request by request, without sockets: configuration,
// sessions and profiles (and their files), credentials and login outcomes, token and
// password steps, gateway choice, tunnel state, the IPSec status series, and how a
// scripted reply takes over or shapes an answer.

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "sim_engine.h"
#include "sim_test_support.h"
#include "vt_test/temp_env.h"

namespace {

using sim::Bytes;
using sim::Engine;
using sim::Record;
namespace rec = sim::rec;
using simtest::Get32;
using simtest::ReadFile;

struct Reply {
    uint32_t source = 0, dest = 0, type = 0, msgType = 0, code = 0;
    Bytes payload;
};

Reply Decode(const Bytes& pkt) {
    Reply r;
    EXPECT_GE(pkt.size(), 24u);
    if (pkt.size() < 24) return r;
    r.source = Get32(pkt, 0);
    r.dest = Get32(pkt, 4);
    r.type = Get32(pkt, 8);
    r.msgType = Get32(pkt, 12);
    r.code = Get32(pkt, 16);
    EXPECT_EQ(Get32(pkt, 20), pkt.size() - 24);
    r.payload.assign(pkt.begin() + 24, pkt.end());
    return r;
}

Reply Ask(Engine& e, uint32_t type, uint32_t code, const Bytes& payload = {}) {
    sim::PacketHead h{2, 4, 1, type, code, uint32_t(payload.size())};
    sim::Plan p = e.HandleRequest(h, payload);
    EXPECT_EQ(p.steps.size(), 1u) << "type " << type << " code " << code;
    if (p.steps.empty()) return Reply{};
    return Decode(p.steps[0].bytes);
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes WithName(const Record& r, const std::string& name) {
    Bytes b = r.Wire();
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

Record SslProfile(const std::string& gw) {
    Record r(rec::kSslProfile);
    r.SetU32("uiLinkType", 1);
    r.SetU32("uiHeadWord2", 1);
    r.SetText("acGatewayAddress", gw);
    r.SetU32("uiPort", 443);
    return r;
}

Bytes Login(const std::string& user, const std::string& pwd, uint32_t caCheck = 1,
            uint32_t loginType = 1, const std::string& profile = "") {
    Record r(rec::kSslLogin);
    r.SetU32("uiDeviceCACheck", caCheck);
    r.SetU32("uiLoginType", loginType);
    r.SetText("acUserName", user);
    r.SetText("acPassword", pwd);
    r.SetText("acGateway", "192.0.2.10:443");
    r.SetText("acProfileName", profile);
    return r.Wire();
}

Record Config(Engine& e) {
    Reply r = Ask(e, 9, 2);
    EXPECT_EQ(r.code, 0xD0002u);
    EXPECT_EQ(r.payload.size(), 11560u);
    return Record(rec::kSysConfig, r.payload.data(), r.payload.size());
}

int SessionOf(const Record& cfg, const std::string& name) {
    for (int i = 0; i < 16; ++i) {
        if (cfg.Text("Sessions[" + std::to_string(i) + "].ProfileName") == name) return i;
    }
    return -1;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

sim::Scenario Parse(const std::string& json) {
    sim::Scenario s = sim::DefaultScenario();
    std::string err;
    EXPECT_TRUE(sim::ParseScenario(json, &s, &err)) << err;
    return s;
}

class SimEngine : public ::testing::Test {
protected:
    vt_test::TempEnv env_;
    std::string ConfigFile(const std::string& name) {
        return env_.Home() + "/.VanTrelo/config/" + name;
    }
};

TEST_F(SimEngine, StartWritesProfileFilesAndSessionEntries) {
    Engine e(sim::DefaultScenario());
    e.Start();
    EXPECT_TRUE(Exists(ConfigFile("Office.ini")));
    EXPECT_TRUE(Exists(ConfigFile("Branch.ini")));
    Record cfg = Config(e);
    int office = SessionOf(cfg, "Office.ini"), branch = SessionOf(cfg, "Branch.ini");
    ASSERT_GE(office, 0);
    ASSERT_GE(branch, 0);
    EXPECT_EQ(cfg.U32("Sessions[" + std::to_string(office) + "].ConnectionType"), 1u);
    EXPECT_EQ(cfg.U32("Sessions[" + std::to_string(branch) + "].ConnectionType"), 2u);
    EXPECT_EQ(cfg.U32("LanguageID"), 2052u);
    EXPECT_EQ(cfg.Text("ProductName"), "VanTrelo");
}

TEST_F(SimEngine, ProfileCreateReadSpecifyDelete) {
    Engine e(sim::DefaultScenario());
    e.Start();
    Record p = SslProfile("198.51.100.7");
    Reply w = Ask(e, 9, 5, WithName(p, "Lab.ini"));
    EXPECT_EQ(w.code, 0xD0009u);
    EXPECT_TRUE(w.payload.empty());
    EXPECT_TRUE(Exists(ConfigFile("Lab.ini")));
    Record cfg = Config(e);
    int idx = SessionOf(cfg, "Lab.ini");
    ASSERT_GE(idx, 0) << "creating a profile creates its session entry";

    Reply r = Ask(e, 9, 6, Text("Lab.ini"));
    EXPECT_EQ(r.code, 0xD000Bu);
    EXPECT_EQ(r.payload, p.Wire());
    // Read as the other kind: refused, head only.
    Reply wrong = Ask(e, 9, 8, Text("Lab.ini"));
    EXPECT_EQ(wrong.code, 0xD0010u);
    EXPECT_TRUE(wrong.payload.empty());

    Reply specified = Ask(e, 9, 11, Text("Lab.ini"));
    EXPECT_EQ(specified.code, 0xD0016u);
    EXPECT_EQ(specified.payload, simtest::Hex("00000001"));
    Reply none = Ask(e, 9, 11, Text("Nope.ini"));
    EXPECT_EQ(none.code, 0xD001Bu);
    EXPECT_EQ(none.payload, simtest::Hex("00000000"));

    // A profile of the same name but the other kind is refused.
    Record ipsec(rec::kIpsecProfile);
    ipsec.SetU32("uiLinkType", 2);
    EXPECT_EQ(Ask(e, 9, 7, WithName(ipsec, "Lab.ini")).code, 0xD001Au);

    // Deleting clears the entry and the last session when it names the profile.
    Record sys = Config(e);
    sys.SetText("LastAccessSession", "Lab.ini");
    EXPECT_EQ(Ask(e, 9, 1, sys.Wire()).code, 0xD0000u);
    EXPECT_EQ(Ask(e, 9, 12, Text("Lab.ini")).code, 0xD0018u);
    Record after = Config(e);
    EXPECT_EQ(SessionOf(after, "Lab.ini"), -1);
    EXPECT_EQ(after.Text("LastAccessSession"), "");
    EXPECT_FALSE(Exists(ConfigFile("Lab.ini")));
    EXPECT_EQ(Ask(e, 9, 12, Text("Lab.ini")).code, 0xD0019u);
    EXPECT_EQ(Ask(e, 9, 6, Text("Lab.ini")).code, 0xD000Cu);

    // Deleting another profile leaves a last session that names something else.
    sys = Config(e);
    sys.SetText("LastAccessSession", "Office.ini");
    Ask(e, 9, 1, sys.Wire());
    EXPECT_EQ(Ask(e, 9, 12, Text("Branch.ini")).code, 0xD0018u);
    EXPECT_EQ(Config(e).Text("LastAccessSession"), "Office.ini");
}

TEST_F(SimEngine, ProfileNamesCannotLeaveTheConfigFolder) {
    Engine e(sim::DefaultScenario());
    e.Start();
    Record p = SslProfile("198.51.100.7");
    for (const char* name : {"../evil.ini", "a/b.ini", "..", ""}) {
        EXPECT_EQ(Ask(e, 9, 5, WithName(p, name)).code, 0xD000Au) << name;
    }
    EXPECT_FALSE(Exists(env_.Home() + "/.VanTrelo/evil.ini"));
    std::string longName(133, 'n');
    EXPECT_EQ(Ask(e, 9, 5, WithName(p, longName)).code, 0xD000Au);
    // A payload that ends before the record does is refused too.
    EXPECT_EQ(Ask(e, 9, 5, Bytes(100, 0)).code, 0xD000Au);
}

TEST_F(SimEngine, SixteenSessionsAtMost) {
    Engine e(sim::DefaultScenario());   // two profiles already
    Record p = SslProfile("198.51.100.7");
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(Ask(e, 9, 5, WithName(p, "P" + std::to_string(i) + ".ini")).code, 0xD0009u);
    }
    EXPECT_EQ(Ask(e, 9, 5, WithName(p, "Extra.ini")).code, 0xD000Au);
    // Rewriting an existing profile still works with the table full.
    EXPECT_EQ(Ask(e, 9, 5, WithName(p, "P3.ini")).code, 0xD0009u);
}

TEST_F(SimEngine, EmptySecretsKeepTheStoredOnes) {
    Engine e(sim::DefaultScenario());
    // Session: an empty password keeps the remembered one, a new one replaces it.
    Record s(rec::kSessionBE);
    s.SetU32("ConnectionType", 1);
    s.SetU32("RemPwd", 1);
    s.SetText("ProfileName", "Office.ini");
    s.SetText("UserName", "alice");
    s.SetText("Password", "first");
    EXPECT_EQ(Ask(e, 9, 3, s.Wire()).code, 0xD0004u);
    s.SetText("Password", "");
    s.SetText("LastLoginAddr", "192.0.2.11:443");
    EXPECT_EQ(Ask(e, 9, 3, s.Wire()).code, 0xD0004u);
    Reply read = Ask(e, 9, 4, Text("Office.ini"));
    ASSERT_EQ(read.code, 0xD0006u);
    Record got(rec::kSessionBE, read.payload.data(), read.payload.size());
    EXPECT_EQ(got.Text("Password"), "first");
    EXPECT_EQ(got.Text("LastLoginAddr"), "192.0.2.11:443");
    EXPECT_EQ(simtest::Get32(read.payload, 4), 1u) << "RemPwd travels big-endian";
    // Unknown profile: refused.
    s.SetText("ProfileName", "Nope.ini");
    EXPECT_EQ(Ask(e, 9, 3, s.Wire()).code, 0xD0005u);
    EXPECT_EQ(Ask(e, 9, 4, Text("Nope.ini")).code, 0xD0007u);

    // IPSec profile: empty pre-shared key and tunnel password keep the stored ones.
    Record ip(rec::kIpsecProfile);
    ip.SetU32("uiLinkType", 2);
    ip.SetText("acDescription", "changed");
    EXPECT_EQ(Ask(e, 9, 7, WithName(ip, "Branch.ini")).code, 0xD000Du);
    Reply r = Ask(e, 9, 8, Text("Branch.ini"));
    Record back(rec::kIpsecProfile, r.payload.data(), r.payload.size());
    EXPECT_EQ(back.Text("acPreSharedKey"), "sharedkey");
    EXPECT_EQ(back.Text("acDescription"), "changed");

    // System write: an empty proxy password keeps the stored one, the rest of the proxy
    // is taken as written; a new one replaces it.
    const struct {
        const char* written;
        const char* user;
        const char* kept;
    } proxy[] = {{"first", "u1", "first"}, {"", "u2", "first"}, {"second", "u3", "second"}};
    for (const auto& c : proxy) {
        Record sys = Config(e);
        sys.SetText("ProxyPwd", c.written);
        sys.SetText("ProxyUser", c.user);
        EXPECT_EQ(Ask(e, 9, 1, sys.Wire()).code, 0xD0000u);
        Record after = Config(e);
        EXPECT_EQ(after.Text("ProxyPwd"), c.kept) << "written: \"" << c.written << "\"";
        EXPECT_EQ(after.Text("ProxyUser"), c.user);
    }
}

TEST_F(SimEngine, SystemWriteNeverAddsSessions) {
    Engine e(sim::DefaultScenario());
    Record sys = Config(e);
    int office = SessionOf(sys, "Office.ini");
    std::string base = "Sessions[" + std::to_string(office) + "].";
    sys.SetText(base + "Password", "");   // keep the stored password
    sys.SetU32(base + "AutoLogin", 1);
    int free = SessionOf(sys, "");
    sys.SetText("Sessions[" + std::to_string(free) + "].ProfileName", "Ghost.ini");
    sys.SetU32("AutoBoot", 1);
    sys.SetU32("ProxyType", 3);
    EXPECT_EQ(Ask(e, 9, 1, sys.Wire()).code, 0xD0000u);
    Record after = Config(e);
    EXPECT_EQ(after.U32("AutoBoot"), 1u);
    EXPECT_EQ(after.U32("ProxyType"), 3u);
    EXPECT_EQ(after.U32(base + "AutoLogin"), 1u);
    EXPECT_EQ(SessionOf(after, "Ghost.ini"), -1);
    EXPECT_EQ(Ask(e, 9, 1, Bytes(100, 0)).code, 0xD0001u);
}

TEST_F(SimEngine, ImportAndExport) {
    Engine e(sim::DefaultScenario());
    auto output = [](const std::string& name, const std::string& path) {
        Record o(rec::kProfileOutput);
        o.SetText("acProfileName", name);
        o.SetText("acOutputPath", path);
        return o.Wire();
    };
    std::string out = env_.Home() + "/Office.ini";
    EXPECT_EQ(Ask(e, 9, 10, output("Office.ini", out)).code, 0xD0014u);
    ASSERT_TRUE(Exists(out));
    EXPECT_EQ(Ask(e, 9, 10, output("Nope.ini", out)).code, 0xD0015u);
    for (const char* bad : {"/etc/vantrelo-sim-export.ini", "relative.ini"}) {
        EXPECT_EQ(Ask(e, 9, 10, output("Office.ini", bad)).code, 0xD001Du) << bad;
    }
    EXPECT_EQ(Ask(e, 9, 10, output("Office.ini", env_.Home() + "/../escape.ini")).code, 0xD001Du);

    // Import the export after the profile is gone: it comes back with its kind.
    EXPECT_EQ(Ask(e, 9, 12, Text("Office.ini")).code, 0xD0018u);
    Reply in = Ask(e, 9, 9, Text(out));
    EXPECT_EQ(in.code, 0xD0011u);
    EXPECT_EQ(in.payload, simtest::Hex("00000001"));
    EXPECT_GE(SessionOf(Config(e), "Office.ini"), 0);

    // The imported profile is named after the file, as the front end names it: the
    // file name up to its last ".", then ".ini"; the Name line inside counts for
    // nothing. A file name that leaves no name is refused.
    struct Named {
        const char* file;
        const char* profile;   // nullptr: refused
    } named[] = {{"Copy.ini", "Copy.ini"}, {"a.b.ini", "a.b.ini"}, {"NoDot", "NoDot.ini"},
                 {"x.txt", "x.ini"},       {".ini", nullptr}};
    std::string text = ReadFile(out);
    ASSERT_NE(text.find("Name=Office.ini"), std::string::npos);
    for (const Named& n : named) {
        SCOPED_TRACE(n.file);
        std::string path = env_.Home() + "/" + n.file;
        simtest::WriteFile(path, text);
        Reply r = Ask(e, 9, 9, Text(path));
        if (n.profile == nullptr) {
            EXPECT_EQ(r.code, 0xD0012u);
            continue;
        }
        EXPECT_EQ(r.code, 0xD0011u);
        EXPECT_GE(SessionOf(Config(e), n.profile), 0);
        EXPECT_EQ(Ask(e, 9, 6, Text(n.profile)).payload, Ask(e, 9, 6, Text("Office.ini")).payload);
        EXPECT_TRUE(Exists(ConfigFile(n.profile)));
    }

    EXPECT_EQ(Ask(e, 9, 9, Text(env_.Home() + "/missing.ini")).code, 0xD001Cu);
    simtest::WriteFile(env_.Home() + "/garbage.ini", "[PROFILE]\nName=x\n");
    EXPECT_EQ(Ask(e, 9, 9, Text(env_.Home() + "/garbage.ini")).code, 0xD0012u);
    simtest::WriteFile(env_.Home() + "/big.ini", std::string(70000, 'x'));
    EXPECT_EQ(Ask(e, 9, 9, Text(env_.Home() + "/big.ini")).code, 0xD0013u);
}

TEST_F(SimEngine, CredentialOutcomes) {
    struct Case {
        const char* user;
        const char* pwd;
        uint32_t caCheck;
        uint32_t code;
        size_t payload;
    } cases[] = {
        {"alice", "Passw0rd", 1, 0x20000, 32},  {"alice", "wrong", 1, 0x30004, 0},
        {"nobody", "Passw0rd", 1, 0x30004, 0},  {"bob", "Passw0rd", 1, 0x30006, 32},
        {"carol", "Passw0rd", 1, 0x3000A, 32},  {"dave", "Passw0rd", 1, 0x3000F, 0},
        {"erin", "Passw0rd", 1, 0x30004, 0},    {"frank", "Passw0rd", 1, 0x3000B, 0},
        {"frank", "Passw0rd", 0, 0x20000, 32},
    };
    Engine e(sim::DefaultScenario());
    for (const Case& c : cases) {
        Reply r = Ask(e, 3, 5, Login(c.user, c.pwd, c.caCheck));
        EXPECT_EQ(r.code, c.code) << c.user << " " << c.pwd;
        EXPECT_EQ(r.payload.size(), c.payload) << c.user;
        EXPECT_EQ(r.source, 4u);
        EXPECT_EQ(r.dest, 2u);
        EXPECT_EQ(r.type, 1u);
        EXPECT_EQ(r.msgType, 3u);
    }
}

TEST_F(SimEngine, LoginReplyValuesAndRememberedPassword) {
    sim::Scenario s = Parse(R"({"engine":{"credentials":[
        {"user":"u1","password":"pw1","hostCheck":1,"cacheClear":2,"modifyPwd":0,
         "alarmNotice":1,"alarmDays":-3}]},
        "profiles":[{"name":"Work.ini","linkType":1,"session":{"Password":"pw1"}}]})");
    Engine e(s);
    Reply r = Ask(e, 3, 5, Login("u1", "", 1, 1, "Work.ini"));
    ASSERT_EQ(r.code, 0x20000u) << "an empty password uses the remembered one";
    EXPECT_EQ(r.payload, simtest::Hex("00000000000000000000000000000000 00000001 00000002 00000000"
                                      "0001 FFFD"));
    EXPECT_EQ(Ask(e, 3, 5, Login("u1", "", 1, 1, "Other.ini")).code, 0x30004u);
}

TEST_F(SimEngine, PluginLoginCarriesIdsCookieAndUrl) {
    Engine e(sim::DefaultScenario());
    Reply r = Ask(e, 3, 5, Login("alice", "Passw0rd", 0, 0));
    ASSERT_EQ(r.code, 0x20000u);
    ASSERT_EQ(r.payload.size(), 1096u);
    EXPECT_EQ(Get32(r.payload, 0), 1001u);
    EXPECT_EQ(Get32(r.payload, 4), 5001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.payload[8])), "SIMCOOKIE");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.payload[72])),
              "https://192.0.2.10/portal");

    // A refused plugin login never carries the view's 32-byte login record: the front
    // end reads a plugin login's payload as the 1096-byte plugin reply.
    struct Case {
        const char* user;
        uint32_t code;
    } refused[] = {{"bob", 0x30006}, {"carol", 0x3000A}, {"dave", 0x3000F}, {"erin", 0x30004}};
    for (const Case& c : refused) {
        Reply f = Ask(e, 3, 5, Login(c.user, "Passw0rd", 1, 0));
        EXPECT_EQ(f.code, c.code) << c.user;
        EXPECT_TRUE(f.payload.empty()) << c.user << ": " << f.payload.size() << " bytes";
    }
}

TEST_F(SimEngine, TokenStep) {
    Engine e(sim::DefaultScenario());
    auto code = [](const std::string& c) {
        Record d(rec::kDynamicCode);
        d.SetText("acDynamicCode", c);
        Bytes b = d.Wire();
        b.resize(1980, 0);
        return b;
    };
    EXPECT_EQ(Ask(e, 3, 16, code("123456")).code, 0x30001u) << "no login waits for a code";
    EXPECT_EQ(Ask(e, 3, 5, Login("carol", "Passw0rd")).code, 0x3000Au);
    EXPECT_EQ(Ask(e, 3, 16, code("000000")).code, 0x30001u);
    EXPECT_EQ(Ask(e, 3, 5, Login("carol", "Passw0rd")).code, 0x3000Au);
    Reply ok = Ask(e, 3, 16, code("123456"));
    EXPECT_EQ(ok.code, 0x20000u);
    EXPECT_EQ(ok.payload.size(), 32u);
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000002")).code, 0x70000u) << "logged in now";
}

TEST_F(SimEngine, PasswordChangeFollowsThePolicy) {
    Engine e(sim::DefaultScenario());
    auto change = [&](const std::string& o, const std::string& n) {
        Record r(rec::kPwdModify);
        r.SetText("acOldPwd", o);
        r.SetText("acNewPwd", n);
        return Ask(e, 3, 11, r.Wire());
    };
    Reply nobody = change("Passw0rd", "Better1x");
    EXPECT_EQ(nobody.code, 0x40001u);
    EXPECT_EQ(Ask(e, 3, 5, Login("bob", "Passw0rd")).code, 0x30006u);
    // A password too weak for the policy is refused with its complexity level: medium,
    // since the policy asks for mixed case; the other refusals name their rule.
    struct Case {
        const char* oldPwd;
        const char* newPwd;
        uint32_t code;
    } cases[] = {{"nope", "Better1x", 0x40008},     {"Passw0rd", "Passw0rd", 0x40005},
                 {"Passw0rd", "Sh0rt", 0x40002},     {"Passw0rd", "NoDigitsHere", 0x4000C},
                 {"Passw0rd", "1234567890", 0x4000C}, {"Passw0rd", "lower1case", 0x4000C},
                 {"Passw0rd", "UPPER1CASE", 0x4000C}, {"Passw0rd", "password1", 0x4000C}};
    for (const Case& c : cases) {
        Reply r = change(c.oldPwd, c.newPwd);
        EXPECT_EQ(r.code, c.code) << c.newPwd;
        ASSERT_EQ(r.payload.size(), 28u) << "a refusal carries the policy";
        EXPECT_EQ(r.payload, simtest::Hex("00000008 00000020 00000001 00000001 00000001 "
                                          "00000001 00000001"));
    }
    Reply ok = change("Passw0rd", "Better1x");
    EXPECT_EQ(ok.code, 0x40000u);
    EXPECT_TRUE(ok.payload.empty());
    EXPECT_EQ(Ask(e, 3, 5, Login("bob", "Passw0rd")).code, 0x30004u);
    EXPECT_EQ(Ask(e, 3, 5, Login("bob", "Better1x")).code, 0x20000u)
        << "the change ends the first-login state";
}

// Without mixed case in the policy a weak password is refused at the basic level; a
// policy that asks for neither digits nor letters takes what has the length; the length
// and user-name rules keep their own codes.
TEST_F(SimEngine, ComplexityLevelFollowsThePolicy) {
    struct Case {
        const char* policy;
        const char* newPwd;
        uint32_t code;
    } cases[] = {
        {R"("minDigits": 1, "minLetters": 1, "mixedCase": 0)", "password", 0x4000D},
        {R"("minDigits": 1, "minLetters": 1, "mixedCase": 0)", "12345678", 0x4000D},
        {R"("minDigits": 1, "minLetters": 1, "mixedCase": 0)", "password1", 0x40000},
        {R"("minDigits": 2, "minLetters": 1, "mixedCase": 1)", "Password1", 0x4000C},
        {R"("minDigits": 0, "minLetters": 0, "mixedCase": 0)", "12345678", 0x40000},
        {R"("minDigits": 0, "minLetters": 0, "mixedCase": 0)", "alice", 0x40006},
        {R"("minDigits": 1, "minLetters": 1, "mixedCase": 1)", "abc", 0x40002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.policy) + " " + c.newPwd);
        Engine e(Parse(std::string(R"({"engine":{"passwordPolicy":{"minLength": 5, "maxLength": 32, )") +
                       c.policy + R"(, "newOldDiffer": 1, "namePwdDiffer": 1}}})"));
        ASSERT_EQ(Ask(e, 3, 5, Login("alice", "Passw0rd")).code, 0x20000u);
        Record r(rec::kPwdModify);
        r.SetText("acOldPwd", "Passw0rd");
        r.SetText("acNewPwd", c.newPwd);
        Reply got = Ask(e, 3, 11, r.Wire());
        EXPECT_EQ(got.code, c.code);
        EXPECT_EQ(got.payload.size(), c.code == 0x40000 ? 0u : 28u);
    }
}

// A change made in a session ends it: the reply confirms the change, the forced logout
// follows on the event connection, and the session is gone (no tunnel, no host check). A
// refused change keeps the session and sends nothing; a change a login demanded has no
// session, and the front end logs out by itself after it.
TEST_F(SimEngine, ChangeInASessionEndsIt) {
    auto change = [](Engine& e, const std::string& o, const std::string& n) {
        Record r(rec::kPwdModify);
        r.SetText("acOldPwd", o);
        r.SetText("acNewPwd", n);
        sim::PacketHead h{2, 4, 1, 3, 11, uint32_t(r.Wire().size())};
        return e.HandleRequest(h, r.Wire());
    };
    auto loggedIn = [](const Engine& e) {
        rapidjson::Document d;
        return e.StateJson(d.GetAllocator())["loggedIn"].GetBool();
    };
    Engine e(sim::DefaultScenario());
    ASSERT_EQ(Ask(e, 3, 5, Login("alice", "Passw0rd")).code, 0x20000u);
    ASSERT_EQ(Ask(e, 5, 10, simtest::Hex("00000002")).code, 0x70000u);

    sim::Plan refused = change(e, "nope", "N3wPassword");
    ASSERT_EQ(refused.steps.size(), 1u);
    EXPECT_EQ(Decode(refused.steps[0].bytes).code, 0x40008u);
    EXPECT_TRUE(refused.asyncAfter.empty());
    EXPECT_TRUE(loggedIn(e));
    EXPECT_EQ(Ask(e, 8, 12).code, 0x50000u) << "the session stays";

    sim::Plan done = change(e, "Passw0rd", "N3wPassword");
    ASSERT_EQ(done.steps.size(), 1u);
    EXPECT_EQ(Decode(done.steps[0].bytes).code, 0x40000u);
    EXPECT_EQ(done.asyncAfter, std::vector<uint32_t>{0xB0000});
    EXPECT_FALSE(loggedIn(e));
    EXPECT_EQ(Ask(e, 8, 12).code, 0x50001u) << "no session after the change";
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000002")).code, 0x70001u);
    EXPECT_EQ(Decode(change(e, "N3wPassword", "An0therOne").steps[0].bytes).code, 0x40001u)
        << "nobody to change it for";
    EXPECT_EQ(Ask(e, 3, 5, Login("alice", "N3wPassword")).code, 0x20000u);

    // A scripted delay shapes the happy engine's reply, which still ends the session.
    Engine shaped(Parse(R"({"scripts":[{"msgType":3,"code":11,"replies":[{"delayMs":300}]}]})"));
    ASSERT_EQ(Ask(shaped, 3, 5, Login("alice", "Passw0rd")).code, 0x20000u);
    sim::Plan late = change(shaped, "Passw0rd", "N3wPassword");
    ASSERT_EQ(late.steps.size(), 1u);
    EXPECT_EQ(late.steps[0].delayMs, 300u);
    EXPECT_EQ(late.asyncAfter, std::vector<uint32_t>{0xB0000});
    // A scripted code replaces the happy engine: nothing changes, nothing follows.
    Engine scripted(Parse(R"({"scripts":[{"msgType":3,"code":11,"replies":[{"code":"0x40000"}]}]})"));
    ASSERT_EQ(Ask(scripted, 3, 5, Login("alice", "Passw0rd")).code, 0x20000u);
    EXPECT_TRUE(change(scripted, "Passw0rd", "N3wPassword").asyncAfter.empty());
    EXPECT_TRUE(loggedIn(scripted));

    // bob's first login demands the change: no session to end.
    Engine first(sim::DefaultScenario());
    ASSERT_EQ(Ask(first, 3, 5, Login("bob", "Passw0rd")).code, 0x30006u);
    sim::Plan demanded = change(first, "Passw0rd", "N3wPassword");
    EXPECT_EQ(Decode(demanded.steps[0].bytes).code, 0x40000u);
    EXPECT_TRUE(demanded.asyncAfter.empty());
}

TEST_F(SimEngine, DemandedChangeOnceMadeIsNotDemandedAgain) {
    // Every outcome that demands a new password lets it be changed once, and then
    // logs in with it; the host check is answered while the change is pending.
    for (const char* outcome : {"firstLogin", "expireStrong", "expireWeak"}) {
        SCOPED_TRACE(outcome);
        Engine e(Parse(std::string(R"({"engine":{"credentials":[{"user":"u","password":"Old1pass",
            "outcome":")") + outcome + R"(","hostCheck":1}]}})"));
        Reply first = Ask(e, 3, 5, Login("u", "Old1pass"));
        EXPECT_NE(first.code, 0x20000u);
        EXPECT_EQ(Ask(e, 8, 12).code, 0x50000u) << "host check before the change";
        Record r(rec::kPwdModify);
        r.SetText("acOldPwd", "Old1pass");
        r.SetText("acNewPwd", "New1pass");
        EXPECT_EQ(Ask(e, 3, 11, r.Wire()).code, 0x40000u);
        EXPECT_EQ(Ask(e, 3, 8).code, 0xA0000u);
        EXPECT_EQ(Ask(e, 8, 12).code, 0x50001u) << "no session after the logout";
        EXPECT_EQ(Ask(e, 3, 5, Login("u", "New1pass")).code, 0x20000u);
        EXPECT_EQ(Ask(e, 3, 5, Login("u", "Old1pass")).code, 0x30004u);
    }
}

TEST_F(SimEngine, CertificateListAndCertificateLogin) {
    sim::Scenario s = Parse(R"({"engine":{
        "certificates":[{"name":"one","text":"T1"},{"name":"two","text":"T2"}],
        "credentials":[{"user":"c","password":"pw","cert":"two"}]}})");
    Engine e(s);
    Reply r = Ask(e, 3, 15, Bytes(36996, 0));
    ASSERT_EQ(r.payload.size(), 36996u);
    EXPECT_EQ(simtest::GetLE(r.payload, 36992), 2u) << "the count travels in memory order";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.payload[1024])), "T2");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.payload[32768 + 132])), "two");

    // A login carries the list's value for the chosen row (its text), never the name
    // the list shows.
    auto certLogin = [&](uint32_t authType, const std::string& cert, const std::string& pwd) {
        Record l(rec::kSslLogin);
        l.SetU32("uiAuthType", authType);
        l.SetU32("uiLoginType", 1);
        l.SetText("acCertName", cert);
        l.SetText("acPassword", pwd);
        return Ask(e, 3, 5, l.Wire()).code;
    };
    EXPECT_EQ(certLogin(1, "T2", ""), 0x20000u);
    EXPECT_EQ(certLogin(2, "T2", "pw"), 0x20000u);
    EXPECT_EQ(certLogin(2, "T2", "bad"), 0x30004u);
    EXPECT_EQ(certLogin(1, "T1", ""), 0x30009u) << "a listed certificate nobody holds";
    EXPECT_EQ(certLogin(1, "two", ""), 0x30009u) << "the shown name is not what a login sends";
    EXPECT_EQ(certLogin(1, "", ""), 0x30009u);
}

TEST_F(SimEngine, BestGatewayIsTheLowestDelay) {
    Engine e(Parse(R"({"engine":{"versionMS":"0x00070000","versionLS":"0x00020022",
        "packageUrl":"https://192.0.2.10/app/vantrelo-macosx.tar.gz","authType":2,
        "gateways":[{"address":"10.0.0.1","port":443,"delay":40},
                    {"address":"10.0.0.2","port":443,"delay":5,"reachable":false},
                    {"address":"10.0.0.3","port":8443,"delay":9}]}})"));
    Record req(rec::kFirstConn);
    req.SetText("acGateway", "10.0.0.1:443");
    req.SetU32("uiAutoBest", 1);
    req.SetU32("uiGatewayNum", 4);
    const char* addrs[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.9.9.9"};
    uint32_t ports[] = {443, 443, 8443, 443};
    for (int i = 0; i < 4; ++i) {
        req.SetText("astGateway[" + std::to_string(i) + "].acAddress", addrs[i]);
        req.SetU32("astGateway[" + std::to_string(i) + "].uiPort", ports[i]);
    }
    Reply r = Ask(e, 1, 4, req.Wire());
    ASSERT_EQ(r.code, 0x10000u);
    Record conf(rec::kFirstConnectConf, r.payload.data(), r.payload.size());
    EXPECT_EQ(conf.Text("acBestGateway"), "10.0.0.3");
    EXPECT_EQ(conf.U32("uiBestPort"), 8443u);
    EXPECT_EQ(conf.U32("uiBestDelay"), 9u);
    EXPECT_EQ(Get32(r.payload, 0), 2u);
    EXPECT_EQ(Get32(r.payload, 8), 0x00070000u);
    EXPECT_EQ(Get32(r.payload, 12), 0x00020022u);
    EXPECT_EQ(conf.Text("acPackage"), "https://192.0.2.10/app/vantrelo-macosx.tar.gz");

    // Without automatic choice the asked gateway is the answer.
    req.SetU32("uiAutoBest", 0);
    Record manual(rec::kFirstConnectConf, Ask(e, 1, 4, req.Wire()).payload.data(), 412);
    EXPECT_EQ(manual.Text("acBestGateway"), "10.0.0.1");
    EXPECT_EQ(manual.U32("uiBestDelay"), 40u);

    // The site list: 16 entries in memory order.
    Reply list = Ask(e, 1, 18);
    EXPECT_EQ(list.code, 0x10002u);
    ASSERT_EQ(list.payload.size(), 2240u);
    EXPECT_EQ(simtest::GetLE(list.payload, 2 * 140 + 128), 8443u);
    EXPECT_EQ(list.payload[3 * 140], 0) << "entries past the gateways are empty";

    // Link selection: automatic picks the fastest reachable gateway.
    Record sel(rec::kLinkSelect);
    sel.SetU32("uiEnable", 1);
    Reply ls = Ask(e, 1, 17, sel.Wire());
    EXPECT_EQ(ls.code, 0x10004u);
    Record lr(rec::kLinkSelectReply, ls.payload.data(), ls.payload.size());
    EXPECT_EQ(lr.U32("uiResult"), 1u);
    EXPECT_EQ(lr.Text("acIp"), "10.0.0.3");
    EXPECT_EQ(Get32(ls.payload, 132), 8443u);
    sel.SetU32("uiEnable", 0);
    sel.SetText("acIp", "10.0.0.2");
    sel.SetU32("uiPort", 443);
    EXPECT_EQ(Ask(e, 1, 17, sel.Wire()).code, 0x10005u) << "an unreachable gateway";
}

TEST_F(SimEngine, TunnelFollowsTheLogin) {
    Engine e(sim::DefaultScenario());
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000001")).code, 0x70001u);
    EXPECT_EQ(Ask(e, 8, 12).code, 0x50001u);
    EXPECT_EQ(Ask(e, 3, 5, Login("alice", "Passw0rd")).code, 0x20000u);
    EXPECT_EQ(Ask(e, 8, 12).code, 0x50000u);
    EXPECT_EQ(Ask(e, 8, 13).code, 0x50002u);
    EXPECT_EQ(Ask(e, 8, 14).code, 0x50002u);
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000001")).code, 0x70000u);
    rapidjson::Document d;
    rapidjson::Value st = e.StateJson(d.GetAllocator());
    EXPECT_TRUE(st["tunnelUp"].GetBool());
    EXPECT_EQ(st["tunnelMode"].GetUint(), 1u);
    EXPECT_EQ(Ask(e, 5, 19).code, 0x70003u);
    EXPECT_EQ(Ask(e, 5, 19).code, 0x70004u);
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000002")).code, 0x70000u);
    EXPECT_EQ(Ask(e, 3, 8).code, 0xA0000u);
    EXPECT_EQ(Ask(e, 5, 10, simtest::Hex("00000002")).code, 0x70001u) << "logged out";
}

TEST_F(SimEngine, IpsecLoginIsASeriesOfStatusPackets) {
    Engine e(Parse(R"({"engine":{"ipsec":{"stepDelayMs":7}}})"));
    auto login = [](const std::string& user, const std::string& pwd) {
        Record r(rec::kIpsecLogin);
        r.SetText("acUserName", user);
        r.SetText("acPassword", pwd);
        return r.Wire();
    };
    sim::Plan ok = e.HandleRequest(sim::PacketHead{2, 4, 1, 4, 5, 1932}, login("alice", "Passw0rd"));
    const uint32_t good[] = {0x80000, 0x80006, 0x80008, 0x8000B, 0x80016, 0x80022, 0x80029, 0x8002F};
    ASSERT_EQ(ok.steps.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        Reply r = Decode(ok.steps[i].bytes);
        EXPECT_EQ(r.code, good[i]);
        EXPECT_EQ(r.msgType, 4u);
        EXPECT_EQ(ok.steps[i].delayMs, 7u);
    }
    sim::Plan bad = e.HandleRequest(sim::PacketHead{2, 4, 1, 4, 5, 1932}, login("alice", "x"));
    ASSERT_FALSE(bad.steps.empty());
    EXPECT_EQ(Decode(bad.steps.back().bytes).code, 0x80024u);
    EXPECT_EQ(Ask(e, 4, 8).code, 0xA0000u);
}

TEST_F(SimEngine, GreetingsAreNeverAnswered) {
    Engine e(sim::DefaultScenario());
    EXPECT_TRUE(e.HandleRequest(sim::PacketHead{2, 4, 1, 1, 0x10006, 0}, {}).steps.empty());
}

TEST_F(SimEngine, ScriptedRepliesTakeOverInOrder) {
    sim::Scenario s = Parse(R"({"scripts":[{"msgType":9,"code":1,"replies":[
        {"code":"0xD0001"},
        {"delayMs":250},
        {"code":"0xD0000","payload":{"record":"LinkType","fields":{"uiLinkType":7}},
         "truncateTo":2,"announceLen":100},
        {"closeAfterHead":true},
        {"noReply":true,"extraBefore":["0xB0001",{"code":"0x80006","delayMs":9}]},
        {"lateAfterMs":1500},
        {"payload":"abcd"},
        {"resetAfter":true,"repeat":true}]}]})");
    Engine e(s);
    Record cfg = Config(e);
    cfg.SetU32("AutoBoot", 1);
    sim::PacketHead h{2, 4, 1, 9, 1, 11560};

    // 1: the scripted code replaces the answer, and the write does not happen.
    sim::Plan p1 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p1.steps.size(), 1u);
    EXPECT_EQ(Decode(p1.steps[0].bytes).code, 0xD0001u);
    EXPECT_EQ(Config(e).U32("AutoBoot"), 0u);
    // 2: only a delay: the happy answer, delayed, and the write happens.
    sim::Plan p2 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p2.steps.size(), 1u);
    EXPECT_EQ(p2.steps[0].delayMs, 250u);
    EXPECT_EQ(Decode(p2.steps[0].bytes).code, 0xD0000u);
    EXPECT_EQ(Config(e).U32("AutoBoot"), 1u);
    // 3: a built payload, cut short, with a length the head lies about.
    sim::Plan p3 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p3.steps.size(), 1u);
    EXPECT_EQ(p3.steps[0].bytes.size(), 26u);
    EXPECT_EQ(Get32(p3.steps[0].bytes, 20), 100u);
    EXPECT_EQ(p3.steps[0].bytes[24], 0);
    EXPECT_EQ(p3.steps[0].bytes[25], 0);
    // 4: the head alone, then a close.
    sim::Plan p4 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p4.steps.size(), 2u);
    EXPECT_EQ(p4.steps[0].bytes.size(), 24u);
    EXPECT_EQ(p4.steps[1].kind, sim::OutStep::kClose);
    // 5: two packets first, then no reply.
    sim::Plan p5 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p5.steps.size(), 2u);
    EXPECT_EQ(Decode(p5.steps[0].bytes).code, 0xB0001u);
    EXPECT_EQ(Decode(p5.steps[1].bytes).code, 0x80006u);
    EXPECT_EQ(p5.steps[1].delayMs, 9u);
    // 6: the reply out of order, later.
    sim::Plan p6 = e.HandleRequest(h, cfg.Wire());
    EXPECT_TRUE(p6.steps.empty());
    ASSERT_EQ(p6.late.size(), 1u);
    EXPECT_EQ(p6.late[0].afterMs, 1500u);
    // 7: only a payload: the happy engine's code, and the write happens.
    cfg.SetU32("AutoBoot", 0);
    sim::Plan p7 = e.HandleRequest(h, cfg.Wire());
    ASSERT_EQ(p7.steps.size(), 1u);
    Reply r7 = Decode(p7.steps[0].bytes);
    EXPECT_EQ(r7.code, 0xD0000u);
    EXPECT_EQ(simtest::ToHex(r7.payload), "abcd");
    EXPECT_EQ(Config(e).U32("AutoBoot"), 0u);
    // 8 and after: a reset after each reply, for good.
    for (int i = 0; i < 2; ++i) {
        sim::Plan p = e.HandleRequest(h, cfg.Wire());
        ASSERT_EQ(p.steps.size(), 2u);
        EXPECT_EQ(p.steps[1].kind, sim::OutStep::kReset);
    }
}

TEST_F(SimEngine, PortReplyChoices) {
    sim::PacketHead req{2, 1, 2, 1, 0x10006, 1056};
    {
        Engine e(sim::DefaultScenario());
        sim::Plan p = e.HandlePortRequest(req, 40123);
        ASSERT_EQ(p.steps.size(), 1u);
        Reply r = Decode(p.steps[0].bytes);
        EXPECT_EQ(r.code, 0x10008u);
        EXPECT_EQ(r.source, 1u);
        EXPECT_EQ(r.type, 2u);
        EXPECT_EQ(r.payload, simtest::Hex("00009CBB"));
    }
    struct Case {
        const char* json;
        size_t steps;
        uint32_t code;
        const char* payloadHex;
    } cases[] = {
        {R"({"promote":{"portReply":{"code":"0x10007"}}})", 1, 0x10007, ""},
        {R"({"promote":{"portReply":{"code":"0x20000"}}})", 1, 0x20000, ""},
        {R"({"promote":{"portReply":"none"}})", 0, 0, ""},
        {R"({"promote":{"portReply":{"code":"0x10008","payload":"0000"}}})", 1, 0x10008, "0000"},
        {R"({"promote":{"portReply":{"code":"0x10008","payload":{"record":"EnginePort",
            "fields":{"uiPort":70000}}}}})", 1, 0x10008, "00011170"},
    };
    for (const Case& c : cases) {
        Engine e(Parse(c.json));
        sim::Plan p = e.HandlePortRequest(req, 40123);
        ASSERT_EQ(p.steps.size(), c.steps) << c.json;
        if (c.steps == 0) continue;
        Reply r = Decode(p.steps[0].bytes);
        EXPECT_EQ(r.code, c.code) << c.json;
        EXPECT_EQ(simtest::ToHex(r.payload), c.payloadHex) << c.json;
    }
}

TEST(SimRequestLog, NamesThatAreNotUtf8AreShownAsHex) {
    // A profile write whose name is not UTF-8, and a read naming it: the log line is
    // still JSON, the name given as its bytes in hex, as record texts are.
    struct Case {
        uint32_t code;
        Bytes payload;
    } cases[] = {{5, WithName(SslProfile("192.0.2.1"), "\xFF\xFE.ini")},
                 {6, Bytes{0xFF, 0xFE, '.', 'i', 'n', 'i'}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        rapidjson::Document d;
        d.SetObject();
        sim::DescribePayload("sync", sim::PacketHead{2, 4, 1, 9, c.code, 0}, c.payload, &d,
                             d.GetAllocator());
        ASSERT_TRUE(d.HasMember("text"));
        ASSERT_TRUE(d["text"].IsObject());
        EXPECT_STREQ(d["text"]["hex"].GetString(), "fffe2e696e69");
    }
}

TEST(SimScenario, ErrorsAreReportedWithTheirPlace) {
    struct Case {
        const char* json;
        const char* why;
    } cases[] = {
        {"{", "not JSON"},
        {R"({"requestlog":"x"})", "unknown member requestlog"},
        {R"({"engine":{"credentials":[{"user":"a","outcome":"maybe"}]}})", "unknown outcome"},
        {R"({"scripts":[{"msgType":9,"code":2,"replies":[{"dely":5}]}]})", "unknown member dely"},
        {R"({"profiles":[{"name":"x.ini","linkType":3}]})", "linkType"},
        {R"({"events":[{"conn":"sync","code":1}]})", "async"},
        {R"({"https":{"files":[{"path":"/x","mode":"fast"}]}})", "unknown mode"},
        {R"({"controlPort":70000})", "out of range"},
        {R"({"config":{"LanguageID":"two"}})", "number"},
    };
    for (const Case& c : cases) {
        sim::Scenario s = sim::DefaultScenario();
        std::string err;
        EXPECT_FALSE(sim::ParseScenario(c.json, &s, &err)) << c.json;
        EXPECT_NE(err.find(c.why), std::string::npos) << c.json << " -> " << err;
    }
}

}  // namespace
