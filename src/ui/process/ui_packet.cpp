// The packet protocol of the service link: head, reply names and the transport
// primitives over the platform's socket wrappers (which already retry interrupted calls
// within the socket's time-out and never raise SIGPIPE).

#include "ui_packet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cstring>

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_packet_inner.h"
#include "uko_secfunc.h"
#include "uko_socket.h"

// ---- Name tables -----------------------------------------------------------------------

#define UI_ERR(s) "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_" s
const char* const g_errorMsgCodeTable[UI_ERROR_MSGCODE_COUNT] = {UI_ERR("FAIL"), UI_ERR("OVERTIME")};
#undef UI_ERR

#define UI_PREF(s) "/RETURN_PREF_MSGCODE/PREF_MSGCODE_" s
const char* const g_prefMsgCodeTable[UI_PREF_MSGCODE_COUNT] = {
    UI_PREF("FIRSTCONN_SUCCESS"),     UI_PREF("FIRSTCONN_FAIL"),
    UI_PREF("SITE_SUCCESS"),          UI_PREF("SITE_FAIL"),
    UI_PREF("LINKSEL_SUCCESS"),       UI_PREF("LINKSEL_FAIL"),
    UI_PREF("FIRSTCONN_START_TULM"),  UI_PREF("FIRSTCONN_UI_EXIST"),
    UI_PREF("FIRSTCONN_TULM_LISTENPORT"), UI_PREF("CERTFILTER_SUCCESS"),
    UI_PREF("CERTFILTER_FAIL"),       UI_PREF("PROXY_AUTH_FAILED"),
    UI_PREF("PROXY_NEED_AUTH_ERROR"), UI_PREF("PROXY_CONNECT_ERROR"),
    UI_PREF("UPDATE_APPLICATION"),    nullptr,
};
#undef UI_PREF

#define UI_AUTH(s) "/RETURN_AUTH_MSGCODE/AUTH_MSGCODE_LOGIN_" s
const char* const g_authMsgCodeTable[UI_AUTH_MSGCODE_COUNT] = {
    UI_AUTH("SUCCESS"),              UI_AUTH("FAIL"),
    UI_AUTH("HOSTID_NOAPPROVED"),    UI_AUTH("HOSTID_AGAIN"),
    UI_AUTH("USERPASSWD_ERROR"),     UI_AUTH("USEROVERTOP_ERROR"),
    UI_AUTH("USER_FIRST_LOGIN_ERROR"), UI_AUTH("USEREXPIRESTRONG_ERROR"),
    UI_AUTH("USEREXPIREWEAK_ERROR"), UI_AUTH("USER_CERT_ERROR"),
    UI_AUTH("SMSCHECK_WARNING"),     UI_AUTH("DEVICECERT_ERROR"),
    UI_AUTH("DEVICEREJECT_ERROR"),   UI_AUTH("PLUGINREGLION_RESULT"),
    UI_AUTH("USEROVERCPUTOP_ERROR"), UI_AUTH("USERLOCKED_ERROR"),
    UI_AUTH("MAC_ERROR"),
};
#undef UI_AUTH

#define UI_NORMAL(s) "/RETURN_AUTH_NORMAL_MSGCODE/AUTH_NORMAL_MSGCODE_MODIFYPWD_" s
const char* const g_authNormalMsgCodeTable[UI_AUTH_NORMAL_MSGCODE_COUNT] = {
    UI_NORMAL("SUCCESS"),         UI_NORMAL("FAILL"),
    UI_NORMAL("LEN_ERROR"),       UI_NORMAL("NUMNUM_ERROR"),
    UI_NORMAL("CHARNUM_ERROR"),   UI_NORMAL("NEWOLDPW_SAME"),
    UI_NORMAL("NAMEPW_SAME"),     UI_NORMAL("NOMIXLOWERUPPER"),
    UI_NORMAL("OLDPW_ERROR"),     UI_NORMAL("RENEWPW_ERROR"),
    UI_NORMAL("FAIL_BECAUSE_SAVING"), UI_NORMAL("ISHIGH_ERROR"),
    UI_NORMAL("ISMIDDLE_ERROR"),  UI_NORMAL("ISLOW_ERROR"),
};
#undef UI_NORMAL

