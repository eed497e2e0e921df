// The service connection table, its look-ups and its close, and the engine-port
// request to the promote service.

#include "ui_connect.h"

#include <arpa/inet.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cstring>

#include "ui_common.h"
#include "ui_connect_inner.h"
#include "ui_env.h"
#include "ui_packet_inner.h"
#include "ui_request.h"
#include "uko_socket.h"

namespace {

constexpr ConnectInfo kEmptySlot = {0, 0, 0, UI_SOCKET_NONE};

// Holds the current thread has taken on the service table: a thread that closes the
// table while it holds a socket itself must not wait for its own holds.
thread_local uint32_t t_serviceHolds = 0;

struct Locked {
    explicit Locked(ConnectTable* t) : table(t) { (void)pthread_mutex_lock(&table->stLock); }
    ~Locked() { (void)pthread_mutex_unlock(&table->stLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ConnectTable* table;
};

void EmptySlots(ConnectTable* t) {
    for (ConnectInfo& slot : t->astConnect) {
        slot = kEmptySlot;
    }
    t->uiConnectCount = 0;
}

// Every slot is examined in order and the first match wins; empty slots never match.
template <typename Match>
int32_t FindLocked(const ConnectTable* t, Match match) {
    for (const ConnectInfo& slot : t->astConnect) {
        if (slot.iSocket != UI_SOCKET_NONE && match(slot)) {
            return slot.iSocket;
        }
    }
    return UI_SOCKET_NONE;
}

bool DestMatches(const ConnectInfo& slot, uint32_t uiMark, uint32_t uiConnType) {
    return slot.uiConnetType == uiConnType &&
           ((slot.uiSourceMark == uiMark && slot.uiDestMark == MARK_UI) ||
            (slot.uiSourceMark == MARK_UI && slot.uiDestMark == uiMark));
}

int32_t FindByDest(uint32_t uiMark, uint32_t uiConnType, bool hold) {
    ConnectTable* t = &g_serviceConnectTable;
    int32_t fd;
    {
        Locked lock(t);
        fd = FindLocked(t, [&](const ConnectInfo& s) { return DestMatches(s, uiMark, uiConnType); });
        if (fd != UI_SOCKET_NONE && hold) {
            ++t->uiHolds;
            ++t_serviceHolds;
        }
    }
    if (fd == UI_SOCKET_NONE) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Support get connect fd by dest][get i socket connect [dest "
                           "mark is %d]:[connet type is %d]]",
                           UI_LOG_TAG, static_cast<int>(uiMark), static_cast<int>(uiConnType));
    }
    return fd;
}

}  // namespace

ConnectTable g_serviceConnectTable = {
    PTHREAD_MUTEX_INITIALIZER,
    PTHREAD_COND_INITIALIZER,
    {kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot,
     kEmptySlot, kEmptySlot, kEmptySlot},
    0,
    0,
    0,
};

ConnectTable g_pluginConnectTable = {
    PTHREAD_MUTEX_INITIALIZER,
    PTHREAD_COND_INITIALIZER,
    {kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot, kEmptySlot,
     kEmptySlot, kEmptySlot, kEmptySlot},
    0,
    0,
    0,
};

static_assert(UI_CONNECT_TABLE_SIZE == 10, "the initialisers above name ten slots");

std::atomic<uint32_t> g_enginePort{0};
std::atomic<bool> g_linkShutdown{false};

uint32_t UI_Connect_Add(int32_t iFd, uint32_t uiDestMark, uint32_t uiConnType) {
    // select() can watch only descriptors below FD_SETSIZE; a higher one would be
    // written past the end of the receive task's descriptor set.
    if (iFd < 0 || iFd >= FD_SETSIZE) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process socket add][fd %d cannot be watched, connection refused]",
                           UI_LOG_TAG, iFd);
        return 1;
    }
    ConnectTable* t = &g_serviceConnectTable;
    Locked lock(t);
    if (t->uiConnectCount >= UI_CONNECT_TABLE_SIZE) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process socket add][connect table is full, fd is %d]",
                           UI_LOG_TAG, iFd);
        return 1;
    }
    t->astConnect[t->uiConnectCount] = {MARK_UI, uiDestMark, uiConnType, iFd};
    ++t->uiConnectCount;
    return 0;
}

void UI_Connect_Reset() {
    ConnectTable* t = &g_serviceConnectTable;
    Locked lock(t);
    EmptySlots(t);
    g_enginePort.store(0);
}

