// The bytes of the simulated installer: generated, so that any size needs no
// disk file, and checkable by tests. 251 is prime, so no chunk size lines up
// with the pattern.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sitecontent {

inline constexpr unsigned kPeriod = 251;

inline std::uint8_t ByteAt(std::uint64_t offset) {
    return static_cast<std::uint8_t>(offset % kPeriod);
}

// Fills out with the bytes from offset on.
inline void Fill(std::uint64_t offset, unsigned char* out, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = ByteAt(offset + i);
    }
}

}  // namespace sitecontent
