// The preferred interface language from the environment.
//
// The question the front end asks is narrow: is the user's first language simplified
// or traditional Chinese? A locale name alone ("zh_TW.UTF-8") does not carry the
// script, so it is turned into a tag that does ("zh-Hant-TW") before the substring test
// that decides; tags that already carry one pass unchanged.

#include "ui_language.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

constexpr int kLanguageSimplified = 2052;
constexpr int kLanguageTraditional = 1028;

// Longest name looked at; longer environment values are not locale names.
constexpr size_t kNameMax = 255;

// The regions whose Chinese is written in each script.
constexpr const char* kSimplifiedRegions[] = {"CN", "SG"};
constexpr const char* kTraditionalRegions[] = {"TW", "HK", "MO"};

bool RegionIn(const std::string& region, const char* const* table, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (region == table[i]) {
            return true;
        }
    }
    return false;
}

// The first non-empty value among LANGUAGE's first entry, LC_ALL, LC_MESSAGES and LANG,
// as the C library looks for the messages' language.
std::string PreferredName() {
    if (const char* list = std::getenv("LANGUAGE")) {
        const char* p = list;
        while (*p != '\0') {
            const char* end = std::strchr(p, ':');
            const size_t len = end == nullptr ? std::strlen(p) : static_cast<size_t>(end - p);
            if (len > 0) {
                return std::string(p, len);
            }
            if (end == nullptr) {
                break;
            }
            p = end + 1;
        }
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return std::string();
}

// The language tag of a locale name or tag into the buffer (at most size bytes with the
// terminator): its length, or 0 with the empty text for an empty name or a tag that
// does not fit.
size_t LanguageTagMake(const char* pcName, char* pcTag, size_t size) {
    if (pcTag == nullptr || size == 0) {
        return 0;
    }
    pcTag[0] = '\0';
    if (pcName == nullptr) {
        return 0;
    }
    std::string name(pcName, strnlen(pcName, kNameMax + 1));
    if (name.size() > kNameMax) {
        return 0;
    }
    // The code set and the modifier say nothing about the language.
    name = name.substr(0, name.find_first_of(".@"));
    for (char& c : name) {
        if (c == '_') {
            c = '-';
        }
    }
    std::string tag = name;
    const size_t dash = name.find('-');
    if (name.compare(0, dash, "zh") == 0 && dash != std::string::npos) {
        std::string region = name.substr(dash + 1);
        for (char& c : region) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        if (RegionIn(region, kSimplifiedRegions, std::size(kSimplifiedRegions))) {
            tag = "zh-Hans-" + region;
        } else if (RegionIn(region, kTraditionalRegions, std::size(kTraditionalRegions))) {
            tag = "zh-Hant-" + region;
        }
    }
    if (tag.empty() || tag.size() >= size) {
        return 0;
    }
    std::memcpy(pcTag, tag.c_str(), tag.size() + 1);
    return tag.size();
}

}  // namespace

int UI_PreferredLanguage_Get() {
    const std::string name = PreferredName();
    char tag[kNameMax + 16];
    if (LanguageTagMake(name.c_str(), tag, sizeof(tag)) == 0) {
        return 0;
    }
    // Case-sensitive substring tests: the script subtag is written exactly so.
    if (std::strstr(tag, "zh-Hans") != nullptr) {
        return kLanguageSimplified;
    }
    if (std::strstr(tag, "zh-Hant") != nullptr) {
        return kLanguageTraditional;
    }
    return 0;
}

int UI_Language_Get() { return UI_PreferredLanguage_Get(); }
