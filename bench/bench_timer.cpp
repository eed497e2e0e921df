// Times the relative timer wheel against the obvious peer, a std::multimap of due
// ticks to timers (erase by the iterator kept at insertion), in the same run:
//   (a) arm 100,000 timers of random lengths (1 to 5,000 ticks), then cancel them all in
//       random order: kernel records placed and taken off the wheel, and adaptation
//       timers created and deleted by id;
//   (b) one tick with 10,000 live loop timers of random periods (1 to 60,000 ticks),
//       averaged over 20,000 consecutive ticks; expired timers are placed again, so the
//       live count stays at 10,000.
// The wheel is turned by this program only; the platform's clock is not started.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include "jqr_timer.h"
#include "os_time.h"
#include "uko_cputick.h"
#include "uko_handle.h"
#include "uko_mempt.h"
#include "uko_reltmrknl.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kArmCount = 100000;
constexpr uint32_t kLiveCount = 10000;
constexpr uint32_t kTicks = 20000;

double NsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

void Check(uint32_t rc, const char* what) {
    if (rc != 0) {
        std::fprintf(stderr, "%s failed: %u\n", what, rc);
        std::abort();
    }
}

uint64_t g_expired = 0;
void CountExpiry(UKO_ReltmrCb*) { ++g_expired; }
void Nothing(uint64_t) {}

UKO_ReltmrCb* Arm(uint32_t len, uint8_t mode) {
    void* priv = nullptr;
    Check(ukoRelTmCbAlloc(&priv), "ukoRelTmCbAlloc");
    UKO_ReltmrCb* tm = ukoRelTmCbOfPriv(priv);
    ukoRelTmLock();
    tm->uiKind = UKO_RELTMR_KIND_LOCKED;
    tm->ucMode = mode;
    tm->uiLenTick = len;
    tm->pfnExpire = CountExpiry;
    tm->phOwner = nullptr;
    ukoRelTmInsert(tm);
    ukoRelTmUnlock();
    return tm;
}

void Cancel(UKO_ReltmrCb* tm) {
    ukoRelTmLock();
    ukoRelTmRemove(tm);
    ukoRelTmUnlock();
    ukoRelTmCbFree(0, tm->aucPriv);
}

struct PeerTimer {
    uint32_t period;
    std::multimap<uint64_t, PeerTimer*>::iterator at;
};

void Row(const char* what, double wheelNs, double peerNs, uint32_t n) {
    std::printf("%-44s wheel %9.1f ns  multimap %9.1f ns  ratio %.2f\n", what, wheelNs / n,
                peerNs / n, wheelNs / peerNs);
}

}  // namespace

int main() {
    Check(OS_TickConfigInit(0), "OS_TickConfigInit");
    Check(ukoHandleInit(0), "ukoHandleInit");
    Check(ukoMemPtInit(0), "ukoMemPtInit");
    Check(UKO_CpuTickInit(0), "UKO_CpuTickInit");
    Check(ukoRelTmKnlInit(0), "ukoRelTmKnlInit");
    Check(JQR_TimerInit(0), "JQR_TimerInit");

    std::mt19937 rng(42);
    std::uniform_int_distribution<uint32_t> shortLen(1, 5000);
    std::vector<uint32_t> lens(kArmCount);
    std::vector<uint32_t> order(kArmCount);
    for (uint32_t i = 0; i < kArmCount; ++i) {
        lens[i] = shortLen(rng);
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), rng);

    // ---- (a) arm and cancel ----------------------------------------------------------------
    // One warm-up round grows the pool so that neither side's figure includes it.
    std::vector<UKO_ReltmrCb*> records(kArmCount);
    for (uint32_t i = 0; i < kArmCount; ++i) records[i] = Arm(lens[i], UKO_RELTIMER_CALLBACK);
    for (uint32_t i : order) Cancel(records[i]);

    auto t0 = Clock::now();
    for (uint32_t i = 0; i < kArmCount; ++i) records[i] = Arm(lens[i], UKO_RELTIMER_CALLBACK);
    for (uint32_t i : order) Cancel(records[i]);
    const double wheelArm = NsSince(t0);

    std::vector<uint32_t> ids(kArmCount);
    for (uint32_t i = 0; i < kArmCount; ++i) {
        Check(UKO_Timer_Create(1, 0, lens[i] * 10, Nothing, 0, &ids[i], 0), "UKO_Timer_Create");
    }
    for (uint32_t i : order) Check(UKO_Timer_Delete(ids[i]), "UKO_Timer_Delete");
    t0 = Clock::now();
    for (uint32_t i = 0; i < kArmCount; ++i) {
        Check(UKO_Timer_Create(1, 0, lens[i] * 10, Nothing, 0, &ids[i], 0), "UKO_Timer_Create");
    }
    for (uint32_t i : order) Check(UKO_Timer_Delete(ids[i]), "UKO_Timer_Delete");
    const double adaptArm = NsSince(t0);

    std::multimap<uint64_t, PeerTimer*> peer;
    std::vector<PeerTimer> peerTimers(kArmCount);
    t0 = Clock::now();
    for (uint32_t i = 0; i < kArmCount; ++i) {
        peerTimers[i].period = lens[i];
        peerTimers[i].at = peer.emplace(lens[i], &peerTimers[i]);
    }
    for (uint32_t i : order) peer.erase(peerTimers[i].at);
    const double peerArm = NsSince(t0);

    std::printf("arm and cancel of %u timers, per timer:\n", kArmCount);
    Row("  kernel records (place, take off)", wheelArm, peerArm, kArmCount);
    Row("  adaptation timers (create, delete)", adaptArm, peerArm, kArmCount);

    // ---- (b) one tick with 10,000 live timers ----------------------------------------------
    std::uniform_int_distribution<uint32_t> longLen(1, 60000);
    std::vector<uint32_t> periods(kLiveCount);
    for (uint32_t& p : periods) p = longLen(rng);
    std::vector<UKO_ReltmrCb*> live(kLiveCount);
    for (uint32_t i = 0; i < kLiveCount; ++i) {
        live[i] = Arm(periods[i], UKO_RELTIMER_CALLBACK | UKO_RELTIMER_LOOP);
    }
    g_expired = 0;
    t0 = Clock::now();
    for (uint32_t t = 0; t < kTicks; ++t) ukoRelTmTick(1);
    const double wheelTick = NsSince(t0);
    const uint64_t wheelExpired = g_expired;

    peer.clear();
    std::vector<PeerTimer> peerLive(kLiveCount);
    for (uint32_t i = 0; i < kLiveCount; ++i) {
        peerLive[i].period = periods[i];
        peerLive[i].at = peer.emplace(periods[i], &peerLive[i]);
    }
    uint64_t peerExpired = 0;
    t0 = Clock::now();
    for (uint64_t now = 1; now <= kTicks; ++now) {
        while (!peer.empty() && peer.begin()->first <= now) {
            PeerTimer* pt = peer.begin()->second;
            peer.erase(peer.begin());
            ++peerExpired;
            pt->at = peer.emplace(now + pt->period, pt);
        }
    }
    const double peerTick = NsSince(t0);

    std::printf("one tick with %u live timers, averaged over %u ticks (%llu / %llu expiries):\n",
                kLiveCount, kTicks, static_cast<unsigned long long>(wheelExpired),
                static_cast<unsigned long long>(peerExpired));
    Row("  tick", wheelTick, peerTick, kTicks);
    for (UKO_ReltmrCb* tm : live) Cancel(tm);
    return 0;
}
