// The Updater as a real process against the simulated site in the test
// LAN's site namespace (198.18.0.80:80): natively, and as the Windows
// program under Wine (real WinINet) when this suite is built for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/harness/site_content.h"
#include "tests/support/process.h"
#include "tests/support/release_signing.h"
#include "tests/support/testlan.h"
#include "tests/support/update_site.h"
#include "tests/support/wine_programs.h"

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
#if SL_UPDATER_UNDER_WINE
        const fs::path program = testsupport::DistDir("windows") / "Updater.exe";
#else
        const fs::path program = SL_UPDATER_NATIVE;
#endif
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

    fs::path Partial() const { return dir_.Path() / "Updater.download"; }

    std::vector<std::string> UpdaterArgv(std::vector<std::string> args) const {
        std::vector<std::string> argv{program_.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return kUnderWine ? testsupport::UnderWine(argv) : argv;
    }

    testsupport::ProcessOptions UpdaterOptions(std::vector<std::string> env) const {
        testsupport::ProcessOptions options;
        options.cwd = dir_.Path().string();
        options.timeout = 90s;
        options.extraEnv = {"SL_UPDATER_ATTEMPTS=2", "SL_UPDATER_RETRY_PAUSE_MS=50",
                            "SL_UPDATER_TIMEOUT_MS=2000"};
        if (kUnderWine) {
            // Wine's own start-up diagnostics, should it fail to start the program.
            options.extraEnv.push_back("WINEDEBUG=-all,err+winediag");
        }
        // Later entries win over the defaults above.
        options.extraEnv.insert(options.extraEnv.end(), env.begin(), env.end());
        return options;
    }

    testsupport::ProcessResult RunUpdater(std::vector<std::string> args = {},
                                          std::vector<std::string> env = {}) {
        const std::string siteLogBefore = SiteLog();
        auto result = testsupport::RunProcess(UpdaterArgv(args), UpdaterOptions(env));
        // The Updater never ends with 1: under Wine that code is Wine's own
        // failure to start it (x11drv ends a process whose X connection
        // fails with 1). A start that reached nobody is shown and tried once
        // more; a second one fails the case as before.
        if (kUnderWine && result.exitCode == 1 && SiteLog() == siteLogBefore) {
            std::cout << "[ WARNING  ] Wine did not start the Updater (exit 1): " << result.err
                      << "\n";
            result = testsupport::RunProcess(UpdaterArgv(args), UpdaterOptions(env));
        }
        return result;
    }

    // Runs the Updater built with the test key from now on; its private key
    // signs the version files that the site serves.
    void UseSignedUpdater() {
        const auto signedUpdater = testsupport::TestKeyUpdater(kUnderWine);
        ASSERT_TRUE(fs::exists(signedUpdater.program)) << signedUpdater.program;
        fs::copy_file(signedUpdater.program, program_, fs::copy_options::overwrite_existing);
        key_ = signedUpdater.privateKey;
    }

    // Serves installer and version as they are; the default URL is the site's.
    void StartSignedSite(const std::string& version, const std::string& installer) {
        testsupport::WriteFile(dir_.Path() / "site-installer.bin", installer);
        testsupport::WriteFile(dir_.Path() / "site-version.ini", version);
        StartSite({"--version-file", (dir_.Path() / "site-version.ini").string(),
                   "--installer-file", (dir_.Path() / "site-installer.bin").string()});
    }

    std::string InstallerUrl() const { return "http://" + lan_.siteAddr + kInstallerObject; }

    testsupport::TestLan lan_;
    std::string siteUrl_;
    TempDir dir_{"slupdproc"};
    fs::path program_;
    testsupport::UpdateSite site_;
    fs::path key_;
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

// A release as the release command signs it: downloaded, hashed, moved into
// place and recorded, so that the finder offers it at its next start.
TEST_F(UpdaterProcess, SignedReleaseIsDownloadedHashedAndRecorded) {
    ASSERT_NO_FATAL_FAILURE(UseSignedUpdater());
    const std::string installer = Generated(300000);
    const std::string version =
        testsupport::Signed(testsupport::VersionLines("1.0.0.2", InstallerUrl(), installer), key_);
    ASSERT_FALSE(version.empty());
    StartSignedSite(version, installer);
    WriteProfile();
    EXPECT_EQ(RunUpdater().exitCode, 0);
    EXPECT_EQ(Downloaded(), "1.0.0.2") << SiteLog();
    EXPECT_TRUE(ReadFile(Installer()) == installer) << "installer differs";
    EXPECT_FALSE(fs::exists(Partial()));
    // The version file it acted on, kept byte for byte beside the installer
    // for the finder's check at its next start.
    EXPECT_EQ(ReadFile(dir_.Path() / "latestversion.ini"), version);
    EXPECT_FALSE(fs::exists(dir_.Path() / "Updater.download.ini"));
}

// Built without a key, the Updater reads the same file by its two lines.
TEST_F(UpdaterProcess, KeylessUpdaterReadsASignedFileByItsTwoLines) {
    const std::string installer = Generated(5000);
    StartSignedSite(
        testsupport::VersionLines("1.0.0.2", InstallerUrl(), installer) + "Signature=AAAA\n",
        installer);
    WriteProfile();
    EXPECT_EQ(RunUpdater().exitCode, 0);
    EXPECT_EQ(Downloaded(), "1.0.0.2");
}

// What the site serves after a release was signed over its original bytes.
struct Release {
    std::string version;
    std::string installer;
    std::string otherKeyVersion;  // the same lines signed by another key
    fs::path key;
};

struct Tampering {
    const char* name;
    void (*tamper)(Release&);
    std::size_t installerRequests;
};

void Replace(std::string& text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
}

class UpdaterTampering : public UpdaterProcess, public ::testing::WithParamInterface<Tampering> {};

// Nothing forged or corrupted is recorded or left in the folder, and a bad
// hash is not asked for again.
TEST_P(UpdaterTampering, NothingIsRecordedOrLeft) {
    ASSERT_NO_FATAL_FAILURE(UseSignedUpdater());
    const fs::path otherKey = dir_.Path() / "other.pem";
    ASSERT_TRUE(testsupport::MakeSigningKey(otherKey));
    const std::string installer = Generated(20000);
    const std::string lines = testsupport::VersionLines("1.0.0.3", InstallerUrl(), installer);
    Release release{testsupport::Signed(lines, key_), installer,
                    testsupport::Signed(lines, otherKey), key_};
    ASSERT_FALSE(release.version.empty() || release.otherKeyVersion.empty());
    GetParam().tamper(release);
    StartSignedSite(release.version, release.installer);
    WriteProfile();
    EXPECT_FALSE(RunUpdater().timedOut);
    EXPECT_EQ(Downloaded(), "0.0.0.0");
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_FALSE(fs::exists(dir_.Path() / "latestversion.ini"));
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kVersionObject), 1u) << SiteLog();
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), GetParam().installerRequests)
        << SiteLog();
}

