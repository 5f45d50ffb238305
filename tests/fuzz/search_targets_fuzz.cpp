// libFuzzer target: a remembered-targets value (as search.ini or a command
// line would hand it over) through the target rules. Whatever is kept must
// be a valid target whose text reads back as itself, within the list's
// limits, and no target stands for more than 1,024 addresses.
#include <cstddef>
#include <cstdint>
#include <string>

#include "finder/discovery/search_targets.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * discovery::kMaxRememberedChars) {
        return 0;
    }
    const std::wstring value =
        plat::FromUtf8(std::string(reinterpret_cast<const char*>(data), size));
    const auto targets = discovery::ParseTargetList(value);
    if (targets.size() > discovery::kMaxRememberedTargets ||
        discovery::FormatTargetList(targets).size() > discovery::kMaxRememberedChars) {
        __builtin_trap();
    }
    for (const std::wstring& text : targets) {
        discovery::SearchTarget target;
        if (discovery::ParseTarget(text, target) != discovery::TargetError::None ||
            target.text != text || discovery::TargetAddresses(target).size() > 1024) {
            __builtin_trap();
        }
    }
    return 0;
}
