#include "sim_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "sim_files.h"

namespace sim {

namespace {

constexpr uint32_t Cfm(uint32_t index) { return code::kCfmBase | index; }

// CFM result indexes.
enum : uint32_t {
    kSysWriteOk = 0, kSysWriteFail = 1, kSysReadOk = 2, kSysReadFail = 3,
    kSessWriteOk = 4, kSessWriteFail = 5, kSessReadOk = 6, kSessReadFail = 7,
    kSslWriteOk = 9, kSslWriteFail = 10, kSslReadOk = 11, kSslReadFail = 12,
    kIpsecWriteOk = 13, kIpsecWriteFail = 14, kIpsecReadOk = 15, kIpsecReadFail = 16,
    kInputOk = 17, kInputFail = 18, kInputTooBig = 19, kOutputOk = 20, kOutputFail = 21,
    kSpecifyOk = 22, kDeleteOk = 24, kDeleteFail = 25, kIsExist = 26, kNotExist = 27,
    kInputPathInvalid = 28, kOutputPathInvalid = 29
};

// The longest profile file name a session entry can hold.
constexpr size_t kMaxProfileName = 132;
// An imported profile file larger than this is refused as too big.
constexpr long kMaxImportBytes = 64 * 1024;

Bytes U32Payload(uint32_t v) {
    Bytes b(4);
    PutBE32(b.data(), v);
    return b;
}

// A name or path sent as bare bytes: up to the first zero byte, if any.
std::string PayloadText(const Bytes& p, size_t from = 0) {
    if (from >= p.size()) return std::string();
    const char* s = reinterpret_cast<const char*>(p.data()) + from;
    size_t n = 0, max = p.size() - from;
    while (n < max && s[n] != '\0') ++n;
    return std::string(s, n);
}

// A profile name becomes a file name in the configuration folder, so it must not
// reach outside it.
bool ValidProfileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxProfileName) return false;
    if (name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string JoinGateway(const std::string& addr, uint32_t port) {
    return addr + ":" + std::to_string(port);
}

void SplitGateway(const std::string& text, std::string* addr, uint32_t* port) {
    size_t colon = text.rfind(':');
    *port = 0;
    if (colon == std::string::npos) {
        *addr = text;
        return;
    }
    *addr = text.substr(0, colon);
    uint32_t p;
    if (ParseU32(text.substr(colon + 1), &p)) *port = p;
}

bool UnderFolder(const std::string& path, const char* envName) {
    const char* dir = std::getenv(envName);
    if (dir == nullptr || dir[0] == '\0') return false;
    std::string d(dir);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return path.size() > d.size() + 1 && path.compare(0, d.size(), d) == 0 &&
           path[d.size()] == '/';
}

bool HasDotDot(const std::string& path) {
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (path.compare(pos, end - pos, "..") == 0 && end - pos == 2) return true;
        pos = end + 1;
    }
    return false;
}

void MakeDirs(const std::string& path) {
    std::string cur;
    std::stringstream ss(path);
    std::string part;
    while (std::getline(ss, part, '/')) {
        if (part.empty()) {
            if (cur.empty()) cur = "/";
            continue;
        }
        if (!cur.empty() && cur.back() != '/') cur += "/";
        cur += part;
        ::mkdir(cur.c_str(), 0700);
    }
}

std::string ProfileIni(const std::string& name, uint32_t linkType, const Record& r) {
    std::ostringstream out;
    out << "[PROFILE]\n";
    out << "Name=" << name << "\n";
    out << "LinkType=" << linkType << "\n";
    out << "Description=" << r.Text("acDescription") << "\n";
    if (linkType == 1) {
        // A note for a reader: the address field, then the gateway list.
        if (!r.Text("acGatewayAddress").empty()) {
            out << "Gateway=" << JoinGateway(r.Text("acGatewayAddress"), r.U32("uiPort")) << "\n";
        }
        const uint32_t count = std::min<uint32_t>(r.U32("uiGatewayNum"), 16);
        for (uint32_t i = 0; i < count; ++i) {
            const std::string entry = "astGateway[" + std::to_string(i) + "].";
            out << "Gateway=" << JoinGateway(r.Text(entry + "acAddress"), r.U32(entry + "uiPort"))
                << "\n";
        }
    } else {
        out << "LNS=" << r.Text("acLnsServer") << "\n";
    }
    out << "Record=" << ToHex(r.Wire()) << "\n";
    return out.str();
}

// The file's own Name line is only a note for a reader: an imported profile takes
// its name from the file name (ImportedProfileName).
bool ParseProfileIni(const std::string& text, uint32_t* linkType, Bytes* record) {
    std::istringstream in(text);
    std::string line;
    bool haveType = false, haveRecord = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 9, "LinkType=") == 0) {
            haveType = ParseU32(line.substr(9), linkType);
        } else if (line.compare(0, 7, "Record=") == 0) {
            haveRecord = FromHex(line.substr(7), record);
        }
    }
    return haveType && haveRecord;
}

// The front end names an imported profile after the file it picked: the file name
// without its folder, up to its last "." (all of it when there is none), and then
// opens "<that name>.ini". Naming it any other way (after the Name line inside, say)
// would let importing a copy overwrite the profile the copy was exported from.
// Empty when the file name leaves nothing.
std::string ImportedProfileName(const std::string& path) {
    std::string base = path.substr(path.rfind('/') + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.resize(dot);
    return base.empty() ? std::string() : base + ".ini";
}

size_t CountIf(const std::string& s, int (*pred)(int)) {
    size_t n = 0;
    for (unsigned char c : s) n += pred(c) ? 1 : 0;
    return n;
}

}  // namespace

Engine::Engine(Scenario scenario) : sc_(std::move(scenario)) {
    if (sc_.sysConfig.size() == rec::kSysConfig.size) {
        sysConfig_ = Record(rec::kSysConfig, sc_.sysConfig.data(), sc_.sysConfig.size());
    }
    for (const ProfileSpec& p : sc_.profiles) {
        const RecordDesc& d = p.linkType == 1 ? rec::kSslProfile : rec::kIpsecProfile;
        if (!ValidProfileName(p.name)) continue;
        StoreProfile(p.name, p.linkType, Record(d, p.record.data(), p.record.size()));
        int idx = FindSession(p.name);
        if (idx >= 0 && !p.sessionFields.empty()) {
            // Merge the scenario's session fields into the entry, keeping its name.
            Record given(rec::kSessionHost, p.sessionFields.data(), p.sessionFields.size());
            std::string base = "Sessions[" + std::to_string(idx) + "].";
            for (const char* f : {"RemPwd", "AutoLogin"}) {
                sysConfig_.SetU32(base + f, given.U32(f));
            }
            for (const char* f : {"LastLoginAddr", "UserName", "Password"}) {
                sysConfig_.SetText(base + f, given.Text(f));
            }
            if (given.U32("ConnectionType") != 0) {
                sysConfig_.SetU32(base + "ConnectionType", given.U32("ConnectionType"));
            }
        }
    }
    for (const Credential& c : sc_.credentials) passwords_[c.user] = c.password;
}

