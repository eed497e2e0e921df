#include "sim_records.h"

#include <cstring>
#include <vector>

namespace sim {
namespace rec {
namespace {

using K = FieldKind;

constexpr FieldDesc U32B(const char* n, uint32_t off, uint32_t count = 1) {
    return {n, off, K::U32BE, 4, count};
}
constexpr FieldDesc U32L(const char* n, uint32_t off, uint32_t count = 1) {
    return {n, off, K::U32LE, 4, count};
}
constexpr FieldDesc Txt(const char* n, uint32_t off, uint32_t width, uint32_t count = 1) {
    return {n, off, K::Text, width, count};
}
constexpr FieldDesc Raw(const char* n, uint32_t off, uint32_t width) {
    return {n, off, K::Raw, width, 1};
}
constexpr FieldDesc Arr(const char* n, uint32_t off, const RecordDesc* el, uint32_t stride,
                        uint32_t count, const char* countField = nullptr) {
    return {n, off, K::Array, stride, count, el, countField};
}

template <size_t N>
constexpr RecordDesc Make(const char* name, uint32_t size, const FieldDesc (&f)[N]) {
    return {name, size, f, uint32_t(N)};
}

const FieldDesc kGatewayBEFields[] = {
    Txt("acAddress", 0, 128), U32B("uiPort", 128), U32B("uiDelay", 132), U32B("uiFlag", 136)};
const FieldDesc kGatewayHostFields[] = {
    Txt("acAddress", 0, 128), U32L("uiPort", 128), U32L("uiDelay", 132), U32L("uiFlag", 136)};
const FieldDesc kRouteFields[] = {U32B("uiAddress", 0), U32B("uiMask", 4)};

#define SESSION_FIELDS(U)                                                             \
    {U("ConnectionType", 0), U("RemPwd", 4), U("AutoLogin", 8),                       \
     Txt("LastLoginAddr", 12, 144), Txt("ProfileName", 156, 133),                     \
     Txt("UserName", 289, 256), Txt("Password", 545, 128), Raw("Pad", 673, 3)}
const FieldDesc kSessionBEFields[] = SESSION_FIELDS(U32B);
const FieldDesc kSessionHostFields[] = SESSION_FIELDS(U32L);
#undef SESSION_FIELDS

}  // namespace

const RecordDesc kGatewayBE = Make("UIGATEWAY_INFO_S", 140, kGatewayBEFields);
const RecordDesc kGatewayHost = Make("UIGATEWAY_INFO_S(host)", 140, kGatewayHostFields);
const RecordDesc kRouteBE = Make("CFM_IPSEC_ROUTE_S", 8, kRouteFields);
const RecordDesc kSessionBE = Make("CFM_SESSION_S", 676, kSessionBEFields);
const RecordDesc kSessionHost = Make("CFM_SESSION_S(host)", 676, kSessionHostFields);

namespace {
const FieldDesc kSysConfigFields[] = {
    Txt("ProductName", 0, 16),         Txt("Version", 16, 32),
    Txt("Customized", 48, 16),         U32B("SpareValue", 64),
    U32L("CheckVersion", 68),          U32L("AutoBoot", 72),
    U32B("LanguageID", 76),            U32L("ServerCheck", 80),
    U32L("ShowLogflag", 84),           Txt("LastAccessSession", 88, 133),
    Raw("Pad", 221, 3),                U32B("ProxyType", 224),
    Txt("ProxyAddr", 228, 128),        U32B("ProxyPort", 356),
    Txt("ProxyUser", 360, 256),        Txt("ProxyPwd", 616, 128),
    Arr("Sessions", 744, &kSessionHost, 676, 16)};

const FieldDesc kSslProfileFields[] = {
    U32B("uiLinkType", 0),           U32B("uiHeadWord1", 4),
    U32B("uiHeadWord2", 8),          Txt("acDescription", 12, 256),
    Raw("aucReserved1", 268, 4),     U32B("uiGmAlgorithm", 272),
    Raw("aucReserved2", 276, 133),   Txt("acGatewayAddress", 409, 128),
    Raw("aucPad", 537, 3),           U32B("uiPort", 540),
    U32B("uiDelay", 544),            U32B("uiFlag", 548),
    U32B("uiTunnelMode", 552),       U32B("uiAutoBest", 556),
    U32B("uiGatewayNum", 560),       U32B("uiDefaultGateway", 564),
    Arr("astGateway", 568, &kGatewayBE, 140, 16, "uiGatewayNum"),
    U32B("uiReserved3", 2808),       Raw("aucReserved4", 2812, 128),
    U32B("uiReserved5", 2940),       Raw("aucReserved6", 2944, 384)};

const FieldDesc kIpsecProfileFields[] = {
    U32B("uiLinkType", 0),              U32B("uiHeadWord1", 4),
    Txt("acDescription", 8, 256),       Txt("acLnsServer", 264, 128),
    U32B("uiIpsecEnable", 392),         U32B("uiAuthMethod", 396),
    Txt("acPreSharedKey", 400, 128),    Raw("aucReserved1", 528, 128),
    Txt("acTunnelName", 656, 128),      U32B("uiPppAuthMode", 784),
    U32B("uiTunnelAuth", 788),          Txt("acTunnelPassword", 792, 128),
    U32B("uiRouteMode", 920),           Txt("acDnsSuffix", 924, 64),
    U32B("uiRouteNum", 988),
    Arr("astRoute", 992, &kRouteBE, 8, 64, "uiRouteNum"),
    Txt("acIpsecServer", 1504, 128),    U32B("uiUseLnsAddress", 1632),
    U32B("uiEncapMode", 1636),          U32B("uiReserved2", 1640),
    U32B("uiReserved3", 1644),          U32B("uiEspAuthAlgo", 1648),
    U32B("uiEspEncryAlgo", 1652),       Txt("acLocalGatewayName", 1656, 512),
    Txt("acRemoteGatewayName", 2168, 512), U32B("uiIkeAuthAlgo", 2680),
    U32B("uiIkeEncryAlgo", 2684),       U32B("uiNegoMode", 2688),
    U32B("uiIdType", 2692),             U32B("uiDhGroup", 2696),
    U32B("auiReserved4", 2700, 4),      U32B("uiPfsEnable", 2716),
    U32B("uiPfsGroup", 2720),           U32B("uiIkeSaLifetime", 2724),
    U32B("uiIpsecSaLifetime", 2728)};

const FieldDesc kSslLoginFields[] = {
    U32L("uiDeviceCACheck", 0),     U32L("uiAuthType", 4),
    U32L("uiSavePass", 8),          U32L("uiLoginType", 12),
    U32L("uiLanguage", 16),         Txt("acCertName", 20, 1024),
    Txt("acGateway", 1044, 256),    Txt("acUserName", 1300, 384),
    Txt("acPassword", 1684, 128),   Raw("aucReserved", 1812, 32),
    Txt("acProfileName", 1844, 133), Raw("aucPad", 1977, 3)};

const FieldDesc kDynamicCodeFields[] = {U32L("uiAuthType", 0), Txt("acDynamicCode", 4, 128)};

const FieldDesc kSslLoginRetFields[] = {
    U32B("auiUnused", 0, 4),      U32B("uiHostCheck", 16), U32B("uiCacheClear", 20),
    U32B("uiModifyPwd", 24),      {"usAlarmNotice", 28, K::U16BE, 2, 1},
    {"sAlarmTime", 30, K::I16BE, 2, 1}};

const FieldDesc kIpsecLoginFields[] = {
    U32L("uiSavePass", 0),          Txt("acServerAddr", 4, 256),
    Txt("acUserName", 260, 384),    Txt("acPassword", 644, 128),
    Txt("acCertName", 772, 1024),   Txt("acProfileName", 1796, 133),
    Raw("aucPad", 1929, 3)};

const FieldDesc kFirstConnFields[] = {
    U32L("uiLanguage", 0),          Txt("acGateway", 4, 256),
    U32L("uiAutoBest", 260),
    Arr("astGateway", 264, &kGatewayHost, 140, 16),
    U32L("uiGatewayNum", 2504),     U32L("uiDefaultGateway", 2508)};

const FieldDesc kFirstConnectConfFields[] = {
    U32B("uiAuthType", 0),          U32B("uiVerification", 4),
    U32B("uiVersionMS", 8),         U32B("uiVersionLS", 12),
    Txt("acBestGateway", 16, 128),  U32B("uiBestPort", 144),
    U32B("uiBestDelay", 148),       U32B("uiBestFlag", 152),
    Txt("acPackage", 156, 256)};

const FieldDesc kSiteListFields[] = {Arr("astGateway", 0, &kGatewayHost, 140, 16)};

const FieldDesc kLinkSelectFields[] = {
    U32L("uiEnable", 0), Txt("acIp", 4, 128), U32L("uiPort", 132)};
const FieldDesc kLinkSelectReplyFields[] = {
    U32B("uiResult", 0), Txt("acIp", 4, 128), U32B("uiPort", 132)};

const FieldDesc kPwdModifyFields[] = {Txt("acOldPwd", 0, 128), Txt("acNewPwd", 128, 128)};

const FieldDesc kPwdPolicyFields[] = {
    U32B("uiMinLength", 0),   U32B("uiMaxLength", 4),  U32B("uiMinDigits", 8),
    U32B("uiMinLetters", 12), U32B("uiMixedCase", 16), U32B("uiNewOldDiffer", 20),
    U32B("uiNamePwdDiffer", 24)};

const FieldDesc kCertInfoFields[] = {
    Txt("acCertText", 0, 1024, 32), Txt("acCertName", 32768, 132, 32),
    U32L("uiCertNum", 36992)};

const FieldDesc kPluginLoginReplyFields[] = {
    U32B("uiUserID", 0), U32B("uiSessionID", 4), Txt("aucCookie", 8, 64),
    Txt("acUrlLocation", 72, 1024)};

const FieldDesc kProfileOutputFields[] = {
    Txt("acProfileName", 0, 133), Txt("acOutputPath", 133, 1024)};

const FieldDesc kRemotePortRequestFields[] = {
    Txt("acUserName", 0, 32), Txt("acInstallPath", 32, 1024)};

const FieldDesc kUpdateStartFields[] = {
    Txt("acUpdateProgram", 0, 1024), Txt("acPackagePath", 1024, 1024),
    Txt("acDownloadUrl", 2048, 256), Txt("acLoginName", 2304, 32),
    Raw("aucZero", 2336, 1)};

const FieldDesc kTunnelModeFields[] = {U32B("uiTunnelMode", 0)};
const FieldDesc kLinkTypeFields[] = {U32B("uiLinkType", 0)};
const FieldDesc kEnginePortFields[] = {U32B("uiPort", 0)};

const FieldDesc kPluginLoginPayloadFields[] = {
    Txt("acUserName", 0, 384), Txt("acPassword", 384, 128), Txt("acVerifyCode", 512, 256)};

const FieldDesc kPluginTipFields[] = {U32B("cFlag", 0), Txt("cTip", 4, 1024)};

const FieldDesc kPluginLoginRetFields[] = {
    U32B("uiUserID", 0),   U32B("uiSessionID", 4), Txt("aucCookie", 8, 64),
    Txt("acUrlLocation", 72, 1024), U32B("cFlag", 1096), Txt("cTip", 1100, 1024)};

const FieldDesc kPluginInfoFields[] = {
    U32B("uiUserID", 0),          U32B("uiSessionID", 4),
    Txt("aucCookie", 8, 64),      Txt("acUserName", 72, 384),
    Txt("acLoginAddr", 456, 128), Raw("aucZero1", 584, 384),
    {"ucTunnelStarted", 968, K::U8, 1, 1}, Raw("aucZero2", 969, 3),
    Raw("aucReserved", 972, 32),  U32B("uiValue", 1004),
    Raw("aucZero3", 1008, 1024)};
}  // namespace

const RecordDesc kSysConfig = Make("CFM_SYSCONFIG_S", 11560, kSysConfigFields);
const RecordDesc kSslProfile = Make("CFM_SSL_PROFILE_S", 3328, kSslProfileFields);
const RecordDesc kIpsecProfile = Make("CFM_IPSEC_PROFILE_S", 2732, kIpsecProfileFields);
const RecordDesc kSslLogin = Make("UI_SSL_LOGIN_S", 1980, kSslLoginFields);
const RecordDesc kDynamicCode = Make("UI_DYNAMIC_CODE_S", 132, kDynamicCodeFields);
const RecordDesc kSslLoginRet = Make("UI_SSL_LOGIN_RET_S", 32, kSslLoginRetFields);
const RecordDesc kIpsecLogin = Make("UI_IPSEC_LOGIN_S", 1932, kIpsecLoginFields);
const RecordDesc kFirstConn = Make("UISSL_FIRST_CONN", 2512, kFirstConnFields);
const RecordDesc kFirstConnectConf =
    Make("UIFIRST_CONNECT_CONF_S", 412, kFirstConnectConfFields);
const RecordDesc kSiteList = Make("SiteList", 2240, kSiteListFields);
const RecordDesc kLinkSelect = Make("LinkSelectInfo", 136, kLinkSelectFields);
const RecordDesc kLinkSelectReply = Make("LinkSelectInfoReply", 136, kLinkSelectReplyFields);
const RecordDesc kPwdModify = Make("PwdModifyInfo", 256, kPwdModifyFields);
const RecordDesc kPwdPolicy = Make("UI_PWD_POLICY_S", 28, kPwdPolicyFields);
const RecordDesc kCertInfo = Make("UI_CERT_INFO_S", 36996, kCertInfoFields);
const RecordDesc kPluginLoginReply = Make("PluginLoginReply", 1096, kPluginLoginReplyFields);
const RecordDesc kProfileOutput = Make("ProfileOutputInfo", 1157, kProfileOutputFields);
const RecordDesc kRemotePortRequest =
    Make("RemotePortRequest", 1056, kRemotePortRequestFields);
const RecordDesc kUpdateStart = Make("UIUPDATE_START_S", 2337, kUpdateStartFields);
const RecordDesc kTunnelMode = Make("TunnelMode", 4, kTunnelModeFields);
const RecordDesc kLinkType = Make("LinkType", 4, kLinkTypeFields);
const RecordDesc kEnginePort = Make("EnginePort", 4, kEnginePortFields);
const RecordDesc kPluginLoginPayload =
    Make("PluginLoginPayload", 768, kPluginLoginPayloadFields);
const RecordDesc kPluginTip = Make("PluginTip", 1028, kPluginTipFields);
const RecordDesc kPluginLoginRet = Make("UI_PLUGIN_LOGIN_RET_S", 2124, kPluginLoginRetFields);
const RecordDesc kPluginInfo = Make("PluginInfo", 2032, kPluginInfoFields);

}  // namespace rec

namespace {

const RecordDesc* const kAllRecords[] = {
    &rec::kGatewayBE,        &rec::kGatewayHost,     &rec::kRouteBE,
    &rec::kSessionBE,        &rec::kSessionHost,     &rec::kSysConfig,
    &rec::kSslProfile,       &rec::kIpsecProfile,    &rec::kSslLogin,
    &rec::kDynamicCode,      &rec::kSslLoginRet,     &rec::kIpsecLogin,
    &rec::kFirstConn,        &rec::kFirstConnectConf, &rec::kSiteList,
    &rec::kLinkSelect,       &rec::kLinkSelectReply, &rec::kPwdModify,
    &rec::kPwdPolicy,        &rec::kCertInfo,        &rec::kPluginLoginReply,
    &rec::kProfileOutput,    &rec::kRemotePortRequest, &rec::kUpdateStart,
    &rec::kTunnelMode,       &rec::kLinkType,        &rec::kEnginePort,
    &rec::kPluginLoginPayload, &rec::kPluginTip,     &rec::kPluginLoginRet,
    &rec::kPluginInfo};

const FieldDesc* FindField(const RecordDesc& d, const std::string& name) {
    for (uint32_t i = 0; i < d.fieldCount; ++i) {
        if (name == d.fields[i].name) return &d.fields[i];
    }
    return nullptr;
}

bool IsScalar(FieldKind k) {
    return k == FieldKind::U8 || k == FieldKind::U16BE || k == FieldKind::I16BE ||
           k == FieldKind::U32BE || k == FieldKind::U32LE;
}

// Entries of an array that travel in the element's own order: the count field of
// the containing record, read big-endian, never more than the array holds.
uint32_t CountAt(const Bytes& b, const RecordDesc& container, uint32_t base,
                 const FieldDesc& array) {
    if (array.countField == nullptr) return array.count;
    const FieldDesc* cf = FindField(container, array.countField);
    if (cf == nullptr) return 0;
    uint32_t n = GetBE32(&b[base + cf->offset]);
    return n < array.count ? n : array.count;
}

uint32_t ReadScalar(const Bytes& b, FieldKind k, uint32_t off, bool memoryOrder) {
    const uint8_t* p = &b[off];
    switch (k) {
    case FieldKind::U8: return p[0];
    case FieldKind::U16BE:
    case FieldKind::I16BE: return memoryOrder ? uint32_t(p[0] | (p[1] << 8)) : GetBE16(p);
    case FieldKind::U32BE: return memoryOrder ? GetLE32(p) : GetBE32(p);
    case FieldKind::U32LE: return GetLE32(p);
    default: return 0;
    }
}

void WriteScalar(Bytes& b, FieldKind k, uint32_t off, bool memoryOrder, uint32_t v) {
    uint8_t* p = &b[off];
    switch (k) {
    case FieldKind::U8: p[0] = uint8_t(v); break;
    case FieldKind::U16BE:
    case FieldKind::I16BE:
        if (memoryOrder) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
        else PutBE16(p, uint16_t(v));
        break;
    case FieldKind::U32BE:
        if (memoryOrder) PutLE32(p, v); else PutBE32(p, v);
        break;
    case FieldKind::U32LE: PutLE32(p, v); break;
    default: break;
    }
}

std::string ReadText(const Bytes& b, uint32_t off, uint32_t width) {
    const char* p = reinterpret_cast<const char*>(&b[off]);
    size_t n = 0;
    while (n < width && p[n] != '\0') ++n;
    return std::string(p, n);
}

bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra;
        if (c < 0x80) extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2) extra = 1;
        else if ((c & 0xF0) == 0xE0) extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4) extra = 3;
        else return false;
        if (extra > 0 && i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

using Alloc = rapidjson::Document::AllocatorType;

}  // namespace

