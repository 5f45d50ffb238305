// The desktop's own shell on Windows: the hand-off of a page or a folder to
// Explorer's desktop (IShellWindows -> the desktop's IShellBrowser -> its
// view's background object -> IShellDispatch2::ShellExecute), which starts it
// as the desktop's user, and ShellExecuteExW where there is no desktop shell.
#pragma once

#include <windows.h>

#include <string>

#include "finder/ui/shell_open.h"

namespace finder {

// Each call must be made on a thread with COM initialised as a
// single-threaded apartment.
class CDesktopShellWin32 final : public IDesktopShell {
  public:
    explicit CDesktopShellWin32(HWND owner) : m_hOwner(owner) {}

    Result OpenThroughDesktop(const std::wstring& target) override;
    std::uint32_t OpenHere(const std::wstring& target) override;
    std::wstring ErrorText(std::uint32_t error) override;
    void ShowError(const std::wstring& message) override;

  private:
    HWND m_hOwner;
};

// OpenAsDesktopUser on a thread of its own with COM initialised as a
// single-threaded apartment; returns at once. A message box it shows is owned
// by owner.
void OpenAsDesktopUserInBackground(HWND owner, std::wstring target, OpenTarget kind);

}  // namespace finder