void Engine::Start() {
    for (const auto& p : profiles_) WriteProfileFile(p.first);
}

namespace {

constexpr unsigned kKeptStateVersion = 1;

// A profile name in the state file: a text when it is UTF-8, else {"hex": ...}.
bool ReadNameJson(const rapidjson::Value& v, std::string* out) {
    if (v.IsString()) {
        out->assign(v.GetString(), v.GetStringLength());
        return true;
    }
    Bytes raw;
    if (!v.IsObject() || !v.HasMember("hex") || !v["hex"].IsString() ||
        !FromHex(v["hex"].GetString(), &raw)) {
        return false;
    }
    out->assign(raw.begin(), raw.end());
    return true;
}

// A record's wire form from a hex text, which must be exactly the record's size.
bool ReadRecordHex(const rapidjson::Value& v, const RecordDesc& d, Bytes* out) {
    return v.IsString() && FromHex(v.GetString(), out) && out->size() == d.size;
}

}  // namespace

// Records are kept in their wire form, so that a state file holds exactly what the
// service would send back, whatever the fields' byte orders.
std::string Engine::KeptStateText() const {
    rapidjson::Document d;
    d.SetObject();
    auto& a = d.GetAllocator();
    d.AddMember("version", kKeptStateVersion, a);
    d.AddMember("config", rapidjson::Value(ToHex(sysConfig_.Wire()).c_str(), a), a);
    rapidjson::Value list(rapidjson::kArrayType);
    for (const auto& [name, p] : profiles_) {
        rapidjson::Value e(rapidjson::kObjectType);
        e.AddMember("name", TextJson(name, a), a);
        e.AddMember("linkType", p.linkType, a);
        e.AddMember("record", rapidjson::Value(ToHex(p.record.Wire()).c_str(), a), a);
        list.PushBack(e, a);
    }
    d.AddMember("profiles", list, a);
    rapidjson::StringBuffer out;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(out);
    d.Accept(w);
    return std::string(out.GetString(), out.GetSize()) + "\n";
}

bool Engine::RestoreKeptState(const std::string& text, std::string* error) {
    auto fail = [&](const std::string& why) {
        *error = why;
        return false;
    };
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    if (d.HasParseError() || !d.IsObject()) return fail("not a JSON object");
    if (!d.HasMember("version") || !d["version"].IsUint() ||
        d["version"].GetUint() != kKeptStateVersion) {
        return fail("unknown version");
    }
    Bytes wire;
    if (!d.HasMember("config") || !ReadRecordHex(d["config"], rec::kSysConfig, &wire)) {
        return fail("config is not a configuration record");
    }
    Record config(rec::kSysConfig, wire.data(), wire.size());
    if (!d.HasMember("profiles") || !d["profiles"].IsArray()) return fail("profiles missing");
    std::map<std::string, StoredProfile> profiles;
    for (const rapidjson::Value& e : d["profiles"].GetArray()) {
        std::string name;
        if (!e.IsObject() || !e.HasMember("name") || !ReadNameJson(e["name"], &name) ||
            !ValidProfileName(name)) {
            return fail("a profile without a valid name");
        }
        if (!e.HasMember("linkType") || !e["linkType"].IsUint() ||
            (e["linkType"].GetUint() != 1 && e["linkType"].GetUint() != 2)) {
            return fail("profile " + name + ": link type neither 1 nor 2");
        }
        StoredProfile sp;
        sp.linkType = e["linkType"].GetUint();
        const RecordDesc& desc = sp.linkType == 1 ? rec::kSslProfile : rec::kIpsecProfile;
        if (!e.HasMember("record") || !ReadRecordHex(e["record"], desc, &wire)) {
            return fail("profile " + name + ": record of the wrong size");
        }
        sp.record = Record(desc, wire.data(), wire.size());
        if (!profiles.emplace(name, sp).second) return fail("profile " + name + " twice");
    }
    // Every profile has its session entry of its own kind, and every used entry its
    // profile, as the engine itself keeps them.
    size_t used = 0;
    for (int i = 0; i < 16; ++i) {
        const std::string base = "Sessions[" + std::to_string(i) + "].";
        const std::string name = config.Text(base + "ProfileName");
        if (name.empty()) continue;
        ++used;
        auto it = profiles.find(name);
        if (it == profiles.end()) return fail("session " + name + " has no profile");
        if (config.U32(base + "ConnectionType") != it->second.linkType) {
            return fail("session " + name + ": connection type differs from its profile");
        }
    }
    if (used != profiles.size()) return fail("a profile without its own session entry");
    sysConfig_ = config;
    profiles_ = std::move(profiles);
    return true;
}

std::string Engine::ConfigDir() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    return std::string(home) + "/.VanTrelo/config";
}

std::string Engine::ProfileFilePath(const std::string& name) {
    std::string dir = ConfigDir();
    if (dir.empty()) return std::string();
    bool hasIni = name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0;
    return dir + "/" + name + (hasIni ? "" : ".ini");
}

void Engine::WriteProfileFile(const std::string& name) const {
    auto it = profiles_.find(name);
    std::string path = ProfileFilePath(name);
    if (it == profiles_.end() || path.empty()) return;
    MakeDirs(ConfigDir());
    if (!WriteWholeFile(path, ProfileIni(name, it->second.linkType, it->second.record))) {
        std::fprintf(stderr, "service-sim: cannot write profile file %s\n", path.c_str());
    }
}

// The front end sets the last used connection in its own copy of the configuration
// only, and then reads the configuration back (after writing the session entry), so
// the service is the one that keeps it: the profile of a session entry just written,
// or of a login that succeeded. A name without a profile changes nothing.
void Engine::RememberLast(const std::string& profileName) {
    if (FindSession(profileName) >= 0) sysConfig_.SetText("LastAccessSession", profileName);
}

int Engine::FindSession(const std::string& name) const {
    if (name.empty()) return -1;
    for (int i = 0; i < 16; ++i) {
        if (sysConfig_.Text("Sessions[" + std::to_string(i) + "].ProfileName") == name) return i;
    }
    return -1;
}

