#pragma once
// Text encodings: GBK (the Chinese double-byte code page of the platform's callers) to
// and from UTF-8 by way of UCS-2, and the %xx form of URLs.
//
// GBK: bytes 0 to 127 are ASCII; a byte above 127 starts a two-byte code whose first
// byte is the code's high half. UCS-2: 16-bit units stored low byte first, one per
// character of the Basic Multilingual Plane. UTF-8: one to three bytes per character;
// four-byte forms are refused.
//
// A conversion is all or nothing: an unmappable character or a malformed sequence
// fails the whole call, and nothing is handed out. Every function is reentrant.

#include <cstdint>

// One pair of a code table.
struct UKO_CODE_PAIR {
    uint16_t usKey;
    uint16_t usValue;
};
static_assert(sizeof(UKO_CODE_PAIR) == 4, "two 16-bit codes");

// The two-byte codes of GB 18030-2000 (first byte 0x81 to 0xFE, second byte 0x40 to
// 0xFE without 0x7F), each once, with their code points (U+00A4 to U+FFE5, never 0).
constexpr uint32_t UKO_GBK_TABLE_SIZE = 23940;
// (GBK code with the first byte high, code point), sorted by the GBK code.
extern const UKO_CODE_PAIR (&UKO_GbkToUnicodeTable)[UKO_GBK_TABLE_SIZE];
// (code point, GBK code), sorted by the code point.
extern const UKO_CODE_PAIR (&UKO_UnicodeToGbkTable)[UKO_GBK_TABLE_SIZE];

// Largest buffer a conversion takes: an input whose buffers would be larger is refused
// before anything is allocated.
constexpr uint64_t UKO_TEXTCODE_MAX_BUFFER = 0x7FFFFFFF;

// ---- Conversions with a result from UKO_Malloc -------------------------------------------
// *ppcOut must hold NULL on entry. On success (0) it receives a block from UKO_Malloc
// holding the converted bytes and a NUL after them, which *puiOutLen does not count;
// the caller frees it with UKO_Free. On failure (1) neither output is touched.
// A length of 0 succeeds with nothing allocated and neither output touched. A NUL byte
// in the input is converted and counted like any other character.
uint32_t UKO_GbkToUtf8(const char* pcGbk, uint32_t uiLen, char** ppcOut, uint32_t* puiOutLen);
// A length of 0 fails. NUL bytes of the input are dropped.
uint32_t UKO_Utf8ToGbk(const char* pcUtf8, uint32_t uiLen, char** ppcOut, uint32_t* puiOutLen);

// ---- Steps of the conversions: caller's buffers, 0 or 1 ----------------------------------
// Fails on a code the table lacks, on a first byte without its second, and when the
// next unit would not fit in uiUcs2Size bytes.
uint32_t UKO_GbkToUcs2(const char* pcGbk, uint32_t uiLen, uint8_t* pucUcs2, uint32_t uiUcs2Size,
                       uint32_t* puiWritten);
// Fails when uiUtf8Size is below three bytes per unit; stops without failure at a
// character that would not fit.
uint32_t UKO_Ucs2ToUtf8(const uint8_t* pucUcs2, uint32_t uiUnits, char* pcUtf8, uint32_t uiUtf8Size,
                        uint32_t* puiWritten);
// uiCapacity and *puiUnits count units. Fails when uiLen exceeds twice the capacity, on
// a continuation byte in lead position, a missing continuation byte, an overlong form,
// a surrogate, and any four-byte form. A sequence cut off by the end of the input ends
// the conversion without failure and without that character.
uint32_t UKO_Utf8ToUcs2(const char* pcUtf8, uint32_t uiLen, uint8_t* pucUcs2, uint32_t uiCapacity,
                        uint32_t* puiUnits);
// uiUcs2Len counts bytes. Fails on a unit the table lacks, an odd byte count, and when
// the next character would not fit in uiGbkSize bytes.
uint32_t UKO_Ucs2ToGbk(const uint8_t* pucUcs2, uint32_t uiUcs2Len, char* pcGbk, uint32_t uiGbkSize,
                       uint32_t* puiWritten);

// ---- Single codes ---------------------------------------------------------------------------
// The code's two bytes as they lie in memory read as one 16-bit value (first byte low):
// its code point, or 0 when the table lacks it.
uint16_t UKO_GbkCodeToUnicode(uint16_t usMemCode);
// The GBK code (first byte high), or 0 when the table lacks the code point.
uint16_t UKO_UnicodeToGbkCode(uint16_t usCodePoint);

// ---- URLs --------------------------------------------------------------------------------------
// Decodes "%" and two hexadecimal digits (either case) into their byte and "+" into a
// blank; every other byte is copied. Writes a terminator and returns the bytes before
// it (0 for a NULL pointer). The output is never longer than the input: the
// destination must hold the source's length plus one.
uint32_t UKO_UrlDecode(const char* pcSrc, char* pcDest);
// Copies letters, digits and ' ( ) * - . _ ~ and writes every other byte as "%" and two
// upper-case hexadecimal digits; a NUL byte ends the source. No terminator is written.
// 1 for a NULL pointer or a destination smaller than three times the source length.
uint32_t UKO_UrlEncode(const char* pcSrc, uint32_t uiSrcLen, char* pcDest, uint32_t uiDestSize,
                       uint32_t* puiOutLen);
