#pragma once
// Platform fixtures for tests: start-up once per test process, and a capture of the
// platform log hook's reports.

#include <cstdint>
#include <string>
#include <vector>

namespace vt_test {

// Runs the platform's start-up (every step present) the first time it is called in the
// process, with HOME, XDG_CONFIG_HOME and TMPDIR pointing at a private folder that lives
// until the process ends, and waits until the clock tasks are running; later calls only
// return the first call's result.
uint32_t PlatformStartOnce();

// One report that reached the platform log hook, its message expanded.
struct LogRecord {
    uint32_t level = 0;
    uint16_t code = 0;
    uint16_t moduleId = 0;
    std::string source;
    std::string text;
};

// Installs a log hook that keeps every report (from any thread) while the object
// lives; the hook in force before comes back afterwards. One capture at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> Records() const;
    // Reports whose text contains the fragment.
    std::vector<LogRecord> Matching(const std::string& fragment) const;
    void Clear();
};

}  // namespace vt_test
