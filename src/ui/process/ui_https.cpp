// The package download client: one HTTPS GET of one file over a blocking socket.
//
// A gateway may send the reply head and the first body bytes in one TLS record, or
// split the head over several: the head is read until its empty line, and whatever
// came after it is kept and handed out first by the reads of the body. The body is
// taken as the package only when the status is 200 and no coding is applied to it, so
// an error page or a compressed stream is never saved as the package. The reads hand
// out no more than the announced length, and never a negative count: a read that only
// asks to be tried again (a signal, a record that carried no data) is tried again.
//
// OpenSSL writes to the socket with plain write(), which raises SIGPIPE when the
// gateway has gone or the socket was shut down; reads write too (the alert that a read
// failing on a cut connection sends). The calls that may write block SIGPIPE in the
// calling thread for their duration and discard one that became pending, so a dropped
// or aborted download never ends the client.

#include "ui_https.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "ui_common.h"
#include "ui_https_inner.h"
#include "uko_socket.h"

UiSslSession g_stSslSession = {-1, nullptr, nullptr, {}, 0, 0, 0, false};

namespace {

// Log module of the TLS connection's own lines.
constexpr uint32_t kLogNetc = 12;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "UI_Htons swaps the two bytes, which is network order only on a little-endian host");

// The request head, around the path and the host.
constexpr char kGet[] = "GET ";
constexpr char kVersionLine[] = " HTTP/1.1\r\n";
constexpr char kHost[] = "Host: ";
constexpr char kLineEnd[] = "\r\n";
constexpr char kFixedLines[] =
    "Accept: image/gif, image/jpeg, image/pjpeg, application/x-ms-application, "
    "application/xaml+xml, application/x-ms-xbap, *\\/*\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Accept-Language: zh-CN\r\n"
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/76.0.3809.132 Safari/537.36\r\n"
    "Connection: Keep-Alive\r\n"
    "\r\n";
static_assert(sizeof(kGet) - 1 + sizeof(kVersionLine) - 1 + sizeof(kHost) - 1 +
                      sizeof(kLineEnd) - 1 + sizeof(kFixedLines) - 1 ==
                  UI_HTTPS_REQUEST_FIXED_LEN,
              "the fixed lines of the request head");

constexpr char kLengthName[] = "Content-Length:";

// Guards the session's socket number and its abort mark: the downloading thread stores
// and closes the socket under it, and UI_SSL_Abort shuts the socket down under it.
pthread_mutex_t g_sessionLock = PTHREAD_MUTEX_INITIALIZER;

class SessionLocked {
public:
    SessionLocked() { (void)pthread_mutex_lock(&g_sessionLock); }
    ~SessionLocked() { (void)pthread_mutex_unlock(&g_sessionLock); }
    SessionLocked(const SessionLocked&) = delete;
    SessionLocked& operator=(const SessionLocked&) = delete;
};

// Closes the session's socket, if any.
void SocketForget() {
    SessionLocked locked;
    if (g_stSslSession.iSocket >= 0) {
        (void)UKO_SocketClose(g_stSslSession.iSocket);
        g_stSslSession.iSocket = -1;
    }
}

// Blocks SIGPIPE in the calling thread while it lives. A SIGPIPE that became pending
// meanwhile is taken off again before the old mask returns, unless the thread had it
// blocked already (then it was not ours to take).
class PipeSignalBlock {
public:
    PipeSignalBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
    }
    ~PipeSignalBlock() {
        if (!blocked_ || sigismember(&old_, SIGPIPE) == 1) {
            return;
        }
        const timespec none = {0, 0};
        while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
        }
        (void)pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool blocked_ = false;
};

// The errors after which a call is simply made again: the socket is blocking, so these
// mean that a signal interrupted it or that a record carried no application data.
bool Retryable(int err) {
    return err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE ||
           (err == SSL_ERROR_SYSCALL && errno == EINTR);
}

// Releases the session. After a failure the TLS connection is freed without a shutdown:
// a connection that failed must not be shut down.
void SessionRelease(bool bShutdown) {
    UiSslSession& s = g_stSslSession;
    if (s.pstSsl != nullptr) {
        if (bShutdown) {
            PipeSignalBlock block;
            ERR_clear_error();
            (void)SSL_shutdown(s.pstSsl);
        }
        SSL_free(s.pstSsl);
        s.pstSsl = nullptr;
    }
    if (s.pstCtx != nullptr) {
        SSL_CTX_free(s.pstCtx);
        s.pstCtx = nullptr;
    }
    SocketForget();
    s.uiBodyOff = 0;
    s.uiBodyEnd = 0;
    s.uvBodyLeft = 0;
    ERR_clear_error();
}

void SessionFail() { SessionRelease(false); }

// One SSL_read that delivers data: the count (> 0), or 0 with the error that ended it
// (SSL_ERROR_ZERO_RETURN when the peer closed the connection in order).
int SslReadSome(SSL* pstSsl, void* pBuf, int iLen, int* piErr) {
    PipeSignalBlock block;
    while (true) {
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(pstSsl, pBuf, iLen);
        if (n > 0) {
            return n;
        }
        const int err = SSL_get_error(pstSsl, n);
        if (!Retryable(err)) {
            *piErr = err;
            return 0;
        }
    }
}

// Connects a blocking socket; a connect that a signal interrupts goes on in the
// background, so it is waited for rather than made again.
bool SocketConnect(int32_t iFd, const sockaddr_in& stAddr) {
    if (UKO_SocketConnect(iFd, reinterpret_cast<const sockaddr*>(&stAddr), sizeof(stAddr)) == 0) {
        return true;
    }
    if (UKO_SocketErrnoGet() != EINTR) {
        return false;
    }
    pollfd p = {iFd, POLLOUT, 0};
    int r;
    do {
        r = poll(&p, 1, -1);
    } while (r < 0 && errno == EINTR);
    int soError = 0;
    socklen_t len = sizeof(soError);
    return r == 1 && UKO_SocketGetOpt(iFd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 &&
           soError == 0;
}

bool HasControl(const char* pcText, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(pcText[i]);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool NameIs(const char* pcLine, size_t len, const char* pcName, bool bAnyCase) {
    const size_t n = std::strlen(pcName);
    if (len < n) {
        return false;
    }
    return bAnyCase ? strncasecmp(pcLine, pcName, n) == 0 : std::memcmp(pcLine, pcName, n) == 0;
}

// The value of a header line after its name: blanks at both ends taken off.
void ValueGet(const char* pcLine, size_t len, size_t nameLen, const char** ppcValue,
              size_t* pValueLen) {
    size_t b = nameLen;
    size_t e = len;
    while (b < e && IsBlank(pcLine[b])) {
        ++b;
    }
    while (e > b && IsBlank(pcLine[e - 1])) {
        --e;
    }
    *ppcValue = pcLine + b;
    *pValueLen = e - b;
}

// A coding header's value is harmless when it is empty or exactly "identity".
bool CodingIsIdentity(const char* pcLine, size_t len, size_t nameLen) {
    const char* value;
    size_t valueLen;
    ValueGet(pcLine, len, nameLen, &value, &valueLen);
    return valueLen == 0 || (valueLen == 8 && strncasecmp(value, "identity", 8) == 0);
}

// A length value: decimal digits only, at most INT32_MAX.
bool LengthParse(const char* pcLine, size_t len, int32_t* piSize) {
    const char* value;
    size_t valueLen;
    ValueGet(pcLine, len, sizeof(kLengthName) - 1, &value, &valueLen);
    if (valueLen == 0) {
        return false;
    }
    uint64_t size = 0;
    for (size_t i = 0; i < valueLen; ++i) {
        if (value[i] < '0' || value[i] > '9') {
            return false;
        }
        size = size * 10 + static_cast<uint64_t>(value[i] - '0');
        if (size > static_cast<uint64_t>(INT32_MAX)) {
            return false;
        }
    }
    *piSize = static_cast<int32_t>(size);
    return true;
}

// The status code of a status line "HTTP/<version> <3 digits>[ <reason>]", or -1.
int32_t StatusParse(const char* pcLine, size_t len) {
    if (!NameIs(pcLine, len, "HTTP/", false)) {
        return -1;
    }
    size_t i = 5;
    while (i < len && pcLine[i] != ' ') {
        ++i;
    }
    if (i + 4 > len || (i + 4 < len && pcLine[i + 4] != ' ')) {
        return -1;
    }
    int32_t status = 0;
    for (size_t k = i + 1; k < i + 4; ++k) {
        if (pcLine[k] < '0' || pcLine[k] > '9') {
            return -1;
        }
        status = status * 10 + (pcLine[k] - '0');
    }
    return status;
}

}  // namespace

bool uiSslGmTlsAvailable() {
#if defined(VT_HAVE_GMTLS_CLIENT_METHOD)
    return true;
#else
    return false;
#endif
}

UiHttpsHeadResult uiHttpsHeadParse(const char* pcHead, size_t len, int32_t* piSize,
                                   int32_t* piStatus) {
    if (piSize != nullptr) {
        *piSize = 0;
    }
    if (piStatus != nullptr) {
        *piStatus = -1;
    }
    if (pcHead == nullptr) {
        return UI_HTTPS_HEAD_STATUS;
    }
    bool first = true;
    bool coded = false;
    bool lengthSeen = false;
    bool lengthValid = false;
    int32_t size = 0;
    int32_t status = -1;
    size_t pos = 0;
    while (pos < len) {
        const char* eol = static_cast<const char*>(std::memchr(pcHead + pos, '\n', len - pos));
        const size_t end = eol != nullptr ? static_cast<size_t>(eol - pcHead) : len;
        const char* line = pcHead + pos;
        size_t lineLen = end - pos;
        if (lineLen > 0 && line[lineLen - 1] == '\r') {
            --lineLen;
        }
        pos = end + 1;
        if (first) {
            first = false;
            status = StatusParse(line, lineLen);
            continue;
        }
        if (lineLen == 0) {
            break;  // the empty line ends the head
        }
        if (!lengthSeen && NameIs(line, lineLen, kLengthName, false)) {
            lengthSeen = true;
            lengthValid = LengthParse(line, lineLen, &size);
        } else if (NameIs(line, lineLen, "Content-Encoding:", true)) {
            coded = coded || !CodingIsIdentity(line, lineLen, sizeof("Content-Encoding:") - 1);
        } else if (NameIs(line, lineLen, "Transfer-Encoding:", true)) {
            coded = coded || !CodingIsIdentity(line, lineLen, sizeof("Transfer-Encoding:") - 1);
        }
    }
    if (piStatus != nullptr) {
        *piStatus = status;
    }
    if (status != 200) {
        return UI_HTTPS_HEAD_STATUS;
    }
    if (coded) {
        return UI_HTTPS_HEAD_CODING;
    }
    if (!lengthSeen) {
        return UI_HTTPS_HEAD_NO_LENGTH;
    }
    if (!lengthValid) {
        return UI_HTTPS_HEAD_BAD_LENGTH;
    }
    if (piSize != nullptr) {
        *piSize = size;
    }
    return UI_HTTPS_HEAD_OK;
}

uint16_t UI_Htons(int32_t iValue) { return htons(static_cast<uint16_t>(iValue & 0xFFFF)); }

uint32_t UI_SSL_HttpsConnect(const char* pcAddress, int32_t iPort) {
    // Whatever an abandoned download left behind goes first: one download at a time.
    SessionRelease(true);
    if (pcAddress == nullptr || pcAddress[0] == '\0' || (iPort & 0xFFFF) >= 0xFFFF) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Socket connect][reason:invalid param]", UI_LOG_TAG);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                       "[%lu][Update Client][Socket connect][UI_SSL_HttpsConnect------]",
                       UI_LOG_TAG);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(pcAddress);
    addr.sin_port = UI_Htons(iPort);
    const int32_t fd = UKO_SocketCreate(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Socket connect][socket init failed]", UI_LOG_TAG);
        return 1;
    }
    // The socket belongs to the session before the connect, so that an abort can end a
    // connect that waits for an answer.
    bool aborted;
    {
        SessionLocked locked;
        aborted = g_stSslSession.bAborted;
        if (!aborted) {
            g_stSslSession.iSocket = fd;
        }
    }
    if (aborted) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Socket connect][reason:download aborted]",
                           UI_LOG_TAG);
        (void)UKO_SocketClose(fd);
        return 1;
    }
    if (!SocketConnect(fd, addr)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Socket connect][connect init failed]", UI_LOG_TAG);
        SocketForget();
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Update Client][Socket connect][connect success]", UI_LOG_TAG);
    return 0;
}

uint32_t UI_SSL_Create(uint32_t uiIgmEnable) {
    UiSslSession& s = g_stSslSession;
    (void)OPENSSL_init_ssl(0, nullptr);
    (void)OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS,
                              nullptr);
    (void)OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                           nullptr);
    // A session set up before is not carried into this one.
    if (s.pstSsl != nullptr || s.pstCtx != nullptr) {
        if (s.pstSsl != nullptr) {
            SSL_free(s.pstSsl);
            s.pstSsl = nullptr;
        }
        if (s.pstCtx != nullptr) {
            SSL_CTX_free(s.pstCtx);
            s.pstCtx = nullptr;
        }
    }
    const SSL_METHOD* method = nullptr;
    if (uiIgmEnable != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][Update Client][is igmEnable]",
                           UI_LOG_TAG);
#if defined(VT_HAVE_GMTLS_CLIENT_METHOD)
        method = GMTLS_client_method();
#else
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Create failed][reason:GM TLS client method "
                           "is not available in this build]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
#endif
    } else {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][Update Client][is not igmEnable]",
                           UI_LOG_TAG);
        method = TLS_client_method();
    }
    s.pstCtx = SSL_CTX_new(method);
    if (s.pstCtx == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Create failed][reason:creat g_sslContext err]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    s.pstSsl = SSL_new(s.pstCtx);
    if (s.pstSsl == nullptr) {
        (void)DDM_LogWrite(kLogNetc, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Create failed][reason:creat new ssl err]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    // The body comes as a stream of full records: taking whatever the socket holds in
    // one system call, rather than each record's header and body apart, halves the
    // calls of a download.
    SSL_set_read_ahead(s.pstSsl, 1);
    if (s.iSocket < 0 || SSL_set_fd(s.pstSsl, s.iSocket) != 1) {
        (void)DDM_LogWrite(kLogNetc, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Create failed][reason:Set SSL FD Failed]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    int r;
    {
        PipeSignalBlock block;
        do {
            ERR_clear_error();
            errno = 0;
            r = SSL_connect(s.pstSsl);
        } while (r != 1 && Retryable(SSL_get_error(s.pstSsl, r)));
    }
    if (r != 1) {
        (void)DDM_LogWrite(kLogNetc, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Create failed][reason:connect Failed]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    (void)DDM_LogWrite(kLogNetc, DDM_LOG_INFO, "[%lu][Update Client][SSL connect success]",
                       UI_LOG_TAG);
    return 0;
}

uint32_t UI_SSL_HttpsRequest(const char* pcPath, const char* pcHost) {
    UiSslSession& s = g_stSslSession;
    if (pcPath == nullptr || pcHost == nullptr || pcPath[0] == '\0' || pcHost[0] == '\0') {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:invalid param]", UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    const size_t pathLen = strnlen(pcPath, UI_HTTPS_REQUEST_SIZE);
    const size_t hostLen = strnlen(pcHost, UI_HTTPS_REQUEST_SIZE);
    if (pathLen + hostLen > UI_HTTPS_PATH_HOST_MAX) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:path and host too long]",
                           UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    // A control character would end the request line or the host line early and let
    // the rest pass as lines of their own.
    if (HasControl(pcPath, pathLen) || HasControl(pcHost, hostLen)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:invalid param]", UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    if (s.pstSsl == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:no connection]", UI_LOG_TAG);
        SessionFail();
        return 1;
    }
    char head[UI_HTTPS_REQUEST_SIZE];
    std::memset(head, 0, sizeof(head));
    size_t len = 0;
    auto put = [&](const char* text, size_t n) {
        std::memcpy(head + len, text, n);
        len += n;
    };
    put(kGet, sizeof(kGet) - 1);
    put(pcPath, pathLen);
    put(kVersionLine, sizeof(kVersionLine) - 1);
    put(kHost, sizeof(kHost) - 1);
    put(pcHost, hostLen);
    put(kLineEnd, sizeof(kLineEnd) - 1);
    put(kFixedLines, sizeof(kFixedLines) - 1);

    int r;
    int err = SSL_ERROR_NONE;
    {
        PipeSignalBlock block;
        do {
            ERR_clear_error();
            errno = 0;
            r = SSL_write(s.pstSsl, head, static_cast<int>(len));
            err = r > 0 ? SSL_ERROR_NONE : SSL_get_error(s.pstSsl, r);
        } while (r <= 0 && Retryable(err));
    }
    if (r != static_cast<int>(len)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:Failed to write data][error "
                           ":%d]",
                           UI_LOG_TAG, err);
        SessionFail();
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Update Client][SSL Download][GM Https Request success]", UI_LOG_TAG);
    return 0;
}

