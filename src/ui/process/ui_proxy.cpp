// Reading the system proxy settings: the kind of configuration, the manual proxies, the
// exceptions and the auto-configuration URL, from the settings dictionary; the proxy
// the proxy dialog can offer; and the proxy part of the fault report.

#include "ui_proxy.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "jqr_mem.h"
#include "ui_common.h"
#include "ui_proxy_inner.h"
#include "uko_secfunc.h"

namespace {

constexpr uint32_t kLogProxy = 16;  // "PROXY"

// Longest path the report file may have, and the size of one formatted line.
constexpr size_t kPathMax = 1024;
constexpr size_t kLineSize = 2048;

// An ideographic comma (U+3001) in UTF-8: some input methods type it for the list's
// separator.
constexpr char kIdeographicComma[] = "\xE3\x80\x81";

struct DictRelease {
    void operator()(ProxyDict* d) const { delete d; }
};

// A flag of the settings that reads as the number 1.
bool FlagOn(const ProxyDict* pstSettings, const char* pcKey) {
    int32_t v = 0;
    return UI_ProxyDict_GetInt(pstSettings, pcKey, &v) == 0 && v == 1;
}

struct ManualProxy {
    const char* pcEnable;
    const char* pcHost;
    const char* pcPort;
    size_t uiHostOffset;
    size_t uiPortOffset;
    const char* pcLogFormat;
};

const ManualProxy kManual[] = {
    {PROXY_KEY_HTTP_ENABLE, PROXY_KEY_HTTP_HOST, PROXY_KEY_HTTP_PORT,
     offsetof(SystemProxyInfo, acHttpProxy), offsetof(SystemProxyInfo, usHttpPort),
     "[Get proxy][http host is %s, port is %d]"},
    {PROXY_KEY_HTTPS_ENABLE, PROXY_KEY_HTTPS_HOST, PROXY_KEY_HTTPS_PORT,
     offsetof(SystemProxyInfo, acHttpsProxy), offsetof(SystemProxyInfo, usHttpsPort),
     "[Get proxy][https host is %s, port is %d]"},
    {PROXY_KEY_FTP_ENABLE, PROXY_KEY_FTP_HOST, PROXY_KEY_FTP_PORT,
     offsetof(SystemProxyInfo, acFtpProxy), offsetof(SystemProxyInfo, usFtpPort),
     "[Get proxy][ftp host is %s, port is %d]"},
    {PROXY_KEY_SOCKS_ENABLE, PROXY_KEY_SOCKS_HOST, PROXY_KEY_SOCKS_PORT,
     offsetof(SystemProxyInfo, acSocksProxy), offsetof(SystemProxyInfo, usSocksPort),
     "[Get proxy][socks host is %s, port is %d]"},
};

void FreeBypass(SystemProxyInfo* pstInfo) {
    if (pstInfo->pcBypassList != nullptr) {
        (void)UKO_Free(pstInfo->pcBypassList);
        pstInfo->pcBypassList = nullptr;
    }
}

// One formatted line of the report file; false when it cannot be written.
bool WriteLine(FILE* file, const char* format, const char* text, int port) {
    char line[kLineSize];
    const int n = UKO_sprintf_s(line, sizeof(line), format, text, port);
    return n >= 0 && std::fputs(line, file) >= 0;
}

}  // namespace

const ProxyValue* UI_ProxyDict_GetValue(const ProxyDict* pstSettings, const char* pcKey) {
    if (pstSettings == nullptr || pcKey == nullptr) {
        return nullptr;
    }
    const auto it = pstSettings->mEntries.find(pcKey);
    if (it == pstSettings->mEntries.end()) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][no key]");
        return nullptr;
    }
    return &it->second;
}

