#include "finder/discovery/discovery.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "platform/text.h"

namespace discovery {

namespace {

// Splits at sep, passing over empty pieces (runs of sep and leading ones).
std::vector<std::wstring_view> Tokens(std::wstring_view text, wchar_t sep) {
    std::vector<std::wstring_view> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == sep) {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(text.find(sep, pos), text.size());
        out.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

std::wstring_view Trim(std::wstring_view text) {
    constexpr std::wstring_view kSpace = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::wstring_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

std::uint32_t ParseIpv4(std::string_view text) {
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t pos = 0;
    while (parts < 4) {
        std::uint32_t part = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            part = part * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || part > 255) {
            return kNone;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (pos >= text.size() || text[pos] != '.') {
                return kNone;
            }
            ++pos;
        }
    }
    return pos == text.size() ? value : kNone;
}

std::wstring FormatIpv4(std::uint32_t address) {
    std::array<wchar_t, 16> text{};
    std::swprintf(text.data(), text.size(), L"%u.%u.%u.%u", (address >> 24) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return text.data();
}

bool GetLocalIPv4Addresses(INetwork& net, std::vector<std::wstring>& addresses) {
    std::vector<std::string> texts;
    if (!net.ListUnicastAddresses(texts)) {
        return false;
    }
    for (const std::string& text : texts) {
        if (text == "0.0.0.0" || text == "127.0.0.1") {
            continue;
        }
        if (text.find(':') != std::string::npos) {
            continue;
        }
        addresses.push_back(plat::FromUtf8(text));
    }
    return true;
}

bool SendSearchProbe(INetwork& net, const std::vector<std::wstring>& addresses,
                     ProbeSockets& probe) {
    if (!net.ResolveGroup()) {
        return false;
    }
    probe.clear();
    probe.resize(addresses.size());
    for (std::size_t i = 0; i < probe.size(); ++i) {
        NetSocket socket(net, net.OpenUdpSocket());
        if (!socket) {
            continue;
        }
        const auto port = static_cast<std::uint16_t>(kFirstLocalPort + i);
        probe[i].local = Ipv4Endpoint{ParseIpv4(plat::ToUtf8(addresses[i])), port};
        // A failed bind leaves the choice of port and interface to the system;
        // answers to that port still come back through this socket.
        net.Bind(socket.Get(), probe[i].local.address, port);
        probe[i].socket = std::move(socket);
    }
    const std::uint32_t group = ParseIpv4(kGroupAddress);
    for (const ProbeSocket& entry : probe) {
        if (entry.socket) {
            net.SendTo(entry.socket.Get(), kSearchProbe, group, kGroupPort);
        }
    }
    return true;
}

std::vector<SocketId> SocketsOf(const ProbeSockets& probe) {
    std::vector<SocketId> sockets;
    for (const ProbeSocket& entry : probe) {
        sockets.push_back(entry.socket.Get());
    }
    return sockets;
}

bool ReceiveSearchResponses(INetwork& net, const std::vector<SocketId>& sockets,
                            std::vector<std::wstring>& responses,
                            std::vector<std::wstring>& senders, std::size_t* readyCount,
                            std::chrono::milliseconds wait, plat::TextEncoding encoding) {
    // Sockets that were never made take no part; the set holds each handle
    // once and at most as many as the platform's set can.
    std::vector<SocketId> watched;
    for (const SocketId socket : sockets) {
        if (socket == kInvalidSocket ||
            std::find(watched.begin(), watched.end(), socket) != watched.end()) {
            continue;
        }
        if (watched.size() == kMaxWatchedSockets) {
            break;
        }
        watched.push_back(socket);
    }
    std::vector<bool> ready;
    if (!watched.empty()) {
        net.WaitReadable(watched, wait, ready);
    }
    ready.resize(watched.size(), false);

    if (readyCount != nullptr) {
        *readyCount = static_cast<std::size_t>(std::count(ready.begin(), ready.end(), true));
    }

    std::array<char, kReceiveBufferSize> buffer;
    for (const SocketId socket : sockets) {
        const auto at = std::find(watched.begin(), watched.end(), socket);
        if (at == watched.end()) {
            continue;
        }
        const auto index = static_cast<std::size_t>(at - watched.begin());
        if (!ready[index]) {
            continue;
        }
        // Read once per cycle even if the same handle appears twice.
        ready[index] = false;
        buffer.fill(0);
        std::string sender;
        const long got = net.ReceiveFrom(socket, buffer.data(), buffer.size(), sender);
        if (got <= 0) {
            continue;
        }
        // The text ends at the first zero byte or at the datagram's end, even
        // when a datagram fills the whole buffer.
        const std::size_t length = static_cast<std::size_t>(std::min<long>(got, buffer.size()));
        const std::string_view bytes(buffer.data(), length);
        responses.push_back(plat::Decode(bytes.substr(0, bytes.find('\0')), encoding));
        senders.push_back(plat::FromUtf8(sender));
    }
    return !responses.empty();
}

bool ParseServerHeader(const std::wstring& response, std::wstring& name, std::wstring& detail) {
    constexpr std::wstring_view kServerTag = L"SERVER: ";
    for (const std::wstring_view line : Tokens(response, L'\n')) {
        if (line.find(kServerTag) == std::wstring_view::npos) {
            continue;
        }
        const std::wstring_view value = line.substr(kServerTag.size());
        const auto fields = Tokens(value, L',');
        if (fields.size() < 3) {
            return false;
        }
        std::wstring_view third = fields[2];
        if (!third.empty() && third.front() == L' ') {
            third.remove_prefix(1);
        }
        const auto parts = Tokens(third, L'/');
        if (parts.size() >= 3) {
            name.assign(parts[1]);
            detail.assign(Trim(parts[2]));
        } else {
            // Too few parts for a name and a detail: what is there still
            // replaces the earlier line's result; the line end is not a name.
            name.assign(parts.size() == 2 ? Trim(parts[1]) : std::wstring_view{});
            detail.clear();
        }
    }
    return true;
}

}  // namespace discovery
