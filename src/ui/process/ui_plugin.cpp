// The plugin connection table, the packets the front end sends to a browser plugin, the
// decoding of a plugin's request, the listening socket and the user behind a connection.

#include "ui_plugin.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_packet_inner.h"
#include "ui_plugin_inner.h"
#include "uko_socket.h"

namespace {

constexpr ConnectInfo kEmptySlot = {0, 0, 0, UI_SOCKET_NONE};

// Senders holding each slot's socket, guarded by the table's lock. A slot is emptied
// at once when its connection closes, but its descriptor is closed only once nobody
// holds it.
uint32_t g_slotHolds[UI_CONNECT_TABLE_SIZE] = {};

std::atomic<UiPluginBindFn> g_bind{nullptr};

struct Locked {
    Locked() { (void)pthread_mutex_lock(&g_pluginConnectTable.stLock); }
    ~Locked() { (void)pthread_mutex_unlock(&g_pluginConnectTable.stLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

bool Registered(const ConnectInfo& slot) {
    return slot.iSocket != UI_SOCKET_NONE && slot.uiConnetType != 0;
}

bool IsPlugin(const ConnectInfo& slot) {
    return Registered(slot) && slot.uiSourceMark == MARK_PLUGIN;
}

// Empties a slot under the lock, shutting its socket down, and counts the connection
// and the plugin it was off. The socket, for closing once nobody holds it.
int32_t EmptySlotLocked(uint32_t uiSlot) {
    ConnectTable* t = &g_pluginConnectTable;
    ConnectInfo& slot = t->astConnect[uiSlot];
    const int32_t fd = slot.iSocket;
    if (fd == UI_SOCKET_NONE) {
        return fd;
    }
    (void)UKO_SocketShutdown(fd, SHUT_RDWR);
    if (IsPlugin(slot) && t->uiPluginCount > 0) {
        --t->uiPluginCount;
    }
    if (t->uiConnectCount > 0) {
        --t->uiConnectCount;
    }
    slot = kEmptySlot;
    return fd;
}

// Waits under the lock until no sender holds any of the listed slots.
void WaitUnheldLocked(const uint32_t* puiSlots, uint32_t uiCount) {
    for (;;) {
        bool held = false;
        for (uint32_t i = 0; i < uiCount; ++i) {
            held = held || g_slotHolds[puiSlots[i]] != 0;
        }
        if (!held) {
            return;
        }
        (void)pthread_cond_wait(&g_pluginConnectTable.stIdle, &g_pluginConnectTable.stLock);
    }
}

void CloseFd(int32_t iFd, fd_set* pstSet) {
    if (pstSet != nullptr && iFd >= 0 && iFd < FD_SETSIZE) {
        FD_CLR(iFd, pstSet);
    }
    (void)UKO_SocketClose(iFd);
}

// The socket of the first slot in table order with that source and type, held; -1 when
// there is none.
int32_t HoldMatching(uint32_t uiSource, uint32_t uiType, uint32_t* puiSlot) {
    Locked lock;
    const ConnectTable* t = &g_pluginConnectTable;
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        const ConnectInfo& slot = t->astConnect[i];
        if (slot.iSocket != UI_SOCKET_NONE && slot.uiConnetType == uiType &&
            slot.uiSourceMark == uiSource) {
            ++g_slotHolds[i];
            *puiSlot = i;
            return slot.iSocket;
        }
    }
    return UI_SOCKET_NONE;
}

// The socket of the first registered plugin connection in table order, held; -1 (and
// the look-up's log line) when there is none.
int32_t HoldPlugin(uint32_t* puiSlot) {
    const int32_t fd = HoldMatching(MARK_PLUGIN, CONNECT_TYPE_ASYNC, puiSlot);
    if (fd != UI_SOCKET_NONE) {
        return fd;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                       "[%lu][Support get connect fd by source][get i socket connect [source "
                       "mark is %d]:[connet type is %d]]",
                       UI_LOG_TAG, static_cast<int>(MARK_PLUGIN),
                       static_cast<int>(CONNECT_TYPE_ASYNC));
    return UI_SOCKET_NONE;
}

void ReleasePlugin(uint32_t uiSlot) {
    Locked lock;
    if (g_slotHolds[uiSlot] > 0 && --g_slotHolds[uiSlot] == 0) {
        (void)pthread_cond_broadcast(&g_pluginConnectTable.stIdle);
    }
}

// One packet to the plugin: the head {MARK_UI, MARK_PLUGIN, async, PREF, code} and the
// record, whose 32-bit fields toNetwork turns to network order in the caller's record
// just before it is copied.
template <typename Record, typename ToNetwork>
uint32_t SendRecord(const char* pcOp, uint32_t uiCode, Record* pstRecord, ToNetwork toNetwork) {
    if (pstRecord == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][invalid parameter!]", UI_LOG_TAG,
                           pcOp);
        return 1;
    }
    uint32_t slot = 0;
    const int32_t fd = HoldPlugin(&slot);
    if (fd == UI_SOCKET_NONE) {
        return 1;
    }
    constexpr uint32_t len = UI_PACKET_HEAD_LEN + sizeof(Record);
    uint8_t* packet = static_cast<uint8_t*>(UKO_Malloc(UI_MEM_ID, len + 1));
    if (packet == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][malloc failed!]", UI_LOG_TAG, pcOp);
        ReleasePlugin(slot);
        return 1;
    }
    std::memset(packet, 0, len + 1);
    (void)UI_PacketHead_Set(reinterpret_cast<PacketHead*>(packet), MARK_UI, MARK_PLUGIN,
                            CONNECT_TYPE_ASYNC, MSG_TYPE_PREF, uiCode, len);
    toNetwork(pstRecord);
    std::memcpy(packet + UI_PACKET_HEAD_LEN, pstRecord, sizeof(Record));
    const bool sent = UI_Packet_Send(fd, packet, len) != -1;
    (void)UKO_Free(packet);
    ReleasePlugin(slot);
    if (!sent) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui send tip failed!]", UI_LOG_TAG,
                           pcOp);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][ui send tip success!]", UI_LOG_TAG,
                       pcOp);
    return 0;
}

}  // namespace

