#pragma once
// Test support for the install helper and the update program: packages written member by
// member (so that a test can make any damaged or hostile one), trees written to and read
// back from disk, and small process helpers.

#include <sys/types.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace pkg_test {

// One ustar member. type '0' file, '5' folder, '2' symbolic link (link names the target).
struct Member {
    std::string name;
    char type = '0';
    unsigned mode = 0644;
    std::string data;
    std::string link;
};

// The archive of the members, with its end marker.
std::string Ustar(const std::vector<Member>& members);
std::string Sha256Hex(const std::string& data);

// A tree of files: path relative to the tree -> mode and content. Folders follow from
// the paths.
struct File {
    unsigned mode = 0644;
    std::string content;
    bool operator==(const File& o) const { return mode == o.mode && content == o.content; }
};
using Tree = std::map<std::string, File>;

// A client tree with the three programs the package must hold, "version" and a settings
// file, marked with the text.
Tree ClientTree(const std::string& mark);

// The members of a good package of the tree: PackageInfo, Manifest, "Payload" and its
// folders and files.
std::vector<Member> PackageMembers(const Tree& tree, const std::string& version,
                                   const std::string& product = "VanTrelo");

// Writes the tree below dir (made when missing), folders 0755.
void WriteTree(const std::string& dir, const Tree& tree);
void WriteFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string ReadFile(const std::string& path);
// The bytes of a file a test copies and then runs or installs: a failure that names the
// file when it is missing, not a regular file or empty, so that a test never runs an empty
// stand-in in its place (a shell would run that as an empty script, with status 0).
::testing::AssertionResult ReadNeeded(const std::string& path, std::string* bytes);

// What lies below dir, path by path: "d <mode>", "f <mode> <content>", "l <target>" or
// "? <mode>"; the folder itself is "." with its mode.
std::map<std::string, std::string> Snapshot(const std::string& dir);
// The snapshot a tree written by WriteTree into a folder of that mode gives.
std::map<std::string, std::string> SnapshotOf(const Tree& tree, unsigned rootMode = 0755);

// The entries of a folder, sorted.
std::vector<std::string> Names(const std::string& dir);

// Runs the program with the arguments and waits: its exit status (-1 when it did not
// start or did not exit). Output goes to the test's standard error.
int Run(const std::vector<std::string>& argv);

// Puts the package bytes as "VanTreloInstaller.pkg" into a ".tar.gz" at path.
void WriteOuterPackage(const std::string& path, const std::string& pkg);

// Where tar, make-package.sh and the programs are.
std::string MakePackageScript();

}  // namespace pkg_test
