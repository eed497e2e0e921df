// Socket adaptation: thin wrappers over the system's socket calls.

#include "uko_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <vector>

#include "uko_secfunc.h"

namespace {

constexpr uint32_t kMaxIoLen = 0x7FFFFFFF;  // the most one call moves, so counts fit int32

int32_t Status(int rc) { return rc == 0 ? 0 : -1; }

size_t IoLen(uint32_t uiLen) { return uiLen > kMaxIoLen ? kMaxIoLen : uiLen; }

timespec Now() {
    timespec ts{};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

// A blocking socket call interrupted by a signal transferred nothing and may simply be
// made again, but a socket time-out would then start afresh with every signal, and a
// steady stream of signals would keep the call waiting for ever. So when the socket has
// a time-out in this direction (option SO_RCVTIMEO or SO_SNDTIMEO), wait only for what
// is left of it since the call began, and only then call again. false: the time-out ran
// out (errno EAGAIN, as the system reports an expired socket time-out) or the wait
// failed (its errno).
bool ResumeAfterSignal(int fd, int option, short events, const timespec& start) {
    timeval limit{};
    socklen_t len = sizeof(limit);
    if (getsockopt(fd, SOL_SOCKET, option, &limit, &len) != 0) {
        return false;
    }
    if (limit.tv_sec == 0 && limit.tv_usec == 0) {
        return true;  // no time-out: the caller asked to wait for as long as it takes
    }
    const int64_t limitNs = static_cast<int64_t>(limit.tv_sec) * 1000000000 +
                            static_cast<int64_t>(limit.tv_usec) * 1000;
    for (;;) {
        const timespec now = Now();
        const int64_t spentNs = static_cast<int64_t>(now.tv_sec - start.tv_sec) * 1000000000 +
                                (now.tv_nsec - start.tv_nsec);
        const int64_t leftNs = limitNs - spentNs;
        if (leftNs <= 0) {
            errno = EAGAIN;
            return false;
        }
        const int64_t leftMs = (leftNs + 999999) / 1000000;
        pollfd pfd{fd, events, 0};
        const int rc = poll(&pfd, 1, leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs));
        if (rc > 0) {
            return true;
        }
        if (rc == 0) {
            errno = EAGAIN;
            return false;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Runs one blocking socket call, making it again after each interruption as above.
template <typename Call>
ssize_t Restarting(int fd, int option, short events, Call call) {
    const timespec start = Now();
    for (;;) {
        const ssize_t rc = call();
        if (rc >= 0 || errno != EINTR) {
            return rc;
        }
        if (!ResumeAfterSignal(fd, option, events, start)) {
            return -1;
        }
    }
}

// The host entry of UKO_GetHostByName and the buffer it points into, one per thread.
struct HostEntry {
    hostent stEntry{};
    std::vector<char> buffer = std::vector<char>(1024);
};
thread_local HostEntry t_host;

constexpr size_t kHostBufferLimit = 1 << 20;  // a name with more data than this is refused

int32_t BlockingFlagSet(int32_t iFd, bool nonBlocking) {
    const int flags = fcntl(iFd, F_GETFL);
    if (flags == -1) {
        return -1;
    }
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return Status(fcntl(iFd, F_SETFL, wanted));
}

int32_t TimeoutSet(int32_t iFd, int option, uint32_t uiMs) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(uiMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((uiMs % 1000) * 1000);
    return Status(setsockopt(iFd, SOL_SOCKET, option, &tv, sizeof(tv)));
}

}  // namespace

int32_t UKO_SocketCreate(int32_t iDomain, int32_t iType, int32_t iProtocol) {
    return socket(iDomain, iType, iProtocol);
}

int32_t UKO_SocketBind(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiAddrLen) {
    return Status(bind(iFd, pstAddr, uiAddrLen));
}

int32_t UKO_SocketConnect(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiAddrLen) {
    errno = 0;
    return Status(connect(iFd, pstAddr, uiAddrLen));
}

int32_t UKO_SocketListen(int32_t iFd, int32_t iBacklog) { return Status(listen(iFd, iBacklog)); }

int32_t UKO_SocketAccept(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen) {
    // An address length restored before each try: an interrupted accept may have
    // written it.
    const socklen_t inLen = puiAddrLen != nullptr ? *puiAddrLen : 0;
    return static_cast<int32_t>(Restarting(iFd, SO_RCVTIMEO, POLLIN, [&]() -> ssize_t {
        if (puiAddrLen != nullptr) {
            *puiAddrLen = inLen;
        }
        return accept(iFd, pstAddr, puiAddrLen);
    }));
}

int32_t UKO_SocketRecv(int32_t iFd, void* pBuf, uint32_t uiLen, int32_t iFlags) {
    return static_cast<int32_t>(Restarting(
        iFd, SO_RCVTIMEO, POLLIN, [&] { return recv(iFd, pBuf, IoLen(uiLen), iFlags); }));
}

int32_t UKO_SocketRecvFrom(int32_t iFd, void* pBuf, uint32_t uiLen, int32_t iFlags,
                           struct sockaddr* pstAddr, socklen_t* puiAddrLen) {
    const socklen_t inLen = puiAddrLen != nullptr ? *puiAddrLen : 0;
    return static_cast<int32_t>(Restarting(iFd, SO_RCVTIMEO, POLLIN, [&] {
        if (puiAddrLen != nullptr) {
            *puiAddrLen = inLen;
        }
        return recvfrom(iFd, pBuf, IoLen(uiLen), iFlags, pstAddr, puiAddrLen);
    }));
}

// A peer that has gone away must come back as an error the caller can handle, not as a
// SIGPIPE that ends the whole client.
int32_t UKO_SocketSend(int32_t iFd, const void* pBuf, uint32_t uiLen, int32_t iFlags) {
    return static_cast<int32_t>(Restarting(iFd, SO_SNDTIMEO, POLLOUT, [&] {
        return send(iFd, pBuf, IoLen(uiLen), iFlags | MSG_NOSIGNAL);
    }));
}

int32_t UKO_SocketSendTo(int32_t iFd, const void* pBuf, uint32_t uiLen, int32_t iFlags,
                         const struct sockaddr* pstAddr, socklen_t uiAddrLen) {
    return static_cast<int32_t>(Restarting(iFd, SO_SNDTIMEO, POLLOUT, [&] {
        return sendto(iFd, pBuf, IoLen(uiLen), iFlags | MSG_NOSIGNAL, pstAddr, uiAddrLen);
    }));
}

int32_t UKO_SocketShutdown(int32_t iFd, int32_t iHow) { return Status(shutdown(iFd, iHow)); }

int32_t UKO_SocketClose(int32_t iFd) { return Status(close(iFd)); }

int32_t UKO_SocketGetPeerName(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen) {
    return Status(getpeername(iFd, pstAddr, puiAddrLen));
}

int32_t UKO_SocketGetSockName(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen) {
    return Status(getsockname(iFd, pstAddr, puiAddrLen));
}

int32_t UKO_SocketGetOpt(int32_t iFd, int32_t iLevel, int32_t iOption, void* pValue,
                         socklen_t* puiLen) {
    return Status(getsockopt(iFd, iLevel, iOption, pValue, puiLen));
}

int32_t UKO_SocketSetOpt(int32_t iFd, int32_t iLevel, int32_t iOption, const void* pValue,
                         socklen_t uiLen) {
    return Status(setsockopt(iFd, iLevel, iOption, pValue, uiLen));
}

int32_t UKO_SocketIoctl(int32_t iFd, unsigned long ulRequest, void* pArg) {
    return Status(ioctl(iFd, ulRequest, pArg));
}

// The system leaves the sets untouched when select fails, and on this system it writes
// what is left of the time-out back into the record, so a call made again after a
// signal waits only for the rest.
int32_t UKO_SocketSelect(int32_t iCount, fd_set* pstRead, fd_set* pstWrite, fd_set* pstError,
                         struct timeval* pstTimeout) {
    if (iCount > FD_SETSIZE) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        const int rc = select(iCount, pstRead, pstWrite, pstError, pstTimeout);
        if (rc >= 0 || errno != EINTR) {
            return rc;
        }
    }
}

int32_t UKO_SocketBlockSet(int32_t iFd) { return BlockingFlagSet(iFd, false); }

int32_t UKO_SocketNonBlockSet(int32_t iFd) { return BlockingFlagSet(iFd, true); }

int32_t UKO_SocketErrnoGet() { return errno; }

// The system's own lookup keeps its entry in one static place that every thread
// overwrites; this one keeps an entry per thread, filled by the reentrant lookup.
struct hostent* UKO_GetHostByName(const char* pcName) {
    if (pcName == nullptr) {
        return nullptr;
    }
    HostEntry& host = t_host;
    for (;;) {
        hostent* result = nullptr;
        int herr = 0;
        const int rc = gethostbyname_r(pcName, &host.stEntry, host.buffer.data(),
                                       host.buffer.size(), &result, &herr);
        if (rc == ERANGE && host.buffer.size() < kHostBufferLimit) {
            host.buffer.resize(host.buffer.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr) {
            h_errno = herr;
            return nullptr;
        }
        return result;
    }
}

int32_t UKO_GetHostName(char* pcBuf, uint32_t uiLen) { return Status(gethostname(pcBuf, uiLen)); }

uint32_t UKO_InetAddr(const char* pcText) {
    if (pcText == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(inet_addr(pcText));
}

// Written straight into the caller's buffer: the system's own conversion returns a
// static text that another thread may overwrite before it is copied.
void UKO_InetNtoa(uint32_t uiAddr, char* pcBuf) {
    if (pcBuf == nullptr) {
        return;
    }
    in_addr addr{};
    addr.s_addr = uiAddr;
    (void)inet_ntop(AF_INET, &addr, pcBuf, UKO_INET_ADDR_TEXT_SIZE);
}

uint32_t UKO_PlatformNameGet(char* pcBuf, uint32_t uiSize) {
    if (pcBuf == nullptr || uiSize == 0) {
        return 1;
    }
    static const char kName[] = {'M', 'a', 'c', '6', '4'};
    (void)UKO_memcpy_s(pcBuf, uiSize, kName, sizeof(kName));
    return 0;
}

int32_t UKO_SocketRecvTimeoutSet(int32_t iFd, uint32_t uiMs) {
    return TimeoutSet(iFd, SO_RCVTIMEO, uiMs);
}

int32_t UKO_SocketSendTimeoutSet(int32_t iFd, uint32_t uiMs) {
    return TimeoutSet(iFd, SO_SNDTIMEO, uiMs);
}