// ---- The table -------------------------------------------------------------------------------

uint32_t uiPluginConnect_Add(int32_t iFd, uint32_t* puiSlot) {
    ConnectTable* t = &g_pluginConnectTable;
    Locked lock;
    // A slot freed by a connection that closed before it registered is taken again:
    // connections that come and go must not use the table up.
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        if (t->astConnect[i].iSocket == UI_SOCKET_NONE) {
            t->astConnect[i] = {0, 0, 0, iFd};
            ++t->uiConnectCount;
            *puiSlot = i;
            return 0;
        }
    }
    return 1;
}

void UI_PluginConnect_Save(uint32_t uiSlot, const PacketHead* pstHostHead) {
    if (uiSlot >= UI_CONNECT_TABLE_SIZE || pstHostHead == nullptr) {
        return;
    }
    ConnectTable* t = &g_pluginConnectTable;
    {
        Locked lock;
        ConnectInfo& slot = t->astConnect[uiSlot];
        if (slot.iSocket == UI_SOCKET_NONE || slot.uiConnetType != 0) {
            return;
        }
        slot.uiSourceMark = pstHostHead->uiSourceMark;
        slot.uiDestMark = pstHostHead->uiDestMark;
        slot.uiConnetType = pstHostHead->uiConnetType;
        // Counted once, when the slot registers: a head of type 0 leaves it unregistered.
        if (IsPlugin(slot)) {
            ++t->uiPluginCount;
        }
    }
    (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO,
                       "[%lu][Save plugin socket connect][source :%d]:[DestMark :%d]:[ConnetType "
                       ":%d]",
                       UI_LOG_TAG, static_cast<int>(pstHostHead->uiSourceMark),
                       static_cast<int>(pstHostHead->uiDestMark),
                       static_cast<int>(pstHostHead->uiConnetType));
}

