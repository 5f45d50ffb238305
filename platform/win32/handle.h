// Owners for the Win32 handles the programs hold: each closes its handle
// exactly once, in the scope that acquired it.
#pragma once

#include <windows.h>

#include <utility>

namespace win {

template <class H, class Traits>
class CUniqueHandle {
  public:
    CUniqueHandle() = default;
    explicit CUniqueHandle(H handle) : m_handle(handle) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    H Get() const { return m_handle; }
    explicit operator bool() const { return Traits::IsValid(m_handle); }
    H Release() { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(H handle = Traits::Invalid()) {
        if (Traits::IsValid(m_handle)) {
            Traits::Close(m_handle);
        }
        m_handle = handle;
    }

  private:
    H m_handle = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct MenuHandleTraits {
    static HMENU Invalid() { return nullptr; }
    static bool IsValid(HMENU h) { return h != nullptr; }
    static void Close(HMENU h) { DestroyMenu(h); }
};

struct IconHandleTraits {
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { DestroyIcon(h); }
};

using CHandle = CUniqueHandle<HANDLE, KernelHandleTraits>;
using CMenuHandle = CUniqueHandle<HMENU, MenuHandleTraits>;
using CIconHandle = CUniqueHandle<HICON, IconHandleTraits>;

}  // namespace win
