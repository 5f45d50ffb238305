// Sizes for the display's DPI, for programs whose manifest declares DPI
// awareness (per-monitor v2 on Windows 10 1703 and later, system-aware
// before). Windows 10's per-monitor functions are looked up at run time;
// where they are missing, the system DPI applies to every window.
#pragma once

#include <windows.h>

#include "platform/win32/handle.h"

namespace win {

inline constexpr UINT kDefaultDpi = 96;

// The DPI the window is drawn at: its monitor's under per-monitor
// awareness, otherwise the system's.
UINT WindowDpi(HWND window);

// A length meant for 96 DPI, at dpi.
inline int ScaleForDpi(int length, UINT dpi) {
    return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDefaultDpi));
}

// A system metric (SM_CXICON, ...) at dpi.
int SystemMetricForDpi(int index, UINT dpi);

// An icon resource of the running program at the big (SM_CXICON) or small
// (SM_CXSMICON) icon size for dpi.
CIconHandle LoadIconForDpi(UINT id, bool smallIcon, UINT dpi);

}  // namespace win
