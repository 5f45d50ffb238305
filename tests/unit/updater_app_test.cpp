// The Updater's flow over a scripted site and a scripted platform.
#include "updater/updater_app.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/profile_keys.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using updater::CUpdaterApp;

class Folder {
  public:
    Folder() {
        std::random_device rd;
        path_ =
            fs::temp_directory_path() / ("slupd-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::wstring W() const { return path_.wstring(); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

class FakePlatform : public updater::IUpdaterPlatform {
  public:
    bool Initialize() override {
        ++initialized;
        return initializeResult;
    }
    bool HasArguments() override { return arguments; }
    std::wstring ModuleFilePath() override { return modulePath; }
    void Pause(std::chrono::milliseconds pause) override { pauses.push_back(pause); }
    void Finish() override { ++finished; }

    bool initializeResult = true;
    bool arguments = false;
    std::wstring modulePath;
    std::vector<std::chrono::milliseconds> pauses;
    int initialized = 0;
    int finished = 0;
};

class FakeHttp : public updater::IUpdaterHttp {
  public:
    int GetText(const std::wstring& url, std::string& bytes) override {
        textUrls.push_back(url);
        bytes += body;
        return textResult;
    }
    // Every attempt writes its file, as a real one that gets a 200 does;
    // only a complete one may take the installer's name.
    int GetFile(const std::wstring& url, const std::wstring& localPath,
                plat::Sha256* hash) override {
        fileUrls.push_back(url);
        filePaths.push_back(localPath);
        const std::size_t i = fileUrls.size() - 1;
        const int result =
            fileResults.empty() ? 200 : fileResults[std::min(i, fileResults.size() - 1)];
        std::ofstream(fs::path(localPath), std::ios::binary) << installer;
        if (hash != nullptr) {
            hash->Update(installer.data(), installer.size());
        }
        return result;
    }

    int textResult = 200;
    std::string installer = "installer";
    std::string body = "LatestVersion=1.0.0.2\nURL=http://site/installer/slwintool_set_up.exe\n";
    std::vector<int> fileResults;
    std::vector<std::wstring> textUrls;
    std::vector<std::wstring> fileUrls;
    std::vector<std::wstring> filePaths;
};

const std::wstring kSiteUrl = L"http://site/installer/solberio/search/latestversion.ini";

class UpdaterFlow : public ::testing::Test {
  protected:
    void SetUp() override { platform.modulePath = plat::JoinPath(folder.W(), L"Updater.exe"); }

    std::wstring Profile() const { return plat::JoinPath(folder.W(), profile::kProfileFileName); }

    void WriteState(const std::wstring& url, const std::wstring& current,
                    const std::wstring& passed, const std::wstring& downloaded) {
        plat::WriteIniString(profile::kUpdateSection, profile::kUpdateSiteURL, url, Profile());
        plat::WriteIniString(profile::kUpdateSection, profile::kCurrentVersion, current, Profile());
        plat::WriteIniString(profile::kUpdateSection, profile::kPassedVersion, passed, Profile());
        plat::WriteIniString(profile::kUpdateSection, profile::kDownloadedVersion, downloaded,
                             Profile());
    }

    fs::path Installer() const { return folder.Path() / "slwintool_set_up.exe"; }
    std::wstring Partial() const { return plat::JoinPath(folder.W(), updater::kPartialFileName); }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::wstring Downloaded() const {
        return plat::ReadIniString(profile::kUpdateSection, profile::kDownloadedVersion, L"<none>",
                                   1024, Profile());
    }

    bool Run() {
        CUpdaterApp app(platform, http, retry);
        return app.StartInstance();
    }

    Folder folder;
    FakePlatform platform;
    FakeHttp http;
    updater::RetryPolicy retry{5, 100ms, 60000ms};
};

struct DecisionCase {
    const char* name;
    const wchar_t* current;
    const wchar_t* passed;
    const wchar_t* downloaded;
    const wchar_t* latest;
    bool download;
};

class UpdaterDecision : public UpdaterFlow, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(UpdaterDecision, DownloadsOnlyWhenNewerThanAllThree) {
    const auto& c = GetParam();
    WriteState(kSiteUrl, c.current, c.passed, c.downloaded);
    http.body = "LatestVersion=" + plat::ToUtf8(c.latest) +
                "\nURL=http://site/installer/slwintool_set_up.exe\n";
    EXPECT_FALSE(Run());
    ASSERT_EQ(http.textUrls.size(), 1u);
    EXPECT_EQ(http.textUrls[0], kSiteUrl);
    EXPECT_EQ(http.fileUrls.size(), c.download ? 1u : 0u);
    EXPECT_EQ(Downloaded(), c.download ? std::wstring(c.latest) : std::wstring(c.downloaded));
    EXPECT_EQ(platform.finished, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdaterDecision,
    ::testing::Values(
        DecisionCase{"Newer", L"1.0.0.0", L"0.0.0.0", L"0.0.0.0", L"1.0.0.1", true},
        DecisionCase{"EqualCurrent", L"1.0.0.2", L"0.0.0.0", L"0.0.0.0", L"1.0.0.2", false},
        DecisionCase{"OlderThanCurrent", L"1.0.0.3", L"0.0.0.0", L"0.0.0.0", L"1.0.0.2", false},
        DecisionCase{"EqualPassed", L"1.0.0.0", L"1.0.0.2", L"0.0.0.0", L"1.0.0.2", false},
        DecisionCase{"BelowPassed", L"1.0.0.0", L"2.0.0.0", L"0.0.0.0", L"1.5.0.0", false},
        DecisionCase{"AbovePassed", L"1.0.0.0", L"1.0.0.1", L"0.0.0.0", L"1.0.0.2", true},
        DecisionCase{"EqualDownloaded", L"1.0.0.0", L"0.0.0.0", L"1.0.0.2", L"1.0.0.2", false},
        DecisionCase{"AboveDownloaded", L"1.0.0.0", L"0.0.0.0", L"1.0.0.1", L"1.0.0.2", true},
        DecisionCase{"NumbersNotText", L"1.9.0.0", L"0.0.0.0", L"0.0.0.0", L"1.10.0.0", true},
        DecisionCase{"FirstPlaceDecides", L"1.0.0.5", L"0.0.0.0", L"0.0.0.0", L"2.0.0.0", true},
        DecisionCase{"MissingPassedAndDownloaded", L"1.0.0.0", L"", L"", L"1.0.0.1", true},
        DecisionCase{"NotAVersion", L"1.0.0.0", L"0.0.0.0", L"0.0.0.0", L"new", false},
        // Written exactly as the site gave it, not reformatted.
        DecisionCase{"WrittenAsGiven", L"1.0.0.0", L"0.0.0.0", L"0.0.0.0", L"01.0.0.2-beta", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterFlow, GoodRunStoresTheInstallerBesideTheProgram) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    Run();
    ASSERT_EQ(http.fileUrls.size(), 1u);
    EXPECT_EQ(http.fileUrls[0], L"http://site/installer/slwintool_set_up.exe");
    EXPECT_EQ(http.filePaths[0], Partial());
    EXPECT_EQ(Read(Installer()), "installer");
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_EQ(Downloaded(), L"1.0.0.2");
    EXPECT_TRUE(platform.pauses.empty());
}

TEST_F(UpdaterFlow, SecondRunDownloadsNothing) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    Run();
    Run();
    EXPECT_EQ(http.textUrls.size(), 2u);
    EXPECT_EQ(http.fileUrls.size(), 1u);
}

TEST_F(UpdaterFlow, CrLfVersionFileGivesCleanValues) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    http.body = "LatestVersion=1.0.0.2\r\nURL=http://site/installer/slwintool_set_up.exe\r\n";
    Run();
    ASSERT_EQ(http.fileUrls.size(), 1u);
    EXPECT_EQ(http.fileUrls[0], L"http://site/installer/slwintool_set_up.exe");
    EXPECT_TRUE(fs::exists(Installer()));
    EXPECT_EQ(Downloaded(), L"1.0.0.2");
    Run();  // and the next run agrees that it is done
    EXPECT_EQ(http.fileUrls.size(), 1u);
}

TEST_F(UpdaterFlow, AnyArgumentMeansNothingReadNothingAsked) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    platform.arguments = true;
    CUpdaterApp app(platform, http, retry);
    EXPECT_FALSE(app.StartInstance());
    EXPECT_TRUE(app.m_strModuleDir.empty());
    EXPECT_TRUE(app.m_strUpdateSiteURL.empty());
    EXPECT_TRUE(http.textUrls.empty());
    EXPECT_TRUE(http.fileUrls.empty());
    EXPECT_EQ(Downloaded(), L"0.0.0.0");
    EXPECT_EQ(platform.finished, 1);
}

TEST_F(UpdaterFlow, FailedInitializationEndsAtOnce) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    platform.initializeResult = false;
    EXPECT_FALSE(Run());
    EXPECT_TRUE(http.textUrls.empty());
    EXPECT_EQ(platform.finished, 0);
}

TEST_F(UpdaterFlow, NoProfileMeansNoRequest) {
    Run();
    EXPECT_TRUE(http.textUrls.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "profile.ini"));
}

