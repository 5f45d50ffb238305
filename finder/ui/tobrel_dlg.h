// The finder's main dialog: the device list, the search states of its two
// buttons, the device page, the context menu, Ctrl+O, the About entry of the
// system menu, the close that hides the window and stops the search worker,
// and the list's and icons' sizes for the display's DPI.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "finder/devices/remembered_devices.h"
#include "finder/devices/wake.h"
#include "finder/discovery/search_host.h"
#include "finder/ui/search_messages.h"
#include "platform/win32/dialog.h"
#include "platform/win32/dpi.h"
#include "platform/win32/list_view.h"
#include "platform/win32/thread.h"

class CTobrelDlg : public win::CMainDialogImpl<CTobrelDlg>, public SearchHost {
  public:
    // The search procedure run on the worker thread; SearchThreadProc unless
    // a test puts its own in.
    using SearchProc = unsigned (*)(SearchHost* host);
    // Hands a device page's URL to the shell's "open" verb.
    using PageOpener = std::function<void(HWND owner, const std::wstring& url)>;
    // Hands a device's shared-folder path (\\ADDRESS\) to the shell's "open" verb.
    using FolderOpener = PageOpener;

    CTobrelDlg();
    ~CTobrelDlg() override;

    static std::span<const win::EventEntry<CTobrelDlg>> Events();

    // Test seams; both must be set before the dialog is created.
    void SetSearchProc(SearchProc proc) { m_pfnSearchProc = proc; }
    void SetPageOpener(PageOpener opener) { m_fnOpenPage = std::move(opener); }
    void SetFolderOpener(FolderOpener opener) { m_fnOpenFolder = std::move(opener); }
    // "search.ini"; by default beside the program (and its "profile.ini").
    void SetTargetsFile(std::wstring path) { m_strTargetsFile = std::move(path); }
    // "devices.ini", beside "profile.ini" by default.
    void SetDevicesFile(std::wstring path) { m_strDevicesFile = std::move(path); }
    // Sends a wake (the system's by default); the hardware address of a
    // device that answered (the neighbour table's by default).
    using Waker =
        std::function<bool(const devices::MacAddress& mac, std::optional<std::uint32_t> address)>;
    using MacLookup = std::function<std::optional<devices::MacAddress>(std::uint32_t address)>;
    void SetWaker(Waker waker) { m_fnWake = std::move(waker); }
    void SetMacLookup(MacLookup lookup) { m_fnMacLookup = std::move(lookup); }

    // SearchHost, called on the worker thread.
    void NotifySearchStart() override;
    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) override;
    void NotifySearchEnd() override;

    // The text the empty list shows inside its area (also the list's window
    // text); empty while rows are listed or a search runs.
    const std::wstring& EmptyText() const { return m_strEmptyText; }

    // State as the window shows it, for tests and the start-up.
    bool IsWorkerRecorded() const { return m_pSearchThread != nullptr; }
    bool IsSearching() const { return m_bSearching; }
    // Only while no worker runs.
    std::size_t DeviceCount() const { return m_mapDevices.size(); }
    int WorkersStarted() const { return m_nWorkersStarted; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool PreTranslateMessage(MSG& msg) override;
    bool IsCommandEnabled(UINT id) override;
    HICON MainIcon() const override { return m_bigIcon.Get(); }

  private:
    win::HandlerResult OnRefresh(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnClose(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnSearchStart(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnDeviceFound(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnSearchEnd(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnNothing(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnListDoubleClick(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnSettingsButton(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnListItemChanged(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnMenuSettings(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnListRightClick(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnDpiChanged(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnMenuOpenFolder(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnMenuCopyAddress(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnMenuSearchTargets(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnMenuWake(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnTimer(WPARAM wParam, LPARAM lParam);
    // A device of this search joins the remembered ones.
    void RememberDevice(const DeviceInfo& device);

    void InitDeviceList();
    void AddDeviceRow(int index, const std::wstring& name, const std::wstring& address);
    // The window and taskbar icons at the sizes for dpi.
    void LoadIcons(UINT dpi);
    bool StartSearch();
    // Close steps 1 to 3: stop request, wait for the worker, empty the table.
    void StopSearchAndWait();
    // A close hides the window first: the worker may take up to a receive
    // cycle to see the stop request.
    void HideForClose();
    void OpenDevicePage();
    // The selected row's address when it is a dotted address, else empty.
    std::wstring SelectedAddress() const;
    void CopySelectedAddress();
    void SetEmptyText(std::wstring text);
    void PaintEmptyText(HWND list);
    static LRESULT CALLBACK ListSubclassProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    void SetItemCaption(int id, const wchar_t* text);
    void EnableItem(int id, bool enable);

    static unsigned __stdcall SearchThreadEntry(void* self);

    // The DPI the list's columns and the icons are sized for.
    UINT m_nDpi = win::kDefaultDpi;
    win::CIconHandle m_bigIcon;
    win::CIconHandle m_smallIcon;
    win::CListView m_listDevices;
    std::unique_ptr<win::CWorkerThread> m_pSearchThread;
    bool m_bSearching = false;
    bool m_bSettingsEnabled = false;

    // The window the worker reports to; fixed while a worker runs.
    std::atomic<HWND> m_hNotifyWnd{nullptr};
    // Set while the close procedure waits: a second close request that comes
    // in meanwhile (a message sent from elsewhere) must not free the table
    // under the worker.
    bool m_bClosing = false;
    int m_nWorkersStarted = 0;
    SearchProc m_pfnSearchProc;
    PageOpener m_fnOpenPage;
    FolderOpener m_fnOpenFolder;
    std::wstring m_strTargetsFile;
    std::wstring m_strDevicesFile;
    Waker m_fnWake;
    MacLookup m_fnMacLookup;
    // Loaded as the window opens, saved after each search that found devices.
    std::vector<devices::RememberedDevice> m_remembered;
    bool m_bRememberedChanged = false;
    std::wstring m_strEmptyText;
};
