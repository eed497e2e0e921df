#pragma once
// The scenario: everything a test or a demo chooses about one run of the simulator.
// It is read from a JSON file (see README.md for the format); every member has a
// default, so an empty object, or no file at all, gives the "happy engine".

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

#include "sim_wire.h"

namespace sim {

// Head fields a scripted packet may override; unset ones keep their usual value.
struct HeadOverride {
    std::optional<uint32_t> source, dest, connType, msgType;
    PacketHead Apply(PacketHead h) const;
};

// A packet given in full by the scenario (extra packets, events, series steps).
struct ScriptedPacket {
    uint32_t code = 0;
    Bytes payload;
    HeadOverride head;
    uint32_t delayMs = 0;
};

// One scripted answer to a request. Unset members keep the happy engine's answer:
// no code and no payload means its code and payload; a code without payload means a
// head-only reply with that code.
struct ScriptedReply {
    std::optional<uint32_t> code;
    std::optional<Bytes> payload;
    HeadOverride head;
    uint32_t delayMs = 0;
    bool noReply = false;
    bool closeAfterHead = false;   // send the head alone, then close
    bool closeAfter = false;       // close once the reply is out
    bool resetAfter = false;       // reset (RST) once the reply is out
    bool trickle = false;          // one byte at a time
    uint32_t trickleMs = 5;
    std::optional<uint32_t> truncateTo;   // payload cut to this many bytes (head agrees)
    std::optional<uint32_t> announceLen;  // head announces this length whatever is sent
    std::vector<ScriptedPacket> extraBefore;
    std::optional<uint32_t> lateAfterMs;  // not now: out of order, this much later
    std::vector<ScriptedPacket> series;   // replaces the reply by these packets
    bool repeat = false;                  // stays at the head of its queue
};

struct Credential {
    std::string user;
    std::string password;
    // success, firstLogin, token, locked, wrongPassword, untrustedCert, expireStrong,
    // expireWeak, certError, deviceReject, pluginRegion
    std::string outcome = "success";
    std::string token;
    std::string cert;   // certificate name for the certificate logins
    uint32_t hostCheck = 0, cacheClear = 0, modifyPwd = 1, alarmNotice = 0;
    int32_t alarmDays = 0;
    uint32_t userId = 1001, sessionId = 5001;
    std::string cookie = "SIMCOOKIE", url = "https://192.0.2.10/portal";
};

struct GatewayEntry {
    std::string address;
    uint32_t port = 443;
    uint32_t delay = 50;
    uint32_t flag = 0;
    bool reachable = true;
};

struct CertEntry {
    std::string name;
    std::string text;
};

struct PwdPolicy {
    uint32_t minLength = 8, maxLength = 32, minDigits = 1, minLetters = 1;
    uint32_t mixedCase = 1, newOldDiffer = 1, namePwdDiffer = 1;
};

struct ProfileSpec {
    std::string name;        // profile file name, "<connection>.ini"
    uint32_t linkType = 1;   // 1 SSL, 2 IPSec
    Bytes record;            // wire form, built from the scenario's fields
    Bytes sessionFields;     // CFM_SESSION_S (memory order) fields to merge, empty = none
};

struct EventSpec {
    std::string conn;        // "async" or "promote"
    ScriptedPacket packet;   // delayMs counted from the moment the connection is ready
};

struct HttpsFile {
    std::string path;        // request path, "/app/vantrelo-macosx.tar.gz"
    std::string file;        // file served
    // normal, headWithBody, splitHead, noLength, notFound, gzip, closeMidBody, stall
    std::string mode = "normal";
    uint32_t firstBodyBytes = 1000;   // headWithBody
    uint32_t splitAt = 20;            // splitHead: bytes of the head in the first write
    uint32_t splitDelayMs = 50;       // splitHead
    uint32_t closeAfterBytes = 0;     // closeMidBody (0 = half the file)
    uint32_t stallAfterBytes = 0;     // stall
    uint32_t stallMs = 0;             // stall (0 = until the simulator stops)
};

struct Scenario {
    std::string requestLog;      // JSON lines, one per packet received; empty = none
    std::string portsFile;       // written once every listener is up; empty = none
    std::optional<uint16_t> controlPort;  // 0 = any free port; unset = no control channel
    // The state file: unset = the default one in the home folder; "" = memory only
    // (the scenario's "state": null); else that file.
    std::optional<std::string> stateFile;

    // Promote side.
    bool promoteListen = true;
    uint16_t promotePort = 29191;
    std::optional<ScriptedReply> portReply;   // unset: 0x10008 with the engine's port
    std::optional<uint32_t> exitAfterStartMs;

    // Engine side.
    uint16_t enginePort = 0;
    uint32_t authType = 0, verification = 0;
    uint32_t versionMS = 0x00070000, versionLS = 0x00020021;
    std::string packageUrl;
    std::vector<GatewayEntry> gateways;
    std::vector<Credential> credentials;
    std::vector<CertEntry> certificates;
    PwdPolicy policy;
    std::vector<ScriptedPacket> ipsecSteps;   // default: the seven good steps and success
    uint32_t ipsecStepDelayMs = 200;

    Bytes sysConfig;                          // CFM_SYSCONFIG_S wire form
    std::vector<ProfileSpec> profiles;
    std::map<std::pair<uint32_t, uint32_t>, std::vector<ScriptedReply>> scripts;
    std::vector<EventSpec> events;

    // Update hand-over.
    bool updateRun = false;
    std::string updateProgram;   // empty: the program named in the request
    std::string updateFlag = "1";

    // HTTPS package server.
    bool httpsEnabled = false;
    uint16_t httpsPort = 0;
    std::vector<HttpsFile> httpsFiles;
};

// The scenario with every default filled in (the demo set-up of README.md).
Scenario DefaultScenario();

// Reads a scenario on top of the defaults; false with a reason on any error.
bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error);
bool ParseScenario(const std::string& json, Scenario* out, std::string* error);

// One scripted reply or packet from its JSON form (also used by the control channel).
bool ParseScriptedReply(const rapidjson::Value& v, ScriptedReply* out, std::string* error);
bool ParseScriptedPacket(const rapidjson::Value& v, ScriptedPacket* out, std::string* error);
// A payload: {"record": NAME, "fields": {...}}, {"hex": "..."} or a hex text.
bool ParsePayload(const rapidjson::Value& v, Bytes* out, std::string* error);

}  // namespace sim
