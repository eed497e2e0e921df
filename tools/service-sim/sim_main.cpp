// The service simulator, installed as promote/VanTreloPromoteService. The front end
// starts it with no arguments and its own environment; the scenario file is named by
// the environment variable VANTRELO_SIM_SCENARIO (none: the default demo set-up).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim_scenario.h"
#include "sim_server.h"

int main() {
    sim::Scenario scenario = sim::DefaultScenario();
    const char* path = std::getenv("VANTRELO_SIM_SCENARIO");
    if (path != nullptr && path[0] != '\0') {
        std::string error;
        if (!sim::LoadScenarioFile(path, &scenario, &error)) {
            std::fprintf(stderr, "service-sim: %s\n", error.c_str());
            return 2;
        }
    }
    sim::Server server(std::move(scenario));
    return server.Run();
}
