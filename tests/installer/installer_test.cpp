// The setup program and its uninstaller under the run's Wine prefix: silent
// install, upgrade in place, silent uninstall with Quenlow first, and the
// whole update chain with real programs: the installed finder of 1.0.0.0,
// its Updater downloading the setup program of the release command's 1.0.0.1
// tree from the simulated site, the offer, the setup's pages, and the new
// finder cleaning up.
//
// The setup program of this build (the build's product version) is
// slwintool_set_up.exe among the Windows tools; the 1.0.0.1 release of the
// same build kind is in release/1.0.0.1 among them (tools/test.sh makes it
// with tools/release.sh and a throw-away key).
#include <gtest/gtest.h>
#include <iconv.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <list>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/state/pe_image.h"
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
const std::vector<std::string> kPrograms = {kFinderExe, "Updater.exe", "Quenlow.exe"};
// Shortcuts must not reach the host's desktop menus.
const std::vector<std::string> kWineEnv = {
    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"};

// The ProductVersion string of a program's version resource, "" if none.
std::string ProductVersionOf(const fs::path& program) {
    const std::string bytes = ReadFile(program);
    std::string key;
    for (const char c : std::string("ProductVersion")) {
        key += c;
        key += '\0';
    }
    key += std::string(2, '\0');
    // The name may also occur in the code: take the one with a version after it.
    for (std::size_t at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) {
        std::size_t pos = at + key.size();
        while (pos + 1 < bytes.size() && bytes[pos] == '\0' && bytes[pos + 1] == '\0') {
            pos += 2;
        }
        std::string value;
        for (; pos + 1 < bytes.size() && bytes[pos + 1] == '\0' &&
               (std::isdigit(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '.');
             pos += 2) {
            value += bytes[pos];
        }
        if (!value.empty() && pos + 1 < bytes.size() && bytes[pos] == '\0') {
            return value;
        }
    }
    return "";
}

// Text that Wine's console programs print (the ANSI code page 932) in UTF-8.
std::string FromCp932(const std::string& text) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return text;
    }
    std::string in = text;
    std::string out(text.size() * 3 + 1, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) {
        return text;
    }
    out.resize(out.size() - outLeft);
    return out;
}

