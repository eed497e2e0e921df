#pragma once
// The connection tables themselves, the link's shared state, and the socket holds that
// requests take. For the link's own modules and their tests.

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "ui_connect.h"

struct ConnectTable {
    pthread_mutex_t stLock;  // guards everything below
    pthread_cond_t stIdle;   // signalled when the last hold is released
    ConnectInfo astConnect[UI_CONNECT_TABLE_SIZE];
    uint32_t uiConnectCount;  // the next slot a new connection takes
    uint32_t uiPluginCount;   // plugin table: registered plugin connections
    uint32_t uiHolds;         // sockets looked up and not yet released
};

extern ConnectTable g_serviceConnectTable;
extern ConnectTable g_pluginConnectTable;

// The engine's port as the promote service gave it.
extern std::atomic<uint32_t> g_enginePort;
// Set once the front end ends the link on purpose: a connection that breaks afterwards
// is not reported as lost.
extern std::atomic<bool> g_linkShutdown;

// The socket of the service connection to destMark of that type, held: the table's
// close does not close it until UI_ConnectFd_Release. -1 (nothing held) when there is
// none. Every hold taken must be released, by the same thread.
int32_t UI_ConnectFd_Hold(uint32_t uiDestMark, uint32_t uiConnType);
void UI_ConnectFd_Release();

// The socket of the service connection a packet's head (network order) addresses, held
// as UI_ConnectFd_Hold holds it; -1 (nothing held) for none or a null head.
int32_t UI_ConnectFd_HoldByHead(const PacketHead* pstHead);

// Copies the service table's slots and count as they stand, under the lock.
void uiServiceTableCopy(ConnectInfo* pstSlots, uint32_t* puiCount);

// Copies the slots and count as uiServiceTableCopy does and holds the whole table in
// the same step: no socket of the copy is closed until UI_ConnectFd_Release. For a task
// that waits on every connection at once.
void uiServiceTableHold(ConnectInfo* pstSlots, uint32_t* puiCount);

// Closes one connection of the table in the order the whole table is closed: shut
// down, slot emptied (the count stays, so later additions keep their places), wait for
// other threads' holds, close. A socket the table does not hold is left alone.
void uiConnectClose(int32_t iFd);
