// A lock file "<name>.lock" in the folder, held with flock: the kernel drops
// the lock when the process ends, so a killed copy never blocks the next.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace plat {

namespace {

class FileLock final : public InstanceLock {
  public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<InstanceLock> TryLockInstance(std::wstring_view name, const std::wstring& folder) {
    const std::wstring path = JoinPath(folder, std::wstring(name) + L".lock");
    const int fd = ::open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileLock>(fd);
}

}  // namespace plat
