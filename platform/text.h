// Conversions between the programs' wide texts and 8-bit text.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);

// 8-bit text from the network or a file, read in the system's ANSI code page
// (Windows) or as UTF-8 (POSIX).
// Bytes that do not convert become U+FFFD; nothing is dropped silently.
std::wstring FromAnsi(std::string_view bytes);

// Bytes in code page 932, whatever the system's code page: what the devices
// send for the Japanese Windows finder. Bytes that do not decode become U+FFFD.
std::wstring FromCp932(std::string_view bytes);

// Bytes in code page 932 converted as Windows converts them for a program
// whose ANSI code page is 932 (the system's converter, no flags), whatever
// the system's own code page: on a Japanese Windows the same as FromAnsi.
// Elsewhere the same as FromCp932.
std::wstring FromWindowsCp932(std::string_view bytes);

// How a program reads the devices' answers: the system's ANSI code page as
// above, code page 932 (one U+FFFD per undecodable byte, or as Windows
// converts it), or UTF-8.
enum class TextEncoding { Ansi, Cp932, WindowsCp932, Utf8 };
std::wstring Decode(std::string_view bytes, TextEncoding encoding);

#ifndef _WIN32
// A wide path as the file system takes it.
inline std::string NativePath(const std::wstring& path) { return ToUtf8(path); }
#endif

}  // namespace plat
