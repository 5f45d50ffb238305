#include "platform/paths.h"

namespace plat {

std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

}  // namespace plat
