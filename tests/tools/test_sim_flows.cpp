// Whole user flows through the simulator program, from the front end's side: the
// records are built here by hand at the offsets the front end uses (integers of the
// login records in its own little-endian memory order, of the session record
// big-endian), and every answer is read back the same way. Each flow runs on free
// ports.

#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_test_support.h"
#include "vt_test/temp_env.h"

namespace {

using namespace simtest;

constexpr uint32_t kCfm = 9, kAuth = 3, kIpsec = 4, kEps = 8;

// UI_SSL_LOGIN_S, 1980 bytes, integers in the front end's memory order.
Bytes SslLogin(uint32_t authType, const std::string& user, const std::string& pwd,
               const std::string& cert, const std::string& profile) {
    Bytes b(1980, 0);
    PutLE(b, 0, 1);          // uiDeviceCACheck: the configuration's ServerCheck
    PutLE(b, 4, authType);   // 0 password, 2 certificate and password, 1 certificate
    PutLE(b, 12, 1);         // uiLoginType: the login view
    PutLE(b, 16, 2);         // uiLanguage: Chinese
    PutText(b, 20, cert);
    PutText(b, 1044, "192.0.2.10:443");
    PutText(b, 1300, user);
    PutText(b, 1684, pwd);
    PutText(b, 1844, profile);
    return b;
}

// UI_IPSEC_LOGIN_S, 1932 bytes.
Bytes IpsecLogin(const std::string& user, const std::string& pwd, const std::string& profile) {
    Bytes b(1932, 0);
    PutText(b, 4, "192.0.2.20");
    PutText(b, 260, user);
    PutText(b, 644, pwd);
    PutText(b, 1796, profile);
    return b;
}

// CFM_SESSION_S on its own, 676 bytes, its three integers big-endian.
Bytes Session(uint32_t linkType, const std::string& profile, const std::string& user,
              const std::string& pwd) {
    Bytes b(676, 0);
    Put32(b, 0, linkType);
    Put32(b, 4, 1);   // RemPwd
    PutText(b, 12, "192.0.2.20");
    PutText(b, 156, profile);
    PutText(b, 289, user);
    PutText(b, 545, pwd);
    return b;
}

// PwdModifyInfo, 256 bytes.
Bytes PwdModify(const std::string& oldPwd, const std::string& newPwd) {
    Bytes b(256, 0);
    PutText(b, 0, oldPwd);
    PutText(b, 128, newPwd);
    return b;
}

// ProfileOutputInfo, 1157 bytes.
Bytes ProfileOutput(const std::string& profile, const std::string& path) {
    Bytes b(1157, 0);
    PutText(b, 0, profile);
    PutText(b, 133, path);
    return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What the front end takes from the system configuration (CFM_SYSCONFIG_S).
struct Config {
    std::string lastAccess;
    std::vector<std::pair<std::string, uint32_t>> sessions;   // profile name, link type

    int Find(const std::string& name) const {
        for (size_t i = 0; i < sessions.size(); ++i) {
            if (sessions[i].first == name) return int(i);
        }
        return -1;
    }
};

class SimFlows : public ::testing::Test {
protected:
    void Start(const std::string& extra = "") {
        std::string scenario = R"({"requestLog":"@DIR@/requests.jsonl",
            "portsFile":"@DIR@/ports.json","controlPort":0,"promote":{"port":0})";
        if (!extra.empty()) scenario += "," + extra;
        scenario += "}";
        sim_.reset(new SimProcess(scenario, env_.Tmp()));
        ASSERT_TRUE(sim_->Started()) << sim_->Diagnostics();
        ASSERT_NO_FATAL_FAILURE(link_.Open(*sim_));
    }
    // One request and the code of its reply (0 when none came).
    uint32_t Ask(uint32_t msgType, uint32_t code, const Bytes& payload, Bytes* reply = nullptr) {
        Head h;
        Bytes p;
        if (!link_.Ask(msgType, code, payload, &h, &p)) return 0;
        if (reply != nullptr) *reply = p;
        return h.code;
    }
    Config ReadConfig() {
        Config c;
        Bytes p;
        EXPECT_EQ(Ask(kCfm, 2, {}, &p), 0xD0002u);
        if (p.size() != 11560) {
            ADD_FAILURE() << "configuration of " << p.size() << " bytes";
            return c;
        }
        c.lastAccess = TextAt(p, 88, 133);
        for (size_t i = 0; i < 16; ++i) {
            size_t at = 744 + 676 * i;
            std::string name = TextAt(p, at + 156, 133);
            if (!name.empty()) c.sessions.push_back({name, GetLE(p, at)});
        }
        return c;
    }
    Bytes ReadProfile(const std::string& name) {
        Bytes p;
        EXPECT_EQ(Ask(kCfm, 6, Text(name), &p), 0xD000Bu) << name;
        return p;
    }

    vt_test::TempEnv env_;
    std::unique_ptr<SimProcess> sim_;
    Link link_;
};

TEST_F(SimFlows, ImportNamesTheProfileAfterItsFile) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Bytes office = ReadProfile("Office.ini");
    ASSERT_EQ(office.size(), 3328u);
    std::string file = env_.Tmp() + "/Imported.ini";
    EXPECT_EQ(Ask(kCfm, 10, ProfileOutput("Office.ini", file)), 0xD0014u);
    ASSERT_FALSE(ReadFile(file).empty());

