#include <string>

#include "platform/win32/app.h"
#include "updater/updater_dlg.h"

namespace updater {

CUpdaterDlg::CUpdaterDlg() : CDialogImpl(IDD_UPDATER_DIALOG) {
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CUpdaterDlg::~CUpdaterDlg() {
    // While the derived part still exists, so that the window's last
    // messages find their handlers.
    DestroyWindow();
}

std::span<const win::EventEntry<CUpdaterDlg>> CUpdaterDlg::Events() {
    using D = CUpdaterDlg;
    static constexpr win::EventEntry<D> table[] = {
        win::OnMessage(WM_SYSCOMMAND, &D::OnSysCommand),
        win::OnMessage(WM_PAINT, &D::OnPaint),
        win::OnMessage(WM_QUERYDRAGICON, &D::OnQueryDragIcon),
    };
    return table;
}

bool CUpdaterDlg::CreateHidden() {
    // The template has no WS_VISIBLE, so the window is created hidden; the
    // hide command makes sure of it whatever the template says.
    if (!Create()) {
        return false;
    }
    ShowWindow(Hwnd(), SW_HIDE);
    return true;
}

bool CUpdaterDlg::OnInitDialog() {
    if (HMENU systemMenu = GetSystemMenu(Hwnd(), FALSE)) {
        const std::wstring about = win::LoadText(IDS_ABOUTBOX);
        if (!about.empty()) {
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    return true;
}

void CUpdaterDlg::OnOK() { ShowWindow(Hwnd(), SW_HIDE); }

void CUpdaterDlg::OnCancel() { ShowWindow(Hwnd(), SW_HIDE); }

win::HandlerResult CUpdaterDlg::OnSysCommand(WPARAM wParam, LPARAM) {
    if (!IsAboutCommand(wParam)) {
        return std::nullopt;  // the system's own handling
    }
    CAboutDlg about(Hwnd());
    about.DoModal();
    return 0;
}

win::HandlerResult CUpdaterDlg::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic(Hwnd())) {
        return std::nullopt;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Hwnd(), &paint);
    SendMessageW(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(Hwnd(), &client);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - client.left - cx + 1) / 2,
             (client.bottom - client.top - cy + 1) / 2, m_hIcon);
    EndPaint(Hwnd(), &paint);
    return 0;
}

win::HandlerResult CUpdaterDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

}  // namespace updater
