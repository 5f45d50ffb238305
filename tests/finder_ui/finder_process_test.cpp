// The finder program as a real process under Wine in the test LAN: its
// start-up roads, the single-instance rule, the device list of a real search
// against simulated devices, the device page handed to the shell, and the
// close during a search. Windows helpers drive it: sl_uictl (windows, list,
// buttons, message boxes) and sl_recorder (stand-in for the Updater, the
// installer and the browser; it records its command line). Also: the search
// that ends at its bound, the window that goes at once on a close (also
// while a search target's name is looked up), the window's size at 144 DPI,
// and the devices' names on systems of other code pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/lan/discovery_lan.h"
#include "tests/support/process.h"
#include "tests/support/testlan.h"
#include "tests/support/wine_programs.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::BackgroundProcess;
using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using testsupport::ReadFile;
using testsupport::RunProcess;
using testsupport::WaitFor;

using testsupport::kFinderExe;
using testsupport::kOfferText;
using testsupport::Lines;
using testsupport::WindowsPath;
constexpr int kRefresh = 1001;
constexpr int kSettings = 1002;
using Clock = std::chrono::steady_clock;

long long Ms(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

// The finder's window as sl_uictl measures it, in device pixels.
struct Geometry {
    bool visible = false;
    int width = 0;
    int height = 0;
    int clientWidth = 0;
    int clientHeight = 0;
    int column0 = 0;
    int column1 = 0;
};

std::optional<Geometry> ParseGeometry(const std::string& line) {
    Geometry g;
    int visible = 0;
    if (std::sscanf(line.c_str(), "visible=%d window=%dx%d client=%dx%d columns=%d,%d", &visible,
                    &g.width, &g.height, &g.clientWidth, &g.clientHeight, &g.column0,
                    &g.column1) != 7) {
        return std::nullopt;
    }
    g.visible = visible != 0;
    return g;
}

// The prefix's display DPI, which each Wine program reads as it starts;
// without the value (as in a fresh prefix) it is 96.
bool SetLogPixels(std::optional<long> dpi) {
    std::vector<std::string> reg{
        "reg", dpi ? "add" : "delete", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/f"};
    if (dpi) {
        reg.insert(reg.end(), {"/t", "REG_DWORD", "/d", std::to_string(*dpi)});
    }
    return RunProcess(testsupport::UnderWine(reg)).exitCode == 0;
}

class FinderProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
        lan_ = testsupport::GetTestLan();
        // A folder whose path has spaces, as under Program Files.
        dir_ = temp_.Path() / "Solberio Tool";
        fs::create_directories(dir_);
        const fs::path finder = testsupport::DistDir("windows") / kFinderExe;
        ASSERT_TRUE(fs::exists(finder)) << finder;
        fs::copy_file(finder, dir_ / kFinderExe);
        recorder_ = testsupport::WindowsToolPath("sl_recorder.exe");
        ASSERT_TRUE(fs::exists(recorder_)) << recorder_;
        ASSERT_TRUE(fs::exists(testsupport::WindowsToolPath("sl_uictl.exe")));
        fs::copy_file(recorder_, dir_ / "Updater.exe");
    }

    void TearDown() override {
        for (BackgroundProcess& finder : finders_) {
            if (finder.Running()) {
                Uictl({"close", "@finder"});
                finder.Wait(15s);
            }
        }
    }

    ProcessResult Uictl(std::vector<std::string> args,
                        std::chrono::milliseconds timeout = 30000ms) {
        return testsupport::Uictl(std::move(args), timeout);
    }
    bool WaitWindow(const std::string& title = "@finder") {
        return Uictl({"wait", title, "20000"}).exitCode == 0;
    }
    std::vector<std::string> Rows() { return Lines(Uictl({"rows", "@finder"}).out); }
    std::string Button(int id) {
        const auto lines = Lines(Uictl({"button", "@finder", std::to_string(id)}).out);
        return lines.empty() ? "" : lines[0];
    }
    std::optional<Geometry> WindowGeometry() {
        const auto lines = Lines(Uictl({"geometry", "@finder"}).out);
        return lines.empty() ? std::nullopt : ParseGeometry(lines[0]);
    }
    // The whole display, when the run keeps screenshots.
    void Screenshot(const std::string& name) {
        if (const auto shots = testsupport::Env("SL_SCREENSHOT_DIR")) {
            const fs::path shot = fs::path(*shots) / name;
            fs::create_directories(shot.parent_path());
            const ProcessResult taken = RunProcess({"import", "-window", "root", shot.string()});
            EXPECT_EQ(taken.exitCode, 0) << taken.err;
            std::cout << "screenshot: " << shot.string() << std::endl;
        }
    }

    // wrap: how the finder's command line is run (as it stands by default).
    BackgroundProcess& StartFinder(
        std::vector<std::string> env = {},
        const std::function<std::vector<std::string>(std::vector<std::string>)>& wrap = {}) {
        ProcessOptions options;
        options.cwd = dir_.string();
        options.extraEnv = std::move(env);
        std::vector<std::string> argv = testsupport::UnderWine({(dir_ / kFinderExe).string()});
        finders_.emplace_back(wrap ? wrap(std::move(argv)) : argv, options);
        return finders_.back();
    }

    std::vector<std::string> Calls(const fs::path& program) {
        return testsupport::RecordedStarts(program);
    }
    std::string NoArgumentsCall(const fs::path& program) {
        return testsupport::NoArgumentsStart(program);
    }

    void WriteProfile(const std::string& downloaded) {
        testsupport::WriteFile(dir_ / "profile.ini",
                               "[Update]\r\nUpdateSiteURL=http://" + lan_.siteAddr +
                                   "/latestversion.ini\r\nCurrentVersion=1.0.0.0\r\n"
                                   "PassedVersion=0.0.0.0\r\nDownloadedVersion=" +
                                   downloaded + "\r\n");
    }

    // The browser: sl_recorder registered for http URLs in the run's prefix.
    fs::path RegisterBrowser() {
        const fs::path browser = temp_.Path() / "browser" / "sl_browser.exe";
        fs::create_directories(browser.parent_path());
        fs::copy_file(recorder_, browser);
        const std::string command = "\"" + WindowsPath(browser) + "\" \"%1\"";
        for (const char* key : {"HKCU\\Software\\Classes\\http\\shell\\open\\command",
                                "HKLM\\Software\\Classes\\http\\shell\\open\\command"}) {
            const ProcessResult added = RunProcess(testsupport::UnderWine(
                {"reg", "add", key, "/ve", "/t", "REG_SZ", "/d", command, "/f"}));
            EXPECT_EQ(added.exitCode, 0) << added.err;
        }
        return browser;
    }

    testsupport::TestLan lan_;
    testsupport::TempDir temp_{"slfinder"};
    fs::path dir_;
    fs::path recorder_;
    // A list: references to its elements stay valid as it grows.
    std::list<BackgroundProcess> finders_;
};

}  // namespace

