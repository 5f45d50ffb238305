// The text rules of INI files as the Windows private-profile functions apply
// them, on 8-bit file contents. The POSIX profile functions stand on these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat::ini {

// The value of key in section: the first matching section and the first
// matching key in it win; names compare without regard to ASCII case and
// without surrounding blanks; the value loses surrounding blanks and one pair
// of enclosing quotes (" or '). nullopt when the section or key is missing.
std::optional<std::string> FindValue(std::string_view fileText, std::string_view section,
                                     std::string_view key);

// fileText with key set to value in section: an existing key line is
// replaced in place, a new key goes after the last entry of the section, a
// new section goes at the end. Every other line, and the file's line ends,
// stay as they were; new lines end in CR LF unless the file uses LF alone.
std::string SetValue(std::string_view fileText, std::string_view section, std::string_view key,
                     std::string_view value);

}  // namespace plat::ini
