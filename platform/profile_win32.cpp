#include <windows.h>

#include <vector>

#include "platform/profile.h"

namespace plat {

std::wstring ReadIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& defaultValue, std::size_t capacity,
                           const std::wstring& file) {
    if (capacity == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(capacity, L'\0');
    const DWORD length =
        GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                 static_cast<DWORD>(capacity), file.c_str());
    return std::wstring(buffer.data(), length);
}

bool WriteIniString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& file) {
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
           FALSE;
}

}  // namespace plat
