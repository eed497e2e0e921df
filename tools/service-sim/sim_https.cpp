#include "sim_https.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "sim_files.h"

namespace sim {

namespace {

struct CrcTable {
    uint32_t entry[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
        }
    }
};

uint32_t Crc32(const std::string& data) {
    // Transfers run on their own threads: the table is built once, under the
    // language's guard for local statics.
    static const CrcTable kTable;
    const uint32_t* table = kTable.entry;
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : data) crc = table[(crc ^ ch) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// Packages served are read whole into memory; a test package is a few MB.
constexpr size_t kMaxPackageBytes = 512u * 1024 * 1024;

void PutLE(std::string* s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s->push_back(char((v >> (8 * i)) & 0xFF));
}

// A fresh P-256 key and a self-signed certificate for 127.0.0.1, valid for a day.
bool MakeContext(SSL_CTX** out, std::string* err) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    bool ok = key != nullptr && cert != nullptr && ctx != nullptr;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
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
    if (!ok) {
        SSL_CTX_free(ctx);
        *err = "cannot make the TLS key and certificate";
        return false;
    }
    *out = ctx;
    return true;
}

bool WriteAll(SSL* ssl, const char* data, size_t len) {
    while (len > 0) {
        int chunk = len > 16384 ? 16384 : int(len);
        int n = SSL_write(ssl, data, chunk);
        if (n <= 0) return false;
        data += n;
        len -= size_t(n);
    }
    return true;
}

}  // namespace

std::string GzipStored(const std::string& data) {
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    size_t pos = 0;
    do {
        size_t n = data.size() - pos;
        if (n > 65535) n = 65535;
        bool last = pos + n == data.size();
        out.push_back(last ? '\x01' : '\x00');
        PutLE(&out, uint32_t(n), 2);
        PutLE(&out, uint32_t(~n & 0xFFFF), 2);
        out.append(data, pos, n);
        pos += n;
    } while (pos < data.size());
    PutLE(&out, Crc32(data), 4);
    PutLE(&out, uint32_t(data.size()), 4);
    return out;
}

HttpsServer::~HttpsServer() { Stop(); }

bool HttpsServer::Start(uint16_t port, std::vector<HttpsFile> files, LogFn log,
                        std::string* error) {
    files_ = std::move(files);
    log_ = std::move(log);
    if (!MakeContext(&ctx_, error)) return false;
    if (::pipe2(wake_, O_CLOEXEC) != 0 || ::pipe2(idle_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "pipe failed";
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    port_ = ntohs(a.sin_port);
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (size_t i = 0; i < kInitialWorkers; ++i)
            workers_.emplace_back(&HttpsServer::WorkerLoop, this);
    }
    acceptThread_ = std::thread(&HttpsServer::AcceptLoop, this);
    return true;
}

void HttpsServer::Stop() {
    if (stop_.exchange(true)) return;
    if (wake_[1] >= 0) {
        char c = 1;
        (void)!::write(wake_[1], &c, 1);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    // The accept loop has ended: nobody adds workers or connections any more.
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (int fd : active_) ::shutdown(fd, SHUT_RDWR);
        for (int fd : queue_) ::close(fd);
        queue_.clear();
    }
    work_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int* pipe : {wake_, idle_}) {
        for (int i = 0; i < 2; ++i) {
            if (pipe[i] >= 0) ::close(pipe[i]);
            pipe[i] = -1;
        }
    }
    listenFd_ = -1;
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
}

bool HttpsServer::Wait(int ms) {
    pollfd p{wake_[0], POLLIN, 0};
    int r = ::poll(&p, 1, ms);
    return r == 0 && !stop_;
}

