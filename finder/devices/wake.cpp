#include "finder/devices/wake.h"

#include <algorithm>

#include "finder/discovery/discovery.h"
#include "platform/text.h"

namespace devices {

namespace {

void AddOnce(std::vector<WakeSend>& plan, WakeSend send) {
    if (std::find(plan.begin(), plan.end(), send) == plan.end()) {
        plan.push_back(send);
    }
}

void AddSubnet(std::vector<WakeSend>& plan, const LocalSubnet& local) {
    const std::uint32_t broadcast = local.address | ~local.mask;
    // /31 and /32 have no broadcast address of their own.
    if (local.mask != 0xFFFFFFFFu && local.mask != 0xFFFFFFFEu) {
        AddOnce(plan, WakeSend{local.address, broadcast});
    }
    AddOnce(plan, WakeSend{local.address, kLimitedBroadcast});
}

bool Refused(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return first == 0 || first == 127 || first >= 224;
}

}  // namespace

std::vector<WakeSend> PlanWake(const std::vector<LocalSubnet>& locals,
                               std::optional<std::uint32_t> lastAddress,
                               std::optional<std::uint32_t> via) {
    std::vector<WakeSend> plan;
    if (via) {
        plan.push_back(WakeSend{0, *via});
        return plan;
    }
    for (const LocalSubnet& local : locals) {
        if (!lastAddress || (*lastAddress & local.mask) == (local.address & local.mask)) {
            AddSubnet(plan, local);
        }
    }
    if (plan.empty() && lastAddress) {
        plan.push_back(WakeSend{0, *lastAddress | 0xFFu});
    }
    return plan;
}

std::optional<std::uint32_t> ParseWakeVia(std::wstring_view text) {
    const std::size_t slash = text.find(L'/');
    const std::uint32_t address = discovery::ParseIpv4(plat::ToUtf8(text.substr(0, slash)));
    if (address == 0xFFFFFFFFu || Refused(address)) {
        return std::nullopt;
    }
    if (slash == std::wstring_view::npos) {
        return address;
    }
    const std::wstring_view prefixText = text.substr(slash + 1);
    if (prefixText.empty() || prefixText.size() > 2 ||
        !std::all_of(prefixText.begin(), prefixText.end(),
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return std::nullopt;
    }
    const int prefix = std::stoi(std::wstring(prefixText));
    if (prefix < 8 || prefix > 30) {
        return std::nullopt;
    }
    return address | (0xFFFFFFFFu >> prefix);
}

std::size_t SendWake(IWakeNetwork& net, const MacAddress& mac, const std::vector<WakeSend>& plan) {
    const MagicPacket packet = BuildMagicPacket(mac);
    std::size_t sent = 0;
    for (int round = 0; round < kWakeRounds; ++round) {
        if (round > 0) {
            net.Pause(kWakeGap);
        }
        for (const WakeSend& send : plan) {
            sent += net.Send(send, kWakePort, packet) ? 1 : 0;
        }
    }
    return sent;
}

std::size_t Wake(IWakeNetwork& net, const MacAddress& mac, std::optional<std::uint32_t> lastAddress,
                 std::optional<std::uint32_t> via) {
    std::vector<LocalSubnet> locals;
    net.ListSubnets(locals);
    return SendWake(net, mac, PlanWake(locals, lastAddress, via));
}

}  // namespace devices
