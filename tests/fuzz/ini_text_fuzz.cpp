// libFuzzer target: the INI text layer on "profile.ini" files that anyone
// may have edited. Reading never fails; a value just written reads back as
// written, and a write leaves the other keys as they were.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const auto otherBefore = plat::ini::FindValue(file, "Update", "CurrentVersion");
    (void)plat::ini::FindValue(file, "URL", "UpdateSiteURL");

    const std::string written = plat::ini::SetValue(file, "Update", "DownloadedVersion", "1.0.0.2");
    if (plat::ini::FindValue(written, "Update", "DownloadedVersion") != "1.0.0.2") {
        __builtin_trap();
    }
    if (plat::ini::FindValue(written, "Update", "CurrentVersion") != otherBefore) {
        __builtin_trap();
    }
    // Written again with the same value, the bytes stay.
    if (plat::ini::SetValue(written, "Update", "DownloadedVersion", "1.0.0.2") != written) {
        __builtin_trap();
    }
    return 0;
}