uint32_t UI_ProxyDict_GetInt(const ProxyDict* pstSettings, const char* pcKey, int32_t* piValue) {
    if (piValue == nullptr) {
        return 1;
    }
    *piValue = 0;
    const ProxyValue* v = UI_ProxyDict_GetValue(pstSettings, pcKey);
    if (v == nullptr || v->bList || v->strText.empty()) {
        return 1;
    }
    const char* text = v->strText.c_str();
    if (!(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) {
        return 1;
    }
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    if (errno != 0 || end != text + v->strText.size() || n < INT32_MIN || n > INT32_MAX) {
        return 1;
    }
    *piValue = static_cast<int32_t>(n);
    return 0;
}

uint32_t UI_ProxyDict_GetString(const ProxyDict* pstSettings, const char* pcKey, char* pcBuffer,
                                long lSize) {
    if (pcBuffer == nullptr || lSize <= 0) {
        return 1;
    }
    pcBuffer[0] = '\0';
    const ProxyValue* v = UI_ProxyDict_GetValue(pstSettings, pcKey);
    if (v == nullptr || v->bList || v->strText.size() >= static_cast<unsigned long>(lSize)) {
        return 1;
    }
    std::memcpy(pcBuffer, v->strText.c_str(), v->strText.size() + 1);
    return 0;
}

uint32_t UI_ProxyBypass_Get(const ProxyDict* pstSettings, const char* pcKey, char** ppcList) {
    if (ppcList == nullptr) {
        return 1;
    }
    *ppcList = nullptr;
    const ProxyValue* v = UI_ProxyDict_GetValue(pstSettings, pcKey);
    if (v == nullptr) {
        return 1;
    }
    if (!v->bList) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_ERROR, "[Get proxy failed][reason:get cs string error]");
        return 1;
    }
    std::string joined;
    try {
        for (size_t i = 0; i < v->vItems.size(); ++i) {
            if (i != 0) {
                joined += ';';
            }
            joined += v->vItems[i];
        }
        for (size_t at = joined.find(kIdeographicComma); at != std::string::npos;
             at = joined.find(kIdeographicComma, at + 1)) {
            joined.replace(at, sizeof(kIdeographicComma) - 1, ";");
        }
    } catch (const std::bad_alloc&) {
        joined.clear();
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_ERROR, "[Get proxy failed][reason:OUT OF MEMEORY]");
        return 1;
    }
    char* list = static_cast<char*>(UKO_Malloc(UI_MEM_ID, joined.size() + 1));
    if (list == nullptr) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_ERROR, "[Get proxy failed][reason:OUT OF MEMEORY]");
        return 1;
    }
    std::memset(list, 0, joined.size() + 1);
    std::memcpy(list, joined.data(), joined.size());
    *ppcList = list;
    return 0;
}

uint32_t UI_ProxyManual_Get(SystemProxyInfo* pstInfo, const ProxyDict* pstSettings) {
    if (pstInfo == nullptr || pstSettings == nullptr) {
        return 1;
    }
    (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][begin get manual proxy]");
    uint32_t counted = 0;
    auto* base = reinterpret_cast<unsigned char*>(pstInfo);
    for (const ManualProxy& m : kManual) {
        if (!FlagOn(pstSettings, m.pcEnable)) {
            continue;
        }
        char* host = reinterpret_cast<char*>(base + m.uiHostOffset);
        (void)UI_ProxyDict_GetString(pstSettings, m.pcHost, host, SYSTEM_PROXY_TEXT_SIZE);
        int32_t port = 0;
        (void)UI_ProxyDict_GetInt(pstSettings, m.pcPort, &port);
        // A port that the 16-bit field cannot hold would become another, wrong port.
        const uint16_t stored = (port >= 0 && port <= 0xFFFF) ? static_cast<uint16_t>(port) : 0;
        std::memcpy(base + m.uiPortOffset, &stored, sizeof(stored));
        ++counted;
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, m.pcLogFormat, host, static_cast<int>(stored));
    }
    pstInfo->uiProxyType = counted != 0 ? SYSTEM_PROXY_MANUAL : SYSTEM_PROXY_NONE;
    return 0;
}