    // The user edits the source profile, then imports the copy made before.
    Bytes edited = office;
    std::fill(edited.begin() + 12, edited.begin() + 12 + 256, 0);   // the description
    PutText(edited, 12, "edited after the export");
    Bytes write = edited;
    write.insert(write.end(), {'O', 'f', 'f', 'i', 'c', 'e', '.', 'i', 'n', 'i'});
    ASSERT_EQ(Ask(kCfm, 5, write), 0xD0009u);
    ASSERT_NE(ReadProfile("Office.ini"), office);

    Bytes linkType;
    EXPECT_EQ(Ask(kCfm, 9, Text(file), &linkType), 0xD0011u);
    ASSERT_EQ(linkType.size(), 4u);
    EXPECT_EQ(Get32(linkType, 0), 1u) << "SSL VPN";

    // The main window's next step: the configuration, then "<name>.ini".
    Config cfg = ReadConfig();
    int imported = cfg.Find("Imported.ini");
    ASSERT_GE(imported, 0) << "the import creates a session entry named after the file";
    EXPECT_EQ(cfg.sessions[size_t(imported)].second, 1u);
    EXPECT_GE(cfg.Find("Office.ini"), 0);
    EXPECT_GE(cfg.Find("Branch.ini"), 0);
    EXPECT_EQ(cfg.sessions.size(), 3u);
    EXPECT_EQ(ReadProfile("Imported.ini"), office) << "the copy holds the profile as exported";
    EXPECT_EQ(ReadProfile("Office.ini"), edited) << "the source keeps its later edit";
    EXPECT_FALSE(ReadFile(env_.Home() + "/.VanTrelo/config/Imported.ini").empty());
}

TEST_F(SimFlows, FirstLoginChangeLogOutLogInAgain) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Bytes ret;
    ASSERT_EQ(Ask(kAuth, 5, SslLogin(0, "bob", "Passw0rd", "", "Office.ini"), &ret), 0x30006u);
    ASSERT_EQ(ret.size(), 32u);
    EXPECT_EQ(Get32(ret, 24), 1u) << "the change is allowed";
    EXPECT_EQ(Get32(ret, 16), 0u) << "no host check for bob";

    EXPECT_EQ(Ask(kAuth, 11, PwdModify("Passw0rd", "Better1x")), 0x40000u);
    EXPECT_TRUE(link_.async.Silent(300)) << "the front end logs out by itself: no forced logout";
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "bob", "Better1x", "", "Office.ini")), 0x20000u);
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "bob", "Passw0rd", "", "Office.ini")), 0x30004u)
        << "the old password no longer logs in";
}