void UI_PluginConnect_Close(uint32_t uiSlot, fd_set* pstSet) {
    if (uiSlot >= UI_CONNECT_TABLE_SIZE) {
        return;
    }
    ConnectTable* t = &g_pluginConnectTable;
    int32_t fds[UI_CONNECT_TABLE_SIZE];
    uint32_t slots[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    {
        Locked lock;
        const ConnectInfo slot = t->astConnect[uiSlot];
        if (slot.iSocket == UI_SOCKET_NONE) {
            return;
        }
        slots[count] = uiSlot;
        fds[count++] = EmptySlotLocked(uiSlot);
        if (slot.uiConnetType == CONNECT_TYPE_ASYNC && slot.uiSourceMark == MARK_PLUGIN) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                               "[%lu][plugin connection is disconnected from ui][fd is %d][%d]",
                               UI_LOG_TAG, slot.iSocket, static_cast<int>(t->uiPluginCount));
            // The plugin is gone: what else is connected goes with it, closed rather than
            // left open and unwatched.
            for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
                const int32_t other = EmptySlotLocked(i);
                if (other != UI_SOCKET_NONE) {
                    (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                                       "[%lu][Plugin connection is closed with the plugin][fd is "
                                       "%d]",
                                       UI_LOG_TAG, other);
                    slots[count] = i;
                    fds[count++] = other;
                }
            }
            t->uiConnectCount = 0;
            t->uiPluginCount = 0;
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN, "[%lu][Plugin is no longer any connection]",
                               UI_LOG_TAG);
        } else if (slot.uiConnetType == CONNECT_TYPE_ASYNC) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN, "[%lu][Unkown connection is closed][fd is %d]",
                               UI_LOG_TAG, slot.iSocket);
        }
        WaitUnheldLocked(slots, count);
    }
    for (uint32_t i = 0; i < count; ++i) {
        CloseFd(fds[i], pstSet);
    }
}

void uiPluginConnect_CloseAll() {
    int32_t fds[UI_CONNECT_TABLE_SIZE];
    uint32_t slots[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    {
        Locked lock;
        for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
            const int32_t fd = EmptySlotLocked(i);
            if (fd != UI_SOCKET_NONE) {
                slots[count] = i;
                fds[count++] = fd;
            }
        }
        g_pluginConnectTable.uiConnectCount = 0;
        g_pluginConnectTable.uiPluginCount = 0;
        WaitUnheldLocked(slots, count);
    }
    for (uint32_t i = 0; i < count; ++i) {
        CloseFd(fds[i], nullptr);
    }
}

int32_t UI_PluginConnect_Get(const PacketHead* pstHostHead, uint32_t* puiSlot) {
    if (pstHostHead == nullptr || puiSlot == nullptr) {
        return UI_SOCKET_NONE;
    }
    // An unregistered slot (type 0) is never the one a packet is meant for.
    const int32_t fd = pstHostHead->uiConnetType == 0
                           ? UI_SOCKET_NONE
                           : HoldMatching(pstHostHead->uiDestMark, pstHostHead->uiConnetType,
                                          puiSlot);
    if (fd == UI_SOCKET_NONE) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process plugin]Get plugin socket connect [source :%d]:[uiDestMark "
                           ":%d]:[uiConnetType :%d]",
                           UI_LOG_TAG, static_cast<int>(pstHostHead->uiSourceMark),
                           static_cast<int>(pstHostHead->uiDestMark),
                           static_cast<int>(pstHostHead->uiConnetType));
    }
    return fd;
}

void uiPluginRelease(uint32_t uiSlot) {
    if (uiSlot < UI_CONNECT_TABLE_SIZE) {
        ReleasePlugin(uiSlot);
    }
}

uint32_t uiPluginSlotHolds(uint32_t uiSlot) {
    Locked lock;
    return uiSlot < UI_CONNECT_TABLE_SIZE ? g_slotHolds[uiSlot] : 0;
}

void uiPluginTableCopy(ConnectInfo* pstSlots, uint32_t* puiConnectCount, uint32_t* puiPluginCount) {
    Locked lock;
    const ConnectTable* t = &g_pluginConnectTable;
    if (pstSlots != nullptr) {
        std::memcpy(pstSlots, t->astConnect, sizeof(t->astConnect));
    }
    if (puiConnectCount != nullptr) {
        *puiConnectCount = t->uiConnectCount;
    }
    if (puiPluginCount != nullptr) {
        *puiPluginCount = t->uiPluginCount;
    }
}

// ---- Packets to the plugin ----------------------------------------------------------------------

