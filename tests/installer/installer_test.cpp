// The setup program and its uninstaller under the run's Wine prefix: silent
// install, upgrade in place, silent uninstall with Quenlow first, and the
// whole update chain with released programs: the finder of release 1.0.0.0,
// its Updater (with the release key built in) checking the signature and the
// hash of release 1.0.0.1 on the simulated site and downloading its setup
// program, the offer, the setup's pages, and the new finder cleaning up.
//
// The setup program of this build (the build's product version, no key) is
// slwintool_set_up.exe among the Windows tools; releases 1.0.0.0 and 1.0.0.1
// of the same build kind are in release/A.B.C.D among them (tools/test.sh
// makes them with tools/release.sh, a throw-away key and Authenticode from
// the run's test CA, SL_TEST_PKI).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <list>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tests/support/process.h"
#include "tests/support/testlan.h"
#include "tests/support/update_site.h"
#include "tests/support/wine_programs.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::BackgroundProcess;
using testsupport::kFinderExe;
using testsupport::ProcessResult;
using testsupport::ReadFile;
using testsupport::Uictl;
using testsupport::WaitFor;
using testsupport::WriteFile;

constexpr char kCurrent[] = SL_PRODUCT_VERSION;
constexpr char kLatest[] = "1.0.0.1";
constexpr char kSetupName[] = "slwintool_set_up.exe";
constexpr char kKey[] =
    R"(HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SolberioWindowsTool)";
constexpr char kSiteObjects[] = "/installer/solberio/search/";
const std::string kVersionObject = std::string(kSiteObjects) + "latestversion.ini";
const std::string kSetupObject = std::string(kSiteObjects) + kLatest + "/" + kSetupName;
const std::vector<std::string> kPrograms = {kFinderExe, "Updater.exe", "Quenlow.exe"};
// Shortcuts must not reach the host's desktop menus; System32's netsh and
// icacls are the recorders the suite puts there (Wine would run its own).
const std::vector<std::string> kWineEnv = {
    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d;netsh.exe,icacls.exe=n"};
const std::vector<std::string> kSystemTools = {"netsh.exe", "icacls.exe"};
const std::string kRuleName = "name=\"ソルベリオ Windows Tool\"";
const std::string kDeleteRule = "advfirewall firewall delete rule " + kRuleName;

// Whether a program's version resource gives `version` as its ProductVersion.
bool CarriesVersion(const fs::path& program, const std::string& version) {
    const auto wide = [](const std::string& text) {
        std::string out;
        for (const char c : text) {
            out += {c, '\0'};
        }
        return out + std::string(2, '\0');
    };
    const std::string bytes = ReadFile(program);
    const std::string key = wide("ProductVersion");
    const std::string value = wide(version);
    // The name may also occur in the code: any occurrence with the version after it.
    for (std::size_t at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) {
        const std::size_t start = bytes.find_first_not_of('\0', at + key.size());
        if (start != std::string::npos && bytes.compare(start, value.size(), value) == 0) {
            return true;
        }
    }
    return false;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The system folder of the prefix, where the setup program finds netsh and icacls.
fs::path SystemFolder() {
    return fs::path(testsupport::Env("WINEPREFIX").value_or("")) / "drive_c/windows/system32";
}

class Installer : public ::testing::Test {
  protected:
    // Wine cannot show the firewall or access lists: System32's netsh and
    // icacls record the command lines they get instead, for the whole suite.
    static void SetUpTestSuite() {
        const fs::path recorder = testsupport::WindowsToolPath("sl_recorder.exe");
        if (!testsupport::Env("WINEPREFIX") || !fs::exists(recorder)) {
            return;
        }
        for (const std::string& tool : kSystemTools) {
            const fs::path path = SystemFolder() / tool;
            if (fs::exists(path) && !fs::exists(path.string() + ".wine")) {
                fs::rename(path, path.string() + ".wine");
            }
            fs::copy_file(recorder, path, fs::copy_options::overwrite_existing);
        }
    }
    static void TearDownTestSuite() {
        for (const std::string& tool : kSystemTools) {
            const fs::path path = SystemFolder() / tool;
            if (fs::exists(path.string() + ".wine")) {
                fs::rename(path.string() + ".wine", path);
                fs::remove(path.string() + ".log");
            }
        }
    }
    // The command lines that System32's `tool` got since the test began,
    // each after the tool's own quoted path.
    static std::vector<std::string> Recorded(const std::string& tool) {
        std::vector<std::string> tails;
        const std::string quotedTool = "\\" + tool + "\" ";
        for (const std::string& line : testsupport::RecordedStarts(SystemFolder() / tool)) {
            const std::size_t cmdline = line.find("\tcmdline=\"");
            const std::size_t end = line.find(quotedTool);
            const std::size_t args = line.find("\targ=");
            if (cmdline == std::string::npos || end == std::string::npos) {
                tails.push_back("unexpected: " + line);
                continue;
            }
            const std::size_t start = end + quotedTool.size();
            tails.push_back(line.substr(start, args == std::string::npos ? args : args - start));
        }
        return tails;
    }
    static std::string AddRule(const fs::path& dir, const std::string& windowsDir = "") {
        return "advfirewall firewall add rule " + kRuleName + " dir=in action=allow program=\"" +
               (windowsDir.empty() ? testsupport::WindowsPath(dir) : windowsDir) + "\\" +
               kFinderExe + "\" protocol=UDP profile=any enable=yes";
    }
    static std::string FolderAccess(const fs::path& dir) {
        return "\"" + testsupport::WindowsPath(dir) +
               "\" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F "
               "*S-1-5-32-545:(OI)(CI)RX";
    }

    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
        lan_ = testsupport::GetTestLan();
        setup_ = testsupport::WindowsToolPath(kSetupName);
        built_ = testsupport::DistDir("windows");
        ASSERT_TRUE(fs::exists(setup_)) << setup_;
        for (const char* version : {kCurrent, kLatest}) {
            ASSERT_TRUE(fs::exists(Release(version) / kSetupName))
                << Release(version) << ": make it with tools/release.sh --version " << version
                << " --arch <the prefix's> --out <Windows tools>/release (tools/test.sh does)";
        }
        const fs::path prefix = testsupport::Env("WINEPREFIX").value_or("");
        // $PROGRAMFILES32 as the setup program sees it: the 32-bit one in a
        // 32-bit prefix, the 64-bit test build's own in a 64-bit prefix.
        defaultDir_ = prefix / "drive_c/Program Files/ソルベリオ Windows Tool";
        shortcut_ = prefix / "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" /
                    "ソルベリオ Windows Tool.lnk";
        // One prefix serves the whole run: start from no installation.
        ASSERT_TRUE(RegValues().empty()) << "an installation is left in the prefix";
        for (const std::string& tool : kSystemTools) {
            ASSERT_TRUE(fs::exists(SystemFolder() / (tool + ".wine")))
                << "no recorder for " << tool;
            fs::remove(SystemFolder() / (tool + ".log"));
        }
    }

    void TearDown() override {
        finders_.CloseAll();
        site_.Stop();
        Wine({"reg", "delete", kKey, "/f"});
        fs::remove(shortcut_);
        fs::remove_all(defaultDir_);
    }

    static fs::path Release(const std::string& version) {
        return testsupport::WindowsToolPath("release") / version;
    }
    static fs::path Site(const std::string& object) {
        return Release(kLatest) / "site" / object.substr(1);
    }

    ProcessResult Wine(std::vector<std::string> argv, std::chrono::seconds timeout = 60s) {
        testsupport::ProcessOptions options;
        options.extraEnv = kWineEnv;
        options.timeout = timeout;
        return testsupport::RunProcess(testsupport::UnderWine(std::move(argv)), options);
    }
    // A silent run of a setup program; its exit code.
    int SilentSetup(const fs::path& setup, std::vector<std::string> args) {
        args.insert(args.begin(), {setup.string(), "/S"});
        const ProcessResult run = Wine(args);
        EXPECT_FALSE(run.timedOut) << setup;
        return run.exitCode;
    }
    // The installer folder option: last and unquoted.
    static std::string FolderOption(const fs::path& dir) {
        return "/D=" + testsupport::WindowsPath(dir);
    }
    // Runs the uninstaller silently. It copies itself away and returns at
    // once; it has ended its work when it has deleted its own file.
    void SilentUninstall(const fs::path& dir) {
        const ProcessResult run = Wine({(dir / "Uninstall.exe").string(), "/S"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ASSERT_TRUE(WaitFor([&] { return !fs::exists(dir / "Uninstall.exe"); }, 60s));
        ASSERT_TRUE(WaitFor([&] { return RegValues().empty(); }, 10s, 200ms));
    }

    // The values of the Programs-and-Features entry as reg prints them.
    std::map<std::string, std::string> RegValues() {
        std::map<std::string, std::string> values;
        // reg prints in the ANSI code page, 932 in the run's prefix.
        const std::string out = plat::ToUtf8(plat::FromCp932(Wine({"reg", "query", kKey}).out));
        for (const std::string& line : testsupport::Lines(out)) {
            std::istringstream words(line);
            std::string name, type, value;
            if (words >> name >> type && type.rfind("REG_", 0) == 0) {
                std::getline(words >> std::ws, value);
                values[name] = value;
            }
        }
        return values;
    }

    // The three programs of `programs` (a release's or the build's) with their
    // version, the uninstaller, the shortcut and the entry, all naming `dir`.
    void ExpectInstalled(const fs::path& dir, const std::string& version,
                         const fs::path& programs) {
        for (const std::string& program : kPrograms) {
            EXPECT_TRUE(CarriesVersion(dir / program, version)) << program;
            EXPECT_TRUE(ReadFile(dir / program) == ReadFile(programs / program)) << program;
        }
        EXPECT_TRUE(fs::exists(dir / "Uninstall.exe"));
        EXPECT_TRUE(fs::exists(shortcut_));
        const std::string where = dir == defaultDir_
                                      ? std::string(R"(C:\Program Files\ソルベリオ Windows Tool)")
                                      : testsupport::WindowsPath(dir);
        const std::map<std::string, std::string> expected = {
            {"DisplayVersion", version},
            {"DisplayName", "ソルベリオ Windows Tool"},
            {"Publisher", "Solberio"},
            {"NoModify", "0x1"},
            {"NoRepair", "0x1"},
            {"InstallLocation", where},
            {"UninstallString", "\"" + where + "\\Uninstall.exe\""},
            {"QuietUninstallString", "\"" + where + "\\Uninstall.exe\" /S"},
            {"DisplayIcon", where + "\\" + kFinderExe},
        };
        std::map<std::string, std::string> values = RegValues();
        EXPECT_NE(values["EstimatedSize"], "0x0");
        EXPECT_FALSE(values["EstimatedSize"].empty());
        values.erase("EstimatedSize");
        EXPECT_EQ(values, expected);
    }

    // The setup program that it starts inherits kWineEnv.
    BackgroundProcess& StartFinder(const fs::path& dir) { return finders_.Start(dir, kWineEnv); }
    // Starts the finder and waits for its window, which comes after any offer.
    void StartFinderWindow(const fs::path& dir) {
        BackgroundProcess& finder = StartFinder(dir);
        ASSERT_EQ(Uictl({"wait", "@finder", "20000"}).exitCode, 0) << finder.Errors();
    }
    bool CloseFinder() { return finders_.CloseLast(); }
    // Once the site has served the setup program `gets` times, waits for the
    // Updater that asked for it to end (its hidden window goes with it).
    void WaitUpdaterFetched(std::size_t gets) {
        ASSERT_TRUE(WaitFor([&] { return site_.Gets(kSetupObject) >= gets; }, 60s)) << site_.Log();
        ASSERT_EQ(Uictl({"gone", "Updater", "60000"}).exitCode, 0);
    }
    // A key of profile.ini's [Update], "<none>" when missing.
    static std::string Key(const fs::path& dir, const std::string& key) {
        for (const std::string& line : testsupport::Lines(ReadFile(dir / "profile.ini"))) {
            if (line.rfind(key + "=", 0) == 0) {
                return line.substr(key.size() + 1);
            }
        }
        return "<none>";
    }

    // Release 1.0.0.0 installed silently into `dir`, naming the test site,
    // which serves release 1.0.0.1's signed version file and `setup` where
    // that file points.
    void InstallFirstReleaseAndServe(const fs::path& dir, const fs::path& setup,
                                     std::vector<std::string> siteOptions = {}) {
        const std::string versionFile = ReadFile(Site(kVersionObject));
        ASSERT_NE(versionFile.find("\nURL=http://" + lan_.siteAddr + kSetupObject + "\n"),
                  std::string::npos)
            << "the test release must name the test site: " << versionFile;
        ASSERT_NE(versionFile.find("\nSignature="), std::string::npos) << versionFile;
        versionUrl_ = "http://" + lan_.siteAddr + kVersionObject;
        ASSERT_EQ(SilentSetup(Release(kCurrent) / kSetupName,
                              {"/UPDATESITE=" + versionUrl_, FolderOption(dir)}),
                  0);
        std::vector<std::string> options = {"--version-file",   Site(kVersionObject).string(),
                                            "--installer-path", kSetupObject,
                                            "--installer-file", setup.string()};
        options.insert(options.end(), siteOptions.begin(), siteOptions.end());
        ASSERT_TRUE(site_.Start(lan_, temp_.Path() / "site.log", options, 240));
    }

    testsupport::TestLan lan_;
    testsupport::TempDir temp_{"slsetup"};
    fs::path setup_;
    fs::path built_;  // the programs that setup_ carries
    fs::path defaultDir_;
    fs::path shortcut_;
    std::string versionUrl_;
    testsupport::UpdateSite site_;
    testsupport::Finders finders_;
};

}  // namespace

TEST_F(Installer, SilentInstallThenSilentUninstallRunsQuenlowFirst) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SilentSetup(setup_, {}), 0);
    std::cout << "silent install: " << SecondsSince(start) << " s" << std::endl;
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(defaultDir_, kCurrent, built_));
    // The firewall rule, made anew; below Program Files the access stays.
    const std::string where = R"(C:\Program Files\ソルベリオ Windows Tool)";
    EXPECT_EQ(Recorded("netsh.exe"), std::vector<std::string>({kDeleteRule, AddRule({}, where)}));
    EXPECT_TRUE(Recorded("icacls.exe").empty());

    // What the programs leave in the folder over time.
    const std::string profile =
        "[Update]\r\nUpdateSiteURL=http://mirror.example/latestversion.ini\r\n"
        "CurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(defaultDir_ / "profile.ini", profile);
    WriteFile(defaultDir_ / "url.ini", "[URL]\r\nUpdateSiteURL=http://mirror.example/\r\n");
    WriteFile(defaultDir_ / "slwintool.log", "search\r\n");
    WriteFile(defaultDir_ / "search.ini", "[Search]\r\nTargets=10.77.1.1\r\n");
    WriteFile(defaultDir_ / "devices.ini", "[Device1]\r\nAddress=198.18.1.1\r\n");
    WriteFile(defaultDir_ / kSetupName, "downloaded");

    ASSERT_NO_FATAL_FAILURE(SilentUninstall(defaultDir_));
    for (const std::string& program : kPrograms) {
        EXPECT_FALSE(fs::exists(defaultDir_ / program)) << program;
    }
    EXPECT_FALSE(fs::exists(defaultDir_ / "Uninstall.exe"));
    EXPECT_EQ(Recorded("netsh.exe"),
              std::vector<std::string>({kDeleteRule, AddRule({}, where), kDeleteRule}));
    EXPECT_FALSE(fs::exists(shortcut_));
    // Quenlow ran first: the recorded download is reset, nothing else.
    EXPECT_EQ(Key(defaultDir_, "DownloadedVersion"), "0.0.0.0");
    EXPECT_EQ(Key(defaultDir_, "CurrentVersion"), kCurrent);
    EXPECT_EQ(Key(defaultDir_, "UpdateSiteURL"), "http://mirror.example/latestversion.ini");
    for (const char* kept : {"url.ini", "search.ini", "devices.ini", "slwintool.log", kSetupName}) {
        EXPECT_TRUE(fs::exists(defaultDir_ / kept)) << kept;
    }
}

TEST_F(Installer, UpgradeInPlaceKeepsTheSettingsAndReplacesThePrograms) {
    // /UPDATESITE= makes url.ini in a fresh folder.
    const fs::path dir = temp_.Path() / "SolberioTool";
    const std::string mirror = "http://mirror.example/installer/solberio/search/latestversion.ini";
    ASSERT_EQ(SilentSetup(setup_, {"/UPDATESITE=" + mirror, FolderOption(dir)}), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kCurrent, built_));
    EXPECT_EQ(ReadFile(dir / "url.ini"), "[URL]\r\nUpdateSiteURL=" + mirror + "\r\n");
    // Outside Program Files the folder gets Program Files' access first.
    EXPECT_EQ(Recorded("icacls.exe"), std::vector<std::string>({FolderAccess(dir)}));
    EXPECT_EQ(Recorded("netsh.exe"), std::vector<std::string>({kDeleteRule, AddRule(dir)}));

    const std::string profile =
        "[Update]\r\nUpdateSiteURL=" + mirror +
        "\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=1.0.0.1\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(dir / "profile.ini", profile);
    const std::string urlIni =
        "; the site of our office\n[URL]\nUpdateSiteURL=http://a.example/v.ini\n";
    WriteFile(dir / "url.ini", urlIni);
    const std::string searchIni = "[Search]\r\nTargets=10.77.1.1;nas.example.lan\r\n";
    WriteFile(dir / "search.ini", searchIni);
    const std::string devicesIni =
        "[Device1]\r\nAddress=198.18.1.1\r\nMAC=02-5E-1B-00-01-01\r\n"
        "LastSeen=2026-12-09T17:06:04Z\r\n";
    WriteFile(dir / "devices.ini", devicesIni);

    // The new version, with no folder given, goes where the old one is and
    // writes over neither file, whatever /UPDATESITE= says.
    ASSERT_EQ(
        SilentSetup(Release(kLatest) / kSetupName, {"/UPDATESITE=http://other.example/v.ini"}), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kLatest, Release(kLatest) / "programs"));
    EXPECT_EQ(ReadFile(dir / "profile.ini"), profile);
    EXPECT_EQ(ReadFile(dir / "url.ini"), urlIni);
    EXPECT_EQ(ReadFile(dir / "search.ini"), searchIni);
    EXPECT_EQ(ReadFile(dir / "devices.ini"), devicesIni);
    EXPECT_FALSE(fs::exists(defaultDir_));
    // Still one rule: the upgrade deleted the old one before it added its own.
    EXPECT_EQ(Recorded("netsh.exe"),
              std::vector<std::string>({kDeleteRule, AddRule(dir), kDeleteRule, AddRule(dir)}));

    // With nothing of the user's left, the uninstaller removes the folder.
    fs::remove(dir / "profile.ini");
    fs::remove(dir / "url.ini");
    fs::remove(dir / "search.ini");
    fs::remove(dir / "devices.ini");
    ASSERT_NO_FATAL_FAILURE(SilentUninstall(dir));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir); }, 10s));
}

TEST_F(Installer, UpgradeWaitsForTheFinderAndReplacesNothingWhileItRuns) {
    const fs::path dir = temp_.Path() / "SolberioBusy";
    ASSERT_EQ(SilentSetup(setup_, {FolderOption(dir)}), 0);
    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));

    // The finder stays: after its bounded wait the silent setup cancels and
    // leaves the old set whole.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(SilentSetup(Release(kLatest) / kSetupName, {}), 0);
    EXPECT_GE(SecondsSince(start), 25.0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kCurrent, built_));

    // The finder ends while the setup waits: the setup then goes on.
    testsupport::ProcessOptions options;
    options.extraEnv = kWineEnv;
    BackgroundProcess upgrade(
        testsupport::UnderWine({(Release(kLatest) / kSetupName).string(), "/S"}), options);
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(upgrade.Running());
    ASSERT_TRUE(CloseFinder());
    EXPECT_EQ(upgrade.Wait(45s), 0) << upgrade.Errors();
    ExpectInstalled(dir, kLatest, Release(kLatest) / "programs");
}

// Uninstalling while the finder is open and its Updater downloads (slowly):
// the finder is closed, the Updater ended, every program goes, the user's
// files stay and no partial download is left.
TEST_F(Installer, UninstallEndsTheRunningFinderAndUpdater) {
    const fs::path dir = temp_.Path() / "SolberioRunning";
    ASSERT_NO_FATAL_FAILURE(
        InstallFirstReleaseAndServe(dir, Site(kSetupObject), {"--rate", "8192"}));
    WriteFile(dir / "search.ini", "[Search]\r\nTargets=10.77.1.1\r\n");
    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir / "Updater.download"); }, 60s)) << site_.Log();

    ASSERT_NO_FATAL_FAILURE(SilentUninstall(dir));
    for (const std::string& program : kPrograms) {
        EXPECT_FALSE(fs::exists(dir / program)) << program;
    }
    EXPECT_EQ(Uictl({"count", "@finder"}).out, "0\n");
    EXPECT_EQ(Uictl({"count", "Updater"}).out, "0\n");
    EXPECT_FALSE(fs::exists(dir / "Updater.download"));
    EXPECT_FALSE(fs::exists(dir / kSetupName));
    EXPECT_EQ(Key(dir, "DownloadedVersion"), "0.0.0.0");
    for (const char* kept : {"profile.ini", "url.ini", "search.ini"}) {
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    }
}

