// The Updater's hidden main dialog in-process under Wine: created modelessly
// as the program creates it, it must never show, must carry the About item
// and the program icon, and must open the About box on the system command.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/manifest_check.h"
#include "tests/support/window_answerer.h"
#include "updater/resource.h"
#include "updater/updater_dlg.h"

namespace {

using updater::CUpdaterDlg;

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

#define REQUIRE_RUN_WINE_PREFIX()                                      \
    do {                                                               \
        if (!EnvSet("SL_WINE")) {                                      \
            if (EnvSet("SL_REQUIRE_LAN")) {                            \
                FAIL() << "needs the run's Wine prefix and display";   \
            }                                                          \
            GTEST_SKIP() << "needs the run's Wine prefix and display"; \
        }                                                              \
    } while (0)

// Every window of this thread that was asked to show itself.
std::vector<HWND> g_shown;

LRESULT CALLBACK RecordShows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        const bool show =
            (call->message == WM_SHOWWINDOW && call->wParam != 0) ||
            (call->message == WM_WINDOWPOSCHANGING &&
             (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW) != 0);
        if (show) {
            g_shown.push_back(call->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class ShowRecorder {
  public:
    ShowRecorder() {
        g_shown.clear();
        m_hHook = SetWindowsHookExW(WH_CALLWNDPROC, &RecordShows, nullptr, GetCurrentThreadId());
    }
    ~ShowRecorder() {
        if (m_hHook != nullptr) {
            UnhookWindowsHookEx(m_hHook);
        }
    }
    bool Installed() const { return m_hHook != nullptr; }
    bool Shown(HWND window) const {
        for (HWND shown : g_shown) {
            if (shown == window) {
                return true;
            }
        }
        return false;
    }

  private:
    HHOOK m_hHook = nullptr;
};

using testsupport::WindowAnswerer;

constexpr wchar_t kAboutCaption[] = L"バージョン情報 Updater";

std::wstring Text(HWND window) {
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

class UpdaterDialog : public ::testing::Test {
  protected:
    void TearDown() override {
        dialog.reset();
        PumpIdle();
    }

    void Open() {
        dialog = std::make_unique<CUpdaterDlg>();
        ASSERT_TRUE(dialog->CreateHidden());
        ASSERT_NE(dialog->Hwnd(), nullptr);
        PumpIdle();
    }

    // Hands what is queued to the dialog; bounded.
    void PumpIdle() {
        MSG msg;
        for (int i = 0; i < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            if (dialog) {
                dialog->ProcessMessage(msg);
            } else {
                DispatchMessageW(&msg);
            }
        }
    }

    std::unique_ptr<CUpdaterDlg> dialog;
};

}  // namespace

TEST_F(UpdaterDialog, CreatedFromItsTemplateAndNeverShown) {
    REQUIRE_RUN_WINE_PREFIX();
    ShowRecorder recorder;
    ASSERT_TRUE(recorder.Installed());
    Open();
    HWND window = dialog->Hwnd();
    EXPECT_EQ(Text(window), L"Updater");
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(Text(dialog->Item(IDOK)), L"OK");
    EXPECT_EQ(Text(dialog->Item(IDCANCEL)), L"キャンセル");
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(recorder.Shown(window));

    // OK and Cancel (Enter, Escape) only keep it hidden; the window stays.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PumpIdle();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(dialog->IsEnded());
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(recorder.Shown(window));

    dialog->DestroyWindow();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog->Hwnd(), nullptr);
}

TEST_F(UpdaterDialog, SystemMenuEndsWithTheAboutItem) {
    REQUIRE_RUN_WINE_PREFIX();
    Open();
    HMENU menu = GetSystemMenu(dialog->Hwnd(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    wchar_t text[128] = {};
    GetMenuStringW(menu, count - 1, text, 128, MF_BYPOSITION);
    EXPECT_STREQ(text, L"バージョン情報 Updater(&A)...");
}

TEST_F(UpdaterDialog, IconsAndDragIconAreTheProgramIcon) {
    REQUIRE_RUN_WINE_PREFIX();
    Open();
    const HICON programIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(programIcon, nullptr);
    EXPECT_EQ(dialog->Icon(), programIcon);
    const LRESULT dragIcon = SendMessageW(dialog->Hwnd(), WM_QUERYDRAGICON, 0, 0);
    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(programIcon));
    EXPECT_EQ(SendMessageW(dialog->Hwnd(), WM_GETICON, ICON_BIG, 0), dragIcon);
    EXPECT_EQ(SendMessageW(dialog->Hwnd(), WM_GETICON, ICON_SMALL, 0), dragIcon);
}

TEST_F(UpdaterDialog, AboutCommandOpensTheAboutBoxModally) {
    REQUIRE_RUN_WINE_PREFIX();
    Open();
    HWND main = dialog->Hwnd();
    HWND owner = nullptr;
    bool aboutVisible = false;
    bool mainDisabled = false;
    std::wstring versionLine;
    {
        WindowAnswerer answerer([] { return FindWindowW(nullptr, kAboutCaption); },
                                [&](HWND about) {
                                    // Found maybe while still being built;
                                    // shown once it is complete. Bounded.
                                    for (int i = 0; i < 200 && !IsWindowVisible(about); ++i) {
                                        Sleep(10);
                                    }
                                    aboutVisible = IsWindowVisible(about) != FALSE;
                                    owner = GetWindow(about, GW_OWNER);
                                    mainDisabled = !IsWindowEnabled(main);
                                    HWND child = GetWindow(about, GW_CHILD);
                                    for (; child != nullptr;
                                         child = GetWindow(child, GW_HWNDNEXT)) {
                                        const std::wstring line = Text(child);
                                        if (line.find(L"Version") != std::wstring::npos) {
                                            versionLine = line;
                                        }
                                    }
                                    PostMessageW(about, WM_COMMAND, IDOK, 0);
                                });
        // The low four bits belong to the system and do not count.
        EXPECT_EQ(SendMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0), 0);
        EXPECT_TRUE(answerer.Found());
    }
    EXPECT_EQ(owner, main);
    // Shown although its template does not ask for it, as a modal box is.
    EXPECT_TRUE(aboutVisible);
    EXPECT_TRUE(mainDisabled);
    EXPECT_EQ(versionLine, L"Updater Version 1.0");
    EXPECT_EQ(FindWindowW(nullptr, kAboutCaption), nullptr);
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_FALSE(IsWindowVisible(main));
}

// The suite carries the Updater's resources, its manifest among them.
TEST(UpdaterManifest, PerMonitorDpiAwareForWindows7To11) {
    testsupport::ExpectDpiAwareManifestForWindows7To11();
}
