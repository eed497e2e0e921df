// Stand-in for serviceclient/VanTreloCS. The front end checks that this file exists
// and carries the rights it expects; the engine itself is simulated inside the
// promote-service simulator, so this program does nothing.

#include <cstdio>

int main() {
    std::fprintf(stderr, "VanTreloCS stand-in: the engine runs inside the service simulator\n");
    return 0;
}
