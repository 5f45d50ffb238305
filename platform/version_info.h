// The product version that a program carries in its own file: the version
// resource (block "041103a4", "ProductVersion") on Windows, the version record
// linked into every program on POSIX.
#pragma once

#include <optional>
#include <string>

namespace plat {

// The "ProductVersion" text of the program file at modulePath, possibly
// empty; nullopt when the file carries no version information or no such
// value.
std::optional<std::wstring> QueryProductVersion(const std::wstring& modulePath);

}  // namespace plat
