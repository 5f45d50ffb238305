#include "finder/ui/dialog_logic.h"

namespace finder {

std::wstring DevicePageURL(std::wstring_view address) {
    std::wstring url = L"http://";
    url.append(address);
    url.push_back(L'/');
    return url;
}

bool MayOpenDevicePage(PageTrigger trigger, bool searching, bool hasSelection) {
    if (searching && trigger != PageTrigger::SettingsButton) {
        return false;
    }
    return hasSelection;
}

bool EnablesSettingsOnListChange(bool searching, bool settingsEnabled) {
    return !searching && !settingsEnabled;
}

bool IsOpenPageShortcut(unsigned message, unsigned virtualKey, bool ctrlDown) {
    return message == kKeyDownMessage && virtualKey == kKeyO && ctrlDown;
}

bool IsAboutCommand(unsigned systemCommand) { return (systemCommand & 0xFFF0u) == kAboutCommand; }

}  // namespace finder
