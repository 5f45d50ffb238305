// One whole device search on the calling thread: start notice, probe from
// every local IPv4 address, receive cycles until a silent one, the stop flag
// or the search's time bound, one notice per new device, end notice.
#pragma once

#include <chrono>

#include "finder/discovery/discovery.h"
#include "finder/discovery/discovery_net.h"
#include "finder/discovery/search_host.h"
#include "platform/text.h"

// The worker's thread function; host is the window that started it. Always 0.
unsigned SearchThreadProc(ISearchHost* host);

// The same search over a given network (SearchThreadProc uses the system's).
// limit: how long after the probe the search ends at the latest; the cycle
// then running is cut to the time left, and the search ends as after a
// silent cycle. answers: how the answers' bytes are read.
unsigned RunSearch(ISearchHost* host, INetwork& net,
                   std::chrono::milliseconds limit = discovery::kSearchLimit,
                   plat::TextEncoding answers = plat::TextEncoding::Ansi);

// The bound that the programs use: discovery::kSearchLimit, or
// SL_SEARCH_LIMIT_MS (100-600000) from the environment, for tests.
std::chrono::milliseconds SearchLimitFromEnvironment();
