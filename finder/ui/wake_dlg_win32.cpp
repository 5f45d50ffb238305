#include <windows.h>

#include "finder/ui/wake_dlg.h"

// After windows.h, which it builds on.
#include <commctrl.h>

#include <cstdio>
#include <utility>

#include "finder/devices/wake_dialog_logic.h"
#include "platform/win32/dpi.h"

namespace {

// The list's columns; widths in pixels at 96 DPI.
struct WakeColumn {
    const wchar_t* title;
    int width;
};
constexpr WakeColumn kWakeColumns[] = {
    {L"名前", 120}, {L"IP アドレス", 95}, {L"MAC アドレス", 120}, {L"最終確認", 140}};

constexpr wchar_t kWokenText[] = L"起動の合図を送りました。しばらくしてから自動で検索します。";
constexpr wchar_t kNotSentText[] =
    L"起動の合図を送れませんでした。ネットワークの接続を確かめてください。";
constexpr wchar_t kNoMacText[] =
    L"この機器の MAC アドレスは分かりません。下の欄に入力して起動してください。";
constexpr wchar_t kNothingSelectedText[] =
    L"起動する機器を選ぶか、MAC アドレスを入力してください。";

}  // namespace

std::wstring LocalTimeText(devices::UnixSeconds time) {
    // FILETIME counts 100-ns steps from 1601-01-01 UTC.
    constexpr long long kEpochDifference = 11644473600LL;
    const unsigned long long ticks =
        static_cast<unsigned long long>(time + kEpochDifference) * 10000000ULL;
    FILETIME utcFile{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (time < 0 || !FileTimeToSystemTime(&utcFile, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return {};
    }
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u/%02u/%02u %02u:%02u", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute);
    return text;
}

bool SendSystemWake(const devices::MacAddress& mac, std::optional<std::uint32_t> address) {
    const auto net = devices::MakeSystemWakeNetwork();
    return devices::Wake(*net, mac, address, std::nullopt) > 0;
}

CWakeDlg::CWakeDlg(HWND parent, std::vector<devices::RememberedDevice> offered, Waker waker,
                   std::function<void()> onWoken)
    : CDialogImpl(IDD_WAKE_DIALOG, parent),
      m_offered(std::move(offered)),
      m_fnWake(std::move(waker)),
      m_fnWoken(std::move(onWoken)) {}

std::span<const win::EventEntry<CWakeDlg>> CWakeDlg::Events() {
    using D = CWakeDlg;
    static constexpr win::EventEntry<D> table[] = {
        win::OnCommand(IDC_BUTTON_WAKE, &D::OnWakeSelected, BN_CLICKED),
        win::OnCommand(IDC_BUTTON_WAKE_MAC, &D::OnWakeTyped, BN_CLICKED),
        win::OnNotify(NM_DBLCLK, IDC_LIST_WAKE, &D::OnListDoubleClick),
    };
    return table;
}

bool CWakeDlg::OnInitDialog() {
    m_list.Attach(Item(IDC_LIST_WAKE));
    const UINT dpi = win::WindowDpi(Hwnd());
    int index = 0;
    for (const WakeColumn& column : kWakeColumns) {
        m_list.InsertColumn(index++, column.title, win::ScaleForDpi(column.width, dpi));
    }
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    for (std::size_t i = 0; i < m_offered.size(); ++i) {
        const devices::RememberedDevice& device = m_offered[i];
        const int row = m_list.InsertItem(static_cast<int>(i), device.name);
        m_list.SetItemText(row, 1, device.address);
        m_list.SetItemText(row, 2, device.mac ? devices::FormatMacUpper(*device.mac) : L"");
        m_list.SetItemText(row, 3, LocalTimeText(device.lastSeen));
    }
    if (!m_offered.empty()) {
        m_list.SetSelected(0, true);
        ListView_SetItemState(m_list.Hwnd(), 0, LVIS_FOCUSED, LVIS_FOCUSED);
    }
    SendMessageW(Item(IDC_EDIT_MAC), EM_LIMITTEXT, 64, 0);
    // The list has the focus when it has rows, else the entry.
    SetFocus(m_offered.empty() ? Item(IDC_EDIT_MAC) : m_list.Hwnd());
    return false;
}

void CWakeDlg::OnOK() {
    // Enter: in the entry it wakes the typed MAC, elsewhere the selected row.
    if (GetFocus() == Item(IDC_EDIT_MAC)) {
        WakeTyped();
    } else {
        WakeSelected();
    }
}

win::HandlerResult CWakeDlg::OnWakeSelected(WPARAM, LPARAM) {
    WakeSelected();
    return 0;
}

win::HandlerResult CWakeDlg::OnWakeTyped(WPARAM, LPARAM) {
    WakeTyped();
    return 0;
}

win::HandlerResult CWakeDlg::OnListDoubleClick(WPARAM, LPARAM) {
    WakeSelected();
    return 0;
}

void CWakeDlg::WakeSelected() {
    const int row = m_list.FirstSelected();
    if (row < 0 || static_cast<std::size_t>(row) >= m_offered.size()) {
        ShowMessage(kNothingSelectedText);
        return;
    }
    const devices::RememberedDevice& device = m_offered[static_cast<std::size_t>(row)];
    if (!device.mac) {
        ShowMessage(kNoMacText);
        SetFocus(Item(IDC_EDIT_MAC));
        return;
    }
    Send(*device.mac, devices::LastAddressOf(device));
}

void CWakeDlg::WakeTyped() {
    HWND edit = Item(IDC_EDIT_MAC);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    const auto mac = devices::ParseMac(text);
    if (!mac) {
        ShowMessage(devices::RefusedMacMessage(text));
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return;
    }
    // A selected device without a MAC is the one meant: its address picks
    // the subnet.
    std::optional<std::uint32_t> address;
    const int row = m_list.FirstSelected();
    if (row >= 0 && static_cast<std::size_t>(row) < m_offered.size() &&
        !m_offered[static_cast<std::size_t>(row)].mac) {
        address = devices::LastAddressOf(m_offered[static_cast<std::size_t>(row)]);
    }
    Send(*mac, address);
}

void CWakeDlg::Send(const devices::MacAddress& mac, std::optional<std::uint32_t> address) {
    if (!m_fnWake || !m_fnWake(mac, address)) {
        ShowMessage(kNotSentText);
        return;
    }
    ShowMessage(kWokenText);
    if (m_fnWoken) {
        m_fnWoken();
    }
}

void CWakeDlg::ShowMessage(const std::wstring& text) {
    SetWindowTextW(Item(IDC_WAKE_MESSAGE), text.c_str());
}
