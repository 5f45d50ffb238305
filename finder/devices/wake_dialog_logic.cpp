#include "finder/devices/wake_dialog_logic.h"

#include <algorithm>

#include "finder/discovery/discovery.h"
#include "platform/environment.h"
#include "platform/text.h"

namespace devices {

std::chrono::milliseconds WakeSearchDelay() {
    return std::chrono::milliseconds(
        plat::EnvNumber("SL_WAKE_SEARCH_DELAY_MS", 0, 600000).value_or(kWakeSearchDelay.count()));
}

std::vector<RememberedDevice> DevicesNotListed(const std::vector<RememberedDevice>& remembered,
                                               const std::vector<std::wstring>& listed) {
    std::vector<RememberedDevice> out;
    for (const RememberedDevice& device : remembered) {
        if (std::find(listed.begin(), listed.end(), device.address) == listed.end()) {
            out.push_back(device);
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.lastSeen > b.lastSeen; });
    return out;
}

std::optional<std::uint32_t> LastAddressOf(const RememberedDevice& device) {
    const std::uint32_t address = discovery::ParseIpv4(plat::ToUtf8(device.address));
    if (address == 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return address;
}

std::wstring RefusedMacMessage(std::wstring_view text) {
    // A pasted text may be long: the message names its start.
    constexpr std::size_t kShown = 40;
    std::wstring shown(text.substr(0, kShown));
    if (text.size() > kShown) {
        shown += L"…";
    }
    return L"「" + shown +
           L"」は MAC アドレスではありません。12 桁の 16 進数を、2 桁ごとに「-」か「:」で区切るか、"
           L"区切らずに入力してください (例: 00-11-22-AA-BB-CC)。";
}

}  // namespace devices
