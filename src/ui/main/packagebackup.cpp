#include "packagebackup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool OwnRegularFile(const char* pcPath) {
    struct stat st {};
    return lstat(pcPath, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

// A name that a rename may take over: nothing there, or a file of this user's own.
// Anything else belongs to someone else, whose entry root could replace even in /tmp.
bool FreeOrOwn(const char* pcPath) {
    struct stat st {};
    if (lstat(pcPath, &st) != 0) {
        return errno == ENOENT;
    }
    return S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

bool PackageBackup_Keep(const char* pcPackage, const char* pcBackup) {
    return OwnRegularFile(pcPackage) && FreeOrOwn(pcBackup) && rename(pcPackage, pcBackup) == 0;
}

bool PackageBackup_Restore(const char* pcBackup, const char* pcPackage) {
    return OwnRegularFile(pcBackup) && FreeOrOwn(pcPackage) && rename(pcBackup, pcPackage) == 0;
}

void PackageBackup_Drop(const char* pcBackup) {
    if (OwnRegularFile(pcBackup)) {
        (void)unlink(pcBackup);
    }
}
