#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ini_text.h"
#include "platform/posix_fd.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace plat {

namespace {

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// INI files come in UTF-8 (with or without a byte-order mark) or, marked by
// their byte-order mark, in UTF-16; a file is written back as it came.
enum class Encoding { kUtf8, kUtf16Le, kUtf16Be };

std::string DecodeFile(std::string_view bytes, Encoding& encoding) {
    encoding = Encoding::kUtf8;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        encoding = Encoding::kUtf16Le;
    } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
               static_cast<unsigned char>(bytes[1]) == 0xFF) {
        encoding = Encoding::kUtf16Be;
    } else {
        return std::string(bytes);
    }
    const bool big = encoding == Encoding::kUtf16Be;
    std::wstring text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[big ? i + 1 : i]);
        const auto hi = static_cast<unsigned char>(bytes[big ? i : i + 1]);
        text.push_back(static_cast<wchar_t>(lo | (hi << 8)));
    }
    // Join surrogate pairs; a lone surrogate becomes U+FFFD in ToUtf8.
    std::wstring joined;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<char32_t>(text[i]);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            joined.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) +
                                                  (static_cast<char32_t>(text[i + 1]) - 0xDC00)));
            ++i;
        } else {
            joined.push_back(static_cast<wchar_t>(unit));
        }
    }
    return ToUtf8(joined);
}

std::string EncodeFile(const std::string& text, Encoding encoding) {
    if (encoding == Encoding::kUtf8) {
        return text;
    }
    const bool big = encoding == Encoding::kUtf16Be;
    std::string out;
    auto put = [&](char32_t unit) {
        const char lo = static_cast<char>(unit & 0xFF);
        const char hi = static_cast<char>((unit >> 8) & 0xFF);
        out.push_back(big ? hi : lo);
        out.push_back(big ? lo : hi);
    };
    put(0xFEFF);
    for (const wchar_t c : FromUtf8(text)) {
        const auto cp = static_cast<char32_t>(c);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::wstring CutToCapacity(std::wstring value, std::size_t capacity) {
    if (capacity == 0) {
        return {};
    }
    if (value.size() > capacity - 1) {
        value.resize(capacity - 1);
    }
    return value;
}

}  // namespace

std::wstring ReadIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& defaultValue, std::size_t capacity,
                           const std::wstring& file) {
    // An empty key name reads as nothing, not even the default.
    if (key.empty()) {
        return {};
    }
    std::optional<std::string> value;
    if (auto bytes = ReadWholeFile(NativePath(file))) {
        Encoding encoding{};
        value = ini::FindValue(DecodeFile(*bytes, encoding), ToUtf8(section), ToUtf8(key));
    }
    if (!value) {
        // The default loses trailing spaces and enclosing quotes, as a value does.
        std::wstring fallback = defaultValue;
        while (!fallback.empty() && fallback.back() == L' ') {
            fallback.pop_back();
        }
        return CutToCapacity(FromUtf8(ini::StripValueQuotes(ToUtf8(fallback))), capacity);
    }
    return CutToCapacity(FromUtf8(*value), capacity);
}

bool WriteIniString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& file) {
    std::string path = NativePath(file);
    // Write through a link to the file it names, as opening the file would.
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        const auto target = std::filesystem::canonical(path, ec);
        if (ec) {
            return false;
        }
        path = target.string();
    }
    std::string before;
    Encoding encoding = Encoding::kUtf8;
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists) {
        // A file that cannot be read or written is left alone: replacing it
        // would lose its other keys or override its read-only flag (no write
        // bit at all, which stops root too, as the Windows attribute does).
        if (access(path.c_str(), R_OK | W_OK) != 0 ||
            (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return false;
        }
        auto bytes = ReadWholeFile(path);
        if (!bytes) {
            return false;
        }
        before = DecodeFile(*bytes, encoding);
    }
    const std::string text = ini::SetValue(before, ToUtf8(section), ToUtf8(key), ToUtf8(value));
    if (exists && text == before) {
        return true;
    }
    const std::string after = EncodeFile(text, encoding);

    // Write beside the file and rename over it, so that a failed write never
    // leaves a half-written state file behind. Both go through the folder's
    // descriptor: a temporary name longer than the file's own could
    // otherwise push a path that fits over the path limit.
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return false;
    }
    const std::string temp = ".sl" + std::to_string(getpid()) + ".tmp";
    bool written = false;
    {
        const UniqueFd out(openat(dir.Get(), temp.c_str(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!out) {
            return false;
        }
        written = WriteAll(out.Get(), after.data(), after.size()) &&
                  (!exists || fchmod(out.Get(), info.st_mode & 07777) == 0);
    }
    if (!written || renameat(dir.Get(), temp.c_str(), dir.Get(), name.c_str()) != 0) {
        unlinkat(dir.Get(), temp.c_str(), 0);
        return false;
    }
    return true;
}

}  // namespace plat
