#include "version.h"

#include <cwctype>
#include <limits>

namespace {

// wcstol(token, nullptr, 10) without its dependence on errno and the locale.
std::int32_t ToNumber(std::wstring_view token) {
    std::size_t pos = 0;
    while (pos < token.size() && std::iswspace(static_cast<wint_t>(token[pos]))) {
        ++pos;
    }
    bool negative = false;
    if (pos < token.size() && (token[pos] == L'+' || token[pos] == L'-')) {
        negative = token[pos] == L'-';
        ++pos;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    bool anyDigit = false;
    for (; pos < token.size() && token[pos] >= L'0' && token[pos] <= L'9'; ++pos) {
        anyDigit = true;
        if (value <= kMax + 1) {  // stop growing once past the range
            value = value * 10 + (token[pos] - L'0');
        }
    }
    if (!anyDigit) {
        return 0;
    }
    if (negative) {
        return static_cast<std::int32_t>(-value < kMin ? kMin : -value);
    }
    return static_cast<std::int32_t>(value > kMax ? kMax : value);
}

}  // namespace

VersionNumbers ParseVersion(std::wstring_view text) {
    VersionNumbers numbers{};
    std::size_t pos = 0;
    for (auto& number : numbers) {
        while (pos < text.size() && text[pos] == L'.') {
            ++pos;
        }
        const std::size_t end = std::min(text.find(L'.', pos), text.size());
        number = ToNumber(text.substr(pos, end - pos));
        pos = end < text.size() ? end + 1 : end;
    }
    return numbers;
}

bool IsNewerVersion(const VersionNumbers& candidate, const VersionNumbers& reference) {
    for (std::size_t i = 0; i < candidate.size(); ++i) {
        if (candidate[i] != reference[i]) {
            return candidate[i] > reference[i];
        }
    }
    return false;
}
