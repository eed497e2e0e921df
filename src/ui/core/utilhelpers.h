#pragma once
// The small rules the windows share: input validators and the error frame of a field,
// text cutting for addresses, file names and versions, a byte-length check, the choice
// of a port and of an IPv4 first octet, searches in string lists, a recursive file
// list, the C layer's log folder and whether an interface language is installed. All
// keep no state and run on the Qt main thread.

#include <QString>
#include <QStringList>

class QLineEdit;
class QWidget;

// ---- Texts ------------------------------------------------------------------------------

// name + ".ini": the file of a connection profile.
QString Util_GetIniFileName(const QString& name);
// The text before its last "."; the whole text when it has none.
QString Util_GetFileBaseName(const QString& text);
QString Util_StripLastSuffix(const QString& text);
// The text before / after the last ":"; the whole text when it has none.
QString Util_GetHost(const QString& address);
QString Util_GetPort(const QString& address);
// The text after the last "." (the whole text when it has none) as a decimal number; 0
// when it is not one.
int Util_GetLastNumber(const QString& text);
// True when the text's UTF-8 form, up to its first zero byte, has at most maxBytes bytes.
bool Util_CheckUtf8Length(const QString& text, const int& maxBytes);
// The port when it is at most 65535, else 443.
int Util_CheckPort(unsigned int port);
// The address with its first octet kept within 1 to 223 (a non-number counts as 0). A
// text without a "." is a lone first octet and comes back clamped.
QString Util_CheckFirstOctet(const QString& address);
// True when newVersion ("a.b.c.d") is higher than oldVersion; false for equal versions
// and for a text that does not have exactly four parts. Parts compare as numbers.
bool Util_CompareVersion(const QString& newVersion, const QString& oldVersion);

// ---- Fields -----------------------------------------------------------------------------

// Validators limiting a field to 127 characters: no Chinese ideographs (U+4E00 to
// U+9FA5); no question mark, comma, quotation mark or slash (names); only ASCII letters,
// digits, ".", "_" and Chinese ideographs (accounts).
void Util_SetNoChineseValidator(QLineEdit* edit);
void Util_SetNameValidator(QLineEdit* edit);
void Util_SetAccountValidator(QLineEdit* edit);
// The red frame of a field that failed a check, and its removal.
void Util_SetErrorStyle(QWidget* widget);
void Util_ClearErrorStyle(QWidget* widget);

// ---- Lists and files --------------------------------------------------------------------

bool Util_ListContains(const QStringList& list, const QString& text);
// True when some index i has first[i] == a and second[i] == b.
bool Util_FindPair(const QStringList& first, const QStringList& second, const QString& a,
                   const QString& b);
// Appends the absolute path of every file under each existing folder of dirs (sub-
// folders included, symbolic links left out) that matches the name filters. True when
// at least one of the folders existed, even an empty one.
bool Util_GetFileList(const QStringList& dirs, const QStringList& nameFilters,
                      QStringList& files);
// The C layer's log folder (the install folder followed by "/log").
QString Util_GetLogDir();
// True when the resource folder's "language" folder has an entry named by the
// identifier and "language/language.ini" gives it a label (the text after the value's
// last "-") that is not empty.
bool Util_IsLanguageInstalled(int languageId);

// ---- Platform ---------------------------------------------------------------------------

// True on macOS. The windows that behave differently there ask this one question.
bool Util_IsMacOs();