uint32_t UI_Connect_Open(uint32_t uiPort, uint32_t uiDestMark, uint32_t uiConnType,
                         int32_t* piFd) {
    if (piFd == nullptr) {
        return 1;
    }
    int32_t fd = UI_SOCKET_NONE;
    if (UI_Socket_Connect(uiPort, &fd) != 0) {
        return 1;
    }
    if (UI_Connect_Add(fd, uiDestMark, uiConnType) != 0) {
        (void)UKO_SocketClose(fd);
        return 1;
    }
    *piFd = fd;
    return 0;
}

void UI_Socket_CloseAll() {
    ConnectTable* t = &g_serviceConnectTable;
    int32_t fds[UI_CONNECT_TABLE_SIZE];
    uint32_t count = 0;
    {
        Locked lock(t);
        for (ConnectInfo& slot : t->astConnect) {
            if (slot.iSocket != UI_SOCKET_NONE) {
                // Wakes a request blocked on the socket: its exchange fails at once
                // instead of holding the close up for its whole time-out.
                (void)UKO_SocketShutdown(slot.iSocket, SHUT_RDWR);
                fds[count++] = slot.iSocket;
            }
        }
        EmptySlots(t);
        while (t->uiHolds > t_serviceHolds) {
            (void)pthread_cond_wait(&t->stIdle, &t->stLock);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (UKO_SocketClose(fds[i]) != 0) {
            (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                               "[%lu][Process socket close][close socket failed, fd is %d]",
                               UI_LOG_TAG, fds[i]);
        }
    }
}

int32_t UI_ConnectFd_GetByDest(uint32_t uiMark, uint32_t uiConnType) {
    return FindByDest(uiMark, uiConnType, false);
}

int32_t UI_ConnectFd_GetBySource(uint32_t uiMark, uint32_t uiConnType) {
    int32_t fd = UI_SOCKET_NONE;
    if (uiMark == MARK_PLUGIN) {
        ConnectTable* t = &g_pluginConnectTable;
        Locked lock(t);
        fd = FindLocked(t, [&](const ConnectInfo& s) {
            return s.uiConnetType == uiConnType && s.uiSourceMark == uiMark;
        });
    }
    if (fd == UI_SOCKET_NONE) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Support get connect fd by source][get i socket connect "
                           "[source mark is %d]:[connet type is %d]]",
                           UI_LOG_TAG, static_cast<int>(uiMark), static_cast<int>(uiConnType));
    }
    return fd;
}

namespace {

int32_t FindByHead(const PacketHead* pstHead, bool hold) {
    if (pstHead == nullptr) {
        return UI_SOCKET_NONE;
    }
    PacketHead head;
    uiPacketHeadRead(reinterpret_cast<const uint8_t*>(pstHead), &head);
    ConnectTable* t = &g_serviceConnectTable;
    int32_t fd;
    {
        Locked lock(t);
        fd = FindLocked(t, [&](const ConnectInfo& s) {
            return s.uiConnetType == head.uiConnetType &&
                   ((s.uiSourceMark == head.uiSourceMark && s.uiDestMark == head.uiDestMark) ||
                    (s.uiSourceMark == head.uiDestMark && s.uiDestMark == head.uiSourceMark));
        });
        if (fd != UI_SOCKET_NONE && hold) {
            ++t->uiHolds;
            ++t_serviceHolds;
        }
    }
    if (fd == UI_SOCKET_NONE) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Support get connect fd by message head][get ui socket connect "
                           "[source mark is %d]:[dest mark is %d]:[connet type is %d]]",
                           UI_LOG_TAG, static_cast<int>(head.uiSourceMark),
                           static_cast<int>(head.uiDestMark), static_cast<int>(head.uiConnetType));
    }
    return fd;
}

}  // namespace

int32_t UI_ConnectFd_GetByHead(const PacketHead* pstHead) {
    return FindByHead(pstHead, false);
}

int32_t UI_ConnectFd_HoldByHead(const PacketHead* pstHead) {
    return FindByHead(pstHead, true);
}

int32_t UI_ConnectFd_Hold(uint32_t uiDestMark, uint32_t uiConnType) {
    return FindByDest(uiDestMark, uiConnType, true);
}

void UI_ConnectFd_Release() {
    ConnectTable* t = &g_serviceConnectTable;
    Locked lock(t);
    if (t->uiHolds == 0 || t_serviceHolds == 0) {
        return;  // a release without a hold changes nothing
    }
    --t->uiHolds;
    --t_serviceHolds;
    if (t->uiHolds == 0) {
        (void)pthread_cond_broadcast(&t->stIdle);
    }
}

