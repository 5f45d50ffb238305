// slfind, the command-line finder, natively in the test LAN against
// simulated devices: its two output forms, names in both encodings, exit
// codes, Ctrl+C and the search's bound. Every test makes its own hosts.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "tests/lan/discovery_lan.h"
#include "tests/support/wine_programs.h"

using namespace lantest;
using namespace testsupport;

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr char kJapanese[] = "ソルベリオ機";
constexpr char kReplacement[] = "\xEF\xBF\xBD";

ProcessResult Slfind(const std::string& ns, std::vector<std::string> args,
                     const std::filesystem::path& cwd, std::vector<std::string> env = {}) {
    std::vector<std::string> argv{SL_SLFIND_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.cwd = cwd.string();
    options.extraEnv = std::move(env);
    options.timeout = std::chrono::seconds(60);
    return RunProcess(ns.empty() ? argv : InNamespace(ns, argv), options);
}

// The lines without the "mac" key, which the wake tests check: these hosts'
// hardware addresses are made for each test.
std::vector<std::string> LinesWithoutMac(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    for (std::string& line : lines) {
        const std::size_t at = line.find(",\"mac\":\"");
        if (at != std::string::npos) {
            line.erase(at, line.find('"', at + 8) + 1 - at);
        }
    }
    return lines;
}

class SlfindLan : public ::testing::Test {
  protected:
    void SetUp() override { SL_REQUIRE_TEST_LAN(); }
    TempDir dir_{"sl_slfind_lan"};
};

// Three probe addresses, so the segment-1 devices answer twice: still one
// line per address. The device that sends a datagram of no bytes is none.
TEST_F(SlfindLan, PlainAndJsonOutputInBothEncodings) {
    Host search("sfs1", {"1:198.18.90.1/16", "1:198.18.90.2/16", "2:198.19.90.1/16"});
    Host sjis("sfj1", {"1:198.18.90.101/16"});
    Host utf8("sfu1", {"2:198.19.90.102/16"});
    Host empty("sfe1", {"1:198.18.90.103/16"});
    ASSERT_TRUE(search.Ok() && sjis.Ok() && utf8.Ok() && empty.Ok());
    const std::string name = std::string(kJapanese) + "{i}";
    SimDevice simJ(sjis.Ns(), {"--name", name, "--encoding", "sjis", "--max-delay-ms", "300"},
                   dir_.Path(), "sjis");
    // The UTF-8 device's name also carries a backslash and a quote, which JSON escapes.
    SimDevice simU(utf8.Ns(), {"--name", name + "\\\"", "--max-delay-ms", "300"}, dir_.Path(),
                   "utf8");
    SimDevice simE(empty.Ns(), {"--mode", "empty", "--max-delay-ms", "300"}, dir_.Path(), "e");
    ASSERT_TRUE(simJ.Ready() && simU.Ready() && simE.Ready());

    // Sorted lines; "" where the other encoding's name goes: replacement
    // characters (U+FFFD) or other text, but the line is there and still JSON.
    const std::string right = std::string(kJapanese) + "0";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    } cases[] = {
        {{}, {"198.18.90.101    " + right, "198.19.90.102    ", "IP Address       Name"}},
        {{"--encoding", "cp932", "--json"},
         {R"({"address":"198.18.90.101","name":")" + right + R"(","detail":"1.0.0"})", ""}},
        {{"--json", "--encoding", "utf-8"},
         {"", R"({"address":"198.19.90.102","name":")" + right + R"(\\\"","detail":"1.0.0"})"}},
    };
    for (const auto& c : cases) {
        const ProcessResult result = Slfind(search.Ns(), c.args, dir_.Path());
        const std::string where = ::testing::PrintToString(c.args) + "\n" + result.out;
        EXPECT_EQ(result.exitCode, 0) << where << result.err;
        EXPECT_EQ(result.err, "");
        std::vector<std::string> lines = LinesWithoutMac(result.out);
        std::sort(lines.begin(), lines.end());
        ASSERT_EQ(lines.size(), c.lines.size()) << where;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (c.lines[i].empty()) {
                EXPECT_EQ(lines[i].rfind("{\"address\":\"198.1", 0), 0u) << where;
                EXPECT_EQ(lines[i].back(), '}') << where;
                if (c.args.back() == "utf-8") {  // Shift_JIS read as UTF-8
                    EXPECT_NE(lines[i].find(kReplacement), std::string::npos) << where;
                }
            } else if (c.lines[i].back() == ' ') {
                EXPECT_EQ(lines[i].rfind(c.lines[i], 0), 0u) << where;
            } else {
                EXPECT_EQ(lines[i], c.lines[i]) << where;
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "slwintool.log"));
}

