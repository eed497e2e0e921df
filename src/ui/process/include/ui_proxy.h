#pragma once
// The system's proxy settings, as the proxy dialog offers them and the fault report
// records them.
//
// The settings are read into a small dictionary (ProxyDict, keys below) filled by the
// desktop's proxy settings or, without those, the proxy environment variables; the
// reading runs over that dictionary, so it is the same whatever filled it. Log lines go
// to module 16 ("PROXY"), the proxy-server look-up's own to module 0 ("UI").

#include <cstddef>
#include <cstdint>

enum SystemProxyType : uint32_t {
    SYSTEM_PROXY_NONE = 0,
    SYSTEM_PROXY_AUTO_DISCOVERY = 0x1003,  // automatic discovery; nothing else is read
    SYSTEM_PROXY_MANUAL = 0x1012,          // HTTP, HTTPS, FTP or SOCKS on, no usable URL
    SYSTEM_PROXY_PAC_FILE = 0x1101,        // auto-configuration from a "file://" URL
    SYSTEM_PROXY_PAC_URL = 0x1102,         // auto-configuration from any other URL
};

// Size of every text field of the record.
constexpr size_t SYSTEM_PROXY_TEXT_SIZE = 256;

// One reading of the system proxy; cleared before each reading.
struct SystemProxyInfo {
    uint32_t uiProxyType;                       // SystemProxyType
    char acHttpProxy[SYSTEM_PROXY_TEXT_SIZE];   // hosts, UTF-8; empty when off
    char acHttpsProxy[SYSTEM_PROXY_TEXT_SIZE];
    char acFtpProxy[SYSTEM_PROXY_TEXT_SIZE];
    char acSocksProxy[SYSTEM_PROXY_TEXT_SIZE];
    uint16_t usHttpPort;
    uint16_t usHttpsPort;
    uint16_t usFtpPort;
    uint16_t usSocksPort;
    // Hosts that bypass the proxy joined with ";", from UKO_Malloc; whoever consumes the
    // record frees it with UKO_Free. NULL when the system has no list.
    char* pcBypassList;
    uint32_t uiBypassLocal;        // 1: the whole list is "*.local"
    uint32_t uiFtpPassive;         // 1: FTP passive mode
    uint32_t uiExcludeSimpleHost;  // 1: simple host names are not proxied
    char acPacUrl[SYSTEM_PROXY_TEXT_SIZE];  // auto-configuration URL, UTF-8
};

// The settings dictionary: each key holds a text or a list of texts. Flags and ports
// are decimal texts ("1" is on).
struct ProxyDict;
struct ProxyValue;

constexpr char PROXY_KEY_AUTO_DISCOVERY_ENABLE[] = "auto-discovery.enable";
constexpr char PROXY_KEY_AUTO_CONFIG_ENABLE[] = "auto-config.enable";
constexpr char PROXY_KEY_AUTO_CONFIG_URL[] = "auto-config.url";
constexpr char PROXY_KEY_EXCLUDE_SIMPLE_HOSTS[] = "exclude-simple-hosts";
constexpr char PROXY_KEY_FTP_PASSIVE[] = "ftp.passive";
constexpr char PROXY_KEY_EXCEPTIONS[] = "exceptions";  // a list
constexpr char PROXY_KEY_HTTP_ENABLE[] = "http.enable";
constexpr char PROXY_KEY_HTTP_HOST[] = "http.host";
constexpr char PROXY_KEY_HTTP_PORT[] = "http.port";
constexpr char PROXY_KEY_HTTPS_ENABLE[] = "https.enable";
constexpr char PROXY_KEY_HTTPS_HOST[] = "https.host";
constexpr char PROXY_KEY_HTTPS_PORT[] = "https.port";
constexpr char PROXY_KEY_FTP_ENABLE[] = "ftp.enable";
constexpr char PROXY_KEY_FTP_HOST[] = "ftp.host";
constexpr char PROXY_KEY_FTP_PORT[] = "ftp.port";
constexpr char PROXY_KEY_SOCKS_ENABLE[] = "socks.enable";
constexpr char PROXY_KEY_SOCKS_HOST[] = "socks.host";
constexpr char PROXY_KEY_SOCKS_PORT[] = "socks.port";

// Reads the system proxy into the record: 0 (a system without proxy settings gives kind
// NONE), or 1 for a NULL record. The caller frees pcBypassList.
uint32_t UI_SystemProxy_Get(SystemProxyInfo* pstInfo);

// The HTTP, HTTPS, FTP and SOCKS proxies that are on, into the record, and the kind
// MANUAL when at least one is on, else NONE. 0, or 1 for a NULL argument. A port outside
// 0 to 65535 is stored as 0.
uint32_t UI_ProxyManual_Get(SystemProxyInfo* pstInfo, const ProxyDict* pstSettings);

// The list under the key joined with ";", every ideographic comma (U+3001) made a ";",
// into a new block from UKO_Malloc. 0, or 1 with *ppcList NULL when the key is absent,
// does not hold a list, or memory is short.
uint32_t UI_ProxyBypass_Get(const ProxyDict* pstSettings, const char* pcKey, char** ppcList);

// The value under the key, or NULL (absent key, NULL argument).
const ProxyValue* UI_ProxyDict_GetValue(const ProxyDict* pstSettings, const char* pcKey);
// The value as a 32-bit integer: 0, or 1 with *piValue 0 when the key is absent or its
// value is not a decimal integer in range.
uint32_t UI_ProxyDict_GetInt(const ProxyDict* pstSettings, const char* pcKey, int32_t* piValue);
// The value as a zero-terminated text in the buffer: 0, or 1 with the empty text when
// the key is absent, its value is a list, or the text does not fit in size bytes.
uint32_t UI_ProxyDict_GetString(const ProxyDict* pstSettings, const char* pcKey, char* pcBuffer,
                                long lSize);

// The proxy the proxy dialog can offer: the first host of SOCKS ("Socks5:<host>"),
// HTTPS or HTTP ("Https:<host>") whose text fits in size bytes, and its port. 0 with
// the text and port (or the empty text and port 0 when none is on), 1 for a NULL
// argument.
uint32_t UI_ProxyServerText_Get(char* pcText, uint32_t uiSize, uint16_t* pusPort);

// UI_ProxyServerText_Get with a flag: 0 and *puiFound 1 when a reading was made, 1 and
// *puiFound 0 when not; 1 with nothing set for any NULL argument. pReserved is not used.
uint32_t UI_ProxyServerInfo_Get(char* pcText, uint32_t uiSize, uint16_t* pusPort, void* pReserved,
                                uint32_t* puiFound);

// Writes the proxy settings as text into the file at path (created or emptied): 0, or
// 1 for a NULL path, a path of 1025 characters or more, a file that cannot be opened or
// a write that fails.
uint32_t UI_ProxyInfo_Write(const char* pcPath);
