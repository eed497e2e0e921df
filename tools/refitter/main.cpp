// refitter's program: installs "/tmp/VanTrelo/VanTreloInstaller.pkg" into the folder
// the program itself lies in. It reads neither its arguments nor its environment: it may
// be a setuid-root copy, started by anyone with anything.

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "refitter.h"

int main() {
    const int rc = Refitter_DropRights();
    if (rc != REFITTER_INSTALLED) {
        return rc;
    }
    (void)signal(SIGPIPE, SIG_IGN);
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0) {
        return REFITTER_NOT_INSTALL;
    }
    std::string folder(exe, static_cast<size_t>(n));
    folder.erase(folder.rfind('/') == 0 ? 1 : folder.rfind('/'));
    return Refitter_Run(REFITTER_EXTRACT_DIR, folder.c_str());
}
