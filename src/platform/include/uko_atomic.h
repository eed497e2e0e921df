#pragma once
// Atomic read-modify-write operations on words of the caller's memory, all built on
// one compare-and-swap. They are safe between threads for words that are accessed
// only through them; UKO_AtomicGet is an ordinary read.

#include <cstdint>

// Each returns the value the word held before and retries its compare-and-swap until
// it succeeds.
uint32_t UKO_AtomicAdd(uint32_t* puiWord, uint32_t uiValue);   // old + v
uint32_t UKO_AtomicSub(uint32_t* puiWord, uint32_t uiValue);   // old - v
uint32_t UKO_AtomicInc(uint32_t* puiWord);                     // old + 1
uint32_t UKO_AtomicDec(uint32_t* puiWord);                     // old - 1
uint32_t UKO_AtomicAnd(uint32_t* puiWord, uint32_t uiValue);   // old AND v
uint32_t UKO_AtomicOr(uint32_t* puiWord, uint32_t uiValue);    // old OR v
uint32_t UKO_AtomicNand(uint32_t* puiWord, uint32_t uiValue);  // NOT (old AND v)
uint32_t UKO_AtomicXor(uint32_t* puiWord, uint32_t uiValue);   // old XOR v
uint32_t UKO_AtomicSwap(uint32_t* puiWord, uint32_t uiValue);  // v
// The word's value, read plainly.
uint32_t UKO_AtomicGet(const uint32_t* puiWord);

// One locked compare-and-swap of uiWidth bytes (4, 2 or 1) at pWord: the word takes
// the low uiWidth bytes of uiNew when it holds the low uiWidth bytes of uiExpected.
// Returns the value found there; for widths 2 and 1 it sits in the low bits and the
// upper bits are those of uiExpected. Any other width does nothing and returns
// uiExpected.
uint32_t UKO_AtomicCas(void* pWord, uint32_t uiExpected, uint32_t uiNew, uint32_t uiWidth);
// The 4-byte compare-and-swap: 1 when it took place, else 0.
uint32_t UKO_AtomicCasBool(uint32_t* puiWord, uint32_t uiExpected, uint32_t uiNew);
