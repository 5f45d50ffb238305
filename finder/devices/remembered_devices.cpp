#include "finder/devices/remembered_devices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <filesystem>
#endif

#include "finder/discovery/discovery.h"
#include "platform/ini_text.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace devices {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool ReadNumber(std::wstring_view text, std::size_t at, std::size_t digits, unsigned& value) {
    value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (i >= text.size() || text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    return true;
}

bool IsIpv4(const std::wstring& text) {
    return !text.empty() && discovery::ParseIpv4(plat::ToUtf8(text)) != 0xFFFFFFFFu;
}

// A value as one line that reads back unchanged: control characters become
// blanks, and the quotes around it keep blanks and quotes at its ends.
std::string QuotedValue(const std::wstring& text) {
    std::wstring line = text;
    for (wchar_t& c : line) {
        if (static_cast<std::uint32_t>(c) < 0x20 || c == 0x7F) {
            c = L' ';
        }
    }
    return "\"" + plat::ToUtf8(line) + "\"";
}

std::optional<std::string> ReadWholeFile(const std::wstring& file) {
#ifdef _WIN32
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
#else
    std::ifstream in(plat::NativePath(file), std::ios::binary);
#endif
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void Remember(std::vector<RememberedDevice>& list, const std::wstring& address,
              const std::wstring& name, const std::wstring& detail,
              const std::optional<MacAddress>& mac, UnixSeconds seen) {
    auto entry = list.end();
    if (mac) {
        entry = std::find_if(list.begin(), list.end(),
                             [&](const RememberedDevice& d) { return d.mac == mac; });
        // An entry of this address without a MAC was this device, seen
        // before its MAC was known: it is merged into the MAC's entry.
        const auto byAddress = std::find_if(list.begin(), list.end(), [&](const auto& d) {
            return !d.mac && d.address == address;
        });
        if (entry == list.end()) {
            entry = byAddress;
        } else if (byAddress != list.end()) {
            list.erase(byAddress);
            entry = std::find_if(list.begin(), list.end(),
                                 [&](const RememberedDevice& d) { return d.mac == mac; });
        }
    } else {
        entry = std::find_if(list.begin(), list.end(),
                             [&](const RememberedDevice& d) { return d.address == address; });
    }
    if (entry == list.end()) {
        list.push_back(RememberedDevice{address, name, detail, mac, seen});
    } else {
        entry->address = address;
        entry->name = name;
        entry->detail = detail;
        if (mac) {
            entry->mac = mac;
        }
        entry->lastSeen = std::max(entry->lastSeen, seen);
    }
    while (list.size() > kMaxRemembered) {
        list.erase(std::min_element(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return a.lastSeen < b.lastSeen;
        }));
    }
}

std::wstring FormatUtc(UnixSeconds time) {
    const std::int64_t days = (time >= 0 ? time : time - 86399) / 86400;
    const std::int64_t second = time - days * 86400;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year),
                  month, day, static_cast<unsigned>(second / 3600),
                  static_cast<unsigned>(second / 60 % 60), static_cast<unsigned>(second % 60));
    return text;
}

std::optional<UnixSeconds> ParseUtc(std::wstring_view text) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 20 || !ReadNumber(text, 0, 4, year) || text[4] != L'-' ||
        !ReadNumber(text, 5, 2, month) || text[7] != L'-' || !ReadNumber(text, 8, 2, day) ||
        text[10] != L'T' || !ReadNumber(text, 11, 2, hour) || text[13] != L':' ||
        !ReadNumber(text, 14, 2, minute) || text[16] != L':' || !ReadNumber(text, 17, 2, second) ||
        text[19] != L'Z') {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t days = DaysFromCivil(year, month, day);
    // 31 February and the like come back as another date: refused.
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    if (m != month || d != day) {
        return std::nullopt;
    }
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

UnixSeconds NowUtc() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FormatDevicesFile(const std::vector<RememberedDevice>& list) {
    std::string text = kUtf8Mark;
    for (std::size_t i = 0; i < list.size() && i < kMaxRemembered; ++i) {
        const RememberedDevice& d = list[i];
        text += "[Device" + std::to_string(i + 1) + "]\r\n";
        text += "Address=" + plat::ToUtf8(d.address) + "\r\n";
        text += "Name=" + QuotedValue(d.name) + "\r\n";
        text += "Detail=" + QuotedValue(d.detail) + "\r\n";
        text += "MAC=" + (d.mac ? plat::ToUtf8(FormatMacUpper(*d.mac)) : std::string()) + "\r\n";
        text += "LastSeen=" + plat::ToUtf8(FormatUtc(d.lastSeen)) + "\r\n";
    }
    return text;
}

std::optional<std::vector<RememberedDevice>> ParseDevicesFile(std::string_view text) {
    if (text.substr(0, 3) == kUtf8Mark) {
        text.remove_prefix(3);
    }
    if (plat::ToUtf8(plat::FromUtf8(text)) != text) {
        return std::nullopt;
    }
    std::vector<RememberedDevice> list;
    for (std::size_t i = 1; i <= kMaxRemembered; ++i) {
        const std::string section = "Device" + std::to_string(i);
        const auto value = [&](const char* key) -> std::optional<std::wstring> {
            const auto found = plat::ini::FindValue(text, section, key);
            if (!found) {
                return std::nullopt;
            }
            return plat::FromUtf8(*found);
        };
        const auto address = value("Address");
        const auto name = value("Name");
        const auto detail = value("Detail");
        const auto mac = value("MAC");
        const auto lastSeen = value("LastSeen");
        if (!address && !name && !detail && !mac && !lastSeen) {
            break;
        }
        RememberedDevice device;
        const auto seen = lastSeen ? ParseUtc(*lastSeen) : std::nullopt;
        if (!address || !IsIpv4(*address) || !seen) {
            return std::nullopt;
        }
        device.address = *address;
        device.name = name.value_or(L"");
        device.detail = detail.value_or(L"");
        device.lastSeen = *seen;
        if (mac && !mac->empty()) {
            device.mac = ParseMac(*mac);
            if (!device.mac) {
                return std::nullopt;
            }
        }
        list.push_back(std::move(device));
    }
    return list;
}

std::vector<RememberedDevice> LoadDevices(const std::wstring& file) {
    if (file.empty()) {
        return {};
    }
    const auto text = ReadWholeFile(file);
    if (!text) {
        return {};
    }
    return ParseDevicesFile(*text).value_or(std::vector<RememberedDevice>{});
}

bool SaveDevices(const std::wstring& file, const std::vector<RememberedDevice>& list) {
    if (file.empty()) {
        return false;
    }
    const std::wstring temporary = file + L".tmp";
    const std::string text = FormatDevicesFile(list);
    plat::OutputFile out;
    if (!out.Create(temporary)) {
        return false;
    }
    const bool written = out.Write(text.data(), text.size());
    if (!out.Close() || !written || !plat::MoveFileReplacing(temporary, file)) {
        plat::DeleteFilePath(temporary);
        return false;
    }
    return true;
}

}  // namespace devices
