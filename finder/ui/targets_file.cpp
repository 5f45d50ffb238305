#include "finder/ui/targets_file.h"

#include "finder/discovery/search_targets.h"
#include "platform/profile.h"

namespace finder {

namespace {

// Room for a damaged, overlong value: the list's own rules cut it.
constexpr std::size_t kReadCapacity = 4 * discovery::kMaxRememberedChars;

}  // namespace

std::vector<std::wstring> LoadTargets(const std::wstring& file) {
    if (file.empty()) {
        return {};
    }
    return discovery::ParseTargetList(plat::ReadIniString(
        discovery::kTargetsSection, discovery::kTargetsKey, L"", kReadCapacity, file));
}

bool SaveTargets(const std::wstring& file, const std::vector<std::wstring>& targets) {
    return !file.empty() && plat::WriteIniString(discovery::kTargetsSection, discovery::kTargetsKey,
                                                 discovery::FormatTargetList(targets), file);
}

}  // namespace finder