// A password changed in a session ends it: the reply confirms the change, then the
// forced logout comes on the event connection, never before the reply, however late the
// reply is. A refused change keeps the session and sends nothing.
TEST_F(SimFlows, ChangeInASessionEndsItWithAForcedLogout) {
    ASSERT_NO_FATAL_FAILURE(Start());
    auto state = [this](const char* member) {
        const std::string answer = sim_->Control("state");
        return answer.find(std::string("\"") + member + "\":true") != std::string::npos;
    };
    ASSERT_EQ(Ask(kAuth, 5, SslLogin(0, "alice", "Passw0rd", "", "Office.ini")), 0x20000u);
    ASSERT_EQ(Ask(5, 10, Bytes{0, 0, 0, 2}), 0x70000u);

    Bytes policy;
    EXPECT_EQ(Ask(kAuth, 11, PwdModify("wrong", "N3wPassword"), &policy), 0x40008u);
    EXPECT_EQ(policy.size(), 28u);
    EXPECT_TRUE(link_.async.Silent(300)) << "a refused change ends nothing";
    EXPECT_TRUE(state("loggedIn"));
    EXPECT_TRUE(state("tunnelUp"));

    EXPECT_EQ(sim_->Control(R"(script push 3 11 {"delayMs":500})"), "OK");
    link_.sync.Send(Packet(2, 4, 1, kAuth, 11, PwdModify("Passw0rd", "N3wPassword")));
    EXPECT_TRUE(link_.async.Silent(300)) << "nothing before the reply";
    Head h;
    Bytes p;
    ASSERT_TRUE(link_.sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0x40000u);
    EXPECT_TRUE(p.empty());
    ASSERT_TRUE(link_.async.Recv(&h, &p));
    EXPECT_EQ(h.source, 4u);
    EXPECT_EQ(h.dest, 2u);
    EXPECT_EQ(h.type, 2u);
    EXPECT_EQ(h.msgType, 1u);
    EXPECT_EQ(h.code, 0xB0000u);
    EXPECT_EQ(h.len, 0u);
    EXPECT_TRUE(link_.async.Silent(200)) << "one forced logout";
    EXPECT_FALSE(state("loggedIn"));
    EXPECT_FALSE(state("tunnelUp"));

    // The front end's own logout after the event, then a login with the new password.
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "alice", "Passw0rd", "", "Office.ini")), 0x30004u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "alice", "N3wPassword", "", "Office.ini")), 0x20000u);
    EXPECT_TRUE(link_.async.Silent(100));
}

TEST_F(SimFlows, FirstLoginWithHostCheckAnswersTheCheckBeforeTheChange) {
    ASSERT_NO_FATAL_FAILURE(Start(R"("engine":{"credentials":[
        {"user":"hank","password":"Passw0rd","outcome":"firstLogin","hostCheck":1}]})"));
    Bytes ret;
    ASSERT_EQ(Ask(kAuth, 5, SslLogin(0, "hank", "Passw0rd", "", "Office.ini"), &ret), 0x30006u);
    ASSERT_EQ(ret.size(), 32u);
    EXPECT_EQ(Get32(ret, 16), 1u) << "the reply asks for the host check";
    // The front end runs the host check first, then shows the change dialog.
    EXPECT_EQ(Ask(kEps, 12, {}), 0x50000u);
    EXPECT_EQ(Ask(kAuth, 11, PwdModify("Passw0rd", "Better1x")), 0x40000u);
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kEps, 12, {}), 0x50001u) << "nobody logged in any more";
    ASSERT_EQ(Ask(kAuth, 5, SslLogin(0, "hank", "Better1x", "", "Office.ini"), &ret), 0x20000u);
    EXPECT_EQ(Ask(kEps, 12, {}), 0x50000u);
}

TEST_F(SimFlows, CertificateLoginWithTheListedCertificate) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // The login view lists the certificates by their shown names and sends, for the
    // chosen row, the value of the same row in the other table.
    Bytes list;
    Ask(kAuth, 15, Bytes(36996, 0), &list);
    ASSERT_EQ(list.size(), 36996u);
    uint32_t count = GetLE(list, 36992);
    ASSERT_GE(count, 1u);
    ASSERT_LE(count, 32u);
    int row = -1;
    for (uint32_t i = 0; i < count; ++i) {
        if (TextAt(list, 32768 + 132 * i, 132) == "alice@example") row = int(i);
    }
    ASSERT_GE(row, 0) << "the list offers alice@example";
    std::string value = TextAt(list, 1024 * size_t(row), 1024);
    ASSERT_FALSE(value.empty());

    // Certificate alone (page 2), then certificate and its password (page 1).
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(1, "", "", value, "Office.ini")), 0x20000u);
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(2, "", "Passw0rd", value, "Office.ini")), 0x20000u);
    EXPECT_EQ(Ask(kAuth, 8, {}), 0xA0000u);
    EXPECT_EQ(Ask(kAuth, 5, SslLogin(2, "", "wrong", value, "Office.ini")), 0x30004u);
}

