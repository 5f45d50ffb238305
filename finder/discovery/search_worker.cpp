#include "finder/discovery/search_worker.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>

#include "finder/discovery/discovery.h"
#include "finder/discovery/interruptible_network.h"
#include "finder/discovery/name_lookups.h"
#include "finder/discovery/search_log.h"
#include "finder/discovery/search_targets.h"
#include "platform/environment.h"

using namespace discovery;

namespace {

using Clock = std::chrono::steady_clock;

// While names are being looked up, the receive cycles look for their
// results this often.
constexpr std::chrono::milliseconds kNamePoll{50};

// The unicast probes of one search: every address of its targets once, from
// one socket that the system binds and routes, at most one a millisecond.
// The addresses of host names join as their lookups finish.
class DirectedProbes {
  public:
    // Expands addresses and ranges; names are left for their lookups.
    void Plan(const std::vector<std::wstring>& targets, SearchSummary& summary) {
        for (const std::wstring& text : targets) {
            SearchTarget target;
            if (const TargetError error = ParseTarget(text, target); error != TargetError::None) {
                summary.refused.push_back(TargetErrorMessage(error, text));
                continue;
            }
            logged_.push_back(target.text);
            if (target.kind == TargetKind::Name) {
                names_.push_back(target.text);
                continue;
            }
            for (const std::uint32_t address : TargetAddresses(target)) {
                Add(address);
            }
        }
        summary.directedAddresses = addresses_.size();
    }

    // The addresses a name resolved to, each unless refused or probed already.
    void AddResolved(const NameLookups::Result& lookup, Clock::time_point now,
                     SearchSummary& summary) {
        if (!lookup.resolved) {
            summary.unresolved.push_back(lookup.name);
            return;
        }
        if (!Sending()) {
            // Paced from now: a gap since the last probe earns no burst.
            next_ = std::max(next_, now);
        }
        for (const std::uint32_t address : lookup.addresses) {
            if (const TargetError error = CheckProbeAddress(address); error != TargetError::None) {
                summary.refused.push_back(
                    TargetErrorMessage(error, lookup.name + L" (" + FormatIpv4(address) + L")"));
            } else {
                Add(address);
            }
        }
        summary.directedAddresses = addresses_.size();
    }

    // The socket, bound to any address and a port of the system's choice;
    // made when there is anything to probe or a name that may give something.
    void Open(INetwork& net) {
        if (addresses_.empty() && names_.empty()) {
            return;
        }
        socket_ = NetSocket(net, net.OpenUdpSocket());
        if (socket_) {
            net.Bind(socket_.Get(), 0, 0);
        }
    }

    SocketId Socket() const { return socket_.Get(); }
    const std::vector<std::wstring>& Logged() const { return logged_; }
    const std::vector<std::wstring>& Names() const { return names_; }
    bool Sending() const { return socket_ && sent_ < addresses_.size(); }
    std::size_t Sent() const { return sent_; }

    // Sends every probe that is due. True when this call sent the last one
    // queued so far.
    bool SendDue(INetwork& net) {
        if (!Sending()) {
            return false;
        }
        const Clock::time_point now = net.Now();
        if (sent_ == 0) {
            next_ = std::max(next_, now);
        }
        while (sent_ < addresses_.size() && next_ <= now) {
            net.SendTo(socket_.Get(), kSearchProbe, addresses_[sent_], kGroupPort);
            ++sent_;
            next_ += kProbeInterval;
        }
        return sent_ == addresses_.size();
    }

    // How long until the next probe is due, at least 1 ms.
    std::chrono::milliseconds UntilNext(Clock::time_point now) const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next_ - now);
        return std::max(left, std::chrono::milliseconds(1));
    }

  private:
    static constexpr auto kProbeInterval =
        std::chrono::microseconds(1000000 / kDirectedProbesPerSecond);

    void Add(std::uint32_t address) {
        if (seen_.insert(address).second) {
            addresses_.push_back(address);
        }
    }

    std::set<std::uint32_t> seen_;
    std::vector<std::uint32_t> addresses_;
    std::vector<std::wstring> names_;
    std::vector<std::wstring> logged_;
    NetSocket socket_;
    std::size_t sent_ = 0;
    Clock::time_point next_{};
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
    directed.Plan(request.targets, said);

    WriteLog(L"----- send start-----");
    ProbeSockets probe;
    if (request.multicast) {
        SendSearchProbe(net, addresses, probe);
    }
    directed.Open(net);
    directed.SendDue(net);
    // The names only now, so that no lookup holds the probes above; none
    // without a socket to probe their addresses from.
    NameLookups names(net.NameResolver(), directed.Socket() != kInvalidSocket
                                              ? directed.Names()
                                              : std::vector<std::wstring>{});
    const auto namesBy = net.Now() + kNameWait;
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
    // The last probe or datagram. Once the names are settled, silence counts
    // from it: the short waits while they were looked up were silence too.
    auto lastHeard = net.Now();
    const bool withNames = !directed.Names().empty();
    while (stop.load() == 0) {
        if (names.Pending() > 0) {
            for (const NameLookups::Result& lookup : names.Take()) {
                directed.AddResolved(lookup, net.Now(), said);
            }
            if (names.Pending() > 0 && net.Now() >= namesBy) {
                for (std::wstring& name : names.GiveUp()) {
                    said.unresolved.push_back(std::move(name));
                }
            }
        }
        const std::size_t sentBefore = directed.Sent();
        if (directed.SendDue(net)) {
            deadline = std::max(deadline, net.Now() + limit);
        }
        const auto now = net.Now();
        if (directed.Sent() != sentBefore) {
            lastHeard = now;
        }
        const bool sending = directed.Sending();
        const bool resolving = names.Pending() > 0;
        // Past the bound the search ends as after a silent cycle; the last
        // cycle waits only for the time left.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) {
            break;
        }
        auto wait = std::min(left, kCycleWait);
        if (sending) {
            wait = std::min(wait, directed.UntilNext(now));
        }
        if (resolving) {
            wait = std::min(wait, kNamePoll);
        } else if (withNames && !sending) {
            const auto quiet =
                std::chrono::ceil<std::chrono::milliseconds>(lastHeard + kCycleWait - now);
            if (quiet.count() <= 0) {
                break;
            }
            wait = std::min(wait, quiet);
        }
        std::size_t ready = 0;
        if (!ReceiveSearchResponses(net, sockets, responses, senders, &ready, wait, answers)) {
            // Only a cycle in which nothing came is silence, and only once the
            // last unicast probe is out and every name has had its time. One
            // whose datagrams could not be read (a datagram over 4096 bytes,
            // an error report) must not end the search before the answers
            // queued behind it.
            if (sending || resolving) {
                continue;
            }
            if (ready == 0 || ++unreadableCycles > kMaxUnreadableCycles) {
                break;
            }
            continue;
        }
        lastHeard = net.Now();
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
    // A search that ended before its names did: they count as not resolving.
    for (std::wstring& name : names.GiveUp()) {
        said.unresolved.push_back(std::move(name));
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
    // A close need not wait for the rest of a receive cycle.
    InterruptibleNetwork net(MakeSystemNetwork(), host->StopSearchFlag());
    SearchRequest request;
    request.targets = host->SearchTargets();
    return RunSearch(host, net, SearchLimitFromEnvironment(), kFinderAnswerEncoding, request);
}