int Engine::FreeSession() const {
    for (int i = 0; i < 16; ++i) {
        if (sysConfig_.Text("Sessions[" + std::to_string(i) + "].ProfileName").empty()) return i;
    }
    return -1;
}

bool Engine::StoreProfile(const std::string& name, uint32_t linkType, const Record& r) {
    int idx = FindSession(name);
    if (idx < 0) {
        idx = FreeSession();
        if (idx < 0) return false;
        std::string base = "Sessions[" + std::to_string(idx) + "].";
        Record empty(rec::kSessionHost);
        std::copy(empty.Wire().begin(), empty.Wire().end(),
                  sysConfig_.MutableWire().begin() + 744 + idx * 676);
        sysConfig_.SetText(base + "ProfileName", name);
    }
    sysConfig_.SetU32("Sessions[" + std::to_string(idx) + "].ConnectionType", linkType);
    StoredProfile sp;
    sp.linkType = linkType;
    sp.record = r;
    profiles_[name] = sp;
    return true;
}

Bytes Engine::ReplyPacket(uint32_t msgType, uint32_t code, const Bytes& payload) {
    PacketHead h{kMarkTulm, kMarkUi, kConnSync, msgType, code, 0};
    return BuildPacket(h, payload);
}

void Engine::SetScript(uint32_t type, uint32_t code, std::vector<ScriptedReply> replies) {
    sc_.scripts[{type, code}] = std::move(replies);
}

void Engine::PushScript(uint32_t type, uint32_t code, ScriptedReply reply) {
    sc_.scripts[{type, code}].push_back(std::move(reply));
}

void Engine::ClearScript(uint32_t type, uint32_t code) { sc_.scripts.erase({type, code}); }

std::optional<ScriptedReply> Engine::TakeScript(uint32_t type, uint32_t code) {
    auto it = sc_.scripts.find({type, code});
    if (it == sc_.scripts.end() || it->second.empty()) return std::nullopt;
    ScriptedReply r = it->second.front();
    if (!r.repeat) it->second.erase(it->second.begin());
    return r;
}

// Turns the answer into output steps. A scripted reply that names its own code or
// series replaces the happy engine's answer; one that gives only a payload or shapes
// the delivery (delay, trickle, close) is applied to the happy engine's answer.
Plan Engine::Build(const PacketHead& req, uint32_t replySource, const Default& d,
                   const ScriptedReply* s) const {
    Plan plan;
    // Whatever shapes the delivery, what the happy engine did is reported after it.
    plan.asyncAfter = d.asyncAfter;
    PacketHead base{replySource, kMarkUi, req.connType, req.msgType, 0, 0};
    if (s == nullptr) {
        if (d.none) return plan;
        if (!d.series.empty()) {
            for (const ScriptedPacket& p : d.series) {
                PacketHead h = p.head.Apply(base);
                h.msgCode = p.code;
                plan.steps.push_back({OutStep::kSend, BuildPacket(h, p.payload), p.delayMs});
            }
            return plan;
        }
        base.msgCode = d.code;
        plan.steps.push_back({OutStep::kSend, BuildPacket(base, d.payload), 0});
        return plan;
    }

    for (const ScriptedPacket& p : s->extraBefore) {
        PacketHead h = p.head.Apply(base);
        h.msgCode = p.code;
        plan.steps.push_back({OutStep::kSend, BuildPacket(h, p.payload), p.delayMs});
    }
    if (s->noReply) return plan;

    std::vector<ScriptedPacket> series = s->series;
    if (series.empty()) {
        ScriptedPacket one;
        one.code = s->code ? *s->code : d.code;
        if (s->payload) one.payload = *s->payload;
        else if (!s->code) one.payload = d.payload;
        if (!s->code && !s->payload && !d.series.empty()) series = d.series;
        else if (!(d.none && !s->code && !s->payload)) series.push_back(one);
    }
    bool first = true;
    for (ScriptedPacket& p : series) {
        PacketHead h = s->head.Apply(p.head.Apply(base));
        h.msgCode = p.code;
        Bytes payload = p.payload;
        if (s->truncateTo && payload.size() > *s->truncateTo) payload.resize(*s->truncateTo);
        Bytes pkt = BuildPacket(h, payload);
        if (s->announceLen) PutBE32(pkt.data() + 20, *s->announceLen);
        uint32_t delay = p.delayMs + (first ? s->delayMs : 0);
        first = false;
        if (s->lateAfterMs) {
            plan.late.push_back({*s->lateAfterMs + delay, pkt});
            continue;
        }
        if (s->closeAfterHead) {
            pkt.resize(kHeadSize);
            plan.steps.push_back({OutStep::kSend, pkt, delay, s->trickle, s->trickleMs});
            plan.steps.push_back({OutStep::kClose, {}, 0});
            return plan;
        }
        plan.steps.push_back({OutStep::kSend, pkt, delay, s->trickle, s->trickleMs});
    }
    if (s->closeAfter) plan.steps.push_back({OutStep::kClose, {}, 0});
    if (s->resetAfter) plan.steps.push_back({OutStep::kReset, {}, 0});
    return plan;
}

Plan Engine::HandleRequest(const PacketHead& head, const Bytes& payload) {
    ++requests_;
    std::optional<ScriptedReply> s = TakeScript(head.msgType, head.msgCode);
    // Without a code, series or "no reply" of its own, the scripted entry only shapes
    // the happy engine's answer, and the happy engine acts on the request.
    bool needDefault = !s || (!s->code && s->series.empty() && !s->noReply);
    Default d;
    if (needDefault) d = Happy(head, payload);
    return Build(head, kMarkTulm, d, s ? &*s : nullptr);
}

Plan Engine::HandlePortRequest(const PacketHead& head, uint16_t enginePort) {
    ++requests_;
    Default d;
    d.code = code::kListenPort;
    d.payload = U32Payload(enginePort);
    return Build(head, kMarkRpc, d, sc_.portReply ? &*sc_.portReply : nullptr);
}

Record Engine::RecordUpdate(const Bytes& payload) {
    UpdateNote n;
    n.record = Record(rec::kUpdateStart, payload.data(), payload.size());
    updates_.push_back(n);
    return n.record;
}

void Engine::NoteUpdateSpawn(long pid, const std::string& error) {
    if (updates_.empty()) return;
    updates_.back().pid = pid;
    updates_.back().spawnError = error;
}

void Engine::NoteUpdateExit(long pid, int status) {
    for (UpdateNote& n : updates_) {
        if (n.pid == pid) n.exitStatus = status;
    }
}

