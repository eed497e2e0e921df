// A browser drives the client: the start function run in a child as a browser starts it
// ("-p" from a plugin, or as an extension's native-messaging host), against the
// simulator on the service's port, with the simulator's plugin client as the browser's
// plugin on the listener's free port. Each road checks the answers the plugin read, the
// frames the extension read, the requests the service saw and the client's log.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include <QAction>
#include <QApplication>
#include <QThread>
#include <QTimer>

#include "frontendmain.h"
#include "languagesetting.h"
#include "mainui.h"
#include "ui_connect.h"
#include "ui_link_inner.h"
#include "ui_packet_inner.h"
#include "ui_plugin_inner.h"
#include "ui_promote_inner.h"
#include "ui_test/ui_sim.h"
#include "uicontext.h"
#include "vt_qt_test/box_driver.h"
#include "vt_qt_test/start_loop.h"
#include "vt_test/child_process.h"

extern char** environ;

namespace {

using ui_test::ClientLogCount;
using ui_test::InLoop;
using ui_test::StartedWindow;
using ui_test::StartUp;

constexpr char kExitLine[] = "[#################UI exit!#################]";

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The last lines of the client's log, for a failure's message.
std::string ClientLogTail(size_t count = 40) {
    std::vector<std::string> lines;
    const std::string dir = std::string(getenv("HOME")) + "/.VanTrelo/log/";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).find("VanTreloUI") == std::string::npos) continue;
            std::ifstream in(dir + e->d_name);
            std::string line;
            while (std::getline(in, line)) lines.push_back(line);
        }
        closedir(d);
    }
    std::string tail;
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) {
        tail += lines[i] + "\n";
    }
    return tail;
}

// ---- The browser's side (in the test) --------------------------------------------------

// The browser's plugins: each run is one client with its steps, one after the other, the
// first once the client under test has named its listener's port in the port file. A
// line {"next":true} stands between the outputs of two runs.
class Plugins {
public:
    Plugins(const std::string& dir, const std::vector<std::string>& runs)
        : portFile_(dir + "/plugin-port"), out_(dir + "/plugin-out") {
        std::string script = "i=0; while [ ! -s '" + portFile_ +
                             "' ]; do i=$((i+1)); [ $i -gt 1200 ] && exit 3; sleep 0.05; done; "
                             "P=$(cat '" + portFile_ + "'); : > '" + out_ + "'; ";
        for (size_t k = 0; k < runs.size(); ++k) {
            if (k > 0) script += "echo '{\"next\":true}' >> '" + out_ + "'; ";
            script += std::string("'") + UI_TEST_PLUGIN_CLIENT_BIN + "' --port $P --scan 1 " +
                      runs[k] + " >> '" + out_ + "' 2>> '" + out_ + ".err'; ";
        }
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, &attr, const_cast<char**>(argv), environ) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attr);
    }
    ~Plugins() {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            (void)waitpid(pid_, nullptr, 0);
        }
    }
    Plugins(const Plugins&) = delete;
    Plugins& operator=(const Plugins&) = delete;

    const std::string& PortFile() const { return portFile_; }

    // Waits for the last run to end; every line the plugins printed, parsed.
    std::vector<rapidjson::Document> Packets(int timeoutMs = 60000) {
        const int64_t end = NowMs() + timeoutMs;
        while (pid_ > 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                std::ifstream err(out_ + ".err");
                std::stringstream notes;
                notes << err.rdbuf();
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    << "plugins ended " << status << ": " << notes.str();
                break;
            }
            if (NowMs() > end) {
                ADD_FAILURE() << "the plugins did not end";
                break;
            }
            usleep(20 * 1000);
        }
        std::vector<rapidjson::Document> packets;
        std::ifstream in(out_);
        std::string line;
        while (std::getline(in, line)) {
            packets.emplace_back();
            packets.back().Parse(line.c_str());
            EXPECT_FALSE(packets.back().HasParseError()) << line;
        }
        return packets;
    }

private:
    std::string portFile_;
    std::string out_;
    pid_t pid_ = -1;
};

uint32_t Code(const rapidjson::Value& packet) {
    return packet.HasMember("head") ? packet["head"]["code"].GetUint() : 0xFFFFFFFFu;
}