TEST_F(FinderProcess, ListsSimulatedDevicesOpensThePageSearchesAgainAndCloses) {
    lantest::SimDevice dev1(lan_.dev1Ns, {"--name", "ストレージ一号", "--encoding", "sjis"},
                            temp_.Path(), "dev1");
    lantest::SimDevice dev2(lan_.dev2Ns, {"--name", "NAS-Two"}, temp_.Path(), "dev2");
    ASSERT_TRUE(dev1.Ready() && dev2.Ready());
    const fs::path browser = RegisterBrowser();

    BackgroundProcess& finder = StartFinder();
    ASSERT_TRUE(WaitWindow()) << finder.Errors();
    // The Updater was started from the folder with spaces, with no argument.
    ASSERT_TRUE(WaitFor([&] { return !Calls(dir_ / "Updater.exe").empty(); }, 10s));
    EXPECT_EQ(Calls(dir_ / "Updater.exe"),
              std::vector<std::string>{NoArgumentsCall(dir_ / "Updater.exe")});

    // Both devices, each once, with name and address; the search then ends.
    ASSERT_TRUE(WaitFor([&] { return Rows().size() >= 2 && Button(kRefresh) == "更新\t1"; }, 30s))
        << Uictl({"rows", "@finder"}).out;
    const std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    const std::string one = "ストレージ一号\t" + lan_.dev1Addr;
    const std::string two = "NAS-Two\t" + lan_.dev2Addr;
    EXPECT_TRUE((rows[0] == one && rows[1] == two) || (rows[0] == two && rows[1] == one))
        << rows[0] << " | " << rows[1];
    EXPECT_EQ(Button(kSettings), "設定\t0");

    Screenshot("finder_devices.png");

    // Select the second row and press 設定: its page goes to the desktop's
    // shell (Wine's explorer is one), which starts the browser.
    ASSERT_EQ(Uictl({"select", "@finder", "1"}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Button(kSettings) == "設定\t1"; }, 5s));
    ASSERT_EQ(Uictl({"click", "@finder", std::to_string(kSettings)}).exitCode, 0);
    const std::string address = rows[1].substr(rows[1].find('\t') + 1);
    ASSERT_TRUE(WaitFor([&] { return !Calls(browser).empty(); }, 15s));
    EXPECT_NE(Calls(browser)[0].find("\targ=http://" + address + "/"), std::string::npos)
        << Calls(browser)[0];

    // 更新 searches again: the list is emptied and filled again.
    ASSERT_EQ(Uictl({"click", "@finder", std::to_string(kRefresh)}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Rows().size() == 2 && Button(kRefresh) == "更新\t1"; }, 30s));

    // Close during a search: the program ends once its worker has.
    ASSERT_EQ(Uictl({"click", "@finder", std::to_string(kRefresh)}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "検索中...\t0"; }, 10s));
    ASSERT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
    const auto code = finder.Wait(20s);
    ASSERT_TRUE(code.has_value()) << "the finder did not end after its close";
    EXPECT_EQ(Uictl({"count", "@finder"}).out, "0\n");
    // The trace of the searches went to the log in the working folder.
    EXPECT_NE(ReadFile(dir_ / "slwintool.log").find("send start"), std::string::npos);
}

