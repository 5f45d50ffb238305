#include "updater/updater_app.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/profile_keys.h"
#include "common/version.h"
#include "platform/environment.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "updater/version_file.h"

namespace updater {

namespace {

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

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The names the Updater writes itself, which a download must not take.
bool IsReservedFileName(std::wstring_view name) {
    return EqualsIgnoringCase(name, kPartialFileName) ||
           EqualsIgnoringCase(name, kKeptPartialFileName) ||
           EqualsIgnoringCase(name, kKeptVersionFileName);
}

}  // namespace

RetryPolicy RetryPolicyFromEnvironment() {
    RetryPolicy policy;
    if (const auto attempts = plat::EnvNumber("SL_UPDATER_ATTEMPTS", 1, 20)) {
        policy.attempts = static_cast<int>(*attempts);
    }
    if (const auto pause = plat::EnvNumber("SL_UPDATER_RETRY_PAUSE_MS", 0, 600000)) {
        policy.firstPause = std::chrono::milliseconds(*pause);
    }
    return policy;
}

HttpOptions HttpOptionsFromEnvironment() {
    HttpOptions options;
    if (const auto timeout = plat::EnvNumber("SL_UPDATER_TIMEOUT_MS", 100, 600000)) {
        options.connectTimeoutMs = options.sendTimeoutMs = options.receiveTimeoutMs =
            static_cast<unsigned>(*timeout);
    }
    if (const auto window = plat::EnvNumber("SL_UPDATER_LOW_SPEED_MS", 100, 600000)) {
        options.lowSpeedWindowMs = static_cast<unsigned>(*window);
    }
    return options;
}

int NetworkHttp::GetText(const std::wstring& url, std::string& bytes) {
    return HttpGetText(url, bytes, options_);
}

int NetworkHttp::GetFile(const std::wstring& url, const std::wstring& localPath,
                         plat::Sha256* hash) {
    return HttpGetFile(url, localPath, options_, hash);
}

CUpdaterApp::CUpdaterApp(IUpdaterPlatform& platform, IUpdaterHttp& http, RetryPolicy retry,
                         std::vector<std::uint8_t> publicKey)
    : platform_(platform), http_(http), retry_(retry), publicKey_(std::move(publicKey)) {}

bool CUpdaterApp::StartInstance() {
    if (!platform_.Initialize()) {
        return false;
    }
    platform_.RunWork([this] { RunSteps(); });
    platform_.Finish();
    return false;
}

void CUpdaterApp::RunSteps() {
    // Any argument: read nothing, contact nobody, write nothing.
    if (!platform_.HasArguments() && ReadUpdateState() && TakeFolder() && CheckForUpdate() &&
        DownloadWithRetries() && !platform_.StopRequested()) {
        WriteDownloadedVersion();
    }
    folderLock_.reset();
}

bool CUpdaterApp::TakeFolder() {
    // A second Updater of this folder ends here and writes nothing.
    folderLock_ = plat::TryLockInstance(kInstanceLockName, m_strModuleDir);
    if (!folderLock_) {
        return false;
    }
    plat::DeleteFilePath(PartialPath());
    plat::DeleteFilePath(plat::JoinPath(m_strModuleDir, kKeptPartialFileName));
    return true;
}

std::wstring CUpdaterApp::ProfilePath() const {
    return plat::JoinPath(m_strModuleDir, profile::kProfileFileName);
}

std::wstring CUpdaterApp::PartialPath() const {
    return plat::JoinPath(m_strModuleDir, kPartialFileName);
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
    std::string bytes;
    if (http_.GetText(m_strUpdateSiteURL, bytes) != 200) {
        return false;
    }
    if (!publicKey_.empty()) {
        // Only signed bytes count: the two lines, and the installer's hash.
        auto verified = VerifySignedVersionFile(bytes, publicKey_);
        if (!verified) {
            return false;
        }
        installerSha256_ = verified->installerSha256;
        m_strLatestVersion = verified->file.latestVersion;
        m_strInstallerURL = verified->file.installerURL;
        keptVersionBytes_ = std::move(bytes);
        return true;
    }
    const auto file = ParseVersionFile(VersionTextFromBytes(bytes));
    if (!file) {
        return false;
    }
    m_strLatestVersion = file->latestVersion;
    m_strInstallerURL = file->installerURL;
    return true;
}

CUpdaterApp::Attempt CUpdaterApp::DownloadInstaller(const std::wstring& url) {
    const std::wstring name = InstallerFileName(url);
    m_strInstallerPath = plat::JoinPath(m_strModuleDir, name);
    // The site names the file: it must stay a plain file in our folder, and
    // not the one the download goes to first.
    if (!IsSafeInstallerName(name) || IsReservedFileName(name) ||
        m_strInstallerPath.size() >= plat::kMaxPath || PartialPath().size() >= plat::kMaxPath) {
        return Attempt::kRejected;
    }
    const std::wstring partial = PartialPath();
    const bool verify = !publicKey_.empty();
    plat::Sha256 hash;
    Attempt outcome = Attempt::kFailed;
    if (http_.GetFile(url, partial, verify ? &hash : nullptr) == 200) {
        const auto digest = verify ? hash.Finish() : std::nullopt;
        if (verify && (!digest || *digest != installerSha256_)) {
            outcome = Attempt::kRejected;
        } else if (verify ? PlaceVerifiedPair(partial)
                          : plat::MoveFileReplacing(partial, m_strInstallerPath)) {
            return Attempt::kDone;
        }
    }
    plat::DeleteFilePath(partial);
    return outcome;
}

bool CUpdaterApp::PlaceVerifiedPair(const std::wstring& partial) {
    // The version file is written first and takes its name last: a run cut
    // in between leaves a pair that does not match, which the finder deletes.
    const std::wstring keptPartial = plat::JoinPath(m_strModuleDir, kKeptPartialFileName);
    const std::wstring kept = plat::JoinPath(m_strModuleDir, kKeptVersionFileName);
    plat::OutputFile file;
    const bool written = file.Create(keptPartial) &&
                         file.Write(keptVersionBytes_.data(), keptVersionBytes_.size()) &&
                         file.Close();
    if (written && plat::MoveFileReplacing(partial, m_strInstallerPath)) {
        if (plat::MoveFileReplacing(keptPartial, kept)) {
            return true;
        }
        plat::DeleteFilePath(m_strInstallerPath);
    }
    file.Close();
    plat::DeleteFilePath(keptPartial);
    return false;
}

bool CUpdaterApp::DownloadWithRetries() {
    std::chrono::milliseconds pause = retry_.firstPause;
    for (int attempt = 1;; ++attempt) {
        const Attempt outcome = DownloadInstaller(m_strInstallerURL);
        if (outcome != Attempt::kFailed) {
            return outcome == Attempt::kDone;
        }
        if (attempt >= retry_.attempts || platform_.StopRequested()) {
            return false;
        }
        platform_.Pause(pause);
        if (platform_.StopRequested()) {
            return false;
        }
        pause = std::min(pause * 2, retry_.longestPause);
    }
}

}  // namespace updater
