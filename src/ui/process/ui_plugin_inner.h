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

#include <cstdint>

#include "ui_connect_inner.h"
#include "ui_plugin.h"

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

// Test seam: the bind the listener calls (NULL: the platform's own).
typedef int32_t (*UiPluginBindFn)(int32_t iFd, const struct sockaddr* pstAddr, socklen_t uiLen);
void uiPluginBindSet(UiPluginBindFn pfnBind);