// A program that still cannot be removed after the wait (here Quenlow, held
// open by another process) cancels a silent uninstall: a non-zero exit code
// for a caller that waits for the uninstall itself (_?=), and the entry stays
// so that it can be run again.
TEST_F(Installer, SilentUninstallFailsWhileAProgramCannotBeRemoved) {
    const fs::path dir = temp_.Path() / "SolberioHeld";
    ASSERT_EQ(SilentSetup(setup_, {FolderOption(dir)}), 0);
    testsupport::ProcessOptions options;
    options.extraEnv = kWineEnv;
    BackgroundProcess holder(
        testsupport::UnderWine(
            {"cmd", "/c",
             "ping -n 45 127.0.0.1 >nul 2>>" + testsupport::WindowsPath(dir / "Quenlow.exe")}),
        options);
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(holder.Running()) << holder.Errors();

    const fs::path uninstaller = temp_.Path() / "held-uninstall" / "Uninstall.exe";
    fs::create_directories(uninstaller.parent_path());
    fs::copy_file(dir / "Uninstall.exe", uninstaller);
    const ProcessResult run =
        Wine({uninstaller.string(), "/S", "_?=" + testsupport::WindowsPath(dir)}, 90s);
    EXPECT_FALSE(run.timedOut);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "Quenlow.exe"));
    EXPECT_FALSE(RegValues().empty());
    holder.Wait(50s);
}