uint32_t UI_PluginTip_Send(uint32_t uiCode, PluginTip* pstTip) {
    return SendRecord("Process send tip to plugin", uiCode, pstTip,
                      [](PluginTip* r) { r->cFlag = htonl(r->cFlag); });
}

uint32_t UI_PluginLoginRet_Send(UI_PLUGIN_LOGIN_RET_S* pstRet) {
    return SendRecord("Process send login ret to plugin", PLUGIN_MSGCODE_LOGIN_RET, pstRet,
                      [](UI_PLUGIN_LOGIN_RET_S* r) {
                          r->uiUserID = htonl(r->uiUserID);
                          r->uiSessionID = htonl(r->uiSessionID);
                          r->cFlag = htonl(r->cFlag);
                      });
}

uint32_t UI_PluginInfo_Send(PluginInfo* pstInfo) {
    return SendRecord("Process send info to plugin", PLUGIN_MSGCODE_INFO, pstInfo,
                      [](PluginInfo* r) {
                          r->uiUserID = htonl(r->uiUserID);
                          r->uiSessionID = htonl(r->uiSessionID);
                          r->uiValue = htonl(r->uiValue);
                      });
}

uint32_t UI_PluginLogout_Send() {
    uint32_t slot = 0;
    const int32_t fd = HoldPlugin(&slot);
    if (fd == UI_SOCKET_NONE) {
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process send loginout to plugin][ui send loginout start!]",
                       UI_LOG_TAG);
    PacketHead head;
    (void)UI_PacketHead_Set(&head, MARK_UI, MARK_PLUGIN, CONNECT_TYPE_ASYNC, MSG_TYPE_PREF,
                            PLUGIN_MSGCODE_LOGOUT, UI_PACKET_HEAD_LEN);
    const bool sent =
        UI_Packet_Send(fd, reinterpret_cast<const uint8_t*>(&head), UI_PACKET_HEAD_LEN) != -1;
    ReleasePlugin(slot);
    if (!sent) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process send loginout to plugin][ui send loginout failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process send loginout to plugin][ui send loginout success!]",
                       UI_LOG_TAG);
    return 0;
}

// ---- Requests from the plugin ------------------------------------------------------------------

int32_t uiPluginEventDecode(const uint8_t* pucPacket, uint32_t uiPacketLen,
                            PluginLoginPayload* pstPayload) {
    if (pucPacket == nullptr || uiPacketLen < UI_PACKET_HEAD_LEN) {
        return PLUGIN_EVENT_NONE;
    }
    PacketHead head;
    uiPacketHeadRead(pucPacket, &head);
    if (head.uiMsgCode < PLUGIN_EVENT_LOGIN || head.uiMsgCode > PLUGIN_EVENT_GET_INFO) {
        return PLUGIN_EVENT_NONE;
    }
    if (head.uiMsgCode == PLUGIN_EVENT_LOGIN && pstPayload != nullptr) {
        // The payload as far as the packet really holds it and the record takes it; what
        // a short payload leaves out reads as empty text.
        uint32_t len = uiPacketLen - UI_PACKET_HEAD_LEN;
        len = head.uiMsgLen < len ? head.uiMsgLen : len;
        len = len < sizeof(PluginLoginPayload) ? len : sizeof(PluginLoginPayload);
        std::memset(pstPayload, 0, sizeof(*pstPayload));
        std::memcpy(pstPayload, pucPacket + UI_PACKET_HEAD_LEN, len);
    }
    return static_cast<int32_t>(head.uiMsgCode);
}

// ---- The listener -------------------------------------------------------------------------------

void uiPluginBindSet(UiPluginBindFn pfnBind) {
    g_bind.store(pfnBind);
}

