#pragma once
// The service's unasked events as the front end sees them: every packet the receive
// task puts on the queue "FAST", and the notice that a service connection broke, is
// turned into one urgent event. Only the packet head's code decides; the payload is
// never examined.

#include <cstdint>

// Event codes of module 11 that the service sends unasked.
constexpr uint32_t URGENT_MSGCODE_LOGOUT = 0xB0000;
constexpr uint32_t URGENT_MSGCODE_IGNORED = 0xB0001;
constexpr uint32_t URGENT_MSGCODE_CNEM_RECONNECT_FAIL = 0xB0002;
constexpr uint32_t URGENT_MSGCODE_VNIC_ERROR = 0xB0003;
constexpr uint32_t URGENT_MSGCODE_DHCP_ERROR = 0xB0004;

// The notice the receive task posts on "FAST" when a service connection breaks (module
// 0, so it decodes as an exit). It never travels on a socket.
constexpr uint32_t MSGCODE_CONNECTION_LOST = 7;

enum UrgentEventType : int32_t {
    URGENT_EVENT_NONE = 0,               // module 11, codes 0xB0005 and above
    URGENT_EVENT_LOGOUT = 1,             // forced logout
    URGENT_EVENT_IGNORED = 2,            // an event without action
    URGENT_EVENT_CNEM_RECONNECT_FAIL = 3,  // the tunnel's reconnection failed
    URGENT_EVENT_IPSEC_STATUS = 4,       // an IPSec connection status to show
    URGENT_EVENT_VNIC_ERROR = 5,         // virtual network adapter error
    URGENT_EVENT_DHCP_ERROR = 6,         // DHCP error
    URGENT_EVENT_EXIT = 7,               // every other module, the lost connection included
};

// The show type of an IPSec status: shown as a critical message that ends the
// connection.
constexpr int32_t URGENT_SHOW_CRITICAL = 1;

// Blocks until "FAST" yields a packet and decodes it: 0 with the event in *eventType.
// For an IPSec status the status's language key goes into the 256-byte nameBuf and
// *showType becomes URGENT_SHOW_CRITICAL; otherwise neither is touched. 1 for a null
// argument or a failed read (nothing written).
uint32_t UI_UrgentEvent_Process(int32_t* piEventType, char* pcName, int32_t* piShowType);