INSTANTIATE_TEST_SUITE_P(
    Signed, UpdaterTampering,
    ::testing::Values(
        Tampering{"InstallerByteChanged",
                  [](Release& r) { r.installer[r.installer.size() / 2] ^= 0x01; }, 1},
        Tampering{"InstallerReplaced", [](Release& r) { r.installer = Generated(30000); }, 1},
        Tampering{"LatestVersionChanged",
                  [](Release& r) { Replace(r.version, "=1.0.0.3", "=1.0.0.4"); }, 0},
        Tampering{"UrlChanged", [](Release& r) { Replace(r.version, ".exe", ".exe?x"); }, 0},
        Tampering{"SignatureMissing",
                  [](Release& r) { r.version.erase(r.version.find("Signature=")); }, 0},
        Tampering{"SignatureOfAnotherKey", [](Release& r) { r.version = r.otherKeyVersion; }, 0},
        Tampering{"SignatureNotTheLastLine", [](Release& r) { r.version += "Extra=1\n"; }, 0},
        // Signed, but not the installer's hash: it differs in its last digit only.
        Tampering{"Sha256DiffersInItsLastDigit",
                  [](Release& r) {
                      r.version.erase(r.version.find("Signature="));
                      const auto last = r.version.find("SHA256=") + 7 + 63;
                      r.version[last] = r.version[last] == '0' ? '1' : '0';
                      r.version = testsupport::Signed(r.version, r.key);
                  },
                  1},
        // A signed file that vouches for no installer.
        Tampering{"Sha256LineMissing",
                  [](Release& r) {
                      r.version.erase(r.version.find("Signature="));
                      const auto line = r.version.find("SHA256=");
                      r.version.erase(line, r.version.find('\n', line) + 1 - line);
                      r.version = testsupport::Signed(r.version, r.key);
                  },
                  0},
        // Upper-case hex, signed as it stands: still refused.
        Tampering{"Sha256Malformed",
                  [](Release& r) {
                      r.version.erase(r.version.find("Signature="));
                      const auto at = r.version.find("SHA256=") + 7;
                      for (std::size_t i = at; i < at + 64; ++i) {
                          r.version[i] = static_cast<char>(std::toupper(r.version[i]));
                      }
                      r.version = testsupport::Signed(r.version, r.key);
                  },
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

// A cut download leaves the installer that waits for the user as it was,
// and it is still offered as the version it is.
TEST_F(UpdaterProcess, CutDownloadLeavesTheWaitingInstallerAlone) {
    StartSite({"--latest", "1.0.0.3", "--size", "200000", "--fault", "short"});
    WriteProfile("1.0.0.0", "0.0.0.0", "1.0.0.2");
    const std::string waiting = "the complete installer of 1.0.0.2";
    testsupport::WriteFile(Installer(), waiting);
    testsupport::WriteFile(Partial(), "left by a killed run");
    EXPECT_EQ(RunUpdater().exitCode, 0);
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), 2u) << SiteLog();
    EXPECT_EQ(ReadFile(Installer()), waiting);
    EXPECT_EQ(Downloaded(), "1.0.0.2");
    EXPECT_FALSE(fs::exists(Partial()));
}

// A second Updater started in the folder while the first downloads ends at
// once, asks nothing and writes nothing.
TEST_F(UpdaterProcess, SecondUpdaterInTheFolderEndsAtOnce) {
    StartSite(
        {"--latest", "1.0.0.3", "--size", "200000", "--fault", "stall", "--fault-count", "1"});
    WriteProfile();
    // The first attempt stalls for the receive time-out, 10 s.
    testsupport::BackgroundProcess first(UpdaterArgv({}),
                                         UpdaterOptions({"SL_UPDATER_TIMEOUT_MS=10000"}));
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return CountOf(SiteLog(), "GET " + kInstallerObject) == 1; }, 30s))
        << SiteLog();
    const auto second = RunUpdater();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(first.Running()) << "the first Updater ended before the second";
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kVersionObject), 1u) << SiteLog();
    EXPECT_EQ(Downloaded(), "0.0.0.0");
    // The first one goes on: its second attempt succeeds.
    EXPECT_EQ(first.Wait(60s), std::optional<int>(0));
    EXPECT_EQ(Downloaded(), "1.0.0.3");
    EXPECT_TRUE(ReadFile(Installer()) == Generated(200000));
}