std::string Str(const rapidjson::Value& packet, const char* field) {
    if (!packet.HasMember("fields") || !packet["fields"].HasMember(field)) return "<none>";
    const rapidjson::Value& v = packet["fields"][field];
    return v.IsString() ? v.GetString() : "<not text>";
}

int64_t Num(const rapidjson::Value& packet, const char* field) {
    if (!packet.HasMember("fields") || !packet["fields"].HasMember(field)) return -999;
    return packet["fields"][field].GetInt64();
}

bool Flag(const rapidjson::Value& packet, const char* flag) { return packet.HasMember(flag); }

// A tip as the plugin reads it: the code of the request it answers, its flag and text.
struct Tip {
    uint32_t code;
    int64_t flag;
    std::string text;
};

void ExpectTip(const rapidjson::Value& packet, const Tip& tip) {
    EXPECT_EQ(Code(packet), tip.code);
    EXPECT_EQ(packet.HasMember("record") ? packet["record"].GetString() : "", std::string("PluginTip"));
    EXPECT_EQ(Num(packet, "cFlag"), tip.flag);
    EXPECT_EQ(Str(packet, "cTip"), tip.text);
}

// The English text of a language key (the plugin starts name English).
std::string KeyText(const char* key) {
    static const bool loaded =
        LanguageSetting::GetInstance()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    (void)loaded;
    return LanguageSetting::GetInstance()->GetValue(key).toStdString();
}

// The requests on the engine's synchronous connection, as "type/code", with their logs.
struct Requests {
    explicit Requests(const ui_test::Sim& sim) : log(sim.Log()) {
        for (const rapidjson::Document& line : log) {
            if (!line.HasMember("head") || std::string(line["conn"].GetString()) != "sync") continue;
            codes.push_back(std::to_string(line["head"]["msgType"].GetUint()) + "/" +
                            std::to_string(line["head"]["code"].GetUint()));
            lines.push_back(&line);
        }
    }
    // The decoded records of one request kind, in order.
    std::vector<const rapidjson::Value*> Of(const std::string& code) const {
        std::vector<const rapidjson::Value*> out;
        for (size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] == code && lines[i]->HasMember("fields")) out.push_back(&(*lines[i])["fields"]);
        }
        return out;
    }
    size_t Count(const std::string& code) const {
        size_t n = 0;
        for (const std::string& c : codes) n += c == code;
        return n;
    }
    int Index(const std::string& code, size_t from = 0) const {
        for (size_t i = from; i < codes.size(); ++i) {
            if (codes[i] == code) return static_cast<int>(i);
        }
        return -1;
    }
    std::vector<rapidjson::Document> log;
    std::vector<std::string> codes;
    std::vector<const rapidjson::Document*> lines;
};

std::string Field(const rapidjson::Value* fields, const char* name) {
    if (fields == nullptr || !fields->HasMember(name)) return "<none>";
    const rapidjson::Value& v = (*fields)[name];
    return v.IsString() ? v.GetString() : std::to_string(v.GetInt64());
}

// A browser program that writes the arguments it was started with, one a line, to a file.
std::string FakeBrowser(const std::string& dir) {
    const std::string path = dir + "/browser.sh";
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << dir << "/browser-args.tmp'\n"
                        << "mv '" << dir << "/browser-args.tmp' '" << dir << "/browser-args'\n";
    chmod(path.c_str(), 0700);
    return path;
}

// ---- The client's side (in the child) ----------------------------------------------------

// The port the listener really has: the link reports the one it asked for, and the bind
// below takes any free one instead.
std::atomic<int> g_boundPort{0};

int32_t BindAnyPortAndKeepIt(int32_t fd, const struct sockaddr* addr, socklen_t len) {
    const int32_t rc = ui_test::BindAnyPort(fd, addr, len);
    sockaddr_in bound{};
    socklen_t size = sizeof(bound);
    if (rc == 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        g_boundPort.store(ntohs(bound.sin_port));
    }
    return rc;
}

