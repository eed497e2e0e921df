// The link's start-up, the connection to the service, the receive and send tasks and
// the end of the link.

#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jqr_mem.h"
#include "jqr_queue.h"
#include "jqr_task.h"
#include "ui_common.h"
#include "ui_connect.h"
#include "ui_connect_inner.h"
#include "ui_env.h"
#include "ui_link_inner.h"
#include "ui_packet.h"
#include "ui_packet_inner.h"
#include "ui_promote.h"
#include "ui_startup.h"
#include "ui_urgent.h"
#include "uko_socket.h"
#include "uko_start.h"

std::atomic<uint32_t> g_sendQueueId{0};
std::atomic<uint32_t> g_fastQueueId{0};
std::atomic<uint32_t> g_recvTaskId{0};
std::atomic<uint32_t> g_sendTaskId{0};
std::atomic<bool> g_linkStarted{false};

namespace {

std::atomic<UI_RETRY_SLEEP_PF> g_retrySleep{nullptr};

void RetrySleep(uint32_t uiSeconds) {
    UI_RETRY_SLEEP_PF fake = g_retrySleep.load();
    if (fake != nullptr) {
        fake(uiSeconds);
        return;
    }
    // sleep() ends early when a signal arrives; the rest of the second is slept out.
    uint32_t left = uiSeconds;
    while (left != 0) {
        left = sleep(left);
    }
}

// Descriptors 0 to 2 that are closed are opened on /dev/null. A program started with
// one of them closed would otherwise give that number to its first socket, and any
// later write to standard output or error would land in the service connection.
void StandardDescriptorsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number is this one: the ones below it are open by now.
        const int opened = open("/dev/null", O_RDWR);
        if (opened != fd && opened >= 0) {
            (void)close(opened);
        }
    }
}

void GreetingSend(int32_t iFd, uint32_t uiConnType) {
    PacketHead head;
    (void)UI_PacketHead_Set(&head, MARK_UI, MARK_TULM, uiConnType, MSG_TYPE_PREF,
                            PREF_MSGCODE_FIRSTCONN_START_TULM, UI_PACKET_HEAD_LEN);
    (void)UI_Packet_Send(iFd, reinterpret_cast<const uint8_t*>(&head), UI_PACKET_HEAD_LEN);
}

// The set of descriptors the receive task waits on. It is built again only when the
// table's asynchronous connections differ from the ones it was built from.
struct WatchSet {
    fd_set stSet;
    int32_t iMaxFd;
    int32_t aiBuiltFrom[UI_CONNECT_TABLE_SIZE];
    uint32_t uiCount;  // descriptors in the set
};

// UI_Socket_Init: the asynchronous connections of the slots into the set.
void UI_Socket_Init(const ConnectInfo* pstSlots, WatchSet* pstWatch) {
    int32_t fds[UI_CONNECT_TABLE_SIZE];
    for (uint32_t i = 0; i < UI_CONNECT_TABLE_SIZE; ++i) {
        const ConnectInfo& slot = pstSlots[i];
        const bool watched = slot.iSocket != UI_SOCKET_NONE &&
                             slot.uiConnetType == CONNECT_TYPE_ASYNC &&
                             slot.iSocket < FD_SETSIZE;
        fds[i] = watched ? slot.iSocket : UI_SOCKET_NONE;
    }
    if (std::memcmp(fds, pstWatch->aiBuiltFrom, sizeof(fds)) == 0) {
        return;
    }
    std::memcpy(pstWatch->aiBuiltFrom, fds, sizeof(fds));
    FD_ZERO(&pstWatch->stSet);
    pstWatch->iMaxFd = -1;
    pstWatch->uiCount = 0;
    for (int32_t fd : fds) {
        if (fd == UI_SOCKET_NONE) {
            continue;
        }
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                           "[%lu][Process socket init][ui socket init fd is %d !]", UI_LOG_TAG,
                           fd);
        FD_SET(fd, &pstWatch->stSet);
        ++pstWatch->uiCount;
        if (fd > pstWatch->iMaxFd) {
            pstWatch->iMaxFd = fd;
        }
    }
}

