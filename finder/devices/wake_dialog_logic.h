// What the finders' wake dialogs decide, free of any window: which
// remembered devices they offer, how a typed hardware address is judged and
// when the search after a wake starts.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "finder/devices/remembered_devices.h"

namespace devices {

// The search after a wake waits this long: a storage device's network stack
// takes about as long to come up.
inline constexpr std::chrono::milliseconds kWakeSearchDelay{20000};
// kWakeSearchDelay, or SL_WAKE_SEARCH_DELAY_MS (0-600000) for tests.
std::chrono::milliseconds WakeSearchDelay();

// The remembered devices whose address the current list does not show,
// those seen last first.
std::vector<RememberedDevice> DevicesNotListed(const std::vector<RememberedDevice>& remembered,
                                               const std::vector<std::wstring>& listed);

// The remembered device's last address as a number for PlanWake, when it is
// one.
std::optional<std::uint32_t> LastAddressOf(const RememberedDevice& device);

// The dialog's message for a typed text that is not a hardware address; it
// names the text.
std::wstring RefusedMacMessage(std::wstring_view text);

}  // namespace devices
