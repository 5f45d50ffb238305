// One running copy of a program per folder: the first copy holds the lock
// while it runs; a second one started meanwhile does not get it. A named
// mutex on Windows, a lock file in the folder elsewhere; both go away with
// the process, however it ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace plat {

class InstanceLock {
  public:
    virtual ~InstanceLock() = default;
};

// The lock of name for folder, or nullptr when another process holds it (or
// it cannot be made). Released when the object is destroyed.
std::unique_ptr<InstanceLock> TryLockInstance(std::wstring_view name, const std::wstring& folder);

}  // namespace plat
