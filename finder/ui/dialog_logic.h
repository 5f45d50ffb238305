// The main dialog's decisions, free of any window: texts, guards and the
// rules that enable the 設定 button.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "finder/discovery/search_targets.h"

namespace finder {

// The main dialog's caption, also the single-instance key: the words
// followed by one U+3000 IDEOGRAPHIC SPACE.
inline constexpr wchar_t kMainDialogCaption[] = L"ソルベリオ Windows Tool\u3000";
inline constexpr wchar_t kRefreshCaption[] = L"更新";
inline constexpr wchar_t kSearchingCaption[] = L"検索中...";

// The device list's columns, in order; widths in pixels at 96 DPI.
struct ListColumn {
    const wchar_t* title;
    int width;
};
inline constexpr ListColumn kDeviceColumns[] = {{L"Name", 200}, {L"IP Address", 200}};

// "http://" + address + "/".
std::wstring DevicePageURL(std::wstring_view address);

// Whether text is a dotted IPv4 address (four decimal parts of 1 to 3 digits,
// each at most 255) and nothing else: the only text that goes into a device
// page's URL or a shared-folder path.
bool IsDottedAddress(std::wstring_view text);
// "\\" + address + "\" (the device's shared folders), or empty unless the
// address is dotted.
std::wstring SharedFolderPath(std::wstring_view address);
// "smb://" + address + "/", or empty unless the address is dotted.
std::wstring SharedFolderURL(std::wstring_view address);

// What the search-target dialog says when an entry is not added (empty for
// an added one), and when the list cannot be saved.
std::wstring_view AddTargetMessage(discovery::AddTargetResult result);
inline constexpr wchar_t kTargetsNotSaved[] = L"search.ini に保存できませんでした。";

// What the empty list shows inside its area.
enum class EmptyList { None, NotFound, Offline };
// After a search: nothing while rows are listed or a search runs; Offline
// when the search found no IPv4 address besides loopback.
EmptyList EmptyListState(bool searching, int rows, std::size_t localAddresses);
// The text for a state: two lines for NotFound, one for Offline.
std::wstring EmptyListText(EmptyList state);

// What asks for the device page.
enum class PageTrigger { SettingsButton, DoubleClick, Command };

// Whether the device page may be opened now. The button is disabled during a
// search and so is not guarded by it; the other triggers are.
bool MayOpenDevicePage(PageTrigger trigger, bool searching, bool hasSelection);

// After a search: the first list change enables 設定, once.
bool EnablesSettingsOnListChange(bool searching, bool settingsEnabled);

}  // namespace finder
