#pragma once
// The uninstaller's language: Chinese or English, chosen by each window for itself from
// the user's first preferred language, and the texts of its two windows. Plain C++, so
// that the choice can be exercised without a window.

#include <string>

// The user's first preferred language as a language tag ("en-US", "zh-Hans-CN"), read from
// the first non-empty of LANGUAGE (its first item), LC_ALL, LC_MESSAGES and LANG. A
// locale's codeset and modifier are dropped and "_" becomes "-"; Chinese locales get their
// script ("zh_CN" is "zh-Hans-CN", "zh_TW" is "zh-Hant-TW", "zh" is "zh-Hans"), as a
// language tag carries it. "C", "POSIX" and nothing at all give "en".
std::string UninstallPreferredLanguage();

// Whether a window shown for that language is Chinese: exactly when the text before its
// first "-CN" (the whole text when there is none) is "zh-Hans", case and all. So
// "zh-Hans-CN" and "zh-Hans" are Chinese; "zh-CN", "zh-Hant", "zh-Hans-HK" are English.
bool UninstallLanguageIsChinese(const std::string& language);

// The confirmation window's texts, UTF-8.
struct UninstallConfirmTexts {
    const char* pcTitle;
    const char* pcLabel;
    const char* pcQuit;
    const char* pcUninstall;
};

// The finish window's texts, UTF-8.
struct UninstallFinishTexts {
    const char* pcTitle;
    const char* pcLabel;
    const char* pcDone;
};

const UninstallConfirmTexts& UninstallConfirmTextsOf(bool bChinese);
const UninstallFinishTexts& UninstallFinishTextsOf(bool bChinese);
