// HttpGetText and HttpGetFile against the simulated update site on loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/harness/site_content.h"
#include "tests/support/process.h"
#include "updater/http.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::BackgroundProcess;
using testsupport::ReadFile;
using testsupport::TempDir;

const std::wstring kVersionPath = L"/installer/solberio/search/latestversion.ini";
const std::wstring kInstallerPath = L"/installer/slwintool_set_up.exe";

std::string Generated(std::uint64_t from, std::uint64_t to) {
    std::string bytes(static_cast<std::size_t>(to - from), '\0');
    sitecontent::Fill(from, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    return bytes;
}

class Site {
  public:
    explicit Site(const TempDir& dir, std::vector<std::string> args = {}) {
        log_ = dir.Path() / "site.log";
        std::vector<std::string> argv{testsupport::ToolPath("update_site").string(),
                                      "--listen",
                                      "127.0.0.1:0",
                                      "--log",
                                      log_.string(),
                                      "--time-limit",
                                      "60"};
        argv.insert(argv.end(), args.begin(), args.end());
        process_ = BackgroundProcess(argv);
        const bool up = testsupport::WaitFor(
            [&] {
                return process_.Output().find('\n') != std::string::npos || !process_.Running();
            },
            10s);
        const std::string out = process_.Output();
        const auto colon = out.rfind(':');
        if (up && colon != std::string::npos) {
            port_ = static_cast<unsigned short>(std::atoi(out.c_str() + colon + 1));
        }
    }
    unsigned short Port() const { return port_; }
    updater::HttpOptions Options(unsigned timeoutMs = 5000) const {
        updater::HttpOptions options;
        options.port = port_;
        options.connectTimeoutMs = options.sendTimeoutMs = options.receiveTimeoutMs = timeoutMs;
        return options;
    }
    std::string Log() const { return ReadFile(log_); }
    void Stop() { process_.Stop(); }

  private:
    fs::path log_;
    BackgroundProcess process_;
    unsigned short port_ = 0;
};

std::wstring Url(const std::wstring& object) { return L"http://127.0.0.1" + object; }

class HttpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The system's proxy settings must not send loopback traffic elsewhere.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
    }
    std::wstring Target() const { return (dir.Path() / "slwintool_set_up.exe").wstring(); }
    TempDir dir{"slhttp"};
};

TEST_F(HttpTest, TextIsTheWholeBody) {
    Site site(dir, {"--latest", "1.0.0.7"});
    ASSERT_NE(site.Port(), 0);
    std::string text;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, site.Options()), 200);
    EXPECT_EQ(text, "LatestVersion=1.0.0.7\nURL=http://127.0.0.1:" + std::to_string(site.Port()) +
                        "/installer/slwintool_set_up.exe\n");
}

TEST_F(HttpTest, TextKeepsCrLfAndBomBytes) {
    Site crlf(dir, {"--version-format", "crlf"});
    std::string text;
    ASSERT_EQ(updater::HttpGetText(Url(kVersionPath), text, crlf.Options()), 200);
    EXPECT_EQ(text.substr(0, 23), "LatestVersion=1.0.0.2\r\n");
    Site bom(dir, {"--version-format", "bom"});
    text.clear();
    ASSERT_EQ(updater::HttpGetText(Url(kVersionPath), text, bom.Options()), 200);
    EXPECT_EQ(text.substr(0, 4), "\xEF\xBB\xBFL");
}

TEST_F(HttpTest, LongTextCrossesChunks) {
    std::string body = "LatestVersion=1.0.0.2\nURL=http://h/a.exe\n";
    while (body.size() < 3 * updater::kTextChunk + 100) {
        body += "# filler line of the version file, never read by the Updater\n";
    }
    testsupport::WriteFile(dir.Path() / "v.ini", body);
    Site site(dir, {"--version-file", (dir.Path() / "v.ini").string()});
    std::string text;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, site.Options()), 200);
    EXPECT_EQ(text, body);
}

