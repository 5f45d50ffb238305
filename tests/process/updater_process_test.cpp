// The Updater as a real process against the simulated site in the test
// LAN's site namespace (198.18.0.80:80): natively, and as the Windows
// program under Wine (real WinINet) when this suite is built for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/testlan.h"
#include "tests/support/update_site.h"
#include "tools/site_content.h"

#ifndef SL_UPDATER_UNDER_WINE
#define SL_UPDATER_UNDER_WINE 0
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::TempDir;

constexpr bool kUnderWine = SL_UPDATER_UNDER_WINE != 0;
const std::string kVersionObject = testsupport::kSiteVersionObject;
const std::string kInstallerObject = testsupport::kSiteInstallerObject;

std::string Generated(std::uint64_t size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    sitecontent::Fill(0, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    return bytes;
}

using testsupport::CountOf;

class UpdaterProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        if (kUnderWine) {
            SL_REQUIRE_WINE();
        }
        lan_ = testsupport::GetTestLan();
        siteUrl_ = "http://" + lan_.siteAddr + kVersionObject;
        const fs::path program = kUnderWine ? testsupport::DistDir("windows") / "Updater.exe"
                                            : testsupport::DistDir("linux") / "Updater";
        ASSERT_TRUE(fs::exists(program)) << program;
        program_ = dir_.Path() / program.filename();
        fs::copy_file(program, program_);
        fs::permissions(program_, fs::perms::owner_exec, fs::perm_options::add);
    }

    void TearDown() override { StopSite(); }

    void StartSite(const std::vector<std::string>& args) {
        ASSERT_TRUE(site_.Start(lan_, dir_.Path() / "site.log", args));
    }

    void StopSite() { site_.Stop(); }

    void WriteProfile(const std::string& current = "1.0.0.0", const std::string& passed = "0.0.0.0",
                      const std::string& downloaded = "0.0.0.0") {
        testsupport::WriteFile(dir_.Path() / "profile.ini",
                               "[Update]\r\nUpdateSiteURL=" + siteUrl_ +
                                   "\r\nCurrentVersion=" + current + "\r\nPassedVersion=" + passed +
                                   "\r\nDownloadedVersion=" + downloaded + "\r\n");
    }

    std::string Profile() const { return ReadFile(dir_.Path() / "profile.ini"); }
    std::string SiteLog() const { return ReadFile(dir_.Path() / "site.log"); }
    fs::path Installer() const { return dir_.Path() / "slwintool_set_up.exe"; }

    // The DownloadedVersion line as stored, without its line end.
    std::string Downloaded() const {
        const std::string text = Profile();
        const auto pos = text.find("DownloadedVersion=");
        if (pos == std::string::npos) {
            return "<none>";
        }
        const auto end = text.find_first_of("\r\n", pos);
        return text.substr(pos + 18, end == std::string::npos ? std::string::npos : end - pos - 18);
    }

    testsupport::ProcessResult RunUpdater(std::vector<std::string> args = {}) {
        std::vector<std::string> argv{program_.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        if (kUnderWine) {
            argv = testsupport::UnderWine(argv);
        }
        testsupport::ProcessOptions options;
        options.cwd = dir_.Path().string();
        options.timeout = 90s;
        options.extraEnv = {"SL_UPDATER_ATTEMPTS=2", "SL_UPDATER_RETRY_PAUSE_MS=50",
                            "SL_UPDATER_TIMEOUT_MS=2000"};
        return testsupport::RunProcess(argv, options);
    }

    testsupport::TestLan lan_;
    std::string siteUrl_;
    TempDir dir_{"slupdproc"};
    fs::path program_;
    testsupport::UpdateSite site_;
};

TEST_F(UpdaterProcess, AnyArgumentMeansNoRequestAndNoWrite) {
    StartSite({});
    WriteProfile();
    const std::string before = Profile();
    const auto result = RunUpdater({"/x"});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SiteLog(), "");
    EXPECT_EQ(Profile(), before);
    EXPECT_FALSE(fs::exists(Installer()));
}

