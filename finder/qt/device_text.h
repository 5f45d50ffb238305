// Texts between the search core and Qt: wide strings to QString, and how the
// core reads the bytes of device names.
#pragma once

#include <QString>
#include <string>

namespace finder_qt {

inline QString ToQString(const std::wstring& text) { return QString::fromStdWString(text); }

// Devices send their names in code page 932 for the Japanese finder; the
// desktop finder reads them the same way. Call once before the first search.
void UseDeviceNameEncoding();

}  // namespace finder_qt