#define UI_EPS(s) "/RETURN_EPS_MSGCODE/EPS_MSGCODE_" s
const char* const g_epsMsgCodeTable[UI_EPS_MSGCODE_COUNT] = {
    UI_EPS("HOSTCHECK_SUCCESS"),  UI_EPS("HOSTCHECK_FAIL"),
    UI_EPS("CACHECLEAN_SUCCESS"), UI_EPS("CACHECLEAN_FAIL"),
    nullptr,                      nullptr,
};
#undef UI_EPS

const char* const g_cnemMsgCodeTable[UI_CNEM_MSGCODE_COUNT] = {
    "/RETURN_CNEM_MSGCODE/CNEM_INDEX_START_SUCCESS",
    "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_START_FAIL",
    "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_UDPSCONN_FAIL",
    "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_NEM_STOP_SUCCESS",
    "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_NEM_STOP_FAIL",
    nullptr,
};

#define UI_IPSEC(s) "/RETURN_IPSEC_MSGCODE/IPSEC_MSGCODE_COMM_STATUS_" s
const char* const g_ipsecMsgCodeTable[UI_IPSEC_MSGCODE_COUNT] = {
    UI_IPSEC("STEP1_OK"),
    UI_IPSEC("STEP1_BAD_REMOTEIP"),
    UI_IPSEC("STEP1_IPSEC_ADDR_ERROR"),
    UI_IPSEC("STEP1_L2TP_ADDR_ERROR"),
    UI_IPSEC("STEP1_PROXY_ADDR_ERROR"),
    UI_IPSEC("STEP1_ERR"),
    UI_IPSEC("STEP2_OK"),
    UI_IPSEC("STEP2_ERR"),
    UI_IPSEC("STEP3_OK"),
    UI_IPSEC("STEP3_IPSEC_RENEGO_OK"),
    UI_IPSEC("STEP3_IPSEC_TOUT"),
    UI_IPSEC("STEP4_OK"),
    UI_IPSEC("STEP4_IKE_RENEGO_OK"),
    UI_IPSEC("STEP4_IKE_ADD_SADB_FAILED"),
    UI_IPSEC("STEP4_IKE_UNSUPPORTED_EXCHANGE_TYPE"),
    UI_IPSEC("STEP4_IKE_MAIN_NEGOTIATE_FAILED"),
    UI_IPSEC("STEP4_IKE_AGGRESSIVE_NEGOTIATE_FAILED"),
    UI_IPSEC("STEP4_IKE_QUICK_NEGOTIATE_FAILED"),
    UI_IPSEC("STEP4_IKE_CA_LOAD_FAILED"),
    UI_IPSEC("STEP4_IKE_CA_NOTFOUND"),
    UI_IPSEC("STEP4_IKE_CA_DUP_SUBJECT"),
    UI_IPSEC("STEP4_IKE_TOUT"),
    UI_IPSEC("STEP5_OK"),
    UI_IPSEC("STEP5_L2TP_SEND_CTRLMSG_FAILED"),
    UI_IPSEC("STEP5_L2TP_CHECK_ICRP_FAILED"),
    UI_IPSEC("STEP5_L2TP_CLEANUP_CALL"),
    UI_IPSEC("STEP5_L2TP_RERSEND_CTRLMSG_MAX"),
    UI_IPSEC("STEP5_L2TP_CHECK_SCCRP_FAILED"),
    UI_IPSEC("STEP5_L2TP_CHANLLENGE_SECRET_NONE"),
    UI_IPSEC("STEP5_L2TP_RCV_PEER_STOPCCN"),
    UI_IPSEC("STEP5_L2TP_SESSION_SUM_IS_ZERO"),
    UI_IPSEC("STEP5_L2TP_START_NEGOTIATE_FAILED"),
    UI_IPSEC("STEP5_L2TP_SENDSOCK_INITERR"),
    UI_IPSEC("STEP5_L2TP_TOUT"),
    UI_IPSEC("STEP6_OK"),
    UI_IPSEC("STEP6_PPP_NO_RESPONSE"),
    UI_IPSEC("STEP6_PPP_AUTH_FAILED"),
    UI_IPSEC("STEP6_PPP_PEER_TERMINATE"),
    UI_IPSEC("STEP6_PPP_NEGO_FAILED"),
    UI_IPSEC("STEP6_PPP_PEER_REJECT"),
    UI_IPSEC("STEP6_PPP_TOUT"),
    UI_IPSEC("STEP7_OK"),
    UI_IPSEC("STEP7_STATUS_ERROR"),
    UI_IPSEC("STEP7_ERROR"),
    UI_IPSEC("PROXY_AUTH_FAILED"),
    UI_IPSEC("PROXY_NEED_AUTH_ERROR"),
    UI_IPSEC("PROXY_CONNECT_ERROR"),
    UI_IPSEC("CONNECT_SUCCESS"),
};
#undef UI_IPSEC

