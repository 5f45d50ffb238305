#include <windows.h>

#include "platform/output_file.h"

namespace plat {

namespace {
HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

bool CloseOutputFile(std::intptr_t handle) { return CloseHandle(AsHandle(handle)) != FALSE; }

bool OutputFile::Create(const std::wstring& path) {
    Close();
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    file_.Reset(reinterpret_cast<std::intptr_t>(file));
    return true;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    if (!IsOpen()) {
        return false;
    }
    while (size > 0) {
        const DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(file_.Get()), data, part, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::Close() { return !IsOpen() || CloseOutputFile(file_.Release()); }

}  // namespace plat
