#include "finder/discovery/net_shared.h"

#include <memory>

#include "finder/discovery/discovery.h"

namespace discovery {

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::unique_ptr<addrinfo, AddrInfoFree> Lookup(const char* name, const char* service) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name, service, &hints, &result) != 0) {
        return nullptr;
    }
    return std::unique_ptr<addrinfo, AddrInfoFree>(result);
}

}  // namespace

bool ResolveIpv4Host(const std::string& name, std::vector<std::uint32_t>& addresses) {
    const auto list = Lookup(name.c_str(), nullptr);
    const std::size_t before = addresses.size();
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            const auto* sa = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
            addresses.push_back(ntohl(sa->sin_addr.s_addr));
        }
    }
    return addresses.size() > before;
}

std::optional<int> ResolveGroupProtocol() {
    const std::string service = std::to_string(kGroupPort);
    const auto list = Lookup(kGroupAddress, service.c_str());
    if (!list || list->ai_family != AF_INET || list->ai_socktype != SOCK_DGRAM) {
        return std::nullopt;
    }
    return list->ai_protocol;
}

}  // namespace discovery
