// The wake's sockets and the neighbour table on Linux: getifaddrs, BSD
// sockets and a netlink dump of the IPv4 neighbours (RTM_GETNEIGH).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>

#include "finder/devices/wake.h"
#include "finder/discovery/net_shared.h"
#include "platform/posix_fd.h"

namespace devices {

namespace {

class PosixWakeNetwork final : public IWakeNetwork {
  public:
    bool ListSubnets(std::vector<LocalSubnet>& subnets) override {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            return false;
        }
        std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, &freeifaddrs);
        for (const ifaddrs* e = list; e != nullptr; e = e->ifa_next) {
            if (e->ifa_addr == nullptr || e->ifa_netmask == nullptr ||
                e->ifa_addr->sa_family != AF_INET || (e->ifa_flags & IFF_LOOPBACK) != 0 ||
                (e->ifa_flags & IFF_UP) == 0) {
                continue;
            }
            subnets.push_back(LocalSubnet{
                ntohl(reinterpret_cast<const sockaddr_in*>(e->ifa_addr)->sin_addr.s_addr),
                ntohl(reinterpret_cast<const sockaddr_in*>(e->ifa_netmask)->sin_addr.s_addr)});
        }
        return true;
    }

    bool Send(const WakeSend& send, std::uint16_t port,
              std::span<const std::uint8_t> bytes) override {
        const plat::UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
        if (!fd) {
            return false;
        }
        const int on = 1;
        setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (send.source != 0) {
            // A limited broadcast leaves by the interface of the bound address.
            const sockaddr_in local = discovery::Endpoint(send.source, 0);
            if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
                return false;
            }
        }
        const sockaddr_in to = discovery::Endpoint(send.destination, port);
        return sendto(fd.Get(), bytes.data(), bytes.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(bytes.size());
    }

    void Pause(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
};

}  // namespace

std::unique_ptr<IWakeNetwork> MakeSystemWakeNetwork() {
    return std::make_unique<PosixWakeNetwork>();
}

std::optional<MacAddress> NeighbourMac(std::uint32_t address) {
    const plat::UniqueFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd.Get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        return std::nullopt;
    }
    const std::uint32_t wanted = htonl(address);
    std::optional<MacAddress> found;
    alignas(nlmsghdr) char buffer[32768];
    // The dump comes in parts until NLMSG_DONE; bounded by the table's size.
    for (int part = 0; part < 4096; ++part) {
        const ssize_t got = recv(fd.Get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            return found;
        }
        auto length = static_cast<unsigned>(got);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, length);
             h = NLMSG_NEXT(h, length)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                return found;
            }
            if (h->nlmsg_type != RTM_NEWNEIGH) {
                continue;
            }
            const auto* neighbour = static_cast<const ndmsg*>(NLMSG_DATA(h));
            // An entry still being resolved, or one that failed, has no
            // address worth keeping.
            if ((neighbour->ndm_state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP)) != 0) {
                continue;
            }
            int attributesLength = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *neighbour));
            const rtattr* destination = nullptr;
            const rtattr* hardware = nullptr;
            for (auto* a = reinterpret_cast<const rtattr*>(
                     reinterpret_cast<const char*>(neighbour) + NLMSG_ALIGN(sizeof *neighbour));
                 RTA_OK(a, attributesLength); a = RTA_NEXT(a, attributesLength)) {
                if (a->rta_type == NDA_DST) {
                    destination = a;
                } else if (a->rta_type == NDA_LLADDR) {
                    hardware = a;
                }
            }
            if (destination == nullptr || hardware == nullptr ||
                RTA_PAYLOAD(destination) != sizeof wanted ||
                RTA_PAYLOAD(hardware) != sizeof(MacAddress) ||
                std::memcmp(RTA_DATA(destination), &wanted, sizeof wanted) != 0) {
                continue;
            }
            MacAddress mac{};
            std::memcpy(mac.data(), RTA_DATA(hardware), mac.size());
            if (mac != MacAddress{}) {
                found = mac;
            }
        }
    }
    return found;
}

}  // namespace devices
