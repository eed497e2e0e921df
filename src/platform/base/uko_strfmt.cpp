// The string library's functions that go through the bounded library: the fill of the
// sized operations and the conversions that format or scan a text.

#include <cstring>

#include "uko_errcode.h"
#include "uko_secfunc.h"
#include "uko_string.h"

namespace {

template <typename F>
void* EntryOf(F* fn) {
    return reinterpret_cast<void*>(fn);
}

}  // namespace

void* UKO_SafeMemSetN(void* pDest, size_t destSize, uint8_t ucValue, size_t count) {
    if (count == 0) {
        return pDest;
    }
    if (pDest == nullptr || destSize == 0) {
        return nullptr;
    }
    size_t n = count;
    if (count > destSize) {
        UKO_MEM_OVERFLOW_HOOK_PF hook = ukoMemOverflowHookGet();
        size_t h = destSize;
        if (hook != nullptr) {
            h = hook(EntryOf(UKO_SafeMemSetN), pDest, destSize, count);
            h = h < destSize ? h : destSize;
        }
        if (h == 0) {
            return nullptr;
        }
        n = h;
    }
    if (UKO_memset_s(pDest, n, ucValue, n) != 0) {
        return nullptr;
    }
    return pDest;
}

uint32_t UKO_IntToStr(int32_t iValue, char* pscBuf) {
    if (pscBuf == nullptr) {
        return UKO_EINVAL;
    }
    // 12 bytes hold "-2147483648" and its terminator.
    return UKO_snprintf_s(pscBuf, 12, 11, "%d", iValue) < 0 ? UKO_EINVAL : 0u;
}

char* UKO_IpToStr(uint32_t uiAddr, char* pscBuf) {
    if (pscBuf == nullptr) {
        return nullptr;
    }
    (void)UKO_snprintf_s(pscBuf, 16, 15, "%d.%d.%d.%d", static_cast<int>((uiAddr >> 24) & 0xFF),
                         static_cast<int>((uiAddr >> 16) & 0xFF),
                         static_cast<int>((uiAddr >> 8) & 0xFF), static_cast<int>(uiAddr & 0xFF));
    return pscBuf;
}

int32_t UKO_HexStrToUint(const char* pscStr, uint32_t* puiOut) {
    if (pscStr == nullptr || puiOut == nullptr) {
        return -1;
    }
    unsigned int value = 0;
    if (UKO_sscanf_s(pscStr, "%x", &value) != 1) {
        *puiOut = 0;
        return -1;
    }
    *puiOut = value;
    return 0;
}

uint32_t UKO_StrToUint32(const char* pscStr, uint32_t* puiOut) {
    if (pscStr == nullptr || puiOut == nullptr) {
        return UKO_EINVAL;
    }
    unsigned int value = 0;
    if (UKO_sscanf_s(pscStr, "%u", &value) != 1) {
        *puiOut = 0;
        return UKO_EINVAL;
    }
    *puiOut = value;
    return 0;
}

uint32_t UKO_StrToUint64(const char* pscStr, uint64_t* pullOut) {
    static_assert(sizeof(unsigned long) == sizeof(uint64_t), "%lu reads 64 bits");
    if (pscStr == nullptr || pullOut == nullptr) {
        return UKO_EINVAL;
    }
    unsigned long value = 0;
    if (UKO_sscanf_s(pscStr, "%lu", &value) != 1) {
        *pullOut = 0;
        return UKO_EINVAL;
    }
    *pullOut = value;
    return 0;
}

int32_t UKO_StrToIpv6(const char* pscStr, uint16_t pusOut[8]) {
    if (pscStr == nullptr || pusOut == nullptr) {
        return -1;
    }
    size_t len = std::strlen(pscStr);
    if (len < 2 || len >= 40) {
        return -1;
    }
    char text[40];
    if (UKO_SafeStrCpyN(text, sizeof(text), pscStr) == nullptr) {
        return -1;
    }
    const char* p = UKO_StrTrim(text);
    const size_t trimmed = std::strlen(p);
    if (trimmed >= 2 && p[trimmed - 1] == ':' && p[trimmed - 2] != ':') {
        return -1;  // a single colon at the end stands for no group ("1:2:3:4:5:6:7:")
    }

    // Separators are counted with the terminator, so a "::" at the start or the end
    // makes one more than there are groups: seven groups and such a gap give nine.
    uint16_t groups[9] = {0};
    char digits[5] = {0};
    size_t digitCount = 0;
    uint32_t separators = 0;
    uint32_t groupCount = 0;
    uint32_t emptyGroups = 0;
    uint32_t separatorsAtGap = 0;
    for (;; ++p) {
        const char c = *p;
        if (UKO_IsXDigit(c) != 0) {
            if (digitCount == 4) {
                return -1;
            }
            digits[digitCount++] = c;
            continue;
        }
        if (c != ':' && c != '\0') {
            return -1;  // among them the dots of an embedded IPv4 part
        }
        if (++separators > 9) {
            return -1;
        }
        if (digitCount == 0) {
            if (c == ':') {
                // Two empty groups make the one "::" gap (or a leading "::"); a third,
                // or a second gap further on, is refused.
                if (emptyGroups == 2 || (emptyGroups == 1 && separators > 2)) {
                    return -1;
                }
                ++emptyGroups;
                separatorsAtGap = separators;
            }
        } else {
            digits[digitCount] = '\0';
            uint32_t value = 0;
            if (UKO_HexStrToUint(digits, &value) != 0) {
                return -1;
            }
            groups[separators - 1] = static_cast<uint16_t>(value);
            ++groupCount;
            digitCount = 0;
        }
        if (c == '\0') {
            break;
        }
    }
    // Without a gap there are eight groups; a gap stands for at least one zero group.
    if (separators < 2 || (emptyGroups == 0 && groupCount != 8) ||
        (emptyGroups != 0 && groupCount > 7) || (emptyGroups == 1 && separatorsAtGap == 1)) {
        return -1;
    }

    std::memset(pusOut, 0, 8 * sizeof(uint16_t));
    if (separators == 8) {
        std::memcpy(pusOut, groups, 8 * sizeof(uint16_t));
        return 0;
    }
    // Groups before the gap go to the front, groups after it to the end; the gap
    // between them stays zero.
    const uint32_t before = separatorsAtGap - 1;
    const uint32_t after = separators - separatorsAtGap;
    for (uint32_t i = 0; i < before; ++i) {
        pusOut[i] = groups[i];
    }
    for (uint32_t i = 0; i < after; ++i) {
        pusOut[8 - after + i] = groups[separatorsAtGap + i];
    }
    return 0;
}
