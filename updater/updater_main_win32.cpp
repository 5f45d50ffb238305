// The Updater program: the application object and the Windows side of its
// run. No window is ever shown. The run's work goes on a thread of its own
// while the thread that owns the hidden main window reads that window's
// messages, so that whoever sends it one (a broadcast, the end of the
// session) gets an answer at once.
// winsock2.h must come before windows.h, and commctrl.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/paths.h"
#include "platform/win32/app.h"
#include "platform/win32/handle.h"
#include "platform/win32/thread.h"
#include "updater/public_key.h"
#include "updater/resource.h"
#include "updater/updater_app.h"
#include "updater/updater_dlg.h"
#include "updater/version_file.h"

namespace {

// Set when the session ends: the transfer, the pauses and the flow stop.
std::atomic<bool> g_stop{false};

// How long the end of the session waits for the work to stop and clean up
// (its partial file deleted); Windows may end the process after that.
constexpr DWORD kEndSessionWaitMs = 1500;

unsigned __stdcall RunWorkThread(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

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
        m_stopEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // The main window while the work runs; a dialog that cannot be
        // created changes nothing in the run.
        m_pDialog = std::make_unique<updater::CUpdaterDlg>();
        m_pDialog->CreateHidden();
        m_pDialog->SetOnEndSession([this] { EndSession(); });
        win::CApplication::Current()->SetMainWindow(m_pDialog->Hwnd());
        return true;
    }

    bool HasArguments() override {
        return updater::HasArgumentsAfterProgramName(GetCommandLineW());
    }

    std::wstring ModuleFilePath() override { return plat::ModuleFilePath(); }

    void Pause(std::chrono::milliseconds pause) override {
        if (m_stopEvent) {
            WaitForSingleObject(m_stopEvent.Get(), static_cast<DWORD>(pause.count()));
        } else {
            Sleep(static_cast<DWORD>(pause.count()));
        }
    }

    bool StopRequested() override { return g_stop.load(); }

    void RunWork(const std::function<void()>& work) override {
        m_pWorker =
            win::CWorkerThread::Start(&RunWorkThread, const_cast<std::function<void()>*>(&work));
        if (!m_pWorker) {
            work();
            return;
        }
        // Reads the window's messages (sent ones included) until the work
        // has ended.
        const HANDLE worker = m_pWorker->Handle();
        for (;;) {
            const DWORD woken =
                MsgWaitForMultipleObjectsEx(1, &worker, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woken != WAIT_OBJECT_0 + 1) {
                // The work ended (or the wait cannot go on: then for it alone).
                WaitForSingleObject(worker, INFINITE);
                break;
            }
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    RequestStop();
                } else if (m_pDialog && m_pDialog->Hwnd() != nullptr) {
                    m_pDialog->ProcessMessage(msg);
                } else {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        m_pWorker.reset();
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
    void RequestStop() {
        g_stop = true;
        if (m_stopEvent) {
            SetEvent(m_stopEvent.Get());
        }
    }

    // The session ends: the transfer stops, its partial file is deleted
    // and nothing is recorded, before this returns (bounded).
    void EndSession() {
        RequestStop();
        if (m_pWorker) {
            WaitForSingleObject(m_pWorker->Handle(), kEndSessionWaitMs);
        }
    }

    std::unique_ptr<updater::CUpdaterDlg> m_pDialog;
    std::unique_ptr<win::CWorkerThread> m_pWorker;
    win::CHandle m_stopEvent;
    bool m_bSockets = false;
};

updater::HttpOptions StoppableHttpOptions() {
    updater::HttpOptions options = updater::HttpOptionsFromEnvironment();
    options.stop = &g_stop;
    return options;
}

Win32Platform g_platform;
updater::NetworkHttp g_http(StoppableHttpOptions());

}  // namespace

// After the platform and the HTTP layer it refers to.
updater::CUpdaterApp theApp(g_platform, g_http, updater::RetryPolicyFromEnvironment(),
                            updater::UpdatePublicKey());

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }
