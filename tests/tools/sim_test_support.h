#pragma once
// Helpers for the simulator's tests: starting the simulator program as a child with
// its own scenario, reading its ports file and request log, and a minimal client
// that speaks the packet protocol. The client builds heads with its own big-endian
// writer, so a fault in the simulator's codec cannot hide behind a shared one.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace simtest {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t off, uint32_t v);   // big-endian
uint32_t Get32(const Bytes& b, size_t off);     // big-endian
void PutLE(Bytes& b, size_t off, uint32_t v);   // little-endian
uint32_t GetLE(const Bytes& b, size_t off);     // little-endian
// A text put at a fixed offset (the field is left as it was after it).
void PutText(Bytes& b, size_t off, const std::string& s);
// The text of a fixed field: up to its first zero byte, never beyond its width.
std::string TextAt(const Bytes& b, size_t off, size_t width);
Bytes Packet(uint32_t src, uint32_t dst, uint32_t type, uint32_t msgType, uint32_t code,
             const Bytes& payload = {});
Bytes Hex(const std::string& hex);
std::string ToHex(const Bytes& b);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// A port that nothing listens on right now.
uint16_t FreePort();

struct Head {
    uint32_t source = 0, dest = 0, type = 0, msgType = 0, code = 0, len = 0;
};

class Client {
public:
    Client() = default;
    explicit Client(uint16_t port);   // connects or fails the test
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connect(uint16_t port);
    int fd() const { return fd_; }
    void Send(const Bytes& b);
    // Reads one packet; false on time-out or end of stream.
    bool Recv(Head* h, Bytes* payload, int timeoutMs = 3000);
    // Reads exactly n bytes; false on time-out or end of stream (what came is in out).
    bool RecvBytes(size_t n, Bytes* out, int timeoutMs = 3000);
    // True when the peer closes (orderly) within the time; *reset set for an RST.
    bool WaitClosed(int timeoutMs, bool* reset = nullptr);
    // True when nothing at all arrives within the time.
    bool Silent(int timeoutMs);
    std::string Line(int timeoutMs = 3000);   // control channel: one line

private:
    int fd_ = -1;
    Bytes buffered_;
};

// The simulator program running in a child process.
class SimProcess {
public:
    // scenarioJson may use the placeholder @DIR@ for the test's temporary folder. A
    // scenario that names no state file of its own gets "state": null, so that every
    // start begins from the scenario alone; State::kDefaultFile leaves the scenario as
    // it is, so that the default state file of the home folder is used.
    enum class State { kFresh, kDefaultFile };
    explicit SimProcess(const std::string& scenarioJson, const std::string& dir,
                        State state = State::kFresh);
    ~SimProcess();
    bool Started() const { return started_; }
    // What the simulator wrote to its standard error (for failure messages).
    std::string Diagnostics() const;
    pid_t pid() const { return pid_; }
    uint16_t Port(const char* which) const;   // "promote", "engine", "control", "https"
    // Sends SIGTERM and waits; returns the exit status (-1 on a signal or time-out).
    int Stop(int timeoutMs = 5000);
    // The exit status when the program ended before it was ready (-1 otherwise).
    int EarlyStatus() const { return earlyStatus_; }
    // Waits for the process to end by itself; -1 on time-out.
    int WaitExit(int timeoutMs);
    // Lines of the request log, parsed.
    std::vector<rapidjson::Document> Log() const;
    // Waits until the log holds at least n lines.
    bool WaitLog(size_t n, int timeoutMs = 3000) const;
    std::string Control(const std::string& command);   // one command, its reply line

private:
    std::string dir_;
    pid_t pid_ = -1;
    bool started_ = false;
    int earlyStatus_ = -1;
    rapidjson::Document ports_;
};

// The front end's side of the set-up: the port request on the promote port, then the
// engine's two connections with their greetings.
struct Link {
    Client promote, sync, async;
    uint16_t enginePort = 0;

    void Open(SimProcess& sim);
    // One request on the synchronous connection, as the front end sends it, and its
    // reply; false (and a test failure) when none comes.
    bool Ask(uint32_t msgType, uint32_t code, const Bytes& payload, Head* h, Bytes* reply);
};

// Writes the scenario JSON with @DIR@ replaced.
std::string Subst(const std::string& text, const std::string& dir);

}  // namespace simtest
