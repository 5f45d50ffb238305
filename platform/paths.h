// File-system facts the programs need about themselves and their folder.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
// MAX_PATH: the longest path the profile and shell functions take, terminator
// included.
inline constexpr std::size_t kMaxPath = 260;
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr std::size_t kMaxPath = 4096;
#endif

// Full path of the running executable, never cut; empty when unknown.
std::wstring ModuleFilePath();

// The path without its last component and without a trailing separator; a
// root keeps its separator ("C:\" on Windows, "/" on POSIX).
std::wstring RemoveFileSpec(const std::wstring& path);

// folder + separator + name, as the programs build every path of the folder.
std::wstring JoinPath(const std::wstring& folder, std::wstring_view name);

bool PathExists(const std::wstring& path);

// Removes a file; false when it could not be removed.
bool DeleteFilePath(const std::wstring& path);

// Moves the file from onto the name to in the same folder, replacing a file
// of that name in one step: to names either its old or its new bytes, never
// a mix. False when it could not be moved; from then stays as it was.
bool MoveFileReplacing(const std::wstring& from, const std::wstring& to);

}  // namespace plat