// UI_Packet_RecvProc: reads one packet from a ready slot. A packet for this end on an
// asynchronous connection is handed back through *ppucForward for the queue; others
// are dropped. The payload length, or -1 when the connection is broken.
int32_t UI_Packet_RecvProc(const ConnectInfo& stSlot, uint8_t** ppucForward) {
    *ppucForward = nullptr;
    uint8_t* packet = nullptr;
    const int32_t len = UI_Packet_Recv(stSlot.iSocket, &packet);
    if (len < 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_WARN,
                           "[%lu][Process receive packet proc][ui receive packet failed!]",
                           UI_LOG_TAG);
        return -1;
    }
    PacketHead head;
    uiPacketHeadRead(packet, &head);
    if (head.uiDestMark == MARK_UI) {
        if (head.uiConnetType == CONNECT_TYPE_ASYNC) {
            *ppucForward = packet;
            return len;
        }
    } else {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_WARN,
                           "[%lu][Process receive packet proc][the packet dest is not ui]",
                           UI_LOG_TAG);
    }
    (void)UKO_Free(packet);
    return len;
}

// UI_RecvThread: waits until the connections are in the table, then hands every packet
// that arrives on an asynchronous connection to "FAST". A broken connection closes
// every connection, is reported once and ends the task.
//
// The task holds the table while it waits and reads, so a close by another thread
// (the end of the link) cannot close a descriptor under it that the kernel might give
// to a new file at once. The close shuts the sockets down first, which wakes the wait.
// Packets go to the queue only after the hold is released: a full queue then never
// keeps the link from being closed.
void UI_RecvThread(uint64_t, uint64_t, uint64_t, uint64_t) {
    uint32_t got = 0;
    if (UKO_Event_Read(UI_RECV_START_EVENT, &got, UKO_EVENT_FLAG_WAIT, 0) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process receive thread][wait for start failed!]", UI_LOG_TAG);
        return;
    }
    (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                       "[%lu][Process receive thread][ui receive thread start!]", UI_LOG_TAG);
    WatchSet watch;
    FD_ZERO(&watch.stSet);
    watch.iMaxFd = -1;
    watch.uiCount = 0;
    for (int32_t& fd : watch.aiBuiltFrom) {
        fd = UI_SOCKET_NONE;
    }
    for (;;) {
        ConnectInfo slots[UI_CONNECT_TABLE_SIZE];
        uint32_t count = 0;
        uiServiceTableHold(slots, &count);
        UI_Socket_Init(slots, &watch);
        if (watch.uiCount == 0) {
            // The link was closed between two passes: nothing is left to watch.
            UI_ConnectFd_Release();
            UI_ConnectLost_Post();
            return;
        }
        fd_set ready = watch.stSet;
        if (UKO_SocketSelect(watch.iMaxFd + 1, &ready, nullptr, nullptr, nullptr) == -1) {
            UI_ConnectFd_Release();
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                               "[%lu][Process receive thread][ui receive thread select failed!]",
                               UI_LOG_TAG);
            UI_ConnectLost_Post();
            return;
        }
        uint8_t* forward[UI_CONNECT_TABLE_SIZE] = {};
        uint32_t forwardCount = 0;
        const ConnectInfo* broken = nullptr;
        for (const ConnectInfo& slot : slots) {
            if (slot.iSocket == UI_SOCKET_NONE || slot.uiConnetType != CONNECT_TYPE_ASYNC ||
                slot.iSocket >= FD_SETSIZE || !FD_ISSET(slot.iSocket, &ready)) {
                continue;
            }
            uint8_t* packet = nullptr;
            if (UI_Packet_RecvProc(slot, &packet) < 0) {
                broken = &slot;
                break;
            }
            if (packet != nullptr) {
                forward[forwardCount++] = packet;
            }
        }
        UI_ConnectFd_Release();
        for (uint32_t i = 0; i < forwardCount; ++i) {
            PacketHead head;
            uiPacketHeadRead(forward[i], &head);
            (void)UI_Queue_Write(g_fastQueueId.load(), forward[i],
                                 UI_PACKET_HEAD_LEN + head.uiMsgLen);
            (void)UKO_Free(forward[i]);
        }
        if (broken != nullptr) {
            UI_Socket_CloseAll();
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                               "[%lu][Process receive thread][ui connect is closed!,  source mark "
                               "is %d, dest mark is %d,connet type is %d]",
                               UI_LOG_TAG, static_cast<int>(broken->uiSourceMark),
                               static_cast<int>(broken->uiDestMark),
                               static_cast<int>(broken->uiConnetType));
            UI_ConnectLost_Post();
            return;
        }
    }
}

