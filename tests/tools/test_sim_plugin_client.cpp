// The plugin client against a stand-in for the front end's plugin listener: what it
// sends for each step, how it prints what it receives, and its misbehaviours.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "sim_test_support.h"

namespace {

using namespace simtest;

class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (conn_ >= 0) ::close(conn_);
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    bool Accept(int ms = 3000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return false;
        conn_ = ::accept(fd_, nullptr, nullptr);
        return conn_ >= 0;
    }
    // Reads exactly n bytes (fewer when the client closes first).
    Bytes Read(size_t n, int ms = 3000) {
        Bytes out;
        while (out.size() < n) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0) break;
            uint8_t buf[4096];
            ssize_t r = ::recv(conn_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r <= 0) break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    void Write(const Bytes& b) { ASSERT_EQ(::send(conn_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }

private:
    int fd_ = -1, conn_ = -1;
    uint16_t port_ = 0;
};

struct ClientOutput {
    int status = -1;
    std::vector<rapidjson::Document> lines;
};

// Starts the client; the caller plays the listener; Finish collects its output.
class ClientRun {
public:
    explicit ClientRun(const std::vector<std::string>& args) {
        int p[2];
        EXPECT_EQ(::pipe(p), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(p[1], 1);
            ::close(p[0]);
            std::vector<char*> argv{const_cast<char*>("sim-plugin-client")};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(SIM_PLUGIN_CLIENT_BIN, argv.data());
            ::_exit(127);
        }
        ::close(p[1]);
        out_ = p[0];
        reader_ = std::thread([this] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(out_, buf, sizeof buf)) > 0) text_.append(buf, size_t(n));
        });
    }
    ClientOutput Finish() {
        ClientOutput r;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reader_.join();
        ::close(out_);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        size_t pos = 0, nl;
        while ((nl = text_.find('\n', pos)) != std::string::npos) {
            rapidjson::Document d;
            d.Parse(text_.substr(pos, nl - pos).c_str());
            EXPECT_FALSE(d.HasParseError()) << text_.substr(pos, nl - pos);
            r.lines.push_back(std::move(d));
            pos = nl + 1;
        }
        return r;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::thread reader_;
    std::string text_;
};

std::string Str(const Bytes& b, size_t off) { return std::string(reinterpret_cast<const char*>(&b[off])); }

TEST(SimPluginClient, RegistersLogsInAndPrintsAnswers) {
    Listener l;
    ClientRun run({"--port", std::to_string(l.port()), "--scan", "1", "register", "login",
                   "alice", "pw", "-", "recv", "3000", "recv", "3000", "recv", "3000",
                   "recv", "100"});
    ASSERT_TRUE(l.Accept());
    Bytes reg = l.Read(24);
    EXPECT_EQ(ToHex(reg), "000000030000000200000002000000010000000000000000");
    Bytes login = l.Read(24 + 768);
    ASSERT_EQ(login.size(), 24u + 768);
    EXPECT_EQ(Get32(login, 16), 1u);
    EXPECT_EQ(Get32(login, 20), 768u);
    EXPECT_EQ(Str(login, 24), "alice");
    EXPECT_EQ(Str(login, 24 + 384), "pw");
    EXPECT_EQ(login[24 + 512], 0);

    // Login result, a tip and the information record, built by hand.
    Bytes ret(2124, 0);
    Put32(ret, 0, 0x80000001u);
    Put32(ret, 4, 77);
    std::string cookie = "CK", url = "https://gw/portal", tip = "success";
    std::copy(cookie.begin(), cookie.end(), ret.begin() + 8);
    std::copy(url.begin(), url.end(), ret.begin() + 72);
    std::copy(tip.begin(), tip.end(), ret.begin() + 1100);
    l.Write(Packet(2, 3, 2, 1, 1, ret));
    Bytes tipRec(1028, 0);
    Put32(tipRec, 0, 0xFFFFFFFFu);
    std::string text = "Cenm succed";
    std::copy(text.begin(), text.end(), tipRec.begin() + 4);
    l.Write(Packet(2, 3, 2, 1, 3, tipRec));
    Bytes info(2032, 0);
    info[968] = 1;
    l.Write(Packet(2, 3, 2, 1, 9, info));

    ClientOutput r = run.Finish();
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_STREQ(r.lines[0]["record"].GetString(), "UI_PLUGIN_LOGIN_RET_S");
    EXPECT_EQ(r.lines[0]["fields"]["uiUserID"].GetUint(), 0x80000001u);
    EXPECT_EQ(r.lines[0]["fields"]["uiSessionID"].GetUint(), 77u);
    EXPECT_STREQ(r.lines[0]["fields"]["aucCookie"].GetString(), "CK");
    EXPECT_STREQ(r.lines[0]["fields"]["cTip"].GetString(), "success");
    EXPECT_EQ(r.lines[1]["head"]["code"].GetUint(), 3u);
    EXPECT_STREQ(r.lines[1]["record"].GetString(), "PluginTip");
    EXPECT_EQ(r.lines[1]["fields"]["cFlag"].GetUint(), 0xFFFFFFFFu);
    EXPECT_STREQ(r.lines[1]["fields"]["cTip"].GetString(), "Cenm succed");
    EXPECT_STREQ(r.lines[2]["record"].GetString(), "PluginInfo");
    EXPECT_EQ(r.lines[2]["fields"]["ucTunnelStarted"].GetUint(), 1u);
    EXPECT_TRUE(r.lines[3]["timeout"].GetBool());
}

