#include "finder/discovery/search_targets.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "finder/discovery/discovery.h"

namespace discovery {

namespace {

constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;

std::wstring_view TrimBlanks(std::wstring_view text) {
    constexpr std::wstring_view kBlank = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::wstring_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A decimal number of 1 to maxDigits digits, at most max.
std::optional<std::uint32_t> Number(std::wstring_view text, std::size_t maxDigits,
                                    std::uint32_t max) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const wchar_t c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - L'0');
    }
    return value <= max ? std::optional(value) : std::nullopt;
}

// Four dotted decimal parts of 1 to 3 digits each.
std::optional<std::uint32_t> DottedAddress(std::wstring_view text) {
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find(L'.') : text.size();
        if (dot == std::wstring_view::npos) {
            return std::nullopt;
        }
        const auto number = Number(text.substr(0, dot), 3, 255);
        if (!number) {
            return std::nullopt;
        }
        value = (value << 8) | *number;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    return value;
}

// A host name of ASCII letters, digits and hyphens in dot-separated labels
// of 1 to 63 characters (253 in all, one final dot allowed). A name whose
// labels are all digits would be a mistyped address.
bool IsHostName(std::wstring_view text) {
    if (!text.empty() && text.back() == L'.') {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 253) {
        return false;
    }
    bool allDigits = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(L'.', start), text.size());
        const std::wstring_view label = text.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == L'-' || label.back() == L'-') {
            return false;
        }
        for (const wchar_t c : label) {
            const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
            if (!letter && !IsDigit(c) && c != L'-') {
                return false;
            }
            allDigits = allDigits && IsDigit(c);
        }
        start = end + 1;
    }
    return !allDigits;
}

std::uint32_t Mask(int prefix) { return prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix); }

}  // namespace

TargetError CheckProbeAddress(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    if (first == 0) {
        return TargetError::ZeroNetwork;
    }
    if (first == 127) {
        return TargetError::Loopback;
    }
    if (first >= 224 && first <= 239) {
        return TargetError::Multicast;
    }
    if (address == kBroadcast) {
        return TargetError::Broadcast;
    }
    return TargetError::None;
}

TargetError ParseTarget(std::wstring_view text, SearchTarget& target) {
    text = TrimBlanks(text);
    const std::size_t slash = text.find(L'/');
    if (slash != std::wstring_view::npos) {
        const auto network = DottedAddress(text.substr(0, slash));
        const auto prefix = Number(text.substr(slash + 1), 2, 32);
        if (!network || !prefix) {
            return TargetError::Malformed;
        }
        if (static_cast<int>(*prefix) < kWidestPrefix) {
            return TargetError::TooWide;
        }
        const std::uint32_t masked = *network & Mask(static_cast<int>(*prefix));
        // The refused blocks are /8 or wider except the broadcast address,
        // so the network tells for the whole range but for that one.
        if (const TargetError error = CheckProbeAddress(masked);
            error != TargetError::None && error != TargetError::Broadcast) {
            return error;
        }
        if (*prefix == 32 && masked == kBroadcast) {
            return TargetError::Broadcast;
        }
        target.kind = TargetKind::Range;
        target.address = masked;
        target.prefix = static_cast<int>(*prefix);
        target.text = FormatIpv4(masked) + L"/" + std::to_wstring(*prefix);
        return TargetError::None;
    }
    if (const auto address = DottedAddress(text)) {
        if (const TargetError error = CheckProbeAddress(*address); error != TargetError::None) {
            return error;
        }
        target.kind = TargetKind::Address;
        target.address = *address;
        target.prefix = 32;
        target.text = FormatIpv4(*address);
        return TargetError::None;
    }
    if (!IsHostName(text)) {
        return TargetError::Malformed;
    }
    target.kind = TargetKind::Name;
    target.address = 0;
    target.prefix = 32;
    target.text.assign(text);
    std::transform(target.text.begin(), target.text.end(), target.text.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; });
    return TargetError::None;
}

std::wstring TargetErrorMessage(TargetError error, std::wstring_view text) {
    // What follows the quoted text, in the order of TargetError.
    static constexpr const wchar_t* kTails[] = {
        L"",
        L" is not an IPv4 address, a host name or a range from /22 to /32",
        L": loopback addresses cannot be searched",
        L": multicast addresses cannot be searched",
        L": the broadcast address cannot be searched",
        L": addresses in 0.0.0.0/8 cannot be searched",
        L": a range may be at most /22 (1,024 addresses)",
    };
    static_assert(std::size(kTails) == static_cast<std::size_t>(TargetError::TooWide) + 1);
    if (error == TargetError::None) {
        return {};
    }
    return L"'" + std::wstring(TrimBlanks(text)) + L"'" + kTails[static_cast<std::size_t>(error)];
}

std::vector<std::uint32_t> TargetAddresses(const SearchTarget& target) {
    std::vector<std::uint32_t> out;
    if (target.kind == TargetKind::Name) {
        return out;
    }
    const int prefix = target.kind == TargetKind::Address ? 32 : target.prefix;
    const std::uint32_t count = std::uint32_t{1} << (32 - prefix);
    const bool skipEnds = prefix <= 30;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (skipEnds && (i == 0 || i == count - 1)) {
            continue;
        }
        const std::uint32_t address = target.address + i;
        if (CheckProbeAddress(address) == TargetError::None) {
            out.push_back(address);
        }
    }
    return out;
}

AddTargetResult AddTargetToList(std::wstring_view entry, std::vector<std::wstring>& targets) {
    SearchTarget target;
    if (ParseTarget(entry, target) != TargetError::None) {
        return AddTargetResult::Invalid;
    }
    if (std::find(targets.begin(), targets.end(), target.text) != targets.end()) {
        return AddTargetResult::AlreadyThere;
    }
    std::vector<std::wstring> longer = targets;
    longer.push_back(target.text);
    if (longer.size() > kMaxRememberedTargets ||
        FormatTargetList(longer).size() > kMaxRememberedChars) {
        return AddTargetResult::Full;
    }
    targets = std::move(longer);
    return AddTargetResult::Added;
}

std::vector<std::wstring> ParseTargetList(std::wstring_view value) {
    std::vector<std::wstring> targets;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t end = std::min(value.find(L';', start), value.size());
        const std::wstring_view entry = TrimBlanks(value.substr(start, end - start));
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        if (AddTargetToList(entry, targets) == AddTargetResult::Full) {
            break;
        }
    }
    return targets;
}

std::wstring FormatTargetList(const std::vector<std::wstring>& targets) {
    std::wstring out;
    for (const std::wstring& target : targets) {
        if (!out.empty()) {
            out += L';';
        }
        out += target;
    }
    return out;
}

}  // namespace discovery
