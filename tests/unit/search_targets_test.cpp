// Search targets: what is accepted and refused, the addresses a target
// stands for, and the remembered list's limits.
#include "finder/discovery/search_targets.h"

#include <gtest/gtest.h>

using namespace discovery;

namespace {

TEST(SearchTargets, ParseAcceptsAndRefuses) {
    const struct {
        std::wstring text;
        TargetError error;
        TargetKind kind;
        std::wstring canonical;
    } cases[] = {
        {L"192.168.20.5", TargetError::None, TargetKind::Address, L"192.168.20.5"},
        {L"  10.0.0.1 ", TargetError::None, TargetKind::Address, L"10.0.0.1"},
        {L"010.000.0.1", TargetError::None, TargetKind::Address, L"10.0.0.1"},
        {L"NAS-1.Example.lan", TargetError::None, TargetKind::Name, L"nas-1.example.lan"},
        {L"nas.", TargetError::None, TargetKind::Name, L"nas."},
        {L"192.168.20.7/24", TargetError::None, TargetKind::Range, L"192.168.20.0/24"},
        {L"10.1.4.0/22", TargetError::None, TargetKind::Range, L"10.1.4.0/22"},
        {L"10.1.4.9/32", TargetError::None, TargetKind::Range, L"10.1.4.9/32"},
        {L"", TargetError::Malformed, {}, L""},
        {L"192.168.1", TargetError::Malformed, {}, L""},
        {L"192.168.1.256", TargetError::Malformed, {}, L""},
        {L"1.2.3.4.5", TargetError::Malformed, {}, L""},
        {L"1.2.3.4/33", TargetError::Malformed, {}, L""},
        {L"1.2.3.4/", TargetError::Malformed, {}, L""},
        {L"-nas", TargetError::Malformed, {}, L""},
        {L"nas..lan", TargetError::Malformed, {}, L""},
        {L"nas lan", TargetError::Malformed, {}, L""},
        {L"nas;rm", TargetError::Malformed, {}, L""},
        {L"\x30BD\x30EB.lan", TargetError::Malformed, {}, L""},
        {L"http://10.0.0.1/", TargetError::Malformed, {}, L""},
        {L"::1", TargetError::Malformed, {}, L""},
        {std::wstring(64, L'a'), TargetError::Malformed, {}, L""},
        {L"127.0.0.1", TargetError::Loopback, {}, L""},
        {L"127.1.0.0/24", TargetError::Loopback, {}, L""},
        {L"239.143.255.250", TargetError::Multicast, {}, L""},
        {L"224.0.0.0/24", TargetError::Multicast, {}, L""},
        {L"255.255.255.255", TargetError::Broadcast, {}, L""},
        {L"255.255.255.255/32", TargetError::Broadcast, {}, L""},
        {L"0.0.0.0", TargetError::ZeroNetwork, {}, L""},
        {L"0.1.2.0/24", TargetError::ZeroNetwork, {}, L""},
        {L"10.0.0.0/21", TargetError::TooWide, {}, L""},
        {L"10.0.0.0/8", TargetError::TooWide, {}, L""},
    };
    for (const auto& c : cases) {
        SearchTarget target;
        EXPECT_EQ(ParseTarget(c.text, target), c.error) << testing::PrintToString(c.text);
        if (c.error == TargetError::None) {
            EXPECT_EQ(target.kind, c.kind);
            EXPECT_EQ(target.text, c.canonical);
        } else {
            // The message names what was typed.
            EXPECT_NE(TargetErrorMessage(c.error, c.text).find(L"'" + c.text.substr(0, 8)),
                      std::wstring::npos);
        }
    }
}

TEST(SearchTargets, AddressesOfARange) {
    const struct {
        std::wstring text;
        std::size_t count;
        std::uint32_t first;
        std::uint32_t last;
    } cases[] = {
        {L"10.0.0.9", 1, 0x0A000009, 0x0A000009},
        {L"10.0.0.9/32", 1, 0x0A000009, 0x0A000009},
        {L"10.0.0.8/31", 2, 0x0A000008, 0x0A000009},
        {L"10.0.0.8/30", 2, 0x0A000009, 0x0A00000A},
        {L"192.168.20.0/24", 254, 0xC0A81401, 0xC0A814FE},
        {L"10.1.4.0/22", 1022, 0x0A010401, 0x0A0107FE},
        {L"255.255.255.254/31", 1, 0xFFFFFFFE, 0xFFFFFFFE},
    };
    for (const auto& c : cases) {
        SearchTarget target;
        ASSERT_EQ(ParseTarget(c.text, target), TargetError::None);
        const auto addresses = TargetAddresses(target);
        ASSERT_EQ(addresses.size(), c.count) << testing::PrintToString(c.text);
        EXPECT_EQ(addresses.front(), c.first);
        EXPECT_EQ(addresses.back(), c.last);
    }
}

TEST(SearchTargets, RememberedListSkipsBadEntriesAndKeepsItsLimits) {
    EXPECT_EQ(ParseTargetList(L" 10.0.0.1 ;;bad name;10.0.0.1;NAS.lan;127.0.0.1;10.0.1.0/24"),
              (std::vector<std::wstring>{L"10.0.0.1", L"nas.lan", L"10.0.1.0/24"}));
    EXPECT_EQ(FormatTargetList({L"10.0.0.1", L"nas.lan"}), L"10.0.0.1;nas.lan");
    EXPECT_TRUE(ParseTargetList(L"").empty());

    std::wstring many;
    for (int i = 1; i <= 40; ++i) {
        many += L"10.0.0." + std::to_wstring(i) + L";";
    }
    EXPECT_EQ(ParseTargetList(many).size(), kMaxRememberedTargets);

    // 20 names of 60 characters: 1,220 characters joined, so 16 fit.
    std::wstring longNames;
    for (int i = 0; i < 20; ++i) {
        longNames += std::wstring(56, L'a' + i) + L".lan;";
    }
    const auto kept = ParseTargetList(longNames);
    EXPECT_EQ(kept.size(), 16u);
    EXPECT_LE(FormatTargetList(kept).size(), kMaxRememberedChars);
}

TEST(SearchTargets, AddToList) {
    std::vector<std::wstring> list;
    EXPECT_EQ(AddTargetToList(L"10.0.0.1", list), AddTargetResult::Added);
    EXPECT_EQ(AddTargetToList(L" 10.0.0.1", list), AddTargetResult::AlreadyThere);
    EXPECT_EQ(AddTargetToList(L"10.0.0.0/8", list), AddTargetResult::Invalid);
    for (int i = 2; i <= 32; ++i) {
        ASSERT_EQ(AddTargetToList(L"10.0.0." + std::to_wstring(i), list), AddTargetResult::Added);
    }
    EXPECT_EQ(AddTargetToList(L"10.0.1.1", list), AddTargetResult::Full);
    EXPECT_EQ(list.size(), 32u);
}

}  // namespace
