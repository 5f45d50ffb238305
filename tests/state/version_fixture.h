// Program files that do or do not carry a product version, for the finder's
// ReadProductVersion. Natively they are small files holding (or lacking) the
// version record; under Windows they are real programs with (or without) a
// fitting VERSIONINFO resource.
#pragma once

#include <filesystem>
#include <string>

namespace statetest {

enum class VersionSource {
    k1000,        // "ProductVersion" = "1.0.0.0" in block "041103a4"
    kNone,        // no version information at all
    kOtherBlock,  // "ProductVersion" only in another block ("040904b0")
    kEmpty,       // "ProductVersion" present but empty
};

// A path to use as the finder's module path. May create a file in folder.
std::wstring VersionedModule(const std::filesystem::path& folder, VersionSource source);

}  // namespace statetest
