#include "sim_scenario.h"

#include <set>

#include <rapidjson/error/en.h>

#include "sim_files.h"
#include "sim_records.h"

namespace sim {

namespace {

// A scenario is a hand-written JSON file; anything this large is a mistake.
constexpr size_t kMaxScenarioBytes = 16 * 1024 * 1024;

}  // namespace

PacketHead HeadOverride::Apply(PacketHead h) const {
    if (source) h.source = *source;
    if (dest) h.dest = *dest;
    if (connType) h.connType = *connType;
    if (msgType) h.msgType = *msgType;
    return h;
}

namespace {

using Value = rapidjson::Value;

// Reads the members of one JSON object and remembers which ones were used, so that a
// misspelt member is reported instead of silently ignored.
class Obj {
public:
    Obj(const Value& v, std::string where, std::string* err)
        : v_(v), where_(std::move(where)), err_(err) {
        if (!v.IsObject()) Fail("object expected");
    }
    bool ok() const { return ok_; }
    const Value* Get(const char* key) {
        if (!ok_) return nullptr;
        seen_.insert(key);
        auto it = v_.FindMember(key);
        return it == v_.MemberEnd() ? nullptr : &it->value;
    }
    bool U32(const char* key, uint32_t* out) {
        const Value* x = Get(key);
        if (x == nullptr) return ok_;
        if (x->IsUint()) { *out = x->GetUint(); return true; }
        if (x->IsString() && ParseU32(x->GetString(), out)) return true;
        return Fail(std::string(key) + ": unsigned number expected");
    }
    template <typename T>
    bool OptU32(const char* key, std::optional<T>* out, uint32_t max = 0xFFFFFFFFu) {
        const Value* x = Get(key);
        if (x == nullptr || x->IsNull()) return ok_;
        uint32_t v;
        if (x->IsUint()) v = x->GetUint();
        else if (!(x->IsString() && ParseU32(x->GetString(), &v)))
            return Fail(std::string(key) + ": unsigned number expected");
        if (v > max) return Fail(std::string(key) + ": out of range");
        *out = T(v);
        return true;
    }
    bool Port(const char* key, uint16_t* out) {
        uint32_t v = *out;
        if (!U32(key, &v)) return false;
        if (v > 65535) return Fail(std::string(key) + ": not a port");
        *out = uint16_t(v);
        return true;
    }
    bool Int(const char* key, int32_t* out) {
        const Value* x = Get(key);
        if (x == nullptr) return ok_;
        if (!x->IsInt()) return Fail(std::string(key) + ": integer expected");
        *out = x->GetInt();
        return true;
    }
    bool Bool(const char* key, bool* out) {
        const Value* x = Get(key);
        if (x == nullptr) return ok_;
        if (!x->IsBool()) return Fail(std::string(key) + ": true or false expected");
        *out = x->GetBool();
        return true;
    }
    bool Str(const char* key, std::string* out) {
        const Value* x = Get(key);
        if (x == nullptr) return ok_;
        if (!x->IsString()) return Fail(std::string(key) + ": text expected");
        out->assign(x->GetString(), x->GetStringLength());
        return true;
    }
    // Reports members that no reader asked for.
    bool Done() {
        if (!ok_) return false;
        for (auto it = v_.MemberBegin(); it != v_.MemberEnd(); ++it) {
            if (!seen_.count(it->name.GetString()))
                return Fail(std::string("unknown member ") + it->name.GetString());
        }
        return true;
    }
    bool Fail(const std::string& what) {
        if (ok_) *err_ = where_ + ": " + what;
        ok_ = false;
        return false;
    }

private:
    const Value& v_;
    std::string where_;
    std::string* err_;
    std::set<std::string> seen_;
    bool ok_ = true;
};

bool ParseHeadOverride(const Value& v, HeadOverride* h, std::string* err) {
    Obj o(v, "head", err);
    o.OptU32("source", &h->source);
    o.OptU32("dest", &h->dest);
    o.OptU32("type", &h->connType);
    o.OptU32("msgType", &h->msgType);
    return o.Done();
}

bool ParsePacketList(const Value* v, std::vector<ScriptedPacket>* out, const char* what,
                     std::string* err) {
    if (v == nullptr) return true;
    if (!v->IsArray()) {
        *err = std::string(what) + ": array expected";
        return false;
    }
    out->clear();
    for (const Value& e : v->GetArray()) {
        ScriptedPacket p;
        if (e.IsString() || e.IsUint()) {
            // A bare code: a head-only packet.
            if (e.IsUint()) p.code = e.GetUint();
            else if (!ParseU32(e.GetString(), &p.code)) {
                *err = std::string(what) + ": bad code";
                return false;
            }
        } else if (!ParseScriptedPacket(e, &p, err)) {
            return false;
        }
        out->push_back(std::move(p));
    }
    return true;
}

Credential DefaultCredential(const char* user, const char* outcome) {
    Credential c;
    c.user = user;
    c.password = "Passw0rd";
    c.outcome = outcome;
    return c;
}

bool BuildRecord(const RecordDesc& desc, const Value* fields, Bytes* out, std::string* err) {
    Record r(desc);
    if (!out->empty()) r = Record(desc, out->data(), out->size());
    if (fields != nullptr && !r.ApplyJson(*fields, err)) return false;
    *out = r.Wire();
    return true;
}

}  // namespace

bool ParsePayload(const Value& v, Bytes* out, std::string* err) {
    if (v.IsString()) {
        if (!FromHex(v.GetString(), out)) {
            *err = "payload: bad hex";
            return false;
        }
        return true;
    }
    Obj o(v, "payload", err);
    std::string hex, recName;
    o.Str("hex", &hex);
    o.Str("record", &recName);
    const Value* fields = o.Get("fields");
    if (!o.Done()) return false;
    if (!recName.empty()) {
        const RecordDesc* d = FindRecord(recName);
        if (d == nullptr) {
            *err = "payload: unknown record " + recName;
            return false;
        }
        out->clear();
        return BuildRecord(*d, fields, out, err);
    }
    if (!FromHex(hex, out)) {
        *err = "payload: bad hex";
        return false;
    }
    return true;
}

bool ParseScriptedPacket(const Value& v, ScriptedPacket* p, std::string* err) {
    Obj o(v, "packet", err);
    o.U32("code", &p->code);
    o.U32("delayMs", &p->delayMs);
    o.U32("afterMs", &p->delayMs);
    if (const Value* x = o.Get("payload")) {
        if (!ParsePayload(*x, &p->payload, err)) return false;
    }
    if (const Value* x = o.Get("head")) {
        if (!ParseHeadOverride(*x, &p->head, err)) return false;
    }
    return o.Done();
}

bool ParseScriptedReply(const Value& v, ScriptedReply* r, std::string* err) {
    Obj o(v, "reply", err);
    o.OptU32("code", &r->code);
    if (const Value* x = o.Get("payload")) {
        Bytes b;
        if (!ParsePayload(*x, &b, err)) return false;
        r->payload = std::move(b);
    }
    if (const Value* x = o.Get("head")) {
        if (!ParseHeadOverride(*x, &r->head, err)) return false;
    }
    o.U32("delayMs", &r->delayMs);
    o.Bool("noReply", &r->noReply);
    o.Bool("closeAfterHead", &r->closeAfterHead);
    o.Bool("closeAfter", &r->closeAfter);
    o.Bool("resetAfter", &r->resetAfter);
    o.Bool("trickle", &r->trickle);
    o.U32("trickleMs", &r->trickleMs);
    o.OptU32("truncateTo", &r->truncateTo);
    o.OptU32("announceLen", &r->announceLen);
    o.OptU32("lateAfterMs", &r->lateAfterMs);
    o.Bool("repeat", &r->repeat);
    if (!o.ok()) return false;
    if (!ParsePacketList(o.Get("extraBefore"), &r->extraBefore, "extraBefore", err)) return false;
    if (!ParsePacketList(o.Get("series"), &r->series, "series", err)) return false;
    return o.Done();
}

Scenario DefaultScenario() {
    Scenario s;
    s.gateways = {{"192.0.2.10", 443, 35, 0, true},
                  {"192.0.2.11", 443, 12, 0, true},
                  {"192.0.2.12", 8443, 80, 0, true}};
    s.credentials = {DefaultCredential("alice", "success"),
                     DefaultCredential("bob", "firstLogin"),
                     DefaultCredential("carol", "token"),
                     DefaultCredential("dave", "locked"),
                     DefaultCredential("erin", "wrongPassword"),
                     DefaultCredential("frank", "untrustedCert")};
    s.credentials[0].cert = "alice@example";
    s.credentials[2].token = "123456";
    s.certificates = {{"alice@example", "CERT:alice@example"}};
    s.ipsecSteps.clear();
    for (uint32_t c : kIpsecGoodSeries) s.ipsecSteps.push_back(ScriptedPacket{c, {}, {}, 0});

    Record cfg(rec::kSysConfig);
    cfg.SetText("ProductName", "VanTrelo");
    cfg.SetText("Version", "7.0.2.33");
    cfg.SetU32("CheckVersion", 1);
    cfg.SetU32("LanguageID", 2052);
    cfg.SetU32("ServerCheck", 1);
    s.sysConfig = cfg.Wire();

    // The demo profiles are records the profile dialog could have written, so that a
    // user can open one, change it and save it. The dialog empties the address field
    // once it has put the address into the gateway list, and keeps the port there.
    Record ssl(rec::kSslProfile);
    ssl.SetU32("uiLinkType", 1);
    ssl.SetU32("uiHeadWord2", 1);
    ssl.SetText("acDescription", "Office gateway");
    ssl.SetU32("uiPort", 443);
    ssl.SetU32("uiTunnelMode", 2);
    ssl.SetU32("uiAutoBest", 1);
    ssl.SetU32("uiGatewayNum", 2);
    ssl.SetU32("uiDefaultGateway", 0);
    ssl.SetText("astGateway[0].acAddress", "192.0.2.10");
    ssl.SetU32("astGateway[0].uiPort", 443);
    ssl.SetText("astGateway[1].acAddress", "192.0.2.11");
    ssl.SetU32("astGateway[1].uiPort", 443);
    s.profiles.push_back(ProfileSpec{"Office.ini", 1, ssl.Wire(), {}});

    Record ipsec(rec::kIpsecProfile);
    ipsec.SetU32("uiLinkType", 2);
    ipsec.SetText("acDescription", "Branch office");
    ipsec.SetText("acLnsServer", "192.0.2.20");
    ipsec.SetText("acTunnelName", "branch");
    ipsec.SetU32("uiIpsecEnable", 1);
    ipsec.SetU32("uiAuthMethod", 1);
    ipsec.SetText("acPreSharedKey", "sharedkey");
    ipsec.SetU32("uiUseLnsAddress", 1);
    ipsec.SetU32("uiNegoMode", 2);
    ipsec.SetU32("uiDhGroup", 2);
    ipsec.SetU32("uiIkeAuthAlgo", 2);
    ipsec.SetU32("uiIkeEncryAlgo", 5);
    ipsec.SetU32("uiEspAuthAlgo", 0x00020000);
    ipsec.SetU32("uiEspEncryAlgo", 0x01000000);
    ipsec.SetU32("uiIkeSaLifetime", 86400);
    ipsec.SetU32("uiIpsecSaLifetime", 3600);
    s.profiles.push_back(ProfileSpec{"Branch.ini", 2, ipsec.Wire(), {}});
    return s;
}

bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, &text, kMaxScenarioBytes)) {
        *error = "cannot read scenario file " + path;
        return false;
    }
    return ParseScenario(text, out, error);
}

