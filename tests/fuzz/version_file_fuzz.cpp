// libFuzzer target: the version-file parser and the name rules that follow
// it, fed with the bytes a site could send.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/version.h"
#include "platform/text.h"
#include "updater/version_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = plat::FromAnsi(bytes);
    if (const auto file = updater::ParseVersionFile(text)) {
        if (file->latestVersion.empty() || file->installerURL.empty()) {
            __builtin_trap();
        }
        (void)ParseVersion(file->latestVersion);
        const auto parts = updater::SplitHttpUrl(file->installerURL);
        if (parts.host.size() + parts.object.size() > file->installerURL.size()) {
            __builtin_trap();
        }
        const std::wstring name = updater::InstallerFileName(file->installerURL);
        if (updater::IsSafeInstallerName(name) &&
            (name.find(L'/') != std::wstring::npos || name.find(L'\\') != std::wstring::npos ||
             name == L"..")) {
            __builtin_trap();
        }
    }
    (void)updater::HasArgumentsAfterProgramName(text);
    (void)updater::ParseContentLength(bytes);
    return 0;
}
