// The update chain as real processes: the finder, the Updater and Quenlow
// under Wine, installed side by side in one folder with url.ini, against the
// simulated update site in the test LAN. The site serves a copy of
// sl_recorder as the installer, so a start of the downloaded installer leaves
// a record beside it. The finder of the next version is the same program with
// 1.0.0.1 in its version resource (sl_finder_next).
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/release_signing.h"
#include "tests/support/testlan.h"
#include "tests/support/update_site.h"
#include "tests/support/wine_programs.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::BackgroundProcess;
using testsupport::kFinderExe;
using testsupport::kOfferText;
using testsupport::kSiteInstallerObject;
using testsupport::kSiteVersionObject;
using testsupport::Lines;
using testsupport::ReadFile;
using testsupport::RecordedStarts;
using testsupport::Uictl;
using testsupport::WaitFor;

constexpr char kInstallerName[] = "slwintool_set_up.exe";
constexpr char kCurrent[] = "1.0.0.0";
constexpr char kLatest[] = "1.0.0.1";

// Witnesses the deletion of one file name in a folder. The kernel queues the
// events, so nothing is missed between two looks.
class DeletionWitness {
  public:
    DeletionWitness(const fs::path& dir, std::string name) : name_(std::move(name)) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && inotify_add_watch(fd_, dir.c_str(), IN_DELETE | IN_MOVED_FROM) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~DeletionWitness() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    DeletionWitness(const DeletionWitness&) = delete;
    DeletionWitness& operator=(const DeletionWitness&) = delete;

    bool Watching() const { return fd_ >= 0; }

    // How many times the name went away since the last call.
    int Deletions() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof(buffer));
            if (got <= 0) {
                break;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && name_ == event->name) {
                    ++count;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

  private:
    std::string name_;
    int fd_ = -1;
};

class UpdateChain : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
        lan_ = testsupport::GetTestLan();
        recorder_ = testsupport::WindowsToolPath("sl_recorder.exe");
        nextFinder_ = testsupport::WindowsToolPath("sl_finder_next.exe");
        ASSERT_TRUE(fs::exists(recorder_)) << recorder_;
        ASSERT_TRUE(fs::exists(nextFinder_)) << nextFinder_;
        ASSERT_TRUE(fs::exists(testsupport::WindowsToolPath("sl_uictl.exe")));

        // The install folder, its path with a space as under Program Files.
        dir_ = temp_.Path() / "Solberio Tool";
        fs::create_directories(dir_);
        const fs::path dist = testsupport::DistDir("windows");
        for (const char* program : {kFinderExe, "Updater.exe", "Quenlow.exe"}) {
            ASSERT_TRUE(fs::exists(dist / program)) << dist / program;
            fs::copy_file(dist / program, dir_ / program);
        }
        versionUrl_ = "http://" + lan_.siteAddr + kSiteVersionObject;
        testsupport::WriteFile(dir_ / "url.ini", "[URL]\r\nUpdateSiteURL=" + versionUrl_ + "\r\n");

        ASSERT_TRUE(site_.Start(lan_, temp_.Path() / "site.log",
                                {"--latest", kLatest, "--installer-path", kSiteInstallerObject,
                                 "--installer-file", recorder_.string()}));
        witness_ = std::make_unique<DeletionWitness>(dir_, kInstallerName);
        ASSERT_TRUE(witness_->Watching()) << std::strerror(errno);
    }

    void TearDown() override {
        finders_.CloseAll();
        site_.Stop();
    }

    BackgroundProcess& StartFinder() { return finders_.Start(dir_); }
    bool WindowOpens() { return Uictl({"wait", "@finder", "20000"}).exitCode == 0; }
    // Closes the finder's window; true when the program then ended.
    bool CloseFinder(BackgroundProcess& finder) {
        return Uictl({"close", "@finder"}).exitCode == 0 && finder.Wait(20s).has_value();
    }
    std::string OfferText() { return Uictl({"msgtext", "@app", "20000"}).out; }
    bool Answer(const std::string& button) {
        return Uictl({"answer", "@app", button}).exitCode == 0;
    }

    fs::path Installer() const { return dir_ / kInstallerName; }
    std::vector<std::string> InstallerStarts() const { return RecordedStarts(Installer()); }

    std::vector<std::string> ProfileLines() const { return Lines(ReadFile(dir_ / "profile.ini")); }
    // A key of [Update], "<none>" when missing.
    std::string Key(const std::string& key) const {
        for (const std::string& line : ProfileLines()) {
            if (line.rfind(key + "=", 0) == 0) {
                return line.substr(key.size() + 1);
            }
        }
        return "<none>";
    }
    bool WaitKey(const std::string& key, const std::string& value) {
        return WaitFor([&] { return Key(key) == value; }, 60s);
    }
    // Each run of the Updater asks for the version file once.
    bool WaitUpdaterRuns(std::size_t runs) {
        return WaitFor([&] { return site_.Gets(kSiteVersionObject) >= runs; }, 60s);
    }

    // First start in the fresh folder: the profile comes from url.ini and
    // the Updater that it starts downloads the installer.
    void FirstStartDownloads() {
        BackgroundProcess& finder = StartFinder();
        ASSERT_TRUE(WindowOpens()) << finder.Errors();
        const std::vector<std::string> lines = ProfileLines();
        ASSERT_GE(lines.size(), 5u) << ReadFile(dir_ / "profile.ini");
        EXPECT_EQ(lines[0], "[Update]");
        EXPECT_EQ(lines[1], "UpdateSiteURL=" + versionUrl_);
        EXPECT_EQ(lines[2], std::string("CurrentVersion=") + kCurrent);
        EXPECT_EQ(lines[3], "PassedVersion=0.0.0.0");
        // Written first as 0.0.0.0; the Updater may have recorded its download already.
        EXPECT_EQ(lines[4].rfind("DownloadedVersion=", 0), 0u) << lines[4];

        ASSERT_TRUE(WaitKey("DownloadedVersion", kLatest)) << site_.Log();
        EXPECT_EQ(site_.Gets(kSiteVersionObject), 1u);
        EXPECT_EQ(site_.Gets(kSiteInstallerObject), 1u);
        EXPECT_TRUE(ReadFile(Installer()) == ReadFile(recorder_)) << "installer bytes differ";
        EXPECT_TRUE(InstallerStarts().empty());
        ASSERT_TRUE(CloseFinder(finder));
        EXPECT_EQ(witness_->Deletions(), 0);
    }

    testsupport::TestLan lan_;
    testsupport::TempDir temp_{"sle2e"};
    fs::path dir_;
    fs::path recorder_;
    fs::path nextFinder_;
    std::string versionUrl_;
    testsupport::UpdateSite site_;
    std::unique_ptr<DeletionWitness> witness_;
    // A list: references to its elements stay valid as it grows.
    testsupport::Finders finders_;
};

}  // namespace

