// Real searches with the native driver inside the test LAN. Every test makes
// its own search and device hosts, so it does not depend on the shared ones.
#include "tests/lan/discovery_lan.h"

#include <gtest/gtest.h>

#include "finder/discovery/discovery.h"

using namespace lantest;
using testsupport::TempDir;

namespace {

constexpr char kGroup[] = "239.143.255.250";

std::vector<ProbeRecord> From(const std::vector<ProbeRecord>& probes, const std::string& src) {
    std::vector<ProbeRecord> out;
    for (const ProbeRecord& p : probes) {
        if (p.src == src) out.push_back(p);
    }
    return out;
}

class DiscoveryLan : public ::testing::Test {
  protected:
    void SetUp() override { SL_REQUIRE_TEST_LAN(); }
    TempDir dir_{"sl_disc_lan"};
};

TEST_F(DiscoveryLan, OneAddressSendsExactlyOneProbe) {
    Host search("dls1", {"1:198.18.60.1/16"});
    Host device("dld1", {"1:198.18.60.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    SimDevice sim(device.Ns(), {"--name", "Solo"}, dir_.Path(), "solo");
    ASSERT_TRUE(sim.Ready());

    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path());
    ASSERT_TRUE(out.started && out.ended) << out.raw << out.errors;
    EXPECT_EQ(out.exitCode, 0);
    const FoundDevice* solo = out.Find("198.18.60.101");
    ASSERT_NE(solo, nullptr) << out.raw;
    EXPECT_EQ(solo->name, "Solo");
    EXPECT_EQ(solo->detail, "1.0.0");

    sim.Stop();
    const auto probes = From(ParseProbes(sim.Record()), "198.18.60.1");
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].sport, 18300);
    EXPECT_EQ(probes[0].dst, kGroup);
    EXPECT_EQ(probes[0].bytes, std::string(discovery::kSearchProbe));
    EXPECT_EQ(probes[0].bytes.size(), 129u);
}

TEST_F(DiscoveryLan, ThreeAddressesSendFromThreePortsAndBothSegmentsAnswer) {
    Host search("dls2", {"1:198.18.61.1/16", "1:198.18.61.2/16", "2:198.19.61.3/16"});
    Host deviceA("dld2a", {"1:198.18.61.101/16"});
    Host deviceB("dld2b", {"2:198.19.61.102/16"});
    ASSERT_TRUE(search.Ok() && deviceA.Ok() && deviceB.Ok());
    SimDevice simA(deviceA.Ns(), {"--name", "SegOne"}, dir_.Path(), "a");
    SimDevice simB(deviceB.Ns(), {"--name", "SegTwo"}, dir_.Path(), "b");
    ASSERT_TRUE(simA.Ready() && simB.Ready());

    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path());
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    // Device A answered through two local sockets: one device.
    EXPECT_EQ(out.Count("198.18.61.101"), 1u) << out.raw;
    EXPECT_EQ(out.Count("198.19.61.102"), 1u) << out.raw;
    ASSERT_NE(out.Find("198.19.61.102"), nullptr);
    EXPECT_EQ(out.Find("198.19.61.102")->name, "SegTwo");
    for (std::size_t i = 0; i < out.devices.size(); ++i) {
        EXPECT_EQ(out.devices[i].index, static_cast<long>(i));
    }

    simA.Stop();
    simB.Stop();
    const auto recordA = simA.Record();
    const auto recordB = simB.Record();
    const struct {
        const std::string* record;
        const char* src;
        int port;
    } expected[] = {{&recordA, "198.18.61.1", 18300},
                    {&recordA, "198.18.61.2", 18301},
                    {&recordB, "198.19.61.3", 18302}};
    for (const auto& e : expected) {
        const auto probes = From(ParseProbes(*e.record), e.src);
        ASSERT_EQ(probes.size(), 1u) << e.src;
        EXPECT_EQ(probes[0].sport, e.port) << e.src;
        EXPECT_EQ(probes[0].bytes, std::string(discovery::kSearchProbe));
    }
    // The segment-2 address's probe never reached segment 1, and back.
    EXPECT_TRUE(From(ParseProbes(recordA), "198.19.61.3").empty());
    EXPECT_TRUE(From(ParseProbes(recordB), "198.18.61.1").empty());
    EXPECT_EQ(ParseAnswers(recordA).size(), 2u);
}