TEST_F(FinderProcess, SecondStartRaisesTheOpenWindowStartsTheUpdaterAgainAndEnds) {
    BackgroundProcess& first = StartFinder();
    ASSERT_TRUE(WaitWindow()) << first.Errors();
    // Minimised, it comes back: SW_SHOW alone would leave it on the taskbar.
    ASSERT_EQ(Uictl({"minimize", "@finder"}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Uictl({"iconic", "@finder"}).out == "1\n"; }, 5s));
    BackgroundProcess& second = StartFinder();
    const auto code = second.Wait(20s);
    ASSERT_TRUE(code.has_value()) << "the second finder did not end";
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(Uictl({"count", "@finder"}).out, "1\n");
    EXPECT_EQ(Uictl({"iconic", "@finder"}).out, "0\n");
    const std::vector<std::string> calls = Calls(dir_ / "Updater.exe");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], NoArgumentsCall(dir_ / "Updater.exe"));
}

TEST_F(FinderProcess, AWindowTitledWithoutTheIdeographicSpaceDoesNotCount) {
    BackgroundProcess holder(testsupport::UnderWine(
        {testsupport::WindowsToolPath("sl_uictl.exe").string(), "hold", "@finder-bare", "20000"}));
    ASSERT_TRUE(WaitFor([&] { return holder.Output().find("holding") != std::string::npos; }, 15s));
    BackgroundProcess& finder = StartFinder();
    ASSERT_TRUE(WaitWindow()) << finder.Errors();
    EXPECT_TRUE(finder.Running());
    holder.Stop();
}

TEST_F(FinderProcess, InstallerOfferAcceptedStartsOnlyTheInstaller) {
    WriteProfile("1.0.0.1");
    fs::copy_file(recorder_, dir_ / "slwintool_set_up.exe");
    BackgroundProcess& finder = StartFinder();
    const ProcessResult text = Uictl({"msgtext", "@app", "20000"});
    ASSERT_EQ(text.exitCode, 0) << finder.Errors();
    EXPECT_NE(text.out.find(kOfferText), std::string::npos) << text.out;
    ASSERT_EQ(Uictl({"answer", "@app", "yes"}).exitCode, 0);
    ASSERT_TRUE(finder.Wait(20s).has_value());
    // Started, never waited for: it may record after the finder has ended.
    ASSERT_TRUE(WaitFor([&] { return !Calls(dir_ / "slwintool_set_up.exe").empty(); }, 10s));
    EXPECT_EQ(Calls(dir_ / "slwintool_set_up.exe"),
              std::vector<std::string>{NoArgumentsCall(dir_ / "slwintool_set_up.exe")});
    EXPECT_TRUE(Calls(dir_ / "Updater.exe").empty());
    EXPECT_EQ(Uictl({"count", "@finder"}).out, "0\n");
}

