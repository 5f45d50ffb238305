#include <fcntl.h>
#include <sys/file.h>

#include "platform/output_file.h"
#include "platform/posix_fd.h"
#include "platform/text.h"

namespace plat {

bool CloseOutputFile(std::intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

bool OutputFile::Create(const std::wstring& path) {
    Close();
    UniqueFd fd(::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    // Emptied only once it is ours.
    if (!fd || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd.Get(), 0) != 0) {
        return false;
    }
    file_.Reset(fd.Release());
    return true;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    return IsOpen() && WriteAll(static_cast<int>(file_.Get()), data, size);
}

bool OutputFile::Close() { return !IsOpen() || CloseOutputFile(file_.Release()); }

}  // namespace plat