TEST_F(UpdateChain, DownloadOfferInstallAndRemoveTheUsedInstaller) {
    ASSERT_NO_FATAL_FAILURE(FirstStartDownloads());

    // The next start offers the download; No keeps it and opens the window.
    BackgroundProcess& refusing = StartFinder();
    EXPECT_NE(OfferText().find(kOfferText), std::string::npos) << refusing.Errors();
    ASSERT_TRUE(Answer("no"));
    ASSERT_TRUE(WindowOpens()) << refusing.Errors();
    // The Updater runs again and finds the version downloaded already.
    ASSERT_TRUE(WaitUpdaterRuns(2)) << site_.Log();
    ASSERT_TRUE(CloseFinder(refusing));
    EXPECT_TRUE(fs::exists(Installer()));
    EXPECT_TRUE(InstallerStarts().empty());
    EXPECT_EQ(Key("DownloadedVersion"), kLatest);
    EXPECT_EQ(site_.Gets(kSiteInstallerObject), 1u) << site_.Log();

    // The offer comes again; Yes starts the installer, and the finder ends
    // without the Updater and without a window.
    BackgroundProcess& accepting = StartFinder();
    EXPECT_NE(OfferText().find(kOfferText), std::string::npos) << accepting.Errors();
    ASSERT_TRUE(Answer("yes"));
    ASSERT_TRUE(accepting.Wait(20s).has_value()) << "the finder did not end after Yes";
    // Started, never waited for: it may record after the finder has ended.
    ASSERT_TRUE(WaitFor([&] { return !InstallerStarts().empty(); }, 15s));
    EXPECT_EQ(InstallerStarts(),
              std::vector<std::string>{testsupport::NoArgumentsStart(Installer())});
    EXPECT_EQ(Uictl({"count", "@finder"}).out, "0\n");
    EXPECT_EQ(site_.Gets(kSiteVersionObject), 2u) << site_.Log();

    // The installer puts the finder of the new version in place. At its
    // start it records its version and deletes the used installer, offers
    // nothing, and the Updater it starts finds nothing newer.
    fs::copy_file(nextFinder_, dir_ / kFinderExe, fs::copy_options::overwrite_existing);
    BackgroundProcess& updated = StartFinder();
    ASSERT_TRUE(WindowOpens()) << updated.Errors();
    EXPECT_EQ(witness_->Deletions(), 1);
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_EQ(Key("CurrentVersion"), kLatest);
    EXPECT_EQ(Key("DownloadedVersion"), kLatest);
    EXPECT_EQ(Key("PassedVersion"), "0.0.0.0");
    EXPECT_EQ(Key("UpdateSiteURL"), versionUrl_);
    ASSERT_TRUE(WaitUpdaterRuns(3)) << site_.Log();
    ASSERT_TRUE(CloseFinder(updated));
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_EQ(InstallerStarts().size(), 1u);

    // Three starts of the Updater in all, one download.
    EXPECT_EQ(site_.Gets(kSiteVersionObject), 3u) << site_.Log();
    EXPECT_EQ(site_.Gets(kSiteInstallerObject), 1u) << site_.Log();
}

