// The check of a downloaded installer right before the finder offers and
// starts it: the version file the Updater kept beside it must carry a valid
// signature of the release's key, name the version that was recorded as
// downloaded, and give the SHA-256 of the installer's bytes as they are now.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/held_file.h"

namespace finder {

// The most bytes a kept version file may have; a larger one is not ours.
inline constexpr std::size_t kMaxKeptVersionFile = 64 * 1024;

// Whether installer, held open from its start, is what keptVersionFile
// vouches for under publicKey, with downloadedVersion as its
// "LatestVersion=". Reads the installer to its end.
bool IsVerifiedInstaller(std::string_view keptVersionFile, std::wstring_view downloadedVersion,
                         plat::HeldFile& installer, const std::vector<std::uint8_t>& publicKey);

}  // namespace finder
