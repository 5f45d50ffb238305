// The application layer shared by the tool set's Windows programs.
//
// A program defines one global object of a class derived from CApplication
// and calls its Run() from wWinMain:
//
//     CMyApp theApp;
//     int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
//         return theApp.Run(instance);
//     }
//
// Run() names the application after the executable's file title (the file
// name without its extension), which becomes the title of every message box
// shown through ShowMessageBox, and then calls StartInstance, which does all
// of the program's work. When StartInstance returns true, Run() keeps a
// message loop going until WM_QUIT; the tool set's programs return false and
// end right away.
#pragma once

#include <windows.h>

#include <string>

namespace win {

class CApplication {
  public:
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // The program's top-level work; true asks for a message loop after it.
    virtual bool StartInstance() = 0;

    // Called once from wWinMain. Returns the process's exit code: the
    // WM_QUIT code after a message loop, otherwise ExitCode().
    int Run(HINSTANCE instance);

    // The one application object of the process, or none before it exists.
    static CApplication* Current();

    HINSTANCE Instance() const { return m_hInstance; }
    const std::wstring& AppName() const { return m_strAppName; }
    HWND MainWindow() const { return m_hMainWnd; }
    void SetMainWindow(HWND window) { m_hMainWnd = window; }
    int ExitCode() const { return m_nExitCode; }
    void SetExitCode(int code) { m_nExitCode = code; }

    // A message box titled with the application's name, owned by the main
    // window when one exists. Returns the button pressed (IDOK, IDYES, ...).
    int ShowMessageBox(const std::wstring& text, UINT type) const;

  private:
    HINSTANCE m_hInstance = nullptr;
    HWND m_hMainWnd = nullptr;
    std::wstring m_strAppName;
    int m_nExitCode = 0;
};

// A string resource of the running program, of any length; empty when the
// resource is missing.
std::wstring LoadText(UINT id);

// The file title of a path: its last component without the extension.
std::wstring FileTitleOf(const std::wstring& path);

}  // namespace win