namespace {

bool ParsePromote(const Value& v, Scenario* s, std::string* err) {
    Obj o(v, "promote", err);
    o.Bool("listen", &s->promoteListen);
    o.Port("port", &s->promotePort);
    o.OptU32("exitAfterStartMs", &s->exitAfterStartMs);
    if (const Value* x = o.Get("portReply")) {
        ScriptedReply r;
        if (x->IsString() && std::string(x->GetString()) == "none") {
            r.noReply = true;
        } else if (!ParseScriptedReply(*x, &r, err)) {
            return false;
        }
        s->portReply = r;
    }
    return o.Done();
}

bool ParseCredential(const Value& v, Credential* c, std::string* err) {
    Obj o(v, "credential", err);
    o.Str("user", &c->user);
    o.Str("password", &c->password);
    o.Str("outcome", &c->outcome);
    o.Str("token", &c->token);
    o.Str("cert", &c->cert);
    o.U32("hostCheck", &c->hostCheck);
    o.U32("cacheClear", &c->cacheClear);
    o.U32("modifyPwd", &c->modifyPwd);
    o.U32("alarmNotice", &c->alarmNotice);
    o.Int("alarmDays", &c->alarmDays);
    o.U32("userId", &c->userId);
    o.U32("sessionId", &c->sessionId);
    o.Str("cookie", &c->cookie);
    o.Str("url", &c->url);
    if (!o.Done()) return false;
    static const std::set<std::string> kOutcomes = {
        "success", "firstLogin", "token", "locked", "wrongPassword", "untrustedCert",
        "expireStrong", "expireWeak", "certError", "deviceReject", "pluginRegion"};
    if (!kOutcomes.count(c->outcome)) {
        *err = "credential " + c->user + ": unknown outcome " + c->outcome;
        return false;
    }
    return true;
}

bool ParseEngine(const Value& v, Scenario* s, std::string* err) {
    Obj o(v, "engine", err);
    o.Port("port", &s->enginePort);
    o.U32("authType", &s->authType);
    o.U32("verification", &s->verification);
    o.U32("versionMS", &s->versionMS);
    o.U32("versionLS", &s->versionLS);
    o.Str("packageUrl", &s->packageUrl);
    if (!o.ok()) return false;
    if (const Value* x = o.Get("gateways")) {
        if (!x->IsArray()) return o.Fail("gateways: array expected");
        s->gateways.clear();
        for (const Value& e : x->GetArray()) {
            GatewayEntry g;
            Obj go(e, "gateway", err);
            go.Str("address", &g.address);
            go.U32("port", &g.port);
            go.U32("delay", &g.delay);
            go.U32("flag", &g.flag);
            go.Bool("reachable", &g.reachable);
            if (!go.Done()) return false;
            s->gateways.push_back(g);
        }
        if (s->gateways.size() > 16) return o.Fail("gateways: at most 16");
    }
    if (const Value* x = o.Get("credentials")) {
        if (!x->IsArray()) return o.Fail("credentials: array expected");
        s->credentials.clear();
        for (const Value& e : x->GetArray()) {
            Credential c;
            if (!ParseCredential(e, &c, err)) return false;
            s->credentials.push_back(c);
        }
    }
    if (const Value* x = o.Get("certificates")) {
        if (!x->IsArray()) return o.Fail("certificates: array expected");
        s->certificates.clear();
        for (const Value& e : x->GetArray()) {
            CertEntry c;
            Obj co(e, "certificate", err);
            co.Str("name", &c.name);
            co.Str("text", &c.text);
            if (!co.Done()) return false;
            if (c.name.size() > 131 || c.text.size() > 1023)
                return o.Fail("certificate texts longer than their fields");
            s->certificates.push_back(c);
        }
        if (s->certificates.size() > 32) return o.Fail("certificates: at most 32");
    }
    if (const Value* x = o.Get("passwordPolicy")) {
        Obj po(*x, "passwordPolicy", err);
        po.U32("minLength", &s->policy.minLength);
        po.U32("maxLength", &s->policy.maxLength);
        po.U32("minDigits", &s->policy.minDigits);
        po.U32("minLetters", &s->policy.minLetters);
        po.U32("mixedCase", &s->policy.mixedCase);
        po.U32("newOldDiffer", &s->policy.newOldDiffer);
        po.U32("namePwdDiffer", &s->policy.namePwdDiffer);
        if (!po.Done()) return false;
    }
    if (const Value* x = o.Get("ipsec")) {
        Obj io(*x, "ipsec", err);
        io.U32("stepDelayMs", &s->ipsecStepDelayMs);
        if (!io.ok()) return false;
        if (!ParsePacketList(io.Get("steps"), &s->ipsecSteps, "ipsec.steps", err)) return false;
        if (!io.Done()) return false;
    }
    return o.Done();
}

bool ParseProfiles(const Value& v, Scenario* s, std::string* err) {
    if (!v.IsArray()) {
        *err = "profiles: array expected";
        return false;
    }
    s->profiles.clear();
    for (const Value& e : v.GetArray()) {
        ProfileSpec p;
        Obj o(e, "profile", err);
        o.Str("name", &p.name);
        o.U32("linkType", &p.linkType);
        const Value* fields = o.Get("fields");
        const Value* session = o.Get("session");
        if (!o.Done()) return false;
        if (p.linkType != 1 && p.linkType != 2) {
            *err = "profile " + p.name + ": linkType 1 or 2 expected";
            return false;
        }
        const RecordDesc& d = p.linkType == 1 ? rec::kSslProfile : rec::kIpsecProfile;
        Record r(d);
        r.SetU32("uiLinkType", p.linkType);
        if (p.linkType == 1) r.SetU32("uiHeadWord2", 1);
        if (fields != nullptr && !r.ApplyJson(*fields, err)) return false;
        p.record = r.Wire();
        if (session != nullptr) {
            Record sr(rec::kSessionHost);
            if (!sr.ApplyJson(*session, err)) return false;
            p.sessionFields = sr.Wire();
        }
        s->profiles.push_back(std::move(p));
    }
    return true;
}

bool ParseScripts(const Value& v, Scenario* s, std::string* err) {
    if (!v.IsArray()) {
        *err = "scripts: array expected";
        return false;
    }
    for (const Value& e : v.GetArray()) {
        Obj o(e, "script", err);
        uint32_t type = 0, code = 0;
        o.U32("msgType", &type);
        o.U32("code", &code);
        const Value* replies = o.Get("replies");
        if (!o.Done()) return false;
        if (replies == nullptr || !replies->IsArray()) {
            *err = "script: replies array expected";
            return false;
        }
        auto& q = s->scripts[{type, code}];
        for (const Value& r : replies->GetArray()) {
            ScriptedReply sr;
            if (!ParseScriptedReply(r, &sr, err)) return false;
            q.push_back(std::move(sr));
        }
    }
    return true;
}

bool ParseEvents(const Value& v, Scenario* s, std::string* err) {
    if (!v.IsArray()) {
        *err = "events: array expected";
        return false;
    }
    for (const Value& e : v.GetArray()) {
        if (!e.IsObject() || !e.HasMember("conn") || !e["conn"].IsString()) {
            *err = "event: conn \"async\" or \"promote\" expected";
            return false;
        }
        EventSpec ev;
        ev.conn = e["conn"].GetString();
        if (ev.conn != "async" && ev.conn != "promote") {
            *err = "event: conn \"async\" or \"promote\" expected";
            return false;
        }
        rapidjson::Document rest;
        rest.CopyFrom(e, rest.GetAllocator());
        rest.RemoveMember("conn");
        if (!ParseScriptedPacket(rest, &ev.packet, err)) return false;
        s->events.push_back(std::move(ev));
    }
    return true;
}

bool ParseHttps(const Value& v, Scenario* s, std::string* err) {
    Obj o(v, "https", err);
    s->httpsEnabled = true;
    o.Port("port", &s->httpsPort);
    const Value* files = o.Get("files");
    if (!o.Done()) return false;
    if (files == nullptr) return true;
    if (!files->IsArray()) {
        *err = "https.files: array expected";
        return false;
    }
    static const std::set<std::string> kModes = {"normal", "headWithBody", "splitHead",
                                                 "noLength", "notFound", "gzip",
                                                 "closeMidBody", "stall"};
    for (const Value& e : files->GetArray()) {
        HttpsFile f;
        Obj fo(e, "https file", err);
        fo.Str("path", &f.path);
        fo.Str("file", &f.file);
        fo.Str("mode", &f.mode);
        fo.U32("firstBodyBytes", &f.firstBodyBytes);
        fo.U32("splitAt", &f.splitAt);
        fo.U32("splitDelayMs", &f.splitDelayMs);
        fo.U32("closeAfterBytes", &f.closeAfterBytes);
        fo.U32("stallAfterBytes", &f.stallAfterBytes);
        fo.U32("stallMs", &f.stallMs);
        if (!fo.Done()) return false;
        if (!kModes.count(f.mode)) {
            *err = "https file " + f.path + ": unknown mode " + f.mode;
            return false;
        }
        s->httpsFiles.push_back(f);
    }
    return true;
}

}  // namespace

