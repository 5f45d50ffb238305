// Dialogs on resource templates, with one event table per dialog class.
//
//     class CMyDlg : public win::CDialogImpl<CMyDlg> {
//     public:
//         CMyDlg() : CDialogImpl(IDD_MY) {}
//         static std::span<const win::EventEntry<CMyDlg>> Events();
//     private:
//         win::HandlerResult OnPaint(WPARAM, LPARAM);
//         win::HandlerResult OnRefresh(WPARAM, LPARAM);
//     };
//
//     std::span<const win::EventEntry<CMyDlg>> CMyDlg::Events() {
//         static constexpr win::EventEntry<CMyDlg> table[] = {
//             win::OnMessage(WM_PAINT, &CMyDlg::OnPaint),
//             win::OnCommand(IDC_REFRESH, &CMyDlg::OnRefresh),
//         };
//         return table;
//     }
//
// An event is a window message, a command (WM_COMMAND: id and notification
// code; menu items, accelerators and button clicks have code 0) or a
// notification (WM_NOTIFY: control id and code). The first entry that matches
// handles it. A handler returns the message's result, or nullopt to leave the
// message to the dialog manager's default processing.
//
// IDOK and IDCANCEL reach the virtual OnOK/OnCancel unless the table takes
// them. Both end the dialog by default.
//
// DoModal runs the dialog on a message loop of the framework's own, so that
// PreTranslateMessage sees every message for the dialog and its controls
// before the dialog keys (Tab, Enter, Escape) and dispatch. Create opens the
// same dialog modelessly; whoever runs the message loop then hands each
// message to ProcessMessage.
#pragma once

#include <windows.h>

#include <optional>
#include <span>

#include "platform/system_menu.h"

