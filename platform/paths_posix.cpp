#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/text.h"

namespace plat {

std::wstring ModuleFilePath() {
    // A link that fills the whole buffer may have been cut: a cut path would
    // name another folder, so it counts as unknown.
    char buffer[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return {};
    }
    return FromUtf8(std::string_view(buffer, static_cast<std::size_t>(length)));
}

std::wstring RemoveFileSpec(const std::wstring& path) {
    const std::size_t slash = path.rfind(kPathSeparator);
    if (slash == std::wstring::npos) {
        return {};
    }
    if (slash == 0) {
        return path.substr(0, 1);
    }
    return path.substr(0, slash);
}

bool PathExists(const std::wstring& path) {
    struct stat info {};
    return !path.empty() && stat(NativePath(path).c_str(), &info) == 0;
}

bool DeleteFilePath(const std::wstring& path) { return unlink(NativePath(path).c_str()) == 0; }

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
    return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

}  // namespace plat
