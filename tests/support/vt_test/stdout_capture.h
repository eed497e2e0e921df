#pragma once
// What a test reads from its own standard output: the channel that belongs to a browser
// extension's native messages.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace vt_test {

// Runs fn with standard output on a pipe that a second thread drains, and returns what
// arrived. Checks stay outside fn: a failure printed inside would land in the pipe.
inline std::string CaptureStdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    int p[2];
    if (pipe(p) != 0) {
        ADD_FAILURE() << "no pipe";
        return std::string();
    }
    const int saved = dup(STDOUT_FILENO);
    dup2(p[1], STDOUT_FILENO);
    close(p[1]);
    std::string out;
    std::thread reader([&out, fd = p[0]] {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof(buf))) > 0) {
            out.append(buf, static_cast<size_t>(n));
        }
    });
    fn();
    dup2(saved, STDOUT_FILENO);  // the pipe's last writer goes: the reader sees its end
    close(saved);
    reader.join();
    close(p[0]);
    return out;
}

// The frame an extension reads: the length, least significant byte first, then the text.
inline std::string NativeFrame(const std::string& message) {
    std::string frame;
    const uint32_t n = static_cast<uint32_t>(message.size());
    for (int shift = 0; shift < 32; shift += 8) {
        frame.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
    return frame + message;
}

}  // namespace vt_test