namespace win {

using HandlerResult = std::optional<LRESULT>;

enum class EventKind { Message, Command, Notify };

template <class T>
struct EventEntry {
    EventKind kind;
    UINT code;    // Message: the message; Command, Notify: the notification code
    UINT_PTR id;  // Command, Notify: the command or control id
    HandlerResult (T::*handler)(WPARAM wParam, LPARAM lParam);
};

template <class T>
constexpr EventEntry<T> OnMessage(UINT message, HandlerResult (T::*handler)(WPARAM, LPARAM)) {
    return {EventKind::Message, message, 0, handler};
}
template <class T>
constexpr EventEntry<T> OnCommand(UINT_PTR id, HandlerResult (T::*handler)(WPARAM, LPARAM),
                                  UINT notifyCode = 0) {
    return {EventKind::Command, notifyCode, id, handler};
}
template <class T>
constexpr EventEntry<T> OnNotify(UINT code, UINT_PTR id,
                                 HandlerResult (T::*handler)(WPARAM, LPARAM)) {
    return {EventKind::Notify, code, id, handler};
}

// Whether an entry describes this message.
bool EventMatches(EventKind kind, UINT code, UINT_PTR id, UINT message, WPARAM wParam,
                  LPARAM lParam);

class CDialogBase {
  public:
    // templateId: the dialog resource of the running program; parent may be
    // none (a top-level dialog).
    explicit CDialogBase(UINT templateId, HWND parent = nullptr);
    // A window still open here is destroyed without reaching the derived
    // class's handlers; derived classes that need them destroy it first.
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Creates the dialog, shows it (also when its template lacks
    // WS_VISIBLE), runs it until EndDialog, destroys the window and returns
    // EndDialog's result; -1 when the window cannot be created. The parent is
    // disabled meanwhile. A WM_QUIT ends the run too (with -1) and
    // is passed on to the enclosing loop.
    INT_PTR DoModal();

    // Creates the dialog modelessly; false when it cannot be created.
    bool Create();
    void DestroyWindow();

    // Gives one message to the dialog as its modal loop does: first
    // PreTranslateMessage (for the dialog and its controls), then the dialog
    // keys, then dispatch.
    void ProcessMessage(MSG& msg);

    HWND Hwnd() const { return m_hWnd; }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    // Ends the run with this result; the modal loop returns at its next turn.
    void EndDialog(INT_PTR result);
    bool IsEnded() const { return m_bEnded; }
    INT_PTR Result() const { return m_nResult; }

  protected:
    // After the controls exist. true: the dialog manager gives the focus to
    // the first tab stop.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // true consumes the message.
    virtual bool PreTranslateMessage(MSG&) { return false; }
    // Asked for each item of a pop-up menu as it opens.
    virtual bool IsCommandEnabled(UINT) { return true; }

    // The class's event table lookup (CDialogImpl provides it).
    virtual HandlerResult RouteEvent(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateMenuItems(HMENU menu);

    UINT m_nTemplateId;
    HWND m_hParent;
    HWND m_hWnd = nullptr;
    bool m_bEnded = false;
    INT_PTR m_nResult = -1;
};

template <class T>
class CDialogImpl : public CDialogBase {
  public:
    using CDialogBase::CDialogBase;

  protected:
    HandlerResult RouteEvent(UINT message, WPARAM wParam, LPARAM lParam) override {
        for (const EventEntry<T>& entry : T::Events()) {
            if (EventMatches(entry.kind, entry.code, entry.id, message, wParam, lParam)) {
                return (static_cast<T*>(this)->*entry.handler)(wParam, lParam);
            }
        }
        return std::nullopt;
    }
};

// The About box: a template with nothing of its own beyond it; OK, Enter,
// Escape and the close box end it.
class CAboutDlg : public CDialogImpl<CAboutDlg> {
  public:
    CAboutDlg(UINT templateId, HWND parent) : CDialogImpl(templateId, parent) {}
    static std::span<const EventEntry<CAboutDlg>> Events() { return {}; }
};

// Where a main dialog's About item comes from: the About box's template and
// the string resource of its system-menu item.
struct AboutItem {
    UINT templateId;
    UINT textId;
};

// Handles what every main dialog of the tool set does alike, before its
// own table: the About item of the system menu runs the About box modally,
// and the program icon is painted while the window is minimized and handed
// out for dragging. nullopt for every other message.
HandlerResult RouteMainDialogEvent(HWND window, HICON icon, const AboutItem& about, UINT message,
                                   WPARAM wParam);

// A program's main dialog: T's table, after the handling above.
template <class T>
class CMainDialogImpl : public CDialogImpl<T> {
  public:
    CMainDialogImpl(UINT templateId, AboutItem about)
        : CDialogImpl<T>(templateId), m_about(about) {}

  protected:
    // The icon painted while minimized and handed out for dragging.
    virtual HICON MainIcon() const = 0;
    // Appends the About item to the system menu (from OnInitDialog).
    void AddAboutItem();

    HandlerResult RouteEvent(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (HandlerResult result =
                RouteMainDialogEvent(this->Hwnd(), MainIcon(), m_about, message, wParam)) {
            return result;
        }
        return CDialogImpl<T>::RouteEvent(message, wParam, lParam);
    }

  private:
    AboutItem m_about;
};

// Decorations the tool set's dialogs share.

// Appends a separator and the text of string resource textId, as command
// commandId, to the window's system menu; nothing when the window has no
// system menu or the text is empty.
void AppendSystemMenuItem(HWND window, UINT textId, UINT commandId);

// Makes icon the window's big and small icon.
void SetWindowIcons(HWND window, HICON icon);

// While the window is minimized, paints icon centred in its client area and
// returns true; otherwise paints nothing and returns false, so that the
// default painting applies.
bool PaintIconIfMinimized(HWND window, HICON icon);

// Waits until object is signalled while still handling the messages that
// other threads send to this thread, so that a thread blocked in
// SendMessage on us can go on and finish. Posted messages stay queued.
void WaitServingSentMessages(HANDLE object);

template <class T>
void CMainDialogImpl<T>::AddAboutItem() {
    AppendSystemMenuItem(this->Hwnd(), m_about.textId, plat::kAboutCommand);
}

}  // namespace win
