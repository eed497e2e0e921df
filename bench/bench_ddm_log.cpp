// Times the rotating log against the obvious peer in the same run: lines per second of
// DDM_LogWrite (which stats, opens, appends and closes its file for every line, so the
// line is on disk when the call returns, and rotates at about 1 MB) against write() of
// a line formatted with snprintf on a descriptor kept open, on 1 and on 8 threads.
// The log writes into a temporary home folder, removed at the end.

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ddm_log.h"
#include "uko_start.h"
#include "bench_home.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLinesPerThread = 50000;

void WriteLog(uint32_t thread, uint32_t lines) {
    for (uint32_t i = 0; i < lines; ++i) {
        (void)DDM_LogWrite(0, 1, "[%lu][Process bench][thread %u writes line %u of the run]", 65535UL,
                           thread, i);
    }
}

void WritePeer(int fd, uint32_t thread, uint32_t lines) {
    char line[1280];
    for (uint32_t i = 0; i < lines; ++i) {
        const int n = std::snprintf(line, sizeof(line),
                                    "[ UI     INFO   2026-01-01 00:00:00.000000 ][bench] "
                                    "[%lu][Process bench][thread %u writes line %u of the run]\n",
                                    65535UL, thread, i);
        if (write(fd, line, static_cast<size_t>(n)) != n) std::abort();
    }
}

template <typename Body>
double LinesPerSecond(uint32_t threads, Body body) {
    auto t0 = Clock::now();
    std::vector<std::thread> workers;
    for (uint32_t t = 0; t < threads; ++t) workers.emplace_back(body, t);
    for (std::thread& w : workers) w.join();
    std::chrono::duration<double> d = Clock::now() - t0;
    return static_cast<double>(threads) * kLinesPerThread / d.count();
}

void Row(const char* what, double ours, double peer) {
    std::printf("%-12s %14.0f %14.0f   ratio %.3f\n", what, ours, peer, ours / peer);
}

}  // namespace

int main() {
    const std::string root = BenchHomeMake("bench-ddm-log");
    if (root.empty()) return 1;
    if (UKO_Start() != 0 || DDM_LogInit("bench") != 0) {
        std::fprintf(stderr, "platform start-up failed\n");
        return 1;
    }
    const std::string peerFile = root + "/peer.log";
    const int fd = open(peerFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open the peer's file\n");
        return 1;
    }

    std::printf("%-12s %14s %14s   (lines per second)\n", "", "DDM_LogWrite", "write, kept open");
    for (uint32_t threads : {1u, 8u}) {
        // A shorter warm-up of each before the measured run.
        (void)LinesPerSecond(threads, [](uint32_t t) { WriteLog(t, kLinesPerThread / 10); });
        (void)LinesPerSecond(threads, [fd](uint32_t t) { WritePeer(fd, t, kLinesPerThread / 10); });
        const double ours = LinesPerSecond(threads, [](uint32_t t) { WriteLog(t, kLinesPerThread); });
        const double peer =
            LinesPerSecond(threads, [fd](uint32_t t) { WritePeer(fd, t, kLinesPerThread); });
        Row(threads == 1 ? "1 thread" : "8 threads", ours, peer);
        if (ftruncate(fd, 0) != 0) std::abort();
    }
    close(fd);
    auto removeEntry = [](const char* path, const struct stat*, int, struct FTW*) {
        return remove(path);
    };
    return nftw(root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0 ? 0 : 1;
}
