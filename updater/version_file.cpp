#include "updater/version_file.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/text.h"

namespace updater {

namespace {

// Next LF-separated token from pos: LFs at the start are skipped, so a token
// is never empty; "" when nothing is left.
std::wstring_view NextToken(std::wstring_view text, std::size_t& pos) {
    while (pos < text.size() && text[pos] == L'\n') {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != L'\n') {
        ++pos;
    }
    return text.substr(start, pos - start);
}

// The value after the first "=" when the line holds "=" and the key.
std::wstring ValueOf(std::wstring_view line, std::wstring_view key) {
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos || line.find(key) == std::wstring_view::npos) {
        return {};
    }
    std::wstring_view value = line.substr(equals + 1);
    // A CR of a CR LF line end would end up in the request and in the local
    // file name, which Windows cannot create: it is not part of the value.
    if (!value.empty() && value.back() == L'\r') {
        value.remove_suffix(1);
    }
    return std::wstring(value);
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return Upper(x) == Upper(y); });
}

bool IsDeviceName(std::wstring_view name) {
    // Windows maps these names to devices whatever the extension, and with
    // blanks after them.
    std::wstring_view stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') {
        stem.remove_suffix(1);
    }
    static constexpr std::array<std::wstring_view, 6> kPlain = {L"CON", L"PRN",    L"AUX",
                                                                L"NUL", L"CONIN$", L"CONOUT$"};
    for (const auto device : kPlain) {
        if (EqualsIgnoringCase(stem, device)) {
            return true;
        }
    }
    if (stem.size() == 4 && (EqualsIgnoringCase(stem.substr(0, 3), L"COM") ||
                             EqualsIgnoringCase(stem.substr(0, 3), L"LPT"))) {
        // COM0 to COM9 and LPT0 to LPT9, and the superscripts 1, 2 and 3.
        const wchar_t digit = stem[3];
        return (digit >= L'0' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' ||
               digit == L'\x00B3';
    }
    return false;
}

bool IsBlankOrControl(wchar_t c) { return c <= L' '; }

}  // namespace

std::optional<VersionFile> ParseVersionFile(std::wstring_view text) {
    std::size_t pos = 0;
    VersionFile file;
    file.latestVersion = ValueOf(NextToken(text, pos), L"LatestVersion");
    if (file.latestVersion.empty()) {
        return std::nullopt;
    }
    file.installerURL = ValueOf(NextToken(text, pos), L"URL");
    if (file.installerURL.empty()) {
        return std::nullopt;
    }
    return file;
}

std::wstring VersionTextFromBytes(std::string_view bytes) {
    constexpr std::size_t kPiece = 16384;
    std::wstring text;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::string_view piece = bytes.substr(at, kPiece);
        text.append(plat::FromAnsi(piece.substr(0, piece.find('\0'))));
    }
    return text;
}

namespace {

// Offset of the first line that begins with prefix, at or after from.
std::size_t FindLineStart(std::string_view bytes, std::string_view prefix, std::size_t from = 0) {
    for (std::size_t at = bytes.find(prefix, from); at != std::string_view::npos;
         at = bytes.find(prefix, at + 1)) {
        if (at == 0 || bytes[at - 1] == '\n') {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<SignedParts> SplitSignedVersionFile(std::string_view bytes) {
    constexpr std::string_view kSignature = "Signature=";
    const std::size_t line = FindLineStart(bytes, kSignature);
    if (line == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = bytes.substr(line + kSignature.size());
    if (!value.empty() && value.back() == '\n') {
        value.remove_suffix(1);
    }
    if (value.find('\n') != std::string_view::npos) {
        return std::nullopt;  // not the last line
    }
    return SignedParts{bytes.substr(0, line), value};
}

std::optional<std::string_view> FindSha256Value(std::string_view signedBytes) {
    constexpr std::string_view kSha256 = "SHA256=";
    const std::size_t line = FindLineStart(signedBytes, kSha256);
    if (line == std::string_view::npos ||
        FindLineStart(signedBytes, kSha256, line + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = signedBytes.substr(line + kSha256.size());
    return rest.substr(0, rest.find('\n'));
}

std::optional<VerifiedVersionFile> VerifySignedVersionFile(
    std::string_view bytes, const std::vector<std::uint8_t>& publicKey) {
    const auto parts = SplitSignedVersionFile(bytes);
    if (!parts || publicKey.empty()) {
        return std::nullopt;
    }
    const auto signature = plat::DecodeBase64(parts->signature);
    if (!signature || !plat::VerifyEcdsaP256Sha256(publicKey, parts->signedBytes, *signature)) {
        return std::nullopt;
    }
    const auto hex = FindSha256Value(parts->signedBytes);
    const auto digest = hex ? plat::ParseSha256Hex(*hex) : std::nullopt;
    if (!digest) {
        return std::nullopt;
    }
    auto file = ParseVersionFile(VersionTextFromBytes(parts->signedBytes));
    if (!file) {
        return std::nullopt;
    }
    return VerifiedVersionFile{std::move(*file), *digest, parts->signedBytes};
}

UrlParts SplitHttpUrl(std::wstring_view url) {
    const std::wstring_view rest = url.substr(std::min<std::size_t>(7, url.size()));
    const std::size_t slash = rest.find(L'/');
    if (slash == std::wstring_view::npos) {
        return UrlParts{std::wstring(), std::wstring(rest)};
    }
    return UrlParts{std::wstring(rest.substr(0, slash)), std::wstring(rest.substr(slash))};
}

std::wstring InstallerFileName(std::wstring_view url) {
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < url.size(); ++i) {
        if ((IsSeparator(url[i]) || url[i] == L':') && !IsSeparator(url[i + 1])) {
            start = i + 1;
        }
    }
    return std::wstring(url.substr(start));
}

bool IsSafeInstallerName(std::wstring_view name) {
    if (name.empty() || name == L"." || name == L"..") {
        return false;
    }
    for (const wchar_t c : name) {
        if (c < 0x20 || c == 0x7F ||
            std::wstring_view(L"/\\:*?\"<>|").find(c) != std::wstring_view::npos) {
            return false;
        }
    }
    if (name.back() == L'.' || name.back() == L' ') {
        return false;
    }
    return !IsDeviceName(name);
}

bool HasArgumentsAfterProgramName(std::wstring_view commandLine) {
    std::size_t pos = 0;
    bool quoted = false;
    for (; pos < commandLine.size(); ++pos) {
        const wchar_t c = commandLine[pos];
        if (c == L'"') {
            quoted = !quoted;
        } else if (!quoted && IsBlankOrControl(c)) {
            break;
        }
    }
    while (pos < commandLine.size() && IsBlankOrControl(commandLine[pos])) {
        ++pos;
    }
    return pos < commandLine.size();
}

std::optional<std::uint64_t> ParseContentLength(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace updater