rapidjson::Value TextJson(const std::string& t, Alloc& a) {
    if (ValidUtf8(t)) return rapidjson::Value(t.c_str(), rapidjson::SizeType(t.size()), a);
    rapidjson::Value o(rapidjson::kObjectType);
    std::string hex = ToHex(reinterpret_cast<const uint8_t*>(t.data()), t.size());
    o.AddMember("hex", rapidjson::Value(hex.c_str(), a), a);
    return o;
}

namespace {

rapidjson::Value ScalarJson(FieldKind k, uint32_t v) {
    if (k == FieldKind::I16BE) return rapidjson::Value(int(int16_t(uint16_t(v))));
    return rapidjson::Value(v);
}

rapidjson::Value RecordJson(const Bytes& b, const RecordDesc& d, uint32_t base,
                            bool memoryOrder, Alloc& a);

rapidjson::Value ElementJson(const Bytes& b, const RecordDesc& d, uint32_t base,
                             const FieldDesc& f, uint32_t i, bool memoryOrder, Alloc& a) {
    uint32_t off = base + f.offset + i * f.width;
    switch (f.kind) {
    case FieldKind::Text: return TextJson(ReadText(b, off, f.width), a);
    case FieldKind::Raw: {
        std::string hex = ToHex(&b[off], f.width);
        return rapidjson::Value(hex.c_str(), a);
    }
    case FieldKind::Array: {
        bool beyond = f.countField != nullptr && i >= CountAt(b, d, base, f);
        return RecordJson(b, *f.element, off, memoryOrder || beyond, a);
    }
    default: return ScalarJson(f.kind, ReadScalar(b, f.kind, off, memoryOrder));
    }
}

rapidjson::Value RecordJson(const Bytes& b, const RecordDesc& d, uint32_t base,
                            bool memoryOrder, Alloc& a) {
    rapidjson::Value o(rapidjson::kObjectType);
    for (uint32_t fi = 0; fi < d.fieldCount; ++fi) {
        const FieldDesc& f = d.fields[fi];
        rapidjson::Value v;
        if (f.count == 1 && f.kind != FieldKind::Array) {
            v = ElementJson(b, d, base, f, 0, memoryOrder, a);
        } else {
            v.SetArray();
            for (uint32_t i = 0; i < f.count; ++i) {
                v.PushBack(ElementJson(b, d, base, f, i, memoryOrder, a), a);
            }
        }
        o.AddMember(rapidjson::StringRef(f.name), v, a);
    }
    return o;
}

bool JsonToU32(const rapidjson::Value& v, FieldKind k, uint32_t* out) {
    if (v.IsUint()) { *out = v.GetUint(); return true; }
    if (v.IsInt() && k == FieldKind::I16BE) { *out = uint32_t(v.GetInt()); return true; }
    if (v.IsInt()) { *out = uint32_t(v.GetInt()); return true; }
    if (v.IsString()) return ParseU32(v.GetString(), out);
    if (v.IsBool()) { *out = v.GetBool() ? 1 : 0; return true; }
    return false;
}

bool SetElement(Bytes& b, const FieldDesc& f, uint32_t off, bool memoryOrder,
                const rapidjson::Value& v, std::string* err);
bool ApplyRecord(Bytes& b, const RecordDesc& d, uint32_t base, bool memoryOrder,
                 const rapidjson::Value& fields, std::string* err);

bool WriteTextBytes(Bytes& b, uint32_t off, uint32_t width, const std::string& t) {
    if (t.size() > width) return false;
    std::memset(&b[off], 0, width);
    std::memcpy(&b[off], t.data(), t.size());
    return true;
}

bool SetElement(Bytes& b, const FieldDesc& f, uint32_t off, bool memoryOrder,
                const rapidjson::Value& v, std::string* err) {
    switch (f.kind) {
    case FieldKind::Text: {
        std::string t;
        if (v.IsString()) {
            t.assign(v.GetString(), v.GetStringLength());
        } else if (v.IsObject() && v.HasMember("hex") && v["hex"].IsString()) {
            Bytes raw;
            if (!FromHex(v["hex"].GetString(), &raw)) {
                *err = std::string(f.name) + ": bad hex";
                return false;
            }
            t.assign(raw.begin(), raw.end());
        } else {
            *err = std::string(f.name) + ": text expected";
            return false;
        }
        if (!WriteTextBytes(b, off, f.width, t)) {
            *err = std::string(f.name) + ": text longer than its field";
            return false;
        }
        return true;
    }
    case FieldKind::Raw: {
        Bytes raw;
        if (!v.IsString() || !FromHex(v.GetString(), &raw) || raw.size() > f.width) {
            *err = std::string(f.name) + ": hex of at most the field's width expected";
            return false;
        }
        std::memset(&b[off], 0, f.width);
        std::copy(raw.begin(), raw.end(), b.begin() + off);
        return true;
    }
    case FieldKind::Array:
        *err = std::string(f.name) + ": an entry must be set through its fields";
        return false;
    default: {
        uint32_t x;
        if (!JsonToU32(v, f.kind, &x)) {
            *err = std::string(f.name) + ": number expected";
            return false;
        }
        WriteScalar(b, f.kind, off, memoryOrder, x);
        return true;
    }
    }
}

bool ApplyArray(Bytes& b, const RecordDesc& d, uint32_t base, bool memoryOrder,
                const FieldDesc& f, const rapidjson::Value& v, std::string* err) {
    if (!v.IsArray() || v.Size() > f.count) {
        *err = std::string(f.name) + ": array of at most " + std::to_string(f.count) +
               " entries expected";
        return false;
    }
    for (rapidjson::SizeType i = 0; i < v.Size(); ++i) {
        const rapidjson::Value& e = v[i];
        if (e.IsNull()) continue;
        uint32_t off = base + f.offset + i * f.width;
        if (f.kind == FieldKind::Array) {
            bool beyond = f.countField != nullptr && i >= CountAt(b, d, base, f);
            if (!e.IsObject()) {
                *err = std::string(f.name) + ": entry objects expected";
                return false;
            }
            if (!ApplyRecord(b, *f.element, off, memoryOrder || beyond, e, err)) return false;
        } else if (!SetElement(b, f, off, memoryOrder, e, err)) {
            return false;
        }
    }
    return true;
}

bool ApplyRecord(Bytes& b, const RecordDesc& d, uint32_t base, bool memoryOrder,
                 const rapidjson::Value& fields, std::string* err) {
    if (!fields.IsObject()) {
        *err = std::string(d.name) + ": object of fields expected";
        return false;
    }
    // Plain fields first, so that a count set in the same object decides the byte
    // order of the entries set after it.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = fields.MemberBegin(); it != fields.MemberEnd(); ++it) {
            std::string name(it->name.GetString(), it->name.GetStringLength());
            const FieldDesc* f = FindField(d, name);
            if (f == nullptr) {
                if (pass == 0) {
                    *err = std::string(d.name) + ": no field " + name;
                    return false;
                }
                continue;
            }
            bool many = f->count > 1 || f->kind == FieldKind::Array;
            if ((pass == 0) == many) continue;
            bool ok = many ? ApplyArray(b, d, base, memoryOrder, *f, it->value, err)
                           : SetElement(b, *f, base + f->offset, memoryOrder, it->value, err);
            if (!ok) return false;
        }
    }
    return true;
}

}  // namespace

