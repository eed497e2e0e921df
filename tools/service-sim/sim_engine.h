#pragma once
// The service's side of every exchange, without sockets: given a request, what the
// engine (or the promote service) sends back and how. The "happy engine" keeps a
// system configuration, profiles, sessions, credentials, a login and a tunnel, and
// answers as a working service would; a scripted reply queued for a (message type,
// code) pair takes precedence over it, one entry per request.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

#include "sim_records.h"
#include "sim_scenario.h"

namespace sim {

// One item of a connection's output, sent in order: each waits delayMs after the
// previous item is out.
struct OutStep {
    enum Kind { kSend, kClose, kReset };
    Kind kind = kSend;
    Bytes bytes;
    uint32_t delayMs = 0;
    bool trickle = false;
    uint32_t trickleMs = 0;
};

// Bytes sent outside the order of the connection, afterMs after the request.
struct LateSend {
    uint32_t afterMs = 0;
    Bytes bytes;
};

struct Plan {
    std::vector<OutStep> steps;
    std::vector<LateSend> late;
    // Event codes for the asynchronous engine connection, sent once every step and late
    // send of this plan is out: what the request caused that the service reports unasked.
    std::vector<uint32_t> asyncAfter;
};

struct StoredProfile {
    uint32_t linkType = 1;
    Record record{rec::kSslProfile};
};

class Engine {
public:
    explicit Engine(Scenario scenario);

    // Writes the profile files of the initial profiles. Call once at start.
    void Start();
    // Puts the HTTPS server's port in place of every "{https}" in the package URL, so a
    // scenario can name a package of a server whose port is chosen at start. Call before
    // Start.
    void SetHttpsPort(uint16_t port);

    // The answer to one request on the engine's synchronous connection.
    Plan HandleRequest(const PacketHead& head, const Bytes& payload);
    // The answer to the port request on the promote connection.
    Plan HandlePortRequest(const PacketHead& head, uint16_t enginePort);
    // The update request (no answer): recorded, and returned for the caller to act on.
    Record RecordUpdate(const Bytes& payload);

    // Scripted replies: replace a queue, append to it, or drop it.
    void SetScript(uint32_t type, uint32_t code, std::vector<ScriptedReply> replies);
    void PushScript(uint32_t type, uint32_t code, ScriptedReply reply);
    void ClearScript(uint32_t type, uint32_t code);

    // The whole state as one JSON object.
    rapidjson::Value StateJson(rapidjson::Document::AllocatorType& a) const;
    // What a real service keeps across restarts, the configuration (with its session
    // entries) and the profiles, as the text of a state file; and that text read back.
    // A text that does not describe a consistent state is refused with the reason, and
    // the engine keeps what it had.
    std::string KeptStateText() const;
    bool RestoreKeptState(const std::string& text, std::string* error);
    void NoteUpdateSpawn(long pid, const std::string& error);
    void NoteUpdateExit(long pid, int status);

    // Packet built the way the engine builds its replies: {4, 2, 1, msgType, code}.
    static Bytes ReplyPacket(uint32_t msgType, uint32_t code, const Bytes& payload);

    const Record& SysConfig() const { return sysConfig_; }
    const std::map<std::string, StoredProfile>& Profiles() const { return profiles_; }
    const Scenario& GetScenario() const { return sc_; }
    // Folder of the profile files: $HOME/.VanTrelo/config (empty without HOME).
    static std::string ConfigDir();
    static std::string ProfileFilePath(const std::string& name);

private:
    struct Default {
        bool none = false;       // no reply at all (greetings, the IPSec series aside)
        uint32_t code = 0;
        Bytes payload;
        std::vector<ScriptedPacket> series;   // IPSec login status packets
        std::vector<uint32_t> asyncAfter;     // events that follow the reply
    };

    Default Happy(const PacketHead& head, const Bytes& payload);
    Plan Build(const PacketHead& request, uint32_t replySource, const Default& d,
               const ScriptedReply* s) const;
    std::optional<ScriptedReply> TakeScript(uint32_t type, uint32_t code);

    // Configuration, sessions and profiles.
    Default SysConfigWrite(const Bytes& p);
    Default SessionWrite(const Bytes& p);
    Default SessionRead(const Bytes& p);
    Default ProfileWrite(uint32_t linkType, const Bytes& p);
    Default ProfileRead(uint32_t linkType, const Bytes& p);
    Default ProfileDelete(const Bytes& p);
    Default ProfileInput(const Bytes& p);
    Default ProfileOutput(const Bytes& p);
    Default ProfileSpecify(const Bytes& p);
    int FindSession(const std::string& profileName) const;
    void RememberLast(const std::string& profileName);
    int FreeSession() const;
    // Stores a profile (creating its session entry when new); false when no session
    // entry is free for a new profile.
    bool StoreProfile(const std::string& name, uint32_t linkType, const Record& r);
    void WriteProfileFile(const std::string& name) const;

    // Login, token, password, tunnel.
    Default SslLogin(const Bytes& p);
    Default DynamicCode(const Bytes& p);
    Default PwdModify(const Bytes& p);
    // Ends whatever session is up, as a logout by the service does.
    void EndSession();
    Default CertInfo();
    Default IpsecLogin(const Bytes& p);
    Default SitePref(const Bytes& p);
    Default SiteList();
    Default LinkSelect(const Bytes& p);
    const Credential* FindCredential(const std::string& user) const;
    const Credential* FindCredentialByCert(const std::string& value) const;
    Bytes LoginRet(const Credential& c) const;
    Bytes PolicyPayload() const;
    uint32_t DelayOf(const std::string& address, uint32_t port, uint32_t fallback) const;
    const GatewayEntry* FindGateway(const std::string& address, uint32_t port) const;

    Scenario sc_;
    Record sysConfig_{rec::kSysConfig};
    std::map<std::string, StoredProfile> profiles_;
    std::map<std::string, std::string> passwords_;   // per user, after password changes

    bool loggedIn_ = false;
    bool pluginLogin_ = false;
    std::string user_;          // user of the last login attempt
    std::string pendingToken_;  // user waiting for a token code
    std::string pwdChangeUser_; // user allowed to change the password
    std::set<std::string> changeDone_;   // users who made the change a login demanded
    std::string pendingProfile_;         // profile of the login waiting for a token code
    std::string gateway_;       // gateway of the last login ("ip:port")
    std::string selected_;      // gateway of the last link selection
    bool tunnelUp_ = false;
    uint32_t tunnelMode_ = 0;
    bool ipsecUp_ = false;
    uint32_t requests_ = 0;

    struct UpdateNote {
        Record record{rec::kUpdateStart};
        long pid = 0;
        std::string spawnError;
        std::optional<int> exitStatus;
    };
    std::vector<UpdateNote> updates_;
};

// The request log's view of a packet: the record it carries decoded field by field
// ("record", "fields"), a profile name or path ("text"), or nothing.
void DescribePayload(const std::string& conn, const PacketHead& head, const Bytes& payload,
                     rapidjson::Value* out, rapidjson::Document::AllocatorType& a);

}  // namespace sim
