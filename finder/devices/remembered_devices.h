// The devices the finder has seen, remembered across searches and starts so
// that one which no longer answers (asleep, switched off) can still be named
// and woken. Keyed by hardware address when it is known, else by IPv4
// address: a device that got another address from DHCP stays one entry, and
// a device behind a router (whose hardware address the neighbour table never
// shows) keeps the one it had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "finder/devices/mac_address.h"

namespace devices {

inline constexpr std::size_t kMaxRemembered = 64;

// Seconds since 1970-01-01 00:00:00 UTC.
using UnixSeconds = std::int64_t;

struct RememberedDevice {
    std::wstring address;
    std::wstring name;
    std::wstring detail;
    std::optional<MacAddress> mac;
    UnixSeconds lastSeen = 0;

    bool operator==(const RememberedDevice&) const = default;
};

// A device answered at `seen`: its entry is found by mac (when given), else
// by address, and takes the new address, name, detail and time; a missing
// mac keeps the entry's. A new entry beyond kMaxRemembered drops the one
// seen longest ago.
void Remember(std::vector<RememberedDevice>& list, const std::wstring& address,
              const std::wstring& name, const std::wstring& detail,
              const std::optional<MacAddress>& mac, UnixSeconds seen);

// "2026-12-09T17:06:04Z".
std::wstring FormatUtc(UnixSeconds time);
std::optional<UnixSeconds> ParseUtc(std::wstring_view text);
UnixSeconds NowUtc();

// The devices file: sections "Device1", "Device2", ... with keys "Address",
// "Name", "Detail", "MAC" (AA-BB-CC-DD-EE-FF, empty when unknown) and
// "LastSeen" (FormatUtc), UTF-8 with a byte-order mark and CR LF line ends.
std::string FormatDevicesFile(const std::vector<RememberedDevice>& list);
// nullopt when the text is damaged: not UTF-8, a section without an IPv4
// address or a time, a MAC that does not parse.
std::optional<std::vector<RememberedDevice>> ParseDevicesFile(std::string_view text);

// The file's devices; none when it is missing or damaged.
std::vector<RememberedDevice> LoadDevices(const std::wstring& file);
// Writes the whole list into FILE.tmp, then moves it over the file, so the
// file holds either the old or the new list. False when it could not.
bool SaveDevices(const std::wstring& file, const std::vector<RememberedDevice>& list);

}  // namespace devices
