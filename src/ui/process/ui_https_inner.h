#pragma once
// The download client's session and its reply-head parser. For the client itself and
// its tests.

#include <cstddef>
#include <cstdint>

#include "ui_https.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

struct UiSslSession {
    // -1 when there is none (descriptor 0 is a socket like any other). Stored and closed
    // under the session's lock, which UI_SSL_Abort takes to shut it down.
    int32_t iSocket;
    SSL_CTX* pstCtx;
    SSL* pstSsl;
    // The reply head as read, and after it the body bytes that came in the same reads:
    // acHead[uiBodyOff, uiBodyEnd) is still to be delivered by UI_SSL_Read.
    char acHead[UI_HTTPS_HEAD_MAX + 1];
    uint32_t uiBodyOff;
    uint32_t uiBodyEnd;
    // Body bytes the head announced and UI_SSL_Read has not yet delivered.
    uint64_t uvBodyLeft;
    // Set by UI_SSL_Abort, under the session's lock; cleared by UI_SSL_Close.
    bool bAborted;
};

extern UiSslSession g_stSslSession;

// true when this build's OpenSSL offers the GM/T client method.
bool uiSslGmTlsAvailable();

// What a reply head says about the body.
enum UiHttpsHeadResult : uint32_t {
    UI_HTTPS_HEAD_OK = 0,          // status 200, identity coding, a valid length
    UI_HTTPS_HEAD_STATUS = 1,      // no status line, or a status other than 200
    UI_HTTPS_HEAD_CODING = 2,      // a content or transfer coding other than identity
    UI_HTTPS_HEAD_NO_LENGTH = 3,   // no "Content-Length:" line (the name is case-sensitive)
    UI_HTTPS_HEAD_BAD_LENGTH = 4,  // a length that is no decimal number up to INT32_MAX
};

// Parses a reply head of len bytes, from the status line up to (not necessarily
// including) its empty line. The size (only with UI_HTTPS_HEAD_OK, else 0) and the
// status code (-1 when the status line cannot be read) are written when the pointers
// are not null.
UiHttpsHeadResult uiHttpsHeadParse(const char* pcHead, size_t len, int32_t* piSize,
                                   int32_t* piStatus);
