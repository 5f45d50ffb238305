// One whole device search on the calling thread: start notice, probe from
// every local IPv4 address, receive cycles until a silent one or the stop
// flag, one notice per new device, end notice.
#pragma once

#include "finder/discovery/discovery_net.h"
#include "finder/discovery/search_host.h"

// The worker's thread function; host is the window that started it. Always 0.
unsigned SearchThreadProc(ISearchHost* host);

// The same search over a given network (SearchThreadProc uses the system's).
unsigned RunSearch(ISearchHost* host, INetwork& net);