#define UI_LOGOUT(s) "/RETURN_LOGOUT_MSGCODE/LOGOUT_MSGCODE_" s
const char* const g_logoutMsgCodeTable[UI_LOGOUT_MSGCODE_COUNT] = {UI_LOGOUT("SUCESS"),
                                                                   UI_LOGOUT("FAIL")};
#undef UI_LOGOUT

#define UI_PROXY(s) "/RETURN_PROXY_MSGCODE/PROXY_MSGCODE_" s
const char* const g_proxyMsgCodeTable[UI_PROXY_MSGCODE_COUNT] = {
    UI_PROXY("GET_SUCCESS"), UI_PROXY("NO_PROXY"), UI_PROXY("GET_FAIL"), nullptr};
#undef UI_PROXY

#define UI_CFM(s) "/RETURN_CFM_MSGCODE/CFM_MSGCODE_" s
const char* const g_cfmMsgCodeTable[UI_CFM_MSGCODE_COUNT] = {
    UI_CFM("SYSCONFIG_WRITE_SUCCESS"),
    UI_CFM("SYSCONFIG_WRITE_FAIL"),
    UI_CFM("SYSCONFIG_READ_SUCCESS"),
    UI_CFM("SYSCONFIG_READ_FAIL"),
    UI_CFM("SYSCONFIG_WRITE_SESSION_SUCCESS"),
    UI_CFM("SYSCONFIG_WRITE_SESSION_FAIL"),
    UI_CFM("SYSCONFIG_READ_SESSION_SUCCESS"),
    UI_CFM("SYSCONFIG_READ_SESSION_FAIL"),
    UI_CFM("SYSCONFIG_DELETE_PROFILE_FAIL"),
    UI_CFM("PROFILE_WRITE_SSL_SUCCESS"),
    UI_CFM("PROFILE_WRITE_SSL_FAIL"),
    UI_CFM("PROFILE_READ_SSL_SUCCESS"),
    UI_CFM("PROFILE_READ_SSL_FAIL"),
    UI_CFM("PROFILE_WRITE_IPSEC_SUCCESS"),
    UI_CFM("PROFILE_WRITE_IPSEC_FAIL"),
    UI_CFM("PROFILE_READ_IPSEC_SUCCESS"),
    UI_CFM("PROFILE_READ_IPSEC_FAIL"),
    UI_CFM("PROFILE_INPUT_SUCCESS"),
    UI_CFM("PROFILE_INPUT_FAIL"),
    UI_CFM("PROFILE_INPUT_TOO_BIG"),
    UI_CFM("PROFILE_OUTPUT_SUCCESS"),
    UI_CFM("PROFILE_OUTPUT_FAIL"),
    UI_CFM("PROFILE_SPECIFY_SUCCESS"),
    UI_CFM("PROFILE_SPECIFY_FAIL"),
    UI_CFM("PROFILE_DELETE_SUCCESS"),
    UI_CFM("PROFILE_DELETE_FAIL"),
    UI_CFM("PROFILE_IS_EXIST"),
    UI_CFM("PROFILE_IS_NOT_EXIST"),
    UI_CFM("PROFILE_INPUT_PATH_INVALID"),
    UI_CFM("PROFILE_OUTPUT_PATH_INVALID"),
};
#undef UI_CFM

