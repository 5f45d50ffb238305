#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <vector>

#include "platform/version_info.h"

namespace plat {

std::optional<std::wstring> QueryProductVersion(const std::wstring& modulePath) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(modulePath.c_str(), &handle);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    GetFileVersionInfoW(modulePath.c_str(), 0, size, block.data());
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\041103a4\\ProductVersion", &value,
                        &length) ||
        value == nullptr) {
        return std::nullopt;
    }
    // A damaged resource need not terminate its text: stay inside the block.
    const auto* text = static_cast<const wchar_t*>(value);
    const auto* blockEnd = reinterpret_cast<const wchar_t*>(block.data() + block.size());
    if (text < reinterpret_cast<const wchar_t*>(block.data()) || text >= blockEnd) {
        return std::nullopt;
    }
    std::size_t count = std::min<std::size_t>(length, static_cast<std::size_t>(blockEnd - text));
    std::wstring result(text, count);
    result.resize(wcsnlen(result.c_str(), result.size()));
    return result;
}

}  // namespace plat
