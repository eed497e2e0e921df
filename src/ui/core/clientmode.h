#pragma once
// How the front end was started: by the user, by a browser plugin ("-p" and five launch
// values) or by a browser extension as its native-messaging host. Both browser-driven
// kinds run in plugin mode with the plugin listener started; a plugin start also fills
// the plugin launch record of UIContext from its values. Qt main thread, once, during
// start-up.

#include <QString>

// Decides the start kind from the argument vector (argc entries; a position at or
// beyond argc counts as a missing value). 0 when start-up may go on, -1 when it must
// end (the refusal has been logged, and boxed where the user must know).
int JudgeClientMode(int argc, char** argv);

// The native-messaging test of the first argument (null when there is none): 0 for
// "not native messaging" and for a native-messaging start whose listener started (plugin
// mode 1), -1 when that listener could not be started (after a box).
int JudgeNativeMessaging(const char* firstArg);

// The launch-value parsers. Each stores the value's bytes, when they fit the field less
// its terminator, into the field (a longer value leaves it empty and still succeeds,
// except where a length rule refuses it): 0 on success, -1 on a refused value (logged).
// field is char[1024]; a value longer than 1023 bytes is refused.
int SetPluginBrowserDir(const char* value, char* field);
// field is char[144]; an empty value is refused.
int SetPluginLoginAddr(const char* value, char* field);
// field is char[16].
int SetPluginUpdate(const char* value, char* field);
// addr is char[128]. "NoProxy" is stored as it is with port 0; anything else is split at
// its last ":" into host (stored) and port (its number, 0 when it is not one).
int SetPluginProxy(const char* value, char* addr, int* port);

// Tells a browser extension that drives the front end that the client is ready (the tip
// "init success" with flag 0). 0; -1 when the browser mutex is refused.
int PluginInitReport();

// The application path a browser registered under the Windows registry's "App Paths";
// empty where there is no registry, and for an empty name (logged).
QString GetBrowserPath(const QString& exeName);
