// libFuzzer target: the version-file parser and the name rules that follow
// it, and the signed file's lines and byte forms, fed with the bytes a site
// could send.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/version.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "updater/version_file.h"

namespace {

void SignedLines(const std::string& bytes) {
    if (const auto parts = updater::SplitSignedVersionFile(bytes)) {
        // The two parts and the line between them are the whole file.
        const std::size_t rest = bytes.size() - parts->signedBytes.size() - 10;
        if (bytes.compare(0, parts->signedBytes.size(), parts->signedBytes) != 0 ||
            bytes.compare(parts->signedBytes.size(), 10, "Signature=") != 0 ||
            parts->signature.size() + (bytes.back() == '\n' ? 1 : 0) != rest ||
            parts->signature.find('\n') != std::string_view::npos) {
            __builtin_trap();
        }
        if (const auto decoded = plat::DecodeBase64(parts->signature)) {
            if (decoded->size() > parts->signature.size() / 4 * 3) {
                __builtin_trap();
            }
            (void)plat::RawEcdsaP256Signature(*decoded);
        }
        if (const auto hex = updater::FindSha256Value(parts->signedBytes)) {
            if (hex->find('\n') != std::string_view::npos) {
                __builtin_trap();
            }
            (void)plat::ParseSha256Hex(*hex);
        }
    }
    const std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
    if (const auto rs = plat::RawEcdsaP256Signature(raw)) {
        if (raw.size() < 8 || raw.size() > 72) {
            __builtin_trap();
        }
    }
    (void)plat::P256PointOfPublicKey(raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = updater::VersionTextFromBytes(bytes);
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
    SignedLines(bytes);
    (void)updater::HasArgumentsAfterProgramName(text);
    (void)updater::ParseContentLength(bytes);
    return 0;
}
