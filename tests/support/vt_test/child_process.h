#pragma once
// Runs a piece of a test in a forked child, for behaviour that changes process-wide
// state for good (start-up flags, signal dispositions) or that ends the process.
//
// Inside the child, GoogleTest's checks work as they do in the test itself
// (EXPECT_EQ, ASSERT_TRUE ... ; ASSERT_ needs a body that returns nothing): every check
// that fails in the child, from any of its threads, is handed to the parent through a
// pipe as it happens and failed again in the parent at the child's file and line, with
// the child's message and values. A child that dies or hangs after a failed check still
// has that check reported.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>

namespace vt_test {

// Exit code of a child whose body returned 0 although one of its checks failed.
constexpr int kChildCheckFailed = 99;

struct ChildResult {
    bool exited = false;     // ended through exit()/_exit() or a return from main
    int exitCode = -1;       // valid when exited
    bool signaled = false;   // ended by a signal
    int signal = 0;          // valid when signaled
    bool timedOut = false;   // killed because it ran past the time limit
    int failedChecks = 0;    // checks that failed in the child
    std::string report;      // those checks, "file:line: message", one after another
    std::string startError;  // why no child could be started, when none was
};

// Forks, runs body in the child and ends the child with body's result as its exit code
// (0 to 255; a body that returns nothing ends with 0), or kChildCheckFailed when the
// result was 0 but a check failed. The parent waits at most timeoutMs and kills the
// child after that.
ChildResult RunInChildBody(const std::function<int()>& body, int timeoutMs);

template <typename Body>
ChildResult RunInChild(Body&& body, int timeoutMs = 30000) {
    if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
        return RunInChildBody(
            [&body] {
                body();
                return 0;
            },
            timeoutMs);
    } else {
        return RunInChildBody([&body] { return static_cast<int>(body()); }, timeoutMs);
    }
}

// How the child ended, in words: "exited with 3", "killed by signal 11 (Segmentation
// fault)", "ran past its time limit", followed by its report.
std::string Describe(const ChildResult& r);

// Success when the child ended through exit with the given code; otherwise a failure
// that says how it ended instead.
::testing::AssertionResult ExitedWith(const ChildResult& r, int code = 0);

}  // namespace vt_test