int32_t UI_SSL_GetFileSize() {
    UiSslSession& s = g_stSslSession;
    s.uiBodyOff = 0;
    s.uiBodyEnd = 0;
    s.uvBodyLeft = 0;
    if (s.pstSsl == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Get File size ][reason:no connection]", UI_LOG_TAG);
        SessionFail();
        return 0;
    }
    // Read until the empty line that ends the head; the bytes after it are body.
    uint32_t have = 0;
    uint32_t headLen = 0;
    while (headLen == 0) {
        if (have == UI_HTTPS_HEAD_MAX) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File size ][reason:reply head longer "
                               "than %u bytes]",
                               UI_LOG_TAG, UI_HTTPS_HEAD_MAX);
            SessionFail();
            return 0;
        }
        int err = SSL_ERROR_NONE;
        const int n = SslReadSome(s.pstSsl, s.acHead + have,
                                  static_cast<int>(UI_HTTPS_HEAD_MAX - have), &err);
        if (n == 0) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File size ][reason:Failed to write "
                               "data][error :%d]",
                               UI_LOG_TAG, err);
            SessionFail();
            return 0;
        }
        // The end mark may straddle two reads.
        const uint32_t from = have >= 3 ? have - 3 : 0;
        have += static_cast<uint32_t>(n);
        for (uint32_t i = from; i + 4 <= have; ++i) {
            if (std::memcmp(s.acHead + i, "\r\n\r\n", 4) == 0) {
                headLen = i + 4;
                break;
            }
        }
    }
    s.acHead[have] = '\0';

    int32_t size = 0;
    int32_t status = -1;
    switch (uiHttpsHeadParse(s.acHead, headLen, &size, &status)) {
        case UI_HTTPS_HEAD_OK:
            break;
        case UI_HTTPS_HEAD_STATUS:
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File size ][reason:reply status is not "
                               "200][status :%d]",
                               UI_LOG_TAG, status);
            SessionFail();
            return 0;
        case UI_HTTPS_HEAD_CODING:
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File size ][reason:body is sent with a "
                               "coding other than identity]",
                               UI_LOG_TAG);
            SessionFail();
            return 0;
        case UI_HTTPS_HEAD_BAD_LENGTH:
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File size ][reason:invalid "
                               "Content-Length]",
                               UI_LOG_TAG);
            SessionFail();
            return 0;
        case UI_HTTPS_HEAD_NO_LENGTH:
            break;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Update Client][Get File size ][Content-Length: %d]", UI_LOG_TAG, size);
    if (size == 0) {
        SessionFail();
        return 0;
    }
    s.uiBodyOff = headLen;
    s.uiBodyEnd = have;
    s.uvBodyLeft = static_cast<uint64_t>(size);
    return size;
}

