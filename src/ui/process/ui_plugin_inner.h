#pragma once
// Internal operations of the plugin side: the plugin connection table as the receive
// task "PLUR" keeps it, the listener, the decoding of a queued request, and the seams
// the tests use.
//
// "PLUR" alone changes the table, always under the table's lock; the senders of the
// main thread look a socket up under the same lock and hold its slot while they send.
// A connection is closed in three steps: its socket is shut down (a send blocked on it
// fails at once), its slot emptied, and only once no sender holds the slot is the
// descriptor closed, so a number the kernel hands out again never receives what was
// meant for the plugin.

#include <sys/select.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>

#include "ui_connect_inner.h"
#include "ui_plugin.h"

// The plugin event queue's name, and its id once "PLUG" has created it (0 before).
constexpr char UI_PLUGIN_EVENT_QUEUE_NAME[] = "PEVT";
extern std::atomic<uint32_t> g_pluginEventQueueId;

// The port the listener is bound to once it accepts connections; 0 before.
uint32_t uiPluginListenPortGet();

// ---- Task entries and the receive task's steps --------------------------------------------
void UI_PluginThread(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3, uint64_t uvArg4);
void UI_PluginRecvThread(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3, uint64_t uvArg4);
void UI_PluginSendThread(uint64_t uvArg1, uint64_t uvArg2, uint64_t uvArg3, uint64_t uvArg4);
uint32_t UI_PluginQueue_Init();
uint32_t UI_PluginThread_Init();
// Opens the listener (uiPluginListenOpen), keeps it and wakes "PLUR". 0 or 1.
uint32_t UI_PluginListen_Create(uint32_t uiPort);
// Clears the set and adds the listener and every open connection; the highest of them.
int32_t UI_PluginFdSet_Build(int32_t iListenFd, fd_set* pstSet);
// Accepts a connection when the listener is ready in the set: into the first empty
// slot, or closed (logged) when its peer is not a program of the client's own user (or
// its user cannot be learnt), when ten are open or when its descriptor cannot be
// watched. The highest descriptor afterwards.
int32_t UI_PluginListen_Accept(int32_t iListenFd, fd_set* pstSet, int32_t iMaxFd);
// Reads what is pending on a ready slot without waiting. A whole packet registers the
// slot and, addressed to the front end on the asynchronous type, goes to the plugin
// event queue: its payload length. 0 while the packet is not whole; -1 when the plugin
// closed, failed or announced more than PLUGIN_PACKET_PAYLOAD_MAX bytes (the
// connection is closed).
int32_t UI_PluginPacket_RecvProc(uint32_t uiSlot, fd_set* pstSet);

// ---- The table -----------------------------------------------------------------------------

// Puts an accepted socket into the first empty slot of the plugin table, unregistered
// (marks and type 0), and counts it. 0 with the slot; 1 when ten connections are open.
uint32_t uiPluginConnect_Add(int32_t iFd, uint32_t* puiSlot);

// Registers a slot with the first packet whose head (host order) has a type other than
// 0: its marks and type are taken, and a plugin source is counted as a plugin. A
// registered slot keeps what it has.
void UI_PluginConnect_Save(uint32_t uiSlot, const PacketHead* pstHostHead);

// Closes the connection of a slot (and removes its socket from the set, when given).
// A registered plugin connection takes every other connection with it (each closed and
// logged) and leaves the table empty; any other connection empties its own slot only.
// The connection count drops with every connection closed.
void UI_PluginConnect_Close(uint32_t uiSlot, fd_set* pstSet);

// The socket of the first slot whose source is the head's destination and whose type is
// the head's (host order), held; -1 (logged) when there is none. Every hold is given back
// with uiPluginRelease.
int32_t UI_PluginConnect_Get(const PacketHead* pstHostHead, uint32_t* puiSlot);
void uiPluginRelease(uint32_t uiSlot);

// Closes every connection and empties the table, both counts 0.
void uiPluginConnect_CloseAll();

// Senders holding a slot's socket at the moment.
uint32_t uiPluginSlotHolds(uint32_t uiSlot);

// The slots and both counts as they stand, under the lock. Any pointer may be null.
void uiPluginTableCopy(ConnectInfo* pstSlots, uint32_t* puiConnectCount, uint32_t* puiPluginCount);

// Turns one queued plugin packet of packetLen bytes (head in network order, payload)
// into its PluginEventType, copying a login's payload as UI_PluginEvent_Process gives
// it: never more than the packet holds. A null or short packet is PLUGIN_EVENT_NONE.
int32_t uiPluginEventDecode(const uint8_t* pucPacket, uint32_t uiPacketLen,
                            PluginLoginPayload* pstPayload);

// The listening socket: from port upward, each port whose bind fails because the port
// is in use logs one bind failure and the next is tried, up to 65535; any other failure
// ends the search. 0 with the socket (below FD_SETSIZE) and the port it is bound to, or
// 1 (logged).
uint32_t uiPluginListenOpen(uint32_t uiPort, int32_t* piFd, uint32_t* puiBoundPort);

// The user id (as this process's user namespace counts it) of the process that holds
// the other end of an accepted loopback IPv4 connection: 0 with it, or 1 when it cannot
// be learnt: the descriptor is no such connection, the peer's socket is gone or no
// process holds it any more (closed: the kernel then names root for it), or the kernel
// would not say. uiPluginPeerUid asks the kernel's socket diagnostics for the one socket
// (uiPluginPeerUidByDiag) and, failing that, reads its connection tables
// /proc/net/tcp and /proc/net/tcp6 (uiPluginPeerUidByProcNet).
uint32_t uiPluginPeerUid(int32_t iFd, uint32_t* puiUid);
uint32_t uiPluginPeerUidByDiag(int32_t iFd, uint32_t* puiUid);
uint32_t uiPluginPeerUidByProcNet(int32_t iFd, uint32_t* puiUid);

// Test seam: the bind the listener calls (NULL: the platform's own).
typedef int32_t (*UiPluginBindFn)(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiLen);
void uiPluginBindSet(UiPluginBindFn pfnBind);
