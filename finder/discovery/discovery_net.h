// The network as the discovery steps see it: a few socket operations, so the
// steps and the worker run the same against the system's sockets and against
// a scripted fake in tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

using SocketId = std::intptr_t;
inline constexpr SocketId kInvalidSocket = -1;

using HostResolver =
    std::function<bool(const std::string& name, std::vector<std::uint32_t>& addresses)>;

class INetwork {
  public:
    virtual ~INetwork() = default;

    // Start and release the socket layer (version 2.0 on Windows).
    virtual void Startup() = 0;
    virtual void Cleanup() = 0;

    // The numeric host text of every unicast address of every adapter, any
    // family, in the system's order (adapter, then address). Addresses whose
    // text cannot be made are left out. False when the list cannot be read.
    virtual bool ListUnicastAddresses(std::vector<std::string>& texts) = 0;

    // How this network resolves a host name to its IPv4 addresses (host
    // order, as the system's resolver gives them; false when the name does
    // not resolve). Called on threads of their own, which a slow name may
    // keep past the end of the search and of this network: the function
    // must need nothing that this object owns. None by default.
    virtual HostResolver NameResolver() {
        return [](const std::string&, std::vector<std::uint32_t>&) { return false; };
    }

    // Whether the discovery group resolves to an IPv4 datagram endpoint.
    virtual bool ResolveGroup() = 0;

    // A UDP socket that has asked for a receive buffer of
    // discovery::kProbeReceiveBuffer bytes (the system may grant less), or
    // kInvalidSocket.
    virtual SocketId OpenUdpSocket() = 0;
    // address in host byte order. Also ties the socket's multicast to the
    // interface of that address where binding alone does not.
    virtual bool Bind(SocketId socket, std::uint32_t address, std::uint16_t port) = 0;
    virtual bool SendTo(SocketId socket, std::span<const char> bytes, std::uint32_t address,
                        std::uint16_t port) = 0;
    // Waits until one of sockets can be read or the time is up; ready[i]
    // tells whether sockets[i] can be read afterwards (false on any failure).
    virtual void WaitReadable(std::span<const SocketId> sockets, std::chrono::milliseconds timeout,
                              std::vector<bool>& ready) = 0;
    // One datagram into buffer: its length, or -1 when the read fails or the
    // datagram does not fit. sender: the source address as dotted decimal.
    virtual long ReceiveFrom(SocketId socket, char* buffer, std::size_t size,
                             std::string& sender) = 0;
    virtual void Close(SocketId socket) = 0;

    // The clock on which a search's time bound is measured: the system's
    // steady clock, unless a test scripts it.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
};

// A socket of one INetwork, closed through it when the owner goes. The
// network must outlive every socket it opened.
class NetSocket {
  public:
    NetSocket() = default;
    NetSocket(INetwork& net, SocketId socket) : net_(&net), socket_(socket) {}
    ~NetSocket() { Reset(); }
    NetSocket(NetSocket&& other) noexcept
        : net_(other.net_), socket_(std::exchange(other.socket_, kInvalidSocket)) {}
    NetSocket& operator=(NetSocket&& other) noexcept {
        if (this != &other) {
            Reset();
            net_ = other.net_;
            socket_ = std::exchange(other.socket_, kInvalidSocket);
        }
        return *this;
    }
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    SocketId Get() const { return socket_; }
    explicit operator bool() const { return socket_ != kInvalidSocket; }
    void Reset() {
        if (socket_ != kInvalidSocket) {
            net_->Close(std::exchange(socket_, kInvalidSocket));
        }
    }

  private:
    INetwork* net_ = nullptr;
    SocketId socket_ = kInvalidSocket;
};

// The socket layer held for one scope: started here, released at its end
// (after the sockets declared later in the scope are closed).
class SocketLayer {
  public:
    explicit SocketLayer(INetwork& net) : net_(net) { net_.Startup(); }
    ~SocketLayer() { net_.Cleanup(); }
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;

  private:
    INetwork& net_;
};

// Winsock and IP Helper on Windows, BSD sockets and getifaddrs elsewhere.
std::unique_ptr<INetwork> MakeSystemNetwork();
