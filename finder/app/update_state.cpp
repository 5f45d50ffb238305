// The update state that the finder settles at every start.
#include "common/profile_keys.h"
#include "common/version.h"
#include "finder/app/tobrel_app.h"
#include "finder/app/verified_installer.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/version_info.h"
#include "product_version.h"
#include "updater/version_file.h"

using namespace profile;

std::wstring DefaultUpdateSiteURL() {
    return std::wstring(L"http://") + SL_UPDATE_HOST_WIDE +
           L"/installer/solberio/search/latestversion.ini";
}

bool CTobrelApp::InitPaths() {
    m_strModulePath = plat::ModuleFilePath();
    m_strAppDir = plat::RemoveFileSpec(m_strModulePath);
    // Without a folder the paths would name the root of the drive: leave
    // them empty, and the update-state steps then do nothing.
    if (m_strAppDir.empty()) {
        m_strProfilePath.clear();
        return false;
    }
    m_strProfilePath = plat::JoinPath(m_strAppDir, kProfileFileName);
    return plat::PathExists(m_strProfilePath);
}

// A profile path beyond the platform's path limit would be cut by the profile
// functions and name another file: the state is then left alone.
bool CTobrelApp::HasFolder() const {
    return !m_strAppDir.empty() && !m_strProfilePath.empty() &&
           m_strProfilePath.size() < plat::kMaxPath;
}

std::wstring CTobrelApp::ReadUpdateKey(const wchar_t* key, std::size_t capacity) const {
    return plat::ReadIniString(kUpdateSection, key, L"", capacity, m_strProfilePath);
}

void CTobrelApp::WriteUpdateKey(const wchar_t* key, const std::wstring& value) const {
    plat::WriteIniString(kUpdateSection, key, value, m_strProfilePath);
}

std::wstring CTobrelApp::ReadConfiguredURL(std::size_t capacity) const {
    return plat::ReadIniString(kUrlSection, kUpdateSiteURL, DefaultUpdateSiteURL(), capacity,
                               m_strUrlIniPath);
}

void CTobrelApp::WriteVersionKeys(bool reset) const {
    WriteUpdateKey(kCurrentVersion, m_strProductVersion);
    for (const wchar_t* key : {kPassedVersion, kDownloadedVersion}) {
        if (reset || ReadUpdateKey(key, kVersionCapacity).empty()) {
            WriteUpdateKey(key, kNoVersion);
        }
    }
}

bool CTobrelApp::ReadProductVersion() {
    const auto version = plat::QueryProductVersion(m_strModulePath);
    if (!version) {
        return false;
    }
    m_strProductVersion = version->substr(0, kProductVersionCapacity - 1);
    return !m_strProductVersion.empty();
}

bool CTobrelApp::UseAppFile(std::wstring& path, const wchar_t* name) {
    if (!HasFolder()) {
        return false;
    }
    path = plat::JoinPath(m_strAppDir, name);
    return true;
}

bool CTobrelApp::CreateProfile() {
    if (!UseAppFile(m_strUrlIniPath, kUrlIniFileName)) {
        return false;
    }
    m_strUpdateSiteURL = ReadConfiguredURL(kUrlIniFirstRunCapacity);
    // An empty URL in "url.ini" leaves the folder as it was: the next start
    // is a first run again.
    if (m_strUpdateSiteURL.empty()) {
        return false;
    }
    if (!ReadProductVersion()) {
        return false;
    }
    WriteUpdateKey(kUpdateSiteURL, m_strUpdateSiteURL);
    WriteVersionKeys(true);
    return true;
}

bool CTobrelApp::RefreshProfile() {
    if (!UseAppFile(m_strUrlIniPath, kUrlIniFileName)) {
        return false;
    }
    if (ReadUpdateKey(kUpdateSiteURL, kUrlCapacity).empty()) {
        m_strUpdateSiteURL = ReadConfiguredURL(kUrlCapacity);
        WriteUpdateKey(kUpdateSiteURL, m_strUpdateSiteURL);
    }
    if (!ReadProductVersion()) {
        return false;
    }
    WriteVersionKeys(false);
    return true;
}

bool CTobrelApp::IsInstallerPending() {
    if (!UseAppFile(m_strInstallerPath, kInstallerFileName)) {
        return false;
    }
    m_strCurrentVersion = ReadUpdateKey(kCurrentVersion, kVersionCapacity);
    m_strPassedVersion = ReadUpdateKey(kPassedVersion, kVersionCapacity);
    m_strDownloadedVersion = ReadUpdateKey(kDownloadedVersion, kVersionCapacity);
    if (!plat::PathExists(m_strInstallerPath)) {
        return false;
    }
    const VersionNumbers downloaded = ParseVersion(m_strDownloadedVersion);
    const VersionNumbers current = ParseVersion(m_strCurrentVersion);
    if (IsNewerVersion(downloaded, current) && HoldVerifiedInstaller()) {
        return true;
    }
    DeleteDownload();
    return false;
}

bool CTobrelApp::HoldVerifiedInstaller() {
    if (m_publicKey.empty()) {
        return true;
    }
    // The installer is held from before its bytes are read until it has
    // started, so nobody can change it in between.
    plat::HeldFile kept;
    std::optional<std::string> keptBytes;
    if (m_heldInstaller.Open(m_strInstallerPath) &&
        kept.Open(plat::JoinPath(m_strAppDir, updater::kKeptVersionFileName))) {
        keptBytes = kept.ReadAll(finder::kMaxKeptVersionFile);
    }
    if (keptBytes && finder::IsVerifiedInstaller(*keptBytes, m_strDownloadedVersion,
                                                 m_heldInstaller, m_publicKey)) {
        return true;
    }
    m_heldInstaller.Close();
    return false;
}

void CTobrelApp::DeleteDownload() {
    m_heldInstaller.Close();
    plat::DeleteFilePath(m_strInstallerPath);
    plat::DeleteFilePath(plat::JoinPath(m_strAppDir, updater::kKeptVersionFileName));
}
