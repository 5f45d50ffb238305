// Facts read from a Windows program file (PE32), for checks of the shipped
// programs without running them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace petest {

struct PeImage {
    std::uint16_t machine = 0;            // 0x14c: 32-bit x86
    std::uint16_t magic = 0;              // 0x10b: PE32
    std::uint16_t subsystem = 0;          // 2: GUI, 3: console
    std::vector<std::string> imports;     // DLL names as written in the file
    std::optional<std::string> manifest;  // resource type 24, id 1
    // DependentLoadFlags of the load-config directory when the directory and
    // the structure it names (its own size field equal to the directory's
    // size) reach that field; 0x800: imports from System32 only.
    std::optional<std::uint16_t> dependentLoadFlags;
};

// nullopt when the bytes are not a well-formed PE image.
std::optional<PeImage> ReadPeImage(const std::string& bytes);

}  // namespace petest
