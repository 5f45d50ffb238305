// Opening a device's page or shared folder as the desktop's user. The finder
// runs elevated; what it starts itself (a browser, Explorer) would run
// elevated too. So the target goes to the desktop's own shell, which runs
// with the user's rights, and only where there is no such shell (no Explorer:
// a kiosk, a server core, Wine) is it opened from the finder's own process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace finder {

// What the finder needs of the system to hand a target over.
class IDesktopShell {
  public:
    enum class Handed {
        kOpened,     // the desktop's shell took it
        kNoDesktop,  // there is no desktop shell to take it
        kFailed,     // the desktop's shell refused it (error tells why)
    };
    struct Result {
        Handed handed;
        std::uint32_t error;  // a system error code or HRESULT; 0 unless failed
    };

    virtual ~IDesktopShell() = default;
    // Hands target to the desktop's shell's "open".
    virtual Result OpenThroughDesktop(const std::wstring& target) = 0;
    // Opens target from this process: 0, or the system's error code.
    virtual std::uint32_t OpenHere(const std::wstring& target) = 0;
    // The system's text for an error code.
    virtual std::wstring ErrorText(std::uint32_t error) = 0;
    // Tells the user, in a message box over the finder.
    virtual void ShowError(const std::wstring& message) = 0;
};

enum class OpenTarget { kPage, kFolder };

// Opens target through the desktop's shell, or from this process when there
// is none. A folder that cannot be opened is reported with the system's text
// and its path; a page that cannot be opened changes nothing in the finder.
// True when the target was handed over.
bool OpenAsDesktopUser(IDesktopShell& shell, const std::wstring& target, OpenTarget kind);

// The message for a shared folder that could not be opened.
std::wstring FolderNotOpenedMessage(std::wstring_view path, std::wstring_view systemText);

}  // namespace finder
