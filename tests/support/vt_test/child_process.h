#pragma once
// Runs a piece of a test in a forked child, for behaviour that changes process-wide
// state for good (start-up flags, signal dispositions) or that ends the process.

#include <functional>
#include <string>

namespace vt_test {

struct ChildResult {
    bool exited = false;     // ended through exit()/_exit() or a return from main
    int exitCode = -1;       // valid when exited
    bool signaled = false;   // ended by a signal
    int signal = 0;          // valid when signaled
    bool timedOut = false;   // killed because it ran past the time limit
};

// Forks, runs body in the child and ends the child with body's result as its exit
// code (0 to 255). The parent waits at most timeoutMs and kills the child after that.
ChildResult RunInChild(const std::function<int()>& body, int timeoutMs = 30000);

}  // namespace vt_test
