// The service simulator, installed as promote/VanTreloPromoteService. The front end
// starts it with no arguments and its own environment; the scenario file is named by
// the environment variable VANTRELO_SIM_SCENARIO (none: the default demo set-up). As
// the promote service its notes go to its own log once it is up; under its tool name
// (tests) they stay on standard error.

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
#ifdef SIM_RUNS_AS_SERVICE
    // Started by the front end as its service, it lives on in the background.
    server.DetachOnceUp();
#endif
    return server.Run();
}
