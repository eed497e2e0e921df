#pragma once
// The steps of the front end's start that stand below the main window: the per-user
// folders, the system type, the language, the service connection and the plugin
// listener. The start itself, which builds the main window, is FrontEnd_Main
// (frontendmain.h).

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
