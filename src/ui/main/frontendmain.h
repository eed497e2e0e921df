#pragma once
// The front end's start: from nothing to the running event loop, with every refusal
// ending the start with its fixed status. It builds the main window, so it stands above
// it; the smaller steps it runs are in startup.h.

// The whole start, for a program's main to call with its arguments: 0 for a second
// instance and when the front-end state could not be set up, -1 for every other refusal
// (seen as 255 by the parent; among them an instance folder that is not the user's own,
// named in its box), else the event loop's result. Call it once per process, on its first
// thread.
int FrontEnd_Main(int& argc, char** argv);