// Once the client is up, names its listener's port for the plugins, then runs watch
// (if any) on every later turn of the loop until it returns true.
void AnnounceThen(const std::string& portFile, std::function<bool()> watch = nullptr) {
    InLoop([portFile, watch, announced = false]() mutable {
        if (!announced) {
            if (!StartUp() || uiPluginListenPortGet() == 0 || g_boundPort.load() == 0) return false;
            const std::string tmp = portFile + ".tmp";
            std::ofstream(tmp) << g_boundPort.load() << "\n";
            rename(tmp.c_str(), portFile.c_str());
            announced = true;
        }
        return watch ? watch() : true;
    });
}

// The start function as the program runs it, with the connect retries shortened, the
// kill by name kept to this child's own processes, the plugin listener on a free port
// and the service's time-outs divided.
int Start(const std::vector<std::string>& args, uint32_t timeoutDivisor = 1) {
    uiPromoteKillScopeSet(getpid());
    uiConnectRetrySleepSet([](uint32_t) { usleep(20 * 1000); });
    uiPluginBindSet(BindAnyPortAndKeepIt);
    uiSyncTimeoutDivisorSet(timeoutDivisor);
    std::vector<std::string> store = {"/opt/app/VanTrelo"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(store.size());
    return FrontEnd_Main(argc, argv.data());
}

std::vector<std::string> PluginArgs(const std::string& browser, const std::string& proxy = "NoProxy",
                                    const std::string& login = "192.0.2.10:443") {
    return {"-p", browser, login, "-nu", "1", proxy};
}

// The child's status when the start returned instead of ending through the exit path.
constexpr int kStartReturned = 7;
constexpr int kStopped = 42;

// ---- The roads ------------------------------------------------------------------------------

// A plugin logs in, checks the host, clears both caches, starts the tunnel, asks for the
// information, stops the tunnel, asks again and logs out: each answered by its packet.
TEST(PluginRoad, PluginLogsInDrivesTheTunnelAndLogsOut) {
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const std::string browser = FakeBrowser(sim.Dir());
    Plugins plugins(sim.Dir(), {"register login alice Passw0rd - recv 15000 req 5 recv 15000 "
                                "req 6 recv 15000 req 7 recv 15000 req 3 recv 15000 req 9 recv 15000 "
                                "req 4 recv 15000 req 9 recv 15000 req 2 recv 15000"});
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        vt_qt_test::BoxDriver driver;  // no answer queued: any box fails the test
        driver.ArmForNextApplication();
        AnnounceThen(plugins.PortFile(), [&sim, started = false]() mutable {
            UIContext* context = UIContext::GetInstance();
            if (!started && context->GetCnemStatus()) {
                started = true;
                EXPECT_TRUE(context->GetLogined());
                EXPECT_FALSE(StartedWindow()->isVisible());
                EXPECT_NE(sim.Control("state").find("\"tunnelUp\":true"), std::string::npos);
            }
            if (started && !context->GetCnemStatus()) {
                EXPECT_TRUE(context->GetLogined()) << "a stopped tunnel keeps the login";
                EXPECT_NE(sim.Control("state").find("\"tunnelUp\":false"), std::string::npos);
                return true;
            }
            return false;
        });
        (void)Start(PluginArgs(browser));
        return kStartReturned;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << ClientLogTail();
    const std::vector<rapidjson::Document> got = plugins.Packets();
    ASSERT_EQ(got.size(), 9u);

    EXPECT_EQ(Code(got[0]), 1u);
    EXPECT_EQ(std::string(got[0]["record"].GetString()), "UI_PLUGIN_LOGIN_RET_S");
    EXPECT_EQ(Num(got[0], "uiUserID"), 1001);
    EXPECT_EQ(Num(got[0], "uiSessionID"), 5001);
    EXPECT_EQ(Str(got[0], "aucCookie"), "SIMCOOKIE");
    EXPECT_EQ(Str(got[0], "acUrlLocation"), "https://192.0.2.10/portal");
    EXPECT_EQ(Num(got[0], "cFlag"), 0);
    EXPECT_EQ(Str(got[0], "cTip"), "success");
    ExpectTip(got[1], {5, 0, "host check success"});
    ExpectTip(got[2], {6, 0, "cache clear success"});
    ExpectTip(got[3], {7, 0, "cache clear success"});
    ExpectTip(got[4], {3, 0, "Cenm succed"});
    for (size_t i : {5u, 7u}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Code(got[i]), 9u);
        EXPECT_EQ(Num(got[i], "uiUserID"), 1001);
        EXPECT_EQ(Num(got[i], "uiSessionID"), 5001);
        EXPECT_EQ(Str(got[i], "aucCookie"), "SIMCOOKIE");
        EXPECT_EQ(Str(got[i], "acUserName"), "alice");
        EXPECT_EQ(Str(got[i], "acLoginAddr"), "192.0.2.10:443");
        EXPECT_EQ(Num(got[i], "ucTunnelStarted"), i == 5 ? 1 : 0);
    }
    ExpectTip(got[6], {4, 0, "stop cnem success"});
    EXPECT_TRUE(Flag(got[8], "closed")) << "the logout ends the client and sends no tip";

    const Requests sent(sim);
    const std::vector<const rapidjson::Value*> logins = sent.Of("3/5");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(Field(logins[0], "uiLoginType"), "0");
    EXPECT_EQ(Field(logins[0], "uiLanguage"), "1");
    EXPECT_EQ(Field(logins[0], "acGateway"), "192.0.2.10:443");
    EXPECT_EQ(Field(logins[0], "acUserName"), "alice");
    // After the login: only what the plugin asked for, in its order.
    const int login = sent.Index("3/5");
    const std::vector<std::string> after(sent.codes.begin() + login + 1, sent.codes.end());
    EXPECT_EQ(after, (std::vector<std::string>{"8/12", "8/13", "8/14", "5/10", "5/19", "3/8"}));
    const std::vector<const rapidjson::Value*> tunnels = sent.Of("5/10");
    ASSERT_EQ(tunnels.size(), 1u);
    EXPECT_EQ(Field(tunnels[0], "uiTunnelMode"), "2");
    EXPECT_EQ(ClientLogCount(kExitLine), 1u);
    EXPECT_EQ(ClientLogCount("Passw0rd"), 0u);
    EXPECT_EQ(ClientLogCount("SIMCOOKIE"), 0u);
}

