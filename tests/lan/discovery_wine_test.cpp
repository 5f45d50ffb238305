// Real searches with the Windows driver under Wine. The run's wineserver
// lives in the pc namespace, so every Windows socket does too: the search
// runs from the pc's two addresses (198.18.0.1 on segment 1, 198.19.0.1 on
// segment 2), against device hosts of this suite's own.
#include <gtest/gtest.h>

#include "finder/discovery/discovery.h"
#include "tests/lan/discovery_lan.h"

using namespace lantest;
using namespace testsupport;

namespace {

SearchOutput RunWineSearch(const std::filesystem::path& cwd) {
    ProcessOptions options;
    options.cwd = cwd.string();
    options.timeout = std::chrono::seconds(60);
    const ProcessResult result =
        RunProcess(UnderWine({WindowsToolPath("sl_search.exe").string()}), options);
    SearchOutput out = ParseSearchOutput(result.out);
    out.exitCode = result.exitCode;
    out.errors = result.err;
    return out;
}

class DiscoveryWine : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
    }
    TempDir dir_{"sl_disc_wine"};
};

TEST_F(DiscoveryWine, SearchFromBothAddressesFindsEveryDeviceByTheRules) {
    const TestLan lan = GetTestLan();
    struct Case {
        const char* host;
        const char* hostAddress;  // SEG:ADDR/LEN of the device host
        const char* address;
        std::vector<std::string> args;
        bool listed;
        const char* name;  // UTF-8 as the driver prints it
    };
    // Names in Shift_JIS come back through code page 932 as on a Japanese
    // Windows; the same name in UTF-8 would not.
    const std::vector<Case> cases = {
        {"dwj",
         "1:198.18.70.101/16",
         "198.18.70.101",
         {"--name", "ソルベリオ機{i}", "--encoding", "sjis"},
         true,
         "ソルベリオ機0"},
        {"dwp", "2:198.19.70.102/16", "198.19.70.102", {"--name", "Plain"}, true, "Plain"},
        {"dwb",
         "1:198.18.70.103/16",
         "198.18.70.103",
         {"--mode", "size-4096", "--name", "Big"},
         true,
         "Big"},
        {"dwo", "1:198.18.70.104/16", "198.18.70.104", {"--mode", "size-over"}, false, ""},
        {"dwn",
         "1:198.18.70.105/16",
         "198.18.70.105",
         {"--mode", "binary", "--name", "Bin"},
         true,
         "Bin"},
        {"dwt",
         "2:198.19.70.106/16",
         "198.19.70.106",
         {"--mode", "twice", "--name", "Tw"},
         true,
         "Tw"},
        {"dws",
         "1:198.18.70.107/16",
         "198.18.70.107",
         {"--mode", "two-servers", "--name", "S"},
         true,
         "S-second"},
        {"dwl", "1:198.18.70.108/16", "198.18.70.108", {"--mode", "lower-case"}, true, ""},
        {"dwe", "2:198.19.70.109/16", "198.19.70.109", {"--mode", "empty"}, false, ""},
    };
    std::vector<std::unique_ptr<Host>> hosts;
    std::vector<std::unique_ptr<SimDevice>> sims;
    for (const Case& c : cases) {
        hosts.push_back(std::make_unique<Host>(c.host, std::vector<std::string>{c.hostAddress}));
        ASSERT_TRUE(hosts.back()->Ok());
        sims.push_back(
            std::make_unique<SimDevice>(hosts.back()->Ns(), c.args, dir_.Path(), c.host));
        ASSERT_TRUE(sims.back()->Ready());
    }

    const SearchOutput out = RunWineSearch(dir_.Path());
    ASSERT_TRUE(out.started && out.ended) << out.raw << out.errors;
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

    // One probe per pc address, from 18300 and 18301, byte for byte.
    for (auto& sim : sims) sim->Stop();
    const auto seg1 = ParseProbes(sims[0]->Record());
    const auto seg2 = ParseProbes(sims[1]->Record());
    std::vector<ProbeRecord> fromPc;
    for (const auto& p : seg1)
        if (p.src == lan.pcAddr1) fromPc.push_back(p);
    for (const auto& p : seg2)
        if (p.src == lan.pcAddr2) fromPc.push_back(p);
    ASSERT_EQ(fromPc.size(), 2u);
    EXPECT_NE(fromPc[0].sport, fromPc[1].sport);
    for (const auto& p : fromPc) {
        EXPECT_TRUE(p.sport == 18300 || p.sport == 18301) << p.sport;
        EXPECT_EQ(p.dst, "239.143.255.250");
        EXPECT_EQ(p.bytes, std::string(discovery::kSearchProbe));
    }

    // The log starts with the two addresses, CR LF line ends.
    const std::string log = ReadFile(dir_.Path() / "slwintool.log");
    const std::string head1 = "----- send start-----\r\n" + lan.pcAddr1 + "\r\n" + lan.pcAddr2 +
                              "\r\n----- send end-----\r\n";
    const std::string head2 = "----- send start-----\r\n" + lan.pcAddr2 + "\r\n" + lan.pcAddr1 +
                              "\r\n----- send end-----\r\n";
    EXPECT_TRUE(log.rfind(head1, 0) == 0 || log.rfind(head2, 0) == 0) << log.substr(0, 200);
}

// Under Wine too: its resolver runs in the program's own process, which
// reads the silent server's resolv.conf; its sockets are the pc's.
TEST_F(DiscoveryWine, AHangingNameHoldsNothing) {
    Host device("dwh", {"1:198.18.70.111/16"});
    const SilentDns dns(dir_.Path());
    ASSERT_TRUE(device.Ok() && dns.Ok());
    SimDevice sim(device.Ns(), {"--max-delay-ms", "0", "--name", "Near"}, dir_.Path(), "near");
    ASSERT_TRUE(sim.Ready());
    CheckHangingName(
        [&](const std::vector<std::string>& args) {
            std::vector<std::string> argv{WindowsToolPath("sl_search.exe").string()};
            argv.insert(argv.end(), args.begin(), args.end());
            ProcessOptions options;
            options.cwd = dir_.Path().string();
            options.timeout = std::chrono::seconds(60);
            const ProcessResult result = RunProcess(dns.Wrap(UnderWine(argv)), options);
            SearchOutput out = ParseSearchOutput(result.out);
            out.errors = result.err;
            return out;
        },
        "198.18.70.111");
}

}  // namespace
