// The one owner of the system's handles: a move-only template, given the function that closes a
// handle and the value that stands for none. Each platform names its kinds of handle with it
// (platform/win32/unique_handle.h, platform/linux/unique_fd.h).
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace quillet {

// Owns a handle of type T, given back with Close(handle), unless it is Invalid, the value that
// stands for none: T{} by default, or an integer, for a descriptor (-1) or for a pointer handle
// whose none is no constant of its type (INVALID_HANDLE_VALUE is -1).
template <typename T, auto Close, auto Invalid = T{}>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != None(); }
  // Gives the handle up without closing it.
  T release() { return std::exchange(value_, None()); }
  // Closes the handle held, if any, and holds `value` instead.
  void reset(T value = None()) {
    const T old = std::exchange(value_, value);
    if (old != None()) Close(old);
  }
  // For the functions that return a handle through a pointer: closes the one held first.
  T* put() {
    reset();
    return &value_;
  }

 private:
  static T None() {
    if constexpr (std::is_pointer_v<T> && std::is_integral_v<decltype(Invalid)>)
      return reinterpret_cast<T>(static_cast<std::intptr_t>(Invalid));
    else
      return T(Invalid);
  }

  T value_ = None();
};

}  // namespace quillet