Engine::Default Engine::Happy(const PacketHead& h, const Bytes& p) {
    Default d;
    switch (h.msgType) {
    case kTypePref:
        switch (h.msgCode) {
        case code::kStartTulm: d.none = true; return d;   // a greeting: never answered
        case 4: return SitePref(p);
        case 17: return LinkSelect(p);
        case 18: return SiteList();
        default: d.code = code::kFirstConnFail; return d;
        }
    case kTypeAuth:
        switch (h.msgCode) {
        case 5: return SslLogin(p);
        case 8:
            loggedIn_ = tunnelUp_ = false;
            pendingToken_.clear();
            pwdChangeUser_.clear();
            d.code = code::kLogoutSuccess;
            return d;
        case 11: return PwdModify(p);
        case 15: return CertInfo();
        case 16: return DynamicCode(p);
        default: d.code = code::kAuthFail; return d;
        }
    case kTypeIpsec:
        if (h.msgCode == 5) return IpsecLogin(p);
        if (h.msgCode == 8) {
            ipsecUp_ = loggedIn_ = false;
            d.code = code::kLogoutSuccess;
            return d;
        }
        d.code = MakeCode(8, 5);   // STEP1_ERR
        return d;
    case kTypeCnem:
        if (h.msgCode == 10) {
            if (!loggedIn_) { d.code = code::kCnemStartFail; return d; }
            tunnelUp_ = true;
            tunnelMode_ = p.size() >= 4 ? GetBE32(p.data()) : 0;
            d.code = code::kCnemStartSuccess;
            return d;
        }
        if (h.msgCode == 19) {
            d.code = tunnelUp_ ? code::kCnemStopSuccess : code::kCnemStopFail;
            tunnelUp_ = false;
            return d;
        }
        d.code = code::kCnemStartFail;
        return d;
    case kTypeEps:
        if (h.msgCode == 12) {
            // A first login that demands a new password has authenticated the user:
            // the front end runs the host check before it shows the change dialog.
            bool session = loggedIn_ || !pwdChangeUser_.empty();
            d.code = session ? code::kHostCheckSuccess : code::kHostCheckFail;
            return d;
        }
        d.code = (h.msgCode == 13 || h.msgCode == 14) ? code::kCacheCleanSuccess
                                                      : code::kCacheCleanFail;
        return d;
    case kTypeCfm:
        switch (h.msgCode) {
        case 1: return SysConfigWrite(p);
        case 2: d.code = Cfm(kSysReadOk); d.payload = sysConfig_.Wire(); return d;
        case 3: return SessionWrite(p);
        case 4: return SessionRead(p);
        case 5: return ProfileWrite(1, p);
        case 6: return ProfileRead(1, p);
        case 7: return ProfileWrite(2, p);
        case 8: return ProfileRead(2, p);
        case 9: return ProfileInput(p);
        case 10: return ProfileOutput(p);
        case 11: return ProfileSpecify(p);
        case 12: return ProfileDelete(p);
        default: d.code = Cfm(kSysReadFail); return d;
        }
    default:
        d.code = code::kFirstConnFail;
        return d;
    }
}

// ---- configuration, sessions, profiles ------------------------------------------

Engine::Default Engine::SysConfigWrite(const Bytes& p) {
    Default d;
    if (p.size() < rec::kSysConfig.size) {
        d.code = Cfm(kSysWriteFail);
        return d;
    }
    Record in(rec::kSysConfig, p.data(), p.size());
    // Global settings are taken as written; the session entries belong to the
    // profiles, so a system write only updates the entries it names and never adds
    // or removes one. An empty password keeps the stored one, the proxy's as the
    // sessions': the front end sends a secret only when the user typed it.
    Record next = in;
    if (in.Text("ProxyPwd").empty()) next.SetText("ProxyPwd", sysConfig_.Text("ProxyPwd"));
    std::copy(sysConfig_.Wire().begin() + 744, sysConfig_.Wire().end(),
              next.MutableWire().begin() + 744);
    for (int i = 0; i < 16; ++i) {
        std::string src = "Sessions[" + std::to_string(i) + "].";
        std::string name = in.Text(src + "ProfileName");
        int idx = FindSession(name);
        if (idx < 0) continue;
        std::string dst = "Sessions[" + std::to_string(idx) + "].";
        for (const char* f : {"ConnectionType", "RemPwd", "AutoLogin"})
            next.SetU32(dst + f, in.U32(src + f));
        next.SetText(dst + "LastLoginAddr", in.Text(src + "LastLoginAddr"));
        next.SetText(dst + "UserName", in.Text(src + "UserName"));
        std::string pwd = in.Text(src + "Password");
        if (!pwd.empty()) next.SetText(dst + "Password", pwd);
    }
    sysConfig_ = next;
    d.code = Cfm(kSysWriteOk);
    return d;
}

Engine::Default Engine::SessionWrite(const Bytes& p) {
    Default d;
    d.code = Cfm(kSessWriteFail);
    if (p.size() < rec::kSessionBE.size) return d;
    Record in(rec::kSessionBE, p.data(), p.size());
    int idx = FindSession(in.Text("ProfileName"));
    if (idx < 0) return d;
    std::string dst = "Sessions[" + std::to_string(idx) + "].";
    for (const char* f : {"ConnectionType", "RemPwd", "AutoLogin"})
        sysConfig_.SetU32(dst + f, in.U32(f));
    sysConfig_.SetText(dst + "LastLoginAddr", in.Text("LastLoginAddr"));
    sysConfig_.SetText(dst + "UserName", in.Text("UserName"));
    std::string pwd = in.Text("Password");
    if (!pwd.empty()) sysConfig_.SetText(dst + "Password", pwd);
    RememberLast(in.Text("ProfileName"));
    d.code = Cfm(kSessWriteOk);
    return d;
}

Engine::Default Engine::SessionRead(const Bytes& p) {
    Default d;
    int idx = FindSession(PayloadText(p));
    if (idx < 0) {
        d.code = Cfm(kSessReadFail);
        return d;
    }
    Record out(rec::kSessionBE);
    std::string src = "Sessions[" + std::to_string(idx) + "].";
    for (const char* f : {"ConnectionType", "RemPwd", "AutoLogin"})
        out.SetU32(f, sysConfig_.U32(src + f));
    for (const char* f : {"LastLoginAddr", "ProfileName", "UserName", "Password"})
        out.SetText(f, sysConfig_.Text(src + f));
    d.code = Cfm(kSessReadOk);
    d.payload = out.Wire();
    return d;
}

