#include "finder/ui/dialog_logic.h"

namespace finder {

namespace {

// The second line of the empty list after a search that found nothing.
constexpr wchar_t kEmptyHint[] =
    L"別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。";

}  // namespace

std::wstring DevicePageURL(std::wstring_view address) {
    std::wstring url = L"http://";
    url.append(address);
    url.push_back(L'/');
    return url;
}

bool IsDottedAddress(std::wstring_view text) {
    int parts = 0;
    std::size_t digits = 0;
    unsigned value = 0;
    for (const wchar_t c : text) {
        if (c == L'.') {
            if (digits == 0 || ++parts > 3) {
                return false;
            }
            digits = 0;
            value = 0;
        } else if (c >= L'0' && c <= L'9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(c - L'0');
            ++digits;
            if (value > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

std::wstring SharedFolderPath(std::wstring_view address) {
    if (!IsDottedAddress(address)) {
        return {};
    }
    return L"\\\\" + std::wstring(address) + L"\\";
}

std::wstring SharedFolderURL(std::wstring_view address) {
    if (!IsDottedAddress(address)) {
        return {};
    }
    return L"smb://" + std::wstring(address) + L"/";
}

EmptyList EmptyListState(bool searching, int rows, std::size_t localAddresses) {
    if (searching || rows > 0) {
        return EmptyList::None;
    }
    return localAddresses == 0 ? EmptyList::Offline : EmptyList::NotFound;
}

std::wstring EmptyListText(EmptyList state) {
    switch (state) {
        case EmptyList::None:
            break;
        case EmptyList::NotFound:
            return std::wstring(L"機器が見つかりませんでした。\n") + kEmptyHint;
        case EmptyList::Offline:
            return L"ネットワークに接続されていません。";
    }
    return {};
}

std::wstring_view AddTargetMessage(discovery::AddTargetResult result) {
    using discovery::AddTargetResult;
    switch (result) {
        case AddTargetResult::Added:
            break;
        case AddTargetResult::Invalid:
            return L"アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。";
        case AddTargetResult::AlreadyThere:
            return L"この検索先はすでにあります。";
        case AddTargetResult::Full:
            return L"検索先は 32 件、合わせて 1,024 文字までです。";
    }
    return {};
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

}  // namespace finder
