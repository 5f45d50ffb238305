// The desktop finder as a program, in the test LAN on the run's display:
// devices with Shift_JIS names appear with their Japanese names, and a
// screenshot of the window is kept.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "tests/lan/discovery_lan.h"

using namespace lantest;
using namespace std::chrono_literals;
using testsupport::BackgroundProcess;
using testsupport::ProcessResult;
using testsupport::RunProcess;
namespace fs = std::filesystem;

namespace {

// The lines of one event ("row", "end", "window") of the program's trace, split at tabs.
std::vector<std::vector<std::string>> Events(const std::string& trace, const std::string& kind) {
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        if (!fields.empty() && fields[0] == kind) {
            out.push_back(fields);
        }
    }
    return out;
}

}  // namespace

TEST(FinderQtLan, ListsJapaneseNamesOnTheDisplay) {
    SL_REQUIRE_TEST_LAN();
    const auto display = testsupport::Env("DISPLAY");
    if (!display) {
        GTEST_SKIP() << "needs the run's display";
    }
    const testsupport::TestLan lan = testsupport::GetTestLan();
    testsupport::TempDir dir("sl_qt_lan");
    SimDevice one(lan.dev1Ns,
                  {"--name", "ストレージ一号", "--encoding", "sjis", "--max-delay-ms", "500"},
                  dir.Path(), "one");
    SimDevice two(lan.dev2Ns,
                  {"--name", "経理部NAS", "--encoding", "sjis", "--max-delay-ms", "500"},
                  dir.Path(), "two");
    ASSERT_TRUE(one.Ready() && two.Ready());

    testsupport::ProcessOptions options;
    options.cwd = dir.Path().string();
    options.extraEnv = {"QT_QPA_PLATFORM=xcb", "LC_ALL=ja_JP.UTF-8"};
    BackgroundProcess finder(
        {(testsupport::DistDir("linux") / "solberio-finder").string(), "--trace"}, options);
    ASSERT_TRUE(testsupport::WaitFor([&] { return !Events(finder.Output(), "end").empty(); }, 30s))
        << finder.Output() << finder.Errors();

    std::vector<std::string> rows;
    for (const auto& row : Events(finder.Output(), "row")) {
        ASSERT_EQ(row.size(), 5u);
        rows.push_back(row[4] + "\t" + row[3]);
    }
    std::sort(rows.begin(), rows.end());
    const std::vector<std::string> expected = {"ストレージ一号\t" + lan.dev1Addr,
                                               "経理部NAS\t" + lan.dev2Addr};
    EXPECT_EQ(rows, expected);
    EXPECT_FALSE(fs::exists(dir.Path() / "slwintool.log"));

    const auto windows = Events(finder.Output(), "window");
    ASSERT_EQ(windows.size(), 1u);
    const fs::path shot =
        fs::path(testsupport::Env("SL_SCREENSHOT_DIR").value_or("out/screenshots")) /
        "qt_finder.png";
    fs::create_directories(shot.parent_path());
    const ProcessResult taken = RunProcess({"import", "-window", windows[0][1], shot.string()});
    EXPECT_EQ(taken.exitCode, 0) << taken.err;
    std::cout << "screenshot: " << shot.string() << std::endl;

    // A second start raises the first window and ends at once.
    const ProcessResult second =
        RunProcess({(testsupport::DistDir("linux") / "solberio-finder").string()}, options);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(finder.Running());
    finder.Stop();
}

// The device behind the router, found through the targets kept with
// QSettings under the user's configuration folder.
TEST(FinderQtLan, FindsTheRoutedDeviceThroughKeptTargets) {
    SL_REQUIRE_TEST_LAN();
    if (!testsupport::Env("DISPLAY")) {
        GTEST_SKIP() << "needs the run's display";
    }
    testsupport::TempDir dir("sl_qt_routed");
    const std::string address = testsupport::Env("SL_DEV3_ADDR").value_or("");
    const std::string name = testsupport::Env("SL_DEV3_NAME").value_or("");
    SimDevice routed(testsupport::Env("SL_NS_DEV3").value_or(""),
                     {"--name", "経路の先", "--encoding", "sjis", "--max-delay-ms", "300"},
                     dir.Path(), "routed");
    ASSERT_TRUE(routed.Ready());
    fs::create_directories(dir.Path() / "config" / "solberio");
    testsupport::WriteFile(dir.Path() / "config" / "solberio" / "solberio-finder.ini",
                           "[Search]\nTargets=" + name + "\n");

    testsupport::ProcessOptions options;
    options.cwd = dir.Path().string();
    options.extraEnv = {"QT_QPA_PLATFORM=xcb", "LC_ALL=ja_JP.UTF-8",
                        "XDG_CONFIG_HOME=" + (dir.Path() / "config").string()};
    BackgroundProcess finder(
        {(testsupport::DistDir("linux") / "solberio-finder").string(), "--trace"}, options);
    ASSERT_TRUE(testsupport::WaitFor([&] { return !Events(finder.Output(), "end").empty(); }, 30s))
        << finder.Output() << finder.Errors();
    const auto rows = Events(finder.Output(), "row");
    ASSERT_EQ(rows.size(), 1u) << finder.Output();
    EXPECT_EQ(rows[0][3], address);
    EXPECT_EQ(rows[0][4], "経路の先");
    finder.Stop();
}
