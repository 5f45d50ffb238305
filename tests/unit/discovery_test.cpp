#include "finder/discovery/discovery.h"

#include <gtest/gtest.h>

#include "tests/unit/fake_network.h"

using namespace discovery;

namespace {

// ---- ParseServerHeader ----

struct HeaderCase {
    const wchar_t* response;
    const wchar_t* name;
    const wchar_t* detail;
    bool result;
};

class ParseServerHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ParseServerHeaderTest, GivesNameAndDetail) {
    const HeaderCase& c = GetParam();
    std::wstring name;
    std::wstring detail;
    EXPECT_EQ(ParseServerHeader(c.response, name, detail), c.result);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(detail, c.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseServerHeaderTest,
    ::testing::Values(
        HeaderCase{L"HTTP/1.1 200 OK\r\nSERVER: Linux/2.6, UPnP/1.0, Box/MyNas/1.2.0\r\n\r\n",
                   L"MyNas", L"1.2.0", true},
        // Other case, no blank after the colon: not server lines.
        HeaderCase{L"Server: x, y, a/b/c\r\n", L"", L"", true},
        HeaderCase{L"SERVER:x, y, a/b/c\r\n", L"", L"", true},
        // Two fields end the reading.
        HeaderCase{L"SERVER: a, b\r\n", L"", L"", false},
        HeaderCase{L"SERVER: a,b,c/Name/ 1.0 \r\n", L"Name", L"1.0", true},
        HeaderCase{L"SERVER: a,,b,,c/Name/1.0\r\n", L"Name", L"1.0", true},
        // Only one blank is dropped; the first part " c" is not used anyway.
        HeaderCase{L"SERVER: a, b,  c/Name/1.0\r\n", L"Name", L"1.0", true},
        // The second server line wins.
        HeaderCase{L"SERVER: a,b,c/First/1\r\nSERVER: a,b,c/Second/2\r\n", L"Second", L"2", true},
        // A later short line stops the reading and keeps the earlier result.
        HeaderCase{L"SERVER: a,b,c/First/1\r\nSERVER: a,b\r\nSERVER: a,b,c/Third/3\r\n", L"First",
                   L"1", false},
        // The name is kept exactly, blanks included; the detail is trimmed.
        HeaderCase{L"SERVER: a,b,c/ My Nas /\t1.0\t\r\n", L" My Nas ", L"1.0", true},
        // Extra fields and parts are ignored.
        HeaderCase{L"SERVER: a,b,c/N/D/E,f,g\r\n", L"N", L"D", true},
        // Empty parts are skipped.
        HeaderCase{L"SERVER: a,b,c//N///D\r\n", L"N", L"D", true},
        // LF-only line ends, no line end at all, leading empty lines.
        HeaderCase{L"\n\nSERVER: a,b,c/N/D\n", L"N", L"D", true},
        HeaderCase{L"SERVER: a,b,c/N/D", L"N", L"D", true},
        // "SERVER: " anywhere in the line; the value is the line less its
        // first eight characters.
        HeaderCase{L"X-SERVER: a,b,c/N/D\r\n", L"N", L"D", true},
        // No server line, empty answer.
        HeaderCase{L"HTTP/1.1 200 OK\r\n\r\n", L"", L"", true}, HeaderCase{L"", L"", L"", true},
        // Too few "/" parts: a name that may be empty, never the line end.
        HeaderCase{L"SERVER: a,b,c/Name\r\n", L"Name", L"", true},
        HeaderCase{L"SERVER: a,b,Name\r\n", L"", L"", true},
        HeaderCase{L"SERVER: a,b,///\r\n", L"", L"", true},
        // Empty third part after trimming.
        HeaderCase{L"SERVER: a,b,c/Name/ \r\n", L"Name", L"", true},
        // A short third field after a good line replaces its result.
        HeaderCase{L"SERVER: a,b,c/N/D\r\nSERVER: a,b,c\r\n", L"", L"", true},
        // Japanese names pass through unchanged.
        HeaderCase{L"SERVER: Linux, UPnP/1.0, HomeNas/ストレージ一号/2.0\r\n", L"ストレージ一号",
                   L"2.0", true}));

TEST(ParseServerHeader, KeepsInputWhenNoServerLine) {
    std::wstring name = L"old";
    std::wstring detail = L"kept";
    EXPECT_TRUE(ParseServerHeader(L"NOTHING: here\r\n", name, detail));
    EXPECT_EQ(name, L"old");
    EXPECT_EQ(detail, L"kept");
}

TEST(ParseServerHeader, SurvivesOddInput) {
    const std::wstring inputs[] = {L"SERVER: ",
                                   L"SERVER: ,,,",
                                   L"SERVER: a,b, ",
                                   L"SERVER: a,b,/",
                                   std::wstring(L"SERVER: a,b,c/\0/x", 17),
                                   std::wstring(5000, L','),
                                   L"\r\r\r\n\n\n"};
    for (const auto& input : inputs) {
        std::wstring name;
        std::wstring detail;
        // Whatever it makes of the text, nothing it takes lies outside it.
        ParseServerHeader(input, name, detail);
        EXPECT_LE(name.size(), input.size());
        EXPECT_LE(detail.size(), input.size());
    }
}

// ---- Addresses ----

TEST(Ipv4Text, ParsesAndFormats) {
    EXPECT_EQ(ParseIpv4("192.168.1.10"), 0xC0A8010Au);
    EXPECT_EQ(ParseIpv4("239.143.255.250"), 0xEF8FFFFAu);
    EXPECT_EQ(ParseIpv4("0.0.0.0"), 0u);
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.x", "a.b.c.d", "1..2.3", "1.2.3.4 "}) {
        EXPECT_EQ(ParseIpv4(bad), 0xFFFFFFFFu) << bad;
    }
    EXPECT_EQ(FormatIpv4(0xC0A8010Au), L"192.168.1.10");
    EXPECT_EQ(FormatIpv4(0xFFFFFFFFu), L"255.255.255.255");
}

