#include <cstdio>
#include <memory>

#include "finder/discovery/search_log.h"
#include "platform/text.h"

bool AppendLogEntry(const std::wstring& path, std::wstring_view entry) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(plat::NativePath(path).c_str(), "a"), &std::fclose);
    if (!file) {
        return false;
    }
    // UTF-8, so answers in any script stay readable.
    std::string bytes = plat::ToUtf8(entry);
    bytes.push_back('\n');
    return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}