TEST_F(UpdaterFlow, NothingToCheckWhenUrlAndCurrentAreEmpty) {
    WriteState(L"", L"", L"0.0.0.0", L"0.0.0.0");
    Run();
    EXPECT_TRUE(http.textUrls.empty());
}

TEST_F(UpdaterFlow, EmptyUrlWithCurrentVersionStillTriesTheFetch) {
    WriteState(L"", L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    http.textResult = updater::kHttpInternetError;
    Run();
    ASSERT_EQ(http.textUrls.size(), 1u);
    EXPECT_EQ(http.textUrls[0], L"");
    EXPECT_TRUE(http.fileUrls.empty());
    EXPECT_EQ(Downloaded(), L"0.0.0.0");
}

TEST_F(UpdaterFlow, ReadsTheStateWithItsCapacities) {
    const std::wstring longUrl = L"http://site/" + std::wstring(300, L'a');
    WriteState(longUrl, L"1.0.0.0" + std::wstring(40, L'0'), L"0.0.0.0", L"0.0.0.0");
    CUpdaterApp app(platform, http, retry);
    ASSERT_TRUE(app.ReadUpdateState());
    EXPECT_EQ(app.m_strModuleDir, folder.W());
    EXPECT_EQ(app.m_strUpdateSiteURL, longUrl.substr(0, 259));
    EXPECT_EQ(app.m_strCurrentVersion.size(), 31u);
}

TEST_F(UpdaterFlow, FetchFailureWritesNothing) {
    for (const int status : {404, 500, 0, -2}) {
        WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
        http.textResult = status;
        Run();
        EXPECT_TRUE(http.fileUrls.empty()) << status;
        EXPECT_EQ(Downloaded(), L"0.0.0.0") << status;
    }
}

TEST_F(UpdaterFlow, InvalidVersionFilesWriteNothing) {
    for (const char* body :
         {"[Update]\nLatestVersion=1.0.0.2\nURL=http://site/a.exe\n",
          "URL=http://site/a.exe\nLatestVersion=1.0.0.2\n", "LatestVersion=1.0.0.2\nURL=\n",
          "LatestVersion=1.0.0.2\r\n\r\nURL=http://site/a.exe\r\n", ""}) {
        WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
        http.body = body;
        Run();
        EXPECT_TRUE(http.fileUrls.empty()) << body;
        EXPECT_EQ(Downloaded(), L"0.0.0.0") << body;
    }
}

TEST_F(UpdaterFlow, FailedDownloadIsRepeatedWithGrowingPauses) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    http.fileResults = {updater::kHttpInternetError, 404, updater::kHttpLengthMismatch, 200};
    Run();
    EXPECT_EQ(http.fileUrls.size(), 4u);
    for (const auto& path : http.filePaths) {
        EXPECT_EQ(path, Partial());
    }
    EXPECT_EQ(platform.pauses, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms}));
    EXPECT_EQ(Downloaded(), L"1.0.0.2");
}

