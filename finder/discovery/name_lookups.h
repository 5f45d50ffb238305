// The host-name targets of one search, resolved on threads of their own so
// that a slow name never holds the probes or the stop of the search.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "finder/discovery/discovery_net.h"

namespace discovery {

// All names together get this long; a name not resolved by then counts as
// not resolving.
inline constexpr std::chrono::milliseconds kNameWait{5000};

class NameLookups {
  public:
    struct Result {
        std::wstring name;
        bool resolved = false;
        std::vector<std::uint32_t> addresses;  // host order
    };

    // Starts one lookup per name, all at once. A lookup whose thread cannot
    // be started counts as not resolving.
    NameLookups(const HostResolver& resolver, const std::vector<std::wstring>& names);
    // Does not wait: a lookup still running finishes on its own and its
    // result is dropped. Its thread holds nothing of the search.
    ~NameLookups();
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // The lookups that finished since the last call, in the order they did.
    std::vector<Result> Take();
    // Lookups not yet taken.
    std::size_t Pending() const { return pending_; }
    // The names not yet taken, which then count as not resolving.
    std::vector<std::wstring> GiveUp();

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::vector<std::wstring> names_;
    std::vector<bool> taken_;
    std::size_t pending_ = 0;
};

}  // namespace discovery
