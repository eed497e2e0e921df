#pragma once
// Starting the update program the way the update program expects to be started:
// element 0 of its argument vector is the parameter text (package path, download URL,
// login name and flag separated by ";", in GBK), element 1 the launch token.

#include <string>
#include <vector>

#include <sys/types.h>

#include "sim_records.h"

namespace sim {

extern const char kUpdateLaunchToken[];

// The argument vector for an update request record; the text is converted from
// UTF-8 to GBK (left as it is, with a note in *warning, when it cannot be).
std::vector<std::string> BuildUpdateArgs(const Record& update, const std::string& flag,
                                         std::string* warning);

// Spawns program with exactly these arguments and the simulator's environment.
bool SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                  pid_t* pid, std::string* error);

}  // namespace sim
