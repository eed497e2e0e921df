#pragma once
// The service connection table and what works on it: opening a loopback connection into
// the table, the look-ups that find a connection's socket, closing every connection,
// the engine-port request to the promote service and the emptying of a socket's
// pending bytes.
//
// The table has ten slots; an empty slot's socket is -1, so descriptor 0 is a
// connection like any other. One lock guards the table. A broken or ended link is
// closed in three steps under that lock: every socket is shut down (a thread blocked
// on one wakes at once), the slots are emptied, and only once no request still holds a
// socket it looked up are the descriptors closed, so a number the kernel hands out
// again can never receive what was meant for the service.

#include <cstdint>

#include "ui_packet.h"

// One connection, in host order.
struct ConnectInfo {
    uint32_t uiSourceMark;  // ConnectMark of this end
    uint32_t uiDestMark;    // ConnectMark of the other end
    uint32_t uiConnetType;  // ConnectType
    int32_t iSocket;        // UI_SOCKET_NONE in an empty slot
};

constexpr uint32_t UI_CONNECT_TABLE_SIZE = 10;
constexpr int32_t UI_SOCKET_NONE = -1;

// The promote service's loopback port.
constexpr uint32_t RPC_SERVICE_PORT = 29191;

// Outcome of connecting to the service.
enum ServiceConnectState : uint32_t {
    SERVICE_NOT_CONNECTED = 0,
    SERVICE_CONNECTED = 1,
    SERVICE_NOT_STARTED = 2,
};

// Connects the front end to the service: starts the promote service, connects to it on
// RPC_SERVICE_PORT (eleven tries, one second apart), asks it for the engine's port,
// opens the engine's synchronous and asynchronous connections with their greetings and
// wakes the receive task. nameBuf is the caller's 256-byte MsgCodeName buffer.
//   0, SERVICE_CONNECTED: connected.
//   0, SERVICE_NOT_CONNECTED: the service answered the port request with another code
//      of its module; nameBuf holds that code's language key.
//   1, SERVICE_NOT_STARTED: the promote service could not be started.
//   1, SERVICE_NOT_CONNECTED: the link was never started (UI_Init failed), no connection
//      could be made, the port request failed, or the receive task could not be woken
//      (every connection is closed then: nothing would ever read its events).
uint32_t UI_Main_Connect(char* pcName, uint32_t* puiState);

// Ends the link on purpose: marks the shutdown, so the receive task reports no lost
// connection, and closes every service connection.
void UI_Main_Disconnect();

// Appends {MARK_UI, destMark, connType, fd} at the slot the count names. 0; 1 when the
// table is full or the descriptor is negative or too high for a descriptor set
// (FD_SETSIZE): the socket could never be watched. A refused socket stays the caller's.
uint32_t UI_Connect_Add(int32_t iFd, uint32_t uiDestMark, uint32_t uiConnType);

// Empties every slot, the count and the engine port. Closes nothing.
void UI_Connect_Reset();

// Connects to 127.0.0.1:port and adds the connection to the table: 0 with the socket,
// or 1 (a connection the table refuses is closed again).
uint32_t UI_Connect_Open(uint32_t uiPort, uint32_t uiDestMark, uint32_t uiConnType,
                         int32_t* piFd);

// Shuts every connection of the table down, empties the table, waits until no other
// thread holds a socket of it, and closes the sockets. A second call finds nothing to
// close.
void UI_Socket_CloseAll();

// The socket of the service connection to mark of that type (a slot from MARK_UI to
// mark or from mark to MARK_UI), or -1.
int32_t UI_ConnectFd_GetByDest(uint32_t uiMark, uint32_t uiConnType);
// The socket of the plugin connection whose source is mark (only MARK_PLUGIN is
// ever found) of that type, or -1.
int32_t UI_ConnectFd_GetBySource(uint32_t uiMark, uint32_t uiConnType);
// The socket of the service connection a packet's head (network order) addresses:
// same type, the head's two marks in either order. -1 for none or a null head.
int32_t UI_ConnectFd_GetByHead(const PacketHead* pstHead);

// Asks the promote service for the engine's port on the promote connection. 0 with the
// reply's code, and for the port reply 0x10008 the port (1 to 65535); 1 when the
// request cannot be made, the exchange fails, the reply is not of module 1, or a port
// reply carries no valid port. Outputs are written only on success.
uint32_t UI_RemotePort_Get(uint32_t* puiPort, uint32_t* puiCode);

// Reads and discards whatever is pending on a socket, logging the count. Used after a
// logout, whose late packets must not be read as a later reply.
void UI_SocketClear(int32_t iFd);
