#pragma once
// The user's preferred interface language as the C layer sees it: whether the first
// language the user asked for is simplified or traditional Chinese.
//
// On this system the preference comes from the environment, read again at each call:
// the first entry of LANGUAGE (a colon-separated list), else LC_ALL, LC_MESSAGES, LANG.
// A locale name is first turned into a language tag with a script (zh_CN and zh_SG give
// "zh-Hans-CN" and "zh-Hans-SG"; zh_TW, zh_HK and zh_MO "zh-Hant-..."); a tag that
// already names its script passes unchanged, and a bare "zh" names none.

// 2052 when the first preferred language names simplified Chinese ("zh-Hans"), 1028
// when it names traditional Chinese ("zh-Hant"), 0 otherwise (also when none is set).
int UI_PreferredLanguage_Get();

// The answer of UI_PreferredLanguage_Get, passed through.
int UI_Language_Get();

