// GBK to and from UTF-8 through UCS-2, and URL coding. The two conversions allocate
// their intermediate and final buffers from the system partition; everything else
// works on the caller's memory.
//
// Sizes are computed in 64 bits: an input of 2^31 bytes or more would wrap a 32-bit
// product and leave a buffer far smaller than what is written into it.

#include "uko_textcode.h"

#include "jqr_mem.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kFail = 1;

// The bisection the conversions share: mid = (low + high) / 2 over indices 0 to 23,939.
// Indices are unsigned, so a key below the first entry ends the search at mid 0 instead
// of stepping below it.
uint16_t Search(const UKO_CODE_PAIR (&table)[UKO_GBK_TABLE_SIZE], uint16_t usKey) {
    uint32_t low = 0;
    uint32_t high = UKO_GBK_TABLE_SIZE - 1;
    while (low <= high) {
        uint32_t mid = (low + high) / 2;
        uint16_t k = table[mid].usKey;
        if (k == usKey) {
            return table[mid].usValue;
        }
        if (k < usKey) {
            low = mid + 1;
        } else {
            if (mid == 0) {
                return 0;
            }
            high = mid - 1;
        }
    }
    return 0;
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// A block of the given size from UKO_Malloc, cleared; NULL when the size is 0, above
// the conversions' limit, or the partition refuses.
uint8_t* BufferGet(uint64_t uvSize) {
    if (uvSize == 0 || uvSize > UKO_TEXTCODE_MAX_BUFFER) {
        return nullptr;
    }
    auto* p = static_cast<uint8_t*>(UKO_Malloc(0, uvSize));
    if (p != nullptr) {
        (void)UKO_memset_s(p, uvSize, 0, uvSize);
    }
    return p;
}

void BufferFree(void* p) {
    if (p != nullptr) {
        (void)UKO_Free(p);
    }
}

}  // namespace

// ---- Single codes -----------------------------------------------------------------------------

uint16_t UKO_GbkCodeToUnicode(uint16_t usMemCode) {
    uint16_t code = static_cast<uint16_t>((usMemCode << 8) | (usMemCode >> 8));
    return Search(UKO_GbkToUnicodeTable, code);
}

uint16_t UKO_UnicodeToGbkCode(uint16_t usCodePoint) { return Search(UKO_UnicodeToGbkTable, usCodePoint); }

// ---- Steps --------------------------------------------------------------------------------------

uint32_t UKO_GbkToUcs2(const char* pcGbk, uint32_t uiLen, uint8_t* pucUcs2, uint32_t uiUcs2Size,
                       uint32_t* puiWritten) {
    if (pcGbk == nullptr || pucUcs2 == nullptr || puiWritten == nullptr) {
        return kFail;
    }
    const auto* src = reinterpret_cast<const uint8_t*>(pcGbk);
    uint64_t written = 0;
    for (uint32_t i = 0; i < uiLen;) {
        if (written + 2 > uiUcs2Size) {
            return kFail;
        }
        uint16_t unit = src[i];
        if (unit < 0x80) {
            ++i;
        } else {
            // A first byte at the very end has no second byte to pair with: the code is
            // incomplete, like a code the table lacks.
            if (uiLen - i < 2) {
                return kFail;
            }
            unit = UKO_GbkCodeToUnicode(static_cast<uint16_t>(src[i] | (src[i + 1] << 8)));
            if (unit == 0) {
                return kFail;
            }
            i += 2;
        }
        pucUcs2[written] = static_cast<uint8_t>(unit & 0xFF);
        pucUcs2[written + 1] = static_cast<uint8_t>(unit >> 8);
        written += 2;
    }
    *puiWritten = static_cast<uint32_t>(written);
    return 0;
}

