#pragma once
// The state file: what the simulator keeps across runs, as the real service does, so
// that a profile deleted or a language chosen in one run of the demo is still so in the
// next. Written whole to a temporary file and renamed over the old one, so a crash
// leaves either the old state or the new, never half of one.

#include <string>

#include "sim_engine.h"

namespace sim {

class StateFile {
public:
    // $HOME/.VanTrelo/sim-state.json; empty without HOME.
    static std::string DefaultPath();

    // Takes the state from the file at path into the engine. Without a file the
    // engine's state is written there. A damaged file is put aside as path + ".bad",
    // with one note on standard error, and the engine keeps its state, which is then
    // written. An empty path keeps the state in memory only.
    void Open(const std::string& path, Engine* engine);

    // Writes the engine's state when it differs from what the file holds.
    void Save(const Engine& engine);

    const std::string& Path() const { return path_; }

private:
    bool Write(const std::string& text);

    std::string path_;
    std::string written_;   // the text the file holds
    bool failNoted_ = false;
};

}  // namespace sim
