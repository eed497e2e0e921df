// Two-word 64-bit arithmetic and the compare-and-swap atomics against the compiler's
// native 64-bit operations and atomic builtins, in the same run.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "uko_atomic.h"
#include "uko_math64.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double NsPerOp(size_t ops, F f) {
    auto start = Clock::now();
    f();
    auto end = Clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(ops);
}

void Row(const char* name, double ours, double peer) {
    std::printf("%-28s ours %7.2f ns  native %7.2f ns  ratio %5.2f\n", name, ours, peer, ours / peer);
}

}  // namespace

int main() {
    constexpr size_t kN = 2000000;
    std::mt19937_64 rng(1);
    std::vector<uint64_t> a(kN);
    std::vector<uint64_t> b(kN);
    std::vector<uint32_t> m(kN);
    for (size_t i = 0; i < kN; ++i) {
        a[i] = rng();
        b[i] = (rng() >> (rng() % 64)) | 1;
        m[i] = static_cast<uint32_t>(rng()) | 1;
    }
    volatile uint64_t sink = 0;

    double ours = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) {
            uint32_t qh, ql, rh, rl;
            UKO_64Div64(a[i] >> 32, static_cast<uint32_t>(a[i]), b[i] >> 32,
                        static_cast<uint32_t>(b[i]), &qh, &ql, &rh, &rl);
            sink = sink + ql + rl;
        }
    });
    double peer = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) sink = sink + (a[i] / b[i]) + (a[i] % b[i]);
    });
    Row("UKO_64Div64 vs / and %", ours, peer);

    ours = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) {
            uint32_t qh, ql, r;
            UKO_64Div32(a[i] >> 32, static_cast<uint32_t>(a[i]), m[i], &qh, &ql, &r);
            sink = sink + ql + r;
        }
    });
    peer = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) sink = sink + (a[i] / m[i]) + (a[i] % m[i]);
    });
    Row("UKO_64Div32 vs / and %", ours, peer);

    ours = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) {
            uint32_t h, l;
            UKO_64Multi32(static_cast<uint32_t>(a[i] >> 40), static_cast<uint32_t>(a[i]), m[i], &h, &l);
            sink = sink + l;
        }
    });
    peer = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) {
            unsigned __int128 p = static_cast<unsigned __int128>(a[i] >> 8) * m[i];
            sink = sink + ((p >> 64) == 0 ? static_cast<uint64_t>(p) : 0);
        }
    });
    Row("UKO_64Multi32 vs 128-bit *", ours, peer);

    uint32_t word = 0;
    ours = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) UKO_AtomicInc(&word);
    });
    peer = NsPerOp(kN, [&] {
        for (size_t i = 0; i < kN; ++i) __atomic_fetch_add(&word, 1u, __ATOMIC_SEQ_CST);
    });
    Row("UKO_AtomicInc vs fetch_add", ours, peer);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink + word));
    return 0;
}