TEST_F(HttpTest, OversizedTextIsRefused) {
    testsupport::WriteFile(dir.Path() / "v.ini", std::string(updater::kMaxVersionText + 1, 'x'));
    Site site(dir, {"--version-file", (dir.Path() / "v.ini").string()});
    std::string text;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, site.Options()),
              updater::kHttpInternetError);
}

struct StatusCase {
    const char* fault;
    int expected;
};

class HttpStatusTest : public HttpTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(HttpStatusTest, TextResult) {
    Site site(dir, {"--fault", GetParam().fault, "--fault-target", "version"});
    std::string text;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, site.Options(1000)),
              GetParam().expected);
    if (GetParam().expected != 200) {
        EXPECT_EQ(GetParam().expected < 0 || text.empty(), true);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, HttpStatusTest,
                         ::testing::Values(StatusCase{"none", 200}, StatusCase{"404", 404},
                                           StatusCase{"500", 500}, StatusCase{"redirect", 200},
                                           // A cut version text is not used.
                                           StatusCase{"short", updater::kHttpInternetError},
                                           StatusCase{"long", 200}, StatusCase{"no-length", 200},
                                           StatusCase{"stall", updater::kHttpInternetError}),
                         [](const auto& info) {
                             std::string name = info.param.fault;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(HttpTest, FileIsStoredWholeAndHashedOnTheWay) {
    Site site(dir, {"--size", "300000"});
    plat::Sha256 hash;
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), site.Options(), &hash), 200);
    EXPECT_EQ(ReadFile(Target()), Generated(0, 300000));
    EXPECT_EQ(hash.Finish(), plat::Sha256Of(Generated(0, 300000)));
}

// A body that comes too slowly ends after the low-speed window, although
// every byte arrives well within the receive time-out.
TEST_F(HttpTest, TrickleEndsAfterTheLowSpeedWindow) {
    Site site(dir, {"--fault", "trickle", "--trickle-ms", "100", "--size", "100000"});
    auto options = site.Options(1000);
    options.lowSpeedWindowMs = 1500;
    std::string text;
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), options),
              updater::kHttpInternetError);
    Site version(dir, {"--fault", "trickle", "--trickle-ms", "100", "--fault-target", "version"});
    options.port = version.Options().port;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, options), updater::kHttpInternetError);
}

TEST_F(HttpTest, FileReplacesAnOlderOne) {
    testsupport::WriteFile(Target(), std::string(200000, 'o'));
    Site site(dir, {"--size", "3000"});
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), site.Options()), 200);
    EXPECT_EQ(ReadFile(Target()), Generated(0, 3000));
}

struct FileCase {
    const char* name;
    std::vector<std::string> args;
    int expected;
    bool fileExists;
    std::uint64_t bytes;  // in the file afterwards
};

