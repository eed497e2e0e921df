#pragma once
// The package server for update downloads: HTTPS on a loopback port, with a key and
// a self-signed certificate made at start (never stored). Each configured path is
// served in one of several modes, the well-behaved one and the ways a gateway can
// fail a download (head and body in one write, a split head, no length, 404, a
// compressed body, a close in the middle of the body, a stall).

#include <atomic>
#include <cstdint>
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

private:
    void AcceptLoop();
    void Serve(int fd);
    bool Wait(int ms);  // -1: until stopped; false when the server is stopping

    SSL_CTX* ctx_ = nullptr;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<HttpsFile> files_;
    LogFn log_;
    std::thread acceptThread_;
    std::mutex mu_;
    std::vector<std::thread> workers_;
    std::set<int> active_;
};

// A gzip stream of the data in stored (uncompressed) deflate blocks: what a gateway
// sends when it applies "Content-Encoding: gzip".
std::string GzipStored(const std::string& data);

}  // namespace sim