TEST(GetLocalIPv4Addresses, FiltersAsDesigned) {
    FakeNetwork net;
    net.unicast = {"fe80::1%2", "192.168.1.10", "127.0.0.1", "::1",         "0.0.0.0",
                   "127.0.0.2", "169.254.1.1",  "10.0.0.5",  "192.168.1.10"};
    std::vector<std::wstring> addresses{L"earlier"};
    EXPECT_TRUE(GetLocalIPv4Addresses(net, addresses));
    EXPECT_EQ(addresses, (std::vector<std::wstring>{L"earlier", L"192.168.1.10", L"127.0.0.2",
                                                    L"169.254.1.1", L"10.0.0.5", L"192.168.1.10"}));
}

TEST(GetLocalIPv4Addresses, FailureLeavesListUnchanged) {
    FakeNetwork net;
    net.listOk = false;
    net.unicast = {"10.0.0.1"};
    std::vector<std::wstring> addresses;
    EXPECT_FALSE(GetLocalIPv4Addresses(net, addresses));
    EXPECT_TRUE(addresses.empty());
}

// ---- Probe ----

TEST(SearchProbe, IsTheExactBytes) {
    const std::string expected =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\n"
        "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
        "MAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n";
    EXPECT_EQ(std::string(kSearchProbe), expected);
    EXPECT_EQ(kSearchProbe.size(), 129u);
}

TEST(SendSearchProbe, OneSocketPerAddressFromConsecutivePorts) {
    FakeNetwork net;
    const std::vector<std::wstring> addresses{L"198.18.0.1", L"198.19.0.1", L"10.1.2.3"};
    ProbeSockets probe;
    EXPECT_TRUE(SendSearchProbe(net, addresses, probe));
    ASSERT_EQ(probe.size(), 3u);
    ASSERT_EQ(net.sends.size(), 3u);
    const std::uint32_t expected[] = {0xC6120001u, 0xC6130001u, 0x0A010203u};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(probe[i].local.port, 18300 + i);
        EXPECT_EQ(probe[i].local.address, expected[i]);
        EXPECT_EQ(net.bound[probe[i].socket.Get()],
                  std::make_pair(expected[i], static_cast<std::uint16_t>(18300 + i)));
        EXPECT_EQ(net.sends[i].socket, probe[i].socket.Get());
        EXPECT_EQ(net.sends[i].bytes, std::string(kSearchProbe));
        EXPECT_EQ(net.sends[i].address, 0xEF8FFFFAu);
        EXPECT_EQ(net.sends[i].port, 1900);
    }
    probe.clear();
    EXPECT_EQ(net.closed, net.opened);
}

TEST(SendSearchProbe, FailedSocketTakesNoPart) {
    FakeNetwork net;
    net.failOpen = {1};
    ProbeSockets probe;
    EXPECT_TRUE(SendSearchProbe(net, {L"10.0.0.1", L"10.0.0.2", L"10.0.0.3"}, probe));
    ASSERT_EQ(probe.size(), 3u);
    EXPECT_FALSE(probe[1].socket);
    EXPECT_EQ(net.sends.size(), 2u);
    EXPECT_EQ(net.bound[probe[2].socket.Get()].second, 18302);
    probe.clear();
    EXPECT_EQ(net.closed.size(), 2u);
}

