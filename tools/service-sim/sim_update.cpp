#include "sim_update.h"

#include <iconv.h>
#include <spawn.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace sim {

const char kUpdateLaunchToken[] = "amber stone, rework!";

namespace {

bool Utf8ToGbk(const std::string& in, std::string* out) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buf(in.size() * 2 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &buf[0];
    size_t dstLeft = buf.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == size_t(-1) || srcLeft != 0) return false;
    buf.resize(buf.size() - dstLeft);
    *out = buf;
    return true;
}

}  // namespace

std::vector<std::string> BuildUpdateArgs(const Record& update, const std::string& flag,
                                         std::string* warning) {
    std::string text = update.Text("acPackagePath") + ";" + update.Text("acDownloadUrl") + ";" +
                       update.Text("acLoginName") + ";" + flag;
    std::string gbk;
    if (!Utf8ToGbk(text, &gbk)) {
        if (warning != nullptr) *warning = "parameter text is not convertible to GBK; sent as is";
        gbk = text;
    }
    return {gbk, kUpdateLaunchToken};
}

bool SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                  pid_t* pid, std::string* error) {
    if (program.empty() || program[0] != '/') {
        *error = "update program path is not absolute: " + program;
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        *error = std::string("posix_spawn failed: ") + std::strerror(rc);
        return false;
    }
    return true;
}

}  // namespace sim
