#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

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
    std::optional<std::string> value;
    if (auto text = ReadWholeFile(NativePath(file))) {
        value = ini::FindValue(*text, ToUtf8(section), ToUtf8(key));
    }
    if (!value) {
        std::wstring fallback = defaultValue;  // Windows drops trailing blanks of the default
        while (!fallback.empty() && fallback.back() == L' ') {
            fallback.pop_back();
        }
        return CutToCapacity(fallback, capacity);
    }
    return CutToCapacity(FromUtf8(*value), capacity);
}

bool WriteIniString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& file) {
    const std::string path = NativePath(file);
    const std::string before = ReadWholeFile(path).value_or(std::string());
    const std::string after = ini::SetValue(before, ToUtf8(section), ToUtf8(key), ToUtf8(value));

    // Write beside the file and rename over it, so that a failed write never
    // leaves a half-written state file behind.
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out << after;
        out.flush();
        if (!out) {
            out.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        chmod(temp.c_str(), info.st_mode & 07777);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace plat