int32_t UI_SSL_Read(char* pcBuffer) {
    UiSslSession& s = g_stSslSession;
    if (pcBuffer == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][reason:invalid param]", UI_LOG_TAG);
        SessionFail();
        return 0;
    }
    if (s.pstSsl == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][Get File][reason:no connection]", UI_LOG_TAG);
        SessionFail();
        return 0;
    }
    if (s.uvBodyLeft == 0) {
        return 0;  // the announced body is complete
    }
    const uint32_t want =
        s.uvBodyLeft < UI_SSL_READ_SIZE ? static_cast<uint32_t>(s.uvBodyLeft) : UI_SSL_READ_SIZE;
    uint32_t n = 0;
    if (s.uiBodyOff < s.uiBodyEnd) {
        // Body bytes that came with the head go first.
        n = s.uiBodyEnd - s.uiBodyOff < want ? s.uiBodyEnd - s.uiBodyOff : want;
        std::memcpy(pcBuffer, s.acHead + s.uiBodyOff, n);
        s.uiBodyOff += n;
    } else {
        int err = SSL_ERROR_NONE;
        const int r = SslReadSome(s.pstSsl, pcBuffer, static_cast<int>(want), &err);
        if (r == 0) {
            if (err == SSL_ERROR_ZERO_RETURN) {
                (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                                   "[%lu][Update Client][Get File][connection closed by peer, "
                                   "%llu bytes missing]",
                                   UI_LOG_TAG, static_cast<unsigned long long>(s.uvBodyLeft));
                return 0;
            }
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][Update Client][Get File][reason:Failed to read data][error "
                               ":%d]",
                               UI_LOG_TAG, err);
            SessionFail();
            return 0;
        }
        n = static_cast<uint32_t>(r);
    }
    std::memset(pcBuffer + n, 0, UI_SSL_READ_SIZE - n);
    s.uvBodyLeft -= n;
    return static_cast<int32_t>(n);
}

void UI_SSL_Close() {
    SessionRelease(true);
    SessionLocked locked;
    g_stSslSession.bAborted = false;
}

void UI_SSL_Abort() {
    {
        SessionLocked locked;
        g_stSslSession.bAborted = true;
        if (g_stSslSession.iSocket >= 0) {
            (void)UKO_SocketShutdown(g_stSslSession.iSocket, SHUT_RDWR);
        }
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][Update Client][download aborted]",
                       UI_LOG_TAG);
}
