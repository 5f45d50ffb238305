#include <windows.h>

#include "finder/ui/tobrel_dlg.h"

// After windows.h, which it builds on.
#include <commctrl.h>

#include <cstring>
#include <utility>

#include "finder/devices/wake_dialog_logic.h"
#include "finder/discovery/discovery.h"
#include "finder/discovery/search_targets.h"
#include "finder/discovery/search_worker.h"
#include "finder/ui/desktop_shell_win32.h"
#include "finder/ui/dialog_keys.h"
#include "finder/ui/dialog_logic.h"
#include "finder/ui/finder_resource.h"
#include "finder/ui/targets_dlg.h"
#include "finder/ui/targets_file.h"
#include "finder/ui/wake_dlg.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32/app.h"
#include "platform/win32/handle.h"

namespace {

// Both go to the desktop's shell, so that the browser or Explorer runs as the
// desktop's user and not with the finder's administrator rights.
void ShellOpenPage(HWND owner, const std::wstring& url) {
    finder::OpenAsDesktopUserInBackground(owner, url, finder::OpenTarget::kPage);
}

void ShellOpenFolder(HWND owner, const std::wstring& path) {
    finder::OpenAsDesktopUserInBackground(owner, path, finder::OpenTarget::kFolder);
}

constexpr UINT_PTR kListSubclassId = 1;
// The search that follows a wake.
constexpr UINT_PTR kWakeSearchTimer = 1;
constexpr wchar_t kDevicesFileName[] = L"devices.ini";

// Another program may hold the clipboard for a moment (a clipboard manager,
// a remote-desktop client): it is asked again for about half a second.
constexpr int kClipboardAttempts = 10;
constexpr DWORD kClipboardPauseMs = 50;

bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(owner)) {
            return true;
        }
        if (attempt == kClipboardAttempts) {
            return false;
        }
        Sleep(kClipboardPauseMs);
    }
}

// The clipboard, open for as long as the object lives.
class CClipboard {
  public:
    explicit CClipboard(HWND owner) : m_bOpen(OpenClipboardPatiently(owner)) {}
    ~CClipboard() {
        if (m_bOpen) {
            CloseClipboard();
        }
    }
    CClipboard(const CClipboard&) = delete;
    CClipboard& operator=(const CClipboard&) = delete;

    bool SetText(const std::wstring& text) {
        if (!m_bOpen || !EmptyClipboard()) {
            return false;
        }
        const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (block == nullptr) {
            return false;
        }
        if (void* data = GlobalLock(block)) {
            std::memcpy(data, text.c_str(), bytes);
            GlobalUnlock(block);
            // The clipboard owns the block once it has taken it.
            if (SetClipboardData(CF_UNICODETEXT, block) != nullptr) {
                return true;
            }
        }
        GlobalFree(block);
        return false;
    }

  private:
    bool m_bOpen;
};

}  // namespace

CTobrelDlg::CTobrelDlg()
    : CMainDialogImpl(IDD_TOBREL_DIALOG, {IDD_ABOUTBOX, IDS_ABOUTBOX}),
      m_pfnSearchProc(&SearchThreadProc),
      m_fnOpenPage(&ShellOpenPage),
      m_fnOpenFolder(&ShellOpenFolder),
      m_strTargetsFile(plat::JoinPath(plat::RemoveFileSpec(plat::ModuleFilePath()),
                                      discovery::kTargetsFileName)),
      m_strDevicesFile(
          plat::JoinPath(plat::RemoveFileSpec(plat::ModuleFilePath()), kDevicesFileName)),
      m_fnWake(&SendSystemWake),
      m_fnMacLookup(&devices::NeighbourMac) {}

CTobrelDlg::~CTobrelDlg() {
    // However the dialog goes, the worker must not outlive it.
    if (m_pSearchThread) {
        StopSearchAndWait();
    }
    DestroyWindow();
}

