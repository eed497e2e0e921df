// The system language at start-up.

#include "systemlanguage.h"

#include <QCoreApplication>
#include <QLocale>
#include <QString>

#include "languagesetting.h"
#include "servicelink.h"
#include "util.h"
#include "utilhelpers.h"

namespace {

constexpr int kLanguageEnglish = 1033;
constexpr int kLanguageSimplifiedChinese = 2052;
constexpr int kLanguageTraditionalChinese = 1028;

struct LanguageId {
    QLocale::Language language;
    int id;
};

// The languages the program numbers; every other language is English (United States).
constexpr LanguageId kLanguageIds[] = {
    {QLocale::Arabic, 14337},     // Arabic, U.A.E.
    {QLocale::French, 1036},      {QLocale::German, 1031},  {QLocale::Italian, 1040},
    {QLocale::Japanese, 1041},    {QLocale::Korean, 1042},
    {QLocale::Portuguese, 2070},  // Portugal
    {QLocale::Russian, 1049},     {QLocale::Spanish, 1034},
};

// The locale says Chinese but not which script. Only macOS tells it through the user's
// preferred languages; elsewhere simplified Chinese is taken.
int ChineseId() {
    if (!Util_IsMacOs()) {
        return kLanguageSimplifiedChinese;
    }
    return UI_Language_Get() == kLanguageSimplifiedChinese ? kLanguageSimplifiedChinese
                                                           : kLanguageTraditionalChinese;
}

int SystemLanguageId() {
    const QLocale::Language language = QLocale::system().language();
    if (language == QLocale::Chinese) {
        return ChineseId();
    }
    for (const LanguageId& entry : kLanguageIds) {
        if (entry.language == language) {
            return entry.id;
        }
    }
    return kLanguageEnglish;
}

}  // namespace

void GetSystemLanguage() {
    const int id = SystemLanguageId();
    (void)LanguageSetting::GetInstance()->Init(id, QCoreApplication::applicationDirPath() +
                                                       QStringLiteral("/"));
    Util_WriteLog(0, 1, QStringLiteral("[Get system language][language index is %1]").arg(id));
}