TEST_F(FinderProcess, InstallerOfferRefusedStartsTheUpdaterAndOpensTheDialog) {
    WriteProfile("1.0.0.1");
    fs::copy_file(recorder_, dir_ / "slwintool_set_up.exe");
    BackgroundProcess& finder = StartFinder();
    ASSERT_EQ(Uictl({"msgtext", "@app", "20000"}).exitCode, 0) << finder.Errors();
    ASSERT_EQ(Uictl({"answer", "@app", "no"}).exitCode, 0);
    ASSERT_TRUE(WaitWindow()) << finder.Errors();
    EXPECT_EQ(Calls(dir_ / "Updater.exe"),
              std::vector<std::string>{NoArgumentsCall(dir_ / "Updater.exe")});
    EXPECT_TRUE(Calls(dir_ / "slwintool_set_up.exe").empty());
    EXPECT_TRUE(fs::exists(dir_ / "slwintool_set_up.exe"));
}

// A close during a search (no device answers here, so the worker is in
// the middle of its 3-s receive cycle): the window leaves the screen at once,
// and the program ends soon after, since the worker's wait ends at the stop
// request.
TEST_F(FinderProcess, CloseDuringASearchHidesTheWindowAtOnce) {
    BackgroundProcess& finder = StartFinder();
    ASSERT_TRUE(WaitWindow()) << finder.Errors();
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "検索中...\t0"; }, 10s));
    const auto shown = WindowGeometry();
    ASSERT_TRUE(shown && shown->visible);

    ASSERT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
    // From the moment the close request has been posted.
    const auto closed = Clock::now();
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto now = WindowGeometry();
            return !now || !now->visible;
        },
        5s));
    const auto goneAfter = Clock::now() - closed;
    ASSERT_TRUE(finder.Wait(20s).has_value()) << "the finder did not end after its close";
    const auto endedAfter = Clock::now() - closed;
    std::cout << "off the screen after " << Ms(goneAfter) << " ms, ended after " << Ms(endedAfter)
              << " ms" << std::endl;
    EXPECT_LT(goneAfter, 1s);
}

// A device that never stops answering (every second, so no receive cycle is
// ever silent): each search ends at its bound, shortened here to 5 s, with
// the device listed once, and 更新 comes back.
TEST_F(FinderProcess, NeverEndingAnswersEndTheSearchAtItsBound) {
    lantest::SimDevice chatty(lan_.dev1Ns,
                              {"--name", "おしゃべり", "--encoding", "sjis", "--max-delay-ms", "0",
                               "--repeat-ms", "1000"},
                              temp_.Path(), "chatty");
    ASSERT_TRUE(chatty.Ready());
    BackgroundProcess& finder = StartFinder({"SL_SEARCH_LIMIT_MS=5000"});
    ASSERT_TRUE(WaitWindow()) << finder.Errors();
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 20s));
    EXPECT_EQ(Rows(), std::vector<std::string>{"おしゃべり\t" + lan_.dev1Addr});

    // Timed from the click: the search starts at once and runs to its bound.
    const auto clicked = Clock::now();
    ASSERT_EQ(Uictl({"click", "@finder", std::to_string(kRefresh)}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 20s, 50ms))
        << "the search did not end";
    const auto took = Clock::now() - clicked;
    std::cout << "second search ended after " << Ms(took) << " ms" << std::endl;
    EXPECT_GE(took, 4500ms);
    EXPECT_LT(took, 9s);
    EXPECT_EQ(Rows(), std::vector<std::string>{"おしゃべり\t" + lan_.dev1Addr});
    EXPECT_NE(ReadFile(dir_ / "slwintool.log").find("res end"), std::string::npos);
}