// UI_SendThread: sends what the "SEND" queue carries on the connection its head names.
// Nothing writes that queue at present, so the task waits on its first read.
void UI_SendThread(uint64_t, uint64_t, uint64_t, uint64_t) {
    for (;;) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                           "[%lu][Process send thread][ui send thread start!]", UI_LOG_TAG);
        uint8_t* packet = nullptr;
        if (UI_Queue_Read(g_sendQueueId.load(), &packet) != 0) {
            (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                               "[%lu][Process send thread][fail to read msg queue]", UI_LOG_TAG);
            // A queue that keeps failing must not turn the task into a busy loop.
            (void)UKO_Task_Delay(1000);
            continue;
        }
        const PacketHead* head = reinterpret_cast<const PacketHead*>(packet);
        const int32_t fd = UI_ConnectFd_HoldByHead(head);
        if (fd == UI_SOCKET_NONE) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_WARN,
                               "[%lu][Process send thread][ui send connect is closed!]",
                               UI_LOG_TAG);
        } else {
            PacketHead host;
            uiPacketHeadRead(packet, &host);
            if (host.uiMsgLen > UI_PACKET_PAYLOAD_MAX ||
                UI_Packet_Send(fd, packet, UI_PACKET_HEAD_LEN + host.uiMsgLen) == -1) {
                (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                                   "[%lu][Process send thread][fail to send message,errno is %d, "
                                   "fd is %d]",
                                   UI_LOG_TAG, errno, fd);
            }
            UI_ConnectFd_Release();
        }
        (void)UKO_Free(packet);
    }
}

}  // namespace

void uiConnectRetrySleepSet(UI_RETRY_SLEEP_PF pfnSleep) {
    g_retrySleep.store(pfnSleep);
}

uint32_t UI_Task_Create(const char* pcName, uint64_t uvArg, UKO_TASK_ENTRY_PF pfnEntry,
                        uint32_t* puiTaskId) {
    if (pcName == nullptr || pfnEntry == nullptr || puiTaskId == nullptr) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Input NULL pinter", UI_LOG_TAG);
        return 1;
    }
    const uint64_t args[UKO_TASK_ARG_NUM] = {uvArg, 0, 0, 0};
    if (UKO_Task_Create(pcName, 0, 0, 0, args, pfnEntry, puiTaskId) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR, "[%lu]Fail to create thread", UI_LOG_TAG);
        return 1;
    }
    return 0;
}

uint32_t UI_LogFile_Init(const char* pcLogName) {
    if (DDM_LogInit(pcLogName) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][UI initialize logfile][TULM logfile name failed!]", UI_LOG_TAG);
        return 1;
    }
    char install[UI_INSTALL_PATH_SIZE] = {};
    if (UI_Get_InstallPath(install) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][UI initialize logfile][get install path failed!path is %s]",
                           UI_LOG_TAG, install);
        return 1;
    }
    char path[UI_INSTALL_PATH_SIZE] = {};
    (void)DDM_Sprintf(path, sizeof(path), "%s/%s", install, UI_SYSCONFIG_FILE);
    (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                       "[%lu][UI initialize logfile][get sysconfig.ini path is %s]", UI_LOG_TAG,
                       path);
    int32_t level = 1;
    if (path[0] != '\0' && UI_LogLevel_Read(path, &level) == 0 && level >= 0 &&
        level < static_cast<int32_t>(DDM_LOG_LEVEL_COUNT)) {
        (void)DDM_LogLevelSet(static_cast<uint32_t>(level));
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                           "[%lu][UI initialize logfile][Set log level is %d]", UI_LOG_TAG,
                           level);
    } else {
        // The log starts at level 1 (DEBUG off); a missing file or a level out of range
        // leaves it there.
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_INFO,
                           "[%lu][UI initialize logfile][Set log level is 1]", UI_LOG_TAG);
    }
    return 0;
}

uint32_t UI_Queue_Init() {
    uint32_t sendId = 0;
    uint32_t fastId = 0;
    if (UKO_Queue_Create("SEND", UI_QUEUE_DEPTH, UI_QUEUE_FLAGS, &sendId) != 0 ||
        UKO_Queue_Create("FAST", UI_QUEUE_DEPTH, UI_QUEUE_FLAGS, &fastId) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process queue init][fail to create message queue]", UI_LOG_TAG);
        g_sendQueueId.store(sendId);
        return 1;
    }
    g_sendQueueId.store(sendId);
    g_fastQueueId.store(fastId);
    return 0;
}

uint32_t UI_Thread_Init() {
    uint32_t id = 0;
    if (UI_Task_Create("RECV", 0, UI_RecvThread, &id) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process thread init][create emergency process failed!]",
                           UI_LOG_TAG);
        return 1;
    }
    g_recvTaskId.store(id);
    if (UI_Task_Create("SEND", 0, UI_SendThread, &id) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process thread init][pub thread create failed!]", UI_LOG_TAG);
        return 1;
    }
    g_sendTaskId.store(id);
    return 0;
}

