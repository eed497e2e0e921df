#pragma once
// Whole-file reads and writes for the simulator. Every descriptor is opened
// close-on-exec: the simulator starts the update program while package transfers
// and the request log may hold files open, and none of them is the child's business.

#include <cstddef>
#include <string>

namespace sim {

// Reads the whole file into *out. False when it cannot be read, or when it holds
// more than maxBytes (then *tooBig is set when given).
bool ReadWholeFile(const std::string& path, std::string* out, size_t maxBytes,
                   bool* tooBig = nullptr);

// Creates or truncates the file (mode for a new file) and writes data; false on
// any error.
bool WriteWholeFile(const std::string& path, const std::string& data, unsigned mode = 0600);

}  // namespace sim
