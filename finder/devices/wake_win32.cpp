// The wake's sockets and the neighbour table on Windows: Winsock, and IP
// Helper's GetAdaptersAddresses and GetIpNetTable2.
// winsock2.h must come before the headers that build on it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <cstring>
#include <memory>
#include <thread>

#include "finder/devices/wake.h"
#include "finder/discovery/net_shared.h"
#include "platform/unique_handle.h"

namespace devices {

namespace {

using UniqueSocket = plat::UniqueHandle<SOCKET, ::closesocket, -1>;
using UniqueMibTable = plat::UniqueHandle<MIB_IPNET_TABLE2*, ::FreeMibTable>;

class WinsockWakeNetwork final : public IWakeNetwork {
  public:
    WinsockWakeNetwork() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockWakeNetwork() override {
        if (started_) {
            WSACleanup();
        }
    }
    WinsockWakeNetwork(const WinsockWakeNetwork&) = delete;
    WinsockWakeNetwork& operator=(const WinsockWakeNetwork&) = delete;

    bool ListSubnets(std::vector<LocalSubnet>& subnets) override {
        constexpr ULONG kFlags =
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
        ULONG size = 16 * 1024;
        std::vector<unsigned char> buffer;
        ULONG result = ERROR_BUFFER_OVERFLOW;
        // The list may grow between two calls; ask again a few times.
        for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
            buffer.assign(size, 0);
            result =
                GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                     reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
        if (result != ERROR_SUCCESS) {
            return false;
        }
        for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
             adapter != nullptr; adapter = adapter->Next) {
            if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK ||
                adapter->OperStatus != IfOperStatusUp) {
                continue;
            }
            for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
                 unicast = unicast->Next) {
                const sockaddr* sa = unicast->Address.lpSockaddr;
                if (sa == nullptr || sa->sa_family != AF_INET || unicast->OnLinkPrefixLength > 32) {
                    continue;
                }
                const ULONG prefix = unicast->OnLinkPrefixLength;
                const std::uint32_t mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
                subnets.push_back(LocalSubnet{
                    ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr), mask});
            }
        }
        return true;
    }

    bool Send(const WakeSend& send, std::uint16_t port,
              std::span<const std::uint8_t> bytes) override {
        const UniqueSocket owner(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!owner) {
            return false;
        }
        const SOCKET s = owner.Get();
        const BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
        bool ok = true;
        if (send.source != 0) {
            const sockaddr_in local = discovery::Endpoint(send.source, 0);
            ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
        }
        if (ok) {
            const sockaddr_in to = discovery::Endpoint(send.destination, port);
            ok = sendto(s, reinterpret_cast<const char*>(bytes.data()),
                        static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<int>(bytes.size());
        }
        return ok;
    }

    void Pause(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }

  private:
    bool started_ = false;
};

}  // namespace

std::unique_ptr<IWakeNetwork> MakeSystemWakeNetwork() {
    return std::make_unique<WinsockWakeNetwork>();
}

std::optional<MacAddress> NeighbourMac(std::uint32_t address) {
    // NO_ERROR, or ERROR_NOT_FOUND for an empty table.
    UniqueMibTable owner;
    if (GetIpNetTable2(AF_INET, owner.Put()) != NO_ERROR || !owner) {
        return std::nullopt;
    }
    const MIB_IPNET_TABLE2* table = owner.Get();
    std::optional<MacAddress> found;
    const std::uint32_t wanted = htonl(address);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.Address.si_family != AF_INET || row.Address.Ipv4.sin_addr.s_addr != wanted ||
            row.PhysicalAddressLength != sizeof(MacAddress) || row.State == NlnsUnreachable ||
            row.State == NlnsIncomplete) {
            continue;
        }
        MacAddress mac{};
        std::memcpy(mac.data(), row.PhysicalAddress, mac.size());
        if (mac != MacAddress{}) {
            found = mac;
        }
    }
    return found;
}

}  // namespace devices
