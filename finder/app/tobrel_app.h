// The finder's application object: its start-up, its folder, the update
// state in "profile.ini", and the hand-off of a downloaded installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "finder/app/app_base.h"
#include "finder/app/finder_shell.h"
#include "platform/held_file.h"

class CTobrelApp : public CTobrelAppBase {
  public:
    // shell carries the system calls of the start-up; it must outlive the
    // object's StartInstance. With a public key (a P-256
    // SubjectPublicKeyInfo in DER, the one the Updater checks releases with)
    // a downloaded installer is offered only when it is the one the kept
    // version file vouches for, and held unchanged until it has started.
    explicit CTobrelApp(IFinderShell* shell = nullptr, std::vector<std::uint8_t> publicKey = {});
    ~CTobrelApp() override = default;

    void SetShell(IFinderShell* shell);

    // The whole run of the finder: common controls, sockets, update state,
    // the installer offer, the Updater, the single-instance rule and the main
    // dialog, in that order. Always false: no message loop follows.
    bool StartInstance() override;

    // m_strUpdaterPath = the folder + "Updater.exe".
    void BuildUpdaterPath();
    // Starts the program at path with no arguments (its quoted path alone as
    // the command line); never waits for it. False when it was not started,
    // also when the quoted path does not fit the command-line buffer.
    bool LaunchProgram(const std::wstring& path);

    // Folder paths of the running finder; true when "profile.ini" exists.
    bool InitPaths();

    // First run: writes all four keys of "profile.ini"; true when written.
    bool CreateProfile();
    // Later runs: fills in missing keys and records the running version;
    // true when "CurrentVersion" was written.
    bool RefreshProfile();
    // True when a downloaded installer is newer than the running finder and
    // is to be offered (with a key: verified, and held until
    // ReleaseInstaller); deletes an installer that is not, and the version
    // file kept beside it.
    bool IsInstallerPending();
    // Lets go of the installer that IsInstallerPending held.
    void ReleaseInstaller() { m_heldInstaller.Close(); }
    // The finder's own "ProductVersion" into m_strProductVersion.
    bool ReadProductVersion();

    std::wstring m_strUpdaterPath;
    std::wstring m_strProfilePath;
    std::wstring m_strUrlIniPath;
    std::wstring m_strModulePath;
    std::wstring m_strUpdateSiteURL;
    std::wstring m_strInstallerPath;
    std::wstring m_strAppDir;
    std::wstring m_strCurrentVersion;
    std::wstring m_strPassedVersion;
    std::wstring m_strDownloadedVersion;
    std::wstring m_strProductVersion;

    IFinderShell* m_pShell = nullptr;
    std::vector<std::uint8_t> m_publicKey;

  protected:
    // Whether InitPaths (or a test) gave the folder and a profile path that
    // fits the platform's path limit.
    bool HasFolder() const;

  private:
    // Sets path to the file name beside the program; false (path untouched)
    // without a usable folder, and the step then does nothing.
    bool UseAppFile(std::wstring& path, const wchar_t* name);
    // A key of the profile's [Update] section.
    std::wstring ReadUpdateKey(const wchar_t* key, std::size_t capacity) const;
    void WriteUpdateKey(const wchar_t* key, const std::wstring& value) const;
    // The update-site URL of "url.ini" (m_strUrlIniPath), or the default.
    std::wstring ReadConfiguredURL(std::size_t capacity) const;
    // With a key: holds the installer and checks it against the kept
    // version file; true without a key.
    bool HoldVerifiedInstaller();
    // The installer and the version file kept beside it.
    void DeleteDownload();
    // CurrentVersion from the program's version; PassedVersion and
    // DownloadedVersion set to "no version", when reset or missing.
    void WriteVersionKeys(bool reset) const;

    plat::HeldFile m_heldInstaller;
};

// The command-line buffer of a started program, terminator included.
inline constexpr std::size_t kCommandLineCapacity = 260;

// "\"" + path + "\"", or none when that does not fit kCommandLineCapacity
// with its terminator, or path is empty or holds a quote.
std::optional<std::wstring> QuotedCommandLine(const std::wstring& path);

// The update-site URL used when "url.ini" does not name one.
std::wstring DefaultUpdateSiteURL();

// The name under which the finder looks for a downloaded installer.
inline constexpr wchar_t kInstallerFileName[] = L"slwintool_set_up.exe";