struct EndlessCase {
    const char* name;
    std::vector<std::string> siteArgs;
    std::vector<std::string> env;
};

class UpdaterBounded : public UpdaterProcess, public ::testing::WithParamInterface<EndlessCase> {};

// A body that would never end, or would take days, ends the attempt; the
// run ends with nothing written and no file left.
TEST_P(UpdaterBounded, EndsWithNothingLeft) {
    const auto& c = GetParam();
    std::vector<std::string> args{"--latest", "1.0.0.3"};
    args.insert(args.end(), c.siteArgs.begin(), c.siteArgs.end());
    StartSite(args);
    WriteProfile();
    const auto result = RunUpdater({}, c.env);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(Downloaded(), "0.0.0.0");
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), 1u) << SiteLog();
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, UpdaterBounded,
    ::testing::Values(
        EndlessCase{"NoLengthNoEnd", {"--fault", "endless"}, {"SL_UPDATER_ATTEMPTS=1"}},
        // A byte every 100 ms: within every receive time-out, but below the
        // low-speed limit, shortened to 3 s.
        EndlessCase{"Trickle",
                    {"--fault", "trickle", "--trickle-ms", "100", "--size", "100000"},
                    {"SL_UPDATER_ATTEMPTS=1", "SL_UPDATER_LOW_SPEED_MS=3000"}},
        // The same after a fast start, in the middle of a full block.
        EndlessCase{"FastThenTrickle",
                    {"--fault", "trickle", "--trickle-ms", "100", "--size", "400000",
                     "--stall-after", "200000"},
                    {"SL_UPDATER_ATTEMPTS=1", "SL_UPDATER_LOW_SPEED_MS=3000"}}),
    [](const auto& info) { return std::string(info.param.name); });