TEST_F(SlfindLan, ExitCodes) {
    Host search("sfs2", {"1:198.18.92.1/16"});
    ASSERT_TRUE(search.Ok());
    const struct {
        std::string ns;  // "" = a namespace of its own with loopback only
        std::vector<std::string> args;
        int code;
        std::string out;  // start of standard output
        std::string err;  // start of standard error
    } cases[] = {
        {search.Ns(),
         {},
         1,
         "IP Address       Name\n",
         "slfind: no device answered; searched by multicast from 198.18.92.1\n"
         "slfind: a device on another network is found by its address, host name or range, "
         "for example: slfind 192.168.20.0/24\n"},
        {search.Ns(), {"--json"}, 1, "", "slfind: no device answered"},
        {search.Ns(),
         {"--json", "198.18.92.200"},
         1,
         "",
         "slfind: no device answered; searched by multicast from 198.18.92.1 and 1 address "
         "directly\n"},
        {search.Ns(), {"10.0.0.0/21"}, 2, "", "slfind: '10.0.0.0/21': a range may be at most /22"},
        {search.Ns(), {"127.0.0.1"}, 2, "", "slfind: '127.0.0.1': loopback addresses"},
        {search.Ns(), {"224.0.0.1"}, 2, "", "slfind: '224.0.0.1': multicast addresses"},
        {search.Ns(), {"255.255.255.255"}, 2, "", "slfind: '255.255.255.255': the broadcast"},
        {search.Ns(), {"0.1.2.3"}, 2, "", "slfind: '0.1.2.3': addresses in 0.0.0.0/8"},
        {search.Ns(), {"10.0.0.1", "10.0.0"}, 2, "", "slfind: '10.0.0' is not an IPv4 address"},
        {search.Ns(), {"nas;reboot"}, 2, "", "slfind: 'nas;reboot' is not an IPv4 address"},
        {search.Ns(), {"--no-multicast"}, 2, "", "slfind: --no-multicast needs a search target"},
        {search.Ns(), {"--color"}, 2, "", "slfind: unknown argument '--color'"},
        {search.Ns(), {"--encoding", "latin1"}, 2, "", "slfind: unknown encoding 'latin1'"},
        {search.Ns(), {"--encoding"}, 2, "", "slfind: --encoding needs a value"},
        {search.Ns(), {"--version"}, 0, "slfind 1.", ""},
        {search.Ns(), {"--help"}, 0, "usage: slfind", ""},
        {"", {}, 2, "", "slfind: no IPv4 address besides loopback\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = c.ns.empty() ? RunProcess({"unshare", "--net", SL_SLFIND_PATH})
                                                  : Slfind(c.ns, c.args, dir_.Path());
        const std::string where = ::testing::PrintToString(c.args);
        EXPECT_EQ(result.exitCode, c.code) << where << result.out << result.err;
        EXPECT_EQ(result.out.substr(0, c.out.size()), c.out) << where;
        if (c.out.empty() && c.code != 0) {
            EXPECT_EQ(result.out, "") << where;
        }
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << where;
        // One line on standard error for an error, two after an empty search.
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), c.code == 2   ? 1
                                                                          : c.code == 1 ? 2
                                                                                        : 0)
            << where << result.err;
    }
}

// Ctrl+C during the silent cycle after the only answer: the 3-s wait is cut
// short, what was printed stays, exit 130.
TEST_F(SlfindLan, CtrlCEndsTheSearchAtOnce) {
    Host search("sfs3", {"1:198.18.93.1/16"});
    Host device("sfd3", {"1:198.18.93.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    SimDevice sim(device.Ns(), {"--name", "Once", "--max-delay-ms", "0"}, dir_.Path(), "once");
    ASSERT_TRUE(sim.Ready());
    BackgroundProcess slfind(InNamespace(search.Ns(), {SL_SLFIND_PATH}));
    ASSERT_TRUE(WaitFor([&] { return Lines(slfind.Output()).size() >= 2; }, milliseconds(5000)))
        << slfind.Output();
    std::this_thread::sleep_for(milliseconds(300));
    const auto asked = Clock::now();
    ASSERT_EQ(kill(slfind.Pid(), SIGINT), 0);
    const auto code = slfind.Wait(milliseconds(2500));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - asked);
    ASSERT_TRUE(code.has_value()) << "still running " << took.count() << " ms after Ctrl+C";
    EXPECT_EQ(*code, 130);
    // Well inside the cycle's 3 s.
    EXPECT_LT(took.count(), 1500);
    const auto lines = Lines(slfind.Output());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "198.18.93.101    Once");
}

