// Where the system proxy settings come from: the desktop's settings program, else the
// proxy environment variables. Each source fills the same dictionary with the same key
// meanings, so the reading of the settings does not know which one filled it.
//
// The desktop's mode "none" is also what it answers when it was never set up, or when
// it runs without the user's session and shows its defaults; in that case the
// environment variables, which the user may have set instead, still decide.

#include <sys/wait.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ui_cmdrun_inner.h"
#include "ui_proxy_inner.h"

namespace {

std::atomic<UI_PROXY_SOURCE_PF> g_source{nullptr};

// The settings program's answers are short; anything longer is not one of them.
constexpr size_t kDesktopOutputMax = 64 * 1024;
constexpr int kDesktopTimeoutMs = 5000;
constexpr char kDesktopSchema[] = "org.gnome.system.proxy";

struct Protocol {
    const char* pcSchema;  // the desktop's child schema
    const char* pcLower;   // environment variables
    const char* pcUpper;
    const char* pcEnable;
    const char* pcHost;
    const char* pcPort;
    bool bSocksOnly;       // only a socks scheme names this proxy
};

constexpr Protocol kProtocols[] = {
    {"org.gnome.system.proxy.http", "http_proxy", "HTTP_PROXY", PROXY_KEY_HTTP_ENABLE,
     PROXY_KEY_HTTP_HOST, PROXY_KEY_HTTP_PORT, false},
    {"org.gnome.system.proxy.https", "https_proxy", "HTTPS_PROXY", PROXY_KEY_HTTPS_ENABLE,
     PROXY_KEY_HTTPS_HOST, PROXY_KEY_HTTPS_PORT, false},
    {"org.gnome.system.proxy.ftp", "ftp_proxy", "FTP_PROXY", PROXY_KEY_FTP_ENABLE,
     PROXY_KEY_FTP_HOST, PROXY_KEY_FTP_PORT, false},
    {"org.gnome.system.proxy.socks", "all_proxy", "ALL_PROXY", PROXY_KEY_SOCKS_ENABLE,
     PROXY_KEY_SOCKS_HOST, PROXY_KEY_SOCKS_PORT, true},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// A host that can stand in a log line and a line of the report file: no blank, no
// control character.
bool UsableHost(const std::string& host) {
    if (host.empty()) {
        return false;
    }
    for (unsigned char c : host) {
        if (c <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool PortInRange(int64_t port) { return port >= 1 && port <= 65535; }

// A decimal port text: digits only, 1 to 65535.
bool ParsePort(const std::string& text, int64_t* pPort) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    *pPort = v;
    return PortInRange(v);
}

void AppendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// A quoted text as the settings program prints it ('...' or "..." with backslash
// escapes), starting at *pPos; *pPos ends after the closing quote.
bool ParseQuoted(const std::string& s, size_t* pPos, std::string* out) {
    size_t i = *pPos;
    if (i >= s.size() || (s[i] != '\'' && s[i] != '"')) {
        return false;
    }
    const char quote = s[i++];
    out->clear();
    while (i < s.size()) {
        const char c = s[i++];
        if (c == quote) {
            *pPos = i;
            return true;
        }
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (i >= s.size()) {
            return false;
        }
        const char e = s[i++];
        size_t hexDigits = 0;
        switch (e) {
            case 'n': out->push_back('\n'); break;
            case 't': out->push_back('\t'); break;
            case 'r': out->push_back('\r'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'v': out->push_back('\v'); break;
            case 'u': hexDigits = 4; break;
            case 'U': hexDigits = 8; break;
            default: out->push_back(e); break;
        }
        if (hexDigits != 0) {
            if (i + hexDigits > s.size()) {
                return false;
            }
            uint32_t cp = 0;
            for (size_t k = 0; k < hexDigits; ++k) {
                const char h = s[i + k];
                if (!std::isxdigit(static_cast<unsigned char>(h))) {
                    return false;
                }
                cp = cp * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(h))
                                                         ? h - '0'
                                                         : std::tolower(h) - 'a' + 10);
            }
            if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                return false;
            }
            AppendUtf8(out, cp);
            i += hexDigits;
        }
    }
    return false;
}

// One value of the desktop's settings, as printed by "gsettings get".
bool DesktopGet(const char* pcSchema, const char* pcKey, std::string* pstrOut) {
    const char* const argv[] = {"gsettings", "get", pcSchema, pcKey, nullptr};
    int status = -1;
    if (uiChildCapture(argv, kDesktopOutputMax, true, kDesktopTimeoutMs, pstrOut, &status) !=
        UI_CHILD_OK) {
        return false;
    }
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool DesktopString(const char* pcSchema, const char* pcKey, std::string* pstrOut) {
    std::string raw;
    return DesktopGet(pcSchema, pcKey, &raw) && uiProxyVariantString(raw, pstrOut) == 0;
}

void SetOff(ProxyDict* d) {
    (void)uiProxyDictTextSet(d, PROXY_KEY_AUTO_DISCOVERY_ENABLE, "0");
    (void)uiProxyDictTextSet(d, PROXY_KEY_AUTO_CONFIG_ENABLE, "0");
    for (const Protocol& p : kProtocols) {
        (void)uiProxyDictTextSet(d, p.pcEnable, "0");
    }
}

void SetProxy(ProxyDict* d, const Protocol& p, const std::string& host, int64_t port) {
    (void)uiProxyDictTextSet(d, p.pcEnable, "1");
    (void)uiProxyDictTextSet(d, p.pcHost, host);
    (void)uiProxyDictTextSet(d, p.pcPort, std::to_string(port));
}

// The value of the lower-case variable, else of the upper-case one; empty when neither
// is set to something.
std::string EnvValue(const char* pcLower, const char* pcUpper) {
    const char* v = getenv(pcLower);
    if (v == nullptr || *v == '\0') {
        v = getenv(pcUpper);
    }
    return v != nullptr ? Trim(v) : std::string();
}

// "[scheme://][user[:password]@]host[:port][/...]": the scheme (lower case, empty when
// none is written), the host and the port (the scheme's usual port when none is
// written). The user part is dropped and never kept anywhere.
bool ParseProxyUrl(const std::string& value, std::string* pScheme, std::string* pHost,
                   int64_t* pPort) {
    std::string rest = value;
    pScheme->clear();
    const size_t sep = rest.find("://");
    if (sep != std::string::npos) {
        *pScheme = Lower(rest.substr(0, sep));
        rest = rest.substr(sep + 3);
    }
    int64_t defaultPort;
    if (pScheme->empty() || *pScheme == "http") {
        defaultPort = 80;
    } else if (*pScheme == "https") {
        defaultPort = 443;
    } else if (*pScheme == "socks" || *pScheme == "socks4" || *pScheme == "socks4a" ||
               *pScheme == "socks5" || *pScheme == "socks5h") {
        defaultPort = 1080;
    } else {
        return false;
    }
    std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority = authority.substr(at + 1);
    }
    std::string portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) {
            return false;
        }
        *pHost = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                return false;
            }
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = authority.rfind(':');
        if (colon != std::string::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        *pHost = authority.substr(0, colon);
    }
    if (!UsableHost(*pHost)) {
        return false;
    }
    if (!hasPort || portText.empty()) {
        *pPort = defaultPort;
        return true;
    }
    return ParsePort(portText, pPort);
}

