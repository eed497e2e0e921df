#pragma once
// The packet protocol of the service link: the 24-byte head, its enumerations, the
// tables that name reply codes as language keys, and the transport primitives every
// request and task uses (head writer, packet reader, synchronous exchange, plain send,
// loopback connect, socket time-outs) with the two bounded-memory wrappers.
//
// A packet is a head of six unsigned 32-bit fields in network byte order followed by
// uiMsgLen payload bytes. Buffers handed out by the reader and the exchange come from
// UKO_Malloc, hold one zero byte after the payload, and are freed by the caller with
// UKO_Free.

#include <cstddef>
#include <cstdint>

// ---- Head and enumerations ------------------------------------------------------------

struct PacketHead {
    uint32_t uiSourceMark;  // ConnectMark of the sender
    uint32_t uiDestMark;    // ConnectMark of the receiver
    uint32_t uiConnetType;  // ConnectType of the connection the packet travels on
    uint32_t uiMsgType;     // MsgType
    uint32_t uiMsgCode;     // a request's own code, or (module << 16) | index
    uint32_t uiMsgLen;      // payload bytes after the head
};
static_assert(sizeof(PacketHead) == 24, "the head is 24 bytes on the wire");
static_assert(offsetof(PacketHead, uiMsgCode) == 16 && offsetof(PacketHead, uiMsgLen) == 20,
              "wire offsets of the head");

constexpr uint32_t UI_PACKET_HEAD_LEN = sizeof(PacketHead);

// The most payload bytes a service or plugin packet may announce. The largest record of
// the protocol is far below it; a longer announcement means the stream is broken.
constexpr uint32_t UI_PACKET_PAYLOAD_MAX = 1024 * 1024;

enum ConnectMark : uint32_t {
    MARK_RPC = 1,     // the promote service
    MARK_UI = 2,      // this front end
    MARK_PLUGIN = 3,  // a browser plugin
    MARK_TULM = 4,    // the engine
};

enum ConnectType : uint32_t {
    CONNECT_TYPE_SYNC = 1,   // requests and their replies, one at a time
    CONNECT_TYPE_ASYNC = 2,  // every connection the receive tasks watch
};

enum MsgType : uint32_t {
    MSG_TYPE_PREF = 1,
    MSG_TYPE_AUTH = 3,
    MSG_TYPE_IPSEC = 4,
    MSG_TYPE_CNEM = 5,
    MSG_TYPE_EPS = 8,
    MSG_TYPE_CFM = 9,
};

// The module half of a reply or event code.
enum MsgCodeModule : uint32_t {
    MSGCODE_MODULE_PREF = 1,
    MSGCODE_MODULE_LOGIN_SUCCESS = 2,
    MSGCODE_MODULE_AUTH = 3,
    MSGCODE_MODULE_AUTH_NORMAL = 4,
    MSGCODE_MODULE_EPS = 5,
    MSGCODE_MODULE_CNEM = 7,
    MSGCODE_MODULE_IPSEC = 8,
    MSGCODE_MODULE_LOGOUT = 10,
    MSGCODE_MODULE_URGENT = 11,
    MSGCODE_MODULE_CFM = 13,
};

// Codes the link itself uses: the port request and engine greeting, the port reply and
// the update request.
constexpr uint32_t PREF_MSGCODE_FIRSTCONN_START_TULM = 0x10006;
constexpr uint32_t PREF_MSGCODE_FIRSTCONN_UI_EXIST = 0x10007;
constexpr uint32_t PREF_MSGCODE_FIRSTCONN_TULM_LISTENPORT = 0x10008;
constexpr uint32_t PREF_MSGCODE_UPDATE_APPLICATION = 0x1000E;

// ---- Reply names ------------------------------------------------------------------------
// Each table holds language keys indexed from 0; a null entry holds no text. A request
// names its table and bound; the code's module half plays no part in the look-up.

constexpr size_t UI_MSGCODE_NAME_SIZE = 256;  // the caller's MsgCodeName buffer

constexpr uint32_t UI_ERROR_MSGCODE_COUNT = 2;
constexpr uint32_t UI_PREF_MSGCODE_COUNT = 16;
constexpr uint32_t UI_AUTH_MSGCODE_COUNT = 17;
constexpr uint32_t UI_AUTH_NORMAL_MSGCODE_COUNT = 14;
constexpr uint32_t UI_EPS_MSGCODE_COUNT = 6;
constexpr uint32_t UI_CNEM_MSGCODE_COUNT = 6;
constexpr uint32_t UI_IPSEC_MSGCODE_COUNT = 48;
constexpr uint32_t UI_LOGOUT_MSGCODE_COUNT = 2;
constexpr uint32_t UI_PROXY_MSGCODE_COUNT = 4;
constexpr uint32_t UI_CFM_MSGCODE_COUNT = 30;

// The bounds the requests look their tables up with.
constexpr uint32_t UI_PREF_MSGCODE_BOUND = 16;
constexpr uint32_t UI_AUTH_MSGCODE_BOUND = 17;
constexpr uint32_t UI_AUTH_NORMAL_MSGCODE_BOUND = 14;
constexpr uint32_t UI_EPS_MSGCODE_BOUND = 5;
constexpr uint32_t UI_CNEM_MSGCODE_BOUND = 6;
constexpr uint32_t UI_IPSEC_MSGCODE_BOUND = 48;
constexpr uint32_t UI_LOGOUT_MSGCODE_BOUND = 2;
constexpr uint32_t UI_CFM_MSGCODE_BOUND = 30;

