// Start at login as a desktop autostart entry.
//
// The entry's command is the program's absolute path, quoted and escaped the way
// desktop entries require, so that a path holding blanks, quote marks, '$', '%' or
// backslashes still names the program and nothing else. An entry is written beside its
// final name and renamed into place, so the session never reads half of one.

#include "ui_loginitem.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui_loginitem_inner.h"

namespace {

constexpr char kEntryName[] = "VanTrelo.desktop";
constexpr char kEntrySuffix[] = ".desktop";
// Entries are a few lines; a larger file is not read.
constexpr size_t kEntryMax = 64 * 1024;

std::atomic<const char*> g_program{nullptr};

bool IsAbsolute(const char* p) { return p != nullptr && p[0] == '/'; }

bool HomeFolder(std::string* pstrHome) {
    const char* home = getenv("HOME");
    if (IsAbsolute(home)) {
        *pstrHome = home;
        return true;
    }
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
        !IsAbsolute(found->pw_dir)) {
        return false;
    }
    *pstrHome = found->pw_dir;
    return true;
}

// $XDG_CONFIG_HOME/autostart; a relative or empty value is not a folder to use.
bool AutostartFolder(std::string* pstrDir) {
    const char* config = getenv("XDG_CONFIG_HOME");
    if (IsAbsolute(config)) {
        *pstrDir = std::string(config) + "/autostart";
        return true;
    }
    std::string home;
    if (!HomeFolder(&home)) {
        return false;
    }
    *pstrDir = home + "/.config/autostart";
    return true;
}

bool ProgramPath(std::string* pstrPath) {
    if (const char* program = g_program.load()) {
        *pstrPath = program;
        return true;
    }
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return false;
    }
    path[n] = '\0';
    *pstrPath = path;
    return true;
}

// The folder and its missing parents, new ones with mode 0700.
bool MakeFolders(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') {
            continue;
        }
        const std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The path as the one quoted argument of an entry's command: inside double quotes a
// '"', '`', '$' or '\' takes a backslash, '%' is doubled (it starts a field code), and
// then the file's own string escapes apply (a backslash is doubled, line ends and tabs
// are written as escapes).
std::string ExecValue(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default: value += c; break;
        }
    }
    return value;
}

// The program an entry's command runs: the string escapes undone, then the first
// argument, unquoted, with "%%" read as '%'.
std::string ExecProgram(const std::string& value) {
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char e = value[++i];
        switch (e) {
            case 's': text += ' '; break;
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case 'r': text += '\r'; break;
            case '\\': text += '\\'; break;
            default: text += '\\'; text += e; break;  // an escape of the quoting level
        }
    }
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string arg;
    if (i < text.size() && text[i] == '"') {
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            arg += text[i];
        }
    } else {
        for (; i < text.size() && text[i] != ' ' && text[i] != '\t'; ++i) {
            arg += text[i];
        }
    }
    std::string program;
    for (size_t k = 0; k < arg.size(); ++k) {
        program += arg[k];
        if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') {
            ++k;
        }
    }
    return program;
}

// The Exec value of the entry's main group; false when the file has none or cannot be
// read whole.
bool EntryExec(const std::string& path, std::string* pstrExec) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    std::string text;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<size_t>(st.st_size) <= kEntryMax;
    if (ok) {
        text.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = read(fd, &text[done], text.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        text.resize(done);
    }
    (void)close(fd);
    if (!ok) {
        return false;
    }
    bool inMain = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inMain || eq == std::string::npos) {
            continue;
        }
        size_t keyEnd = eq;
        while (keyEnd > 0 && (line[keyEnd - 1] == ' ' || line[keyEnd - 1] == '\t')) --keyEnd;
        if (line.compare(0, keyEnd, "Exec") != 0 || keyEnd != 4) {
            continue;
        }
        size_t v = eq + 1;
        while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
        *pstrExec = line.substr(v);
        return true;
    }
    return false;
}

bool WriteEntry(const std::string& dir, const std::string& text) {
    std::string tmp = dir + "/" + kEntryName + ".XXXXXX";
    const int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<size_t>(n);
        }
    }
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(tmp.c_str(), (dir + "/" + kEntryName).c_str()) == 0;
    if (!ok) {
        (void)unlink(tmp.c_str());
    }
    return ok;
}

bool EndsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

void uiLoginItemProgramSet(const char* pcPath) { g_program.store(pcPath); }

int UI_LoginItem_Set(int iEnable) {
    if (iEnable == 1) {
        UI_LoginItem_Add();
    } else if (iEnable == 0) {
        UI_LoginItem_Remove();
    }
    return 0;
}

void UI_LoginItem_Add(void) {
    std::string dir, program;
    if (!AutostartFolder(&dir) || !ProgramPath(&program) || !MakeFolders(dir)) {
        return;
    }
    const std::string text = std::string("[Desktop Entry]\n") +
                             "Type=Application\n"
                             "Name=VanTrelo\n"
                             "Exec=" + ExecValue(program) + "\n"
                             "Terminal=false\n";
    (void)WriteEntry(dir, text);
}

void UI_LoginItem_Remove(void) {
    std::string dir, program;
    if (!AutostartFolder(&dir) || !ProgramPath(&program)) {
        return;
    }
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    std::vector<std::string> ours;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        std::string exec;
        if (EndsWith(name, kEntrySuffix) && EntryExec(dir + "/" + name, &exec) &&
            ExecProgram(exec) == program) {
            ours.push_back(dir + "/" + name);
        }
    }
    (void)closedir(d);
    for (const std::string& path : ours) {
        (void)unlink(path.c_str());
    }
}