#if SL_UPDATER_UNDER_WINE
// What WinINet is handed, as Wine's trace shows it: InternetQueryDataAvailable's
// flags and context are reserved and must be 0 (Wine would take anything).
TEST_F(UpdaterProcess, WinInetGetsItsReservedArgumentsAsZero) {
    StartSite({"--latest", "1.0.0.2", "--size", "300000"});
    WriteProfile();
    const auto result = RunUpdater({}, {"WINEDEBUG=trace+wininet"});
    EXPECT_EQ(Downloaded(), "1.0.0.2");
    std::size_t queries = 0;
    for (const std::string& line : testsupport::Lines(result.err)) {
        if (line.find(":InternetQueryDataAvailable (") != std::string::npos) {
            ++queries;
            EXPECT_EQ(line.substr(line.size() - 5), " 0 0)") << line;
        }
    }
    EXPECT_GE(queries, 1u) << "no InternetQueryDataAvailable in the trace";
}

// While it downloads, the Updater's hidden window answers at once (a
// broadcast with SendMessage never waits for it), it agrees to the end of
// the session and then ends within 2 s: the transfer stops, its partial file
// is deleted and nothing is recorded.
TEST_F(UpdaterProcess, AnswersItsWindowAndEndsWithTheSession) {
    // 3 MB at 100 kB/s: half a minute of download.
    StartSite({"--latest", "1.0.0.3", "--size", "3000000", "--rate", "100000"});
    WriteProfile();
    testsupport::BackgroundProcess updater(UpdaterArgv({}),
                                           UpdaterOptions({"SL_UPDATER_TIMEOUT_MS=30000"}));
    ASSERT_TRUE(testsupport::WaitFor([&] { return fs::exists(Partial()); }, 30s)) << SiteLog();
    std::this_thread::sleep_for(500ms);
    const auto ping = testsupport::Uictl({"ping", "Updater", "1000"});
    EXPECT_EQ(ping.exitCode, 0) << "no answer within 1 s " << ping.err;

    const auto endSession = testsupport::Uictl({"endsession", "Updater"});
    EXPECT_EQ(endSession.exitCode, 0) << endSession.err;
    EXPECT_NE(endSession.out.find("query=1"), std::string::npos) << endSession.out;
    // The session's end waited for the work to stop; the process follows.
    EXPECT_EQ(updater.Wait(2s), std::optional<int>(0))
        << "still running 2 s after the session ended";
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_EQ(Downloaded(), "0.0.0.0");
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), 1u) << SiteLog();
}
#endif

// Bodies without Content-Length, as proxies and scanners pass files on
// (chunked, or ended by closing): the signed Updater keeps such an installer
// when its hash is the signed one and it holds at most 64 MiB; the default
// one, which nothing vouches for, refuses it at its first byte. The version
// file comes the same way and is read by both.
struct UnannouncedCase {
    const char* name;
    const char* framing;  // the site's --chunked or --no-length
    std::uint64_t size;
    bool hashMatches;
    bool keptWhenSigned;
    std::size_t signedRequests;  // 1: refused for good; 2: tried again
};

class UpdaterUnannounced : public UpdaterProcess,
                           public ::testing::WithParamInterface<std::tuple<UnannouncedCase, bool>> {
};