// A name whose DNS server never answers: the device's row comes at once; the
// name is reported after about 5 s; Ctrl+C while it is looked up ends slfind
// at once.
TEST_F(SlfindLan, AHangingNameHoldsNeitherTheRowsNorCtrlC) {
    Host search("sfs5", {"1:198.18.96.1/16"});
    Host device("sfd5", {"1:198.18.96.101/16"});
    const SilentDns dns(dir_.Path());
    ASSERT_TRUE(search.Ok() && device.Ok() && dns.Ok());
    SimDevice sim(device.Ns(), {"--name", "Near", "--max-delay-ms", "0"}, dir_.Path(), "near");
    ASSERT_TRUE(sim.Ready());
    const std::vector<std::string> argv =
        InNamespace(search.Ns(), dns.Wrap({SL_SLFIND_PATH, "--json", kSilentName}));
    const std::string row = R"({"address":"198.18.96.101","name":"Near","detail":"1.0.0"})";
    for (const bool interrupt : {false, true}) {
        const auto began = Clock::now();
        BackgroundProcess slfind(argv);
        ASSERT_TRUE(WaitFor([&] { return !Lines(slfind.Output()).empty(); }, milliseconds(3000)))
            << slfind.Output() << slfind.Errors();
        EXPECT_LT(Clock::now() - began, milliseconds(1500));
        if (interrupt) {
            std::this_thread::sleep_for(milliseconds(1500));
            ASSERT_EQ(kill(slfind.Pid(), SIGINT), 0);
        }
        const auto asked = Clock::now();
        const auto code = slfind.Wait(milliseconds(10000));
        ASSERT_TRUE(code.has_value());
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - began);
        EXPECT_EQ(LinesWithoutMac(slfind.Output()), std::vector<std::string>{row});
        if (interrupt) {
            EXPECT_EQ(*code, 130);
            EXPECT_LT(Clock::now() - asked, milliseconds(500));
        } else {
            EXPECT_EQ(*code, 0) << slfind.Errors();
            EXPECT_EQ(slfind.Errors(), std::string("slfind: '") + kSilentName +
                                           "' did not resolve to an IPv4 address; skipped\n");
            EXPECT_GE(took.count(), 4500);
            EXPECT_LT(took.count(), 7000);
        }
    }
}

// A device that never stops answering: slfind ends at the search's bound
// (shortened for the test) and lists it once.
TEST_F(SlfindLan, NeverEndingAnswersEndAtTheBound) {
    Host search("sfs4", {"1:198.18.94.1/16"});
    Host device("sfd4", {"1:198.18.94.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    SimDevice sim(device.Ns(), {"--name", "Chatty", "--max-delay-ms", "0", "--repeat-ms", "1000"},
                  dir_.Path(), "chatty");
    ASSERT_TRUE(sim.Ready());
    const auto began = Clock::now();
    const ProcessResult result =
        Slfind(search.Ns(), {"--json"}, dir_.Path(), {"SL_SEARCH_LIMIT_MS=4000"});
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - began);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(LinesWithoutMac(result.out),
              std::vector<std::string>{
                  R"({"address":"198.18.94.101","name":"Chatty","detail":"1.0.0"})"});
    EXPECT_GE(took.count(), 3900);
    EXPECT_LT(took.count(), 8000);
}

// A device behind the router: the multicast probe never reaches it; its
// address, its name (the pc's hosts file) and a /24 around it do.
TEST_F(SlfindLan, RoutedDeviceFoundByAddressNameAndRange) {
    const std::string ns = Env("SL_NS_DEV3").value_or("");
    const std::string address = Env("SL_DEV3_ADDR").value_or("");
    const std::string name = Env("SL_DEV3_NAME").value_or("");
    ASSERT_FALSE(ns.empty() || address.empty() || name.empty());
    SimDevice sim(ns, {"--name", "Routed", "--max-delay-ms", "200"}, dir_.Path(), "routed");
    ASSERT_TRUE(sim.Ready());
    const std::string line = R"({"address":")" + address + R"(","name":"Routed","detail":"1.0.0"})";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;  // part of standard error
    } cases[] = {
        {{"--json"}, 1, "slfind 192.168.20.0/24"},
        {{"--json", address}, 0, ""},
        {{"--json", name}, 0, ""},
        {{"--json", "--no-multicast", "10.77.1.0/24"}, 0, ""},
        {{"--json", "missing.routed.test", address},
         0,
         "slfind: 'missing.routed.test' did not resolve to an IPv4 address; skipped\n"},
        {{"--json", "loopback.routed.test"}, 1, "loopback addresses cannot be searched"},
        {{"--json", "--no-multicast", "missing.routed.test"}, 1, "; searched 0 addresses directly"},
    };
    for (const auto& c : cases) {
        // In the pc itself: its route to the segment and its hosts file.
        const ProcessResult result = Slfind("", c.args, dir_.Path());
        const std::string where = ::testing::PrintToString(c.args) + "\n" + result.err;
        EXPECT_EQ(result.exitCode, c.code) << where;
        EXPECT_EQ(Lines(result.out),
                  c.code == 0 ? std::vector<std::string>{line} : std::vector<std::string>{})
            << where;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << where;
        if (c.err.empty()) {
            EXPECT_EQ(result.err, "") << where;
        }
    }
    // Only unicast probes ever reached it, one per search that named it.
    sim.Stop();
    const auto probes = ParseProbes(sim.Record());
    EXPECT_EQ(probes.size(), 4u);
    for (const ProbeRecord& probe : probes) {
        EXPECT_EQ(probe.dst, address);
    }
}

}  // namespace
