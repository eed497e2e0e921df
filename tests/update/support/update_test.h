#pragma once
// Shared pieces of the update program's tests: the platform and its log started once
// per test process, the update lines of that log, a recording stand-in for the kill by
// name, and the language texts of the runnable tree.

#include <string>
#include <vector>

#include <QString>

namespace update_test {

// Starts the platform (private HOME) and names the log "updtest". Call first.
void LogSetUp();
// The messages of this process's update lines (module UPDATE), each without the log's
// prefix and the "[65535]" that starts it, in order; level names with them as
// "INFO|text", "WARN|text", "ERROR|text".
std::vector<std::string> UpdateLines();
size_t LogCount(const std::string& fragment);
// The folder the log writes into.
std::string LogDir();

// The kill stand-in: records the names in order.
void RecordKill(const char* pcName);
std::vector<std::string>& Killed();

// A text of the label file of that language in the runnable tree ("" for a missing key).
QString Label(int language, const QString& key);

}  // namespace update_test