extern const char* const g_errorMsgCodeTable[UI_ERROR_MSGCODE_COUNT];
extern const char* const g_prefMsgCodeTable[UI_PREF_MSGCODE_COUNT];
extern const char* const g_authMsgCodeTable[UI_AUTH_MSGCODE_COUNT];
extern const char* const g_authNormalMsgCodeTable[UI_AUTH_NORMAL_MSGCODE_COUNT];
extern const char* const g_epsMsgCodeTable[UI_EPS_MSGCODE_COUNT];
extern const char* const g_cnemMsgCodeTable[UI_CNEM_MSGCODE_COUNT];
extern const char* const g_ipsecMsgCodeTable[UI_IPSEC_MSGCODE_COUNT];
extern const char* const g_logoutMsgCodeTable[UI_LOGOUT_MSGCODE_COUNT];
extern const char* const g_proxyMsgCodeTable[UI_PROXY_MSGCODE_COUNT];
extern const char* const g_cfmMsgCodeTable[UI_CFM_MSGCODE_COUNT];

// Copies the name of a reply code (host order) into the caller's 256-byte buffer: the
// entry at index code & 0xFFFF of the table when the index is below the bound, else
// entry 0 of g_errorMsgCodeTable. A null entry leaves the buffer cleared. The bound must
// not exceed the table's size. A null table or buffer does nothing.
void UI_MsgCodeName_Get(const char* const* ppcTable, uint32_t uiBound, uint32_t uiMsgCode,
                        char* pcName);

// ---- Queue message -------------------------------------------------------------------------
// The 32-byte message of every packet queue: a heap copy of one packet (head, payload
// and a zero byte) and the packet's length (head + payload). The reader of the queue
// owns the copy and frees it with UKO_Free.
struct PacketQueueMsg {
    uint8_t* pucPacket;
    uint32_t uiLen;
    uint8_t aucReserved[32 - sizeof(uint8_t*) - sizeof(uint32_t)];
};
static_assert(sizeof(PacketQueueMsg) == 32, "queue messages are 32 bytes");
static_assert(offsetof(PacketQueueMsg, uiLen) == sizeof(uint8_t*),
              "the length follows the packet pointer");

// Hands a copy of a packet (len bytes, then a zero byte) to a platform queue, waiting
// while the queue is full. 0; 1 for a null packet, no memory or a refused write (the
// copy is freed then).
uint32_t UI_Queue_Write(uint32_t uiQueueId, const uint8_t* pucPacket, uint32_t uiLen);

// Waits for the next message of a platform queue and hands its packet copy over: the
// caller owns it and frees it with UKO_Free. The length is not returned: the packet's
// head holds it. 0; 1 for a null out pointer or a failed read (nothing is handed over).
uint32_t UI_Queue_Read(uint32_t uiQueueId, uint8_t** ppucPacket);

// ---- Packets ---------------------------------------------------------------------------------

// Writes a head: the five marks and codes in network order, uiMsgLen = totalLen - 24
// (the caller passes the whole packet's length). 0, or 1 for a null head.
uint32_t UI_PacketHead_Set(PacketHead* pstHead, uint32_t uiSource, uint32_t uiDest,
                           uint32_t uiConnType, uint32_t uiMsgType, uint32_t uiMsgCode,
                           uint32_t uiTotalLen);

// Reads one whole packet from a socket, however the peer splits its writes. The
// payload length (0 for a head-only packet) and a new buffer of head, payload and one
// zero byte; -1 when the peer closes or fails before the packet is whole, or announces
// more than UI_PACKET_PAYLOAD_MAX bytes (nothing is allocated then).
int32_t UI_Packet_Recv(int32_t iFd, uint8_t** ppucPacket);

// Sends one request and reads its reply within timeoutMs. Whatever is pending on the
// socket before the send is a reply that came too late for an earlier request: it is
// read and discarded first, and again after a failed exchange, so it is never taken for
// this request's reply. 0 with the reply (head, payload, a zero byte) and its length
// (head + payload); 1 on a send failure, a time-out, a close, a length over
// UI_PACKET_PAYLOAD_MAX or no memory. The socket's receive time-out is 0 again
// whenever the call returns.
uint32_t UI_Packet_SyncSend(int32_t iFd, const uint8_t* pucPacket, uint32_t uiPacketLen,
                            uint8_t** ppucReply, uint32_t* puiReplyLen, uint32_t uiTimeoutMs);

// Sends a packet that gets no reply, all of it. The bytes sent, or -1.
int32_t UI_Packet_Send(int32_t iFd, const uint8_t* pucPacket, uint32_t uiLen);

// TCP connection to 127.0.0.1:port (the descriptor closes on exec). 0 with the socket,
// or 1.
uint32_t UI_Socket_Connect(uint32_t uiPort, int32_t* piFd);

// SO_RCVTIMEO or SO_SNDTIMEO in milliseconds (0 clears the time-out): 0 or -1.
int32_t UI_Socket_SetRecvTimeout(int32_t iFd, uint32_t uiMs);
int32_t UI_Socket_SetSendTimeout(int32_t iFd, uint32_t uiMs);

// ---- Bounded memory ----------------------------------------------------------------------------
// UKO_memset_s and UKO_memcpy_s with their results (0 on success).
int32_t UI_memset_s(void* pDest, size_t destMax, int32_t iValue, size_t count);
int32_t UI_memcpy_s(void* pDest, size_t destMax, const void* pSrc, size_t count);
