#include <windows.h>

#include "platform/held_file.h"

namespace plat {

namespace {
HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

bool CloseHeldFile(std::intptr_t handle) { return CloseHandle(AsHandle(handle)) != FALSE; }

bool HeldFile::Open(const std::wstring& path) {
    Close();
    // Sharing for reading only: while this handle is open no one can open
    // the file for writing or for deletion, so it can be neither changed,
    // renamed nor replaced. The link itself is opened, not what it points
    // to: a link's name could be pointed elsewhere while its target is held.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    file_.Reset(reinterpret_cast<std::intptr_t>(file));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        Close();
        return false;
    }
    return true;
}

std::optional<std::size_t> HeldFile::Read(char* data, std::size_t size) {
    if (!IsOpen()) {
        return std::nullopt;
    }
    const DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(AsHandle(file_.Get()), data, part, &got, nullptr)) {
        return std::nullopt;
    }
    return got;
}

}  // namespace plat