TEST_F(SimFlows, LastUsedConnectionSurvivesTheReRead) {
    // The front end sets the last used connection only in its own copy, writes the
    // session entry (password logins) and reads the configuration back: the read must
    // show the profile, whatever kind of login it was.
    ASSERT_NO_FATAL_FAILURE(Start(R"("engine":{"ipsec":{"stepDelayMs":1}})"));
    EXPECT_EQ(ReadConfig().lastAccess, "");
    struct Step {
        const char* what;
        std::function<void()> run;
        const char* expected;
    };
    Bytes tokenCode(1980, 0);
    PutText(tokenCode, 4, "123456");   // UI_DYNAMIC_CODE_S: auth type, then the code
    std::vector<Step> steps = {
        {"SSL password login, no session written",
         [&] { EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "alice", "Passw0rd", "", "Office.ini")),
                         0x20000u); },
         "Office.ini"},
        {"session write of an IPSec profile",
         [&] { EXPECT_EQ(Ask(kCfm, 3, Session(2, "Branch.ini", "alice", "Passw0rd")), 0xD0004u); },
         "Branch.ini"},
        {"certificate login",
         [&] { EXPECT_EQ(Ask(kAuth, 5, SslLogin(1, "", "", "CERT:alice@example", "Office.ini")),
                         0x20000u); },
         "Office.ini"},
        {"IPSec login up to the connection",
         [&] {
             Bytes login = IpsecLogin("alice", "Passw0rd", "Branch.ini");
             link_.sync.Send(Packet(2, 4, 1, kIpsec, 5, login));
             Head h;
             Bytes p;
             do {
                 ASSERT_TRUE(link_.sync.Recv(&h, &p));
             } while (h.code != 0x8002F);
         },
         "Branch.ini"},
        {"token login",
         [&] {
             EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "carol", "Passw0rd", "", "Office.ini")), 0x3000Au);
             EXPECT_EQ(ReadConfig().lastAccess, "Branch.ini") << "not before the code";
             EXPECT_EQ(Ask(kAuth, 16, tokenCode), 0x20000u);
         },
         "Office.ini"},
        {"a refused login changes nothing",
         [&] { EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "erin", "Passw0rd", "", "Branch.ini")),
                         0x30004u); },
         "Office.ini"},
        {"a login naming no profile changes nothing",
         [&] { EXPECT_EQ(Ask(kAuth, 5, SslLogin(0, "alice", "Passw0rd", "", "Ghost.ini")),
                         0x20000u); },
         "Office.ini"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_NO_FATAL_FAILURE(s.run());
        EXPECT_EQ(ReadConfig().lastAccess, s.expected);
    }
}

TEST_F(SimFlows, PromoteEventsGoToTheConnectionThatAskedForThePort) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // Two strays on the promote port after the front end: one stays silent, one
    // connects and closes at once.
    Client silent(sim_->Port("promote"));
    {
        Client gone(sim_->Port("promote"));
    }
    EXPECT_EQ(sim_->Control("ping"), "OK pong");   // both are seen by now
    EXPECT_EQ(sim_->Control("event promote 0xB0001"), "OK");
    Head h;
    Bytes p;
    ASSERT_TRUE(link_.promote.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xB0001u);
    EXPECT_EQ(h.type, 2u);
    EXPECT_TRUE(silent.Silent(100));
    // Closing the promote connection closes the front end's, too.
    EXPECT_EQ(sim_->Control("close promote"), "OK");
    EXPECT_TRUE(link_.promote.WaitClosed(2000));
    EXPECT_TRUE(silent.Silent(100));
    EXPECT_EQ(sim_->Control("event promote 0xB0001"), "ERR no promote connection");
}

TEST_F(SimFlows, UnreadRepliesAreCappedAndTheConnectionClosed) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // 3,000 configuration reads (34 MB of replies), none of them read.
    Bytes burst;
    for (int i = 0; i < 3000; ++i) {
        Bytes one = Packet(2, 4, 1, kCfm, 2);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    size_t off = 0;
    while (off < burst.size()) {
        ssize_t n = ::send(link_.sync.fd(), burst.data() + off, burst.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;   // closed on us already
        off += size_t(n);
    }
    // Nothing is read until the simulator has given up: a client that reads would
    // keep the backlog small.
    bool noted = false;
    for (int waited = 0; waited < 10000 && !noted; waited += 20) {
        noted = sim_->Diagnostics().find("sync connection leaves") != std::string::npos;
        if (!noted) ::usleep(20000);
    }
    EXPECT_TRUE(noted) << sim_->Diagnostics();
    EXPECT_TRUE(link_.sync.WaitClosed(5000));
    // The simulator itself goes on, and a new synchronous connection is served.
    EXPECT_EQ(sim_->Control("ping"), "OK pong");
    Client sync(link_.enginePort);
    sync.Send(Packet(2, 4, 1, 1, 0x10006));
    sync.Send(Packet(2, 4, 1, kCfm, 2));
    Head h;
    Bytes p;
    ASSERT_TRUE(sync.Recv(&h, &p));
    EXPECT_EQ(h.code, 0xD0002u);
}

}  // namespace
