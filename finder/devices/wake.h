// Wake-on-LAN: where a device's magic packet goes and the sending of it. A
// sleeping network card listens for the packet at the link layer, so it is
// broadcast on the device's subnet: from every local address whose subnet
// holds the device's last address, to that subnet's broadcast address and to
// 255.255.255.255; a device behind a router only through its subnet's
// directed broadcast, which the router must forward (many do not).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "finder/devices/mac_address.h"

namespace devices {

inline constexpr std::uint16_t kWakePort = 9;
inline constexpr int kWakeRounds = 3;
inline constexpr std::chrono::milliseconds kWakeGap{100};
inline constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;

// A local IPv4 address and its subnet mask (host byte order).
struct LocalSubnet {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
};

// One datagram of a wake: from source (0: the address the routes choose) to
// destination, both in host byte order.
struct WakeSend {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    bool operator==(const WakeSend&) const = default;
};

// The datagrams of one round. via, when given, is the only destination (the
// directed broadcast of a subnet behind a router). Else a last address inside
// local subnets goes to those subnets; a last address in none of them to its
// /24's directed broadcast; no address at all to every local subnet.
std::vector<WakeSend> PlanWake(const std::vector<LocalSubnet>& locals,
                               std::optional<std::uint32_t> lastAddress,
                               std::optional<std::uint32_t> via);

// A destination for a device behind a router: an IPv4 address as it stands
// ("10.77.255.255") or a subnet whose broadcast address is meant
// ("10.77.0.0/16", prefix 8 to 30). Loopback, multicast, 0.0.0.0/8 and
// 255.255.255.255 are refused.
std::optional<std::uint32_t> ParseWakeVia(std::wstring_view text);

class IWakeNetwork {
  public:
    virtual ~IWakeNetwork() = default;
    // The IPv4 addresses of the interfaces that are up, loopback aside.
    virtual bool ListSubnets(std::vector<LocalSubnet>& subnets) = 0;
    // One UDP datagram, broadcast allowed. False when it was not sent.
    virtual bool Send(const WakeSend& send, std::uint16_t port,
                      std::span<const std::uint8_t> bytes) = 0;
    virtual void Pause(std::chrono::milliseconds time) = 0;
};

// Winsock and IP Helper on Windows, BSD sockets and getifaddrs elsewhere.
std::unique_ptr<IWakeNetwork> MakeSystemWakeNetwork();

// kWakeRounds rounds of the plan's datagrams, kWakeGap apart. The number of
// datagrams sent.
std::size_t SendWake(IWakeNetwork& net, const MacAddress& mac, const std::vector<WakeSend>& plan);

// Lists the subnets, plans and sends: the number of datagrams sent.
std::size_t Wake(IWakeNetwork& net, const MacAddress& mac, std::optional<std::uint32_t> lastAddress,
                 std::optional<std::uint32_t> via);

// The hardware address of an IPv4 neighbour (host byte order) as the system's
// neighbour table holds it: known only for a device on a local subnet that
// has recently exchanged packets with this computer.
std::optional<MacAddress> NeighbourMac(std::uint32_t address);

}  // namespace devices
