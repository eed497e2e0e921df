#pragma once
// The configuration requests: the system configuration, session entries and connection
// profiles the service keeps, and the converters that put these records into the byte
// order they travel in.
//
// Each request is a blocking call of the Qt main thread on the engine's synchronous
// connection (at most 40 s). It returns 0 when a reply arrived and was examined, whatever
// it said, and 1 when the request could not be made (a null argument, an invalid link
// type, no connection, no memory) or the exchange failed. After a reply, name (the
// caller's 256-byte buffer) holds the language key of the reply's code: the entry of
// g_cfmMsgCodeTable its low 16 bits index, or "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL"
// from index 30 on (the module half plays no part). ok becomes 1 on the request's success
// reply; only the two plain reads clear it first, every other request leaves it as the
// caller set it unless the success reply comes.
//
// A record is taken from a reply only when the reply holds it whole; otherwise the
// caller's record stays as it was and "reply too short" is logged. A success reply that
// lacks the record or value it stands for sets no ok flag and names the ERROR fallback.
//
// The mixed byte order of the records: only the fields the converters name travel in
// network order, everything else exactly as it lies in memory. The caller's record is
// never converted; a request converts its copy in the packet, or the record it has just
// copied out of a reply.

#include <cstdint>

#include "ui_profile_records.h"

// ---- Converters ------------------------------------------------------------------------------
// Each swaps its record's network-order fields in place (the same set in both directions)
// and returns 0, or 1 for a null record (logged).
//
// CFM_SYSCONFIG_S: SpareValue, LanguageID, ProxyType and ProxyPort only; the other
// integers and the session entries inside it travel in host order.
// CFM_SESSION_S (on its own): ConnectionType, RemPwd, AutoLogin.
// CFM_SSL_PROFILE_S: the integers at 0, 4, 8, 272 and 540 to 564, uiReserved3,
// uiReserved5, and port, delay and flag of the gateway entries below uiGatewayNum.
// CFM_IPSEC_PROFILE_S: every integer field, reserved ones included, and address and mask
// of the route entries below uiRouteNum.
// The entry count is read in host order (before the to-network swap, after the to-host
// one) and never walks past the array: a count above 16 gateways or 64 routes converts
// the whole array and the count itself stays as it came.
uint32_t UI_SysConfig_Hton(CFM_SYSCONFIG_S* pstRecord);
uint32_t UI_SysConfig_Ntoh(CFM_SYSCONFIG_S* pstRecord);
uint32_t UI_Session_Hton(CFM_SESSION_S* pstSession);
uint32_t UI_Session_Ntoh(CFM_SESSION_S* pstSession);
uint32_t UI_SslProfile_Hton(CFM_SSL_PROFILE_S* pstProfile);
uint32_t UI_SslProfile_Ntoh(CFM_SSL_PROFILE_S* pstProfile);
uint32_t UI_IpsecProfile_Hton(CFM_IPSEC_PROFILE_S* pstProfile);
uint32_t UI_IpsecProfile_Ntoh(CFM_IPSEC_PROFILE_S* pstProfile);

// ---- Requests ----------------------------------------------------------------------------------
// Profile names and paths travel as their bytes without a terminating zero.

// Reads the system configuration. ok is cleared first; on 0xD0002 with the whole record
// the record is filled (host order) and ok becomes 1.
int32_t UI_CfmSysConfig_Read(char* pcName, uint32_t* puiOk, CFM_SYSCONFIG_S* pstRecord);

// Writes the system configuration. ok 1 on 0xD0000.
int32_t UI_CfmSysConfig_Write(const CFM_SYSCONFIG_S* pstRecord, char* pcName, uint32_t* puiOk);

// Writes one session entry. The flag is accepted and changes nothing. ok 1 on 0xD0004.
int32_t UI_CfmSession_Write(const CFM_SESSION_S* pstSession, uint8_t ucFlag, char* pcName,
                            uint32_t* puiOk);

// Reads the session entry of a profile. ok is cleared first; on 0xD0006 with the whole
// entry the session is filled and ok becomes 1.
int32_t UI_CfmSession_Read(const char* pcProfileName, char* pcName, uint32_t* puiOk,
                           CFM_SESSION_S* pstSession);

// Writes a profile: link type 1 with a CFM_SSL_PROFILE_S, 2 with a CFM_IPSEC_PROFILE_S
// (any other type is refused without sending). ok 1 on 0xD0009 or 0xD000D.
int32_t UI_CfmProfile_Write(const char* pcProfileName, uint32_t uiLinkType, const void* pRecord,
                            char* pcName, uint32_t* puiOk);

// Reads a profile of link type 1 or 2 into the caller's record (any other type is
// refused without sending). 0xD000B or 0xD000F set ok; a failure reply that carries a
// whole record fills the record too.
int32_t UI_CfmProfile_Read(const char* pcProfileName, uint32_t uiLinkType, void* pRecord,
                           char* pcName, uint32_t* puiOk);

// Deletes a profile. ok 1 on 0xD0018.
int32_t UI_CfmProfile_Delete(const char* pcProfileName, char* pcName, uint32_t* puiOk);

// Imports a profile file. On 0xD0011 the link type the reply carries is stored; ok
// becomes 1 only when it is 1 or 2.
int32_t UI_CfmProfile_Input(const char* pcFilePath, uint32_t* puiLinkType, char* pcName,
                            uint32_t* puiOk);

// Exports a profile to a file. The name is cut to 132 bytes and the path to 1023.
// ok 1 on 0xD0014.
int32_t UI_CfmProfile_Output(const char* pcOutputPath, const char* pcProfileName, char* pcName,
                             uint32_t* puiOk);

// Asks for a profile's link type. Whatever the code (below index 30), the type the reply
// carries is stored; 1 or 2 with 0xD0016 sets ok; a reply without type 1 or 2 names
// "/RETURN_CFM_MSGCODE/CFM_MSGCODE_PROFILE_SPECIFY_FAIL".
int32_t UI_CfmProfile_SpecifyLink(const char* pcProfileName, uint32_t* puiLinkType, char* pcName,
                                  uint32_t* puiOk);
