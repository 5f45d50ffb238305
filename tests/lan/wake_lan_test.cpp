// Waking a sleeping device, natively in the test LAN: slfind reports the
// hardware address the neighbour table learned from a device's answer, a
// sleeping device misses the search, slfind --wake wakes it (on the segment,
// and behind the router through its directed broadcast), and no broadcast
// leaves the LAN. Also slfind's CSV and --watch.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/lan/discovery_lan.h"
#include "tests/support/wine_programs.h"

using namespace lantest;
using namespace testsupport;

namespace {

using std::chrono::milliseconds;

ProcessResult Slfind(std::vector<std::string> args, std::vector<std::string> env = {}) {
    std::vector<std::string> argv{SL_SLFIND_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.extraEnv = std::move(env);
    options.timeout = std::chrono::seconds(60);
    return RunProcess(argv, options);
}

// The machine's own namespace's counts of IPv4 broadcast and multicast
// packets sent (IpExt OutBcastPkts, OutMcastPkts), read through init's view.
std::optional<std::pair<long long, long long>> RootCastCounters() {
    std::ifstream in("/proc/1/net/netstat");
    std::string names;
    std::string values;
    while (std::getline(in, names) && std::getline(in, values)) {
        if (names.rfind("IpExt:", 0) != 0) {
            continue;
        }
        std::istringstream n(names);
        std::istringstream v(values);
        std::string name;
        std::string value;
        std::optional<long long> bcast;
        std::optional<long long> mcast;
        while (n >> name && v >> value) {
            if (name == "OutBcastPkts") bcast = std::stoll(value);
            if (name == "OutMcastPkts") mcast = std::stoll(value);
        }
        if (bcast && mcast) {
            return std::make_pair(*bcast, *mcast);
        }
    }
    return std::nullopt;
}

struct MagicRecord {
    std::string src;
    std::string dst;
    bool match = false;
};

std::string Field(const std::string& line, const std::string& key) {
    const std::string quoted = "\"" + key + "\":";
    const std::size_t at = line.find(quoted);
    if (at == std::string::npos) return {};
    std::size_t begin = at + quoted.size();
    if (line[begin] == '"') {
        ++begin;
        return line.substr(begin, line.find('"', begin) - begin);
    }
    return line.substr(begin, line.find_first_of(",}", begin) - begin);
}

std::vector<MagicRecord> ParseMagic(const std::string& record) {
    std::vector<MagicRecord> out;
    for (const std::string& line : Lines(record)) {
        if (Field(line, "event") == "magic") {
            out.push_back({Field(line, "src"), Field(line, "dst"), Field(line, "match") == "true"});
        }
    }
    return out;
}

bool WokeByMagic(const std::string& record) {
    return record.find(R"("event":"wake","t_ms")") != std::string::npos &&
           record.find(R"("by":"magic")") != std::string::npos;
}

class WakeLan : public ::testing::Test {
  protected:
    void SetUp() override { SL_REQUIRE_TEST_LAN(); }
    TempDir dir_{"sl_wake_lan"};
};

// dev1 answers, and slfind names its veth's hardware address; asleep it
// misses the search; slfind --wake wakes it and the next search finds it.
TEST_F(WakeLan, DeviceOnTheSegmentSleepsAndIsWoken) {
    const std::string ns = Env("SL_NS_DEV1").value_or("");
    const std::string address = Env("SL_DEV1_ADDR").value_or("");
    const std::string mac = Env("SL_DEV1_MAC").value_or("");
    ASSERT_FALSE(ns.empty() || address.empty() || mac.empty());
    const std::string line = R"({"address":")" + address +
                             R"(","name":"Sleeper","detail":"1.0.0","mac":")" + mac + R"("})";
    const auto before = RootCastCounters();
    {
        SimDevice awake(ns, {"--name", "Sleeper", "--max-delay-ms", "200"}, dir_.Path(), "awake");
        ASSERT_TRUE(awake.Ready());
        const ProcessResult found = Slfind({"--json"});
        EXPECT_EQ(found.exitCode, 0) << found.err;
        EXPECT_EQ(Lines(found.out), std::vector<std::string>{line});
    }
    SimDevice sim(ns, {"--name", "Sleeper", "--max-delay-ms", "200", "--asleep"}, dir_.Path(),
                  "asleep");
    ASSERT_TRUE(sim.Ready());
    const ProcessResult missed = Slfind({"--json"});
    EXPECT_EQ(missed.exitCode, 1) << missed.out;
    EXPECT_EQ(missed.out, "");

    const ProcessResult wake = Slfind({"--wake", mac});
    EXPECT_EQ(wake.exitCode, 0) << wake.err;
    EXPECT_NE(wake.out.find("sent to 198.18.255.255, 255.255.255.255, 198.19.255.255"),
              std::string::npos)
        << wake.out;
    ASSERT_TRUE(WaitFor([&] { return WokeByMagic(sim.Record()); }, milliseconds(3000)))
        << sim.Record();
    const ProcessResult again = Slfind({"--json"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Lines(again.out), std::vector<std::string>{line});

    // Three rounds to the segment's broadcast and the limited broadcast, from
    // the pc's address on that segment (segment 2's never reach dev1).
    std::this_thread::sleep_for(milliseconds(300));
    const auto magic = ParseMagic(sim.Record());
    ASSERT_EQ(magic.size(), 6u) << sim.Record();
    EXPECT_EQ(std::count_if(magic.begin(), magic.end(),
                            [](const auto& m) { return m.dst == "198.18.255.255"; }),
              3);
    EXPECT_EQ(std::count_if(magic.begin(), magic.end(),
                            [](const auto& m) { return m.dst == "255.255.255.255"; }),
              3);
    for (const MagicRecord& m : magic) {
        EXPECT_EQ(m.src, "198.18.0.1");
        EXPECT_TRUE(m.match);
    }
    const auto after = RootCastCounters();
    ASSERT_TRUE(before && after) << "cannot read the machine's own counters";
    EXPECT_EQ(after->first, before->first) << "broadcasts left the test LAN";
    EXPECT_EQ(after->second, before->second) << "multicasts left the test LAN";
}