TEST_P(UpdaterUnannounced, KeptOnlyWhenVouchedFor) {
    const auto& [c, signedRelease] = GetParam();
    if (signedRelease) {
        ASSERT_NO_FATAL_FAILURE(UseSignedUpdater());
    }
    std::string vouched = Generated(c.size);
    if (!c.hashMatches) {
        vouched[vouched.size() / 2] ^= 0x01;
    }
    const std::string version =
        signedRelease ? testsupport::Signed(
                            testsupport::VersionLines("1.0.0.2", InstallerUrl(), vouched), key_)
                      : "LatestVersion=1.0.0.2\nURL=" + InstallerUrl() + "\n";
    vouched.clear();
    testsupport::WriteFile(dir_.Path() / "site-version.ini", version);
    StartSite({"--version-file", (dir_.Path() / "site-version.ini").string(), "--size",
               std::to_string(c.size), c.framing});
    WriteProfile();
    const auto result = RunUpdater({}, {"SL_UPDATER_TIMEOUT_MS=30000"});
    EXPECT_FALSE(result.timedOut);
    const bool kept = signedRelease && c.keptWhenSigned;
    EXPECT_EQ(Downloaded(), kept ? "1.0.0.2" : "0.0.0.0") << SiteLog();
    EXPECT_EQ(fs::exists(Installer()), kept);
    if (kept) {
        EXPECT_TRUE(ReadFile(Installer()) == Generated(c.size)) << "installer differs";
    }
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_EQ(CountOf(SiteLog(), "GET " + kInstallerObject), signedRelease ? c.signedRequests : 2u)
        << SiteLog();
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, UpdaterUnannounced,
    ::testing::Combine(
        ::testing::Values(
            UnannouncedCase{"Chunked", "--chunked", 330000, true, true, 1},
            UnannouncedCase{"EndedByClosing", "--no-length", 330000, true, true, 1},
            // One byte over the bound ends each attempt (-5), hash or not.
            UnannouncedCase{"OverTheBound", "--no-length", (64u << 20) + 1, true, false, 2},
            UnannouncedCase{"ChunkedWithAnotherHash", "--chunked", 330000, false, false, 1}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "Signed" : "Default");
    });

// The networks users have: a body that arrives over time, a shaped or lossy
// link, the site by its name, through a proxy, from a mirror, a connection
// cut once. The default and the signed Updater each get the setup program
// whole, record it, and leave no temporary file, within their attempts.
enum class Route { kAddress, kName, kProxy, kMirror };

struct NetworkCase {
    const char* name;
    std::vector<std::string> siteArgs;
    std::vector<std::string> condition;  // of the site's link; empty: as it is
    Route route;
    std::size_t installerRequests;  // 0: one, or two where a lost packet cost an attempt
};

class UpdaterNetwork : public UpdaterProcess,
                       public ::testing::WithParamInterface<std::tuple<NetworkCase, bool>> {
  protected:
    void TearDown() override {
        if (kUnderWine && proxySet_) {
            SetWindowsProxy("");
        }
        UpdaterProcess::TearDown();
    }

    // The proxy as Windows users set it: Internet Settings, which WinINet's
    // preconfigured access reads. Empty: none.
    void SetWindowsProxy(const std::string& hostPort) {
        const std::string key =
            "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
        const auto reg = [&](std::vector<std::string> args) {
            args.insert(args.begin(), {"reg", "add", key});
            args.push_back("/f");
            return testsupport::RunProcess(testsupport::UnderWine(args)).exitCode == 0;
        };
        proxySet_ = !hostPort.empty();
        ASSERT_TRUE(reg({"/v", "ProxyEnable", "/t", "REG_DWORD", "/d", proxySet_ ? "1" : "0"}));
        ASSERT_TRUE(reg({"/v", "ProxyServer", "/t", "REG_SZ", "/d", hostPort}));
    }

    testsupport::UpdateSite mirror_;
    testsupport::HttpProxy proxy_;
    testsupport::LinkCondition link_;
    bool proxySet_ = false;
};

