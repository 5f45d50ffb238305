// The Updater's dialogs. The main one is created hidden and never shown: it
// only stands for the program while the work runs.
#pragma once

#include <windows.h>

#include <span>

#include "platform/win32/dialog.h"
#include "updater/resource.h"

namespace updater {

// Template 102, modeless, without a parent.
class CUpdaterDlg : public win::CDialogImpl<CUpdaterDlg> {
  public:
    CUpdaterDlg();
    ~CUpdaterDlg() override;

    static std::span<const win::EventEntry<CUpdaterDlg>> Events();

    // Creates the dialog modelessly and keeps it hidden; false when it cannot
    // be created.
    bool CreateHidden();

    HICON Icon() const { return m_hIcon; }

  protected:
    bool OnInitDialog() override;
    // A hidden dialog has nothing to close: OK and Cancel only hide it.
    void OnOK() override;
    void OnCancel() override;

  private:
    win::HandlerResult OnSysCommand(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnPaint(WPARAM wParam, LPARAM lParam);
    win::HandlerResult OnQueryDragIcon(WPARAM wParam, LPARAM lParam);

    HICON m_hIcon = nullptr;
};

// The About box: template 100, nothing of its own beyond the template.
class CAboutDlg : public win::CDialogImpl<CAboutDlg> {
  public:
    explicit CAboutDlg(HWND parent = nullptr) : CDialogImpl(IDD_ABOUTBOX, parent) {}
    static std::span<const win::EventEntry<CAboutDlg>> Events() { return {}; }
};

// Whether a system command (WPARAM of WM_SYSCOMMAND) is the About item; the
// system uses the low four bits.
constexpr bool IsAboutCommand(WPARAM command) { return (command & 0xFFF0) == IDM_ABOUTBOX; }

}  // namespace updater
