// The Updater's main window: created hidden and never shown, it only stands
// for the program while the work runs. Kept apart so that it can move onto
// the shared dialog layer later.
#pragma once

#include <windows.h>

class CUpdaterDlg {
  public:
    explicit CUpdaterDlg(HINSTANCE instance);
    ~CUpdaterDlg();
    CUpdaterDlg(const CUpdaterDlg&) = delete;
    CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

    // Modeless from template 102, without a parent.
    bool Create();
    void Destroy();
    HWND Handle() const { return m_hWnd; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    bool OnSysCommand(UINT id);
    bool OnPaint();

    HINSTANCE m_hInstance;
    HWND m_hWnd = nullptr;
    HICON m_hIcon;
};

// The About box, template 100, modal.
void ShowAboutBox(HINSTANCE instance, HWND parent);