TEST_P(UpdaterNetwork, SetupProgramArrivesWhole) {
    const auto& [c, signedRelease] = GetParam();
    const bool unannounced =
        std::any_of(c.siteArgs.begin(), c.siteArgs.end(),
                    [](const std::string& a) { return a == "--chunked" || a == "--no-length"; });
    if (unannounced && !signedRelease) {
        GTEST_SKIP() << "the default Updater refuses bodies without a length (UpdaterUnannounced)";
    }
    if (signedRelease) {
        ASSERT_NO_FATAL_FAILURE(UseSignedUpdater());
    }
    const std::string host = c.route == Route::kAddress ? lan_.siteAddr : lan_.siteName;
    const std::string url = "http://" + host + kInstallerObject;
    const std::string installer = Generated(330000);
    const std::string version =
        signedRelease
            ? testsupport::Signed(testsupport::VersionLines("1.0.0.2", url, installer), key_)
            : "LatestVersion=1.0.0.2\nURL=" + url + "\n";
    testsupport::WriteFile(dir_.Path() / "site-installer.bin", installer);
    testsupport::WriteFile(dir_.Path() / "site-version.ini", version);
    std::vector<std::string> args{"--version-file", (dir_.Path() / "site-version.ini").string(),
                                  "--installer-file",
                                  (dir_.Path() / "site-installer.bin").string()};
    std::vector<std::string> env{"SL_UPDATER_ATTEMPTS=2", "SL_UPDATER_TIMEOUT_MS=30000"};
    if (c.route == Route::kMirror) {
        ASSERT_TRUE(
            mirror_.StartOn(lan_.mirrorNs, lan_.mirrorAddr, dir_.Path() / "mirror.log", args));
        args.insert(args.end(), {"--fault", "mirror", "--fault-target", "all", "--mirror",
                                 "http://" + lan_.mirrorName});
    }
    if (c.route == Route::kProxy) {
        ASSERT_TRUE(proxy_.Start(lan_, dir_.Path()));
        ASSERT_TRUE(link_.Set(lan_, "site", {"only-from", lan_.proxyAddr}));
        if (kUnderWine) {
            ASSERT_NO_FATAL_FAILURE(SetWindowsProxy(proxy_.HostPort()));
        } else {
            env.push_back("http_proxy=http://" + proxy_.HostPort());
        }
    }
    if (!c.condition.empty()) {
        ASSERT_TRUE(link_.Set(lan_, "site", c.condition));
    }
    args.insert(args.end(), c.siteArgs.begin(), c.siteArgs.end());
    StartSite(args);
    siteUrl_ = "http://" + host + kVersionObject;
    WriteProfile();

    const auto result = RunUpdater({}, env);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Downloaded(), "1.0.0.2") << SiteLog();
    EXPECT_TRUE(ReadFile(Installer()) == installer) << "installer differs";
    EXPECT_FALSE(fs::exists(Partial()));
    const std::size_t gets = CountOf(SiteLog(), "GET " + kInstallerObject);
    if (c.installerRequests == 0) {
        EXPECT_GE(gets, 1u) << SiteLog();
        EXPECT_LE(gets, 2u) << SiteLog();
    } else {
        EXPECT_EQ(gets, c.installerRequests) << SiteLog();
    }
    if (c.route == Route::kMirror) {
        EXPECT_EQ(CountOf(ReadFile(dir_.Path() / "mirror.log"), "GET " + kInstallerObject), gets);
    }
    if (c.route == Route::kProxy) {
        EXPECT_NE(proxy_.Log().find(kInstallerObject), std::string::npos) << proxy_.Log();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Networks, UpdaterNetwork,
    ::testing::Combine(
        ::testing::Values(
            NetworkCase{"Paced100KBs", {"--rate", "100000"}, {}, Route::kAddress, 1},
            NetworkCase{"Paced1MBs", {"--rate", "1000000"}, {}, Route::kAddress, 1},
            NetworkCase{"PiecesWithPauses",
                        {"--burst", "100000", "--pause-ms", "2500"},
                        {},
                        Route::kAddress,
                        1},
            NetworkCase{"Shaped2Mbit", {}, {"shape", "2mbit"}, Route::kAddress, 1},
            NetworkCase{"Loss3Percent", {}, {"loss", "3"}, Route::kAddress, 0},
            NetworkCase{"HostName", {"--rate", "1000000"}, {}, Route::kName, 1},
            NetworkCase{"Proxy", {"--rate", "1000000"}, {}, Route::kProxy, 1},
            NetworkCase{"RedirectToMirror", {}, {}, Route::kMirror, 1},
            // As proxies and scanners pass files on: chunked,
            // in pieces with pauses; ended by closing, on a
            // lossy link.
            NetworkCase{"ChunkedInPiecesThroughProxy",
                        {"--chunked", "--burst", "100000", "--pause-ms", "2500"},
                        {},
                        Route::kProxy,
                        1},
            NetworkCase{
                "LengthlessLoss3Percent", {"--no-length"}, {"loss", "3"}, Route::kAddress, 0},
            NetworkCase{"CutOnce",
                        {"--rate", "1000000", "--fault", "short", "--fault-count", "1"},
                        {},
                        Route::kAddress,
                        2}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "Signed" : "Default");
    });

}  // namespace
