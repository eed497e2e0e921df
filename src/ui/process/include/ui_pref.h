#pragma once
// The requests around an SSL VPN login: the site preference (which gateway, which
// authentication, which client version), the gateway list with its delays, the link
// selection that fixes the gateway of the next login, and the start and stop of the
// tunnel after it.
//
// Each is a blocking call of the Qt main thread on the engine's synchronous connection
// (at most 40 s). It returns 0 when a reply arrived and was examined, and 1 when the
// request could not be made (a null argument, no connection, no memory) or the exchange
// failed; then no out-value is written. After a reply, name (the caller's 256-byte
// buffer) holds the language key of the reply's code from g_prefMsgCodeTable (bound 16)
// or g_cnemMsgCodeTable (bound 6), or "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL"
// from the bound on; an index whose entry is empty names the empty text.
//
// A record is taken from a reply only when the reply holds it whole; otherwise the
// caller's record stays as it was and "reply too short" is logged. A success reply that
// lacks the record it stands for counts as no success and names the ERROR fallback.
// Texts taken from a reply are copied only when they end within their field.

#include <cstdint>

#include "ui_profile_records.h"

// Sends the site preference as the caller filled it (host order). The result becomes a
// SitePrefResult for every reply below the bound; from the bound on it is not written.
// Only with SITE_PREF_RESULT_SUCCESS is the reply record filled: its integers in host
// order, its two texts when they end within their fields (else empty).
int32_t UI_SitePref_Process(const UISSL_FIRST_CONN* pstRequest, UIFIRST_CONNECT_CONF_S* pstReply,
                            char* pcName, uint32_t* puiResult);

// Asks for the 16-entry gateway list. The list travels in host order and is copied
// whatever the code; the code out-value becomes 0x10002 on that reply only.
int32_t UI_AllSiteInfo_Get(char* pcName, uint32_t* puiCode,
                           UIGATEWAY_INFO_S pstSites[UI_GATEWAY_ENTRY_MAX]);

// Sends the link selection as the caller filled it. A reply that carries the record fills
// the caller's reply (result and port in host order). 0x10004 sets ok to 1, 0x10005 to 0.
int32_t UI_SslLink_Select(const LinkSelectInfo* pstRequest, char* pcName, uint32_t* puiOk,
                          LinkSelectInfo* pstReply);

// Starts the tunnel in the profile's tunnel mode (sent in network order). ok 1 on 0x70000.
int32_t UI_SslCnem_Start(uint32_t uiTunnelMode, char* pcName, uint32_t* puiOk);

// Stops the tunnel. ok 1 on 0x70003, 0 on 0x70004.
int32_t UI_SslCnem_Stop(char* pcName, uint32_t* puiOk);
