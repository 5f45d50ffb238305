// The discovery probe and its answers: local addresses, probe sockets, one
// receive cycle, and the name in an answer's SERVER header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "finder/discovery/discovery_net.h"
#include "platform/text.h"

namespace discovery {

inline constexpr char kGroupAddress[] = "239.143.255.250";
inline constexpr std::uint16_t kGroupPort = 1900;
inline constexpr std::uint16_t kFirstLocalPort = 18300;
inline constexpr std::size_t kReceiveBufferSize = 4096;
inline constexpr std::size_t kMaxWatchedSockets = 64;
inline constexpr std::chrono::milliseconds kCycleWait{3000};
// A search ends at the latest this long after its probe, as if its cycle had
// been silent, so a device that never stops answering cannot hold it open.
inline constexpr std::chrono::milliseconds kSearchLimit{30000};
// Asked for on every probe socket, so that a burst of answers queued on one
// socket survives until the cycles have read it, one per cycle.
inline constexpr int kProbeReceiveBuffer = 1 << 20;

// The probe, 129 bytes without a terminating zero.
inline constexpr std::string_view kSearchProbe =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
static_assert(kSearchProbe.size() == 129);

struct Ipv4Endpoint {
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;
};

// The probe socket of local address i: bound to that address and port
// 18300 + i; none when it could not be opened.
struct ProbeSocket {
    NetSocket socket;
    Ipv4Endpoint local;
};
// The probe sockets of one search, entry i for local address i; closed when
// the table goes or is emptied.
using ProbeSockets = std::vector<ProbeSocket>;
// Their sockets, in order (invalid ones included), as the receive cycles watch them.
std::vector<SocketId> SocketsOf(const ProbeSockets& probe);

// Dotted decimal as inet_addr reads it in its plain form; 0xFFFFFFFF (the
// broadcast address, as inet_addr) when the text is not an address.
std::uint32_t ParseIpv4(std::string_view text);
std::wstring FormatIpv4(std::uint32_t address);

// Appends the qualifying local IPv4 addresses in order. True if the adapter
// list was read (else the list is unchanged).
bool GetLocalIPv4Addresses(INetwork& net, std::vector<std::wstring>& addresses);

// One socket per address bound to (address, 18300 + index); the probe is sent
// once through each. True once every socket was tried, false if the group
// did not resolve (no socket made).
bool SendSearchProbe(INetwork& net, const std::vector<std::wstring>& addresses,
                     ProbeSockets& probe);

// One receive cycle: at most one datagram per ready socket, appended to the
// two lists at equal indices. True if responses holds a text afterwards.
// readyCount, when given, gets the number of sockets that were ready, read
// successfully or not: a cycle whose only datagram could not be read (too
// long, or an error report) was not silent. wait: the longest wait for the
// first datagram (shorter only for the last cycle of a search). encoding:
// how the answers' bytes are read.
bool ReceiveSearchResponses(INetwork& net, const std::vector<SocketId>& sockets,
                            std::vector<std::wstring>& responses,
                            std::vector<std::wstring>& senders, std::size_t* readyCount = nullptr,
                            std::chrono::milliseconds wait = kCycleWait,
                            plat::TextEncoding encoding = plat::TextEncoding::Ansi);

// Consecutive cycles of unreadable datagrams only after which a search ends
// all the same, so a socket that keeps failing cannot hold it forever.
inline constexpr int kMaxUnreadableCycles = 64;

// Name and detail from the SERVER header lines of one answer; a later line
// overrides an earlier one. False when the reading stopped at a line with
// fewer than three fields (name and detail keep what they held).
bool ParseServerHeader(const std::wstring& response, std::wstring& name, std::wstring& detail);

}  // namespace discovery
