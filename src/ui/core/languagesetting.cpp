// The current interface language and its texts.

#include "languagesetting.h"

#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include "ddm_log.h"
#include "uilog.h"

class LanguageSettingPrivate {
public:
    int languageId = 0;
    QString baseDir;
    std::unique_ptr<QSettings> settings;  // over the loaded label file
    GLOBALLANG globalLang;
};

namespace {

const char kFallbackFile[] = "language/2052/l_UILabel.ini";

QString LabelFile(int languageId) {
    return QStringLiteral("language/") + QString::number(languageId) +
           QStringLiteral("/l_UILabel.ini");
}

}  // namespace

LanguageSetting* LanguageSetting::GetInstance() {
    static LanguageSetting instance;
    return &instance;
}

LanguageSetting::LanguageSetting() : d(new LanguageSettingPrivate) {}

LanguageSetting::~LanguageSetting() {
    d->settings.reset();
    d.reset();
}

bool LanguageSetting::Init(int languageId, const QString& baseDir) {
    d->settings.reset();
    d->languageId = languageId;
    d->baseDir = baseDir;

    QString relative = LabelFile(languageId);
    if (QFileInfo::exists(baseDir + relative)) {
        Util_WriteLog(0, DDM_LOG_INFO, "[Initialize language setting][" + baseDir + relative +
                                           "   languageSetting file is exit!]");
    } else {
        Util_WriteLog(0, DDM_LOG_INFO, "[Initialize language setting][" + baseDir + relative +
                                           "   languageSetting file not exist]");
        relative = QString::fromLatin1(kFallbackFile);
        if (!QFileInfo::exists(baseDir + relative)) {
            Util_WriteLog(0, DDM_LOG_INFO, "[Initialize language setting][" + baseDir + relative +
                                               "    languageSetting file2 not exist]");
        }
    }

    // The files are UTF-8: without the codec QSettings would read them as Latin-1.
    d->settings.reset(new QSettings(baseDir + relative, QSettings::IniFormat));
    d->settings->setIniCodec("UTF_8");

    GLOBALLANG& g = d->globalLang;
    g.APPLICATION_NAME = GetValue(QStringLiteral("/GLOBAL/APPLICATION_NAME"));
    g.NOTICE = GetValue(QStringLiteral("/GLOBAL/NOTICE"));
    g.ERROR = GetValue(QStringLiteral("/GLOBAL/ERROR"));
    g.WARNING = GetValue(QStringLiteral("/GLOBAL/WARNING"));
    g.OK = GetValue(QStringLiteral("/GLOBAL/OK"));
    g.CANCEL = GetValue(QStringLiteral("/GLOBAL/CANCEL"));
    g.SAVEAS = GetValue(QStringLiteral("/GLOBAL/SAVEAS"));
    g.OPENAS = GetValue(QStringLiteral("/GLOBAL/OPENAS"));
    g.OVERTIMEERROR = GetValue(QStringLiteral("/GLOBAL/OVERTIMEERROR"));
    return true;
}

QString LanguageSetting::GetValue(const QString& key) const {
    if (!d->settings) {
        return QString();
    }
    return d->settings->value(key, QVariant()).toString();
}

int LanguageSetting::GetLanguageId() const { return d->languageId; }

void LanguageSetting::SetLanguageId(int languageId) { d->languageId = languageId; }

GLOBALLANG LanguageSetting::GetGlobalLang() const { return d->globalLang; }

void LanguageSetting::SetGlobalLang(const GLOBALLANG& texts) { d->globalLang = texts; }