uint32_t UI_SystemProxy_Get(SystemProxyInfo* pstInfo) {
    if (pstInfo == nullptr) {
        return 1;
    }
    (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][begin get current proxy using  api]");
    std::memset(pstInfo, 0, sizeof(*pstInfo));
    pstInfo->uiProxyType = SYSTEM_PROXY_NONE;

    std::unique_ptr<ProxyDict, DictRelease> settings(uiProxySettingsCopy());
    (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][get proxy dic]");
    if (settings == nullptr || settings->mEntries.size() < 2) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_WARN,
                           "[Get proxy][check the system setting, api get no proxy]");
        return 0;
    }
    const ProxyDict* dict = settings.get();

    if (FlagOn(dict, PROXY_KEY_AUTO_DISCOVERY_ENABLE)) {
        pstInfo->uiProxyType = SYSTEM_PROXY_AUTO_DISCOVERY;
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_WARN, "[Get proxy][auto discovery proxy]");
        return 0;
    }

    (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][begin judge pac]");
    bool pacUsable = false;
    if (FlagOn(dict, PROXY_KEY_AUTO_CONFIG_ENABLE)) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][get pac path]");
        pacUsable = UI_ProxyDict_GetString(dict, PROXY_KEY_AUTO_CONFIG_URL, pstInfo->acPacUrl,
                                           sizeof(pstInfo->acPacUrl)) == 0 &&
                    pstInfo->acPacUrl[0] != '\0';
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][auto pac is %s]", pstInfo->acPacUrl);
    }

    (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][begin judge simple host]");
    pstInfo->uiExcludeSimpleHost = FlagOn(dict, PROXY_KEY_EXCLUDE_SIMPLE_HOSTS) ? 1 : 0;
    (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, pstInfo->uiExcludeSimpleHost != 0
                                                    ? "[Get proxy][exclude simple host]"
                                                    : "[Get proxy][not exclude simple host]");

    (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][begin judge ftppassive]");
    pstInfo->uiFtpPassive = FlagOn(dict, PROXY_KEY_FTP_PASSIVE) ? 1 : 0;
    (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO,
                       pstInfo->uiFtpPassive != 0 ? "[Get proxy][ftp passive]" : "[Get proxy][not ftp passive]");

    (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][begin get bypass]");
    if (UI_ProxyBypass_Get(dict, PROXY_KEY_EXCEPTIONS, &pstInfo->pcBypassList) == 0 &&
        pstInfo->pcBypassList != nullptr) {
        // The whole list, not a search in it: "*.local" among other hosts is not the
        // local-only setting.
        pstInfo->uiBypassLocal = std::strcmp(pstInfo->pcBypassList, "*.local") == 0 ? 1 : 0;
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, pstInfo->uiBypassLocal != 0
                                                        ? "[Get proxy][pass local]"
                                                        : "[Get proxy][not bypass local]");
    }

    (void)DDM_LogWrite(kLogProxy, DDM_LOG_DEBUG, "[Get proxy][begin get manual]");
    (void)UI_ProxyManual_Get(pstInfo, dict);

    if (pacUsable) {
        if (std::strstr(pstInfo->acPacUrl, "file://") != nullptr) {
            pstInfo->uiProxyType = SYSTEM_PROXY_PAC_FILE;
            (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][local pac]");
        } else {
            pstInfo->uiProxyType = SYSTEM_PROXY_PAC_URL;
            (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][remote pac]");
        }
    } else {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_INFO, "[Get proxy][manual proxy]");
    }
    return 0;
}

uint32_t UI_ProxyServerText_Get(char* pcText, uint32_t uiSize, uint16_t* pusPort) {
    if (pcText == nullptr || pusPort == nullptr) {
        return 1;
    }
    std::memset(pcText, 0, uiSize);
    *pusPort = 0;
    SystemProxyInfo info;
    if (UI_SystemProxy_Get(&info) != 0) {
        FreeBypass(&info);
        return 1;
    }
    FreeBypass(&info);
    if (info.uiProxyType == SYSTEM_PROXY_AUTO_DISCOVERY) {
        (void)DDM_LogWrite(kLogProxy, DDM_LOG_WARN, "[Get proxy][Auto discovery proxy]");
    }
    // The dialog knows only the SOCKS5 and HTTPS kinds; an HTTP proxy is offered as the
    // HTTPS kind. FTP and the auto-configuration URL are never offered.
    const struct {
        const char* pcHost;
        uint16_t usPort;
        const char* pcLabel;
    } candidates[] = {
        {info.acSocksProxy, info.usSocksPort, "Socks5:"},
        {info.acHttpsProxy, info.usHttpsPort, "Https:"},
        {info.acHttpProxy, info.usHttpPort, "Https:"},
    };
    for (const auto& c : candidates) {
        // A host whose labelled text does not fit is passed over, rather than offered
        // as an empty text with its port.
        if (c.pcHost[0] == '\0' || std::strlen(c.pcLabel) + std::strlen(c.pcHost) >= uiSize) {
            continue;
        }
        if (UKO_sprintf_s(pcText, uiSize, "%s%s", c.pcLabel, c.pcHost) < 0) {
            std::memset(pcText, 0, uiSize);
            continue;
        }
        *pusPort = c.usPort;
        return 0;
    }
    return 0;
}

