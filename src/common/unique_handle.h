// One RAII owner for every kind of OS handle: each kind is a traits type that names
// the handle type, its empty value and the call that closes it.
#pragma once

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept : handle_(Traits::Empty()) {}
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
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

  Handle Get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }

  Handle Release() noexcept { return std::exchange(handle_, Traits::Empty()); }

  void Reset(Handle handle = Traits::Empty()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Empty()) {
      Traits::Close(old);
    }
  }

  // For APIs that return the handle through an out-parameter.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }

 private:
  Handle handle_;
};
