#include <windows.h>

#include <cstdio>
#include <memory>

#include "finder/discovery/search_log.h"

namespace {

// Code page 932 whatever the system's code page, so that the answers' bytes
// come back as the devices sent them (they were read as 932) and the file is
// the same on every Windows as on a Japanese one (the system's own code
// page should a Windows lack 932).
std::string ToCp932(std::wstring_view text) {
    constexpr UINT kCp932 = 932;
    if (text.empty()) {
        return {};
    }
    const UINT codePage = IsValidCodePage(kCp932) ? kCp932 : CP_ACP;
    const int size = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
    if (count > 0) {
        WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), count, nullptr, nullptr);
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
    const std::string text = ToCp932(entry);
    std::string bytes;
    bytes.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            bytes.push_back('\r');
        }
        bytes.push_back(text[i]);
    }
    bytes += "\r\n";
    return fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}