// Started by an extension with standard output on a pipe: the proxy kept, the answers as
// frames there (the information still a packet to the plugin), and the goodbye last.
TEST(PluginRoad, ExtensionReadsItsAnswersAsFrames) {
    ui_test::Sim sim(R"("config": {"ProxyType": 1, "ProxyAddr": "10.1.1.1", "ProxyPort": 8080})", "",
                     RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    Plugins plugins(sim.Dir(), {"register login alice Passw0rd - recv 4000 req 5 recv 4000 "
                                "req 9 recv 15000 req 2 recv 15000"});
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        AnnounceThen(plugins.PortFile());
        (void)Start({"chrome-extension://abcdefghijklmnop/"});
        return kStartReturned;
    }, 120000);
    close(out[1]);
    std::string frames;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof(buf))) > 0) frames.append(buf, static_cast<size_t>(n));
    close(out[0]);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << ClientLogTail();

    std::vector<std::string> messages;
    for (size_t at = 0; at + 4 <= frames.size();) {
        uint32_t len = 0;
        for (int i = 3; i >= 0; --i) len = (len << 8) | static_cast<uint8_t>(frames[at + i]);
        messages.push_back(frames.substr(at + 4, len));
        at += 4 + len;
    }
    EXPECT_EQ(messages, (std::vector<std::string>{
        R"({"PluginRecv":{"msgType":0,"cFlag":0,"LangMode":0,"cTip":"init success"}})",
        R"({"PluginRecv":{"msgType":1,"uiUserID":1001,"uiSessionID":5001,"aucCookie":"SIMCOOKIE",)"
        R"("acUrlLocation":"https://192.0.2.10/portal","cFlag":0,"cTip":"success"}})",
        R"({"PluginRecv":{"msgType":5,"cFlag":0,"LangMode":0,"cTip":"host check success"}})",
        R"({"PluginRecv":{"msgType":2,"cFlag":0,"LangMode":0,"cTip":"logout success"}})"}));

    const std::vector<rapidjson::Document> got = plugins.Packets();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_TRUE(Flag(got[0], "timeout")) << "the login is answered on standard output only";
    EXPECT_TRUE(Flag(got[1], "timeout"));
    EXPECT_EQ(Code(got[2]), 9u);
    EXPECT_EQ(Num(got[2], "uiUserID"), 0) << "an extension's login leaves the launch record";
    EXPECT_EQ(Num(got[2], "uiSessionID"), 0);
    EXPECT_TRUE(Flag(got[3], "closed"));

    const Requests sent(sim);
    EXPECT_EQ(sent.Count("9/1"), 0u) << "an extension's start hands over no proxy to save";
    const std::string state = sim.Control("state");
    EXPECT_NE(state.find("10.1.1.1"), std::string::npos) << "the stored proxy stays";
}

