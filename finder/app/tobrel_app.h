// The finder's application object: its folder, the update state in
// "profile.ini", and the hand-off of a downloaded installer.
#pragma once

#include <string>

class CTobrelApp {
  public:
    CTobrelApp() = default;
    virtual ~CTobrelApp() = default;

    // Folder paths of the running finder; true when "profile.ini" exists.
    bool InitPaths();

    // First run: writes all four keys of "profile.ini"; true when written.
    bool CreateProfile();
    // Later runs: fills in missing keys and records the running version;
    // true when "CurrentVersion" was written.
    bool RefreshProfile();
    // True when a downloaded installer is newer than the running finder and
    // is to be offered; deletes an installer that is not.
    bool IsInstallerPending();
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

  protected:
    // Whether InitPaths (or a test) gave the folder and a profile path that
    // fits the platform's path limit.
    bool HasFolder() const;
};

// The update-site URL used when "url.ini" does not name one.
std::wstring DefaultUpdateSiteURL();

// The name under which the finder looks for a downloaded installer.
inline constexpr wchar_t kInstallerFileName[] = L"slwintool_set_up.exe";