TEST(SimPluginClient, Misbehaviours) {
    Listener l;
    ClientRun run({"--port", std::to_string(l.port()), "login-unterminated", "req", "6",
                   "hex:0102", "head", "3,5,2,1,9,0", "huge", "4"});
    ASSERT_TRUE(l.Accept());
    Bytes login = l.Read(24 + 768);
    ASSERT_EQ(login.size(), 24u + 768);
    EXPECT_EQ(Get32(login, 20), 768u);
    EXPECT_EQ(std::count(login.begin() + 24, login.end(), 0), 0) << "no terminator anywhere";
    Bytes req = l.Read(26);
    EXPECT_EQ(ToHex(req), "0000000300000002000000020000000100000006000000020102");
    Bytes head = l.Read(24);
    EXPECT_EQ(ToHex(head), "000000030000000500000002000000010000000900000000");
    Bytes huge = l.Read(100, 1000);
    ASSERT_EQ(huge.size(), 40u) << "a head announcing 0xFFFFFFF0 bytes, then 16 only";
    EXPECT_EQ(Get32(huge, 20), 0xFFFFFFF0u);
    EXPECT_EQ(Get32(huge, 16), 4u);
    EXPECT_EQ(run.Finish().status, 0);
}

TEST(SimPluginClient, SilentConnectionScanAndNoListener) {
    {   // Connecting and sending nothing at all.
        Listener l;
        ClientRun run({"--port", std::to_string(l.port()), "sleep", "200", "recv", "50"});
        ASSERT_TRUE(l.Accept());
        EXPECT_TRUE(l.Read(1, 500).empty());
        ClientOutput r = run.Finish();
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_TRUE(r.lines[0]["timeout"].GetBool());
    }
    {   // The listener one port up is found; its close is reported.
        auto l = std::make_unique<Listener>();
        uint16_t below = uint16_t(l->port() - 1);
        {
            Client probe;
            if (probe.Connect(below)) GTEST_SKIP() << "port below the listener is in use";
        }
        ClientRun run({"--port", std::to_string(below), "--scan", "2", "recv", "3000"});
        ASSERT_TRUE(l->Accept());
        l.reset();   // the listener goes away, closing the connection
        ClientOutput r = run.Finish();
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_TRUE(r.lines[0]["closed"].GetBool());
    }
    {   // Nothing listening.
        uint16_t port = FreePort();
        ClientRun run({"--port", std::to_string(port), "--scan", "1", "register"});
        EXPECT_EQ(run.Finish().status, 1);
    }
}

}  // namespace
