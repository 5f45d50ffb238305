// Quenlow: run before the tool set is removed. It resets the recorded
// downloaded version, so that the finder's next start deletes an installer
// left in the folder.
#include "common/profile_keys.h"
#include "platform/paths.h"
#include "platform/profile.h"

int main(int, char**) {
    const std::wstring modulePath = plat::ModuleFilePath();
    if (modulePath.empty()) {
        return 1;
    }
    const std::wstring profilePath =
        plat::JoinPath(plat::RemoveFileSpec(modulePath), profile::kProfileFileName);
    // A path the profile functions cannot take would be cut to another file:
    // leave the state alone and say so by the exit code.
    if (profilePath.size() >= plat::kMaxPath) {
        return 1;
    }
    plat::WriteIniString(profile::kUpdateSection, profile::kDownloadedVersion, profile::kNoVersion,
                         profilePath);
    return 0;
}