uint32_t uiPluginListenOpen(uint32_t uiPort, int32_t* piFd, uint32_t* puiBoundPort) {
    static const char kOp[] = "Proces plugin listen port create";
    if (piFd == nullptr || puiBoundPort == nullptr) {
        return 1;
    }
    // A port search that wrapped past 65535 would start again at the bottom of the
    // range; one that went on after any other failure would never end.
    for (uint32_t port = uiPort; port != 0 && port <= 65535; ++port) {
        const int32_t fd = UKO_SocketCreate(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][%s][Fail to create plugin listen socket]", UI_LOG_TAG, kOp);
            return 1;
        }
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu][%s][%d]", UI_LOG_TAG, kOp, fd);
        if (fd >= FD_SETSIZE) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][%s][fd %d cannot be watched]", UI_LOG_TAG, kOp, fd);
            (void)UKO_SocketClose(fd);
            return 1;
        }
        const int32_t one = 1;
        if (UKO_SocketSetOpt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                               "[%lu][%s][Fail to set plugin listen socket reuseaddr!]",
                               UI_LOG_TAG, kOp);
            (void)UKO_SocketClose(fd);
            return 1;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        const UiPluginBindFn bindFn = g_bind.load();
        const int32_t bound =
            (bindFn != nullptr ? bindFn : UKO_SocketBind)(fd, reinterpret_cast<sockaddr*>(&addr),
                                                          sizeof(addr));
        if (bound != 0) {
            const int32_t err = UKO_SocketErrnoGet();
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][Fail to Bind port]", UI_LOG_TAG,
                               kOp);
            (void)UKO_SocketClose(fd);
            if (err == EADDRINUSE) {
                continue;
            }
            return 1;
        }
        if (UKO_SocketListen(fd, 10) != 0) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][Fail to listen socket]",
                               UI_LOG_TAG, kOp);
            (void)UKO_SocketClose(fd);
            return 1;
        }
        *piFd = fd;
        *puiBoundPort = port;
        return 0;
    }
    return 1;
}

// ---- The user behind a connection ---------------------------------------------------------------
//
// Every local user can connect to a loopback port, and the listener hands the session's
// cookie to whoever registered first and obeys whoever asks for a logout: it must know
// whose program is at the other end. A loopback peer is a socket of this machine, and
// the kernel knows its owner. The peer's socket is the one whose own address is our
// connection's remote address and whose remote address is our local one; our accepted
// socket has the same pair the other way round, and asking for that one would name our
// own user for every peer.
//
// Only a socket that a process still holds has an owner worth the name: one that was
// closed is an orphan or in its time-wait, for which the kernel reports uid 0 (root),
// and whatever it sent before it went cannot be told from another user's.

