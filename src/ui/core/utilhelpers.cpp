// The small shared rules of the windows.

#include "utilhelpers.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QOperatingSystemVersion>
#include <QRegExp>
#include <QRegExpValidator>
#include <QSettings>
#include <QWidget>

#include <climits>
#include <cstring>

#include "servicelink.h"
#include "uicontext.h"
#include "util.h"

namespace {

// The Chinese ideographs the fields refuse or allow, U+4E00 to U+9FA5. Written as code
// points so that the patterns do not depend on how this file's bytes are read.
QString IdeographRange() { return QString(QChar(0x4E00)) + QLatin1Char('-') + QChar(0x9FA5); }

// Each pattern limits the field to 127 characters: a validator refuses any keystroke
// that would make the whole text fail to match.
QString NoChinesePattern() { return QStringLiteral("[^%1]{0,127}").arg(IdeographRange()); }
const char kNamePattern[] = "[^\\?\\,\"\\/]{0,127}";
QString AccountPattern() {
    return QStringLiteral("^[a-zA-Z0-9._%1]{0,127}").arg(IdeographRange());
}

const char kErrorStyle[] = "border:1px solid #e1e0e0;border-color: rgb(255, 0, 0);color:black;";

constexpr unsigned int kPortMax = 65535;
constexpr int kPortDefault = 443;
constexpr int kFirstOctetMin = 1;
constexpr int kFirstOctetMax = 223;

constexpr int kLogDirSize = 1024;

const char kLanguageDir[] = "language";
const char kLanguageList[] = "language/language.ini";

void SetValidator(QLineEdit* edit, const QString& pattern) {
    if (edit == nullptr) {
        return;
    }
    edit->setValidator(
        new QRegExpValidator(QRegExp(pattern, Qt::CaseSensitive, QRegExp::RegExp), edit));
}

// A decimal number as the rules read it: 0 when the text is not one. A text of digits
// too long for the type reads as the largest value, so that a huge octet is clamped
// down rather than taken for 0.
qint64 DecimalValue(const QString& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (ok) {
        return value;
    }
    const QString t = text.trimmed();
    if (!t.isEmpty()) {
        bool digits = true;
        for (const QChar c : t) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                digits = false;
                break;
            }
        }
        if (digits) {
            return LLONG_MAX;
        }
    }
    return 0;
}

QString ClampOctet(const QString& head) {
    QString out = head;
    if (DecimalValue(out) >= kFirstOctetMax + 1) {
        out = QString::number(kFirstOctetMax);
    }
    if (DecimalValue(out) < kFirstOctetMin) {
        out = QString::number(kFirstOctetMin);
    }
    return out;
}

void LogVersions(int oldPart, int newPart) {
    Util_WriteLog(0, 1, QStringLiteral("[Downloading][* intold is%1]").arg(oldPart));
    Util_WriteLog(0, 1, QStringLiteral("[Downloading][* intnew is%1]").arg(newPart));
}

}  // namespace

QString Util_GetIniFileName(const QString& name) { return name + QStringLiteral(".ini"); }

QString Util_GetFileBaseName(const QString& text) {
    const int dot = text.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? text : text.left(dot);
}

QString Util_StripLastSuffix(const QString& text) { return Util_GetFileBaseName(text); }

QString Util_GetHost(const QString& address) {
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? address : address.left(colon);
}

QString Util_GetPort(const QString& address) {
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? address : address.mid(colon + 1);
}

int Util_GetLastNumber(const QString& text) {
    const int dot = text.lastIndexOf(QLatin1Char('.'));
    bool ok = false;
    const int value = (dot < 0 ? text : text.mid(dot + 1)).toInt(&ok, 10);
    return ok ? value : 0;
}

bool Util_CheckUtf8Length(const QString& text, const int& maxBytes) {
    const QByteArray bytes = text.toUtf8();
    const size_t length = strnlen(bytes.constData(), static_cast<size_t>(bytes.size()));
    return maxBytes >= 0 && length <= static_cast<size_t>(maxBytes);
}

