// One owner for every handle the programs hold: a UniqueHandle closes its
// handle exactly once, in the scope that acquired it. H is the handle's
// type, Close what releases it, and Invalid its "none" value as a number (a
// pointer handle compares by its bits: INVALID_HANDLE_VALUE is -1). Each
// kind of handle is a one-line alias.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace plat {

template <typename H, auto Close, std::intptr_t Invalid = 0>
class UniqueHandle {
  public:
    static H None() {
        if constexpr (std::is_pointer_v<H>) {
            return reinterpret_cast<H>(Invalid);
        } else {
            return static_cast<H>(Invalid);
        }
    }

    UniqueHandle() = default;
    explicit UniqueHandle(H handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    H Get() const { return handle_; }
    explicit operator bool() const { return handle_ != None(); }
    H Release() { return std::exchange(handle_, None()); }
    void Reset(H handle = None()) {
        if (handle_ != None()) {
            Close(handle_);
        }
        handle_ = handle;
    }
    // For calls that hand a new handle out through a pointer.
    H* Put() {
        Reset();
        return &handle_;
    }

  private:
    H handle_ = None();
};

}  // namespace plat
