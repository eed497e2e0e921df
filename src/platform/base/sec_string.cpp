// Bounded memory and string functions of the platform's bounds-checking library, and
// the library's version query.
//
// Every function checks its arguments in a fixed order and answers with one of the six
// result codes of sec_lib.h. A code of 128 or above means the destination was reset:
// the memory functions reset all destMax bytes, the string functions only the first
// byte (so bytes already copied stay where they are).

#include <cstdint>
#include <cstring>

#include "sec_lib.h"

namespace {

constexpr char kVersionBanner[] = "Morvex Secure C 2.1";
constexpr uint16_t kVersionCode = 0x0201;
static_assert(sizeof(kVersionBanner) == 20, "the banner is copied with its terminator");

// Copies up to this many bytes in a byte loop; a longer string goes in one block copy.
constexpr size_t kSmallCopy = 12;

bool DestMaxValid(size_t destMax) { return destMax != 0 && destMax <= SEC_MAX_SIZE; }

uintptr_t Addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// True when the n-byte regions at a and b share a byte. Regions that only touch, and
// regions of 0 bytes, do not overlap.
bool RegionsOverlap(const void* a, const void* b, size_t n) {
    const uintptr_t x = Addr(a);
    const uintptr_t y = Addr(b);
    return (x < y && x + n > y) || (y < x && y + n > x);
}

// Full argument check of strcpy_s, reached only when its fast path was refused: finds
// the first rule that fails. Measures the source no further than destMax bytes, which
// is enough to tell whether it fits.
secure_errno strcpy_check(char* strDest, size_t destMax, const char* strSrc) {
    if (!DestMaxValid(destMax)) {
        return SEC_ERANGE;
    }
    if (strDest == nullptr) {
        return SEC_EINVAL;
    }
    if (strSrc == nullptr) {
        strDest[0] = '\0';
        return SEC_EINVAL_AND_RESET;
    }
    if (strnlen(strSrc, destMax) + 1 > destMax) {
        strDest[0] = '\0';
        return SEC_ERANGE_AND_RESET;
    }
    // Only a string copied onto itself that fits gets here: nothing to copy.
    return SEC_EOK;
}

// Full argument check of strncpy_s for calls its fast path refused. The source is read
// at most count bytes far: it may be a fixed-width field without a terminator.
secure_errno strncpy_check(char* strDest, size_t destMax, const char* strSrc, size_t count) {
    if (!DestMaxValid(destMax)) {
        return SEC_ERANGE;
    }
    if (strDest == nullptr) {
        return SEC_EINVAL;
    }
    if (strSrc == nullptr) {
        strDest[0] = '\0';
        return SEC_EINVAL_AND_RESET;
    }
    if (count > SEC_MAX_SIZE) {
        strDest[0] = '\0';
        return SEC_ERANGE_AND_RESET;
    }
    if (count == 0) {
        // An empty result is a success.
        strDest[0] = '\0';
        return SEC_EOK;
    }
    if (strnlen(strSrc, count) + 1 > destMax) {
        strDest[0] = '\0';
        return SEC_ERANGE_AND_RESET;
    }
    return SEC_EOK;
}

bool IsDelimiter(char c, const char* strDelimit) {
    for (const char* d = strDelimit; *d != '\0'; ++d) {
        if (*d == c) {
            return true;
        }
    }
    return false;
}

// The checks memcpy_s and memmove_s share, in their order; SEC_EOK lets the copy go
// on. A failure past the destination checks resets all destMax bytes.
secure_errno MemArgsCheck(void* dest, size_t destMax, const void* src, size_t count) {
    if (!DestMaxValid(destMax)) {
        return SEC_ERANGE;
    }
    if (dest == nullptr) {
        return SEC_EINVAL;
    }
    if (src == nullptr) {
        memset(dest, 0, destMax);
        return SEC_EINVAL_AND_RESET;
    }
    if (count > destMax) {
        memset(dest, 0, destMax);
        return SEC_ERANGE_AND_RESET;
    }
    return SEC_EOK;
}

}  // namespace

// Copies count bytes. Refuses overlapping regions (the caller asked for a copy, and an
// overlapping copy would silently corrupt the source); a region copied onto itself is
// already in place.
secure_errno memcpy_s(void* dest, size_t destMax, const void* src, size_t count) {
    const secure_errno rc = MemArgsCheck(dest, destMax, src, count);
    if (rc != SEC_EOK) {
        return rc;
    }
    if (dest == src) {
        return SEC_EOK;
    }
    if (RegionsOverlap(dest, src, count)) {
        memset(dest, 0, destMax);
        return SEC_EOVERLAP_AND_RESET;
    }
    if (count != 0) {
        memcpy(dest, src, count);
    }
    return SEC_EOK;
}

// Moves count bytes as if through a temporary, so overlap is never an error.
secure_errno memmove_s(void* dest, size_t destMax, const void* src, size_t count) {
    const secure_errno rc = MemArgsCheck(dest, destMax, src, count);
    if (rc != SEC_EOK) {
        return rc;
    }
    if (dest == src || count == 0) {
        return SEC_EOK;
    }
    memmove(dest, src, count);
    return SEC_EOK;
}