TEST_F(Installer, UpdateChainWithTheRealSetupProgram) {
    const auto start = std::chrono::steady_clock::now();
    const fs::path dir = temp_.Path() / "SolberioChain";
    ASSERT_NO_FATAL_FAILURE(InstallFirstReleaseAndServe(dir, Site(kSetupObject)));
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kCurrent, Release(kCurrent) / "programs"));

    // The installed finder starts the released Updater, which checks the
    // signature, downloads the setup program and checks its hash.
    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));
    ASSERT_TRUE(WaitFor([&] { return Key(dir, "DownloadedVersion") == kLatest; }, 60s))
        << site_.Log();
    EXPECT_TRUE(ReadFile(dir / kSetupName) == ReadFile(Release(kLatest) / kSetupName));
    // The signed version file it acted on, kept for the finder's check.
    EXPECT_TRUE(ReadFile(dir / "latestversion.ini") == ReadFile(Site(kVersionObject)));
    EXPECT_EQ(Key(dir, "UpdateSiteURL"), versionUrl_);
    ASSERT_TRUE(CloseFinder());

    // The next start checks the pair again and offers it; Yes starts it and
    // the finder ends.
    BackgroundProcess& accepting = StartFinder(dir);
    const ProcessResult offer = Uictl({"msgtext", "@app", "20000"});
    EXPECT_NE(offer.out.find(testsupport::kOfferText), std::string::npos) << accepting.Errors();
    ASSERT_EQ(Uictl({"answer", "@app", "yes"}).exitCode, 0);
    ASSERT_TRUE(accepting.Wait(20s).has_value()) << "the finder did not end after Yes";

    // The setup's window; its caption changes with the page: matched by its
    // beginning.
    const std::string title = std::string("ソルベリオ Windows Tool ") + kLatest + " セットアップ*";
    ASSERT_EQ(Uictl({"wait", title, "30000"}).exitCode, 0) << "the setup's window did not open";
    if (const auto shots = testsupport::Env("SL_SCREENSHOT_DIR")) {
        ASSERT_TRUE(WaitFor(
            [&] {
                return Uictl({"button", title, "1"}).out.find("\t1") != std::string::npos;
            },
            10s));
        const fs::path shot = fs::path(*shots) / "setup.png";
        fs::create_directories(shot.parent_path());
        const ProcessResult taken =
            testsupport::RunProcess({"import", "-window", "root", shot.string()});
        EXPECT_EQ(taken.exitCode, 0) << taken.err;
        std::cout << "screenshot: " << shot.string() << std::endl;
    }
    // Its pages: welcome, folder (the installation's own), progress, finish.
    // The test presses the default button whenever it can.
    std::vector<std::string> pressed;
    for (int i = 0; i < 100; ++i) {
        const ProcessResult button = Uictl({"button", title, "1"});
        if (button.exitCode != 0) {
            break;  // the window is gone
        }
        const std::string caption = button.out.substr(0, button.out.find('\t'));
        if (button.out.find("\t1") != std::string::npos &&
            (pressed.empty() || pressed.back() != caption)) {
            pressed.push_back(caption);
            Uictl({"click", title, "1"});
        }
    }
    EXPECT_EQ(Uictl({"count", title}).out, "0\n");
    EXPECT_GE(pressed.size(), 3u);
    ASSERT_TRUE(WaitFor([&] { return CarriesVersion(dir / "Quenlow.exe", kLatest); }, 30s));
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kLatest, Release(kLatest) / "programs"));

    // The new finder records its version and deletes the used setup program.
    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir / kSetupName); }, 10s));
    EXPECT_FALSE(fs::exists(dir / "latestversion.ini"));
    EXPECT_EQ(Key(dir, "CurrentVersion"), kLatest);
    EXPECT_EQ(Key(dir, "UpdateSiteURL"), versionUrl_);
    ASSERT_TRUE(CloseFinder());
    EXPECT_EQ(site_.Gets(kSetupObject), 1u) << site_.Log();
    std::cout << "update chain: " << SecondsSince(start) << " s" << std::endl;
}

