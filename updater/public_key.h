// The public key that update signatures are checked with, built into the
// program (CMake cache variable SL_UPDATE_PUBLIC_KEY); empty when the program
// was built without one, and then nothing is verified.
#pragma once

#include <cstdint>
#include <vector>

namespace updater {

std::vector<std::uint8_t> UpdatePublicKey();

}  // namespace updater
