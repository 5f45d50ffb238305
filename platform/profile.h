// Private-profile (INI) reads and writes with the Windows semantics: section
// and key names match regardless of case, a quoted value comes without its
// quotes, a value is cut to capacity - 1 characters, and a write replaces one
// key and keeps the rest of the file, creating file and section when missing.
// A file may be UTF-8 (with or without a byte-order mark) or UTF-16 with its
// byte-order mark; a write keeps the file's encoding.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// The key's value, or defaultValue when the file, the section or the key is
// missing. capacity counts the terminator, as the Windows buffer does.
std::wstring ReadIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& defaultValue, std::size_t capacity,
                           const std::wstring& file);

bool WriteIniString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& file);

}  // namespace plat
