#pragma once
// Socket adaptation: one set of names over the operating system's sockets, name
// resolution and descriptor options. It keeps no state: every failure shows in the
// result and in the calling thread's errno.
//
// Two result styles: status functions answer 0 when the system call returned 0 and -1
// for anything else; pass-through functions answer the system call's own result.
//
// An interrupted call (EINTR) is made again: select keeps what is left of its time-out,
// and a receive, send or accept keeps what is left of the socket's own time-out, so a
// signal neither fails a call nor stretches its wait. Sends never raise SIGPIPE: a
// closed peer is reported as -1 with EPIPE or ECONNRESET.

#include <netdb.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>

static_assert(sizeof(socklen_t) == 4, "address and option lengths are 32-bit");

// Size of the buffer UKO_InetNtoa writes: the longest dotted-decimal text and its NUL.
constexpr uint32_t UKO_INET_ADDR_TEXT_SIZE = 16;

// Pass-through: a descriptor or -1.
int32_t UKO_SocketCreate(int32_t iDomain, int32_t iType, int32_t iProtocol);
// Status.
int32_t UKO_SocketBind(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiAddrLen);
// Status. errno is cleared first, so an errno read after a successful connect is 0.
int32_t UKO_SocketConnect(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiAddrLen);
// Status.
int32_t UKO_SocketListen(int32_t iFd, int32_t iBacklog);
// Pass-through: the new descriptor or -1.
int32_t UKO_SocketAccept(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen);
// Pass-through: bytes received, 0 at an orderly close, or -1. A length above
// 0x7FFFFFFF is taken as 0x7FFFFFFF so the count always fits the result.
int32_t UKO_SocketRecv(int32_t iFd, void* pBuf, uint32_t uiLen, int32_t iFlags);
int32_t UKO_SocketRecvFrom(int32_t iFd, void* pBuf, uint32_t uiLen, int32_t iFlags,
                           struct sockaddr* pstAddr, socklen_t* puiAddrLen);
// Pass-through: bytes sent or -1. Never raises SIGPIPE.
int32_t UKO_SocketSend(int32_t iFd, const void* pBuf, uint32_t uiLen, int32_t iFlags);
int32_t UKO_SocketSendTo(int32_t iFd, const void* pBuf, uint32_t uiLen, int32_t iFlags,
                         const struct sockaddr* pstAddr, socklen_t uiAddrLen);
// Status.
int32_t UKO_SocketShutdown(int32_t iFd, int32_t iHow);
int32_t UKO_SocketClose(int32_t iFd);
int32_t UKO_SocketGetPeerName(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen);
int32_t UKO_SocketGetSockName(int32_t iFd, struct sockaddr* pstAddr, socklen_t* puiAddrLen);
int32_t UKO_SocketGetOpt(int32_t iFd, int32_t iLevel, int32_t iOption, void* pValue,
                         socklen_t* puiLen);
int32_t UKO_SocketSetOpt(int32_t iFd, int32_t iLevel, int32_t iOption, const void* pValue,
                         socklen_t uiLen);
int32_t UKO_SocketIoctl(int32_t iFd, unsigned long ulRequest, void* pArg);
// Pass-through: ready descriptors, 0 on time-out, or -1. A descriptor count above the
// capacity of a descriptor set (FD_SETSIZE) is refused with EINVAL: the system would
// read and write past the caller's sets.
int32_t UKO_SocketSelect(int32_t iCount, fd_set* pstRead, fd_set* pstWrite, fd_set* pstError,
                         struct timeval* pstTimeout);
// Status: clear or set O_NONBLOCK, keeping the other status flags.
int32_t UKO_SocketBlockSet(int32_t iFd);
int32_t UKO_SocketNonBlockSet(int32_t iFd);
// The calling thread's errno.
int32_t UKO_SocketErrnoGet();

// The host entry of a name, or NULL (NULL for a NULL name). The entry belongs to the
// calling thread and stays valid until its next call.
struct hostent* UKO_GetHostByName(const char* pcName);
// Status.
int32_t UKO_GetHostName(char* pcBuf, uint32_t uiLen);
// The address of a dotted-decimal text in network order, as inet_addr gives it; 0 for
// NULL.
uint32_t UKO_InetAddr(const char* pcText);
// Writes the dotted-decimal text of an address in network order, with its NUL, into a
// buffer of UKO_INET_ADDR_TEXT_SIZE bytes. A NULL buffer: nothing.
void UKO_InetNtoa(uint32_t uiAddr, char* pcBuf);
// Copies the five characters "Mac64", without a NUL, into the buffer: 0 (also when the
// buffer is too small, which leaves it cleared); 1 for a NULL buffer or size 0.
uint32_t UKO_PlatformNameGet(char* pcBuf, uint32_t uiSize);
// Status: a receive or send time-out of so many milliseconds (0: none).
int32_t UKO_SocketRecvTimeoutSet(int32_t iFd, uint32_t uiMs);
int32_t UKO_SocketSendTimeoutSet(int32_t iFd, uint32_t uiMs);