int Util_CheckPort(unsigned int port) {
    return port <= kPortMax ? static_cast<int>(port) : kPortDefault;
}

QString Util_CheckFirstOctet(const QString& address) {
    if (address.isEmpty()) {
        return QString();
    }
    const int dot = address.indexOf(QLatin1Char('.'));
    if (dot < 0) {
        return ClampOctet(address);
    }
    const QString head = address.left(dot);
    const QString tail = address.mid(dot);
    return (head.isEmpty() ? head : ClampOctet(head)) + tail;
}

bool Util_CompareVersion(const QString& newVersion, const QString& oldVersion) {
    const QStringList newParts = newVersion.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList oldParts = oldVersion.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (newParts.size() != 4 || oldParts.size() != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        const int x = newParts[i].toInt();
        const int y = oldParts[i].toInt();
        if (x != y) {
            LogVersions(y, x);
            return x > y;
        }
    }
    return false;
}

void Util_SetNoChineseValidator(QLineEdit* edit) { SetValidator(edit, NoChinesePattern()); }

void Util_SetNameValidator(QLineEdit* edit) {
    SetValidator(edit, QString::fromLatin1(kNamePattern));
}

void Util_SetAccountValidator(QLineEdit* edit) { SetValidator(edit, AccountPattern()); }

void Util_SetErrorStyle(QWidget* widget) {
    if (widget != nullptr) {
        widget->setStyleSheet(QString::fromLatin1(kErrorStyle));
    }
}

void Util_ClearErrorStyle(QWidget* widget) {
    if (widget != nullptr) {
        widget->setStyleSheet(QString());
    }
}

bool Util_ListContains(const QStringList& list, const QString& text) {
    return list.contains(text, Qt::CaseSensitive);
}

bool Util_FindPair(const QStringList& first, const QStringList& second, const QString& a,
                   const QString& b) {
    for (int i = 0; i < first.size() && i < second.size(); ++i) {
        if (first[i] == a && second[i] == b) {
            return true;
        }
    }
    return false;
}

bool Util_GetFileList(const QStringList& dirs, const QStringList& nameFilters,
                      QStringList& files) {
    bool found = false;
    for (const QString& dir : dirs) {
        if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
            continue;
        }
        QDirIterator it(dir, nameFilters, QDir::Files | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            files.append(it.fileInfo().absoluteFilePath());
        }
        found = true;
    }
    return found;
}

QString Util_GetLogDir() {
    char buffer[kLogDirSize] = {};
    (void)UI_LogDir_Get(buffer, kLogDirSize);
    // File names on this system are in the local 8-bit encoding, UTF-8, whatever language
    // the user reads: decoding them with a Chinese code page would garble every folder
    // with kana, Hangul or accents in its name.
    const QString dir = QString::fromLocal8Bit(buffer, static_cast<int>(strnlen(buffer, kLogDirSize)));
    Util_WriteLog(0, 1, QStringLiteral("[Util get logDir][logDir is ") + dir + QStringLiteral("]"));
    return dir;
}

bool Util_IsLanguageInstalled(int languageId) {
    const QString resources = UIContext::GetInstance()->GetResourceDir();
    const QString name = QString::number(languageId);
    const QString listPath = resources + QLatin1String(kLanguageList);
    if (!QFileInfo(listPath).isFile()) {
        return false;
    }
    QSettings list(listPath, QSettings::IniFormat);
    list.setIniCodec("UTF-8");
    bool installed = false;
    for (const QString& entry : QDir(resources + QLatin1String(kLanguageDir)).entryList()) {
        const QString value = list.value(entry).toString();
        const QString label = value.mid(value.lastIndexOf(QLatin1Char('-')) + 1);
        if (!label.isEmpty() && entry == name) {
            installed = true;
        }
    }
    return installed;
}

bool Util_IsMacOs() {
    return QOperatingSystemVersion::currentType() == QOperatingSystemVersion::MacOS;
}