namespace {

// The two ends of an accepted IPv4 connection as our socket sees them.
struct ConnEnds {
    sockaddr_in peer;  // the peer's own address: our socket's remote end
    sockaddr_in ours;  // the address the peer is connected to: our socket's local end
};

bool ConnEndsGet(int32_t iFd, ConnEnds* pstEnds) {
    std::memset(pstEnds, 0, sizeof(*pstEnds));
    socklen_t len = sizeof(pstEnds->peer);
    if (UKO_SocketGetPeerName(iFd, reinterpret_cast<sockaddr*>(&pstEnds->peer), &len) != 0 ||
        len != sizeof(pstEnds->peer) || pstEnds->peer.sin_family != AF_INET) {
        return false;
    }
    len = sizeof(pstEnds->ours);
    return UKO_SocketGetSockName(iFd, reinterpret_cast<sockaddr*>(&pstEnds->ours), &len) == 0 &&
           len == sizeof(pstEnds->ours) && pstEnds->ours.sin_family == AF_INET;
}

// What the look-ups found: whether the peer's socket was seen at all, and the owners of
// those of its sockets that a process holds. More than one owner cannot be, and is taken
// as none.
struct PeerOwners {
    bool bSeen = false;
    uint32_t uiLive = 0;
    uint32_t uiUid = 0;
    bool bDisagree = false;
    void Add(uint32_t uiUid2) {
        if (uiLive > 0 && uiUid2 != uiUid) {
            bDisagree = true;
        }
        uiUid = uiUid2;
        ++uiLive;
    }
    uint32_t Result(uint32_t* puiUid) const {
        if (uiLive == 0 || bDisagree) {
            return 1;
        }
        *puiUid = uiUid;
        return 0;
    }
};

// An IPv4 address as an IPv6 socket of the same connection holds it (::ffff:a.b.c.d),
// word by word as it lies in memory.
void V4Mapped(uint32_t uiAddr, uint32_t auiWords[4]) {
    auiWords[0] = 0;
    auiWords[1] = 0;
    auiWords[2] = htonl(0xFFFF);
    auiWords[3] = uiAddr;
}

// Whether an address of a diagnostics answer (family AF_INET: word 0; AF_INET6: all
// four) is the IPv4 address given, in memory order.
bool DiagAddrIs(uint8_t ucFamily, const uint32_t auiAddr[4], uint32_t uiAddr) {
    if (ucFamily == AF_INET) {
        return auiAddr[0] == uiAddr;
    }
    uint32_t mapped[4];
    V4Mapped(uiAddr, mapped);
    return ucFamily == AF_INET6 && std::memcmp(auiAddr, mapped, sizeof(mapped)) == 0;
}

// The kernel's socket diagnostics asked for the peer's socket: its owners, and whether the
// socket was seen at all (an answer without it may as well mean that these diagnostics
// are not built in).
PeerOwners DiagOwners(const ConnEnds& ends) {
    PeerOwners owners;
    const int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0) {
        return owners;
    }
    // One socket asked for by its four values: the kernel looks it up in its table of
    // connections, as a packet from our end to the peer would find it. An IPv6 socket
    // connected to our IPv4 listener sits in the same table and is found as well.
    struct {
        nlmsghdr stHead;
        inet_diag_req_v2 stReq;
    } ask;
    std::memset(&ask, 0, sizeof(ask));
    ask.stHead.nlmsg_len = sizeof(ask);
    ask.stHead.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.stHead.nlmsg_flags = NLM_F_REQUEST;
    ask.stHead.nlmsg_seq = 1;
    ask.stReq.sdiag_family = AF_INET;
    ask.stReq.sdiag_protocol = IPPROTO_TCP;
    ask.stReq.idiag_states = ~0u;
    ask.stReq.id.idiag_sport = ends.peer.sin_port;
    ask.stReq.id.idiag_dport = ends.ours.sin_port;
    ask.stReq.id.idiag_src[0] = ends.peer.sin_addr.s_addr;
    ask.stReq.id.idiag_dst[0] = ends.ours.sin_addr.s_addr;
    ask.stReq.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    ask.stReq.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = -1;
    do {
        sent = sendto(nl, &ask, sizeof(ask), 0, reinterpret_cast<sockaddr*>(&kernel),
                      sizeof(kernel));
    } while (sent < 0 && errno == EINTR);
    // The kernel answers within the send; the wait is only a bound.
    pollfd pfd{nl, POLLIN, 0};
    int ready = -1;
    do {
        ready = sent == static_cast<ssize_t>(sizeof(ask)) ? poll(&pfd, 1, 1000) : 0;
    } while (ready < 0 && errno == EINTR);
    uint8_t buf[8192];
    ssize_t got = -1;
    sockaddr_nl from{};
    socklen_t fromLen = sizeof(from);
    if (ready > 0) {
        do {
            got = recvfrom(nl, buf, sizeof(buf), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                           &fromLen);
        } while (got < 0 && errno == EINTR);
    }
    (void)close(nl);
    // Only the kernel's answer counts: another process could send to this socket too.
    if (got <= 0 || fromLen != sizeof(from) || from.nl_pid != 0) {
        return owners;
    }
    size_t off = 0;
    const size_t total = static_cast<size_t>(got);
    while (total - off >= sizeof(nlmsghdr)) {
        nlmsghdr head;
        std::memcpy(&head, buf + off, sizeof(head));
        if (head.nlmsg_len < sizeof(head) || head.nlmsg_len > total - off) {
            break;
        }
        if (head.nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            head.nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            inet_diag_msg m;
            std::memcpy(&m, buf + off + NLMSG_HDRLEN, sizeof(m));
            // The very connection, seen from the peer's end (a listener that happened to
            // own the peer's port would not match), and whether some process holds it.
            if (m.idiag_state != TCP_LISTEN && m.id.idiag_sport == ends.peer.sin_port &&
                m.id.idiag_dport == ends.ours.sin_port &&
                DiagAddrIs(m.idiag_family, m.id.idiag_src, ends.peer.sin_addr.s_addr) &&
                DiagAddrIs(m.idiag_family, m.id.idiag_dst, ends.ours.sin_addr.s_addr)) {
                owners.bSeen = true;
                if (m.idiag_inode != 0) {
                    owners.Add(m.idiag_uid);
                }
            }
        }
        off += NLMSG_ALIGN(head.nlmsg_len);
        if (off > total) {
            break;
        }
    }
    return owners;
}

