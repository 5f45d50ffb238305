// The Updater's dialogs. The main one is created hidden and never shown: it
// only stands for the program while the work runs.
#pragma once

#include <windows.h>

#include <functional>
#include <span>

#include "platform/win32/dialog.h"
#include "updater/resource.h"

namespace updater {

// Template 102, modeless, without a parent.
class CUpdaterDlg : public win::CMainDialogImpl<CUpdaterDlg> {
  public:
    CUpdaterDlg();
    ~CUpdaterDlg() override;

    static std::span<const win::EventEntry<CUpdaterDlg>> Events();

    // Creates the dialog modelessly and keeps it hidden; false when it cannot
    // be created.
    bool CreateHidden();

    HICON Icon() const { return m_hIcon; }

    // Called on the window's thread when the session ends (WM_ENDSESSION):
    // the process may be ended as soon as it returns.
    void SetOnEndSession(std::function<void()> onEndSession) {
        m_onEndSession = std::move(onEndSession);
    }

  protected:
    bool OnInitDialog() override;
    // A hidden dialog has nothing to close: OK and Cancel only hide it.
    void OnOK() override;
    void OnCancel() override;
    HICON MainIcon() const override { return m_hIcon; }

  private:
    win::HandlerResult OnQueryEndSession(WPARAM, LPARAM);
    win::HandlerResult OnEndSession(WPARAM, LPARAM);

    HICON m_hIcon = nullptr;
    std::function<void()> m_onEndSession;
};

static_assert(IDM_ABOUTBOX == plat::kAboutCommand);

}  // namespace updater