class Installer : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
        lan_ = testsupport::GetTestLan();
        setup_ = testsupport::WindowsToolPath(kSetupName);
        release_ = testsupport::WindowsToolPath("release") / kLatest;
        ASSERT_TRUE(fs::exists(setup_)) << setup_;
        ASSERT_TRUE(fs::exists(release_ / kSetupName))
            << release_ << ": make it with tools/release.sh --version " << kLatest
            << " --arch <the prefix's> --out <Windows tools>/release (tools/test.sh does)";
        const fs::path prefix = testsupport::Env("WINEPREFIX").value_or("");
        // $PROGRAMFILES32 as the setup program sees it: the 32-bit one in a
        // 32-bit prefix, the 64-bit test build's own in a 64-bit prefix.
        defaultDir_ = prefix / "drive_c/Program Files/ソルベリオ Windows Tool";
        shortcut_ = prefix / "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" /
                    "ソルベリオ Windows Tool.lnk";
        // One prefix serves the whole run: start from no installation.
        ASSERT_FALSE(RegValue("DisplayVersion")) << "an installation is left in the prefix";
    }

    void TearDown() override {
        for (BackgroundProcess& finder : finders_) {
            if (finder.Running()) {
                Uictl({"close", "@finder"});
                finder.Wait(20s);
            }
        }
        site_.Stop();
        Wine({"reg", "delete", kKey, "/f"});
        fs::remove(shortcut_);
        fs::remove_all(defaultDir_);
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
        ASSERT_TRUE(WaitFor([&] { return !fs::exists(dir / "Uninstall.exe"); }, 30s));
        ASSERT_TRUE(WaitFor([&] { return !RegValue("DisplayVersion"); }, 10s, 200ms));
    }

    // A value of the Programs-and-Features entry as reg prints it.
    std::optional<std::string> RegValue(const std::string& name) {
        const ProcessResult query = Wine({"reg", "query", kKey, "/v", name});
        if (query.exitCode != 0) {
            return std::nullopt;
        }
        for (const std::string& line : testsupport::Lines(FromCp932(query.out))) {
            std::istringstream words(line);
            std::string word, type;
            if (words >> word >> type && word == name && type.rfind("REG_", 0) == 0) {
                std::string value;
                std::getline(words >> std::ws, value);
                return value;
            }
        }
        return std::nullopt;
    }

    // Windows's name of a folder of the prefix.
    std::string WindowsName(const fs::path& dir) const {
        return dir == defaultDir_ ? std::string(R"(C:\Program Files\ソルベリオ Windows Tool)")
                                  : testsupport::WindowsPath(dir);
    }
    void ExpectInstalled(const fs::path& dir, const std::string& version) {
        const std::string where = WindowsName(dir);
        for (const std::string& program : kPrograms) {
            EXPECT_EQ(ProductVersionOf(dir / program), version) << program;
        }
        EXPECT_TRUE(fs::exists(dir / "Uninstall.exe"));
        EXPECT_TRUE(fs::exists(shortcut_));
        EXPECT_EQ(RegValue("DisplayVersion"), version);
        EXPECT_EQ(RegValue("DisplayName"), "ソルベリオ Windows Tool");
        EXPECT_EQ(RegValue("Publisher"), "Solberio");
        EXPECT_EQ(RegValue("NoModify"), "0x1");
        EXPECT_EQ(RegValue("NoRepair"), "0x1");
        EXPECT_NE(RegValue("EstimatedSize").value_or("0x0"), "0x0");
        EXPECT_EQ(RegValue("InstallLocation"), where);
        EXPECT_EQ(RegValue("UninstallString"), "\"" + where + "\\Uninstall.exe\"");
        EXPECT_EQ(RegValue("QuietUninstallString"), "\"" + where + "\\Uninstall.exe\" /S");
        EXPECT_EQ(RegValue("DisplayIcon"), where + "\\" + kFinderExe);
    }
    void ExpectRemoved(const fs::path& dir) {
        for (const std::string& program : kPrograms) {
            EXPECT_FALSE(fs::exists(dir / program)) << program;
        }
        EXPECT_FALSE(fs::exists(dir / "Uninstall.exe"));
        EXPECT_FALSE(fs::exists(shortcut_));
        EXPECT_FALSE(RegValue("DisplayVersion"));
    }

    BackgroundProcess& StartFinder(const fs::path& dir) {
        testsupport::ProcessOptions options;
        options.cwd = dir.string();
        // The setup program that it starts inherits this.
        options.extraEnv = kWineEnv;
        finders_.emplace_back(testsupport::UnderWine({(dir / kFinderExe).string()}), options);
        return finders_.back();
    }
    bool CloseFinder(BackgroundProcess& finder) {
        return Uictl({"close", "@finder"}).exitCode == 0 && finder.Wait(20s).has_value();
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

    testsupport::TestLan lan_;
    testsupport::TempDir temp_{"slsetup"};
    fs::path setup_;
    fs::path release_;
    fs::path defaultDir_;
    fs::path shortcut_;
    testsupport::UpdateSite site_;
    std::list<BackgroundProcess> finders_;
};

}  // namespace

TEST_F(Installer, SilentInstallThenSilentUninstallRunsQuenlowFirst) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SilentSetup(setup_, {}), 0);
    std::cout << "silent install: "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s" << std::endl;
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(defaultDir_, kCurrent));

    // What the programs leave in the folder over time.
    const std::string profile =
        "[Update]\r\nUpdateSiteURL=http://mirror.example/latestversion.ini\r\n"
        "CurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(defaultDir_ / "profile.ini", profile);
    WriteFile(defaultDir_ / "url.ini", "[URL]\r\nUpdateSiteURL=http://mirror.example/\r\n");
    WriteFile(defaultDir_ / "slwintool.log", "search\r\n");
    WriteFile(defaultDir_ / kSetupName, "downloaded");

    ASSERT_NO_FATAL_FAILURE(SilentUninstall(defaultDir_));
    ExpectRemoved(defaultDir_);
    // Quenlow ran first: the recorded download is reset, nothing else.
    EXPECT_EQ(Key(defaultDir_, "DownloadedVersion"), "0.0.0.0");
    EXPECT_EQ(Key(defaultDir_, "CurrentVersion"), kCurrent);
    EXPECT_EQ(Key(defaultDir_, "UpdateSiteURL"), "http://mirror.example/latestversion.ini");
    for (const char* kept : {"url.ini", "slwintool.log", kSetupName}) {
        EXPECT_TRUE(fs::exists(defaultDir_ / kept)) << kept;
    }
}

TEST_F(Installer, UpgradeInPlaceKeepsTheSettingsAndReplacesThePrograms) {
    // /UPDATESITE= makes url.ini in a fresh folder.
    const fs::path dir = temp_.Path() / "SolberioTool";
    const std::string mirror = "http://mirror.example/installer/solberio/search/latestversion.ini";
    ASSERT_EQ(SilentSetup(setup_, {"/UPDATESITE=" + mirror, FolderOption(dir)}), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kCurrent));
    EXPECT_EQ(ReadFile(dir / "url.ini"), "[URL]\r\nUpdateSiteURL=" + mirror + "\r\n");

    const std::string profile =
        "[Update]\r\nUpdateSiteURL=" + mirror +
        "\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=1.0.0.1\r\nDownloadedVersion=1.0.0.1\r\n";
    WriteFile(dir / "profile.ini", profile);
    const std::string urlIni =
        "; the site of our office\n[URL]\nUpdateSiteURL=http://a.example/v.ini\n";
    WriteFile(dir / "url.ini", urlIni);

    // The new version, with no folder given, goes where the old one is and
    // writes over neither file, whatever /UPDATESITE= says.
    ASSERT_EQ(SilentSetup(release_ / kSetupName, {"/UPDATESITE=http://other.example/v.ini"}), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kLatest));
    for (const std::string& program : kPrograms) {
        EXPECT_TRUE(ReadFile(dir / program) == ReadFile(release_ / "programs" / program))
            << program;
    }
    EXPECT_EQ(ReadFile(dir / "profile.ini"), profile);
    EXPECT_EQ(ReadFile(dir / "url.ini"), urlIni);
    EXPECT_FALSE(fs::exists(defaultDir_));

    // With nothing of the user's left, the uninstaller removes the folder.
    fs::remove(dir / "profile.ini");
    fs::remove(dir / "url.ini");
    ASSERT_NO_FATAL_FAILURE(SilentUninstall(dir));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir); }, 10s));
}

TEST_F(Installer, UpgradeWaitsForTheFinderAndReplacesNothingWhileItRuns) {
    const fs::path dir = temp_.Path() / "SolberioBusy";
    ASSERT_EQ(SilentSetup(setup_, {FolderOption(dir)}), 0);
    BackgroundProcess& finder = StartFinder(dir);
    ASSERT_EQ(Uictl({"wait", "@finder", "20000"}).exitCode, 0) << finder.Errors();

    // The finder stays: after its bounded wait the silent setup cancels and
    // leaves the old set whole.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(SilentSetup(release_ / kSetupName, {}), 0);
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 25.0);
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kCurrent));

    // The finder ends while the setup waits: the setup then goes on.
    testsupport::ProcessOptions options;
    options.extraEnv = kWineEnv;
    BackgroundProcess upgrade(testsupport::UnderWine({(release_ / kSetupName).string(), "/S"}),
                              options);
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(upgrade.Running());
    ASSERT_TRUE(CloseFinder(finder));
    EXPECT_EQ(upgrade.Wait(45s), 0) << upgrade.Errors();
    ExpectInstalled(dir, kLatest);
}