bool ParseScenario(const std::string& json, Scenario* s, std::string* err) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError()) {
        *err = std::string("scenario is not JSON: ") + rapidjson::GetParseError_En(doc.GetParseError()) +
               " at offset " + std::to_string(doc.GetErrorOffset());
        return false;
    }
    Obj o(doc, "scenario", err);
    o.Str("requestLog", &s->requestLog);
    o.Str("portsFile", &s->portsFile);
    o.OptU32("controlPort", &s->controlPort, 65535);
    if (const Value* x = o.Get("state")) {
        if (x->IsNull()) {
            s->stateFile = std::string();
        } else if (x->IsString() && x->GetStringLength() > 0) {
            s->stateFile = std::string(x->GetString(), x->GetStringLength());
        } else {
            *err = "scenario: state: a file name or null expected";
            return false;
        }
    }
    if (!o.ok()) return false;
    if (const Value* x = o.Get("promote")) {
        if (!ParsePromote(*x, s, err)) return false;
    }
    if (const Value* x = o.Get("engine")) {
        if (!ParseEngine(*x, s, err)) return false;
    }
    if (const Value* x = o.Get("config")) {
        if (!BuildRecord(rec::kSysConfig, x, &s->sysConfig, err)) return false;
    }
    if (const Value* x = o.Get("profiles")) {
        if (!ParseProfiles(*x, s, err)) return false;
    }
    if (const Value* x = o.Get("scripts")) {
        if (!ParseScripts(*x, s, err)) return false;
    }
    if (const Value* x = o.Get("events")) {
        if (!ParseEvents(*x, s, err)) return false;
    }
    if (const Value* x = o.Get("update")) {
        Obj uo(*x, "update", err);
        uo.Bool("run", &s->updateRun);
        uo.Str("program", &s->updateProgram);
        uo.Str("flag", &s->updateFlag);
        if (!uo.Done()) return false;
    }
    if (const Value* x = o.Get("https")) {
        if (!ParseHttps(*x, s, err)) return false;
    }
    return o.Done();
}

}  // namespace sim