static_assert(UI_PREF_MSGCODE_BOUND <= UI_PREF_MSGCODE_COUNT &&
                  UI_AUTH_MSGCODE_BOUND <= UI_AUTH_MSGCODE_COUNT &&
                  UI_AUTH_NORMAL_MSGCODE_BOUND <= UI_AUTH_NORMAL_MSGCODE_COUNT &&
                  UI_EPS_MSGCODE_BOUND <= UI_EPS_MSGCODE_COUNT &&
                  UI_CNEM_MSGCODE_BOUND <= UI_CNEM_MSGCODE_COUNT &&
                  UI_IPSEC_MSGCODE_BOUND <= UI_IPSEC_MSGCODE_COUNT &&
                  UI_LOGOUT_MSGCODE_BOUND <= UI_LOGOUT_MSGCODE_COUNT &&
                  UI_CFM_MSGCODE_BOUND <= UI_CFM_MSGCODE_COUNT,
              "a bound never reaches past its table");

namespace {

std::atomic<uint32_t> g_timeoutDivisor{1};

int64_t NowMs() {
    timespec ts{};
    (void)clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t ScaledTimeout(uint32_t uiMs) {
    const uint32_t divisor = g_timeoutDivisor.load(std::memory_order_relaxed);
    const uint32_t ms = uiMs / (divisor == 0 ? 1 : divisor);
    return ms == 0 ? 1 : ms;
}

// Receives exactly len bytes. A receive of -1 (error or time-out) or 0 (the peer
// closed) ends it.
//
// With a deadline, the exchange's whole reply must arrive by then: the socket's own
// time-out only bounds each receive call, so before every call but the first the time-out
// is cut to what is left, and a peer that trickles its reply cannot stretch the wait.
struct Reader {
    int32_t iFd;
    int64_t deadlineMs;  // 0: no deadline
    bool rearm;          // the socket's time-out must be cut before the next call

    bool Exact(uint8_t* pucBuf, uint32_t uiLen) {
        uint32_t got = 0;
        while (got < uiLen) {
            if (deadlineMs != 0 && rearm) {
                const int64_t left = deadlineMs - NowMs();
                if (left <= 0 ||
                    UKO_SocketRecvTimeoutSet(iFd, static_cast<uint32_t>(left)) != 0) {
                    return false;
                }
            }
            rearm = true;
            const int32_t n = UKO_SocketRecv(iFd, pucBuf + got, uiLen - got, 0);
            if (n <= 0) {
                return false;
            }
            got += static_cast<uint32_t>(n);
        }
        return true;
    }
};

// A head in network order, read into host order.
uint32_t Field(const uint8_t* pucPacket, size_t offset) {
    uint32_t v;
    std::memcpy(&v, pucPacket + offset, sizeof(v));
    return ntohl(v);
}

// A cleared buffer for a packet of uiLen payload bytes and its zero byte, the head
// copied in; NULL when memory is short.
uint8_t* NewPacket(const uint8_t* pucHead, uint32_t uiLen) {
    const uint64_t size = static_cast<uint64_t>(UI_PACKET_HEAD_LEN) + uiLen + 1;
    uint8_t* packet = static_cast<uint8_t*>(UKO_Malloc(UI_MEM_ID, size));
    if (packet != nullptr) {
        std::memset(packet, 0, size);
        std::memcpy(packet, pucHead, UI_PACKET_HEAD_LEN);
    }
    return packet;
}

// Sends every byte; false on the first failing send.
bool SendAll(int32_t iFd, const uint8_t* pucData, uint32_t uiLen) {
    uint32_t sent = 0;
    while (sent < uiLen) {
        const int32_t n = UKO_SocketSend(iFd, pucData + sent, uiLen - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<uint32_t>(n);
    }
    return true;
}

// Discards what came too late for an earlier request on the synchronous connection.
void DiscardLate(int32_t iFd) {
    const uint32_t count = uiSocketDrain(iFd);
    if (count != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                           "[%lu][Process sync send][discard %u late bytes, fd is %d]",
                           UI_LOG_TAG, count, iFd);
    }
}

}  // namespace

void uiSyncTimeoutDivisorSet(uint32_t uiDivisor) {
    g_timeoutDivisor.store(uiDivisor == 0 ? 1 : uiDivisor, std::memory_order_relaxed);
}

uint32_t uiSocketDrain(int32_t iFd) {
    uint8_t buf[4096];
    uint32_t total = 0;
    while (total < UI_DRAIN_MAX) {
        const int32_t n = UKO_SocketRecv(iFd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n <= 0) {
            break;
        }
        total += static_cast<uint32_t>(n);
    }
    return total;
}

void uiPacketHeadRead(const uint8_t* pucPacket, PacketHead* pstHost) {
    pstHost->uiSourceMark = Field(pucPacket, offsetof(PacketHead, uiSourceMark));
    pstHost->uiDestMark = Field(pucPacket, offsetof(PacketHead, uiDestMark));
    pstHost->uiConnetType = Field(pucPacket, offsetof(PacketHead, uiConnetType));
    pstHost->uiMsgType = Field(pucPacket, offsetof(PacketHead, uiMsgType));
    pstHost->uiMsgCode = Field(pucPacket, offsetof(PacketHead, uiMsgCode));
    pstHost->uiMsgLen = Field(pucPacket, offsetof(PacketHead, uiMsgLen));
}

void UI_MsgCodeName_Get(const char* const* ppcTable, uint32_t uiBound, uint32_t uiMsgCode,
                        char* pcName) {
    if (ppcTable == nullptr || pcName == nullptr) {
        return;
    }
    const uint32_t index = uiMsgCode & 0xFFFF;
    const char* entry = index < uiBound ? ppcTable[index] : g_errorMsgCodeTable[0];
    // A null entry clears the buffer: the bounded copy treats a null source so, and
    // reports it through the platform's hook.
    const size_t count = entry != nullptr ? std::strlen(entry) + 1 : UI_MSGCODE_NAME_SIZE;
    (void)UKO_memcpy_s(pcName, UI_MSGCODE_NAME_SIZE, entry, count);
}

uint32_t UI_PacketHead_Set(PacketHead* pstHead, uint32_t uiSource, uint32_t uiDest,
                           uint32_t uiConnType, uint32_t uiMsgType, uint32_t uiMsgCode,
                           uint32_t uiTotalLen) {
    if (pstHead == nullptr) {
        return 1;
    }
    const uint32_t wire[6] = {htonl(uiSource),  htonl(uiDest),    htonl(uiConnType),
                              htonl(uiMsgType), htonl(uiMsgCode), htonl(uiTotalLen - 24)};
    std::memcpy(pstHead, wire, sizeof(wire));
    return 0;
}

namespace {

// One whole packet through the reader, whose deadline (if any) bounds every part of it.
int32_t RecvWith(Reader& reader, uint8_t** ppucPacket) {
    const int32_t iFd = reader.iFd;
    uint8_t head[UI_PACKET_HEAD_LEN] = {};
    if (!reader.Exact(head, sizeof(head))) {
        return -1;
    }
    const uint32_t len = Field(head, offsetof(PacketHead, uiMsgLen));
    if (len > UI_PACKET_PAYLOAD_MAX) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu]Packet length %u is over the limit, fd:%d", UI_LOG_TAG, len,
                           iFd);
        return -1;
    }
    uint8_t* packet = NewPacket(head, len);
    if (packet == nullptr) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Malloc failed", UI_LOG_TAG);
        return -1;
    }
    if (!reader.Exact(packet + UI_PACKET_HEAD_LEN, len)) {
        (void)UKO_Free(packet);
        return -1;
    }
    *ppucPacket = packet;
    return static_cast<int32_t>(len);
}

}  // namespace

