// The system-information files of a fault report, and the front end's log folder.
//
// The three outside programs run as child processes with their standard output on the
// file this module opened: the report's folder is the user's, and its name may hold
// anything a file name can, so it never becomes part of a command text. The first pass
// appends to emptied files and the second replaces their content, so each file ends
// with exactly one copy of its program's output.

#include "ui_sysinfo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui_cmdrun_inner.h"
#include "ui_common.h"
#include "ui_env.h"
#include "ui_proxy.h"
#include "ui_sysinfo_inner.h"
#include "uko_secfunc.h"
#include "uko_textcode.h"

namespace {

// Paths and folders of 1025 characters or more are refused; formatted paths live in
// buffers of this size.
constexpr size_t kPathMax = 1024;
constexpr size_t kPathBufSize = 1024;

constexpr char kProxyFile[] = "proxy_info.txt";
constexpr char kDefaultProgramName[] = "VanTrelo";

std::atomic<const char*> g_programName{nullptr};

const char* const kUnameArgv[] = {"uname", "-a", nullptr};
const char* const kNetstatArgv[] = {"netstat", "-nr", nullptr};
const char* const kIfconfigArgv[] = {"/sbin/ifconfig", "-a", nullptr};

bool PathTooLong(const char* pcPath) { return std::strlen(pcPath) > kPathMax; }

// The program's output added to the file, emptied first unless kept.
uint32_t AppendOutput(const char* pcPath, int iKeep, const char* const* ppcArgv) {
    if (pcPath == nullptr || PathTooLong(pcPath)) {
        return 1;
    }
    if (iKeep == 0) {
        (void)UI_File_Truncate(pcPath);
    }
    const int fd = open(pcPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return 1;
    }
    const uint32_t rc = UI_Command_Run(ppcArgv, fd);
    (void)close(fd);
    return rc;
}

// The file's content replaced by the program's output.
uint32_t ReplaceOutput(const char* pcPath, const char* const* ppcArgv, const char* pcLogFormat) {
    if (pcPath == nullptr) {
        return 1;
    }
    if (PathTooLong(pcPath)) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR, pcLogFormat, UI_LOG_TAG);
        return 1;
    }
    const int fd = open(pcPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return 1;
    }
    const uint32_t rc = UI_Command_Exec(ppcArgv, fd);
    (void)close(fd);
    return rc;
}

struct InfoFile {
    const char* pcName;
    uint32_t (*pfnAppend)(const char*, int);
    uint32_t (*pfnGet)(const char*, int);
};

constexpr InfoFile kInfoFiles[] = {
    {"operate_system_info.txt", UI_OsInfo_Append, UI_OsInfo_Get},
    {"route_info.txt", UI_RouteList_Append, UI_RouteList_Get},
    {"netcard_info.txt", UI_InterfaceList_Append, UI_InterfaceList_Get},
};

// "folder/name" in the buffer; false (nothing to create or run) when it does not fit.
bool JoinPath(char* pcBuf, const char* pcFolder, const char* pcName) {
    return UKO_sprintf_s(pcBuf, kPathBufSize, "%s/%s", pcFolder, pcName) >= 0;
}

// A word zip cannot take for an option: the same path, relative ones led by "./".
std::string NotAnOption(const char* pcPath) {
    return pcPath[0] == '-' ? std::string("./") + pcPath : std::string(pcPath);
}

}  // namespace

uint32_t UI_File_Truncate(const char* pcPath) {
    if (pcPath == nullptr) {
        return 1;
    }
    const int fd = open(pcPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return 1;
    }
    return close(fd) == 0 ? 0 : 1;
}

uint32_t UI_Command_Run(const char* const* ppcArgv, int iOutFd) {
    return uiChildRun(ppcArgv, iOutFd, false, UI_CHILD_TIMEOUT_MS, nullptr) == UI_CHILD_OK ? 0 : 1;
}

uint32_t UI_Command_Exec(const char* const* ppcArgv, int iOutFd) {
    return UI_Command_Run(ppcArgv, iOutFd);
}

uint32_t UI_OsInfo_Append(const char* pcPath, int iKeep) {
    return AppendOutput(pcPath, iKeep, kUnameArgv);
}

uint32_t UI_RouteList_Append(const char* pcPath, int iKeep) {
    return AppendOutput(pcPath, iKeep, kNetstatArgv);
}

uint32_t UI_InterfaceList_Append(const char* pcPath, int iKeep) {
    return AppendOutput(pcPath, iKeep, kIfconfigArgv);
}

uint32_t UI_OsInfo_Get(const char* pcPath, int) {
    return ReplaceOutput(pcPath, kUnameArgv, "[%lu][Get OS info failed][reason:invalid file path length]");
}

uint32_t UI_RouteList_Get(const char* pcPath, int) {
    return ReplaceOutput(pcPath, kNetstatArgv,
                         "[%lu][Get route list failed][reason:invalid file path length]");
}

uint32_t UI_InterfaceList_Get(const char* pcPath, int) {
    return ReplaceOutput(pcPath, kIfconfigArgv,
                         "[%lu][Get interface list failed][reason:invalid file path length]");
}

