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
