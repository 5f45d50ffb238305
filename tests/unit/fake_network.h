// A scripted network for the discovery steps and the worker: adapters,
// sockets that record what they were asked, and datagrams that arrive in
// the cycle the script names.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "finder/discovery/discovery_net.h"

struct FakeDatagram {
    std::string sender;
    std::string bytes;
    bool tooLong = false;  // the read fails as for a datagram over the buffer
};

struct FakeSend {
    SocketId socket;
    std::string bytes;
    std::uint32_t address;
    std::uint16_t port;
    std::chrono::milliseconds at;  // the scripted clock when it was sent
};

class FakeNetwork : public INetwork {
  public:
    // Configuration.
    bool listOk = true;
    std::vector<std::string> unicast;  // as the adapters report them
    bool resolveOk = true;
    std::map<std::string, std::vector<std::uint32_t>> hosts;  // what the lookups find
    // Names whose lookup answers only when the network goes, as with a DNS
    // server that never answers.
    std::set<std::string> hanging;
    // Each wait first waits (really, at most 5 s) until this many lookups
    // have answered, so that the script does not race the lookups' threads.
    int expectAnswers = 0;
    std::set<int> failOpen;  // 0-based numbers of OpenUdpSocket calls that fail
    // arrivals[c]: datagrams (socket index, datagram) delivered before wait c.
    std::vector<std::vector<std::pair<std::size_t, FakeDatagram>>> arrivals;
    std::function<void(int wait)> onWait;  // called at the start of each wait
    std::function<void()> onSend;
    // The scripted clock: a wait that finds nothing takes its whole timeout,
    // one that finds a datagram takes readyAfter.
    std::chrono::milliseconds readyAfter{0};

    // Record.
    int startups = 0;
    int cleanups = 0;
    int waits = 0;
    std::vector<SocketId> opened;
    std::map<SocketId, std::pair<std::uint32_t, std::uint16_t>> bound;
    std::vector<FakeSend> sends;
    std::vector<SocketId> closed;
    std::vector<std::vector<SocketId>> watched;       // per wait
    std::vector<std::chrono::milliseconds> timeouts;  // per wait
    std::chrono::milliseconds clock{0};

    void Startup() override { ++startups; }
    void Cleanup() override { ++cleanups; }

    bool ListUnicastAddresses(std::vector<std::string>& texts) override {
        if (!listOk) {
            return false;
        }
        texts.insert(texts.end(), unicast.begin(), unicast.end());
        return true;
    }

    bool ResolveGroup() override { return resolveOk; }

    ~FakeNetwork() override {
        const std::lock_guard guard(lookups_->lock);
        lookups_->released = true;
        lookups_->changed.notify_all();
    }

    HostResolver NameResolver() override {
        lookups_->hosts = hosts;
        lookups_->hanging = hanging;
        return [lookups = lookups_](const std::string& name, std::vector<std::uint32_t>& out) {
            std::unique_lock guard(lookups->lock);
            if (lookups->hanging.count(name) != 0) {
                lookups->changed.wait(guard, [&] { return lookups->released; });
                return false;
            }
            const auto it = lookups->hosts.find(name);
            if (it != lookups->hosts.end()) {
                out = it->second;
            }
            ++lookups->answered;
            lookups->changed.notify_all();
            return it != lookups->hosts.end();
        };
    }

    SocketId OpenUdpSocket() override {
        const int call = opens_++;
        if (failOpen.count(call) != 0) {
            return kInvalidSocket;
        }
        const SocketId id = 100 + call;
        opened.push_back(id);
        return id;
    }

    bool Bind(SocketId socket, std::uint32_t address, std::uint16_t port) override {
        bound[socket] = {address, port};
        return true;
    }

    bool SendTo(SocketId socket, std::span<const char> bytes, std::uint32_t address,
                std::uint16_t port) override {
        sends.push_back({socket, std::string(bytes.data(), bytes.size()), address, port, clock});
        if (onSend) {
            onSend();
        }
        return true;
    }

    void WaitReadable(std::span<const SocketId> sockets, std::chrono::milliseconds timeout,
                      std::vector<bool>& ready) override {
        {
            std::unique_lock guard(lookups_->lock);
            lookups_->changed.wait_for(guard, std::chrono::seconds(5),
                                       [&] { return lookups_->answered >= expectAnswers; });
        }
        const int wait = waits++;
        watched.emplace_back(sockets.begin(), sockets.end());
        timeouts.push_back(timeout);
        if (onWait) {
            onWait(wait);
        }
        if (static_cast<std::size_t>(wait) < arrivals.size()) {
            for (auto& [index, datagram] : arrivals[static_cast<std::size_t>(wait)]) {
                queues_[SocketAt(index)].push_back(datagram);
            }
        }
        ready.assign(sockets.size(), false);
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            ready[i] = !queues_[sockets[i]].empty();
        }
        const bool any = std::find(ready.begin(), ready.end(), true) != ready.end();
        clock += any ? std::min(readyAfter, timeout) : timeout;
    }

    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::time_point{} + clock;
    }

    long ReceiveFrom(SocketId socket, char* buffer, std::size_t size,
                     std::string& sender) override {
        auto& queue = queues_[socket];
        if (queue.empty()) {
            return -1;
        }
        FakeDatagram datagram = queue.front();
        queue.pop_front();
        if (datagram.tooLong || datagram.bytes.size() > size) {
            return -1;
        }
        std::copy(datagram.bytes.begin(), datagram.bytes.end(), buffer);
        sender = datagram.sender;
        return static_cast<long>(datagram.bytes.size());
    }

    void Close(SocketId socket) override { closed.push_back(socket); }

    // Datagrams still waiting, over all sockets.
    std::size_t Pending() const {
        std::size_t n = 0;
        for (const auto& [socket, queue] : queues_) {
            n += queue.size();
        }
        return n;
    }

  private:
    // The socket of local address i (made by the i-th open).
    static SocketId SocketAt(std::size_t index) { return 100 + static_cast<SocketId>(index); }

    // What the lookups' threads share with the network; theirs as long as
    // they run.
    struct Lookups {
        std::mutex lock;
        std::condition_variable changed;
        std::map<std::string, std::vector<std::uint32_t>> hosts;
        std::set<std::string> hanging;
        int answered = 0;
        bool released = false;
    };
    std::shared_ptr<Lookups> lookups_ = std::make_shared<Lookups>();
    int opens_ = 0;
    std::map<SocketId, std::deque<FakeDatagram>> queues_;
};