// Refused and unanswered requests, and logins whose reply lacks a cookie, or fills it:
// each answered once, with the right text; a refused tunnel start logs out quietly.
TEST(PluginRoad, RefusalsAndRepliesAtTheEdgesOfTheirFields) {
    const std::string cookie64(64, 'c');
    ui_test::Sim sim(
        R"("engine": {"credentials": [)"
        R"({"user": "alice", "password": "Passw0rd", "outcome": "success", "userId": 1001, "sessionId": 5001, "cookie": "SIMCOOKIE", "url": "https://192.0.2.10/portal"},)"
        R"({"user": "nocookie", "password": "Passw0rd", "outcome": "success", "userId": 7, "sessionId": 8, "cookie": "", "url": "https://192.0.2.10/portal"},)"
        R"({"user": "wide", "password": "Passw0rd", "outcome": "success", "userId": 11, "sessionId": 12, "cookie": ")" +
            cookie64 + R"(", "url": "https://192.0.2.10/w"},)"
        R"({"user": "erin", "password": "Passw0rd", "outcome": "wrongPassword"}]},)"
        R"("scripts": [{"msgType": 3, "code": 5, "replies": [{"noReply": true}]}])",
        "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const std::string browser = FakeBrowser(sim.Dir());
    Plugins plugins(sim.Dir(), {"register req 5 recv 15000 req 3 recv 15000 drain 2500 "
                                "login alice Passw0rd - recv 15000 login erin Passw0rd - recv 15000 "
                                "login nocookie Passw0rd - recv 15000 req 9 recv 15000 "
                                "login wide Passw0rd - recv 15000 req 9 recv 15000 req 2 recv 15000"});
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        AnnounceThen(plugins.PortFile());
        (void)Start(PluginArgs(browser), 40);
        return kStartReturned;
    }, 180000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << ClientLogTail();
    const std::vector<rapidjson::Document> got = plugins.Packets();
    ASSERT_EQ(got.size(), 10u);
    ExpectTip(got[0], {5, 1, KeyText("/RETURN_EPS_MSGCODE/EPS_MSGCODE_HOSTCHECK_FAIL")});
    ExpectTip(got[1], {3, 1, KeyText("/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_START_FAIL")});
    EXPECT_TRUE(Flag(got[2], "timeout")) << "the logout after a refused tunnel start tells nothing";
    const struct {
        size_t at;
        std::string tip;
    } refusals[] = {
        {3, KeyText("/GLOBAL/OVERTIMEERROR")},
        {4, KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR")},
        {5, KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_FAIL")},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.at);
        ASSERT_FALSE(c.tip.empty());
        EXPECT_EQ(Code(got[c.at]), 1u);
        EXPECT_EQ(Num(got[c.at], "cFlag"), 1);
        EXPECT_EQ(Str(got[c.at], "cTip"), c.tip);
        EXPECT_EQ(Str(got[c.at], "aucCookie"), "");
    }
    // A success without a cookie is not taken into the launch record.
    EXPECT_EQ(Code(got[6]), 9u);
    EXPECT_EQ(Num(got[6], "uiUserID"), 0);
    EXPECT_EQ(Str(got[6], "aucCookie"), "");
    // A cookie that fills its 64 bytes is whole in the answer and in the information.
    EXPECT_EQ(Code(got[7]), 1u);
    EXPECT_EQ(Num(got[7], "cFlag"), 0);
    EXPECT_EQ(Str(got[7], "cTip"), "success");
    EXPECT_EQ(Str(got[7], "aucCookie"), cookie64);
    EXPECT_EQ(Code(got[8]), 9u);
    EXPECT_EQ(Num(got[8], "uiUserID"), 11);
    EXPECT_EQ(Num(got[8], "uiSessionID"), 12);
    EXPECT_EQ(Str(got[8], "aucCookie"), cookie64);
    EXPECT_TRUE(Flag(got[9], "closed"));

    const Requests sent(sim);
    const int start = sent.Index("5/10");
    ASSERT_GE(start, 0);
    EXPECT_EQ(sent.codes[start + 1], "3/8") << "a refused tunnel start logs out";
    EXPECT_EQ(sent.Count("3/5"), 4u);
    EXPECT_EQ(ClientLogCount("SIMCOOKIE"), 0u);
    EXPECT_EQ(ClientLogCount(cookie64), 0u);
}

// What a plugin must not be able to do: stop the client, hang it, or get answers out of
// order. Unterminated texts, unknown and empty requests, requests queued behind a slow
// one, a plugin that leaves before its answer, and a logout with a request behind it.
TEST(PluginRoad, BadInputIsAnsweredOrDroppedInOrder) {
    ui_test::Sim sim(
        R"("scripts": [{"msgType": 8, "code": 12, "replies": [{"delayMs": 1500}]},)"
        R"({"msgType": 3, "code": 5, "replies": [{"delayMs": 0}, {"delayMs": 0}, {"delayMs": 0}, {"delayMs": 1500}]}])",
        "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const std::string browser = FakeBrowser(sim.Dir());
    Plugins plugins(sim.Dir(), {
        "register login-unterminated recv 15000 req 10 head 3,2,2,1,0,0 drain 2500 "
        "req 5 req 9 login alice Passw0rd - login erin Passw0rd - "
        "recv 15000 recv 15000 recv 15000 recv 15000 login alice Passw0rd - close",
        "sleep 4000 req 9 recv 15000 req 2 req 5 recv 15000 recv 3000"});
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        AnnounceThen(plugins.PortFile());
        (void)Start(PluginArgs(browser));
        return kStartReturned;
    }, 180000);
    EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << ClientLogTail();
    const std::vector<rapidjson::Document> got = plugins.Packets();
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(Code(got[0]), 1u);
    EXPECT_EQ(Num(got[0], "cFlag"), 1) << "the empty user is refused, and told so";
    EXPECT_TRUE(Flag(got[1], "timeout")) << "unknown and empty requests get no answer";
    EXPECT_EQ(Code(got[2]), 5u);
    EXPECT_EQ(Code(got[3]), 9u);
    EXPECT_EQ(Code(got[4]), 1u);
    EXPECT_EQ(Num(got[4], "cFlag"), 0);
    EXPECT_EQ(Str(got[4], "cTip"), "success");
    EXPECT_EQ(Code(got[5]), 1u);
    EXPECT_EQ(Num(got[5], "cFlag"), 1);
    EXPECT_EQ(Str(got[5], "cTip"), KeyText("/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_USERPASSWD_ERROR"));
    EXPECT_TRUE(Flag(got[6], "next"));
    EXPECT_EQ(Code(got[7]), 9u) << "a new plugin is served";
    EXPECT_EQ(Str(got[7], "acUserName"), "alice");
    EXPECT_TRUE(Flag(got[8], "closed")) << "the logout ends the client";
    for (size_t i = 7; i < got.size(); ++i) {
        EXPECT_NE(Code(got[i]), 5u) << "the host check behind the logout is not answered";
    }

    const Requests sent(sim);
    std::vector<std::string> users;
    for (const rapidjson::Value* login : sent.Of("3/5")) {
        users.push_back(Field(login, "acUserName"));
        if (users.size() == 1) {
            EXPECT_EQ(Field(login, "acPassword"), "");
        }
    }
    EXPECT_EQ(users, (std::vector<std::string>{"", "alice", "erin", "alice"}));
    EXPECT_EQ(sent.Count("8/12"), 1u) << "the host check behind the logout never ran";
    EXPECT_GE(ClientLogCount("[Plugin thread run][message type is 0]"), 2u);
    EXPECT_EQ(ClientLogCount("[Loginkey ui plugin login][send login ret to plugin failed]"), 1u);
    EXPECT_EQ(ClientLogCount(kExitLine), 1u);
}