void uiServiceTableCopy(ConnectInfo* pstSlots, uint32_t* puiCount) {
    ConnectTable* t = &g_serviceConnectTable;
    Locked lock(t);
    if (pstSlots != nullptr) {
        std::memcpy(pstSlots, t->astConnect, sizeof(t->astConnect));
    }
    if (puiCount != nullptr) {
        *puiCount = t->uiConnectCount;
    }
}

void uiServiceTableHold(ConnectInfo* pstSlots, uint32_t* puiCount) {
    ConnectTable* t = &g_serviceConnectTable;
    Locked lock(t);
    std::memcpy(pstSlots, t->astConnect, sizeof(t->astConnect));
    *puiCount = t->uiConnectCount;
    ++t->uiHolds;
    ++t_serviceHolds;
}

void uiConnectClose(int32_t iFd) {
    if (iFd == UI_SOCKET_NONE) {
        return;
    }
    ConnectTable* t = &g_serviceConnectTable;
    bool found = false;
    {
        Locked lock(t);
        for (ConnectInfo& slot : t->astConnect) {
            if (slot.iSocket == iFd) {
                (void)UKO_SocketShutdown(iFd, SHUT_RDWR);
                slot = kEmptySlot;
                found = true;
                break;
            }
        }
        while (found && t->uiHolds > t_serviceHolds) {
            (void)pthread_cond_wait(&t->stIdle, &t->stLock);
        }
    }
    if (found && UKO_SocketClose(iFd) != 0) {
        (void)DDM_LogWrite(UI_LOG_RPC, DDM_LOG_ERROR,
                           "[%lu][Process socket close][close socket failed, fd is %d]",
                           UI_LOG_TAG, iFd);
    }
}

uint32_t UI_RemotePort_Get(uint32_t* puiPort, uint32_t* puiCode) {
    static const char kOp[] = "Process get remote port";
    if (puiPort == nullptr || puiCode == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][invalid parameter!]", UI_LOG_TAG,
                           kOp);
        return 1;
    }
    UiRequest req;
    if (UI_Request_Begin(&req, MARK_RPC, CONNECT_TYPE_ASYNC) != 0) {
        UI_Request_End(&req);
        return 1;
    }
    if (UI_Request_Build(&req, MSG_TYPE_PREF, PREF_MSGCODE_FIRSTCONN_START_TULM,
                         UI_LOGIN_USER_SIZE + UI_INSTALL_PATH_SIZE) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][malloc failed!]", UI_LOG_TAG, kOp);
        UI_Request_End(&req);
        return 1;
    }
    // A field whose look-up fails stays empty; the service decides what it makes of it.
    char* payload = reinterpret_cast<char*>(req.pucPacket + UI_PACKET_HEAD_LEN);
    (void)UI_LoginUser_Get(payload);
    (void)UI_Get_InstallPath(payload + UI_LOGIN_USER_SIZE);
    if (UI_Request_Exchange(&req, UI_SYNC_RECV_TIMEOUT) != 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][%s][vanTrelo ui get remote port packet send failed!]",
                           UI_LOG_TAG, kOp);
        UI_Request_End(&req);
        return 1;
    }
    const uint32_t code = req.stReplyHead.uiMsgCode;
    if ((code >> 16) != MSGCODE_MODULE_PREF) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][message code is not pref!]",
                           UI_LOG_TAG, kOp);
        UI_Request_End(&req);
        return 1;
    }
    if (code == PREF_MSGCODE_FIRSTCONN_TULM_LISTENPORT) {
        uint32_t port = 0;
        if (UI_Request_U32Get(&req, 0, &port, kOp) != 0) {
            UI_Request_End(&req);
            return 1;
        }
        if (port == 0 || port > 65535) {
            (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, "[%lu][%s][engine port %u is invalid]",
                               UI_LOG_TAG, kOp, port);
            UI_Request_End(&req);
            return 1;
        }
        *puiPort = port;
    }
    *puiCode = code;
    UI_Request_End(&req);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][%s][vanTrelo ui get remote port, message code is 0x%x]", UI_LOG_TAG,
                       kOp, code);
    return 0;
}

void UI_SocketClear(int32_t iFd) {
    if (iFd < 0) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Update Client][SSL Download][UI_SocketClear Fail!]", UI_LOG_TAG);
        return;
    }
    const uint32_t count = uiSocketDrain(iFd);
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                       "[%lu][Process socket clear][discard %u pending bytes, fd is %d]",
                       UI_LOG_TAG, count, iFd);
}
