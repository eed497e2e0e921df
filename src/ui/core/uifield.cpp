// Fixed text fields of the service's records.

#include "uifield.h"

#include <cstring>

#include <QByteArray>

#include "servicelink.h"

size_t Util_FieldLength(const char* field, size_t width) {
    return field == nullptr ? 0 : strnlen(field, width);
}

QString Util_FieldToString(const char* field, size_t width) {
    return QString::fromUtf8(field, static_cast<int>(Util_FieldLength(field, width)));
}

QString Util_FieldToLocal8Bit(const char* field, size_t width) {
    return QString::fromLocal8Bit(field, static_cast<int>(Util_FieldLength(field, width)));
}

bool Util_FieldSetBytes(char* field, size_t width, const char* bytes, size_t len) {
    if (field == nullptr || width == 0) {
        return false;
    }
    (void)UI_memset_s(field, width, 0, width);
    const size_t n = Util_FieldLength(bytes, len);
    if (n == 0) {
        return true;
    }
    // The bound keeps the last byte of the field for the terminator; a longer text is
    // refused by the copy, which leaves the field cleared.
    return UI_memcpy_s(field, width - 1, bytes, n) == 0;
}

bool Util_FieldSetString(char* field, size_t width, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return Util_FieldSetBytes(field, width, bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool Util_FieldCopy(char* field, size_t width, const char* src, size_t srcWidth) {
    if (field == nullptr || width == 0) {
        return false;
    }
    const size_t n = Util_FieldLength(src, srcWidth);
    if (src != nullptr && n == srcWidth) {
        // No terminator within the source field: too long, whatever the widths. The
        // copy is still offered to the bounded copy (with a count it must refuse, so it
        // reads nothing) so that the refusal is reported like any other.
        (void)UI_memset_s(field, width, 0, width);
        (void)UI_memcpy_s(field, width - 1, src, width);
        return false;
    }
    return Util_FieldSetBytes(field, width, src, n);
}