// At 144 DPI the window and its list's columns are 1.5 times their size at
// 96 DPI. The window's size follows its font in dialog units, so it may
// differ from 1.5 by the rounding of the font's average character width.
TEST_F(FinderProcess, At144DpiTheWindowAndItsColumnsAreOneAndAHalfTimesAsLarge) {
    lantest::SimDevice dev1(lan_.dev1Ns, {"--name", "ストレージ一号", "--encoding", "sjis"},
                            temp_.Path(), "dev1");
    ASSERT_TRUE(dev1.Ready());
    auto measure = [&](long dpi) -> std::optional<Geometry> {
        EXPECT_TRUE(SetLogPixels(dpi));
        BackgroundProcess& finder = StartFinder();
        EXPECT_TRUE(WaitWindow()) << finder.Errors();
        EXPECT_TRUE(
            WaitFor([&] { return Rows().size() == 1 && Button(kRefresh) == "更新\t1"; }, 30s));
        const auto geometry = WindowGeometry();
        Screenshot("finder_" + std::to_string(dpi) + "dpi.png");
        Uictl({"close", "@finder"});
        EXPECT_TRUE(finder.Wait(20s).has_value());
        return geometry;
    };
    const auto at96 = measure(96);
    const auto at144 = measure(144);
    EXPECT_TRUE(SetLogPixels(std::nullopt));
    ASSERT_TRUE(at96 && at144);
    EXPECT_EQ(at96->column0, 200);
    EXPECT_EQ(at96->column1, 200);
    EXPECT_EQ(at144->column0, 300);
    EXPECT_EQ(at144->column1, 300);
    for (const auto& [large, normal] :
         {std::pair{at144->width, at96->width}, std::pair{at144->height, at96->height},
          std::pair{at144->clientWidth, at96->clientWidth},
          std::pair{at144->clientHeight, at96->clientHeight}}) {
        const double ratio = static_cast<double>(large) / normal;
        EXPECT_GE(ratio, 1.4) << large << " / " << normal;
        EXPECT_LE(ratio, 1.6) << large << " / " << normal;
    }
}

// The empty list's texts, the targets dialog of the real program (refusals
// save nothing), and a device behind the router found through search.ini,
// again after a restart.
TEST_F(FinderProcess, RemembersTargetsAndFindsTheRoutedDevice) {
    constexpr int kList = 1000;
    const std::string targetsMenu = "32774";
    const std::string dialog = "検索先の指定";
    const std::string notFound =
        "機器が見つかりませんでした。\n"
        "別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。\n";
    const std::string address = testsupport::Env("SL_DEV3_ADDR").value_or("");
    const std::string name = testsupport::Env("SL_DEV3_NAME").value_or("");
    ASSERT_FALSE(address.empty() || name.empty());

    BackgroundProcess& first = StartFinder({"SL_SEARCH_LIMIT_MS=4000"});
    ASSERT_TRUE(WaitWindow()) << first.Errors();
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 30s));
    // The end's handler sets the text just after it enables the button.
    WaitFor([&] { return Uictl({"text", "@finder", std::to_string(kList)}).out == notFound; }, 5s);
    EXPECT_EQ(Uictl({"text", "@finder", std::to_string(kList)}).out, notFound);
    Screenshot("finder_empty_list.png");

    ASSERT_EQ(Uictl({"command", "@finder", targetsMenu}).exitCode, 0);
    ASSERT_TRUE(WaitWindow(dialog));
    const auto add = [&](const std::string& entry) {
        EXPECT_EQ(Uictl({"settext", dialog, "1010", entry}).exitCode, 0);
        EXPECT_EQ(Uictl({"click", dialog, "1011"}).exitCode, 0);
        std::this_thread::sleep_for(300ms);
        return Uictl({"text", dialog, "1014"}).out;
    };
    for (const std::string entry : {"10.0.0.0/16", "127.0.0.1", "nas lan"}) {
        EXPECT_EQ(add(entry), "アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。\n")
            << entry;
    }
    EXPECT_FALSE(fs::exists(dir_ / "search.ini"));
    Screenshot("finder_targets_dialog.png");

    // Added with the device running: the search it starts finds it.
    lantest::SimDevice routed(testsupport::Env("SL_NS_DEV3").value_or(""),
                              {"--name", "経路の先", "--encoding", "sjis"}, temp_.Path(), "dev3");
    ASSERT_TRUE(routed.Ready());
    EXPECT_EQ(add(name), "\n");
    EXPECT_EQ(add("10.77.1.0/24"), "\n");
    EXPECT_EQ(Lines(Uictl({"lbitems", dialog, "1012"}).out),
              (std::vector<std::string>{name, "10.77.1.0/24"}));
    EXPECT_EQ(ReadFile(dir_ / "search.ini"), "[Search]\r\nTargets=" + name + ";10.77.1.0/24\r\n");
    const std::string row = "経路の先\t" + address;
    ASSERT_TRUE(WaitFor([&] { return Rows() == std::vector<std::string>{row}; }, 20s))
        << Uictl({"rows", "@finder"}).out;
    ASSERT_EQ(Uictl({"click", dialog, "2"}).exitCode, 0);
    ASSERT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
    ASSERT_TRUE(first.Wait(20s).has_value());

    // A restart keeps the targets; its first search probes them.
    BackgroundProcess& second = StartFinder({"SL_SEARCH_LIMIT_MS=4000"});
    ASSERT_TRUE(WaitWindow()) << second.Errors();
    ASSERT_TRUE(WaitFor([&] { return Rows() == std::vector<std::string>{row}; }, 20s))
        << Uictl({"rows", "@finder"}).out;
    EXPECT_EQ(Uictl({"text", "@finder", std::to_string(kList)}).out, "\n");
    const std::string log = ReadFile(dir_ / "slwintool.log");
    EXPECT_NE(log.find(lan_.pcAddr2 + "\r\ntarget: " + name +
                       "\r\ntarget: 10.77.1.0/24\r\n"
                       "----- send end-----"),
              std::string::npos)
        << log;
}

