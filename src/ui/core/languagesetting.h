#pragma once
// The current interface language: its identifier, its label file and the nine common
// texts read from it. One object for the process, used from the Qt main thread.
//
// A label file is "language/<id>/l_UILabel.ini" under a base folder, INI in UTF-8.
// Keys are "SECTION/KEY", with or without a leading "/".

#include <memory>

#include <QString>

// The common texts of the section GLOBAL, read once when a language is loaded and
// handed out by copy.
struct GLOBALLANG {
    QString APPLICATION_NAME;
    QString NOTICE;
    QString ERROR;          // title of error boxes
    QString WARNING;        // title of warning and question boxes
    QString OK;             // button captions
    QString CANCEL;
    QString SAVEAS;         // title of save-file dialogs
    QString OPENAS;
    QString OVERTIMEERROR;  // a request to the service got no answer
};

class LanguageSettingPrivate;

class LanguageSetting {
public:
    static LanguageSetting* GetInstance();

    virtual ~LanguageSetting();
    LanguageSetting(const LanguageSetting&) = delete;
    LanguageSetting& operator=(const LanguageSetting&) = delete;

    // Loads the label file of the language under the base folder (a path ending in
    // "/"); a language without its file falls back to the Chinese one (2052) and keeps
    // the requested identifier. Always true: a missing file is logged and leaves every
    // text empty.
    bool Init(int languageId, const QString& baseDir);

    // The text of a key in the loaded language; empty for a key the file lacks, a
    // missing file, or before the first Init.
    QString GetValue(const QString& key) const;

    int GetLanguageId() const;
    void SetLanguageId(int languageId);  // stores the identifier, loads nothing

    GLOBALLANG GetGlobalLang() const;
    void SetGlobalLang(const GLOBALLANG& texts);

private:
    LanguageSetting();
    std::unique_ptr<LanguageSettingPrivate> d;
};
