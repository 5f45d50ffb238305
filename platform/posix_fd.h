// The POSIX file descriptor owner, and writing a whole buffer to one.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/unique_handle.h"

namespace plat {

using UniqueFd = UniqueHandle<int, ::close, -1>;

// Writes all of it, across partial writes and signals.
inline bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace plat