TEST_F(UpdaterFlow, GivesUpAfterTheLastAttemptWithoutWriting) {
    WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
    http.fileResults = {updater::kHttpFileNotCreated};
    retry = updater::RetryPolicy{4, 30000ms, 50000ms};
    Run();
    EXPECT_EQ(http.fileUrls.size(), 4u);
    EXPECT_EQ(platform.pauses, (std::vector<std::chrono::milliseconds>{30000ms, 50000ms, 50000ms}));
    EXPECT_EQ(Downloaded(), L"0.0.0.0");
    EXPECT_EQ(platform.finished, 1);
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_FALSE(fs::exists(Installer()));
}

TEST_F(UpdaterFlow, UnsafeInstallerNameIsNeverRequested) {
    for (const wchar_t* url : {L"http://site/installer/", L"http://site/..", L"http://site/NUL",
                               L"http://site/get?file=a.exe", L"http://site/updater.DOWNLOAD"}) {
        WriteState(kSiteUrl, L"1.0.0.0", L"0.0.0.0", L"0.0.0.0");
        http.body = "LatestVersion=1.0.0.2\nURL=" + plat::ToUtf8(url) + "\n";
        platform.pauses.clear();
        Run();
        EXPECT_TRUE(http.fileUrls.empty()) << url;
        EXPECT_TRUE(platform.pauses.empty()) << url;
        EXPECT_EQ(Downloaded(), L"0.0.0.0") << url;
    }
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        const auto name = entry.path().filename().string();
        EXPECT_TRUE(name == "profile.ini" || name == "Updater.lock") << name;
    }
}

