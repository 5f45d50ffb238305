#include <string>

#include "platform/win32/app.h"
#include "updater/updater_dlg.h"

namespace updater {

CUpdaterDlg::CUpdaterDlg() : CMainDialogImpl(IDD_UPDATER_DIALOG, {IDD_ABOUTBOX, IDS_ABOUTBOX}) {
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CUpdaterDlg::~CUpdaterDlg() {
    // While the derived part still exists, so that the window's last
    // messages find their handlers.
    DestroyWindow();
}

std::span<const win::EventEntry<CUpdaterDlg>> CUpdaterDlg::Events() {
    // Beyond what every main dialog handles (system menu, icon): the end of
    // the session.
    static constexpr win::EventEntry<CUpdaterDlg> table[] = {
        win::OnMessage(WM_QUERYENDSESSION, &CUpdaterDlg::OnQueryEndSession),
        win::OnMessage(WM_ENDSESSION, &CUpdaterDlg::OnEndSession),
    };
    return table;
}

// A download never holds the session up: the Updater agrees at once.
win::HandlerResult CUpdaterDlg::OnQueryEndSession(WPARAM, LPARAM) { return TRUE; }

win::HandlerResult CUpdaterDlg::OnEndSession(WPARAM ending, LPARAM) {
    if (ending != FALSE && m_onEndSession) {
        m_onEndSession();
    }
    return 0;
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
    AddAboutItem();
    win::SetWindowIcons(Hwnd(), m_hIcon);
    return true;
}

void CUpdaterDlg::OnOK() { ShowWindow(Hwnd(), SW_HIDE); }

void CUpdaterDlg::OnCancel() { ShowWindow(Hwnd(), SW_HIDE); }

}  // namespace updater
