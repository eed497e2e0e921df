#pragma once
// The front end's start: from nothing to the running event loop, with every refusal
// ending the start with its fixed status, and the small steps only the start uses.

// The whole start, for a program's main to call with its arguments: 0 for a second
// instance and when the front-end state could not be set up, -1 for every other refusal
// (seen as 255 by the parent), else the event loop's result. Call it once per process,
// on its first thread.
int FrontEnd_Main(int& argc, char** argv);

// Creates $HOME/.VanTrelo and, with it, its "config" folder (mode 0700). An existing
// ".VanTrelo" is left as it is, even without "config". Failures are not reported.
void CreateUserDir();

// The application font, the system type and the program's folders in UIContext.
void InitSystemType();

// Settles the interface language: the plugin's choice in plugin mode (not saved), else
// the stored language when it is installed, else the system language, stored and saved
// when the configuration came from the service. 0, or -1 when it cannot be settled.
int InitLanguage();

// Connects to the VPN service, telling the user of every failure but a refused start of
// the promote service (logged below). True when connected.
bool Util_ConnectService();

// Starts the plugin listener. True when its task was created.
bool Util_StartPluginService();
