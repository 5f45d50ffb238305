#include "updater/updater_dlg_win32.h"

#include <string>

#include "updater/resource.h"

namespace {

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(hwnd, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

std::wstring LoadText(HINSTANCE instance, UINT id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

}  // namespace

void ShowAboutBox(HINSTANCE instance, HWND parent) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), parent, AboutProc, 0);
}

CUpdaterDlg::CUpdaterDlg(HINSTANCE instance)
    : m_hInstance(instance), m_hIcon(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CUpdaterDlg::~CUpdaterDlg() { Destroy(); }

bool CUpdaterDlg::Create() {
    m_hWnd = CreateDialogParamW(m_hInstance, MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr,
                                DialogProc, reinterpret_cast<LPARAM>(this));
    return m_hWnd != nullptr;
}

void CUpdaterDlg::Destroy() {
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

INT_PTR CALLBACK CUpdaterDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CUpdaterDlg*>(lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CUpdaterDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_SYSCOMMAND:
            return self->OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            return self->OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            // One of the messages whose dialog-procedure result is returned as is.
            return reinterpret_cast<INT_PTR>(self->m_hIcon);
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ShowWindow(hwnd, SW_HIDE);
                return TRUE;
            }
            break;
        case WM_NCDESTROY:
            self->m_hWnd = nullptr;
            break;
        default:
            break;
    }
    return FALSE;
}

BOOL CUpdaterDlg::OnInitDialog() {
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        const std::wstring about = LoadText(m_hInstance, IDS_ABOUTBOX);
        if (!about.empty()) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    return TRUE;
}

bool CUpdaterDlg::OnSysCommand(UINT id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAboutBox(m_hInstance, m_hWnd);
        return true;
    }
    return false;  // the system's own handling
}

bool CUpdaterDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) {
        return false;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - client.left - cx + 1) / 2,
             (client.bottom - client.top - cy + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return true;
}
