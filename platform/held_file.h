// A file opened for reading and held so that nobody can change it while it
// is open: on Windows shared for reading only (no writer, no rename, no
// delete until it is closed) and refused when the name is a link; elsewhere a
// plain read-only descriptor, since POSIX has no mandatory share modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_handle.h"

namespace plat {

// Closes a file descriptor, or a Windows HANDLE, as HeldFile keeps it.
bool CloseHeldFile(std::intptr_t handle);

class HeldFile {
  public:
    HeldFile() = default;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // False when the file is missing, is no plain file, or cannot be held.
    bool Open(const std::wstring& path);
    // Up to size bytes from the current position; 0 at the end, nullopt on
    // an error.
    std::optional<std::size_t> Read(char* data, std::size_t size);
    // The whole rest of the file when it has at most limit bytes.
    std::optional<std::string> ReadAll(std::size_t limit);
    void Close() { file_.Reset(); }
    bool IsOpen() const { return static_cast<bool>(file_); }

  private:
    // A file descriptor, or a Windows HANDLE; -1 is invalid for both.
    UniqueHandle<std::intptr_t, CloseHeldFile, -1> file_;
};

}  // namespace plat
