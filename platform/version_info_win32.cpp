#include <windows.h>

#include <vector>

#include "platform/version_info.h"

namespace plat {

std::optional<std::wstring> QueryProductVersion(const std::wstring& modulePath) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(modulePath.c_str(), &handle);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> block(size);
    GetFileVersionInfoW(modulePath.c_str(), 0, size, block.data());
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\041103a4\\ProductVersion", &value,
                        &length) ||
        value == nullptr) {
        return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

}  // namespace plat