TEST_F(UpdaterFlow, DownloadInstallerRefusesAnUnsafeNameItself) {
    CUpdaterApp app(platform, http, retry);
    app.m_strModuleDir = folder.W();
    EXPECT_EQ(app.DownloadInstaller(L"http://site/dir/"), CUpdaterApp::Attempt::kRejected);
    EXPECT_TRUE(http.fileUrls.empty());
    EXPECT_EQ(app.DownloadInstaller(L"http://site/dir/x.exe"), CUpdaterApp::Attempt::kDone);
    EXPECT_EQ(app.m_strInstallerPath, plat::JoinPath(folder.W(), L"x.exe"));
}

TEST(UpdaterRetryPolicy, EnvironmentOverridesWithinLimits) {
#ifdef _WIN32
    _putenv_s("SL_UPDATER_ATTEMPTS", "3");
    _putenv_s("SL_UPDATER_RETRY_PAUSE_MS", "10");
    _putenv_s("SL_UPDATER_TIMEOUT_MS", "99");
#else
    setenv("SL_UPDATER_ATTEMPTS", "3", 1);
    setenv("SL_UPDATER_RETRY_PAUSE_MS", "10", 1);
    setenv("SL_UPDATER_TIMEOUT_MS", "99", 1);  // below the floor: ignored
#endif
    const auto policy = updater::RetryPolicyFromEnvironment();
    EXPECT_EQ(policy.attempts, 3);
    EXPECT_EQ(policy.firstPause, 10ms);
    EXPECT_EQ(updater::HttpOptionsFromEnvironment().receiveTimeoutMs, 30000u);
#ifdef _WIN32
    _putenv_s("SL_UPDATER_ATTEMPTS", "");
    _putenv_s("SL_UPDATER_RETRY_PAUSE_MS", "");
    _putenv_s("SL_UPDATER_TIMEOUT_MS", "");
#else
    unsetenv("SL_UPDATER_ATTEMPTS");
    unsetenv("SL_UPDATER_RETRY_PAUSE_MS");
    unsetenv("SL_UPDATER_TIMEOUT_MS");
#endif
    const auto defaults = updater::RetryPolicyFromEnvironment();
    EXPECT_EQ(defaults.attempts, 5);
    EXPECT_EQ(defaults.firstPause, 2000ms);
}

}  // namespace
