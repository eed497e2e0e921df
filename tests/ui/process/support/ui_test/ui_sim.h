#pragma once
// Shared fixtures of the service link's tests: the platform started with the log named
// for the test process, a reader of that log, the service simulator started as a child
// on free ports under its tool name, the front end's three service connections opened
// to it through the link's own functions, and a bare loopback peer for misbehaviour
// the simulator cannot script.

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "vt_test/temp_env.h"

namespace ui_test {

// Starts the platform once per process (private HOME), names the log "uitest" and puts
// the exchange time-outs back to their real length. Call first in every test.
void LinkSetUp();

// Every line of this process's log files so far.
std::vector<std::string> LogLines();
// The requests on the synchronous connection of a simulator's request log, from the
// given line on, as "type/code" (the connection's greetings left out).
std::vector<std::string> RequestCodes(const std::vector<rapidjson::Document>& log, size_t from = 0);
// Lines that contain the fragment.
size_t LogCount(const std::string& fragment);
// Lines whose text (what follows the prefix of module, level, time stamp and user) holds
// the fragment. For secrets made of digits: a time stamp's microseconds can spell them.
size_t LogTextCount(const std::string& fragment);
// The time stamp of a program log line ("YYYY-MM-DD hh:mm:ss.uuuuuu" in its prefix) in
// microseconds, on a scale on which only differences count; -1 when the line has none.
int64_t LogLineTimeUs(const std::string& line);

// The simulator program in a child process, under a scenario of its own. The scenario
// always names the request log, the ports file and a control port, and the promote side
// listens on a free port; members given here are added (promote members too).
class Sim {
public:
    // promote: members of "promote" beside "port", e.g. R"("portReply":{"code":"0x10007"})".
    // extra: further top-level members, e.g. R"("scripts":[...])".
    // promotePort: 0 for a free port; a start function under test needs the service's
    // fixed one (its test then holds that port's lock).
    explicit Sim(const std::string& extra = "", const std::string& promote = "",
                 uint16_t promotePort = 0);
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    bool Started() const { return started_; }
    std::string Diagnostics() const;  // what the simulator wrote to standard error
    uint16_t Port(const char* which) const;  // "promote", "engine", "control"
    std::string Control(const std::string& command);  // one command, its answer line
    std::vector<rapidjson::Document> Log() const;     // the request log, parsed
    bool WaitLog(size_t lines, int timeoutMs = 5000) const;
    const std::string& Dir() const { return env_.Tmp(); }

private:
    vt_test::TempEnv env_;
    pid_t pid_ = -1;
    bool started_ = false;
    rapidjson::Document ports_;
};

// A simulator with the front end's connections open: the promote connection (port
// request answered), then the engine's synchronous and asynchronous connections with
// their greetings, all in the link's table. The table is closed and emptied on the way
// out.
class SimLink {
public:
    explicit SimLink(const std::string& extra = "", const std::string& promote = "");
    ~SimLink();
    // true when all three connections are open and the simulator has seen the greetings.
    bool Connected() const { return connected_; }
    Sim& sim() { return sim_; }
    int32_t SyncFd() const { return syncFd_; }
    int32_t AsyncFd() const { return asyncFd_; }
    int32_t PromoteFd() const { return promoteFd_; }

private:
    Sim sim_;
    bool connected_ = false;
    int32_t promoteFd_ = -1, syncFd_ = -1, asyncFd_ = -1;
};

// A loopback listener on a free port and the peer end of what connects to it.
class Peer {
public:
    Peer();
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    uint16_t Port() const { return port_; }
    // Accepts the next connection (waits at most timeoutMs); false when none came.
    bool Accept(int timeoutMs = 5000);
    int Fd() const { return conn_; }
    void Send(const std::vector<uint8_t>& bytes);
    void CloseConn();

private:
    int listen_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
};

// A packet built byte by byte in network order, independent of the link's own writer.
std::vector<uint8_t> Packet(uint32_t source, uint32_t dest, uint32_t type, uint32_t msgType,
                            uint32_t code, const std::vector<uint8_t>& payload = {});
// The bytes of a hex text (the request log's "hex").
std::vector<uint8_t> Hex(const std::string& hex);
// A head announcing len payload bytes, with nothing after it.
std::vector<uint8_t> Head(uint32_t code, uint32_t len);

// Waits until the socket has bytes to read (or the peer closed); false on time-out.
bool WaitReadable(int fd, int timeoutMs = 5000);

// A bind for the plugin listener's seam (uiPluginBindSet) that takes a free loopback port
// in place of the fixed first one: the plugins of other tests look for a listener there
// and must never find the one of a client under test.
int32_t BindAnyPort(int32_t fd, const struct sockaddr* addr, socklen_t len);

}  // namespace ui_test