const RecordDesc* FindRecord(const std::string& name) {
    for (const RecordDesc* d : kAllRecords) {
        if (name == d->name) return d;
    }
    return nullptr;
}

Record::Record(const RecordDesc& desc) : desc_(&desc), bytes_(desc.size, 0) {}

Record::Record(const RecordDesc& desc, const uint8_t* data, size_t len)
    : desc_(&desc), bytes_(desc.size, 0) {
    if (len > desc.size) len = desc.size;
    if (len > 0) std::memcpy(bytes_.data(), data, len);
}

bool Record::Resolve(const std::string& path, FieldRef* ref) const {
    const RecordDesc* d = desc_;
    uint32_t base = 0;
    bool memoryOrder = false;
    size_t pos = 0;
    while (true) {
        size_t end = path.find_first_of("[.", pos);
        std::string name = path.substr(pos, end == std::string::npos ? std::string::npos
                                                                      : end - pos);
        const FieldDesc* f = FindField(*d, name);
        if (f == nullptr) return false;
        bool indexed = false;
        uint32_t index = 0;
        pos = end;
        if (pos != std::string::npos && path[pos] == '[') {
            size_t close = path.find(']', pos);
            if (close == std::string::npos) return false;
            if (!ParseU32(path.substr(pos + 1, close - pos - 1), &index)) return false;
            if (index >= f->count) return false;
            indexed = true;
            pos = close + 1;
            if (pos == path.size()) pos = std::string::npos;
        }
        bool last = pos == std::string::npos;
        if (!last && path[pos] != '.') return false;
        if (f->kind == FieldKind::Array) {
            if (!indexed || last) {
                ref->field = f;
                ref->offset = base + f->offset + index * f->width;
                ref->memoryOrder = memoryOrder;
                ref->whole = true;
                return last;
            }
            bool beyond = f->countField != nullptr && index >= CountAt(bytes_, *d, base, *f);
            memoryOrder = memoryOrder || beyond;
            base += f->offset + index * f->width;
            d = f->element;
            pos += 1;
            continue;
        }
        if (!last) return false;
        ref->field = f;
        ref->offset = base + f->offset + index * f->width;
        ref->memoryOrder = memoryOrder;
        ref->whole = f->count > 1 && !indexed;
        return true;
    }
}

