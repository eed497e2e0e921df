#pragma once
// The fixed-size records of the loopback protocol, each described once by a table of
// fields (offset, width, byte order). One generic codec walks these tables to read
// and write fields, to decode a record into JSON for the request log and to build a
// record from named fields for scripted replies, so the layouts cannot drift apart
// between those uses.
//
// Byte order is mixed by design: some integers travel big-endian, others exactly as
// the front end holds them in memory (little-endian). In the profile records only the
// gateway or route entries below the record's own count are big-endian; the entries
// beyond it travel untouched, in memory order.

#include <cstdint>
#include <string>

#include <rapidjson/document.h>

#include "sim_wire.h"

namespace sim {

enum class FieldKind {
    U8,
    U16BE,
    I16BE,
    U32BE,
    U32LE,
    Text,    // zero-terminated within its width (a full-width text has no terminator)
    Raw,     // opaque bytes, shown as hex
    Array,   // entries of a sub-record
};

struct RecordDesc;

struct FieldDesc {
    const char* name;
    uint32_t offset;
    FieldKind kind;
    uint32_t width;   // bytes of one element (Text/Raw: the field's width)
    uint32_t count;   // elements (1 for a plain field)
    const RecordDesc* element = nullptr;  // Array only
    // Array only: name of the big-endian count field that bounds the entries that
    // travel in the element's own order; entries at or beyond it travel in memory
    // order. Null when every entry travels in the element's order.
    const char* countField = nullptr;
};

struct RecordDesc {
    const char* name;
    uint32_t size;
    const FieldDesc* fields;
    uint32_t fieldCount;
};

// Every record of the protocol that the simulator reads or builds.
namespace rec {
extern const RecordDesc kGatewayBE;         // UIGATEWAY_INFO_S inside a profile
extern const RecordDesc kGatewayHost;       // UIGATEWAY_INFO_S in the site list and site request
extern const RecordDesc kRouteBE;           // CFM_IPSEC_ROUTE_S
extern const RecordDesc kSessionBE;         // CFM_SESSION_S sent on its own
extern const RecordDesc kSessionHost;       // CFM_SESSION_S inside the system configuration
extern const RecordDesc kSysConfig;         // CFM_SYSCONFIG_S
extern const RecordDesc kSslProfile;        // CFM_SSL_PROFILE_S
extern const RecordDesc kIpsecProfile;      // CFM_IPSEC_PROFILE_S
extern const RecordDesc kSslLogin;          // UI_SSL_LOGIN_S
extern const RecordDesc kDynamicCode;       // UI_DYNAMIC_CODE_S
extern const RecordDesc kSslLoginRet;       // UI_SSL_LOGIN_RET_S
extern const RecordDesc kIpsecLogin;        // UI_IPSEC_LOGIN_S
extern const RecordDesc kFirstConn;         // UISSL_FIRST_CONN
extern const RecordDesc kFirstConnectConf;  // UIFIRST_CONNECT_CONF_S
extern const RecordDesc kSiteList;          // 16 UIGATEWAY_INFO_S, memory order
extern const RecordDesc kLinkSelect;        // LinkSelectInfo request (memory order)
extern const RecordDesc kLinkSelectReply;   // LinkSelectInfo reply (big-endian)
extern const RecordDesc kPwdModify;         // PwdModifyInfo
extern const RecordDesc kPwdPolicy;         // UI_PWD_POLICY_S
extern const RecordDesc kCertInfo;          // UI_CERT_INFO_S
extern const RecordDesc kPluginLoginReply;  // PluginLoginReply
extern const RecordDesc kProfileOutput;     // ProfileOutputInfo
extern const RecordDesc kRemotePortRequest; // RemotePortRequest
extern const RecordDesc kUpdateStart;       // UIUPDATE_START_S
extern const RecordDesc kTunnelMode;        // tunnel-start payload: one big-endian word
extern const RecordDesc kLinkType;          // link-type payload: one big-endian word
extern const RecordDesc kEnginePort;        // port-reply payload: one big-endian word
extern const RecordDesc kPluginLoginPayload;// PluginLoginPayload
extern const RecordDesc kPluginTip;         // PluginTip
extern const RecordDesc kPluginLoginRet;    // UI_PLUGIN_LOGIN_RET_S
extern const RecordDesc kPluginInfo;        // PluginInfo
}  // namespace rec

// Looks a record up by its protocol name ("CFM_SYSCONFIG_S", "LinkSelectInfo" ...).
const RecordDesc* FindRecord(const std::string& name);

// Where a field path lands inside a record.
struct FieldRef {
    const FieldDesc* field = nullptr;
    uint32_t offset = 0;        // absolute offset of the addressed element
    bool memoryOrder = false;   // an entry beyond its array's count: integers little-endian
    bool whole = false;         // the path names a multi-element field as a whole
};

// A record held in its wire form. Reads and writes go through the field tables;
// a path is "Field", "Field[i]" or "Array[i].Field".
class Record {
public:
    explicit Record(const RecordDesc& desc);
    // Copies up to desc.size bytes of data; a shorter input leaves the rest zero.
    Record(const RecordDesc& desc, const uint8_t* data, size_t len);

    const RecordDesc& Desc() const { return *desc_; }
    const Bytes& Wire() const { return bytes_; }
    Bytes& MutableWire() { return bytes_; }

    bool Resolve(const std::string& path, FieldRef* ref) const;

    bool GetU32(const std::string& path, uint32_t* v) const;
    uint32_t U32(const std::string& path) const;  // 0 when the path does not resolve
    bool SetU32(const std::string& path, uint32_t v);
    bool GetText(const std::string& path, std::string* v) const;
    std::string Text(const std::string& path) const;
    // Writes the text and zero-fills the rest of the field. A text as long as the
    // field is stored without terminator; a longer one is refused.
    bool SetText(const std::string& path, const std::string& v);

    // The whole record as a JSON object, field by field.
    rapidjson::Value ToJson(rapidjson::Document::AllocatorType& alloc) const;
    // Sets the named fields (plain names, paths, or arrays of entry objects); numbers
    // may be JSON numbers or "0x.." texts, Raw fields hex texts. Unknown names fail.
    bool ApplyJson(const rapidjson::Value& fields, std::string* error);

private:
    const RecordDesc* desc_;
    Bytes bytes_;
};

// A text as JSON: a string when it is UTF-8, else {"hex": "..."} with its bytes, so
// that whatever a peer sends, a log line stays JSON.
rapidjson::Value TextJson(const std::string& text, rapidjson::Document::AllocatorType& a);

// Integer count of an array entry range that the record's count field allows,
// bounded by the array's own size whatever the count says.
uint32_t BoundedCount(const Record& r, const FieldDesc& array);

}  // namespace sim
