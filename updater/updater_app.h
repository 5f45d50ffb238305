// The Updater's application object: one run reads the update state, fetches
// the version file, decides, downloads the installer and records its
// version. Windows and the network are reached through two small interfaces,
// so the flow is the same program on every platform and under test.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/instance_lock.h"
#include "updater/http.h"
#include "updater/updater_app_base.h"

namespace updater {

// The HTTP exchanges the flow needs (HttpGetText and HttpGetFile in the
// program, a scripted site in tests).
class IUpdaterHttp {
  public:
    virtual ~IUpdaterHttp() = default;
    virtual int GetText(const std::wstring& url, std::string& bytes) = 0;
    virtual int GetFile(const std::wstring& url, const std::wstring& localPath,
                        plat::Sha256* hash) = 0;
};

// The file each download attempt writes, beside the installer; it takes the
// installer's name only once it is complete (and verified).
inline constexpr wchar_t kPartialFileName[] = L"Updater.download";
// The signed version file on its way to its kept name beside the installer.
inline constexpr wchar_t kKeptPartialFileName[] = L"Updater.download.ini";
// The name of the one-per-folder lock (Updater.lock natively).
inline constexpr wchar_t kInstanceLockName[] = L"Updater";

// What the flow needs of the system it runs on.
class IUpdaterPlatform {
  public:
    virtual ~IUpdaterPlatform() = default;
    // Common controls, the socket layer and the hidden main window. False
    // ends the run at once; the platform has shown why.
    virtual bool Initialize() = 0;
    // Whether anything follows the program's name on the command line.
    virtual bool HasArguments() = 0;
    virtual std::wstring ModuleFilePath() = 0;
    // Waits; a stop request ends the wait early.
    virtual void Pause(std::chrono::milliseconds pause) = 0;
    // Runs the work of the run and returns when it has ended. A platform
    // with a window runs it on a thread of its own, so that the window's
    // thread keeps answering its messages meanwhile.
    virtual void RunWork(const std::function<void()>& work) { work(); }
    // Whether the run is to end at once (the session ends): no further
    // attempt is made and nothing is recorded.
    virtual bool StopRequested() { return false; }
    // Takes down what Initialize set up.
    virtual void Finish() = 0;
};

// A failed download is tried again after a pause that doubles each time.
struct RetryPolicy {
    int attempts = 5;
    std::chrono::milliseconds firstPause{2000};
    std::chrono::milliseconds longestPause{60000};
};

// The defaults, changed by SL_UPDATER_ATTEMPTS (1-20), SL_UPDATER_RETRY_PAUSE_MS
// (0-600000), SL_UPDATER_TIMEOUT_MS (100-600000, connect, send and receive)
// and SL_UPDATER_LOW_SPEED_MS (100-600000, the window of the low-speed
// limit) so that tests need not wait long. Values out of range are ignored.
RetryPolicy RetryPolicyFromEnvironment();
HttpOptions HttpOptionsFromEnvironment();

// IUpdaterHttp over HttpGetText and HttpGetFile.
class NetworkHttp : public IUpdaterHttp {
  public:
    explicit NetworkHttp(const HttpOptions& options) : options_(options) {}
    int GetText(const std::wstring& url, std::string& bytes) override;
    int GetFile(const std::wstring& url, const std::wstring& localPath,
                plat::Sha256* hash) override;

  private:
    HttpOptions options_;
};

// On Windows the application object of the framework: its entry calls
// StartInstance, and the false it returns ends the program with exit code 0.
class CUpdaterApp : public CUpdaterAppBase {
  public:
    // With a public key (a P-256 SubjectPublicKeyInfo in DER) the version
    // file must be signed with its private half and the installer must have
    // the signed SHA-256; without one both are taken as they come.
    CUpdaterApp(IUpdaterPlatform& platform, IUpdaterHttp& http, RetryPolicy retry = {},
                std::vector<std::uint8_t> publicKey = {});

    enum class Attempt {
        kDone,      // the installer is in place
        kFailed,    // worth another attempt
        kRejected,  // bytes or name not acceptable: another attempt cannot help
    };

    // The whole run; always false, so nothing runs after it.
    bool StartInstance() override;

    // Fills m_strModuleDir and the four state values; false when there is
    // nothing to check (no URL and no current version).
    bool ReadUpdateState();
    // True when the latest version is newer than the current, the passed and
    // the downloaded one; fetches the version file on the way.
    bool CheckForUpdate();
    // Records m_strLatestVersion as "DownloadedVersion".
    bool WriteDownloadedVersion();
    // Fills m_strLatestVersion and m_strInstallerURL (and with a key the
    // installer's SHA-256) from the version file; with a key only from a file
    // whose signature verifies.
    bool FetchVersionFile();
    // One download attempt into kPartialFileName, moved onto the installer's
    // name in m_strModuleDir only when complete and, with a key, of the
    // signed SHA-256. A failed attempt leaves no partial file.
    Attempt DownloadInstaller(const std::wstring& url);

    std::wstring m_strModuleDir;
    std::wstring m_strUpdateSiteURL;
    std::wstring m_strCurrentVersion;
    std::wstring m_strPassedVersion;
    std::wstring m_strDownloadedVersion;
    std::wstring m_strLatestVersion;
    std::wstring m_strInstallerURL;
    std::wstring m_strInstallerPath;
    std::vector<std::int32_t> m_arrCurrentVersion;
    std::vector<std::int32_t> m_arrLatestVersion;
    std::vector<std::int32_t> m_arrPassedVersion;
    std::vector<std::int32_t> m_arrDownloadedVersion;

  private:
    // Everything between Initialize and Finish.
    void RunSteps();
    // DownloadInstaller until it succeeds, is rejected, the attempts are
    // used up or a stop is requested.
    bool DownloadWithRetries();
    // With a key: the signed version file written beside the installer and
    // both moved onto their names; false (neither left behind) on a failure.
    bool PlaceVerifiedPair(const std::wstring& partial);
    // The folder's lock, and the partial files a killed run left removed.
    bool TakeFolder();
    std::wstring ProfilePath() const;
    std::wstring PartialPath() const;

    IUpdaterPlatform& platform_;
    IUpdaterHttp& http_;
    RetryPolicy retry_;
    std::vector<std::uint8_t> publicKey_;
    plat::Sha256Digest installerSha256_{};
    // The signed version file as it came, kept beside the installer.
    std::string keptVersionBytes_;
    std::unique_ptr<plat::InstanceLock> folderLock_;
};

}  // namespace updater