Engine::Default Engine::ProfileWrite(uint32_t linkType, const Bytes& p) {
    Default d;
    const RecordDesc& desc = linkType == 1 ? rec::kSslProfile : rec::kIpsecProfile;
    uint32_t ok = Cfm(linkType == 1 ? kSslWriteOk : kIpsecWriteOk);
    d.code = Cfm(linkType == 1 ? kSslWriteFail : kIpsecWriteFail);
    if (p.size() <= desc.size) return d;
    std::string name(reinterpret_cast<const char*>(p.data()) + desc.size, p.size() - desc.size);
    if (!ValidProfileName(name)) return d;
    Record r(desc, p.data(), desc.size);
    auto it = profiles_.find(name);
    if (it != profiles_.end() && it->second.linkType != linkType) {
        d.code = Cfm(kIsExist);
        return d;
    }
    if (it != profiles_.end() && linkType == 2) {
        // An empty secret means "keep the stored one".
        for (const char* f : {"acPreSharedKey", "acTunnelPassword"}) {
            if (r.Text(f).empty()) {
                FieldRef ref;
                r.Resolve(f, &ref);
                std::copy(it->second.record.Wire().begin() + ref.offset,
                          it->second.record.Wire().begin() + ref.offset + ref.field->width,
                          r.MutableWire().begin() + ref.offset);
            }
        }
    }
    if (!StoreProfile(name, linkType, r)) return d;
    WriteProfileFile(name);
    d.code = ok;
    return d;
}

Engine::Default Engine::ProfileRead(uint32_t linkType, const Bytes& p) {
    Default d;
    auto it = profiles_.find(PayloadText(p));
    if (it == profiles_.end() || it->second.linkType != linkType) {
        d.code = Cfm(linkType == 1 ? kSslReadFail : kIpsecReadFail);
        return d;
    }
    d.code = Cfm(linkType == 1 ? kSslReadOk : kIpsecReadOk);
    d.payload = it->second.record.Wire();
    return d;
}

Engine::Default Engine::ProfileDelete(const Bytes& p) {
    Default d;
    std::string name = PayloadText(p);
    auto it = profiles_.find(name);
    if (it == profiles_.end()) {
        d.code = Cfm(kDeleteFail);
        return d;
    }
    profiles_.erase(it);
    int idx = FindSession(name);
    if (idx >= 0) {
        std::fill(sysConfig_.MutableWire().begin() + 744 + idx * 676,
                  sysConfig_.MutableWire().begin() + 744 + (idx + 1) * 676, 0);
    }
    if (sysConfig_.Text("LastAccessSession") == name) sysConfig_.SetText("LastAccessSession", "");
    std::string path = ProfileFilePath(name);
    if (!path.empty()) ::unlink(path.c_str());
    d.code = Cfm(kDeleteOk);
    return d;
}

Engine::Default Engine::ProfileInput(const Bytes& p) {
    Default d;
    std::string path = PayloadText(p);
    struct stat st;
    if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        d.code = Cfm(kInputPathInvalid);
        return d;
    }
    std::string text;
    bool tooBig = false;
    if (st.st_size > kMaxImportBytes ||
        !ReadWholeFile(path, &text, size_t(kMaxImportBytes), &tooBig)) {
        d.code = Cfm(tooBig || st.st_size > kMaxImportBytes ? kInputTooBig : kInputFail);
        return d;
    }
    std::string name = ImportedProfileName(path);
    uint32_t linkType = 0;
    Bytes record;
    d.code = Cfm(kInputFail);
    if (!ParseProfileIni(text, &linkType, &record)) return d;
    if ((linkType != 1 && linkType != 2) || !ValidProfileName(name)) return d;
    const RecordDesc& desc = linkType == 1 ? rec::kSslProfile : rec::kIpsecProfile;
    if (record.size() != desc.size) return d;
    auto it = profiles_.find(name);
    if (it != profiles_.end() && it->second.linkType != linkType) {
        d.code = Cfm(kIsExist);
        return d;
    }
    if (!StoreProfile(name, linkType, Record(desc, record.data(), record.size()))) return d;
    WriteProfileFile(name);
    d.code = Cfm(kInputOk);
    d.payload = U32Payload(linkType);
    return d;
}

Engine::Default Engine::ProfileOutput(const Bytes& p) {
    Default d;
    Record in(rec::kProfileOutput, p.data(), p.size());
    std::string name = in.Text("acProfileName");
    std::string path = in.Text("acOutputPath");
    auto it = profiles_.find(name);
    if (p.size() < rec::kProfileOutput.size || it == profiles_.end()) {
        d.code = Cfm(kOutputFail);
        return d;
    }
    // The simulator writes only below the user's home and temporary folders.
    bool allowed = !path.empty() && path[0] == '/' && !HasDotDot(path) &&
                   (UnderFolder(path, "HOME") || UnderFolder(path, "TMPDIR") ||
                    path.compare(0, 5, "/tmp/") == 0);
    std::string dir = path.substr(0, path.rfind('/') + 1);
    struct stat st;
    if (!allowed || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        d.code = Cfm(kOutputPathInvalid);
        return d;
    }
    bool written = WriteWholeFile(path, ProfileIni(name, it->second.linkType, it->second.record));
    d.code = written ? Cfm(kOutputOk) : Cfm(kOutputFail);
    return d;
}

Engine::Default Engine::ProfileSpecify(const Bytes& p) {
    Default d;
    auto it = profiles_.find(PayloadText(p));
    if (it == profiles_.end()) {
        // The front end reads the link type whatever the code: send one (0).
        d.code = Cfm(kNotExist);
        d.payload = U32Payload(0);
        return d;
    }
    d.code = Cfm(kSpecifyOk);
    d.payload = U32Payload(it->second.linkType);
    return d;
}

// ---- gateways -------------------------------------------------------------------

const GatewayEntry* Engine::FindGateway(const std::string& address, uint32_t port) const {
    for (const GatewayEntry& g : sc_.gateways) {
        if (g.address == address && g.port == port) return &g;
    }
    return nullptr;
}

uint32_t Engine::DelayOf(const std::string& address, uint32_t port, uint32_t fallback) const {
    const GatewayEntry* g = FindGateway(address, port);
    return g != nullptr ? g->delay : fallback;
}

