#include <windows.h>

#include "platform/text.h"

namespace plat {

namespace {

constexpr UINT kCp932 = 932;

std::wstring FromCodePage(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int count =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
    if (count > 0) {
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                            count);
    }
    return out;
}

}  // namespace

std::wstring FromAnsi(std::string_view bytes) { return FromCodePage(CP_ACP, bytes); }

std::wstring FromWindowsCp932(std::string_view bytes) {
    // Every Windows has the code page; should one lack it, the system's own
    // code page is what the finder always used.
    return IsValidCodePage(kCp932) ? FromCodePage(kCp932, bytes) : FromAnsi(bytes);
}

std::wstring FromCp932(std::string_view bytes) {
    // One character at a time, so that each byte that does not decode gives
    // exactly one U+FFFD (the system would put its own default character).
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        const int length = IsDBCSLeadByteEx(kCp932, lead) && i + 1 < bytes.size() ? 2 : 1;
        wchar_t wide[2] = {};
        const int count =
            MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes.data() + i, length, wide, 2);
        if (count == 1) {
            out.push_back(wide[0]);
            i += static_cast<std::size_t>(length);
        } else {
            out.push_back(L'\uFFFD');
            ++i;
        }
    }
    return out;
}

}  // namespace plat
