#pragma once
// refitter: the install helper the update program runs once it has unpacked a downloaded
// client package into its unpack folder. It replaces the install folder by the package's
// tree as a whole: the new tree is unpacked and checked beside the install folder, the
// user's settings are carried over, and one exchange of the two folders puts it in
// place, so that a bad package, a full disk, missing rights or an interrupted run
// leave the old version whole.
//
// The package, "VanTreloInstaller.pkg", is a plain ustar archive of
//   PackageInfo   "format=1", "product=VanTrelo", "version=<version>", one a line;
//   Manifest      one line per file of the new tree: "<SHA-256 in hex> <octal mode>
//                 <path relative to Payload/>";
//   Payload/      the new tree: folders and regular files only, no setuid, setgid or
//                 sticky mode, holding at least VanTrelo, VanTreloUpdate and refitter.
//
// Nothing it does depends on an environment variable: it may run setuid root, with an
// environment chosen by whoever started it.

#include <functional>
#include <map>
#include <string>

#include <sys/types.h>

// Exit codes.
constexpr int REFITTER_INSTALLED = 0;
constexpr int REFITTER_UNSAFE = 2;       // unpack folder or package missing or unsafe
constexpr int REFITTER_BAD_PACKAGE = 3;  // damaged or not a package of this client
constexpr int REFITTER_WRITE_FAILED = 4;
constexpr int REFITTER_NO_RIGHTS = 5;
constexpr int REFITTER_NOT_INSTALL = 6;  // the install folder holds no VanTrelo

constexpr char REFITTER_PACKAGE_NAME[] = "VanTreloInstaller.pkg";
constexpr char REFITTER_EXTRACT_DIR[] = "/tmp/VanTrelo";

// Where a run stands, for tests that end it there.
enum class RefitterStep {
    kChecked,       // folders and package accepted, package read and found good
    kStagingMade,   // leftovers of an earlier run gone, the new folder made
    kExtracted,     // the payload unpacked into it
    kVerified,      // every entry checked against the manifest, modes set
    kCarried,       // the old settings copied in
    kFlushed,       // everything on disk
    kSwapped,       // the new tree in place, the old one beside it
    kOldRemoved,    // the old tree gone
};

// What tests may change in a run. A program never passes any.
struct RefitterHooks {
    std::function<void(RefitterStep)> step;  // called as each step is reached
    bool bRefuseExchange = false;            // act as if the exchange of folders is refused
    bool bRefuseSecondRename = false;        // in the two-rename way, fail the second
};

// One file of the manifest.
struct RefitterEntry {
    std::string sha256;  // lower-case hex
    unsigned mode = 0;
};

// A package read and found good.
struct RefitterPackage {
    std::string version;
    std::map<std::string, RefitterEntry> files;  // by path relative to Payload/
};

// Gives up rights the program was started with beyond its user's (a setuid-root copy):
// REFITTER_INSTALLED, or REFITTER_NO_RIGHTS when they cannot be dropped for good.
int Refitter_DropRights();

// Reads the package from the descriptor (from its start) without writing anything:
// every member's header, name, type and mode, the package description and the
// manifest, and every payload file against the manifest. REFITTER_INSTALLED (0) with
// *pstPackage filled, REFITTER_BAD_PACKAGE or REFITTER_WRITE_FAILED (a read error),
// with the reason in *pReason.
int Refitter_ReadPackage(int fd, RefitterPackage* pstPackage, std::string* pReason);

// Installs the package of the unpack folder into the install folder; an exit code above.
// Reasons go to standard error.
int Refitter_Run(const char* pcExtractDir, const char* pcInstallDir,
                 const RefitterHooks* pstHooks = nullptr);

// The names beside the install folder that a run uses for the new tree and, in the
// two-rename way, the old one; what a run finds under them is an earlier run's leftover.
std::string Refitter_NewName(const std::string& installName);
std::string Refitter_OldName(const std::string& installName);