uint32_t UKO_Ucs2ToUtf8(const uint8_t* pucUcs2, uint32_t uiUnits, char* pcUtf8, uint32_t uiUtf8Size,
                        uint32_t* puiWritten) {
    if (pucUcs2 == nullptr || pcUtf8 == nullptr || puiWritten == nullptr ||
        uiUtf8Size < uint64_t{uiUnits} * 3) {
        return kFail;
    }
    auto* out = reinterpret_cast<uint8_t*>(pcUtf8);
    uint64_t written = 0;
    for (uint32_t i = 0; i < uiUnits; ++i) {
        uint32_t u = pucUcs2[2 * uint64_t{i}] | (pucUcs2[2 * uint64_t{i} + 1] << 8);
        uint32_t width = u < 0x80 ? 1 : (u < 0x800 ? 2 : 3);
        if (written + width > uiUtf8Size) {
            break;
        }
        if (width == 1) {
            out[written] = static_cast<uint8_t>(u);
        } else if (width == 2) {
            out[written] = static_cast<uint8_t>(0xC0 | (u >> 6));
            out[written + 1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        } else {
            out[written] = static_cast<uint8_t>(0xE0 | (u >> 12));
            out[written + 1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
            out[written + 2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        }
        written += width;
    }
    *puiWritten = static_cast<uint32_t>(written);
    return 0;
}

uint32_t UKO_Utf8ToUcs2(const char* pcUtf8, uint32_t uiLen, uint8_t* pucUcs2, uint32_t uiCapacity,
                        uint32_t* puiUnits) {
    if (pcUtf8 == nullptr || pucUcs2 == nullptr || puiUnits == nullptr ||
        uiLen > uint64_t{uiCapacity} * 2) {
        return kFail;
    }
    const auto* src = reinterpret_cast<const uint8_t*>(pcUtf8);
    uint32_t units = 0;
    uint32_t i = 0;
    while (i < uiLen && units < uiCapacity) {
        const uint8_t lead = src[i];
        const uint32_t left = uiLen - i;
        uint32_t u = 0;
        if (lead < 0x80) {
            ++i;
            if (lead == 0) {
                continue;
            }
            u = lead;
        } else if (IsContinuation(lead) || lead >= 0xF0) {
            // A continuation byte cannot start a character, and a four-byte form (or a
            // byte that never starts one) has no UCS-2 unit.
            return kFail;
        } else if (lead >= 0xE0) {
            if (left >= 2) {
                const uint8_t second = src[i + 1];
                // E0 below A0 would spell a two-byte character in three bytes; ED from A0
                // on spells a surrogate half, which is no character.
                if (!IsContinuation(second) || (lead == 0xE0 && second < 0xA0) ||
                    (lead == 0xED && second >= 0xA0)) {
                    return kFail;
                }
            }
            if (left < 3) {
                break;
            }
            if (!IsContinuation(src[i + 2])) {
                return kFail;
            }
            u = ((lead & 0x0Fu) << 12) | ((src[i + 1] & 0x3Fu) << 6) | (src[i + 2] & 0x3Fu);
            i += 3;
        } else {
            // C0 and C1 would spell a one-byte character in two bytes.
            if (lead < 0xC2) {
                return kFail;
            }
            if (left < 2) {
                break;
            }
            if (!IsContinuation(src[i + 1])) {
                return kFail;
            }
            u = ((lead & 0x1Fu) << 6) | (src[i + 1] & 0x3Fu);
            i += 2;
        }
        pucUcs2[2 * uint64_t{units}] = static_cast<uint8_t>(u & 0xFF);
        pucUcs2[2 * uint64_t{units} + 1] = static_cast<uint8_t>(u >> 8);
        ++units;
    }
    *puiUnits = units;
    return 0;
}

uint32_t UKO_Ucs2ToGbk(const uint8_t* pucUcs2, uint32_t uiUcs2Len, char* pcGbk, uint32_t uiGbkSize,
                       uint32_t* puiWritten) {
    if (pucUcs2 == nullptr || pcGbk == nullptr || puiWritten == nullptr || uiUcs2Len % 2 != 0) {
        return kFail;
    }
    auto* out = reinterpret_cast<uint8_t*>(pcGbk);
    uint64_t written = 0;
    for (uint32_t i = 0; i < uiUcs2Len; i += 2) {
        uint16_t u = static_cast<uint16_t>(pucUcs2[i] | (pucUcs2[i + 1] << 8));
        if (u < 0x80) {
            if (written + 1 > uiGbkSize) {
                return kFail;
            }
            out[written++] = static_cast<uint8_t>(u);
            continue;
        }
        uint16_t code = UKO_UnicodeToGbkCode(u);
        if (code == 0 || written + 2 > uiGbkSize) {
            return kFail;
        }
        out[written] = static_cast<uint8_t>(code >> 8);
        out[written + 1] = static_cast<uint8_t>(code & 0xFF);
        written += 2;
    }
    *puiWritten = static_cast<uint32_t>(written);
    return 0;
}

// ---- Conversions ----------------------------------------------------------------------------------

uint32_t UKO_GbkToUtf8(const char* pcGbk, uint32_t uiLen, char** ppcOut, uint32_t* puiOutLen) {
    if (pcGbk == nullptr || ppcOut == nullptr || *ppcOut != nullptr || puiOutLen == nullptr) {
        return kFail;
    }
    if (uiLen == 0) {
        return 0;
    }
    const uint64_t ucs2Size = uint64_t{uiLen} * 2;
    uint8_t* ucs2 = BufferGet(ucs2Size);
    if (ucs2 == nullptr) {
        return kFail;
    }
    uint32_t ucs2Bytes = 0;
    if (UKO_GbkToUcs2(pcGbk, uiLen, ucs2, static_cast<uint32_t>(ucs2Size), &ucs2Bytes) != 0) {
        BufferFree(ucs2);
        return kFail;
    }
    // Up to three bytes per unit, and room for the NUL behind them.
    const uint64_t utf8Size = uint64_t{ucs2Bytes} * 2;
    uint8_t* utf8 = BufferGet(utf8Size + 1);
    uint32_t utf8Len = 0;
    if (utf8 == nullptr ||
        UKO_Ucs2ToUtf8(ucs2, ucs2Bytes / 2, reinterpret_cast<char*>(utf8), static_cast<uint32_t>(utf8Size),
                       &utf8Len) != 0) {
        BufferFree(utf8);
        BufferFree(ucs2);
        return kFail;
    }
    BufferFree(ucs2);
    utf8[utf8Len] = 0;
    *ppcOut = reinterpret_cast<char*>(utf8);
    *puiOutLen = utf8Len;
    return 0;
}

uint32_t UKO_Utf8ToGbk(const char* pcUtf8, uint32_t uiLen, char** ppcOut, uint32_t* puiOutLen) {
    if (pcUtf8 == nullptr || ppcOut == nullptr || *ppcOut != nullptr || puiOutLen == nullptr || uiLen == 0) {
        return kFail;
    }
    uint8_t* ucs2 = BufferGet(uint64_t{uiLen} * 2);
    if (ucs2 == nullptr) {
        return kFail;
    }
    uint32_t units = 0;
    if (UKO_Utf8ToUcs2(pcUtf8, uiLen, ucs2, uiLen, &units) != 0) {
        BufferFree(ucs2);
        return kFail;
    }
    // Two bytes per unit at most, and room for the NUL behind them.
    const uint64_t gbkSize = uint64_t{units} * 2;
    uint8_t* gbk = BufferGet(gbkSize + 1);
    uint32_t gbkLen = 0;
    if (gbk == nullptr ||
        UKO_Ucs2ToGbk(ucs2, units * 2, reinterpret_cast<char*>(gbk), static_cast<uint32_t>(gbkSize), &gbkLen) != 0) {
        BufferFree(gbk);
        BufferFree(ucs2);
        return kFail;
    }
    BufferFree(ucs2);
    gbk[gbkLen] = 0;
    *ppcOut = reinterpret_cast<char*>(gbk);
    *puiOutLen = gbkLen;
    return 0;
}

// ---- URLs -----------------------------------------------------------------------------------------

namespace {

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool UrlKeeps(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' ||
           c == '(' || c == ')' || c == '*' || c == '-' || c == '.' || c == '_' || c == '~';
}

}  // namespace

uint32_t UKO_UrlDecode(const char* pcSrc, char* pcDest) {
    if (pcSrc == nullptr || pcDest == nullptr) {
        return 0;
    }
    const auto* src = reinterpret_cast<const uint8_t*>(pcSrc);
    uint32_t out = 0;
    for (uint64_t i = 0; src[i] != 0;) {
        int hi = -1;
        int lo = -1;
        // The second digit is read only when the first is one: a "%" right before the
        // terminator never reads past it.
        if (src[i] == '%' && (hi = HexValue(src[i + 1])) >= 0 && (lo = HexValue(src[i + 2])) >= 0) {
            pcDest[out++] = static_cast<char>((hi << 4) | lo);
            i += 3;
        } else {
            pcDest[out++] = src[i] == '+' ? ' ' : static_cast<char>(src[i]);
            ++i;
        }
    }
    pcDest[out] = '\0';
    return out;
}

uint32_t UKO_UrlEncode(const char* pcSrc, uint32_t uiSrcLen, char* pcDest, uint32_t uiDestSize,
                       uint32_t* puiOutLen) {
    if (pcSrc == nullptr || pcDest == nullptr || puiOutLen == nullptr || uiDestSize < uint64_t{uiSrcLen} * 3) {
        return kFail;
    }
    static const char kHex[] = "0123456789ABCDEF";
    const auto* src = reinterpret_cast<const uint8_t*>(pcSrc);
    uint32_t out = 0;
    for (uint32_t i = 0; i < uiSrcLen && out < uiDestSize && src[i] != 0; ++i) {
        const uint8_t c = src[i];
        if (UrlKeeps(c)) {
            pcDest[out++] = static_cast<char>(c);
        } else {
            pcDest[out++] = '%';
            pcDest[out++] = kHex[c >> 4];
            pcDest[out++] = kHex[c & 0x0F];
        }
    }
    *puiOutLen = out;
    return 0;
}
