// Standard output and error of a console program, and its Ctrl+C.
#pragma once

#include <string_view>

namespace plat {

enum class Stream { Out, Err };

// Writes text and a line end at once, flushed. A console gets the wide text
// itself (Windows); a file or pipe gets UTF-8.
void WriteLine(Stream stream, std::wstring_view text);

// Calls handler (which must only set lock-free atomics) on Ctrl+C, and on
// Windows also on Ctrl+Break, instead of ending the program. Blocking waits
// of the calling program may end early with an interrupted error (POSIX).
void OnInterrupt(void (*handler)());

}  // namespace plat