// The start's launch failed: a later login runs the launch again and is answered; when
// that launch fails too, its own tip answers the login, and the next good launch runs
// only the login that asked for it.
TEST(PluginRoad, LoginAfterAFailedStartRunsTheLaunch) {
    const struct {
        const char* what;
        int failures;
        const char* steps;
        std::vector<std::string> expectedAnswers;  // "code flag" of each packet with code 1
    } cases[] = {
        {"the start's launch failed once", 1,
         "register login alice Passw0rd - recv 15000 drain 2500 req 2 recv 15000", {"1 0"}},
        {"the login's launch failed too", 2,
         "register login alice Passw0rd - recv 15000 login alice Passw0rd - recv 15000 drain 2500 "
         "req 2 recv 15000", {"1 4294967295", "1 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string replies;
        for (int i = 0; i < c.failures; ++i) replies += std::string(i ? "," : "") + R"({"code": "0x1000D"})";
        ui_test::Sim sim(R"("scripts": [{"msgType": 1, "code": 4, "replies": [)" + replies + "]}]", "",
                         RPC_SERVICE_PORT);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        const std::string browser = FakeBrowser(sim.Dir());
        Plugins plugins(sim.Dir(), {c.steps});
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            vt_qt_test::BoxDriver driver;
            driver.ArmForNextApplication();
            AnnounceThen(plugins.PortFile());
            (void)Start(PluginArgs(browser));
            return kStartReturned;
        }, 120000);
        EXPECT_TRUE(vt_test::ExitedWith(r, 0)) << ClientLogTail();
        const std::vector<rapidjson::Document> got = plugins.Packets();
        std::vector<std::string> answers;
        for (const rapidjson::Document& p : got) {
            if (Code(p) == 1) answers.push_back("1 " + std::to_string(Num(p, "cFlag")));
        }
        EXPECT_EQ(answers, c.expectedAnswers);
        if (c.failures == 2 && !got.empty()) {
            // An ordinary text: flag -1, which the record carries unsigned.
            ExpectTip(got[0], {1, 0xFFFFFFFF, KeyText("/RETURN_PREF_MSGCODE/PREF_MSGCODE_PROXY_CONNECT_ERROR")});
        }
        ASSERT_GE(got.size(), 2u);
        EXPECT_TRUE(Flag(got[got.size() - 2], "timeout")) << "no stale login is answered later";
        EXPECT_TRUE(Flag(got.back(), "closed"));
        const Requests sent(sim);
        EXPECT_EQ(sent.Count("1/4"), static_cast<size_t>(c.failures + 1));
        EXPECT_EQ(sent.Count("3/5"), 1u);
    }
}

