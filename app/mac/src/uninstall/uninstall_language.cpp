// The uninstaller's language choice and texts.

#include "uninstall_language.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr UninstallConfirmTexts kConfirmEnglish{
    "VanTrelo Uninstaller", "This program will remove VanTrelo from your computer", "Quit",
    "Uninstall"};
constexpr UninstallConfirmTexts kConfirmChinese{
    "VanTrelo卸载", "该程序会将VanTrelo从你的电脑移除", "退出", "卸载"};
constexpr UninstallFinishTexts kFinishEnglish{
    "VanTrelo Uninstaller", "VanTrelo has been removed from your computer successfully", "Done"};
constexpr UninstallFinishTexts kFinishChinese{"VanTrelo卸载", "VanTrelo已经从你的电脑移除",
                                              "完成"};

// Regions whose Chinese is written in traditional characters; every other region, and
// Chinese without one, is written in simplified characters.
constexpr const char* kTraditionalRegions[] = {"TW", "HK", "MO"};

// The locale setting that names the messages' language, as the C library ranks them, or
// the empty text.
std::string LocaleSetting() {
    const char* language = getenv("LANGUAGE");
    if (language != nullptr) {
        // A list of languages, the first preferred; empty items are passed over.
        const char* p = language;
        while (*p != '\0') {
            const char* end = std::strchr(p, ':');
            const size_t len = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
            if (len != 0) {
                return std::string(p, len);
            }
            p += end != nullptr ? len + 1 : len;
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return std::string();
}

}  // namespace

std::string UninstallPreferredLanguage() {
    std::string locale = LocaleSetting();
    // "language_REGION.codeset@modifier": the codeset and the modifier name no language.
    const size_t cut = locale.find_first_of(".@");
    if (cut != std::string::npos) {
        locale.resize(cut);
    }
    if (locale.empty() || locale == "C" || locale == "POSIX") {
        return "en";
    }
    for (char& c : locale) {
        if (c == '_') {
            c = '-';
        }
    }
    if (locale == "zh") {
        return "zh-Hans";
    }
    if (locale.compare(0, 3, "zh-") == 0 && locale.size() == 5) {
        const std::string region = locale.substr(3);
        for (const char* traditional : kTraditionalRegions) {
            if (region == traditional) {
                return "zh-Hant-" + region;
            }
        }
        return "zh-Hans-" + region;
    }
    return locale;
}

bool UninstallLanguageIsChinese(const std::string& language) {
    return language.substr(0, language.find("-CN")) == "zh-Hans";
}

const UninstallConfirmTexts& UninstallConfirmTextsOf(bool bChinese) {
    return bChinese ? kConfirmChinese : kConfirmEnglish;
}

const UninstallFinishTexts& UninstallFinishTextsOf(bool bChinese) {
    return bChinese ? kFinishChinese : kFinishEnglish;
}
