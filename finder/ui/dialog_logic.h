// The main dialog's decisions, free of any window: texts, guards and the
// rules that enable the 設定 button.
#pragma once

#include <cstddef>
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

// Whether text is a dotted IPv4 address (four decimal parts of 1 to 3 digits,
// each at most 255) and nothing else: the only text that goes into a device
// page's URL or a shared-folder path.
bool IsDottedAddress(std::wstring_view text);
// "\\" + address + "\" (the device's shared folders), or empty unless the
// address is dotted.
std::wstring SharedFolderPath(std::wstring_view address);
// "smb://" + address + "/", or empty unless the address is dotted.
std::wstring SharedFolderURL(std::wstring_view address);

// The context menu's additions and the search-target dialog.
inline constexpr wchar_t kMenuOpenFolder[] = L"フォルダーを開く";
inline constexpr wchar_t kMenuCopyAddress[] = L"アドレスをコピー";
inline constexpr wchar_t kMenuSearchTargets[] = L"検索先を指定...";
inline constexpr wchar_t kTargetsDialogCaption[] = L"検索先の指定";
inline constexpr wchar_t kTargetInvalid[] =
    L"アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。";
inline constexpr wchar_t kTargetAlreadyThere[] = L"この検索先はすでにあります。";
inline constexpr wchar_t kTargetsFull[] = L"検索先は 32 件、合わせて 1,024 文字までです。";
inline constexpr wchar_t kTargetsNotSaved[] = L"search.ini に保存できませんでした。";

// What the empty list shows inside its area.
inline constexpr wchar_t kEmptyNotFound[] = L"機器が見つかりませんでした。";
inline constexpr wchar_t kEmptyHint[] =
    L"別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。";
inline constexpr wchar_t kEmptyOffline[] = L"ネットワークに接続されていません。";

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
