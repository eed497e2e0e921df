#pragma once
// The browser-plugin side of the link: the listener a plugin connects to, the decoding
// of its requests for the plugin event thread, and the packets the front end sends back
// (tips, the login result, its information, the logout notice).
//
// Started once in plugin mode (UI_PluginThread_Create): the task "PLUG" creates the
// queues "PLUS" and "PEVT", the tasks "PLUR" and "PLUS" and the listener on the first
// free loopback port from 29192, then ends. "PLUR" watches the listener and up to ten
// connections with one select(); it keeps only connections from programs of the
// client's own user (any other is closed as it is accepted, logged with its user id);
// a connection registers with its first packet, and every packet addressed to the
// front end goes to "PEVT", where UI_PluginEvent_Process reads it.
//
// The records are laid out as they travel. Their unsigned 32-bit fields travel in
// network order: a sender converts them in the caller's record itself, so the record
// holds network order once it was sent. Texts are zero-terminated UTF-8 in zero-filled
// fields.

#include <stddef.h>
#include <stdint.h>

// The first port the listener tries; it goes on upward while ports are in use.
constexpr uint32_t PLUGIN_LISTEN_PORT = 29192;
// The most connections the listener keeps open at once.
constexpr uint32_t PLUGIN_CONNECT_MAX = 10;
// The most payload bytes a plugin packet may announce: a longer one breaks its
// connection. The largest request (a login) carries 768.
constexpr uint32_t PLUGIN_PACKET_PAYLOAD_MAX = 64 * 1024;

// What a plugin asks for: the code of its packet's head. Any other code is
// PLUGIN_EVENT_NONE.
enum PluginEventType : int32_t {
    PLUGIN_EVENT_NONE = 0,
    PLUGIN_EVENT_LOGIN = 1,           // payload PluginLoginPayload
    PLUGIN_EVENT_LOGOUT = 2,
    PLUGIN_EVENT_START_CNEM = 3,      // start the tunnel
    PLUGIN_EVENT_STOP_CNEM = 4,       // stop the tunnel
    PLUGIN_EVENT_HOST_CHECK = 5,
    PLUGIN_EVENT_CACHE_CLEAR = 6,     // clear the cache, flag 1
    PLUGIN_EVENT_CACHE_CLEAR_0 = 7,   // clear the cache, flag 0
    PLUGIN_EVENT_URGENT_LOGOUT = 8,
    PLUGIN_EVENT_GET_INFO = 9,
};

// Codes of the packets to a plugin that answer with a fixed code. A tip carries the
// code of the request it answers.
enum PluginMsgCode : uint32_t {
    PLUGIN_MSGCODE_LOGIN_RET = 1,
    PLUGIN_MSGCODE_LOGOUT = 8,
    PLUGIN_MSGCODE_INFO = 9,
};

// The payload of a login request.
struct PluginLoginPayload {
    char acUserName[384];
    char acPassword[128];
    char acVerifyCode[256];
};
static_assert(sizeof(PluginLoginPayload) == 768, "the login payload is 768 bytes");
static_assert(offsetof(PluginLoginPayload, acPassword) == 384 &&
                  offsetof(PluginLoginPayload, acVerifyCode) == 512,
              "wire offsets of the login payload");

// A text for the plugin to show. cFlag: 0 success, 1 failure, 0xFFFFFFFF an ordinary
// text.
struct PluginTip {
    uint32_t cFlag;  // network order once sent
    char cTip[1024];
};
static_assert(sizeof(PluginTip) == 1028, "the tip is 1028 bytes");
static_assert(offsetof(PluginTip, cTip) == 4, "wire offset of the tip's text");

// The result of a plugin's login, filled by the SSL login view.
struct UI_PLUGIN_LOGIN_RET_S {
    uint32_t uiUserID;     // network order once sent
    uint32_t uiSessionID;  // network order once sent
    uint8_t aucCookie[64];
    char acUrlLocation[1024];
    uint32_t cFlag;        // network order once sent
    char cTip[1024];
};
static_assert(sizeof(UI_PLUGIN_LOGIN_RET_S) == 2124, "the login result is 2124 bytes");
static_assert(offsetof(UI_PLUGIN_LOGIN_RET_S, aucCookie) == 8 &&
                  offsetof(UI_PLUGIN_LOGIN_RET_S, acUrlLocation) == 72 &&
                  offsetof(UI_PLUGIN_LOGIN_RET_S, cFlag) == 1096 &&
                  offsetof(UI_PLUGIN_LOGIN_RET_S, cTip) == 1100,
              "wire offsets of the login result");

// The front end's information for a plugin, filled by the main window from the last
// login and the launch record.
struct PluginInfo {
    uint32_t uiUserID;          // of the last login; network order once sent
    uint32_t uiSessionID;       // of the last login; network order once sent
    uint8_t aucCookie[64];      // of the last login
    char acUserName[384];       // of the launch record
    char acLoginAddr[128];      // of the launch record
    uint8_t aucZero1[384];
    uint8_t ucTunnelStarted;    // 1 when the tunnel was started for the plugin
    uint8_t aucZero2[3];
    uint8_t aucReserved[32];    // of the launch record, as it is
    uint32_t uiValue;           // left 0 by this system; network order once sent
    uint8_t aucZero3[1024];
};
static_assert(sizeof(PluginInfo) == 2032, "the information is 2032 bytes");
static_assert(offsetof(PluginInfo, aucCookie) == 8 && offsetof(PluginInfo, acUserName) == 72 &&
                  offsetof(PluginInfo, acLoginAddr) == 456 &&
                  offsetof(PluginInfo, ucTunnelStarted) == 968 &&
                  offsetof(PluginInfo, aucReserved) == 972 &&
                  offsetof(PluginInfo, uiValue) == 1004 && offsetof(PluginInfo, aucZero3) == 1008,
              "wire offsets of the information");

// Creates the task "PLUG", which starts the plugin side and ends. 0, or 1 (logged).
// Called once, in plugin mode.
uint32_t UI_PluginThread_Create();

// Waits for the next plugin request: 0 with its PluginEventType and, for a login, its
// payload (the first 768 bytes of it; the rest of the record zero when it is shorter,
// all zero when it has none); the payload record is untouched for any other request.
// 1 for a null argument or a failed read of the queue (the event is then left as it
// was).
uint32_t UI_PluginEvent_Process(int32_t* piEventType, PluginLoginPayload* pstPayload);

// Send one packet to the plugin on the first registered plugin connection in table
// order: a tip answering the request code it is given, the login result (code 1), the
// information (code 9), the logout notice (code 8, no payload). 0, or 1 when the record
// is null, no plugin is connected, memory is short or the send fails. Once the packet
// is being built, the record's unsigned 32-bit fields are converted to network order in
// the caller's record itself, so a record is sent once: sending it again would turn
// them back.
uint32_t UI_PluginTip_Send(uint32_t uiCode, PluginTip* pstTip);
uint32_t UI_PluginLoginRet_Send(UI_PLUGIN_LOGIN_RET_S* pstRet);
uint32_t UI_PluginInfo_Send(PluginInfo* pstInfo);
uint32_t UI_PluginLogout_Send();