TEST_F(UpdaterProcess, NoProfileMeansNoRequest) {
    StartSite({});
    const auto result = RunUpdater();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(SiteLog(), "");
    EXPECT_FALSE(fs::exists(dir_.Path() / "profile.ini"));
}

TEST_F(UpdaterProcess, GoodRunThenNothingMore) {
    StartSite({"--latest", "1.0.0.2", "--size", "300000"});
    WriteProfile();
    EXPECT_EQ(RunUpdater().exitCode, 0);
    EXPECT_EQ(Downloaded(), "1.0.0.2");
    EXPECT_TRUE(ReadFile(Installer()) == Generated(300000)) << "installer differs";
    std::string log = SiteLog();
    EXPECT_EQ(CountOf(log, "GET " + kVersionObject + " HTTP/1.1\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "GET " + kInstallerObject + " HTTP/1.1\n"), 1u) << log;
    EXPECT_EQ(CountOf(log, "User-Agent: Updater\n"), 2u) << log;
    // The other keys stay as the finder wrote them.
    EXPECT_NE(Profile().find("CurrentVersion=1.0.0.0"), std::string::npos);
    EXPECT_NE(Profile().find("PassedVersion=0.0.0.0"), std::string::npos);

    EXPECT_EQ(RunUpdater().exitCode, 0);
    log = SiteLog();
    EXPECT_EQ(CountOf(log, "GET " + kVersionObject + " HTTP/1.1\n"), 2u) << log;
    EXPECT_EQ(CountOf(log, "GET " + kInstallerObject + " HTTP/1.1\n"), 1u) << log;
}

TEST_F(UpdaterProcess, NotNewerThanPassedMeansNoDownload) {
    StartSite({"--latest", "1.0.0.2"});
    WriteProfile("1.0.0.0", "1.0.0.2", "0.0.0.0");
    EXPECT_EQ(RunUpdater().exitCode, 0);
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), 0u);
    EXPECT_EQ(Downloaded(), "0.0.0.0");
}

struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    bool written;
    std::size_t installerRequests;
};

class UpdaterFault : public UpdaterProcess, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UpdaterFault, WritesOnlyAfterACompleteDownload) {
    const auto& c = GetParam();
    std::vector<std::string> args{"--latest", "1.0.0.3", "--size", "20000"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    StartSite(args);
    WriteProfile();
    const auto result = RunUpdater();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Downloaded(), c.written ? "1.0.0.3" : "0.0.0.0");
    if (c.written) {
        EXPECT_TRUE(ReadFile(Installer()) == Generated(20000)) << "installer differs";
    }
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), c.installerRequests) << SiteLog();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdaterFault,
    ::testing::Values(
        FaultCase{"NotFound", {"--fault", "404"}, false, 2},
        FaultCase{"ServerError", {"--fault", "500"}, false, 2},
        FaultCase{"ShortBody", {"--fault", "short"}, false, 2},
        FaultCase{"NoLength", {"--fault", "no-length"}, false, 2},
        FaultCase{"Stall", {"--fault", "stall"}, false, 2},
        FaultCase{"LongBody", {"--fault", "long"}, true, 1},
        FaultCase{"Redirects", {"--fault", "redirect", "--redirects", "3"}, true, 1},
        // A passing fault: the second attempt succeeds.
        FaultCase{"OnceThenFine", {"--fault", "500", "--fault-count", "1"}, true, 2},
        FaultCase{"VersionNotFound", {"--fault", "404", "--fault-target", "version"}, false, 0},
        FaultCase{
            "VersionRedirects", {"--fault", "redirect", "--fault-target", "version"}, true, 1},
        FaultCase{"VersionCut", {"--fault", "short", "--fault-target", "version"}, false, 0},
        FaultCase{"VersionStall", {"--fault", "stall", "--fault-target", "version"}, false, 0},
        FaultCase{"CrLf", {"--version-format", "crlf"}, true, 1},
        FaultCase{"ByteOrderMark", {"--version-format", "bom"}, true, 1},
        FaultCase{"SectionLine", {"--version-format", "section"}, false, 0},
        FaultCase{"Swapped", {"--version-format", "swapped"}, false, 0},
        FaultCase{"EmptyUrl", {"--version-format", "empty-url"}, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
