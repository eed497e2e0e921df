#pragma once
// Readers and writers of the fixed text fields of the records the front end exchanges
// with the service. Nothing here depends on the rest of the front end.

#include <cstddef>

#include <QString>

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