uint32_t UI_SystemInfo_Append(const char* pcFolder) {
    if (pcFolder == nullptr) {
        return 1;
    }
    char path[kPathBufSize];
    for (const InfoFile& f : kInfoFiles) {
        if (JoinPath(path, pcFolder, f.pcName)) {
            (void)f.pfnAppend(path, 0);
        }
    }
    if (JoinPath(path, pcFolder, kProxyFile)) {
        (void)UI_ProxyInfo_Write(path);
    }
    return 0;
}

uint32_t UI_SystemInfo_Write(const char* pcFolder) {
    if (pcFolder == nullptr) {
        return 1;
    }
    char path[kPathBufSize];
    for (const InfoFile& f : kInfoFiles) {
        if (JoinPath(path, pcFolder, f.pcName)) {
            (void)f.pfnGet(path, 0);
        }
    }
    return 0;
}

uint32_t UI_SystemInfo_Set(const char* pcFolder) {
    if (pcFolder == nullptr) {
        return 1;
    }
    char resolved[PATH_MAX];
    if (PathTooLong(pcFolder) || realpath(pcFolder, resolved) == nullptr) {
        (void)DDM_LogWrite(UI_LOG_UI, DDM_LOG_ERROR,
                           "[%lu][Set system info failed][reason:get valid file path failed]", UI_LOG_TAG);
        return 1;
    }
    const uint32_t rc = UI_SystemInfo_Append(resolved);
    (void)UI_SystemInfo_Write(resolved);
    return rc;
}

uint32_t UI_ErrorReport_Zip(const char* pcTarget, const char* const* ppcFiles, int* piStatus) {
    if (pcTarget == nullptr || pcTarget[0] == '\0' || ppcFiles == nullptr) {
        return 1;
    }
    std::vector<std::string> words{"zip", "-j", NotAnOption(pcTarget)};
    for (const char* const* p = ppcFiles; *p != nullptr; ++p) {
        words.push_back(NotAnOption(*p));
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
    }
    argv.push_back(nullptr);
    // zip lists what it adds on its standard output, which belongs to native messaging.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) {
        return 1;
    }
    // A report of many large logs may take a while; the user waits for it as for a
    // save, so there is no time limit.
    const uint32_t rc = uiChildRun(argv.data(), null, false, INT_MAX, piStatus);
    (void)close(null);
    return rc == UI_CHILD_OK ? 0 : 1;
}

uint32_t UI_LogDir_Get(char* pcBuffer, int iSize) {
    if (pcBuffer == nullptr || iSize < 1) {
        return 1;
    }
    const size_t size = static_cast<size_t>(iSize);
    std::memset(pcBuffer, 0, size);
    char install[UI_INSTALL_PATH_SIZE];
    // Without the install folder the result would be "/log", a folder at the root that
    // is not the front end's.
    if (UI_Get_InstallPath(install) != 0 || install[0] == '\0') {
        return 1;
    }
    if (UKO_strcpy_s(pcBuffer, size, install) != 0 || UKO_strcat_s(pcBuffer, size, "/log") != 0) {
        std::memset(pcBuffer, 0, size);
        return 1;
    }
    return 0;
}

void uiBundleProgramNameSet(const char* pcName) { g_programName.store(pcName); }

uint32_t UI_BundleLogDir_Get(char* pcBuffer, uint32_t uiSize) {
    if (pcBuffer == nullptr || uiSize == 0) {
        return 1;
    }
    std::memset(pcBuffer, 0, uiSize);
    const char* name = g_programName.load();
    if (name == nullptr) {
        name = kDefaultProgramName;
    }
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return 1;
    }
    const uid_t uid = getuid();
    unsigned long bestPid = 0;
    std::string bestFolder;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || (bestPid != 0 && pid >= bestPid)) {
            continue;
        }
        const std::string dir = std::string("/proc/") + e->d_name;
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) {
            continue;
        }
        char exe[PATH_MAX];
        const ssize_t n = readlink((dir + "/exe").c_str(), exe, sizeof(exe) - 1);
        if (n <= 0) {
            continue;
        }
        exe[n] = '\0';
        const char* slash = std::strrchr(exe, '/');
        if (slash == nullptr || std::strcmp(slash + 1, name) != 0) {
            continue;  // also a program replaced since it started ("... (deleted)")
        }
        bestPid = pid;
        bestFolder.assign(exe, static_cast<size_t>(slash - exe));
    }
    (void)closedir(proc);
    if (bestPid == 0) {
        return 1;
    }
    const std::string folder = bestFolder + "/log";
    if (folder.size() >= uiSize) {
        return 1;
    }
    std::memcpy(pcBuffer, folder.c_str(), folder.size() + 1);
    return 0;
}

uint32_t UI_TextEncode_Convert(const char* pcUtf8, uint32_t uiLength, char** ppcGbk,
                               uint32_t* puiGbkLength) {
    return UKO_Utf8ToGbk(pcUtf8, uiLength, ppcGbk, puiGbkLength);
}

uint32_t UI_TextDecode_Convert(const char* pcGbk, uint32_t uiLength, char** ppcUtf8,
                               uint32_t* puiUtf8Length) {
    return UKO_GbkToUtf8(pcGbk, uiLength, ppcUtf8, puiUtf8Length);
}