// Fills count bytes with the low byte of c. A count that does not fit still fills the
// whole destination, so a caller that ignores the code never reads stale bytes.
secure_errno memset_s(void* dest, size_t destMax, int c, size_t count) {
    if (!DestMaxValid(destMax)) {
        return SEC_ERANGE;
    }
    if (dest == nullptr) {
        return SEC_EINVAL;
    }
    if (count > destMax) {
        memset(dest, c & 0xFF, destMax);
        return SEC_ERANGE_AND_RESET;
    }
    if (count != 0) {
        memset(dest, c & 0xFF, count);
    }
    return SEC_EOK;
}

// Copies a string with its terminator. The fast path handles every call with valid
// arguments: it measures the source once and copies it once; anything else goes whole
// to strcpy_check, which names the first broken rule.
secure_errno strcpy_s(char* strDest, size_t destMax, const char* strSrc) {
    if (!DestMaxValid(destMax) || strDest == nullptr || strSrc == nullptr || strDest == strSrc) {
        return strcpy_check(strDest, destMax, strSrc);
    }
    // Reading destMax bytes is enough: a source that long cannot fit anyway.
    const size_t n = strnlen(strSrc, destMax) + 1;
    if (n > destMax) {
        return strcpy_check(strDest, destMax, strSrc);
    }
    if (RegionsOverlap(strDest, strSrc, n)) {
        strDest[0] = '\0';
        return SEC_EOVERLAP_AND_RESET;
    }
    if (n <= kSmallCopy) {
        for (size_t i = 0; i < n; ++i) {
            strDest[i] = strSrc[i];
        }
    } else {
        memcpy(strDest, strSrc, n);
    }
    return SEC_EOK;
}

// Copies at most count bytes of a string and always terminates the result. The source
// is read at most count bytes far, so a fixed-width field without a terminator is a
// valid source.
secure_errno strncpy_s(char* strDest, size_t destMax, const char* strSrc, size_t count) {
    if (!DestMaxValid(destMax) || strDest == nullptr || strSrc == nullptr || count == 0 ||
        count > SEC_MAX_SIZE) {
        return strncpy_check(strDest, destMax, strSrc, count);
    }
    // The bytes the result needs, terminator included: the shorter of count and the
    // source, plus one.
    const size_t copied = strnlen(strSrc, count);
    const size_t n = copied + 1;
    if (n > destMax) {
        strDest[0] = '\0';
        return SEC_ERANGE_AND_RESET;
    }
    if (strDest != strSrc && RegionsOverlap(strDest, strSrc, n)) {
        strDest[0] = '\0';
        return SEC_EOVERLAP_AND_RESET;
    }
    if (strDest != strSrc) {
        memcpy(strDest, strSrc, copied);
    }
    strDest[copied] = '\0';
    return SEC_EOK;
}

// Appends a string. The append walks the destination once, watching for the point
// where it would run into the source (which lies after the destination) or read the
// destination as its own source (source before the destination); either is an overlap.
secure_errno strcat_s(char* strDest, size_t destMax, const char* strSrc) {
    if (!DestMaxValid(destMax)) {
        return SEC_ERANGE;
    }
    if (strDest == nullptr) {
        return SEC_EINVAL;
    }
    if (strSrc == nullptr) {
        strDest[0] = '\0';
        return SEC_EINVAL_AND_RESET;
    }

    size_t room = destMax;
    char* write = strDest;
    const char* read = strSrc;
    const bool destFirst = Addr(strDest) < Addr(strSrc);

    // Find the end of the existing text.
    while (room > 0 && *write != '\0') {
        if (destFirst && write == strSrc) {
            strDest[0] = '\0';
            return SEC_EOVERLAP_AND_RESET;
        }
        ++write;
        --room;
    }
    if (room == 0) {
        // No terminator within destMax bytes: not a string to append to.
        strDest[0] = '\0';
        return SEC_EINVAL_AND_RESET;
    }

    for (;;) {
        const char c = *read++;
        *write++ = c;
        if (c == '\0') {
            break;
        }
        if (--room == 0) {
            break;
        }
        if (destFirst ? (write == strSrc) : (read == strDest)) {
            strDest[0] = '\0';
            return SEC_EOVERLAP_AND_RESET;
        }
    }
    if (room == 0) {
        // The last byte copied was not the terminator and no place is left for one.
        strDest[0] = '\0';
        return SEC_ERANGE_AND_RESET;
    }
    return SEC_EOK;
}

// Splits a string at any byte of strDelimit. The position reached is kept only in the
// caller's context, so two threads may split two strings at once.
char* strtok_s(char* strToken, const char* strDelimit, char** context) {
    if (strDelimit == nullptr || context == nullptr) {
        return nullptr;
    }
    char* pos = strToken;
    if (pos == nullptr) {
        if (*context == nullptr) {
            return nullptr;
        }
        pos = *context;
    }
    while (*pos != '\0' && IsDelimiter(*pos, strDelimit)) {
        ++pos;
    }
    char* token = pos;
    while (*pos != '\0' && !IsDelimiter(*pos, strDelimit)) {
        ++pos;
    }
    if (*pos != '\0') {
        *pos = '\0';
        ++pos;
    }
    *context = pos;
    return *token != '\0' ? token : nullptr;
}

// Copies the banner with its terminator (a buffer too small for all of it is zeroed and
// gets no text) and stores the version code. Reports nothing.
void secure_lib_version_get(char* verStr, int32_t bufSize, uint16_t* verNumber) {
    if (verStr != nullptr && bufSize >= 1) {
        (void)memcpy_s(verStr, static_cast<size_t>(bufSize), kVersionBanner,
                       sizeof(kVersionBanner));
    }
    if (verNumber != nullptr) {
        *verNumber = kVersionCode;
    }
}
