// A local file being written: created or emptied, and held so that no other
// writer has it at the same time (on Windows not shared, elsewhere under an
// exclusive lock): a second Updater writing the same file fails at Create
// instead of truncating the first one's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_handle.h"

namespace plat {

// Closes a file descriptor, or a Windows HANDLE, as OutputFile keeps it.
bool CloseOutputFile(std::intptr_t handle);

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::wstring& path);
    bool Write(const char* data, std::size_t size);
    // False when the last writes could not be completed.
    bool Close();
    bool IsOpen() const { return static_cast<bool>(file_); }

  private:
    // A file descriptor, or a Windows HANDLE; -1 is invalid for both.
    UniqueHandle<std::intptr_t, CloseOutputFile, -1> file_;
};

}  // namespace plat
