#pragma once
// Sets the four locale variables that name the user's language for the life of the
// object, each to a text or unset (nullptr), and puts the previous values back after.

#include <cstdlib>
#include <string>

namespace uninstall_test {

struct LocaleVars {
    const char* pcLanguage;    // LANGUAGE
    const char* pcLcAll;       // LC_ALL
    const char* pcLcMessages;  // LC_MESSAGES
    const char* pcLang;        // LANG
};

class LocaleEnv {
public:
    explicit LocaleEnv(const LocaleVars& vars) {
        const char* values[kCount] = {vars.pcLanguage, vars.pcLcAll, vars.pcLcMessages,
                                      vars.pcLang};
        for (int i = 0; i < kCount; ++i) {
            const char* old = getenv(kNames[i]);
            had_[i] = old != nullptr;
            old_[i] = old != nullptr ? old : "";
            Put(kNames[i], values[i]);
        }
    }
    ~LocaleEnv() {
        for (int i = 0; i < kCount; ++i) {
            Put(kNames[i], had_[i] ? old_[i].c_str() : nullptr);
        }
    }
    LocaleEnv(const LocaleEnv&) = delete;
    LocaleEnv& operator=(const LocaleEnv&) = delete;

private:
    static constexpr int kCount = 4;
    static constexpr const char* kNames[kCount] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

    static void Put(const char* name, const char* value) {
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }

    bool had_[kCount] = {};
    std::string old_[kCount];
};

}  // namespace uninstall_test
