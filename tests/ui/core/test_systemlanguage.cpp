// The system language at start-up, each locale in a process of its own.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace {

struct Probe {
    bool ran = false;
    int id = -1;
    QStringList logLines;
    QString diagnostics;
};

// Starts the probe with LC_ALL as the only locale variable.
void StartProbe(QProcess& p, const QString& lcAll) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        env.remove(var);
    }
    env.insert("LC_ALL", lcAll);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(UI_TEST_SYSLANG_PROBE), QStringList());
}

Probe Finish(QProcess& p) {
    Probe r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.diagnostics = "the probe did not end";
        return r;
    }
    const QString err = QString::fromUtf8(p.readAllStandardError());
    r.diagnostics = err;
    r.ran = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    for (const QString& line : err.split('\n')) {
        if (line.startsWith("id=")) r.id = line.mid(3).toInt();
        if (line.startsWith("log=")) r.logLines << line.mid(4);
    }
    return r;
}

TEST(SystemLanguage, LocaleLanguageToIdentifier) {
    const std::pair<const char*, int> cases[] = {
        {"fr_FR.UTF-8", 1036}, {"de_DE.UTF-8", 1031}, {"it_IT.UTF-8", 1040},
        {"ja_JP.UTF-8", 1041}, {"ko_KR.UTF-8", 1042}, {"pt_BR.UTF-8", 2070},
        {"ru_RU.UTF-8", 1049}, {"es_MX.UTF-8", 1034}, {"ar_EG.UTF-8", 14337},
        {"zh_CN.UTF-8", 2052}, {"nl_NL.UTF-8", 1033}, {"en_GB.UTF-8", 1033},
        {"C", 1033},
        // Chinese in any script is simplified off macOS; the preferred language is not
        // asked there.
        {"zh_TW.UTF-8", 2052}, {"zh_HK.UTF-8", 2052},
    };
    // The probes run side by side.
    std::vector<std::unique_ptr<QProcess>> probes;
    for (const auto& c : cases) {
        probes.push_back(std::make_unique<QProcess>());
        StartProbe(*probes.back(), c.first);
    }
    size_t i = 0;
    for (const auto& c : cases) {
        const Probe r = Finish(*probes[i++]);
        ASSERT_TRUE(r.ran) << c.first << ": " << r.diagnostics.toStdString();
        EXPECT_EQ(r.id, c.second) << c.first;
        EXPECT_EQ(r.logLines.size(), 1) << c.first << ": " << r.diagnostics.toStdString();
        const QString line = QStringLiteral("[Get system language][language index is %1]").arg(c.second);
        EXPECT_TRUE(!r.logLines.isEmpty() && r.logLines[0].contains(line))
            << c.first << ": " << r.diagnostics.toStdString();
    }
}

}  // namespace