std::span<const win::EventEntry<CTobrelDlg>> CTobrelDlg::Events() {
    using D = CTobrelDlg;
    static constexpr win::EventEntry<D> table[] = {
        win::OnCommand(IDC_BUTTON_REFRESH, &D::OnRefresh, BN_CLICKED),
        win::OnMessage(WM_CLOSE, &D::OnClose),
        win::OnMessage(WM_SEARCH_START, &D::OnSearchStart),
        win::OnMessage(WM_DEVICE_FOUND, &D::OnDeviceFound),
        win::OnMessage(WM_SEARCH_END, &D::OnSearchEnd),
        win::OnNotify(HDN_ITEMDBLCLICKW, 0, &D::OnNothing),
        win::OnNotify(LVN_COLUMNCLICK, IDC_LIST_DEVICES, &D::OnNothing),
        win::OnNotify(NM_DBLCLK, IDC_LIST_DEVICES, &D::OnListDoubleClick),
        win::OnCommand(IDC_BUTTON_SETTINGS, &D::OnSettingsButton, BN_CLICKED),
        win::OnNotify(NM_SETFOCUS, IDC_LIST_DEVICES, &D::OnNothing),
        win::OnNotify(LVN_ITEMACTIVATE, IDC_LIST_DEVICES, &D::OnNothing),
        win::OnNotify(LVN_ITEMCHANGED, IDC_LIST_DEVICES, &D::OnListItemChanged),
        win::OnCommand(ID_MENU_SETTINGS, &D::OnMenuSettings),
        win::OnCommand(ID_MENU_SETTINGS, &D::OnMenuSettings, 1),  // as an accelerator
        win::OnNotify(NM_RCLICK, IDC_LIST_DEVICES, &D::OnListRightClick),
        win::OnMessage(WM_DPICHANGED, &D::OnDpiChanged),
        win::OnCommand(ID_MENU_OPEN_FOLDER, &D::OnMenuOpenFolder),
        win::OnCommand(ID_MENU_COPY_ADDRESS, &D::OnMenuCopyAddress),
        win::OnCommand(ID_MENU_SEARCH_TARGETS, &D::OnMenuSearchTargets),
        win::OnCommand(ID_MENU_WAKE, &D::OnMenuWake),
        win::OnMessage(WM_TIMER, &D::OnTimer),
    };
    return table;
}

bool CTobrelDlg::OnInitDialog() {
    m_listDevices.Attach(Item(IDC_LIST_DEVICES));
    SetWindowSubclass(m_listDevices.Hwnd(), &CTobrelDlg::ListSubclassProc, kListSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));

    AddAboutItem();
    m_nDpi = win::WindowDpi(Hwnd());
    LoadIcons(m_nDpi);

    InitDeviceList();
    m_remembered = devices::LoadDevices(m_strDevicesFile);

    m_bSettingsEnabled = false;
    m_bSearching = false;
    if (!m_pSearchThread) {
        StartSearch();
    }
    return true;
}

void CTobrelDlg::InitDeviceList() {
    int index = 0;
    for (const finder::ListColumn& column : finder::kDeviceColumns) {
        m_listDevices.InsertColumn(index++, column.title, win::ScaleForDpi(column.width, m_nDpi));
    }
    m_listDevices.SetExtendedStyle(LVS_EX_FULLROWSELECT);
}

void CTobrelDlg::LoadIcons(UINT dpi) {
    win::CIconHandle big = win::LoadIconForDpi(IDR_MAINFRAME, false, dpi);
    win::CIconHandle little = win::LoadIconForDpi(IDR_MAINFRAME, true, dpi);
    SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.Get()));
    SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(little.Get()));
    // The window no longer uses the old ones.
    m_bigIcon = std::move(big);
    m_smallIcon = std::move(little);
}

win::HandlerResult CTobrelDlg::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    // The window moved to a monitor of another scale (per-monitor awareness).
    const UINT dpi = LOWORD(wParam);
    if (dpi == 0 || dpi == m_nDpi) {
        return std::nullopt;
    }
    // Widths the user dragged keep their share.
    for (int column = 0; column < 2; ++column) {
        const int width = m_listDevices.ColumnWidth(column);
        m_listDevices.SetColumnWidth(
            column, MulDiv(width, static_cast<int>(dpi), static_cast<int>(m_nDpi)));
    }
    m_nDpi = dpi;
    LoadIcons(dpi);
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        SetWindowPos(Hwnd(), nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The dialog manager goes on to scale the font and the controls, which
    // keep their places in dialog units.
    return std::nullopt;
}

