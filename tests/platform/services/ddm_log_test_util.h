#pragma once
// Helpers of the rotating log's tests: a fixture that points the log at a fresh home
// folder, and readers of the files it writes.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "ddm_log_inner.h"
#include "vt_test/platform.h"
#include "vt_test/temp_env.h"

namespace ddm_test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The lines of a file, without their newlines; a last line without its newline is kept
// with a marker so a torn line shows.
inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = ReadFile(path);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            lines.push_back("<no newline>" + text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline int64_t SizeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

inline mode_t ModeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A file of the given size without writing its bytes.
inline void MakeSparse(const std::string& path, off_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(ftruncate(fd, size), 0) << path;
    close(fd);
}

inline std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

// A line cut into its fields; false when it does not have the log's line form:
// "[ <module:6> <level:6> YYYY-MM-DD hh:mm:ss.uuuuuu ][<user>] <message>".
struct LineParts {
    std::string module, level, stamp, user, message;
};

inline bool ParseLine(const std::string& line, LineParts* out) {
    const size_t kHead = 44;  // "[ " 6 " " 6 " " 26 " ]"
    if (line.size() < kHead + 3 || line.compare(0, 2, "[ ") != 0 || line[8] != ' ' ||
        line[15] != ' ' || line.compare(42, 2, " ]") != 0 || line[kHead] != '[') {
        return false;
    }
    auto trimmed = [](std::string s) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    out->module = trimmed(line.substr(2, 6));
    out->level = trimmed(line.substr(9, 6));
    out->stamp = line.substr(16, 26);
    const char* form = "dddd-dd-dd dd:dd:dd.dddddd";
    for (size_t i = 0; i < 26; ++i) {
        const char c = out->stamp[i];
        if (form[i] == 'd' ? (c < '0' || c > '9') : c != form[i]) return false;
    }
    const size_t close = line.find("] ", kHead + 1);
    if (close == std::string::npos) return false;
    out->user = line.substr(kHead + 1, close - kHead - 1);
    out->message = line.substr(close + 2);
    return true;
}

inline std::string FileName(const std::string& process, uint32_t number) {
    return "VanTrelo_" + process + "_" + std::to_string(number) + ".log";
}

// Each test gets a home folder of its own with the log set up in it. The platform is
// started once per process (the log lock lives in the system partition).
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(vt_test::PlatformStartOnce(), 0u);
        env_ = std::make_unique<vt_test::TempEnv>();
        ddmUserLookupSet(nullptr);
        ASSERT_EQ(DDM_LogEnvInit(0), 0u);
        dir_ = env_->Home() + "/.VanTrelo/log";
    }
    void TearDown() override {
        ddmUserLookupSet(nullptr);
        env_.reset();
        // Back to the start-up's own home folder, so later lines of this process do not
        // fall into the working folder.
        (void)DDM_LogEnvInit(0);
    }
    std::string Path(const std::string& process, uint32_t number) const {
        return dir_ + "/" + FileName(process, number);
    }

    std::unique_ptr<vt_test::TempEnv> env_;
    std::string dir_;
};

}  // namespace ddm_test
