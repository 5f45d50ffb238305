// slfind.exe under Wine in the test LAN: JSON lines in UTF-8 when redirected,
// with the Japanese names of devices that send Shift_JIS or UTF-8. Wine's
// sockets live in the pc namespace (198.18.0.1 and 198.19.0.1).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/lan/discovery_lan.h"
#include "tests/support/wine_programs.h"

using namespace lantest;
using namespace testsupport;

namespace {

class SlfindWine : public ::testing::Test {
  protected:
    void SetUp() override {
        SL_REQUIRE_TEST_LAN();
        SL_REQUIRE_WINE();
    }
    // slfind.exe with args under Wine, in the test's folder.
    ProcessResult RunSlfind(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{(DistDir("windows") / "slfind.exe").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.cwd = dir_.Path().string();
        options.timeout = std::chrono::seconds(60);
        return RunProcess(UnderWine(argv), options);
    }
    TempDir dir_{"sl_slfind_wine"};
};

// The hardware address of a host's eth1, as the LAN gave it.
std::string MacOf(const std::string& ns) {
    const ProcessResult shown = RunProcess({"ip", "-n", ns, "-br", "link", "show", "eth1"});
    std::istringstream fields(shown.out);
    std::string name, state, mac;
    fields >> name >> state >> mac;
    return mac;
}

TEST_F(SlfindWine, JsonLinesWithJapaneseNames) {
    Host sjis("swj", {"1:198.18.95.101/16"});
    Host utf8("swu", {"2:198.19.95.102/16"});
    ASSERT_TRUE(sjis.Ok() && utf8.Ok());
    const std::string name = "ソルベリオ機{i}";
    SimDevice simJ(sjis.Ns(), {"--name", name, "--encoding", "sjis", "--max-delay-ms", "300"},
                   dir_.Path(), "sjis");
    SimDevice simU(utf8.Ns(), {"--name", name, "--max-delay-ms", "300"}, dir_.Path(), "utf8");
    ASSERT_TRUE(simJ.Ready() && simU.Ready());

    // Devices in address order; the one whose encoding was asked for shows
    // its name, the other is listed with another name.
    const std::string addresses[] = {"198.18.95.101", "198.19.95.102"};
    // Both are neighbours: GetIpNetTable2 names their hardware addresses.
    const std::string macs[] = {MacOf(sjis.Ns()), MacOf(utf8.Ns())};
    const struct {
        std::vector<std::string> args;
        int right;
    } cases[] = {{{"--json"}, 0}, {{"--json", "--encoding", "utf-8"}, 1}};
    for (const auto& c : cases) {
        const ProcessResult result = RunSlfind(c.args);
        const std::string where = ::testing::PrintToString(c.args) + "\n" + result.out;
        EXPECT_EQ(result.exitCode, 0) << where << result.err;
        std::vector<std::string> lines = Lines(result.out);
        std::sort(lines.begin(), lines.end());
        ASSERT_EQ(lines.size(), 2u) << where;
        const std::string address = R"({"address":")";
        EXPECT_EQ(lines[c.right], address + addresses[c.right] +
                                      R"(","name":"ソルベリオ機0","detail":"1.0.0","mac":")" +
                                      macs[c.right] + "\"}")
            << where;
        EXPECT_EQ(lines[1 - c.right].rfind(address + addresses[1 - c.right] + "\"", 0), 0u)
            << where;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "slwintool.log"));
}

// The device behind the router: slfind.exe finds it by address, by name
// (the pc's hosts file, which Wine's resolver reads) and by a /24; the
// multicast probe alone does not, and says how to search further.
TEST_F(SlfindWine, RoutedDeviceByAddressNameAndRange) {
    const std::string address = Env("SL_DEV3_ADDR").value_or("");
    const std::string name = Env("SL_DEV3_NAME").value_or("");
    SimDevice sim(Env("SL_NS_DEV3").value_or(""), {"--name", "Routed", "--max-delay-ms", "200"},
                  dir_.Path(), "routed");
    ASSERT_TRUE(sim.Ready());
    const std::string line = R"({"address":")" + address + R"(","name":"Routed","detail":"1.0.0"})";
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"--json"}, 1},
        {{"--json", address}, 0},
        {{"--json", name}, 0},
        {{"--json", "--no-multicast", "10.77.1.0/24"}, 0},
        {{"--json", "10.77.0.0/21"}, 2},
    };
    for (const auto& c : cases) {
        const ProcessResult result = RunSlfind(c.args);
        const std::string where = ::testing::PrintToString(c.args) + "\n" + result.err;
        EXPECT_EQ(result.exitCode, c.code) << where;
        EXPECT_EQ(Lines(result.out),
                  c.code == 0 ? std::vector<std::string>{line} : std::vector<std::string>{})
            << where;
        if (c.code == 1) {
            EXPECT_NE(result.err.find("slfind 192.168.20.0/24"), std::string::npos) << where;
        }
    }
}

// slfind.exe --wake: Winsock broadcasts the magic packet on the segment and a
// sleeping device wakes.
TEST_F(SlfindWine, WakesASleepingDevice) {
    const std::string mac = Env("SL_DEV1_MAC").value_or("");
    ASSERT_FALSE(mac.empty());
    SimDevice sim(Env("SL_NS_DEV1").value_or(""), {"--asleep"}, dir_.Path(), "asleep");
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(RunSlfind({"--wake", "00-11-22-33-44"}).exitCode, 2);
    const ProcessResult woken = RunSlfind({"--wake", mac});
    EXPECT_EQ(woken.exitCode, 0) << woken.err;
    EXPECT_TRUE(
        WaitFor([&] { return sim.Record().find(R"("event":"wake","t_ms")") != std::string::npos; },
                std::chrono::seconds(5)))
        << sim.Record();
}

}  // namespace
