// The main dialog's decisions, free of any window: texts, guards and the
// rules that enable the 設定 button.
#pragma once

#include <string>
#include <string_view>

namespace finder {

// The main dialog's caption, also the single-instance key: the words
// followed by one U+3000 IDEOGRAPHIC SPACE.
inline constexpr wchar_t kMainDialogCaption[] = L"ソルベリオ Windows Tool\u3000";
inline constexpr wchar_t kRefreshCaption[] = L"更新";
inline constexpr wchar_t kSearchingCaption[] = L"検索中...";
inline constexpr wchar_t kColumnName[] = L"Name";
inline constexpr wchar_t kColumnAddress[] = L"IP Address";
inline constexpr int kColumnWidth = 200;

// "http://" + address + "/".
std::wstring DevicePageURL(std::wstring_view address);

// What asks for the device page.
enum class PageTrigger { SettingsButton, DoubleClick, Command };

// Whether the device page may be opened now. The button is disabled during a
// search and so is not guarded by it; the other triggers are.
bool MayOpenDevicePage(PageTrigger trigger, bool searching, bool hasSelection);

// After a search: the first list change enables 設定, once.
bool EnablesSettingsOnListChange(bool searching, bool settingsEnabled);

// Ctrl+O, auto-repeat included; Shift and Alt do not matter.
inline constexpr unsigned kKeyDownMessage = 0x0100;  // WM_KEYDOWN
inline constexpr unsigned kKeyO = 0x4F;
bool IsOpenPageShortcut(unsigned message, unsigned virtualKey, bool ctrlDown);

// The system-menu command of the About item, whatever its low four bits.
inline constexpr unsigned kAboutCommand = 0x0010;
bool IsAboutCommand(unsigned systemCommand);

}  // namespace finder
