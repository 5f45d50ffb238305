// Search targets: the addresses, host names and ranges that a search probes
// by unicast besides its multicast probe, their validation, their addresses,
// and the remembered list as "search.ini" keeps it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace discovery {

// Unicast probes go out at most this often (one a millisecond).
inline constexpr int kDirectedProbesPerSecond = 1000;
// The widest range a target may name: /22, 1,024 addresses.
inline constexpr int kWidestPrefix = 22;

// Remembered targets: at most this many, joined by ";" at most this long.
inline constexpr std::size_t kMaxRememberedTargets = 32;
inline constexpr std::size_t kMaxRememberedChars = 1024;
inline constexpr wchar_t kTargetsFileName[] = L"search.ini";
inline constexpr wchar_t kTargetsSection[] = L"Search";
inline constexpr wchar_t kTargetsKey[] = L"Targets";

enum class TargetKind { Address, Name, Range };

enum class TargetError {
    None,
    Malformed,
    Loopback,
    Multicast,
    Broadcast,
    ZeroNetwork,
    TooWide,
};

struct SearchTarget {
    TargetKind kind = TargetKind::Address;
    // The canonical text: dotted address, "network/prefix", or the name in
    // lower case. This text is what is logged and remembered.
    std::wstring text;
    std::uint32_t address = 0;  // Address and Range (the network), host order
    int prefix = 32;            // Range only
};

// Reads one target (surrounding blanks ignored). A range with host bits set
// counts from its network ("10.0.0.7/24" is 10.0.0.0/24).
TargetError ParseTarget(std::wstring_view text, SearchTarget& target);

// Why an address may not be probed (None when it may): loopback, multicast,
// the broadcast address and 0.0.0.0/8.
TargetError CheckProbeAddress(std::uint32_t address);

// The message for a refused target, in English, naming the text.
std::wstring TargetErrorMessage(TargetError error, std::wstring_view text);

// The addresses a target of kind Address or Range stands for, in order: a
// range of /22 to /30 without its network and broadcast addresses, and no
// address that CheckProbeAddress refuses.
std::vector<std::uint32_t> TargetAddresses(const SearchTarget& target);

// The remembered list: the value of Search/Targets. Entries that are not
// valid targets and repeats are passed over; reading stops at the 32nd
// target or where the joined list would pass 1,024 characters.
std::vector<std::wstring> ParseTargetList(std::wstring_view value);
std::wstring FormatTargetList(const std::vector<std::wstring>& targets);

enum class AddTargetResult { Added, Invalid, AlreadyThere, Full };

// Adds the canonical text of entry to the list, as the targets dialogs do.
AddTargetResult AddTargetToList(std::wstring_view entry, std::vector<std::wstring>& targets);

}  // namespace discovery