bool IsSocksScheme(const std::string& scheme) { return scheme.compare(0, 5, "socks") == 0; }

}  // namespace

uint32_t uiProxyDictTextSet(ProxyDict* pstDict, const char* pcKey, const std::string& strText) {
    if (pstDict == nullptr || pcKey == nullptr) {
        return 1;
    }
    try {
        ProxyValue& v = pstDict->mEntries[pcKey];
        v.bList = false;
        v.vItems.clear();
        v.strText = strText;
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

uint32_t uiProxyDictListSet(ProxyDict* pstDict, const char* pcKey,
                            const std::vector<std::string>& vItems) {
    if (pstDict == nullptr || pcKey == nullptr) {
        return 1;
    }
    try {
        ProxyValue& v = pstDict->mEntries[pcKey];
        v.bList = true;
        v.strText.clear();
        v.vItems = vItems;
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

void uiProxySourceSet(UI_PROXY_SOURCE_PF pfnSource) { g_source.store(pfnSource); }

ProxyDict* uiProxySettingsCopy() {
    if (UI_PROXY_SOURCE_PF source = g_source.load()) {
        return source();
    }
    ProxyDict* dict = new (std::nothrow) ProxyDict;
    if (dict == nullptr) {
        return nullptr;
    }
    try {
        if (uiProxyDesktopRead(dict) == 0 || uiProxyEnvRead(dict) == 0) {
            return dict;
        }
    } catch (const std::bad_alloc&) {
    }
    delete dict;
    return nullptr;
}

uint32_t uiProxyDesktopRead(ProxyDict* pstDict) {
    if (pstDict == nullptr) {
        return 1;
    }
    std::string mode;
    if (!DesktopString(kDesktopSchema, "mode", &mode) || (mode != "auto" && mode != "manual")) {
        return 1;
    }
    ProxyDict d;
    SetOff(&d);
    std::string raw;
    std::vector<std::string> hosts;
    if (DesktopGet(kDesktopSchema, "ignore-hosts", &raw) && uiProxyVariantStrings(raw, &hosts) == 0) {
        (void)uiProxyDictListSet(&d, PROXY_KEY_EXCEPTIONS, hosts);
    }
    if (mode == "auto") {
        // Automatic mode without a configuration URL means discovery on the network.
        std::string url;
        if (DesktopString(kDesktopSchema, "autoconfig-url", &url) && !url.empty()) {
            (void)uiProxyDictTextSet(&d, PROXY_KEY_AUTO_CONFIG_ENABLE, "1");
            (void)uiProxyDictTextSet(&d, PROXY_KEY_AUTO_CONFIG_URL, url);
        } else {
            (void)uiProxyDictTextSet(&d, PROXY_KEY_AUTO_DISCOVERY_ENABLE, "1");
        }
    } else {
        for (const Protocol& p : kProtocols) {
            std::string host;
            int64_t port = 0;
            if (DesktopString(p.pcSchema, "host", &host) && UsableHost(host) &&
                DesktopGet(p.pcSchema, "port", &raw) && uiProxyVariantInt(raw, &port) == 0 &&
                PortInRange(port)) {
                SetProxy(&d, p, host, port);
            }
        }
    }
    pstDict->mEntries.swap(d.mEntries);
    return 0;
}

uint32_t uiProxyEnvRead(ProxyDict* pstDict) {
    if (pstDict == nullptr) {
        return 1;
    }
    const std::string exceptions = EnvValue("no_proxy", "NO_PROXY");
    bool any = !exceptions.empty();
    for (const Protocol& p : kProtocols) {
        any = any || !EnvValue(p.pcLower, p.pcUpper).empty();
    }
    if (!any) {
        return 1;
    }
    ProxyDict d;
    SetOff(&d);
    for (const Protocol& p : kProtocols) {
        std::string scheme, host;
        int64_t port = 0;
        const std::string value = EnvValue(p.pcLower, p.pcUpper);
        if (!value.empty() && ParseProxyUrl(value, &scheme, &host, &port) &&
            (!p.bSocksOnly || IsSocksScheme(scheme))) {
            SetProxy(&d, p, host, port);
        }
    }
    if (!exceptions.empty()) {
        std::vector<std::string> hosts;
        size_t start = 0;
        while (start <= exceptions.size()) {
            size_t end = exceptions.find(',', start);
            if (end == std::string::npos) {
                end = exceptions.size();
            }
            const std::string item = Trim(exceptions.substr(start, end - start));
            if (!item.empty()) {
                hosts.push_back(item);
            }
            start = end + 1;
        }
        (void)uiProxyDictListSet(&d, PROXY_KEY_EXCEPTIONS, hosts);
    }
    pstDict->mEntries.swap(d.mEntries);
    return 0;
}

uint32_t uiProxyVariantString(const std::string& strText, std::string* pstrOut) {
    if (pstrOut == nullptr) {
        return 1;
    }
    const std::string t = Trim(strText);
    size_t pos = 0;
    std::string value;
    if (!ParseQuoted(t, &pos, &value) || pos != t.size()) {
        return 1;
    }
    *pstrOut = value;
    return 0;
}

uint32_t uiProxyVariantStrings(const std::string& strText, std::vector<std::string>* pvOut) {
    if (pvOut == nullptr) {
        return 1;
    }
    std::string t = Trim(strText);
    if (t.compare(0, 4, "@as ") == 0) {
        t = Trim(t.substr(4));  // the type note of an empty list
    }
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') {
        return 1;
    }
    std::vector<std::string> items;
    size_t pos = 1;
    const size_t end = t.size() - 1;
    while (pos < end && IsBlank(t[pos])) ++pos;
    while (pos < end) {
        std::string item;
        if (!ParseQuoted(t, &pos, &item)) {
            return 1;
        }
        items.push_back(item);
        while (pos < end && IsBlank(t[pos])) ++pos;
        if (pos < end) {
            if (t[pos] != ',') {
                return 1;
            }
            ++pos;
            while (pos < end && IsBlank(t[pos])) ++pos;
            if (pos == end) {
                return 1;  // a comma with no item after it
            }
        }
    }
    pvOut->swap(items);
    return 0;
}

uint32_t uiProxyVariantInt(const std::string& strText, int64_t* plOut) {
    if (plOut == nullptr) {
        return 1;
    }
    std::string t = Trim(strText);
    // A type note such as "uint32 " may stand before the number.
    if (!t.empty() && std::isalpha(static_cast<unsigned char>(t[0]))) {
        const size_t blank = t.find(' ');
        if (blank == std::string::npos) {
            return 1;
        }
        t = Trim(t.substr(blank + 1));
    }
    if (t.empty() || t.size() > 20) {
        return 1;
    }
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end != t.c_str() + t.size() ||
        !(std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-')) {
        return 1;
    }
    *plOut = v;
    return 0;
}
