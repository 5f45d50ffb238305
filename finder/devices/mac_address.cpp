#include "finder/devices/mac_address.h"

#include <cwchar>

namespace devices {

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Format(const MacAddress& mac, const wchar_t* pattern, wchar_t separator) {
    std::wstring out;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        wchar_t pair[4];
        std::swprintf(pair, 4, pattern, static_cast<unsigned>(mac[i]));
        out += (i == 0 ? L"" : std::wstring(1, separator)) + pair;
    }
    return out;
}

}  // namespace

std::optional<MacAddress> ParseMac(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    // 12 digits alone, or 17 characters with one separator after each pair.
    wchar_t separator = 0;
    if (text.size() == 17) {
        separator = text[2];
        if (separator != L'-' && separator != L':') {
            return std::nullopt;
        }
    } else if (text.size() != 12) {
        return std::nullopt;
    }
    const std::size_t stride = separator == 0 ? 2 : 3;
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * stride;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0 ||
            (separator != 0 && i + 1 < mac.size() && text[at + 2] != separator)) {
            return std::nullopt;
        }
        mac[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

std::wstring FormatMacUpper(const MacAddress& mac) { return Format(mac, L"%02X", L'-'); }

std::wstring FormatMacLower(const MacAddress& mac) { return Format(mac, L"%02x", L':'); }

MagicPacket BuildMagicPacket(const MacAddress& mac) {
    MagicPacket packet{};
    for (std::size_t i = 0; i < 6; ++i) {
        packet[i] = 0xFF;
    }
    for (std::size_t copy = 0; copy < 16; ++copy) {
        for (std::size_t i = 0; i < mac.size(); ++i) {
            packet[6 + copy * 6 + i] = mac[i];
        }
    }
    return packet;
}

}  // namespace devices
