#pragma once
// The message boxes every window uses. The log line (uilog.h) and the fixed text fields
// (uifield.h) come with this header, so a window includes one header for all three.

#include <QString>

#include "uifield.h"
#include "uilog.h"

// A modal warning box: the given text, titled with the current language's WARNING text,
// one OK button. The module names the caller's source; the flag is the tip flag that
// goes with the text when it is sent to a browser instead of being shown: in plugin
// mode 1 a warning or error with a module name becomes a tip (Util_SendTipToPlugin), and
// one with an empty module name is always shown.
void Util_ShowWarning(const QString& text, const QString& module, int flag);

// The same with the error icon, titled ERROR.
void Util_ShowCritical(const QString& text, const QString& module, int flag);

// A modal question titled WARNING with OK and CANCEL: true only when OK was chosen
// (Escape and the window's close button count as CANCEL).
bool Util_ShowQuestion(const QString& text);

// Shows the text of the language key by display style: 2 the notification bubble, 1 the
// error box (also when a browser drives the front end), any other style only the log
// line.
void Util_ShowStyle(int style, const QString& key);

// Shows the text in the notification bubble.
void Util_ShowBubble(const QString& text);
