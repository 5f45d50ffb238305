#include <windows.h>

// After windows.h, which it builds on.
#include <shlwapi.h>

#include "platform/paths.h"

namespace plat {

std::wstring ModuleFilePath() {
    // Grow the buffer until the path fits: a cut path would name another folder.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring RemoveFileSpec(const std::wstring& path) {
    std::wstring copy = path;
    copy.push_back(L'\0');
    PathRemoveFileSpecW(copy.data());
    copy.resize(wcslen(copy.c_str()));
    return copy;
}

bool PathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace plat