int32_t UI_Packet_Recv(int32_t iFd, uint8_t** ppucPacket) {
    if (ppucPacket == nullptr) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Input Null Pointer", UI_LOG_TAG);
        return -1;
    }
    Reader reader{iFd, 0, false};
    return RecvWith(reader, ppucPacket);
}

uint32_t uiSyncTimeoutScaled(uint32_t uiMs) {
    return ScaledTimeout(uiMs);
}

int64_t uiMonotonicMs() {
    return NowMs();
}

int32_t uiPacketRecvUntil(int32_t iFd, uint8_t** ppucPacket, int64_t deadlineMs) {
    if (ppucPacket == nullptr) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Input Null Pointer", UI_LOG_TAG);
        return -1;
    }
    // The reader cuts the socket's time-out to what is left before each receive, the
    // first included; a deadline of 0 would mean none, so an earlier one is kept at 1.
    Reader reader{iFd, deadlineMs > 0 ? deadlineMs : 1, true};
    const int32_t len = RecvWith(reader, ppucPacket);
    (void)UI_Socket_SetRecvTimeout(iFd, 0);
    return len;
}

uint32_t UI_Packet_SyncSend(int32_t iFd, const uint8_t* pucPacket, uint32_t uiPacketLen,
                            uint8_t** ppucReply, uint32_t* puiReplyLen, uint32_t uiTimeoutMs) {
    if (pucPacket == nullptr || ppucReply == nullptr || puiReplyLen == nullptr) {
        return 1;
    }
    DiscardLate(iFd);
    if (!SendAll(iFd, pucPacket, uiPacketLen)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Fail To Send Msg , fd is %d",
                           UI_LOG_TAG, iFd);
        return 1;
    }
    const uint32_t timeoutMs = ScaledTimeout(uiTimeoutMs);
    Reader reader{iFd, NowMs() + timeoutMs, false};
    uint8_t* reply = nullptr;
    uint8_t head[UI_PACKET_HEAD_LEN] = {};
    if (UI_Socket_SetRecvTimeout(iFd, timeoutMs) == 0 && reader.Exact(head, sizeof(head))) {
        const uint32_t len = Field(head, offsetof(PacketHead, uiMsgLen));
        if (len > UI_PACKET_PAYLOAD_MAX) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu]Reply length %u is over the limit, fd is %d", UI_LOG_TAG,
                               len, iFd);
        } else {
            reply = NewPacket(head, len);
            if (reply != nullptr && !reader.Exact(reply + UI_PACKET_HEAD_LEN, len)) {
                (void)UKO_Free(reply);
                reply = nullptr;
            }
            if (reply != nullptr) {
                *ppucReply = reply;
                *puiReplyLen = UI_PACKET_HEAD_LEN + len;
            }
        }
    }
    (void)UI_Socket_SetRecvTimeout(iFd, 0);
    if (reply == nullptr) {
        DiscardLate(iFd);
        return 1;
    }
    return 0;
}