Engine::Default Engine::SitePref(const Bytes& p) {
    Record in(rec::kFirstConn, p.data(), p.size());
    std::string bestAddr;
    uint32_t bestPort = 0, bestDelay = 0, bestFlag = 0;
    uint32_t count = in.U32("uiGatewayNum");
    if (count > 16) count = 16;
    bool found = false;
    if (in.U32("uiAutoBest") == 1) {
        // The best gateway is the reachable candidate with the lowest delay; a
        // candidate the engine has never measured counts as slow.
        for (uint32_t i = 0; i < count; ++i) {
            std::string base = "astGateway[" + std::to_string(i) + "].";
            std::string addr = in.Text(base + "acAddress");
            uint32_t port = in.U32(base + "uiPort");
            if (addr.empty()) continue;
            const GatewayEntry* g = FindGateway(addr, port);
            if (g != nullptr && !g->reachable) continue;
            uint32_t delay = g != nullptr ? g->delay : 999;
            if (!found || delay < bestDelay) {
                found = true;
                bestAddr = addr;
                bestPort = port;
                bestDelay = delay;
                bestFlag = g != nullptr ? g->flag : in.U32(base + "uiFlag");
            }
        }
    }
    if (!found) {
        SplitGateway(in.Text("acGateway"), &bestAddr, &bestPort);
        if (bestAddr.empty() && count > 0) {
            uint32_t def = in.U32("uiDefaultGateway");
            if (def >= count) def = 0;
            std::string base = "astGateway[" + std::to_string(def) + "].";
            bestAddr = in.Text(base + "acAddress");
            bestPort = in.U32(base + "uiPort");
        }
        bestDelay = DelayOf(bestAddr, bestPort, 0);
        const GatewayEntry* g = FindGateway(bestAddr, bestPort);
        bestFlag = g != nullptr ? g->flag : 0;
    }
    Record out(rec::kFirstConnectConf);
    out.SetU32("uiAuthType", sc_.authType);
    out.SetU32("uiVerification", sc_.verification);
    out.SetU32("uiVersionMS", sc_.versionMS);
    out.SetU32("uiVersionLS", sc_.versionLS);
    out.SetText("acBestGateway", bestAddr.size() < 128 ? bestAddr : std::string());
    out.SetU32("uiBestPort", bestPort);
    out.SetU32("uiBestDelay", bestDelay);
    out.SetU32("uiBestFlag", bestFlag);
    out.SetText("acPackage", sc_.packageUrl.size() < 256 ? sc_.packageUrl : std::string());
    Default d;
    d.code = code::kFirstConnSuccess;
    d.payload = out.Wire();
    return d;
}

void Engine::SetHttpsPort(uint16_t port) {
    static const std::string kMark = "{https}";
    const std::string text = std::to_string(port);
    for (size_t at = sc_.packageUrl.find(kMark); at != std::string::npos;
         at = sc_.packageUrl.find(kMark, at + text.size())) {
        sc_.packageUrl.replace(at, kMark.size(), text);
    }
}

Engine::Default Engine::SiteList() {
    Record out(rec::kSiteList);
    for (size_t i = 0; i < sc_.gateways.size() && i < 16; ++i) {
        std::string base = "astGateway[" + std::to_string(i) + "].";
        out.SetText(base + "acAddress", sc_.gateways[i].address);
        out.SetU32(base + "uiPort", sc_.gateways[i].port);
        out.SetU32(base + "uiDelay", sc_.gateways[i].delay);
        out.SetU32(base + "uiFlag", sc_.gateways[i].flag);
    }
    Default d;
    d.code = code::kSiteSuccess;
    d.payload = out.Wire();
    return d;
}

Engine::Default Engine::LinkSelect(const Bytes& p) {
    Record in(rec::kLinkSelect, p.data(), p.size());
    std::string ip = in.Text("acIp");
    uint32_t port = in.U32("uiPort");
    Default d;
    if (in.U32("uiEnable") == 1) {
        const GatewayEntry* best = nullptr;
        for (const GatewayEntry& g : sc_.gateways) {
            if (g.reachable && (best == nullptr || g.delay < best->delay)) best = &g;
        }
        if (best != nullptr) {
            ip = best->address;
            port = best->port;
        }
    }
    const GatewayEntry* g = FindGateway(ip, port);
    if (ip.empty() || (g != nullptr && !g->reachable)) {
        Record out(rec::kLinkSelectReply);
        d.code = code::kLinkSelFail;
        d.payload = out.Wire();
        return d;
    }
    selected_ = JoinGateway(ip, port);
    Record out(rec::kLinkSelectReply);
    out.SetU32("uiResult", 1);
    out.SetText("acIp", ip.size() < 128 ? ip : std::string());
    out.SetU32("uiPort", port);
    d.code = code::kLinkSelSuccess;
    d.payload = out.Wire();
    return d;
}

// ---- login, token, password ------------------------------------------------------

const Credential* Engine::FindCredential(const std::string& user) const {
    for (const Credential& c : sc_.credentials) {
        if (c.user == user) return &c;
    }
    return nullptr;
}

// A certificate login carries the value the certificate list gives for the chosen
// row (its 1024-byte text), not the name shown; a credential names its certificate
// by that shown name.
const Credential* Engine::FindCredentialByCert(const std::string& value) const {
    if (value.empty()) return nullptr;
    for (const CertEntry& cert : sc_.certificates) {
        if (cert.text != value) continue;
        for (const Credential& c : sc_.credentials) {
            if (!c.cert.empty() && c.cert == cert.name) return &c;
        }
    }
    return nullptr;
}

Bytes Engine::LoginRet(const Credential& c) const {
    Record r(rec::kSslLoginRet);
    r.SetU32("uiHostCheck", c.hostCheck);
    r.SetU32("uiCacheClear", c.cacheClear);
    r.SetU32("uiModifyPwd", c.modifyPwd);
    r.SetU32("usAlarmNotice", c.alarmNotice);
    r.SetU32("sAlarmTime", uint32_t(c.alarmDays));
    return r.Wire();
}

Bytes Engine::PolicyPayload() const {
    Record r(rec::kPwdPolicy);
    r.SetU32("uiMinLength", sc_.policy.minLength);
    r.SetU32("uiMaxLength", sc_.policy.maxLength);
    r.SetU32("uiMinDigits", sc_.policy.minDigits);
    r.SetU32("uiMinLetters", sc_.policy.minLetters);
    r.SetU32("uiMixedCase", sc_.policy.mixedCase);
    r.SetU32("uiNewOldDiffer", sc_.policy.newOldDiffer);
    r.SetU32("uiNamePwdDiffer", sc_.policy.namePwdDiffer);
    return r.Wire();
}