// A search target whose DNS server never answers: closing the window while
// the name is looked up ends the finder as soon as closing an idle one does,
// not when the lookup gives up (30 s here).
TEST_F(FinderProcess, CloseWhileANameIsLookedUpEndsAtOnce) {
    const lantest::SilentDns dns(temp_.Path());
    ASSERT_TRUE(dns.Ok());
    const auto closeTime = [&](BackgroundProcess& finder) {
        const auto closed = Clock::now();
        EXPECT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
        EXPECT_TRUE(finder.Wait(20s).has_value());
        return Clock::now() - closed;
    };
    BackgroundProcess& idle = StartFinder({"SL_SEARCH_LIMIT_MS=1000"});
    ASSERT_TRUE(WaitWindow()) << idle.Errors();
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 30s));
    const auto idleClose = closeTime(idle);

    testsupport::WriteFile(dir_ / "search.ini",
                           std::string("[Search]\r\nTargets=") + lantest::kSilentName + "\r\n");
    BackgroundProcess& resolving =
        StartFinder({}, [&](std::vector<std::string> argv) { return dns.Wrap(argv); });
    ASSERT_TRUE(WaitWindow()) << resolving.Errors();
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "検索中...\t0"; }, 10s));
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(Button(kRefresh), "検索中...\t0");
    const auto resolvingClose = closeTime(resolving);
    std::cout << "close: idle " << Ms(idleClose) << " ms, while resolving " << Ms(resolvingClose)
              << " ms" << std::endl;
    // Wine's own end of a program varies by some 0.5 s on a busy machine; the
    // search's stop itself is timed by the discovery suites (under 0.5 s).
    EXPECT_LT(resolvingClose, idleClose + 1500ms);
}

