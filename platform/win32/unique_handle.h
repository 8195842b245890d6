// Owners of system handles: one move-only template, UniqueAny, and an alias for each kind of
// handle the program holds (kernel objects, files, registry keys, windows, fonts, modules), closed
// with their owner. Device contexts, which go back to the window they came from, have UniqueDc.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace quillet::win32 {

// Owns a handle of type T, given back with Close(handle), unless it is Invalid, the value that
// stands for none: T{} by default, or an integer for the handles whose none is no constant of
// their type (INVALID_HANDLE_VALUE is -1).
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
    if constexpr (std::is_integral_v<decltype(Invalid)>)
      return reinterpret_cast<T>(static_cast<std::intptr_t>(Invalid));
    else
      return Invalid;
  }

  T value_ = None();
};

// A kernel object: a process, a thread, an event, a pipe's end, a token.
using UniqueHandle = UniqueAny<HANDLE, &CloseHandle>;
// A file opened with CreateFile, which fails with INVALID_HANDLE_VALUE rather than null.
using UniqueFile = UniqueAny<HANDLE, &CloseHandle, -1>;
using UniqueKey = UniqueAny<HKEY, &RegCloseKey>;
using UniqueWindow = UniqueAny<HWND, &DestroyWindow>;
using UniqueFont = UniqueAny<HFONT, &DeleteObject>;
using UniqueModule = UniqueAny<HMODULE, &FreeLibrary>;

// The device context of a window, or of the screen for none, released to that window.
class UniqueDc {
 public:
  explicit UniqueDc(HWND window) {
    if (const HDC dc = GetDC(window)) held_.reset({window, dc});
  }

  HDC get() const { return held_.get().dc; }
  explicit operator bool() const { return static_cast<bool>(held_); }

 private:
  struct WindowDc {
    HWND window;
    HDC dc;
    bool operator==(const WindowDc&) const = default;
  };
  static void Release(WindowDc held) { ReleaseDC(held.window, held.dc); }

  UniqueAny<WindowDc, &Release> held_;
};

}  // namespace quillet::win32
