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
    win::AppendSystemMenuItem(Hwnd(), IDS_ABOUTBOX, IDM_ABOUTBOX);
    win::SetWindowIcons(Hwnd(), m_hIcon);
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
    if (!win::PaintIconIfMinimized(Hwnd(), m_hIcon)) {
        return std::nullopt;  // the dialog's own painting
    }
    return 0;
}

win::HandlerResult CUpdaterDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

}  // namespace updater
