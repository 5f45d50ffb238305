#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"
#include "platform/text.h"

namespace plat {

bool OutputFile::Create(const std::wstring& path) {
    Close();
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    // Emptied only once it is ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    if (!IsOpen()) {
        return false;
    }
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle_), data, size);
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

bool OutputFile::Close() {
    if (!IsOpen()) {
        return true;
    }
    const bool ok = ::close(static_cast<int>(handle_)) == 0;
    handle_ = kClosed;
    return ok;
}

}  // namespace plat