bool CTobrelDlg::StartSearch() {
    // Read afresh for every search; a damaged or missing file is no targets.
    m_searchTargets = finder::LoadTargets(m_strTargetsFile);
    m_hNotifyWnd = Hwnd();
    m_pSearchThread = win::CWorkerThread::Start(&CTobrelDlg::SearchThreadEntry, this);
    if (!m_pSearchThread) {
        return false;
    }
    ++m_nWorkersStarted;
    return true;
}

unsigned __stdcall CTobrelDlg::SearchThreadEntry(void* self) {
    auto* dialog = static_cast<CTobrelDlg*>(self);
    return dialog->m_pfnSearchProc(dialog);
}

void CTobrelDlg::NotifySearchStart() { SendMessageW(m_hNotifyWnd, WM_SEARCH_START, 0, 0); }

void CTobrelDlg::NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) {
    SendMessageW(m_hNotifyWnd, WM_DEVICE_FOUND, reinterpret_cast<WPARAM>(device.strAddress.c_str()),
                 static_cast<LPARAM>(index));
}

void CTobrelDlg::NotifySearchEnd() { PostMessageW(m_hNotifyWnd, WM_SEARCH_END, 0, 0); }

void CTobrelDlg::StopSearchAndWait() {
    m_bStopSearch = 1;
    if (m_pSearchThread) {
        // Wait on a handle of our own: a nested message loop inside a sent
        // message may forget the worker while we wait.
        HANDLE duplicate = nullptr;
        HANDLE process = GetCurrentProcess();
        if (DuplicateHandle(process, m_pSearchThread->Handle(), process, &duplicate, SYNCHRONIZE,
                            FALSE, 0)) {
            win::CHandle thread(duplicate);
            win::WaitServingSentMessages(thread.Get());
        } else {
            win::WaitServingSentMessages(m_pSearchThread->Handle());
        }
    }
    ClearDevices(m_mapDevices);
}

void CTobrelDlg::HideForClose() { ShowWindow(Hwnd(), SW_HIDE); }

void CTobrelDlg::OnOK() {
    HideForClose();
    if (m_pSearchThread) {
        StopSearchAndWait();
    }
    CMainDialogImpl::OnOK();
}

void CTobrelDlg::OnCancel() {
    HideForClose();
    if (m_pSearchThread) {
        StopSearchAndWait();
    }
    CMainDialogImpl::OnCancel();
}

win::HandlerResult CTobrelDlg::OnClose(WPARAM, LPARAM) {
    HideForClose();
    StopSearchAndWait();
    return std::nullopt;  // the dialog manager turns the close into IDCANCEL
}

