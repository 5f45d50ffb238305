// Name resolution for the two socket halves: getaddrinfo is the same call in
// Winsock and in POSIX.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace discovery {

// The IPv4 addresses of name (host byte order), appended; false when none.
bool ResolveIpv4Host(const std::string& name, std::vector<std::uint32_t>& addresses);

// The probe group as a UDP destination: the protocol to open its sockets
// with, or nothing when it does not resolve.
std::optional<int> ResolveGroupProtocol();

}  // namespace discovery