// The same chain with the setup program changed on the site after signing:
// the released Updater deletes its download and records nothing, so the next
// start offers nothing.
TEST_F(Installer, UpdateChainRejectsASetupProgramChangedAfterSigning) {
    std::string bytes = ReadFile(Site(kSetupObject));
    bytes[bytes.size() / 2] ^= 0x01;
    const fs::path changed = temp_.Path() / kSetupName;
    WriteFile(changed, bytes);
    const fs::path dir = temp_.Path() / "SolberioChanged";
    ASSERT_NO_FATAL_FAILURE(InstallFirstReleaseAndServe(dir, changed));

    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));
    ASSERT_NO_FATAL_FAILURE(WaitUpdaterFetched(1));
    EXPECT_EQ(Key(dir, "DownloadedVersion"), "0.0.0.0");
    EXPECT_FALSE(fs::exists(dir / kSetupName));
    EXPECT_FALSE(fs::exists(dir / "Updater.download"));
    ASSERT_TRUE(CloseFinder());

    // No offer: the window opens with no message box; its Updater tries once more.
    ASSERT_NO_FATAL_FAILURE(StartFinderWindow(dir));
    EXPECT_EQ(Uictl({"count", "@app"}).out, "0\n");
    ASSERT_NO_FATAL_FAILURE(WaitUpdaterFetched(2));
    ASSERT_TRUE(CloseFinder());
    EXPECT_EQ(site_.Gets(kSetupObject), 2u) << site_.Log();
}

