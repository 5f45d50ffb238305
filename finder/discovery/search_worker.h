// One whole device search on the calling thread: start notice, probe from
// every local IPv4 address, receive cycles until a silent one, the stop flag
// or the search's time bound, one notice per new device, end notice.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "finder/discovery/discovery.h"
#include "finder/discovery/discovery_net.h"
#include "finder/discovery/search_host.h"
#include "platform/text.h"

// What a search probes besides (or, without multicast, instead of) the
// multicast probe from every local address.
struct SearchRequest {
    // Addresses, host names and ranges; each is probed by unicast. A text
    // that is not a valid target is passed over and reported.
    std::vector<std::wstring> targets;
    bool multicast = true;
};

// What a search probed, for a program that explains an empty result.
struct SearchSummary {
    std::vector<std::wstring> localAddresses;
    std::size_t directedAddresses = 0;
    // Names that did not resolve to any address.
    std::vector<std::wstring> unresolved;
    // Why a target or a name's address was passed over, one text each.
    std::vector<std::wstring> refused;
};

// How the finder reads the devices' names: code page 932, as devices send
// them for the Japanese Windows finder, converted as a Japanese Windows
// does, whatever the system's code page.
inline constexpr plat::TextEncoding kFinderAnswerEncoding = plat::TextEncoding::WindowsCp932;

// The worker's thread function; host is the window that started it. Always 0.
unsigned SearchThreadProc(SearchHost* host);

// The same search over a given network (SearchThreadProc uses the system's).
// limit: how long after the probe the search ends at the latest; the cycle
// then running is cut to the time left, and the search ends as after a
// silent cycle. With search targets the bound counts from the last unicast
// probe. answers: how the answers' bytes are read. Host-name targets are
// looked up beside the search, after the first probes: their addresses are
// probed as they come, and a name not resolved within discovery::kNameWait
// counts as not resolving. While names are being looked up, a silent cycle
// does not end the search. summary, when given, is complete once RunSearch
// returns.
unsigned RunSearch(SearchHost* host, INetwork& net,
                   std::chrono::milliseconds limit = discovery::kSearchLimit,
                   plat::TextEncoding answers = plat::TextEncoding::Ansi,
                   const SearchRequest& request = {}, SearchSummary* summary = nullptr);

// The bound that the programs use: discovery::kSearchLimit, or
// SL_SEARCH_LIMIT_MS (100-600000) from the environment, for tests.
std::chrono::milliseconds SearchLimitFromEnvironment();
