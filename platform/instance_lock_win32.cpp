// A named mutex per folder in the machine's namespace (Global\), so that one
// copy runs per folder across the sessions of fast user switching and remote
// desktop. Its name carries a hash of the folder (a mutex name cannot hold
// "\" and has a length limit), taken over the upper-cased path since Windows
// paths ignore case. Making a Global\ object needs SeCreateGlobalPrivilege,
// which the programs that lock (elevated, as their manifests ask) hold.
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <cstdint>
#include <utility>

#include "platform/instance_lock.h"
#include "platform/win32/handle.h"

namespace plat {

namespace {

class MutexLock final : public InstanceLock {
  public:
    explicit MutexLock(win::CHandle mutex) : mutex_(std::move(mutex)) {}
    ~MutexLock() override { ReleaseMutex(mutex_.Get()); }

  private:
    win::CHandle mutex_;
};

std::wstring FolderKey(const std::wstring& folder) {
    std::wstring upper = folder;
    if (!upper.empty()) {
        CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    }
    std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a, 64 bits
    for (const wchar_t c : upper) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ull;
    }
    wchar_t text[17] = {};
    for (int i = 15; i >= 0; --i) {
        text[i] = L"0123456789ABCDEF"[hash & 0xF];
        hash >>= 4;
    }
    return text;
}

// Full access for SYSTEM and the Administrators, nobody else: an elevated
// copy in any session opens it, and no other user can hold it to keep the
// programs from running.
class AdminsOnly {
  public:
    AdminsOnly() {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor_, nullptr);
        attributes_.lpSecurityDescriptor = descriptor_;
    }
    ~AdminsOnly() { LocalFree(descriptor_); }
    AdminsOnly(const AdminsOnly&) = delete;
    AdminsOnly& operator=(const AdminsOnly&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{sizeof attributes_, nullptr, FALSE};
};

}  // namespace

std::unique_ptr<InstanceLock> TryLockInstance(std::wstring_view name, const std::wstring& folder) {
    const std::wstring mutexName = L"Global\\" + std::wstring(name) + L"." + FolderKey(folder);
    AdminsOnly access;
    // Fails with ERROR_ACCESS_DENIED where it exists but may not be opened:
    // held as far as this copy can tell.
    win::CHandle mutex(CreateMutexW(access.Attributes(), FALSE, mutexName.c_str()));
    if (!mutex) {
        return nullptr;
    }
    const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        return nullptr;
    }
    return std::make_unique<MutexLock>(std::move(mutex));
}

}  // namespace plat