void HttpsServer::AcceptLoop() {
    while (!stop_) {
        char buf[64];
        while (::read(idle_[0], buf, sizeof buf) > 0) {
        }
        bool room;
        {
            std::lock_guard<std::mutex> lock(mu_);
            room = idleWorkers_ > queue_.size() || workers_.size() < kMaxWorkers;
        }
        // With every worker busy the listener is left alone until one turns idle.
        pollfd p[3] = {{wake_[0], POLLIN, 0}, {idle_[0], POLLIN, 0},
                       {room ? listenFd_ : -1, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) continue;
        if (stop_ || (p[0].revents & POLLIN)) break;
        if (!(p[2].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard<std::mutex> lock(mu_);
            queue_.push_back(fd);
            if (idleWorkers_ < queue_.size()) workers_.emplace_back(&HttpsServer::WorkerLoop, this);
        }
        work_.notify_one();
    }
}

void HttpsServer::WorkerLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (true) {
        ++idleWorkers_;
        // Tell the accept loop, which may be waiting for a free worker; the byte is
        // written while the count is already up, under the same lock it reads it.
        char c = 1;
        (void)!::write(idle_[1], &c, 1);
        work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        --idleWorkers_;
        if (stop_) return;
        int fd = queue_.front();
        queue_.pop_front();
        active_.insert(fd);
        lock.unlock();
        Serve(fd);
        lock.lock();
        // Closed under the lock, so that a stop never shuts down a number the system
        // has already given to somebody else.
        active_.erase(fd);
        ::close(fd);
    }
}

void HttpsServer::Serve(int fd) {
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    SSL* ssl = SSL_new(ctx_);
    bool orderly = true;   // end with a TLS close; false: drop the connection
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
            int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0) break;
            head.append(buf, size_t(n));
        }
        std::string path;
        size_t sp1 = head.find(' ');
        size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
        if (head.compare(0, 4, "GET ") == 0 && sp2 != std::string::npos)
            path = head.substr(sp1 + 1, sp2 - sp1 - 1);
        const HttpsFile* f = nullptr;
        for (const HttpsFile& e : files_) {
            if (e.path == path) f = &e;
        }
        std::string body;
        bool found = false;
        if (f != nullptr && f->mode != "notFound") {
            found = ReadWholeFile(f->file, &body, kMaxPackageBytes);
        }
        std::string mode = f != nullptr ? f->mode : "notFound";
        if (log_) log_(path, head, mode);
        if (!found) {
            static const char k404[] =
                "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            WriteAll(ssl, k404, sizeof k404 - 1);
        } else {
            if (mode == "gzip") body = GzipStored(body);
            std::string h = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
            if (mode == "gzip") h += "Content-Encoding: gzip\r\n";
            if (mode != "noLength") h += "Content-Length: " + std::to_string(body.size()) + "\r\n";
            h += "Connection: close\r\n\r\n";
            size_t sent = 0;
            bool ok = true;
            if (mode == "headWithBody") {
                sent = std::min<size_t>(f->firstBodyBytes, body.size());
                std::string first = h + body.substr(0, sent);
                ok = WriteAll(ssl, first.data(), first.size());
            } else if (mode == "splitHead") {
                size_t cut = std::min<size_t>(f->splitAt, h.size());
                ok = WriteAll(ssl, h.data(), cut) && Wait(int(f->splitDelayMs)) &&
                     WriteAll(ssl, h.data() + cut, h.size() - cut);
            } else {
                ok = WriteAll(ssl, h.data(), h.size());
            }
            size_t end = body.size();
            if (mode == "closeMidBody") {
                end = f->closeAfterBytes != 0 ? std::min<size_t>(f->closeAfterBytes, body.size())
                                              : body.size() / 2;
                orderly = false;
            } else if (mode == "stall") {
                end = std::min<size_t>(f->stallAfterBytes, body.size());
                orderly = false;
            }
            if (ok && end > sent) ok = WriteAll(ssl, body.data() + sent, end - sent);
            if (ok && mode == "stall") Wait(f->stallMs == 0 ? -1 : int(f->stallMs));
        }
    } else {
        orderly = false;
    }
    if (orderly) SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
}

}  // namespace sim
