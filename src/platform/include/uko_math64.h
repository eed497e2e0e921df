#pragma once
// Unsigned 64-bit arithmetic on values carried as two unsigned 32-bit words, the form
// in which the platform keeps CPU tick counts, tick counts and times. Division by zero
// and overflow come back as error codes instead of trapping.
//
// Argument forms: a value is passed as two words, high word first, and a result is
// written through two pointers, high word first. Only UKO_64Sub and UKO_64Add work in
// place, and they take the low word first.

#include <cstdint>

// Result of UKO_64Sub64 when the first value is below the second.
constexpr uint32_t UKO_64_LESS = 0xFFFFFFFFu;
// Result of UKO_64Multi32 when the product does not fit in 64 bits.
constexpr uint32_t UKO_64_OVERFLOW = 74;

// (high:low) -= b, modulo 2^64.
void UKO_64Sub(uint32_t* puiLow, uint32_t* puiHigh, uint32_t uiLowB, uint32_t uiHighB);
// (high:low) += b, modulo 2^64.
void UKO_64Add(uint32_t* puiLow, uint32_t* puiHigh, uint32_t uiLowB, uint32_t uiHighB);

// out += a, modulo 2^64: 0, or 22 for a NULL pointer.
uint32_t UKO_64AddTo(uint32_t uiHighA, uint32_t uiLowA, uint32_t* puiHighOut,
                     uint32_t* puiLowOut);
// out -= a, modulo 2^64: 0, or 22 for a NULL pointer.
uint32_t UKO_64SubFrom(uint32_t uiHighA, uint32_t uiLowA, uint32_t* puiHighOut,
                       uint32_t* puiLowOut);
// out = a + b, modulo 2^64: 0, or 22 for a NULL pointer.
uint32_t UKO_64Add64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighOut, uint32_t* puiLowOut);
// a >= b: out = a - b and 0. a < b: UKO_64_LESS (-1) with out unchanged. 22 for a NULL
// pointer.
uint32_t UKO_64Sub64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighOut, uint32_t* puiLowOut);
// out = a * m and 0; UKO_64_OVERFLOW (74) with out = 0 when the product needs more than
// 64 bits; 22 for a NULL pointer.
uint32_t UKO_64Multi32(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiM, uint32_t* puiHighOut,
                       uint32_t* puiLowOut);
// Quotient and remainder of a / b: 0; 22 for b = 0 or a NULL quotient pointer. The
// remainder is written only when both of its pointers are given.
uint32_t UKO_64Div64(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiHighB, uint32_t uiLowB,
                     uint32_t* puiHighQuot, uint32_t* puiLowQuot, uint32_t* puiHighRem,
                     uint32_t* puiLowRem);
// As UKO_64Div64 with a 32-bit divisor; the remainder is one word and may be NULL.
uint32_t UKO_64Div32(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiDivisor, uint32_t* puiHighQuot,
                     uint32_t* puiLowQuot, uint32_t* puiRem);
// The quotient of UKO_64Div32 rounded: with a divisor above 1, a remainder of at least
// half the divisor (halved downwards) adds one. 22 as for UKO_64Div32.
uint32_t UKO_64Div32Round(uint32_t uiHighA, uint32_t uiLowA, uint32_t uiDivisor,
                          uint32_t* puiHighQuot, uint32_t* puiLowQuot);