bool Record::GetU32(const std::string& path, uint32_t* v) const {
    FieldRef r;
    if (!Resolve(path, &r) || r.whole || !IsScalar(r.field->kind)) return false;
    *v = ReadScalar(bytes_, r.field->kind, r.offset, r.memoryOrder);
    return true;
}

uint32_t Record::U32(const std::string& path) const {
    uint32_t v = 0;
    return GetU32(path, &v) ? v : 0;
}

bool Record::SetU32(const std::string& path, uint32_t v) {
    FieldRef r;
    if (!Resolve(path, &r) || r.whole || !IsScalar(r.field->kind)) return false;
    WriteScalar(bytes_, r.field->kind, r.offset, r.memoryOrder, v);
    return true;
}

bool Record::GetText(const std::string& path, std::string* v) const {
    FieldRef r;
    if (!Resolve(path, &r) || r.whole || r.field->kind != FieldKind::Text) return false;
    *v = ReadText(bytes_, r.offset, r.field->width);
    return true;
}

std::string Record::Text(const std::string& path) const {
    std::string v;
    return GetText(path, &v) ? v : std::string();
}

bool Record::SetText(const std::string& path, const std::string& v) {
    FieldRef r;
    if (!Resolve(path, &r) || r.whole || r.field->kind != FieldKind::Text) return false;
    return WriteTextBytes(bytes_, r.offset, r.field->width, v);
}