// Devices send their names in code page 932: the finder lists them right and
// logs their answers' bytes as they came, whatever the system's code page
// (Wine's follows the locale: ja_JP 932, en_US 1252, hi_IN 65001).
TEST_F(FinderProcess, NamesReadAsCodePage932OnEveryCodePage) {
    lantest::SimDevice dev1(lan_.dev1Ns, {"--name", "支店NAS", "--encoding", "sjis"}, temp_.Path(),
                            "dev1");
    lantest::SimDevice dev2(lan_.dev2Ns, {"--name", "ストレージ一号", "--encoding", "sjis"},
                            temp_.Path(), "dev2");
    ASSERT_TRUE(dev1.Ready() && dev2.Ready());
    // Locales of the run's own; the finder's Japanese file name needs UTF-8.
    const fs::path locales = temp_.Path() / "locales";
    fs::create_directories(locales);
    for (const char* locale : {"en_US", "hi_IN"}) {
        const ProcessResult made =
            RunProcess({"localedef", "-i", locale, "-f", "UTF-8",
                        (locales / (std::string(locale) + ".UTF-8")).string()});
        ASSERT_EQ(made.exitCode, 0) << locale << ": " << made.err;
    }
    const std::vector<std::string> rows = {"支店NAS\t" + lan_.dev1Addr,
                                           "ストレージ一号\t" + lan_.dev2Addr};
    for (const char* locale : {"ja_JP.UTF-8", "en_US.UTF-8", "hi_IN.UTF-8"}) {
        fs::remove(dir_ / "slwintool.log");
        std::vector<std::string> env{std::string("LC_ALL=") + locale};
        if (std::string(locale) != "ja_JP.UTF-8") {  // the system's, as for every test
            env.push_back("LOCPATH=" + locales.string());
        }
        BackgroundProcess& finder = StartFinder(env);
        ASSERT_TRUE(WaitWindow()) << locale << finder.Errors();
        ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 30s)) << locale;
        std::vector<std::string> listed = Rows();
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> expected = rows;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected) << locale;
        ASSERT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
        EXPECT_TRUE(finder.Wait(20s).has_value()) << locale;
        const std::string log = ReadFile(dir_ / "slwintool.log");
        for (const lantest::SimDevice* sim : {&dev1, &dev2}) {
            const auto answers = lantest::ParseAnswers(sim->Record());
            ASSERT_FALSE(answers.empty()) << locale;
            EXPECT_NE(log.find(answers.back().bytes), std::string::npos) << locale << "\n" << log;
        }
    }
}

// dev1 answers and is remembered with its veth's hardware address; asleep it
// misses the next search; 機器を起動... wakes it, and the search the finder
// starts by itself (20 s later, shortened here) lists it again.
TEST_F(FinderProcess, WakesARememberedSleepingDevice) {
    const std::string wakeMenu = "32775";
    const std::string dialog = "機器の起動";
    const std::string mac = testsupport::Env("SL_DEV1_MAC").value_or("");
    ASSERT_FALSE(mac.empty());
    std::string macIni = mac;
    for (char& c : macIni) {
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string row = "Sleeper\t" + lan_.dev1Addr;
    BackgroundProcess& finder =
        StartFinder({"SL_SEARCH_LIMIT_MS=4000", "SL_WAKE_SEARCH_DELAY_MS=1500"});
    {
        lantest::SimDevice awake(lan_.dev1Ns, {"--name", "Sleeper", "--max-delay-ms", "300"},
                                 temp_.Path(), "awake");
        ASSERT_TRUE(awake.Ready());
        ASSERT_TRUE(WaitWindow()) << finder.Errors();
        ASSERT_TRUE(WaitFor([&] { return Rows() == std::vector<std::string>{row}; }, 30s))
            << Uictl({"rows", "@finder"}).out;
        ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 30s));
    }
    const std::string remembered = ReadFile(dir_ / "devices.ini");
    EXPECT_NE(remembered.find("Address=" + lan_.dev1Addr + "\r\n"), std::string::npos)
        << remembered;
    EXPECT_NE(remembered.find("MAC=" + macIni + "\r\n"), std::string::npos) << remembered;

    lantest::SimDevice sim(lan_.dev1Ns, {"--name", "Sleeper", "--max-delay-ms", "300", "--asleep"},
                           temp_.Path(), "asleep");
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(Uictl({"click", "@finder", std::to_string(kRefresh)}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "検索中...\t0"; }, 10s));
    ASSERT_TRUE(WaitFor([&] { return Button(kRefresh) == "更新\t1"; }, 30s));
    EXPECT_TRUE(Rows().empty());

    ASSERT_EQ(Uictl({"command", "@finder", wakeMenu}).exitCode, 0);
    ASSERT_TRUE(WaitWindow(dialog));
    Screenshot("finder_wake_dialog.png");
    ASSERT_EQ(Uictl({"click", dialog, "1021"}).exitCode, 0);
    ASSERT_TRUE(WaitFor(
        [&] { return sim.Record().find(R"("event":"wake","t_ms")") != std::string::npos; }, 10s))
        << sim.Record();
    EXPECT_NE(sim.Record().find(R"("match":true)"), std::string::npos);
    ASSERT_EQ(Uictl({"click", dialog, "2"}).exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Rows() == std::vector<std::string>{row}; }, 30s))
        << Uictl({"rows", "@finder"}).out;
    ASSERT_EQ(Uictl({"close", "@finder"}).exitCode, 0);
    ASSERT_TRUE(finder.Wait(20s).has_value());
}
