// A network whose waits end early once a stop is asked for, so that a stop
// (a closed window, Ctrl+C) need not wait for the rest of a 3-s cycle.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "finder/discovery/discovery_net.h"

class InterruptibleNetwork final : public INetwork {
  public:
    InterruptibleNetwork(std::unique_ptr<INetwork> inner, const std::atomic<std::int32_t>& stop)
        : inner_(std::move(inner)), stop_(stop) {}

    void Startup() override { inner_->Startup(); }
    void Cleanup() override { inner_->Cleanup(); }
    bool ListUnicastAddresses(std::vector<std::string>& texts) override {
        return inner_->ListUnicastAddresses(texts);
    }
    HostResolver NameResolver() override { return inner_->NameResolver(); }
    bool ResolveGroup() override { return inner_->ResolveGroup(); }
    SocketId OpenUdpSocket() override { return inner_->OpenUdpSocket(); }
    bool Bind(SocketId socket, std::uint32_t address, std::uint16_t port) override {
        return inner_->Bind(socket, address, port);
    }
    bool SendTo(SocketId socket, std::span<const char> bytes, std::uint32_t address,
                std::uint16_t port) override {
        return inner_->SendTo(socket, bytes, address, port);
    }
    long ReceiveFrom(SocketId socket, char* buffer, std::size_t size,
                     std::string& sender) override {
        return inner_->ReceiveFrom(socket, buffer, size, sender);
    }
    void Close(SocketId socket) override { inner_->Close(socket); }
    std::chrono::steady_clock::time_point Now() override { return inner_->Now(); }

    // The wait in slices of at most 100 ms; after a stop it reports nothing
    // ready, which ends the search as a silent cycle does.
    void WaitReadable(std::span<const SocketId> sockets, std::chrono::milliseconds timeout,
                      std::vector<bool>& ready) override {
        constexpr std::chrono::milliseconds kSlice{100};
        const auto end = std::chrono::steady_clock::now() + timeout;
        ready.assign(sockets.size(), false);
        while (stop_.load() == 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return;
            }
            inner_->WaitReadable(sockets, std::min(left, kSlice), ready);
            for (const bool one : ready) {
                if (one) {
                    return;
                }
            }
        }
        ready.assign(sockets.size(), false);
    }

  private:
    std::unique_ptr<INetwork> inner_;
    const std::atomic<std::int32_t>& stop_;
};