// The Authenticode-signed release (tools/test.sh signs the test releases with
// the run's test PKI, SL_TEST_PKI): every program and the setup program, and
// the programs and uninstaller that its silent install writes, verify against
// the test CA; the same file with one byte changed, or another CA, does not.
TEST_F(Installer, SignedReleaseAndWhatItInstallsVerify) {
    const auto pki = testsupport::Env("SL_TEST_PKI");
    if (!pki) {
        if (testsupport::Env("SL_REQUIRE_LAN").value_or("") == "1") {
            FAIL() << "SL_TEST_PKI is not set: the test releases are not Authenticode-signed";
        }
        GTEST_SKIP() << "no SL_TEST_PKI";
    }
    const fs::path dir = temp_.Path() / "SolberioSigned";
    ASSERT_EQ(SilentSetup(Release(kLatest) / kSetupName, {FolderOption(dir)}), 0);
    const auto verifies = [](const fs::path& pe, const fs::path& ca) {
        return testsupport::RunProcess(
                   {"osslsigncode", "verify", "-CAfile", ca.string(), "-in", pe.string()})
                   .exitCode == 0;
    };
    std::vector<fs::path> signedFiles = {Release(kLatest) / kSetupName, dir / "Uninstall.exe"};
    for (const std::string& program : kPrograms) {
        signedFiles.push_back(Release(kLatest) / "programs" / program);
        signedFiles.push_back(dir / program);
    }
    // The setup program gives the programs the commit's time, as the release
    // has them, not the build's (within 2 s: under Wine the recorded time
    // came back one second early).
    for (const std::string& program : kPrograms) {
        const auto apart = fs::last_write_time(dir / program) -
                           fs::last_write_time(Release(kLatest) / "programs" / program);
        EXPECT_LE(std::chrono::abs(apart), 2s) << program;
    }
    const fs::path ca = fs::path(*pki) / "ca.pem";
    for (const fs::path& file : signedFiles) {
        EXPECT_TRUE(verifies(file, ca)) << file;
        EXPECT_FALSE(verifies(file, fs::path(*pki) / "other-ca.pem")) << file;
        std::string bytes = ReadFile(file);
        bytes[bytes.size() / 3] ^= 0x01;
        const fs::path changed = temp_.Path() / "changed.exe";
        WriteFile(changed, bytes);
        EXPECT_FALSE(verifies(changed, ca)) << file << " changed after signing";
    }
    ASSERT_NO_FATAL_FAILURE(SilentUninstall(dir));
}

// The shipped setup program carries the product version (its image is
// checked with the other shipped programs').
TEST(SetupImage, ShippedSetupCarriesTheProductVersion) {
    const fs::path exe = fs::path(testsupport::Env("SL_SOURCE_DIR").value_or(".")) /
                         "build/windows/bin" / kSetupName;
    SL_REQUIRE_WORLD(fs::exists(exe), "missing " << exe, "not built: " << exe);
    EXPECT_TRUE(CarriesVersion(exe, kCurrent));
}