int32_t UI_Packet_Send(int32_t iFd, const uint8_t* pucPacket, uint32_t uiLen) {
    if (pucPacket == nullptr || uiLen > 0x7FFFFFFF || !SendAll(iFd, pucPacket, uiLen)) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR, "[%lu]PUB send packet failed, fd:%d!",
                           UI_LOG_TAG, iFd);
        return -1;
    }
    return static_cast<int32_t>(uiLen);
}

uint32_t UI_Socket_Connect(uint32_t uiPort, int32_t* piFd) {
    if (piFd == nullptr || uiPort == 0 || uiPort > 65535) {
        return 1;
    }
    const int32_t fd = UKO_SocketCreate(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Fail to create socket", UI_LOG_TAG);
        return 1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(uiPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (UKO_SocketConnect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        (void)UKO_SocketClose(fd);
        return 1;
    }
    *piFd = fd;
    return 0;
}

int32_t UI_Socket_SetRecvTimeout(int32_t iFd, uint32_t uiMs) {
    return UKO_SocketRecvTimeoutSet(iFd, uiMs);
}

int32_t UI_Socket_SetSendTimeout(int32_t iFd, uint32_t uiMs) {
    return UKO_SocketSendTimeoutSet(iFd, uiMs);
}

int32_t UI_memset_s(void* pDest, size_t destMax, int32_t iValue, size_t count) {
    return static_cast<int32_t>(UKO_memset_s(pDest, destMax, iValue, count));
}

int32_t UI_memcpy_s(void* pDest, size_t destMax, const void* pSrc, size_t count) {
    return static_cast<int32_t>(UKO_memcpy_s(pDest, destMax, pSrc, count));
}