uint32_t UI_ProxyServerInfo_Get(char* pcText, uint32_t uiSize, uint16_t* pusPort, void* pReserved,
                                uint32_t* puiFound) {
    if (pcText == nullptr || pusPort == nullptr || pReserved == nullptr || puiFound == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Process get proxy server info][invalid parameter!]", UI_LOG_TAG);
        return 1;
    }
    if (UI_ProxyServerText_Get(pcText, uiSize, pusPort) == 0) {
        *puiFound = 1;
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_INFO,
                           "[%lu][Process get proxy server info][get SystemProxy info success !]",
                           UI_LOG_TAG);
        return 0;
    }
    *puiFound = 0;
    (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                       "[%lu][Process get proxy server info][get SystemProxy info error !]", UI_LOG_TAG);
    return 1;
}

uint32_t UI_ProxyInfo_Write(const char* pcPath) {
    if (pcPath == nullptr || std::strlen(pcPath) > kPathMax) {
        return 1;
    }
    SystemProxyInfo info;
    if (UI_SystemProxy_Get(&info) != 0) {
        FreeBypass(&info);
        return 1;
    }
    FILE* file = std::fopen(pcPath, "we");
    if (file == nullptr) {
        FreeBypass(&info);
        return 1;
    }
    const char* kind = "none\n";
    switch (info.uiProxyType) {
        case SYSTEM_PROXY_AUTO_DISCOVERY: kind = "auto discovery proxy\n"; break;
        case SYSTEM_PROXY_PAC_FILE:
        case SYSTEM_PROXY_PAC_URL: kind = "pac\n"; break;
        case SYSTEM_PROXY_MANUAL: kind = "manual\n"; break;
        default: break;
    }
    bool ok = std::fputs("proxy type is :", file) >= 0 && std::fputs(kind, file) >= 0;
    if (info.uiProxyType != SYSTEM_PROXY_NONE && info.uiProxyType != SYSTEM_PROXY_AUTO_DISCOVERY) {
        if (info.acPacUrl[0] != '\0') {
            char line[kLineSize];
            ok = ok && UKO_sprintf_s(line, sizeof(line), "pac path is :%s\n", info.acPacUrl) >= 0 &&
                 std::fputs(line, file) >= 0;
        }
        const struct {
            const char* pcFormat;
            const char* pcHost;
            uint16_t usPort;
        } lines[] = {
            {"HttpProxy %s:%d\n", info.acHttpProxy, info.usHttpPort},
            {"HttpsProxy %s:%d\n", info.acHttpsProxy, info.usHttpsPort},
            {"FtpProxy %s:%d\n", info.acFtpProxy, info.usFtpPort},
            {"SocksProxy %s:%d\n", info.acSocksProxy, info.usSocksPort},
        };
        for (const auto& l : lines) {
            if (l.pcHost[0] != '\0') {
                ok = ok && WriteLine(file, l.pcFormat, l.pcHost, l.usPort);
            }
        }
        ok = ok && std::fputs("\n", file) >= 0;
        // The list has no bound: it is written as it is, not through a line buffer.
        if (info.pcBypassList != nullptr && info.pcBypassList[0] != '\0') {
            ok = ok && std::fputs("bypass is :\n", file) >= 0 &&
                 std::fputs(info.pcBypassList, file) >= 0 && std::fputs("\n", file) >= 0;
        }
    }
    FreeBypass(&info);
    // A file cut short by a failed write is not reported as written.
    ok = (std::fclose(file) == 0) && ok;
    return ok ? 0 : 1;
}
