// A loopback TLS server with a fresh self-signed certificate, for the download client.

#include "ui_test/tls_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace ui_test {

namespace {

// Body bytes that go out together with the head in the first write, and the size of
// each later write.
constexpr size_t kFirstChunk = 8 * 1024;
constexpr size_t kChunk = 256 * 1024;

bool MakeIdentity(SSL_CTX* ctx) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    bool ok = key != nullptr && cert != nullptr;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(ctx, cert) == 1 &&
             SSL_CTX_use_PrivateKey(ctx, key) == 1;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

bool WriteAll(SSL* ssl, const char* data, size_t len) {
    while (len > 0) {
        const int n = SSL_write(ssl, data, static_cast<int>(std::min<size_t>(len, 1u << 30)));
        if (n <= 0) {
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteBody(SSL* ssl, const std::string& body, size_t from, size_t to) {
    for (size_t off = from; off < to; off += kChunk) {
        if (!WriteAll(ssl, body.data() + off, std::min(kChunk, to - off))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string TlsPeer::OkHead(size_t length) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

TlsPeer::TlsPeer() {
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (ctx_ == nullptr || !MakeIdentity(ctx_) || ::pipe2(wake_, O_CLOEXEC) != 0) {
        return;
    }
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread(&TlsPeer::AcceptLoop, this);
}

TlsPeer::~TlsPeer() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
        if (active_ >= 0) {
            ::shutdown(active_, SHUT_RDWR);
        }
    }
    if (wake_[1] >= 0) {
        const char c = 1;
        (void)!::write(wake_[1], &c, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (int fd : {listen_, wake_[0], wake_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    SSL_CTX_free(ctx_);
}

void TlsPeer::SetReply(TlsReply reply) {
    auto shared = std::make_shared<const TlsReply>(std::move(reply));
    std::lock_guard<std::mutex> lock(mu_);
    reply_ = std::move(shared);
}

std::string TlsPeer::LastRequest() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lastRequest_;
}

size_t TlsPeer::Served() const {
    std::lock_guard<std::mutex> lock(mu_);
    return served_;
}

void TlsPeer::AcceptLoop() {
    // A client that goes away mid-reply must fail a write, not end the test program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (true) {
        pollfd p[2] = {{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            continue;
        }
        if (p[0].revents != 0) {
            return;
        }
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (stop_) {
                ::close(fd);
                return;
            }
            active_ = fd;
        }
        Serve(fd);
        std::lock_guard<std::mutex> lock(mu_);
        active_ = -1;
        ::close(fd);
        ++served_;
    }
}

void TlsPeer::Serve(int fd) {
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    std::shared_ptr<const TlsReply> reply;
    {
        std::lock_guard<std::mutex> lock(mu_);
        reply = reply_;
    }
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    bool orderly = false;
    if (SSL_accept(ssl) == 1) {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const int n = SSL_read(ssl, buf, sizeof(buf));
            if (n <= 0) {
                break;
            }
            request.append(buf, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            lastRequest_ = request;
        }
        if (reply != nullptr && request.find("\r\n\r\n") != std::string::npos) {
            const TlsReply& r = *reply;
            const std::string& body = r.body;
            bool ok = true;
            size_t sent = 0;
            size_t end = body.size();
            switch (r.send) {
                case TlsReply::Send::kOneWrite:
                case TlsReply::Send::kCloseMidBody: {
                    if (r.send == TlsReply::Send::kCloseMidBody) {
                        end = std::min(r.closeAfter, body.size());
                    }
                    sent = std::min(kFirstChunk, end);
                    const std::string first = r.head + body.substr(0, sent);
                    ok = WriteAll(ssl, first.data(), first.size());
                    break;
                }
                case TlsReply::Send::kHeadApart:
                    ok = WriteAll(ssl, r.head.data(), r.head.size());
                    if (ok && r.pauseMs > 0) {
                        ::usleep(static_cast<useconds_t>(r.pauseMs) * 1000);
                    }
                    break;
                case TlsReply::Send::kSplitHead: {
                    const size_t cut = std::min(r.splitAt, r.head.size());
                    ok = WriteAll(ssl, r.head.data(), cut);
                    ::usleep(30 * 1000);
                    sent = std::min(kFirstChunk, end);
                    const std::string rest = r.head.substr(cut) + body.substr(0, sent);
                    ok = ok && WriteAll(ssl, rest.data(), rest.size());
                    break;
                }
            }
            ok = ok && WriteBody(ssl, body, sent, end);
            orderly = ok && r.send != TlsReply::Send::kCloseMidBody;
        }
    }
    if (orderly) {
        (void)SSL_shutdown(ssl);
    } else {
        ::shutdown(fd, SHUT_RDWR);
    }
    SSL_free(ssl);
    ERR_clear_error();
}

}  // namespace ui_test
