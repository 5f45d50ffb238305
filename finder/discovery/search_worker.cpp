#include "finder/discovery/search_worker.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "finder/discovery/discovery.h"
#include "finder/discovery/search_log.h"
#include "platform/environment.h"

using namespace discovery;

unsigned RunSearch(ISearchHost* host, INetwork& net, std::chrono::milliseconds limit,
                   plat::TextEncoding answers) {
    host->NotifySearchStart();
    std::atomic<std::int32_t>& stop = host->StopSearchFlag();
    // A stop asked before this point belongs to the previous search.
    stop.store(0);

    net.Startup();
    std::vector<std::wstring> addresses;
    GetLocalIPv4Addresses(net, addresses);
    WriteLog(L"----- send start-----");
    ProbeSockets probe;
    SendSearchProbe(net, addresses, probe);
    const auto deadline = net.Now() + limit;
    for (const std::wstring& address : addresses) {
        WriteLog(L"%ls", address.c_str());
    }
    WriteLog(L"----- send end-----");

    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    // The address of the device being reported; valid during the report only.
    std::array<wchar_t, 256> report{};
    std::intptr_t counter = 0;
    int unreadableCycles = 0;
    while (stop.load() == 0) {
        // Past the bound the search ends as after a silent cycle; the last
        // cycle waits only for the time left.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - net.Now());
        if (left.count() <= 0) {
            break;
        }
        std::size_t ready = 0;
        if (ReceiveSearchResponses(net, probe.sockets, responses, senders, &ready,
                                   std::min(left, kCycleWait), answers) == 0) {
            // Only a cycle in which nothing came is silence. One whose datagrams
            // could not be read (a datagram over 4096 bytes, an error report)
            // must not end the search before the answers queued behind it.
            if (ready == 0 || ++unreadableCycles > kMaxUnreadableCycles) {
                break;
            }
            continue;
        }
        unreadableCycles = 0;
        WriteLog(L"----- res start-----");
        DeviceTable& devices = host->Devices();
        for (std::size_t i = 0; i < responses.size(); ++i) {
            WriteLog(L"%ls\n", responses[i].c_str());
            std::wstring name;
            std::wstring detail;
            ParseServerHeader(responses[i], name, detail);
            if (devices.find(senders[i]) != devices.end()) {
                continue;
            }
            AddDevice(senders[i], name, L"-", detail, devices);
            const std::size_t length = std::min(senders[i].size(), report.size() - 1);
            std::copy_n(senders[i].begin(), length, report.begin());
            report[length] = L'\0';
            host->NotifyDeviceFound(report.data(), counter);
            ++counter;
        }
        WriteLog(L"----- res end-----");
        responses.clear();
        senders.clear();
    }

    CloseProbeSockets(net, probe);
    net.Cleanup();
    host->NotifySearchEnd();
    return 0;
}

std::chrono::milliseconds SearchLimitFromEnvironment() {
    const auto value = plat::EnvNumber("SL_SEARCH_LIMIT_MS", 100, 600000);
    return value ? std::chrono::milliseconds(*value) : kSearchLimit;
}

unsigned SearchThreadProc(ISearchHost* host) {
    const auto net = MakeSystemNetwork();
    return RunSearch(host, *net, SearchLimitFromEnvironment());
}