Engine::Default Engine::SslLogin(const Bytes& p) {
    Record in(rec::kSslLogin, p.data(), p.size());
    Default d;
    uint32_t authType = in.U32("uiAuthType");
    bool plugin = in.U32("uiLoginType") == 0;
    std::string user = in.Text("acUserName");
    std::string pwd = in.Text("acPassword");
    gateway_ = in.Text("acGateway");
    loggedIn_ = false;
    pendingToken_.clear();
    pwdChangeUser_.clear();

    // An empty password asks for the one remembered in the profile's session.
    if (pwd.empty() && authType != 1) {
        int idx = FindSession(in.Text("acProfileName"));
        if (idx >= 0) pwd = sysConfig_.Text("Sessions[" + std::to_string(idx) + "].Password");
    }
    const Credential* c = nullptr;
    if (authType == 0) {
        c = FindCredential(user);
    } else {
        c = FindCredentialByCert(in.Text("acCertName"));
        if (c == nullptr) {
            d.code = code::kAuthUserCertError;
            return d;
        }
    }
    bool pwdOk = c != nullptr && (authType == 1 || passwords_[c->user] == pwd);
    if (!pwdOk || c->outcome == "wrongPassword") {
        d.code = code::kAuthUserPasswdError;
        return d;
    }
    user_ = c->user;
    std::string outcome = c->outcome;
    if (outcome == "untrustedCert" && in.U32("uiDeviceCACheck") == 0) outcome = "success";
    // A demanded password change, once made, is not demanded again: otherwise the
    // first-login flow (change, log out, log in) would never end.
    bool changeDemanded =
        outcome == "firstLogin" || outcome == "expireStrong" || outcome == "expireWeak";
    if (changeDemanded && changeDone_.count(c->user) != 0) outcome = "success";

    if (outcome == "success") {
        loggedIn_ = true;
        pluginLogin_ = plugin;
        RememberLast(in.Text("acProfileName"));
        d.code = code::kLoginSuccess;
        if (plugin) {
            Record r(rec::kPluginLoginReply);
            r.SetU32("uiUserID", c->userId);
            r.SetU32("uiSessionID", c->sessionId);
            r.SetText("aucCookie", c->cookie.size() <= 64 ? c->cookie : std::string());
            r.SetText("acUrlLocation", c->url.size() <= 1024 ? c->url : std::string());
            d.payload = r.Wire();
        } else {
            d.payload = LoginRet(*c);
        }
        return d;
    }
    // A plugin login's payload is read as the plugin reply, never as the view's
    // login record, so a refused plugin login goes out head-only.
    if (outcome == "firstLogin") {
        pwdChangeUser_ = c->user;
        d.code = code::kAuthFirstLogin;
        if (!plugin) d.payload = LoginRet(*c);
    } else if (outcome == "token") {
        pendingToken_ = c->user;
        pendingProfile_ = in.Text("acProfileName");
        d.code = code::kAuthSmsCheck;
        if (!plugin) d.payload = LoginRet(*c);
    } else if (outcome == "expireStrong" || outcome == "expireWeak") {
        pwdChangeUser_ = c->user;
        d.code = outcome == "expireStrong" ? 0x30007 : 0x30008;
        if (!plugin) d.payload = LoginRet(*c);
    } else if (outcome == "locked") {
        d.code = code::kAuthUserLocked;
    } else if (outcome == "untrustedCert") {
        d.code = code::kAuthDeviceCertError;
    } else if (outcome == "certError") {
        d.code = code::kAuthUserCertError;
    } else if (outcome == "deviceReject") {
        d.code = 0x3000C;
    } else {
        d.code = code::kAuthPluginRegion;
    }
    return d;
}

Engine::Default Engine::DynamicCode(const Bytes& p) {
    Record in(rec::kDynamicCode, p.data(), p.size());
    Default d;
    const Credential* c = FindCredential(pendingToken_);
    if (c == nullptr || pendingToken_.empty() || in.Text("acDynamicCode") != c->token) {
        d.code = code::kAuthFail;
        return d;
    }
    pendingToken_.clear();
    loggedIn_ = true;
    pluginLogin_ = false;
    RememberLast(pendingProfile_);
    d.code = code::kLoginSuccess;
    d.payload = LoginRet(*c);
    return d;
}

// A password too weak for the policy (too few digits or letters, or one case only where
// both are asked for) is refused with the complexity level the policy sets: medium when
// it asks for mixed case, basic otherwise. Only those refusals make the front end show
// the policy's rules; the policy travels with every refusal.
Engine::Default Engine::PwdModify(const Bytes& p) {
    Record in(rec::kPwdModify, p.data(), p.size());
    Default d;
    d.payload = PolicyPayload();
    // A change that a login demanded (first login, expired password) comes before any
    // session; otherwise it is made in the session of the logged-in user.
    const bool demanded = !pwdChangeUser_.empty();
    std::string who = demanded ? pwdChangeUser_ : (loggedIn_ ? user_ : "");
    if (who.empty()) {
        d.code = code::kModifyPwdFail;
        return d;
    }
    std::string oldPwd = in.Text("acOldPwd"), newPwd = in.Text("acNewPwd");
    const PwdPolicy& pol = sc_.policy;
    const bool weak =
        CountIf(newPwd, ::isdigit) < pol.minDigits || CountIf(newPwd, ::isalpha) < pol.minLetters ||
        (pol.mixedCase && (CountIf(newPwd, ::islower) == 0 || CountIf(newPwd, ::isupper) == 0));
    if (oldPwd != passwords_[who]) d.code = code::kModifyPwdOldError;
    else if (pol.newOldDiffer && newPwd == oldPwd) d.code = code::kModifyPwdNewOldSame;
    else if (newPwd.size() < pol.minLength || newPwd.size() > pol.maxLength)
        d.code = code::kModifyPwdLen;
    else if (weak) d.code = pol.mixedCase ? code::kModifyPwdIsMiddle : code::kModifyPwdIsLow;
    else if (pol.namePwdDiffer && newPwd == who) d.code = code::kModifyPwdNamePwSame;
    else {
        passwords_[who] = newPwd;
        changeDone_.insert(who);
        pwdChangeUser_.clear();
        d.code = code::kModifyPwdSuccess;
        d.payload.clear();
        // The session was opened with the old password: the service ends it and says so
        // once the reply is out. A demanded change has no session to end; the front end
        // logs out by itself after it, so a forced logout would be a second one.
        if (!demanded) {
            EndSession();
            d.asyncAfter.push_back(code::kUrgentLogout);
        }
    }
    return d;
}

void Engine::EndSession() {
    loggedIn_ = pluginLogin_ = tunnelUp_ = ipsecUp_ = false;
    pendingToken_.clear();
    pwdChangeUser_.clear();
}

