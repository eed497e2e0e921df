// Takes the system language in a process of its own, so that each test case starts
// with the locale its environment names (Qt reads the system locale once per process).
// Reports on standard error: "id=<identifier the texts were loaded for>" and every log
// line of the choice, "log=<line>".

#include <cstdio>
#include <string>

#include <QCoreApplication>

#include "languagesetting.h"
#include "systemlanguage.h"
#include "ui_test/ui_sim.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ui_test::LinkSetUp();
    GetSystemLanguage();
    std::fprintf(stderr, "id=%d\n", LanguageSetting::GetInstance()->GetLanguageId());
    for (const std::string& line : ui_test::LogLines()) {
        if (line.find("[Get system language]") != std::string::npos) {
            std::fprintf(stderr, "log=%s\n", line.c_str());
        }
    }
    return 0;
}
