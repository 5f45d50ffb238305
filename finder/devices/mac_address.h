// Hardware (MAC) addresses as users type them and as the files and the
// command line write them, and the Wake-on-LAN magic packet that names one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devices {

using MacAddress = std::array<std::uint8_t, 6>;

// Six bytes of FF, then the address sixteen times.
inline constexpr std::size_t kMagicPacketSize = 6 + 16 * 6;
using MagicPacket = std::array<std::uint8_t, kMagicPacketSize>;

// Twelve hex digits, in pairs joined all by '-', all by ':' or by nothing
// ("00-11-22-aa-bb-cc", "00:11:22:AA:BB:CC", "001122aabbcc"); surrounding
// blanks are ignored. Anything else is refused.
std::optional<MacAddress> ParseMac(std::wstring_view text);

// "AA-BB-CC-DD-EE-FF", as the devices file keeps it.
std::wstring FormatMacUpper(const MacAddress& mac);
// "aa:bb:cc:dd:ee:ff", as the command line's JSON and CSV write it.
std::wstring FormatMacLower(const MacAddress& mac);

MagicPacket BuildMagicPacket(const MacAddress& mac);

}  // namespace devices
