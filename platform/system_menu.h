// The About item that a program's main dialog appends to its system menu.
// Free of windows.h, so that the rule is tested natively.
#pragma once

#include <cstdint>

namespace plat {

// Its system command (WM_SYSCOMMAND value).
inline constexpr unsigned kAboutCommand = 0x0010;

// Whether a system command is the About item; the system uses the low four
// bits for its own purposes.
constexpr bool IsAboutCommand(std::uintptr_t command) {
    return (command & 0xFFF0u) == kAboutCommand;
}

}  // namespace plat