// The proxy a plugin hands over at the start is stored before the launch: the kind up to
// the first colon, the address after it.
TEST(PluginRoad, StartProxyIsStoredBeforeTheLaunch) {
    const struct {
        const char* value;
        uint32_t type;
        const char* address;
        uint32_t port;
        const char* user;
    } cases[] = {
        {"NoProxy", 0, "", 0, ""},
        {"Https:127.0.0.1:3128", 3, "127.0.0.1", 3128, "pu"},
        {"Socks5:10.0.0.9:1080", 2, "10.0.0.9", 1080, "pu"},
        {"Ftp:10.0.0.9:21", 4, "10.0.0.9", 21, "pu"},
        {"proxyhost:8080", 4, "proxyhost", 8080, "pu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ui_test::Sim sim(R"("config": {"ProxyType": 4, "ProxyAddr": "old.example", "ProxyPort": 1, "ProxyUser": "pu", "ProxyPwd": "pp"})",
                         "", RPC_SERVICE_PORT);
        ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
        const std::string browser = FakeBrowser(sim.Dir());
        const vt_test::ChildResult r = vt_test::RunInChild([&] {
            vt_qt_test::BoxDriver driver;
            driver.ArmForNextApplication();
            InLoop([] {
                if (StartUp()) _exit(kStopped);
                return false;
            });
            (void)Start(PluginArgs(browser, c.value));
            return kStartReturned;
        }, 60000);
        EXPECT_TRUE(vt_test::ExitedWith(r, kStopped)) << ClientLogTail();
        const Requests sent(sim);
        const int write = sent.Index("9/1");
        const int launch = sent.Index("1/4");
        ASSERT_GE(write, 0);
        EXPECT_LT(write, launch);
        EXPECT_EQ(sent.Count("9/1"), 1u);
        const rapidjson::Value* fields = &(*sent.lines[write])["fields"];
        EXPECT_EQ(Field(fields, "ProxyType"), std::to_string(c.type));
        EXPECT_EQ(Field(fields, "ProxyAddr"), c.address);
        EXPECT_EQ(Field(fields, "ProxyPort"), std::to_string(c.port));
        EXPECT_EQ(Field(fields, "ProxyUser"), c.user);
        if (std::string(c.value) == "NoProxy") {
            EXPECT_EQ(Field(fields, "ProxyPwd"), "");
        }
        EXPECT_EQ(ClientLogCount("[Main ui plugin init][into main ui plugin init]"), 1u);
        EXPECT_EQ(ClientLogCount("[Main ui plugin init][finish main ui plugin init]"), 1u);
    }
}

