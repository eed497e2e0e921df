#pragma once
// A TLS server on a free loopback port for the download client's tests and benchmark:
// a P-256 key and a self-signed certificate made when it starts, never stored. Each
// connection has its request head read and then gets the reply set last, sent the way
// that reply says (head and body in one write, head apart, head split, connection
// dropped in the middle of the body). Connections are served one at a time on a thread
// of the server's own, which never raises SIGPIPE.
//
// Needs only OpenSSL and the standard library, so that a benchmark can build it too.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct ssl_ctx_st SSL_CTX;

namespace ui_test {

struct TlsReply {
    enum class Send {
        kOneWrite,      // the head and the start of the body in one write (one record)
        kHeadApart,     // the head in a write of its own, then the body
        kSplitHead,     // the head's first splitAt bytes alone, a pause, then the rest
        kCloseMidBody,  // head, closeAfter body bytes, then the connection dropped
                        // without a TLS close
    };
    std::string head;  // status line to the empty line, as sent
    std::string body;
    Send send = Send::kOneWrite;
    size_t splitAt = 10;
    size_t closeAfter = 0;
    int pauseMs = 0;  // kHeadApart: pause between the head and the body
};

class TlsPeer {
public:
    TlsPeer();
    ~TlsPeer();
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // The reply of every connection accepted from now on.
    void SetReply(TlsReply reply);
    // The request head of the latest connection that sent one (empty when none did).
    std::string LastRequest() const;
    // Connections served to their end so far.
    size_t Served() const;

    // A 200 reply head with Content-Length, and one without.
    static std::string OkHead(size_t length);

private:
    void AcceptLoop();
    void Serve(int fd);

    SSL_CTX* ctx_ = nullptr;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    mutable std::mutex mu_;
    std::shared_ptr<const TlsReply> reply_;  // under mu_
    std::string lastRequest_;                // under mu_
    size_t served_ = 0;                      // under mu_
    int active_ = -1;                        // under mu_: the connection being served
    bool stop_ = false;                      // under mu_
    std::thread thread_;
};

}  // namespace ui_test
