#pragma once
// A /tmp of a test's own, for a test that runs in a private mount namespace and must not
// meet (or leave) anything in the machine's /tmp, yet needs its build tree, which may lie
// under /tmp itself (a clone in a "mktemp -d" folder).

#include <string>
#include <vector>

namespace vt_test {

// Mounts a fresh tmpfs (mode 1777, without nosuid) over /tmp and binds back, at the same
// place, each folder directly under the old /tmp that holds one of the kept paths, so that
// paths compiled into the test still reach the programs and files they name. Call it in a
// child whose mount namespace is private ("/" made private first).
//
// ownPaths are the paths the test itself makes in the new /tmp; a kept folder that is one
// of them, or lies above or below one, is refused before anything is mounted (the test
// would write into, or remove, the build tree).
//
// Returns an empty string on success, else one line saying what failed.
std::string MountPrivateTmp(const std::vector<std::string>& keep,
                            const std::vector<std::string>& ownPaths = {});

}  // namespace vt_test
