// The "機器の起動" dialog: the remembered devices that the main list does not
// show (name, address, MAC, last seen in local time), 起動 for the selected
// one, and an entry for the MAC of a device never seen. A wake sends the
// magic packet and tells the main dialog, which searches again a little later.
#pragma once

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "finder/devices/remembered_devices.h"
#include "finder/devices/wake.h"
#include "finder/ui/finder_resource.h"
#include "platform/win32/dialog.h"
#include "platform/win32/list_view.h"

class CWakeDlg : public win::CDialogImpl<CWakeDlg> {
  public:
    // Sends a wake: the MAC and the device's last address, when known.
    using Waker =
        std::function<bool(const devices::MacAddress& mac, std::optional<std::uint32_t> address)>;

    // offered: the devices to list; onWoken: called after each wake sent.
    CWakeDlg(HWND parent, std::vector<devices::RememberedDevice> offered, Waker waker,
             std::function<void()> onWoken);

    static std::span<const win::EventEntry<CWakeDlg>> Events();

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    win::HandlerResult OnWakeSelected(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnWakeTyped(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnListDoubleClick(WPARAM wParam, LPARAM lParam);
    void WakeSelected();
    void WakeTyped();
    void Send(const devices::MacAddress& mac, std::optional<std::uint32_t> address);
    void ShowMessage(const std::wstring& text);

    std::vector<devices::RememberedDevice> m_offered;
    Waker m_fnWake;
    std::function<void()> m_fnWoken;
    win::CListView m_list;
};

// "2026/12/09 17:06", the time in the computer's time zone.
std::wstring LocalTimeText(devices::UnixSeconds time);

// The system's wake: the magic packet through Winsock.
bool SendSystemWake(const devices::MacAddress& mac, std::optional<std::uint32_t> address);