Engine::Default Engine::CertInfo() {
    Record out(rec::kCertInfo);
    uint32_t n = 0;
    for (const CertEntry& c : sc_.certificates) {
        out.SetText("acCertText[" + std::to_string(n) + "]", c.text);
        out.SetText("acCertName[" + std::to_string(n) + "]", c.name);
        ++n;
    }
    out.SetU32("uiCertNum", n);
    Default d;
    d.code = code::kLoginSuccess;   // the front end does not look at this code
    d.payload = out.Wire();
    return d;
}

Engine::Default Engine::IpsecLogin(const Bytes& p) {
    Record in(rec::kIpsecLogin, p.data(), p.size());
    std::string user = in.Text("acUserName");
    std::string pwd = in.Text("acPassword");
    if (pwd.empty()) {
        int idx = FindSession(in.Text("acProfileName"));
        if (idx >= 0) pwd = sysConfig_.Text("Sessions[" + std::to_string(idx) + "].Password");
    }
    const Credential* c = FindCredential(user);
    bool ok = c != nullptr && passwords_[c->user] == pwd && c->outcome != "wrongPassword" &&
              c->outcome != "locked";
    Default d;
    if (ok) {
        d.series = sc_.ipsecSteps;
        user_ = c->user;
        bool up = false;
        for (const ScriptedPacket& s : d.series) up = up || s.code == code::kIpsecConnectSuccess;
        ipsecUp_ = loggedIn_ = up;
        if (up) RememberLast(in.Text("acProfileName"));
    } else {
        // The PPP authentication fails after the IPSec and L2TP steps went well.
        for (uint32_t c2 : {0x80000u, 0x80006u, 0x80008u, 0x8000Bu, 0x80016u,
                            code::kIpsecStep6PppAuthFailed}) {
            d.series.push_back(ScriptedPacket{c2, {}, {}, 0});
        }
    }
    for (ScriptedPacket& s : d.series) s.delayMs += sc_.ipsecStepDelayMs;
    if (d.series.empty()) d.none = true;
    return d;
}

// ---- state dump and request descriptions ------------------------------------------

rapidjson::Value Engine::StateJson(rapidjson::Document::AllocatorType& a) const {
    using rapidjson::Value;
    Value o(rapidjson::kObjectType);
    o.AddMember("requests", requests_, a);
    o.AddMember("loggedIn", loggedIn_, a);
    o.AddMember("pluginLogin", pluginLogin_, a);
    o.AddMember("user", Value(user_.c_str(), a), a);
    o.AddMember("pendingToken", Value(pendingToken_.c_str(), a), a);
    o.AddMember("loginGateway", Value(gateway_.c_str(), a), a);
    o.AddMember("selectedGateway", Value(selected_.c_str(), a), a);
    o.AddMember("tunnelUp", tunnelUp_, a);
    o.AddMember("tunnelMode", tunnelMode_, a);
    o.AddMember("ipsecUp", ipsecUp_, a);
    Value profiles(rapidjson::kArrayType);
    for (const auto& p : profiles_) {
        Value e(rapidjson::kObjectType);
        e.AddMember("name", Value(p.first.c_str(), a), a);
        e.AddMember("linkType", p.second.linkType, a);
        e.AddMember("fields", p.second.record.ToJson(a), a);
        profiles.PushBack(e, a);
    }
    o.AddMember("profiles", profiles, a);
    o.AddMember("config", sysConfig_.ToJson(a), a);
    Value pw(rapidjson::kObjectType);
    for (const auto& kv : passwords_) {
        pw.AddMember(Value(kv.first.c_str(), a), Value(kv.second.c_str(), a), a);
    }
    o.AddMember("passwords", pw, a);
    Value ups(rapidjson::kArrayType);
    for (const UpdateNote& n : updates_) {
        Value e(rapidjson::kObjectType);
        e.AddMember("record", n.record.ToJson(a), a);
        e.AddMember("pid", int64_t(n.pid), a);
        e.AddMember("spawnError", Value(n.spawnError.c_str(), a), a);
        if (n.exitStatus) e.AddMember("exitStatus", *n.exitStatus, a);
        ups.PushBack(e, a);
    }
    o.AddMember("updates", ups, a);
    return o;
}

void DescribePayload(const std::string& conn, const PacketHead& h, const Bytes& p,
                     rapidjson::Value* out, rapidjson::Document::AllocatorType& a) {
    using rapidjson::Value;
    const RecordDesc* d = nullptr;
    size_t textFrom = std::string::npos;   // a name or path after (or instead of) the record
    bool promote = conn == "promote";
    switch (h.msgType) {
    case kTypePref:
        if (h.msgCode == code::kStartTulm && promote) d = &rec::kRemotePortRequest;
        else if (h.msgCode == code::kUpdateApplication) d = &rec::kUpdateStart;
        else if (h.msgCode == 4) d = &rec::kFirstConn;
        else if (h.msgCode == 17) d = &rec::kLinkSelect;
        break;
    case kTypeAuth:
        if (h.msgCode == 5) d = &rec::kSslLogin;
        else if (h.msgCode == 16) d = &rec::kDynamicCode;
        else if (h.msgCode == 11) d = &rec::kPwdModify;
        else if (h.msgCode == 15) d = &rec::kCertInfo;
        break;
    case kTypeIpsec:
        if (h.msgCode == 5) d = &rec::kIpsecLogin;
        break;
    case kTypeCnem:
        if (h.msgCode == 10) d = &rec::kTunnelMode;
        break;
    case kTypeCfm:
        switch (h.msgCode) {
        case 1: d = &rec::kSysConfig; break;
        case 3: d = &rec::kSessionBE; break;
        case 5: d = &rec::kSslProfile; textFrom = rec::kSslProfile.size; break;
        case 7: d = &rec::kIpsecProfile; textFrom = rec::kIpsecProfile.size; break;
        case 10: d = &rec::kProfileOutput; break;
        case 4: case 6: case 8: case 9: case 11: case 12: textFrom = 0; break;
        default: break;
        }
        break;
    default:
        break;
    }
    if (p.empty()) return;
    if (d != nullptr) {
        Record r(*d, p.data(), p.size());
        out->AddMember("record", Value(d->name, a), a);
        out->AddMember("fields", r.ToJson(a), a);
        if (p.size() < d->size) out->AddMember("short", true, a);
    }
    if (textFrom != std::string::npos && textFrom < p.size()) {
        std::string t(reinterpret_cast<const char*>(p.data()) + textFrom, p.size() - textFrom);
        out->AddMember("text", TextJson(t, a), a);
    }
}

}  // namespace sim
