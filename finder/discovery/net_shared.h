// What the two socket halves share: Winsock and POSIX have the same address
// structures and the same getaddrinfo.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace discovery {

// An IPv4 socket address from host-order parts.
inline sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

// The IPv4 addresses of name (host byte order), appended; false when none.
bool ResolveIpv4Host(const std::string& name, std::vector<std::uint32_t>& addresses);

// The probe group as a UDP destination: the protocol to open its sockets
// with, or nothing when it does not resolve.
std::optional<int> ResolveGroupProtocol();

}  // namespace discovery
