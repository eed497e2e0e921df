// The uninstaller's language: which language tag a locale gives, and which tags show the
// windows in Chinese.

#include <gtest/gtest.h>

#include <string>

#include "locale_env.h"
#include "uninstall_language.h"

namespace {

using uninstall_test::LocaleEnv;
using uninstall_test::LocaleVars;

struct TagCase {
    const char* name;
    const char* tag;
    bool chinese;
};

// Only simplified Chinese of China, or without a region, is shown in Chinese: the rule
// compares the text before "-CN" with "zh-Hans" exactly.
TEST(UninstallLanguage, ChineseExactlyForSimplifiedScriptOfChinaOrNoRegion) {
    const TagCase cases[] = {
        {"simplified_china", "zh-Hans-CN", true},
        {"simplified_alone", "zh-Hans", true},
        {"region_without_script", "zh-CN", false},
        {"traditional", "zh-Hant", false},
        {"simplified_hong_kong", "zh-Hans-HK", false},
        {"simplified_singapore", "zh-Hans-SG", false},
        {"hong_kong", "zh-HK", false},
        {"english", "en-US", false},
        {"lower_case_script", "zh-hans-CN", false},
        {"empty", "", false},
    };
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UninstallLanguageIsChinese(c.tag), c.chinese) << c.tag;
    }
}

struct LocaleCase {
    const char* name;
    LocaleVars vars;
    const char* tag;
    bool chinese;
};

// The locale variables in the C library's order, each reduced to a language tag; the
// Chinese ones carry their script, as a language tag names it.
TEST(UninstallLanguage, LocaleGivesTheLanguageTag) {
    const LocaleCase cases[] = {
        {"china", {nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, "zh-Hans-CN", true},
        {"taiwan", {nullptr, nullptr, nullptr, "zh_TW.UTF-8"}, "zh-Hant-TW", false},
        {"hong_kong", {nullptr, nullptr, nullptr, "zh_HK.UTF-8"}, "zh-Hant-HK", false},
        {"macao", {nullptr, nullptr, nullptr, "zh_MO"}, "zh-Hant-MO", false},
        {"singapore", {nullptr, nullptr, nullptr, "zh_SG.GBK"}, "zh-Hans-SG", false},
        {"chinese_alone", {nullptr, nullptr, nullptr, "zh"}, "zh-Hans", true},
        {"language_list_first", {"en_US:zh_CN", nullptr, nullptr, "zh_CN.UTF-8"}, "en-US",
         false},
        {"language_list_empty_item", {":zh_CN", nullptr, nullptr, "en_US.UTF-8"}, "zh-Hans-CN",
         true},
        {"language_empty", {"", nullptr, nullptr, "zh_CN.UTF-8"}, "zh-Hans-CN", true},
        {"lc_all_over_lang", {nullptr, "en_GB.UTF-8", nullptr, "zh_CN.UTF-8"}, "en-GB", false},
        {"lc_messages_over_lang", {nullptr, nullptr, "zh_CN.GB18030", "en_US.UTF-8"},
         "zh-Hans-CN", true},
        {"empty_lc_all_passed_over", {nullptr, "", nullptr, "zh_CN.UTF-8"}, "zh-Hans-CN", true},
        {"modifier", {nullptr, nullptr, nullptr, "de_DE.UTF-8@euro"}, "de-DE", false},
        {"c", {nullptr, nullptr, nullptr, "C"}, "en", false},
        {"c_utf8", {nullptr, "C.UTF-8", nullptr, "zh_CN.UTF-8"}, "en", false},
        {"posix", {nullptr, nullptr, nullptr, "POSIX"}, "en", false},
        {"nothing", {nullptr, nullptr, nullptr, nullptr}, "en", false},
    };
    for (const LocaleCase& c : cases) {
        SCOPED_TRACE(c.name);
        LocaleEnv env(c.vars);
        const std::string tag = UninstallPreferredLanguage();
        EXPECT_EQ(tag, c.tag);
        EXPECT_EQ(UninstallLanguageIsChinese(tag), c.chinese);
    }
}

}  // namespace
