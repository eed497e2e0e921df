#include "uko_atomic.h"

namespace {

// One compare-and-swap on the caller's word; on failure `expected` receives the value
// found there.
template <typename T>
bool Cas(T* word, T& expected, T desired) {
    return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

// Every read-modify-write operation is this loop: read, compute, swap, and start over
// when another thread changed the word in between.
template <typename Op>
uint32_t Update(uint32_t* word, Op op) {
    uint32_t old = __atomic_load_n(word, __ATOMIC_RELAXED);
    while (!Cas(word, old, op(old))) {
    }
    return old;
}

}  // namespace

uint32_t UKO_AtomicAdd(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return old + uiValue; });
}

uint32_t UKO_AtomicSub(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return old - uiValue; });
}

uint32_t UKO_AtomicInc(uint32_t* puiWord) {
    return Update(puiWord, [](uint32_t old) { return old + 1; });
}

uint32_t UKO_AtomicDec(uint32_t* puiWord) {
    return Update(puiWord, [](uint32_t old) { return old - 1; });
}

uint32_t UKO_AtomicAnd(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return old & uiValue; });
}

uint32_t UKO_AtomicOr(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return old | uiValue; });
}

uint32_t UKO_AtomicNand(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return ~(old & uiValue); });
}

uint32_t UKO_AtomicXor(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t old) { return old ^ uiValue; });
}

uint32_t UKO_AtomicSwap(uint32_t* puiWord, uint32_t uiValue) {
    return Update(puiWord, [uiValue](uint32_t) { return uiValue; });
}

uint32_t UKO_AtomicGet(const uint32_t* puiWord) {
    // A plain read; the relaxed load compiles to one and keeps race checkers quiet.
    return __atomic_load_n(puiWord, __ATOMIC_RELAXED);
}

uint32_t UKO_AtomicCas(void* pWord, uint32_t uiExpected, uint32_t uiNew, uint32_t uiWidth) {
    switch (uiWidth) {
        case 4: {
            uint32_t found = uiExpected;
            (void)Cas(static_cast<uint32_t*>(pWord), found, uiNew);
            return found;
        }
        case 2: {
            uint16_t found = static_cast<uint16_t>(uiExpected);
            (void)Cas(static_cast<uint16_t*>(pWord), found, static_cast<uint16_t>(uiNew));
            return (uiExpected & 0xFFFF0000u) | found;
        }
        case 1: {
            uint8_t found = static_cast<uint8_t>(uiExpected);
            (void)Cas(static_cast<uint8_t*>(pWord), found, static_cast<uint8_t>(uiNew));
            return (uiExpected & 0xFFFFFF00u) | found;
        }
        default:
            return uiExpected;
    }
}

uint32_t UKO_AtomicCasBool(uint32_t* puiWord, uint32_t uiExpected, uint32_t uiNew) {
    return Cas(puiWord, uiExpected, uiNew) ? 1u : 0u;
}
