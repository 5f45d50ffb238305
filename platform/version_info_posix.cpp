#include <fstream>
#include <iterator>

#include "platform/text.h"
#include "platform/version_info.h"
#include "platform/version_record.h"

namespace plat {

std::optional<std::wstring> QueryProductVersion(const std::wstring& modulePath) {
    std::ifstream in(NativePath(modulePath), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = std::string(kVersionRecordTag) + kVersionRecordKey;

    // The reader's own copy of the marker ends in a NUL right away; a record
    // carries a value before its NUL. The first record with a value counts.
    std::optional<std::wstring> found;
    for (std::size_t at = file.find(marker); at != std::string::npos;
         at = file.find(marker, at + 1)) {
        const std::size_t begin = at + marker.size();
        const std::size_t end = file.find('\0', begin);
        const std::string value = file.substr(begin, end == std::string::npos ? end : end - begin);
        if (!value.empty()) {
            return FromUtf8(value);
        }
        found = std::wstring();
    }
    return found;
}

}  // namespace plat
