#pragma once
// The package server for update downloads: HTTPS on a loopback port, with a key and
// a self-signed certificate made at start (never stored). Each configured path is
// served in one of several modes, the well-behaved one and the ways a gateway can
// fail a download (head and body in one write, a split head, no length, 404, a
// compressed body, a close in the middle of the body, a stall).

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim_scenario.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace sim {

class HttpsServer {
public:
    // Receives one JSON line per request: {"conn":"https","path":...,"request":...}.
    using LogFn = std::function<void(const std::string& path, const std::string& request,
                                     const std::string& mode)>;

    HttpsServer() = default;
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    bool Start(uint16_t port, std::vector<HttpsFile> files, LogFn log, std::string* error);
    uint16_t Port() const { return port_; }
    // Ends every transfer at once (stalls included) and joins the threads.
    void Stop();

    // Workers started with the server, and the most it ever has: connections beyond
    // that wait in the listen queue.
    static constexpr size_t kInitialWorkers = 4;
    static constexpr size_t kMaxWorkers = 16;

private:
    // Connections are served by worker threads that stay for the next connection, so
    // that threads (and their stacks) never pile up however many requests come. A
    // few are there from the start, so that a client that opens its next connection
    // while the last one is still being wound up finds one idle; more are added only
    // when a connection finds none idle.
    void AcceptLoop();
    void WorkerLoop();
    void Serve(int fd);
    bool Wait(int ms);  // -1: until stopped; false when the server is stopping

    SSL_CTX* ctx_ = nullptr;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};   // written once, at stop: ends every wait
    int idle_[2] = {-1, -1};   // a byte each time a worker turns idle: wakes the accept loop
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<HttpsFile> files_;
    LogFn log_;
    std::thread acceptThread_;
    std::mutex mu_;
    std::condition_variable work_;       // a connection waits in queue_, or stop
    std::deque<int> queue_;              // accepted, not yet taken; under mu_
    std::set<int> active_;               // being served; under mu_
    std::vector<std::thread> workers_;   // under mu_
    size_t idleWorkers_ = 0;             // under mu_
};

// A gzip stream of the data in stored (uncompressed) deflate blocks: what a gateway
// sends when it applies "Content-Encoding: gzip".
std::string GzipStored(const std::string& data);

}  // namespace sim
