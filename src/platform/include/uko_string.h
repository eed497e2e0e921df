#pragma once
// The platform's string, memory and text-conversion library. Its functions tolerate
// NULL pointers instead of failing on them, work only on caller-supplied memory and
// never allocate. The sized copies consult one process-wide size-overrun hook.

#include <cstddef>
#include <cstdint>

// ---- NULL-tolerant wrappers of the standard functions -----------------------------
// With every pointer given they behave as the standard function; the NULL results are
// noted per function.

size_t UKO_SafeStrLen(const char* pscStr);                        // NULL: 0
size_t UKO_SafeStrNLen(const char* pscStr, uint32_t uiLimit);     // NULL: 0
int32_t UKO_SafeStrCmp(const char* pscA, const char* pscB);       // both NULL: 0; one: 1
int32_t UKO_SafeStrNCmp(const char* pscA, const char* pscB, size_t count);  // as StrCmp
// Case-blind comparison ("A"-"Z" folded). Both NULL or the same pointer: 0; only a
// NULL: negative; only b NULL: positive.
int32_t UKO_SafeStrICmp(const char* pscA, const char* pscB);
// Case-blind comparison of at most count characters; either NULL: 0.
int32_t UKO_SafeStrNICmp(const char* pscA, const char* pscB, size_t count);
char* UKO_SafeStrCpy(char* pscDest, const char* pscSrc);          // NULL: dest, no copy
char* UKO_SafeStrNCpy(char* pscDest, const char* pscSrc, size_t count);
char* UKO_SafeStrCat(char* pscDest, const char* pscSrc);          // NULL: dest, no append
char* UKO_SafeStrNCat(char* pscDest, const char* pscSrc, size_t count);
char* UKO_SafeStrChr(const char* pscStr, int32_t iChar);          // NULL: NULL
char* UKO_SafeStrRChr(const char* pscStr, int32_t iChar);         // NULL: NULL
char* UKO_SafeStrStr(const char* pscStr, const char* pscPattern); // NULL: NULL
char* UKO_SafeStrPbrk(const char* pscStr, const char* pscSet);    // NULL: NULL
size_t UKO_SafeStrSpn(const char* pscStr, const char* pscSet);    // NULL: 0
// A NULL pointer gives NULL when count is not 0; with count 0 dest is returned.
void* UKO_SafeMemCpy(void* pDest, const void* pSrc, size_t count);
// A NULL pointer gives NULL, whatever the count.
void* UKO_SafeMemMove(void* pDest, const void* pSrc, size_t count);
void* UKO_SafeMemSet(void* pDest, int32_t iValue, size_t count);  // NULL: NULL
int32_t UKO_SafeMemCmp(const void* pA, const void* pB, size_t count);  // NULL: 0
void* UKO_SafeMemChr(const void* pBuf, int32_t iChar, uint32_t count);  // NULL: NULL
// The first byte equal to the character's low 8 bits within count bytes, or NULL.
void* UKO_MemChr(const void* pBuf, int32_t iChar, size_t count);

// ---- Sized operations and the size-overrun hook ---------------------------------------
// The hook is asked when an operation needs more bytes than the destination holds:
// (the operation's entry point, destination, destination size, bytes needed). It
// answers the size to use; 0 refuses the operation. No operation ever writes past the
// destination size, whatever the hook answers.
typedef size_t (*UKO_MEM_OVERFLOW_HOOK_PF)(void* pfnOperation, void* pDest, size_t destSize,
                                           size_t needed);

// Stores the hook (NULL removes it); 0. Set it before other threads use the library.
uint32_t UKO_MemOverflowHookSet(UKO_MEM_OVERFLOW_HOOK_PF pfnHook);
// The hook in force, or NULL. For the module memory wrappers, which consult the same hook.
UKO_MEM_OVERFLOW_HOOK_PF ukoMemOverflowHookGet();

// Each returns dest on success and NULL on refusal. A count of 0 returns dest at once
// for the count-taking forms; NULL pointers return dest for the text operations and
// NULL for the memory operations; a destination size of 0 returns NULL. Without a hook
// an overrun is cut to the destination size.
void* UKO_SafeMemCpyN(void* pDest, size_t destSize, const void* pSrc, size_t count);
void* UKO_SafeMemMoveN(void* pDest, size_t destSize, const void* pSrc, size_t count);
void* UKO_SafeMemSetN(void* pDest, size_t destSize, uint8_t ucValue, size_t count);
// Always terminated within the size: a text that does not fit is cut.
char* UKO_SafeStrCpyN(char* pscDest, size_t destSize, const char* pscSrc);
// Copies as strncpy does: the text is terminated only when it is shorter than the
// bytes copied.
char* UKO_SafeStrNCpyN(char* pscDest, size_t destSize, const char* pscSrc, size_t count);
// Appends what fits and terminates it. When only the terminator fits after the text
// already there, dest comes back unchanged; NULL when not even that fits.
char* UKO_SafeStrCatN(char* pscDest, size_t destSize, const char* pscSrc);
char* UKO_SafeStrNCatN(char* pscDest, size_t destSize, const char* pscSrc, size_t count);

