#pragma once
// The simulator's event loop: one thread, poll() over the promote listener, the
// engine listener, the control listener and every connection. Replies leave each
// connection in order through a small pipeline of timed steps, so that delays,
// trickled bytes and closes happen exactly where a scenario puts them.

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include "sim_engine.h"
#include "sim_https.h"
#include "sim_scenario.h"
#include "sim_state.h"

namespace sim {

// The request log: one JSON object per line, flushed line by line.
class RequestLog {
public:
    bool Open(const std::string& path);
    // False when the scenario asked for no log: callers then skip building the line.
    bool IsOpen() const { return f_ != nullptr; }
    void Write(const rapidjson::Value& line);
    ~RequestLog();

private:
    std::mutex mu_;
    FILE* f_ = nullptr;
    rapidjson::StringBuffer line_;
};

class Server {
public:
    explicit Server(Scenario scenario);
    ~Server();
    // Once every listener is up, notes go to the simulator's own log file instead of
    // the standard error it inherited (see OwnLogPath), and standard input and output
    // to /dev/null: a simulator left in the background then holds nothing of the
    // terminal or pipe of whoever started it. Call before Run.
    void DetachOnceUp() { detach_ = true; }
    // Runs until SIGTERM or SIGINT (or the scenario's exit time); returns the status.
    int Run();
    // $HOME/.VanTrelo/log/service-sim.log; empty without HOME.
    static std::string OwnLogPath();

private:
    enum class Role { kPromote, kEngine, kSync, kAsync, kControl };
    struct Pending {
        OutStep step;
        int64_t readyAt = -1;   // armed when the step reaches the head of the pipeline
        size_t trickled = 0;
    };
    struct Conn {
        int fd = -1;
        Role role = Role::kEngine;
        Bytes in;
        Bytes out;
        std::deque<Pending> pipeline;
        size_t pipelineBytes = 0;   // bytes of the steps in the pipeline
        bool dead = false;
        bool portAnswered = false;
        uint64_t id = 0;
    };
    struct Timed {
        int64_t at;
        uint64_t connId;
        Bytes bytes;
    };
    struct ScheduledEvent {
        int64_t at;
        std::string conn;   // "async" or "promote"
        Bytes bytes;
    };
    // Events a request caused, held until its reply has left the connection it came on.
    struct AfterReply {
        uint64_t connId;
        std::vector<uint32_t> codes;
    };

    bool Listen(uint16_t port, int* fd, uint16_t* bound, std::string* err);
    void Accept(int listenFd, Role role);
    void ReadConn(Conn& c);
    void HandleInput(Conn& c);
    void WriteConn(Conn& c);
    void Advance(Conn& c, int64_t now);
    void Enqueue(Conn& c, Plan plan, int64_t now);
    // Adds bytes to the connection's output and sends what it can; false when the
    // connection is gone, or was closed for holding too much unread output.
    bool Append(Conn& c, const Bytes& bytes);
    // Closes (and logs) a connection whose peer leaves too much output unread.
    bool OverLimit(Conn& c);
    void HandlePacket(Conn& c, const PacketHead& head, const Bytes& payload);
    void HandleControlLine(Conn& c, const std::string& line);
    void LogPacket(const Conn& c, const PacketHead& head, const Bytes& payload);
    void LogHttps(const std::string& path, const std::string& request, const std::string& mode);
    void Drop(Conn& c, bool reset);
    Conn* Find(uint64_t id);
    Conn* Current(const std::string& which);
    void ArmEvents(const std::string& which, int64_t now);
    // Sends the held events of every reply that is wholly out.
    void SendAfterReplies();
    Bytes EventPacket(const std::string& which, const ScriptedPacket& p) const;
    void RunUpdate(const Record& update);
    void Reap();
    bool WritePortsFile(std::string* err);
    std::string PortsJson() const;
    static const char* RoleName(Role r);

    // The engine's answer to a request; what it changed of the kept state is saved.
    Plan Answer(const PacketHead& head, const Bytes& payload);
    void Detach();

    Scenario sc_;
    Engine engine_;
    StateFile state_;
    bool detach_ = false;
    RequestLog log_;
    HttpsServer https_;
    int promoteFd_ = -1, engineFd_ = -1, controlFd_ = -1;
    uint16_t promotePort_ = 0, enginePort_ = 0, controlPort_ = 0;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::vector<Timed> late_;
    std::vector<ScheduledEvent> events_;
    std::vector<AfterReply> afterReplies_;
    uint64_t nextId_ = 1;
    uint64_t promoteId_ = 0, syncId_ = 0, asyncId_ = 0;
    bool asyncArmed_ = false, promoteArmed_ = false;
    // The promote connection whose port reply is still on its way: its events are
    // timed from the moment the reply is out, so they never precede or split it.
    uint64_t promoteArmAfterReply_ = 0;
    int64_t start_ = 0;
};

int64_t NowMs();

}  // namespace sim
