// The plugin side's tasks: "PLUG" starts it, "PLUR" watches the listener and the plugin
// connections and hands every request to the plugin event queue, "PLUS" waits on its
// queue; and the reader of the plugin event queue.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "jqr_mem.h"
#include "jqr_queue.h"
#include "jqr_task.h"
#include "ui_common.h"
#include "ui_packet_inner.h"
#include "ui_plugin.h"
#include "ui_plugin_inner.h"
#include "ui_startup.h"
#include "uko_socket.h"

// The queue PluginThread reads the plugin's requests from.
std::atomic<uint32_t> g_pluginEventQueueId{0};

namespace {

constexpr uint32_t kQueueDepth = 4096;
constexpr uint32_t kQueueFlags = 10;  // first in, first out; readers may wait
constexpr uint32_t kRecvWakeEvent = 1;
constexpr uint32_t kSelectSeconds = 60;
constexpr uint32_t kSendBufferSize = 8192;

std::atomic<uint32_t> g_pluginSendQueueId{0};
std::atomic<uint32_t> g_pluginRecvTaskId{0};
std::atomic<uint32_t> g_pluginSendTaskId{0};
std::atomic<int32_t> g_pluginListenFd{UI_SOCKET_NONE};
std::atomic<uint32_t> g_pluginListenPort{0};

// A packet coming in on one slot, as far as it has arrived. Owned by "PLUR" alone: a
// plugin that sends part of a packet and then waits, or trickles it byte by byte, holds
// only its own slot and never the listener or the other plugins.
struct SlotRecv {
    int32_t iFd;  // the connection these bytes came from
    uint8_t aucHead[UI_PACKET_HEAD_LEN];
    uint32_t uiHeadGot;
    uint8_t* pucPacket;  // head, payload and a zero byte, once the head is whole
    uint32_t uiLen;      // payload bytes announced
    uint32_t uiGot;      // payload bytes in
};
SlotRecv g_recv[UI_CONNECT_TABLE_SIZE];

void RecvReset(SlotRecv* r, int32_t iFd) {
    if (r->pucPacket != nullptr) {
        (void)UKO_Free(r->pucPacket);
    }
    std::memset(r, 0, sizeof(*r));
    r->iFd = iFd;
}

// After a close, which may have emptied several slots: what was coming in on a
// connection that is gone is dropped.
void RecvSweep() {
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uiPluginTableCopy(slots, nullptr, nullptr);
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        if (g_recv[i].iFd != slots[i].iSocket) {
            RecvReset(&g_recv[i], slots[i].iSocket);
        }
    }
}

void CloseSlot(uint32_t uiSlot, fd_set* pstSet) {
    UI_PluginConnect_Close(uiSlot, pstSet);
    RecvSweep();
}

int32_t RecvFailed(uint32_t uiSlot, fd_set* pstSet) {
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                       "[%lu][Process receive plugin packet proc][ui receive packet failed!]",
                       UI_LOG_TAG);
    CloseSlot(uiSlot, pstSet);
    return -1;
}

// One receive without waiting: the bytes read, 0 when nothing is pending, -1 when the
// plugin closed or the connection failed.
int32_t RecvSome(int32_t iFd, uint8_t* pucBuf, uint32_t uiLen) {
    const int32_t n = UKO_SocketRecv(iFd, pucBuf, uiLen, MSG_DONTWAIT);
    if (n > 0) {
        return n;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return 0;
    }
    return -1;
}

// A whole packet from a slot: registers the slot and hands a request for the front end
// to the plugin event queue.
void Deliver(uint32_t uiSlot, const uint8_t* pucPacket) {
    PacketHead head;
    uiPacketHeadRead(pucPacket, &head);
    UI_PluginConnect_Save(uiSlot, &head);
    if (head.uiDestMark != MARK_UI) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_WARN,
                           "[%lu][Process receive plugin packet proc][the packet dest is not ui]",
                           UI_LOG_TAG);
        return;
    }
    if (head.uiConnetType == CONNECT_TYPE_ASYNC) {
        (void)UI_Queue_Write(g_pluginEventQueueId.load(), pucPacket,
                             UI_PACKET_HEAD_LEN + head.uiMsgLen);
    }
}

}  // namespace

// ---- The receive task's steps --------------------------------------------------------------------