// A signed release through the chain: the Updater built with the test key
// downloads it, checks its hash and records it, and the next start offers it.
TEST_F(UpdateChain, SignedReleaseIsDownloadedAndOffered) {
    const auto signedUpdater = testsupport::TestKeyUpdater(true);
    ASSERT_TRUE(fs::exists(signedUpdater.program)) << signedUpdater.program;
    fs::copy_file(signedUpdater.program, dir_ / "Updater.exe",
                  fs::copy_options::overwrite_existing);
    const std::string version = testsupport::Signed(
        testsupport::VersionLines(kLatest, site_.Url(kSiteInstallerObject), ReadFile(recorder_)),
        signedUpdater.privateKey);
    ASSERT_FALSE(version.empty());
    testsupport::WriteFile(temp_.Path() / "signed.ini", version);
    ASSERT_TRUE(site_.Start(lan_, temp_.Path() / "site.log",
                            {"--version-file", (temp_.Path() / "signed.ini").string(),
                             "--installer-file", recorder_.string()}));
    ASSERT_NO_FATAL_FAILURE(FirstStartDownloads());

    BackgroundProcess& next = StartFinder();
    EXPECT_NE(OfferText().find(kOfferText), std::string::npos) << next.Errors();
    ASSERT_TRUE(Answer("no"));
    ASSERT_TRUE(WindowOpens()) << next.Errors();
    ASSERT_TRUE(WaitUpdaterRuns(2)) << site_.Log();
    ASSERT_TRUE(CloseFinder(next));
    EXPECT_EQ(site_.Gets(kSiteInstallerObject), 1u) << site_.Log();
    EXPECT_FALSE(fs::exists(dir_ / "Updater.download"));
}

TEST_F(UpdateChain, QuenlowResetLetsTheNextStartDeleteTheLeftOverInstaller) {
    ASSERT_NO_FATAL_FAILURE(FirstStartDownloads());

    // Run before removal, Quenlow resets the downloaded version and nothing else.
    testsupport::ProcessOptions options;
    options.timeout = 30s;
    const testsupport::ProcessResult reset =
        testsupport::RunProcess(testsupport::UnderWine({(dir_ / "Quenlow.exe").string()}), options);
    ASSERT_FALSE(reset.timedOut);
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(Key("DownloadedVersion"), "0.0.0.0");
    EXPECT_EQ(Key("CurrentVersion"), kCurrent);
    EXPECT_EQ(Key("PassedVersion"), "0.0.0.0");
    EXPECT_EQ(Key("UpdateSiteURL"), versionUrl_);
    EXPECT_TRUE(fs::exists(Installer()));

    // The next start deletes the left-over installer instead of offering it.
    BackgroundProcess& finder = StartFinder();
    ASSERT_TRUE(WindowOpens()) << finder.Errors();
    EXPECT_EQ(witness_->Deletions(), 1);
    EXPECT_TRUE(InstallerStarts().empty());

    // With nothing recorded, the Updater that it starts downloads the
    // announced version anew.
    ASSERT_TRUE(WaitKey("DownloadedVersion", kLatest)) << site_.Log();
    EXPECT_EQ(site_.Gets(kSiteVersionObject), 2u) << site_.Log();
    EXPECT_EQ(site_.Gets(kSiteInstallerObject), 2u) << site_.Log();
    EXPECT_TRUE(ReadFile(Installer()) == ReadFile(recorder_)) << "installer bytes differ";
    ASSERT_TRUE(CloseFinder(finder));
}
