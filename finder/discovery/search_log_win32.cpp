#include <windows.h>

#include <cstdio>
#include <memory>

#include "finder/discovery/search_log.h"

namespace {

// The ANSI code page: the answers' own bytes come back as they were received.
std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
    if (count > 0) {
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), count, nullptr, nullptr);
    }
    return out;
}

}  // namespace

bool AppendLogEntry(const std::wstring& path, std::wstring_view entry) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"ab"), &fclose);
    if (!file) {
        return false;
    }
    // Line ends are CR LF; an answer's own CR LF is kept, not doubled.
    const std::string ansi = ToAnsi(entry);
    std::string bytes;
    bytes.reserve(ansi.size() + 2);
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        if (ansi[i] == '\n' && (i == 0 || ansi[i - 1] != '\r')) {
            bytes.push_back('\r');
        }
        bytes.push_back(ansi[i]);
    }
    bytes += "\r\n";
    return fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}