TEST_F(DiscoveryLan, LogOfTwoAddressesAndOneAnswer) {
    Host search("dls3", {"1:198.18.62.1/16", "2:198.19.62.1/16"});
    Host device("dld3", {"2:198.19.62.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    SimDevice sim(device.Ns(), {"--name", "Logged"}, dir_.Path(), "log");
    ASSERT_TRUE(sim.Ready());

    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path());
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    sim.Stop();
    const auto answers = ParseAnswers(sim.Record());
    ASSERT_EQ(answers.size(), 1u);
    const std::string expected =
        "----- send start-----\n198.18.62.1\n198.19.62.1\n"
        "----- send end-----\n----- res start-----\n" +
        answers[0].bytes + "\n\n----- res end-----\n";
    EXPECT_EQ(testsupport::ReadFile(dir_.Path() / "slwintool.log"), expected);
}

// Every misbehaviour at once, one device host each, one search.
TEST_F(DiscoveryLan, MisbehavingDevicesLeaveTheSearchRunning) {
    Host search("dls4", {"1:198.18.63.1/16", "2:198.19.63.1/16"});
    ASSERT_TRUE(search.Ok());
    struct Case {
        const char* host;
        const char* address;
        std::vector<std::string> args;
        bool listed;
        const char* name;
    };
    const std::vector<Case> cases = {
        {"dlm1", "198.18.63.101", {"--name", "Norm"}, true, "Norm"},
        {"dlm2", "198.18.63.102", {"--mode", "no-server"}, true, ""},
        {"dlm3", "198.18.63.103", {"--mode", "two-servers", "--name", "Two"}, true, "Two-second"},
        {"dlm4", "198.18.63.104", {"--mode", "lower-case"}, true, ""},
        {"dlm5", "198.18.63.105", {"--mode", "size-4096", "--name", "Big"}, true, "Big"},
        {"dlm6", "198.18.63.106", {"--mode", "size-over", "--name", "Huge"}, false, ""},
        {"dlm7", "198.18.63.107", {"--mode", "binary", "--name", "Bin"}, true, "Bin"},
        {"dlm8", "198.18.63.108", {"--mode", "twice", "--name", "Twice"}, true, "Twice"},
        {"dlm9", "198.18.63.109", {"--server", "a, b", "--name", "Short"}, true, ""},
        {"dlm10", "198.18.63.110", {"--server", "a, b, NoSlash", "--name", "X"}, true, ""},
        {"dlm12", "198.18.63.112", {"--mode", "empty"}, false, ""},
    };
    std::vector<std::unique_ptr<Host>> hosts;
    std::vector<std::unique_ptr<SimDevice>> sims;
    for (const Case& c : cases) {
        hosts.push_back(std::make_unique<Host>(
            c.host, std::vector<std::string>{std::string("1:") + c.address + "/16"}));
        ASSERT_TRUE(hosts.back()->Ok());
        sims.push_back(
            std::make_unique<SimDevice>(hosts.back()->Ns(), c.args, dir_.Path(), c.host));
        ASSERT_TRUE(sims.back()->Ready());
    }
    // One device on both segments, answering from its segment-1 address.
    Host both("dlm11", {"1:198.18.63.111/16", "2:198.19.63.111/16"});
    ASSERT_TRUE(both.Ok());
    SimDevice bothSim(both.Ns(), {"--answer-from", "198.18.63.111", "--name", "Both"}, dir_.Path(),
                      "both");
    ASSERT_TRUE(bothSim.Ready());

    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path());
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    EXPECT_EQ(out.exitCode, 0);
    for (const Case& c : cases) {
        const FoundDevice* found = out.Find(c.address);
        if (!c.listed) {
            EXPECT_EQ(found, nullptr) << c.host;
            continue;
        }
        ASSERT_NE(found, nullptr) << c.host << "\n" << out.raw;
        EXPECT_EQ(out.Count(c.address), 1u) << c.host;
        EXPECT_EQ(found->name, c.name) << c.host;
    }
    EXPECT_EQ(out.Count("198.18.63.111"), 1u) << out.raw;
    EXPECT_EQ(out.Count("198.19.63.111"), 0u) << out.raw;
    EXPECT_EQ(out.tableSize, out.devices.size());
    bothSim.Stop();
    EXPECT_EQ(ParseAnswers(bothSim.Record()).size(), 2u)
        << bothSim.Record().substr(0, 2000) << out.raw;
}