// dev3 behind the router: found only by its address and without a hardware
// address; woken by the MAC typed and its subnet's directed broadcast, which
// the router forwards.
TEST_F(WakeLan, RoutedDeviceWokenThroughItsDirectedBroadcast) {
    const std::string ns = Env("SL_NS_DEV3").value_or("");
    const std::string address = Env("SL_DEV3_ADDR").value_or("");
    const std::string mac = Env("SL_DEV3_MAC").value_or("");
    ASSERT_FALSE(ns.empty() || address.empty() || mac.empty());
    SimDevice sim(ns, {"--name", "Routed", "--max-delay-ms", "200", "--asleep"}, dir_.Path(),
                  "routed");
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(Slfind({"--json", address}).exitCode, 1);

    // Typed as users copy it from a label; a limited broadcast would stop at
    // the router, so without --wake-via the device stays asleep.
    std::string typed = mac;
    std::transform(typed.begin(), typed.end(), typed.begin(),
                   [](char c) { return c == ':' ? '-' : static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(Slfind({"--wake", typed}).exitCode, 0);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_FALSE(WokeByMagic(sim.Record()));
    const ProcessResult wake = Slfind({"--wake", typed, "--wake-via", "10.77.0.0/16"});
    EXPECT_EQ(wake.exitCode, 0) << wake.err;
    EXPECT_NE(wake.out.find("sent to 10.77.255.255 (UDP port 9, 3 times)"), std::string::npos)
        << wake.out;
    ASSERT_TRUE(WaitFor([&] { return WokeByMagic(sim.Record()); }, milliseconds(3000)))
        << sim.Record();
    const ProcessResult found = Slfind({"--json", address});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(Lines(found.out), std::vector<std::string>{R"({"address":")" + address +
                                                         R"(","name":"Routed","detail":"1.0.0"})"});
    for (const MagicRecord& m : ParseMagic(sim.Record())) {
        EXPECT_EQ(m.dst, "10.77.255.255");
        EXPECT_TRUE(m.match);
    }
}

TEST_F(WakeLan, RefusedWakesAndWatches) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--wake", "00-11-22-33-44"}, "slfind: '00-11-22-33-44' is not a hardware address"},
        {{"--wake", "001122334455", "--wake-via", "127.0.0.1"},
         "slfind: '127.0.0.1' is not a directed broadcast address"},
        {{"--wake-via", "10.77.255.255"}, "slfind: --wake-via needs --wake MAC"},
        {{"--wake", "001122334455", "--json"}, "slfind: --wake goes only with --wake-via"},
        {{"--watch", "9"}, "slfind: --watch 9: the interval is a number of seconds from 10"},
        {{"--csv", "--watch"}, "slfind: --watch writes events, which CSV cannot"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = Slfind(c.args);
        const std::string where = ::testing::PrintToString(c.args);
        EXPECT_EQ(result.exitCode, 2) << where;
        EXPECT_EQ(result.out, "") << where;
        EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << where << "\n" << result.err;
    }
}