// The rows of one of the kernel's connection tables (/proc/net/tcp or tcp6) whose local
// end is peerAddr:peerPort and remote end ourAddr:ourPort, the addresses written as the
// table writes them.
void ProcNetScan(const char* pcPath, const char* pcPeerAddr, uint32_t uiPeerPort,
                 const char* pcOurAddr, uint32_t uiOurPort, PeerOwners* pstOwners) {
    FILE* f = std::fopen(pcPath, "re");
    if (f == nullptr) {
        return;
    }
    char line[512];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
        char local[33] = {}, remote[33] = {};
        unsigned localPort = 0, remotePort = 0, state = 0, uid = 0;
        unsigned long inode = 0;
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
        if (std::sscanf(line, " %*u: %32[0-9A-Fa-f]:%x %32[0-9A-Fa-f]:%x %x %*s %*s %*s %u %*s %lu",
                        local, &localPort, remote, &remotePort, &state, &uid, &inode) != 7) {
            continue;
        }
        if (state != TCP_LISTEN && localPort == uiPeerPort && remotePort == uiOurPort &&
            strcasecmp(local, pcPeerAddr) == 0 && strcasecmp(remote, pcOurAddr) == 0) {
            pstOwners->bSeen = true;
            if (inode != 0) {
                pstOwners->Add(uid);
            }
        }
    }
    (void)std::fclose(f);
}

}  // namespace

uint32_t uiPluginPeerUidByProcNet(int32_t iFd, uint32_t* puiUid) {
    ConnEnds ends;
    if (puiUid == nullptr || !ConnEndsGet(iFd, &ends)) {
        return 1;
    }
    const uint32_t peerPort = ntohs(ends.peer.sin_port);
    const uint32_t ourPort = ntohs(ends.ours.sin_port);
    // The tables print each 32-bit word of an address as it lies in memory, in hex.
    char peer4[9], ours4[9];
    (void)std::snprintf(peer4, sizeof(peer4), "%08X", ends.peer.sin_addr.s_addr);
    (void)std::snprintf(ours4, sizeof(ours4), "%08X", ends.ours.sin_addr.s_addr);
    uint32_t p[4], o[4];
    V4Mapped(ends.peer.sin_addr.s_addr, p);
    V4Mapped(ends.ours.sin_addr.s_addr, o);
    char peer6[33], ours6[33];
    (void)std::snprintf(peer6, sizeof(peer6), "%08X%08X%08X%08X", p[0], p[1], p[2], p[3]);
    (void)std::snprintf(ours6, sizeof(ours6), "%08X%08X%08X%08X", o[0], o[1], o[2], o[3]);
    PeerOwners owners;
    ProcNetScan("/proc/net/tcp", peer4, peerPort, ours4, ourPort, &owners);
    // An IPv6 socket connected to our IPv4 listener is listed with the IPv6 ones.
    ProcNetScan("/proc/net/tcp6", peer6, peerPort, ours6, ourPort, &owners);
    return owners.Result(puiUid);
}

uint32_t uiPluginPeerUidByDiag(int32_t iFd, uint32_t* puiUid) {
    ConnEnds ends;
    if (puiUid == nullptr || !ConnEndsGet(iFd, &ends)) {
        return 1;
    }
    return DiagOwners(ends).Result(puiUid);
}

uint32_t uiPluginPeerUid(int32_t iFd, uint32_t* puiUid) {
    ConnEnds ends;
    if (puiUid == nullptr || !ConnEndsGet(iFd, &ends)) {
        return 1;
    }
    // The kernel's diagnostics find the one socket at once. Its tables, read whole, serve
    // only where the diagnostics did not see the socket at all: they may not be built in.
    const PeerOwners owners = DiagOwners(ends);
    if (owners.bSeen) {
        return owners.Result(puiUid);
    }
    return uiPluginPeerUidByProcNet(iFd, puiUid);
}