uint32_t UI_StartUp_Init(const char* pcLogName) {
    if (UKO_Start() != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process start up init][uko start failed!]", UI_LOG_TAG);
        return 1;
    }
    if (UI_LogFile_Init(pcLogName) != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process star tup init][tulm logfile name failed!]", UI_LOG_TAG);
        return 1;
    }
    UI_Connect_Reset();
    if (UI_Queue_Init() != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process star tup init][ui queue init failed!]", UI_LOG_TAG);
        return 1;
    }
    if (UI_Thread_Init() != 0) {
        (void)DDM_LogWrite(UI_LOG_CADM, DDM_LOG_ERROR,
                           "[%lu][Process star tup init][ui thread init failed!]", UI_LOG_TAG);
        return 1;
    }
    g_linkStarted.store(true);
    return 0;
}

uint32_t UI_Init(const char* pcLogName) {
    // A send to a service that has gone must fail with EPIPE, not end the front end.
    (void)signal(SIGPIPE, SIG_IGN);
    StandardDescriptorsOpen();
    return UI_StartUp_Init(pcLogName) != 0 ? 1 : 0;
}

void UI_ConnectLost_Post() {
    if (g_linkShutdown.load()) {
        return;
    }
    PacketHead notice;
    (void)UI_PacketHead_Set(&notice, MARK_RPC, MARK_UI, CONNECT_TYPE_ASYNC, MSG_TYPE_PREF,
                            MSGCODE_CONNECTION_LOST, UI_PACKET_HEAD_LEN);
    (void)UI_Queue_Write(g_fastQueueId.load(), reinterpret_cast<const uint8_t*>(&notice),
                         UI_PACKET_HEAD_LEN);
}

uint32_t UI_Main_Connect(char* pcName, uint32_t* puiState) {
    static const char kOp[] = "Process main socket connect RPC";
    if (pcName == nullptr || puiState == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][invalid parameter!]", UI_LOG_TAG,
                           kOp);
        return 1;
    }
    *puiState = SERVICE_NOT_CONNECTED;
    if (!g_linkStarted.load()) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui link is not started!]",
                           UI_LOG_TAG, kOp);
        return 1;
    }
    if (UI_PromoteService_Start() != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu]Install RPC_Service Failed\r\n",
                           UI_LOG_TAG);
        *puiState = SERVICE_NOT_STARTED;
        return 1;
    }
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO, "[%lu] Start Connect RPC Service", UI_LOG_TAG);

    int32_t promoteFd = UI_SOCKET_NONE;
    bool connected = false;
    for (uint32_t i = 0; i < UI_CONNECT_TRIES && !connected; ++i) {
        connected = UI_Connect_Open(RPC_SERVICE_PORT, MARK_RPC, CONNECT_TYPE_ASYNC, &promoteFd) == 0;
        if (!connected) {
            RetrySleep(1);
        }
    }
    if (!connected) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui can't connect RPC!]",
                           UI_LOG_TAG, kOp);
        return 1;
    }

    uint32_t port = 0;
    uint32_t code = 0;
    if (UI_RemotePort_Get(&port, &code) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui get remote port failed!]",
                           UI_LOG_TAG, kOp);
        uiConnectClose(promoteFd);
        return 1;
    }
    if ((code & 0xFFFF) != (PREF_MSGCODE_FIRSTCONN_TULM_LISTENPORT & 0xFFFF)) {
        UI_MsgCodeName_Get(g_prefMsgCodeTable, UI_PREF_MSGCODE_BOUND, code, pcName);
        return 0;
    }

    g_enginePort.store(port);
    int32_t syncFd = UI_SOCKET_NONE;
    if (UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_SYNC, &syncFd) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui can't connect TULM!]",
                           UI_LOG_TAG, kOp);
        return 1;
    }
    GreetingSend(syncFd, CONNECT_TYPE_SYNC);
    int32_t asyncFd = UI_SOCKET_NONE;
    if (UI_Connect_Open(port, MARK_TULM, CONNECT_TYPE_ASYNC, &asyncFd) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][ui can't connect TULM!]",
                           UI_LOG_TAG, kOp);
        uiConnectClose(syncFd);
        return 1;
    }
    GreetingSend(asyncFd, CONNECT_TYPE_ASYNC);

    // Only now are all three connections in the table for the receive task to watch.
    if (UKO_Event_Write(g_recvTaskId.load(), UI_RECV_START_EVENT) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][wake receive thread failed!]",
                           UI_LOG_TAG, kOp);
        // Nobody would read the service's events or notice the connections break.
        UI_Socket_CloseAll();
        return 1;
    }
    *puiState = SERVICE_CONNECTED;
    return 0;
}

void UI_Main_Disconnect() {
    g_linkShutdown.store(true);
    UI_Socket_CloseAll();
}
