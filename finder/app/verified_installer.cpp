#include "finder/app/verified_installer.h"

#include "platform/crypto.h"
#include "updater/version_file.h"

namespace finder {

bool IsVerifiedInstaller(std::string_view keptVersionFile, std::wstring_view downloadedVersion,
                         plat::HeldFile& installer, const std::vector<std::uint8_t>& publicKey) {
    const auto verified = updater::VerifySignedVersionFile(keptVersionFile, publicKey);
    if (!verified || verified->file.latestVersion != downloadedVersion) {
        return false;
    }
    plat::Sha256 hash;
    if (!hash.Ok()) {
        return false;
    }
    std::vector<char> block(65536);
    for (;;) {
        const auto got = installer.Read(block.data(), block.size());
        if (!got) {
            return false;
        }
        if (*got == 0) {
            break;
        }
        hash.Update(block.data(), *got);
    }
    const auto digest = hash.Finish();
    return digest && *digest == verified->installerSha256;
}

}  // namespace finder
