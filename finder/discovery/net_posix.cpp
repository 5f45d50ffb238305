#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>

#include "finder/discovery/discovery.h"
#include "finder/discovery/net_shared.h"

namespace {

using discovery::Endpoint;

class PosixNetwork final : public INetwork {
  public:
    void Startup() override {}
    void Cleanup() override {}

    bool ListUnicastAddresses(std::vector<std::string>& texts) override {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            return false;
        }
        std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, &freeifaddrs);
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            const sockaddr* sa = entry->ifa_addr;
            if (sa == nullptr || (sa->sa_family != AF_INET && sa->sa_family != AF_INET6)) {
                continue;
            }
            const socklen_t length =
                sa->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            std::array<char, 1025> host{};
            if (getnameinfo(sa, length, host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) !=
                0) {
                continue;
            }
            texts.emplace_back(host.data());
        }
        return true;
    }

    HostResolver NameResolver() override { return &discovery::ResolveIpv4Host; }

    bool ResolveGroup() override { return discovery::ResolveGroupProtocol().has_value(); }

    SocketId OpenUdpSocket() override {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) {
            return kInvalidSocket;
        }
        // The system caps the request at its own limit; what it grants is used.
        const int size = discovery::kProbeReceiveBuffer;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        return fd;
    }

    bool Bind(SocketId socket, std::uint32_t address, std::uint16_t port) override {
        const sockaddr_in sa = Endpoint(address, port);
        const int fd = static_cast<int>(socket);
        const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
        // Linux picks a multicast's interface from the routing table, not
        // from the bound address: name the interface of this address.
        in_addr local{};
        local.s_addr = htonl(address);
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
        return bound;
    }

    bool SendTo(SocketId socket, std::span<const char> bytes, std::uint32_t address,
                std::uint16_t port) override {
        const sockaddr_in sa = Endpoint(address, port);
        return sendto(static_cast<int>(socket), bytes.data(), bytes.size(), 0,
                      reinterpret_cast<const sockaddr*>(&sa),
                      sizeof sa) == static_cast<ssize_t>(bytes.size());
    }

    void WaitReadable(std::span<const SocketId> sockets, std::chrono::milliseconds timeout,
                      std::vector<bool>& ready) override {
        std::vector<pollfd> fds;
        for (const SocketId socket : sockets) {
            fds.push_back(pollfd{static_cast<int>(socket), POLLIN, 0});
        }
        ready.assign(sockets.size(), false);
        const int count = poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
        if (count <= 0) {
            return;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            ready[i] = (fds[i].revents & (POLLIN | POLLERR)) != 0;
        }
    }

    long ReceiveFrom(SocketId socket, char* buffer, std::size_t size,
                     std::string& sender) override {
        sockaddr_in from{};
        iovec io{buffer, size};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        const ssize_t got = recvmsg(static_cast<int>(socket), &msg, 0);
        // A datagram longer than the buffer is an error, as with Winsock.
        if (got < 0 || (msg.msg_flags & MSG_TRUNC) != 0 || from.sin_family != AF_INET) {
            return -1;
        }
        std::array<char, INET_ADDRSTRLEN> text{};
        inet_ntop(AF_INET, &from.sin_addr, text.data(), text.size());
        sender = text.data();
        return static_cast<long>(got);
    }

    void Close(SocketId socket) override { close(static_cast<int>(socket)); }
};

}  // namespace

std::unique_ptr<INetwork> MakeSystemNetwork() { return std::make_unique<PosixNetwork>(); }
