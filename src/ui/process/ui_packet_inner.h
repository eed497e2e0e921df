#pragma once
// Internal operations of the packet layer, and the seams its tests use.

#include <cstdint>

#include "ui_packet.h"

// The most bytes one drain reads: a peer that keeps sending cannot hold the caller.
constexpr uint32_t UI_DRAIN_MAX = 16 * 1024 * 1024;

// Reads and discards what is pending on a socket without waiting, until nothing is
// left, the peer has closed, or UI_DRAIN_MAX bytes are gone. The bytes discarded.
uint32_t uiSocketDrain(int32_t iFd);

// The six fields of a packet's head in host order. The packet needs no alignment.
void uiPacketHeadRead(const uint8_t* pucPacket, PacketHead* pstHost);

// Test seam: every exchange waits its time-out divided by this (1 by default, 0 taken as
// 1, never less than 1 ms), so the 40 s and 90 s waits of the requests shrink in tests
// while keeping their proportion.
void uiSyncTimeoutDivisorSet(uint32_t uiDivisor);

// The milliseconds an exchange given uiMs really waits (the divisor above applied): what
// a request that bounds several reads by one time-out measures its deadline with.
uint32_t uiSyncTimeoutScaled(uint32_t uiMs);

// The monotonic clock in milliseconds, the clock of uiPacketRecvUntil's deadline.
int64_t uiMonotonicMs();

// Reads one whole packet as UI_Packet_Recv does, but only until deadlineMs of the
// monotonic clock: the wait for every part of the packet is cut to what is left, so a
// silent or trickling peer cannot hold the caller past it. The socket's receive
// time-out is 0 again when it returns. The payload length, or -1 (also when the
// deadline has already passed).
int32_t uiPacketRecvUntil(int32_t iFd, uint8_t** ppucPacket, int64_t deadlineMs);
