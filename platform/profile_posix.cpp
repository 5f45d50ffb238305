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

// An open file descriptor, closed when the object goes away.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
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
    if (auto text = ReadWholeFile(NativePath(file))) {
        value = ini::FindValue(*text, ToUtf8(section), ToUtf8(key));
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
        auto text = ReadWholeFile(path);
        if (!text) {
            return false;
        }
        before = std::move(*text);
    }
    const std::string after = ini::SetValue(before, ToUtf8(section), ToUtf8(key), ToUtf8(value));
    if (exists && after == before) {
        return true;
    }

    // Write beside the file and rename over it, so that a failed write never
    // leaves a half-written state file behind. Both go through the folder's
    // descriptor: a temporary name longer than the file's own could
    // otherwise push a path that fits over the path limit.
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        return false;
    }
    const std::string temp = ".sl" + std::to_string(getpid()) + ".tmp";
    bool written = false;
    {
        const Descriptor out(openat(dir.Get(), temp.c_str(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!out.Valid()) {
            return false;
        }
        written =
            WriteAll(out.Get(), after) && (!exists || fchmod(out.Get(), info.st_mode & 07777) == 0);
    }
    if (!written || renameat(dir.Get(), temp.c_str(), dir.Get(), name.c_str()) != 0) {
        unlinkat(dir.Get(), temp.c_str(), 0);
        return false;
    }
    return true;
}

}  // namespace plat