// The tray's Show main window opens the gateway's page in the browser the plugin named:
// the host of the login address, with or without its port.
TEST(PluginRoad, ShowMainWindowOpensTheGatewayPageInTheBrowser) {
    ui_test::Sim sim("", "", RPC_SERVICE_PORT);
    ASSERT_TRUE(sim.Started()) << sim.Diagnostics();
    const std::string browser = FakeBrowser(sim.Dir());
    const std::string argsFile = sim.Dir() + "/browser-args";
    const vt_test::ChildResult r = vt_test::RunInChild([&] {
        vt_qt_test::BoxDriver driver;
        driver.ArmForNextApplication();
        InLoop([&argsFile, round = 0, deadline = int64_t(0)]() mutable {
            if (!StartUp()) return false;
            const char* addresses[] = {"192.0.2.10:443", "gw.example"};
            const char* expected[] = {"https://192.0.2.10/index.html\n",
                                      "https://gw.example/index.html\n"};
            if (deadline == 0) {
                UIPLUGIN_INFO_S* info = UIContext::GetInstance()->GetPluginInfo();
                std::memset(info->acLoginAddr, 0, sizeof(info->acLoginAddr));
                std::memcpy(info->acLoginAddr, addresses[round], std::strlen(addresses[round]));
                QAction* show = nullptr;
                for (QAction* a : StartedWindow()->findChildren<QAction*>()) {
                    if (a->text() == LanguageSetting::GetInstance()->GetValue("/UI_MAIN/UI_MAIN_SHOW_MAINUI")) show = a;
                }
                EXPECT_NE(show, nullptr);
                if (show == nullptr) _exit(kStopped);
                show->trigger();
                deadline = NowMs() + 10000;
                return false;
            }
            std::ifstream in(argsFile);
            if (!in) {
                if (NowMs() > deadline) {
                    ADD_FAILURE() << "the browser was not started";
                    _exit(kStopped);
                }
                return false;
            }
            std::stringstream text;
            text << in.rdbuf();
            EXPECT_EQ(text.str(), expected[round]);
            EXPECT_FALSE(StartedWindow()->isVisible()) << "a browser's client shows no window";
            std::remove(argsFile.c_str());
            deadline = 0;
            if (++round == 2) _exit(kStopped);
            return false;
        });
        (void)Start(PluginArgs(browser));
        return kStartReturned;
    }, 60000);
    EXPECT_TRUE(vt_test::ExitedWith(r, kStopped)) << ClientLogTail();
    EXPECT_EQ(ClientLogCount("[Main ui plugin show main][gate dir is https://gw.example/index.html]"), 1u);
}

}  // namespace
