// Texts between the search core and Qt: wide strings to QString, and how the
// core reads the bytes of device names.
#pragma once

#include <QString>
#include <string>

#include "platform/text.h"

namespace finder_qt {

inline QString ToQString(const std::wstring& text) { return QString::fromStdWString(text); }

// How the desktop finder reads the devices' answers: devices send their names
// in code page 932 for the Japanese finder, so code page 932, as slfind does
// by default.
inline constexpr plat::TextEncoding kDeviceNameEncoding = plat::TextEncoding::Cp932;

}  // namespace finder_qt