// ---- Characters and case --------------------------------------------------------------
// A character is taken as a signed byte: bytes from 0x80 up are no letters and no digits.
uint32_t UKO_IsXDigit(char cChar);  // 1 for 0-9, a-f, A-F
uint32_t UKO_IsUpper(char cChar);   // 1 for A-Z
uint32_t UKO_IsLower(char cChar);   // 1 for a-z
char UKO_ToUpper(char cChar);
char UKO_ToLower(char cChar);
// Convert a text in place; return the address of its terminating NUL (NULL for NULL).
char* UKO_StrToUpper(char* pscStr);
char* UKO_StrToLower(char* pscStr);

// ---- Numbers, addresses and text ----------------------------------------------------------
// Writes "%d" into a buffer of 12 bytes: 0, or 22 for a NULL buffer or a failed format.
uint32_t UKO_IntToStr(int32_t iValue, char* pscBuf);
// Writes the digits of value in a radix from 2 to 16 ("0"-"9", "A"-"F"), most
// significant first, and a NUL (at most 33 bytes). Any other radix or a NULL buffer
// writes nothing.
void UKO_UintToStrRadix(uint32_t uiValue, char* pscBuf, uint32_t uiRadix);
// Reads a hexadecimal number: 0; NULL: -1; nothing converted: out = 0 and -1.
int32_t UKO_HexStrToUint(const char* pscStr, uint32_t* puiOut);
// Read a decimal number: 0; NULL: 22; nothing converted: out = 0 and 22.
uint32_t UKO_StrToUint32(const char* pscStr, uint32_t* puiOut);
uint32_t UKO_StrToUint64(const char* pscStr, uint64_t* pullOut);
// Decimal, clamped to the signed 32-bit range; characters after the number are
// ignored: 0. NULL text or out: 22; no digits: out = 0 and 22.
uint32_t UKO_SafeStrToInt32(const char* pscStr, int32_t* piOut);
// The standard strtol; 0 when the text or the end pointer is NULL (nothing parsed).
long UKO_SafeStrToL(const char* pscStr, char** ppscEnd, int32_t iRadix);
// Unsigned 64-bit parse: leading blanks, one sign, "0x" with radix 0 or 16, octal for a
// leading "0" with radix 0. Overflow gives 2^64 - 1; a minus sign negates modulo 2^64.
// end (may be NULL) points after the last digit, or at the start of the text when
// there was none. NULL text: 0.
uint64_t UKO_StrToUL(const char* pscStr, char** ppscEnd, int32_t iRadix);
uint64_t UKO_StrToULL(const char* pscStr, char** ppscEnd, int32_t iRadix);
// Decimal number with an optional fraction and an exponent that must carry its sign
// ("1.5e+2"): 0, or -1 for a NULL pointer or a malformed number.
int32_t UKO_StrToDbl(const char* pscStr, double* pdOut);
// Writes "%d.%d.%d.%d" of bits 24-31, 16-23, 8-15, 0-7 into a buffer of 16 bytes;
// returns the buffer (NULL for NULL).
char* UKO_IpToStr(uint32_t uiAddr, char* pscBuf);
// Dotted IPv4 text to the address (first octet in bits 24-31): 0, or -1.
int32_t UKO_StrToIp(const char* pscStr, uint32_t* puiOut);
// IPv6 text to eight 16-bit groups, with one "::" gap at most: 0, or -1. Embedded IPv4
// parts are refused.
int32_t UKO_StrToIpv6(const char* pscStr, uint16_t pusOut[8]);

// ---- Trimming and tokens ----------------------------------------------------------------
// Overwrites trailing spaces and tabs with NULs and returns the first character that is
// neither. NULL or empty: returned as it came.
char* UKO_StrTrim(char* pscStr);
// Cuts trailing spaces and returns the address after the leading spaces; tabs count as
// text. NULL and the fill pattern 0xCCCCCCCC give NULL.
char* UKO_StrTrimSpace(char* pscStr);
// Tokenizer with the position kept by the caller: NULL text continues from *position.
// NULL delimiters or position: NULL.
char* UKO_SafeStrTok(char* pscStr, const char* pscDelim, char** ppscPos);

// ---- Random numbers -------------------------------------------------------------------------
// Additive lagged generator over 55 words, guarded by the process-wide global lock.
void UKO_RandomSeed(uint32_t uiSeed);
// A value below the range (0 for a range of 0); seeds with 0 on the first use.
uint32_t UKO_Random(uint32_t uiRange);
