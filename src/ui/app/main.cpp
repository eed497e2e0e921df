// The front end's program: everything it does is the start function of the library, so
// tests can run the same start in-process.

#include <signal.h>

#include "frontendmain.h"

int main(int argc, char** argv) {
    // A browser or the service may close its end at any time; a write to it must fail,
    // not end the client.
    (void)signal(SIGPIPE, SIG_IGN);
    return FrontEnd_Main(argc, argv);
}
