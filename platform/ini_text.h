// The text rules of INI files as the Windows private-profile functions apply
// them, on 8-bit file contents. The POSIX profile functions stand on these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat::ini {

// The value of key in section: the first matching section and the first
// matching key in it win. Names compare without regard to ASCII case and
// without surrounding blanks (also blanks inside a section's brackets). The
// value loses surrounding blanks and one pair of enclosing quotes (" or ').
// nullopt when the section or key is missing, or when the key's line has no
// "=". Lines end in CR LF, LF or CR; a leading UTF-8 byte-order mark is
// skipped.
std::optional<std::string> FindValue(std::string_view fileText, std::string_view section,
                                     std::string_view key);

// fileText with key set to value in section: an existing key line is
// replaced in place (keeping the key's spelling), a new key goes after the
// last entry of the section, a new section goes at the end. The value loses
// its leading blanks. Every other line, the file's line ends and a byte-order
// mark stay as they were; new lines end as the file's first line does (CR LF
// for a new file).
std::string SetValue(std::string_view fileText, std::string_view section, std::string_view key,
                     std::string_view value);

// value without one pair of enclosing quotes, as values and defaults are read.
std::string StripValueQuotes(std::string_view value);

}  // namespace plat::ini
