#pragma once
// A benchmark that starts the platform gets its log folder under HOME: point HOME (and
// the temporary folder) at a fresh folder of its own so no run ever writes into the
// real home of whoever measures.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <stdlib.h>

// Makes <TMPDIR or /tmp>/<tag>-XXXXXX and sets HOME, XDG_CONFIG_HOME and TMPDIR to it.
// Returns the folder, or an empty text (with a notice on stderr) when none could be made.
inline std::string BenchHomeMake(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" +
                         tag + "-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        std::perror("mkdtemp");
        return std::string();
    }
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);
    return folder;
}
