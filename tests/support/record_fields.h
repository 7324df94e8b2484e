// Small readers for the sensor's packed records and their C strings.
#pragma once

#include <QString>

// Packed record fields are read by value: binding a reference to them may be misaligned.
template <typename T>
T val(T value) {
    return value;
}

inline QString txt(const char* text) {
    return QString::fromLatin1(text);
}
