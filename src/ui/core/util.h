#pragma once
// The shared helpers of the Qt side: the one way it writes to the program log, the
// message boxes every window uses, and the readers and writers of the fixed text fields
// of the records it exchanges with the service.

#include <cstddef>

#include <QString>

// ---- Log and boxes -----------------------------------------------------------------------

// Writes text (as UTF-8) as one line of the program log, module 0 being "UI". Any thread.
void Util_WriteLog(int module, int level, const QString& text);

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

// ---- Fixed text fields ------------------------------------------------------------------
// A text field of a record is a byte string zero-padded to its width. Every read of one
// stops at the field's width, so a field the other side filled to its last byte (no
// terminator) never leads a reader into the next field. Every write clears the whole
// field first and stores a text only when it fits with its terminator; a text that
// does not fit leaves the field empty.

// The bytes before the first zero byte, at most width.
size_t Util_FieldLength(const char* field, size_t width);

// The field's text decoded as UTF-8, or with the local 8-bit codec.
QString Util_FieldToString(const char* field, size_t width);
QString Util_FieldToLocal8Bit(const char* field, size_t width);

// Stores len bytes (up to a zero byte among them) into the field: true when they fit
// in width - 1 bytes, false (field empty, the refusal reported by the bounded copy)
// otherwise.
bool Util_FieldSetBytes(char* field, size_t width, const char* bytes, size_t len);

// Stores the text's UTF-8 bytes, as Util_FieldSetBytes.
bool Util_FieldSetString(char* field, size_t width, const QString& text);

// Copies the text of another fixed field of srcWidth bytes. A source without a
// terminator within its width counts as too long: the field is left empty.
bool Util_FieldCopy(char* field, size_t width, const char* src, size_t srcWidth);