TEST_F(DiscoveryLan, StopAfterTheFirstReportEndsAfterItsCycle) {
    Host search("dls5", {"1:198.18.64.1/16"});
    Host device("dld5", {"1:198.18.64.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    ASSERT_TRUE(AddAddresses(device.Ns(), "eth1",
                             {"198.18.64.102/16", "198.18.64.103/16", "198.18.64.104/16"}));
    SimDevice sim(device.Ns(), {"--max-delay-ms", "1500", "--seed", "7"}, dir_.Path(), "stop");
    ASSERT_TRUE(sim.Ready());
    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path(), {"--stop-after", "1"});
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    EXPECT_EQ(out.devices.size(), 1u) << out.raw;
}

// A device that answers every 2 s would hold the search open for ever; it
// ends at its bound (shortened here), with the log and notices of a normal end.
TEST_F(DiscoveryLan, NeverEndingAnswersEndAtTheBound) {
    Host search("dls7", {"1:198.18.67.1/16"});
    Host device("dld7", {"1:198.18.67.101/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    SimDevice sim(device.Ns(), {"--max-delay-ms", "0", "--repeat-ms", "2000", "--name", "Chatty"},
                  dir_.Path(), "chatty");
    ASSERT_TRUE(sim.Ready());
    const SearchOutput out =
        RunNativeSearch(search.Ns(), dir_.Path(), {}, {"SL_SEARCH_LIMIT_MS=5000"});
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    EXPECT_EQ(out.Count("198.18.67.101"), 1u) << out.raw;
    EXPECT_GE(out.endMs, 4900);
    EXPECT_LT(out.endMs, 7000);
    const std::string log = testsupport::ReadFile(dir_.Path() / "slwintool.log");
    EXPECT_GE(log.size(), 19u);
    EXPECT_EQ(log.substr(log.size() - 19), "----- res end-----\n");
}

// A host-name target whose DNS server never answers holds neither the
// device's row nor the stop.
TEST_F(DiscoveryLan, AHangingNameHoldsNothing) {
    Host search("dls8", {"1:198.18.68.1/16"});
    Host device("dld8", {"1:198.18.68.101/16"});
    const SilentDns dns(dir_.Path());
    ASSERT_TRUE(search.Ok() && device.Ok() && dns.Ok());
    SimDevice sim(device.Ns(), {"--max-delay-ms", "0", "--name", "Near"}, dir_.Path(), "near");
    ASSERT_TRUE(sim.Ready());
    CheckHangingName(
        [&](const std::vector<std::string>& args) {
            std::vector<std::string> argv{testsupport::ToolPath("sl_search").string()};
            argv.insert(argv.end(), args.begin(), args.end());
            testsupport::ProcessOptions options;
            options.cwd = dir_.Path().string();
            options.timeout = std::chrono::seconds(60);
            const auto result = testsupport::RunProcess(
                testsupport::InNamespace(search.Ns(), dns.Wrap(argv)), options);
            SearchOutput out = ParseSearchOutput(result.out);
            out.errors = result.err;
            return out;
        },
        "198.18.68.101");
}

TEST_F(DiscoveryLan, SixtyDevicesBehindOneHostAreAllFound) {
    Host search("dls6", {"1:198.18.65.1/16"});
    Host device("dld6", {"1:198.18.66.1/16"});
    ASSERT_TRUE(search.Ok() && device.Ok());
    std::vector<std::string> more;
    for (int i = 2; i <= 60; ++i) more.push_back("198.18.66." + std::to_string(i) + "/16");
    ASSERT_TRUE(AddAddresses(device.Ns(), "eth1", more));
    SimDevice sim(device.Ns(), {"--max-delay-ms", "3000"}, dir_.Path(), "many");
    ASSERT_TRUE(sim.Ready());
    const SearchOutput out = RunNativeSearch(search.Ns(), dir_.Path());
    ASSERT_TRUE(out.ended) << out.raw << out.errors;
    std::size_t mine = 0;
    for (int i = 1; i <= 60; ++i) mine += out.Count("198.18.66." + std::to_string(i));
    EXPECT_EQ(mine, 60u) << out.raw;
}

}  // namespace
