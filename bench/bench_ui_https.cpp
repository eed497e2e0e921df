// Times the package download client's read loop (connect, TLS, request, size, then
// 4,095-byte reads each written to a file with one fwrite, close) on a 200 MB file from a
// loopback TLS server, beside `curl -k -o` of the same file from the same server in the
// same run. Runs alternate between the two; each prints its MB/s (10^6 bytes), and the
// ratio of the client to curl is given against curl's whole run (process start
// included) and against curl's own transfer time (`%{time_total}`).
//
//   bench_ui_https [runs] [megabytes]      (default 5 runs of 200 MB)
//
// The file and the downloads go to $TMPDIR (else /tmp) and are removed at the end.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui_https.h"
#include "ui_test/tls_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bench_ui_https: %s\n", what);
    std::exit(1);
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The client's loop as the download thread runs it; the seconds it took.
double ClientRun(uint16_t port, const std::string& target, size_t expect) {
    const auto t0 = Clock::now();
    if (UI_SSL_HttpsConnect("127.0.0.1", port) != 0 || UI_SSL_Create(0) != 0 ||
        UI_SSL_HttpsRequest("/pkg.tar.gz", "127.0.0.1") != 0) {
        Fail("the client could not start the download");
    }
    const int32_t size = UI_SSL_GetFileSize();
    if (size <= 0 || size_t(size) != expect) Fail("the client got a wrong size");
    FILE* file = std::fopen(target.c_str(), "wb+");
    if (file == nullptr) Fail("cannot open the client's target file");
    static char buf[UI_SSL_READ_BUFFER_SIZE];
    int64_t left = size;
    while (left > 0) {
        const int32_t n = UI_SSL_Read(buf);
        if (n <= 0) Fail("the client's read loop ended early");
        if (std::fwrite(buf, 1, size_t(n), file) != size_t(n)) Fail("write failed");
        left -= n;
    }
    std::fclose(file);
    UI_SSL_Close();
    return Seconds(t0, Clock::now());
}

// curl in a child process: the wall-clock seconds of the whole run, and curl's own
// time_total.
void CurlRun(uint16_t port, const std::string& target, double* wall, double* own) {
    int out[2];
    if (::pipe(out) != 0) Fail("pipe");
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/pkg.tar.gz";
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) Fail("fork");
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("curl", "curl", "-k", "-s", "-S", "-o", target.c_str(), "-w", "%{time_total}",
                 url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof(buf))) > 0) text.append(buf, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    *wall = Seconds(t0, Clock::now());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("curl failed (is it installed?)");
    *own = std::atof(text.c_str());
}

size_t FileSize(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return n < 0 ? 0 : size_t(n);
}

struct Range {
    double lo, mid, hi;
};

Range Spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t megabytes = argc > 2 ? size_t(std::max(1, std::atoi(argv[2]))) : 200;
    const size_t bytes = megabytes * 1000 * 1000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    const std::string stem = dir + "/bench_ui_https." + std::to_string(::getpid());
    const std::string source = stem + ".src", mine = stem + ".client", theirs = stem + ".curl";

    // The file, then the server holding it in memory, so that neither side waits for
    // the disk on the server's part.
    std::string body(bytes, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < bytes; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&body[i], &x, std::min<size_t>(8, bytes - i));
    }
    {
        FILE* f = std::fopen(source.c_str(), "wb");
        if (f == nullptr || std::fwrite(body.data(), 1, body.size(), f) != body.size()) {
            Fail("cannot write the source file");
        }
        std::fclose(f);
    }
    ui_test::TlsPeer server;
    if (!server.Started()) Fail("the TLS server did not start");
    server.SetReply({ui_test::TlsPeer::OkHead(bytes), std::move(body),
                     ui_test::TlsReply::Send::kOneWrite});

    std::printf("download of %zu MB over loopback TLS, %d runs each, alternating\n", megabytes,
                runs);
    std::vector<double> client, curlWall, curlOwn, ratioWall, ratioOwn;
    for (int i = 0; i < runs; ++i) {
        const double c = ClientRun(server.Port(), mine, bytes);
        double w = 0, o = 0;
        CurlRun(server.Port(), theirs, &w, &o);
        if (FileSize(mine) != bytes || FileSize(theirs) != bytes) Fail("a download is short");
        const double mbC = double(bytes) / 1e6 / c;
        const double mbW = double(bytes) / 1e6 / w;
        const double mbO = double(bytes) / 1e6 / o;
        client.push_back(mbC);
        curlWall.push_back(mbW);
        curlOwn.push_back(mbO);
        ratioWall.push_back(mbC / mbW);
        ratioOwn.push_back(mbC / mbO);
        std::printf("run %d: client %.1f MB/s, curl %.1f MB/s (own time %.1f MB/s)\n", i + 1, mbC,
                    mbW, mbO);
        std::remove(mine.c_str());
        std::remove(theirs.c_str());
    }
    const Range c = Spread(client), w = Spread(curlWall), o = Spread(curlOwn);
    const Range rw = Spread(ratioWall), ro = Spread(ratioOwn);
    std::printf("client read loop  MB/s  min %.1f  median %.1f  max %.1f\n", c.lo, c.mid, c.hi);
    std::printf("curl -k -o        MB/s  min %.1f  median %.1f  max %.1f\n", w.lo, w.mid, w.hi);
    std::printf("curl own time     MB/s  min %.1f  median %.1f  max %.1f\n", o.lo, o.mid, o.hi);
    std::printf("ratio client/curl       min %.2f  median %.2f  max %.2f\n", rw.lo, rw.mid, rw.hi);
    std::printf("ratio client/curl own   min %.2f  median %.2f  max %.2f\n", ro.lo, ro.mid, ro.hi);
    std::remove(source.c_str());
    return 0;
}