rapidjson::Value Record::ToJson(Alloc& alloc) const {
    return RecordJson(bytes_, *desc_, 0, false, alloc);
}

bool Record::ApplyJson(const rapidjson::Value& fields, std::string* error) {
    std::string scratch;
    std::string* err = error != nullptr ? error : &scratch;
    if (!fields.IsObject()) {
        *err = "object of fields expected";
        return false;
    }
    // Paths ("astGateway[1].uiPort") after the named fields.
    rapidjson::Document plain;
    plain.SetObject();
    std::vector<std::pair<std::string, const rapidjson::Value*>> paths;
    for (auto it = fields.MemberBegin(); it != fields.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        if (name.find_first_of("[.") != std::string::npos) {
            paths.emplace_back(name, &it->value);
        } else {
            rapidjson::Value copy(it->value, plain.GetAllocator());
            plain.AddMember(rapidjson::Value(name.c_str(), plain.GetAllocator()), copy,
                            plain.GetAllocator());
        }
    }
    if (!ApplyRecord(bytes_, *desc_, 0, false, plain, err)) return false;
    for (const auto& p : paths) {
        FieldRef r;
        if (!Resolve(p.first, &r) || r.whole) {
            *err = std::string(desc_->name) + ": no field " + p.first;
            return false;
        }
        if (!SetElement(bytes_, *r.field, r.offset, r.memoryOrder, *p.second, err)) return false;
    }
    return true;
}

uint32_t BoundedCount(const Record& r, const FieldDesc& array) {
    return CountAt(r.Wire(), r.Desc(), 0, array);
}

}  // namespace sim
