#include "finder/discovery/search_worker.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

#include "finder/discovery/discovery.h"
#include "finder/discovery/search_log.h"
#include "finder/discovery/search_targets.h"
#include "platform/environment.h"

using namespace discovery;

namespace {

using Clock = std::chrono::steady_clock;

// The unicast probes of one search: every address of its targets once, from
// one socket that the system binds and routes, paced from the first probe on.
class DirectedProbes {
  public:
    // Resolves the names and expands the ranges; stops early on a stop request.
    void Plan(INetwork& net, const std::vector<std::wstring>& targets,
              const std::atomic<std::int32_t>& stop, SearchSummary& summary) {
        std::set<std::uint32_t> seen;
        const auto add = [&](std::uint32_t address) {
            if (seen.insert(address).second) {
                addresses_.push_back(address);
            }
        };
        for (const std::wstring& text : targets) {
            if (stop.load() != 0) {
                break;
            }
            SearchTarget target;
            if (const TargetError error = ParseTarget(text, target); error != TargetError::None) {
                summary.refused.push_back(TargetErrorMessage(error, text));
                continue;
            }
            logged_.push_back(target.text);
            if (target.kind != TargetKind::Name) {
                for (const std::uint32_t address : TargetAddresses(target)) {
                    add(address);
                }
                continue;
            }
            std::vector<std::uint32_t> resolved;
            if (!net.ResolveHost(plat::ToUtf8(target.text), resolved)) {
                summary.unresolved.push_back(target.text);
                continue;
            }
            for (const std::uint32_t address : resolved) {
                if (const TargetError error = CheckProbeAddress(address);
                    error != TargetError::None) {
                    summary.refused.push_back(TargetErrorMessage(
                        error, target.text + L" (" + FormatIpv4(address) + L")"));
                } else {
                    add(address);
                }
            }
        }
        summary.directedAddresses = addresses_.size();
    }

    // The socket, bound to any address and a port of the system's choice.
    void Open(INetwork& net) {
        if (addresses_.empty()) {
            return;
        }
        socket_ = NetSocket(net, net.OpenUdpSocket());
        if (socket_) {
            net.Bind(socket_.Get(), 0, 0);
        }
    }

    SocketId Socket() const { return socket_.Get(); }
    const std::vector<std::wstring>& Logged() const { return logged_; }
    bool Sending() const { return socket_ && sent_ < addresses_.size(); }

    // Sends every probe that is due: probe k goes k milliseconds after the
    // first. True when this call sent the last one.
    bool SendDue(INetwork& net) {
        if (!Sending()) {
            return false;
        }
        const Clock::time_point now = net.Now();
        if (sent_ == 0) {
            first_ = now;
        }
        while (sent_ < addresses_.size() && DueAt(sent_) <= now) {
            net.SendTo(socket_.Get(), kSearchProbe, addresses_[sent_], kGroupPort);
            ++sent_;
        }
        return sent_ == addresses_.size();
    }

    // How long until the next probe is due, at least 1 ms.
    std::chrono::milliseconds UntilNext(Clock::time_point now) const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(DueAt(sent_) - now);
        return std::max(left, std::chrono::milliseconds(1));
    }

  private:
    Clock::time_point DueAt(std::size_t k) const {
        return first_ + std::chrono::microseconds(1000000 / kDirectedProbesPerSecond) *
                            static_cast<long long>(k);
    }

    std::vector<std::uint32_t> addresses_;
    std::vector<std::wstring> logged_;
    NetSocket socket_;
    std::size_t sent_ = 0;
    Clock::time_point first_{};
};

// The search between its two notices. Every socket is closed and the
// socket layer released on the way out, before the end is announced.
void ProbeAndCollect(SearchHost* host, INetwork& net, std::chrono::milliseconds limit,
                     plat::TextEncoding answers, const SearchRequest& request,
                     SearchSummary& said) {
    const SocketLayer layer(net);
    std::atomic<std::int32_t>& stop = host->StopSearchFlag();
    std::vector<std::wstring> addresses;
    GetLocalIPv4Addresses(net, addresses);
    host->NoteLocalAddresses(addresses.size());
    said.localAddresses = addresses;
    DirectedProbes directed;
    directed.Plan(net, request.targets, stop, said);

    WriteLog(L"----- send start-----");
    ProbeSockets probe;
    if (request.multicast) {
        SendSearchProbe(net, addresses, probe);
    }
    directed.Open(net);
    directed.SendDue(net);
    auto deadline = net.Now() + limit;
    if (request.multicast) {
        for (const std::wstring& address : addresses) {
            WriteLog(L"%ls", address.c_str());
        }
    }
    for (const std::wstring& target : directed.Logged()) {
        WriteLog(L"target: %ls", target.c_str());
    }
    WriteLog(L"----- send end-----");

    // The unicast socket comes first, so that it is watched however many
    // local addresses there are.
    std::vector<SocketId> sockets = SocketsOf(probe);
    if (directed.Socket() != kInvalidSocket) {
        sockets.insert(sockets.begin(), directed.Socket());
    }

    std::vector<std::wstring> responses;
    std::vector<std::wstring> senders;
    std::intptr_t counter = 0;
    int unreadableCycles = 0;
    while (stop.load() == 0) {
        if (directed.SendDue(net)) {
            deadline = std::max(deadline, net.Now() + limit);
        }
        const bool sending = directed.Sending();
        // Past the bound the search ends as after a silent cycle; the last
        // cycle waits only for the time left.
        const auto now = net.Now();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) {
            break;
        }
        auto wait = std::min(left, kCycleWait);
        if (sending) {
            wait = std::min(wait, directed.UntilNext(now));
        }
        std::size_t ready = 0;
        if (!ReceiveSearchResponses(net, sockets, responses, senders, &ready, wait, answers)) {
            // Only a cycle in which nothing came is silence, and only once the
            // last unicast probe is out. One whose datagrams could not be read
            // (a datagram over 4096 bytes, an error report) must not end the
            // search before the answers queued behind it.
            if (sending) {
                continue;
            }
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
            host->NotifyDeviceFound(*devices.at(senders[i]), counter);
            ++counter;
        }
        WriteLog(L"----- res end-----");
        responses.clear();
        senders.clear();
    }
}

}  // namespace

unsigned RunSearch(SearchHost* host, INetwork& net, std::chrono::milliseconds limit,
                   plat::TextEncoding answers, const SearchRequest& request,
                   SearchSummary* summary) {
    host->NotifySearchStart();
    // A stop asked before this point belongs to the previous search.
    host->StopSearchFlag().store(0);
    SearchSummary ownSummary;
    ProbeAndCollect(host, net, limit, answers, request, summary != nullptr ? *summary : ownSummary);
    host->NotifySearchEnd();
    return 0;
}

std::chrono::milliseconds SearchLimitFromEnvironment() {
    const auto value = plat::EnvNumber("SL_SEARCH_LIMIT_MS", 100, 600000);
    return value ? std::chrono::milliseconds(*value) : kSearchLimit;
}

unsigned SearchThreadProc(SearchHost* host) {
    const auto net = MakeSystemNetwork();
    SearchRequest request;
    request.targets = host->SearchTargets();
    return RunSearch(host, *net, SearchLimitFromEnvironment(), plat::TextEncoding::Ansi, request);
}
