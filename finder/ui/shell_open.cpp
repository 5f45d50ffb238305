#include "finder/ui/shell_open.h"

namespace finder {

bool OpenAsDesktopUser(IDesktopShell& shell, const std::wstring& target, OpenTarget kind) {
    const IDesktopShell::Result desktop = shell.OpenThroughDesktop(target);
    if (desktop.handed == IDesktopShell::Handed::kOpened) {
        return true;
    }
    // Where a desktop shell exists but refused, the finder does not open the
    // target itself: that would start it with administrator rights.
    const std::uint32_t error = desktop.handed == IDesktopShell::Handed::kNoDesktop
                                    ? shell.OpenHere(target)
                                    : desktop.error;
    if (error == 0) {
        return true;
    }
    if (kind == OpenTarget::kFolder) {
        shell.ShowError(FolderNotOpenedMessage(target, shell.ErrorText(error)));
    }
    return false;
}

std::wstring FolderNotOpenedMessage(std::wstring_view path, std::wstring_view systemText) {
    std::wstring message = L"共有フォルダー ";
    message.append(path);
    message += L" を開けませんでした。";
    if (!systemText.empty()) {
        message += L"\n\n";
        message.append(systemText);
    }
    return message;
}

}  // namespace finder
