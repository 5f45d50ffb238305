// The Windows dialog's keyboard shortcuts, as its window messages carry
// them (WM_KEYDOWN and virtual-key codes). Free of windows.h, so that the
// rules are tested natively.
#pragma once

namespace finder {

inline constexpr unsigned kKeyDownMessage = 0x0100;  // WM_KEYDOWN
inline constexpr unsigned kKeyC = 0x43;
inline constexpr unsigned kKeyO = 0x4F;

// Ctrl+O, auto-repeat included; Shift and Alt do not matter.
constexpr bool IsOpenPageShortcut(unsigned message, unsigned virtualKey, bool ctrlDown) {
    return message == kKeyDownMessage && virtualKey == kKeyO && ctrlDown;
}

// Ctrl+C, auto-repeat included.
constexpr bool IsCopyShortcut(unsigned message, unsigned virtualKey, bool ctrlDown) {
    return message == kKeyDownMessage && virtualKey == kKeyC && ctrlDown;
}

}  // namespace finder