TEST_F(Installer, UpdateChainWithTheRealSetupProgram) {
    const auto start = std::chrono::steady_clock::now();
    const fs::path site = release_ / "site";
    const std::string versionObject = std::string(kSiteObjects) + "latestversion.ini";
    const std::string setupObject = std::string(kSiteObjects) + kLatest + "/" + kSetupName;
    const std::string versionFile = ReadFile(site / versionObject.substr(1));
    ASSERT_NE(versionFile.find("\nURL=http://" + lan_.siteAddr + setupObject + "\n"),
              std::string::npos)
        << "the test release must name the test site: " << versionFile;

    // 1.0.0.0 installed silently, the test site named by /UPDATESITE=.
    const fs::path dir = temp_.Path() / "SolberioChain";
    const std::string versionUrl = "http://" + lan_.siteAddr + versionObject;
    ASSERT_EQ(SilentSetup(setup_, {"/UPDATESITE=" + versionUrl, FolderOption(dir)}), 0);
    ASSERT_TRUE(site_.Start(
        lan_, temp_.Path() / "site.log",
        {"--version-file", (site / versionObject.substr(1)).string(), "--installer-path",
         setupObject, "--installer-file", (site / setupObject.substr(1)).string()},
        240));

    // The installed finder starts the real Updater, which downloads the setup.
    BackgroundProcess& first = StartFinder(dir);
    ASSERT_EQ(Uictl({"wait", "@finder", "20000"}).exitCode, 0) << first.Errors();
    ASSERT_TRUE(WaitFor([&] { return Key(dir, "DownloadedVersion") == kLatest; }, 60s))
        << site_.Log();
    EXPECT_TRUE(ReadFile(dir / kSetupName) == ReadFile(release_ / kSetupName));
    EXPECT_EQ(Key(dir, "UpdateSiteURL"), versionUrl);
    ASSERT_TRUE(CloseFinder(first));

    // The next start offers it; Yes starts it and the finder ends.
    BackgroundProcess& accepting = StartFinder(dir);
    const ProcessResult offer = Uictl({"msgtext", "@app", "20000"});
    EXPECT_NE(offer.out.find(testsupport::kOfferText), std::string::npos) << accepting.Errors();
    ASSERT_EQ(Uictl({"answer", "@app", "yes"}).exitCode, 0);
    ASSERT_TRUE(accepting.Wait(20s).has_value()) << "the finder did not end after Yes";

    // The setup's pages: welcome, folder (the installation's own), progress,
    // finish. The test presses the default button whenever it can.
    // Its caption changes with the page: matched by its beginning.
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
    ASSERT_TRUE(WaitFor([&] { return ProductVersionOf(dir / "Quenlow.exe") == kLatest; }, 30s));
    ASSERT_NO_FATAL_FAILURE(ExpectInstalled(dir, kLatest));
    for (const std::string& program : kPrograms) {
        EXPECT_TRUE(ReadFile(dir / program) == ReadFile(release_ / "programs" / program))
            << program;
    }

    // The new finder records its version and deletes the used setup program.
    BackgroundProcess& updated = StartFinder(dir);
    ASSERT_EQ(Uictl({"wait", "@finder", "20000"}).exitCode, 0) << updated.Errors();
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir / kSetupName); }, 10s));
    EXPECT_EQ(Key(dir, "CurrentVersion"), kLatest);
    EXPECT_EQ(Key(dir, "UpdateSiteURL"), versionUrl);
    ASSERT_TRUE(CloseFinder(updated));
    EXPECT_EQ(site_.Gets(setupObject), 1u) << site_.Log();
    std::cout << "update chain: "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
              << " s" << std::endl;
}

// The shipped setup program, read without running it: a 32-bit program that
// asks for administrator rights and carries the product version.
TEST(SetupImage, ShippedSetupIsA32BitProgramForAdministrators) {
    const fs::path exe = fs::path(testsupport::Env("SL_SOURCE_DIR").value_or(".")) /
                         "build/windows/bin" / kSetupName;
    if (!fs::exists(exe)) {
        if (testsupport::Env("SL_REQUIRE_LAN").value_or("") == "1") {
            FAIL() << "missing " << exe;
        }
        GTEST_SKIP() << "not built: " << exe;
    }
    const auto image = petest::ReadPeImage(ReadFile(exe));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->machine, 0x14c);
    EXPECT_EQ(image->magic, 0x10b);
    EXPECT_EQ(image->subsystem, 2);
    ASSERT_TRUE(image->manifest.has_value());
    EXPECT_NE(image->manifest->find("requireAdministrator"), std::string::npos);
    EXPECT_EQ(ProductVersionOf(exe), kCurrent);
}
