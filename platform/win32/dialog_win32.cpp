#include "platform/win32/app.h"
#include "platform/win32/dialog.h"
#include "platform/win32/icon_layout.h"

namespace win {

bool EventMatches(EventKind kind, UINT code, UINT_PTR id, UINT message, WPARAM wParam,
                  LPARAM lParam) {
    switch (kind) {
        case EventKind::Message:
            return message == code;
        case EventKind::Command:
            return message == WM_COMMAND && LOWORD(wParam) == id && HIWORD(wParam) == code;
        case EventKind::Notify: {
            if (message != WM_NOTIFY || lParam == 0) {
                return false;
            }
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            return header->idFrom == id && header->code == code;
        }
    }
    return false;
}

CDialogBase::CDialogBase(UINT templateId, HWND parent)
    : m_nTemplateId(templateId), m_hParent(parent) {}

CDialogBase::~CDialogBase() {
    // The derived object is gone by now: the window's last messages must not
    // reach its handlers.
    if (m_hWnd != nullptr) {
        HWND window = m_hWnd;
        SetWindowLongPtrW(window, DWLP_USER, 0);
        m_hWnd = nullptr;
        ::DestroyWindow(window);
    }
}

bool CDialogBase::Create() {
    if (m_hWnd != nullptr) {
        return true;
    }
    m_bEnded = false;
    m_nResult = -1;
    // The window reaches `this` through WM_INITDIALOG's parameter.
    CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), m_hParent,
                       &CDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
    return m_hWnd != nullptr;
}

void CDialogBase::DestroyWindow() {
    if (m_hWnd != nullptr) {
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialogBase::DoModal() {
    const bool disableParent = m_hParent != nullptr && IsWindowEnabled(m_hParent);
    if (!Create()) {
        return -1;
    }
    if (disableParent) {
        EnableWindow(m_hParent, FALSE);
    }
    // A modal dialog is shown whether or not its template asks for it, as
    // the system's own modal run does; unless it ended while initialising.
    if (!m_bEnded && m_hWnd != nullptr && !IsWindowVisible(m_hWnd)) {
        ShowWindow(m_hWnd, SW_SHOWNORMAL);
    }
    MSG msg;
    while (!m_bEnded) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        ProcessMessage(msg);
    }
    if (disableParent) {
        // Before the window goes, so that the activation returns to the parent.
        EnableWindow(m_hParent, TRUE);
    }
    DestroyWindow();
    return m_nResult;
}

void CDialogBase::ProcessMessage(MSG& msg) {
    const bool ours = m_hWnd != nullptr && (msg.hwnd == m_hWnd || IsChild(m_hWnd, msg.hwnd));
    if (ours && PreTranslateMessage(msg)) {
        return;
    }
    if (m_hWnd != nullptr && IsDialogMessageW(m_hWnd, &msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void CDialogBase::EndDialog(INT_PTR result) {
    m_nResult = result;
    m_bEnded = true;
    // Wakes the loop when the request came from inside a sent message.
    if (m_hWnd != nullptr) {
        PostMessageW(m_hWnd, WM_NULL, 0, 0);
    }
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
    } else {
        self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CDialogBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        return OnInitDialog() ? TRUE : FALSE;
    }
    HandlerResult result = RouteEvent(message, wParam, lParam);
    if (!result) {
        if (message == WM_COMMAND && HIWORD(wParam) <= 1 && LOWORD(wParam) == IDOK) {
            OnOK();
            result = 0;
        } else if (message == WM_COMMAND && HIWORD(wParam) <= 1 && LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            result = 0;
        } else if (message == WM_INITMENUPOPUP && HIWORD(lParam) == 0) {
            UpdateMenuItems(reinterpret_cast<HMENU>(wParam));
            result = 0;
        }
    }
    if (!result) {
        return FALSE;
    }
    switch (message) {
        // These give their result as the dialog procedure's own return value.
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return static_cast<INT_PTR>(*result);
        default:
            if (m_hWnd != nullptr) {
                SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, *result);
            }
            return TRUE;
    }
}

void CDialogBase::UpdateMenuItems(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(menu, i);
        if (id == 0 || id == static_cast<UINT>(-1)) {
            continue;  // separators and sub-menus
        }
        EnableMenuItem(menu, i, MF_BYPOSITION | (IsCommandEnabled(id) ? MF_ENABLED : MF_GRAYED));
    }
}

HandlerResult RouteMainDialogEvent(HWND window, HICON icon, const AboutItem& about, UINT message,
                                   WPARAM wParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if (!plat::IsAboutCommand(wParam)) {
                return std::nullopt;  // the system's own handling
            }
            CAboutDlg(about.templateId, window).DoModal();
            return 0;
        case WM_PAINT:
            if (!PaintIconIfMinimized(window, icon)) {
                return std::nullopt;  // the dialog's own painting
            }
            return 0;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(icon);
        default:
            return std::nullopt;
    }
}

void AppendSystemMenuItem(HWND window, UINT textId, UINT commandId) {
    HMENU systemMenu = GetSystemMenu(window, FALSE);
    if (systemMenu == nullptr) {
        return;
    }
    const std::wstring text = LoadText(textId);
    if (text.empty()) {
        return;
    }
    AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(systemMenu, MF_STRING, commandId, text.c_str());
}

void SetWindowIcons(HWND window, HICON icon) {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

bool PaintIconIfMinimized(HWND window, HICON icon) {
    if (!IsIconic(window)) {
        return false;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    const IconOrigin origin =
        CentredIconOrigin(client.right - client.left, client.bottom - client.top,
                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, origin.x, origin.y, icon);
    EndPaint(window, &paint);
    return true;
}

void WaitServingSentMessages(HANDLE object) {
    for (;;) {
        const DWORD got = MsgWaitForMultipleObjectsEx(1, &object, INFINITE, QS_SENDMESSAGE, 0);
        if (got == WAIT_OBJECT_0) {
            return;
        }
        MSG msg;
        // Any peek delivers the messages sent to this thread; nothing posted
        // is taken off the queue.
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (got != WAIT_OBJECT_0 + 1) {
            // The wait itself failed: poll instead of spinning.
            if (WaitForSingleObject(object, 10) == WAIT_OBJECT_0) {
                return;
            }
        }
    }
}

}  // namespace win
