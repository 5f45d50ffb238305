// The Windows dialog's keyboard shortcuts and system-menu command, as its
// window messages carry them (WM_KEYDOWN and virtual-key codes, WM_SYSCOMMAND
// values). Free of windows.h, so that the rules are tested natively.
#pragma once

namespace finder {

inline constexpr unsigned kKeyDownMessage = 0x0100;  // WM_KEYDOWN
inline constexpr unsigned kKeyC = 0x43;
inline constexpr unsigned kKeyO = 0x4F;
// The system-menu command of the About item.
inline constexpr unsigned kAboutCommand = 0x0010;

// Ctrl+O, auto-repeat included; Shift and Alt do not matter.
constexpr bool IsOpenPageShortcut(unsigned message, unsigned virtualKey, bool ctrlDown) {
    return message == kKeyDownMessage && virtualKey == kKeyO && ctrlDown;
}

// Ctrl+C, auto-repeat included.
constexpr bool IsCopyShortcut(unsigned message, unsigned virtualKey, bool ctrlDown) {
    return message == kKeyDownMessage && virtualKey == kKeyC && ctrlDown;
}

// The About item, whatever the low four bits (the system's own use) hold.
constexpr bool IsAboutCommand(unsigned systemCommand) {
    return (systemCommand & 0xFFF0u) == kAboutCommand;
}

}  // namespace finder