TEST(SendSearchProbe, UnresolvedGroupMakesNothing) {
    FakeNetwork net;
    net.resolveOk = false;
    ProbeSockets probe;
    EXPECT_FALSE(SendSearchProbe(net, {L"10.0.0.1"}, probe));
    EXPECT_TRUE(probe.empty());
    EXPECT_TRUE(net.opened.empty());
    EXPECT_TRUE(net.sends.empty());
}

// ---- Receive cycle ----

TEST(ReceiveSearchResponses, AtMostOneDatagramPerSocketAndCycle) {
    FakeNetwork net;
    net.arrivals = {
        {{0, {"192.168.1.20", "A"}}, {0, {"192.168.1.21", "B"}}, {1, {"192.168.1.22", "C"}}}};
    const std::vector<SocketId> sockets{100, 101};
    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    EXPECT_TRUE(ReceiveSearchResponses(net, sockets, responses, senders));
    EXPECT_EQ(responses, (std::vector<std::wstring>{L"A", L"C"}));
    EXPECT_EQ(senders, (std::vector<std::wstring>{L"192.168.1.20", L"192.168.1.22"}));
    responses.clear();
    senders.clear();
    EXPECT_TRUE(ReceiveSearchResponses(net, sockets, responses, senders));
    EXPECT_EQ(responses, (std::vector<std::wstring>{L"B"}));
    EXPECT_EQ(senders, (std::vector<std::wstring>{L"192.168.1.21"}));
    responses.clear();
    senders.clear();
    EXPECT_FALSE(ReceiveSearchResponses(net, sockets, responses, senders));
    EXPECT_TRUE(responses.empty());
}

TEST(ReceiveSearchResponses, TextEndsAtZeroByteOrDatagramEnd) {
    FakeNetwork net;
    std::string full(kReceiveBufferSize, 'x');
    net.arrivals = {{{0, {"10.0.0.9", std::string("ab\0cd", 5)}},
                     {1, {"10.0.0.8", full}},
                     {2, {"10.0.0.7", "", true}},
                     {3, {"10.0.0.6", std::string("\0zz", 3)}}}};
    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    EXPECT_TRUE(ReceiveSearchResponses(net, {100, 101, 102, 103}, responses, senders));
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_EQ(responses[0], L"ab");
    EXPECT_EQ(responses[1], std::wstring(kReceiveBufferSize, L'x'));
    EXPECT_EQ(responses[2], L"");  // a datagram that starts with a zero byte
    EXPECT_EQ(senders, (std::vector<std::wstring>{L"10.0.0.9", L"10.0.0.8", L"10.0.0.6"}));
}

TEST(ReceiveSearchResponses, CountsReadySocketsEvenWhenTheReadFails) {
    FakeNetwork net;
    net.arrivals = {{{0, {"10.0.0.7", "", true}}}, {}};
    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    std::size_t ready = 99;
    EXPECT_FALSE(ReceiveSearchResponses(net, {100, 101}, responses, senders, &ready));
    EXPECT_EQ(ready, 1u);
    EXPECT_FALSE(ReceiveSearchResponses(net, {100, 101}, responses, senders, &ready));
    EXPECT_EQ(ready, 0u);
}

TEST(ReceiveSearchResponses, SkipsInvalidAndDuplicateSocketsAndCapsTheSet) {
    FakeNetwork net;
    std::vector<SocketId> sockets{kInvalidSocket, 100, 100};
    for (SocketId s = 101; s < 180; ++s) {
        sockets.push_back(s);
    }
    net.arrivals = {{{0, {"10.0.0.1", "one"}}, {0, {"10.0.0.1", "two"}}}};
    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    EXPECT_TRUE(ReceiveSearchResponses(net, sockets, responses, senders));
    EXPECT_EQ(responses, (std::vector<std::wstring>{L"one"}));
    ASSERT_EQ(net.watched.size(), 1u);
    EXPECT_EQ(net.watched[0].size(), kMaxWatchedSockets);
    EXPECT_EQ(net.watched[0].front(), 100);
}

TEST(ReceiveSearchResponses, NoSocketsGivesZeroAtOnce) {
    FakeNetwork net;
    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    EXPECT_FALSE(ReceiveSearchResponses(net, {}, responses, senders));
    EXPECT_FALSE(ReceiveSearchResponses(net, {kInvalidSocket}, responses, senders));
    EXPECT_EQ(net.waits, 0);
}

}  // namespace