class HttpFileTest : public HttpTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(HttpFileTest, FileResultAndWhatStays) {
    const auto& c = GetParam();
    Site site(dir, c.args);
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), site.Options(1000)), c.expected);
    ASSERT_EQ(fs::exists(Target()), c.fileExists);
    if (c.fileExists) {
        EXPECT_EQ(ReadFile(Target()), Generated(0, c.bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HttpFileTest,
    ::testing::Values(
        FileCase{"NotFound", {"--fault", "404"}, 404, false, 0},
        FileCase{"ServerError", {"--fault", "500"}, 500, false, 0},
        FileCase{"Redirects",
                 {"--fault", "redirect", "--redirects", "5", "--size", "5000"},
                 200,
                 true,
                 5000},
        FileCase{"ShortBody", {"--fault", "short", "--size", "10000"}, -5, true, 5000},
        // Content-Length rules the body; what comes after it is not part of it.
        FileCase{"LongBody", {"--fault", "long", "--size", "10000"}, 200, true, 10000},
        FileCase{"NoLengthEmpty", {"--fault", "no-length", "--size", "0"}, 200, true, 0},
        // Without Content-Length the first byte is one too many: nothing
        // is stored, however long the body.
        FileCase{"NoLengthBody", {"--fault", "no-length", "--size", "4000"}, -5, true, 0},
        FileCase{"EndlessBody", {"--fault", "endless"}, -5, true, 0},
        FileCase{"EmptyBody", {"--size", "0"}, 200, true, 0},
        FileCase{"OneChunk", {"--size", "65536"}, 200, true, 65536},
        FileCase{"ChunkPlusOne", {"--size", "65537"}, 200, true, 65537},
        // A stall ends after the receive time-out; the bytes so far stay.
        FileCase{"Stall",
                 {"--fault", "stall", "--size", "300000", "--stall-after", "100000"},
                 -2,
                 true,
                 100000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpTest, RequestIsPlainGetAsUpdater) {
    Site site(dir, {"--size", "10"});
    ASSERT_EQ(
        updater::HttpGetFile(Url(L"/installer/slwintool_set_up.exe?x=1"), Target(), site.Options()),
        200);
    const std::string log = site.Log();
    EXPECT_NE(log.find("GET /installer/slwintool_set_up.exe?x=1 HTTP/1.1\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("User-Agent: Updater\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Host: 127.0.0.1"), std::string::npos) << log;
    EXPECT_EQ(log.find("Accept:"), std::string::npos) << log;
}

TEST_F(HttpTest, RedirectsAreFollowedRequestByRequest) {
    Site site(dir, {"--fault", "redirect", "--redirects", "4", "--fault-target", "version"});
    std::string text;
    ASSERT_EQ(updater::HttpGetText(Url(kVersionPath), text, site.Options()), 200);
    const std::string log = site.Log();
    for (int step = 4; step >= 0; --step) {
        EXPECT_NE(log.find("GET /redirect/" + std::to_string(step) + "/installer/"),
                  std::string::npos)
            << log;
    }
}

TEST_F(HttpTest, LocalFileThatCannotBeCreatedGivesMinusFour) {
    Site site(dir, {"--size", "10"});
    const std::wstring missing = (dir.Path() / "no-such-folder" / "a.exe").wstring();
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), missing, site.Options()),
              updater::kHttpFileNotCreated);
}

TEST_F(HttpTest, FileHeldByAnotherWriterIsNotTouched) {
    testsupport::WriteFile(Target(), "held");
    const int fd = ::open(fs::path(Target()).c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    Site site(dir, {"--size", "10"});
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), site.Options()),
              updater::kHttpFileNotCreated);
    ::close(fd);
    EXPECT_EQ(ReadFile(Target()), "held");
}

TEST_F(HttpTest, HostWithPortIsTakenAsAWholeAndFails) {
    Site site(dir);
    std::string text;
    EXPECT_EQ(
        updater::HttpGetText(L"http://127.0.0.1:" + std::to_wstring(site.Port()) + kVersionPath,
                             text, site.Options()),
        updater::kHttpInternetError);
    EXPECT_EQ(site.Log(), "");
}

TEST_F(HttpTest, NoHostFails) {
    std::string text;
    EXPECT_EQ(updater::HttpGetText(L"http://nohost", text, {}), updater::kHttpInternetError);
    EXPECT_EQ(updater::HttpGetText(L"", text, {}), updater::kHttpInternetError);
}

TEST_F(HttpTest, RefusedConnectionFails) {
    Site site(dir);
    const auto options = site.Options();
    site.Stop();
    std::string text;
    EXPECT_EQ(updater::HttpGetText(Url(kVersionPath), text, options), updater::kHttpInternetError);
    EXPECT_EQ(updater::HttpGetFile(Url(kInstallerPath), Target(), options),
              updater::kHttpInternetError);
    EXPECT_FALSE(fs::exists(Target()));
}

}  // namespace
