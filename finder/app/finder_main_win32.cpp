// The finder program: the application object and the Windows side of its
// start-up.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <winsock2.h>

#include "finder/app/tobrel_app.h"
#include "finder/ui/tobrel_dlg.h"
#include "platform/win32/app.h"
#include "updater/public_key.h"

namespace {

class CFinderShellWin32 final : public IFinderShell {
  public:
    ~CFinderShellWin32() override {
        if (m_bSockets) {
            WSACleanup();
        }
    }

    void InitCommonControls() override {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_WIN95_CLASSES;
        InitCommonControlsEx(&controls);
    }

    bool StartSockets() override {
        WSADATA data;
        m_bSockets = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        return m_bSockets;
    }

    std::wstring LoadText(unsigned id) override { return win::LoadText(id); }

    int ShowMessageBox(const std::wstring& text, unsigned type) override {
        return win::CApplication::Current()->ShowMessageBox(text, type);
    }

    bool StartProcess(const std::wstring& commandLine) override {
        // CreateProcessW may write into its command line.
        std::wstring buffer = commandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                            nullptr, nullptr, &startup, &process)) {
            return false;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }

    bool RaiseWindowByTitle(const std::wstring& title) override {
        HWND window = FindWindowW(nullptr, title.c_str());
        if (window == nullptr) {
            return false;
        }
        // SW_SHOW leaves a minimised window on the taskbar: it is restored
        // first, then brought forward.
        ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(window);
        return true;
    }

    void RunMainDialog() override {
        CTobrelDlg dialog;
        win::CApplication* app = win::CApplication::Current();
        // Created first so that it is the main window for its whole run; a
        // dialog that cannot be created ends the program.
        if (!dialog.Create()) {
            return;
        }
        app->SetMainWindow(dialog.Hwnd());
        dialog.DoModal();
        app->SetMainWindow(nullptr);
    }

  private:
    bool m_bSockets = false;
};

CFinderShellWin32 g_shell;

}  // namespace

CTobrelApp theApp(&g_shell, updater::UpdatePublicKey());

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }
