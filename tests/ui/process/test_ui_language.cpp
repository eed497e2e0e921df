// The preferred interface language read from the environment.

#include "ui_language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const char* kVars[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// Sets the four variables (null: unset) for one case and puts the old values back.
class LocaleEnv {
public:
    LocaleEnv(const char* language, const char* lcAll, const char* lcMessages, const char* lang) {
        const char* values[] = {language, lcAll, lcMessages, lang};
        for (int i = 0; i < 4; ++i) {
            const char* old = std::getenv(kVars[i]);
            had_[i] = old != nullptr;
            old_[i] = old != nullptr ? old : "";
            if (values[i] != nullptr) {
                setenv(kVars[i], values[i], 1);
            } else {
                unsetenv(kVars[i]);
            }
        }
    }
    ~LocaleEnv() {
        for (int i = 0; i < 4; ++i) {
            if (had_[i]) {
                setenv(kVars[i], old_[i].c_str(), 1);
            } else {
                unsetenv(kVars[i]);
            }
        }
    }

private:
    bool had_[4] = {};
    std::string old_[4];
};

struct Case {
    const char* name;
    const char* language;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    int expected;
};

const std::string kLong = "zh_CN" + std::string(300, 'x');

const Case kCases[] = {
    {"LanguageTraditional", "zh_TW", nullptr, nullptr, nullptr, 1028},
    {"LanguageListFirstWins", "zh_CN:en", nullptr, nullptr, "zh_TW.UTF-8", 2052},
    {"LanguageEnglishBeforeChineseLocale", "en", "zh_CN.UTF-8", nullptr, "zh_CN.UTF-8", 0},
    {"LanguageEmptyFirstEntrySkipped", ":zh_HK", nullptr, nullptr, nullptr, 1028},
    {"LanguageEmptyFallsToLcAll", "", "zh_SG.UTF-8", nullptr, "en_US.UTF-8", 2052},
    {"LcAllBeforeLcMessagesAndLang", nullptr, "fr_FR.UTF-8", "zh_CN.UTF-8", "zh_CN", 0},
    {"LcMessagesBeforeLang", nullptr, nullptr, "zh_MO", "zh_CN", 1028},
    {"LangWithCodeSetAndModifier", nullptr, nullptr, nullptr, "zh_TW.Big5@calendar", 1028},
    {"LowerCaseRegion", nullptr, nullptr, nullptr, "zh_cn.utf8", 2052},
    {"ExplicitSimplifiedTag", "zh-Hans-CN", nullptr, nullptr, nullptr, 2052},
    {"ExplicitTraditionalTagAnyRegion", "zh-Hant-US", nullptr, nullptr, nullptr, 1028},
    {"ExplicitTagWithUnderscores", "zh_Hant_HK", nullptr, nullptr, nullptr, 1028},
    {"ScriptTestIsCaseSensitive", "zh-hans-cn", nullptr, nullptr, nullptr, 0},
    {"BareChineseNamesNoScript", "zh", nullptr, nullptr, nullptr, 0},
    {"ChineseOfOtherRegion", nullptr, nullptr, nullptr, "zh_US.UTF-8", 0},
    {"NotChinese", nullptr, nullptr, nullptr, "de_DE.UTF-8", 0},
    {"PosixLocale", nullptr, "C", nullptr, nullptr, 0},
    {"NothingSet", nullptr, nullptr, nullptr, nullptr, 0},
    {"OverlongValueIgnored", kLong.c_str(), nullptr, nullptr, nullptr, 0},
};

class PreferredLanguage : public ::testing::TestWithParam<Case> {};

TEST_P(PreferredLanguage, FromEnvironment) {
    const Case& c = GetParam();
    LocaleEnv env(c.language, c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(UI_PreferredLanguage_Get(), c.expected);
    EXPECT_EQ(UI_Language_Get(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreferredLanguage, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// The environment is read at each call, not once.
TEST(PreferredLanguageChange, ReadAtEachCall) {
    {
        LocaleEnv env("zh_CN", nullptr, nullptr, nullptr);
        EXPECT_EQ(UI_PreferredLanguage_Get(), 2052);
    }
    {
        LocaleEnv env("zh_TW", nullptr, nullptr, nullptr);
        EXPECT_EQ(UI_PreferredLanguage_Get(), 1028);
    }
}

}  // namespace
