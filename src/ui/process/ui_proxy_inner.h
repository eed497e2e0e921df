#pragma once
// The proxy settings dictionary and the sources that fill it.

#include <map>
#include <string>
#include <vector>

#include "ui_proxy.h"

struct ProxyValue {
    bool bList = false;
    std::string strText;               // when not a list
    std::vector<std::string> vItems;   // when a list
};

struct ProxyDict {
    std::map<std::string, ProxyValue> mEntries;
};

// Builders; 0, or 1 for a NULL argument or short memory.
uint32_t uiProxyDictTextSet(ProxyDict* pstDict, const char* pcKey, const std::string& strText);
uint32_t uiProxyDictListSet(ProxyDict* pstDict, const char* pcKey,
                            const std::vector<std::string>& vItems);

// A new dictionary of the system's proxy settings, freed with delete; NULL when no
// source has any. The sources in order: the test's source when one is set; the
// desktop's settings when they name a proxy configuration (automatic or manual); the
// proxy environment variables when any is set.
ProxyDict* uiProxySettingsCopy();

// Test seam: a source that replaces all the others (NULL puts them back). It answers a
// new dictionary or NULL.
typedef ProxyDict* (*UI_PROXY_SOURCE_PF)();
void uiProxySourceSet(UI_PROXY_SOURCE_PF pfnSource);

// The desktop's proxy settings through the "gsettings" program on PATH (schema
// org.gnome.system.proxy and its children): 0 when its mode is "auto" or "manual" and
// the dictionary was filled; 1 (the dictionary untouched) when the program is missing,
// fails, or its mode is "none" or unknown. Credentials are never read.
uint32_t uiProxyDesktopRead(ProxyDict* pstDict);

// The proxy environment variables http_proxy, https_proxy, ftp_proxy, all_proxy (only a
// socks scheme) and no_proxy, the lower-case name first, then the upper-case one: 0
// when any of them is set, 1 when none is. A value is "[scheme://][user@]host[:port]";
// the user part is dropped; a value without a host, with a port outside 1 to 65535 or
// with another scheme than http, https and socks is passed over.
uint32_t uiProxyEnvRead(ProxyDict* pstDict);

// Parsers of the settings program's printed values. 0, or 1 when the text is not one.
uint32_t uiProxyVariantString(const std::string& strText, std::string* pstrOut);
uint32_t uiProxyVariantStrings(const std::string& strText, std::vector<std::string>* pvOut);
uint32_t uiProxyVariantInt(const std::string& strText, int64_t* plOut);
