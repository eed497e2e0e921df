#include "update_test.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>

#include <QSettings>
#include <gtest/gtest.h>

#include "ddm_log.h"
#include "ddm_log_inner.h"
#include "vt_test/platform.h"

namespace update_test {

namespace {

constexpr char kLogName[] = "updtest";
std::mutex g_killMutex;

}  // namespace

void LogSetUp() {
    static const bool once = [] {
        (void)vt_test::PlatformStartOnce();
        return DDM_LogInit(kLogName) == 0;
    }();
    ASSERT_TRUE(once) << "the log could not be named";
}

std::string LogDir() {
    char dir[DDM_PATH_SIZE] = {};
    ddmLogDirCopy(dir, sizeof(dir));
    return dir;
}

std::vector<std::string> UpdateLines() {
    char dir[DDM_PATH_SIZE] = {};
    ddmLogDirCopy(dir, sizeof(dir));
    const std::string prefix = std::string("VanTrelo_") + kLogName + "_";
    std::vector<std::pair<unsigned long, std::string>> files;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) {
                files.emplace_back(std::strtoul(name.c_str() + prefix.size(), nullptr, 10), std::string(dir) + name);
            }
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const auto& f : files) {
        std::ifstream in(f.second);
        for (std::string line; std::getline(in, line);) {
            // "[ UPDATE INFO   <time> ][<user>] [65535]<text>"
            if (line.compare(0, 9, "[ UPDATE ") != 0) continue;
            const std::string level = line.substr(9, line.find(' ', 9) - 9);
            const size_t tag = line.find("] [65535]");
            if (tag == std::string::npos) continue;
            lines.push_back(level + "|" + line.substr(tag + 9));
        }
    }
    return lines;
}

size_t LogCount(const std::string& fragment) {
    size_t n = 0;
    for (const std::string& line : UpdateLines()) n += line.find(fragment) != std::string::npos;
    return n;
}

void RecordKill(const char* pcName) {
    std::lock_guard<std::mutex> lock(g_killMutex);
    Killed().push_back(pcName);
}

std::vector<std::string>& Killed() {
    static std::vector<std::string> killed;
    return killed;
}

QString Label(int language, const QString& key) {
    QSettings labels(QStringLiteral(VT_TEST_RUNTIME_DIR "language/") + QString::number(language) +
                         QStringLiteral("/l_UILabel.ini"),
                     QSettings::IniFormat);
    labels.setIniCodec("UTF_8");
    return labels.value(key).toString();
}

}  // namespace update_test