win::HandlerResult CTobrelDlg::OnRefresh(WPARAM, LPARAM) {
    if (!m_pSearchThread) {
        StartSearch();
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnSearchStart(WPARAM, LPARAM) {
    ClearDevices(m_mapDevices);
    m_listDevices.DeleteAllItems();
    RedrawWindow(m_listDevices.Hwnd(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    SetEmptyText(L"");
    SetItemCaption(IDC_BUTTON_REFRESH, finder::kSearchingCaption);
    EnableItem(IDC_BUTTON_REFRESH, false);
    EnableItem(IDC_BUTTON_SETTINGS, false);
    m_bSettingsEnabled = false;
    m_bSearching = true;
    return 0;
}

win::HandlerResult CTobrelDlg::OnDeviceFound(WPARAM wParam, LPARAM lParam) {
    if (wParam == 0) {
        return 0;
    }
    // The text lives in the worker's buffer only while this handler runs.
    const std::wstring address(reinterpret_cast<const wchar_t*>(wParam));
    const auto entry = m_mapDevices.find(address);
    if (entry == m_mapDevices.end() || !entry->second) {
        return 0;
    }
    AddDeviceRow(static_cast<int>(lParam), entry->second->strName, address);
    RememberDevice(*entry->second);
    return 0;
}

void CTobrelDlg::RememberDevice(const DeviceInfo& device) {
    // Right after the answer the neighbour table holds the device's hardware
    // address, unless a router stands between.
    const std::uint32_t address = discovery::ParseIpv4(plat::ToUtf8(device.strAddress));
    const auto mac =
        m_fnMacLookup && address != 0xFFFFFFFFu ? m_fnMacLookup(address) : std::nullopt;
    devices::Remember(m_remembered, device.strAddress, device.strName, device.strDetail, mac,
                      devices::NowUtc());
    m_bRememberedChanged = true;
}

void CTobrelDlg::AddDeviceRow(int index, const std::wstring& name, const std::wstring& address) {
    const int row = m_listDevices.InsertItem(index, name);
    m_listDevices.SetItemText(row, 1, address);
}

win::HandlerResult CTobrelDlg::OnSearchEnd(WPARAM, LPARAM) {
    // The worker is leaving its thread function; its handle is ours to drop.
    m_pSearchThread.reset();
    if (m_bRememberedChanged) {
        devices::SaveDevices(m_strDevicesFile, m_remembered);
        m_bRememberedChanged = false;
    }
    EnableItem(IDC_BUTTON_REFRESH, true);
    SetItemCaption(IDC_BUTTON_REFRESH, finder::kRefreshCaption);
    m_bSearching = false;
    SetEmptyText(finder::EmptyListText(
        finder::EmptyListState(false, m_listDevices.ItemCount(), LocalAddresses())));
    if (m_listDevices.FirstSelected() >= 0) {
        EnableItem(IDC_BUTTON_SETTINGS, true);
        m_bSettingsEnabled = true;
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnListItemChanged(WPARAM, LPARAM) {
    if (finder::EnablesSettingsOnListChange(m_bSearching, m_bSettingsEnabled)) {
        EnableItem(IDC_BUTTON_SETTINGS, true);
        m_bSettingsEnabled = true;
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnNothing(WPARAM, LPARAM) { return 0; }

win::HandlerResult CTobrelDlg::OnSettingsButton(WPARAM, LPARAM) {
    if (finder::MayOpenDevicePage(finder::PageTrigger::SettingsButton, m_bSearching,
                                  m_listDevices.FirstSelected() >= 0)) {
        OpenDevicePage();
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnListDoubleClick(WPARAM, LPARAM) {
    if (finder::MayOpenDevicePage(finder::PageTrigger::DoubleClick, m_bSearching,
                                  m_listDevices.FirstSelected() >= 0)) {
        OpenDevicePage();
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnMenuSettings(WPARAM, LPARAM) {
    if (finder::MayOpenDevicePage(finder::PageTrigger::Command, m_bSearching,
                                  m_listDevices.FirstSelected() >= 0)) {
        OpenDevicePage();
    }
    return 0;
}

void CTobrelDlg::OpenDevicePage() {
    const int row = m_listDevices.FirstSelected();
    if (row < 0) {
        return;
    }
    const std::wstring address = m_listDevices.ItemText(row, 1);
    if (!finder::IsDottedAddress(address)) {
        return;
    }
    const std::wstring url = finder::DevicePageURL(address);
    if (m_fnOpenPage) {
        m_fnOpenPage(Hwnd(), url);
    }
}

std::wstring CTobrelDlg::SelectedAddress() const {
    const int row = m_listDevices.FirstSelected();
    if (row < 0) {
        return {};
    }
    std::wstring address = m_listDevices.ItemText(row, 1);
    return finder::IsDottedAddress(address) ? address : std::wstring{};
}

win::HandlerResult CTobrelDlg::OnMenuOpenFolder(WPARAM, LPARAM) {
    const std::wstring path = finder::SharedFolderPath(SelectedAddress());
    if (!path.empty() && m_fnOpenFolder) {
        m_fnOpenFolder(Hwnd(), path);
    }
    return 0;
}

win::HandlerResult CTobrelDlg::OnMenuCopyAddress(WPARAM, LPARAM) {
    CopySelectedAddress();
    return 0;
}

void CTobrelDlg::CopySelectedAddress() {
    const std::wstring address = SelectedAddress();
    if (address.empty()) {
        return;
    }
    CClipboard clipboard(Hwnd());
    clipboard.SetText(address);
}

win::HandlerResult CTobrelDlg::OnMenuSearchTargets(WPARAM, LPARAM) {
    CTargetsDlg targets(Hwnd(), m_strTargetsFile, [this] {
        if (!m_pSearchThread) {
            StartSearch();
        }
    });
    targets.DoModal();
    return 0;
}

win::HandlerResult CTobrelDlg::OnMenuWake(WPARAM, LPARAM) {
    std::vector<std::wstring> listed;
    for (int row = 0; row < m_listDevices.ItemCount(); ++row) {
        listed.push_back(m_listDevices.ItemText(row, 1));
    }
    CWakeDlg wake(Hwnd(), devices::DevicesNotListed(m_remembered, listed), m_fnWake, [this] {
        SetTimer(Hwnd(), kWakeSearchTimer, static_cast<UINT>(devices::WakeSearchDelay().count()),
                 nullptr);
    });
    wake.DoModal();
    return 0;
}

win::HandlerResult CTobrelDlg::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam != kWakeSearchTimer) {
        return std::nullopt;
    }
    // A search still running tries again in a second.
    if (!m_pSearchThread) {
        KillTimer(Hwnd(), kWakeSearchTimer);
        StartSearch();
    } else {
        SetTimer(Hwnd(), kWakeSearchTimer, 1000, nullptr);
    }
    return 0;
}

void CTobrelDlg::SetEmptyText(std::wstring text) {
    if (text == m_strEmptyText) {
        return;
    }
    m_strEmptyText = std::move(text);
    // Also the list's name, for screen readers and for tools that read it.
    SetWindowTextW(m_listDevices.Hwnd(), m_strEmptyText.c_str());
    InvalidateRect(m_listDevices.Hwnd(), nullptr, TRUE);
}

void CTobrelDlg::PaintEmptyText(HWND list) {
    if (m_strEmptyText.empty() || m_listDevices.ItemCount() > 0) {
        return;
    }
    RECT area{};
    GetClientRect(list, &area);
    RECT header{};
    if (HWND headerWnd = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        headerWnd != nullptr && GetWindowRect(headerWnd, &header)) {
        area.top += header.bottom - header.top;
    }
    const int margin = win::ScaleForDpi(12, m_nDpi);
    InflateRect(&area, -margin / 2, 0);
    area.top += margin;
    HDC dc = GetDC(list);
    if (dc == nullptr) {
        return;
    }
    const HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, m_strEmptyText.c_str(), static_cast<int>(m_strEmptyText.size()), &area,
              DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    ReleaseDC(list, dc);
}

LRESULT CALLBACK CTobrelDlg::ListSubclassProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR id, DWORD_PTR self) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &CTobrelDlg::ListSubclassProc, id);
    }
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_PAINT) {
        reinterpret_cast<CTobrelDlg*>(self)->PaintEmptyText(window);
    }
    return result;
}

win::HandlerResult CTobrelDlg::OnListRightClick(WPARAM, LPARAM) {
    if (m_bSearching) {
        return 0;
    }
    win::CMenuHandle menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_CONTEXT)));
    HMENU popup = menu ? GetSubMenu(menu.Get(), 0) : nullptr;
    if (popup == nullptr) {
        return 0;
    }
    // The two actions on a device are offered only with a device selected.
    if (SelectedAddress().empty()) {
        DeleteMenu(popup, ID_MENU_OPEN_FOLDER, MF_BYCOMMAND);
        DeleteMenu(popup, ID_MENU_COPY_ADDRESS, MF_BYCOMMAND);
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0,
                   Hwnd(), nullptr);
    return 0;
}

bool CTobrelDlg::IsCommandEnabled(UINT id) {
    return id == ID_MENU_SETTINGS ? true : CMainDialogImpl::IsCommandEnabled(id);
}

bool CTobrelDlg::PreTranslateMessage(MSG& msg) {
    if (finder::IsOpenPageShortcut(msg.message, static_cast<unsigned>(msg.wParam),
                                   GetKeyState(VK_CONTROL) < 0)) {
        OnMenuSettings(0, 0);
    }
    if (msg.hwnd == m_listDevices.Hwnd() &&
        finder::IsCopyShortcut(msg.message, static_cast<unsigned>(msg.wParam),
                               GetKeyState(VK_CONTROL) < 0)) {
        CopySelectedAddress();
    }
    // Never consumed: the dialog's own keyboard handling follows.
    return CMainDialogImpl::PreTranslateMessage(msg);
}

void CTobrelDlg::SetItemCaption(int id, const wchar_t* text) { SetWindowTextW(Item(id), text); }

void CTobrelDlg::EnableItem(int id, bool enable) { EnableWindow(Item(id), enable ? TRUE : FALSE); }
