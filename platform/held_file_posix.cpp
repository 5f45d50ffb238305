#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/held_file.h"
#include "platform/posix_fd.h"
#include "platform/text.h"

namespace plat {

bool CloseHeldFile(std::intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

bool HeldFile::Open(const std::wstring& path) {
    Close();
    UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    file_.Reset(fd.Release());
    return true;
}

std::optional<std::size_t> HeldFile::Read(char* data, std::size_t size) {
    if (!IsOpen()) {
        return std::nullopt;
    }
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(file_.Get()), data, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

}  // namespace plat
