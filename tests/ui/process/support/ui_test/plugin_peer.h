#pragma once
// What stands at the other end of the plugin listener in the tests: the simulator's plugin
// client as a child process, started by its argument vector, and a program of a given
// user played by a forked process.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ui_test {

// A program in a child process, started by its argument vector (never through a shell:
// the build tree's path may hold blanks or quotes), its standard output in a pipe, its
// standard error the test's. Killed and reaped when it is still running at the end.
class ChildProgram {
public:
    ChildProgram(const std::string& program, const std::vector<std::string>& args);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool Started() const { return pid_ > 0; }
    // The next line it wrote, without its line break; false at its end or when nothing
    // came within timeoutMs.
    bool ReadLine(std::string* line, int timeoutMs = 20000);
    // Waits for its end: the exit code, or -1 when it was ended by a signal or did not
    // end within timeoutMs (it is killed then).
    int Wait(int timeoutMs = 20000);

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// A program of some user connected to the plugin listener, played by a forked process
// that runs nothing but system calls. It takes the user id (real, effective and saved,
// with the group of the same number and no supplementary groups) unless it is its own
// already, then waits for Go. Given the port, it connects to 127.0.0.1 (from an IPv6
// socket, as ::ffff:127.0.0.1, when asked to), sends its bytes
// and reads until a whole packet has come, the listener closed the connection, or 10 s
// passed; then it ends, closing its connection.
class PluginPeer {
public:
    struct Seen {
        bool started = false;    // the process ran and reported
        bool userTaken = false;  // it runs as the user asked for
        bool connected = false;
        bool closed = false;     // the listener closed the connection (end of stream or reset)
        bool timedOut = false;   // neither a whole packet nor a close within 10 s
        std::vector<uint8_t> got;  // every byte it read
    };

    PluginPeer(uid_t uid, const std::vector<uint8_t>& bytes, bool ipv6 = false);
    ~PluginPeer();
    PluginPeer(const PluginPeer&) = delete;
    PluginPeer& operator=(const PluginPeer&) = delete;

    bool Go(uint16_t port);
    // Waits for its report and its end (at most timeoutMs).
    Seen Wait(int timeoutMs = 20000);

private:
    pid_t pid_ = -1;
    int go_ = -1;      // the port goes here
    int report_ = -1;  // its report comes here
};

}  // namespace ui_test
