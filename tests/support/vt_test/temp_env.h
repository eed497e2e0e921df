#pragma once
// Gives a test its own HOME, XDG_CONFIG_HOME, TMPDIR and XDG_RUNTIME_DIR (a private
// folder, as a session's is) under a fresh temporary folder, so nothing a test does
// reaches the real home folder. (The front end's instance name does not follow these
// variables: a test that starts the program keeps apart by its own /tmp or by the
// setter that only tests call.) The previous values come back and the folder is removed
// when the object goes away.

#include <string>

namespace vt_test {

class TempEnv {
public:
    TempEnv();
    ~TempEnv();
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;

    const std::string& Root() const { return root_; }
    const std::string& Home() const { return home_; }
    const std::string& Tmp() const { return tmp_; }
    const std::string& Runtime() const { return runtime_; }

private:
    std::string root_;
    std::string home_;
    std::string tmp_;
    std::string runtime_;
    std::string oldHome_, oldXdg_, oldTmp_, oldRuntime_;
    bool hadHome_ = false, hadXdg_ = false, hadTmp_ = false, hadRuntime_ = false;
};

// Removes a folder and everything under it (no symlinks followed).
void RemoveTree(const std::string& path);

}  // namespace vt_test
