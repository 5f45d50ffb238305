// Remembered devices and Wake-on-LAN: the magic packet, hardware addresses
// as typed and written, the remembered list and its file, and where and how
// often a wake is sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "finder/devices/mac_address.h"
#include "finder/devices/remembered_devices.h"
#include "finder/devices/wake.h"
#include "finder/devices/wake_dialog_logic.h"

using namespace devices;

namespace {

constexpr MacAddress kMac{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
constexpr MacAddress kOtherMac{0x02, 0x5E, 0x1B, 0x00, 0x01, 0x01};

TEST(Devices, MagicPacketIsSixFfThenTheAddressSixteenTimes) {
    const MagicPacket packet = BuildMagicPacket(kMac);
    ASSERT_EQ(packet.size(), 102u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(packet[i], 0xFF) << i;
    }
    for (std::size_t i = 6; i < packet.size(); ++i) {
        EXPECT_EQ(packet[i], kMac[(i - 6) % 6]) << i;
    }
}

TEST(Devices, MacParsingAndFormats) {
    const struct {
        std::wstring text;
        bool accepted;
    } cases[] = {
        {L"00-11-22-aa-bb-cc", true},
        {L"00:11:22:AA:BB:CC", true},
        {L"001122aAbBcC", true},
        {L" 00-11-22-AA-BB-CC\t", true},
        {L"", false},
        {L"00-11-22-AA-BB", false},
        {L"00-11-22-AA-BB-CC-DD", false},
        {L"00:11-22:AA:BB:CC", false},
        {L"00.11.22.AA.BB.CC", false},
        {L"00-11-22-AA-BB-CG", false},
        {L"0-11-22-AA-BB-CCC", false},
        {L"00 11 22 AA BB CC", false},
        {L"\xFF10\xFF10-11-22-AA-BB-CC", false},
    };
    for (const auto& c : cases) {
        const auto mac = ParseMac(c.text);
        EXPECT_EQ(mac.has_value(), c.accepted) << std::string(c.text.begin(), c.text.end());
        if (mac) {
            EXPECT_EQ(*mac, kMac);
        }
    }
    EXPECT_EQ(FormatMacUpper(kMac), L"00-11-22-AA-BB-CC");
    EXPECT_EQ(FormatMacLower(kMac), L"00:11:22:aa:bb:cc");
}

TEST(Devices, RememberKeysByMacElseByAddress) {
    const struct {
        const char* what;
        std::vector<RememberedDevice> before;
        std::wstring address;
        std::optional<MacAddress> mac;
        std::vector<RememberedDevice> after;
    } cases[] = {
        {"new device", {}, L"10.0.0.5", kMac, {{L"10.0.0.5", L"N", L"D", kMac, 100}}},
        {"address changed under DHCP",
         {{L"10.0.0.5", L"old", L"d", kMac, 50}},
         L"10.0.0.9",
         kMac,
         {{L"10.0.0.9", L"N", L"D", kMac, 100}}},
        {"behind a router keeps its MAC",
         {{L"10.0.0.5", L"old", L"d", kMac, 50}},
         L"10.0.0.5",
         std::nullopt,
         {{L"10.0.0.5", L"N", L"D", kMac, 100}}},
        {"MAC learned later",
         {{L"10.0.0.5", L"old", L"d", std::nullopt, 50}},
         L"10.0.0.5",
         kMac,
         {{L"10.0.0.5", L"N", L"D", kMac, 100}}},
        {"another device on a reused address",
         {{L"10.0.0.5", L"old", L"d", kOtherMac, 50}},
         L"10.0.0.5",
         kMac,
         {{L"10.0.0.5", L"old", L"d", kOtherMac, 50}, {L"10.0.0.5", L"N", L"D", kMac, 100}}},
        {"address-only entry merged into the MAC's",
         {{L"10.0.0.9", L"old", L"d", kMac, 40}, {L"10.0.0.5", L"x", L"d", std::nullopt, 50}},
         L"10.0.0.5",
         kMac,
         {{L"10.0.0.5", L"N", L"D", kMac, 100}}},
    };
    for (const auto& c : cases) {
        std::vector<RememberedDevice> list = c.before;
        Remember(list, c.address, L"N", L"D", c.mac, 100);
        EXPECT_EQ(list, c.after) << c.what;
    }
}

TEST(Devices, RememberDropsTheLongestUnseenBeyond64) {
    std::vector<RememberedDevice> list;
    for (int i = 0; i < 64; ++i) {
        // Seen in a shuffled order: device 17 is the one seen longest ago.
        const UnixSeconds seen = i == 17 ? 1 : 1000 + (i * 37) % 64;
        Remember(list, L"10.0.0." + std::to_wstring(i + 1), L"n", L"", std::nullopt, seen);
    }
    ASSERT_EQ(list.size(), 64u);
    Remember(list, L"10.0.1.1", L"n", L"", std::nullopt, 5000);
    ASSERT_EQ(list.size(), kMaxRemembered);
    for (const auto& d : list) {
        EXPECT_NE(d.address, L"10.0.0.18");
    }
    EXPECT_EQ(list.back().address, L"10.0.1.1");
}

TEST(Devices, UtcTimes) {
    const struct {
        std::wstring text;
        std::optional<UnixSeconds> time;
    } cases[] = {
        {L"1970-01-01T00:00:00Z", 0},
        {L"2026-12-09T17:06:04Z", 1796835964},
        {L"2024-02-29T23:59:59Z", 1709251199},
        {L"2100-03-01T00:00:00Z", 4107542400},
        {L"2023-02-29T00:00:00Z", std::nullopt},
        {L"2026-12-09 17:06:04Z", std::nullopt},
        {L"2026-12-09T17:06:04", std::nullopt},
        {L"2026-13-09T17:06:04Z", std::nullopt},
        {L"2026-12-09T24:00:00Z", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseUtc(c.text), c.time) << std::string(c.text.begin(), c.text.end());
        if (c.time) {
            EXPECT_EQ(FormatUtc(*c.time), c.text);
        }
    }
}

class DevicesFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("sldev-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "devices.ini").wstring();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void Put(const std::string& bytes) {
        std::ofstream(std::filesystem::path(file_), std::ios::binary) << bytes;
    }

    std::filesystem::path dir_;
    std::wstring file_;
};

TEST_F(DevicesFile, RoundTripsAndIsRewrittenWhole) {
    const std::vector<RememberedDevice> list = {
        {L"198.18.1.1", L"\x30BD\x30EB\x30D9\x30EA\x30AA \"nas\" ", L"1.0.0", kMac, 1796835964},
        {L"10.77.1.1", L" routed", L"", std::nullopt, 1796835000},
    };
    Put("[Device1]\r\nAddress=garbage\r\n[Other]\r\nKey=kept?\r\n");
    ASSERT_TRUE(SaveDevices(file_, list));
    EXPECT_EQ(LoadDevices(file_), list);
    EXPECT_FALSE(std::filesystem::exists(file_ + L".tmp"));
    std::ifstream in(std::filesystem::path(file_), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("Other"), std::string::npos);
    EXPECT_NE(text.find("MAC=00-11-22-AA-BB-CC\r\nLastSeen=2026-12-09T17:06:04Z\r\n"),
              std::string::npos);
}

TEST_F(DevicesFile, DamagedCountsAsEmpty) {
    const std::string good = "[Device1]\r\nAddress=10.0.0.1\r\nLastSeen=2026-12-09T17:06:04Z\r\n";
    const struct {
        const char* what;
        std::string text;
        std::size_t devices;
    } cases[] = {
        {"good", good, 1},
        {"good, then a gap", good + "[Device3]\r\nAddress=10.0.0.3\r\n", 1},
        {"no address", "[Device1]\r\nLastSeen=2026-12-09T17:06:04Z\r\n", 0},
        {"bad address", "[Device1]\r\nAddress=10.0.0\r\nLastSeen=2026-12-09T17:06:04Z\r\n", 0},
        {"bad time", "[Device1]\r\nAddress=10.0.0.1\r\nLastSeen=yesterday\r\n", 0},
        {"bad MAC",
         good +
             "[Device2]\r\nAddress=10.0.0.2\r\nMAC=00-11\r\nLastSeen=" + "2026-12-09T17:06:04Z\r\n",
         0},
        {"not UTF-8", good + "Name=\xff\xfe\r\n", 0},
        {"binary", std::string("\0\x01\x02[Device1]", 12), 0},
    };
    for (const auto& c : cases) {
        Put(c.text);
        EXPECT_EQ(LoadDevices(file_).size(), c.devices) << c.what;
    }
    EXPECT_TRUE(LoadDevices((dir_ / "missing.ini").wstring()).empty());
}

TEST(Devices, WakePlans) {
    const std::vector<LocalSubnet> locals = {{0xC6120001, 0xFFFF0000},   // 198.18.0.1/16
                                             {0xC6130001, 0xFFFF0000}};  // 198.19.0.1/16
    const struct {
        const char* what;
        std::optional<std::uint32_t> last;
        std::optional<std::uint32_t> via;
        std::vector<WakeSend> plan;
    } cases[] = {
        {"on a local subnet",
         0xC6120101,
         std::nullopt,
         {{0xC6120001, 0xC612FFFF}, {0xC6120001, kLimitedBroadcast}}},
        {"no address: every subnet",
         std::nullopt,
         std::nullopt,
         {{0xC6120001, 0xC612FFFF},
          {0xC6120001, kLimitedBroadcast},
          {0xC6130001, 0xC613FFFF},
          {0xC6130001, kLimitedBroadcast}}},
        {"behind a router", 0x0A4D0101, std::nullopt, {{0, 0x0A4D01FF}}},
        {"through a via address", 0xC6120101, 0x0A4DFFFF, {{0, 0x0A4DFFFF}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlanWake(locals, c.last, c.via), c.plan) << c.what;
    }
}

TEST(Devices, WakeViaAddresses) {
    const struct {
        std::wstring text;
        std::optional<std::uint32_t> via;
    } cases[] = {
        {L"10.77.255.255", 0x0A4DFFFF},  {L"10.77.1.1/16", 0x0A4DFFFF},
        {L"192.168.5.0/24", 0xC0A805FF}, {L"10.77.1.1", 0x0A4D0101},
        {L"10.77.1.1/31", std::nullopt}, {L"10.77.1.1/7", std::nullopt},
        {L"10.77.1.1/", std::nullopt},   {L"127.0.0.1", std::nullopt},
        {L"239.1.1.1", std::nullopt},    {L"255.255.255.255", std::nullopt},
        {L"0.1.2.3", std::nullopt},      {L"nas.lan", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseWakeVia(c.text), c.via) << std::string(c.text.begin(), c.text.end());
    }
}

class RecordingWakeNetwork final : public IWakeNetwork {
  public:
    bool ListSubnets(std::vector<LocalSubnet>& subnets) override {
        subnets.push_back({0xC6120001, 0xFFFF0000});
        return true;
    }
    bool Send(const WakeSend& send, std::uint16_t port,
              std::span<const std::uint8_t> bytes) override {
        events.push_back("send " + std::to_string(send.destination) + ":" + std::to_string(port) +
                         " " + std::to_string(bytes.size()));
        return true;
    }
    void Pause(std::chrono::milliseconds time) override {
        events.push_back("pause " + std::to_string(time.count()));
    }
    std::vector<std::string> events;
};

TEST(Devices, WakeSendsThreeRoundsAHundredMillisecondsApart) {
    RecordingWakeNetwork net;
    EXPECT_EQ(Wake(net, kMac, 0xC6120101, std::nullopt), 6u);
    const std::string subnet = "send " + std::to_string(0xC612FFFFu) + ":9 102";
    const std::string limited = "send " + std::to_string(kLimitedBroadcast) + ":9 102";
    EXPECT_EQ(net.events, (std::vector<std::string>{subnet, limited, "pause 100", subnet, limited,
                                                    "pause 100", subnet, limited}));
}

TEST(Devices, WakeDialogOffersTheUnlistedSeenLastFirst) {
    const std::vector<RememberedDevice> remembered = {{L"10.0.0.1", L"a", L"", kMac, 10},
                                                      {L"10.0.0.2", L"b", L"", std::nullopt, 30},
                                                      {L"10.0.0.3", L"c", L"", kOtherMac, 20}};
    const auto offered = DevicesNotListed(remembered, {L"10.0.0.2"});
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].name, L"c");
    EXPECT_EQ(offered[1].name, L"a");
    EXPECT_EQ(RefusedMacMessage(L"00-11-zz").rfind(L"「00-11-zz」は MAC アドレスではありません", 0),
              0u);
}

}  // namespace
