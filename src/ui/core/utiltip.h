#pragma once
// Answers to whoever drives the front end from a browser: a tip (a short text with a
// flag) to a browser plugin over its loopback connection or to a browser extension as
// a native message, and the one writer of native-messaging frames.
//
// Standard output belongs to native messaging: a frame is the message's UTF-8 byte
// count as four bytes, least significant first, then those bytes. Nothing else of the
// front end writes there, so frames never interleave.

#include <QString>

// Sends the text and flag (0 success, 1 failure, -1 an ordinary text) to the extension
// as the JSON {"PluginRecv":{"msgType":..,"cFlag":..,"LangMode":..,"cTip":".."}} when
// the front end is its native-messaging host, else to the plugin as a tip record (a
// text of more than 1023 UTF-8 bytes reaches the plugin empty). Failures are logged;
// nothing is reported to the caller. Qt main thread.
void Util_SendTipToPlugin(const QString& text, int flag);

// Writes one frame with the message to standard output: 0 when the whole frame was
// written, 1 for an empty message (nothing written) or a failed write (a closed reading
// end among them), each logged at level 3. Never raises SIGPIPE.
int Util_WriteNativeMessage(const QString& message);
