// The language texts: which file a language loads (and its fall-back), the common texts,
// key forms, values QSettings would split or garble, and the shipped files holding every
// key the code asks for.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTextStream>

#include "languagesetting.h"
#include "servicelink.h"
#include "ui_test/ui_sim.h"
#include "vt_test/temp_env.h"

namespace {

LanguageSetting* Lang() { return LanguageSetting::GetInstance(); }

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

const char kEnglish[] =
    "[GLOBAL]\n"
    "APPLICATION_NAME=VanTrelo\nNOTICE=Notice\nERROR=Error\nWARNING=Warning\nOK=OK\n"
    "CANCEL=Cancel\nSAVEAS=Save As\nOPENAS=Open\n"
    "OVERTIMEERROR=\"The service did not answer, please try again.\"\n"
    "[UI_MAIN]\nUI_MAIN_CONNECT=Connect\n";
// "简体中文", "确定", "取消", "错误", "警告" in UTF-8.
const char kChinese[] =
    "[GLOBAL]\n"
    "APPLICATION_NAME=VanTrelo\n"
    "OK=\xe7\xa1\xae\xe5\xae\x9a\n"
    "CANCEL=\xe5\x8f\x96\xe6\xb6\x88\n"
    "ERROR=\xe9\x94\x99\xe8\xaf\xaf\n"
    "WARNING=\xe8\xad\xa6\xe5\x91\x8a\n"
    "[UI_MAIN]\nUI_MAIN_CONNECT=\xe8\xbf\x9e\xe6\x8e\xa5\n";

// A base folder with the English and Chinese label files of this test.
class LanguageFiles {
public:
    LanguageFiles() {
        base_ = env_.Tmp() + "/res/";
        for (const char* dir : {"", "language", "language/1033", "language/2052"}) {
            ::mkdir((base_ + dir).c_str(), 0700);
        }
        WriteFile(base_ + "language/1033/l_UILabel.ini", kEnglish);
        WriteFile(base_ + "language/2052/l_UILabel.ini", kChinese);
    }
    QString Base() const { return QString::fromStdString(base_); }
    std::string Path(int id) const {
        return base_ + "language/" + std::to_string(id) + "/l_UILabel.ini";
    }

private:
    vt_test::TempEnv env_;
    std::string base_;
};

// Every test logs through the platform log, which its tests read back.
class LanguageSettingTest : public ::testing::Test {
protected:
    void SetUp() override { ui_test::LinkSetUp(); }
};

TEST_F(LanguageSettingTest, BeforeAnyLoadEveryTextIsEmpty) {
    EXPECT_EQ(Lang()->GetValue("/GLOBAL/OK"), QString());
    EXPECT_EQ(Lang()->GetGlobalLang().WARNING, QString());
    EXPECT_EQ(Lang()->GetLanguageId(), 0);
}

TEST_F(LanguageSettingTest, EnglishLoadsItsOwnFile) {
    LanguageFiles files;
    EXPECT_TRUE(Lang()->Init(1033, files.Base()));
    EXPECT_EQ(Lang()->GetLanguageId(), 1033);
    EXPECT_EQ(ui_test::LogCount("[Initialize language setting][" + files.Path(1033) +
                                "   languageSetting file is exit!]"),
              1u);
    const GLOBALLANG g = Lang()->GetGlobalLang();
    EXPECT_EQ(g.APPLICATION_NAME, "VanTrelo");
    EXPECT_EQ(g.NOTICE, "Notice");
    EXPECT_EQ(g.ERROR, "Error");
    EXPECT_EQ(g.WARNING, "Warning");
    EXPECT_EQ(g.OK, "OK");
    EXPECT_EQ(g.CANCEL, "Cancel");
    EXPECT_EQ(g.SAVEAS, "Save As");
    EXPECT_EQ(g.OPENAS, "Open");
    // A quoted text with a comma reads whole; unquoted, QSettings would make it a list
    // and the text would come out empty.
    EXPECT_EQ(g.OVERTIMEERROR, "The service did not answer, please try again.");
    EXPECT_EQ(Lang()->GetValue("UI_MAIN/UI_MAIN_CONNECT"), "Connect");
    EXPECT_EQ(Lang()->GetValue("/UI_MAIN/UI_MAIN_MISSING"), QString());
}

TEST_F(LanguageSettingTest, BothKeyFormsNameOneEntry) {
    LanguageFiles files;
    Lang()->Init(1033, files.Base());
    EXPECT_EQ(Lang()->GetValue("/GLOBAL/OK"), "OK");
    EXPECT_EQ(Lang()->GetValue("GLOBAL/OK"), "OK");
}

// The fall-back keeps the requested identifier, and Chinese texts come back as the same
// characters (the files are UTF-8, not Latin-1).
TEST_F(LanguageSettingTest, UnknownLanguageFallsBackToChinese) {
    LanguageFiles files;
    EXPECT_TRUE(Lang()->Init(1036, files.Base()));
    EXPECT_EQ(Lang()->GetLanguageId(), 1036);
    EXPECT_EQ(ui_test::LogCount("[Initialize language setting][" + files.Path(1036) +
                                "   languageSetting file not exist]"),
              1u);
    EXPECT_EQ(ui_test::LogCount("[Initialize language setting][" + files.Path(2052) +
                                "    languageSetting file2 not exist]"),
              0u);
    EXPECT_EQ(Lang()->GetValue("/GLOBAL/OK"), QString::fromUtf8("确定"));
    EXPECT_EQ(Lang()->GetValue("/UI_MAIN/UI_MAIN_CONNECT"), QString::fromUtf8("连接"));
    EXPECT_EQ(Lang()->GetGlobalLang().CANCEL, QString::fromUtf8("取消"));
    EXPECT_EQ(Lang()->GetGlobalLang().NOTICE, QString());  // the Chinese file lacks it
}

TEST_F(LanguageSettingTest, WithNoFilesEveryTextIsEmpty) {
    vt_test::TempEnv env;
    const std::string base = env.Tmp() + "/nothing/";
    // A language loaded before must not show through.
    LanguageFiles files;
    Lang()->Init(1033, files.Base());
    ASSERT_EQ(Lang()->GetGlobalLang().OK, "OK");

    EXPECT_TRUE(Lang()->Init(1033, QString::fromStdString(base)));
    EXPECT_EQ(ui_test::LogCount("[Initialize language setting][" + base +
                                "language/2052/l_UILabel.ini    languageSetting file2 not exist]"),
              1u);
    const GLOBALLANG g = Lang()->GetGlobalLang();
    for (const QString& text : {g.APPLICATION_NAME, g.NOTICE, g.ERROR, g.WARNING, g.OK, g.CANCEL,
                                g.SAVEAS, g.OPENAS, g.OVERTIMEERROR}) {
        EXPECT_EQ(text, QString());
    }
    EXPECT_EQ(Lang()->GetValue("/UI_MAIN/UI_MAIN_CONNECT"), QString());
}

TEST_F(LanguageSettingTest, ALaterLoadReplacesTheTexts) {
    LanguageFiles files;
    Lang()->Init(2052, files.Base());
    const GLOBALLANG chinese = Lang()->GetGlobalLang();
    Lang()->Init(1033, files.Base());
    EXPECT_EQ(Lang()->GetGlobalLang().OK, "OK");
    EXPECT_EQ(Lang()->GetValue("/UI_MAIN/UI_MAIN_CONNECT"), "Connect");
    EXPECT_EQ(chinese.OK, QString::fromUtf8("确定"));  // a copy keeps the old text
}

TEST_F(LanguageSettingTest, SetLanguageIdAndSetGlobalLangLoadNothing) {
    LanguageFiles files;
    Lang()->Init(1033, files.Base());
    Lang()->SetLanguageId(2052);
    EXPECT_EQ(Lang()->GetLanguageId(), 2052);
    EXPECT_EQ(Lang()->GetValue("/GLOBAL/OK"), "OK");
    GLOBALLANG texts;
    texts.OK = "Fine";
    Lang()->SetGlobalLang(texts);
    EXPECT_EQ(Lang()->GetGlobalLang().OK, "Fine");
    EXPECT_EQ(Lang()->GetGlobalLang().CANCEL, QString());
}

// ---- The shipped files ------------------------------------------------------------------

// Every key the front end asks for: the nine common texts, every name of the reply-code
// tables, and every key literal in the Qt sources.
std::set<QString> KeysTheCodeUses() {
    std::set<QString> keys = {"/GLOBAL/APPLICATION_NAME", "/GLOBAL/NOTICE", "/GLOBAL/ERROR",
                              "/GLOBAL/WARNING",          "/GLOBAL/OK",     "/GLOBAL/CANCEL",
                              "/GLOBAL/SAVEAS",           "/GLOBAL/OPENAS",
                              "/GLOBAL/OVERTIMEERROR"};
    struct Table {
        const char* const* names;
        uint32_t count;
    };
    const Table tables[] = {
        {g_errorMsgCodeTable, UI_ERROR_MSGCODE_COUNT},
        {g_prefMsgCodeTable, UI_PREF_MSGCODE_COUNT},
        {g_authMsgCodeTable, UI_AUTH_MSGCODE_COUNT},
        {g_authNormalMsgCodeTable, UI_AUTH_NORMAL_MSGCODE_COUNT},
        {g_epsMsgCodeTable, UI_EPS_MSGCODE_COUNT},
        {g_cnemMsgCodeTable, UI_CNEM_MSGCODE_COUNT},
        {g_ipsecMsgCodeTable, UI_IPSEC_MSGCODE_COUNT},
        {g_logoutMsgCodeTable, UI_LOGOUT_MSGCODE_COUNT},
        {g_proxyMsgCodeTable, UI_PROXY_MSGCODE_COUNT},
        {g_cfmMsgCodeTable, UI_CFM_MSGCODE_COUNT},
    };
    for (const Table& t : tables) {
        for (uint32_t i = 0; i < t.count; ++i) {
            if (t.names[i] != nullptr && t.names[i][0] != '\0') {
                keys.insert(QString::fromUtf8(t.names[i]));
            }
        }
    }
    const QRegularExpression literal(
        QStringLiteral("\"(/?(GLOBAL|UI_[A-Z]+|RETURN_[A-Z_]+)/[A-Z0-9_]+)\""));
    QDirIterator it(QStringLiteral(VT_TEST_SOURCE_DIR "src/ui"),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "cannot read " << file.fileName().toStdString();
            continue;
        }
        const QString text = QString::fromUtf8(file.readAll());
        for (auto m = literal.globalMatch(text); m.hasNext();) {
            const QString key = m.next().captured(1);
            if (!key.endsWith(QLatin1Char('_'))) {  // a prefix the reply tables complete
                keys.insert(key);
            }
        }
    }
    return keys;
}

TEST_F(LanguageSettingTest, ShippedFilesHoldEveryKeyTheCodeUses) {
    const std::set<QString> keys = KeysTheCodeUses();
    ASSERT_GT(keys.size(), 9u + 100u);  // the common texts and the reply tables at least
    for (int id : {2052, 1033}) {
        SCOPED_TRACE(id);
        Lang()->Init(id, QStringLiteral(VT_TEST_RUNTIME_DIR));
        ASSERT_EQ(Lang()->GetValue("/GLOBAL/OK").isEmpty(), false) << "file not loaded";
        for (const QString& key : keys) {
            EXPECT_FALSE(Lang()->GetValue(key).trimmed().isEmpty()) << key.toStdString();
        }
    }
    // The two languages really differ.
    Lang()->Init(2052, QStringLiteral(VT_TEST_RUNTIME_DIR));
    const QString chinese = Lang()->GetGlobalLang().CANCEL;
    Lang()->Init(1033, QStringLiteral(VT_TEST_RUNTIME_DIR));
    EXPECT_NE(Lang()->GetGlobalLang().CANCEL, chinese);
}

}  // namespace
