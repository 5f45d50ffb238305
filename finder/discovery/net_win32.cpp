// winsock2.h must come before the headers that build on it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <array>
#include <cstdio>
#include <memory>

#include "finder/discovery/discovery.h"
#include "finder/discovery/net_shared.h"

namespace {

using discovery::Endpoint;

SOCKET Native(SocketId socket) { return static_cast<SOCKET>(socket); }

// SIO_UDP_CONNRESET, which not every SDK header names.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

class WinsockNetwork final : public INetwork {
  public:
    void Startup() override {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    }

    void Cleanup() override {
        if (started_) {
            WSACleanup();
            started_ = false;
        }
    }

    bool ListUnicastAddresses(std::vector<std::string>& texts) override {
        // As the function's page recommends: a 15 KB buffer first, larger
        // only when the list does not fit (it may grow between two calls).
        // Only the unicast addresses are asked for. The entries hold 64-bit
        // members, so the buffer is of such elements.
        constexpr ULONG kFirstSize = 15 * 1024;
        constexpr ULONG kFlags =
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
        std::vector<ULONGLONG> buffer;
        ULONG size = kFirstSize;
        ULONG result = ERROR_BUFFER_OVERFLOW;
        for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
            buffer.assign((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG), 0);
            size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
            result =
                GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                     reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        }
        if (result == ERROR_NO_DATA) {
            return true;  // read, and no adapter has an address
        }
        if (result != ERROR_SUCCESS) {
            return false;
        }
        for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
             adapter != nullptr; adapter = adapter->Next) {
            for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
                 unicast = unicast->Next) {
                std::array<char, 1025> host{};
                if (getnameinfo(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength,
                                host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) != 0) {
                    continue;
                }
                texts.emplace_back(host.data());
            }
        }
        return true;
    }

    HostResolver NameResolver() override {
        return [](const std::string& name, std::vector<std::uint32_t>& addresses) {
            // A reference of its own to the socket layer: the search's
            // WSACleanup may come while this lookup still runs, and the last
            // WSACleanup of a process cancels every call still pending.
            WSADATA data{};
            if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
                return false;
            }
            const bool resolved = discovery::ResolveIpv4Host(name, addresses);
            WSACleanup();
            return resolved;
        };
    }

    bool ResolveGroup() override {
        const auto protocol = discovery::ResolveGroupProtocol();
        if (protocol) {
            protocol_ = *protocol;
        }
        return protocol.has_value();
    }

    SocketId OpenUdpSocket() override {
        const SOCKET s = socket(AF_INET, SOCK_DGRAM, protocol_);
        if (s == INVALID_SOCKET) {
            return kInvalidSocket;
        }
        // The system may grant less; what it grants is used.
        const int size = discovery::kProbeReceiveBuffer;
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
        return static_cast<SocketId>(s);
    }

    bool Bind(SocketId socket, std::uint32_t address, std::uint16_t port) override {
        const sockaddr_in sa = Endpoint(address, port);
        const bool bound =
            bind(Native(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
        if (address == INADDR_ANY) {
            // The socket the system routes sends to single hosts: a host
            // without the port answers with an ICMP error, which Winsock
            // would report as a failed receive. Such a host is simply silent.
            BOOL report = FALSE;
            DWORD returned = 0;
            WSAIoctl(Native(socket), kUdpConnReset, &report, sizeof report, nullptr, 0, &returned,
                     nullptr, nullptr);
        }
        return bound;
    }

    bool SendTo(SocketId socket, std::span<const char> bytes, std::uint32_t address,
                std::uint16_t port) override {
        const sockaddr_in sa = Endpoint(address, port);
        return sendto(Native(socket), bytes.data(), static_cast<int>(bytes.size()), 0,
                      reinterpret_cast<const sockaddr*>(&sa),
                      sizeof sa) == static_cast<int>(bytes.size());
    }

    void WaitReadable(std::span<const SocketId> sockets, std::chrono::milliseconds timeout,
                      std::vector<bool>& ready) override {
        ready.assign(sockets.size(), false);
        fd_set set;
        FD_ZERO(&set);
        for (const SocketId socket : sockets) {
            FD_SET(Native(socket), &set);
        }
        timeval wait{};
        wait.tv_sec = static_cast<long>(timeout.count() / 1000);
        wait.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
        // The count argument is ignored by Winsock.
        if (select(0, &set, nullptr, nullptr, &wait) <= 0) {
            return;
        }
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            ready[i] = FD_ISSET(Native(sockets[i]), &set) != 0;
        }
    }

    long ReceiveFrom(SocketId socket, char* buffer, std::size_t size,
                     std::string& sender) override {
        sockaddr_in from{};
        int length = sizeof from;
        // A datagram longer than the buffer fails with WSAEMSGSIZE.
        const int got = recvfrom(Native(socket), buffer, static_cast<int>(size), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
        if (got == SOCKET_ERROR || from.sin_family != AF_INET) {
            return -1;
        }
        sender = inet_ntoa(from.sin_addr);
        return got;
    }

    void Close(SocketId socket) override { closesocket(Native(socket)); }

  private:
    bool started_ = false;
    int protocol_ = IPPROTO_UDP;
};

}  // namespace

std::unique_ptr<INetwork> MakeSystemNetwork() { return std::make_unique<WinsockNetwork>(); }
