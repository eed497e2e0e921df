#pragma once
// The L2TP/IPSec login and logout, as requests to the engine on its synchronous
// connection. The engine builds the connection in steps and reports each step as a
// packet of the IPSec module, so the login is a send followed by one receive per report:
//
//     UI_IpsecLogin_Process(&login);
//     do { goOn = 0; r = UI_IpsecLogin_Recv(name, &goOn, &connected); }
//     while (r == 0 && goOn == 1 && connected == 0);
//
// connected 1 is success; goOn 0 or a result of 1 is failure, named by name.

#include <cstdint>

#include "ui_login_records.h"

// Sends the login (IPSec, code 5), every byte, and reads no reply. 0 once it is sent,
// 1 otherwise. The caller's record is not changed.
uint32_t UI_IpsecLogin_Process(const UI_IPSEC_LOGIN_S* pstLogin);

// Reads one status report within the request time-out (40 s). For a report of the
// IPSec module: 0, name set, goOn 1 for a step gone well, goOn and connected 1 for the
// connection up, goOn 0 for any other status; a status beyond the table names the
// error fallback and leaves goOn. 1 when no report came in time, the link failed, or
// the packet was of another module (it is dropped). connected is 0 unless set here.
uint32_t UI_IpsecLogin_Recv(char* pcMsgCodeName, uint32_t* puiGoOn, uint32_t* puiConnected);

// Logs the IPSec connection out (code 8): packets of other modules that come first are
// skipped until the logout's own reply (module 10); ok 1 on 0xA0000. The whole wait is
// bounded by the request time-out (40 s); when it runs out the result is 1.
uint32_t UI_IpsecLogout_Process(char* pcMsgCodeName, uint32_t* puiOk);
