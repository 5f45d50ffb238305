// The Updater's Windows entry: no visible window, no message loop; the whole
// run happens in CUpdaterApp::StartInstance.
// winsock2.h must come before windows.h, and commctrl.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <memory>
#include <string>

#include "platform/paths.h"
#include "updater/resource.h"
#include "updater/updater_app.h"
#include "updater/updater_dlg_win32.h"
#include "updater/version_file.h"

namespace {

class Win32Platform : public updater::IUpdaterPlatform {
  public:
    explicit Win32Platform(HINSTANCE instance) : instance_(instance) {}

    bool Initialize() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            ShowSocketFailure();
            return false;
        }
        socketsStarted_ = true;
        dialog_ = std::make_unique<CUpdaterDlg>(instance_);
        dialog_->Create();
        if (dialog_->Handle() != nullptr) {
            ShowWindow(dialog_->Handle(), SW_HIDE);
        }
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
        dialog_.reset();
        if (socketsStarted_) {
            WSACleanup();
            socketsStarted_ = false;
        }
    }

  private:
    void ShowSocketFailure() {
        const wchar_t* text = nullptr;
        const int length =
            LoadStringW(instance_, IDP_SOCKETS_INIT_FAILED, reinterpret_cast<LPWSTR>(&text), 0);
        const std::wstring message =
            length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
        MessageBoxW(nullptr, message.c_str(), L"Updater", MB_OK | MB_ICONEXCLAMATION);
    }

    HINSTANCE instance_;
    std::unique_ptr<CUpdaterDlg> dialog_;
    bool socketsStarted_ = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Win32Platform platform(instance);
    updater::NetworkHttp http(updater::HttpOptionsFromEnvironment());
    updater::CUpdaterApp theApp(platform, http, updater::RetryPolicyFromEnvironment());
    theApp.StartInstance();
    return 0;
}