int32_t UI_PluginFdSet_Build(int32_t iListenFd, fd_set* pstSet) {
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uiPluginTableCopy(slots, nullptr, nullptr);
    FD_ZERO(pstSet);
    FD_SET(iListenFd, pstSet);
    int32_t maxFd = iListenFd;
    for (const ConnectInfo& slot : slots) {
        if (slot.iSocket != UI_SOCKET_NONE) {
            FD_SET(slot.iSocket, pstSet);
            maxFd = slot.iSocket > maxFd ? slot.iSocket : maxFd;
        }
    }
    return maxFd;
}

int32_t UI_PluginPacket_RecvProc(uint32_t uiSlot, fd_set* pstSet) {
    ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
    uiPluginTableCopy(slots, nullptr, nullptr);
    const int32_t fd = slots[uiSlot].iSocket;
    SlotRecv* r = &g_recv[uiSlot];
    if (r->iFd != fd) {
        RecvReset(r, fd);
    }
    if (r->uiHeadGot < UI_PACKET_HEAD_LEN) {
        const int32_t n = RecvSome(fd, r->aucHead + r->uiHeadGot, UI_PACKET_HEAD_LEN - r->uiHeadGot);
        if (n < 0) {
            return RecvFailed(uiSlot, pstSet);
        }
        r->uiHeadGot += static_cast<uint32_t>(n);
        if (r->uiHeadGot < UI_PACKET_HEAD_LEN) {
            return 0;
        }
        PacketHead head;
        uiPacketHeadRead(r->aucHead, &head);
        // No request comes near this: a longer announcement is a broken stream, and
        // waiting for it would hold memory the plugin chose.
        if (head.uiMsgLen > PLUGIN_PACKET_PAYLOAD_MAX) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                               "[%lu][Process receive plugin packet proc][packet length %u is over "
                               "the limit, fd is %d]",
                               UI_LOG_TAG, head.uiMsgLen, fd);
            return RecvFailed(uiSlot, pstSet);
        }
        const uint32_t size = UI_PACKET_HEAD_LEN + head.uiMsgLen + 1;
        r->pucPacket = static_cast<uint8_t*>(UKO_Malloc(UI_MEM_ID, size));
        if (r->pucPacket == nullptr) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Malloc failed", UI_LOG_TAG);
            return RecvFailed(uiSlot, pstSet);
        }
        std::memset(r->pucPacket, 0, size);
        std::memcpy(r->pucPacket, r->aucHead, UI_PACKET_HEAD_LEN);
        r->uiLen = head.uiMsgLen;
        r->uiGot = 0;
    }
    if (r->uiGot < r->uiLen) {
        const int32_t n =
            RecvSome(fd, r->pucPacket + UI_PACKET_HEAD_LEN + r->uiGot, r->uiLen - r->uiGot);
        if (n < 0) {
            return RecvFailed(uiSlot, pstSet);
        }
        r->uiGot += static_cast<uint32_t>(n);
        if (r->uiGot < r->uiLen) {
            return 0;
        }
    }
    const int32_t len = static_cast<int32_t>(r->uiLen);
    Deliver(uiSlot, r->pucPacket);
    RecvReset(r, fd);
    return len;
}

int32_t UI_PluginListen_Accept(int32_t iListenFd, fd_set* pstSet, int32_t iMaxFd) {
    if (!FD_ISSET(iListenFd, pstSet)) {
        return iMaxFd;
    }
    sockaddr_in peer{};
    socklen_t peerLen = sizeof(peer);
    const int32_t fd = UKO_SocketAccept(iListenFd, reinterpret_cast<sockaddr*>(&peer), &peerLen);
    if (fd < 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process plugin listen port][Plugin recv thread accept error!]",
                           UI_LOG_TAG);
        return iMaxFd;
    }
    (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
    char addr[UKO_INET_ADDR_TEXT_SIZE] = {};
    UKO_InetNtoa(peer.sin_addr.s_addr, addr);
    // Any local user can reach a loopback port: only the client's own user's programs
    // are served. Another user's connection is closed before it reads or takes anything,
    // so it never holds a slot, registers, or receives what is meant for the plugin.
    uint32_t peerUid = 0;
    if (uiPluginPeerUid(fd, &peerUid) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                           "[%lu][Process plugin listen port][connection refused, the user of the "
                           "peer could not be learnt][%s:%d]",
                           UI_LOG_TAG, addr, static_cast<int>(ntohs(peer.sin_port)));
        (void)UKO_SocketClose(fd);
        return iMaxFd;
    }
    if (peerUid != static_cast<uint32_t>(geteuid())) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                           "[%lu][Process plugin listen port][connection of another user refused]"
                           "[uid %u][%s:%d]",
                           UI_LOG_TAG, peerUid, addr, static_cast<int>(ntohs(peer.sin_port)));
        (void)UKO_SocketClose(fd);
        return iMaxFd;
    }
    // select() can watch only descriptors below FD_SETSIZE; a higher one would be
    // written past the end of the descriptor set.
    if (fd >= FD_SETSIZE) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process plugin listen port][fd %d cannot be watched, connection "
                           "refused]",
                           UI_LOG_TAG, fd);
        (void)UKO_SocketClose(fd);
        return iMaxFd;
    }
    uint32_t slot = 0;
    if (uiPluginConnect_Add(fd, &slot) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process plugin listen port][Plugin max connections arrive, exit]",
                           UI_LOG_TAG);
        (void)UKO_SocketClose(fd);
        return iMaxFd;
    }
    RecvReset(&g_recv[slot], fd);
    uint32_t count = 0;
    uiPluginTableCopy(nullptr, &count, nullptr);
    (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO,
                       "[%lu][Plugin listen port have new connection][client :%d][%s:%d]",
                       UI_LOG_TAG, static_cast<int>(count), addr,
                       static_cast<int>(ntohs(peer.sin_port)));
    return fd > iMaxFd ? fd : iMaxFd;
}

// ---- Tasks ----------------------------------------------------------------------------------------

void UI_PluginRecvThread(uint64_t, uint64_t, uint64_t, uint64_t) {
    uint32_t got = 0;
    (void)UKO_Event_Read(kRecvWakeEvent, &got, UKO_EVENT_FLAG_WAIT | UKO_EVENT_FLAG_ANY, 0);
    const int32_t listenFd = g_pluginListenFd.load();
    for (;;) {
        fd_set set;
        const int32_t maxFd = UI_PluginFdSet_Build(listenFd, &set);
        timeval timeout{kSelectSeconds, 0};
        if (UKO_SocketSelect(maxFd + 1, &set, nullptr, nullptr, &timeout) == -1) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                               "[%lu][Process plugin recv thread][plugin recv thread select failed!]",
                               UI_LOG_TAG);
            // A failure that does not pass would otherwise turn the task into a spin.
            (void)UKO_Task_Delay(100);
            continue;
        }
        for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
            // Read afresh: a close before this slot may have emptied it.
            ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
            uiPluginTableCopy(slots, nullptr, nullptr);
            const int32_t fd = slots[i].iSocket;
            if (fd != UI_SOCKET_NONE && FD_ISSET(fd, &set)) {
                (void)UI_PluginPacket_RecvProc(i, &set);
            }
        }
        (void)UI_PluginListen_Accept(listenFd, &set, maxFd);
    }
}

void UI_PluginSendThread(uint64_t, uint64_t, uint64_t, uint64_t) {
    static uint8_t buffer[kSendBufferSize];
    for (;;) {
        std::memset(buffer, 0, sizeof(buffer));
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO, "[%lu][Proces plugin send thread][start]",
                           UI_LOG_TAG);
        uint8_t* packet = nullptr;
        if (UI_Queue_Read(g_pluginSendQueueId.load(), &packet) != 0) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                               "[%lu][Proces plugin send thread][Plugin to read msg queue]",
                               UI_LOG_TAG);
            continue;
        }
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO, "[%lu][Proces plugin send thread][start]",
                           UI_LOG_TAG);
        PacketHead head;
        uiPacketHeadRead(packet, &head);
        // Only what the buffer took is sent: a longer packet is cut, never read past.
        const uint64_t whole = static_cast<uint64_t>(UI_PACKET_HEAD_LEN) + head.uiMsgLen;
        const uint32_t len = whole < sizeof(buffer) ? static_cast<uint32_t>(whole) : sizeof(buffer);
        std::memcpy(buffer, packet, len);
        (void)UKO_Free(packet);
        uint32_t slot = 0;
        const int32_t fd = UI_PluginConnect_Get(&head, &slot);
        if (fd == UI_SOCKET_NONE) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                               "[%lu][Proces plugin send thread][Plugin Send Connect is closed!]",
                               UI_LOG_TAG);
            continue;
        }
        const bool sent = UI_Packet_Send(fd, buffer, len) != -1;
        const int32_t err = UKO_SocketErrnoGet();
        uiPluginRelease(slot);
        if (sent) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO, "[%lu][Proces plugin send thread][finish]",
                               UI_LOG_TAG);
        } else {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                               "[%lu][Proces plugin send thread][Fail to Send Msg to plugin, errno "
                               "is [%d]]",
                               UI_LOG_TAG, err);
        }
    }
}

// ---- Start -----------------------------------------------------------------------------------------

uint32_t UI_PluginQueue_Init() {
    uint32_t sendQueue = 0, eventQueue = 0;
    if (UKO_Queue_Create("PLUS", kQueueDepth, kQueueFlags, &sendQueue) != 0 ||
        UKO_Queue_Create(UI_PLUGIN_EVENT_QUEUE_NAME, kQueueDepth, kQueueFlags, &eventQueue) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Proces plugin queue init][Fail to create msg queue]", UI_LOG_TAG);
        return 1;
    }
    g_pluginSendQueueId.store(sendQueue);
    g_pluginEventQueueId.store(eventQueue);
    return 0;
}

uint32_t UI_PluginThread_Init() {
    uint32_t recvTask = 0, sendTask = 0;
    if (UI_Task_Create("PLUR", 0, UI_PluginRecvThread, &recvTask) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Proces plugin thread init][Create Emergency Proc failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    g_pluginRecvTaskId.store(recvTask);
    if (UI_Task_Create("PLUS", 0, UI_PluginSendThread, &sendTask) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Proces plugin thread init][Create Emergency Proc failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    g_pluginSendTaskId.store(sendTask);
    return 0;
}

uint32_t UI_PluginListen_Create(uint32_t uiPort) {
    int32_t fd = UI_SOCKET_NONE;
    uint32_t port = 0;
    if (uiPluginListenOpen(uiPort, &fd, &port) != 0) {
        return 1;
    }
    g_pluginListenFd.store(fd);
    (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_INFO,
                       "[%lu][Proces plugin listen port create][port %d][socket %d]", UI_LOG_TAG,
                       static_cast<int>(port), fd);
    // Without the wake-up nobody would ever accept on the socket.
    if (UKO_Event_Write(g_pluginRecvTaskId.load(), kRecvWakeEvent) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Proces plugin listen port create][wake plugin recv thread failed]",
                           UI_LOG_TAG);
        g_pluginListenFd.store(UI_SOCKET_NONE);
        (void)UKO_SocketClose(fd);
        return 1;
    }
    g_pluginListenPort.store(port);
    return 0;
}

void UI_PluginThread(uint64_t, uint64_t, uint64_t, uint64_t) {
    if (UI_PluginQueue_Init() != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Proces plugin thread][Failed to Create plugin queue!]", UI_LOG_TAG);
        return;
    }
    if (UI_PluginThread_Init() != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Proces plugin thread][Failed to Create plugin thread!]",
                           UI_LOG_TAG);
        return;
    }
    if (UI_PluginListen_Create(PLUGIN_LISTEN_PORT) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Proces plugin thread][Failed to create plugin's listen socket !]",
                           UI_LOG_TAG);
    }
}

uint32_t UI_PluginThread_Create() {
    uint32_t taskId = 0;
    if (UI_Task_Create("PLUG", 0, UI_PluginThread, &taskId) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Proces plugin ui create plugin thread][Create plugin Proc failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    return 0;
}

uint32_t uiPluginListenPortGet() {
    return g_pluginListenPort.load();
}

// ---- The plugin event thread's read -------------------------------------------------------------

uint32_t UI_PluginEvent_Process(int32_t* piEventType, PluginLoginPayload* pstPayload) {
    static const char kOp[] = "Process plugin event process";
    if (piEventType == nullptr || pstPayload == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][invalid parameter!]", UI_LOG_TAG,
                           kOp);
        return 1;
    }
    uint8_t* packet = nullptr;
    if (UI_Queue_Read(g_pluginEventQueueId.load(), &packet) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][receive plugin eventqueue failed!]",
                           UI_LOG_TAG, kOp);
        return 1;
    }
    PacketHead head;
    uiPacketHeadRead(packet, &head);
    // The receive task queued exactly head and payload: the head's length is the copy's.
    *piEventType = uiPluginEventDecode(packet, UI_PACKET_HEAD_LEN + head.uiMsgLen, pstPayload);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo receive plugin message,message code is 0x%x, ret message "
                       "type is %d]",
                       UI_LOG_TAG, kOp, head.uiMsgCode, static_cast<int>(*piEventType));
    (void)UKO_Free(packet);
    return 0;
}
