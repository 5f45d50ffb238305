// The Updater program: the application object and the Windows side of its
// run. No window is ever shown and no message loop runs: the whole run
// happens in StartInstance, called by the framework's entry.
// winsock2.h must come before windows.h, and commctrl.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <memory>
#include <string>

#include "platform/paths.h"
#include "platform/win32/app.h"
#include "updater/public_key.h"
#include "updater/resource.h"
#include "updater/updater_app.h"
#include "updater/updater_dlg.h"
#include "updater/version_file.h"

namespace {

class Win32Platform final : public updater::IUpdaterPlatform {
  public:
    ~Win32Platform() override { Finish(); }

    bool Initialize() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            // Titled with the application's name, the executable's file title.
            win::CApplication::Current()->ShowMessageBox(win::LoadText(IDP_SOCKETS_INIT_FAILED),
                                                         MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        m_bSockets = true;
        // The main window while the work runs; a dialog that cannot be
        // created changes nothing in the run.
        m_pDialog = std::make_unique<updater::CUpdaterDlg>();
        m_pDialog->CreateHidden();
        win::CApplication::Current()->SetMainWindow(m_pDialog->Hwnd());
        return true;
    }

    bool HasArguments() override {
        return updater::HasArgumentsAfterProgramName(GetCommandLineW());
    }

    std::wstring ModuleFilePath() override { return plat::ModuleFilePath(); }

    void Pause(std::chrono::milliseconds pause) override {
        Sleep(static_cast<DWORD>(pause.count()));
    }

    void Finish() override {
        if (m_pDialog) {
            if (win::CApplication* app = win::CApplication::Current()) {
                app->SetMainWindow(nullptr);
            }
            m_pDialog.reset();
        }
        if (m_bSockets) {
            WSACleanup();
            m_bSockets = false;
        }
    }

  private:
    std::unique_ptr<updater::CUpdaterDlg> m_pDialog;
    bool m_bSockets = false;
};

Win32Platform g_platform;
updater::NetworkHttp g_http(updater::HttpOptionsFromEnvironment());

}  // namespace

// After the platform and the HTTP layer it refers to.
updater::CUpdaterApp theApp(g_platform, g_http, updater::RetryPolicyFromEnvironment(),
                            updater::UpdatePublicKey());

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }
