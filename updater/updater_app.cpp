#include "updater/updater_app.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/profile_keys.h"
#include "common/version.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "updater/version_file.h"

namespace updater {

namespace {

std::optional<long> EnvNumber(const char* name, long low, long high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::int32_t> Parsed(const std::wstring& text) {
    const VersionNumbers numbers = ParseVersion(text);
    return {numbers.begin(), numbers.end()};
}

bool IsNewer(const std::vector<std::int32_t>& candidate,
             const std::vector<std::int32_t>& reference) {
    VersionNumbers c{};
    VersionNumbers r{};
    std::copy_n(candidate.begin(), c.size(), c.begin());
    std::copy_n(reference.begin(), r.size(), r.begin());
    return IsNewerVersion(c, r);
}

}  // namespace

RetryPolicy RetryPolicyFromEnvironment() {
    RetryPolicy policy;
    if (const auto attempts = EnvNumber("SL_UPDATER_ATTEMPTS", 1, 20)) {
        policy.attempts = static_cast<int>(*attempts);
    }
    if (const auto pause = EnvNumber("SL_UPDATER_RETRY_PAUSE_MS", 0, 600000)) {
        policy.firstPause = std::chrono::milliseconds(*pause);
    }
    return policy;
}

HttpOptions HttpOptionsFromEnvironment() {
    HttpOptions options;
    if (const auto timeout = EnvNumber("SL_UPDATER_TIMEOUT_MS", 100, 600000)) {
        options.connectTimeoutMs = options.sendTimeoutMs = options.receiveTimeoutMs =
            static_cast<unsigned>(*timeout);
    }
    return options;
}

int NetworkHttp::GetText(const std::wstring& url, std::wstring& text) {
    return HttpGetText(url, text, options_);
}

int NetworkHttp::GetFile(const std::wstring& url, const std::wstring& localPath) {
    return HttpGetFile(url, localPath, options_);
}

CUpdaterApp::CUpdaterApp(IUpdaterPlatform& platform, IUpdaterHttp& http, RetryPolicy retry)
    : platform_(platform), http_(http), retry_(retry) {}

bool CUpdaterApp::StartInstance() {
    if (!platform_.Initialize()) {
        return false;
    }
    // Any argument: read nothing, contact nobody, write nothing.
    if (!platform_.HasArguments() && ReadUpdateState() && CheckForUpdate() &&
        DownloadWithRetries()) {
        WriteDownloadedVersion();
    }
    platform_.Finish();
    return false;
}

std::wstring CUpdaterApp::ProfilePath() const {
    return plat::JoinPath(m_strModuleDir, profile::kProfileFileName);
}

bool CUpdaterApp::ReadUpdateState() {
    const std::wstring modulePath = platform_.ModuleFilePath();
    if (modulePath.empty()) {
        return false;
    }
    m_strModuleDir = plat::RemoveFileSpec(modulePath);
    // A path the profile functions would cut names another file.
    if (ProfilePath().size() >= plat::kMaxPath) {
        return false;
    }
    const std::wstring file = ProfilePath();
    m_strUpdateSiteURL = plat::ReadIniString(profile::kUpdateSection, profile::kUpdateSiteURL, L"",
                                             profile::kUrlCapacity, file);
    m_strCurrentVersion = plat::ReadIniString(profile::kUpdateSection, profile::kCurrentVersion,
                                              L"", profile::kVersionCapacity, file);
    m_strPassedVersion = plat::ReadIniString(profile::kUpdateSection, profile::kPassedVersion, L"",
                                             profile::kVersionCapacity, file);
    m_strDownloadedVersion = plat::ReadIniString(
        profile::kUpdateSection, profile::kDownloadedVersion, L"", profile::kVersionCapacity, file);
    return !(m_strUpdateSiteURL.empty() && m_strCurrentVersion.empty());
}

bool CUpdaterApp::CheckForUpdate() {
    m_arrCurrentVersion = Parsed(m_strCurrentVersion);
    if (!FetchVersionFile()) {
        return false;
    }
    m_arrLatestVersion = Parsed(m_strLatestVersion);
    if (!IsNewer(m_arrLatestVersion, m_arrCurrentVersion)) {
        return false;
    }
    m_arrPassedVersion = Parsed(m_strPassedVersion);
    if (!IsNewer(m_arrLatestVersion, m_arrPassedVersion)) {
        return false;
    }
    m_arrDownloadedVersion = Parsed(m_strDownloadedVersion);
    return IsNewer(m_arrLatestVersion, m_arrDownloadedVersion);
}

bool CUpdaterApp::WriteDownloadedVersion() {
    return plat::WriteIniString(profile::kUpdateSection, profile::kDownloadedVersion,
                                m_strLatestVersion, ProfilePath());
}

bool CUpdaterApp::FetchVersionFile() {
    std::wstring text;
    if (http_.GetText(m_strUpdateSiteURL, text) != 200) {
        return false;
    }
    const auto file = ParseVersionFile(text);
    if (!file) {
        return false;
    }
    m_strLatestVersion = file->latestVersion;
    m_strInstallerURL = file->installerURL;
    return true;
}

bool CUpdaterApp::DownloadInstaller(const std::wstring& url) {
    const std::wstring name = InstallerFileName(url);
    m_strInstallerPath = plat::JoinPath(m_strModuleDir, name);
    // The site names the file: it must stay a plain file in our folder.
    if (!IsSafeInstallerName(name) || m_strInstallerPath.size() >= plat::kMaxPath) {
        return false;
    }
    return http_.GetFile(url, m_strInstallerPath) == 200;
}

bool CUpdaterApp::DownloadWithRetries() {
    const std::wstring name = InstallerFileName(m_strInstallerURL);
    if (!IsSafeInstallerName(name) ||
        plat::JoinPath(m_strModuleDir, name).size() >= plat::kMaxPath) {
        return false;  // no attempt can succeed
    }
    std::chrono::milliseconds pause = retry_.firstPause;
    for (int attempt = 1;; ++attempt) {
        if (DownloadInstaller(m_strInstallerURL)) {
            return true;
        }
        if (attempt >= retry_.attempts) {
            return false;
        }
        platform_.Pause(pause);
        pause = std::min(pause * 2, retry_.longestPause);
    }
}

}  // namespace updater