// A quote and a line break (a CR: the SERVER line ends at its LF) in names,
// quoted as RFC 4180 has it; the hardware addresses of both segments' devices.
TEST_F(WakeLan, CsvQuotesNamesAndNamesTheHardwareAddress) {
    const std::string ns1 = Env("SL_NS_DEV1").value_or("");
    const std::string ns2 = Env("SL_NS_DEV2").value_or("");
    ASSERT_FALSE(ns1.empty() || ns2.empty());
    SimDevice quoted(ns1, {"--name", "Say \"hi\"", "--max-delay-ms", "200"}, dir_.Path(), "q");
    SimDevice broken(ns2, {"--name", "Two\rlines", "--max-delay-ms", "200"}, dir_.Path(), "b");
    ASSERT_TRUE(quoted.Ready() && broken.Ready());
    const ProcessResult result = Slfind({"--csv", "--encoding", "utf-8"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> records;
    for (std::size_t at = 0; at < result.out.size();) {
        const std::size_t end = result.out.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << result.out;
        records.push_back(result.out.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(records.size(), 3u) << result.out;
    EXPECT_EQ(records[0], "address,name,detail,mac");
    std::sort(records.begin() + 1, records.end());
    EXPECT_EQ(records[1], "198.18.1.1,\"Say \"\"hi\"\"\",1.0.0," + *Env("SL_DEV1_MAC"));
    EXPECT_EQ(records[2], "198.19.1.1,\"Two\rlines\",1.0.0," + *Env("SL_DEV2_MAC"));
}

// --watch 10: the device when it appears, a gone line after two missed
// searches, Ctrl+C ends it with 130. The test shortens the interval.
TEST_F(WakeLan, WatchReportsAppearingAndGoneDevices) {
    const std::string ns = Env("SL_NS_DEV1").value_or("");
    const std::string mac = Env("SL_DEV1_MAC").value_or("");
    ASSERT_FALSE(ns.empty() || mac.empty());
    const std::string device =
        R"("address":"198.18.1.1","name":"Watched","detail":"1.0.0","mac":")" + mac + R"("})";
    auto sim = std::make_unique<SimDevice>(
        ns, std::vector<std::string>{"--name", "Watched", "--max-delay-ms", "100"}, dir_.Path(),
        "watched");
    ASSERT_TRUE(sim->Ready());
    ProcessOptions options;
    options.extraEnv = {"SL_WATCH_INTERVAL_MS=500", "SL_SEARCH_LIMIT_MS=1500"};
    BackgroundProcess watch({SL_SLFIND_PATH, "--json", "--watch", "10"}, options);
    ASSERT_TRUE(WaitFor([&] { return !Lines(watch.Output()).empty(); }, milliseconds(8000)));
    sim.reset();
    ASSERT_TRUE(WaitFor([&] { return Lines(watch.Output()).size() >= 2; }, milliseconds(20000)))
        << watch.Output();
    ASSERT_EQ(kill(watch.Pid(), SIGINT), 0);
    const auto code = watch.Wait(milliseconds(3000));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 130);
    EXPECT_EQ(Lines(watch.Output()),
              (std::vector<std::string>{"{" + device, R"({"event":"gone",)" + device}));
}

}  // namespace
